#include "engine/runtime/thread.h"

#include <atomic>
#include <new>
#include <system_error>
#include <thread>

#include "engine/runtime/allocator.h"

namespace {

const ThreadOps kThreadOps = {
    Core_NotImplemented, Thread_Create,    Thread_Release,
    Thread_Join,         Thread_GetResult, Core_NotImplemented,
};

struct ThreadBody {
  ThreadRoutine routine;
  void* argument;
  std::atomic<std::int32_t> result;
  std::thread thread;
};

using ThreadInstance = EngineInstance<ThreadBody>;

ThreadBody& Body(EngineObject* thread) {
  return BodyOf<ThreadBody>(thread);
}

}  // namespace

EngineObject ThreadModule = {nullptr, &kThreadOps};

StatusCode Thread_Create(EngineObject*, ThreadRoutine routine, void* argument,
                         EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (routine == nullptr) return kBadArgument;
  void* block = nullptr;
  if (Engine_Alloc(sizeof(ThreadInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) ThreadInstance{};
  inst->header = {&inst->body, &kThreadOps};
  ThreadBody& b = inst->body;
  b.routine = routine;
  b.argument = argument;
  b.result.store(static_cast<std::int32_t>(kFailed));
  try {
    b.thread =
        std::thread([&b] { b.result.store(static_cast<std::int32_t>(b.routine(b.argument))); });
  } catch (const std::system_error&) {
    inst->~ThreadInstance();
    Engine_Free(block);
    return kThreadStartFailed;
  }
  *out = &inst->header;
  return kOk;
}

StatusCode Thread_Join(EngineObject* thread) noexcept {
  if (thread == nullptr) return kBadArgument;
  ThreadBody& b = Body(thread);
  if (!b.thread.joinable()) return kOk;
  if (b.thread.get_id() == std::this_thread::get_id()) return kFailed;
  try {
    b.thread.join();
  } catch (const std::system_error&) {
    return kFailed;
  }
  return kOk;
}

StatusCode Thread_Release(EngineObject* thread) noexcept {
  if (thread == nullptr) return kBadArgument;
  const StatusCode s = Thread_Join(thread);
  if (s != kOk) return s;
  static_cast<ThreadInstance*>(static_cast<void*>(thread))->~ThreadInstance();
  Engine_Free(thread);
  return kOk;
}

StatusCode Thread_GetResult(EngineObject* thread) noexcept {
  if (thread == nullptr) return kBadArgument;
  return static_cast<StatusCode>(Body(thread).result.load());
}
