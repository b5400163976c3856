// Reads a code table and decodes tiles from arbitrary bytes: byte 0 picks
// luminance or chroma and the block counts, byte 1 the quality; the rest is
// the table followed by the coefficient stream. Every call must answer a
// documented status and stay inside its input and tile.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/codecs/dct.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > (1u << 16)) return 0;
  static DctImageDecoder decoder;
  static DctTile tile;
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
  const StatusCode r =
      DctImage_Decode(&decoder, rest + used, length - used, rows, cols, chroma, &tile);
  if (r != kOk && !(r == kFailed && decoder.status == DctStatus::BadCoefficients)) std::abort();
  return 0;
}
