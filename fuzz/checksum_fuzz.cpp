// Adler-32 of arbitrary bytes through every path this machine has, from any
// start and with the seed taken from the input, against the byte loop; and
// in two pieces against one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "engine/runtime/checksum_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5 || size > (1u << 20)) return 0;
  std::uint32_t seed;
  std::memcpy(&seed, data, 4);
  const std::uint8_t* p = data + 4;
  const auto n = static_cast<std::uint32_t>(size - 4);
  const std::uint32_t want = Checksum_Adler32Portable(p, n, seed);
  const std::uint32_t cut = data[4] % (n + 1);
  for (const ChecksumAdlerPath path :
       {ChecksumAdlerPath::kPortable, ChecksumAdlerPath::kSse2, ChecksumAdlerPath::kAvx2}) {
    if (!Checksum_HaveAdler32Path(path)) continue;
    if (Checksum_Adler32With(path, p, n, seed) != want) std::abort();
    const std::uint32_t first = Checksum_Adler32With(path, p, cut, seed);
    if (n != 0 && Checksum_Adler32With(path, p + cut, n - cut, first) != want) std::abort();
  }
  return 0;
}
