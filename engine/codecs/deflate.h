// The DEFLATE encoder (RFC 1951) as an engine class, g_DeflateModule.
//
// An encoder works on blocks of at most B bytes (chosen at creation). A caller
// either drives it block by block — ClearCounts, MatchBlock (LZ77 with hash
// chains and one step of lazy matching), BuildBlockCodes (length-limited
// Huffman codes for the counts gathered), WriteBlockHeader, WriteCodeTables,
// CompressBlock, and Flush at the end — or hands it a whole stream range with
// CompressRange, which writes one dynamic block per chunk of B bytes. Only
// dynamic-Huffman blocks are written. History does not carry across blocks,
// and no match reaches further back than 32768 bytes, so every RFC 1951
// decoder accepts the output whatever B is.
//
// Bits go either into a caller buffer or, through the instance's own 512-byte
// buffer, to a sink stream written by position. The gzip and ZIP modules own
// one encoder each.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x201.
constexpr StatusCode kDeflateBlockTooLarge = MakeFailure(Facility::Deflate, 0x01);
constexpr StatusCode kDeflateOutputFull = MakeFailure(Facility::Deflate, 0x02);

constexpr std::uint32_t kDeflateMaxBlockSize = 65535;  // positions inside a block are 16-bit
constexpr std::uint32_t kDeflateMaxDistance = 32768;   // the farthest match the encoder emits
constexpr std::uint32_t kDeflateStandardBlockSize = 32768;

constexpr unsigned kDeflateLengthCodes = 286;  // literal/length symbols the encoder counts
constexpr unsigned kDeflateDistanceCodes = 30;

// Length-limited Huffman code lengths for counts[0 .. n) (n <= 286, maxBits
// 1-15): a Huffman tree built from a heap ordered by count, then by depth;
// lengths over maxBits are cut and the code is rebalanced so that it stays
// complete. Symbols with a zero count get length 0. When no count is
// non-zero, symbol 0 is taken with a count of 1; when only one symbol is
// used, symbol 0 (or 1 when the used one is 0) joins it with the same count,
// so at least two codes of length 1 exist. false when n or maxBits is out of
// range or maxBits cannot hold n codes.
bool Deflate_BuildCodeLengths(const std::uint32_t* counts, unsigned n, unsigned maxBits,
                              std::uint8_t* lengths) noexcept;

// The builder behind it, for any alphabet: lengths for the u >= 2 symbols
// listed in used[] (ascending, counts non-zero), limited to maxBits (at most
// 31, and 2^maxBits >= u); other entries of lengths are left as they are.
// Ties go by subtree depth, then by position in used[], so equal inputs give
// equal codes. The scratch arrays hold 2u entries each (heap: u).
struct DeflateLengthScratch {
  std::uint64_t* weight;
  std::uint32_t* parent;
  std::uint32_t* level;
  std::uint32_t* heap;
  std::uint8_t* depth;
};
constexpr unsigned kMaxLimitedBits = 31;
void Deflate_LimitedCodeLengths(const std::uint32_t* counts, const std::uint32_t* used,
                                std::uint32_t u, unsigned maxBits, std::uint8_t* lengths,
                                const DeflateLengthScratch& scratch) noexcept;
// Canonical codes (RFC 1951 section 3.2.2) for lengths[0 .. n), each stored
// bit-reversed so that it can be sent least significant bit first.
void Deflate_CanonicalCodes(const std::uint8_t* lengths, unsigned n, std::uint16_t* codes) noexcept;

struct DeflateBody {
  std::uint32_t blockSize;    // B
  std::uint8_t* input;        // B bytes: the chunk CompressRange reads
  std::uint8_t* symbols;      // B: literal byte, or match length - 3
  std::uint16_t* distances;   // B: 0 for a literal, else the match distance
  std::uint32_t symbolCount;  // symbols of the last matched block
  std::uint16_t* heads;       // 8192 hash heads (position + 1; 0 = none)
  std::uint16_t* chain;       // B chain links (position + 1; 0 = none)

  // Symbol counts since ClearCounts (32-bit, so many blocks may be counted).
  std::uint32_t literalCounts[kDeflateLengthCodes];
  std::uint32_t distanceCounts[kDeflateDistanceCodes];

  // Codes built by BuildBlockCodes.
  bool codesReady;
  std::uint8_t literalLengths[kDeflateLengthCodes];
  std::uint16_t literalCodes[kDeflateLengthCodes];
  std::uint8_t distanceLengths[kDeflateDistanceCodes];
  std::uint16_t distanceCodes[kDeflateDistanceCodes];
  std::uint8_t clLengths[19];
  std::uint16_t clCodes[19];
  std::uint32_t literalCodesSent;   // HLIT + 257
  std::uint32_t distanceCodesSent;  // HDIST + 1
  std::uint32_t clCodesSent;        // HCLEN + 4
  // The two length tables run-length coded: symbol (0-18) and its extra value.
  std::uint32_t rleCount;
  std::uint8_t rleSymbols[kDeflateLengthCodes + kDeflateDistanceCodes];
  std::uint8_t rleExtra[kDeflateLengthCodes + kDeflateDistanceCodes];
  std::uint32_t headerBits;  // bits of the dynamic-block header (with BFINAL and BTYPE)

  // Bit writer.
  std::uint64_t bits;  // pending bits, the first in bit 0
  std::uint32_t bitCount;
  std::uint8_t* out;  // the caller's buffer, or own
  std::uint32_t outSize;
  std::uint32_t outUsed;
  bool callerBuffer;
  EngineObject* sink;  // with own buffer: where it goes
  std::uint32_t sinkPosition;
  std::uint32_t written;  // bytes delivered since the output was set
  std::uint8_t own[512];
};

struct DeflateOps {
  CoreEndWord word0;
  // 1: creates an encoder for blocks of blockSize bytes (1 -
  // kDeflateMaxBlockSize, else kBadArgument); kOutOfMemory when a buffer
  // cannot be had. It has no output until SetOutputBuffer or SetOutputSink.
  StatusCode (*create)(EngineObject* module, std::uint32_t blockSize, EngineObject** out) noexcept;
  // 2: releases the encoder and its buffers.
  StatusCode (*destroy)(EngineObject* encoder) noexcept;
  // 3: zeroes the 286 literal/length and 30 distance counts.
  StatusCode (*clearCounts)(EngineObject* encoder) noexcept;
  // 4: LZ77 over data[0 .. n) (history starts with the block): fills the
  // instance's symbol and distance buffers and adds every symbol, and one
  // end-of-block, to the counts. The count and the two buffers go to the
  // optional outs. kDeflateBlockTooLarge when n > B.
  StatusCode (*matchBlock)(EngineObject* encoder, const void* data, std::uint32_t n,
                           std::uint32_t* symbolCount, const std::uint8_t** symbols,
                           const std::uint16_t** distances) noexcept;
  // 5: builds both codes from the counts, their run-length coded lengths and
  // the code-length code. With t > 0 (capped at 20) the count of literal 0
  // first becomes that of the least frequent non-zero of the t most frequent
  // literal bytes (ties: the smaller byte).
  StatusCode (*buildBlockCodes)(EngineObject* encoder, std::uint32_t t) noexcept;
  // 6: bits go to buffer[0 .. size); when it is full, the writing slot
  // answers kDeflateOutputFull (what fitted stays written).
  StatusCode (*setOutputBuffer)(EngineObject* encoder, void* buffer, std::uint32_t size) noexcept;
  // 7: bits go through the instance's 512-byte buffer to the stream, written
  // at position onwards. Stream failures are returned as they are; output
  // that would pass position 0xFFFFFFFF answers kDeflateOutputFull.
  StatusCode (*setOutputSink)(EngineObject* encoder, EngineObject* stream,
                              std::uint32_t position) noexcept;
  // 8: pads the last byte with zero bits and writes what is pending;
  // *written (optional) = bytes delivered since the output was set.
  StatusCode (*flush)(EngineObject* encoder, std::uint32_t* written) noexcept;
  // 9: BFINAL, then BTYPE: 0 when not compressed, 2 when dynamic, else 1.
  // Only dynamic blocks have a writer here; callers announce no other kind.
  StatusCode (*writeBlockHeader)(EngineObject* encoder, std::uint32_t final,
                                 std::uint32_t compressed, std::uint32_t dynamic) noexcept;
  // 10: the dynamic-block header (HLIT, HDIST, HCLEN, the code-length code
  // and both run-length coded tables); kBadArgument before BuildBlockCodes.
  StatusCode (*writeCodeTables)(EngineObject* encoder) noexcept;
  // 11: writes count symbols with the current codes, then end-of-block.
  // With null symbols, the last matched block. kBadArgument before BuildBlockCodes,
  // for a symbol that has no code or a distance above kDeflateMaxDistance.
  StatusCode (*compressBlock)(EngineObject* encoder, std::uint32_t count,
                              const std::uint8_t* symbols, const std::uint16_t* distances) noexcept;
  // 12: compresses length bytes of source from position in chunks of B
  // bytes, each one dynamic block, the last one final; a length of 0 writes
  // one empty final block, so the output is always a complete DEFLATE
  // stream. It does not flush. Each chunk updates the optional running
  // checksums (raw CRC-32 register and Adler-32, as the checksum service
  // keeps them: the caller seeds and finishes). A source shorter than the
  // range answers kStreamShortRead.
  StatusCode (*compressRange)(EngineObject* encoder, EngineObject* source, std::uint32_t position,
                              std::uint32_t length, std::uint32_t* crc32,
                              std::uint32_t* adler32) noexcept;
  CoreEndWord end;
};

extern EngineObject DeflateModule;

StatusCode DeflateMod_Create(EngineObject* module, std::uint32_t blockSize,
                             EngineObject** out) noexcept;
StatusCode DeflateMod_Destroy(EngineObject* encoder) noexcept;
StatusCode DeflateMod_ClearCounts(EngineObject* encoder) noexcept;
StatusCode DeflateMod_MatchBlock(EngineObject* encoder, const void* data, std::uint32_t n,
                                 std::uint32_t* symbolCount, const std::uint8_t** symbols,
                                 const std::uint16_t** distances) noexcept;
StatusCode DeflateMod_BuildBlockCodes(EngineObject* encoder, std::uint32_t t) noexcept;
StatusCode DeflateMod_SetOutputBuffer(EngineObject* encoder, void* buffer,
                                      std::uint32_t size) noexcept;
StatusCode DeflateMod_SetOutputSink(EngineObject* encoder, EngineObject* stream,
                                    std::uint32_t position) noexcept;
StatusCode DeflateMod_Flush(EngineObject* encoder, std::uint32_t* written) noexcept;
StatusCode DeflateMod_WriteBlockHeader(EngineObject* encoder, std::uint32_t final,
                                       std::uint32_t compressed, std::uint32_t dynamic) noexcept;
StatusCode DeflateMod_WriteCodeTables(EngineObject* encoder) noexcept;
StatusCode DeflateMod_CompressBlock(EngineObject* encoder, std::uint32_t count,
                                    const std::uint8_t* symbols,
                                    const std::uint16_t* distances) noexcept;
StatusCode DeflateMod_CompressRange(EngineObject* encoder, EngineObject* source,
                                    std::uint32_t position, std::uint32_t length,
                                    std::uint32_t* crc32, std::uint32_t* adler32) noexcept;
