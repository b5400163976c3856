#include "engine/device/table_store.h"

#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"

namespace {

std::int16_t Sat16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

template <class T>
T* As(void* p) {
  return static_cast<T*>(p);
}

// Grows a pointer array by 16 entries when it is full; u16 counts cap it.
template <class T>
StatusCode Reserve(T*** array, std::uint16_t count, std::uint16_t* capacity) {
  if (count < *capacity) return kOk;
  if (*capacity > 0xFFFF - 16) return kOutOfMemory;
  void* p = *array;
  const StatusCode s = Engine_Realloc((*capacity + 16u) * sizeof(T*), &p);
  if (s != kOk) return s;
  *array = static_cast<T**>(p);
  *capacity = static_cast<std::uint16_t>(*capacity + 16);
  return kOk;
}

// Index of the first element whose id is not below id.
template <class T>
std::uint16_t LowerBound(T* const* array, std::uint16_t count, std::uint16_t id) {
  std::uint16_t lo = 0, hi = count;
  while (lo < hi) {
    const std::uint16_t mid = static_cast<std::uint16_t>(lo + (hi - lo) / 2);
    if (array[mid]->id < id)
      lo = static_cast<std::uint16_t>(mid + 1);
    else
      hi = mid;
  }
  return lo;
}

template <class T>
T* FindById(T* const* array, std::uint16_t count, std::uint16_t id) {
  const std::uint16_t i = LowerBound(array, count, id);
  return i < count && array[i]->id == id ? array[i] : nullptr;
}

template <class T>
void InsertSorted(T** array, std::uint16_t* count, T* item) {
  const std::uint16_t i = LowerBound(array, *count, item->id);
  std::memmove(array + i + 1, array + i, (*count - i) * sizeof(T*));
  array[i] = item;
  ++*count;
}

TableRecord* FindTable(const TableStore* s, std::uint16_t id) {
  return FindById(s->tables, s->tableCount, id);
}
TableLayout* FindLayout(const TableStore* s, std::uint16_t id) {
  return FindById(s->layouts, s->layoutCount, id);
}

// Spans: handle = page number from 1 x 256 + index in the page.

TableSpanRecord* SpanAt(TableStore* s, std::uint16_t handle) {
  const int page = (handle >> 8) - 1;
  const int index = handle & 0xFF;
  if (page < 0 || page >= s->pageCount || index >= s->pages[page].count) return nullptr;
  return &s->pages[page].records[index];
}

StatusCode NewSpan(TableStore* s, std::uint16_t* out) {
  if (s->freeSpans == 0) {
    TableSpanPage* page = s->pageCount ? &s->pages[s->pageCount - 1] : nullptr;
    if (page == nullptr || page->count == kSpanPageRecords) {
      if (s->pageCount == kSpanMaxPages) return kOutOfMemory;
      page = &s->pages[s->pageCount];
      page->records = nullptr;
      page->count = 0;
      ++s->pageCount;
    }
    void* p = page->records;
    const StatusCode st = Engine_Realloc((page->count + 16u) * sizeof(TableSpanRecord), &p);
    if (st != kOk) {
      if (page->count == 0) --s->pageCount;
      return st;
    }
    page->records = static_cast<TableSpanRecord*>(p);
    const int pageNumber = static_cast<int>(page - s->pages) + 1;
    // Chain the 16 new records into the free list, lowest first.
    for (int i = 15; i >= 0; --i) {
      const int index = page->count + i;
      page->records[index].next = s->freeSpans;
      page->records[index].used = 0;
      s->freeSpans = static_cast<std::uint16_t>(pageNumber * 256 + index);
    }
    page->count = static_cast<std::uint16_t>(page->count + 16);
  }
  const std::uint16_t handle = s->freeSpans;
  TableSpanRecord* r = SpanAt(s, handle);
  s->freeSpans = r->next;
  r->next = 0;
  r->used = 0;
  *out = handle;
  return kOk;
}

void FreeSpanList(TableStore* s, std::uint16_t head) {
  // The list is bounded by the number of records, so a corrupt link cannot
  // make this loop forever.
  int guard = kSpanMaxPages * kSpanPageRecords;
  while (head != 0 && guard-- > 0) {
    TableSpanRecord* r = SpanAt(s, head);
    if (r == nullptr) return;
    const std::uint16_t next = r->next;
    r->next = s->freeSpans;
    r->used = 0;
    s->freeSpans = head;
    head = next;
  }
}

// Calls fn on every entry of a list, head record first.
template <class Fn>
void ForEachSpan(TableStore* s, std::uint16_t head, Fn fn) {
  int guard = kSpanMaxPages * kSpanPageRecords;
  for (TableSpanRecord* r = SpanAt(s, head); r != nullptr && guard-- > 0; r = SpanAt(s, r->next))
    for (int i = 0; i < r->used && i < kSpanEntriesPerRecord; ++i)
      fn(r->entries[i]);
}

// The width rules shared by columns and spanning entries.
void ApplyWidth(std::int16_t* minimum, std::int16_t* maximum, std::uint16_t* flags,
                std::int16_t cellMin, std::int16_t cellMax, bool cellFixed) {
  if (*flags & kColumnFixed) {
    if (*minimum < cellMin) *minimum = *maximum = cellMin;
  } else if (cellFixed) {
    *minimum = *maximum = std::max(*minimum, cellMin);
    *flags |= kColumnFixed;
  } else {
    *minimum = std::max(*minimum, cellMin);
    *maximum = std::max(*maximum, cellMax);
  }
}

StatusCode AddSpanEntry(TableStore* s, std::uint16_t* head, const TableSpanEntry& cell) {
  bool merged = false;
  ForEachSpan(s, *head, [&](TableSpanEntry& e) {
    if (merged || e.first != cell.first || e.span != cell.span) return;
    ApplyWidth(&e.minimum, &e.maximum, &e.flags, cell.minimum, cell.maximum,
               (cell.flags & kColumnFixed) != 0);
    merged = true;
  });
  if (merged) return kOk;
  TableSpanRecord* r = SpanAt(s, *head);
  if (r == nullptr || r->used >= kSpanEntriesPerRecord) {
    std::uint16_t handle = 0;
    const StatusCode st = NewSpan(s, &handle);
    if (st != kOk) return st;
    r = SpanAt(s, handle);
    r->next = *head;
    *head = handle;
  }
  r->entries[r->used++] = cell;
  return kOk;
}

std::int64_t Frame(const TableRecord& t) {
  const std::int64_t b = t.border, h = t.hSpacing, c = t.columns;
  return b * (c + 1) + (b > 0 ? 2 * c * h : (c - 1) * h);
}

void FreeTable(TableStore* s, TableRecord* t) {
  if (t->externalRows != 0 && t->externalRows <= s->externalCount) {
    Engine_Free(s->externalRows[t->externalRows - 1]);
    s->externalRows[t->externalRows - 1] = nullptr;
  }
  Engine_Free(t);
}

StatusCode RemoveNode(TableStore* s, TableNode* node) {
  for (TableNode** link = &s->nodes; *link != nullptr; link = &(*link)->next) {
    if (*link == node) {
      *link = node->next;
      Engine_Free(node);
      return kOk;
    }
  }
  return kBadArgument;
}

StatusCode NewNode(TableStore* s, TableRecord* table, bool layout, TableNode** out) {
  TableNode* node = nullptr;
  if (Engine_AllocArray(1, &node) != kOk) return kOutOfMemory;
  *node = TableNode{s->nodes, table->id, layout, table, table->edges, table->rowHeights};
  s->nodes = node;
  *out = node;
  return kOk;
}

// The node a caller passed, if it is one of the store's open nodes.
TableNode* OpenNode(const TableStore* s, void* p) {
  for (TableNode* n = s->nodes; n != nullptr; n = n->next)
    if (n == p) return n;
  return nullptr;
}

StatusCode MakeTable(TableStore* s, const TableDescription* d, TableNode** out) {
  if (FindTable(s, d->id) != nullptr) return kFailed;
  if (d->rows > kTableMaxRows) return kOutOfMemory;
  StatusCode st = Reserve(&s->tables, s->tableCount, &s->tableCapacity);
  if (st == kOk) st = Reserve(&s->layouts, s->layoutCount, &s->layoutCapacity);
  if (st != kOk) return st;

  const std::uint32_t edgeBytes = d->columns * 2u;
  const std::uint32_t rowBytes = d->rows * 2u;
  void* block = nullptr;
  std::int16_t* external = nullptr;
  if (Engine_Alloc(sizeof(TableRecord) + edgeBytes + rowBytes, &block) != kOk) {
    // Without the row heights, which go into an external array instead.
    st = Reserve(&s->externalRows, s->externalCount, &s->externalCapacity);
    if (st == kOk) st = Engine_AllocArray(d->rows, &external);
    if (st == kOk) st = Engine_Alloc(sizeof(TableRecord) + edgeBytes, &block);
    if (st != kOk) {
      Engine_Free(external);
      return st;
    }
    std::memset(external, 0, rowBytes);
  }
  auto* t = static_cast<TableRecord*>(block);
  std::memset(static_cast<void*>(t), 0,
              sizeof(TableRecord) + edgeBytes + (external ? 0 : rowBytes));
  t->id = d->id;
  t->columns = d->columns;
  t->rows = d->rows;
  t->border = d->border;
  t->hSpacing = d->hSpacing;
  t->vSpacing = d->vSpacing;
  t->edges = reinterpret_cast<std::int16_t*>(t + 1);
  t->rowHeights = external ? external : t->edges + d->columns;

  void* layoutBlock = nullptr;
  const std::uint32_t columnBytes = d->columns * std::uint32_t{sizeof(TableColumnRange)};
  st = Engine_Alloc(sizeof(TableLayout) + columnBytes, &layoutBlock);
  TableNode* node = nullptr;
  if (st == kOk) {
    auto* layout = static_cast<TableLayout*>(layoutBlock);
    std::memset(static_cast<void*>(layout), 0, sizeof(TableLayout) + columnBytes);
    layout->id = d->id;
    layout->columns = reinterpret_cast<TableColumnRange*>(layout + 1);
    st = NewNode(s, t, true, &node);
  }
  if (st != kOk) {
    Engine_Free(layoutBlock);
    Engine_Free(external);
    Engine_Free(t);
    return st;
  }
  if (external != nullptr) {
    s->externalRows[s->externalCount++] = external;
    t->externalRows = s->externalCount;
  }
  InsertSorted(s->tables, &s->tableCount, t);
  InsertSorted(s->layouts, &s->layoutCount, static_cast<TableLayout*>(layoutBlock));
  *out = node;
  return kOk;
}

void DropLayout(TableStore* s, std::uint16_t id) {
  const std::uint16_t i = LowerBound(s->layouts, s->layoutCount, id);
  if (i >= s->layoutCount || s->layouts[i]->id != id) return;
  TableLayout* layout = s->layouts[i];
  FreeSpanList(s, layout->spanWidths);
  FreeSpanList(s, layout->spanHeights);
  std::memmove(s->layouts + i, s->layouts + i + 1, (s->layoutCount - i - 1) * sizeof(void*));
  --s->layoutCount;
  Engine_Free(layout);
}

StatusCode RecordWidth(TableStore* s, const TableRecord& t, TableLayout& l,
                       const TableCellWidth& c) {
  const std::uint32_t span = c.span ? c.span : 1;
  if (std::uint32_t{c.column} + span > t.columns) return kFailed;
  const bool fixed = c.fixed != 0;
  if (span == 1) {
    TableColumnRange& col = l.columns[c.column];
    ApplyWidth(&col.minimum, &col.maximum, &col.flags, c.minimum, c.maximum, fixed);
    return kOk;
  }
  const TableSpanEntry entry{c.column, static_cast<std::uint16_t>(span),
                             static_cast<std::uint16_t>(fixed ? kColumnFixed : 0), c.minimum,
                             c.maximum};
  return AddSpanEntry(s, &l.spanWidths, entry);
}

void SpreadWidths(TableStore* s, const TableRecord& t, TableLayout& l) {
  ForEachSpan(s, l.spanWidths, [&](TableSpanEntry& e) {
    TableColumnRange* cols = l.columns + e.first;
    const std::int64_t n = e.span;
    auto sums = [&](std::int64_t* sMin, std::int64_t* sMax) {
      *sMin = *sMax = 0;
      for (std::int64_t i = 0; i < n; ++i)
        *sMin += cols[i].minimum, *sMax += cols[i].maximum;
    };
    std::int64_t S, T;
    sums(&S, &T);
    if (S < e.minimum) {
      const std::int64_t m = e.minimum;
      if (S == 0 || S == T) {
        std::int64_t k = 0;
        for (std::int64_t i = 0; i < n; ++i)
          k += cols[i].minimum != 0;
        for (std::int64_t i = 0; i < n; ++i) {
          if (k > 0 && cols[i].minimum != 0)
            cols[i].minimum = Sat16(cols[i].minimum + (m + k / 2 - S) / k);
          else if (k == 0)
            cols[i].minimum = Sat16(cols[i].minimum + (m + n / 2 - S) / n);
        }
      } else {
        const std::int64_t D = T - S;
        for (std::int64_t i = 0; i < n; ++i)
          cols[i].minimum =
              Sat16(cols[i].minimum + ((cols[i].maximum - cols[i].minimum) * (m - S) + D / 2) / D);
      }
      for (std::int64_t i = 0; i < n; ++i)
        if (cols[i].minimum > cols[i].maximum) cols[i].maximum = cols[i].minimum;
    }
    sums(&S, &T);
    if (T < e.maximum) {
      const std::int64_t M = e.maximum;
      if (T == 0 || T == S) {
        std::int64_t j = 0;
        for (std::int64_t i = 0; i < n; ++i)
          j += cols[i].maximum != 0;
        for (std::int64_t i = 0; i < n; ++i) {
          if (j > 0 && cols[i].maximum != 0)
            cols[i].maximum = Sat16(cols[i].maximum + (M + j / 2 - T) / j);
          else if (j == 0)
            cols[i].maximum = Sat16(cols[i].maximum + (M + n / 2 - T) / n);
        }
      } else {
        const std::int64_t D = T - S;
        for (std::int64_t i = 0; i < n; ++i)
          cols[i].maximum =
              Sat16(cols[i].maximum + ((cols[i].maximum - cols[i].minimum) * (M - T) + D / 2) / D);
      }
    }
    if (e.flags & kColumnFixed)
      for (std::int64_t i = 0; i < n; ++i)
        cols[i].flags |= kColumnFixed;
  });
  std::int64_t sumMin = 0, sumMax = 0;
  for (std::uint32_t i = 0; i < t.columns; ++i)
    sumMin += l.columns[i].minimum, sumMax += l.columns[i].maximum;
  const std::int64_t frame = Frame(t);
  l.minimumWidth = static_cast<std::int32_t>(frame + sumMin);
  l.maximumWidth =
      static_cast<std::int32_t>(frame + std::int64_t{t.border} * (t.columns + 1) + sumMax);
}

void Fit(TableRecord& t, const TableLayout& l, const TableFit& fit) {
  const std::int64_t c = t.columns;
  const TableColumnRange* cols = l.columns;
  std::int64_t sumMin = 0, sumMax = 0;
  for (std::int64_t i = 0; i < c; ++i)
    sumMin += cols[i].minimum, sumMax += cols[i].maximum;
  const std::int64_t frame = Frame(t);
  const std::int64_t C =
      fit.percent ? std::int64_t{fit.available} * fit.percent / 100 : fit.available;
  const std::int64_t L = frame + sumMin, U = frame + sumMax;
  const std::int64_t fixedWidth = fit.fixedWidth;

  // Widths go into the edge array first and become edges below.
  std::int16_t* widths = t.edges;
  if (L >= C && L >= fixedWidth) {
    for (std::int64_t i = 0; i < c; ++i)
      widths[i] = cols[i].minimum;
  } else if (C >= U && fit.percent == 0 && fixedWidth == 0) {
    for (std::int64_t i = 0; i < c; ++i)
      widths[i] = cols[i].maximum;
  } else {
    const std::int64_t E = fixedWidth ? std::max<std::int64_t>(fixedWidth - L, 0) : C - L;
    std::int64_t given = 0;
    // Equal ranges share evenly among the free columns that can grow; no such
    // column means nothing is shared.
    std::int64_t w = 0;
    for (std::int64_t j = 0; j < c; ++j)
      w += cols[j].maximum != 0 && !(cols[j].flags & kColumnFixed);
    for (std::int64_t i = 0; i < c; ++i) {
      std::int64_t add;
      if (sumMin == sumMax)
        add = (w == 0 || cols[i].maximum == 0 || (cols[i].flags & kColumnFixed)) ? 0 : E / w;
      else
        add = E * (cols[i].maximum - cols[i].minimum) / (sumMax - sumMin);
      given += add;
      widths[i] = Sat16(cols[i].minimum + add);
    }
    // Rounding leftovers go one pixel per eligible column in order, round
    // after round; without an eligible column they stay unused.
    std::int64_t left = E - given;
    std::int64_t eligible = 0;
    for (std::int64_t i = 0; i < c; ++i)
      eligible += cols[i].minimum != 0 && !(cols[i].flags & kColumnFixed);
    if (left > 0 && eligible > 0) {
      const std::int64_t each = left / eligible;
      std::int64_t extra = left % eligible;
      for (std::int64_t i = 0; i < c; ++i) {
        if (cols[i].minimum == 0 || (cols[i].flags & kColumnFixed)) continue;
        widths[i] = Sat16(widths[i] + each + (extra > 0 ? 1 : 0));
        if (extra > 0) --extra;
      }
    }
  }
  const std::int64_t b = t.border, h = t.hSpacing;
  const std::int64_t advance = b > 0 ? b + 2 * h : h;
  std::int64_t edge = b;
  for (std::int64_t i = 0; i < c; ++i) {
    edge = Sat16(edge + widths[i] + advance);
    t.edges[i] = static_cast<std::int16_t>(edge);
  }
  const std::int64_t width = b > 0 ? edge : edge - h;
  t.width = static_cast<std::uint16_t>(std::clamp<std::int64_t>(width, 0, 0xFFFF));
}

StatusCode InnerWidth(const TableRecord& t, TableSpanWidth* q) {
  const std::uint32_t span = q->span ? q->span : 1;
  if (std::uint32_t{q->firstColumn} + span > t.columns) return kFailed;
  const std::int64_t b = t.border, h = t.hSpacing;
  const std::uint32_t first = q->firstColumn;
  std::int64_t w = t.edges[first + span - 1] - (first > 0 ? t.edges[first - 1] : 0);
  if (b > 0)
    w -= first > 0 ? b + 2 * h : 2 * h + 2 * b;
  else
    w -= h;
  q->width = Sat16(w);
  return kOk;
}

StatusCode RecordHeight(TableStore* s, TableRecord& t, TableLayout* l, const TableCellHeight& c) {
  if (c.span == 0) {
    t.extraHeight = static_cast<std::uint16_t>(std::max<std::int16_t>(c.height, 0));
    return kOk;
  }
  const std::uint64_t row = std::uint64_t{c.baseRow} + c.rowOffset;
  if (row >= t.rows) return kFailed;
  // A span past the last row is cut at it.
  const std::uint64_t span = std::min<std::uint64_t>(c.span, t.rows - row);
  if (span == 1) {
    t.rowHeights[row] = std::max(t.rowHeights[row], c.height);
    return kOk;
  }
  if (l == nullptr) return kFailed;
  const TableSpanEntry entry{static_cast<std::uint32_t>(row), static_cast<std::uint16_t>(span), 0,
                             c.height, c.height};
  return AddSpanEntry(s, &l->spanHeights, entry);
}

void SpreadHeights(TableStore* s, TableRecord& t, const TableLayout* l) {
  std::int16_t* rows = t.rowHeights;
  if (l != nullptr) {
    ForEachSpan(s, l->spanHeights, [&](TableSpanEntry& e) {
      const std::int64_t n = e.span, H = e.minimum;
      std::int64_t S = 0;
      for (std::int64_t i = 0; i < n; ++i)
        S += rows[e.first + i];
      if (S >= H) return;
      for (std::int64_t i = 0; i < n; ++i) {
        std::int16_t& r = rows[e.first + i];
        r = S > 0 ? Sat16(((S + 1) / 2 + r * H) / S) : Sat16((H + (n + 1) / 2) / n);
      }
    });
  }
  const std::int64_t b = t.border, v = t.vSpacing;
  std::int64_t total = 0;
  for (std::uint32_t i = 0; i < t.rows; ++i) {
    std::int64_t r = rows[i];
    if (b > 0)
      r += (i == 0 ? b : 0) + b + 2 * v;
    else
      r += v;
    rows[i] = Sat16(r);
    total += rows[i];
  }
  const std::int64_t height = b + total - (b == 0 ? v : 0) + t.extraHeight;
  t.height = static_cast<std::uint32_t>(std::max<std::int64_t>(height, 0));
}

std::int64_t SumRows(const TableRecord& t, std::uint64_t from, std::uint64_t to) {
  std::int64_t sum = 0;
  for (std::uint64_t r = from; r < to; ++r)
    sum += t.rowHeights[r];
  return sum;
}

StatusCode Extent(const TableRecord& t, TableCellExtent* q) {
  const std::uint32_t span = q->columnSpan ? q->columnSpan : 1;
  if (std::uint32_t{q->column} + span > t.columns) return kFailed;
  const std::int64_t b = t.border, h = t.hSpacing, v = t.vSpacing;
  const std::int64_t edge = t.edges[q->column + span - 1];
  std::int64_t x, w;
  if (q->column == 0) {
    x = b > 0 ? b + h : 0;
    w = b > 0 ? edge - 2 * b - 2 * h : edge - h;
  } else {
    const std::int64_t P = t.edges[q->column - 1];
    x = b > 0 ? P + h : P;
    w = b > 0 ? edge - P - b - 2 * h : edge - P - h;
  }
  std::int64_t y, height;
  if (q->rowSpan == 0) {
    y = 0;
    height = t.extraHeight;
  } else {
    const std::uint64_t R = std::uint64_t{q->baseRow} + q->rowOffset;
    if (R + q->rowSpan > t.rows) return kFailed;
    y = SumRows(t, q->baseRow, R);
    height = SumRows(t, R, R + q->rowSpan);
    if (R > 0) {
      if (b > 0) {
        y += v;
        height -= b + 2 * v;
      } else {
        height -= v;
      }
    } else if (b > 0) {
      y = b + v;
      height -= 2 * b + 2 * v;
    } else {
      y = 0;
      height -= v;
    }
  }
  q->x = Sat16(x);
  q->y = Sat16(y);
  q->width = Sat16(w);
  q->height = Sat16(height);
  return kOk;
}

StatusCode SpanHeight(const TableRecord& t, TableRowSpan* q) {
  std::int64_t height;
  if (q->span == 0) {
    height = t.extraHeight;
  } else {
    const std::uint64_t end = std::uint64_t{q->firstRow} + q->span;
    if (end > t.rows) return kFailed;
    height = SumRows(t, q->firstRow, end);
    if (t.border == 0 && end == t.rows) height -= t.vSpacing;
  }
  q->tableWidth = t.width;
  q->height = Sat16(height);
  return kOk;
}

StatusCode Hit(const TableRecord& t, TableHit* q) {
  if (q->firstRow > t.rows) return kFailed;
  const std::int16_t* e = std::upper_bound(t.edges, t.edges + t.columns, q->x);
  std::uint32_t row = q->firstRow;
  std::int64_t sum = 0;
  for (; row < t.rows; ++row) {
    sum += t.rowHeights[row];
    if (sum > q->y) break;
  }
  q->column = static_cast<std::uint16_t>(e - t.edges);
  q->row = row;
  return kOk;
}

StatusCode PushBlock(TableStore* s, const std::uint16_t* size, const void* block) {
  if (s->depth >= kTableStackMaxDepth) return kFailed;
  if (*size != 0 && block == nullptr) return kNullOutPointer;
  if (s->depth == s->stackCapacity) {
    void* p = s->stack;
    const StatusCode st = Engine_Realloc((s->stackCapacity + 16u) * sizeof(TableStackBlock), &p);
    if (st != kOk) return st;
    s->stack = static_cast<TableStackBlock*>(p);
    s->stackCapacity = static_cast<std::uint16_t>(s->stackCapacity + 16);
  }
  void* copy = nullptr;
  const StatusCode st = Engine_Alloc(*size, &copy);
  if (st != kOk) return st;
  if (*size) std::memcpy(copy, block, *size);
  s->stack[s->depth++] = {copy, *size};
  return kOk;
}

StatusCode PopBlock(TableStore* s, const std::uint16_t* size, void* destination) {
  if (s->depth == 0) return kFailed;
  if (*size != 0 && destination == nullptr) return kNullOutPointer;
  TableStackBlock& top = s->stack[--s->depth];
  // Never more than was pushed.
  const std::uint16_t n = std::min(*size, top.size);
  if (n) std::memcpy(destination, top.data, n);
  Engine_Free(top.data);
  return kOk;
}

}  // namespace

StatusCode TableStore_Create(const DeviceClock* clock, TableStore** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  TableStore* s = nullptr;
  if (Engine_AllocArray(1, &s) != kOk) return kOutOfMemory;
  std::memset(static_cast<void*>(s), 0, sizeof(*s));
  s->clock = clock;
  *out = s;
  return kOk;
}

void TableStore_Clear(TableStore* s) noexcept {
  if (s == nullptr) return;
  while (s->nodes != nullptr)
    (void)RemoveNode(s, s->nodes);
  for (std::uint16_t i = 0; i < s->tableCount; ++i)
    FreeTable(s, s->tables[i]);
  for (std::uint16_t i = 0; i < s->layoutCount; ++i)
    Engine_Free(s->layouts[i]);
  for (std::uint16_t i = 0; i < s->externalCount; ++i)
    Engine_Free(s->externalRows[i]);
  for (std::uint16_t i = 0; i < s->pageCount; ++i)
    Engine_Free(s->pages[i].records);
  for (std::uint16_t i = 0; i < s->depth; ++i)
    Engine_Free(s->stack[i].data);
  Engine_Free(s->tables);
  Engine_Free(s->layouts);
  Engine_Free(s->externalRows);
  Engine_Free(s->stack);
  const DeviceClock* clock = s->clock;
  const std::uint32_t sliceStart = s->sliceStart;
  std::memset(static_cast<void*>(s), 0, sizeof(*s));
  s->clock = clock;
  s->sliceStart = sliceStart;
}

void TableStore_Free(TableStore* s) noexcept {
  if (s == nullptr) return;
  TableStore_Clear(s);
  Engine_Free(s);
}

StatusCode TableStore_Command(TableStore* s, std::uint16_t code, void* in, void* out) noexcept {
  if (s == nullptr) return kFailed;
  using namespace TableStoreCode;
  switch (code) {
    case StartSlice:
      s->sliceStart = s->clock ? Device_Tick(*s->clock) : Device_SystemTick();
      return kOk;
    case CheckSlice: {
      const std::uint32_t now = s->clock ? Device_Tick(*s->clock) : Device_SystemTick();
      return now - s->sliceStart >= kTableSliceMs ? kTableSliceElapsed : kOk;
    }
    case Push:
      if (in == nullptr) return kNullOutPointer;
      return PushBlock(s, As<std::uint16_t>(in), out);
    case Pop:
      if (in == nullptr) return kNullOutPointer;
      return PopBlock(s, As<std::uint16_t>(in), out);
    case BeginTable:
      if (in == nullptr || out == nullptr) return kNullOutPointer;
      return MakeTable(s, As<TableDescription>(in), As<TableNode*>(out));
    case ReopenLayout:
    case OpenRowPass: {
      if (in == nullptr || out == nullptr) return kNullOutPointer;
      const std::uint16_t id = *As<std::uint16_t>(in);
      TableRecord* t = FindTable(s, id);
      if (t == nullptr || (code == ReopenLayout && FindLayout(s, id) == nullptr)) return kFailed;
      return NewNode(s, t, code == ReopenLayout, As<TableNode*>(out));
    }
    case CloseLayout:
      if (in == nullptr) return kOk;
      return RemoveNode(s, As<TableNode>(in));
    case CloseRowPass:
      return RemoveNode(s, As<TableNode>(in));
    case WidthRange: {
      if (in == nullptr) return kNullOutPointer;
      auto* q = As<TableWidthRange>(in);
      const TableLayout* l = FindLayout(s, q->id);
      if (l == nullptr) return kFailed;
      q->minimum = l->minimumWidth;
      q->maximum = l->maximumWidth;
      return kOk;
    }
    case TableSize: {
      if (out == nullptr) return kNullOutPointer;
      auto* q = As<TableSizeQuery>(out);
      const TableRecord* t = nullptr;
      if (in != nullptr) {
        const TableNode* node = OpenNode(s, in);
        if (node == nullptr) return kBadArgument;
        t = node->table;
      } else {
        t = FindTable(s, q->id);
      }
      if (t == nullptr) return kFailed;
      q->width = t->width;
      q->height = t->height;
      return kOk;
    }
    default:
      break;
  }
  if (code > RowSum) return kNotSupported;
  // The remaining codes work on an open node.
  TableNode* node = OpenNode(s, in);
  if (node == nullptr) return in == nullptr ? kNullOutPointer : kBadArgument;
  TableRecord& t = *node->table;
  // Changing a table's layout takes a layout node, not a row-pass node.
  const bool changes =
      code == EndLayout || (code >= CellWidth && code <= DistributeHeights && code != SpanWidth);
  if (changes && !node->layout) return kBadArgument;
  TableLayout* layout = FindLayout(s, node->id);
  switch (code) {
    case EndLayout:
      DropLayout(s, node->id);
      return RemoveNode(s, node);
    case DistributeWidths:
      if (layout == nullptr) return kFailed;
      SpreadWidths(s, t, *layout);
      return kOk;
    case DistributeHeights:
      SpreadHeights(s, t, layout);
      return kOk;
    default:
      break;
  }
  if (out == nullptr) return kNullOutPointer;
  switch (code) {
    case CellWidth:
      if (layout == nullptr) return kFailed;
      return RecordWidth(s, t, *layout, *As<TableCellWidth>(out));
    case FitColumns:
      if (layout == nullptr) return kFailed;
      Fit(t, *layout, *As<TableFit>(out));
      return kOk;
    case SpanWidth:
      return InnerWidth(t, As<TableSpanWidth>(out));
    case CellHeight:
      return RecordHeight(s, t, layout, *As<TableCellHeight>(out));
    case CellExtent:
      return Extent(t, As<TableCellExtent>(out));
    case RowSpanHeight:
      return SpanHeight(t, As<TableRowSpan>(out));
    case HitTest:
      return Hit(t, As<TableHit>(out));
    case RowSum: {
      auto* q = As<TableRowSum>(out);
      if (q->fromRow > q->toRow || q->toRow > t.rows) return kFailed;
      q->total = static_cast<std::int32_t>(SumRows(t, q->fromRow, q->toRow));
      return kOk;
    }
    default:
      return kNotSupported;
  }
}
