#include "engine/codecs/inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/checksum.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"

// The input ring of push mode: 64 KiB in four pieces, allocated as needed.
// Bytes from the decoder's current input offset up to `pushed` are kept.
struct InflateFeed {
  static constexpr std::uint32_t kPiece = 16384;
  static constexpr std::uint32_t kPieces = 4;
  static constexpr std::uint32_t kRing = kPiece * kPieces;
  std::uint8_t* pieces[kPieces];
  std::uint64_t pushed;  // bytes pushed since the stream began
};

namespace {

using InflateInstance = EngineInstance<InflateBody>;

// Internal answers of the decoding loop, never returned by a slot.
constexpr StatusCode kNeedInput = MakeInfo(Facility::Inflate, 0x7F01);
constexpr StatusCode kLimitReached = MakeInfo(Facility::Inflate, 0x7F02);
constexpr StatusCode kPaused = MakeInfo(Facility::Inflate, 0x7F03);

// Bits one length/distance pair can need: 15 + 5 + 15 + 13.
constexpr std::uint32_t kPairBits = 48;

InflateBody& Body(EngineObject* d) {
  return BodyOf<InflateBody>(d);
}

// What one decoding run may do with its output.
struct RunArgs {
  std::uint8_t* buffer = nullptr;  // caller's buffer, or null
  std::uint32_t written = 0;       // bytes delivered into it
  std::uint64_t outLeft = ~std::uint64_t{0};
  EngineObject* observer = nullptr;
  std::uint32_t reserve = 0;
};

// ---- Input ----------------------------------------------------------------

std::uint64_t InputOffset(const InflateBody& b) {
  return b.chunkBase + static_cast<std::uint64_t>(b.next - b.chunk);
}

// Makes the bytes at the current input offset the chunk; false when there
// are none now (or a read failed: inputFailure). From a source, the bytes of
// the buffer not yet taken move to its start and the read fills the rest, so
// a caller may top the chunk up before it runs dry.
bool LoadChunk(InflateBody& b) {
  const std::uint64_t offset = InputOffset(b);
  if (b.feed != nullptr) {
    if (offset >= b.feed->pushed) return false;
    const auto within = static_cast<std::uint32_t>(offset % InflateFeed::kPiece);
    const std::uint8_t* piece =
        b.feed->pieces[(offset / InflateFeed::kPiece) % InflateFeed::kPieces];
    const std::uint64_t n =
        std::min<std::uint64_t>(InflateFeed::kPiece - within, b.feed->pushed - offset);
    b.chunkBase = offset;
    b.chunk = b.next = piece + within;
    b.chunkEnd = b.chunk + n;
    return true;
  }
  if (b.source == nullptr) return false;
  const auto kept = static_cast<std::uint32_t>(b.chunkEnd - b.next);
  std::memmove(b.buffer, b.next, kept);
  b.chunkBase = offset;
  b.chunk = b.next = b.buffer;
  b.chunkEnd = b.buffer + kept;
  const std::uint64_t loadedEnd = offset + kept;
  std::uint64_t n = sizeof b.buffer - kept;
  if (b.inputLength != kInflateToEnd) {
    if (loadedEnd >= b.inputLength) return false;
    n = std::min<std::uint64_t>(n, b.inputLength - loadedEnd);
  }
  const std::uint64_t at = b.inputStart + loadedEnd;
  if (at >= 0xFFFFFFFFu) return false;
  n = std::min<std::uint64_t>(n, 0xFFFFFFFFu - at);
  std::uint32_t got = 0;
  const StatusCode s =
      StreamOf(b.source).readAt(b.source, static_cast<std::uint32_t>(at), b.buffer + kept,
                                static_cast<std::uint32_t>(n), &got);
  if (IsFailure(s)) {
    b.inputFailure = s;
    return false;
  }
  b.chunkEnd += std::min<std::uint64_t>(got, n);
  return got != 0;
}

// Tops the pending bits up to at least 57 while input lasts. The eight-byte
// load may leave bits of the next unloaded byte above bitCount; they are that
// byte's own bits, so loading it later ORs in the same values.
void Refill(InflateBody& b) {
  while (b.bitCount <= 56) {
    if (b.next == b.chunkEnd && !LoadChunk(b)) return;
    if (b.chunkEnd - b.next >= 8) {
      std::uint64_t v;
      std::memcpy(&v, b.next, 8);
      if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
      b.bits |= v << b.bitCount;
      const std::uint32_t take = (63 - b.bitCount) >> 3;
      b.next += take;
      b.bitCount += take * 8;
      return;
    }
    b.bits |= std::uint64_t{*b.next++} << b.bitCount;
    b.bitCount += 8;
  }
}

void Skip(InflateBody& b, std::uint32_t n) {
  b.bits >>= n;
  b.bitCount -= n;
}

// A point to return to when a multi-word element runs out of input.
struct Mark {
  std::uint64_t bits;
  std::uint32_t bitCount;
  std::uint64_t offset;
};

Mark Save(const InflateBody& b) {
  return {b.bits, b.bitCount, InputOffset(b)};
}

void Restore(InflateBody& b, const Mark& m) {
  b.bits = m.bits;
  b.bitCount = m.bitCount;
  const std::uint64_t loaded = static_cast<std::uint64_t>(b.chunkEnd - b.chunk);
  if (m.offset >= b.chunkBase && m.offset <= b.chunkBase + loaded) {
    b.next = b.chunk + (m.offset - b.chunkBase);
  } else {
    b.chunkBase = m.offset;
    b.chunk = b.next = b.chunkEnd = b.buffer;
  }
}

// Input bits available now, without waiting for more (counts at least up to
// `wanted`).
std::uint64_t AvailableBits(InflateBody& b, std::uint64_t wanted) {
  std::uint64_t have = b.bitCount + 8 * static_cast<std::uint64_t>(b.chunkEnd - b.next);
  if (have >= wanted) return have;
  const std::uint64_t loadedEnd = b.chunkBase + static_cast<std::uint64_t>(b.chunkEnd - b.chunk);
  if (b.feed != nullptr) return have + 8 * (b.feed->pushed - loadedEnd);
  if (b.source == nullptr) return have;
  std::uint32_t size = 0;
  if (IsFailure(StreamOf(b.source).getSize(b.source, &size)) || size <= b.inputStart) return have;
  std::uint64_t end = size - b.inputStart;
  if (b.inputLength != kInflateToEnd) end = std::min<std::uint64_t>(end, b.inputLength);
  return end > loadedEnd ? have + 8 * (end - loadedEnd) : have;
}

// The reader DeflateCommon_ReadCodeLengths works with.
struct TableReader {
  InflateBody& b;
  std::uint64_t Peek() {
    if (b.bitCount < 32) Refill(b);
    return b.bits;
  }
  std::uint32_t Available() const { return b.bitCount; }
  void Skip(unsigned n) { ::Skip(b, n); }
};

// ---- Output ---------------------------------------------------------------

StatusCode UpdateChecksums(InflateBody& b, const std::uint8_t* data, std::uint32_t n) {
  if (n == 0 || (!b.output.keepCrc32 && !b.output.keepAdler32)) return kOk;
  EngineObject* m = g_ChecksumModule;
  if (m == nullptr) return kFailed;
  const ChecksumOps& ops = OpsOf<ChecksumOps>(m);
  if (b.output.keepCrc32) {
    std::uint32_t reg = ~b.output.crc32;
    const StatusCode s = ops.crc32(m, data, n, &reg);
    if (IsFailure(s)) return s;
    b.output.crc32 = ~reg;
  }
  if (b.output.keepAdler32) {
    const StatusCode s = ops.adler32(m, data, n, &b.output.adler32);
    if (IsFailure(s)) return s;
  }
  return kOk;
}

bool CanDeliver(const InflateBody& b, const RunArgs& a) {
  return a.buffer != nullptr || b.output.sink != nullptr;
}

// Delivers window bytes [delivered, position) to the caller's buffer or the sink.
StatusCode Deliver(InflateBody& b, RunArgs& a) {
  const std::uint32_t n = b.position - b.delivered;
  if (n == 0) return kOk;
  const std::uint8_t* data = b.window + b.delivered;
  if (a.buffer != nullptr) {
    std::memcpy(a.buffer + a.written, data, n);
    a.written += n;
  } else if (b.output.sink != nullptr) {
    if (n > 0xFFFFFFFFu - b.output.sinkPosition) return kInflateSinkFull;
    const StatusCode s =
        StreamOf(b.output.sink).writeAt(b.output.sink, b.output.sinkPosition, data, n, nullptr);
    if (IsFailure(s)) return s;
    b.output.sinkPosition += n;
  } else {
    return kOk;
  }
  b.delivered = b.position;
  return UpdateChecksums(b, data, n);
}

// Bytes that may be written before MakeRoom is needed.
std::uint32_t Room(const InflateBody& b) {
  return std::min(b.delivered + b.windowSize, b.capacity) - b.position;
}

// Makes room for the next byte: a full window is delivered, and at the
// buffer's end the last window's worth of history moves to its start.
StatusCode MakeRoom(InflateBody& b, RunArgs& a) {
  if (b.position - b.delivered == b.windowSize) {
    if (!CanDeliver(b, a)) return kInflateWindowFull;
    const StatusCode s = Deliver(b, a);
    if (IsFailure(s)) return s;
  }
  if (b.position == b.capacity) {
    const std::uint32_t shift = b.position - b.windowSize;
    std::memmove(b.window, b.window + shift, b.windowSize);
    b.position -= shift;
    b.delivered -= shift;  // at least `shift`: a window's worth at most is undelivered
  }
  return kOk;
}

// Copies what is left of the current match.
StatusCode CopyMatch(InflateBody& b, RunArgs& a) {
  std::uint8_t* const w = b.window;
  while (b.matchLeft > 0) {
    if (Room(b) == 0) {
      const StatusCode s = MakeRoom(b, a);
      if (IsFailure(s)) return s;
    }
    if (a.outLeft == 0) return kLimitReached;
    const std::uint32_t pos = b.position, d = b.matchDistance;
    const auto n =
        static_cast<std::uint32_t>(std::min<std::uint64_t>({b.matchLeft, Room(b), a.outLeft}));
    if (d == 1) {
      std::memset(w + pos, w[pos - 1], n);  // a run of one byte
    } else if (d < n) {
      // Overlapping: each byte may repeat one written in this same copy.
      for (std::uint32_t k = 0; k < n; ++k)
        w[pos + k] = w[pos - d + k];
    } else {
      std::memcpy(w + pos, w + pos - d, n);
    }
    b.position += n;
    b.matchLeft -= n;
    b.produced += n;
    a.outLeft -= n;
  }
  return kOk;
}

// ---- Decoding steps -------------------------------------------------------

struct FixedCodes {
  DeflateHuffman literals, distances;
  DeflateFastCode fast;
  FixedCodes() {
    std::uint8_t lengths[kDeflateLiteralSymbols];
    for (unsigned s = 0; s < 288; ++s)
      lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    DeflateHuffman_Build(literals, lengths, 288);
    std::fill(lengths, lengths + 32, std::uint8_t{5});
    DeflateHuffman_Build(distances, lengths, 32);
    DeflateFast_Build(fast, literals, distances, 30);
  }
};

const FixedCodes& Fixed() {
  static const FixedCodes fixed;
  return fixed;
}

// Answer when an element could not be completed from the bits at hand.
StatusCode ShortInput(const InflateBody& b) {
  return IsFailure(b.inputFailure) ? b.inputFailure : kNeedInput;
}

void EndBlock(InflateBody& b) {
  if (!b.finalBlock) {
    b.step = InflateStep::Header;
    return;
  }
  b.step = InflateStep::Done;
  b.consumed = static_cast<std::uint32_t>(InputOffset(b) - b.bitCount / 8);
}

StatusCode StepHeader(InflateBody& b) {
  if (b.bitCount < 42) Refill(b);
  if (b.skipBits != 0) {
    if (b.bitCount < b.skipBits) return ShortInput(b);
    Skip(b, b.skipBits);
    b.skipBits = 0;
  }
  const std::uint64_t v = b.bits;
  const std::uint32_t avail = b.bitCount;
  if (avail < 3) return ShortInput(b);
  const bool final = (v & 1) != 0;
  const auto type = static_cast<std::uint8_t>((v >> 1) & 3);
  if (type == 3) return kInflateBadBlock;
  std::uint32_t used = 3;
  if (type == 0) {
    used += (avail - 3) % 8;  // the rest of the current byte
    if (used + 32 > avail) return ShortInput(b);
    const auto len = static_cast<std::uint32_t>((v >> used) & 0xFFFF);
    const auto nlen = static_cast<std::uint32_t>((v >> (used + 16)) & 0xFFFF);
    if (nlen != (~len & 0xFFFF)) return kInflateBadBlock;
    used += 32;
    b.storedLeft = len;
    b.step = InflateStep::Data;
  } else if (type == 1) {
    b.literals = Fixed().literals;
    b.distances = Fixed().distances;
    b.fast = Fixed().fast;
    b.step = InflateStep::Data;
  } else {
    b.step = InflateStep::Tables;
  }
  Skip(b, used);
  b.finalBlock = final;
  b.blockType = type;
  return kOk;
}

StatusCode StepTables(InflateBody& b) {
  const Mark mark = Save(b);
  // Any failure returns to the header's first bit, so a repeated call
  // answers the same.
  auto fail = [&](StatusCode s) {
    Restore(b, mark);
    return s == kNeedInput ? ShortInput(b) : s;
  };
  Refill(b);
  if (b.bitCount < 14) return fail(kNeedInput);
  const auto hlit = static_cast<std::uint32_t>(b.bits & 31) + 257;
  const auto hdist = static_cast<std::uint32_t>((b.bits >> 5) & 31) + 1;
  const auto hclen = static_cast<std::uint32_t>((b.bits >> 10) & 15) + 4;
  if (hlit > 286 || hdist > 30) return fail(kInflateBadCounts);
  Skip(b, 14);

  std::uint8_t clLengths[kDeflateCodeLengthSymbols] = {};
  for (std::uint32_t k = 0; k < hclen; ++k) {
    if (b.bitCount < 3) Refill(b);
    if (b.bitCount < 3) return fail(kNeedInput);
    clLengths[kDeflateCodeLengthOrder[k]] = static_cast<std::uint8_t>(b.bits & 7);
    Skip(b, 3);
  }
  DeflateHuffman clCode;
  const DeflateCodeShape clShape =
      DeflateHuffman_Build(clCode, clLengths, kDeflateCodeLengthSymbols);
  if (clShape == DeflateCodeShape::kOversubscribed || clShape == DeflateCodeShape::kEmpty) {
    return fail(kInflateBadCodeLengths);
  }

  // One run of lengths over both tables: a repeat may carry from the
  // literal/length lengths into the distance lengths, never past their end.
  std::uint8_t lengths[286 + 30] = {};
  TableReader reader{b};
  switch (DeflateCommon_ReadCodeLengths(reader, clCode, lengths, hlit + hdist, {false, false})) {
    case DeflateLengthsResult::kOk:
      break;
    case DeflateLengthsResult::kShortCode:
    case DeflateLengthsResult::kShortBits:
      return fail(kNeedInput);
    case DeflateLengthsResult::kBadCode:
      return fail(kInflateNoCode);
    case DeflateLengthsResult::kBadRepeat:
      return fail(kInflateBadCodeLengthSymbol);
  }
  // A literal/length code must be able to end its block.
  if (lengths[kDeflateEndOfBlock] == 0 ||
      DeflateHuffman_Build(b.literals, lengths, hlit) == DeflateCodeShape::kOversubscribed ||
      DeflateHuffman_Build(b.distances, lengths + hlit, hdist) ==
          DeflateCodeShape::kOversubscribed) {
    return fail(kInflateBadCodeLengths);
  }
  DeflateFast_Build(b.fast, b.literals, b.distances, 30);
  b.step = InflateStep::Data;
  return kOk;
}

StatusCode StepStored(InflateBody& b, RunArgs& a) {
  while (b.storedLeft > 0) {
    if (Room(b) == 0) {
      const StatusCode s = MakeRoom(b, a);
      if (IsFailure(s)) return s;
    }
    if (a.outLeft == 0) return kLimitReached;
    std::uint32_t n = 1;
    if (b.bitCount >= 8) {  // bytes already taken into the bit buffer
      b.window[b.position] = static_cast<std::uint8_t>(b.bits);
      Skip(b, 8);
    } else {
      b.bits = 0;  // bitCount is 0 here: drop any look-ahead bits
      if (b.next == b.chunkEnd && !LoadChunk(b)) return ShortInput(b);
      n = static_cast<std::uint32_t>(std::min<std::uint64_t>(
          {b.storedLeft, Room(b), a.outLeft, static_cast<std::uint64_t>(b.chunkEnd - b.next)}));
      std::memcpy(b.window + b.position, b.next, n);
      b.next += n;
    }
    b.position += n;
    b.storedLeft -= n;
    b.produced += n;
    a.outLeft -= n;
  }
  EndBlock(b);
  return kOk;
}

// The fast loop runs while a refill finds eight bytes in the chunk, up to
// three literals fit in the room before the window fills, and a pass fits in
// the caller's allowance with room to spare (the careful loop then never
// finds the allowance spent where the fast loop stopped). A match that
// passes the room's end is copied up to it and left to the careful loop to
// finish.
constexpr std::ptrdiff_t kFastInput = 8;
constexpr std::uint32_t kFastLiterals = 3;
constexpr std::uint32_t kFastPass = kDeflateLengthBase.back();
constexpr std::uint32_t kFastRoom = kFastPass + 8;
// Bytes allocated past the buffer's end, for the fast loop's copies that
// overrun a match's end (DeflateFast_CopyOverrun).
constexpr std::uint32_t kWindowSlack = kDeflateCopyOverrun;
// The least room the buffer has beyond the window.
constexpr std::uint32_t kSlideRoom = 128 * 1024;

// Decodes literals and length/distance pairs with the fast tables and stops
// at the first bit of anything it leaves to the careful loop (see
// deflate_common.h); the window, the counters and the allowance advance as
// the careful loop would advance them. It never delivers: it stops when the
// room is used up or nearly so, or before the allowance runs out. Bytes past
// the write position are no one's history, so copies may overrun there.
[[gnu::always_inline]] inline void FastCodesBody(InflateBody& b, RunArgs& a) {
  namespace E = DeflateFastEntry;
  constexpr std::uint32_t kLiteralMask = (1u << DeflateFastCode::kLiteralBits) - 1;
  constexpr std::uint32_t kDistanceMask = (1u << DeflateFastCode::kDistanceBits) - 1;
  const DeflateFastCode& f = b.fast;
  std::uint8_t* const w = b.window;
  const std::uint32_t size = b.windowSize;
  const std::uint8_t* const inputEnd = b.chunkEnd - kFastInput;
  std::uint64_t bits = b.bits;
  std::uint32_t held = b.bitCount;
  const std::uint8_t* next = b.next;
  std::uint32_t pos = b.position;
  const std::uint32_t start = pos;
  const std::uint32_t roomEnd = pos + Room(b);
  // A pass starts at pos <= posEnd: its literals fit in the room, and
  // whatever it writes fits in the allowance.
  std::uint32_t posEnd = roomEnd - kFastLiterals;
  if (a.outLeft - kFastRoom < posEnd - pos) {
    posEnd = pos + static_cast<std::uint32_t>(a.outLeft - kFastRoom);
  }
  // Whole bytes up to 56 or more bits (a pair needs at most 15 + 5 + 15 +
  // 13 = 48); the bits above `held` are those of the bytes not yet counted
  // (all 64 bits are input after a refill), so ORing them in again later
  // changes nothing, and the bits below stay as they are: an entry looked up
  // before a refill holds.
  //
  // Only the low six bits of `held` count (it stays below 64): a literal
  // subtracts its whole entry, whose low byte is its bit count, so the shift
  // of `bits` can take the entry as it is, and the bits above are garbage.
  auto refill = [&] {
    std::uint64_t v;
    std::memcpy(&v, next, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    bits |= v << (held & 63);
    next += 7 - ((held >> 3) & 7);
    held |= 56;
  };
  if (next > inputEnd || pos > posEnd) return;
  refill();
  // The next symbol's entry is looked up as soon as its bits are known, so
  // the look-up overlaps the copying of the match before it.
  std::uint32_t e = f.literals[bits & kLiteralMask];
  for (;;) {
    if ((e & E::kLiteral) != 0) {
      // Up to three literals (45 bits), the next entry looked up from the 19
      // or more bits left.
      for (int k = 0; k < 3 && (e & E::kLiteral) != 0; ++k) {
        held -= e;
        bits >>= e & 63;
        w[pos++] = static_cast<std::uint8_t>(e >> 16);
        e = f.literals[bits & kLiteralMask];
      }
      if (next > inputEnd || pos > posEnd) break;
      refill();
      continue;
    }
    // Here 56 or more bits are held: a refill came after the last element.
    if ((e & E::kSubtable) != 0) {
      e = DeflateFast_Subentry(f.literals.data(), e, DeflateFastCode::kLiteralBits, bits);
      if ((e & E::kLiteral) != 0) continue;  // nothing is taken yet: the literal path takes it
    }
    if ((e & E::kBitsMask) == 0 || (e & E::kEndOfBlock) != 0) break;
    const std::uint32_t length = DeflateFast_Value(e, bits);
    const std::uint64_t rest = bits >> (e & 63);
    std::uint32_t d = f.distances[rest & kDistanceMask];
    if ((d & E::kSubtable) != 0) {
      d = DeflateFast_Subentry(f.distances.data(), d, DeflateFastCode::kDistanceBits, rest);
    }
    const std::uint32_t distance = DeflateFast_Value(d, rest);
    const std::uint32_t used = (e & E::kBitsMask) + (d & E::kBitsMask);
    if ((d & E::kBitsMask) == 0 || distance > std::min(pos, size)) break;  // nothing taken yet
    bits >>= used;
    held -= used;
    const bool more = next <= inputEnd;
    if (more) {
      refill();
      e = f.literals[bits & kLiteralMask];
    }
    if (length > roomEnd - pos) {
      // The room ends inside the match: its first part now, the rest after
      // delivery, by the careful loop.
      const std::uint32_t now = roomEnd - pos;
      DeflateFast_CopyMatch(w + pos, distance, now);
      pos = roomEnd;
      b.matchLeft = length - now;
      b.matchDistance = distance;
      break;
    }
    DeflateFast_CopyOverrun(w + pos, distance, length);
    pos += length;
    if (!more || pos > posEnd) break;
  }
  b.bits = bits;
  b.bitCount = held & 63;
  b.next = next;
  b.position = pos;
  b.produced += pos - start;
  a.outLeft -= pos - start;
}

void FastCodesPlain(InflateBody& b, RunArgs& a) {
  FastCodesBody(b, a);
}

#if KELPO_DEFLATE_BMI2
__attribute__((target("bmi2"))) void FastCodesBmi2(InflateBody& b, RunArgs& a) {
  FastCodesBody(b, a);
}
#endif

void FastCodes(InflateBody& b, RunArgs& a) {
#if KELPO_DEFLATE_BMI2
  if (DeflateFast_HaveBmi2()) return FastCodesBmi2(b, a);
#endif
  FastCodesPlain(b, a);
}

StatusCode StepCodes(InflateBody& b, RunArgs& a) {
  std::uint8_t* const w = b.window;
  const bool fast = a.reserve == 0 && DeflateFast_Enabled();
  for (;;) {
    if (b.matchLeft > 0) {
      const StatusCode s = CopyMatch(b, a);
      if (s != kOk) return s;
    }
    if (Room(b) == 0) {
      const StatusCode s = MakeRoom(b, a);
      if (IsFailure(s)) return s;
    }
    // From a source, the chunk is topped up before it runs dry, so the fast
    // loop goes on across its end.
    if (fast && b.chunkEnd - b.next < kFastInput && b.feed == nullptr) LoadChunk(b);
    if (fast && b.chunkEnd - b.next >= kFastInput && b.bitCount < 64 && Room(b) > kFastLiterals &&
        a.outLeft >= kFastRoom) {
      // Where it stopped, the window may be full or a match cut at its end.
      const std::uint32_t before = b.produced;
      FastCodes(b, a);
      if (b.produced != before) continue;
    }
    if (a.reserve != 0 && AvailableBits(b, a.reserve) < a.reserve) return kPaused;
    if (b.bitCount < kPairBits) Refill(b);

    // Nothing is taken from the bit buffer until the whole element is there.
    std::uint64_t v = b.bits;
    const std::uint32_t avail = b.bitCount;
    const DeflateSymbol lit = DeflateHuffman_Decode(b.literals, v);
    if (lit.length == 0) return avail >= kDeflateMaxCodeBits ? kInflateNoCode : ShortInput(b);
    if (lit.length > avail) return ShortInput(b);
    // An end-of-block symbol is taken even when no output may be produced.
    if (lit.symbol != kDeflateEndOfBlock && a.outLeft == 0) return kLimitReached;
    if (lit.symbol < 256) {
      Skip(b, lit.length);
      w[b.position++] = static_cast<std::uint8_t>(lit.symbol);
      ++b.produced;
      --a.outLeft;
      continue;
    }
    if (lit.symbol == kDeflateEndOfBlock) {
      Skip(b, lit.length);
      EndBlock(b);
      return kOk;
    }
    if (lit.symbol > 285) return kInflateBadLiteral;
    std::uint32_t used = lit.length;
    v >>= lit.length;
    const std::uint32_t li = lit.symbol - 257;
    const std::uint32_t lenExtra = kDeflateLengthExtra[li];
    if (used + lenExtra > avail) return ShortInput(b);
    const std::uint32_t length =
        kDeflateLengthBase[li] + static_cast<std::uint32_t>(v & ((1u << lenExtra) - 1));
    v >>= lenExtra;
    used += lenExtra;

    const DeflateSymbol dist = DeflateHuffman_Decode(b.distances, v);
    if (dist.length == 0) {
      return avail - used >= kDeflateMaxCodeBits ? kInflateNoCode : ShortInput(b);
    }
    if (used + dist.length > avail) return ShortInput(b);
    if (dist.symbol > 29) return kInflateBadDistance;
    v >>= dist.length;
    used += dist.length;
    const std::uint32_t distExtra = kDeflateDistanceExtra[dist.symbol];
    if (used + distExtra > avail) return ShortInput(b);
    const std::uint32_t distance =
        kDeflateDistanceBase[dist.symbol] + static_cast<std::uint32_t>(v & ((1u << distExtra) - 1));
    used += distExtra;
    const std::uint32_t history = std::min(b.position, b.windowSize);
    if (distance > history) return kInflateBadDistance;
    Skip(b, used);
    b.matchLeft = length;
    b.matchDistance = distance;
  }
}

// Runs the steps until the stream ends, the output limit is reached, the
// input runs short, or something fails. The window's undelivered rest goes
// out when the stream ends.
StatusCode Run(InflateBody& b, RunArgs& a) {
  for (;;) {
    StatusCode s = kOk;
    switch (b.step) {
      case InflateStep::Header:
        s = StepHeader(b);
        break;
      case InflateStep::Tables:
        s = StepTables(b);
        break;
      case InflateStep::Data: {
        s = b.blockType == 0 ? StepStored(b, a) : StepCodes(b, a);
        if (s == kOk && a.observer != nullptr) {
          s = OpsOf<InflateObserverOps>(a.observer)
                  .notify(a.observer, kInflateEndOfStream, &b.produced);
          if (!IsFailure(s)) s = kOk;
        }
        // With its output spent, a run stops between blocks, so the caller
        // may read the next header itself.
        if (s == kOk && a.outLeft == 0 && b.step == InflateStep::Header) return kLimitReached;
        break;
      }
      default:
        s = Deliver(b, a);
        return IsFailure(s) ? s : kInflateEndOfStream;
    }
    if (s != kOk) return s;
  }
}

void FreeFeed(InflateBody& b) {
  if (b.feed == nullptr) return;
  for (std::uint8_t* piece : b.feed->pieces)
    Engine_Free(piece);
  Engine_Free(b.feed);
  b.feed = nullptr;
}

// Starts a new stream: block state, counters, window bookkeeping, bit
// reader and checksums.
void StartStream(InflateBody& b, std::uint32_t start, std::uint32_t length,
                 std::uint32_t bitOffset) {
  b.output.crc32 = 0;
  b.output.adler32 = 1;
  b.position = b.delivered = 0;
  b.step = InflateStep::Header;
  b.finalBlock = false;
  b.blockType = 0;
  b.storedLeft = b.matchLeft = b.matchDistance = 0;
  b.produced = b.consumed = 0;
  b.inputStart = start;
  b.inputLength = length;
  b.chunkBase = 0;
  b.chunk = b.next = b.chunkEnd = b.buffer;
  b.skipBits = static_cast<std::uint8_t>(bitOffset);
  b.bits = 0;
  b.bitCount = 0;
  b.inputFailure = kOk;
  if (b.feed != nullptr) b.feed->pushed = 0;
}

// Appends bytes to the ring; the caller made sure they fit.
StatusCode AppendToRing(InflateFeed& f, const std::uint8_t* bytes, std::uint32_t n) {
  while (n > 0) {
    const auto within = static_cast<std::uint32_t>(f.pushed % InflateFeed::kPiece);
    std::uint8_t*& piece = f.pieces[(f.pushed / InflateFeed::kPiece) % InflateFeed::kPieces];
    if (piece == nullptr) {
      const StatusCode s = Engine_AllocArray(InflateFeed::kPiece, &piece);
      if (IsFailure(s)) return s;
    }
    const std::uint32_t k = std::min(n, InflateFeed::kPiece - within);
    std::memcpy(piece + within, bytes, k);
    f.pushed += k;
    bytes += k;
    n -= k;
  }
  return kOk;
}

constexpr InflateOps kInflateOps = {
    Core_NotImplemented,          InflateMod_Create,         InflateMod_Destroy,
    InflateMod_SetInput,          InflateMod_Reset,          InflateMod_ReadBlockHeader,
    InflateMod_ReadDynamicTables, InflateMod_DecodeToBuffer, InflateMod_DecodeToSink,
    InflateMod_BeginFeed,         InflateMod_Feed,           InflateMod_EndFeed,
    Core_NotImplemented,
};

}  // namespace

EngineObject InflateModule = {nullptr, &kInflateOps};

StatusCode InflateMod_Create(EngineObject*, std::uint32_t windowSize, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (windowSize < kInflateMinWindow || windowSize > kInflateMaxWindow) return kBadArgument;
  InflateInstance* instance = nullptr;
  StatusCode s = Engine_AllocArray(1, &instance);
  if (IsFailure(s)) return s;
  new (instance) InflateInstance{};
  InflateBody& b = instance->body;
  // The buffer holds the window and at least as much again (128 KiB for
  // small windows), so history moves only after that much output.
  const std::uint32_t capacity = windowSize + std::max(windowSize, kSlideRoom);
  s = Engine_AllocArray(capacity + kWindowSlack, &b.window);
  if (IsFailure(s)) {
    Engine_Free(instance);
    return s;
  }
  b.windowSize = windowSize;
  b.capacity = capacity;
  StartStream(b, 0, kInflateToEnd, 0);
  instance->header = {&instance->body, &kInflateOps};
  *out = &instance->header;
  return kOk;
}

StatusCode InflateMod_Destroy(EngineObject* decoder) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  InflateBody& b = Body(decoder);
  FreeFeed(b);
  Engine_Free(b.window);
  Engine_Free(decoder);  // the header starts the instance's allocation
  return kOk;
}

StatusCode InflateMod_SetInput(EngineObject* decoder, EngineObject* source,
                               std::uint32_t position) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  InflateBody& b = Body(decoder);
  FreeFeed(b);
  b.source = source;
  StartStream(b, position, kInflateToEnd, 0);
  return kOk;
}

StatusCode InflateMod_Reset(EngineObject* decoder, std::uint32_t start, std::uint32_t length,
                            std::uint32_t bitOffset) noexcept {
  if (decoder == nullptr || decoder->state == nullptr || bitOffset > 7) return kBadArgument;
  StartStream(Body(decoder), start, length, bitOffset);
  return kOk;
}

StatusCode InflateMod_ReadBlockHeader(EngineObject* decoder) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  InflateBody& b = Body(decoder);
  if (b.step != InflateStep::Header) return kBadArgument;
  const StatusCode s = StepHeader(b);
  return s == kNeedInput ? kInflateInputExhausted : s;
}

StatusCode InflateMod_ReadDynamicTables(EngineObject* decoder) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  InflateBody& b = Body(decoder);
  if (b.step != InflateStep::Tables) return kBadArgument;
  const StatusCode s = StepTables(b);
  return s == kNeedInput ? kInflateInputExhausted : s;
}

StatusCode InflateMod_DecodeToBuffer(EngineObject* decoder, void* buffer, std::uint32_t size,
                                     std::uint32_t* length) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  if (length == nullptr) return kNullOutPointer;
  InflateBody& b = Body(decoder);
  RunArgs a;
  a.buffer = static_cast<std::uint8_t*>(buffer);
  a.outLeft = size;
  if (a.buffer != nullptr && b.position != b.delivered) {
    // Bytes an earlier call left in the window go first, as far as they fit;
    // every later delivery then holds only bytes of this call's allowance.
    const std::uint32_t k = std::min(b.position - b.delivered, size);
    const std::uint8_t* data = b.window + b.delivered;
    std::memcpy(a.buffer, data, k);
    b.delivered += k;
    a.written = k;
    a.outLeft = size - k;
    const StatusCode c = UpdateChecksums(b, data, k);
    if (IsFailure(c)) return c;
    if (b.position != b.delivered) {
      *length = k;
      return kOk;
    }
  }
  const std::uint32_t before = b.produced;
  StatusCode s = Run(b, a);
  if (IsFailure(s)) return s;
  if (a.buffer != nullptr) {
    const StatusCode d = Deliver(b, a);
    if (IsFailure(d)) return d;
  }
  *length = a.buffer != nullptr ? a.written : b.produced - before;
  if (s == kNeedInput) return b.feed != nullptr ? kOk : kInflateInputExhausted;
  return s == kInflateEndOfStream ? s : kOk;
}

StatusCode InflateMod_DecodeToSink(EngineObject* decoder, EngineObject* observer,
                                   std::uint32_t reserve) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  InflateBody& b = Body(decoder);
  RunArgs a;
  a.observer = observer;
  a.reserve = reserve;
  const StatusCode s = Run(b, a);
  if (s == kNeedInput) return b.feed != nullptr ? kOk : kInflateInputExhausted;
  if (s == kPaused) return kOk;
  return s;
}

StatusCode InflateMod_BeginFeed(EngineObject* decoder) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  InflateBody& b = Body(decoder);
  if (b.feed == nullptr) {
    InflateFeed* feed = nullptr;
    const StatusCode s = Engine_AllocArray(1, &feed);
    if (IsFailure(s)) return s;
    *feed = InflateFeed{};
    b.feed = feed;
  }
  b.source = nullptr;
  StartStream(b, 0, kInflateToEnd, 0);
  return kOk;
}

StatusCode InflateMod_Feed(EngineObject* decoder, const void* bytes, std::uint32_t count,
                           EngineObject* sink) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  InflateBody& b = Body(decoder);
  if (b.feed == nullptr) return kInflateNotFeeding;
  if (bytes == nullptr && count != 0) return kBadArgument;
  if (sink != nullptr) b.output.sink = sink;
  if (b.step == InflateStep::Done && b.matchLeft == 0) return kInflateEndOfStream;
  auto in = static_cast<const std::uint8_t*>(bytes);
  for (;;) {
    // Bytes before the decoder's input offset are in its bit buffer or used.
    const std::uint64_t kept = b.feed->pushed - InputOffset(b);
    const auto room = static_cast<std::uint32_t>(InflateFeed::kRing - kept);
    const std::uint32_t n = std::min(room, count);
    StatusCode s = AppendToRing(*b.feed, in, n);
    if (IsFailure(s)) return s;
    in += n;
    count -= n;
    RunArgs a;
    s = Run(b, a);
    if (s != kNeedInput) return s;
    if (count == 0) return kOk;
    // A full ring always holds a whole element, so a run that used nothing
    // of a full ring cannot happen with well-formed state.
    if (n == 0 && room == 0) return kFailed;
  }
}

StatusCode InflateMod_EndFeed(EngineObject* decoder) noexcept {
  if (decoder == nullptr || decoder->state == nullptr) return kBadArgument;
  InflateBody& b = Body(decoder);
  if (b.feed == nullptr) return kInflateNotFeeding;
  const bool ended = b.step == InflateStep::Done;
  // What was decoded goes to the sink, even from a stream that did not end.
  RunArgs a;
  const StatusCode s = Deliver(b, a);
  const std::uint64_t offset = InputOffset(b);
  FreeFeed(b);
  b.chunkBase = offset;
  b.chunk = b.next = b.chunkEnd = b.buffer;
  if (IsFailure(s)) return s;
  return ended ? kOk : kInflateInputExhausted;
}
