// Decodes arbitrary bytes as a PalmDoc-compressed record into a buffer whose
// capacity comes from the input, through every decoder path: both passes of
// each path agree, and every path gives the portable path's status, length
// and bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "engine/formats/palm_lz77.h"
#include "engine/formats/palm_lz77_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 0x10000) return 0;
  const std::uint32_t capacity = (std::uint32_t{data[0]} << 5) | (data[1] & 31u);
  const auto n = static_cast<std::uint32_t>(size - 2);
  std::vector<std::uint8_t> portable(capacity);
  std::uint32_t want = 0;
  const StatusCode s =
      PalmDocLz_DecodeWith(PalmLzPath::kPortable, data + 2, n, portable.data(), capacity, &want);
  for (const PalmLzPath path :
       {PalmLzPath::kPortable, PalmLzPath::kWords, PalmLzPath::kSse2, PalmLzPath::kAvx2}) {
    std::vector<std::uint8_t> buffer(capacity);
    std::uint32_t decoded = 0, measured = 0;
    const StatusCode d = PalmDocLz_DecodeWith(path, data + 2, n, buffer.data(), capacity, &decoded);
    const StatusCode m = PalmDocLz_MeasureWith(path, data + 2, n, &measured);
    if (d != m || d != s || (d == kOk && (decoded != measured || decoded != want))) std::abort();
    const std::uint32_t written = d == kOk ? (decoded < capacity ? decoded : capacity) : 0;
    if (written != 0 && std::memcmp(buffer.data(), portable.data(), written) != 0) std::abort();
  }
  std::uint32_t length = 0;
  std::vector<std::uint8_t> buffer(capacity);
  if (PalmDocLz_Decode(data + 2, n, buffer.data(), capacity, &length) != s) std::abort();
  return 0;
}
