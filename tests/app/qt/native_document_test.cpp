// A native document, written by tools/native_writer.py, read through the
// registered native handler: styled and centred paragraphs with a frame,
// a section with a background, a DCT colour picture, bullets and a link.
// Its lines are drawn through the window device into a PNG, and ink must
// lie in the line boxes the layout made and in the picture's box; then the
// whole program opens the same file in its main window (a second PNG).
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "app/device/win_device.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "engine/device/device.h"
#include "engine/formats/native_doc.h"
#include "engine/runtime/module_table.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/dct_fixture.h"
#include "tests/support/native_writer.h"
#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"

namespace {

constexpr int kPictureW = 96, kPictureH = 64;

// A table: its writer description and the text the writer makes of it (a
// mark character, the caption, the cells' texts, a mark character).
struct TableSpec {
  std::string json;
  std::string text;
};

TableSpec Cell(const std::string& text, const std::string& format = {}) {
  std::string escaped;
  for (char c : text)
    escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  return {
      "{\"content\": \"" + escaped + "\"" + (format.empty() ? "" : ", \"format\": " + format) + "}",
      text};
}

TableSpec Table(const std::string& caption, const std::string& more,
                const std::vector<std::vector<TableSpec>>& rows) {
  TableSpec t{"{\"table\": {", "\n"};
  if (!caption.empty()) {
    t.json += "\"caption\": \"" + caption + "\", ";
    t.text += caption;
  }
  t.json += more + "\"groups\": [";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    t.json += std::string(r ? ", " : "") + "{\"rows\": 1, \"cells\": [";
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      t.json += (c ? ", " : "") + rows[r][c].json;
      t.text += rows[r][c].text;
    }
    t.json += "]}";
  }
  t.json += "]}}";
  t.text += "\n";
  return t;
}

// A cell holding text and then a nested table.
TableSpec CellWithTable(const std::string& text, const TableSpec& table) {
  return {"{\"content\": [\"" + text + "\\n\", " + table.json + "]}", text + "\n" + table.text};
}

const std::string kHead = R"({"background": [200, 220, 255], "padding": [2, 4, 2, 4]})";
const TableSpec kInner = Table("", "\"border\": 1, \"rule_mode\": 5, \"rule_width\": 1, ",
                               {{Cell("a1"), Cell("b1")}, {Cell("c1"), Cell("d1")}});
const TableSpec kTable =
    Table("Fruit by colour",
          "\"border\": 1, \"rule_mode\": 5, \"rule_width\": 1, \"format\": {\"border\": "
          "{\"width\": 2, \"style\": 16, \"colour\": [40, 60, 120]}}, ",
          {{Cell("Fruit", kHead), Cell("Colour", kHead), Cell("Notes", kHead)},
           {Cell("Apple"), Cell("Red"), CellWithTable("Grows on trees", kInner)},
           {Cell("Banana"), Cell("Yellow"), Cell("Curved and sweet")}});

// The text before and after the table ("@" the picture, "*" the bullets).
const std::string kBefore =
    "A Native Book\n"
    "The reader lays out native documents one line at a time: styled runs, paragraphs "
    "with space and frames, pictures and tables.\n"
    "@\n"
    "* Bullets are objects of their own.\n"
    "* So is the second one.\n"
    "#\n";
const std::string kAfter =
    "The second section has a background of its own colour and a link that leads back "
    "to the start.\n";
const std::string kText = kBefore + kTable.text + kAfter;
const auto kTitleEnd = static_cast<std::uint32_t>(kText.find('\n') + 1);
const auto kPictureAt = static_cast<std::uint32_t>(kText.find('@'));
const auto kBullet1 = static_cast<std::uint32_t>(kText.find('*'));
const auto kBullet2 = static_cast<std::uint32_t>(kText.find("* So"));
const auto kSelectAt = static_cast<std::uint32_t>(kText.find('#'));
const auto kTableAt = static_cast<std::uint32_t>(kBefore.size());
const auto kSection2 = static_cast<std::uint32_t>(kText.find("The second"));
const auto kStyled = static_cast<std::uint32_t>(kText.find("styled"));
const auto kLink = static_cast<std::uint32_t>(kText.find("back to the start"));

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text)
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string Hex16(std::uint32_t v) {
  return Hex(std::string{static_cast<char>(v >> 8), static_cast<char>(v)});
}

std::string Runs(const std::vector<std::array<std::uint32_t, 3>>& runs) {
  std::string out =
      "{\"delta_encoding\": 2, \"value_encoding\": 3, \"runs_per_record\": 16, "
      "\"runs\": [";
  for (std::size_t i = 0; i < runs.size(); ++i)
    out += (i ? "," : "") + std::string("[") + std::to_string(runs[i][0]) + "," +
           std::to_string(runs[i][1]) + "," + std::to_string(runs[i][2]) + "]";
  return out + "]}";
}

// The document with its picture in record `pictureRecord`.
std::string Description(std::uint16_t pictureRecord, const std::string& picture) {
  const auto end = static_cast<std::uint32_t>(kText.size());
  std::string json =
      "{\"section_count\": 2, \"charset\": 2252, \"table_layout\": "
      "{\"content\": [\"" +
      Escaped(kBefore) + "\", " + kTable.json + ", \"" + Escaped(kAfter) + "\"]}, \"run_lists\": {";
  json += "\"1\": " + Runs({{0, kSection2, 0}, {kSection2, end, 1}}) + ",";
  json += "\"2\": " + Runs({{0, kTitleEnd, 1}, {kTitleEnd, end, 0}}) + ",";
  // Character formats: the title bold and large, "styled" italic, the link
  // underlined and blue.
  json += "\"3\": " +
          Runs({{0, kTitleEnd - 1, 1},
                {kTitleEnd - 1, kStyled, 0},
                {kStyled, kStyled + 6, 2},
                {kStyled + 6, kLink, 0},
                {kLink, end - 1, 3},
                {end - 1, end, 0}}) +
          ",";
  json += "\"4\": " +
          Runs({{0, kPictureAt, 0},
                {kPictureAt, kPictureAt + 1, 0x10001},
                {kPictureAt + 1, kBullet1, 0},
                {kBullet1, kBullet1 + 1, 3},
                {kBullet1 + 1, kBullet2, 0},
                {kBullet2, kBullet2 + 1, 5},
                {kBullet2 + 1, kSelectAt, 0},
                {kSelectAt, kSelectAt + 1, 0x20000},
                {kSelectAt + 1, end, 0}}) +
          ",";
  json += "\"5\": {\"kind\": \"link\", \"runs\": [[" + std::to_string(kLink) + ", " +
          std::to_string(end - 1) + ", [0, 0]]]}";
  json += "},";
  json +=
      "\"indexes\": {\"2\": {\"items_per_record\": 4, \"items_hex\": "
      "[\"000200000000\", \"000100eef4ff\"]}},";
  json += "\"tables\": {";
  json +=
      "\"0\": {\"widths\": [2], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": \"0218\"}]},";
  json +=
      "\"1\": {\"widths\": [4], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"002040c0\"}, {\"fixed_hex\": \"00804020\"}]},";
  json +=
      "\"2\": {\"widths\": [2, 2, 1], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"0001\"}, {\"fixed_hex\": \"0002\"}]},";
  json +=
      "\"3\": {\"widths\": [2, 4, 4], \"items_per_block\": 8, \"items\": "
      "[{\"fixed_hex\": \"0000\", \"parts_hex\": [\"00040a00\"]}]},";
  json +=
      "\"4\": {\"widths\": [2, 1, 2], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"0004\"}]},";
  json +=
      "\"5\": {\"widths\": [4, 8, 6], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"00020230\"}]},";
  json +=
      "\"6\": {\"widths\": [4, 4, 4, 4], \"items_per_block\": 8, \"items\": "
      "[{\"fixed_hex\": \"01000001\", \"parts_hex\": [\"01010000\"]}]},";
  json +=
      "\"7\": {\"widths\": [4, 4, 4], \"items_per_block\": 8, \"items\": ["
      "{\"fixed_hex\": \"01000102\"}, {\"fixed_hex\": \"02000000\"}, "
      "{\"fixed_hex\": \"04000001\"}]},";
  json +=
      "\"12\": {\"widths\": [4, 2, 4], \"items_per_block\": 8, \"items\": "
      "[{\"fixed_hex\": \"00020000\"}]},";
  json +=
      "\"9\": {\"widths\": [8, 4, 4], \"items_per_block\": 8, \"items\": [{\"fixed_hex\": "
      "\"000200000004" +
      Hex(std::string{static_cast<char>(kPictureW), static_cast<char>(kPictureH)}) +
      "\", \"parts_hex\": [\"00000000\", \"" + Hex16(pictureRecord) + "0000\"]}]}";
  json += "},";
  json += "\"extra_records\": [[4, \"" + Hex(picture) + "\"]], ";
  // A select list: its options in the extra stream, option 2 chosen.
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  const std::string names("\0Red apples\0Yellow bananas\0Green pears\0", 39);
  const std::string options = be32(3) + be32(static_cast<std::uint32_t>(names.size())) + names +
                              be32(3) + be32(0) + be32(kTitleEnd) + be32(kTableAt);
  json += "\"extra_hex\": \"" +
          Hex(be32(16 + static_cast<std::uint32_t>(options.size())) + be32(1) + be32(16) + be32(0) +
              options) +
          "\", ";
  // Two bookmarks in position list 0.
  json += "\"position_lists\": {\"0\": [[\"Picture\", " + std::to_string(kPictureAt) +
          "], [\"Table\", " + std::to_string(kTableAt) + "]]}}";
  return json;
}

// A picture with large colour areas: red left, blue right, a green band.
unsigned char PicturePixel(int x, int y, int k) {
  const int r = x < kPictureW / 2 ? 220 : 30;
  const int g = y > kPictureH / 3 && y < 2 * kPictureH / 3 ? 200 : 40;
  const int b = x < kPictureW / 2 ? 40 : 220;
  return static_cast<unsigned char>(k == 0 ? r : k == 1 ? g : b);
}

std::string WriteDocument() {
  const dct_fixture::DctRecord picture =
      dct_fixture::MakeDctRecord(kPictureW, kPictureH, true, 85, PicturePixel);
  std::string error;
  // Written once to learn which record holds the picture.
  const std::string first = native_tool::Write(Description(0, picture.bytes), {}, &error);
  EXPECT_FALSE(first.empty()) << error;
  const auto records = record_db_fixtures::ParseRecords(first);
  std::uint16_t at = 0;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const std::string& r = records[i];
    if (r.size() > picture.bytes.size() && r[1] == 4 &&
        r.compare(r.size() - picture.bytes.size(), std::string::npos, picture.bytes) == 0)
      at = static_cast<std::uint16_t>(i);
  }
  EXPECT_NE(at, 0);
  const auto file = native_tool::Write(Description(at, picture.bytes), {}, &error);
  EXPECT_FALSE(file.empty()) << error;
  return file;
}

struct Line {
  std::uint32_t start, end;
  int y;
  LineMetrics metrics;
};

TEST(NativeDocumentPicture, LinesPictureAndBackgroundsAreDrawnWhereTheLayoutPutsThem) {
  const std::string file = WriteDocument();
  ASSERT_FALSE(file.empty());
  constexpr int kW = 420, kH = 640, kMargin = 4;
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

  ASSERT_EQ(g_NativeDocModule, &NativeDocModule) << "the native handler is registered";
  const DocHandlerOps& h = DocOpsOf(g_NativeDocModule);
  record_db_fixtures::MemDb db(file);
  ASSERT_EQ(h.command(g_NativeDocModule, DocCommand::ProbeDatabase, db.db(), 0), kDocProbeMine);
  EngineObject* doc = nullptr;
  ASSERT_EQ(h.create(g_NativeDocModule, &doc), kOk);
  ASSERT_EQ(h.command(doc, DocCommand::OpenDatabase, db.db(), 0), kOk);
  std::uint32_t length = 0;
  ASSERT_EQ(h.getTextLength(doc, &length), kOk);
  ASSERT_EQ(length, kText.size());

  DeviceContext ctx = nullptr;
  ASSERT_EQ(d.beginDraw(dev, &ctx), kOk);
  std::int16_t usable = 0;
  ASSERT_EQ(d.getProperty(dev, DeviceInfo::UsableWidth, &usable), kOk);
  ASSERT_EQ(d.fillRect(dev, ctx, 0, 0, kW, kH, nullptr), kOk);
  // The first section asks for its tables to be laid out before it is shown.
  std::uint32_t flags = 0;
  ASSERT_EQ(h.getSectionFlags(doc, 0, &flags), kOk);
  ASSERT_EQ(flags, kSectionNeedsPagination);
  std::uint32_t word = 0;
  StatusCode pass = h.layoutPassStep(doc, dev, ctx, 0, 0, &word);
  for (int k = 0; k < 1000 && pass == kDocTablePassPending; ++k)
    pass = h.layoutPassStep(doc, dev, ctx, 2, 0, &word);
  ASSERT_EQ(pass, kOk);
  // Table layout on, as the view turns it on for the lines it paginates
  // once the pass is done (starting the pass turns it off).
  ASSERT_EQ(h.control(doc, DocControl::SetInSlice, 0, nullptr), kOk);
  std::vector<Line> lines;
  int y = 0;
  for (std::uint32_t start = 0; start < length && y < kH;) {
    Line line{start, 0, y, {}};
    const StatusCode s =
        h.layoutLine(doc, dev, ctx, start, length, usable, &line.end, &line.metrics);
    if (s == kNoMore) break;
    ASSERT_EQ(s, kOk) << "at " << start;
    ASSERT_GT(line.end, start);
    const auto ly = static_cast<std::int16_t>(y);
    ASSERT_EQ(h.drawLineBackground(doc, dev, ctx, 0, ly, &line.metrics, usable, 0, start, line.end),
              kOk);
    const StatusCode drawn = h.drawLine(doc, dev, ctx, 0, ly, &line.metrics, start, line.end);
    ASSERT_TRUE(drawn == kOk || drawn == kNoMore) << drawn << " at " << start;
    lines.push_back(line);
    y += line.metrics.top + line.metrics.height + line.metrics.extra;
    start = line.end;
  }
  ASSERT_EQ(d.endDraw(dev, ctx), kOk);
  ASSERT_LT(y, kH) << "the document must fit the picture";

  const QImage picture = WinDevice_Surface(dev)->copy();
  KeepPicture(picture, QStringLiteral("native_document_lines"));

  auto lineAt = [&](std::uint32_t p) -> const Line* {
    for (const Line& l : lines)
      if (l.start <= p && p < l.end) return &l;
    return nullptr;
  };
  // The picture's line: its own size, and the decoded colours in its box
  // (red on the left half, blue on the right, each within JPEG's error).
  const Line* pic = lineAt(kPictureAt);
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(pic->end, kPictureAt + 1u);
  EXPECT_EQ(pic->metrics.width, kPictureW);
  EXPECT_EQ(pic->metrics.height, kPictureH);
  const int px = kMargin + pic->metrics.indent, py = pic->y + pic->metrics.top;
  const QColor left = picture.pixelColor(px + 10, py + 5);
  const QColor right = picture.pixelColor(px + kPictureW - 10, py + 5);
  EXPECT_GT(left.red(), 180);
  EXPECT_LT(left.blue(), 90);
  EXPECT_GT(right.blue(), 180);
  EXPECT_LT(right.red(), 90);
  EXPECT_GT(picture.pixelColor(px + 10, py + kPictureH / 2).green(), 150);

  // The select list is a line of its own, as wide as its longest option
  // and drawn closed with its chosen one; the bookmarks read back.
  const Line* list = lineAt(kSelectAt);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->end, kSelectAt + 1u);
  EXPECT_GT(list->metrics.width, 60);
  std::uint16_t marks = 0;
  ASSERT_EQ(h.bookmarkOp(doc, DocBookmark::Count, 0, &marks), kOk);
  EXPECT_EQ(marks, 2);
  std::uint32_t mark = 0;
  ASSERT_EQ(h.bookmarkOp(doc, DocBookmark::GetValue, 1, &mark), kOk);
  EXPECT_EQ(mark, kTableAt);

  // The table: a caption line and one row line per row, as wide as the
  // table, with the frame's colour and the heading cells' background.
  std::vector<const Line*> rows;
  for (const Line& l : lines)
    if (l.start >= kTableAt && l.start < kSection2 - 1) rows.push_back(&l);
  ASSERT_EQ(rows.size(), 4u) << "caption and three rows";
  EXPECT_EQ(rows[0]->start, kTableAt);
  for (std::size_t i = 1; i < rows.size(); ++i)
    EXPECT_EQ(rows[i]->metrics.width, rows[1]->metrics.width);
  int frame = 0, heading = 0;
  for (int yy = rows[1]->y; yy < rows.back()->y + rows.back()->metrics.height; ++yy)
    for (int xx = 0; xx < kW; ++xx) {
      const QColor c = picture.pixelColor(xx, yy);
      frame += c == QColor(40, 60, 120);
      heading += c == QColor(200, 220, 255);
    }
  EXPECT_GT(frame, 100);
  EXPECT_GT(heading, 200);

  // The title is centred and framed; the second section's lines lie on its
  // colour; every text line has ink within its box.
  const Line* title = lineAt(0);
  ASSERT_NE(title, nullptr);
  EXPECT_GT(title->metrics.indent, 40);
  EXPECT_GT(title->metrics.top, 0);
  const Line* second = lineAt(kSection2);
  ASSERT_NE(second, nullptr);
  const QColor back = picture.pixelColor(kW - kMargin - 3, second->y + second->metrics.top + 1);
  EXPECT_EQ(back, QColor(0xee, 0xf4, 0xff));
  for (const Line& l : lines) {
    if (l.start == kPictureAt || l.start == kSelectAt || l.end - l.start < 3 ||
        (l.start >= kTableAt && l.start < kSection2))
      continue;
    int ink = 0;
    const int top = l.y + l.metrics.top;
    const QColor paper = picture.pixelColor(kW - kMargin - 2, top + l.metrics.height / 2);
    for (int r = top; r < top + l.metrics.height; ++r)
      for (int c = kMargin + l.metrics.indent; c < kMargin + l.metrics.indent + l.metrics.width;
           ++c)
        ink += picture.pixelColor(c, r) != paper;
    EXPECT_GT(ink, 10) << "line at " << l.start;
  }

  (void)h.destroy(doc);
  (void)d.destroy(dev);
}

class NativeDocumentWindow : public ReaderTest {
 protected:
  NativeDocumentWindow() : ReaderTest(DefaultEncoding::kAsDefaults) {}
};

TEST_F(NativeDocumentWindow, TheReaderOpensANativeDocument) {
  const QString book = WriteFile("book.pdb", WriteDocument());
  const auto frame = ShownWindow(QSize(760, 560));
  ASSERT_TRUE(frame->OpenDocumentFile(book));
  Settle();
  ASSERT_EQ(frame->Views().size(), 1);
  KelpoView* view = frame->Views().front();
  EXPECT_TRUE(view->layoutValid());
  const QImage window = frame->grab().toImage();
  KeepPicture(window, QStringLiteral("native_document_window"));
  // The picture's colours reach the window.
  int red = 0, blue = 0;
  for (int yy = 0; yy < window.height(); ++yy)
    for (int xx = 0; xx < window.width(); ++xx) {
      const QColor c = window.pixelColor(xx, yy);
      red += c.red() > 180 && c.blue() < 90 && c.green() < 90;
      blue += c.blue() > 180 && c.red() < 90 && c.green() < 90;
    }
  EXPECT_GT(red, 500);
  EXPECT_GT(blue, 500);
}

}  // namespace
