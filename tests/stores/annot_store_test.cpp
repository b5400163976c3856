// Annotation store tests. Files are checked and built by a reader and a writer
// of the byte layout written here, apart from the store's code: a record
// database (78-byte header, 8-byte entries, data) holding the data records of
// the stream and the table record.
#include "engine/stores/annot_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"

namespace {

// ---- the byte layout, independently ----------------------------------------

std::uint32_t Be16(const std::string& b, std::size_t at) {
  return (std::uint32_t{static_cast<std::uint8_t>(b[at])} << 8) |
         static_cast<std::uint8_t>(b[at + 1]);
}
std::uint32_t Be32(const std::string& b, std::size_t at) {
  return (Be16(b, at) << 16) | Be16(b, at + 2);
}
void Put16(std::string& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v >> 8);
  b[at + 1] = static_cast<char>(v);
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v >> 16);
  Put16(b, at + 2, v & 0xFFFF);
}
std::string U32(std::uint32_t v) {
  std::string b(4, '\0');
  Put32(b, 0, v);
  return b;
}

constexpr std::uint32_t kNil = 0xFFFFFFFF;

struct Db {
  std::string name, type, creator;
  std::vector<std::string> records;
};

// A record database with records of the given bytes.
std::string BuildDb(const std::string& name, const std::string& type, const std::string& creator,
                    const std::vector<std::string>& records) {
  std::string b(78, '\0');
  b.replace(0, std::min<std::size_t>(name.size(), 31), name.substr(0, 31));
  b.replace(60, 4, type);
  b.replace(64, 4, creator);
  Put16(b, 76, static_cast<std::uint32_t>(records.size()));
  std::uint32_t offset = 78 + 8 * static_cast<std::uint32_t>(records.size()) + 2;
  for (std::size_t i = 0; i < records.size(); ++i) {
    b += U32(offset) + std::string(1, '\0') + std::string(1, '\0') +
         U32(static_cast<std::uint32_t>(i)).substr(2);
    offset += static_cast<std::uint32_t>(records[i].size());
  }
  b += std::string(2, '\0');
  for (const std::string& r : records)
    b += r;
  return b;
}

bool ParseDb(const std::string& b, Db* db, std::string* why) {
  if (b.size() < 78) return *why = "file shorter than a database header", false;
  const std::uint32_t count = Be16(b, 76);
  if (78 + 8ull * count > b.size()) return *why = "entry table past the file", false;
  db->name = b.substr(0, b.find('\0') < 32 ? b.find('\0') : 32);
  db->type = b.substr(60, 4);
  db->creator = b.substr(64, 4);
  db->records.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t from = Be32(b, 78 + 8 * i);
    const std::uint32_t to =
        i + 1 < count ? Be32(b, 78 + 8 * (i + 1)) : static_cast<std::uint32_t>(b.size());
    if (from > to || to > b.size()) return *why = "record offsets out of order", false;
    db->records.push_back(b.substr(from, to - from));
  }
  return true;
}

struct Note {
  std::uint32_t start;
  std::uint16_t length;
  std::uint8_t attribute1;
  std::uint8_t attribute2;
  std::string text1, text2;
  bool operator==(const Note& o) const {
    return start == o.start && length == o.length && attribute1 == o.attribute1 &&
           attribute2 == o.attribute2 && text1 == o.text1 && text2 == o.text2;
  }
};

std::ostream& operator<<(std::ostream& os, const Note& n) {
  return os << "{" << n.start << "+" << n.length << " attr " << int{n.attribute1} << "/"
            << int{n.attribute2} << " '" << n.text1.substr(0, 20) << "' '" << n.text2.substr(0, 20)
            << "' (" << n.text1.size() << "," << n.text2.size() << ")}";
}

struct FileStats {
  std::uint32_t streamLength = 0;
  std::uint32_t freeBlocks = 0;
  std::uint32_t usedBlocks = 0;
  std::uint32_t headerLength = 0;
};

// Checks every rule of the layout and gives the annotations back: the type
// and creator, the table record last, data records of 16384 bytes but the
// last, blocks tiling the stream, the free list linked both ways in step with
// its ends, every entry on its own used block with lengths that fit, entries
// sorted and not overlapping.
::testing::AssertionResult CheckFile(const std::string& bytes, std::vector<Note>* notes,
                                     FileStats* stats = nullptr) {
  Db db;
  std::string why;
  if (!ParseDb(bytes, &db, &why)) return ::testing::AssertionFailure() << why;
  if (db.type != "KelA" || db.creator != "Kelp")
    return ::testing::AssertionFailure() << "type/creator";
  if (db.records.empty()) return ::testing::AssertionFailure() << "no records";
  const std::string& table = db.records.back();
  if (table.size() < 32) return ::testing::AssertionFailure() << "table record under 32 bytes";
  const std::uint32_t hlen = static_cast<std::uint8_t>(table[0]);
  const std::uint32_t count = Be16(table, 2), length = Be32(table, 4);
  const std::uint32_t head = Be32(table, 8), tail = Be32(table, 12);
  if (hlen < 32 || table[1] != 0) return ::testing::AssertionFailure() << "header length " << hlen;
  if (hlen + 16ull * count != table.size())
    return ::testing::AssertionFailure()
           << "table record size " << table.size() << " for " << count;
  const std::size_t k = db.records.size() - 1;
  if ((length + 16383ull) / 16384 != k) return ::testing::AssertionFailure() << "L against records";
  std::string stream;
  for (std::size_t r = 0; r < k; ++r) {
    const std::size_t want = r + 1 < k ? 16384 : length - 16384 * r;
    if (db.records[r].size() != want)
      return ::testing::AssertionFailure()
             << "data record " << r << " holds " << db.records[r].size();
    stream += db.records[r];
  }
  // Blocks tile the stream.
  std::map<std::uint32_t, std::pair<int, std::uint32_t>> blocks;  // offset -> kind, size
  for (std::uint64_t at = 0; at < length;) {
    if (at + 32 > length) return ::testing::AssertionFailure() << "block header past L at " << at;
    const int kind = stream[at + 1];
    const std::uint32_t size = Be32(stream, at + 4);
    if (static_cast<std::uint8_t>(stream[at]) != 16 || (kind != 1 && kind != 2) || size < 16 ||
        at + 16 + size > length || stream[at + 2] != 0 || stream[at + 3] != 0 ||
        Be32(stream, at + 12) != 0)
      return ::testing::AssertionFailure() << "bad block at " << at;
    if (kind == 1 && Be32(stream, at + 8) != 0)
      return ::testing::AssertionFailure() << "free block with a size";
    blocks[static_cast<std::uint32_t>(at)] = {kind, size};
    at += 16 + size;
  }
  // The free list, both ways.
  std::set<std::uint32_t> seen;
  std::uint32_t prev = kNil;
  for (std::uint32_t at = head; at != kNil;) {
    auto it = blocks.find(at);
    if (it == blocks.end() || it->second.first != 1)
      return ::testing::AssertionFailure() << "free link to " << at;
    if (!seen.insert(at).second)
      return ::testing::AssertionFailure() << "free list cycle at " << at;
    if (static_cast<std::uint8_t>(stream[at + 16]) != 16 || Be32(stream, at + 16 + 4) != prev)
      return ::testing::AssertionFailure() << "back link of " << at;
    prev = at;
    at = Be32(stream, at + 16 + 8);
  }
  if (prev != tail)
    return ::testing::AssertionFailure() << "tail " << tail << " but list ends at " << prev;
  std::uint32_t freeCount = 0;
  for (const auto& [at, b] : blocks) {
    if (b.first == 1) {
      ++freeCount;
      if (!seen.count(at))
        return ::testing::AssertionFailure() << "free block " << at << " not listed";
    }
  }
  // Entries.
  std::set<std::uint32_t> owned;
  notes->clear();
  std::uint64_t lastEnd = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t e = hlen + 16 * i;
    Note n{Be32(table, e),
           static_cast<std::uint16_t>(Be16(table, e + 4)),
           static_cast<std::uint8_t>(table[e + 6]),
           static_cast<std::uint8_t>(table[e + 7]),
           {},
           {}};
    const std::uint32_t block = Be32(table, e + 8);
    if (n.start < lastEnd) return ::testing::AssertionFailure() << "entry " << i << " out of order";
    lastEnd = std::uint64_t{n.start} + n.length;
    auto it = blocks.find(block);
    if (it == blocks.end() || it->second.first != 2)
      return ::testing::AssertionFailure() << "entry " << i << " block";
    if (!owned.insert(block).second)
      return ::testing::AssertionFailure() << "block shared by entries";
    const std::uint32_t l1 = Be32(stream, block + 20), l2 = Be32(stream, block + 24);
    const std::uint32_t requested = Be32(stream, block + 8);
    if (static_cast<std::uint8_t>(stream[block + 16]) != 16 ||
        std::uint64_t{l1} + l2 + 16 != requested || requested > it->second.second)
      return ::testing::AssertionFailure() << "entry " << i << " lengths";
    n.text1 = stream.substr(block + 32, l1);
    n.text2 = stream.substr(block + 32 + l1, l2);
    notes->push_back(n);
  }
  if (owned.size() + freeCount != blocks.size())
    return ::testing::AssertionFailure() << "used block without entry";
  if (stats != nullptr)
    *stats = {length, freeCount, static_cast<std::uint32_t>(owned.size()), hlen};
  return ::testing::AssertionSuccess();
}

// An annotation file from its parts (the stream is cut into records here).
std::string BuildKela(const std::string& stream, const std::vector<std::string>& entries,
                      std::uint32_t head = kNil, std::uint32_t tail = kNil,
                      std::uint32_t hlen = 32) {
  std::string table(hlen, '\0');
  table[0] = static_cast<char>(hlen);
  Put16(table, 2, static_cast<std::uint32_t>(entries.size()));
  Put32(table, 4, static_cast<std::uint32_t>(stream.size()));
  Put32(table, 8, head);
  Put32(table, 12, tail);
  for (const std::string& e : entries)
    table += e;
  std::vector<std::string> records;
  for (std::size_t at = 0; at < stream.size(); at += 16384)
    records.push_back(stream.substr(at, 16384));
  records.push_back(table);
  return BuildDb("notes.kpa", "KelA", "Kelp", records);
}

std::string EntryBytes(std::uint32_t start, std::uint32_t length, std::uint8_t a1, std::uint8_t a2,
                       std::uint32_t block) {
  std::string e(16, '\0');
  Put32(e, 0, start);
  Put16(e, 4, length);
  e[6] = static_cast<char>(a1);
  e[7] = static_cast<char>(a2);
  Put32(e, 8, block);
  return e;
}

std::string UsedBlock(const std::string& t1, const std::string& t2, std::uint32_t spare = 0) {
  const std::uint32_t n = static_cast<std::uint32_t>(t1.size() + t2.size() + 16);
  std::string b(32, '\0');
  b[0] = 16;
  b[1] = 2;
  Put32(b, 4, n + spare);
  Put32(b, 8, n);
  b[16] = 16;
  Put32(b, 20, static_cast<std::uint32_t>(t1.size()));
  Put32(b, 24, static_cast<std::uint32_t>(t2.size()));
  return b + t1 + t2 + std::string(spare, '\0');
}

std::string FreeBlock(std::uint32_t size, std::uint32_t prev, std::uint32_t next) {
  std::string b(16 + size, '\0');
  b[0] = 16;
  b[1] = 1;
  Put32(b, 4, size);
  b[16] = 16;
  Put32(b, 20, prev);
  Put32(b, 24, next);
  return b;
}

// The annotations after adding one, worked out independently.
void ModelAdd(std::vector<Note>& notes, const Note& added) {
  const std::uint64_t a = added.start, b = a + added.length;
  std::vector<Note> out;
  for (const Note& x : notes) {
    const std::uint64_t s = x.start, t = s + x.length;
    if (t <= a || s >= b) {
      out.push_back(x);
      continue;
    }
    if (s < a) {
      Note left = x;
      left.length = static_cast<std::uint16_t>(a - s);
      out.push_back(left);
    }
    if (t > b) {
      Note right = x;
      right.start = static_cast<std::uint32_t>(b);
      right.length = static_cast<std::uint16_t>(t - b);
      out.push_back(right);
    }
  }
  out.push_back(added);
  std::sort(out.begin(), out.end(), [](const Note& p, const Note& q) { return p.start < q.start; });
  notes = out;
}

// ---- store helpers -----------------------------------------------------------

std::u16string U16(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

struct StoreCloser {
  void operator()(AnnotStore* s) const { EXPECT_EQ(AnnotStore_Close(s), kOk); }
};
using StorePtr = std::unique_ptr<AnnotStore, StoreCloser>;

StatusCode OpenAt(const std::string& path, std::uint32_t mode, StorePtr* out) {
  const std::u16string p = U16(path);
  AnnotStore* s = nullptr;
  const StatusCode status = AnnotStore_Open(p.c_str(), 0, mode, &s);
  if (status == kOk) out->reset(s);
  return status;
}

StatusCode Add(AnnotStore* s, const Note& n) {
  std::string t1 = n.text1, t2 = n.text2;
  AnnotEntry e{0,
               n.start,
               n.length,
               n.attribute1,
               n.attribute2,
               t1.empty() ? nullptr : t1.data(),
               static_cast<std::uint32_t>(t1.size()),
               t2.empty() ? nullptr : t2.data(),
               static_cast<std::uint32_t>(t2.size())};
  return AnnotStore_AddEntry(s, &e);
}

StatusCode Update(AnnotStore* s, std::int32_t index, std::uint8_t a2, const std::string& t1,
                  const std::string& t2) {
  std::string c1 = t1, c2 = t2;
  AnnotEntry e{0,
               0,
               0,
               0,
               a2,
               c1.empty() ? nullptr : c1.data(),
               static_cast<std::uint32_t>(c1.size()),
               c2.empty() ? nullptr : c2.data(),
               static_cast<std::uint32_t>(c2.size())};
  return AnnotStore_UpdateEntry(s, index, &e);
}

// Every entry through GetEntry, texts allocated by the store.
std::vector<Note> ReadAll(AnnotStore* s) {
  std::vector<Note> out;
  std::uint16_t count = 0;
  EXPECT_EQ(AnnotStore_GetCount(s, &count), kOk);
  for (std::uint16_t i = 0; i < count; ++i) {
    AnnotEntry e{};
    e.text1Size = kAnnotTextAll;
    e.text2Size = kAnnotTextAll;
    const StatusCode status = AnnotStore_GetEntry(s, i, 0, &e);
    EXPECT_EQ(status, kOk) << "entry " << i;
    if (status != kOk) break;
    EXPECT_EQ(e.index, i);
    out.push_back({e.start, e.length, e.attribute1, e.attribute2, std::string(e.text1, e.text1Size),
                   std::string(e.text2, e.text2Size)});
    Engine_Free(e.text1);
    Engine_Free(e.text2);
  }
  return out;
}

class AnnotStoreTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name = "notes.kpa") const { return dir_.File(name); }
  StorePtr Create(const std::string& name = "notes.kpa") {
    StorePtr s;
    EXPECT_EQ(OpenAt(Path(name), kAnnotOpenCreate, &s), kOk);
    return s;
  }
  std::vector<Note> FileNotes(const std::string& name = "notes.kpa") {
    std::vector<Note> notes;
    EXPECT_TRUE(CheckFile(ReadFileBytes(Path(name)), &notes));
    return notes;
  }
  TempDir dir_;
};

// ---- creating and opening ----------------------------------------------------

TEST_F(AnnotStoreTest, NewFileHoldsOnlyTheEmptyHeader) {
  StorePtr s = Create("My Book.kpa");
  ASSERT_TRUE(s);
  const std::string bytes = ReadFileBytes(Path("My Book.kpa"));
  ASSERT_EQ(bytes.size(), 120u);  // database header, one entry, two zeros, 32 bytes
  Db db;
  std::string why;
  ASSERT_TRUE(ParseDb(bytes, &db, &why)) << why;
  EXPECT_EQ(db.name, "My Book.kpa");
  ASSERT_EQ(db.records.size(), 1u);
  std::string header(32, '\0');
  header[0] = 32;
  Put32(header, 8, kNil);
  Put32(header, 12, kNil);
  EXPECT_EQ(db.records[0], header);
  std::uint16_t count = 9;
  EXPECT_EQ(AnnotStore_GetCount(s.get(), &count), kOk);
  EXPECT_EQ(count, 0);
}

TEST_F(AnnotStoreTest, DatabaseNameIsTheCutFileName) {
  const std::u16string path = U16(Path("")) + u"\u0416bc_defghijklmnopqrstuvwxyz0123456789.kpa";
  AnnotStore* s = nullptr;
  ASSERT_EQ(AnnotStore_Create(path.c_str(), static_cast<std::uint32_t>(path.size()), &s), kOk);
  EXPECT_EQ(AnnotStore_Close(s), kOk);
  std::string utf8 = Path("") + "\xD0\x96" + "bc_defghijklmnopqrstuvwxyz0123456789.kpa";
  Db db;
  std::string why;
  ASSERT_TRUE(ParseDb(ReadFileBytes(utf8), &db, &why)) << why;
  EXPECT_EQ(db.name, "_bc_defghijklmnopqrstuvwxyz");
}

TEST_F(AnnotStoreTest, OpenArgumentsAndModes) {
  StorePtr s;
  EXPECT_EQ(OpenAt(Path("missing.kpa"), kAnnotOpenRead, &s), kAnnotStoreCannotOpen);
  EXPECT_EQ(OpenAt(Path("x.kpa"), 3, &s), kFailed);
  AnnotStore* raw = nullptr;
  EXPECT_EQ(AnnotStore_Open(u"", 0, kAnnotOpenWrite, &raw), kFailed);
  EXPECT_EQ(AnnotStore_Open(u"abc", 0, kAnnotOpenRead, nullptr), kNullOutPointer);
  // Mode 1 creates a missing file.
  ASSERT_EQ(OpenAt(Path("new.kpa"), kAnnotOpenWrite, &s), kOk);
  ASSERT_EQ(Add(s.get(), {10, 5, 0, 3, "text", "note"}), kOk);
  s.reset();
  EXPECT_EQ(FileNotes("new.kpa"), (std::vector<Note>{{10, 5, 0, 3, "text", "note"}}));
  // A path given by length need not be terminated.
  const std::u16string p = U16(Path("new.kpa")) + u"garbage";
  ASSERT_EQ(AnnotStore_Open(p.c_str(), static_cast<std::uint32_t>(p.size() - 7), 0, &raw), kOk);
  EXPECT_EQ(ReadAll(raw).size(), 1u);
  EXPECT_EQ(AnnotStore_Close(raw), kOk);
  // Mode 2 replaces an existing file.
  ASSERT_EQ(OpenAt(Path("new.kpa"), kAnnotOpenCreate, &s), kOk);
  EXPECT_TRUE(ReadAll(s.get()).empty());
  s.reset();
  EXPECT_TRUE(FileNotes("new.kpa").empty());
}

// A store whose file can no longer be written keeps reading it.
TEST_F(AnnotStoreTest, FileGoneOrReadOnlyRefusesChangesButStillReads) {
  StorePtr s = Create();
  ASSERT_EQ(Add(s.get(), {10, 5, 0, 1, "kept", ""}), kOk);
  const std::vector<Note> expected = {{10, 5, 0, 1, "kept", ""}};
  if (geteuid() != 0) {
    // Not writable: mode 1 opens it read-only and changes answer so.
    ASSERT_EQ(chmod(Path().c_str(), 0444), 0);
    const std::string before = ReadFileBytes(Path());
    StorePtr r;
    ASSERT_EQ(OpenAt(Path(), kAnnotOpenWrite, &r), kOk);
    EXPECT_EQ(Add(r.get(), {20, 5, 0, 1, "x", ""}), kAnnotStoreNotWritable);
    EXPECT_EQ(ReadAll(r.get()), expected);
    EXPECT_EQ(ReadFileBytes(Path()), before);
    chmod(Path().c_str(), 0644);
  }
  ASSERT_EQ(unlink(Path().c_str()), 0);
  EXPECT_EQ(Add(s.get(), {20, 5, 0, 1, "x", ""}), kAnnotStoreNotWritable);
  EXPECT_EQ(ReadAll(s.get()), expected);
  EXPECT_EQ(AnnotStore_Revalidate(s.get()), kOk);  // the open file still reads
  // A folder in the file's place is neither opened nor replaced.
  ASSERT_EQ(mkdir(Path("folder.kpa").c_str(), 0755), 0);
  StorePtr f;
  EXPECT_EQ(OpenAt(Path("folder.kpa"), kAnnotOpenRead, &f), kAnnotStoreCannotOpen);
  EXPECT_EQ(OpenAt(Path("folder.kpa"), kAnnotOpenWrite, &f), kAnnotStoreCannotOpen);
  struct stat st {};
  ASSERT_EQ(stat(Path("folder.kpa").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// A file that is not a sound annotation file is reported and never replaced,
// whatever the mode short of an explicit create.
TEST_F(AnnotStoreTest, DamagedOrForeignFilesAreNeverReplaced) {
  std::string valid = BuildKela(UsedBlock("abc", "de"), {EntryBytes(5, 3, 0, 2, 0)});
  std::vector<Note> ignored;
  ASSERT_TRUE(CheckFile(valid, &ignored));
  auto patched = [&](std::size_t tableOffset, std::string bytes) {
    std::string b = valid;
    const std::size_t table = Be32(b, 78 + 8 * 1);  // record 1 is the table
    b.replace(table + tableOffset, bytes.size(), bytes);
    return b;
  };
  struct Case {
    const char* what;
    std::string bytes;
    StatusCode expected;
  };
  std::string countTooLarge = patched(2, std::string("\x00\x02", 2));
  std::string shortHeader = patched(0, std::string("\x1F", 1));
  std::string lengthTooLong = patched(4, U32(16385));
  std::string twoUnsorted = BuildKela(UsedBlock("a", "") + UsedBlock("b", ""),
                                      {EntryBytes(50, 5, 0, 1, 0), EntryBytes(40, 5, 0, 1, 33)});
  std::string overlapping = BuildKela(UsedBlock("a", "") + UsedBlock("b", ""),
                                      {EntryBytes(40, 5, 0, 1, 0), EntryBytes(44, 5, 0, 1, 33)});
  const std::vector<Case> cases = {
      {"not a database", "hello, this is not a database", kAnnotStoreNoDatabase},
      {"empty file", "", kAnnotStoreNoDatabase},
      {"other type", BuildDb("x", "TEXt", "REAd", {"abc"}), kAnnotStoreWrongType},
      {"no records", BuildDb("x", "KelA", "Kelp", {}), kAnnotStoreCorrupt},
      {"header short", BuildDb("x", "KelA", "Kelp", {std::string(31, '\0')}), kAnnotStoreCorrupt},
      {"header length 31", shortHeader, kAnnotStoreCorrupt},
      {"table record too short", countTooLarge, kAnnotStoreCorrupt},
      {"length without records", lengthTooLong, kAnnotStoreCorrupt},
      {"entries unsorted", twoUnsorted, kAnnotStoreCorrupt},
      {"entries overlap", overlapping, kAnnotStoreCorrupt},
  };
  for (const Case& c : cases) {
    for (std::uint32_t mode : {kAnnotOpenRead, kAnnotOpenWrite}) {
      SCOPED_TRACE(std::string(c.what) + " mode " + std::to_string(mode));
      WriteFileBytes(Path(), c.bytes);
      StorePtr s;
      EXPECT_EQ(OpenAt(Path(), mode, &s), c.expected);
      EXPECT_FALSE(s);
      EXPECT_EQ(ReadFileBytes(Path()), c.bytes);
    }
  }
}

TEST_F(AnnotStoreTest, ReadsFilesMadeByAnIndependentWriter) {
  // Entry 1's block has spare room; the table has a longer header whose
  // extra bytes are kept.
  const std::string stream = UsedBlock("first", "note one") + UsedBlock("second", "", 40);
  const std::uint32_t second = static_cast<std::uint32_t>(UsedBlock("first", "note one").size());
  std::string bytes = BuildKela(
      stream, {EntryBytes(100, 10, 7, 4, 0), EntryBytes(300, 1, 0, 16, second)}, kNil, kNil, 40);
  const std::size_t table = Be32(bytes, 78 + 8);
  bytes[table + 35] = 'X';  // a byte of the longer header
  WriteFileBytes(Path(), bytes);
  StorePtr s;
  ASSERT_EQ(OpenAt(Path(), kAnnotOpenWrite, &s), kOk);
  EXPECT_EQ(ReadAll(s.get()), (std::vector<Note>{{100, 10, 7, 4, "first", "note one"},
                                                 {300, 1, 0, 16, "second", ""}}));
  ASSERT_EQ(Add(s.get(), {200, 5, 0, 9, "third", "x"}), kOk);
  s.reset();
  const std::string after = ReadFileBytes(Path());
  std::vector<Note> notes;
  FileStats stats;
  ASSERT_TRUE(CheckFile(after, &notes, &stats));
  EXPECT_EQ(stats.headerLength, 40u);
  EXPECT_EQ(after[Be32(after, 78 + 8 * 1) + 35], 'X');
  EXPECT_EQ(notes.size(), 3u);
}

// ---- layout of changes -------------------------------------------------------

TEST_F(AnnotStoreTest, FirstTextOfTwentyBytesGrowsTheStreamToFiftyTwo) {
  StorePtr s = Create();
  ASSERT_EQ(Add(s.get(), {0, 20, 0, 1, std::string(20, 't'), ""}), kOk);
  s.reset();
  const std::string bytes = ReadFileBytes(Path());
  EXPECT_EQ(bytes.size(), 196u);
  Db db;
  std::string why;
  ASSERT_TRUE(ParseDb(bytes, &db, &why));
  ASSERT_EQ(db.records.size(), 2u);
  EXPECT_EQ(db.records[0].size(), 52u);
  EXPECT_EQ(Be32(db.records[0], 4), 36u);  // block size
  EXPECT_EQ(Be32(db.records[0], 8), 36u);  // requested
  EXPECT_EQ(Be32(db.records[1], 4), 52u);  // L
  std::vector<Note> notes;
  ASSERT_TRUE(CheckFile(bytes, &notes));
  EXPECT_EQ(notes, (std::vector<Note>{{0, 20, 0, 1, std::string(20, 't'), ""}}));
}

TEST_F(AnnotStoreTest, StreamGrowsInWholeRecordsPastTheFirst) {
  StorePtr s = Create();
  // 16000 bytes fit the first record; the next block makes the stream cross
  // into a second record, rounded up to 32768 with a free tail.
  ASSERT_EQ(Add(s.get(), {0, 1, 0, 1, std::string(15900, 'a'), ""}), kOk);
  ASSERT_EQ(Add(s.get(), {10, 1, 0, 1, std::string(1000, 'b'), std::string(50, 'c')}), kOk);
  s.reset();
  std::vector<Note> notes;
  FileStats stats;
  ASSERT_TRUE(CheckFile(ReadFileBytes(Path()), &notes, &stats));
  EXPECT_EQ(stats.streamLength, 32768u);
  EXPECT_EQ(stats.freeBlocks, 1u);
  EXPECT_EQ(notes[1].text1, std::string(1000, 'b'));
}

TEST_F(AnnotStoreTest, AddingOverOlderAnnotations) {
  struct Case {
    const char* what;
    std::vector<Note> before;
    Note added;
  };
  const Note a{100, 50, 0, 3, "old text", "old note"};
  const Note b{200, 20, 1, 5, "b", ""};
  const std::vector<Case> cases = {
      {"middle splits", {a}, {120, 10, 0, 7, "new", "n"}},
      {"exact replaces", {a}, {100, 50, 0, 7, "new", ""}},
      {"covers both", {a, b}, {90, 200, 0, 2, "", ""}},
      {"cuts end and start", {a, b}, {140, 70, 0, 2, "x", "y"}},
      {"touching ends untouched", {a, b}, {150, 50, 0, 2, "x", ""}},
      {"at start of one", {a}, {100, 10, 0, 2, "x", ""}},
      {"at end of one", {a}, {140, 10, 0, 2, "x", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StorePtr s = Create();
    for (const Note& n : c.before)
      ASSERT_EQ(Add(s.get(), n), kOk);
    ASSERT_EQ(Add(s.get(), c.added), kOk);
    std::vector<Note> expected = c.before;
    ModelAdd(expected, c.added);
    EXPECT_EQ(ReadAll(s.get()), expected);
    s.reset();
    EXPECT_EQ(FileNotes(), expected);
  }
  // The split keeps the old texts and colour on both sides.
  std::vector<Note> split = {a};
  ModelAdd(split, {120, 10, 0, 7, "new", "n"});
  ASSERT_EQ(split.size(), 3u);
  EXPECT_EQ(split[0], (Note{100, 20, 0, 3, "old text", "old note"}));
  EXPECT_EQ(split[2], (Note{130, 20, 0, 3, "old text", "old note"}));
}

TEST_F(AnnotStoreTest, AttributesAtPositionsNarrowTheRange) {
  StorePtr s = Create();
  std::uint8_t attrs[2] = {9, 9};
  std::uint32_t end = 1000;
  ASSERT_EQ(AnnotStore_GetAttributesAt(s.get(), 5, &end, attrs), kOk);
  EXPECT_EQ(end, 1000u);
  EXPECT_EQ(attrs[1], 0);
  ASSERT_EQ(Add(s.get(), {100, 50, 4, 3, "", ""}), kOk);
  ASSERT_EQ(Add(s.get(), {200, 20, 0, 5, "", ""}), kOk);
  struct Case {
    std::uint32_t position, end;
    std::uint8_t a1, a2;
    std::uint32_t newEnd;
  };
  const Case cases[] = {
      {0, 1000, 0, 0, 100},    // before the first: end lowered to its start
      {0, 50, 0, 0, 50},       // the next starts after the range end
      {100, 1000, 4, 3, 150},  // first position covered
      {149, 1000, 4, 3, 150},  // last position covered
      {120, 130, 4, 3, 130},   // range end already earlier
      {150, 1000, 0, 0, 200},  // between the two
      {150, 180, 0, 0, 180},  {219, 1000, 0, 5, 220}, {220, 1000, 0, 0, 1000},  // after the last
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    std::uint32_t rangeEnd = c.end;
    ASSERT_EQ(AnnotStore_GetAttributesAt(s.get(), c.position, &rangeEnd, attrs), kOk);
    EXPECT_EQ(attrs[0], c.a1);
    EXPECT_EQ(attrs[1], c.a2);
    EXPECT_EQ(rangeEnd, c.newEnd);
  }
}

TEST_F(AnnotStoreTest, GetEntryTextSizesAndBuffers) {
  StorePtr s = Create();
  ASSERT_EQ(Add(s.get(), {10, 10, 0, 2, "0123456789", ""}), kOk);
  // A caller buffer of size + 1 bytes gets at most size bytes and the NUL;
  // the bytes after it stay untouched.
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  AnnotEntry e{};
  e.text1 = buffer;
  e.text1Size = 4;
  e.text2Size = kAnnotTextAll;
  ASSERT_EQ(AnnotStore_GetEntry(s.get(), -1, 15, &e), kOk);
  EXPECT_EQ(e.index, 0);
  EXPECT_EQ(e.text1, buffer);
  EXPECT_EQ(e.text1Size, 4u);
  EXPECT_EQ(std::string(buffer, 6), std::string("0123\0#", 6));
  ASSERT_NE(e.text2, nullptr);  // an empty text that was wanted is ""
  EXPECT_EQ(e.text2Size, 0u);
  EXPECT_EQ(e.text2[0], '\0');
  Engine_Free(e.text2);
  // Not wanted: no pointer, size 0.
  AnnotEntry none{};
  none.text1 = buffer;
  ASSERT_EQ(AnnotStore_GetEntry(s.get(), 0, 0, &none), kOk);
  EXPECT_EQ(none.text1, nullptr);
  EXPECT_EQ(none.text2, nullptr);
  EXPECT_EQ(none.start, 10u);
  // Errors leave the entry alone.
  AnnotEntry bad{};
  bad.start = 77;
  EXPECT_EQ(AnnotStore_GetEntry(s.get(), 1, 0, &bad), kAnnotStoreNoEntry);
  EXPECT_EQ(AnnotStore_GetEntry(s.get(), -1, 20, &bad), kAnnotStoreNoEntry);
  EXPECT_EQ(AnnotStore_GetEntry(s.get(), -1, 9, &bad), kAnnotStoreNoEntry);
  EXPECT_EQ(AnnotStore_GetEntry(s.get(), -2, 10, &bad), kAnnotStoreNoEntry);
  bad.text1 = buffer;
  bad.text1Size = kAnnotTextAll;
  EXPECT_EQ(AnnotStore_GetEntry(s.get(), 0, 0, &bad), kBadArgument);
  EXPECT_EQ(bad.start, 77u);
}

TEST_F(AnnotStoreTest, ArgumentsOfChanges) {
  StorePtr s = Create();
  AnnotEntry e{0, 10, 0, 0, 1, nullptr, 3, nullptr, 0};
  EXPECT_EQ(AnnotStore_AddEntry(s.get(), &e), kBadArgument);  // null text with a size
  e.text1Size = 0;
  EXPECT_EQ(AnnotStore_AddEntry(s.get(), &e), kBadArgument);  // length 0
  e.start = 0xFFFFFFF0u;
  e.length = 0x10;
  EXPECT_EQ(AnnotStore_AddEntry(s.get(), &e), kOk);  // ends exactly at 2^32
  e.start = 0xFFFFFFF1u;
  EXPECT_EQ(AnnotStore_AddEntry(s.get(), &e), kBadArgument);
  EXPECT_EQ(Update(s.get(), 1, 2, "a", "b"), kAnnotStoreNoEntry);
  EXPECT_EQ(AnnotStore_DeleteEntries(s.get(), 1), kAnnotStoreNoEntry);
  EXPECT_EQ(AnnotStore_DeleteEntries(s.get(), -2), kAnnotStoreNoEntry);
  std::uint32_t end = 0xFFFFFFFFu;
  std::uint8_t attrs[2];
  ASSERT_EQ(AnnotStore_GetAttributesAt(s.get(), 0xFFFFFFFFu, &end, attrs), kOk);
  EXPECT_EQ(attrs[1], 1);
  EXPECT_EQ(FileNotes().size(), 1u);
}

TEST_F(AnnotStoreTest, UpdateKeepsRangeAndReusesSpace) {
  StorePtr s = Create();
  ASSERT_EQ(Add(s.get(), {10, 5, 0, 2, "short", ""}), kOk);
  ASSERT_EQ(Add(s.get(), {30, 5, 0, 2, "other", ""}), kOk);
  // Grow entry 0 past its block (it moves), shrink it again (a big tail is
  // split off), and change its colour.
  ASSERT_EQ(Update(s.get(), 0, 9, std::string(2000, 'L'), "comment"), kOk);
  EXPECT_EQ(FileNotes()[0], (Note{10, 5, 0, 9, std::string(2000, 'L'), "comment"}));
  ASSERT_EQ(Update(s.get(), 0, 4, "tiny", ""), kOk);
  std::vector<Note> notes;
  FileStats stats;
  ASSERT_TRUE(CheckFile(ReadFileBytes(Path()), &notes, &stats));
  EXPECT_EQ(notes, (std::vector<Note>{{10, 5, 0, 4, "tiny", ""}, {30, 5, 0, 2, "other", ""}}));
  EXPECT_GE(stats.freeBlocks, 1u);
  const std::uint32_t length = stats.streamLength;
  // Growing again fits into the freed space: the stream does not grow.
  ASSERT_EQ(Update(s.get(), 1, 2, std::string(1500, 'M'), ""), kOk);
  ASSERT_TRUE(CheckFile(ReadFileBytes(Path()), &notes, &stats));
  EXPECT_EQ(stats.streamLength, length);
  EXPECT_EQ(ReadAll(s.get()), notes);
}

TEST_F(AnnotStoreTest, DeletingAllKeepsTheStream) {
  StorePtr s = Create();
  EXPECT_EQ(AnnotStore_DeleteEntries(s.get(), -1), kOk);  // empty: nothing to do
  for (std::uint32_t i = 0; i < 6; ++i) {
    ASSERT_EQ(Add(s.get(), {i * 10, 5, 0, 1, std::string(100 + i, 'x'), "n"}), kOk);
  }
  ASSERT_EQ(AnnotStore_DeleteEntries(s.get(), 2), kOk);
  EXPECT_EQ(ReadAll(s.get()).size(), 5u);
  std::vector<Note> notes;
  FileStats before, after;
  ASSERT_TRUE(CheckFile(ReadFileBytes(Path()), &notes, &before));
  EXPECT_EQ(notes[2].start, 30u);
  ASSERT_EQ(AnnotStore_DeleteEntries(s.get(), -1), kOk);
  ASSERT_TRUE(CheckFile(ReadFileBytes(Path()), &notes, &after));
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(after.streamLength, before.streamLength);
  EXPECT_EQ(after.usedBlocks, 0u);
  EXPECT_GE(after.freeBlocks, 1u);
  std::uint16_t count = 1;
  ASSERT_EQ(AnnotStore_GetCount(s.get(), &count), kOk);
  EXPECT_EQ(count, 0);
}

// Two stores on one file (two windows on the document): each change starts
// from the file as it is, so neither store's older view damages it.
TEST_F(AnnotStoreTest, ChangesStartFromTheFileAsItIsNow) {
  {
    StorePtr s = Create();
    ASSERT_EQ(Add(s.get(), {10, 5, 0, 1, "base", ""}), kOk);
  }
  StorePtr a, b;
  ASSERT_EQ(OpenAt(Path(), kAnnotOpenRead, &a), kOk);
  ASSERT_EQ(OpenAt(Path(), kAnnotOpenRead, &b), kOk);
  ASSERT_EQ(Add(a.get(), {100, 5, 0, 2, std::string(700, 'a'), "from a"}), kOk);
  ASSERT_EQ(Add(b.get(), {200, 5, 0, 3, std::string(900, 'b'), "from b"}), kOk);
  ASSERT_EQ(AnnotStore_DeleteEntries(a.get(), 0), kOk);
  const std::vector<Note> expected = {{100, 5, 0, 2, std::string(700, 'a'), "from a"},
                                      {200, 5, 0, 3, std::string(900, 'b'), "from b"}};
  EXPECT_EQ(FileNotes(), expected);
  EXPECT_EQ(ReadAll(a.get()), expected);
}

// ---- damaged content met later -------------------------------------------------

TEST_F(AnnotStoreTest, DamagedEntriesAreReportedAndCanBeRemoved) {
  // Entry 0: text lengths larger than its block; entry 1: points at a free
  // block; entry 2: points past the stream; entry 3 is sound.
  std::string bad = UsedBlock("abc", "");
  Put32(bad, 20, 0xFFFFFFFF);
  const std::uint32_t freeAt = static_cast<std::uint32_t>(bad.size());
  const std::string stream = bad + FreeBlock(16, kNil, kNil) + UsedBlock("good", "yes");
  const std::uint32_t goodAt = freeAt + 32;
  WriteFileBytes(Path(), BuildKela(stream,
                                   {EntryBytes(0, 10, 0, 1, 0), EntryBytes(20, 1, 0, 1, freeAt),
                                    EntryBytes(30, 1, 0, 1, 5000), EntryBytes(40, 1, 0, 1, goodAt)},
                                   freeAt, freeAt));
  StorePtr s;
  ASSERT_EQ(OpenAt(Path(), kAnnotOpenWrite, &s), kOk);
  for (std::int32_t i = 0; i < 3; ++i) {
    AnnotEntry e{};
    e.text1Size = kAnnotTextAll;
    e.start = 99;
    EXPECT_EQ(AnnotStore_GetEntry(s.get(), i, 0, &e), kAnnotStoreCorrupt) << i;
    EXPECT_EQ(e.start, 99u);
  }
  AnnotEntry e{};
  e.text1Size = kAnnotTextAll;
  ASSERT_EQ(AnnotStore_GetEntry(s.get(), 3, 0, &e), kOk);
  EXPECT_EQ(std::string(e.text1, e.text1Size), "good");
  Engine_Free(e.text1);
  // Splitting entry 0 needs its texts: the add fails whole, the file keeps
  // its bytes and the store its entries.
  const std::string before = ReadFileBytes(Path());
  EXPECT_EQ(Add(s.get(), {3, 2, 0, 2, "z", ""}), kAnnotStoreCorrupt);
  EXPECT_EQ(ReadFileBytes(Path()), before);
  std::uint16_t count = 0;
  ASSERT_EQ(AnnotStore_GetCount(s.get(), &count), kOk);
  EXPECT_EQ(count, 4);
  // Deleting or replacing the damaged entries frees only sound blocks; the
  // file is sound afterwards.
  ASSERT_EQ(AnnotStore_DeleteEntries(s.get(), 2), kOk);
  ASSERT_EQ(Add(s.get(), {20, 1, 0, 2, "y", ""}), kOk);
  ASSERT_EQ(Add(s.get(), {0, 10, 0, 2, "z", ""}), kOk);
  const std::vector<Note> expected = {
      {0, 10, 0, 2, "z", ""}, {20, 1, 0, 2, "y", ""}, {40, 1, 0, 1, "good", "yes"}};
  EXPECT_EQ(ReadAll(s.get()), expected);
  EXPECT_EQ(FileNotes(), expected);
}

TEST_F(AnnotStoreTest, FreeListCycleIsCorruptNotAHang) {
  // Two free blocks of 16 that point at each other; nothing fits, so the
  // walk would go round for ever.
  const std::string stream = FreeBlock(16, 32, 32) + FreeBlock(16, 0, 0);
  WriteFileBytes(Path(), BuildKela(stream, {}, 0, 32));
  StorePtr s;
  ASSERT_EQ(OpenAt(Path(), kAnnotOpenWrite, &s), kOk);
  const std::string before = ReadFileBytes(Path());
  EXPECT_EQ(Add(s.get(), {0, 1, 0, 2, std::string(100, 'q'), ""}), kAnnotStoreCorrupt);
  EXPECT_EQ(ReadFileBytes(Path()), before);
}

// More than 65,535 small free blocks is a fragmented heap, not a damaged one.
TEST_F(AnnotStoreTest, LongFreeListIsNotCorrupt) {
  constexpr std::uint32_t kBlocks = 70000;
  std::string stream;
  stream.reserve(kBlocks * 32);
  for (std::uint32_t i = 0; i < kBlocks; ++i) {
    stream += FreeBlock(16, i == 0 ? kNil : (i - 1) * 32, i + 1 == kBlocks ? kNil : (i + 1) * 32);
  }
  WriteFileBytes(Path(), BuildKela(stream, {}, 0, (kBlocks - 1) * 32));
  StorePtr s;
  ASSERT_EQ(OpenAt(Path(), kAnnotOpenWrite, &s), kOk);
  ASSERT_EQ(Add(s.get(), {5, 5, 0, 2, std::string(100, 'q'), ""}), kOk);
  std::vector<Note> notes;
  FileStats stats;
  ASSERT_TRUE(CheckFile(ReadFileBytes(Path()), &notes, &stats));
  EXPECT_EQ(notes.size(), 1u);
  // The new block came from the end, the rest of its record a free tail.
  EXPECT_EQ(stats.freeBlocks, kBlocks + 1);
}

TEST_F(AnnotStoreTest, EntryCountNeverWraps) {
  std::vector<std::string> entries;
  for (std::uint32_t i = 0; i < 65535; ++i)
    entries.push_back(EntryBytes(i * 2, 1, 0, 1, 0));
  WriteFileBytes(Path(), BuildKela(UsedBlock("shared", ""), entries));
  StorePtr s;
  ASSERT_EQ(OpenAt(Path(), kAnnotOpenWrite, &s), kOk);
  const std::string before = ReadFileBytes(Path());
  EXPECT_EQ(Add(s.get(), {200000, 1, 0, 2, "x", ""}), kAnnotStoreFull);
  EXPECT_EQ(ReadFileBytes(Path()), before);
  std::uint16_t count = 0;
  ASSERT_EQ(AnnotStore_GetCount(s.get(), &count), kOk);
  EXPECT_EQ(count, 65535);
  // Replacing one entry keeps the count and works.
  EXPECT_EQ(Add(s.get(), {2, 1, 0, 2, "x", ""}), kOk);
}

// ---- the whole store against the model -------------------------------------

TEST_F(AnnotStoreTest, RandomChangesKeepTheFileConsistent) {
  std::mt19937 rng(20261210);
  auto pick = [&](std::uint32_t lo, std::uint32_t hi) {
    return std::uniform_int_distribution<std::uint32_t>(lo, hi)(rng);
  };
  auto text = [&](std::uint32_t max) {
    std::uint32_t n = pick(0, 9) == 0 ? pick(max / 2, max) : pick(0, 300);
    std::string t(n, '\0');
    for (char& ch : t)
      ch = static_cast<char>(pick(0, 255));
    return t;
  };
  StorePtr s = Create();
  std::vector<Note> model;
  for (int step = 0; step < 300; ++step) {
    const std::uint32_t op = pick(0, 99);
    if (op < 60 || model.empty()) {
      Note n{pick(0, 5000),
             static_cast<std::uint16_t>(pick(1, 400)),
             static_cast<std::uint8_t>(pick(0, 3)),
             static_cast<std::uint8_t>(pick(1, 16)),
             text(20000),
             text(2000)};
      ASSERT_EQ(Add(s.get(), n), kOk) << step;
      ModelAdd(model, n);
    } else if (op < 85) {
      const std::uint32_t i = pick(0, static_cast<std::uint32_t>(model.size() - 1));
      Note& m = model[i];
      m.attribute1 = 0;
      m.attribute2 = static_cast<std::uint8_t>(pick(1, 16));
      m.text1 = text(20000);
      m.text2 = text(600);
      ASSERT_EQ(Update(s.get(), static_cast<std::int32_t>(i), m.attribute2, m.text1, m.text2), kOk)
          << step;
    } else if (op < 98) {
      const std::uint32_t i = pick(0, static_cast<std::uint32_t>(model.size() - 1));
      ASSERT_EQ(AnnotStore_DeleteEntries(s.get(), static_cast<std::int32_t>(i)), kOk) << step;
      model.erase(model.begin() + i);
    } else {
      ASSERT_EQ(AnnotStore_DeleteEntries(s.get(), -1), kOk) << step;
      model.clear();
    }
    std::vector<Note> notes;
    ASSERT_TRUE(CheckFile(ReadFileBytes(Path()), &notes)) << "after step " << step;
    ASSERT_EQ(notes, model) << "after step " << step;
    if (step % 25 == 0) {
      ASSERT_EQ(ReadAll(s.get()), model) << step;
      // A position inside each annotation finds it.
      for (const Note& m : model) {
        std::uint32_t end = 0xFFFFFFFFu;
        std::uint8_t attrs[2];
        ASSERT_EQ(AnnotStore_GetAttributesAt(s.get(), m.start + m.length - 1, &end, attrs), kOk);
        EXPECT_EQ(end, m.start + m.length);
        EXPECT_EQ(attrs[1], m.attribute2);
      }
    }
  }
  s.reset();
  StorePtr again;
  ASSERT_EQ(OpenAt(Path(), kAnnotOpenRead, &again), kOk);
  EXPECT_EQ(ReadAll(again.get()), model);
}

// ---- failing and killed writes -------------------------------------------------

// The store reaches files only through the file-system module; this one hands
// out streams that forward to the real file stream (path and handle
// included) but whose writes fail once a byte budget is spent, built on the
// faulty stream of the runtime tests.
class FailingFileSys {
 public:
  explicit FailingFileSys(std::uint64_t budget) : budget_(budget) {
    ops_ = OpsOf<FileSysOps>(&FileSysModule);
    ops_.open = &Open;
    streamOps_ = test_streams::kFaultyOps;
    streamOps_.close = &Close;
    streamOps_.getProperty = &GetProperty;
    saved_ = g_FileSysModule;
    current_ = this;
    g_FileSysModule = &module_;
  }
  ~FailingFileSys() {
    g_FileSysModule = saved_;
    current_ = nullptr;
  }
  FailingFileSys(const FailingFileSys&) = delete;
  FailingFileSys& operator=(const FailingFileSys&) = delete;
  // Bytes the store asked to write through its streams.
  std::uint64_t BytesAsked() const {
    std::uint64_t n = 0;
    for (std::uint32_t w : log_)
      n += w;
    return n;
  }

 private:
  struct Wrapped {
    test_streams::FaultyBody body;  // first: the stream's state points here
    EngineObject object;
  };
  static Wrapped* Of(EngineObject* s) { return reinterpret_cast<Wrapped*>(s->state); }

  static StatusCode Open(EngineObject*, char16_t* path, std::uint32_t length, std::uint32_t type,
                         EngineObject** out) noexcept {
    EngineObject* real = nullptr;
    const StatusCode status = FileSys_Open(&FileSysModule, path, length, type, &real);
    if (status != kOk) return status;
    auto* w = new Wrapped{};
    w->body.inner = real;
    w->body.log = &current_->log_;
    w->body.budget = current_->budget_;
    w->object = {&w->body, &current_->streamOps_};
    *out = &w->object;
    return kOk;
  }
  static StatusCode Close(EngineObject* s) noexcept {
    Wrapped* w = Of(s);
    const StatusCode status = StreamOf(w->body.inner).close(w->body.inner);
    delete w;
    return status;
  }
  static StatusCode GetProperty(EngineObject* s, std::uint32_t id, std::uint32_t capacity,
                                std::uint32_t* length, void* value) noexcept {
    EngineObject* in = Of(s)->body.inner;
    return StreamOf(in).getProperty(in, id, capacity, length, value);
  }

  static inline FailingFileSys* current_ = nullptr;
  std::uint64_t budget_;
  std::vector<std::uint32_t> log_;
  FileSysOps ops_{};
  StreamOps streamOps_{};
  EngineObject module_{nullptr, &ops_};
  EngineObject* saved_ = nullptr;
};

class AnnotStoreFailureTest : public AnnotStoreTest {
 protected:
  // A file with three annotations, and the add that splits one of them,
  // shortens another and needs new blocks.
  void SetUp() override {
    StorePtr s = Create();
    ASSERT_EQ(Add(s.get(), {100, 100, 0, 3, std::string(300, 'a'), "first"}), kOk);
    ASSERT_EQ(Add(s.get(), {300, 50, 0, 4, "second", std::string(40, 'n')}), kOk);
    ASSERT_EQ(Add(s.get(), {400, 10, 0, 5, "third", ""}), kOk);
    s.reset();
    before_ = ReadFileBytes(Path());
    ASSERT_TRUE(CheckFile(before_, &old_));
    after_ = old_;
    ModelAdd(after_, added_);
  }
  // The file opens with the annotations it had before, or with the add made
  // whole when the add reported success.
  void ExpectOldOrNew(bool added) {
    std::vector<Note> notes;
    ASSERT_TRUE(CheckFile(ReadFileBytes(Path()), &notes));
    EXPECT_EQ(notes, added ? after_ : old_);
    StorePtr s;
    ASSERT_EQ(OpenAt(Path(), kAnnotOpenRead, &s), kOk);
    EXPECT_EQ(ReadAll(s.get()), added ? after_ : old_);
  }

  const Note added_{150, 180, 0, 9, std::string(500, 'z'), "new note"};
  std::string before_;
  std::vector<Note> old_, after_;
};

TEST_F(AnnotStoreFailureTest, FailingStreamWriteAtEveryByteLosesNothing) {
  std::uint64_t total = 0;
  {
    FailingFileSys fs(UINT64_MAX);
    StorePtr s;
    ASSERT_EQ(OpenAt(Path(), kAnnotOpenRead, &s), kOk);
    ASSERT_EQ(Add(s.get(), added_), kOk);
    total = fs.BytesAsked();
  }
  ASSERT_GT(total, 0u);
  int failures = 0;
  for (std::uint64_t budget = 0; budget <= total + 1; budget += (budget < 128 ? 1 : 7)) {
    SCOPED_TRACE(budget);
    WriteFileBytes(Path(), before_);
    bool added = false;
    {
      FailingFileSys fs(budget);
      StorePtr s;
      ASSERT_EQ(OpenAt(Path(), kAnnotOpenRead, &s), kOk);
      const StatusCode status = Add(s.get(), added_);
      added = status == kOk;
      failures += !added;
      // A store whose add failed still shows the old annotations.
      EXPECT_EQ(ReadAll(s.get()), added ? after_ : old_);
    }
    ExpectOldOrNew(added);
  }
  EXPECT_GT(failures, 0);
}

// Real failing writes from the system: a child process adds with a file size
// limit, so every write past the limit fails (full disk) or kills it (crash
// in the middle of a write), at every byte of the new file.
TEST_F(AnnotStoreFailureTest, FullDiskOrKillAtEveryByteLeavesOldOrNewFile) {
  std::uint64_t newSize = 0;
  {
    WriteFileBytes(Path(), before_);
    StorePtr s;
    ASSERT_EQ(OpenAt(Path(), kAnnotOpenWrite, &s), kOk);
    ASSERT_EQ(Add(s.get(), added_), kOk);
    s.reset();
    newSize = ReadFileBytes(Path()).size();
  }
  // Every byte at first, then a sample, and the edges of the new file's size.
  std::vector<std::uint64_t> limits;
  for (std::uint64_t limit = 0; limit < newSize; limit += (limit < 64 ? 1 : 17))
    limits.push_back(limit);
  for (std::uint64_t limit : {newSize - 1, newSize, newSize + 4096})
    limits.push_back(limit);
  for (bool kill : {false, true}) {
    int failed = 0, succeeded = 0, killed = 0;
    for (std::uint64_t limit : limits) {
      SCOPED_TRACE(std::string(kill ? "killed" : "refused") + " at " + std::to_string(limit));
      WriteFileBytes(Path(), before_);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        struct rlimit none {
          0, 0
        };
        setrlimit(RLIMIT_CORE, &none);
        signal(SIGXFSZ, kill ? SIG_DFL : SIG_IGN);
        struct rlimit size {
          static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)
        };
        setrlimit(RLIMIT_FSIZE, &size);
        const std::u16string p = U16(Path());
        AnnotStore* s = nullptr;
        if (AnnotStore_Open(p.c_str(), 0, kAnnotOpenRead, &s) != kOk) _exit(3);
        const StatusCode status = Add(s, added_);
        // Every change is committed when made: the add's status is the answer.
        (void)AnnotStore_Close(s);
        _exit(status == kOk ? 0 : 1);
      }
      int wstatus = 0;
      ASSERT_EQ(waitpid(child, &wstatus, 0), child);
      const bool added = WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
      killed += WIFSIGNALED(wstatus);
      if (kill) {
        EXPECT_TRUE(WIFSIGNALED(wstatus) || (WIFEXITED(wstatus) && WEXITSTATUS(wstatus) <= 1));
      } else {
        ASSERT_TRUE(WIFEXITED(wstatus));
        ASSERT_NE(WEXITSTATUS(wstatus), 3);
      }
      added ? ++succeeded : ++failed;
      ExpectOldOrNew(added);
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(succeeded, 0);
    EXPECT_EQ(killed > 0, kill);
  }
}

}  // namespace
