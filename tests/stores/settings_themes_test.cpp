#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/stores/settings_test_support.h"

namespace {

class SettingsThemes : public SettingsFixture {
 public:
  void SetUp() override {
    SettingsFixture::SetUp();
    ASSERT_EQ(Settings_GetColourThemes(store_, &set_), kOk);
  }
  void TearDown() override {
    if (set_) {
      EXPECT_EQ(Settings_SaveColourThemes(store_, set_, 0), kOk);
    }
    SettingsFixture::TearDown();
  }
  std::int32_t Add(const char16_t* name, std::uint16_t key, std::vector<ThemeColour> items) {
    std::int32_t index = -9;
    EXPECT_EQ(
        Settings_SetColourTheme(store_, set_, key, name, static_cast<std::uint32_t>(items.size()),
                                items.data(), &index),
        kOk);
    return index;
  }
  std::uint16_t KeyOf(std::int32_t index) {
    return Settings_ThemeKey(*set_, static_cast<std::uint32_t>(index));
  }
  void Save() {
    ASSERT_EQ(Settings_SaveColourThemes(store_, set_, 1), kOk);
    ASSERT_EQ(Settings_GetColourThemes(store_, &set_), kOk);
  }
  ColourThemeSet* set_ = nullptr;
};

TEST_F(SettingsThemes, KeysAreAssignedFromOneAndNamesKeptInOrder) {
  EXPECT_EQ(set_->count, 0u);
  EXPECT_EQ(KeyOf(Add(u"Sepia", 0, {{1, 1, 2, 3}})), 1);
  EXPECT_EQ(Add(u"Night", 0, {}), 0);
  EXPECT_EQ(Add(u"paper", 0, {}), 1);
  Save();
  ASSERT_EQ(set_->count, 3u);
  std::int32_t index = 0;
  EXPECT_EQ(Settings_FindColourThemeByName(store_, set_, u"SEPIA", &index), kOk);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(Settings_FindColourThemeByName(store_, set_, u"Ocean", &index), kNotFound);
  EXPECT_EQ(index, ~1);
  EXPECT_EQ(Settings_FindColourThemeByKey(store_, set_, 2, &index), kOk);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(Settings_FindColourThemeByKey(store_, set_, 77, &index), kNotFound);
  // Case-only differences and taken keys are refused.
  std::int32_t out = 0;
  EXPECT_EQ(Settings_SetColourTheme(store_, set_, 0, u"NIGHT", 0, nullptr, &out),
            kSettingsThemeLimit);
  EXPECT_EQ(Settings_SetColourTheme(store_, set_, 3, u"Other", 0, nullptr, &out),
            kSettingsThemeLimit);
  EXPECT_EQ(KeyOf(Add(u"Other", 0, {})), 4);
  // Names are kept to 31 characters.
  const std::u16string longName(40, u'z');
  const std::int32_t z = Add(longName.c_str(), 0, {});
  std::int32_t found = 0;
  EXPECT_EQ(Settings_FindColourThemeByName(store_, set_, longName.substr(0, 31).c_str(), &found),
            kOk);
  EXPECT_EQ(found, z);
}

TEST_F(SettingsThemes, OnlyTextAndBackgroundItemsAreReturnedButAllAreKept) {
  const std::int32_t i = Add(u"Mixed", 9, {{1, 10, 20, 30}, {3, 1, 1, 1}, {2, 40, 50, 60}});
  Save();
  ThemeColour items[4];
  std::uint32_t count = 4;
  ASSERT_EQ(Settings_GetColourTheme(store_, set_, i, items, &count), kOk);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(items[0].slot, 1);
  EXPECT_EQ(items[1].blue, 60);
  EXPECT_EQ(items[2].slot, 0);
  count = 4;
  EXPECT_EQ(Settings_GetColourTheme(store_, set_, 1, items, &count), kSettingsThemeLimit);
  EXPECT_EQ(Settings_GetColourTheme(store_, set_, -1, items, &count), kSettingsThemeLimit);
  const std::string file = ReadFileBytes(Reg("clr"));
  EXPECT_EQ(file.size(), 8u + 4 + 10 + 12);
  EXPECT_EQ(file.substr(8, 4), std::string("\x09\x00\x03\x05", 4));
  ThemeColour pair[2];
  ASSERT_EQ(Settings_GetThemeColoursByKey(store_, 9, pair), kOk);
  EXPECT_EQ(pair[0].red, 10);
  EXPECT_EQ(pair[1].green, 50);
  EXPECT_EQ(Settings_GetThemeColoursByKey(store_, 8, pair), kNotFound);
  EXPECT_EQ(pair[0].red, 0);
  EXPECT_EQ(pair[1].red, 255);
}

TEST_F(SettingsThemes, DeletingClosesTheGap) {
  Add(u"a", 0, {{1, 1, 1, 1}});
  Add(u"b", 0, {{2, 2, 2, 2}});
  Add(u"c", 0, {});
  ASSERT_EQ(Settings_DeleteColourTheme(store_, set_, 1), kOk);
  EXPECT_EQ(Settings_DeleteColourTheme(store_, set_, 2), kSettingsThemeLimit);
  Save();
  ASSERT_EQ(set_->count, 2u);
  std::int32_t index = 0;
  EXPECT_EQ(Settings_FindColourThemeByName(store_, set_, u"c", &index), kOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(KeyOf(index), 3);
  // The next key keeps growing after a deletion.
  EXPECT_EQ(KeyOf(Add(u"d", 0, {})), 4);
}

TEST_F(SettingsThemes, DamagedFilesAreIgnoredOrCutToTheirWholeThemes) {
  ThemeColour pair[2];
  EXPECT_EQ(Settings_GetThemeColoursByKey(store_, 1, pair), kFailed);
  EXPECT_EQ(pair[1].blue, 255);
  Add(u"one", 0, {{1, 5, 5, 5}});
  Add(u"two", 0, {});
  Save();
  const std::string good = ReadFileBytes(Reg("clr"));
  WriteFileBytes(Reg("clr"), good + "x");
  EXPECT_EQ(Settings_SaveColourThemes(store_, set_, 0), kOk);
  ASSERT_EQ(Settings_GetColourThemes(store_, &set_), kOk);
  EXPECT_EQ(set_->count, 0u);
  // A count larger than the themes present: only the whole ones are kept.
  std::string more = good;
  more[2] = 5;
  WriteFileBytes(Reg("clr"), more);
  EXPECT_EQ(Settings_SaveColourThemes(store_, set_, 0), kOk);
  ASSERT_EQ(Settings_GetColourThemes(store_, &set_), kOk);
  EXPECT_EQ(set_->count, 2u);
  // A theme claiming more colours than remain ends the walk.
  std::string cut = good;
  cut[8 + 2] = 100;
  WriteFileBytes(Reg("clr"), cut);
  EXPECT_EQ(Settings_SaveColourThemes(store_, set_, 0), kOk);
  ASSERT_EQ(Settings_GetColourThemes(store_, &set_), kOk);
  EXPECT_EQ(set_->count, 0u);
}

TEST_F(SettingsThemes, TheFileStopsGrowingAtItsLimits) {
  const std::vector<ThemeColour> many(200, ThemeColour{1, 0, 0, 0});
  StatusCode s = kOk;
  int added = 0;
  for (int i = 0; i < 100 && s == kOk; ++i) {
    const std::u16string name = u"t" + U16(std::to_string(i));
    std::int32_t index = 0;
    s = Settings_SetColourTheme(store_, set_, 0, name.c_str(), 200, many.data(), &index);
    if (s == kOk) ++added;
  }
  EXPECT_EQ(s, kSettingsThemeLimit);
  // 32000 bytes is the last size to which one more theme may be added.
  EXPECT_EQ(added, 40);
  EXPECT_LE(set_->image.Size(), 0xFFFFu + 8);
}

}  // namespace
