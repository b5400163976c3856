// The one byte-stream interface of the engine.
//
// Every sequential or random-access byte container is a stream: an
// EngineObject whose ops point to a StreamOps table. Memory streams, file
// streams, database record streams and block-container streams implement it.
// Slots 5-14, 19 and 20 have one shared implementation (Stream_...) written
// only in terms of the class's own Seek, Read, Write, GetSize and SetSize.
//
// Positions and sizes are unsigned 32-bit; a position may lie past the end.
// Count-out convention of Read and Write: the last argument is an optional
// pointer to a 32-bit count. Given, a short transfer is not an error and the
// count says how much moved. Null, the caller demands the full length and a
// short transfer is an error where the class says so.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x007: streams.
constexpr StatusCode kStreamCopySourceSize = MakeFailure(Facility::Stream, 0x01);
constexpr StatusCode kStreamCopySourcePastEnd = MakeFailure(Facility::Stream, 0x02);
constexpr StatusCode kStreamCopySourceSeek = MakeFailure(Facility::Stream, 0x03);
constexpr StatusCode kStreamCopyTargetSeek = MakeFailure(Facility::Stream, 0x04);
constexpr StatusCode kStreamCopyRead = MakeFailure(Facility::Stream, 0x05);
constexpr StatusCode kStreamCopyWrite = MakeFailure(Facility::Stream, 0x06);
constexpr StatusCode kStreamCopyTargetSize = MakeFailure(Facility::Stream, 0x07);
constexpr StatusCode kStreamCopyTargetExtend = MakeFailure(Facility::Stream, 0x08);
constexpr StatusCode kStreamShortRead = MakeFailure(Facility::Stream, 0x09);
constexpr StatusCode kStreamShortWrite = MakeFailure(Facility::Stream, 0x0A);
constexpr StatusCode kStreamSeekMismatch = MakeFailure(Facility::Stream, 0x0B);
constexpr StatusCode kStreamPropertyEmpty = MakeFailure(Facility::Stream, 0x0C);
constexpr StatusCode kStreamPropertyTooSmall = MakeFailure(Facility::Stream, 0x0D);

enum StreamOrigin : std::uint32_t { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

// GetProperty ids (answered by file streams only).
constexpr std::uint32_t kStreamPropertyHandle = 1;  // the system file handle
constexpr std::uint32_t kStreamPropertyPath = 2;    // the path, UTF-16 with its terminator

struct StreamOps {
  CoreEndWord word0;
  // 1: releases the stream.
  StatusCode (*close)(EngineObject* s) noexcept;
  // 2: origin 0 from start, 1 from current, 2 from end; other origins
  // kBadSeekOrigin. The new position goes to *position when given.
  StatusCode (*seek)(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                     std::uint32_t* position) noexcept;
  // 3, 4: transfer at the position and advance it (count-out convention).
  StatusCode (*read)(EngineObject* s, void* buffer, std::uint32_t n, std::uint32_t* count) noexcept;
  StatusCode (*write)(EngineObject* s, const void* buffer, std::uint32_t n,
                      std::uint32_t* count) noexcept;
  // 5, 6: Seek(position, start), then Read / Write.
  StatusCode (*readAt)(EngineObject* s, std::uint32_t position, void* buffer, std::uint32_t n,
                       std::uint32_t* count) noexcept;
  StatusCode (*writeAt)(EngineObject* s, std::uint32_t position, const void* buffer,
                        std::uint32_t n, std::uint32_t* count) noexcept;
  // 7-14: arrays of 16- and 32-bit values, full length demanded; host order,
  // or big-endian storage (reads swap in place; writes swap through a local
  // buffer and never change the caller's array). 0 on success. A read that
  // comes up short fails with kStreamShortRead whatever the class's own Read
  // would say, with the undelivered tail of the array zeroed; a short write
  // fails with kStreamShortWrite; a count whose byte length passes 32 bits is
  // kBadArgument.
  StatusCode (*readU16s)(EngineObject* s, std::uint16_t* values, std::uint32_t count) noexcept;
  StatusCode (*writeU16s)(EngineObject* s, const std::uint16_t* values,
                          std::uint32_t count) noexcept;
  StatusCode (*readU32s)(EngineObject* s, std::uint32_t* values, std::uint32_t count) noexcept;
  StatusCode (*writeU32s)(EngineObject* s, const std::uint32_t* values,
                          std::uint32_t count) noexcept;
  StatusCode (*readU16sBE)(EngineObject* s, std::uint16_t* values, std::uint32_t count) noexcept;
  StatusCode (*writeU16sBE)(EngineObject* s, const std::uint16_t* values,
                            std::uint32_t count) noexcept;
  StatusCode (*readU32sBE)(EngineObject* s, std::uint32_t* values, std::uint32_t count) noexcept;
  StatusCode (*writeU32sBE)(EngineObject* s, const std::uint32_t* values,
                            std::uint32_t count) noexcept;
  // 15: the size; kNullOutPointer without an out pointer.
  StatusCode (*getSize)(EngineObject* s, std::uint32_t* size) noexcept;
  // 16: truncates or extends.
  StatusCode (*setSize)(EngineObject* s, std::uint32_t size) noexcept;
  // 17: makes room without changing the size.
  StatusCode (*reserve)(EngineObject* s, std::uint32_t capacity) noexcept;
  // 18: advice for later growth.
  StatusCode (*setGrowthHint)(EngineObject* s, std::uint32_t hint) noexcept;
  // 19: copies min(length, size - sourcePosition) bytes of this stream to
  // targetPosition of target (which may be the same stream: an overlapping
  // move towards the end copies backwards). Each chunk is read and written
  // in full. Failures: kStreamCopySourceSize, kStreamCopySourcePastEnd,
  // kStreamCopySourceSeek, kStreamCopyRead, kStreamCopyTargetSeek,
  // kStreamCopyWrite (also for a target range past 4 GiB),
  // kStreamCopyTargetSize, kStreamCopyTargetExtend.
  StatusCode (*copyTo)(EngineObject* source, std::uint32_t sourcePosition, std::uint32_t length,
                       EngineObject* target, std::uint32_t targetPosition) noexcept;
  // 20: writes count copies of the byte at the position, in pieces of 512.
  // A short write ends it: with *written given, 0 and the bytes written;
  // without, kStreamShortWrite. *written is set only on success.
  StatusCode (*fill)(EngineObject* s, std::uint32_t count, std::uint8_t value,
                     std::uint32_t* written) noexcept;
  // 21: class-specific property into a caller buffer.
  StatusCode (*getProperty)(EngineObject* s, std::uint32_t property, std::uint32_t capacity,
                            std::uint32_t* length, void* buffer) noexcept;
  CoreEndWord end;
};

inline const StreamOps& StreamOf(const EngineObject* s) {
  return OpsOf<StreamOps>(s);
}

// The shared implementations.
StatusCode Stream_ReadAt(EngineObject* s, std::uint32_t position, void* buffer, std::uint32_t n,
                         std::uint32_t* count) noexcept;
StatusCode Stream_WriteAt(EngineObject* s, std::uint32_t position, const void* buffer,
                          std::uint32_t n, std::uint32_t* count) noexcept;
StatusCode Stream_ReadU16s(EngineObject* s, std::uint16_t* values, std::uint32_t count) noexcept;
StatusCode Stream_WriteU16s(EngineObject* s, const std::uint16_t* values,
                            std::uint32_t count) noexcept;
StatusCode Stream_ReadU32s(EngineObject* s, std::uint32_t* values, std::uint32_t count) noexcept;
StatusCode Stream_WriteU32s(EngineObject* s, const std::uint32_t* values,
                            std::uint32_t count) noexcept;
StatusCode Stream_ReadU16sBE(EngineObject* s, std::uint16_t* values, std::uint32_t count) noexcept;
StatusCode Stream_WriteU16sBE(EngineObject* s, const std::uint16_t* values,
                              std::uint32_t count) noexcept;
StatusCode Stream_ReadU32sBE(EngineObject* s, std::uint32_t* values, std::uint32_t count) noexcept;
StatusCode Stream_WriteU32sBE(EngineObject* s, const std::uint32_t* values,
                              std::uint32_t count) noexcept;
StatusCode Stream_CopyTo(EngineObject* source, std::uint32_t sourcePosition, std::uint32_t length,
                         EngineObject* target, std::uint32_t targetPosition) noexcept;
StatusCode Stream_Fill(EngineObject* s, std::uint32_t count, std::uint8_t value,
                       std::uint32_t* written) noexcept;

// ReadAt / WriteAt that demand the whole length: a transfer that comes up
// short answers kStreamShortRead / kStreamShortWrite; the stream's own
// failures are passed on.
StatusCode Stream_ReadExact(EngineObject* s, std::uint32_t position, void* buffer,
                            std::uint32_t n) noexcept;
StatusCode Stream_WriteExact(EngineObject* s, std::uint32_t position, const void* buffer,
                             std::uint32_t n) noexcept;

// The slots a stream class supplies itself. MakeStreamOps fills in word 0, the
// end word and the shared operations, so a class table names only these.
struct StreamClassSlots {
  decltype(StreamOps::close) close;
  decltype(StreamOps::seek) seek;
  decltype(StreamOps::read) read;
  decltype(StreamOps::write) write;
  decltype(StreamOps::getSize) getSize;
  decltype(StreamOps::setSize) setSize;
  decltype(StreamOps::reserve) reserve = CoreStub<decltype(StreamOps::reserve)>::NoOp;
  decltype(StreamOps::setGrowthHint) setGrowthHint =
      CoreStub<decltype(StreamOps::setGrowthHint)>::NoOp;
  decltype(StreamOps::getProperty) getProperty =
      CoreStub<decltype(StreamOps::getProperty)>::NotSupported;
};

constexpr StreamOps MakeStreamOps(const StreamClassSlots& c) {
  return StreamOps{
      Core_NotImplemented,
      c.close,
      c.seek,
      c.read,
      c.write,
      Stream_ReadAt,
      Stream_WriteAt,
      Stream_ReadU16s,
      Stream_WriteU16s,
      Stream_ReadU32s,
      Stream_WriteU32s,
      Stream_ReadU16sBE,
      Stream_WriteU16sBE,
      Stream_ReadU32sBE,
      Stream_WriteU32sBE,
      c.getSize,
      c.setSize,
      c.reserve,
      c.setGrowthHint,
      Stream_CopyTo,
      Stream_Fill,
      c.getProperty,
      Core_NotImplemented,
  };
}
