// The drop-down list control: a form select list that the engine measures
// and draws itself, closed as a box with the chosen item and an arrow, open
// as a list over the page that the pointer and the keys move through.
//
// Every device hands the device's SelectCtlCommand to
// SelectCtl_Command; the control draws only through the device's other
// slots, so it behaves alike on every device. The SelectCtl record belongs
// to the caller (the document handler while it lays out a line, the text
// view while the list is open); the control keeps nothing of its own. While
// a list is open the device holds the pixels under it (SurfaceCommand 7),
// so only one list may be open per device at a time; every close puts them
// back.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/runtime/core.h"

// Command codes: in is the SelectCtl record, out the argument named here.
namespace SelectCtlCode {
constexpr std::uint16_t Nothing = 0;     // 0
constexpr std::uint16_t Measure = 1;     // SelectCtlMeasure*
constexpr std::uint16_t DrawClosed = 2;  // SelectCtlPlace*
constexpr std::uint16_t Open = 3;        // DeviceContext* or null
constexpr std::uint16_t Track = 4;       // DevicePoint*
constexpr std::uint16_t PenUp = 5;       // DevicePoint*
constexpr std::uint16_t PenDown = 6;     // DevicePoint*
constexpr std::uint16_t Previous = 7;    // keys 7-14: no argument
constexpr std::uint16_t Next = 8;
constexpr std::uint16_t PageUp = 9;
constexpr std::uint16_t PageDown = 10;
constexpr std::uint16_t First = 11;
constexpr std::uint16_t Last = 12;
constexpr std::uint16_t TopVisible = 13;
constexpr std::uint16_t BottomVisible = 14;
constexpr std::uint16_t Commit = 15;
constexpr std::uint16_t Cancel = 16;
constexpr std::uint16_t Redraw = 17;           // DeviceContext* or null
constexpr std::uint16_t SelectAndCommit = 18;  // const std::int16_t* item
}  // namespace SelectCtlCode

namespace SelectCtlFlag {
constexpr std::uint16_t PercentWidth = 1u << 0;  // requested width is a percentage
constexpr std::uint16_t Flat = 1u << 3;          // flat style, else a sunken frame
}  // namespace SelectCtlFlag

namespace SelectCtlArrows {
constexpr std::uint16_t Shown = 1u << 0;
constexpr std::uint16_t UpUnavailable = 1u << 1;    // the top item is item 1
constexpr std::uint16_t DownUnavailable = 1u << 2;  // the last item is visible
}  // namespace SelectCtlArrows

namespace SelectCtlPen {
constexpr std::uint16_t Idle = 0;
constexpr std::uint16_t OnItem = 1;
constexpr std::uint16_t UpArrow = 2;
constexpr std::uint16_t DownArrow = 3;
}  // namespace SelectCtlPen

// The closed control on the page. The caller sets x, baseline, lineTop and
// lineHeight before opening (width 0: the measured width); code 2 sets all
// of them.
struct SelectCtlGeometry {
  std::int16_t x;
  std::int16_t baseline;  // y of the item text's baseline
  std::int16_t width;
  std::int16_t height;
  std::int16_t lineTop;  // the line the control stands on
  std::int16_t lineHeight;
};

// The open list, set by code 3 and kept up to date by the other codes.
// Rows are rowHeight high, one pixel apart in flat style; the list's first
// and last pixel rows and columns are its frame. With arrows, the column at
// the right of the text column holds the up arrow above arrowY and the down
// arrow from arrowY on.
struct SelectCtlList {
  std::int16_t x;
  std::int16_t y;
  std::int16_t width;
  std::int16_t height;
  std::int16_t textWidth;
  std::int16_t rowHeight;
  std::int16_t ascent;
  std::int16_t arrowY;
  std::uint16_t visibleRows;
  std::uint16_t arrows;    // SelectCtlArrows bits
  std::uint16_t penState;  // SelectCtlPen
  std::uint16_t topItem;
  std::uint16_t highlighted;  // 0 only when there are no items
  std::uint16_t open;         // non-zero from code 3 until the list closes
};

// The state record, owned by the caller. Items are numbered 1 to itemCount;
// items points to itemCount + 1 pointers to NUL-terminated texts in the
// document's charset (entry 0 is not an item), or is null (no items). An
// item whose text is null or empty cannot be chosen.
struct SelectCtl {
  std::uint16_t flags;  // SelectCtlFlag bits
  std::uint16_t itemCount;
  std::uint16_t chosen;         // the committed choice
  std::int16_t requestedWidth;  // 0: as wide as the widest item
  const char* const* items;
  // When all three are non-zero, measuring answers them without the device.
  std::int16_t cachedWidth;
  std::int16_t cachedHeight;
  std::int16_t cachedBaseline;
  DeviceFontSpec font;  // the item texts
  SelectCtlGeometry closed;
  SelectCtlList list;
};

// Code 1. ctx null: the control begins and ends drawing itself. font
// non-null is first copied into the record's font.
struct SelectCtlMeasure {
  DeviceContext ctx;
  const DeviceFontSpec* font;
  std::int16_t width;     // out
  std::int16_t height;    // out
  std::int16_t baseline;  // out: from the control's top
};

// Code 2: the control is drawn at x on the line whose top, height and
// ascent are given, its text baseline on the line's baseline (lineTop +
// lineAscent); the record's geometry is set from them.
struct SelectCtlPlace {
  DeviceContext ctx;
  const DeviceFontSpec* font;
  std::int16_t x;
  std::int16_t lineTop;
  std::int16_t lineHeight;
  std::int16_t lineAscent;
  std::int16_t width;   // out
  std::int16_t bottom;  // out: the y below the control
};

// Runs one command on the record `in` (SelectCtl*) through `device`.
//
// Sizes (font of line height L and ascent A): flat controls are L + 2 high
// with the baseline at A + 1, framed ones L + 6 with A + 3; the width is
// the widest item plus L + 6 (flat) or L + 12 (framed), or the requested
// width (a percentage of the usable width with PercentWidth, more than 999
// meaning all of it, never more than the usable width) but not below that
// minimum.
//
// Answers: 0 for code 0 and whatever leaves the list open; Commit, a pen up
// on an item and SelectAndCommit close it with the item as the choice and
// answer kSelectClosedWithChoice, or 0 (still open) when the item cannot be
// chosen (for 18 also 0 or above itemCount); Cancel and a pen down outside
// the list close it unchanged with kSelectClosedNoChoice. Closing puts the
// saved pixels back and draws the closed control with the choice. The keys
// move the highlight over items that can be chosen only and scroll the list
// so that it stays visible; a pen down on an item highlights it, on an
// available arrow scrolls a page. kNotSupported for an unknown code,
// kBadArgument for a null record, a missing argument or a code 4-18 while
// the list is not open; device failures come back as they are, and the
// list stays closed when opening fails.
StatusCode SelectCtl_Command(EngineObject* device, std::uint16_t code, void* in,
                             void* out) noexcept;

// The open list's layout from the view (usable width and height), the row
// height and ascent, and the closed control at (x, top) of size (w, h):
// every field of list but penState and open. Pure arithmetic, for the
// control and its tests.
void SelectCtl_LayoutList(const SelectCtl& ctl, std::int16_t viewWidth, std::int16_t viewHeight,
                          std::int16_t rowHeight, std::int16_t ascent, std::int16_t x,
                          std::int16_t top, std::int16_t w, std::int16_t h,
                          SelectCtlList* list) noexcept;
