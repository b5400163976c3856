// The main window's commands with a real document, headless: every command is
// reached from its menu entry and its accelerators exactly when its update
// rule enables it (no document, a document, a selection); and the reading
// view's input: wheel notches gathered from high-resolution deltas, tap
// regions that scroll and repeat, and auto-scroll stepped by a clock the test
// moves.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/core/commands.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "app/window/print_preview.h"
#include "engine/stores/annot_store.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/formats/razo_fixture.h"
#include "tests/support/peer.h"
#include "tests/support/wide_text.h"

namespace {

class FakeClock : public ViewClock {
 public:
  std::uint32_t NowMs() override { return now; }
  std::uint32_t now = 5000;
};

class CommandsTest : public ReaderTest {
 protected:
  void SetUp() override {
    book_ = NumberedLines(400, " of a long plain text book to read.");
    WriteFile("book.txt", book_);
    WriteFile("short.txt", "Only two lines.\nThe end.\n");
    WriteFile("empty.txt", "");
  }
  // The documents here are laid out to their end before the test looks.
  KelpoView* Open(MainFrame& frame, const char* name) {
    return ReaderTest::Open(frame, name, Layout::kToItsEnd);
  }
  // Where the view stands in its section (pixels once laid out).
  static int Pos(KelpoView* view) { return view->verticalScrollBar()->value(); }
  // Stands the view at a pixel position of its (laid out) section.
  static void Seek(KelpoView* view, int position) {
    ASSERT_FALSE(IsFailure(
        OpsOf<TextViewOps>(view->textView()).setScrollPosition(view->textView(), position)));
    view->Render();
    ASSERT_EQ(Pos(view), position);
  }
  // Where n line steps from position lead.
  static int Replay(KelpoView* view, int position, int n, bool down) {
    Seek(view, position);
    for (int i = 0; i < n; ++i)
      down ? view->LineDown() : view->LineUp();
    return Pos(view);
  }
  // The offset of the first line on screen.
  static std::uint32_t Top(KelpoView* view) {
    std::uint32_t offset = 0;
    EXPECT_FALSE(
        IsFailure(OpsOf<TextViewOps>(view->textView()).control(view->textView(), 1, 0, &offset)));
    return offset;
  }

  std::string book_;
};

enum State { kNone, kDocument, kSelection };

// What each command is in each state with the long text document (one page,
// no mark, no history, no bookmarks, no annotations, no search yet).
struct Expect {
  std::uint16_t id;
  bool enabled[3];
};
const Expect kExpected[] = {
    {Cmd::Open, {true, true, true}},
    {Cmd::OpenCategorized, {true, true, true}},  // the first run adds categories
    {Cmd::Close, {false, true, true}},
    {Cmd::SaveAs, {false, true, true}},
    {Cmd::PrintSetup, {true, true, true}},
    {Cmd::Print, {false, true, true}},
    {Cmd::PrintPreview, {false, true, true}},
    {Cmd::Exit, {true, true, true}},
    {Cmd::Copy, {false, false, true}},
    {Cmd::CopyEntireScreen, {false, true, true}},
    {Cmd::CopyEntirePage, {false, true, true}},
    {Cmd::CopyEntireDocument, {false, true, true}},
    {Cmd::SelectMode, {false, true, true}},
    {Cmd::Find, {false, true, true}},
    {Cmd::FindAgain, {false, false, false}},
    {Cmd::Annotate, {false, false, true}},
    {Cmd::ViewAnnotations, {false, false, false}},
    {Cmd::AnnotationSettings, {false, true, true}},
    {Cmd::Cut, {false, false, false}},
    {Cmd::Paste, {false, false, false}},
    {Cmd::Undo, {false, false, false}},
    {Cmd::Toolbar, {true, true, true}},
    {Cmd::StatusBar, {true, true, true}},
    {Cmd::FullScreen, {true, true, true}},
    {Cmd::DocumentInformation, {false, true, true}},
    {Cmd::Categories, {false, true, true}},
    {Cmd::GoTo, {false, true, true}},
    {Cmd::GoToButton, {false, true, true}},
    {Cmd::Home, {false, true, true}},
    {Cmd::Back, {false, false, false}},
    {Cmd::Forward, {false, false, false}},
    {Cmd::PreviousPage, {false, false, false}},
    {Cmd::NextPage, {false, false, false}},
    {Cmd::Autoscroll, {false, true, true}},
    {Cmd::AddBookmark, {false, true, true}},
    {Cmd::EditBookmarks, {false, true, true}},
    {Cmd::Bookmarks, {false, false, false}},
    {Cmd::MarkLocation, {false, true, true}},
    {Cmd::JumpToMark, {false, false, false}},
    {Cmd::ClearHistory, {false, false, false}},
    {Cmd::Options, {true, true, true}},
    {Cmd::ArrangeIcons, {false, true, true}},
    {Cmd::Cascade, {false, true, true}},
    {Cmd::Tile, {false, true, true}},
    {Cmd::NextPane, {false, false, false}},
    {Cmd::PreviousPane, {false, false, false}},
    {Cmd::HelpContents, {true, true, true}},
    {Cmd::SystemInformation, {true, true, true}},
    {Cmd::About, {true, true, true}},
    {Cmd::Help, {true, true, true}},
    {Cmd::ContextHelp, {true, true, true}},
    {Cmd::PrintDirect, {false, true, true}},
};

// Clicks an entry of an open menu; true when the menu let it be chosen.
void ClickMenuEntry(QMenu* menu, QAction* action) {
  menu->popup(QPoint(10, 10));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
  const QRect r = menu->actionGeometry(action);
  ASSERT_TRUE(r.isValid());
  QTest::mouseClick(menu, Qt::LeftButton, {}, r.center());
  QApplication::processEvents();
  if (menu->isVisible()) menu->close();  // a greyed entry leaves it open
  QApplication::processEvents();
}

// Runs act on the next modal dialog, once it shows (the command that opens
// it runs in between).
void WhenModal(std::function<void(QWidget*)> act) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(modal);
  });
  poll->start();
}

// The window active again, the view with the keyboard (after a dialog).
void Reactivate(MainFrame& frame, KelpoView* view) {
  frame.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
  view->setFocus();
  QApplication::processEvents();
}

TEST_F(CommandsTest, EveryCommandIsReachedFromItsMenuAndKeysExactlyWhenItsRuleAllows) {
  auto frame = ActiveWindow();
  std::vector<std::uint16_t> ran;
  // The table above covers every command.
  EXPECT_EQ(std::size(kExpected), Command_Table().size());
  for (State state : {kNone, kDocument, kSelection}) {
    SCOPED_TRACE(state == kNone ? "no document" : state == kDocument ? "document" : "selection");
    if (state == kDocument) Open(*frame, "book.txt");
    if (state == kSelection) frame->RunCommand(Cmd::SelectMode);
    frame->SetCommandHook([&ran](std::uint16_t id) {
      ran.push_back(id);
      return true;  // seen, not run
    });
    frame->UpdateCommands();
    for (const Expect& e : kExpected) {
      const CommandInfo* info = Command_Find(e.id);
      ASSERT_NE(info, nullptr) << e.id;
      SCOPED_TRACE(info->text);
      QAction* a = frame->action(e.id);
      ASSERT_NE(a, nullptr);
      EXPECT_EQ(a->isEnabled(), e.enabled[state]);
      if (info->menu != MenuId::None) {
        QMenu* menu = frame->menu(info->menu);
        ASSERT_TRUE(menu->actions().contains(a));
        ran.clear();
        ClickMenuEntry(menu, a);
        EXPECT_EQ(ran, e.enabled[state] ? std::vector<std::uint16_t>{e.id}
                                        : std::vector<std::uint16_t>{});
      }
      for (const char* key : info->keys) {
        if (key == nullptr) continue;
        SCOPED_TRACE(key);
        ran.clear();
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : frame.get();
        QTest::keySequence(target, QKeySequence(QString::fromUtf8(key)));
        QApplication::processEvents();
        EXPECT_EQ(ran, e.enabled[state] ? std::vector<std::uint16_t>{e.id}
                                        : std::vector<std::uint16_t>{});
      }
    }
    frame->SetCommandHook(nullptr);
  }
  // The check marks follow their rules.
  frame->UpdateCommands();
  EXPECT_TRUE(frame->action(Cmd::SelectMode)->isChecked());
  EXPECT_TRUE(frame->action(Cmd::Toolbar)->isChecked());
  EXPECT_FALSE(frame->action(Cmd::FullScreen)->isChecked());
  // One page, the location automatic: the page bar shows a percentage.
  EXPECT_TRUE(frame->ActiveView()->viewMode() & ViewMode::Percent);
  EXPECT_EQ(frame->action(Cmd::GoToButton)->text(), QStringLiteral("0%"));
}

TEST_F(CommandsTest, CommandsRunTheirEffects) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  // Mark Location arms Jump to Mark, which comes back to the mark.
  EXPECT_FALSE(frame->action(Cmd::JumpToMark)->isEnabled());
  const std::uint32_t start = Top(view);
  frame->action(Cmd::MarkLocation)->trigger();
  EXPECT_TRUE(frame->action(Cmd::JumpToMark)->isEnabled());
  for (int i = 0; i < 3; ++i)
    view->PageDown(true);
  EXPECT_GT(Top(view), start);
  frame->action(Cmd::JumpToMark)->trigger();
  EXPECT_EQ(Top(view), start);
  // A mark further on comes back at the top of the screen, also from the
  // screen just before it.
  view->PageDown(true);
  const std::uint32_t marked = Top(view);
  frame->action(Cmd::MarkLocation)->trigger();
  view->PageUp(true);
  ASSERT_LT(Top(view), marked);
  frame->action(Cmd::JumpToMark)->trigger();
  EXPECT_EQ(Top(view), marked);
  // Select Mode checks and unchecks; Copy follows it.
  frame->action(Cmd::SelectMode)->trigger();
  EXPECT_TRUE(view->viewMode() & ViewMode::Select);
  EXPECT_TRUE(frame->action(Cmd::SelectMode)->isChecked());
  EXPECT_TRUE(frame->action(Cmd::Copy)->isEnabled());
  frame->action(Cmd::SelectMode)->trigger();
  EXPECT_FALSE(view->viewMode() & ViewMode::Select);
  EXPECT_FALSE(frame->action(Cmd::SelectMode)->isChecked());
  EXPECT_FALSE(frame->action(Cmd::Copy)->isEnabled());
  // Copy Entire Document puts the whole text on the clipboard.
  QApplication::clipboard()->clear();
  frame->action(Cmd::CopyEntireDocument)->trigger();
  const QString copied = QApplication::clipboard()->text();
  EXPECT_TRUE(copied.startsWith(QStringLiteral("Line 0 of a long plain text book")));
  EXPECT_TRUE(copied.contains(QStringLiteral("Line 399 of a long plain text book")));
  // Home goes back to the start; Full Screen and the tool bars check.
  view->PageDown(true);
  frame->action(Cmd::Home)->trigger();
  EXPECT_EQ(Top(view), 0u);
  frame->action(Cmd::Toolbar)->trigger();
  EXPECT_FALSE(frame->action(Cmd::Toolbar)->isChecked());
  frame->action(Cmd::Toolbar)->trigger();
  EXPECT_TRUE(frame->action(Cmd::Toolbar)->isChecked());
  QTest::keyClick(view, Qt::Key_F11);
  EXPECT_TRUE(frame->fullScreen());
  EXPECT_TRUE(view->viewMode() & ViewMode::FullScreen);
  // Esc in the view leaves full screen.
  QTest::keyClick(view, Qt::Key_Escape);
  EXPECT_FALSE(frame->fullScreen());
  EXPECT_TRUE(frame->action(Cmd::Toolbar)->isChecked());
}

TEST_F(CommandsTest, WheelGathersHighResolutionDeltasIntoNotches) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  auto wheel = [view](int delta) {
    const QPointF at(50, 50);
    QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &event);
  };
  const int savedLines = QApplication::wheelScrollLines();
  QApplication::setWheelScrollLines(3);
  const int start = 1500;
  const int threeDown = Replay(view, start, 3, true);
  const int threeUp = Replay(view, start, 3, false);
  ASSERT_GT(threeDown, start);
  ASSERT_LT(threeUp, start);

  Seek(view, start);
  wheel(-40);
  wheel(-40);
  EXPECT_EQ(Pos(view), start);  // two thirds of a notch: nothing yet
  wheel(-40);
  EXPECT_EQ(Pos(view), threeDown);  // the third makes a notch: three lines

  Seek(view, start);
  wheel(-60);  // half a notch down, then a turn: the half is dropped
  wheel(60);
  EXPECT_EQ(Pos(view), start);
  wheel(60);
  EXPECT_EQ(Pos(view), threeUp);

  // A notch and a half at once: one notch now, the half kept.
  Seek(view, start);
  wheel(-180);
  EXPECT_EQ(Pos(view), threeDown);
  Seek(view, start);
  wheel(-60);
  EXPECT_EQ(Pos(view), threeDown);

  // A line count of 250 scrolls 100 lines (Qt has no count of 0: it reads
  // that as the platform's own; the core's plan covers it).
  QApplication::setWheelScrollLines(250);
  const int hundredDown = Replay(view, start, 100, true);
  Seek(view, start);
  wheel(-120);
  EXPECT_EQ(Pos(view), hundredDown);
  QApplication::setWheelScrollLines(savedLines);
}

TEST_F(CommandsTest, TapRegionsScrollOnPressAndRepeatWhileHeld) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  QWidget* vp = view->viewport();
  const int h = vp->height();
  const int x = vp->width() / 2;
  const int start = 1500;
  // Default regions: every band drags, no press scrolls by itself.
  Seek(view, start);
  for (int band = 0; band < 4; ++band) {
    const QPoint at(x, h * band / 4 + 5);
    QTest::mousePress(vp, Qt::LeftButton, {}, at);
    EXPECT_EQ(view->timerInterval(3), -1);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
  }
  EXPECT_EQ(Pos(view), start);

  // Bands: line up, drag, none, line down (top to bottom), 25 % each.
  prefs_.setRegion(0, 25, 2);
  prefs_.setRegion(1, 25, 0);
  prefs_.setRegion(2, 25, 3);
  prefs_.setRegion(3, 25, 4);
  const int oneDown = Replay(view, start, 1, true);
  const int twoDown = Replay(view, start, 2, true);
  Seek(view, twoDown);
  view->LineUp();
  const int twoDownOneUp = Pos(view);

  Seek(view, start);
  const QPoint bottom(x, h - 5);
  QTest::mousePress(vp, Qt::LeftButton, {}, bottom);
  EXPECT_EQ(Pos(view), oneDown);  // once on the press
  EXPECT_EQ(view->timerInterval(3), 50);
  EXPECT_TRUE(view->viewMode() & ViewMode::TapRepeat);
  view->OnTimer(3);  // and again on each tick while held
  EXPECT_EQ(Pos(view), twoDown);
  // Held and moved into the line-up band: the repeat follows the pointer.
  QMouseEvent move(QEvent::MouseMove, QPointF(x, 5), vp->mapToGlobal(QPointF(x, 5)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(vp, &move);
  view->OnTimer(3);
  EXPECT_EQ(Pos(view), twoDownOneUp);
  QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(x, 5));
  EXPECT_EQ(view->timerInterval(3), -1);
  EXPECT_FALSE(view->viewMode() & ViewMode::TapRepeat);
  view->OnTimer(3);  // a stray tick after the release does nothing
  EXPECT_EQ(Pos(view), twoDownOneUp);

  // The "none" band starts a repeat that scrolls nothing; the drag band
  // leaves the press to the text view.
  for (int band : {1, 2}) {
    Seek(view, start);
    const QPoint at(x, h * band / 4 + h / 8);
    QTest::mousePress(vp, Qt::LeftButton, {}, at);
    EXPECT_EQ(view->timerInterval(3), band == 2 ? 50 : -1);
    view->OnTimer(3);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
    EXPECT_EQ(Pos(view), start);
  }
}

TEST_F(CommandsTest, KeysAndTheScrollBarFollowTheirChoices) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  constexpr int start = 1500;
  auto reference = [view](void (KelpoView::*step)(bool), bool cross) {
    Seek(view, start);
    (view->*step)(cross);
    return Pos(view);
  };
  const int screenDown = reference(&KelpoView::PageDown, true);
  const int screenUp = reference(&KelpoView::PageUp, true);
  const int lineDown = Replay(view, start, 1, true);
  const int lineUp = Replay(view, start, 1, false);
  ASSERT_GT(screenDown, lineDown);
  ASSERT_LT(screenUp, lineUp);
  struct Case {
    const char* why;
    std::uint8_t upChoice, downChoice;
    int key;
    Qt::KeyboardModifiers modifiers;
    int expected;
  } cases[] = {
      {"Page Down: a screen", 1, 2, Qt::Key_PageDown, {}, screenDown},
      {"Page Up: a screen", 1, 2, Qt::Key_PageUp, {}, screenUp},
      {"Down, default: a line", 1, 2, Qt::Key_Down, {}, lineDown},
      {"Up, default: a line", 1, 2, Qt::Key_Up, {}, lineUp},
      {"Down as screen down", 1, 3, Qt::Key_Down, {}, screenDown},
      {"Down as screen up", 1, 0, Qt::Key_Down, {}, screenUp},
      {"Up as line down", 2, 2, Qt::Key_Up, {}, lineDown},
      {"Up as screen down", 3, 2, Qt::Key_Up, {}, screenDown},
      {"Up, any other value: screen up", 9, 2, Qt::Key_Up, {}, screenUp},
      {"Ctrl+Page Down is the greyed Next Page: nothing", 1, 2, Qt::Key_PageDown,
       Qt::ControlModifier, start},
      {"Alt+Backspace is the greyed Undo, not Back: nothing", 1, 2, Qt::Key_Backspace,
       Qt::AltModifier, start},
      {"a letter: nothing", 1, 2, Qt::Key_Q, {}, start},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    prefs_.setKeys(c.upChoice, c.downChoice, 1, 2);
    Seek(view, start);
    QTest::keyClick(view, static_cast<Qt::Key>(c.key), c.modifiers);
    EXPECT_EQ(Pos(view), c.expected);
  }
  // Home and End: the section's start and end; with Ctrl the document's.
  Seek(view, start);
  QTest::keyClick(view, Qt::Key_End);
  const int end = Pos(view);
  EXPECT_GT(end, screenDown);
  QTest::keyClick(view, Qt::Key_Home);
  EXPECT_EQ(Pos(view), 0);
  QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Pos(view), end);

  // The scroll bar's steps: lines, and screens that stay in the section.
  QScrollBar* bar = view->verticalScrollBar();
  const int barScreenDown = reference(&KelpoView::PageDown, false);
  struct BarCase {
    QAbstractSlider::SliderAction action;
    int expected;
  } bars[] = {{QAbstractSlider::SliderSingleStepAdd, lineDown},
              {QAbstractSlider::SliderSingleStepSub, lineUp},
              {QAbstractSlider::SliderPageStepAdd, barScreenDown},
              {QAbstractSlider::SliderToMinimum, 0},
              {QAbstractSlider::SliderToMaximum, end}};
  for (const BarCase& c : bars) {
    Seek(view, start);
    bar->triggerAction(c.action);
    EXPECT_EQ(Pos(view), c.expected) << c.action;
  }
}

TEST_F(CommandsTest, SelectModeDragRunsTheSelectionTimerAndOffersItsMenu) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  frame->RunCommand(Cmd::SelectMode);
  QWidget* vp = view->viewport();
  QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(view->timerInterval(1), 50);
  QMouseEvent drag(QEvent::MouseMove, QPointF(200, 80), vp->mapToGlobal(QPointF(200, 80)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(vp, &drag);
  view->OnTimer(1);
  QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(200, 80));
  EXPECT_EQ(view->timerInterval(1), -1);
  // The selection's menu: Copy and Annotate, both enabled in select mode.
  QMenu* menu = nullptr;
  for (QMenu* m : view->findChildren<QMenu*>())
    if (m->isVisible()) menu = m;
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("&Copy"));
  EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("&Annotate"));
  EXPECT_TRUE(menu->actions()[0]->isEnabled());
  // Copy from the menu puts the selected text on the clipboard.
  QApplication::clipboard()->clear();
  menu->actions()[0]->trigger();
  menu->close();
  const QString copied = QApplication::clipboard()->text();
  EXPECT_FALSE(copied.isEmpty());
  EXPECT_TRUE(QStringLiteral("Line 0 of a long plain text book to read.\nLine 1 of a long")
                  .contains(copied.left(10)))
      << copied.toStdString();
}

TEST_F(CommandsTest, TheBookmarksPopUpListsTheBookmarksAndMovesToTheOneChosen) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(frame->action(Cmd::Bookmarks)->isEnabled());
  EngineObject* tv = view->textView();
  for (int i = 0; i < 3; ++i)
    view->PageDown(true);
  const std::uint32_t marked = Top(view);
  ASSERT_GT(marked, 0u);
  // A bookmark of the reader's own list, where the view stands.
  ASSERT_EQ(OpsOf<TextViewOps>(tv).positionListCommand(tv, 0x1050 + 2, 0,
                                                       const_cast<char*>("Chapter Three")),
            kOk);
  frame->action(Cmd::Home)->trigger();
  ASSERT_EQ(Top(view), 0u);
  frame->UpdateCommands();
  ASSERT_TRUE(frame->action(Cmd::Bookmarks)->isEnabled());

  QStringList shown;
  QPoint at;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    at = menu->pos();
    for (QAction* a : menu->actions())
      shown << a->text();
    ASSERT_FALSE(menu->actions().isEmpty());
    QTest::mouseClick(menu, Qt::LeftButton, {},
                      menu->actionGeometry(menu->actions().front()).center());
  });
  QTest::keyClick(view, Qt::Key_K, Qt::ControlModifier);
  EXPECT_EQ(shown, QStringList{QStringLiteral("Chapter Three")});
  EXPECT_EQ(at, frame->BookmarksAnchor());
  EXPECT_EQ(Top(view), marked);
}

TEST_F(CommandsTest, FindAndFindAgainWalkTheMatchesThenSaySoOnce) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  EngineObject* tv = view->textView();
  // Every message box is answered and its text kept.
  QStringList messages;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      messages << box->text();
      box->accept();
    }
  });
  answer.start(5);
  auto shows = [&](int line) {
    const auto at = static_cast<std::uint32_t>(book_.find("Line " + std::to_string(line) + " "));
    std::uint32_t end = 0;
    EXPECT_EQ(OpsOf<TextViewOps>(tv).control(tv, 7, 0, &end), kOk);
    return Top(view) <= at && at < end;
  };
  EXPECT_FALSE(frame->action(Cmd::FindAgain)->isEnabled());
  prefs_.setSearchText(u"Line 25");  // lines 25 and 250 to 259 match
  prefs_.setSearchOptions(0);        // down from where the reader is
  view->DoFind(false);
  frame->UpdateCommands();
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_TRUE(frame->action(Cmd::FindAgain)->isEnabled());
  EXPECT_TRUE(shows(25));
  for (int line = 250; line <= 259; ++line) {
    frame->action(Cmd::FindAgain)->trigger();
    EXPECT_TRUE(shows(line)) << line;
    EXPECT_TRUE(messages.isEmpty()) << line;
  }
  EXPECT_FALSE(shows(25));
  // No further match: the message once, and Find Again greyed.
  frame->action(Cmd::FindAgain)->trigger();
  EXPECT_EQ(messages, QStringList{QStringLiteral("No more matches for \"Line 25\".")});
  EXPECT_FALSE(view->viewMode() & ViewMode::Searched);
  EXPECT_FALSE(frame->action(Cmd::FindAgain)->isEnabled());
  // A first search with no match says so in its own words.
  messages.clear();
  prefs_.setSearchText(u"nowhere in the book");
  view->DoFind(false);
  EXPECT_EQ(messages, QStringList{QStringLiteral("No matches for \"nowhere in the book\".")});
}

TEST_F(CommandsTest, SaveAsPrintToPdfAndPreviewOpenFromTheirCommands) {
  KELPO_REQUIRE_PEER("pdftotext");
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "short.txt");
  ASSERT_NE(view, nullptr);
  // Save As (Ctrl+S): the save dialog suggests the title's name as text.
  const std::string saved = files_.File("saved.txt");
  QString suggested;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    suggested = QFileInfo(dialog->selectedFiles().value(0)).fileName();
    dialog->selectFile(QString::fromStdString(saved));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  QTest::keyClick(view, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(suggested, QStringLiteral("short.txt"));
  EXPECT_EQ(ReadFileBytes(saved), "Only two lines.\r\nThe end.\r\n");

  // Print (Ctrl+P), to a PDF file.
  const std::string pdf = files_.File("printed.pdf");
  bool asked = false;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QPrintDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    asked = true;
    dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
    dialog->printer()->setOutputFileName(QString::fromStdString(pdf));
    dialog->done(QDialog::Accepted);
  });
  Reactivate(*frame, view);
  QTest::keyClick(view, Qt::Key_P, Qt::ControlModifier);
  EXPECT_TRUE(asked);
  int status = -1;
  const std::string printed = RunPeer("pdftotext '" + pdf + "' -", "", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(printed.find("Only two lines."), std::string::npos) << printed;
  EXPECT_NE(printed.find("The end."), std::string::npos) << printed;

  // Print Preview from its menu entry.
  bool previewed = false;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<PrintPreview*>(modal);
    ASSERT_NE(dialog, nullptr);
    previewed = true;
    dialog->reject();
  });
  Reactivate(*frame, view);
  ClickMenuEntry(frame->menu(MenuId::File), frame->action(Cmd::PrintPreview));
  EXPECT_TRUE(previewed);
}

TEST_F(CommandsTest, LinkFocusKeysJumpAndTheHistoryCommandsFollow) {
  KELPO_REQUIRE_PEER("python3");
  // A 'RaZo' book whose first word links to line 300.
  const auto target = static_cast<std::uint32_t>(book_.find("Line 300 "));
  const std::string description = "{\"text\":" + razo_fixture::Json(book_) + ",\"links\":[[0,4," +
                                  std::to_string(target) + "]]}";
  WriteFileBytes(files_.File("linked.pdb"), razo_fixture::Write(description));
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "linked.pdb");
  ASSERT_NE(view, nullptr);
  EngineObject* tv = view->textView();
  auto shows = [&](std::uint32_t at) {
    std::uint32_t end = 0;
    EXPECT_EQ(OpsOf<TextViewOps>(tv).control(tv, 7, 0, &end), kOk);
    return Top(view) <= at && at < end;
  };
  EXPECT_FALSE(frame->action(Cmd::Back)->isEnabled());
  EXPECT_FALSE(frame->action(Cmd::ClearHistory)->isEnabled());
  QTest::keyClick(view, Qt::Key_Tab);  // the link takes the focus
  EXPECT_EQ(OpsOf<TextViewOps>(tv).focusCommand(tv, TextViewFocus::IsShown, 0), kYes);
  QTest::keyClick(view, Qt::Key_Return);  // and Enter follows it
  EXPECT_TRUE(shows(target));
  EXPECT_EQ(Top(view) > 0, true);
  frame->UpdateCommands();
  EXPECT_TRUE(frame->action(Cmd::Back)->isEnabled());
  EXPECT_FALSE(frame->action(Cmd::Forward)->isEnabled());
  EXPECT_TRUE(frame->action(Cmd::ClearHistory)->isEnabled());
  QTest::keyClick(view, Qt::Key_Backspace);  // back
  EXPECT_EQ(Top(view), 0u);
  frame->UpdateCommands();
  EXPECT_TRUE(frame->action(Cmd::Forward)->isEnabled());
  QTest::keyClick(view, Qt::Key_Right, Qt::AltModifier);  // forward
  EXPECT_TRUE(shows(target));
  frame->action(Cmd::ClearHistory)->trigger();
  EXPECT_FALSE(frame->action(Cmd::Back)->isEnabled());
  EXPECT_FALSE(frame->action(Cmd::Forward)->isEnabled());
  EXPECT_FALSE(frame->action(Cmd::ClearHistory)->isEnabled());

  // A press on a link in a scrolling band is the link's: no scroll, no
  // repeat, and the release follows it. Beside the link the band scrolls.
  frame->action(Cmd::Home)->trigger();
  ASSERT_EQ(Top(view), 0u);
  prefs_.setRegion(0, 25, 4);  // the top band: line down
  QWidget* vp = view->viewport();
  const QPoint onLink(12, 8);
  QTest::mousePress(vp, Qt::LeftButton, {}, onLink);
  EXPECT_EQ(view->timerInterval(3), -1);
  EXPECT_EQ(Top(view), 0u);
  QTest::mouseRelease(vp, Qt::LeftButton, {}, onLink);
  EXPECT_TRUE(shows(target));
  frame->action(Cmd::Home)->trigger();
  const QPoint besideText(vp->width() - 40, 8);
  QTest::mousePress(vp, Qt::LeftButton, {}, besideText);
  EXPECT_EQ(view->timerInterval(3), 50);
  QTest::mouseRelease(vp, Qt::LeftButton, {}, besideText);
  EXPECT_FALSE(shows(target));
}

TEST_F(CommandsTest, ALinkToAnotherDocumentOpensItAtTheNamedAnchor) {
  KELPO_REQUIRE_PEER("python3");
  // Book A's first word links to the anchor "intro" of the document "other"
  // (its target names: entry 0 the document, entry 1 the anchor).
  std::string other = "The other book.\n";
  for (int i = 0; i < 150; ++i)  // the anchor lies pages into the book
    other += "Before the introduction.\n";
  other += "Its introduction starts here and goes on.\n";
  for (int i = 0; i < 150; ++i)
    other += "More of the other book.\n";
  const auto intro = static_cast<std::uint32_t>(other.find("Its introduction"));
  WriteFileBytes(files_.File("other.pdb"),
                 razo_fixture::Write("{\"text\":" + razo_fixture::Json(other) +
                                     ",\"anchors\":[[\"intro\"," + std::to_string(intro) + "]]}"));
  const std::uint32_t target = 0xFF000000u | (2u << 10) | 0u;
  WriteFileBytes(
      files_.File("a.pdb"),
      razo_fixture::Write("{\"text\":" + razo_fixture::Json(book_) + ",\"links\":[[0,4," +
                          std::to_string(target) + "]],\"targets\":[\"other\",\"intro\"]}"));
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "a.pdb");
  ASSERT_NE(view, nullptr);
  QTest::keyClick(view, Qt::Key_Tab);     // the link takes the focus
  QTest::keyClick(view, Qt::Key_Return);  // and Enter follows it into the other file
  EXPECT_EQ(view->document()->path(), U16(files_.File("other.pdb")));
  EXPECT_EQ(view->parentWidget()->windowTitle(), QStringLiteral("other.pdb"));
  // Opening the file again brings its window forward instead of a second one.
  ASSERT_TRUE(frame->OpenDocumentFile(QString::fromStdString(files_.File("other.pdb"))));
  EXPECT_EQ(frame->Views().size(), 1);

  // Back returns to the book the link left, Forward to the other again.
  frame->UpdateCommands();
  EXPECT_TRUE(frame->action(Cmd::Back)->isEnabled());
  QTest::keyClick(view, Qt::Key_Backspace);
  EXPECT_EQ(view->document()->path(), U16(files_.File("a.pdb")));
  EXPECT_EQ(view->parentWidget()->windowTitle(), QStringLiteral("a.pdb"));
  frame->UpdateCommands();
  EXPECT_TRUE(frame->action(Cmd::Forward)->isEnabled());
  QTest::keyClick(view, Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(view->document()->path(), U16(files_.File("other.pdb")));
  EngineObject* tv = view->textView();
  std::uint32_t end = 0;
  ASSERT_EQ(OpsOf<TextViewOps>(tv).control(tv, 7, 0, &end), kOk);
  EXPECT_GT(Top(view), 0u);
  EXPECT_LE(Top(view), intro) << "the anchor is on the screen";
  EXPECT_LT(intro, end);
}

TEST_F(CommandsTest, ThePageBarShowsTheLocationAsTheDocumentChose) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  std::uint16_t& location = view->document()->state().locationFlags;
  struct Case {
    std::uint16_t flags;
    const char* text;
  } cases[] = {
      {0x20, "0%"},           // percentages
      {0x10, "Page 1 of 1"},  // page numbers
      {0x00, "0%"},           // automatic: one page is fewer than three
      {0x30, "0%"},           // both bits: automatic
  };
  for (const Case& c : cases) {
    location = static_cast<std::uint16_t>((location & ~0x30) | c.flags);
    (void)view->UpdateLocationMode();
    frame->UpdateCommands();
    EXPECT_EQ(frame->action(Cmd::GoToButton)->text().toStdString(), c.text) << c.flags;
    EXPECT_TRUE(frame->action(Cmd::GoToButton)->isEnabled());
  }
  // Half way down the page bar follows.
  location = static_cast<std::uint16_t>((location & ~0x30) | 0x20);
  (void)view->UpdateLocationMode();
  frame->action(Cmd::Home)->trigger();
  for (int i = 0; i < 200; ++i)
    view->LineDown();
  frame->UpdateCommands();
  const QString text = frame->action(Cmd::GoToButton)->text();
  ASSERT_TRUE(text.endsWith('%'));
  const int percent = text.chopped(1).toInt();
  EXPECT_GE(percent, 40);
  EXPECT_LE(percent, 55);
}

TEST_F(CommandsTest, AnEmptyDocumentShowsItsStartInThePageBar) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "empty.txt");
  ASSERT_NE(view, nullptr);
  std::uint16_t& location = view->document()->state().locationFlags;
  for (const auto& [flags, text] :
       {std::pair<std::uint16_t, const char*>{0x20, "0%"}, {0x00, "0%"}, {0x10, "Page 1 of 1"}}) {
    location = static_cast<std::uint16_t>((location & ~0x30) | flags);
    (void)view->UpdateLocationMode();
    frame->UpdateCommands();
    EXPECT_EQ(frame->action(Cmd::GoToButton)->text().toStdString(), text) << flags;
  }
}

TEST_F(CommandsTest, AutoScrollStepsByTheClockAndStops) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  FakeClock clock;
  view->SetClock(&clock);
  prefs_.setAutoScrollSpeed(0);
  frame->action(Cmd::Autoscroll)->trigger();
  EXPECT_EQ(prefs_.autoScrollSpeed(), 10);  // an unset speed becomes 10, written back
  EXPECT_TRUE(view->viewMode() & ViewMode::AutoScroll);
  EXPECT_EQ(view->timerInterval(4), 10);
  const std::uint32_t start = Top(view);
  clock.now += 150;  // under a pixel at speed 10 (0.33 px per 100 ms... 5 px a second)
  view->OnTimer(4);
  EXPECT_EQ(Top(view), start);

  // Keys change the speed; Enter is ignored; the speed stays within 1..20.
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(prefs_.autoScrollSpeed(), 11);
  QTest::keyClick(view, Qt::Key_PageUp);
  QTest::keyClick(view, Qt::Key_Up);
  EXPECT_EQ(prefs_.autoScrollSpeed(), 9);
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_TRUE(view->viewMode() & ViewMode::AutoScroll);
  for (int i = 0; i < 15; ++i)
    QTest::keyClick(view, Qt::Key_PageDown);
  EXPECT_EQ(prefs_.autoScrollSpeed(), 20);

  // At speed 20 (about 92 px a second) two seconds move the text on.
  clock.now += 2000;
  view->OnTimer(4);
  const std::uint32_t moved = Top(view);
  EXPECT_GT(moved, start);
  // Without time passing nothing more moves.
  view->OnTimer(4);
  EXPECT_EQ(Top(view), moved);

  // A speed drag: a press then a move up by two sixteenths of the height
  // raises the speed by two; its release does not stop auto-scroll.
  prefs_.setAutoScrollSpeed(10);
  frame->action(Cmd::Autoscroll)->trigger();
  QWidget* vp = view->viewport();
  const int step = vp->height() / 16;
  const QPoint press(100, vp->height() / 2);
  QTest::mousePress(vp, Qt::LeftButton, {}, press);
  const QPointF to(100, press.y() - 2 * step - 1);
  QMouseEvent drag(QEvent::MouseMove, to, vp->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(vp, &drag);
  EXPECT_EQ(prefs_.autoScrollSpeed(), 12);
  EXPECT_TRUE(view->viewMode() & ViewMode::SpeedDrag);
  QTest::mouseRelease(vp, Qt::LeftButton, {}, to.toPoint());
  EXPECT_TRUE(view->viewMode() & ViewMode::AutoScroll);
  EXPECT_FALSE(view->viewMode() & ViewMode::SpeedDrag);
  // A plain click stops it.
  QTest::mouseClick(vp, Qt::LeftButton, {}, press);
  EXPECT_FALSE(view->viewMode() & ViewMode::AutoScroll);
  EXPECT_EQ(view->timerInterval(4), -1);

  // Any other key stops it (and then does what it does).
  frame->action(Cmd::Autoscroll)->trigger();
  const std::uint32_t before = Top(view);
  QTest::keyClick(view, Qt::Key_Home);
  EXPECT_FALSE(view->viewMode() & ViewMode::AutoScroll);
  EXPECT_LE(Top(view), before);
  // Opening a menu stops it.
  frame->action(Cmd::Autoscroll)->trigger();
  QMenu* menu = frame->menu(MenuId::Go);
  menu->popup(QPoint(10, 10));
  QApplication::processEvents();
  EXPECT_FALSE(view->viewMode() & ViewMode::AutoScroll);
  menu->close();
}

// A click outside the view while a note box is open reaches the text view
// and closes the box; the keys then scroll again.
TEST_F(CommandsTest, AClickOutsideTheViewClosesAnOpenNoteBox) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  EngineObject* tv = view->textView();
  const auto& ops = OpsOf<TextViewOps>(tv);
  const std::u16string path = U16(files_.File("notes.kpa"));
  ASSERT_EQ(ops.annotCommand(tv, TextViewAnnot::SetPath, static_cast<std::uint32_t>(path.size()),
                             const_cast<char16_t*>(path.c_str())),
            kOk);
  std::string text = "a note", comment = "on the first line";
  AnnotEntry e{};
  e.start = 0;
  e.length = 10;
  e.attribute2 = 17;  // yellow
  e.text1 = text.data();
  e.text1Size = static_cast<std::uint32_t>(text.size());
  e.text2 = comment.data();
  e.text2Size = static_cast<std::uint32_t>(comment.size());
  ASSERT_EQ(ops.annotCommand(tv, TextViewAnnot::Add, 0, &e), kOk);
  view->Render();
  int y = -1;
  for (int probe = 0; probe < 60 && y < 0; ++probe)
    if (ops.pointerEvent(tv, TextViewPointer::Probe, 10, static_cast<std::int16_t>(probe)) == kYes)
      y = probe;
  ASSERT_GE(y, 0);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(14, y));
  ASSERT_TRUE(view->viewMode() & ViewMode::NoteBox);
  QTest::mouseClick(frame->statusBar(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(view->viewMode() & ViewMode::NoteBox) << "the click outside closed the box";
  view->setFocus();
  const int before = Pos(view);
  QTest::keyClick(view, Qt::Key_PageDown);
  EXPECT_GT(Pos(view), before);
}

// A copy the clipboard cannot hold is told with the error icon.
StatusCode NoMemoryCopy(EngineObject*, std::uint16_t, std::uint32_t) noexcept {
  return kOutOfMemory;
}

TEST_F(CommandsTest, ACopyOutOfMemoryIsToldAsAnError) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  EngineObject* tv = view->textView();
  const void* real = tv->ops;
  static TextViewOps failing;
  failing = OpsOf<TextViewOps>(tv);
  failing.selectionCommand = &NoMemoryCopy;
  tv->ops = &failing;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    text = box->text();
    box->accept();
  });
  frame->RunCommand(Cmd::CopyEntireScreen);
  tv->ops = real;
  EXPECT_EQ(text, QStringLiteral("There is not enough memory to complete the copy."));
  EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST_F(CommandsTest, AutoScrollStopsAtTheEndOfTheDocument) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "short.txt");
  ASSERT_NE(view, nullptr);
  FakeClock clock;
  view->SetClock(&clock);
  prefs_.setAutoScrollSpeed(20);
  frame->action(Cmd::Autoscroll)->trigger();
  ASSERT_TRUE(view->viewMode() & ViewMode::AutoScroll);
  for (int i = 0; i < 5 && (view->viewMode() & ViewMode::AutoScroll); ++i) {
    clock.now += 1000;
    view->OnTimer(4);
  }
  EXPECT_FALSE(view->viewMode() & ViewMode::AutoScroll);
  EXPECT_EQ(view->timerInterval(4), -1);
}

TEST_F(CommandsTest, TheLayoutTimerKeepsItsSlowBeatOnceLaidOut) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "short.txt");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->timerInterval(2), 500);
  for (int i = 0; i < 10; ++i)
    view->OnTimer(2);
  EXPECT_EQ(view->timerInterval(2), 500);
}

TEST_F(CommandsTest, WindowWithAMenuOpenLooksRight) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  frame->action(Cmd::MarkLocation)->trigger();
  Settle();
  QMenu* menu = frame->menu(MenuId::Go);
  const QList<QAction*> bar = frame->menuBar()->actions();
  QAction* goTitle = nullptr;
  for (QAction* a : bar)
    if (a->menu() == menu) goTitle = a;
  ASSERT_NE(goTitle, nullptr);
  const QRect title = frame->menuBar()->actionGeometry(goTitle);
  const QPoint at = frame->menuBar()->mapToGlobal(title.bottomLeft());
  menu->popup(at);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
  Settle();
  // The Go menu: Back, Forward and the page steps greyed, the rest enabled.
  EXPECT_FALSE(frame->action(Cmd::Back)->isEnabled());
  EXPECT_FALSE(frame->action(Cmd::NextPage)->isEnabled());
  EXPECT_TRUE(frame->action(Cmd::GoTo)->isEnabled());
  EXPECT_TRUE(frame->action(Cmd::Autoscroll)->isEnabled());
  QImage picture = frame->grab().toImage();
  {
    QPainter painter(&picture);
    painter.drawImage(frame->mapFromGlobal(menu->mapToGlobal(QPoint(0, 0))),
                      menu->grab().toImage());
  }
  menu->close();
  KeepPicture(picture, QStringLiteral("main_window_go_menu"));
}

}  // namespace
