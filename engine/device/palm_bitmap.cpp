#include "engine/device/palm_bitmap.h"

#include <array>
#include <cstring>
#include <utility>

namespace {

std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

constexpr std::uint32_t Grey(std::uint32_t v) {
  return 0xFF000000u | (v << 16) | (v << 8) | v;
}

constexpr std::array<std::uint32_t, 256> MakeSystemPalette() {
  std::array<std::uint32_t, 256> palette{};
  constexpr std::uint32_t kBlue[2][3] = {{255, 204, 153}, {102, 51, 0}};
  std::uint32_t i = 0;
  for (int half = 0; half < 2; ++half)
    for (std::uint32_t r = 0; r < 6; ++r)
      for (std::uint32_t b = 0; b < 3; ++b)
        for (std::uint32_t g = 0; g < 6; ++g) {
          if (i == 215) break;  // the final black is left out
          palette[i++] =
              0xFF000000u | ((255 - 51 * r) << 16) | ((255 - 51 * g) << 8) | kBlue[half][b];
        }
  constexpr std::uint32_t kGreys[10] = {17, 34, 68, 85, 119, 136, 170, 187, 221, 238};
  for (std::uint32_t g : kGreys)
    palette[i++] = Grey(g);
  palette[i++] = Grey(192);
  palette[i++] = 0xFF800000u;
  palette[i++] = 0xFF800080u;
  palette[i++] = 0xFF008000u;
  palette[i++] = 0xFF008080u;
  while (i < 256)
    palette[i++] = 0xFF000000u;
  return palette;
}

constexpr std::array<std::uint32_t, 256> kSystemPalette = MakeSystemPalette();

// Reads forward through [pos, end) of the record; every read is checked.
struct Reader {
  const std::uint8_t* data;
  std::uint32_t pos;
  std::uint32_t end;
  std::uint32_t Left() const { return end - pos; }
  bool Byte(std::uint8_t* v) {
    if (pos >= end) return false;
    *v = data[pos++];
    return true;
  }
  bool Skip(std::uint32_t n) {
    if (n > Left()) return false;
    pos += n;
    return true;
  }
};

struct Member {
  std::uint32_t offset;
  std::uint16_t width, height, rowBytes, flags;
  std::uint8_t pixelSize, version, compression;
  std::uint16_t next;
};

Member ReadMember(const std::uint8_t* data, std::uint32_t offset) {
  const std::uint8_t* h = data + offset;
  return {offset, Be16(h), Be16(h + 2), Be16(h + 4), Be16(h + 6), h[8], h[9], h[13], Be16(h + 10)};
}

// One row of rowBytes bytes into `row`; `above` is the previous row (zeros
// before the first).
bool DecodeRow(Reader& in, std::uint8_t compression, std::uint32_t unit, std::uint8_t* row,
               const std::uint8_t* above, std::uint32_t rowBytes) {
  switch (compression) {
    case PalmCompression::ScanLine:
      for (std::uint32_t col = 0; col < rowBytes; col += 8) {
        std::uint8_t flags = 0;
        if (!in.Byte(&flags)) return false;
        for (std::uint32_t i = 0; i < 8 && col + i < rowBytes; ++i) {
          if (flags & (0x80u >> i)) {
            if (!in.Byte(&row[col + i])) return false;
          } else {
            row[col + i] = above[col + i];
          }
        }
      }
      return true;
    case PalmCompression::Rle: {
      std::uint32_t filled = 0;
      while (filled < rowBytes) {
        std::uint8_t count = 0, value = 0;
        if (!in.Byte(&count) || !in.Byte(&value)) return false;
        if (count > rowBytes - filled) return false;  // a run never spans rows
        std::memset(row + filled, value, count);
        filled += count;
      }
      return true;
    }
    case PalmCompression::PackBits: {
      std::uint32_t filled = 0;
      while (filled < rowBytes) {
        std::uint8_t control = 0;
        if (!in.Byte(&control)) return false;
        if (control >= 128) {
          const std::uint32_t repeats = 1 + (256u - control);
          if (in.Left() < unit || repeats * unit > rowBytes - filled) return false;
          for (std::uint32_t r = 0; r < repeats; ++r, filled += unit)
            std::memcpy(row + filled, in.data + in.pos, unit);
          in.pos += unit;
        } else {
          const std::uint32_t bytes = (control + 1u) * unit;
          if (in.Left() < bytes || bytes > rowBytes - filled) return false;
          std::memcpy(row + filled, in.data + in.pos, bytes);
          in.pos += bytes;
          filled += bytes;
        }
      }
      return true;
    }
    default:  // stored plainly
      if (in.Left() < rowBytes) return false;
      std::memcpy(row, in.data + in.pos, rowBytes);
      in.pos += rowBytes;
      return true;
  }
}

std::uint32_t Widen5(std::uint32_t x) {
  return x * 8 + x % 8;
}
std::uint32_t Widen6(std::uint32_t g) {
  return g * 4 + g % 4;
}

void ConvertRow(const std::uint8_t* row, std::uint32_t depth, std::uint32_t width,
                std::uint32_t* out) {
  static constexpr std::uint32_t kGrey2[4] = {Grey(255), Grey(170), Grey(85), Grey(0)};
  for (std::uint32_t x = 0; x < width; ++x) {
    switch (depth) {
      case 1:
        out[x] = (row[x >> 3] & (0x80u >> (x & 7))) ? Grey(0) : Grey(255);
        break;
      case 2:
        out[x] = kGrey2[(row[x >> 2] >> (6 - 2 * (x & 3))) & 3];
        break;
      case 4:
        out[x] = Grey(255 - 17 * ((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15));
        break;
      case 8:
        out[x] = kSystemPalette[row[x]];
        break;
      default: {
        const std::uint32_t v = Be16(row + 2 * x);
        out[x] =
            0xFF000000u | (Widen5(v >> 11) << 16) | (Widen6((v >> 5) & 63) << 8) | Widen5(v & 31);
        break;
      }
    }
  }
}

}  // namespace

std::uint32_t PalmBitmap_SystemColour(std::uint8_t index) noexcept {
  return kSystemPalette[index];
}

StatusCode PalmBitmap_Decode(const std::uint8_t* data, std::uint32_t size,
                             PalmBitmapImage* out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (data == nullptr || size < kPalmBitmapHeaderSize) return kMalformed;
  Member m = ReadMember(data, 0);
  if (m.version >= 2) {
    if (m.pixelSize > 16) return kNoMore;
    // Follow the family to the deepest member of at most 16 bits. Offsets
    // only move forward, so the walk ends; a link out of the record ends it.
    while (m.next != 0) {
      const std::uint64_t at = std::uint64_t{m.offset} + 4u * std::uint64_t{m.next};
      if (at + kPalmBitmapHeaderSize > size) break;
      if (data[at + 8] > 16) break;
      m = ReadMember(data, static_cast<std::uint32_t>(at));
    }
  }
  std::uint32_t depth = 1;
  if (m.version == 1) depth = m.pixelSize == 0 ? 1 : m.pixelSize;
  if (m.version >= 2) depth = m.pixelSize;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return kNoMore;

  Reader in{data, m.offset + kPalmBitmapHeaderSize, size};
  if (m.flags & PalmBitmapFlags::ColourTable) {
    if (in.Left() < 2) return kMalformed;
    const std::uint32_t entries = Be16(data + in.pos);
    if (!in.Skip(2) || !in.Skip(4 * entries)) return kMalformed;
  }
  if ((m.flags & PalmBitmapFlags::DirectColour) && !in.Skip(8)) return kMalformed;
  std::uint8_t compression = PalmCompression::None;
  if (m.flags & PalmBitmapFlags::Compressed) {
    compression = m.version >= 2 ? m.compression : PalmCompression::ScanLine;
    if (compression != PalmCompression::ScanLine && compression != PalmCompression::Rle &&
        compression != PalmCompression::PackBits && compression != PalmCompression::None)
      return kNoMore;
    if (!in.Skip(2)) return kMalformed;  // the compressed size; the record end bounds us
  }

  const std::uint32_t width = m.width, height = m.height, rowBytes = m.rowBytes;
  if (width > kPalmBitmapMaxSide || height > kPalmBitmapMaxSide) return kMalformed;
  if (rowBytes < (width * depth + 7) / 8) return kMalformed;
  if (width == 0 || height == 0) {
    out->width = static_cast<std::uint16_t>(width);
    out->height = static_cast<std::uint16_t>(height);
    out->pixels.reset();
    return kOk;
  }
  // The least input the rows can come from, so that a short record cannot
  // make us allocate and fill a large picture.
  std::uint64_t least = 0;
  switch (compression) {
    case PalmCompression::ScanLine:
      least = std::uint64_t{height} * ((rowBytes + 7) / 8);
      break;
    case PalmCompression::Rle:
      least = std::uint64_t{height} * 2 * ((rowBytes + 254) / 255);
      break;
    case PalmCompression::PackBits:
      least = std::uint64_t{height} * 2 * ((rowBytes + 257) / 258);
      break;
    default:
      least = std::uint64_t{height} * rowBytes;
      break;
  }
  if (least > in.Left()) return kMalformed;
  if (depth == 16 && compression == PalmCompression::PackBits && (rowBytes & 1)) return kMalformed;

  EngineBuffer<std::uint8_t> rows;
  {
    std::uint8_t* p = nullptr;
    if (Engine_AllocArray(2 * rowBytes, &p) != kOk) return kOutOfMemory;
    rows.reset(p);
  }
  std::uint8_t* above = rows.get();
  std::uint8_t* row = rows.get() + rowBytes;
  std::memset(above, 0, rowBytes);
  EngineBuffer<std::uint32_t> pixels;
  {
    std::uint32_t* p = nullptr;
    if (Engine_AllocArray(width * height, &p) != kOk) return kOutOfMemory;
    pixels.reset(p);
  }
  const std::uint32_t unit = depth == 16 ? 2 : 1;
  for (std::uint32_t y = 0; y < height; ++y) {
    if (!DecodeRow(in, compression, unit, row, above, rowBytes)) return kMalformed;
    ConvertRow(row, depth, width, pixels.get() + std::size_t{y} * width);
    std::swap(row, above);
  }
  out->width = static_cast<std::uint16_t>(width);
  out->height = static_cast<std::uint16_t>(height);
  out->pixels = std::move(pixels);
  return kOk;
}
