// Matches arbitrary patterns against arbitrary text: the first byte picks the
// kind and option bits, the rest splits at the first NUL into pattern and
// text. Every answer must be one of the documented ones, and a wildcard match
// of the pattern with "*" around it must agree with the plain one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"
#include "engine/utilities/pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = (Core_RegisterAllModules() == kOk);
  if (!registered) std::abort();
  if (size < 1 || size > 4096) return 0;
  const std::uint32_t kind = 1 + data[0] % 3;
  const std::uint32_t options = (data[0] >> 2) & 3u;
  const char* rest = reinterpret_cast<const char*>(data + 1);
  const std::size_t n = size - 1;
  const auto* nul = static_cast<const char*>(std::memchr(rest, 0, n));
  const std::size_t patternLength = nul != nullptr ? static_cast<std::size_t>(nul - rest) : n / 2;
  const std::string pattern(rest, patternLength);
  const std::size_t textStart = nul != nullptr ? patternLength + 1 : patternLength;
  const std::string text(rest + textStart, n - textStart);
  if (pattern.empty() || text.empty()) return 0;

  const auto& ops = OpsOf<PatternOps>(g_PatternModule);
  const StatusCode s = ops.match(g_PatternModule, kind, options, pattern.data(),
                                 static_cast<std::uint32_t>(pattern.size()), text.data(),
                                 static_cast<std::uint32_t>(text.size()));
  if (s != kOk && s != kNotFound && s != kPatternBadExpression && s != kPatternBadKind &&
      s != kPatternBadOptions && s != kPatternLimitReached && s != kOutOfMemory) {
    std::abort();
  }
  if (kind == kPatternWildcard) {
    const std::string starred = "*" + pattern + "*";
    const StatusCode t = ops.match(g_PatternModule, kind, options, starred.data(),
                                   static_cast<std::uint32_t>(starred.size()), text.data(),
                                   static_cast<std::uint32_t>(text.size()));
    if (t != s) std::abort();
  }
  return 0;
}
