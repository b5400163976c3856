// The gzip module (RFC 1952) as an engine class, g_GzipModule: reads the
// members of a gzip range of a stream one by one and extracts them, and
// writes new members. All data is reached by position through StreamOps.
//
// An instance owns one DEFLATE encoder and one inflate decoder (32 KiB
// window). Member dates are UTC (MTIME, seconds since 1970); a date the
// format cannot hold is written as 0, "no time". Name and comment offsets
// are positions in the stream; their bytes are Latin-1 and read by the
// caller from there.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"
#include "engine/runtime/date.h"

// Facility 0x206.
constexpr StatusCode kGzipTooShort = MakeFailure(Facility::Gzip, 0x04);       // under 10 bytes
constexpr StatusCode kGzipBadMagic = MakeFailure(Facility::Gzip, 0x05);       // not 1F 8B
constexpr StatusCode kGzipBadMethod = MakeFailure(Facility::Gzip, 0x06);      // not 8
constexpr StatusCode kGzipNoExtraLength = MakeFailure(Facility::Gzip, 0x07);  // FEXTRA cut short
constexpr StatusCode kGzipExtraTooLong = MakeFailure(Facility::Gzip, 0x08);
constexpr StatusCode kGzipUnterminated = MakeFailure(Facility::Gzip, 0x09);  // name or comment
constexpr StatusCode kGzipNoHeaderCrc = MakeFailure(Facility::Gzip, 0x0A);
constexpr StatusCode kGzipHeaderCrc = MakeFailure(Facility::Gzip, 0x0B);
// The compressed data or the 8-byte trailer runs past the range.
constexpr StatusCode kGzipShortMember = MakeFailure(Facility::Gzip, 0x0C);
constexpr StatusCode kGzipCrcMismatch = MakeFailure(Facility::Gzip, 0x0D);
constexpr StatusCode kGzipSizeMismatch = MakeFailure(Facility::Gzip, 0x0E);   // ISIZE
constexpr StatusCode kGzipReservedFlags = MakeFailure(Facility::Gzip, 0x0F);  // FLG bits 5-7
// The member decodes to more bytes than the limit set with
// GzipMod_SetOutputLimit; the sink got the bytes up to the limit.
constexpr StatusCode kGzipOutputLimit = MakeFailure(Facility::Gzip, 0x10);
// The output would run past the last position a stream can address
// (0xFFFFFFFF): a member of 4 GiB or more, or one started too close to the
// end. The sink got the bytes that fit; nothing wraps to its start.
constexpr StatusCode kGzipTooLarge = MakeFailure(Facility::Gzip, 0x11);

// GzipMod_SetOutputLimit: no limit beyond the 4 GiB of stream positions.
constexpr std::uint32_t kGzipNoOutputLimit = 0xFFFFFFFFu;
// The observer of an extraction hears of progress at least this often.
constexpr std::uint32_t kArchiveProgressStep = 65536;

// The codecs an archive instance owns, first in the gzip and the ZIP body
// alike, so one destroy serves both classes.
struct ArchiveCodecs {
  EngineObject* encoder;  // DEFLATE encoder, 32 KiB blocks
  EngineObject* decoder;  // inflate decoder, 32 KiB window
};

struct GzipBody {
  ArchiveCodecs codecs;
  EngineObject* stream;
  std::uint32_t rangeStart;
  std::uint32_t rangeLength;  // clipped to the stream
  // The current member.
  bool haveMember;
  std::uint32_t memberStart;   // offset of its header in the stream
  std::uint32_t headerLength;  // bytes up to its compressed data
  std::uint8_t header[10];
  std::uint32_t nameOffset, nameLength;        // 0, 0 when absent
  std::uint32_t commentOffset, commentLength;  // 0, 0 when absent
  std::uint32_t memberEnd;                     // offset after its trailer; 0 until known
  std::uint32_t memberCount;
  std::uint64_t totalSize;    // sum of the sizes of the members extracted
  std::uint32_t outputLimit;  // most bytes one extraction may write; kGzipNoOutputLimit
  // Writing.
  bool writing;
  std::uint32_t writePosition;
};

struct GzipOps {
  CoreEndWord word0;
  // 1: creates an instance with its encoder and decoder; kOutOfMemory.
  StatusCode (*create)(EngineObject* module, EngineObject** out) noexcept;
  // 2: releases the instance and its codecs (not the streams); everything
  // is freed, and the first failure of a codec's release is answered. The
  // ZIP class uses the same operation.
  StatusCode (*destroy)(EngineObject* instance) noexcept;
  // 3: reads members from stream[start .. start + length), the range clipped
  // to the stream's size. No member is current until FirstMember.
  StatusCode (*openRead)(EngineObject* instance, EngineObject* stream, std::uint32_t start,
                         std::uint32_t length) noexcept;
  // 4: writes members into the stream from position on.
  StatusCode (*openWrite)(EngineObject* instance, EngineObject* stream,
                          std::uint32_t position) noexcept;
  // 5: reads the header of the first member; 5 (kNoMore) when the range is
  // empty; the header failures of the facility otherwise.
  StatusCode (*firstMember)(EngineObject* instance) noexcept;
  // 6: moves to the member after the current one's trailer (inflating the
  // current one without output when it was not extracted); 5 when no bytes
  // follow; kGzipShortMember when the current one has no room for its
  // trailer; kBadArgument without a current member.
  StatusCode (*nextMember)(EngineObject* instance) noexcept;
  // 7: the current member's MTIME as a UTC date (1970-01-01 for 0), and the
  // stream offsets and lengths (without the terminator) of its name and
  // comment, 0 and 0 when absent. Every out is optional.
  StatusCode (*getMemberInfo)(EngineObject* instance, DateTime* date, std::uint32_t* nameOffset,
                              std::uint32_t* nameLength, std::uint32_t* commentOffset,
                              std::uint32_t* commentLength) noexcept;
  // 8: inflates the current member into sink from sinkPosition on, then
  // checks the trailer: kGzipCrcMismatch, kGzipSizeMismatch, kGzipShortMember.
  // The observer (optional, InflateObserverOps) is notified with the count
  // of bytes produced after every kArchiveProgressStep bytes at most, also
  // within a compressed block, and once at the end; a failure it answers
  // stops decoding and is returned. Output is bounded: kGzipOutputLimit once
  // the member would write more than the instance's limit
  // (GzipMod_SetOutputLimit), kGzipTooLarge once it would pass stream
  // position 0xFFFFFFFF; the sink never receives a byte past either bound.
  // The decoded bytes stay written on failure. *crc32 and *size (optional)
  // get the member's CRC-32 and size.
  StatusCode (*extractMember)(EngineObject* instance, EngineObject* sink,
                              std::uint32_t sinkPosition, EngineObject* observer,
                              std::uint32_t* crc32, std::uint32_t* size) noexcept;
  // 9: appends a member: header (FNAME when the name is not empty; the name
  // may end with its zero byte, and may hold no other; kBadArgument
  // otherwise), source[position .. position + length) compressed, trailer.
  // date null or outside 1970-2106: MTIME 0. *written (optional) = the
  // member's bytes. The next member goes right after it.
  StatusCode (*writeMember)(EngineObject* instance, EngineObject* source, std::uint32_t position,
                            std::uint32_t length, const void* name, std::uint32_t nameLength,
                            const DateTime* date, std::uint32_t* written) noexcept;
  CoreEndWord end;
};

extern EngineObject GzipModule;

StatusCode GzipMod_Create(EngineObject* module, EngineObject** out) noexcept;
StatusCode GzipMod_Destroy(EngineObject* instance) noexcept;
StatusCode GzipMod_OpenRead(EngineObject* instance, EngineObject* stream, std::uint32_t start,
                            std::uint32_t length) noexcept;
StatusCode GzipMod_OpenWrite(EngineObject* instance, EngineObject* stream,
                             std::uint32_t position) noexcept;
StatusCode GzipMod_FirstMember(EngineObject* instance) noexcept;
StatusCode GzipMod_NextMember(EngineObject* instance) noexcept;
StatusCode GzipMod_GetMemberInfo(EngineObject* instance, DateTime* date, std::uint32_t* nameOffset,
                                 std::uint32_t* nameLength, std::uint32_t* commentOffset,
                                 std::uint32_t* commentLength) noexcept;
StatusCode GzipMod_ExtractMember(EngineObject* instance, EngineObject* sink,
                                 std::uint32_t sinkPosition, EngineObject* observer,
                                 std::uint32_t* crc32, std::uint32_t* size) noexcept;
StatusCode GzipMod_WriteMember(EngineObject* instance, EngineObject* source, std::uint32_t position,
                               std::uint32_t length, const void* name, std::uint32_t nameLength,
                               const DateTime* date, std::uint32_t* written) noexcept;

// Bounds what each later GzipMod_ExtractMember of the instance may write:
// at most `limit` bytes (kGzipNoOutputLimit, the default, for none beyond
// the 4 GiB of stream positions). A reader of untrusted files sets it, since
// a small member can inflate a thousandfold. Kept across OpenRead.
StatusCode GzipMod_SetOutputLimit(EngineObject* instance, std::uint32_t limit) noexcept;

// Creates the encoder and decoder an archive instance owns (both or
// neither), and releases them (both, answering the first failure). For the
// gzip and ZIP modules.
StatusCode Archive_CreateCodecs(ArchiveCodecs& codecs) noexcept;
StatusCode Archive_ReleaseCodecs(ArchiveCodecs& codecs) noexcept;
// Inflates source[start .. start + length) into sink (null: the bytes are
// dropped) with the codecs' decoder; *crc32 (usual CRC-32), *size and
// *consumed (compressed bytes used) on success. kInflateInputExhausted when
// the data ends before the final block. The observer hears of progress as
// ExtractMember of the gzip module says. With a sink, kGzipOutputLimit once more
// than `limit` bytes come out and kGzipTooLarge once the output would pass
// stream position 0xFFFFFFFF; the sink receives the bytes within both bounds
// and none past them. Without a sink nothing is bounded (the bytes are only
// counted, *size then modulo 2^32).
StatusCode Archive_Inflate(ArchiveCodecs& codecs, EngineObject* source, std::uint32_t start,
                           std::uint32_t length, EngineObject* sink, std::uint32_t sinkPosition,
                           EngineObject* observer, std::uint32_t* crc32, std::uint32_t* size,
                           std::uint32_t* consumed,
                           std::uint32_t limit = kGzipNoOutputLimit) noexcept;
