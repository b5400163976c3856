#include "engine/utilities/md5.h"

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "engine/runtime/swap.h"

namespace {

static_assert(sizeof(Md5Context) == 88);

constexpr std::array<std::uint32_t, 64> kSine = {
    0xD76AA478u, 0xE8C7B756u, 0x242070DBu, 0xC1BDCEEEu, 0xF57C0FAFu, 0x4787C62Au, 0xA8304613u,
    0xFD469501u, 0x698098D8u, 0x8B44F7AFu, 0xFFFF5BB1u, 0x895CD7BEu, 0x6B901122u, 0xFD987193u,
    0xA679438Eu, 0x49B40821u, 0xF61E2562u, 0xC040B340u, 0x265E5A51u, 0xE9B6C7AAu, 0xD62F105Du,
    0x02441453u, 0xD8A1E681u, 0xE7D3FBC8u, 0x21E1CDE6u, 0xC33707D6u, 0xF4D50D87u, 0x455A14EDu,
    0xA9E3E905u, 0xFCEFA3F8u, 0x676F02D9u, 0x8D2A4C8Au, 0xFFFA3942u, 0x8771F681u, 0x6D9D6122u,
    0xFDE5380Cu, 0xA4BEEA44u, 0x4BDECFA9u, 0xF6BB4B60u, 0xBEBFBC70u, 0x289B7EC6u, 0xEAA127FAu,
    0xD4EF3085u, 0x04881D05u, 0xD9D4D039u, 0xE6DB99E5u, 0x1FA27CF8u, 0xC4AC5665u, 0xF4292244u,
    0x432AFF97u, 0xAB9423A7u, 0xFC93A039u, 0x655B59C3u, 0x8F0CCC92u, 0xFFEFF47Du, 0x85845DD1u,
    0x6FA87E4Fu, 0xFE2CE6E0u, 0xA3014314u, 0x4E0811A1u, 0xF7537E82u, 0xBD3AF235u, 0x2AD7D2BBu,
    0xEB86D391u,
};

constexpr std::array<int, 16> kShift = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

// The message word each step adds.
constexpr int WordIndex(int i) {
  switch (i / 16) {
    case 0:
      return i;
    case 1:
      return (5 * i + 1) % 16;
    case 2:
      return (3 * i + 5) % 16;
    default:
      return (7 * i) % 16;
  }
}

// One of the 64 steps. The four working words rotate roles each step
// (ABCD, DABC, CDAB, BCDA), so step i updates v[(4 - i % 4) % 4]; with i a
// constant the compiler keeps all four in registers.
template <int i>
inline void Step(std::array<std::uint32_t, 4>& v, const std::uint32_t* x) {
  constexpr int a = (4 - i % 4) % 4, b = (a + 1) % 4, c = (a + 2) % 4, d = (a + 3) % 4;
  std::uint32_t f;
  if constexpr (i < 16) {
    f = v[d] ^ (v[b] & (v[c] ^ v[d]));
  } else if constexpr (i < 32) {
    f = v[c] ^ (v[d] & (v[b] ^ v[c]));
  } else if constexpr (i < 48) {
    f = v[b] ^ v[c] ^ v[d];
  } else {
    f = v[c] ^ (v[b] | ~v[d]);
  }
  v[a] = v[b] + std::rotl(v[a] + f + x[WordIndex(i)] + kSine[i], kShift[(i / 16) * 4 + i % 4]);
}

template <int... i>
inline void AllSteps(std::array<std::uint32_t, 4>& v, const std::uint32_t* x,
                     std::integer_sequence<int, i...>) {
  (Step<i>(v, x), ...);
}

void Transform(std::uint32_t* state, const std::uint8_t* block) {
  std::uint32_t x[16];
  for (int k = 0; k < 16; ++k)
    x[k] = LoadLE32(block + 4 * k);
  std::array<std::uint32_t, 4> v = {state[0], state[1], state[2], state[3]};
  AllSteps(v, x, std::make_integer_sequence<int, 64>{});
  for (int k = 0; k < 4; ++k)
    state[k] += v[k];
}

void Absorb(Md5Context& c, const std::uint8_t* p, std::uint32_t n) {
  std::uint32_t used = (c.bitCount[0] >> 3) & 63u;
  const std::uint64_t bits =
      ((std::uint64_t{c.bitCount[1]} << 32) | c.bitCount[0]) + (std::uint64_t{n} << 3);
  c.bitCount[0] = static_cast<std::uint32_t>(bits);
  c.bitCount[1] = static_cast<std::uint32_t>(bits >> 32);
  if (used != 0) {
    const std::uint32_t take = n < 64 - used ? n : 64 - used;
    std::memcpy(c.buffer + used, p, take);
    p += take;
    n -= take;
    used += take;
    if (used < 64) return;
    Transform(c.state, c.buffer);
  }
  for (; n >= 64; p += 64, n -= 64)
    Transform(c.state, p);
  if (n > 0) std::memcpy(c.buffer, p, n);
}

constexpr Md5Ops kMd5Ops = {
    Core_NotImplemented, Md5_Init, Md5_Update, Md5_Final, Md5_HexDigest, Core_NotImplemented,
};

}  // namespace

EngineObject Md5Module = {nullptr, &kMd5Ops};

StatusCode Md5_Init(EngineObject*, Md5Context* context) noexcept {
  if (context == nullptr) return kNullOutPointer;
  *context = Md5Context{{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u}, {0, 0}, {}};
  return kOk;
}

StatusCode Md5_Update(EngineObject*, Md5Context* context, const void* data,
                      std::uint32_t count) noexcept {
  if (context == nullptr || (data == nullptr && count != 0)) return kBadArgument;
  if (count != 0) Absorb(*context, static_cast<const std::uint8_t*>(data), count);
  return kOk;
}

StatusCode Md5_Final(EngineObject*, Md5Context* context, std::uint8_t* digest) noexcept {
  if (context == nullptr) return kBadArgument;
  if (digest == nullptr) return kNullOutPointer;
  Md5Context& c = *context;
  std::uint8_t length[8];
  StoreLE32(length, c.bitCount[0]);
  StoreLE32(length + 4, c.bitCount[1]);
  // 0x80, then zeros up to 56 modulo 64, then the length taken before padding.
  static constexpr std::uint8_t kPadding[64] = {0x80};
  const std::uint32_t used = (c.bitCount[0] >> 3) & 63u;
  Absorb(c, kPadding, used < 56 ? 56 - used : 120 - used);
  Absorb(c, length, 8);
  for (int k = 0; k < 4; ++k)
    StoreLE32(digest + 4 * k, c.state[k]);
  // Volatile stores so the wipe is not dropped as a dead store.
  auto* bytes = reinterpret_cast<volatile std::uint8_t*>(&c);
  for (std::size_t k = 0; k < sizeof c; ++k)
    bytes[k] = 0;
  return kOk;
}

StatusCode Md5_HexDigest(EngineObject*, const std::uint8_t* digest, char* out) noexcept {
  if (digest == nullptr) return kBadArgument;
  if (out == nullptr) return kNullOutPointer;
  static constexpr char kHex[] = "0123456789abcdef";
  for (int k = 0; k < 16; ++k) {
    out[2 * k] = kHex[digest[k] >> 4];
    out[2 * k + 1] = kHex[digest[k] & 15];
  }
  return kOk;
}
