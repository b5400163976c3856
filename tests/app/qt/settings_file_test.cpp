// What the reader keeps on disk survives failures of its own: the preferences
// file is replaced whole or not at all (a file-size limit at every byte, a
// full disk), the failure answered; a damaged category file survives a start
// of the main window, every category list with it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <string>
#include <vector>

#include "app/core/prefs.h"
#include "app/window/main_frame.h"
#include "engine/runtime/file_sys.h"
#include "engine/stores/settings_store.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/stores/settings_test_support.h"

namespace {

// The folders without the fixture's settings store: each test makes its own
// stores, as it moves the settings file or fills the disk under them.
class SettingsFileTest : public testing::Test, public ReaderFolders {
 protected:
  std::string Conf() const { return config_.Path() + "/Kelpo/Kelpo.conf"; }
};

// Preferences saved once, then again with other values under a file-size
// limit of every length up to the new file's, and with the disk full after
// every length: the old file each time, and the save answers false; with
// room enough the new file.
TEST_F(SettingsFileTest, ASaveCutShortKeepsTheOldFileAndSaysSo) {
  {
    QtSettingsStore settings;
    ASSERT_TRUE(Prefs_SaveAll(settings, &prefs_, windowState_));
  }
  const std::string old = ReadFileBytes(Conf());
  ASSERT_FALSE(old.empty());
  Preferences changed = prefs_;
  changed.setAutoScrollSpeed(17);
  WindowState moved = windowState_;
  moved.x = 1234, moved.y = 56, moved.width = 789, moved.height = 1011;
  // The new file, written where the old one is not in the way.
  std::string fresh;
  {
    TempDir other;
    UseSettingsFolder(other.Path());
    {
      QtSettingsStore settings;
      ASSERT_TRUE(Prefs_SaveAll(settings, &changed, moved));
    }
    fresh = ReadFileBytes(other.Path() + "/Kelpo/Kelpo.conf");
    UseSettingsFolder(config_.Path());
  }
  ASSERT_NE(fresh, old);

  // The limit is lowered for this process only around each save (the hard
  // limit stays, so it can be raised again); the signal it raises is ignored
  // meanwhile, so that the writes fail with EFBIG.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  {
    QtSettingsStore settings;
    // Past the file's length the limit may still catch the working copy's
    // own writes for a few bytes; then the save goes through.
    bool through = false;
    for (std::size_t limit = 0; limit <= fresh.size() + 256 && !through; ++limit) {
      Preferences p = changed;
      const rlimit size{static_cast<rlim_t>(limit), saved.rlim_max};
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &size), 0);
      const bool ok = Prefs_SaveAll(settings, &p, moved);
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
      const std::string now = ReadFileBytes(Conf());
      if (ok) {
        // Only a limit that holds the whole new file lets it through.
        EXPECT_LE(now.size(), limit);
        EXPECT_GE(limit + 8, fresh.size());
        QtSettingsStore reread;
        Preferences loaded;
        WindowState where;
        Prefs_LoadAll(reread, &loaded, &where);
        EXPECT_EQ(loaded.autoScrollSpeed(), 17);
        EXPECT_EQ(where.x, 1234);
        WriteFileBytes(Conf(), old);
      } else {
        EXPECT_EQ(now, old) << "limit " << limit;
      }
      through = ok;
    }
    EXPECT_TRUE(through);
  }
  signal(SIGXFSZ, previous);
  // A full disk after any number of bytes.
  QtSettingsStore full;
  for (std::uint64_t room = 0; room < fresh.size(); ++room) {
    Preferences p = changed;
    QtSettingsStore& settings = full;
    FileSys_FailWritesAfter(room);
    const bool saved = Prefs_SaveAll(settings, &p, moved);
    FileSys_FailWritesAfter(kFileSysWritesUnlimited);
    EXPECT_FALSE(saved) << "room " << room;
    EXPECT_EQ(ReadFileBytes(Conf()), old) << "room " << room;
  }
  // And then it goes through, whole.
  Preferences p = changed;
  QtSettingsStore settings;
  ASSERT_TRUE(Prefs_SaveAll(settings, &p, moved));
  EXPECT_EQ(ReadFileBytes(Conf()), fresh);
  Preferences loaded;
  WindowState where;
  QtSettingsStore again;
  Prefs_LoadAll(again, &loaded, &where);
  EXPECT_EQ(loaded.autoScrollSpeed(), 17);
  EXPECT_EQ(where.x, 1234);
}

// A damaged category file and the lists of the documents, through a start of
// the main window that a missing file would make a first run: nothing is
// written over the file, nothing deleted, and the damage is reported.
TEST_F(SettingsFileTest, AStartKeepsADamagedCategoryFileAndEveryList) {
  std::string good;
  const std::string folder = data_.Path() + "/Kelpo/Kelpo/Settings";
  {
    EngineObject* store = nullptr;
    std::uint32_t flags = 0;
    ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags, &store), kOk);
    std::uint16_t a = 0, b = 0;
    ASSERT_EQ(Settings_LookupCategory(store, u"Fiction", 0xFFFFFFFFu, 0, &a), kOk);
    ASSERT_EQ(Settings_LookupCategory(store, u"Crime", a, 1, &b), kOk);
    ASSERT_EQ(Settings_SaveCategories(store), kOk);
    for (const char16_t* doc : {u"one", u"two", u"three"}) {
      const std::u16string path = std::u16string(folder.begin(), folder.end()) + u"/" + doc;
      const std::uint16_t ids[] = {2, a, b};
      ASSERT_EQ(Settings_SetDocumentCategories(store, path.c_str(), ids), kOk);
    }
    ASSERT_EQ(Settings_CloseStore(store), kOk);
    good = ReadFileBytes(folder + "/_Reg_/cat");
  }
  std::vector<std::pair<std::string, std::string>> cases = {{"empty", ""}, {"one byte", "\x01"}};
  for (std::size_t i = 0; i < good.size(); i += 5) {
    std::string bad = good;
    bad[i] = static_cast<char>(bad[i] ^ (1 << (i % 8)));
    cases.emplace_back("flip at " + std::to_string(i), bad);
    cases.emplace_back("cut to " + std::to_string(i), good.substr(0, i));
  }
  QtSettingsStore settings;
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    WriteFileBytes(folder + "/_Reg_/cat", bytes);
    const auto before = Snapshot(folder);
    bool warned = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        warned = true;
        box->reject();
      }
    });
    closer.start(10);
    {
      MainFrame frame(&settings, &prefs_, &windowState_);
      for (int i = 0; i < 30; ++i)
        QApplication::processEvents();
    }
    closer.stop();
    EXPECT_EQ(Snapshot(folder), before);
    if (what == "empty" || what == "one byte") EXPECT_TRUE(warned);
  }
}

}  // namespace
