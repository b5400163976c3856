#include "engine/runtime/text_conv.h"

#include "engine/runtime/text_conv_internal.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/support/charset_fixtures.h"
#include "tests/support/scoped_env.h"

namespace {

const TextConvOps& Ops() {
  return OpsOf<TextConvOps>(g_TextConvModule);
}

struct Result {
  StatusCode status;
  std::string out;
  std::uint32_t size;  // targetCapacity on return
  std::uint32_t consumed;
  std::uint32_t replaced;
};

Result Convert(std::uint32_t flags, std::uint32_t from, const std::string& in, std::uint32_t to,
               std::uint32_t capacity = 256, bool measureOnly = false) {
  std::vector<char> target(capacity + 16, '\x7F');
  TextConvRequest r{};
  r.flags = flags;
  r.sourceMib = from;
  r.source = in.data();
  r.sourceLength = static_cast<std::uint32_t>(in.size());
  r.targetMib = to;
  r.target = measureOnly ? nullptr : target.data();
  r.targetCapacity = capacity;
  Result result{Ops().convert(g_TextConvModule, &r), {}, r.targetCapacity, r.consumed, r.replaced};
  if (!measureOnly) {
    const std::uint32_t n = result.status == kOk || result.status == kTextConvTargetTooSmall
                                ? std::min(r.targetCapacity, capacity)
                                : 0;
    result.out.assign(target.data(), n);
    EXPECT_EQ(target[capacity], '\x7F') << "wrote past the target";
  }
  return result;
}

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789ABCDEF";
  std::string h;
  for (unsigned char c : s) {
    if (!h.empty()) h += ' ';
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

constexpr std::uint32_t kStop = kConvStopBeforeIncomplete;
constexpr std::uint32_t kFull = kConvStopWhenFull;

// The conversion rules: invalid bytes, incomplete characters, full targets.
TEST(TextConv, ConvertEdgeCases) {
  struct Case {
    const char* what;
    std::uint32_t flags, from;
    std::string in;
    std::uint32_t to, capacity;
    StatusCode status;
    const char* outHex;
    std::uint32_t size, consumed, replaced;
  };
  using S = std::string;
  const Case cases[] = {
      {"utf-8 to utf-16le", 0, 106, "A\xC3\xA9", 1014, 64, kOk, "41 00 E9 00", 4, 3, 0},
      {"stray continuation byte", 0, 106,
       "\x80"
       "A",
       1014, 64, kOk, "FD FF 41 00", 4, 2, 1},
      {"broken sequence takes one byte", 0, 106,
       "\xC3"
       "A",
       1014, 64, kOk, "FD FF 41 00", 4, 2, 1},
      {"FE and FF start nothing", 0, 106, "\xFE\xFF", 106, 64, kOk, "EF BF BD EF BF BD", 6, 2, 2},
      {"cut-off character stops with bit 0", kStop, 106, "A\xE2\x82", 1014, 64, kOk, "41 00", 2, 1,
       0},
      {"cut-off character without bit 0", 0, 106, "A\xE2\x82", 1014, 64, kOk, "41 00 FD FF FD FF",
       6, 3, 2},
      {"overlong form taken as decoded", 0, 106, "\xC1\x81", 1014, 64, kOk, "41 00", 2, 2, 0},
      {"five-byte value past U+10FFFF is U+FFFD", 0, 106,
       "\xF8\x88\x80\x80\x80"
       "B",
       1014, 64, kOk, "FD FF 42 00", 4, 6, 1},
      {"six-byte value past U+10FFFF is U+FFFD", 0, 106, "\xFD\xBF\xBF\xBF\xBF\xBF", 106, 64, kOk,
       "EF BF BD", 3, 6, 1},
      {"four-byte value past U+10FFFF is U+FFFD", 0, 106, "\xF4\x90\x80\x80", 1013, 64, kOk,
       "FF FD", 2, 4, 1},
      {"supplementary to a surrogate pair", 0, 106, "\xF0\x9F\x98\x80", 1014, 64, kOk,
       "3D D8 00 DE", 4, 4, 0},
      {"surrogate in utf-8 kept", 0, 106, "\xED\xA0\x80", 1014, 64, kOk, "00 D8", 2, 3, 0},
      {"utf-8 to utf-8 replaces bad bytes", 0, 106, "a\x80\xC3\xA9", 106, 64, kOk,
       "61 EF BF BD C3 A9", 6, 4, 1},
      {"windows-1251 to utf-16be", 0, 2251,
       "\xC0"
       "a",
       1013, 64, kOk, "04 10 00 61", 4, 2, 0},
      {"windows-1252 undefined byte is U+FFFD", 0, 2252, "\x81\x80", 1014, 64, kOk, "FD FF AC 20",
       4, 2, 1},
      {"iso-8859-1 reads as windows-1252", 0, 4, "\x80", 106, 64, kOk, "E2 82 AC", 3, 1, 0},
      {"utf-8 to windows-1252 direct", 0, 106,
       "\xE2\x82\xAC\xE4\xB8\xAD"
       "x",
       2252, 64, kOk, "80 00 78", 3, 7, 1},
      {"lone high surrogate at the end, bit 0", kStop, 1014, S("A\0\x3D\xD8", 4), 106, 64, kOk,
       "41", 1, 2, 0},
      {"lone high surrogate at the end, utf-16 copy", kStop, 1014, S("A\0\x3D\xD8", 4), 1014, 64,
       kOk, "41 00", 2, 2, 0},
      {"unpaired surrogate encodes as 0", 0, 1014,
       S("\x00\xDC"
         "B\0",
         4),
       2252, 64, kOk, "00 42", 2, 4, 1},
      {"unpaired surrogate copied utf-16 to utf-16", 0, 1014, S("\x00\xDC", 2), 1013, 64, kOk,
       "DC 00", 2, 2, 0},
      {"odd trailing byte with bit 0", kStop, 1013, S("\0A\0", 3), 106, 64, kOk, "41", 1, 2, 0},
      {"utf-16le to utf-16be swaps", 0, 1014, S("A\0\x3D\xD8\x00\xDE", 6), 1013, 64, kOk,
       "00 41 D8 3D DE 00", 6, 6, 0},
      {"1015 with big-endian mark", 0, 1015, S("\xFE\xFF\0A", 4), 106, 64, kOk, "41", 1, 4, 0},
      {"1015 with little-endian mark", 0, 1015,
       S("\xFF\xFE"
         "A\0",
         4),
       1015, 64, kOk, "41 00", 2, 4, 0},
      {"1015 without mark is little-endian", 0, 1015, S("A\0", 2), 1013, 64, kOk, "00 41", 2, 2, 0},
      {"utf-16 to euc-kr", 0, 1014,
       S("\x00\xAC"
         "a\0",
         4),
       38, 64, kOk, "B0 A1 61", 3, 4, 0},
      {"utf-16 to shift_jis unmappable", 0, 1014, S("\x00\xAC", 2), 17, 64, kOk, "00", 1, 2, 1},
      {"utf-16 to gb18030 four bytes", 0, 1014, S("\x80\x00\x3D\xD8\x00\xDE", 6), 114, 64, kOk,
       "81 30 81 30 94 39 FC 36", 8, 6, 0},
      {"utf-16 to gbk has no four-byte forms", 0, 1014, S("\x80\x00", 2), 113, 64, kOk, "00", 1, 2,
       1},
      {"shift_jis bad trail takes one byte", 0, 17, "\x81 ", 1014, 64, kOk, "FD FF 20 00", 4, 2, 1},
      {"shift_jis kana and kanji", 0, 17, "\xB1\x88\x9F", 1014, 64, kOk, "71 FF 9C 4E", 4, 3, 0},
      {"euc-jp half-width kana", 0, 18, "\x8E\xB1", 1014, 64, kOk, "71 FF", 2, 2, 0},
      {"euc-jp JIS X 0212 is one unmapped character", 0, 18,
       "\x8F\xB0\xA1"
       "a",
       106, 64, kOk, "EF BF BD 61", 4, 4, 1},
      {"gb18030 four-byte BMP", 0, 114, "\x81\x30\x81\x30", 1014, 64, kOk, "80 00", 2, 4, 0},
      {"gb18030 four-byte supplementary", 0, 2025, "\x90\x30\x81\x30", 1014, 64, kOk, "00 D8 00 DC",
       4, 4, 0},
      {"gb18030 cut four-byte form with bit 0", kStop, 114, "a\x81\x30\x81", 1014, 64, kOk, "61 00",
       2, 1, 0},
      {"gb18030 unassigned four-byte form", 0, 114, "\x85\x30\x81\x30", 1014, 64, kOk, "FD FF", 2,
       4, 1},
      {"big5", 0, 2026, "\xA4\x40\xA1\x40", 1014, 64, kOk, "00 4E 00 30", 4, 4, 0},
      {"target too small keeps counting", 0, 106, "abc", 1014, 4, kTextConvTargetTooSmall,
       "61 00 62 00", 6, 3, 0},
      {"target too small with bit 1 stops", kFull, 106, "abc", 1014, 5, kTextConvTargetTooSmall,
       "61 00 62 00", 4, 2, 0},
      {"a character is never split", 0, 106,
       "\xE2\x82\xAC"
       "a",
       106, 2, kTextConvTargetTooSmall, "7F 7F", 4, 4, 0},
      {"no path from windows-1251 to windows-1252", 0, 2251, "a", 2252, 64, kNotSupported, "", 64,
       0, 0},
      {"unknown source", 0, 9999, "a", 106, 64, kNotSupported, "", 64, 0, 0},
      {"unknown target from utf-16", 0, 1014, S("a\0", 2), 5, 64, kNotSupported, "", 64, 0, 0},
  };
  for (const Case& c : cases) {
    const Result r = Convert(c.flags, c.from, c.in, c.to, c.capacity);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(Hex(r.out), c.outHex) << c.what;
    EXPECT_EQ(r.size, c.size) << c.what;
    EXPECT_EQ(r.consumed, c.consumed) << c.what;
    EXPECT_EQ(r.replaced, c.replaced) << c.what;
  }
}

// UTF-8 to UTF-16LE through the vector path and the portable path: the
// same status, counters, output bytes and target bytes past the output (the
// caller's, untouched), for real prose, mixed scripts, and the same with
// damage sprinkled in (stray and missing continuation bytes, forms past
// U+10FFFF, 5- and 6-byte forms, a form cut at the end), at every kind of
// capacity and with each flag.
TEST(TextConv, Utf8ToUtf16PathsAgree) {
  std::string prose;
  if (std::FILE* f = std::fopen("/usr/share/common-licenses/GPL-3", "rb")) {
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
      prose.append(chunk, n);
    std::fclose(f);
  }
  const std::string scripts[] = {"word",
                                 "caf\xC3\xA9",
                                 "\xCE\xB1\xCE\xB2\xCE\xB3",
                                 "\xD0\xB4\xD0\xBE\xD0\xBC",
                                 "\xE4\xB8\xAD\xE6\x96\x87",
                                 "\xF0\x9F\x98\x80",
                                 "\xED\xA0\x80",
                                 "\xC0\x80"};
  const std::string damage[] = {"\x80",
                                "\xC3",
                                "\xE4\xB8",
                                "\xF4\x90\x80\x80",
                                "\xF8\x88\x80\x80\x80",
                                "\xFC\x84\x80\x80\x80\x80",
                                "\xFE",
                                "\xF0\x80\x80\x80"};
  std::mt19937 rng(1014);
  for (int round = 0; round < 600; ++round) {
    std::string in;
    if (round % 6 == 0 && !prose.empty()) {
      const std::size_t at = rng() % prose.size();
      in = prose.substr(at, rng() % 3000);
    } else {
      const std::size_t words = rng() % 200;
      for (std::size_t k = 0; k < words; ++k) {
        in += scripts[rng() % 8];
        if (round % 3 == 1 && rng() % 10 == 0) in += damage[rng() % 8];
        in += rng() % 9 == 0 ? "\n" : " ";
      }
    }
    if (round % 5 == 0 && !in.empty())
      in.resize(in.size() - 1 - rng() % std::min<std::size_t>(in.size(), 3));
    const auto whole = static_cast<std::uint32_t>(in.size() * 2 + 8);
    const std::uint32_t capacities[] = {whole, static_cast<std::uint32_t>(rng() % whole),
                                        static_cast<std::uint32_t>(rng() % 40)};
    for (const std::uint32_t capacity : capacities) {
      const std::uint32_t flags = rng() % 4;
      std::vector<std::uint8_t> a(capacity + 8, 0xA5), b(capacity + 8, 0xA5);
      TextConvRequest ra{flags, 106,      in.data(), static_cast<std::uint32_t>(in.size()),
                         1014,  a.data(), capacity,  0,
                         0,     0};
      TextConvRequest rb = ra;
      rb.target = b.data();
      const StatusCode sa = TextConv_ConvertWith(TextConvPath::kVector, &ra);
      const StatusCode sb = TextConv_ConvertWith(TextConvPath::kPortable, &rb);
      SCOPED_TRACE("round " + std::to_string(round) + ", capacity " + std::to_string(capacity));
      ASSERT_EQ(sa, sb);
      EXPECT_EQ(ra.targetCapacity, rb.targetCapacity);
      EXPECT_EQ(ra.consumed, rb.consumed);
      EXPECT_EQ(ra.characters, rb.characters);
      EXPECT_EQ(ra.replaced, rb.replaced);
      ASSERT_EQ(a, b);
      TextConvRequest rc = ra;
      rc.target = a.data();
      rc.targetCapacity = capacity;
      rc.consumed = rc.characters = rc.replaced = 0;
      EXPECT_EQ(TextConv_Convert(g_TextConvModule, &rc), sa) << "the default path";
    }
  }
}

TEST(TextConv, NullTargetMeasures) {
  const Result r = Convert(0, 2252, "h\xE9llo\x80", 106, 0, true);
  EXPECT_EQ(r.status, kOk);
  EXPECT_EQ(r.size, 1u + 2 + 3 + 3);
  EXPECT_EQ(r.consumed, 6u);
}

TEST(TextConv, CountersAccumulate) {
  TextConvRequest r{};
  r.sourceMib = 106;
  r.source = "ab";
  r.sourceLength = 2;
  r.targetMib = 106;
  char out[8];
  r.target = out;
  r.targetCapacity = 8;
  r.consumed = 10;
  r.characters = 20;
  ASSERT_EQ(Ops().convert(g_TextConvModule, &r), kOk);
  EXPECT_EQ(r.consumed, 12u);
  EXPECT_EQ(r.characters, 22u);
}

// The same text written in each charset (the bytes made by iconv) decodes
// to itself, into UTF-8 and into UTF-16; UTF-16 follows its mark under
// 1015 and is little-endian without one, and 1013 and 1014 name the order
// of a text without a mark. A byte sequence a charset cannot read comes out
// as U+FFFD, one for each, never as nothing.
TEST(TextConv, TheSameTextInEachCharsetDecodesToItself) {
  const std::string cafe = "Caf\xC3\xA9 cr\xC3\xA8me, na\xC3\xAFve fa\xC3\xA7\x61\x64\x65";
  const std::string polish = "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85";
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xEF\xBD\xB1";
  const auto in = [](const std::string& utf8, const char* charset) {
    const std::optional<std::string> bytes = IconvBytes(utf8, "UTF-8", charset);
    EXPECT_TRUE(bytes.has_value()) << charset;
    return bytes.value_or(std::string());
  };
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    const char* what;
    std::uint32_t mib;
    std::string bytes;
    std::string utf8;  // expected
  };
  const Case cases[] = {
      {"utf-8", 106, cafe, cafe},
      {"windows-1252", 2252, in(cafe, "WINDOWS-1252"), cafe},
      {"iso-8859-1 as windows-1252", 4, in(cafe, "ISO-8859-1"), cafe},
      {"iso-8859-2", 5, in(polish, "ISO-8859-2"), polish},
      {"windows-1250", 2250, in(polish, "WINDOWS-1250"), polish},
      {"shift_jis", 17, in(japanese, "SHIFT_JIS"), japanese},
      {"utf-16le with its mark", 1015, "\xFF\xFE" + in(cafe, "UTF-16LE"), cafe},
      {"utf-16be with its mark", 1015, "\xFE\xFF" + in(cafe, "UTF-16BE"), cafe},
      {"utf-16 without a mark is little-endian", 1015, in(cafe, "UTF-16LE"), cafe},
      {"utf-16le named", 1014, in(cafe, "UTF-16LE"), cafe},
      {"utf-16be named", 1013, in(cafe, "UTF-16BE"), cafe},
      {"utf-16be read as little-endian is not lost", 1015, std::string("\0A", 2), "\xE4\x84\x80"},
      // Undecodable bytes.
      {"windows-1252 read as utf-8", 106, in(cafe, "WINDOWS-1252"),
       "Caf" + fffd + " cr" + fffd + "me, na" + fffd + "ve fa" + fffd + "ade"},
      {"windows-1252 gaps", 2252, "a\x81\x8D\x8F\x90\x9Dz",
       "a" + fffd + fffd + fffd + fffd + fffd + "z"},
      {"a cut-off utf-8 character", 106, "ab\xE2\x82", "ab" + fffd + fffd},
      {"shift_jis lead without a trail", 17, "a\x88", "a" + fffd},
      {"shift_jis user-defined area", 17, "\xF0\x40", fffd},
      {"shift_jis bad trail", 17, "\x88\x20", fffd + " "},
      {"utf-16 odd last byte", 1014, std::string("a\0b", 3), "a" + fffd},
      // (UTF-16 to UTF-16 keeps the unit as it is: ConvertEdgeCases.)
      {"utf-16 unpaired surrogate", 1014,
       std::string("\x00\xDC"
                   "a\0",
                   4),
       fffd + "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result utf8 = Convert(0, c.mib, c.bytes, 106);
    EXPECT_EQ(utf8.status, kOk);
    EXPECT_EQ(Hex(utf8.out), Hex(c.utf8));
    if (std::string_view(c.what) == "utf-16 unpaired surrogate") continue;
    const std::optional<std::string> wide = IconvBytes(c.utf8, "UTF-8", "UTF-16LE");
    ASSERT_TRUE(wide.has_value());
    const Result utf16 = Convert(0, c.mib, c.bytes, 1014);
    EXPECT_EQ(utf16.status, kOk);
    EXPECT_EQ(Hex(utf16.out), Hex(*wide));
  }
}

// Single bytes to UTF-16 take a table path for as much as the target holds
// and the general path for the rest. iconv is the peer on assigned bytes (it
// refuses the five that windows-1252 leaves unassigned); those bytes come
// out as U+FFFD and are counted as replaced. Capacities cut the source at,
// before and inside a character, with and without stopping when full.
TEST(TextConv, Windows1252ToUtf16AgreesWithIconvAtEveryCapacity) {
  std::mt19937 rng(1252);
  std::string assigned;
  for (int b = 0; b < 256; ++b) {
    if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
      assigned += static_cast<char>(b);
  }
  for (const bool bigEndian : {false, true}) {
    const char* const peerName = bigEndian ? "UTF-16BE" : "UTF-16LE";
    iconv_t cd = iconv_open(peerName, "WINDOWS-1252");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (const std::uint32_t length : {0u, 1u, 7u, 8u, 9u, 64u, 1000u, 4099u}) {
      std::string in(length, '\0');
      for (char& c : in)
        c = rng() % 4 == 0 ? assigned[rng() % assigned.size()]
                           : static_cast<char>('a' + rng() % 26);
      std::string peer(in.size() * 2, '\0');
      char* from = in.data();
      std::size_t fromLeft = in.size();
      char* to = peer.data();
      std::size_t toLeft = peer.size();
      ASSERT_NE(iconv(cd, &from, &fromLeft, &to, &toLeft), static_cast<std::size_t>(-1));
      ASSERT_EQ(toLeft, 0u);
      const std::uint32_t whole = length * 2;
      for (const std::uint32_t capacity : {whole, whole + 1, whole / 2, whole / 2 + 1, 0u}) {
        for (const std::uint32_t flags : {0u, kFull}) {
          SCOPED_TRACE(testing::Message() << peerName << " length " << length << " capacity "
                                          << capacity << " flags " << flags);
          const Result r = Convert(flags, 2252, in, bigEndian ? 1013 : 1014, capacity);
          const std::uint32_t fits = std::min(whole, capacity & ~1u);
          EXPECT_EQ(r.status, fits == whole ? kOk : kTextConvTargetTooSmall);
          EXPECT_EQ(r.out.substr(0, fits), peer.substr(0, fits));
          EXPECT_EQ(r.size, flags == kFull || fits == whole ? fits : whole);
          EXPECT_EQ(r.consumed, flags == kFull ? fits / 2 : length);
          EXPECT_EQ(r.replaced, 0u);
        }
      }
    }
    iconv_close(cd);
  }
  // The unassigned bytes, alone and among others, on both paths.
  const std::string gaps = std::string("\x81x\x8D\0\x8F\x90\x9D", 7) + "\xE9";
  for (const std::uint32_t capacity : {16u, 6u}) {
    const Result r = Convert(0, 2252, gaps, 1014, capacity);
    EXPECT_EQ(r.replaced, 5u) << capacity;
    EXPECT_EQ(r.out, std::string("\xFD\xFFx\0\xFD\xFF\0\0\xFD\xFF\xFD\xFF\xFD\xFF\xE9\0", 16)
                         .substr(0, capacity));
  }
}

TEST(TextConv, MeasureChars) {
  struct Case {
    const char* what;
    std::uint32_t flags, mib;
    std::string in;
    StatusCode status;
    std::uint32_t bytes, count;
    std::vector<std::uint8_t> lengths;
  };
  using S = std::string;
  const Case cases[] = {
      {"utf-8", 0, 106, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", kOk, 10, 4, {1, 2, 3, 4}},
      {"utf-8 bad byte counts one",
       0,
       106,
       "\x80"
       "a",
       kOk,
       2,
       2,
       {1, 1}},
      {"utf-8 bad byte ends the walk with bit 0",
       kStop,
       106,
       "a\x80"
       "b",
       kOk,
       1,
       1,
       {1}},
      {"utf-8 cut character with bit 0", kStop, 106, "a\xE2\x82", kOk, 1, 1, {1}},
      {"single-byte", 0, 2251, "\xC0\xC1z", kOk, 3, 3, {1, 1, 1}},
      {"shift_jis",
       0,
       17,
       "\x88\x9F\xB1"
       "a",
       kOk,
       4,
       3,
       {2, 1, 1}},
      {"euc-jp", 0, 18, "\x8E\xB1\xB0\xA1\x8F\xB0\xA1", kOk, 7, 3, {2, 2, 3}},
      {"euc-kr",
       0,
       38,
       "\xB0\xA1"
       "a",
       kOk,
       3,
       2,
       {2, 1}},
      {"gb18030",
       0,
       114,
       "\x81\x30\x81\x30\xB0\xA1"
       "a",
       kOk,
       7,
       3,
       {4, 2, 1}},
      {"big5",
       0,
       2026,
       "\xA4\x40"
       "a",
       kOk,
       3,
       2,
       {2, 1}},
      {"utf-16", 0, 1015, S("a\0\x3D\xD8\x00\xDE", 6), kOk, 6, 2, {2, 4}},
      {"unsupported", 0, 9999, "a", kNotSupported, 1, 99, {}},
  };
  for (const Case& c : cases) {
    std::uint32_t bytes = static_cast<std::uint32_t>(c.in.size());
    std::uint8_t lengths[8] = {};
    std::uint32_t count = 8;
    const StatusCode s =
        Ops().measureChars(g_TextConvModule, c.flags, c.mib, c.in.data(), &bytes, lengths, &count);
    EXPECT_EQ(s, c.status) << c.what;
    if (s != kOk) continue;
    EXPECT_EQ(bytes, c.bytes) << c.what;
    EXPECT_EQ(count, c.count) << c.what;
    EXPECT_EQ(std::vector<std::uint8_t>(lengths, lengths + count), c.lengths) << c.what;
  }
  // The lengths buffer is filled only while it has room; counting goes on.
  std::uint32_t bytes = 5;
  std::uint8_t two[3] = {0, 0, 0xEE};
  std::uint32_t count = 2;
  ASSERT_EQ(Ops().measureChars(g_TextConvModule, 0, 106, "abcde", &bytes, two, &count), kOk);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(two[2], 0xEE);
}

TEST(TextConv, ListAndCanonicalCharsets) {
  const std::uint32_t* list = nullptr;
  std::uint32_t count = 0;
  ASSERT_EQ(Ops().listCharsets(g_TextConvModule, &list, &count), kOk);
  const std::vector<std::uint32_t> expected = {106,  2025, 114,  2026, 18,   17,
                                               38,   2250, 2251, 2252, 2253, 2254,
                                               2255, 2256, 2257, 2258, 8000, 2084};
  EXPECT_EQ(std::vector<std::uint32_t>(list, list + count), expected);
  struct Case {
    std::uint32_t mib;
    StatusCode status;
    std::uint32_t cls, canonical;
  };
  for (const Case& c :
       {Case{113, kOk, 18, 2025}, Case{5, kNotSupported, 0, 0}, Case{111, kNotSupported, 0, 0},
        Case{4, kOk, 1, 2252}, Case{10, kOk, 1, 2253}, Case{18, kOk, 19, 18},
        Case{114, kOk, 20, 114}, Case{106, kOk, 24, 106}, Case{1013, kOk, 52, 1013},
        Case{2101, kOk, 18, 2026}, Case{2088, kOk, 1, 2088}, Case{17, kOk, 18, 17}}) {
    std::uint32_t cls = 0, canonical = 0;
    EXPECT_EQ(Ops().canonicalCharset(g_TextConvModule, c.mib, &cls, &canonical), c.status) << c.mib;
    EXPECT_EQ(cls, c.cls) << c.mib;
    EXPECT_EQ(canonical, c.canonical) << c.mib;
  }
  // Every offered charset is its own canonical member and converts both ways.
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t cls = 0, canonical = 0;
    ASSERT_EQ(Ops().canonicalCharset(g_TextConvModule, list[i], &cls, &canonical), kOk);
    EXPECT_EQ(canonical, list[i]);
    EXPECT_EQ(Convert(0, list[i], "ok", 1014).out, std::string("o\0k\0", 4)) << list[i];
    EXPECT_EQ(Convert(0, 1014, std::string("o\0k\0", 4), list[i]).out, "ok") << list[i];
  }
}

std::uint32_t g_fakeCodePage = 0;
std::uint32_t FakeCodePage() noexcept {
  return g_fakeCodePage;
}

TEST(TextConv, DefaultCharsetFollowsTheLocaleCodePage) {
  TextConv_SetLocaleCodePageQuery(FakeCodePage);
  struct Case {
    std::uint32_t codePage, mib;
  };
  for (const Case& c :
       {Case{437, 2252}, Case{1252, 2252}, Case{850, 0}, Case{0, 0}, Case{65001, 106},
        Case{932, 17}, Case{20866, 2084}, Case{51949, 38}, Case{874, 8000}}) {
    g_fakeCodePage = c.codePage;
    std::uint32_t mib = 12345;
    EXPECT_EQ(Ops().getDefaultCharset(g_TextConvModule, &mib), kOk);
    EXPECT_EQ(mib, c.mib) << c.codePage;
  }
  TextConv_SetLocaleCodePageQuery(nullptr);
  EXPECT_EQ(Charset_CodePageFromCodeset("UTF-8"), 65001u);
  EXPECT_EQ(Charset_CodePageFromCodeset("utf8"), 65001u);
  EXPECT_EQ(Charset_CodePageFromCodeset("ANSI_X3.4-1968"), 1252u);
  EXPECT_EQ(Charset_CodePageFromCodeset("KOI8-R"), 20866u);
  EXPECT_EQ(Charset_CodePageFromCodeset("EUC-JP"), 51932u);
  EXPECT_EQ(Charset_CodePageFromCodeset("nonsense"), 0u);

  // The real query reads the environment's locale.
  const char* saved = std::getenv("LC_ALL");
  const std::string keep = saved ? saved : "";
  setenv("LC_ALL", "C.UTF-8", 1);
  std::uint32_t mib = 0;
  EXPECT_EQ(Ops().getDefaultCharset(g_TextConvModule, &mib), kOk);
  EXPECT_EQ(mib, 106u);
  if (saved) {
    setenv("LC_ALL", keep.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST(TextConv, ALatin1LocaleDefaultsToWindows1252) {
  if (Latin1LocalePath().empty()) GTEST_SKIP() << "no Latin-1 locale (localedef, locales)";
  ScopedEnv locPath("LOCPATH", Latin1LocalePath());
  ScopedEnv lcAll("LC_ALL", std::string(kLatin1Locale));
  std::uint32_t mib = 0;
  EXPECT_EQ(Ops().getDefaultCharset(g_TextConvModule, &mib), kOk);
  EXPECT_EQ(mib, 2252u);
}

TEST(TextConv, Utf8ToWideUsesTheCallersBufferWhenItFits) {
  char16_t buffer[8];
  char16_t* out = buffer;
  std::uint32_t count = 8;
  ASSERT_EQ(Ops().utf8ToWide(g_TextConvModule, "h\xC3\xA9", 0, &out, &count), kOk);
  EXPECT_EQ(out, buffer);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::u16string(out), u"h\u00E9");
}

TEST(TextConv, Utf8ToWideAllocatesWhenTooSmallOrNoRoomForTheTerminator) {
  for (std::uint32_t capacity : {0u, 1u, 2u, 3u}) {
    char16_t buffer[4] = {};
    char16_t* out = capacity ? buffer : nullptr;
    std::uint32_t count = capacity;
    ASSERT_EQ(Ops().utf8ToWide(g_TextConvModule, "abc", 3, &out, &count), kOk) << capacity;
    EXPECT_NE(out, buffer) << capacity;
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::u16string(out), u"abc");
    Engine_Free(out);
  }
}

TEST(TextConv, WideToUtf8) {
  char buffer[4];
  char* out = buffer;
  std::uint32_t count = 4;
  ASSERT_EQ(Ops().wideToUtf8(g_TextConvModule, u"\u20AC", 0, &out, &count), kOk);
  EXPECT_EQ(out, buffer);
  EXPECT_EQ(count, 3u);
  EXPECT_STREQ(out, "\xE2\x82\xAC");
  out = buffer;
  count = 4;
  ASSERT_EQ(Ops().wideToUtf8(g_TextConvModule, u"\u20AC\u20AC", 2, &out, &count), kOk);
  EXPECT_NE(out, buffer);
  EXPECT_EQ(count, 6u);
  EXPECT_STREQ(out, "\xE2\x82\xAC\xE2\x82\xAC");
  Engine_Free(out);
}

// --- Streams -------------------------------------------------------------

struct Mem {
  EngineObject* s = nullptr;
  explicit Mem(const std::string& bytes = {}) {
    EXPECT_EQ(MemStream_Create(g_MemStreamModule, nullptr, 0, 16, kMemCreateWritable, &s), kOk);
    if (!bytes.empty()) {
      std::uint32_t n = 0;
      EXPECT_EQ(
          StreamOf(s).writeAt(s, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &n),
          kOk);
    }
  }
  ~Mem() {
    if (s) {
      EXPECT_EQ(StreamOf(s).close(s), kOk);
    }
  }
  std::string Bytes() const {
    std::uint32_t size = 0;
    EXPECT_EQ(StreamOf(s).getSize(s, &size), kOk);
    std::string out(size, '\0');
    std::uint32_t n = 0;
    if (size) {
      EXPECT_EQ(StreamOf(s).readAt(s, 0, out.data(), size, &n), kOk);
    }
    return out.substr(0, n);
  }
};

std::string Utf8Of(std::uint32_t mib, const std::string& in) {
  std::vector<char> out(in.size() * 4 + 8);
  TextConvRequest r{};
  r.sourceMib = mib;
  r.source = in.data();
  r.sourceLength = static_cast<std::uint32_t>(in.size());
  r.targetMib = 106;
  r.target = out.data();
  r.targetCapacity = static_cast<std::uint32_t>(out.size());
  EXPECT_EQ(TextConv_Convert(g_TextConvModule, &r), kOk);
  return std::string(out.data(), r.targetCapacity);
}

TEST(TextConvStream, CharactersCutByPieceEdgesConvertWhole) {
  // Multi-byte characters at every offset around the 1024-byte edges.
  struct Case {
    std::uint32_t mib;
    std::string unit;
  };
  for (const Case& c :
       {Case{106, "\xE2\x82\xAC"}, Case{106, "\xF0\x9F\x98\x80"}, Case{114, "\x81\x30\x81\x30"},
        Case{17, "\x88\x9F"}, Case{1014, std::string("\x3D\xD8\x00\xDE", 4)}}) {
    for (std::uint32_t lead = 0; lead < 4; ++lead) {
      std::string text;
      for (std::uint32_t i = 0; i < lead; ++i)
        text += c.mib == 1014 ? std::string("x\0", 2) : "x";
      while (text.size() < 3000)
        text += c.unit;
      Mem source(text);
      Mem target("head");
      std::uint32_t written = 0;
      ASSERT_EQ(Ops().convertStream(g_TextConvModule, c.mib, source.s, 0, kTextConvToEnd, 106,
                                    target.s, 4, &written),
                kOk);
      const std::string expected = Utf8Of(c.mib, text);
      EXPECT_EQ(target.Bytes(), "head" + expected) << c.mib << " lead " << lead;
      EXPECT_EQ(written, expected.size());
      EXPECT_EQ(expected.find('\0'), std::string::npos) << c.mib;
    }
  }
}

TEST(TextConvStream, RangesAndErrors) {
  Mem source("0123456789");
  Mem target;
  std::uint32_t written = 99;
  EXPECT_EQ(Ops().convertStream(g_TextConvModule, 106, source.s, 10, kTextConvToEnd, 106, target.s,
                                0, &written),
            kTextConvStartBeyondEnd);
  EXPECT_EQ(written, 99u);
  ASSERT_EQ(Ops().convertStream(g_TextConvModule, 106, source.s, 2, 3, 1014, target.s, 0, &written),
            kOk);
  EXPECT_EQ(target.Bytes(), std::string("2\0"
                                        "3\0"
                                        "4\0",
                                        6));
  EXPECT_EQ(written, 6u);
  EXPECT_EQ(Ops().convertStream(g_TextConvModule, 9999, source.s, 0, 3, 106, target.s, 0, nullptr),
            kNotSupported);
}

TEST(TextConvStream, ByteOrderMarkHoldsForEveryPiece) {
  std::string text("\xFE\xFF", 2);
  for (int i = 0; i < 1500; ++i)
    text += std::string("\0a", 2);
  Mem source(text);
  Mem target;
  ASSERT_EQ(Ops().convertStream(g_TextConvModule, 1015, source.s, 0, kTextConvToEnd, 106, target.s,
                                0, nullptr),
            kOk);
  EXPECT_EQ(target.Bytes(), std::string(1500, 'a'));
}

TEST(TextConvStream, Validate) {
  struct Case {
    const char* what;
    std::string text;
    StatusCode status;
  };
  std::string edge(1023, 'a');
  edge += "\xE2\x82\xAC";
  for (const Case& c :
       {Case{"ascii", "hello", kOk}, Case{"multi-byte at the piece edge", edge, kOk},
        Case{"overlong is lenient", "\xC0\x80", kOk},
        Case{"six-byte form is lenient", "\xFC\x80\x80\x80\x80\x80", kOk},
        Case{"stray continuation", "a\x80", kTextConvMalformed},
        Case{"cut at the end", "a\xE2\x82", kTextConvMalformed},
        Case{"broken",
             "\xE2"
             "a",
             kTextConvMalformed},
        Case{"FF", "\xFF", kTextConvMalformed}}) {
    Mem s(c.text);
    std::uint32_t length = kTextConvToEnd;
    EXPECT_EQ(Ops().validateStream(g_TextConvModule, s.s, 0, &length, 106), c.status) << c.what;
    if (c.status == kOk) {
      EXPECT_EQ(length, c.text.size()) << c.what;
    }
  }
  Mem s("abc");
  std::uint32_t length = 3;
  EXPECT_EQ(Ops().validateStream(g_TextConvModule, s.s, 0, &length, 2252), kTextConvMalformed);
}

}  // namespace
