// The generated charset tables (tools/gen_charset_tables.py writes the .cpp
// files beside this header and single_byte.h). A value of 0 in a decoding
// table marks a code that maps to nothing.
#pragma once

#include <cstdint>

namespace charset_tables {

// A code point whose preferred code is not the first code in table order.
struct CjkOverride {
  std::uint16_t codePoint;
  std::uint16_t index;  // into the decoding table
};

// A run of GB18030 four-byte codes of the BMP: linear four-byte index
// (0 = 81 30 81 30) and code point rise together over `length` codes.
struct GbRange {
  std::uint16_t index;
  std::uint16_t codePoint;
  std::uint16_t length;
};

// JIS X 0208: row r, cell c (0-93) at [r * 94 + c].
extern const std::uint16_t kJisX0208[94 * 94];
extern const CjkOverride kJisX0208Overrides[];
extern const std::uint32_t kJisX0208OverrideCount;

// KS X 1001: row r, cell c (0-93) at [r * 94 + c].
extern const std::uint16_t kKsX1001[94 * 94];
extern const CjkOverride kKsX1001Overrides[];
extern const std::uint32_t kKsX1001OverrideCount;

// GB18030 two-byte codes: lead 0x81-0xFE, trail index 0-189 for trails
// 0x40-0x7E, 0x80-0xFE; [(lead - 0x81) * 190 + trailIndex].
extern const std::uint16_t kGb18030[126 * 190];
extern const CjkOverride kGb18030Overrides[];
extern const std::uint32_t kGb18030OverrideCount;
extern const GbRange kGb18030Ranges[];
extern const std::uint32_t kGb18030RangeCount;
// Indices into kGb18030Ranges in code point order.
extern const std::uint16_t kGb18030RangesByCodePoint[];

// Big5: lead 0xA1-0xF9, trail index 0-156 for trails 0x40-0x7E, 0xA1-0xFE.
extern const std::uint16_t kBig5[89 * 157];
extern const CjkOverride kBig5Overrides[];
extern const std::uint32_t kBig5OverrideCount;

// Charset names as counted strings (length byte, then the name), sorted by
// their ASCII lower-case form, and the MIBenum of each.
extern const std::uint8_t* const kCharsetNames[];
extern const std::uint16_t kCharsetNameMibs[];
extern const std::uint32_t kCharsetNameCount;

}  // namespace charset_tables
