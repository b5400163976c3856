#include "engine/codecs/dct.h"

#include "engine/codecs/dct_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/dct_writer.h"
#include "tests/support/jpeg_peer.h"

// libjpeg is the peer: its quality scaling, its quantised coefficients and
// its fast integer decode of the same coefficients.
#include <jpeglib.h>

namespace {

using dct_writer::Block;
using jpeg_peer::Component;
using jpeg_peer::ReadJpeg;
using jpeg_peer::WriteJpeg;

TEST(DctQuantisation, TablesEqualLibjpegsForEveryQuality) {
  for (int quality = 1; quality <= 100; ++quality) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    c.in_color_space = JCS_RGB;
    c.input_components = 3;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    for (std::uint32_t t = 0; t < 2; ++t) {
      std::uint16_t ours[64];
      DctImage_QualityTable(t, static_cast<std::uint32_t>(quality), ours);
      for (int i = 0; i < 64; ++i)
        ASSERT_EQ(ours[i], c.quant_tbl_ptrs[t]->quantval[i]) << "quality " << quality;
    }
    jpeg_destroy_compress(&c);
  }
  std::uint16_t q50[64], q100[64], q25[64];
  DctImage_QualityTable(0, 50, q50);
  DctImage_QualityTable(0, 100, q100);
  DctImage_QualityTable(0, 25, q25);
  EXPECT_EQ(q50[0], 16);
  EXPECT_EQ(q50[63], 99);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(q100[i], 1);
    EXPECT_EQ(q25[i], std::min(2 * q50[i], 255));
  }
  DctImageDecoder d;
  DctImage_Reset(&d);
  EXPECT_EQ(DctImage_SetQuality(&d, 2, 50), kBadArgument);
  EXPECT_EQ(DctImage_SetQuality(&d, 0, 101), kBadArgument);
}

constexpr DctPath kPaths[] = {DctPath::kPortable, DctPath::kSse2, DctPath::kAvx2};

// DctImage_Decode into tile, and the same through every path into fresh
// tiles, which must come out byte for byte the same with the same status.
StatusCode DecodeEveryPath(DctImageDecoder& d, const std::string& stream, int rows, int cols,
                           bool chroma, DctTile& tile) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
  const auto n = static_cast<std::uint32_t>(stream.size());
  const auto r = static_cast<std::uint32_t>(rows);
  const auto c = static_cast<std::uint32_t>(cols);
  const DctTile before = tile;
  const StatusCode s = DctImage_Decode(&d, bytes, n, r, c, chroma, &tile);
  for (const DctPath path : kPaths) {
    DctTile other = before;
    EXPECT_EQ(DctImage_DecodeWith(path, &d, bytes, n, r, c, chroma, &other), s);
    EXPECT_EQ(std::memcmp(&other, &tile, sizeof tile), 0) << "path " << static_cast<int>(path);
  }
  return s;
}

// Decodes every tile of the image through a re-coded stream and compares
// with libjpeg's samples: the largest difference seen.
int CompareTiles(int width, int height, int quality, const std::vector<Component>& comps) {
  const bool colour = comps.size() == 3;
  dct_writer::Coder luma;
  dct_writer::Coder chroma;
  luma.Count(comps[0].blocks);
  if (colour) {
    chroma.Count(comps[1].blocks);
    chroma.Count(comps[2].blocks);
  }
  DctImageDecoder d;
  DctImage_Reset(&d);
  const std::string lumaTable = luma.Table();
  EXPECT_EQ(
      DctImage_SetHuffmanTables(&d, 0, reinterpret_cast<const std::uint8_t*>(lumaTable.data()),
                                static_cast<std::uint32_t>(lumaTable.size()), nullptr),
      kOk);
  EXPECT_EQ(DctImage_SetQuality(&d, 0, static_cast<std::uint32_t>(quality)), kOk);
  if (colour) {
    const std::string table = chroma.Table();
    EXPECT_EQ(DctImage_SetHuffmanTables(&d, 1, reinterpret_cast<const std::uint8_t*>(table.data()),
                                        static_cast<std::uint32_t>(table.size()), nullptr),
              kOk);
    EXPECT_EQ(DctImage_SetQuality(&d, 1, static_cast<std::uint32_t>(quality)), kOk);
  }
  int worst = 0;
  for (int ty = 0; ty * 32 < height; ++ty) {
    for (int tx = 0; tx * 32 < width; ++tx) {
      const int rows = std::min(4, (height - 32 * ty + 7) / 8);
      const int cols = std::min(4, (width - 32 * tx + 7) / 8);
      std::vector<Block> blocks;
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
          blocks.push_back(comps[0].At(4 * ty + r, 4 * tx + c));
      const std::string stream = luma.Code(blocks);
      DctTile tile{};
      EXPECT_EQ(DecodeEveryPath(d, stream, rows, cols, false, tile), kOk);
      for (int y = 0; y < 8 * rows; ++y)
        for (int x = 0; x < 8 * cols; ++x)
          worst = std::max(
              worst, std::abs(tile.y[y * 32 + x] - comps[0].Sample(32 * ty + y, 32 * tx + x)));
      if (!colour) continue;
      const int crows = (rows + 1) / 2;
      const int ccols = (cols + 1) / 2;
      std::vector<Block> cblocks;
      for (int plane = 1; plane <= 2; ++plane)
        for (int r = 0; r < crows; ++r)
          for (int c = 0; c < ccols; ++c)
            cblocks.push_back(comps[plane].At(2 * ty + r, 2 * tx + c));
      const std::string cstream = chroma.Code(cblocks);
      EXPECT_EQ(DecodeEveryPath(d, cstream, crows, ccols, true, tile), kOk);
      for (int y = 0; y < 8 * crows; ++y) {
        for (int x = 0; x < 8 * ccols; ++x) {
          const int at = 2 * y * 32 + 2 * x;
          EXPECT_EQ(tile.cb[at], tile.cb[at + 33]) << "samples doubled";
          worst =
              std::max(worst, std::abs(tile.cb[at] - comps[1].Sample(16 * ty + y, 16 * tx + x)));
          worst =
              std::max(worst, std::abs(tile.cr[at] - comps[2].Sample(16 * ty + y, 16 * tx + x)));
        }
      }
    }
  }
  return worst;
}

TEST(DctDecode, PlanesAgreeWithLibjpegsFastIntegerPath) {
  struct Case {
    int width, height;
    bool colour;
    int quality;
  } cases[] = {{77, 45, false, 75}, {96, 64, false, 30}, {70, 50, true, 75},
               {129, 97, true, 95}, {33, 17, true, 10},  {64, 64, true, 100}};
  for (const Case& c : cases) {
    std::mt19937 rng(static_cast<unsigned>(c.width * 131 + c.quality));
    std::vector<int> noise(1024);
    for (int& n : noise)
      n = static_cast<int>(rng() % 64);
    const auto jpeg = WriteJpeg(c.width, c.height, c.colour, c.quality, [&](int x, int y, int k) {
      const int v = (x * 5 + y * 3 + k * 70) % 256 / 2 + 40 * ((x / 9 + y / 7) % 3) +
                    noise[static_cast<std::size_t>((x * 7 + y * 13 + k) % 1024)];
      return static_cast<unsigned char>(std::clamp(v, 0, 255));
    });
    const auto comps = ReadJpeg(jpeg);
    ASSERT_EQ(comps.size(), c.colour ? 3u : 1u);
    EXPECT_LE(CompareTiles(c.width, c.height, c.quality, comps), 1)
        << c.width << "x" << c.height << " q" << c.quality;
  }
}

// Blocks holding a DC coefficient alone decode to one flat value, exactly
// the rounded form ((dc * q + 16) >> 5) + 128 with q the pre-scaled DC
// quantiser (4 times the table's). libjpeg's fast path truncates instead of
// rounding: it gives the same value, or one less where the remainder is 16
// or more.
TEST(DctDecode, DcOnlyBlocksAreExact) {
  for (bool colour : {false, true}) {
    std::mt19937 rng(colour ? 3 : 4);
    std::vector<int> level(64);
    for (int& l : level)
      l = static_cast<int>(rng() % 256);
    const int quality = 90;
    const auto jpeg = WriteJpeg(80, 48, colour, quality, [&](int x, int y, int k) {
      return static_cast<unsigned char>(
          level[static_cast<std::size_t>((x / 16 + 5 * (y / 16) + k * 3) % 64)]);
    });
    const auto comps = ReadJpeg(jpeg);
    int roundedUp = 0;
    for (std::size_t ci = 0; ci < comps.size(); ++ci) {
      const Component& comp = comps[ci];
      const std::uint32_t set = ci == 0 ? 0 : 1;
      std::uint16_t table[64];
      DctImage_QualityTable(set, quality, table);
      for (int r = 0; r < comp.blocksHigh; ++r) {
        for (int c = 0; c < comp.blocksWide; ++c) {
          const Block& b = comp.At(r, c);
          for (int i = 1; i < 64; ++i)
            ASSERT_EQ(b[i], 0) << "the fixture must be DC-only";
          dct_writer::Coder coder;
          coder.Count({b});
          const std::string t = coder.Table();
          // A chroma stream holds the Cb block, then the Cr block.
          const std::string stream = set == 0 ? coder.Code({b}) : coder.Code({b, b});
          DctImageDecoder d;
          DctImage_Reset(&d);
          ASSERT_EQ(
              DctImage_SetHuffmanTables(&d, set, reinterpret_cast<const std::uint8_t*>(t.data()),
                                        static_cast<std::uint32_t>(t.size()), nullptr),
              kOk);
          ASSERT_EQ(DctImage_SetQuality(&d, set, quality), kOk);
          DctTile tile{};
          ASSERT_EQ(
              DctImage_Decode(&d, reinterpret_cast<const std::uint8_t*>(stream.data()),
                              static_cast<std::uint32_t>(stream.size()), 1, 1, set == 1, &tile),
              kOk);
          const int v = b[0] * table[0] * 4;
          const int expected = std::clamp(((v + 16) >> 5) + 128, 0, 255);
          const int size = set == 0 ? 8 : 16;
          for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
              ASSERT_EQ((set == 0 ? tile.y : tile.cb)[y * 32 + x], expected) << ci << " " << r;
              if (set == 1) {
                ASSERT_EQ(tile.cr[y * 32 + x], expected) << ci << " " << r;
              }
            }
          }
          const int peer = comp.Sample(8 * r, 8 * c);
          const int up = (v & 31) >= 16 && expected < 255 ? 1 : 0;
          EXPECT_EQ(expected, std::clamp(peer + up, 0, 255)) << ci << " " << r << "," << c;
          roundedUp += up;
        }
      }
    }
    EXPECT_GT(roundedUp, 0) << "some blocks show the rounding";
  }
}

// Blocks of coefficients from tiny to far beyond what a stream can hold (the
// fast paths' 32-bit lanes hold only moderate values, larger blocks go the
// 64-bit way), dense, sparse and DC-only, through every path: the samples
// are the portable path's, and nothing is written outside the block.
TEST(DctInverse, EveryPathGivesThePortableSamples) {
  std::mt19937 rng(64);
  const std::int32_t limits[] = {1, 100, 2047, 16383, 16384, 40000, 1 << 20, 0x7FFFFFFF};
  for (int round = 0; round < 4000; ++round) {
    const std::int32_t limit = limits[round % 8];
    std::int32_t in[64] = {};
    const int kind = (round / 8) % 3;  // dense, sparse, DC-only
    for (int k = 0; k < 64; ++k) {
      if (kind == 2 && k > 0) break;
      if (kind == 1 && rng() % 8 != 0) continue;
      const auto span = static_cast<std::uint64_t>(limit) * 2 + 1;
      in[k] = static_cast<std::int32_t>(static_cast<std::int64_t>(rng() % span) - limit);
    }
    std::uint8_t want[8 * 40];
    std::memset(want, 0xEE, sizeof want);
    DctImage_InverseDctWith(DctPath::kPortable, in, want + 4, 40);
    for (const DctPath path : kPaths) {
      std::uint8_t got[8 * 40];
      std::memset(got, 0xEE, sizeof got);
      DctImage_InverseDctWith(path, in, got + 4, 40);
      ASSERT_EQ(std::memcmp(got, want, sizeof got), 0)
          << "round " << round << ", path " << static_cast<int>(path);
    }
    std::uint8_t best[64];
    DctImage_InverseDct(in, best, 8);
    for (int y = 0; y < 8; ++y)
      ASSERT_EQ(std::memcmp(best + 8 * y, want + 4 + 40 * y, 8), 0) << round;
  }
}

TEST(DctDecode, DamagedInputFails) {
  dct_writer::Coder coder;
  Block b{};
  b[0] = 40;
  b[1] = -300;
  b[8] = 5;
  coder.Count({b});
  const std::string table = coder.Table();
  const std::string stream = coder.Code({b});
  DctImageDecoder d;
  DctImage_Reset(&d);
  DctTile tile{};
  const auto* t = reinterpret_cast<const std::uint8_t*>(table.data());
  EXPECT_EQ(DctImage_Decode(&d, nullptr, 0, 1, 1, false, &tile), kBadArgument) << "no tables";
  for (std::uint32_t n = 0; n < table.size(); ++n) {
    EXPECT_EQ(DctImage_SetHuffmanTables(&d, 0, t, n, nullptr), kFailed) << n;
    EXPECT_NE(d.status, DctStatus::Ok);
  }
  std::uint32_t used = 0;
  ASSERT_EQ(DctImage_SetHuffmanTables(&d, 0, t, static_cast<std::uint32_t>(table.size()), &used),
            kOk);
  EXPECT_EQ(used, table.size());
  ASSERT_EQ(DctImage_SetQuality(&d, 0, 50), kOk);
  const auto* s = reinterpret_cast<const std::uint8_t*>(stream.data());
  ASSERT_EQ(DctImage_Decode(&d, s, static_cast<std::uint32_t>(stream.size()), 1, 1, false, &tile),
            kOk);
  EXPECT_EQ(
      DctImage_Decode(&d, s, static_cast<std::uint32_t>(stream.size()) - 1, 1, 1, false, &tile),
      kFailed)
      << "the input ends inside the block";
  EXPECT_EQ(d.status, DctStatus::BadCoefficients);
  EXPECT_EQ(DctImage_Decode(&d, s, static_cast<std::uint32_t>(stream.size()), 2, 1, false, &tile),
            kFailed)
      << "a second block that is not there";
  EXPECT_EQ(DctImage_Decode(&d, s, static_cast<std::uint32_t>(stream.size()), 5, 1, false, &tile),
            kBadArgument);

  // Thirty-five code-length codes of one bit: over-subscribed.
  std::vector<std::uint8_t> bits((5 + 35 * 3 + 7) / 8);
  std::uint32_t at = 0;
  auto put = [&bits, &at](std::uint32_t v, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i, ++at)
      bits[at / 8] = static_cast<std::uint8_t>(bits[at / 8] | ((v >> i) & 1u) << (at % 8));
  };
  put(31, 5);
  for (int i = 0; i < 35; ++i)
    put(1, 3);
  EXPECT_EQ(DctImage_SetHuffmanTables(&d, 1, bits.data(), static_cast<std::uint32_t>(bits.size()),
                                      nullptr),
            kFailed);
  EXPECT_EQ(d.status, DctStatus::BadLengthCode);
}

}  // namespace
