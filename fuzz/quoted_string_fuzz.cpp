// Quoted strings and the parameter and attribute scanners over untrusted
// header-style text. Every scanner must stay inside the text, report tokens
// that lie inside it, and make progress, so walking a whole list ends.
#include <cstddef>
#include <cstdint>

#include "engine/runtime/str.h"

namespace {

struct Text {
  const char* begin;
  const char* end;
};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckInside(const Text& t, const char* start, std::uint32_t length) {
  Check(start >= t.begin && start <= t.end && length <= static_cast<std::size_t>(t.end - start));
}

void CheckCursor(const Text& t, const char* data, std::uint32_t left) {
  CheckInside(t, data, left);
  Check(data + left == t.end);
}

void CheckParams(const Text& t, const ParamCursor& p, StatusCode s) {
  CheckCursor(t, p.data, p.left);
  if (s == kOk) {
    CheckInside(t, p.nameStart, p.nameLength);
    CheckInside(t, p.valueStart, p.valueLength);
    // A quoted value keeps its quotes.
    if (p.valueLength != 0 && p.valueStart[0] == '"') {
      Check(p.valueLength >= 2 && p.valueStart[p.valueLength - 1] == '"');
    }
  }
}

void WalkQuoted(const Text& t) {
  TextCursor c{t.begin, static_cast<std::uint32_t>(t.end - t.begin), nullptr, 0};
  while (c.left != 0) {
    const std::uint32_t before = c.left;
    const StatusCode s = Str_ScanQuoted(&StringModule, &c);
    CheckCursor(t, c.data, c.left);
    if (s != kOk) {
      Check(s == kStrQuoteNotTerminated && c.left == 0);
      break;
    }
    CheckInside(t, c.tokenStart, c.tokenLength);
    Check(c.tokenLength >= 1 && c.tokenStart[c.tokenLength - 1] == '"');
    Check(c.left < before);
  }
}

template <class Next>
void WalkParams(const Text& t, Next next) {
  ParamCursor p{t.begin, static_cast<std::uint32_t>(t.end - t.begin), nullptr, 0, nullptr, 0};
  for (;;) {
    const std::uint32_t before = p.left;
    const StatusCode s = next(&p);
    CheckParams(t, p, s);
    if (s != kOk) Check(s == kNoMore || s == kStrQuoteNotTerminated);
    if (s == kStrQuoteNotTerminated || p.left == 0) break;
    // Items and parameters are consumed; a ',' that ends one parameter list
    // is consumed too, and the next list begins after it.
    Check(p.left < before);
  }
}

void WalkItems(const Text& t, bool withParams) {
  TextCursor c{t.begin, static_cast<std::uint32_t>(t.end - t.begin), nullptr, 0};
  for (;;) {
    const std::uint32_t before = c.left;
    ParamCursor p{};
    const StatusCode s = Str_NextItemWithParams(&StringModule, &c, withParams ? &p : nullptr);
    CheckCursor(t, c.data, c.left);
    if (s != kOk) {
      Check(s == kNoMore || s == kStrQuoteNotTerminated);
      break;
    }
    CheckInside(t, c.tokenStart, c.tokenLength);
    Check(c.tokenLength != 0 && c.left < before);
    if (withParams) {
      // The first parameter is read; read the others.
      CheckParams(t, p, kOk);
      for (;;) {
        const std::uint32_t pBefore = p.left;
        const StatusCode ps = Str_NextParam(&StringModule, &p);
        CheckParams(t, p, ps);
        if (ps != kOk) break;
        Check(p.left < pBefore);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  const char* begin = reinterpret_cast<const char*>(data);
  const Text t{begin, begin + size};
  WalkQuoted(t);
  WalkParams(t, [](ParamCursor* p) { return Str_NextParam(&StringModule, p); });
  WalkParams(t, [](ParamCursor* p) { return Str_NextAttribute(&StringModule, p); });
  WalkParams(t, [](ParamCursor* p) { return Str_NextAttributeLoose(&StringModule, p, 0); });
  WalkParams(t, [](ParamCursor* p) { return Str_NextAttributeLoose(&StringModule, p, 1); });
  WalkItems(t, false);
  WalkItems(t, true);
  return 0;
}
