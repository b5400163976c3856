// The engine allocator: all engine memory comes from here, and its operations
// double as the engine's byte copy, fill and compare. Called on the module
// object (g_AllocatorModule).
//
// Every block carries a 16-byte header holding the requested size in each of
// its four 32-bit words; callers see the address just past it. New memory is
// not zeroed. Free and Realloc take only pointers that Alloc or Realloc
// returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/runtime/core.h"

struct AllocatorOps {
  CoreEndWord word0;
  // 1: does nothing; 0.
  StatusCode (*noOp)(EngineObject* module) noexcept;
  // 2: allocates size bytes; kOutOfMemory when refused (out untouched).
  StatusCode (*alloc)(EngineObject* module, std::uint32_t size, void** out) noexcept;
  // 3: releases a block; kFailed when the heap reports failure.
  StatusCode (*free)(EngineObject* module, void* block) noexcept;
  // 4: resizes *block to newSize (content kept up to the smaller size, the
  // block may move); kOutOfMemory leaves the block and *block unchanged.
  StatusCode (*realloc)(EngineObject* module, std::uint32_t newSize, void** block) noexcept;
  // 5: copies n bytes; overlapping ranges are safe.
  StatusCode (*copy)(EngineObject* module, void* dst, const void* src, std::uint32_t n) noexcept;
  // 6: sets n bytes to the low 8 bits of value.
  StatusCode (*fill)(EngineObject* module, void* dst, std::uint32_t value,
                     std::uint32_t n) noexcept;
  // 7: unsigned byte compare of the common prefix; at a difference 2 (a's
  // byte smaller) or 3; equal prefixes: 0 for equal lengths, 2 when a is
  // shorter, 3 when longer.
  StatusCode (*compare)(EngineObject* module, const void* a, std::uint32_t aLength, const void* b,
                        std::uint32_t bLength) noexcept;
  CoreEndWord end;
};

extern EngineObject AllocatorModule;

StatusCode Mem_Alloc(EngineObject* module, std::uint32_t size, void** out) noexcept;
StatusCode Mem_Free(EngineObject* module, void* block) noexcept;
StatusCode Mem_Realloc(EngineObject* module, std::uint32_t newSize, void** block) noexcept;
StatusCode Mem_Copy(EngineObject* module, void* dst, const void* src, std::uint32_t n) noexcept;
StatusCode Mem_Fill(EngineObject* module, void* dst, std::uint32_t value, std::uint32_t n) noexcept;
StatusCode Mem_Compare(EngineObject* module, const void* a, std::uint32_t aLength, const void* b,
                       std::uint32_t bLength) noexcept;

// Thin wrappers that call through g_AllocatorModule, for engine code.
StatusCode Engine_Alloc(std::uint32_t size, void** out) noexcept;
StatusCode Engine_Realloc(std::uint32_t newSize, void** block) noexcept;
void Engine_Free(void* block) noexcept;  // null is allowed

template <class T>
StatusCode Engine_AllocArray(std::uint32_t count, T** out) noexcept {
  const std::uint64_t bytes = std::uint64_t{count} * sizeof(T);
  if (bytes > 0xFFFFFFEFu) return kOutOfMemory;
  void* p = nullptr;
  const StatusCode s = Engine_Alloc(static_cast<std::uint32_t>(bytes), &p);
  if (s == kOk) *out = static_cast<T*>(p);
  return s;
}

// Owns an engine block and frees it through the allocator.
struct EngineFreeDeleter {
  void operator()(void* p) const noexcept { Engine_Free(p); }
};
template <class T>
using EngineBuffer = std::unique_ptr<T, EngineFreeDeleter>;
