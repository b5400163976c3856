// The printed page's layout and the print chunk table, without Qt.
//
// A print job paginates the document once per printer layout, one chunk
// (one section of the print text view) after another; the chunk table keeps
// each chunk's text end and the cumulative page count at its end, so any
// page or text offset is found by a binary search.
#pragma once

#include <cstdint>
#include <span>

// What the printer reports, in device pixels.
struct PrinterMetrics {
  int dpiX = 0, dpiY = 0;
  int paperWidth = 0, paperHeight = 0;  // the whole sheet
  int offsetX = 0, offsetY = 0;         // where the printable area starts
  int width = 0, height = 0;            // the printable area
};

// Where the text goes, relative to the printable area's origin.
struct PrintArea {
  int left = 0, top = 0, width = 0, height = 0;  // device pixels
  int widthPt = 0, heightPt = 0;                 // the same size in points
  bool operator==(const PrintArea&) const = default;
};

// Each edge at least one inch from the paper's edge when the printable area
// is at least three inches both ways; smaller areas are used whole. Zero or
// negative resolutions give an empty area.
PrintArea PrintLayout_Compute(const PrinterMetrics& m) noexcept;

// The chunk holding a page (1-based): its index and its first page. False
// when the page is 0 or beyond the last chunk.
bool PrintChunks_FindPage(std::span<const std::uint32_t> cumulativePages, std::uint32_t page,
                          std::uint32_t* chunk, std::uint32_t* firstPage) noexcept;
// The chunk whose text ends above offset while the previous one's does not.
bool PrintChunks_FindOffset(std::span<const std::uint32_t> ends, std::uint32_t offset,
                            std::uint32_t* chunk) noexcept;
