#include "engine/runtime/sync.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "engine/runtime/allocator.h"

namespace {

const SyncOps kSyncOps = {Core_NotImplemented, Sync_CreateSemaphore, Sync_CreateEvent,
                          Core_NotImplemented};
const SemaphoreOps kSemaphoreOps = {Core_NotImplemented, Sync_Release, Sync_WaitSemaphore,
                                    Sync_SignalSemaphore, Core_NotImplemented};
const EventOps kEventOps = {Core_NotImplemented, Sync_Release, Sync_WaitEvent, Sync_SetEvent,
                            Core_NotImplemented};

// One body serves both kinds: a semaphore counts in `count` up to `maximum`;
// an event keeps 0 or 1 there, with `maximum` 1 and `manualReset` its kind.
struct SyncBody {
  std::mutex mutex;
  std::condition_variable changed;
  std::uint32_t count = 0;
  std::uint32_t maximum = 1;
  bool manualReset = false;
};

using SyncInstance = EngineInstance<SyncBody>;

SyncBody& Body(EngineObject* object) {
  return BodyOf<SyncBody>(object);
}

StatusCode NewObject(const void* ops, std::uint32_t count, std::uint32_t maximum, bool manual,
                     EngineObject** out) {
  void* block = nullptr;
  if (Engine_Alloc(sizeof(SyncInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) SyncInstance{};
  inst->header = {&inst->body, ops};
  inst->body.count = count;
  inst->body.maximum = maximum;
  inst->body.manualReset = manual;
  *out = &inst->header;
  return kOk;
}

// Waits for a count; takes it unless the object is a manual-reset event.
bool Take(SyncBody& b, std::uint32_t milliseconds) {
  std::unique_lock lock(b.mutex);
  const auto ready = [&b] { return b.count > 0; };
  if (milliseconds == kSyncWaitForever) {
    b.changed.wait(lock, ready);
  } else if (!b.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return false;
  }
  if (!b.manualReset) --b.count;
  return true;
}

}  // namespace

EngineObject SyncModule = {nullptr, &kSyncOps};

StatusCode Sync_CreateSemaphore(EngineObject*, std::uint32_t initial, std::uint32_t maximum,
                                EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (maximum == 0 || initial > maximum) return kFailed;
  return NewObject(&kSemaphoreOps, initial, maximum, false, out);
}

StatusCode Sync_CreateEvent(EngineObject*, bool manualReset, bool initiallySet,
                            EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  return NewObject(&kEventOps, initiallySet ? 1 : 0, 1, manualReset, out);
}

StatusCode Sync_Release(EngineObject* object) noexcept {
  if (object == nullptr) return kBadArgument;
  static_cast<SyncInstance*>(static_cast<void*>(object))->~SyncInstance();
  Engine_Free(object);
  return kOk;
}

StatusCode Sync_WaitSemaphore(EngineObject* semaphore, std::uint32_t milliseconds) noexcept {
  if (semaphore == nullptr) return kBadArgument;
  return Take(Body(semaphore), milliseconds) ? kOk : kSemaphoreTimeout;
}

StatusCode Sync_SignalSemaphore(EngineObject* semaphore) noexcept {
  if (semaphore == nullptr) return kBadArgument;
  SyncBody& b = Body(semaphore);
  {
    std::lock_guard lock(b.mutex);
    if (b.count >= b.maximum) return kFailed;
    ++b.count;
  }
  b.changed.notify_one();
  return kOk;
}

StatusCode Sync_WaitEvent(EngineObject* event, std::uint32_t milliseconds) noexcept {
  if (event == nullptr) return kBadArgument;
  return Take(Body(event), milliseconds) ? kOk : kEventTimeout;
}

StatusCode Sync_SetEvent(EngineObject* event, bool set) noexcept {
  if (event == nullptr) return kBadArgument;
  SyncBody& b = Body(event);
  {
    std::lock_guard lock(b.mutex);
    b.count = set ? 1 : 0;
  }
  if (set) b.changed.notify_all();
  return kOk;
}
