#include "engine/runtime/mem_stream.h"

#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"

namespace {

using MemStreamInstance = EngineInstance<MemStreamBody>;

MemStreamBody& Body(EngineObject* s) {
  return BodyOf<MemStreamBody>(s);
}

// Zeroes [from, to) of a writable stream's buffer so bytes left there by an
// earlier, larger size never reappear.
void ZeroGap(MemStreamBody& m, std::uint32_t from, std::uint32_t to) {
  if (m.buffer == nullptr || from >= to) return;
  to = std::min(to, m.capacity);
  if (from < to) std::memset(m.buffer + from, 0, to - from);
}

constexpr StreamOps kMemStreamOps = MakeStreamOps({
    .close = MemStream_Close,
    .seek = MemStream_Seek,
    .read = MemStream_Read,
    .write = MemStream_Write,
    .getSize = MemStream_GetSize,
    .setSize = MemStream_SetSize,
    .reserve = MemStream_Reserve,
});

constexpr MemStreamClassOps kMemStreamClassOps = {
    Core_NotImplemented,
    MemStream_Create,
    MemStream_GetBuffer,
    Core_NotImplemented,
};

}  // namespace

EngineObject MemStreamModule = {nullptr, &kMemStreamClassOps};

StatusCode MemStream_Create(EngineObject*, void* buffer, std::uint32_t size, std::uint32_t capacity,
                            std::uint8_t flags, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  MemStreamInstance* instance = nullptr;
  StatusCode status = Engine_AllocArray<MemStreamInstance>(1, &instance);
  if (IsFailure(status)) return status;
  MemStreamBody body{};
  const bool writable = (flags & kMemCreateWritable) != 0;
  const bool owned = (flags & kMemCreateCallerOwns) == 0;
  if (writable) body.flags = kMemFlagWritable | kMemFlagGrowable;
  if (buffer != nullptr) {
    body.buffer = static_cast<std::uint8_t*>(buffer);
    body.size = size;
    body.capacity = std::max(size, capacity);
    if (owned) body.flags |= kMemFlagOwnsBuffer;
  } else if (!writable) {
    body.size = size;
  } else {
    if (capacity > kMemStreamLimit) {
      Engine_Free(instance);
      return kOutOfMemory;
    }
    if (capacity > 0) {
      void* p = nullptr;
      status = Engine_Alloc(capacity, &p);
      if (IsFailure(status)) {
        Engine_Free(instance);
        return status;
      }
      std::memset(p, 0, capacity);
      body.buffer = static_cast<std::uint8_t*>(p);
    }
    body.capacity = capacity;
    body.size = std::min(size, capacity);
    if (owned) body.flags |= kMemFlagOwnsBuffer;
  }
  instance->body = body;
  instance->header = {&instance->body, &kMemStreamOps};
  *out = &instance->header;
  return kOk;
}

StatusCode MemStream_GetBuffer(EngineObject*, EngineObject* stream, void** buffer,
                               std::uint32_t* size, std::uint32_t* capacity) noexcept {
  if (stream == nullptr || stream->ops != &kMemStreamOps) return kBadArgument;
  const MemStreamBody& m = Body(stream);
  if (buffer != nullptr) *buffer = m.buffer;
  if (size != nullptr) *size = m.size;
  if (capacity != nullptr) *capacity = m.capacity;
  return kOk;
}

StatusCode MemStream_Close(EngineObject* s) noexcept {
  MemStreamBody& m = Body(s);
  if ((m.flags & kMemFlagOwnsBuffer) != 0) Engine_Free(m.buffer);
  Engine_Free(s);  // the header starts the one allocation
  return kOk;
}

StatusCode MemStream_Seek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                          std::uint32_t* position) noexcept {
  MemStreamBody& m = Body(s);
  const auto delta = static_cast<std::uint32_t>(offset);
  switch (origin) {
    case kSeekSet:
      m.position = delta;
      break;
    case kSeekCur:
      m.position += delta;
      break;
    case kSeekEnd:
      m.position = m.size + delta;
      break;
    default:
      return kBadSeekOrigin;
  }
  if (position != nullptr) *position = m.position;
  return kOk;
}

StatusCode MemStream_Read(EngineObject* s, void* buffer, std::uint32_t n,
                          std::uint32_t* count) noexcept {
  MemStreamBody& m = Body(s);
  std::uint32_t moved = 0;
  if (m.position < m.size) {
    moved = std::min(n, m.size - m.position);
    if (m.buffer != nullptr) {
      std::memcpy(buffer, m.buffer + m.position, moved);
    } else {
      std::memset(buffer, 0, moved);
    }
    m.position += moved;
  }
  if (count != nullptr) *count = moved;
  return kOk;
}

StatusCode MemStream_Write(EngineObject* s, const void* buffer, std::uint32_t n,
                           std::uint32_t* count) noexcept {
  MemStreamBody& m = Body(s);
  if ((m.flags & kMemFlagWritable) == 0) {
    if (count != nullptr) {
      *count = 0;
      return kOk;
    }
    return n > 0 ? kStreamShortWrite : kOk;
  }
  // Nothing to write leaves size and capacity alone: raising the size past
  // the capacity here would let later reads run off the buffer.
  if (n == 0) {
    if (count != nullptr) *count = 0;
    return kOk;
  }
  const std::uint64_t end = std::uint64_t{m.position} + n;
  if (m.capacity < end) {
    if (m.position >= kMemStreamLimit || n >= kMemStreamLimit || end >= kMemStreamLimit) {
      return kFailed;
    }
    // Grown by half again at least, so that many small writes copy the
    // buffer a logarithmic number of times, not once each.
    const std::uint64_t ahead = std::min<std::uint64_t>(
        kMemStreamLimit - 1, std::uint64_t{m.capacity} + m.capacity / 2 + 4096);
    StatusCode status = StreamOf(s).reserve(s, static_cast<std::uint32_t>(std::max(end, ahead)));
    if (IsFailure(status) && ahead > end) {
      status = StreamOf(s).reserve(s, static_cast<std::uint32_t>(end));
    }
    if (IsFailure(status)) return status;
  }
  ZeroGap(m, m.size, m.position);
  std::memcpy(m.buffer + m.position, buffer, n);
  m.position = static_cast<std::uint32_t>(end);
  m.size = std::max(m.size, m.position);
  if (count != nullptr) *count = n;
  return kOk;
}

StatusCode MemStream_GetSize(EngineObject* s, std::uint32_t* size) noexcept {
  if (size == nullptr) return kNullOutPointer;
  *size = Body(s).size;
  return kOk;
}

StatusCode MemStream_SetSize(EngineObject* s, std::uint32_t size) noexcept {
  MemStreamBody& m = Body(s);
  if (size > m.size && size > m.capacity) {
    const StatusCode status = StreamOf(s).reserve(s, size);
    if (IsFailure(status)) return status;
  }
  if ((m.flags & kMemFlagWritable) != 0) ZeroGap(m, m.size, size);
  m.size = size;
  return kOk;
}

StatusCode MemStream_Reserve(EngineObject* s, std::uint32_t capacity) noexcept {
  MemStreamBody& m = Body(s);
  if ((m.flags & kMemFlagGrowable) == 0 || capacity > kMemStreamLimit) return kOutOfMemory;
  if (capacity <= m.capacity) return kOk;
  void* p = m.buffer;
  const StatusCode status =
      p == nullptr ? Engine_Alloc(capacity, &p) : Engine_Realloc(capacity, &p);
  if (IsFailure(status)) return status;
  m.buffer = static_cast<std::uint8_t*>(p);
  std::memset(m.buffer + m.capacity, 0, capacity - m.capacity);
  m.capacity = capacity;
  return kOk;
}
