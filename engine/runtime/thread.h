// Threads as engine objects: a routine runs on a new thread and its 32-bit
// answer is kept for the creator. ThreadModule and its instances answer the
// same table; Create is called on the module.
//
// Release joins a thread that is still running before freeing the object, so
// the thread never writes into freed memory (and no std::thread is destroyed
// while joinable).
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x002.
constexpr StatusCode kThreadStartFailed = MakeFailure(Facility::Thread, 0x01);

// The routine's answer, preset to kFailed until it returns.
using ThreadRoutine = StatusCode (*)(void* argument) noexcept;

struct ThreadOps {
  CoreEndWord word0;
  // 1 (module): starts routine(argument) on a new thread, running at once.
  // kThreadStartFailed when no thread can be started (nothing is kept);
  // kOutOfMemory; kNullOutPointer; kBadArgument without a routine.
  StatusCode (*create)(EngineObject* module, ThreadRoutine routine, void* argument,
                       EngineObject** out) noexcept;
  // 2: waits for the thread when it was not joined yet, then frees the
  // object. 0, or kFailed when called on the thread itself (nothing freed).
  StatusCode (*release)(EngineObject* thread) noexcept;
  // 3: waits without time limit for the routine to return. 0 (also when it
  // was joined before); kFailed when called on the thread itself.
  StatusCode (*join)(EngineObject* thread) noexcept;
  // 4: the routine's answer as the status itself; kFailed while it has not
  // returned.
  StatusCode (*getResult)(EngineObject* thread) noexcept;
  CoreEndWord end;
};

extern EngineObject ThreadModule;

StatusCode Thread_Create(EngineObject* module, ThreadRoutine routine, void* argument,
                         EngineObject** out) noexcept;
StatusCode Thread_Release(EngineObject* thread) noexcept;
StatusCode Thread_Join(EngineObject* thread) noexcept;
StatusCode Thread_GetResult(EngineObject* thread) noexcept;
