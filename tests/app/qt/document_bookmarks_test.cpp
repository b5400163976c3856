// Document bookmarks stored in the document file, added through the Add
// Bookmark dialog of the whole program window: the file is reopened for
// writing under the open view, which must go on reading (paging, finding)
// and, after a restart, jump back to the marked place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <string>

#include "app/core/bookmark_rules.h"
#include "app/core/commands.h"
#include "app/dialogs/bookmark_dialogs.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "app/window/qt_settings_store.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/dialog_driver.h"
#include "tests/support/native_writer.h"
#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

class DocumentBookmarksTest : public testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config_.Path()));
    Prefs_SetDefaults(&prefs_);
    Prefs_SelectDefaultEncoding(&prefs_);  // as the program starts
    Prefs_InitWindowState(&windowState_);
    for (int i = 0; i < 400; ++i)
      book_ += "Line " + std::to_string(i) + " of a native book with bookmarks.\n";
    // Every message box is answered and its text kept.
    QObject::connect(&answer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        messages_ << box->text();
        box->accept();
      }
    });
    answer_.start(5);
  }
  std::unique_ptr<MainFrame> MakeFrame() {
    auto frame = std::make_unique<ReaderWindow>(&settings_, &prefs_, &windowState_);
    frame->resize(900, 640);
    frame->show();
    frame->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    return frame;
  }
  KelpoView* Open(MainFrame& frame, const std::string& path) {
    EXPECT_TRUE(frame.OpenDocumentFile(QString::fromStdString(path)));
    for (int i = 0; i < 20; ++i)
      QApplication::processEvents();
    KelpoView* view = frame.ActiveView();
    EXPECT_NE(view, nullptr);
    if (view != nullptr) {
      view->setFocus();
      view->Render();
      for (int i = 0; i < 50; ++i)
        view->OnTimer(2);  // background layout to its end
    }
    return view;
  }
  static std::uint32_t Top(KelpoView* view) {
    std::uint32_t offset = 0;
    EXPECT_FALSE(
        IsFailure(OpsOf<TextViewOps>(view->textView()).control(view->textView(), 1, 0, &offset)));
    return offset;
  }
  // Whether the screen shows the line.
  bool Shows(KelpoView* view, int line) {
    const auto at = static_cast<std::uint32_t>(book_.find("Line " + std::to_string(line) + " "));
    std::uint32_t end = 0;
    EXPECT_EQ(OpsOf<TextViewOps>(view->textView()).control(view->textView(), 7, 0, &end), kOk);
    return Top(view) <= at && at < end;
  }
  // The view still reads: a page down moves it on, and a word further on is
  // found and shown.
  void ExpectReading(KelpoView* view) {
    const std::uint32_t before = Top(view);
    view->PageDown(true);
    view->Render();
    EXPECT_GT(Top(view), before) << "paging moves on";
    prefs_.setSearchText(u"Line 371 ");
    prefs_.setSearchOptions(0);
    view->DoFind(false);
    EXPECT_TRUE(Shows(view, 371));
  }

  TempDir data_, config_, files_;
  ScopedEnv env_{"KELPO_DATA_HOME", data_.Path()};
  QtSettingsStore settings_;
  Preferences prefs_;
  WindowState windowState_;
  std::string book_;
  QTimer answer_;
  QStringList messages_;
};

TEST_F(DocumentBookmarksTest, ANativeDocumentTakesADocumentBookmarkAndKeepsReading) {
  KELPO_REQUIRE_PEER("python3");
  std::string error;
  const std::string file = native_tool::Write("{}", book_, &error);
  ASSERT_FALSE(file.empty()) << error;
  const std::string path = files_.File("book.pdb");
  WriteFileBytes(path, file);

  std::uint32_t marked = 0;
  {
    auto frame = MakeFrame();
    KelpoView* view = Open(*frame, path);
    ASSERT_NE(view, nullptr);
    for (int i = 0; i < 3; ++i)
      view->PageDown(true);
    view->Render();
    marked = Top(view);
    ASSERT_GT(marked, 0u);
    auto added = WhenModal<AddBookmarkDialog>([](AddBookmarkDialog* d) {
      EXPECT_EQ(d->kindBox()->currentIndex(), BookmarkKind::kDocument) << "the default kind";
      d->nameEdit()->setText(QStringLiteral("Marked"));
      QTest::keyClick(d, Qt::Key_Return);
    });
    QTest::keyClick(view, Qt::Key_B, Qt::ControlModifier);
    ASSERT_TRUE(*added);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
    EXPECT_EQ(Top(view), marked) << "the view stays where it was";
    ExpectReading(view);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
  }
  // The file holds the name (read by the record parser of the tests).
  bool stored = false;
  for (const std::string& record : record_db_fixtures::ParseRecords(ReadFileBytes(path)))
    stored |= record.find("Marked") != std::string::npos;
  EXPECT_TRUE(stored);

  messages_.clear();
  // After a restart the bookmarks pop-up lists it and jumps to it.
  auto frame = MakeFrame();
  KelpoView* view = Open(*frame, path);
  ASSERT_NE(view, nullptr);
  frame->action(Cmd::Home)->trigger();
  ASSERT_EQ(Top(view), 0u);
  QStringList shown;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction* a : menu->actions())
      shown << a->text();
    ASSERT_FALSE(menu->actions().isEmpty());
    QTest::mouseClick(menu, Qt::LeftButton, {},
                      menu->actionGeometry(menu->actions().front()).center());
  });
  QTest::keyClick(view, Qt::Key_K, Qt::ControlModifier);
  EXPECT_EQ(shown, QStringList{QStringLiteral("Marked")});
  EXPECT_EQ(Top(view), marked);
  ExpectReading(view);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
}

}  // namespace
