#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/runtime/dict.h"
#include "engine/stores/settings_formats.h"
#include "tests/stores/settings_test_support.h"

namespace {

std::vector<std::u16string> Names(SettingsNameList list, std::uint32_t count) {
  std::vector<std::u16string> out;
  for (std::uint32_t i = 0; i < count; ++i)
    out.emplace_back(list[i]);
  return out;
}

// An independent reader of "mru": the names in order, or nothing when the
// size does not match the codes.
std::vector<std::string> ReadMru(const std::string& bytes) {
  std::vector<std::string> names;
  if (bytes.size() < 100) return names;
  std::size_t at = 100, total = 100;
  for (int i = 0; i < 100; ++i) {
    const auto code = static_cast<std::uint8_t>(bytes[i]);
    total += (code & 0x7F) * ((code & 0x80) ? 2 : 1);
  }
  if (total != bytes.size()) return names;
  for (int i = 0; i < 100 && bytes[i] != 0; ++i) {
    const auto code = static_cast<std::uint8_t>(bytes[i]);
    const std::size_t n = (code & 0x7F) * ((code & 0x80) ? 2 : 1);
    names.push_back(bytes.substr(at, n));
    at += n;
  }
  return names;
}

class SettingsRecent : public SettingsFixture {
 public:
  std::vector<std::u16string> Recent() {
    std::uint32_t count = 0;
    SettingsNameList list = nullptr;
    EXPECT_EQ(Settings_GetRecentList(store_, &count, &list), kOk);
    auto names = Names(list, count);
    EXPECT_EQ(Settings_FreeList(store_, list), kOk);
    return names;
  }
};

TEST_F(SettingsRecent, TheHundredAndFirstDocumentDropsTheOldest) {
  for (int i = 0; i < 101; ++i)
    Touch(u"/d/doc" + U16(std::to_string(i)), kSettingsCloseRecent);
  const auto names = ReadMru(ReadFileBytes(Reg("mru")));
  ASSERT_EQ(names.size(), 100u);
  EXPECT_EQ(names.front(), "doc100");
  EXPECT_EQ(names.back(), "doc1");
  std::size_t bytes = 100;
  for (const auto& n : names)
    bytes += n.size();
  EXPECT_EQ(ReadFileBytes(Reg("mru")).size(), bytes);
  // Reopening an entry in the middle moves it to the front.
  Touch(u"/d/doc50", kSettingsCloseRecent);
  const auto again = Recent();
  ASSERT_EQ(again.size(), 100u);
  EXPECT_EQ(again[0], u"doc50");
  EXPECT_EQ(again[1], u"doc100");
  EXPECT_EQ(std::count(again.begin(), again.end(), u"doc50"), 1);
}

TEST_F(SettingsRecent, NamesAreComparedExactlyAndLongNamesAreNotRecorded) {
  Touch(u"/d/Note", kSettingsCloseRecent);
  Touch(u"/e/note", kSettingsCloseRecent);
  Touch(u"/d/\u4E2D\u6587", kSettingsCloseRecent);
  EXPECT_EQ(Recent(), (std::vector<std::u16string>{u"\u4E2D\u6587", u"note", u"Note"}));
  const std::string bytes = ReadFileBytes(Reg("mru"));
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[0]), 0x82);
  EXPECT_EQ(bytes.substr(100, 4), std::string("\x2D\x4E\x87\x65", 4));
  // A settings-file name of 128 characters never enters the list.
  SettingsImage mru;
  ASSERT_EQ(mru.Resize(kRecentEntries), kOk);
  const std::u16string longName(128, u'n');
  ASSERT_EQ(Settings_RecentAdd(mru, longName.data(), 128), kOk);
  EXPECT_EQ(mru.Size(), kRecentEntries);
  EXPECT_EQ(Settings_RecentFind(mru, longName.data(), 128, nullptr), -1);
  const std::u16string ok(127, u'n');
  ASSERT_EQ(Settings_RecentAdd(mru, ok.data(), 127), kOk);
  EXPECT_EQ(Settings_RecentFind(mru, ok.data(), 127, nullptr), 0);
}

TEST_F(SettingsRecent, ADamagedFileReadsEmptyAndIsReplacedAtTheNextAddition) {
  Touch(u"/d/a", kSettingsCloseRecent);
  std::string bytes = ReadFileBytes(Reg("mru"));
  WriteFileBytes(Reg("mru"), bytes + "x");
  EXPECT_TRUE(Recent().empty());
  Touch(u"/d/b", kSettingsCloseRecent);
  EXPECT_EQ(ReadFileBytes(Reg("mru")), std::string("\x01", 1) + std::string(99, '\0') + "b");
  ASSERT_EQ(Settings_ClearRecentList(store_), kOk);
  EXPECT_FALSE(FileExists(Reg("mru")));
  EXPECT_EQ(Settings_ClearRecentList(store_), kOk);
  EXPECT_TRUE(Recent().empty());
}

class SettingsFavourites : public SettingsFixture {
 public:
  std::vector<std::u16string> All() {
    std::uint32_t count = 0, noFile = 9;
    SettingsNameList list = nullptr;
    EXPECT_EQ(Settings_GetFavourites(store_, &count, &list, &noFile), kOk);
    auto names = Names(list, count);
    EXPECT_EQ(Settings_FreeList(store_, list), kOk);
    return names;
  }
  void Add(const std::u16string& a, const std::u16string& b) {
    std::uint32_t index = 0;
    ASSERT_EQ(Settings_AddFavourite(store_, a.c_str(), 0, b.c_str(), 0, &index), kOk) << U8(a);
  }
};

TEST_F(SettingsFavourites, EntriesStayInCaseInsensitiveOrder) {
  std::uint32_t count = 5, noFile = 0;
  SettingsNameList list = nullptr;
  ASSERT_EQ(Settings_GetFavourites(store_, &count, &list, &noFile), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(noFile, 1u);
  for (auto* n : {u"delta", u"Alpha", u"charlie", u"Bravo"})
    Add(n, std::u16string(u"t-") + n);
  EXPECT_EQ(All(), (std::vector<std::u16string>{u"Alpha", u"t-Alpha", u"Bravo", u"t-Bravo",
                                                u"charlie", u"t-charlie", u"delta", u"t-delta"}));
  std::uint32_t index = 0;
  EXPECT_EQ(Settings_AddFavourite(store_, u"ALPHA", 0, u"x", 0, &index), kSettingsFavExists);
  EXPECT_EQ(Settings_FindFavourite(store_, u"CHARLIE", 0, &index), kOk);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(Settings_FindFavourite(store_, u"echo", 0, &index), kNotFound);
  EXPECT_EQ(Settings_FindFavouriteByTarget(store_, u"t-Bravo", 0, &index), kOk);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(Settings_FindFavouriteByTarget(store_, u"T-BRAVO", 0, &index), kNotFound);
  char16_t a[128], b[128];
  ASSERT_EQ(Settings_GetFavourite(store_, 3, a, b), kOk);
  EXPECT_EQ(std::u16string(a), u"delta");
  EXPECT_EQ(std::u16string(b), u"t-delta");
  EXPECT_EQ(Settings_GetFavourite(store_, 4, a, b), kSettingsFavIndex);
  const std::u16string tooLong(128, u'x');
  EXPECT_EQ(Settings_AddFavourite(store_, tooLong.c_str(), 0, u"t", 0, &index), kSettingsFavWrite);
  EXPECT_EQ(Settings_AddFavourite(store_, u"", 0, u"t", 0, &index), kSettingsFavWrite);
}

TEST_F(SettingsFavourites, RenamingMovesToTheNewPlaceAndRefusesTakenNames) {
  for (auto* n : {u"a", u"b", u"c", u"d", u"f", u"h"})
    Add(n, std::u16string(u"to-") + n);
  std::uint32_t index = 0;
  // Entry 3 ("d") renamed to a name sorting just after it keeps index 3.
  ASSERT_EQ(Settings_UpdateFavourite(store_, 3, u"e", 0, &index), kOk);
  EXPECT_EQ(index, 3u);
  ASSERT_EQ(Settings_UpdateFavourite(store_, 0, u"g", 0, &index), kOk);
  EXPECT_EQ(index, 4u);
  EXPECT_EQ(All(), (std::vector<std::u16string>{u"b", u"to-b", u"c", u"to-c", u"e", u"to-d", u"f",
                                                u"to-f", u"g", u"to-a", u"h", u"to-h"}));
  EXPECT_EQ(Settings_UpdateFavourite(store_, 0, u"H", 0, &index), kSettingsFavChange);
  EXPECT_EQ(Settings_UpdateFavourite(store_, 9, u"z", 0, &index), kSettingsFavIndex);
  ASSERT_EQ(Settings_UpdateFavourite(store_, 5, u"H", 0, &index), kOk);  // own name, new case
  ASSERT_EQ(Settings_DeleteFavourite(store_, 0), kOk);
  EXPECT_EQ(Settings_DeleteFavourite(store_, 5), kSettingsFavIndex);
  EXPECT_EQ(All().size(), 10u);
}

TEST_F(SettingsFavourites, ADamagedFileReadsAsAbsent) {
  Add(u"one", u"two");
  WriteFileBytes(Reg("fav"), ReadFileBytes(Reg("fav")).substr(0, 7));
  EXPECT_TRUE(All().empty());
  std::uint32_t index = 0;
  EXPECT_EQ(Settings_FindFavourite(store_, u"one", 0, &index), kNotFound);
  Add(u"three", u"four");
  EXPECT_EQ(All(), (std::vector<std::u16string>{u"three", u"four"}));
  WriteFileBytes(Reg("fav"), std::string("\x01\x10\x01\x01xy", 6));  // count 4097
  EXPECT_TRUE(All().empty());
}

class SettingsCategories : public SettingsFixture {
 public:
  std::u16string Path(const char* name) { return U16(folder_) + u"/" + U16(name); }
  void SetList(const char* name, std::vector<std::uint16_t> ids) {
    ids.insert(ids.begin(), static_cast<std::uint16_t>(ids.size()));
    ASSERT_EQ(Settings_SetDocumentCategories(store_, Path(name).c_str(), ids.data()), kOk);
  }
  std::vector<std::uint16_t> GetList(const char* name) {
    std::uint16_t* list = nullptr;
    EXPECT_EQ(Settings_GetDocumentCategories(store_, Path(name).c_str(), &list), kOk);
    std::vector<std::uint16_t> ids;
    if (list) ids.assign(list + 1, list + 1 + list[0]);
    Engine_Free(list);
    return ids;
  }
  std::vector<std::u16string> InCategory(std::uint32_t id) {
    std::uint32_t count = 0;
    SettingsNameList list = nullptr;
    EXPECT_EQ(Settings_ListDocumentsInCategory(store_, id, &count, &list), kOk);
    auto names = Names(list, count);
    EXPECT_EQ(Settings_FreeList(store_, list), kOk);
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(SettingsCategories, ListsAreStoredSortedAndDamagedOnesReadAsAbsent) {
  SetList("doc", {9, 3, 3, 7});
  EXPECT_EQ(ReadFileBytes(Cat("doc")), std::string("\x03\x00\x03\x00\x07\x00\x09\x00", 8));
  EXPECT_EQ(GetList("doc"), (std::vector<std::uint16_t>{3, 7, 9}));
  // A caller buffer with room is used; one without room gets a new block.
  std::uint16_t buffer[8] = {7};
  std::uint16_t* list = buffer;
  ASSERT_EQ(Settings_GetDocumentCategories(store_, Path("doc").c_str(), &list), kOk);
  EXPECT_EQ(list, buffer);
  EXPECT_EQ(buffer[0], 3);
  std::uint16_t tiny[2] = {1};
  list = tiny;
  ASSERT_EQ(Settings_GetDocumentCategories(store_, Path("doc").c_str(), &list), kOk);
  ASSERT_NE(list, tiny);
  EXPECT_EQ(list[0], 3);
  Engine_Free(list);
  for (const std::string& bad :
       {std::string("\x00\x00", 2), std::string("\x02\x00\x01\x00", 4),
        std::string("\x01\x00\x01\x00\x00", 5), std::string("\x00\x80", 2)}) {
    WriteFileBytes(Cat("doc"), bad);
    EXPECT_TRUE(GetList("doc").empty());
  }
  SetList("doc", {});
  EXPECT_FALSE(FileExists(Cat("doc")));
  ASSERT_EQ(Settings_SetDocumentCategories(store_, Path("doc").c_str(), nullptr), kOk);
}

TEST_F(SettingsCategories, PurgingACategoryRemovesItsSubtreeFromEveryList) {
  EngineObject* dict = nullptr;
  ASSERT_EQ(Settings_GetCategorySet(store_, &dict), kOk);
  std::uint16_t fiction = 0, crime = 0, poetry = 0, noir = 0;
  ASSERT_EQ(Settings_LookupCategory(store_, u"Fiction", 0xFFFFFFFFu, 0, &fiction), kOk);
  ASSERT_EQ(Settings_LookupCategory(store_, u"Crime", fiction, 1, &crime), kOk);
  ASSERT_EQ(Settings_LookupCategory(store_, u"Noir", crime, 1, &noir), kOk);
  ASSERT_EQ(Settings_LookupCategory(store_, u"Poetry", fiction, 0, &poetry), kOk);
  std::uint16_t dup = 0;
  EXPECT_EQ(Settings_LookupCategory(store_, u"Crime", fiction, 1, &dup), kDictNameExists);
  SetList("a", {crime, poetry});
  SetList("b", {noir});
  SetList("c", {poetry});
  EXPECT_EQ(InCategory(crime), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(InCategory(0xFFFF), (std::vector<std::u16string>{u"a", u"b", u"c"}));
  ASSERT_EQ(Settings_PurgeCategoryIds(store_, crime), kOk);
  EXPECT_EQ(GetList("a"), std::vector<std::uint16_t>{poetry});
  EXPECT_FALSE(FileExists(Cat("b")));
  EXPECT_EQ(GetList("c"), std::vector<std::uint16_t>{poetry});
  EXPECT_EQ(InCategory(0xFFFF), (std::vector<std::u16string>{u"a", u"c"}));
  std::uint16_t gone = 0;
  EXPECT_EQ(Dict_AddPath(dict, "Fiction/Crime", nullptr, 0, 0, 0, &gone), kNotFound);
  // The dictionary reaches "cat" only when saved, and comes back whole.
  EXPECT_FALSE(FileExists(Reg("cat")));
  ASSERT_EQ(Settings_SaveCategories(store_), kOk);
  EXPECT_EQ(Settings_CloseStore(store_), kOk);
  store_ = nullptr;
  std::uint32_t flags = 0;
  ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags, &store_), kOk);
  EXPECT_EQ(flags & kSettingsFirstRun, 0u);
  ASSERT_EQ(Settings_GetCategorySet(store_, &dict), kOk);
  std::uint16_t found = 0;
  // "Poetry" was added beside "Fiction", at the top.
  EXPECT_EQ(Dict_AddPath(dict, "Poetry", nullptr, 0, 0, 0, &found), kOk);
  EXPECT_EQ(found, poetry);
}

// A damaged dictionary of every kind (each bit of a small one flipped, cut
// at every length, one byte) through a session that only reads: every list
// and "cat" itself stay byte for byte; the store keeps no dictionary for a
// damaged file and says so, and it is never taken for a first run.
TEST_F(SettingsCategories, ADamagedDictionaryAndEveryListSurviveAReadingSession) {
  std::uint16_t fiction = 0, crime = 0, poetry = 0;
  ASSERT_EQ(Settings_LookupCategory(store_, u"Fiction", 0xFFFFFFFFu, 0, &fiction), kOk);
  ASSERT_EQ(Settings_LookupCategory(store_, u"Crime", fiction, 1, &crime), kOk);
  ASSERT_EQ(Settings_LookupCategory(store_, u"Poetry", fiction, 0, &poetry), kOk);
  ASSERT_EQ(Settings_SaveCategories(store_), kOk);
  const std::u16string book = Touch(u"/x/Book.txt");
  SetList(NameOf(book).c_str(), {fiction, crime});
  SetList("a", {crime});
  SetList("b", {poetry});
  SetList("c", {fiction, poetry});
  SetList("d", {fiction, crime, poetry});
  SetList("e", {0, 7});
  ASSERT_EQ(Settings_CloseStore(store_), kOk);
  store_ = nullptr;
  const std::string good = ReadFileBytes(Reg("cat"));
  ASSERT_GT(good.size(), 8u);

  std::vector<std::pair<std::string, std::string>> cases;
  for (std::size_t i = 0; i < good.size(); ++i) {
    std::string bad = good;
    bad[i] = static_cast<char>(bad[i] ^ (1 << (i % 8)));
    cases.emplace_back("bit " + std::to_string(i % 8) + " of byte " + std::to_string(i), bad);
  }
  for (std::size_t n = 0; n < good.size(); ++n)
    cases.emplace_back("cut to " + std::to_string(n), good.substr(0, n));
  cases.emplace_back("one byte", std::string("\x7F", 1));

  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    WriteFileBytes(Reg("cat"), bytes);
    const auto before = Snapshot(folder_);
    std::uint32_t flags = 0;
    ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags, &store_), kOk);
    EXPECT_EQ(flags & kSettingsFirstRun, 0u);
    EngineObject* dict = nullptr;
    const bool loaded = Settings_GetCategorySet(store_, &dict) == kOk;
    EXPECT_EQ(loaded, (flags & kSettingsCategoriesDamaged) == 0);
    if (what == "cut to 0" || what == "one byte") EXPECT_FALSE(loaded);
    if (!loaded) {
      // Nothing is written over the damaged file, and nothing added to it.
      EXPECT_EQ(Settings_SaveCategories(store_), kOk);
      std::uint16_t id = 0;
      EXPECT_TRUE(IsFailure(Settings_LookupCategory(store_, u"New", 0xFFFFFFFFu, 0, &id)));
      EXPECT_TRUE(IsFailure(Settings_PurgeCategoryIds(store_, crime)));
    }
    // What a reading session does: the document's settings, its categories,
    // the documents of a category, the recent list.
    LocalSettings ls{};
    ASSERT_EQ(Settings_OpenDocument(store_, u"/x/Book.txt", 0, &ls), kOk);
    EXPECT_EQ(GetList(NameOf(book).c_str()), (std::vector<std::uint16_t>{fiction, crime}));
    ASSERT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
    EXPECT_EQ(InCategory(0xFFFF).size(), 6u);
    EXPECT_EQ(InCategory(crime).size(), 3u);
    ASSERT_EQ(Settings_CloseStore(store_), kOk);
    store_ = nullptr;
    EXPECT_EQ(Snapshot(folder_), before);
  }
}

TEST_F(SettingsCategories, DocumentsAnswerWhetherTheyHoldACategory) {
  const auto path = Touch(u"/x/Book.txt");
  EXPECT_EQ(Settings_DocumentHasCategory(store_, u"/x/Book.txt", 4), kNo);
  const std::uint16_t ids[] = {2, 4, 6};
  ASSERT_EQ(Settings_SetDocumentCategories(store_, path.c_str(), ids), kOk);
  EXPECT_EQ(Settings_DocumentHasCategory(store_, u"/x/Book.txt", 4), kOk);
  EXPECT_EQ(Settings_DocumentHasCategory(store_, u"/x/Book.txt", 5), kNo);
  EXPECT_EQ(Settings_DocumentHasCategory(store_, u"/x/None.txt", 4), kNo);
}

}  // namespace
