// The page cache: the host flips through the current section a page (a
// fixed height of text) at a time; the layouts of up to 32 recently seen
// pages are kept in a pool of 1024 line records.
//
// Page k lies one page height below page k - 1: a line cut at the bottom of
// a page is carried over as the next page's first line with a negative extra
// top. Moves that run past the section's first or last page are counted in
// a pending delta and need no layout.
#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/view/text_view_internal.h"

constexpr std::uint16_t kPageEntries = 32;
constexpr std::uint16_t kPagePool = 1024;
constexpr std::uint16_t kNoRun = 0xFFFF;
constexpr std::int32_t kMaxPageMove = 1000;

struct PageEntry {
  std::uint32_t stamp;
  LineRecord* run;  // null: unused
  std::uint32_t start;
  std::uint32_t end;  // offset just past the page's last line
  std::uint16_t count;
  std::int16_t extraTop;
  std::int16_t bottom;
  // Where the page below begins, worked out when the page was stored.
  std::uint32_t nextStart;
  std::int16_t nextTop;
};

struct PageCache {
  std::int16_t pageWidth;
  std::int16_t pageHeight;
  std::uint16_t flags;  // bit 0: the current page's layout is valid
  std::int32_t page;
  LineTable table;  // the current page
  std::uint32_t topY;
  std::int32_t pending;
  std::uint32_t useCounter;
  PageEntry* entries;
  std::uint16_t firstFree;
  LineRecord* pool;
  std::int32_t memoPage;
  std::uint32_t memoStart, memoLength, nextStart, nextLength;
  std::int16_t memoHeight;
  std::uint32_t rangeStart, rangeEnd;
};

namespace {

constexpr std::uint16_t kLayoutValid = 1;
constexpr std::uint16_t kEdgeBegins = 1;
constexpr std::uint16_t kEdgeEnds = 2;

std::int16_t Clamp16(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, INT16_MIN, INT16_MAX));
}

// Free runs are chained through their first record: reserved0 holds the
// index of the next free run (-1: last), reserved1 the run's length.
std::int16_t& RunNext(LineRecord& r) {
  return r.metrics.reserved0;
}
std::int16_t& RunLength(LineRecord& r) {
  return r.metrics.reserved1;
}

void ResetPool(PageCache& c) {
  for (std::uint16_t i = 0; i < kPageEntries; ++i)
    c.entries[i] = PageEntry{};
  c.firstFree = 0;
  RunNext(c.pool[0]) = -1;
  RunLength(c.pool[0]) = static_cast<std::int16_t>(kPagePool);
}

// Returns a run to the free list in index order, merged with free
// neighbours before and after it.
void FreeRun(PageCache& c, std::uint16_t at, std::uint16_t length) {
  std::int32_t prev = -1, next = c.firstFree == kNoRun ? -1 : c.firstFree;
  while (next != -1 && next < at) {
    prev = next;
    next = RunNext(c.pool[next]);
  }
  RunNext(c.pool[at]) = static_cast<std::int16_t>(next);
  RunLength(c.pool[at]) = static_cast<std::int16_t>(length);
  if (next != -1 && at + length == next) {
    RunLength(c.pool[at]) = static_cast<std::int16_t>(length + RunLength(c.pool[next]));
    RunNext(c.pool[at]) = RunNext(c.pool[next]);
  }
  if (prev == -1) {
    c.firstFree = at;
  } else {
    RunNext(c.pool[prev]) = static_cast<std::int16_t>(at);
    if (prev + RunLength(c.pool[prev]) == at) {
      RunLength(c.pool[prev]) =
          static_cast<std::int16_t>(RunLength(c.pool[prev]) + RunLength(c.pool[at]));
      RunNext(c.pool[prev]) = RunNext(c.pool[at]);
    }
  }
}

void Release(PageCache& c, PageEntry& e) {
  if (e.run != nullptr)
    FreeRun(c, static_cast<std::uint16_t>(e.run - c.pool), static_cast<std::uint16_t>(e.count + 1));
  e = PageEntry{};
}

// First fit in index order; an exact fit is unlinked, a larger run gives its
// front part.
LineRecord* TakeRun(PageCache& c, std::uint16_t length) {
  std::int32_t prev = -1, at = c.firstFree == kNoRun ? -1 : c.firstFree;
  while (at != -1) {
    LineRecord& r = c.pool[at];
    const std::int32_t have = RunLength(r), next = RunNext(r);
    if (have >= length) {
      std::int32_t replacement = next;
      if (have > length) {
        replacement = at + length;
        RunNext(c.pool[replacement]) = static_cast<std::int16_t>(next);
        RunLength(c.pool[replacement]) = static_cast<std::int16_t>(have - length);
      }
      if (prev == -1)
        c.firstFree = replacement == -1 ? kNoRun : static_cast<std::uint16_t>(replacement);
      else
        RunNext(c.pool[prev]) = static_cast<std::int16_t>(replacement);
      return &c.pool[at];
    }
    prev = at;
    at = next;
  }
  return nullptr;
}

PageEntry* Oldest(PageCache& c) {
  PageEntry* oldest = nullptr;
  for (std::uint16_t i = 0; i < kPageEntries; ++i) {
    PageEntry& e = c.entries[i];
    if (e.run != nullptr && (oldest == nullptr || e.stamp < oldest->stamp)) oldest = &e;
  }
  return oldest;
}

std::uint32_t Stamp(PageCache& c) {
  c.useCounter = c.useCounter == 0xFFFFFFFFu ? 1 : c.useCounter + 1;
  return c.useCounter;
}

// Where the page below the current one begins: the line cut by the page's
// bottom, or the line after the page.
void NextOf(const PageCache& c, std::uint32_t* start, std::int16_t* top) {
  const LineTable& t = c.table;
  std::int32_t y = t.extraTop;
  std::int16_t after = 0;
  for (std::uint16_t i = 0; i < t.count; ++i) {
    const LineMetrics& m = t.lines[i].metrics;
    y -= std::min(after, m.top);
    const std::int32_t bottom = y + m.top + m.height + m.extra;
    if (bottom > c.pageHeight) {
      *start = t.lines[i].start;
      *top = Clamp16(y - c.pageHeight);
      return;
    }
    y = bottom;
    after = m.extra;
  }
  *start = t.lines[t.count].start;
  *top = Clamp16(std::min<std::int32_t>(0, y - c.pageHeight));
}

// Stores the current page; with all entries in use or the pool full, the
// least recently used pages give way. A page that cannot be stored is not.
void Store(PageCache& c) {
  const LineTable& t = c.table;
  const std::uint16_t length = static_cast<std::uint16_t>(t.count + 1);
  if (length > kPagePool) return;
  PageEntry* slot = nullptr;
  for (std::uint16_t i = 0; i < kPageEntries && slot == nullptr; ++i)
    if (c.entries[i].run == nullptr) slot = &c.entries[i];
  if (slot == nullptr) {
    slot = Oldest(c);
    Release(c, *slot);
  }
  LineRecord* run = nullptr;
  while ((run = TakeRun(c, length)) == nullptr) {
    PageEntry* oldest = Oldest(c);
    if (oldest == nullptr) return;
    Release(c, *oldest);
  }
  std::memcpy(run, t.lines, sizeof(LineRecord) * length);
  slot->run = run;
  slot->start = t.lines[0].start;
  slot->end = t.lines[t.count].start;
  slot->count = t.count;
  slot->extraTop = t.extraTop;
  slot->bottom = t.bottom;
  NextOf(c, &slot->nextStart, &slot->nextTop);
  slot->stamp = Stamp(c);
}

bool Load(PageCache& c, PageEntry& e) {
  if (e.count + 1u > c.table.capacity) return false;
  std::memcpy(c.table.lines, e.run, sizeof(LineRecord) * (e.count + 1u));
  c.table.count = e.count;
  c.table.extraTop = e.extraTop;
  c.table.bottom = e.bottom;
  e.stamp = Stamp(c);
  return true;
}

StatusCode LayOut(TextView& v, PageCache& c, std::uint32_t start, std::int32_t extraTop) {
  if (v.handler == nullptr || v.device == nullptr) return kViewNoContent;
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  LineTable& t = c.table;
  t.extraTop = Clamp16(extraTop);
  std::uint16_t n = 0;
  std::uint32_t next = start;
  std::int32_t used = 0;
  t.lines[0].start = start;
  const StatusCode s =
      TextView_FormatLineRun(v, draw.ctx(), t.lines, 0, static_cast<std::uint16_t>(t.capacity - 1),
                             start, v.sectionEnd, c.pageHeight - t.extraTop, 0, &n, &next, &used);
  t.count = n;
  t.bottom = Clamp16(t.extraTop + used);
  return draw.Finish(s);
}

bool BeginsSection(const TextView& v, const PageCache& c) {
  return c.table.extraTop >= 0 && c.table.lines[0].start <= v.sectionStart;
}
bool EndsSection(const TextView& v, const PageCache& c) {
  return c.table.lines[c.table.count].start >= v.sectionEnd && c.table.bottom <= c.pageHeight;
}

StatusCode StepForward(TextView& v, PageCache& c) {
  std::uint32_t start = 0;
  std::int16_t top = 0;
  NextOf(c, &start, &top);
  const std::int16_t after = c.table.count > 0 && c.table.bottom <= c.pageHeight
                                 ? c.table.lines[c.table.count - 1].metrics.extra
                                 : 0;
  for (std::uint16_t i = 0; i < kPageEntries; ++i) {
    PageEntry& e = c.entries[i];
    if (e.run != nullptr && e.start == start && e.extraTop >= top - after && e.extraTop <= top &&
        Load(c, e))
      return kOk;
  }
  const StatusCode s = LayOut(v, c, start, top);
  if (s == kOk) Store(c);
  return s;
}

StatusCode StepBack(TextView& v, PageCache& c) {
  const std::uint32_t first = c.table.lines[0].start;
  const std::int16_t top = c.table.extraTop;
  const std::int16_t before = top < 0 ? 0 : c.table.lines[0].metrics.top;
  for (std::uint16_t i = 0; i < kPageEntries; ++i) {
    PageEntry& e = c.entries[i];
    if (e.run != nullptr && e.nextStart == first && e.nextTop >= top - before && e.nextTop <= top &&
        Load(c, e))
      return kOk;
  }
  std::uint32_t start = first;
  std::int32_t extraTop = 0;
  StatusCode s;
  {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    s = draw.Finish(
        TextView_StartAbove(v, draw.ctx(), first, c.pageHeight + top, &start, &extraTop));
  }
  if (s != kOk) return s;
  if (extraTop > 0) extraTop = 0;  // the section start begins this page
  s = LayOut(v, c, start, extraTop);
  if (s == kOk) Store(c);
  return s;
}

// Shows the current page in the view's table (as far as it holds) and
// draws it with the host's context.
StatusCode DrawPage(TextView& v, PageCache& c, DeviceContext ctx) {
  if (v.table.lines == nullptr) return kViewNotLaidOut;
  const std::uint16_t n =
      std::min<std::uint16_t>(c.table.count, static_cast<std::uint16_t>(v.table.capacity - 1));
  std::memcpy(v.table.lines, c.table.lines, sizeof(LineRecord) * (n + 1u));
  v.table.lines[n].start = c.table.lines[n].start;
  v.table.count = n;
  v.table.extraTop = c.table.extraTop;
  v.table.bottom = n == c.table.count ? c.table.bottom : v.textHeight;
  v.topOffset = v.table.lines[0].start;
  TextViewDrawScope draw(v.device, ctx);
  if (IsFailure(draw.status())) return draw.status();
  const StatusCode s = TextView_DrawLines(v, draw.ctx(), kDrawClear | kDrawSelection, 0,
                                          v.table.count, v.table.extraTop, 0, v.textHeight);
  return draw.Finish(s);
}

StatusCode MoveToPage(TextView& v, PageCache& c, std::int32_t target, DeviceContext ctx,
                      bool draw) {
  const std::int64_t delta = std::int64_t{target} - c.page;
  if (delta > kMaxPageMove || delta < -kMaxPageMove) return kFailed;
  std::int32_t n = static_cast<std::int32_t>(delta < 0 ? -delta : delta);
  StatusCode s = kOk;
  if (delta < 0) {
    // A pending move past the last page is taken back first.
    if (c.pending != 0) {
      if (c.pending < 0 || n < c.pending) {
        c.page -= n;
        c.pending -= n;
        return kOk;
      }
      c.page -= c.pending;
      n -= c.pending;
      c.pending = 0;
    }
    for (; n > 0 && s == kOk; --n) {
      if (BeginsSection(v, c)) {
        c.page -= n;
        c.pending -= n;
        return kOk;
      }
      s = StepBack(v, c);
      if (s == kOk) --c.page;
    }
  } else if (delta > 0) {
    if (c.pending != 0) {
      if (c.pending > 0 || n < -c.pending) {
        c.page += n;
        c.pending += n;
        return kOk;
      }
      c.page -= c.pending;
      n += c.pending;
      c.pending = 0;
    }
    for (; n > 0 && s == kOk; --n) {
      if (EndsSection(v, c)) {
        c.page += n;
        c.pending += n;
        return kOk;
      }
      s = StepForward(v, c);
      if (s == kOk) ++c.page;
    }
  }
  if (s != kOk) return s;
  return draw ? DrawPage(v, c, ctx) : kOk;
}

std::uint16_t Edges(const TextView& v, const PageCache& c) {
  return static_cast<std::uint16_t>((BeginsSection(v, c) ? kEdgeBegins : 0) |
                                    (EndsSection(v, c) ? kEdgeEnds : 0));
}

// The first page: laid out from the view's first line when not yet valid.
StatusCode EnsureValid(TextView& v, PageCache& c) {
  if (c.flags & kLayoutValid) return kOk;
  const StatusCode s = LayOut(v, c, c.table.lines[0].start, c.table.extraTop);
  if (s != kOk) return s;
  Store(c);
  c.flags |= kLayoutValid;
  return kOk;
}

PageCache* CacheOf(EngineObject* view) {
  return TextViewOf(view).pageCache;
}

StatusCode SizeTable(LineTable& t, std::int16_t height) {
  const std::uint16_t capacity =
      static_cast<std::uint16_t>((std::max<std::int16_t>(height, 0) + 4) / 5 + 1);
  if (t.lines != nullptr && t.capacity == capacity) return kOk;
  LineRecord* lines = nullptr;
  const StatusCode s = Engine_AllocArray(capacity, &lines);
  if (s != kOk) return s;
  Engine_Free(t.lines);
  Engine_Free(t.scratch);
  t.scratch = nullptr;
  std::memset(lines, 0, sizeof(LineRecord) * capacity);
  t.lines = lines;
  t.capacity = capacity;
  if (height > 199 && Engine_AllocArray(capacity, &t.scratch) != kOk) t.scratch = nullptr;
  return kOk;
}

}  // namespace

void PageCache_Free(TextView& v) noexcept {
  PageCache* c = v.pageCache;
  if (c == nullptr) return;
  Engine_Free(c->table.lines);
  Engine_Free(c->table.scratch);
  Engine_Free(c->entries);
  Engine_Free(c->pool);
  Engine_Free(c);
  v.pageCache = nullptr;
}

StatusCode PageCache_Reset(EngineObject* view, std::int16_t width, std::int16_t height,
                           std::uint16_t* edges) noexcept {
  TextView& v = TextViewOf(view);
  if (height <= 0) return kBadArgument;
  if (v.pageCache == nullptr) {
    PageCache* c = nullptr;
    StatusCode s = Engine_AllocArray(1, &c);
    if (s != kOk) return s;
    *c = PageCache{};
    if ((s = Engine_AllocArray(kPageEntries, &c->entries)) != kOk ||
        (s = Engine_AllocArray(kPagePool, &c->pool)) != kOk) {
      Engine_Free(c->entries);
      Engine_Free(c);
      return s;
    }
    std::memset(c->pool, 0, sizeof(LineRecord) * kPagePool);
    v.pageCache = c;
  }
  PageCache& c = *v.pageCache;
  StatusCode s = SizeTable(c.table, height);
  if (s != kOk) return s;
  if (!v.hasSection) {
    std::uint32_t offset = v.topOffset;
    if (TextView_EnsureSectionOf(v, &offset) != kOk) {
      v.topOffset = 0;
      s = TextView_GoToSection(v, 0);
      if (IsFailure(s)) return s;
    } else {
      TextView_ResetTable(v, offset);
    }
  }
  c.pageWidth = width;
  c.pageHeight = height;
  c.flags = 0;
  c.page = 0;
  c.pending = 0;
  c.table.count = 0;
  c.table.lines[0] = LineRecord{};
  c.table.lines[0].start = std::clamp(TextView_FirstOffset(v), v.sectionStart, v.sectionEnd);
  c.table.extraTop = v.table.lines != nullptr ? std::min<std::int16_t>(v.table.extraTop, 0) : 0;
  c.table.bottom = 0;
  c.topY = v.topY;
  ResetPool(c);
  c.memoPage = -1;
  c.rangeStart = c.rangeEnd = 0;
  if (edges != nullptr) *edges = BeginsSection(v, c) ? kEdgeBegins : 0;
  return kOk;
}

StatusCode PageCache_SetPageNumber(EngineObject* view, std::int32_t page) noexcept {
  PageCache* c = CacheOf(view);
  if (c == nullptr) return kFailed;
  c->page = page;
  return kOk;
}

StatusCode PageCache_GetPageNumber(EngineObject* view, std::int32_t* page) noexcept {
  PageCache* c = CacheOf(view);
  if (c == nullptr) return kFailed;
  if (page == nullptr) return kNullOutPointer;
  *page = c->page;
  return kOk;
}

StatusCode PageCache_GoToPage(EngineObject* view, DeviceContext ctx, std::int32_t page,
                              std::int16_t* blank, std::uint16_t* edges) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr) return kFailed;
  StatusCode s = EnsureValid(v, *c);
  if (s != kOk) return s;
  s = MoveToPage(v, *c, page, ctx, ctx != nullptr);
  if (s != kOk) return s;
  if (c->pending == 0) {
    const std::uint16_t e = Edges(v, *c);
    if (edges != nullptr) *edges = e;
    if (blank != nullptr)
      *blank = (e & kEdgeEnds) && !(e & kEdgeBegins) ? Clamp16(v.textHeight - c->table.bottom) : 0;
  }
  return kOk;
}

StatusCode PageCache_RelayoutPage(EngineObject* view, std::int32_t page) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr) return kFailed;
  const StatusCode s = EnsureValid(v, *c);
  return s != kOk ? s : MoveToPage(v, *c, page, nullptr, false);
}

StatusCode PageCache_CopyPageLines(EngineObject* view, std::int32_t page, std::int16_t y) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr) return kFailed;
  StatusCode s = PageCache_RelayoutPage(view, page);
  if (s != kOk) return s;
  // The view shows the page from y down, joined with the top of the page
  // below: the line at y and what follows it, laid out afresh.
  std::uint32_t start = c->table.lines[0].start;
  std::int32_t top = c->table.extraTop - y;
  std::int32_t walk = c->table.extraTop;
  std::int16_t after = 0;
  for (std::uint16_t i = 0; i < c->table.count; ++i) {
    const LineMetrics& m = c->table.lines[i].metrics;
    walk -= std::min(after, m.top);
    const std::int32_t bottom = walk + m.top + m.height + m.extra;
    if (bottom > y) {
      start = c->table.lines[i].start;
      top = walk - y;
      break;
    }
    walk = bottom;
    after = m.extra;
  }
  TextViewDrawScope draw(v.device, nullptr);
  if (IsFailure(draw.status())) return draw.status();
  return draw.Finish(TextView_Relayout(v, draw.ctx(), std::min(top, 0), start));
}

StatusCode PageCache_RefreshPage(EngineObject* view, std::int32_t page, std::int16_t y,
                                 std::uint16_t* edges) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr) return kFailed;
  if (v.table.lines == nullptr || v.table.count == 0) return kViewNotLaidOut;
  const bool same = (c->flags & kLayoutValid) && c->page == page && c->pending == 0 &&
                    c->table.lines[0].start == v.table.lines[0].start &&
                    c->table.extraTop == v.table.extraTop + y;
  if (same) return kOk;
  // The view's lines become the page.
  StatusCode s = LayOut(v, *c, v.table.lines[0].start, v.table.extraTop + y);
  if (s != kOk) return s;
  Store(*c);
  c->flags |= kLayoutValid;
  c->page = page;
  c->pending = 0;
  if (edges != nullptr) *edges = Edges(v, *c);
  return kNo;
}

StatusCode PageCache_ClampScroll(EngineObject* view, std::int32_t page, std::int16_t y,
                                 std::int16_t* amount) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr) return kFailed;
  if (amount == nullptr) return kNullOutPointer;
  const std::int64_t h = c->pageHeight;
  const std::int64_t top = page * h + y;
  std::int64_t lo = (page - 1) * h, hi = (page + 1) * h;
  if ((c->flags & kLayoutValid) && c->page == page && c->pending == 0) {
    if (BeginsSection(v, *c)) lo = std::max(lo, page * h);
    if (EndsSection(v, *c))
      hi = std::min(hi, page * h + std::max<std::int64_t>(0, c->table.bottom - v.textHeight));
  }
  const std::int64_t wanted = std::clamp(top - *amount, lo, std::max(lo, hi));
  *amount = Clamp16(top - wanted);
  return kOk;
}

StatusCode PageCache_GetLineInfo(EngineObject* view, std::int32_t page, std::uint16_t y,
                                 std::int16_t* step) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr) return kFailed;
  if (step == nullptr || *step < 0) return kFailed;
  StatusCode s = PageCache_RelayoutPage(view, page);
  if (s != kOk) return s;
  std::int32_t walk = c->table.extraTop;
  std::int16_t after = 0;
  std::int32_t cut = *step;
  for (std::uint16_t i = 0; i < c->table.count; ++i) {
    const LineMetrics& m = c->table.lines[i].metrics;
    walk -= std::min(after, m.top);
    const std::int32_t bottom = walk + m.top + m.height + m.extra;
    if (walk < y && bottom > y) {
      cut = bottom - y;  // the part of the line cut at y
      break;
    }
    walk = bottom;
    after = m.extra;
  }
  *step = Clamp16(std::min<std::int32_t>(cut, v.scrollStep));
  return kOk;
}

StatusCode PageCache_UpdateScrollBar(EngineObject* view, std::int32_t page,
                                     std::int16_t y) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr) return kFailed;
  if (v.device == nullptr) return kViewNoContent;
  const std::int64_t h = c->pageHeight;
  if (c->rangeEnd != 0 && (v.flags & TextViewFlag::Paginated)) {
    const std::int64_t top = std::max<std::int64_t>(0, h * page + y);
    return DeviceOf(v.device).setVScroll(v.device, static_cast<std::uint32_t>(top),
                                         static_cast<std::uint32_t>(top + h), 0xFFFFFFFFu,
                                         v.paginatedHeight);
  }
  // Continuous: from the offsets and lengths of this page and the next.
  if (c->memoPage != page) {
    c->memoPage = page;
    c->memoStart = c->table.lines[0].start;
    c->memoLength = c->table.lines[c->table.count].start - c->memoStart;
    c->nextStart = c->table.lines[c->table.count].start;
    c->nextLength = c->memoLength;
    c->memoHeight = c->pageHeight;
  }
  const std::int64_t mh = std::max<std::int64_t>(1, c->memoHeight);
  const std::int64_t ss = v.sectionStart;
  const std::int64_t top = c->memoStart + c->memoLength - c->memoLength * (h - y) / mh;
  const std::int64_t bottom = c->nextStart + std::int64_t{y} * c->nextLength / mh;
  auto rel = [ss](std::int64_t o) {
    return static_cast<std::uint32_t>(std::max<std::int64_t>(0, o - ss));
  };
  return DeviceOf(v.device).setVScroll(v.device, rel(top), rel(bottom), rel((top + bottom) / 2),
                                       rel(v.sectionEnd));
}

StatusCode PageCache_GetPageOfPosition(EngineObject* view, std::int32_t* page,
                                       std::uint32_t* y) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr || !(v.flags & TextViewFlag::Paginated) || v.table.lines == nullptr)
    return kFailed;
  if (page == nullptr || y == nullptr) return kNullOutPointer;
  c->rangeStart = v.sectionStart;
  c->rangeEnd = v.sectionEnd == 0 ? 1 : v.sectionEnd;
  ResetPool(*c);
  std::uint32_t key = v.table.lines[0].start - v.sectionStart, lineY = 0;
  StatusCode s = DeviceOf(v.device).posMapCommand(v.device, PosMapCode::FindByKey, &key, &lineY);
  if (s != kOk && s != kNoMore) return IsFailure(s) ? s : kFailed;
  const std::int64_t viewTop = std::max<std::int64_t>(0, std::int64_t{lineY} - v.table.extraTop);
  const std::int64_t h = c->pageHeight;
  const std::int32_t p = static_cast<std::int32_t>(viewTop / h);
  const std::uint32_t boundary = static_cast<std::uint32_t>(p * h);
  std::uint32_t k = 0, by = boundary;
  s = DeviceOf(v.device).posMapCommand(v.device, PosMapCode::FindByValue, &k, &by);
  if (s != kOk) return IsFailure(s) ? s : kFailed;
  s = LayOut(v, *c, v.sectionStart + k, static_cast<std::int32_t>(std::int64_t{by} - boundary));
  if (s != kOk) return s;
  Store(*c);
  c->flags |= kLayoutValid;
  c->page = p;
  c->pending = 0;
  *page = p;
  *y = static_cast<std::uint32_t>(viewTop - boundary);
  return kOk;
}

StatusCode PageCache_GetPageStart(EngineObject* view, std::int32_t page, std::int16_t y,
                                  std::int16_t* lineTop, std::uint32_t* lineOffset) noexcept {
  TextView& v = TextViewOf(view);
  PageCache* c = v.pageCache;
  if (c == nullptr) return kFailed;
  if (lineTop == nullptr || lineOffset == nullptr) return kNullOutPointer;
  StatusCode s = PageCache_RelayoutPage(view, page);
  if (s != kOk) return s;
  std::int32_t walk = c->table.extraTop;
  std::int16_t after = 0;
  for (std::uint16_t i = 0; i < c->table.count; ++i) {
    const LineMetrics& m = c->table.lines[i].metrics;
    walk -= std::min(after, m.top);
    const std::int32_t bottom = walk + m.top + m.height + m.extra;
    if (bottom > y) {
      *lineTop = Clamp16(walk);
      *lineOffset = c->table.lines[i].start;
      return kOk;
    }
    walk = bottom;
    after = m.extra;
  }
  *lineTop = c->table.bottom;
  *lineOffset = c->table.lines[c->table.count].start;
  return kOk;
}

// For tests: the number of pages kept and the free runs of the pool as
// (index, length) pairs in list order.
std::uint16_t PageCache_CachedPages(const TextView& v) noexcept {
  if (v.pageCache == nullptr) return 0;
  std::uint16_t n = 0;
  for (std::uint16_t i = 0; i < kPageEntries; ++i)
    n += v.pageCache->entries[i].run != nullptr;
  return n;
}
std::uint16_t PageCache_FreeRuns(const TextView& v, std::uint16_t* pairs,
                                 std::uint16_t capacity) noexcept {
  if (v.pageCache == nullptr) return 0;
  PageCache& c = *v.pageCache;
  std::uint16_t n = 0;
  for (std::int32_t at = c.firstFree == kNoRun ? -1 : c.firstFree; at != -1 && n < capacity;
       at = RunNext(c.pool[at])) {
    pairs[2 * n] = static_cast<std::uint16_t>(at);
    pairs[2 * n + 1] = static_cast<std::uint16_t>(RunLength(c.pool[at]));
    ++n;
  }
  return n;
}
std::int32_t PageCache_PendingDelta(const TextView& v) noexcept {
  return v.pageCache != nullptr ? v.pageCache->pending : 0;
}
