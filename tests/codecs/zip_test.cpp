#include "engine/codecs/zip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/codecs/deflate_bits.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"

namespace {

using deflate_test::MakeData;

const ZipOps& Ops() {
  return OpsOf<ZipOps>(g_ZipModule);
}

std::string Data(std::size_t size, int kind, std::uint32_t seed) {
  const auto b = MakeData(size, kind, seed);
  return {b.begin(), b.end()};
}

EngineObject* NewStream(const std::string& bytes = {}) {
  return test_streams::NewMemStream(bytes);
}
using test_streams::Contents;

struct Entry {
  std::string name;
  std::string data;
  std::uint32_t method = kZipMethodDeflated;
};

// An instance with its streams, released at the end of the test.
struct Zip {
  Zip() { EXPECT_EQ(Ops().create(g_ZipModule, &object), kOk); }
  ~Zip() {
    EXPECT_EQ(Ops().destroy(object), kOk);
    for (EngineObject* s : streams)
      EXPECT_EQ(StreamOf(s).close(s), kOk);
  }
  EngineObject* Stream(const std::string& bytes = {}) {
    streams.push_back(NewStream(bytes));
    return streams.back();
  }
  StatusCode Add(const Entry& e, const DateTime* date = nullptr) {
    EngineObject* in = Stream(e.data);
    return Ops().addEntry(object, in, 0, static_cast<std::uint32_t>(e.data.size()), e.name.data(),
                          static_cast<std::uint32_t>(e.name.size()), date, e.method);
  }
  // A new archive with the entries; its bytes.
  std::string Build(const std::vector<Entry>& entries, const DateTime* date = nullptr) {
    archive = Stream();
    EXPECT_EQ(Ops().createArchive(object, archive, 0), kOk);
    for (const Entry& e : entries)
      EXPECT_EQ(Add(e, date), kOk) << e.name;
    return Contents(archive);
  }
  // Every entry's name and extracted data; the first failure stops the walk.
  StatusCode ReadAll(std::map<std::string, std::string>& out) {
    out.clear();
    StatusCode s = Ops().firstEntry(object);
    for (; s == kOk; s = Ops().nextEntry(object)) {
      std::uint32_t nameLength = 0, nameOffset = 0, size = 0;
      EXPECT_EQ(
          Ops().getEntryInfo(object, nullptr, nullptr, nullptr, &size, &nameLength, &nameOffset),
          kOk);
      std::string name(nameLength, '\0');
      EXPECT_EQ(StreamOf(current).readAt(current, nameOffset, name.data(), nameLength, nullptr),
                kOk);
      EngineObject* sink = Stream();
      const StatusCode x = Ops().extractEntry(object, sink, 0, nullptr, nullptr, nullptr);
      if (x != kOk) return x;
      out[name] = Contents(sink);
      EXPECT_EQ(out[name].size(), size);
    }
    return s == kNoMore ? kOk : s;
  }
  StatusCode Open(const std::string& bytes) {
    current = Stream(bytes);
    return Ops().open(object, current);
  }
  EngineObject* object = nullptr;
  EngineObject* archive = nullptr;
  EngineObject* current = nullptr;
  std::vector<EngineObject*> streams;
};

std::vector<Entry> SampleEntries() {
  return {
      {"docs/", "", kZipMethodStored},
      {"docs/readme.txt", Data(150000, 1, 1)},
      {"data.bin", Data(40000, 0, 2), kZipMethodStored},
      {"empty.txt", ""},
      {"runs.dat", Data(100000, 2, 3)},
      {"n\xc3\xa4me.txt", "utf-8 name"},
  };
}

TEST(ZipModule, SharesTheGzipModulesDestroy) {
  EXPECT_EQ(Ops().destroy, &GzipMod_Destroy);
}

// Archives we write pass the tool's test and extract to the same files.
TEST(ZipPeer, ArchivesWeWriteTestAndExtractWithUnzip) {
  KELPO_REQUIRE_PEER("unzip");
  Zip z;
  const DateTime date{2022, 7, 8, 9, 10, 12, 0};
  const std::string bytes = z.Build(SampleEntries(), &date);
  TempDir dir;
  WriteFileBytes(dir.File("ours.zip"), bytes);
  int status = -1;
  const std::string test = RunPeer("unzip -t '" + dir.File("ours.zip") + "'", "", &status);
  EXPECT_EQ(status, 0) << test;
  RunPeer("unzip -q -o '" + dir.File("ours.zip") + "' -d '" + dir.File("out") + "'", "", &status);
  ASSERT_EQ(status, 0);
  for (const Entry& e : SampleEntries()) {
    if (e.name.back() == '/') continue;
    EXPECT_EQ(ReadFileBytes(dir.File("out/" + e.name)), e.data) << e.name;
  }
  // Methods and the date as the tool lists them.
  const std::string listing = RunPeer("unzip -Zl '" + dir.File("ours.zip") + "'", "", &status);
  EXPECT_NE(listing.find("defN 22-Jul-08 09:10 docs/readme.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("stor 22-Jul-08 09:10 data.bin"), std::string::npos) << listing;
}

// Archives the tool writes — deflated, stored, with a comment, streamed with
// data descriptors — we list and extract.
TEST(ZipPeer, ArchivesTheToolWritesAreListedAndExtracted) {
  KELPO_REQUIRE_PEER("zip");
  TempDir dir;
  const std::map<std::string, std::string> files = {
      {"a.txt", Data(120000, 1, 4)}, {"sub/b.bin", Data(30000, 0, 5)}, {"c.txt", ""}};
  RunPeer("mkdir -p '" + dir.File("sub") + "'", "", nullptr);
  for (const auto& [name, data] : files)
    WriteFileBytes(dir.File(name), data);
  struct Case {
    const char* what;
    std::string command;
  };
  const Case cases[] = {
      {"deflated", "zip -q -9 x.zip a.txt sub/b.bin c.txt"},
      {"stored", "zip -q -0 x.zip a.txt sub/b.bin c.txt"},
      {"comment", "echo 'archive comment' | zip -q -z x.zip a.txt sub/b.bin c.txt"},
      {"streamed", "zip -q - a.txt sub/b.bin c.txt | cat > x.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int status = -1;
    RunPeer("cd '" + dir.Path() + "' && rm -f x.zip && " + c.command, "", &status);
    ASSERT_EQ(status, 0);
    const std::string bytes = ReadFileBytes(dir.File("x.zip"));
    Zip z;
    ASSERT_EQ(z.Open(bytes), kOk);
    std::uint32_t entries = 0, commentLength = 0, commentOffset = 0;
    ASSERT_EQ(Ops().getArchiveInfo(z.object, nullptr, nullptr, nullptr, &entries, &commentLength,
                                   &commentOffset),
              kOk);
    EXPECT_EQ(entries, 3u);
    if (std::string(c.what) == "comment") {
      EXPECT_EQ(bytes.substr(commentOffset, commentLength), "archive comment");
    }
    std::map<std::string, std::string> got;
    ASSERT_EQ(z.ReadAll(got), kOk);
    EXPECT_EQ(got, files);
  }
}

TEST(ZipPeer, EncryptedAndZip64ArchivesAreRefused) {
  KELPO_REQUIRE_PEER("zip");
  TempDir dir;
  WriteFileBytes(dir.File("a.txt"), "secret text");
  int status = -1;
  RunPeer("cd '" + dir.Path() + "' && zip -q -e -P x enc.zip a.txt && zip -q -fz z64.zip a.txt", "",
          &status);
  ASSERT_EQ(status, 0);
  Zip enc;
  ASSERT_EQ(enc.Open(ReadFileBytes(dir.File("enc.zip"))), kOk);
  ASSERT_EQ(Ops().firstEntry(enc.object), kOk);
  EngineObject* sink = enc.Stream();
  EXPECT_EQ(Ops().extractEntry(enc.object, sink, 0, nullptr, nullptr, nullptr), kZipEncrypted);
  Zip z64;
  StatusCode s = z64.Open(ReadFileBytes(dir.File("z64.zip")));
  if (s == kOk) s = Ops().firstEntry(z64.object);
  EXPECT_EQ(s, kZipUnsupported);
}

// A symbolic link stored by the tool with -y is told apart from files and
// folders; without -y the tool stores the file it points to.
TEST(ZipPeer, EntryKindsTellSymbolicLinksFromFilesAndFolders) {
  KELPO_REQUIRE_PEER("zip");
  TempDir dir;
  RunPeer("mkdir -p '" + dir.File("sub") + "'", "", nullptr);
  WriteFileBytes(dir.File("a.txt"), "target text");
  int status = -1;
  RunPeer(
      "cd '" + dir.Path() +
          "' && ln -s a.txt link && zip -q -y links.zip a.txt sub link && zip -q plain.zip link",
      "", &status);
  ASSERT_EQ(status, 0);
  struct Case {
    const char* archive;
    std::map<std::string, std::pair<ZipEntryKind, std::string>> entries;  // kind, data
  };
  const Case cases[] = {
      {"links.zip",
       {{"a.txt", {ZipEntryKind::kFile, "target text"}},
        {"sub/", {ZipEntryKind::kFolder, ""}},
        {"link", {ZipEntryKind::kSymbolicLink, "a.txt"}}}},
      {"plain.zip", {{"link", {ZipEntryKind::kFile, "target text"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    Zip z;
    ASSERT_EQ(z.Open(ReadFileBytes(dir.File(c.archive))), kOk);
    std::map<std::string, std::pair<ZipEntryKind, std::string>> got;
    for (StatusCode s = Ops().firstEntry(z.object); s != kNoMore; s = Ops().nextEntry(z.object)) {
      ASSERT_EQ(s, kOk);
      std::uint32_t nameLength = 0, nameOffset = 0;
      ASSERT_EQ(Ops().getEntryInfo(z.object, nullptr, nullptr, nullptr, nullptr, &nameLength,
                                   &nameOffset),
                kOk);
      const std::string name = Contents(z.current).substr(nameOffset, nameLength);
      ZipEntryKind kind{};
      ASSERT_EQ(ZipMod_GetEntryKind(z.object, &kind), kOk);
      EngineObject* sink = z.Stream();
      ASSERT_EQ(Ops().extractEntry(z.object, sink, 0, nullptr, nullptr, nullptr), kOk);
      got[name] = {kind, Contents(sink)};
    }
    EXPECT_EQ(got, c.entries);
  }
}

// Entries we write, and entries whose maker stored no Unix mode (judged by
// the MS-DOS folder bit and a trailing '/'), or a mode of another type.
TEST(ZipRead, EntryKindsWithoutAUnixMode) {
  Zip w;
  const std::string bytes = w.Build({{"d/", "", kZipMethodStored}, {"d/f.txt", "text"}});
  struct Case {
    const char* what;
    std::uint16_t madeBy;  // 0xFFFF: as written
    std::uint32_t attributes;
    ZipEntryKind folder, file;
  };
  const Case cases[] = {
      {"ours: Unix modes", 0xFFFF, 0xFFFFFFFFu, ZipEntryKind::kFolder, ZipEntryKind::kFile},
      {"MS-DOS maker, attributes kept", 0x0014, 0xFFFFFFFFu, ZipEntryKind::kFolder,
       ZipEntryKind::kFile},
      {"MS-DOS maker, no attributes", 0x0014, 0, ZipEntryKind::kFolder, ZipEntryKind::kFile},
      {"Unix maker, no mode", 0x0314, 0, ZipEntryKind::kFolder, ZipEntryKind::kFile},
      {"Unix maker, a fifo", 0x0314, 0010644u << 16, ZipEntryKind::kSpecial,
       ZipEntryKind::kSpecial},
      {"Unix maker, a link", 0x0314, 0120777u << 16, ZipEntryKind::kSymbolicLink,
       ZipEntryKind::kSymbolicLink},
  };
  std::uint32_t directory = 0;  // the end record's directory offset (no comment)
  for (int k = 3; k >= 0; --k)
    directory = directory << 8 | static_cast<std::uint8_t>(bytes[bytes.size() - 6 + k]);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string patched = bytes;
    // Both directory entries: the folder's (name 2 bytes) first.
    for (std::uint32_t at : {directory, directory + 46 + 2}) {
      if (c.madeBy != 0xFFFF) {
        patched[at + 4] = static_cast<char>(c.madeBy & 0xFF);
        patched[at + 5] = static_cast<char>(c.madeBy >> 8);
      }
      if (c.attributes != 0xFFFFFFFFu) {
        for (int k = 0; k < 4; ++k)
          patched[at + 38 + k] = static_cast<char>(c.attributes >> (8 * k));
      }
    }
    Zip z;
    ASSERT_EQ(z.Open(patched), kOk);
    ZipEntryKind kind{};
    EXPECT_EQ(ZipMod_GetEntryKind(z.object, &kind), kBadArgument);  // no entry yet
    ASSERT_EQ(Ops().firstEntry(z.object), kOk);
    ASSERT_EQ(ZipMod_GetEntryKind(z.object, &kind), kOk);
    EXPECT_EQ(kind, c.folder);
    ASSERT_EQ(Ops().nextEntry(z.object), kOk);
    ASSERT_EQ(ZipMod_GetEntryKind(z.object, &kind), kOk);
    EXPECT_EQ(kind, c.file);
    EXPECT_EQ(ZipMod_GetEntryKind(z.object, nullptr), kBadArgument);
  }
}

// Appending to the tool's archive keeps its entries and comment.
TEST(ZipPeer, EntriesAddedToTheToolsArchiveKeepItsEntriesAndComment) {
  KELPO_REQUIRE_PEER("zip");
  KELPO_REQUIRE_PEER("unzip");
  TempDir dir;
  const std::string old = Data(50000, 1, 6);
  WriteFileBytes(dir.File("old.txt"), old);
  int status = -1;
  RunPeer("cd '" + dir.Path() + "' && echo 'kept comment' | zip -q -z x.zip old.txt", "", &status);
  ASSERT_EQ(status, 0);
  Zip z;
  ASSERT_EQ(z.Open(ReadFileBytes(dir.File("x.zip"))), kOk);
  const std::string added = Data(60000, 2, 7);
  ASSERT_EQ(z.Add({"new/added.dat", added}), kOk);
  std::uint32_t size = 0;
  ASSERT_EQ(Ops().getEntryInfo(z.object, nullptr, nullptr, nullptr, &size, nullptr, nullptr),
            kOk);  // the new entry is current
  EXPECT_EQ(size, added.size());
  WriteFileBytes(dir.File("y.zip"), Contents(z.current));
  const std::string test = RunPeer("unzip -t '" + dir.File("y.zip") + "'", "", &status);
  EXPECT_EQ(status, 0) << test;
  EXPECT_NE(test.find("kept comment"), std::string::npos) << test;
  EXPECT_EQ(RunPeer("unzip -p '" + dir.File("y.zip") + "' new/added.dat", "", &status), added);
  EXPECT_EQ(RunPeer("unzip -p '" + dir.File("y.zip") + "' old.txt", "", &status), old);
}

TEST(ZipRead, OurArchivesReadBackWithTheirDates) {
  Zip z;
  const DateTime date{2030, 12, 31, 23, 58, 59, 0};
  const std::string bytes = z.Build(SampleEntries(), &date);
  Zip r;
  ASSERT_EQ(r.Open(bytes), kOk);
  std::map<std::string, std::string> got;
  ASSERT_EQ(r.ReadAll(got), kOk);
  ASSERT_EQ(got.size(), SampleEntries().size());
  for (const Entry& e : SampleEntries())
    EXPECT_EQ(got[e.name], e.data) << e.name;
  ASSERT_EQ(Ops().firstEntry(r.object), kOk);
  DateTime d{};
  std::uint32_t crc = 0;
  ASSERT_EQ(Ops().getEntryInfo(r.object, &d, &crc, nullptr, nullptr, nullptr, nullptr), kOk);
  const DateTime expected{2030, 12, 31, 23, 58, 58, 0};  // two-second steps
  EXPECT_EQ(std::memcmp(&d, &expected, sizeof d), 0);
  std::uint32_t madeBy = 0, needed = 0, local = 99;
  ASSERT_EQ(Ops().getEntryExtra(r.object, &madeBy, &needed, nullptr, nullptr, &local), kOk);
  EXPECT_EQ(local, 0u);
  EXPECT_EQ(madeBy, 0x0314u);  // Unix, 2.0
  EXPECT_EQ(needed, 20u);
  // An empty archive has no entries.
  Zip e;
  const std::string empty = e.Build({});
  EXPECT_EQ(empty.size(), 22u);
  ASSERT_EQ(e.Open(empty), kOk);
  EXPECT_EQ(Ops().firstEntry(e.object), kNoMore);
}

TEST(ZipRead, TheEndRecordIsFoundPastAForgedOneInTheComment) {
  Zip z;
  std::string bytes = z.Build({{"a.txt", "alpha"}});
  // A comment that holds an end-record signature of its own.
  const std::string comment = std::string("PK\x05\x06", 4) + std::string(18, '\0') + "tail";
  bytes[bytes.size() - 2] = static_cast<char>(comment.size());
  bytes += comment;
  Zip r;
  ASSERT_EQ(r.Open(bytes), kOk);
  std::map<std::string, std::string> got;
  ASSERT_EQ(r.ReadAll(got), kOk);
  EXPECT_EQ(got["a.txt"], "alpha");
  // A signature split across the ends of two 512-byte reads does not matter
  // either: the end record is found at any offset.
  for (std::size_t pad : {1u, 509u, 510u, 511u, 700u}) {
    Zip p;
    std::string padded = z.Build({{std::string(pad, 'n'), "x"}});
    ASSERT_EQ(p.Open(padded), kOk) << pad;
  }
  Zip none;
  EXPECT_EQ(none.Open(std::string(1000, 'P')), kZipNoEndRecord);
  EXPECT_EQ(none.Open("PK\x05\x06"), kZipNoEndRecord);
}

TEST(ZipRead, DamagedArchivesAnswerTheirCodes) {
  Zip w;
  const std::string text = Data(3000, 1, 8);
  const std::string bytes = w.Build({{"s.txt", text, kZipMethodStored}, {"d.txt", text}});
  const std::size_t dir = bytes.find(std::string("PK\x01\x02", 4));
  const std::size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(dir, std::string::npos);
  auto patched = [&](std::size_t at, std::string with) {
    std::string b = bytes;
    b.replace(at, with.size(), with);
    return b;
  };
  struct Case {
    const char* what;
    std::string bytes;
    StatusCode open, read;
  };
  const Case cases[] = {
      {"stored data changed", patched(30 + 5 + 10, "#"), kOk, kZipCrcMismatch},
      {"directory signature", patched(dir, "PK\x01\x03"), kOk, kZipBadSignature},
      {"local signature", patched(0, "PK\x03\x05"), kOk, kZipBadSignature},
      {"method 99", patched(dir + 10, "\x63"), kOk, kMalformed},
      {"encrypted flag", patched(dir + 8, "\x01"), kOk, kZipEncrypted},
      {"size changed", patched(dir + 24, "\x01"), kOk, kZipSizeMismatch},
      {"compressed size past the directory", patched(dir + 20 + 2, "\x7f"), kOk, kZipSizeMismatch},
      {"name past the directory", patched(dir + 28 + 1, "\x40"), kOk, kZipSizeMismatch},
      {"directory past the end record", patched(end + 16, "\xff\xff"), kZipSizeMismatch, kOk},
      {"more entries than fit", patched(end + 8, std::string("\x40\x00\x40\x00", 4)),
       kZipSizeMismatch, kOk},
      {"split archive", patched(end + 4, "\x01"), kZipUnsupported, kOk},
      {"Zip64 counts", patched(end + 8, "\xff\xff\xff\xff"), kZipUnsupported, kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Zip r;
    ASSERT_EQ(r.Open(c.bytes), c.open);
    if (c.open != kOk) continue;
    std::map<std::string, std::string> got;
    EXPECT_EQ(r.ReadAll(got), c.read);
  }
}

// An entry that inflates far past the size its directory entry declares is
// stopped soon after passing it, not written out in full.
TEST(ZipRead, InflatingPastTheDeclaredSizeStopsEarly) {
  Zip w;
  const std::string zeros(4u << 20, '\0');
  const std::string bytes = w.Build({{"z.bin", zeros}});
  const std::size_t dir = bytes.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(dir, std::string::npos);
  std::string patched = bytes;
  patched.replace(dir + 24, 4, std::string("\x0a\x00\x00\x00", 4));  // size 10
  Zip r;
  ASSERT_EQ(r.Open(patched), kOk);
  ASSERT_EQ(Ops().firstEntry(r.object), kOk);
  EngineObject* sink = r.Stream();
  std::uint32_t crc = 7, size = 7;
  EXPECT_EQ(Ops().extractEntry(r.object, sink, 0, nullptr, &crc, &size), kZipSizeMismatch);
  EXPECT_LE(Contents(sink).size(), 65536u + 32768u);
  EXPECT_EQ(crc, 7u);
  EXPECT_EQ(size, 7u);
}

TEST(ZipWrite, UnsafeNamesAreRefused) {
  struct Case {
    std::string name;
    bool safe;
  };
  const Case cases[] = {
      {"a.txt", true},
      {"dir/", true},
      {"dir/sub/file", true},
      {"", false},
      {"/etc/passwd", false},
      {"../up", false},
      {"a/../../b", false},
      {"a/./b", false},
      {"..", false},
      {"a//b", false},
      {"c:/windows", false},
      {"a\\b", false},
      {std::string("a\0b", 3), false},
      {"dir//", false},
      {"...", true},
      {"a..b", true},
  };
  Zip z;
  z.Build({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ZipMod_IsSafeName(c.name.data(), static_cast<std::uint32_t>(c.name.size())), c.safe);
    if (!c.safe) {
      EXPECT_EQ(z.Add({c.name, "x"}), kZipBadName);
    }
  }
  EXPECT_EQ(z.Add({"folder/", "not empty"}), kBadArgument);
  EXPECT_EQ(z.Add({"m.txt", "x", 12}), kBadArgument);
}

// A failure while appending leaves the archive as it was.
TEST(ZipWrite, AFailedAppendPutsTheOldDirectoryBack) {
  Zip z;
  const std::string before = z.Build({{"a.txt", Data(5000, 1, 9)}, {"b.txt", "bee"}});
  EngineObject* shortSource = z.Stream("only ten b");
  EXPECT_EQ(
      Ops().addEntry(z.object, shortSource, 0, 100000, "c.txt", 5, nullptr, kZipMethodDeflated),
      kStreamShortRead);
  EXPECT_EQ(Contents(z.archive), before);
  // The instance still works on the archive.
  ASSERT_EQ(z.Add({"c.txt", "sea"}), kOk);
  Zip r;
  ASSERT_EQ(r.Open(Contents(z.archive)), kOk);
  std::map<std::string, std::string> got;
  ASSERT_EQ(r.ReadAll(got), kOk);
  EXPECT_EQ(got.size(), 3u);
  EXPECT_EQ(got["c.txt"], "sea");
}

// Entry data at or after the directory would be overwritten by an append.
TEST(ZipWrite, AppendingRefusesArchivesWithDataAfterTheDirectory) {
  Zip z;
  std::string bytes = z.Build({{"a.txt", "alpha"}});
  const std::size_t dir = bytes.find(std::string("PK\x01\x02", 4));
  bytes.replace(dir + 42, 4, std::string("\xff\x00\x00\x00", 4));  // local header "at" 255
  Zip r;
  ASSERT_EQ(r.Open(bytes), kOk);
  EXPECT_EQ(r.Add({"b.txt", "bee"}), kZipUnsupported);
  EXPECT_EQ(Contents(r.current), bytes);
}

// A memory stream that counts the writes it takes.
struct CountingSink {
  static StatusCode Write(EngineObject* s, const void* b, std::uint32_t n,
                          std::uint32_t* count) noexcept {
    ++writes;
    return MemStream_Write(s, b, n, count);
  }
  static inline int writes = 0;
  static inline const StreamOps kOps = [] {
    EngineObject* model = NewStream();
    StreamOps ops = StreamOf(model);  // a memory stream's table with its own write
    EXPECT_EQ(StreamOf(model).close(model), kOk);
    ops.write = Write;
    return ops;
  }();
};

TEST(ZipRead, AStoredEntryIsCopiedInPiecesOf4096Bytes) {
  Zip z;
  const std::string data = Data(10000, 0, 10);
  Zip r;
  ASSERT_EQ(r.Open(z.Build({{"s.bin", data, kZipMethodStored}})), kOk);
  ASSERT_EQ(Ops().firstEntry(r.object), kOk);
  EngineObject* sink = r.Stream();
  sink->ops = &CountingSink::kOps;
  CountingSink::writes = 0;
  std::uint32_t crc = 0, size = 0;
  ASSERT_EQ(Ops().extractEntry(r.object, sink, 0, nullptr, &crc, &size), kOk);
  EXPECT_EQ(CountingSink::writes, 3);
  EXPECT_EQ(Contents(sink), data);
  EXPECT_EQ(size, 10000u);
  EXPECT_EQ(crc, crc32(0, reinterpret_cast<const Bytef*>(data.data()), 10000));
}

}  // namespace
