// Reading the whole text of a 20 MiB native document through GetText
// against zlib and libdeflate inflating the same coded blocks. The document
// is made here from real text (the Vim help and other texts Debian ships,
// bench/real_text.h) or from seeded words: each 4096-byte block is
// compressed by zlib (raw, level 6), and its dynamic code table and block
// bits are re-packed into the native record layout (one block a record); the
// peers inflate the raw streams zlib made. Each iteration reads everything
// with all three; time_ratio = engine time / zlib time and
// libdeflate_ratio = engine time / libdeflate time (above 1: the engine is
// slower). Before timing, the text each of them gives must equal the input.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#if KELPO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "bench/real_text.h"
#include "engine/formats/native_text.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/swap.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::uint32_t kBlock = 4096;
constexpr std::uint32_t kTextSize = 20u << 20;

std::string SeededWords() {
  std::string in;
  in.reserve(kTextSize + 64);
  std::mt19937 rng(103);
  static const char* const kWords[] = {
      "reader ", "the ",    "page ",   "of ",     "layout ", "text ",   "and ",   "view ",
      "a ",      "engine ", "stream ", "font ",   "window ", "line.\n", "block ", "document ",
      "table ",  "link ",   "anchor ", "record ", "in ",     "is ",     "to ",    "bookmark, "};
  while (in.size() < kTextSize) {
    const std::uint32_t r = rng();
    if (r % 7 == 0) {
      in += std::to_string(rng() % 100000) + ' ';
    } else {
      in += kWords[r % 24];
    }
  }
  in.resize(kTextSize);
  return in;
}

// LSB-first bits of a byte string.
struct Bits {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  std::uint32_t Get(unsigned n) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++pos)
      v |= static_cast<std::uint32_t>((data[pos >> 3] >> (pos & 7)) & 1) << i;
    return v;
  }
};

// One symbol of a canonical code given by its lengths (slow; setup only).
int ReadCode(Bits& b, const std::vector<int>& lengths) {
  int code = 0;
  for (int len = 1; len <= 15; ++len) {
    code = (code << 1) | static_cast<int>(b.Get(1));
    // Codes of length `len` in symbol order, as canonical assignment gives.
    int value = 0;
    for (int l = 1; l <= len; ++l) {
      for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] != l) continue;
        if (l == len && value == code) return static_cast<int>(s);
        ++value;
      }
      if (l < len) value <<= 1;
    }
  }
  return -1;
}

// Bits [from, to) packed as big-endian words whose bits are taken least
// significant first.
std::string Words(const std::uint8_t* data, std::size_t from, std::size_t to) {
  std::string bytes((to - from + 7) / 8, '\0');
  for (std::size_t i = from; i < to; ++i) {
    if (((data[i >> 3] >> (i & 7)) & 1) != 0)
      bytes[(i - from) >> 3] |= static_cast<char>(1 << ((i - from) & 7));
  }
  bytes.resize((bytes.size() + 3) / 4 * 4, '\0');
  for (std::size_t k = 0; k < bytes.size(); k += 4) {
    std::swap(bytes[k], bytes[k + 3]);
    std::swap(bytes[k + 1], bytes[k + 2]);
  }
  return bytes;
}

// A text record (one block) from zlib's raw stream of the block, or a
// stored record when zlib did not give one dynamic block.
std::string TextRecord(const std::string& block, const std::vector<std::uint8_t>& raw) {
  static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  Bits b{raw.data(), raw.size()};
  std::string table;
  std::string words;
  std::uint8_t flags = 0;
  if (b.Get(1) == 1 && b.Get(2) == 2) {
    const std::size_t start = b.pos;
    const unsigned hlit = b.Get(5) + 257;
    const unsigned hdist = b.Get(5) + 1;
    const unsigned hclen = b.Get(4) + 4;
    std::vector<int> clen(19, 0);
    for (unsigned k = 0; k < hclen; ++k)
      clen[kOrder[k]] = static_cast<int>(b.Get(3));
    for (const unsigned count : {hlit, hdist}) {
      unsigned got = 0;
      while (got < count) {
        const int s = ReadCode(b, clen);
        got += s < 16 ? 1 : s == 16 ? 3 + b.Get(2) : s == 17 ? 3 + b.Get(3) : 11 + b.Get(7);
      }
    }
    table = Words(raw.data(), start, b.pos);
    words = Words(raw.data(), b.pos, raw.size() * 8);
  } else {
    words = block;
    const std::size_t pad = (4 - block.size() % 4) % 4;
    words.append(pad, '\0');
    flags = static_cast<std::uint8_t>(0x04 | pad);
  }
  // H = 4, P = 1, then w0, w1, w2 and the flag byte: 12 bytes, 3 words.
  std::string r(12, '\0');
  r[0] = 4;
  r[4] = 1;
  const std::uint16_t w0 = 3;
  const auto w1 = static_cast<std::uint16_t>(w0 + table.size() / 4);
  const auto w2 = static_cast<std::uint16_t>(w1 + words.size() / 4);
  StoreBE16(reinterpret_cast<std::uint8_t*>(&r[5]), w0);
  StoreBE16(reinterpret_cast<std::uint8_t*>(&r[7]), w1);
  StoreBE16(reinterpret_cast<std::uint8_t*>(&r[9]), w2);
  r[11] = static_cast<char>(flags);
  return r + table + words;
}

struct Fixture {
  std::string text;
  std::vector<std::vector<std::uint8_t>> raw;  // zlib's stream of each block
  EngineObject* stream = nullptr;
  EngineObject* db = nullptr;
  EngineObject* handler = nullptr;
};

Fixture MakeFixture(bool real) {
  {
    Fixture x;
    if (IsFailure(Core_RegisterAllModules())) return x;
    x.text = real ? bench_real::Text(kTextSize) : SeededWords();
    if (x.text.size() != kTextSize) return x;
    std::vector<std::string> records;
    std::string r0(66, '\0');
    auto* h = reinterpret_cast<std::uint8_t*>(r0.data());
    StoreBE16(h, 66);
    h[2] = 3;
    h[4] = 3;
    std::memcpy(h + 6, "isKelp", 6);
    StoreBE32(h + 20, kTextSize);
    StoreBE16(h + 24, 1);
    h[44] = 3;
    h[48] = 0xF0;
    std::string dir(2 + 8 + 2 + 36 + 36, '\0');
    auto* d = reinterpret_cast<std::uint8_t*>(dir.data());
    StoreBE16(d, 4);
    StoreBE16(d + 10, 18);
    StoreBE16(d + 12, 1);                        // range 0 starts at record 1
    StoreBE16(d + 12 + 36, kTextSize / kBlock);  // one record a block
    records.push_back(r0 + dir);
    for (std::uint32_t at = 0; at < kTextSize; at += kBlock) {
      const std::string block = x.text.substr(at, kBlock);
      std::vector<std::uint8_t> raw(kBlock + 512);
      z_stream z{};
      deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
      z.avail_in = static_cast<uInt>(block.size());
      z.next_out = raw.data();
      z.avail_out = static_cast<uInt>(raw.size());
      (void)deflate(&z, Z_FINISH);
      raw.resize(z.total_out);
      deflateEnd(&z);
      records.push_back(TextRecord(block, raw));
      x.raw.push_back(std::move(raw));
    }
    // The record database around them.
    std::string file(78, '\0');
    std::memcpy(file.data(), "bench", 5);
    std::memcpy(file.data() + 60, "KDocKelX", 8);
    StoreBE16(reinterpret_cast<std::uint8_t*>(&file[76]),
              static_cast<std::uint16_t>(records.size()));
    std::uint32_t at = static_cast<std::uint32_t>(78 + 8 * records.size() + 2);
    for (std::size_t i = 0; i < records.size(); ++i) {
      std::string entry(8, '\0');
      StoreBE32(reinterpret_cast<std::uint8_t*>(entry.data()), at);
      StoreBE32(reinterpret_cast<std::uint8_t*>(entry.data()) + 4,
                static_cast<std::uint32_t>(i + 1));
      file += entry;
      at += static_cast<std::uint32_t>(records[i].size());
    }
    file.append(2, '\0');
    for (const std::string& r : records)
      file += r;
    if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &x.stream) != kOk ||
        StreamOf(x.stream).writeAt(x.stream, 0, file.data(),
                                   static_cast<std::uint32_t>(file.size()), nullptr) != kOk ||
        DbFile_Open(g_DbFileModule, x.stream, kDbOpenRead, &x.db) != kOk ||
        NativeDoc_Create(&NativeDocModule, &x.handler) != kOk ||
        NativeDoc_Command(x.handler, DocCommand::OpenDatabase, x.db, 0) != kOk) {
      x.handler = nullptr;
    }
    return x;
  }
}

const Fixture& TheFixture(bool real) {
  static const Fixture words = MakeFixture(false);
  static const Fixture text = MakeFixture(true);
  return real ? text : words;
}

// The whole text through GetText; the bytes are summed so nothing is
// skipped. 0 read means a failure.
std::uint64_t ReadNative(EngineObject* handler, std::string* copy) {
  std::uint64_t sum = 0;
  std::uint32_t p = 0;
  while (p < kTextSize) {
    const std::uint8_t* at = nullptr;
    std::uint32_t n = kBlock;
    if (NativeDoc_GetText(handler, p, &at, &n) != kOk || n == 0) return 0;
    sum += at[n - 1];
    if (copy != nullptr) copy->append(reinterpret_cast<const char*>(at), n);
    p += n;
  }
  return sum + 1;
}

// The blocks through zlib; with `copy`, the text is appended there.
std::uint64_t ReadZlib(const Fixture& f, std::string* copy) {
  std::uint64_t sum = 0;
  std::uint8_t out[kBlock];
  z_stream z{};
  inflateInit2(&z, -15);
  for (const auto& raw : f.raw) {
    inflateReset(&z);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = out;
    z.avail_out = kBlock;
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) {
      sum = 0;
      break;
    }
    sum += out[kBlock - z.avail_out - 1];
    if (copy != nullptr) copy->append(reinterpret_cast<const char*>(out), kBlock - z.avail_out);
  }
  inflateEnd(&z);
  return sum + 1;
}

#if KELPO_HAVE_LIBDEFLATE
std::uint64_t ReadLibdeflate(const Fixture& f, libdeflate_decompressor* d, std::string* copy) {
  std::uint64_t sum = 0;
  std::uint8_t out[kBlock];
  for (const auto& raw : f.raw) {
    std::size_t n = 0;
    if (libdeflate_deflate_decompress(d, raw.data(), raw.size(), out, kBlock, &n) !=
            LIBDEFLATE_SUCCESS ||
        n == 0) {
      return 0;
    }
    sum += out[n - 1];
    if (copy != nullptr) copy->append(reinterpret_cast<const char*>(out), n);
  }
  return sum + 1;
}
#endif

void BM_VsPeers(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const Fixture& f = TheFixture(state.range(0) != 0);
  std::string copy, zcopy;
  if (f.handler == nullptr || ReadNative(f.handler, &copy) == 0 || copy != f.text ||
      ReadZlib(f, &zcopy) == 0 || zcopy != f.text) {
    state.SkipWithError("the document or zlib does not read back as written");
    return;
  }
#if KELPO_HAVE_LIBDEFLATE
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
  std::string lcopy;
  if (ld == nullptr || ReadLibdeflate(f, ld, &lcopy) == 0 || lcopy != f.text) {
    state.SkipWithError("libdeflate does not read back the text");
    libdeflate_free_decompressor(ld);
    return;
  }
#endif
  double engineSeconds = 0, zlibSeconds = 0, libdeflateSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const std::uint64_t a = ReadNative(f.handler, nullptr);
    const auto t1 = Clock::now();
    const std::uint64_t b = ReadZlib(f, nullptr);
    const auto t2 = Clock::now();
    std::uint64_t c = 0;
#if KELPO_HAVE_LIBDEFLATE
    c = ReadLibdeflate(f, ld, nullptr);
#endif
    const auto t3 = Clock::now();
    benchmark::DoNotOptimize(a + b + c);
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    zlibSeconds += std::chrono::duration<double>(t2 - t1).count();
    libdeflateSeconds += std::chrono::duration<double>(t3 - t2).count();
  }
  const double n = static_cast<double>(state.iterations());
  const double mib = static_cast<double>(kTextSize) / (1 << 20);
  state.counters["engine_MiBps"] = mib * n / engineSeconds;
  state.counters["zlib_MiBps"] = mib * n / zlibSeconds;
  state.counters["time_ratio"] = engineSeconds / zlibSeconds;
#if KELPO_HAVE_LIBDEFLATE
  state.counters["libdeflate_MiBps"] = mib * n / libdeflateSeconds;
  state.counters["libdeflate_ratio"] = engineSeconds / libdeflateSeconds;
  libdeflate_free_decompressor(ld);
#endif
}

// 0: seeded words; 1: real text.
BENCHMARK(BM_VsPeers)
    ->Name("NativeText/ReadAllVsPeers")
    ->ArgName("real")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
