// The main window with real documents, headless: two documents open side by
// side and both show their text; an open document is brought to the front
// instead of opened twice; a file no handler takes is refused; the recent
// list keeps nine entries, newest first; the page chosen in Print Set-up is
// the page the next print uses.
#include "app/window/main_frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QStatusBar>
#include <QUrl>
#include <cstdio>
#include <optional>
#include <string>

#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/print_job.h"
#include "engine/runtime/dict.h"
#include "engine/stores/settings_store.h"
#include "tests/app/qt/modal_script.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"

namespace {

class MainFrameTest : public ReaderTest {
 protected:
  // The share of inked (not background) pixels in a rectangle of the window.
  static double Ink(const QImage& picture, const QRect& r) {
    const QColor background = picture.pixelColor(r.center().x(), r.bottom() - 2);
    int inked = 0, all = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x, ++all)
        inked += picture.pixelColor(x, y) != background;
    return all == 0 ? 0 : static_cast<double>(inked) / all;
  }
};

TEST_F(MainFrameTest, TwoDocumentsSideBySideBothShowTheirText) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  WriteFile("book.txt", NumberedLines(80, " of a Palm Doc book with words to read."));
  int status = -1;
  RunPeer("txt2pdbdoc Book '" + files_.File("book.txt") + "' '" + files_.File("book.pdb") + "'", "",
          &status);
  ASSERT_EQ(status, 0);
  const QString notes = WriteFile("notes.txt", "Notes in plain text.\nA second line of notes.\n");

  const auto frame = ShownWindow(QSize(900, 600));
  ASSERT_TRUE(frame->OpenDocumentFile(QString::fromStdString(files_.File("book.pdb"))));
  ASSERT_TRUE(frame->OpenDocumentFile(notes));
  frame->area()->tileSubWindows();
  Settle();
  const QImage picture = frame->grab().toImage();
  KeepPicture(picture, QStringLiteral("main_window_two_documents"));

  const QList<KelpoView*> views = frame->Views();
  ASSERT_EQ(views.size(), 2);
  for (KelpoView* view : views) {
    SCOPED_TRACE(view->parentWidget()->windowTitle().toStdString());
    EXPECT_TRUE(view->layoutValid());
    const QRect area(view->viewport()->mapTo(frame.get(), QPoint(0, 0)), view->viewport()->size());
    // Text covers a fair part of the top of each window.
    const QRect top(area.topLeft(), QSize(area.width() / 2, std::min(area.height(), 40)));
    EXPECT_GT(Ink(picture, top), 0.02);
  }

  // The same file again (by another name of it): the window comes forward.
  const QString again = QString::fromStdString(files_.Path() + "/./book.pdb");
  ASSERT_TRUE(frame->OpenDocumentFile(again));
  EXPECT_EQ(frame->Views().size(), 2);
  EXPECT_EQ(frame->area()->activeSubWindow()->windowTitle(), QStringLiteral("book.pdb"));
}

TEST_F(MainFrameTest, RecentListKeepsNineNewestFirstAndForgetsFilesThatFail) {
  const auto frame = NewWindow();
  for (int i = 0; i < 11; ++i) {
    ASSERT_TRUE(frame->OpenDocumentFile(
        WriteFile("doc" + std::to_string(i) + ".txt", "document " + std::to_string(i) + "\n")));
  }
  QStringList recent = settings_.settings().value("Recent File List/Files").toStringList();
  ASSERT_EQ(recent.size(), kRecentFiles);
  EXPECT_TRUE(recent.front().endsWith("doc10.txt"));
  EXPECT_TRUE(recent.back().endsWith("doc2.txt"));

  // A recent file that has gone is dropped from the list when it fails.
  const QString gone = recent[3];
  for (KelpoView* view : frame->Views())
    if (view->parentWidget()->windowTitle() == QFileInfo(gone).fileName())
      static_cast<QMdiSubWindow*>(view->parentWidget())->close();
  Settle();
  ASSERT_TRUE(QFile::remove(gone));
  EXPECT_FALSE(frame->OpenDocumentFile(gone));
  recent = settings_.settings().value("Recent File List/Files").toStringList();
  EXPECT_FALSE(recent.contains(gone));
}

TEST_F(MainFrameTest, DroppedFilesOpenUpToSixteenAndFoldersAreSkipped) {
  const auto frame = NewWindow();
  QList<QUrl> urls;
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(files_.File("folder.txt"))));
  urls.append(QUrl::fromLocalFile(QString::fromStdString(files_.File("folder.txt"))));
  for (int i = 0; i < 20; ++i) {
    urls.append(
        QUrl::fromLocalFile(WriteFile("dropped" + std::to_string(i) + ".txt", "dropped\n")));
  }
  frame->OpenDroppedFiles(urls);
  // Sixteen taken: the folder and fifteen files.
  EXPECT_EQ(frame->Views().size(), 15);
}

TEST_F(MainFrameTest, AFirstRunAddsTheDefaultCategories) {
  auto topLevelNames = [](EngineObject* store) {
    EngineObject* dict = nullptr;
    std::vector<std::u16string> names;
    if (IsFailure(Settings_GetCategorySet(store, &dict)) || dict == nullptr) return names;
    for (const char16_t* name : {u"Business", u"Personal"}) {
      std::uint16_t id = 0;
      if (Dict_AddPath(dict, nullptr, name, 0, 0, 0, &id) == kOk) names.push_back(name);
    }
    return names;
  };
  {
    const auto first = NewWindow();
    ASSERT_NE(first->store(), nullptr);
    EXPECT_EQ(topLevelNames(first->store()).size(), 2u);
  }
  const auto second = NewWindow();
  EXPECT_EQ(topLevelNames(second->store()).size(), 2u);
}

TEST_F(MainFrameTest, PrintSetUpChoiceIsUsedByTheNextPrint) {
  KELPO_REQUIRE_PEER("pdfinfo");
  const QString notes = WriteFile("notes.txt", "Notes in plain text.\nA second line of notes.\n");
  const auto frame = ShownWindow(QSize(900, 600));
  ASSERT_TRUE(frame->OpenDocumentFile(notes));
  Settle();
  KelpoView* view = frame->ActiveView();
  ASSERT_NE(view, nullptr);

  // Print Set-up, choosing landscape paper.
  modal_script::WhenModal<QPageSetupDialog>([](QPageSetupDialog* dialog) {
    bool chosen = false;
    for (QRadioButton* button : dialog->findChildren<QRadioButton*>()) {
      if (button->text().remove(QLatin1Char('&')) != QStringLiteral("Landscape")) continue;
      button->click();
      chosen = true;
    }
    EXPECT_TRUE(chosen) << "the page set-up dialog offers no landscape choice";
    dialog->accept();
  });
  frame->RunCommand(Cmd::PrintSetup);
  modal_script::CancelPending();

  // The next print takes the chosen page.
  const std::string pdf = files_.File("notes.pdf");
  QPrinter printer(QPrinter::HighResolution);
  KelpoView_UsePrintSetup(view, &printer);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(pdf));
  ASSERT_TRUE(KelpoView_PrintTo(view, &printer));
  int status = -1;
  const std::string info = RunPeer("pdfinfo '" + pdf + "'", "", &status);
  ASSERT_EQ(status, 0) << info;
  double w = 0, h = 0;
  const std::size_t at = info.find("Page size:");
  ASSERT_NE(at, std::string::npos) << info;
  ASSERT_EQ(std::sscanf(info.c_str() + at, "Page size: %lf x %lf", &w, &h), 2) << info;
  EXPECT_GT(w, h) << info;
}

TEST_F(MainFrameTest, StatusBarShowsTheMessageAndTheThreeLockIndicators) {
  const auto frame = ShownWindow();
  Settle();
  EXPECT_EQ(frame->statusBar()->currentMessage().toStdString(), "Ready");
  QStringList shown;
  for (QLabel* label : frame->statusBar()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
    if (label->isVisible()) shown << label->text();
  EXPECT_EQ(shown.join(QLatin1Char(' ')).toStdString(), "CAP NUM SCRL");
}

}  // namespace
