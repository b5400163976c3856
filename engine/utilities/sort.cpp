#include "engine/utilities/sort.h"

#include <cstring>

#include "engine/runtime/allocator.h"

namespace {

constexpr SortOps kSortOps = {Core_NotImplemented, Sort_Shell, Core_NotImplemented};

}  // namespace

EngineObject SortModule = {nullptr, &kSortOps};

StatusCode Sort_Shell(EngineObject*, void* base, std::uint32_t count, std::uint32_t elementSize,
                      SortCompareFn compare, void* user) noexcept {
  if (count < 2) return kOk;
  if (base == nullptr || compare == nullptr || elementSize == 0) return kBadArgument;
  void* block = nullptr;
  const StatusCode s = Engine_Alloc(elementSize, &block);
  if (IsFailure(s)) return s;
  const EngineBuffer<std::uint8_t> held(static_cast<std::uint8_t*>(block));
  auto* a = static_cast<std::uint8_t*>(base);
  const std::size_t size = elementSize;
  const auto at = [&](std::size_t i) { return a + i * size; };

  std::uint32_t gap = 1;
  while (gap <= count / 9)
    gap = 3 * gap + 1;
  for (; gap > 0; gap /= 3) {
    for (std::uint32_t i = gap; i < count; ++i) {
      std::memcpy(held.get(), at(i), size);
      std::uint32_t j = i;
      while (j >= gap) {
        const StatusCode c = compare(user, at(j - gap), held.get());
        if (IsFailure(c)) {
          // The slot at j is the hole; filling it keeps every element once.
          std::memcpy(at(j), held.get(), size);
          return c;
        }
        if (c != kCompareGreater) break;
        std::memcpy(at(j), at(j - gap), size);
        j -= gap;
      }
      if (j != i) std::memcpy(at(j), held.get(), size);
    }
  }
  return kOk;
}
