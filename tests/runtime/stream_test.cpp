#include "engine/runtime/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "tests/support/test_streams.h"

namespace {

using test_streams::Contents;
using test_streams::FaultyStream;

struct StreamCloser {
  void operator()(EngineObject* s) const noexcept { (void)StreamOf(s).close(s); }
};
using StreamPtr = std::unique_ptr<EngineObject, StreamCloser>;

StreamPtr Create(void* buffer, std::uint32_t size, std::uint32_t capacity, std::uint8_t flags) {
  EngineObject* s = nullptr;
  EXPECT_EQ(MemStream_Create(g_MemStreamModule, buffer, size, capacity, flags, &s), kOk);
  return StreamPtr(s);
}

StreamPtr Growable(const std::string& bytes = {}) {
  return StreamPtr(test_streams::NewMemStream(bytes));
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(i * 7 + 1);
  return s;
}

TEST(MemStream, ReadAtTheEndDeliversNothingAndSucceeds) {
  auto s = Growable("abc");
  const StreamOps& ops = StreamOf(s.get());
  char buf[8] = {};
  std::uint32_t count = 99;
  ASSERT_EQ(ops.seek(s.get(), 0, kSeekEnd, nullptr), kOk);
  EXPECT_EQ(ops.read(s.get(), buf, 4, &count), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(ops.read(s.get(), buf, 4, nullptr), kOk);
  // Past the end too; a short read is reported through the count only.
  EXPECT_EQ(ops.readAt(s.get(), 10, buf, 4, &count), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(ops.readAt(s.get(), 1, buf, 8, &count), kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::string(buf, 2), "bc");
}

TEST(MemStream, WritePastTheEndZeroFillsTheGap) {
  auto s = Growable();
  const StreamOps& ops = StreamOf(s.get());
  ASSERT_EQ(ops.writeAt(s.get(), 100, "0123456789", 10, nullptr), kOk);
  std::uint32_t size = 0;
  ASSERT_EQ(ops.getSize(s.get(), &size), kOk);
  EXPECT_EQ(size, 110u);
  const std::string all = Contents(s.get());
  EXPECT_EQ(all, std::string(100, '\0') + "0123456789");
}

TEST(MemStream, TruncatedBytesDoNotReappear) {
  auto s = Growable(std::string(64, 'x'));
  const StreamOps& ops = StreamOf(s.get());
  ASSERT_EQ(ops.setSize(s.get(), 8), kOk);
  ASSERT_EQ(ops.writeAt(s.get(), 20, "y", 1, nullptr), kOk);
  EXPECT_EQ(Contents(s.get()), std::string(8, 'x') + std::string(12, '\0') + "y");
  ASSERT_EQ(ops.setSize(s.get(), 4), kOk);
  ASSERT_EQ(ops.setSize(s.get(), 30), kOk);
  EXPECT_EQ(Contents(s.get()), std::string(4, 'x') + std::string(26, '\0'));
}

TEST(MemStream, SetSizeLeavesThePositionAlone) {
  auto s = Growable("abcdef");
  const StreamOps& ops = StreamOf(s.get());
  std::uint32_t pos = 0;
  ASSERT_EQ(ops.seek(s.get(), 5, kSeekSet, nullptr), kOk);
  ASSERT_EQ(ops.setSize(s.get(), 2), kOk);
  ASSERT_EQ(ops.seek(s.get(), 0, kSeekCur, &pos), kOk);
  EXPECT_EQ(pos, 5u);
  ASSERT_EQ(ops.setSize(s.get(), 5000), kOk);
  ASSERT_EQ(ops.seek(s.get(), 0, kSeekCur, &pos), kOk);
  EXPECT_EQ(pos, 5u);
}

TEST(MemStream, ReadOnlyStreamRefusesWrites) {
  char data[4] = {'a', 'b', 'c', 'd'};
  auto s = Create(data, 4, 4, kMemCreateCallerOwns);
  const StreamOps& ops = StreamOf(s.get());
  EXPECT_EQ(ops.write(s.get(), "z", 1, nullptr), kStreamShortWrite);
  EXPECT_EQ(ops.write(s.get(), "z", 0, nullptr), kOk);
  std::uint32_t count = 7;
  EXPECT_EQ(ops.write(s.get(), "z", 1, &count), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(ops.reserve(s.get(), 100), kOutOfMemory);
  EXPECT_EQ(ops.setSize(s.get(), 100), kOutOfMemory);
  EXPECT_EQ(Contents(s.get()), "abcd");
  EXPECT_EQ(std::string(data, 4), "abcd");
}

TEST(MemStream, CreateForms) {
  // No buffer, read-only: zeros up to the size.
  {
    auto s = Create(nullptr, 5, 0, 0);
    EXPECT_EQ(Contents(s.get()), std::string(5, '\0'));
  }
  // No buffer, writable: own zeroed buffer, size clamped to the capacity.
  {
    auto s = Create(nullptr, 50, 16, kMemCreateWritable);
    void* buffer = nullptr;
    std::uint32_t size = 0, capacity = 0;
    ASSERT_EQ(MemStream_GetBuffer(g_MemStreamModule, s.get(), &buffer, &size, &capacity), kOk);
    EXPECT_NE(buffer, nullptr);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(capacity, 16u);
    EXPECT_EQ(Contents(s.get()), std::string(16, '\0'));
  }
  // Owned engine buffer: freed by Close (the sanitizer reports a leak if not).
  {
    void* p = nullptr;
    ASSERT_EQ(Engine_Alloc(3, &p), kOk);
    std::memcpy(p, "xyz", 3);
    auto s = Create(p, 3, 3, kMemCreateWritable);
    ASSERT_EQ(StreamOf(s.get()).writeAt(s.get(), 3, "!!", 2, nullptr), kOk);
    EXPECT_EQ(Contents(s.get()), "xyz!!");
  }
  // Capacity over the limit is refused without leaking the object.
  EngineObject* s = nullptr;
  EXPECT_EQ(
      MemStream_Create(g_MemStreamModule, nullptr, 0, kMemStreamLimit + 1, kMemCreateWritable, &s),
      kOutOfMemory);
  // GetBuffer answers only for memory streams.
  FaultyStream other;
  EXPECT_EQ(MemStream_GetBuffer(g_MemStreamModule, other.get(), nullptr, nullptr, nullptr),
            kBadArgument);
}

TEST(MemStream, SeekOriginsAndNullSizeOut) {
  auto s = Growable("0123456789");
  const StreamOps& ops = StreamOf(s.get());
  std::uint32_t pos = 0;
  ASSERT_EQ(ops.seek(s.get(), 4, kSeekSet, &pos), kOk);
  EXPECT_EQ(pos, 4u);
  ASSERT_EQ(ops.seek(s.get(), -3, kSeekCur, &pos), kOk);
  EXPECT_EQ(pos, 1u);
  ASSERT_EQ(ops.seek(s.get(), -2, kSeekEnd, &pos), kOk);
  EXPECT_EQ(pos, 8u);
  EXPECT_EQ(ops.seek(s.get(), 0, 3, &pos), kBadSeekOrigin);
  EXPECT_EQ(ops.getSize(s.get(), nullptr), kNullOutPointer);
  EXPECT_EQ(ops.getProperty(s.get(), 1, 0, nullptr, nullptr), kNotSupported);
  EXPECT_EQ(ops.setGrowthHint(s.get(), 1000), kOk);
}

TEST(MemStream, GrowthLimits) {
  auto s = Growable();
  const StreamOps& ops = StreamOf(s.get());
  EXPECT_EQ(ops.reserve(s.get(), kMemStreamLimit + 1), kOutOfMemory);
  ASSERT_EQ(ops.seek(s.get(), static_cast<std::int32_t>(kMemStreamLimit), kSeekSet, nullptr), kOk);
  EXPECT_EQ(ops.write(s.get(), "a", 1, nullptr), kFailed);
  ASSERT_EQ(ops.seek(s.get(), static_cast<std::int32_t>(kMemStreamLimit - 1), kSeekSet, nullptr),
            kOk);
  EXPECT_EQ(ops.write(s.get(), "ab", 2, nullptr), kFailed);
  // An empty write far out changes nothing (the size must never pass the
  // buffer's capacity).
  ASSERT_EQ(ops.seek(s.get(), 1 << 20, kSeekSet, nullptr), kOk);
  ASSERT_EQ(ops.write(s.get(), "", 0, nullptr), kOk);
  std::uint32_t size = 1;
  ASSERT_EQ(ops.getSize(s.get(), &size), kOk);
  EXPECT_EQ(size, 0u);
  // Reserve zero-fills and keeps the size.
  ASSERT_EQ(ops.reserve(s.get(), 4096), kOk);
  ASSERT_EQ(ops.getSize(s.get(), &size), kOk);
  EXPECT_EQ(size, 0u);
  void* buffer = nullptr;
  ASSERT_EQ(MemStream_GetBuffer(g_MemStreamModule, s.get(), &buffer, nullptr, nullptr), kOk);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  EXPECT_TRUE(std::all_of(bytes, bytes + 4096, [](unsigned char b) { return b == 0; }));
}

// Counts the engine's reallocations for its scope.
class ReallocCounter {
 public:
  ReallocCounter() : saved_(g_AllocatorModule) {
    count_ = 0;
    g_AllocatorModule = &module_;
  }
  ~ReallocCounter() { g_AllocatorModule = saved_; }
  ReallocCounter(const ReallocCounter&) = delete;
  ReallocCounter& operator=(const ReallocCounter&) = delete;
  static std::uint32_t count() { return count_; }

 private:
  static StatusCode Realloc(EngineObject* m, std::uint32_t size, void** block) noexcept {
    ++count_;
    return Mem_Realloc(m, size, block);
  }
  static inline std::uint32_t count_ = 0;
  static constexpr AllocatorOps kOps = {
      Core_NotImplemented, Core_NoOp,          Mem_Alloc, Mem_Free, Realloc, Mem_Copy, Mem_Fill,
      Mem_Compare,         Core_NotImplemented};
  EngineObject module_{nullptr, &kOps};
  EngineObject* saved_;
};

// 16 MiB in pieces of a few bytes (as an encoder writes them) moves the
// buffer a few dozen times, not once a piece: a memory sink as cheap as a
// file.
TEST(MemStream, ManySmallWritesGrowTheBufferGeometrically) {
  auto s = Growable();
  const StreamOps& ops = StreamOf(s.get());
  const std::string piece = Pattern(7);
  const std::uint32_t total = 16u << 20;
  ReallocCounter counter;
  for (std::uint32_t at = 0; at < total; at += 7)
    ASSERT_EQ(ops.write(s.get(), piece.data(), 7, nullptr), kOk);
  EXPECT_LT(ReallocCounter::count(), 48u);
  std::uint32_t size = 0;
  ASSERT_EQ(ops.getSize(s.get(), &size), kOk);
  EXPECT_EQ(size, (total + 6) / 7 * 7);
  const std::string bytes = Contents(s.get());
  EXPECT_EQ(bytes.substr(bytes.size() - 7), piece);
}

// The array reads demand the full length even though the memory stream's own
// Read never fails short: a short array read fails and zeroes the tail.
TEST(StreamArrays, ShortArrayReadFailsAndZeroesTheTail) {
  auto s = Growable(std::string("\x01\x02\x03\x04\x05", 5));
  const StreamOps& ops = StreamOf(s.get());
  std::array<std::uint16_t, 4> u16;
  u16.fill(0xAAAA);
  EXPECT_EQ(ops.readU16sBE(s.get(), u16.data(), 4), kStreamShortRead);
  const auto* raw = reinterpret_cast<const unsigned char*>(u16.data());
  EXPECT_EQ(std::vector<unsigned char>(raw + 5, raw + 8), std::vector<unsigned char>(3, 0));
  std::array<std::uint32_t, 2> u32{};
  ASSERT_EQ(ops.seek(s.get(), 0, kSeekSet, nullptr), kOk);
  EXPECT_EQ(ops.readU32s(s.get(), u32.data(), 2), kStreamShortRead);
  ASSERT_EQ(ops.seek(s.get(), 1, kSeekSet, nullptr), kOk);
  ASSERT_EQ(ops.readU32sBE(s.get(), u32.data(), 1), kOk);
  EXPECT_EQ(u32[0], 0x02030405u);
  // A count whose byte length does not fit 32 bits is refused up front.
  EXPECT_EQ(ops.readU32s(s.get(), u32.data(), 0x40000000u), kBadArgument);
}

TEST(StreamArrays, BigEndianRoundTripAndByteLayout) {
  auto s = Growable();
  const StreamOps& ops = StreamOf(s.get());
  const std::array<std::uint16_t, 3> a{0x0102, 0xA0B0, 0xFFFE};
  const std::array<std::uint32_t, 2> b{0x01020304u, 0xDEADBEEFu};
  ASSERT_EQ(ops.writeU16sBE(s.get(), a.data(), 3), kOk);
  ASSERT_EQ(ops.writeU32sBE(s.get(), b.data(), 2), kOk);
  EXPECT_EQ(Contents(s.get()), std::string("\x01\x02\xA0\xB0\xFF\xFE"
                                           "\x01\x02\x03\x04\xDE\xAD\xBE\xEF",
                                           14));
  std::array<std::uint16_t, 3> a2{};
  std::array<std::uint32_t, 2> b2{};
  ASSERT_EQ(ops.seek(s.get(), 0, kSeekSet, nullptr), kOk);
  ASSERT_EQ(ops.readU16sBE(s.get(), a2.data(), 3), kOk);
  ASSERT_EQ(ops.readU32sBE(s.get(), b2.data(), 2), kOk);
  EXPECT_EQ(a2, a);
  EXPECT_EQ(b2, b);
  // Host-order arrays are the raw bytes.
  auto h = Growable();
  ASSERT_EQ(StreamOf(h.get()).writeU32s(h.get(), b.data(), 2), kOk);
  std::string expect(8, '\0');
  std::memcpy(expect.data(), b.data(), 8);
  EXPECT_EQ(Contents(h.get()), expect);
}

TEST(StreamArrays, BigEndianWritesGoInPiecesAndKeepTheCallersArray) {
  struct Case {
    bool wide;
    std::uint32_t count;
    std::vector<std::uint32_t> pieces;
  };
  const Case cases[] = {
      {false, 600, {512, 512, 176}},
      {false, 256, {512}},
      {true, 300, {512, 512, 176}},
      {true, 128, {512}},
  };
  for (const Case& c : cases) {
    FaultyStream fs;
    std::vector<std::uint32_t> log;
    fs.LogWritesTo(&log);
    EngineObject* s = fs.get();
    std::string expect;
    if (c.wide) {
      std::vector<std::uint32_t> v(c.count);
      std::iota(v.begin(), v.end(), 0x10000u);
      const auto before = v;
      ASSERT_EQ(StreamOf(s).writeU32sBE(s, v.data(), c.count), kOk);
      EXPECT_EQ(v, before);
      for (auto x : v) {
        for (int k = 3; k >= 0; --k)
          expect.push_back(static_cast<char>(x >> (8 * k)));
      }
    } else {
      std::vector<std::uint16_t> v(c.count);
      std::iota(v.begin(), v.end(), std::uint16_t{0x0100});
      const auto before = v;
      ASSERT_EQ(StreamOf(s).writeU16sBE(s, v.data(), c.count), kOk);
      EXPECT_EQ(v, before);
      for (auto x : v) {
        expect.push_back(static_cast<char>(x >> 8));
        expect.push_back(static_cast<char>(x));
      }
    }
    EXPECT_EQ(log, c.pieces) << c.count;
    EXPECT_EQ(fs.Bytes(), expect);
  }
}

TEST(StreamArrays, ShortWriteFailsAndFailureCodesPassThrough) {
  FaultyStream shortOne;
  shortOne.SetBudget(3, /*shortCount=*/true);
  const std::uint16_t v[2] = {1, 2};
  EXPECT_EQ(StreamOf(shortOne.get()).writeU16s(shortOne.get(), v, 2), kStreamShortWrite);
  FaultyStream failing;
  failing.SetBudget(0);
  EXPECT_EQ(StreamOf(failing.get()).writeU16sBE(failing.get(), v, 2), kFailed);
}

// Model of one CopyTo: a byte-exact copy of the range as it stood before.
std::string ModelCopy(std::string bytes, std::uint32_t from, std::uint32_t length,
                      std::uint32_t to) {
  length = std::min<std::uint32_t>(length, bytes.size() - from);
  const std::string range = bytes.substr(from, length);
  if (bytes.size() < to + length) bytes.resize(to + length, '\0');
  bytes.replace(to, length, range);
  return bytes;
}

TEST(StreamCopyTo, WithinOneStreamMatchesAModel) {
  struct Case {
    std::uint32_t size, from, length, to;
  };
  const Case cases[] = {
      {100, 0, 100, 50},        // overlap towards the end, stream grows to 150
      {40000, 0, 40000, 1000},  // backward, several 16 KB chunks, last one short
      {40000, 1000, 39000, 0},  // overlap towards the start: forward copy
      {3000, 0, 3000, 1},       // one byte further, 2 KB chunks
      {700, 10, 600, 700},      // adjacent, no overlap, stack buffer
      {500, 20, 1000, 30},      // length clamped to the size
      {2048, 0, 2048, 0},       // onto itself
  };
  for (const Case& c : cases) {
    const std::string before = Pattern(c.size);
    auto s = Growable(before);
    ASSERT_EQ(Stream_CopyTo(s.get(), c.from, c.length, s.get(), c.to), kOk) << c.size;
    EXPECT_EQ(Contents(s.get()), ModelCopy(before, c.from, c.length, c.to))
        << c.size << " " << c.from << " " << c.length << " " << c.to;
  }
}

TEST(StreamCopyTo, BetweenStreamsAndAtTheEnd) {
  const std::string src = Pattern(20000);
  auto a = Growable(src);
  auto b = Growable("head");
  ASSERT_EQ(StreamOf(a.get()).copyTo(a.get(), 100, 19000, b.get(), 2), kOk);
  EXPECT_EQ(Contents(b.get()), "he" + src.substr(100, 19000));
  // A source position equal to the size copies nothing; one more is refused.
  EXPECT_EQ(Stream_CopyTo(a.get(), 20000, 10, b.get(), 0), kOk);
  EXPECT_EQ(Contents(b.get()), "he" + src.substr(100, 19000));
  EXPECT_EQ(Stream_CopyTo(a.get(), 20001, 10, b.get(), 0), kStreamCopySourcePastEnd);
}

TEST(StreamCopyTo, FailuresMapToTheirCodes) {
  const std::string src = Pattern(3000);
  auto a = Growable(src);
  char data[8] = {};
  auto readOnly = Create(data, 8, 8, kMemCreateCallerOwns);
  EXPECT_EQ(Stream_CopyTo(a.get(), 0, 100, readOnly.get(), 0), kStreamCopyWrite);
  FaultyStream failing(src);
  failing.SetBudget(5);
  EXPECT_EQ(Stream_CopyTo(failing.get(), 0, 3000, failing.get(), 10), kStreamCopyTargetExtend);
  FaultyStream late(src);
  late.SetBudget(1500);
  EXPECT_EQ(Stream_CopyTo(a.get(), 0, 3000, late.get(), 0), kStreamCopyWrite);
}

TEST(StreamFill, WritesInPiecesOf512) {
  FaultyStream fs("ab");
  std::vector<std::uint32_t> log;
  fs.LogWritesTo(&log);
  EngineObject* s = fs.get();
  ASSERT_EQ(StreamOf(s).seek(s, 1, kSeekSet, nullptr), kOk);
  std::uint32_t written = 0;
  ASSERT_EQ(StreamOf(s).fill(s, 1300, 0x5A, &written), kOk);
  EXPECT_EQ(written, 1300u);
  EXPECT_EQ(log, (std::vector<std::uint32_t>{512, 512, 276}));
  EXPECT_EQ(fs.Bytes(), "a" + std::string(1300, 'Z'));
  log.clear();
  ASSERT_EQ(StreamOf(s).fill(s, 0, 0, nullptr), kOk);
  EXPECT_TRUE(log.empty());
}

TEST(StreamFill, ShortWriteEndsTheFill) {
  FaultyStream fs;
  fs.SetBudget(700, /*shortCount=*/true);
  std::uint32_t written = 0;
  EXPECT_EQ(Stream_Fill(fs.get(), 1300, 1, &written), kOk);
  EXPECT_EQ(written, 700u);
  FaultyStream again;
  again.SetBudget(700, /*shortCount=*/true);
  EXPECT_EQ(Stream_Fill(again.get(), 1300, 1, nullptr), kStreamShortWrite);
  FaultyStream hard;
  hard.SetBudget(700);
  written = 42;
  EXPECT_EQ(Stream_Fill(hard.get(), 1300, 1, &written), kFailed);
  EXPECT_EQ(written, 42u);
}

}  // namespace
