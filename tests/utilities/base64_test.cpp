#include "engine/utilities/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "tests/support/peer.h"
#include "tests/support/test_streams.h"

namespace {

using test_streams::Contents;
using test_streams::FaultyStream;
using test_streams::NewMemStream;

const Base64Ops& Ops() {
  return OpsOf<Base64Ops>(g_Base64Module);
}

std::string Encode(std::string_view bytes) {
  std::uint32_t length = 0;
  EXPECT_EQ(Ops().encodedLength(g_Base64Module, static_cast<std::uint32_t>(bytes.size()), &length),
            kOk);
  std::string out(length, '?');
  EXPECT_EQ(Ops().encode(g_Base64Module, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                         out.data()),
            kOk);
  return out;
}

std::string Decode(std::string_view text) {
  std::uint32_t bound = 0;
  EXPECT_EQ(Ops().decodedLength(g_Base64Module, static_cast<std::uint32_t>(text.size()), &bound),
            kOk);
  std::string out(bound + 1, '#');  // one guard byte
  std::uint32_t written = 0xDEAD;
  EXPECT_EQ(Ops().decode(g_Base64Module, text.data(), static_cast<std::uint32_t>(text.size()),
                         out.data(), &written),
            kOk);
  EXPECT_LE(written, bound);
  EXPECT_EQ(out.back(), '#') << "wrote past the bound";
  out.resize(written);
  return out;
}

std::string RandomBytes(std::mt19937& rng, std::size_t n) {
  std::string s(n, '\0');
  for (auto& c : s)
    c = static_cast<char>(rng());
  return s;
}

// A memory stream holding `bytes`, closed at scope end.
struct Mem {
  explicit Mem(const std::string& bytes = {}) : s(NewMemStream(bytes)) {}
  ~Mem() { EXPECT_EQ(StreamOf(s).close(s), kOk); }
  Mem(const Mem&) = delete;
  Mem& operator=(const Mem&) = delete;
  EngineObject* s;
};

// The peer's wrapped output with CR LF between lines and none at the end.
std::string PeerWrapped(const std::string& bytes, std::uint32_t lineLength) {
  int status = -1;
  std::string lf = RunPeer("base64 -w " + std::to_string(lineLength), bytes, &status);
  EXPECT_EQ(status, 0);
  if (!lf.empty() && lf.back() == '\n') lf.pop_back();
  std::string crlf;
  for (const char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

TEST(Base64, TestVectorsOfTheRfc) {
  const std::pair<const char*, const char*> kCases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, coded] : kCases) {
    EXPECT_EQ(Encode(plain), coded);
    EXPECT_EQ(Decode(coded), plain);
  }
  // All 64 characters, in both directions.
  const std::string all = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  EXPECT_EQ(Encode(Decode(all)), all);
}

TEST(Base64, LengthsAndTheirLimits) {
  struct Row {
    std::uint32_t count;
    bool encodable;  // the encoded length fits 32 bits
    std::uint32_t encoded;
    std::uint32_t decodedBound;
  };
  const Row kRows[] = {
      {0, true, 0, 0},
      {1, true, 4, 3},
      {3, true, 4, 3},
      {4, true, 8, 3},
      {5, true, 8, 6},
      {0xBFFFFFFDu, true, 0xFFFFFFFCu, 0x90000000u},
      {0xBFFFFFFEu, false, 0, 0x90000000u},
      {0xFFFFFFFFu, false, 0, 0xC0000000u},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.count);
    std::uint32_t n = 7;
    EXPECT_EQ(Base64_EncodedLength(g_Base64Module, row.count, &n),
              row.encodable ? kOk : kBadArgument);
    EXPECT_EQ(n, row.encodable ? row.encoded : 7u);
    EXPECT_EQ(Base64_DecodedLength(g_Base64Module, row.count, &n), kOk);
    EXPECT_EQ(n, row.decodedBound);
  }
  EXPECT_EQ(Base64_EncodedLength(g_Base64Module, 0xBFFFFFFEu, nullptr), kNullOutPointer);
  EXPECT_EQ(Base64_DecodedLength(g_Base64Module, 1, nullptr), kNullOutPointer);
  EXPECT_EQ(Base64_Encode(g_Base64Module, nullptr, 1, nullptr), kBadArgument);
  EXPECT_EQ(Base64_Decode(g_Base64Module, nullptr, 1, nullptr, nullptr), kBadArgument);
  std::uint32_t written = 9;
  EXPECT_EQ(Base64_Decode(g_Base64Module, nullptr, 0, nullptr, &written), kOk);
  EXPECT_EQ(written, 0u);
}

TEST(Base64, DecodingStopsAtTheFirstCharacterOutsideTheAlphabet) {
  const std::pair<const char*, std::string> kCases[] = {
      {"Zg==", "f"},          // "=" stops; two characters give one byte
      {"Zm8=Zm9v", "fo"},     // nothing after the stop, even valid groups
      {"Zm9vY", "foo"},       // a lone trailing character gives nothing
      {"Zm9vYm", "foob"},     // two give one byte
      {"Zm9vYmE", "fooba"},   // three give two
      {"Zm9v\nYmFy", "foo"},  // the buffer decoder skips nothing
      {"Zm9v-_", "foo"},      // URL-safe characters are not in this alphabet
      {"Zm\x80v", "f"},       // a high byte
      {"=Zm9v", ""},
  };
  for (const auto& [text, plain] : kCases)
    EXPECT_EQ(Decode(text), plain) << text;
}

TEST(Base64, BuffersAgreeWithTheBase64ToolOnRandomInput) {
  KELPO_REQUIRE_PEER("base64");
  std::mt19937 rng(4648);
  for (int i = 0; i < 40; ++i) {
    const std::size_t n = i < 8 ? static_cast<std::size_t>(i)
                                : std::uniform_int_distribution<std::size_t>(0, 70000)(rng);
    const std::string bytes = RandomBytes(rng, n);
    int status = -1;
    const std::string peer = RunPeer("base64 -w 0", bytes, &status);
    ASSERT_EQ(status, 0);
    const std::string ours = Encode(bytes);
    ASSERT_EQ(ours, peer) << "length " << n;
    EXPECT_EQ(Decode(ours), bytes);
    EXPECT_EQ(RunPeer("base64 -d", ours, &status), bytes);
    EXPECT_EQ(status, 0);
  }
}

TEST(Base64, EncodeStreamBreaksLinesAsTheToolDoesAcrossPieces) {
  KELPO_REQUIRE_PEER("base64");
  std::mt19937 rng(2045);
  // Lengths around the 384-byte pieces, and line lengths that do and do not
  // divide a piece's 512 characters.
  const std::size_t kLengths[] = {0, 1, 2, 3, 57, 383, 384, 385, 768, 1000, 5000, 23456};
  const std::uint32_t kLines[] = {0, 1, 4, 7, 64, 76, 512, 513, 100000};
  for (const std::size_t n : kLengths) {
    const std::string bytes = RandomBytes(rng, n);
    for (const std::uint32_t line : kLines) {
      SCOPED_TRACE(testing::Message() << "length " << n << " line " << line);
      Mem in("xyz" + bytes + "tail");
      Mem out("HEAD");
      std::uint32_t written = 0;
      ASSERT_EQ(Base64_EncodeStream(g_Base64Module, in.s, 3, static_cast<std::uint32_t>(n), out.s,
                                    4, line, &written),
                kOk);
      const std::string expected = line == 0 ? Encode(bytes) : PeerWrapped(bytes, line);
      EXPECT_EQ(Contents(out.s), "HEAD" + expected);
      EXPECT_EQ(written, expected.size());
    }
  }
  // Exactly two lines of 76: a break between them, none after the last.
  const std::string bytes = RandomBytes(rng, 114);
  Mem in(bytes);
  Mem out;
  std::uint32_t written = 0;
  ASSERT_EQ(Base64_EncodeStream(g_Base64Module, in.s, 0, 114, out.s, 0, 76, &written), kOk);
  const std::string text = Contents(out.s);
  ASSERT_EQ(text.size(), 154u);
  EXPECT_EQ(text.substr(76, 2), "\r\n");
  EXPECT_EQ(text.find('\r', 78), std::string::npos);
}

TEST(Base64, StreamRangesAreClippedToTheInput) {
  Mem in("foobar");
  Mem out;
  std::uint32_t written = 99;
  // A start at the end writes nothing.
  ASSERT_EQ(Base64_EncodeStream(g_Base64Module, in.s, 6, 10, out.s, 0, 0, &written), kOk);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(Contents(out.s), "");
  ASSERT_EQ(Base64_EncodeStream(g_Base64Module, in.s, 3, 0xFFFFFFFFu, out.s, 0, 0, &written), kOk);
  EXPECT_EQ(Contents(out.s), "YmFy");
  EXPECT_EQ(written, 4u);

  Mem text("  Zm9v\r\nYmFy  ");
  Mem plain;
  ASSERT_EQ(Base64_DecodeStream(g_Base64Module, text.s, 0, 0xFFFFFFFFu, plain.s, 0, &written), kOk);
  EXPECT_EQ(Contents(plain.s), "foobar");
  EXPECT_EQ(written, 6u);
  ASSERT_EQ(Base64_DecodeStream(g_Base64Module, text.s, 100, 5, plain.s, 0, &written), kOk);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(Base64_DecodeStream(g_Base64Module, nullptr, 0, 1, plain.s, 0, &written), kBadArgument);
  EXPECT_EQ(Base64_EncodeStream(g_Base64Module, text.s, 0, 1, nullptr, 0, 0, &written),
            kBadArgument);
  // Output that would pass 4 GiB is refused before anything is written.
  EXPECT_EQ(Base64_EncodeStream(g_Base64Module, in.s, 0, 6, plain.s, 0xFFFFFFFCu, 0, &written),
            kBadArgument);
}

TEST(Base64, DecodeStreamCarriesGroupsAcrossPiecesAndWhiteSpace) {
  std::mt19937 rng(512);
  for (int i = 0; i < 60; ++i) {
    const std::string bytes =
        RandomBytes(rng, std::uniform_int_distribution<std::size_t>(0, 4000)(rng));
    const std::string coded = Encode(bytes);
    // White space at random places moves the group boundaries off the
    // 512-byte pieces.
    std::string spaced;
    for (const char c : coded) {
      while (rng() % 5 == 0)
        spaced += "\t\n\r "[rng() % 4];
      spaced += c;
    }
    Mem in(spaced);
    Mem out("keep");
    std::uint32_t written = 0;
    ASSERT_EQ(Base64_DecodeStream(g_Base64Module, in.s, 0,
                                  static_cast<std::uint32_t>(spaced.size()), out.s, 4, &written),
              kOk);
    ASSERT_EQ(Contents(out.s), "keep" + bytes) << "case " << i;
    EXPECT_EQ(written, bytes.size());
  }
}

TEST(Base64, DecodeStreamStopsForGoodAtPaddingOrAForeignCharacter) {
  // Past the stop nothing more is taken, even in later pieces.
  const std::string head = Encode("first part!");  // 11 bytes: ends in "="
  const std::string tail(2000, 'A');
  for (const std::string& text :
       {head + tail, Encode("first part!!") + "\f" + tail, Encode("first part!!") + "." + tail}) {
    Mem in(text);
    Mem out;
    std::uint32_t written = 0;
    ASSERT_EQ(Base64_DecodeStream(g_Base64Module, in.s, 0, static_cast<std::uint32_t>(text.size()),
                                  out.s, 0, &written),
              kOk);
    const std::string plain = Contents(out.s);
    EXPECT_EQ(plain.substr(0, 11), "first part!");
    EXPECT_LE(plain.size(), 12u);
    EXPECT_EQ(written, plain.size());
  }
}

TEST(Base64, StreamDecodingOfTheToolsWrappedOutput) {
  KELPO_REQUIRE_PEER("base64");
  std::mt19937 rng(76);
  for (const std::size_t n : {0u, 1u, 57u, 1000u, 65537u}) {
    const std::string bytes = RandomBytes(rng, n);
    int status = -1;
    const std::string wrapped = RunPeer("base64", bytes, &status);  // 76 per line, LF
    ASSERT_EQ(status, 0);
    Mem in(wrapped);
    Mem out;
    std::uint32_t written = 0;
    ASSERT_EQ(Base64_DecodeStream(g_Base64Module, in.s, 0,
                                  static_cast<std::uint32_t>(wrapped.size()), out.s, 0, &written),
              kOk);
    EXPECT_EQ(Contents(out.s), bytes);
  }
}

TEST(Base64, StreamFailuresArePassedOn) {
  const std::string bytes(2000, 'x');
  Mem in(bytes);
  FaultyStream full;
  full.SetBudget(600);  // the second piece of 512 characters does not fit
  std::uint32_t written = 77;
  EXPECT_TRUE(
      IsFailure(Base64_EncodeStream(g_Base64Module, in.s, 0, 2000, full.get(), 0, 0, &written)));
  EXPECT_EQ(written, 77u);

  FaultyStream shortWrites;
  shortWrites.SetBudget(600, true);
  EXPECT_EQ(Base64_EncodeStream(g_Base64Module, in.s, 0, 2000, shortWrites.get(), 0, 0, &written),
            kStreamShortWrite);

  Mem coded(Encode(bytes));
  FaultyStream fullPlain;
  fullPlain.SetBudget(100);
  EXPECT_TRUE(IsFailure(
      Base64_DecodeStream(g_Base64Module, coded.s, 0, 4000, fullPlain.get(), 0, &written)));
  EXPECT_EQ(written, 77u);
}

}  // namespace
