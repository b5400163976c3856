// What the tests of the whole program window start from: folders of their
// own for the engine's data, the settings file and the documents; the
// preferences and the window state as the program starts with them; the
// settings store; the main window built as the program builds it; documents
// written into the test's folder and opened until the view has settled; and
// message boxes answered as they come. For the tests of a reading view
// without the main window: the same folders and preferences, the engine's
// settings store and a document in a view of its own.
#pragma once

#include <gtest/gtest.h>

#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <string>

#include "app/core/doc_open.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/qt_settings_store.h"
#include "tests/app/qt/pictures.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

class MainFrame;

// Numbered lines of text: "Line 0" + rest, "Line 1" + rest, ... each ending
// in a line end.
std::string NumberedLines(int count, const std::string& rest);

// Points the toolkit's settings, and so the settings file, at a folder.
void UseSettingsFolder(const std::string& folder);

// Processes pending events for a few rounds: what was shown or opened lays
// out and paints.
void Settle();

// The default encoding of the preferences a test starts with.
enum class DefaultEncoding {
  kWindows1252,  // windows-1252, whatever the locale
  kFromLocale,   // settled from the locale in force, as the program starts
  kAsDefaults,   // left as the defaults have it
};

// The folders and the preferences, without a settings store: for a test that
// makes its own stores (it moves the settings file, or fills the disk under
// one).
class ReaderFolders {
 public:
  explicit ReaderFolders(DefaultEncoding encoding = DefaultEncoding::kWindows1252);
  ReaderFolders(const ReaderFolders&) = delete;
  ReaderFolders& operator=(const ReaderFolders&) = delete;

  // Writes a file into the test's document folder; answers its path.
  QString WriteFile(const std::string& name, const std::string& bytes) const;

 protected:
  TempDir data_;    // the engine's data (KELPO_DATA_HOME)
  TempDir config_;  // the settings file
  TempDir files_;   // the documents
  ScopedEnv env_{"KELPO_DATA_HOME", data_.Path()};
  Preferences prefs_;
  WindowState windowState_;
};

// The folders and the preferences with a settings store over them, and the
// main window on those.
class ReaderFixture : public ReaderFolders {
 public:
  explicit ReaderFixture(DefaultEncoding encoding = DefaultEncoding::kWindows1252)
      : ReaderFolders(encoding) {}

  // The main window as the program makes it (its dialogs and help keys),
  // over the fixture's settings and preferences; not shown.
  std::unique_ptr<ReaderWindow> NewWindow();
  // The main window resized to size (an invalid size leaves it as it comes)
  // and shown.
  std::unique_ptr<ReaderWindow> ShownWindow(QSize size = {});
  // The main window resized, shown and active, so that keys reach it.
  std::unique_ptr<ReaderWindow> ActiveWindow(QSize size = QSize(900, 640));

  enum class Layout {
    kAsItGoes,  // the background layout left to the view's timer
    kToItsEnd,  // the background layout stepped to its end
  };
  // Opens the document `name` of the test's folder in the window and lets
  // the window settle; answers the view, which has the keyboard and has
  // drawn once (null, and a failure, when nothing opened).
  KelpoView* Open(MainFrame& frame, const std::string& name, Layout layout = Layout::kAsItGoes);

  // From now on every message box that comes up is accepted and its text
  // added to messages_.
  void AcceptEveryMessage();
  void StopAcceptingMessages();

 protected:
  QtSettingsStore settings_;  // made once the settings point at config_
  QStringList messages_;

 private:
  QTimer answer_;
};

// The fixture as the base of a test.
class ReaderTest : public testing::Test, public ReaderFixture {
 protected:
  explicit ReaderTest(DefaultEncoding encoding = DefaultEncoding::kWindows1252)
      : ReaderFixture(encoding) {}
};

// Answers No to every question and counts the messages it was given.
class CountingPrompter : public Prompter {
 public:
  int messages = 0;
  void Message(std::uint32_t, Icon) override { ++messages; }
  bool AskYesNo(std::uint32_t) override { return false; }
};

// A document in a reading view of its own, without the main window: the
// folders and the preferences as the defaults have them, the engine's
// settings store, and the prompter.
class ViewTest : public testing::Test, public ReaderFolders {
 protected:
  ViewTest() : ReaderFolders(DefaultEncoding::kAsDefaults) {}
  void SetUp() override;
  void TearDown() override;

  // Opens the document at path in a view of the size, laid out and drawn
  // once; dialogs are the ones its commands run (none unless given).
  void OpenView(const std::string& path, QSize size, const CommandDialogs* dialogs = nullptr);
  // The view and the document go; the view keeps the reading state on its
  // way out.
  void CloseView();

  EngineObject* store_ = nullptr;
  CountingPrompter prompter_;
  std::unique_ptr<KelpoDoc> doc_;
  std::unique_ptr<KelpoView> view_;
};
