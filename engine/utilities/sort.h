// In-place sorting of arrays of fixed-size elements with a caller's
// comparison, called on the module object (g_SortModule).
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Compares element a of the array with a held copy of another element b:
// kCompareGreater (3) when a sorts after b, any other non-negative value
// otherwise, or a failure (negative), which stops the sort.
using SortCompareFn = StatusCode (*)(void* user, const void* a, const void* b) noexcept;

struct SortOps {
  CoreEndWord word0;
  // 1: Shell sort with the gaps 1, 4, 13, 40, ... (h = 3h + 1), starting from
  // the smallest gap above count / 9; not stable (below 9 elements it is a
  // plain insertion sort, which is). Needs one element-sized block from the
  // engine allocator. 0; kOutOfMemory; kBadArgument for a null base or
  // compare with two or more elements, or an element size of 0; a failure
  // of compare is returned as it is, with the array still holding every
  // element exactly once.
  StatusCode (*shell)(EngineObject* module, void* base, std::uint32_t count,
                      std::uint32_t elementSize, SortCompareFn compare, void* user) noexcept;
  CoreEndWord end;
};

extern EngineObject SortModule;

StatusCode Sort_Shell(EngineObject* module, void* base, std::uint32_t count,
                      std::uint32_t elementSize, SortCompareFn compare, void* user) noexcept;
