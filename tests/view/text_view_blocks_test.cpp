// Block lines (rules and images) of a 'RaZo' document laid out and drawn
// through the text view on the recording device: every block takes a row of
// its own, rows never overlap, and the text around the blocks is drawn as it
// would be without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/razo_doc.h"
#include "engine/view/text_view_internal.h"
#include "tests/formats/razo_fixture.h"
#include "tests/support/fake_device.h"

namespace {

using razo_fixture::Json;
using razo_fixture::Opened;
using razo_fixture::Write;

// A line as the view drew it through the handler.
struct DrawnLine {
  std::uint32_t start, end;
  int x, y;
  LineMetrics m;
  std::size_t log;  // the device log's length when the line began
};

// The DrawLine calls of the current paint; the handler table is wrapped so
// the view's own calls are seen.
std::vector<DrawnLine>& Drawn() {
  static std::vector<DrawnLine> lines;
  return lines;
}

StatusCode RecordingDrawLine(EngineObject* h, EngineObject* device, DeviceContext ctx,
                             std::int16_t x, std::int16_t y, const LineMetrics* m,
                             std::uint32_t start, std::uint32_t end) noexcept {
  if (start != end && m != nullptr)
    Drawn().push_back({start, end, x, y, *m, FakeDevice_Of(device).log.size()});
  return RaZoDoc_DrawLine(h, device, ctx, x, y, m, start, end);
}

const DocHandlerOps* RecordingTable() {
  static const DocHandlerOps table = [] {
    DocHandlerOps t = razo_fixture::Ops();
    t.drawLine = RecordingDrawLine;
    return t;
  }();
  return &table;
}

// A DrawText call placed relative to the row of the line that drew it.
struct Ink {
  std::string text;
  std::int64_t x, dy;
  bool operator==(const Ink&) const = default;
};

struct Painted {
  std::vector<DrawnLine> lines;
  std::map<std::uint32_t, std::vector<Ink>> textInk;  // by line start
  std::vector<FakeCall> boxes, images;
};

// Opens the document in a view of w x h on the recording device, paints it
// and answers what was drawn.
Painted PaintDocument(const std::string& file, std::int16_t w, std::int16_t h) {
  Painted out;
  Opened doc(file);
  EXPECT_EQ(doc.OpenStatus(), kOk);
  doc.h()->ops = RecordingTable();
  EngineObject* device = FakeDevice_Open(w, h);
  const TextViewOps& view = OpsOf<TextViewOps>(&TextViewModule);
  EngineObject* v = nullptr;
  EXPECT_EQ(view.create(&TextViewModule, &v), kOk);
  EXPECT_EQ(view.setDevice(v, device), kOk);
  EXPECT_EQ(view.attachDocument(v, doc.h(), nullptr), kOk);
  EXPECT_EQ(view.setViewport(v, 0, w, h), kOk);
  FakeDevice& fake = FakeDevice_Of(device);
  fake.ClearLog();
  Drawn().clear();
  EXPECT_EQ(view.paint(v, nullptr, 0, 0, w, h), kOk);
  out.lines = Drawn();
  // Each DrawText belongs to the last line begun before it.
  std::size_t line = 0;
  for (std::size_t k = 0; k < fake.log.size(); ++k) {
    const FakeCall& c = fake.log[k];
    if (c.slot == 12) out.boxes.push_back(c);
    if (c.slot == 27) out.images.push_back(c);
    while (line + 1 < out.lines.size() && out.lines[line + 1].log <= k)
      ++line;
    if (c.slot != 19 || out.lines.empty() || out.lines[line].log > k) continue;
    const DrawnLine& l = out.lines[line];
    out.textInk[l.start].push_back({c.text, c.args[1] - l.x, c.args[2] - l.y});
  }
  EXPECT_EQ(view.attachDocument(v, nullptr, nullptr), kOk);
  EXPECT_EQ(view.destroy(v), kOk);
  FakeDevice_Close(device);
  return out;
}

class TextViewBlocks : public ::testing::Test {
 protected:
  void SetUp() override { KELPO_REQUIRE_PEER("python3"); }
};

TEST_F(TextViewBlocks, EveryBlockTakesARowOfItsOwnAndTheTextIsDrawnAsWithout) {
  // Text lines with a block right after each, every alignment of rules and
  // images, one thick rule, and a block after an empty paragraph.
  const std::string text =
      "Apache License\nVersion two\nof the text\nfourth line\nfifth line\nsixth line\n"
      "seventh\n\nlast line\n";
  auto at = [&](const char* what) {
    return static_cast<int>(text.find(what) + std::string(what).size());
  };
  struct Block {
    int pos;
    const char* json;
    int align;  // 0 left, 1 centred, 2 right
    bool image;
    int border;
  };
  const Block blocks[] = {
      // Rules: flags bits 0-3 the thickness (the row is 4 higher), 0x60 the
      // alignment (0 centred, 0x20 right, 0x40 left); the extra word the
      // width (bit 15: percent).
      {at("License"), "\"kind\":1,\"flags\":2", 1, false, 0},
      {at("two"), "\"kind\":1,\"flags\":43,\"extra\":120", 2, false, 0},     // 15 pixels high
      {at("text"), "\"kind\":1,\"flags\":67,\"extra\":32818", 0, false, 0},  // half width
      // Images: flags bits 0-1 the alignment (1 right, 2 centred), 4 a border.
      {at("fourth line"), "\"kind\":3,\"flags\":0", 0, true, 0},
      {at("fifth line"), "\"kind\":3,\"flags\":6", 1, true, 1},
      {at("sixth line"), "\"kind\":3,\"flags\":1", 2, true, 0},
      {at("seventh") + 1, "\"kind\":1,\"flags\":1", 1, false, 0},  // after an empty paragraph
  };
  std::string spec = "{\"text\":" + Json(text) + ",\"images\":[\"0014000a\"],\"blocks\":[";
  for (const Block& b : blocks) {
    if (&b != blocks) spec += ",";
    spec += "{\"pos\":" + std::to_string(b.pos) + "," + b.json;
    if (b.image) spec += ",\"image\":{\"width\":20,\"height\":10,\"index\":0}";
    spec += "}";
  }
  const std::string with = Write(spec + "]}");
  const std::string without = Write("{\"text\":" + Json(text) + "}");
  ASSERT_FALSE(with.empty());
  ASSERT_FALSE(without.empty());

  for (const std::int16_t width : {std::int16_t{300}, std::int16_t{90}}) {
    SCOPED_TRACE(width);
    const Painted a = PaintDocument(with, width, 400);
    const Painted b = PaintDocument(without, width, 400);
    ASSERT_FALSE(a.lines.empty());

    // Rows follow one another from the top, none over another.
    for (std::size_t i = 0; i < a.lines.size(); ++i) {
      const DrawnLine& l = a.lines[i];
      EXPECT_GE(l.y + l.m.top, 0) << "line " << l.start << " is cut at the top";
      if (i > 0) {
        const DrawnLine& p = a.lines[i - 1];
        EXPECT_LE(p.y + p.m.top + p.m.height, l.y + l.m.top)
            << "line " << l.start << " overlaps line " << p.start;
      }
      EXPECT_LE(l.m.indent + l.m.width, width) << "line " << l.start << " runs past the view";
    }

    // Each block is the whole of its line, and no text line holds a block.
    int rules = 0, images = 0;
    for (const Block& blk : blocks) {
      SCOPED_TRACE(blk.pos);
      const auto it = std::find_if(a.lines.begin(), a.lines.end(), [&](const DrawnLine& l) {
        return l.start <= static_cast<std::uint32_t>(blk.pos) &&
               static_cast<std::uint32_t>(blk.pos) < l.end;
      });
      ASSERT_NE(it, a.lines.end());
      EXPECT_EQ(it->start, static_cast<std::uint32_t>(blk.pos));
      EXPECT_EQ(it->end, static_cast<std::uint32_t>(blk.pos) + 1);
      const int free = width - it->m.width;
      EXPECT_EQ(it->m.indent, blk.align == 0 ? 0 : blk.align == 1 ? free / 2 : free);
      // The block is drawn inside its own row, at its indent.
      const int top = it->y + it->m.top;
      if (blk.image) {
        ASSERT_LT(images, static_cast<int>(a.images.size()));
        const FakeCall& img = a.images[images++];
        const int border = blk.border;
        EXPECT_EQ(img.args[0], it->x + it->m.indent + border);
        EXPECT_EQ(img.args[1], top + border);
        EXPECT_LE(img.args[1] + 10 + border, top + it->m.height);
      } else {
        ++rules;
        const auto box = std::find_if(a.boxes.begin(), a.boxes.end(), [&](const FakeCall& c) {
          return c.args[1] >= top && c.args[3] <= top + it->m.height && c.args[6] != 0xFFFFFFFF;
        });
        ASSERT_NE(box, a.boxes.end()) << "no rule drawn in the block's row";
        EXPECT_EQ(box->args[0], it->x + it->m.indent);
        EXPECT_EQ(box->args[2], it->x + it->m.indent + it->m.width);
      }
    }
    EXPECT_EQ(images, 3);
    EXPECT_EQ(rules, 4);

    // The text lines draw the same ink, placed the same in their rows, as
    // in the document without blocks.
    int compared = 0;
    for (const auto& [start, ink] : b.textInk) {
      const auto it = a.textInk.find(start);
      ASSERT_NE(it, a.textInk.end()) << "no text line starts at " << start;
      EXPECT_EQ(it->second, ink) << "line " << start;
      ++compared;
    }
    EXPECT_EQ(compared, static_cast<int>(a.textInk.size()));
    EXPECT_GE(compared, 8);
  }
}

}  // namespace

namespace {

// The starts of the lines a view holds.
std::vector<std::uint32_t> Starts(EngineObject* v) {
  const TextView& view = TextViewOf(v);
  std::vector<std::uint32_t> out;
  for (int i = 0; i < view.table.count; ++i)
    out.push_back(view.table.lines[i].start);
  return out;
}

TEST_F(TextViewBlocks, ScrollingLineByLineMeetsTheSameLinesBothWays) {
  // Rules and images right after text, after an empty paragraph and one
  // after another; the view is short, so every step lays out a new line
  // above or below.
  const std::string text = "one two three\nfour\n\nfive six\nseven\neight nine ten\nend\n";
  auto after = [&](const char* what) { return text.find(what) + std::string(what).size(); };
  const std::string spec =
      "{\"text\":" + Json(text) +
      ",\"images\":[\"0014000a\"],\"blocks\":["
      "{\"pos\":" +
      std::to_string(after("three")) +
      ",\"kind\":1,\"flags\":2},{\"pos\":" + std::to_string(after("four\n")) +
      ",\"kind\":3,\"flags\":2,\"image\":{\"width\":20,\"height\":10,\"index\":0}},{\"pos\":" +
      std::to_string(after("six")) +
      ",\"kind\":1,\"flags\":11},{\"pos\":" + std::to_string(after("seven")) +
      ",\"kind\":3,\"flags\":1,\"image\":{\"width\":20,\"height\":10,\"index\":0}},{\"pos\":" +
      std::to_string(after("ten")) + ",\"kind\":1,\"flags\":66}]}";
  const std::string file = Write(spec);
  ASSERT_FALSE(file.empty());
  const TextViewOps& view = OpsOf<TextViewOps>(&TextViewModule);
  auto open = [&](Opened& doc, EngineObject* device, std::int16_t h) {
    EngineObject* v = nullptr;
    EXPECT_EQ(view.create(&TextViewModule, &v), kOk);
    EXPECT_EQ(view.setDevice(v, device), kOk);
    EXPECT_EQ(view.attachDocument(v, doc.h(), nullptr), kOk);
    EXPECT_EQ(view.setViewport(v, 0, 100, h), kOk);
    EXPECT_EQ(view.paint(v, nullptr, 0, 0, 100, h), kOk);
    return v;
  };
  auto close = [&](EngineObject* v) {
    EXPECT_EQ(view.attachDocument(v, nullptr, nullptr), kOk);
    EXPECT_EQ(view.destroy(v), kOk);
  };
  // Every line, from a view tall enough for all of them.
  Opened tallDoc(file);
  EngineObject* tallDevice = FakeDevice_Open(100, 800);
  EngineObject* tall = open(tallDoc, tallDevice, 800);
  const std::vector<std::uint32_t> all = Starts(tall);
  close(tall);
  FakeDevice_Close(tallDevice);
  ASSERT_EQ(all.size(), 11u);  // six text lines, five blocks

  Opened doc(file);
  EngineObject* device = FakeDevice_Open(100, 60);
  EngineObject* v = open(doc, device, 60);
  auto expectRunOfAll = [&](const char* how, int step) {
    const std::vector<std::uint32_t> shown = Starts(v);
    ASSERT_FALSE(shown.empty()) << how << " " << step;
    const auto at = std::find(all.begin(), all.end(), shown.front());
    ASSERT_NE(at, all.end()) << how << " " << step << ": no line starts at " << shown.front();
    const auto n = static_cast<std::size_t>(all.end() - at);
    EXPECT_TRUE(std::equal(shown.begin(), shown.begin() + std::min(shown.size(), n), at))
        << how << " " << step;
  };
  // Down to the end and up to the start again, a step at a time (a step may
  // scroll part of a line): every picture shows a run of the same lines.
  auto position = [&]() { return std::make_pair(Starts(v).front(), TextViewOf(v).table.extraTop); };
  const auto top = position();
  std::set<std::uint32_t> firsts;
  for (const std::uint16_t code : {TextViewNav::LineDown, TextViewNav::LineUp}) {
    for (int step = 0; step < 400; ++step) {
      const auto before = position();
      firsts.insert(before.first);
      expectRunOfAll(code == TextViewNav::LineDown ? "down" : "up", step);
      ASSERT_FALSE(IsFailure(view.navigate(v, code, 0)));
      ASSERT_EQ(view.paint(v, nullptr, 0, 0, 100, 60), kOk);
      if (position() == before) break;  // the end or the start is reached
    }
  }
  EXPECT_EQ(position(), top);
  EXPECT_GE(firsts.size(), 5u) << "the steps passed the lines above the last screen";
  close(v);
  FakeDevice_Close(device);
}

}  // namespace
