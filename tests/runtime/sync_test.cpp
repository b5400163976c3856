#include "engine/runtime/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "engine/runtime/module_table.h"
#include "engine/runtime/thread.h"

namespace {

using Clock = std::chrono::steady_clock;

const SyncOps& Sync() {
  return OpsOf<SyncOps>(g_SyncModule);
}
const SemaphoreOps& Sem(EngineObject* s) {
  return OpsOf<SemaphoreOps>(s);
}
const EventOps& Ev(EngineObject* e) {
  return OpsOf<EventOps>(e);
}
const ThreadOps& Threads() {
  return OpsOf<ThreadOps>(g_ThreadModule);
}

TEST(Semaphore, CountsBetweenZeroAndItsMaximum) {
  EngineObject* s = nullptr;
  ASSERT_EQ(Sync().createSemaphore(g_SyncModule, 1, 1, &s), kOk);
  EXPECT_EQ(Sem(s).wait(s, 0), kOk);
  EXPECT_EQ(Sem(s).wait(s, 0), kSemaphoreTimeout);
  EXPECT_EQ(Sem(s).signal(s), kOk);
  EXPECT_EQ(Sem(s).signal(s), kFailed) << "past the maximum";
  EXPECT_EQ(Sem(s).wait(s, 0), kOk);
  EXPECT_EQ(Sem(s).wait(s, 0), kSemaphoreTimeout) << "the refused signal added nothing";
  const auto start = Clock::now();
  EXPECT_EQ(Sem(s).wait(s, 30), kSemaphoreTimeout);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(Sem(s).release(s), kOk);

  EXPECT_EQ(Sync().createSemaphore(g_SyncModule, 2, 1, &s), kFailed);
  EXPECT_EQ(Sync().createSemaphore(g_SyncModule, 0, 0, &s), kFailed);
}

struct Shared {
  EngineObject* items;
  EngineObject* room;
  std::atomic<int> consumed{0};
};

StatusCode Consume(void* argument) noexcept {
  auto* shared = static_cast<Shared*>(argument);
  for (int i = 0; i < 500; ++i) {
    if (Sem(shared->items).wait(shared->items, kSyncWaitForever) != kOk) return kFailed;
    shared->consumed.fetch_add(1);
    if (Sem(shared->room).signal(shared->room) != kOk) return kFailed;
  }
  return kOk;
}

TEST(Semaphore, BoundedHandOffBetweenThreads) {
  // Four consumers take 2000 items that the main thread hands over through a
  // buffer of 3: no item is lost or counted twice, no signal passes a maximum.
  Shared shared;
  ASSERT_EQ(Sync().createSemaphore(g_SyncModule, 0, 3, &shared.items), kOk);
  ASSERT_EQ(Sync().createSemaphore(g_SyncModule, 3, 3, &shared.room), kOk);
  std::vector<EngineObject*> threads(4);
  for (EngineObject*& t : threads)
    ASSERT_EQ(Threads().create(g_ThreadModule, Consume, &shared, &t), kOk);
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(Sem(shared.room).wait(shared.room, 5000), kOk);
    ASSERT_EQ(Sem(shared.items).signal(shared.items), kOk);
  }
  for (EngineObject* t : threads) {
    EXPECT_EQ(Threads().join(t), kOk);
    EXPECT_EQ(Threads().getResult(t), kOk);
    EXPECT_EQ(Threads().release(t), kOk);
  }
  EXPECT_EQ(shared.consumed.load(), 2000);
  EXPECT_EQ(Sem(shared.items).release(shared.items), kOk);
  EXPECT_EQ(Sem(shared.room).release(shared.room), kOk);
}

TEST(Event, ManualResetStaysSetAutoResetLetsOneThrough) {
  EngineObject* manual = nullptr;
  EngineObject* autoReset = nullptr;
  ASSERT_EQ(Sync().createEvent(g_SyncModule, true, false, &manual), kOk);
  ASSERT_EQ(Sync().createEvent(g_SyncModule, false, true, &autoReset), kOk);
  EXPECT_EQ(Ev(manual).wait(manual, 0), kEventTimeout);
  EXPECT_EQ(Ev(manual).set(manual, true), kOk);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Ev(manual).wait(manual, 0), kOk);
  EXPECT_EQ(Ev(manual).set(manual, false), kOk);
  EXPECT_EQ(Ev(manual).wait(manual, 10), kEventTimeout);

  EXPECT_EQ(Ev(autoReset).wait(autoReset, 0), kOk);
  EXPECT_EQ(Ev(autoReset).wait(autoReset, 0), kEventTimeout);
  EXPECT_EQ(Ev(autoReset).set(autoReset, true), kOk);
  EXPECT_EQ(Ev(autoReset).set(autoReset, true), kOk);  // sets do not add up
  EXPECT_EQ(Ev(autoReset).wait(autoReset, 0), kOk);
  EXPECT_EQ(Ev(autoReset).wait(autoReset, 0), kEventTimeout);
  EXPECT_EQ(Ev(manual).release(manual), kOk);
  EXPECT_EQ(Ev(autoReset).release(autoReset), kOk);
}

StatusCode SetAfterAPause(void* argument) noexcept {
  auto* event = static_cast<EngineObject*>(argument);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return Ev(event).set(event, true);
}

TEST(Event, AWaitWithoutLimitIsWokenByAnotherThread) {
  EngineObject* event = nullptr;
  ASSERT_EQ(Sync().createEvent(g_SyncModule, false, false, &event), kOk);
  EngineObject* thread = nullptr;
  ASSERT_EQ(Threads().create(g_ThreadModule, SetAfterAPause, event, &thread), kOk);
  EXPECT_EQ(Ev(event).wait(event, kSyncWaitForever), kOk);
  EXPECT_EQ(Threads().release(thread), kOk);
  EXPECT_EQ(Ev(event).release(event), kOk);
}

StatusCode Answer(void* argument) noexcept {
  return static_cast<StatusCode>(*static_cast<std::int32_t*>(argument));
}

TEST(Thread, ResultIsTheRoutinesAnswerAfterJoin) {
  for (std::int32_t value : {0, 1, -1, 0x7FFFFFFF, static_cast<std::int32_t>(0x80150002u)}) {
    EngineObject* thread = nullptr;
    ASSERT_EQ(Threads().create(g_ThreadModule, Answer, &value, &thread), kOk);
    ASSERT_EQ(Threads().join(thread), kOk);
    EXPECT_EQ(static_cast<std::int32_t>(Threads().getResult(thread)), value);
    EXPECT_EQ(Threads().join(thread), kOk) << "a second join";
    EXPECT_EQ(Threads().release(thread), kOk);
  }
}

struct Slow {
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  EngineObject* self = nullptr;
  StatusCode selfJoin = kOk;
};

StatusCode SlowRoutine(void* argument) noexcept {
  auto* slow = static_cast<Slow*>(argument);
  slow->started = true;
  while (slow->self == nullptr)
    std::this_thread::yield();
  slow->selfJoin = Threads().join(slow->self);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  slow->finished = true;
  return kOk;
}

TEST(Thread, ReleaseBeforeJoinWaitsForTheRoutine) {
  // The routine still runs when the object is released: releasing must wait
  // rather than free memory the thread writes to (or end the process).
  Slow slow;
  EngineObject* thread = nullptr;
  ASSERT_EQ(Threads().create(g_ThreadModule, SlowRoutine, &slow, &thread), kOk);
  EXPECT_EQ(Threads().getResult(thread), kFailed) << "not returned yet";
  slow.self = thread;
  EXPECT_EQ(Threads().release(thread), kOk);
  EXPECT_TRUE(slow.finished.load());
  EXPECT_EQ(slow.selfJoin, kFailed) << "a thread cannot join itself";
}

}  // namespace
