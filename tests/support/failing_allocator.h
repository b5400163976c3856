// An allocator that refuses some requests and hands the others on to the
// engine's own; installed as g_AllocatorModule for its scope. It refuses
// every block of `limit` bytes or more (Alloc and Realloc alike).
#pragma once

#include <cstdint>

#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"

class LargeBlocksRefused {
 public:
  explicit LargeBlocksRefused(std::uint32_t limit) : saved_(g_AllocatorModule) {
    limit_ = limit;
    g_AllocatorModule = &module_;
  }
  ~LargeBlocksRefused() { g_AllocatorModule = saved_; }
  LargeBlocksRefused(const LargeBlocksRefused&) = delete;
  LargeBlocksRefused& operator=(const LargeBlocksRefused&) = delete;

 private:
  static StatusCode Alloc(EngineObject* m, std::uint32_t size, void** out) noexcept {
    return size >= limit_ ? kOutOfMemory : Mem_Alloc(m, size, out);
  }
  static StatusCode Realloc(EngineObject* m, std::uint32_t size, void** block) noexcept {
    return size >= limit_ ? kOutOfMemory : Mem_Realloc(m, size, block);
  }
  static inline std::uint32_t limit_ = 0;
  static constexpr AllocatorOps kOps = {
      Core_NotImplemented, Core_NoOp,          Alloc, Mem_Free, Realloc, Mem_Copy, Mem_Fill,
      Mem_Compare,         Core_NotImplemented};
  EngineObject module_{nullptr, &kOps};
  EngineObject* saved_;
};
