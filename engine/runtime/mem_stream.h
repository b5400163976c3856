// The memory stream: a stream over one block of engine memory.
//
// A memory stream is either read-only or writable-and-growable. It may own its
// buffer (freed on close) or work in a caller's buffer. A read-only stream
// without a buffer reads as zeros up to its size. Growth is refused at
// 2,000,000,000 bytes. Bytes between the old end and a later write or a larger
// SetSize always read as zeros.
//
// Reads never fail short: at or past the end they deliver 0 bytes and return
// 0, with or without a count-out pointer. Callers that need the full length
// use the shared array reads (which fail with kStreamShortRead) or ask for
// the count.
#pragma once

#include <cstdint>

#include "engine/runtime/stream.h"

// Create flags.
constexpr std::uint8_t kMemCreateWritable = 0x01;    // writable and growable
constexpr std::uint8_t kMemCreateCallerOwns = 0x02;  // the caller keeps the buffer

// Stored flags of an instance (MemStreamBody::flags).
constexpr std::uint32_t kMemFlagWritable = 0x01;
constexpr std::uint32_t kMemFlagGrowable = 0x02;
constexpr std::uint32_t kMemFlagOwnsBuffer = 0x04;

// Largest size, capacity or position + length a memory stream grows to.
constexpr std::uint32_t kMemStreamLimit = 2000000000u;

struct MemStreamBody {
  std::uint8_t* buffer;  // may be null
  std::uint32_t size;
  std::uint32_t capacity;
  std::uint32_t flags;
  std::uint32_t position;
};

struct MemStreamClassOps {
  CoreEndWord word0;
  // 1: creates a stream; position 0.
  //  - buffer given: the stream works in it with the size and capacity passed
  //    (a capacity below the size is taken as the size); kMemCreateWritable
  //    makes it writable and growable; unless kMemCreateCallerOwns, the stream
  //    owns the buffer and frees it on close. An owned or growable caller
  //    buffer must come from the engine allocator (growth may move it; the
  //    caller then finds it through GetBuffer).
  //  - no buffer, not writable: read-only, no buffer, reads as zeros up to size.
  //  - no buffer, writable: own zero-filled buffer of the given capacity (none
  //    for 0), size = min(size, capacity); owned unless kMemCreateCallerOwns.
  //    A capacity above kMemStreamLimit or a refused allocation answers
  //    kOutOfMemory.
  StatusCode (*create)(EngineObject* module, void* buffer, std::uint32_t size,
                       std::uint32_t capacity, std::uint8_t flags, EngineObject** out) noexcept;
  // 2: the stream's buffer, size and capacity, each out pointer optional; 0,
  // or kBadArgument when the object is not a memory stream.
  StatusCode (*getBuffer)(EngineObject* module, EngineObject* stream, void** buffer,
                          std::uint32_t* size, std::uint32_t* capacity) noexcept;
  CoreEndWord end;
};

extern EngineObject MemStreamModule;

StatusCode MemStream_Create(EngineObject* module, void* buffer, std::uint32_t size,
                            std::uint32_t capacity, std::uint8_t flags,
                            EngineObject** out) noexcept;
StatusCode MemStream_GetBuffer(EngineObject* module, EngineObject* stream, void** buffer,
                               std::uint32_t* size, std::uint32_t* capacity) noexcept;

// Instance operations (StreamOps slots of the memory stream).
// Close: frees an owned buffer, then the object.
StatusCode MemStream_Close(EngineObject* s) noexcept;
// Seek: no bound check; positions wrap in 32 bits.
StatusCode MemStream_Seek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                          std::uint32_t* position) noexcept;
// Read: min(n, size - position) bytes (zeros without a buffer); never an error.
StatusCode MemStream_Read(EngineObject* s, void* buffer, std::uint32_t n,
                          std::uint32_t* count) noexcept;
// Write: read-only streams report count 0 with a count-out pointer, else
// kStreamShortWrite for n > 0. Writable streams grow as needed (kFailed when
// position, n or their sum reaches kMemStreamLimit) and raise the size.
// Writing 0 bytes changes nothing.
StatusCode MemStream_Write(EngineObject* s, const void* buffer, std::uint32_t n,
                           std::uint32_t* count) noexcept;
StatusCode MemStream_GetSize(EngineObject* s, std::uint32_t* size) noexcept;
// SetSize: Reserve first when the size exceeds both size and capacity; the
// position is not touched.
StatusCode MemStream_SetSize(EngineObject* s, std::uint32_t size) noexcept;
// Reserve: kOutOfMemory for a read-only stream or above kMemStreamLimit;
// nothing below the capacity; else exactly the capacity, new part zeroed.
StatusCode MemStream_Reserve(EngineObject* s, std::uint32_t capacity) noexcept;
