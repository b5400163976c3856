#include "app/core/worker.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "engine/view/text_view.h"

namespace {

std::atomic<WorkerKind> g_busy{WorkerKind::None};

std::uint32_t SteadyTicks() noexcept {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::atomic<WorkerClock> g_clock{&SteadyTicks};

// Clears the busy word however the runner leaves.
struct BusyScope {
  explicit BusyScope(WorkerKind kind) { g_busy.store(kind); }
  ~BusyScope() { g_busy.store(WorkerKind::None); }
};

}  // namespace

WorkerKind Worker_Busy() noexcept {
  return g_busy.load();
}

std::int32_t Worker_Percent(std::uint64_t done, std::uint64_t total) noexcept {
  if (total == 0) return 0;
  if (done >= total) return 100;
  // done < total, so done * 100 fits whenever total does not overflow it.
  if (done <= UINT64_MAX / 100) return static_cast<std::int32_t>(done * 100 / total);
  return static_cast<std::int32_t>(done / (total / 100 + 1));
}

bool Worker_Publish(WorkerShared& shared, std::int64_t percent) noexcept {
  shared.progress.store(static_cast<std::int32_t>(std::clamp<std::int64_t>(percent, 0, 100)),
                        std::memory_order_release);
  return Worker_Cancelled(shared);
}

bool Worker_Cancelled(const WorkerShared& shared) noexcept {
  return shared.cancel.load(std::memory_order_acquire);
}

void Worker_Finish(WorkerShared& shared) noexcept {
  shared.progress.store(kWorkerFinished, std::memory_order_release);
}

WorkerTick Worker_Tick(const WorkerShared& shared) noexcept {
  WorkerTick t;
  t.pages = shared.pageCount.load(std::memory_order_acquire);
  t.total = shared.pageTotal.load(std::memory_order_acquire);
  const std::int32_t p = shared.progress.load(std::memory_order_acquire);
  if (p == kWorkerFinished || shared.ended.load(std::memory_order_acquire)) {
    t.over = true;
    t.percent = 100;
  } else {
    t.percent = std::clamp(p, 0, 100);
  }
  return t;
}

WorkerClock Worker_SetClock(WorkerClock clock) noexcept {
  return g_clock.exchange(clock != nullptr ? clock : &SteadyTicks);
}

std::uint32_t Worker_Ticks() noexcept {
  return g_clock.load()();
}

bool Worker_Run(WorkerKind kind, WorkerShared& shared,
                const std::function<void(WorkerShared&)>& body,
                const std::function<void(WorkerShared&)>& dialog) {
  if (g_busy.load() != WorkerKind::None || !body) return false;
  shared.progress.store(0);
  shared.pageCount.store(-1);
  shared.pageTotal.store(-1);
  shared.cancel.store(false);
  shared.ended.store(false);
  BusyScope busy(kind);
  // The work's time counts from before its thread starts.
  const std::uint32_t start = Worker_Ticks();
  std::thread worker;
  try {
    worker = std::thread([&shared, &body] {
      body(shared);
      shared.ended.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    return false;  // no thread: the caller treats it as a failed operation
  }
  for (;;) {
    const std::int32_t p = shared.progress.load(std::memory_order_acquire);
    if (shared.ended.load(std::memory_order_acquire)) break;
    // A worker that got past a quarter in time, or that has finished its
    // work and is only returning, never shows the dialog.
    if (dialog && p >= 0 && p < kWorkerDialogBelow &&
        static_cast<std::uint32_t>(Worker_Ticks() - start) >= kWorkerDialogDelayMs) {
      dialog(shared);
      break;
    }
    // One poll interval, cut short when the worker ends (a worker that
    // ends at once, as a short print often does, costs no whole poll).
    for (std::uint32_t waited = 0;
         waited < kWorkerPollMs && !shared.ended.load(std::memory_order_acquire); ++waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // The dialog closed on Cancel or because the worker ended: either way the
  // worker stops after its current step, and is waited for.
  shared.cancel.store(true, std::memory_order_release);
  worker.join();
  return true;
}

void Worker_FindProc(FindJob& job, WorkerShared& shared) noexcept {
  if (Worker_Cancelled(shared)) return;
  const TextViewOps& tv = OpsOf<TextViewOps>(job.textView);
  for (;;) {
    std::int16_t percent = 0;
    const StatusCode s = tv.findStep(job.textView, job.search, &percent);
    if (IsFailure(s) || s == kViewFindEnded) {
      Worker_Finish(shared);
      job.result = s;
      return;
    }
    if (Worker_Publish(shared, static_cast<std::uint16_t>(percent))) return;
  }
}
