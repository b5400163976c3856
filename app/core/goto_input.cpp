#include "app/core/goto_input.h"

namespace {

bool Blank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

}  // namespace

bool GoTo_ParseNumber(std::u16string_view text, std::uint32_t* value) noexcept {
  while (!text.empty() && Blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && Blank(text.back()))
    text.remove_suffix(1);
  if (text.empty() || text.size() > 9) return false;
  std::uint32_t v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + static_cast<std::uint32_t>(c - u'0');
  }
  *value = v;
  return true;
}

int GoTo_PageResult(std::u16string_view text, std::uint32_t* page) noexcept {
  std::uint32_t v = 0;
  if (!GoTo_ParseNumber(text, &v) || v == 0) return GoToResult::Cancel;
  *page = v;
  return GoToResult::Page;
}

int GoTo_PercentResult(std::u16string_view text, std::uint32_t* percent) noexcept {
  std::uint32_t v = 0;
  if (!GoTo_ParseNumber(text, &v) || v > 99) return GoToResult::Cancel;
  *percent = v;
  return GoToResult::Percent;
}
