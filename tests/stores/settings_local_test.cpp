#include <fcntl.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "engine/runtime/date.h"
#include "engine/runtime/dict.h"
#include "engine/runtime/swap.h"
#include "tests/stores/settings_test_support.h"

namespace {

std::int64_t g_now = 1700000000;
std::int64_t FixedClock() noexcept {
  return g_now;
}

// Record i of a record-database file, read independently.
std::string Record(const std::string& bytes, std::uint32_t index) {
  auto be = [&](std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
      v = v << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return v;
  };
  const std::uint32_t count = be(76, 2);
  const std::uint32_t start = be(78 + 8 * index, 4);
  const std::uint32_t end = index + 1 < count ? be(78 + 8 * (index + 1), 4) : bytes.size();
  return bytes.substr(start, end - start);
}

class SettingsLocal : public SettingsFixture {
 public:
  void SetUp() override {
    SettingsFixture::SetUp();
    oldClock_ = Date_SetClock(FixedClock);
  }
  void TearDown() override {
    Date_SetClock(oldClock_);
    SettingsFixture::TearDown();
  }
  DateClock oldClock_ = nullptr;
};

TEST_F(SettingsLocal, StateIsSavedOnceFirstUsedAndReadBack) {
  LocalSettings ls{};
  ASSERT_EQ(Settings_OpenDocument(store_, u"/h/Book.txt", 1, &ls), kOk);
  EXPECT_EQ(ls.createdNow, 1u);
  std::uint16_t w1 = 0, w2 = 0, w3 = 0, view = 0;
  std::uint32_t enc = 0;
  EXPECT_EQ(Settings_GetDocumentState(store_, &ls, &w1, &w2, &w3, &enc, &view), kFailed);
  g_now = 1700000000;
  ASSERT_EQ(Settings_SaveDocumentState(store_, &ls, u"/h/Book.txt", 1, 2, 3, 2252, 7), kOk);
  g_now = 1700000500;
  ASSERT_EQ(Settings_SaveDocumentState(store_, &ls, u"/h/Book.txt", 4, 5, 6, 106, 9), kOk);
  ASSERT_EQ(Settings_GetDocumentState(store_, &ls, &w1, &w2, &w3, &enc, &view), kOk);
  EXPECT_EQ(w1, 4);
  EXPECT_EQ(w2, 5);
  EXPECT_EQ(w3, 6);
  EXPECT_EQ(enc, 106u);
  EXPECT_EQ(view, 9);
  const std::u16string path = ls.path;
  ASSERT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  EXPECT_EQ(ls.db, nullptr);

  std::uint32_t offset = 0;
  ASSERT_EQ(Date_GetUtcOffset(&DateModule, &offset), kOk);
  const std::string state = Record(ReadFileBytes(U8(path)), 1).substr(28);
  ASSERT_EQ(state.size(), 48u);
  auto le32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = v << 8 | static_cast<std::uint8_t>(state[at + i]);
    return v;
  };
  EXPECT_EQ(le32(8), 1700000000u + offset) << "first use is kept from the first save";
  EXPECT_EQ(le32(12), 1700000500u + offset);
  EXPECT_EQ(state.substr(32, 4), std::string("\x6A\x00\x09\x00", 4));

  // Reopened, the values are still there and the file is not new.
  ASSERT_EQ(Settings_OpenDocument(store_, u"/h/Book.txt", 0, &ls), kOk);
  EXPECT_EQ(ls.createdNow, 0u);
  EXPECT_EQ(Settings_GetDocumentState(store_, &ls, &w1, &w2, &w3, &enc, &view), kOk);
  EXPECT_EQ(w1, 4);
  EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  EXPECT_EQ(Settings_OpenDocument(store_, u"/h/Other.txt", 0, &ls), kSettingsNoFile);
}

TEST_F(SettingsLocal, PathsAboveByteRangeAreStoredAsUtf16AndStatesSitOnFourByteBoundaries) {
  struct Case {
    std::u16string document;
    std::size_t stateAt;
    bool wide;
  } cases[] = {{u"/a/bc", 24, false}, {u"/a/\u00E9t", 24, false}, {u"/a/\u4E2Dx", 28, true}};
  for (const auto& c : cases) {
    const auto path = Touch(c.document);
    const std::string rec = Record(ReadFileBytes(U8(path)), 1);
    EXPECT_EQ(rec.size(), c.stateAt + 48) << U8(c.document);
    EXPECT_EQ(rec[2], c.wide ? 1 : 0);
    EXPECT_EQ(static_cast<std::uint8_t>(rec[c.stateAt]), 48);
    // Found again by its stored path.
    EXPECT_EQ(Touch(c.document), path);
  }
}

TEST_F(SettingsLocal, ShortLongAndDamagedStatesAreReadByTheRules) {
  LocalSettings ls{};
  ASSERT_EQ(Settings_OpenDocument(store_, u"/a/bc", 1, &ls), kOk);  // state at 24
  const DbFileOps& db = OpsOf<DbFileOps>(&DbFileModule);
  ASSERT_EQ(Settings_SaveDocumentState(store_, &ls, u"/a/bc", 1, 2, 3, 4, 5), kOk);
  std::uint16_t w1 = 0;
  std::uint32_t enc = 0;
  struct Case {
    std::uint32_t stateBytes;
    StatusCode want;
    std::uint32_t encoding;
  } cases[] = {{60, kOk, 4}, {40, kOk, 4}, {32, kFailed, 0}, {31, kSettingsShortState, 0}};
  for (const auto& c : cases) {
    ASSERT_EQ(db.resizeRecord(ls.db, 1, 24 + c.stateBytes), kOk);
    enc = 99;
    const StatusCode s =
        Settings_GetDocumentState(store_, &ls, &w1, nullptr, nullptr, &enc, nullptr);
    if (c.stateBytes == 32) {
      // Bytes 32.. are gone; first use is still set, the encoding reads 0.
      EXPECT_EQ(s, kOk);
      EXPECT_EQ(enc, 0u);
    } else {
      EXPECT_EQ(s, c.want) << c.stateBytes;
      if (s == kOk) {
        EXPECT_EQ(enc, c.encoding) << c.stateBytes;
      }
    }
  }
  // A record whose path runs past its end is malformed; a missing one is reported.
  ASSERT_EQ(db.resizeRecord(ls.db, 1, 20), kOk);
  EXPECT_EQ(Settings_GetDocumentState(store_, &ls, &w1, nullptr, nullptr, &enc, nullptr),
            kSettingsBadDocRecord);
  // Saving rewrites the whole record.
  ASSERT_EQ(Settings_SaveDocumentState(store_, &ls, u"/a/bc", 7, 2, 3, 4, 5), kOk);
  EXPECT_EQ(Settings_GetDocumentState(store_, &ls, &w1, nullptr, nullptr, &enc, nullptr), kOk);
  EXPECT_EQ(w1, 7);
  const std::uint8_t noRecord[2] = {0, 0};
  EngineObject* rs = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(db.openRecord(ls.db, 0, &size, &rs), kOk);
  ASSERT_EQ(StreamOf(rs).writeAt(rs, 2, noRecord, 2, nullptr), kOk);
  ASSERT_EQ(StreamOf(rs).close(rs), kOk);
  EXPECT_EQ(Settings_GetDocumentState(store_, &ls, &w1, nullptr, nullptr, &enc, nullptr),
            kSettingsNoDocRecord);
  EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  LocalSettings none{};
  EXPECT_EQ(Settings_GetDocumentState(store_, &none, &w1, nullptr, nullptr, &enc, nullptr),
            kSettingsNotOpen);
  EXPECT_EQ(Settings_SaveDocumentState(store_, &none, u"/x", 1, 1, 1, 1, 1), kOk);
}

TEST_F(SettingsLocal, CopyAndRenameCarryStateAndCategories) {
  LocalSettings ls{};
  ASSERT_EQ(Settings_OpenDocument(store_, u"/a/Src.txt", 1, &ls), kOk);
  ASSERT_EQ(Settings_SaveDocumentState(store_, &ls, u"/a/Src.txt", 11, 0, 0, 0, 0), kOk);
  const std::u16string src = ls.path;
  ASSERT_EQ(Settings_CloseDocument(store_, &ls, kSettingsCloseRecent), kOk);
  const std::uint16_t ids[] = {2, 4, 8};
  ASSERT_EQ(Settings_SetDocumentCategories(store_, src.c_str(), ids), kOk);

  ASSERT_EQ(Settings_CopyDocumentSettings(store_, u"/a/Src.txt", u"/b/Copy.txt"), kOk);
  std::uint16_t w1 = 0;
  ASSERT_EQ(Settings_OpenDocument(store_, u"/b/Copy.txt", 0, &ls), kOk);
  EXPECT_EQ(Settings_GetDocumentState(store_, &ls, &w1, nullptr, nullptr, nullptr, nullptr), kOk);
  EXPECT_EQ(w1, 11);
  EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  EXPECT_EQ(ReadFileBytes(Cat("Copy")), ReadFileBytes(Cat("Src")));
  EXPECT_EQ(Settings_CopyDocumentSettings(store_, u"/a/None.txt", u"/b/X.txt"), kOk);
  EXPECT_FALSE(FileExists(Doc("X")));

  // Another base name: the file, its list and its recent entry move.
  ASSERT_EQ(Settings_RenameDocument(store_, u"/a/Src.txt", u"/a/Moved.txt"), kOk);
  EXPECT_FALSE(FileExists(Doc("Src")));
  EXPECT_FALSE(FileExists(Cat("Src")));
  EXPECT_TRUE(FileExists(Cat("Moved")));
  EXPECT_EQ(Settings_OpenDocument(store_, u"/a/Src.txt", 0, &ls), kSettingsNoFile);
  ASSERT_EQ(Settings_OpenDocument(store_, u"/a/Moved.txt", 0, &ls), kOk);
  EXPECT_EQ(Settings_GetDocumentState(store_, &ls, &w1, nullptr, nullptr, nullptr, nullptr), kOk);
  EXPECT_EQ(w1, 11);
  EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  std::uint32_t count = 0;
  SettingsNameList list = nullptr;
  ASSERT_EQ(Settings_GetRecentList(store_, &count, &list), kOk);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(std::u16string(list[0]), u"Moved");
  EXPECT_EQ(Settings_FreeList(store_, list), kOk);
  // Only the folder changes: the file keeps its name.
  ASSERT_EQ(Settings_RenameDocument(store_, u"/a/Moved.txt", u"/z/Moved.txt"), kOk);
  EXPECT_TRUE(FileExists(Doc("Moved")));
  EXPECT_FALSE(FileExists(Doc("Moved~1")));
  ASSERT_EQ(Settings_OpenDocument(store_, u"/z/Moved.txt", 0, &ls), kOk);
  EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
}

TEST_F(SettingsLocal, DocumentInfoChecksTheCallersBuffer) {
  const std::string docFile = root_.File("doc.txt");
  WriteFileBytes(docFile, "twelve bytes");
  const std::u16string doc = U16(docFile);
  LocalSettings ls{};
  ASSERT_EQ(Settings_OpenDocument(store_, doc.c_str(), 1, &ls), kOk);
  ASSERT_EQ(Settings_SaveDocumentState(store_, &ls, doc.c_str(), 0, 0, 0, 0, 0), kOk);
  EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  char16_t small[kPathBufferSize - 1];
  std::uint32_t size = kPathBufferSize - 1;
  EXPECT_EQ(Settings_GetDocumentInfo(store_, u"doc", small, &size, nullptr, nullptr, nullptr),
            kSettingsBufferTooSmall);
  EXPECT_EQ(size, doc.size() + 1);
  char16_t path[kPathBufferSize];
  size = kPathBufferSize;
  DateTime date{};
  std::uint32_t bytes = 0, lastUse = 0;
  ASSERT_EQ(Settings_GetDocumentInfo(store_, u"doc", path, &size, &date, &bytes, &lastUse), kOk);
  EXPECT_EQ(std::u16string(path), doc);
  EXPECT_EQ(bytes, 12u);
  EXPECT_NE(lastUse, 0u);
  EXPECT_EQ(Settings_GetDocumentInfo(store_, u"missing", path, &size, nullptr, nullptr, nullptr),
            kSettingsBadName);
  const std::u16string tooLong(250, u'n');
  EXPECT_EQ(
      Settings_GetDocumentInfo(store_, tooLong.c_str(), path, &size, nullptr, nullptr, nullptr),
      kSettingsBadName);

  // Changed-only listing: the document is newer than its last use only after
  // it is written again (file times are UTC, the last use local time).
  g_now = std::time(nullptr) + 3600;
  ASSERT_EQ(Settings_OpenDocument(store_, doc.c_str(), 0, &ls), kOk);
  ASSERT_EQ(Settings_SaveDocumentState(store_, &ls, doc.c_str(), 0, 0, 0, 0, 0), kOk);
  EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  Touch(u"/nowhere/other.txt");
  std::uint32_t count = 0;
  SettingsNameList list = nullptr;
  ASSERT_EQ(Settings_ListDocuments(store_, 0, &count, &list), kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Settings_FreeList(store_, list), kOk);
  ASSERT_EQ(Settings_ListDocuments(store_, 1, &count, &list), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Settings_FreeList(store_, list), kOk);
  struct timespec later[2] = {{g_now + 7200, 0}, {g_now + 7200, 0}};
  utimensat(AT_FDCWD, docFile.c_str(), later, 0);
  ASSERT_EQ(Settings_ListDocuments(store_, 1, &count, &list), kOk);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(std::u16string(list[0]), u"doc");
  EXPECT_EQ(Settings_FreeList(store_, list), kOk);
}

// A native document whose record 0 carries a category tag.
std::string NativeRecord0(const std::string& category, bool tagFirst) {
  auto be16 = [](std::uint32_t v) { return std::string{char(v >> 8), char(v & 0xFF)}; };
  std::string r = be16(4) + be16(0);  // leading part of 4 bytes
  r += be16(1) + be16(7);             // one u16
  r += be16(1) + be16(0) + be16(9);   // one u32
  std::string name = category;
  if (name.size() % 2) name += '\0';
  std::string items;
  const std::string other = std::string{2, 1} + "zz";  // tag 2, one unit
  const std::string tag1 = std::string{1, char(name.size() / 2)} + name;
  items = tagFirst ? tag1 + other : other + tag1;
  r += be16(4 + items.size()) + be16(1) + items;
  return r;
}

void WriteNative(const std::string& path, const std::string& record0, const char* type = "KDoc") {
  EngineObject* fs = &FileSysModule;
  std::u16string p = U16(path);
  EngineObject* s = nullptr;
  ASSERT_EQ(FileSys_Open(fs, p.data(), 0, kFileOpenCreate, &s), kOk);
  ASSERT_EQ(DbFile_CreateNew(&DbFileModule, s, "doc", reinterpret_cast<const std::uint8_t*>(type),
                             reinterpret_cast<const std::uint8_t*>("Kelp")),
            kOk);
  EngineObject* db = nullptr;
  ASSERT_EQ(DbFile_Open(&DbFileModule, s, kDbOpenWrite, &db), kOk);
  std::uint16_t index = 0;
  ASSERT_EQ(
      DbFile_InsertRecord(db, &index, static_cast<std::uint32_t>(record0.size()), record0.data()),
      kOk);
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(StreamOf(s).close(s), kOk);
}

TEST_F(SettingsLocal, CategoryTagsAreReadWithinTheCallersBuffer) {
  const std::string doc = root_.File("novel.pdb");
  WriteNative(doc, NativeRecord0("Fiction/Crime", false));
  const std::u16string d = U16(doc);
  char buf[64];
  std::uint32_t size = sizeof buf;
  ASSERT_EQ(Settings_ReadDocumentCategoryTag(store_, d.c_str(), buf, &size), kOk);
  EXPECT_EQ(std::string(buf), "Fiction/Crime");
  EXPECT_EQ(size, 14u);
  // A buffer of 8 bytes gets 7 characters and the NUL, nothing past it.
  char small[9];
  std::memset(small, '#', sizeof small);
  size = 8;
  ASSERT_EQ(Settings_ReadDocumentCategoryTag(store_, d.c_str(), small, &size), kOk);
  EXPECT_EQ(std::string(small), "Fiction");
  EXPECT_EQ(small[8], '#');
  // Damaged or foreign documents.
  struct Case {
    const char* what;
    std::string record;
    const char* type;
  } cases[] = {
      {"foreign type", NativeRecord0("A", true), "TEXt"},
      {"odd leading part", "\x00\x05" + NativeRecord0("A", true).substr(2), "KDoc"},
      {"tag area of length 4", std::string("\x00\x02\x00\x00\x00\x00\x00\x04\x00\x01", 10), "KDoc"},
      {"flags bit clear",
       [] {
         std::string r = NativeRecord0("A", true);
         r[r.size() - 8 - 1] = 0;
         return r;
       }(),
       "KDoc"},
      {"item past the area",
       [] {
         std::string r = NativeRecord0("Abc", true);
         r[14 + 4 + 1] = 100;
         return r;
       }(),
       "KDoc"},
      {"no tag 1",
       [] {
         std::string r = NativeRecord0("AB", true);
         r[14 + 4] = 3;
         return r;
       }(),
       "KDoc"},
  };
  for (const auto& c : cases) {
    WriteNative(doc, c.record, c.type);
    size = sizeof buf;
    EXPECT_EQ(Settings_ReadDocumentCategoryTag(store_, d.c_str(), buf, &size),
              kSettingsNoCategoryTag)
        << c.what;
  }
  size = sizeof buf;
  EXPECT_EQ(Settings_ReadDocumentCategoryTag(store_, u"/no/such.pdb", buf, &size),
            kSettingsNoCategoryTag);
}

TEST_F(SettingsLocal, AFirstSeenNativeDocumentGetsItsCategoryOnce) {
  const std::string doc = root_.File("novel.pdb");
  WriteNative(doc, NativeRecord0("Fiction/Crime", false));
  const std::u16string d = U16(doc);
  std::uint16_t id = 0;
  std::uint32_t added = 0;
  ASSERT_EQ(Settings_AssignCategoryFromDocument(store_, d.c_str(), &id, &added), kOk);
  EXPECT_EQ(added, 1u);
  EngineObject* dict = nullptr;
  ASSERT_EQ(Settings_GetCategorySet(store_, &dict), kOk);
  char path[64];
  std::uint32_t size = sizeof path;
  ASSERT_EQ(Dict_GetPath(dict, id, path, nullptr, &size), kOk);
  EXPECT_EQ(std::string(path), "/Fiction/Crime");
  EXPECT_TRUE(FileExists(Reg("cat")));
  EXPECT_EQ(Settings_DocumentHasCategory(store_, d.c_str(), id), kOk);
  const std::string list = {1, 0, char(id & 0xFF), char(id >> 8)};
  EXPECT_EQ(ReadFileBytes(Cat("novel")), list);
  // Seen before: nothing changes, even with another tag.
  WriteNative(doc, NativeRecord0("Other", true));
  EXPECT_EQ(Settings_AssignCategoryFromDocument(store_, d.c_str(), nullptr, nullptr),
            kSettingsNoCategoryTag);
  EXPECT_EQ(Settings_DocumentHasCategory(store_, d.c_str(), id), kOk);
  std::uint16_t other = 0;
  EXPECT_EQ(Dict_AddPath(dict, "Other", nullptr, 0, 0, 0, &other), kNotFound);
  // A second document of an existing category adds nothing to the dictionary.
  const std::string doc2 = root_.File("second.pdb");
  WriteNative(doc2, NativeRecord0("Fiction/Crime", true));
  std::uint16_t id2 = 0;
  ASSERT_EQ(Settings_AssignCategoryFromDocument(store_, U16(doc2).c_str(), &id2, &added), kOk);
  EXPECT_EQ(id2, id);
  EXPECT_EQ(added, 0u);
}

}  // namespace
