// The reading state in a settings record database: the bytes of record 0, the
// history and the annotation-path sub-records, restore and save, and damaged
// records.
#include <cstring>

#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "tests/view/text_view_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A record database in a memory stream.
class MemDb {
 public:
  MemDb() {
    EXPECT_EQ(MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream_), kOk);
    EXPECT_EQ(DbFile_CreateNew(&DbFileModule, stream_, "state",
                               reinterpret_cast<const std::uint8_t*>("DSet"),
                               reinterpret_cast<const std::uint8_t*>("Kelp")),
              kOk);
    Reopen();
  }
  ~MemDb() {
    if (db_) {
      EXPECT_EQ(DbFile_Close(db_), kOk);
    }
    EXPECT_EQ(StreamOf(stream_).close(stream_), kOk);
  }
  // Commits and opens again, as a later run would.
  void Reopen() {
    if (db_) {
      ASSERT_EQ(DbFile_Close(db_), kOk);
    }
    db_ = nullptr;
    ASSERT_EQ(DbFile_Open(&DbFileModule, stream_, kDbOpenWrite, &db_), kOk);
  }
  EngineObject* db() { return db_; }
  std::uint16_t Count() {
    std::uint16_t n = 0;
    EXPECT_EQ(DbFile_GetInfo(db_, nullptr, nullptr, nullptr, nullptr, nullptr, &n), kOk);
    return n;
  }
  Bytes Record(std::uint16_t i) {
    std::uint32_t size = 0;
    void* buffer = nullptr;
    if (DbFile_ReadRecord(db_, i, &size, &buffer) != kOk) return {};
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    Bytes out(p, p + size);
    EXPECT_EQ(DbFile_FreeRecordBuffer(db_, buffer), kOk);
    return out;
  }
  std::uint16_t Append(const Bytes& bytes) {
    std::uint16_t index = 0xFFFF;
    EXPECT_EQ(DbFile_InsertRecord(db_, &index, static_cast<std::uint32_t>(bytes.size()),
                                  bytes.empty() ? nullptr : bytes.data()),
              kOk);
    return index;
  }

 private:
  EngineObject* stream_ = nullptr;
  EngineObject* db_ = nullptr;
};

Bytes Header(std::uint16_t size, std::uint32_t position, std::uint16_t history = 0,
             std::uint16_t path = 0) {
  Bytes h(size, 0);
  h[0] = static_cast<std::uint8_t>(size >> 8);
  h[1] = static_cast<std::uint8_t>(size);
  for (int i = 0; i < 4; ++i)
    h[4 + i] = static_cast<std::uint8_t>(position >> (24 - 8 * i));
  for (int i = 0; i < 4; ++i)
    h[8 + i] = 0xFF;
  h[12] = static_cast<std::uint8_t>(history >> 8);
  h[13] = static_cast<std::uint8_t>(history);
  if (size >= 26) {
    h[24] = static_cast<std::uint8_t>(path >> 8);
    h[25] = static_cast<std::uint8_t>(path);
  }
  return h;
}

class TextViewStateTest : public TextViewFixture {
 protected:
  void OpenWith(MemDb& db, int lines = 300) {
    Open(SampleText(lines, 4), 150, 100, TextViewOption::CopyOnce, db.db());
  }
};

TEST_F(TextViewStateTest, EmptyDatabaseGetsANewHeader) {
  MemDb db;
  OpenWith(db);
  ASSERT_EQ(db.Count(), 1);
  const Bytes want = {0x00, 0x20, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0,
                      0,    0,    0, 0, 0, 0, 0, 0, 0,    0,    0,    0,    0, 0, 0, 0};
  EXPECT_EQ(db.Record(0), want);
  EXPECT_EQ(V().settingsDb, db.db());
}

TEST_F(TextViewStateTest, SaveWritesTheRecordsAndALaterAttachRestoresThem) {
  MemDb db;
  OpenWith(db);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(Nav(TextViewNav::Percent, 50), kOk);  // remembers offset 0
  const std::uint32_t position = V().table.lines[0].start;
  ASSERT_GT(position, 0u);
  V().savedPosition = 0x1234;
  ASSERT_EQ(TextView_SetAnnotationPath(V(), u"C:\\a", 0), kOk);
  ASSERT_EQ(TextView_SaveReadingState(V()), kOk);
  ASSERT_EQ(db.Count(), 3);
  const Bytes header = db.Record(0);
  ASSERT_EQ(header.size(), 32u);
  EXPECT_EQ(header[0], 0x00);
  EXPECT_EQ(header[1], 0x20);
  EXPECT_EQ(
      Bytes(header.begin() + 4, header.begin() + 16),
      (Bytes{static_cast<std::uint8_t>(position >> 24), static_cast<std::uint8_t>(position >> 16),
             static_cast<std::uint8_t>(position >> 8), static_cast<std::uint8_t>(position), 0, 0,
             0x12, 0x34, 0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(header[24], 0x00);
  EXPECT_EQ(header[25], 0x02);
  EXPECT_EQ(db.Record(1), (Bytes{0x00, 0x04, 0x01, 0x01, 0, 0, 0, 0}));
  EXPECT_EQ(db.Record(2), (Bytes{0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x43, 0x3A, 0x5C, 0x61}));

  // A wide character switches the whole path to little-endian units.
  ASSERT_EQ(TextView_SetAnnotationPath(V(), u"C:\u0416", 0), kOk);
  ASSERT_EQ(TextView_SaveReadingState(V()), kOk);
  EXPECT_EQ(db.Record(2),
            (Bytes{0x00, 0x04, 0x00, 0x02, 0x00, 0x06, 0x43, 0x00, 0x3A, 0x00, 0x16, 0x04}));

  Close();
  db.Reopen();
  OpenWith(db);
  EXPECT_EQ(V().topOffset, position);
  EXPECT_EQ(V().savedPosition, 0x1234u);
  EXPECT_EQ(V().history.count, 1);
  EXPECT_EQ(V().history.position, 1);
  EXPECT_EQ(V().history.entries[0], 0u);
  ASSERT_NE(V().annotBinding, nullptr);
  EXPECT_EQ(std::u16string(V().annotBinding->path), u"C:\u0416");
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(V().table.lines[0].start, position);
}

TEST_F(TextViewStateTest, DestroyWithTheDatabaseAttachedSaves) {
  MemDb db;
  OpenWith(db);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(Nav(TextViewNav::Fraction, 512), kOk);
  const std::uint32_t position = V().table.lines[0].start;
  ASSERT_EQ(ViewOps().destroy(view_), kOk);
  view_ = nullptr;
  const Bytes header = db.Record(0);
  ASSERT_GE(header.size(), 8u);
  EXPECT_EQ(
      static_cast<std::uint32_t>(header[4] << 24 | header[5] << 16 | header[6] << 8 | header[7]),
      position);
}

TEST_F(TextViewStateTest, StoredHistoryIsCappedAndShortRecordsAreSkipped) {
  MemDb db;
  db.Append(Header(16, 0, 1));
  Bytes history = {0x00, 0x04, 20, 18};
  for (std::uint32_t i = 0; i < 20; ++i)
    history.insert(history.end(), {0, 0, 0, static_cast<std::uint8_t>(i)});
  db.Append(history);
  OpenWith(db);
  EXPECT_EQ(V().history.count, 16);
  EXPECT_EQ(V().history.position, 16);
  EXPECT_EQ(V().history.entries[15], 15u);

  // A count beyond the record leaves the list as it was; a short head is skipped.
  for (const Bytes& bad :
       {Bytes{0x00, 0x04, 5, 0, 0, 0, 0, 1}, Bytes{0x00, 0x02, 1, 0, 0, 0, 0, 1}, Bytes{0x00}}) {
    MemDb other;
    other.Append(Header(16, 0, 1));
    other.Append(bad);
    Close();
    OpenWith(other);
    EXPECT_EQ(V().history.count, 0);
    EXPECT_EQ(V().settingsDb, other.db()) << "a bad sub-record does not lose the database";
  }
}

TEST_F(TextViewStateTest, DamagedPathRecordsAreIgnored) {
  const std::vector<Bytes> bad = {
      {0x00, 0x04, 0x00, 0x00, 0x00},                          // under 6 bytes
      {0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x41, 0x41},        // odd head
      {0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x41},              // head below 4
      {0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},        // head not below size - 2
      {0x00, 0x04, 0x00, 0x00, 0x00, 0x09, 0x41},              // length past the record
      {0x00, 0x04, 0x00, 0x02, 0x00, 0x03, 0x41, 0x00, 0x42},  // odd wide length
  };
  for (const Bytes& record : bad) {
    MemDb db;
    db.Append(Header(32, 0, 0, 1));
    db.Append(record);
    Close();
    OpenWith(db);
    EXPECT_EQ(V().annotBinding, nullptr);
    EXPECT_EQ(V().settingsDb, db.db());
    // Saving with no path rewrites the damaged record in the empty form.
    ASSERT_EQ(TextView_SaveReadingState(V()), kOk);
    EXPECT_EQ(db.Record(1), (Bytes{0x00, 0x04, 0x00, 0x00, 0x00, 0x00}));
  }
}

TEST_F(TextViewStateTest, UnreadableStateForgetsTheDatabase) {
  for (const Bytes& header : {Bytes(10, 0), Header(16, 0) /* patched below */}) {
    MemDb db;
    Bytes h = header;
    if (h.size() >= 2) h[1] = 8;  // size field below 16
    db.Append(h);
    Close();
    OpenWith(db);
    EXPECT_EQ(V().settingsDb, nullptr);
    EXPECT_EQ(TextView_SaveReadingState(V()), kOk) << "nothing is saved for that document";
    EXPECT_EQ(db.Record(0), h) << "and nothing is lost";
  }
}

TEST_F(TextViewStateTest, ChangedDocumentOpensAtTheHandlersStart) {
  const std::string text = SampleText(300, 4);
  std::uint8_t start[16] = {};
  const std::uint16_t section = 0, year = 2024;
  const std::uint32_t offset = 700;
  std::memcpy(start, &section, 2);
  std::memcpy(start + 4, &offset, 4);
  std::memcpy(start + 8, &year, 2);
  start[10] = 5;  // month
  Hooks().haveStart = true;
  std::memcpy(Hooks().start, start, 16);
  MemDb db;
  OpenWith(db);  // a new header takes the stamp and the handler's start
  EXPECT_EQ(V().topOffset, offset);
  EXPECT_EQ(db.Record(0)[16], 0x07);
  EXPECT_EQ(db.Record(0)[17], 0xE8);
  EXPECT_EQ(db.Record(0)[18], 5);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(Nav(TextViewNav::Percent, 60), kOk);
  const std::uint32_t position = V().table.lines[0].start;
  ASSERT_EQ(TextView_SaveReadingState(V()), kOk);
  Close();
  OpenWith(db);
  EXPECT_EQ(V().topOffset, position) << "same stamp: the stored position";
  Close();
  Hooks().start[10] = 6;  // the document changed
  OpenWith(db);
  EXPECT_EQ(V().topOffset, offset) << "another stamp: the handler's start";
}

TEST_F(TextViewStateTest, PositionPastAShrunkFileLandsOnTheLastSection) {
  MemDb db;
  db.Append(Header(16, 5000000));
  const std::string text = SampleText(200, 4);
  Hooks().sectionStarts = {0, static_cast<std::uint32_t>(text.size() / 2)};
  OpenWith(db, 200);
  EXPECT_EQ(V().currentSection, 1);
  EXPECT_EQ(V().topOffset, V().sectionEnd);
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(V().table.lines[V().table.count].start, V().sectionEnd);
  EXPECT_EQ(V().table.bottom, V().textHeight);
}

TEST_F(TextViewStateTest, HeaderNeverShrinksAndInvalidRecordNumbersAreReplaced) {
  MemDb db;
  Bytes header = Header(32, 0, 0, 9);  // names a path record that does not exist
  header[2] = 0x00;
  header[3] = 0x07;  // a document record number past the count
  for (int i = 26; i < 32; ++i)
    header[i] = static_cast<std::uint8_t>(0xA0 + i);
  db.Append(header);
  OpenWith(db);
  ASSERT_EQ(TextView_SaveReadingState(V()), kOk);
  const Bytes saved = db.Record(0);
  ASSERT_EQ(saved.size(), 32u);
  EXPECT_EQ(saved[3], 0) << "an invalid document record number is cleared";
  for (int i = 26; i < 32; ++i)
    EXPECT_EQ(saved[i], 0xA0 + i) << "reserved bytes are kept";
  const std::uint16_t pathRecord = static_cast<std::uint16_t>(saved[24] << 8 | saved[25]);
  EXPECT_LT(pathRecord, db.Count())
      << "a missing path record is appended, not written past the end";
  EXPECT_EQ(db.Record(pathRecord), (Bytes{0x00, 0x04, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(TextViewStateTest, SubRecordNumbersNamingAnotherOwnersRecordAreReplaced) {
  // A damaged header names, as the history or the path record, the settings
  // store's document record (offset 2) or the user's list (offset 14).
  struct Case {
    const char* what;
    std::uint16_t history, path, docRecord, list;
  };
  const Case cases[] = {
      {"history is the document record", 1, 0, 1, 0},  {"path is the document record", 0, 1, 1, 0},
      {"history is the user's list", 2, 0, 1, 2},      {"path is the user's list", 0, 2, 1, 2},
      {"history and path share a record", 2, 2, 1, 0},
  };
  const Bytes docBytes(24, 0xD0), listBytes(12, 0x5A);
  for (const Case& c : cases) {
    MemDb db;
    Bytes header = Header(32, 0, c.history, c.path);
    header[3] = static_cast<std::uint8_t>(c.docRecord);
    header[15] = static_cast<std::uint8_t>(c.list);
    db.Append(header);
    db.Append(docBytes);
    db.Append(listBytes);
    Close();
    OpenWith(db);
    ASSERT_EQ(V().settingsDb, db.db()) << c.what;
    ASSERT_EQ(TextView_SetAnnotationPath(V(), u"C:\\a", 0), kOk);
    ASSERT_EQ(TextView_SaveReadingState(V()), kOk) << c.what;
    EXPECT_EQ(db.Record(1), docBytes) << c.what << ": the document record is untouched";
    const Bytes saved = db.Record(0);
    ASSERT_EQ(saved.size(), 32u);
    const std::uint16_t history = static_cast<std::uint16_t>(saved[12] << 8 | saved[13]);
    const std::uint16_t path = static_cast<std::uint16_t>(saved[24] << 8 | saved[25]);
    EXPECT_NE(history, 1) << c.what;
    EXPECT_NE(path, 1) << c.what;
    EXPECT_NE(history, path) << c.what;
    if (c.list != 0) {
      EXPECT_EQ(db.Record(c.list), listBytes) << c.what << ": the list record is untouched";
      EXPECT_NE(history, c.list) << c.what;
      EXPECT_NE(path, c.list) << c.what;
    }
    EXPECT_EQ(db.Record(history), (Bytes{0x00, 0x04, 0x00, 0x00})) << c.what;
    EXPECT_EQ(db.Record(path), (Bytes{0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x43, 0x3A, 0x5C, 0x61}))
        << c.what;
  }
}

}  // namespace
