// The help window as a user reaches it: Contents and F1 on the main window
// show the contents, F1 in a dialog shows that dialog's topic, Shift+F1 and
// a click name the topic of what was clicked; the help set is found in the
// "help" folder next to the program.
#include "app/program/help_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include "app/core/commands.h"
#include "app/dialogs/find_dialog.h"
#include "app/dialogs/options_sheet.h"
#include "app/program/startup.h"
#include "tests/app/qt/modal_script.h"
#include "tests/app/qt/reader_fixture.h"

namespace {

using modal_script::WhenModal;

class HelpTest : public ReaderTest {
 protected:
  void SetUp() override { (void)FindProgramFolders(); }
  void TearDown() override {
    modal_script::CancelPending();
    delete HelpWindow::Current();
  }
  // The page the help window shows, as "page.html#anchor" (empty without
  // a help window or a page).
  static std::string Shown() {
    HelpWindow* help = HelpWindow::Current();
    // A page that could not be read shows nothing.
    if (help == nullptr || !help->isVisible() || help->browser()->toPlainText().isEmpty())
      return {};
    const QUrl url = help->browser()->source();
    QString page = url.fileName();
    if (url.hasFragment()) page += "#" + url.fragment();
    return page.toStdString();
  }
};

TEST_F(HelpTest, ContentsAndF1OnTheMainWindowShowTheContents) {
  const auto frame = ShownWindow();
  frame->RunCommand(Cmd::HelpContents);
  EXPECT_EQ(Shown(), "index.html");
  HelpWindow* help = HelpWindow::Current();
  ASSERT_NE(help, nullptr);
  // The page is the shipped one, with its text.
  EXPECT_TRUE(help->browser()->toPlainText().contains("Contents"));
  EXPECT_TRUE(help->browser()->source().toLocalFile().startsWith(ProgramPaths().help));
  help->close();
  QApplication::processEvents();
  EXPECT_EQ(Shown(), "");

  QApplication::setActiveWindow(frame.get());
  QTest::keyClick(frame.get(), Qt::Key_F1);
  EXPECT_EQ(Shown(), "index.html");
  KeepPicture(HelpWindow::Current(), QStringLiteral("help_contents"));

  // A link of the contents leads on to its topic.
  HelpWindow::Current()->browser()->setSource(QUrl(QStringLiteral("bookmarks.html")));
  EXPECT_EQ(Shown(), "bookmarks.html");
  EXPECT_TRUE(HelpWindow::Current()->browser()->toPlainText().contains("Add Bookmark"));
  KeepPicture(HelpWindow::Current(), QStringLiteral("help_bookmarks"));
}

TEST_F(HelpTest, F1InADialogShowsThatDialogsTopic) {
  const auto frame = ShownWindow();
  ASSERT_TRUE(frame->OpenDocumentFile(
      WriteFile("notes.txt", "Notes in plain text.\nA second line of notes.\n")));

  struct Case {
    std::uint16_t command;
    int optionsPage;  // -1: not the Options sheet
    const char* topic;
  };
  const Case cases[] = {
      {Cmd::Find, -1, "go.html#c32772"},
      {Cmd::Options, 0, "options.html#c106"},
      {Cmd::Options, 1, "options.html#c102"},
      {Cmd::Options, 2, "tap_regions.html#c146"},
      {Cmd::Options, 5, "options.html#c148"},
      {Cmd::Options, 4, "index.html"},  // the Color page has no topic of its own
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.topic);
    if (c.optionsPage >= 0) prefs_.setLastOptionsPage(static_cast<std::uint8_t>(c.optionsPage));
    std::string shown;
    bool helpOnTop = false;
    WhenModal<QDialog>([&](QDialog* dialog) {
      QTest::keyClick(dialog, Qt::Key_F1);
      shown = Shown();
      helpOnTop = HelpWindow::Current() != nullptr &&
                  QApplication::activeModalWidget() == HelpWindow::Current();
      if (HelpWindow::Current() != nullptr) HelpWindow::Current()->close();
      dialog->reject();
    });
    frame->RunCommand(c.command);
    EXPECT_EQ(shown, c.topic);
    EXPECT_TRUE(helpOnTop);  // usable over the dialog
  }
}

TEST_F(HelpTest, ShiftF1ThenAClickShowsTheTopicOfWhatWasClicked) {
  const auto frame = ShownWindow(QSize(900, 600));
  QApplication::setActiveWindow(frame.get());
  QApplication::processEvents();
  QToolBar* bar = frame->findChild<QToolBar*>();
  ASSERT_NE(bar, nullptr);
  QWidget* openButton = bar->widgetForAction(frame->action(Cmd::Open));
  ASSERT_NE(openButton, nullptr);

  struct Case {
    QWidget* widget;
    QPoint at;
    const char* topic;
  };
  const Case cases[] = {
      {openButton, openButton->rect().center(), "file.html#c57601"},
      {bar, QPoint(bar->width() - 3, bar->height() / 2), "view.html#c59392"},
      {frame->statusBar(), frame->statusBar()->rect().center(), "view.html#c59393"},
      {frame->area(), frame->area()->rect().center(), "index.html"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.topic);
    QApplication::setActiveWindow(frame.get());
    QTest::keyClick(frame.get(), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_EQ(Shown(), "");  // nothing yet: the click names the topic
    QTest::mouseClick(c.widget, Qt::LeftButton, Qt::NoModifier, c.at);
    EXPECT_EQ(Shown(), c.topic);
    if (HelpWindow::Current() != nullptr) HelpWindow::Current()->close();
    QApplication::processEvents();
  }
}

TEST_F(HelpTest, AboutShowsTheVersion) {
  const auto frame = NewWindow();
  QString text;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    text = box->text();
    box->accept();
  });
  frame->RunCommand(Cmd::About);
  EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("^Kelpo version \\d+\\.\\d+"))))
      << text.toStdString();
}

}  // namespace
