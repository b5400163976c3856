// The general Huffman coder: two engine classes, g_HuffEncoderModule and
// g_HuffDecoderModule, for alphabets of n symbols (1 - kHuffMaxAlphabet).
//
// The encoder counts the symbols of a stream range, builds length-limited
// canonical codes from the counts, writes the code-length table and encodes
// ranges; the decoder reads the table, builds a binary decoding tree and
// decodes. Streams are addressed by position and never seeked by the caller's
// side: every read and write names its position.
//
// Symbol records in a stream range: the symbol as 1, 2 or 4 bytes
// little-endian; then, when the extra-bit function gives k > 0 bits for it,
// the extra value as 1 (k <= 8), 2 (k <= 16) or 4 (k <= 32) bytes
// little-endian (only its low k bits are coded). A range is given by a start
// position and a length, kHuffToEnd reaching to the end of the stream.
//
// Bit stream: bits are packed least significant first within each byte; a
// code is sent from its most significant bit; extra bits follow their symbol,
// least significant first. The last byte is padded with zero bits. The stream
// holds no symbol count, so decoding "until the input ends" may turn the
// padding into up to seven extra symbols; a decoder told the symbol count
// stops exactly.
//
// Code-length table, coded form (odd form numbers): 5 bits c - 4; c fields of
// 3 bits, the lengths of the 35-symbol code-length code in the order of
// kHuffCodeLengthOrder (the others are 0); then the n lengths coded with that
// code: 0-31 a length, 32 the previous length 3 + (2 bits) times, 33 3 + (3
// bits) zeros, 34 11 + (7 bits) zeros. Raw form (form 0): n bytes, one length
// each. A length of 0 means no code; the encoder builds codes of at most 31
// bits (what the coded form can carry), the decoder accepts up to 32.
#pragma once

#include <array>
#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x204: encoder.
constexpr StatusCode kHuffEncBadWidth = MakeFailure(Facility::HuffEncoder, 0x01);  // not 1, 2, 4
// A symbol not below n, or (when encoding) one without a code.
constexpr StatusCode kHuffEncBadSymbol = MakeFailure(Facility::HuffEncoder, 0x02);
// Extra bits above 32, or a record cut short by the end of the range.
constexpr StatusCode kHuffEncBadRecord = MakeFailure(Facility::HuffEncoder, 0x03);
constexpr StatusCode kHuffEncNoSink = MakeFailure(Facility::HuffEncoder, 0x04);
// Facility 0x205: decoder.
constexpr StatusCode kHuffDecEndOfInput = MakeFailure(Facility::HuffDecoder, 0x01);
constexpr StatusCode kHuffDecNoLeaf = MakeFailure(Facility::HuffDecoder, 0x02);  // within 32 bits
// Lengths over-subscribed (or above 32, or a tree of more than n + 1 nodes).
constexpr StatusCode kHuffDecOversubscribed = MakeFailure(Facility::HuffDecoder, 0x03);
constexpr StatusCode kHuffDecBadExtra = MakeFailure(Facility::HuffDecoder, 0x04);  // above 32
// A malformed coded table (a run past the n-th length, or a repeat with no
// previous length) answers the generic kMalformed.

constexpr std::uint32_t kHuffToEnd = 0xFFFFFFFFu;  // range length: to the end of the stream
constexpr std::uint32_t kHuffMaxAlphabet = 1u << 24;
constexpr std::uint32_t kHuffMaxCodeBits = 31;    // longest code the encoder builds
constexpr std::uint32_t kHuffMaxDecodeBits = 32;  // longest code the decoder accepts
constexpr std::uint32_t kHuffFormRaw = 0;         // table forms; odd numbers are coded
constexpr std::uint32_t kHuffFormCoded = 1;
// CountSymbols flag: clear the counts first.
constexpr std::uint32_t kHuffCountClear = 0x01;

// The code-length code: 35 symbols, lengths of at most 7 bits, sent in this order.
constexpr unsigned kHuffCodeLengthSymbols = 35;
constexpr unsigned kHuffMaxCodeLengthBits = 7;
constexpr std::array<std::uint8_t, kHuffCodeLengthSymbols> kHuffCodeLengthOrder = {
    32, 33, 34, 0,  8,  7,  9,  6,  10, 5,  11, 4,  12, 3,  13, 2,  14, 1,
    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

// The caller's extra-bit function: the number of extra bits (0 - 32) that
// follow a symbol. Null means none follow any symbol.
using HuffExtraBitsFn = std::uint32_t (*)(std::uint32_t symbol) noexcept;

// The start of both bodies: HuffCoder_GetArray serves both classes through it.
struct HuffCoderHead {
  std::uint32_t n;   // alphabet size
  void* firstArray;  // encoder: the counts; decoder: the lengths
};

struct HuffEncoderBody {
  HuffCoderHead head;
  std::uint32_t* counts;    // n, saturating at 0xFFFFFFFF
  std::uint32_t* codes;     // n, bit-reversed: ready to send least significant bit first
  std::uint8_t* lengths;    // n, 0 = no code
  std::uint32_t maxLength;  // the limit the last BuildCodes used
};

struct HuffDecoderBody {
  HuffCoderHead head;
  std::uint8_t* lengths;  // n
  // Child links of the decoding tree, n + 2 each; node 0 is the root. A link
  // of 0 is no child, 1 - n an internal node, above n the leaf of symbol
  // link - n - 1.
  std::uint32_t* zero;
  std::uint32_t* one;
};

struct HuffEncoderOps {
  CoreEndWord word0;
  // 1: creates an encoder for n symbols, counts and lengths zero. kBadArgument
  // for n = 0; kOutOfMemory above kHuffMaxAlphabet or when refused.
  StatusCode (*create)(EngineObject* module, std::uint32_t n, EngineObject** out) noexcept;
  // 2: releases the encoder.
  StatusCode (*destroy)(EngineObject* encoder) noexcept;
  // 3: zeroes the counts.
  StatusCode (*clearCounts)(EngineObject* encoder) noexcept;
  // 4: the counts (u32[n]), which the caller may also fill itself.
  StatusCode (*getArray)(EngineObject* encoder, void** array) noexcept;
  // 5: lengths and codes from the counts, no code longer than maxLength
  // (above kHuffMaxCodeBits taken as kHuffMaxCodeBits). Symbols with a zero
  // count get no code; a single used symbol gets a code of length 1.
  // kBadArgument for maxLength 0 or too short for the symbols used.
  StatusCode (*buildCodes)(EngineObject* encoder, std::uint32_t maxLength) noexcept;
  // 6: the lengths (u8[n]) of the last BuildCodes.
  StatusCode (*getCodeLengths)(EngineObject* encoder, const std::uint8_t** lengths) noexcept;
  // 7: *bytes = (sum of counts[i] * (lengths[i] + extra(i)) + 7) / 8.
  // kHuffEncBadRecord when extra answers above 32; kIndexOutOfRange when the
  // size passes 32 bits.
  StatusCode (*sizeFromCounts)(EngineObject* encoder, HuffExtraBitsFn extra,
                               std::uint32_t* bytes) noexcept;
  // 8: adds the symbols of the range to the counts (flags: kHuffCountClear).
  // kHuffEncBadWidth (nothing done), kHuffEncBadSymbol, kHuffEncBadRecord,
  // kStreamShortRead for an explicit length that passes the stream's end,
  // stream failures as they are. After a failure the counts include the
  // records before the failing one.
  StatusCode (*countSymbols)(EngineObject* encoder, std::uint32_t flags, EngineObject* source,
                             std::uint32_t position, std::uint32_t length, std::uint32_t width,
                             HuffExtraBitsFn extra) noexcept;
  // 9: writes the table of the current lengths at position of sink, padded
  // to a whole byte; *written (optional) = its bytes. kFailed for an even
  // form other than 0; kHuffEncNoSink without a sink.
  StatusCode (*writeTable)(EngineObject* encoder, std::uint32_t form, EngineObject* sink,
                           std::uint32_t position, std::uint32_t* written) noexcept;
  // 10: encodes the range with the current codes to sink from sinkPosition,
  // padded to a whole byte; *written (optional) = bytes written. The second
  // word is ignored. Failures as CountSymbols (kHuffEncBadSymbol also for a
  // symbol without a code) and kHuffEncNoSink; output that would pass
  // position 0xFFFFFFFF answers kIndexOutOfRange. After a failure, only the
  // whole 512-byte pieces delivered before it are in the sink.
  StatusCode (*encodeRange)(EngineObject* encoder, std::uint32_t ignored, EngineObject* source,
                            std::uint32_t position, std::uint32_t length, std::uint32_t width,
                            HuffExtraBitsFn extra, EngineObject* sink, std::uint32_t sinkPosition,
                            std::uint32_t* written) noexcept;
  // 11: *bytes = the size EncodeRange would write, without writing.
  StatusCode (*measureRange)(EngineObject* encoder, std::uint32_t ignored, EngineObject* source,
                             std::uint32_t position, std::uint32_t length, std::uint32_t width,
                             HuffExtraBitsFn extra, std::uint32_t* bytes) noexcept;
  CoreEndWord end;
};

struct HuffDecoderOps {
  CoreEndWord word0;
  // 1: creates a decoder for n symbols, lengths zero and the tree empty.
  // kBadArgument for n = 0; kOutOfMemory above kHuffMaxAlphabet or when refused.
  StatusCode (*create)(EngineObject* module, std::uint32_t n, EngineObject** out) noexcept;
  // 2: releases the decoder.
  StatusCode (*destroy)(EngineObject* decoder) noexcept;
  // 3: the lengths (u8[n]), which the caller may fill and then RebuildTree.
  StatusCode (*getArray)(EngineObject* decoder, void** array) noexcept;
  // 4: the decoding tree from the lengths. kHuffDecOversubscribed leaves the
  // tree empty (every decode then answers kHuffDecNoLeaf). An incomplete
  // code is accepted; its unused bit patterns decode as kHuffDecNoLeaf.
  StatusCode (*rebuildTree)(EngineObject* decoder) noexcept;
  // 5: reads a table of the given form from at most `available` bytes at
  // position, then rebuilds the tree; *consumed (optional) = the table's
  // bytes, including the padding of its last byte. kFailed for an even form
  // other than 0. kHuffDecEndOfInput when the bytes run out (the raw form
  // needs n); kHuffDecNoLeaf, kHuffDecOversubscribed for a bad code-length
  // code; kMalformed for a run past n or a repeat with no previous length;
  // stream failures as they are. A table that fails to read changes nothing;
  // one whose lengths fail RebuildTree is kept, with the tree empty.
  StatusCode (*readTable)(EngineObject* decoder, std::uint32_t form, EngineObject* source,
                          std::uint32_t position, std::uint32_t available,
                          std::uint32_t* consumed) noexcept;
  // 6: decodes the range and writes symbol records (the width of each
  // symbol, then its extra value as described above) to sink from
  // sinkPosition; *written (optional) = bytes written. With symbolCount 0 it
  // decodes until the input ends and answers 0 (a symbol or extra field cut
  // short by the end is dropped as padding); otherwise it stops after
  // symbolCount symbols and answers kHuffDecEndOfInput when the input ends
  // first. kBadArgument for a width other than 1, 2, 4 or a decoded symbol
  // that does not fit in it; kHuffDecNoLeaf, kHuffDecBadExtra; stream
  // failures as they are. After a failure, only the whole 512-byte pieces
  // delivered before it are in the sink.
  StatusCode (*decodeRange)(EngineObject* decoder, std::uint32_t symbolCount, EngineObject* source,
                            std::uint32_t position, std::uint32_t length, std::uint32_t width,
                            HuffExtraBitsFn extra, EngineObject* sink, std::uint32_t sinkPosition,
                            std::uint32_t* written) noexcept;
  CoreEndWord end;
};

extern EngineObject HuffEncoderModule;
extern EngineObject HuffDecoderModule;

StatusCode HuffCoder_CreateEncoder(EngineObject* module, std::uint32_t n,
                                   EngineObject** out) noexcept;
StatusCode HuffCoder_DestroyEncoder(EngineObject* encoder) noexcept;
StatusCode HuffCoder_ClearCounts(EngineObject* encoder) noexcept;
StatusCode HuffCoder_GetArray(EngineObject* coder, void** array) noexcept;
StatusCode HuffCoder_BuildCodes(EngineObject* encoder, std::uint32_t maxLength) noexcept;
StatusCode HuffCoder_GetCodeLengths(EngineObject* encoder, const std::uint8_t** lengths) noexcept;
StatusCode HuffCoder_SizeFromCounts(EngineObject* encoder, HuffExtraBitsFn extra,
                                    std::uint32_t* bytes) noexcept;
StatusCode HuffCoder_CountSymbols(EngineObject* encoder, std::uint32_t flags, EngineObject* source,
                                  std::uint32_t position, std::uint32_t length, std::uint32_t width,
                                  HuffExtraBitsFn extra) noexcept;
StatusCode HuffCoder_WriteTable(EngineObject* encoder, std::uint32_t form, EngineObject* sink,
                                std::uint32_t position, std::uint32_t* written) noexcept;
StatusCode HuffCoder_EncodeRange(EngineObject* encoder, std::uint32_t ignored, EngineObject* source,
                                 std::uint32_t position, std::uint32_t length, std::uint32_t width,
                                 HuffExtraBitsFn extra, EngineObject* sink,
                                 std::uint32_t sinkPosition, std::uint32_t* written) noexcept;
StatusCode HuffCoder_MeasureRange(EngineObject* encoder, std::uint32_t ignored,
                                  EngineObject* source, std::uint32_t position,
                                  std::uint32_t length, std::uint32_t width, HuffExtraBitsFn extra,
                                  std::uint32_t* bytes) noexcept;

StatusCode HuffCoder_CreateDecoder(EngineObject* module, std::uint32_t n,
                                   EngineObject** out) noexcept;
StatusCode HuffCoder_DestroyDecoder(EngineObject* decoder) noexcept;
StatusCode HuffCoder_RebuildTree(EngineObject* decoder) noexcept;
StatusCode HuffCoder_ReadTable(EngineObject* decoder, std::uint32_t form, EngineObject* source,
                               std::uint32_t position, std::uint32_t available,
                               std::uint32_t* consumed) noexcept;
StatusCode HuffCoder_DecodeRange(EngineObject* decoder, std::uint32_t symbolCount,
                                 EngineObject* source, std::uint32_t position, std::uint32_t length,
                                 std::uint32_t width, HuffExtraBitsFn extra, EngineObject* sink,
                                 std::uint32_t sinkPosition, std::uint32_t* written) noexcept;
