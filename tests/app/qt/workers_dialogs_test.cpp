// The Find, Go To and progress dialogs driven headless, and the view's
// work on worker threads through them: a find from the dialog marks the hit
// the text holds; no match and no more matches are told; Go To answers by
// its fields and buttons and moves the view; the progress dialogs follow
// their worker, close at once for a worker that has already ended, and
// Cancel stops a print pagination so that nothing is printed. Each dialog
// is kept as a picture (KELPO_ARTIFACT_DIR).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <functional>

#include "app/core/doc_open.h"
#include "app/core/worker.h"
#include "app/dialogs/find_dialog.h"
#include "app/dialogs/goto_dialog.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/print_job.h"
#include "app/window/progress_dialog.h"
#include "app/window/workers.h"
#include "engine/formats/text_doc.h"
#include "engine/stores/settings_store.h"
#include "engine/view/text_view_internal.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/peer.h"
#include "tests/support/wide_text.h"

namespace {

// Acts on the next modal widget of type T once it is up (polled every 10
// ms while the watch lives); seen() tells whether it came.
class ModalWatch {
 public:
  template <typename T>
  static std::unique_ptr<ModalWatch> For(std::function<void(T*)> act) {
    auto watch = std::make_unique<ModalWatch>();
    ModalWatch* w = watch.get();
    w->timer_.setInterval(10);
    QObject::connect(&w->timer_, &QTimer::timeout, [w, act] {
      if (auto* t = qobject_cast<T*>(QApplication::activeModalWidget())) {
        w->timer_.stop();
        w->seen_ = true;
        act(t);
      }
    });
    w->timer_.start();
    return watch;
  }
  bool seen() const { return seen_; }

 private:
  QTimer timer_;
  bool seen_ = false;
};

// The text of the next message box, which is then closed.
std::unique_ptr<ModalWatch> TakeMessage(QString* text) {
  return ModalWatch::For<QMessageBox>([text](QMessageBox* box) {
    *text = box->text();
    box->accept();
  });
}

// Every read of the workers' clock is 300 ms later: the dialog of a
// worker shows at the first poll.
std::atomic<std::uint32_t> g_ticks{0};
std::uint32_t SlowClock() noexcept {
  return g_ticks.fetch_add(300);
}

class WorkersDialogsTest : public ViewTest {
 protected:
  void Open(const std::string& name, const std::string& text) {
    text_ = text;
    WriteFileBytes(files_.File(name), text_);
    OpenView(files_.File(name), QSize(500, 400), &ReaderDialogs());
  }
  // Numbered lines with a needle on a few of them, one far down.
  void OpenStory() {
    std::string text;
    for (int k = 0; k < 3000; ++k) {
      text += "Line " + std::to_string(k) + " of the story goes on and on.";
      if (k == 2 || k == 1500 || k == 2800) text += " A needle here.";
      text += "\n";
    }
    Open("story.txt", text);
  }
  TextView& V() { return *static_cast<TextView*>(view_->textView()->state); }
  std::uint32_t First() { return TextView_FirstOffset(V()); }
  std::uint32_t At(const std::string& what, std::size_t from = 0) {
    return static_cast<std::uint32_t>(text_.find(what, from));
  }

  std::string text_;
};

TEST_F(WorkersDialogsTest, FindDialogKeepsTheRequestAndTheViewMarksTheHit) {
  OpenStory();
  prefs_.setSearchText(u"old text");
  prefs_.setSearchOptions(FindOptions_Pack({true, false, FindRange::Up}));
  auto watch = ModalWatch::For<FindDialog>([&](FindDialog* d) {
    // Opened on the last request.
    EXPECT_EQ(d->textEdit()->text(), QStringLiteral("old text"));
    EXPECT_TRUE(d->matchCaseBox()->isChecked());
    EXPECT_FALSE(d->entireDocumentBox()->isChecked());
    EXPECT_EQ(d->rangeBox()->currentText(), QStringLiteral("Up"));
    // The user types a new one; the field keeps 31 characters at most.
    d->textEdit()->selectAll();
    QTest::keyClicks(d->textEdit(), QStringLiteral("NEEDLE and a long tail of words to cut"));
    EXPECT_EQ(d->textEdit()->text().size(), 31);
    d->textEdit()->selectAll();
    QTest::keyClicks(d->textEdit(), QStringLiteral("NEEDLE"));
    QTest::keyClick(d->matchCaseBox(), Qt::Key_Space);
    d->rangeBox()->setCurrentIndex(0);
    KeepPicture(d->grab().toImage(), QStringLiteral("find_dialog"));
    QTest::mouseClick(d->findButton(), Qt::LeftButton);
  });
  QString unexpected;
  auto boxes = TakeMessage(&unexpected);  // a search that finds nothing would wait for OK
  ASSERT_TRUE(RunFindDialog(view_.get(), &prefs_));
  EXPECT_TRUE(watch->seen());
  KelpoView_DoFind(view_.get(), false);  // what the Find command does next
  EXPECT_FALSE(boxes->seen()) << unexpected.toStdString();
  EXPECT_EQ(prefs_.searchText(), u"NEEDLE");
  const FindRequest r = FindOptions_Unpack(prefs_.searchOptions());
  EXPECT_FALSE(r.matchCase);
  EXPECT_FALSE(r.entireDocument);
  EXPECT_EQ(r.range, FindRange::Down);
  // Folded, downwards from the top of the screen: the first needle.
  EXPECT_EQ(V().foundStart, At("needle"));
  EXPECT_EQ(V().foundEnd, At("needle") + 6);
  EXPECT_TRUE(view_->findAgainEnabled());

  // Find Again goes on to the next one, far down: the view moves there.
  KelpoView_DoFind(view_.get(), true);
  EXPECT_EQ(V().foundStart, At("needle", At("Line 1500 ")));
  EXPECT_GT(First(), At("Line 1400 "));
}

TEST_F(WorkersDialogsTest, FindTellsNoMatchesAndNoMoreMatches) {
  OpenStory();
  struct Row {
    const char16_t* text;
    bool again;
    const char* message;  // null: no message
    bool againEnabled;
  };
  // In order: the last needle, then nothing more after it, then a word
  // that is nowhere.
  prefs_.setSearchText(u"needle");
  prefs_.setSearchOptions(FindOptions_Pack({false, false, FindRange::TopToBottom}));
  KelpoView_DoFind(view_.get(), false);
  ASSERT_EQ(V().foundStart, At("needle"));
  KelpoView_DoFind(view_.get(), true);
  KelpoView_DoFind(view_.get(), true);
  ASSERT_EQ(V().foundStart, At("needle", At("Line 2800 ")));
  const Row rows[] = {
      {u"needle", true, "No more matches for \"needle\".", false},
      {u"haystack", false, "No matches for \"haystack\".", false},
      {u"Line 7 ", false, nullptr, true},
  };
  for (const Row& r : rows) {
    prefs_.setSearchText(r.text);
    QString message;
    auto watch = TakeMessage(&message);
    KelpoView_DoFind(view_.get(), r.again);
    EXPECT_EQ(watch->seen(), r.message != nullptr);
    if (r.message != nullptr) {
      EXPECT_EQ(message, QString::fromUtf8(r.message));
    }
    EXPECT_EQ(view_->findAgainEnabled(), r.againEnabled);
  }
  EXPECT_EQ(V().foundStart, At("Line 7 "));
}

// The plain-text handler with every text window slowed down, so that a
// search lasts long enough to be cancelled from its dialog.
std::atomic<int> g_windows{0};
StatusCode SlowGetText(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                       std::uint32_t* length) noexcept {
  ++g_windows;
  QThread::msleep(4);
  return OpsOf<DocHandlerOps>(&TextDocModule).getText(handler, position, text, length);
}

TEST_F(WorkersDialogsTest, CancellingTheSearchKeepsFindAgain) {
  OpenStory();
  EngineObject* reader = doc_->state().reader;
  ASSERT_EQ(reader->ops, static_cast<const void*>(TextDocModule.ops));
  static const DocHandlerOps slow = [] {
    DocHandlerOps o = OpsOf<DocHandlerOps>(&TextDocModule);
    o.getText = &SlowGetText;
    return o;
  }();
  reader->ops = &slow;
  prefs_.setSearchText(u"haystack");
  prefs_.setSearchOptions(FindOptions_Pack({false, true, FindRange::Down}));
  g_ticks.store(0);
  const WorkerClock previous = Worker_SetClock(&SlowClock);
  ASSERT_FALSE(view_->findAgainEnabled());
  QString message;
  auto boxes = TakeMessage(&message);
  auto watch = ModalWatch::For<ProgressDialog>([](ProgressDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Searching..."));
    QTest::mouseClick(d->findChild<QPushButton*>(), Qt::LeftButton);
  });
  g_windows.store(0);
  KelpoView_DoFind(view_.get(), false);
  Worker_SetClock(previous);
  reader->ops = TextDocModule.ops;
  EXPECT_TRUE(watch->seen());
  EXPECT_FALSE(boxes->seen()) << "a cancelled search tells nothing: " << message.toStdString();
  EXPECT_TRUE(view_->findAgainEnabled());
  EXPECT_LT(g_windows.load(), static_cast<int>(text_.size() / 4096 / 2))
      << "stopped long before the whole text was read";
  EXPECT_EQ(Worker_Busy(), WorkerKind::None);
}

TEST_F(WorkersDialogsTest, GoToAnswersByItsFieldsAndButtons) {
  struct Row {
    const char16_t* page;
    const char16_t* percent;
    int button;  // the control pressed
    int result;
    std::uint32_t value;  // page() or percent() after Go To
    const char* why;
  };
  const Row rows[] = {
      {u" 12 ", u"40", GoToResult::Page, GoToResult::Page, 12, "blanks around the page"},
      {u"0", u"40", GoToResult::Page, GoToResult::Cancel, 0, "page 0"},
      {u"", u"40", GoToResult::Page, GoToResult::Cancel, 0, "empty page field"},
      {u"ab", u"40", GoToResult::Page, GoToResult::Cancel, 0, "letters in the page field"},
      {u"3", u"0", GoToResult::Percent, GoToResult::Percent, 0, "0 % is the top"},
      {u"3", u"", GoToResult::Percent, GoToResult::Cancel, 0, "empty percent field"},
      {u"ab", u"", GoToResult::FirstPage, GoToResult::FirstPage, 0, "fields not read"},
      {u"3", u"40", GoToResult::LastPage, GoToResult::LastPage, 0, "last page"},
      {u"3", u"40", GoToResult::TopOfPage, GoToResult::TopOfPage, 0, "top of page"},
      {u"3", u"40", GoToResult::EndOfPage, GoToResult::EndOfPage, 0, "end of page"},
      {u"3", u"40", GoToResult::Cancel, GoToResult::Cancel, 0, "cancel"},
  };
  for (const Row& r : rows) {
    GoToDialog dialog(3, 10, 40, false, nullptr);
    dialog.show();
    // Typed fields hold digits only; these set what a paste could leave.
    dialog.pageEdit()->setText(QString::fromStdU16String(r.page));
    dialog.percentEdit()->setText(QString::fromStdU16String(r.percent));
    QTest::mouseClick(dialog.button(r.button), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), r.result) << r.why;
    EXPECT_FALSE(dialog.isVisible()) << r.why;
    if (r.result == GoToResult::Page) {
      EXPECT_EQ(dialog.page(), r.value) << r.why;
    }
    if (r.result == GoToResult::Percent) {
      EXPECT_EQ(dialog.percent(), r.value) << r.why;
    }
  }

  // What the opener gives is shown; the focus starts in the page field, or
  // in the percentage field for a view that shows percentages; Enter in a
  // field is its Go To; letters cannot be typed.
  for (const bool percentFirst : {false, true}) {
    GoToDialog dialog(3, 10, 40, percentFirst, nullptr);
    dialog.show();
    EXPECT_EQ(dialog.pageEdit()->text(), QStringLiteral("3"));
    EXPECT_EQ(dialog.pageCountLabel()->text(), QStringLiteral("10"));
    EXPECT_EQ(dialog.percentEdit()->text(), QStringLiteral("40"));
    QLineEdit* field = percentFirst ? dialog.percentEdit() : dialog.pageEdit();
    EXPECT_EQ(dialog.focusWidget(), field);
    EXPECT_EQ(field->selectedText(), field->text());
    if (!percentFirst) KeepPicture(dialog.grab().toImage(), QStringLiteral("goto_dialog"));
    QTest::keyClicks(field, QStringLiteral("x7"));
    EXPECT_EQ(field->text(), QStringLiteral("7"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), percentFirst ? GoToResult::Percent : GoToResult::Page);
    EXPECT_EQ(percentFirst ? dialog.percent() : dialog.page(), 7u);
  }
}

TEST_F(WorkersDialogsTest, GoToMovesTheView) {
  OpenStory();
  const std::uint32_t top = First();
  // The story is one section: it is page 1 of 1.
  struct Step {
    std::function<void(GoToDialog*)> act;
    std::function<bool(std::uint32_t)> where;
    const char* why;
  };
  const std::uint32_t half = static_cast<std::uint32_t>(text_.size() / 2);
  const Step steps[] = {
      {[](GoToDialog* d) {
         EXPECT_EQ(d->pageEdit()->text(), QStringLiteral("1"));
         EXPECT_EQ(d->pageCountLabel()->text(), QStringLiteral("1"));
         d->percentEdit()->setText(QStringLiteral("50"));
         QTest::mouseClick(d->button(GoToResult::Percent), Qt::LeftButton);
       },
       [half](std::uint32_t first) { return first > half - 2000 && first < half + 2000; },
       "half way"},
      {[](GoToDialog* d) { QTest::mouseClick(d->button(GoToResult::EndOfPage), Qt::LeftButton); },
       [this](std::uint32_t first) { return first > text_.size() - 2000; }, "the end"},
      {[](GoToDialog* d) { QTest::mouseClick(d->button(GoToResult::Cancel), Qt::LeftButton); },
       [this](std::uint32_t first) { return first > text_.size() - 2000; }, "cancel stays"},
      {[](GoToDialog* d) { QTest::mouseClick(d->button(GoToResult::FirstPage), Qt::LeftButton); },
       [top](std::uint32_t first) { return first == top; }, "the first page's top"},
  };
  for (const Step& s : steps) {
    auto watch = ModalWatch::For<GoToDialog>(s.act);
    view_->OnGoTo();
    EXPECT_TRUE(watch->seen()) << s.why;
    EXPECT_TRUE(s.where(First())) << s.why << ": " << First();
  }
}

TEST_F(WorkersDialogsTest, ProgressDialogsFollowTheirWorker) {
  // Searching: the shared percentage, then closed by the worker's end with
  // the bar full.
  {
    WorkerShared shared;
    shared.progress.store(40);
    ProgressDialog dialog(ProgressDialog::Kind::Find, &shared, nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Searching..."));
    dialog.show();
    dialog.Tick();
    EXPECT_EQ(dialog.percentLabel()->text(), QStringLiteral("40%"));
    EXPECT_EQ(dialog.bar()->value(), 40);
    KeepPicture(dialog.grab().toImage(), QStringLiteral("progress_find"));
    shared.progress.store(kWorkerFinished);
    dialog.Tick();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.bar()->value(), 100);
    EXPECT_FALSE(dialog.isVisible());
  }
  // Paginating: the count's caption stays hidden until a count arrives.
  {
    WorkerShared shared;
    shared.progress.store(10);
    ProgressDialog dialog(ProgressDialog::Kind::Pagination, &shared, nullptr);
    dialog.show();
    dialog.Tick();
    EXPECT_FALSE(dialog.countCaption()->isVisible());
    shared.pageCount.store(12);
    shared.progress.store(15);
    dialog.Tick();
    EXPECT_TRUE(dialog.countCaption()->isVisible());
    EXPECT_EQ(dialog.countLabel()->text(), QStringLiteral("12"));
    EXPECT_EQ(dialog.percentLabel()->text(), QStringLiteral("15%"));
    KeepPicture(dialog.grab().toImage(), QStringLiteral("progress_pagination"));
    // Enter does not end it; Cancel does.
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
  }
  // Formatting: driven by its owner, nothing shown before it is up.
  {
    ProgressDialog dialog(ProgressDialog::Kind::Layout, nullptr, nullptr);
    dialog.SetProgress(1, 2);
    EXPECT_EQ(dialog.shownPercent(), -1);
    dialog.show();
    dialog.SetProgress(1, 4);
    EXPECT_EQ(dialog.percentLabel()->text(), QStringLiteral("25%"));
    dialog.SetProgress(5, 0);  // an empty span shows 0, never divides
    EXPECT_EQ(dialog.shownPercent(), 0);
    dialog.SetProgress(1, 4);
    KeepPicture(dialog.grab().toImage(), QStringLiteral("progress_layout"));
    EXPECT_FALSE(dialog.cancelled());
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.cancelled());
  }
}

TEST_F(WorkersDialogsTest, AWorkerThatEndedBeforeItsDialogOpenedClosesItAtOnce) {
  // Finished by itself, and failed without reporting: the dialog's first
  // look, as it opens, ends it.
  for (const bool finished : {true, false}) {
    WorkerShared shared;
    shared.progress.store(finished ? kWorkerFinished : 12);
    shared.ended.store(true);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(RunProgressDialog(ProgressDialog::Kind::Find, shared, nullptr));
    EXPECT_LT(clock.elapsed(), 5000);
  }
  // A Cancel answers false.
  WorkerShared running;
  running.progress.store(3);
  auto watch = ModalWatch::For<ProgressDialog>([](ProgressDialog* d) { d->reject(); });
  EXPECT_FALSE(RunProgressDialog(ProgressDialog::Kind::Find, running, nullptr));
  EXPECT_TRUE(watch->seen());
}

TEST_F(WorkersDialogsTest, CancellingThePaginationPrintsNothing) {
  // Long enough that the pagination is still running when Cancel comes.
  std::string text;
  for (int k = 0; k < 40000; ++k)
    text += "Line " + std::to_string(k) + " of a long book to print, page after page.\n";
  Open("book.txt", text);
  g_ticks.store(0);
  const WorkerClock previous = Worker_SetClock(&SlowClock);
  WorkerKind busy = WorkerKind::None;
  const std::uint32_t firstBefore = First();
  auto watch = ModalWatch::For<ProgressDialog>([&](ProgressDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Paginating Document..."));
    busy = Worker_Busy();
    // The screen view does not draw while the worker has the engine.
    view_->Render();
    // Once the count shows, Cancel.
    QElapsedTimer wait;
    wait.start();
    while (d->shownPages() < 1 && d->isVisible() && wait.elapsed() < 5000)
      QTest::qWait(10);
    EXPECT_TRUE(d->countCaption()->isVisible());
    KeepPicture(d->grab().toImage(), QStringLiteral("progress_pagination_live"));
    QTest::mouseClick(d->findChild<QPushButton*>(), Qt::LeftButton);
  });
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(files_.File("book.pdf")));
  EXPECT_FALSE(KelpoView_PrintTo(view_.get(), &printer));
  Worker_SetClock(previous);
  ASSERT_TRUE(watch->seen());
  EXPECT_EQ(busy, WorkerKind::Print);
  EXPECT_EQ(Worker_Busy(), WorkerKind::None);
  ASSERT_NE(view_->printJob(), nullptr);
  EXPECT_EQ(view_->printJob()->pageCount(), 0u) << "cancelled: nothing to print";
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(files_.File("book.pdf"))))
      << "the cancelled print wrote no output, not even a blank page";
  EXPECT_EQ(First(), firstBefore);
}

}  // namespace
