#include "engine/formats/native_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/native_table.h"
#include "tests/formats/native_fixture.h"

namespace {

using namespace native_fixture;
namespace nw = native_writer;

// The largest delta and value each number code holds.
constexpr std::uint32_t kCodeMax[4] = {0xFF, 0x7FFF, 0xFFFF, 0x7FFFFFFF};

// Contiguous runs from `start` whose deltas and values fit the codes, with
// many near each code's limits (so extension entries are taken).
std::vector<RunSpec> MakeRuns(std::uint32_t count, int deltaCode, int valueCode, std::mt19937& rng,
                              std::uint32_t start = 0) {
  std::vector<RunSpec> runs;
  std::uint32_t at = start;
  auto pick = [&rng](std::uint32_t max) -> std::uint32_t {
    switch (rng() % 4) {
      case 0:
        return max - rng() % std::min<std::uint32_t>(max, 16);
      case 1:
        return rng() % std::min<std::uint32_t>(max, 0x90);
      default:
        return static_cast<std::uint32_t>(rng() % (std::uint64_t{max} + 1));
    }
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    // Keep positions inside 32 bits over all runs.
    const std::uint32_t delta = std::min(pick(kCodeMax[deltaCode]), 0x00FFFFFFu);
    runs.push_back({at, at + delta + 1, pick(kCodeMax[valueCode])});
    at += delta + 1;
  }
  return runs;
}

void ExpectRun(const NativeRunCursor& c, const RunSpec& r, const char* where) {
  EXPECT_EQ(c.runStart, r.start) << where;
  EXPECT_EQ(c.runEnd, r.end) << where;
  EXPECT_EQ(NativeRun_Value(c), r.value) << where;
}

TEST(NativeRuns, EveryDeltaAndValueCodeReadsBackByPositionAndByStep) {
  KELPO_REQUIRE_PEER("python3");
  std::mt19937 rng(2024);
  std::vector<std::vector<RunSpec>> lists;
  std::vector<std::string> descriptions;
  for (int de = 0; de < 4; ++de) {
    for (int ve = 0; ve < 4; ++ve) {
      lists.push_back(MakeRuns(45, de, ve, rng, 100));
      descriptions.push_back("{\"run_lists\": {\"6\": " + RunListJson(lists.back(), de, ve, 7) +
                             "}}");
    }
  }
  std::string error;
  const std::vector<std::string> files =
      native_tool::WriteAll(descriptions, std::vector<std::string>(16, "x"), &error);
  ASSERT_EQ(files.size(), 16u) << error;
  for (int de = 0; de < 4; ++de) {
    for (int ve = 0; ve < 4; ++ve) {
      SCOPED_TRACE("delta code " + std::to_string(de) + ", value code " + std::to_string(ve));
      const std::vector<RunSpec>& runs = lists[de * 4 + ve];
      const std::string& file = files[de * 4 + ve];
      NativeHandler h;
      ASSERT_EQ(h.Open(file), kOk);
      NativeDocState& s = h.State();
      ASSERT_EQ(s.openList.count, 7);  // 45 runs, 7 a record
      // By position, in random order (moving back and forth inside records
      // and across them): the start, the last position and one inside.
      std::vector<std::uint32_t> order(runs.size());
      for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
      std::shuffle(order.begin(), order.end(), rng);
      for (const std::uint32_t i : order) {
        const RunSpec& r = runs[i];
        for (const std::uint32_t p : {r.start, r.end - 1, r.start + (r.end - r.start) / 2}) {
          std::uint32_t value = 0;
          std::uint32_t start = 0;
          std::uint32_t end = 0;
          ASSERT_EQ(NativeStore_SeekRun(&s, NativeRange::OpenRunList, p, &value, &start, &end), kOk)
              << p;
          EXPECT_EQ(start, r.start) << i;
          EXPECT_EQ(end, r.end) << i;
          EXPECT_EQ(value, r.value) << i;
        }
      }
      // Outside every run.
      for (const std::uint32_t p : {0u, 99u, runs.back().end, 0xFFFFFFFFu})
        EXPECT_EQ(NativeStore_SeekRun(&s, NativeRange::OpenRunList, p, nullptr, nullptr, nullptr),
                  kNotFound)
            << p;
      // Step forward over the whole list, then back.
      NativeRunCursor& c = s.openList;
      ASSERT_EQ(NativeRun_SeekPosition(s.db, &c, runs[0].start, 0), kOk);
      for (std::size_t i = 1; i < runs.size(); ++i) {
        ASSERT_EQ(NativeRun_Next(s.db, &c), kOk) << i;
        ExpectRun(c, runs[i], "next");
      }
      EXPECT_EQ(NativeRun_Next(s.db, &c), kNoMore);
      ExpectRun(c, runs.back(), "after the end");
      for (std::size_t i = runs.size() - 1; i-- > 0;) {
        ASSERT_EQ(NativeRun_Previous(s.db, &c), kOk) << i;
        ExpectRun(c, runs[i], "previous");
      }
      EXPECT_EQ(NativeRun_Previous(s.db, &c), kFailed);
      ExpectRun(c, runs[0], "before the start");
    }
  }
}

TEST(NativeRuns, SeekFindsTheNextRecordOnlyBeforeTheLimit) {
  KELPO_REQUIRE_PEER("python3");
  // Two records with a gap between them: [0, 100) and [200, 300).
  const std::vector<RunSpec> runs = {{0, 50, 1}, {50, 100, 2}, {200, 250, 3}, {250, 300, 4}};
  const std::string file =
      native_tool::Write("{\"run_lists\": {\"6\": " + RunListJson(runs, 0, 0, 2) + "}}", "x");
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();
  NativeRunCursor& c = s.openList;
  EXPECT_EQ(NativeRun_SeekPosition(s.db, &c, 150, 201), kOk);
  ExpectRun(c, runs[2], "gap, limit past the record start");
  EXPECT_EQ(NativeRun_SeekPosition(s.db, &c, 150, 200), kNotFound);
  EXPECT_EQ(c.record, nullptr);
  EXPECT_EQ(NativeRun_SeekPosition(s.db, &c, 300, 0xFFFFFFFF), kNotFound);
  EXPECT_EQ(NativeRun_SeekPosition(s.db, &c, 99, 0), kOk);
  ExpectRun(c, runs[1], "end of the first record");
  ASSERT_EQ(NativeRun_Next(s.db, &c), kOk);
  ExpectRun(c, runs[2], "next crosses the gap");
}

TEST(NativeRuns, SectionsOverSeveralRecordsByNumberAndPosition) {
  KELPO_REQUIRE_PEER("python3");
  std::mt19937 rng(31);
  const std::uint32_t count = 2500;
  std::vector<RunSpec> runs = MakeRuns(count, 2, 2, rng);
  for (std::uint32_t i = 0; i < count; ++i)
    runs[i].value = i % 7;  // section items
  const std::uint32_t textLength = runs.back().end;
  const std::string file = native_tool::Write(
      "{\"run_lists\": {\"1\": " + RunListJson(runs, 2, 2, 1024) + "}, \"section_count\": " +
          std::to_string(count) + ", \"text_length\": " + std::to_string(textLength) +
          ", \"doc_flags\": 4, \"start_section\": 2049, \"start_data_hex\": \"07e40102030405ff\"}",
      "x");
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();
  ASSERT_EQ(s.sections.count, 3);
  for (const std::uint32_t n : {0u, 1023u, 1024u, 2047u, 2048u, 2499u, 5u, 1500u, 0u}) {
    std::uint32_t section = 0;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    ASSERT_EQ(NativeStore_LocateSection(&s, true, n, &section, &start, &end), kOk) << n;
    EXPECT_EQ(section, n);
    EXPECT_EQ(start, runs[n].start);
    EXPECT_EQ(end, runs[n].end);
    ASSERT_EQ(NativeStore_LocateSection(&s, false, runs[n].end - 1, &section, &start, &end), kOk);
    EXPECT_EQ(section, n);
    EXPECT_EQ(start, runs[n].start);
  }
  EXPECT_EQ(NativeStore_LocateSection(&s, true, count, nullptr, nullptr, nullptr), kNoMore);
  EXPECT_EQ(NativeStore_LocateSection(&s, false, textLength, nullptr, nullptr, nullptr), kNoMore);

  // Control 20: the start section located, the date stamp in host order.
  std::uint8_t record[16] = {};
  ASSERT_EQ(NativeDoc_Control(h.handler(), DocControl::StartPosition, 0, record), kYes);
  std::uint32_t index = 0;
  std::uint32_t start = 0;
  std::uint16_t year = 0;
  std::memcpy(&index, record, 4);
  std::memcpy(&start, record + 4, 4);
  std::memcpy(&year, record + 8, 2);
  EXPECT_EQ(index, 2048u);
  EXPECT_EQ(start, runs[2048].start);
  EXPECT_EQ(year, 0x07E4);
  EXPECT_EQ(std::memcmp(record + 10, "\x01\x02\x03\x04\x05\xff", 6), 0);
  std::uint16_t section = 0;
  ASSERT_EQ(NativeDoc_Control(h.handler(), DocControl::StartSection, 0, &section), kOk);
  EXPECT_EQ(section, 2048);
}

TEST(NativeRuns, HeaderControlsAnswerTheirFields) {
  KELPO_REQUIRE_PEER("python3");
  struct Case {
    const char* name;
    std::string json;
    StatusCode start;         // control 20
    StatusCode startSection;  // control 21
  };
  const std::string sections =
      "\"run_lists\": {\"1\": " + RunListJson({{0, 5, 0}, {5, 9, 0}}, 0, 0, 1024) +
      "}, \"section_count\": 2, \"text_length\": 9";
  const Case cases[] = {
      {"no start position flag", "{" + sections + ", \"start_section\": 1}", kNo, kOk},
      {"start section 0", "{" + sections + ", \"doc_flags\": 4}", kNo, kNotSupported},
      {"start section past the count", "{" + sections + ", \"doc_flags\": 4, \"start_section\": 3}",
       kNo, kOk},
      {"no section runs", "{\"doc_flags\": 4, \"start_section\": 1}", kNo, kOk},
      {"start section 2", "{" + sections + ", \"doc_flags\": 4, \"start_section\": 2}", kYes, kOk},
  };
  std::vector<std::string> descriptions;
  for (const Case& c : cases)
    descriptions.push_back(c.json);
  descriptions.push_back("{\"doc_bytes\": [171, 205], \"charset\": 1015}");
  const std::vector<std::string> files =
      native_tool::WriteAll(descriptions, std::vector<std::string>(descriptions.size(), "text"));
  ASSERT_EQ(files.size(), descriptions.size());
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(c.name);
    NativeHandler h;
    ASSERT_EQ(h.Open(files[k]), kOk);
    std::uint8_t record[16] = {};
    EXPECT_EQ(NativeDoc_Control(h.handler(), DocControl::StartPosition, 0, record), c.start);
    std::uint16_t section = 0xFFFF;
    EXPECT_EQ(NativeDoc_Control(h.handler(), DocControl::StartSection, 0, &section),
              c.startSection);
  }
  NativeHandler h;
  ASSERT_EQ(h.Open(files.back()), kOk);
  std::uint8_t bytes[2] = {};
  ASSERT_EQ(NativeDoc_Control(h.handler(), DocControl::HeaderBytes, 0, bytes), kOk);
  EXPECT_EQ(bytes[0], 0xAB);
  EXPECT_EQ(bytes[1], 0xCD);
  std::uint16_t charset = 0;
  ASSERT_EQ(NativeDoc_Control(h.handler(), DocControl::DocumentCharset, 0, &charset), kOk);
  EXPECT_EQ(charset, 1015);
  EXPECT_NE(h.State().flags & NativeStateFlag::Utf16, 0);
}

TEST(NativeRuns, LinkItemsAndParagraphAttributesReadInline) {
  KELPO_REQUIRE_PEER("python3");
  const std::string links =
      "{\"kind\": \"link\", \"runs_per_record\": 2, \"delta_encoding\": 2, \"runs\": "
      "[[0, 10, [4, 1073741824]], [10, 30, [0, 2147483647]], [30, 31, [1, 4294967295]]]}";
  const std::string para =
      "{\"runs_per_record\": 3, \"delta_encoding\": 0, \"runs\": ["
      "[0, 4, {\"fixed_hex\": \"01020304\"}],"
      "[4, 8, {\"fixed_hex\": \"11000000\", \"part_hex\": \"aabb\"}],"
      "[8, 9, {\"fixed_hex\": \"02000000\"}],"
      "[9, 12, {\"fixed_hex\": \"13000000\", \"part_hex\": \"ccdd\"}]]}";
  std::string error;
  const std::string file = native_tool::Write(
      "{\"run_lists\": {\"5\": " + links + "}, \"para_runs\": " + para + "}", "x", &error);
  ASSERT_FALSE(file.empty()) << error;
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();
  struct Link {
    std::uint32_t p;
    std::uint16_t length;
    std::uint32_t target;
  };
  for (const Link l : {Link{3, 4, 0x40000000}, Link{29, 0, 0x7FFFFFFF}, Link{30, 1, 0xFFFFFFFF},
                       Link{0, 4, 0x40000000}}) {
    ASSERT_EQ(NativeRun_SeekPosition(s.db, &s.links, l.p, 0), kOk);
    std::uint16_t length = 0;
    std::uint32_t target = 0;
    NativeRun_Link(s.links, &length, &target);
    EXPECT_EQ(length, l.length) << l.p;
    EXPECT_EQ(target, l.target) << l.p;
  }
  struct Para {
    std::uint32_t p;
    const char* bytes;
    std::uint32_t start;
    std::uint32_t end;
  };
  for (const Para c : {Para{10, "\x13\0\0\0\xcc\xdd", 9, 12}, Para{0, "\x01\x02\x03\x04\0\0", 0, 4},
                       Para{5, "\x11\0\0\0\xaa\xbb", 4, 8}, Para{8, "\x02\0\0\0\0\0", 8, 9}}) {
    std::uint8_t out[6];
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    ASSERT_EQ(NativeStore_GetParagraphAttributes(&s, c.p, out, &start, &end), kOk);
    EXPECT_EQ(std::memcmp(out, c.bytes, 6), 0) << c.p;
    EXPECT_EQ(start, c.start);
    EXPECT_EQ(end, c.end);
  }
  std::uint8_t out[6];
  EXPECT_EQ(NativeStore_GetParagraphAttributes(&s, 12, out, nullptr, nullptr), kNotFound);
}

TEST(NativeRuns, DescriptorColumnsHeldAndOpenedForOneLookup) {
  KELPO_REQUIRE_PEER("python3");
  const std::vector<RunSpec> a = {{0, 10, 1}, {10, 20, 2}};
  const std::vector<RunSpec> b = {{0, 5, 30}, {5, 20, 40}};
  const std::vector<RunSpec> c = {{2, 4, 500}, {4, 18, 600}};
  const std::string file =
      native_tool::Write("{\"run_lists\": {\"2\": " + RunListJson(a, 0, 0, 1) +
                             "}, \"descriptors\": {\"0\": "
                             "{\"columns\": [" +
                             RunListJson(a, 0, 0, 1) + ", " + RunListJson(b, 0, 0, 1) + ", " +
                             RunListJson(c, 0, 2, 1) + "]}}}",
                         "x");
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();
  EXPECT_EQ(s.runLists[0].descriptor.columns, 3);
  EXPECT_EQ(s.runLists[1].descriptor.columns, 0);
  struct Case {
    std::uint32_t column;
    std::uint32_t p;
    StatusCode status;
    std::uint32_t value;
  };
  for (const Case k :
       {Case{0, 12, kOk, 2}, Case{1, 4, kOk, 30}, Case{2, 3, kOk, 500}, Case{2, 17, kOk, 600},
        Case{2, 1, kNotFound, 0}, Case{3, 1, kIndexOutOfRange, 0}}) {
    std::uint32_t value = 0;
    EXPECT_EQ(NativeStore_SeekColumn(&s, 0, k.column, k.p, 0, &value, nullptr, nullptr), k.status)
        << k.column << " " << k.p;
    if (k.status == kOk) {
      EXPECT_EQ(value, k.value);
    }
  }
  EXPECT_EQ(NativeStore_SeekColumn(&s, 1, 1, 0, 0, nullptr, nullptr, nullptr), kIndexOutOfRange);
}

TEST(NativeRuns, ItemIndexServesEveryItemAcrossItsRecords) {
  KELPO_REQUIRE_PEER("python3");
  std::vector<std::string> items;
  std::string hex;
  std::mt19937 rng(8);
  for (int i = 0; i < 11; ++i) {
    std::string item(rng() % 9, '\0');
    for (char& ch : item)
      ch = static_cast<char>(rng());
    items.push_back(item);
    hex += (i ? ", \"" : "\"") + Hex(item) + "\"";
  }
  const std::string file = native_tool::Write(
      "{\"indexes\": {\"2\": {\"items_per_record\": 3, \"items_hex\": [" + hex + "]}}}", "x");
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();
  for (const std::uint32_t n : {10u, 0u, 4u, 3u, 2u, 9u, 5u, 6u, 7u, 8u, 1u}) {
    const std::uint8_t* item = nullptr;
    std::uint32_t length = 99;
    ASSERT_EQ(NativeStore_GetIndexedItem(&s, 2, n, &item, &length), kOk) << n;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(item), length), items[n]) << n;
  }
  const std::uint8_t* item = nullptr;
  std::uint32_t length = 0;
  EXPECT_EQ(NativeStore_GetIndexedItem(&s, 2, 11, &item, &length), kDocMalformed);
  EXPECT_EQ(NativeStore_GetIndexedItem(&s, 0, 0, &item, &length), kNotFound);
}

// ---------------------------------------------------------------------------
// Attribute tables.

TEST(NativeTables, ItemsAreReadAtTheExpectedWidthsWithTheirOptionalParts) {
  KELPO_REQUIRE_PEER("python3");
  // Table 7 stores 6-byte fixed parts (read cut to 4), 4-byte part 1 and a
  // 2-byte part 2 (read zero-filled to 4); 7 items, 3 a block.
  const std::string table7 =
      "{\"widths\": [6, 4, 2], \"items_per_block\": 3, \"items\": ["
      "{\"fixed_hex\": \"0102030405ff\"},"
      "{\"fixed_hex\": \"0a0b0c0d0e0f\", \"parts_hex\": [\"11121314\"]},"
      "{\"fixed_hex\": \"00000000\", \"parts_hex\": [null, \"2122\"]},"
      "{\"fixed_hex\": \"00\", \"parts_hex\": [\"31323334\", \"3536\"]},"
      "{\"fixed_hex\": \"0f\"},"
      "{\"fixed_hex\": \"00\", \"parts_hex\": [\"41424344\"]},"
      "{\"fixed_hex\": \"00\", \"parts_hex\": [\"51525354\", \"5556\"]}]}";
  const std::string file = native_tool::Write("{\"tables\": {\"7\": " + table7 + "}}", "x");
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  NativeDocState& s = h.State();
  ASSERT_TRUE(s.tables[7].present);
  EXPECT_EQ(s.tables[7].blockCount, 3);
  struct Expected {
    const char* fixed;
    const char* part1;  // null: absent (zeros)
    const char* part2;
  };
  const Expected expected[] = {
      {"\x01\x02\x03\x04", nullptr, nullptr},
      {"\x1a\x0b\x0c\x0d", "\x11\x12\x13\x14", nullptr},
      {"\x20\x00\x00\x00", nullptr, "\x21\x22\x00\x00"},
      {"\x30\x00\x00\x00", "\x31\x32\x33\x34", "\x35\x36\x00\x00"},
      {"\x0f\x00\x00\x00", nullptr, nullptr},
      {"\x10\x00\x00\x00", "\x41\x42\x43\x44", nullptr},
      {"\x30\x00\x00\x00", "\x51\x52\x53\x54", "\x55\x56\x00\x00"},
  };
  for (const std::uint32_t n : {7u, 1u, 4u, 2u, 6u, 3u, 5u}) {
    NativeItem item{};
    ASSERT_EQ(NativeStore_ReadItem(&s, 7, n, &item), kOk) << n;
    const Expected& e = expected[n - 1];
    EXPECT_EQ(std::memcmp(item.part[0], e.fixed, 4), 0) << n;
    EXPECT_EQ(item.present[1], e.part1 != nullptr) << n;
    EXPECT_EQ(std::memcmp(item.part[1], e.part1 ? e.part1 : "\0\0\0\0", 4), 0) << n;
    EXPECT_EQ(item.present[2], e.part2 != nullptr) << n;
    EXPECT_EQ(std::memcmp(item.part[2], e.part2 ? e.part2 : "\0\0\0\0", 4), 0) << n;
  }
  NativeItem item{};
  EXPECT_EQ(NativeStore_ReadItem(&s, 7, 8, &item), kDocMalformed);   // past the last block's items
  EXPECT_EQ(NativeStore_ReadItem(&s, 7, 10, &item), kDocMalformed);  // past the blocks
  EXPECT_EQ(NativeStore_ReadItem(&s, 3, 1, &item), kDocMalformed);   // no such table
  // Item 0 is the default, read without the document.
  ASSERT_EQ(NativeStore_ReadItem(&s, 0, 0, &item), kOk);
  EXPECT_EQ(item.part[0][0], 0);
  EXPECT_EQ(item.part[0][1], kNativeDefaultSizeClass);
  ASSERT_EQ(NativeStore_ReadItem(&s, 5, 0, &item), kOk);
  for (const auto& part : item.part)
    for (const std::uint8_t b : part)
      EXPECT_EQ(b, 0);
}

TEST(NativeTables, CharacterFormatsMapStylesFontsAndColours) {
  KELPO_REQUIRE_PEER("python3");
  // Table 0 stores 1-byte fonts (size class read as 0: the default stays).
  const std::string tables =
      "\"0\": {\"widths\": [1], \"items\": [{\"fixed_hex\": \"01\"}, {\"fixed_hex\": \"03\"}]},"
      "\"1\": {\"widths\": [4], \"items\": [{\"fixed_hex\": \"00102030\"},"
      " {\"fixed_hex\": \"00405060\"}]},"
      "\"2\": {\"widths\": [2, 2, 1], \"items\": [{\"fixed_hex\": \"0001\"},"
      " {\"fixed_hex\": \"0000\", \"parts_hex\": [\"0002\", \"00\"]}]},"
      "\"7\": {\"widths\": [4, 4], \"items\": ["
      "{\"fixed_hex\": \"05000101\"},"
      "{\"fixed_hex\": \"0a380002\"},"
      "{\"fixed_hex\": \"02010200\"}]}";
  const std::vector<RunSpec> formats = {{0, 10, 1}, {10, 20, 2}, {20, 30, 3}, {30, 40, 0}};
  const std::string file =
      native_tool::Write("{\"tables\": {" + tables +
                             "}, \"run_lists\": {\"3\": " + RunListJson(formats, 0, 0, 4) + "}}",
                         "x");
  ASSERT_FALSE(file.empty());
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  struct Case {
    std::uint32_t p;
    std::uint16_t kind;
    std::uint16_t size;
    std::uint16_t style;
    std::uint8_t fg[3];
    std::uint8_t bg[3];
    std::uint32_t end;
  };
  const Case cases[] = {
      // b0 = 5: bold and underline; font 1 (kind 1 → 5); pair 1: foreground
      // colour 1.
      {5,
       5,
       12,
       NativeStyle::Bold | NativeStyle::Underline | NativeStyle::Foreground,
       {0x10, 0x20, 0x30},
       {0, 0, 0},
       10},
      // b0 = 0x0a: oblique; b1 = 0x38: strike, low, high; pair 2: background
      // colour 2.
      {10,
       2,
       12,
       NativeStyle::Oblique | NativeStyle::StrikeOut | NativeStyle::Low | NativeStyle::High |
           NativeStyle::Background,
       {0, 0, 0},
       {0x40, 0x50, 0x60},
       20},
      // b0 = 2: italic; b1 bit 0: bold; font 2 (kind 3 → 3).
      {29, 3, 12, NativeStyle::Italic | NativeStyle::Bold, {0, 0, 0}, {0, 0, 0}, 30},
      {35, 2, 12, 0, {0, 0, 0}, {0, 0, 0}, 40},
      {40, 2, 12, 0, {0, 0, 0}, {0, 0, 0}, kRunToEnd},
  };
  for (const Case& c : cases) {
    NativeCharFormat f{};
    std::uint32_t end = 0;
    ASSERT_EQ(NativeStore_GetCharFormat(&h.State(), c.p, &f, &end), kOk) << c.p;
    EXPECT_EQ(f.fontKind, c.kind) << c.p;
    EXPECT_EQ(f.sizeClass, c.size) << c.p;
    EXPECT_EQ(f.style, c.style) << c.p;
    EXPECT_EQ(std::memcmp(f.foreground, c.fg, 3), 0) << c.p;
    EXPECT_EQ(std::memcmp(f.background, c.bg, 3), 0) << c.p;
    EXPECT_EQ(end, c.end) << c.p;
  }
}

// ---------------------------------------------------------------------------
// Damaged documents.

// A document with every structure of these readers, for damaging.
std::string FullDocument() {
  const std::vector<RunSpec> runs = {{0, 40, 1}, {40, 300, 2}, {300, 301, 0x123}};
  return "{\"run_lists\": {\"1\": " + RunListJson(runs, 1, 2, 1024) +
         ", \"2\": " + RunListJson(runs, 3, 3, 2) + ", \"6\": " + RunListJson(runs, 1, 1, 3) +
         "}, \"descriptors\": {\"0\": {\"columns\": [[0, 0], " + RunListJson(runs, 2, 2, 3) +
         "]}}, \"tables\": {\"1\": {\"widths\": [4], \"items_per_block\": 2, \"items\": ["
         "{\"fixed_hex\": \"00010203\"}, {\"fixed_hex\": \"00040506\"}, "
         "{\"fixed_hex\": \"00070809\"}]}}, \"indexes\": {\"0\": {\"items_per_record\": 2, "
         "\"items_hex\": [\"aa\", \"bbbb\", \"cc\"]}}, \"text_length\": 301, "
         "\"section_count\": 3, \"pos_list0\": 0}";
}

struct Located {
  std::uint16_t record;  // absolute record number
};

TEST(NativeDamaged, EachDamageAnswersTheDamagedDocumentStatus) {
  KELPO_REQUIRE_PEER("python3");
  std::string error;
  const std::string file = native_tool::Write(FullDocument(), std::string(301, 't'), &error);
  ASSERT_FALSE(file.empty()) << error;
  const std::vector<std::string> good = Records(file);
  const std::uint16_t directory = RecordList(file, 0);
  const std::uint16_t descriptor = RecordList(file, 1);
  const std::uint16_t sections = Range(file, 1).first;
  const std::uint16_t list6 = Range(file, 6).first;
  const std::uint16_t indexTop = Range(file, 11).first;
  ASSERT_NE(directory, 0);
  ASSERT_NE(descriptor, 0);
  ASSERT_NE(indexTop, 0);

  // What each case reads after opening, and what it must answer.
  enum class Read { Sections, List6, Item, Table };
  struct Case {
    const char* name;
    std::function<void(std::vector<std::string>&)> damage;
    StatusCode open;
    Read read;
    StatusCode answer;
  };
  auto runRecord = [](std::vector<std::string>& r, std::uint16_t k, std::uint32_t at,
                      std::uint32_t v, int bytes) {
    if (bytes == 1) r[k][4 + at] = static_cast<char>(v);
    if (bytes == 2) nw::PutBE16(r[k], 4 + at, static_cast<std::uint16_t>(v));
    if (bytes == 4) nw::PutBE32(r[k], 4 + at, v);
  };
  const std::uint16_t table1 = static_cast<std::uint16_t>(directory - 2);  // its two blocks
  const Case cases[] = {
      {"descriptor with more columns than it holds", [&](auto& r) { r[descriptor][4 + 3] = 9; },
       kDocMalformed, Read::Sections, kOk},
      {"descriptor naming records past the database",
       [&](auto& r) { nw::PutBE16(r[descriptor], 4 + 4 + 4, 0xFFF0); }, kDocMalformed,
       Read::Sections, kOk},
      {"table directory entry past its record", [&](auto& r) { r[directory][4 + 2] = 5; },
       kDocMalformed, Read::Sections, kOk},
      {"table directory width offset below the entry fields",
       [&](auto& r) { r[directory][4 + 3] = 7; }, kDocMalformed, Read::Sections, kOk},
      {"table directory with items per block 0",
       [&](auto& r) { nw::PutBE16(r[directory], 4 + 8 + 2, 0); }, kDocMalformed, Read::Sections,
       kOk},
      {"index top record shorter than its entries", [&](auto& r) { r[indexTop].resize(7); },
       kDocMalformed, Read::Sections, kOk},
      {"index top entries decreasing", [&](auto& r) { nw::PutBE16(r[indexTop], 5 + 2, 9); },
       kDocMalformed, Read::Sections, kOk},
      {"index record of the wrong type", [&](auto& r) { r[indexTop][1] = 8; }, kDocMalformed,
       Read::Sections, kOk},
      {"run record with no runs", [&](auto& r) { runRecord(r, sections, 6, 0, 2); }, kOk,
       Read::Sections, kDocMalformed},
      {"run record with more runs than deltas", [&](auto& r) { runRecord(r, list6, 6, 200, 2); },
       kOk, Read::List6, kDocMalformed},
      {"run record whose runs pass its end", [&](auto& r) { runRecord(r, sections, 12, 50, 4); },
       kOk, Read::Sections, kDocMalformed},
      {"run record ending where it starts", [&](auto& r) { runRecord(r, list6, 12, 0, 4); }, kOk,
       Read::List6, kDocMalformed},
      {"run record values past its end", [&](auto& r) { runRecord(r, list6, 4, 0xFFFF, 2); }, kOk,
       Read::List6, kDocMalformed},
      {"run record values inside the sub-header", [&](auto& r) { runRecord(r, list6, 4, 6, 2); },
       kOk, Read::List6, kDocMalformed},
      {"run record sub-header shorter than its fields",
       [&](auto& r) { runRecord(r, list6, 0, 8, 1); }, kOk, Read::List6, kDocMalformed},
      {"run record values and their extension cut off",
       [&](auto& r) { r[list6].resize(r[list6].size() - 4); }, kOk, Read::List6, kDocMalformed},
      {"run record of the wrong type", [&](auto& r) { r[list6][1] = 3; }, kOk, Read::List6,
       kDocMalformed},
      {"section record over 1024 runs", [&](auto& r) { runRecord(r, sections, 6, 1025, 2); }, kOk,
       Read::Sections, kDocMalformed},
      {"item record offsets decreasing",
       [&](auto& r) { nw::PutBE16(r[indexTop + 1], 5 + 2, 0x0100); }, kOk, Read::Item,
       kDocMalformed},
      {"item record shorter than its items",
       [&](auto& r) { r[indexTop + 1].resize(r[indexTop + 1].size() - 1); }, kOk, Read::Item,
       kDocMalformed},
      {"table block cut inside an item", [&](auto& r) { r[table1].resize(r[table1].size() - 1); },
       kOk, Read::Table, kDocMalformed},
      {"table block of the wrong type", [&](auto& r) { r[table1][1] = 5; }, kOk, Read::Table,
       kDocMalformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> records = good;
    c.damage(records);
    const std::string damaged = Rebuild(records);
    NativeHandler h;
    ASSERT_EQ(h.Open(damaged), c.open);
    NativeDocState& s = h.State();
    if (c.open != kOk) {
      // Nothing of a damaged document is kept or held.
      EXPECT_EQ(s.recordCount, 0);
      EXPECT_EQ(s.record0.header.textLength, 0u);
      for (const NativeTable& t : s.tables)
        EXPECT_EQ(t.block, nullptr);
      for (const NativeItemIndex& x : s.indexes)
        EXPECT_EQ(x.top, nullptr);
      // Nor written back.
      s.posLists[0].recordNumber = 3;
      EXPECT_EQ(h.Destroy(), kOk);
      EXPECT_EQ(h.Db().CloseAndRead(), damaged);
      continue;
    }
    StatusCode answer = kOk;
    switch (c.read) {
      case Read::Sections:
        answer = NativeStore_LocateSection(&s, false, 45, nullptr, nullptr, nullptr);
        break;
      case Read::List6:
        answer = NativeStore_SeekRun(&s, NativeRange::OpenRunList, 300, nullptr, nullptr, nullptr);
        break;
      case Read::Item: {
        const std::uint8_t* item = nullptr;
        std::uint32_t length = 0;
        answer = NativeStore_GetIndexedItem(&s, 0, 1, &item, &length);
        break;
      }
      case Read::Table: {
        NativeItem item{};
        answer = NativeStore_ReadItem(&s, 1, 2, &item);
        break;
      }
    }
    EXPECT_EQ(answer, c.answer);
  }
}

// ---------------------------------------------------------------------------
// Record 0 write-back, compared byte by byte over the whole file.

std::uint32_t Record0Offset(const std::string& file) {
  return nw::GetBE16(file, 78) << 16 | nw::GetBE16(file, 80);
}

TEST(NativeWriteBack, OnlyTheChangedListNumbersChangeInTheFile) {
  KELPO_REQUIRE_PEER("python3");
  struct Case {
    const char* name;
    std::uint32_t headerLength;
    std::uint16_t list0;  // new record numbers; equal to stored: unchanged
    std::uint16_t list1;
    std::vector<std::uint32_t> changed;  // offsets in record 0
  };
  const Case cases[] = {
      {"list 0 changed", 66, 7, 0, {35}},
      {"list 1 changed", 66, 0, 0x0102, {32, 33}},
      {"both, header past 128", 140, 0x0203, 9, {33, 34, 35}},
      {"nothing changed", 140, 0, 0, {}},
  };
  std::vector<std::string> descriptions;
  for (const Case& c : cases) {
    descriptions.push_back(
        FullDocument().substr(0, FullDocument().size() - 1) +
        ", \"kept_seed\": 80, \"header_length\": " + std::to_string(c.headerLength) + "}");
  }
  const std::vector<std::string> files = native_tool::WriteAll(
      descriptions, std::vector<std::string>(descriptions.size(), std::string(301, 't')));
  ASSERT_EQ(files.size(), std::size(cases));
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(c.name);
    const std::string& file = files[k];
    NativeHandler h;
    ASSERT_EQ(h.Open(file), kOk);
    ASSERT_NE(h.State().recordCount, 0);
    // Read a little of everything, so records are held at the end.
    std::uint32_t value = 0;
    EXPECT_EQ(
        NativeStore_SeekRun(&h.State(), NativeRange::OpenRunList, 5, &value, nullptr, nullptr),
        kOk);
    const std::uint8_t* item = nullptr;
    std::uint32_t length = 0;
    EXPECT_EQ(NativeStore_GetIndexedItem(&h.State(), 0, 2, &item, &length), kOk);
    h.State().posLists[0].recordNumber = c.list0;
    h.State().posLists[1].recordNumber = c.list1;
    ASSERT_EQ(h.Destroy(), kOk);
    const std::string after = h.Db().CloseAndRead();
    ASSERT_EQ(after.size(), file.size());
    const std::uint32_t r0 = Record0Offset(file);
    std::vector<std::uint32_t> changed;
    for (std::uint32_t k = 0; k < file.size(); ++k) {
      if (file[k] == after[k]) continue;
      // The database's own modification date and number may move with any
      // write; nothing else outside record 0 may.
      if ((k >= 40 && k < 44) || (k >= 48 && k < 52)) continue;
      changed.push_back(k - r0);
    }
    EXPECT_EQ(changed, c.changed);
  }
}

}  // namespace
