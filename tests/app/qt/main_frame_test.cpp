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
#include <QSettings>
#include <QStatusBar>
#include <QUrl>
#include <cstdio>
#include <optional>
#include <string>

#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/print_job.h"
#include "app/window/qt_settings_store.h"
#include "engine/runtime/dict.h"
#include "engine/stores/settings_store.h"
#include "tests/app/qt/modal_script.h"
#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

class MainFrameTest : public testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config_.Path()));
    Prefs_SetDefaults(&prefs_);
    prefs_.setDefaultEncoding(2252);
    Prefs_InitWindowState(&windowState_);
  }
  void Settle() {
    for (int i = 0; i < 20; ++i)
      QApplication::processEvents();
  }
  // The share of inked (not background) pixels in a rectangle of the window.
  static double Ink(const QImage& picture, const QRect& r) {
    const QColor background = picture.pixelColor(r.center().x(), r.bottom() - 2);
    int inked = 0, all = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x, ++all)
        inked += picture.pixelColor(x, y) != background;
    return all == 0 ? 0 : static_cast<double>(inked) / all;
  }

  TempDir data_;
  TempDir config_;
  TempDir files_;
  ScopedEnv env_{"KELPO_DATA_HOME", data_.Path()};
  Preferences prefs_;
  WindowState windowState_;
};

TEST_F(MainFrameTest, TwoDocumentsSideBySideBothShowTheirText) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  std::string text;
  for (int i = 0; i < 80; ++i)
    text += "Line " + std::to_string(i) + " of a Palm Doc book with words to read.\n";
  WriteFileBytes(files_.File("book.txt"), text);
  int status = -1;
  RunPeer("txt2pdbdoc Book '" + files_.File("book.txt") + "' '" + files_.File("book.pdb") + "'", "",
          &status);
  ASSERT_EQ(status, 0);
  WriteFileBytes(files_.File("notes.txt"), "Notes in plain text.\nA second line of notes.\n");

  QtSettingsStore settings;
  ReaderWindow frame(&settings, &prefs_, &windowState_);
  frame.resize(900, 600);
  frame.show();
  ASSERT_TRUE(frame.OpenDocumentFile(QString::fromStdString(files_.File("book.pdb"))));
  ASSERT_TRUE(frame.OpenDocumentFile(QString::fromStdString(files_.File("notes.txt"))));
  frame.area()->tileSubWindows();
  Settle();
  const QImage picture = frame.grab().toImage();
  const QString dir = QString::fromUtf8(
      std::getenv("KELPO_ARTIFACT_DIR") ? std::getenv("KELPO_ARTIFACT_DIR") : ".");
  QDir().mkpath(dir);
  EXPECT_TRUE(picture.save(dir + "/main_window_two_documents.png"));

  const QList<KelpoView*> views = frame.Views();
  ASSERT_EQ(views.size(), 2);
  for (KelpoView* view : views) {
    SCOPED_TRACE(view->parentWidget()->windowTitle().toStdString());
    EXPECT_TRUE(view->layoutValid());
    const QRect area(view->viewport()->mapTo(&frame, QPoint(0, 0)), view->viewport()->size());
    // Text covers a fair part of the top of each window.
    const QRect top(area.topLeft(), QSize(area.width() / 2, std::min(area.height(), 40)));
    EXPECT_GT(Ink(picture, top), 0.02);
  }

  // The same file again (by another name of it): the window comes forward.
  const QString again = QString::fromStdString(files_.Path() + "/./book.pdb");
  ASSERT_TRUE(frame.OpenDocumentFile(again));
  EXPECT_EQ(frame.Views().size(), 2);
  EXPECT_EQ(frame.area()->activeSubWindow()->windowTitle(), QStringLiteral("book.pdb"));
}

TEST_F(MainFrameTest, RecentListKeepsNineNewestFirstAndForgetsFilesThatFail) {
  QtSettingsStore settings;
  ReaderWindow frame(&settings, &prefs_, &windowState_);
  for (int i = 0; i < 11; ++i) {
    const std::string path = files_.File("doc" + std::to_string(i) + ".txt");
    WriteFileBytes(path, "document " + std::to_string(i) + "\n");
    ASSERT_TRUE(frame.OpenDocumentFile(QString::fromStdString(path)));
  }
  QStringList recent = settings.settings().value("Recent File List/Files").toStringList();
  ASSERT_EQ(recent.size(), kRecentFiles);
  EXPECT_TRUE(recent.front().endsWith("doc10.txt"));
  EXPECT_TRUE(recent.back().endsWith("doc2.txt"));

  // A recent file that has gone is dropped from the list when it fails.
  const QString gone = recent[3];
  for (KelpoView* view : frame.Views())
    if (view->parentWidget()->windowTitle() == QFileInfo(gone).fileName())
      static_cast<QMdiSubWindow*>(view->parentWidget())->close();
  Settle();
  ASSERT_TRUE(QFile::remove(gone));
  EXPECT_FALSE(frame.OpenDocumentFile(gone));
  recent = settings.settings().value("Recent File List/Files").toStringList();
  EXPECT_FALSE(recent.contains(gone));
}

TEST_F(MainFrameTest, DroppedFilesOpenUpToSixteenAndFoldersAreSkipped) {
  QtSettingsStore settings;
  ReaderWindow frame(&settings, &prefs_, &windowState_);
  QList<QUrl> urls;
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(files_.File("folder.txt"))));
  urls.append(QUrl::fromLocalFile(QString::fromStdString(files_.File("folder.txt"))));
  for (int i = 0; i < 20; ++i) {
    const std::string path = files_.File("dropped" + std::to_string(i) + ".txt");
    WriteFileBytes(path, "dropped\n");
    urls.append(QUrl::fromLocalFile(QString::fromStdString(path)));
  }
  frame.OpenDroppedFiles(urls);
  // Sixteen taken: the folder and fifteen files.
  EXPECT_EQ(frame.Views().size(), 15);
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
  QtSettingsStore settings;
  {
    ReaderWindow first(&settings, &prefs_, &windowState_);
    ASSERT_NE(first.store(), nullptr);
    EXPECT_EQ(topLevelNames(first.store()).size(), 2u);
  }
  ReaderWindow second(&settings, &prefs_, &windowState_);
  EXPECT_EQ(topLevelNames(second.store()).size(), 2u);
}

TEST_F(MainFrameTest, PrintSetUpChoiceIsUsedByTheNextPrint) {
  KELPO_REQUIRE_PEER("pdfinfo");
  WriteFileBytes(files_.File("notes.txt"), "Notes in plain text.\nA second line of notes.\n");
  QtSettingsStore settings;
  ReaderWindow frame(&settings, &prefs_, &windowState_);
  frame.resize(900, 600);
  frame.show();
  ASSERT_TRUE(frame.OpenDocumentFile(QString::fromStdString(files_.File("notes.txt"))));
  Settle();
  KelpoView* view = frame.ActiveView();
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
  frame.RunCommand(Cmd::PrintSetup);
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
  QtSettingsStore settings;
  ReaderWindow frame(&settings, &prefs_, &windowState_);
  frame.show();
  Settle();
  EXPECT_EQ(frame.statusBar()->currentMessage().toStdString(), "Ready");
  QStringList shown;
  for (QLabel* label : frame.statusBar()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
    if (label->isVisible()) shown << label->text();
  EXPECT_EQ(shown.join(QLatin1Char(' ')).toStdString(), "CAP NUM SCRL");
}

}  // namespace
