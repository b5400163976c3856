// The Go To dialog's rules, without Qt: what each of its buttons answers
// and how the page and percentage fields are read.
#pragma once

#include <cstdint>
#include <string_view>

// The dialog's answers (its control numbers) and what the view does on each.
namespace GoToResult {
constexpr int Cancel = 2;   // nothing (also an unusable number)
constexpr int Page = 1029;  // the page in the page field
constexpr int FirstPage = 1033;
constexpr int LastPage = 1034;
constexpr int Percent = 1035;  // the percentage of the current page in the percent field
constexpr int TopOfPage = 1037;
constexpr int EndOfPage = 1038;
}  // namespace GoToResult

constexpr int kGoToPageMaxChars = 5;
constexpr int kGoToPercentMaxChars = 2;

// What the Go To command hands its dialog, and the dialog's answer (one of
// GoToResult and the page or percentage typed).
struct GoToRequest {
  std::uint16_t page = 0, pageCount = 0;  // 0 and 0 when unknown
  std::uint16_t percent = 0;
  bool showsPercent = false;
};
struct GoToAnswer {
  int result = GoToResult::Cancel;
  std::uint32_t value = 0;
};

// A field's number: blanks on both sides are dropped and what is left must
// be decimal digits only (no sign, at most 9 of them). False for an empty
// field or anything else.
bool GoTo_ParseNumber(std::u16string_view text, std::uint32_t* value) noexcept;

// Go To (page): GoToResult::Page with *page set for a number of 1 or more,
// otherwise Cancel.
int GoTo_PageResult(std::u16string_view text, std::uint32_t* page) noexcept;
// Go To (percentage): GoToResult::Percent with *percent set for 0..99,
// otherwise Cancel.
int GoTo_PercentResult(std::u16string_view text, std::uint32_t* percent) noexcept;
