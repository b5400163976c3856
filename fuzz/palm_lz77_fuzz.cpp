// Decodes arbitrary bytes as a PalmDoc-compressed record through every
// decoder path, into a buffer whose capacity comes from the input and into
// one of exactly the decoded length (where the fast paths must stop their
// 16-byte writes at the buffer's end): both passes of each path agree, and
// every path gives the portable path's status, length and bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "engine/formats/palm_lz77.h"
#include "engine/formats/palm_lz77_internal.h"

namespace {

// Every path against the portable one with a buffer of `capacity` bytes;
// answers the portable path's status and decoded length.
StatusCode CheckPaths(const std::uint8_t* in, std::uint32_t n, std::uint32_t capacity,
                      std::uint32_t& want) {
  std::vector<std::uint8_t> portable(capacity);
  const StatusCode s =
      PalmDocLz_DecodeWith(PalmLzPath::kPortable, in, n, portable.data(), capacity, &want);
  for (const PalmLzPath path :
       {PalmLzPath::kPortable, PalmLzPath::kWords, PalmLzPath::kSse2, PalmLzPath::kAvx2}) {
    std::vector<std::uint8_t> buffer(capacity);
    std::uint32_t decoded = 0, measured = 0;
    const StatusCode d = PalmDocLz_DecodeWith(path, in, n, buffer.data(), capacity, &decoded);
    const StatusCode m = PalmDocLz_MeasureWith(path, in, n, &measured);
    if (d != m || d != s || (d == kOk && (decoded != measured || decoded != want))) std::abort();
    const std::uint32_t written = d == kOk ? (decoded < capacity ? decoded : capacity) : 0;
    if (written != 0 && std::memcmp(buffer.data(), portable.data(), written) != 0) std::abort();
  }
  std::uint32_t length = 0;
  std::vector<std::uint8_t> buffer(capacity);
  if (PalmDocLz_Decode(in, n, buffer.data(), capacity, &length) != s) std::abort();
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 0x10000) return 0;
  const std::uint32_t capacity = (std::uint32_t{data[0]} << 5) | (data[1] & 31u);
  const auto n = static_cast<std::uint32_t>(size - 2);
  std::uint32_t want = 0;
  if (CheckPaths(data + 2, n, capacity, want) == kOk && want != capacity) {
    std::uint32_t again = 0;
    if (CheckPaths(data + 2, n, want, again) != kOk || again != want) std::abort();
  }
  return 0;
}
