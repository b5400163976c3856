// The literal find engine over a fake document handler that serves tiny text
// windows, so that matches straddle windows and steps: repeated finds against
// `grep -boF` in the C locale, the range and step rules, handler failures,
// and character boundaries in UTF-8, UTF-16 and Shift_JIS texts.
#include "engine/formats/text_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/doc_handler.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"

namespace {

using Hit = std::pair<std::uint32_t, std::uint32_t>;

// A document handler that holds its text in memory and serves it in windows
// of at most `window` bytes, cut at multiples of the window size as a
// record-based format would. Each window is a fresh copy and the previous one
// is freed, so a caller that keeps a window past the next text access reads
// freed memory (and the sanitizer says so).
struct FakeDoc {
  std::string text;
  std::vector<Hit> sections;  // [start, end); empty: one section over the text
  std::uint16_t charset = 0;  // 0: control 24 fails
  std::uint32_t window = 7;
  std::uint32_t failCountdown = 0;  // text reads until one fails (0: never)
  std::uint64_t bytesServed = 0;
  std::unique_ptr<std::uint8_t[]> current;
  EngineObject object{this, nullptr};

  FakeDoc();
  EngineObject* handler() { return &object; }
  std::vector<Hit> Sections() const {
    return sections.empty() ? std::vector<Hit>{{0, static_cast<std::uint32_t>(text.size())}}
                            : sections;
  }

  StatusCode Serve(std::uint32_t from, std::uint32_t n, const std::uint8_t** out,
                   std::uint32_t* length) {
    if (failCountdown != 0 && --failCountdown == 0) return kFailed;
    auto copy = std::make_unique<std::uint8_t[]>(n + 1);
    std::memcpy(copy.get(), text.data() + from, n);
    current = std::move(copy);  // the previous window is freed here
    bytesServed += n;
    *out = n ? current.get() : nullptr;
    *length = n;
    return kOk;
  }

  static FakeDoc& Of(EngineObject* h) { return *static_cast<FakeDoc*>(h->state); }

  static StatusCode SectionInfo(EngineObject* h, std::uint16_t* policy,
                                std::uint16_t* count) noexcept {
    if (policy) *policy = 0;
    if (count) *count = static_cast<std::uint16_t>(Of(h).Sections().size());
    return kOk;
  }
  static StatusCode SectionRange(EngineObject* h, std::int16_t section, std::uint32_t* start,
                                 std::uint32_t* end) noexcept {
    const auto all = Of(h).Sections();
    if (section < 0 || static_cast<std::size_t>(section) >= all.size()) return kNoMore;
    *start = all[section].first;
    *end = all[section].second;
    return kOk;
  }
  static StatusCode FindSection(EngineObject* h, std::uint32_t position, std::int16_t* section,
                                std::uint32_t* start, std::uint32_t* end) noexcept {
    const auto all = Of(h).Sections();
    for (std::size_t k = 0; k < all.size(); ++k) {
      if (position >= all[k].first && position < all[k].second) {
        if (section) *section = static_cast<std::int16_t>(k);
        if (start) *start = all[k].first;
        if (end) *end = all[k].second;
        return kOk;
      }
    }
    return kNoMore;
  }
  static StatusCode GetText(EngineObject* h, std::uint32_t position, const std::uint8_t** text,
                            std::uint32_t* length) noexcept {
    FakeDoc& d = Of(h);
    const auto size = static_cast<std::uint32_t>(d.text.size());
    if (position >= size) {
      *text = nullptr;
      *length = 0;
      return kOk;
    }
    const std::uint32_t n =
        std::min({*length, d.window - position % d.window, size - position, 4096u});
    return d.Serve(position, n, text, length);
  }
  static StatusCode GetTextBefore(EngineObject* h, std::uint32_t position,
                                  const std::uint8_t** text, std::uint32_t* length) noexcept {
    FakeDoc& d = Of(h);
    const auto size = static_cast<std::uint32_t>(d.text.size());
    if (position == 0 || position > size) {
      *text = nullptr;
      *length = 0;
      return kOk;
    }
    const std::uint32_t n = std::min({*length, (position - 1) % d.window + 1, position, 4096u});
    return d.Serve(position - n, n, text, length);
  }
  static StatusCode Control(EngineObject* h, std::uint16_t code, std::uint32_t,
                            void* record) noexcept {
    if (code != DocControl::GetCharset || Of(h).charset == 0) return kNotSupported;
    *static_cast<std::uint16_t*>(record) = Of(h).charset;
    return kOk;
  }
};

const DocHandlerOps kFakeDocOps = [] {
  DocHandlerOps ops{};
  ops.word0 = Core_NotImplemented;
  ops.getSectionInfo = FakeDoc::SectionInfo;
  ops.getSectionRange = FakeDoc::SectionRange;
  ops.findSection = FakeDoc::FindSection;
  ops.getText = FakeDoc::GetText;
  ops.getTextBefore = FakeDoc::GetTextBefore;
  ops.control = FakeDoc::Control;
  ops.end = Core_NotImplemented;
  return ops;
}();

FakeDoc::FakeDoc() {
  object.ops = &kFakeDocOps;
}

const TextSearchOps& Ops() {
  return OpsOf<TextSearchOps>(g_TextSearchModule);
}

// One whole find: start, step to the end (checking the answers and the
// percentage), finish. The hit, or nothing.
struct FindResult {
  std::optional<Hit> hit;
  int steps = 0;
};
FindResult RunFind(FakeDoc& doc, const std::string& pattern, std::uint16_t flags,
                   std::uint32_t section, std::uint32_t position) {
  FindResult result;
  TextSearch* search = nullptr;
  EXPECT_EQ(
      Ops().start(g_TextSearchModule, pattern.data(), static_cast<std::uint32_t>(pattern.size()),
                  flags, doc.handler(), section, position, &search),
      kOk);
  if (search == nullptr) return result;
  std::int16_t lastPercent = 0;
  for (;;) {
    std::int16_t percent = -1;
    std::uint32_t reached = 0;
    const StatusCode st = Ops().step(g_TextSearchModule, search, &percent, &reached);
    ++result.steps;
    EXPECT_TRUE(st == kOk || st == kTextSearchDone) << std::hex << st;
    EXPECT_GE(percent, lastPercent);
    EXPECT_LE(percent, 100);
    lastPercent = percent;
    if (st != kOk || result.steps > 1000000) break;
  }
  std::uint32_t start = 0, end = 0;
  const StatusCode st = Ops().finish(g_TextSearchModule, search, &start, &end);
  if (st == kOk) {
    result.hit = Hit{start, end};
  } else {
    EXPECT_EQ(st, kNotFound);
  }
  return result;
}

// Every hit of repeated finds over the whole text: forward from 0, each
// search starting at the previous hit's end; backward from the end, each
// starting at the previous hit's start.
std::vector<std::uint32_t> AllHits(FakeDoc& doc, const std::string& pattern, bool backward,
                                   bool caseSensitive) {
  std::vector<std::uint32_t> hits;
  const std::uint16_t flags = (backward ? TextSearchFlag::Backward : 0) |
                              (caseSensitive ? TextSearchFlag::CaseSensitive : 0) |
                              TextSearchFlag::WholeDocument;
  std::uint32_t position = backward ? static_cast<std::uint32_t>(doc.text.size()) : 0;
  for (;;) {
    const FindResult r = RunFind(doc, pattern, flags, 0, position);
    if (!r.hit) break;
    EXPECT_EQ(r.hit->second - r.hit->first, std::min<std::size_t>(pattern.size(), 63));
    hits.push_back(r.hit->first);
    position = backward ? r.hit->first : r.hit->second;
    if (hits.size() > doc.text.size()) break;
  }
  return hits;
}

// `grep -aboF` (with -i when folding) in the C locale: the byte offsets of
// the leftmost non-overlapping matches.
std::vector<std::uint32_t> GrepHits(const std::string& text, const std::string& pattern,
                                    bool caseSensitive) {
  TempDir dir;
  WriteFileBytes(dir.File("pattern"), pattern);
  int status = 0;
  const std::string out = RunPeer(std::string("LC_ALL=C grep -abo") + (caseSensitive ? "" : "i") +
                                      "F -f '" + dir.File("pattern") + "'",
                                  text, &status);
  EXPECT_TRUE(status == 0 || status == 1) << "grep failed";
  std::vector<std::uint32_t> hits;
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t eol = out.find('\n', at);
    hits.push_back(static_cast<std::uint32_t>(std::stoul(out.substr(at, out.find(':', at) - at))));
    if (eol == std::string::npos) break;
    at = eol + 1;
  }
  return hits;
}

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list)
    s += static_cast<char>(b);
  return s;
}

class TextSearchTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(g_TextSearchModule, nullptr); }
};

// --- against grep -----------------------------------------------------------

TEST_F(TextSearchTest, RepeatedFindsMatchGrepForwardAndBackward) {
  KELPO_REQUIRE_PEER("grep");
  std::mt19937 rng(4126);
  // A small alphabet so hits are many and overlap; letters of both cases,
  // line breaks, bytes above 0x7F that C-locale folding leaves alone.
  const std::string alphabet = Bytes({'a', 'A', 'b', 'B', 'a', 'b', '\n', 0xC1, 0xE1, '0'});
  for (int round = 0; round < 72; ++round) {
    FakeDoc doc;
    // Tiny windows make matches straddle them; large ones let whole
    // candidates be filtered inside a window.
    const std::uint32_t windows[] = {1, 2, 3, 5, 7, 13, 64, 300, 4096};
    doc.window = windows[round % std::size(windows)];
    const std::size_t size = round % 8 == 0 ? 9000 + rng() % 3000 : rng() % 600;
    for (std::size_t k = 0; k < size; ++k)
      doc.text += alphabet[rng() % alphabet.size()];
    std::string pattern;
    const std::size_t length =
        round % 12 == 5 ? 70 : (round % 3 == 0 ? 6 + rng() % 20 : 1 + rng() % 5);
    while (pattern.size() < length) {
      const char c = alphabet[rng() % alphabet.size()];
      if (c != '\n') pattern += c;
    }
    if (length == 70) doc.text += pattern.substr(0, 63) + "\n" + pattern.substr(0, 62);
    // A few planted copies (overlapping ones too), so long patterns have hits.
    for (int copies = 0; copies < 3 && !doc.text.empty(); ++copies) {
      const std::size_t at = rng() % doc.text.size();
      doc.text.insert(at, pattern.substr(0, 63) + pattern.substr(0, rng() % 4));
    }
    const bool caseSensitive = round % 2 == 0;
    SCOPED_TRACE(testing::Message() << "round " << round << " window " << doc.window
                                    << " pattern length " << pattern.size());

    // A pattern longer than 63 bytes is searched as its first 63.
    const std::string searched = pattern.substr(0, 63);
    EXPECT_EQ(AllHits(doc, pattern, false, caseSensitive),
              GrepHits(doc.text, searched, caseSensitive));

    // Backward: the same finds from the end are grep's hits in the reversed
    // text with the reversed pattern.
    std::string reversedText(doc.text.rbegin(), doc.text.rend());
    std::string reversedPattern(searched.rbegin(), searched.rend());
    std::vector<std::uint32_t> want;
    for (std::uint32_t r : GrepHits(reversedText, reversedPattern, caseSensitive)) {
      want.push_back(static_cast<std::uint32_t>(doc.text.size() - r - searched.size()));
    }
    EXPECT_EQ(AllHits(doc, pattern, true, caseSensitive), want);
  }
}

// Inside a large window whole candidates are filtered (sixteen or eight at a
// time, then byte by byte); a match that runs on into the next window is left
// to the byte-wise matcher. A match placed at every offset of the last two
// sixteen-byte steps before a window boundary and across it is found at its
// true start, folded and case-sensitive.
TEST_F(TextSearchTest, MatchesAroundWindowEdgesAreFound) {
  for (const std::string pattern : {"ab", "abcaB", "abcabdabcabcabdab"}) {
    const auto m = static_cast<std::uint32_t>(pattern.size());
    for (std::uint32_t at = 64 - m - 33; at <= 64 + 2; ++at) {
      for (const std::uint16_t flags :
           {std::uint16_t{0}, TextSearchFlag::Backward, TextSearchFlag::CaseSensitive}) {
        const bool backward = flags == TextSearchFlag::Backward;
        SCOPED_TRACE(testing::Message() << pattern << " at " << at << " flags " << flags);
        FakeDoc doc;
        doc.window = 64;
        doc.text = std::string(200, 'a');  // the first byte everywhere: many candidates
        doc.text.replace(at, m, pattern);
        const FindResult r = RunFind(doc, pattern, flags, 0, backward ? 200 : 0);
        ASSERT_TRUE(r.hit);
        EXPECT_EQ(r.hit->first, at);
      }
    }
  }
}

// --- ranges, steps and answers ------------------------------------------------

TEST_F(TextSearchTest, FlagsChooseTheRangeAndTheStart) {
  FakeDoc doc;
  //           0123456789012345678901234567890
  doc.text = "xab.ab.ab|ab.ab.ab|ab.ab";
  doc.sections = {{0, 10}, {10, 19}, {19, 24}};
  using F = std::uint16_t;
  constexpr F kWhole = TextSearchFlag::WholeDocument, kBack = TextSearchFlag::Backward,
              kRange = TextSearchFlag::WholeRange, kFromPos = TextSearchFlag::FromPosition;
  struct Case {
    F flags;
    std::uint32_t section, position;
    std::optional<std::uint32_t> hit;
  } cases[] = {
      {0, 1, 0, 10},                   // position clamped up to the section start
      {0, 1, 14, 16},                  // forward from the position
      {0, 1, 17, std::nullopt},        // a hit past the section end is not seen
      {0, 0, 99, std::nullopt},        // clamped to the section end: nothing left
      {kRange, 1, 14, 10},             // bit 3: the whole section from its start
      {kRange | kFromPos, 1, 14, 16},  // bits 3 and 4: from the position
      {kBack, 1, 15, 13},              // backward: a hit ending exactly at the position
      {kBack, 1, 14, 10},              // but not one ending after it
      {kBack, 1, 99, 16},              // clamped to the section end
      {kBack, 2, 19, std::nullopt},    // clamped up to the start: nothing below
      {kWhole, 7, 17, 19},             // whole document: the section number is ignored
      {kWhole | kBack, 0, 99, 22},
      {kWhole | kBack, 0, 10, 7},
      {0, 3, 0, std::nullopt},  // no such section: the empty range
      {0, 0x10000, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "flags " << c.flags << " section " << c.section << " position " << c.position);
    const FindResult r = RunFind(doc, "ab", c.flags, c.section, c.position);
    ASSERT_EQ(r.hit.has_value(), c.hit.has_value());
    if (c.hit) {
      EXPECT_EQ(*r.hit, Hit(*c.hit, *c.hit + 2));
    }
  }
}

TEST_F(TextSearchTest, StepsAreBoundedAndTheExhaustingStepAnswersZero) {
  FakeDoc doc;
  doc.window = 4096;
  doc.text = std::string(10000, 'x');
  doc.text.replace(4090, 10, "needle1234");  // straddles the first step's end
  TextSearch* search = nullptr;
  ASSERT_EQ(TextSearch_Start(g_TextSearchModule, "needle1234", 10, TextSearchFlag::CaseSensitive,
                             doc.handler(), 0, 0, &search),
            kOk);
  std::int16_t percent = -1;
  std::uint32_t reached = 0;
  EXPECT_EQ(TextSearch_Step(g_TextSearchModule, search, &percent, &reached), kOk);
  EXPECT_EQ(reached, 4096u);
  EXPECT_EQ(percent, 40);  // 4096 * 100 / 10000
  EXPECT_EQ(TextSearch_Step(g_TextSearchModule, search, &percent, &reached), kTextSearchDone);
  EXPECT_EQ(reached, 4100u);
  // Once done, steps change nothing.
  EXPECT_EQ(TextSearch_Step(g_TextSearchModule, search, nullptr, nullptr), kTextSearchDone);
  std::uint32_t start = 0, end = 0;
  EXPECT_EQ(TextSearch_Finish(g_TextSearchModule, search, &start, &end), kOk);
  EXPECT_EQ(Hit(start, end), Hit(4090, 4100));

  // Without a hit: 4096, 4096, 1808 bytes, the third step reaching the end
  // answers 0 and a fourth passes the empty second leg.
  ASSERT_EQ(TextSearch_Start(g_TextSearchModule, "zz", 2, 0, doc.handler(), 0, 0, &search), kOk);
  std::vector<std::pair<StatusCode, std::int16_t>> answers;
  for (int k = 0; k < 4; ++k) {
    const StatusCode st = TextSearch_Step(g_TextSearchModule, search, &percent, nullptr);
    answers.emplace_back(st, percent);
  }
  const std::vector<std::pair<StatusCode, std::int16_t>> want = {
      {kOk, 40}, {kOk, 81}, {kOk, 100}, {kTextSearchDone, 100}};
  EXPECT_EQ(answers, want);
  EXPECT_EQ(TextSearch_Finish(g_TextSearchModule, search, &start, &end), kNotFound);
}

TEST_F(TextSearchTest, EmptyRangeAndBadArguments) {
  FakeDoc doc;
  doc.text = "abc";
  doc.sections = {{0, 3}, {3, 3}};
  TextSearch* search = nullptr;
  ASSERT_EQ(TextSearch_Start(g_TextSearchModule, "a", 1, 0, doc.handler(), 1, 0, &search), kOk);
  std::int16_t percent = -1;
  EXPECT_EQ(TextSearch_Step(g_TextSearchModule, search, &percent, nullptr), kOk);
  EXPECT_EQ(percent, 100);
  EXPECT_EQ(TextSearch_Step(g_TextSearchModule, search, &percent, nullptr), kTextSearchDone);
  std::uint32_t start = 7, end = 7;
  EXPECT_EQ(TextSearch_Finish(g_TextSearchModule, search, &start, &end), kNotFound);
  EXPECT_EQ(start, 7u);
  EXPECT_EQ(end, 7u);

  // An empty pattern would match everywhere: refused, nothing allocated.
  search = nullptr;
  EXPECT_EQ(TextSearch_Start(g_TextSearchModule, "a", 0, 0, doc.handler(), 0, 0, &search),
            kBadArgument);
  EXPECT_EQ(search, nullptr);
  EXPECT_EQ(TextSearch_Start(g_TextSearchModule, nullptr, 1, 0, doc.handler(), 0, 0, &search),
            kBadArgument);
  EXPECT_EQ(TextSearch_Start(g_TextSearchModule, "a", 1, 0, nullptr, 0, 0, &search), kBadArgument);
  EXPECT_EQ(TextSearch_Start(g_TextSearchModule, "a", 1, 0, doc.handler(), 0, 0, nullptr),
            kNullOutPointer);
  EXPECT_EQ(TextSearch_Step(g_TextSearchModule, nullptr, &percent, nullptr), kTextSearchDone);
  EXPECT_EQ(TextSearch_Finish(g_TextSearchModule, nullptr, &start, &end), kNotFound);
}

TEST_F(TextSearchTest, PatternIsFoldedReversedAndLinked) {
  FakeDoc doc;
  doc.text = "x";
  TextSearch* search = nullptr;
  ASSERT_EQ(TextSearch_Start(g_TextSearchModule, "AaB", 3, TextSearchFlag::Backward, doc.handler(),
                             0, 0, &search),
            kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(search->pattern)), "baa");
  EXPECT_EQ(search->charset, 2252u);  // the handler names none
  EXPECT_EQ(search->flags & TextSearchFlag::MultiByte, 0);
  EXPECT_EQ(TextSearch_Finish(g_TextSearchModule, search, nullptr, nullptr), kNotFound);

  ASSERT_EQ(TextSearch_Start(g_TextSearchModule, "aab", 3, TextSearchFlag::CaseSensitive,
                             doc.handler(), 0, 0, &search),
            kOk);
  EXPECT_EQ(std::vector<int>(search->links, search->links + 4), (std::vector<int>{-1, 0, 1, 0}));
  EXPECT_EQ(TextSearch_Finish(g_TextSearchModule, search, nullptr, nullptr), kNotFound);
}

TEST_F(TextSearchTest, HandlerFailureEndsTheStepAndTheSearchGoesOn) {
  FakeDoc doc;
  doc.window = 5;
  doc.text = std::string(3000, '.') + "target" + std::string(50, '.');
  TextSearch* search = nullptr;
  ASSERT_EQ(TextSearch_Start(g_TextSearchModule, "target", 6, 0, doc.handler(), 0, 0, &search),
            kOk);
  doc.failCountdown = 300;  // a window read deep inside the first step fails
  std::int16_t percent = 55;
  EXPECT_EQ(TextSearch_Step(g_TextSearchModule, search, &percent, nullptr), kFailed);
  EXPECT_EQ(percent, 55);  // untouched on failure
  StatusCode st = kOk;
  int steps = 0;
  while ((st = TextSearch_Step(g_TextSearchModule, search, nullptr, nullptr)) == kOk)
    ++steps;
  EXPECT_EQ(st, kTextSearchDone);
  std::uint32_t start = 0, end = 0;
  EXPECT_EQ(TextSearch_Finish(g_TextSearchModule, search, &start, &end), kOk);
  EXPECT_EQ(Hit(start, end), Hit(3000, 3006));

  // A failure can also be finished at once.
  ASSERT_EQ(TextSearch_Start(g_TextSearchModule, "target", 6, 0, doc.handler(), 0, 0, &search),
            kOk);
  doc.failCountdown = 1;
  EXPECT_EQ(TextSearch_Step(g_TextSearchModule, search, nullptr, nullptr), kFailed);
  EXPECT_EQ(TextSearch_Finish(g_TextSearchModule, search, &start, &end), kNotFound);
}

TEST_F(TextSearchTest, TextEndingBeforeTheRangeEndsTheSearch) {
  FakeDoc doc;
  doc.text = "abcabc";
  doc.sections = {{0, 5000}};  // the handler claims more than it can serve
  const FindResult r = RunFind(doc, "zz", 0, 0, 0);
  EXPECT_FALSE(r.hit);
  EXPECT_EQ(r.steps, 2);  // the step that meets the end answers 0, the next one done
}

TEST_F(TextSearchTest, ModuleSlots) {
  const TextSearchOps& ops = Ops();
  EngineObject* self = nullptr;
  EXPECT_EQ(ops.create(g_TextSearchModule, &self), kOk);
  EXPECT_EQ(self, g_TextSearchModule);
  EXPECT_EQ(ops.destroy(g_TextSearchModule), kOk);
  EXPECT_EQ(ops.word0(g_TextSearchModule), kFailed);
  EXPECT_EQ(ops.end(g_TextSearchModule), kFailed);
}

// --- multi-byte charsets ------------------------------------------------------

struct CharsetCase {
  const char* name;
  std::uint16_t charset;
  std::string text;
  std::string pattern;
  bool caseSensitive;
  std::vector<std::uint32_t> hits;  // of repeated forward finds
};

TEST_F(TextSearchTest, HitsNeverStartInsideACharacter) {
  const CharsetCase cases[] = {
      // UTF-8: A9 74 inside "é" + "t" is not a hit; a stray A9 after a space is.
      {"utf8 tail", 106, "caf\xC3\xA9t \xA9t", "\xA9t", true, {7}},
      {"utf8 tail folded", 106, "caf\xC3\xA9T \xA9t", "\xA9t", false, {7}},
      {"utf8 lead", 106, "\xE3\x81\x82\xE3\x81", "\xE3\x81", true, {0, 3}},
      // UTF-16LE: 41 61 at an odd offset is not U+6141.
      {"utf16le odd",
       1014,
       Bytes({0x00, 0x41, 0x61, 0x00, 0x41, 0x61}),
       Bytes({0x41, 0x61}),
       true,
       {4}},
      // Folding only folds whole ASCII units: U+4100 is not U+6100, 'A' is 'a'.
      {"utf16le fold",
       1014,
       Bytes({0x00, 0x41, 0x41, 0x00, 0x00, 0x61}),
       Bytes({0x00, 0x61}),
       false,
       {4}},
      {"utf16le fold letter",
       1014,
       Bytes({0x00, 0x41, 0x41, 0x00}),
       Bytes({0x61, 0x00}),
       false,
       {2}},
      // The low half of a surrogate pair is not a character start.
      {"utf16le surrogate",
       1014,
       Bytes({0x3D, 0xD8, 0x00, 0xDE, 0x41, 0x00, 0x20, 0x00, 0x00, 0xDE, 0x41, 0x00}),
       Bytes({0x00, 0xDE, 0x41, 0x00}),
       true,
       {8}},
      {"utf16be odd",
       1013,
       Bytes({0x41, 0x00, 0x61, 0x41, 0x00, 0x61, 0x41}),
       Bytes({0x61, 0x41}),
       true,
       {2}},
      {"utf16 bom be",
       1015,
       Bytes({0xFE, 0xFF, 0x00, 0x41, 0x00, 0x61}),
       Bytes({0x00, 0x61}),
       false,
       {2, 4}},
      // Shift_JIS: 0x41 is the trail byte of "ア" (83 41) and not an "A".
      {"sjis trail", 17, "\x83\x41\x41", "A", true, {2}},
      {"sjis trail folded", 17, "\x83\x41\x61", "a", false, {2}},
      // Folding never touches trail bytes: 83 61 is not 83 41.
      {"sjis fold trail", 17, "\x83\x41 \x83\x61", "\x83\x61", false, {3}},
      // 9F 88 straddling two kanji (88 9F 88 9F) is not the kanji 9F 88.
      {"sjis straddle",
       17,
       "\x88\x9F\x88\x9F"
       "x\x9F\x88",
       "\x9F\x88",
       true,
       {5}},
      // A lead byte broken by a byte that cannot continue it is a character
      // of its own, and the next byte starts one.
      {"sjis broken lead", 17, "\x83 A", " A", true, {1}},
  };
  for (const CharsetCase& c : cases) {
    for (std::uint32_t window : {1u, 3u, 64u}) {
      SCOPED_TRACE(testing::Message() << c.name << " window " << window);
      FakeDoc doc;
      doc.charset = c.charset;
      doc.text = c.text;
      doc.window = window;
      EXPECT_EQ(AllHits(doc, c.pattern, false, c.caseSensitive), c.hits);
      std::vector<std::uint32_t> backward(c.hits.rbegin(), c.hits.rend());
      EXPECT_EQ(AllHits(doc, c.pattern, true, c.caseSensitive), backward);
    }
  }
}

// Random texts built character by character, so the true character starts
// are known: every hit of repeated finds is the next occurrence that starts
// on one, with folding only of single-byte ASCII letters.
struct Encoded {
  std::string text;
  std::vector<bool> starts;  // per byte, plus one past the end
  std::vector<bool> single;  // the byte is a one-byte character
};

void AppendChar(Encoded& e, const std::string& bytes) {
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    e.starts.push_back(k == 0);
    e.single.push_back(bytes.size() == 1);
  }
  e.text += bytes;
}

Encoded RandomText(std::mt19937& rng, std::uint16_t charset, std::size_t chars) {
  Encoded e;
  const std::string ascii = "aAbB ";
  for (std::size_t k = 0; k < chars; ++k) {
    const bool wide = rng() % 2 == 0;
    const int a = static_cast<unsigned char>(ascii[rng() % ascii.size()]);
    switch (charset) {
      case 17:  // Shift_JIS: leads 88 and 9F, trails that look like letters too
        if (wide) {
          const int trails[] = {0x41, 0x61, 0x88, 0x9F, 0x42};
          AppendChar(e, Bytes({rng() % 2 ? 0x88 : 0x9F, trails[rng() % 5]}));
        } else {
          AppendChar(e, Bytes({a}));
        }
        break;
      case 106:  // UTF-8: 2- and 3-byte characters sharing tails
        if (wide) {
          AppendChar(e, rng() % 2 ? Bytes({0xC3, 0xA9}) : Bytes({0xE3, 0xC3 & 0xBF, 0xA9}));
        } else {
          AppendChar(e, Bytes({a}));
        }
        break;
      default:  // UTF-16LE: units whose bytes look like letters, surrogate pairs
        if (wide) {
          const int r = rng() % 3;
          if (r == 0) AppendChar(e, Bytes({0x41, 0x61}));
          if (r == 1) AppendChar(e, Bytes({0x61, 0x41}));
          if (r == 2) AppendChar(e, Bytes({0x3D, 0xD8, 0x41, 0xDC}));
        } else {
          AppendChar(e, Bytes({a, 0x00}));
        }
        break;
    }
  }
  e.starts.push_back(true);
  return e;
}

std::vector<std::uint32_t> ModelHits(const Encoded& e, std::uint16_t charset,
                                     const std::string& pattern, bool caseSensitive) {
  auto same = [&](std::size_t at, std::size_t k) {
    const unsigned char t = e.text[at + k], p = pattern[k];
    if (t == p) return true;
    if (caseSensitive) return false;
    if (charset == 1014) {
      // Units: both low bytes letters that fold alike, both high bytes 0.
      const std::size_t unit = (at + k) & ~std::size_t{1};
      const std::size_t pk = k & ~std::size_t{1};
      if (pk + 1 >= pattern.size()) return false;
      return e.text[unit + 1] == 0 && pattern[pk + 1] == 0 && (at + k) % 2 == 0 &&
             Str_FoldByte(t) == Str_FoldByte(p);
    }
    return e.single[at + k] && Str_FoldByte(t) == Str_FoldByte(p);
  };
  std::vector<std::uint32_t> hits;
  for (std::size_t at = 0; at + pattern.size() <= e.text.size();) {
    bool match = e.starts[at];
    for (std::size_t k = 0; match && k < pattern.size(); ++k)
      match = same(at, k);
    if (match) {
      hits.push_back(static_cast<std::uint32_t>(at));
      at += pattern.size();
    } else {
      ++at;
    }
  }
  return hits;
}

TEST_F(TextSearchTest, RandomMultiByteTextsAgainstACharacterModel) {
  std::mt19937 rng(1014);
  for (std::uint16_t charset : {std::uint16_t{17}, std::uint16_t{106}, std::uint16_t{1014}}) {
    for (int round = 0; round < 30; ++round) {
      const Encoded e = RandomText(rng, charset, 40 + rng() % 200);
      // The pattern: a run of whole characters taken from the text, with its
      // letters' case flipped at random.
      std::size_t from = rng() % e.text.size();
      while (!e.starts[from])
        --from;
      std::size_t to = from + 1 + rng() % 6;
      to = std::min(to, e.text.size());
      while (!e.starts[to])
        ++to;
      std::string pattern = e.text.substr(from, to - from);
      const bool caseSensitive = round % 2 == 0;
      if (!caseSensitive) {
        for (char& c : pattern) {
          if (rng() % 2 && (Str_ClassOf(static_cast<unsigned char>(c)) & (kCharUpper | kCharLower)))
            c = static_cast<char>(c ^ 0x20);
        }
      }
      FakeDoc doc;
      doc.charset = charset;
      doc.text = e.text;
      doc.window = 1 + rng() % 9;
      SCOPED_TRACE(testing::Message() << "charset " << charset << " round " << round);
      const std::vector<std::uint32_t> want = ModelHits(e, charset, pattern, caseSensitive);
      EXPECT_EQ(AllHits(doc, pattern, false, caseSensitive), want);
      // Backward, the first find from the end is the last occurrence that
      // starts on a character.
      const FindResult last =
          RunFind(doc, pattern,
                  TextSearchFlag::Backward | (caseSensitive ? TextSearchFlag::CaseSensitive : 0), 0,
                  static_cast<std::uint32_t>(doc.text.size()));
      std::optional<std::uint32_t> wantLast;
      // The model's all-occurrences list (overlaps allowed), last element.
      for (std::size_t at = e.text.size() - pattern.size() + 1; at-- > 0;) {
        Encoded tail;
        tail.text = e.text.substr(at, pattern.size());
        tail.starts.assign(e.starts.begin() + at, e.starts.begin() + at + pattern.size() + 1);
        tail.single.assign(e.single.begin() + at, e.single.begin() + at + pattern.size());
        if (!ModelHits(tail, charset, pattern, caseSensitive).empty()) {
          wantLast = static_cast<std::uint32_t>(at);
          break;
        }
      }
      ASSERT_EQ(last.hit.has_value(), wantLast.has_value());
      if (wantLast) {
        EXPECT_EQ(last.hit->first, *wantLast);
      }
    }
  }
}

// Checking candidates in a long text without spaces costs about one pass over
// the text, not a pass back to the section start per candidate: the bytes
// read grow with the text, not with its square.
TEST_F(TextSearchTest, BoundaryChecksReadTheTextAboutOnce) {
  for (bool backward : {false, true}) {
    SCOPED_TRACE(backward ? "backward" : "forward");
    std::uint64_t read[2] = {};
    for (int size = 0; size < 2; ++size) {
      const std::size_t chars = size == 0 ? 8192 : 32768;
      std::string kanji;
      for (std::size_t k = 0; k < chars; ++k)
        kanji += "\x88\x9F";
      FakeDoc doc;
      doc.charset = 17;
      doc.window = 64;
      // Every odd offset holds 9F 88 inside two kanji; the real one is at the
      // far end from where the search starts.
      doc.text = backward ? "\x9F\x88" + kanji : kanji + "x\x9F\x88";
      const auto flags = static_cast<std::uint16_t>(TextSearchFlag::CaseSensitive |
                                                    (backward ? TextSearchFlag::Backward : 0));
      const FindResult r = RunFind(doc, "\x9F\x88", flags, 0,
                                   backward ? static_cast<std::uint32_t>(doc.text.size()) : 0);
      ASSERT_TRUE(r.hit);
      EXPECT_EQ(r.hit->first, backward ? 0u : 2 * chars + 1);
      read[size] = doc.bytesServed;
    }
    std::printf("%s: %llu and %llu bytes read\n", backward ? "backward" : "forward",
                static_cast<unsigned long long>(read[0]), static_cast<unsigned long long>(read[1]));
    // Four times the text: about four times the reading (sixteen if quadratic).
    EXPECT_LT(read[1], 6 * read[0]);
  }
}

}  // namespace
