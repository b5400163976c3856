// The texts of the information dialogs without a window: message pages
// from a reader's document strings, the General page from real files and
// record databases (dates of each format, damaged record 0, sizes), and the
// system information checked against the kernel's own figures.
#include "app/core/doc_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "app/core/strings.h"
#include "engine/formats/doc_handler.h"
#include "engine/formats/native_handler.h"
#include "engine/runtime/module_table.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

using record_db_fixtures::BuildDb;
using record_db_fixtures::MemDb;
using record_db_fixtures::PutBE;

// A reader that serves document strings (a missing number fails, as a
// reader without the string does) and names a charset.
struct FakeReader {
  std::map<std::uint32_t, std::string> strings;
  std::uint16_t charset = 0;
  DocHandlerOps ops{};
  EngineObject object{};

  FakeReader() {
    ops.control = Control;
    object = {this, &ops};
  }
  static StatusCode Control(EngineObject* h, std::uint16_t code, std::uint32_t value,
                            void* record) noexcept {
    auto* self = static_cast<FakeReader*>(h->state);
    if (code == DocControl::DocumentCharset) {
      if (self->charset == 0) return kNotSupported;
      *static_cast<std::uint16_t*>(record) = self->charset;
      return kOk;
    }
    if (code != DocControl::GetString) return kNotSupported;
    const auto it = self->strings.find(value);
    if (it == self->strings.end()) return kNotSupported;
    auto* q = static_cast<NativeStringQuery*>(record);
    q->length = static_cast<std::uint16_t>(std::min<std::size_t>(it->second.size(), q->capacity));
    std::memcpy(q->buffer, it->second.data(), q->length);
    return kOk;
  }
};

TEST(DocInfoTest, MessagePagesJoinTheirStrings) {
  struct Case {
    const char* what;
    std::map<std::uint32_t, std::string> strings;
    std::vector<std::pair<std::uint32_t, std::u16string>> pages;
  };
  const Case cases[] = {
      {"no strings: no page", {}, {}},
      {"author 4 and 6 with 5 absent: one empty line between",
       {{4, "Ann Smith"}, {6, "Bob Jones"}},
       {{StringId::DocInfoAuthor, u"Ann Smith\n\nBob Jones"}}},
      {"empty strings are skipped like absent ones",
       {{0, ""}, {1, "Title"}, {2, ""}, {9, "House"}},
       {{StringId::DocInfoTitle, u"Title"}, {StringId::DocInfoPublisher, u"House"}}},
      {"line ends become line feeds; an ampersand stays one",
       {{0, "Salt & Pepper\r\nvolume 1\rpart 2\nend"}},
       {{StringId::DocInfoTitle, u"Salt & Pepper\nvolume 1\npart 2\nend"}}},
      {"strings beyond the rows are never asked", {{10, "x"}, {11, "y"}}, {}},
  };
  for (const Case& c : cases) {
    FakeReader reader;
    reader.strings = c.strings;
    const std::vector<DocInfoPage> pages = DocInfo_MessagePages(&reader.object, 2252);
    ASSERT_EQ(pages.size(), c.pages.size()) << c.what;
    for (std::size_t i = 0; i < pages.size(); ++i) {
      EXPECT_EQ(pages[i].captionId, c.pages[i].first) << c.what;
      EXPECT_EQ(U8(pages[i].text), U8(c.pages[i].second)) << c.what;
    }
  }
  EXPECT_TRUE(DocInfo_MessagePages(nullptr, 2252).empty());
}

TEST(DocInfoTest, StringsAreReadInTheDocumentsCharset) {
  // windows-1252 quotes and a Latin-1 letter; a charset the reader does not
  // know widens each byte.
  EXPECT_EQ(DocInfo_Decode("\x93"
                           "Caf\xe9\x94",
                           2252),
            u"\u201CCaf\u00E9\u201D");
  EXPECT_EQ(DocInfo_Decode("Caf\xc3\xa9", 106), u"Caf\u00E9");
  EXPECT_EQ(DocInfo_Decode("Caf\xe9", 9999), u"Caf\u00E9");
  EXPECT_EQ(DocInfo_Decode("", 2252), u"");
}

TEST(DocInfoTest, RecordDatesOfEachFormatAndTheirDamage) {
  std::string native(20, '\0');
  native[12] = 0x07;
  native[13] = static_cast<char>(0xE8);  // 2024
  native[14] = 2;
  native[15] = 29;
  native[16] = 23;
  native[17] = 59;
  native[18] = 58;
  native[19] = 99;
  const auto* n = reinterpret_cast<const std::uint8_t*>(native.data());
  const std::optional<DateTime> d = DocInfo_NativeDate(n, 20);
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->year, 2024);
  EXPECT_EQ(d->month, 2);
  EXPECT_EQ(d->day, 29);
  EXPECT_EQ(d->hour, 23);
  EXPECT_EQ(d->minute, 59);
  EXPECT_EQ(d->second, 58);
  EXPECT_EQ(d->hundredths, 99);
  EXPECT_FALSE(DocInfo_NativeDate(n, 19).has_value()) << "record too short";
  native[15] = 30;  // 30 February
  EXPECT_FALSE(DocInfo_NativeDate(n, 20).has_value());

  // 3772171815 seconds after 1904-01-01 (date -u -d @$((3772171815-2082844800))).
  std::string razo(32, '\0');
  PutBE(razo, 3772171815u, 4);
  const auto* r = reinterpret_cast<const std::uint8_t*>(razo.data());
  const std::optional<DateTime> t = DocInfo_RaZoDate(r, 36);
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->year, 2023);
  EXPECT_EQ(t->month, 7);
  EXPECT_EQ(t->day, 14);
  EXPECT_EQ(t->hour, 9);
  EXPECT_EQ(t->minute, 30);
  EXPECT_EQ(t->second, 15);
  EXPECT_FALSE(DocInfo_RaZoDate(r, 35).has_value()) << "record too short";
}

DateTime FileTimeUtc(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  struct tm tm {};
  gmtime_r(&st.st_mtime, &tm);
  return DateTime{static_cast<std::uint16_t>(tm.tm_year + 1900),
                  static_cast<std::uint8_t>(tm.tm_mon + 1),
                  static_cast<std::uint8_t>(tm.tm_mday),
                  static_cast<std::uint8_t>(tm.tm_hour),
                  static_cast<std::uint8_t>(tm.tm_min),
                  static_cast<std::uint8_t>(tm.tm_sec),
                  0};
}

void ExpectSameMinute(const std::optional<DateTime>& got, const DateTime& want, const char* what) {
  ASSERT_TRUE(got.has_value()) << what;
  EXPECT_EQ(got->year, want.year) << what;
  EXPECT_EQ(got->month, want.month) << what;
  EXPECT_EQ(got->day, want.day) << what;
  EXPECT_EQ(got->hour, want.hour) << what;
  EXPECT_EQ(got->minute, want.minute) << what;
}

TEST(DocInfoTest, GeneralPageOfPlainTextAndRecordDatabases) {
  TempDir dir;
  // Plain text: no type, the file's date, the size rounded up.
  for (const auto& [bytes, size] : {std::pair<std::string, const char16_t*>{"", u"0KB"},
                                    {"x", u"1KB"},
                                    {std::string(1025, 'y'), u"2KB"}}) {
    const std::string path = dir.File("notes.txt");
    WriteFileBytes(path, bytes);
    FakeReader reader;
    reader.charset = 2252;
    const DocInfoGeneral info =
        DocInfo_General(&reader.object, nullptr, kDocProbeText, U16(path), u"notes.txt");
    EXPECT_EQ(info.title, u"notes.txt");
    EXPECT_EQ(info.path, U16(path));
    EXPECT_TRUE(info.type.empty());
    ASSERT_TRUE(info.size.has_value());
    EXPECT_EQ(DocInfo_SizeText(*info.size), size);
    EXPECT_TRUE(info.dateIsUtc);
    ExpectSameMinute(info.date, FileTimeUtc(path), "plain text");
    EXPECT_EQ(U8(info.encoding), "windows-1252");
  }

  struct Db {
    const char* what;
    std::string type;
    std::string record0;
    const char16_t* typeText;
    bool fileDate;  // the date is the file's
  };
  std::string native(24, '\0');
  native[12] = 0x07;
  native[13] = static_cast<char>(0xD0);  // 2000
  native[14] = 1;
  native[15] = 2;
  native[16] = 3;
  native[17] = 4;
  std::string razo(40, '\0');
  razo[32] = static_cast<char>(0xE0);  // some day in 2023
  razo[33] = static_cast<char>(0xD7);
  const Db dbs[] = {
      {"native", "KDoc", native, u"Kelpo 3.x/4.x", false},
      {"native, record 0 cut short", "KDoc", std::string(12, '\0'), u"Kelpo 3.x/4.x", true},
      {"RaZo", "RaZo", razo, u"Kelpo 1.x/2.x", false},
      {"RaZo, record 0 cut short", "RaZo", std::string(33, '\0'), u"Kelpo 1.x/2.x", true},
      {"Palm Doc", "TEXt", std::string(16, '\0'), u"Doc", true},
      {"other", "BOOK", std::string(16, '\0'), u"", true},
  };
  for (const Db& c : dbs) {
    const std::string bytes = BuildDb({c.record0, "body"}, c.type, "KelX");
    const std::string path = dir.File("book.pdb");
    WriteFileBytes(path, bytes);
    MemDb db(bytes);
    const DocInfoGeneral info =
        DocInfo_General(nullptr, db.db(), kDocProbeMine, U16(path), u"book.pdb");
    EXPECT_EQ(U8(info.title), "fixture") << c.what;  // the database name
    EXPECT_EQ(info.type, c.typeText) << c.what;
    EXPECT_EQ(info.dateIsUtc, c.fileDate) << c.what;
    ASSERT_TRUE(info.date.has_value()) << c.what;
    if (c.fileDate) ExpectSameMinute(info.date, FileTimeUtc(path), c.what);
    if (c.type == "KDoc" && !c.fileDate) {
      EXPECT_EQ(info.date->year, 2000);
      EXPECT_EQ(info.date->hour, 3);
    }
    if (c.type == "RaZo" && !c.fileDate) {
      EXPECT_EQ(info.date->year, 2023);
    }
    EXPECT_EQ(*info.size, bytes.size()) << c.what;
    EXPECT_TRUE(info.encoding.empty()) << c.what;  // no reader: "Unknown"
  }

  // A probe that did not claim the database reads it as text: nothing of the
  // header is used. A file that has gone has no size and no date.
  const std::string bytes = BuildDb({native}, "KDoc", "KelX");
  MemDb db(bytes);
  const DocInfoGeneral asText =
      DocInfo_General(nullptr, db.db(), kDocProbeText, U16(dir.File("gone.pdb")), u"gone.pdb");
  EXPECT_EQ(asText.title, u"gone.pdb");
  EXPECT_TRUE(asText.type.empty());
  EXPECT_FALSE(asText.size.has_value());
  EXPECT_FALSE(asText.date.has_value());
}

TEST(SysInfoTest, MemoryAndCharsetsAgreeWithTheSystem) {
  SysInfoMemory memory;
  ASSERT_TRUE(SysInfo_Memory(&memory));
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t totalKb = 0, availableKb = 0, value = 0;
  std::string unit;
  while (meminfo >> key >> value >> unit) {
    if (key == "MemTotal:") totalKb = value;
    if (key == "MemAvailable:") availableKb = value;
  }
  ASSERT_GT(totalKb, 0u);
  EXPECT_EQ(U8(SysInfo_MemoryText(memory.totalBytes)), std::to_string(totalKb) + "K");
  EXPECT_LE(memory.freeBytes, memory.totalBytes);
  // Available memory moves while the test runs: within 64 MB of the kernel's.
  const double availableMb = static_cast<double>(memory.freeBytes >> 20);
  EXPECT_NEAR(availableMb, static_cast<double>(availableKb >> 10), 64.0);
  EXPECT_EQ(SysInfo_MemoryText(1023), u"0K");
  EXPECT_EQ(SysInfo_MemoryText(5ull << 30), u"5242880K");

  const std::vector<std::u16string> charsets = SysInfo_CharsetTexts();
  ASSERT_FALSE(charsets.empty());
  std::vector<std::uint32_t> numbers;
  for (const std::u16string& t : charsets)
    numbers.push_back(static_cast<std::uint32_t>(std::stoul(U8(t))));
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
  EXPECT_NE(std::find(numbers.begin(), numbers.end(), 2252u), numbers.end());
  EXPECT_NE(std::find(numbers.begin(), numbers.end(), 106u), numbers.end());
}

}  // namespace
