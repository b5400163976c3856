// DCT image records for native documents, made from what libjpeg writes:
// the quantised blocks of a JPEG re-coded into the native record's tiles.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/dct_writer.h"
#include "tests/support/jpeg_peer.h"

namespace dct_fixture {

inline std::string Length12(std::size_t n) {
  if (n < 0xF0) return std::string(1, static_cast<char>(n));
  return {static_cast<char>(0xF0 | (n >> 8)), static_cast<char>(n & 0xFF)};
}

// A DCT image record body (from its image header on) re-coding libjpeg's
// coefficients of a width x height image whose pixels `pixel` gives (x, y,
// component; none: a fixed busy pattern); comps keeps what libjpeg read.
struct DctRecord {
  std::string bytes;
  std::vector<jpeg_peer::Component> comps;
};

inline DctRecord MakeDctRecord(int width, int height, bool colour, int quality,
                               std::function<unsigned char(int, int, int)> pixel = nullptr) {
  DctRecord out;
  if (!pixel) {
    pixel = [](int x, int y, int k) {
      return static_cast<unsigned char>((x * 3 + y * 5 + k * 40 + (x * y) % 31) & 0xFF);
    };
  }
  const auto jpeg = jpeg_peer::WriteJpeg(width, height, colour, quality, pixel);
  out.comps = jpeg_peer::ReadJpeg(jpeg);
  dct_writer::Coder luma, chroma;
  luma.Count(out.comps[0].blocks);
  if (colour) {
    chroma.Count(out.comps[1].blocks);
    chroma.Count(out.comps[2].blocks);
  }
  std::string tables = Length12(luma.Table().size()) + luma.Table();
  if (colour) tables += Length12(chroma.Table().size()) + chroma.Table();
  std::string tiles;
  for (int ty = 0; ty * 32 < height; ++ty) {
    for (int tx = 0; tx * 32 < width; ++tx) {
      const int rows = std::min(4, (height - 32 * ty + 7) / 8);
      const int cols = std::min(4, (width - 32 * tx + 7) / 8);
      std::vector<dct_writer::Block> y, c;
      for (int r = 0; r < rows; ++r)
        for (int k = 0; k < cols; ++k)
          y.push_back(out.comps[0].At(4 * ty + r, 4 * tx + k));
      const std::string ys = luma.Code(y);
      tiles += Length12(ys.size()) + ys;
      if (!colour) continue;
      for (int p = 1; p <= 2; ++p)
        for (int r = 0; r < (rows + 1) / 2; ++r)
          for (int k = 0; k < (cols + 1) / 2; ++k)
            c.push_back(out.comps[p].At(2 * ty + r, 2 * tx + k));
      const std::string cs = chroma.Code(c);
      tiles += Length12(cs.size()) + cs;
    }
  }
  const std::size_t tileOffset = 12 + tables.size();
  std::string header = {12,
                        static_cast<char>(colour ? 1 : 3),
                        static_cast<char>(quality),
                        0,
                        static_cast<char>(width >> 8),
                        static_cast<char>(width),
                        static_cast<char>(height >> 8),
                        static_cast<char>(height),
                        static_cast<char>(tileOffset >> 8),
                        static_cast<char>(tileOffset),
                        0,
                        0};
  out.bytes = header + tables + tiles;
  return out;
}

}  // namespace dct_fixture
