#include "engine/runtime/swap.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

TEST(SwapLoadStore, ReadAndWriteTheNamedByteOrder) {
  constexpr std::array<std::uint8_t, 4> kBytes = {0x12, 0x34, 0x56, 0x78};
  static_assert(LoadBE16(kBytes.data()) == 0x1234);
  static_assert(LoadLE16(kBytes.data()) == 0x3412);
  static_assert(LoadBE32(kBytes.data()) == 0x12345678u);
  static_assert(LoadLE32(kBytes.data()) == 0x78563412u);

  // Unaligned access with the top bit set, where sign extension would show.
  std::array<std::uint8_t, 9> buf{};
  StoreBE32(buf.data() + 1, 0xFEDCBA98u);
  StoreLE32(buf.data() + 5, 0xFEDCBA98u);
  EXPECT_EQ(buf, (std::array<std::uint8_t, 9>{0, 0xFE, 0xDC, 0xBA, 0x98, 0x98, 0xBA, 0xDC, 0xFE}));
  EXPECT_EQ(LoadBE32(buf.data() + 1), 0xFEDCBA98u);
  EXPECT_EQ(LoadLE32(buf.data() + 5), 0xFEDCBA98u);

  StoreBE16(buf.data() + 1, 0x80FF);
  StoreLE16(buf.data() + 3, 0x80FF);
  EXPECT_EQ(buf[1], 0x80);
  EXPECT_EQ(buf[2], 0xFF);
  EXPECT_EQ(buf[3], 0xFF);
  EXPECT_EQ(buf[4], 0x80);
  EXPECT_EQ(LoadBE16(buf.data() + 1), 0x80FF);
  EXPECT_EQ(LoadLE16(buf.data() + 3), 0x80FF);
}

// A record filled with distinct bytes; after a swap the bytes named in the
// layout are reversed within their field and every other byte is untouched.
struct Layout {
  const char* name;
  void* (*swap)(void*);
  std::size_t size;
  std::vector<std::size_t> u16;
  std::vector<std::size_t> u32;
};

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(0x10 + i);
  return bytes;
}

std::vector<std::uint8_t> Expected(const std::vector<std::uint8_t>& in,
                                   const std::vector<std::size_t>& u16,
                                   const std::vector<std::size_t>& u32) {
  std::vector<std::uint8_t> out = in;
  for (std::size_t at : u16)
    StoreLE16(&out[at], LoadBE16(&in[at]));
  for (std::size_t at : u32)
    StoreLE32(&out[at], LoadBE32(&in[at]));
  return out;
}

TEST(SwapRecords, SwapExactlyTheNamedFieldsAndRoundTrip) {
  const Layout layouts[] = {
      {"U16", Swap_U16, 4, {0}, {}},
      {"U16Pair", Swap_U16Pair, 6, {0, 2}, {}},
      {"U16Quad", Swap_U16Quad, 10, {0, 2, 4, 6}, {}},
      {"NativeDocHeader",
       Swap_NativeDocHeader,
       70,
       {0, 12, 24, 26, 28, 30, 32, 34, 36, 38, 46, 56, 58, 60, 62, 64},
       {20, 40, 48}},
      {"SecondFormatHeader",
       Swap_SecondFormatHeader,
       60,
       {0, 2, 16, 18, 20, 22, 24, 26, 28, 30, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54},
       {12, 32}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    const std::vector<std::uint8_t> original = Pattern(layout.size);
    std::vector<std::uint8_t> record = original;
    EXPECT_EQ(layout.swap(record.data()), record.data());
    EXPECT_EQ(record, Expected(original, layout.u16, layout.u32));
    layout.swap(record.data());
    EXPECT_EQ(record, original);
  }
}

TEST(SwapRecords, SettingsHeaderReadsItsSizeInHostOrder) {
  const std::vector<std::size_t> kBase16 = {0, 2, 12, 14};
  const std::vector<std::size_t> kLong16 = {0, 2, 12, 14, 16, 24};
  const std::vector<std::size_t> k32 = {4, 8};
  struct Case {
    std::uint16_t size;
    bool longForm;
  };
  // 0x2000 and 0x0020 tell a size read in the wrong byte order from the right one.
  for (const Case c : {Case{31, false}, Case{32, true}, Case{0x2000, true}, Case{0x1F00, true},
                       Case{0x0100, true}, Case{20, false}}) {
    SCOPED_TRACE(c.size);
    // Reading: the stored record is big-endian.
    std::vector<std::uint8_t> stored = Pattern(32);
    StoreBE16(stored.data(), c.size);
    std::vector<std::uint8_t> record = stored;
    Swap_SettingsHeader(record.data(), true);
    EXPECT_EQ(record, Expected(stored, c.longForm ? kLong16 : kBase16, k32));
    std::uint16_t hostSize = 0;
    std::memcpy(&hostSize, record.data(), 2);
    EXPECT_EQ(hostSize, c.size);
    // Writing the host record back gives the stored bytes again.
    Swap_SettingsHeader(record.data(), false);
    EXPECT_EQ(record, stored);
  }
}

}  // namespace
