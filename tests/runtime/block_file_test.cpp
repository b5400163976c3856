#include "engine/runtime/block_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"
#include "tests/support/wide_text.h"
#include "tests/support/write_faults.h"

namespace {

using test_streams::Contents;
using test_streams::NewMemStream;

const BlockFileOps& Ops(EngineObject* object) {
  return OpsOf<BlockFileOps>(object);
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8 |
         static_cast<std::uint8_t>(b[at + 2]) << 16 |
         std::uint32_t{static_cast<std::uint8_t>(b[at + 3])} << 24;
}
void SetLe32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<char>(v >> (8 * i));
}
// The chain entry of block n in a container of block size B.
std::uint32_t Entry(const std::string& file, std::uint32_t b, std::uint32_t n) {
  const std::uint32_t per = b / 4;
  return Le32(file, std::size_t{n - n % per} * b + 4 * (n % per));
}

// A container on a memory base that the test keeps hold of: the container
// closes base streams, so the base is a copy-on-close wrapper.
struct Container {
  EngineObject* base = NewMemStream();
  EngineObject* c = nullptr;
  std::string closedBytes;
  explicit Container(std::uint32_t blockSize, const std::string& bytes = {}) {
    if (!bytes.empty()) {
      EXPECT_EQ(Stream_WriteExact(base, 0, bytes.data(), bytes.size()), kOk);
    }
    status = Ops(g_BlockFileModule).open(g_BlockFileModule, base, blockSize, &c);
  }
  ~Container() {
    if (c != nullptr) (void)Close();                        // checked where a test cares
    if (base != nullptr) (void)StreamOf(base).close(base);  // open failed: still ours
  }
  std::string Bytes() const { return Contents(base); }
  StatusCode Close() {
    closedBytes = Contents(base);
    const StatusCode s = Ops(c).close(c);
    if (s != kBlockFileStreamsOpen) {
      c = nullptr;
      base = nullptr;
    }
    return s;
  }
  StatusCode status = kOk;
};

std::string ReadStream(EngineObject* s) {
  return Contents(s);
}

TEST(BlockFile, NewContainersAndTheirEndEntries) {
  struct {
    std::uint32_t blockSize;
    StatusCode status;
    std::uint32_t bytes;
  } cases[] = {{512, kOk, 65536},
               {0, kOk, 4u << 20},
               {4096, kOk, 4u << 20},
               {3000, kBlockFileBadBlockSize, 0},
               {256, kBlockFileBadBlockSize, 0},
               {131072, kBlockFileBadBlockSize, 0}};
  for (const auto& c : cases) {
    Container box(c.blockSize);
    EXPECT_EQ(box.status, c.status) << c.blockSize;
    if (c.status != kOk) continue;
    EXPECT_EQ(box.Bytes().size(), c.bytes);
  }
  EXPECT_EQ(static_cast<std::uint32_t>(kBlockFileBadBlockSize), 0x800D0007u);

  Container box(512);
  std::uint32_t empty = 0;
  std::uint32_t exact = 0;
  std::uint32_t longer = 0;
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops(box.c).createStream(box.c, &empty, &s), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  ASSERT_EQ(Ops(box.c).createStream(box.c, &exact, &s), kOk);
  const std::string b512(512, 'x');
  ASSERT_EQ(Stream_WriteExact(s, 0, b512.data(), 512), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  ASSERT_EQ(Ops(box.c).createStream(box.c, &longer, &s), kOk);
  const std::string b1025(1025, 'y');
  ASSERT_EQ(Stream_WriteExact(s, 0, b1025.data(), 1025), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  const std::string file = box.Bytes();
  EXPECT_EQ(Entry(file, 512, empty), 0xFFF00000u);
  EXPECT_EQ(Entry(file, 512, exact), 0xFFF00000u + 512);
  const std::uint32_t second = Entry(file, 512, longer) & 0xFFFFFF;
  EXPECT_EQ(Entry(file, 512, longer) & 0xFF000000u, 0x01000000u);
  const std::uint32_t third = Entry(file, 512, second);
  EXPECT_EQ(Entry(file, 512, third), 0xFFF00000u + 1);
  EXPECT_EQ(Ops(box.c).openStream(box.c, second, &s), kBlockFileNotAStream) << "mid-chain";
  EXPECT_EQ(Ops(box.c).openStream(box.c, 0, &s), kBlockFileNotAStream) << "chain block";
  EXPECT_EQ(Ops(box.c).openStream(box.c, 1 << 20, &s), kBlockFileNotAStream);
  ASSERT_EQ(Ops(box.c).openStream(box.c, longer, &s), kOk);
  EXPECT_EQ(ReadStream(s), b1025);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
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

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TEST(BlockFile, RandomWritesReadBackByAnIndependentReader) {
  KELPO_REQUIRE_PEER("python3");
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    const std::uint32_t blockSize = 512u << (seed - 1);
    Container box(blockSize);
    std::map<std::uint32_t, std::string> model;
    for (int round = 0; round < 40; ++round) {
      const std::uint32_t op = rng() % 10;
      EngineObject* s = nullptr;
      std::uint32_t number = 0;
      if (op < 2 || model.empty()) {
        ASSERT_EQ(Ops(box.c).createStream(box.c, &number, &s), kOk);
        model[number];
      } else if (op == 2) {
        auto it = std::next(model.begin(), rng() % model.size());
        ASSERT_EQ(Ops(box.c).deleteStream(box.c, it->first), kOk);
        model.erase(it);
        continue;
      } else if (op == 3) {  // a temporary stream leaves nothing behind
        ASSERT_EQ(Ops(box.c).createStream(box.c, nullptr, &s), kOk);
        const std::string junk(rng() % (3 * blockSize), 'j');
        ASSERT_EQ(Stream_WriteExact(s, 0, junk.data(), junk.size()), kOk);
        ASSERT_EQ(StreamOf(s).close(s), kOk);
        continue;
      } else {
        number = std::next(model.begin(), rng() % model.size())->first;
        ASSERT_EQ(Ops(box.c).openStream(box.c, number, &s), kOk);
        ASSERT_EQ(ReadStream(s), model[number]);
      }
      std::string& content = model[number];
      for (int w = 0; w < 4; ++w) {
        const std::uint32_t kind = rng() % 4;
        if (kind == 3) {  // truncate or extend
          const std::uint32_t size = rng() % (4 * blockSize);
          ASSERT_EQ(StreamOf(s).setSize(s, size), kOk);
          content.resize(size, '\0');
          continue;
        }
        const std::uint32_t at = rng() % (content.size() + blockSize);
        std::string bytes(rng() % (2 * blockSize + 3), '\0');
        for (char& c : bytes)
          c = static_cast<char>(rng());
        ASSERT_EQ(Stream_WriteExact(s, at, bytes.data(), bytes.size()), kOk);
        if (content.size() < at + bytes.size()) content.resize(at + bytes.size(), '\0');
        content.replace(at, bytes.size(), bytes);
      }
      std::uint32_t size = 0;
      ASSERT_EQ(StreamOf(s).getSize(s, &size), kOk);
      ASSERT_EQ(size, content.size());
      ASSERT_EQ(StreamOf(s).close(s), kOk);
    }
    ASSERT_EQ(box.Close(), kOk);
    TempDir dir;
    WriteFileBytes(dir.File("box"), box.closedBytes);
    std::string command =
        "python3 " + Quote(PeerScript("block_file_reader.py")) + " " + Quote(dir.File("box"));
    std::string expected;
    for (const auto& [number, content] : model) {
      command += " " + std::to_string(number);
      expected += std::to_string(number) + ":" + Hex(content) + "\n";
    }
    int status = -1;
    const std::string out = RunPeer(command, "", &status);
    EXPECT_EQ(status, 0) << "seed " << seed;
    EXPECT_EQ(out, expected) << "seed " << seed;
  }
}

std::string SmallFile(std::uint32_t* number) {
  Container box(512);
  EngineObject* s = nullptr;
  EXPECT_EQ(Ops(box.c).createStream(box.c, number, &s), kOk);
  const std::string text(1500, 'q');
  EXPECT_EQ(Stream_WriteExact(s, 0, text.data(), text.size()), kOk);
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_EQ(box.Close(), kOk);
  return box.closedBytes;
}

TEST(BlockFile, DamagedFilesAreRefused) {
  std::uint32_t number = 0;
  const std::string good = SmallFile(&number);
  const std::uint32_t second = Entry(good, 512, number) & 0xFFFFFF;
  struct Case {
    const char* what;
    std::string bytes;
    StatusCode open;
    StatusCode stream;
  };
  std::string badGroups = good + std::string(512, '\0');
  std::string badHead = good;
  SetLe32(badHead, 0, 0 | (128u << 8));  // block 128 is the next group's chain block
  std::string headPast = good;
  SetLe32(headPast, 0, 0 | (5000u << 8));
  std::string loop = good;
  SetLe32(loop, 4 * second, second);  // the second block points at itself
  std::string startInside = good;
  SetLe32(startInside, 4 * second, 0x01000000u + second + 1);
  std::string tooMany = good;
  SetLe32(tooMany, 4 * (Entry(good, 512, second) & 0xFFFFFF), 0xFFF00000u + 513);
  std::string toChain = good;
  SetLe32(toChain, 4 * second, 0);
  const Case cases[] = {
      {"three bytes", good.substr(0, 3), kBlockFileTooShort, kOk},
      {"not whole groups", badGroups, kBlockFileNotWholeGroups, kOk},
      {"free head past the blocks", headPast, kBlockFileBadFreeHead, kOk},
      {"free head on a chain block", badHead, kBlockFileBadFreeHead, kOk},
      {"loop", loop, kOk, kBlockFileBadChain},
      {"start in mid-chain", startInside, kOk, kBlockFileBadChain},
      {"last block holds more than B", tooMany, kOk, kBlockFileBadChain},
      {"link to block 0", toChain, kOk, kBlockFileBadChain},
  };
  for (const Case& c : cases) {
    Container box(0, c.bytes);
    EXPECT_EQ(box.status, c.open) << c.what;
    if (box.status != kOk) continue;
    EngineObject* s = nullptr;
    EXPECT_EQ(Ops(box.c).openStream(box.c, number, &s), c.stream) << c.what;
    EXPECT_EQ(Ops(box.c).deleteStream(box.c, number), c.stream) << c.what;
  }
}

TEST(BlockFile, OpenStreamsAreGuarded) {
  Container box(512);
  std::uint32_t number = 0;
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops(box.c).createStream(box.c, &number, &s), kOk);
  EngineObject* again = nullptr;
  EXPECT_EQ(Ops(box.c).openStream(box.c, number, &again), kBlockFileStreamBusy);
  EXPECT_EQ(Ops(box.c).deleteStream(box.c, number), kBlockFileStreamBusy);
  EXPECT_EQ(box.Close(), kBlockFileStreamsOpen);
  EXPECT_EQ(Stream_WriteExact(s, 0, "abc", 3), kOk) << "the stream still works";
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  ASSERT_EQ(Ops(box.c).openStream(box.c, number, &s), kOk);
  EXPECT_EQ(ReadStream(s), "abc");
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_EQ(Ops(box.c).deleteStream(box.c, number), kOk);
  EXPECT_EQ(Ops(box.c).openStream(box.c, number, &s), kBlockFileNotAStream);
}

// A file system of the module table that notes the type of every open and
// hands it to the real one.
class RecordingFileSys {
 public:
  RecordingFileSys() : saved_(g_FileSysModule) {
    ops_ = OpsOf<FileSysOps>(&FileSysModule);
    ops_.open = &Open;
    opened_.clear();
    g_FileSysModule = &module_;
  }
  ~RecordingFileSys() { g_FileSysModule = saved_; }
  RecordingFileSys(const RecordingFileSys&) = delete;
  RecordingFileSys& operator=(const RecordingFileSys&) = delete;
  // The types asked for since the last call.
  static std::vector<std::uint32_t> Take() { return std::exchange(opened_, {}); }

 private:
  static StatusCode Open(EngineObject*, char16_t* path, std::uint32_t length, std::uint32_t type,
                         EngineObject** out) noexcept {
    opened_.push_back(type);
    return FileSys_Open(&FileSysModule, path, length, type, out);
  }
  static inline std::vector<std::uint32_t> opened_;
  FileSysOps ops_{};
  EngineObject module_{nullptr, &ops_};
  EngineObject* saved_;
};

// Every file of a container, its working copy included, comes from the file
// system registered in the module table.
TEST(BlockFile, FilesComeFromTheRegisteredFileSystem) {
  RecordingFileSys fs;
  TempDir dir;
  std::u16string path = U16(dir.File("box"));
  const auto open = [&](char16_t* at, std::uint32_t type) {
    EngineObject* c = nullptr;
    EXPECT_EQ(Ops(g_BlockFileModule).openPath(g_BlockFileModule, at, 0, type, 512, &c), kOk);
    if (c != nullptr) EXPECT_EQ(Ops(c).close(c), kOk);
    return RecordingFileSys::Take();
  };
  using Types = std::vector<std::uint32_t>;
  EXPECT_EQ(open(nullptr, kFileOpenTemporary), Types{kFileOpenTemporary});
  EXPECT_EQ(open(path.data(), kFileOpenCreate), Types{kFileOpenTemporary});
  EXPECT_EQ(open(path.data(), kFileOpenReadWrite), (Types{kFileOpenTemporary, kFileOpenReadWrite}));
  EXPECT_EQ(open(path.data(), kFileOpenRead), Types{kFileOpenRead});
}

TEST(BlockFile, LockingLetsThreadsShareAContainer) {
  Container box(512);
  ASSERT_EQ(Ops(box.c).enableLocking(box.c), kOk);
  std::vector<std::uint32_t> numbers(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&box, &numbers, t] {
      EngineObject* s = nullptr;
      if (Ops(box.c).createStream(box.c, &numbers[t], &s) != kOk) return;
      for (int i = 0; i < 300; ++i) {
        const std::string piece(7, static_cast<char>('a' + t));
        if (StreamOf(s).write(s, piece.data(), 7, nullptr) != kOk) break;
      }
      (void)StreamOf(s).close(s);  // checked through the contents below
    });
  }
  for (std::thread& t : threads)
    t.join();
  for (int t = 0; t < 4; ++t) {
    EngineObject* s = nullptr;
    ASSERT_EQ(Ops(box.c).openStream(box.c, numbers[t], &s), kOk);
    EXPECT_EQ(ReadStream(s), std::string(2100, static_cast<char>('a' + t)));
    ASSERT_EQ(StreamOf(s).close(s), kOk);
  }
}

}  // namespace

namespace {

// The block container opened by path, whatever write fails: its file opens
// with the old streams or, once the close succeeded, the new ones.
TEST(BlockFile, AFailingWriteAtEveryByteLeavesTheOldOrTheNewFile) {
  TempDir dir;
  std::u16string path = U16(dir.File("box"));
  std::uint32_t first = 0;
  EngineObject* c = nullptr;
  ASSERT_EQ(
      Ops(g_BlockFileModule).openPath(g_BlockFileModule, path.data(), 0, kFileOpenCreate, 512, &c),
      kOk);
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops(c).createStream(c, &first, &s), kOk);
  const std::string old(700, 'o');
  ASSERT_EQ(Stream_WriteExact(s, 0, old.data(), old.size()), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  ASSERT_EQ(Ops(c).close(c), kOk);

  const std::string grown(1300, 'n');
  std::uint32_t second = 0;
  const auto edit = [&] {
    EngineObject* box = nullptr;
    if (Ops(g_BlockFileModule)
            .openPath(g_BlockFileModule, path.data(), 0, kFileOpenReadWrite, 0, &box) != kOk) {
      return false;
    }
    bool ok = true;
    EngineObject* t = nullptr;
    if (Ops(box).openStream(box, first, &t) == kOk) {
      ok = Stream_WriteExact(t, 0, grown.data(), grown.size()) == kOk;
      ok = StreamOf(t).close(t) == kOk && ok;
    } else {
      ok = false;
    }
    if (ok && Ops(box).createStream(box, &second, &t) == kOk) {
      ok = Stream_WriteExact(t, 0, "second", 6) == kOk;
      ok = StreamOf(t).close(t) == kOk && ok;
    }
    return Ops(box).close(box) == kOk && ok;
  };
  const std::string now = write_faults::FailAtEveryByte(dir.File("box"), edit);
  ASSERT_FALSE(now.empty());
  Container box(0, now);
  ASSERT_EQ(box.status, kOk);
  ASSERT_EQ(Ops(box.c).openStream(box.c, first, &s), kOk);
  EXPECT_EQ(ReadStream(s), grown);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  ASSERT_EQ(Ops(box.c).openStream(box.c, second, &s), kOk);
  EXPECT_EQ(ReadStream(s), "second");
  ASSERT_EQ(StreamOf(s).close(s), kOk);
}

}  // namespace
