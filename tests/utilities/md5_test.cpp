#include "engine/utilities/md5.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "engine/runtime/module_table.h"
#include "tests/support/peer.h"

namespace {

const Md5Ops& Ops() {
  return OpsOf<Md5Ops>(g_Md5Module);
}

// The hex digest of text fed in pieces of at most `piece` bytes (0: at once).
std::string Md5Hex(std::string_view text, std::size_t piece = 0) {
  Md5Context c;
  EXPECT_EQ(Ops().init(g_Md5Module, &c), kOk);
  if (piece == 0) piece = text.size() + 1;
  for (std::size_t at = 0; at < text.size(); at += piece) {
    const std::size_t n = std::min(piece, text.size() - at);
    EXPECT_EQ(Ops().update(g_Md5Module, &c, text.data() + at, static_cast<std::uint32_t>(n)), kOk);
  }
  std::uint8_t digest[16];
  EXPECT_EQ(Ops().final(g_Md5Module, &c, digest), kOk);
  std::string hex(32, '?');
  EXPECT_EQ(Ops().hexDigest(g_Md5Module, digest, hex.data()), kOk);
  return hex;
}

TEST(Md5, TestSuiteOfTheRfc) {
  const struct {
    const char* text;
    const char* digest;
  } kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Md5Hex(c.text), c.digest);
    EXPECT_EQ(Md5Hex(c.text, 1), c.digest);
    EXPECT_EQ(Md5Hex(c.text, 7), c.digest);
  }
}

TEST(Md5, AgreesWithMd5sumAcrossPaddingBoundariesAndRandomLengths) {
  KELPO_REQUIRE_PEER("md5sum");
  std::mt19937 rng(1321);
  // Every length up to three blocks covers the padding cases (55, 56, 63, 64,
  // 119, 120 bytes); random lengths and pieces cover the buffering.
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 192; ++n)
    lengths.push_back(n);
  for (int i = 0; i < 12; ++i)
    lengths.push_back(std::uniform_int_distribution<std::size_t>(193, 300000)(rng));
  for (const std::size_t length : lengths) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    std::string data(length, '\0');
    for (auto& b : data)
      b = static_cast<char>(rng());
    int status = -1;
    const std::string peer = RunPeer("md5sum", data, &status);
    ASSERT_EQ(status, 0);
    const std::string expected = peer.substr(0, 32);
    EXPECT_EQ(Md5Hex(data), expected);
    const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 200)(rng);
    EXPECT_EQ(Md5Hex(data, piece), expected) << "in pieces of " << piece;
  }
}

TEST(Md5, FinalWipesTheContextAndHexIsLowerCaseHighNibbleFirst) {
  Md5Context c;
  ASSERT_EQ(Md5_Init(g_Md5Module, &c), kOk);
  ASSERT_EQ(Md5_Update(g_Md5Module, &c, "some secret text", 16), kOk);
  std::uint8_t digest[16];
  ASSERT_EQ(Md5_Final(g_Md5Module, &c, digest), kOk);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&c);
  for (std::size_t i = 0; i < sizeof c; ++i)
    ASSERT_EQ(bytes[i], 0) << "byte " << i;

  const std::uint8_t sample[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                   0xF0, 0x0F, 0x00, 0xFF, 0x10, 0x01, 0xA5, 0x5A};
  char hex[33];
  hex[32] = '#';  // no terminator is written
  ASSERT_EQ(Md5_HexDigest(g_Md5Module, sample, hex), kOk);
  EXPECT_EQ(std::string(hex, 33), "0123456789abcdeff00f00ff1001a55a#");
}

TEST(Md5, NullArgumentsAreRefused) {
  Md5Context c;
  std::uint8_t digest[16];
  char hex[32];
  EXPECT_EQ(Md5_Init(g_Md5Module, nullptr), kNullOutPointer);
  ASSERT_EQ(Md5_Init(g_Md5Module, &c), kOk);
  EXPECT_EQ(Md5_Update(g_Md5Module, &c, nullptr, 0), kOk);
  EXPECT_EQ(Md5_Update(g_Md5Module, &c, nullptr, 1), kBadArgument);
  EXPECT_EQ(Md5_Update(g_Md5Module, nullptr, "x", 1), kBadArgument);
  EXPECT_EQ(Md5_Final(g_Md5Module, &c, nullptr), kNullOutPointer);
  EXPECT_EQ(Md5_Final(g_Md5Module, nullptr, digest), kBadArgument);
  EXPECT_EQ(Md5_HexDigest(g_Md5Module, nullptr, hex), kBadArgument);
  EXPECT_EQ(Md5_HexDigest(g_Md5Module, digest, nullptr), kNullOutPointer);
  // The refused calls left the context usable.
  ASSERT_EQ(Md5_Final(g_Md5Module, &c, digest), kOk);
  ASSERT_EQ(Md5_HexDigest(g_Md5Module, digest, hex), kOk);
  EXPECT_EQ(std::string(hex, 32), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
