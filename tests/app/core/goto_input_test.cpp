// The Go To fields: a page of 1 or more, a percentage of 0..99, blanks
// around the number allowed, anything else answers Cancel.
#include "app/core/goto_input.h"

#include <gtest/gtest.h>

namespace {

TEST(GoToInput, FieldsAnswerTheirResultOrCancel) {
  struct Row {
    std::u16string text;
    int page;     // GoTo_PageResult
    int percent;  // GoTo_PercentResult
    std::uint32_t value;
    const char* why;
  };
  constexpr int C = GoToResult::Cancel, P = GoToResult::Page, R = GoToResult::Percent;
  const Row rows[] = {
      {u"12", P, R, 12, "a number"},
      {u" 12 ", P, R, 12, "blanks on both sides"},
      {u"\t7\n", P, R, 7, "other white space"},
      {u"0", C, R, 0, "page 0 does not exist; 0 % is the page's top"},
      {u"", C, C, 0, "empty"},
      {u"   ", C, C, 0, "only blanks"},
      {u"ab", C, C, 0, "letters"},
      {u"12ab", C, C, 0, "digits then letters"},
      {u"1 2", C, C, 0, "a blank inside"},
      {u"-1", C, C, 0, "a sign would wrap to a huge page"},
      {u"+3", C, C, 0, "no sign at all"},
      {u"99", P, R, 99, "the largest percentage"},
      {u"100", P, C, 100, "a page, but past the percentages"},
      {u"99999", P, C, 99999, "the longest page field"},
      {u"12345678901", C, C, 0, "too long to be a number of ours"},
      {u"\uFF11", C, C, 0, "a full-width digit is not one"},
  };
  for (const Row& r : rows) {
    std::uint32_t page = 0xDEAD, percent = 0xDEAD;
    EXPECT_EQ(GoTo_PageResult(r.text, &page), r.page) << r.why;
    EXPECT_EQ(GoTo_PercentResult(r.text, &percent), r.percent) << r.why;
    EXPECT_EQ(page, r.page == P ? r.value : 0xDEAD) << r.why;
    EXPECT_EQ(percent, r.percent == R ? r.value : 0xDEAD) << r.why;
  }
}

}  // namespace
