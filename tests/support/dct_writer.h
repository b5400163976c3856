// A writer of the DCT image decoder's coded streams, for tests: blocks of
// quantised coefficients (natural order) turned into symbols, a canonical
// code built for them (at most 15 bits), the code table in the decoder's
// layout, and the coded stream. Written apart from the engine's decoder.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dct_writer {

using Block = std::array<std::int16_t, 64>;  // natural order

class Coder {
 public:
  // Counts the symbols of blocks for the code (call for every block the
  // code will serve, then Table and Code).
  void Count(const std::vector<Block>& blocks);
  // The code table bytes.
  std::string Table();
  // The coded stream of blocks, in order.
  std::string Code(const std::vector<Block>& blocks);

 private:
  void Build();
  std::array<std::uint32_t, 270> freq_{};
  std::array<std::uint8_t, 270> lengths_{};
  std::array<std::uint32_t, 270> codes_{};
  bool built_ = false;
};

}  // namespace dct_writer
