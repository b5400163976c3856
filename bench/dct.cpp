// The DCT image decoder against libjpeg on the same coefficients: a
// 1024x1024 colour photograph-like image written by libjpeg at quality 80
// (4:2:0); its quantised coefficients are re-coded into the decoder's tiles.
// Each iteration times the engine decoding every tile (entropy decoding,
// dequantisation, the fast integer IDCT, chroma doubled into the tile) and
// libjpeg decoding the JPEG with its fast integer IDCT into raw planes (no
// colour conversion or upsampling); ratio = engine time / libjpeg time. The
// outputs are compared once, before timing (within 1 per sample).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/codecs/dct.h"
#include "tests/support/dct_writer.h"
#include "tests/support/jpeg_peer.h"

namespace {

constexpr int kSide = 1024;
constexpr int kQuality = 80;

struct Input {
  std::vector<unsigned char> jpeg;
  std::string lumaTable;
  std::string chromaTable;
  std::vector<std::string> luma;    // per tile
  std::vector<std::string> chroma;  // per tile
};

const Input& TheInput() {
  static const Input input = [] {
    Input in;
    in.jpeg = jpeg_peer::WriteJpeg(kSide, kSide, true, kQuality, [](int x, int y, int k) {
      const double v = 128 + 60 * std::sin(x * 0.031 + k) * std::cos(y * 0.017) +
                       30 * std::sin((x + y) * 0.11 + k * 2) + ((x * 7919 + y * 104729) % 23);
      return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
    });
    const auto comps = jpeg_peer::ReadJpeg(in.jpeg);
    dct_writer::Coder luma;
    dct_writer::Coder chroma;
    luma.Count(comps[0].blocks);
    chroma.Count(comps[1].blocks);
    chroma.Count(comps[2].blocks);
    in.lumaTable = luma.Table();
    in.chromaTable = chroma.Table();
    for (int ty = 0; ty < kSide / 32; ++ty) {
      for (int tx = 0; tx < kSide / 32; ++tx) {
        std::vector<dct_writer::Block> y, c;
        for (int r = 0; r < 4; ++r)
          for (int k = 0; k < 4; ++k)
            y.push_back(comps[0].At(4 * ty + r, 4 * tx + k));
        for (int p = 1; p <= 2; ++p)
          for (int r = 0; r < 2; ++r)
            for (int k = 0; k < 2; ++k)
              c.push_back(comps[p].At(2 * ty + r, 2 * tx + k));
        in.luma.push_back(luma.Code(y));
        in.chroma.push_back(chroma.Code(c));
      }
    }
    return in;
  }();
  return input;
}

const std::uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

// Decodes every tile; with planes, keeps the luminance and the Cb plane at
// half resolution for the comparison.
void DecodeAll(const Input& in, DctImageDecoder& d, std::vector<std::uint8_t>* y,
               std::vector<std::uint8_t>* cb) {
  static DctTile tile;
  for (std::size_t t = 0; t < in.luma.size(); ++t) {
    if (DctImage_Decode(&d, Bytes(in.luma[t]), static_cast<std::uint32_t>(in.luma[t].size()), 4, 4,
                        false, &tile) != kOk ||
        DctImage_Decode(&d, Bytes(in.chroma[t]), static_cast<std::uint32_t>(in.chroma[t].size()), 2,
                        2, true, &tile) != kOk) {
      std::abort();
    }
    if (y == nullptr) continue;
    const int tx = static_cast<int>(t) % (kSide / 32);
    const int ty = static_cast<int>(t) / (kSide / 32);
    for (int r = 0; r < 32; ++r)
      for (int c = 0; c < 32; ++c)
        (*y)[static_cast<std::size_t>(32 * ty + r) * kSide + 32 * tx + c] = tile.y[r * 32 + c];
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c)
        (*cb)[static_cast<std::size_t>(16 * ty + r) * (kSide / 2) + 16 * tx + c] =
            tile.cb[2 * r * 32 + 2 * c];
  }
}

void Prepare(const Input& in, DctImageDecoder& d) {
  DctImage_Reset(&d);
  if (DctImage_SetHuffmanTables(&d, 0, Bytes(in.lumaTable),
                                static_cast<std::uint32_t>(in.lumaTable.size()), nullptr) != kOk ||
      DctImage_SetHuffmanTables(&d, 1, Bytes(in.chromaTable),
                                static_cast<std::uint32_t>(in.chromaTable.size()),
                                nullptr) != kOk ||
      DctImage_SetQuality(&d, 0, kQuality) != kOk || DctImage_SetQuality(&d, 1, kQuality) != kOk) {
    std::abort();
  }
}

void BM_Dct1024ColourVsLibjpeg(benchmark::State& state) {
  const Input& in = TheInput();
  static DctImageDecoder d;
  Prepare(in, d);
  {
    // Same work, same answers: the planes agree within 1.
    std::vector<std::uint8_t> y(kSide * kSide), cb(kSide * kSide / 4);
    DecodeAll(in, d, &y, &cb);
    const auto peer = jpeg_peer::ReadJpeg(in.jpeg);
    for (int r = 0; r < kSide; ++r)
      for (int c = 0; c < kSide; ++c)
        if (std::abs(y[static_cast<std::size_t>(r) * kSide + c] - peer[0].Sample(r, c)) > 1)
          std::abort();
    for (int r = 0; r < kSide / 2; ++r)
      for (int c = 0; c < kSide / 2; ++c)
        if (std::abs(cb[static_cast<std::size_t>(r) * (kSide / 2) + c] - peer[1].Sample(r, c)) > 1)
          std::abort();
  }
  double engineSeconds = 0;
  double peerSeconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    DecodeAll(in, d, nullptr, nullptr);
    const auto t1 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(jpeg_peer::DecodePlanes(in.jpeg));
    const auto t2 = std::chrono::steady_clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    peerSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["engine_ms"] = 1000 * engineSeconds / n;
  state.counters["libjpeg_ms"] = 1000 * peerSeconds / n;
  state.counters["ratio"] = engineSeconds / peerSeconds;
}
BENCHMARK(BM_Dct1024ColourVsLibjpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
