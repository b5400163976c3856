// Our tables against independent converters on valid input: ICU's uconv for
// the single-byte charsets and GB18030, glibc's iconv for the other CJK
// charsets. Documented differences: a byte that the published table leaves
// unassigned decodes as U+FFFD here, where ICU gives the C1 control of the
// same value or a private-use character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"
#include "tests/support/peer.h"

namespace {

std::string Conv(std::uint32_t from, const std::string& in, std::uint32_t to,
                 std::uint32_t* replaced = nullptr) {
  std::vector<char> out(in.size() * 4 + 8);
  TextConvRequest r{};
  r.sourceMib = from;
  r.source = in.data();
  r.sourceLength = static_cast<std::uint32_t>(in.size());
  r.targetMib = to;
  r.target = out.data();
  r.targetCapacity = static_cast<std::uint32_t>(out.size());
  EXPECT_EQ(TextConv_Convert(g_TextConvModule, &r), kOk);
  if (replaced) *replaced = r.replaced;
  return std::string(out.data(), r.targetCapacity);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
    lines.push_back(text.substr(at, nl - at));
  }
  return lines;
}

// The code point of a one-character UTF-8 string (0 when empty).
std::uint32_t CodePoint(const std::string& s) {
  const std::string wide = Conv(106, s, 1013);
  if (wide.size() < 2) return 0;
  return (static_cast<unsigned char>(wide[0]) << 8) | static_cast<unsigned char>(wide[1]);
}

TEST(CharsetPeer, SingleByteCharsetsDecodeAsIcuDoes) {
  KELPO_REQUIRE_PEER("uconv");
  struct Charset {
    std::uint32_t mib;
    const char* icu;
    bool encodes;
  };
  const Charset charsets[] = {
      {2250, "windows-1250", true}, {2251, "windows-1251", true}, {2252, "windows-1252", true},
      {2253, "windows-1253", true}, {2254, "windows-1254", true}, {2255, "windows-1255", true},
      {2256, "windows-1256", true}, {2257, "windows-1257", true}, {2258, "windows-1258", true},
      {8000, "windows-874", true},  {5, "ISO-8859-2", false},     {6, "ISO-8859-3", false},
      {7, "ISO-8859-4", false},     {8, "ISO-8859-5", false},     {9, "ISO-8859-6", false},
      {10, "ISO-8859-7", false},    {11, "ISO-8859-8", false},    {111, "ISO-8859-15", false},
      {2084, "KOI8-R", true},       {2088, "KOI8-U", false},
  };
  for (const Charset& c : charsets) {
    std::string input;
    for (int b = 0; b < 256; ++b) {
      if (b == '\n') continue;
      input += static_cast<char>(b);
      input += '\n';
    }
    int status = 0;
    const std::vector<std::string> theirs =
        Lines(RunPeer(std::string("uconv --from-callback escape-unicode -f ") + c.icu + " -t UTF-8",
                      input, &status));
    const std::vector<std::string> ours = Lines(Conv(c.mib, input, 106));
    ASSERT_EQ(ours.size(), 255u) << c.icu;
    ASSERT_EQ(theirs.size(), 255u) << c.icu;
    for (std::size_t i = 0; i < ours.size(); ++i) {
      const int byte = static_cast<int>(i < '\n' ? i : i + 1);
      if (ours[i] == "\xEF\xBF\xBD") {
        const std::uint32_t cp = CodePoint(theirs[i]);
        const bool documented = theirs[i].rfind("%X", 0) == 0 || cp == 0x1A || cp == 0xFFFD ||
                                cp == static_cast<std::uint32_t>(byte) ||
                                (cp >= 0xE000 && cp <= 0xF8FF);
        EXPECT_TRUE(documented) << c.icu << " byte " << byte;
        continue;
      }
      EXPECT_EQ(ours[i], theirs[i]) << c.icu << " byte " << byte;
      if (c.encodes) {
        // Every decodable byte encodes back to itself.
        const std::string wide = Conv(c.mib, std::string(1, static_cast<char>(byte)), 1014);
        EXPECT_EQ(Conv(1014, wide, c.mib), std::string(1, static_cast<char>(byte)))
            << c.icu << " byte " << byte;
      }
    }
  }
}

struct Cjk {
  std::uint32_t mib;
  const char* peer;  // command reading the charset on stdin, writing UTF-8
  std::vector<std::pair<int, int>> leads, trails;
};

// Every two-byte code of a CJK table, decoded by us and by the peer; each
// decoded character encodes back to a code that decodes to it again (to the
// same code except where the table holds duplicates).
void CheckCjk(const Cjk& c) {
  std::string input;
  std::vector<std::string> codes;
  for (auto [lo, hi] : c.leads) {
    for (int a = lo; a <= hi; ++a) {
      for (auto [tlo, thi] : c.trails) {
        for (int b = tlo; b <= thi; ++b) {
          const std::string code{static_cast<char>(a), static_cast<char>(b)};
          std::uint32_t replaced = 0;
          Conv(c.mib, code, 1014, &replaced);
          if (replaced) continue;  // unassigned in our table
          codes.push_back(code);
          input += code + "\n";
        }
      }
    }
  }
  ASSERT_GT(codes.size(), 5000u);
  int status = 0;
  const std::vector<std::string> theirs = Lines(RunPeer(c.peer, input, &status));
  const std::vector<std::string> ours = Lines(Conv(c.mib, input, 106));
  ASSERT_EQ(ours.size(), codes.size());
  ASSERT_EQ(theirs.size(), codes.size()) << c.peer;
  int differences = 0, duplicates = 0;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (ours[i] != theirs[i] && ++differences <= 5) {
      ADD_FAILURE() << c.peer << " code " << std::hex << (codes[i][0] & 0xFF) << " "
                    << (codes[i][1] & 0xFF);
    }
    const std::string wide = Conv(106, ours[i], 1014);
    const std::string back = Conv(1014, wide, c.mib);
    if (back != codes[i]) {
      ++duplicates;
      EXPECT_EQ(Conv(c.mib, back, 106), ours[i]) << c.peer;
    }
  }
  EXPECT_EQ(differences, 0) << c.peer;
  EXPECT_LE(duplicates, 10) << c.peer;  // code page 950 repeats ten box-drawing codes
}

TEST(CharsetPeer, EucKr) {
  KELPO_REQUIRE_PEER("iconv");
  CheckCjk({38, "iconv -f EUC-KR -t UTF-8", {{0xA1, 0xFE}}, {{0xA1, 0xFE}}});
}

TEST(CharsetPeer, EucJp) {
  KELPO_REQUIRE_PEER("iconv");
  CheckCjk({18, "iconv -f EUC-JP -t UTF-8", {{0xA1, 0xFE}}, {{0xA1, 0xFE}}});
}

TEST(CharsetPeer, ShiftJis) {
  KELPO_REQUIRE_PEER("iconv");
  CheckCjk({17,
            "iconv -f SHIFT_JIS -t UTF-8",
            {{0x81, 0x9F}, {0xE0, 0xEF}},
            {{0x40, 0x7E}, {0x80, 0xFC}}});
}

TEST(CharsetPeer, Big5) {
  KELPO_REQUIRE_PEER("iconv");
  CheckCjk({2026, "iconv -f BIG5 -t UTF-8", {{0xA1, 0xF9}}, {{0x40, 0x7E}, {0xA1, 0xFE}}});
}

TEST(CharsetPeer, Gb18030TwoByteCodes) {
  KELPO_REQUIRE_PEER("uconv");
  CheckCjk({114, "uconv -f GB18030 -t UTF-8", {{0x81, 0xFE}}, {{0x40, 0x7E}, {0x80, 0xFE}}});
}

TEST(CharsetPeer, Gb18030FourByteFormsOfTheBmpRoundTrip) {
  KELPO_REQUIRE_PEER("uconv");
  // Every BMP code point outside the surrogates: UTF-16 -> GB18030 by us and
  // by ICU must agree, and decode back.
  std::string wide;
  for (std::uint32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    wide += static_cast<char>(cp & 0xFF);
    wide += static_cast<char>(cp >> 8);
  }
  std::uint32_t replaced = 0;
  const std::string ours = Conv(1014, wide, 114, &replaced);
  EXPECT_EQ(replaced, 0u);
  int status = 0;
  EXPECT_EQ(ours, RunPeer("uconv -f UTF-16LE -t GB18030", wide, &status));
  EXPECT_EQ(Conv(114, ours, 1014), wide);
}

}  // namespace
