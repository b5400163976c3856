#include "engine/formats/native_table.h"

#include <algorithm>
#include <cstring>

#include "engine/formats/native_index.h"
#include "engine/runtime/swap.h"

namespace {

constexpr std::uint32_t kDirectoryHeader = 8;
constexpr std::uint32_t kEntryFields = 8;
constexpr std::uint32_t kParaTable = 10;
constexpr std::uint8_t kPartFlag = 0x10;  // part p: kPartFlag << (p - 1)
constexpr std::uint32_t kSelectTable = 12;

std::uint8_t BlockType(std::uint32_t table) {
  if (table == 9 || table == 11) return NativeRecordType::TableBlock5;
  if (table == 12) return NativeRecordType::SelectListBlock;
  return NativeRecordType::TableBlock;
}

std::uint16_t Split16(std::uint8_t low, std::uint8_t high) {
  return static_cast<std::uint16_t>(low | (high << 8));
}

constexpr std::uint16_t kFontKinds[5] = {2, 5, 1, 3, 4};

}  // namespace

StatusCode NativeStore_LoadTables(NativeDocState* s) noexcept {
  for (NativeTable& t : s->tables) {
    t = NativeTable{};
    t.blockNumber = kNativeNoRecord;
  }
  NativeRun_Init(&s->paraAttributes, 0, 0, NativeRunKind::ParaItem, 0xFFFF);
  const std::uint16_t index = s->record0.recordList[NativeRecordList::TableDirectory];
  if (index == 0) return kOk;
  std::uint32_t size = 0;
  const std::uint8_t* d = nullptr;
  StatusCode r = NativeStore_FetchRecord(s->db, NativeRecordType::TableDirectory, index, &size, &d);
  if (IsFailure(r)) return r;
  const std::uint32_t H = d[0];
  bool ok = std::uint64_t{H} + kDirectoryHeader <= size && d[H] >= kDirectoryHeader &&
            d[H + 3] >= kEntryFields;
  NativeTable tables[kNativeTableCount] = {};
  std::uint16_t paraFirst = 0;
  std::uint16_t paraCount = 0;
  if (ok) {
    paraFirst = LoadBE16(d + H + 4);
    paraCount = LoadBE16(d + H + 6);
    ok = (paraCount == 0 || paraFirst != 0) &&
         std::uint32_t{paraFirst} + paraCount <= s->recordCount;
  }
  const std::uint32_t entries = ok ? d[H + 2] : 0;
  const std::uint32_t X = ok ? d[H + 3] : 0;
  std::uint64_t at = std::uint64_t{H} + (ok ? d[H] : 0);
  for (std::uint32_t e = 0; ok && e < entries; ++e) {
    if (at + X + 1 > size) {
      ok = false;
      break;
    }
    const std::uint32_t K = d[at + 1];
    std::uint64_t length = std::uint64_t{X} + K + 1;
    length += length & 1;
    if (at + length > size) {
      ok = false;
      break;
    }
    const std::uint32_t table = d[at];
    if (table < kNativeTableCount) {
      NativeTable& t = tables[table];
      t.present = true;
      t.parts = static_cast<std::uint16_t>(K + 1);
      t.itemsPerBlock = LoadBE16(d + at + 2);
      t.firstBlock = LoadBE16(d + at + 4);
      t.blockCount = LoadBE16(d + at + 6);
      for (std::uint32_t p = 0; p < kNativeMaxParts && p <= K; ++p)
        t.width[p] = d[at + X + p];
      t.block = nullptr;
      t.blockNumber = kNativeNoRecord;
      ok = t.itemsPerBlock != 0 && (t.blockCount == 0 || t.firstBlock != 0) &&
           std::uint32_t{t.firstBlock} + t.blockCount <= s->recordCount;
    }
    at += length;
  }
  r = NativeStore_ReleaseRecord(s->db, d);
  if (IsFailure(r)) return r;
  if (!ok) return kDocMalformed;
  std::memcpy(s->tables, tables, sizeof tables);
  NativeRun_Init(&s->paraAttributes, paraFirst, paraCount, NativeRunKind::ParaItem, 0xFFFF);
  return kOk;
}

StatusCode NativeStore_ReleaseTables(NativeDocState* s) noexcept {
  StatusCode first = kOk;
  for (NativeTable& t : s->tables) {
    const StatusCode r = NativeStore_ReleaseRecord(s->db, t.block);
    if (IsFailure(r) && !IsFailure(first)) first = r;
    t = NativeTable{};
    t.blockNumber = kNativeNoRecord;
  }
  return first;
}

StatusCode NativeStore_FetchTableBlock(NativeDocState* s, std::uint32_t table, std::uint32_t index,
                                       const std::uint8_t** block, std::uint32_t* size,
                                       std::uint32_t* inBlock) noexcept {
  if (s == nullptr || block == nullptr || size == nullptr || inBlock == nullptr)
    return kBadArgument;
  if (table >= kNativeTableCount || table == kParaTable) return kDocMalformed;
  NativeTable& t = s->tables[table];
  if (!t.present) return kDocMalformed;
  const std::uint32_t number = index / t.itemsPerBlock;
  if (number >= t.blockCount) return kDocMalformed;
  if (t.block == nullptr || t.blockNumber != number) {
    StatusCode r = NativeStore_ReleaseRecord(s->db, t.block);
    t.block = nullptr;
    t.blockNumber = kNativeNoRecord;
    if (IsFailure(r)) return r;
    const std::uint8_t* d = nullptr;
    std::uint32_t n = 0;
    r = NativeStore_FetchRecord(s->db, BlockType(table),
                                static_cast<std::uint16_t>(t.firstBlock + number), &n, &d);
    if (IsFailure(r)) return r;
    t.block = d;
    t.blockSize = n;
    t.blockNumber = static_cast<std::uint16_t>(number);
  }
  *block = t.block;
  *size = t.blockSize;
  *inBlock = index % t.itemsPerBlock;
  return kOk;
}

namespace {

// Item j of a block whose items area (the K optional-area offsets, the
// fixed parts, the areas) starts at areaAt.
StatusCode ParseItem(const NativeTable& t, std::uint32_t table, const std::uint8_t* d,
                     std::uint32_t size, std::uint32_t areaAt, std::uint32_t j, NativeItem* out) {
  NativeItem item{};
  item.present[0] = true;
  const std::uint32_t K = t.parts - 1u;
  const std::uint64_t fixedAt = std::uint64_t{areaAt} + 2u * K;
  const std::uint32_t w0 = t.width[0];
  // A last block may hold fewer items: the item's fixed part must be there.
  if (fixedAt + std::uint64_t{j + 1} * w0 > size) return kDocMalformed;
  const std::uint8_t* fixed = d + fixedAt + std::uint64_t{j} * w0;
  std::memcpy(item.part[0], fixed, std::min<std::uint32_t>(w0, kNativeItemWidth[table][0]));
  const std::uint8_t flags = w0 > 0 ? fixed[0] : 0;
  for (std::uint32_t p = 1; p < kNativeMaxParts && p <= K; ++p) {
    const std::uint8_t bit = static_cast<std::uint8_t>(kPartFlag << (p - 1));
    if ((flags & bit) == 0) continue;
    std::uint64_t rank = 0;
    for (std::uint32_t i = 0; i < j; ++i) {
      if (w0 > 0 && (d[fixedAt + std::uint64_t{i} * w0] & bit) != 0) ++rank;
    }
    const std::uint32_t wp = t.width[p];
    const std::uint64_t partAt = fixedAt + LoadBE16(d + areaAt + 2 * (p - 1)) + rank * wp;
    if (partAt + wp > size) return kDocMalformed;
    if (kNativeItemWidth[table][p] != 0) {
      std::memcpy(item.part[p], d + partAt,
                  std::min<std::uint32_t>(wp, kNativeItemWidth[table][p]));
      item.present[p] = true;
    }
  }
  *out = item;
  return kOk;
}

// Select-list blocks (table 12) start with a header of their own at D =
// record start + H: u8 S (the items area is at D + S), a byte, u16 first and
// u16 last item number.
StatusCode SelectBlockHeader(const std::uint8_t* d, std::uint32_t size, std::uint32_t* areaAt,
                             std::uint32_t* first, std::uint32_t* last) {
  const std::uint32_t h = d[0];
  if (std::uint64_t{h} + 6 > size || h + d[h] > size || d[h] < 6) return kDocMalformed;
  *areaAt = h + d[h];
  *first = LoadBE16(d + h + 2);
  *last = LoadBE16(d + h + 4);
  return kOk;
}

}  // namespace

StatusCode NativeStore_ReadItem(NativeDocState* s, std::uint32_t table, std::uint32_t n,
                                NativeItem* out) noexcept {
  if (s == nullptr || out == nullptr || table >= kNativeTableCount || table == kParaTable)
    return kBadArgument;
  if (n == 0) {
    NativeItem item{};
    item.present[0] = true;
    if (table == 0) item.part[0][1] = kNativeDefaultSizeClass;
    *out = item;
    return kOk;
  }
  if (table == kSelectTable) return NativeStore_ReadSelectItem(s, n - 1, out);
  const std::uint8_t* d = nullptr;
  std::uint32_t size = 0;
  std::uint32_t j = 0;
  const StatusCode r = NativeStore_FetchTableBlock(s, table, n - 1, &d, &size, &j);
  if (IsFailure(r)) return r;
  return ParseItem(s->tables[table], table, d, size, d[0], j, out);
}

StatusCode NativeStore_ReadSelectItem(NativeDocState* s, std::uint32_t key,
                                      NativeItem* out) noexcept {
  if (s == nullptr || out == nullptr) return kBadArgument;
  const std::uint8_t* d = nullptr;
  std::uint32_t size = 0;
  std::uint32_t j = 0;
  StatusCode r = NativeStore_FetchTableBlock(s, kSelectTable, key, &d, &size, &j);
  if (IsFailure(r)) return r;
  std::uint32_t areaAt = 0;
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  r = SelectBlockHeader(d, size, &areaAt, &first, &last);
  if (IsFailure(r)) return r;
  if (key < first || key > last) return kDocMalformed;
  return ParseItem(s->tables[kSelectTable], kSelectTable, d, size, areaAt, key - first, out);
}

StatusCode NativeStore_GetCharFormat(NativeDocState* s, std::uint32_t p, NativeCharFormat* out,
                                     std::uint32_t* runEnd) noexcept {
  if (s == nullptr || out == nullptr) return kBadArgument;
  NativeCharFormat f{};
  f.fontKind = 2;
  f.sizeClass = kNativeDefaultSizeClass;
  std::uint32_t value = 0;
  std::uint32_t start = 0;
  std::uint32_t end = kRunToEnd;
  StatusCode r = NativeStore_SeekRun(s, NativeRange::RunList1, p, &value, &start, &end);
  if (IsFailure(r)) return r;
  if (r != kOk) {
    value = 0;
    end = kRunToEnd;
  }
  NativeItem format{};
  r = NativeStore_ReadItem(s, 7, value, &format);
  if (IsFailure(r)) return r;
  const std::uint8_t b0 = format.part[0][0];
  const std::uint8_t b1 = format.part[0][1];
  if ((b0 & 1) != 0 || (b1 & 1) != 0) f.style |= NativeStyle::Bold;
  if ((b0 & 4) != 0) f.style |= NativeStyle::Underline;
  if ((b0 & 2) != 0) f.style |= (b0 & 8) != 0 ? NativeStyle::Oblique : NativeStyle::Italic;
  if ((b1 & 8) != 0) f.style |= NativeStyle::StrikeOut;
  if ((b1 & 0x10) != 0) f.style |= NativeStyle::Low;
  if ((b1 & 0x20) != 0) f.style |= NativeStyle::High;
  const std::uint16_t fontItem = Split16(format.part[0][2], format.part[1][0]);
  const std::uint16_t pairItem = Split16(format.part[0][3], format.part[1][1]);
  if (fontItem != 0) {
    NativeItem font{};
    r = NativeStore_ReadItem(s, 0, fontItem, &font);
    if (IsFailure(r)) return r;
    const std::uint8_t kind = font.part[0][0] & 0x0F;
    if (kind < 5) f.fontKind = kFontKinds[kind];
    if (font.part[0][1] != 0) f.sizeClass = font.part[0][1];
  }
  if (pairItem != 0) {
    NativeItem pair{};
    r = NativeStore_ReadItem(s, 2, pairItem, &pair);
    if (IsFailure(r)) return r;
    const std::uint16_t fg = Split16(pair.part[0][1], pair.part[1][0]);
    const std::uint16_t bg = Split16(pair.part[1][1], pair.part[2][0]);
    NativeItem colour{};
    if (fg != 0) {
      r = NativeStore_ReadItem(s, 1, fg, &colour);
      if (IsFailure(r)) return r;
      f.style |= NativeStyle::Foreground;
      std::memcpy(f.foreground, colour.part[0] + 1, 3);
    }
    if (bg != 0) {
      r = NativeStore_ReadItem(s, 1, bg, &colour);
      if (IsFailure(r)) return r;
      f.style |= NativeStyle::Background;
      std::memcpy(f.background, colour.part[0] + 1, 3);
    }
  }
  *out = f;
  if (runEnd != nullptr) *runEnd = end;
  return kOk;
}

StatusCode NativeStore_GetParagraphAttributes(NativeDocState* s, std::uint32_t p,
                                              std::uint8_t out[6], std::uint32_t* start,
                                              std::uint32_t* end) noexcept {
  if (s == nullptr || out == nullptr) return kBadArgument;
  const StatusCode r = NativeRun_SeekPosition(s->db, &s->paraAttributes, p, 0);
  if (r != kOk) return r;
  NativeRun_ParaItem(s->paraAttributes, out);
  if (start != nullptr) *start = s->paraAttributes.runStart;
  if (end != nullptr) *end = s->paraAttributes.runEnd;
  return kOk;
}
