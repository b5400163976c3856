// Files that cannot be opened, named on the command line or chosen in File
// Open, in the whole program window: each is named in a message with the
// reason (several at once in one message), and no empty window is left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "app/core/commands.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "app/window/qt_settings_store.h"
#include "tests/app/qt/dialog_driver.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

class OpenProblemsTest : public testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config_.Path()));
    Prefs_SetDefaults(&prefs_);
    Prefs_InitWindowState(&windowState_);
    WriteFileBytes(files_.File("good.txt"), "A readable text.\n");
    WriteFileBytes(files_.File("locked.txt"), "Nobody may read this.\n");
    ASSERT_EQ(chmod(files_.File("locked.txt").c_str(), 0), 0);
    ASSERT_EQ(mkdir(files_.File("folder").c_str(), 0755), 0);
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
    frame->resize(700, 500);
    frame->show();
    return frame;
  }
  QString Name(const char* file) {
    return QDir::toNativeSeparators(QString::fromStdString(files_.File(file)));
  }

  TempDir data_, config_, files_;
  ScopedEnv env_{"KELPO_DATA_HOME", data_.Path()};
  QtSettingsStore settings_;
  Preferences prefs_;
  WindowState windowState_;
  QTimer answer_;
  QStringList messages_;
};

TEST_F(OpenProblemsTest, EachFileThatCannotBeOpenedIsNamedWithItsReason) {
  const bool root = geteuid() == 0;  // permissions do not bind root
  struct Row {
    std::vector<const char*> files;
    QString message;  // empty: none
    int views;
  };
  const std::vector<Row> rows = {
      {{"missing.txt"},
       "This file could not be opened:\n" + Name("missing.txt") + ": there is no such file.",
       0},
      {{"folder"},
       "This file could not be opened:\n" + Name("folder") + ": this is a folder, not a document.",
       0},
      {{"locked.txt"},
       root ? QString()
            : "This file could not be opened:\n" + Name("locked.txt") +
                  ": the file cannot be read (Permission denied).",
       root ? 1 : 0},
      // Several at once: one message lists them; the readable one opens.
      {{"missing.txt", "good.txt", "folder"},
       "These files could not be opened:\n" + Name("missing.txt") + ": there is no such file.\n" +
           Name("folder") + ": this is a folder, not a document.",
       1},
  };
  for (const Row& row : rows) {
    messages_.clear();
    auto frame = MakeFrame();
    QStringList paths;
    for (const char* file : row.files)
      paths << QString::fromStdString(files_.File(file));
    frame->OpenDocumentFiles(paths);
    QApplication::processEvents();
    EXPECT_EQ(messages_, row.message.isEmpty() ? QStringList{} : QStringList{row.message})
        << row.files.front();
    EXPECT_EQ(frame->Views().size(), row.views) << row.files.front();
  }
}

TEST_F(OpenProblemsTest, FileOpenNamesAnUnreadableFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  auto frame = MakeFrame();
  auto chosen = WhenModal<QFileDialog>([this](QFileDialog* dialog) {
    dialog->selectFile(QString::fromStdString(files_.File("locked.txt")));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  frame->action(Cmd::Open)->trigger();
  ASSERT_TRUE(*chosen);
  QApplication::processEvents();
  EXPECT_EQ(messages_, QStringList{"This file could not be opened:\n" + Name("locked.txt") +
                                   ": the file cannot be read (Permission denied)."});
  EXPECT_TRUE(frame->Views().isEmpty());
}

}  // namespace
