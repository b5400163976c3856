// Decodes arbitrary bytes as a PalmDoc-compressed record into a buffer whose
// capacity comes from the input, and checks that both passes agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/formats/palm_lz77.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 0x10000) return 0;
  const std::uint32_t capacity = (std::uint32_t{data[0]} << 5) | (data[1] & 31u);
  std::vector<std::uint8_t> buffer(capacity);
  std::uint32_t decoded = 0, measured = 0;
  const auto n = static_cast<std::uint32_t>(size - 2);
  const StatusCode d = PalmDocLz_Decode(data + 2, n, buffer.data(), capacity, &decoded);
  const StatusCode m = PalmDocLz_MeasureRecord(data + 2, n, &measured);
  if (d != m || (d == kOk && decoded != measured)) std::abort();
  return 0;
}
