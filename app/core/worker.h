// Worker threads for the reading view's long work (find, print pagination
// and the drawing of printed pages), without Qt.
//
// The engine is single-threaded: while a worker calls it, the user-interface
// thread leaves every engine object alone (Worker_Busy tells the views to
// neither paint nor run their timers). Worker_Run starts one worker, polls it
// every 25 ms and, when the work is slow (250 ms gone with 25 % or less
// done), hands over to a modal progress dialog that polls the shared values
// itself. The dialog ends when the worker has ended or the user cancels;
// either way the worker is told to stop and joined before Worker_Run
// returns, so the job (on the caller's stack) outlives the thread.
//
// The worker and the dialog share only the atomics of WorkerShared. The
// worker publishes a percentage after every bounded step and checks the
// cancel request right after it, so a cancel stops it within one step.
// `ended` is set when the worker's procedure has returned, whatever it
// answered: a worker that fails half way, or that finishes while its dialog
// is opening, still ends the dialog.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/runtime/core.h"

// The values one worker and its progress dialog share.
struct WorkerShared {
  // 0..100 while running; -1 once the worker finished its work by itself.
  std::atomic<std::int32_t> progress{0};
  // The pagination's running page count, or the page a print is drawing; -1
  // until the first.
  std::atomic<std::int32_t> pageCount{-1};
  // The pages a print draws in all (-1 for other work).
  std::atomic<std::int32_t> pageTotal{-1};
  // Raised by the user-interface thread: the worker stops after its step.
  std::atomic<bool> cancel{false};
  // Raised when the worker's procedure has returned.
  std::atomic<bool> ended{false};
};

constexpr std::int32_t kWorkerFinished = -1;
constexpr std::uint32_t kWorkerPollMs = 25;          // the runner's poll
constexpr std::uint32_t kWorkerDialogDelayMs = 250;  // before a dialog may show
constexpr std::int32_t kWorkerDialogBelow = 26;      // ... and only below this percentage
constexpr std::uint32_t kWorkerDialogTickMs = 100;   // the progress dialog's poll

// What runs on the user-interface thread while a worker runs.
enum class WorkerKind : std::uint32_t { None = 0, Find = 1, Print = 4 };

// The kind of the worker running now (None when none): while it is not
// None, views leave the engine alone. Read on the user-interface thread.
WorkerKind Worker_Busy() noexcept;

// done * 100 / total in 64 bits, within 0..100; 0 when total is 0.
std::int32_t Worker_Percent(std::uint64_t done, std::uint64_t total) noexcept;

// The worker's side: publishes a percentage (kept within 0..100) and
// answers whether the user asked it to stop.
bool Worker_Publish(WorkerShared& shared, std::int64_t percent) noexcept;
bool Worker_Cancelled(const WorkerShared& shared) noexcept;
// The worker's work is done: progress -1.
void Worker_Finish(WorkerShared& shared) noexcept;

// What the dialog shows at one tick.
struct WorkerTick {
  bool over = false;         // the worker has ended or finished: close the dialog
  std::int32_t percent = 0;  // 0..100 (100 when over)
  std::int32_t pages = -1;   // the running page count, -1 when none yet
  std::int32_t total = -1;   // the pages in all, -1 when not told
};
WorkerTick Worker_Tick(const WorkerShared& shared) noexcept;

// The millisecond tick count read by the runner (wrapping u32). Tests
// replace it; null restores the steady clock. Answers the previous clock.
using WorkerClock = std::uint32_t (*)() noexcept;
WorkerClock Worker_SetClock(WorkerClock clock) noexcept;
std::uint32_t Worker_Ticks() noexcept;

// Runs body(shared) on a new thread and polls it as described above;
// dialog(shared) runs the modal progress dialog and returns when it has
// closed (a null dialog never shows). Returns after the worker has ended and
// been joined; false when no thread could be started (body never ran).
// Only one worker runs at a time: a call while another runs answers false.
bool Worker_Run(WorkerKind kind, WorkerShared& shared,
                const std::function<void(WorkerShared&)>& body,
                const std::function<void(WorkerShared&)>& dialog);

// ---------------------------------------------------------------------------
// Find on a worker: the text view's find steps between FindStart and
// FindFinish, which stay on the user-interface thread.

struct FindJob {
  EngineObject* textView = nullptr;
  EngineObject* search = nullptr;  // from the text view's FindStart
  // The last step's answer once the search ended (kViewFindEnded or a
  // failure); 0 while it did not end (cancelled).
  StatusCode result = kOk;
};

// The worker's procedure: steps the search until it ends or is cancelled.
void Worker_FindProc(FindJob& job, WorkerShared& shared) noexcept;
