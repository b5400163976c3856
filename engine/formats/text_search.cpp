#include "engine/formats/text_search.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/formats/doc_handler.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"
#include "engine/runtime/text_conv.h"

namespace {

using Byte = std::uint8_t;

// ---------------------------------------------------------------------------
// Skipping to the next candidate first byte. While the matcher is in state 0
// every byte other than the pattern's first keeps it there, so those bytes can
// be passed over in bulk. anyCase: b is a lower-case letter and its upper-case
// form matches too ((c | 0x20) == b holds for exactly those two bytes).

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// High bit set in every byte of v that is zero, exactly (no borrow between
// bytes), so the lowest and the highest flagged byte are both true zeros.
inline std::uint64_t ZeroBytes(std::uint64_t v) {
  return ~(((v & kLow7) + kLow7) | v | kLow7);
}

inline std::uint64_t Load64(const Byte* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline bool ByteMatches(Byte c, Byte b, bool anyCase) {
  return (anyCase ? static_cast<Byte>(c | 0x20) : c) == b;
}

// The first byte in [p, end) that matches, or end.
const Byte* SkipForward(const Byte* p, const Byte* end, Byte b, bool anyCase) {
  if (!anyCase) {
    const void* hit = std::memchr(p, b, static_cast<std::size_t>(end - p));
    return hit ? static_cast<const Byte*>(hit) : end;
  }
  if constexpr (kLittleEndian) {
    const std::uint64_t fold = 0x2020202020202020ull, want = kOnes * b;
    for (; end - p >= 8; p += 8) {
      const std::uint64_t z = ZeroBytes((Load64(p) | fold) ^ want);
      if (z != 0) return p + (std::countr_zero(z) >> 3);
    }
  }
  for (; p < end; ++p) {
    if (ByteMatches(*p, b, anyCase)) return p;
  }
  return end;
}

// The last byte in [begin, p) that matches, or null.
const Byte* SkipBackward(const Byte* begin, const Byte* p, Byte b, bool anyCase) {
  if constexpr (kLittleEndian) {
    const std::uint64_t fold = anyCase ? 0x2020202020202020ull : 0, want = kOnes * b;
    for (; p - begin >= 8; p -= 8) {
      const std::uint64_t z = ZeroBytes((Load64(p - 8) | fold) ^ want);
      if (z != 0) return p - 8 + ((63 - std::countl_zero(z)) >> 3);
    }
  }
  while (p > begin) {
    --p;
    if (ByteMatches(*p, b, anyCase)) return p;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// The matcher: one automaton state carried across windows. Each scan returns
// how many bytes of the window it consumed and whether the last one completed
// a match. Backward scans read the window from its end with the reversed
// pattern, so a completed match ends at the hit's first byte.

struct ScanResult {
  std::uint32_t consumed;
  bool matched;
};

// In state 0 with room ahead, whole candidates are filtered eight at a time:
// a match must have the pattern's first and last bytes m - 1 apart, and only
// positions with both are compared in full. A match that runs on past the
// window's end starts within its last m - 1 bytes, and none can start
// before them unseen, so the byte-wise matcher takes over in state 0 for
// exactly those bytes and carries the state into the next window.

inline bool IsLowerLetter(Byte b) {
  return (Str_ClassOf(b) & kCharLower) != 0;
}

// Forward: the pattern against the bytes at c.
template <bool kFold>
bool EqualAt(const TextSearch& s, const Byte* c) {
  for (std::uint32_t k = 0; k < s.patternLength; ++k) {
    if ((kFold ? Str_FoldByte(c[k]) : c[k]) != s.pattern[k]) return false;
  }
  return true;
}
// Backward: the reversed pattern against the bytes ending at e.
template <bool kFold>
bool EqualBefore(const TextSearch& s, const Byte* e) {
  for (std::uint32_t k = 0; k < s.patternLength; ++k) {
    const Byte c = e[-1 - static_cast<std::ptrdiff_t>(k)];
    if ((kFold ? Str_FoldByte(c) : c) != s.pattern[k]) return false;
  }
  return true;
}

// The first match start in [p, limit) (all of the match within the window),
// or limit. memchr finds the next first byte (both cases of a folded letter,
// each remembered until passed), then a block behind it is filtered: where
// the first byte is rare the scan runs at memchr's speed, where it is common
// at the filter's.
template <bool kFold>
const Byte* FilterForward(const TextSearch& s, const Byte* p, const Byte* limit) {
  const std::uint32_t m = s.patternLength;
  const Byte first = s.pattern[0], last = s.pattern[m - 1];
  const bool anyFirst = kFold && IsLowerLetter(first), anyLast = kFold && IsLowerLetter(last);
  const Byte* nextLower = nullptr;  // next first byte as it is, and in upper case
  const Byte* nextUpper = anyFirst ? nullptr : limit;
  auto find = [limit](const Byte* from, Byte b) {
    const void* hit = std::memchr(from, b, static_cast<std::size_t>(limit - from));
    return hit ? static_cast<const Byte*>(hit) : limit;
  };
  // The block grows while first bytes come close together; once they are
  // dense the filter alone runs to the limit.
  std::ptrdiff_t block = 64;
  while (p < limit) {
    if (nextLower < p) nextLower = find(p, first);
    if (nextUpper < p) nextUpper = find(p, static_cast<Byte>(first - 0x20));
    const Byte* next = std::min(nextLower, nextUpper);
    block = next - p < block ? block * 2 : 64;
    if (block > 512) block = limit - p;
    p = next;
    const Byte* blockEnd = limit - p > block ? p + block : limit;
#if defined(__SSE2__)
    // Sixteen candidates a step; the words below take the last few.
    {
      const __m128i foldFirst = _mm_set1_epi8(anyFirst ? 0x20 : 0);
      const __m128i foldLast = _mm_set1_epi8(anyLast ? 0x20 : 0);
      const __m128i wantFirst = _mm_set1_epi8(static_cast<char>(first));
      const __m128i wantLast = _mm_set1_epi8(static_cast<char>(last));
      for (; blockEnd - p >= 16; p += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + m - 1));
        auto z = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, foldFirst), wantFirst),
                                            _mm_cmpeq_epi8(_mm_or_si128(b, foldLast), wantLast))));
        for (; z != 0; z &= z - 1) {
          const Byte* c = p + std::countr_zero(z);
          if (EqualAt<kFold>(s, c)) return c;
        }
      }
    }
#endif
    if constexpr (kLittleEndian) {
      constexpr std::uint64_t kFoldBits = 0x2020202020202020ull;
      const std::uint64_t foldFirst = anyFirst ? kFoldBits : 0, foldLast = anyLast ? kFoldBits : 0;
      const std::uint64_t wantFirst = kOnes * first, wantLast = kOnes * last;
      for (; blockEnd - p >= 8; p += 8) {
        std::uint64_t z = ZeroBytes((Load64(p) | foldFirst) ^ wantFirst) &
                          ZeroBytes((Load64(p + m - 1) | foldLast) ^ wantLast);
        for (; z != 0; z &= z - 1) {
          const Byte* c = p + (std::countr_zero(z) >> 3);
          if (EqualAt<kFold>(s, c)) return c;
        }
      }
    }
    for (; p < blockEnd; ++p) {
      if (ByteMatches(p[0], first, anyFirst) && ByteMatches(p[m - 1], last, anyLast) &&
          EqualAt<kFold>(s, p)) {
        return p;
      }
    }
  }
  return limit;
}

// Backward: the highest match end in [floor, e] (all of the match within the
// window), or null.
template <bool kFold>
const Byte* FilterBackward(const TextSearch& s, const Byte* floor, const Byte* e) {
  const std::uint32_t m = s.patternLength;
  const Byte first = s.pattern[0], last = s.pattern[m - 1];  // of the reversed pattern
  const bool anyFirst = kFold && IsLowerLetter(first), anyLast = kFold && IsLowerLetter(last);
  if constexpr (kLittleEndian) {
    constexpr std::uint64_t kFoldBits = 0x2020202020202020ull;
    const std::uint64_t foldFirst = anyFirst ? kFoldBits : 0, foldLast = anyLast ? kFoldBits : 0;
    const std::uint64_t wantFirst = kOnes * first, wantLast = kOnes * last;
    // Lane k stands for the end e - 7 + k: its last byte e - 8 + k, its
    // first e - 7 + k - m.
    for (; e - floor >= 7; e -= 8) {
      std::uint64_t z = ZeroBytes((Load64(e - 8) | foldFirst) ^ wantFirst) &
                        ZeroBytes((Load64(e - 7 - m) | foldLast) ^ wantLast);
      while (z != 0) {
        const int lane = (63 - std::countl_zero(z)) >> 3;
        const Byte* end = e - 7 + lane;
        if (EqualBefore<kFold>(s, end)) return end;
        z &= ~(std::uint64_t{0x80} << (lane * 8));
      }
    }
  }
  for (; e >= floor; --e) {
    if (ByteMatches(e[-1], first, anyFirst) &&
        ByteMatches(e[-static_cast<std::ptrdiff_t>(m)], last, anyLast) &&
        EqualBefore<kFold>(s, e)) {
      return e;
    }
  }
  return nullptr;
}

constexpr std::ptrdiff_t kFilterSlack = 16;  // worth filtering only with this much room

template <bool kFold>
ScanResult ScanForward(const TextSearch& s, const Byte* w, std::uint32_t n, std::int32_t& state) {
  const Byte* p = w;
  const Byte* const end = w + n;
  const std::int32_t m = static_cast<std::int32_t>(s.patternLength);
  const Byte first = s.pattern[0];
  const bool anyCase = kFold && IsLowerLetter(first);
  const Byte* filtered = w;  // match starts below this were ruled out
  std::int32_t i = state;
  while (p < end) {
    if (i == 0) {
      if (m >= 2 && p >= filtered && end - p >= m + kFilterSlack) {
        const Byte* limit = end - m + 1;
        const Byte* c = FilterForward<kFold>(s, p, limit);
        if (c != limit) {
          state = m;
          return {static_cast<std::uint32_t>(c + m - w), true};
        }
        filtered = limit;
        p = std::max(p, limit);
        continue;
      }
      p = SkipForward(p, end, first, anyCase);
      if (p == end) break;
    }
    const Byte c = kFold ? Str_FoldByte(*p) : *p;
    ++p;
    while (i >= 0 && c != s.pattern[i])
      i = s.links[i];
    if (++i == m) {
      state = i;
      return {static_cast<std::uint32_t>(p - w), true};
    }
  }
  state = i;
  return {n, false};
}

template <bool kFold>
ScanResult ScanBackward(const TextSearch& s, const Byte* w, std::uint32_t n, std::int32_t& state) {
  const Byte* p = w + n;
  const std::int32_t m = static_cast<std::int32_t>(s.patternLength);
  const Byte first = s.pattern[0];
  const bool anyCase = kFold && IsLowerLetter(first);
  bool filtered = false;  // match ends from w + m up were ruled out
  std::int32_t i = state;
  while (p > w) {
    if (i == 0) {
      if (m >= 2 && !filtered && p - w >= m + kFilterSlack) {
        const Byte* e = FilterBackward<kFold>(s, w + m, p);
        if (e != nullptr) {
          state = m;
          return {static_cast<std::uint32_t>(w + n - (e - m)), true};
        }
        filtered = true;
        p = std::min(p, w + m - 1);
        continue;
      }
      const Byte* q = SkipBackward(w, p, first, anyCase);
      if (q == nullptr) {
        p = w;
        break;
      }
      p = q + 1;
    }
    --p;
    const Byte c = kFold ? Str_FoldByte(*p) : *p;
    while (i >= 0 && c != s.pattern[i])
      i = s.links[i];
    if (++i == m) {
      state = i;
      return {static_cast<std::uint32_t>(w + n - p), true};
    }
  }
  state = i;
  return {n, false};
}

ScanResult Scan(const TextSearch& s, bool backward, const Byte* w, std::uint32_t n,
                std::int32_t& state) {
  const bool fold = (s.flags & TextSearchFlag::CaseSensitive) == 0;
  if (backward)
    return fold ? ScanBackward<true>(s, w, n, state) : ScanBackward<false>(s, w, n, state);
  return fold ? ScanForward<true>(s, w, n, state) : ScanForward<false>(s, w, n, state);
}

// ---------------------------------------------------------------------------
// Reading the handler's text.

// Copies up to `want` bytes from pos into buf through text windows; *got is
// fewer when the text ends first.
StatusCode ReadForward(EngineObject* handler, std::uint32_t pos, Byte* buf, std::uint32_t want,
                       std::uint32_t* got) {
  const DocHandlerOps& ops = DocOpsOf(handler);
  std::uint32_t have = 0;
  while (have < want) {
    const Byte* text = nullptr;
    std::uint32_t length = want - have;
    const StatusCode st = ops.getText(handler, pos + have, &text, &length);
    if (IsFailure(st)) return st;
    if (text == nullptr || length == 0) break;
    length = std::min(length, want - have);
    std::memcpy(buf + have, text, length);
    have += length;
  }
  *got = have;
  return kOk;
}

// The position of the nearest byte before `pos`, not below `low` and not
// more than `limit` bytes back, for which pred holds; kNotFound when none.
template <class Pred>
StatusCode FindBackward(EngineObject* handler, std::uint32_t pos, std::uint32_t low,
                        std::uint32_t limit, Pred pred, std::uint32_t* found) {
  const DocHandlerOps& ops = DocOpsOf(handler);
  if (pos - low > limit) low = pos - limit;
  while (pos > low) {
    const Byte* text = nullptr;
    std::uint32_t length = std::min<std::uint32_t>(pos - low, kTextSearchStepBytes);
    const StatusCode st = ops.getTextBefore(handler, pos, &text, &length);
    if (IsFailure(st)) return st;
    if (text == nullptr || length == 0) break;
    length = std::min(length, pos - low);
    for (std::uint32_t k = length; k-- > 0;) {
      if (pred(text[k])) {
        *found = pos - length + k;
        return kOk;
      }
    }
    pos -= length;
  }
  return kNotFound;
}

// ---------------------------------------------------------------------------
// Character boundaries in multi-byte charsets.

EngineObject* TextConv() {
  return g_TextConvModule;
}

StatusCode Measure(const TextSearch& s, std::uint32_t flags, const Byte* data,
                   std::uint32_t* byteLength, std::uint8_t* lengths, std::uint32_t* count) {
  EngineObject* conv = TextConv();
  if (conv == nullptr) return kNotSupported;
  // 1015 is measured little-endian; a big-endian mark makes it 1013.
  const std::uint32_t mib =
      s.charsetClass == CharsetClass::kUtf16 && s.bigEndianUnits ? 1013 : s.charset;
  return OpsOf<TextConvOps>(conv).measureChars(conv, flags, mib, data, byteLength, lengths, count);
}

bool IsUtf8Continuation(Byte b) {
  return (b & 0xC0) == 0x80;
}

// Bytes below 0x30 are never the second or a later byte of a character in
// any multi-byte charset the engine decodes (trail bytes start at 0x40, the
// digits of GB18030's four-byte form at 0x30), so such a byte always starts a
// character. Space, TAB, CR and LF are among them.
bool IsCertainStart(Byte b) {
  return b < 0x30;
}

void ForgetMarksAbove(TextSearch& s, std::uint32_t limit) {
  while (s.markCount > 0 && s.marks[s.markCount - 1] > limit)
    --s.markCount;
}

void AddMark(TextSearch& s, std::uint32_t pos) {
  if (s.markCount > 0 && s.marks[s.markCount - 1] >= pos) return;  // kept ascending
  if (s.markCount == kTextSearchBoundaryMarks) {
    std::memmove(s.marks, s.marks + 1, (kTextSearchBoundaryMarks - 1) * sizeof s.marks[0]);
    --s.markCount;  // the farthest below goes first
  }
  s.marks[s.markCount++] = pos;
}

// The highest known boundary at or below pos, or the section start.
std::uint32_t BestMark(const TextSearch& s, std::uint32_t pos) {
  std::uint32_t best = s.sectionStart;
  for (std::uint32_t k = 0; k < s.markCount && s.marks[k] <= pos; ++k)
    best = std::max(best, s.marks[k]);
  return best;
}

// Decodes from `from` (a known character start) until a character boundary
// reaches or passes `hit`: kYes when one lands on it, kNo when a character
// covers it. Boundaries met on the way are kept for later checks: forward,
// the last one below the hit (later candidates only rise); backward, one at
// each of the distances 64, 128, 256, ... below the hit, so that the next
// candidate down finds a known boundary about as far below it as it lies
// below this one, and the checks of a whole search decode the text about
// once.
StatusCode WalkTo(TextSearch& s, std::uint32_t from, std::uint32_t hit) {
  constexpr std::uint32_t kChunk = 256;  // at most one character per byte
  const bool backward = (s.flags & TextSearchFlag::Backward) != 0;
  // Backward: the next distance below the hit at which a boundary is kept.
  std::uint64_t distance = 64;
  while (distance * 2 <= hit - from)
    distance *= 2;
  std::uint32_t pos = from;
  Byte buf[kChunk];
  std::uint8_t lengths[kChunk];
  while (pos < hit) {
    // Read a little past the hit so a character that starts before it is
    // seen whole; characters are at most 6 bytes long.
    const auto want =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, std::uint64_t{hit} + 8 - pos));
    std::uint32_t got = 0;
    const StatusCode st = ReadForward(s.handler, pos, buf, want, &got);
    if (IsFailure(st)) return st;
    if (got == 0) return kNo;  // the text ends before the hit
    // A character cut by the end of the buffer is measured again with the
    // next read (stop before it); at the true end of the text it is whole.
    const std::uint32_t flags = got < want ? 0 : kConvStopBeforeIncomplete;
    std::uint32_t byteLength = got;
    std::uint32_t count = kChunk;
    if (IsFailure(Measure(s, flags, buf, &byteLength, lengths, &count))) {
      return kYes;  // no decoder for this charset: the hit cannot be judged, keep it
    }
    if (count == 0) {  // a byte that starts nothing: a character of its own
      count = 1;
      lengths[0] = 1;
    }
    for (std::uint32_t k = 0; k < count && k < kChunk; ++k) {
      const std::uint32_t length = std::max<std::uint32_t>(lengths[k], 1);
      if (pos + length > hit) {
        if (!backward) AddMark(s, pos);
        return kNo;
      }
      if (backward && distance >= 64 && hit - pos <= distance) {
        AddMark(s, pos);
        while (distance >= 64 && hit - pos <= distance)
          distance /= 2;
      }
      pos += length;
      if (pos == hit) {
        if (!backward) AddMark(s, pos);
        return kYes;
      }
    }
  }
  return pos == hit ? kYes : kNo;
}

StatusCode LoadSection(TextSearch& s, std::uint32_t hit) {
  if (s.sectionKnown && s.sectionStart <= hit && hit < s.sectionEnd) return kOk;
  std::int16_t section = 0;
  std::uint32_t start = 0, end = 0;
  const StatusCode st = DocOpsOf(s.handler).findSection(s.handler, hit, &section, &start, &end);
  if (IsFailure(st)) return st;
  if (st != kOk || start > hit || end <= hit) {
    // No section answers for the hit: decode from the search range's start.
    start = std::min(s.rangeStart, hit);
    end = 0xFFFFFFFFu;
  }
  s.sectionKnown = true;
  s.sectionStart = start;
  s.sectionEnd = end;
  s.markCount = 0;
  return kOk;
}

// kYes when the hit starts on a character boundary, kNo when it starts
// inside a character, or the handler's failure.
StatusCode StartsOnBoundary(TextSearch& s, std::uint32_t hit) {
  StatusCode st = LoadSection(s, hit);
  if (st != kOk) return st;
  if (hit == s.sectionStart) return kYes;
  const bool backward = (s.flags & TextSearchFlag::Backward) != 0;
  if (backward) {
    ForgetMarksAbove(s, hit);  // later candidates all start below this one
  } else if (s.markCount > 1) {
    // Forward candidates only rise: the highest mark is all that is needed.
    s.marks[0] = s.marks[s.markCount - 1];
    s.markCount = 1;
  }
  std::uint32_t from = 0;
  switch (s.charsetClass) {
    case CharsetClass::kUtf16:
      // Units start at even offsets from the section start; the unit before
      // tells whether the hit is the second half of a surrogate pair.
      if (((hit - s.sectionStart) & 1u) != 0) return kNo;
      from = hit - 2;
      break;
    case CharsetClass::kUtf8: {
      Byte b = 0;
      std::uint32_t got = 0;
      st = ReadForward(s.handler, hit, &b, 1, &got);
      if (IsFailure(st)) return st;
      if (got == 0) return kNo;
      if (!IsUtf8Continuation(b)) return kYes;
      // A lead byte reaches at most five bytes ahead.
      st = FindBackward(
          s.handler, hit, s.sectionStart, 5, [](Byte c) { return !IsUtf8Continuation(c); }, &from);
      if (IsFailure(st)) return st;
      if (st == kNotFound) return kYes;  // only stray continuation bytes before it
      break;
    }
    default: {
      // Not self-synchronising: decode from the nearest byte that always
      // starts a character, or from the nearest boundary already known.
      const std::uint32_t low = BestMark(s, hit);
      st = FindBackward(s.handler, hit, low, hit - low, IsCertainStart, &from);
      if (IsFailure(st)) return st;
      if (st == kNotFound) from = low;
      break;
    }
  }
  return WalkTo(s, from, hit);
}

// With folding in a UTF-16 or double-byte text the matcher also accepts
// trail bytes and halves of units that only look like ASCII letters; the
// candidate is compared again character by character, folding only
// characters that are ASCII letters.
StatusCode MatchesFolded(TextSearch& s, std::uint32_t hit) {
  const std::uint32_t m = s.patternLength;
  Byte text[kTextSearchMaxPattern];
  std::uint32_t got = 0;
  const StatusCode st = ReadForward(s.handler, hit, text, m, &got);
  if (IsFailure(st)) return st;
  if (got < m) return kNo;
  const Byte* pat = s.rawPattern;
  if (s.charsetClass == CharsetClass::kUtf16) {
    std::uint32_t k = 0;
    for (; k + 1 < m; k += 2) {
      auto unit = [&](const Byte* p) {
        return s.bigEndianUnits ? (p[k] << 8 | p[k + 1]) : (p[k + 1] << 8 | p[k]);
      };
      const int t = unit(text), p = unit(pat);
      if (t == p) continue;
      if (t >= 0x80 || p >= 0x80 ||
          Str_FoldByte(static_cast<Byte>(t)) != Str_FoldByte(static_cast<Byte>(p))) {
        return kNo;
      }
    }
    return (k == m || text[k] == pat[k]) ? kYes : kNo;
  }
  std::uint8_t lengths[kTextSearchMaxPattern];
  std::uint32_t byteLength = m, count = kTextSearchMaxPattern;
  if (IsFailure(Measure(s, 0, text, &byteLength, lengths, &count))) {
    return std::memcmp(text, pat, m) == 0 ? kYes : kNo;
  }
  std::uint32_t k = 0;
  for (std::uint32_t c = 0; c < count && k < m; ++c) {
    const std::uint32_t length = std::max<std::uint32_t>(lengths[c], 1);
    if (length == 1) {
      if (Str_FoldByte(text[k]) != Str_FoldByte(pat[k])) return kNo;
    } else if (std::memcmp(text + k, pat + k, std::min(length, m - k)) != 0) {
      return kNo;
    }
    k += length;
  }
  return kYes;
}

StatusCode AcceptHit(TextSearch& s, std::uint32_t hit) {
  if ((s.flags & TextSearchFlag::MultiByte) == 0) return kYes;
  const StatusCode st = StartsOnBoundary(s, hit);
  if (st != kYes) return st;
  if ((s.flags & TextSearchFlag::CaseSensitive) == 0 && s.charsetClass != CharsetClass::kUtf8) {
    return MatchesFolded(s, hit);
  }
  return kYes;
}

void WriteProgress(const TextSearch& s, std::uint32_t position, std::int16_t* percent,
                   std::uint32_t* positionOut) {
  if (percent != nullptr) {
    std::uint32_t p = 100;
    if (s.total > 42949671u) {
      p = s.done / (s.total / 100);
    } else if (s.total != 0) {
      p = s.done * 100 / s.total;
    }
    *percent = static_cast<std::int16_t>(std::min<std::uint32_t>(p, 100));
  }
  if (positionOut != nullptr) *positionOut = position;
}

// Range of the search: one section, or all of them.
StatusCode FindRange(EngineObject* handler, std::uint16_t flags, std::uint32_t section,
                     std::uint32_t* start, std::uint32_t* end) {
  const DocHandlerOps& ops = DocOpsOf(handler);
  *start = *end = 0;
  std::uint32_t wanted = section;
  if ((flags & TextSearchFlag::WholeDocument) != 0) {
    std::uint16_t count = 0;
    const StatusCode st = ops.getSectionInfo(handler, nullptr, &count);
    if (IsFailure(st)) return st;
    if (st != kOk || count == 0) return kOk;
    wanted = count - 1u;
  }
  if (wanted > 0x7FFF) return kOk;  // no such section
  std::uint32_t a = 0, b = 0;
  const StatusCode st = ops.getSectionRange(handler, static_cast<std::int16_t>(wanted), &a, &b);
  if (IsFailure(st)) return st;
  if (st != kOk) return kOk;  // kNoMore: no such section
  if ((flags & TextSearchFlag::WholeDocument) != 0) a = 0;
  *start = a;
  *end = std::max(a, b);
  return kOk;
}

void ReadCharset(TextSearch& s) {
  const DocHandlerOps& ops = DocOpsOf(s.handler);
  std::uint16_t mib = 0;
  if (IsFailure(ops.control(s.handler, DocControl::GetCharset, 0, &mib)) || mib == 0) {
    mib = kDefaultDocCharset;
  }
  s.charset = mib;
  EngineObject* conv = TextConv();
  std::uint32_t cls = 0, canonical = 0;
  if (conv != nullptr &&
      OpsOf<TextConvOps>(conv).canonicalCharset(conv, mib, &cls, &canonical) == kOk) {
    s.charsetClass = cls;
    if ((cls & CharsetClass::kMultiByteBit) != 0) s.flags |= TextSearchFlag::MultiByte;
  }
  if (cls == CharsetClass::kUtf16) {
    s.bigEndianUnits = mib == 1013;
    if (mib == 1015) {  // 1015 follows its byte-order mark, little-endian without one
      Byte bom[2] = {};
      std::uint32_t got = 0;
      if (ReadForward(s.handler, 0, bom, 2, &got) == kOk && got == 2 && bom[0] == 0xFE &&
          bom[1] == 0xFF) {
        s.bigEndianUnits = true;
      }
    }
  }
}

}  // namespace

StatusCode TextSearch_Start(EngineObject*, const void* pattern, std::uint32_t patternLength,
                            std::uint16_t flags, EngineObject* handler, std::uint32_t section,
                            std::uint32_t position, TextSearch** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (pattern == nullptr || handler == nullptr || patternLength == 0) return kBadArgument;
  flags &= TextSearchFlag::CallerMask;
  std::uint32_t rangeStart = 0, rangeEnd = 0;
  const StatusCode st = FindRange(handler, flags, section, &rangeStart, &rangeEnd);
  if (IsFailure(st)) return st;

  TextSearch* s = nullptr;
  if (Engine_AllocArray(1, &s) != kOk) return kOutOfMemory;
  new (s) TextSearch{};
  s->flags = flags;
  s->handler = handler;
  s->rangeStart = rangeStart;
  s->rangeEnd = rangeEnd;

  const std::uint32_t m = std::min(patternLength, kTextSearchMaxPattern);
  const bool fold = (flags & TextSearchFlag::CaseSensitive) == 0;
  const bool backward = (flags & TextSearchFlag::Backward) != 0;
  s->patternLength = m;
  std::memcpy(s->rawPattern, pattern, m);
  for (std::uint32_t k = 0; k < m; ++k) {
    const Byte b = s->rawPattern[backward ? m - 1 - k : k];
    s->pattern[k] = fold ? Str_FoldByte(b) : b;
  }
  s->pattern[m] = 0;
  s->links[0] = -1;
  for (std::int32_t k = 0, i = -1; k < static_cast<std::int32_t>(m); ++k) {
    while (i >= 0 && s->pattern[i] != s->pattern[k])
      i = s->links[i];
    s->links[k + 1] = static_cast<std::int8_t>(++i);
  }

  ReadCharset(*s);

  position = std::clamp(position, rangeStart, rangeEnd);
  if (backward) {
    s->legPosition[0] = position;
    s->legEnd[0] = rangeStart;
  } else {
    const bool fromRangeStart =
        (flags & TextSearchFlag::WholeRange) != 0 && (flags & TextSearchFlag::FromPosition) == 0;
    s->legPosition[0] = fromRangeStart ? rangeStart : position;
    s->legEnd[0] = rangeEnd;
  }
  s->total = s->legPosition[0] > s->legEnd[0] ? s->legPosition[0] - s->legEnd[0]
                                              : s->legEnd[0] - s->legPosition[0];
  *out = s;
  return kOk;
}

StatusCode TextSearch_Step(EngineObject*, TextSearch* search, std::int16_t* percent,
                           std::uint32_t* position) noexcept {
  if (search == nullptr) return kTextSearchDone;
  TextSearch& s = *search;
  if (s.leg >= 2) return kTextSearchDone;
  const DocHandlerOps& ops = DocOpsOf(s.handler);
  const std::uint32_t m = s.patternLength;
  std::uint32_t pos = s.legPosition[s.leg];
  const std::uint32_t end = s.legEnd[s.leg];
  const bool backward = pos > end;
  std::uint32_t budget = std::min(backward ? pos - end : end - pos, kTextSearchStepBytes);

  // pos and the match state are committed after each window, so a failure
  // leaves the search where the last whole window left it.
  while (budget > 0) {
    const Byte* text = nullptr;
    std::uint32_t length = budget;
    const StatusCode got = backward ? ops.getTextBefore(s.handler, pos, &text, &length)
                                    : ops.getText(s.handler, pos, &text, &length);
    if (IsFailure(got)) return got;
    if (text == nullptr || length == 0) {
      // The text ends inside the range: nothing more to examine in this leg.
      s.done += backward ? pos - end : end - pos;
      pos = end;
      break;
    }
    length = std::min(length, budget);
    std::int32_t state = s.matchState;
    const ScanResult r = Scan(s, backward, text, length, state);
    const std::uint32_t next = backward ? pos - r.consumed : pos + r.consumed;
    if (r.matched) {
      const std::uint32_t hit = backward ? next : next - m;
      const StatusCode accept = AcceptHit(s, hit);
      if (IsFailure(accept)) return accept;
      if (accept == kYes) {
        s.done += r.consumed;
        s.hitStart = hit;
        s.hitEnd = hit + m;
        s.legPosition[s.leg] = next;
        s.matchState = 0;
        s.leg = 2;
        WriteProgress(s, next, percent, position);
        return kTextSearchDone;
      }
      // Rejected: go on as after any match, so overlapping candidates are
      // still seen (the window is fetched again: checking read other text).
      state = s.links[m];
    }
    s.matchState = state;
    s.done += r.consumed;
    budget -= r.consumed;
    pos = next;
    s.legPosition[s.leg] = pos;
  }
  s.done = std::min(s.done, s.total);
  WriteProgress(s, pos, percent, position);
  if (pos == end) {
    s.legPosition[s.leg] = pos;
    s.matchState = 0;
    ++s.leg;
  } else {
    s.legPosition[s.leg] = pos;
  }
  return s.leg < 2 ? kOk : kTextSearchDone;
}

StatusCode TextSearch_Finish(EngineObject*, TextSearch* search, std::uint32_t* hitStart,
                             std::uint32_t* hitEnd) noexcept {
  if (search == nullptr) return kNotFound;
  const bool found = search->hitEnd != search->hitStart;
  const std::uint32_t start = search->hitStart, end = search->hitEnd;
  EngineObject* allocator = g_AllocatorModule;
  if (allocator != nullptr) {
    const StatusCode st = OpsOf<AllocatorOps>(allocator).free(allocator, search);
    if (IsFailure(st)) return st;
  } else {
    Engine_Free(search);
  }
  if (!found) return kNotFound;
  if (hitStart != nullptr) *hitStart = start;
  if (hitEnd != nullptr) *hitEnd = end;
  return kOk;
}

namespace {
constexpr TextSearchOps kTextSearchOps = {
    Core_NotImplemented, Core_QuerySelf,  CoreStub<decltype(TextSearchOps::destroy)>::NoOp,
    TextSearch_Start,    TextSearch_Step, TextSearch_Finish,
    Core_NotImplemented,
};
}  // namespace

EngineObject TextSearchModule = {nullptr, &kTextSearchOps};
