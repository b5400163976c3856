#include "engine/codecs/huffman.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/codecs/deflate.h"
#include "engine/codecs/deflate_common.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/stream.h"

namespace {

using EncoderInstance = EngineInstance<HuffEncoderBody>;
using DecoderInstance = EngineInstance<HuffDecoderBody>;

constexpr std::uint32_t kPiece = 512;  // stream transfers, in and out

bool Valid(const EngineObject* o) {
  return o != nullptr && o->state != nullptr;
}

bool ValidWidth(std::uint32_t width) {
  return width == 1 || width == 2 || width == 4;
}

std::uint32_t LoadLE(const std::uint8_t* p, unsigned bytes) {
  std::uint32_t v = 0;
  for (unsigned i = bytes; i-- > 0;)
    v = (v << 8) | p[i];
  return v;
}

constexpr unsigned ExtraBytes(std::uint32_t k) {
  return k == 0 ? 0 : k <= 8 ? 1 : k <= 16 ? 2 : 4;
}

constexpr std::uint32_t LowBits(std::uint32_t value, std::uint32_t k) {
  return k >= 32 ? value : value & ((1u << k) - 1);
}

std::uint32_t Reverse(std::uint32_t v, unsigned length) {
  v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
  v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
  v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
  v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
  v = (v >> 16) | (v << 16);
  return v >> (32 - length);
}

// First canonical code of each length 1-32 (RFC 1951 section 3.2.2); false
// when lengths above 32 appear or the lengths over-subscribe the code space.
bool FirstCodes(const std::uint8_t* lengths, std::uint32_t n, std::uint64_t (&next)[33]) {
  std::uint64_t count[33] = {};
  for (std::uint32_t s = 0; s < n; ++s) {
    if (lengths[s] > kHuffMaxDecodeBits) return false;
    ++count[lengths[s]];
  }
  count[0] = 0;
  std::uint64_t kraft = 0, code = 0;
  for (unsigned l = 1; l <= kHuffMaxDecodeBits; ++l) {
    kraft += count[l] << (kHuffMaxDecodeBits - l);
    code = (code + count[l - 1]) << 1;
    next[l] = code;
  }
  return kraft <= (std::uint64_t{1} << kHuffMaxDecodeBits);
}

// ---- Code lengths -------------------------------------------------------

// Scratch for the shared length-limited builder, from the engine allocator.
StatusCode LargeCodeLengths(const std::uint32_t* counts, const std::uint32_t* used, std::uint32_t u,
                            unsigned maxBits, std::uint8_t* lengths) noexcept {
  const std::uint32_t nodes = 2 * u;
  std::uint64_t* weightRaw = nullptr;
  std::uint32_t *parentRaw = nullptr, *levelRaw = nullptr, *heapRaw = nullptr;
  std::uint8_t* depthRaw = nullptr;
  StatusCode s;
  if (IsFailure(s = Engine_AllocArray(nodes, &weightRaw))) return s;
  EngineBuffer<std::uint64_t> weightOwner(weightRaw);
  if (IsFailure(s = Engine_AllocArray(nodes, &parentRaw))) return s;
  EngineBuffer<std::uint32_t> parentOwner(parentRaw);
  if (IsFailure(s = Engine_AllocArray(nodes, &levelRaw))) return s;
  EngineBuffer<std::uint32_t> levelOwner(levelRaw);
  if (IsFailure(s = Engine_AllocArray(u, &heapRaw))) return s;
  EngineBuffer<std::uint32_t> heapOwner(heapRaw);
  if (IsFailure(s = Engine_AllocArray(nodes, &depthRaw))) return s;
  EngineBuffer<std::uint8_t> depthOwner(depthRaw);
  Deflate_LimitedCodeLengths(counts, used, u, maxBits, lengths,
                             {weightRaw, parentRaw, levelRaw, heapRaw, depthRaw});
  return kOk;
}

StatusCode BuildCodeLengths(const std::uint32_t* counts, std::uint32_t n, unsigned maxBits,
                            std::uint8_t* lengths) noexcept {
  std::fill_n(lengths, n, std::uint8_t{0});
  std::uint32_t u = 0, only = 0;
  for (std::uint32_t s = 0; s < n; ++s) {
    if (counts[s] != 0) ++u, only = s;
  }
  if (u == 0) return kOk;
  if (u == 1) {
    lengths[only] = 1;
    return kOk;
  }
  if (u > (std::uint64_t{1} << maxBits)) return kBadArgument;
  std::uint32_t* usedRaw = nullptr;
  const StatusCode s = Engine_AllocArray(u, &usedRaw);
  if (IsFailure(s)) return s;
  EngineBuffer<std::uint32_t> usedOwner(usedRaw);
  std::uint32_t k = 0;
  for (std::uint32_t sym = 0; sym < n; ++sym) {
    if (counts[sym] != 0) usedRaw[k++] = sym;
  }
  return LargeCodeLengths(counts, usedRaw, u, maxBits, lengths);
}

void CanonicalCodes(const std::uint8_t* lengths, std::uint32_t n, std::uint32_t* codes) noexcept {
  std::uint64_t next[33];
  FirstCodes(lengths, n, next);  // the encoder's own lengths always fit
  for (std::uint32_t s = 0; s < n; ++s) {
    const unsigned l = lengths[s];
    codes[s] = l == 0 ? 0 : Reverse(static_cast<std::uint32_t>(next[l]++), l);
  }
}

// ---- Reading symbol records --------------------------------------------

// A stream range read through a 512-byte buffer; records are never split.
class RangeReader {
 public:
  RangeReader(EngineObject* stream, std::uint32_t position, std::uint32_t length)
      : stream_(stream),
        position_(position),
        left_(length == kHuffToEnd ? 0xFFFFFFFFu - position : length),
        toEnd_(length == kHuffToEnd) {}

  // Buffers at least k bytes; *ok false when the range ends first.
  StatusCode Ensure(unsigned k, bool* ok) noexcept {
    if (end_ - at_ < k) {
      std::memmove(buffer_, buffer_ + at_, end_ - at_);
      end_ -= at_;
      at_ = 0;
      while (end_ < k && left_ != 0 && !exhausted_) {
        const std::uint32_t want = std::min(kPiece - end_, left_);
        std::uint32_t got = 0;
        const StatusCode s =
            StreamOf(stream_).readAt(stream_, position_, buffer_ + end_, want, &got);
        if (IsFailure(s)) return s;
        if (got == 0) {
          if (!toEnd_) return kStreamShortRead;
          exhausted_ = true;
          break;
        }
        got = std::min(got, want);
        position_ += got;
        left_ -= got;
        end_ += got;
      }
    }
    *ok = end_ - at_ >= k;
    return kOk;
  }
  std::uint32_t Buffered() const { return end_ - at_; }
  const std::uint8_t* Take(unsigned k) {
    const std::uint8_t* p = buffer_ + at_;
    at_ += k;
    return p;
  }

 private:
  EngineObject* stream_;
  std::uint32_t position_;
  std::uint32_t left_;
  bool toEnd_;
  bool exhausted_ = false;
  std::uint32_t at_ = 0, end_ = 0;
  std::uint8_t buffer_[kPiece];
};

struct SymbolRecord {
  std::uint32_t symbol;
  std::uint32_t extraBits;
  std::uint32_t extraValue;  // its low extraBits bits
};

// The next record: *have false at a clean end of the range.
StatusCode ReadRecord(RangeReader& in, std::uint32_t n, std::uint32_t width, HuffExtraBitsFn extra,
                      SymbolRecord* record, bool* have) noexcept {
  bool ok = false;
  StatusCode s = in.Ensure(width, &ok);
  if (IsFailure(s)) return s;
  if (!ok) {
    *have = false;
    return in.Buffered() == 0 ? kOk : kHuffEncBadRecord;
  }
  record->symbol = LoadLE(in.Take(width), width);
  if (record->symbol >= n) return kHuffEncBadSymbol;
  record->extraBits = extra != nullptr ? extra(record->symbol) : 0;
  if (record->extraBits > 32) return kHuffEncBadRecord;
  record->extraValue = 0;
  if (const unsigned bytes = ExtraBytes(record->extraBits); bytes != 0) {
    if (IsFailure(s = in.Ensure(bytes, &ok))) return s;
    if (!ok) return kHuffEncBadRecord;
    record->extraValue = LowBits(LoadLE(in.Take(bytes), bytes), record->extraBits);
  }
  *have = true;
  return kOk;
}

// ---- Bit output ---------------------------------------------------------

// Bits least significant first through a 512-byte buffer to a sink by
// position; with measureOnly it only counts them.
class BitWriter {
 public:
  BitWriter(EngineObject* sink, std::uint32_t position, bool measureOnly = false)
      : sink_(sink), position_(position), measureOnly_(measureOnly) {}

  // value holds no bits above the low `count` (at most 32).
  StatusCode Put(std::uint32_t value, unsigned count) noexcept {
    totalBits_ += count;
    if (measureOnly_) return kOk;
    bits_ |= std::uint64_t{value} << pending_;
    pending_ += count;
    while (pending_ >= 8) {
      buffer_[used_++] = static_cast<std::uint8_t>(bits_);
      bits_ >>= 8;
      pending_ -= 8;
      if (used_ == kPiece) {
        const StatusCode s = Deliver();
        if (IsFailure(s)) return s;
      }
    }
    return kOk;
  }
  // Pads the last byte with zeros and delivers the rest.
  StatusCode Finish() noexcept {
    if (measureOnly_) return kOk;
    if (pending_ != 0) {
      buffer_[used_++] = static_cast<std::uint8_t>(bits_);
      bits_ = 0;
      pending_ = 0;
    }
    return Deliver();
  }
  std::uint64_t Bytes() const { return (totalBits_ + 7) / 8; }

 private:
  StatusCode Deliver() noexcept {
    if (used_ == 0) return kOk;
    if (sink_ == nullptr) return kHuffEncNoSink;
    if (std::uint64_t{position_} + used_ > 0xFFFFFFFFu) return kIndexOutOfRange;
    std::uint32_t count = 0;
    const StatusCode s = StreamOf(sink_).writeAt(sink_, position_, buffer_, used_, &count);
    if (IsFailure(s)) return s;
    if (count != used_) return kStreamShortWrite;
    position_ += used_;
    used_ = 0;
    return kOk;
  }

  EngineObject* sink_;
  std::uint32_t position_;
  bool measureOnly_;
  std::uint64_t bits_ = 0;
  unsigned pending_ = 0;
  std::uint32_t used_ = 0;
  std::uint64_t totalBits_ = 0;
  std::uint8_t buffer_[kPiece];
};

// ---- Bit input ----------------------------------------------------------

// Bits least significant first from a stream range, read 512 bytes at a
// time. Peek refills a 64-bit window (bits past the input read as zeros);
// Available says how many are real. The shape DeflateHuffman_Decode expects.
class BitReader {
 public:
  BitReader(EngineObject* stream, std::uint32_t position, std::uint32_t length)
      : stream_(stream),
        position_(position),
        left_(length == kHuffToEnd ? 0xFFFFFFFFu - position : length) {}

  std::uint64_t Peek() noexcept {
    while (count_ <= 56) {
      if (at_ == end_ && !Load()) break;
      bits_ |= std::uint64_t{buffer_[at_++]} << count_;
      count_ += 8;
    }
    return bits_;
  }
  std::uint32_t Available() const { return count_; }
  void Skip(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  // Why fewer bits than needed are left: a stream failure, or the end.
  StatusCode Shortage() const { return failure_ != kOk ? failure_ : kHuffDecEndOfInput; }
  // Bytes used so far, the partly used last byte included.
  std::uint32_t Consumed() const { return fetched_ - (end_ - at_) - count_ / 8; }

 private:
  bool Load() noexcept {
    if (left_ == 0 || failure_ != kOk) return false;
    const std::uint32_t want = std::min(kPiece, left_);
    std::uint32_t got = 0;
    const StatusCode s = StreamOf(stream_).readAt(stream_, position_, buffer_, want, &got);
    if (IsFailure(s)) {
      failure_ = s;
      return false;
    }
    got = std::min(got, want);
    if (got == 0) {
      left_ = 0;
      return false;
    }
    position_ += got;
    left_ -= got;
    fetched_ += got;
    at_ = 0;
    end_ = got;
    return true;
  }

  EngineObject* stream_;
  std::uint32_t position_;
  std::uint32_t left_;
  StatusCode failure_ = kOk;
  std::uint32_t fetched_ = 0;
  std::uint32_t at_ = 0, end_ = 0;
  std::uint64_t bits_ = 0;
  std::uint32_t count_ = 0;
  std::uint8_t buffer_[kPiece];
};

// ---- Encoder internals --------------------------------------------------

HuffEncoderBody& Encoder(EngineObject* e) {
  return BodyOf<HuffEncoderBody>(e);
}
HuffDecoderBody& Decoder(EngineObject* d) {
  return BodyOf<HuffDecoderBody>(d);
}

// Encodes (or, with a measuring writer, measures) the records of a range.
StatusCode EncodeRecords(const HuffEncoderBody& b, EngineObject* source, std::uint32_t position,
                         std::uint32_t length, std::uint32_t width, HuffExtraBitsFn extra,
                         BitWriter& out) noexcept {
  if (!ValidWidth(width)) return kHuffEncBadWidth;
  if (source == nullptr) return kBadArgument;
  RangeReader in(source, position, length);
  for (;;) {
    SymbolRecord r;
    bool have = false;
    StatusCode s = ReadRecord(in, b.head.n, width, extra, &r, &have);
    if (IsFailure(s)) return s;
    if (!have) break;
    if (b.lengths[r.symbol] == 0) return kHuffEncBadSymbol;
    if (IsFailure(s = out.Put(b.codes[r.symbol], b.lengths[r.symbol]))) return s;
    if (r.extraBits != 0 && IsFailure(s = out.Put(r.extraValue, r.extraBits))) return s;
  }
  return kOk;
}

constexpr std::uint8_t kRepeatPrevious = 32;  // 3-6 times, 2 extra bits
constexpr std::uint8_t kShortZeros = 33;      // 3-10 zeros, 3 extra bits
constexpr std::uint8_t kLongZeros = 34;       // 11-138 zeros, 7 extra bits

constexpr unsigned RunExtraBits(unsigned symbol) {
  return symbol == kRepeatPrevious ? 2 : symbol == kShortZeros ? 3 : 7;
}

StatusCode WriteCodedTable(const std::uint8_t* lengths, std::uint32_t n, BitWriter& out) noexcept {
  // Run-length coding: each entry is a symbol (0-34) and its extra value.
  std::uint8_t *symbolsRaw = nullptr, *extraRaw = nullptr;
  StatusCode s = Engine_AllocArray(n, &symbolsRaw);
  if (IsFailure(s)) return s;
  EngineBuffer<std::uint8_t> symbolsOwner(symbolsRaw);
  if (IsFailure(s = Engine_AllocArray(n, &extraRaw))) return s;
  EngineBuffer<std::uint8_t> extraOwner(extraRaw);
  std::uint32_t entries = 0;
  std::array<std::uint32_t, kHuffCodeLengthSymbols> counts{};
  auto emit = [&](unsigned symbol, unsigned value) {
    symbolsRaw[entries] = static_cast<std::uint8_t>(symbol);
    extraRaw[entries++] = static_cast<std::uint8_t>(value);
    ++counts[symbol];
  };
  for (std::uint32_t i = 0; i < n;) {
    const std::uint8_t l = lengths[i];
    std::uint32_t run = 1;
    while (i + run < n && lengths[i + run] == l)
      ++run;
    i += run;
    if (l == 0) {
      while (run >= 11) {
        const std::uint32_t r = std::min<std::uint32_t>(run, 138);
        emit(kLongZeros, r - 11);
        run -= r;
      }
      if (run >= 3) {
        emit(kShortZeros, run - 3);
        run = 0;
      }
    } else {
      emit(l, 0);  // a run's first length always goes literally
      --run;
      while (run >= 3) {
        const std::uint32_t r = std::min<std::uint32_t>(run, 6);
        emit(kRepeatPrevious, r - 3);
        run -= r;
      }
    }
    for (; run != 0; --run)
      emit(l, 0);
  }

  std::array<std::uint8_t, kHuffCodeLengthSymbols> clLengths{};
  std::array<std::uint16_t, kHuffCodeLengthSymbols> clCodes{};
  Deflate_BuildCodeLengths(counts.data(), kHuffCodeLengthSymbols, kHuffMaxCodeLengthBits,
                           clLengths.data());
  Deflate_CanonicalCodes(clLengths.data(), kHuffCodeLengthSymbols, clCodes.data());
  unsigned sent = kHuffCodeLengthSymbols;
  while (sent > 4 && clLengths[kHuffCodeLengthOrder[sent - 1]] == 0)
    --sent;
  if (IsFailure(s = out.Put(sent - 4, 5))) return s;
  for (unsigned k = 0; k < sent; ++k) {
    if (IsFailure(s = out.Put(clLengths[kHuffCodeLengthOrder[k]], 3))) return s;
  }
  for (std::uint32_t e = 0; e < entries; ++e) {
    const unsigned symbol = symbolsRaw[e];
    if (IsFailure(s = out.Put(clCodes[symbol], clLengths[symbol]))) return s;
    if (symbol >= kRepeatPrevious && IsFailure(s = out.Put(extraRaw[e], RunExtraBits(symbol)))) {
      return s;
    }
  }
  return kOk;
}

// ---- Decoder internals --------------------------------------------------

void ClearTree(HuffDecoderBody& b) {
  std::fill_n(b.zero, b.head.n + 2, 0u);
  std::fill_n(b.one, b.head.n + 2, 0u);
}

StatusCode BuildTree(HuffDecoderBody& b) noexcept {
  ClearTree(b);
  const std::uint32_t n = b.head.n;
  std::uint64_t next[33];
  if (!FirstCodes(b.lengths, n, next)) return kHuffDecOversubscribed;
  std::uint32_t internal = 0;  // internal nodes besides the root: 1 .. n
  // Symbols in order, each taking the next code of its length: the same
  // codes as walking length by length.
  for (std::uint32_t s = 0; s < n; ++s) {
    const unsigned l = b.lengths[s];
    if (l == 0) continue;
    const std::uint64_t code = next[l]++;
    std::uint32_t node = 0;
    for (unsigned bit = l; bit-- > 1;) {
      std::uint32_t& link = ((code >> bit) & 1) != 0 ? b.one[node] : b.zero[node];
      if (link == 0) {
        if (internal == n) {
          ClearTree(b);
          return kHuffDecOversubscribed;
        }
        link = ++internal;
      } else if (link > n) {
        ClearTree(b);
        return kHuffDecOversubscribed;
      }
      node = link;
    }
    std::uint32_t& leaf = (code & 1) != 0 ? b.one[node] : b.zero[node];
    if (leaf != 0) {
      ClearTree(b);
      return kHuffDecOversubscribed;
    }
    leaf = n + 1 + s;
  }
  return kOk;
}

StatusCode DecodeSymbol(const HuffDecoderBody& b, BitReader& in, std::uint32_t* symbol) noexcept {
  const std::uint64_t bits = in.Peek();
  const std::uint32_t available = in.Available();
  const std::uint32_t n = b.head.n;
  std::uint32_t node = 0;
  for (unsigned i = 0; i < kHuffMaxDecodeBits; ++i) {
    if (i >= available) return in.Shortage();
    const std::uint32_t link = ((bits >> i) & 1) != 0 ? b.one[node] : b.zero[node];
    if (link == 0) return kHuffDecNoLeaf;
    if (link > n) {
      *symbol = link - n - 1;
      in.Skip(i + 1);
      return kOk;
    }
    node = link;
  }
  return kHuffDecNoLeaf;
}

StatusCode ReadCodedTable(BitReader& in, std::uint8_t* lengths, std::uint32_t n) noexcept {
  auto need = [&](unsigned bits) {
    in.Peek();
    return in.Available() >= bits;
  };
  if (!need(5)) return in.Shortage();
  const unsigned sent = static_cast<unsigned>(in.Peek() & 31) + 4;
  in.Skip(5);
  std::array<std::uint8_t, kHuffCodeLengthSymbols> clLengths{};
  for (unsigned k = 0; k < sent; ++k) {
    if (!need(3)) return in.Shortage();
    clLengths[kHuffCodeLengthOrder[k]] = static_cast<std::uint8_t>(in.Peek() & 7);
    in.Skip(3);
  }
  DeflateHuffman clCode;
  if (DeflateHuffman_Build(clCode, clLengths.data(), kHuffCodeLengthSymbols) ==
      DeflateCodeShape::kOversubscribed) {
    return kHuffDecOversubscribed;
  }
  std::uint32_t i = 0;
  bool havePrevious = false;
  std::uint8_t previous = 0;
  while (i < n) {
    const std::uint64_t bits = in.Peek();
    const DeflateSymbol s = DeflateHuffman_Decode(clCode, bits);
    if (s.length == 0) {
      // Zeros past the end may start no code: only a full window is proof.
      return in.Available() >= kHuffMaxCodeLengthBits ? kHuffDecNoLeaf : in.Shortage();
    }
    if (s.length > in.Available()) return in.Shortage();
    if (s.symbol < kRepeatPrevious) {
      in.Skip(s.length);
      lengths[i++] = static_cast<std::uint8_t>(s.symbol);
      previous = static_cast<std::uint8_t>(s.symbol);
      havePrevious = true;
      continue;
    }
    const unsigned extra = RunExtraBits(s.symbol);
    if (s.length + extra > in.Available()) return in.Shortage();
    const unsigned value = static_cast<unsigned>((bits >> s.length) & ((1u << extra) - 1));
    in.Skip(s.length + extra);
    std::uint8_t fill = 0;
    std::uint32_t run;
    if (s.symbol == kRepeatPrevious) {
      if (!havePrevious) return kMalformed;
      fill = previous;
      run = 3 + value;
    } else {
      run = (s.symbol == kShortZeros ? 3 : 11) + value;
    }
    if (run > n - i) return kMalformed;
    std::fill_n(lengths + i, run, fill);
    i += run;
    previous = fill;
    havePrevious = true;
  }
  return kOk;
}

StatusCode ReadRawTable(EngineObject* source, std::uint32_t position, std::uint32_t available,
                        std::uint8_t* lengths, std::uint32_t n) noexcept {
  if (available < n) return kHuffDecEndOfInput;
  for (std::uint32_t done = 0; done < n;) {
    std::uint32_t got = 0;
    const StatusCode s =
        StreamOf(source).readAt(source, position + done, lengths + done, n - done, &got);
    if (IsFailure(s)) return s;
    if (got == 0) return kHuffDecEndOfInput;
    done += std::min(got, n - done);
  }
  return kOk;
}

constexpr HuffEncoderOps kEncoderOps = {
    Core_NotImplemented,      HuffCoder_CreateEncoder,  HuffCoder_DestroyEncoder,
    HuffCoder_ClearCounts,    HuffCoder_GetArray,       HuffCoder_BuildCodes,
    HuffCoder_GetCodeLengths, HuffCoder_SizeFromCounts, HuffCoder_CountSymbols,
    HuffCoder_WriteTable,     HuffCoder_EncodeRange,    HuffCoder_MeasureRange,
    Core_NotImplemented,
};

constexpr HuffDecoderOps kDecoderOps = {
    Core_NotImplemented,   HuffCoder_CreateDecoder, HuffCoder_DestroyDecoder, HuffCoder_GetArray,
    HuffCoder_RebuildTree, HuffCoder_ReadTable,     HuffCoder_DecodeRange,    Core_NotImplemented,
};

bool IsEncoder(const EngineObject* o) {
  return Valid(o) && o->ops == &kEncoderOps;
}
bool IsDecoder(const EngineObject* o) {
  return Valid(o) && o->ops == &kDecoderOps;
}

template <class T>
StatusCode AllocZeroed(std::uint32_t count, T** out) noexcept {
  const StatusCode s = Engine_AllocArray(count, out);
  if (s == kOk) std::fill_n(*out, count, T{});
  return s;
}

}  // namespace

EngineObject HuffEncoderModule = {nullptr, &kEncoderOps};
EngineObject HuffDecoderModule = {nullptr, &kDecoderOps};

// ---- Encoder ------------------------------------------------------------

StatusCode HuffCoder_CreateEncoder(EngineObject*, std::uint32_t n, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (n == 0) return kBadArgument;
  if (n > kHuffMaxAlphabet) return kOutOfMemory;
  EncoderInstance* instance = nullptr;
  StatusCode s = Engine_AllocArray(1, &instance);
  if (IsFailure(s)) return s;
  new (instance) EncoderInstance{};
  instance->header = {&instance->body, &kEncoderOps};
  HuffEncoderBody& b = instance->body;
  b.head.n = n;
  if (IsFailure(s = AllocZeroed(n, &b.counts)) || IsFailure(s = AllocZeroed(n, &b.codes)) ||
      IsFailure(s = AllocZeroed(n, &b.lengths))) {
    (void)HuffCoder_DestroyEncoder(&instance->header);  // frees what was made; the failure is s
    return s;
  }
  b.head.firstArray = b.counts;
  *out = &instance->header;
  return kOk;
}

StatusCode HuffCoder_DestroyEncoder(EngineObject* encoder) noexcept {
  if (!IsEncoder(encoder)) return kBadArgument;
  HuffEncoderBody& b = Encoder(encoder);
  Engine_Free(b.counts);
  Engine_Free(b.codes);
  Engine_Free(b.lengths);
  Engine_Free(encoder);  // the header starts the instance's allocation
  return kOk;
}

StatusCode HuffCoder_ClearCounts(EngineObject* encoder) noexcept {
  if (!IsEncoder(encoder)) return kBadArgument;
  HuffEncoderBody& b = Encoder(encoder);
  std::fill_n(b.counts, b.head.n, 0u);
  return kOk;
}

StatusCode HuffCoder_GetArray(EngineObject* coder, void** array) noexcept {
  if (!IsEncoder(coder) && !IsDecoder(coder)) return kBadArgument;
  if (array == nullptr) return kNullOutPointer;
  *array = static_cast<HuffCoderHead*>(coder->state)->firstArray;
  return kOk;
}

StatusCode HuffCoder_BuildCodes(EngineObject* encoder, std::uint32_t maxLength) noexcept {
  if (!IsEncoder(encoder) || maxLength == 0) return kBadArgument;
  HuffEncoderBody& b = Encoder(encoder);
  maxLength = std::min(maxLength, kHuffMaxCodeBits);
  // Built aside so that a refused limit keeps the previous codes.
  std::uint8_t* lengthsRaw = nullptr;
  StatusCode s = Engine_AllocArray(b.head.n, &lengthsRaw);
  if (IsFailure(s)) return s;
  EngineBuffer<std::uint8_t> owner(lengthsRaw);
  if (IsFailure(s = BuildCodeLengths(b.counts, b.head.n, maxLength, lengthsRaw))) return s;
  std::copy_n(lengthsRaw, b.head.n, b.lengths);
  CanonicalCodes(b.lengths, b.head.n, b.codes);
  b.maxLength = maxLength;
  return kOk;
}

StatusCode HuffCoder_GetCodeLengths(EngineObject* encoder, const std::uint8_t** lengths) noexcept {
  if (!IsEncoder(encoder)) return kBadArgument;
  if (lengths == nullptr) return kNullOutPointer;
  *lengths = Encoder(encoder).lengths;
  return kOk;
}

StatusCode HuffCoder_SizeFromCounts(EngineObject* encoder, HuffExtraBitsFn extra,
                                    std::uint32_t* bytes) noexcept {
  if (!IsEncoder(encoder)) return kBadArgument;
  if (bytes == nullptr) return kNullOutPointer;
  const HuffEncoderBody& b = Encoder(encoder);
  std::uint64_t bits = 0;
  for (std::uint32_t s = 0; s < b.head.n; ++s) {
    if (b.counts[s] == 0) continue;
    const std::uint32_t k = extra != nullptr ? extra(s) : 0;
    if (k > 32) return kHuffEncBadRecord;
    bits += std::uint64_t{b.counts[s]} * (b.lengths[s] + k);
  }
  const std::uint64_t size = (bits + 7) / 8;
  if (size > 0xFFFFFFFFu) return kIndexOutOfRange;
  *bytes = static_cast<std::uint32_t>(size);
  return kOk;
}

StatusCode HuffCoder_CountSymbols(EngineObject* encoder, std::uint32_t flags, EngineObject* source,
                                  std::uint32_t position, std::uint32_t length, std::uint32_t width,
                                  HuffExtraBitsFn extra) noexcept {
  if (!IsEncoder(encoder)) return kBadArgument;
  if (!ValidWidth(width)) return kHuffEncBadWidth;
  if (source == nullptr) return kBadArgument;
  HuffEncoderBody& b = Encoder(encoder);
  if ((flags & kHuffCountClear) != 0) std::fill_n(b.counts, b.head.n, 0u);
  RangeReader in(source, position, length);
  for (;;) {
    SymbolRecord r;
    bool have = false;
    const StatusCode s = ReadRecord(in, b.head.n, width, extra, &r, &have);
    if (IsFailure(s)) return s;
    if (!have) return kOk;
    if (b.counts[r.symbol] != 0xFFFFFFFFu) ++b.counts[r.symbol];
  }
}

StatusCode HuffCoder_WriteTable(EngineObject* encoder, std::uint32_t form, EngineObject* sink,
                                std::uint32_t position, std::uint32_t* written) noexcept {
  if (!IsEncoder(encoder)) return kBadArgument;
  if (form != kHuffFormRaw && form % 2 == 0) return kFailed;
  const HuffEncoderBody& b = Encoder(encoder);
  BitWriter out(sink, position);
  StatusCode s = kOk;
  if (form == kHuffFormRaw) {
    for (std::uint32_t i = 0; i < b.head.n && s == kOk; ++i)
      s = out.Put(b.lengths[i], 8);
  } else {
    s = WriteCodedTable(b.lengths, b.head.n, out);
  }
  if (IsFailure(s) || IsFailure(s = out.Finish())) return s;
  if (written != nullptr) *written = static_cast<std::uint32_t>(out.Bytes());
  return kOk;
}

StatusCode HuffCoder_EncodeRange(EngineObject* encoder, std::uint32_t, EngineObject* source,
                                 std::uint32_t position, std::uint32_t length, std::uint32_t width,
                                 HuffExtraBitsFn extra, EngineObject* sink,
                                 std::uint32_t sinkPosition, std::uint32_t* written) noexcept {
  if (!IsEncoder(encoder)) return kBadArgument;
  BitWriter out(sink, sinkPosition);
  StatusCode s = EncodeRecords(Encoder(encoder), source, position, length, width, extra, out);
  if (IsFailure(s) || IsFailure(s = out.Finish())) return s;
  if (written != nullptr) *written = static_cast<std::uint32_t>(out.Bytes());
  return kOk;
}

StatusCode HuffCoder_MeasureRange(EngineObject* encoder, std::uint32_t, EngineObject* source,
                                  std::uint32_t position, std::uint32_t length, std::uint32_t width,
                                  HuffExtraBitsFn extra, std::uint32_t* bytes) noexcept {
  if (!IsEncoder(encoder)) return kBadArgument;
  if (bytes == nullptr) return kNullOutPointer;
  BitWriter out(nullptr, 0, true);
  const StatusCode s = EncodeRecords(Encoder(encoder), source, position, length, width, extra, out);
  if (IsFailure(s)) return s;
  if (out.Bytes() > 0xFFFFFFFFu) return kIndexOutOfRange;
  *bytes = static_cast<std::uint32_t>(out.Bytes());
  return kOk;
}

// ---- Decoder ------------------------------------------------------------

StatusCode HuffCoder_CreateDecoder(EngineObject*, std::uint32_t n, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (n == 0) return kBadArgument;
  if (n > kHuffMaxAlphabet) return kOutOfMemory;
  DecoderInstance* instance = nullptr;
  StatusCode s = Engine_AllocArray(1, &instance);
  if (IsFailure(s)) return s;
  new (instance) DecoderInstance{};
  instance->header = {&instance->body, &kDecoderOps};
  HuffDecoderBody& b = instance->body;
  b.head.n = n;
  if (IsFailure(s = AllocZeroed(n, &b.lengths)) || IsFailure(s = AllocZeroed(n + 2, &b.zero)) ||
      IsFailure(s = AllocZeroed(n + 2, &b.one))) {
    (void)HuffCoder_DestroyDecoder(&instance->header);  // frees what was made; the failure is s
    return s;
  }
  b.head.firstArray = b.lengths;
  *out = &instance->header;
  return kOk;
}

StatusCode HuffCoder_DestroyDecoder(EngineObject* decoder) noexcept {
  if (!IsDecoder(decoder)) return kBadArgument;
  HuffDecoderBody& b = Decoder(decoder);
  Engine_Free(b.lengths);
  Engine_Free(b.zero);
  Engine_Free(b.one);
  Engine_Free(decoder);
  return kOk;
}

StatusCode HuffCoder_RebuildTree(EngineObject* decoder) noexcept {
  if (!IsDecoder(decoder)) return kBadArgument;
  return BuildTree(Decoder(decoder));
}

StatusCode HuffCoder_ReadTable(EngineObject* decoder, std::uint32_t form, EngineObject* source,
                               std::uint32_t position, std::uint32_t available,
                               std::uint32_t* consumed) noexcept {
  if (!IsDecoder(decoder) || source == nullptr) return kBadArgument;
  if (form != kHuffFormRaw && form % 2 == 0) return kFailed;
  HuffDecoderBody& b = Decoder(decoder);
  std::uint8_t* tableRaw = nullptr;
  StatusCode s = Engine_AllocArray(b.head.n, &tableRaw);
  if (IsFailure(s)) return s;
  EngineBuffer<std::uint8_t> owner(tableRaw);
  std::uint32_t used = b.head.n;
  if (form == kHuffFormRaw) {
    s = ReadRawTable(source, position, available, tableRaw, b.head.n);
  } else {
    BitReader in(source, position, available);
    s = ReadCodedTable(in, tableRaw, b.head.n);
    used = in.Consumed();
  }
  if (IsFailure(s)) return s;
  std::copy_n(tableRaw, b.head.n, b.lengths);
  if (IsFailure(s = BuildTree(b))) return s;
  if (consumed != nullptr) *consumed = used;
  return kOk;
}

StatusCode HuffCoder_DecodeRange(EngineObject* decoder, std::uint32_t symbolCount,
                                 EngineObject* source, std::uint32_t position, std::uint32_t length,
                                 std::uint32_t width, HuffExtraBitsFn extra, EngineObject* sink,
                                 std::uint32_t sinkPosition, std::uint32_t* written) noexcept {
  if (!IsDecoder(decoder) || source == nullptr || sink == nullptr || !ValidWidth(width)) {
    return kBadArgument;
  }
  const HuffDecoderBody& b = Decoder(decoder);
  const std::uint64_t widest = (std::uint64_t{1} << (8 * width)) - 1;
  BitReader in(source, position, length);
  BitWriter out(sink, sinkPosition);
  StatusCode s;
  for (std::uint32_t done = 0; symbolCount == 0 || done < symbolCount; ++done) {
    std::uint32_t symbol = 0;
    s = DecodeSymbol(b, in, &symbol);
    if (s == kHuffDecEndOfInput && symbolCount == 0) break;
    if (IsFailure(s)) return s;
    const std::uint32_t k = extra != nullptr ? extra(symbol) : 0;
    if (k > 32) return kHuffDecBadExtra;
    if (symbol > widest) return kBadArgument;
    std::uint32_t value = 0;
    if (k != 0) {
      const std::uint64_t bits = in.Peek();
      if (in.Available() < k) {
        s = in.Shortage();
        if (s == kHuffDecEndOfInput && symbolCount == 0) break;
        return s;
      }
      value = LowBits(static_cast<std::uint32_t>(bits), k);
      in.Skip(k);
    }
    if (IsFailure(s = out.Put(symbol, 8 * width))) return s;
    if (k != 0 && IsFailure(s = out.Put(value, 8 * ExtraBytes(k)))) return s;
  }
  if (IsFailure(s = out.Finish())) return s;
  if (written != nullptr) *written = static_cast<std::uint32_t>(out.Bytes());
  return kOk;
}
