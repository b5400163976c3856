#include "engine/formats/flow_text.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"
#include "engine/stores/annot_store.h"

namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint32_t kMaxPiece = 4096;      // bytes read per piece when drawing and copying
constexpr std::uint32_t kHitChunk = 32;        // bytes per GetCharPositions call
constexpr std::uint32_t kMaxMarkerText = 256;  // a text list marker never runs longer
constexpr int kRingSize = 32;                  // lines kept by FindLineAbove
constexpr int kMinLineHeight = 5;

constexpr bool IsBlank(std::uint8_t c) {
  return c == ' ' || c == '\t';
}
constexpr bool IsBreak(std::uint8_t c) {
  return c == kLf || c == kCr;
}
constexpr bool IsBoundary(std::uint8_t c) {
  return IsBlank(c) || IsBreak(c);
}

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}
std::int16_t ClampWidth(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, kDocUnboundedWidth));
}

const DocHandlerOps& Ops(EngineObject* h) {
  return DocOpsOf(h);
}

// A newline probe that answers a block's size (a positive width, which the
// probe is offered, and a positive height), with 0 or with one of the three
// alignments, makes the LF a block line of its own. An alignment answered
// without a size only aligns the line the LF ends.
bool IsBlockLine(StatusCode st, const LineMetrics& probe) {
  return (st == kOk || st == kDocBlockLeft || st == kDocBlockCentre || st == kDocBlockRight) &&
         probe.width > 0 && probe.height > 0;
}

// --- style and device helpers ---------------------------------------------

struct RunStyle {
  DeviceFontSpec font;
  CharFormat format;
  std::uint32_t runEnd;
};

// The style at pos; the defaults when the handler fails. A run end that does
// not lie after pos would stall every loop, so it counts as "to the end".
void ReadStyle(EngineObject* h, EngineObject* dev, std::uint32_t pos, RunStyle& s) {
  s.runEnd = kRunToEnd;
  if (IsFailure(Ops(h).getCharStyle(h, dev, pos, &s.font, &s.format, &s.runEnd))) {
    DocHandler_InitCharStyle(&s.font, &s.format);
    s.runEnd = kRunToEnd;
  }
  if (s.runEnd <= pos) s.runEnd = kRunToEnd;
}

CharFormat ReadFormat(EngineObject* h, EngineObject* dev, std::uint32_t pos) {
  RunStyle s;
  ReadStyle(h, dev, pos, s);
  return s.format;
}

// Points to pixels; false when the device cannot convert.
bool ToPixels(EngineObject* dev, DeviceContext ctx, std::uint32_t points, int* pixels) {
  std::int16_t px = 0;
  if (IsFailure(DeviceOf(dev).pointsToPixels(dev, ctx, static_cast<std::uint16_t>(points), &px)))
    return false;
  *pixels = px;
  return true;
}
int TwelvePoints(EngineObject* dev, DeviceContext ctx) {
  int m = 12;
  if (!ToPixels(dev, ctx, 12, &m)) m = 12;
  return m;
}

// The vertical metrics of the run at hand, with the set-low / set-high
// shifts. The shift base is the raw ascent of the run before on the same line,
// or six fifths of the run's own; pieces of one run share it.
class ShiftTracker {
 public:
  struct Run {
    int ascent;     // ascent contributed to the line's ascent maximum
    int depth;      // contributed to the line's depth maximum
    int shiftDown;  // > 0 drawn lower, < 0 higher
    int rawAscent;
  };

  Run Select(EngineObject* dev, DeviceContext ctx, const RunStyle& s, std::uint32_t pos) {
    std::int16_t lh = 0, lead = 0, asc = 0;
    if (IsFailure(DeviceOf(dev).selectFont(dev, ctx, &s.font, &lh, &lead, &asc)))
      lh = lead = asc = 0;
    if (pos >= runEnd_) {  // a new style run
      previous_ = current_;
      current_ = asc;
      runEnd_ = s.runEnd;
    }
    const int base = previous_ != 0 ? previous_ : asc * 6 / 5;
    int height = lh, ascent = asc, shift = 0;
    if (s.font.style & DocFontFlag::SetLow) {
      height += base / 3;
      shift = base / 3;
    } else if (s.font.style & DocFontFlag::SetHigh) {
      height += base / 2;
      ascent += base / 2;
      shift = -(base / 2);
    }
    return Run{ascent + lead / 2, (lead + 1) / 2 + height - ascent, shift, asc};
  }

 private:
  int previous_ = 0;
  int current_ = 0;
  std::uint32_t runEnd_ = 0;
};

// The device charset as a MIBenum (0 means windows-1252).
std::uint32_t DeviceCharset(EngineObject* dev) {
  std::uint32_t mib = 0;
  if (IsFailure(DeviceOf(dev).getProperty(dev, DeviceInfo::Charset, &mib)) || mib == 0) mib = 2252;
  return mib;
}

// Byte lengths of the characters in text[0, n) (n <= lengths' size); count
// of characters. Bytes the charset module cannot walk count one each.
std::uint32_t SplitChars(std::uint32_t mib, const std::uint8_t* text, std::uint32_t n,
                         std::uint8_t* lengths) {
  std::uint32_t bytes = n, count = n;
  if (g_TextConvModule != nullptr &&
      !IsFailure(TextConv_MeasureChars(g_TextConvModule, 0, mib, text, &bytes, lengths, &count)) &&
      bytes == n && count <= n) {
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (lengths[i] == 0) break;
      sum += lengths[i];
    }
    if (sum == n) return count;
  }
  for (std::uint32_t i = 0; i < n; ++i)
    lengths[i] = 1;
  return n;
}

std::uint32_t FirstCharLength(std::uint32_t mib, const std::uint8_t* text, std::uint32_t n) {
  std::array<std::uint8_t, 8> lengths{};
  n = std::min<std::uint32_t>(n, 8);
  if (n == 0) return 0;
  SplitChars(mib, text, n, lengths.data());
  return std::clamp<std::uint32_t>(lengths[0], 1, n);
}

// --- reading text ------------------------------------------------------------

// Holds the joined copy of a piece that spans several windows of the
// handler; freed when the reader goes out of scope, on failure too.
class PieceReader {
 public:
  PieceReader() = default;
  PieceReader(const PieceReader&) = delete;
  PieceReader& operator=(const PieceReader&) = delete;

  // DocHandler_ReadToBreak: up to n bytes from pos, stopping before the first
  // CR or LF (*breakChar = that byte, or 0 when the piece did not stop at a
  // break). kNoMore when nothing is readable at pos.
  StatusCode Read(EngineObject* h, std::uint32_t pos, std::uint32_t n, const std::uint8_t** text,
                  std::uint32_t* length, std::uint8_t* breakChar) {
    *breakChar = 0;
    const std::uint8_t* p = nullptr;
    std::uint32_t len = n;
    StatusCode s = Ops(h).getText(h, pos, &p, &len);
    if (IsFailure(s)) return s;
    if (p == nullptr || len == 0) return kNoMore;
    len = std::min(len, n);
    for (std::uint32_t i = 0; i < len; ++i) {
      if (IsBreak(p[i])) {
        *breakChar = p[i];
        *text = p;
        *length = i;
        return kOk;
      }
    }
    if (len == n) {
      *text = p;
      *length = len;
      return kOk;
    }
    // The handler's window ended first: join the pieces in one buffer.
    if (n > capacity_) {
      void* block = buffer_.get();
      s = block ? Engine_Realloc(n, &block) : Engine_Alloc(n, &block);
      if (IsFailure(s)) return s;
      buffer_.release();
      buffer_.reset(static_cast<std::uint8_t*>(block));
      capacity_ = n;
    }
    std::memcpy(buffer_.get(), p, len);
    std::uint32_t total = len;
    while (total < n) {
      const std::uint8_t* q = nullptr;
      std::uint32_t more = n - total;
      s = Ops(h).getText(h, pos + total, &q, &more);
      if (IsFailure(s)) return s;
      if (q == nullptr || more == 0) break;
      more = std::min(more, n - total);
      std::uint32_t i = 0;
      while (i < more && !IsBreak(q[i]))
        ++i;
      std::memcpy(buffer_.get() + total, q, i);
      total += i;
      if (i < more) {
        *breakChar = q[i];
        break;
      }
    }
    *text = buffer_.get();
    *length = total;
    return kOk;
  }

 private:
  EngineBuffer<std::uint8_t> buffer_;
  std::uint32_t capacity_ = 0;
};

// The byte at pos; false when none is readable.
bool ByteAt(EngineObject* h, std::uint32_t pos, std::uint8_t* out) {
  const std::uint8_t* p = nullptr;
  std::uint32_t len = 1;
  if (IsFailure(Ops(h).getText(h, pos, &p, &len)) || p == nullptr || len == 0) return false;
  *out = p[0];
  return true;
}

// DocHandler_SkipBlanks: skips blanks up to bound, then one LF, CR LF or CR.
std::uint32_t SkipBlanks(EngineObject* h, std::uint32_t pos, std::uint32_t bound) {
  std::uint8_t c = 0;
  while (pos < bound && ByteAt(h, pos, &c) && IsBlank(c))
    ++pos;
  if (pos >= bound || !ByteAt(h, pos, &c)) return pos;
  if (c == kLf) return pos + 1;
  if (c == kCr) {
    ++pos;
    if (pos < bound && ByteAt(h, pos, &c) && c == kLf) ++pos;
  }
  return pos;
}

// Scans backwards from pos down to bound with GetTextBefore; fn(position of
// byte, byte) returns true to stop. Answers the position where it stopped
// (the byte's position), or bound when the scan ran out.
template <class Fn>
std::uint32_t ScanBack(EngineObject* h, std::uint32_t pos, std::uint32_t bound, Fn fn,
                       bool* found) {
  *found = false;
  while (pos > bound) {
    const std::uint8_t* p = nullptr;
    std::uint32_t len = std::min<std::uint32_t>(pos - bound, kMaxPiece);
    if (IsFailure(Ops(h).getTextBefore(h, pos, &p, &len)) || p == nullptr || len == 0) break;
    len = std::min(len, pos - bound);
    for (std::uint32_t i = len; i > 0; --i) {
      if (fn(pos - len + i - 1, p[i - 1])) {
        *found = true;
        return pos - len + i - 1;
      }
    }
    pos -= len;
  }
  return pos;
}

// DocHandler_FindBreakBack: the position just after the last blank, LF or CR
// in [bound, pos); bound when there is none.
std::uint32_t FindBreakBack(EngineObject* h, std::uint32_t pos, std::uint32_t bound) {
  bool found = false;
  const std::uint32_t at = ScanBack(
      h, pos, bound, [](std::uint32_t, std::uint8_t c) { return IsBoundary(c); }, &found);
  return found ? at + 1 : bound;
}

// DocHandler_TrimBlanksBack: the first of the blanks that end at pos.
std::uint32_t TrimBlanksBack(EngineObject* h, std::uint32_t pos, std::uint32_t bound) {
  bool found = false;
  const std::uint32_t at = ScanBack(
      h, pos, bound, [](std::uint32_t, std::uint8_t c) { return !IsBlank(c); }, &found);
  return found ? at + 1 : bound;
}

// --- character walks -------------------------------------------------------

// Walks the characters of [from, to) of a line as they are drawn, run by
// run, giving each character's position, byte length and left and right x
// (from 0 at `from`). A LF takes the width a special newline line answers to
// the handler's own newline probe; other breaks take none. fn returns true to
// stop. This one walk serves hit testing, x positions and span widths, so
// they always agree.
template <class Fn>
StatusCode WalkChars(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t from,
                     std::uint32_t to, std::uint32_t mib, int* xOut, Fn fn) {
  PieceReader reader;
  std::array<std::int16_t, kHitChunk> positions{};
  std::array<std::uint8_t, kHitChunk> lengths{};
  int x = 0;
  std::uint32_t p = from;
  while (p < to) {
    RunStyle s;
    ReadStyle(h, dev, p, s);
    StatusCode st = DeviceOf(dev).selectFont(dev, ctx, &s.font, nullptr, nullptr, nullptr);
    if (IsFailure(st)) return st;  // widths of another font would place every hit wrong
    const std::uint32_t limit = std::min<std::uint32_t>(std::min(s.runEnd, to) - p, kHitChunk);
    const std::uint8_t* text = nullptr;
    std::uint32_t len = 0;
    std::uint8_t brk = 0;
    st = reader.Read(h, p, limit, &text, &len, &brk);
    if (st == kNoMore) break;
    if (IsFailure(st)) return st;
    if (len == 0) {
      int w = 0;
      if (brk == kLf) {
        LineMetrics probe{};
        if (IsBlockLine(Ops(h).layoutLine(h, dev, ctx, p, p + 1, 0, nullptr, &probe), probe))
          w = probe.width;
      }
      if (fn(p, 1u, x, x + w)) break;
      x += w;
      ++p;
      continue;
    }
    std::uint32_t done = len;
    if (IsFailure(st = DeviceOf(dev).getCharPositions(dev, ctx, text, &done, positions.data())))
      return st;
    done = std::min(done, len);
    if (done == 0) break;  // the device made no progress
    const std::uint32_t count = SplitChars(mib, text, done, lengths.data());
    std::uint32_t i = 0;
    bool stop = false;
    int left = x;
    for (std::uint32_t k = 0; k < count && !stop; ++k) {
      const int right = x + positions[i + lengths[k] - 1];
      stop = fn(p + i, std::uint32_t{lengths[k]}, left, right);
      left = right;
      i += lengths[k];
    }
    if (stop) break;
    x = left;
    p += done;
  }
  if (xOut) *xOut = x;
  return kOk;
}

// Width of [from, to) as drawn.
StatusCode MeasureSpan(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t from,
                       std::uint32_t to, int* width) {
  return WalkChars(h, dev, ctx, from, to, DeviceCharset(dev), width,
                   [](std::uint32_t, std::uint32_t, int, int) { return false; });
}

// DocHandler_MeasureBreakRun: the run from `from` to the next blank or break
// (not past bound): its end, width and vertical extent.
struct BreakRun {
  std::uint32_t end;
  int width;
  int ascent;
  int depth;
};
StatusCode MeasureBreakRun(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                           std::uint32_t from, std::uint32_t bound, BreakRun* out) {
  PieceReader reader;
  ShiftTracker shifts;
  BreakRun r{from, 0, 0, 0};
  std::uint32_t p = from;
  while (p < bound) {
    RunStyle s;
    ReadStyle(h, dev, p, s);
    const ShiftTracker::Run m = shifts.Select(dev, ctx, s, p);
    const std::uint32_t limit = std::min<std::uint32_t>(std::min(s.runEnd, bound) - p, kMaxPiece);
    const std::uint8_t* text = nullptr;
    std::uint32_t len = 0;
    std::uint8_t brk = 0;
    const StatusCode st = reader.Read(h, p, limit, &text, &len, &brk);
    if (st == kNoMore) break;
    if (IsFailure(st)) return st;
    std::uint32_t word = 0;
    while (word < len && !IsBlank(text[word]))
      ++word;
    if (word > 0) {
      std::int16_t w = 0;
      if (!IsFailure(DeviceOf(dev).measureWidth(dev, ctx, text, word, &w))) r.width += w;
      r.ascent = std::max(r.ascent, m.ascent);
      r.depth = std::max(r.depth, m.depth);
    }
    p += word;
    if (word < len || len == 0) break;  // a blank or a break
  }
  r.end = p;
  *out = r;
  return kOk;
}

// How a line's start is shaped by a marker paragraph.
struct MarkerInfo {
  bool marker = false;      // format flag bit 2 at the line start
  bool text = false;        // the marker is the text after the marker character
  std::uint32_t textStart;  // where the line's ordinary text begins
  int width = 0;            // marker text width
  int ascent = 0;
  int depth = 0;
};

StatusCode ReadMarker(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t start,
                      std::uint32_t bound, const CharFormat& format, MarkerInfo* out) {
  MarkerInfo info;
  info.textStart = start;
  if (format.formatFlags & DocFormat::MarkerParagraph) {
    info.marker = true;
    LineMetrics probe{};
    probe.width = -1;
    // Only the width answers: a handler that leaves it alone (whatever its
    // status) has no marker of its own, so the marker is text.
    (void)Ops(h).layoutLine(h, dev, ctx, start, start + 1, 0, nullptr, &probe);
    if (probe.width == -1 && start < bound) {
      info.text = true;
      BreakRun run{};
      const std::uint32_t limit =
          std::min<std::uint64_t>(bound, std::uint64_t{start} + 1 + kMaxMarkerText);
      const StatusCode ms = MeasureBreakRun(h, dev, ctx, start + 1, limit, &run);
      if (IsFailure(ms)) return ms;
      info.textStart = run.end;
      info.width = run.width;
      info.ascent = run.ascent;
      info.depth = run.depth;
    }
  }
  *out = info;
  return kOk;
}

// --- layout ------------------------------------------------------------------

struct LineState {
  int ascentMax = 0;
  int depthMax = 0;
  int lastAscent = 0;  // the last run's ascent candidate
  int used = 0;        // width used
  int remaining = 0;   // R
  int indent = 0;
  std::uint16_t alignment = 0;
  std::uint32_t joinedBytes = 0;
  bool block = false;  // a newline probe answered a block line
  LineMetrics blockMetrics{};
};

// DocHandler_WrapBack at b on a line whose text began at s.
StatusCode WrapBack(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t s,
                    std::uint32_t b, std::uint32_t end, LineState& line, std::uint32_t* next) {
  std::uint8_t c = 0;
  const bool readable = ByteAt(h, b, &c);
  if (!readable || !(c == ' ' || c == kLf)) {
    const std::uint32_t k = FindBreakBack(h, b, s);
    if (k > s && k < b) {
      int w = 0;
      const StatusCode st = MeasureSpan(h, dev, ctx, k, b, &w);
      if (IsFailure(st)) return st;
      line.used -= w;
      line.remaining += w;
      b = k;
    }
  }
  b = TrimBlanksBack(h, b, s);
  *next = SkipBlanks(h, b, end);
  return kOk;
}

StatusCode LayoutRuns(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t p,
                      std::uint32_t end, LineState& line, std::uint32_t* next) {
  const std::uint32_t textStart = p;
  PieceReader reader;
  ShiftTracker shifts;
  std::uint32_t mib = 0;
  while (p < end) {
    RunStyle s;
    ReadStyle(h, dev, p, s);
    const ShiftTracker::Run m = shifts.Select(dev, ctx, s, p);
    line.lastAscent = m.ascent;
    std::uint32_t limit = std::min(end, s.runEnd) - p;
    // Never read much past what can fit: the free width in pixels plus a few
    // bytes, enough for one whole multi-byte character.
    const std::uint32_t widthBound = static_cast<std::uint32_t>(std::max(line.remaining, 1)) + 3;
    if (widthBound < limit) limit = widthBound;
    const std::uint8_t* text = nullptr;
    std::uint32_t len = 0;
    std::uint8_t brk = 0;
    StatusCode st = reader.Read(h, p, limit, &text, &len, &brk);
    if (st == kNoMore) break;
    if (IsFailure(st)) return st;
    if (len > 0) {
      line.ascentMax = std::max(line.ascentMax, m.ascent);
      line.depthMax = std::max(line.depthMax, m.depth);
      std::uint32_t fit = 0;
      std::int16_t w = 0, hgt = 0;
      const std::int16_t bound = Clamp16(std::max(line.remaining, 0));
      if (IsFailure(st = DeviceOf(dev).measureText(dev, ctx, text, len, bound, &fit, &w, &hgt)))
        return st;
      fit = std::min(fit, len);
      int fittedWidth = fit > 0 ? w : 0;
      if (fit == 0) {  // take the first whole character anyway
        if (mib == 0) mib = DeviceCharset(dev);
        fit = FirstCharLength(mib, text, len);
        std::int16_t cw = 0;
        if (IsFailure(st = DeviceOf(dev).measureWidth(dev, ctx, text, fit, &cw))) return st;
        fittedWidth = cw;
      }
      if (fittedWidth > line.remaining && line.joinedBytes > 0) {
        // Overflow on a later piece: the line ends at p or at the last word
        // boundary before it.
        return WrapBack(h, dev, ctx, textStart, p, end, line, next);
      }
      line.used += fittedWidth;
      line.remaining -= fittedWidth;
      line.joinedBytes += fit;
      p += fit;
      if (fit < len) return WrapBack(h, dev, ctx, textStart, p, end, line, next);
      continue;
    }
    // At a break character.
    if (line.joinedBytes == 0 && !(brk == kLf && (s.format.formatFlags & DocFormat::NativeBreak))) {
      // An empty paragraph is as high as its font.
      line.ascentMax = std::max(line.ascentMax, m.ascent);
      line.depthMax = std::max(line.depthMax, m.depth);
    }
    if (brk == kLf) {
      if (s.format.formatFlags & DocFormat::NativeBreak) {
        line.ascentMax = std::max({line.ascentMax, int{s.format.breakHeight}, 2});
      } else {
        // The probe is offered the width the block would have on a line of
        // its own: a block never shares a row with the text before it.
        LineMetrics probe{};
        const bool text = line.joinedBytes > 0;
        probe.width = Clamp16(line.remaining + (text ? line.used : 0));
        st = Ops(h).layoutLine(h, dev, ctx, p, p + 1, 0, nullptr, &probe);
        if (IsBlockLine(st, probe)) {
          if (text) {  // the text line ends before the LF; the block is the next line
            *next = p;
            return kOk;
          }
          line.block = true;
          line.blockMetrics = probe;
        } else if (st == kDocBlockLeft) {
          line.alignment = DocFormat::AlignLeft;
        } else if (st == kDocBlockCentre) {
          line.alignment = DocFormat::AlignCentre;
        } else if (st == kDocBlockRight) {
          line.alignment = DocFormat::AlignRight;
        }
      }
      *next = p + 1;
      return kOk;
    }
    // CR, and CR LF as one break.
    ++p;
    std::uint8_t c = 0;
    if (p < end && ByteAt(h, p, &c) && c == kLf) ++p;
    *next = p;
    return kOk;
  }
  *next = p;
  return kOk;
}

}  // namespace

// --- slots -----------------------------------------------------------------

StatusCode DocHandler_GetSectionInfo(EngineObject*, std::uint16_t* policy,
                                     std::uint16_t* count) noexcept {
  if (policy) *policy = 0;
  if (count) *count = 1;
  return kOk;
}

StatusCode DocHandler_GetSectionFlags(EngineObject*, std::int16_t section,
                                      std::uint32_t* flags) noexcept {
  if (section != 0) return kNoMore;
  if (flags == nullptr) return kNullOutPointer;
  *flags = 0;
  return kOk;
}

StatusCode DocHandler_LayoutLine(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                                 std::uint32_t start, std::uint32_t end, std::int16_t width,
                                 std::uint32_t* nextStart, LineMetrics* metrics) noexcept {
  if (start >= end) return kNoMore;
  if (end - start == 1 && width == 0 && nextStart == nullptr) return kNoMore;  // newline probe
  if (nextStart == nullptr || metrics == nullptr) return kNullOutPointer;

  const CharFormat format = ReadFormat(h, dev, start);
  LineState line;
  line.alignment = format.formatFlags & DocFormat::AlignMask;
  int avail = width;
  auto narrow = [&](int m) {
    avail -= m;
    if (avail < 0) avail = 1;
  };
  int m = 0;
  if (format.leftIndent && ToPixels(dev, ctx, format.leftIndent, &m)) line.indent += m, narrow(m);
  if (format.leftIndent2 && ToPixels(dev, ctx, format.leftIndent2, &m)) line.indent += m, narrow(m);
  if (format.shiftIndent > 0 &&
      ToPixels(dev, ctx, static_cast<std::uint32_t>(format.shiftIndent), &m))
    line.indent += m, narrow(m);
  if (format.shiftIndent < 0 &&
      ToPixels(dev, ctx, static_cast<std::uint32_t>(-int{format.shiftIndent}), &m))
    line.indent -= m, avail += m;
  if (format.rightIndent && ToPixels(dev, ctx, format.rightIndent, &m)) narrow(m);
  if (format.rightIndent2 && ToPixels(dev, ctx, format.rightIndent2, &m)) narrow(m);

  MarkerInfo marker;
  StatusCode st = ReadMarker(h, dev, ctx, start, end, format, &marker);
  if (IsFailure(st)) return st;
  std::uint32_t p = start;
  const int twelve =
      (marker.marker || (format.formatFlags & DocFormat::BlockIndent)) ? TwelvePoints(dev, ctx) : 0;
  if (marker.marker) {
    if (marker.text) {
      p = marker.textStart;
      line.used = marker.width;
      line.indent += twelve - marker.width;
      line.ascentMax = marker.ascent;
      line.depthMax = marker.depth;
    } else {
      line.used = twelve;
      line.indent += twelve;
    }
    avail = avail < twelve ? 1 : avail - twelve;
  } else if (format.formatFlags & DocFormat::BlockIndent) {
    line.indent += twelve;
    avail = avail < twelve ? 1 : avail - twelve;
  }
  line.remaining = avail;

  std::uint32_t next = p;
  st = LayoutRuns(h, dev, ctx, p, end, line, &next);
  if (IsFailure(st)) return st;
  if (next <= start) return kNoMore;  // nothing readable: no line, no stall

  if (line.block) {
    LineMetrics out = line.blockMetrics;
    out.reserved0 = metrics->reserved0;
    out.reserved1 = metrics->reserved1;
    out.indent = Clamp16(line.indent + out.indent);
    *metrics = out;
    *nextStart = next;
    return kOk;
  }

  // Minimum width of a one-character line.
  if (format.minWidth != 0 && line.joinedBytes > 0 && line.joinedBytes <= 8) {
    const std::uint8_t* text = nullptr;
    std::uint32_t len = line.joinedBytes;
    if (!IsFailure(Ops(h).getText(h, p, &text, &len)) && text != nullptr &&
        len == line.joinedBytes && FirstCharLength(DeviceCharset(dev), text, len) == len) {
      int minimum = format.minWidth;
      if (format.formatFlags & DocFormat::MinWidthPercent)
        minimum = std::min<int>(format.minWidth, 100) * std::max(line.remaining, 0) / 100;
      minimum = std::min(minimum, int{kDocUnboundedWidth});
      if (line.used < minimum) {
        line.remaining = std::max(line.remaining - (minimum - line.used), 0);
        line.used = minimum;
      }
    }
  }

  int height = line.ascentMax + line.depthMax;
  int ascent = line.ascentMax;
  if (format.minHeightCode != 0) {
    int mh = format.minHeightCode;
    ToPixels(dev, ctx, format.minHeightCode, &mh);
    if (mh > height) {
      height = mh;
      ascent = mh - line.depthMax;
    }
  }
  if (ascent == 0) ascent = line.lastAscent;

  if (width != kDocUnboundedWidth && line.remaining > 0 && line.used > 0) {
    if (line.alignment == DocFormat::AlignCentre) line.indent += line.remaining / 2;
    if (line.alignment == DocFormat::AlignRight) line.indent += line.remaining;
  }

  metrics->width = ClampWidth(line.used);
  metrics->height = ClampWidth(height);
  metrics->indent = ClampWidth(line.indent);
  metrics->ascent = ClampWidth(ascent);
  metrics->top = 0;
  metrics->extra = 0;
  *nextStart = next;
  return kOk;
}

namespace {

// The start of the paragraph holding the character before q, not below
// lower: a LF (or CR LF, or CR) right before q belongs to it; a LF that the
// handler lays out as a special line does not end a paragraph.
StatusCode ParagraphStart(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::uint32_t q,
                          std::uint32_t lower, std::uint32_t* out) {
  std::uint32_t p = q;
  std::uint8_t c = 0;
  if (p > lower && ByteAt(h, p - 1, &c) && IsBreak(c)) {
    --p;
    if (c == kLf && p > lower && ByteAt(h, p - 1, &c) && c == kCr) --p;
  }
  for (;;) {
    bool found = false;
    bool probe = false;
    const std::uint32_t at = ScanBack(
        h, p, lower,
        [&](std::uint32_t, std::uint8_t b) {
          if (b == kCr) return true;
          if (b == kLf) return probe = true;
          return false;
        },
        &found);
    if (!found) {
      *out = at;
      return kOk;
    }
    if (!probe) {  // CR
      *out = at + 1;
      return kOk;
    }
    LineMetrics m{};
    const StatusCode st = Ops(h).layoutLine(h, dev, ctx, at, at + 1, 0, nullptr, &m);
    if (st == kNoMore) {
      *out = at + 1;
      return kOk;
    }
    p = at;  // a special newline line: the paragraph goes on above it
  }
}

std::uint32_t TextEnd(EngineObject* h) {
  std::uint32_t length = 0;
  if (IsFailure(Ops(h).getTextLength(h, &length))) return kRunToEnd;
  return length;
}

}  // namespace

StatusCode DocHandler_FindLine(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                               std::uint32_t position, std::uint32_t lowerBound, std::int16_t width,
                               std::uint32_t* start, std::uint32_t* end,
                               LineMetrics* metrics) noexcept {
  if (position <= lowerBound) return kFailed;
  std::uint32_t s = 0;
  StatusCode st = ParagraphStart(h, dev, ctx, position, lowerBound, &s);
  if (IsFailure(st)) return st;
  const std::uint32_t textEnd = std::max(TextEnd(h), position);
  bool any = false;
  std::uint32_t lineStart = s, lineEnd = s;
  LineMetrics lm{};
  while (s < position) {
    std::uint32_t next = 0;
    LineMetrics m{};
    st = Ops(h).layoutLine(h, dev, ctx, s, textEnd, width, &next, &m);
    if (IsFailure(st)) return st;
    if (st == kNoMore || next <= s) break;  // no progress: stop
    any = true;
    lineStart = s;
    lineEnd = next;
    lm = m;
    s = next;
  }
  if (!any) return kFailed;
  if (start) *start = lineStart;
  if (end) *end = lineEnd;
  if (metrics) *metrics = lm;
  return kOk;
}

StatusCode DocHandler_FindLineAbove(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                                    std::uint32_t position, std::uint32_t lowerBound,
                                    std::int16_t width, std::uint32_t, std::uint32_t* start,
                                    std::int16_t* height, std::int16_t* overlap,
                                    std::int16_t* lineCount) noexcept {
  if (start == nullptr || height == nullptr) return kNullOutPointer;
  if (position <= lowerBound) {
    *start = position;
    *height = 0;
    if (lineCount) *lineCount = 0;
    return kOk;
  }
  std::uint32_t s = 0;
  StatusCode st = ParagraphStart(h, dev, ctx, position, lowerBound, &s);
  if (IsFailure(st)) return st;
  const std::uint32_t textEnd = std::max(TextEnd(h), position);

  struct Kept {
    std::uint32_t start;
    int height, top, extra;
  };
  std::array<Kept, kRingSize> ring{};
  int kept = 0;  // lines laid out; the ring holds the last min(kept, 32)
  while (s < position) {
    std::uint32_t next = 0;
    LineMetrics m{};
    st = Ops(h).layoutLine(h, dev, ctx, s, textEnd, width, &next, &m);
    if (IsFailure(st)) return st;
    if (st == kNoMore || next <= s) break;
    ring[kept % kRingSize] = Kept{s, m.height, m.top, m.extra};
    ++kept;
    s = next;
  }
  const int available = std::min(kept, kRingSize);
  const int wanted = *height;
  std::int64_t sum = 0;
  int added = 0;
  std::uint32_t answer = position;
  int answerTop = overlap ? *overlap : 0;
  int belowTop = -1;  // top of the line below the one being added
  for (int i = 0; i < available && (added == 0 || sum < wanted); ++i) {
    const Kept& line = ring[(kept - 1 - i) % kRingSize];
    int lh = std::max(line.height + line.top + line.extra, kMinLineHeight);
    if (belowTop >= 0)
      lh -= std::min(line.extra, belowTop);
    else if (overlap)
      lh -= std::min<int>(line.extra, *overlap);
    sum += lh;
    ++added;
    answer = line.start;
    answerTop = line.top;
    belowTop = line.top;
  }
  *start = answer;
  *height = ClampWidth(sum);
  if (overlap) *overlap = Clamp16(answerTop);
  if (lineCount) *lineCount = Clamp16(added);
  return kOk;
}

StatusCode DocHandler_DrawLineBackground(EngineObject*, EngineObject* dev, DeviceContext ctx,
                                         std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                                         std::int16_t right, std::uint16_t, std::uint32_t,
                                         std::uint32_t) noexcept {
  if (metrics == nullptr) return kNullOutPointer;
  const int top = y + metrics->top;
  return DeviceOf(dev).fillRect(dev, ctx, x, Clamp16(top), right, Clamp16(top + metrics->height),
                                nullptr);
}

StatusCode DocHandler_ApplyAnnotationMark(AnnotStore* store, std::uint32_t position,
                                          DeviceFontSpec* font, std::uint32_t* runEnd) noexcept {
  if (store == nullptr) return kOk;
  std::array<std::uint8_t, 2> attributes{};
  std::uint32_t end = *runEnd;
  const StatusCode st = AnnotStore_GetAttributesAt(store, position, &end, attributes.data());
  if (IsFailure(st)) return st;
  if (end > position) *runEnd = end;
  // attribute1 is the low byte, the highlight colour the high byte: a value
  // of 255 or less carries no mark.
  const std::uint8_t k = attributes[1];
  if (k == 0) return kOk;
  font->background = DocHandler_AnnotationColour(k);
  font->style |= DocFontFlag::AnnotationMark;
  return kOk;
}

DeviceColour DocHandler_AnnotationColour(std::uint8_t k) noexcept {
  static constexpr std::array<DeviceColour, 17> kColours = {{
      {255, 255, 0},  // 0 (unused)
      {255, 255, 0},
      {255, 0, 255},
      {255, 0, 0},
      {128, 0, 0},
      {128, 0, 128},
      {0, 0, 255},
      {0, 0, 128},
      {0, 255, 255},
      {0, 128, 128},
      {0, 255, 0},
      {128, 128, 0},
      {0, 128, 0},
      {255, 255, 255},
      {192, 192, 192},
      {128, 128, 128},
      {0, 0, 0},
  }};
  return k <= 16 ? kColours[k] : kColours[1];
}

StatusCode DocHandler_DrawLineRuns(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                                   std::int16_t* xInOut, std::int16_t y, const LineMetrics* metrics,
                                   std::uint32_t position, std::uint32_t end) noexcept {
  if (metrics == nullptr) return kNullOutPointer;
  AnnotStore* store = nullptr;
  if (IsFailure(Ops(h).control(h, DocControl::GetAnnotations, 0, &store))) store = nullptr;
  const int baseline = y + metrics->top + metrics->ascent;
  std::int16_t x = xInOut ? *xInOut : 0;
  const DeviceOps& d = DeviceOf(dev);
  StatusCode st =
      d.setTextOrigin(dev, ctx, x, Clamp16(baseline), Clamp16(metrics->height - metrics->ascent),
                      DeviceTextAlign::Baseline | DeviceTextAlign::Advance);
  if (IsFailure(st)) return st;
  PieceReader reader;
  ShiftTracker shifts;
  StatusCode result = kOk;
  std::uint32_t p = position;
  while (p < end) {
    RunStyle s;
    ReadStyle(h, dev, p, s);
    // A mark cuts the piece, not the style run, so the shifts match layout.
    std::uint32_t pieceEnd = s.runEnd;
    // A mark that cannot be looked up leaves the piece unmarked; the text still shows.
    if (store != nullptr) (void)DocHandler_ApplyAnnotationMark(store, p, &s.font, &pieceEnd);
    const ShiftTracker::Run m = shifts.Select(dev, ctx, s, p);
    const std::uint32_t limit = std::min<std::uint32_t>(std::min(pieceEnd, end) - p, kMaxPiece);
    const std::uint8_t* text = nullptr;
    std::uint32_t len = 0;
    std::uint8_t brk = 0;
    st = reader.Read(h, p, limit, &text, &len, &brk);
    if (st == kNoMore) break;
    if (IsFailure(st)) {
      result = st;
      break;
    }
    if (len > 0) {
      std::int16_t ry = Clamp16(baseline + m.shiftDown);
      if (IsFailure(st = d.drawText(dev, text, len, &x, &ry))) {
        result = st;
        break;
      }
      p += len;
      continue;
    }
    if (brk == kLf && IsFailure(st = Ops(h).drawLine(h, dev, ctx, x, y, metrics, p, p))) {
      result = st;
      break;
    }
    ++p;
  }
  st = d.restoreTextAlign(dev);
  if (IsFailure(st) && !IsFailure(result)) result = st;
  if (xInOut) *xInOut = x;
  return result;
}

StatusCode DocHandler_DrawLine(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                               std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                               std::uint32_t start, std::uint32_t end) noexcept {
  if (start >= end) return kNoMore;
  if (metrics == nullptr) return kNullOutPointer;
  RunStyle s;
  ReadStyle(h, dev, start, s);
  if (metrics->indent != 0 && s.format.markerShape != 0) {
    int mx = x + metrics->indent;
    if (s.format.markerShape & kMarkerLeftOfText) mx -= TwelvePoints(dev, ctx);
    const StatusCode ms = DeviceOf(dev).drawListMarker(dev, ctx, Clamp16(mx),
                                                       Clamp16(y + metrics->top + metrics->ascent),
                                                       &s.font, s.format.markerShape);
    if (IsFailure(ms)) return ms;
  }
  MarkerInfo marker;
  StatusCode st = ReadMarker(h, dev, ctx, start, end, s.format, &marker);
  if (IsFailure(st)) return st;
  std::int16_t cx = Clamp16(x + metrics->indent);
  std::uint32_t p = start;
  if (marker.text) {
    st = DocHandler_DrawLineRuns(h, dev, ctx, &cx, y, metrics, start + 1, marker.textStart);
    if (IsFailure(st)) return st;
    cx = Clamp16(x + metrics->indent + marker.width);
    p = marker.textStart;
  }
  if (p >= end) return kOk;
  return DocHandler_DrawLineRuns(h, dev, ctx, &cx, y, metrics, p, end);
}

StatusCode DocHandler_PositionToX(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                                  std::uint32_t lineStart, std::uint32_t rangeStart,
                                  std::uint32_t rangeEnd, std::int16_t* x1,
                                  std::int16_t* x2) noexcept {
  if (x1 == nullptr || x2 == nullptr) return kNullOutPointer;
  if (rangeEnd < rangeStart) std::swap(rangeStart, rangeEnd);
  const CharFormat format = ReadFormat(h, dev, lineStart);
  MarkerInfo marker;
  StatusCode st = ReadMarker(h, dev, ctx, lineStart, kRunToEnd, format, &marker);
  if (IsFailure(st)) return st;
  // x of one position: inside the marker text it is measured from the marker
  // character, after it from the line's text start plus the marker width.
  auto xOf = [&](std::uint32_t pos, int* out) -> StatusCode {
    if (pos <= lineStart) {
      *out = 0;
      return kOk;
    }
    if (marker.text && pos <= marker.textStart)
      return MeasureSpan(h, dev, ctx, lineStart + 1, pos, out);
    int w = 0;
    const StatusCode s = MeasureSpan(h, dev, ctx, marker.textStart, pos, &w);
    *out = w + (marker.text ? marker.width : 0);
    return s;
  };
  int a = 0, b = 0;
  if (IsFailure(st = xOf(rangeStart, &a))) return st;
  if (IsFailure(st = xOf(rangeEnd, &b))) return st;
  *x1 = ClampWidth(a);
  *x2 = ClampWidth(b);
  return kOk;
}

StatusCode DocHandler_InvertRange(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                                  std::uint16_t, std::int16_t x, std::int16_t y,
                                  const LineMetrics* metrics, std::uint32_t lineStart,
                                  std::int16_t x1, std::int16_t x2, std::uint32_t rangeStart,
                                  std::uint32_t rangeEnd) noexcept {
  if (metrics == nullptr) return kNullOutPointer;
  if (x1 == x2) {
    x1 = 0;
    x2 = metrics->width;
    std::int16_t a = 0, b = 0;
    if (!IsFailure(Ops(h).positionToX(h, dev, ctx, lineStart, rangeStart, rangeEnd, &a, &b))) {
      x1 = a;
      x2 = b;
    }
  }
  x2 = std::min(x2, metrics->width);
  if (x2 <= x1) return kOk;
  const int left = x + metrics->indent;
  const int top = y + metrics->top;
  return DeviceOf(dev).invertRect(dev, ctx, Clamp16(left + x1), Clamp16(top), Clamp16(left + x2),
                                  Clamp16(top + metrics->height));
}

StatusCode DocHandler_HitTest(EngineObject* h, EngineObject* dev, DeviceContext ctx, std::int16_t x,
                              std::int16_t y, const LineMetrics* metrics, std::uint32_t lineStart,
                              std::uint32_t lineEnd, HitBox* box, std::uint32_t* rangeStart,
                              std::uint32_t* rangeEnd) noexcept {
  if (metrics == nullptr || rangeStart == nullptr || rangeEnd == nullptr) return kNullOutPointer;
  auto answer = [&](std::uint32_t a, std::uint32_t b) {
    *rangeStart = a;
    *rangeEnd = b;
    return kOk;
  };
  if (x < metrics->indent || y < 0) return answer(lineStart, lineStart);
  if (y >= metrics->top + metrics->height + metrics->extra) return answer(lineEnd, lineEnd);
  if (lineStart >= lineEnd) return answer(lineStart, lineStart);

  const CharFormat format = ReadFormat(h, dev, lineStart);
  MarkerInfo marker;
  StatusCode st = ReadMarker(h, dev, ctx, lineStart, lineEnd, format, &marker);
  if (IsFailure(st)) return st;
  const int hx = x - metrics->indent;
  auto hit = [&](std::uint32_t a, std::uint32_t b, int left, int right) {
    if (box) {
      box->width = ClampWidth(right - left);
      box->height = metrics->height;
      box->x = ClampWidth(metrics->indent + left);
      box->ascent = metrics->ascent;
    }
    return answer(a, b);
  };
  if (marker.text && hx < marker.width) return hit(lineStart, marker.textStart, 0, marker.width);
  const int origin = marker.text ? marker.width : 0;
  bool found = false;
  std::uint32_t a = 0, n = 0;
  int left = 0, right = 0;
  st = WalkChars(h, dev, ctx, marker.textStart, lineEnd, DeviceCharset(dev), nullptr,
                 [&](std::uint32_t pos, std::uint32_t len, int l, int r) {
                   if (origin + r > hx) {
                     found = true;
                     a = pos;
                     n = len;
                     left = origin + l;
                     right = origin + r;
                   }
                   return found;
                 });
  if (IsFailure(st)) return st;
  if (!found) return answer(lineEnd, lineEnd);
  return hit(a, a + n, left, right);
}

namespace {

// Hands the text of [from, to) to take() window by window; stops at the end
// of the text, at a failure of the handler or of take(). The failure, or 0.
template <class Take>
StatusCode ForEachTextPiece(EngineObject* h, std::uint32_t from, std::uint32_t to, Take take) {
  for (std::uint32_t p = from; p < to;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t len = std::min<std::uint32_t>(to - p, kMaxPiece);
    const StatusCode st = Ops(h).getText(h, p, &text, &len);
    if (IsFailure(st)) return st;
    if (text == nullptr || len == 0) break;
    len = std::min(len, to - p);
    const StatusCode taken = take(text, len);
    if (IsFailure(taken)) return taken;
    p += len;
  }
  return kOk;
}

}  // namespace

StatusCode DocHandler_CopyRange(EngineObject* h, EngineObject* dev, std::uint32_t from,
                                std::uint32_t to) noexcept {
  if (from > to) std::swap(from, to);
  if (from == to) return kOk;
  const DeviceOps& d = DeviceOf(dev);
  StatusCode result = d.clipboardBegin(dev, to - from);
  if (!IsFailure(result)) {
    result = ForEachTextPiece(h, from, to, [&](const std::uint8_t* text, std::uint32_t len) {
      return d.clipboardAppend(dev, text, len);
    });
  }
  const StatusCode commit = d.clipboardCommit(dev);
  return IsFailure(commit) ? commit : result;
}

StatusCode DocHandler_ReadRange(EngineObject* h, std::uint32_t from, std::uint32_t to,
                                std::uint8_t* buffer, std::uint32_t capacity,
                                std::uint32_t* copied) noexcept {
  if (from > to) return kBadArgument;
  if (buffer == nullptr && capacity != 0) return kNullOutPointer;
  const std::uint32_t want = std::min(to - from, capacity);
  std::uint32_t done = 0;
  const StatusCode result =
      ForEachTextPiece(h, from, from + want, [&](const std::uint8_t* text, std::uint32_t len) {
        std::memcpy(buffer + done, text, len);
        done += len;
        return kOk;
      });
  if (copied) *copied = done;
  return result;
}

StatusCode DocHandler_MeasureLine(EngineObject* h, EngineObject* dev, DeviceContext ctx,
                                  std::uint32_t start, std::uint32_t end, std::uint32_t* next,
                                  std::int16_t* fullWidth, std::int16_t* widestWord) noexcept {
  if (next == nullptr || fullWidth == nullptr || widestWord == nullptr) return kNullOutPointer;
  const CharFormat format = ReadFormat(h, dev, start);
  int indents = 0, m = 0;
  for (std::uint8_t v :
       {format.leftIndent, format.leftIndent2, format.rightIndent, format.rightIndent2})
    if (v && ToPixels(dev, ctx, v, &m)) indents += m;
  if (format.shiftIndent > 0 &&
      ToPixels(dev, ctx, static_cast<std::uint32_t>(format.shiftIndent), &m))
    indents += m;
  if (format.shiftIndent < 0 &&
      ToPixels(dev, ctx, static_cast<std::uint32_t>(-int{format.shiftIndent}), &m))
    indents -= m;
  if (format.formatFlags & (DocFormat::MarkerParagraph | DocFormat::BlockIndent))
    indents += TwelvePoints(dev, ctx);
  std::int16_t usable = 0;
  if (IsFailure(DeviceOf(dev).getProperty(dev, DeviceInfo::UsableWidth, &usable))) usable = 0;
  const int wordCap = std::max(usable - 2, 98);

  PieceReader reader;
  std::int64_t full = 0;
  int word = 0, widest = 0;
  auto endWord = [&] {
    if (word > 100) word = std::min(word, wordCap);
    widest = std::max(widest, word);
    word = 0;
  };
  std::uint32_t p = start;
  while (p < end) {
    RunStyle s;
    ReadStyle(h, dev, p, s);
    StatusCode st = DeviceOf(dev).selectFont(dev, ctx, &s.font, nullptr, nullptr, nullptr);
    if (IsFailure(st)) return st;
    const std::uint32_t limit = std::min<std::uint32_t>(std::min(s.runEnd, end) - p, kMaxPiece);
    const std::uint8_t* text = nullptr;
    std::uint32_t len = 0;
    std::uint8_t brk = 0;
    st = reader.Read(h, p, limit, &text, &len, &brk);
    if (st == kNoMore) break;
    if (IsFailure(st)) return st;
    std::uint32_t i = 0;
    while (i < len) {
      std::uint32_t j = i;
      const bool blank = IsBlank(text[i]);
      while (j < len && IsBlank(text[j]) == blank)
        ++j;
      std::int16_t w = 0;
      if (IsFailure(DeviceOf(dev).measureWidth(dev, ctx, text + i, j - i, &w))) w = 0;
      full += w;
      if (blank)
        endWord();
      else
        word += w;
      i = j;
    }
    p += len;
    if (len == 0) {  // at the break: step over it (CR LF as one)
      p = SkipBlanks(h, p, end);
      break;
    }
  }
  endWord();
  *next = p;
  *fullWidth = ClampWidth(std::max<std::int64_t>(full + indents, 0));
  *widestWord = ClampWidth(std::max(widest + indents, 0));
  return kOk;
}

StatusCode DocHandler_MeasureRun(EngineObject* h, const DocLinkVisibility* q) noexcept {
  if (q == nullptr || q->metrics == nullptr) return kNullOutPointer;
  const std::uint32_t a = std::max(q->rangeStart, q->lineStart);
  const std::uint32_t b = std::min(q->rangeEnd, q->lineEnd);
  if (a >= b) return kNo;
  if (q->y + q->metrics->top >= q->bottomLimit) return kNo;
  std::int16_t x1 = 0, x2 = 0;
  const StatusCode st = Ops(h).positionToX(h, q->device, q->ctx, q->lineStart, a, b, &x1, &x2);
  if (IsFailure(st)) return st;
  return q->x + q->metrics->indent + x1 < q->rightLimit ? kYes : kNo;
}
