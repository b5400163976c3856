#include "engine/runtime/checksum.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/runtime/checksum_internal.h"
#include "engine/runtime/module_table.h"

namespace {

const ChecksumOps& Ops() {
  return OpsOf<ChecksumOps>(g_ChecksumModule);
}

std::uint32_t Crc(std::string_view text, std::uint32_t seed) {
  std::uint32_t value = seed;
  EXPECT_EQ(
      Ops().crc32(g_ChecksumModule, text.data(), static_cast<std::uint32_t>(text.size()), &value),
      kOk);
  return value;
}

std::uint32_t CrcFolded(std::string_view text, std::uint32_t seed) {
  std::uint32_t value = seed;
  EXPECT_EQ(Ops().crc32Folded(g_ChecksumModule, text.data(),
                              static_cast<std::uint32_t>(text.size()), &value),
            kOk);
  return value;
}

std::uint32_t Adler(const void* data, std::size_t length, std::uint32_t seed) {
  std::uint32_t value = seed;
  EXPECT_EQ(Ops().adler32(g_ChecksumModule, data, static_cast<std::uint32_t>(length), &value), kOk);
  return value;
}

// zlib seeds and inverts inside; the raw register is its complement.
std::uint32_t ZlibRawCrc(const std::uint8_t* data, std::size_t length, std::uint32_t seed) {
  return ~static_cast<std::uint32_t>(crc32(~seed & 0xFFFFFFFFul, data, static_cast<uInt>(length)));
}

TEST(Checksum, StandardCheckValuesWithCallerSeedAndFinalStep) {
  EXPECT_EQ(~Crc("123456789", 0xFFFFFFFFu), 0xCBF43926u);
  // Nothing is applied inside: the raw register comes back.
  EXPECT_EQ(Crc("123456789", 0xFFFFFFFFu), ~0xCBF43926u);
  EXPECT_EQ(Crc("", 0x600DF00Du), 0x600DF00Du);
  EXPECT_EQ(Crc(std::string_view("\0", 1), 0), 0u);  // zero register, zero byte
  EXPECT_EQ(Adler("123456789", 9, 1), 0x091E01DEu);
  EXPECT_EQ(Adler(nullptr, 0, 0x12345678u), 0x12345678u);
  EXPECT_EQ(Adler(nullptr, 0, 0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(Checksum, FoldedCrcTreatsOnlyAsciiCapitalsAsLowerCase) {
  EXPECT_EQ(CrcFolded("CHAPTER-One_#2", 0xFFFFFFFFu), Crc("chapter-one_#2", 0xFFFFFFFFu));
  EXPECT_NE(CrcFolded("CHAPTER", 0xFFFFFFFFu), Crc("CHAPTER", 0xFFFFFFFFu));
  // '@', '[', '`', '{' and high bytes sit next to the letters and must not change;
  // 0xC1 | 0x20 would be 0xE1.
  const std::string edges = "@[`{\xC1\xDA\x7F";
  EXPECT_EQ(CrcFolded(edges, 0), Crc(edges, 0));
  std::string all;
  std::string lowered;
  for (int b = 0; b < 256; ++b) {
    all.push_back(static_cast<char>(b));
    lowered.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b | 0x20 : b));
  }
  EXPECT_EQ(CrcFolded(all, 0x600DF00Du), Crc(lowered, 0x600DF00Du));
}

TEST(Checksum, AgreesWithZlibOnRandomBuffersFedInPieces) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  // Lengths around the Adler block size and far beyond it, and the worst case
  // of all 0xFF bytes for the deferred modulo.
  std::vector<std::size_t> lengths = {0, 1, 2, 15, 16, 5551, 5552, 5553, 11104, 11105, 100000};
  std::uniform_int_distribution<std::size_t> anyLength(0, 300000);
  for (int i = 0; i < 24; ++i)
    lengths.push_back(anyLength(rng));
  for (const bool allOnes : {false, true}) {
    for (const std::size_t length : lengths) {
      SCOPED_TRACE(testing::Message() << "length " << length << (allOnes ? " of 0xFF" : ""));
      // One spare byte keeps data() non-null: zlib answers its initial value
      // for a null buffer whatever the seed.
      std::vector<std::uint8_t> data(length + 1);
      for (auto& b : data)
        b = allOnes ? 0xFF : static_cast<std::uint8_t>(byte(rng));
      const std::uint32_t seed = static_cast<std::uint32_t>(rng());
      const std::uint32_t adlerSeed =
          static_cast<std::uint32_t>(((rng() % 65521) << 16) | (rng() % 65521));

      std::uint32_t crc = seed;
      ASSERT_EQ(
          Checksum_Crc32(g_ChecksumModule, data.data(), static_cast<std::uint32_t>(length), &crc),
          kOk);
      EXPECT_EQ(crc, ZlibRawCrc(data.data(), length, seed));
      const auto zAdler =
          static_cast<std::uint32_t>(adler32(adlerSeed, data.data(), static_cast<uInt>(length)));
      EXPECT_EQ(Adler(data.data(), length, adlerSeed), zAdler);
      EXPECT_EQ(Adler(data.data(), length, 1),
                static_cast<std::uint32_t>(adler32(1, data.data(), static_cast<uInt>(length))));

      // The same input in random pieces gives the same values.
      std::uint32_t crcPieces = seed;
      std::uint32_t adlerPieces = adlerSeed;
      std::size_t at = 0;
      while (at < length) {
        const std::size_t n =
            std::min(length - at, std::uniform_int_distribution<std::size_t>(0, 9000)(rng));
        ASSERT_EQ(Checksum_Crc32(g_ChecksumModule, data.data() + at, static_cast<std::uint32_t>(n),
                                 &crcPieces),
                  kOk);
        ASSERT_EQ(Checksum_Adler32(g_ChecksumModule, data.data() + at,
                                   static_cast<std::uint32_t>(n), &adlerPieces),
                  kOk);
        at += n;
      }
      EXPECT_EQ(crcPieces, crc);
      EXPECT_EQ(adlerPieces, zAdler);
    }
  }
}

// The bulk path folds 64 and then 16 bytes at a time from any address and
// leaves the last 0-15 bytes to the tables; the portable path runs eight bytes
// at a time. Every start offset within a 16-byte line, with lengths at and
// around each of those edges, must agree with zlib on both paths.
TEST(Checksum, CrcAgreesWithZlibAtEveryAlignmentAndLengthEdge) {
  std::mt19937 rng(32);
  std::vector<std::uint8_t> data(4096 + 64);
  for (auto& b : data)
    b = static_cast<std::uint8_t>(rng());
  std::vector<std::uint32_t> lengths;
  for (const std::uint32_t edge : {0u, 8u, 16u, 64u, 127u, 128u, 192u, 256u, 1024u, 4096u}) {
    for (std::uint32_t d = 0; d < 18; ++d) {
      if (edge + d >= 9 && edge + d - 9 <= 4096) lengths.push_back(edge + d - 9);
    }
  }
  for (int i = 0; i < 40; ++i)
    lengths.push_back(static_cast<std::uint32_t>(rng() % 4097));
  for (std::uint32_t offset = 0; offset < 16; ++offset) {
    for (const std::uint32_t length : lengths) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " length " << length);
      const std::uint8_t* p = data.data() + offset;
      const std::uint32_t seed = static_cast<std::uint32_t>(rng());
      const std::uint32_t want = ZlibRawCrc(p, length, seed);
      std::uint32_t crc = seed;
      ASSERT_EQ(Checksum_Crc32(g_ChecksumModule, p, length, &crc), kOk);
      EXPECT_EQ(crc, want);
      EXPECT_EQ(Checksum_Crc32Portable(p, length, seed), want);
    }
  }
  // Which bulk path ran is printed so a run on a machine without it says so.
  RecordProperty("clmul", Checksum_HaveCrc32Clmul() ? "yes" : "no");
}

// The vector paths take 32 or 64 bytes a step in blocks of 4096 and leave the
// rest to the byte loop. Every path this machine has must agree with zlib
// and with the portable path from any start offset, at lengths around the
// step and block edges, with random and unreduced seeds, on random bytes and
// on all-0xFF bytes (the largest sums).
TEST(Checksum, AdlerPathsAgreeWithZlibAtEveryAlignmentAndLengthEdge) {
  std::mt19937 rng(33);
  std::vector<std::uint8_t> random(3 * 5552 + 128), full(random.size(), 0xFF);
  for (auto& b : random)
    b = static_cast<std::uint8_t>(rng());
  std::vector<std::uint32_t> lengths;
  for (const std::uint32_t edge : {0u, 32u, 64u, 128u, 4096u, 5552u, 8192u, 3u * 5552u}) {
    for (std::uint32_t d = 0; d < 5; ++d) {
      if (edge + d >= 2) lengths.push_back(edge + d - 2);
    }
  }
  for (int i = 0; i < 20; ++i)
    lengths.push_back(static_cast<std::uint32_t>(rng() % (3 * 5552)));
  const ChecksumAdlerPath paths[] = {ChecksumAdlerPath::kPortable, ChecksumAdlerPath::kSse2,
                                     ChecksumAdlerPath::kAvx2};
  std::string ran;
  for (const ChecksumAdlerPath path : paths) {
    if (!Checksum_HaveAdler32Path(path)) continue;
    ran += std::to_string(static_cast<int>(path)) + " ";
    for (const std::vector<std::uint8_t>* data : {&random, &full}) {
      for (const std::uint32_t offset : {0u, 1u, 7u, 31u, 33u}) {
        for (const std::uint32_t length : lengths) {
          const std::uint8_t* p = data->data() + offset;
          for (const std::uint32_t seed :
               {1u, static_cast<std::uint32_t>(rng()) % 65521u * 65536u + 77u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path) << " offset "
                                            << offset << " length " << length << " seed " << seed);
            const std::uint32_t got = Checksum_Adler32With(path, p, length, seed);
            ASSERT_EQ(got, Checksum_Adler32Portable(p, length, seed));
            if (seed != 0xFFFFFFFFu) {  // zlib reduces an unreduced seed first
              ASSERT_EQ(got, static_cast<std::uint32_t>(adler32(seed, p, length)));
            }
          }
        }
      }
    }
  }
  // Which paths ran is printed so a run on a machine without them says so.
  RecordProperty("adler_paths", ran);
}

TEST(Checksum, AdlerWithUnreducedSeedHalvesStaysInRange) {
  // Halves at 65521..65535 are not valid running values, yet a caller may pass
  // them; a full block of 0xFF bytes must not overflow and must come out reduced.
  const std::vector<std::uint8_t> ones(5552 * 3 + 7, 0xFF);
  const std::uint32_t value = Adler(ones.data(), ones.size(), 0xFFFFFFFFu);
  EXPECT_LT(value & 0xFFFFu, 65521u);
  EXPECT_LT(value >> 16, 65521u);
  EXPECT_EQ(value, static_cast<std::uint32_t>(
                       adler32(0xFFFFFFFFul, ones.data(), static_cast<uInt>(ones.size()))));
}

}  // namespace
