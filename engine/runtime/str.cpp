#include "engine/runtime/str.h"

#include <cstring>
#include <span>
#include <type_traits>

#include "engine/runtime/allocator.h"

namespace {

using Bytes = std::span<const unsigned char>;

Bytes AsBytes(const void* p, std::uint32_t n) {
  return n ? Bytes(static_cast<const unsigned char*>(p), n) : Bytes();
}

bool Is(unsigned char c, std::uint16_t mask) {
  return (kCharClassTable[c] & mask) != 0;
}

// Three-way answer of a compare over the common part, then the lengths.
StatusCode CompareFolded(Bytes a, Bytes b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = Str_FoldByte(a[i]);
    const unsigned char y = Str_FoldByte(b[i]);
    if (x != y) return x < y ? kCompareLess : kCompareGreater;
  }
  if (a.size() == b.size()) return kCompareEqual;
  return a.size() < b.size() ? kCompareLess : kCompareGreater;
}

Bytes CountedBytes(const std::uint8_t* s) {
  return Bytes(s + 1, s[0]);
}

// Binary search over [0, count): compareKeyWith(i) answers how the key
// compares with item i, or a failure that stops the search.
template <class CompareKeyWith>
StatusCode BinarySearch(std::uint32_t count, std::uint32_t* index, CompareKeyWith compareKeyWith) {
  if (index == nullptr) return kNullOutPointer;
  if (count == 0) return kNotFound;
  std::uint32_t lo = 0;
  std::uint32_t hi = count - 1;
  while (lo <= hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const StatusCode c = compareKeyWith(mid);
    if (IsFailure(c)) return c;
    if (c == kCompareEqual) {
      *index = mid;
      return kOk;
    }
    if (c == kCompareLess) {
      if (mid == 0) break;  // hi would wrap below the first item
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  return kNotFound;
}

// --- numbers -------------------------------------------------------------

int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Skips white space, then reads the digits of the base. Only digits after
// leading zeros count towards the size limit, so a zero-padded value that
// fits is not too large.
StatusCode ParseNumber(const char* text, std::uint32_t length, std::uint32_t* value,
                       std::uint16_t digitClass, std::uint32_t base) {
  if (value == nullptr) return kNullOutPointer;
  if (text == nullptr && length != 0) return kBadArgument;
  const Bytes in = AsBytes(text, length);
  std::size_t i = 0;
  while (i < in.size() && Is(in[i], kCharSpace))
    ++i;
  std::uint64_t acc = 0;
  bool tooLarge = false;
  for (; i < in.size() && Is(in[i], digitClass); ++i) {
    acc = acc * base + static_cast<std::uint32_t>(DigitValue(in[i]));
    if (acc > 0xFFFFFFFFu) {
      tooLarge = true;
      break;
    }
  }
  if (tooLarge) {
    *value = 0xFFFFFFFFu;  // callers may rely on the saturated value
    return kStrNumberTooLarge;
  }
  *value = static_cast<std::uint32_t>(acc);
  return kOk;
}

std::uint32_t DecimalDigitCount(std::uint32_t v) {
  std::uint32_t n = 1;
  for (std::uint64_t limit = 10; n < kStrMaxDecimalDigits && v >= limit; limit *= 10)
    ++n;
  return n;
}

std::uint32_t HexDigitCount(std::uint32_t v) {
  std::uint32_t n = 1;
  while (n < kStrMaxHexDigits && (v >> (4 * n)) != 0)
    ++n;
  return n;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Writes the digits of v in the base, right-aligned in `width` characters
// padded with '0'.
void WriteDigits(std::uint32_t v, std::uint32_t base, std::uint32_t width, char* out) {
  for (std::uint32_t i = width; i > 0; --i) {
    out[i - 1] = kHexDigits[v % base];
    v /= base;
  }
}

StatusCode FormatPadded(std::uint32_t value, std::uint32_t minimumWidth, char* destination,
                        std::uint32_t* count, std::uint32_t base, std::uint32_t digits) {
  if (count == nullptr) return kNullOutPointer;
  if (destination == nullptr) return kBadArgument;
  const std::uint32_t width = minimumWidth > digits ? minimumWidth : digits;
  WriteDigits(value, base, width, destination);
  *count = width;
  return kOk;
}

// --- cursors ---------------------------------------------------------------

// A (data, left) window of a cursor, advanced in place.
struct Window {
  const char*& data;
  std::uint32_t& left;

  unsigned char At(std::uint32_t i) const { return static_cast<unsigned char>(data[i]); }
  void Advance(std::uint32_t n) {
    data += n;
    left -= n;
  }
  void Empty() { Advance(left); }
  // Index of the first byte for which stop() holds, or left.
  template <class Stop>
  std::uint32_t IndexOf(Stop stop) const {
    std::uint32_t i = 0;
    while (i < left && !stop(At(i)))
      ++i;
    return i;
  }
};

bool BadWindow(const char* data, std::uint32_t left) {
  return data == nullptr && left != 0;
}

// Skips non-token bytes, then takes the run of token bytes, all within the
// first `limit` bytes. The window stops after the token (or at the limit).
void TakeToken(Window w, std::uint32_t limit, const char** start, std::uint32_t* length) {
  std::uint32_t i = 0;
  while (i < limit && !Is(w.At(i), kCharToken))
    ++i;
  const std::uint32_t first = i;
  while (i < limit && Is(w.At(i), kCharToken))
    ++i;
  *start = w.data + first;
  *length = i - first;
  w.Advance(i);
}

StatusCode TakeQuoted(Window w, const char** start, std::uint32_t* length) {
  std::uint32_t i = (w.left != 0 && w.At(0) == '"') ? 1 : 0;
  while (i < w.left) {
    const unsigned char c = w.At(i);
    if (c == '\\') {
      if (w.left - i < 2) break;  // the escaped byte is missing
      i += 2;
      continue;
    }
    ++i;
    if (c == '"') {
      *start = w.data;
      *length = i;
      w.Advance(i);
      return kOk;
    }
  }
  w.Empty();
  *start = w.data;
  *length = 0;
  return kStrQuoteNotTerminated;
}

StatusCode ScanNumberToken(TextCursor* cursor, std::uint32_t* value, std::uint16_t digitClass,
                           std::uint32_t base) {
  if (cursor == nullptr) return kNullOutPointer;
  if (BadWindow(cursor->data, cursor->left)) return kBadArgument;
  Window w{cursor->data, cursor->left};
  w.Advance(w.IndexOf([](unsigned char c) { return !Is(c, kCharSpace); }));
  const std::uint32_t n = w.IndexOf([&](unsigned char c) { return !Is(c, digitClass); });
  std::uint32_t v = 0;
  for (std::uint32_t i = 0; i < n; ++i)
    v = v * base + static_cast<std::uint32_t>(DigitValue(w.At(i)));
  cursor->tokenStart = w.data;
  cursor->tokenLength = n;
  w.Advance(n);
  if (value != nullptr) *value = v;
  return kOk;
}

void ClearNameValue(ParamCursor* p) {
  p->nameStart = p->data;
  p->nameLength = 0;
  p->valueStart = p->data;
  p->valueLength = 0;
}

bool IsListSeparator(unsigned char c, bool commaSeparates) {
  return c == ';' || (commaSeparates && c == ',');
}

// Reads what follows a name: nothing, or '=' and a value. The search for the
// '=' stops at the next separator, so a parameter without a value never takes
// the value of a later one.
StatusCode ReadValue(ParamCursor* p, bool commaSeparates, bool trimmedValue) {
  Window w{p->data, p->left};
  const std::uint32_t i =
      w.IndexOf([&](unsigned char c) { return c == '=' || IsListSeparator(c, commaSeparates); });
  if (i == w.left || w.At(i) != '=') {
    w.Advance(i);  // on the separator, or emptied
    p->valueStart = w.data;
    p->valueLength = 0;
    return kOk;
  }
  w.Advance(i + 1);
  w.Advance(w.IndexOf([](unsigned char c) { return !Is(c, kCharSpace); }));
  if (w.left != 0 && w.At(0) == '"') {
    const StatusCode s = TakeQuoted(w, &p->valueStart, &p->valueLength);
    if (IsFailure(s)) ClearNameValue(p);
    return s;
  }
  const std::uint32_t end =
      w.IndexOf([&](unsigned char c) { return IsListSeparator(c, commaSeparates); });
  if (!trimmedValue) {
    TakeToken(w, end, &p->valueStart, &p->valueLength);
    return kOk;
  }
  std::uint32_t last = end;
  while (last > 0 && Is(w.At(last - 1), kCharSpace))
    --last;
  p->valueStart = w.data;
  p->valueLength = last;
  w.Advance(end);
  return kOk;
}

StatusCode NextAttributeImpl(ParamCursor* p, bool commaSeparates, bool trimmedValue) {
  if (p == nullptr) return kNullOutPointer;
  if (BadWindow(p->data, p->left)) return kBadArgument;
  Window w{p->data, p->left};
  const char* name = nullptr;
  std::uint32_t nameLength = 0;
  TakeToken(w, w.left, &name, &nameLength);
  if (nameLength == 0) {
    w.Empty();
    ClearNameValue(p);
    return kNoMore;
  }
  p->nameStart = name;
  p->nameLength = nameLength;
  return ReadValue(p, commaSeparates, trimmedValue);
}

// --- search ----------------------------------------------------------------

struct Exact {
  unsigned char operator()(unsigned char c) const { return c; }
};
struct Folded {
  unsigned char operator()(unsigned char c) const { return Str_FoldByte(c); }
};

constexpr std::uint32_t kMaxTablePattern = 99;

template <class Fold>
bool MatchesAt(Bytes text, std::size_t at, Bytes pattern, Fold fold) {
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    if (fold(text[at + k]) != fold(pattern[k])) return false;
  }
  return true;
}

// Direct scans, trying every start position (forwards or backwards).
template <class Fold>
bool ScanForward(Bytes text, Bytes pattern, Fold fold, std::uint32_t* offset) {
  const std::size_t last = text.size() - pattern.size();
  for (std::size_t at = 0; at <= last; ++at) {
    if (MatchesAt(text, at, pattern, fold)) {
      *offset = static_cast<std::uint32_t>(at);
      return true;
    }
  }
  return false;
}

bool ScanForwardExact(Bytes text, Bytes pattern, std::uint32_t* offset) {
  const unsigned char* const base = text.data();
  const unsigned char* at = base;
  const unsigned char* const last = base + (text.size() - pattern.size());
  while (at <= last) {
    at = static_cast<const unsigned char*>(std::memchr(at, pattern[0], last - at + 1));
    if (at == nullptr) return false;
    if (std::memcmp(at, pattern.data(), pattern.size()) == 0) {
      *offset = static_cast<std::uint32_t>(at - base);
      return true;
    }
    ++at;
  }
  return false;
}

template <class Fold>
bool ScanBackward(Bytes text, Bytes pattern, Fold fold, std::uint32_t* offset) {
  for (std::size_t at = text.size() - pattern.size() + 1; at-- > 0;) {
    if (MatchesAt(text, at, pattern, fold)) {
      *offset = static_cast<std::uint32_t>(at);
      return true;
    }
  }
  return false;
}

// Knuth-Morris-Pratt over a pattern of 1-99 bytes already folded into `p`.
// Backwards, the pattern is read from its end and the text from its end, so
// the first full match is the last occurrence.
template <bool kBackward, class Fold>
bool KmpSearch(Bytes text, const unsigned char* p, std::uint32_t n, Fold fold,
               std::uint32_t* offset) {
  auto pat = [&](std::uint32_t k) { return kBackward ? p[n - 1 - k] : p[k]; };
  std::array<std::uint8_t, kMaxTablePattern + 1> failure{};
  for (std::uint32_t k = 1, len = 0; k < n;) {
    if (pat(k) == pat(len)) {
      failure[k++] = static_cast<std::uint8_t>(++len);
    } else if (len != 0) {
      len = failure[len - 1];
    } else {
      failure[k++] = 0;
    }
  }
  const std::size_t size = text.size();
  std::uint32_t j = 0;
  for (std::size_t step = 0; step < size; ++step) {
    const std::size_t i = kBackward ? size - 1 - step : step;
    const unsigned char c = fold(text[i]);
    while (j != 0 && c != pat(j))
      j = failure[j - 1];
    if (c == pat(j)) ++j;
    if (j == n) {
      *offset = static_cast<std::uint32_t>(kBackward ? i : i + 1 - n);
      return true;
    }
  }
  return false;
}

enum class Direction { kFirst, kLast };

template <class Fold>
StatusCode Search(const void* textPtr, std::uint32_t textLength, const void* patternPtr,
                  std::uint32_t patternLength, std::uint32_t* offset, Direction direction,
                  Fold fold) {
  if (offset == nullptr) return kNullOutPointer;
  if (BadWindow(static_cast<const char*>(textPtr), textLength) ||
      BadWindow(static_cast<const char*>(patternPtr), patternLength)) {
    return kBadArgument;
  }
  const Bytes text = AsBytes(textPtr, textLength);
  const Bytes pattern = AsBytes(patternPtr, patternLength);
  if (textLength < patternLength) return kNotFound;
  if (patternLength == 0) {
    *offset = direction == Direction::kFirst ? 0 : textLength;
    return kOk;
  }
  std::uint32_t at = 0;
  bool found;
  if (patternLength > kMaxTablePattern || 2 * std::uint64_t{patternLength} >= textLength) {
    if (direction == Direction::kLast) {
      found = ScanBackward(text, pattern, fold, &at);
    } else if constexpr (std::is_same_v<Fold, Exact>) {
      found = ScanForwardExact(text, pattern, &at);
    } else {
      found = ScanForward(text, pattern, fold, &at);
    }
  } else {
    std::array<unsigned char, kMaxTablePattern> folded;
    for (std::uint32_t k = 0; k < patternLength; ++k)
      folded[k] = fold(pattern[k]);
    found = direction == Direction::kFirst
                ? KmpSearch<false>(text, folded.data(), patternLength, fold, &at)
                : KmpSearch<true>(text, folded.data(), patternLength, fold, &at);
  }
  if (!found) return kNotFound;
  *offset = at;
  return kOk;
}

}  // namespace

// --- strings -----------------------------------------------------------------

StatusCode Str_Length(EngineObject*, const char* s, std::uint32_t* length) noexcept {
  if (length == nullptr) return kNullOutPointer;
  if (s == nullptr) return kBadArgument;
  const std::size_t n = std::strlen(s);
  if (n > 0xFFFFFFFFu) return kIndexOutOfRange;
  *length = static_cast<std::uint32_t>(n);
  return kOk;
}

StatusCode Str_Copy(EngineObject*, char* destination, std::uint32_t capacity,
                    const char* source) noexcept {
  if (destination == nullptr || source == nullptr) return kBadArgument;
  const std::size_t n = strnlen(source, capacity);
  if (n == capacity) return kIndexOutOfRange;  // no room for the terminator
  std::memmove(destination, source, n + 1);
  return kOk;
}

StatusCode Str_Compare(EngineObject*, const char* a, const char* b) noexcept {
  if (a == nullptr || b == nullptr) return kBadArgument;
  const int c = std::strcmp(a, b);  // compares as unsigned char
  if (c == 0) return kCompareEqual;
  return c < 0 ? kCompareLess : kCompareGreater;
}

StatusCode Str_ToCounted(EngineObject*, std::uint8_t* destination, const char* source) noexcept {
  if (destination == nullptr || source == nullptr) return kBadArgument;
  const std::size_t n = strnlen(source, kStrCountedCapacity);
  const std::size_t kept = n > 255 ? 255 : n;
  std::memmove(destination + 1, source, kept);
  destination[0] = static_cast<std::uint8_t>(kept);
  return n > 255 ? kStrCountedTruncated : kOk;
}

StatusCode Str_WideLength(EngineObject*, const char16_t* s, std::uint32_t* length) noexcept {
  if (length == nullptr) return kNullOutPointer;
  if (s == nullptr) return kBadArgument;
  std::uint32_t n = 0;
  while (s[n] != 0) {
    if (n == 0xFFFFFFFFu) return kIndexOutOfRange;
    ++n;
  }
  *length = n;
  return kOk;
}

StatusCode Str_WideCopy(EngineObject*, char16_t* destination, std::uint32_t capacity,
                        const char16_t* source) noexcept {
  if (destination == nullptr || source == nullptr) return kBadArgument;
  std::uint32_t n = 0;
  while (n < capacity && source[n] != 0)
    ++n;
  if (n == capacity) return kIndexOutOfRange;  // no room for the terminator
  std::memmove(destination, source, (std::size_t{n} + 1) * sizeof(char16_t));
  return kOk;
}

StatusCode Str_CompareCountedNoCase(EngineObject*, const std::uint8_t* a,
                                    const std::uint8_t* b) noexcept {
  if (a == nullptr || b == nullptr) return kBadArgument;
  return CompareFolded(CountedBytes(a), CountedBytes(b));
}

StatusCode Str_CompareNoCase(EngineObject*, const char* a, std::uint32_t aLength, const char* b,
                             std::uint32_t bLength) noexcept {
  if (BadWindow(a, aLength) || BadWindow(b, bLength)) return kBadArgument;
  return CompareFolded(AsBytes(a, aLength), AsBytes(b, bLength));
}

StatusCode Str_Widen(EngineObject*, const char* source, std::uint32_t n,
                     char16_t* destination) noexcept {
  if (destination == nullptr || BadWindow(source, n)) return kBadArgument;
  const Bytes in = AsBytes(source, n);
  for (std::uint32_t i = 0; i < n; ++i)
    destination[i] = in[i];
  destination[n] = 0;
  return kOk;
}

// --- binary search ---------------------------------------------------------

StatusCode Str_BsearchCountedNoCase(EngineObject*, const std::uint8_t* const* array,
                                    std::uint32_t count, const std::uint8_t* key,
                                    std::uint32_t* index) noexcept {
  if (key == nullptr || (array == nullptr && count != 0)) return kBadArgument;
  return BinarySearch(count, index, [&](std::uint32_t i) -> StatusCode {
    if (array[i] == nullptr) return kBadArgument;
    return CompareFolded(CountedBytes(key), CountedBytes(array[i]));
  });
}

StatusCode Str_BsearchNoCase(EngineObject*, const std::uint8_t* const* array, std::uint32_t count,
                             const char* key, std::uint32_t keyLength,
                             std::uint32_t* index) noexcept {
  if (BadWindow(key, keyLength) || (array == nullptr && count != 0)) return kBadArgument;
  return BinarySearch(count, index, [&](std::uint32_t i) -> StatusCode {
    if (array[i] == nullptr) return kBadArgument;
    return CompareFolded(AsBytes(key, keyLength), CountedBytes(array[i]));
  });
}

StatusCode Str_BsearchCounted(EngineObject*, const std::uint8_t* const* array, std::uint32_t count,
                              const std::uint8_t* key, std::uint32_t* index) noexcept {
  if (key == nullptr || (array == nullptr && count != 0)) return kBadArgument;
  return BinarySearch(count, index, [&](std::uint32_t i) -> StatusCode {
    if (array[i] == nullptr) return kBadArgument;
    return Mem_Compare(nullptr, key + 1, key[0], array[i] + 1, array[i][0]);
  });
}

StatusCode Str_Bsearch(EngineObject*, const std::uint8_t* const* array, std::uint32_t count,
                       const char* key, std::uint32_t keyLength, std::uint32_t* index) noexcept {
  if (BadWindow(key, keyLength) || (array == nullptr && count != 0)) return kBadArgument;
  return BinarySearch(count, index, [&](std::uint32_t i) -> StatusCode {
    if (array[i] == nullptr) return kBadArgument;
    return Mem_Compare(nullptr, key, keyLength, array[i] + 1, array[i][0]);
  });
}

// --- numbers -----------------------------------------------------------------

StatusCode Str_ParseDecimal(EngineObject*, const char* text, std::uint32_t length,
                            std::uint32_t* value) noexcept {
  return ParseNumber(text, length, value, kCharDigit, 10);
}

StatusCode Str_ParseHex(EngineObject*, const char* text, std::uint32_t length,
                        std::uint32_t* value) noexcept {
  return ParseNumber(text, length, value, kCharHex, 16);
}

StatusCode Str_FormatDecimal(EngineObject*, std::uint32_t value, char* destination,
                             std::uint32_t* count) noexcept {
  return FormatPadded(value, 0, destination, count, 10, DecimalDigitCount(value));
}

StatusCode Str_FormatHex(EngineObject*, std::uint32_t value, std::uint32_t minimumWidth,
                         char* destination, std::uint32_t* count) noexcept {
  return FormatPadded(value, minimumWidth, destination, count, 16, HexDigitCount(value));
}

StatusCode Str_FormatDecimalPadded(EngineObject*, std::uint32_t value, std::uint32_t minimumWidth,
                                   char* destination, std::uint32_t* count) noexcept {
  return FormatPadded(value, minimumWidth, destination, count, 10, DecimalDigitCount(value));
}

StatusCode Str_FormatLetterNumber(EngineObject*, std::uint32_t n, std::uint32_t upper,
                                  char* destination, std::uint32_t* count) noexcept {
  if (count == nullptr) return kNullOutPointer;
  if (destination == nullptr) return kBadArgument;
  // n - 1 in bijective base 26: strip the counts of shorter numbers to find
  // the digit count, then write the rest as plain base 26 with 'A' as 0.
  std::uint64_t v = n == 0 ? 0 : n - 1;
  std::uint32_t digits = 1;
  for (std::uint64_t power = 26; v >= power; power *= 26) {
    v -= power;
    ++digits;
  }
  const char a = upper ? 'A' : 'a';
  for (std::uint32_t i = digits; i > 0; --i) {
    destination[i - 1] = static_cast<char>(a + v % 26);
    v /= 26;
  }
  *count = digits;
  return kOk;
}

StatusCode Str_FormatRomanNumber(EngineObject*, std::uint32_t n, std::uint32_t upper,
                                 char* destination, std::uint32_t* count) noexcept {
  if (count == nullptr) return kNullOutPointer;
  if (destination == nullptr) return kBadArgument;
  if (n == 0) {
    destination[0] = '0';
    *count = 1;
    return kOk;
  }
  const char* const letters = upper ? "IVXLCDM" : "ivxlcdm";
  if (n >= 4000) {
    std::memset(destination, letters[6], 4);
    *count = 4;
    return kOk;
  }
  // Each decimal digit is written with its place's one, five and ten letters;
  // a pattern entry is 0 for one, 1 for five, 2 for ten.
  static constexpr const char* kPatterns[10] = {"",  "0",  "00",  "000",  "01",
                                                "1", "10", "100", "1000", "02"};
  std::uint32_t length = 0;
  for (std::uint32_t v = n; v != 0; v /= 10)
    length += static_cast<std::uint32_t>(std::strlen(kPatterns[v % 10]));
  std::uint32_t end = length;
  std::uint32_t place = 0;
  for (std::uint32_t v = n; v != 0; v /= 10, place += 2) {
    const char* pattern = kPatterns[v % 10];
    const std::uint32_t k = static_cast<std::uint32_t>(std::strlen(pattern));
    for (std::uint32_t i = 0; i < k; ++i)
      destination[end - k + i] = letters[place + (pattern[i] - '0')];
    end -= k;
  }
  *count = length;
  return kOk;
}

StatusCode Str_IsPlainText(EngineObject*, const void* data, std::uint32_t length,
                           std::uint32_t* flag) noexcept {
  if (flag == nullptr) return kNullOutPointer;
  if (BadWindow(static_cast<const char*>(data), length)) return kBadArgument;
  std::uint32_t plain = 1;
  for (const unsigned char c : AsBytes(data, length)) {
    if (c < 32 && c != '\t' && c != '\n' && c != '\r') {
      plain = 0;
      break;
    }
  }
  *flag = plain;
  return kOk;
}

// --- cursors -----------------------------------------------------------------

StatusCode Str_SkipSpace(EngineObject*, TextCursor* cursor) noexcept {
  if (cursor == nullptr) return kNullOutPointer;
  if (BadWindow(cursor->data, cursor->left)) return kBadArgument;
  Window w{cursor->data, cursor->left};
  const std::uint32_t n = w.IndexOf([](unsigned char c) { return !Is(c, kCharSpace); });
  cursor->tokenStart = w.data;
  cursor->tokenLength = n;
  w.Advance(n);
  return kOk;
}

StatusCode Str_TrimSpace(EngineObject*, TextCursor* cursor) noexcept {
  if (cursor == nullptr) return kNullOutPointer;
  if (BadWindow(cursor->data, cursor->left)) return kBadArgument;
  const Bytes in = AsBytes(cursor->data, cursor->left);
  std::uint32_t first = 0;
  std::uint32_t last = cursor->left;
  while (first < last && Is(in[first], kCharSpace))
    ++first;
  while (last > first && Is(in[last - 1], kCharSpace))
    --last;
  cursor->tokenStart = cursor->data + first;
  cursor->tokenLength = last - first;
  return kOk;
}

StatusCode Str_ScanDecimal(EngineObject*, TextCursor* cursor, std::uint32_t* value) noexcept {
  return ScanNumberToken(cursor, value, kCharDigit, 10);
}

StatusCode Str_ScanHex(EngineObject*, TextCursor* cursor, std::uint32_t* value) noexcept {
  return ScanNumberToken(cursor, value, kCharHex, 16);
}

StatusCode Str_ScanToChar(EngineObject* module, TextCursor* cursor, char byte) noexcept {
  return Str_ScanToAny(module, cursor, &byte, 1);
}

StatusCode Str_ScanToAny(EngineObject*, TextCursor* cursor, const char* set,
                         std::uint32_t setLength) noexcept {
  if (cursor == nullptr) return kNullOutPointer;
  if (BadWindow(cursor->data, cursor->left) || BadWindow(set, setLength)) return kBadArgument;
  Window w{cursor->data, cursor->left};
  const std::uint32_t i = w.IndexOf(
      [&](unsigned char c) { return setLength != 0 && std::memchr(set, c, setLength) != nullptr; });
  cursor->tokenStart = w.data;
  cursor->tokenLength = i;
  const bool found = i < w.left;
  w.Advance(i);
  return found ? kOk : kNotFound;
}

StatusCode Str_ScanToken(EngineObject*, TextCursor* cursor) noexcept {
  if (cursor == nullptr) return kNullOutPointer;
  if (BadWindow(cursor->data, cursor->left)) return kBadArgument;
  Window w{cursor->data, cursor->left};
  TakeToken(w, w.left, &cursor->tokenStart, &cursor->tokenLength);
  return kOk;
}

StatusCode Str_ScanQuoted(EngineObject*, TextCursor* cursor) noexcept {
  if (cursor == nullptr) return kNullOutPointer;
  if (BadWindow(cursor->data, cursor->left)) return kBadArgument;
  return TakeQuoted(Window{cursor->data, cursor->left}, &cursor->tokenStart, &cursor->tokenLength);
}

StatusCode Str_NextParam(EngineObject*, ParamCursor* params) noexcept {
  if (params == nullptr) return kNullOutPointer;
  if (BadWindow(params->data, params->left)) return kBadArgument;
  Window w{params->data, params->left};
  const std::uint32_t i = w.IndexOf([](unsigned char c) { return c == ';' || c == ','; });
  if (i == w.left || w.At(i) == ',') {
    w.Advance(i == w.left ? i : i + 1);
    ClearNameValue(params);
    return kNoMore;
  }
  w.Advance(i + 1);
  // The name lies before the next '=' or separator; nothing there gives an
  // empty name rather than the name of a later parameter.
  const std::uint32_t nameEnd =
      w.IndexOf([](unsigned char c) { return c == '=' || c == ';' || c == ','; });
  TakeToken(w, nameEnd, &params->nameStart, &params->nameLength);
  return ReadValue(params, true, false);
}

StatusCode Str_NextItemWithParams(EngineObject* module, TextCursor* cursor,
                                  ParamCursor* params) noexcept {
  if (cursor == nullptr) return kNullOutPointer;
  if (BadWindow(cursor->data, cursor->left)) return kBadArgument;
  Window w{cursor->data, cursor->left};
  TakeToken(w, w.left, &cursor->tokenStart, &cursor->tokenLength);
  if (cursor->tokenLength == 0) return kNoMore;
  if (params != nullptr) {
    params->data = cursor->data;
    params->left = cursor->left;
    const StatusCode s = Str_NextParam(module, params);
    return IsFailure(s) ? s : kOk;
  }
  ParamCursor rest{cursor->data, cursor->left, nullptr, 0, nullptr, 0};
  StatusCode s = kOk;
  for (int n = 0; n < 4096 && s == kOk; ++n)
    s = Str_NextParam(module, &rest);
  cursor->data = rest.data;
  cursor->left = rest.left;
  return IsFailure(s) ? s : kOk;
}

StatusCode Str_NextAttribute(EngineObject*, ParamCursor* params) noexcept {
  return NextAttributeImpl(params, true, false);
}

StatusCode Str_NextAttributeLoose(EngineObject*, ParamCursor* params,
                                  std::uint32_t commaSeparates) noexcept {
  return NextAttributeImpl(params, commaSeparates != 0, true);
}

// --- search ------------------------------------------------------------------

StatusCode Str_Find(EngineObject*, const void* text, std::uint32_t textLength, const void* pattern,
                    std::uint32_t patternLength, std::uint32_t* offset) noexcept {
  return Search(text, textLength, pattern, patternLength, offset, Direction::kFirst, Exact{});
}

StatusCode Str_FindLast(EngineObject*, const void* text, std::uint32_t textLength,
                        const void* pattern, std::uint32_t patternLength,
                        std::uint32_t* offset) noexcept {
  return Search(text, textLength, pattern, patternLength, offset, Direction::kLast, Exact{});
}

StatusCode Str_FindNoCase(EngineObject*, const void* text, std::uint32_t textLength,
                          const void* pattern, std::uint32_t patternLength,
                          std::uint32_t* offset) noexcept {
  return Search(text, textLength, pattern, patternLength, offset, Direction::kFirst, Folded{});
}

namespace {
constexpr StringOps kStringOps = {
    Core_NotImplemented,
    Str_Length,
    Str_Copy,
    Str_Compare,
    Str_ToCounted,
    Str_WideLength,
    Str_WideCopy,
    Str_CompareCountedNoCase,
    Str_CompareNoCase,
    Str_Widen,
    Str_FormatDecimal,
    Str_BsearchCountedNoCase,
    Str_BsearchNoCase,
    Str_BsearchCounted,
    Str_Bsearch,
    Str_ParseDecimal,
    Str_ParseHex,
    Str_SkipSpace,
    Str_TrimSpace,
    Str_ScanDecimal,
    Str_ScanHex,
    Str_ScanToChar,
    Str_ScanToAny,
    Str_ScanToken,
    Str_ScanQuoted,
    Str_NextParam,
    Str_NextItemWithParams,
    Str_NextAttribute,
    Str_FormatHex,
    Str_FormatDecimalPadded,
    Str_FormatLetterNumber,
    Str_FormatRomanNumber,
    Str_IsPlainText,
    Str_NextAttributeLoose,
    Str_Find,
    Str_FindLast,
    Str_FindNoCase,
    Core_NotImplemented,
};
}  // namespace

EngineObject StringModule = {nullptr, &kStringOps};
