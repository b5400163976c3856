#include "engine/device/pos_map.h"

#include <sys/sysinfo.h>

#include <algorithm>
#include <cstring>

#include "engine/device/table_store.h"
#include "engine/runtime/allocator.h"

namespace {

constexpr std::uint32_t High(std::uint32_t v) {
  return v >> 16;
}
constexpr std::uint16_t Low(std::uint32_t v) {
  return static_cast<std::uint16_t>(v & 0xFFFFu);
}

StatusCode OpenRun(PositionMap* map, std::uint32_t key, std::uint32_t value) {
  if (map->runs == nullptr) return kOutOfMemory;
  if (map->runCount == map->runCapacity) {
    const std::uint64_t bytes =
        std::uint64_t{map->runCapacity + kPosMapRunGrowth} * sizeof(PosMapRun);
    if (bytes > 0xFFFFFFEFu) return kOutOfMemory;
    void* runs = map->runs;
    if (Engine_Realloc(static_cast<std::uint32_t>(bytes), &runs) != kOk) return kOutOfMemory;
    map->runs = static_cast<PosMapRun*>(runs);
    map->runCapacity += kPosMapRunGrowth;
  }
  if (map->blockBytes >= kPosMapGuardBytes) {
    const auto freeMemory = map->freeMemory ? map->freeMemory : PosMap_SystemFreeMemory;
    if (freeMemory() < kPosMapMinFreeMemory) return kOutOfMemory;
  }
  std::uint32_t capacity = kPosMapBlockEntries;
  void* block = nullptr;
  if (map->spare != nullptr) {
    block = map->spare;
    capacity = map->spareCapacity;
    map->spare = nullptr;
  } else {
    while (Engine_Alloc(capacity * sizeof(PosMapEntry), &block) != kOk) {
      if (capacity == 1) return kOutOfMemory;
      capacity /= 2;
    }
    map->blockBytes += capacity * sizeof(PosMapEntry);
  }
  map->open = static_cast<PosMapEntry*>(block);
  map->openCapacity = static_cast<std::uint16_t>(capacity);
  map->openUsed = 0;
  map->openKeyHigh = static_cast<std::uint16_t>(High(key));
  map->openValueHigh = static_cast<std::uint16_t>(High(value));
  map->openFirstKey = key;
  map->openFirstValue = value;
  return kOk;
}

void CloseRun(PositionMap* map, std::uint32_t endKey, std::uint32_t endValue) {
  if (map->open == nullptr) return;
  void* block = map->open;
  const std::uint32_t used = map->openUsed;
  void* copy = nullptr;
  if (used > 0 && used < map->openCapacity && map->spare == nullptr &&
      Engine_Alloc(used * sizeof(PosMapEntry), &copy) == kOk) {
    // The run keeps an exact copy; its block, already paged in, serves the
    // next run instead of a fresh one.
    std::memcpy(copy, block, used * sizeof(PosMapEntry));
    map->blockBytes += used * sizeof(PosMapEntry);
    map->spare = map->open;
    map->spareCapacity = map->openCapacity;
    block = copy;
  } else if (used < map->openCapacity) {
    // A failed shrink keeps the larger block, which is still valid.
    (void)Engine_Realloc(used * sizeof(PosMapEntry), &block);
  }
  // OpenRun made room for this record.
  map->runs[map->runCount++] = PosMapRun{
      map->openFirstKey, endKey, map->openFirstValue, endValue, static_cast<PosMapEntry*>(block),
      map->openUsed};
  map->open = nullptr;
  map->openCapacity = map->openUsed = 0;
}

StatusCode Flush(PositionMap* map) {
  std::uint32_t i = 0;
  const std::uint32_t n = map->batchCount;
  StatusCode status = kOk;
  while (i < n && status == kOk) {
    const std::uint32_t keyHigh = High(map->batchKeys[i]);
    const std::uint32_t valueHigh = High(map->batchValues[i]);
    std::uint32_t groupEnd = i;
    while (groupEnd < n && High(map->batchKeys[groupEnd]) == keyHigh &&
           High(map->batchValues[groupEnd]) == valueHigh)
      ++groupEnd;
    while (i < groupEnd) {
      if (map->open != nullptr && (map->openKeyHigh != keyHigh || map->openValueHigh != valueHigh ||
                                   map->openUsed == map->openCapacity))
        CloseRun(map, map->batchKeys[i], map->batchValues[i]);
      if (map->open == nullptr) {
        status = OpenRun(map, map->batchKeys[i], map->batchValues[i]);
        if (status != kOk) break;
      }
      // Locals, so the stores of 16-bit halves need not be assumed to touch
      // the map's own 16-bit fields.
      PosMapEntry* const out = map->open + map->openUsed;
      const std::uint32_t take = std::min<std::uint32_t>(
          groupEnd - i, static_cast<std::uint32_t>(map->openCapacity - map->openUsed));
      for (std::uint32_t k = 0; k < take; ++k)
        out[k] = {Low(map->batchKeys[i + k]), Low(map->batchValues[i + k])};
      map->openUsed = static_cast<std::uint16_t>(map->openUsed + take);
      i += take;
    }
  }
  // Pairs that found no room stay in the batch for the next attempt.
  const std::uint32_t left = n - i;
  if (left != 0 && i != 0) {
    std::memmove(map->batchKeys, map->batchKeys + i, left * sizeof(std::uint32_t));
    std::memmove(map->batchValues, map->batchValues + i, left * sizeof(std::uint32_t));
  }
  map->batchCount = static_cast<std::uint16_t>(left);
  return status;
}

void FreeBlocks(PositionMap* map) {
  for (std::uint32_t r = 0; r < map->runCount; ++r)
    Engine_Free(map->runs[r].entries);
  Engine_Free(map->open);
  map->open = nullptr;
  Engine_Free(map->spare);
  map->spare = nullptr;
  map->runCount = 0;
  map->openCapacity = map->openUsed = 0;
}

// One searchable view of a sorted sequence of pairs: either a run's block
// (low halves plus the run's high halves) followed by nothing, or the open
// block followed by the batch.
struct PairSequence {
  const PosMapEntry* block;
  std::uint32_t blockCount;
  std::uint32_t keyHigh;
  std::uint32_t valueHigh;
  const std::uint32_t* extraKeys;
  const std::uint32_t* extraValues;
  std::uint32_t extraCount;

  std::uint32_t Size() const { return blockCount + extraCount; }
  std::uint32_t Key(std::uint32_t i) const {
    return i < blockCount ? (keyHigh << 16) | block[i].keyLow : extraKeys[i - blockCount];
  }
  std::uint32_t Value(std::uint32_t i) const {
    return i < blockCount ? (valueHigh << 16) | block[i].valueLow : extraValues[i - blockCount];
  }
};

// The last index whose whole key (or value) is at most target; 0 when none is.
std::uint32_t LastAtMost(const PairSequence& seq, std::uint32_t target, bool byValue) {
  std::uint32_t lo = 0, hi = seq.Size();  // first index above target in [lo, hi]
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const std::uint32_t v = byValue ? seq.Value(mid) : seq.Key(mid);
    if (v <= target)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo == 0 ? 0 : lo - 1;
}

StatusCode Find(const PositionMap* map, std::uint32_t* key, std::uint32_t* value, bool byValue) {
  if (map == nullptr) return kFailed;
  if (key == nullptr || value == nullptr) return kNullOutPointer;
  const std::uint32_t target = byValue ? *value : *key;
  auto first = [byValue](const PosMapRun& r) { return byValue ? r.firstValue : r.firstKey; };
  auto end = [byValue](const PosMapRun& r) { return byValue ? r.endValue : r.endKey; };
  // The last closed run starting at or before the target.
  std::uint32_t lo = 0, hi = map->runCount;
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    if (first(map->runs[mid]) <= target)
      lo = mid + 1;
    else
      hi = mid;
  }
  PairSequence seq{};
  bool found = false;
  if (lo > 0 && target < end(map->runs[lo - 1])) {
    const PosMapRun& run = map->runs[lo - 1];
    if (run.count > 0) {
      // Whole-value comparison: a target whose high half is above the run's
      // lies past every entry (a line straddling a 64 KiB mark).
      const std::uint32_t high = High(first(run));
      std::uint32_t i = run.count - 1u;
      if (High(target) <= high) {
        const std::uint16_t low = Low(target);
        std::uint32_t a = 0, b = run.count;
        while (a < b) {
          const std::uint32_t mid = a + (b - a) / 2;
          const std::uint16_t v = byValue ? run.entries[mid].valueLow : run.entries[mid].keyLow;
          if (v <= low)
            a = mid + 1;
          else
            b = mid;
        }
        i = a == 0 ? 0 : a - 1;
      }
      *key = (High(run.firstKey) << 16) | run.entries[i].keyLow;
      *value = (High(run.firstValue) << 16) | run.entries[i].valueLow;
      return kOk;
    }
  } else {
    // The lines not yet in a closed run: the open block, then the batch.
    seq = {map->open,        map->open ? map->openUsed : 0u,
           map->openKeyHigh, map->openValueHigh,
           map->batchKeys,   map->batchValues,
           map->batchCount};
    if (seq.Size() > 0) {
      const std::uint32_t firstPending = byValue ? seq.Value(0) : seq.Key(0);
      const std::uint32_t lastPending =
          byValue ? seq.Value(seq.Size() - 1) : seq.Key(seq.Size() - 1);
      found = firstPending <= target && target <= lastPending;
    }
  }
  if (!found) {
    const bool any = map->runCount > 0;
    *key = any ? map->runs[map->runCount - 1].endKey : 0;
    *value = any ? map->runs[map->runCount - 1].endValue : 0;
    return kNoMore;
  }
  const std::uint32_t i = LastAtMost(seq, target, byValue);
  *key = seq.Key(i);
  *value = seq.Value(i);
  return kOk;
}

std::uint32_t* U32(void* p) {
  return static_cast<std::uint32_t*>(p);
}

}  // namespace

std::uint64_t PosMap_SystemFreeMemory() noexcept {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return ~std::uint64_t{0};  // unknown: do not refuse
  return std::uint64_t{info.freeram} * info.mem_unit;
}

StatusCode PosMap_Create(const DeviceClock* clock, std::uint64_t (*freeMemory)() noexcept,
                         PositionMap** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  PositionMap* map = nullptr;
  if (Engine_AllocArray(1, &map) != kOk) return kOutOfMemory;
  std::memset(static_cast<void*>(map), 0, sizeof(*map));
  if (Engine_AllocArray(kPosMapRunGrowth, &map->runs) != kOk) {
    Engine_Free(map);
    return kOutOfMemory;
  }
  map->runCapacity = kPosMapRunGrowth;
  map->clockCountdown = kPosMapClockEvery;
  map->clock = clock;
  map->freeMemory = freeMemory;
  *out = map;
  return kOk;
}

void PosMap_Free(PositionMap* map) noexcept {
  if (map == nullptr) return;
  FreeBlocks(map);
  Engine_Free(map->runs);
  Engine_Free(map);
}

void PosMap_Reset(PositionMap* map) noexcept {
  FreeBlocks(map);
  map->flags = 0;
  map->blockBytes = 0;
  map->batchCount = 0;
  map->openKeyHigh = map->openValueHigh = 0;
  map->openFirstKey = map->openFirstValue = 0;
}

StatusCode PosMap_Finish(PositionMap* map, std::uint32_t endKey, std::uint32_t endValue) noexcept {
  const StatusCode s = Flush(map);
  if (s != kOk) return s;
  CloseRun(map, endKey, endValue);
  Engine_Free(map->spare);  // no run follows
  map->spare = nullptr;
  map->flags |= kPosMapComplete;
  return kOk;
}

void PosMap_StartSlice(PositionMap* map) noexcept {
  map->sliceStart = map->clock ? Device_Tick(*map->clock) : Device_SystemTick();
  map->clockCountdown = kPosMapClockEvery;
  map->sliceElapsed = false;
}

StatusCode PosMap_Add(PositionMap* map, std::uint32_t key, std::uint32_t value) noexcept {
  // A batch left full by a failed flush is retried before it takes more.
  if (map->batchCount == kPosMapBatch) {
    const StatusCode s = Flush(map);
    if (s != kOk) return s;
  }
  map->batchKeys[map->batchCount] = key;
  map->batchValues[map->batchCount] = value;
  if (++map->batchCount == kPosMapBatch) {
    const StatusCode s = Flush(map);
    if (s != kOk) return s;
  }
  // Reading the clock costs about as much as the rest of an add.
  if (!map->sliceElapsed && --map->clockCountdown == 0) {
    map->clockCountdown = kPosMapClockEvery;
    const std::uint32_t now = map->clock ? Device_Tick(*map->clock) : Device_SystemTick();
    map->sliceElapsed = now - map->sliceStart >= kPosMapSliceMs;
  }
  return map->sliceElapsed ? kPosMapSliceElapsed : kOk;
}

StatusCode PosMap_FindByKey(const PositionMap* map, std::uint32_t* key,
                            std::uint32_t* value) noexcept {
  return Find(map, key, value, false);
}

StatusCode PosMap_FindByValue(const PositionMap* map, std::uint32_t* key,
                              std::uint32_t* value) noexcept {
  return Find(map, key, value, true);
}

void PosMap_ReleaseServices(DeviceServices* services) noexcept {
  if (services == nullptr) return;
  TableStore_Free(services->tables);
  services->tables = nullptr;
  PosMap_Free(services->map);
  services->map = nullptr;
}

StatusCode PosMap_Command(EngineObject* device, DeviceServices* services, std::uint16_t code,
                          void* in, void* out) noexcept {
  if (services == nullptr) return kBadArgument;
  if (code >= PosMapCode::SetInterval && code <= PosMapCode::ProgressEnd)
    return Device_ProgressCommand(device, &services->progress, services->clock, code, in, out);
  if (code == 8 || code > PosMapCode::ProgressEnd) return kNotSupported;
  if (code == PosMapCode::Init) {
    PosMap_ReleaseServices(services);
    PositionMap* map = nullptr;
    StatusCode s = PosMap_Create(&services->clock, services->freeMemory, &map);
    if (s != kOk) return s;
    TableStore* tables = nullptr;
    s = TableStore_Create(&services->clock, &tables);
    if (s != kOk) {
      PosMap_Free(map);
      return s;
    }
    services->map = map;
    services->tables = tables;
    return kOk;
  }
  if (code == PosMapCode::Free) {
    PosMap_ReleaseServices(services);
    return kOk;
  }
  PositionMap* map = services->map;
  if (map == nullptr) return kFailed;
  switch (code) {
    case PosMapCode::Reset:
      PosMap_Reset(map);
      TableStore_Clear(services->tables);
      return kOk;
    case PosMapCode::Finish:
      if (in == nullptr || out == nullptr) return kNullOutPointer;
      return PosMap_Finish(map, *U32(in), *U32(out));
    case PosMapCode::StartSlice:
      PosMap_StartSlice(map);
      return kOk;
    case PosMapCode::Add:
      if (in == nullptr || out == nullptr) return kNullOutPointer;
      return PosMap_Add(map, *U32(in), *U32(out));
    case PosMapCode::FindByKey:
      return PosMap_FindByKey(map, U32(in), U32(out));
    case PosMapCode::FindByValue:
      return PosMap_FindByValue(map, U32(in), U32(out));
    case PosMapCode::Info: {
      if (out == nullptr) return kNullOutPointer;
      const std::uint32_t info[4] = {map->runCount, map->runCapacity, map->openFirstKey,
                                     map->openFirstValue};
      std::memcpy(out, info, sizeof(info));
      return kOk;
    }
    default:
      return kNotSupported;
  }
}
