#include "engine/codecs/zip.h"

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

using ZipInstance = EngineInstance<ZipBody>;

constexpr std::uint32_t kEndSize = 22;
constexpr std::uint32_t kEntrySize = 46;
constexpr std::uint32_t kLocalSize = 30;
constexpr std::uint32_t kMaxComment = 65535;
constexpr std::uint32_t kCopyPiece = 4096;
constexpr std::uint8_t kEndSignature[4] = {0x50, 0x4B, 0x05, 0x06};
constexpr std::uint8_t kEntrySignature[4] = {0x50, 0x4B, 0x01, 0x02};
constexpr std::uint8_t kLocalSignature[4] = {0x50, 0x4B, 0x03, 0x04};
constexpr std::uint8_t kZip64LocatorSignature[4] = {0x50, 0x4B, 0x06, 0x07};
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagUtf8 = 0x0800;

// Fields of the end record, counted after its signature.
namespace End {
constexpr unsigned Disk = 0, DirectoryDisk = 2, EntriesHere = 4, EntriesAll = 6, DirectorySize = 8,
                   DirectoryOffset = 12, CommentLength = 16;
}
// Fields of a central-directory entry, counted after its signature.
namespace Entry {
constexpr unsigned MadeBy = 0, Needed = 2, Flags = 4, Method = 6, Time = 8, Date = 10, Crc = 12,
                   CompressedSize = 16, Size = 20, NameLength = 24, ExtraLength = 26,
                   CommentLength = 28, Disk = 30, ExternalAttributes = 34, LocalOffset = 38;
}

bool Valid(EngineObject* o) {
  return o != nullptr && o->state != nullptr;
}
ZipBody& Body(EngineObject* o) {
  return BodyOf<ZipBody>(o);
}

StatusCode Crc(std::uint32_t& reg, const void* data, std::uint32_t n) {
  EngineObject* m = g_ChecksumModule;
  if (m == nullptr) return kFailed;
  return n == 0 ? kOk : OpsOf<ChecksumOps>(m).crc32(m, data, n, &reg);
}

std::uint32_t DirectoryOffset(const ZipBody& z) {
  return LoadLE32(z.endRecord + End::DirectoryOffset);
}
std::uint32_t DirectorySize(const ZipBody& z) {
  return LoadLE32(z.endRecord + End::DirectorySize);
}
std::uint32_t EntriesAll(const ZipBody& z) {
  return LoadLE16(z.endRecord + End::EntriesAll);
}
std::uint32_t EntryRecordSize(const std::uint8_t* e) {
  return kEntrySize + LoadLE16(e + Entry::NameLength) + LoadLE16(e + Entry::ExtraLength) +
         LoadLE16(e + Entry::CommentLength);
}

// Reads the central-directory entry at offset into z's current entry.
StatusCode ReadEntry(ZipBody& z, std::uint32_t offset, std::uint32_t index) {
  const std::uint64_t directoryEnd = std::uint64_t{DirectoryOffset(z)} + DirectorySize(z);
  if (offset + std::uint64_t{kEntrySize} > directoryEnd) return kZipSizeMismatch;
  std::uint8_t record[kEntrySize];
  const StatusCode s = Stream_ReadExact(z.stream, offset, record, kEntrySize);
  if (IsFailure(s)) return s;
  if (std::memcmp(record, kEntrySignature, 4) != 0) return kZipBadSignature;
  const std::uint8_t* e = record + 4;
  if (offset + std::uint64_t{EntryRecordSize(e)} > directoryEnd) return kZipSizeMismatch;
  if (LoadLE32(e + Entry::CompressedSize) == 0xFFFFFFFFu ||
      LoadLE32(e + Entry::Size) == 0xFFFFFFFFu || LoadLE32(e + Entry::LocalOffset) == 0xFFFFFFFFu ||
      LoadLE16(e + Entry::Disk) == 0xFFFF) {
    return kZipUnsupported;
  }
  std::memcpy(z.entry, e, sizeof z.entry);
  z.entryOffset = offset;
  z.entryIndex = index;
  z.haveEntry = true;
  return kOk;
}

// Checks an end record at `offset` (its 18 bytes after the signature) and
// makes it the instance's archive.
StatusCode Adopt(ZipBody& z, EngineObject* stream, std::uint32_t offset, const std::uint8_t* rec) {
  const std::uint32_t here = LoadLE16(rec + End::EntriesHere),
                      all = LoadLE16(rec + End::EntriesAll);
  const std::uint32_t size = LoadLE32(rec + End::DirectorySize);
  const std::uint32_t start = LoadLE32(rec + End::DirectoryOffset);
  if (here == 0xFFFF || all == 0xFFFF || size == 0xFFFFFFFFu || start == 0xFFFFFFFFu) {
    return kZipUnsupported;
  }
  if (offset >= 20) {
    std::uint8_t sig[4];
    if (!IsFailure(Stream_ReadExact(stream, offset - 20, sig, 4)) &&
        std::memcmp(sig, kZip64LocatorSignature, 4) == 0) {
      return kZipUnsupported;
    }
  }
  if (LoadLE16(rec + End::Disk) != 0 || LoadLE16(rec + End::DirectoryDisk) != 0 || here != all) {
    return kZipUnsupported;
  }
  if (std::uint64_t{start} + size > offset || std::uint64_t{all} * kEntrySize > size) {
    return kZipSizeMismatch;
  }
  z.stream = stream;
  z.open = true;
  z.endOffset = offset;
  std::memcpy(z.endRecord, rec, sizeof z.endRecord);
  z.haveEntry = false;
  return kOk;
}

std::uint16_t DosDate(const DateTime* d) {
  if (d == nullptr || d->year < 1980) return (1 << 5) | 1;
  if (d->year > 2107) return static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
  return static_cast<std::uint16_t>((d->year - 1980) << 9 | (d->month & 15) << 5 | (d->day & 31));
}
std::uint16_t DosTime(const DateTime* d) {
  if (d == nullptr || d->year < 1980) return 0;
  if (d->year > 2107) return static_cast<std::uint16_t>(23 << 11 | 59 << 5 | 29);
  return static_cast<std::uint16_t>(d->hour << 11 | (d->minute & 63) << 5 | (d->second / 2));
}

// Copies length bytes from source to the stream at `at`, in pieces, keeping
// a raw CRC-32 register.
StatusCode CopyWithCrc(EngineObject* source, std::uint32_t from, std::uint32_t length,
                       EngineObject* target, std::uint32_t at, std::uint32_t& crc) {
  std::uint8_t piece[kCopyPiece];
  while (length > 0) {
    const std::uint32_t n = std::min(length, kCopyPiece);
    StatusCode s = Stream_ReadExact(source, from, piece, n);
    if (IsFailure(s) || IsFailure(s = Crc(crc, piece, n))) return s;
    if (IsFailure(s = StreamOf(target).writeAt(target, at, piece, n, nullptr))) return s;
    from += n;
    at += n;
    length -= n;
  }
  return kOk;
}

constexpr ZipOps kZipOps = {
    Core_NotImplemented,  ZipMod_Create,         GzipMod_Destroy,     ZipMod_Open,
    ZipMod_CreateArchive, ZipMod_GetArchiveInfo, ZipMod_FirstEntry,   ZipMod_NextEntry,
    ZipMod_GetEntryInfo,  ZipMod_GetEntryExtra,  ZipMod_ExtractEntry, ZipMod_AddEntry,
    Core_NotImplemented,
};

}  // namespace

EngineObject ZipModule = {nullptr, &kZipOps};

bool ZipMod_IsSafeName(const void* name, std::uint32_t length) noexcept {
  if (name == nullptr || length == 0 || length > 0xFFFF) return false;
  const auto* p = static_cast<const std::uint8_t*>(name);
  if (p[0] == '/') return false;
  if (length >= 2 && p[1] == ':') return false;
  std::uint32_t componentStart = 0;
  for (std::uint32_t i = 0; i <= length; ++i) {
    if (i < length && (p[i] == 0 || p[i] == '\\')) return false;
    if (i < length && p[i] != '/') continue;
    const std::uint32_t n = i - componentStart;
    const bool last = i == length || i + 1 == length;  // "dir/" ends with a slash
    if (n == 0 && !(i == length && last)) return false;
    if ((n == 1 && p[componentStart] == '.') ||
        (n == 2 && p[componentStart] == '.' && p[componentStart + 1] == '.')) {
      return false;
    }
    componentStart = i + 1;
  }
  return true;
}

StatusCode ZipMod_Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  ZipInstance* instance = nullptr;
  StatusCode s = Engine_AllocArray(1, &instance);
  if (IsFailure(s)) return s;
  new (instance) ZipInstance{};
  if (IsFailure(s = Archive_CreateCodecs(instance->body.codecs))) {
    Engine_Free(instance);
    return s;
  }
  instance->header = {&instance->body, &kZipOps};
  *out = &instance->header;
  return kOk;
}

StatusCode ZipMod_Open(EngineObject* instance, EngineObject* stream) noexcept {
  if (!Valid(instance) || stream == nullptr) return kBadArgument;
  std::uint32_t size = 0;
  StatusCode s = StreamOf(stream).getSize(stream, &size);
  if (IsFailure(s)) return s;
  if (size < kEndSize) return kZipNoEndRecord;
  // The record and its comment lie within the last 22 + 65535 bytes.
  const std::uint32_t tail = std::min(size, kEndSize + kMaxComment);
  std::uint8_t* raw = nullptr;
  if (IsFailure(s = Engine_AllocArray(tail, &raw))) return s;
  EngineBuffer<std::uint8_t> buffer(raw);
  if (IsFailure(s = Stream_ReadExact(stream, size - tail, raw, tail))) return s;
  // The last signature whose record and comment fit, preferring one whose
  // comment ends exactly at the stream's end.
  std::uint32_t found = tail;
  for (std::uint32_t k = tail - kEndSize + 1; k-- > 0;) {
    if (std::memcmp(raw + k, kEndSignature, 4) != 0) continue;
    const std::uint32_t end = k + kEndSize + LoadLE16(raw + k + 4 + End::CommentLength);
    if (end > tail) continue;
    if (found == tail) found = k;
    if (end == tail) {
      found = k;
      break;
    }
  }
  if (found == tail) return kZipNoEndRecord;
  ZipBody& z = Body(instance);
  return Adopt(z, stream, size - tail + found, raw + found + 4);
}

StatusCode ZipMod_CreateArchive(EngineObject* instance, EngineObject* stream,
                                std::uint32_t position) noexcept {
  if (!Valid(instance) || stream == nullptr) return kBadArgument;
  if (position > 0xFFFFFFFFu - kEndSize) return kBadArgument;
  std::uint8_t record[kEndSize] = {};
  std::memcpy(record, kEndSignature, 4);
  StatusCode s = StreamOf(stream).writeAt(stream, position, record, kEndSize, nullptr);
  if (!IsFailure(s)) s = StreamOf(stream).setSize(stream, position + kEndSize);
  if (IsFailure(s)) return s;
  ZipBody& z = Body(instance);
  z.stream = stream;
  z.open = true;
  z.endOffset = position;
  std::memset(z.endRecord, 0, sizeof z.endRecord);
  StoreLE32(z.endRecord + End::DirectoryOffset, position);
  z.haveEntry = false;
  return kOk;
}

StatusCode ZipMod_GetArchiveInfo(EngineObject* instance, std::uint32_t* thisDisk,
                                 std::uint32_t* directoryDisk, std::uint32_t* entriesHere,
                                 std::uint32_t* entriesAll, std::uint32_t* commentLength,
                                 std::uint32_t* commentOffset) noexcept {
  if (!Valid(instance) || !Body(instance).open) return kBadArgument;
  const ZipBody& z = Body(instance);
  if (thisDisk != nullptr) *thisDisk = LoadLE16(z.endRecord + End::Disk);
  if (directoryDisk != nullptr) *directoryDisk = LoadLE16(z.endRecord + End::DirectoryDisk);
  if (entriesHere != nullptr) *entriesHere = LoadLE16(z.endRecord + End::EntriesHere);
  if (entriesAll != nullptr) *entriesAll = EntriesAll(z);
  if (commentLength != nullptr) *commentLength = LoadLE16(z.endRecord + End::CommentLength);
  if (commentOffset != nullptr) *commentOffset = z.endOffset + kEndSize;
  return kOk;
}

StatusCode ZipMod_FirstEntry(EngineObject* instance) noexcept {
  if (!Valid(instance) || !Body(instance).open) return kBadArgument;
  ZipBody& z = Body(instance);
  if (EntriesAll(z) == 0) return kNoMore;
  return ReadEntry(z, DirectoryOffset(z), 0);
}

StatusCode ZipMod_NextEntry(EngineObject* instance) noexcept {
  if (!Valid(instance) || !Body(instance).open) return kBadArgument;
  ZipBody& z = Body(instance);
  if (!z.haveEntry) return kBadArgument;
  if (z.entryIndex + 1 >= EntriesAll(z)) return kNoMore;
  return ReadEntry(z, z.entryOffset + EntryRecordSize(z.entry), z.entryIndex + 1);
}

StatusCode ZipMod_GetEntryInfo(EngineObject* instance, DateTime* date, std::uint32_t* crc32,
                               std::uint32_t* compressedSize, std::uint32_t* size,
                               std::uint32_t* nameLength, std::uint32_t* nameOffset) noexcept {
  if (!Valid(instance) || !Body(instance).haveEntry) return kBadArgument;
  const ZipBody& z = Body(instance);
  const std::uint8_t* e = z.entry;
  if (date != nullptr) {
    const std::uint32_t d = LoadLE16(e + Entry::Date), t = LoadLE16(e + Entry::Time);
    *date = DateTime{static_cast<std::uint16_t>((d >> 9) + 1980),
                     static_cast<std::uint8_t>((d >> 5) & 15),
                     static_cast<std::uint8_t>(d & 31),
                     static_cast<std::uint8_t>(t >> 11),
                     static_cast<std::uint8_t>((t >> 5) & 63),
                     static_cast<std::uint8_t>((t & 31) * 2),
                     0};
  }
  if (crc32 != nullptr) *crc32 = LoadLE32(e + Entry::Crc);
  if (compressedSize != nullptr) *compressedSize = LoadLE32(e + Entry::CompressedSize);
  if (size != nullptr) *size = LoadLE32(e + Entry::Size);
  if (nameLength != nullptr) *nameLength = LoadLE16(e + Entry::NameLength);
  if (nameOffset != nullptr) *nameOffset = z.entryOffset + kEntrySize;
  return kOk;
}

StatusCode ZipMod_GetEntryExtra(EngineObject* instance, std::uint32_t* versionMadeBy,
                                std::uint32_t* versionNeeded, std::uint32_t* commentLength,
                                std::uint32_t* commentOffset,
                                std::uint32_t* localHeaderOffset) noexcept {
  if (!Valid(instance) || !Body(instance).haveEntry) return kBadArgument;
  const ZipBody& z = Body(instance);
  const std::uint8_t* e = z.entry;
  if (versionMadeBy != nullptr) *versionMadeBy = LoadLE16(e + Entry::MadeBy);
  if (versionNeeded != nullptr) *versionNeeded = LoadLE16(e + Entry::Needed);
  if (commentLength != nullptr) *commentLength = LoadLE16(e + Entry::CommentLength);
  if (commentOffset != nullptr) {
    *commentOffset = z.entryOffset + kEntrySize + LoadLE16(e + Entry::NameLength) +
                     LoadLE16(e + Entry::ExtraLength);
  }
  if (localHeaderOffset != nullptr) *localHeaderOffset = LoadLE32(e + Entry::LocalOffset);
  return kOk;
}

StatusCode ZipMod_GetEntryKind(EngineObject* instance, ZipEntryKind* kind) noexcept {
  if (!Valid(instance) || instance->ops != &kZipOps || kind == nullptr) return kBadArgument;
  const ZipBody& z = Body(instance);
  if (!z.haveEntry) return kBadArgument;
  const std::uint8_t* e = z.entry;
  const std::uint32_t attributes = LoadLE32(e + Entry::ExternalAttributes);
  constexpr std::uint32_t kHostUnix = 3;
  if ((LoadLE16(e + Entry::MadeBy) >> 8) == kHostUnix) {
    // The st_mode file-type bits.
    switch ((attributes >> 16) & 0170000u) {
      case 0:  // no mode stored: judge as for other makers
        break;
      case 0100000u:
        *kind = ZipEntryKind::kFile;
        return kOk;
      case 0040000u:
        *kind = ZipEntryKind::kFolder;
        return kOk;
      case 0120000u:
        *kind = ZipEntryKind::kSymbolicLink;
        return kOk;
      default:
        *kind = ZipEntryKind::kSpecial;
        return kOk;
    }
  }
  const std::uint32_t nameLength = LoadLE16(e + Entry::NameLength);
  std::uint8_t last = 0;
  if (nameLength != 0) {
    const StatusCode s =
        Stream_ReadExact(z.stream, z.entryOffset + kEntrySize + nameLength - 1, &last, 1);
    if (IsFailure(s)) return s;
  }
  constexpr std::uint32_t kDosFolder = 0x10;
  *kind =
      last == '/' || (attributes & kDosFolder) != 0 ? ZipEntryKind::kFolder : ZipEntryKind::kFile;
  return kOk;
}

StatusCode ZipMod_ExtractEntry(EngineObject* instance, EngineObject* sink,
                               std::uint32_t sinkPosition, EngineObject* observer,
                               std::uint32_t* crc32, std::uint32_t* size) noexcept {
  if (!Valid(instance) || sink == nullptr || !Body(instance).haveEntry) return kBadArgument;
  ZipBody& z = Body(instance);
  const std::uint8_t* e = z.entry;
  if ((LoadLE16(e + Entry::Flags) & kFlagEncrypted) != 0) return kZipEncrypted;
  const std::uint32_t local = LoadLE32(e + Entry::LocalOffset);
  if (std::uint64_t{local} + kLocalSize > DirectoryOffset(z)) return kZipSizeMismatch;
  std::uint8_t header[kLocalSize];
  StatusCode s = Stream_ReadExact(z.stream, local, header, kLocalSize);
  if (IsFailure(s)) return s;
  if (std::memcmp(header, kLocalSignature, 4) != 0) return kZipBadSignature;
  if ((LoadLE16(header + 6) & kFlagEncrypted) != 0) return kZipEncrypted;
  const std::uint64_t data =
      std::uint64_t{local} + kLocalSize + LoadLE16(header + 26) + LoadLE16(header + 28);
  const std::uint32_t compressed = LoadLE32(e + Entry::CompressedSize);
  const std::uint32_t expected = LoadLE32(e + Entry::Size);
  // The data must end before the directory.
  if (data + compressed > DirectoryOffset(z)) return kZipSizeMismatch;
  const auto start = static_cast<std::uint32_t>(data);
  std::uint32_t crc = 0, n = 0;
  switch (LoadLE16(e + Entry::Method)) {
    case kZipMethodStored: {
      if (compressed != expected) return kZipSizeMismatch;
      if (compressed > 0xFFFFFFFFu - sinkPosition) return kGzipTooLarge;
      std::uint32_t reg = 0xFFFFFFFFu;
      if (IsFailure(s = CopyWithCrc(z.stream, start, compressed, sink, sinkPosition, reg))) {
        return s;
      }
      crc = ~reg;
      n = compressed;
      break;
    }
    case kZipMethodDeflated:
      // Output past the declared size is not written on.
      s = Archive_Inflate(z.codecs, z.stream, start, compressed, sink, sinkPosition, observer, &crc,
                          &n, nullptr, expected);
      if (s == kInflateInputExhausted || s == kGzipOutputLimit) return kZipSizeMismatch;
      if (IsFailure(s)) return s;
      break;
    default:
      return kMalformed;
  }
  if (n != expected) return kZipSizeMismatch;
  if (crc != LoadLE32(e + Entry::Crc)) return kZipCrcMismatch;
  if (crc32 != nullptr) *crc32 = crc;
  if (size != nullptr) *size = n;
  return kOk;
}

StatusCode ZipMod_AddEntry(EngineObject* instance, EngineObject* source, std::uint32_t position,
                           std::uint32_t length, const void* name, std::uint32_t nameLength,
                           const DateTime* date, std::uint32_t method) noexcept {
  if (!Valid(instance) || !Body(instance).open) return kBadArgument;
  if (source == nullptr && length != 0) return kBadArgument;
  if (method != kZipMethodStored && method != kZipMethodDeflated) return kBadArgument;
  if (!ZipMod_IsSafeName(name, nameLength)) return kZipBadName;
  const auto* nameBytes = static_cast<const std::uint8_t*>(name);
  const bool folder = nameBytes[nameLength - 1] == '/';
  if (folder && length != 0) return kBadArgument;
  ZipBody& z = Body(instance);
  const std::uint32_t count = EntriesAll(z);
  if (count >= 0xFFFF) return kZipUnsupported;

  // The old directory and the archive comment, kept to write back.
  const std::uint32_t dirStart = DirectoryOffset(z), dirSize = DirectorySize(z);
  const std::uint32_t commentLength = LoadLE16(z.endRecord + End::CommentLength);
  const std::uint64_t keptSize = std::uint64_t{dirSize} + kEndSize + commentLength;
  if (keptSize > 0xFFFFFFF0u) return kZipUnsupported;
  std::uint8_t* raw = nullptr;
  StatusCode s = Engine_AllocArray(static_cast<std::uint32_t>(keptSize), &raw);
  if (IsFailure(s)) return s;
  EngineBuffer<std::uint8_t> kept(raw);
  if (IsFailure(s = Stream_ReadExact(z.stream, dirStart, raw, dirSize))) return s;
  std::uint8_t* const end = raw + dirSize;
  std::memcpy(end, kEndSignature, 4);
  std::memcpy(end + 4, z.endRecord, sizeof z.endRecord);
  if (commentLength != 0 && IsFailure(s = Stream_ReadExact(z.stream, z.endOffset + kEndSize,
                                                           end + kEndSize, commentLength))) {
    return s;
  }
  const std::uint32_t oldEnd = z.endOffset + kEndSize + commentLength;
  // The entry goes where the directory begins: refuse archives that keep
  // entry data there or further on.
  for (std::uint32_t at = 0, k = 0; k < count; ++k) {
    if (std::uint64_t{at} + kEntrySize > dirSize ||
        std::memcmp(raw + at, kEntrySignature, 4) != 0) {
      return kZipBadSignature;
    }
    if (LoadLE32(raw + at + 4 + Entry::LocalOffset) >= dirStart) return kZipUnsupported;
    at += EntryRecordSize(raw + at + 4);
  }

  // A failure once writing began puts the old directory back where it was.
  // When that fails too, the stream holds neither archive for sure: the
  // instance closes, so nothing more is done on a directory it cannot trust.
  auto restore = [&](StatusCode failure) {
    EngineObject* st = z.stream;
    const StreamOps& so = StreamOf(st);
    if (IsFailure(so.writeAt(st, dirStart, raw, dirSize, nullptr)) ||
        IsFailure(so.writeAt(st, dirStart + dirSize, end, kEndSize + commentLength, nullptr)) ||
        IsFailure(so.setSize(st, oldEnd))) {
      z.open = false;
      z.haveEntry = false;
    }
    return failure;
  };

  const std::uint16_t flags =
      std::any_of(nameBytes, nameBytes + nameLength, [](std::uint8_t c) { return c >= 0x80; })
          ? kFlagUtf8
          : 0;
  const std::uint16_t needed = method == kZipMethodDeflated || folder ? 20 : 10;
  std::uint8_t local[kLocalSize] = {};
  std::memcpy(local, kLocalSignature, 4);
  StoreLE16(local + 4, needed);
  StoreLE16(local + 6, flags);
  StoreLE16(local + 8, static_cast<std::uint16_t>(method));
  StoreLE16(local + 10, DosTime(date));
  StoreLE16(local + 12, DosDate(date));
  StoreLE16(local + 26, static_cast<std::uint16_t>(nameLength));
  const std::uint64_t dataStart = std::uint64_t{dirStart} + kLocalSize + nameLength;
  if (dataStart + length > 0xFFFFFFFFu && method == kZipMethodStored) return kZipUnsupported;
  if (dataStart > 0xFFFFFFFFu) return kZipUnsupported;
  EngineObject* st = z.stream;
  const StreamOps& so = StreamOf(st);
  if (IsFailure(s = so.writeAt(st, dirStart, local, kLocalSize, nullptr)) ||
      IsFailure(s = so.writeAt(st, dirStart + kLocalSize, nameBytes, nameLength, nullptr))) {
    return restore(s);
  }
  const auto at = static_cast<std::uint32_t>(dataStart);
  std::uint32_t crc = 0xFFFFFFFFu, compressed = length;
  if (method == kZipMethodStored) {
    s = CopyWithCrc(source, position, length, st, at, crc);
  } else {
    EngineObject* enc = z.codecs.encoder;
    const DeflateOps& eo = OpsOf<DeflateOps>(enc);
    s = eo.setOutputSink(enc, st, at);
    if (!IsFailure(s)) s = eo.compressRange(enc, source, position, length, &crc, nullptr);
    if (!IsFailure(s)) s = eo.flush(enc, &compressed);
  }
  if (IsFailure(s)) return restore(s);
  crc = ~crc;
  const std::uint64_t newDir = dataStart + compressed;
  const std::uint64_t newDirSize = std::uint64_t{dirSize} + kEntrySize + nameLength;
  if (newDir + newDirSize + kEndSize + commentLength > 0xFFFFFFFFu) {
    return restore(kZipUnsupported);
  }
  StoreLE32(local + 14, crc);
  StoreLE32(local + 18, compressed);
  StoreLE32(local + 22, length);
  if (IsFailure(s = so.writeAt(st, dirStart, local, kLocalSize, nullptr))) return restore(s);

  std::uint8_t entry[kEntrySize] = {};
  std::memcpy(entry, kEntrySignature, 4);
  std::uint8_t* e = entry + 4;
  // Made on Unix, version 2.0: the external attributes hold the file mode
  // (rw-r--r--, or rwxr-xr-x for a folder, which also keeps the MS-DOS folder bit).
  StoreLE16(e + Entry::MadeBy, 3 << 8 | 20);
  std::memcpy(e + Entry::Needed, local + 4, 26);  // needed .. extra length as in the local header
  StoreLE32(e + Entry::LocalOffset, dirStart);
  StoreLE32(e + Entry::ExternalAttributes, folder ? 0040755u << 16 | 0x10 : 0100644u << 16);
  const auto dirAt = static_cast<std::uint32_t>(newDir);
  const auto entryAt = dirAt + dirSize;
  std::uint8_t* const newEnd = end + 4;  // the kept end record, updated in place
  StoreLE16(newEnd + End::EntriesHere, static_cast<std::uint16_t>(count + 1));
  StoreLE16(newEnd + End::EntriesAll, static_cast<std::uint16_t>(count + 1));
  StoreLE32(newEnd + End::DirectorySize, static_cast<std::uint32_t>(newDirSize));
  StoreLE32(newEnd + End::DirectoryOffset, dirAt);
  const auto endAt = static_cast<std::uint32_t>(newDir + newDirSize);
  if (IsFailure(s = so.writeAt(st, dirAt, raw, dirSize, nullptr)) ||
      IsFailure(s = so.writeAt(st, entryAt, entry, kEntrySize, nullptr)) ||
      IsFailure(s = so.writeAt(st, entryAt + kEntrySize, nameBytes, nameLength, nullptr)) ||
      IsFailure(s = so.writeAt(st, endAt, end, kEndSize + commentLength, nullptr)) ||
      IsFailure(s = so.setSize(st, endAt + kEndSize + commentLength))) {
    // The kept end record now describes the new directory: put the old one back.
    StoreLE16(newEnd + End::EntriesHere, static_cast<std::uint16_t>(count));
    StoreLE16(newEnd + End::EntriesAll, static_cast<std::uint16_t>(count));
    StoreLE32(newEnd + End::DirectorySize, dirSize);
    StoreLE32(newEnd + End::DirectoryOffset, dirStart);
    return restore(s);
  }
  z.endOffset = endAt;
  std::memcpy(z.endRecord, newEnd, sizeof z.endRecord);
  std::memcpy(z.entry, e, sizeof z.entry);
  z.entryOffset = entryAt;
  z.entryIndex = count;
  z.haveEntry = true;
  return kOk;
}
