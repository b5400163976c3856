#include "engine/formats/native_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/codecs/dct.h"
#include "tests/formats/native_fixture.h"
#include "tests/support/dct_fixture.h"
#include "tests/support/fake_device.h"
#include "tests/support/jpeg_peer.h"

namespace {

using namespace native_fixture;

TEST(NativeImages, BorderStyles) {
  const std::pair<std::uint32_t, std::uint16_t> cases[] = {
      {16, 1},  {32, 2}, {48, 3}, {64, 4},  {80, 5},  {96, 6},
      {128, 8}, {0, 7},  {17, 7}, {112, 7}, {144, 7}, {0xFFFFFFFF, 7}};
  for (const auto& [style, code] : cases)
    EXPECT_EQ(DocImage_BorderStyleCode(style), code) << style;
}

// Shapes as the test describes them, in image pixels once percentages are
// applied; the oracle below decides membership on its own.
struct Shape {
  int kind;  // 0 default, 1 rect, 2 circle, 3 polygon
  std::vector<int> coords;
  std::vector<int> percent;
  std::uint32_t target;
};

constexpr int kWidth = 200;
constexpr int kHeight = 120;

double Resolve(const Shape& s, std::size_t i) {
  const bool percent = std::find(s.percent.begin(), s.percent.end(), i) != s.percent.end();
  if (!percent) return s.coords[i];
  const int scale = s.kind == 2 && i == 2 ? std::min(kWidth, kHeight) : i % 2 ? kHeight : kWidth;
  return std::floor(static_cast<double>(s.coords[i]) * scale / 100.0);
}

// Membership by geometry in floating point; boundary says whether the
// point lies within 1e-9 of a polygon edge (where the two rules may part).
bool Oracle(const Shape& s, double x, double y, bool* boundary) {
  *boundary = false;
  switch (s.kind) {
    case 0:
      return true;
    case 1:
      return x >= Resolve(s, 0) && y >= Resolve(s, 1) && x < Resolve(s, 2) && y < Resolve(s, 3);
    case 2: {
      const double dx = x - Resolve(s, 0), dy = y - Resolve(s, 1), r = Resolve(s, 2);
      return dx * dx + dy * dy <= r * r;
    }
    default: {
      const std::size_t n = s.coords.size() / 2;
      // Winding by summed angles: |sum| near 2*pi inside (for simple
      // polygons even-odd and winding agree).
      double sum = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t j = (i + 1) % n;
        const double ax = Resolve(s, 2 * i) - x, ay = Resolve(s, 2 * i + 1) - y;
        const double bx = Resolve(s, 2 * j) - x, by = Resolve(s, 2 * j + 1) - y;
        const double cross = ax * by - ay * bx;
        const double dot = ax * bx + ay * by;
        const double len = std::hypot(bx - ax, by - ay);
        if (len > 0 && std::fabs(cross) / len < 1e-9 && dot <= 0) *boundary = true;
        sum += std::atan2(cross, dot);
      }
      return std::fabs(sum) > 3.14159;
    }
  }
}

std::string AreaJson(const Shape& s) {
  static const char* names[] = {"default", "rect", "circle", "poly"};
  std::string out = "{\"shape\": \"" + std::string(names[s.kind]) +
                    "\", \"target\": " + std::to_string(s.target) + ", \"coords\": [";
  for (std::size_t i = 0; i < s.coords.size(); ++i)
    out += (i ? "," : "") + std::to_string(s.coords[i]);
  out += "], \"percent\": [";
  for (std::size_t i = 0; i < s.percent.size(); ++i)
    out += (i ? "," : "") + std::to_string(s.percent[i]);
  return out + "]}";
}

// A star-shaped (non-convex) simple polygon around (cx, cy).
Shape Star(int cx, int cy, int points, std::uint32_t target, std::mt19937& rng) {
  Shape s{3, {}, {}, target};
  for (int i = 0; i < points; ++i) {
    const double a = 2 * 3.141592653589793 * i / points;
    const int r = i % 2 ? 12 + static_cast<int>(rng() % 20) : 40 + static_cast<int>(rng() % 15);
    s.coords.push_back(cx + static_cast<int>(std::lround(r * std::cos(a))));
    s.coords.push_back(cy + static_cast<int>(std::lround(r * std::sin(a))));
  }
  return s;
}

TEST(NativeImageMaps, EveryShapeAgreesWithAnOracleOnAGrid) {
  std::mt19937 rng(5);
  std::vector<std::vector<Shape>> images = {
      {{1, {10, 20, 50, 60}, {}, 1}, {2, {100, 100, 30}, {}, 2}, {0, {}, {}, 3}},
      {Star(100, 60, 14, 4, rng), {1, {10, 10, 50, 50}, {0, 1, 2, 3}, 5}},
      {{2, {50, 50, 25}, {0, 1, 2}, 6}},
      {Star(60, 60, 200, 7, rng), Star(150, 50, 9, 8, rng)},
      {{3, {0, 0, 100, 0, 100, 100, 80, 100, 80, 20, 20, 20, 20, 100, 0, 100}, {4, 5}, 9},
       {1, {150, 10, 199, 119}, {}, 10}},
  };
  std::string json =
      "{\"text_hex\": \"41\", \"image_maps\": {\"first\": 3, \"per_record\": 2, "
      "\"images\": [";
  for (std::size_t i = 0; i < images.size(); ++i) {
    json += i ? ",[" : "[";
    for (std::size_t a = 0; a < images[i].size(); ++a)
      json += (a ? "," : "") + AreaJson(images[i][a]);
    json += "]";
  }
  // Image 8: a rectangle that misses, then a default area whose target is
  // cut after two of its four bytes: the list ends inside it.
  json +=
      ", [{\"shape\": \"rect\", \"coords\": [0, 0, 1, 1], \"target\": 1}, "
      "{\"raw_hex\": \"100000\"}]]}}";
  std::string error;
  const std::string file = native_tool::Write(json, {}, &error);
  ASSERT_FALSE(file.empty()) << error;
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);

  int checked = 0;
  for (std::size_t i = 0; i < images.size(); ++i) {
    for (int y = -4; y < kHeight + 4; y += 3) {
      for (int x = -4; x < kWidth + 4; x += 3) {
        std::uint32_t expected = kNativeNoTarget;
        bool unsure = false;
        for (const Shape& s : images[i]) {
          bool boundary = false;
          const bool in = Oracle(s, x, y, &boundary);
          unsure = unsure || boundary;
          if (in) {
            expected = s.target;
            break;
          }
          if (boundary) break;
        }
        if (unsure) continue;
        std::uint32_t target = 0;
        const StatusCode r = NativeStore_ImageMapHit(&h.State(), static_cast<std::uint32_t>(3 + i),
                                                     x, y, kWidth, kHeight, &target);
        if (expected == kNativeNoTarget) {
          EXPECT_EQ(r, kFailed) << "image " << i << " at " << x << "," << y;
        } else {
          ASSERT_EQ(r, kDocImageMapHit) << "image " << i << " at " << x << "," << y;
          EXPECT_EQ(target, expected) << "image " << i << " at " << x << "," << y;
        }
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 10000);

  // Edges of a rectangle: right and bottom are outside.
  std::uint32_t target = 0;
  EXPECT_EQ(NativeStore_ImageMapHit(&h.State(), 3, 49, 59, kWidth, kHeight, &target),
            kDocImageMapHit);
  EXPECT_EQ(target, 1u);
  EXPECT_EQ(NativeStore_ImageMapHit(&h.State(), 3, 50, 30, kWidth, kHeight, &target),
            kDocImageMapHit);
  EXPECT_EQ(target, 3u) << "x = right is outside the rectangle: the default area answers";
  EXPECT_EQ(NativeStore_ImageMapHit(&h.State(), 8, 11, 11, kWidth, kHeight, &target), kFailed)
      << "a list that ends inside an area ends the walk";
  EXPECT_EQ(NativeStore_ImageMapHit(&h.State(), 2, 11, 11, kWidth, kHeight, &target), kFailed);
  EXPECT_EQ(NativeStore_ImageMapHit(&h.State(), 9, 11, 11, kWidth, kHeight, &target), kFailed);

  // Records cut short answer the damaged status or still find their list.
  const auto [first, count] = Range(file, NativeRange::ImageMaps);
  ASSERT_EQ(count, 3u);
  for (std::uint32_t keep : {6u, 18u, 30u}) {
    std::vector<std::string> records = Records(file);
    records[first].resize(keep);
    NativeHandler cut;
    ASSERT_EQ(cut.Open(Rebuild(records)), kOk);
    const StatusCode r = NativeStore_ImageMapHit(&cut.State(), 4, 20, 30, kWidth, kHeight, &target);
    EXPECT_EQ(r, kDocMalformed) << keep;
  }
}

}  // namespace

namespace {

using dct_fixture::DctRecord;
using dct_fixture::MakeDctRecord;

struct Collected {
  const std::vector<jpeg_peer::Component>* comps;
  int tiles = 0;
  int worst = 0;
};

StatusCode Collect(void* user, std::uint32_t column, std::uint32_t row, const DctTile& tile,
                   std::uint32_t width, std::uint32_t height) noexcept {
  auto& c = *static_cast<Collected*>(user);
  ++c.tiles;
  const auto& comps = *c.comps;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const int py = static_cast<int>(32 * row + y);
      const int px = static_cast<int>(32 * column + x);
      c.worst = std::max(c.worst, std::abs(tile.y[y * 32 + x] - comps[0].Sample(py, px)));
      if (comps.size() == 3) {
        c.worst =
            std::max(c.worst, std::abs(tile.cr[y * 32 + x] - comps[2].Sample(py / 2, px / 2)));
      }
    }
  }
  return kOk;
}

TEST(NativeDctImages, TilesDecodeAndSkippedTilesKeepTheirPlace) {
  for (bool colour : {false, true}) {
    const DctRecord rec = MakeDctRecord(150, 70, colour, 60);
    // The record: a 4-byte record header, then the image header.
    const std::string record = std::string("\x04\x04\0\0", 4) + rec.bytes;
    const auto* data = reinterpret_cast<const std::uint8_t*>(record.data());
    const auto size = static_cast<std::uint32_t>(record.size());
    DctImageDecoder d;
    DctImage_Reset(&d);
    NativeDctImage image{};
    ASSERT_EQ(DocImage_LoadDctTables(&d, data, size, 4, &image), kOk);
    EXPECT_EQ(image.width, 150u);
    EXPECT_EQ(image.height, 70u);
    EXPECT_EQ(image.grey, !colour);
    static DctTile tile;
    Collected all{&rec.comps};
    ASSERT_EQ(DocImage_DecodeDctTiles(&d, data, size, 4, image, 0, 0, 150, 70, true, &tile, Collect,
                                      &all),
              kOk);
    EXPECT_EQ(all.tiles, 5 * 3);
    EXPECT_LE(all.worst, 1);
    // Only the tiles meeting [70, 100) x [40, 70): columns 2-3, row 1-2.
    Collected some{&rec.comps};
    ASSERT_EQ(DocImage_DecodeDctTiles(&d, data, size, 4, image, 70, 40, 100, 70, true, &tile,
                                      Collect, &some),
              kOk);
    EXPECT_EQ(some.tiles, 4);
    EXPECT_LE(some.worst, 1) << "tiles after skipped ones are found where they lie";

    // Cut short anywhere: the damaged status, never a read past the record.
    for (std::uint32_t keep = 5; keep < size; keep += 7) {
      DctImage_Reset(&d);
      NativeDctImage cut{};
      Collected partial{&rec.comps};
      StatusCode r = DocImage_LoadDctTables(&d, data, keep, 4, &cut);
      if (r == kOk)
        r = DocImage_DecodeDctTiles(&d, data, keep, 4, cut, 0, 0, 150, 70, true, &tile, Collect,
                                    &partial);
      EXPECT_EQ(r, kDocMalformed) << keep;
    }
  }
}

}  // namespace

namespace {

std::string Hex16(std::uint32_t v) {
  return Hex(std::string{static_cast<char>(v >> 8), static_cast<char>(v)});
}

// A document with one DCT image (item 1, 150 x 70, data in a type-4
// record), an item referring to it (item 2, kind 1), a raw bitmap (item 3)
// and a character format with a border (2 points top and bottom, 1 point
// left and right) over text positions 10-20.
std::string ImageDocument(std::uint16_t dataRecord, std::uint16_t bitmapRecord,
                          const std::string& dct) {
  const std::string bitmap = "\x00\x08\x00\x04" + std::string(28, '\0');
  const std::string items =
      // fixed: flags, kind, reference, header offset, width low, height low;
      // part 1: width high, height high, steps; part 2: the data record.
      "[{\"fixed_hex\": \"0002000000049646\", \"parts_hex\": [\"00000000\", \"" +
      Hex16(dataRecord) +
      "0000\"]},"
      "{\"fixed_hex\": \"0001000100000000\"},"
      "{\"fixed_hex\": \"0000000000040804\", \"parts_hex\": [null, \"" +
      Hex16(bitmapRecord) +
      "0000\"]},"
      // Item 4: a grid of 64 x 32 document units in tiles of 32 (5 steps):
      // items 5 and 6, raw bitmaps whose headers sit at the record header.
      "{\"fixed_hex\": \"0100000500004020\", \"parts_hex\": [\"00000505\", null]},"
      "{\"fixed_hex\": \"0100000000000000\", \"parts_hex\": [null, \"" +
      Hex16(bitmapRecord) +
      "0000\"]},"
      "{\"fixed_hex\": \"0100000000000000\", \"parts_hex\": [null, \"" +
      Hex16(bitmapRecord) + "0000\"]}]";
  const std::string json =
      "{\"text_hex\": \"" + Hex(std::string(40, 'x')) +
      "\", \"tables\": {\"9\": {\"widths\": [8, 4, 4], \"items\": " + items +
      "}, \"5\": {\"widths\": [4, 8, 6], \"items\": [{\"fixed_hex\": \"00000210\", "
      "\"parts_hex\": [\"0000010201101010\", null]}]},"
      "\"7\": {\"widths\": [4, 4, 4], \"items\": [{\"fixed_hex\": \"00000000\", "
      "\"parts_hex\": [\"00000100\", null]}]}},"
      "\"run_lists\": {\"3\": {\"runs\": [[0, 10, 0], [10, 20, 1], [20, 40, 0]], "
      "\"delta_encoding\": 0, \"value_encoding\": 0, \"runs_per_record\": 8}},"
      "\"extra_records\": [[4, \"" +
      Hex(dct) + "\"], [4, \"" + Hex(bitmap) + "\"]]}";
  std::string error;
  const std::string file = native_tool::Write(json, {}, &error);
  EXPECT_FALSE(file.empty()) << error;
  return file;
}

TEST(NativeImageObjects, SizesBordersAndPixelsThroughTheDevice) {
  const DctRecord rec = MakeDctRecord(150, 70, true, 60);
  // Written once to learn where the two extra records land (their sizes do
  // not depend on the numbers written into the items).
  std::vector<std::string> records = Records(ImageDocument(0, 0, rec.bytes));
  const auto dataRecord = static_cast<std::uint16_t>(records.size() - 2);
  const std::string file = ImageDocument(dataRecord, dataRecord + 1, rec.bytes);
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();

  NativeImageItem item{};
  ASSERT_EQ(DocImage_ReadItem(&s, 1, &item), kOk);
  EXPECT_EQ(item.kind, 2);
  EXPECT_EQ(item.width, 150u);
  EXPECT_EQ(item.height, 70u);
  EXPECT_EQ(item.dataRecord, dataRecord);
  NativeBorderSide sides[4];
  ASSERT_EQ(DocImage_ReadBorders(&s, 1, sides), kOk);
  EXPECT_EQ(sides[0].width, 2);
  EXPECT_EQ(sides[1].width, 1);
  EXPECT_EQ(sides[2].width, 2);
  EXPECT_EQ(sides[3].width, 1);
  EXPECT_EQ(sides[0].style, 0x10);

  EngineObject* dev = FakeDevice_Open(400, 300);
  DeviceContext ctx = nullptr;
  ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
  struct SizeCase {
    std::uint32_t position, item;
    std::int16_t width, height;
  } sizes[] = {
      {0, 1, 150, 70},   // no border outside the run
      {12, 1, 152, 74},  // borders: 1 + 1 across, 2 + 2 down
      {0, 2, 150, 70},   // a reference takes the referred size
      {0, 3, 8, 4},
  };
  for (const SizeCase& c : sizes) {
    std::int16_t w = 0, ht = 0;
    ASSERT_EQ(DocImage_GetDisplaySize(&s, dev, ctx, c.position, c.item, &w, &ht), kOk);
    EXPECT_EQ(w, c.width) << c.item << "@" << c.position;
    EXPECT_EQ(ht, c.height) << c.item << "@" << c.position;
  }

  // The DCT image with borders on a line whose baseline is at y + 80: every
  // tile reaches the device as a YCbCr image at its place.
  FakeDevice& fake = FakeDevice_Of(dev);
  fake.ClearLog();
  LineMetrics m{};
  m.ascent = 80;
  ASSERT_EQ(DocImage_DrawImageObject(&s, dev, ctx, &m, 10, 5, 12, 1), kOk);
  EXPECT_EQ(m.width, 152);
  EXPECT_EQ(m.height, 74);
  const auto images = fake.Calls(27);
  ASSERT_EQ(images.size(), 15u);
  EXPECT_EQ(images[0]->args, (std::vector<std::int64_t>{11, 5 + 80 - 74 + 2, 3, 0}));
  EXPECT_EQ(images[14]->args[0], 11 + 4 * 32);
  EXPECT_EQ(fake.Count(34), 4) << "four bordered sides";

  // A raw bitmap goes to the device as stored; a data record of the wrong
  // type draws nothing and answers the damaged status.
  fake.ClearLog();
  ASSERT_EQ(DocImage_DrawImageObject(&s, dev, ctx, &m, 0, 0, 0, 3), kOk);
  ASSERT_EQ(fake.Count(27), 1);
  EXPECT_EQ(fake.Calls(27)[0]->args[2], DeviceImageKind::PalmBitmap);

  // The grid: its two tile images side by side, one unit apart; with the
  // clip ending inside the first, only that one.
  fake.ClearLog();
  m.ascent = 32;
  ASSERT_EQ(DocImage_DrawImageObject(&s, dev, ctx, &m, 0, 0, 0, 4), kOk);
  ASSERT_EQ(fake.Count(27), 2);
  EXPECT_EQ(fake.Calls(27)[1]->args[0], 32);
  EXPECT_EQ(m.width, 64);
  DeviceRect narrow{0, 0, 20, 300};
  ASSERT_EQ(DeviceOf(dev).surfaceCommand(dev, ctx, &narrow, nullptr, DeviceSurface::ClipReplace),
            kOk);
  fake.ClearLog();
  ASSERT_EQ(DocImage_DrawImageObject(&s, dev, ctx, &m, 0, 0, 0, 4), kOk);
  EXPECT_EQ(fake.Count(27), 1);
  ASSERT_EQ(DeviceOf(dev).endDraw(dev, ctx), kOk);
  FakeDevice_Close(dev);

  const std::string wrong = ImageDocument(1, 1, rec.bytes);  // record 1 is no image record
  NativeHandler bad;
  ASSERT_EQ(bad.Open(wrong), kOk);
  dev = FakeDevice_Open(400, 300);
  ASSERT_EQ(DeviceOf(dev).beginDraw(dev, &ctx), kOk);
  EXPECT_EQ(DocImage_DrawImageObject(&bad.State(), dev, ctx, &m, 0, 0, 0, 1), kDocMalformed);
  EXPECT_EQ(FakeDevice_Of(dev).Count(27), 0);
  ASSERT_EQ(DeviceOf(dev).endDraw(dev, ctx), kOk);
  FakeDevice_Close(dev);
}

}  // namespace
