#include "engine/formats/razo_doc.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/formats/flow_text.h"
#include "engine/formats/razo_doc_internal.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/swap.h"

namespace {

using RaZoInstance = EngineInstance<RaZoDocState>;

// Header offsets.
constexpr std::uint32_t kOffVersion = 2;
constexpr std::uint32_t kOffByte4 = 4;
constexpr std::uint32_t kOffByte5 = 5;
constexpr std::uint32_t kOffMagic = 8;
constexpr std::uint32_t kOffTextLength = 12;
constexpr std::uint32_t kOffBlocksPerGroup = 16;
constexpr std::uint32_t kOffAnchors = 42;  // list 1
constexpr std::uint32_t kOffListWords = 42;
constexpr std::uint32_t kListWordsSize = 4;  // bytes 42 to 45: both list record numbers

constexpr std::uint32_t kBufferBytes = kRaZoBlockSize + 1;
constexpr std::uint8_t kLf = '\n';
constexpr std::uint8_t kTypeTables = 1;
constexpr std::uint8_t kTypeCoded = 2;
constexpr std::uint8_t kTypeStoredFirst = 4;
constexpr std::uint8_t kTypeStoredLast = 7;
constexpr std::uint8_t kImageBitmap = 1;
constexpr DeviceColour kRuleColour{0, 0, 0};
constexpr DeviceColour kLinkColour{32, 64, 160};

const DbFileOps& DbOf(EngineObject* db) {
  return OpsOf<DbFileOps>(db);
}

// A record lent by the database, given back on scope exit.
class HeldRecord {
 public:
  HeldRecord(EngineObject* db, std::uint32_t index) : db_(db) {
    if (index > 0xFFFF) {
      status_ = kDbFileIndexOutOfRange;
      return;
    }
    void* buffer = nullptr;
    status_ = DbOf(db).readRecord(db, static_cast<std::uint16_t>(index), &size_, &buffer);
    data_ = static_cast<const std::uint8_t*>(buffer);
    if (!IsFailure(status_) && data_ == nullptr) size_ = 0;
  }
  ~HeldRecord() {
    // Giving a lent buffer back cannot fail in a way that matters here.
    if (!IsFailure(status_) && data_ != nullptr)
      (void)DbOf(db_).freeRecordBuffer(db_, const_cast<std::uint8_t*>(data_));
  }
  HeldRecord(const HeldRecord&) = delete;
  HeldRecord& operator=(const HeldRecord&) = delete;

  StatusCode Status() const { return status_; }
  const std::uint8_t* Data() const { return data_; }
  std::uint32_t Size() const { return size_; }

 private:
  EngineObject* db_;
  StatusCode status_ = kOk;
  std::uint32_t size_ = 0;
  const std::uint8_t* data_ = nullptr;
};

// Records what was found: a damaged document is never written to.
StatusCode MarkDamaged(RaZoDocState& s) {
  s.damaged = true;
  return kDocMalformed;
}

bool IsRaZo(const std::uint8_t* type) {
  return std::memcmp(type, kRaZoType, 4) == 0;
}

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

RaZoHeader ParseHeader(const std::uint8_t* p) {
  RaZoHeader h{};
  h.headerLength = LoadBE16(p);
  h.textLength = LoadBE32(p + kOffTextLength);
  h.blocksPerGroup = LoadBE16(p + kOffBlocksPerGroup);
  h.styleFirst = LoadBE16(p + 20);
  h.styleCount = LoadBE16(p + 22);
  h.linkFirst = LoadBE16(p + 24);
  h.linkCount = LoadBE16(p + 26);
  h.blockFirst = LoadBE16(p + 28);
  h.blockCount = LoadBE16(p + 30);
  h.sectionCount = LoadBE16(p + 36);
  h.sectionFirst = LoadBE16(p + 38);
  h.sectionRecords = LoadBE16(p + 40);
  h.anchorsRecord = LoadBE16(p + kOffAnchors);
  h.bookmarksRecord = LoadBE16(p + kOffAnchors + 2);
  h.targetFirst = LoadBE16(p + 46);
  h.targetCount = LoadBE16(p + 48);
  h.imageFirst = LoadBE16(p + 50);
  h.imageCount = LoadBE16(p + 52);
  h.layoutFlags = LoadBE16(p + 54);
  return h;
}

// Cuts every range the header names to the records the database holds, so
// that a header naming records past the end keeps what can be read: a side
// range keeps its records that exist (none when its first record is record
// 0), a list record past the end reads as no list, and the text ends with the
// last block whose record exists. False when anything had to be cut.
bool FitRanges(RaZoHeader& h, std::uint32_t records) {
  bool fits = true;
  auto fit = [&](std::uint16_t first, std::uint16_t& count) {
    if (count == 0) return;
    const std::uint32_t have = first >= 1 && first < records ? records - first : 0;
    if (count > have) {
      count = static_cast<std::uint16_t>(have);
      fits = false;
    }
  };
  fit(h.styleFirst, h.styleCount);
  fit(h.linkFirst, h.linkCount);
  fit(h.blockFirst, h.blockCount);
  fit(h.sectionFirst, h.sectionRecords);
  fit(h.targetFirst, h.targetCount);
  fit(h.imageFirst, h.imageCount);
  for (std::uint16_t* list : {&h.anchorsRecord, &h.bookmarksRecord}) {
    if (*list >= records) {
      *list = 0;
      fits = false;
    }
  }
  // Block b is record b + b / N + 2.
  std::uint64_t blocks = 0;
  while (blocks + blocks / h.blocksPerGroup + 2 < records)
    ++blocks;
  if (h.textLength > blocks * kRaZoBlockSize) {
    h.textLength = static_cast<std::uint32_t>(blocks * kRaZoBlockSize);
    fits = false;
  }
  return fits;
}

void ForgetText(RaZoDocState& s) {
  s.bufferLength[0] = s.bufferLength[1] = 0;
  s.bufferStart[0] = s.bufferStart[1] = 0;
  s.nextBuffer = 0;
  s.group = -1;
}

void ReleaseCaches(RaZoDocState& s) {
  RaZo_ReleaseSide(s, s.styles);
  RaZo_ReleaseSide(s, s.blocks);
  RaZo_ReleaseSide(s, s.links);
  if (s.walk != nullptr) RaZo_ReleaseSide(s, *s.walk);
  s.walkFirstRecord = -1;
}

StatusCode UnlockLists(RaZoDocState& s) {
  return PosList_UnlockAll(s.db, s.lists, static_cast<std::uint32_t>(std::size(s.lists)));
}

// Writes the two list record numbers (bytes 42 to 45) over record 0, only
// where the kept copy, the header length and the record all hold them.
StatusCode WriteBackListWords(RaZoDocState& s) {
  if (s.shortHeader || s.header.headerLength < kOffListWords + kListWordsSize) return kOk;
  std::uint32_t size = 0;
  EngineObject* stream = nullptr;
  StatusCode r = DbOf(s.db).openRecord(s.db, 0, &size, &stream);
  if (IsFailure(r)) return r;
  r = size < kOffListWords + kListWordsSize
          ? kDocMalformed
          : StreamOf(stream).writeAt(stream, kOffListWords, s.stored + kOffListWords,
                                     kListWordsSize, nullptr);
  const StatusCode closed = StreamOf(stream).close(stream);
  return IsFailure(r) ? r : closed;
}

// Close: gives back what is held, stores list record numbers created while
// open and writes them to record 0, then forgets the database.
StatusCode Detach(RaZoDocState& s) {
  ReleaseCaches(s);
  StatusCode first = UnlockLists(s);
  if (s.db != nullptr && s.recordCount != 0 && !s.damaged) {
    const std::uint16_t list0 = s.lists[0].recordNumber;
    const std::uint16_t list1 = s.lists[1].recordNumber;
    if (list0 != s.header.bookmarksRecord || list1 != s.header.anchorsRecord) {
      s.header.bookmarksRecord = list0;
      s.header.anchorsRecord = list1;
      StoreBE16(s.stored + kOffAnchors, list1);
      StoreBE16(s.stored + kOffAnchors + 2, list0);
      s.headerChanged = true;
    }
    if (s.headerChanged) {
      const StatusCode r = WriteBackListWords(s);
      if (IsFailure(r) && !IsFailure(first)) first = r;
    }
  }
  s.headerChanged = false;
  s.db = nullptr;
  s.recordCount = 0;
  s.header = RaZoHeader{};
  std::memset(s.stored, 0, sizeof s.stored);
  std::memset(s.lists, 0, sizeof s.lists);
  ForgetText(s);
  return first;
}

StatusCode DecodeBlock(RaZoDocState& s, std::uint32_t b, std::uint32_t k, std::uint32_t* decoded);

// A text length that the records could not hold was cut to whole blocks: the
// text ends where its blocks stop decoding whole, inside the first short one.
void FindReadableTextEnd(RaZoDocState& s) {
  const std::uint32_t blocks = s.header.textLength / kRaZoBlockSize;
  for (std::uint32_t b = 0; b < blocks; ++b) {
    std::uint32_t decoded = 0;
    if (IsFailure(DecodeBlock(s, b, 0, &decoded))) {
      s.header.textLength = b * kRaZoBlockSize + decoded;
      break;
    }
  }
  ForgetText(s);
}

StatusCode Open(RaZoDocState& s, EngineObject* db) {
  if (db == nullptr) return kBadArgument;
  if (s.db != nullptr) {
    const StatusCode r = Detach(s);
    if (IsFailure(r)) return r;
  }
  for (std::uint8_t*& buffer : s.buffer) {
    if (buffer != nullptr) continue;
    const StatusCode r = Engine_AllocArray<std::uint8_t>(kBufferBytes, &buffer);
    if (IsFailure(r)) {
      Engine_Free(s.buffer[0]);
      Engine_Free(s.buffer[1]);
      s.buffer[0] = s.buffer[1] = nullptr;
      return r;
    }
    buffer[kRaZoBlockSize] = 0;
  }
  s.db = db;
  s.recordCount = 0;
  s.damaged = false;
  s.shortHeader = false;
  s.headerChanged = false;
  s.header = RaZoHeader{};
  std::memset(s.stored, 0, sizeof s.stored);
  std::memset(s.lists, 0, sizeof s.lists);
  DocHandler_InitCharStyle(&s.lastStyle.font, &s.lastStyle.format);
  ForgetText(s);
  std::uint16_t count = 0;
  StatusCode r = DbOf(db).getInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count);
  if (IsFailure(r)) return r;
  if (count == 0) return kOk;
  const HeldRecord record0(db, 0);
  if (IsFailure(record0.Status())) return record0.Status();
  const std::uint8_t* p = record0.Data();
  const std::uint32_t size = record0.Size();
  const bool valid = size >= kRaZoShortHeader && LoadBE16(p) >= kRaZoShortHeader &&
                     LoadBE16(p + kOffVersion) == 1 && p[kOffByte4] <= 1 && p[kOffByte5] == 0 &&
                     IsRaZo(p + kOffMagic) && LoadBE16(p + kOffBlocksPerGroup) != 0;
  if (!valid) {
    // An invalid header: the document reads as empty and is never written.
    s.damaged = true;
    return kDocMalformed;
  }
  s.shortHeader = size < kRaZoHeaderCopy || LoadBE16(p) < kRaZoHeaderCopy;
  std::memcpy(s.stored, p, s.shortHeader ? kRaZoShortHeader : kRaZoHeaderCopy);
  s.header = ParseHeader(s.stored);
  // A header that names records the database does not hold keeps what can be
  // read; the document is never written.
  const std::uint32_t namedText = s.header.textLength;
  if (!FitRanges(s.header, count)) s.damaged = true;
  s.recordCount = count;
  if (s.header.textLength < namedText) FindReadableTextEnd(s);
  // Text whose first block cannot be read has nothing to show where the
  // reader starts: the document cannot be opened. A later block that cannot
  // be read fails where the reader meets it.
  if (namedText > 0) {
    const bool firstRead = s.header.textLength > 0 && !IsFailure(DecodeBlock(s, 0, 0, nullptr));
    ForgetText(s);
    if (!firstRead) {
      s.damaged = true;
      s.header = RaZoHeader{};  // it reads as empty
      return kDocMalformed;
    }
  }
  s.lists[0].recordNumber = s.header.bookmarksRecord;
  s.lists[1].recordNumber = s.header.anchorsRecord;
  return kOk;
}

// --- text --------------------------------------------------------------------

// Decodes block b into buffer k; *decoded (when asked) receives the bytes a
// block that is only too short did decode, 0 for any other failure.
StatusCode DecodeBlock(RaZoDocState& s, std::uint32_t b, std::uint32_t k, std::uint32_t* decoded) {
  if (decoded) *decoded = 0;
  const std::uint32_t n = s.header.blocksPerGroup;
  const std::uint32_t g = b / n;
  const std::uint32_t expected = std::min(kRaZoBlockSize, s.header.textLength - b * kRaZoBlockSize);
  std::uint8_t* out = s.buffer[k];
  s.bufferLength[k] = 0;
  const HeldRecord block(s.db, b + g + 2);
  if (IsFailure(block.Status())) return block.Status();
  const std::uint8_t* d = block.Data();
  if (block.Size() < 4 || d[0] < 4) return MarkDamaged(s);
  const std::uint32_t c = LoadBE16(d + 2);
  if (block.Size() < 4ull * c + 4) return MarkDamaged(s);
  std::uint32_t length = 0;
  const std::uint8_t type = d[1];
  if (type == kTypeCoded) {
    if (s.group != static_cast<std::int32_t>(g)) {
      s.group = -1;
      const HeldRecord tables(s.db, g * (n + 1) + 1);
      if (IsFailure(tables.Status())) return tables.Status();
      const std::uint8_t* t = tables.Data();
      if (tables.Size() < 4 || t[0] < 4 || t[1] != kTypeTables ||
          tables.Size() < 4ull * LoadBE16(t + 2) + 4 ||
          IsFailure(DeflateData_ReadTables(&s.decoder, t + 4, LoadBE16(t + 2)))) {
        s.damaged = true;
        return kDocMalformed;
      }
      s.group = static_cast<std::int32_t>(g);
    }
    std::uint16_t got = 0;
    const StatusCode r = DeflateData_DecodeBlock(&s.decoder, d + 4, c, out, kRaZoBlockSize, &got);
    // A literal that finds the buffer full means the block is longer than a
    // block: its first 4096 bytes are the block.
    if (IsFailure(r) && !(s.decoder.status == DeflateDataStatus::Ok && got == kRaZoBlockSize))
      return MarkDamaged(s);
    length = got;
  } else if (type >= kTypeStoredFirst && type <= kTypeStoredLast) {
    const std::uint32_t pad = type - kTypeStoredFirst;
    if (c > kRaZoBlockSize / 4) {
      length = kRaZoBlockSize;
    } else {
      if (4 * c < pad) return MarkDamaged(s);
      length = 4 * c - pad;
    }
    std::memcpy(out, d + 4, length);
  } else {
    (void)MarkDamaged(s);  // an unknown block type reads as unreadable text
    return kFailed;
  }
  if (length < expected) {
    if (decoded) *decoded = length;
    return MarkDamaged(s);
  }
  s.bufferStart[k] = b * kRaZoBlockSize;
  s.bufferLength[k] = expected;
  return kOk;
}

// The buffer holding position (before: start < p <= end), or -1.
int BufferHolding(const RaZoDocState& s, std::uint32_t p, bool before) {
  for (int k = 0; k < 2; ++k) {
    if (s.bufferLength[k] == 0) continue;
    const std::uint32_t start = s.bufferStart[k];
    const std::uint32_t end = start + s.bufferLength[k];
    if (before ? (start < p && p <= end) : (start <= p && p < end)) return k;
  }
  return -1;
}

// The buffer holding p (before: p - 1), decoding its block when needed.
StatusCode Window(RaZoDocState& s, std::uint32_t p, bool before, int* out) {
  int k = BufferHolding(s, p, before);
  if (k < 0) {
    if (s.buffer[s.nextBuffer] == nullptr || s.db == nullptr) return kFailed;
    k = static_cast<int>(s.nextBuffer);
    const StatusCode r =
        DecodeBlock(s, (before ? p - 1 : p) / kRaZoBlockSize, s.nextBuffer, nullptr);
    if (IsFailure(r)) return r;
  }
  s.nextBuffer = 1u - static_cast<std::uint32_t>(k);
  *out = k;
  return kOk;
}

// The byte at p; false when there is none.
bool ByteAt(RaZoDocState& s, std::uint32_t p, std::uint8_t* c) {
  int k = 0;
  if (p >= s.header.textLength || IsFailure(Window(s, p, false, &k))) return false;
  *c = s.buffer[k][p - s.bufferStart[k]];
  return true;
}

// --- sections ----------------------------------------------------------------

// Walks the boundaries of a section-index record.
class SectionWalk {
 public:
  bool Init(const std::uint8_t* d, std::uint32_t size) {
    if (size < 10) return false;
    words_ = LoadBE16(d + 8);
    if (size < 10ull + 2ull * words_ || words_ == 0) return false;
    d_ = d;
    high_ = LoadBE16(d);
    lastHigh_ = LoadBE16(d + 2);
    firstSection_ = LoadBE16(d + 4);
    lastSection_ = LoadBE16(d + 6);
    return firstSection_ <= lastSection_;
  }
  // The next boundary; false at the end. bad_ is set for damage.
  bool Next(std::uint32_t* boundary) {
    if (i_ >= words_) return false;
    std::uint32_t low = Word(i_++);
    if (started_ && low == previousLow_) {
      // Escape: an explicit high and low word follow.
      if (i_ + 2 > words_) {
        bad_ = true;
        return false;
      }
      high_ = Word(i_++);
      low = Word(i_++);
    } else if (started_ && low < previousLow_) {
      ++high_;
    }
    const std::uint32_t value = (high_ << 16) | low;
    if (high_ > 0xFFFF || (started_ && value <= previous_)) {
      bad_ = true;
      return false;
    }
    started_ = true;
    previousLow_ = low;
    previous_ = value;
    *boundary = value;
    return true;
  }
  bool Finished() const { return !bad_ && i_ >= words_ && high_ == lastHigh_; }
  bool Bad() const { return bad_; }
  std::uint32_t FirstSection() const { return firstSection_; }
  std::uint32_t LastSection() const { return lastSection_; }

 private:
  std::uint32_t Word(std::uint32_t i) const { return LoadBE16(d_ + 10 + 2 * i); }
  const std::uint8_t* d_ = nullptr;
  std::uint32_t words_ = 0, i_ = 0;
  std::uint32_t high_ = 0, lastHigh_ = 0, previousLow_ = 0, previous_ = 0;
  std::uint32_t firstSection_ = 0, lastSection_ = 0;
  bool started_ = false, bad_ = false;
};

// The boundaries of record `index`: first and last, checked whole.
StatusCode SectionBounds(RaZoDocState& s, const HeldRecord& r, std::uint32_t* first,
                         std::uint32_t* last, std::uint32_t* firstSection,
                         std::uint32_t* lastSection) {
  if (IsFailure(r.Status())) return r.Status();
  SectionWalk w;
  std::uint32_t b = 0, count = 0;
  if (!w.Init(r.Data(), r.Size())) return MarkDamaged(s);
  while (w.Next(&b)) {
    if (count++ == 0) *first = b;
    *last = b;
  }
  // A record describes sections first..last: it needs one boundary more.
  if (!w.Finished() || count < w.LastSection() - w.FirstSection() + 2) return MarkDamaged(s);
  *firstSection = w.FirstSection();
  *lastSection = w.LastSection();
  return kOk;
}

// Boundaries j and j + 1 of a checked record.
void SectionPair(const HeldRecord& r, std::uint32_t j, std::uint32_t* start, std::uint32_t* end) {
  SectionWalk w;
  std::uint32_t b = 0;
  (void)w.Init(r.Data(), r.Size());  // checked by SectionBounds
  for (std::uint32_t k = 0; k <= j + 1 && w.Next(&b); ++k) {
    if (k == j) *start = b;
    if (k == j + 1) *end = b;
  }
}

bool OneSection(const RaZoDocState& s) {
  return s.header.sectionCount < 2 || s.header.sectionRecords == 0;
}

// --- block lines -------------------------------------------------------------

// Width, height and indent of a block line at q within the free width a.
struct BlockBox {
  int width = 0;
  int height = 0;
  int indent = 0;
  int border = 0;  // images: frames on each side, the link frame included
  bool linked = false;
  StatusCode alignment = kDocBlockLeft;  // the probe's answer
};

// Is there a link at q?
bool LinkedAt(RaZoDocState& s, std::uint32_t q) {
  if (IsFailure(RaZo_FindSide(s, RaZoSide::Link, s.links, q)) || s.links.index < 0) return false;
  return RaZo_LinkCovering(s.links, q) >= 0;
}

// The image entry of a held block-line record: width, height, image k.
bool ImageEntry(RaZoDocState& s, const RaZoBlock& b, std::uint16_t* w, std::uint16_t* h,
                std::uint16_t* k) {
  const RaZoSideRecord& r = s.blocks;
  if (!b.hasExtra || r.data == nullptr || std::uint64_t{b.entryOffset} + 8 > r.size ||
      LoadBE16(r.data + b.entryOffset) < 8 ||
      LoadBE16(r.data + b.entryOffset + 6) >= s.header.imageCount) {
    s.damaged = true;
    return false;
  }
  const std::uint8_t* e = r.data + b.entryOffset;
  *w = LoadBE16(e + 2);
  *h = LoadBE16(e + 4);
  *k = LoadBE16(e + 6);
  return true;
}

// Lays out block b at q in free width a; false for damage. Kinds other
// than rules and images answer a zero box.
bool MeasureBlock(RaZoDocState& s, const RaZoBlock& b, std::uint32_t q, int a, BlockBox* out) {
  BlockBox box;
  a = std::max(a, 0);
  const bool rightFlag = (s.settings.flags & DocFlag::RightAlign) != 0;
  int align = 0;  // 0 left, 1 centred, 2 right
  if (b.kind == RaZoBlockKind::Rule) {
    const std::uint16_t word = b.hasExtra ? b.extra : 0x8064;
    box.width = (word & 0x8000) ? std::min(word & 0x7FFF, 100) * a / 100 : std::min<int>(word, a);
    box.height = (b.flags & 15) + 4;
    const int bits = b.flags & 0x60;
    align = bits == 0 ? 1 : bits == 0x20 ? 2 : 0;
  } else if (b.kind == RaZoBlockKind::Image) {
    std::uint16_t w = 0, h = 0, k = 0;
    if (!ImageEntry(s, b, &w, &h, &k)) return false;
    int width = w, height = h;
    if (s.settings.flags & DocFlag::DoubleImages) width *= 2, height *= 2;
    box.border = (b.flags & 12) >> 2;
    box.linked = LinkedAt(s, q);
    if (box.linked) ++box.border;
    box.width = width + 2 * box.border;
    box.height = height + 2 * box.border;
    const int bits = b.flags & 3;
    align = bits == 1 ? 2 : bits == 2 ? 1 : 0;
  } else {
    *out = box;
    return true;
  }
  box.indent = align == 1 ? (a - box.width) / 2 : align == 2 || rightFlag ? a - box.width : 0;
  box.alignment = align == 1 ? kDocBlockCentre : align == 2 ? kDocBlockRight : kDocBlockLeft;
  *out = box;
  return true;
}

// A block line of a drawable kind at q (a LF with a block-line entry).
bool BlockLineAt(RaZoDocState& s, std::uint32_t q, RaZoBlock* b) {
  std::uint8_t c = 0;
  if (!ByteAt(s, q, &c) || c != kLf) return false;
  if (RaZo_BlockAt(s, q, b) != kOk) return false;
  return b->kind == RaZoBlockKind::Rule || b->kind == RaZoBlockKind::Image;
}

StatusCode DrawImageRecord(RaZoDocState& s, EngineObject* device, DeviceContext ctx, int x, int y,
                           std::uint16_t k) {
  const HeldRecord r(s.db, std::uint32_t{s.header.imageFirst} + k);
  if (IsFailure(r.Status())) return r.Status();
  const std::uint8_t* d = r.Data();
  if (r.Size() <= 2 || d[0] <= 1 || d[0] >= r.Size()) return MarkDamaged(s);
  if (d[1] != kImageBitmap) return kOk;  // a kind the device does not draw
  const DevicePalmBitmap bitmap{d + d[0], r.Size() - d[0]};
  const std::int32_t option = (s.settings.flags & DocFlag::DoubleImages) ? kImageDoubleSize : 0;
  return DeviceOf(device).drawImage(device, ctx, Clamp16(x), Clamp16(y),
                                    DeviceImageKind::PalmBitmap, option, &bitmap);
}

// --- link targets ------------------------------------------------------------

// Copies entry bytes into a name slot, replacing a buffer that is too small.
StatusCode TakeName(const std::uint8_t* bytes, std::uint32_t n, char** buffer,
                    std::uint16_t* capacity, std::uint16_t* flags, std::uint16_t newFlag) {
  if (*buffer == nullptr || *capacity < n + 1) {
    char* fresh = nullptr;
    const StatusCode r = Engine_AllocArray<char>(n + 1, &fresh);
    if (IsFailure(r)) return r;
    if (*flags & newFlag) Engine_Free(*buffer);
    *buffer = fresh;
    *capacity = static_cast<std::uint16_t>(n + 1);
    *flags |= newFlag;
  }
  std::memcpy(*buffer, bytes, n);
  (*buffer)[n] = '\0';
  return kOk;
}

StatusCode ResolveTarget(RaZoDocState& s, RaZoTargetQuery* q) {
  if (q == nullptr) return kNullOutPointer;
  if (q->target <= 0xFEFFFFFFu || s.header.targetCount == 0 || s.db == nullptr) return kFailed;
  const std::uint32_t d = q->target & 0x3FF;
  const std::uint32_t c = (q->target >> 10) & 0x3FFF;
  char* const callerFirst = q->firstName;
  char* const callerSecond = q->secondName;
  const std::uint16_t callerFirstCap = q->firstCapacity, callerSecondCap = q->secondCapacity;
  q->flags = static_cast<std::uint16_t>(q->flags &
                                        ~(RaZoTargetFlag::FirstFound | RaZoTargetFlag::SecondFound |
                                          RaZoTargetFlag::NewFirst | RaZoTargetFlag::NewSecond));
  auto undo = [&](StatusCode r) {
    if (q->flags & RaZoTargetFlag::NewFirst) Engine_Free(q->firstName);
    if (q->flags & RaZoTargetFlag::NewSecond) Engine_Free(q->secondName);
    q->firstName = callerFirst;
    q->secondName = callerSecond;
    q->firstCapacity = callerFirstCap;
    q->secondCapacity = callerSecondCap;
    q->flags = static_cast<std::uint16_t>(
        q->flags & ~(RaZoTargetFlag::NewFirst | RaZoTargetFlag::NewSecond |
                     RaZoTargetFlag::FirstFound | RaZoTargetFlag::SecondFound));
    return r;
  };
  const bool wantSecond = c != 0;
  std::uint32_t entry = 0;
  for (std::uint32_t k = 0; k < s.header.targetCount; ++k) {
    const HeldRecord r(s.db, std::uint32_t{s.header.targetFirst} + k);
    if (IsFailure(r.Status())) return undo(r.Status());
    if (r.Size() < 8) return undo(MarkDamaged(s));
    const std::uint32_t m = LoadBE16(r.Data() + 4);
    std::uint32_t at = 8;
    for (std::uint32_t i = 0; i < m; ++i, ++entry) {
      if (at >= r.Size()) return undo(MarkDamaged(s));
      const std::uint32_t n = r.Data()[at];
      if (at + 1 + n > r.Size()) return undo(MarkDamaged(s));
      const std::uint8_t* bytes = r.Data() + at + 1;
      StatusCode st = kOk;
      if (entry == d) {
        st = TakeName(bytes, n, &q->firstName, &q->firstCapacity, &q->flags,
                      RaZoTargetFlag::NewFirst);
        q->flags |= RaZoTargetFlag::FirstFound;
      }
      if (!IsFailure(st) && wantSecond && entry == c - 1) {
        st = TakeName(bytes, n, &q->secondName, &q->secondCapacity, &q->flags,
                      RaZoTargetFlag::NewSecond);
        q->flags |= RaZoTargetFlag::SecondFound;
      }
      if (IsFailure(st)) return undo(st);
      at += 1 + n;
    }
  }
  const bool done = (q->flags & RaZoTargetFlag::FirstFound) &&
                    (!wantSecond || (q->flags & RaZoTargetFlag::SecondFound));
  return done ? kOk : undo(kFailed);
}

StatusCode FindAnchor(RaZoDocState& s, RaZoTargetQuery* q) {
  if (q == nullptr) return kNullOutPointer;
  if (!(q->flags & RaZoTargetFlag::SecondFound) || q->secondName == nullptr ||
      q->secondName[0] == '\0') {
    q->target = 0;
    return kOk;
  }
  std::uint16_t i = 0;
  StatusCode r = PosList_Find(s.db, &s.lists[1], q->secondName, &i);
  if (r != kOk) {
    q->target = 0;
    return r;
  }
  std::uint32_t value = 0;
  r = PosList_GetEntry(s.db, &s.lists[1], i, nullptr, nullptr, 0, nullptr, &value);
  if (IsFailure(r)) return r;
  q->target = value;
  return kOk;
}

// Control 0: the target's two names as the host's link description: the
// first name (the document to open) as text[0], the second (the anchor in
// it) as text[1], both new allocations the caller frees.
StatusCode DescribeTarget(RaZoDocState& s, std::uint32_t target, DocLinkTarget* d) {
  if (d == nullptr) return kNullOutPointer;
  RaZoTargetQuery q{target, nullptr, nullptr, 0, 0, 0};
  const StatusCode r = ResolveTarget(s, &q);
  if (IsFailure(r)) return r;
  *d = DocLinkTarget{};
  d->value = target;
  if (q.flags & RaZoTargetFlag::FirstFound) {
    d->text[0] = q.firstName;
    d->length[0] =
        static_cast<std::uint16_t>(q.firstName != nullptr ? std::strlen(q.firstName) : 0);
    d->flags |= DocLinkFlag::HasText0 |
                ((q.flags & RaZoTargetFlag::NewFirst) ? DocLinkFlag::OwnedText0 : 0);
  }
  if (q.flags & RaZoTargetFlag::SecondFound) {
    d->text[1] = q.secondName;
    d->length[1] =
        static_cast<std::uint16_t>(q.secondName != nullptr ? std::strlen(q.secondName) : 0);
    d->flags |=
        DocLinkFlag::HasName | ((q.flags & RaZoTargetFlag::NewSecond) ? DocLinkFlag::OwnedName : 0);
  }
  return r;
}

// Control 1: the anchor named by text[1] among the anchors (position list
// 1) into value; 0 when there is no name or no such anchor.
StatusCode ResolveDescribed(RaZoDocState& s, DocLinkTarget* d) {
  if (d == nullptr) return kNullOutPointer;
  const bool named = (d->flags & DocLinkFlag::HasName) != 0;
  RaZoTargetQuery q{0,
                    nullptr,
                    named ? d->text[1] : nullptr,
                    static_cast<std::uint16_t>(named ? RaZoTargetFlag::SecondFound : 0),
                    0,
                    0};
  const StatusCode r = FindAnchor(s, &q);
  if (!IsFailure(r)) d->value = q.target;
  return r;
}

// --- link walking ------------------------------------------------------------

// Moves the cursor to the first link whose start is at or after p (on from
// record rec); false when there is none.
bool WalkLocate(RaZoDocState& s, std::uint32_t p, StatusCode* status) {
  RaZoSideRecord& w = *s.walk;
  const std::int32_t count = s.header.linkCount;
  std::int32_t lo = 0, hi = count;
  while (lo < hi) {  // the first record whose end lies after p
    const std::int32_t mid = lo + (hi - lo) / 2;
    const StatusCode r = RaZo_LoadSide(s, RaZoSide::Link, w, mid);
    if (IsFailure(r)) {
      *status = r;
      return false;
    }
    if (w.end <= p) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  for (std::int32_t rec = lo; rec < count; ++rec) {
    const StatusCode r = RaZo_LoadSide(s, RaZoSide::Link, w, rec);
    if (IsFailure(r)) {
      *status = r;
      return false;
    }
    const std::uint32_t i =
        static_cast<std::uint32_t>(std::lower_bound(w.pos, w.pos + w.count, p) - w.pos);
    if (i < w.count) {
      s.walkEntry = i;
      return true;
    }
  }
  return false;
}

// Steps the cursor by one link; false at either end.
bool WalkStep(RaZoDocState& s, bool forward, StatusCode* status) {
  RaZoSideRecord& w = *s.walk;
  if (forward ? s.walkEntry + 1 < w.count : s.walkEntry > 0) {
    s.walkEntry = forward ? s.walkEntry + 1 : s.walkEntry - 1;
    return true;
  }
  const std::int32_t here = w.index;
  for (std::int32_t rec = here + (forward ? 1 : -1); rec >= 0 && rec < s.header.linkCount;
       rec += forward ? 1 : -1) {
    const StatusCode r = RaZo_LoadSide(s, RaZoSide::Link, w, rec);
    if (IsFailure(r)) {
      *status = r;
      return false;
    }
    if (w.count > 0) {
      s.walkEntry = forward ? 0 : w.count - 1;
      return true;
    }
  }
  // Back where it was: the cursor stays on its link.
  if (here >= 0) {
    const StatusCode r = RaZo_LoadSide(s, RaZoSide::Link, w, here);
    if (IsFailure(r)) *status = r;
  }
  return false;
}

bool InWindow(const RaZoDocState& s, const LinkRange& range) {
  const std::uint32_t start = s.walk->pos[s.walkEntry];
  return start >= range.windowStart && start < range.windowEnd;
}

StatusCode WalkAnswer(RaZoDocState& s, LinkRange* range) {
  RaZo_LinkEntry(*s.walk, s.walkEntry, &range->linkStart, &range->linkEnd, nullptr);
  return kOk;
}

StatusCode WalkLinks(RaZoDocState& s, std::uint16_t code, LinkRange* range) {
  if (code == DocControl::LinkWalkLast) {  // 18: give the cursor's record back
    if (s.walk != nullptr) RaZo_ReleaseSide(s, *s.walk);
    s.walkFirstRecord = -1;
    return kOk;
  }
  if (range == nullptr) return kNullOutPointer;
  if (s.walk == nullptr) {
    if (code != DocControl::LinkWalkFirst) return kNoMore;
    const StatusCode r = Engine_AllocArray<RaZoSideRecord>(1, &s.walk);
    if (IsFailure(r)) return r;
    std::memset(static_cast<void*>(s.walk), 0, sizeof *s.walk);
    s.walk->index = -1;
  }
  StatusCode status = kOk;
  RaZoSideRecord& w = *s.walk;
  switch (code) {
    case 13: {  // locate the window's first link
      s.walkFirstRecord = -1;
      if (s.header.linkCount == 0 || s.db == nullptr) return kNoMore;
      if (!WalkLocate(s, range->windowStart, &status) || !InWindow(s, *range))
        return IsFailure(status) ? status : kNoMore;
      s.walkFirstRecord = w.index;
      s.walkFirstEntry = s.walkEntry;
      return WalkAnswer(s, range);
    }
    case 14: {  // back to the first link of the window
      if (s.walkFirstRecord < 0) return kNoMore;
      status = RaZo_LoadSide(s, RaZoSide::Link, w, s.walkFirstRecord);
      if (IsFailure(status)) return status;
      if (w.index < 0 || s.walkFirstEntry >= w.count) return kNoMore;
      s.walkEntry = s.walkFirstEntry;
      return WalkAnswer(s, range);
    }
    case 15:
    case 16: {  // previous, next
      if (w.index < 0 || s.walkEntry >= w.count) return kNoMore;
      const std::int32_t rec = w.index;
      const std::uint32_t entry = s.walkEntry;
      if (!WalkStep(s, code == 16, &status) || !InWindow(s, *range)) {
        if (IsFailure(status)) return status;
        // Stay on the link the cursor was on.
        status = RaZo_LoadSide(s, RaZoSide::Link, w, rec);
        if (IsFailure(status)) return status;
        s.walkEntry = entry;
        return kNoMore;
      }
      return WalkAnswer(s, range);
    }
    case 17: {  // the last link of the window
      if (w.index < 0 || s.walkEntry >= w.count) return kNoMore;
      for (;;) {
        const std::int32_t rec = w.index;
        const std::uint32_t entry = s.walkEntry;
        if (!WalkStep(s, true, &status) || !InWindow(s, *range)) {
          if (IsFailure(status)) return status;
          status = RaZo_LoadSide(s, RaZoSide::Link, w, rec);
          if (IsFailure(status)) return status;
          s.walkEntry = entry;
          break;
        }
      }
      if (!InWindow(s, *range)) return kNoMore;
      return WalkAnswer(s, range);
    }
    default:
      return kNotSupported;
  }
}

}  // namespace

RaZoDocState* RaZo_Body(EngineObject* handler) noexcept {
  return handler != nullptr ? static_cast<RaZoDocState*>(handler->state) : nullptr;
}

StatusCode RaZoDoc_Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  RaZoInstance* instance = nullptr;
  const StatusCode r = Engine_AllocArray<RaZoInstance>(1, &instance);
  if (IsFailure(r)) return r;
  std::memset(static_cast<void*>(instance), 0, sizeof *instance);
  instance->header = {&instance->body, RaZoDocModule.ops};
  RaZoDocState& s = instance->body;
  s.group = -1;
  s.styles.index = s.blocks.index = s.links.index = -1;
  s.walkFirstRecord = -1;
  DocHandler_InitCharStyle(&s.lastStyle.font, &s.lastStyle.format);
  DocHandler_ResetSettings(&s.settings);
  *out = &instance->header;
  return kOk;
}

StatusCode RaZoDoc_Destroy(EngineObject* handler) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  const StatusCode r = Detach(*s);
  Engine_Free(s->walk);
  Engine_Free(s->buffer[0]);
  Engine_Free(s->buffer[1]);
  Engine_Free(handler);
  return r;
}

StatusCode RaZoDoc_Command(EngineObject* handler, std::uint32_t code, void* object,
                           std::uint32_t value) noexcept {
  code &= 0xFFFF;
  switch (code) {
    case DocCommand::ProbeHeader:
    case DocCommand::ProbeStream:
    case DocCommand::ProbeDatabase:
      return DocHandler_ProbeDatabaseType(
          code, object, value,
          [](const std::uint8_t* type, const std::uint8_t*) { return IsRaZo(type); });
    default:
      break;
  }
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kMalformed;
  switch (code) {
    case DocCommand::Close:
      return Detach(*s);
    case DocCommand::OpenDatabase:
      return Open(*s, static_cast<EngineObject*>(object));
    case DocCommand::ReplaceDatabase: {
      // Close forgot the document along with its database (a reopen in
      // another mode sends Close first): read it again from the new one.
      // Damage found before is kept: the same file stays unwritten.
      if (s->db == nullptr) {
        const bool damaged = s->damaged;
        const StatusCode r = Open(*s, static_cast<EngineObject*>(object));
        s->damaged = s->damaged || damaged;
        return r;
      }
      // Records lent by the old database go back to it first.
      ReleaseCaches(*s);
      const StatusCode r = UnlockLists(*s);
      s->db = static_cast<EngineObject*>(object);
      return r;
    }
    default:
      return kMalformed;
  }
}

StatusCode RaZoDoc_GetSectionInfo(EngineObject* handler, std::uint16_t* policy,
                                  std::uint16_t* count) noexcept {
  const RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  const std::uint16_t f = s->header.layoutFlags;
  if (policy) *policy = (f & 1) ? 0 : (f & 2) ? 2 : 1;
  if (count) *count = std::max<std::uint16_t>(s->header.sectionCount, 1);
  return kOk;
}

StatusCode RaZoDoc_GetTextLength(EngineObject* handler, std::uint32_t* length) noexcept {
  const RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  if (length == nullptr) return kNullOutPointer;
  *length = s->header.textLength;
  return kOk;
}

StatusCode RaZoDoc_GetText(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                           std::uint32_t* length) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  if (text == nullptr || length == nullptr) return kNullOutPointer;
  int k = 0;
  if (position >= s->header.textLength || IsFailure(Window(*s, position, false, &k))) {
    const bool past = position >= s->header.textLength;
    *text = nullptr;
    *length = 0;
    return past ? kOk : kFailed;
  }
  const std::uint32_t offset = position - s->bufferStart[k];
  *length = std::min(*length, s->bufferLength[k] - offset);
  *text = s->buffer[k] + offset;
  return kOk;
}

StatusCode RaZoDoc_GetTextBefore(EngineObject* handler, std::uint32_t position,
                                 const std::uint8_t** text, std::uint32_t* length) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  if (text == nullptr || length == nullptr) return kNullOutPointer;
  const bool none = position == 0 || position > s->header.textLength;
  int k = 0;
  if (none || IsFailure(Window(*s, position, true, &k))) {
    *text = nullptr;
    *length = 0;
    return none ? kOk : kFailed;
  }
  const std::uint32_t offset = position - s->bufferStart[k];
  *length = std::min(*length, offset);
  *text = s->buffer[k] + offset - *length;
  return kOk;
}

StatusCode RaZoDoc_GetSectionRange(EngineObject* handler, std::int16_t section,
                                   std::uint32_t* start, std::uint32_t* end) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  if (start == nullptr || end == nullptr) return kNullOutPointer;
  if (section < 0) return kNoMore;
  const auto k = static_cast<std::uint32_t>(section);
  if (OneSection(*s)) {
    if (k != 0) return kNoMore;
    *start = 0;
    *end = s->header.textLength;
    return kOk;
  }
  if (k >= s->header.sectionCount || s->db == nullptr) return kNoMore;
  std::int32_t lo = 0, hi = s->header.sectionRecords - 1;
  while (lo <= hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    const HeldRecord r(s->db, std::uint32_t{s->header.sectionFirst} + mid);
    std::uint32_t b0 = 0, bn = 0, first = 0, last = 0;
    const StatusCode st = SectionBounds(*s, r, &b0, &bn, &first, &last);
    if (IsFailure(st)) return st;
    if (k < first) {
      hi = mid - 1;
    } else if (k > last) {
      lo = mid + 1;
    } else {
      SectionPair(r, k - first, start, end);
      return kOk;
    }
  }
  return kNoMore;
}

StatusCode RaZoDoc_FindSection(EngineObject* handler, std::uint32_t position, std::int16_t* section,
                               std::uint32_t* start, std::uint32_t* end) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  if (position >= s->header.textLength) return kNoMore;
  if (OneSection(*s)) {
    if (section) *section = 0;
    if (start) *start = 0;
    if (end) *end = s->header.textLength;
    return kOk;
  }
  std::int32_t lo = 0, hi = s->header.sectionRecords - 1;
  while (lo <= hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    const HeldRecord r(s->db, std::uint32_t{s->header.sectionFirst} + mid);
    std::uint32_t b0 = 0, bn = 0, first = 0, last = 0;
    const StatusCode st = SectionBounds(*s, r, &b0, &bn, &first, &last);
    if (IsFailure(st)) return st;
    if (position < b0) {
      hi = mid - 1;
    } else if (position >= bn) {
      lo = mid + 1;
    } else {
      SectionWalk w;
      (void)w.Init(r.Data(), r.Size());  // checked by SectionBounds
      std::uint32_t a = 0, b = 0, step = 0;
      (void)w.Next(&a);
      while (w.Next(&b) && position >= b) {
        a = b;
        ++step;
      }
      const std::uint32_t number = first + step;
      if (number >= s->header.sectionCount || number > 0x7FFF) return MarkDamaged(*s);
      if (section) *section = static_cast<std::int16_t>(number);
      if (start) *start = a;
      if (end) *end = b;
      return kOk;
    }
  }
  return kNoMore;
}

StatusCode RaZoDoc_GetCharStyle(EngineObject* handler, EngineObject*, std::uint32_t position,
                                DeviceFontSpec* font, CharFormat* format,
                                std::uint32_t* runEnd) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  if (runEnd == nullptr) return kNullOutPointer;
  CharStyle style{};
  std::uint32_t end = 0;
  if (RaZo_StyleAt(*s, position, &style, &end) != kOk) {
    if (font) *font = DeviceFontSpec{0, 12, 0, {}, {}};
    if (format) *format = s->lastStyle.format;
    *runEnd = kRunToEnd;
    return kOk;
  }
  if (style.format.markerShape != 0) {
    // A marker belongs to the first line of a paragraph that has text.
    std::uint8_t at = 0, before = kLf;
    const bool startsParagraph =
        position == 0 || (ByteAt(*s, position - 1, &before) && before == kLf);
    if (!startsParagraph || (ByteAt(*s, position, &at) && at == kLf)) style.format.markerShape = 0;
  }
  s->lastStyle = style;
  if (font) *font = style.font;
  if (format) *format = style.format;
  *runEnd = end;
  return kOk;
}

StatusCode RaZoDoc_GetLinkAt(EngineObject* handler, std::uint32_t position, std::uint32_t* start,
                             std::uint32_t* end, std::uint32_t* target) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  const StatusCode r = RaZo_FindSide(*s, RaZoSide::Link, s->links, position);
  if (IsFailure(r)) return r;
  const std::int32_t i = r == kOk ? RaZo_LinkCovering(s->links, position) : -1;
  if (i < 0) return kFailed;
  std::uint32_t a = 0, b = 0, t = 0;
  RaZo_LinkEntry(s->links, static_cast<std::uint32_t>(i), &a, &b, &t);
  if (start) *start = a;
  if (end) *end = b;
  if (target) *target = t;
  return (t >> 24) == 0xFF ? kDocLinkHostCode : kOk;
}

StatusCode RaZoDoc_LayoutLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                              std::uint32_t start, std::uint32_t end, std::int16_t width,
                              std::uint32_t* nextStart, LineMetrics* metrics) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  const bool probe = end > start && end - start == 1 && width == 0 && nextStart == nullptr;
  if (!probe)
    return DocHandler_LayoutLine(handler, device, ctx, start, end, width, nextStart, metrics);
  if (metrics == nullptr) return kNoMore;
  std::uint8_t c = 0;
  if (!ByteAt(*s, start, &c) || c != kLf) return kNoMore;
  RaZoBlock b{};
  BlockBox box;
  const StatusCode found = RaZo_BlockAt(*s, start, &b);
  if (found == kNotFound) return kNoMore;
  if (found != kOk || !MeasureBlock(*s, b, start, metrics->width, &box)) {
    metrics->width = metrics->height = metrics->indent = metrics->ascent = 0;
    return kNoMore;
  }
  if (b.kind != RaZoBlockKind::Rule && b.kind != RaZoBlockKind::Image) {
    metrics->width = 0;
    metrics->height = metrics->ascent = 5;
    return kNoMore;
  }
  // The shared layout makes a positive width a line of its own; the indent
  // places the block inside the width offered, the answer names its alignment.
  metrics->width = Clamp16(box.width);
  metrics->height = metrics->ascent = Clamp16(box.height);
  metrics->indent = Clamp16(box.indent);
  metrics->top = metrics->extra = 0;
  return box.alignment;
}

StatusCode RaZoDoc_DrawLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                            std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                            std::uint32_t start, std::uint32_t end) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  RaZoBlock b{};
  if (start != end || metrics == nullptr || !BlockLineAt(*s, start, &b))
    return DocHandler_DrawLine(handler, device, ctx, x, y, metrics, start, end);
  const DeviceOps& d = DeviceOf(device);
  const int top = y + metrics->top;
  const int height = metrics->height;
  StatusCode r = kOk;
  if (b.kind == RaZoBlockKind::Rule) {
    const int thickness = b.flags & 15;
    if (thickness > 0) {
      const int t = top + (height - thickness) / 2;
      r = d.drawBox(device, ctx, x, Clamp16(t), Clamp16(x + metrics->width), Clamp16(t + thickness),
                    0, nullptr, &kRuleColour);
    }
    return IsFailure(r) ? r : kNoMore;
  }
  BlockBox box;
  std::uint16_t w = 0, h = 0, k = 0;
  if (!MeasureBlock(*s, b, start, metrics->width, &box) || !ImageEntry(*s, b, &w, &h, &k))
    return MarkDamaged(*s);
  // Frames from the outside in: the link's first, then the border's.
  for (int f = 0; f < box.border && !IsFailure(r); ++f) {
    const DeviceColour* colour = box.linked && f == 0 ? &kLinkColour : &kRuleColour;
    r = d.drawBox(device, ctx, Clamp16(x + f), Clamp16(top + f), Clamp16(x + box.width - f),
                  Clamp16(top + box.height - f), 0, colour, nullptr);
  }
  if (!IsFailure(r)) r = DrawImageRecord(*s, device, ctx, x + box.border, top + box.border, k);
  return IsFailure(r) ? r : kNoMore;
}

StatusCode RaZoDoc_HitTest(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                           std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                           std::uint32_t lineStart, std::uint32_t lineEnd, HitBox* box,
                           std::uint32_t* rangeStart, std::uint32_t* rangeEnd) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  RaZoBlock b{};
  if (metrics == nullptr || rangeStart == nullptr || rangeEnd == nullptr ||
      lineEnd != lineStart + 1 || !BlockLineAt(*s, lineStart, &b)) {
    return DocHandler_HitTest(handler, device, ctx, x, y, metrics, lineStart, lineEnd, box,
                              rangeStart, rangeEnd);
  }
  *rangeStart = *rangeEnd = lineStart;
  if (box) *box = HitBox{metrics->width, metrics->height, metrics->indent, metrics->ascent};
  return kOk;
}

StatusCode RaZoDoc_PositionToX(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                               std::uint32_t lineStart, std::uint32_t rangeStart,
                               std::uint32_t rangeEnd, std::int16_t* x1,
                               std::int16_t* x2) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  RaZoBlock b{};
  BlockBox box;
  const std::uint32_t lo = std::min(rangeStart, rangeEnd), hi = std::max(rangeStart, rangeEnd);
  if (x1 == nullptr || x2 == nullptr || lo < lineStart || hi > lineStart + 1 ||
      !BlockLineAt(*s, lineStart, &b) ||
      !MeasureBlock(*s, b, lineStart, kDocUnboundedWidth, &box)) {
    return DocHandler_PositionToX(handler, device, ctx, lineStart, rangeStart, rangeEnd, x1, x2);
  }
  // The free width is not known here: a percentage rule spans the whole
  // unbounded width, which callers clip to the line's width.
  *x1 = 0;
  *x2 = Clamp16(box.width);
  return kOk;
}

StatusCode RaZoDoc_BookmarkOp(EngineObject* handler, std::uint16_t subCode, std::uint16_t index,
                              void* record) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  // A damaged document is never written; a list that has no record yet
  // cannot get one when the header has no room for its number.
  const std::uint16_t list = subCode & DocBookmark::ListMaskBits;
  StatusCode refusal = kOk;
  if (s->db == nullptr || s->recordCount == 0 || s->damaged) {
    refusal = s->damaged ? kDocMalformed : kFailed;
  } else if (list <= 1 && s->lists[list].recordNumber == 0 && s->shortHeader) {
    refusal = kNotSupported;
  }
  return PosList_BookmarkOp(s->db, s->lists, subCode, index, record, refusal);
}

StatusCode RaZoDoc_FindTargetNames(EngineObject* handler, RaZoTargetQuery* query) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  return s == nullptr ? kBadArgument : ResolveTarget(*s, query);
}

StatusCode RaZoDoc_FindAnchorByName(EngineObject* handler, RaZoTargetQuery* query) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  return s == nullptr ? kBadArgument : FindAnchor(*s, query);
}

StatusCode RaZoDoc_Control(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                           void* record) noexcept {
  RaZoDocState* s = RaZo_Body(handler);
  if (s == nullptr) return kBadArgument;
  switch (code) {
    case DocControl::FindTarget:
      return DescribeTarget(*s, value, static_cast<DocLinkTarget*>(record));
    case DocControl::ResolveTarget:
      return ResolveDescribed(*s, static_cast<DocLinkTarget*>(record));
    case DocControl::RangeVisible:
      return DocHandler_MeasureRun(handler, static_cast<const DocLinkVisibility*>(record));
    case DocControl::SetFlags:
    case DocControl::ClearFlags: {
      const StatusCode r = DocHandler_Control(&s->settings, code, value, record);
      if (!IsFailure(r) && s->header.styleCount == 0 && (value & DocFlag::RightAlign)) {
        std::uint16_t& f = s->lastStyle.format.formatFlags;
        f = static_cast<std::uint16_t>(
            (f & ~DocFormat::AlignMask) |
            (code == DocControl::SetFlags ? DocFormat::AlignRight : DocFormat::AlignLeft));
      }
      return r;
    }
    default:
      break;
  }
  if (code >= DocControl::LinkWalkFirst && code <= DocControl::LinkWalkLast)
    return WalkLinks(*s, code, static_cast<LinkRange*>(record));
  return DocHandler_Control(&s->settings, code, value, record);
}

namespace {

constexpr DocHandlerOps kRaZoDocOps = MakeDocHandlerOps({
    .create = RaZoDoc_Create,
    .destroy = RaZoDoc_Destroy,
    .command = RaZoDoc_Command,
    .getSectionRange = RaZoDoc_GetSectionRange,
    .findSection = RaZoDoc_FindSection,
    .getTextLength = RaZoDoc_GetTextLength,
    .getText = RaZoDoc_GetText,
    .getTextBefore = RaZoDoc_GetTextBefore,
    .getCharStyle = RaZoDoc_GetCharStyle,
    .control = RaZoDoc_Control,
    .getSectionInfo = RaZoDoc_GetSectionInfo,
    .layoutLine = RaZoDoc_LayoutLine,
    .drawLine = RaZoDoc_DrawLine,
    .hitTest = RaZoDoc_HitTest,
    .positionToX = RaZoDoc_PositionToX,
    .getLinkAt = RaZoDoc_GetLinkAt,
    .bookmarkOp = RaZoDoc_BookmarkOp,
});

}  // namespace

EngineObject RaZoDocModule = {nullptr, &kRaZoDocOps};
