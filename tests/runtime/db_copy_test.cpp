#include "engine/runtime/db_copy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/block_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/test_streams.h"
#include "tests/support/wide_text.h"
#include "tests/support/write_faults.h"

namespace {

using record_db_fixtures::BuildDb;
using record_db_fixtures::GetBE;
using record_db_fixtures::ParseRecords;
using record_db_fixtures::PutBE;
using test_streams::Contents;
using test_streams::NewMemStream;

const DbFileOps& Ops(EngineObject* object) {
  return OpsOf<DbFileOps>(object);
}

struct Db {
  EngineObject* stream;
  EngineObject* db = nullptr;
  Db(const std::string& bytes, std::uint32_t mode) : stream(NewMemStream(bytes)) {
    EXPECT_EQ(Ops(g_DbCopyModule).open(g_DbCopyModule, stream, mode, &db), kOk);
  }
  ~Db() { (void)StreamOf(stream).close(stream); }  // memory stream: nothing to report
  std::string Bytes() const { return Contents(stream); }
  std::uint16_t Insert(std::uint16_t at, const std::string& data) {
    EXPECT_EQ(Ops(db).insertRecord(db, &at, static_cast<std::uint32_t>(data.size()), data.data()),
              kOk);
    return at;
  }
  std::string Read(std::uint16_t index) {
    std::uint32_t size = 0;
    void* buffer = nullptr;
    EXPECT_EQ(Ops(db).readRecord(db, index, &size, &buffer), kOk);
    std::string out(static_cast<const char*>(buffer), size);
    EXPECT_EQ(Ops(db).freeRecordBuffer(db, buffer), kOk);
    return out;
  }
};

TEST(DbCopy, ThreeRecordsWrittenBackCompact) {
  std::string file = BuildDb({"alpha", "", "gamma!"});
  file[78 + 8 + 4] = 0x40;  // attributes of record 1
  Db d(file, kDbOpenWrite);
  EXPECT_EQ(d.Read(0), "alpha");
  EXPECT_EQ(d.Read(1), "");
  EXPECT_EQ(d.Read(2), "gamma!");
  std::uint32_t size = 0;
  void* buffer = &size;
  EXPECT_EQ(Ops(d.db).readRecord(d.db, 3, &size, &buffer), kDbFileIndexOutOfRange);
  ASSERT_EQ(Ops(d.db).close(d.db), kOk);
  const std::string out = d.Bytes();
  EXPECT_EQ(ParseRecords(out), (std::vector<std::string>{"alpha", "", "gamma!"}));
  for (std::uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(GetBE(out, 78 + 8 * i + 4, 1), 0u) << "attributes cleared";
    EXPECT_EQ(GetBE(out, 78 + 8 * i + 5, 3), i) << "ids are indexes";
  }
  EXPECT_EQ(GetBE(out, 40, 4), 1u) << "modification date";
  EXPECT_EQ(out.size(), 78u + 24 + 2 + 11);
}

TEST(DbCopy, ReadOnlyLeavesTheStreamAndNewStartsEmpty) {
  const std::string file = BuildDb({"one", "two"});
  {
    Db d(file, kDbOpenRead);
    d.Insert(0, "zero");
    ASSERT_EQ(Ops(d.db).deleteRecord(d.db, 2), kOk);
    ASSERT_EQ(Ops(d.db).close(d.db), kOk);
    EXPECT_EQ(d.Bytes(), file);
  }
  Db d(file, kDbOpenNewAlt);
  std::uint16_t count = 9;
  ASSERT_EQ(Ops(d.db).getInfo(d.db, nullptr, nullptr, nullptr, nullptr, nullptr, &count), kOk);
  EXPECT_EQ(count, 0u);
  d.Insert(0, "0123456789");
  ASSERT_EQ(Ops(d.db).close(d.db), kOk);
  const std::string out = d.Bytes();
  EXPECT_EQ(out.size(), 98u) << "78 + 8 + 2 + 10";
  EXPECT_EQ(out.substr(60, 8), "TempTemp");
  EXPECT_EQ(ParseRecords(out), (std::vector<std::string>{"0123456789"}));
  EngineObject* db = nullptr;
  EXPECT_EQ(Ops(g_DbCopyModule).open(g_DbCopyModule, d.stream, 4, &db), kNotSupported);
}

TEST(DbCopy, AgreesWithAVectorUnderRandomEdits) {
  std::mt19937 rng(5);
  std::vector<std::string> model = {"first", "second", std::string(5000, 's'), "last"};
  Db d(BuildDb(model), kDbOpenWrite);
  auto randomText = [&rng] {
    std::string t(rng() % 3000, '\0');
    for (char& c : t)
      c = static_cast<char>(rng());
    return t;
  };
  for (int step = 0; step < 300; ++step) {
    const std::uint32_t op = rng() % 4;
    const auto n = static_cast<std::uint16_t>(model.size());
    if (op == 0 || model.empty()) {
      const auto at = static_cast<std::uint16_t>(rng() % (n + 2));
      const std::string text = randomText();
      const std::uint16_t got = d.Insert(at, text);
      ASSERT_EQ(got, at < n ? at : n);
      model.insert(model.begin() + got, text);
    } else if (op == 1) {
      const auto at = static_cast<std::uint16_t>(rng() % n);
      ASSERT_EQ(Ops(d.db).deleteRecord(d.db, at), kOk);
      model.erase(model.begin() + at);
    } else if (op == 2) {
      const auto from = static_cast<std::uint16_t>(rng() % n);
      const auto to = static_cast<std::uint16_t>(rng() % (n + 2));
      ASSERT_EQ(Ops(d.db).moveRecord(d.db, from, to), kOk);
      const std::string moved = model[from];
      const std::size_t target = to < n ? to : n;
      if (target != from && target != from + 1u) {
        model.erase(model.begin() + from);
        model.insert(model.begin() + (from < target ? target - 1 : target), moved);
      }
    } else {
      const auto at = static_cast<std::uint16_t>(rng() % n);
      EngineObject* s = nullptr;
      std::uint32_t size = 0;
      ASSERT_EQ(Ops(d.db).openRecord(d.db, at, &size, &s), kOk);
      ASSERT_EQ(size, model[at].size());
      const std::string text = randomText();
      ASSERT_EQ(StreamOf(s).setSize(s, 0), kOk);
      ASSERT_EQ(Stream_WriteExact(s, 0, text.data(), static_cast<std::uint32_t>(text.size())), kOk);
      ASSERT_EQ(StreamOf(s).close(s), kOk);
      model[at] = text;
    }
    if (!model.empty()) {
      const auto at = static_cast<std::uint16_t>(rng() % model.size());
      ASSERT_EQ(d.Read(at), model[at]) << "step " << step;
    }
  }
  for (std::uint16_t i = 0; i < model.size(); ++i)
    ASSERT_EQ(d.Read(i), model[i]) << i;
  ASSERT_EQ(Ops(d.db).close(d.db), kOk);
  EXPECT_EQ(ParseRecords(d.Bytes()), model);
}

TEST(DbCopy, AnApplicationInfoBlockMovesWithTheTable) {
  // Header, one entry, two zero bytes, a 6-byte info block, the record.
  std::string file = BuildDb({"rec"});
  file.insert(78 + 8 + 2, "INFO!!");
  std::string fixed = file.substr(0, 52);
  PutBE(fixed, 78 + 8 + 2, 4);  // app info offset
  fixed += file.substr(56, 22);
  std::string entry;
  PutBE(entry, 78 + 8 + 2 + 6, 4);
  fixed += entry + file.substr(82);
  Db d(fixed, kDbOpenWrite);
  d.Insert(0, "new");
  ASSERT_EQ(Ops(d.db).close(d.db), kOk);
  const std::string out = d.Bytes();
  const std::uint32_t info = GetBE(out, 52, 4);
  EXPECT_EQ(info, 78u + 16 + 2);
  EXPECT_EQ(out.substr(info, 6), "INFO!!");
  EXPECT_EQ(ParseRecords(out), (std::vector<std::string>{"new", "rec"}));
}

TEST(DbCopy, OpenRecordsAndBadIndexes) {
  Db d(BuildDb({"a", "b"}), kDbOpenWrite);
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops(d.db).openRecord(d.db, 0, nullptr, &s), kOk);
  EngineObject* again = nullptr;
  EXPECT_EQ(Ops(d.db).openRecord(d.db, 0, nullptr, &again), kBlockFileStreamBusy);
  EXPECT_EQ(Ops(d.db).deleteRecord(d.db, 0), kDbFileRecordOpen);
  EXPECT_EQ(Ops(d.db).close(d.db), kDbFileBusy) << "the database stays open";
  ASSERT_EQ(Stream_WriteExact(s, 1, "z", 1), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_EQ(Ops(d.db).moveRecord(d.db, 2, 0), kDbFileIndexOutOfRange);
  EXPECT_EQ(Ops(d.db).deleteRecord(d.db, 2), kDbFileIndexOutOfRange);
  EXPECT_EQ(Ops(d.db).resizeRecord(d.db, 0, 5), kNotSupported);
  ASSERT_EQ(Ops(d.db).close(d.db), kOk);
  EXPECT_EQ(ParseRecords(d.Bytes()), (std::vector<std::string>{std::string("az"), "b"}));
}

TEST(DbCopy, DamagedTablesAreRefused) {
  std::string file = BuildDb({"a", "b"});
  std::string tooMany = file;
  tooMany[76] = 0x7F;  // 32,512 entries in a 100-byte file
  EngineObject* stream = NewMemStream(tooMany);
  EngineObject* db = nullptr;
  EXPECT_EQ(Ops(g_DbCopyModule).open(g_DbCopyModule, stream, kDbOpenWrite, &db), kMalformed);
  EXPECT_EQ(Contents(stream), tooMany);
  (void)StreamOf(stream).close(stream);  // memory stream
  stream = NewMemStream(file.substr(0, 40));
  EXPECT_TRUE(IsFailure(Ops(g_DbCopyModule).open(g_DbCopyModule, stream, kDbOpenRead, &db)));
  (void)StreamOf(stream).close(stream);  // memory stream
}

}  // namespace

namespace {

// A database on a file, worked on through the temporary copy: whatever write
// fails, the file opens with its old records or, once the close succeeded,
// its new ones.
TEST(DbCopy, AFailingWriteAtEveryByteLeavesTheOldOrTheNewFile) {
  TempDir dir;
  const std::string file = dir.File("notes.pdb");
  WriteFileBytes(file, BuildDb({"alpha", "beta", "gamma"}));
  std::u16string path = U16(file);
  const auto edit = [&] {
    EngineObject* stream = nullptr;
    if (FileSys_Open(g_FileSysModule, path.data(), 0, kFileOpenReadWrite, &stream) != kOk)
      return false;
    EngineObject* db = nullptr;
    bool ok = Ops(g_DbCopyModule).open(g_DbCopyModule, stream, kDbOpenWrite, &db) == kOk;
    if (ok) {
      std::uint16_t at = 1;
      ok = Ops(db).insertRecord(db, &at, 5, "delta") == kOk;
      ok = ok && Ops(db).deleteRecord(db, 0) == kOk;
      ok = Ops(db).close(db) == kOk && ok;
    }
    ok = StreamOf(stream).close(stream) == kOk && ok;
    return ok;
  };
  const std::string now = write_faults::FailAtEveryByte(file, edit);
  EXPECT_EQ(ParseRecords(now), (std::vector<std::string>{"delta", "beta", "gamma"}));
}

}  // namespace
