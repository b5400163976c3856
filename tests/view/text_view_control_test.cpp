// The host's control commands and the position-list commands through the
// view: text export against the text read range by range, the position
// queries, the charset fallback, the user's bookmark list in a settings
// database and without one, the saved position and the page excerpt.
#include <cstring>

#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/text_conv.h"
#include "tests/view/text_view_fixture.h"

namespace {

class TextViewControlTest : public TextViewFixture {
 protected:
  StatusCode Control(std::uint16_t code, std::uint32_t argument = 0, void* io = nullptr) {
    return ViewOps().control(view_, code, argument, io);
  }
  template <class T>
  T Query(std::uint16_t code) {
    T value{};
    EXPECT_EQ(Control(code, 0, &value), kOk) << code;
    return value;
  }
  StatusCode List(std::uint16_t code, std::uint32_t argument = 0, void* io = nullptr) {
    return ViewOps().positionListCommand(view_, code, argument, io);
  }
  // Control 12 into a memory stream.
  std::string Export(StatusCode* answer) {
    EngineObject* stream = nullptr;
    EXPECT_EQ(MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream), kOk);
    *answer = Control(12, 0, stream);
    void* buffer = nullptr;
    std::uint32_t size = 0;
    EXPECT_EQ(MemStream_GetBuffer(&MemStreamModule, stream, &buffer, &size, nullptr), kOk);
    std::string out(static_cast<const char*>(buffer), size);
    EXPECT_EQ(StreamOf(stream).close(stream), kOk);
    return out;
  }
};

TEST_F(TextViewControlTest, TextExportEqualsTheTextReadRangeByRange) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::uint32_t> sections;
  } cases[] = {
      {"bare line feeds become CR LF, a CR before one stays", "a\nb\r\nc\r\r\n\nend", {}},
      {"sections make no difference", SampleText(40, 3), {0, 100, 100, 700}},
      {"several text windows", SampleText(900, 5), {}},
      {"no line feed at all", "just one line", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Hooks().sectionStarts = c.sections;
    Open(c.text);
    // The oracle: the handler's text read 7 bytes at a time.
    std::string read;
    for (std::uint32_t at = 0; at < c.text.size(); at += 7) {
      const std::uint32_t to = std::min<std::uint32_t>(at + 7, c.text.size());
      std::uint8_t piece[7];
      std::uint32_t copied = 0;
      ASSERT_EQ(DocOpsOf(handler_).readRange(handler_, at, to, piece, 7, &copied), kOk);
      read.append(reinterpret_cast<const char*>(piece), copied);
    }
    std::string want;
    for (char ch : read) {
      if (ch == '\n') want += '\r';
      want += ch;
    }
    StatusCode answer = kFailed;
    EXPECT_EQ(Export(&answer), want);
    EXPECT_EQ(answer, kOk);
    Close();
  }
  Open("x\ny");
  StatusCode answer = kOk;
  EXPECT_EQ(Export(&answer), "x\r\ny");
  EXPECT_EQ(Control(12, 0, nullptr), kNullOutPointer);
}

TEST_F(TextViewControlTest, PositionQueries) {
  Hooks().sectionStarts = {0, 600, 600};  // the last section is empty
  const std::string text = SampleText(60, 2);
  Open(text.substr(0, 600));
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(Query<std::uint32_t>(1), 0u);
  EXPECT_EQ(Query<std::uint32_t>(7), V().table.lines[V().table.count].start);
  EXPECT_EQ(Query<std::uint32_t>(8), 0u);
  EXPECT_EQ(Query<std::uint32_t>(9), 600u);
  EXPECT_EQ(Query<std::uint32_t>(10), 600u);
  EXPECT_EQ(Query<std::uint16_t>(5), 0);
  std::uint32_t offset = 300;
  ASSERT_EQ(Control(3, 0, &offset), kOk);
  const std::uint32_t first = V().table.lines[0].start;
  EXPECT_EQ(Query<std::uint16_t>(5), first * 100 / 600);
  EXPECT_EQ(Query<std::int16_t>(32), static_cast<std::int16_t>(first * 1024 / 600));
  std::uint32_t range[2] = {};
  ASSERT_EQ(Control(41, 0, range), kOk);
  EXPECT_EQ(range[0], first);
  EXPECT_EQ(range[1], V().table.lines[V().table.count].start);
  std::uint32_t words[3] = {9, 9, 9};
  ASSERT_EQ(Control(30, 2, words), kOk);
  EXPECT_EQ(words[0], 0u);
  EXPECT_EQ(words[1], static_cast<std::uint32_t>(width_));
  EXPECT_EQ(words[2], 9u) << "only the words asked for";
  EXPECT_GT(Query<std::int16_t>(6), 0) << "a line down would move";
  EXPECT_EQ(V().table.lines[0].start, first) << "without moving";
  // Control 29 goes there and remembers where the reader was.
  std::uint32_t there = 100;
  ASSERT_EQ(Control(29, 0, &there), kOk);
  ASSERT_EQ(Nav(TextViewNav::Back), kOk);
  EXPECT_EQ(V().table.lines[0].start, first);
  // The empty last section.
  ASSERT_EQ(Nav(TextViewNav::SectionByNumber, 3), kOk);
  EXPECT_EQ(Query<std::uint16_t>(5), 99);
  EXPECT_EQ(Control(43), kNotSupported);
  EXPECT_EQ(Control(15), kViewNoList);
  EXPECT_EQ(Control(16), kViewNoList);
  EXPECT_EQ(Control(38, 0, words), kViewNoList);
}

std::uint32_t NoCodePage() noexcept {
  return 0;
}
std::uint32_t Utf8CodePage() noexcept {
  return 65001;
}

TEST_F(TextViewControlTest, CharsetGoesToTheHandlerTheDeviceAndTheView) {
  Open("text");
  ASSERT_EQ(Control(14, 106), kOk);
  EXPECT_EQ(V().charsetId, 106u);
  EXPECT_EQ(F().charset, 106u);
  std::uint16_t handlerCharset = 0;
  ASSERT_EQ(DocOpsOf(handler_).control(handler_, DocControl::GetCharset, 0, &handlerCharset), kOk);
  EXPECT_EQ(handlerCharset, 106);
  // Neither the handler nor the locale names one: windows-1252.
  TextConv_SetLocaleCodePageQuery(NoCodePage);
  EXPECT_EQ(Control(14, 0), kOk);
  TextConv_SetLocaleCodePageQuery(nullptr);
  EXPECT_EQ(V().charsetId, 2252u);
  EXPECT_EQ(F().charset, 2252u);
  // A UTF-8 locale: UTF-8 for a UTF-8 text, windows-1252 for a text that
  // UTF-8 cannot read.
  TextConv_SetLocaleCodePageQuery(Utf8CodePage);
  for (const auto& [text, mib] :
       {std::pair<std::string, std::uint32_t>{"na\xC3\xAFve", 106}, {"na\xEFve", 2252}}) {
    Close();
    Open(text);
    EXPECT_EQ(Control(14, 0), kOk);
    EXPECT_EQ(V().charsetId, mib) << text;
    EXPECT_EQ(F().charset, mib) << text;
  }
  TextConv_SetLocaleCodePageQuery(nullptr);
}

TEST_F(TextViewControlTest, SavedPositionAndListsWithoutADatabase) {
  Open(SampleText(60, 2));
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(List(0x1020), kOk) << "no saved position: nothing happens";
  EXPECT_EQ(V().table.lines[0].start, 0u);
  std::uint32_t value = 0;
  ASSERT_EQ(List(0x1070, 0, &value), kOk);
  EXPECT_EQ(value, 0xFFFFFFFFu);
  std::uint32_t saved = 400;
  ASSERT_EQ(List(0x1010, 0, &saved), kOk);
  F().notices.clear();
  ASSERT_EQ(List(0x1020), kOk);
  EXPECT_NE(V().table.lines[0].start, 0u);
  EXPECT_EQ(F().notices, std::vector<std::uint16_t>{DeviceNotice::PosListJump});

  std::uint16_t word = 0;
  ASSERT_EQ(List(0x32, 0, &word), kOk);
  EXPECT_EQ(word, 31);
  ASSERT_EQ(List(0x42, 0, &word), kOk);
  EXPECT_EQ(word, 0);
  ASSERT_EQ(List(0x22, 0, &value), kOk);
  EXPECT_EQ(value, 0u);
  ASSERT_EQ(List(0x12, 0, &word), kOk);
  EXPECT_FALSE(word & 0x0004);
  EXPECT_EQ(List(0x52, 0, &value), kDocBadListIndex);
  const char** names = nullptr;
  EXPECT_EQ(List(0x72, 0, &names), kDocListEmpty);
  std::uint32_t at = 0;
  DocBookmarkInsert insert{"name", &at};
  EXPECT_EQ(List(0x92, 0, &insert), kDocBadListIndex);
  DocBookmarkFind find{"name", 0};
  EXPECT_EQ(List(0xD2, 0, &find), kNotFound);
  EXPECT_EQ(List(0xE2), kOk);
  EXPECT_EQ(List(0x1033, 0), kNotSupported);
  EXPECT_EQ(List(0x1080), kNotSupported);
}

TEST_F(TextViewControlTest, TheUserListInTheSettingsDatabase) {
  EngineObject* stream = nullptr;
  ASSERT_EQ(MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream), kOk);
  ASSERT_EQ(DbFile_CreateNew(&DbFileModule, stream, "state",
                             reinterpret_cast<const std::uint8_t*>("DSet"),
                             reinterpret_cast<const std::uint8_t*>("Kelp")),
            kOk);
  EngineObject* db = nullptr;
  ASSERT_EQ(DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db), kOk);
  Open(SampleText(60, 2), 120, 100, TextViewOption::CopyOnce, db);
  ASSERT_EQ(Paint(), kOk);

  std::uint16_t word = 0;
  ASSERT_EQ(List(0x12, 0, &word), kOk);
  EXPECT_TRUE(word & 0x0004);
  ASSERT_EQ(List(0x1052, 0, const_cast<char*>("top")), kOk);
  std::uint32_t target = 500;
  ASSERT_EQ(Control(3, 0, &target), kOk);
  const std::uint32_t here = V().table.lines[0].start;
  ASSERT_EQ(List(0x1052, 1, const_cast<char*>("later")), kOk);
  ASSERT_EQ(List(0x42, 0, &word), kOk);
  EXPECT_EQ(word, 2);
  const char** names = nullptr;
  ASSERT_EQ(List(0x72, 0, &names), kOk);
  EXPECT_STREQ(names[0], "top");
  EXPECT_STREQ(names[1], "later");
  ASSERT_EQ(List(0x82, 0, names), kOk);
  std::uint32_t value = 0;
  ASSERT_EQ(List(0x52, 1, &value), kOk);
  EXPECT_EQ(value, here);
  // Going to an entry moves there, remembers the position and tells the host.
  F().notices.clear();
  ASSERT_EQ(List(0x1032, 0), kOk);
  EXPECT_EQ(V().table.lines[0].start, 0u);
  EXPECT_EQ(F().notices, std::vector<std::uint16_t>{DeviceNotice::PosListJump2});
  ASSERT_EQ(Nav(TextViewNav::Back), kOk);
  EXPECT_EQ(V().table.lines[0].start, here);
  // Entry 0 set to here, renamed, found, moved and deleted.
  ASSERT_EQ(List(0x1042, 0), kOk);
  ASSERT_EQ(List(0x52, 0, &value), kOk);
  EXPECT_EQ(value, here);
  DocBookmarkRename rename{"first"};
  ASSERT_EQ(List(0xB2, 0, &rename), kOk);
  DocBookmarkFind find{"first", 9};
  ASSERT_EQ(List(0xD2, 0, &find), kOk);
  EXPECT_EQ(find.index, 0);
  std::uint16_t to = 1;
  ASSERT_EQ(List(0xC2, 0, &to), kOk);
  find.index = 9;
  ASSERT_EQ(List(0xD2, 0, &find), kOk);
  EXPECT_EQ(find.index, 1);
  ASSERT_EQ(List(0xA2, 1), kOk);
  ASSERT_EQ(List(0x42, 0, &word), kOk);
  EXPECT_EQ(word, 1);
  EXPECT_EQ(List(0x52, 5, &value), kDocBadListIndex);

  // The list is saved with the reading state and comes back.
  ASSERT_EQ(Control(4), kOk);
  Close();
  ASSERT_EQ(DbFile_Close(db), kOk);
  ASSERT_EQ(DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db), kOk);
  Open(SampleText(60, 2), 120, 100, TextViewOption::CopyOnce, db);
  ASSERT_EQ(List(0x42, 0, &word), kOk);
  EXPECT_EQ(word, 1);
  ASSERT_EQ(List(0x72, 0, &names), kOk);
  EXPECT_STREQ(names[0], "later");
  ASSERT_EQ(List(0x82, 0, names), kOk);
  Close();
  ASSERT_EQ(DbFile_Close(db), kOk);
  ASSERT_EQ(StreamOf(stream).close(stream), kOk);
}

TEST_F(TextViewControlTest, PageExcerptSkipsBlanksAndStopsAtTheLineEnd) {
  struct Case {
    std::string text;
    std::uint32_t n;
    std::string want;
  } cases[] = {
      {"  \t Hello\tworld, a long line\nnext", 100, "Hello world, a long line"},
      {"  \t Hello\tworld, a long line\nnext", 11, "Hello world"},
      {"\n\n\r\n   abc\r\n", 100, "abc"},
      {"   \n \t ", 100, ""},
      {"abc", 0, ""},
      {std::string(5000, ' ') + "far" + std::string(5000, 'x'), 6, "farxxx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    Open(c.text);
    ASSERT_EQ(Paint(), kOk);
    std::string out(c.n + 1, '#');
    ASSERT_EQ(List(0x1060, c.n, out.data()), kOk);
    EXPECT_EQ(std::string(out.c_str()), c.want);
    Close();
  }
}

}  // namespace
