// Reads a code table and decodes blocks of DEFLATE-coded document data from
// arbitrary bytes: byte 0 gives the table's word count, bytes 1-2 the
// capacity; the table words follow, then the block words. The block is
// decoded with the fast loop and with the careful loop alone: answers,
// statuses and every byte of the buffer (also past the length) must agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "engine/codecs/deflate_common.h"
#include "engine/codecs/deflate_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || size > 0x10000) return 0;
  const std::uint32_t words = static_cast<std::uint32_t>((size - 3) / 4);
  const std::uint32_t tableWords = std::min<std::uint32_t>(data[0], words);
  const auto capacity = static_cast<std::uint16_t>(((data[1] << 8) | data[2]) % 4097);
  const std::uint8_t* table = data + 3;
  const std::uint8_t* block = table + 4 * tableWords;
  static DeflateDataDecoder decoder;  // large: kept off the stack
  decoder = DeflateDataDecoder{};
  std::vector<std::uint8_t> out(capacity, 0x5A);
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
  // The same block again gives the same answer (the table is not changed),
  // and so does the careful loop alone, down to the bytes past the length.
  const std::uint16_t status = decoder.status;
  for (const bool fast : {true, false}) {
    DeflateFast_SetEnabled(fast);
    std::vector<std::uint8_t> again(capacity, 0x5A);
    std::uint16_t length2 = 0;
    const StatusCode s2 = DeflateData_DecodeBlock(&decoder, block, words - tableWords, again.data(),
                                                  capacity, &length2);
    DeflateFast_SetEnabled(true);
    // Both loops write the same bytes before any failure, and nothing else.
    if (s2 != s || length2 != length || decoder.status != status || again != out) std::abort();
  }
  return 0;
}
