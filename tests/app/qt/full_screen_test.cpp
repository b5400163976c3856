// Full screen with several documents: every document window fills the
// screen at once (one opened while in full screen too) and leaving full
// screen gives each window its place and size back. While full screen lasts
// a document window grows no larger than its full-screen place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QSettings>

#include "app/program/reader_dialogs.h"
#include "app/window/qt_settings_store.h"
#include "tests/app/qt/modal_script.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

class FullScreenTest : public testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config_.Path()));
    Prefs_SetDefaults(&prefs_);
    prefs_.setDefaultEncoding(2252);
    Prefs_InitWindowState(&windowState_);
  }
  QString Document(const std::string& name) {
    std::string text;
    for (int i = 0; i < 40; ++i)
      text += name + " line " + std::to_string(i) + " with some words to read.\n";
    WriteFileBytes(files_.File(name), text);
    return QString::fromStdString(files_.File(name));
  }
  static void Settle() {
    for (int i = 0; i < 20; ++i)
      QApplication::processEvents();
  }

  TempDir data_;
  TempDir config_;
  TempDir files_;
  ScopedEnv env_{"KELPO_DATA_HOME", data_.Path()};
  Preferences prefs_;
  WindowState windowState_;
};

TEST_F(FullScreenTest, EveryDocumentFillsTheScreenAndGetsItsPlaceBack) {
  QtSettingsStore settings;
  ReaderWindow frame(&settings, &prefs_, &windowState_);
  frame.resize(900, 600);
  frame.show();
  ASSERT_TRUE(frame.OpenDocumentFile(Document("first.txt")));
  ASSERT_TRUE(frame.OpenDocumentFile(Document("second.txt")));
  frame.area()->tileSubWindows();
  Settle();
  const QList<QMdiSubWindow*> tiled = frame.area()->subWindowList();
  ASSERT_EQ(tiled.size(), 2);
  QList<QRect> places;
  for (QMdiSubWindow* child : tiled) {
    EXPECT_FALSE(child->isMaximized());
    places.append(child->geometry());
  }
  modal_script::SaveShot(&frame, QStringLiteral("full_screen_before_tiled"));

  frame.SetFullScreen(true);
  ASSERT_TRUE(frame.OpenDocumentFile(Document("third.txt")));
  Settle();
  modal_script::SaveShot(&frame, QStringLiteral("full_screen_three_documents"));
  const QList<QMdiSubWindow*> all = frame.area()->subWindowList();
  ASSERT_EQ(all.size(), 3);
  for (QMdiSubWindow* child : all) {
    SCOPED_TRACE(child->windowTitle().toStdString());
    // The text covers the whole area, the window's frame outside it.
    const QWidget* text = child->widget();
    EXPECT_EQ(QRect(text->mapTo(frame.area()->viewport(), QPoint(0, 0)), text->size()),
              frame.area()->viewport()->rect());
    EXPECT_TRUE(child->isVisible());
  }

  frame.SetFullScreen(false);
  Settle();
  modal_script::SaveShot(&frame, QStringLiteral("full_screen_left"));
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(tiled[i]->windowTitle().toStdString());
    EXPECT_FALSE(tiled[i]->isMaximized());
    EXPECT_EQ(tiled[i]->geometry(), places[i]);
  }
  // The one opened in full screen had no place before: it takes the area.
  EXPECT_FALSE(all[2]->isMaximized());
  EXPECT_EQ(all[2]->geometry(), frame.area()->viewport()->rect());
}

// A window that already covers the screen keeps its size in full screen (so
// does one whose window manager will not resize it): no resize comes, yet the
// documents must fill the room the hidden bars leave, and fit the smaller
// area again when the bars come back.
TEST_F(FullScreenTest, DocumentsFollowTheBarsWhenTheWindowKeepsItsSize) {
  QtSettingsStore settings;
  ReaderWindow frame(&settings, &prefs_, &windowState_);
  frame.setGeometry(QApplication::primaryScreen()->geometry());
  frame.show();
  ASSERT_TRUE(frame.OpenDocumentFile(Document("first.txt")));
  Settle();
  const QSize before = frame.size();
  frame.SetFullScreen(true);
  ASSERT_TRUE(frame.OpenDocumentFile(Document("second.txt")));
  Settle();
  ASSERT_EQ(frame.size(), before);
  const QWidget* viewport = frame.area()->viewport();
  for (QMdiSubWindow* child : frame.area()->subWindowList()) {
    SCOPED_TRACE(child->windowTitle().toStdString());
    const QWidget* text = child->widget();
    EXPECT_EQ(QRect(text->mapTo(viewport, QPoint(0, 0)), text->size()), viewport->rect());
  }
  frame.SetFullScreen(false);
  Settle();
  // The one opened in full screen takes the area the bars leave.
  EXPECT_EQ(frame.area()->subWindowList().last()->geometry(), viewport->rect());
}

TEST_F(FullScreenTest, ADocumentWindowGrowsNoLargerThanItsFullScreenPlace) {
  QtSettingsStore settings;
  ReaderWindow frame(&settings, &prefs_, &windowState_);
  frame.resize(700, 500);
  frame.show();
  ASSERT_TRUE(frame.OpenDocumentFile(Document("first.txt")));
  frame.SetFullScreen(true);
  ASSERT_TRUE(frame.OpenDocumentFile(Document("second.txt")));  // one opened in full screen too
  Settle();
  const QList<QMdiSubWindow*> children = frame.area()->subWindowList();
  ASSERT_EQ(children.size(), 2);
  QList<QSize> places;
  for (QMdiSubWindow* child : children) {
    SCOPED_TRACE(child->windowTitle().toStdString());
    const QSize place = child->size();
    places.append(place);
    EXPECT_GT(place.width(), frame.area()->viewport()->width());  // its frame lies outside
    EXPECT_EQ(child->maximumSize(), place);
    child->resize(place + QSize(60, 40));  // as a drag on its edge would
    EXPECT_EQ(child->size(), place);
  }

  frame.SetFullScreen(false);
  Settle();
  for (int i = 0; i < children.size(); ++i) {
    QMdiSubWindow* child = children[i];
    SCOPED_TRACE(child->windowTitle().toStdString());
    child->showNormal();
    child->resize(places[i] + QSize(60, 40));
    EXPECT_EQ(child->size(), places[i] + QSize(60, 40));
  }
}

}  // namespace
