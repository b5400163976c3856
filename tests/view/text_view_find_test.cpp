// Find in the view: a text view on the recording fake device showing a plain
// text document; slots 12-14 driven as the host does (start, steps, finish).
#include <gtest/gtest.h>

#include <string>

#include "engine/formats/text_doc.h"
#include "engine/formats/text_search.h"
#include "engine/runtime/module_table.h"
#include "engine/view/text_view_internal.h"
#include "tests/support/fake_device.h"

namespace {

// Forty numbered lines; "needle" on lines 3, 4 (twice), 25 and 38.
std::string Document() {
  std::string text;
  for (int k = 0; k < 40; ++k) {
    text += "line " + std::to_string(k);
    if (k == 3 || k == 25 || k == 38) text += " needle";
    if (k == 4) text += " needle and needle";
    text += "\n";
  }
  return text;
}

class TextViewFindTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(g_TextViewModule, nullptr);
    text = Document();
    device = FakeDevice_Open(200, 120);
    ASSERT_EQ(OpsOf<DocHandlerOps>(&TextDocModule).create(&TextDocModule, &handler), kOk);
    ASSERT_EQ(DocOpsOf(handler).command(handler, DocCommand::AttachText, text.data(),
                                        static_cast<std::uint32_t>(text.size())),
              kOk);
    ASSERT_EQ(Ops().create(g_TextViewModule, &view), kOk);
    ASSERT_EQ(Ops().setDevice(view, device), kOk);
    ASSERT_EQ(Ops().attachDocument(view, handler, nullptr), kOk);
    ASSERT_EQ(Ops().setViewport(view, 0, 200, 120), kOk);
    ASSERT_EQ(Ops().paint(view, nullptr, 0, 0, 200, 120), kOk);
    ASSERT_GT(V().table.count, 2);
    ASSERT_LT(EndOffset(), text.find("line 25"));
  }
  void TearDown() override {
    if (view) {
      EXPECT_EQ(Ops().destroy(view), kOk);
    }
    if (handler) {
      EXPECT_EQ(DocOpsOf(handler).destroy(handler), kOk);
    }
    if (device) {
      EXPECT_EQ(OpsOf<DeviceOps>(device).destroy(device), kOk);
    }
  }

  static const TextViewOps& Ops() { return OpsOf<TextViewOps>(g_TextViewModule); }
  TextView& V() { return *static_cast<TextView*>(view->state); }
  std::uint32_t FirstOffset() { return TextView_FirstOffset(V()); }
  std::uint32_t EndOffset() { return V().table.lines[V().table.count].start; }
  std::uint32_t Offset(const std::string& what, std::size_t from = 0) {
    return static_cast<std::uint32_t>(text.find(what, from));
  }
  int InvertedPixels() {
    const FakeDevice& d = FakeDevice_Of(device);
    int n = 0;
    for (std::uint8_t b : d.windowSurface.inverted)
      n += b;
    return n;
  }

  // One find through slots 12-14; the answer of the finish.
  StatusCode Find(const std::string& pattern, std::uint32_t flags) {
    EngineObject* search = nullptr;
    StatusCode s = TextView_FindStart(view, reinterpret_cast<const std::uint8_t*>(pattern.data()),
                                      static_cast<std::uint32_t>(pattern.size()), flags, &search);
    EXPECT_EQ(s, kOk);
    if (s != kOk) return s;
    std::int16_t percent = -1;
    int steps = 0;
    while ((s = TextView_FindStep(view, search, &percent)) == kOk)
      ++steps;
    EXPECT_EQ(s, kViewFindEnded);
    EXPECT_LE(steps, 3);
    return TextView_FindFinish(view, search);
  }

  std::string text;
  EngineObject* device = nullptr;
  EngineObject* handler = nullptr;
  EngineObject* view = nullptr;
};

TEST_F(TextViewFindTest, RepeatedFindsContinuePastTheLastHit) {
  const std::uint32_t first = FirstOffset();
  EXPECT_EQ(Find("needle", 0), kOk);
  EXPECT_EQ(V().foundStart, Offset("needle"));
  EXPECT_EQ(V().foundEnd, Offset("needle") + 6);
  EXPECT_EQ(FirstOffset(), first);  // on the screen: the view stays
  const int marked = InvertedPixels();
  EXPECT_GT(marked, 0);

  // The second find starts at the first hit's end; the old mark goes.
  EXPECT_EQ(Find("NEEDLE", 0), kOk);
  EXPECT_EQ(V().foundStart, Offset("needle", Offset("needle") + 1));
  EXPECT_EQ(InvertedPixels(), marked);  // one hit of the same width marked

  // Case-sensitive: the upper-case pattern is found nowhere; the view keeps
  // its place and the found range is gone.
  EXPECT_EQ(Find("NEEDLE", TextSearchFlag::CaseSensitive), kNotFound);
  EXPECT_EQ(V().foundStart, V().foundEnd);
  EXPECT_EQ(FirstOffset(), first);
  EXPECT_EQ(InvertedPixels(), 0);
}

TEST_F(TextViewFindTest, AHitOffTheScreenIsBroughtNearTheMiddle) {
  const std::uint32_t first = FirstOffset();
  const std::uint8_t historyBefore = V().history.position;
  EXPECT_EQ(Find("line 25", 0), kOk);
  const std::uint32_t hit = Offset("line 25");
  EXPECT_EQ(V().foundStart, hit);
  EXPECT_TRUE(TextView_HitOnScreen(V(), V().foundStart, V().foundEnd));
  EXPECT_GT(FirstOffset(), first);
  EXPECT_GT(hit, FirstOffset());  // lines stand above it
  // The place left is remembered.
  ASSERT_EQ(V().history.position, historyBefore + 1);
  EXPECT_EQ(V().history.entries[historyBefore], first);
  std::int32_t top = 0;
  TextView_FindLineAtOffset(V(), hit, &top);
  EXPECT_NEAR(top, V().textHeight / 2 - V().scrollStep, 20);
}

TEST_F(TextViewFindTest, BackwardWithoutAFoundRangeStartsAtTheEndOfTheScreen) {
  // Hits lie on lines 3 and 4 (on the screen) and 25 and 38 (below it).
  EXPECT_EQ(Find("needle", TextSearchFlag::Backward), kOk);
  EXPECT_EQ(V().foundStart, Offset("needle", Offset("line 4")) + 11);  // line 4's second
  EXPECT_EQ(Find("needle", TextSearchFlag::Backward), kOk);
  EXPECT_EQ(V().foundStart, Offset("needle", Offset("line 4")));
  // The whole document, backward from the found range.
  EXPECT_EQ(Find("needle", TextSearchFlag::Backward | TextSearchFlag::WholeDocument), kOk);
  EXPECT_EQ(V().foundStart, Offset("needle"));
  EXPECT_EQ(Find("needle", TextSearchFlag::Backward), kNotFound);
}

TEST_F(TextViewFindTest, AHitInTheLineCutAtTheTopMovesTheView) {
  // Scroll a few pixels so the first line is cut at the top.
  ASSERT_EQ(TextView_ScrollBy(V(), -3, false, nullptr), kOk);
  ASSERT_LT(V().table.extraTop, 0);
  const std::uint32_t lineStart = V().table.lines[0].start;
  const std::uint32_t lineEnd = V().table.lines[1].start;
  EXPECT_FALSE(TextView_HitOnScreen(V(), lineStart, lineEnd - 1));
  EXPECT_TRUE(TextView_HitOnScreen(V(), lineEnd, lineEnd + 1));
  // Forward from the start of the section: the hit is in that first line.
  const std::string word = text.substr(lineStart, lineEnd - 1 - lineStart);
  V().foundStart = V().foundEnd = 0;
  EXPECT_EQ(Find(word, TextSearchFlag::WholeRange), kOk);
  EXPECT_EQ(V().foundStart, lineStart);
  std::int32_t top = 0;
  TextView_FindLineAtOffset(V(), lineStart, &top);
  EXPECT_GE(top, 0);
  EXPECT_TRUE(TextView_HitOnScreen(V(), V().foundStart, V().foundEnd));
}

TEST_F(TextViewFindTest, HitOnScreenRules) {
  LineTable& t = V().table;
  const std::uint32_t last = t.lines[t.count - 1].start;
  const std::int16_t bottom = t.bottom;
  struct Case {
    std::uint32_t start, end;
    bool lastLineCut;
    bool on;
  } cases[] = {
      {t.lines[0].start, t.lines[0].start + 2, true, true},
      {t.lines[1].start, t.lines[2].start, true, true},
      {last - 2, last, true, true},       // ends where the last line starts
      {last - 2, last + 1, true, false},  // reaches into a last line that is cut
      {last - 2, last + 1, false, true},  // ... or that fits
      {EndOffset() - 1, EndOffset(), false, true},
      {EndOffset(), EndOffset() + 1, false, false},
  };
  for (const Case& c : cases) {
    // The last line is cut when the laid-out lines reach below textHeight.
    t.bottom = static_cast<std::int16_t>(V().textHeight + (c.lastLineCut ? 5 : 0));
    EXPECT_EQ(TextView_HitOnScreen(V(), c.start, c.end), c.on)
        << c.start << ".." << c.end << (c.lastLineCut ? " cut" : "");
  }
  t.bottom = bottom;
}

TEST_F(TextViewFindTest, FoundRangeScrolledOffIsDropped) {
  EXPECT_EQ(Find("needle", 0), kOk);
  ASSERT_NE(V().foundStart, V().foundEnd);
  ASSERT_EQ(TextView_GoToOffset(V(), Offset("line 30"), false), kOk);
  EXPECT_EQ(TextView_DrawFoundRange(V(), nullptr), kOk);
  EXPECT_EQ(V().foundStart, V().foundEnd);
}

TEST_F(TextViewFindTest, StartPositionRule) {
  TextView& v = V();
  v.foundStart = v.foundEnd = 0;
  EXPECT_EQ(TextView_FindStartPosition(v, false), FirstOffset());
  EXPECT_EQ(TextView_FindStartPosition(v, true), EndOffset());
  v.foundStart = 30;
  v.foundEnd = 36;
  EXPECT_EQ(TextView_FindStartPosition(v, false), 36u);
  EXPECT_EQ(TextView_FindStartPosition(v, true), 30u);
  v.foundStart = v.foundEnd = 0;
}

TEST_F(TextViewFindTest, EmptyPatternIsRefused) {
  EngineObject* search = nullptr;
  EXPECT_EQ(TextView_FindStart(view, reinterpret_cast<const std::uint8_t*>("x"), 0, 0, &search),
            kBadArgument);
  EXPECT_EQ(search, nullptr);
  EXPECT_EQ(TextView_FindStart(view, reinterpret_cast<const std::uint8_t*>("x"), 1, 0, nullptr),
            kNullOutPointer);
}

}  // namespace
