// Test helpers for the DEFLATE decoders: an LSB-first bit writer, canonical
// codes from code lengths, a reader of zlib's raw DEFLATE output, and zlib as
// the encoder of fixtures.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/codecs/deflate_common.h"

namespace deflate_test {

using Bytes = std::vector<std::uint8_t>;

// Writes bits least significant first, as DEFLATE packs them.
class BitWriter {
 public:
  void Put(std::uint32_t value, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i)
      PutBit((value >> i) & 1);
  }
  // A Huffman code: its most significant bit goes first.
  void PutCode(std::uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;)
      PutBit((code >> i) & 1);
  }
  void PutBit(unsigned bit) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<std::uint8_t>(1u << (count_ % 8));
    ++count_;
  }
  void AlignToByte() {
    while (count_ % 8 != 0)
      PutBit(0);
  }
  std::size_t BitCount() const { return count_; }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  std::size_t count_ = 0;
};

// Reads bits least significant first.
class BitReader {
 public:
  explicit BitReader(const Bytes& bytes) : bytes_(bytes) {}
  unsigned Bit() {
    if (pos_ / 8 >= bytes_.size()) throw std::runtime_error("past the end");
    const unsigned bit = (bytes_[pos_ / 8] >> (pos_ % 8)) & 1;
    ++pos_;
    return bit;
  }
  std::uint32_t Get(unsigned bits) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < bits; ++i)
      v |= Bit() << i;
    return v;
  }
  std::size_t Position() const { return pos_; }

 private:
  const Bytes& bytes_;
  std::size_t pos_ = 0;
};

// Canonical code values for the lengths (RFC 1951 3.2.2).
inline std::vector<std::uint32_t> CanonicalCodes(const std::vector<std::uint8_t>& lengths) {
  unsigned count[16] = {};
  for (auto l : lengths)
    ++count[l];
  count[0] = 0;
  std::uint32_t next[16] = {};
  std::uint32_t code = 0;
  for (unsigned bits = 1; bits < 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<std::uint32_t> codes(lengths.size());
  for (std::size_t s = 0; s < lengths.size(); ++s) {
    if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
  }
  return codes;
}

// A symbol decoder for the test's own parsing of zlib output.
class SlowCode {
 public:
  explicit SlowCode(const std::vector<std::uint8_t>& lengths) {
    const auto codes = CanonicalCodes(lengths);
    for (std::size_t s = 0; s < lengths.size(); ++s) {
      if (lengths[s] != 0) map_[{lengths[s], codes[s]}] = static_cast<unsigned>(s);
    }
  }
  unsigned Read(BitReader& in) const {
    std::uint32_t code = 0;
    for (unsigned length = 1; length <= 15; ++length) {
      code = (code << 1) | in.Bit();
      auto it = map_.find({length, code});
      if (it != map_.end()) return it->second;
    }
    throw std::runtime_error("no code");
  }

 private:
  std::map<std::pair<unsigned, std::uint32_t>, unsigned> map_;
};

inline constexpr unsigned kClOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// Where the parts of a dynamic block header lie in a raw DEFLATE stream that
// starts with one.
struct DynamicHeader {
  bool final = false;
  std::size_t tablesStart = 0;  // bit after BFINAL and BTYPE
  std::size_t tablesEnd = 0;    // first bit of the block's data
  std::vector<std::uint8_t> literalLengths, distanceLengths;
};

// Parses the header of the first block; false when it is not dynamic.
inline bool ParseDynamicHeader(const Bytes& stream, DynamicHeader& out) {
  BitReader in(stream);
  out.final = in.Get(1) != 0;
  if (in.Get(2) != 2) return false;
  out.tablesStart = in.Position();
  const unsigned hlit = in.Get(5) + 257, hdist = in.Get(5) + 1, hclen = in.Get(4) + 4;
  std::vector<std::uint8_t> cl(19, 0);
  for (unsigned k = 0; k < hclen; ++k)
    cl[kClOrder[k]] = static_cast<std::uint8_t>(in.Get(3));
  const SlowCode clCode(cl);
  std::vector<std::uint8_t> lengths;
  while (lengths.size() < hlit + hdist) {
    const unsigned sym = clCode.Read(in);
    if (sym < 16) {
      lengths.push_back(static_cast<std::uint8_t>(sym));
    } else if (sym == 16) {
      const std::uint8_t prev = lengths.back();
      for (unsigned n = 3 + in.Get(2); n > 0; --n)
        lengths.push_back(prev);
    } else {
      for (unsigned n = sym == 17 ? 3 + in.Get(3) : 11 + in.Get(7); n > 0; --n)
        lengths.push_back(0);
    }
  }
  out.literalLengths.assign(lengths.begin(), lengths.begin() + hlit);
  out.distanceLengths.assign(lengths.begin() + hlit, lengths.end());
  out.tablesEnd = in.Position();
  return true;
}

// Copies bits [from, to) of `stream` into a writer.
inline void CopyBits(const Bytes& stream, std::size_t from, std::size_t to, BitWriter& w) {
  for (std::size_t i = from; i < to; ++i)
    w.PutBit((stream[i / 8] >> (i % 8)) & 1);
}

// zlib's raw DEFLATE (no header) of `data`.
inline Bytes ZlibDeflate(const Bytes& data, int level, int strategy, int windowBits = -15,
                         int memLevel = 8) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, windowBits, memLevel, strategy) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytes::value_type*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = deflate(&z, Z_FINISH);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  return out;
}

// Seeded test data: random bytes, text-like words, or long runs.
inline Bytes MakeData(std::size_t size, int kind, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  static const char* const kWords[] = {"the ",    "reader ",  "of ",     "documents ", "and ",
                                       "page ",   "layout ",  "engine ", "text, ",     "view. ",
                                       "stream ", "window\n", "a ",      "zlib ",      "block "};
  while (out.size() < size) {
    switch (kind) {
      case 0:
        out.push_back(static_cast<std::uint8_t>(rng()));
        break;
      case 1: {
        const char* w = kWords[rng() % 15];
        while (*w && out.size() < size)
          out.push_back(static_cast<std::uint8_t>(*w++));
        break;
      }
      default: {
        const std::uint8_t b = static_cast<std::uint8_t>(rng() % 4);
        for (std::size_t n = rng() % 600; n > 0 && out.size() < size; --n)
          out.push_back(b);
        out.push_back(static_cast<std::uint8_t>(rng()));
        break;
      }
    }
  }
  out.resize(size);
  return out;
}

// Turns the decoders' fast loops off for its lifetime, so a test can hold
// the fast loops against the careful ones.
struct CarefulLoopsOnly {
  CarefulLoopsOnly() { DeflateFast_SetEnabled(false); }
  ~CarefulLoopsOnly() { DeflateFast_SetEnabled(true); }
  CarefulLoopsOnly(const CarefulLoopsOnly&) = delete;
  CarefulLoopsOnly& operator=(const CarefulLoopsOnly&) = delete;
};

// Real text for the decoders' tests: the licences Debian ships (and the Vim
// help when present), cut to `size`; generated words when none are found.
inline Bytes RealText(std::size_t size) {
  Bytes text;
  for (const char* folder : {"/usr/share/common-licenses", "/usr/share/vim/vim90/doc"}) {
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
      if (e.is_regular_file(ec)) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      text.insert(text.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (text.size() >= size) break;
    }
    if (text.size() >= size) break;
  }
  if (text.empty()) return MakeData(size, 1, 7);
  text.resize(std::min(size, text.size()));
  return text;
}

}  // namespace deflate_test
