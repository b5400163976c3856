// Semaphores and events as engine objects, for use across threads. SyncModule
// creates them; each instance answers its own table (its first slot releases it).
//
// Waits take milliseconds; kSyncWaitForever waits without limit, 0 only
// tests. A semaphore never counts past its maximum: a signal there fails and
// changes nothing. An auto-reset event lets one wait through per set; a
// manual-reset event stays set for every wait until it is reset.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facilities 0x003 (semaphores) and 0x004 (events).
constexpr StatusCode kSemaphoreTimeout = MakeFailure(Facility::Semaphore, 0x03);
constexpr StatusCode kEventTimeout = MakeFailure(Facility::Event, 0x03);
constexpr StatusCode kEventResetFailed = MakeFailure(Facility::Event, 0x05);
constexpr StatusCode kEventSetFailed = MakeFailure(Facility::Event, 0x06);

constexpr std::uint32_t kSyncWaitForever = 0xFFFFFFFFu;

struct SyncOps {
  CoreEndWord word0;
  // 1: a semaphore counting from initial up to maximum. kFailed when maximum
  // is 0 or initial passes it; kOutOfMemory; kNullOutPointer.
  StatusCode (*createSemaphore)(EngineObject* module, std::uint32_t initial, std::uint32_t maximum,
                                EngineObject** out) noexcept;
  // 2: an event, manual-reset or auto-reset, set or not. kOutOfMemory;
  // kNullOutPointer.
  StatusCode (*createEvent)(EngineObject* module, bool manualReset, bool initiallySet,
                            EngineObject** out) noexcept;
  CoreEndWord end;
};

struct SemaphoreOps {
  CoreEndWord word0;
  // 1: frees the semaphore (no thread may still wait on it). 0.
  StatusCode (*release)(EngineObject* object) noexcept;
  // 2: takes one count, waiting up to milliseconds for one. 0, or
  // kSemaphoreTimeout.
  StatusCode (*wait)(EngineObject* semaphore, std::uint32_t milliseconds) noexcept;
  // 3: adds one count and wakes one waiter. kFailed at the maximum.
  StatusCode (*signal)(EngineObject* semaphore) noexcept;
  CoreEndWord end;
};

struct EventOps {
  CoreEndWord word0;
  // 1: frees the event (no thread may still wait on it). 0.
  StatusCode (*release)(EngineObject* object) noexcept;
  // 2: waits up to milliseconds for the event to be set; an auto-reset event
  // is reset by the wait that sees it. 0, or kEventTimeout.
  StatusCode (*wait)(EngineObject* event, std::uint32_t milliseconds) noexcept;
  // 3: sets (true) or resets (false) the event. 0.
  StatusCode (*set)(EngineObject* event, bool set) noexcept;
  CoreEndWord end;
};

extern EngineObject SyncModule;

StatusCode Sync_CreateSemaphore(EngineObject* module, std::uint32_t initial, std::uint32_t maximum,
                                EngineObject** out) noexcept;
StatusCode Sync_CreateEvent(EngineObject* module, bool manualReset, bool initiallySet,
                            EngineObject** out) noexcept;
StatusCode Sync_Release(EngineObject* object) noexcept;
StatusCode Sync_WaitSemaphore(EngineObject* semaphore, std::uint32_t milliseconds) noexcept;
StatusCode Sync_SignalSemaphore(EngineObject* semaphore) noexcept;
StatusCode Sync_WaitEvent(EngineObject* event, std::uint32_t milliseconds) noexcept;
StatusCode Sync_SetEvent(EngineObject* event, bool set) noexcept;
