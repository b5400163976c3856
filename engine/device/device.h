// The output device: the one way the engine reaches a screen, a printer, the
// clipboard, sounds, scroll bars and controls.
//
// A device is an EngineObject whose ops point to a DeviceOps table. The text
// view and the document handlers draw, measure, report progress and run the
// device-side services (position map, table-layout store, drop-down list,
// note box) only through it. The host hands its device module to the engine
// (Core_SetHostDeviceModule): the front end gives its window device, tests
// give the recording fake device. A device owns everything it creates (fonts,
// off-screen and saved bitmaps, scroll bars, the position map and the table
// store) and releases it in Destroy; the drop-down list and note-box records
// belong to their callers.
//
// Geometry: signed 16-bit pixels of the current surface, x to the right, y
// downwards, the horizontal margin (property 5) already applied by the device.
// Rectangles are left, top, right, bottom with right and bottom exclusive.
// Engine text is a byte pointer and a byte count in the device charset
// (property 10; 0 means windows-1252).
#pragma once

#include <array>
#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x701: the device and its services.
constexpr StatusCode kPosMapSliceElapsed = MakeInfo(Facility::Device, 0x01);  // 62 ms since code 4
constexpr StatusCode kTableSliceElapsed = MakeInfo(Facility::Device, 0x02);   // 125 ms since 48
constexpr StatusCode kProgressStop = MakeInfo(Facility::Device, 0x03);  // no interval / elapsed
constexpr StatusCode kSelectClosedNoChoice = MakeInfo(Facility::Device, 0x04);
constexpr StatusCode kSelectClosedWithChoice = MakeInfo(Facility::Device, 0x05);
constexpr StatusCode kNoteBoxClosedOutside = MakeInfo(Facility::Device, 0x06);
constexpr StatusCode kNoteBoxClosedButton = MakeInfo(Facility::Device, 0x07);
constexpr StatusCode kClipboardCannotOpen = MakeFailure(Facility::Device, 0x01);
constexpr StatusCode kClipboardCannotEmpty = MakeFailure(Facility::Device, 0x02);
constexpr StatusCode kClipboardRefused = MakeFailure(Facility::Device, 0x03);
constexpr StatusCode kClipboardCannotClose = MakeFailure(Facility::Device, 0x04);
constexpr StatusCode kEndDrawWithoutBegin = MakeFailure(Facility::Device, 0x05);
constexpr StatusCode kSurfaceNotReleased = MakeFailure(Facility::Device, 0x06);
constexpr StatusCode kNoFreeHScrollBar = MakeFailure(Facility::Device, 0x07);
constexpr StatusCode kUnknownHScrollKey = MakeFailure(Facility::Device, 0x08);
constexpr StatusCode kNoHScrollForControl = MakeFailure(Facility::Device, 0x09);

// Opaque drawing context; devices draw into their current surface whatever
// handle they are given.
using DeviceContext = void*;

struct DeviceRect {
  std::int16_t left;
  std::int16_t top;
  std::int16_t right;   // exclusive
  std::int16_t bottom;  // exclusive
};

struct DevicePoint {
  std::int16_t x;
  std::int16_t y;
};

// A colour pointer that is null means the default: the window colour for
// fills, black for lines and text.
struct DeviceColour {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
};

// The font request; the same 12 bytes as the font part of a character style.
struct DeviceFontSpec {
  std::uint16_t faceClass;  // DeviceFace; other values use the default face
  std::int16_t size;        // points
  std::uint16_t style;      // DeviceFontStyle bits
  DeviceColour text;        // used with kFontTextColour
  DeviceColour background;  // used with kFontBackColour or kFontBackWins
};
static_assert(sizeof(DeviceFontSpec) == 12);

namespace DeviceFace {
constexpr std::uint16_t Serif = 1;
constexpr std::uint16_t SansSerif = 2;
constexpr std::uint16_t Script = 3;
constexpr std::uint16_t Decorative = 4;
constexpr std::uint16_t Fixed = 5;
constexpr std::uint16_t Default = 0xFFFF;
}  // namespace DeviceFace

namespace DeviceFontStyle {
constexpr std::uint16_t Bold = 1u << 0;
constexpr std::uint16_t Underline = 1u << 1;
constexpr std::uint16_t DottedUnderline = 1u << 2;
constexpr std::uint16_t Italic = 1u << 3;
constexpr std::uint16_t StrikeOut = 1u << 4;
constexpr std::uint16_t TextColour = 1u << 7;
constexpr std::uint16_t BackColour = 1u << 8;
constexpr std::uint16_t BackWins = 1u << 9;       // background wins over the colour theme
constexpr std::uint16_t PlainInverse = 1u << 10;  // plain mode: white on black
}  // namespace DeviceFontStyle

// Called while a page is laid out synchronously; non-zero asks the engine to
// stop the loop.
using ProgressCallback = StatusCode (*)(EngineObject* device, void* userData, std::uint32_t done,
                                        std::uint32_t total) noexcept;

// SetProperty codes: the call (device, argument, a, b) with a = 0 and
// b = code. Any call with a != 0 or b == 0 sets the host window (argument)
// and its size (a, b). A width of 0 with a non-zero height would read as a
// property, so hosts set the window through Device_SetWindow, which routes
// that case through kWindowSize.
namespace DeviceProp {
constexpr std::int16_t DisplayWord = 1;   // u16*: bits 0-2 zoom, 3 fixed sizes, 4 bold, 5 smooth
constexpr std::int16_t VScrollShown = 2;  // u32*: non-zero shows the vertical bar
constexpr std::int16_t HScrollBars = 3;   // u32*: non-zero enables horizontal bars
constexpr std::int16_t FaceName = 4;      // DeviceFaceName*
constexpr std::int16_t Margin = 5;        // u16*: horizontal margin on each side
constexpr std::int16_t Printer = 6;       // printer context, null ends printing
constexpr std::int16_t PlainMode = 7;     // non-null on, null off
constexpr std::int16_t DropFonts = 8;
constexpr std::int16_t FontCache = 9;            // non-null on, null off
constexpr std::int16_t Charset = 10;             // u32* MIBenum, 0 = windows-1252
constexpr std::int16_t Theme = 15;               // DeviceThemeEntry[2] or null (theme off)
constexpr std::int16_t FirstHScrollWindow = 17;  // void** out: window of the first bar or null
constexpr std::int16_t SuspendTheme = 19;
constexpr std::int16_t ResumeTheme = 20;
// Window and size in one record (DeviceWindowSize*); never sent with a != 0.
constexpr std::int16_t WindowSize = 0x7F01;
}  // namespace DeviceProp

// DisplayWord bits.
namespace DeviceDisplay {
constexpr std::uint16_t ZoomMask = 0x0007;
constexpr std::uint16_t FixedSizes = 1u << 3;
constexpr std::uint16_t AllBold = 1u << 4;
constexpr std::uint16_t Smoothed = 1u << 5;
}  // namespace DeviceDisplay

struct DeviceFaceName {
  std::uint16_t faceSlot;  // 1-5, or 0xFFFF for the default face
  const char16_t* name;    // NUL-terminated, at most 31 characters are kept
};

struct DeviceThemeEntry {
  std::uint8_t slot;  // 1 text and line colour, 2 background colour
  DeviceColour colour;
};

struct DeviceWindowSize {
  void* window;
  std::int16_t width;
  std::int16_t height;
};

// GetProperty codes; other codes answer kNotSupported and leave the
// out value alone.
namespace DeviceInfo {
constexpr std::int16_t HScrollHeight = 1;  // i16
constexpr std::int16_t UsableWidth = 2;    // i16: width - 2 x margin
constexpr std::int16_t Height = 3;         // i16
constexpr std::int16_t Depth = 4;          // u8: 24
constexpr std::int16_t UsableHeight = 5;   // i16
constexpr std::int16_t Charset = 6;        // u32
// Asked by callers that tolerate a failure.
constexpr std::int16_t TableWidth = 8;
constexpr std::int16_t PointerKind = 9;
constexpr std::int16_t NestedTableWidth = 14;
constexpr std::int16_t ImageSizes = 15;
}  // namespace DeviceInfo

// SurfaceCommand kinds.
namespace DeviceSurface {
constexpr std::int16_t ClipIntersect = 0;   // a: rect; b: previous clip box or null
constexpr std::int16_t ClipReplace = 1;     // a: rect; b: previous clip box or null
constexpr std::int16_t GetClip = 2;         // a: out clip box
constexpr std::int16_t BeginOffscreen = 3;  // a: area to fill with the window colour, or null
constexpr std::int16_t EndOffscreen = 4;
constexpr std::int16_t OffscreenToWindow = 5;  // a: source rect, b: DevicePoint target
constexpr std::int16_t WindowToOffscreen = 6;  // a: source rect, b: DevicePoint target
constexpr std::int16_t SavePixels = 7;         // a: rect
constexpr std::int16_t RestorePixels = 8;      // a: rect (its top-left is the target)
}  // namespace DeviceSurface

// SetTextOrigin flags.
namespace DeviceTextAlign {
constexpr std::uint32_t Left = 0;
constexpr std::uint32_t Centre = 1;
constexpr std::uint32_t Right = 2;
constexpr std::uint32_t HorizontalMask = 3;
constexpr std::uint32_t Top = 0u << 2;
constexpr std::uint32_t Baseline = 1u << 2;
constexpr std::uint32_t Bottom = 2u << 2;
constexpr std::uint32_t VerticalMask = 3u << 2;
constexpr std::uint32_t Advance = 1u << 4;
constexpr std::uint32_t RightToLeft = 1u << 5;
}  // namespace DeviceTextAlign

// Notify kinds; others are ignored.
namespace DeviceNotice {
constexpr std::uint16_t NoPreviousSection = 1;
constexpr std::uint16_t NoNextSection = 2;
constexpr std::uint16_t AtTop = 3;
constexpr std::uint16_t AtEnd = 4;
constexpr std::uint16_t PreviousSection = 5;
constexpr std::uint16_t NextSection = 6;
constexpr std::uint16_t SectionByNumber = 7;
constexpr std::uint16_t LinkActivated = 8;
constexpr std::uint16_t HistoryBack = 9;
constexpr std::uint16_t HistoryForward = 10;
constexpr std::uint16_t PosListJump = 11;
constexpr std::uint16_t PosListJump2 = 12;
}  // namespace DeviceNotice

// DrawImage kinds and their image records.
namespace DeviceImageKind {
constexpr std::uint16_t PalmBitmap = 1;   // const DevicePalmBitmap*
constexpr std::uint16_t PlanarRgb = 2;    // const DevicePlanarImage*
constexpr std::uint16_t PlanarYCbCr = 3;  // const DevicePlanarImage*
}  // namespace DeviceImageKind
constexpr std::int32_t kImageDoubleSize = 1;  // option bit 0

// A Palm bitmap family as stored in a document, with the bytes that may be
// read: the decoder never reads outside [data, data + size).
struct DevicePalmBitmap {
  const std::uint8_t* data;
  std::uint32_t size;
};

// Planes 1 and 2 null: a grey image of plane 0.
struct DevicePlanarImage {
  std::int16_t width;
  std::int16_t height;
  std::uint16_t rowBytes;
  const std::uint8_t* planes[3];
};

// DrawListMarker marker word.
constexpr std::uint16_t kMarkerBullet = 0x8000;  // low 12 bits: 3 square, else circle
constexpr std::uint16_t kMarkerSquare = 3;

// Horizontal scroll bars: at most 32, control ids 50000 + slot; -1 is never a key.
constexpr int kMaxHScrollBars = 32;
constexpr std::uint32_t kHScrollFirstControlId = 50000;
constexpr std::uint32_t kNoHScrollKey = 0xFFFFFFFFu;
constexpr std::uint32_t kHScrollRepaint = 1;  // PlaceHScrollBar flags bit 0

// OpenVObject kinds.
constexpr std::uint16_t kVObjectCalendar = 0;
constexpr std::uint16_t kVObjectCard = 1;

// MeasureUiString / DrawUiString.
constexpr std::uint16_t kUiViewEdit = 0;  // "View/Edit"
constexpr std::uint16_t kUiDelete = 1;    // "Delete"
// The texts of the UI string ids, as every device answers them.
constexpr const char* kDeviceUiStrings[2] = {"View/Edit", "Delete"};

// PosMapCommand codes; in and out point to u32 unless stated.
namespace PosMapCode {
constexpr std::uint16_t Init = 0;    // map and table store
constexpr std::uint16_t Free = 1;    // table store and map
constexpr std::uint16_t Reset = 2;   // empty both, keep the run table
constexpr std::uint16_t Finish = 3;  // in end key, in end value (out)
constexpr std::uint16_t StartSlice = 4;
constexpr std::uint16_t Add = 5;           // in key, in value (out); kPosMapSliceElapsed
constexpr std::uint16_t FindByKey = 6;     // in/out key, out value
constexpr std::uint16_t FindByValue = 7;   // out key, in/out value
constexpr std::uint16_t Info = 9;          // out u32[4]: runs, capacity, open key, open value
constexpr std::uint16_t SetInterval = 10;  // in u32* interval ms, 0 = synchronous layout off
constexpr std::uint16_t SetCallback = 11;  // in ProgressCallback, out user data (as pointers)
constexpr std::uint16_t ProgressBegin = 12;
constexpr std::uint16_t ProgressStep = 13;  // in u32* done, out u32* total
constexpr std::uint16_t ProgressEnd = 14;
// 8, 15 and 16 and anything above answer kNotSupported (15 and 16 are sent
// by the text view around each slice and ignored by it).
}  // namespace PosMapCode

// TableStoreCommand codes: see table_store.h for the records.
namespace TableStoreCode {
constexpr std::uint16_t BeginTable = 0;
constexpr std::uint16_t EndLayout = 1;
constexpr std::uint16_t ReopenLayout = 2;
constexpr std::uint16_t CloseLayout = 3;
constexpr std::uint16_t CellWidth = 4;
constexpr std::uint16_t DistributeWidths = 5;
constexpr std::uint16_t FitColumns = 6;
constexpr std::uint16_t SpanWidth = 7;
constexpr std::uint16_t CellHeight = 8;
constexpr std::uint16_t DistributeHeights = 9;
constexpr std::uint16_t OpenRowPass = 10;
constexpr std::uint16_t CloseRowPass = 11;
constexpr std::uint16_t WidthRange = 12;
constexpr std::uint16_t TableSize = 13;
constexpr std::uint16_t CellExtent = 14;
constexpr std::uint16_t RowSpanHeight = 15;
constexpr std::uint16_t HitTest = 16;
constexpr std::uint16_t RowSum = 17;
constexpr std::uint16_t Push = 32;
constexpr std::uint16_t Pop = 33;
constexpr std::uint16_t StartSlice = 48;
constexpr std::uint16_t CheckSlice = 49;
}  // namespace TableStoreCode

// The table of operations. Every slot takes the device first; out-pointers
// are written only on success. Drawing slots that take a context need an open
// BeginDraw.
struct DeviceOps {
  CoreEndWord word0;
  // 1: called on the module; a new device. kOutOfMemory.
  StatusCode (*create)(EngineObject* module, EngineObject** out) noexcept;
  // 2: releases everything the device holds, the device included; 0.
  StatusCode (*destroy)(EngineObject* device) noexcept;
  // 3: a != 0 or b == 0: argument is the host window, (a, b) its size
  // (a = b = 0 sets only the window). Otherwise b is a DeviceProp code and
  // argument its argument. Codes 11-14, 16, 18 are accepted and do nothing;
  // 0 unless the code says otherwise (VScrollShown: kFailed when the window
  // refuses, the stored values kept).
  StatusCode (*setProperty)(EngineObject* device, void* argument, std::int16_t a,
                            std::int16_t b) noexcept;
  // 4: a DeviceInfo code into *out; kNotSupported for others, *out untouched.
  StatusCode (*getProperty)(EngineObject* device, std::int16_t code, void* out) noexcept;
  // 5: nests; only the outermost call obtains the surface (the given context,
  // else the printer, else the window), clips it to (margin, 0, width -
  // margin, height) and saves the drawing state. kFailed when no surface can
  // be had (the nesting count unchanged).
  StatusCode (*beginDraw)(EngineObject* device, DeviceContext* ctx) noexcept;
  // 6: ends one level; the outermost releases the surface, drops a current
  // off-screen surface, restores the full clip and the saved state.
  // kEndDrawWithoutBegin at depth 0 (depth stays 0), kSurfaceNotReleased.
  StatusCode (*endDraw)(EngineObject* device, DeviceContext ctx) noexcept;
  // 7: copies the rectangle to (left + dx, top + dy) within the surface.
  StatusCode (*copyArea)(EngineObject* device, DeviceContext ctx, std::int16_t left,
                         std::int16_t top, std::int16_t right, std::int16_t bottom, std::int16_t dx,
                         std::int16_t dy) noexcept;
  // 8: DeviceSurface kinds; a is a DeviceRect*, b a DeviceRect* or a
  // DevicePoint* as the kind says. Clip rectangles are shifted by the margin
  // (not when printing); clip boxes come back unshifted. Kind 3 makes the
  // off-screen surface (or makes an existing one current again; kOutOfMemory
  // / kFailed); 4, 5 and 6 do nothing (0) without one; 8 does nothing
  // without saved pixels. kNotSupported for other kinds.
  StatusCode (*surfaceCommand)(EngineObject* device, DeviceContext ctx, DeviceRect* a, void* b,
                               std::int16_t kind) noexcept;
  // 9: tells the window that the area is painted; 0.
  StatusCode (*validateRect)(EngineObject* device, std::int16_t left, std::int16_t top,
                             std::int16_t right, std::int16_t bottom) noexcept;
  // 10: plain mode: the window colour; theme on: the theme background (a
  // null colour included); else the colour, or the window colour for null.
  StatusCode (*fillRect)(EngineObject* device, DeviceContext ctx, std::int16_t left,
                         std::int16_t top, std::int16_t right, std::int16_t bottom,
                         const DeviceColour* colour) noexcept;
  // 11: inverts the pixels; inverting twice restores them.
  StatusCode (*invertRect)(EngineObject* device, DeviceContext ctx, std::int16_t left,
                           std::int16_t top, std::int16_t right, std::int16_t bottom) noexcept;
  // 12: style bit 0 dotted frame. Fill given: filled rectangle with a frame
  // (black when the frame colour is null); else four frame lines; nothing
  // when both are null. Plain mode: black frame, white fill. Theme on and not
  // suspended: no fill, frame in the theme text colour.
  StatusCode (*drawBox)(EngineObject* device, DeviceContext ctx, std::int16_t left,
                        std::int16_t top, std::int16_t right, std::int16_t bottom,
                        std::int32_t style, const DeviceColour* frame,
                        const DeviceColour* fill) noexcept;
  // 13: makes the font and its colours current; any out pointer may be null.
  StatusCode (*selectFont)(EngineObject* device, DeviceContext ctx, const DeviceFontSpec* font,
                           std::int16_t* lineHeight, std::int16_t* externalLeading,
                           std::int16_t* ascent) noexcept;
  // 14: with fit: the number of whole characters' bytes whose width is at
  // most maxWidth, and width = the width of those bytes; without fit: the
  // whole text's width. height = the font height.
  StatusCode (*measureText)(EngineObject* device, DeviceContext ctx, const std::uint8_t* text,
                            std::uint32_t count, std::int16_t maxWidth, std::uint32_t* fit,
                            std::int16_t* width, std::int16_t* height) noexcept;
  // 15: per byte, the x of the right edge of its character from the text
  // start (all bytes of a character alike); *count comes back as the bytes
  // done (whole characters).
  StatusCode (*getCharPositions)(EngineObject* device, DeviceContext ctx, const std::uint8_t* text,
                                 std::uint32_t* count, std::int16_t* positions) noexcept;
  // 16: the whole text's width.
  StatusCode (*measureWidth)(EngineObject* device, DeviceContext ctx, const std::uint8_t* text,
                             std::uint32_t count, std::int16_t* width) noexcept;
  // 17: text position (x, y), DeviceTextAlign flags, and the dotted
  // underline offset: baseline reference: descent - 1 when descent < 3, else
  // 2; bottom reference: -1; top reference: outside (0x7FFF).
  StatusCode (*setTextOrigin)(EngineObject* device, DeviceContext ctx, std::int16_t x,
                              std::int16_t y, std::int16_t descent, std::uint32_t flags) noexcept;
  // 18: restores the alignment in force before SetTextOrigin.
  StatusCode (*restoreTextAlign)(EngineObject* device) noexcept;
  // 19: draws at (*x, *y), or at the text position for null pointers, and
  // writes back the position after the text: the right end of the drawn
  // text for every alignment. With the Advance flag the text position moves
  // there too.
  StatusCode (*drawText)(EngineObject* device, const std::uint8_t* text, std::uint32_t count,
                         std::int16_t* x, std::int16_t* y) noexcept;
  // 20: vertical bar: page end clamped to maximum, position to page end;
  // range 0..maximum, page = page end - position. kFailed keeps the values.
  StatusCode (*setVScroll)(EngineObject* device, std::uint32_t position, std::uint32_t pageEnd,
                           std::uint32_t ignored, std::uint32_t maximum) noexcept;
  // 21: a new clipboard text of at most chars characters (an earlier one is
  // dropped); 0 with a zero count; kOutOfMemory.
  StatusCode (*clipboardBegin)(EngineObject* device, std::uint32_t chars) noexcept;
  // 22: lone line feeds become CR LF; puts the text on the clipboard.
  // Nothing collected: 0. kClipboardCannotOpen .. kClipboardCannotClose,
  // kOutOfMemory.
  StatusCode (*clipboardCommit)(EngineObject* device) noexcept;
  // 23: converts and appends, truncated at the capacity of ClipboardBegin.
  StatusCode (*clipboardAppend)(EngineObject* device, const std::uint8_t* text,
                                std::uint32_t count) noexcept;
  // 24: DeviceNotice kinds; 0, or kFailed when the notice cannot be given.
  StatusCode (*notify)(EngineObject* device, std::uint16_t kind) noexcept;
  // 25: pixels for a size in points at the current zoom, at least 1.
  StatusCode (*pointsToPixels)(EngineObject* device, DeviceContext ctx, std::uint16_t points,
                               std::int16_t* pixels) noexcept;
  // 26: bit 15 set: a bullet (square for shape 3, else circle) from the
  // font's ascent e: (x, y - 9e/16, x + 3e/8, top + 3e/8). Bit 15 clear: the
  // number of the low 12 bits as "%u. " right-aligned on the baseline at (x, y).
  StatusCode (*drawListMarker)(EngineObject* device, DeviceContext ctx, std::int16_t x,
                               std::int16_t y, const DeviceFontSpec* font,
                               std::uint16_t marker) noexcept;
  // 27: DeviceImageKind; kMalformed for another kind; option bit 0 doubles
  // the size.
  StatusCode (*drawImage)(EngineObject* device, DeviceContext ctx, std::int16_t x, std::int16_t y,
                          std::uint16_t kind, std::int32_t option, const void* image) noexcept;
  // 28: a bar at (x, y), width + 2 x margin wide, height 0 = standard.
  // kNoFreeHScrollBar, kOutOfMemory, kFailed.
  StatusCode (*createHScrollBar)(EngineObject* device, std::uint32_t key, std::int16_t x,
                                 std::int16_t y, std::int16_t width, std::int16_t height) noexcept;
  // 29-31, 33: kUnknownHScrollKey for a key not in use; 0 while printing.
  StatusCode (*removeHScrollBar)(EngineObject* device, std::uint32_t key) noexcept;
  StatusCode (*setHScrollBar)(EngineObject* device, std::uint32_t key, std::uint32_t position,
                              std::uint32_t pageEnd, std::uint32_t maximum) noexcept;
  // 31: moves the bar to (margin + x, y); flags bit 0 repaints it.
  StatusCode (*placeHScrollBar)(EngineObject* device, std::uint32_t key, std::int16_t x,
                                std::int16_t y, std::uint32_t flags) noexcept;
  // 32: the key of the bar with that control id; kNoHScrollForControl.
  StatusCode (*hScrollKeyFromWindow)(EngineObject* device, std::uint32_t controlId,
                                     std::uint32_t* key) noexcept;
  StatusCode (*invalidateHScrollBar)(EngineObject* device, std::uint32_t key) noexcept;
  // 34: a line of the pen width; width 0 fills the rectangle (x1, y1)-(x2, y2).
  StatusCode (*drawRule)(EngineObject* device, DeviceContext ctx, std::int16_t x1, std::int16_t y1,
                         std::int16_t x2, std::int16_t y2, std::uint16_t ruleStyle,
                         std::uint16_t width, const DeviceColour* colour) noexcept;
  // 35-37, 39: command sets; kNotSupported for an unknown code. 35 is
  // PosMapCommand (pos_map.h), 36 TableStoreCommand (table_store.h), 37 the
  // drop-down list control, 39 the note box.
  StatusCode (*posMapCommand)(EngineObject* device, std::uint16_t code, void* in,
                              void* out) noexcept;
  StatusCode (*tableStoreCommand)(EngineObject* device, std::uint16_t code, void* in,
                                  void* out) noexcept;
  StatusCode (*selectCtlCommand)(EngineObject* device, std::uint16_t code, void* in,
                                 void* out) noexcept;
  // 38: hands a vCalendar (0) or vCard (1) object to the system.
  // kNotSupported for another kind; 0x80080003 / 0x80080004 for the
  // temporary folder and name; kFailed when writing or opening fails.
  StatusCode (*openVObject)(EngineObject* device, std::uint16_t kind, std::uint32_t count,
                            const void* data) noexcept;
  // 39: the note box; every device hands it to NoteBox_Command (note_box.h),
  // which holds the contract of each code. The record (in) and the note text
  // belong to the caller; the pixels saved under an open box, to the device.
  StatusCode (*noteBoxCommand)(EngineObject* device, std::uint16_t code, void* in,
                               void* out) noexcept;
  // 40: width of "View/Edit" (0) or "Delete" (1) in the current font; kFailed
  // for another value.
  StatusCode (*measureUiString)(EngineObject* device, DeviceContext ctx, std::uint16_t which,
                                std::int16_t* width) noexcept;
  // 41: draws that text like DrawText.
  StatusCode (*drawUiString)(EngineObject* device, std::uint16_t which, std::int16_t* x,
                             std::int16_t* y) noexcept;
  CoreEndWord end;  // 42
};

// The slots a device class supplies. MakeDeviceOps fills in word 0 and the end
// word, so a device's table names every slot it serves by name.
struct DeviceClassSlots {
  decltype(DeviceOps::create) create;
  decltype(DeviceOps::destroy) destroy;
  decltype(DeviceOps::setProperty) setProperty;
  decltype(DeviceOps::getProperty) getProperty;
  decltype(DeviceOps::beginDraw) beginDraw;
  decltype(DeviceOps::endDraw) endDraw;
  decltype(DeviceOps::copyArea) copyArea;
  decltype(DeviceOps::surfaceCommand) surfaceCommand;
  decltype(DeviceOps::validateRect) validateRect;
  decltype(DeviceOps::fillRect) fillRect;
  decltype(DeviceOps::invertRect) invertRect;
  decltype(DeviceOps::drawBox) drawBox;
  decltype(DeviceOps::selectFont) selectFont;
  decltype(DeviceOps::measureText) measureText;
  decltype(DeviceOps::getCharPositions) getCharPositions;
  decltype(DeviceOps::measureWidth) measureWidth;
  decltype(DeviceOps::setTextOrigin) setTextOrigin;
  decltype(DeviceOps::restoreTextAlign) restoreTextAlign;
  decltype(DeviceOps::drawText) drawText;
  decltype(DeviceOps::setVScroll) setVScroll;
  decltype(DeviceOps::clipboardBegin) clipboardBegin;
  decltype(DeviceOps::clipboardCommit) clipboardCommit;
  decltype(DeviceOps::clipboardAppend) clipboardAppend;
  decltype(DeviceOps::notify) notify;
  decltype(DeviceOps::pointsToPixels) pointsToPixels;
  decltype(DeviceOps::drawListMarker) drawListMarker;
  decltype(DeviceOps::drawImage) drawImage;
  decltype(DeviceOps::createHScrollBar) createHScrollBar;
  decltype(DeviceOps::removeHScrollBar) removeHScrollBar;
  decltype(DeviceOps::setHScrollBar) setHScrollBar;
  decltype(DeviceOps::placeHScrollBar) placeHScrollBar;
  decltype(DeviceOps::hScrollKeyFromWindow) hScrollKeyFromWindow;
  decltype(DeviceOps::invalidateHScrollBar) invalidateHScrollBar;
  decltype(DeviceOps::drawRule) drawRule;
  decltype(DeviceOps::posMapCommand) posMapCommand;
  decltype(DeviceOps::tableStoreCommand) tableStoreCommand;
  decltype(DeviceOps::selectCtlCommand) selectCtlCommand;
  decltype(DeviceOps::openVObject) openVObject;
  decltype(DeviceOps::noteBoxCommand) noteBoxCommand =
      CoreStub<decltype(DeviceOps::noteBoxCommand)>::NotSupported;
  decltype(DeviceOps::measureUiString) measureUiString;
  decltype(DeviceOps::drawUiString) drawUiString;
};

constexpr DeviceOps MakeDeviceOps(const DeviceClassSlots& c) {
  return DeviceOps{
      Core_NotImplemented,
      c.create,
      c.destroy,
      c.setProperty,
      c.getProperty,
      c.beginDraw,
      c.endDraw,
      c.copyArea,
      c.surfaceCommand,
      c.validateRect,
      c.fillRect,
      c.invertRect,
      c.drawBox,
      c.selectFont,
      c.measureText,
      c.getCharPositions,
      c.measureWidth,
      c.setTextOrigin,
      c.restoreTextAlign,
      c.drawText,
      c.setVScroll,
      c.clipboardBegin,
      c.clipboardCommit,
      c.clipboardAppend,
      c.notify,
      c.pointsToPixels,
      c.drawListMarker,
      c.drawImage,
      c.createHScrollBar,
      c.removeHScrollBar,
      c.setHScrollBar,
      c.placeHScrollBar,
      c.hScrollKeyFromWindow,
      c.invalidateHScrollBar,
      c.drawRule,
      c.posMapCommand,
      c.tableStoreCommand,
      c.selectCtlCommand,
      c.openVObject,
      c.noteBoxCommand,
      c.measureUiString,
      c.drawUiString,
      Core_NotImplemented,
  };
}

inline const DeviceOps& DeviceOf(const EngineObject* device) {
  return OpsOf<DeviceOps>(device);
}

// Sets the host window and its size without the width-0 ambiguity of SetProperty.
StatusCode Device_SetWindow(EngineObject* device, void* window, std::int16_t width,
                            std::int16_t height) noexcept;

// Shared font arithmetic of every device: the point size after the zoom
// index of the display word (index 2 leaves it, 0 turns 10 into 14), and the
// fixed sizes used in plain mode or with fixed sizes on.
std::int32_t Device_ZoomPoints(std::uint16_t zoomIndex, std::int32_t points) noexcept;
std::int32_t Device_FixedPoints(std::uint16_t zoomIndex) noexcept;

// The rules below are kept once for every device, so that the window device
// and the recording fake cannot drift apart.

// DeviceProp::FaceName: the face slot a record sets (0 for 0xFFFF, the
// default face; 1-5 as they are) or -1 for a slot that is ignored, and in
// *length the characters of the name that are kept: up to the NUL, at most
// kDeviceFaceNameMax (0 for a null name).
constexpr std::uint32_t kDeviceFaceNameMax = 31;
int Device_FaceName(const DeviceFaceName& face, std::uint32_t* length) noexcept;

// The default colours: the window colour of fills and clears, black for
// lines, frames and text.
constexpr DeviceColour kDeviceWindowColour{255, 255, 255};
constexpr DeviceColour kDeviceBlack{0, 0, 0};

// The colour theme of DeviceProp::Theme, SuspendTheme and ResumeTheme.
// Suspending stops the theme's text, line and frame colours; fills keep the
// theme background.
struct DeviceTheme {
  bool on = false;
  bool suspended = false;
  DeviceColour text{0, 255, 0};
  DeviceColour background{255, 0, 0};
};

// DeviceProp::Theme: null turns the theme off; else it is on and the two
// entries set the text (slot 1) and background (slot 2) colours, any other
// slot is ignored. A colour no entry sets is its default (text green,
// background red), never the one of an earlier theme. Suspension is left as
// it is.
void Device_SetTheme(DeviceTheme* theme, const DeviceThemeEntry* entries) noexcept;

// Fills (FillRect and clears): the window colour in plain mode; the theme
// background when the theme is on, suspended or not, and for a null colour
// too, so that the text view's clears show the theme; else the colour, or
// the window colour for a null one.
DeviceColour Device_FillColour(const DeviceColour* colour, bool plainMode,
                               const DeviceTheme& theme) noexcept;
// Lines, frames and list markers: black in plain mode; the theme text colour
// when the theme is on and not suspended; else the colour, or black for null.
DeviceColour Device_LineColour(const DeviceColour* colour, bool plainMode,
                               const DeviceTheme& theme) noexcept;

// What DrawBox paints once frame or fill is given: the frame always, in the
// line colour of the frame colour; the fill only with a fill colour and not
// under an active theme, white in plain mode.
struct DeviceBoxColours {
  bool filled;
  DeviceColour fill;
  DeviceColour frame;
};
DeviceBoxColours Device_BoxColours(const DeviceColour* frame, const DeviceColour* fill,
                                   bool plainMode, const DeviceTheme& theme) noexcept;

// The text colour and background a font selection brings. Plain mode: only
// PlainInverse changes anything (white on an opaque black). Otherwise the
// text colour is the theme's when it is on and not suspended, else the
// font's with TextColour, else unchanged; the background is the font's with
// BackWins, else the active theme's, else the font's with BackColour, else
// transparent.
struct DeviceTextColours {
  bool changeText = false;  // false: the current text colour stays
  DeviceColour text{};
  bool opaque = false;  // false: transparent background
  DeviceColour background{};
};
DeviceTextColours Device_TextColours(const DeviceFontSpec& spec, bool plainMode,
                                     const DeviceTheme& theme) noexcept;

// The dotted-underline offset below the y of SetTextOrigin:
// baseline reference descent - 1 when descent < 3, else 2; bottom reference
// -1; top reference kDeviceNoUnderline (no dotted underline).
constexpr std::int16_t kDeviceNoUnderline = 0x7FFF;
std::int16_t Device_UnderlineOffset(std::uint32_t flags, std::int16_t descent) noexcept;

// The bullet of a list marker at (x, y) with a font of ascent e:
// (x, y - 9e/16) with sides 3e/8, clamped to 16 bits.
DeviceRect Device_BulletBox(std::int16_t x, std::int16_t y, std::int32_t ascent) noexcept;

// A scroll bar's values from the engine's (position, page end, maximum), for
// the vertical bar and the horizontal ones alike: page end clamped to the
// maximum and the position to the page end; page = page end - position. For
// a bar whose range leaves out the page shown, the bar fields: its last
// position is maximum - page + 1 (maximum for an empty page), values beyond
// int range clamped.
struct DeviceScroll {
  std::uint32_t position;
  std::uint32_t page;
  std::uint32_t maximum;
  int barMaximum;  // the last position such a bar can take
  int barPage;
  int barValue;
};
DeviceScroll Device_ScrollValues(std::uint32_t position, std::uint32_t pageEnd,
                                 std::uint32_t maximum) noexcept;

// The keys of the kMaxHScrollBars horizontal bars: slot i has control id
// kHScrollFirstControlId + i; kNoHScrollKey marks a free slot and is never
// a key.
class DeviceHScrollKeys {
 public:
  DeviceHScrollKeys() noexcept { keys_.fill(kNoHScrollKey); }
  // The slot of a key in use, or -1.
  int Find(std::uint32_t key) const noexcept;
  // Takes the first free slot for the key: the slot, or -1 when all are in
  // use (or the key is kNoHScrollKey).
  int Acquire(std::uint32_t key) noexcept;
  // Frees a slot; slots out of range are ignored.
  void Release(int slot) noexcept;
  // The slot of a control id whose slot is in use, or -1.
  int SlotOfControl(std::uint32_t controlId) const noexcept;
  std::uint32_t KeyAt(int slot) const noexcept { return keys_[slot]; }
  int InUse() const noexcept;
  int First() const noexcept;  // first slot in use, or -1

 private:
  std::array<std::uint32_t, kMaxHScrollBars> keys_;
};

// The one replaceable clock of the device-side services: a millisecond tick
// that wraps at 32 bits. A null tick reads the system clock.
struct DeviceClock {
  std::uint32_t (*tick)(void* user) noexcept;
  void* user;
};
std::uint32_t Device_SystemTick() noexcept;  // steady clock, ms, wrapping
std::uint32_t Device_Tick(const DeviceClock& clock) noexcept;

// The progress protocol of PosMapCommand 10-14, kept by every device.
struct DeviceProgress {
  std::uint32_t interval;  // ms, 0 = off
  std::uint32_t stamp;
  ProgressCallback callback;
  void* userData;
};

// Runs codes 10-14 on the device's progress record: 10 sets the interval
// (in: u32*); 11 stores the callback (in) and its user data (out) as the
// pointers themselves; 12 begins (kProgressStop without an interval, else
// calls back with (0, 0), stamps the time and answers the callback's result);
// 13 steps (in: u32* done, out: u32* total; kProgressStop without an interval
// or once the interval since 12 has elapsed, else the callback's result; the
// stamp is not renewed); 14 ends (calls back with (1, 0)). kNotSupported for
// other codes, kNullOutPointer for a missing in-pointer of 10.
StatusCode Device_ProgressCommand(EngineObject* device, DeviceProgress* progress,
                                  const DeviceClock& clock, std::uint16_t code, void* in,
                                  void* out) noexcept;
