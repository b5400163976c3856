#include "engine/runtime/stream.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/swap.h"

namespace {

StatusCode SeekTo(EngineObject* s, std::uint32_t position) noexcept {
  return StreamOf(s).seek(s, static_cast<std::int32_t>(position), kSeekSet, nullptr);
}

// Reads exactly n bytes: a class that may deliver fewer (the memory stream
// never fails short) is asked for a count and held to it. On a short read the
// undelivered tail is zeroed so no caller ever parses stale bytes.
StatusCode ReadFull(EngineObject* s, void* buffer, std::uint32_t n) noexcept {
  std::uint32_t got = 0;
  const StatusCode status = StreamOf(s).read(s, buffer, n, &got);
  if (IsFailure(status)) return status;
  if (got < n) {
    std::memset(static_cast<unsigned char*>(buffer) + got, 0, n - got);
    return kStreamShortRead;
  }
  return kOk;
}

StatusCode WriteFull(EngineObject* s, const void* buffer, std::uint32_t n) noexcept {
  std::uint32_t put = 0;
  const StatusCode status = StreamOf(s).write(s, buffer, n, &put);
  if (IsFailure(status)) return status;
  return put < n ? kStreamShortWrite : kOk;
}

// Byte length of an array of count values; false when it does not fit 32 bits.
template <class T>
bool ArrayBytes(std::uint32_t count, std::uint32_t* bytes) noexcept {
  const std::uint64_t total = std::uint64_t{count} * sizeof(T);
  if (total > 0xFFFFFFFFu) return false;
  *bytes = static_cast<std::uint32_t>(total);
  return true;
}

template <class T>
StatusCode ReadArray(EngineObject* s, T* values, std::uint32_t count) noexcept {
  std::uint32_t bytes = 0;
  if (!ArrayBytes<T>(count, &bytes)) return kBadArgument;
  return ReadFull(s, values, bytes);
}

template <class T>
StatusCode WriteArray(EngineObject* s, const T* values, std::uint32_t count) noexcept {
  std::uint32_t bytes = 0;
  if (!ArrayBytes<T>(count, &bytes)) return kBadArgument;
  return WriteFull(s, values, bytes);
}

// Big-endian storage of one value: load from / store to its own bytes.
inline std::uint16_t LoadBE(const std::uint16_t& v) noexcept {
  return LoadBE16(reinterpret_cast<const std::uint8_t*>(&v));
}
inline std::uint32_t LoadBE(const std::uint32_t& v) noexcept {
  return LoadBE32(reinterpret_cast<const std::uint8_t*>(&v));
}
inline void StoreBE(std::uint8_t* p, std::uint16_t v) noexcept {
  StoreBE16(p, v);
}
inline void StoreBE(std::uint8_t* p, std::uint32_t v) noexcept {
  StoreBE32(p, v);
}

template <class T>
StatusCode ReadArrayBE(EngineObject* s, T* values, std::uint32_t count) noexcept {
  const StatusCode status = ReadArray(s, values, count);
  if (IsFailure(status)) return status;
  for (std::uint32_t i = 0; i < count; ++i)
    values[i] = LoadBE(values[i]);
  return kOk;
}

// Swaps through a local buffer of Piece values so the caller's array stays
// as it was.
template <class T, std::size_t Piece>
StatusCode WriteArrayBE(EngineObject* s, const T* values, std::uint32_t count) noexcept {
  std::array<std::uint8_t, Piece * sizeof(T)> local;
  while (count > 0) {
    const std::uint32_t n = std::min<std::uint32_t>(count, Piece);
    for (std::uint32_t i = 0; i < n; ++i)
      StoreBE(local.data() + i * sizeof(T), values[i]);
    const StatusCode status = WriteFull(s, local.data(), n * sizeof(T));
    if (IsFailure(status)) return status;
    values += n;
    count -= n;
  }
  return kOk;
}

constexpr std::uint32_t kLocalChunk = 512;

}  // namespace

StatusCode Stream_ReadAt(EngineObject* s, std::uint32_t position, void* buffer, std::uint32_t n,
                         std::uint32_t* count) noexcept {
  const StatusCode status = SeekTo(s, position);
  if (IsFailure(status)) return status;
  return StreamOf(s).read(s, buffer, n, count);
}

StatusCode Stream_WriteAt(EngineObject* s, std::uint32_t position, const void* buffer,
                          std::uint32_t n, std::uint32_t* count) noexcept {
  const StatusCode status = SeekTo(s, position);
  if (IsFailure(status)) return status;
  return StreamOf(s).write(s, buffer, n, count);
}

StatusCode Stream_ReadU16s(EngineObject* s, std::uint16_t* values, std::uint32_t count) noexcept {
  return ReadArray(s, values, count);
}

StatusCode Stream_WriteU16s(EngineObject* s, const std::uint16_t* values,
                            std::uint32_t count) noexcept {
  return WriteArray(s, values, count);
}

StatusCode Stream_ReadU32s(EngineObject* s, std::uint32_t* values, std::uint32_t count) noexcept {
  return ReadArray(s, values, count);
}

StatusCode Stream_WriteU32s(EngineObject* s, const std::uint32_t* values,
                            std::uint32_t count) noexcept {
  return WriteArray(s, values, count);
}

StatusCode Stream_ReadU16sBE(EngineObject* s, std::uint16_t* values, std::uint32_t count) noexcept {
  return ReadArrayBE(s, values, count);
}

StatusCode Stream_WriteU16sBE(EngineObject* s, const std::uint16_t* values,
                              std::uint32_t count) noexcept {
  return WriteArrayBE<std::uint16_t, 256>(s, values, count);
}

StatusCode Stream_ReadU32sBE(EngineObject* s, std::uint32_t* values, std::uint32_t count) noexcept {
  return ReadArrayBE(s, values, count);
}

StatusCode Stream_WriteU32sBE(EngineObject* s, const std::uint32_t* values,
                              std::uint32_t count) noexcept {
  return WriteArrayBE<std::uint32_t, 128>(s, values, count);
}

StatusCode Stream_CopyTo(EngineObject* source, std::uint32_t sourcePosition, std::uint32_t length,
                         EngineObject* target, std::uint32_t targetPosition) noexcept {
  const StreamOps& src = StreamOf(source);
  const StreamOps& dst = StreamOf(target);
  std::uint32_t size = 0;
  if (IsFailure(src.getSize(source, &size))) return kStreamCopySourceSize;
  if (sourcePosition > size) return kStreamCopySourcePastEnd;
  length = std::min(length, size - sourcePosition);
  if (length == 0) return kOk;
  // The target range must stay addressable with 32-bit positions.
  if (std::uint64_t{targetPosition} + length > 0xFFFFFFFFu) return kStreamCopyWrite;

  std::array<unsigned char, kLocalChunk> local;
  EngineBuffer<unsigned char> heap;
  unsigned char* buffer = local.data();
  std::uint32_t chunk = kLocalChunk;
  for (std::uint32_t candidate = 16384; candidate >= 1024; candidate /= 2) {
    if (length < candidate) continue;
    void* p = nullptr;
    if (Engine_Alloc(candidate, &p) == kOk) {
      heap.reset(static_cast<unsigned char*>(p));
      buffer = heap.get();
      chunk = candidate;
      break;
    }
  }

  StatusCode last = kOk;
  auto step = [&](std::uint32_t from, std::uint32_t to, std::uint32_t n) -> StatusCode {
    StatusCode status = src.seek(source, static_cast<std::int32_t>(from), kSeekSet, nullptr);
    if (IsFailure(status)) return kStreamCopySourceSeek;
    std::uint32_t got = 0;
    status = src.read(source, buffer, n, &got);
    if (IsFailure(status) || got != n) return kStreamCopyRead;
    status = dst.seek(target, static_cast<std::int32_t>(to), kSeekSet, nullptr);
    if (IsFailure(status)) return kStreamCopyTargetSeek;
    std::uint32_t put = 0;
    status = dst.write(target, buffer, n, &put);
    if (IsFailure(status) || put != n) return kStreamCopyWrite;
    last = status;
    return kOk;
  };

  const bool overlapsTowardsEnd = source == target && sourcePosition < targetPosition &&
                                  targetPosition < std::uint64_t{sourcePosition} + length;
  if (overlapsTowardsEnd) {
    std::uint32_t targetSize = 0;
    if (IsFailure(dst.getSize(target, &targetSize))) return kStreamCopyTargetSize;
    if (targetSize < targetPosition + length &&
        IsFailure(dst.setSize(target, targetPosition + length))) {
      return kStreamCopyTargetExtend;
    }
    std::uint32_t remaining = length;
    while (remaining > 0) {
      const std::uint32_t n = std::min(remaining, chunk);
      remaining -= n;
      const StatusCode status = step(sourcePosition + remaining, targetPosition + remaining, n);
      if (IsFailure(status)) return status;
    }
  } else {
    std::uint32_t done = 0;
    while (done < length) {
      const std::uint32_t n = std::min(length - done, chunk);
      const StatusCode status = step(sourcePosition + done, targetPosition + done, n);
      if (IsFailure(status)) return status;
      done += n;
    }
  }
  return last;
}

StatusCode Stream_Fill(EngineObject* s, std::uint32_t count, std::uint8_t value,
                       std::uint32_t* written) noexcept {
  std::array<unsigned char, kLocalChunk> local;
  std::memset(local.data(), value, std::min<std::uint32_t>(count, kLocalChunk));
  std::uint32_t done = 0;
  while (done < count) {
    const std::uint32_t n = std::min(count - done, kLocalChunk);
    std::uint32_t put = 0;
    const StatusCode status = StreamOf(s).write(s, local.data(), n, &put);
    if (IsFailure(status)) return status;
    done += std::min(put, n);
    if (put < n) {
      if (written == nullptr) return kStreamShortWrite;
      break;
    }
  }
  if (written != nullptr) *written = done;
  return kOk;
}

StatusCode Stream_ReadExact(EngineObject* s, std::uint32_t position, void* buffer,
                            std::uint32_t n) noexcept {
  std::uint32_t got = 0;
  const StatusCode status = StreamOf(s).readAt(s, position, buffer, n, &got);
  if (IsFailure(status)) return status;
  return got == n ? kOk : kStreamShortRead;
}

StatusCode Stream_WriteExact(EngineObject* s, std::uint32_t position, const void* buffer,
                             std::uint32_t n) noexcept {
  std::uint32_t put = 0;
  const StatusCode status = StreamOf(s).writeAt(s, position, buffer, n, &put);
  if (IsFailure(status)) return status;
  return put == n ? kOk : kStreamShortWrite;
}
