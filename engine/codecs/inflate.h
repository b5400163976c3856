// The inflate module: a resumable decoder of DEFLATE streams (RFC 1951:
// stored, fixed and dynamic blocks) as an engine class, g_InflateModule.
//
// Input is read either by position from a source stream (pull mode) or from
// bytes pushed with InflateMod_Feed (push mode). Output goes through the
// instance's window, which doubles as the history of back-references: a
// distance may reach neither before the first byte of the stream nor further
// back than the window. When the window fills (a window's worth of bytes not
// yet delivered) it is delivered (to the sink stream, or to the caller's
// buffer in InflateMod_DecodeToBuffer) and the enabled checksums are updated
// over the delivered bytes. The window lies in a larger buffer that decoding
// runs along, so the history is always one run of bytes behind the write
// position; at the buffer's end the last window's worth moves to its start.
//
// Decoding is resumable at every symbol: when the input runs out in the
// middle of one, the decoder returns to the symbol's first bit and waits for
// more (push mode, or a pause of InflateMod_DecodeToSink) or answers
// kInflateInputExhausted (pull mode) with its state intact, so a caller may
// extend the source and call again.
//
// Instances are created by Create of the module and released by Destroy; the
// owner (the gzip and ZIP modules) sets the fields of InflateBody::output
// before decoding.
#pragma once

#include <cstdint>

#include "engine/codecs/deflate_common.h"
#include "engine/runtime/core.h"

// Facility 0x202.
constexpr StatusCode kInflateInputExhausted = MakeFailure(Facility::Inflate, 0x01);
constexpr StatusCode kInflateNoCode = MakeFailure(Facility::Inflate, 0x02);  // no code in 15 bits
// Code lengths over-subscribed, or a literal/length code without end-of-block.
constexpr StatusCode kInflateBadCodeLengths = MakeFailure(Facility::Inflate, 0x03);
// Code-length symbol above 18, a repeat without a previous length, or a
// repeat past HLIT + 257 + HDIST + 1 lengths.
constexpr StatusCode kInflateBadCodeLengthSymbol = MakeFailure(Facility::Inflate, 0x04);
constexpr StatusCode kInflateBadCounts = MakeFailure(Facility::Inflate, 0x05);   // HLIT, HDIST
constexpr StatusCode kInflateBadLiteral = MakeFailure(Facility::Inflate, 0x06);  // above 285
// Distance symbol above 29, or a distance beyond the bytes produced or the window.
constexpr StatusCode kInflateBadDistance = MakeFailure(Facility::Inflate, 0x07);
constexpr StatusCode kInflateWindowFull = MakeFailure(Facility::Inflate, 0x08);
constexpr StatusCode kInflateBadBlock = MakeFailure(Facility::Inflate, 0x09);  // BTYPE 3, NLEN
constexpr StatusCode kInflateNotFeeding = MakeFailure(Facility::Inflate, 0x0A);
// Delivering to the sink would pass stream position 0xFFFFFFFF; nothing of
// that delivery is written (the sink position never wraps to 0).
constexpr StatusCode kInflateSinkFull = MakeFailure(Facility::Inflate, 0x0B);
constexpr StatusCode kInflateEndOfStream = MakeInfo(Facility::Inflate, 0x01);

// Window sizes accepted by InflateMod_Create. Streams of other DEFLATE
// writers need 32 KiB of history.
constexpr std::uint32_t kInflateMinWindow = 1;
constexpr std::uint32_t kInflateMaxWindow = 1u << 24;
constexpr std::uint32_t kInflateStandardWindow = 32768;

// InflateMod_Reset: an input length that reaches to the end of the source.
constexpr std::uint32_t kInflateToEnd = 0xFFFFFFFFu;

// The observer of InflateMod_DecodeToSink: an EngineObject whose table has
// this layout. Create gets kInflateEndOfStream as a progress notice and the
// count of bytes produced so far; a failure answer stops decoding and is
// returned.
struct InflateObserverOps {
  CoreEndWord word0;
  StatusCode (*notify)(EngineObject* observer, StatusCode code,
                       const std::uint32_t* produced) noexcept;
  CoreEndWord end;
};

// Decoding steps (InflateBody::step).
namespace InflateStep {
constexpr std::uint8_t Header = 0;
constexpr std::uint8_t Tables = 1;
constexpr std::uint8_t Data = 2;
constexpr std::uint8_t Done = 3;
}  // namespace InflateStep

struct InflateFeed;

struct InflateBody {
  // Set by the owner before decoding; Reset and BeginFeed re-seed the two
  // checksums, which then hold the usual CRC-32 and Adler-32 of the bytes
  // delivered so far.
  struct Output {
    EngineObject* sink;          // receives the window when it fills; may be null
    std::uint32_t sinkPosition;  // advanced by each write; kInflateSinkFull past 0xFFFFFFFF
    bool keepCrc32;
    bool keepAdler32;
    std::uint32_t crc32;
    std::uint32_t adler32;
  } output;

  // Window: the last min(position, windowSize) bytes before position are the
  // history; bytes [delivered, position) are decoded but not yet delivered,
  // never more than windowSize of them.
  std::uint8_t* window;  // `capacity` bytes, and a slack that fast copies may overrun into
  std::uint32_t windowSize;
  std::uint32_t capacity;
  std::uint32_t position;
  std::uint32_t delivered;

  // Block state.
  std::uint8_t step;  // InflateStep
  bool finalBlock;
  std::uint8_t blockType;    // BTYPE of the current block
  std::uint32_t storedLeft;  // bytes left of a stored block
  std::uint32_t matchLeft;   // bytes left of a match cut short by the caller's size
  std::uint32_t matchDistance;
  std::uint32_t produced;  // bytes decoded since Reset (modulo 2^32)
  std::uint32_t consumed;  // input bytes used, set when the stream ends

  // Input: source stream and range (pull mode), or the feed ring (push mode).
  EngineObject* source;
  std::uint32_t inputStart;
  std::uint32_t inputLength;  // kInflateToEnd, or a byte count
  std::uint64_t chunkBase;    // input offset of chunk[0], counted from inputStart
  const std::uint8_t* chunk;  // bytes available now
  const std::uint8_t* next;
  const std::uint8_t* chunkEnd;
  std::uint8_t skipBits;  // bits of the first byte still to skip (Reset's bit offset)
  std::uint64_t bits;     // pending bits, next in bit 0
  std::uint32_t bitCount;
  StatusCode inputFailure;  // a failed read of the source, returned as it is
  std::uint8_t buffer[512];
  InflateFeed* feed;  // null outside push mode

  // Codes of the current block, and the same for the fast loop.
  DeflateHuffman literals;
  DeflateHuffman distances;
  DeflateFastCode fast;
};

struct InflateOps {
  CoreEndWord word0;
  // 1: creates a decoder with a window of windowSize bytes
  // (kInflateMinWindow .. kInflateMaxWindow, else kBadArgument); no input
  // and no sink yet. kOutOfMemory when refused.
  StatusCode (*create)(EngineObject* module, std::uint32_t windowSize, EngineObject** out) noexcept;
  // 2: releases the decoder, its window and any feed state.
  StatusCode (*destroy)(EngineObject* decoder) noexcept;
  // 3: reads compressed data from `source` starting at `position`, to the
  // end of the stream, and starts a new stream as Reset does.
  StatusCode (*setInput)(EngineObject* decoder, EngineObject* source,
                         std::uint32_t position) noexcept;
  // 4: starts a new stream on the same source: the compressed data begins
  // `bitOffset` bits (0-7, else kBadArgument) into the byte at `start` and
  // spans `length` bytes (kInflateToEnd: to the stream's end). Clears the
  // block state, the counters, the window's bookkeeping and the bit reader,
  // and re-seeds the checksums.
  StatusCode (*reset)(EngineObject* decoder, std::uint32_t start, std::uint32_t length,
                      std::uint32_t bitOffset) noexcept;
  // 5: reads BFINAL and BTYPE (and, for a stored block, LEN and NLEN; for a
  // fixed block, builds its codes). Only between blocks, else kBadArgument.
  // kInflateBadBlock for BTYPE 3 or NLEN not the complement of LEN.
  StatusCode (*readBlockHeader)(EngineObject* decoder) noexcept;
  // 6: reads the dynamic-block header after ReadBlockHeader found BTYPE 2 (else
  // kBadArgument). kInflateBadCounts, kInflateBadCodeLengthSymbol,
  // kInflateBadCodeLengths, kInflateNoCode.
  StatusCode (*readDynamicTables)(EngineObject* decoder) noexcept;
  // 7: decodes up to `size` bytes, reading block headers and tables as they
  // come (an end-of-block symbol is taken even when `size` bytes are done;
  // the next header is then left for the next call). With a buffer they are also delivered there
  // (and the checksums updated), *length saying how many; with a null buffer they stay in the
  // window (delivered to the sink when it fills; without a sink a full window
  // answers kInflateWindowFull). Bytes an earlier call left in the window go
  // first into the buffer, never more than size in all (0 while some are
  // left). kInflateEndOfStream once the final block has ended (the window's
  // rest then goes to the sink), else 0; in push mode 0 also when the pushed
  // input is used up.
  StatusCode (*decodeToBuffer)(EngineObject* decoder, void* buffer, std::uint32_t size,
                               std::uint32_t* length) noexcept;
  // 8: decodes until the final block ends, delivering the window to the
  // sink whenever it fills and at the end. After each block the observer
  // (if any) is notified. With a non-zero reserve, decoding pauses and
  // answers 0 when fewer than `reserve` input bits are available at a symbol
  // boundary. kInflateEndOfStream at the end.
  StatusCode (*decodeToSink)(EngineObject* decoder, EngineObject* observer,
                             std::uint32_t reserve) noexcept;
  // 9: switches to push mode and starts a new stream (as Reset); the input
  // ring (64 KiB in four pieces, allocated as needed) replaces the source.
  StatusCode (*beginFeed)(EngineObject* decoder) noexcept;
  // 10: appends count bytes to the input and decodes as far as they allow,
  // delivering the window to `sink` (or, when null, the sink already set).
  // 0 while more input is wanted; kInflateEndOfStream once the final block
  // has ended (bytes pushed after it are ignored; `consumed` tells where the
  // stream ended). kInflateNotFeeding without BeginFeed.
  StatusCode (*feed)(EngineObject* decoder, const void* bytes, std::uint32_t count,
                     EngineObject* sink) noexcept;
  // 11: leaves push mode and frees the ring, delivering what the window
  // still holds to the sink (if any). 0 when the stream had ended,
  // kInflateInputExhausted when it had not; kInflateNotFeeding without
  // BeginFeed.
  StatusCode (*endFeed)(EngineObject* decoder) noexcept;
  CoreEndWord end;
};

extern EngineObject InflateModule;

StatusCode InflateMod_Create(EngineObject* module, std::uint32_t windowSize,
                             EngineObject** out) noexcept;
StatusCode InflateMod_Destroy(EngineObject* decoder) noexcept;
StatusCode InflateMod_SetInput(EngineObject* decoder, EngineObject* source,
                               std::uint32_t position) noexcept;
StatusCode InflateMod_Reset(EngineObject* decoder, std::uint32_t start, std::uint32_t length,
                            std::uint32_t bitOffset) noexcept;
StatusCode InflateMod_ReadBlockHeader(EngineObject* decoder) noexcept;
StatusCode InflateMod_ReadDynamicTables(EngineObject* decoder) noexcept;
StatusCode InflateMod_DecodeToBuffer(EngineObject* decoder, void* buffer, std::uint32_t size,
                                     std::uint32_t* length) noexcept;
StatusCode InflateMod_DecodeToSink(EngineObject* decoder, EngineObject* observer,
                                   std::uint32_t reserve) noexcept;
StatusCode InflateMod_BeginFeed(EngineObject* decoder) noexcept;
StatusCode InflateMod_Feed(EngineObject* decoder, const void* bytes, std::uint32_t count,
                           EngineObject* sink) noexcept;
StatusCode InflateMod_EndFeed(EngineObject* decoder) noexcept;
