#include "engine/stores/settings_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/runtime/swap.h"
#include "tests/stores/settings_test_support.h"
#include "tests/support/peer.h"

namespace {

void SetMtime(const std::string& path, time_t seconds) {
  struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// An independent reader of record-database files.
struct Db {
  std::string bytes;
  std::string type, creator;
  std::uint32_t count = 0;
  std::vector<std::string> records;
};

Db ReadDb(const std::string& bytes) {
  Db db;
  db.bytes = bytes;
  auto be16 = [&](std::size_t at) {
    return std::uint32_t(static_cast<std::uint8_t>(bytes[at]) << 8 |
                         static_cast<std::uint8_t>(bytes[at + 1]));
  };
  auto be32 = [&](std::size_t at) { return be16(at) << 16 | be16(at + 2); };
  db.type = bytes.substr(60, 4);
  db.creator = bytes.substr(64, 4);
  db.count = be16(76);
  for (std::uint32_t i = 0; i < db.count; ++i) {
    const std::uint32_t start = be32(78 + 8 * i);
    const std::uint32_t end = i + 1 < db.count ? be32(78 + 8 * (i + 1)) : bytes.size();
    db.records.push_back(bytes.substr(start, end - start));
  }
  return db;
}

using SettingsOpen = SettingsFixture;

TEST_F(SettingsOpen, FirstRunReportsMissingFilesAndMakesTheFolders) {
  EXPECT_EQ(flags_, kSettingsNoFavourites | kSettingsFirstRun);
  EXPECT_TRUE(FileExists(folder_ + "/_Cat_"));
  EXPECT_TRUE(FileExists(folder_ + "/_Reg_"));
  EXPECT_EQ(Settings_SaveCategories(store_), kOk);
  EngineObject* again = nullptr;
  std::uint32_t flags = 0;
  ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags, &again), kOk);
  EXPECT_EQ(flags, kSettingsNoFavourites);
  EXPECT_EQ(Settings_CloseStore(again), kOk);
  EXPECT_EQ(&OpsOf<SettingsOps>(store_), &OpsOf<SettingsOps>(&SettingsModule));
  EXPECT_EQ(OpsOf<SettingsOps>(store_).reserved5(store_), kNotSupported);
}

TEST(SettingsOpenLimits, AFolderPathOver236CharactersIsRefused) {
  TempDir root;
  // root + "/" + padding + "/Kelpo/Kelpo/Settings" (21 characters).
  const std::size_t base = root.Path().size() + 1;
  for (auto [pad, want] :
       {std::pair{236 - 21 - base, kOk}, {237 - 21 - base, kSettingsFolderTooLong}}) {
    const std::string dir = root.Path() + "/" + std::string(pad, 'd');
    mkdir(dir.c_str(), 0700);
    setenv("KELPO_DATA_HOME", dir.c_str(), 1);
    EngineObject* store = nullptr;
    std::uint32_t flags = 0;
    EXPECT_EQ(Settings_OpenStore(&SettingsModule, &flags, &store), want) << pad;
    if (store) {
      EXPECT_EQ(Settings_CloseStore(store), kOk);
    }
  }
  unsetenv("KELPO_DATA_HOME");
}

TEST_F(SettingsOpen, MatchesTheSettingsFolderByFlags) {
  const std::u16string f = U16(folder_);
  std::u16string upper = f;
  for (auto& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  std::u16string backslashed = f;
  for (auto& c : backslashed)
    if (c == u'/') c = u'\\';
  EXPECT_EQ(Settings_MatchSettingsFolder(store_, f.c_str(), 0, 0), kOk);
  EXPECT_EQ(Settings_MatchSettingsFolder(store_, upper.c_str(), 0, 0), kOk);
  EXPECT_EQ(Settings_MatchSettingsFolder(store_, backslashed.c_str(), 0, 0), kOk);
  EXPECT_EQ(Settings_MatchSettingsFolder(store_, (f + u"x").c_str(), 0, 0), kNo);
  EXPECT_EQ(Settings_MatchSettingsFolder(store_, f.substr(0, f.size() - 9).c_str(), 0, 1), kOk);
  EXPECT_EQ(Settings_MatchSettingsFolder(store_, u"SETTINGS", 0, 2), kOk);
  EXPECT_EQ(Settings_MatchSettingsFolder(store_, u"/Settings", 0, 2), kNo);
}

using SettingsGolden = SettingsFixture;

TEST_F(SettingsGolden, ANewSettingsDatabaseHasTheImpliedBytes) {
  const std::u16string path = Touch(u"/h/Book.txt");
  EXPECT_EQ(NameOf(path), "Book");
  const Db db = ReadDb(ReadFileBytes(U8(path)));
  EXPECT_EQ(db.bytes.size(), 204u);
  EXPECT_EQ(db.type, "DSet");
  EXPECT_EQ(db.creator, "Kelp");
  EXPECT_EQ(db.bytes.substr(0, 32), std::string(32, '\0'));  // empty database name
  ASSERT_EQ(db.count, 2u);
  EXPECT_EQ(db.bytes.substr(78 + 16, 2), std::string(2, '\0'));
  std::string header(32, '\0');
  header[1] = 32;  // size, big-endian
  header[3] = 1;   // document record index
  header.replace(8, 4, "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(db.records[0], header);
  std::string record(16, '\0');
  record[0] = 16;
  record[4] = 11;
  record += "/h/Book.txt";
  record += '\0';  // padding to 28
  std::string state(48, '\0');
  state[0] = 48;
  EXPECT_EQ(db.records[1], record + state);
}

TEST_F(SettingsGolden, EmptyRecentFavouritesAndThemeFilesHaveTheirBytes) {
  const std::u16string path = Touch(u"/h/a.txt", kSettingsCloseRecent);
  EXPECT_EQ(ReadFileBytes(Reg("mru")), std::string("\x01", 1) + std::string(99, '\0') + "a");
  ASSERT_EQ(Settings_DeleteDocumentSettings(store_, u"/h/a.txt"), kOk);
  EXPECT_EQ(ReadFileBytes(Reg("mru")), std::string(100, '\0'));
  EXPECT_FALSE(FileExists(U8(path)));

  std::uint32_t index = 0;
  ASSERT_EQ(Settings_AddFavourite(store_, u"n", 0, u"t", 0, &index), kOk);
  EXPECT_EQ(ReadFileBytes(Reg("fav")), std::string("\x01\x00\x01\x01nt", 6));
  ASSERT_EQ(Settings_DeleteFavourite(store_, 0), kOk);
  EXPECT_EQ(ReadFileBytes(Reg("fav")), std::string(2, '\0'));

  ColourThemeSet* set = nullptr;
  ASSERT_EQ(Settings_GetColourThemes(store_, &set), kOk);
  ASSERT_EQ(Settings_SaveColourThemes(store_, set, 1), kOk);
  EXPECT_EQ(ReadFileBytes(Reg("clr")), std::string("\0\0\0\0\x01\0\0\0", 8));
}

using SettingsNaming = SettingsFixture;

TEST_F(SettingsNaming, BaseNamesDropOnlyTheLastExtension) {
  struct Case {
    std::u16string document;
    std::string name;
  } cases[] = {{u"/d/Book.part2.txt", "Book.part2"},
               {u"/d/.profile", ".profile"},
               {u"/d/README", "README"},
               {u"C:\\win\\Note.pdb", "Note"}};
  for (const auto& c : cases)
    EXPECT_EQ(NameOf(Touch(c.document)), c.name) << U8(c.document);
}

TEST_F(SettingsNaming, SameBaseNamesGetNumbersAndFindTheirOwnFile) {
  const auto a = Touch(u"/one/Book.txt");
  const auto b = Touch(u"/two/Book.pdb");
  const auto c = Touch(u"/one/book.txt");  // paths differ in case: another document here
  EXPECT_EQ(NameOf(a), "Book");
  EXPECT_EQ(NameOf(b), "Book~1");
  EXPECT_EQ(NameOf(c), "book");
  EXPECT_EQ(Touch(u"/two/Book.pdb"), b);
  EXPECT_EQ(Touch(u"/one/Book.txt"), a);
  EXPECT_EQ(Touch(u"/one/book.txt"), c);
  // A path that differs in separators only is the same document.
  EXPECT_EQ(Touch(u"\\one\\Book.txt"), a);
}

TEST_F(SettingsNaming, LongNamesStayWithinTheByteLimitAndAreFoundAgain) {
  const std::uint32_t maxUnits = 252 - static_cast<std::uint32_t>(U16(folder_).size());
  // A base longer than the limit, twice: the second gets a shortened "~1" name.
  const std::u16string longBase(240, u'x');
  const auto first = Touch(u"/a/" + longBase + u".txt");
  const auto second = Touch(u"/b/" + longBase + u".txt");
  EXPECT_EQ(NameOf(first).size(), maxUnits);
  EXPECT_EQ(NameOf(second), std::string(maxUnits - 2, 'x') + "~1");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Touch(u"/b/" + longBase + u".txt"), second);
  // Three-byte characters: at most 255 bytes, never a split character.
  const std::u16string wide(120, u'\u4E2D');
  const auto w1 = NameOf(Touch(u"/a/" + wide));
  const auto w2 = NameOf(Touch(u"/b/" + wide));
  EXPECT_EQ(w1.size(), 255u);
  EXPECT_EQ(U16(w1), std::u16string(85, u'\u4E2D'));
  EXPECT_EQ(w2, U8(std::u16string(84, u'\u4E2D')) + "~1");
  EXPECT_EQ(NameOf(Touch(u"/b/" + wide)), w2);
  // A surrogate pair is never cut in half.
  std::u16string pairs;
  for (int i = 0; i < 70; ++i)
    pairs += u"\U0001F600";
  const auto p = U16(NameOf(Touch(u"/a/" + pairs)));
  EXPECT_EQ(p.size() % 2, 0u);
  EXPECT_EQ(p.size(), 2u * 63);  // 63 x 4 bytes = 252
}

using SettingsBudget = SettingsFixture;

TEST_F(SettingsBudget, ExactlyTheLimitInKilobytesIsWithinBudget) {
  WriteFileBytes(Doc("f"), std::string(10 * 1024, 'x'));
  std::uint32_t used = 0;
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 10, 0, &used), kOk);
  EXPECT_EQ(used, 10u);
  WriteFileBytes(Doc("g"), "y");
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 10, 0, &used), kSettingsOverBudget);
  EXPECT_EQ(used, 11u);
  // Sub-folders and their files are not counted.
  WriteFileBytes(Cat("big"), std::string(50000, 'c'));
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 11, 0, &used), kOk);
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 0xFFFFFFFFu, 1, &used), kOk);
}

TEST_F(SettingsBudget, PruningCutsAtTheFirstTimeThatReachesTheTarget) {
  const time_t t0 = 1600000000;
  for (int i = 0; i < 20; ++i) {
    const std::string name = "file" + std::to_string(i);
    WriteFileBytes(Doc(name), std::string(1000, 'p'));
    SetMtime(Doc(name), t0 + 100 * i);
  }
  // Two more files share the time that becomes the cut-off.
  WriteFileBytes(Doc("same"), std::string(10, 's'));
  SetMtime(Doc("same"), t0 + 100 * 10);
  std::uint32_t used = 0;
  // total 20010 bytes; target 20010 - 10 x 922 = 10790: the 11th time reaches it.
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 10, 1, &used), kSettingsOverBudget);
  EXPECT_EQ(used, 20u);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(FileExists(Doc("file" + std::to_string(i))), i > 10) << i;
  EXPECT_FALSE(FileExists(Doc("same")));
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 10, 0, &used), kOk);
  EXPECT_EQ(used, 9u);
}

TEST_F(SettingsBudget, OnlyTheSixteenOldestTimesAreConsidered) {
  KELPO_REQUIRE_PEER("find");
  const time_t t0 = 1500000000;
  // Listed in a scrambled order of times.
  for (int k = 0; k < 20; ++k) {
    const int i = (k * 7) % 20;
    const std::string name = "n" + std::to_string(i);
    WriteFileBytes(Doc(name), std::string(500, 'q'));
    SetMtime(Doc(name), t0 + 60 * i);
  }
  // The expected survivors by an independent peer: files newer than the 16th oldest time.
  WriteFileBytes(root_.File("ref"), "");
  SetMtime(root_.File("ref"), t0 + 60 * 15);
  int status = -1;
  const std::string expected =
      RunPeer("cd '" + folder_ + "' && find . -maxdepth 1 -type f -newer '" + root_.File("ref") +
                  "' | LC_ALL=C sort",
              "", &status);
  ASSERT_EQ(status, 0);
  std::uint32_t used = 0;
  // Limit 0: the target is everything, yet only 16 times can be cut.
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 0, 1, &used), kSettingsOverBudget);
  const std::string left =
      RunPeer("cd '" + folder_ + "' && find . -maxdepth 1 -type f | LC_ALL=C sort", "", &status);
  EXPECT_EQ(left, expected);
  EXPECT_EQ(left, "./n16\n./n17\n./n18\n./n19\n");
}

TEST_F(SettingsBudget, PruningTakesRecentEntriesAndCategoryListsAlongButSparesOpenFiles) {
  const auto old = Touch(u"/d/old.txt", kSettingsCloseRecent);
  const std::uint16_t ids[] = {1, 5};
  ASSERT_EQ(Settings_SetDocumentCategories(store_, old.c_str(), ids), kOk);
  SetMtime(U8(old), 1000000000);
  LocalSettings open{};
  ASSERT_EQ(Settings_OpenDocument(store_, u"/d/open.txt", 1, &open), kOk);
  SetMtime(U8(open.path), 1000000000);
  const auto fresh = Touch(u"/d/new.txt", kSettingsCloseRecent);
  SetMtime(U8(fresh), 2000000000);
  // Fifteen newer small files fill the table of the 16 oldest times, so the
  // newest settings file lies beyond what pruning considers.
  for (int i = 0; i < 15; ++i) {
    WriteFileBytes(Doc("pad" + std::to_string(i)), "p");
    SetMtime(Doc("pad" + std::to_string(i)), 1500000000 + i);
  }
  std::uint32_t used = 0;
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 0, 1, &used), kSettingsOverBudget);
  EXPECT_FALSE(FileExists(U8(old)));
  EXPECT_FALSE(FileExists(Cat("old")));
  EXPECT_TRUE(FileExists(U8(open.path))) << "a file held open by a reader was pruned";
  std::uint32_t count = 0;
  SettingsNameList list = nullptr;
  ASSERT_EQ(Settings_GetRecentList(store_, &count, &list), kOk);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(std::u16string(list[0]), u"new");
  EXPECT_EQ(Settings_FreeList(store_, list), kOk);
  EXPECT_EQ(Settings_CloseDocument(store_, &open, 0), kOk);
}

using SettingsDelete = SettingsFixture;

TEST_F(SettingsDelete, ResetAllEmptiesTheStoreAndLeavesItUsable) {
  const auto a = Touch(u"/d/a.txt", kSettingsCloseRecent);
  const std::uint16_t ids[] = {1, 3};
  ASSERT_EQ(Settings_SetDocumentCategories(store_, a.c_str(), ids), kOk);
  std::uint32_t index = 0;
  ASSERT_EQ(Settings_AddFavourite(store_, u"f", 0, u"t", 0, &index), kOk);
  std::uint16_t id = 0;
  ASSERT_EQ(Settings_LookupCategory(store_, u"Books", 0xFFFFFFFFu, 0, &id), kOk);
  ASSERT_EQ(Settings_SaveCategories(store_), kOk);
  ASSERT_EQ(Settings_WriteBlob(store_, 3, "blob", 4), kOk);
  ASSERT_EQ(Settings_ResetAll(store_), kOk);
  for (const char* gone : {"cat", "mru", "fav"})
    EXPECT_FALSE(FileExists(Reg(gone))) << gone;
  EXPECT_TRUE(FileExists(Reg("pf3")));
  EXPECT_FALSE(FileExists(U8(a)));
  EXPECT_FALSE(FileExists(Cat("a")));
  EXPECT_TRUE(FileExists(folder_ + "/_Cat_"));
  EngineObject* dict = nullptr;
  ASSERT_EQ(Settings_GetCategorySet(store_, &dict), kOk);
  EXPECT_EQ(Settings_LookupCategory(store_, u"Books", 0xFFFFFFFFu, 0, &id), kOk);
  std::uint32_t used = 1;
  EXPECT_EQ(Settings_CheckSizeBudget(store_, 0, 0, &used), kOk);
  EXPECT_EQ(used, 0u);
}

TEST_F(SettingsDelete, BlobsRoundTripAndRejectNumbersAboveNine) {
  ASSERT_EQ(Settings_WriteBlob(store_, 0, "hello", 5), kOk);
  char buf[8] = {};
  std::uint32_t size = 3;
  ASSERT_EQ(Settings_ReadBlob(store_, 0, buf, &size), kOk);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(buf, 3), "hel");
  size = 0;
  EXPECT_EQ(Settings_ReadBlob(store_, 0, nullptr, &size), kOk);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(Settings_WriteBlob(store_, 10, "x", 1), kSettingsBlobNumber);
  EXPECT_EQ(Settings_ReadBlob(store_, 10, buf, &size), kSettingsBlobNumber);
  EXPECT_EQ(ReadFileBytes(Reg("pf0")), "hello");
}

// Each operation runs with its 1st, 2nd, ... write step failing until it
// succeeds; after every failure the store's files must be exactly as before.
using SettingsCrash = SettingsFixture;

TEST_F(SettingsCrash, AFailedWriteLeavesEveryFileAsBeforeOrAsAfter) {
  // Some content first, so that there is something to lose.
  Touch(u"/d/a.txt", kSettingsCloseRecent);
  std::uint32_t index = 0;
  ASSERT_EQ(Settings_AddFavourite(store_, u"first", 0, u"target", 0, &index), kOk);
  std::uint16_t id = 0;
  ASSERT_EQ(Settings_LookupCategory(store_, u"Books", 0xFFFFFFFFu, 0, &id), kOk);
  ASSERT_EQ(Settings_SaveCategories(store_), kOk);
  ColourThemeSet* set = nullptr;
  ASSERT_EQ(Settings_GetColourThemes(store_, &set), kOk);
  const ThemeColour colours[] = {{1, 10, 20, 30}, {2, 200, 210, 220}};
  ASSERT_EQ(Settings_SetColourTheme(store_, set, 0, u"Sepia", 2, colours, nullptr), kOk);
  ASSERT_EQ(Settings_SaveColourThemes(store_, set, 1), kOk);

  struct Op {
    const char* what;
    std::function<StatusCode()> run;
  } ops[] = {
      {"recent list",
       [&] {
         LocalSettings ls{};
         StatusCode s = Settings_OpenDocument(store_, u"/d/b.txt", 1, &ls);
         if (s != kOk) return s;
         return Settings_CloseDocument(store_, &ls, kSettingsCloseRecent);
       }},
      {"favourite", [&] { return Settings_AddFavourite(store_, u"second", 0, u"t2", 0, &index); }},
      {"rename favourite", [&] { return Settings_UpdateFavourite(store_, 0, u"zzz", 0, &index); }},
      {"categories",
       [&] {
         std::uint16_t more = 0;
         // A later attempt finds the name added by an earlier one.
         (void)Settings_LookupCategory(store_, u"More", 0xFFFFFFFFu, 0, &more);
         return Settings_SaveCategories(store_);
       }},
      {"category list",
       [&] {
         const std::uint16_t ids[] = {2, 0, 1};
         return Settings_SetDocumentCategories(store_, (U16(folder_) + u"/a").c_str(), ids);
       }},
      {"themes",
       [&] {
         ColourThemeSet* s = nullptr;
         StatusCode st = Settings_GetColourThemes(store_, &s);
         if (st != kOk) return st;
         const StatusCode set =
             Settings_SetColourTheme(store_, s, 0, u"Night", 2, colours, nullptr);
         const StatusCode saved = Settings_SaveColourThemes(store_, s, IsFailure(set) ? 0 : 1);
         return IsFailure(set) ? set : saved;
       }},
      {"blob", [&] { return Settings_WriteBlob(store_, 1, "data", 4); }},
      {"new settings",
       [&] {
         LocalSettings ls{};
         StatusCode s = Settings_OpenDocument(store_, u"/d/c.txt", 1, &ls);
         if (s == kOk) s = Settings_CloseDocument(store_, &ls, 0);
         return s;
       }},
  };
  using Files = std::map<std::string, std::string>;
  auto files = [&] {
    Files f;
    for (auto& [path, bytes] : Snapshot(folder_))
      f[path] = bytes;
    return f;
  };
  for (auto& op : ops) {
    const Files before = files();
    std::vector<Files> failed;
    for (std::uint32_t step = 1; step < 20; ++step) {
      Settings_FailWriteStep(step);
      const StatusCode s = op.run();
      Settings_FailWriteStep(0);
      if (s == kOk) break;
      failed.push_back(files());
    }
    const Files after = files();
    EXPECT_GE(failed.size(), 4u) << op.what;
    EXPECT_NE(after, before) << op.what << " never succeeded";
    for (std::size_t step = 0; step < failed.size(); ++step) {
      std::set<std::string> paths;
      for (const Files* f : {&before, &after, static_cast<const Files*>(&failed[step])})
        for (auto& kv : *f)
          paths.insert(kv.first);
      auto state = [](const Files& f, const std::string& p) {
        auto it = f.find(p);
        return it == f.end() ? std::string("<absent>") : it->second;
      };
      for (const auto& p : paths) {
        const std::string now = state(failed[step], p);
        EXPECT_TRUE(now == state(before, p) || now == state(after, p))
            << op.what << ": failing step " << step + 1 << " left " << p << " in between";
      }
    }
  }
}

}  // namespace
