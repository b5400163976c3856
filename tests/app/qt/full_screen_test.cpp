// Full screen with several documents: every document window fills the
// screen at once (one opened while in full screen too) and leaving full
// screen gives each window its place and size back. While full screen lasts
// a document window grows no larger than its full-screen place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>

#include "tests/app/qt/reader_fixture.h"

namespace {

class FullScreenTest : public ReaderTest {
 protected:
  QString Document(const std::string& name) {
    std::string text;
    for (int i = 0; i < 40; ++i)
      text += name + " line " + std::to_string(i) + " with some words to read.\n";
    return WriteFile(name, text);
  }
};

TEST_F(FullScreenTest, EveryDocumentFillsTheScreenAndGetsItsPlaceBack) {
  const auto frame = ShownWindow(QSize(900, 600));
  ASSERT_TRUE(frame->OpenDocumentFile(Document("first.txt")));
  ASSERT_TRUE(frame->OpenDocumentFile(Document("second.txt")));
  frame->area()->tileSubWindows();
  Settle();
  const QList<QMdiSubWindow*> tiled = frame->area()->subWindowList();
  ASSERT_EQ(tiled.size(), 2);
  QList<QRect> places;
  for (QMdiSubWindow* child : tiled) {
    EXPECT_FALSE(child->isMaximized());
    places.append(child->geometry());
  }
  KeepPicture(frame.get(), QStringLiteral("full_screen_before_tiled"));

  frame->SetFullScreen(true);
  ASSERT_TRUE(frame->OpenDocumentFile(Document("third.txt")));
  Settle();
  KeepPicture(frame.get(), QStringLiteral("full_screen_three_documents"));
  const QList<QMdiSubWindow*> all = frame->area()->subWindowList();
  ASSERT_EQ(all.size(), 3);
  for (QMdiSubWindow* child : all) {
    SCOPED_TRACE(child->windowTitle().toStdString());
    // The text covers the whole area, the window's frame outside it.
    const QWidget* text = child->widget();
    EXPECT_EQ(QRect(text->mapTo(frame->area()->viewport(), QPoint(0, 0)), text->size()),
              frame->area()->viewport()->rect());
    EXPECT_TRUE(child->isVisible());
  }

  frame->SetFullScreen(false);
  Settle();
  KeepPicture(frame.get(), QStringLiteral("full_screen_left"));
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(tiled[i]->windowTitle().toStdString());
    EXPECT_FALSE(tiled[i]->isMaximized());
    EXPECT_EQ(tiled[i]->geometry(), places[i]);
  }
  // The one opened in full screen had no place before: it takes the area.
  EXPECT_FALSE(all[2]->isMaximized());
  EXPECT_EQ(all[2]->geometry(), frame->area()->viewport()->rect());
}

// A window that already covers the screen keeps its size in full screen (so
// does one whose window manager will not resize it): no resize comes, yet the
// documents must fill the room the hidden bars leave, and fit the smaller
// area again when the bars come back.
TEST_F(FullScreenTest, DocumentsFollowTheBarsWhenTheWindowKeepsItsSize) {
  const auto frame = NewWindow();
  frame->setGeometry(QApplication::primaryScreen()->geometry());
  frame->show();
  ASSERT_TRUE(frame->OpenDocumentFile(Document("first.txt")));
  Settle();
  const QSize before = frame->size();
  frame->SetFullScreen(true);
  ASSERT_TRUE(frame->OpenDocumentFile(Document("second.txt")));
  Settle();
  ASSERT_EQ(frame->size(), before);
  const QWidget* viewport = frame->area()->viewport();
  for (QMdiSubWindow* child : frame->area()->subWindowList()) {
    SCOPED_TRACE(child->windowTitle().toStdString());
    const QWidget* text = child->widget();
    EXPECT_EQ(QRect(text->mapTo(viewport, QPoint(0, 0)), text->size()), viewport->rect());
  }
  frame->SetFullScreen(false);
  Settle();
  // The one opened in full screen takes the area the bars leave.
  EXPECT_EQ(frame->area()->subWindowList().last()->geometry(), viewport->rect());
}

TEST_F(FullScreenTest, ADocumentWindowGrowsNoLargerThanItsFullScreenPlace) {
  const auto frame = ShownWindow(QSize(700, 500));
  ASSERT_TRUE(frame->OpenDocumentFile(Document("first.txt")));
  frame->SetFullScreen(true);
  ASSERT_TRUE(frame->OpenDocumentFile(Document("second.txt")));  // one opened in full screen too
  Settle();
  const QList<QMdiSubWindow*> children = frame->area()->subWindowList();
  ASSERT_EQ(children.size(), 2);
  QList<QSize> places;
  for (QMdiSubWindow* child : children) {
    SCOPED_TRACE(child->windowTitle().toStdString());
    const QSize place = child->size();
    places.append(place);
    EXPECT_GT(place.width(), frame->area()->viewport()->width());  // its frame lies outside
    EXPECT_EQ(child->maximumSize(), place);
    child->resize(place + QSize(60, 40));  // as a drag on its edge would
    EXPECT_EQ(child->size(), place);
  }

  frame->SetFullScreen(false);
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
