#include "engine/codecs/deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

#include "engine/codecs/deflate_common.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/checksum.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"

namespace {

using DeflateInstance = EngineInstance<DeflateBody>;

constexpr std::uint32_t kHashSize = 8192;
constexpr std::uint32_t kMaxChain = 384;
constexpr std::uint32_t kMinMatch = 3;
constexpr std::uint32_t kMaxMatch = 258;
constexpr std::uint32_t kLazyBelow = 129;

DeflateBody& Body(EngineObject* e) {
  return BodyOf<DeflateBody>(e);
}

bool Valid(EngineObject* e) {
  return e != nullptr && e->state != nullptr;
}

// Length - 3 (0-255) to the index of its length symbol (0-28).
constexpr std::array<std::uint8_t, 256> kLengthCode = [] {
  std::array<std::uint8_t, 256> t{};
  for (unsigned code = 0; code < 28; ++code) {
    const unsigned from = kDeflateLengthBase[code] - 3u;
    const unsigned to = from + (1u << kDeflateLengthExtra[code]);
    for (unsigned l = from; l < to && l < 256; ++l)
      t[l] = static_cast<std::uint8_t>(code);
  }
  t[255] = 28;  // 258 has its own symbol
  return t;
}();

// Distance - 1 to its symbol: entries 0-255 directly, then by (distance - 1) >> 7
// (every base from 257 on is one more than a multiple of 128).
constexpr std::array<std::uint8_t, 512> kDistanceCode = [] {
  std::array<std::uint8_t, 512> t{};
  for (unsigned code = 0; code < 30; ++code) {
    const unsigned from = kDeflateDistanceBase[code] - 1u;
    const unsigned to = from + (1u << kDeflateDistanceExtra[code]);
    for (unsigned d = from; d < to; ++d) {
      if (d < 256) {
        t[d] = static_cast<std::uint8_t>(code);
      } else {
        t[256 + (d >> 7)] = static_cast<std::uint8_t>(code);
      }
    }
  }
  return t;
}();

inline unsigned DistanceCode(std::uint32_t distance) {
  const std::uint32_t d = distance - 1;
  return d < 256 ? kDistanceCode[d] : kDistanceCode[256 + (d >> 7)];
}

inline std::uint16_t Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

inline std::uint32_t Hash(const std::uint8_t* p) {
  return (((static_cast<std::uint32_t>(p[0]) << 3) ^ p[1]) << 3 ^ p[2]) & (kHashSize - 1);
}

// Bytes equal at a and b, at most limit.
inline std::uint32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b,
                                 std::uint32_t limit) {
  std::uint32_t n = 0;
  if constexpr (std::endian::native == std::endian::little) {
    while (n + 8 <= limit) {
      std::uint64_t x, y;
      std::memcpy(&x, a + n, 8);
      std::memcpy(&y, b + n, 8);
      if (x != y) return n + static_cast<std::uint32_t>(std::countr_zero(x ^ y) / 8);
      n += 8;
    }
  }
  while (n < limit && a[n] == b[n])
    ++n;
  return n;
}

struct Candidate {
  std::uint32_t length;  // 0 = none
  std::uint32_t distance;
};

// The first longest match for position i among the hash chain of its three
// bytes; i must have at least three bytes left.
Candidate Longest(const DeflateBody& b, const std::uint8_t* p, std::uint32_t n, std::uint32_t i) {
  const std::uint32_t limit = std::min(n - i, kMaxMatch);
  Candidate best{0, 0};
  std::uint32_t candidate = b.heads[Hash(p + i)];
  for (std::uint32_t steps = 0; candidate != 0 && steps < kMaxChain; ++steps) {
    const std::uint32_t pos = candidate - 1;
    const std::uint32_t distance = i - pos;
    if (distance > kDeflateMaxDistance) break;  // older candidates are farther still
    // Only a candidate that agrees at the two bytes ending one past the best
    // so far can be longer.
    if (best.length == 0 || Load16(p + pos + best.length - 1) == Load16(p + i + best.length - 1)) {
      const std::uint32_t length = MatchLength(p + pos, p + i, limit);
      if (length > best.length) {
        best = {length, distance};
        if (length == limit) break;
      }
    }
    candidate = b.chain[pos];
  }
  return best.length >= kMinMatch ? best : Candidate{0, 0};
}

inline void Insert(DeflateBody& b, const std::uint8_t* p, std::uint32_t i) {
  std::uint16_t& head = b.heads[Hash(p + i)];
  b.chain[i] = head;
  head = static_cast<std::uint16_t>(i + 1);
}

void MatchAll(DeflateBody& b, const std::uint8_t* p, std::uint32_t n) {
  std::fill_n(b.heads, kHashSize, std::uint16_t{0});
  std::fill_n(b.chain, n, std::uint16_t{0});
  std::uint32_t count = 0;
  auto literal = [&](std::uint32_t i) {
    b.symbols[count] = p[i];
    b.distances[count++] = 0;
    ++b.literalCounts[p[i]];
  };
  std::uint32_t i = 0;
  bool cached = false;
  Candidate next{0, 0};
  while (i + 2 < n) {
    const Candidate m = cached ? next : Longest(b, p, n, i);
    cached = false;
    Insert(b, p, i);
    if (m.length == 0) {
      literal(i++);
      continue;
    }
    if (m.length < kLazyBelow && i + 3 < n) {
      next = Longest(b, p, n, i + 1);
      if (next.length > m.length) {
        literal(i++);
        cached = true;
        continue;
      }
    }
    b.symbols[count] = static_cast<std::uint8_t>(m.length - kMinMatch);
    b.distances[count++] = static_cast<std::uint16_t>(m.distance);
    ++b.literalCounts[257 + kLengthCode[m.length - kMinMatch]];
    ++b.distanceCounts[DistanceCode(m.distance)];
    const std::uint32_t end = i + m.length;
    for (std::uint32_t k = i + 1; k < end && k + 2 < n; ++k)
      Insert(b, p, k);
    i = end;
  }
  while (i < n)
    literal(i++);
  ++b.literalCounts[kDeflateEndOfBlock];
  b.symbolCount = count;
}

// ---- Bit writer -----------------------------------------------------------

StatusCode WriteOwnBuffer(DeflateBody& b) {
  if (b.outUsed == 0) return kOk;
  if (b.sink == nullptr) return kBadArgument;
  // Positions are 32-bit: output that would pass 4 GiB must not wrap around.
  if (std::uint64_t{b.sinkPosition} + b.outUsed > 0xFFFFFFFFu) return kDeflateOutputFull;
  const StatusCode s = StreamOf(b.sink).writeAt(b.sink, b.sinkPosition, b.own, b.outUsed, nullptr);
  if (IsFailure(s)) return s;
  b.sinkPosition += b.outUsed;
  b.written += b.outUsed;
  b.outUsed = 0;
  return kOk;
}

// Moves whole bytes of the pending bits to the output.
StatusCode Drain(DeflateBody& b) {
  if (b.out == nullptr) return kBadArgument;
  while (b.bitCount >= 8) {
    if (b.outUsed == b.outSize) {
      if (b.callerBuffer) return kDeflateOutputFull;
      const StatusCode s = WriteOwnBuffer(b);
      if (IsFailure(s)) return s;
    }
    b.out[b.outUsed++] = static_cast<std::uint8_t>(b.bits);
    b.bits >>= 8;
    b.bitCount -= 8;
  }
  return kOk;
}

// Appends count (at most 32) bits of value, least significant first. The
// pending bits are drained first once 32 have gathered, so they never pass 64
// even when a full caller buffer refuses them.
inline StatusCode PutBits(DeflateBody& b, std::uint32_t value, unsigned count) {
  if (b.bitCount >= 32) {
    const StatusCode s = Drain(b);
    if (IsFailure(s)) return s;
  }
  b.bits |= static_cast<std::uint64_t>(value) << b.bitCount;
  b.bitCount += count;
  return kOk;
}

// ---- Codes ----------------------------------------------------------------

void RunLengthCode(DeflateBody& b, const std::uint8_t* lengths, unsigned n) {
  auto emit = [&](unsigned symbol, unsigned extra) {
    b.rleSymbols[b.rleCount] = static_cast<std::uint8_t>(symbol);
    b.rleExtra[b.rleCount++] = static_cast<std::uint8_t>(extra);
  };
  for (unsigned i = 0; i < n;) {
    const std::uint8_t v = lengths[i];
    unsigned run = 1;
    while (i + run < n && lengths[i + run] == v)
      ++run;
    i += run;
    if (v == 0) {
      while (run >= 11) {
        const unsigned k = std::min(run, 138u);
        emit(18, k - 11);
        run -= k;
      }
      if (run >= 3) {
        emit(17, run - 3);
        run = 0;
      }
    } else {
      emit(v, 0);
      --run;
      while (run >= 3) {
        const unsigned k = std::min(run, 6u);
        emit(16, k - 3);
        run -= k;
      }
    }
    for (; run > 0; --run)
      emit(v, 0);
  }
}

unsigned LastUsed(const std::uint8_t* lengths, unsigned n) {
  while (n > 0 && lengths[n - 1] == 0)
    --n;
  return n;
}

constexpr std::uint8_t kRepeatExtraBits[3] = {2, 3, 7};

constexpr DeflateOps kDeflateOps = {
    Core_NotImplemented,         DeflateMod_Create,          DeflateMod_Destroy,
    DeflateMod_ClearCounts,      DeflateMod_MatchBlock,      DeflateMod_BuildBlockCodes,
    DeflateMod_SetOutputBuffer,  DeflateMod_SetOutputSink,   DeflateMod_Flush,
    DeflateMod_WriteBlockHeader, DeflateMod_WriteCodeTables, DeflateMod_CompressBlock,
    DeflateMod_CompressRange,    Core_NotImplemented,
};

}  // namespace

void Deflate_LimitedCodeLengths(const std::uint32_t* counts, const std::uint32_t* used,
                                std::uint32_t u, unsigned maxBits, std::uint8_t* lengths,
                                const DeflateLengthScratch& scratch) noexcept {
  std::uint64_t* weight = scratch.weight;
  std::uint32_t *parent = scratch.parent, *level = scratch.level, *heap = scratch.heap;
  std::uint8_t* depth = scratch.depth;
  for (std::uint32_t k = 0; k < u; ++k) {
    weight[k] = counts[used[k]];
    depth[k] = 0;
    heap[k] = k;
  }
  auto later = [&](std::uint32_t a, std::uint32_t b) {
    if (weight[a] != weight[b]) return weight[a] > weight[b];
    if (depth[a] != depth[b]) return depth[a] > depth[b];
    return a > b;
  };
  std::make_heap(heap, heap + u, later);
  std::uint32_t heapSize = u, nextNode = u;
  while (heapSize > 1) {
    std::pop_heap(heap, heap + heapSize--, later);
    const std::uint32_t a = heap[heapSize];
    std::pop_heap(heap, heap + heapSize--, later);
    const std::uint32_t b = heap[heapSize];
    const std::uint32_t node = nextNode++;
    weight[node] = weight[a] + weight[b];
    depth[node] = static_cast<std::uint8_t>(std::min(std::max(depth[a], depth[b]) + 1, 255));
    parent[a] = parent[b] = node;
    heap[heapSize++] = node;
    std::push_heap(heap, heap + heapSize, later);
  }
  const std::uint32_t root = nextNode - 1;
  level[root] = 0;
  for (std::uint32_t node = root; node-- > u;)
    level[node] = level[parent[node]] + 1;
  std::uint64_t lengthCount[kMaxLimitedBits + 2] = {};
  for (std::uint32_t k = 0; k < u; ++k)
    ++lengthCount[std::min<std::uint32_t>(level[parent[k]] + 1, maxBits)];

  const std::uint64_t full = std::uint64_t{1} << maxBits;
  std::uint64_t kraft = 0;
  for (unsigned l = 1; l <= maxBits; ++l)
    kraft += lengthCount[l] << (maxBits - l);
  while (kraft > full) {
    unsigned l = maxBits - 1;
    while (lengthCount[l] == 0)
      --l;
    --lengthCount[l];
    ++lengthCount[l + 1];
    kraft -= std::uint64_t{1} << (maxBits - l - 1);
  }
  while (kraft < full) {
    unsigned l = maxBits;
    while (lengthCount[l] == 0)
      --l;
    if (l == 1) break;
    --lengthCount[l];
    ++lengthCount[l - 1];
    kraft += std::uint64_t{1} << (maxBits - l);
  }
  // heap[] is free now: reuse it for the leaves by falling count.
  for (std::uint32_t k = 0; k < u; ++k)
    heap[k] = k;
  std::sort(heap, heap + u, [&](std::uint32_t a, std::uint32_t b) {
    return weight[a] != weight[b] ? weight[a] > weight[b] : a < b;
  });
  std::uint32_t k = 0;
  for (unsigned l = 1; l <= maxBits; ++l) {
    for (std::uint64_t c = 0; c < lengthCount[l]; ++c)
      lengths[used[heap[k++]]] = static_cast<std::uint8_t>(l);
  }
}

bool Deflate_BuildCodeLengths(const std::uint32_t* counts, unsigned n, unsigned maxBits,
                              std::uint8_t* lengths) noexcept {
  constexpr unsigned kMaxSymbols = kDeflateLiteralSymbols;
  if (n < 2 || n > kMaxSymbols || maxBits < 1 || maxBits > kDeflateMaxCodeBits ||
      n > (1u << maxBits)) {
    return false;
  }
  std::array<std::uint32_t, kMaxSymbols> weights{};
  std::array<std::uint32_t, kMaxSymbols> used{};
  std::uint32_t usedCount = 0;
  for (unsigned s = 0; s < n; ++s) {
    weights[s] = counts[s];
    if (counts[s] != 0) used[usedCount++] = s;
  }
  // DEFLATE wants at least two codes: an unused alphabet takes symbol 0, a
  // single used symbol is joined by symbol 0 (or 1) with the same count.
  if (usedCount == 0) {
    weights[0] = 1;
    used[usedCount++] = 0;
  }
  if (usedCount == 1) {
    const std::uint32_t other = used[0] == 0 ? 1 : 0;
    weights[other] = weights[used[0]];
    used[usedCount++] = other;
    std::sort(used.begin(), used.begin() + 2);
  }
  std::array<std::uint64_t, 2 * kMaxSymbols> weight{};
  std::array<std::uint32_t, 2 * kMaxSymbols> parent{};
  std::array<std::uint32_t, 2 * kMaxSymbols> level{};
  std::array<std::uint32_t, kMaxSymbols> heap{};
  std::array<std::uint8_t, 2 * kMaxSymbols> depth{};
  std::fill_n(lengths, n, std::uint8_t{0});
  Deflate_LimitedCodeLengths(
      weights.data(), used.data(), usedCount, maxBits, lengths,
      {weight.data(), parent.data(), level.data(), heap.data(), depth.data()});
  return true;
}

void Deflate_CanonicalCodes(const std::uint8_t* lengths, unsigned n,
                            std::uint16_t* codes) noexcept {
  std::array<std::uint16_t, kDeflateMaxCodeBits + 1> count{};
  for (unsigned s = 0; s < n; ++s)
    if (lengths[s] <= kDeflateMaxCodeBits) ++count[lengths[s]];
  count[0] = 0;
  std::array<std::uint16_t, kDeflateMaxCodeBits + 1> next{};
  unsigned code = 0;
  for (unsigned l = 1; l <= kDeflateMaxCodeBits; ++l) {
    code = (code + count[l - 1]) << 1;
    next[l] = static_cast<std::uint16_t>(code);
  }
  for (unsigned s = 0; s < n; ++s) {
    const unsigned l = lengths[s];
    if (l == 0 || l > kDeflateMaxCodeBits) {
      codes[s] = 0;
      continue;
    }
    const unsigned value = next[l]++;
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < l; ++bit)
      reversed |= ((value >> bit) & 1u) << (l - 1 - bit);
    codes[s] = static_cast<std::uint16_t>(reversed);
  }
}

EngineObject DeflateModule = {nullptr, &kDeflateOps};

StatusCode DeflateMod_Create(EngineObject*, std::uint32_t blockSize, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (blockSize == 0 || blockSize > kDeflateMaxBlockSize) return kBadArgument;
  DeflateInstance* instance = nullptr;
  StatusCode s = Engine_AllocArray(1, &instance);
  if (IsFailure(s)) return s;
  new (instance) DeflateInstance{};
  DeflateBody& b = instance->body;
  b.blockSize = blockSize;
  if (IsFailure(s = Engine_AllocArray(blockSize, &b.input)) ||
      IsFailure(s = Engine_AllocArray(blockSize, &b.symbols)) ||
      IsFailure(s = Engine_AllocArray(blockSize, &b.distances)) ||
      IsFailure(s = Engine_AllocArray(kHashSize, &b.heads)) ||
      IsFailure(s = Engine_AllocArray(blockSize, &b.chain))) {
    instance->header = {&instance->body, &kDeflateOps};
    (void)DeflateMod_Destroy(&instance->header);  // frees what was made; the failure is s
    return s;
  }
  instance->header = {&instance->body, &kDeflateOps};
  *out = &instance->header;
  return kOk;
}

StatusCode DeflateMod_Destroy(EngineObject* encoder) noexcept {
  if (!Valid(encoder)) return kBadArgument;
  DeflateBody& b = Body(encoder);
  Engine_Free(b.input);
  Engine_Free(b.symbols);
  Engine_Free(b.distances);
  Engine_Free(b.heads);
  Engine_Free(b.chain);
  Engine_Free(encoder);  // the header starts the instance's allocation
  return kOk;
}

StatusCode DeflateMod_ClearCounts(EngineObject* encoder) noexcept {
  if (!Valid(encoder)) return kBadArgument;
  DeflateBody& b = Body(encoder);
  std::fill(std::begin(b.literalCounts), std::end(b.literalCounts), 0u);
  std::fill(std::begin(b.distanceCounts), std::end(b.distanceCounts), 0u);
  return kOk;
}

StatusCode DeflateMod_MatchBlock(EngineObject* encoder, const void* data, std::uint32_t n,
                                 std::uint32_t* symbolCount, const std::uint8_t** symbols,
                                 const std::uint16_t** distances) noexcept {
  if (!Valid(encoder) || (data == nullptr && n != 0)) return kBadArgument;
  DeflateBody& b = Body(encoder);
  if (n > b.blockSize) return kDeflateBlockTooLarge;
  MatchAll(b, static_cast<const std::uint8_t*>(data), n);
  if (symbolCount != nullptr) *symbolCount = b.symbolCount;
  if (symbols != nullptr) *symbols = b.symbols;
  if (distances != nullptr) *distances = b.distances;
  return kOk;
}

StatusCode DeflateMod_BuildBlockCodes(EngineObject* encoder, std::uint32_t t) noexcept {
  if (!Valid(encoder)) return kBadArgument;
  DeflateBody& b = Body(encoder);
  if (t != 0) {
    t = std::min<std::uint32_t>(t, 20);
    std::array<std::uint16_t, 256> order{};
    for (unsigned k = 0; k < 256; ++k)
      order[k] = static_cast<std::uint16_t>(k);
    std::partial_sort(order.begin(), order.begin() + t, order.end(),
                      [&](std::uint16_t x, std::uint16_t y) {
                        if (b.literalCounts[x] != b.literalCounts[y]) {
                          return b.literalCounts[x] > b.literalCounts[y];
                        }
                        return x < y;
                      });
    for (std::uint32_t k = t; k-- > 0;) {
      if (b.literalCounts[order[k]] != 0) {
        b.literalCounts[0] = b.literalCounts[order[k]];
        break;
      }
    }
  }
  Deflate_BuildCodeLengths(b.literalCounts, kDeflateLengthCodes, kDeflateMaxCodeBits,
                           b.literalLengths);
  Deflate_BuildCodeLengths(b.distanceCounts, kDeflateDistanceCodes, kDeflateMaxCodeBits,
                           b.distanceLengths);
  Deflate_CanonicalCodes(b.literalLengths, kDeflateLengthCodes, b.literalCodes);
  Deflate_CanonicalCodes(b.distanceLengths, kDeflateDistanceCodes, b.distanceCodes);
  b.literalCodesSent = std::max(LastUsed(b.literalLengths, kDeflateLengthCodes), 257u);
  b.distanceCodesSent = std::max(LastUsed(b.distanceLengths, kDeflateDistanceCodes), 1u);

  b.rleCount = 0;
  RunLengthCode(b, b.literalLengths, b.literalCodesSent);
  RunLengthCode(b, b.distanceLengths, b.distanceCodesSent);
  std::array<std::uint32_t, kDeflateCodeLengthSymbols> clCounts{};
  for (std::uint32_t k = 0; k < b.rleCount; ++k)
    ++clCounts[b.rleSymbols[k]];
  Deflate_BuildCodeLengths(clCounts.data(), kDeflateCodeLengthSymbols, kDeflateMaxCodeLengthBits,
                           b.clLengths);
  Deflate_CanonicalCodes(b.clLengths, kDeflateCodeLengthSymbols, b.clCodes);
  unsigned sent = kDeflateCodeLengthSymbols;
  while (sent > 4 && b.clLengths[kDeflateCodeLengthOrder[sent - 1]] == 0)
    --sent;
  b.clCodesSent = sent;

  std::uint32_t bits = 3 + 5 + 5 + 4 + 3 * sent;
  for (std::uint32_t k = 0; k < b.rleCount; ++k) {
    const unsigned symbol = b.rleSymbols[k];
    bits += b.clLengths[symbol] + (symbol >= 16 ? kRepeatExtraBits[symbol - 16] : 0u);
  }
  b.headerBits = bits;
  b.codesReady = true;
  return kOk;
}

StatusCode DeflateMod_SetOutputBuffer(EngineObject* encoder, void* buffer,
                                      std::uint32_t size) noexcept {
  if (!Valid(encoder) || (buffer == nullptr && size != 0)) return kBadArgument;
  DeflateBody& b = Body(encoder);
  b.out = static_cast<std::uint8_t*>(buffer);
  b.outSize = size;
  b.outUsed = 0;
  b.callerBuffer = true;
  b.sink = nullptr;
  b.bits = 0;
  b.bitCount = 0;
  b.written = 0;
  if (b.out == nullptr) b.out = b.own;  // a zero-size buffer is full at once
  return kOk;
}

StatusCode DeflateMod_SetOutputSink(EngineObject* encoder, EngineObject* stream,
                                    std::uint32_t position) noexcept {
  if (!Valid(encoder) || stream == nullptr) return kBadArgument;
  DeflateBody& b = Body(encoder);
  b.out = b.own;
  b.outSize = sizeof b.own;
  b.outUsed = 0;
  b.callerBuffer = false;
  b.sink = stream;
  b.sinkPosition = position;
  b.bits = 0;
  b.bitCount = 0;
  b.written = 0;
  return kOk;
}

StatusCode DeflateMod_Flush(EngineObject* encoder, std::uint32_t* written) noexcept {
  if (!Valid(encoder)) return kBadArgument;
  DeflateBody& b = Body(encoder);
  b.bitCount = (b.bitCount + 7) & ~7u;  // the bits above the pending ones are zero
  StatusCode s = Drain(b);
  if (IsFailure(s)) return s;
  if (!b.callerBuffer) {
    s = WriteOwnBuffer(b);
    if (IsFailure(s)) return s;
  }
  if (written != nullptr) *written = b.callerBuffer ? b.outUsed : b.written;
  return kOk;
}

StatusCode DeflateMod_WriteBlockHeader(EngineObject* encoder, std::uint32_t final,
                                       std::uint32_t compressed, std::uint32_t dynamic) noexcept {
  if (!Valid(encoder) || Body(encoder).out == nullptr) return kBadArgument;
  const std::uint32_t type = compressed == 0 ? 0 : dynamic != 0 ? 2 : 1;
  return PutBits(Body(encoder), (final != 0 ? 1u : 0u) | type << 1, 3);
}

StatusCode DeflateMod_WriteCodeTables(EngineObject* encoder) noexcept {
  if (!Valid(encoder)) return kBadArgument;
  DeflateBody& b = Body(encoder);
  if (!b.codesReady) return kBadArgument;
  StatusCode s = PutBits(
      b, (b.literalCodesSent - 257) | (b.distanceCodesSent - 1) << 5 | (b.clCodesSent - 4) << 10,
      14);
  for (std::uint32_t k = 0; k < b.clCodesSent && !IsFailure(s); ++k)
    s = PutBits(b, b.clLengths[kDeflateCodeLengthOrder[k]], 3);
  for (std::uint32_t k = 0; k < b.rleCount && !IsFailure(s); ++k) {
    const unsigned symbol = b.rleSymbols[k];
    s = PutBits(b, b.clCodes[symbol], b.clLengths[symbol]);
    if (symbol >= 16 && !IsFailure(s)) s = PutBits(b, b.rleExtra[k], kRepeatExtraBits[symbol - 16]);
  }
  return s;
}

StatusCode DeflateMod_CompressBlock(EngineObject* encoder, std::uint32_t count,
                                    const std::uint8_t* symbols,
                                    const std::uint16_t* distances) noexcept {
  if (!Valid(encoder)) return kBadArgument;
  DeflateBody& b = Body(encoder);
  if (!b.codesReady) return kBadArgument;
  if (symbols == nullptr || distances == nullptr) {
    symbols = b.symbols;
    distances = b.distances;
    count = b.symbolCount;
  }
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t distance = distances[k];
    StatusCode s;
    if (distance == 0) {
      const unsigned symbol = symbols[k];
      if (b.literalLengths[symbol] == 0) return kBadArgument;
      s = PutBits(b, b.literalCodes[symbol], b.literalLengths[symbol]);
    } else {
      if (distance > kDeflateMaxDistance) return kBadArgument;
      const unsigned lc = kLengthCode[symbols[k]];
      const unsigned dc = DistanceCode(distance);
      const unsigned ll = b.literalLengths[257 + lc], dl = b.distanceLengths[dc];
      if (ll == 0 || dl == 0) return kBadArgument;
      const std::uint32_t lengthExtra = symbols[k] + 3u - kDeflateLengthBase[lc];
      s = PutBits(b, b.literalCodes[257 + lc] | lengthExtra << ll, ll + kDeflateLengthExtra[lc]);
      if (!IsFailure(s)) {
        const std::uint32_t distanceExtra = distance - kDeflateDistanceBase[dc];
        s = PutBits(b, b.distanceCodes[dc] | distanceExtra << dl, dl + kDeflateDistanceExtra[dc]);
      }
    }
    if (IsFailure(s)) return s;
  }
  if (b.literalLengths[kDeflateEndOfBlock] == 0) return kBadArgument;
  return PutBits(b, b.literalCodes[kDeflateEndOfBlock], b.literalLengths[kDeflateEndOfBlock]);
}

StatusCode DeflateMod_CompressRange(EngineObject* encoder, EngineObject* source,
                                    std::uint32_t position, std::uint32_t length,
                                    std::uint32_t* crc32, std::uint32_t* adler32) noexcept {
  if (!Valid(encoder) || (source == nullptr && length != 0)) return kBadArgument;
  if (std::uint64_t{position} + length > 0xFFFFFFFFu) return kBadArgument;
  DeflateBody& b = Body(encoder);
  EngineObject* const checksums = g_ChecksumModule;
  if ((crc32 != nullptr || adler32 != nullptr) && checksums == nullptr) return kFailed;
  std::uint32_t done = 0;
  do {
    const std::uint32_t n = std::min(b.blockSize, length - done);
    if (n != 0) {
      std::uint32_t got = 0;
      StatusCode s = StreamOf(source).readAt(source, position + done, b.input, n, &got);
      if (IsFailure(s)) return s;
      if (got != n) return kStreamShortRead;
      const ChecksumOps* ops = checksums != nullptr ? &OpsOf<ChecksumOps>(checksums) : nullptr;
      if (crc32 != nullptr && IsFailure(s = ops->crc32(checksums, b.input, n, crc32))) return s;
      if (adler32 != nullptr && IsFailure(s = ops->adler32(checksums, b.input, n, adler32))) {
        return s;
      }
    }
    done += n;
    StatusCode s = DeflateMod_ClearCounts(encoder);
    if (!IsFailure(s)) s = DeflateMod_MatchBlock(encoder, b.input, n, nullptr, nullptr, nullptr);
    if (!IsFailure(s)) s = DeflateMod_BuildBlockCodes(encoder, 0);
    if (!IsFailure(s)) s = DeflateMod_WriteBlockHeader(encoder, done == length, 1, 1);
    if (!IsFailure(s)) s = DeflateMod_WriteCodeTables(encoder);
    if (!IsFailure(s)) s = DeflateMod_CompressBlock(encoder, 0, nullptr, nullptr);
    if (IsFailure(s)) return s;
  } while (done < length);
  return kOk;
}
