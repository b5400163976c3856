// The DCT image decoder against libjpeg(-turbo) on the same coefficients, two
// images written by libjpeg at quality 80 (4:2:0): a 1024x1024 synthetic
// colour image, and a real photograph, the 2048x1024 satellite picture of
// the Earth that the xplanet-images package ships (decoded, then written
// again with the standard tables the decoder knows). Their quantised
// coefficients are re-coded into the decoder's tiles. Each iteration times
// the engine decoding every tile (entropy decoding, dequantisation, the fast
// integer IDCT, chroma doubled into the tile) and libjpeg decoding the JPEG
// with its fast integer IDCT into raw planes held ready (no colour conversion
// or upsampling); ratio = engine time / libjpeg time. The outputs are
// compared once, before timing (within 1 per sample).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/codecs/dct.h"
#include "tests/support/dct_writer.h"
#include "tests/support/jpeg_peer.h"

namespace {

constexpr int kQuality = 80;
constexpr const char* kPhotograph = "/usr/share/xplanet/images/earth.jpg";

struct Input {
  int width = 0;
  int height = 0;
  std::string error;
  std::vector<unsigned char> jpeg;
  std::string lumaTable;
  std::string chromaTable;
  std::vector<std::string> luma;    // per tile
  std::vector<std::string> chroma;  // per tile
};

// Re-codes the coefficients of in.jpeg into per-tile streams.
void Recode(Input& in) {
  const auto comps = jpeg_peer::ReadJpeg(in.jpeg);
  dct_writer::Coder luma;
  dct_writer::Coder chroma;
  luma.Count(comps[0].blocks);
  chroma.Count(comps[1].blocks);
  chroma.Count(comps[2].blocks);
  in.lumaTable = luma.Table();
  in.chromaTable = chroma.Table();
  for (int ty = 0; ty < in.height / 32; ++ty) {
    for (int tx = 0; tx < in.width / 32; ++tx) {
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
}

const Input& Synthetic() {
  static const Input input = [] {
    Input in;
    in.width = in.height = 1024;
    in.jpeg = jpeg_peer::WriteJpeg(in.width, in.height, true, kQuality, [](int x, int y, int k) {
      const double v = 128 + 60 * std::sin(x * 0.031 + k) * std::cos(y * 0.017) +
                       30 * std::sin((x + y) * 0.11 + k * 2) + ((x * 7919 + y * 104729) % 23);
      return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
    });
    Recode(in);
    return in;
  }();
  return input;
}

const Input& Photograph() {
  static const Input input = [] {
    Input in;
    std::FILE* f = std::fopen(kPhotograph, "rb");
    if (f == nullptr) {
      in.error = "no photograph: install xplanet-images (scripts/setup.sh)";
      return in;
    }
    std::vector<unsigned char> original;
    unsigned char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
      original.insert(original.end(), chunk, chunk + n);
    std::fclose(f);
    // Its pixels, in RGB.
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, original.data(), static_cast<unsigned long>(original.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const int width = static_cast<int>(d.output_width);
    const int height = static_cast<int>(d.output_height);
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    while (d.output_scanline < d.output_height) {
      JSAMPROW row = rgb.data() + static_cast<std::size_t>(d.output_scanline) * width * 3;
      jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    in.width = width / 32 * 32;
    in.height = height / 32 * 32;
    in.jpeg = jpeg_peer::WriteJpeg(in.width, in.height, true, kQuality, [&](int x, int y, int k) {
      return rgb[(static_cast<std::size_t>(y) * width + x) * 3 + k];
    });
    Recode(in);
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
    const int tx = static_cast<int>(t) % (in.width / 32);
    const int ty = static_cast<int>(t) / (in.width / 32);
    for (int r = 0; r < 32; ++r)
      for (int c = 0; c < 32; ++c)
        (*y)[static_cast<std::size_t>(32 * ty + r) * in.width + 32 * tx + c] = tile.y[r * 32 + c];
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c)
        (*cb)[static_cast<std::size_t>(16 * ty + r) * (in.width / 2) + 16 * tx + c] =
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

// libjpeg's fast integer decode into raw planes held ready, written in place
// (no copies): what the engine's tiles hold.
class PeerPlanes {
 public:
  explicit PeerPlanes(const Input& in) : jpeg_(in.jpeg) {
    for (int ci = 0; ci < 3; ++ci) {
      const int w = ci == 0 ? in.width : in.width / 2;
      const int h = ci == 0 ? in.height : in.height / 2;
      planes_[ci].resize(static_cast<std::size_t>(w) * h);
      for (int r = 0; r < h; ++r)
        rows_[ci].push_back(planes_[ci].data() + static_cast<std::size_t>(r) * w);
    }
  }
  void Decode() {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg_.data(), static_cast<unsigned long>(jpeg_.size()));
    jpeg_read_header(&d, TRUE);
    d.raw_data_out = TRUE;
    d.dct_method = JDCT_IFAST;
    jpeg_start_decompress(&d);
    for (int row = 0; d.output_scanline < d.output_height; row += 16) {
      JSAMPARRAY planes[3] = {rows_[0].data() + row, rows_[1].data() + row / 2,
                              rows_[2].data() + row / 2};
      jpeg_read_raw_data(&d, planes, 16);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
  }
  std::uint8_t Sample(int ci, int width, int r, int c) const {
    return planes_[ci][static_cast<std::size_t>(r) * width + c];
  }

 private:
  const std::vector<unsigned char>& jpeg_;
  std::vector<std::uint8_t> planes_[3];
  std::vector<JSAMPROW> rows_[3];
};

void VsLibjpeg(benchmark::State& state, const Input& in) {
  if (!in.error.empty()) {
    state.SkipWithError(in.error.c_str());
    return;
  }
  static DctImageDecoder d;
  Prepare(in, d);
  PeerPlanes peer(in);
  {
    // Same work, same answers: the planes agree within 1.
    std::vector<std::uint8_t> y(static_cast<std::size_t>(in.width) * in.height);
    std::vector<std::uint8_t> cb(y.size() / 4);
    DecodeAll(in, d, &y, &cb);
    peer.Decode();
    for (int r = 0; r < in.height; ++r)
      for (int c = 0; c < in.width; ++c)
        if (std::abs(y[static_cast<std::size_t>(r) * in.width + c] -
                     peer.Sample(0, in.width, r, c)) > 1)
          std::abort();
    for (int r = 0; r < in.height / 2; ++r)
      for (int c = 0; c < in.width / 2; ++c)
        if (std::abs(cb[static_cast<std::size_t>(r) * (in.width / 2) + c] -
                     peer.Sample(1, in.width / 2, r, c)) > 1)
          std::abort();
  }
  double engineSeconds = 0;
  double peerSeconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    DecodeAll(in, d, nullptr, nullptr);
    const auto t1 = std::chrono::steady_clock::now();
    peer.Decode();
    const auto t2 = std::chrono::steady_clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    peerSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["engine_ms"] = 1000 * engineSeconds / n;
  state.counters["libjpeg_ms"] = 1000 * peerSeconds / n;
  state.counters["ratio"] = engineSeconds / peerSeconds;
}

void BM_Dct1024ColourVsLibjpeg(benchmark::State& state) {
  VsLibjpeg(state, Synthetic());
}
BENCHMARK(BM_Dct1024ColourVsLibjpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_DctPhotographVsLibjpeg(benchmark::State& state) {
  VsLibjpeg(state, Photograph());
}
BENCHMARK(BM_DctPhotographVsLibjpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
