// libjpeg as a peer for the DCT decoder's tests and benchmark: JPEGs
// written from a pixel function (grey, or colour with 4:2:0 chroma), their
// quantised coefficients, and libjpeg's fast integer decode of them into
// planes without upsampling or colour conversion. Header-only, no test
// framework.
#pragma once

#include <cstdio>

#include <jpeglib.h>

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "tests/support/dct_writer.h"

namespace jpeg_peer {

using dct_writer::Block;

// A JPEG written by libjpeg: grey or colour (4:2:0), from a pixel function.
template <typename Pixel>
inline std::vector<unsigned char> WriteJpeg(int width, int height, bool colour, int quality,
                                            Pixel pixel) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = colour ? 3 : 1;
  c.in_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * c.input_components);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      for (int k = 0; k < c.input_components; ++k)
        row[static_cast<std::size_t>(x) * c.input_components + k] = pixel(x, y, k);
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<unsigned char> bytes(out, out + size);
  std::free(out);
  return bytes;
}

struct Component {
  int blocksWide = 0;
  int blocksHigh = 0;
  std::vector<Block> blocks;  // quantised, natural order
  int planeWidth = 0;
  std::vector<std::uint8_t> plane;  // libjpeg's fast integer decode, no upsampling
  const Block& At(int r, int c) const {
    return blocks[static_cast<std::size_t>(r) * blocksWide + c];
  }
  std::uint8_t Sample(int y, int x) const {
    return plane[static_cast<std::size_t>(y) * planeWidth + x];
  }
};

// libjpeg's fast integer decode of a JPEG into its component planes (rows
// of width_in_blocks * 8 samples; *planeWidths, when given, gets the widths).
inline std::vector<std::vector<std::uint8_t>> DecodePlanes(
    const std::vector<unsigned char>& jpeg, std::vector<int>* planeWidths = nullptr) {
  std::vector<int> widths;
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&d, TRUE);
  d.raw_data_out = TRUE;
  d.dct_method = JDCT_IFAST;
  jpeg_start_decompress(&d);
  const int rowsPerCall = d.max_v_samp_factor * DCTSIZE;
  std::vector<std::vector<std::vector<JSAMPLE>>> buffers(d.num_components);
  widths.assign(d.num_components, 0);
  std::vector<std::vector<std::uint8_t>> out(d.num_components);
  for (int ci = 0; ci < d.num_components; ++ci) {
    const jpeg_component_info& info = d.comp_info[ci];
    widths[ci] = static_cast<int>(info.width_in_blocks) * DCTSIZE;
    buffers[ci].assign(static_cast<std::size_t>(info.v_samp_factor) * DCTSIZE,
                       std::vector<JSAMPLE>(static_cast<std::size_t>(widths[ci])));
  }
  while (d.output_scanline < d.output_height) {
    std::vector<std::vector<JSAMPROW>> rows(d.num_components);
    std::vector<JSAMPARRAY> planes;
    for (int ci = 0; ci < d.num_components; ++ci) {
      for (auto& r : buffers[ci])
        rows[ci].push_back(r.data());
      planes.push_back(rows[ci].data());
    }
    jpeg_read_raw_data(&d, planes.data(), static_cast<JDIMENSION>(rowsPerCall));
    for (int ci = 0; ci < d.num_components; ++ci)
      for (const auto& r : buffers[ci])
        out[ci].insert(out[ci].end(), r.begin(), r.end());
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  if (planeWidths != nullptr) *planeWidths = widths;
  return out;
}

inline std::vector<Component> ReadJpeg(const std::vector<unsigned char>& jpeg) {
  std::vector<Component> comps;
  {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&d);
    for (int ci = 0; ci < d.num_components; ++ci) {
      const jpeg_component_info& info = d.comp_info[ci];
      Component comp;
      comp.blocksWide = static_cast<int>(info.width_in_blocks);
      comp.blocksHigh = static_cast<int>(info.height_in_blocks);
      for (int r = 0; r < comp.blocksHigh; ++r) {
        JBLOCKARRAY row = (*d.mem->access_virt_barray)(
            reinterpret_cast<j_common_ptr>(&d), arrays[ci], static_cast<JDIMENSION>(r), 1, FALSE);
        for (int c = 0; c < comp.blocksWide; ++c) {
          Block b{};
          for (int i = 0; i < 64; ++i)
            b[i] = static_cast<std::int16_t>(row[0][c][i]);
          comp.blocks.push_back(b);
        }
      }
      comps.push_back(comp);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
  }
  std::vector<int> widths;
  auto planes = DecodePlanes(jpeg, &widths);
  for (std::size_t ci = 0; ci < comps.size() && ci < planes.size(); ++ci) {
    comps[ci].planeWidth = widths[ci];
    comps[ci].plane = std::move(planes[ci]);
  }
  return comps;
}

}  // namespace jpeg_peer
