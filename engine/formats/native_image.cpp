#include "engine/formats/native_image.h"

#include <cstring>

#include "engine/codecs/dct.h"
#include "engine/formats/native_index.h"
#include "engine/formats/native_table.h"
#include "engine/runtime/allocator.h"

namespace {

std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// Reads bytes of one area list; every read checks the list's end.
class AreaReader {
 public:
  AreaReader(const std::uint8_t* p, std::uint32_t n) : p_(p), n_(n) {}
  bool AtEnd() const { return at_ >= n_; }
  bool Byte(std::uint32_t* v) {
    if (at_ >= n_) return false;
    *v = p_[at_++];
    return true;
  }
  // A byte, or 15 bits over two bytes when the top bit is set.
  bool Number(std::uint32_t* v) {
    std::uint32_t b = 0;
    if (!Byte(&b)) return false;
    if ((b & 0x80u) == 0) {
      *v = b;
      return true;
    }
    std::uint32_t c = 0;
    if (!Byte(&c)) return false;
    *v = (b & 0x7Fu) << 8 | c;
    return true;
  }
  bool U32(std::uint32_t* v) {
    if (n_ - at_ < 4 || at_ > n_) return false;
    *v = std::uint32_t{p_[at_]} << 24 | std::uint32_t{p_[at_ + 1]} << 16 |
         std::uint32_t{p_[at_ + 2]} << 8 | p_[at_ + 3];
    at_ += 4;
    return true;
  }
  bool Skip(std::uint32_t count) {
    if (count > n_ - at_) return false;
    at_ += count;
    return true;
  }
  std::uint32_t Position() const { return at_; }
  const std::uint8_t* Data() const { return p_; }

 private:
  const std::uint8_t* p_;
  std::uint32_t n_;
  std::uint32_t at_ = 0;
};

// Coordinate i of an area, scaled when its mask bit says percent.
bool Coordinate(AreaReader& r, std::uint32_t maskAt, std::uint32_t i, std::uint64_t scale,
                std::int64_t* out) {
  std::uint32_t v = 0;
  if (!r.Number(&v)) return false;
  const bool percent = ((r.Data()[maskAt + i / 8] >> (i % 8)) & 1u) != 0;
  *out = percent ? static_cast<std::int64_t>(std::uint64_t{v} * scale / 100) : v;
  return true;
}

// Whether (x, y) lies in the polygon by the even-odd rule: edges that a ray
// from the point towards x = -1 crosses properly.
bool InPolygon(const std::int64_t* xs, const std::int64_t* ys, std::uint32_t n, std::int64_t x,
               std::int64_t y) {
  bool inside = false;
  for (std::uint32_t i = 0, j = n - 1; i < n; j = i++) {
    if ((ys[i] > y) == (ys[j] > y)) continue;
    // The edge's x at height y lies left of the point: (x_at - x) < 0,
    // compared without division.
    const std::int64_t dy = ys[j] - ys[i];
    const std::int64_t lhs = (xs[j] - xs[i]) * (y - ys[i]);
    const std::int64_t rhs = (x - xs[i]) * dy;
    if (dy > 0 ? lhs < rhs : lhs > rhs) inside = !inside;
  }
  return inside;
}

// Walks one area list: kDocImageMapHit with the target, or kFailed.
StatusCode HitList(const std::uint8_t* list, std::uint32_t length, std::int64_t x, std::int64_t y,
                   std::uint64_t width, std::uint64_t height, std::uint32_t* target) {
  AreaReader r(list, length);
  while (!r.AtEnd()) {
    std::uint32_t flags = 0;
    if (!r.Byte(&flags)) return kFailed;
    const std::uint32_t shape = flags & 0x0Fu;
    if (shape > 3) return kFailed;
    std::uint32_t t = kNativeNoTarget;
    if ((flags & 0x10u) != 0 && !r.U32(&t)) return kFailed;
    bool hit = false;
    if (shape == 0) {
      hit = true;
    } else if (shape == 1 || shape == 2) {
      const std::uint32_t maskAt = r.Position();
      if (!r.Skip(1)) return kFailed;
      const std::uint32_t count = shape == 1 ? 4 : 3;
      std::int64_t c[4] = {};
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t scale = shape == 2 && i == 2 ? (width < height ? width : height)
                                    : i % 2 == 0         ? width
                                                         : height;
        if (!Coordinate(r, maskAt, i, scale, &c[i])) return kFailed;
      }
      if (shape == 1) {
        hit = c[0] <= x && c[1] <= y && x < c[2] && y < c[3];
      } else {
        const std::int64_t dx = x - c[0];
        const std::int64_t dy = y - c[1];
        hit = c[2] * c[2] >= dx * dx + dy * dy;
      }
    } else {
      std::uint32_t n = 0;
      if (!r.Number(&n)) return kFailed;
      const std::uint32_t maskAt = r.Position();
      if (!r.Skip((2 * n + 7) / 8)) return kFailed;
      // Every coordinate takes a byte at least: a count the list cannot
      // hold ends the walk before anything is allocated for it.
      if (2 * n > length - r.Position()) return kFailed;
      std::int64_t* xs = nullptr;
      if (IsFailure(Engine_AllocArray(2 * n + 1, &xs))) return kOutOfMemory;
      EngineBuffer<std::int64_t> owned(xs);
      std::int64_t* ys = xs + n;
      for (std::uint32_t i = 0; i < 2 * n; ++i) {
        std::int64_t v = 0;
        if (!Coordinate(r, maskAt, i, i % 2 == 0 ? width : height, &v)) return kFailed;
        (i % 2 == 0 ? xs : ys)[i / 2] = v;
      }
      hit = n >= 3 && InPolygon(xs, ys, n, x, y);
    }
    if (hit) {
      *target = t;
      return kDocImageMapHit;
    }
  }
  return kFailed;
}

// The area list of `image` in a held record: its bytes, or false when the
// record's lists run past it.
StatusCode FindList(const std::uint8_t* rec, std::uint32_t size, std::uint32_t first,
                    std::uint32_t image, const std::uint8_t** list, std::uint32_t* length) {
  const std::uint32_t d = rec[0];
  std::uint64_t at = std::uint64_t{d} + rec[d];
  for (std::uint32_t k = first;; ++k) {
    if (at >= size) return kDocMalformed;
    std::uint32_t n = rec[at++];
    if ((n & 0x80u) != 0) {
      if (at >= size) return kDocMalformed;
      n = (n & 0x7Fu) << 8 | rec[at++];
    }
    if (at + n > size) return kDocMalformed;
    if (k == image) {
      *list = rec + at;
      *length = n;
      return kOk;
    }
    at += n;
  }
}

}  // namespace

StatusCode NativeStore_ImageMapHit(NativeDocState* s, std::uint32_t image, std::int32_t x,
                                   std::int32_t y, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t* target) noexcept {
  if (s == nullptr || target == nullptr) return kBadArgument;
  if (s->recordCount == 0) return kFailed;
  const std::uint32_t start = s->record0.rangeStart[NativeRange::ImageMaps];
  const std::uint32_t count = s->record0.rangeCount[NativeRange::ImageMaps];
  std::uint32_t lo = 0;
  std::uint32_t hi = count;
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    if (start + mid >= s->recordCount) return kDocMalformed;
    std::uint32_t size = 0;
    const std::uint8_t* rec = nullptr;
    StatusCode r = NativeStore_FetchRecord(s->db, NativeRecordType::ImageMap,
                                           static_cast<std::uint16_t>(start + mid), &size, &rec);
    if (IsFailure(r)) return r;
    const std::uint32_t d = rec[0];
    if (d + 16 > size || d + rec[d] > size) {
      (void)NativeStore_ReleaseRecord(s->db, rec);  // the damage is the answer
      return kDocMalformed;
    }
    const std::uint32_t first = Be16(rec + d + 4);
    const std::uint32_t last = Be16(rec + d + 6);
    if (image < first) {
      hi = mid;
    } else if (image > last) {
      lo = mid + 1;
    } else {
      const std::uint8_t* list = nullptr;
      std::uint32_t length = 0;
      r = FindList(rec, size, first, image, &list, &length);
      if (!IsFailure(r)) r = HitList(list, length, x, y, width, height, target);
      const StatusCode released = NativeStore_ReleaseRecord(s->db, rec);
      return IsFailure(released) && r != kDocMalformed ? released : r;
    }
    r = NativeStore_ReleaseRecord(s->db, rec);
    if (IsFailure(r)) return r;
  }
  return kFailed;
}

std::uint16_t DocImage_BorderStyleCode(std::uint32_t style) noexcept {
  switch (style) {
    case 16:
      return 1;
    case 32:
      return 2;
    case 48:
      return 3;
    case 64:
      return 4;
    case 80:
      return 5;
    case 96:
      return 6;
    case 128:
      return 8;
    default:
      return 7;
  }
}

namespace {

// A length of one byte below 0xF0, else 12 bits over two bytes.
bool TileLength(const std::uint8_t* rec, std::uint32_t size, std::uint64_t* at,
                std::uint32_t* length) {
  if (*at >= size) return false;
  const std::uint32_t first = rec[(*at)++];
  if (first < 0xF0) {
    *length = first;
  } else {
    if (*at >= size) return false;
    *length = (first & 0x0Fu) << 8 | rec[(*at)++];
  }
  return *at + *length <= size;
}

}  // namespace

StatusCode DocImage_LoadDctTables(DctImageDecoder* decoder, const std::uint8_t* record,
                                  std::uint32_t size, std::uint32_t headerAt,
                                  NativeDctImage* image) noexcept {
  if (decoder == nullptr || record == nullptr || image == nullptr) return kBadArgument;
  if (std::uint64_t{headerAt} + 14 >= size) return kDocMalformed;
  const std::uint8_t* h = record + headerAt;
  const std::uint32_t g = h[0];
  const bool grey = (h[1] & 2u) != 0;
  if (g < 12 || (h[1] & 1u) == 0 || h[2] > 100) return kDocMalformed;
  std::uint64_t at = std::uint64_t{headerAt} + g;
  for (std::uint32_t set = 0; set < (grey ? 1u : 2u); ++set) {
    std::uint32_t length = 0;
    if (!TileLength(record, size, &at, &length)) return kDocMalformed;
    if (IsFailure(DctImage_SetHuffmanTables(decoder, set, record + at, length, nullptr)))
      return kDocMalformed;
    if (IsFailure(DctImage_SetQuality(decoder, set, h[2]))) return kDocMalformed;
    at += length;
  }
  image->width = Be16(h + 4);
  image->height = Be16(h + 6);
  image->grey = grey;
  return kOk;
}

StatusCode DocImage_DecodeDctTiles(DctImageDecoder* decoder, const std::uint8_t* record,
                                   std::uint32_t size, std::uint32_t headerAt,
                                   const NativeDctImage& image, std::int32_t left, std::int32_t top,
                                   std::int32_t right, std::int32_t bottom, bool withChroma,
                                   DctTile* tile, NativeTileSink sink, void* user) noexcept {
  if (decoder == nullptr || record == nullptr || tile == nullptr || sink == nullptr)
    return kBadArgument;
  if (std::uint64_t{headerAt} + 10 > size) return kDocMalformed;
  std::uint64_t at = std::uint64_t{headerAt} + Be16(record + headerAt + 8);
  const std::uint32_t columns = (image.width + 31) / 32;
  const std::uint32_t rows = (image.height + 31) / 32;
  for (std::uint32_t ty = 0; ty < rows; ++ty) {
    for (std::uint32_t tx = 0; tx < columns; ++tx) {
      std::uint32_t lumaLength = 0;
      if (!TileLength(record, size, &at, &lumaLength)) return kDocMalformed;
      const std::uint64_t lumaAt = at;
      at += lumaLength;
      std::uint32_t chromaLength = 0;
      std::uint64_t chromaAt = at;
      if (!image.grey) {
        if (!TileLength(record, size, &at, &chromaLength)) return kDocMalformed;
        chromaAt = at;
        at += chromaLength;
      }
      // Every tile's lengths are read, drawn or not, so the next tile is
      // found where it lies.
      const std::int64_t x0 = 32 * std::int64_t{tx};
      const std::int64_t y0 = 32 * std::int64_t{ty};
      if (x0 + 32 <= left || x0 >= right || y0 + 32 <= top || y0 >= bottom) continue;
      const std::uint32_t w = image.width - 32 * tx < 32 ? image.width - 32 * tx : 32;
      const std::uint32_t h = image.height - 32 * ty < 32 ? image.height - 32 * ty : 32;
      const std::uint32_t blockRows = (h + 7) / 8;
      const std::uint32_t blockCols = (w + 7) / 8;
      if (IsFailure(DctImage_Decode(decoder, record + lumaAt, lumaLength, blockRows, blockCols,
                                    false, tile)))
        return kDocMalformed;
      if (!image.grey && withChroma &&
          IsFailure(DctImage_Decode(decoder, record + chromaAt, chromaLength, (blockRows + 1) / 2,
                                    (blockCols + 1) / 2, true, tile)))
        return kDocMalformed;
      const StatusCode r = sink(user, tx, ty, *tile, w, h);
      if (IsFailure(r)) return r;
    }
  }
  return kOk;
}

namespace {

constexpr std::uint32_t kImageTable = 9;
constexpr std::uint32_t kBorderTable = 5;
constexpr std::uint32_t kColourTable = 1;
constexpr std::uint8_t kHiddenBorder = 144;

bool Doubled(const NativeDocState& s) {
  return (s.settings.flags & DocFlag::DoubleImages) != 0;
}

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

// The border item of the character format at position: the third number
// of its table-7 item (part-1 byte 2 + 256 * part-2 byte 0); 0 without one.
StatusCode BorderItemAt(NativeDocState* s, std::uint32_t position, std::uint32_t* item) {
  *item = 0;
  std::uint32_t value = 0;
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  StatusCode r = NativeStore_SeekRun(s, NativeRange::RunList1, position, &value, &start, &end);
  if (IsFailure(r)) return r;
  if (r != kOk) return kOk;
  NativeItem format{};
  r = NativeStore_ReadItem(s, 7, value, &format);
  if (IsFailure(r)) return r;
  *item = format.part[1][2] + 256u * format.part[2][0];
  return kOk;
}

// The pixel widths of the drawn sides (0: none) at position.
struct Borders {
  NativeBorderSide side[4];
  std::int16_t width[4];  // top, right, bottom, left
};

StatusCode BordersAt(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                     std::uint32_t position, Borders* b) {
  *b = Borders{};
  std::uint32_t item = 0;
  StatusCode r = BorderItemAt(s, position, &item);
  if (IsFailure(r)) return r;
  r = DocImage_ReadBorders(s, item, b->side);
  if (IsFailure(r)) return r;
  for (int i = 0; i < 4; ++i) {
    const NativeBorderSide& side = b->side[i];
    if (side.width == 0 || side.style == 0 || side.style == kHiddenBorder) continue;
    std::int16_t pixels = 0;
    if (IsFailure(DeviceOf(device).pointsToPixels(device, ctx, side.width, &pixels))) pixels = 0;
    b->width[i] = pixels;
  }
  return kOk;
}

// The unit of an axis of an item sized in document units.
std::uint32_t Unit(const NativeDocState& s, std::uint8_t steps) {
  return (Doubled(s) ? 2u : 1u) << (steps > 15 ? 15 : steps);
}

struct TileTarget {
  EngineObject* device;
  DeviceContext ctx;
  std::int16_t x;
  std::int16_t y;
  bool grey;
  bool doubled;
};

StatusCode DrawTile(void* user, std::uint32_t column, std::uint32_t row, const DctTile& tile,
                    std::uint32_t width, std::uint32_t height) noexcept {
  const auto& t = *static_cast<const TileTarget*>(user);
  if (t.grey) {
    auto& writable = const_cast<DctTile&>(tile);
    std::memset(writable.cb, 128, sizeof writable.cb);
    std::memset(writable.cr, 128, sizeof writable.cr);
  }
  const DevicePlanarImage image{static_cast<std::int16_t>(width),
                                static_cast<std::int16_t>(height),
                                static_cast<std::uint16_t>(kDctTileSize),
                                {tile.y, tile.cb, tile.cr}};
  const std::int64_t step = t.doubled ? 64 : 32;
  return DeviceOf(t.device).drawImage(t.device, t.ctx, Clamp16(t.x + step * column),
                                      Clamp16(t.y + step * row), DeviceImageKind::PlanarYCbCr,
                                      t.doubled ? kImageDoubleSize : 0, &image);
}

// Draws the pixels of item n at (x, y) within clip.
StatusCode DrawPixels(NativeDocState* s, EngineObject* device, DeviceContext ctx, std::int16_t x,
                      std::int16_t y, std::uint32_t n, const DeviceRect& clip) {
  NativeImageItem item{};
  StatusCode r = DocImage_ReadItem(s, n, &item);
  if (IsFailure(r)) return r;
  if (item.kind != 0 && item.kind != 2) return kOk;
  if (item.dataRecord == 0 || item.dataRecord >= s->recordCount) return kDocMalformed;
  std::uint32_t size = 0;
  const std::uint8_t* rec = nullptr;
  r = NativeStore_FetchRecord(s->db, NativeRecordType::DctImage, item.dataRecord, &size, &rec);
  if (IsFailure(r)) return r;
  const std::uint32_t at = (item.flags & 1u) != 0 ? rec[0] : item.headerOffset;
  const bool doubled = Doubled(*s);
  if (at >= size) {
    r = kDocMalformed;
  } else if (item.kind == 0) {
    const DevicePalmBitmap bitmap{rec + at, size - at};
    r = DeviceOf(device).drawImage(device, ctx, x, y, DeviceImageKind::PalmBitmap,
                                   doubled ? kImageDoubleSize : 0, &bitmap);
  } else {
    DctImageDecoder* decoder = nullptr;
    DctTile* tile = nullptr;
    if (IsFailure(Engine_AllocArray(1, &decoder)) || IsFailure(Engine_AllocArray(1, &tile))) {
      r = kOutOfMemory;
    } else {
      DctImage_Reset(decoder);
      NativeDctImage image{};
      r = DocImage_LoadDctTables(decoder, rec, size, at, &image);
      std::uint8_t depth = 24;
      if (IsFailure(DeviceOf(device).getProperty(device, DeviceInfo::Depth, &depth))) depth = 24;
      const std::int32_t scale = doubled ? 2 : 1;
      TileTarget target{device, ctx, x, y, image.grey || depth <= 4, doubled};
      if (!IsFailure(r)) {
        r = DocImage_DecodeDctTiles(decoder, rec, size, at, image, (clip.left - x) / scale,
                                    (clip.top - y) / scale, (clip.right - x + scale - 1) / scale,
                                    (clip.bottom - y + scale - 1) / scale, depth > 4, tile,
                                    DrawTile, &target);
      }
    }
    Engine_Free(tile);
    Engine_Free(decoder);
  }
  const StatusCode released = NativeStore_ReleaseRecord(s->db, rec);
  return IsFailure(r) ? r : released;
}

}  // namespace

StatusCode DocImage_ReadItem(NativeDocState* s, std::uint32_t n, NativeImageItem* out) noexcept {
  if (s == nullptr || out == nullptr) return kBadArgument;
  NativeItem it{};
  const StatusCode r = NativeStore_ReadItem(s, kImageTable, n, &it);
  if (IsFailure(r)) return r;
  const std::uint8_t* f = it.part[0];
  const std::uint8_t* p1 = it.part[1];
  const std::uint8_t* p2 = it.part[2];
  NativeImageItem item{};
  item.flags = f[0];
  item.kind = f[1];
  item.reference = Be16(f + 2);
  item.headerOffset = Be16(f + 4);
  item.width = f[6] + 256u * p1[0];
  item.height = f[7] + 256u * p1[1];
  item.xSteps = p1[2];
  item.ySteps = p1[3];
  item.dataRecord = Be16(p2);
  item.mapScale = p2[2];
  if (Doubled(*s)) {
    item.width *= 2;
    item.height *= 2;
  }
  *out = item;
  return kOk;
}

StatusCode DocImage_ReadBorders(NativeDocState* s, std::uint32_t n,
                                NativeBorderSide sides[4]) noexcept {
  if (s == nullptr || sides == nullptr) return kBadArgument;
  for (int i = 0; i < 4; ++i)
    sides[i] = NativeBorderSide{};
  if (n == 0) return kOk;
  NativeItem it{};
  const StatusCode r = NativeStore_ReadItem(s, kBorderTable, n, &it);
  if (IsFailure(r)) return r;
  const std::uint8_t* f = it.part[0];
  const std::uint8_t* p1 = it.part[1];
  const std::uint8_t* p2 = it.part[2];
  sides[0] = {static_cast<std::uint16_t>(f[1] + 256u * p1[1]), f[2], f[3]};
  for (int i = 1; i < 4; ++i) {
    sides[i] = sides[0];
    if (it.present[2]) sides[i].colour = Be16(p2 + 2 * (i - 1));
    if (it.present[1]) {
      sides[i].width = p1[1 + i];
      sides[i].style = p1[4 + i];
    }
  }
  return kOk;
}

StatusCode DocImage_GetDisplaySize(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                                   std::uint32_t position, std::uint32_t n, std::int16_t* width,
                                   std::int16_t* height) noexcept {
  if (s == nullptr || device == nullptr || width == nullptr || height == nullptr)
    return kBadArgument;
  NativeImageItem item{};
  StatusCode r = DocImage_ReadItem(s, n, &item);
  if (IsFailure(r)) return r;
  std::uint32_t w = item.width;
  std::uint32_t h = item.height;
  if ((w == 0 || h == 0) && item.kind == 1) {
    NativeImageItem referred{};
    r = DocImage_ReadItem(s, item.reference, &referred);
    if (IsFailure(r)) return r;
    if (w == 0) w = referred.width;
    if (h == 0) h = referred.height;
  }
  if (w == 0) w = 1;
  if (h == 0) h = 5;
  // Sizes in document units: the unit of each axis. No device here offers
  // a metric conversion, so device units equal the values as given.
  if ((item.flags & 1u) != 0) {
    w /= Unit(*s, item.xSteps);
    h /= Unit(*s, item.ySteps);
  }
  Borders b{};
  r = BordersAt(s, device, ctx, position, &b);
  if (IsFailure(r)) return r;
  *width = Clamp16(std::int64_t{w} + b.width[1] + b.width[3]);
  *height = Clamp16(std::int64_t{h} + b.width[0] + b.width[2]);
  return kOk;
}

StatusCode DocImage_DrawImageObject(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                                    LineMetrics* metrics, std::int16_t x, std::int16_t y,
                                    std::uint32_t position, std::uint32_t n) noexcept {
  if (s == nullptr || device == nullptr || metrics == nullptr) return kBadArgument;
  // 1. The item and the one displayed.
  NativeImageItem item{};
  StatusCode r = DocImage_ReadItem(s, n, &item);
  if (IsFailure(r)) return r;
  NativeImageItem shown = item;
  std::uint32_t shownNumber = n;
  if (item.kind == 1) {
    shownNumber = item.reference;
    r = DocImage_ReadItem(s, shownNumber, &shown);
    if (IsFailure(r)) return r;
  }
  const bool grid = (shown.flags & 1u) != 0;
  std::uint32_t w = grid ? shown.width : item.width;
  std::uint32_t h = grid ? shown.height : item.height;
  if (!grid && h == 0 && item.kind == 1) h = shown.height;
  // 2. The grid's units and tile counts.
  const std::uint32_t unitX = grid ? Unit(*s, shown.xSteps) : 1;
  const std::uint32_t unitY = grid ? Unit(*s, shown.ySteps) : 1;
  const std::uint32_t columns = grid ? w / unitX + (w % unitX != 0 ? 1 : 0) : 1;
  const std::uint32_t rows = grid ? h / unitY + (h % unitY != 0 ? 1 : 0) : 1;
  // 3. Borders; the box's bottom on the baseline.
  Borders b{};
  r = BordersAt(s, device, ctx, position, &b);
  if (IsFailure(r)) return r;
  const std::int64_t boxW = std::int64_t{b.width[3]} + w + b.width[1];
  const std::int64_t boxH = std::int64_t{b.width[0]} + h + b.width[2];
  const std::int64_t top = std::int64_t{y} + metrics->ascent - boxH;
  const std::int64_t left = x;
  // 4. The bordered sides as filled rectangles.
  NativeCharFormat format{};
  (void)NativeStore_GetCharFormat(s, position, &format, nullptr);  // defaults on failure
  const std::int64_t rects[4][4] = {
      {left, top, left + boxW, top + b.width[0]},
      {left + b.width[3] + w, top + b.width[0], left + boxW, top + b.width[0] + h},
      {left, top + b.width[0] + h, left + boxW, top + boxH},
      {left, top + b.width[0], left + b.width[3], top + b.width[0] + h}};
  for (int i = 0; i < 4 && !IsFailure(r); ++i) {
    if (b.width[i] == 0) continue;
    DeviceColour colour{0, 0, 0};
    if ((format.style & NativeStyle::Foreground) != 0)
      colour = {format.foreground[0], format.foreground[1], format.foreground[2]};
    if (b.side[i].colour != 0) {
      NativeItem c{};
      if (!IsFailure(NativeStore_ReadItem(s, kColourTable, b.side[i].colour, &c)))
        colour = {c.part[0][1], c.part[0][2], c.part[0][3]};
    }
    r = DeviceOf(device).drawRule(device, ctx, Clamp16(rects[i][0]), Clamp16(rects[i][1]),
                                  Clamp16(rects[i][2]), Clamp16(rects[i][3]),
                                  DocImage_BorderStyleCode(b.side[i].style), 0, &colour);
  }
  metrics->width = Clamp16(boxW);
  metrics->height = Clamp16(boxH);
  if (IsFailure(r)) return r;
  // 5. Pixels for raw bitmaps and DCT images only, within the clip box.
  if (shown.kind != 0 && shown.kind != 2) return kOk;
  std::int16_t usableW = 0;
  std::int16_t usableH = 0;
  r = DeviceOf(device).getProperty(device, DeviceInfo::UsableWidth, &usableW);
  if (!IsFailure(r)) r = DeviceOf(device).getProperty(device, DeviceInfo::Height, &usableH);
  if (IsFailure(r)) return r;
  DeviceRect clip{};
  if (IsFailure(
          DeviceOf(device).surfaceCommand(device, ctx, &clip, nullptr, DeviceSurface::GetClip)))
    clip = {0, 0, usableW, usableH};
  const std::int64_t originX = left + b.width[3];
  const std::int64_t originY = top + b.width[0];
  // 6. One image.
  if (!grid)
    return DrawPixels(s, device, ctx, Clamp16(originX), Clamp16(originY), shownNumber, clip);
  // 7. A grid of tile images numbered from the reference upwards.
  std::uint32_t number = shown.reference;
  for (std::uint32_t row = 0; row < rows; ++row, number += columns) {
    const std::int64_t rowTop = originY + std::int64_t{row} * unitY;
    if (rowTop + unitY <= clip.top) continue;
    if (rowTop >= clip.bottom) break;
    for (std::uint32_t column = 0; column < columns; ++column) {
      const std::int64_t tileLeft = originX + std::int64_t{column} * unitX;
      if (tileLeft + unitX <= clip.left) continue;
      if (tileLeft >= clip.right) break;
      r = DrawPixels(s, device, ctx, Clamp16(tileLeft), Clamp16(rowTop), number + column, clip);
      if (IsFailure(r)) return r;
    }
  }
  return kOk;
}
