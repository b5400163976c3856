// What the stores do with files they cannot read or write, and with the
// copies that killed writers leave behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/stores/annot_store.h"
#include "engine/stores/settings_store.h"
#include "tests/stores/settings_test_support.h"
#include "tests/support/write_faults.h"

namespace {

namespace fs = std::filesystem;

// Permissions bind: for root, the capabilities that override them are taken
// out of the effective set (and put back when the object goes); for anyone
// else they bind anyway.
class PermissionsBind {
 public:
  PermissionsBind() {
    if (geteuid() != 0) return;
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
      reduced[cap / 32].effective &= ~(1u << (cap % 32));
    dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~PermissionsBind() {
    if (dropped_) syscall(SYS_capset, &header_, saved_);
  }
  PermissionsBind(const PermissionsBind&) = delete;
  PermissionsBind& operator=(const PermissionsBind&) = delete;
  bool Holds() const { return geteuid() != 0 || dropped_; }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool dropped_ = false;
};

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.insert(e.path().filename());
  return names;
}

class SettingsSafety : public SettingsFixture {
 protected:
  void Reopen() {
    if (store_) {
      EXPECT_EQ(Settings_CloseStore(store_), kOk);
    }
    store_ = nullptr;
    ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags_, &store_), kOk);
  }
  std::vector<std::uint16_t> ListOf(const std::u16string& settingsPath) {
    std::uint16_t* list = nullptr;
    EXPECT_EQ(Settings_GetDocumentCategories(store_, settingsPath.c_str(), &list), kOk);
    if (list == nullptr) return {};
    std::vector<std::uint16_t> ids(list + 1, list + 1 + list[0]);
    Engine_Free(list);
    return ids;
  }
};

// A "cat" that is there but cannot be read is no first run: the store does
// not open, and no category list is touched. Only a missing "cat" is one.
TEST_F(SettingsSafety, AnUnreadableCategoryFileIsReportedAndNothingIsDeleted) {
  std::uint16_t id = 0;
  ASSERT_EQ(Settings_LookupCategory(store_, u"Kept", 0xFFFFFFFFu, 0, &id), kOk);
  ASSERT_EQ(Settings_SaveCategories(store_), kOk);
  const std::u16string doc = Touch(u"/books/a.txt");
  const std::uint16_t ids[] = {1, id};
  ASSERT_EQ(Settings_SetDocumentCategories(store_, doc.c_str(), ids), kOk);
  const std::string cat = ReadFileBytes(Reg("cat"));
  const std::string list = ReadFileBytes(Cat(NameOf(doc)));
  struct Case {
    const char* what;
    std::function<void()> spoil, mend;
  };
  const std::vector<Case> cases = {
      {"a folder in its place",
       [&] {
         fs::rename(Reg("cat"), Reg("cat.away"));
         fs::create_directory(Reg("cat"));
         WriteFileBytes(Reg("cat") + "/inside", "x");
       },
       [&] {
         fs::remove_all(Reg("cat"));
         fs::rename(Reg("cat.away"), Reg("cat"));
       }},
      {"no permission to read it", [&] { chmod(Reg("cat").c_str(), 0); },
       [&] { chmod(Reg("cat").c_str(), 0600); }},
      {"no permission to look into its folder", [&] { chmod(Reg("").c_str(), 0600); },
       [&] { chmod(Reg("").c_str(), 0700); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.spoil();
    {
      PermissionsBind bind;
      if (!bind.Holds()) {
        c.mend();
        continue;
      }
      EXPECT_EQ(Settings_CloseStore(store_), kOk);
      store_ = nullptr;
      EXPECT_TRUE(IsFailure(Settings_OpenStore(&SettingsModule, &flags_, &store_)));
      EXPECT_EQ(store_, nullptr);
    }
    c.mend();
    EXPECT_EQ(ReadFileBytes(Reg("cat")), cat);
    EXPECT_EQ(ReadFileBytes(Cat(NameOf(doc))), list);
    Reopen();
    EXPECT_EQ(flags_ & kSettingsFirstRun, 0u);
    EXPECT_EQ(ListOf(doc), std::vector<std::uint16_t>{id});
  }
}

// Favourites that are there but cannot be read answer a failure, and no
// change writes a new list over them.
TEST_F(SettingsSafety, UnreadableFavouritesAreReportedAndNeverReplaced) {
  ASSERT_EQ(Settings_AddFavourite(store_, u"Alpha", 0, u"/a", 0, nullptr), kOk);
  ASSERT_EQ(Settings_AddFavourite(store_, u"Beta", 0, u"/b", 0, nullptr), kOk);
  const std::string fav = ReadFileBytes(Reg("fav"));
  ASSERT_EQ(chmod(Reg("fav").c_str(), 0), 0);
  {
    PermissionsBind bind;
    if (!bind.Holds()) GTEST_SKIP() << "permissions cannot be made to bind";
    std::uint32_t count = 9, noFile = 9, index = 9;
    SettingsNameList names = nullptr;
    EXPECT_TRUE(IsFailure(Settings_GetFavourites(store_, &count, &names, &noFile)));
    char16_t first[128], second[128];
    EXPECT_EQ(Settings_GetFavourite(store_, 0, first, second), kSettingsFavFile);
    EXPECT_EQ(Settings_FindFavourite(store_, u"Alpha", 0, &index), kSettingsFavFile);
    EXPECT_EQ(Settings_FindFavouriteByTarget(store_, u"/a", 0, &index), kSettingsFavFile);
    EXPECT_EQ(Settings_AddFavourite(store_, u"Gamma", 0, u"/c", 0, &index), kSettingsFavFile);
    EXPECT_EQ(Settings_DeleteFavourite(store_, 0), kSettingsFavFile);
    EXPECT_EQ(Settings_UpdateFavourite(store_, 0, u"Aleph", 0, &index), kSettingsFavFile);
  }
  ASSERT_EQ(chmod(Reg("fav").c_str(), 0600), 0);
  EXPECT_EQ(ReadFileBytes(Reg("fav")), fav);
}

// Over the limit the check answers kSettingsOverBudget whatever pruning
// managed: here every deletion fails to update the recent list, which cannot
// be read.
TEST_F(SettingsSafety, OverTheLimitIsTheAnswerEvenWhenPruningFails) {
  for (int i = 0; i < 3; ++i)
    WriteFileBytes(Doc("file" + std::to_string(i)), std::string(2048, 'p'));
  ASSERT_TRUE(fs::create_directory(Reg("mru")));
  std::uint32_t used = 0;
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 1, 1, &used), kSettingsOverBudget);
  EXPECT_EQ(used, 6u);
  // The settings files went; only their recent entries could not.
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 1, 0, &used), kOk);
  EXPECT_EQ(used, 0u);
  EXPECT_TRUE(fs::is_directory(Reg("mru")));
}

// The budget check clears the copies of killed writers (in the folder and
// its sub-folders) and counts the copies still being written.
TEST_F(SettingsSafety, TheBudgetClearsDeadCopiesAndCountsLiveOnes) {
  WriteFileBytes(Doc("settings"), std::string(1024, 's'));
  using write_faults::LeaveDeadWritersCopy;
  ASSERT_FALSE(LeaveDeadWritersCopy(folder_, std::string(100000, 'd'), "deadDEADdead").empty());
  const std::string deadReg = LeaveDeadWritersCopy(folder_ + "/_Reg_", std::string(100, 'd'));
  ASSERT_FALSE(deadReg.empty());
  const std::string liveCopy =
      LeaveDeadWritersCopy(folder_, std::string(2048, 'l'), "liveLIVElive");
  ASSERT_FALSE(liveCopy.empty());
  const int live = open(liveCopy.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(live, 0);
  ASSERT_EQ(flock(live, LOCK_EX), 0);
  std::uint32_t used = 0;
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 3, 0, &used), kOk);
  EXPECT_EQ(used, 3u);
  EXPECT_EQ(Names(folder_), (std::set<std::string>{liveCopy.substr(folder_.size() + 1), "_Cat_",
                                                   "_Reg_", "settings"}));
  EXPECT_FALSE(FileExists(deadReg));
  close(live);
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 3, 0, &used), kOk);
  EXPECT_EQ(used, 1u);
}

// A settings file that may only be read opens for reading; what cannot be
// written is reported, and the file keeps its bytes.
TEST_F(SettingsSafety, AReadOnlySettingsFileIsReadAndItsSavesAreRefused) {
  LocalSettings ls{};
  ASSERT_EQ(Settings_OpenDocument(store_, u"/books/ro.txt", 1, &ls), kOk);
  ASSERT_EQ(Settings_SaveDocumentState(store_, &ls, u"/books/ro.txt", 7, 8, 9, 106, 3), kOk);
  ASSERT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  const std::string path = Doc("ro");
  const std::string bytes = ReadFileBytes(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  PermissionsBind bind;
  if (!bind.Holds()) GTEST_SKIP() << "permissions cannot be made to bind";
  ASSERT_EQ(Settings_OpenDocument(store_, u"/books/ro.txt", 0, &ls), kOk);
  EXPECT_EQ(ls.readOnly, 1u);
  std::uint16_t w1 = 0, w2 = 0, w3 = 0, view = 0;
  std::uint32_t encoding = 0;
  ASSERT_EQ(Settings_GetDocumentState(store_, &ls, &w1, &w2, &w3, &encoding, &view), kOk);
  EXPECT_EQ((std::vector<std::uint32_t>{w1, w2, w3, encoding, view}),
            (std::vector<std::uint32_t>{7, 8, 9, 106, 3}));
  EXPECT_EQ(Settings_SaveDocumentState(store_, &ls, u"/books/ro.txt", 1, 1, 1, 3, 1),
            kFileSysAccessDenied);
  EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
  // A change made through the database itself (as the reading view keeps
  // its positions there) is reported when the handle closes.
  ASSERT_EQ(Settings_OpenDocument(store_, u"/books/ro.txt", 0, &ls), kOk);
  std::uint16_t at = 0xFFFF;
  ASSERT_EQ(DbFile_InsertRecord(ls.db, &at, 4, "posn"), kOk);
  EXPECT_TRUE(IsFailure(Settings_CloseDocument(store_, &ls, 0)));
  EXPECT_EQ(ReadFileBytes(path), bytes);
  EXPECT_EQ(Names(folder_), (std::set<std::string>{"_Cat_", "_Reg_", "ro"}));
}

// Writers of the store killed at random moments, with copies named from the
// start (the worst case): every file is one whole version, and opening the
// store clears whatever they left.
TEST_F(SettingsSafety, KilledWritersLeaveWholeFilesAndOpeningClearsTheirCopies) {
  const std::string a(40000, 'a');
  const std::string b(60000, 'b');
  ASSERT_EQ(Settings_WriteBlob(store_, 1, a.data(), static_cast<std::uint32_t>(a.size())), kOk);
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> delay(0, 4000);
  int leftBehind = 0;
  for (int round = 0; round < 100; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileSys_ReplaceNamedOnly(true);
      for (int i = 0;; ++i) {
        const std::string& v = i % 2 ? a : b;
        if (Settings_WriteBlob(store_, 1, v.data(), static_cast<std::uint32_t>(v.size())) != kOk)
          _exit(2);
        const std::u16string doc = u"/books/doc" + U16(std::to_string(i % 3)) + u".txt";
        LocalSettings ls{};
        if (Settings_OpenDocument(store_, doc.c_str(), 1, &ls) != kOk ||
            Settings_SaveDocumentState(store_, &ls, doc.c_str(), 1, 2, 3, 106, 0) != kOk ||
            Settings_CloseDocument(store_, &ls, kSettingsCloseRecent) != kOk)
          _exit(3);
      }
    }
    usleep(static_cast<useconds_t>(delay(rng)));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << " exit " << WEXITSTATUS(status);
    const std::string blob = ReadFileBytes(Reg("pf1"));
    ASSERT_TRUE(blob == a || blob == b) << "round " << round;
    for (const std::string& folder : {folder_, Reg(""), Cat("")})
      for (const std::string& name : Names(folder))
        leftBehind += name.starts_with(".kelpo-new-");
    Reopen();
    for (const std::string& folder : {folder_, Reg(""), Cat("")})
      for (const std::string& name : Names(folder))
        ASSERT_FALSE(name.starts_with(".")) << "round " << round << ": " << folder << name;
    std::uint32_t count = 0;
    SettingsNameList recent = nullptr;
    ASSERT_EQ(Settings_GetRecentList(store_, &count, &recent), kOk);
    EXPECT_EQ(Settings_FreeList(store_, recent), kOk);
  }
  EXPECT_GT(leftBehind, 0);  // the kills did leave copies for the open to clear
}

// An annotation file's folder is cleared of dead copies when it opens.
TEST(AnnotStoreSafety, OpeningClearsTheCopiesOfKilledWritersBesideTheFile) {
  TempDir dir;
  const std::u16string path = U16(dir.File("book.kpa"));
  AnnotStore* s = nullptr;
  ASSERT_EQ(AnnotStore_Create(path.c_str(), 0, &s), kOk);
  ASSERT_EQ(AnnotStore_Close(s), kOk);
  ASSERT_FALSE(write_faults::LeaveDeadWritersCopy(dir.Path(), std::string(4096, 'd')).empty());
  WriteFileBytes(dir.File("other.txt"), "kept");
  WriteFileBytes(dir.File(".book.kpa.tmp-a1B2c3"), "theirs");
  ASSERT_EQ(AnnotStore_Open(path.c_str(), 0, kAnnotOpenRead, &s), kOk);
  EXPECT_EQ(AnnotStore_Close(s), kOk);
  EXPECT_EQ(Names(dir.Path()),
            (std::set<std::string>{".book.kpa.tmp-a1B2c3", "book.kpa", "other.txt"}));
}

}  // namespace
