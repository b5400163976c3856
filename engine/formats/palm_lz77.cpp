#include "engine/formats/palm_lz77.h"

#include <algorithm>
#include <cstring>

namespace {

// Whole record decoded into a buffer that still has room for the largest
// token (10 bytes out) and a record that still holds the largest token (9
// bytes in): no bound checks but the distance. Returns at the first token that
// does not fit either way, or at a bad distance (*bad set).
void DecodeFast(const std::uint8_t* in, std::uint32_t size, std::uint32_t& i, std::uint8_t* out,
                std::uint32_t capacity, std::uint32_t& pos, bool& bad) noexcept {
  while (i + 9 <= size && pos + kPalmLzMaxMatch <= capacity) {
    const std::uint8_t c = in[i++];
    if (c < 0x80) {
      if (c >= 1 && c <= 8) {
        std::memcpy(out + pos, in + i, c);
        i += c;
        pos += c;
      } else {
        out[pos++] = c;
      }
    } else if (c < 0xC0) {
      const std::uint8_t d = in[i++];
      const std::uint32_t distance = (std::uint32_t{c & 0x3Fu} << 5) | (d >> 3);
      const std::uint32_t n = (d & 7u) + 3;
      if (distance == 0 || distance > pos) {
        bad = true;
        return;
      }
      const std::uint8_t* from = out + pos - distance;
      std::uint8_t* to = out + pos;
      if (distance >= n) {
        std::memcpy(to, from, n);
      } else {
        for (std::uint32_t k = 0; k < n; ++k)
          to[k] = from[k];
      }
      pos += n;
    } else {
      out[pos++] = ' ';
      out[pos++] = static_cast<std::uint8_t>(c & 0x7F);
    }
  }
}

// The careful general loop of both passes. `produced` counts every decoded
// byte; bytes are written only below the capacity. Back references are
// checked against the count of bytes produced, so a copy's source always lies
// inside what was decoded, and below the capacity whenever anything is
// still written.
template <bool kWrite>
StatusCode Run(const std::uint8_t* in, std::uint32_t size, std::uint8_t* out,
               std::uint32_t capacity, std::uint32_t* length) noexcept {
  if (length == nullptr) return kNullOutPointer;
  if (in == nullptr && size != 0) return kBadArgument;
  if (kWrite && out == nullptr && capacity != 0) return kBadArgument;
  std::uint32_t i = 0;
  std::uint32_t pos = 0;
  if constexpr (kWrite) {
    bool bad = false;
    DecodeFast(in, size, i, out, capacity, pos, bad);
    if (bad) return kMalformed;
  }
  // Every two input bytes yield at most ten output bytes, so the count fits
  // in 64 bits for any 32-bit record size.
  std::uint64_t produced = pos;
  auto put = [&](std::uint8_t b) {
    if constexpr (kWrite) {
      if (produced < capacity) out[produced] = b;
    }
    ++produced;
  };
  while (i < size) {
    const std::uint8_t c = in[i++];
    if (c >= 1 && c <= 8) {
      const std::uint32_t n = std::min<std::uint32_t>(c, size - i);
      if constexpr (kWrite) {
        if (produced < capacity) {
          const auto room = static_cast<std::uint32_t>(capacity - produced);
          std::memcpy(out + produced, in + i, std::min(n, room));
        }
      }
      produced += n;
      i += n;
    } else if (c < 0x80) {
      put(c);
    } else if (c < 0xC0) {
      if (i == size) break;  // the second byte is missing: the record ends here
      const std::uint8_t d = in[i++];
      const std::uint32_t distance = (std::uint32_t{c & 0x3Fu} << 5) | (d >> 3);
      const std::uint32_t n = (d & 7u) + 3;
      if (distance == 0 || distance > produced) return kMalformed;
      if constexpr (kWrite) {
        for (std::uint64_t k = 0; k < n && produced + k < capacity; ++k)
          out[produced + k] = out[produced + k - distance];
      }
      produced += n;
    } else {
      put(' ');
      put(static_cast<std::uint8_t>(c & 0x7F));
    }
  }
  if (produced > 0xFFFFFFFFu) return kMalformed;
  *length = static_cast<std::uint32_t>(produced);
  return kOk;
}

}  // namespace

StatusCode PalmDocLz_MeasureRecord(const std::uint8_t* data, std::uint32_t size,
                                   std::uint32_t* length) noexcept {
  return Run<false>(data, size, nullptr, 0, length);
}

StatusCode PalmDocLz_Decode(const std::uint8_t* data, std::uint32_t size, std::uint8_t* buffer,
                            std::uint32_t capacity, std::uint32_t* length) noexcept {
  return Run<true>(data, size, buffer, capacity, length);
}
