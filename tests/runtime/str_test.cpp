#include "engine/runtime/str.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "tests/support/peer.h"

namespace {

EngineObject* M() {
  return g_StringModule;
}
const StringOps& Ops() {
  return OpsOf<StringOps>(g_StringModule);
}

std::uint32_t Len(std::string_view s) {
  return static_cast<std::uint32_t>(s.size());
}

// A counted string built from text (at most 255 bytes).
std::vector<std::uint8_t> Counted(std::string_view s) {
  std::vector<std::uint8_t> out(1 + s.size());
  out[0] = static_cast<std::uint8_t>(s.size());
  std::memcpy(out.data() + 1, s.data(), s.size());
  return out;
}

TextCursor Cursor(std::string_view s) {
  return {s.data(), Len(s), nullptr, 0};
}
std::string_view Token(const TextCursor& c) {
  return {c.tokenStart, c.tokenLength};
}
std::string_view Rest(const TextCursor& c) {
  return {c.data, c.left};
}

ParamCursor Params(std::string_view s) {
  return {s.data(), Len(s), nullptr, 0, nullptr, 0};
}
std::string_view Name(const ParamCursor& p) {
  return {p.nameStart, p.nameLength};
}
std::string_view Value(const ParamCursor& p) {
  return {p.valueStart, p.valueLength};
}
std::string_view Rest(const ParamCursor& p) {
  return {p.data, p.left};
}

TEST(StringModule, StatusValuesArePartOfTheContract) {
  EXPECT_EQ(static_cast<std::uint32_t>(kStrQuoteNotTerminated), 0x800B0001u);
  EXPECT_EQ(static_cast<std::uint32_t>(kStrNumberTooLarge), 0x800B0002u);
  EXPECT_EQ(static_cast<std::uint32_t>(kStrCountedTruncated), 0x80000000u);
}

// --- character classes ------------------------------------------------------

TEST(CharClass, ValuesByRange) {
  const std::string separators = "\"(),/:;<=>?@[\\]{}";
  const std::string tokenMarks = "!#$%&'*+-.^_`|~";
  EXPECT_EQ(separators.size(), 17u);
  EXPECT_EQ(tokenMarks.size(), 15u);
  for (int c = 0; c < 256; ++c) {
    std::uint16_t expected = 0;
    if (c <= 8 || (c >= 14 && c <= 31) || c == 127) expected = 0x0020;
    if (c >= 10 && c <= 13) expected = 0x0030;
    if (c == 9) expected = 0x0130;
    if (c == ' ') expected = 0x0110;
    if (c < 128 && separators.find(static_cast<char>(c)) != std::string::npos) expected = 0x0140;
    if (c < 128 && tokenMarks.find(static_cast<char>(c)) != std::string::npos) expected = 0x0240;
    if (c >= '0' && c <= '9') expected = 0x020C;
    if (c >= 'A' && c <= 'F') expected = 0x0209;
    if (c >= 'G' && c <= 'Z') expected = 0x0201;
    if (c >= 'a' && c <= 'f') expected = 0x020A;
    if (c >= 'g' && c <= 'z') expected = 0x0202;
    EXPECT_EQ(Str_ClassOf(static_cast<unsigned char>(c)), expected) << "byte " << c;
  }
}

TEST(CharClass, AgreesWithTheCLibraryOnAscii) {
  // The C library's own tables in the "C" locale are an independent oracle.
  for (int c = 0; c < 128; ++c) {
    const std::uint16_t k = Str_ClassOf(static_cast<unsigned char>(c));
    EXPECT_EQ((k & kCharUpper) != 0, std::isupper(c) != 0) << c;
    EXPECT_EQ((k & kCharLower) != 0, std::islower(c) != 0) << c;
    EXPECT_EQ((k & kCharDigit) != 0, std::isdigit(c) != 0) << c;
    EXPECT_EQ((k & kCharHex) != 0, std::isxdigit(c) != 0) << c;
    EXPECT_EQ((k & kCharSpace) != 0, std::isspace(c) != 0) << c;
    EXPECT_EQ((k & kCharControl) != 0, std::iscntrl(c) != 0) << c;
    EXPECT_EQ((k & kCharPunct) != 0, std::ispunct(c) != 0) << c;
    // Every punctuation mark is either a separator or a token mark.
    if (std::ispunct(c)) {
      EXPECT_EQ(((k & kCharSeparator) != 0) + ((k & kCharToken) != 0), 1) << c;
    }
    EXPECT_EQ(Str_FoldByte(static_cast<unsigned char>(c)), std::tolower(c)) << c;
  }
  for (int c = 128; c < 256; ++c) {
    EXPECT_EQ(Str_ClassOf(static_cast<unsigned char>(c)), 0) << c;
    EXPECT_EQ(Str_FoldByte(static_cast<unsigned char>(c)), c) << c;
  }
}

TEST(CharClass, ByteDeleteIsAControlByteYetPlainText) {
  // Both rules are deliberate: the class table calls 127 a control byte,
  // while the plain-text test lets it pass.
  EXPECT_TRUE(Str_ClassOf(127) & kCharControl);
  const char del = 127;
  std::uint32_t flag = 9;
  ASSERT_EQ(Ops().isPlainText(M(), &del, 1, &flag), kOk);
  EXPECT_EQ(flag, 1u);
}

TEST(IsPlainText, EachByteValueAlone) {
  for (int c = 0; c < 256; ++c) {
    const char byte = static_cast<char>(c);
    const std::uint32_t expected = (c < 32 && c != 9 && c != 10 && c != 13) ? 0 : 1;
    std::uint32_t flag = 9;
    ASSERT_EQ(Ops().isPlainText(M(), &byte, 1, &flag), kOk);
    EXPECT_EQ(flag, expected) << "byte " << c;
  }
  std::uint32_t flag = 9;
  ASSERT_EQ(Ops().isPlainText(M(), nullptr, 0, &flag), kOk);
  EXPECT_EQ(flag, 1u);
  const std::string mixed = "line one\r\n\tline two\x80\xff\x0c";  // form feed last
  ASSERT_EQ(Ops().isPlainText(M(), mixed.data(), Len(mixed) - 1, &flag), kOk);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(Ops().isPlainText(M(), mixed.data(), Len(mixed), &flag), kOk);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(Ops().isPlainText(M(), mixed.data(), 1, nullptr), kNullOutPointer);
}

// --- 8-bit, counted and UTF-16 strings ---------------------------------------

TEST(StringBasics, LengthAndCompare) {
  std::uint32_t n = 99;
  ASSERT_EQ(Ops().length(M(), "", &n), kOk);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(Ops().length(M(), "hello", &n), kOk);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(Ops().length(M(), "x", nullptr), kNullOutPointer);
  EXPECT_EQ(Ops().length(M(), nullptr, &n), kBadArgument);

  struct Case {
    const char* a;
    const char* b;
    StatusCode expected;
  };
  const Case cases[] = {
      {"", "", kCompareEqual},        {"abc", "abc", kCompareEqual},  {"ab", "abc", kCompareLess},
      {"abc", "ab", kCompareGreater}, {"\x80", "z", kCompareGreater},  // unsigned bytes
      {"B", "a", kCompareLess},                                        // byte-exact, no folding
  };
  for (const Case& c : cases)
    EXPECT_EQ(Ops().compare(M(), c.a, c.b), c.expected) << c.a;
}

TEST(StringBasics, CopyIsBoundedByTheDestination) {
  char dst[8];
  std::memset(dst, '#', sizeof dst);
  ASSERT_EQ(Ops().copy(M(), dst, 6, "hello"), kOk);  // exactly fits with its terminator
  EXPECT_STREQ(dst, "hello");
  EXPECT_EQ(dst[6], '#');

  std::memset(dst, '#', sizeof dst);
  EXPECT_EQ(Ops().copy(M(), dst, 5, "hello"), kIndexOutOfRange);
  EXPECT_EQ(std::string(dst, 8), std::string(8, '#')) << "nothing written on failure";
  EXPECT_EQ(Ops().copy(M(), dst, 0, ""), kIndexOutOfRange);

  // An unterminated source is read no further than the capacity (the vector
  // holds exactly these bytes, so an over-read shows under AddressSanitizer).
  std::vector<char> unterminated(16, 'x');
  std::vector<char> big(64, '#');
  EXPECT_EQ(Ops().copy(M(), big.data(), 16, unterminated.data()), kIndexOutOfRange);

  // Overlapping copies in both directions.
  char buf[16] = "abcdef";
  ASSERT_EQ(Ops().copy(M(), buf + 2, 14, buf), kOk);
  EXPECT_STREQ(buf, "ababcdef");
  ASSERT_EQ(Ops().copy(M(), buf, 16, buf + 3), kOk);
  EXPECT_STREQ(buf, "bcdef");
}

TEST(StringBasics, ToCountedTruncatesAt255) {
  std::uint8_t counted[kStrCountedCapacity];
  ASSERT_EQ(Ops().toCounted(M(), counted, ""), kOk);
  EXPECT_EQ(counted[0], 0);
  ASSERT_EQ(Ops().toCounted(M(), counted, "name"), kOk);
  EXPECT_EQ(counted[0], 4);
  EXPECT_EQ(std::memcmp(counted + 1, "name", 4), 0);

  const std::string exact(255, 'e');
  ASSERT_EQ(Ops().toCounted(M(), counted, exact.c_str()), kOk);
  EXPECT_EQ(counted[0], 255);

  std::string longer(300, 'a');
  longer[254] = 'Z';
  longer[255] = 'Q';
  EXPECT_EQ(Ops().toCounted(M(), counted, longer.c_str()), kStrCountedTruncated);
  EXPECT_EQ(counted[0], 255);
  EXPECT_EQ(counted[255], 'Z');

  // A 256-byte source without a terminator is not read past its end.
  std::vector<char> unterminated(256, 'u');
  EXPECT_EQ(Ops().toCounted(M(), counted, unterminated.data()), kStrCountedTruncated);
  EXPECT_EQ(counted[0], 255);
}

TEST(StringBasics, WideLengthCopyAndWiden) {
  std::uint32_t n = 0;
  ASSERT_EQ(Ops().wideLength(M(), u"h\u00e9llo", &n), kOk);
  EXPECT_EQ(n, 5u);

  char16_t buf[12] = u"abcdef";
  ASSERT_EQ(Ops().wideCopy(M(), buf + 1, 11, buf), kOk);  // overlapping, forwards
  EXPECT_EQ(std::u16string(buf), u"aabcdef");
  ASSERT_EQ(Ops().wideCopy(M(), buf, 12, buf + 2), kOk);  // overlapping, backwards
  EXPECT_EQ(std::u16string(buf), u"bcdef");

  char16_t small[3] = {u'#', u'#', u'#'};
  EXPECT_EQ(Ops().wideCopy(M(), small, 3, u"abc"), kIndexOutOfRange);
  EXPECT_EQ(small[0], u'#');
  ASSERT_EQ(Ops().wideCopy(M(), small, 3, u"ab"), kOk);
  EXPECT_EQ(std::u16string(small), u"ab");

  const char bytes[] = {'A', '\x80', '\xff', '\0', 'z'};
  char16_t wide[7];
  std::fill(std::begin(wide), std::end(wide), u'#');
  ASSERT_EQ(Ops().widen(M(), bytes, 5, wide), kOk);
  const char16_t expected[] = {u'A', 0x80, 0xFF, 0, u'z', 0, u'#'};
  EXPECT_TRUE(std::equal(std::begin(wide), std::end(wide), std::begin(expected)));
}

TEST(StringBasics, CaseInsensitiveComparesFoldToLowerCase) {
  struct Case {
    std::string_view a;
    std::string_view b;
    StatusCode expected;
  };
  const Case cases[] = {
      {"", "", kCompareEqual},
      {"Content-Type", "content-TYPE", kCompareEqual},
      {"abc", "ABD", kCompareLess},
      {"ab", "ABC", kCompareLess},  // equal common part: the shorter is less
      {"ABC", "ab", kCompareGreater},
      {"_", "A", kCompareLess},  // '_' sorts before 'a', not after 'A'
      {"[", "a", kCompareLess},
      {"\xC4", "\xE4", kCompareLess},  // bytes above 127 are not folded
      {"Z", "\x80", kCompareLess},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ops().compareNoCase(M(), c.a.data(), Len(c.a), c.b.data(), Len(c.b)), c.expected)
        << c.a << " / " << c.b;
    const auto a = Counted(c.a);
    const auto b = Counted(c.b);
    EXPECT_EQ(Ops().compareCountedNoCase(M(), a.data(), b.data()), c.expected)
        << c.a << " / " << c.b;
  }
}

// --- binary search ----------------------------------------------------------

struct SortedTable {
  std::vector<std::vector<std::uint8_t>> items;
  std::vector<const std::uint8_t*> pointers;
  SortedTable(std::vector<std::string> names, bool foldCase) {
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
      const auto ca = Counted(a);
      const auto cb = Counted(b);
      return (foldCase ? Str_CompareCountedNoCase(nullptr, ca.data(), cb.data())
                       : Mem_Compare(nullptr, a.data(), Len(a), b.data(), Len(b))) == kCompareLess;
    });
    for (const auto& n : names)
      items.push_back(Counted(n));
    for (const auto& i : items)
      pointers.push_back(i.data());
  }
};

TEST(BinarySearch, EmptyArraysAndKeysOutsideTheRange) {
  std::uint32_t index = 77;
  const auto key = Counted("m");
  EXPECT_EQ(Ops().bsearchCountedNoCase(M(), nullptr, 0, key.data(), &index), kNotFound);
  EXPECT_EQ(Ops().bsearchNoCase(M(), nullptr, 0, "m", 1, &index), kNotFound);
  EXPECT_EQ(Ops().bsearchCounted(M(), nullptr, 0, key.data(), &index), kNotFound);
  EXPECT_EQ(Ops().bsearch(M(), nullptr, 0, "m", 1, &index), kNotFound);
  EXPECT_EQ(index, 77u);

  // Keys below the first item end at index 0 without stepping below it; the
  // array is heap-allocated to its exact size.
  for (std::uint32_t count : {1u, 2u, 3u, 8u}) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < count; ++i)
      names.push_back(std::string(1, char('c' + i)));
    SortedTable t(names, false);
    const auto low = Counted("a");
    const auto high = Counted("zz");
    EXPECT_EQ(Ops().bsearchCounted(M(), t.pointers.data(), count, low.data(), &index), kNotFound);
    EXPECT_EQ(Ops().bsearchCounted(M(), t.pointers.data(), count, high.data(), &index), kNotFound);
    EXPECT_EQ(Ops().bsearchNoCase(M(), t.pointers.data(), count, "A", 1, &index), kNotFound);
    EXPECT_EQ(index, 77u);
  }
}

TEST(BinarySearch, AgreesWithALinearSearchOnRandomTables) {
  std::mt19937 rng(1106);
  const std::string alphabet = "aAbB_-z09";
  auto randomName = [&] {
    std::string s(rng() % 5, ' ');
    for (char& c : s)
      c = alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 200; ++round) {
    for (bool foldCase : {false, true}) {
      std::vector<std::string> names;
      const int count = static_cast<int>(rng() % 30);
      for (int i = 0; i < count; ++i)
        names.push_back(randomName());
      SortedTable t(names, foldCase);
      // Keep one item per equivalence class so the answer is unique.
      std::vector<const std::uint8_t*> unique;
      for (const std::uint8_t* p : t.pointers) {
        const bool same =
            !unique.empty() && (foldCase ? Str_CompareCountedNoCase(nullptr, unique.back(), p)
                                         : Mem_Compare(nullptr, unique.back() + 1, unique.back()[0],
                                                       p + 1, p[0])) == kCompareEqual;
        if (!same) unique.push_back(p);
      }
      const auto n = static_cast<std::uint32_t>(unique.size());
      for (int k = 0; k < 20; ++k) {
        const std::string key = randomName();
        const auto counted = Counted(key);
        std::uint32_t expected = n;
        for (std::uint32_t i = 0; i < n; ++i) {
          const StatusCode c =
              foldCase ? Str_CompareCountedNoCase(nullptr, counted.data(), unique[i])
                       : Mem_Compare(nullptr, key.data(), Len(key), unique[i] + 1, unique[i][0]);
          if (c == kCompareEqual) expected = i;
        }
        std::uint32_t byCounted = n;
        std::uint32_t byPointer = n;
        const StatusCode sc =
            foldCase ? Ops().bsearchCountedNoCase(M(), unique.data(), n, counted.data(), &byCounted)
                     : Ops().bsearchCounted(M(), unique.data(), n, counted.data(), &byCounted);
        const StatusCode sp =
            foldCase ? Ops().bsearchNoCase(M(), unique.data(), n, key.data(), Len(key), &byPointer)
                     : Ops().bsearch(M(), unique.data(), n, key.data(), Len(key), &byPointer);
        EXPECT_EQ(sc, expected == n ? kNotFound : kOk) << key;
        EXPECT_EQ(sp, sc) << key;
        EXPECT_EQ(byCounted, expected) << key << " fold " << foldCase;
        EXPECT_EQ(byPointer, expected) << key << " fold " << foldCase;
      }
    }
  }
}

// --- numbers -----------------------------------------------------------------

TEST(ParseNumber, DecimalAndHexCases) {
  struct Case {
    bool hex;
    std::string_view text;
    std::uint32_t value;
    StatusCode status;
  };
  const Case cases[] = {
      {false, "  4294967295", 4294967295u, kOk},
      {false, "4294967296", 0xFFFFFFFFu, kStrNumberTooLarge},
      {false, "9999999999", 0xFFFFFFFFu, kStrNumberTooLarge},
      {false, "12345678901", 0xFFFFFFFFu, kStrNumberTooLarge},
      {false, "12ab", 12, kOk},
      {false, "", 0, kOk},
      {false, " \t\r\n\v\f", 0, kOk},
      {false, "abc", 0, kOk},
      {false, "-5", 0, kOk},
      {false, " 1 2", 1, kOk},
      {false, "0000000000042", 42, kOk},  // leading zeros are not size
      {false, "04294967295", 4294967295u, kOk},
      {false, "0", 0, kOk},
      {true, "FFFFFFFF", 0xFFFFFFFFu, kOk},
      {true, "100000000", 0xFFFFFFFFu, kStrNumberTooLarge},
      {true, "  dEaDbEeFx", 0xDEADBEEFu, kOk},
      {true, "000000000001f", 0x1F, kOk},
      {true, "g1", 0, kOk},
      {true, "0x10", 0, kOk},  // "0x" is not a prefix: digits stop at the x
  };
  for (const Case& c : cases) {
    std::uint32_t value = 12345;
    const StatusCode s = c.hex ? Ops().parseHex(M(), c.text.data(), Len(c.text), &value)
                               : Ops().parseDecimal(M(), c.text.data(), Len(c.text), &value);
    EXPECT_EQ(s, c.status) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  // The length bounds the text: the digits beyond it are not read.
  std::uint32_t value = 0;
  ASSERT_EQ(Ops().parseDecimal(M(), "1234", 2, &value), kOk);
  EXPECT_EQ(value, 12u);
  EXPECT_EQ(Ops().parseDecimal(M(), "1", 1, nullptr), kNullOutPointer);
}

TEST(FormatNumber, AgreesWithPrintfWithoutATerminator) {
  std::mt19937 rng(28);
  std::vector<std::uint32_t> values = {
      0, 1, 9, 10, 99, 100, 999999999, 1000000000, 0xFFFFFFF, 0x10000000, 4294967295u};
  for (int i = 0; i < 300; ++i)
    values.push_back(rng() >> (rng() % 32));
  for (std::uint32_t v : values) {
    for (std::uint32_t width : {0u, 1u, 4u, 9u, 12u}) {
      char expected[32];
      char out[32];
      std::uint32_t count = 0;

      std::memset(out, '#', sizeof out);
      std::snprintf(expected, sizeof expected, "%0*X", static_cast<int>(width), v);
      ASSERT_EQ(Ops().formatHex(M(), v, width, out, &count), kOk);
      EXPECT_EQ(std::string(out, count), expected);
      EXPECT_EQ(out[count], '#');

      std::memset(out, '#', sizeof out);
      std::snprintf(expected, sizeof expected, "%0*u", static_cast<int>(width), v);
      ASSERT_EQ(Ops().formatDecimalPadded(M(), v, width, out, &count), kOk);
      EXPECT_EQ(std::string(out, count), expected);
      EXPECT_EQ(out[count], '#');
    }
    char out[16];
    std::memset(out, '#', sizeof out);
    std::uint32_t count = 0;
    ASSERT_EQ(Ops().formatDecimal(M(), v, out, &count), kOk);
    EXPECT_EQ(std::string(out, count), std::to_string(v));
    EXPECT_EQ(out[count], '#');
    std::uint32_t back = 0;
    ASSERT_EQ(Ops().parseDecimal(M(), out, count, &back), kOk);
    EXPECT_EQ(back, v);
  }
  char out[8];
  std::uint32_t count = 0;
  ASSERT_EQ(Ops().formatHex(M(), 255, 4, out, &count), kOk);
  EXPECT_EQ(std::string(out, count), "00FF");
  ASSERT_EQ(Ops().formatHex(M(), 0, 0, out, &count), kOk);
  EXPECT_EQ(std::string(out, count), "0");
}

std::string Letters(std::uint32_t n, bool upper) {
  char out[kStrMaxLetterNumber + 1];
  std::uint32_t count = 0;
  EXPECT_EQ(Ops().formatLetterNumber(M(), n, upper, out, &count), kOk);
  EXPECT_LE(count, kStrMaxLetterNumber);
  return std::string(out, count);
}

std::string Roman(std::uint32_t n, bool upper) {
  char out[kStrMaxRomanNumber + 1];
  std::uint32_t count = 0;
  EXPECT_EQ(Ops().formatRomanNumber(M(), n, upper, out, &count), kOk);
  EXPECT_LE(count, kStrMaxRomanNumber);
  return std::string(out, count);
}

TEST(ListNumbers, LettersAreBijectiveBaseTwentySix) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "A"},
      {1, "A"},
      {26, "Z"},
      {27, "AA"},
      {52, "AZ"},
      {53, "BA"},
      {702, "ZZ"},
      {703, "AAA"},
      {18278, "ZZZ"},
      {18279, "AAAA"},
      {0xFFFFFFFFu, "MWLQKWU"},
  };
  for (const auto& [n, text] : cases)
    EXPECT_EQ(Letters(n, true), text) << n;
  EXPECT_EQ(Letters(28, false), "ab");
  // The usual column-name construction, as an independent reference.
  for (std::uint32_t n = 1; n <= 20000; ++n) {
    std::string expected;
    for (std::uint32_t v = n; v != 0; v = (v - 1) / 26) {
      expected.insert(expected.begin(), static_cast<char>('A' + (v - 1) % 26));
    }
    ASSERT_EQ(Letters(n, true), expected) << n;
  }
}

TEST(ListNumbers, RomanNumeralsInSubtractiveForm) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "0"},
      {1, "I"},
      {4, "IV"},
      {9, "IX"},
      {14, "XIV"},
      {40, "XL"},
      {90, "XC"},
      {400, "CD"},
      {900, "CM"},
      {1994, "MCMXCIV"},
      {3888, "MMMDCCCLXXXVIII"},
      {3999, "MMMCMXCIX"},
      {4000, "MMMM"},
      {123456, "MMMM"},
      {0xFFFFFFFFu, "MMMM"},
  };
  for (const auto& [n, text] : cases)
    EXPECT_EQ(Roman(n, true), text) << n;
  EXPECT_EQ(Roman(1994, false), "mcmxciv");
  // Greedy subtraction over the value table, as an independent reference.
  const std::pair<std::uint32_t, const char*> table[] = {
      {1000, "M"}, {900, "CM"}, {500, "D"}, {400, "CD"}, {100, "C"}, {90, "XC"}, {50, "L"},
      {40, "XL"},  {10, "X"},   {9, "IX"},  {5, "V"},    {4, "IV"},  {1, "I"}};
  for (std::uint32_t n = 1; n < 4000; ++n) {
    std::string expected;
    std::uint32_t v = n;
    for (const auto& [value, text] : table) {
      for (; v >= value; v -= value)
        expected += text;
    }
    ASSERT_EQ(Roman(n, true), expected) << n;
  }
}

// --- cursors -----------------------------------------------------------------

TEST(TextCursorScans, SpacesDigitsAndStops) {
  TextCursor c = Cursor(" \t\r\n 42abc");
  ASSERT_EQ(Ops().skipSpace(M(), &c), kOk);
  EXPECT_EQ(Token(c), " \t\r\n ");
  EXPECT_EQ(Rest(c), "42abc");

  c = Cursor("  padded value \t");
  ASSERT_EQ(Ops().trimSpace(M(), &c), kOk);
  EXPECT_EQ(Token(c), "padded value");
  EXPECT_EQ(Rest(c), "  padded value \t");  // the cursor does not move
  c = Cursor("   ");
  ASSERT_EQ(Ops().trimSpace(M(), &c), kOk);
  EXPECT_EQ(Token(c), "");

  std::uint32_t value = 0;
  c = Cursor("  1234:56");
  ASSERT_EQ(Ops().scanDecimal(M(), &c, &value), kOk);
  EXPECT_EQ(Token(c), "1234");
  EXPECT_EQ(value, 1234u);
  EXPECT_EQ(Rest(c), ":56");
  ASSERT_EQ(Ops().scanDecimal(M(), &c, nullptr), kOk);  // no digits at ':'
  EXPECT_EQ(Token(c), "");
  EXPECT_EQ(Rest(c), ":56");

  c = Cursor("4294967297");  // no overflow check: the value wraps
  ASSERT_EQ(Ops().scanDecimal(M(), &c, &value), kOk);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(Rest(c), "");

  c = Cursor(" 1aFz");
  ASSERT_EQ(Ops().scanHex(M(), &c, &value), kOk);
  EXPECT_EQ(Token(c), "1aF");
  EXPECT_EQ(value, 0x1AFu);
  EXPECT_EQ(Rest(c), "z");

  c = Cursor("key: value");
  ASSERT_EQ(Ops().scanToChar(M(), &c, ':'), kOk);
  EXPECT_EQ(Token(c), "key");
  EXPECT_EQ(Rest(c), ": value");
  EXPECT_EQ(Ops().scanToChar(M(), &c, '='), kNotFound);
  EXPECT_EQ(Token(c), ": value");
  EXPECT_EQ(Rest(c), "");

  c = Cursor("a b,c;d");
  ASSERT_EQ(Ops().scanToAny(M(), &c, ";,", 2), kOk);
  EXPECT_EQ(Token(c), "a b");
  EXPECT_EQ(Rest(c), ",c;d");
  EXPECT_EQ(Ops().scanToAny(M(), &c, "", 0), kNotFound);
  EXPECT_EQ(Rest(c), "");
}

TEST(TextCursorScans, TokensSkipSeparatorsAndHighBytes) {
  TextCursor c = Cursor(" ,;\x80(foo-bar.baz~1/qux");
  ASSERT_EQ(Ops().scanToken(M(), &c), kOk);
  EXPECT_EQ(Token(c), "foo-bar.baz~1");
  EXPECT_EQ(Rest(c), "/qux");
  ASSERT_EQ(Ops().scanToken(M(), &c), kOk);
  EXPECT_EQ(Token(c), "qux");
  ASSERT_EQ(Ops().scanToken(M(), &c), kOk);
  EXPECT_EQ(Token(c), "");
  EXPECT_EQ(Rest(c), "");
}

TEST(TextCursorScans, QuotedStrings) {
  struct Case {
    std::string_view text;
    StatusCode status;
    std::string_view token;
    std::string_view rest;
  };
  const Case cases[] = {
      {"\"abc\" rest", kOk, "\"abc\"", " rest"},
      {"\"a\\\"b\"x", kOk, "\"a\\\"b\"", "x"},  // an escaped quote does not close
      {"\"a\\\\\"x", kOk, "\"a\\\\\"", "x"},    // an escaped backslash does not escape
      {"\"\"", kOk, "\"\"", ""},
      {"abc\"def", kOk, "abc\"", "def"},  // no opening quote: read as if inside one
      {"\"abc", kStrQuoteNotTerminated, "", ""},
      {"\"ab\\\"", kStrQuoteNotTerminated, "", ""},
      {"\"ab\\", kStrQuoteNotTerminated, "", ""},  // the escaped byte is missing
      {"\"", kStrQuoteNotTerminated, "", ""},
      {"", kStrQuoteNotTerminated, "", ""},
  };
  for (const Case& k : cases) {
    // The text lives in a buffer of its exact size, so reading past it shows.
    std::vector<char> bytes(k.text.begin(), k.text.end());
    TextCursor c{bytes.data(), Len(k.text), nullptr, 0};
    EXPECT_EQ(Ops().scanQuoted(M(), &c), k.status) << k.text;
    EXPECT_EQ(Token(c), k.token) << k.text;
    EXPECT_EQ(Rest(c), k.rest) << k.text;
  }
}

// Reads every parameter: "name=value" per entry, the last entry the status
// that ended the list.
std::vector<std::string> AllParams(std::string_view text) {
  ParamCursor p = Params(text);
  std::vector<std::string> out;
  for (int guard = 0; guard < 100; ++guard) {
    const StatusCode s = Ops().nextParam(M(), &p);
    if (s != kOk) {
      out.push_back("status " + std::to_string(s) + " rest '" + std::string(Rest(p)) + "'");
      break;
    }
    out.push_back(std::string(Name(p)) + "=" + std::string(Value(p)));
  }
  return out;
}

using Strings = std::vector<std::string>;

TEST(ParamCursorScans, ParametersOfOneItem) {
  EXPECT_EQ(AllParams("text/html; charset=utf-8; q=\"0.5;x\", next"),
            (Strings{"charset=utf-8", "q=\"0.5;x\"", "status 5 rest ' next'"}));
  EXPECT_EQ(AllParams("no parameters"), (Strings{"status 5 rest ''"}));
  EXPECT_EQ(AllParams(";  a  =   1 ;b= \t\"x\""), (Strings{"a=1", "b=\"x\"", "status 5 rest ''"}));
  // A parameter without '=' has an empty value and stops on the next
  // separator; it never takes the value of a later parameter.
  EXPECT_EQ(AllParams("x; b; c=1"), (Strings{"b=", "c=1", "status 5 rest ''"}));
  EXPECT_EQ(AllParams("x; b, c=1"), (Strings{"b=", "status 5 rest ' c=1'"}));
  // A missing value stays empty rather than reading on into the next item.
  EXPECT_EQ(AllParams("x; a=; b=2"), (Strings{"a=", "b=2", "status 5 rest ''"}));
  EXPECT_EQ(AllParams("x; a=, b=2"), (Strings{"a=", "status 5 rest ' b=2'"}));
  // A missing name stays empty.
  EXPECT_EQ(AllParams("x; =v; ;w"), (Strings{"=v", "=", "w=", "status 5 rest ''"}));
  // An unterminated quoted value fails and empties the cursor.
  ParamCursor p = Params("x; a=\"open; b=2");
  EXPECT_EQ(Ops().nextParam(M(), &p), kStrQuoteNotTerminated);
  EXPECT_EQ(Rest(p), "");
  EXPECT_EQ(p.nameLength, 0u);
  EXPECT_EQ(p.valueLength, 0u);
}

TEST(ParamCursorScans, ItemsWithParameters) {
  const std::string_view list = "text/html; level=1, text/plain; q=0.5 ;x=\"a,b\", */*";
  // Without a parameter cursor, each item's parameters are skipped.
  TextCursor c = Cursor(list);
  Strings items;
  StatusCode s;
  while ((s = Ops().nextItemWithParams(M(), &c, nullptr)) == kOk)
    items.emplace_back(Token(c));
  EXPECT_EQ(s, kNoMore);
  EXPECT_EQ(items, (Strings{"text", "text", "*"}));

  // With one, its first parameter is read and the main cursor stays put.
  c = Cursor(list);
  ParamCursor p{};
  ASSERT_EQ(Ops().nextItemWithParams(M(), &c, &p), kOk);
  EXPECT_EQ(Token(c), "text");
  EXPECT_EQ(Rest(c), list.substr(4));
  EXPECT_EQ(Name(p), "level");
  EXPECT_EQ(Value(p), "1");
  EXPECT_EQ(Ops().nextParam(M(), &p), kNoMore);
  EXPECT_EQ(Rest(p), list.substr(list.find(" text/plain")));

  // An item without parameters leaves the parameter cursor empty-handed.
  c = Cursor("plain");
  ASSERT_EQ(Ops().nextItemWithParams(M(), &c, &p), kOk);
  EXPECT_EQ(Token(c), "plain");
  EXPECT_EQ(p.nameLength, 0u);

  c = Cursor(" , ; ");
  EXPECT_EQ(Ops().nextItemWithParams(M(), &c, nullptr), kNoMore);

  c = Cursor("a; x=\"unterminated");
  EXPECT_EQ(Ops().nextItemWithParams(M(), &c, nullptr), kStrQuoteNotTerminated);
  EXPECT_EQ(Rest(c), "");
}

TEST(ParamCursorScans, ItemsSkipAtMost4096Parameters) {
  std::string text = "item";
  for (int i = 0; i < 4100; ++i)
    text += ";p";
  text += ", next";
  TextCursor c = Cursor(text);
  ASSERT_EQ(Ops().nextItemWithParams(M(), &c, nullptr), kOk);
  EXPECT_EQ(Token(c), "item");
  EXPECT_EQ(Rest(c), std::string_view(text).substr(4 + 2 * 4096));
}

Strings AllAttributes(std::string_view text, int loose) {
  ParamCursor p = Params(text);
  Strings out;
  for (int guard = 0; guard < 100; ++guard) {
    const StatusCode s = loose < 0
                             ? Ops().nextAttribute(M(), &p)
                             : Ops().nextAttributeLoose(M(), &p, static_cast<std::uint32_t>(loose));
    if (s != kOk) {
      out.push_back("status " + std::to_string(s) + " rest '" + std::string(Rest(p)) + "'");
      break;
    }
    out.push_back(std::string(Name(p)) + "=" + std::string(Value(p)) + " @'" +
                  std::string(Rest(p).substr(0, 1)) + "'");
  }
  return out;
}

TEST(ParamCursorScans, Attributes) {
  EXPECT_EQ(AllAttributes("a=1, b=\"x,y\"; c, d=", -1),
            (Strings{"a=1 @','", "b=\"x,y\" @';'", "c= @','", "d= @''", "status 5 rest ''"}));
  EXPECT_EQ(AllAttributes("", -1), (Strings{"status 5 rest ''"}));
  EXPECT_EQ(AllAttributes(" ;, ", -1), (Strings{"status 5 rest ''"}));
  // A missing value does not swallow the next item's name.
  EXPECT_EQ(AllAttributes("a=,b=2", -1), (Strings{"a= @','", "b=2 @''", "status 5 rest ''"}));
  EXPECT_EQ(AllAttributes("a=\"x", -1),
            (Strings{"status " + std::to_string(kStrQuoteNotTerminated) + " rest ''"}));
}

TEST(ParamCursorScans, LooseAttributesKeepWholeTrimmedValues) {
  const std::string_view text = "title = some value , other ; k=v";
  EXPECT_EQ(AllAttributes(text, 0),
            (Strings{"title=some value , other @';'", "k=v @''", "status 5 rest ''"}));
  EXPECT_EQ(AllAttributes(text, 1),
            (Strings{"title=some value @','", "other= @';'", "k=v @''", "status 5 rest ''"}));
  EXPECT_EQ(AllAttributes("q = \"quoted; value\" ; r =  ", 0),
            (Strings{"q=\"quoted; value\" @' '", "r= @''", "status 5 rest ''"}));
}

// --- search ------------------------------------------------------------------

struct FindResult {
  StatusCode status;
  std::uint32_t offset;
  bool operator==(const FindResult&) const = default;
};

FindResult RunFind(int which, std::string_view text, std::string_view pattern) {
  FindResult r{kFailed, 0xDEADu};
  const auto f = which == 0 ? Ops().find : which == 1 ? Ops().findLast : Ops().findNoCase;
  r.status = f(M(), text.data(), Len(text), pattern.data(), Len(pattern), &r.offset);
  return r;
}

// Independent answers from the standard library.
FindResult Reference(int which, std::string_view text, std::string_view pattern) {
  std::size_t at;
  if (which == 2) {
    std::string t(text), p(pattern);
    for (char& ch : t)
      ch = static_cast<char>(Str_FoldByte(static_cast<unsigned char>(ch)));
    for (char& ch : p)
      ch = static_cast<char>(Str_FoldByte(static_cast<unsigned char>(ch)));
    at = t.find(p);
  } else {
    at = which == 0 ? text.find(pattern) : text.rfind(pattern);
  }
  if (at == std::string_view::npos) return {kNotFound, 0xDEADu};
  return {kOk, static_cast<std::uint32_t>(at)};
}

TEST(Find, PlainScanAndFailureTableGiveTheSameOffsets) {
  // 3 bytes in 4: the direct scan. 3 bytes in 100: the failure table.
  const std::string shortText = "xabc";
  std::string longText(100, 'x');
  longText.replace(41, 3, "abc");
  longText.replace(70, 3, "abc");
  EXPECT_EQ(RunFind(0, shortText, "abc"), (FindResult{kOk, 1}));
  EXPECT_EQ(RunFind(0, longText, "abc"), (FindResult{kOk, 41}));
  EXPECT_EQ(RunFind(1, longText, "abc"), (FindResult{kOk, 70}));
  EXPECT_EQ(RunFind(2, longText, "ABC"), (FindResult{kOk, 41}));
  EXPECT_EQ(RunFind(0, "ab", "abc").status, kNotFound);
  EXPECT_EQ(RunFind(0, "abc", ""), (FindResult{kOk, 0}));
  EXPECT_EQ(RunFind(1, "abc", ""), (FindResult{kOk, 3}));
  // Self-overlapping patterns exercise the failure links in both directions.
  const std::string periodic = "aabaabaabaaabaabaabaab";
  for (std::string_view pattern : {"aabaaab", "baab", "aab", "abaaa"}) {
    for (int which = 0; which < 3; ++which) {
      EXPECT_EQ(RunFind(which, periodic + periodic, pattern),
                Reference(which, periodic + periodic, pattern))
          << which << " " << pattern;
    }
  }
  std::uint32_t offset = 0;
  EXPECT_EQ(Ops().find(M(), "abc", 3, "b", 1, nullptr), kNullOutPointer);
  EXPECT_EQ(Ops().find(M(), nullptr, 3, "b", 1, &offset), kBadArgument);
}

TEST(Find, NoCaseComparesEveryByteOfLongPatterns) {
  // Patterns over 99 bytes are matched whole, the bytes past 99 folded too.
  std::string pattern(120, 'q');
  pattern[110] = 'Z';
  std::string text = std::string(50, '-') + pattern + std::string(50, '-');
  std::string lower = pattern;
  lower[110] = 'z';
  EXPECT_EQ(RunFind(2, text, lower), (FindResult{kOk, 50}));
  lower[115] = 'x';
  EXPECT_EQ(RunFind(2, text, lower).status, kNotFound);
}

TEST(Find, AgreesWithTheStandardLibraryOnRandomInputs) {
  std::mt19937 rng(34);
  int tablePath = 0;
  int scanPath = 0;
  for (int round = 0; round < 20000; ++round) {
    // Small alphabets make matches and near-misses common.
    const std::string alphabet = round % 2 ? "aAbB" : "abcXYZ\x80";
    const std::size_t textLength = rng() % (round % 10 == 0 ? 600 : 80);
    const std::size_t patternLength = rng() % (round % 7 == 0 ? 150 : 12);
    std::string text(textLength, ' ');
    for (char& ch : text)
      ch = alphabet[rng() % alphabet.size()];
    std::string pattern(patternLength, ' ');
    if (patternLength <= textLength && rng() % 2) {
      pattern = text.substr(rng() % (textLength - patternLength + 1), patternLength);
    } else {
      for (char& ch : pattern)
        ch = alphabet[rng() % alphabet.size()];
    }
    if (patternLength > 0 && patternLength <= 99 && 2 * patternLength < textLength) {
      ++tablePath;
    } else {
      ++scanPath;
    }
    for (int which = 0; which < 3; ++which) {
      ASSERT_EQ(RunFind(which, text, pattern), Reference(which, text, pattern))
          << "which " << which << " text '" << text << "' pattern '" << pattern << "'";
    }
  }
  EXPECT_GT(tablePath, 3000);
  EXPECT_GT(scanPath, 3000);
}

std::string Hex(std::string_view s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TEST(Find, AgreesWithPythonBytesFind) {
  KELPO_REQUIRE_PEER("python3");
  std::mt19937 rng(3536);
  std::vector<std::pair<std::string, std::string>> cases;
  std::string input;
  for (int i = 0; i < 600; ++i) {
    const std::string alphabet = i % 3 ? "aAbB" : "zZ\x01\xff";
    std::string text(rng() % (i % 5 ? 60 : 400), ' ');
    for (char& ch : text)
      ch = alphabet[rng() % alphabet.size()];
    std::string pattern(rng() % (i % 4 ? 8 : 130), ' ');
    if (pattern.size() <= text.size() && rng() % 2) {
      pattern = text.substr(rng() % (text.size() - pattern.size() + 1), pattern.size());
    } else {
      for (char& ch : pattern)
        ch = alphabet[rng() % alphabet.size()];
    }
    input += Hex(text) + "," + Hex(pattern) + "\n";
    cases.emplace_back(text, pattern);
  }
  const std::string script =
      "import sys\n"
      "for line in sys.stdin:\n"
      "    t, p = [bytes.fromhex(x) for x in line.rstrip().split(\",\")]\n"
      "    print(t.find(p), t.rfind(p), t.lower().find(p.lower()))\n";
  int status = -1;
  const std::string out = RunPeer("python3 -c '" + script + "'", input, &status);
  ASSERT_EQ(status, 0);
  std::istringstream lines(out);
  for (const auto& [text, pattern] : cases) {
    long expected[3];
    ASSERT_TRUE(lines >> expected[0] >> expected[1] >> expected[2]);
    for (int which = 0; which < 3; ++which) {
      const FindResult got = RunFind(which, text, pattern);
      if (expected[which] < 0) {
        EXPECT_EQ(got.status, kNotFound) << which << " " << Hex(text) << " " << Hex(pattern);
      } else {
        EXPECT_EQ(got, (FindResult{kOk, static_cast<std::uint32_t>(expected[which])}))
            << which << " " << Hex(text) << " " << Hex(pattern);
      }
    }
  }
}

}  // namespace
