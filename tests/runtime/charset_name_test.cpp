#include "engine/runtime/charset_name.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "engine/runtime/charset_tables/charset_tables.h"
#include "engine/runtime/module_table.h"

namespace {

const CharsetNameOps& Ops() {
  return OpsOf<CharsetNameOps>(g_CharsetNameModule);
}

std::uint32_t NameToMib(const std::string& name, StatusCode* status) {
  std::uint32_t mib = 0xDEADBEEF;
  *status = Ops().nameToMib(g_CharsetNameModule, name.c_str(), 0, &mib);
  return mib;
}

TEST(CharsetName, NamesAreFoundInAnyLetterCase) {
  struct Case {
    const char* name;
    std::uint32_t mib;
  };
  for (const Case& c : {Case{"uTf-8", 106}, Case{"UTF-8", 106}, Case{"437", 2011}, Case{"yu", 87},
                        Case{"csisolatin1", 4}, Case{"SHIFT_JIS", 17}, Case{"windows-874", 8000},
                        Case{"EUC-jp", 18}, Case{"gb2312", 2025}, Case{"ks_c_5601-1987", 36},
                        Case{"KOI8-U", 2088}}) {
    StatusCode s;
    EXPECT_EQ(NameToMib(c.name, &s), c.mib) << c.name;
    EXPECT_EQ(s, kOk) << c.name;
  }
  // A counted name needs no terminator.
  std::uint32_t mib = 0;
  EXPECT_EQ(Ops().nameToMib(g_CharsetNameModule, "big5xyz", 4, &mib), kOk);
  EXPECT_EQ(mib, 2026u);
}

TEST(CharsetName, UnknownNamesAnswerNotFoundAndLeaveTheOutput) {
  for (const char* name : {"utf8", "UTF-8 ", "", "zzz", "0", "windows-1259"}) {
    StatusCode s;
    EXPECT_EQ(NameToMib(name, &s), 0xDEADBEEF) << name;
    EXPECT_EQ(s, kNotFound) << name;
  }
}

TEST(CharsetName, EveryTableNameIsFoundWithItsOwnNumber) {
  // Also proves the table is sorted the way the search compares.
  for (std::uint32_t i = 0; i < charset_tables::kCharsetNameCount; ++i) {
    const std::uint8_t* counted = charset_tables::kCharsetNames[i];
    std::string name(reinterpret_cast<const char*>(counted + 1), counted[0]);
    for (char& ch : name)
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    StatusCode s;
    EXPECT_EQ(NameToMib(name, &s), charset_tables::kCharsetNameMibs[i]) << name;
  }
}

TEST(CharsetName, CanonicalNamesRoundTrip) {
  const std::uint32_t mibs[] = {4,    5,    6,    7,    8,    9,    10,   11,   12,   17,   18,
                                38,   106,  111,  114,  1013, 1014, 1015, 2025, 2026, 2084, 2250,
                                2251, 2252, 2253, 2254, 2255, 2256, 2257, 2258, 8000};
  for (std::uint32_t mib : mibs) {
    char buffer[32];
    std::uint32_t length = sizeof buffer;
    ASSERT_EQ(Ops().mibToName(g_CharsetNameModule, mib, buffer, &length), kOk) << mib;
    std::uint32_t back = 0;
    EXPECT_EQ(Ops().nameToMib(g_CharsetNameModule, buffer, length, &back), kOk) << mib;
    EXPECT_EQ(back, mib) << std::string(buffer, length);
  }
  char buffer[16];
  std::uint32_t length = sizeof buffer;
  ASSERT_EQ(Ops().mibToName(g_CharsetNameModule, 17, buffer, &length), kOk);
  EXPECT_EQ(std::string(buffer, length), "Shift-JIS");
}

TEST(CharsetName, ShortBufferReportsTheNeededLength) {
  char buffer[3] = {'x', 'x', 'x'};
  std::uint32_t length = 3;
  EXPECT_EQ(Ops().mibToName(g_CharsetNameModule, 106, buffer, &length), kCharsetNameBufferTooSmall);
  EXPECT_EQ(kCharsetNameBufferTooSmall, static_cast<StatusCode>(0x8A010002u));
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(buffer[0], 'x');
  length = 5;
  char exact[5];
  EXPECT_EQ(Ops().mibToName(g_CharsetNameModule, 106, exact, &length), kOk);
  EXPECT_EQ(std::string(exact, 5), "UTF-8");
}

TEST(CharsetName, NumbersWithoutCanonicalNameAnswerNotFound) {
  for (std::uint32_t mib : {0u, 3u, 2088u, 2101u, 113u, 57u}) {
    char buffer[32];
    std::uint32_t length = 32;
    EXPECT_EQ(Ops().mibToName(g_CharsetNameModule, mib, buffer, &length), kNotFound) << mib;
    EXPECT_EQ(length, 32u);
  }
}

}  // namespace
