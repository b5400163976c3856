#include "engine/device/note_box.h"

#include <algorithm>
#include <cstring>

#include "engine/device/device_painter.h"

namespace {

constexpr DeviceColour kBlack{0, 0, 0};
constexpr std::uint8_t kEllipsis[] = {'.', '.', '.'};
constexpr std::uint8_t kOpenBracket = '[';
constexpr std::uint8_t kCloseBracket = ']';
constexpr int kButtonGap = 10;

struct Painter : DevicePainter {
  using DevicePainter::DevicePainter;
  int Width(const std::uint8_t* text, std::uint32_t n) {
    if (!Ok() || n == 0) return 0;
    std::int16_t w = 0, h = 0;
    Take(ops.measureText(device, ctx, text, n, 0x7FFF, nullptr, &w, &h));
    return Ok() ? w : 0;
  }
  void Text(const std::uint8_t* text, std::uint32_t n, int x, int baseline, int descent) {
    if (!Ok() || n == 0) return;
    Take(ops.setTextOrigin(device, ctx, Device_Clamp16(x), Device_Clamp16(baseline),
                           Device_Clamp16(descent),
                           DeviceTextAlign::Left | DeviceTextAlign::Baseline));
    if (!Ok()) return;
    std::int16_t px = Device_Clamp16(x), py = Device_Clamp16(baseline);
    Take(ops.drawText(device, text, n, &px, &py));
    Take(ops.restoreTextAlign(device));
  }
};

using Session = DeviceDrawSession<Painter>;

DeviceRect BoxRect(const NoteBox& b) {
  return {b.x, b.y, Device_Clamp16(b.x + b.width), Device_Clamp16(b.y + b.height)};
}

int ButtonRowTop(const NoteBox& b) {
  return b.y + 3 + (b.rows - 1) * b.lineHeight;
}

// The bracketed span of a shown button on the button row: [*left, *right).
bool ButtonSpan(const NoteBox& b, int button, int* left, int* right) {
  int x = b.x + 3;
  for (int k = 0; k < 2; ++k) {
    if (b.buttonWidth[k] == 0) continue;
    const int w = b.openBracketWidth + b.buttonWidth[k] + b.closeBracketWidth;
    if (k == button) {
      *left = x;
      *right = x + w;
      return true;
    }
    x += w + kButtonGap;
  }
  return false;
}

void InvertButton(Painter& p, const NoteBox& b, int button) {
  int l = 0, r = 0;
  if (!ButtonSpan(b, button, &l, &r)) return;
  const int top = ButtonRowTop(b);
  p.Invert(l, top, r, top + b.lineHeight);
}

void SetFocus(Painter& p, NoteBox& b, int button) {
  if (button == b.focused) return;
  if (b.focused >= 0) InvertButton(p, b, b.focused);
  b.focused = static_cast<std::int16_t>(button);
  if (button >= 0) InvertButton(p, b, button);
}

bool Shown(const NoteBox& b, int button) {
  return button >= 0 && button < 2 && b.buttonWidth[button] != 0;
}

// The button text, from the device's strings, else the built-in text.
struct ButtonText {
  bool fromDevice;
  const std::uint8_t* bytes;
  std::uint32_t length;
};
ButtonText BuiltIn(int which) {
  const char* s = kDeviceUiStrings[which];
  return {false, reinterpret_cast<const std::uint8_t*>(s),
          static_cast<std::uint32_t>(std::strlen(s))};
}

// The note font: default face, 10 points, black on the note paper.
DeviceFontSpec NoteFont() {
  DeviceFontSpec f{};
  f.faceClass = DeviceFace::Default;
  f.size = 10;
  f.style = DeviceFontStyle::TextColour | DeviceFontStyle::BackColour;
  f.text = kBlack;
  f.background = kNoteBoxPaper;
  return f;
}

void Paint(Painter& p, NoteBox& b) {
  if (!p.Ok()) return;
  DeviceRect clip = BoxRect(b), previous{};
  p.Take(p.ops.surfaceCommand(p.device, p.ctx, &clip, &previous, DeviceSurface::ClipIntersect));
  if (!p.Ok()) return;
  p.Take(p.ops.setProperty(p.device, nullptr, 0, DeviceProp::SuspendTheme));
  p.Take(p.ops.drawBox(p.device, p.ctx, b.x, b.y, Device_Clamp16(b.x + b.width),
                       Device_Clamp16(b.y + b.height), 0, &kBlack, &kNoteBoxPaper));
  DeviceFontSpec font = b.font;
  std::int16_t line = 0, leading = 0, ascent = 0;
  if (p.Ok()) p.Take(p.ops.selectFont(p.device, p.ctx, &font, &line, &leading, &ascent));
  const int descent = std::max(0, b.lineHeight - b.ascent);
  int row = 0;
  for (int k = 0; k < b.lineCount; ++k, ++row)
    p.Text(b.lines[k].start, b.lines[k].length, b.x + 3, b.y + 3 + row * b.lineHeight + b.ascent,
           descent);
  if (b.truncated & 1) {
    p.Text(kEllipsis, sizeof kEllipsis, b.x + 3, b.y + 3 + row * b.lineHeight + b.ascent, descent);
    ++row;
  }
  // The button row in the same face, blue on the paper.
  font.text = kNoteBoxButtonText;
  if (p.Ok()) p.Take(p.ops.selectFont(p.device, p.ctx, &font, nullptr, nullptr, nullptr));
  const int baseline = ButtonRowTop(b) + b.ascent;
  for (int k = 0; k < 2 && p.Ok(); ++k) {
    int l = 0, r = 0;
    if (!ButtonSpan(b, k, &l, &r)) continue;
    p.Text(&kOpenBracket, 1, l, baseline, descent);
    const int tx = l + b.openBracketWidth;
    if (!p.Ok()) break;
    p.Take(p.ops.setTextOrigin(p.device, p.ctx, Device_Clamp16(tx), Device_Clamp16(baseline),
                               Device_Clamp16(descent),
                               DeviceTextAlign::Left | DeviceTextAlign::Baseline));
    std::int16_t x = Device_Clamp16(tx), y = Device_Clamp16(baseline);
    if (p.Ok() && IsFailure(p.ops.drawUiString(p.device, static_cast<std::uint16_t>(k), &x, &y))) {
      const ButtonText t = BuiltIn(k);
      x = Device_Clamp16(tx);
      y = Device_Clamp16(baseline);
      p.Take(p.ops.drawText(p.device, t.bytes, t.length, &x, &y));
    }
    p.Take(p.ops.restoreTextAlign(p.device));
    p.Text(&kCloseBracket, 1, tx + b.buttonWidth[k], baseline, descent);
  }
  if (b.focused >= 0) InvertButton(p, b, b.focused);
  p.Take(p.ops.setProperty(p.device, nullptr, 0, DeviceProp::ResumeTheme));
  (void)p.ops.surfaceCommand(p.device, p.ctx, &previous, nullptr,
                             DeviceSurface::ClipReplace);  // the clip goes back even on failure
}

// Lays the note out into b's lines; the font is selected.
void LayOut(Painter& p, NoteBox& b, int usableWidth, int usableHeight) {
  const int maxLines = usableHeight >= usableWidth ? 3 : 2;
  const int lineWidth = std::max(0, usableWidth - 22);
  const std::uint8_t* text = b.text;
  std::uint32_t left = text != nullptr ? b.textLength : 0;
  b.lineCount = 0;
  b.widest = 0;
  while (left > 0 && b.lineCount < maxLines && p.Ok()) {
    // A line ends at a line feed; the line feed itself is not drawn.
    std::uint32_t span = 0;
    while (span < left && text[span] != '\n' && text[span] != '\r')
      ++span;
    std::uint32_t fit = 0;
    std::int16_t w = 0, h = 0;
    if (span > 0) {
      p.Take(
          p.ops.measureText(p.device, p.ctx, text, span, Device_Clamp16(lineWidth), &fit, &w, &h));
      if (!p.Ok() || fit == 0) break;
    }
    b.lines[b.lineCount++] = {text,
                              static_cast<std::uint16_t>(std::min<std::uint32_t>(fit, 0xFFFF))};
    b.widest = static_cast<std::uint16_t>(std::max<int>(b.widest, std::max<int>(0, w)));
    std::uint32_t used = std::min<std::uint32_t>(fit, 0xFFFF);
    if (used == span && span < left) {
      // Step over one line break (CR LF counts as one).
      ++used;
      if (text[span] == '\r' && span + 1 < left && text[span + 1] == '\n') ++used;
    }
    text += used;
    left -= used;
  }
  if (left > 0 || (b.flags & NoteBoxFlag::Partial)) b.truncated |= 1;
}

StatusCode OpenCommand(EngineObject* device, NoteBox& b, DeviceContext* given) {
  Session session(device, given != nullptr ? *given : nullptr);
  if (const StatusCode s = session.Begin(); IsFailure(s)) return s;
  Painter& p = session.p;
  if (b.open) {  // opened again: the earlier box goes first
    DeviceRect rect = BoxRect(b);
    p.Surface(&rect, nullptr, DeviceSurface::RestorePixels);
    b.open = 0;
  }
  b.font = NoteFont();
  b.focused = kNoteBoxNoButton;
  b.truncated = 0;
  b.penState = NoteBoxPen::Idle;
  std::int16_t line = 0, leading = 0, ascent = 0;
  p.Take(p.ops.selectFont(device, p.ctx, &b.font, &line, &leading, &ascent));
  if (!p.Ok()) return session.End(p.status);
  b.lineHeight = std::max<std::int16_t>(1, line);
  b.ascent = ascent;
  std::int16_t usableWidth = 0, usableHeight = 0;
  p.Take(p.ops.getProperty(device, DeviceInfo::UsableWidth, &usableWidth));
  p.Take(p.ops.getProperty(device, DeviceInfo::UsableHeight, &usableHeight));
  if (!p.Ok()) return session.End(p.status);
  LayOut(p, b, usableWidth, usableHeight);

  // The buttons: the device's texts, else the built-in ones measured as text.
  b.openBracketWidth = Device_Clamp16(p.Width(&kOpenBracket, 1));
  b.closeBracketWidth = Device_Clamp16(p.Width(&kCloseBracket, 1));
  int row = 0, shown = 0;
  for (int k = 0; k < 2 && p.Ok(); ++k) {
    std::int16_t w = 0;
    if (IsFailure(p.ops.measureUiString(device, p.ctx, static_cast<std::uint16_t>(k), &w))) {
      const ButtonText t = BuiltIn(k);
      w = Device_Clamp16(p.Width(t.bytes, t.length));
    }
    b.buttonWidth[k] = static_cast<std::uint16_t>(std::max<int>(0, w));
    if (b.buttonWidth[k] == 0) continue;
    row += (shown++ ? kButtonGap : 0) + b.openBracketWidth + b.buttonWidth[k] + b.closeBracketWidth;
  }
  if (!p.Ok()) return session.End(p.status);
  b.widest = static_cast<std::uint16_t>(std::max<int>(b.widest, row));

  b.rows = static_cast<std::uint16_t>(b.lineCount + 1 + (b.truncated & 1));
  b.width = Device_Clamp16(std::max(0, std::min<int>(b.widest + 6, usableWidth - 16)));
  b.height = Device_Clamp16(b.lineHeight * b.rows + 6);
  int x = b.anchorX - 3;
  if (x + b.width > usableWidth - 5) x = usableWidth - b.width - 8;
  b.x = Device_Clamp16(std::max(0, x));  // never off the left edge
  int y = 0;
  if (b.lineBottom + b.height + 8 <= usableHeight)
    y = b.lineBottom;
  else if (b.lineTop - b.height >= 0)
    y = b.lineTop - b.height;
  else
    y = std::max(0, usableHeight - b.height);
  b.y = Device_Clamp16(y);

  DeviceRect rect = BoxRect(b);
  p.Surface(&rect, nullptr, DeviceSurface::SavePixels);
  if (!p.Ok()) return session.End(p.status);
  Paint(p, b);
  if (!p.Ok()) {
    (void)p.ops.surfaceCommand(device, p.ctx, &rect, nullptr, DeviceSurface::RestorePixels);
    return session.End(p.status);
  }
  b.open = 1;
  b.penState = NoteBoxPen::Open;
  return session.End(kOk);
}

StatusCode Close(Painter& p, NoteBox& b, StatusCode answer) {
  DeviceRect rect = BoxRect(b);
  // The focus stays recorded (it tells the chosen button); the pixels under
  // the box come back, which also removes its highlight.
  b.open = 0;
  b.penState = NoteBoxPen::Idle;
  p.Surface(&rect, nullptr, DeviceSurface::RestorePixels);
  return p.Ok() ? answer : p.status;
}

int StepFocus(const NoteBox& b, bool forward) {
  // Previous from none or "View/Edit" goes to "Delete"; next from none or
  // "Delete" goes to "View/Edit"; buttons not shown are skipped.
  int at = b.focused;
  for (int tries = 0; tries < 2; ++tries) {
    if (forward)
      at = (at < 0 || at == 1) ? 0 : 1;
    else
      at = (at <= 0) ? 1 : 0;
    if (Shown(b, at)) return at;
  }
  return b.focused;
}

}  // namespace

std::int16_t NoteBox_HitTest(const NoteBox& b, std::int16_t x, std::int16_t y) noexcept {
  if (x < b.x || y < b.y || x >= b.x + b.width || y >= b.y + b.height) return kNoteBoxOutside;
  const int rowTop = ButtonRowTop(b);
  if (x < b.x + 2 || y < b.y + 2 || y < rowTop || y >= rowTop + b.lineHeight)
    return kNoteBoxNoButton;
  for (int k = 0; k < 2; ++k) {
    int l = 0, r = 0;
    if (ButtonSpan(b, k, &l, &r) && x >= l && x < r) return static_cast<std::int16_t>(k);
  }
  return kNoteBoxNoButton;
}

StatusCode NoteBox_Command(EngineObject* device, std::uint16_t code, void* in, void* out) noexcept {
  if (code <= 2) return kOk;
  if (code > NoteBoxCode::Redraw) return kNotSupported;
  if (in == nullptr || device == nullptr) return kBadArgument;
  NoteBox& b = *static_cast<NoteBox*>(in);
  if (code == NoteBoxCode::Open) return OpenCommand(device, b, static_cast<DeviceContext*>(out));
  if (!b.open) return kBadArgument;
  const bool pointer =
      code == NoteBoxCode::Track || code == NoteBoxCode::PenUp || code == NoteBoxCode::PenDown;
  if (pointer && out == nullptr) return kBadArgument;

  DeviceContext given = nullptr;
  if (code == NoteBoxCode::Redraw && out != nullptr) given = *static_cast<DeviceContext*>(out);
  Session session(device, given);
  if (const StatusCode s = session.Begin(); IsFailure(s)) return s;
  Painter& p = session.p;
  StatusCode answer = kOk;
  const DevicePoint point = pointer ? *static_cast<const DevicePoint*>(out) : DevicePoint{};
  const std::int16_t hit = pointer ? NoteBox_HitTest(b, point.x, point.y) : kNoteBoxOutside;
  switch (code) {
    case NoteBoxCode::Track:
      SetFocus(p, b, b.penState == NoteBoxPen::Idle || hit < 0 ? kNoteBoxNoButton : hit);
      answer = p.status;
      break;
    case NoteBoxCode::PenDown:
      if (hit == kNoteBoxOutside) {
        answer = Close(p, b, kNoteBoxClosedOutside);
      } else {
        b.penState = NoteBoxPen::Down;
        SetFocus(p, b, hit < 0 ? kNoteBoxNoButton : hit);
        answer = p.status;
      }
      break;
    case NoteBoxCode::PenUp:
      if (hit == kNoteBoxOutside) {
        answer = Close(p, b, kNoteBoxClosedOutside);
      } else if (hit >= 0) {
        SetFocus(p, b, hit);
        answer = Close(p, b, kNoteBoxClosedButton);
      } else {
        b.penState = NoteBoxPen::Idle;
        answer = p.status;
      }
      break;
    case 7:
    case 9:
      SetFocus(p, b, StepFocus(b, false));
      answer = p.status;
      break;
    case 8:
    case 10:
      SetFocus(p, b, StepFocus(b, true));
      answer = p.status;
      break;
    case 11:
    case 12:
    case 13:
    case 14: {
      const int from = (code == 11 || code == 13) ? 0 : 1;
      int found = kNoteBoxNoButton;
      for (int k = 0; k < 2 && found < 0; ++k)
        if (Shown(b, (from + k) % 2)) found = (from + k) % 2;
      SetFocus(p, b, found);
      if (out != nullptr)
        *static_cast<std::uint16_t*>(out) =
            found < 0 ? kNoteBoxNoButtonAnswer : static_cast<std::uint16_t>(found);
      answer = p.status;
      break;
    }
    case NoteBoxCode::Commit:
      answer = Close(p, b, b.focused >= 0 ? kNoteBoxClosedButton : kOk);
      break;
    case NoteBoxCode::Cancel:
      answer = Close(p, b, kNoteBoxClosedOutside);
      break;
    case NoteBoxCode::Redraw:
      Paint(p, b);
      answer = p.status;
      break;
    default:
      break;
  }
  return session.End(answer);
}
