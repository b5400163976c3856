// Reads a code table and decodes tiles from arbitrary bytes: byte 0 picks
// luminance or chroma and the block counts, byte 1 the quality; the rest is
// the table followed by the coefficient stream. Every call must answer a
// documented status and stay inside its input and tile, and every decoder
// path must give the portable path's status and samples.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "engine/codecs/dct.h"
#include "engine/codecs/dct_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > (1u << 16)) return 0;
  static DctImageDecoder decoder;
  static DctTile tile;
  static DctTile other;
  DctImage_Reset(&decoder);
  const bool chroma = (data[0] & 1u) != 0;
  const std::uint32_t most = chroma ? 2 : 4;
  const std::uint32_t rows = 1 + (data[0] >> 1) % most;
  const std::uint32_t cols = 1 + (data[0] >> 4) % most;
  const std::uint32_t set = chroma ? 1 : 0;
  if (DctImage_SetQuality(&decoder, set, data[1] % 101u) != kOk) std::abort();
  std::uint32_t used = 0;
  const std::uint8_t* rest = data + 2;
  const auto length = static_cast<std::uint32_t>(size - 2);
  const StatusCode t = DctImage_SetHuffmanTables(&decoder, set, rest, length, &used);
  if (t != kOk) {
    if (t != kFailed || decoder.status == DctStatus::Ok) std::abort();
    return 0;
  }
  if (used > length) std::abort();
  std::memset(&tile, 0, sizeof tile);
  const StatusCode r = DctImage_DecodeWith(DctPath::kPortable, &decoder, rest + used, length - used,
                                           rows, cols, chroma, &tile);
  if (r != kOk && !(r == kFailed && decoder.status == DctStatus::BadCoefficients)) std::abort();
  for (const DctPath path : {DctPath::kSse2, DctPath::kAvx2}) {
    std::memset(&other, 0, sizeof other);
    if (DctImage_DecodeWith(path, &decoder, rest + used, length - used, rows, cols, chroma,
                            &other) != r ||
        std::memcmp(&tile, &other, sizeof tile) != 0) {
      std::abort();
    }
  }
  return 0;
}
