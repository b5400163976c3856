#include "engine/codecs/gzip.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/codecs/deflate.h"
#include "engine/codecs/inflate.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/checksum.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/runtime/swap.h"

namespace {

using GzipInstance = EngineInstance<GzipBody>;

constexpr std::uint8_t kFlagHeaderCrc = 0x02;
constexpr std::uint8_t kFlagExtra = 0x04;
constexpr std::uint8_t kFlagName = 0x08;
constexpr std::uint8_t kFlagComment = 0x10;
constexpr std::uint8_t kFlagReserved = 0xE0;
constexpr std::uint32_t kTrailerSize = 8;

bool Valid(EngineObject* o) {
  return o != nullptr && o->state != nullptr;
}
GzipBody& Body(EngineObject* o) {
  return BodyOf<GzipBody>(o);
}

// The raw CRC-32 register over bytes, through the checksum service.
StatusCode Crc(std::uint32_t& reg, const void* data, std::uint32_t n) {
  EngineObject* m = g_ChecksumModule;
  if (m == nullptr) return kFailed;
  return n == 0 ? kOk : OpsOf<ChecksumOps>(m).crc32(m, data, n, &reg);
}

// Reads stream[from .. to) in pieces of at most 256 bytes into the header
// CRC. With `untilZero`, stops after the first zero byte and sets *zeroAt;
// kGzipUnterminated when none comes before `to`.
StatusCode Scan(EngineObject* s, std::uint32_t from, std::uint32_t to, std::uint32_t& crc,
                bool untilZero, std::uint32_t* zeroAt) {
  std::uint8_t piece[256];
  while (from < to) {
    const std::uint32_t n = std::min<std::uint32_t>(to - from, sizeof piece);
    StatusCode r = Stream_ReadExact(s, from, piece, n);
    if (IsFailure(r)) return r;
    if (untilZero) {
      const auto* z = static_cast<const std::uint8_t*>(std::memchr(piece, 0, n));
      if (z != nullptr) {
        const auto k = static_cast<std::uint32_t>(z - piece);
        *zeroAt = from + k;
        return Crc(crc, piece, k + 1);
      }
    }
    if (IsFailure(r = Crc(crc, piece, n))) return r;
    from += n;
  }
  return untilZero ? kGzipUnterminated : kOk;
}

// Reads the member header at `start`; fills the member fields of `m`.
StatusCode ParseHeader(const GzipBody& g, std::uint32_t start, GzipBody& m) {
  const std::uint32_t end = g.rangeStart + g.rangeLength;
  if (end - start < 10) return kGzipTooShort;
  StatusCode r = Stream_ReadExact(g.stream, start, m.header, 10);
  if (IsFailure(r)) return r;
  if (m.header[0] != 0x1F || m.header[1] != 0x8B) return kGzipBadMagic;
  if (m.header[2] != 8) return kGzipBadMethod;
  const std::uint8_t flags = m.header[3];
  if ((flags & kFlagReserved) != 0) return kGzipReservedFlags;
  std::uint32_t crc = 0xFFFFFFFFu;
  if (IsFailure(r = Crc(crc, m.header, 10))) return r;
  std::uint32_t pos = start + 10;
  if ((flags & kFlagExtra) != 0) {
    std::uint8_t xlen[2];
    if (end - pos < 2) return kGzipNoExtraLength;
    if (IsFailure(r = Stream_ReadExact(g.stream, pos, xlen, 2))) return r;
    if (IsFailure(r = Crc(crc, xlen, 2))) return r;
    pos += 2;
    const std::uint32_t n = LoadLE16(xlen);
    if (end - pos < n) return kGzipExtraTooLong;
    if (IsFailure(r = Scan(g.stream, pos, pos + n, crc, false, nullptr))) return r;
    pos += n;
  }
  m.nameOffset = m.nameLength = m.commentOffset = m.commentLength = 0;
  for (const std::uint8_t flag : {kFlagName, kFlagComment}) {
    if ((flags & flag) == 0) continue;
    std::uint32_t zero = 0;
    if (IsFailure(r = Scan(g.stream, pos, end, crc, true, &zero))) return r;
    (flag == kFlagName ? m.nameOffset : m.commentOffset) = pos;
    (flag == kFlagName ? m.nameLength : m.commentLength) = zero - pos;
    pos = zero + 1;
  }
  if ((flags & kFlagHeaderCrc) != 0) {
    std::uint8_t stored[2];
    if (end - pos < 2) return kGzipNoHeaderCrc;
    if (IsFailure(r = Stream_ReadExact(g.stream, pos, stored, 2))) return r;
    if (LoadLE16(stored) != (~crc & 0xFFFFu)) return kGzipHeaderCrc;
    pos += 2;
  }
  m.memberStart = start;
  m.headerLength = pos - start;
  return kOk;
}

StatusCode EnterMember(GzipBody& g, std::uint32_t start) {
  GzipBody m = g;
  const StatusCode r = ParseHeader(g, start, m);
  if (IsFailure(r)) return r;
  g = m;
  g.haveMember = true;
  g.memberEnd = 0;
  ++g.memberCount;
  return kOk;
}

std::uint32_t DataStart(const GzipBody& g) {
  return g.memberStart + g.headerLength;
}
std::uint32_t RangeEnd(const GzipBody& g) {
  return g.rangeStart + g.rangeLength;
}

// Inflates the current member into sink (null: dropped) and reads its trailer.
StatusCode InflateMember(GzipBody& g, EngineObject* sink, std::uint32_t sinkPosition,
                         EngineObject* observer, std::uint32_t& crc, std::uint32_t& size,
                         std::uint8_t (&trailer)[kTrailerSize]) {
  const std::uint32_t data = DataStart(g), end = RangeEnd(g);
  std::uint32_t consumed = 0;
  StatusCode r = Archive_Inflate(g.codecs, g.stream, data, end - data, sink, sinkPosition, observer,
                                 &crc, &size, &consumed, g.outputLimit);
  if (r == kInflateInputExhausted) return kGzipShortMember;
  if (IsFailure(r)) return r;
  const std::uint32_t at = data + consumed;
  if (end - at < kTrailerSize) return kGzipShortMember;
  if (IsFailure(r = Stream_ReadExact(g.stream, at, trailer, kTrailerSize))) return r;
  g.memberEnd = at + kTrailerSize;
  return kOk;
}

constexpr GzipOps kGzipOps = {
    Core_NotImplemented,   GzipMod_Create,      GzipMod_Destroy,     GzipMod_OpenRead,
    GzipMod_OpenWrite,     GzipMod_FirstMember, GzipMod_NextMember,  GzipMod_GetMemberInfo,
    GzipMod_ExtractMember, GzipMod_WriteMember, Core_NotImplemented,
};

}  // namespace

EngineObject GzipModule = {nullptr, &kGzipOps};

StatusCode Archive_CreateCodecs(ArchiveCodecs& codecs) noexcept {
  EngineObject* dm = g_DeflateModule;
  EngineObject* im = g_InflateModule;
  if (dm == nullptr || im == nullptr) return kFailed;
  EngineObject* encoder = nullptr;
  EngineObject* decoder = nullptr;
  StatusCode s = OpsOf<DeflateOps>(dm).create(dm, kDeflateStandardBlockSize, &encoder);
  if (IsFailure(s)) return s;
  s = OpsOf<InflateOps>(im).create(im, kInflateStandardWindow, &decoder);
  if (IsFailure(s)) {
    (void)OpsOf<DeflateOps>(encoder).destroy(encoder);  // undoes the half made; the failure is s
    return s;
  }
  codecs = {encoder, decoder};
  return kOk;
}

StatusCode Archive_ReleaseCodecs(ArchiveCodecs& codecs) noexcept {
  StatusCode s = kOk;
  if (codecs.encoder != nullptr) s = OpsOf<DeflateOps>(codecs.encoder).destroy(codecs.encoder);
  if (codecs.decoder != nullptr) {
    const StatusCode d = OpsOf<InflateOps>(codecs.decoder).destroy(codecs.decoder);
    if (!IsFailure(s)) s = d;
  }
  codecs = {};
  return s;
}

StatusCode Archive_Inflate(ArchiveCodecs& codecs, EngineObject* source, std::uint32_t start,
                           std::uint32_t length, EngineObject* sink, std::uint32_t sinkPosition,
                           EngineObject* observer, std::uint32_t* crc32, std::uint32_t* size,
                           std::uint32_t* consumed, std::uint32_t limit) noexcept {
  EngineObject* d = codecs.decoder;
  if (d == nullptr || source == nullptr) return kBadArgument;
  const InflateOps& ops = OpsOf<InflateOps>(d);
  InflateBody& b = BodyOf<InflateBody>(d);
  StatusCode s = ops.setInput(d, source, start);
  if (!IsFailure(s)) s = ops.reset(d, start, length, 0);
  if (IsFailure(s)) return s;
  b.output.sink = nullptr;  // the bytes come out through the buffer below
  b.output.keepCrc32 = true;
  b.output.keepAdler32 = false;
  // Decoding into a buffer of our own, a piece at a time, lets the sink be
  // written only with bytes inside both bounds, and the observer hear of
  // progress inside long blocks.
  const std::uint64_t room = 0xFFFFFFFFull - sinkPosition;
  const std::uint64_t bound = std::min<std::uint64_t>(limit, room);
  const bool byLimit = limit != kGzipNoOutputLimit && limit <= room;
  std::uint8_t piece[16384];
  std::uint64_t produced = 0, noticed = 0;
  for (;;) {
    // A piece never carries the output past the next progress notice.
    const auto want = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(sizeof piece, noticed + kArchiveProgressStep - produced));
    std::uint32_t n = 0;
    s = ops.decodeToBuffer(d, piece, want, &n);
    if (IsFailure(s)) break;
    if (n == 0 && s != kInflateEndOfStream) {
      s = kFailed;  // a decoder that makes no progress would loop forever
      break;
    }
    if (sink != nullptr && n != 0) {
      const bool over = produced + n > bound;
      const auto put = static_cast<std::uint32_t>(over ? bound - produced : n);
      if (put != 0) {
        const StatusCode w = StreamOf(sink).writeAt(
            sink, static_cast<std::uint32_t>(sinkPosition + produced), piece, put, nullptr);
        if (IsFailure(w)) {
          s = w;
          break;
        }
      }
      if (over) {
        s = byLimit ? kGzipOutputLimit : kGzipTooLarge;
        break;
      }
    }
    produced += n;
    const bool ended = s == kInflateEndOfStream;
    if (ended || produced - noticed >= kArchiveProgressStep) {
      noticed = produced;
      const auto count = static_cast<std::uint32_t>(produced);
      const StatusCode o = observer == nullptr ? kOk
                                               : OpsOf<InflateObserverOps>(observer).notify(
                                                     observer, kInflateEndOfStream, &count);
      if (IsFailure(o)) {
        s = o;
        break;
      }
    }
    if (ended) break;
  }
  if (s != kInflateEndOfStream) return IsFailure(s) ? s : kFailed;
  if (crc32 != nullptr) *crc32 = b.output.crc32;
  if (size != nullptr) *size = static_cast<std::uint32_t>(produced);
  if (consumed != nullptr) *consumed = b.consumed;
  return kOk;
}

StatusCode GzipMod_Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  GzipInstance* instance = nullptr;
  StatusCode s = Engine_AllocArray(1, &instance);
  if (IsFailure(s)) return s;
  new (instance) GzipInstance{};
  if (IsFailure(s = Archive_CreateCodecs(instance->body.codecs))) {
    Engine_Free(instance);
    return s;
  }
  instance->body.outputLimit = kGzipNoOutputLimit;
  instance->header = {&instance->body, &kGzipOps};
  *out = &instance->header;
  return kOk;
}

StatusCode GzipMod_Destroy(EngineObject* instance) noexcept {
  if (!Valid(instance)) return kBadArgument;
  // Both archive bodies start with their codecs.
  const StatusCode s = Archive_ReleaseCodecs(*static_cast<ArchiveCodecs*>(instance->state));
  Engine_Free(instance);  // the header starts the instance's allocation
  return s;
}

StatusCode GzipMod_OpenRead(EngineObject* instance, EngineObject* stream, std::uint32_t start,
                            std::uint32_t length) noexcept {
  if (!Valid(instance) || stream == nullptr) return kBadArgument;
  std::uint32_t size = 0;
  const StatusCode s = StreamOf(stream).getSize(stream, &size);
  if (IsFailure(s)) return s;
  GzipBody& g = Body(instance);
  g.stream = stream;
  g.rangeStart = std::min(start, size);
  g.rangeLength = std::min(length, size - g.rangeStart);
  g.haveMember = false;
  g.memberCount = 0;
  g.totalSize = 0;
  g.writing = false;
  return kOk;
}

StatusCode GzipMod_OpenWrite(EngineObject* instance, EngineObject* stream,
                             std::uint32_t position) noexcept {
  if (!Valid(instance) || stream == nullptr) return kBadArgument;
  const StatusCode s =
      StreamOf(stream).seek(stream, static_cast<std::int32_t>(position), kSeekSet, nullptr);
  if (IsFailure(s)) return s;
  GzipBody& g = Body(instance);
  g.stream = stream;
  g.haveMember = false;
  g.memberCount = 0;
  g.totalSize = 0;
  g.writing = true;
  g.writePosition = position;
  return kOk;
}

StatusCode GzipMod_FirstMember(EngineObject* instance) noexcept {
  if (!Valid(instance)) return kBadArgument;
  GzipBody& g = Body(instance);
  if (g.stream == nullptr || g.writing) return kBadArgument;
  if (g.rangeLength == 0) return kNoMore;
  g.memberCount = 0;
  g.totalSize = 0;
  return EnterMember(g, g.rangeStart);
}

StatusCode GzipMod_NextMember(EngineObject* instance) noexcept {
  if (!Valid(instance)) return kBadArgument;
  GzipBody& g = Body(instance);
  if (!g.haveMember || g.writing) return kBadArgument;
  if (g.memberEnd == 0) {
    std::uint32_t crc = 0, size = 0;
    std::uint8_t trailer[kTrailerSize];
    const StatusCode s = InflateMember(g, nullptr, 0, nullptr, crc, size, trailer);
    if (IsFailure(s)) return s;
  }
  if (g.memberEnd >= RangeEnd(g)) return kNoMore;
  return EnterMember(g, g.memberEnd);
}

StatusCode GzipMod_GetMemberInfo(EngineObject* instance, DateTime* date, std::uint32_t* nameOffset,
                                 std::uint32_t* nameLength, std::uint32_t* commentOffset,
                                 std::uint32_t* commentLength) noexcept {
  if (!Valid(instance)) return kBadArgument;
  GzipBody& g = Body(instance);
  if (!g.haveMember) return kBadArgument;
  if (date != nullptr) {
    EngineObject* dm = g_DateModule;
    if (dm == nullptr) return kFailed;
    DateTime d{};
    const StatusCode s = OpsOf<DateOps>(dm).fromUnixTime(dm, LoadLE32(g.header + 4), &d);
    if (IsFailure(s)) return s;
    *date = d;
  }
  if (nameOffset != nullptr) *nameOffset = g.nameOffset;
  if (nameLength != nullptr) *nameLength = g.nameLength;
  if (commentOffset != nullptr) *commentOffset = g.commentOffset;
  if (commentLength != nullptr) *commentLength = g.commentLength;
  return kOk;
}

StatusCode GzipMod_ExtractMember(EngineObject* instance, EngineObject* sink,
                                 std::uint32_t sinkPosition, EngineObject* observer,
                                 std::uint32_t* crc32, std::uint32_t* size) noexcept {
  if (!Valid(instance) || sink == nullptr) return kBadArgument;
  GzipBody& g = Body(instance);
  if (!g.haveMember || g.writing) return kBadArgument;
  std::uint32_t crc = 0, n = 0;
  std::uint8_t trailer[kTrailerSize];
  const StatusCode s = InflateMember(g, sink, sinkPosition, observer, crc, n, trailer);
  if (IsFailure(s)) return s;
  if (LoadLE32(trailer) != crc) return kGzipCrcMismatch;
  if (LoadLE32(trailer + 4) != n) return kGzipSizeMismatch;
  g.totalSize += n;
  if (crc32 != nullptr) *crc32 = crc;
  if (size != nullptr) *size = n;
  return kOk;
}

StatusCode GzipMod_SetOutputLimit(EngineObject* instance, std::uint32_t limit) noexcept {
  if (!Valid(instance) || instance->ops != &kGzipOps) return kBadArgument;
  Body(instance).outputLimit = limit;
  return kOk;
}

StatusCode GzipMod_WriteMember(EngineObject* instance, EngineObject* source, std::uint32_t position,
                               std::uint32_t length, const void* name, std::uint32_t nameLength,
                               const DateTime* date, std::uint32_t* written) noexcept {
  if (!Valid(instance) || (name == nullptr && nameLength != 0)) return kBadArgument;
  if (source == nullptr && length != 0) return kBadArgument;
  GzipBody& g = Body(instance);
  if (!g.writing || g.stream == nullptr) return kBadArgument;
  const auto* nameBytes = static_cast<const std::uint8_t*>(name);
  if (nameLength != 0 && nameBytes[nameLength - 1] == 0) --nameLength;
  if (nameLength != 0 && std::memchr(nameBytes, 0, nameLength) != nullptr) return kBadArgument;

  std::uint32_t mtime = 0;
  EngineObject* dm = g_DateModule;
  if (date != nullptr && dm != nullptr &&
      IsFailure(OpsOf<DateOps>(dm).toUnixTime(dm, date, &mtime))) {
    mtime = 0;  // before 1970 or past 2106: "no time"
  }
  std::uint8_t header[10] = {0x1F, 0x8B, 8, nameLength != 0 ? kFlagName : std::uint8_t{0}};
  StoreLE32(header + 4, mtime);
  header[8] = 0;
  header[9] = 255;
  EngineObject* out = g.stream;
  const StreamOps& so = StreamOf(out);
  const std::uint64_t headerSize = 10 + (nameLength != 0 ? nameLength + 1u : 0u);
  if (g.writePosition + headerSize > 0xFFFFFFFFu) return kBadArgument;
  std::uint32_t at = g.writePosition;
  StatusCode s = so.writeAt(out, at, header, 10, nullptr);
  if (!IsFailure(s) && nameLength != 0) {
    static constexpr std::uint8_t kZero = 0;
    s = so.writeAt(out, at + 10, nameBytes, nameLength, nullptr);
    if (!IsFailure(s)) s = so.writeAt(out, at + 10 + nameLength, &kZero, 1, nullptr);
  }
  if (IsFailure(s)) return s;
  at += static_cast<std::uint32_t>(headerSize);

  EngineObject* e = g.codecs.encoder;
  const DeflateOps& eo = OpsOf<DeflateOps>(e);
  std::uint32_t crc = 0xFFFFFFFFu, compressed = 0;
  if (IsFailure(s = eo.setOutputSink(e, out, at)) ||
      IsFailure(s = eo.compressRange(e, source, position, length, &crc, nullptr)) ||
      IsFailure(s = eo.flush(e, &compressed))) {
    return s;
  }
  if (std::uint64_t{at} + compressed + kTrailerSize > 0xFFFFFFFFu) return kBadArgument;
  at += compressed;
  std::uint8_t trailer[kTrailerSize];
  StoreLE32(trailer, ~crc);
  StoreLE32(trailer + 4, length);
  if (IsFailure(s = so.writeAt(out, at, trailer, kTrailerSize, nullptr))) return s;
  at += kTrailerSize;
  if (written != nullptr) *written = at - g.writePosition;
  g.writePosition = at;
  ++g.memberCount;
  return kOk;
}
