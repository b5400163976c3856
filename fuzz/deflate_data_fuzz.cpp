// Reads a code table and decodes blocks of DEFLATE-coded document data from
// arbitrary bytes: byte 0 gives the table's word count, bytes 1-2 the
// capacity; the table words follow, then the block words.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/codecs/deflate_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || size > 0x10000) return 0;
  const std::uint32_t words = static_cast<std::uint32_t>((size - 3) / 4);
  const std::uint32_t tableWords = std::min<std::uint32_t>(data[0], words);
  const auto capacity = static_cast<std::uint16_t>(((data[1] << 8) | data[2]) % 4097);
  const std::uint8_t* table = data + 3;
  const std::uint8_t* block = table + 4 * tableWords;
  DeflateDataDecoder decoder{};
  std::vector<std::uint8_t> out(capacity);
  std::uint16_t length = 0xFFFF;
  if (DeflateData_ReadTables(&decoder, table, tableWords) != kOk) {
    if (decoder.status < 1 || decoder.status > 6) std::abort();
  }
  // Decoding runs with or without a table: without one it must fail cleanly.
  const StatusCode s =
      DeflateData_DecodeBlock(&decoder, block, words - tableWords, out.data(), capacity, &length);
  if (length > capacity) std::abort();
  if (s == kOk && decoder.status != 0) std::abort();
  if (s != kOk && decoder.status == 0 && length != capacity) std::abort();
  // The same block again gives the same answer (the table is not changed).
  std::vector<std::uint8_t> again(capacity);
  std::uint16_t length2 = 0;
  if (DeflateData_DecodeBlock(&decoder, block, words - tableWords, again.data(), capacity,
                              &length2) != s ||
      length2 != length || !std::equal(again.begin(), again.begin() + length2, out.begin())) {
    std::abort();
  }
  return 0;
}
