// The worker protocol without Qt: a search stepped on a worker thread finds
// what the literal find engine finds when run directly; a cancel stops a
// worker within one step; the progress dialog shows only for slow work and
// always closes once its worker has ended; progress never divides by zero.
// These tests also run under ThreadSanitizer (test.sh).
#include "app/core/worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/formats/text_doc.h"
#include "engine/formats/text_search.h"
#include "engine/runtime/module_table.h"
#include "engine/view/text_view_internal.h"
#include "tests/support/fake_device.h"

namespace {

using namespace std::chrono_literals;

// A clock the tests move by hand (the worker moves it from its thread).
std::atomic<std::uint32_t> g_now{0};
std::uint32_t TestClock() noexcept {
  return g_now.load();
}

// Every read is 300 ms later: work is slow from the start, and its dialog
// shows at the first poll.
std::uint32_t SteppingClock() noexcept {
  return g_now.fetch_add(300);
}

class WorkerClockScope {
 public:
  explicit WorkerClockScope(WorkerClock clock = &TestClock) {
    g_now.store(0);
    previous_ = Worker_SetClock(clock);
  }
  ~WorkerClockScope() { Worker_SetClock(previous_); }

 private:
  WorkerClock previous_;
};

// Waits on the worker's side until pred holds (5 s at most, so a broken
// protocol fails the test instead of hanging it).
template <typename Pred>
bool WaitFor(Pred pred) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// What the progress dialog does, without a window: ticks until the worker is
// over or the time runs out. Answers whether it saw the worker end.
bool PollLikeTheDialog(const WorkerShared& shared, WorkerTick* last) {
  return WaitFor([&] {
    *last = Worker_Tick(shared);
    return last->over;
  });
}

TEST(WorkerPercent, NeverDividesByZeroNorOverflows) {
  struct Row {
    std::uint64_t done, total;
    std::int32_t want;
    const char* why;
  };
  const Row rows[] = {
      {0, 0, 0, "an empty document"},
      {7, 0, 0, "an empty span with something reported done"},
      {50, 200, 25, "plain quarter"},
      {200, 200, 100, "the end"},
      {300, 200, 100, "past the end is kept at 100"},
      {50'000'000, 100'000'000, 50, "offset * 100 passes 32 bits"},
      {UINT64_MAX - 1, UINT64_MAX, 99, "offset * 100 passes 64 bits"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(Worker_Percent(r.done, r.total), r.want) << r.why;
}

TEST(WorkerRun, TheDialogShowsOnlyForSlowWork) {
  WorkerClockScope clock;
  struct Row {
    const char* why;
    std::function<void(WorkerShared&)> body;
    bool dialogShown;
  };
  const Row rows[] = {
      {"ends within 250 ms",
       [](WorkerShared& s) {
         (void)Worker_Publish(s, 5);
         std::this_thread::sleep_for(60ms);  // two polls, the clock standing at 0
         Worker_Finish(s);
       },
       false},
      {"30 % done at 250 ms, then slow",
       [](WorkerShared& s) {
         (void)Worker_Publish(s, 30);
         g_now.store(1000);
         std::this_thread::sleep_for(120ms);  // several polls past the delay
         Worker_Finish(s);
       },
       false},
      {"10 % done at 250 ms",
       [](WorkerShared& s) {
         (void)Worker_Publish(s, 10);
         g_now.store(1000);
         // Runs until the dialog's end tells it to stop.
         EXPECT_TRUE(WaitFor([&] { return Worker_Cancelled(s); }));
       },
       true},
  };
  for (const Row& r : rows) {
    g_now.store(0);
    WorkerShared shared;
    int shown = 0;
    ASSERT_TRUE(Worker_Run(WorkerKind::Find, shared, r.body, [&](WorkerShared&) { ++shown; }))
        << r.why;
    EXPECT_EQ(shown, r.dialogShown ? 1 : 0) << r.why;
    EXPECT_TRUE(shared.ended.load()) << r.why;
  }
}

TEST(WorkerRun, CancelStopsTheWorkerWithinOneStep) {
  WorkerClockScope clock(&SteppingClock);  // slow: the dialog shows at the first poll
  std::atomic<int> steps{0};
  int stepsAfterCancel = 0;  // steps begun once the cancel was raised
  bool finished = false;
  WorkerShared shared;
  ASSERT_TRUE(Worker_Run(
      WorkerKind::Print, shared,
      [&](WorkerShared& s) {
        for (int i = 0; i < 100000; ++i) {
          if (Worker_Cancelled(s)) ++stepsAfterCancel;
          std::this_thread::sleep_for(200us);  // one bounded step
          ++steps;
          if (Worker_Publish(s, 1)) return;
        }
        finished = true;
      },
      [&](WorkerShared&) {
        // The user presses Cancel once the work is well under way.
        EXPECT_TRUE(WaitFor([&] { return steps.load() >= 20; }));
      }));
  EXPECT_FALSE(finished);
  EXPECT_GE(steps.load(), 20);
  EXPECT_LE(stepsAfterCancel, 1) << "the step in flight is the last one";
}

TEST(WorkerRun, AWorkerThatEndsAsItsDialogOpensClosesIt) {
  WorkerClockScope clock;
  // A worker that finishes its work, and one that fails half way (an engine
  // failure reports no -1): both end while the dialog is opening, and the
  // dialog must not wait for a value that never comes.
  for (const bool reportsFinish : {true, false}) {
    g_now.store(0);
    std::atomic<bool> opening{false};
    WorkerShared shared;
    WorkerTick last;
    bool sawEnd = false;
    ASSERT_TRUE(Worker_Run(
        WorkerKind::Find, shared,
        [&](WorkerShared& s) {
          (void)Worker_Publish(s, 10);
          g_now.store(1000);
          EXPECT_TRUE(WaitFor([&] { return opening.load(); }));
          if (reportsFinish) Worker_Finish(s);
        },
        [&](WorkerShared& s) {
          opening.store(true);
          sawEnd = PollLikeTheDialog(s, &last);
        }));
    EXPECT_TRUE(sawEnd) << (reportsFinish ? "finished" : "failed");
    EXPECT_TRUE(last.over);
    EXPECT_EQ(last.percent, 100);
  }
}

TEST(WorkerRun, OneWorkerAtATimeAndTheBusyWordFollowsIt) {
  EXPECT_EQ(Worker_Busy(), WorkerKind::None);
  WorkerClockScope clock(&SteppingClock);
  WorkerShared outer, inner;
  WorkerKind seen = WorkerKind::None;
  bool innerRan = false, innerStarted = true;
  ASSERT_TRUE(Worker_Run(
      WorkerKind::Print, outer,
      [](WorkerShared& s) { EXPECT_TRUE(WaitFor([&] { return Worker_Cancelled(s); })); },
      [&](WorkerShared&) {
        // The dialog's event loop runs other views' timers: they see the
        // engine busy, and a second worker is refused without running.
        seen = Worker_Busy();
        innerStarted = Worker_Run(
            WorkerKind::Find, inner, [&](WorkerShared&) { innerRan = true; }, nullptr);
      }));
  EXPECT_EQ(seen, WorkerKind::Print);
  EXPECT_FALSE(innerStarted);
  EXPECT_FALSE(innerRan);
  EXPECT_EQ(Worker_Busy(), WorkerKind::None);
}

// ---------------------------------------------------------------------------
// Find on the worker against the literal find engine.

// About 330 KB of numbered lines, so one search takes dozens of steps; the
// needle sits on a few far lines, in two cases.
std::string BigDocument() {
  std::string text;
  for (int k = 0; k < 6000; ++k) {
    text += "line " + std::to_string(k) + " of plain filler words for the search";
    if (k == 2500) text += " Needle";
    if (k == 4000 || k == 5990) text += " needle";
    text += "\n";
  }
  return text;
}

// The plain-text handler with every text window slowed down, so a search
// over the big document takes long enough to be cancelled half way.
StatusCode SlowGetText(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                       std::uint32_t* length) noexcept {
  std::this_thread::sleep_for(4ms);  // about 70 windows: the first poll sees none done
  return OpsOf<DocHandlerOps>(&TextDocModule).getText(handler, position, text, length);
}
const DocHandlerOps& SlowTextOps() {
  static const DocHandlerOps ops = [] {
    DocHandlerOps o = OpsOf<DocHandlerOps>(&TextDocModule);
    o.getText = &SlowGetText;
    return o;
  }();
  return ops;
}

class WorkerFindTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(g_TextViewModule, nullptr);
    text_ = BigDocument();
    device_ = FakeDevice_Open(200, 120);
    ASSERT_EQ(OpsOf<DocHandlerOps>(&TextDocModule).create(&TextDocModule, &handler_), kOk);
    ASSERT_EQ(DocOpsOf(handler_).command(handler_, DocCommand::AttachText, text_.data(),
                                         static_cast<std::uint32_t>(text_.size())),
              kOk);
    ASSERT_EQ(Tv().create(g_TextViewModule, &view_), kOk);
    ASSERT_EQ(Tv().setDevice(view_, device_), kOk);
    ASSERT_EQ(Tv().attachDocument(view_, handler_, nullptr), kOk);
    ASSERT_EQ(Tv().setViewport(view_, 0, 200, 120), kOk);
    ASSERT_EQ(Tv().paint(view_, nullptr, 0, 0, 200, 120), kOk);
  }
  void TearDown() override {
    if (view_) {
      EXPECT_EQ(Tv().destroy(view_), kOk);
    }
    if (handler_) {
      EXPECT_EQ(DocOpsOf(handler_).destroy(handler_), kOk);
    }
    if (device_) FakeDevice_Close(device_);
  }
  static const TextViewOps& Tv() { return OpsOf<TextViewOps>(g_TextViewModule); }
  TextView& V() { return *static_cast<TextView*>(view_->state); }

  struct Hit {
    StatusCode finish = kFailed;
    std::uint32_t start = 0, end = 0;
  };

  // The literal find engine run directly from where the view's next search
  // starts.
  Hit Direct(const std::string& pattern, std::uint32_t flags) {
    const std::uint32_t position =
        TextView_FindStartPosition(V(), (flags & TextSearchFlag::Backward) != 0);
    TextSearch* search = nullptr;
    Hit h;
    EXPECT_EQ(TextSearch_Start(g_TextSearchModule, pattern.data(),
                               static_cast<std::uint32_t>(pattern.size()),
                               static_cast<std::uint16_t>(flags), handler_, V().currentSection,
                               position, &search),
              kOk);
    StatusCode s;
    while ((s = TextSearch_Step(g_TextSearchModule, search, nullptr, nullptr)) == kOk) {
    }
    EXPECT_EQ(s, kTextSearchDone);
    h.finish = TextSearch_Finish(g_TextSearchModule, search, &h.start, &h.end);
    return h;
  }

  // The view's find with its steps on a worker (no dialog).
  Hit OnWorker(const std::string& pattern, std::uint32_t flags, WorkerShared* shared, FindJob* job,
               const std::function<void(WorkerShared&)>& dialog = nullptr) {
    Hit h;
    job->textView = view_;
    EXPECT_EQ(Tv().findStart(view_, reinterpret_cast<const std::uint8_t*>(pattern.data()),
                             static_cast<std::uint32_t>(pattern.size()), flags, &job->search),
              kOk);
    EXPECT_TRUE(Worker_Run(
        WorkerKind::Find, *shared, [job](WorkerShared& s) { Worker_FindProc(*job, s); }, dialog));
    h.finish = Tv().findFinish(view_, job->search);
    h.start = V().foundStart;
    h.end = V().foundEnd;
    return h;
  }

  std::string text_;
  EngineObject* device_ = nullptr;
  EngineObject* handler_ = nullptr;
  EngineObject* view_ = nullptr;
};

TEST_F(WorkerFindTest, TheWorkerFindsWhatTheLiteralEngineFinds) {
  struct Row {
    const char* pattern;
    std::uint32_t flags;
    const char* why;
  };
  // Run in order: each search starts where the one before left the view.
  const Row rows[] = {
      {"needle", 0, "first hit, case folded: the capital one on line 2500"},
      {"needle", TextSearchFlag::CaseSensitive, "case-sensitive from there: line 4000"},
      {"needle", TextSearchFlag::FromPosition, "again: line 5990"},
      {"needle", TextSearchFlag::Backward, "up from there: line 4000"},
      {"line 12 ", TextSearchFlag::WholeRange, "top to bottom: from the start"},
      {"no such words", TextSearchFlag::WholeDocument, "nowhere"},
  };
  for (const Row& r : rows) {
    const Hit want = Direct(r.pattern, r.flags);
    WorkerShared shared;
    FindJob job;
    const Hit got = OnWorker(r.pattern, r.flags, &shared, &job);
    EXPECT_EQ(job.result, kViewFindEnded) << r.why;
    EXPECT_EQ(shared.progress.load(), kWorkerFinished) << r.why;
    ASSERT_EQ(got.finish == kOk, want.finish == kOk) << r.why;
    if (want.finish != kOk) continue;
    EXPECT_EQ(got.start, want.start) << r.why;
    EXPECT_EQ(got.end, want.end) << r.why;
    // And the hit is the pattern's text (folded where the row folds).
    const std::string hit = text_.substr(got.start, got.end - got.start);
    EXPECT_EQ(hit.size(), std::string(r.pattern).size()) << r.why;
  }
}

TEST_F(WorkerFindTest, ACancelledSearchEndsUnfinished) {
  WorkerClockScope clock(&SteppingClock);  // the dialog shows at the first poll
  const void* fast = handler_->ops;
  handler_->ops = &SlowTextOps();
  WorkerShared shared;
  FindJob job;
  const Hit got =
      OnWorker("no such words", TextSearchFlag::WholeDocument, &shared, &job, [](WorkerShared& s) {
        // Cancel once the worker has made some progress.
        (void)WaitFor([&] { return s.progress.load() != 0; });
      });
  handler_->ops = fast;
  EXPECT_EQ(job.result, kOk) << "a cancelled search did not end";
  EXPECT_EQ(got.finish, kNotFound);
  EXPECT_GE(shared.progress.load(), 0);
  EXPECT_LT(shared.progress.load(), 100);
}

}  // namespace
