#include "engine/formats/native_link.h"
#include "engine/formats/native_strings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/formats/native_fixture.h"

namespace {

using namespace native_fixture;

TEST(NativeLinks, TargetsAreClassified) {
  struct Case {
    std::uint32_t target;
    StatusCode kind;
    std::uint32_t value;
  } cases[] = {
      {0, kOk, 0},
      {0x3FFFFFFF, kOk, 0x3FFFFFFF},
      {0x40000000, kDocLinkHostCode, 0x40000000},
      {0x5FFFFFFF, kDocLinkHostCode, 0x5FFFFFFF},
      {0x60000000, kDocLinkNoTarget, 0x60000000},
      {0x6FFFFFFF, kDocLinkNoTarget, 0x6FFFFFFF},
      {0x70000000, kDocTargetCalendar, 0},
      {0x70ABCDEF, kDocTargetCalendar, 0xABCDEF},
      {0x71FFFFFF, kDocTargetCard, 0xFFFFFF},
      {0x72000000, kDocLinkNoTarget, 0x72000000},
      {0x7FF00000, kDocTargetSelectList, 0x7FF00000},
      {0x7FF0FFFF, kDocTargetSelectList, 0x7FF0FFFF},
      {0x7FF10000, kDocTargetImageMap, 0x7FF10000},
      {0x7FF1FFFF, kDocTargetImageMap, 0x7FF1FFFF},
      {0x7FF20000, kDocLinkNoTarget, 0x7FF20000},
      {0xFFFFFFFF, kDocLinkNoTarget, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    std::uint32_t value = 1;
    EXPECT_EQ(NativeStore_ClassifyLinkTarget(c.target, &value), c.kind) << std::hex << c.target;
    EXPECT_EQ(value, c.value) << std::hex << c.target;
  }
}

// Links over 100 bytes of text, two runs a record: [2, 6) to a position,
// [10, 30) to a code (length 0: the whole run), [30, 35) of the run
// [30, 50) to a calendar entry, [50, 60) to a select list, [60, 100) no
// usable target.
std::string LinkedDocument() {
  const std::string json =
      "{\"text_hex\": \"" + Hex(std::string(100, 'x')) +
      "\", \"run_lists\": {\"5\": {\"kind\": \"link\", \"runs_per_record\": 2, "
      "\"delta_encoding\": 0, \"value_encoding\": 0, \"runs\": ["
      "[0, 2, [0, 1]], [2, 10, [4, 77]], [10, 30, [0, 1073741830]], [30, 50, [5, 1879048197]], "
      "[50, 60, [0, 2146435075]], [60, 100, [0, 1610612736]]]}}}";
  std::string error;
  const std::string file = native_tool::Write(json, {}, &error);
  EXPECT_FALSE(file.empty()) << error;
  return file;
}

TEST(NativeLinks, LinkAtAPosition) {
  NativeHandler h;
  ASSERT_EQ(h.Open(LinkedDocument()), kOk);
  struct Case {
    std::uint32_t position;
    StatusCode kind;
    std::uint32_t start, end, value;
  } cases[] = {
      {0, kOk, 0, 2, 1},
      {2, kOk, 2, 6, 77},
      {5, kOk, 2, 6, 77},
      {6, kFailed, 0, 0, 0},  // past the link, inside its run
      {9, kFailed, 0, 0, 0},
      {10, kDocLinkHostCode, 10, 30, 0x40000006},
      {29, kDocLinkHostCode, 10, 30, 0x40000006},
      {34, kDocTargetCalendar, 30, 35, 5},
      {35, kFailed, 0, 0, 0},
      {55, kDocTargetSelectList, 50, 60, 0x7FF00003},
      {99, kDocLinkNoTarget, 60, 100, 0x60000000},
      {100, kFailed, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t value = 0;
    ASSERT_EQ(NativeStore_GetLinkAt(&h.State(), c.position, &start, &end, &value), c.kind)
        << c.position;
    if (c.kind == kFailed) continue;
    EXPECT_EQ(start, c.start) << c.position;
    EXPECT_EQ(end, c.end) << c.position;
    EXPECT_EQ(value, c.value) << c.position;
  }
}

TEST(NativeLinks, WalkWithinAWindow) {
  NativeHandler h;
  ASSERT_EQ(h.Open(LinkedDocument()), kOk);
  NativeDocState& s = h.State();
  NativeLinkRange r{};
  EXPECT_EQ(NativeStore_LinkNext(&s, &r), kNoMore) << "no walk begun";

  // Window [7, 55): the link [2, 6) ends before it; the first is [10, 30).
  r = {7, 55, 0, 0};
  ASSERT_EQ(NativeStore_LinkBegin(&s, &r), kOk);
  EXPECT_EQ(r.linkStart, 10u);
  EXPECT_EQ(r.linkEnd, 30u);
  ASSERT_EQ(NativeStore_LinkNext(&s, &r), kOk);
  EXPECT_EQ(r.linkStart, 30u);
  EXPECT_EQ(r.linkEnd, 35u);
  ASSERT_EQ(NativeStore_LinkNext(&s, &r), kOk);
  EXPECT_EQ(r.linkStart, 50u);
  EXPECT_EQ(NativeStore_LinkNext(&s, &r), kNoMore) << "[60, 100) starts past the window";
  ASSERT_EQ(NativeStore_LinkPrev(&s, &r), kOk) << "the walk stayed on [50, 60)";
  EXPECT_EQ(r.linkStart, 30u);
  ASSERT_EQ(NativeStore_LinkPrev(&s, &r), kOk);
  EXPECT_EQ(r.linkStart, 10u);
  EXPECT_EQ(NativeStore_LinkPrev(&s, &r), kNoMore) << "before the window's first link";
  ASSERT_EQ(NativeStore_LinkLast(&s, &r), kOk);
  EXPECT_EQ(r.linkStart, 50u);
  ASSERT_EQ(NativeStore_LinkFirst(&s, &r), kOk);
  EXPECT_EQ(r.linkStart, 10u);

  // A window that holds no link start, and one past the text.
  r = {6, 10, 0, 0};
  EXPECT_EQ(NativeStore_LinkBegin(&s, &r), kNotFound);
  r = {100, 200, 0, 0};
  EXPECT_EQ(NativeStore_LinkBegin(&s, &r), kNotFound);
  EXPECT_EQ(NativeStore_LinkReset(&s), kOk);
  EXPECT_EQ(NativeStore_LinkFirst(&s, &r), kNoMore);
}

// A document whose link index knows anchors, names (colliding ones spread
// over neighbouring records) and target codes of every kind.
struct IndexedDocument {
  std::string file;
  std::map<std::uint32_t, std::uint32_t> anchors;  // number -> position
  struct Name {
    std::string name;
    const char* second;  // null: none
    std::uint32_t position;
  };
  std::vector<Name> names;
  std::vector<std::uint32_t> expected;  // per code, the resolved position
  std::uint32_t firstCode = 0x40000010;
};

std::string Quote(const std::string& s) {
  return "\"" + s + "\"";
}

std::vector<std::string> CollidingNames(int count) {
  int status = -1;
  const std::string out = RunPeer(
      "python3 " + native_tool::ScriptPath() + " --colliding-names " + std::to_string(count), "",
      &status);
  EXPECT_EQ(status, 0);
  std::vector<std::string> names;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

const IndexedDocument& Indexed() {
  static const IndexedDocument doc = [] {
    IndexedDocument d;
    std::mt19937 rng(11);
    std::string pairs;
    for (std::uint32_t n = 1; n < 600; n += 2) {
      d.anchors[n] = rng() % 0x3FFFFFFF;
      pairs += (pairs.empty() ? "[" : ",[") + std::to_string(n) + "," +
               std::to_string(d.anchors[n]) + "]";
    }
    // Seven names of one hash, three a record, so that their group spans
    // records on both sides of the one a search lands on; plain names
    // around them, and one name with several second names.
    std::vector<std::string> plain;
    for (int i = 0; i < 20; ++i)
      plain.push_back("Section-" + std::to_string(i));
    std::uint32_t position = 1000;
    for (const std::string& n : CollidingNames(7))
      d.names.push_back({n, nullptr, position++});
    for (const std::string& n : plain)
      d.names.push_back({n, nullptr, position++});
    static const char* seconds[] = {"one", "Two", "three"};
    for (const char* second : seconds)
      d.names.push_back({"Chapter", second, position++});
    d.names.push_back({"Chapter", nullptr, position++});
    std::string names;
    for (const auto& n : d.names) {
      names += (names.empty() ? "" : ",") + std::string("{\"name\": ") + Quote(n.name) +
               ", \"second\": " + (n.second ? Quote(n.second) : "null") +
               ", \"position\": " + std::to_string(n.position) + "}";
    }

    // 200 codes: 50 with anchor numbers, 50 with positions, 50 with second
    // names, 50 mixed (list 3 blocks of formats 1, 2, 0 and 3).
    std::string targets;
    for (std::uint32_t c = 0; c < 200; ++c) {
      const auto& n = d.names[c % d.names.size()];
      const std::uint32_t number = 1 + 2 * (rng() % 300);
      const std::uint32_t kind = c < 50 ? 1 : c < 100 ? 2 : c < 150 ? 0 : c % 3;
      std::string item;
      if (kind == 1) {
        item = "{\"kind\": 1, \"value\": " + std::to_string(number) + "}";
        d.expected.push_back(d.anchors[number]);
      } else if (kind == 2) {
        item = "{\"kind\": 2, \"value\": " + std::to_string(c * 7) + "}";
        d.expected.push_back(c * 7);
      } else {
        item = "{\"name\": " + Quote(n.second != nullptr ? n.second : "") + "}";
        d.expected.push_back(n.position);
      }
      targets += (targets.empty() ? "" : ",") + std::string("{\"text\": ") +
                 Quote("note " + std::to_string(c / 3)) + ", \"name\": " + Quote(n.name) +
                 ", \"item3\": " + item + "}";
    }
    const std::string json =
        "{\"text_hex\": \"41\", \"link_index\": {"
        "\"anchors\": {\"pairs\": [" +
        pairs +
        "], \"per_block\": 20, \"blocks_per_record\": 4, \"modes\": [\"coded\", \"stored\"]},"
        "\"names\": {\"entries\": [" +
        names +
        "], \"per_record\": 3, \"per_block\": 2, \"modes\": [\"stored\", \"coded\"]},"
        "\"targets\": {\"first_code\": 16, \"per_record\": 60, \"per_block\": 10, "
        "\"modes\": [\"coded\", \"coded\", \"stored\"], \"entries\": [" +
        targets + "]}}}";
    std::string error;
    d.file = native_tool::Write(json, {}, &error);
    EXPECT_FALSE(d.file.empty()) << error;
    return d;
  }();
  return doc;
}

TEST(NativeLinkIndex, EveryCodeResolvesToTheTargetTheWriterPutThere) {
  const IndexedDocument& d = Indexed();
  NativeHandler h;
  ASSERT_EQ(h.Open(d.file), kOk);
  for (std::uint32_t c = 0; c < d.expected.size(); ++c) {
    NativeLinkTarget t{};
    ASSERT_EQ(LinkIndex_FindByCode(&h.State(), d.firstCode + c, &t), kOk) << c;
    EXPECT_EQ(std::string(t.text[0], t.length[0]), "note " + std::to_string(c / 3)) << c;
    const auto& n = d.names[c % d.names.size()];
    EXPECT_EQ(std::string(t.text[1], t.length[1]), n.name) << c;
    EXPECT_EQ(t.flags & 0x77, 0x77) << c;
    std::uint32_t position = 0;
    ASSERT_EQ(LinkIndex_Resolve(&h.State(), &t, &position), kOk) << c;
    EXPECT_EQ(position, d.expected[c]) << "code " << c;
    LinkIndex_FreeTarget(&t);
  }
  NativeLinkTarget t{};
  EXPECT_EQ(LinkIndex_FindByCode(&h.State(), d.firstCode + 200, &t), kDocMalformed);
  EXPECT_EQ(LinkIndex_FindByCode(&h.State(), d.firstCode - 1, &t), kDocMalformed);
  EXPECT_EQ(LinkIndex_FindByCode(&h.State(), 0x50000000, &t), kDocMalformed);
  EXPECT_EQ(t.flags, 0) << "nothing filled on failure";
}

TEST(NativeLinkIndex, NamesAndAnchorsByThemselves) {
  const IndexedDocument& d = Indexed();
  NativeHandler h;
  ASSERT_EQ(h.Open(d.file), kOk);
  NativeDocState& s = h.State();
  for (const auto& n : d.names) {
    std::string upper = n.name;
    for (char& c : upper)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::uint32_t position = 0;
    ASSERT_EQ(LinkIndex_FindByName(&s, upper.data(), static_cast<std::uint32_t>(upper.size()),
                                   n.second, n.second ? std::strlen(n.second) : 0, &position),
              kOk);
    EXPECT_EQ(position, n.position) << n.name << " " << (n.second ? n.second : "");
  }
  std::uint32_t position = 9;
  ASSERT_EQ(LinkIndex_FindByName(&s, "Chapter", 7, "four", 4, &position), kOk);
  EXPECT_EQ(position, 0u) << "a second name nobody has";
  ASSERT_EQ(LinkIndex_FindByName(&s, "Nowhere", 7, nullptr, 0, &position), kOk);
  EXPECT_EQ(position, 0u);
  ASSERT_EQ(LinkIndex_FindByName(&s, "", 0, nullptr, 0, &position), kOk);
  EXPECT_EQ(position, 0u);

  for (std::uint32_t n = 0; n < 602; ++n) {
    ASSERT_EQ(LinkIndex_FindAnchor(&s, n, &position), kOk);
    const auto it = d.anchors.find(n);
    EXPECT_EQ(position, it == d.anchors.end() ? 0u : it->second) << "anchor " << n;
  }
}

// Every record of the area cut short by a few bytes: a lookup either still
// finds what it needs or answers the damaged-document status, never reads
// past the record (the sanitizers watch) and never leaks a text.
TEST(NativeLinkIndex, CutRecordsAnswerTheDamagedStatus) {
  const IndexedDocument& d = Indexed();
  const auto [first, count] = Range(d.file, NativeRange::LinkIndex);
  ASSERT_GT(count, 3u);
  int damaged = 0;
  for (std::uint32_t i = first; i < first + count; ++i) {
    for (std::uint32_t cut : {1u, 9u, 40u}) {
      std::vector<std::string> records = Records(d.file);
      if (records[i].size() <= cut + 4) continue;
      records[i].resize(records[i].size() - cut);
      NativeHandler h;
      ASSERT_EQ(h.Open(Rebuild(records)), kOk);
      for (std::uint32_t c = 0; c < d.expected.size(); c += 7) {
        NativeLinkTarget t{};
        const StatusCode r = LinkIndex_FindByCode(&h.State(), d.firstCode + c, &t);
        if (r == kDocMalformed) {
          ++damaged;
          EXPECT_EQ(t.flags, 0);
          continue;
        }
        ASSERT_EQ(r, kOk);
        std::uint32_t position = 0;
        const StatusCode x = LinkIndex_Resolve(&h.State(), &t, &position);
        EXPECT_TRUE(x == kOk || x == kDocMalformed);
        damaged += x == kDocMalformed;
        LinkIndex_FreeTarget(&t);
      }
    }
  }
  EXPECT_GT(damaged, 0);
}

}  // namespace

namespace {

TEST(NativeStrings, StringsByNumber) {
  std::string json = "{\"text_hex\": \"41\", \"string_table\": {\"per_block\": 3, \"strings\": [";
  std::vector<std::string> strings;
  for (int i = 0; i < 40; ++i) {
    strings.push_back(i % 7 == 3 ? "" : "string number " + std::to_string(i * 37));
    json += (i ? ", " : "") + (i % 11 == 5 ? std::string("null") : Quote(strings.back()));
    if (i % 11 == 5) strings.back() = "";
  }
  json += "]}}";
  std::string error;
  const std::string file = native_tool::Write(json, {}, &error);
  ASSERT_FALSE(file.empty()) << error;
  NativeHandler h;
  ASSERT_EQ(h.Open(file), kOk);
  std::uint8_t buffer[64];
  for (std::uint32_t n = 0; n < 42; ++n) {
    std::uint16_t length = 99;
    ASSERT_EQ(NativeStore_GetString(&h.State(), n, buffer, sizeof buffer, &length), kOk);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length),
              n < strings.size() ? strings[n] : "")
        << n;
  }
  std::uint16_t length = 0;
  ASSERT_EQ(NativeStore_GetString(&h.State(), 1, buffer, 6, &length), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), "string") << "cut to capacity";

  // Without a table: nothing, and no failure.
  NativeHandler plain;
  ASSERT_EQ(plain.Open(LinkedDocument()), kOk);
  ASSERT_EQ(NativeStore_GetString(&plain.State(), 0, buffer, sizeof buffer, &length), kOk);
  EXPECT_EQ(length, 0u);

  // The table cut short at every length: still length 0 or a string, never a read past it.
  const std::uint16_t record = RecordList(file, NativeRecordList::StringTable);
  for (std::size_t keep = 0; keep < Records(file)[record].size(); keep += 3) {
    std::vector<std::string> records = Records(file);
    records[record].resize(keep);
    NativeHandler cut;
    ASSERT_EQ(cut.Open(Rebuild(records)), kOk);
    const StatusCode r = NativeStore_GetString(&cut.State(), 2, buffer, sizeof buffer, &length);
    EXPECT_TRUE(r == kOk || r == kDocMalformed) << keep;
  }
}

}  // namespace
