#include "engine/formats/native_doc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/native_writer.h"
#include "tests/support/record_db_fixtures.h"

namespace {

using record_db_fixtures::MemDb;
using record_db_fixtures::ParseRecords;
namespace nw = native_writer;

// A handler opened on a database in memory. The handler is destroyed before
// the database is closed, as the shell does.
class NativeDocTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (handler_ != nullptr) {
      EXPECT_EQ(NativeDoc_Destroy(handler_), kOk);
    }
    handler_ = nullptr;
  }

  // Opens the handler (created on first use) on a new database; a handler
  // still open on the previous one is closed first, as the shell does.
  StatusCode Open(const std::string& file) {
    if (handler_ != nullptr && mem_ != nullptr) {
      EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::Close, nullptr, 0), kOk);
    }
    mem_ = std::make_unique<MemDb>(file);
    if (handler_ == nullptr) {
      EXPECT_EQ(NativeDoc_Create(&NativeDocModule, &handler_), kOk);
    }
    return NativeDoc_Command(handler_, DocCommand::OpenDatabase, mem_->db(), 0);
  }
  StatusCode Destroy() {
    const StatusCode s = NativeDoc_Destroy(handler_);
    handler_ = nullptr;
    return s;
  }
  NativeDocState& State() { return BodyOf<NativeDocState>(handler_); }

  void ExpectEmptyDocument() {
    const NativeDocState& s = State();
    EXPECT_EQ(s.recordCount, 0);
    EXPECT_EQ(s.record0.header.headerLength, 0);
    EXPECT_EQ(s.record0.header.blocksPerRecord, 0);
    for (std::uint32_t k = 0; k < kNativeRecordListSize; ++k)
      EXPECT_EQ(s.record0.recordList[k], 0);
    for (std::uint32_t k = 0; k < kNativeRangeCount; ++k) {
      EXPECT_EQ(s.record0.rangeStart[k], 0);
      EXPECT_EQ(s.record0.rangeCount[k], 0);
    }
    EXPECT_EQ(s.posLists[0].recordNumber, 0);
    EXPECT_EQ(s.posLists[1].recordNumber, 0);
  }

  std::unique_ptr<MemDb> mem_;
  EngineObject* handler_ = nullptr;
};

// A 78-byte database header with the given type and creator.
std::string DbHeader(const std::string& type, const std::string& creator) {
  return nw::Database({}, type, creator).substr(0, kDocProbeHeaderSize);
}

TEST(NativeDocProbe, HeaderInMemoryChecksTypeAndCreatorAndLength) {
  struct Case {
    const char* name;
    std::string header;
    std::uint32_t length;
    StatusCode expected;
  };
  const std::string good = DbHeader("KDoc", "KelX");
  const Case cases[] = {
      {"native", good, 78, kDocProbeMine},
      {"longer buffer", good + "xyz", 81, kDocProbeMine},
      {"one byte short", good, 77, kMalformed},
      {"Palm Doc type", DbHeader("TEXt", "KelX"), 78, kMalformed},
      {"other creator", DbHeader("KDoc", "REAd"), 78, kMalformed},
      {"case differs", DbHeader("KDoc", "kelx"), 78, kMalformed},
  };
  for (const Case& c : cases) {
    std::string bytes = c.header;
    // On the class, as the shell probes before creating a handler.
    EXPECT_EQ(NativeDoc_Command(&NativeDocModule, DocCommand::ProbeHeader, bytes.data(), c.length),
              c.expected)
        << c.name;
  }
  EXPECT_EQ(NativeDoc_Command(&NativeDocModule, DocCommand::ProbeHeader, nullptr, 78), kMalformed);
}

TEST(NativeDocProbe, StreamNeedsAllSeventyEightBytes) {
  for (const std::uint32_t length : {78u, 200u, 77u, 0u}) {
    std::string bytes = DbHeader("KDoc", "KelX") + std::string(122, 'z');
    bytes.resize(length);
    EngineObject* stream = nullptr;
    ASSERT_EQ(MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream), kOk);
    if (length > 0) {
      ASSERT_EQ(StreamOf(stream).writeAt(stream, 0, bytes.data(), length, nullptr), kOk);
    }
    EXPECT_EQ(NativeDoc_Command(&NativeDocModule, DocCommand::ProbeStream, stream, 0),
              length >= 78 ? kDocProbeMine : kMalformed)
        << length;
    EXPECT_EQ(StreamOf(stream).close(stream), kOk);
  }
}

TEST(NativeDocProbe, DatabaseObjectAnswersItsTypeAndCreator) {
  MemDb native(nw::Sample(1).Build());
  MemDb palm(nw::Database({"x"}, "TEXt", "REAd"));
  MemDb halfway(nw::Database({"x"}, "KDoc", "REAd"));
  EXPECT_EQ(NativeDoc_Command(&NativeDocModule, DocCommand::ProbeDatabase, native.db(), 0),
            kDocProbeMine);
  EXPECT_EQ(NativeDoc_Command(&NativeDocModule, DocCommand::ProbeDatabase, palm.db(), 0),
            kMalformed);
  EXPECT_EQ(NativeDoc_Command(&NativeDocModule, DocCommand::ProbeDatabase, halfway.db(), 0),
            kMalformed);
}

TEST_F(NativeDocTest, UnknownCommandsAreRefusedAndTheHighBitsIgnored) {
  ASSERT_EQ(Open(nw::Sample(2).Build()), kOk);
  for (const std::uint32_t code : {16u, 33u, 34u, 49u, 50u, 52u, 0xFFFFu})
    EXPECT_EQ(NativeDoc_Command(handler_, code, mem_->db(), 0), kMalformed) << code;
  // Only the low 16 bits select the command.
  EXPECT_EQ(NativeDoc_Command(handler_, 0x30000u | DocCommand::OpenDatabase, mem_->db(), 0), kOk);
  EXPECT_EQ(State().recordCount, 3);
}

TEST_F(NativeDocTest, ValidDocumentIsReadIntoNamedFields) {
  nw::Document d = nw::Sample(20);
  nw::Header& h = d.header;
  h.headerLength = 66;
  h.major = 3;
  h.minor = 12;
  h.check = 7;
  h.textLength = 0x01020304;
  h.blocksPerRecord = 8;
  h.sectionCount = 9;
  h.posList1 = 19;
  h.posList0 = 20;
  h.docFlags = 0x000D;
  h.major2 = 3;
  h.minor2 = 37;
  h.check2 = 0xF7;
  h.docBytes[0] = 0xAB;
  h.docBytes[1] = 0xCD;
  h.startSection = 4;
  h.charset = 106;
  h.nameHashRecords = 1;
  h.anchorRecords = 2;
  h.targetCodeRecords = 3;
  // The record list names only the string table, which opening does not read.
  d.directory = {{0, 0, 0, 8}, {1, 2, 3}, {4, 1, 1}};
  ASSERT_EQ(Open(d.Build()), kOk);

  const NativeDocState& s = State();
  EXPECT_EQ(s.recordCount, 21);
  const NativeDocHeader& got = s.record0.header;
  EXPECT_EQ(got.headerLength, 66);
  EXPECT_EQ(got.versionMajor, 3);
  EXPECT_EQ(got.versionMinor, 12);
  EXPECT_EQ(got.check, 7);
  EXPECT_EQ(got.textLength, 0x01020304u);
  EXPECT_EQ(got.blocksPerRecord, 8);
  EXPECT_EQ(got.sectionCount, 9);
  EXPECT_EQ(got.posList1Record, 19);
  EXPECT_EQ(got.posList0Record, 20);
  EXPECT_EQ(got.docFlags, 0x000D);
  EXPECT_EQ(got.version2Minor, 37);
  EXPECT_EQ(got.check2, 0xF7);
  EXPECT_EQ(got.docBytes[0], 0xAB);
  EXPECT_EQ(got.docBytes[1], 0xCD);
  EXPECT_EQ(got.startSection, 4);
  EXPECT_EQ(got.charset, 106);
  EXPECT_EQ(got.nameHashRecords, 1);
  EXPECT_EQ(got.anchorRecords, 2);
  EXPECT_EQ(got.targetCodeRecords, 3);
  // The stored copy is the record's first L bytes, zeros after.
  const std::string r0 = nw::Record0(d.header, d.directory);
  EXPECT_EQ(std::memcmp(s.record0.stored, r0.data(), 66), 0);
  for (std::uint32_t k = 66; k < kNativeHeaderCopy; ++k)
    EXPECT_EQ(s.record0.stored[k], 0) << k;

  EXPECT_EQ(s.posLists[0].recordNumber, 20);  // offset 34
  EXPECT_EQ(s.posLists[1].recordNumber, 19);  // offset 32
  EXPECT_EQ(s.charset, 106u);
  EXPECT_EQ(s.flags & NativeStateFlag::Utf16, 0);
  EXPECT_EQ(s.textRecord, kNativeNoRecord);
  ASSERT_NE(s.textDecoder, nullptr);
  for (const std::uint8_t* page : s.page) {
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page[kNativeBlockSize], 0);
  }
  const std::uint16_t list[4] = {0, 0, 0, 8};
  EXPECT_EQ(std::memcmp(s.record0.recordList, list, sizeof list), 0);
  EXPECT_EQ(s.record0.rangeStart[0], 1);
  EXPECT_EQ(s.record0.rangeCount[0], 4);
  EXPECT_EQ(s.record0.rangeStart[2], 3);
  EXPECT_EQ(s.record0.rangeCount[2], 1);
  for (std::uint32_t k = 3; k < kNativeRangeCount; ++k)
    EXPECT_EQ(s.record0.rangeStart[k] | s.record0.rangeCount[k], 0) << k;
}

// Versions, header lengths and directory shapes that open.
TEST_F(NativeDocTest, VersionsAndDirectoryShapesThatOpen) {
  struct Case {
    const char* name;
    std::function<void(nw::Document&)> edit;
    std::vector<std::uint16_t> list;    // expected record list
    std::vector<std::uint16_t> starts;  // expected first range starts (rest 0)
    std::vector<std::uint16_t> counts;
  };
  const Case cases[] = {
      {"3.00, empty directory", [](nw::Document&) {}, {}, {}, {}},
      {"3.37 in both places",
       [](nw::Document& d) { d.header.minor = d.header.minor2 = 37; },
       {},
       {},
       {}},
      {"second version 2.99 is not checked",
       [](nw::Document& d) {
         d.header.major2 = 2;
         d.header.minor2 = 99;
       },
       {},
       {},
       {}},
      {"second version 0.0",
       [](nw::Document& d) { d.header.major2 = d.header.minor2 = 0; },
       {},
       {},
       {}},
      {"full record list and range table",
       [](nw::Document& d) {
         d.directory.recordList = {1, 2, 3, 10};
         for (std::uint16_t k = 0; k < 18; ++k) {
           d.directory.rangeStarts.push_back(static_cast<std::uint16_t>(k + 1));
           d.directory.rangeCounts.push_back(static_cast<std::uint16_t>(10 - k / 2));
         }
       },
       {1, 2, 3, 10},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18},
       {10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2}},
      // Entries past the first 4 and 18 are skipped unchecked; the counts
      // follow all m starts.
      {"more entries than kept",
       [](nw::Document& d) {
         d.directory.recordList = {4, 3, 2, 1, 999, 65535};
         d.directory.rangeStarts.assign(20, 2);
         d.directory.rangeStarts[18] = 5000;
         d.directory.rangeCounts.assign(20, 7);
         d.directory.rangeCounts[0] = 1;
         d.directory.rangeCounts[19] = 9000;
       },
       {4, 3, 2, 1},
       std::vector<std::uint16_t>(18, 2),
       {1, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},
      {"ranges ending at the last record",
       [](nw::Document& d) {
         d.directory.rangeStarts = {0, 20};
         d.directory.rangeCounts = {21, 1};
       },
       {},
       {0, 20},
       {21, 1}},
      {"fewer entries than kept",
       [](nw::Document& d) {
         d.directory.recordList = {7};
         d.directory.rangeStarts = {3};
         d.directory.rangeCounts = {2};
       },
       {7},
       {3},
       {2}},
      {"header length 64", [](nw::Document& d) { d.header.headerLength = 64; }, {}, {}, {}},
      {"header length 128", [](nw::Document& d) { d.header.headerLength = 128; }, {}, {}, {}},
      {"header length 300 with a directory",
       [](nw::Document& d) {
         d.header.headerLength = 300;
         d.directory.recordList = {9, 9};
         d.directory.rangeStarts = {4};
         d.directory.rangeCounts = {3};
       },
       {9, 9},
       {4},
       {3}},
      {"odd header length 65", [](nw::Document& d) { d.header.headerLength = 65; }, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    nw::Document d = nw::Sample(20);
    c.edit(d);
    // The directory's shape is checked on record 0 alone: the sample's
    // records are not the tables and lists a full directory names.
    const std::string r0 = nw::Record0(d.header, d.directory);
    NativeRecord0 got{};
    ASSERT_EQ(NativeDoc_CheckRecord0(reinterpret_cast<const std::uint8_t*>(r0.data()),
                                     static_cast<std::uint32_t>(r0.size()), 21, &got),
              kOk);
    EXPECT_EQ(got.header.headerLength, d.header.headerLength);
    for (std::uint32_t k = 0; k < kNativeRecordListSize; ++k)
      EXPECT_EQ(got.recordList[k], k < c.list.size() ? c.list[k] : 0) << "list " << k;
    for (std::uint32_t k = 0; k < kNativeRangeCount; ++k) {
      EXPECT_EQ(got.rangeStart[k], k < c.starts.size() ? c.starts[k] : 0) << "start " << k;
      EXPECT_EQ(got.rangeCount[k], k < c.counts.size() ? c.counts[k] : 0) << "count " << k;
    }
    if (c.list.empty()) {
      ASSERT_EQ(Open(d.Build()), kOk);
      EXPECT_EQ(State().recordCount, 21);
      EXPECT_EQ(std::memcmp(&State().record0, &got, sizeof got), 0);
    }
  }
}

TEST_F(NativeDocTest, FieldsAtOrPastTheHeaderLengthReadAsZero) {
  nw::Document d = nw::Sample(3);
  d.header.headerLength = 64;
  d.header.targetCodeRecords = 0x1234;    // at 64: cut off by L
  d.directory.recordList = {0, 0, 0, 2};  // n = 4 stands at offset 64
  ASSERT_EQ(Open(d.Build()), kOk);
  EXPECT_EQ(State().record0.header.targetCodeRecords, 0);
  EXPECT_EQ(State().record0.recordList[3], 2);
  for (std::uint32_t k = 64; k < kNativeHeaderCopy; ++k)
    ASSERT_EQ(State().record0.stored[k], 0) << k;
}

// Each rule on opening, broken once. A newer version is refused; every other
// broken rule opens a document with no records.
TEST_F(NativeDocTest, MalformedRecordZeroTable) {
  using Edit = std::function<void(nw::Document&, std::string & record0)>;
  auto header = [](std::function<void(nw::Header&)> f) -> Edit {
    return [f](nw::Document& d, std::string& r0) {
      f(d.header);
      r0 = nw::Record0(d.header, d.directory);
    };
  };
  auto directory = [](std::function<void(nw::Directory&)> f) -> Edit {
    return [f](nw::Document& d, std::string& r0) {
      f(d.directory);
      r0 = nw::Record0(d.header, d.directory);
    };
  };
  struct Case {
    const char* name;
    Edit edit;
    StatusCode expected;
  };
  const Case cases[] = {
      {"version 3.38", header([](nw::Header& h) { h.minor = 38; }), kDocNewerVersion},
      {"version 4.0", header([](nw::Header& h) { h.major = 4; }), kDocNewerVersion},
      {"version 255.255", header([](nw::Header& h) { h.major = h.minor = 255; }), kDocNewerVersion},
      {"second version 3.38", header([](nw::Header& h) { h.minor2 = 38; }), kDocNewerVersion},
      {"second version 4.0", header([](nw::Header& h) { h.major2 = 4; }), kDocNewerVersion},
      // The versions are checked before anything else.
      {"newer version with a bad magic", header([](nw::Header& h) {
         h.minor = 40;
         h.magic = "nothis";
       }),
       kDocNewerVersion},
      {"newer second version in a 50-byte record",
       [](nw::Document& d, std::string& r0) {
         d.header.major2 = 4;
         r0 = nw::Record0(d.header, d.directory).substr(0, 50);
       },
       kDocNewerVersion},
      {"version 2.x", header([](nw::Header& h) { h.major = 2; }), kOk},
      {"version 0.0", header([](nw::Header& h) { h.major = h.minor = 0; }), kOk},
      {"header length 63", header([](nw::Header& h) { h.headerLength = 63; }), kOk},
      {"header length 0", [](nw::Document&, std::string& r0) { nw::PutBE16(r0, 0, 0); }, kOk},
      {"record shorter than 64 bytes",
       [](nw::Document& d, std::string& r0) {
         r0 = nw::Record0(d.header, d.directory).substr(0, 63);
       },
       kOk},
      {"record of 3 bytes",
       [](nw::Document&, std::string& r0) { r0 = std::string("\x00\x40\x03", 3); }, kOk},
      {"empty record 0", [](nw::Document&, std::string& r0) { r0.clear(); }, kOk},
      {"record ends at L + 1",
       [](nw::Document& d, std::string& r0) { r0 = nw::HeaderBytes(d.header) + "x"; }, kOk},
      {"header length past the record",
       [](nw::Document&, std::string& r0) { nw::PutBE16(r0, 0, 0xFFFF); }, kOk},
      {"check byte 2", header([](nw::Header& h) { h.check = 2; }), kOk},
      {"magic", header([](nw::Header& h) { h.magic = "isKelq"; }), kOk},
      {"magic case", header([](nw::Header& h) { h.magic = "IsKelp"; }), kOk},
      {"no blocks per record", header([](nw::Header& h) { h.blocksPerRecord = 0; }), kOk},
      {"second check byte 0xE0", header([](nw::Header& h) { h.check2 = 0xE0; }), kOk},
      {"second check byte 0x0F", header([](nw::Header& h) { h.check2 = 0x0F; }), kOk},
      // Directory bounds.
      {"record list runs past the record",
       [](nw::Document& d, std::string& r0) {
         r0 = nw::HeaderBytes(d.header);
         r0 += std::string("\x00\x03\x00\x01\x00\x02", 6);  // n = 3, two numbers
       },
       kOk},
      {"record list count 0xFFFF",
       [](nw::Document& d, std::string& r0) {
         r0 = nw::HeaderBytes(d.header) + std::string("\xFF\xFF\x00\x00", 4);
       },
       kOk},
      {"no range table after the record list",
       [](nw::Document& d, std::string& r0) {
         r0 = nw::HeaderBytes(d.header) + std::string("\x00\x01\x00\x02", 4);
       },
       kOk},
      {"range counts cut short by one byte",
       [](nw::Document& d, std::string& r0) {
         d.directory.rangeStarts = {1, 2};
         d.directory.rangeCounts = {1, 1};
         r0 = nw::Record0(d.header, d.directory);
         r0.pop_back();
       },
       kOk},
      {"range count 0xFFFF",
       [](nw::Document& d, std::string& r0) {
         r0 = nw::HeaderBytes(d.header) + std::string("\x00\x00\xFF\xFF\x00\x00", 6);
       },
       kOk},
      {"record list entry equal to the record count", directory([](nw::Directory& dir) {
         dir.recordList = {1, 2, 6};
       }),
       kOk},
      {"fourth record list entry too large", directory([](nw::Directory& dir) {
         dir.recordList = {1, 2, 3, 0xFFFF};
       }),
       kOk},
      {"range start equal to the record count", directory([](nw::Directory& dir) {
         dir.rangeStarts = {0, 6};
         dir.rangeCounts = {0, 0};
       }),
       kOk},
      {"range past the last record", directory([](nw::Directory& dir) {
         dir.rangeStarts = {3};
         dir.rangeCounts = {4};
       }),
       kOk},
      {"range count that wraps 16 bits", directory([](nw::Directory& dir) {
         dir.rangeStarts = {1};
         dir.rangeCounts = {0xFFFF};
       }),
       kOk},
      {"eighteenth range out of bounds", directory([](nw::Directory& dir) {
         dir.rangeStarts.assign(18, 1);
         dir.rangeCounts.assign(18, 1);
         dir.rangeCounts[17] = 6;
       }),
       kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    nw::Document d = nw::Sample(5);
    std::string r0 = nw::Record0(d.header, d.directory);
    c.edit(d, r0);
    std::vector<std::string> records = d.AllRecords();
    records[0] = r0;
    if (handler_ != nullptr) {
      ASSERT_EQ(Destroy(), kOk);
    }
    EXPECT_EQ(Open(nw::Database(records)), c.expected);
    ExpectEmptyDocument();
    // An empty document still closes cleanly and writes nothing.
    EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::Close, nullptr, 0), kOk);
    ASSERT_EQ(Destroy(), kOk);
    EXPECT_EQ(ParseRecords(mem_->CloseAndRead())[0], r0);
  }
}

TEST(NativeDocCheck, RecordZeroIsCheckedWithoutAHandler) {
  nw::Document d = nw::Sample(4);
  d.directory = {{1, 2}, {1}, {3}};
  const std::string r0 = nw::Record0(d.header, d.directory);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(r0.data());
  NativeRecord0 out{};
  out.recordList[0] = 77;
  // A database of 3 records cannot hold the range [1, 4).
  EXPECT_EQ(NativeDoc_CheckRecord0(bytes, static_cast<std::uint32_t>(r0.size()), 3, &out),
            kDocMalformed);
  EXPECT_EQ(out.recordList[0], 77);  // untouched on failure
  ASSERT_EQ(NativeDoc_CheckRecord0(bytes, static_cast<std::uint32_t>(r0.size()), 4, &out), kOk);
  EXPECT_EQ(out.recordList[1], 2);
  EXPECT_EQ(out.rangeCount[0], 3);
  EXPECT_EQ(NativeDoc_CheckRecord0(nullptr, 100, 4, &out), kDocMalformed);
}

// Every prefix of a valid record 0, each in a buffer of exactly its size, so
// a read past the record is caught by the address sanitizer.
TEST(NativeDocCheck, TruncatedRecordZeroIsNeverReadPastItsEnd) {
  nw::Document d = nw::Sample(9);
  d.header.headerLength = 70;
  d.directory = {{1, 2, 3}, {1, 2, 3}, {1, 1, 1}};
  const std::string r0 = nw::Record0(d.header, d.directory);
  for (std::size_t length = 0; length <= r0.size(); ++length) {
    const std::vector<std::uint8_t> bytes(r0.begin(), r0.begin() + static_cast<long>(length));
    NativeRecord0 out{};
    const std::uint8_t* data = bytes.empty() ? nullptr : bytes.data();
    EXPECT_EQ(NativeDoc_CheckRecord0(data, static_cast<std::uint32_t>(length), 10, &out),
              length == r0.size() ? kOk : kDocMalformed)
        << length;
  }
}

TEST_F(NativeDocTest, DatabaseWithoutRecordsOpensEmpty) {
  ASSERT_EQ(Open(nw::Database({})), kOk);
  ExpectEmptyDocument();
  EXPECT_NE(State().textDecoder, nullptr);
}

TEST_F(NativeDocTest, UtfSixteenCharsetsSetTheStateFlag) {
  const std::pair<std::uint16_t, bool> cases[] = {
      {1013, true},  {1014, true}, {1015, true}, {1012, false},
      {1016, false}, {106, false}, {0, false},
  };
  for (const auto& [mib, utf16] : cases) {
    nw::Document d = nw::Sample(1);
    d.header.charset = mib;
    ASSERT_EQ(Open(d.Build()), kOk) << mib;  // reopening the same handler each time
    EXPECT_EQ((State().flags & NativeStateFlag::Utf16) != 0, utf16) << mib;
    EXPECT_EQ(State().charset, mib);
  }
}

TEST(NativeStore, FetchRecordChecksTheRecordHeader) {
  struct Case {
    const char* name;
    std::string record;
    std::uint8_t type;
    StatusCode expected;
  };
  const Case cases[] = {
      {"shortest record", nw::Record(6, ""), 6, kOk},
      {"longer header", nw::Record(11, "data", 9), 11, kOk},
      {"header length equal to the size", nw::Record(3, "", 7), 3, kOk},
      {"header length equal to the size, with data", nw::Record(3, "abc", 7), 3, kOk},
      {"wrong type", nw::Record(6, "data"), 3, kDocMalformed},
      {"header length 3", nw::Record(6, "data", 3), 6, kDocMalformed},
      {"header length 0", nw::Record(6, "data", 0), 6, kDocMalformed},
      {"header length past the record", std::string("\x07\x06\x00\x00\x00\x00", 6), 6,
       kDocMalformed},
      {"3 bytes", std::string("\x03\x06\x00", 3), 6, kDocMalformed},
      {"empty record", "", 0, kDocMalformed},
  };
  std::vector<std::string> records = {nw::Record0({}, {})};
  for (const Case& c : cases)
    records.push_back(c.record);
  MemDb mem(nw::Database(records));
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    std::uint32_t size = 0xDEAD;
    const std::uint8_t* data = nullptr;
    EXPECT_EQ(
        NativeStore_FetchRecord(mem.db(), c.type, static_cast<std::uint16_t>(k + 1), &size, &data),
        c.expected)
        << c.name;
    if (c.expected == kOk) {
      EXPECT_EQ(size, c.record.size()) << c.name;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), c.record) << c.name;
      EXPECT_EQ(NativeStore_ReleaseRecord(mem.db(), data), kOk);
    } else {
      EXPECT_EQ(size, 0xDEADu) << c.name;
      EXPECT_EQ(data, nullptr) << c.name;
    }
  }
  std::uint32_t size = 0;
  const std::uint8_t* data = nullptr;
  EXPECT_EQ(NativeStore_FetchRecord(mem.db(), 0, 200, &size, &data), kDbFileIndexOutOfRange);
  EXPECT_EQ(NativeStore_FetchRecord(nullptr, 0, 1, &size, &data), kDocMalformed);
  // Every refused record was given back: the database closes (MemDb
  // expects the close to succeed).
  mem.CloseAndRead();
}

TEST_F(NativeDocTest, SectionPolicyAndCountComeFromTheHeader) {
  const struct {
    std::uint16_t flags;
    std::uint16_t sections;
    std::uint16_t policy;
    std::uint16_t count;
  } cases[] = {
      {0, 1, 1, 1}, {1, 7, 0, 7}, {2, 7, 2, 7}, {3, 7, 0, 7}, {0xFFFC, 0, 1, 1},
  };
  for (const auto& c : cases) {
    nw::Document d = nw::Sample(1);
    d.header.docFlags = c.flags;
    d.header.sectionCount = c.sections;
    ASSERT_EQ(Open(d.Build()), kOk);
    std::uint16_t policy = 99, count = 99;
    ASSERT_EQ(DocOpsOf(handler_).getSectionInfo(handler_, &policy, &count), kOk);
    EXPECT_EQ(policy, c.policy) << c.flags;
    EXPECT_EQ(count, c.count) << c.sections;
  }
  EXPECT_EQ(DocOpsOf(handler_).getSectionInfo(handler_, nullptr, nullptr), kOk);
}

TEST_F(NativeDocTest, ControlsTableLayoutFlagAndCommonCodes) {
  ASSERT_EQ(Open(nw::Sample(1).Build()), kOk);
  const DocHandlerOps& ops = DocOpsOf(handler_);
  EXPECT_EQ(ops.control(handler_, DocControl::SetInSlice, 0, nullptr), kOk);
  EXPECT_NE(State().flags & NativeStateFlag::TableLayout, 0);
  EXPECT_EQ(ops.control(handler_, DocControl::ClearInSlice, 0, nullptr), kOk);
  EXPECT_EQ(State().flags & NativeStateFlag::TableLayout, 0);
  std::uint16_t charset = 0;
  EXPECT_EQ(ops.control(handler_, DocControl::GetCharset, 0, &charset), kOk);
  EXPECT_EQ(charset, kDefaultDocCharset);
  EXPECT_EQ(ops.control(handler_, DocControl::SetCharset, 106, nullptr), kOk);
  EXPECT_EQ(ops.control(handler_, DocControl::GetCharset, 0, &charset), kOk);
  EXPECT_EQ(charset, 106);
  EXPECT_EQ(ops.control(handler_, 99, 0, nullptr), kNotSupported);
  EXPECT_EQ(ops.backgroundStep(handler_), kDocStepDone);
}

// ---------------------------------------------------------------------------
// Write-back of record 0.

// A document whose record 0 has a 140-byte header (so bytes past 128 are
// never rewritten), position lists in records 2 and 3 and a directory.
nw::Document WriteBackDocument() {
  nw::Document d = nw::Sample(4);
  d.header.headerLength = 140;
  d.header.posList1 = 2;
  d.header.posList0 = 3;
  d.directory = {{0, 0, 0, 4}, {1, 2}, {2, 2}};
  d.records[1] = std::string("\x00\x08\x00\x00\x00\x00\x00\x00", 8);  // empty lists
  d.records[2] = d.records[1];
  return d;
}

TEST_F(NativeDocTest, UnchangedListsWriteNothing) {
  const std::string file = WriteBackDocument().Build();
  ASSERT_EQ(Open(file), kOk);
  ASSERT_EQ(PosList_Lock(mem_->db(), &State().posLists[0]), kOk);  // held at close
  EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::Close, nullptr, 0), kOk);
  EXPECT_EQ(State().db, nullptr);
  EXPECT_EQ(State().posLists[0].lockCount, 0);
  ASSERT_EQ(Destroy(), kOk);
  EXPECT_EQ(mem_->CloseAndRead(), file);
}

// On a database opened read-only, any write would make its close fail.
TEST(NativeDocWriteBack, ReadOnlyDatabaseIsNeverWrittenWhenNothingChanged) {
  std::string file = WriteBackDocument().Build();
  EngineObject* stream = nullptr;
  ASSERT_EQ(
      MemStream_Create(g_MemStreamModule, file.data(), static_cast<std::uint32_t>(file.size()),
                       static_cast<std::uint32_t>(file.size()), kMemCreateCallerOwns, &stream),
      kOk);
  EngineObject* db = nullptr;
  ASSERT_EQ(DbFile_Open(g_DbFileModule, stream, kDbOpenRead, &db), kOk);
  EngineObject* handler = nullptr;
  ASSERT_EQ(NativeDoc_Create(&NativeDocModule, &handler), kOk);
  ASSERT_EQ(NativeDoc_Command(handler, DocCommand::OpenDatabase, db, 0), kOk);
  EXPECT_EQ(BodyOf<NativeDocState>(handler).recordCount, 5);
  EXPECT_EQ(NativeDoc_Command(handler, DocCommand::Close, nullptr, 0), kOk);
  EXPECT_EQ(NativeDoc_Command(handler, DocCommand::OpenDatabase, db, 0), kOk);
  EXPECT_EQ(NativeDoc_Destroy(handler), kOk);
  EXPECT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(StreamOf(stream).close(stream), kOk);
}

TEST_F(NativeDocTest, NewListRecordIsWrittenIntoRecordZeroOnDestroy) {
  nw::Document d = WriteBackDocument();
  d.header.posList0 = 0;  // list 0 has no record yet
  const std::string before = nw::Record0(d.header, d.directory);
  ASSERT_EQ(Open(d.Build()), kOk);
  ASSERT_EQ(PosList_Insert(mem_->db(), &State().posLists[0], 0, "chapter", 42), kOk);
  ASSERT_EQ(State().posLists[0].recordNumber, 5);  // appended after the 5 records
  ASSERT_EQ(Destroy(), kOk);

  const std::vector<std::string> records = ParseRecords(mem_->CloseAndRead());
  ASSERT_EQ(records.size(), 6u);
  std::string expected = before;
  nw::PutBE16(expected, 34, 5);
  EXPECT_EQ(records[0], expected);  // bytes 0-1, 36.. and the directory unchanged
}

TEST_F(NativeDocTest, CloseWritesBackBeforeForgettingTheDatabase) {
  nw::Document d = WriteBackDocument();
  d.header.posList1 = 0;
  const std::string before = nw::Record0(d.header, d.directory);
  ASSERT_EQ(Open(d.Build()), kOk);
  ASSERT_EQ(PosList_Insert(mem_->db(), &State().posLists[1], 0, "note", 7), kOk);
  EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::Close, nullptr, 0), kOk);
  // Destroy after close neither writes again nor clears the stored number.
  ASSERT_EQ(Destroy(), kOk);
  std::string expected = before;
  nw::PutBE16(expected, 32, 5);
  EXPECT_EQ(ParseRecords(mem_->CloseAndRead())[0], expected);
}

TEST_F(NativeDocTest, WriteBackCoversOnlyTheHeaderUpToItsLength) {
  for (const std::uint16_t L : {64, 66, 127, 128}) {
    nw::Document d = WriteBackDocument();
    d.header.headerLength = L;
    d.header.posList0 = 0;
    d.header.posList1 = 0;
    const std::string before = nw::Record0(d.header, d.directory);
    ASSERT_EQ(Open(d.Build()), kOk);
    State().posLists[0].recordNumber = 0x0102;  // as a list insert would leave it
    State().posLists[1].recordNumber = 0x0304;
    ASSERT_EQ(Destroy(), kOk);
    std::string expected = before;
    nw::PutBE16(expected, 32, 0x0304);
    nw::PutBE16(expected, 34, 0x0102);
    EXPECT_EQ(ParseRecords(mem_->CloseAndRead())[0], expected) << L;
  }
}

TEST_F(NativeDocTest, AReopenClosesThenReplacesAndTheDocumentIsReadFromTheNewDatabase) {
  nw::Document d = WriteBackDocument();
  const std::string file = d.Build();
  ASSERT_EQ(Open(file), kOk);
  const NativeRecord0 opened = State().record0;
  // What the shell's reopen in another mode sends: Close, then the new one.
  ASSERT_EQ(NativeDoc_Command(handler_, DocCommand::Close, nullptr, 0), kOk);
  EXPECT_EQ(State().recordCount, 0);
  MemDb again(file);
  ASSERT_EQ(NativeDoc_Command(handler_, DocCommand::ReplaceDatabase, again.db(), 0), kOk);
  EXPECT_EQ(State().db, again.db());
  EXPECT_EQ(State().recordCount, 5);
  EXPECT_EQ(std::memcmp(State().record0.stored, opened.stored, sizeof opened.stored), 0);
  ASSERT_EQ(Destroy(), kOk);
  EXPECT_EQ(again.CloseAndRead(), file);
}

TEST_F(NativeDocTest, ReplacedDatabaseGetsTheWriteBackAndTheOldOneItsRecords) {
  nw::Document d = WriteBackDocument();
  const std::string file = d.Build();
  ASSERT_EQ(Open(file), kOk);
  ASSERT_EQ(PosList_Lock(mem_->db(), &State().posLists[1]), kOk);
  MemDb again(file);
  EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::ReplaceDatabase, again.db(), 0), kOk);
  EXPECT_EQ(State().db, again.db());
  EXPECT_EQ(State().recordCount, 5);
  // The lent list record went back to the old database, which now closes.
  EXPECT_EQ(mem_->CloseAndRead(), file);
  State().posLists[0].recordNumber = 4;
  EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::ReplaceDatabase, nullptr, 0), kBadArgument);
  ASSERT_EQ(Destroy(), kOk);
  std::string expected = nw::Record0(d.header, d.directory);
  nw::PutBE16(expected, 34, 4);
  EXPECT_EQ(ParseRecords(again.CloseAndRead())[0], expected);
}

TEST_F(NativeDocTest, ReopeningClosesTheFirstDocument) {
  nw::Document first = WriteBackDocument();
  first.header.posList0 = 0;
  ASSERT_EQ(Open(first.Build()), kOk);
  std::unique_ptr<MemDb> firstDb = std::move(mem_);
  ASSERT_EQ(PosList_Insert(firstDb->db(), &State().posLists[0], 0, "a", 1), kOk);
  DeflateDataDecoder* decoder = State().textDecoder;

  nw::Document second = nw::Sample(9);
  second.header.textLength = 999;
  ASSERT_EQ(Open(second.Build()), kOk);
  EXPECT_EQ(State().recordCount, 10);
  EXPECT_EQ(State().record0.header.textLength, 999u);
  EXPECT_EQ(State().posLists[0].recordNumber, 0);
  EXPECT_EQ(State().textDecoder, decoder);  // kept, not allocated again
  EXPECT_EQ(nw::GetBE16(ParseRecords(firstDb->CloseAndRead())[0], 34), 5);
}

TEST_F(NativeDocTest, AllocationFailuresAreReportedAndLeaveNothingBehind) {
  {
    const LargeBlocksRefused refuse(1);
    EngineObject* h = nullptr;
    EXPECT_EQ(NativeDoc_Create(&NativeDocModule, &h), kOutOfMemory);
    EXPECT_EQ(h, nullptr);
  }
  ASSERT_EQ(NativeDoc_Create(&NativeDocModule, &handler_), kOk);
  mem_ = std::make_unique<MemDb>(nw::Sample(2).Build());
  {
    const LargeBlocksRefused refuse(kNativePageBuffer);
    EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::OpenDatabase, mem_->db(), 0), kOutOfMemory);
    EXPECT_EQ(State().page[0], nullptr);
    EXPECT_EQ(State().page[1], nullptr);
    EXPECT_EQ(State().recordCount, 0);
  }
  EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::OpenDatabase, mem_->db(), 0), kOk);
  EXPECT_EQ(State().recordCount, 3);
}

}  // namespace
