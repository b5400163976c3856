// The annotation note box: a small box over the page with the note of an
// annotated passage (at most three lines, "..." when there is more) and the
// buttons "[View/Edit]" and "[Delete]".
//
// Every device hands the device's NoteBoxCommand to NoteBox_Command;
// the box draws only through the device's other slots, so it behaves alike on
// every device. The NoteBox record belongs to the caller (the text view while
// a note is shown) and so does the note text it points to; the box keeps
// nothing of its own. While the box is open the device holds the pixels under
// it (SurfaceCommand 7), so one box may be open per device at a time; every
// close puts them back.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/runtime/core.h"

// Command codes: in is the NoteBox record, out the argument named here.
namespace NoteBoxCode {
constexpr std::uint16_t Open = 3;                // DeviceContext* or null
constexpr std::uint16_t Track = 4;               // DevicePoint*
constexpr std::uint16_t PenUp = 5;               // DevicePoint*
constexpr std::uint16_t PenDown = 6;             // DevicePoint*
constexpr std::uint16_t Previous = 7;            // 7, 9
constexpr std::uint16_t Next = 8;                // 8, 10
constexpr std::uint16_t FirstFromViewEdit = 11;  // 11, 13: std::uint16_t* (optional) button
constexpr std::uint16_t FirstFromDelete = 12;    // 12, 14: as 11
constexpr std::uint16_t Commit = 15;
constexpr std::uint16_t Cancel = 16;
constexpr std::uint16_t Redraw = 17;  // DeviceContext* or null
}  // namespace NoteBoxCode

namespace NoteBoxFlag {
constexpr std::uint16_t Partial = 1u << 0;  // the text is only the note's beginning
}  // namespace NoteBoxFlag

namespace NoteBoxPen {
constexpr std::uint16_t Idle = 0;
constexpr std::uint16_t Open = 1;
constexpr std::uint16_t Down = 2;  // the pen went down on the box
}  // namespace NoteBoxPen

constexpr std::int16_t kNoteBoxNoButton = -1;
constexpr std::uint16_t kNoteBoxNoButtonAnswer = 0xFFFF;
constexpr int kNoteBoxMaxLines = 3;
constexpr DeviceColour kNoteBoxPaper{255, 255, 204};
constexpr DeviceColour kNoteBoxButtonText{32, 64, 160};

struct NoteBoxLine {
  const std::uint8_t* start;
  std::uint16_t length;
};

// The state record, owned by the caller. The caller fills flags, text,
// textLength and the anchor, then opens the box; the box sets everything
// else.
struct NoteBox {
  std::uint16_t flags;       // NoteBoxFlag
  const std::uint8_t* text;  // the note in the document's charset (not owned)
  std::uint32_t textLength;
  // The anchor: x of the annotated text, the tap's y, the room above the
  // line, the line's top and its bottom.
  std::int16_t anchorX;
  std::int16_t tapY;
  std::int16_t roomAbove;
  std::int16_t lineTop;
  std::int16_t lineBottom;
  // Set by Open.
  DeviceFontSpec font;  // default face, 10 points, black on kNoteBoxPaper
  std::int16_t x, y, width, height;
  std::int16_t lineHeight, ascent;
  NoteBoxLine lines[kNoteBoxMaxLines];
  std::uint16_t widest;
  std::uint16_t lineCount;
  std::int16_t openBracketWidth, closeBracketWidth;
  std::uint16_t buttonWidth[2];  // 0: the button is not shown
  std::int16_t focused;          // kNoteBoxNoButton, kUiViewEdit or kUiDelete
  std::uint16_t rows;            // lines + 1 for the buttons + 1 for "..."
  std::uint16_t truncated;       // bit 0
  std::uint16_t penState;        // NoteBoxPen
  std::uint16_t open;            // non-zero from Open until the box closes
};

// Runs one command on the record `in` (NoteBox*) through `device`.
//
// Open lays the note out in lines of at most usable width - 22 pixels (three
// lines when the usable height is at least the usable width, else two; a
// line also ends at a line feed), places the box under the annotated line,
// else above it, else against the bottom of the view, saves the pixels under
// it and draws it; pen state Open. Track focuses the button under the point
// (no button off the buttons) while the pen state is Open or Down, and only
// removes the focus in Idle. PenDown on the box: pen state Down and track;
// outside: the box closes with kNoteBoxClosedOutside. PenUp on a button: the
// box closes with kNoteBoxClosedButton and that button focused; on the box
// elsewhere: pen state Idle, 0; outside: closes, kNoteBoxClosedOutside.
// Previous and Next move the focus over the shown buttons, wrapping; 11 and
// 12 focus the first shown button from "View/Edit" or from "Delete" and put
// it (kNoteBoxNoButtonAnswer when none) in *out. Commit closes with
// kNoteBoxClosedButton when a button is focused, else 0; Cancel closes with
// kNoteBoxClosedOutside. The focused button after a close tells which
// button was chosen. Codes 0-2 answer 0; kNotSupported for unknown codes;
// kBadArgument for a null record, a missing point or a code 4-17 while the
// box is not open. Device failures come back as they are; a box whose
// opening fails is closed again with its pixels put back.
StatusCode NoteBox_Command(EngineObject* device, std::uint16_t code, void* in, void* out) noexcept;

// What lies under a point of the open box: kNoteBoxNoButton - 1 outside,
// kNoteBoxNoButton on the box but no button, else the button.
constexpr std::int16_t kNoteBoxOutside = -2;
std::int16_t NoteBox_HitTest(const NoteBox& box, std::int16_t x, std::int16_t y) noexcept;
