// One engine owner at a time, through the real main window and view: while a
// find or a print pagination runs on a worker, the user-interface thread
// calls none of the screen text view's functions (not the main window's
// command refresh, not the view's timers), and the commands that start a
// worker stop auto-scroll first; the same while a print's pages are drawn
// on a worker. Small enough that test.sh also runs it under
// ThreadSanitizer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "app/core/commands.h"
#include "app/core/worker.h"
#include "app/dialogs/find_dialog.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "app/window/progress_dialog.h"
#include "engine/formats/text_doc.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/reader_fixture.h"

namespace {

// Calls of the screen text view made on the user-interface thread while a
// worker has the engine.
std::thread::id g_uiThread;
std::atomic<int> g_uiCalls{0};
const TextViewOps* g_real = nullptr;

void Note() {
  if (std::this_thread::get_id() == g_uiThread && Worker_Busy() != WorkerKind::None) ++g_uiCalls;
}
StatusCode CountNavigate(EngineObject* v, std::uint16_t c, std::uint32_t a) noexcept {
  Note();
  return g_real->navigate(v, c, a);
}
StatusCode CountPointer(EngineObject* v, std::uint16_t e, std::int16_t x, std::int16_t y) noexcept {
  Note();
  return g_real->pointerEvent(v, e, x, y);
}
StatusCode CountSelection(EngineObject* v, std::uint16_t c, std::uint32_t a) noexcept {
  Note();
  return g_real->selectionCommand(v, c, a);
}
StatusCode CountPage(EngineObject* v, std::uint16_t* p, std::uint16_t* n) noexcept {
  Note();
  return g_real->getPageNumber(v, p, n);
}
StatusCode CountPosList(EngineObject* v, std::uint16_t c, std::uint32_t a, void* io) noexcept {
  Note();
  return g_real->positionListCommand(v, c, a, io);
}
StatusCode CountControl(EngineObject* v, std::uint16_t c, std::uint32_t a, void* io) noexcept {
  Note();
  return g_real->control(v, c, a, io);
}
StatusCode CountAnnot(EngineObject* v, std::uint16_t c, std::uint32_t a, void* io) noexcept {
  Note();
  return g_real->annotCommand(v, c, a, io);
}

// The plain-text handler with every text window slowed down, so that the
// worker is still running when the test looks.
StatusCode SlowGetText(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                       std::uint32_t* length) noexcept {
  QThread::msleep(2);
  return OpsOf<DocHandlerOps>(&TextDocModule).getText(handler, position, text, length);
}

// Every read of the workers' clock is 300 ms later: a worker's dialog shows
// at its first poll.
std::atomic<std::uint32_t> g_ticks{0};
std::uint32_t SlowClock() noexcept {
  return g_ticks.fetch_add(300);
}

class EngineOwnerTest : public ReaderTest {
 protected:
  void SetUp() override {
    WriteFile("book.txt", NumberedLines(40000, " of a long plain text book to read."));
    g_uiThread = std::this_thread::get_id();
  }

  // The screen text view's calls are counted from now on (Note); answers
  // its own functions, to put back.
  static const void* CountCalls(EngineObject* tv) {
    g_real = &OpsOf<TextViewOps>(tv);
    const void* realOps = tv->ops;
    static TextViewOps counting;
    counting = *g_real;
    counting.navigate = &CountNavigate;
    counting.pointerEvent = &CountPointer;
    counting.selectionCommand = &CountSelection;
    counting.getPageNumber = &CountPage;
    counting.positionListCommand = &CountPosList;
    counting.control = &CountControl;
    counting.annotCommand = &CountAnnot;
    tv->ops = &counting;
    return realOps;
  }
};

TEST_F(EngineOwnerTest, WhileAWorkerRunsTheWindowLeavesTheEngineAloneAndAutoScrollStops) {
  const auto frame = ActiveWindow();
  ASSERT_TRUE(frame->OpenDocumentFile(QString::fromStdString(files_.File("book.txt"))));
  QApplication::processEvents();
  KelpoView* view = frame->ActiveView();
  ASSERT_NE(view, nullptr);
  view->Render();
  EngineObject* tv = view->textView();
  EngineObject* reader = view->document()->state().reader;
  ASSERT_NE(tv, nullptr);
  ASSERT_NE(reader, nullptr);
  static const DocHandlerOps slow = [] {
    DocHandlerOps o = OpsOf<DocHandlerOps>(&TextDocModule);
    o.getText = &SlowGetText;
    return o;
  }();
  ASSERT_EQ(reader->ops, static_cast<const void*>(TextDocModule.ops));
  reader->ops = &slow;
  const void* realOps = CountCalls(tv);
  prefs_.setSearchText(u"haystack");  // nowhere: the search reads the whole text
  prefs_.setAutoScrollSpeed(20);
  const WorkerClock previousClock = Worker_SetClock(&SlowClock);

  // Answers every modal window: the find dialog with OK, the print dialog
  // with a PDF file, messages with OK; the first progress dialog is held
  // open for 700 ms with auto-scroll running and the view's timers asked to
  // step, then cancelled.
  bool autoScrollAtWorker = true;
  bool sawWorker = false;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (auto* print = qobject_cast<QPrintDialog*>(modal)) {
      print->printer()->setOutputFormat(QPrinter::PdfFormat);
      print->printer()->setOutputFileName(QString::fromStdString(files_.File("book.pdf")));
      print->done(QDialog::Accepted);
    } else if (auto* find = qobject_cast<FindDialog*>(modal)) {
      find->accept();
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      box->accept();
    } else if (auto* progress = qobject_cast<ProgressDialog*>(modal)) {
      if (sawWorker) return;
      poll.stop();
      sawWorker = true;
      autoScrollAtWorker = (view->viewMode() & ViewMode::AutoScroll) != 0;
      view->StartAutoScroll();
      QElapsedTimer wait;
      wait.start();
      while (progress->isVisible() && wait.elapsed() < 700) {
        QTest::qWait(10);
        for (int id = 1; id <= 4; ++id)
          view->OnTimer(id);
      }
      view->StopAutoScroll();
      if (progress->isVisible())
        QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
      poll.start();
    }
  });
  poll.start();

  QToolBar* mainBar = nullptr;
  for (QToolBar* bar : frame->findChildren<QToolBar*>())
    if (bar->windowTitle() == QStringLiteral("Menu")) mainBar = bar;
  ASSERT_NE(mainBar, nullptr);
  const struct {
    const char* name;
    std::function<void()> run;
  } kCommands[] = {
      {"Ctrl+F", [&] { QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier); }},
      {"Ctrl+P", [&] { QTest::keyClick(view, Qt::Key_P, Qt::ControlModifier); }},
      {"the tool bar's Print",
       [&] {
         QTest::mouseClick(mainBar->widgetForAction(frame->action(Cmd::Print)), Qt::LeftButton);
       }},
  };
  for (const auto& c : kCommands) {
    SCOPED_TRACE(c.name);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    view->setFocus();
    frame->action(Cmd::Autoscroll)->trigger();
    ASSERT_TRUE(view->viewMode() & ViewMode::AutoScroll);
    sawWorker = false;
    autoScrollAtWorker = true;
    g_uiCalls.store(0);
    g_ticks.store(0);
    c.run();
    EXPECT_TRUE(sawWorker) << "the worker's progress dialog showed";
    EXPECT_FALSE(autoScrollAtWorker) << "auto-scroll stopped before the worker started";
    EXPECT_EQ(g_uiCalls.load(), 0) << "engine calls of the user-interface thread during the worker";
    EXPECT_EQ(Worker_Busy(), WorkerKind::None);
  }
  poll.stop();
  Worker_SetClock(previousClock);
  tv->ops = realOps;
  reader->ops = TextDocModule.ops;
}

TEST_F(EngineOwnerTest, WhileThePagesArePrintedTheWindowLeavesTheEngineAlone) {
  // A print whose pages are drawn on a worker: the pagination runs to its
  // end, then the pages' dialog is held open with the view's timers asked
  // to step and the main window refreshing its commands, then cancelled.
  const QString pages =
      WriteFile("pages.txt", NumberedLines(12000, " of a book whose pages are printed."));
  const auto frame = ActiveWindow();
  ASSERT_TRUE(frame->OpenDocumentFile(pages));
  QApplication::processEvents();
  KelpoView* view = frame->ActiveView();
  ASSERT_NE(view, nullptr);
  view->Render();
  EngineObject* tv = view->textView();
  const void* realOps = CountCalls(tv);
  g_ticks.store(0);
  const WorkerClock previousClock = Worker_SetClock(&SlowClock);
  const std::string pdf = files_.File("pages.pdf");
  bool sawPages = false;
  WorkerKind busy = WorkerKind::None;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (auto* print = qobject_cast<QPrintDialog*>(modal)) {
      print->printer()->setOutputFormat(QPrinter::PdfFormat);
      print->printer()->setOutputFileName(QString::fromStdString(pdf));
      print->done(QDialog::Accepted);
    } else if (auto* progress = qobject_cast<ProgressDialog*>(modal)) {
      if (progress->kind() != ProgressDialog::Kind::Printing || sawPages) return;
      poll.stop();
      sawPages = true;
      busy = Worker_Busy();
      QElapsedTimer wait;
      wait.start();
      while (progress->isVisible() && wait.elapsed() < 700) {
        QTest::qWait(10);
        for (int id = 1; id <= 4; ++id)
          view->OnTimer(id);
      }
      if (progress->isVisible())
        QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
    }
  });
  poll.start();
  g_uiCalls.store(0);
  view->setFocus();
  QTest::keyClick(view, Qt::Key_P, Qt::ControlModifier);
  poll.stop();
  Worker_SetClock(previousClock);
  tv->ops = realOps;
  EXPECT_TRUE(sawPages) << "the pages' progress dialog showed";
  EXPECT_EQ(busy, WorkerKind::Print);
  EXPECT_EQ(g_uiCalls.load(), 0)
      << "engine calls of the user-interface thread while pages are drawn";
  EXPECT_EQ(Worker_Busy(), WorkerKind::None);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf))) << "a cancelled print leaves no file";
}

}  // namespace
