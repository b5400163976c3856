// The program's start-up as main runs it: the program folder and the help
// folder under it, the failure to find the program folder told and
// survived, and the size-budget question asked before any document window
// exists; the engine's module table is whole after start-up. The command
// line: what ends the program, and what is only reported.
#include "app/program/startup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>

#include "app/device/win_device.h"
#include "app/window/kelpo_view.h"
#include "engine/runtime/module_table.h"
#include "tests/app/qt/modal_script.h"
#include "tests/app/qt/reader_fixture.h"

namespace {

using modal_script::AnswerMessage;
using modal_script::WhenModal;

class StartupTest : public ReaderTest {
 protected:
  void TearDown() override { modal_script::CancelPending(); }
};

TEST_F(StartupTest, HelpFolderIsTheHelpFolderUnderTheProgramFolder) {
  const auto frame = StartReader(&settings_, &prefs_, &windowState_, {});
  const QString program = QCoreApplication::applicationDirPath();
  EXPECT_EQ(ProgramPaths().program.toStdString(), program.toStdString());
  EXPECT_EQ(ProgramPaths().help.toStdString(), (program + "/help").toStdString());
  EXPECT_TRUE(frame->isVisible());
}

TEST_F(StartupTest, ProgramFolderNotFoundIsToldAndTheProgramRunsOn) {
  AnswerMessage(QStringLiteral("Failed to get application path"), QMessageBox::Ok,
                QMessageBox::Warning);
  const QString doc = WriteFile("notes.txt", "Notes in plain text.\n");
  const auto frame = StartReader(&settings_, &prefs_, &windowState_, {doc},
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
  const QString doc = WriteFile("notes.txt", "Notes in plain text.\n");

  int windowsAtQuestion = -1;
  QString question;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    question = box->text();
    windowsAtQuestion = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* frame = dynamic_cast<MainFrame*>(w)) windowsAtQuestion += frame->Views().size();
    box->button(QMessageBox::No)->click();
  });
  const auto frame = StartReader(&settings_, &prefs_, &windowState_, {doc});
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

TEST(CommandLineTest, OptionsDocumentsAndWhatCannotBeProcessed) {
  struct Case {
    QStringList arguments;
    QStringList documents;
    bool help;
    const char* error;  // a part of the error, or null when the line is processed
  };
  const Case cases[] = {
      {{}, {}, false, nullptr},
      {{"a.txt", "dir/b.pdb"}, {"a.txt", "dir/b.pdb"}, false, nullptr},
      {{"a.txt", "--help"}, {"a.txt"}, true, nullptr},
      {{"-h"}, {}, true, nullptr},
      // After "--" everything is a document, options and "--" too.
      {{"--", "-dash.txt", "--help", "--"}, {"-dash.txt", "--help", "--"}, false, nullptr},
      {{"a.txt", "--bogus", "b.txt"}, {}, false, "'--bogus'"},
      {{"-p", "a.txt"}, {}, false, "'-p'"},
      {{"-"}, {}, false, "'-'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(u' ').toStdString());
    const CommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(line.documents, c.documents);
    EXPECT_EQ(line.help, c.help);
    if (c.error == nullptr)
      EXPECT_TRUE(line.error.isEmpty()) << line.error.toStdString();
    else
      EXPECT_TRUE(line.error.contains(QString::fromUtf8(c.error))) << line.error.toStdString();
  }
}

// The real program: a command line it cannot process ends it at once with
// status 2 and the reason, before any setting is written; the toolkit's own
// options are not the reader's to refuse; a document that cannot be opened
// is only reported and the program runs on.
TEST_F(StartupTest, TheRealProgramEndsOnACommandLineItCannotProcess) {
  const QString home = QString::fromStdString(files_.Path()) + "/home";
  ASSERT_TRUE(QDir().mkpath(home));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("HOME", home);
  env.insert("XDG_CONFIG_HOME", home + "/config");
  env.insert("KELPO_DATA_HOME", home + "/data");
  auto run = [&](const QStringList& arguments, QProcess* process) {
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(KELPO_READER), arguments);
    return process->waitForStarted(10000);
  };

  QProcess refused;
  ASSERT_TRUE(run({"--bogus", "notes.txt"}, &refused));
  ASSERT_TRUE(refused.waitForFinished(30000));
  EXPECT_EQ(refused.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(refused.exitCode(), kCommandLineFailure);
  const QString error = QString::fromLocal8Bit(refused.readAllStandardError());
  // The toolkit may warn first; the reader's reason is a line of its own.
  EXPECT_TRUE(error.contains(QRegularExpression("(^|\\n)kelpo: unknown option '--bogus'")))
      << error.toStdString();
  EXPECT_TRUE(error.contains("Usage: kelpo")) << error.toStdString();
  EXPECT_TRUE(refused.readAllStandardOutput().isEmpty());
  // Neither the preferences nor the engine's settings folder were touched.
  EXPECT_FALSE(QFile::exists(home + "/config/Kelpo"));
  EXPECT_FALSE(QFile::exists(home + "/data"));

  QProcess help;
  ASSERT_TRUE(run({"-platform", "offscreen", "--help"}, &help));
  ASSERT_TRUE(help.waitForFinished(30000));
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_TRUE(help.readAllStandardOutput().startsWith("Usage: kelpo"));
  EXPECT_FALSE(help.readAllStandardError().contains("kelpo:"));

  // A missing document is the documents' problem, not the command line's:
  // the reader stays up (showing the message) until it is ended here.
  QProcess missing;
  ASSERT_TRUE(run({home + "/no-such-book.pdb"}, &missing));
  // It got past the command line once its settings exist (at most 30 s on a
  // loaded machine), and it is still up a second later.
  for (int i = 0; i < 300 && !QFile::exists(home + "/data"); ++i)
    missing.waitForFinished(100);
  EXPECT_TRUE(QFile::exists(home + "/data"));
  EXPECT_FALSE(missing.waitForFinished(1000)) << "ended with " << missing.exitCode() << ": "
                                              << missing.readAllStandardError().toStdString();
  missing.kill();
  missing.waitForFinished(10000);
}

}  // namespace
