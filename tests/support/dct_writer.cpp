#include "tests/support/dct_writer.h"

#include <algorithm>
#include <queue>

namespace dct_writer {
namespace {

constexpr int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
constexpr int kLengthOrder[35] = {32, 33, 34, 0,  8,  7,  9,  6,  10, 5,  11, 4,
                                  12, 3,  13, 2,  14, 1,  15, 16, 17, 18, 19, 20,
                                  21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

struct Symbol {
  int symbol;
  std::uint32_t extra;
  int extraBits;
};

std::vector<Symbol> Symbols(const Block& b) {
  std::vector<Symbol> out;
  int last = 63;
  while (last >= 0 && b[kZigzag[last]] == 0)
    --last;
  for (int k = 0; k <= last;) {
    int run = 0;
    while (k + run <= last && b[kZigzag[k + run]] == 0)
      ++run;
    if (run >= 3) {
      const int r = std::min(run, 62);
      if (r <= 6) {
        out.push_back({260, static_cast<std::uint32_t>(r - 3), 2});
      } else {
        out.push_back({261 + (r - 7) / 8, static_cast<std::uint32_t>((r - 7) % 8), 3});
      }
      k += r;
      continue;
    }
    const int v = b[kZigzag[k]];
    if (v >= -128 && v <= 127) {
      out.push_back({v + 128, 0, 0});
    } else {
      int n = 9;
      while (v < -(1 << (n - 1)) || v >= (1 << (n - 1)))
        ++n;
      out.push_back({256 + (n - 9), static_cast<std::uint32_t>(v) & ((1u << n) - 1), n});
    }
    ++k;
  }
  if (last < 63) out.push_back({268, 0, 0});
  return out;
}

// Code lengths of at most `limit` bits for the frequencies (zero: no code).
template <std::size_t N>
std::array<std::uint8_t, N> Lengths(std::array<std::uint32_t, N> freq, int limit) {
  for (;;) {
    std::array<std::uint8_t, N> len{};
    using Node = std::pair<std::uint64_t, int>;
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> q;
    std::vector<int> parent;
    for (std::size_t s = 0; s < N; ++s) {
      if (freq[s] == 0) continue;
      q.push({freq[s], static_cast<int>(parent.size())});
      parent.push_back(-1);
    }
    std::vector<std::size_t> leaf;
    for (std::size_t s = 0; s < N; ++s)
      if (freq[s] != 0) leaf.push_back(s);
    if (leaf.size() == 1) {
      len[leaf[0]] = 1;
      return len;
    }
    while (q.size() > 1) {
      const Node a = q.top();
      q.pop();
      const Node b = q.top();
      q.pop();
      const int id = static_cast<int>(parent.size());
      parent.push_back(-1);
      parent[a.second] = id;
      parent[b.second] = id;
      q.push({a.first + b.first, id});
    }
    int longest = 0;
    for (std::size_t i = 0; i < leaf.size(); ++i) {
      int d = 0;
      for (int n = static_cast<int>(i); parent[n] != -1; n = parent[n])
        ++d;
      len[leaf[i]] = static_cast<std::uint8_t>(d);
      longest = std::max(longest, d);
    }
    if (longest <= limit) return len;
    for (auto& f : freq)
      if (f != 0) f = (f + 1) / 2;
  }
}

template <std::size_t N>
std::array<std::uint32_t, N> Canonical(const std::array<std::uint8_t, N>& len) {
  std::array<std::uint32_t, N> codes{};
  std::uint32_t code = 0;
  for (int l = 1; l <= 31; ++l) {
    for (std::size_t s = 0; s < N; ++s)
      if (len[s] == l) codes[s] = code++;
    code <<= 1;
  }
  return codes;
}

class Bits {
 public:
  void Put(std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
      PutBit((v >> i) & 1);
  }
  void PutCode(std::uint32_t code, int n) {
    for (int i = n - 1; i >= 0; --i)
      PutBit((code >> i) & 1);
  }
  std::string Bytes() const {
    std::string out = bytes_;
    if (count_ != 0) out.push_back(static_cast<char>(current_));
    return out;
  }

 private:
  void PutBit(std::uint32_t b) {
    current_ |= b << count_;
    if (++count_ == 8) {
      bytes_.push_back(static_cast<char>(current_));
      current_ = 0;
      count_ = 0;
    }
  }
  std::string bytes_;
  std::uint32_t current_ = 0;
  int count_ = 0;
};

}  // namespace

void Coder::Count(const std::vector<Block>& blocks) {
  for (const Block& b : blocks)
    for (const Symbol& s : Symbols(b))
      ++freq_[s.symbol];
  built_ = false;
}

void Coder::Build() {
  if (built_) return;
  lengths_ = Lengths(freq_, 15);
  codes_ = Canonical(lengths_);
  built_ = true;
}

std::string Coder::Table() {
  Build();
  // The lengths of symbols 0-268 in runs.
  std::vector<Symbol> runs;
  for (int i = 0; i < 269;) {
    int j = i;
    while (j < 269 && lengths_[j] == lengths_[i])
      ++j;
    int n = j - i;
    if (lengths_[i] == 0) {
      while (n >= 11) {
        const int r = std::min(n, 138);
        runs.push_back({34, static_cast<std::uint32_t>(r - 11), 7});
        n -= r;
      }
      if (n >= 3) {
        runs.push_back({33, static_cast<std::uint32_t>(n - 3), 3});
        n = 0;
      }
      for (; n > 0; --n)
        runs.push_back({0, 0, 0});
    } else {
      runs.push_back({lengths_[i], 0, 0});
      --n;
      while (n >= 3) {
        const int r = std::min(n, 6);
        runs.push_back({32, static_cast<std::uint32_t>(r - 3), 2});
        n -= r;
      }
      for (; n > 0; --n)
        runs.push_back({lengths_[i], 0, 0});
    }
    i = j;
  }
  std::array<std::uint32_t, 35> freq{};
  for (const Symbol& r : runs)
    ++freq[r.symbol];
  const auto len = Lengths(freq, 7);
  const auto codes = Canonical(len);
  int n = 35;
  while (n > 4 && len[kLengthOrder[n - 1]] == 0)
    --n;
  Bits bits;
  bits.Put(static_cast<std::uint32_t>(n - 4), 5);
  for (int i = 0; i < n; ++i)
    bits.Put(len[kLengthOrder[i]], 3);
  for (const Symbol& r : runs) {
    bits.PutCode(codes[r.symbol], len[r.symbol]);
    bits.Put(r.extra, r.extraBits);
  }
  return bits.Bytes();
}

std::string Coder::Code(const std::vector<Block>& blocks) {
  Build();
  Bits bits;
  for (const Block& b : blocks) {
    for (const Symbol& s : Symbols(b)) {
      bits.PutCode(codes_[s.symbol], lengths_[s.symbol]);
      bits.Put(s.extra, s.extraBits);
    }
  }
  return bits.Bytes();
}

}  // namespace dct_writer
