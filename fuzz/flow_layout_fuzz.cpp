// Lays out, draws, hit-tests, inverts, searches and copies arbitrary text
// with arbitrary style runs through the recording fake device. The shared
// flowing-text code must answer statuses only: no crash, sanitizer report,
// leak or endless loop, every line must make progress and stay in its range,
// and every hit must lie on its line.
//
// The fake device lives in tests/support; it is compiled in here because the
// fuzz targets link only the instrumented engine.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/startup/engine_start.h"
#include "tests/formats/styled_doc.h"
#include "tests/support/fake_device.h"

namespace {

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  std::uint8_t U8() { return pos < size ? data[pos++] : 0; }
  std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | (U8() << 8)); }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

EngineObject* g_device = nullptr;
constexpr std::int16_t kSurfaceHeight = 32;
// Lines laid out per input. A few dozen lines show every way a line ends;
// more only repeat them. Searching for the line above keeps the last 32
// lines it laid out, so a search from the last of these runs past that.
constexpr int kMaxLines = 36;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Core_SetHostDeviceModule(&FakeDeviceModule);
  (void)Core_RegisterAllModules();
  // A surface of a few text lines: every line still draws, inverts and is
  // hit-tested in it, without filling a whole page of pixels each time.
  g_device = FakeDevice_Open(300, kSurfaceHeight, 4);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  EngineObject* dev = g_device;
  FakeDevice& fake = FakeDevice_Of(dev);
  fake.ClearLog();

  // Parameters: width, window, charset, display word, then up to 8 runs.
  const auto width = static_cast<std::int16_t>(in.U16());
  StyledDoc doc;
  doc.window = 1 + in.U8() % 64;
  std::uint32_t mib = (in.U8() & 1) ? 106 : 0;
  (void)DeviceOf(dev).setProperty(dev, &mib, 0, DeviceProp::Charset);
  const int runCount = in.U8() % 9;
  std::uint32_t at = 0;
  for (int i = 0; i < runCount; ++i) {
    StyledRun r{};
    r.start = at + in.U8() % 16;
    r.end = r.start + 1 + in.U8() % 32;
    at = r.end;
    r.font = Font(static_cast<std::int16_t>(static_cast<std::int8_t>(in.U8())), in.U16());
    r.format.formatFlags = in.U16();
    r.format.leftIndent = in.U8();
    r.format.rightIndent = in.U8() & 0x3F;
    r.format.leftIndent2 = in.U8() & 0x1F;
    r.format.rightIndent2 = in.U8() & 0x1F;
    r.format.shiftIndent = static_cast<std::int8_t>(in.U8());
    r.format.minHeightCode = in.U8();
    r.format.markerShape = in.U16();
    r.format.minWidth = in.U16();
    r.format.breakHeight = in.U16();
    doc.runs.push_back(r);
  }
  // Text beyond 384 bytes adds nothing but time (every line is drawn,
  // inverted and hit-tested, and line search lays whole paragraphs out
  // again): the runs above reach at most 8 x 47 bytes.
  const std::size_t textStart = std::min(in.pos, size);
  doc.text.assign(reinterpret_cast<const char*>(data) + textStart,
                  std::min<std::size_t>(size - textStart, 384));
  DocHandlerOps ops = StyledOps();
  EngineObject handler{&doc, &ops};
  EngineObject* h = &handler;
  const auto end = static_cast<std::uint32_t>(doc.text.size());

  DeviceContext ctx = nullptr;
  if (DeviceOf(dev).beginDraw(dev, &ctx) != kOk) return 0;
  // The call log is for tests that read it; here it would only cost time.
  fake.logging = false;
  std::uint32_t p = 0;
  std::int16_t y = 0;
  int lines = 0;
  while (p < end && lines < kMaxLines) {
    std::uint32_t next = 0;
    LineMetrics m{};
    const StatusCode s = ops.layoutLine(h, dev, ctx, p, end, width, &next, &m);
    if (s != kOk) break;
    Check(next > p && next <= end);
    (void)ops.drawLineBackground(h, dev, ctx, 0, y, &m, 300, 0, p, next);
    (void)ops.drawLine(h, dev, ctx, 0, y, &m, p, next);
    (void)ops.invertRange(h, dev, ctx, 1, 0, y, &m, p, 0, 0, p, next);
    // Before the line, inside it (a point the input chooses) and after it.
    const auto inside = static_cast<std::int16_t>(m.indent + (p * 7 + lines) % (m.width + 1));
    for (std::int16_t x : {std::int16_t{-3}, inside, std::int16_t(300)}) {
      std::uint32_t a = 0, b = 0;
      HitBox box{};
      if (ops.hitTest(h, dev, ctx, x, 1, &m, p, next, &box, &a, &b) == kOk)
        Check(a >= p && a <= next && b >= a && b <= next);
    }
    std::int16_t x1 = 0, x2 = 0;
    (void)ops.positionToX(h, dev, ctx, p, p + (next - p) / 2, next, &x1, &x2);
    y = static_cast<std::int16_t>((y + m.height) % kSurfaceHeight);
    p = next;
    ++lines;
  }
  // Line search both ways, from a few positions up to where the lines above
  // stopped: a search lays out every line from its paragraph's start, and
  // beyond the lines above it would only repeat them.
  const std::uint32_t reach = lines < kMaxLines ? end : p;
  for (std::uint32_t q : {reach, reach / 2, reach / 3 + 1}) {
    std::uint32_t s = 0, e = 0;
    if (q > 0 && ops.findLine(h, dev, ctx, q, 0, width, &s, &e, nullptr) == kOk)
      Check(s < q && e >= q);
    std::int16_t height = static_cast<std::int16_t>(in.U8() + 1), count = 0;
    if (ops.findLineAbove(h, dev, ctx, q, 0, width, 0, &s, &height, nullptr, &count) == kOk)
      Check(s <= q && count >= 0 && count <= 32 && height >= 0);
  }
  std::uint32_t next = 0;
  std::int16_t full = 0, widest = 0;
  (void)DocHandler_MeasureLine(h, dev, ctx, 0, end, &next, &full, &widest);
  (void)ops.copyRange(h, dev, end, end / 4);
  std::vector<std::uint8_t> buffer(end / 2);
  std::uint32_t copied = 0;
  (void)ops.readRange(h, end / 4, end, buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                      &copied);
  Check(copied <= buffer.size());
  fake.logging = true;  // as BeginDraw expects it
  (void)DeviceOf(dev).endDraw(dev, ctx);
  fake.ClearLog();
  return 0;
}
