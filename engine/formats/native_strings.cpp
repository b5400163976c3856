#include "engine/formats/native_strings.h"

#include "engine/codecs/deflate_data.h"
#include "engine/runtime/allocator.h"

namespace {

std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// The decoder and the block buffer of one lookup.
struct Scratch {
  DeflateDataDecoder* decoder = nullptr;
  std::uint8_t* buffer = nullptr;
  ~Scratch() {
    Engine_Free(decoder);
    Engine_Free(buffer);
  }
};

// Decodes `words` words at `at` of the record into the buffer: the decoded
// length, or 0 when the block does not decode.
std::uint16_t Decode(Scratch& x, const std::uint8_t* rec, std::uint32_t at, std::uint32_t words) {
  std::uint16_t n = 0;
  if (IsFailure(DeflateData_DecodeBlock(x.decoder, rec + at, words, x.buffer,
                                        kNativeStringBlockSize, &n)) &&
      !(x.decoder->status == DeflateDataStatus::Ok && n == kNativeStringBlockSize)) {
    return 0;
  }
  return n;
}

// The lookup once the record is held; false where the table says nothing.
bool Lookup(const std::uint8_t* rec, std::uint32_t size, std::uint32_t n, Scratch& x,
            std::uint8_t* buffer, std::uint16_t capacity, std::uint16_t* length) {
  const std::uint32_t d = rec[0];
  if (d + 2 > size) return false;
  const std::uint32_t s = rec[d];
  const std::uint32_t blocks = rec[d + 1];
  const std::uint64_t lengthsAt = std::uint64_t{d} + s + 2;
  std::uint64_t e = std::uint64_t{d} + s + 2u * blocks + 4 + (blocks % 2 == 1 ? 2 : 0);
  if (lengthsAt + 2u * (blocks + 1) > size || e > size) return false;
  const std::uint32_t tableWords = Be16(rec + lengthsAt - 2);
  const std::uint64_t tableEnd = e + 4u * tableWords;
  if (tableEnd > size) return false;
  if (IsFailure(DeflateData_ReadTables(x.decoder, rec + e, tableWords))) return false;

  // The index block, then the string's block.
  std::uint64_t at = tableEnd;
  std::uint32_t words = Be16(rec + lengthsAt);
  if (at + 4u * words > size) return false;
  const std::uint16_t indexLength = Decode(x, rec, static_cast<std::uint32_t>(at), words);
  if (n >= indexLength / 2u) return false;
  const std::uint16_t entry = Be16(x.buffer + 2 * n);
  const std::uint32_t k = entry >> 11;
  const std::uint32_t offset = entry & 0x7FFu;
  if (entry == 0 || k >= blocks) return false;
  for (std::uint32_t b = 0; b <= k; ++b)
    at += 4u * Be16(rec + lengthsAt + 2 * b);
  words = Be16(rec + lengthsAt + 2 * (k + 1));
  if (at + 4u * words > size) return false;
  const std::uint16_t decoded = Decode(x, rec, static_cast<std::uint32_t>(at), words);
  if (offset >= decoded) return false;
  std::uint16_t copied = 0;
  while (copied < capacity && offset + copied < decoded && x.buffer[offset + copied] != 0) {
    buffer[copied] = x.buffer[offset + copied];
    ++copied;
  }
  *length = copied;
  return true;
}

}  // namespace

StatusCode NativeStore_GetString(NativeDocState* s, std::uint32_t n, std::uint8_t* buffer,
                                 std::uint16_t capacity, std::uint16_t* length) noexcept {
  if (s == nullptr || length == nullptr || (buffer == nullptr && capacity != 0))
    return kBadArgument;
  *length = 0;
  const std::uint16_t index =
      s->recordCount == 0 ? 0 : s->record0.recordList[NativeRecordList::StringTable];
  if (index == 0) return kOk;
  std::uint32_t size = 0;
  const std::uint8_t* rec = nullptr;
  StatusCode r = NativeStore_FetchRecord(s->db, NativeRecordType::StringTable, index, &size, &rec);
  if (IsFailure(r)) return r;
  Scratch x;
  if (IsFailure(Engine_AllocArray(1, &x.decoder)) ||
      IsFailure(Engine_AllocArray(kNativeStringBlockSize, &x.buffer))) {
    r = kOutOfMemory;
  } else {
    (void)Lookup(rec, size, n, x, buffer, capacity, length);  // no string: length 0
  }
  const StatusCode released = NativeStore_ReleaseRecord(s->db, rec);
  return IsFailure(r) ? r : released;
}
