// The program's start-up as main runs it: the program folder and the help
// folder under it, the failure to find the program folder told and
// survived, and the size-budget question asked before any document window
// exists; the engine's module table is whole after start-up.
#include "app/program/startup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>

#include "app/device/win_device.h"
#include "app/window/kelpo_view.h"
#include "app/window/qt_settings_store.h"
#include "engine/runtime/module_table.h"
#include "tests/app/qt/modal_script.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

using modal_script::AnswerMessage;
using modal_script::WhenModal;

class StartupTest : public testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config_.Path()));
    Prefs_SetDefaults(&prefs_);
    prefs_.setDefaultEncoding(2252);
    Prefs_InitWindowState(&windowState_);
  }
  void TearDown() override { modal_script::CancelPending(); }

  TempDir data_;
  TempDir config_;
  TempDir files_;
  ScopedEnv env_{"KELPO_DATA_HOME", data_.Path()};
  Preferences prefs_;
  WindowState windowState_;
};

TEST_F(StartupTest, HelpFolderIsTheHelpFolderUnderTheProgramFolder) {
  QtSettingsStore settings;
  const auto frame = StartReader(&settings, &prefs_, &windowState_, {});
  const QString program = QCoreApplication::applicationDirPath();
  EXPECT_EQ(ProgramPaths().program.toStdString(), program.toStdString());
  EXPECT_EQ(ProgramPaths().help.toStdString(), (program + "/help").toStdString());
  EXPECT_TRUE(frame->isVisible());
}

TEST_F(StartupTest, ProgramFolderNotFoundIsToldAndTheProgramRunsOn) {
  AnswerMessage(QStringLiteral("Failed to get application path"), QMessageBox::Ok,
                QMessageBox::Warning);
  QtSettingsStore settings;
  const std::string doc = files_.File("notes.txt");
  WriteFileBytes(doc, "Notes in plain text.\n");
  const auto frame = StartReader(&settings, &prefs_, &windowState_, {QString::fromStdString(doc)},
                                 [](char16_t* buffer, std::uint32_t* length) {
                                   buffer[0] = 0;
                                   *length = 0;
                                   return false;
                                 });
  EXPECT_TRUE(ProgramPaths().program.isEmpty());
  EXPECT_TRUE(ProgramPaths().help.isEmpty());
  EXPECT_TRUE(frame->isVisible());
  EXPECT_EQ(frame->Views().size(), 1);
}

TEST_F(StartupTest, SizeBudgetIsAskedBeforeAnyDocumentIsOpened) {
  const QString folder = QString::fromStdString(data_.Path()) + "/Kelpo/Kelpo/Settings";
  ASSERT_TRUE(QDir().mkpath(folder));
  WriteFileBytes((folder + "/padding").toStdString(), std::string(4096, 'x'));
  prefs_.setLocalSettingsLimitKB(1);
  const std::string doc = files_.File("notes.txt");
  WriteFileBytes(doc, "Notes in plain text.\n");

  int windowsAtQuestion = -1;
  QString question;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    question = box->text();
    windowsAtQuestion = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* frame = dynamic_cast<MainFrame*>(w)) windowsAtQuestion += frame->Views().size();
    box->button(QMessageBox::No)->click();
  });
  QtSettingsStore settings;
  const auto frame = StartReader(&settings, &prefs_, &windowState_, {QString::fromStdString(doc)});
  EXPECT_TRUE(question.contains(QStringLiteral("above the 1 KB limit"))) << question.toStdString();
  EXPECT_EQ(windowsAtQuestion, 0);
  EXPECT_EQ(frame->Views().size(), 1);
  EXPECT_TRUE(QFile::exists(folder + "/padding"));  // No leaves every file
}

TEST_F(StartupTest, EveryModuleTableEntryIsFilledWithTheWindowDeviceAsOutput) {
  ASSERT_TRUE(StartEngine());
  for (int i = 0; i < kModuleTableSize; ++i)
    EXPECT_NE(*Core_ModuleTableEntry(i), nullptr) << "entry " << i;
  EXPECT_EQ(g_WinDeviceModule, &WinDeviceModule);
}

}  // namespace
