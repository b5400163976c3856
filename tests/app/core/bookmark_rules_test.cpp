// The bookmark dialogs' portable rules: kinds and engine lists, the kind a
// document remembers, the list's name-length answer, edit-list moves, and
// names cut to 31 bytes of the document's charset at a character boundary.
#include "app/core/bookmark_rules.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/runtime/charset_name.h"

namespace {

TEST(BookmarkRulesTest, KindsListsAndRememberedKind) {
  // The combo shows Document, Local, Global; the engine numbers them 0, 2, 1.
  const int lists[][2] = {{0, 0}, {1, 2}, {2, 1}, {3, -1}, {-1, -1}};
  for (const auto& c : lists)
    EXPECT_EQ(Bookmark_ListOfKind(c[0]), c[1]) << "kind " << c[0];

  struct FlagsCase {
    std::uint16_t flags;
    int kind;
  };
  const FlagsCase remembered[] = {{0x0000, 0}, {0xFF01, 1}, {0x1232, 2}, {0x0003, 0}};
  for (const FlagsCase& c : remembered)
    EXPECT_EQ(Bookmark_KindOfFlags(c.flags), c.kind) << std::hex << c.flags;

  // Only the two low bits change; the rest of the word is another setting's.
  EXPECT_EQ(Bookmark_FlagsWithKind(0xABCE, 1), 0xABCD);
  EXPECT_EQ(Bookmark_FlagsWithKind(0x1233, 2), 0x1232);
  EXPECT_EQ(Bookmark_FlagsWithKind(0x1233, 0), 0x1230);
  EXPECT_EQ(Bookmark_FlagsWithKind(0x1231, 5), 0x1231) << "not a kind: left alone";
  for (int kind = 0; kind < BookmarkKind::kCount; ++kind)
    EXPECT_EQ(Bookmark_KindOfFlags(Bookmark_FlagsWithKind(0xFFFF, kind)), kind);
}

TEST(BookmarkRulesTest, NameLengthAnswerAndMoves) {
  EXPECT_EQ(Bookmark_UsableNameLength(kFailed, 200), 15) << "failed query";
  EXPECT_EQ(Bookmark_UsableNameLength(kOk, 10), 10);
  EXPECT_EQ(Bookmark_UsableNameLength(kOk, 31), 31);
  EXPECT_EQ(Bookmark_UsableNameLength(kOk, 32), 31);
  EXPECT_EQ(Bookmark_UsableNameLength(kOk, 255), 31);
  EXPECT_EQ(Bookmark_UsableNameLength(kOk, 0), 31) << "no limit named";

  struct Move {
    int row, count;
    bool up;
    int target;
  };
  const Move moves[] = {
      {0, 3, true, -1},   // Up on the first row
      {2, 3, false, -1},  // Down on the last row
      {1, 3, true, 0},   {1, 3, false, 2},
      {0, 1, false, -1}, {-1, 3, true, -1},  // nothing selected
      {3, 3, true, -1},                      // a row the list does not have
  };
  for (const Move& m : moves) {
    EXPECT_EQ(Bookmark_MoveTarget(m.row, m.count, m.up), m.target)
        << m.row << "/" << m.count << (m.up ? " up" : " down");
    // The list is always asked to move the lower entry one place up, which
    // every list reads the same way; no step, no move.
    const BookmarkMove op = Bookmark_MoveOperation(m.row, m.count, m.up);
    if (m.target < 0) {
      EXPECT_EQ(op.from, -1);
    } else {
      EXPECT_EQ(op.from, std::max(m.row, m.target));
      EXPECT_EQ(op.to, op.from - 1);
    }
  }
}

TEST(BookmarkRulesTest, NamesAreCutAtACharacterBoundary) {
  const std::u16string a28(28, u'a'), a29(29, u'a'), a30(30, u'a');
  struct Case {
    const char* what;
    std::u16string name;
    std::uint32_t mib;
    std::string want;
  };
  const Case cases[] = {
      {"ascii longer than 31", std::u16string(40, u'x'), Mib::kWindows1252, std::string(31, 'x')},
      {"utf-8: two-byte character at 31", a30 + u"\u00e9", Mib::kUtf8, std::string(30, 'a')},
      {"utf-8: two-byte character fits", a29 + u"\u00e9", Mib::kUtf8,
       std::string(29, 'a') + "\xC3\xA9"},
      {"utf-8: three-byte character at 30", a29 + u"\u20ac", Mib::kUtf8, std::string(29, 'a')},
      {"utf-8: three-byte character fits", a28 + u"\u20ac", Mib::kUtf8,
       std::string(28, 'a') + "\xE2\x82\xAC"},
      {"utf-8: surrogate pair at 29", a28 + u"\U0001F600", Mib::kUtf8, std::string(28, 'a')},
      {"shift_jis: 16 two-byte characters", std::u16string(16, u'\u3042'), Mib::kShiftJis,
       [] {
         std::string s;
         for (int i = 0; i < 15; ++i)
           s += "\x82\xA0";
         return s;
       }()},
      {"windows-1252: one byte each", std::u16string(33, u'\u00e9'), Mib::kWindows1252,
       std::string(31, '\xE9')},
      {"a character the charset lacks", u"a\u4e2db", Mib::kWindows1252, "a?b"},
      {"utf-16 document: names in utf-8", u"\u00e9t\u00e9", Mib::kUtf16Le, "\xC3\xA9t\xC3\xA9"},
      {"unknown charset: windows-1252", u"caf\u00e9", 0, "caf\xE9"},
      {"empty", u"", Mib::kUtf8, ""},
  };
  for (const Case& c : cases) {
    const std::string got = Bookmark_EncodeName(c.name, c.mib);
    EXPECT_EQ(got, c.want) << c.what;
    EXPECT_LE(got.size(), kBookmarkNameBytes) << c.what;
    // Read back, the stored name is the start of what was typed.
    const std::u16string back = Bookmark_DecodeName(got, c.mib, 255);
    if (c.name.find(u'\u4e2d') == std::u16string::npos) {
      EXPECT_EQ(c.name.substr(0, back.size()), back) << c.what;
    }
  }
}

TEST(BookmarkRulesTest, StoredNamesAreShownInAtMost31Units) {
  EXPECT_EQ(Bookmark_DecodeName(std::string(40, 'n'), Mib::kUtf8), std::u16string(31, u'n'));
  // The name ends at its NUL.
  EXPECT_EQ(Bookmark_DecodeName(std::string("ab\0cd", 5), Mib::kUtf8), u"ab");
  // A pair that would straddle the 31st unit is left out whole.
  EXPECT_EQ(Bookmark_DecodeName(std::string(30, 'a') + "\xF0\x9F\x98\x80", Mib::kUtf8),
            std::u16string(30, u'a'));
  EXPECT_EQ(Bookmark_DecodeName(std::string(29, 'a') + "\xF0\x9F\x98\x80", Mib::kUtf8),
            std::u16string(29, u'a') + u"\U0001F600");
  EXPECT_EQ(Bookmark_DecodeName("caf\xE9", Mib::kWindows1252), u"caf\u00e9");
  EXPECT_EQ(Bookmark_DecodeName("\x82\xA0\x82\xA2", Mib::kShiftJis), u"\u3042\u3044");
  // A byte that starts no character shows as U+FFFD rather than ending the
  // name or vanishing.
  EXPECT_EQ(Bookmark_DecodeName("a\xFF"
                                "b",
                                Mib::kUtf8),
            u"a\uFFFDb");
}

}  // namespace
