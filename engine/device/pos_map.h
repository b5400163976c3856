// The position map: for every laid-out line of one section, its byte key
// (offset from the section start) and its y value (pixels from the section
// top), both 32-bit and both rising. The text view fills it a time slice at a
// time while paginating and looks lines up by key or by y.
//
// Pairs are kept in runs of at most 8192 4-byte entries whose keys share one
// high half and whose values share one high half; adds are batched 16 at a
// time. The map lives inside a device (the device's PosMapCommand)
// together with the table-layout store and the progress protocol: see
// DeviceServices. All memory comes from the engine allocator.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/runtime/core.h"

struct TableStore;

struct PosMapEntry {
  std::uint16_t keyLow;
  std::uint16_t valueLow;
};

struct PosMapRun {
  std::uint32_t firstKey;
  std::uint32_t endKey;  // the run covers firstKey <= key < endKey
  std::uint32_t firstValue;
  std::uint32_t endValue;
  PosMapEntry* entries;
  std::uint16_t count;
};

constexpr std::uint32_t kPosMapBlockEntries = 8192;
constexpr std::uint32_t kPosMapBatch = 16;
constexpr std::uint32_t kPosMapRunGrowth = 16;
constexpr std::uint32_t kPosMapSliceMs = 62;
// The slice clock is read on every kPosMapClockEvery-th add of a slice (one
// add is one laid-out line, a few microseconds at most), so the elapsed
// answer comes at most kPosMapClockEvery - 1 adds late; once given, it is
// given for every further add of the slice without reading the clock.
constexpr std::uint16_t kPosMapClockEvery = 8;
// Once this many bytes of blocks are held, a new block needs this much free
// physical memory.
constexpr std::uint32_t kPosMapGuardBytes = 32768;
constexpr std::uint64_t kPosMapMinFreeMemory = 524288;

struct PositionMap {
  std::uint16_t flags;  // bit 0 complete
  PosMapRun* runs;
  std::uint32_t runCount;
  std::uint32_t runCapacity;
  std::uint32_t blockBytes;  // bytes of entry blocks allocated since the last reset
  std::uint32_t sliceStart;
  std::uint16_t clockCountdown;  // adds left before the clock is read again
  bool sliceElapsed;             // the slice's time is up (until the next StartSlice)
  // The open run.
  PosMapEntry* open;  // null when no run is open
  std::uint16_t openCapacity;
  std::uint16_t openUsed;
  std::uint16_t openKeyHigh;
  std::uint16_t openValueHigh;
  std::uint32_t openFirstKey;
  std::uint32_t openFirstValue;
  // A closed run keeps an exact copy of its entries; its full block waits
  // here for the next run (null when there is none).
  PosMapEntry* spare;
  std::uint16_t spareCapacity;
  // The batch of adds not yet placed in a run.
  std::uint16_t batchCount;
  std::uint32_t batchKeys[kPosMapBatch];
  std::uint32_t batchValues[kPosMapBatch];
  // Collaborators: the clock of the slices and the free-memory query of the
  // guard (null: the system's).
  const DeviceClock* clock;
  std::uint64_t (*freeMemory)() noexcept;
};
constexpr std::uint16_t kPosMapComplete = 1;

// Everything behind one device's PosMapCommand and TableStoreCommand.
struct DeviceServices {
  PositionMap* map;    // null until PosMapCommand 0
  TableStore* tables;  // created and freed with the map
  DeviceProgress progress;
  DeviceClock clock;                       // read by the map, the store and the progress protocol
  std::uint64_t (*freeMemory)() noexcept;  // null: the system's
};

// The whole of PosMapCommand for a device: codes 0-7 and 9 on the map and
// store, 10-14 the progress protocol; kNotSupported for 8 and above 14.
//   0: a new, empty map and table store (an existing pair is freed first);
//      kOutOfMemory; the store's failure frees the map again.
//   1: frees the store and the map; 0 also when there is none.
//   2: empties both, keeps the run table; the complete flag cleared.
//   3: in = u32* end key, out = u32* end value: flush, close the open run
//      with them, set complete.
//   4: starts a slice.
//   5: in = u32* key, out = u32* value: adds the pair; kPosMapSliceElapsed
//      when 62 ms or more passed since code 4 (seen on the clock read every
//      kPosMapClockEvery adds), else 0; kOutOfMemory when a block or run
//      cannot be had (pairs already placed stay valid).
//   6: in = u32* key (in/out), out = u32* value: the pair of the last line at
//      or before the key: 0. Outside every line: 5 with the end key and value
//      of the last closed run (0, 0 without one).
//   7: the same by value: out = u32* value (in/out), in = u32* key (out).
//   9: out = u32[4]: run count, run capacity, key and value where the open
//      run began.
// Codes 1-9 on a device without a map answer kFailed. Missing pointers
// answer kNullOutPointer.
StatusCode PosMap_Command(EngineObject* device, DeviceServices* services, std::uint16_t code,
                          void* in, void* out) noexcept;
// Frees the store and the map (code 1); for a device's Destroy.
void PosMap_ReleaseServices(DeviceServices* services) noexcept;

// The map operations themselves, for the command set and direct callers.
StatusCode PosMap_Create(const DeviceClock* clock, std::uint64_t (*freeMemory)() noexcept,
                         PositionMap** out) noexcept;
void PosMap_Free(PositionMap* map) noexcept;  // null allowed
void PosMap_Reset(PositionMap* map) noexcept;
StatusCode PosMap_Finish(PositionMap* map, std::uint32_t endKey, std::uint32_t endValue) noexcept;
void PosMap_StartSlice(PositionMap* map) noexcept;
StatusCode PosMap_Add(PositionMap* map, std::uint32_t key, std::uint32_t value) noexcept;
// Lookups see the closed runs, the open run and the batch, and compare whole
// 32-bit keys and values.
StatusCode PosMap_FindByKey(const PositionMap* map, std::uint32_t* key,
                            std::uint32_t* value) noexcept;
StatusCode PosMap_FindByValue(const PositionMap* map, std::uint32_t* key,
                              std::uint32_t* value) noexcept;
// The physical memory the system has free, in bytes.
std::uint64_t PosMap_SystemFreeMemory() noexcept;
