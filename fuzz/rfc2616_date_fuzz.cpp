// Feeds arbitrary bytes to the HTTP date parser (and the numeric date and time
// parsers). Whatever parses must format back to text that parses to the same
// date.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/runtime/date.h"

namespace {

bool Same(const DateTime& a, const DateTime& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const auto* text = reinterpret_cast<const char*>(data);
  const auto length = static_cast<std::uint32_t>(size);
  EngineObject* module = &DateModule;

  DateTime d{};
  if (Date_ParseInternetDate(module, text, length, &d) == kOk) {
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31 || d.hour > 23 || d.minute > 59 ||
        d.second > 59 || d.hundredths != 0) {
      std::abort();
    }
    char out[kInternetDateLength];
    if (d.year <= 9999) {
      if (Date_FormatInternetDate(module, &d, out) != kOk) std::abort();
      DateTime again{};
      if (Date_ParseInternetDate(module, out, sizeof out, &again) != kOk || !Same(again, d)) {
        std::abort();
      }
    } else if (Date_FormatInternetDate(module, &d, out) != kDateBadYear) {
      std::abort();
    }
  }

  DateTime n{};
  if (Date_ParseDateTime(module, text, length, &n) == kOk && n.year <= 9999) {
    char out[kDateTimeTextSize];
    if (Date_FormatDateTime(module, &n, out) != kOk) std::abort();
    DateTime again{};
    if (Date_ParseDateTime(module, out, kDateTimeTextSize - 1, &again) != kOk || !Same(again, n)) {
      std::abort();
    }
  }

  DateTime t{};
  if (Date_ParseTime(module, text, length, &t) == kOk) {
    char out[kTimeTextSize];
    if (Date_FormatTime(module, &t, out) != kOk) std::abort();
  }
  return 0;
}
