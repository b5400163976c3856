#include "engine/formats/razo_doc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/razo_doc_internal.h"
#include "engine/runtime/allocator.h"
#include "tests/formats/razo_fixture.h"
#include "tests/support/fake_device.h"

namespace {

using razo_fixture::Json;
using razo_fixture::Opened;
using razo_fixture::Ops;
using razo_fixture::ReadAll;
using razo_fixture::Write;
using record_db_fixtures::GetBE;
using record_db_fixtures::ParseRecords;

class RaZoDoc : public ::testing::Test {
 protected:
  void SetUp() override { KELPO_REQUIRE_PEER("python3"); }
};

// Text that holds every byte value, words and line breaks.
std::string SampleText(std::size_t size, unsigned seed = 7) {
  std::mt19937 rng(seed);
  std::string t;
  for (int c = 0; c < 256; ++c)
    t.push_back(static_cast<char>(c));
  static const char* kWords[] = {"alpha ", "beta ", "gamma\n", "delta ", "\xe9t\xe9 ", "zz "};
  while (t.size() < size) {
    t += kWords[rng() % 6];
    if (rng() % 50 == 0) t.push_back(static_cast<char>(rng() % 256));
  }
  t.resize(size);
  return t;
}

// --- text ----------------------------------------------------------------------

TEST_F(RaZoDoc, TextOfEveryBlockKindReadsBack) {
  struct Case {
    const char* what;
    std::size_t size;
    int n;
    const char* coding;
  };
  const Case cases[] = {
      {"own coder, one block per group", 3 * 4096 + 17, 1, "h"},
      {"own coder, 8 blocks per group, 11 blocks", 10 * 4096 + 5, 8, "h"},
      {"zlib dynamic blocks re-packed", 5 * 4096 - 3, 1, "z"},
      {"stored, every pad", 4096 + 4096 + 4093 + 4, 1, "s"},
      {"mixed coded and stored in a group of 3", 7 * 4096 + 2, 3, "hshshhsh"},
      {"exactly one block", 4096, 1, "h"},
      {"one byte", 1, 1, "s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = SampleText(c.size, static_cast<unsigned>(c.size));
    const std::string spec = "{\"text\":" + Json(text) + ",\"n\":" + std::to_string(c.n) +
                             ",\"coding\":\"" + c.coding + "\"}";
    Opened doc(Write(spec));
    ASSERT_EQ(doc.OpenStatus(), kOk);
    std::string got;
    ASSERT_EQ(ReadAll(doc.h(), &got), kOk);
    EXPECT_TRUE(got == text) << "first difference at "
                             << std::mismatch(got.begin(), got.end(), text.begin()).first -
                                    got.begin();
    // Backwards across every block edge.
    for (std::uint32_t p = 4096; p <= text.size(); p += 4096) {
      const std::uint8_t* t = nullptr;
      std::uint32_t n = 5000;
      ASSERT_EQ(Ops().getTextBefore(doc.h(), p, &t, &n), kOk);
      EXPECT_EQ(n, 4096u);
      EXPECT_EQ(std::memcmp(t, text.data() + p - n, n), 0);
    }
  }
}

TEST_F(RaZoDoc, GroupsPlaceTablesAndBlocksByRecordArithmetic) {
  // N = 8: block 8 is record 11 and its tables are in record 10.
  const std::string text = SampleText(9 * 4096 + 1);
  const std::string file = Write("{\"text\":" + Json(text) + ",\"n\":8}");
  const auto records = ParseRecords(file);
  ASSERT_GE(records.size(), 13u);
  EXPECT_EQ(records[1][1], 1);   // tables of group 0
  EXPECT_EQ(records[10][1], 1);  // tables of group 1
  EXPECT_EQ(records[11][1], 2);  // block 8
  Opened doc(file);
  const std::uint8_t* t = nullptr;
  std::uint32_t n = 4096;
  ASSERT_EQ(Ops().getText(doc.h(), 8 * 4096, &t, &n), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t), n), text.substr(8 * 4096, 4096));
}

TEST_F(RaZoDoc, StoredBlockDropsItsPadBytes) {
  // Ten bytes are stored as type 6 with c = 3.
  const std::string file = Write("{\"text\":\"0123456789\",\"coding\":\"s\"}");
  const auto records = ParseRecords(file);
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[2][1], 6);
  EXPECT_EQ(GetBE(records[2], 2, 2), 3u);
  Opened doc(file);
  std::string got;
  ASSERT_EQ(ReadAll(doc.h(), &got), kOk);
  EXPECT_EQ(got, "0123456789");
}

}  // namespace
