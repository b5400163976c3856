#include "engine/utilities/record_list.h"

#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/block_file.h"
#include "engine/runtime/str.h"
#include "engine/runtime/stream.h"

namespace {

const RecordListOps kRecordListOps = {
    Core_NotImplemented,   RecordList_Create,   RecordList_Destroy,  RecordList_Append,
    RecordList_Read,       RecordList_DropLast, RecordList_Compare,  RecordList_CompareBytes,
    RecordList_RemoveLast, RecordList_Truncate, Core_NotImplemented,
};

constexpr std::uint32_t kPiece = 512;

struct ListBody {
  EngineObject* container;
  EngineObject* stream;
  std::uint32_t number;
  std::uint32_t end;
  std::uint32_t last;
};

using ListInstance = EngineInstance<ListBody>;

ListBody& Body(EngineObject* list) {
  return BodyOf<ListBody>(list);
}

// The stored length of the record at handle, checked against the end.
StatusCode LengthAt(ListBody& b, std::uint32_t handle, std::uint32_t* length) {
  if (handle >= b.end || b.end - handle < 2) return kFailed;
  std::uint8_t raw[2];
  if (Stream_ReadExact(b.stream, handle, raw, 2) != kOk) return kFailed;
  const std::uint32_t n = raw[0] | raw[1] << 8;
  if (n > kRecordListMaxRecord || n > b.end - handle - 2) return kFailed;
  *length = n;
  return kOk;
}

StatusCode Cut(ListBody& b, std::uint32_t at) {
  const StatusCode s = StreamOf(b.stream).setSize(b.stream, at);
  if (s != kOk) return s;
  b.end = at;
  return kOk;
}

int Byte(const std::uint8_t c, bool fold) {
  return fold ? Str_FoldByte(c) : c;
}

// Compares the record at handle with either another record (other) or a
// buffer (bytes), piece by piece.
StatusCode ComparePieces(ListBody& b, bool fold, std::uint32_t handle, std::uint32_t other,
                         const std::uint8_t* bytes, std::uint32_t bytesLength) {
  std::uint32_t aLength = 0;
  StatusCode s = LengthAt(b, handle, &aLength);
  if (s != kOk) return s;
  std::uint32_t bLength = bytesLength;
  if (bytes == nullptr) {
    s = LengthAt(b, other, &bLength);
    if (s != kOk) return s;
  }
  std::uint8_t pa[kPiece];
  std::uint8_t pb[kPiece];
  const std::uint32_t common = aLength < bLength ? aLength : bLength;
  for (std::uint32_t done = 0; done < common;) {
    const std::uint32_t n = common - done < kPiece ? common - done : kPiece;
    if (Stream_ReadExact(b.stream, handle + 2 + done, pa, n) != kOk) return kFailed;
    const std::uint8_t* q = bytes != nullptr ? bytes + done : pb;
    if (bytes == nullptr && Stream_ReadExact(b.stream, other + 2 + done, pb, n) != kOk)
      return kFailed;
    for (std::uint32_t i = 0; i < n; ++i) {
      const int x = Byte(pa[i], fold);
      const int y = Byte(q[i], fold);
      if (x != y) return x < y ? kCompareLess : kCompareGreater;
    }
    done += n;
  }
  if (aLength == bLength) return kCompareEqual;
  return aLength < bLength ? kCompareLess : kCompareGreater;
}

}  // namespace

EngineObject RecordListModule = {nullptr, &kRecordListOps};

StatusCode RecordList_Create(EngineObject*, EngineObject* container, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (container == nullptr) return kBadArgument;
  void* block = nullptr;
  if (Engine_Alloc(sizeof(ListInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) ListInstance{};
  inst->header = {&inst->body, &kRecordListOps};
  inst->body.container = container;
  const StatusCode s = BlockFile_CreateStream(container, &inst->body.number, &inst->body.stream);
  if (s != kOk) {
    Engine_Free(block);
    return s;
  }
  *out = &inst->header;
  return kOk;
}

StatusCode RecordList_Destroy(EngineObject* list) noexcept {
  if (list == nullptr) return kBadArgument;
  ListBody& b = Body(list);
  StatusCode s = StreamOf(b.stream).close(b.stream);
  const StatusCode d = BlockFile_DeleteStream(b.container, b.number);
  if (s == kOk) s = d;
  Engine_Free(list);
  return s;
}

StatusCode RecordList_Append(EngineObject* list, const void* bytes, std::uint32_t length,
                             std::uint32_t* handle) noexcept {
  if (list == nullptr || (bytes == nullptr && length != 0)) return kBadArgument;
  ListBody& b = Body(list);
  if (length > kRecordListMaxRecord || std::uint64_t{b.end} + 2 + length > 0x7FFFFFFFu)
    return kFailed;
  const std::uint8_t raw[2] = {static_cast<std::uint8_t>(length),
                               static_cast<std::uint8_t>(length >> 8)};
  StatusCode s = Stream_WriteExact(b.stream, b.end, raw, 2);
  if (s == kOk && length != 0) s = Stream_WriteExact(b.stream, b.end + 2, bytes, length);
  if (s != kOk) {
    (void)Cut(b, b.end);  // takes back a half-written record; the write failure is the answer
    return s;
  }
  b.last = b.end;
  b.end += 2 + length;
  if (handle != nullptr) *handle = b.last;
  return kOk;
}

StatusCode RecordList_Read(EngineObject* list, std::uint32_t handle, std::uint32_t* length,
                           void* buffer, std::uint32_t capacity) noexcept {
  if (list == nullptr || length == nullptr) return kBadArgument;
  ListBody& b = Body(list);
  std::uint32_t n = 0;
  StatusCode s = LengthAt(b, handle, &n);
  if (s != kOk) return s;
  const std::uint32_t take = n < capacity ? n : capacity;
  if (take != 0) {
    if (buffer == nullptr) return kBadArgument;
    s = Stream_ReadExact(b.stream, handle + 2, buffer, take);
    if (s != kOk) return s;
  }
  *length = n;
  return kOk;
}

StatusCode RecordList_DropLast(EngineObject* list) noexcept {
  if (list == nullptr) return kBadArgument;
  ListBody& b = Body(list);
  if (b.last >= b.end) return kOk;
  return Cut(b, b.last);
}

StatusCode RecordList_Compare(EngineObject* list, bool fold, std::uint32_t a,
                              std::uint32_t b) noexcept {
  if (list == nullptr) return kBadArgument;
  if (a == b) return kCompareEqual;
  return ComparePieces(Body(list), fold, a, b, nullptr, 0);
}

StatusCode RecordList_CompareBytes(EngineObject* list, bool fold, std::uint32_t handle,
                                   const void* bytes, std::uint32_t length) noexcept {
  if (list == nullptr || (bytes == nullptr && length != 0)) return kBadArgument;
  static const std::uint8_t kEmpty = 0;
  const auto* p = bytes != nullptr ? static_cast<const std::uint8_t*>(bytes) : &kEmpty;
  return ComparePieces(Body(list), fold, handle, 0, p, length);
}

StatusCode RecordList_RemoveLast(EngineObject* list, std::uint32_t handle) noexcept {
  if (list == nullptr) return kBadArgument;
  ListBody& b = Body(list);
  if (handle >= b.end) return kOk;
  std::uint32_t n = 0;
  const StatusCode s = LengthAt(b, handle, &n);
  if (s != kOk) return s;
  if (handle + 2 + n != b.end) return kRecordListNotLast;
  return Cut(b, handle);
}

StatusCode RecordList_Truncate(EngineObject* list, std::uint32_t handle) noexcept {
  if (list == nullptr) return kBadArgument;
  ListBody& b = Body(list);
  if (handle >= b.end) return kOk;
  return Cut(b, handle);
}

std::uint32_t RecordList_End(EngineObject* list) noexcept {
  return list != nullptr ? Body(list).end : 0;
}
