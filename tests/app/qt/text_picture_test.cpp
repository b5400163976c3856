// A picture: a few paragraphs of plain text laid out by the plain-text
// handler with its default layout and drawn through the window device. The
// picture is kept as a PNG (KELPO_ARTIFACT_DIR, else the working folder);
// the test checks that ink lies in every line box the layout made and
// nowhere else.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QWidget>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/device/win_device.h"
#include "engine/device/device.h"
#include "engine/formats/doc_handler.h"
#include "engine/formats/text_doc.h"
#include "engine/runtime/module_table.h"

namespace {

const char kText[] =
    "The reader lays out plain text one line at a time. Each line takes as many "
    "words as fit in the width of the window, and the next line starts where the "
    "last one stopped.\n"
    "\n"
    "A second paragraph follows an empty line. Caf\xE9, na\xEFve and \x93quoted\x94 "
    "words come from the windows-1252 charset, and so does the euro sign \x80.\n"
    "Short line.\n"
    "The last paragraph is long enough to wrap twice in a narrow window, so that "
    "the picture shows several wrapped lines one below the other.\n";

struct Line {
  std::uint32_t start, end;
  int y;
  LineMetrics metrics;
  bool visible;  // holds a character other than a space or a line end
};

TEST(WinDevicePicture, PlainTextLinesAreDrawnWhereTheLayoutPutsThem) {
  constexpr int kW = 360, kH = 320, kMargin = 4;
  QWidget host;
  host.resize(kW, kH);
  EngineObject* dev = nullptr;
  ASSERT_EQ(DeviceOf(&WinDeviceModule).create(&WinDeviceModule, &dev), kOk);
  const DeviceOps& d = DeviceOf(dev);
  ASSERT_EQ(Device_SetWindow(dev, &host, kW, kH), kOk);
  std::uint16_t margin = kMargin;
  ASSERT_EQ(d.setProperty(dev, &margin, 0, DeviceProp::Margin), kOk);
  std::uint32_t charset = kDefaultDocCharset;
  ASSERT_EQ(d.setProperty(dev, &charset, 0, DeviceProp::Charset), kOk);

  EngineObject* module = g_TextDocModule ? g_TextDocModule : &TextDocModule;
  const auto& h = OpsOf<DocHandlerOps>(module);
  EngineObject* doc = nullptr;
  ASSERT_EQ(h.create(module, &doc), kOk);
  const std::uint32_t length = sizeof kText - 1;
  ASSERT_EQ(h.command(doc, DocCommand::AttachText, const_cast<char*>(kText), length), kOk);

  DeviceContext ctx = nullptr;
  ASSERT_EQ(d.beginDraw(dev, &ctx), kOk);
  std::int16_t usable = 0;
  ASSERT_EQ(d.getProperty(dev, DeviceInfo::UsableWidth, &usable), kOk);
  ASSERT_EQ(usable, kW - 2 * kMargin);
  ASSERT_EQ(d.fillRect(dev, ctx, 0, 0, kW, kH, nullptr), kOk);
  std::vector<Line> lines;
  int y = 0;
  for (std::uint32_t start = 0; start < length && y < kH;) {
    Line line{start, 0, y, {}, false};
    const StatusCode s =
        h.layoutLine(doc, dev, ctx, start, length, usable, &line.end, &line.metrics);
    if (s == kNoMore) break;
    ASSERT_EQ(s, kOk) << "at " << start;
    ASSERT_GT(line.end, start);
    ASSERT_LE(line.metrics.width, usable);
    for (std::uint32_t i = start; i < line.end; ++i)
      line.visible |= kText[i] != ' ' && kText[i] != '\n' && kText[i] != '\r';
    const StatusCode drawn =
        h.drawLine(doc, dev, ctx, 0, static_cast<std::int16_t>(y), &line.metrics, start, line.end);
    ASSERT_TRUE(drawn == kOk || drawn == kNoMore) << drawn;
    lines.push_back(line);
    y += line.metrics.top + line.metrics.height + line.metrics.extra;
    start = line.end;
  }
  ASSERT_EQ(d.endDraw(dev, ctx), kOk);
  ASSERT_GE(lines.size(), 8u);
  ASSERT_LT(y, kH) << "the text must fit the picture";

  const QImage picture = WinDevice_Surface(dev)->copy();
  const char* folder = std::getenv("KELPO_ARTIFACT_DIR");
  const QString dir = QString::fromUtf8(folder ? folder : ".");
  QDir().mkpath(dir);
  EXPECT_TRUE(picture.save(dir + "/plain_text_picture.png"));

  auto inked = [&](int px, int py) { return (picture.pixel(px, py) & 0xFFFFFF) != 0xFFFFFF; };
  // Ink only inside the line boxes, and in every box that holds characters:
  // within the rows of the line and the columns of its measured width.
  std::vector<int> owner(kH, -1);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& l = lines[i];
    const int top = l.y + l.metrics.top;
    for (int r = top; r < top + l.metrics.height && r < kH; ++r)
      owner[r] = static_cast<int>(i);
  }
  std::vector<int> inkPerLine(lines.size(), 0);
  for (int py = 0; py < kH; ++py)
    for (int px = 0; px < kW; ++px) {
      if (!inked(px, py)) continue;
      ASSERT_GE(owner[py], 0) << "ink outside every line at " << px << "," << py;
      const Line& l = lines[owner[py]];
      const int left = kMargin + l.metrics.indent;
      ASSERT_GE(px, left - 1) << "line " << owner[py];
      ASSERT_LE(px, left + l.metrics.width) << "line " << owner[py] << " at " << px << "," << py;
      ++inkPerLine[owner[py]];
    }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].visible)
      EXPECT_GT(inkPerLine[i], 10) << "line " << i << " was not drawn";
    else
      EXPECT_EQ(inkPerLine[i], 0) << "line " << i;
  }
  // Wrapped lines use most of the width; the short line does not.
  int wide = 0;
  for (const Line& l : lines)
    wide += l.metrics.width > usable * 3 / 4;
  EXPECT_GE(wide, 4);

  (void)h.destroy(doc);
  (void)d.destroy(dev);
}

}  // namespace
