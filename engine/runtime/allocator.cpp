#include "engine/runtime/allocator.h"

#include <cstdlib>
#include <cstring>

#include "engine/runtime/module_table.h"

namespace {

constexpr std::size_t kHeaderSize = 16;
// Larger requests would wrap the header arithmetic in 32 bits where the heap
// takes a 32-bit size; refuse them outright.
constexpr std::uint32_t kMaxBlock = 0xFFFFFFFFu - kHeaderSize;

void WriteHeader(unsigned char* base, std::uint32_t size) {
  for (int i = 0; i < 4; ++i)
    std::memcpy(base + 4 * i, &size, 4);
}

}  // namespace

StatusCode Mem_Alloc(EngineObject*, std::uint32_t size, void** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (size > kMaxBlock) return kOutOfMemory;
  auto* base = static_cast<unsigned char*>(std::malloc(std::size_t{size} + kHeaderSize));
  if (base == nullptr) return kOutOfMemory;
  WriteHeader(base, size);
  *out = base + kHeaderSize;
  return kOk;
}

StatusCode Mem_Free(EngineObject*, void* block) noexcept {
  if (block == nullptr) return kFailed;
  std::free(static_cast<unsigned char*>(block) - kHeaderSize);
  return kOk;
}

StatusCode Mem_Realloc(EngineObject*, std::uint32_t newSize, void** block) noexcept {
  if (block == nullptr) return kNullOutPointer;
  if (newSize > kMaxBlock) return kOutOfMemory;
  unsigned char* old = *block ? static_cast<unsigned char*>(*block) - kHeaderSize : nullptr;
  auto* base = static_cast<unsigned char*>(std::realloc(old, std::size_t{newSize} + kHeaderSize));
  if (base == nullptr) return kOutOfMemory;
  WriteHeader(base, newSize);
  *block = base + kHeaderSize;
  return kOk;
}

StatusCode Mem_Copy(EngineObject*, void* dst, const void* src, std::uint32_t n) noexcept {
  if (n != 0) std::memmove(dst, src, n);
  return kOk;
}

StatusCode Mem_Fill(EngineObject*, void* dst, std::uint32_t value, std::uint32_t n) noexcept {
  if (n != 0) std::memset(dst, static_cast<unsigned char>(value), n);
  return kOk;
}

StatusCode Mem_Compare(EngineObject*, const void* a, std::uint32_t aLength, const void* b,
                       std::uint32_t bLength) noexcept {
  const std::uint32_t common = aLength < bLength ? aLength : bLength;
  const int c = common ? std::memcmp(a, b, common) : 0;
  if (c < 0) return kCompareLess;
  if (c > 0) return kCompareGreater;
  if (aLength == bLength) return kCompareEqual;
  return aLength < bLength ? kCompareLess : kCompareGreater;
}

namespace {
constexpr AllocatorOps kAllocatorOps = {
    Core_NotImplemented, Core_NoOp,           Mem_Alloc, Mem_Free, Mem_Realloc, Mem_Copy, Mem_Fill,
    Mem_Compare,         Core_NotImplemented,
};
}  // namespace

EngineObject AllocatorModule = {nullptr, &kAllocatorOps};

namespace {
// Engine code may run before registration in tests; fall back to the module
// object itself so the allocator is always reachable.
EngineObject* Allocator() {
  return g_AllocatorModule ? g_AllocatorModule : &AllocatorModule;
}
const AllocatorOps& Ops() {
  return OpsOf<AllocatorOps>(Allocator());
}
}  // namespace

StatusCode Engine_Alloc(std::uint32_t size, void** out) noexcept {
  return Ops().alloc(Allocator(), size, out);
}
StatusCode Engine_Realloc(std::uint32_t newSize, void** block) noexcept {
  return Ops().realloc(Allocator(), newSize, block);
}
void Engine_Free(void* block) noexcept {
  if (block != nullptr) (void)Ops().free(Allocator(), block);  // a release has nothing to report
}
