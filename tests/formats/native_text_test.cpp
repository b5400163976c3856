#include "engine/formats/native_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/allocator.h"
#include "tests/formats/native_fixture.h"

namespace {

using namespace native_fixture;
namespace nw = native_writer;

constexpr std::uint32_t kBlock = 4096;

// Appends the UTF-8 form of code point c.
void PutUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-8 text of about `size` bytes in which a character of 2 to 4 bytes
// crosses every block end, cut 1 to 3 bytes before it.
std::string Utf8Text(std::uint32_t size, std::mt19937& rng) {
  std::string out;
  std::uint32_t boundary = kBlock;
  while (out.size() < size) {
    const std::uint32_t cut = 1 + rng() % 3;  // bytes of the character before the end
    if (out.size() + 8 >= boundary) {
      while (out.size() < boundary - cut)
        out.push_back(static_cast<char>('a' + rng() % 26));
      const std::uint32_t length = cut + 1 + rng() % (4 - cut);
      PutUtf8(out, length == 2 ? 0x3B1u : length == 3 ? 0x4E2Du : 0x1F600u);
      boundary += kBlock;
      continue;
    }
    switch (rng() % 6) {
      case 0:
        PutUtf8(out, 0xA0 + rng() % 0x700);
        break;
      case 1:
        PutUtf8(out, 0x800 + rng() % 0xD000);
        break;
      case 2:
        PutUtf8(out, 0x10000 + rng() % 0x1000);
        break;
      default:
        out.push_back(static_cast<char>(" etaoinshrdlu\n"[rng() % 14]));
    }
  }
  return out;
}

std::string ByteText(std::uint32_t size, std::mt19937& rng, std::uint32_t low) {
  std::string out(size, '\0');
  for (char& c : out)
    c = static_cast<char>(low + rng() % (256 - low));
  return out;
}

// Reads the whole text through GetText in windows of `window` bytes.
std::string ReadAll(EngineObject* h, std::uint32_t window) {
  std::string out;
  std::uint32_t length = 0;
  EXPECT_EQ(NativeDoc_GetTextLength(h, &length), kOk);
  while (out.size() < length) {
    const std::uint8_t* p = nullptr;
    std::uint32_t n = window;
    const StatusCode s = NativeDoc_GetText(h, static_cast<std::uint32_t>(out.size()), &p, &n);
    if (s != kOk || p == nullptr || n == 0) {
      ADD_FAILURE() << "no text at " << out.size();
      break;
    }
    out.append(reinterpret_cast<const char*>(p), n);
  }
  return out;
}

struct TextCase {
  const char* name;
  int kind;  // 0 UTF-8 across block ends, 1 windows-1252, 2 UTF-16
  std::uint32_t size;
  std::uint32_t blocksPerRecord;
  const char* modes;
};

TEST(NativeText, WrittenTextsReadBackThroughEveryWindow) {
  KELPO_REQUIRE_PEER("python3");
  const TextCase cases[] = {
      {"utf8 coded, 2 a record", 0, 5 * kBlock + 1000, 2, "[\"coded\"]"},
      {"utf8 stored and coded mixed", 0, 6 * kBlock + 17, 3, "[\"stored\", \"coded\"]"},
      {"utf8 through zlib's encoder", 0, 3 * kBlock - 5, 1, "[\"zlib\", \"stored\", \"coded\"]"},
      {"windows-1252", 1, 4 * kBlock + 4095, 2, "[\"coded\", \"coded\", \"stored\"]"},
      {"utf-16", 2, 3 * kBlock + 2, 4, "[\"stored\", \"zlib\"]"},
      {"exactly two blocks", 1, 2 * kBlock, 1, "[\"coded\"]"},
      {"one short block", 0, 13, 2, "[\"stored\"]"},
  };
  std::mt19937 rng(1234);
  std::vector<std::string> texts;
  std::vector<std::string> descriptions;
  for (const TextCase& c : cases) {
    texts.push_back(c.kind == 0   ? Utf8Text(c.size, rng)
                    : c.kind == 1 ? ByteText(c.size, rng, 0x20)
                                  : ByteText(c.size & ~1u, rng, 0));
    const std::uint16_t charset = c.kind == 0 ? 106 : c.kind == 1 ? 2252 : 1013;
    const int flags = c.kind == 0 ? 8 : 0;
    descriptions.push_back("{\"blocks_per_record\": " + std::to_string(c.blocksPerRecord) +
                           ", \"block_modes\": " + c.modes +
                           ", \"charset\": " + std::to_string(charset) +
                           ", \"doc_flags\": " + std::to_string(flags) + "}");
  }
  std::string error;
  const std::vector<std::string> files = native_tool::WriteAll(descriptions, texts, &error);
  ASSERT_EQ(files.size(), std::size(cases)) << error;
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const TextCase& c = cases[k];
    SCOPED_TRACE(c.name);
    const std::string& text = texts[k];
    const std::string& file = files[k];
    NativeHandler h;
    ASSERT_EQ(h.Open(file), kOk);
    ASSERT_NE(h.State().recordCount, 0);
    EXPECT_EQ((h.State().flags & NativeStateFlag::Utf16) != 0, c.kind == 2);
    const auto total = static_cast<std::uint32_t>(text.size());

    EXPECT_EQ(ReadAll(h.handler(), kBlock), text);
    EXPECT_EQ(ReadAll(h.handler(), 7), text);

    // Windows at and around every block end, and at random positions.
    std::vector<std::uint32_t> positions = {0, total - 1};
    for (std::uint32_t b = kBlock; b < total; b += kBlock) {
      for (std::uint32_t d : {1u, 2u, 3u, 4u})
        positions.push_back(b - d);
      positions.push_back(b);
      positions.push_back(b + 1);
    }
    for (int k = 0; k < 200; ++k)
      positions.push_back(rng() % total);
    for (const std::uint32_t p : positions) {
      if (p >= total) continue;
      for (const std::uint32_t want : {1u, 5u, 300u, 9000u}) {
        const std::uint8_t* at = nullptr;
        std::uint32_t n = want;
        ASSERT_EQ(NativeDoc_GetText(h.handler(), p, &at, &n), kOk) << p;
        ASSERT_NE(at, nullptr);
        const std::uint32_t inBlock = kBlock - p % kBlock;
        // Never less than the block holds, more only by the character
        // completed from the next block.
        EXPECT_GE(n, std::min({want, inBlock, total - p})) << p;
        EXPECT_LE(n, std::min(want, total - p)) << p;
        EXPECT_LE(n, inBlock + kNativeMaxCarry) << p;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(at), n), text.substr(p, n)) << p;
        if (c.kind == 0 && want >= 9000) {
          // A page that ends in a byte with the high bit set carries the
          // next block's leading high-bit bytes, at most 8: the carry-over
          // length at every block end, whatever character straddles it.
          const std::uint32_t end = p - p % kBlock + kBlock;
          std::uint32_t carry = 0;
          if (end < total && (static_cast<unsigned char>(text[end - 1]) & 0x80) != 0) {
            while (carry < 8 && end + carry < total &&
                   (static_cast<unsigned char>(text[end + carry]) & 0x80) != 0)
              ++carry;
          }
          EXPECT_EQ(n, std::min({want, inBlock + carry, total - p})) << p;
        }
        if (p + 1 > total) continue;
        const std::uint32_t end = p + 1;
        n = want;
        ASSERT_EQ(NativeDoc_GetTextBefore(h.handler(), end, &at, &n), kOk) << end;
        const std::uint32_t back = (end - 1) % kBlock + 1;
        EXPECT_EQ(n, std::min(want, back)) << end;
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(at), n), text.substr(end - n, n));
      }
    }
  }
}

TEST(NativeText, EndsOfTheTextAnswerNothing) {
  KELPO_REQUIRE_PEER("python3");
  const std::string file = native_tool::Write("{}", std::string(5000, 'x'));
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  struct Case {
    bool before;
    std::uint32_t position;
  };
  for (const Case c :
       {Case{false, 5000}, Case{false, 0xFFFFFFFF}, Case{true, 0}, Case{true, 5001}}) {
    const std::uint8_t* p = reinterpret_cast<const std::uint8_t*>("x");
    std::uint32_t n = 10;
    const StatusCode s = c.before ? NativeDoc_GetTextBefore(h.handler(), c.position, &p, &n)
                                  : NativeDoc_GetText(h.handler(), c.position, &p, &n);
    EXPECT_EQ(s, kOk) << c.position;
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(n, 0u);
  }
  const std::uint8_t* p = nullptr;
  std::uint32_t n = 10;
  ASSERT_EQ(NativeDoc_GetTextBefore(h.handler(), 5000, &p, &n), kOk);
  EXPECT_EQ(n, 10u);
}

TEST(NativeText, TwoPagesAreKeptAndTheReplacedPageAlternates) {
  KELPO_REQUIRE_PEER("python3");
  std::mt19937 rng(5);
  const std::string text = ByteText(4 * kBlock, rng, 0x20);
  const std::string file = native_tool::Write("{\"blocks_per_record\": 1}", text);
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();
  auto read = [&](std::uint32_t p) {
    const std::uint8_t* at = nullptr;
    std::uint32_t n = 1;
    EXPECT_EQ(NativeDoc_GetText(h.handler(), p, &at, &n), kOk);
    return at != nullptr && *at == static_cast<std::uint8_t>(text[p]);
  };
  EXPECT_TRUE(read(10));      // block 0 into page 0
  EXPECT_TRUE(read(kBlock));  // block 1 into page 1
  EXPECT_EQ(s.pageReplace, 0u);
  EXPECT_TRUE(read(20));  // hit on page 0: the index still flips
  EXPECT_EQ(s.pageReplace, 1u);
  EXPECT_TRUE(read(2 * kBlock));  // block 2 replaces page 1
  EXPECT_EQ(s.pageStart[0], 0u);
  EXPECT_EQ(s.pageStart[1], 2 * kBlock);
  // Decoded once per page: a record that disappears is not needed for hits.
  EXPECT_TRUE(read(30));
  EXPECT_TRUE(read(2 * kBlock + 5));
  // GetTextBefore fills pages as GetText does, NUL and carried bytes alike.
  const std::uint8_t* at = nullptr;
  std::uint32_t n = 100;
  ASSERT_EQ(NativeDoc_GetTextBefore(h.handler(), 3 * kBlock + 1, &at, &n), kOk);
  EXPECT_EQ(n, 1u);
  const std::uint32_t page = s.pageStart[0] == 3 * kBlock ? 0 : 1;
  EXPECT_EQ(s.pageStart[page], 3 * kBlock);
  EXPECT_EQ(s.page[page][s.pageLength[page]], 0);
}

// Record k of a written file with its text-record header fields.
struct TextRecordView {
  std::uint32_t T;  // where the word offsets start
};
TextRecordView ViewOf(const std::string& record) {
  const std::uint32_t H = static_cast<unsigned char>(record[0]);
  return {H + static_cast<unsigned char>(record[H])};
}

TEST(NativeText, DamagedTextRecordsAnswerFailuresAndNeverReadPastTheRecord) {
  KELPO_REQUIRE_PEER("python3");
  std::mt19937 rng(9);
  const std::string text = ByteText(2 * kBlock + 100, rng, 0x20);
  // Two blocks a record: record 1 holds blocks 0 (coded) and 1 (stored),
  // record 2 block 2 (coded).
  const std::string file = native_tool::Write(
      "{\"blocks_per_record\": 2, \"block_modes\": [\"coded\", \"stored\"]}", text);
  ASSERT_FALSE(file.empty());
  const std::vector<std::string> good = Records(file);
  const std::uint32_t N = 2;

  struct Case {
    const char* name;
    std::function<void(std::vector<std::string>&)> damage;
    std::uint32_t position;  // read with GetText
    StatusCode decode;       // NativeStore_DecodeTextBlock of the block holding it
  };
  const Case cases[] = {
      {"prefix length 0", [](auto& r) { r[1][4] = 0; }, 0, kDocMalformed},
      {"record too short for its offsets", [](auto& r) { r[1].resize(ViewOf(r[1]).T + 3 * N + 2); },
       0, kDocMalformed},
      {"block end past the record", [](auto& r) { nw::PutBE16(r[1], ViewOf(r[1]).T + 4, 0xFFF0); },
       0, kDocMalformed},
      {"block start after its end",
       [](auto& r) {
         const std::uint32_t T = ViewOf(r[1]).T;
         nw::PutBE16(r[1], T + 2, nw::GetBE16(r[1], T + 4) + 1);
       },
       0, kDocMalformed},
      {"code table past the record", [](auto& r) { nw::PutBE16(r[1], ViewOf(r[1]).T + 2, 0x7FFF); },
       0, kDocMalformed},
      {"code table that does not decode",
       [](auto& r) {
         const std::uint32_t T = ViewOf(r[1]).T;
         const std::uint32_t w0 = nw::GetBE16(r[1], T);
         r[1][4 * w0] = r[1][4 * w0 + 1] = r[1][4 * w0 + 2] = r[1][4 * w0 + 3] = '\xFF';
       },
       0, kFailed},
      {"stored block longer than a block",
       [](auto& r) {
         // Block 1 (stored) ends 1025 words after it starts.
         const std::uint32_t T = ViewOf(r[1]).T;
         const std::uint32_t from = nw::GetBE16(r[1], T + 4);
         r[1].resize(4 * (from + 1025), 'z');
         nw::PutBE16(r[1], T + 6, static_cast<std::uint16_t>(from + 1025));
       },
       kBlock, kDocMalformed},
      {"stored block shorter than its padding",
       [](auto& r) {
         const std::uint32_t T = ViewOf(r[1]).T;
         nw::PutBE16(r[1], T + 6, nw::GetBE16(r[1], T + 4));
         r[1][T + 2 * N + 4 + 1] = 0x07;
       },
       kBlock, kDocMalformed},
      {"text record of the wrong type", [](auto& r) { r[2][1] = 13; }, 2 * kBlock, kDocMalformed},
      {"text record missing", [](auto& r) { r[2] = std::string(3, '\0'); }, 2 * kBlock,
       kDocMalformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> records = good;
    c.damage(records);
    NativeHandler h;
    ASSERT_EQ(h.Open(Rebuild(records)), kOk);
    std::vector<std::uint8_t> out(kBlock);
    std::uint32_t length = kBlock;
    EXPECT_EQ(NativeStore_DecodeTextBlock(&h.State(), NativeRecordType::Text, c.position / kBlock,
                                          out.data(), &length),
              c.decode);
    const std::uint8_t* p = nullptr;
    std::uint32_t n = 10;
    EXPECT_EQ(NativeDoc_GetText(h.handler(), c.position, &p, &n), kFailed);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(n, 0u);
    n = 10;
    EXPECT_EQ(NativeDoc_GetTextBefore(h.handler(), c.position + 1, &p, &n), kFailed);
    // The other blocks still read.
    const std::uint32_t other = c.position < kBlock ? 2 * kBlock : 0;
    n = 10;
    EXPECT_EQ(NativeDoc_GetText(h.handler(), other, &p, &n), kOk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), n), text.substr(other, 10));
  }
}

TEST(NativeText, TextLongerThanItsBlocksFailsWhereTheBytesAreMissing) {
  KELPO_REQUIRE_PEER("python3");
  std::mt19937 rng(11);
  const std::string text = ByteText(kBlock + 50, rng, 0x20);
  // The header claims 5000 bytes more than the blocks hold: the last block
  // is short, and a third block does not exist.
  const std::string file =
      native_tool::Write("{\"text_length\": " + std::to_string(text.size() + 5000) + "}", text);
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  const std::uint8_t* p = nullptr;
  std::uint32_t n = 100;
  ASSERT_EQ(NativeDoc_GetText(h.handler(), kBlock + 10, &p, &n), kOk);
  EXPECT_EQ(n, 40u);  // only what the block holds
  for (const std::uint32_t at : {kBlock + 50, kBlock + 2000, 2 * kBlock + 10}) {
    n = 100;
    EXPECT_EQ(NativeDoc_GetText(h.handler(), at, &p, &n), kFailed) << at;
    EXPECT_EQ(p, nullptr);
    n = 100;
    EXPECT_EQ(NativeDoc_GetTextBefore(h.handler(), at + 1, &p, &n), kFailed) << at;
  }
}

TEST(NativeText, StoredBlockWithPaddingAndZlibRecordsDecode) {
  KELPO_REQUIRE_PEER("python3");
  // 13 bytes stored: 4 words with 3 bytes of padding.
  const std::string file = native_tool::Write("{\"block_modes\": [\"stored\"]}", "thirteen byte");
  ASSERT_FALSE(file.empty());
  const std::string record = Records(file)[1];
  const TextRecordView v = ViewOf(record);
  EXPECT_EQ(nw::GetBE16(record, v.T + 4) - nw::GetBE16(record, v.T + 2), 4);
  EXPECT_EQ(record[v.T + 2 * 2 + 4], 0x07);
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  std::uint8_t out[kBlock];
  std::uint32_t length = sizeof out;
  ASSERT_EQ(NativeStore_DecodeTextBlock(&h.State(), NativeRecordType::Text, 0, out, &length), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), length), "thirteen byte");
  length = sizeof out;
  EXPECT_EQ(NativeStore_DecodeTextBlock(&h.State(), NativeRecordType::Text, 2, out, &length),
            kDocMalformed);
}

// zlib's own encodings of many inputs, re-packed into the native layout,
// decode with our decoder.
TEST(NativeText, ZlibDynamicBlocksRepackedDecode) {
  KELPO_REQUIRE_PEER("python3");
  std::mt19937 rng(77);
  int checked = 0;
  std::vector<std::string> texts;
  for (int trial = 0; trial < 12; ++trial) {
    const std::uint32_t size = 200 + rng() % 3800;
    std::string text = trial % 2 == 0 ? ByteText(size, rng, 0) : Utf8Text(size, rng);
    text.resize(std::min<std::size_t>(text.size(), kBlock - 1));
    texts.push_back(text);
  }
  const std::vector<std::string> files = native_tool::WriteAll(
      std::vector<std::string>(texts.size(),
                               "{\"blocks_per_record\": 1, \"block_modes\": [\"zlib\"]}"),
      texts);
  ASSERT_EQ(files.size(), texts.size());
  for (std::size_t trial = 0; trial < texts.size(); ++trial) {
    const std::string& text = texts[trial];
    const std::string& file = files[trial];
    const std::string record = Records(file)[1];
    const TextRecordView v = ViewOf(record);
    if ((record[v.T + 2 + 4] & 0x04) != 0) continue;  // zlib chose fixed codes
    ++checked;
    NativeHandler h;
    ASSERT_EQ(h.Open(file), kOk);
    EXPECT_EQ(ReadAll(h.handler(), kBlock), text) << trial;
  }
  EXPECT_GE(checked, 8);
}

TEST(NativeText, WriterStandardStreamsInflateWithZlib) {
  KELPO_REQUIRE_PEER("python3");
  int status = -1;
  const std::string out =
      RunPeer("python3 '" + native_tool::ScriptPath() + "' --self-check", std::string(), &status);
  EXPECT_EQ(status, 0) << out;
}

// ---------------------------------------------------------------------------
// The extra stream.

std::string Be32(std::uint32_t v) {
  std::string s(4, '\0');
  nw::PutBE32(s, 0, v);
  return s;
}

TEST(NativeExtra, HeaderBaseOffsetsNumbersAndStrings) {
  KELPO_REQUIRE_PEER("python3");
  // Header: total, 5 entries (4 are read), then strings; a counted string
  // straddles the first window end.
  std::string stream = Be32(0) + Be32(5);
  for (std::uint32_t k = 0; k < 5; ++k)
    stream += Be32(0x1000 * (k + 1)) + Be32(0xEEEEEEEE);
  stream.resize(kBlock - 3, '.');
  stream += std::string("\x00\x07", 2) + "options";  // u16 length at 4093
  stream += Be32(0xCAFEF00D);                        // u32 at 4102
  stream.resize(2 * kBlock + 10, '-');
  nw::PutBE32(stream, 0, static_cast<std::uint32_t>(stream.size()));
  const std::string file = native_tool::Write(
      "{\"blocks_per_record\": 1, \"extra_hex\": \"" + Hex(stream) + "\"}", "text");
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();
  ASSERT_NE(s.extraWindow, nullptr);
  EXPECT_EQ(s.extraTotal, stream.size());
  ASSERT_EQ(s.extraBaseCount, 4u);
  for (std::uint32_t k = 0; k < 4; ++k)
    EXPECT_EQ(s.extraBase[k], 0x1000 * (k + 1));
  EXPECT_EQ(NativeStore_ReadExtraU16(&s, kBlock - 3), 7);
  EXPECT_EQ(NativeStore_ReadExtraU32(&s, kBlock + 6), 0xCAFEF00Du);
  std::uint8_t* text = nullptr;
  std::uint16_t length = 0;
  ASSERT_EQ(NativeStore_ReadExtraString(&s, kBlock - 3, &text, &length), kOk);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(length, 7);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "options");
  Engine_Free(text);
  // Past the end: nothing, zeros, and no allocation for a count larger than
  // the stream.
  std::uint32_t n = 10;
  EXPECT_EQ(NativeStore_ReadExtra(&s, static_cast<std::uint32_t>(stream.size()), &n), nullptr);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(NativeStore_ReadExtraU32(&s, static_cast<std::uint32_t>(stream.size()) - 2), 0u);
  std::uint8_t* big = nullptr;
  EXPECT_EQ(NativeStore_ReadExtraBytes(&s, 0, 0xFFFFFFFF, true, &big), kMalformed);
  EXPECT_EQ(big, nullptr);
  // A string whose bytes run past the end reads with zeros behind.
  std::uint8_t* tail = nullptr;
  ASSERT_EQ(
      NativeStore_ReadExtraBytes(&s, static_cast<std::uint32_t>(stream.size()) - 2, 5, true, &tail),
      kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(tail), 5), std::string("--\0\0\0", 5));
  Engine_Free(tail);
}

TEST(NativeExtra, NoStreamWithoutRecordsAndAnEmptyHeaderReadsNothing) {
  KELPO_REQUIRE_PEER("python3");
  NativeHandler h;
  ASSERT_EQ(h.Open(native_tool::Write("{}", "text")), kOk);
  EXPECT_EQ(h.State().extraWindow, nullptr);
  std::uint32_t n = 4;
  EXPECT_EQ(NativeStore_ReadExtra(&h.State(), 0, &n), nullptr);
  NativeHandler zero;
  ASSERT_EQ(
      zero.Open(native_tool::Write("{\"extra_hex\": \"" + Hex(Be32(0) + Be32(3)) + "\"}", "text")),
      kOk);
  EXPECT_EQ(zero.State().extraTotal, 0u);
  EXPECT_EQ(zero.State().extraBaseCount, 0u);
}

}  // namespace

namespace {

// The bytes carried over to the end of block 0 complete one character and
// nothing more.
TEST(NativeText, CarryOverTakesTheNextBlocksHighBitBytes) {
  KELPO_REQUIRE_PEER("python3");
  struct Case {
    const char* name;
    std::string tail;  // the last bytes of block 0
    std::string next;  // the first bytes of block 1
    int flags;
    std::uint32_t carried;
  };
  // Every leading byte of block 1 with the high bit set is carried, up to 8,
  // when block 0 ends in such a byte: the page length does not depend on
  // where a UTF-8 character ends, and other multi-byte charsets are served
  // whole too.
  const Case cases[] = {
      {"3-byte character cut after its lead", "ab\xE4", "\xB8\xAD\x80\x80\x80zz", 8, 5},
      {"4-byte character cut after two bytes", "a\xF0\x9F", "\x98\x80\x80\x80", 8, 4},
      {"2-byte character cut after its lead", "ab\xC3", "\xA9\x80\x80", 8, 3},
      {"whole character at the end", "a\xC3\xA9", "\x80\x80\x80", 8, 3},
      {"continuation bytes without a lead", "\x80\x80\x80\x80", "\x80\x80", 8, 2},
      {"at most 8 bytes", "ab\xE4", "\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4", 8, 8},
      {"a double-byte charset's lead at the end", "ab\xB0", "\xA1zz", 8, 1},
      {"block 0 ends in ASCII", "abc", "\xB8\xAD", 8, 0},
      {"next block starts with ASCII", "ab\xE4", "zz\x80", 8, 0},
      {"carry off without the flag", "ab\xE4", "\xB8\xAD", 0, 0},
  };
  std::vector<std::string> texts;
  std::vector<std::string> descriptions;
  for (const Case& c : cases) {
    std::string text(kBlock - c.tail.size(), 'q');
    text += c.tail + c.next + std::string(100, 'r');
    texts.push_back(text);
    descriptions.push_back(
        "{\"blocks_per_record\": 1, \"block_modes\": [\"coded\", \"stored\"], "
        "\"doc_flags\": " +
        std::to_string(c.flags) + "}");
  }
  // A character cut at the end of the text's last block has nothing to
  // complete it from.
  texts.push_back(std::string(kBlock - 1, 'q') + "\xE4");
  descriptions.push_back("{\"doc_flags\": 8}");
  const std::vector<std::string> files = native_tool::WriteAll(descriptions, texts);
  ASSERT_EQ(files.size(), texts.size());
  for (std::size_t k = 0; k < texts.size(); ++k) {
    const bool last = k == std::size(cases);
    SCOPED_TRACE(last ? "cut at the end of the text" : cases[k].name);
    NativeHandler h;
    ASSERT_EQ(h.Open(files[k]), kOk);
    const std::uint8_t* p = nullptr;
    std::uint32_t n = 100;
    ASSERT_EQ(NativeDoc_GetText(h.handler(), kBlock - 1, &p, &n), kOk);
    const std::uint32_t carried = last ? 0 : cases[k].carried;
    EXPECT_EQ(n, 1 + carried);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), n), texts[k].substr(kBlock - 1, n));
    EXPECT_EQ(p[n], 0);  // the NUL follows the carried bytes
    // Block 1 is served from its own page, carried bytes included; the
    // text that ends at block 0 has nothing there.
    n = 3;
    ASSERT_EQ(NativeDoc_GetText(h.handler(), kBlock, &p, &n), kOk);
    if (last) {
      EXPECT_EQ(p, nullptr);
    } else {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), n), texts[k].substr(kBlock, 3));
    }
  }
}

}  // namespace
