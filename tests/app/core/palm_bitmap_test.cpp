// The Palm bitmap decoder: pictures made by netpbm's pnmtopalm decode to the
// pixels palmtopnm gives, for every depth, version and compression it
// writes; families, the fixed palette, and damaged records.
#include "engine/device/palm_bitmap.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/peer.h"

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint32_t> rgb;  // 0xRRGGBB
};

// Reads a binary PBM, PGM or PPM (maxval up to 255).
bool ParsePnm(const std::string& s, Picture* out) {
  std::size_t pos = 2;
  auto token = [&]() -> long {
    while (pos < s.size()) {
      if (s[pos] == '#') {
        while (pos < s.size() && s[pos] != '\n')
          ++pos;
      } else if (std::isspace(static_cast<unsigned char>(s[pos]))) {
        ++pos;
      } else {
        break;
      }
    }
    long v = 0;
    bool any = false;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
      v = v * 10 + (s[pos++] - '0');
      any = true;
    }
    return any ? v : -1;
  };
  if (s.size() < 2 || s[0] != 'P') return false;
  const char kind = s[1];
  out->width = static_cast<int>(token());
  out->height = static_cast<int>(token());
  const long maxval = kind == '4' ? 1 : token();
  if (out->width < 0 || out->height < 0 || maxval <= 0 || maxval > 255) return false;
  ++pos;  // the single whitespace before the raster
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + pos;
  const std::size_t left = s.size() - pos;
  out->rgb.clear();
  auto scale = [&](unsigned v) { return static_cast<std::uint32_t>(v * 255 / maxval); };
  if (kind == '4') {
    const std::size_t rowBytes = (out->width + 7) / 8;
    if (left < rowBytes * out->height) return false;
    for (int y = 0; y < out->height; ++y)
      for (int x = 0; x < out->width; ++x)
        out->rgb.push_back((p[y * rowBytes + x / 8] & (0x80 >> (x % 8))) ? 0x000000 : 0xFFFFFF);
  } else if (kind == '5') {
    if (left < std::size_t(out->width) * out->height) return false;
    for (int i = 0; i < out->width * out->height; ++i)
      out->rgb.push_back(scale(p[i]) * 0x010101u);
  } else if (kind == '6') {
    if (left < std::size_t(out->width) * out->height * 3) return false;
    for (int i = 0; i < out->width * out->height; ++i)
      out->rgb.push_back((scale(p[3 * i]) << 16) | (scale(p[3 * i + 1]) << 8) |
                         scale(p[3 * i + 2]));
  } else {
    return false;
  }
  return true;
}

StatusCode Decode(const std::string& bytes, PalmBitmapImage* out) {
  return PalmBitmap_Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                           static_cast<std::uint32_t>(bytes.size()), out);
}

// Test pictures: runs and repeated rows, so that every compression has
// something to do, plus noise.
std::string MakeInput(int depth, int width, int height, unsigned seed) {
  std::mt19937 rng(seed);
  std::string body;
  auto pick = [&](int n) { return static_cast<int>(rng() % n); };
  if (depth == 1) {
    const int rowBytes = (width + 7) / 8;
    std::string row(rowBytes, '\0');
    for (int y = 0; y < height; ++y) {
      if (y % 3 != 1)
        for (auto& c : row)
          c = static_cast<char>(pick(4) == 0 ? 0xFF : rng());
      body += row;
    }
    return "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n" + body;
  }
  if (depth == 2 || depth == 4) {
    const int levels = depth == 2 ? 4 : 16;
    const int step = 255 / (levels - 1);
    std::string row(width, '\0');
    for (int y = 0; y < height; ++y) {
      if (y % 3 != 1)
        for (int x = 0; x < width; ++x)
          row[x] = static_cast<char>(
              (x > 0 && pick(3) == 0 ? (unsigned char)row[x - 1] / step : pick(levels)) * step);
      body += row;
    }
    return "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + body;
  }
  std::string row(std::size_t(width) * 3, '\0');
  for (int y = 0; y < height; ++y) {
    if (y % 3 != 1)
      for (int x = 0; x < width; ++x) {
        std::uint32_t c;
        if (depth == 8)
          c = PalmBitmap_SystemColour(static_cast<std::uint8_t>(pick(231))) & 0xFFFFFF;
        else
          c = rng() & 0xFFFFFF;
        if (x > 0 && pick(2) == 0)
          c = (std::uint8_t(row[3 * x - 3]) << 16) | (std::uint8_t(row[3 * x - 2]) << 8) |
              std::uint8_t(row[3 * x - 1]);
        row[3 * x] = static_cast<char>(c >> 16);
        row[3 * x + 1] = static_cast<char>(c >> 8);
        row[3 * x + 2] = static_cast<char>(c);
      }
    body += row;
  }
  return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + body;
}

std::string PnmToPalm(const std::string& pnm, int depth, const std::string& options) {
  int status = 0;
  const std::string palm = RunPeer(
      "pnmtopalm -depth " + std::to_string(depth) + " " + options + " 2>/dev/null", pnm, &status);
  return status == 0 ? palm : std::string();
}

TEST(PalmBitmapPeer, DecodesWhatPnmtopalmWritesAsPalmtopnmReadsIt) {
  KELPO_REQUIRE_PEER("pnmtopalm");
  KELPO_REQUIRE_PEER("palmtopnm");
  const std::vector<std::string> compressions = {"", "-scanline_compression", "-rle_compression",
                                                 "-packbits_compression"};
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {13, 7}, {40, 9}, {161, 4}};
  std::set<int> versions;
  int compared = 0;
  for (int depth : {1, 2, 4, 8, 16}) {
    for (const auto& compression : compressions) {
      if (depth == 16 && !compression.empty()) continue;  // pnmtopalm cannot write those
      for (const auto& [w, h] : sizes) {
        SCOPED_TRACE("depth " + std::to_string(depth) + " " + compression + " " +
                     std::to_string(w) + "x" + std::to_string(h));
        const std::string palm = PnmToPalm(
            MakeInput(depth, w, h, static_cast<unsigned>(depth * 1000 + w)), depth, compression);
        ASSERT_GE(palm.size(), 16u);
        versions.insert(static_cast<unsigned char>(palm[9]));
        int status = 0;
        Picture want;
        ASSERT_TRUE(ParsePnm(RunPeer("palmtopnm 2>/dev/null", palm, &status), &want));
        ASSERT_EQ(status, 0);
        PalmBitmapImage got;
        ASSERT_EQ(Decode(palm, &got), kOk);
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        for (int i = 0; i < w * h; ++i) {
          const std::uint32_t g = got.pixels.get()[i];
          ASSERT_EQ(g >> 24, 0xFFu);
          if (depth == 16) {
            // Both widen 5 and 6 bits to 8; they may round differently
            // inside the range, never at its ends.
            for (int shift : {0, 8, 16}) {
              const int a = (g >> shift) & 0xFF, b = (want.rgb[i] >> shift) & 0xFF;
              ASSERT_LE(std::abs(a - b), 8) << "pixel " << i;
              if (b == 0 || b == 255) {
                ASSERT_EQ(a, b) << "pixel " << i;
              }
            }
          } else {
            ASSERT_EQ(g & 0xFFFFFF, want.rgb[i]) << "pixel " << i;
          }
        }
        ++compared;
        // Every shorter record is refused, never read past its end.
        for (std::size_t cut = 0; cut < palm.size(); ++cut) {
          PalmBitmapImage partial;
          ASSERT_NE(Decode(palm.substr(0, cut), &partial), kOk) << "cut at " << cut;
        }
      }
    }
  }
  EXPECT_EQ(compared, 4 * (4 * 4 + 1));
  EXPECT_EQ(versions, (std::set<int>{0, 1, 2}));
}

// A version-2 header of 16 bytes.
std::string Header(int width, int height, int rowBytes, int flags, int pixelSize, int version,
                   int next, int compression) {
  std::string h(16, '\0');
  auto be16 = [&](int at, int v) {
    h[at] = static_cast<char>(v >> 8);
    h[at + 1] = static_cast<char>(v);
  };
  be16(0, width);
  be16(2, height);
  be16(4, rowBytes);
  be16(6, flags);
  h[8] = static_cast<char>(pixelSize);
  h[9] = static_cast<char>(version);
  be16(10, next);
  h[13] = static_cast<char>(compression);
  return h;
}

TEST(PalmBitmap, FamilyShowsTheDeepestMemberOfAtMost16Bits) {
  // 1-bit member (8x1, all black), then a 4-bit one (2x1, greys 0 and 15),
  // then a member of 24 bits that is not taken.
  std::string first = Header(8, 1, 2, 0, 1, 2, 0, 255) + std::string("\xFF\x00\x00\x00", 4);
  std::string second = Header(2, 1, 2, 0, 4, 2, 0, 255) + std::string("\x0F\x00\x00\x00", 4);
  const std::string third = Header(1, 1, 4, 0, 24, 2, 0, 255) + std::string(4, '\0');
  first[11] = static_cast<char>(first.size() / 4);
  second[11] = static_cast<char>(second.size() / 4);
  PalmBitmapImage img;
  ASSERT_EQ(Decode(first + second + third, &img), kOk);
  ASSERT_EQ(img.width, 2);
  EXPECT_EQ(img.pixels.get()[0], 0xFFFFFFFFu);  // grey index 0 is white
  EXPECT_EQ(img.pixels.get()[1], 0xFF000000u);  // index 15 black

  // A link that leaves the record ends the walk at the member reached.
  std::string lone = first;
  lone[11] = 0x40;
  ASSERT_EQ(Decode(lone, &img), kOk);
  EXPECT_EQ(img.width, 8);

  // The first member above 16 bits: nothing is drawn.
  EXPECT_EQ(Decode(third, &img), kNoMore);
}

TEST(PalmBitmap, VersionDecidesThePixelSize) {
  // Version 0 has no pixel-size field: 1 bit whatever the byte says.
  PalmBitmapImage img;
  ASSERT_EQ(Decode(Header(8, 1, 2, 0, 8, 0, 0, 0) + std::string("\x80\x00", 2), &img), kOk);
  EXPECT_EQ(img.width, 8);
  EXPECT_EQ(img.pixels.get()[0], 0xFF000000u);
  EXPECT_EQ(img.pixels.get()[1], 0xFFFFFFFFu);
  // Version 1 with 2-bit pixels: 0b00011011 gives the four greys.
  ASSERT_EQ(Decode(Header(4, 1, 2, 0, 2, 1, 0, 0) + std::string("\x1B\x00", 2), &img), kOk);
  EXPECT_EQ(img.pixels.get()[0], 0xFFFFFFFFu);
  EXPECT_EQ(img.pixels.get()[1], 0xFFAAAAAAu);
  EXPECT_EQ(img.pixels.get()[2], 0xFF555555u);
  EXPECT_EQ(img.pixels.get()[3], 0xFF000000u);
}

TEST(PalmBitmap, ScanLineRowAboveTheFirstIsZeros) {
  // Two rows of 16 one-bit pixels; flag bytes 0x00 copy the row above.
  const std::string data = Header(16, 2, 2, 0x8000, 1, 2, 0, 0) + std::string("\x00\x00", 2) +
                           std::string("\x00", 1) + std::string("\x40\xFF", 2);
  PalmBitmapImage img;
  ASSERT_EQ(Decode(data, &img), kOk);
  for (int x = 0; x < 16; ++x)
    EXPECT_EQ(img.pixels.get()[x], 0xFFFFFFFFu) << x;
  for (int x = 0; x < 8; ++x)
    EXPECT_EQ(img.pixels.get()[16 + x], 0xFFFFFFFFu) << x;
  for (int x = 8; x < 16; ++x)
    EXPECT_EQ(img.pixels.get()[16 + x], 0xFF000000u) << x;
}

TEST(PalmBitmap, SixteenBitColoursWiden) {
  struct Case {
    std::uint16_t pixel;
    std::uint32_t rgb;
  } cases[] = {{0xFFFF, 0xFFFFFF}, {0x0000, 0x000000}, {0xF800, 0xFF0000}, {0x0841, 0x090A09}};
  for (const auto& c : cases) {
    const std::string data =
        Header(1, 1, 2, 0x0400, 16, 2, 0, 255) + std::string(8, '\0') +
        std::string{static_cast<char>(c.pixel >> 8), static_cast<char>(c.pixel)};
    PalmBitmapImage img;
    ASSERT_EQ(Decode(data, &img), kOk);
    EXPECT_EQ(img.pixels.get()[0] & 0xFFFFFF, c.rgb) << std::hex << c.pixel;
  }
}

TEST(PalmBitmap, SystemPalette) {
  const std::pair<int, std::uint32_t> cases[] = {
      {0, 0xFFFFFF},   {1, 0xFFCCFF},   {6, 0xFFFFCC},   {18, 0xCCFFFF},
      {107, 0x000099}, {108, 0xFFFF66}, {214, 0x003300}, {215, 0x111111},
      {224, 0xEEEEEE}, {225, 0xC0C0C0}, {226, 0x800000}, {227, 0x800080},
      {228, 0x008000}, {229, 0x008080}, {230, 0x000000}, {255, 0x000000}};
  for (const auto& [index, rgb] : cases)
    EXPECT_EQ(PalmBitmap_SystemColour(static_cast<std::uint8_t>(index)), 0xFF000000u | rgb)
        << index;
}

TEST(PalmBitmap, DamagedRecordsAreRefused) {
  struct Case {
    const char* what;
    std::string data;
    StatusCode want;
  };
  const std::string row8 = std::string("\xAA\x55", 2);
  const Case cases[] = {
      {"no header", std::string(15, '\0'), kMalformed},
      {"rows missing", Header(16, 2, 2, 0, 1, 2, 0, 255) + row8, kMalformed},
      {"bytes per row below the width", Header(17, 1, 2, 0, 1, 2, 0, 255) + row8, kMalformed},
      {"too wide", Header(5000, 1, 626, 0, 1, 2, 0, 255) + std::string(626, '\0'), kMalformed},
      {"too tall", Header(1, 5000, 2, 0, 1, 2, 0, 255) + std::string(10000, '\0'), kMalformed},
      {"colour table past the end", Header(8, 1, 2, 0x4000, 8, 2, 0, 255) + "\x01\x00" + row8,
       kMalformed},
      {"rle run spans rows",
       Header(16, 2, 2, 0x8000, 1, 2, 0, 1) + "\x00\x00" + std::string("\x03\xFF\x01\x00", 4),
       kMalformed},
      {"packbits run spans rows",
       Header(16, 2, 2, 0x8000, 1, 2, 0, 2) + "\x00\x00" + std::string("\xFD\xFF\x00\x00", 4),
       kMalformed},
      {"packbits literal past the end",
       Header(16, 1, 2, 0x8000, 1, 2, 0, 2) + "\x00\x00" + std::string("\x05\xFF", 2), kMalformed},
      {"unknown compression", Header(16, 1, 2, 0x8000, 1, 2, 0, 7) + "\x00\x00" + row8, kNoMore},
      {"pixel size 3", Header(16, 1, 6, 0, 3, 2, 0, 255) + std::string(6, '\0'), kNoMore},
      {"empty picture", Header(0, 0, 0, 0, 1, 2, 0, 255), kOk},
  };
  for (const auto& c : cases) {
    PalmBitmapImage img;
    EXPECT_EQ(Decode(c.data, &img), c.want) << c.what;
  }
  PalmBitmapImage img;
  EXPECT_EQ(PalmBitmap_Decode(nullptr, 0, &img), kMalformed);
  EXPECT_EQ(PalmBitmap_Decode(nullptr, 0, nullptr), kNullOutPointer);
}

}  // namespace
