// The find request's rules: the preferences' option byte to the find
// engine's flags, the search text to the document's bytes, and what a
// finished search tells the user.
#include "app/core/find_options.h"

#include <gtest/gtest.h>

#include "app/core/strings.h"
#include "engine/formats/text_search.h"
#include "engine/view/text_view.h"

namespace {

TEST(FindOptions, OptionByteGivesTheEnginesFlags) {
  namespace F = TextSearchFlag;
  struct Row {
    std::uint8_t options;
    bool again;
    std::uint32_t flags;
    const char* why;
  };
  const Row rows[] = {
      {0x00, false, 0, "down, folded, this section"},
      {0x01, false, F::CaseSensitive, "match case"},
      {0x02, false, F::WholeDocument, "entire document"},
      {0x04, false, F::Backward, "range up"},
      {0x08, false, F::WholeRange, "range top to bottom"},
      {0x0C, false, 0, "range 3 does not exist: down"},
      {0x08, true, F::WholeRange | F::FromPosition, "again top to bottom goes on from the hit"},
      {0x07, true, F::CaseSensitive | F::WholeDocument | F::Backward | F::FromPosition, "all"},
      {0xF0, false, 0, "bits above the range are ignored"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(FindOptions_Flags(r.options, r.again), r.flags) << r.why;
}

TEST(FindOptions, PackAndUnpackKeepTheDialogsFields) {
  for (int m = 0; m < 2; ++m)
    for (int e = 0; e < 2; ++e)
      for (int range = 0; range < 3; ++range) {
        const FindRequest in{m == 1, e == 1, static_cast<FindRange>(range)};
        const FindRequest out = FindOptions_Unpack(FindOptions_Pack(in));
        EXPECT_EQ(out.matchCase, in.matchCase);
        EXPECT_EQ(out.entireDocument, in.entireDocument);
        EXPECT_EQ(out.range, in.range);
      }
}

TEST(FindOptions, SearchTextBecomesWholeCharactersOfTheDocumentsCharset) {
  struct Row {
    std::u16string text;
    std::uint32_t charset;
    std::string bytes;
    const char* why;
  };
  const std::u16string euros(31, u'\u20AC');
  const Row rows[] = {
      {u"Caf\u00E9", 2252, "Caf\xE9", "windows-1252"},
      {u"Caf\u00E9", 0, "Caf\xE9", "no charset: windows-1252"},
      {u"Caf\u00E9", 106, "Caf\xC3\xA9", "UTF-8"},
      {std::u16string(31, u'\u00E9'), 106,
       [] {
         std::string s;
         for (int i = 0; i < 31; ++i)
           s += "\xC3\xA9";
         return s;
       }(),
       "31 two-byte characters fill the 62 bytes exactly"},
      {euros, 106,
       [] {
         std::string s;
         for (int i = 0; i < 20; ++i)
           s += "\xE2\x82\xAC";
         return s;
       }(),
       "three-byte characters: the 20 that fit whole"},
      {std::u16string(40, u'a'), 2252, std::string(31, 'a'), "at most 31 characters"},
      {u"", 2252, "", "empty"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(FindOptions_PatternBytes(r.text, r.charset), r.bytes) << r.why;
}

TEST(FindOptions, OutcomeTellsNoMatchesAndKeepsFindAgain) {
  struct Row {
    StatusCode result, finish;
    bool again;
    bool againEnabled;
    std::uint32_t message;
    const char* why;
  };
  const Row rows[] = {
      {kViewFindEnded, kOk, false, true, 0, "a hit"},
      {kViewFindEnded, kNotFound, false, false, StringId::NoMatches, "no hit on a first search"},
      {kViewFindEnded, kNotFound, true, false, StringId::NoMoreMatches, "no hit on Find Again"},
      {kOk, kNotFound, false, true, 0, "cancelled: Find Again goes on"},
      {kFailed, kNotFound, true, true, 0, "failed: no message"},
  };
  for (const Row& r : rows) {
    const FindOutcome o = FindOptions_Outcome(r.result, r.finish, r.again);
    EXPECT_EQ(o.againEnabled, r.againEnabled) << r.why;
    EXPECT_EQ(o.messageId, r.message) << r.why;
  }
}

}  // namespace
