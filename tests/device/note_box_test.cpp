// The annotation note box through the recording fake device (slot 39): the
// note's layout and "..." row, the placement near the annotated line, the
// pointer and key handling of the two buttons, and the pixels put back on
// every close.
#include "engine/device/note_box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_device.h"

namespace {

class NoteBoxTest : public testing::Test {
 protected:
  void SetUp() override { OpenDevice(200, 240); }
  void TearDown() override { FakeDevice_Close(dev); }
  void OpenDevice(std::int16_t width, std::int16_t height) {
    FakeDevice_Close(dev);
    dev = FakeDevice_Open(width, height);
    ASSERT_NE(dev, nullptr);
  }
  FakeDevice& fake() { return FakeDevice_Of(dev); }
  StatusCode Run(std::uint16_t code, void* out = nullptr) {
    return DeviceOf(dev).noteBoxCommand(dev, code, &box, out);
  }
  StatusCode Point(std::uint16_t code, int x, int y) {
    DevicePoint p{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
    return Run(code, &p);
  }
  StatusCode Open(const std::string& note, int lineTop = 30, int lineBottom = 40, int x = 20,
                  std::uint16_t flags = 0) {
    text = note;
    box = NoteBox{};
    box.flags = flags;
    box.text = reinterpret_cast<const std::uint8_t*>(text.data());
    box.textLength = static_cast<std::uint32_t>(text.size());
    box.anchorX = static_cast<std::int16_t>(x);
    box.tapY = static_cast<std::int16_t>(lineTop + 2);
    box.lineTop = static_cast<std::int16_t>(lineTop);
    box.lineBottom = static_cast<std::int16_t>(lineBottom);
    return Run(NoteBoxCode::Open);
  }
  // Width of text in the note font (10 points: 10 pixels high).
  int Width(const std::string& s) {
    FakeFontMetrics m = FakeFontFor(DeviceFontSpec{0xFFFF, 10, 0, {}, {}}, 2, false);
    int w = 0;
    for (unsigned char c : s)
      w += FakeCharAdvance(m, c);
    return w;
  }
  int ButtonRow() { return Width("[View/Edit]") + 10 + Width("[Delete]"); }
  std::vector<std::uint32_t> Pixels() { return fake().windowSurface.rgb; }
  int InvertedCount() {
    int n = 0;
    for (auto b : fake().windowSurface.inverted)
      n += b;
    return n;
  }
  // The texts drawn on the surface since the log was cleared.
  std::vector<std::string> Drawn() {
    std::vector<std::string> out;
    for (const FakeCall& c : fake().log)
      if (c.slot == 19 || c.slot == 41) out.push_back(c.text);
    return out;
  }

  EngineObject* dev = nullptr;
  std::string text;
  NoteBox box{};
};

TEST_F(NoteBoxTest, LayoutRowsAndEllipsis) {
  const std::string longNote(300, 'a');  // 35 letters per line of 178 pixels
  struct Case {
    const char* what;
    std::string note;
    std::uint16_t flags;
    std::int16_t height;  // of the device (width 200)
    std::uint16_t lines, rows;
    bool truncated;
  } cases[] = {
      {"short note", "short", 0, 240, 1, 2, false},
      {"a cut note shows the ellipsis even when it fits", "short", NoteBoxFlag::Partial, 240, 1, 3,
       true},
      {"a long note: three lines and a row of its own for ...", longNote, 0, 240, 3, 5, true},
      {"a landscape view allows two lines", longNote, 0, 150, 2, 4, true},
      {"exactly three full lines", std::string(105, 'a'), 0, 240, 3, 4, false},
      {"a line feed ends a line", "one\ntwo\r\nthree", 0, 240, 3, 4, false},
      {"an empty note", "", 0, 240, 0, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenDevice(200, c.height);
    ASSERT_EQ(Open(c.note, 30, 40, 20, c.flags), kOk);
    EXPECT_EQ(box.lineCount, c.lines);
    EXPECT_EQ(box.rows, c.rows);
    EXPECT_EQ((box.truncated & 1) != 0, c.truncated);
    EXPECT_EQ(box.height, 10 * c.rows + 6);
    EXPECT_EQ(box.penState, NoteBoxPen::Open);
    const std::vector<std::string> drawn = Drawn();
    const bool ellipsis = std::find(drawn.begin(), drawn.end(), "...") != drawn.end();
    EXPECT_EQ(ellipsis, c.truncated);
    ASSERT_EQ(Run(NoteBoxCode::Cancel), kNoteBoxClosedOutside);
  }
  // The lines of the line-feed case are the pieces between the breaks.
  ASSERT_EQ(Open("one\ntwo\r\nthree"), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(box.lines[2].start), box.lines[2].length),
            "three");
  EXPECT_EQ(box.lines[1].length, 3);
}

TEST_F(NoteBoxTest, PlacementStaysNearTheLineAndOnScreen) {
  struct Case {
    const char* what;
    int lineTop, lineBottom, x;
    int wantX, wantY;
  } cases[] = {
      {"under the line", 30, 40, 20, 17, 40},
      {"above the line when there is no room below", 200, 210, 20, 17, 200 - 26},
      {"near the right edge it moves left", 30, 40, 150, 200 - (ButtonRow() + 6) - 8, 40},
      {"never off the left edge", 30, 40, 0, 0, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Open("note", c.lineTop, c.lineBottom, c.x), kOk);
    EXPECT_EQ(box.width, ButtonRow() + 6);
    EXPECT_EQ(box.x, c.wantX);
    EXPECT_EQ(box.y, c.wantY);
    ASSERT_EQ(Run(NoteBoxCode::Cancel), kNoteBoxClosedOutside);
  }
  // No room above or below a tall line: against the bottom of the view.
  OpenDevice(200, 60);
  ASSERT_EQ(Open("note", 10, 50, 20), kOk);
  EXPECT_EQ(box.y, 60 - box.height);
}

TEST_F(NoteBoxTest, PointerAndClosePutThePixelsBack) {
  const std::vector<std::uint32_t> before = Pixels();
  ASSERT_EQ(Open("a note"), kOk);
  EXPECT_NE(Pixels(), before);
  const int textY = box.y + 5, buttonY = box.y + 3 + 10 + 4;
  const int viewEditX = box.x + 3 + 8, deleteX = box.x + 3 + Width("[View/Edit]") + 10 + 8;

  // Pen down and up on the note text: the box stays, no button.
  EXPECT_EQ(Point(NoteBoxCode::PenDown, box.x + 10, textY), kOk);
  EXPECT_EQ(box.penState, NoteBoxPen::Down);
  EXPECT_EQ(Point(NoteBoxCode::PenUp, box.x + 10, textY), kOk);
  EXPECT_TRUE(box.open);
  EXPECT_EQ(box.focused, kNoteBoxNoButton);

  // Tracking in the idle pen state removes the focus only.
  ASSERT_EQ(Run(8), kOk);
  EXPECT_EQ(box.focused, kUiViewEdit);
  EXPECT_EQ(Point(NoteBoxCode::Track, deleteX, buttonY), kOk);
  EXPECT_EQ(box.focused, kNoteBoxNoButton);
  EXPECT_EQ(InvertedCount(), 0);

  // Down on "Delete", tracked to "View/Edit": exactly one button is inverted.
  EXPECT_EQ(Point(NoteBoxCode::PenDown, deleteX, buttonY), kOk);
  EXPECT_EQ(box.focused, kUiDelete);
  const int deleteInverted = InvertedCount();
  EXPECT_EQ(deleteInverted, Width("[Delete]") * 10);
  EXPECT_EQ(Point(NoteBoxCode::Track, viewEditX, buttonY), kOk);
  EXPECT_EQ(box.focused, kUiViewEdit);
  EXPECT_EQ(InvertedCount(), Width("[View/Edit]") * 10);

  // Up on the button chooses it and closes the box.
  EXPECT_EQ(Point(NoteBoxCode::PenUp, viewEditX, buttonY), kNoteBoxClosedButton);
  EXPECT_FALSE(box.open);
  EXPECT_EQ(box.focused, kUiViewEdit);
  EXPECT_EQ(Pixels(), before);
  EXPECT_EQ(InvertedCount(), 0);
  EXPECT_EQ(Point(NoteBoxCode::Track, 0, 0), kBadArgument) << "closed";

  // A press outside closes without a button.
  ASSERT_EQ(Open("a note"), kOk);
  EXPECT_EQ(Point(NoteBoxCode::PenDown, 199, 239), kNoteBoxClosedOutside);
  EXPECT_EQ(Pixels(), before);
  ASSERT_EQ(Open("a note"), kOk);
  EXPECT_EQ(Point(NoteBoxCode::PenUp, -32768, -32768), kNoteBoxClosedOutside);
  EXPECT_EQ(Pixels(), before);
}

TEST_F(NoteBoxTest, KeysMoveTheFocusAndCommitReportsIt) {
  ASSERT_EQ(Open("a note"), kOk);
  struct Step {
    std::uint16_t code;
    std::int16_t focused;
  } steps[] = {
      {7, kUiDelete},   {7, kUiViewEdit}, {9, kUiDelete},    {8, kUiViewEdit}, {10, kUiDelete},
      {8, kUiViewEdit}, {12, kUiDelete},  {11, kUiViewEdit}, {14, kUiDelete},  {13, kUiViewEdit},
  };
  for (const Step& s : steps) {
    std::uint16_t answer = 0x1234;
    ASSERT_EQ(Run(s.code, &answer), kOk) << s.code;
    EXPECT_EQ(box.focused, s.focused) << s.code;
    if (s.code >= 11) {
      EXPECT_EQ(answer, static_cast<std::uint16_t>(s.focused)) << s.code;
    }
  }
  EXPECT_EQ(Run(NoteBoxCode::Commit), kNoteBoxClosedButton);
  EXPECT_EQ(box.focused, kUiViewEdit);

  // Commit with no focused button closes and answers 0.
  ASSERT_EQ(Open("a note"), kOk);
  EXPECT_EQ(Run(NoteBoxCode::Commit), kOk);
  EXPECT_FALSE(box.open);
  EXPECT_EQ(Run(NoteBoxCode::Commit), kBadArgument);

  // Codes 0-2 do nothing; unknown codes are refused.
  EXPECT_EQ(Run(0), kOk);
  EXPECT_EQ(Run(18), kNotSupported);
  EXPECT_EQ(DeviceOf(dev).noteBoxCommand(dev, NoteBoxCode::Open, nullptr, nullptr), kBadArgument);
}

// Buttons whose texts the device cannot give are measured and drawn from the
// built-in texts; without any button width, the focus keys find nothing.
StatusCode RefuseUiStrings(EngineObject*, DeviceContext, std::uint16_t, std::int16_t*) noexcept {
  return kFailed;
}
StatusCode ZeroUiStrings(EngineObject*, DeviceContext, std::uint16_t, std::int16_t* w) noexcept {
  *w = 0;
  return kOk;
}

TEST_F(NoteBoxTest, ButtonTextFallbackAndNoButtons) {
  DeviceOps ops = DeviceOf(dev);
  const DeviceOps* original = static_cast<const DeviceOps*>(dev->ops);
  ops.measureUiString = RefuseUiStrings;
  dev->ops = &ops;
  ASSERT_EQ(Open("a note"), kOk);
  EXPECT_EQ(box.buttonWidth[0], Width("View/Edit"));
  EXPECT_EQ(box.buttonWidth[1], Width("Delete"));
  ASSERT_EQ(Run(NoteBoxCode::Cancel), kNoteBoxClosedOutside);

  ops.measureUiString = ZeroUiStrings;
  ASSERT_EQ(Open("a note"), kOk);
  for (std::uint16_t code : {11, 12, 13, 14}) {
    std::uint16_t answer = 0;
    ASSERT_EQ(Run(code, &answer), kOk);
    EXPECT_EQ(answer, kNoteBoxNoButtonAnswer);
  }
  ASSERT_EQ(Run(8), kOk);
  EXPECT_EQ(box.focused, kNoteBoxNoButton);
  ASSERT_EQ(Run(NoteBoxCode::Cancel), kNoteBoxClosedOutside);
  dev->ops = original;
}

}  // namespace
