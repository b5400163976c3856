#include "engine/utilities/scrambler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "tests/support/failing_allocator.h"

namespace {

const ScramblerOps& Ops() {
  return OpsOf<ScramblerOps>(g_ScramblerModule);
}

// Runs an operation that hands back an engine block; "" and the status when
// it fails.
template <class Fn>
std::string Take(Fn fn, const char* text, StatusCode* status) {
  char* out = nullptr;
  *status = fn(g_ScramblerModule, text, &out);
  if (*status != kOk) {
    EXPECT_EQ(out, nullptr) << "written on failure";
    return {};
  }
  std::string result(out);
  Engine_Free(out);
  return result;
}

std::string Encode(const char* text, StatusCode* status) {
  return Take(Ops().encode, text, status);
}
std::string Decode(const char* text, StatusCode* status) {
  return Take(Ops().decode, text, status);
}

TEST(Scrambler, AbcScramblesUnderTheRollingKeyAndBack) {
  // Worked by hand from key 9: 'a' (6,1) gives A 9 and key 12, 'b' (6,2) gives
  // E 0 and key 10, 'c' (6,3) gives D D.
  static_assert(kScramblerKey == 9);
  StatusCode s = kFailed;
  const std::string scrambled = Encode("abc", &s);
  ASSERT_EQ(s, kOk);
  EXPECT_EQ(scrambled, "[A9E0DD]");
  EXPECT_EQ(Decode(scrambled.c_str(), &s), "abc");
  EXPECT_EQ(s, kOk);
  // Equal bytes scramble differently as the key rolls on.
  EXPECT_EQ(Encode("aaaa", &s).size(), 10u);
  EXPECT_NE(Encode("aaaa", &s).substr(1, 2), Encode("aaaa", &s).substr(3, 2));
}

TEST(Scrambler, RandomTextsRoundTripAndHaveTheBracketedForm) {
  std::mt19937 rng(108);
  for (int i = 0; i < 300; ++i) {
    std::string text(std::uniform_int_distribution<std::size_t>(1, 400)(rng), '\0');
    for (auto& c : text)
      c = static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng));
    StatusCode s = kFailed;
    const std::string scrambled = Encode(text.c_str(), &s);
    ASSERT_EQ(s, kOk);
    ASSERT_EQ(scrambled.size(), 2 * text.size() + 2);
    EXPECT_EQ(scrambled.front(), '[');
    EXPECT_EQ(scrambled.back(), ']');
    EXPECT_EQ(scrambled.find_first_not_of("0123456789ABCDEF", 1), scrambled.size() - 1);
    // Found inside surrounding text too.
    const std::string wrapped = "key=" + scrambled + ";rest]";
    EXPECT_EQ(Decode(wrapped.c_str(), &s), text);
    EXPECT_EQ(s, kOk);
  }
}

TEST(Scrambler, MalformedTextsAreRefused) {
  const char* kBad[] = {
      "",            // nothing
      "A9E0DD",      // no bracket
      "xyz[",        // "[" with nothing after it
      "[A9E0D]",     // odd digit count
      "[a9e0dd]",    // lower-case digits
      "[A9E0DD",     // ends before "]"
      "[A9 E0DD]",   // not a digit
      "[A9E0DG]",    // not a hex digit
      "[A9E0DD\0]",  // NUL ends the text before "]"
  };
  for (const char* text : kBad) {
    StatusCode s = kOk;
    Decode(text, &s);
    EXPECT_EQ(s, kFailed) << text;
  }
  // Only the first bracketed part counts; an empty one is an empty text.
  StatusCode s = kOk;
  EXPECT_EQ(Decode("[A9]E0[DD]", &s), "a");
  EXPECT_EQ(s, kOk);
  EXPECT_EQ(Decode("[]", &s), "");
  EXPECT_EQ(s, kOk);
  Encode("", &s);
  EXPECT_EQ(s, kFailed);
  EXPECT_EQ(Scrambler_Encode(g_ScramblerModule, nullptr, nullptr), kNullOutPointer);
  char* out = nullptr;
  EXPECT_EQ(Scrambler_Encode(g_ScramblerModule, nullptr, &out), kFailed);
  EXPECT_EQ(Scrambler_Decode(g_ScramblerModule, nullptr, &out), kFailed);
  EXPECT_EQ(out, nullptr);
}

TEST(Scrambler, RefusedAllocationIsReported) {
  const std::string text(100, 'x');
  LargeBlocksRefused refuse(100);
  StatusCode s = kOk;
  Encode(text.c_str(), &s);
  EXPECT_EQ(s, kOutOfMemory);
  Encode("short", &s);
  EXPECT_EQ(s, kOk);
  const std::string digits = "[" + std::string(200, 'A') + "]";
  Decode(digits.c_str(), &s);
  EXPECT_EQ(s, kOutOfMemory);
}

}  // namespace
