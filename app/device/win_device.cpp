#include "app/device/win_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/device/clipboard_text.h"
#include "app/device/device_core.h"
#include "app/device/device_text.h"
#include "app/device/planar_image.h"
#include "engine/device/note_box.h"
#include "engine/device/palm_bitmap.h"
#include "engine/device/pos_map.h"
#include "engine/device/select_ctl.h"
#include "engine/device/table_store.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/file_sys.h"

namespace {

constexpr int kFontCacheSize = 8;
constexpr int kMaxSurfaceSide = 8192;
constexpr int kImageFrameGrey = 192;

WinDeviceNoticeHook g_noticeHook = nullptr;
WinDeviceOpenHook g_openHook = nullptr;

QColor ToQColor(const DeviceColour& c) {
  return QColor(c.red, c.green, c.blue);
}

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, INT16_MIN, INT16_MAX));
}

// A font made for one request, its metrics and the advances measured so far.
struct FontData {
  FontRequest request;
  QFont font;
  QFontMetrics metrics{QFont()};
  int ascent = 0, descent = 0, leading = 0;
  std::array<std::int32_t, 256> latin;
  std::unordered_map<char32_t, std::int32_t> others;

  FontData() { latin.fill(-1); }
  // The whole-pixel advance of one code point given as its UTF-16 units.
  std::int32_t Advance(char32_t c, const char16_t* units, int n) {
    if (c < 256 && latin[c] >= 0) return latin[c];
    if (c >= 256) {
      const auto it = others.find(c);
      if (it != others.end()) return it->second;
    }
    const std::int32_t a =
        c < 0x20 ? 0 : metrics.horizontalAdvance(QString::fromUtf16(units, n), -1);
    if (c < 256)
      latin[c] = a;
    else if (others.size() < 4096)
      others.emplace(c, a);
    return a;
  }
};

struct CachedFont {
  std::shared_ptr<FontData> data;
  std::uint32_t stamp = 0;
};

struct WinDevice {
  // Host window and size.
  QPointer<QWidget> host;
  std::int16_t width = 0, height = 0;
  std::uint16_t margin = 0;
  // Modes.
  bool vShown = true, hEnabled = true, plainMode = false, fontCacheOn = true;
  QPainter* printer = nullptr;
  DeviceTheme theme;
  std::uint32_t charset = 0;
  std::uint16_t displayWord = 2;
  std::array<std::u16string, 6> faces;
  DeviceScroll vscroll = Device_ScrollValues(0, 0, 0);
  // Current font and text state.
  std::shared_ptr<FontData> font;
  DeviceFontSpec spec{DeviceFace::Default, 10, 0, {}, {}};
  DeviceColour textColour{0, 0, 0}, savedTextColour{0, 0, 0};
  bool opaque = false;
  DeviceColour background{};
  std::int16_t textX = 0, textY = 0;
  std::uint32_t textFlags = 0, savedTextFlags = 0;
  std::int16_t underlineOffset = kDeviceNoUnderline;
  std::array<CachedFont, kFontCacheSize> cache;
  std::uint32_t stampCounter = 1;
  // Clipboard and vObjects.
  ClipboardText clipboard;
  std::string lastVObject;
  // Drawing.
  std::uint32_t depth = 0;
  QImage surface;
  QPainter windowPainter;
  QRect windowClip;
  QImage offscreen;
  QPainter offPainter;
  QRect offClip;
  bool offCurrent = false;
  QImage saved;        // the part of the saved area that lay on the surface
  QPoint savedOffset;  // where that part starts inside the saved area
  bool savedExists = false;
  QRect printClip;
  // Horizontal bars.
  DeviceHScrollKeys keys;
  std::array<QPointer<QScrollBar>, kMaxHScrollBars> bars;
  // Position map, table store and progress.
  DeviceServices services{};

  bool Printing() const { return printer != nullptr; }
  int Origin() const { return Printing() ? 0 : margin; }
  QPainter* Painter() {
    if (Printing()) return printer;
    return offCurrent ? &offPainter : &windowPainter;
  }
  QImage* Image() {
    if (Printing()) return nullptr;
    return offCurrent ? &offscreen : &surface;
  }
  QRect& Clip() {
    if (Printing()) return printClip;
    return offCurrent ? offClip : windowClip;
  }
  QWidget* Canvas() const {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(host.data())) return area->viewport();
    return host.data();
  }
  QScrollBar* VBar() const {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(host.data()))
      return area->verticalScrollBar();
    return nullptr;
  }
  int BarExtent() const {
    if (QWidget* c = Canvas()) return c->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (qApp) return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return 16;
  }
  FontContext Context() const {
    FontContext c;
    c.displayWord = displayWord;
    c.plainMode = plainMode;
    c.printing = Printing();
    c.dpiY = host ? host->logicalDpiY() : kDefaultDpi;
    if (c.dpiY <= 0) c.dpiY = kDefaultDpi;
    return c;
  }
  void DropFonts() {
    for (auto& entry : cache)
      entry = CachedFont{};
  }
};

WinDevice& Dev(EngineObject* device) {
  return BodyOf<WinDevice>(device);
}

bool Drawing(const WinDevice& d) {
  return d.depth > 0;
}

// --- fonts ----------------------------------------------------------------

std::shared_ptr<FontData> MakeFont(const WinDevice& d, const FontRequest& r) {
  auto data = std::make_shared<FontData>();
  data->request = r;
  QFont f;
  QFont::StyleHint hint = QFont::AnyStyle;
  const char* generic = "sans-serif";
  switch (r.family) {
    case FontFamily::Roman:
      hint = QFont::Serif;
      generic = "serif";
      break;
    case FontFamily::Swiss:
      hint = QFont::SansSerif;
      break;
    case FontFamily::Script:
      hint = QFont::Cursive;
      generic = "cursive";
      break;
    case FontFamily::Decorative:
      hint = QFont::Fantasy;
      generic = "fantasy";
      break;
    case FontFamily::Modern:
      hint = QFont::Monospace;
      generic = "monospace";
      break;
    default:
      break;
  }
  const std::u16string& name = d.faces[r.faceSlot];
  f.setFamily(name.empty() ? QString::fromLatin1(generic)
                           : QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())));
  f.setStyleHint(hint, r.smooth ? QFont::PreferAntialias : QFont::NoSubpixelAntialias);
  if (r.family == FontFamily::Modern) f.setFixedPitch(true);
  f.setPixelSize(std::max(1, r.pixels));
  f.setWeight(r.bold ? QFont::Bold : QFont::Normal);
  f.setItalic(r.italic);
  f.setUnderline(r.underline);
  f.setStrikeOut(r.strikeOut);
  f.setKerning(false);
  f.setHintingPreference(QFont::PreferFullHinting);
  data->font = f;
  data->metrics = QFontMetrics(f);
  data->ascent = data->metrics.ascent();
  data->descent = data->metrics.descent();
  data->leading = std::max(0, data->metrics.leading());
  return data;
}

// The font of a request: from the cache (the least recently used entry is
// replaced when all 8 are taken), or fresh when the cache is off.
std::shared_ptr<FontData> FontFor(WinDevice& d, const FontRequest& r) {
  if (!d.fontCacheOn) return MakeFont(d, r);
  CachedFont* victim = nullptr;
  for (auto& entry : d.cache) {
    if (entry.data && entry.data->request == r) {
      if (entry.stamp + 1 != d.stampCounter) entry.stamp = d.stampCounter++;
      return entry.data;
    }
    if (victim == nullptr || (victim->data && (!entry.data || entry.stamp < victim->stamp)))
      victim = &entry;
  }
  victim->data = MakeFont(d, r);
  victim->stamp = d.stampCounter++;
  return victim->data;
}

std::shared_ptr<FontData> CurrentFont(WinDevice& d) {
  if (!d.font) d.font = FontFor(d, WinDevice_FontRequest(d.spec, d.Context()));
  return d.font;
}

// --- text -----------------------------------------------------------------

template <class Fn>
void ForEachCodePoint(const DeviceText& t, Fn fn) {
  const char16_t* u = t.Units();
  const std::uint32_t n = t.Size();
  for (std::uint32_t i = 0; i < n;) {
    const bool pair = DeviceText_IsPairStart(u, i, n);
    const char32_t c =
        pair ? 0x10000 + ((char32_t{u[i]} - 0xD800) << 10) + (u[i + 1] - 0xDC00) : u[i];
    const std::uint32_t len = pair ? 2 : 1;
    fn(i, len, c);
    i += len;
  }
}

std::int64_t RunWidth(FontData& f, const DeviceText& t) {
  std::int64_t w = 0;
  ForEachCodePoint(t, [&](std::uint32_t i, std::uint32_t len, char32_t c) {
    w += f.Advance(c, t.Units() + i, static_cast<int>(len));
  });
  return w;
}

// Calls fn(byteStart, byteEnd, xAfter) for every source character in order;
// bytes that no unit came from get the x reached before them.
template <class Fn>
void ForEachSourceChar(FontData& f, const DeviceText& t, std::uint32_t count, Fn fn) {
  std::int64_t x = 0;
  std::uint32_t next = 0;
  const std::uint32_t n = t.Size();
  std::int64_t before = 0;  // x where the current source character began
  ForEachCodePoint(t, [&](std::uint32_t i, std::uint32_t len, char32_t c) {
    if (i == 0 || t.Start(i) != t.Start(i - 1)) before = x;
    x += f.Advance(c, t.Units() + i, static_cast<int>(len));
    const std::uint32_t last = i + len - 1;
    if (last + 1 < n && t.Start(last + 1) == t.Start(last)) return;  // more units of this char
    const std::uint32_t s = std::min(t.Start(last), count), e = std::min(t.End(last), count);
    if (s > next) fn(next, s, before);
    if (e > next) fn(std::max(s, next), e, x);
    next = std::max(next, e);
  });
  if (next < count) fn(next, count, x);
}

// Draws a converted run with its left end at x and its baseline at y.
void PaintRun(WinDevice& d, FontData& f, const DeviceText& t, int left, int baseline,
              const QColor& ink) {
  QPainter* p = d.Painter();
  p->setFont(f.font);
  p->setPen(ink);
  std::int64_t x = left;
  ForEachCodePoint(t, [&](std::uint32_t i, std::uint32_t len, char32_t c) {
    const std::int32_t a = f.Advance(c, t.Units() + i, static_cast<int>(len));
    if (c >= 0x20 && x > -32768 && x < 32767)
      p->drawText(QPoint(static_cast<int>(x), baseline),
                  QString::fromUtf16(t.Units() + i, static_cast<qsizetype>(len)));
    x += a;
  });
}

// Draws text at (x, y) under the current alignment; answers the x after it.
std::int16_t DrawRun(WinDevice& d, const DeviceText& t, int x, int y) {
  FontData& f = *CurrentFont(d);
  const int w = static_cast<int>(std::min<std::int64_t>(RunWidth(f, t), 32767));
  int left = x;
  switch (d.textFlags & DeviceTextAlign::HorizontalMask) {
    case DeviceTextAlign::Centre:
      left = x - w / 2;
      break;
    case DeviceTextAlign::Right:
      left = x - w;
      break;
    default:
      break;
  }
  int baseline = y + f.ascent;
  switch (d.textFlags & DeviceTextAlign::VerticalMask) {
    case DeviceTextAlign::Baseline:
      baseline = y;
      break;
    case DeviceTextAlign::Bottom:
      baseline = y - f.descent;
      break;
    default:
      break;
  }
  QPainter* p = d.Painter();
  if (d.opaque)
    p->fillRect(QRect(left, baseline - f.ascent, w, f.ascent + f.descent), ToQColor(d.background));
  const QColor ink = ToQColor(d.textColour);
  PaintRun(d, f, t, left, baseline, ink);
  if ((d.spec.style & DeviceFontStyle::DottedUnderline) &&
      d.underlineOffset != kDeviceNoUnderline) {
    // Dots on even columns of the surface, whatever the run's start.
    const int band = y + d.underlineOffset;
    QPolygon dots;
    for (int px = left; px < left + w; ++px)
      if (((px + d.Origin()) & 1) == 0) dots << QPoint(px, band);
    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(QPen(ink, 0));
    p->drawPoints(dots);
    p->restore();
  }
  const std::int16_t after = Clamp16(std::int64_t{left} + w);
  if (d.textFlags & DeviceTextAlign::Advance) d.textX = after;
  return after;
}

// --- slots ----------------------------------------------------------------

StatusCode Create(EngineObject*, EngineObject** out) noexcept;

void ReleaseVObject(WinDevice& d) {
  if (!d.lastVObject.empty()) ::unlink(d.lastVObject.c_str());
  d.lastVObject.clear();
}

StatusCode Destroy(EngineObject* device) noexcept {
  WinDevice& d = Dev(device);
  ReleaseVObject(d);
  PosMap_ReleaseServices(&d.services);
  if (d.offPainter.isActive()) d.offPainter.end();
  if (d.windowPainter.isActive()) d.windowPainter.end();
  for (auto& bar : d.bars)
    delete bar.data();
  auto* instance = reinterpret_cast<EngineInstance<WinDevice>*>(device);
  instance->body.~WinDevice();
  Engine_Free(instance);
  return kOk;
}

void ApplyVScroll(WinDevice& d) {
  QScrollBar* bar = d.VBar();
  if (bar == nullptr) return;
  const QSignalBlocker block(bar);
  if (!d.vShown) {
    bar->setRange(0, 0);
    return;
  }
  bar->setRange(0, d.vscroll.barMaximum);
  bar->setPageStep(std::max(1, d.vscroll.barPage));
  bar->setValue(d.vscroll.barValue);
}

void SetWindow(WinDevice& d, void* window, std::int16_t w, std::int16_t h) {
  d.host = static_cast<QWidget*>(window);
  d.width = w;
  d.height = h;
}

StatusCode SetProperty(EngineObject* device, void* arg, std::int16_t a, std::int16_t b) noexcept {
  WinDevice& d = Dev(device);
  if (a != 0 || b == 0) {
    SetWindow(d, arg, a, b);
    return kOk;
  }
  switch (b) {
    case DeviceProp::WindowSize: {
      if (arg == nullptr) return kNullOutPointer;
      const auto* r = static_cast<const DeviceWindowSize*>(arg);
      SetWindow(d, r->window, r->width, r->height);
      return kOk;
    }
    case DeviceProp::DisplayWord: {
      if (arg == nullptr) return kNullOutPointer;
      const std::uint16_t word = *static_cast<const std::uint16_t*>(arg);
      if ((word ^ d.displayWord) & DeviceDisplay::Smoothed) d.DropFonts();
      d.displayWord = word;
      d.font.reset();
      return kOk;
    }
    case DeviceProp::VScrollShown:
      if (arg == nullptr) return kNullOutPointer;
      d.vShown = *static_cast<const std::uint32_t*>(arg) != 0;
      ApplyVScroll(d);
      return kOk;
    case DeviceProp::HScrollBars:
      if (arg == nullptr) return kNullOutPointer;
      d.hEnabled = *static_cast<const std::uint32_t*>(arg) != 0;
      return kOk;
    case DeviceProp::FaceName: {
      if (arg == nullptr) return kNullOutPointer;
      const auto* face = static_cast<const DeviceFaceName*>(arg);
      std::uint32_t length = 0;
      const int slot = Device_FaceName(*face, &length);
      if (slot < 0) return kOk;
      d.faces[slot].assign(face->name ? face->name : u"", length);
      d.DropFonts();
      d.font.reset();
      return kOk;
    }
    case DeviceProp::Margin:
      if (arg == nullptr) return kNullOutPointer;
      d.margin = *static_cast<const std::uint16_t*>(arg);
      return kOk;
    case DeviceProp::Printer:
      d.printer = static_cast<QPainter*>(arg);
      d.font.reset();
      return kOk;
    case DeviceProp::PlainMode:
      d.plainMode = arg != nullptr;
      d.font.reset();
      return kOk;
    case DeviceProp::DropFonts:
      d.DropFonts();
      return kOk;
    case DeviceProp::FontCache:
      d.fontCacheOn = arg != nullptr;
      if (!d.fontCacheOn) d.DropFonts();
      return kOk;
    case DeviceProp::Charset:
      if (arg == nullptr) return kNullOutPointer;
      d.charset = *static_cast<const std::uint32_t*>(arg);
      return kOk;
    case DeviceProp::Theme:
      Device_SetTheme(&d.theme, static_cast<const DeviceThemeEntry*>(arg));
      return kOk;
    case DeviceProp::FirstHScrollWindow: {
      if (arg == nullptr) return kNullOutPointer;
      const int first = d.keys.First();
      *static_cast<void**>(arg) = first >= 0 ? d.bars[first].data() : nullptr;
      return kOk;
    }
    case DeviceProp::SuspendTheme:
      d.theme.suspended = true;
      return kOk;
    case DeviceProp::ResumeTheme:
      d.theme.suspended = false;
      return kOk;
    default:
      return kOk;  // every other code is accepted and does nothing
  }
}

StatusCode GetProperty(EngineObject* device, std::int16_t code, void* out) noexcept {
  WinDevice& d = Dev(device);
  if (out == nullptr) return kNullOutPointer;
  const int extent = d.hEnabled && !d.Printing() ? d.BarExtent() : 0;
  switch (code) {
    case DeviceInfo::HScrollHeight:
      *static_cast<std::int16_t*>(out) = Clamp16(extent);
      return kOk;
    case DeviceInfo::UsableWidth:
      *static_cast<std::int16_t*>(out) = Clamp16(d.width - 2 * d.margin);
      return kOk;
    case DeviceInfo::Height:
      *static_cast<std::int16_t*>(out) = d.height;
      return kOk;
    case DeviceInfo::Depth:
      *static_cast<std::uint8_t*>(out) = 24;
      return kOk;
    case DeviceInfo::UsableHeight:
      *static_cast<std::int16_t*>(out) =
          Clamp16(d.height - (d.hEnabled && d.keys.InUse() > 0 ? extent : 0));
      return kOk;
    case DeviceInfo::Charset:
      *static_cast<std::uint32_t*>(out) = d.charset;
      return kOk;
    default:
      return kNotSupported;
  }
}

StatusCode BeginDraw(EngineObject* device, DeviceContext* ctx) noexcept {
  WinDevice& d = Dev(device);
  if (d.depth == 0) {
    if (d.Printing()) {
      if (!d.printer->isActive()) return kFailed;
      d.printer->save();
      d.printClip = QRect(0, 0, 32767, 32767);
    } else {
      if (d.host.isNull() || d.width <= 0 || d.height <= 0 || d.width > kMaxSurfaceSide ||
          d.height > kMaxSurfaceSide)
        return kFailed;
      if (d.surface.width() != d.width || d.surface.height() != d.height) {
        QImage next(d.width, d.height, QImage::Format_RGB32);
        if (next.isNull()) return kOutOfMemory;
        next.fill(ToQColor(kDeviceWindowColour));
        // Only what the text view draws is kept: the margins stay blank, so a
        // narrower window shows no strip of the wider layout beside its text.
        QPainter copy(&next);
        copy.setClipRect(d.margin, 0, std::max(0, d.width - 2 * d.margin), d.height);
        copy.drawImage(0, 0, d.surface);
        copy.end();
        d.surface = next;
      }
      if (!d.windowPainter.begin(&d.surface)) return kFailed;
      d.windowPainter.translate(d.margin, 0);
      d.windowClip = QRect(0, 0, std::max(0, d.width - 2 * d.margin), d.height);
      d.windowPainter.setClipRect(d.windowClip);
    }
    d.offCurrent = false;
    d.savedTextColour = d.textColour;
    if (ctx != nullptr && *ctx == nullptr) *ctx = &d;
  }
  ++d.depth;
  return kOk;
}

StatusCode EndDraw(EngineObject* device, DeviceContext) noexcept {
  WinDevice& d = Dev(device);
  if (d.depth == 0) return kEndDrawWithoutBegin;
  if (--d.depth > 0) return kOk;
  if (d.offPainter.isActive()) d.offPainter.end();
  d.offscreen = QImage();
  d.offCurrent = false;
  d.textColour = d.savedTextColour;
  d.opaque = false;
  if (d.Printing()) {
    d.printer->restore();
    return kOk;
  }
  const bool ended = d.windowPainter.end();
  if (QWidget* canvas = d.Canvas()) canvas->update();
  return ended ? kOk : kSurfaceNotReleased;
}

// Puts pixels taken from a surface at a logical point of a painter, as
// they are (no blending), within its clip.
void PutPixels(QPainter& p, QPoint at, const QImage& pixels) {
  p.save();
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(at, pixels);
  p.restore();
}

// The part of a logical rectangle that lies on the current image, in image
// pixels.
QRect OnImage(WinDevice& d, int l, int t, int r, int b) {
  return QRect(QPoint(l + d.Origin(), t), QPoint(r + d.Origin() - 1, b - 1))
      .intersected(d.Image()->rect());
}

StatusCode CopyArea(EngineObject* device, DeviceContext, std::int16_t l, std::int16_t t,
                    std::int16_t r, std::int16_t b, std::int16_t dx, std::int16_t dy) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (d.Printing()) return kOk;
  const QRect src = OnImage(d, l, t, r, b);
  if (src.isEmpty()) return kOk;
  PutPixels(*d.Painter(), QPoint(src.x() - d.Origin() + dx, src.y() + dy), d.Image()->copy(src));
  return kOk;
}

StatusCode SurfaceCommand(EngineObject* device, DeviceContext, DeviceRect* a, void* b,
                          std::int16_t kind) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  auto toDevice = [](const QRect& q) {
    return DeviceRect{Clamp16(q.left()), Clamp16(q.top()),
                      Clamp16(std::int64_t{q.left()} + q.width()),
                      Clamp16(std::int64_t{q.top()} + q.height())};
  };
  switch (kind) {
    case DeviceSurface::ClipIntersect:
    case DeviceSurface::ClipReplace: {
      if (a == nullptr) return kNullOutPointer;
      QRect& clip = d.Clip();
      const DeviceRect previous = toDevice(clip);
      const QRect want(a->left, a->top, std::max(0, a->right - a->left),
                       std::max(0, a->bottom - a->top));
      clip = kind == DeviceSurface::ClipReplace ? want : clip.intersected(want);
      d.Painter()->setClipRect(clip);
      if (b != nullptr) *static_cast<DeviceRect*>(b) = previous;
      return kOk;
    }
    case DeviceSurface::GetClip:
      if (a == nullptr) return kNullOutPointer;
      *a = toDevice(d.Clip());
      return kOk;
    case DeviceSurface::BeginOffscreen:
      if (d.Printing()) return kOk;
      if (d.offscreen.isNull()) {
        d.offscreen = QImage(d.surface.size(), QImage::Format_RGB32);
        if (d.offscreen.isNull()) return kOutOfMemory;
        d.offscreen.fill(ToQColor(kDeviceWindowColour));
        if (!d.offPainter.begin(&d.offscreen)) {
          d.offscreen = QImage();
          return kFailed;
        }
        d.offPainter.translate(d.margin, 0);
        d.offClip = QRect(0, 0, std::max(0, d.width - 2 * d.margin), d.height);
        d.offPainter.setClipRect(d.offClip);
      }
      d.offCurrent = true;
      return kOk;
    case DeviceSurface::EndOffscreen:
      d.offCurrent = false;
      return kOk;
    case DeviceSurface::OffscreenToWindow:
    case DeviceSurface::WindowToOffscreen: {
      if (d.Printing() || d.offscreen.isNull()) return kOk;
      if (a == nullptr || b == nullptr) return kNullOutPointer;
      const auto* to = static_cast<const DevicePoint*>(b);
      const bool toWindow = kind == DeviceSurface::OffscreenToWindow;
      const QImage& from = toWindow ? d.offscreen : d.surface;
      const QRect src =
          QRect(QPoint(a->left + d.margin, a->top), QPoint(a->right + d.margin - 1, a->bottom - 1))
              .intersected(from.rect());
      if (src.isEmpty()) return kOk;
      PutPixels(toWindow ? d.windowPainter : d.offPainter,
                QPoint(to->x + (src.x() - a->left - d.margin), to->y + (src.y() - a->top)),
                from.copy(src));
      return kOk;
    }
    case DeviceSurface::SavePixels: {
      if (a == nullptr) return kNullOutPointer;
      if (d.Printing()) return kOk;
      // Only the pixels on the surface are kept: a popup larger than the
      // window never makes an image larger than the window.
      const QRect want(a->left + d.margin, a->top, std::max(0, a->right - a->left),
                       std::max(0, a->bottom - a->top));
      const QRect on = want.intersected(d.Image()->rect());
      d.saved = on.isEmpty() ? QImage() : d.Image()->copy(on);
      d.savedOffset = on.isEmpty() ? QPoint() : on.topLeft() - want.topLeft();
      d.savedExists = true;
      return kOk;
    }
    case DeviceSurface::RestorePixels: {
      if (!d.savedExists || d.Printing()) return kOk;
      if (a == nullptr) return kNullOutPointer;
      if (!d.saved.isNull())
        PutPixels(*d.Painter(), QPoint(a->left, a->top) + d.savedOffset, d.saved);
      d.saved = QImage();
      d.savedExists = false;
      return kOk;
    }
    default:
      return kNotSupported;
  }
}

StatusCode ValidateRect(EngineObject* device, std::int16_t l, std::int16_t t, std::int16_t r,
                        std::int16_t b) noexcept {
  WinDevice& d = Dev(device);
  if (QWidget* canvas = d.Canvas())
    canvas->update(QRect(l + d.margin, t, std::max(0, r - l), std::max(0, b - t)));
  return kOk;
}

QRect Box(int l, int t, int r, int b) {
  return QRect(l, t, std::max(0, r - l), std::max(0, b - t));
}

StatusCode FillRect(EngineObject* device, DeviceContext, std::int16_t l, std::int16_t t,
                    std::int16_t r, std::int16_t b, const DeviceColour* colour) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  d.Painter()->fillRect(Box(l, t, r, b), ToQColor(Device_FillColour(colour, d.plainMode, d.theme)));
  return kOk;
}

StatusCode InvertRect(EngineObject* device, DeviceContext, std::int16_t l, std::int16_t t,
                      std::int16_t r, std::int16_t b) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (d.Printing()) return kOk;  // a printer cannot invert
  QPainter* p = d.Painter();
  p->save();
  p->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  p->fillRect(Box(l, t, r, b), QColor(255, 255, 255));
  p->restore();
  return kOk;
}

// A frame of one-pixel lines inside the box; dotted frames take every other
// pixel from the box's corner.
void Frame(QPainter* p, const QRect& box, const QColor& colour, bool dotted) {
  if (box.isEmpty()) return;
  if (!dotted) {
    p->fillRect(QRect(box.left(), box.top(), box.width(), 1), colour);
    p->fillRect(QRect(box.left(), box.bottom(), box.width(), 1), colour);
    p->fillRect(QRect(box.left(), box.top(), 1, box.height()), colour);
    p->fillRect(QRect(box.right(), box.top(), 1, box.height()), colour);
    return;
  }
  for (int x = box.left(); x <= box.right(); x += 2) {
    p->fillRect(QRect(x, box.top(), 1, 1), colour);
    p->fillRect(QRect(x, box.bottom(), 1, 1), colour);
  }
  for (int y = box.top(); y <= box.bottom(); y += 2) {
    p->fillRect(QRect(box.left(), y, 1, 1), colour);
    p->fillRect(QRect(box.right(), y, 1, 1), colour);
  }
}

StatusCode DrawBox(EngineObject* device, DeviceContext, std::int16_t l, std::int16_t t,
                   std::int16_t r, std::int16_t b, std::int32_t style, const DeviceColour* frame,
                   const DeviceColour* fill) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (frame == nullptr && fill == nullptr) return kOk;
  const QRect box = Box(l, t, r, b);
  const bool dotted = (style & 1) != 0;
  QPainter* p = d.Painter();
  const DeviceBoxColours c = Device_BoxColours(frame, fill, d.plainMode, d.theme);
  if (c.filled) p->fillRect(box, ToQColor(c.fill));
  Frame(p, box, ToQColor(c.frame), dotted);
  return kOk;
}

StatusCode SelectFont(EngineObject* device, DeviceContext, const DeviceFontSpec* font,
                      std::int16_t* lineHeight, std::int16_t* leading,
                      std::int16_t* ascent) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (font == nullptr) return kBadArgument;
  d.spec = *font;
  d.font = FontFor(d, WinDevice_FontRequest(*font, d.Context()));
  const DeviceTextColours c = Device_TextColours(*font, d.plainMode, d.theme);
  if (c.changeText) d.textColour = c.text;
  d.opaque = c.opaque;
  d.background = c.background;
  const FontData& f = *d.font;
  if (lineHeight) *lineHeight = Clamp16(f.ascent + f.descent + f.leading);
  if (leading) *leading = Clamp16(f.leading);
  if (ascent) *ascent = Clamp16(f.ascent);
  return kOk;
}

StatusCode MeasureText(EngineObject* device, DeviceContext, const std::uint8_t* text,
                       std::uint32_t count, std::int16_t maxWidth, std::uint32_t* fit,
                       std::int16_t* width, std::int16_t* height) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (width == nullptr || height == nullptr) return kNullOutPointer;
  DeviceText t;
  const StatusCode s = t.Convert(d.charset, text, count, fit != nullptr);
  if (s != kOk) return s;
  FontData& f = *CurrentFont(d);
  std::int64_t w = 0;
  std::uint32_t fitted = 0;
  if (fit == nullptr) {
    w = RunWidth(f, t);
  } else {
    bool full = false;
    ForEachSourceChar(f, t, count, [&](std::uint32_t, std::uint32_t end, std::int64_t x) {
      if (full || x > maxWidth) {
        full = true;
        return;
      }
      fitted = end;
      w = x;
    });
    *fit = fitted;
  }
  *width = Clamp16(w);
  *height = Clamp16(f.ascent + f.descent);
  return kOk;
}

StatusCode GetCharPositions(EngineObject* device, DeviceContext, const std::uint8_t* text,
                            std::uint32_t* count, std::int16_t* positions) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (count == nullptr || positions == nullptr) return kNullOutPointer;
  DeviceText t;
  const StatusCode s = t.Convert(d.charset, text, *count, true);
  if (s != kOk) return s;
  ForEachSourceChar(*CurrentFont(d), t, *count,
                    [&](std::uint32_t start, std::uint32_t end, std::int64_t x) {
                      for (std::uint32_t i = start; i < end; ++i)
                        positions[i] = Clamp16(x);
                    });
  return kOk;
}

StatusCode MeasureWidth(EngineObject* device, DeviceContext, const std::uint8_t* text,
                        std::uint32_t count, std::int16_t* width) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (width == nullptr) return kNullOutPointer;
  DeviceText t;
  const StatusCode s = t.Convert(d.charset, text, count, false);
  if (s != kOk) return s;
  *width = Clamp16(RunWidth(*CurrentFont(d), t));
  return kOk;
}

StatusCode SetTextOrigin(EngineObject* device, DeviceContext, std::int16_t x, std::int16_t y,
                         std::int16_t descent, std::uint32_t flags) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  d.savedTextFlags = d.textFlags;
  d.textFlags = flags;
  d.textX = x;
  d.textY = y;
  d.underlineOffset = Device_UnderlineOffset(flags, descent);
  return kOk;
}

StatusCode RestoreTextAlign(EngineObject* device) noexcept {
  WinDevice& d = Dev(device);
  d.textFlags = d.savedTextFlags;
  return kOk;
}

StatusCode DrawConverted(WinDevice& d, const DeviceText& t, std::int16_t* x, std::int16_t* y) {
  const std::int16_t px = x ? *x : d.textX, py = y ? *y : d.textY;
  const std::int16_t after = DrawRun(d, t, px, py);
  if (x) *x = after;
  if (y) *y = py;
  return kOk;
}

StatusCode DrawText(EngineObject* device, const std::uint8_t* text, std::uint32_t count,
                    std::int16_t* x, std::int16_t* y) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  DeviceText t;
  const StatusCode s = t.Convert(d.charset, text, count, false);
  if (s != kOk) return s;
  return DrawConverted(d, t, x, y);
}

StatusCode SetVScroll(EngineObject* device, std::uint32_t position, std::uint32_t pageEnd,
                      std::uint32_t, std::uint32_t maximum) noexcept {
  WinDevice& d = Dev(device);
  d.vscroll = Device_ScrollValues(position, pageEnd, maximum);
  if (d.vShown) ApplyVScroll(d);
  return kOk;
}

StatusCode ClipboardBegin(EngineObject* device, std::uint32_t chars) noexcept {
  return Dev(device).clipboard.Begin(chars);
}

StatusCode ClipboardAppend(EngineObject* device, const std::uint8_t* text,
                           std::uint32_t count) noexcept {
  WinDevice& d = Dev(device);
  return d.clipboard.Append(d.charset, text, count);
}

StatusCode ClipboardCommit(EngineObject* device) noexcept {
  WinDevice& d = Dev(device);
  if (!d.clipboard.Open()) return kOk;
  const char16_t* text = nullptr;
  std::uint32_t units = 0;
  const StatusCode s = d.clipboard.Finish(&text, &units);
  if (s != kOk) return s;
  QClipboard* clipboard = qApp ? QGuiApplication::clipboard() : nullptr;
  if (clipboard == nullptr) {
    d.clipboard.Clear();
    return kClipboardCannotOpen;
  }
  clipboard->setText(QString::fromUtf16(text, static_cast<qsizetype>(units)));
  d.clipboard.Clear();
  return kOk;
}

StatusCode Notify(EngineObject*, std::uint16_t kind) noexcept {
  if (kind < DeviceNotice::NoPreviousSection || kind > DeviceNotice::PosListJump2) return kOk;
  if (g_noticeHook) {
    g_noticeHook(kind);
    return kOk;
  }
  if (kind <= DeviceNotice::AtEnd) {
    if (!qApp) return kFailed;
    QApplication::beep();
  }
  return kOk;
}

StatusCode PointsToPixels(EngineObject* device, DeviceContext, std::uint16_t points,
                          std::int16_t* pixels) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (pixels == nullptr) return kNullOutPointer;
  *pixels = Clamp16(WinDevice_PointsToPixels(points, d.Context()));
  return kOk;
}

StatusCode DrawListMarker(EngineObject* device, DeviceContext, std::int16_t x, std::int16_t y,
                          const DeviceFontSpec* font, std::uint16_t marker) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (font == nullptr) return kBadArgument;
  const std::shared_ptr<FontData> f = FontFor(d, WinDevice_FontRequest(*font, d.Context()));
  const DeviceColour* given = (font->style & DeviceFontStyle::TextColour) ? &font->text : nullptr;
  const QColor colour = ToQColor(Device_LineColour(given, d.plainMode, d.theme));
  QPainter* p = d.Painter();
  if (marker & kMarkerBullet) {
    const DeviceRect r = Device_BulletBox(x, y, f->ascent);
    const QRect box = Box(r.left, r.top, r.right, r.bottom);
    if ((marker & 0x0FFF) == kMarkerSquare) {
      p->fillRect(box, colour);
    } else if (!box.isEmpty()) {
      p->save();
      p->setRenderHint(QPainter::Antialiasing, false);
      p->setPen(Qt::NoPen);
      p->setBrush(colour);
      p->drawEllipse(box);
      p->restore();
    }
    return kOk;
  }
  char number[16];
  const int n = std::snprintf(number, sizeof number, "%u. ", marker & 0x0FFFu);
  if (n < 1 || n > 15) return kOk;
  DeviceText t;
  const StatusCode s =
      t.Convert(kDeviceTextWindows1252, reinterpret_cast<const std::uint8_t*>(number),
                static_cast<std::uint32_t>(n), false);
  if (s != kOk) return s;
  const std::int64_t w = RunWidth(*f, t);
  PaintRun(d, *f, t, static_cast<int>(x - w), y, colour);
  return kOk;
}

StatusCode DrawImage(EngineObject* device, DeviceContext, std::int16_t x, std::int16_t y,
                     std::uint16_t kind, std::int32_t option, const void* image) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  const bool known = kind >= DeviceImageKind::PalmBitmap && kind <= DeviceImageKind::PlanarYCbCr;
  if (!known) return d.plainMode ? kOk : kMalformed;  // plain mode draws nothing for it
  if (image == nullptr) return kBadArgument;
  const int scale = (option & kImageDoubleSize) ? 2 : 1;
  QPainter* p = d.Painter();
  if (d.plainMode) {
    int w = 0, h = 0;
    if (kind == DeviceImageKind::PalmBitmap) {
      const auto* bmp = static_cast<const DevicePalmBitmap*>(image);
      if (bmp->data == nullptr || bmp->size < 4) return kOk;
      w = (bmp->data[0] << 8) | bmp->data[1];
      h = (bmp->data[2] << 8) | bmp->data[3];
    } else {
      const auto* planar = static_cast<const DevicePlanarImage*>(image);
      w = std::max<int>(0, planar->width);
      h = std::max<int>(0, planar->height);
    }
    const QRect box(x, y, w * scale, h * scale);
    p->fillRect(box, QColor(kImageFrameGrey, kImageFrameGrey, kImageFrameGrey));
    Frame(p, box, Qt::black, false);
    return kOk;
  }
  int w = 0, h = 0;
  EngineBuffer<std::uint32_t> pixels;
  if (kind == DeviceImageKind::PalmBitmap) {
    const auto* bmp = static_cast<const DevicePalmBitmap*>(image);
    PalmBitmapImage decoded;
    const StatusCode s = PalmBitmap_Decode(bmp->data, bmp->size, &decoded);
    if (s == kNoMore) return kOk;  // well formed, but not drawn
    if (s != kOk) return s;
    w = decoded.width;
    h = decoded.height;
    pixels = std::move(decoded.pixels);
  } else {
    const auto* planar = static_cast<const DevicePlanarImage*>(image);
    const StatusCode s = PlanarImage_Decode(*planar, kind == DeviceImageKind::PlanarYCbCr, &pixels);
    if (s != kOk) return s;
    w = planar->width;
    h = planar->height;
  }
  if (!pixels || w == 0 || h == 0) return kOk;
  const QImage picture(reinterpret_cast<const uchar*>(pixels.get()), w, h, w * 4,
                       QImage::Format_RGB32);
  p->save();
  p->setRenderHint(QPainter::SmoothPixmapTransform, false);
  p->drawImage(QRect(x, y, w * scale, h * scale), picture);
  p->restore();
  return kOk;
}

StatusCode CreateHScrollBar(EngineObject* device, std::uint32_t key, std::int16_t x, std::int16_t y,
                            std::int16_t width, std::int16_t height) noexcept {
  WinDevice& d = Dev(device);
  if (key == kNoHScrollKey) return kBadArgument;
  QWidget* canvas = d.Canvas();
  if (canvas == nullptr) return kFailed;
  const int slot = d.keys.Acquire(key);
  if (slot < 0) return kNoFreeHScrollBar;
  auto* bar = new (std::nothrow) QScrollBar(Qt::Horizontal, canvas);
  if (bar == nullptr) {
    d.keys.Release(slot);
    return kOutOfMemory;
  }
  bar->setProperty("controlId", static_cast<uint>(kHScrollFirstControlId + slot));
  bar->setGeometry(x, y, std::max(0, width + 2 * d.margin), height ? height : d.BarExtent());
  bar->show();
  d.bars[slot] = bar;
  return kOk;
}

QScrollBar* KeyedBar(WinDevice& d, std::uint32_t key, int* slot) {
  *slot = d.keys.Find(key);
  return *slot >= 0 ? d.bars[*slot].data() : nullptr;
}

StatusCode RemoveHScrollBar(EngineObject* device, std::uint32_t key) noexcept {
  WinDevice& d = Dev(device);
  int slot = -1;
  QScrollBar* bar = KeyedBar(d, key, &slot);
  if (slot < 0) return kUnknownHScrollKey;
  if (d.Printing()) return kOk;
  if (bar) {
    bar->hide();
    bar->deleteLater();
  }
  d.bars[slot] = nullptr;
  d.keys.Release(slot);
  return kOk;
}

StatusCode SetHScrollBar(EngineObject* device, std::uint32_t key, std::uint32_t position,
                         std::uint32_t pageEnd, std::uint32_t maximum) noexcept {
  WinDevice& d = Dev(device);
  int slot = -1;
  QScrollBar* bar = KeyedBar(d, key, &slot);
  if (slot < 0) return kUnknownHScrollKey;
  if (d.Printing() || bar == nullptr) return kOk;
  const DeviceScroll v = Device_ScrollValues(position, pageEnd, maximum);
  const QSignalBlocker block(bar);
  bar->setRange(0, v.barMaximum);
  bar->setPageStep(std::max(1, v.barPage));
  bar->setValue(v.barValue);
  return kOk;
}

StatusCode PlaceHScrollBar(EngineObject* device, std::uint32_t key, std::int16_t x, std::int16_t y,
                           std::uint32_t flags) noexcept {
  WinDevice& d = Dev(device);
  int slot = -1;
  QScrollBar* bar = KeyedBar(d, key, &slot);
  if (slot < 0) return kUnknownHScrollKey;
  if (d.Printing() || bar == nullptr) return kOk;
  bar->move(d.margin + x, y);
  if (flags & kHScrollRepaint) bar->update();
  return kOk;
}

StatusCode HScrollKeyFromWindow(EngineObject* device, std::uint32_t controlId,
                                std::uint32_t* key) noexcept {
  WinDevice& d = Dev(device);
  if (key == nullptr) return kNullOutPointer;
  const int slot = d.keys.SlotOfControl(controlId);
  if (slot < 0) return kNoHScrollForControl;
  *key = d.keys.KeyAt(slot);
  return kOk;
}

StatusCode InvalidateHScrollBar(EngineObject* device, std::uint32_t key) noexcept {
  WinDevice& d = Dev(device);
  int slot = -1;
  QScrollBar* bar = KeyedBar(d, key, &slot);
  if (slot < 0) return kUnknownHScrollKey;
  if (!d.Printing() && bar) bar->update();
  return kOk;
}

StatusCode DrawRule(EngineObject* device, DeviceContext, std::int16_t x1, std::int16_t y1,
                    std::int16_t x2, std::int16_t y2, std::uint16_t, std::uint16_t width,
                    const DeviceColour* colour) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  const QColor c = ToQColor(Device_LineColour(colour, d.plainMode, d.theme));
  QPainter* p = d.Painter();
  const int left = std::min(x1, x2), right = std::max(x1, x2);
  const int top = std::min(y1, y2), bottom = std::max(y1, y2);
  if (width == 0) {
    p->fillRect(Box(left, top, right, bottom), c);
  } else if (y1 == y2) {
    p->fillRect(Box(left, y1, right, y1 + width), c);
  } else if (x1 == x2) {
    p->fillRect(Box(x1, top, x1 + width, bottom), c);
  } else {
    p->save();
    p->setPen(QPen(c, width, Qt::SolidLine, Qt::FlatCap));
    p->drawLine(x1, y1, x2, y2);
    p->restore();
  }
  return kOk;
}

StatusCode PosMapCommand(EngineObject* device, std::uint16_t code, void* in, void* out) noexcept {
  return PosMap_Command(device, &Dev(device).services, code, in, out);
}

StatusCode TableStoreCommand(EngineObject* device, std::uint16_t code, void* in,
                             void* out) noexcept {
  WinDevice& d = Dev(device);
  return d.services.tables ? TableStore_Command(d.services.tables, code, in, out) : kFailed;
}

// Writes the whole buffer; false on an error or a short write.
bool WriteAll(int fd, const std::uint8_t* data, std::uint32_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<std::uint32_t>(n);
  }
  return true;
}

StatusCode OpenVObject(EngineObject* device, std::uint16_t kind, std::uint32_t count,
                       const void* data) noexcept {
  WinDevice& d = Dev(device);
  const char* suffix = WinDevice_VObjectSuffix(kind);
  if (suffix == nullptr) return kNotSupported;
  if (data == nullptr && count != 0) return kBadArgument;
  const QByteArray folder = QDir::tempPath().toUtf8();
  if (folder.isEmpty() || folder.size() > 247) return kFileSysNoTempFolder;
  // A new file, created exclusively with a name nobody can predict.
  std::string path = folder.toStdString() + "/iiiXXXXXX" + suffix;
  const int fd = ::mkstemps(path.data(), static_cast<int>(std::strlen(suffix)));
  if (fd < 0) return kFileSysNoTempName;
  const bool written = WriteAll(fd, static_cast<const std::uint8_t*>(data), count);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(path.c_str());
    return kFailed;
  }
  const bool opened =
      g_openHook ? g_openHook(path.c_str())
                 : QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  if (!opened) {
    ::unlink(path.c_str());
    return kFailed;
  }
  ReleaseVObject(d);
  d.lastVObject = path;
  return kOk;
}

// The text of a UI string id (which <= kUiDelete), converted.
StatusCode ConvertUiString(DeviceText& t, std::uint16_t which) {
  const char* s = kDeviceUiStrings[which];
  return t.Convert(kDeviceTextWindows1252, reinterpret_cast<const std::uint8_t*>(s),
                   static_cast<std::uint32_t>(std::strlen(s)), false);
}

StatusCode MeasureUiString(EngineObject* device, DeviceContext, std::uint16_t which,
                           std::int16_t* width) noexcept {
  WinDevice& d = Dev(device);
  if (!Drawing(d)) return kFailed;
  if (which > kUiDelete) return kFailed;
  if (width == nullptr) return kNullOutPointer;
  DeviceText t;
  const StatusCode r = ConvertUiString(t, which);
  if (r != kOk) return r;
  *width = Clamp16(RunWidth(*CurrentFont(d), t));
  return kOk;
}

StatusCode DrawUiString(EngineObject* device, std::uint16_t which, std::int16_t* x,
                        std::int16_t* y) noexcept {
  WinDevice& d = Dev(device);
  if (which > kUiDelete) return kFailed;
  if (!Drawing(d)) return kFailed;
  DeviceText t;
  const StatusCode r = ConvertUiString(t, which);
  if (r != kOk) return r;
  return DrawConverted(d, t, x, y);
}

constexpr DeviceOps kWinDeviceOps = MakeDeviceOps({
    .create = Create,
    .destroy = Destroy,
    .setProperty = SetProperty,
    .getProperty = GetProperty,
    .beginDraw = BeginDraw,
    .endDraw = EndDraw,
    .copyArea = CopyArea,
    .surfaceCommand = SurfaceCommand,
    .validateRect = ValidateRect,
    .fillRect = FillRect,
    .invertRect = InvertRect,
    .drawBox = DrawBox,
    .selectFont = SelectFont,
    .measureText = MeasureText,
    .getCharPositions = GetCharPositions,
    .measureWidth = MeasureWidth,
    .setTextOrigin = SetTextOrigin,
    .restoreTextAlign = RestoreTextAlign,
    .drawText = DrawText,
    .setVScroll = SetVScroll,
    .clipboardBegin = ClipboardBegin,
    .clipboardCommit = ClipboardCommit,
    .clipboardAppend = ClipboardAppend,
    .notify = Notify,
    .pointsToPixels = PointsToPixels,
    .drawListMarker = DrawListMarker,
    .drawImage = DrawImage,
    .createHScrollBar = CreateHScrollBar,
    .removeHScrollBar = RemoveHScrollBar,
    .setHScrollBar = SetHScrollBar,
    .placeHScrollBar = PlaceHScrollBar,
    .hScrollKeyFromWindow = HScrollKeyFromWindow,
    .invalidateHScrollBar = InvalidateHScrollBar,
    .drawRule = DrawRule,
    .posMapCommand = PosMapCommand,
    .tableStoreCommand = TableStoreCommand,
    .selectCtlCommand = SelectCtl_Command,
    .openVObject = OpenVObject,
    .noteBoxCommand = NoteBox_Command,
    .measureUiString = MeasureUiString,
    .drawUiString = DrawUiString,
});

StatusCode Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  EngineInstance<WinDevice>* instance = nullptr;
  if (Engine_AllocArray(1, &instance) != kOk) return kOutOfMemory;
  new (&instance->body) WinDevice();
  instance->header = {&instance->body, &kWinDeviceOps};
  const StatusCode s = PosMap_Command(&instance->header, &instance->body.services, PosMapCode::Init,
                                      nullptr, nullptr);
  if (s != kOk) {
    instance->body.~WinDevice();
    Engine_Free(instance);
    return s;
  }
  *out = &instance->header;
  return kOk;
}

}  // namespace

EngineObject WinDeviceModule = {nullptr, &kWinDeviceOps};

const QImage* WinDevice_Surface(EngineObject* device) noexcept {
  if (device == nullptr) return nullptr;
  const QImage& s = Dev(device).surface;
  return s.isNull() ? nullptr : &s;
}

void WinDevice_SetNoticeHook(WinDeviceNoticeHook hook) noexcept {
  g_noticeHook = hook;
}

void WinDevice_SetOpenHook(WinDeviceOpenHook hook) noexcept {
  g_openHook = hook;
}

const char* WinDevice_LastVObjectFile(EngineObject* device) noexcept {
  return device ? Dev(device).lastVObject.c_str() : "";
}
