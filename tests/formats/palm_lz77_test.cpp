#include "engine/formats/palm_lz77.h"

#include "engine/formats/palm_lz77_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
  StatusCode status;
  std::uint32_t length;
  std::string text;  // the bytes written (at most the capacity)
};

constexpr std::uint8_t kGuard = 0xEE;
constexpr std::uint32_t kGuardBytes = 64;

constexpr PalmLzPath kPaths[] = {PalmLzPath::kPortable, PalmLzPath::kWords, PalmLzPath::kSse2,
                                 PalmLzPath::kAvx2};

// Decodes through one path into a buffer of `capacity` bytes followed by
// guard bytes, and checks that the guard is intact and that measuring
// through the same path agrees.
Decoded DecodeWith(PalmLzPath path, const Bytes& in, std::uint32_t capacity) {
  std::vector<std::uint8_t> buffer(capacity + kGuardBytes, kGuard);
  std::uint32_t length = 0xDEADBEEF;
  const StatusCode s = PalmDocLz_DecodeWith(path, in.data(), static_cast<std::uint32_t>(in.size()),
                                            buffer.data(), capacity, &length);
  for (std::uint32_t k = capacity; k < buffer.size(); ++k)
    EXPECT_EQ(buffer[k], kGuard) << "written past the capacity at " << k;
  std::uint32_t measured = 0xDEADBEEF;
  const StatusCode m =
      PalmDocLz_MeasureWith(path, in.data(), static_cast<std::uint32_t>(in.size()), &measured);
  EXPECT_EQ(m, s);
  if (s == kOk) {
    EXPECT_EQ(measured, length);
  } else {
    EXPECT_EQ(length, 0xDEADBEEFu) << "length written on failure";
    EXPECT_EQ(measured, 0xDEADBEEFu);
  }
  const std::uint32_t written = s == kOk ? std::min(length, capacity) : 0;
  return {s, length, std::string(buffer.begin(), buffer.begin() + written)};
}

// Decodes through the public entry point and through every path, which must
// all give the same status, length and text.
Decoded Decode(const Bytes& in, std::uint32_t capacity = 4096) {
  std::vector<std::uint8_t> buffer(capacity + kGuardBytes, kGuard);
  std::uint32_t length = 0xDEADBEEF;
  const StatusCode s = PalmDocLz_Decode(in.data(), static_cast<std::uint32_t>(in.size()),
                                        buffer.data(), capacity, &length);
  const Decoded d = DecodeWith(PalmLzPath::kAvx2, in, capacity);
  EXPECT_EQ(d.status, s);
  EXPECT_EQ(d.length, length);
  EXPECT_EQ(d.text, std::string(buffer.begin(), buffer.begin() + d.text.size()));
  for (const PalmLzPath path : kPaths) {
    const Decoded other = DecodeWith(path, in, capacity);
    EXPECT_EQ(other.status, d.status) << static_cast<int>(path);
    EXPECT_EQ(other.length, d.length) << static_cast<int>(path);
    EXPECT_EQ(other.text, d.text) << static_cast<int>(path);
  }
  return d;
}

Bytes B(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v)
    out.push_back(static_cast<std::uint8_t>(x));
  return out;
}

// A small greedy compressor written from the byte classes, independent of
// the decoder: back references of 3 to 10 bytes within 2047, space pairs,
// and single-byte literal runs for 0x01-0x08 and 0x80-0xFF.
Bytes Compress(const std::string& text) {
  Bytes out;
  std::size_t i = 0;
  const auto* t = reinterpret_cast<const std::uint8_t*>(text.data());
  while (i < text.size()) {
    std::size_t bestLength = 0, bestDistance = 0;
    for (std::size_t d = 1; d <= 2047 && d <= i; ++d) {
      std::size_t n = 0;
      while (n < 10 && i + n < text.size() && t[i + n - d] == t[i + n])
        ++n;
      if (n > bestLength) {
        bestLength = n;
        bestDistance = d;
      }
    }
    if (bestLength >= 3) {
      out.push_back(static_cast<std::uint8_t>(0x80 | (bestDistance >> 5)));
      out.push_back(static_cast<std::uint8_t>(((bestDistance & 31) << 3) | (bestLength - 3)));
      i += bestLength;
    } else if (t[i] == ' ' && i + 1 < text.size() && t[i + 1] >= 0x40 && t[i + 1] < 0x80) {
      out.push_back(static_cast<std::uint8_t>(0x80 | t[i + 1]));
      i += 2;
    } else if ((t[i] >= 1 && t[i] <= 8) || t[i] >= 0x80) {
      out.push_back(1);
      out.push_back(t[i++]);
    } else {
      out.push_back(t[i++]);
    }
  }
  return out;
}

TEST(PalmLz77, ByteClasses) {
  struct Case {
    const char* what;
    Bytes in;
    std::string out;
  };
  const Case cases[] = {
      {"literal bytes 0x00 and 0x09-0x7F", B({0x00, 0x09, 'A', 0x7F}), std::string("\0\tA\x7F", 4)},
      {"space pair 0xC1", B({0xC1}), " A"},
      {"space pair keeps the low seven bits", B({0xFF}), std::string(" \x7F")},
      {"literal run of three", B({0x03, 0x80, 0xC1, 0x01}), "\x80\xC1\x01"},
      {"literal run cut at the record end", B({0x05, 'a', 'b'}), "ab"},
      {"overlapping back reference", B({'a', 0x80, 0x0B}), "aaaaaaa"},
      {"back reference distance 2, length 10", B({'a', 'b', 0x80, 0x17}), "abababababab"},
      {"back reference with its second byte missing ends the record", B({'x', 0x80}), "x"},
      {"empty record", B({}), ""},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(c.in);
    EXPECT_EQ(d.status, kOk) << c.what;
    EXPECT_EQ(d.length, c.out.size()) << c.what;
    EXPECT_EQ(d.text, c.out) << c.what;
  }
}

// A damaged back reference still decodes: its distance is cut to the output
// so far, and with nothing to copy from it gives spaces. Each case is tried
// alone (the careful loop) and behind 64 literals with 32 literals after it
// (the fast loop), where the output before it is the 64 literals.
TEST(PalmLz77, DamagedBackReferencesAreCutToTheOutput) {
  std::string lead;
  for (int k = 0; k < 64; ++k)
    lead += static_cast<char>('A' + k % 26);
  const std::string tail(32, 'z');
  struct Case {
    const char* what;
    Bytes in;
    std::string alone;   // decoded on its own
    std::string behind;  // decoded behind the 64 literals
  };
  const Case cases[] = {
      {"distance 0", B({0x80, 0x02}), "     ", "     "},
      {"distance 1", B({0x80, 0x08}), "   ", "LLL"},
      {"largest distance", B({0xBF, 0xFF}), std::string(10, ' '), lead.substr(0, 10)},
      {"distance 9 of 10 bytes", B({0x80, 0x4F}), std::string(10, ' '),
       lead.substr(55, 9) + lead.substr(55, 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Decoded alone = Decode(c.in);
    EXPECT_EQ(alone.status, kOk);
    EXPECT_EQ(alone.text, c.alone);
    Bytes in(lead.begin(), lead.end());
    in.insert(in.end(), c.in.begin(), c.in.end());
    in.insert(in.end(), tail.begin(), tail.end());
    const Decoded behind = Decode(in);
    EXPECT_EQ(behind.status, kOk);
    EXPECT_EQ(behind.text, lead + c.behind + tail);
  }
  // Cut to the output after a few bytes: 'a', 'b', distance 3 reads from 'a'.
  for (const auto& [in, want] : {std::pair{B({'a', 'b', 0x80, 0x18}), std::string("ababa")},
                                 std::pair{B({'a', 'b', 'c', 0x80, 0x00}), std::string("abc   ")},
                                 std::pair{B({'a', 0xBF, 0xFF}), std::string(11, 'a')},
                                 std::pair{B({'a', 'b', 0x80, 0x10}), std::string("ababa")}}) {
    const Decoded d = Decode(in);
    EXPECT_EQ(d.status, kOk);
    EXPECT_EQ(d.text, want);
  }
}

TEST(PalmLz77, OutputPastTheCapacityIsCountedNotWritten) {
  // 'a' then 40 copies of ten: 401 bytes, in a 100-byte buffer; the copies
  // go on reading only what was written.
  Bytes in = B({'a'});
  for (int k = 0; k < 40; ++k) {
    in.push_back(0x80);
    in.push_back(0x0F);  // distance 1, length 10
  }
  for (std::uint32_t capacity : {0u, 1u, 99u, 100u, 400u, 401u, 4096u}) {
    const Decoded d = Decode(in, capacity);
    ASSERT_EQ(d.status, kOk);
    EXPECT_EQ(d.length, 401u);
    EXPECT_EQ(d.text, std::string(std::min(capacity, 401u), 'a')) << capacity;
  }
  // A literal run and a space pair that straddle the capacity.
  const Decoded run = Decode(B({'x', 'y', 0x04, '1', '2', '3', '4', 0xC2}), 4);
  EXPECT_EQ(run.length, 8u);
  EXPECT_EQ(run.text, "xy12");
  const Decoded pair = Decode(B({'x', 0xC2}), 2);
  EXPECT_EQ(pair.length, 3u);
  EXPECT_EQ(pair.text, "x ");
}

TEST(PalmLz77, RoundTripsAnIndependentCompressor) {
  std::mt19937 rng(8);
  for (int round = 0; round < 100; ++round) {
    std::string text;
    const int kind = round % 5;
    const std::size_t length = 1 + rng() % 4096;
    while (text.size() < length) {
      switch (kind) {
        case 0:  // words with spaces
          text += " word";
          text += static_cast<char>('a' + rng() % 26);
          break;
        case 1:  // any byte
          text += static_cast<char>(rng() & 0xFF);
          break;
        case 2:  // long runs
          text += std::string(1 + rng() % 300, static_cast<char>(rng() & 0xFF));
          break;
        case 3: {  // short periods: back references of distance 2 to 15
          std::string unit;
          for (std::size_t k = 2 + rng() % 14; k > 0; --k)
            unit += static_cast<char>('a' + rng() % 26);
          for (int k = 0; k < 20; ++k)
            text += unit;
          break;
        }
        default:  // Latin-1 prose
          text += (rng() % 5 == 0) ? "\xE9t\xE9 " : "caf\xE9 ";
      }
    }
    text.resize(length);
    const Bytes packed = Compress(text);
    const Decoded d = Decode(packed);
    ASSERT_EQ(d.status, kOk) << round;
    EXPECT_EQ(d.length, text.size()) << round;
    EXPECT_EQ(d.text, text) << round;
  }
}

// Random records, short and long, some made mostly of back-reference bytes
// (long runs of 0x80-0xBF, whose first bytes and second bytes alternate) or
// sprinkled with literal runs: the decoder stays inside its buffers and the
// measuring pass, which finds tokens 64 bytes at a time, agrees with it.
TEST(PalmLz77, RandomRecordsStayInsideTheirBuffers) {
  std::mt19937 rng(77);
  for (int round = 0; round < 800; ++round) {
    const int kind = round % 4;
    Bytes in(kind < 2 ? rng() % 600 : rng() % 4200);
    for (auto& b : in) {
      const std::uint32_t r = rng();
      switch (kind) {
        case 1:  // mostly back-reference bytes
          b = static_cast<std::uint8_t>(r % 8 != 0 ? 0x80 + (r >> 8) % 64 : r >> 16);
          break;
        case 3:  // text-like with literal runs now and then
          b = static_cast<std::uint8_t>(r % 40 == 0 ? 1 + (r >> 8) % 8 : 0x20 + (r >> 8) % 0xE0);
          break;
        default:
          b = static_cast<std::uint8_t>(r);
      }
    }
    if (round % 2 == 0 && !in.empty()) in[0] = 'a';  // gives back references something
    Decode(in, round % 3 == 0 ? 4096 : static_cast<std::uint32_t>(rng() % 300));
  }
}

// The byte classes decoded one byte at a time, with the same rules for
// damaged records: the whole decoded text, without a capacity.
std::string DecodeByteByByte(const Bytes& in) {
  std::string out;
  for (std::size_t i = 0; i < in.size();) {
    const std::uint32_t c = in[i++];
    if (c >= 1 && c <= 8) {
      for (std::uint32_t k = 0; k < c && i < in.size(); ++k)
        out += static_cast<char>(in[i++]);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c >= 0xC0) {
      out += ' ';
      out += static_cast<char>(c & 0x7F);
    } else {
      if (i == in.size()) break;
      const std::uint32_t d = in[i++];
      std::size_t distance = std::min<std::size_t>(((c & 0x3F) << 5) | (d >> 3), out.size());
      for (std::uint32_t k = 0; k < (d & 7) + 3; ++k)
        out += distance == 0 ? ' ' : out[out.size() - distance];
    }
  }
  return out;
}

// A record of `tokens` tokens of every class: literal runs, space pairs, the
// byte 0, single literal bytes, and back references whose distances lie
// around the fast loops' limits (under 16, exactly the output so far, one or
// two past it, anything up to 2047).
Bytes RandomTokens(std::mt19937& rng, int tokens) {
  Bytes in;
  std::size_t produced = 0;
  for (int t = 0; t < tokens; ++t) {
    const std::uint32_t r = rng();
    switch (r % 8) {
      case 0: {  // a literal run
        const std::uint32_t n = 1 + (r >> 8) % 8;
        in.push_back(static_cast<std::uint8_t>(n));
        for (std::uint32_t k = 0; k < n; ++k)
          in.push_back(static_cast<std::uint8_t>(rng()));
        produced += n;
        break;
      }
      case 1:  // a space pair, or the byte 0
        in.push_back(static_cast<std::uint8_t>(r % 16 == 1 ? 0 : 0xC0 + (r >> 8) % 64));
        produced += r % 16 == 1 ? 1 : 2;
        break;
      case 2:
      case 3:  // a single literal byte
        in.push_back(static_cast<std::uint8_t>(0x09 + (r >> 8) % 0x77));
        ++produced;
        break;
      default: {  // a back reference
        const std::uint32_t pick = (r >> 8) % 4;
        std::uint32_t distance = pick == 0   ? (r >> 12) % 20
                                 : pick == 1 ? static_cast<std::uint32_t>(produced) + (r >> 12) % 3
                                             : 16 + (r >> 12) % 2032;
        distance = std::min(distance, 2047u);
        const std::uint32_t length = (r >> 24) % 8;
        in.push_back(static_cast<std::uint8_t>(0x80 | (distance >> 5)));
        in.push_back(static_cast<std::uint8_t>(((distance & 31) << 3) | length));
        produced += length + 3;
      }
    }
  }
  return in;
}

// Records made of every token class, cut at any byte (inside a literal run
// or between a back reference's two bytes), and decoded into buffers that
// end anywhere around the text's end: the decoder's fixed-size writes and
// its token-by-token tail must agree with the byte-by-byte decoding.
TEST(PalmLz77, MatchesAByteByByteDecoder) {
  std::mt19937 rng(16);
  for (int round = 0; round < 3000; ++round) {
    Bytes in = RandomTokens(rng, static_cast<int>(rng() % (round % 10 == 0 ? 1500 : 120)));
    if (round % 3 == 1 && !in.empty()) in.resize(rng() % in.size());
    const std::string want = DecodeByteByByte(in);
    const auto whole = static_cast<std::uint32_t>(want.size());
    const auto above = static_cast<std::uint32_t>(1 + rng() % 48);
    const auto below = static_cast<std::uint32_t>(1 + rng() % 64);
    const std::uint32_t capacities[] = {4096, whole, whole + above,
                                        whole > below ? whole - below : 0};
    for (const std::uint32_t capacity : capacities) {
      SCOPED_TRACE("round " + std::to_string(round) + ", capacity " + std::to_string(capacity));
      const Decoded d = Decode(in, capacity);
      ASSERT_EQ(d.status, kOk);
      EXPECT_EQ(d.length, whole);
      ASSERT_EQ(d.text, want.substr(0, capacity));
    }
  }
}

// The block decoder stops near the record's end, where it reads the last
// block from a padded copy and takes only the tokens inside the record, and
// near the capacity, where it takes only the tokens whose 16-byte write
// fits. A record cut at each of its last 80 bytes, and the whole record
// decoded into buffers of every size up to 20 past its text, give the
// byte-by-byte decoding whatever token lies at either end.
TEST(PalmLz77, EveryEndOfTheRecordAndTheBuffer) {
  std::mt19937 rng(64);
  for (int round = 0; round < 4; ++round) {
    const Bytes record = RandomTokens(rng, 160);
    for (std::size_t cut = record.size() > 80 ? record.size() - 80 : 0; cut <= record.size();
         ++cut) {
      const Bytes in(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(cut));
      const std::string want = DecodeByteByByte(in);
      for (const std::uint32_t capacity : {4096u, static_cast<std::uint32_t>(want.size())}) {
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(cut) +
                     " bytes, capacity " + std::to_string(capacity));
        const Decoded d = Decode(in, capacity);
        ASSERT_EQ(d.status, kOk);
        EXPECT_EQ(d.length, want.size());
        ASSERT_EQ(d.text, want.substr(0, capacity));
      }
    }
    const std::string want = DecodeByteByByte(record);
    const auto whole = static_cast<std::uint32_t>(want.size());
    for (std::uint32_t capacity = 0; capacity <= whole + 20; ++capacity) {
      SCOPED_TRACE("round " + std::to_string(round) + ", capacity " + std::to_string(capacity));
      const Decoded d = Decode(record, capacity);
      ASSERT_EQ(d.status, kOk);
      EXPECT_EQ(d.length, whole);
      ASSERT_EQ(d.text, want.substr(0, capacity));
    }
  }
}

// Real prose: the licence texts shipped with the system, cut into records
// as a document holds them, round-trip through every path.
TEST(PalmLz77, RealTextDecodesTheSameThroughEveryPath) {
  std::string text;
  for (const char* name :
       {"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/Apache-2.0"}) {
    std::FILE* f = std::fopen(name, "rb");
    if (f == nullptr) continue;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
      text.append(chunk, n);
    std::fclose(f);
  }
  if (text.empty()) GTEST_SKIP() << "no licence texts on this system";
  for (std::size_t at = 0; at < text.size() && at < 16 * 4096; at += 4096) {
    const std::string record = text.substr(at, 4096);
    const Decoded d = Decode(Compress(record));
    ASSERT_EQ(d.status, kOk);
    ASSERT_EQ(d.text, record) << "record at " << at;
  }
}

TEST(PalmLz77, ArgumentChecks) {
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(PalmDocLz_MeasureRecord(buffer, 1, nullptr), kNullOutPointer);
  std::uint32_t length = 0;
  EXPECT_EQ(PalmDocLz_MeasureRecord(nullptr, 3, &length), kBadArgument);
  EXPECT_EQ(PalmDocLz_Decode(buffer, 1, nullptr, 4, &length), kBadArgument);
  EXPECT_EQ(PalmDocLz_MeasureRecord(nullptr, 0, &length), kOk);
  EXPECT_EQ(length, 0u);
}

}  // namespace
