#include "tests/support/fake_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <utility>

#include "engine/device/note_box.h"
#include "engine/device/select_ctl.h"
#include "engine/device/table_store.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"

namespace {

constexpr std::uint32_t kBlack = 0x000000;

std::uint32_t FakeClockTick(void* user) noexcept {
  auto* clock = static_cast<FakeClock*>(user);
  const std::uint32_t now = clock->now;
  clock->now += clock->step;
  return now;
}

FakeDevice& Fake(EngineObject* device) {
  return BodyOf<FakeDevice>(device);
}

// Logs a call made at nesting depth `depth` and answers its status.
StatusCode LogAtDepth(EngineObject* device, int depth, int slot, const char* name,
                      std::initializer_list<std::int64_t> args, StatusCode result,
                      const std::uint8_t* text = nullptr, std::uint32_t count = 0) {
  FakeDevice& f = Fake(device);
  if (!f.logging) return result;
  FakeCall call{slot, name, depth, args, {}, result};
  if (text != nullptr) call.text.assign(reinterpret_cast<const char*>(text), count);
  f.log.push_back(std::move(call));
  return result;
}

// Logs a call at the current depth and answers its status.
StatusCode Log(EngineObject* device, int slot, const char* name,
               std::initializer_list<std::int64_t> args, StatusCode result,
               const std::uint8_t* text = nullptr, std::uint32_t count = 0) {
  return LogAtDepth(device, Fake(device).depth, slot, name, args, result, text, count);
}

std::int64_t P(const void* p) {
  return p ? 1 : 0;
}

// --- pixels ---------------------------------------------------------------

struct Box {
  int left, top, right, bottom;
};

// Intersects a box in surface pixels with the clip and the surface.
Box Clipped(const FakeDevice& f, const FakeSurface& s, Box b) {
  b.left = std::max({b.left, 0, int{f.clip.left}});
  b.top = std::max({b.top, 0, int{f.clip.top}});
  b.right = std::min({b.right, s.width, int{f.clip.right}});
  b.bottom = std::min({b.bottom, s.height, int{f.clip.bottom}});
  return b;
}

// Logical coordinates to surface pixels.
Box ToSurface(const FakeDevice& f, int l, int t, int r, int b) {
  return {l + f.Origin(), t, r + f.Origin(), b};
}

void Fill(FakeDevice& f, Box b, std::uint32_t colour) {
  FakeSurface& s = f.Current();
  b = Clipped(f, s, b);
  // Filled pixels carry a fresh colour: they are no longer inverted.
  if (b.right <= b.left) return;
  const auto n = static_cast<std::size_t>(b.right - b.left);
  // The first row pixel by pixel, the others copied from it in one move
  // each: under the sanitizers a pixel loop costs a check per pixel.
  const std::uint32_t* first = nullptr;
  for (int y = b.top; y < b.bottom; ++y) {
    const auto at = static_cast<std::size_t>(y) * static_cast<std::size_t>(s.width) +
                    static_cast<std::size_t>(b.left);
    if (first == nullptr) {
      std::fill_n(s.rgb.data() + at, n, colour);
      first = s.rgb.data() + at;
    } else {
      std::memcpy(s.rgb.data() + at, first, n * sizeof *first);
    }
    std::memset(s.inverted.data() + at, 0, n);
  }
}

void Plot(FakeDevice& f, int x, int y, std::uint32_t colour) {
  Fill(f, {x, y, x + 1, y + 1}, colour);
}

void FrameBox(FakeDevice& f, Box b, std::uint32_t colour, bool dotted) {
  if (b.right <= b.left || b.bottom <= b.top) return;
  for (int x = b.left; x < b.right; ++x) {
    if (dotted && ((x - b.left) & 1)) continue;
    Plot(f, x, b.top, colour);
    Plot(f, x, b.bottom - 1, colour);
  }
  for (int y = b.top; y < b.bottom; ++y) {
    if (dotted && ((y - b.top) & 1)) continue;
    Plot(f, b.left, y, colour);
    Plot(f, b.right - 1, y, colour);
  }
}

std::uint32_t LineColour(const FakeDevice& f, const DeviceColour* given) {
  return FakeRgb(Device_LineColour(given, f.plainMode, f.theme));
}

// --- text -----------------------------------------------------------------

template <class Fn>
void ForEachChar(const FakeDevice& f, const std::uint8_t* text, std::uint32_t count, Fn fn) {
  std::uint32_t i = 0;
  while (i < count) {
    const std::uint32_t n = FakeCharLength(f.charset, text + i, count - i);
    fn(i, n, FakeCharAdvance(f.metrics, text[i]));
    i += n;
  }
}

std::int64_t TextWidth(const FakeDevice& f, const std::uint8_t* text, std::uint32_t count) {
  std::int64_t w = 0;
  ForEachChar(f, text, count, [&](std::uint32_t, std::uint32_t, int adv) { w += adv; });
  return w;
}

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

// Draws text at logical (x, y) under the current alignment; answers the x
// after the text.
std::int16_t PaintText(FakeDevice& f, const std::uint8_t* text, std::uint32_t count, int x, int y) {
  const int w = static_cast<int>(TextWidth(f, text, count));
  int left = x;
  switch (f.textFlags & DeviceTextAlign::HorizontalMask) {
    case DeviceTextAlign::Centre:
      left = x - w / 2;
      break;
    case DeviceTextAlign::Right:
      left = x - w;
      break;
    default:
      break;
  }
  int baseline = y + f.metrics.ascent;
  switch (f.textFlags & DeviceTextAlign::VerticalMask) {
    case DeviceTextAlign::Baseline:
      baseline = y;
      break;
    case DeviceTextAlign::Bottom:
      baseline = y - f.metrics.descent;
      break;
    default:
      break;
  }
  const Box run =
      ToSurface(f, left, baseline - f.metrics.ascent, left + w, baseline + f.metrics.descent);
  if (f.opaque) Fill(f, run, FakeRgb(f.textBackground));
  const std::uint32_t ink = FakeRgb(f.textColour);
  int pen = run.left;
  ForEachChar(f, text, count, [&](std::uint32_t i, std::uint32_t, int adv) {
    if (text[i] != ' ') Fill(f, {pen, run.top, pen + std::max(1, adv - 1), baseline}, ink);
    pen += adv;
  });
  if (f.font.style & DeviceFontStyle::Underline)
    Fill(f, {run.left, baseline + 1, run.right, baseline + 2}, ink);
  if (f.font.style & DeviceFontStyle::StrikeOut) {
    const int mid = baseline - f.metrics.ascent / 2;
    Fill(f, {run.left, mid, run.right, mid + 1}, ink);
  }
  if ((f.font.style & DeviceFontStyle::DottedUnderline) &&
      f.underlineOffset != kDeviceNoUnderline) {
    // Dots on even surface columns, whatever the run's start.
    const int band = y + f.underlineOffset;
    for (int px = run.left; px < run.right; ++px)
      if ((px & 1) == 0) Plot(f, px, band, ink);
  }
  const int after = left + w;
  if (f.textFlags & DeviceTextAlign::Advance) f.textX = Clamp16(after);
  return Clamp16(after);
}

// --- slots ----------------------------------------------------------------

StatusCode Create(EngineObject*, EngineObject** out) noexcept;

// The window pixels of the last device this thread destroyed, kept for the
// next one it opens: long runs (fuzzing) open a device per input, and fresh
// pages for every window would cost more than what is drawn in them.
FakeSurface& SparePixels() {
  thread_local FakeSurface spare;
  return spare;
}

StatusCode Destroy(EngineObject* device) noexcept {
  FakeDevice& f = Fake(device);
  if (f.windowSurface.rgb.capacity() > SparePixels().rgb.capacity())
    std::swap(f.windowSurface, SparePixels());
  PosMap_ReleaseServices(&f.services);
  auto* instance = reinterpret_cast<EngineInstance<FakeDevice>*>(device);
  instance->body.~FakeDevice();
  Engine_Free(instance);
  return kOk;
}

void SetWindow(FakeDevice& f, void* window, std::int16_t w, std::int16_t h) {
  f.window = window;
  f.width = w;
  f.height = h;
  if (f.windowSurface.rgb.capacity() == 0) std::swap(f.windowSurface, SparePixels());
  f.windowSurface.Resize(std::clamp<int>(w, 0, kFakeMaxSurface),
                         std::clamp<int>(h, 0, kFakeMaxSurface), kFakeWindowColour);
  if (f.offscreenExists)
    f.offscreen.Resize(f.windowSurface.width, f.windowSurface.height, kFakeWindowColour);
}

StatusCode SetProperty(EngineObject* device, void* arg, std::int16_t a, std::int16_t b) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 3, "SetProperty", {reinterpret_cast<std::intptr_t>(arg), a, b}, s);
  };
  if (a != 0 || b == 0) {
    SetWindow(f, arg, a, b);
    return done(kOk);
  }
  switch (b) {
    case DeviceProp::WindowSize: {
      if (arg == nullptr) return done(kNullOutPointer);
      const auto* r = static_cast<const DeviceWindowSize*>(arg);
      SetWindow(f, r->window, r->width, r->height);
      return done(kOk);
    }
    case DeviceProp::DisplayWord: {
      if (arg == nullptr) return done(kNullOutPointer);
      const std::uint16_t word = *static_cast<const std::uint16_t*>(arg);
      if ((word ^ f.displayWord) & DeviceDisplay::Smoothed) ++f.fontDrops;
      f.displayWord = word;
      return done(kOk);
    }
    case DeviceProp::VScrollShown:
      if (arg == nullptr) return done(kNullOutPointer);
      if (f.vScrollFailure) return done(f.vScrollFailure);
      f.vScrollShown = *static_cast<const std::uint32_t*>(arg) != 0;
      return done(kOk);
    case DeviceProp::HScrollBars:
      if (arg == nullptr) return done(kNullOutPointer);
      f.hScrollEnabled = *static_cast<const std::uint32_t*>(arg) != 0;
      return done(kOk);
    case DeviceProp::FaceName: {
      if (arg == nullptr) return done(kNullOutPointer);
      const auto* face = static_cast<const DeviceFaceName*>(arg);
      std::uint32_t length = 0;
      const int slot = Device_FaceName(*face, &length);
      if (slot < 0) return done(kOk);
      f.faces[slot].assign(face->name ? face->name : u"", length);
      return done(kOk);
    }
    case DeviceProp::Margin:
      if (arg == nullptr) return done(kNullOutPointer);
      f.margin = *static_cast<const std::uint16_t*>(arg);
      return done(kOk);
    case DeviceProp::Printer:
      f.printer = arg;
      return done(kOk);
    case DeviceProp::PlainMode:
      f.plainMode = arg != nullptr;
      return done(kOk);
    case DeviceProp::DropFonts:
      ++f.fontDrops;
      return done(kOk);
    case DeviceProp::FontCache:
      f.fontCache = arg != nullptr;
      return done(kOk);
    case DeviceProp::Charset:
      if (arg == nullptr) return done(kNullOutPointer);
      f.charset = *static_cast<const std::uint32_t*>(arg);
      return done(kOk);
    case DeviceProp::Theme:
      Device_SetTheme(&f.theme, static_cast<const DeviceThemeEntry*>(arg));
      return done(kOk);
    case DeviceProp::FirstHScrollWindow: {
      if (arg == nullptr) return done(kNullOutPointer);
      const int first = f.hkeys.First();
      *static_cast<void**>(arg) = first >= 0 ? &f.hbars[first] : nullptr;
      return done(kOk);
    }
    case DeviceProp::SuspendTheme:
      f.theme.suspended = true;
      return done(kOk);
    case DeviceProp::ResumeTheme:
      f.theme.suspended = false;
      return done(kOk);
    default:
      // Every other code is accepted and does nothing.
      return done(kOk);
  }
}

StatusCode GetProperty(EngineObject* device, std::int16_t code, void* out) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 4, "GetProperty", {code}, s); };
  if (out == nullptr) return done(kNullOutPointer);
  const std::int16_t barHeight = f.hScrollEnabled && !f.printer ? kFakeHScrollHeight : 0;
  switch (code) {
    case DeviceInfo::HScrollHeight:
      *static_cast<std::int16_t*>(out) = barHeight;
      return done(kOk);
    case DeviceInfo::UsableWidth:
      *static_cast<std::int16_t*>(out) = Clamp16(f.width - 2 * f.margin);
      return done(kOk);
    case DeviceInfo::Height:
      *static_cast<std::int16_t*>(out) = f.height;
      return done(kOk);
    case DeviceInfo::Depth:
      *static_cast<std::uint8_t*>(out) = 24;
      return done(kOk);
    case DeviceInfo::UsableHeight:
      *static_cast<std::int16_t*>(out) =
          Clamp16(f.height - (f.hScrollEnabled && f.hkeys.InUse() > 0 ? barHeight : 0));
      return done(kOk);
    case DeviceInfo::Charset:
      *static_cast<std::uint32_t*>(out) = f.charset;
      return done(kOk);
    default:
      return done(kNotSupported);
  }
}

StatusCode BeginDraw(EngineObject* device, DeviceContext* ctx) noexcept {
  FakeDevice& f = Fake(device);
  const int entry = f.depth;
  // Logged at the depth the call was made at, not the one it leaves.
  auto done = [&](StatusCode s) {
    return LogAtDepth(device, entry, 5, "BeginDraw", {ctx ? P(*ctx) : 0}, s);
  };
  if (f.depth == 0) {
    const bool given = ctx != nullptr && *ctx != nullptr;
    if (f.refuseSurface || (!given && f.printer == nullptr && f.window == nullptr))
      return done(kFailed);
    const FakeSurface& s = f.windowSurface;
    f.offscreenCurrent = false;
    if (f.printer)
      f.clip = {0, 0, Clamp16(s.width), Clamp16(s.height)};
    else
      f.clip = {Clamp16(f.margin), 0, Clamp16(f.width - f.margin), f.height};
    f.savedTextColour = f.textColour;
    if (ctx != nullptr && *ctx == nullptr) *ctx = &f;
  }
  ++f.depth;
  return done(kOk);
}

StatusCode EndDraw(EngineObject* device, DeviceContext ctx) noexcept {
  FakeDevice& f = Fake(device);
  const int entry = f.depth;
  auto done = [&](StatusCode s) { return LogAtDepth(device, entry, 6, "EndDraw", {P(ctx)}, s); };
  if (f.depth == 0) return done(kEndDrawWithoutBegin);
  if (--f.depth > 0) return done(kOk);
  f.offscreenCurrent = false;
  f.clip = {0, 0, 0x7FFF, 0x7FFF};
  f.textColour = f.savedTextColour;
  f.opaque = false;
  return done(f.endDrawFailure ? f.endDrawFailure : kOk);
}

// Drawing and measuring need an open BeginDraw.
bool Drawing(const FakeDevice& f) {
  return f.depth > 0;
}

StatusCode CopyArea(EngineObject* device, DeviceContext, std::int16_t l, std::int16_t t,
                    std::int16_t r, std::int16_t b, std::int16_t dx, std::int16_t dy) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 7, "CopyArea", {l, t, r, b, dx, dy}, s); };
  if (!Drawing(f)) return done(kFailed);
  FakeSurface& s = f.Current();
  const FakeSurface copy = s;
  const Box src = ToSurface(f, l, t, r, b);
  const Box dst = Clipped(f, s, {src.left + dx, src.top + dy, src.right + dx, src.bottom + dy});
  for (int y = dst.top; y < dst.bottom; ++y)
    for (int x = dst.left; x < dst.right; ++x)
      if (copy.Contains(x - dx, y - dy)) {
        s.rgb[y * s.width + x] = copy.rgb[(y - dy) * s.width + (x - dx)];
        s.inverted[y * s.width + x] = copy.inverted[(y - dy) * s.width + (x - dx)];
      }
  return done(kOk);
}

void Blit(FakeDevice& f, const FakeSurface& from, FakeSurface& to, Box src, int tx, int ty) {
  for (int y = src.top; y < src.bottom; ++y)
    for (int x = src.left; x < src.right; ++x) {
      const int dx = tx + (x - src.left), dy = ty + (y - src.top);
      if (!from.Contains(x, y) || !to.Contains(dx, dy)) continue;
      to.rgb[dy * to.width + dx] = from.rgb[y * from.width + x];
      to.inverted[dy * to.width + dx] = from.inverted[y * from.width + x];
    }
  (void)f;
}

StatusCode SurfaceCommand(EngineObject* device, DeviceContext, DeviceRect* a, void* b,
                          std::int16_t kind) noexcept {
  FakeDevice& f = Fake(device);
  const std::int64_t rect[4] = {a ? a->left : 0, a ? a->top : 0, a ? a->right : 0,
                                a ? a->bottom : 0};
  auto done = [&](StatusCode s) {
    return Log(device, 8, "SurfaceCommand", {kind, rect[0], rect[1], rect[2], rect[3], P(b)}, s);
  };
  if (!Drawing(f)) return done(kFailed);
  const int shift = f.Origin();
  auto unshifted = [&](DeviceRect r) {
    return DeviceRect{Clamp16(r.left - shift), r.top, Clamp16(r.right - shift), r.bottom};
  };
  switch (kind) {
    case DeviceSurface::ClipIntersect:
    case DeviceSurface::ClipReplace: {
      if (a == nullptr) return done(kNullOutPointer);
      const DeviceRect previous = unshifted(f.clip);
      const DeviceRect want{Clamp16(a->left + shift), a->top, Clamp16(a->right + shift), a->bottom};
      if (kind == DeviceSurface::ClipReplace) {
        f.clip = want;
      } else {
        f.clip = {std::max(f.clip.left, want.left), std::max(f.clip.top, want.top),
                  std::min(f.clip.right, want.right), std::min(f.clip.bottom, want.bottom)};
      }
      if (f.clip.right < f.clip.left) f.clip.right = f.clip.left;
      if (f.clip.bottom < f.clip.top) f.clip.bottom = f.clip.top;
      if (b != nullptr) *static_cast<DeviceRect*>(b) = previous;
      return done(kOk);
    }
    case DeviceSurface::GetClip:
      if (a == nullptr) return done(kNullOutPointer);
      *a = unshifted(f.clip);
      return done(kOk);
    case DeviceSurface::BeginOffscreen:
      if (!f.offscreenExists) {
        f.offscreen.Resize(f.windowSurface.width, f.windowSurface.height, kFakeWindowColour);
        f.offscreenExists = true;
        f.offscreenCurrent = true;
        if (a != nullptr)
          Fill(f, ToSurface(f, a->left, a->top, a->right, a->bottom), kFakeWindowColour);
      }
      f.offscreenCurrent = true;
      return done(kOk);
    case DeviceSurface::EndOffscreen:
      f.offscreenCurrent = false;
      return done(kOk);
    case DeviceSurface::OffscreenToWindow:
    case DeviceSurface::WindowToOffscreen: {
      if (!f.offscreenExists) return done(kOk);
      if (a == nullptr || b == nullptr) return done(kNullOutPointer);
      const auto* to = static_cast<const DevicePoint*>(b);
      const Box src = ToSurface(f, a->left, a->top, a->right, a->bottom);
      if (kind == DeviceSurface::OffscreenToWindow)
        Blit(f, f.offscreen, f.windowSurface, src, to->x + shift, to->y);
      else
        Blit(f, f.windowSurface, f.offscreen, src, to->x + shift, to->y);
      return done(kOk);
    }
    case DeviceSurface::SavePixels: {
      if (a == nullptr) return done(kNullOutPointer);
      const Box src = ToSurface(f, a->left, a->top, a->right, a->bottom);
      f.saved.Resize(std::max(0, src.right - src.left), std::max(0, src.bottom - src.top), 0);
      Blit(f, f.Current(), f.saved, src, 0, 0);
      f.savedExists = true;
      return done(kOk);
    }
    case DeviceSurface::RestorePixels: {
      if (!f.savedExists) return done(kOk);
      if (a == nullptr) return done(kNullOutPointer);
      Blit(f, f.saved, f.Current(), {0, 0, f.saved.width, f.saved.height}, a->left + shift, a->top);
      f.saved = FakeSurface{};
      f.savedExists = false;
      return done(kOk);
    }
    default:
      return done(kNotSupported);
  }
}

StatusCode ValidateRect(EngineObject* device, std::int16_t l, std::int16_t t, std::int16_t r,
                        std::int16_t b) noexcept {
  Fake(device).validated.push_back({l, t, r, b});
  return Log(device, 9, "ValidateRect", {l, t, r, b}, kOk);
}

StatusCode FillRect(EngineObject* device, DeviceContext, std::int16_t l, std::int16_t t,
                    std::int16_t r, std::int16_t b, const DeviceColour* colour) noexcept {
  FakeDevice& f = Fake(device);
  const std::int64_t rgb = colour ? FakeRgb(*colour) : -1;
  auto done = [&](StatusCode s) { return Log(device, 10, "FillRect", {l, t, r, b, rgb}, s); };
  if (!Drawing(f)) return done(kFailed);
  Fill(f, ToSurface(f, l, t, r, b), FakeRgb(Device_FillColour(colour, f.plainMode, f.theme)));
  return done(kOk);
}

StatusCode InvertRect(EngineObject* device, DeviceContext, std::int16_t l, std::int16_t t,
                      std::int16_t r, std::int16_t b) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 11, "InvertRect", {l, t, r, b}, s); };
  if (!Drawing(f)) return done(kFailed);
  FakeSurface& s = f.Current();
  const Box box = Clipped(f, s, ToSurface(f, l, t, r, b));
  for (int y = box.top; y < box.bottom; ++y)
    for (int x = box.left; x < box.right; ++x) {
      s.rgb[y * s.width + x] ^= 0xFFFFFF;
      s.inverted[y * s.width + x] ^= 1;
    }
  return done(kOk);
}

StatusCode DrawBox(EngineObject* device, DeviceContext, std::int16_t l, std::int16_t t,
                   std::int16_t r, std::int16_t b, std::int32_t style, const DeviceColour* frame,
                   const DeviceColour* fill) noexcept {
  FakeDevice& f = Fake(device);
  const std::int64_t fr = frame ? FakeRgb(*frame) : -1, fi = fill ? FakeRgb(*fill) : -1;
  auto done = [&](StatusCode s) {
    return Log(device, 12, "DrawBox", {l, t, r, b, style, fr, fi}, s);
  };
  if (!Drawing(f)) return done(kFailed);
  if (frame == nullptr && fill == nullptr) return done(kOk);
  const Box box = ToSurface(f, l, t, r, b);
  const bool dotted = (style & 1) != 0;
  const DeviceBoxColours c = Device_BoxColours(frame, fill, f.plainMode, f.theme);
  if (c.filled) Fill(f, box, FakeRgb(c.fill));
  FrameBox(f, box, FakeRgb(c.frame), dotted);
  return done(kOk);
}

StatusCode SelectFont(EngineObject* device, DeviceContext, const DeviceFontSpec* font,
                      std::int16_t* lineHeight, std::int16_t* leading,
                      std::int16_t* ascent) noexcept {
  FakeDevice& f = Fake(device);
  const std::int64_t args[3] = {font ? font->faceClass : -1, font ? font->size : -1,
                                font ? font->style : -1};
  auto done = [&](StatusCode s) {
    return Log(device, 13, "SelectFont", {args[0], args[1], args[2]}, s);
  };
  if (!Drawing(f)) return done(kFailed);
  if (font == nullptr) return done(kBadArgument);
  f.font = *font;
  f.metrics = FakeFontFor(*font, f.displayWord, f.plainMode);
  const DeviceTextColours colours = Device_TextColours(*font, f.plainMode, f.theme);
  if (colours.changeText) f.textColour = colours.text;
  f.opaque = colours.opaque;
  f.textBackground = colours.background;
  if (lineHeight) *lineHeight = Clamp16(f.metrics.lineHeight);
  if (leading) *leading = Clamp16(f.metrics.externalLeading);
  if (ascent) *ascent = Clamp16(f.metrics.ascent);
  return done(kOk);
}

StatusCode MeasureText(EngineObject* device, DeviceContext, const std::uint8_t* text,
                       std::uint32_t count, std::int16_t maxWidth, std::uint32_t* fit,
                       std::int16_t* width, std::int16_t* height) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 14, "MeasureText", {count, maxWidth, P(fit)}, s, text, text ? count : 0);
  };
  if (!Drawing(f)) return done(kFailed);
  if (width == nullptr || height == nullptr) return done(kNullOutPointer);
  if (text == nullptr && count != 0) return done(kBadArgument);
  std::int64_t w = 0;
  std::uint32_t fitted = 0;
  bool full = false;
  ForEachChar(f, text, count, [&](std::uint32_t i, std::uint32_t n, int adv) {
    if (fit != nullptr && (full || w + adv > maxWidth)) {
      full = true;
      return;
    }
    w += adv;
    fitted = i + n;
  });
  if (fit) *fit = fitted;
  *width = Clamp16(w);
  *height = Clamp16(f.metrics.ascent + f.metrics.descent);
  return done(kOk);
}

StatusCode GetCharPositions(EngineObject* device, DeviceContext, const std::uint8_t* text,
                            std::uint32_t* count, std::int16_t* positions) noexcept {
  FakeDevice& f = Fake(device);
  const std::uint32_t n = count ? *count : 0;
  auto done = [&](StatusCode s) {
    return Log(device, 15, "GetCharPositions", {n}, s, text, text ? n : 0);
  };
  if (!Drawing(f)) return done(kFailed);
  if (count == nullptr || positions == nullptr) return done(kNullOutPointer);
  if (text == nullptr && n != 0) return done(kBadArgument);
  std::int64_t x = 0;
  ForEachChar(f, text, n, [&](std::uint32_t i, std::uint32_t len, int adv) {
    x += adv;
    for (std::uint32_t k = 0; k < len; ++k)
      positions[i + k] = Clamp16(x);
  });
  return done(kOk);
}

StatusCode MeasureWidth(EngineObject* device, DeviceContext, const std::uint8_t* text,
                        std::uint32_t count, std::int16_t* width) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 16, "MeasureWidth", {count}, s, text, text ? count : 0);
  };
  if (!Drawing(f)) return done(kFailed);
  if (width == nullptr) return done(kNullOutPointer);
  if (text == nullptr && count != 0) return done(kBadArgument);
  *width = Clamp16(TextWidth(f, text, count));
  return done(kOk);
}

StatusCode SetTextOrigin(EngineObject* device, DeviceContext, std::int16_t x, std::int16_t y,
                         std::int16_t descent, std::uint32_t flags) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 17, "SetTextOrigin", {x, y, descent, flags}, s);
  };
  if (!Drawing(f)) return done(kFailed);
  f.savedTextFlags = f.textFlags;
  f.textFlags = flags;
  f.textX = x;
  f.textY = y;
  f.underlineOffset = Device_UnderlineOffset(flags, descent);
  return done(kOk);
}

StatusCode RestoreTextAlign(EngineObject* device) noexcept {
  FakeDevice& f = Fake(device);
  f.textFlags = f.savedTextFlags;
  return Log(device, 18, "RestoreTextAlign", {}, kOk);
}

StatusCode DrawTextAt(EngineObject* device, int slot, const char* name, const std::uint8_t* text,
                      std::uint32_t count, std::int16_t* x, std::int16_t* y, std::int64_t extra) {
  FakeDevice& f = Fake(device);
  const std::int16_t px = x ? *x : f.textX, py = y ? *y : f.textY;
  auto done = [&](StatusCode s) {
    return Log(device, slot, name, {count, px, py, P(x), P(y), extra}, s, text, text ? count : 0);
  };
  if (!Drawing(f)) return done(kFailed);
  if (text == nullptr && count != 0) return done(kBadArgument);
  const std::int16_t after = PaintText(f, text, count, px, py);
  if (x) *x = after;
  if (y) *y = py;
  return done(kOk);
}

StatusCode DrawText(EngineObject* device, const std::uint8_t* text, std::uint32_t count,
                    std::int16_t* x, std::int16_t* y) noexcept {
  return DrawTextAt(device, 19, "DrawText", text, count, x, y, 0);
}

StatusCode SetVScroll(EngineObject* device, std::uint32_t position, std::uint32_t pageEnd,
                      std::uint32_t ignored, std::uint32_t maximum) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 20, "SetVScroll", {position, pageEnd, ignored, maximum}, s);
  };
  if (f.vScrollFailure) return done(f.vScrollFailure);
  const DeviceScroll v = Device_ScrollValues(position, pageEnd, maximum);
  f.vPosition = v.position;
  f.vPage = v.page;
  f.vMaximum = v.maximum;
  return done(kOk);
}

StatusCode ClipboardBegin(EngineObject* device, std::uint32_t chars) noexcept {
  FakeDevice& f = Fake(device);
  if (f.clipboardLimit != 0 && chars > f.clipboardLimit) {
    f.clipOpen = false;
    return Log(device, 21, "ClipboardBegin", {chars}, kOutOfMemory);
  }
  f.clipBytes.clear();
  f.clipCapacity = chars;
  f.clipOpen = chars != 0;
  return Log(device, 21, "ClipboardBegin", {chars}, kOk);
}

StatusCode ClipboardAppend(EngineObject* device, const std::uint8_t* text,
                           std::uint32_t count) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 23, "ClipboardAppend", {count}, s, text, text ? count : 0);
  };
  if (!f.clipOpen) return done(kOk);
  if (text == nullptr && count != 0) return done(kBadArgument);
  f.clipBytes.append(reinterpret_cast<const char*>(text), count);
  return done(kOk);
}

StatusCode ClipboardCommit(EngineObject* device) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 22, "ClipboardCommit", {}, s); };
  if (!f.clipOpen) return done(kOk);
  if (f.clipboardFailure) return done(f.clipboardFailure);
  // Text beyond the characters Begin announced is dropped.
  std::u16string text = FakeDecode(f.charset, f.clipBytes);
  if (text.size() > f.clipCapacity) text.resize(f.clipCapacity);
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out.push_back(u'\r');
    out.push_back(text[i]);
  }
  f.clipboard = std::move(out);
  ++f.clipboardCommits;
  f.clipBytes.clear();
  f.clipOpen = false;
  f.clipCapacity = 0;
  return done(kOk);
}

StatusCode Notify(EngineObject* device, std::uint16_t kind) noexcept {
  FakeDevice& f = Fake(device);
  if (kind >= 1 && kind <= 12) f.notices.push_back(kind);
  return Log(device, 24, "Notify", {kind}, kOk);
}

StatusCode PointsToPixels(EngineObject* device, DeviceContext, std::uint16_t points,
                          std::int16_t* pixels) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 25, "PointsToPixels", {points}, s); };
  if (!Drawing(f)) return done(kFailed);
  if (pixels == nullptr) return done(kNullOutPointer);
  // 72 dots per inch, scaled by the zoom unless printing.
  const std::int64_t dpi = f.printer ? 72 : Device_ZoomPoints(f.displayWord, 72);
  *pixels = Clamp16(std::max<std::int64_t>(1, points * dpi / 72));
  return done(kOk);
}

StatusCode DrawListMarker(EngineObject* device, DeviceContext, std::int16_t x, std::int16_t y,
                          const DeviceFontSpec* font, std::uint16_t marker) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 26, "DrawListMarker", {x, y, marker}, s); };
  if (!Drawing(f)) return done(kFailed);
  if (font == nullptr) return done(kBadArgument);
  const FakeFontMetrics m = FakeFontFor(*font, f.displayWord, f.plainMode);
  const DeviceColour* given = (font->style & DeviceFontStyle::TextColour) ? &font->text : nullptr;
  const std::uint32_t colour = LineColour(f, given);
  if (marker & kMarkerBullet) {
    const DeviceRect r = Device_BulletBox(x, y, m.ascent);
    Fill(f, ToSurface(f, r.left, r.top, r.right, r.bottom), colour);
    return done(kOk);
  }
  char number[16];
  const int n = std::snprintf(number, sizeof number, "%u. ", marker & 0x0FFFu);
  if (n < 1 || n > 15) return done(kOk);
  const FakeFontMetrics keep = f.metrics;
  const DeviceColour keepColour = f.textColour;
  const std::uint32_t keepFlags = f.textFlags;
  const bool keepOpaque = f.opaque;
  f.metrics = m;
  f.textColour = {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                  static_cast<std::uint8_t>(colour)};
  f.textFlags = DeviceTextAlign::Right | DeviceTextAlign::Baseline;
  f.opaque = false;
  PaintText(f, reinterpret_cast<const std::uint8_t*>(number), static_cast<std::uint32_t>(n), x, y);
  f.metrics = keep;
  f.textColour = keepColour;
  f.textFlags = keepFlags;
  f.opaque = keepOpaque;
  return done(kOk);
}

StatusCode DrawImage(EngineObject* device, DeviceContext, std::int16_t x, std::int16_t y,
                     std::uint16_t kind, std::int32_t option, const void* image) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 27, "DrawImage", {x, y, kind, option}, s); };
  if (!Drawing(f)) return done(kFailed);
  if (kind < DeviceImageKind::PalmBitmap || kind > DeviceImageKind::PlanarYCbCr)
    return done(kMalformed);
  if (image == nullptr) return done(kBadArgument);
  int w = 0, h = 0;
  if (kind == DeviceImageKind::PalmBitmap) {
    const auto* bmp = static_cast<const DevicePalmBitmap*>(image);
    if (bmp->data == nullptr || bmp->size < 4) return done(kMalformed);
    w = (bmp->data[0] << 8) | bmp->data[1];
    h = (bmp->data[2] << 8) | bmp->data[3];
  } else {
    const auto* planar = static_cast<const DevicePlanarImage*>(image);
    w = std::max<int>(0, planar->width);
    h = std::max<int>(0, planar->height);
  }
  if (option & kImageDoubleSize) w *= 2, h *= 2;
  const Box box = ToSurface(f, x, y, x + w, y + h);
  if (f.plainMode) {
    Fill(f, box, kFakeImageColour);
    FrameBox(f, box, kBlack, false);
  } else {
    Fill(f, box, kFakeImageColour);
  }
  return done(kOk);
}

FakeHScrollBar* FindBar(FakeDevice& f, std::uint32_t key, int* slot = nullptr) {
  const int found = f.hkeys.Find(key);
  if (slot) *slot = found;
  return found >= 0 ? &f.hbars[found] : nullptr;
}

StatusCode CreateHScrollBar(EngineObject* device, std::uint32_t key, std::int16_t x, std::int16_t y,
                            std::int16_t width, std::int16_t height) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 28, "CreateHScrollBar", {key, x, y, width, height}, s);
  };
  if (key == kNoHScrollKey) return done(kBadArgument);
  const int slot = f.hkeys.Acquire(key);
  if (slot < 0) return done(kNoFreeHScrollBar);
  FakeHScrollBar& bar = f.hbars[slot];
  bar = FakeHScrollBar{};
  bar.x = x;
  bar.y = y;
  bar.width = Clamp16(width + 2 * f.margin);
  bar.height = height ? height : kFakeHScrollHeight;
  return done(kOk);
}

StatusCode RemoveHScrollBar(EngineObject* device, std::uint32_t key) noexcept {
  FakeDevice& f = Fake(device);
  int slot = -1;
  FakeHScrollBar* bar = FindBar(f, key, &slot);
  if (bar == nullptr) return Log(device, 29, "RemoveHScrollBar", {key}, kUnknownHScrollKey);
  if (!f.printer) {
    *bar = FakeHScrollBar{};
    f.hkeys.Release(slot);
  }
  return Log(device, 29, "RemoveHScrollBar", {key}, kOk);
}

StatusCode SetHScrollBar(EngineObject* device, std::uint32_t key, std::uint32_t position,
                         std::uint32_t pageEnd, std::uint32_t maximum) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 30, "SetHScrollBar", {key, position, pageEnd, maximum}, s);
  };
  FakeHScrollBar* bar = FindBar(f, key);
  if (bar == nullptr) return done(kUnknownHScrollKey);
  if (f.printer) return done(kOk);
  const DeviceScroll v = Device_ScrollValues(position, pageEnd, maximum);
  bar->position = v.position;
  bar->page = v.page;
  bar->maximum = v.maximum;
  return done(kOk);
}

StatusCode PlaceHScrollBar(EngineObject* device, std::uint32_t key, std::int16_t x, std::int16_t y,
                           std::uint32_t flags) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 31, "PlaceHScrollBar", {key, x, y, flags}, s);
  };
  FakeHScrollBar* bar = FindBar(f, key);
  if (bar == nullptr) return done(kUnknownHScrollKey);
  if (f.printer) return done(kOk);
  bar->x = Clamp16(f.margin + x);
  bar->y = y;
  if (flags & kHScrollRepaint) ++bar->repaints;
  return done(kOk);
}

StatusCode HScrollKeyFromWindow(EngineObject* device, std::uint32_t controlId,
                                std::uint32_t* key) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 32, "HScrollKeyFromWindow", {controlId}, s); };
  if (key == nullptr) return done(kNullOutPointer);
  const int slot = f.hkeys.SlotOfControl(controlId);
  if (slot < 0) return done(kNoHScrollForControl);
  *key = f.hkeys.KeyAt(slot);
  return done(kOk);
}

StatusCode InvalidateHScrollBar(EngineObject* device, std::uint32_t key) noexcept {
  FakeDevice& f = Fake(device);
  FakeHScrollBar* bar = FindBar(f, key);
  if (bar == nullptr) return Log(device, 33, "InvalidateHScrollBar", {key}, kUnknownHScrollKey);
  if (!f.printer) ++bar->repaints;
  return Log(device, 33, "InvalidateHScrollBar", {key}, kOk);
}

StatusCode DrawRule(EngineObject* device, DeviceContext, std::int16_t x1, std::int16_t y1,
                    std::int16_t x2, std::int16_t y2, std::uint16_t style, std::uint16_t width,
                    const DeviceColour* colour) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) {
    return Log(device, 34, "DrawRule", {x1, y1, x2, y2, style, width}, s);
  };
  if (!Drawing(f)) return done(kFailed);
  const std::uint32_t c = LineColour(f, colour);
  if (width == 0) {
    Fill(f, ToSurface(f, std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)),
         c);
  } else if (y1 == y2) {
    Fill(f, ToSurface(f, std::min(x1, x2), y1, std::max(x1, x2), y1 + width), c);
  } else if (x1 == x2) {
    Fill(f, ToSurface(f, x1, std::min(y1, y2), x1 + width, std::max(y1, y2)), c);
  }
  return done(kOk);
}

StatusCode PosMapCommand(EngineObject* device, std::uint16_t code, void* in, void* out) noexcept {
  FakeDevice& f = Fake(device);
  const std::int64_t inValue =
      in && code != PosMapCode::SetCallback ? *static_cast<const std::uint32_t*>(in) : 0;
  const StatusCode s = PosMap_Command(device, &f.services, code, in, out);
  return Log(device, 35, "PosMapCommand", {code, inValue}, s);
}

StatusCode TableStoreCommand(EngineObject* device, std::uint16_t code, void* in,
                             void* out) noexcept {
  FakeDevice& f = Fake(device);
  const StatusCode s =
      f.services.tables ? TableStore_Command(f.services.tables, code, in, out) : kFailed;
  return Log(device, 36, "TableStoreCommand", {code}, s);
}

StatusCode SelectCtlCommand(EngineObject* device, std::uint16_t code, void* in,
                            void* out) noexcept {
  FakeDevice& f = Fake(device);
  const StatusCode s =
      f.selectCtl ? f.selectCtl(device, code, in, out) : SelectCtl_Command(device, code, in, out);
  return Log(device, 37, "SelectCtlCommand", {code}, s);
}

StatusCode OpenVObject(EngineObject* device, std::uint16_t kind, std::uint32_t count,
                       const void* data) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 38, "OpenVObject", {kind, count}, s); };
  if (kind > kVObjectCard) return done(kNotSupported);
  if (data == nullptr && count != 0) return done(kBadArgument);
  f.vobjects.emplace_back(kind, std::string(static_cast<const char*>(data), count));
  return done(kOk);
}

StatusCode NoteBoxCommand(EngineObject* device, std::uint16_t code, void* in, void* out) noexcept {
  FakeDevice& f = Fake(device);
  const StatusCode s =
      f.noteBox ? f.noteBox(device, code, in, out) : NoteBox_Command(device, code, in, out);
  return Log(device, 39, "NoteBoxCommand", {code}, s);
}

StatusCode MeasureUiString(EngineObject* device, DeviceContext, std::uint16_t which,
                           std::int16_t* width) noexcept {
  FakeDevice& f = Fake(device);
  auto done = [&](StatusCode s) { return Log(device, 40, "MeasureUiString", {which}, s); };
  if (!Drawing(f)) return done(kFailed);
  if (which > kUiDelete) return done(kFailed);
  if (width == nullptr) return done(kNullOutPointer);
  const char* text = kDeviceUiStrings[which];
  *width = Clamp16(TextWidth(f, reinterpret_cast<const std::uint8_t*>(text),
                             static_cast<std::uint32_t>(std::strlen(text))));
  return done(kOk);
}

StatusCode DrawUiString(EngineObject* device, std::uint16_t which, std::int16_t* x,
                        std::int16_t* y) noexcept {
  if (which > kUiDelete) return Log(device, 41, "DrawUiString", {which}, kFailed);
  const char* text = kDeviceUiStrings[which];
  return DrawTextAt(device, 41, "DrawUiString", reinterpret_cast<const std::uint8_t*>(text),
                    static_cast<std::uint32_t>(std::strlen(text)), x, y, which);
}

constexpr DeviceOps kFakeDeviceOps = MakeDeviceOps({
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
    .selectCtlCommand = SelectCtlCommand,
    .openVObject = OpenVObject,
    .noteBoxCommand = NoteBoxCommand,
    .measureUiString = MeasureUiString,
    .drawUiString = DrawUiString,
});

StatusCode Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  EngineInstance<FakeDevice>* instance = nullptr;
  if (Engine_AllocArray(1, &instance) != kOk) return kOutOfMemory;
  new (&instance->body) FakeDevice();
  instance->header = {&instance->body, &kFakeDeviceOps};
  FakeDevice& f = instance->body;
  f.clip = {0, 0, 0x7FFF, 0x7FFF};
  f.metrics = FakeFontFor(f.font, f.displayWord, false);
  f.services.clock = {FakeClockTick, &f.clock};
  const StatusCode s =
      PosMap_Command(&instance->header, &f.services, PosMapCode::Init, nullptr, nullptr);
  if (s != kOk) {
    instance->body.~FakeDevice();
    Engine_Free(instance);
    return s;
  }
  *out = &instance->header;
  return kOk;
}

}  // namespace

EngineObject FakeDeviceModule = {nullptr, &kFakeDeviceOps};

void FakeSurface::Resize(int w, int h, std::uint32_t fill) {
  width = w;
  height = h;
  const std::size_t row = static_cast<std::size_t>(w);
  rgb.resize(row * static_cast<std::size_t>(h));
  inverted.assign(rgb.size(), 0);
  if (rgb.empty()) return;
  // The first row pixel by pixel, the others copied from it (as Fill does).
  std::fill_n(rgb.data(), row, fill);
  for (std::size_t at = row; at < rgb.size(); at += row)
    std::memcpy(rgb.data() + at, rgb.data(), row * sizeof(std::uint32_t));
}

std::vector<const FakeCall*> FakeDevice::Calls(int slot) const {
  std::vector<const FakeCall*> out;
  for (const auto& call : log)
    if (call.slot == slot) out.push_back(&call);
  return out;
}

FakeFontMetrics FakeFontFor(const DeviceFontSpec& font, std::uint16_t displayWord, bool plainMode) {
  const std::uint16_t zoom = displayWord & DeviceDisplay::ZoomMask;
  const bool fixed = plainMode || (displayWord & DeviceDisplay::FixedSizes);
  const std::int32_t points = fixed ? Device_FixedPoints(zoom) : Device_ZoomPoints(zoom, font.size);
  FakeFontMetrics m{};
  m.pixels = std::max(1, points);
  m.bold = (font.style & DeviceFontStyle::Bold) || (displayWord & DeviceDisplay::AllBold);
  m.descent = m.pixels / 5;
  m.ascent = m.pixels - m.descent;
  m.externalLeading = 0;
  m.lineHeight = m.pixels + m.externalLeading;
  return m;
}

int FakeCharAdvance(const FakeFontMetrics& font, std::uint8_t c) {
  const int base = std::max(1, font.pixels / 2);
  int adv = base;
  switch (c) {
    case 'i':
    case 'l':
    case '.':
    case ',':
    case ':':
    case ';':
    case '!':
    case '|':
    case '\'':
      adv = std::max(1, base / 2);
      break;
    case 'm':
    case 'w':
    case 'M':
    case 'W':
      adv = base + base / 2;
      break;
    default:
      break;
  }
  return adv + (font.bold ? 1 : 0);
}

std::uint32_t FakeCharLength(std::uint32_t charset, const std::uint8_t* p, std::uint32_t left) {
  if (left == 0) return 0;
  if (charset == 0) return 1;
  // One character: walk no more than the longest form (6-byte lenient UTF-8).
  std::uint32_t bytes = std::min<std::uint32_t>(left, 6);
  std::uint8_t lengths[1] = {1};
  std::uint32_t count = 1;
  if (IsFailure(TextConv_MeasureChars(g_TextConvModule, 0, charset, p, &bytes, lengths, &count)) ||
      count == 0 || lengths[0] == 0) {
    return 1;
  }
  return std::min<std::uint32_t>(lengths[0], left);
}

std::u16string FakeDecode(std::uint32_t charset, const std::string& bytes) {
  std::u16string out;
  if (charset == 0) {
    out.reserve(bytes.size());
    for (unsigned char c : bytes)
      out.push_back(c);
    return out;
  }
  TextConvRequest request{};
  request.sourceMib = charset;
  request.source = bytes.data();
  request.sourceLength = static_cast<std::uint32_t>(bytes.size());
  request.targetMib = 1014;  // UTF-16LE
  if (IsFailure(TextConv_Convert(g_TextConvModule, &request))) return out;
  std::string utf16(request.targetCapacity, '\0');
  request = TextConvRequest{0,
                            charset,
                            bytes.data(),
                            static_cast<std::uint32_t>(bytes.size()),
                            1014,
                            utf16.data(),
                            static_cast<std::uint32_t>(utf16.size()),
                            0,
                            0,
                            0};
  if (IsFailure(TextConv_Convert(g_TextConvModule, &request))) return out;
  out.reserve(request.targetCapacity / 2);
  for (std::size_t i = 0; i + 1 < request.targetCapacity; i += 2)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(utf16[i]) |
                                        static_cast<unsigned char>(utf16[i + 1]) << 8));
  return out;
}

FakeDevice& FakeDevice_Of(EngineObject* device) {
  return Fake(device);
}

EngineObject* FakeDevice_Open(std::int16_t width, std::int16_t height, std::uint16_t margin) {
  EngineObject* device = nullptr;
  if (DeviceOf(&FakeDeviceModule).create(&FakeDeviceModule, &device) != kOk) return nullptr;
  static int windowToken;
  if (IsFailure(Device_SetWindow(device, &windowToken, width, height)) ||
      IsFailure(DeviceOf(device).setProperty(device, &margin, 0, DeviceProp::Margin))) {
    FakeDevice_Close(device);
    return nullptr;
  }
  FakeDevice_Of(device).ClearLog();
  return device;
}

void FakeDevice_Close(EngineObject* device) {
  if (device != nullptr) (void)DeviceOf(device).destroy(device);  // destroy always frees
}
