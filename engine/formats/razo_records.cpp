// Side records of the 'RaZo' handler: checking, caching and searching style
// runs, links and block lines.
#include <algorithm>

#include "engine/formats/razo_doc_internal.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/swap.h"

namespace {

const DbFileOps& DbOf(EngineObject* db) {
  return OpsOf<DbFileOps>(db);
}

std::uint16_t SideFirst(const RaZoDocState& s, RaZoSide kind) {
  switch (kind) {
    case RaZoSide::Style:
      return s.header.styleFirst;
    case RaZoSide::Link:
      return s.header.linkFirst;
    case RaZoSide::Block:
      return s.header.blockFirst;
  }
  return 0;
}

// Rebuilds n positions from a head high word and n low words at `lows`:
// the high word grows by one whenever a low word is not above the one
// before. False when the high word would pass 16 bits.
bool RebuildPositions(std::uint32_t high, const std::uint8_t* lows, std::uint32_t n,
                      std::uint32_t* pos, std::uint32_t* lastHigh) {
  std::uint32_t previous = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t low = LoadBE16(lows + 2 * i);
    if (i > 0 && low <= previous) ++high;
    if (high > 0xFFFF) return false;
    pos[i] = (high << 16) | low;
    previous = low;
  }
  *lastHigh = high;
  return true;
}

// Checks a record of `kind` and fills r's positions and indexes. Sizes are
// summed in 64 bits so that no count can wrap a bound.
bool Parse(RaZoSide kind, const std::uint8_t* d, std::uint32_t size, RaZoSideRecord& r) {
  if (size < 6) return false;
  const std::uint32_t n = LoadBE16(d + 4);
  if (n > kRaZoMaxEntries) return false;
  const std::uint32_t headHigh = LoadBE16(d);
  const std::uint32_t tailHigh = LoadBE16(d + 2);
  std::uint32_t lastHigh = headHigh;
  switch (kind) {
    case RaZoSide::Style:
    case RaZoSide::Link: {
      const std::uint64_t fixed = kind == RaZoSide::Style ? 4ull * n + 8 : 8ull * n + 8;
      if (size < fixed) return false;
      if (!RebuildPositions(headHigh, d + 6, n, r.pos, &lastHigh)) return false;
      r.end = (tailHigh << 16) | LoadBE16(d + 6 + 2 * n);
      if (n > 0 && r.end <= r.pos[n - 1]) return false;
      if (kind == RaZoSide::Style) {
        std::uint32_t paragraphs = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
          const bool has = (LoadBE16(d + 2 * n + 8 + 2 * i) & 0x80) != 0;
          r.aux[i] = has ? static_cast<std::uint16_t>(paragraphs++) : 0xFFFF;
        }
        if (paragraphs > 0 && size < 4ull * n + 10 + 2ull * paragraphs) return false;
      }
      break;
    }
    case RaZoSide::Block: {
      if (size < 4ull * n + 6) return false;
      if (!RebuildPositions(headHigh, d + 6, n, r.pos, &lastHigh)) return false;
      if (n > 0 && (lastHigh != tailHigh || r.pos[n - 1] == 0xFFFFFFFFu)) return false;
      std::uint32_t extras = 0;
      for (std::uint32_t i = 0; i < n; ++i) {
        const bool has = (d[3 * n + 6 + i] & 0x80) != 0;
        r.aux[i] = has ? static_cast<std::uint16_t>(extras++) : 0xFFFF;
      }
      if (size < 4ull * n + 6 + 2ull * extras) return false;
      r.end = n > 0 ? r.pos[n - 1] + 1 : headHigh << 16;
      break;
    }
  }
  r.count = n;
  r.first = n > 0 ? r.pos[0] : r.end;
  return true;
}

// The last entry whose position is at or before p (n > 0, p >= pos[0]).
std::uint32_t EntryAtOrBefore(const RaZoSideRecord& r, std::uint32_t p) {
  const std::uint32_t* it = std::upper_bound(r.pos, r.pos + r.count, p);
  return static_cast<std::uint32_t>(it - r.pos) - 1;
}

bool Holds(const RaZoSideRecord& r, std::uint32_t p) {
  return r.index >= 0 && p >= r.first && p < r.end;
}

}  // namespace

std::uint16_t RaZo_SideCount(const RaZoDocState& s, RaZoSide kind) noexcept {
  switch (kind) {
    case RaZoSide::Style:
      return s.header.styleCount;
    case RaZoSide::Link:
      return s.header.linkCount;
    case RaZoSide::Block:
      return s.header.blockCount;
  }
  return 0;
}

void RaZo_ReleaseSide(RaZoDocState& s, RaZoSideRecord& cache) noexcept {
  if (cache.data != nullptr && s.db != nullptr) {
    // A buffer the database lent comes back; its answer changes nothing here.
    (void)DbOf(s.db).freeRecordBuffer(s.db, const_cast<std::uint8_t*>(cache.data));
  }
  cache.data = nullptr;
  cache.size = 0;
  cache.count = 0;
  cache.index = -1;
}

StatusCode RaZo_LoadSide(RaZoDocState& s, RaZoSide kind, RaZoSideRecord& cache,
                         std::int32_t index) noexcept {
  if (cache.index == index && cache.data != nullptr) return kOk;
  RaZo_ReleaseSide(s, cache);
  if (s.db == nullptr || index < 0 || index >= RaZo_SideCount(s, kind)) return kNotFound;
  const auto record = static_cast<std::uint16_t>(SideFirst(s, kind) + index);
  void* buffer = nullptr;
  std::uint32_t size = 0;
  const StatusCode st = DbOf(s.db).readRecord(s.db, record, &size, &buffer);
  if (IsFailure(st)) return st;
  cache.data = static_cast<const std::uint8_t*>(buffer);
  cache.size = size;
  if (cache.data == nullptr || !Parse(kind, cache.data, size, cache)) {
    RaZo_ReleaseSide(s, cache);
    s.damaged = true;
    return kDocMalformed;
  }
  cache.index = index;
  return kOk;
}

StatusCode RaZo_FindSide(RaZoDocState& s, RaZoSide kind, RaZoSideRecord& cache,
                         std::uint32_t p) noexcept {
  const std::int32_t count = RaZo_SideCount(s, kind);
  if (count == 0 || s.db == nullptr) return kNotFound;
  if (Holds(cache, p)) return kOk;
  // The neighbours first (reading moves on record by record), then a binary
  // search over the records by their ranges.
  if (cache.index >= 0) {
    const std::int32_t near = p < cache.first ? cache.index - 1 : cache.index + 1;
    if (near >= 0 && near < count) {
      const StatusCode st = RaZo_LoadSide(s, kind, cache, near);
      if (IsFailure(st)) return st;
      if (Holds(cache, p)) return kOk;
    }
  }
  std::int32_t lo = 0, hi = count - 1;
  while (lo <= hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    const StatusCode st = RaZo_LoadSide(s, kind, cache, mid);
    if (IsFailure(st)) return st;
    if (p < cache.first) {
      hi = mid - 1;
    } else if (p >= cache.end) {
      lo = mid + 1;
    } else {
      return kOk;
    }
  }
  return kNotFound;
}

void RaZo_LinkEntry(const RaZoSideRecord& r, std::uint32_t i, std::uint32_t* start,
                    std::uint32_t* end, std::uint32_t* target) noexcept {
  const std::uint32_t n = r.count;
  const std::uint32_t length = r.data[2 * n + 8 + i];
  if (start) *start = r.pos[i];
  if (end) *end = r.pos[i] + length;
  if (target) *target = LoadBE32(r.data + 4 * n + 8 + 4 * i);
}

std::int32_t RaZo_LinkCovering(const RaZoSideRecord& r, std::uint32_t p) noexcept {
  if (r.count == 0 || p < r.pos[0]) return -1;
  const std::uint32_t i = EntryAtOrBefore(r, p);
  std::uint32_t start = 0, end = 0;
  RaZo_LinkEntry(r, i, &start, &end, nullptr);
  return p < end ? static_cast<std::int32_t>(i) : -1;
}

CharStyle RaZo_StyleFromWords(std::uint16_t w, std::uint16_t para,
                              std::uint32_t settingsFlags) noexcept {
  static constexpr std::int16_t kSizes[8] = {5, 6, 8, 10, 12, 14, 18, 24};
  CharStyle c{};
  DeviceFontSpec& f = c.font;
  f.faceClass = (w & 0x1000) ? DeviceFace::Fixed : DeviceFace::SansSerif;
  f.size = kSizes[(w >> 8) & 7];
  std::uint16_t style = 0;
  if (w & 0x2800) style |= DeviceFontStyle::Bold;
  if (w & 0x4000) style |= DeviceFontStyle::Underline;
  if ((w & 0x8000) && !(w & 0x4000)) {
    style |= DeviceFontStyle::TextColour | DeviceFontStyle::DottedUnderline;
    f.text = {32, 64, 160};
  }
  if (w & 0x0001) style |= DeviceFontStyle::Italic;
  if (w & 0x0002) style |= DeviceFontStyle::StrikeOut;
  if (w & 0x0004) style |= DocFontFlag::SetLow;
  if ((w & 0x0008) && !(w & 0x0004)) style |= DocFontFlag::SetHigh;
  f.style = style;

  CharFormat& m = c.format;
  switch ((w >> 4) & 3) {
    case 0:
      m.formatFlags =
          (settingsFlags & DocFlag::RightAlign) ? DocFormat::AlignRight : DocFormat::AlignLeft;
      break;
    case 1:
      m.formatFlags = DocFormat::AlignCentre;
      break;
    case 2:
      m.formatFlags = DocFormat::AlignRight;
      break;
    default:
      m.formatFlags = DocFormat::AlignLeft;
      break;
  }
  const int size = f.size;
  int indent = (para & 7) * size;
  std::uint16_t marker = 0;
  if (para & 0x40) {
    switch ((para >> 3) & 7) {
      case 0:
        marker = 0x8001;
        break;
      case 1:
        marker = 0x8002;
        break;
      case 2:
        marker = 0x8003;
        break;
      default:
        marker = static_cast<std::uint16_t>((para >> 8) + 1);
        if (para > 25343 && indent * 4 / size < 9) indent = size * 9 / 4;
        break;
    }
  }
  m.leftIndent = static_cast<std::uint8_t>(indent);
  m.markerShape = marker;
  return c;
}

StatusCode RaZo_StyleAt(RaZoDocState& s, std::uint32_t p, CharStyle* style,
                        std::uint32_t* runEnd) noexcept {
  RaZoSideRecord& r = s.styles;
  const StatusCode st = RaZo_FindSide(s, RaZoSide::Style, r, p);
  if (st != kOk) return IsFailure(st) ? st : kNotFound;
  const std::uint32_t i = EntryAtOrBefore(r, p);
  const std::uint32_t n = r.count;
  const std::uint16_t word = LoadBE16(r.data + 2 * n + 8 + 2 * i);
  const std::uint16_t para = r.aux[i] == 0xFFFF ? 0 : LoadBE16(r.data + 4 * n + 10 + 2 * r.aux[i]);
  s.styleRun = i;
  *style = RaZo_StyleFromWords(word, para, s.settings.flags);
  *runEnd = i + 1 < n ? r.pos[i + 1] : r.end;
  return kOk;
}

StatusCode RaZo_BlockAt(RaZoDocState& s, std::uint32_t p, RaZoBlock* out) noexcept {
  RaZoSideRecord& r = s.blocks;
  const StatusCode st = RaZo_FindSide(s, RaZoSide::Block, r, p);
  if (st != kOk) return IsFailure(st) ? st : kNotFound;
  const std::uint32_t i = EntryAtOrBefore(r, p);
  if (r.pos[i] != p) return kNotFound;
  const std::uint32_t n = r.count;
  RaZoBlock b{};
  b.kind = r.data[2 * n + 6 + i];
  b.flags = r.data[3 * n + 6 + i];
  b.hasExtra = r.aux[i] != 0xFFFF;
  b.extra = b.hasExtra ? LoadBE16(r.data + 4 * n + 6 + 2 * r.aux[i]) : 0;
  b.entryOffset = b.extra;
  *out = b;
  return kOk;
}
