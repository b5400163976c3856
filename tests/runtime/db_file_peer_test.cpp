// Record databases against an independent implementation of the format:
// Debian's libpalm-perl (Palm::PDB with its raw handler), driven through the
// two scripts in tests/runtime/peers/. Palm::PDB writes databases the engine
// must read, and reads the files the engine writes or changes, with 0, 1 and
// many records, empty records and app-info and sort blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/db_file.h"
#include "engine/runtime/module_table.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"

namespace {

using test_streams::FaultyStream;
using test_streams::PosixFileStream;

// ---- the database model both sides are compared against ------------------------

struct PeerRecord {
  std::uint8_t attributes;
  std::uint32_t id;
  std::string data;
};

struct PeerDb {
  std::string name = "peer db";
  std::string type = "DATA";
  std::string creator = "test";
  std::uint16_t version = 0;
  std::uint32_t created = 0;
  std::uint32_t modified = 0;
  std::uint32_t modnum = 0;
  std::uint32_t seed = 0;
  std::string appInfo;
  std::string sortInfo;
  std::vector<PeerRecord> records;
};

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// The input of pdb_write.pl.
std::string Describe(const PeerDb& db) {
  std::string out = "name " + db.name + "\ntype " + db.type + "\ncreator " + db.creator +
                    "\nversion " + std::to_string(db.version) + "\ncreated " +
                    std::to_string(db.created) + "\nmodified " + std::to_string(db.modified) +
                    "\nmodnum " + std::to_string(db.modnum) + "\nseed " + std::to_string(db.seed) +
                    "\n";
  if (!db.appInfo.empty()) out += "appinfo " + Hex(db.appInfo) + "\n";
  if (!db.sortInfo.empty()) out += "sort " + Hex(db.sortInfo) + "\n";
  for (const PeerRecord& r : db.records) {
    out += "record " + std::to_string(r.attributes) + " " + std::to_string(r.id) + " " +
           Hex(r.data) + "\n";
  }
  return out;
}

// What pdb_dump.pl prints for the database.
std::string Dump(const PeerDb& db) {
  std::string out =
      "name=" + db.name + "\ntype=" + db.type + " creator=" + db.creator +
      " version=" + std::to_string(db.version) + " created=" + std::to_string(db.created) +
      " modified=" + std::to_string(db.modified) + " modnum=" + std::to_string(db.modnum) +
      " seed=" + std::to_string(db.seed) + "\nappinfo=" + Hex(db.appInfo) +
      "\nsort=" + Hex(db.sortInfo) + "\ncount=" + std::to_string(db.records.size()) + "\n";
  for (const PeerRecord& r : db.records) {
    out += std::to_string(r.attributes) + " " + std::to_string(r.id) + " " + Hex(r.data) + "\n";
  }
  return out;
}

// Records of seeded sizes from 0 to 300 bytes; every seventh and the last
// are empty, so empty records sit between full ones and at the end.
std::vector<PeerRecord> ManyRecords(std::uint32_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<PeerRecord> out;
  for (std::uint32_t i = 0; i < count; ++i) {
    const bool empty = i % 7 == 3 || i + 1 == count;
    std::string data(empty ? 0 : rng() % 301, '\0');
    for (char& c : data)
      c = static_cast<char>(rng());
    const auto attributes = static_cast<std::uint8_t>((i % 3 == 0 ? 0x40 : 0) | (i % 16));
    out.push_back({attributes, 0x1000 + i, data});
  }
  return out;
}

std::string Quote(const std::string& path) {
  return "'" + path + "'";
}

std::string PeerScript(const char* name) {
  const char* root = std::getenv("KELPO_SOURCE_DIR");
  const std::filesystem::path dir = root != nullptr
                                        ? std::filesystem::path(root) / "tests/runtime/peers"
                                        : std::filesystem::path(__FILE__).parent_path() / "peers";
  return (dir / name).string();
}

struct PeerRun {
  int status = -1;
  std::string out;
  std::string err;
};

// pdb_dump.pl on the file at path.
PeerRun PalmDump(const std::string& path) {
  TempDir dir;
  PeerRun run;
  run.out = RunPeer("perl " + Quote(PeerScript("pdb_dump.pl")) + " " + Quote(path) + " 2>" +
                        Quote(dir.File("err")),
                    "", &run.status);
  run.err = ReadFileBytes(dir.File("err"));
  return run;
}

// pdb_write.pl: the file's bytes, or an empty string when the script failed.
std::string PalmWrite(const PeerDb& db, std::string* err) {
  TempDir dir;
  int status = -1;
  RunPeer("perl " + Quote(PeerScript("pdb_write.pl")) + " " + Quote(dir.File("out.pdb")) + " 2>" +
              Quote(dir.File("err")),
          Describe(db), &status);
  *err = ReadFileBytes(dir.File("err"));
  return status == 0 ? ReadFileBytes(dir.File("out.pdb")) : std::string();
}

// ---- the engine side ---------------------------------------------------------------

const DbFileOps& Ops() {
  return OpsOf<DbFileOps>(g_DbFileModule);
}

// Name, type, creator, version and every record as the engine reads them.
void ExpectEngineReads(EngineObject* db, const PeerDb& expect, const std::string& what) {
  char name[32];
  std::uint8_t type[4], creator[4];
  std::uint16_t attributes = 0, version = 0, count = 0;
  ASSERT_EQ(DbFile_GetInfo(db, name, type, creator, &attributes, &version, &count), kOk);
  EXPECT_EQ(std::string(name), expect.name) << what;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(type), 4), expect.type) << what;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(creator), 4), expect.creator) << what;
  EXPECT_EQ(version, expect.version) << what;
  ASSERT_EQ(count, expect.records.size()) << what;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint32_t size = 0;
    void* buffer = nullptr;
    ASSERT_EQ(DbFile_ReadRecord(db, i, &size, &buffer), kOk) << what << " record " << i;
    const std::string got(static_cast<const char*>(buffer), buffer != nullptr ? size : 0);
    EXPECT_EQ(size, expect.records[i].data.size()) << what << " record " << i;
    EXPECT_EQ(Hex(got), Hex(expect.records[i].data)) << what << " record " << i;
    ASSERT_EQ(DbFile_FreeRecordBuffer(db, buffer), kOk);
  }
}

class DbFilePalmPdb : public ::testing::Test {
 protected:
  void SetUp() override {
    KELPO_REQUIRE_PEER("perl");
    int status = -1;
    RunPeer("perl -MPalm::PDB -MPalm::Raw -e 1 2>/dev/null", "", &status);
    if (status != 0) {
      if (RunningInCi()) {
        FAIL() << "peer missing: perl module Palm::PDB (libpalm-perl)";
      } else {
        GTEST_SKIP() << "peer missing: perl module Palm::PDB (libpalm-perl)";
      }
    }
    ASSERT_TRUE(std::filesystem::exists(PeerScript("pdb_dump.pl"))) << PeerScript("pdb_dump.pl");
  }
};

struct Shape {
  const char* what;
  PeerDb db;
};

std::vector<Shape> PeerShapes() {
  std::vector<Shape> shapes;
  PeerDb none;
  none.name = "no records";
  none.version = 1;
  shapes.push_back({"no records", none});

  PeerDb one;
  one.name = "one record";
  one.type = "TEXt";
  one.creator = "REAd";
  one.created = 0xC0FFEE01u;
  one.modified = 0x12345678u;
  one.modnum = 41;
  one.seed = 0x00ABC000u;
  one.records = {{0x40, 7, "the only record"}};
  shapes.push_back({"one record", one});

  PeerDb empties;
  empties.name = "empty records";
  empties.records = {{0, 1, ""}, {0x10, 2, "x"}, {0, 3, ""}, {0x05, 4, ""}};
  shapes.push_back({"empty records", empties});

  PeerDb many;
  many.name = "many records";
  many.version = 9;
  many.records = ManyRecords(500, 1);
  shapes.push_back({"many records", many});

  PeerDb appOnly;
  appOnly.name = "app info only";
  appOnly.appInfo = std::string(
      "\x00\x01"
      "categories\xff",
      13);
  shapes.push_back({"app-info, no records", appOnly});

  PeerDb blocks;
  blocks.name = "app info and sort";
  blocks.appInfo = std::string(300, '\xA5');
  blocks.sortInfo = "sort-order";
  blocks.records = ManyRecords(40, 2);
  shapes.push_back({"app-info and sort blocks", blocks});
  return shapes;
}

// ---- Palm::PDB writes, the engine reads ------------------------------------------

TEST_F(DbFilePalmPdb, EngineReadsWhatPalmPdbWrites) {
  for (const Shape& s : PeerShapes()) {
    std::string err;
    const std::string bytes = PalmWrite(s.db, &err);
    ASSERT_FALSE(bytes.empty()) << s.what << ": " << err;
    FaultyStream fs(bytes);
    EngineObject* db = nullptr;
    ASSERT_EQ(Ops().open(g_DbFileModule, fs.get(), kDbOpenRead, &db), kOk) << s.what;
    ExpectEngineReads(db, s.db, s.what);
    // The blocks before the first record belong to no record: record 0
    // starts after them.
    if (!s.db.records.empty()) {
      std::uint32_t offset = 0, size = 0;
      ASSERT_EQ(DbFile_GetRecordExtent(db, 0, &offset, &size), kOk);
      EXPECT_EQ(offset, 80 + 8 * s.db.records.size() + s.db.appInfo.size() + s.db.sortInfo.size())
          << s.what;
    }
    EXPECT_EQ(DbFile_Close(db), kOk);
    EXPECT_EQ(fs.Bytes(), bytes) << s.what << ": reading changed the file";
  }
}

// ---- the engine writes, Palm::PDB reads --------------------------------------------

// Databases built from nothing by the engine: CreateNew, then inserts, a
// move, a delete, a resize and a record stream that grows its record, so the
// offsets Palm::PDB follows come from every kind of change.
TEST_F(DbFilePalmPdb, PalmPdbReadsDatabasesTheEngineBuilds) {
  struct Case {
    const char* what;
    std::vector<std::string> records;  // appended in order
    bool edit;                         // then the mixed changes
  };
  std::vector<std::string> many;
  for (const PeerRecord& r : ManyRecords(2000, 3))
    many.push_back(r.data);
  const Case cases[] = {
      {"no records", {}, false},
      {"one record", {"single"}, false},
      {"one empty record", {""}, false},
      {"empty records", {"", "a", "", "", "bc", ""}, false},
      {"many records, edited", many, true},
  };
  for (const Case& c : cases) {
    FaultyStream fs;
    ASSERT_EQ(DbFile_CreateNew(g_DbFileModule, fs.get(), "engine built",
                               reinterpret_cast<const std::uint8_t*>("KDat"),
                               reinterpret_cast<const std::uint8_t*>("Kelp")),
              kOk);
    EngineObject* db = nullptr;
    ASSERT_EQ(Ops().open(g_DbFileModule, fs.get(), kDbOpenWrite, &db), kOk);
    std::vector<std::string> model;
    for (const std::string& r : c.records) {
      std::uint16_t at = 0xFFFF;
      ASSERT_EQ(DbFile_InsertRecord(db, &at, static_cast<std::uint32_t>(r.size()), r.data()), kOk);
      model.push_back(r);
    }
    if (c.edit) {
      std::uint16_t at = 0;
      ASSERT_EQ(DbFile_InsertRecord(db, &at, 5, "front"), kOk);
      model.insert(model.begin(), "front");
      ASSERT_EQ(DbFile_MoveRecord(db, 10, 1500), kOk);
      model.insert(model.begin() + 1500, model[10]);
      model.erase(model.begin() + 10);
      ASSERT_EQ(DbFile_DeleteRecord(db, 700), kOk);
      model.erase(model.begin() + 700);
      ASSERT_EQ(DbFile_ResizeRecord(db, 3, 1000), kOk);
      model[3].resize(1000, '\0');
      std::uint32_t size = 0;
      EngineObject* s = nullptr;
      ASSERT_EQ(DbFile_OpenRecord(db, 1200, &size, &s), kOk);
      ASSERT_EQ(StreamOf(s).writeAt(s, size, "+tail", 5, nullptr), kOk);
      ASSERT_EQ(StreamOf(s).close(s), kOk);
      model[1200] += "+tail";
    }
    const std::uint16_t version = 4;
    ASSERT_EQ(DbFile_SetInfo(db, nullptr, nullptr, nullptr, nullptr, &version), kOk);
    ASSERT_EQ(DbFile_Close(db), kOk);

    TempDir dir;
    WriteFileBytes(dir.File("engine.pdb"), fs.Bytes());
    const PeerRun run = PalmDump(dir.File("engine.pdb"));
    ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
    PeerDb expect;
    expect.name = "engine built";
    expect.type = "KDat";
    expect.creator = "Kelp";
    expect.version = 4;
    expect.created = 1;
    expect.modified = 1;
    for (std::size_t i = 0; i < model.size(); ++i)
      expect.records.push_back({0, static_cast<std::uint32_t>(i), model[i]});
    EXPECT_EQ(run.out, Dump(expect)) << c.what;
  }
}

// The engine changes databases Palm::PDB wrote (through a file stream, so the
// change reaches the disk as the program's own files do) and Palm::PDB reads
// them back: the app-info and sort blocks must stay where the header says
// they are, untouched entries keep their attributes and ids, and ids are
// renumbered from the first entry whose position changed.
TEST_F(DbFilePalmPdb, PalmPdbReadsPalmDatabasesTheEngineChanged) {
  PeerDb base;
  base.name = "changed by engine";
  base.version = 2;
  base.created = 3000000000u;
  base.modified = 3000000001u;
  base.modnum = 12;
  base.seed = 0x00777000u;
  base.appInfo = std::string(70, '\x11') + "app-info end";
  base.sortInfo = "sorted";
  base.records = {{0x41, 100, "zero"}, {0x10, 101, ""}, {0x02, 102, "two"}, {0x4F, 103, "three"}};
  PeerDb appOnly = base;
  appOnly.sortInfo.clear();
  appOnly.records.clear();

  using Edit = std::function<void(EngineObject*, PeerDb&)>;
  auto renumberFrom = [](PeerDb& m, std::size_t first) {
    for (std::size_t i = first; i < m.records.size(); ++i)
      m.records[i].id = static_cast<std::uint32_t>(i);
  };
  struct Case {
    const char* what;
    const PeerDb* start;
    Edit edit;
  };
  const Case cases[] = {
      {"insert at the front", &base,
       [&](EngineObject* db, PeerDb& m) {
         std::uint16_t at = 0;
         ASSERT_EQ(DbFile_InsertRecord(db, &at, 3, "new"), kOk);
         m.records.insert(m.records.begin(), {0, 0, "new"});
         renumberFrom(m, 0);
       }},
      {"append", &base,
       [&](EngineObject* db, PeerDb& m) {
         std::uint16_t at = 0xFFFF;
         ASSERT_EQ(DbFile_InsertRecord(db, &at, 4, "last"), kOk);
         m.records.push_back({0, 4, "last"});
       }},
      {"delete the first record", &base,
       [&](EngineObject* db, PeerDb& m) {
         ASSERT_EQ(DbFile_DeleteRecord(db, 0), kOk);
         m.records.erase(m.records.begin());
         renumberFrom(m, 0);
       }},
      {"move and resize", &base,
       [&](EngineObject* db, PeerDb& m) {
         ASSERT_EQ(DbFile_MoveRecord(db, 3, 1), kOk);
         const PeerRecord moved = m.records[3];
         m.records.erase(m.records.begin() + 3);
         m.records.insert(m.records.begin() + 1, moved);
         renumberFrom(m, 1);
         ASSERT_EQ(DbFile_ResizeRecord(db, 0, 2), kOk);
         m.records[0].data.resize(2);
       }},
      {"record stream write-back", &base,
       [&](EngineObject* db, PeerDb& m) {
         std::uint32_t size = 0;
         EngineObject* s = nullptr;
         ASSERT_EQ(DbFile_OpenRecord(db, 1, &size, &s), kOk);
         ASSERT_EQ(StreamOf(s).write(s, "filled", 6, nullptr), kOk);
         ASSERT_EQ(StreamOf(s).close(s), kOk);
         m.records[1].data = "filled";
       }},
      {"first record into an app-info-only database", &appOnly,
       [&](EngineObject* db, PeerDb& m) {
         std::uint16_t at = 0;
         ASSERT_EQ(DbFile_InsertRecord(db, &at, 5, "first"), kOk);
         m.records.push_back({0, 0, "first"});
       }},
  };
  for (const Case& c : cases) {
    std::string err;
    const std::string bytes = PalmWrite(*c.start, &err);
    ASSERT_FALSE(bytes.empty()) << c.what << ": " << err;
    TempDir dir;
    const std::string path = dir.File("palm.pdb");
    WriteFileBytes(path, bytes);
    PeerDb model = *c.start;
    {
      PosixFileStream file(path, /*writable=*/true);
      ASSERT_TRUE(file.ok());
      EngineObject* db = nullptr;
      ASSERT_EQ(Ops().open(g_DbFileModule, file.get(), kDbOpenWrite, &db), kOk) << c.what;
      c.edit(db, model);
      ASSERT_EQ(DbFile_Close(db), kOk) << c.what;
    }
    model.modified = 1;  // set by every close after a change
    const PeerRun run = PalmDump(path);
    EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
    EXPECT_EQ(run.out, Dump(model)) << c.what;
    // And the engine reads its own result the same way.
    PosixFileStream again(path, /*writable=*/false);
    EngineObject* db = nullptr;
    ASSERT_EQ(Ops().open(g_DbFileModule, again.get(), kDbOpenRead, &db), kOk);
    ExpectEngineReads(db, model, c.what);
    EXPECT_EQ(DbFile_Close(db), kOk);
  }
}

}  // namespace
