#include "engine/formats/native_text.h"

#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/swap.h"

namespace {

constexpr std::uint8_t kStoredBlock = 0x04;
constexpr std::uint8_t kPaddingMask = 0x03;

NativeDocState* Body(EngineObject* handler) {
  return handler != nullptr ? static_cast<NativeDocState*>(handler->state) : nullptr;
}

// Decodes the page holding block `block` into page i, with the bytes that
// complete a character cut at its end when the document asks for them.
StatusCode FillPage(NativeDocState& s, std::uint32_t i, std::uint32_t block) {
  std::uint8_t* page = s.page[i];
  s.pageLength[i] = 0;
  if (page == nullptr) return kFailed;
  std::uint32_t length = kNativeBlockSize;
  const StatusCode r =
      NativeStore_DecodeTextBlock(&s, NativeRecordType::Text, block, page, &length);
  if (IsFailure(r)) return r;
  const std::uint32_t start = block * kNativeBlockSize;
  const NativeDocHeader& h = s.record0.header;
  if ((h.docFlags & NativeDocFlag::CarryAcrossBlocks) != 0 && length == kNativeBlockSize &&
      std::uint64_t{start} + kNativeBlockSize < h.textLength && (page[length - 1] & 0x80) != 0) {
    // The next block's leading bytes with the high bit set (up to 8) belong
    // to the character the page ends in, whatever the charset. Only the first
    // bytes are wanted: a block that goes on past them answers a failure
    // with the bytes in place.
    std::uint32_t got = kNativeMaxCarry;
    (void)NativeStore_DecodeTextBlock(&s, NativeRecordType::Text, block + 1, page + length, &got);
    std::uint32_t k = 0;
    while (k < got && k < kNativeMaxCarry && (page[length + k] & 0x80) != 0)
      ++k;
    length += k;
  }
  page[length] = 0;
  s.pageStart[i] = start;
  s.pageLength[i] = length;
  return kOk;
}

StatusCode AllocDecoder(DeflateDataDecoder** decoder) {
  if (*decoder != nullptr) return kOk;
  const StatusCode r = Engine_AllocArray<DeflateDataDecoder>(1, decoder);
  if (!IsFailure(r)) std::memset(static_cast<void*>(*decoder), 0, sizeof **decoder);
  return r;
}

// Decodes one block of an already fetched record.
StatusCode DecodeInRecord(DeflateDataDecoder* decoder, std::uint16_t* held, std::uint16_t index,
                          const std::uint8_t* d, std::uint32_t size, std::uint32_t k,
                          std::uint32_t N, std::uint8_t* out, std::uint32_t* length) {
  const std::uint32_t capacity = *length;
  *length = 0;
  const std::uint32_t H = d[0];
  if (H >= size || d[H] == 0) return kDocMalformed;
  const std::uint64_t T = std::uint64_t{H} + d[H];
  if (T + 3u * N + 4 > size) return kDocMalformed;
  const std::uint32_t words = size / 4;
  const std::uint32_t from = LoadBE16(d + T + 2 + 2 * k);
  const std::uint32_t to = LoadBE16(d + T + 4 + 2 * k);
  if (from > to || to > words) return kDocMalformed;
  const std::uint8_t flags = d[T + 2u * N + 4 + k];
  if ((flags & kStoredBlock) != 0) {
    const std::uint32_t bytes = 4 * (to - from);
    const std::uint32_t pad = flags & kPaddingMask;
    if (bytes < pad || bytes > kNativeBlockSize) return kDocMalformed;
    const std::uint32_t n = std::min(bytes - pad, capacity);
    std::memcpy(out, d + 4 * from, n);
    *length = n;
    return kOk;
  }
  if (decoder == nullptr) return kFailed;
  // The record's code table is read once, on its first coded block.
  if (*held != index) {
    const std::uint32_t w0 = LoadBE16(d + T);
    const std::uint32_t w1 = LoadBE16(d + T + 2);
    if (w0 > w1 || w1 > words) return kDocMalformed;
    if (IsFailure(DeflateData_ReadTables(decoder, d + 4 * w0, w1 - w0))) {
      *held = kNativeNoRecord;
      return kFailed;
    }
    *held = index;
  }
  std::uint16_t got = 0;
  const StatusCode r = DeflateData_DecodeBlock(
      decoder, d + 4 * from, to - from, out,
      static_cast<std::uint16_t>(std::min(capacity, kNativeBlockSize)), &got);
  *length = got;
  return r;
}

bool InWindow(const NativeDocState& s, std::uint32_t offset) {
  return s.extraLength != 0 && offset >= s.extraStart && offset - s.extraStart < s.extraLength;
}

}  // namespace

StatusCode NativeStore_DecodeTextBlock(NativeDocState* s, std::uint8_t type, std::uint32_t block,
                                       std::uint8_t* out, std::uint32_t* length) noexcept {
  if (s == nullptr || out == nullptr || length == nullptr) return kBadArgument;
  const bool extra = type == NativeRecordType::ExtraStream;
  if (!extra && type != NativeRecordType::Text) return kBadArgument;
  const std::uint32_t N = s->record0.header.blocksPerRecord;
  const std::uint32_t entry = extra ? NativeRange::ExtraStream : NativeRange::Text;
  if (N == 0 || block / N >= s->record0.rangeCount[entry]) {
    *length = 0;
    return kDocMalformed;
  }
  DeflateDataDecoder** decoder = extra ? &s->extraDecoder : &s->textDecoder;
  std::uint16_t* held = extra ? &s->extraRecord : &s->textRecord;
  if (extra) {
    const StatusCode r = AllocDecoder(decoder);
    if (IsFailure(r)) return r;
  }
  const auto index = static_cast<std::uint16_t>(s->record0.rangeStart[entry] + block / N);
  std::uint32_t size = 0;
  const std::uint8_t* d = nullptr;
  const std::uint32_t capacity = *length;
  *length = 0;
  StatusCode r = NativeStore_FetchRecord(s->db, type, index, &size, &d);
  if (IsFailure(r)) return r;
  *length = capacity;
  r = DecodeInRecord(*decoder, held, index, d, size, block % N, N, out, length);
  const StatusCode released = NativeStore_ReleaseRecord(s->db, d);
  return IsFailure(released) ? released : r;
}

StatusCode NativeDoc_GetTextLength(EngineObject* handler, std::uint32_t* length) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr || length == nullptr) return kBadArgument;
  *length = s->record0.header.textLength;
  return kOk;
}

StatusCode NativeDoc_GetText(EngineObject* handler, std::uint32_t position,
                             const std::uint8_t** text, std::uint32_t* length) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr || text == nullptr || length == nullptr) return kBadArgument;
  *text = nullptr;
  const std::uint32_t total = s->record0.header.textLength;
  if (position >= total) {
    *length = 0;
    return kOk;
  }
  const std::uint32_t want = std::min(*length, total - position);
  *length = 0;
  std::uint32_t i = 2;
  for (std::uint32_t k = 0; k < 2; ++k) {
    const std::uint32_t held = std::min(s->pageLength[k], kNativeBlockSize);
    if (position >= s->pageStart[k] && position - s->pageStart[k] < held) i = k;
  }
  if (i == 2) {
    i = s->pageReplace;
    if (IsFailure(FillPage(*s, i, position / kNativeBlockSize))) {
      s->pageReplace ^= 1;
      return kFailed;
    }
  }
  s->pageReplace ^= 1;
  const std::uint32_t at = position - s->pageStart[i];
  // A block that decoded shorter than the text says has nothing here.
  if (at >= s->pageLength[i]) return kFailed;
  *text = s->page[i] + at;
  *length = std::min(want, s->pageLength[i] - at);
  return kOk;
}

StatusCode NativeDoc_GetTextBefore(EngineObject* handler, std::uint32_t position,
                                   const std::uint8_t** text, std::uint32_t* length) noexcept {
  NativeDocState* s = Body(handler);
  if (s == nullptr || text == nullptr || length == nullptr) return kBadArgument;
  *text = nullptr;
  const std::uint32_t total = s->record0.header.textLength;
  if (position == 0 || position > total) {
    *length = 0;
    return kOk;
  }
  const std::uint32_t want = std::min(*length, position);
  *length = 0;
  std::uint32_t i = 2;
  for (std::uint32_t k = 0; k < 2; ++k) {
    const std::uint32_t held = std::min(s->pageLength[k], kNativeBlockSize);
    if (position > s->pageStart[k] && position - s->pageStart[k] <= held) i = k;
  }
  if (i == 2) {
    i = s->pageReplace;
    if (IsFailure(FillPage(*s, i, (position - 1) / kNativeBlockSize))) {
      s->pageReplace ^= 1;
      return kFailed;
    }
  }
  s->pageReplace ^= 1;
  const std::uint32_t at = position - s->pageStart[i];
  if (at > s->pageLength[i]) return kFailed;
  const std::uint32_t n = std::min(want, at);
  *text = s->page[i] + at - n;
  *length = n;
  return kOk;
}

StatusCode NativeStore_OpenExtra(NativeDocState* s) noexcept {
  s->extraStart = s->extraLength = s->extraTotal = 0;
  s->extraBaseCount = 0;
  std::memset(s->extraBase, 0, sizeof s->extraBase);
  const std::uint32_t records = s->record0.rangeCount[NativeRange::ExtraStream];
  if (records == 0) return kOk;
  if (s->extraWindow == nullptr &&
      IsFailure(Engine_AllocArray<std::uint8_t>(kNativeExtraWindow, &s->extraWindow))) {
    s->extraWindow = nullptr;
    return kOk;
  }
  // Until the header is read the stream may be as long as its records hold.
  const std::uint64_t most =
      std::uint64_t{records} * s->record0.header.blocksPerRecord * kNativeBlockSize;
  s->extraTotal = static_cast<std::uint32_t>(std::min<std::uint64_t>(most, 0xFFFFFFFFu));
  const std::uint32_t total = NativeStore_ReadExtraU32(s, 0);
  const std::uint32_t count = NativeStore_ReadExtraU32(s, 4);
  if (total != 0 && count != 0) {
    s->extraBaseCount = std::min(count, kNativeExtraBases);
    for (std::uint32_t k = 0; k < s->extraBaseCount; ++k)
      s->extraBase[k] = NativeStore_ReadExtraU32(s, 8 + 8 * k);
  }
  s->extraTotal = std::min(s->extraTotal, total);
  return kOk;
}

const std::uint8_t* NativeStore_ReadExtra(NativeDocState* s, std::uint32_t offset,
                                          std::uint32_t* length) noexcept {
  if (s == nullptr || length == nullptr) return nullptr;
  const std::uint32_t want = *length;
  *length = 0;
  if (s->extraWindow == nullptr || offset >= s->extraTotal) return nullptr;
  if (!InWindow(*s, offset)) {
    std::uint32_t got = kNativeBlockSize;
    s->extraLength = 0;
    if (IsFailure(NativeStore_DecodeTextBlock(s, NativeRecordType::ExtraStream,
                                              offset / kNativeBlockSize, s->extraWindow, &got))) {
      return nullptr;
    }
    s->extraWindow[got] = 0;
    s->extraStart = offset / kNativeBlockSize * kNativeBlockSize;
    s->extraLength = got;
    if (!InWindow(*s, offset)) return nullptr;
  }
  const std::uint32_t end = std::min(s->extraStart + s->extraLength, s->extraTotal);
  *length = std::min(want, end - offset);
  return s->extraWindow + (offset - s->extraStart);
}

std::uint32_t NativeStore_ReadExtraU32(NativeDocState* s, std::uint32_t offset) noexcept {
  // A number that runs past the stream is unreadable.
  if (s == nullptr || s->extraTotal < 4 || offset > s->extraTotal - 4) return 0;
  std::uint8_t b[4];
  std::uint8_t* p = b;
  if (IsFailure(NativeStore_ReadExtraBytes(s, offset, 4, false, &p))) return 0;
  return LoadBE32(b);
}

std::uint16_t NativeStore_ReadExtraU16(NativeDocState* s, std::uint32_t offset) noexcept {
  if (s == nullptr || s->extraTotal < 2 || offset > s->extraTotal - 2) return 0;
  std::uint8_t b[2];
  std::uint8_t* p = b;
  if (IsFailure(NativeStore_ReadExtraBytes(s, offset, 2, false, &p))) return 0;
  return LoadBE16(b);
}

StatusCode NativeStore_ReadExtraBytes(NativeDocState* s, std::uint32_t offset, std::uint32_t count,
                                      bool nul, std::uint8_t** buffer) noexcept {
  if (s == nullptr || buffer == nullptr) return kBadArgument;
  std::uint8_t* out = *buffer;
  if (out == nullptr) {
    // Nothing larger than the stream itself is allocated for a count read
    // from it.
    if (count > s->extraTotal) return kMalformed;
    const StatusCode r = Engine_AllocArray<std::uint8_t>(count + (nul ? 1u : 0u), &out);
    if (IsFailure(r)) return r;
  }
  std::uint32_t done = 0;
  while (done < count) {
    std::uint32_t n = count - done;
    const std::uint64_t at = std::uint64_t{offset} + done;
    const std::uint8_t* p =
        at <= 0xFFFFFFFFu ? NativeStore_ReadExtra(s, static_cast<std::uint32_t>(at), &n) : nullptr;
    if (p == nullptr || n == 0) {
      std::memset(out + done, 0, count - done);
      break;
    }
    std::memcpy(out + done, p, n);
    done += n;
  }
  if (nul && *buffer == nullptr) out[count] = 0;
  *buffer = out;
  return kOk;
}

StatusCode NativeStore_ReadExtraString(NativeDocState* s, std::uint32_t offset, std::uint8_t** text,
                                       std::uint16_t* length) noexcept {
  if (s == nullptr || text == nullptr || length == nullptr) return kBadArgument;
  *text = nullptr;
  *length = 0;
  const std::uint16_t n = NativeStore_ReadExtraU16(s, offset);
  if (n == 0) return kOk;
  std::uint8_t* out = nullptr;
  const StatusCode r = NativeStore_ReadExtraBytes(s, offset + 2, n, true, &out);
  if (IsFailure(r)) return r;
  *text = out;
  *length = n;
  return kOk;
}
