// Navigation: every sequence of moves leaves the table and the picture that a
// fresh layout and paint at the same position gives; sections and their end
// policies; the jump history and the snapshot stack; large sections.
#include <algorithm>

#include "engine/runtime/allocator.h"
#include "tests/view/text_view_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define KELPO_TEST_ASAN 1
#endif
#endif

namespace {
// The bytes just before an engine block belong to the allocator's own header,
// which AddressSanitizer cannot tell from the block: poisoned for a while, a
// read of the element before an array is reported.
class PoisonBefore {
 public:
  PoisonBefore(const void* block, std::size_t bytes)
      : at_(static_cast<const char*>(block) - bytes), n_(bytes) {
#ifdef KELPO_TEST_ASAN
    __asan_poison_memory_region(at_, n_);
#endif
  }
  ~PoisonBefore() {
#ifdef KELPO_TEST_ASAN
    __asan_unpoison_memory_region(at_, n_);
#endif
  }
  PoisonBefore(const PoisonBefore&) = delete;
  PoisonBefore& operator=(const PoisonBefore&) = delete;

 private:
  [[maybe_unused]] const char* at_;
  [[maybe_unused]] std::size_t n_;
};
}  // namespace

namespace {

using TextViewNavTest = TextViewFixture;

struct Move {
  std::uint16_t code;
  std::uint32_t arg;
};

struct Sequence {
  const char* name;
  std::vector<Move> moves;
};

// Codes: 1/2 line, 5-10 screens, 11/12 document, 13/14 section, 15/16/17
// sections, 18/19 history, 24/25 screens by option, 27 percent, 32 fraction,
// 100 + v SetScrollPosition(v).
const std::vector<Sequence>& Sequences() {
  static const std::vector<Sequence> table = {
      {"lines down and up",
       {{2, 0}, {2, 0}, {2, 0}, {1, 0}, {2, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}}},
      {"screens of every kind",
       {{6, 0}, {8, 0}, {10, 0}, {5, 0}, {25, 0}, {7, 0}, {9, 0}, {24, 0}}},
      {"to the end and back", {{12, 0}, {1, 0}, {5, 0}, {11, 0}, {2, 0}}},
      {"section ends", {{14, 0}, {6, 0}, {2, 0}, {13, 0}, {18, 0}, {19, 0}, {1, 0}}},
      {"sections by number",
       {{16, 0}, {2, 0}, {16, 0}, {15, 0}, {17, 3}, {1, 0}, {18, 0}, {18, 0}}},
      {"percent and fraction",
       {{27, 50}, {2, 0}, {32, 700}, {1, 0}, {32, 1023}, {27, 10}, {18, 0}}},
      {"scroll positions", {{100 + 500, 0}, {2, 0}, {100 + 37, 0}, {6, 0}, {100 + 0, 0}}},
      {"screen then lines across a boundary", {{25, 1}, {25, 1}, {25, 1}, {25, 1}, {2, 0}, {1, 0}}},
  };
  return table;
}

class TextViewMoveTest : public TextViewFixture,
                         public testing::WithParamInterface<std::tuple<int, std::uint16_t, bool>> {
};

TEST_P(TextViewMoveTest, IncrementalDrawingEqualsFreshLayout) {
  const auto [index, options, paged] = GetParam();
  const Sequence& seq = Sequences()[static_cast<std::size_t>(index)];
  const std::string text = SampleText(400, 7);
  Hooks().sectionStarts = {0, static_cast<std::uint32_t>(text.size() / 3),
                           static_cast<std::uint32_t>(text.size() / 3 * 2)};
  // Uneven spaces between some lines exercise the collapsing rule.
  Hooks().adjust = [](std::uint32_t start, LineMetrics* m) {
    if (start % 7 == 1) m->top = 3;
    if (start % 5 == 2) m->extra = 4;
  };
  Open(text, 150, 120, options);
  ASSERT_EQ(Paint(), kOk);
  if (paged) PaginateAll();
  auto where = [this] { return std::make_pair(V().table.lines[0].start, V().table.extraTop); };
  std::vector<std::pair<std::uint32_t, std::int16_t>> seen{where()};
  for (const Move& m : seq.moves) {
    const StatusCode s =
        m.code >= 100 ? ViewOps().setScrollPosition(view_, m.code - 100u) : Nav(m.code, m.arg);
    ASSERT_FALSE(IsFailure(s)) << seq.name << ": code " << m.code << " answered " << std::hex << s;
    if (paged && !(V().flags & TextViewFlag::Paginated)) PaginateAll();
    ExpectMatchesFreshLayout(std::string(seq.name) + " after code " + std::to_string(m.code));
    if (HasFailure()) return;
    seen.push_back(where());
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_GE(std::unique(seen.begin(), seen.end()) - seen.begin(), 4) << seq.name << " hardly moved";
  ExpectBalancedDrawing();
}

INSTANTIATE_TEST_SUITE_P(Sequences, TextViewMoveTest,
                         testing::Combine(testing::Range(0, static_cast<int>(Sequences().size())),
                                          testing::Values(TextViewOption::CopyOnce,
                                                          TextViewOption::GentleStart),
                                          testing::Bool()));

TEST_F(TextViewNavTest, ScreenDownAmountsForTheShellsOptionWord) {
  // Height 200, option 2: kind 4. Lines are 10 high, so nothing is cut: 200.
  Open(SampleText(300), 150, 200, TextViewOption::CopyOnce);
  ASSERT_EQ(Paint(), kOk);
  const std::uint32_t before = V().table.lines[0].start;
  std::int32_t top = 0;
  const std::uint16_t at200 = TextView_FindLineAtY(V(), 200, &top);
  ASSERT_EQ(Nav(TextViewNav::ScreenDown), kOk);
  EXPECT_NE(V().table.lines[0].start, before);
  EXPECT_EQ(V().table.extraTop, 0);
  (void)at200;
  // A line cut at the bottom: shift everything by 5 so the last line is cut.
  {
    TextViewDrawScope draw(device_, nullptr);
    ASSERT_EQ(TextView_Relayout(V(), draw.ctx(), -5, V().table.lines[0].start), kOk);
  }
  const LineTable& t = V().table;
  std::int32_t lastTop = 0;
  TextView_FindLineAtOffset(V(), t.lines[t.count - 1].start, &lastTop);
  ASSERT_LT(lastTop, 200);
  ASSERT_GT(t.bottom, 200);
  const std::uint32_t cutLine = t.lines[t.count - 1].start;
  ASSERT_EQ(Nav(TextViewNav::ScreenDown), kOk);
  // The cut line moves to the top (its top y 195 is above 180).
  EXPECT_EQ(V().table.lines[0].start, cutLine);
  EXPECT_EQ(V().table.extraTop, 0);
}

TEST_F(TextViewNavTest, SectionPoliciesAndNotices) {
  const std::string text = SampleText(120, 3);
  Hooks().sectionStarts = {0, static_cast<std::uint32_t>(text.size() / 2)};
  Open(text, 150, 100);
  ASSERT_EQ(Paint(), kOk);
  // Line up at the top of section 0: notice 1, nothing moves.
  ASSERT_EQ(Nav(TextViewNav::LineUp), kOk);
  EXPECT_EQ(F().notices, std::vector<std::uint16_t>{DeviceNotice::NoPreviousSection});
  EXPECT_EQ(V().currentSection, 0);

  // Policy bit 0: a screen move at the end needs argument bit 0.
  V().sectionPolicy = DocSectionPolicy::MoveOnRequest;
  ASSERT_EQ(Nav(TextViewNav::SectionEnd), kOk);
  F().notices.clear();
  ASSERT_EQ(Nav(TextViewNav::ScreenDown, 0), kOk);
  EXPECT_EQ(F().notices, std::vector<std::uint16_t>{DeviceNotice::AtEnd});
  EXPECT_EQ(V().currentSection, 0);
  ASSERT_EQ(Nav(TextViewNav::LineDown), kOk);
  EXPECT_EQ(V().currentSection, 0) << "line moves need both policy bits clear";
  ASSERT_EQ(Nav(TextViewNav::ScreenDown, 1), kOk);
  EXPECT_EQ(F().notices.back(), DeviceNotice::NextSection);
  EXPECT_EQ(V().currentSection, 1);
  EXPECT_EQ(V().table.lines[0].start, V().sectionStart);
  ExpectMatchesFreshLayout("next section");
  // At the last section: notice 2 when moving on.
  V().sectionPolicy = 0;
  ASSERT_EQ(Nav(TextViewNav::SectionEnd), kOk);
  ASSERT_EQ(Nav(TextViewNav::LineDown), kOk);
  EXPECT_EQ(F().notices.back(), DeviceNotice::NoNextSection);
  // Policy bit 1: screen moves never change section.
  V().sectionPolicy = DocSectionPolicy::NeverOnScreen;
  ASSERT_EQ(Nav(TextViewNav::SectionStart), kOk);
  ASSERT_EQ(Nav(TextViewNav::ScreenUp, 1), kOk);
  EXPECT_EQ(F().notices.back(), DeviceNotice::AtTop);
  EXPECT_EQ(V().currentSection, 1);
  // Previous section shows its end at the bottom.
  V().sectionPolicy = 0;
  ASSERT_EQ(Nav(TextViewNav::LineUp), kOk);
  EXPECT_EQ(F().notices.back(), DeviceNotice::PreviousSection);
  EXPECT_EQ(V().currentSection, 0);
  EXPECT_EQ(V().table.lines[V().table.count].start, V().sectionEnd);
  EXPECT_EQ(V().table.bottom, V().textHeight);
  // Section by number: nothing for 0 or past the count; notice 7 else.
  EXPECT_EQ(Nav(TextViewNav::SectionByNumber, 0), kOk);
  EXPECT_EQ(Nav(TextViewNav::SectionByNumber, 3), kOk);
  EXPECT_EQ(V().currentSection, 0);
  ASSERT_EQ(Nav(TextViewNav::SectionByNumber, 2), kOk);
  EXPECT_EQ(F().notices.back(), DeviceNotice::SectionByNumber);
  EXPECT_EQ(V().currentSection, 1);
  std::uint16_t page = 0, count = 0;
  EXPECT_EQ(ViewOps().getPageNumber(view_, &page, &count), kOk);
  EXPECT_EQ(page, 2);
  EXPECT_EQ(count, 2);
  // Flag 0x20: a move by number does not lay out.
  ASSERT_EQ(Nav(TextViewNav::NoSectionLayout, 1), kOk);
  const std::size_t notices = F().notices.size();
  ASSERT_EQ(Nav(TextViewNav::SectionByNumber, 1), kOk);
  EXPECT_EQ(V().currentSection, 0);
  EXPECT_EQ(V().table.count, 0);
  EXPECT_EQ(F().notices.size(), notices);
  ExpectBalancedDrawing();
}

TEST_F(TextViewNavTest, HistoryListAndSnapshots) {
  Open(SampleText(400, 5), 150, 100);
  ASSERT_EQ(Paint(), kOk);
  EXPECT_EQ(Nav(TextViewNav::Back), kNoMore);
  EXPECT_EQ(Nav(TextViewNav::CanGoBack), kNoMore);
  EXPECT_EQ(Nav(TextViewNav::CanGoForward), kNoMore);
  // Percent jumps remember where they came from.
  std::vector<std::uint32_t> visited;
  for (std::uint32_t p : {10u, 20u, 30u}) {
    visited.push_back(V().table.lines[0].start);
    ASSERT_EQ(Nav(TextViewNav::Percent, p), kOk);
  }
  const std::uint32_t at30 = V().table.lines[0].start;
  EXPECT_EQ(Nav(TextViewNav::CanGoBack), kOk);
  ASSERT_EQ(Nav(TextViewNav::Back), kOk);
  EXPECT_EQ(V().table.lines[0].start, visited[2]);
  EXPECT_EQ(F().notices.back(), DeviceNotice::HistoryBack);
  ASSERT_EQ(Nav(TextViewNav::Back), kOk);
  EXPECT_EQ(V().table.lines[0].start, visited[1]);
  ASSERT_EQ(Nav(TextViewNav::Forward), kOk);
  ASSERT_EQ(Nav(TextViewNav::Forward), kOk);
  EXPECT_EQ(V().table.lines[0].start, at30);
  EXPECT_EQ(F().notices.back(), DeviceNotice::HistoryForward);
  EXPECT_EQ(Nav(TextViewNav::Forward), kNoMore);
  // A new visit discards what lay ahead.
  ASSERT_EQ(Nav(TextViewNav::Back), kOk);
  ASSERT_EQ(Nav(TextViewNav::Percent, 70), kOk);
  EXPECT_EQ(Nav(TextViewNav::CanGoForward), kNoMore);
  // The 17th remembered position drops the oldest.
  ASSERT_EQ(Nav(TextViewNav::ClearList), kOk);
  for (std::uint32_t i = 0; i < 17; ++i)
    TextView_PushVisited(V(), 1000 + i);
  EXPECT_EQ(V().history.count, 16);
  EXPECT_EQ(V().history.entries[0], 1001u);
  EXPECT_EQ(V().history.entries[15], 1016u);
  // Exchanges without moving (Controls 36/37).
  std::uint32_t value = 7;
  EXPECT_EQ(TextView_HistoryExchange(V(), true, &value), kOk);
  EXPECT_EQ(value, 1016u);
  EXPECT_EQ(TextView_HistoryExchange(V(), false, &value), kOk);
  EXPECT_EQ(value, 7u);

  // Snapshots: the 9th frees the oldest; back with snapshots answers
  // "the host acts" once the list is exhausted.
  ASSERT_EQ(Nav(TextViewNav::ClearList), kOk);
  std::uint32_t* holders[9] = {};
  for (auto& h : holders)
    ASSERT_EQ(TextView_SnapshotPush(V(), &h), kOk);
  EXPECT_EQ(holders[0], nullptr) << "the oldest block was freed";
  ASSERT_NE(holders[8], nullptr);
  EXPECT_EQ(holders[8][0], 0u);
  EXPECT_EQ(holders[8][1], V().table.lines[0].start);
  EXPECT_EQ(V().snapshots.count, 8);
  EXPECT_EQ(Nav(TextViewNav::Back), kViewHostActs);
  EXPECT_EQ(Nav(TextViewNav::CanGoBack), kOk);
  std::uint32_t* fresh = nullptr;
  SnapshotHolder io = &fresh;
  ASSERT_EQ(TextView_SnapshotBack(V(), &io), kOk);
  EXPECT_EQ(io, &holders[8]) << "the replaced holder goes to the host";
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh[1], V().table.lines[0].start) << "layout B: the position second";
  EXPECT_EQ(Nav(TextViewNav::CanGoForward), kOk);
  // The host loads the block it was handed (layout A) and owns nothing more.
  ASSERT_EQ(TextView_SnapshotLoad(V(), holders[8], false), kOk);
  holders[8] = nullptr;
  ASSERT_EQ(Nav(TextViewNav::ClearHistory), kOk);
  EXPECT_EQ(fresh, nullptr) << "clearing frees the blocks the view keeps";
  for (auto* h : holders)
    EXPECT_EQ(h, nullptr);
  EXPECT_EQ(Nav(TextViewNav::Back), kNoMore);
}

TEST_F(TextViewNavTest, FractionAndPercentEdges) {
  Open(SampleText(300), 150, 100);
  ASSERT_EQ(Paint(), kOk);
  const std::uint32_t first = V().table.lines[0].start;
  EXPECT_EQ(Nav(TextViewNav::Fraction, 1024), kOk);
  EXPECT_EQ(Nav(TextViewNav::Percent, 100), kOk);
  EXPECT_EQ(V().table.lines[0].start, first);
  ASSERT_EQ(Nav(TextViewNav::Fraction, 1023), kOk);
  EXPECT_EQ(V().table.lines[V().table.count].start, V().sectionEnd) << "the last offset shows";
  PaginateAll();
  ASSERT_EQ(Nav(TextViewNav::Fraction, 0), kOk);
  EXPECT_EQ(V().table.lines[0].start, 0u);
  ASSERT_EQ(Nav(TextViewNav::Fraction, 512), kOk);
  // Paged: the line at half the height is at the top.
  std::uint32_t key = V().table.lines[0].start, y = 0;
  ASSERT_EQ(DeviceOf(device_).posMapCommand(device_, PosMapCode::FindByKey, &key, &y), kOk);
  EXPECT_NEAR(static_cast<double>(y - V().table.extraTop), V().paginatedHeight / 2.0, 1.0);
  ExpectMatchesFreshLayout("fraction 512 paged");
}

TEST_F(TextViewNavTest, LargeSectionsNeedNoThirtyTwoBitProducts) {
  // 48 MiB: length x 99 and length x 1023 both overflow 32 bits.
  std::string text;
  const std::string line = "0123456789 abcdefghij klmnopqrst uvwxyz 0123456789\n";
  text.reserve(48u << 20);
  while (text.size() < (48u << 20))
    text += line;
  Open(std::move(text), 300, 100);
  ASSERT_EQ(Paint(), kOk);
  const double length = static_cast<double>(text_.size());
  ASSERT_EQ(Nav(TextViewNav::Percent, 99), kOk);
  EXPECT_NEAR(V().table.lines[0].start, length * 0.99, 2.0 * line.size() + 400);
  ASSERT_EQ(Nav(TextViewNav::Fraction, 1000), kOk);
  EXPECT_NEAR(V().table.lines[0].start, length * 1000 / 1024, 2.0 * line.size() + 400);
}

TEST_F(TextViewNavTest, MovesWithAnEmptyLineTableStayInsideIt) {
  // A window of height 0 (minimised) lays out no line of a section that is
  // not empty; line and screen moves and section ends must not reach for a
  // last line that does not exist.
  Open(SampleText(80), 150, 100);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(ViewOps().setViewport(view_, 0, 150, 0), kOk);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(V().table.count, 0);
  ASSERT_LT(V().table.lines[0].start, V().sectionEnd);
  {
    const PoisonBefore guard(V().table.lines, 16);
    for (std::uint16_t code :
         {TextViewNav::LineDown, TextViewNav::SectionStart, TextViewNav::LineUp, std::uint16_t{6},
          std::uint16_t{5}, TextViewNav::ScreenDown, TextViewNav::LineDown}) {
      EXPECT_EQ(Nav(code), kOk) << "code " << code;
      EXPECT_EQ(V().table.count, 0) << "code " << code;
    }
  }
  ExpectBalancedDrawing();
  ASSERT_EQ(ViewOps().setViewport(view_, 0, 150, 100), kOk);
  ASSERT_EQ(Paint(), kOk);
  ExpectMatchesFreshLayout("height 0 and back");
}

TEST_F(TextViewNavTest, PrintRangeScreens) {
  Open(SampleText(100), 150, 100);
  EXPECT_EQ(Nav(TextViewNav::PrintFirst), kOk);  // the plain handler accepts at once
  const LineTable& t = V().table;
  ASSERT_GT(t.count, 0);
  EXPECT_EQ(t.lines[0].start, 0u);
  EXPECT_LE(t.bottom, 100) << "a cut last line is dropped when the rest fills half";
  std::uint32_t previousEnd = t.lines[t.count].start;
  int screens = 1;
  StatusCode s;
  while ((s = Nav(TextViewNav::PrintNext)) == kOk) {
    EXPECT_EQ(t.lines[0].start, previousEnd) << "screens join without gaps";
    previousEnd = t.lines[t.count].start;
    ASSERT_LT(++screens, 1000);
  }
  EXPECT_EQ(s, kNoMore);
  EXPECT_EQ(previousEnd, V().sectionEnd);
  Hooks().passStep = kDocTablePassPending;
  ASSERT_EQ(ViewOps().attachDocument(view_, handler_, nullptr), kOk);
  EXPECT_EQ(Nav(TextViewNav::PrintFirst), kViewNotLaidOut);
}

}  // namespace
