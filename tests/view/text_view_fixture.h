// Shared harness of the text view tests: the plain-text handler behind a
// table with test hooks (sections at fixed offsets, line metrics changed by
// line start, injected answers), the recording fake device, and the oracle
// that compares a view with a fresh layout and paint at the same position.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/formats/flow_text.h"
#include "engine/formats/text_doc.h"
#include "engine/view/text_view_internal.h"
#include "tests/support/fake_device.h"

// A link of the hooked handler: its range, target and class (slot 23).
struct HookLink {
  std::uint32_t start, end, target;
  StatusCode cls;
};

struct HandlerHooks {
  std::vector<std::uint32_t> sectionStarts;  // empty: one section
  std::uint16_t policy = 0;
  std::function<void(std::uint32_t start, LineMetrics*)> adjust;
  StatusCode sectionInfoFailure = kOk;
  StatusCode passStep = kOk;  // non-zero: slot 26 answers this
  std::uint32_t sectionFlags = 0;
  std::uint32_t stallAt = 0xFFFFFFFFu;  // slot 6 makes no progress from here
  bool haveStart = false;
  std::uint8_t start[16] = {};
  std::vector<std::pair<std::uint16_t, void*>> controls;  // codes and records seen
  std::vector<HookLink> links;                            // sorted, not overlapping
  // Select lists (document controls 26-29): the items of every list, and the
  // class of the chosen option's link (its target is 1000 + the option).
  std::vector<const char*> listItems;  // entry 0 is not an item
  StatusCode optionClass = kOk;
  std::vector<std::uint32_t> settled;  // control 28: the options recorded
};

inline HandlerHooks& Hooks() {
  static HandlerHooks hooks;
  return hooks;
}

namespace hooked {

inline const DocHandlerOps& Base() {
  return OpsOf<DocHandlerOps>(&TextDocModule);
}

inline std::uint32_t Length(EngineObject* h) {
  std::uint32_t n = 0;
  return Base().getTextLength(h, &n) == kOk ? n : 0;
}
inline std::uint16_t Count() {
  return static_cast<std::uint16_t>(Hooks().sectionStarts.empty() ? 1
                                                                  : Hooks().sectionStarts.size());
}
inline void Range(EngineObject* h, std::uint16_t i, std::uint32_t* s, std::uint32_t* e) {
  const auto& st = Hooks().sectionStarts;
  *s = st.empty() ? 0 : st[i];
  *e = i + 1 < Count() ? st[i + 1] : Length(h);
}

inline StatusCode SectionInfo(EngineObject*, std::uint16_t* policy, std::uint16_t* count) noexcept {
  if (Hooks().sectionInfoFailure) return Hooks().sectionInfoFailure;
  if (policy) *policy = Hooks().policy;
  if (count) *count = Count();
  return kOk;
}
inline StatusCode SectionRange(EngineObject* h, std::int16_t section, std::uint32_t* start,
                               std::uint32_t* end) noexcept {
  if (section < 0 || section >= Count()) return kNoMore;
  std::uint32_t s = 0, e = 0;
  Range(h, static_cast<std::uint16_t>(section), &s, &e);
  if (start) *start = s;
  if (end) *end = e;
  return kOk;
}
inline StatusCode FindSection(EngineObject* h, std::uint32_t position, std::int16_t* section,
                              std::uint32_t* start, std::uint32_t* end) noexcept {
  if (position >= Length(h)) return kNoMore;
  for (std::uint16_t i = 0; i < Count(); ++i) {
    std::uint32_t s = 0, e = 0;
    Range(h, i, &s, &e);
    if (position < e || i + 1 == Count()) {
      if (section) *section = static_cast<std::int16_t>(i);
      if (start) *start = s;
      if (end) *end = e;
      return kOk;
    }
  }
  return kNoMore;
}
inline StatusCode SectionFlags(EngineObject*, std::int16_t section, std::uint32_t* flags) noexcept {
  if (section < 0 || section >= Count()) return kNoMore;
  *flags = Hooks().sectionFlags;
  return kOk;
}
inline StatusCode LayoutLine(EngineObject* h, EngineObject* device, DeviceContext ctx,
                             std::uint32_t start, std::uint32_t end, std::int16_t width,
                             std::uint32_t* next, LineMetrics* m) noexcept {
  const StatusCode s = Base().layoutLine(h, device, ctx, start, end, width, next, m);
  if (s == kOk && next != nullptr) {
    if (Hooks().adjust) Hooks().adjust(start, m);
    if (start >= Hooks().stallAt) *next = start;
  }
  return s;
}
inline StatusCode PassStep(EngineObject* h, EngineObject* device, DeviceContext ctx,
                           std::uint16_t sub, std::uint16_t section, std::uint32_t* word) noexcept {
  if (Hooks().passStep) return Hooks().passStep;
  return Base().layoutPassStep(h, device, ctx, sub, section, word);
}
inline StatusCode LinkAt(EngineObject*, std::uint32_t position, std::uint32_t* start,
                         std::uint32_t* end, std::uint32_t* target) noexcept {
  for (const HookLink& l : Hooks().links)
    if (position >= l.start && position < l.end) {
      *start = l.start;
      *end = l.end;
      *target = l.target;
      return l.cls;
    }
  return kNotFound;
}

// Link walking over the hooked links inside the window (controls 13-18).
inline StatusCode WalkLinks(std::uint16_t code, LinkRange* r) {
  std::vector<HookLink> in;
  for (const HookLink& l : Hooks().links)
    if (l.start >= r->windowStart && l.start < r->windowEnd) in.push_back(l);
  auto at = [&]() {
    for (std::size_t i = 0; i < in.size(); ++i)
      if (in[i].start == r->linkStart && in[i].end == r->linkEnd) return static_cast<int>(i);
    return -1;
  };
  auto take = [&](int i) {
    if (i < 0 || i >= static_cast<int>(in.size())) return kNoMore;
    r->linkStart = in[i].start;
    r->linkEnd = in[i].end;
    return kOk;
  };
  switch (code) {
    case 13:
    case 18:
      return kOk;
    case 14:
      return take(0);
    case 17:
      return take(static_cast<int>(in.size()) - 1);
    case 15:
      return at() < 0 ? kNoMore : take(at() - 1);
    case 16:
      return at() < 0 ? kNoMore : take(at() + 1);
    default:
      return kNotSupported;
  }
}

inline StatusCode Control(EngineObject* h, std::uint16_t code, std::uint32_t value,
                          void* record) noexcept {
  Hooks().controls.emplace_back(code, record);
  if (code >= DocControl::LinkWalkFirst && code <= DocControl::LinkWalkLast)
    return WalkLinks(code, static_cast<LinkRange*>(record));
  if (code == DocControl::RangeVisible)
    return DocHandler_MeasureRun(h, static_cast<const DocLinkVisibility*>(record));
  if (code == DocControl::SelectListFirst) {  // 26: fill the list
    if (Hooks().listItems.empty()) return kDocMalformed;
    auto* ctl = static_cast<SelectCtl*>(record);
    ctl->flags = SelectCtlFlag::Flat;
    ctl->itemCount = static_cast<std::uint16_t>(Hooks().listItems.size() - 1);
    ctl->items = Hooks().listItems.data();
    ctl->chosen = 1;
    return kOk;
  }
  if (code == DocControl::SelectListFirst + 1) return kOk;  // 27: nothing was allocated
  if (code == DocControl::SelectListFirst + 2) {            // 28
    Hooks().settled.push_back(static_cast<SelectCtl*>(record)->chosen);
    return kOk;
  }
  if (code == DocControl::SelectListFirst + 3) {  // 29
    auto* option = static_cast<std::uint32_t*>(record);
    *option += 1000;
    return Hooks().optionClass;
  }
  if (code == DocControl::StartPosition) {
    if (!Hooks().haveStart) return kNotSupported;
    std::memcpy(record, Hooks().start, 16);
    return kYes;
  }
  return Base().control(h, code, value, record);
}

inline const DocHandlerOps* Table() {
  static const DocHandlerOps table = [] {
    DocHandlerOps t = Base();
    t.getSectionInfo = SectionInfo;
    t.getSectionRange = SectionRange;
    t.findSection = FindSection;
    t.getSectionFlags = SectionFlags;
    t.layoutLine = LayoutLine;
    t.layoutPassStep = PassStep;
    t.control = Control;
    t.getLinkAt = LinkAt;
    return t;
  }();
  return &table;
}

}  // namespace hooked

// A plain-text handler over text (kept alive by the caller) with the hooks.
inline EngineObject* MakeHookedHandler(const std::string& text) {
  EngineObject* h = nullptr;
  if (TextDoc_Create(&TextDocModule, &h) != kOk) return nullptr;
  if (TextDoc_Command(h, DocCommand::AttachText, const_cast<char*>(text.data()),
                      static_cast<std::uint32_t>(text.size())) != kOk) {
    (void)OpsOf<DocHandlerOps>(h).destroy(h);  // destroy always answers 0
    return nullptr;
  }
  h->ops = hooked::Table();
  return h;
}

inline const TextViewOps& ViewOps() {
  return OpsOf<TextViewOps>(&TextViewModule);
}

// Lines of words of varying lengths, so that some wrap.
inline std::string SampleText(int lines, unsigned seed = 1) {
  std::string out;
  unsigned x = seed;
  for (int i = 0; i < lines; ++i) {
    x = x * 1103515245u + 12345u;
    const int words = 1 + static_cast<int>((x >> 16) % 9);
    out += "l" + std::to_string(i);
    for (int w = 0; w < words; ++w) {
      x = x * 1103515245u + 12345u;
      out += ' ';
      out.append(1 + (x >> 16) % 7, static_cast<char>('a' + (x >> 8) % 26));
    }
    out += '\n';
  }
  return out;
}

struct TableShot {
  std::uint16_t count = 0;
  std::int16_t extraTop = 0, bottom = 0;
  std::vector<std::uint32_t> starts;
  std::vector<std::int16_t> metrics;
  bool operator==(const TableShot&) const = default;
};

inline TableShot Shot(const TextView& v) {
  TableShot s;
  s.count = v.table.count;
  s.extraTop = v.table.extraTop;
  s.bottom = v.table.bottom;
  for (int i = 0; i <= v.table.count; ++i)
    s.starts.push_back(v.table.lines[i].start);
  for (int i = 0; i < v.table.count; ++i) {
    const LineMetrics& m = v.table.lines[i].metrics;
    for (std::int16_t f : {m.width, m.height, m.indent, m.ascent, m.top, m.extra})
      s.metrics.push_back(f);
  }
  return s;
}

inline std::string Describe(const TableShot& s) {
  std::string out = "count " + std::to_string(s.count) + " top " + std::to_string(s.extraTop) +
                    " bottom " + std::to_string(s.bottom) + " starts";
  for (auto st : s.starts)
    out += " " + std::to_string(st);
  return out;
}

class TextViewFixture : public testing::Test {
 protected:
  void SetUp() override { Hooks() = HandlerHooks{}; }
  void TearDown() override { Close(); }

  void Open(std::string text, std::int16_t w = 120, std::int16_t h = 100,
            std::uint16_t options = TextViewOption::CopyOnce, EngineObject* db = nullptr) {
    text_ = std::move(text);
    width_ = w;
    height_ = h;
    options_ = options;
    device_ = FakeDevice_Open(w, h);
    ASSERT_NE(device_, nullptr);
    handler_ = MakeHookedHandler(text_);
    ASSERT_NE(handler_, nullptr);
    view_ = MakeView(device_, db);
    ASSERT_NE(view_, nullptr);
  }

  EngineObject* MakeView(EngineObject* device, EngineObject* db) {
    EngineObject* view = nullptr;
    if (ViewOps().create(&TextViewModule, &view) != kOk) return nullptr;
    EXPECT_EQ(ViewOps().setDevice(view, device), kOk);
    EXPECT_EQ(ViewOps().setOptions(view, options_), kOk);
    EXPECT_EQ(ViewOps().attachDocument(view, handler_, db), kOk);
    EXPECT_EQ(ViewOps().setViewport(view, 0, width_, height_), kOk);
    return view;
  }

  void Close() {
    if (view_) {
      EXPECT_EQ(ViewOps().attachDocument(view_, nullptr, nullptr), kOk);
      EXPECT_EQ(ViewOps().destroy(view_), kOk);
    }
    if (handler_) {
      EXPECT_EQ(OpsOf<DocHandlerOps>(handler_).destroy(handler_), kOk);
    }
    if (device_) FakeDevice_Close(device_);
    view_ = handler_ = device_ = nullptr;
  }

  StatusCode Paint() { return ViewOps().paint(view_, nullptr, 0, 0, width_, height_); }
  StatusCode Nav(std::uint16_t code, std::uint32_t arg = 0) {
    return ViewOps().navigate(view_, code, arg);
  }
  void PaginateAll() {
    for (int guard = 0; guard < 100000; ++guard) {
      const StatusCode s = Nav(TextViewNav::PaginationSlice);
      if (s != kViewMorePagination) {
        ASSERT_EQ(s, kOk);
        break;
      }
    }
    ASSERT_TRUE(V().flags & TextViewFlag::Paginated);
  }
  TextView& V() { return TextViewOf(view_); }
  FakeDevice& F() { return FakeDevice_Of(device_); }

  // The window picture rows [0, textHeight).
  std::vector<std::uint32_t> Picture(FakeDevice& f, int rows) {
    const FakeSurface& s = f.windowSurface;
    return std::vector<std::uint32_t>(s.rgb.begin(),
                                      s.rgb.begin() + std::min(rows, s.height) * s.width);
  }

  // Oracle: a fresh view on a fresh device, laid out at the same first line
  // and extra top and painted, gives the same line table and picture.
  void ExpectMatchesFreshLayout(const std::string& what) {
    const TextView& a = V();
    EngineObject* device = FakeDevice_Open(width_, height_);
    EngineObject* view = MakeView(device, nullptr);
    TextView& b = TextViewOf(view);
    b.hScroll = a.hScroll;
    std::uint32_t first = a.table.lines[0].start;
    {
      TextViewDrawScope draw(device, nullptr);
      ASSERT_EQ(TextView_EnsureSectionOf(b, &first), kOk) << what;
      b.contentWidth = a.contentWidth;
      b.hScroll = a.hScroll;
      b.textHeight = a.textHeight;  // a shown horizontal bar takes its room
      ASSERT_EQ(TextView_Relayout(b, draw.ctx(), a.table.extraTop, first), kOk) << what;
      ASSERT_EQ(draw.Finish(kOk), kOk);
    }
    // The marks are offsets: the fresh view draws the same ones.
    b.selAnchor = a.selAnchor;
    b.selCaret = a.selCaret;
    b.foundStart = a.foundStart;
    b.foundEnd = a.foundEnd;
    ASSERT_EQ(ViewOps().paint(view, nullptr, 0, 0, width_, height_), kOk) << what;
    const TableShot want = Shot(b), got = Shot(a);
    EXPECT_EQ(got, want) << what << "\n got  " << Describe(got) << "\n want " << Describe(want);
    EXPECT_TRUE(Picture(F(), a.textHeight) == Picture(FakeDevice_Of(device), b.textHeight))
        << what << ": the picture differs from a fresh paint";
    EXPECT_EQ(ViewOps().attachDocument(view, nullptr, nullptr), kOk);
    EXPECT_EQ(ViewOps().destroy(view), kOk);
    FakeDevice_Close(device);
  }

  // Every BeginDraw of the log has its EndDraw.
  void ExpectBalancedDrawing() {
    int depth = 0;
    for (const FakeCall& c : F().log) {
      if (c.slot == 5 && c.result == kOk) ++depth;
      if (c.slot == 6) --depth;
      ASSERT_GE(depth, 0);
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(F().depth, 0);
  }

  std::string text_;
  std::int16_t width_ = 0, height_ = 0;
  std::uint16_t options_ = 0;
  EngineObject* device_ = nullptr;
  EngineObject* handler_ = nullptr;
  EngineObject* view_ = nullptr;
};
