#include "engine/runtime/db_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"

namespace {

using test_streams::Contents;
using test_streams::FaultyStream;
using test_streams::PosixFileStream;

// ---- an independent writer and reader of the byte layout ----------------------

void PutBE(std::string& out, std::uint32_t v, int bytes) {
  for (int k = bytes - 1; k >= 0; --k)
    out.push_back(static_cast<char>(v >> (8 * k)));
}
std::uint32_t GetBE(const std::string& in, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int k = 0; k < bytes; ++k)
    v = (v << 8) | static_cast<unsigned char>(in.at(at + k));
  return v;
}

struct Entry {
  std::uint32_t offset;
  std::uint8_t attributes;
  std::uint32_t id;
};

// A database with the records stored in order; offsets override the computed
// ones when given (for damaged tables).
std::string BuildDb(const std::vector<std::string>& records,
                    const std::vector<std::uint32_t>& offsets = {}, const std::string& name = "db",
                    const std::string& type = "DATA", const std::string& creator = "test") {
  std::string out = name;
  out.resize(32, '\0');
  PutBE(out, 0x0008, 2);  // attributes
  PutBE(out, 3, 2);       // version
  PutBE(out, 100, 4);     // creation
  PutBE(out, 200, 4);     // modification
  PutBE(out, 300, 4);     // backup
  PutBE(out, 7, 4);       // modification number
  PutBE(out, 0, 4);       // app info
  PutBE(out, 0, 4);       // sort info
  out += type;
  out += creator;
  PutBE(out, 0x1234, 4);  // unique-id seed
  PutBE(out, 0, 4);       // next record list
  PutBE(out, static_cast<std::uint32_t>(records.size()), 2);
  std::uint32_t at = 78 + 8 * static_cast<std::uint32_t>(records.size()) + 2;
  for (std::size_t i = 0; i < records.size(); ++i) {
    PutBE(out, i < offsets.size() ? offsets[i] : at, 4);
    out.push_back(static_cast<char>(0x40 + i));  // attributes
    PutBE(out, 0x500 + static_cast<std::uint32_t>(i), 3);
    at += static_cast<std::uint32_t>(records[i].size());
  }
  out += std::string(2, '\0');
  for (const auto& r : records)
    out += r;
  return out;
}

struct ParsedDb {
  std::string name, type, creator;
  std::uint16_t attributes = 0, version = 0;
  std::uint32_t creation = 0, modification = 0, backup = 0, seed = 0;
  std::vector<Entry> entries;
  std::vector<std::string> records;
};

ParsedDb ParseDb(const std::string& f) {
  ParsedDb p;
  p.name = f.substr(0, 32).c_str();
  p.attributes = static_cast<std::uint16_t>(GetBE(f, 32, 2));
  p.version = static_cast<std::uint16_t>(GetBE(f, 34, 2));
  p.creation = GetBE(f, 36, 4);
  p.modification = GetBE(f, 40, 4);
  p.backup = GetBE(f, 44, 4);
  p.type = f.substr(60, 4);
  p.creator = f.substr(64, 4);
  p.seed = GetBE(f, 68, 4);
  const std::uint32_t n = GetBE(f, 76, 2);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::size_t at = 78 + 8 * i;
    p.entries.push_back(
        {GetBE(f, at, 4), static_cast<std::uint8_t>(f.at(at + 4)), GetBE(f, at + 5, 3)});
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t from = p.entries[i].offset;
    const std::uint32_t to = i + 1 < n ? p.entries[i + 1].offset : f.size();
    p.records.push_back(to > from ? f.substr(from, to - from) : std::string());
  }
  return p;
}

// ---- helpers over the engine --------------------------------------------------------

const DbFileOps& Ops() {
  return OpsOf<DbFileOps>(g_DbFileModule);
}

struct DbCloser {
  // Tests that expect a particular close status close explicitly.
  void operator()(EngineObject* db) const noexcept { (void)DbFile_Close(db); }
};
using DbPtr = std::unique_ptr<EngineObject, DbCloser>;

EngineObject* OpenOn(EngineObject* stream, std::uint32_t mode = kDbOpenWrite) {
  EngineObject* db = nullptr;
  EXPECT_EQ(Ops().open(g_DbFileModule, stream, mode, &db), kOk);
  return db;
}

std::string Record(EngineObject* db, std::uint16_t index) {
  std::uint32_t size = 0;
  void* buffer = nullptr;
  const StatusCode s = DbFile_ReadRecord(db, index, &size, &buffer);
  EXPECT_EQ(s, kOk) << "record " << index;
  if (s != kOk) return "<fail>";
  std::string out(static_cast<const char*>(buffer), buffer ? size : 0);
  EXPECT_EQ(DbFile_FreeRecordBuffer(db, buffer), kOk);
  return out;
}

std::vector<std::string> AllRecords(EngineObject* db) {
  std::uint16_t count = 0;
  EXPECT_EQ(DbFile_GetInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count), kOk);
  std::vector<std::string> out;
  for (std::uint16_t i = 0; i < count; ++i)
    out.push_back(Record(db, i));
  return out;
}

using Records = std::vector<std::string>;

// ---- format and creation ----------------------------------------------------------

TEST(DbFileFormat, CreateNewWritesAnEightyByteDatabase) {
  FaultyStream fs(std::string(300, 'x'));
  const std::uint8_t type[4] = {'K', 'D', 'o', 'c'};
  ASSERT_EQ(Ops().createNew(g_DbFileModule, fs.get(), "a-name-well-over-thirty-one-chars-long",
                            type, reinterpret_cast<const std::uint8_t*>("KelX")),
            kOk);
  const std::string bytes = fs.Bytes();
  ASSERT_EQ(bytes.size(), 80u);
  const ParsedDb p = ParseDb(bytes);
  EXPECT_EQ(p.name, "a-name-well-over-thirty-one-cha");
  EXPECT_EQ(bytes[31], '\0');
  EXPECT_EQ(p.creation, 1u);
  EXPECT_EQ(p.modification, 1u);
  EXPECT_EQ(p.type, "KDoc");
  EXPECT_EQ(p.creator, "KelX");
  EXPECT_TRUE(p.entries.empty());
  EXPECT_EQ(bytes.substr(78), std::string(2, '\0'));
}

TEST(DbFileFormat, SwapHeaderSwapsExactlyTheNumericFields) {
  std::uint8_t raw[78];
  for (int i = 0; i < 78; ++i)
    raw[i] = static_cast<std::uint8_t>(i);
  std::uint8_t swapped[78];
  std::memcpy(swapped, raw, 78);
  DbFile_SwapHeader(swapped);
  std::uint8_t expect[78];
  std::memcpy(expect, raw, 78);
  for (int at : {32, 34, 76})
    std::swap(expect[at], expect[at + 1]);
  for (int at : {36, 40, 44, 48, 52, 56, 68, 72}) {
    std::swap(expect[at], expect[at + 3]);
    std::swap(expect[at + 1], expect[at + 2]);
  }
  EXPECT_EQ(std::memcmp(swapped, expect, 78), 0);
  DbFile_SwapHeader(swapped);
  EXPECT_EQ(std::memcmp(swapped, raw, 78), 0);
}

TEST(DbFileFormat, InfoRoundTrip) {
  FaultyStream fs(BuildDb({"r"}, {}, "Original"));
  DbPtr db(OpenOn(fs.get()));
  char name[32];
  std::uint8_t type[4], creator[4];
  std::uint16_t attributes = 0, version = 0, count = 0;
  ASSERT_EQ(Ops().getInfo(db.get(), name, type, creator, &attributes, &version, &count), kOk);
  EXPECT_STREQ(name, "Original");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(type), 4), "DATA");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(creator), 4), "test");
  EXPECT_EQ(attributes, 8);
  EXPECT_EQ(version, 3);
  EXPECT_EQ(count, 1);
  const std::uint16_t newVersion = 9;
  ASSERT_EQ(Ops().setInfo(db.get(), "Renamed", nullptr,
                          reinterpret_cast<const std::uint8_t*>("Kelp"), nullptr, &newVersion),
            kOk);
  ASSERT_EQ(DbFile_Close(db.release()), kOk);
  const ParsedDb p = ParseDb(fs.Bytes());
  EXPECT_EQ(p.name, "Renamed");
  EXPECT_EQ(p.creator, "Kelp");
  EXPECT_EQ(p.version, 9);
  EXPECT_EQ(p.attributes, 8);  // kept
  EXPECT_EQ(p.backup, 300u);   // kept
  EXPECT_EQ(p.seed, 0x1234u);  // kept
  EXPECT_EQ(p.modification, 1u);
  EXPECT_EQ(p.records, Records{"r"});
}

TEST(DbFileOpen, ModesAndFailures) {
  FaultyStream fs(BuildDb({"x"}));
  EngineObject* db = nullptr;
  EXPECT_EQ(Ops().open(g_DbFileModule, fs.get(), 4, &db), kNotSupported);
  DbPtr open(OpenOn(fs.get(), kDbOpenRead));
  EXPECT_EQ(Ops().open(open.get(), fs.get(), kDbOpenRead, &db), kDbFileNotModule);
  // A stream shorter than a header fails and is not written.
  FaultyStream tiny(std::string(77, '\0'));
  std::vector<std::uint32_t> writes;
  tiny.LogWritesTo(&writes);
  EXPECT_EQ(Ops().open(g_DbFileModule, tiny.get(), kDbOpenWrite, &db), kStreamShortRead);
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(tiny.Bytes(), std::string(77, '\0'));
}

TEST(DbFileOpen, NewModeReplacesTheStreamWithAnEmptyTempDatabase) {
  for (std::uint32_t mode : {kDbOpenNew, kDbOpenNewAlt}) {
    FaultyStream fs(std::string(500, 'q'));
    EngineObject* db = OpenOn(fs.get(), mode);
    std::uint16_t count = 9;
    ASSERT_EQ(DbFile_GetInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count), kOk);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(DbFile_Close(db), kOk);
    const std::string bytes = fs.Bytes();
    ASSERT_EQ(bytes.size(), 80u);
    const ParsedDb p = ParseDb(bytes);
    EXPECT_EQ(p.type, "Temp");
    EXPECT_EQ(p.creator, "Temp");
    EXPECT_EQ(p.name, "");
  }
}

// ---- reading ------------------------------------------------------------------------

TEST(DbFileRead, SizeRuleIsClampedToTheFile) {
  const Records recs{"aaaa", "bb", "cccccc"};
  struct Case {
    std::vector<std::uint32_t> offsets;
    Records expect;
  };
  const std::uint32_t base = 78 + 8 * 3 + 2;
  const std::uint32_t end = base + 12;
  const Case cases[] = {
      {{}, {"aaaa", "bb", "cccccc"}},
      {{base, base + 4, end + 50}, {"aaaa", "bbcccccc", ""}},           // last offset past the end
      {{base, base + 6, base + 4}, {"aaaabb", "", "bbcccccc"}},         // decreasing offsets
      {{base, 0xFFFFFFF0u, base + 6}, {"aaaabbcccccc", "", "cccccc"}},  // giant offset
      {{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, {"", "", ""}},
  };
  for (const Case& c : cases) {
    std::string bytes = BuildDb(recs, c.offsets);
    FaultyStream fs(bytes);
    DbPtr db(OpenOn(fs.get(), kDbOpenRead));
    EXPECT_EQ(AllRecords(db.get()), c.expect);
  }
  // Record 0 starting at byte 0 reads the header bytes: tolerant, bounded.
  FaultyStream fs(BuildDb(recs, {0, base, base + 4}));
  DbPtr db(OpenOn(fs.get(), kDbOpenRead));
  EXPECT_EQ(Record(db.get(), 0), fs.Bytes().substr(0, base));
  std::uint32_t size = 0;
  EXPECT_EQ(DbFile_ReadRecord(db.get(), 3, &size, nullptr), kDbFileIndexOutOfRange);
}

TEST(DbFileRead, CountBeyondTheFileReadsWithoutOverrunning) {
  std::string bytes = BuildDb({"abc"});
  bytes[76] = '\x01';
  bytes[77] = '\x00';  // 256 records claimed, one stored
  FaultyStream fs(bytes);
  DbPtr db(OpenOn(fs.get(), kDbOpenRead));
  std::uint32_t size = 0;
  void* buffer = nullptr;
  // Entries past the file cannot be read: the stream's failure comes back.
  EXPECT_EQ(DbFile_ReadRecord(db.get(), 200, &size, &buffer), kStreamShortRead);
}

// Damaged layouts beside the ones above: a header cut anywhere, an entry
// table cut inside an entry, a table without its data, the largest count over
// an 80-byte file. An open fails without writing; otherwise every record
// either fails or reads exactly the bytes of its extent, which lies inside
// the file, and no change is accepted.
TEST(DbFileRead, DamagedLayoutsFailOrReadInsideTheFile) {
  const std::string good = BuildDb({"aaaa", "bb", "cccccc"});
  std::string maxCount = BuildDb({});
  maxCount[76] = maxCount[77] = '\xFF';
  struct Case {
    const char* what;
    std::string bytes;
    bool opens;
  };
  const Case cases[] = {
      {"empty stream", "", false},
      {"one byte", good.substr(0, 1), false},
      {"header cut in the dates", good.substr(0, 40), false},
      {"header cut before the count", good.substr(0, 76), false},
      {"header only, three entries claimed", good.substr(0, 78), true},
      {"entry table cut inside an offset", good.substr(0, 78 + 16 + 3), true},
      {"entry table without data", good.substr(0, 78 + 24 + 2), true},
      {"65,535 entries in 80 bytes", maxCount, true},
  };
  for (const Case& c : cases) {
    FaultyStream fs(c.bytes);
    std::vector<std::uint32_t> writes;
    fs.LogWritesTo(&writes);
    EngineObject sentinel{};
    EngineObject* db = &sentinel;  // a failed open must leave it
    const StatusCode opened = Ops().open(g_DbFileModule, fs.get(), kDbOpenWrite, &db);
    if (!c.opens) {
      EXPECT_TRUE(IsFailure(opened)) << c.what;
      EXPECT_EQ(db, &sentinel) << c.what;
    } else {
      ASSERT_EQ(opened, kOk) << c.what;
      std::uint16_t count = 0;
      ASSERT_EQ(DbFile_GetInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count), kOk);
      for (std::uint32_t i = 0; i < count; ++i) {
        const auto index = static_cast<std::uint16_t>(i);
        std::uint32_t offset = 0, extent = 0, size = 0;
        void* buffer = nullptr;
        const StatusCode read = DbFile_ReadRecord(db, index, &size, &buffer);
        if (IsFailure(read)) continue;
        ASSERT_EQ(DbFile_GetRecordExtent(db, index, &offset, &extent), kOk) << c.what;
        ASSERT_EQ(size, extent) << c.what << " record " << i;
        if (size > 0) {  // an empty record's offset may lie anywhere
          ASSERT_LE(std::uint64_t{offset} + size, c.bytes.size()) << c.what << " record " << i;
        }
        EXPECT_EQ(std::string(static_cast<char*>(buffer), buffer ? size : 0),
                  size > 0 ? c.bytes.substr(offset, size) : std::string())
            << c.what << " record " << i;
        ASSERT_EQ(DbFile_FreeRecordBuffer(db, buffer), kOk);
      }
      std::uint16_t at = 0;
      EXPECT_TRUE(IsFailure(DbFile_InsertRecord(db, &at, 2, "zz"))) << c.what;
      EXPECT_TRUE(IsFailure(DbFile_ResizeRecord(db, 0, 9))) << c.what;
      EXPECT_TRUE(IsFailure(DbFile_DeleteRecord(db, 0))) << c.what;
      EXPECT_EQ(DbFile_Close(db), kOk) << c.what;
    }
    EXPECT_TRUE(writes.empty()) << c.what;
    EXPECT_EQ(fs.Bytes(), c.bytes) << c.what;
  }
}

// The engine's own file stream on path (ASCII test paths).
EngineObject* OpenFile(const std::string& path, std::uint32_t type) {
  std::u16string wide(path.begin(), path.end());
  EngineObject* stream = nullptr;
  EXPECT_EQ(FileSys_Open(g_FileSysModule, wide.data(), 0, type, &stream), kOk) << path;
  return stream;
}

struct StreamCloser {
  void operator()(EngineObject* s) const noexcept { EXPECT_EQ(StreamOf(s).close(s), kOk); }
};
using StreamPtr = std::unique_ptr<EngineObject, StreamCloser>;

// Each record's status and bytes, read in the given order.
std::vector<std::string> ReadInOrder(EngineObject* db, const std::vector<std::uint16_t>& order) {
  std::vector<std::string> out(order.size());
  for (const std::uint16_t i : order) {
    std::uint32_t size = 0;
    void* buffer = nullptr;
    const StatusCode s = DbFile_ReadRecord(db, i, &size, &buffer);
    out[i] = IsFailure(s) ? "<status " + std::to_string(static_cast<std::int32_t>(s)) + ">"
                          : std::string(static_cast<const char*>(buffer), buffer ? size : 0);
    if (!IsFailure(s)) {
      EXPECT_EQ(DbFile_FreeRecordBuffer(db, buffer), kOk);
    }
  }
  return out;
}

// A database in a real file is read with positioned reads through a
// read-ahead window: in any order, with a record larger than the window, and
// with damaged tables, every record reads as the same bytes read from
// memory do.
TEST(DbFileRead, AFileReadsLikeItsBytesInAnyOrder) {
  TempDir dir;
  std::mt19937 rng(3);
  Records many;
  for (int k = 0; k < 150; ++k) {
    std::string r(rng() % 3000, '\0');
    for (char& c : r)
      c = static_cast<char>(rng());
    many.push_back(r);
  }
  many[60] = std::string(70000, 'L');  // larger than the window
  many[61] = "";
  const std::uint32_t base = 78 + 8 * 3 + 2;
  std::string countBeyond = BuildDb({"abc", "de"});
  countBeyond[76] = '\x01';  // 256 records claimed
  const std::string good = BuildDb({"aaaa", "bb", "cccccc"});
  const std::pair<const char*, std::string> cases[] = {
      {"many records", BuildDb(many)},
      {"count beyond the file", countBeyond},
      {"giant and decreasing offsets", BuildDb({"aaaa", "bb", "cccccc"}, {base, 0xFFFFFFF0u, 7})},
      {"entry table cut inside an offset", good.substr(0, 78 + 16 + 3)},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    const std::string path = dir.File("read.pdb");
    WriteFileBytes(path, bytes);
    StreamPtr file(OpenFile(path, kFileOpenRead));
    ASSERT_NE(file, nullptr);
    FaultyStream memory(bytes);
    DbPtr fromFile(OpenOn(file.get(), kDbOpenRead));
    DbPtr fromMemory(OpenOn(memory.get(), kDbOpenRead));
    std::uint16_t count = 0;
    ASSERT_EQ(DbFile_GetInfo(fromFile.get(), nullptr, nullptr, nullptr, nullptr, nullptr, &count),
              kOk);
    std::vector<std::uint16_t> order(count);
    for (std::uint16_t i = 0; i < count; ++i)
      order[i] = i;
    const std::vector<std::string> want = ReadInOrder(fromMemory.get(), order);
    EXPECT_TRUE(ReadInOrder(fromFile.get(), order) == want) << "forwards";
    std::reverse(order.begin(), order.end());
    EXPECT_TRUE(ReadInOrder(fromFile.get(), order) == want) << "backwards";
    std::shuffle(order.begin(), order.end(), rng);
    EXPECT_TRUE(ReadInOrder(fromFile.get(), order) == want) << "shuffled";
  }
  // After a change the records come from the working copy, and the file
  // gets them on close.
  const std::string path = dir.File("change.pdb");
  WriteFileBytes(path, BuildDb(many));
  StreamPtr file(OpenFile(path, kFileOpenReadWrite));
  ASSERT_NE(file, nullptr);
  EngineObject* db = OpenOn(file.get());
  EXPECT_EQ(Record(db, 3), many[3]);
  std::uint16_t at = 2;
  ASSERT_EQ(DbFile_InsertRecord(db, &at, 3, "new"), kOk);
  ASSERT_EQ(DbFile_DeleteRecord(db, 0), kOk);
  Records changed(many.begin() + 1, many.end());
  changed.insert(changed.begin() + 1, "new");
  EXPECT_TRUE(AllRecords(db) == changed);
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_TRUE(ParseDb(ReadFileBytes(path)).records == changed);
}

TEST(DbFileRead, CachedRecordIsNotReadAgain) {
  FaultyStream fs(BuildDb({"first", "second"}));
  DbPtr db(OpenOn(fs.get(), kDbOpenRead));
  EXPECT_EQ(Record(db.get(), 1), "second");
  const std::uint32_t reads = fs.Reads();
  EXPECT_EQ(Record(db.get(), 1), "second");
  EXPECT_EQ(fs.Reads(), reads);
  std::uint32_t size = 0;
  ASSERT_EQ(DbFile_ReadRecord(db.get(), 1, &size, nullptr), kOk);
  EXPECT_EQ(size, 6u);
  // Foreign pointers are refused; null is accepted.
  char foreign[16];
  EXPECT_EQ(DbFile_FreeRecordBuffer(db.get(), foreign + 8), kBadArgument);
  EXPECT_EQ(DbFile_FreeRecordBuffer(db.get(), nullptr), kOk);
}

TEST(DbFileRead, LentBuffersCarryTheirPrefixAndEmptyRecordsNone) {
  FaultyStream fs(BuildDb({"", "xyz"}));
  DbPtr db(OpenOn(fs.get(), kDbOpenRead));
  std::uint32_t size = 7;
  void* buffer = &size;
  ASSERT_EQ(DbFile_ReadRecord(db.get(), 0, &size, &buffer), kOk);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(buffer, nullptr);
  ASSERT_EQ(DbFile_ReadRecord(db.get(), 1, &size, &buffer), kOk);
  const auto* prefix = static_cast<const std::uint8_t*>(buffer) - 8;
  std::uint16_t index;
  std::uint32_t stored;
  std::memcpy(&index, prefix, 2);
  std::memcpy(&stored, prefix + 4, 4);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(stored, 3u);
  EXPECT_EQ(DbFile_FreeRecordBuffer(db.get(), buffer), kOk);
}

TEST(DbFileRead, BudgetRefusesWhenLentBuffersHoldIt) {
  const std::string big(200000, 'b');
  FaultyStream fs(BuildDb({big, big, big, big, "small"}));
  DbPtr db(OpenOn(fs.get(), kDbOpenRead));
  std::vector<void*> held;
  std::uint32_t size = 0;
  for (std::uint16_t i = 0; i < 3; ++i) {
    void* b = nullptr;
    ASSERT_EQ(DbFile_ReadRecord(db.get(), i, &size, &b), kOk);
    held.push_back(b);
  }
  void* b = nullptr;
  EXPECT_EQ(DbFile_ReadRecord(db.get(), 4, &size, &b), kOutOfMemory);
  ASSERT_EQ(DbFile_FreeRecordBuffer(db.get(), held.back()), kOk);
  held.pop_back();
  // The released buffer is cached; the load evicts it and succeeds.
  ASSERT_EQ(DbFile_ReadRecord(db.get(), 3, &size, &b), kOk);
  EXPECT_EQ(std::string(static_cast<char*>(b), size), big);
  held.push_back(b);
  for (void* p : held)
    EXPECT_EQ(DbFile_FreeRecordBuffer(db.get(), p), kOk);
  // Many released buffers: the cache keeps reading correctly past 64 entries.
  Records many;
  for (int i = 0; i < 100; ++i)
    many.push_back("rec" + std::to_string(i));
  FaultyStream fm(BuildDb(many));
  DbPtr dm(OpenOn(fm.get(), kDbOpenRead));
  for (int round = 0; round < 2; ++round)
    EXPECT_EQ(AllRecords(dm.get()), many);
}

// ---- changes ---------------------------------------------------------------------------

TEST(DbFileChange, InsertAtZeroShiftsOffsetsAndRenumbersIds) {
  FaultyStream fs(BuildDb({"one", "two"}));
  const ParsedDb before = ParseDb(fs.Bytes());
  EngineObject* db = OpenOn(fs.get());
  std::uint16_t index = 0;
  ASSERT_EQ(DbFile_InsertRecord(db, &index, 5, "zero!"), kOk);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(AllRecords(db), (Records{"zero!", "one", "two"}));
  ASSERT_EQ(DbFile_Close(db), kOk);
  const ParsedDb after = ParseDb(fs.Bytes());
  ASSERT_EQ(after.entries.size(), 3u);
  EXPECT_EQ(after.entries[1].offset, before.entries[0].offset + 8 + 5);
  EXPECT_EQ(after.entries[2].offset, before.entries[1].offset + 8 + 5);
  EXPECT_EQ(after.entries[0].offset, before.entries[0].offset + 8);
  for (std::uint32_t i = 0; i < 3; ++i)
    EXPECT_EQ(after.entries[i].id, i);
  EXPECT_EQ(after.entries[0].attributes, 0);
  EXPECT_EQ(after.entries[1].attributes, 0x40);  // attributes travel with entries
  EXPECT_EQ(after.records, (Records{"zero!", "one", "two"}));
}

TEST(DbFileChange, InsertAppendsAndReturnsTheCount) {
  FaultyStream fs(BuildDb({"a"}));
  EngineObject* db = OpenOn(fs.get());
  std::uint16_t index = 40;
  ASSERT_EQ(DbFile_InsertRecord(db, &index, 3, nullptr), kOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(AllRecords(db), (Records{"a", std::string(3, '\0')}));
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(ParseDb(fs.Bytes()).records, (Records{"a", std::string(3, '\0')}));
}

TEST(DbFileChange, InsertBeforeAnEmptyLastRecordKeepsTheIndex) {
  FaultyStream fs(BuildDb({"a", ""}));
  EngineObject* db = OpenOn(fs.get());
  std::uint16_t index = 1;
  ASSERT_EQ(DbFile_InsertRecord(db, &index, 2, "nn"), kOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(AllRecords(db), (Records{"a", "nn", ""}));
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(ParseDb(fs.Bytes()).records, (Records{"a", "nn", ""}));
}

TEST(DbFileChange, DeletingTheOnlyRecordGivesAnEmptyDatabase) {
  FaultyStream fs(BuildDb({"only"}));
  EngineObject* db = OpenOn(fs.get());
  ASSERT_EQ(DbFile_DeleteRecord(db, 0), kOk);
  EXPECT_EQ(DbFile_DeleteRecord(db, 0), kDbFileIndexOutOfRange);
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(fs.Bytes().size(), 80u);
  EXPECT_TRUE(ParseDb(fs.Bytes()).records.empty());
}

TEST(DbFileChange, DeleteInTheMiddle) {
  FaultyStream fs(BuildDb({"a", "bbb", "cc", "d"}));
  EngineObject* db = OpenOn(fs.get());
  ASSERT_EQ(DbFile_DeleteRecord(db, 1), kOk);
  EXPECT_EQ(AllRecords(db), (Records{"a", "cc", "d"}));
  ASSERT_EQ(DbFile_Close(db), kOk);
  const ParsedDb p = ParseDb(fs.Bytes());
  EXPECT_EQ(p.records, (Records{"a", "cc", "d"}));
  EXPECT_EQ(p.entries[0].id, 0x500u);  // below the lowest changed index: kept
  EXPECT_EQ(p.entries[1].id, 1u);
  EXPECT_EQ(p.entries[2].id, 2u);
  EXPECT_EQ(fs.Bytes().size(), 78u + 3 * 8 + 2 + 4);
}

TEST(DbFileChange, MoveOrders) {
  struct Case {
    std::uint16_t from, to;
    Records expect;
    std::vector<std::uint8_t> attributes;
  };
  const Case cases[] = {
      {0, 2, {"1", "0", "2"}, {0x41, 0x40, 0x42}}, {2, 0, {"2", "0", "1"}, {0x42, 0x40, 0x41}},
      {1, 2, {"0", "1", "2"}, {0x40, 0x41, 0x42}}, {0, 99, {"1", "2", "0"}, {0x41, 0x42, 0x40}},
      {2, 1, {"0", "2", "1"}, {0x40, 0x42, 0x41}},
  };
  for (const Case& c : cases) {
    FaultyStream fs(BuildDb({"0", "1", "2"}));
    // Unequal sizes show misplaced offsets.
    FaultyStream fl(BuildDb({"zero", "1", "two22"}));
    for (FaultyStream* s : {&fs, &fl}) {
      EngineObject* db = OpenOn(s->get());
      const Records before = AllRecords(db);
      ASSERT_EQ(DbFile_MoveRecord(db, c.from, c.to), kOk);
      Records expect;
      for (const auto& r : c.expect)
        expect.push_back(before[r[0] - '0']);
      EXPECT_EQ(AllRecords(db), expect) << c.from << "->" << c.to;
      ASSERT_EQ(DbFile_Close(db), kOk);
      const ParsedDb p = ParseDb(s->Bytes());
      EXPECT_EQ(p.records, expect);
      for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(p.entries[i].attributes, c.attributes[i]);
    }
  }
  FaultyStream fs(BuildDb({"0"}));
  DbPtr db(OpenOn(fs.get()));
  EXPECT_EQ(DbFile_MoveRecord(db.get(), 1, 0), kDbFileIndexOutOfRange);
}

TEST(DbFileChange, ResizeGrowsWithZerosAndShrinksAtTheEnd) {
  FaultyStream fs(BuildDb({"abc", "def", "g"}));
  EngineObject* db = OpenOn(fs.get());
  ASSERT_EQ(DbFile_ResizeRecord(db, 1, 6), kOk);
  EXPECT_EQ(AllRecords(db), (Records{"abc", std::string("def\0\0\0", 6), "g"}));
  ASSERT_EQ(DbFile_ResizeRecord(db, 0, 1), kOk);
  EXPECT_EQ(AllRecords(db), (Records{"a", std::string("def\0\0\0", 6), "g"}));
  ASSERT_EQ(DbFile_ResizeRecord(db, 2, 0), kOk);
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(ParseDb(fs.Bytes()).records, (Records{"a", std::string("def\0\0\0", 6), ""}));
}

TEST(DbFileChange, FullDatabaseRefusesInsert) {
  FaultyStream fs(BuildDb(Records(65535)));
  DbPtr db(OpenOn(fs.get()));
  std::uint16_t index = 0;
  EXPECT_EQ(DbFile_InsertRecord(db.get(), &index, 1, "x"), kDbFileFull);
}

TEST(DbFileChange, InconsistentTableIsReadButNeverChanged) {
  const std::uint32_t base = 78 + 8 * 3 + 2;
  const std::vector<std::vector<std::uint32_t>> tables = {
      {base, base + 6, base + 4},  // decreasing
      {base, base + 4, 9000},      // past the end
      {40, base + 4, base + 6},    // inside the header
  };
  for (const auto& offsets : tables) {
    const std::string bytes = BuildDb({"aaaa", "bb", "cccccc"}, offsets);
    FaultyStream fs(bytes);
    DbPtr db(OpenOn(fs.get()));
    AllRecords(db.get());
    std::uint16_t index = 1;
    EXPECT_EQ(DbFile_InsertRecord(db.get(), &index, 2, "zz"), kMalformed);
    EXPECT_EQ(DbFile_DeleteRecord(db.get(), 1), kMalformed);
    EXPECT_EQ(DbFile_MoveRecord(db.get(), 0, 2), kMalformed);
    EXPECT_EQ(DbFile_ResizeRecord(db.get(), 0, 9), kMalformed);
    EXPECT_EQ(DbFile_Close(db.release()), kOk);
    EXPECT_EQ(fs.Bytes(), bytes);
  }
  // A count the file cannot hold.
  std::string bytes = BuildDb({"a"});
  bytes[77] = 9;
  FaultyStream fs(bytes);
  DbPtr db(OpenOn(fs.get()));
  std::uint16_t index = 0;
  EXPECT_EQ(DbFile_InsertRecord(db.get(), &index, 2, "zz"), kMalformed);
}

// Every change must empty the cache: each case reads (and so caches) every
// record, changes the database and expects the new contents.
TEST(DbFileCache, NoStaleRecordAfterAnyChange) {
  struct Case {
    const char* what;
    void (*change)(EngineObject* db);
    Records expect;
  };
  const Case cases[] = {
      {"insert",
       [](EngineObject* db) {
         std::uint16_t i = 1;
         ASSERT_EQ(DbFile_InsertRecord(db, &i, 1, "N"), kOk);
       },
       {"A", "N", "BB", "CCC"}},
      {"delete",
       [](EngineObject* db) { ASSERT_EQ(DbFile_DeleteRecord(db, 0), kOk); },
       {"BB", "CCC"}},
      {"move",
       [](EngineObject* db) { ASSERT_EQ(DbFile_MoveRecord(db, 2, 0), kOk); },
       {"CCC", "A", "BB"}},
      {"resize",
       [](EngineObject* db) { ASSERT_EQ(DbFile_ResizeRecord(db, 1, 1), kOk); },
       {"A", "B", "CCC"}},
      {"write-back",
       [](EngineObject* db) {
         std::uint32_t size = 0;
         EngineObject* s = nullptr;
         ASSERT_EQ(DbFile_OpenRecord(db, 1, &size, &s), kOk);
         ASSERT_EQ(StreamOf(s).write(s, "xy", 2, nullptr), kOk);
         ASSERT_EQ(StreamOf(s).close(s), kOk);
       },
       {"A", "xy", "CCC"}},
  };
  for (const Case& c : cases) {
    FaultyStream fs(BuildDb({"A", "BB", "CCC"}));
    EngineObject* db = OpenOn(fs.get());
    AllRecords(db);
    // A buffer lent across the change must not come back as a stale record.
    std::uint32_t size = 0;
    void* held = nullptr;
    ASSERT_EQ(DbFile_ReadRecord(db, 0, &size, &held), kOk);
    c.change(db);
    ASSERT_EQ(DbFile_FreeRecordBuffer(db, held), kOk);
    EXPECT_EQ(AllRecords(db), c.expect) << c.what;
    ASSERT_EQ(DbFile_Close(db), kOk);
    EXPECT_EQ(ParseDb(fs.Bytes()).records, c.expect) << c.what;
  }
}

// ---- record streams -------------------------------------------------------------------

TEST(DbFileRecordStream, WritesBackOnClose) {
  FaultyStream fs(BuildDb({"head", "body", "tail"}));
  EngineObject* db = OpenOn(fs.get());
  std::uint32_t size = 0;
  EngineObject* s = nullptr;
  ASSERT_EQ(DbFile_OpenRecord(db, 1, &size, &s), kOk);
  EXPECT_EQ(size, 4u);
  const StreamOps& ops = StreamOf(s);
  std::uint16_t be[2] = {0x0102, 0x0304};
  ASSERT_EQ(ops.seek(s, 0, kSeekEnd, nullptr), kOk);
  ASSERT_EQ(ops.writeU16sBE(s, be, 2), kOk);
  ASSERT_EQ(ops.getSize(s, &size), kOk);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(ops.getProperty(s, 2, 0, nullptr, nullptr), kNotSupported);
  ASSERT_EQ(ops.close(s), kOk);
  EXPECT_EQ(AllRecords(db), (Records{"head", std::string("body\x01\x02\x03\x04", 8), "tail"}));
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(ParseDb(fs.Bytes()).records,
            (Records{"head", std::string("body\x01\x02\x03\x04", 8), "tail"}));
}

TEST(DbFileRecordStream, ReadOnlyUseLeavesTheFileAsItWas) {
  const std::string bytes = BuildDb({"head", "body"});
  FaultyStream fs(bytes);
  fs.SetBudget(0);  // any write would fail
  EngineObject* db = OpenOn(fs.get(), kDbOpenRead);
  std::uint32_t size = 0;
  EngineObject* s = nullptr;
  ASSERT_EQ(DbFile_OpenRecord(db, 0, &size, &s), kOk);
  char buf[4];
  ASSERT_EQ(StreamOf(s).readU16s(s, reinterpret_cast<std::uint16_t*>(buf), 2), kOk);
  EXPECT_EQ(std::string(buf, 4), "head");
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(fs.Bytes(), bytes);
}

TEST(DbFileRecordStream, FollowsItsRecordThroughOtherChanges) {
  FaultyStream fs(BuildDb({"r0", "r1", "r2"}));
  EngineObject* db = OpenOn(fs.get());
  std::uint32_t size = 0;
  EngineObject* s = nullptr;
  ASSERT_EQ(DbFile_OpenRecord(db, 1, &size, &s), kOk);
  std::uint16_t at = 0;
  ASSERT_EQ(DbFile_InsertRecord(db, &at, 2, "n0"), kOk);  // r1 is now 2
  ASSERT_EQ(DbFile_MoveRecord(db, 2, 0), kOk);            // r1 is now 0
  ASSERT_EQ(DbFile_DeleteRecord(db, 3), kOk);             // r2 goes
  EXPECT_EQ(DbFile_DeleteRecord(db, 0), kDbFileRecordOpen);
  ASSERT_EQ(StreamOf(s).writeAt(s, 0, "R1!", 3, nullptr), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_EQ(AllRecords(db), (Records{"R1!", "n0", "r0"}));
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(ParseDb(fs.Bytes()).records, (Records{"R1!", "n0", "r0"}));
}

TEST(DbFileRecordStream, CloseWaitsForStreamsAndLentBuffers) {
  FaultyStream fs(BuildDb({"a", "b"}));
  EngineObject* db = OpenOn(fs.get());
  std::uint32_t size = 0;
  EngineObject* s = nullptr;
  void* lent = nullptr;
  ASSERT_EQ(DbFile_OpenRecord(db, 0, &size, &s), kOk);
  ASSERT_EQ(DbFile_ReadRecord(db, 1, &size, &lent), kOk);
  EXPECT_EQ(DbFile_Close(db), kDbFileBusy);
  ASSERT_EQ(StreamOf(s).write(s, "A", 1, nullptr), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_EQ(DbFile_Close(db), kDbFileBusy);
  EngineObject* same = nullptr;
  EXPECT_EQ(Ops().open(db, fs.get(), kDbOpenWrite, &same), kDbFileBusy);
  ASSERT_EQ(DbFile_FreeRecordBuffer(db, lent), kOk);
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(ParseDb(fs.Bytes()).records, (Records{"A", "b"}));
}

TEST(DbFileOpen, RebindCommitsToTheOldStreamFirst) {
  FaultyStream first(BuildDb({"one"}));
  FaultyStream second(BuildDb({"x", "y"}));
  EngineObject* db = OpenOn(first.get());
  std::uint16_t at = 1;
  ASSERT_EQ(DbFile_InsertRecord(db, &at, 3, "two"), kOk);
  EngineObject* same = nullptr;
  ASSERT_EQ(Ops().open(db, second.get(), kDbOpenWrite, &same), kOk);
  EXPECT_EQ(same, db);
  EXPECT_EQ(ParseDb(first.Bytes()).records, (Records{"one", "two"}));
  EXPECT_EQ(AllRecords(db), (Records{"x", "y"}));
  ASSERT_EQ(DbFile_Close(db), kOk);
}

// ---- failures never damage the stored database ------------------------------------------

void ApplyChanges(EngineObject* db) {
  std::uint16_t at = 1;
  ASSERT_EQ(DbFile_InsertRecord(db, &at, 300, std::string(300, 'i').data()), kOk);
  ASSERT_EQ(DbFile_DeleteRecord(db, 0), kOk);
  ASSERT_EQ(DbFile_MoveRecord(db, 2, 0), kOk);
  ASSERT_EQ(DbFile_ResizeRecord(db, 1, 1000), kOk);
  std::uint32_t size = 0;
  EngineObject* s = nullptr;
  ASSERT_EQ(DbFile_OpenRecord(db, 2, &size, &s), kOk);
  ASSERT_EQ(StreamOf(s).writeAt(s, 0, "changed", 7, nullptr), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  ASSERT_EQ(DbFile_SetInfo(db, "new name", nullptr, nullptr, nullptr, nullptr), kOk);
}

const Records kOldRecords{"first record", std::string(500, 's'), "third"};

TEST(DbFileSafety, ChangesNeverTouchTheStreamBeforeClose) {
  const std::string old = BuildDb(kOldRecords);
  FaultyStream fs(old);
  std::vector<std::uint32_t> writes;
  fs.LogWritesTo(&writes);
  fs.SetBudget(0);  // every write fails
  EngineObject* db = OpenOn(fs.get());
  ApplyChanges(db);
  EXPECT_TRUE(writes.empty());
  EXPECT_NE(DbFile_Close(db), kOk);
  EXPECT_EQ(fs.Bytes(), old);
  EXPECT_EQ(ParseDb(fs.Bytes()).records, kOldRecords);
}

class DbFileFileSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit_), 0);
  }
  void TearDown() override {
    setrlimit(RLIMIT_FSIZE, &limit_);
    signal(SIGXFSZ, previous_);
  }
  // Applies the changes and closes with the process's file-size limit set to
  // `limit` bytes: every write past it fails as on a full disk.
  StatusCode ChangeAndClose(const std::string& path, rlim_t limit) {
    PosixFileStream file(path, /*writable=*/true);
    EXPECT_TRUE(file.ok());
    EngineObject* db = OpenOn(file.get());
    ApplyChanges(db);
    rlimit capped = limit_;
    capped.rlim_cur = std::min<rlim_t>(limit, limit_.rlim_max);
    setrlimit(RLIMIT_FSIZE, &capped);
    const StatusCode status = DbFile_Close(db);
    setrlimit(RLIMIT_FSIZE, &limit_);
    return status;
  }
  static std::size_t FilesIn(const std::string& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
      ++n;
    return n;
  }

  rlimit limit_{};
  sighandler_t previous_ = SIG_DFL;
};

TEST_F(DbFileFileSafety, AFailingWriteAtAnyPointLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("notes.pdb");
  const std::string old = BuildDb(kOldRecords);
  // The size the new file will have.
  FaultyStream probe(old);
  EngineObject* pdb = OpenOn(probe.get());
  ApplyChanges(pdb);
  ASSERT_EQ(DbFile_Close(pdb), kOk);
  const std::string expected = probe.Bytes();

  for (rlim_t limit = 0; limit < expected.size(); limit += limit < 100 ? 1 : 97) {
    WriteFileBytes(path, old);
    EXPECT_NE(ChangeAndClose(path, limit), kOk) << limit;
    EXPECT_EQ(ReadFileBytes(path), old) << limit;
    EXPECT_EQ(FilesIn(dir.Path()), 1u) << "temporary file left at limit " << limit;
  }
  WriteFileBytes(path, old);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  EXPECT_EQ(ChangeAndClose(path, expected.size()), kOk);
  EXPECT_EQ(ReadFileBytes(path), expected);
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A process killed in the middle of any write through the database's stream
// leaves the old file or the new one, never a mix.
TEST_F(DbFileFileSafety, ACrashDuringAnyStreamWriteLeavesOldOrNew) {
  TempDir dir;
  const std::string path = dir.File("crash.pdb");
  const std::string old = BuildDb(kOldRecords);
  FaultyStream probe(old);
  EngineObject* pdb = OpenOn(probe.get());
  ApplyChanges(pdb);
  ASSERT_EQ(DbFile_Close(pdb), kOk);
  const std::string expected = probe.Bytes();
  std::size_t crashed = 0;
  for (std::uint64_t after = 0; after <= expected.size(); after += after < 16 ? 1 : 61) {
    WriteFileBytes(path, old);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PosixFileStream file(path, /*writable=*/true, after);
      EngineObject* db = nullptr;
      if (DbFile_Open(g_DbFileModule, file.get(), kDbOpenWrite, &db) != kOk) _exit(5);
      ApplyChanges(db);
      _exit(DbFile_Close(db) == kOk ? 0 : 6);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) ++crashed;
    const std::string now = ReadFileBytes(path);
    EXPECT_TRUE(now == old || now == expected) << "crash after " << after << " bytes";
  }
  EXPECT_GT(crashed, 0u);
}

TEST_F(DbFileFileSafety, TheCallersStreamReadsTheNewDatabaseAfterClose) {
  TempDir dir;
  const std::string path = dir.File("a.pdb");
  WriteFileBytes(path, BuildDb({"x"}));
  PosixFileStream file(path, /*writable=*/true);
  EngineObject* db = OpenOn(file.get());
  std::uint16_t at = 1;
  ASSERT_EQ(DbFile_InsertRecord(db, &at, 1, "y"), kOk);
  ASSERT_EQ(DbFile_Close(db), kOk);
  EXPECT_EQ(ParseDb(ReadFileBytes(path)).records, (Records{"x", "y"}));
  DbPtr again(OpenOn(file.get(), kDbOpenRead));
  EXPECT_EQ(AllRecords(again.get()), (Records{"x", "y"}));
}

TEST_F(DbFileFileSafety, AReadOnlyStreamIsNeverReplaced) {
  TempDir dir;
  const std::string path = dir.File("ro.pdb");
  const std::string old = BuildDb({"x"});
  WriteFileBytes(path, old);
  PosixFileStream file(path, /*writable=*/false);
  EngineObject* db = OpenOn(file.get(), kDbOpenRead);
  ASSERT_EQ(DbFile_DeleteRecord(db, 0), kOk);
  EXPECT_NE(DbFile_Close(db), kOk);
  EXPECT_EQ(ReadFileBytes(path), old);
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

// ---- a peer reads what we write ------------------------------------------------------------

TEST(DbFilePeer, PythonStructReadsTheWrittenLayout) {
  KELPO_REQUIRE_PEER("python3");
  FaultyStream fs;
  ASSERT_EQ(DbFile_CreateNew(g_DbFileModule, fs.get(), "peer",
                             reinterpret_cast<const std::uint8_t*>("DATA"),
                             reinterpret_cast<const std::uint8_t*>("Kelp")),
            kOk);
  EngineObject* db = OpenOn(fs.get());
  for (const char* r : {"alpha", "", "gamma-gamma"}) {
    std::uint16_t at = 0xFFFF;
    ASSERT_EQ(DbFile_InsertRecord(db, &at, static_cast<std::uint32_t>(std::strlen(r)), r), kOk);
  }
  ASSERT_EQ(DbFile_MoveRecord(db, 2, 0), kOk);
  ASSERT_EQ(DbFile_Close(db), kOk);
  TempDir dir;
  WriteFileBytes(dir.File("read.py"), R"PY(
import struct, sys
d = sys.stdin.buffer.read()
h = struct.unpack('>32sHHIIIIII4s4sIIH', d[:78])
n = h[-1]
print(h[0].split(b'\0')[0].decode(), h[3], h[4], h[9].decode(), h[10].decode(), n)
ents = [struct.unpack('>IB3s', d[78 + 8*i:86 + 8*i]) for i in range(n)]
for i, (off, attr, uid) in enumerate(ents):
    end = ents[i + 1][0] if i + 1 < n else len(d)
    print(int.from_bytes(uid, 'big'), attr, d[off:max(off, end)].decode())
print(d[78 + 8*n:80 + 8*n].hex())
)PY");
  int status = -1;
  const std::string out = RunPeer("python3 " + dir.File("read.py"), fs.Bytes(), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(out,
            "peer 1 1 DATA Kelp 3\n"
            "0 0 gamma-gamma\n"
            "1 0 alpha\n"
            "2 0 \n"
            "0000\n");
}

}  // namespace
