// Document handlers: one table of operations, DocHandlerOps, behind which
// every document format the reader shows is served (plain text, Palm Doc,
// 'RaZo' and the native format).
//
// A handler class is a module object {null, &table}; its ModuleTable entry is
// g_TextDocModule, g_PalmDocModule, g_RaZoDocModule or g_NativeDocModule.
// Create and the probe codes 16-19 of Command are called on the class,
// every other slot on an instance. An instance is an EngineInstance<Body>
// whose body holds a DocHandlerSettings; create zeroes the body and resets the
// settings (DocHandler_ResetSettings).
//
// A handler never holds a device: the caller passes its device (and drawing
// context) into every measuring and drawing slot. Flowing text is laid out,
// drawn, hit-tested and copied by shared defaults (flow_text.h) that handlers
// place in their tables; the defaults reach the text and the other slots only
// through the handler's own table, so a handler that replaces one slot (say
// LayoutLine) changes the behaviour of every default that uses it.
//
// Text positions are u32 byte offsets into the handler's decoded text. Widths
// and heights are i16 pixels; kDocUnboundedWidth (32000) means no limit.
// Out-pointers are written only on success unless a slot says otherwise;
// optional outputs may be null.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/runtime/core.h"

struct AnnotStore;  // engine/stores/annot_store.h

// ---------------------------------------------------------------------------
// Facility 0x711 (documents).

// Probe answers.
constexpr StatusCode kDocProbeTextHeader = MakeInfo(Facility::DocHandler, 0x01);  // plain text, 17
constexpr StatusCode kDocProbeText = MakeInfo(Facility::DocHandler, 0x02);  // acceptable as text
constexpr StatusCode kDocProbeMine = MakeInfo(Facility::DocHandler, 0x03);  // this handler's format
// BackgroundStep: background work complete.
constexpr StatusCode kDocStepDone = MakeInfo(Facility::DocHandler, 0x04);
// GetLinkAt target classes.
constexpr StatusCode kDocLinkHostCode = MakeInfo(Facility::DocHandler, 0x05);  // host resolves
constexpr StatusCode kDocLinkNoTarget = MakeInfo(Facility::DocHandler, 0x06);
// LayoutPassStep: the table layout pass is not finished.
constexpr StatusCode kDocTablePassPending = MakeInfo(Facility::DocHandler, 0x07);
// Alignment of a block line, answered by a newline probe of LayoutLine.
constexpr StatusCode kDocBlockLeft = MakeInfo(Facility::DocHandler, 0x08);
constexpr StatusCode kDocBlockCentre = MakeInfo(Facility::DocHandler, 0x09);
constexpr StatusCode kDocBlockRight = MakeInfo(Facility::DocHandler, 0x0A);
// Special link targets.
constexpr StatusCode kDocTargetSelectList = MakeInfo(Facility::DocHandler, 0x0C);  // 0x7FF0xxxx
constexpr StatusCode kDocTargetCalendar = MakeInfo(Facility::DocHandler, 0x0D);    // 0x70xxxxxx
constexpr StatusCode kDocTargetCard = MakeInfo(Facility::DocHandler, 0x0E);        // 0x71xxxxxx
constexpr StatusCode kDocTargetImageMap = MakeInfo(Facility::DocHandler, 0x0F);    // 0x7FF1xxxx
constexpr StatusCode kDocImageMapHit = MakeInfo(Facility::DocHandler, 0x10);
// Failures.
constexpr StatusCode kDocBeyondDecoded = MakeFailure(Facility::DocHandler, 0x01);  // Palm Doc
constexpr StatusCode kDocBadListIndex = MakeFailure(Facility::DocHandler, 0x02);
constexpr StatusCode kDocListNotLocked = MakeFailure(Facility::DocHandler, 0x03);
constexpr StatusCode kDocListEmpty = MakeFailure(Facility::DocHandler, 0x04);
constexpr StatusCode kDocBookmarkTooShort = MakeFailure(Facility::DocHandler, 0x05);  // < 20 bytes
constexpr StatusCode kDocListTooShort = MakeFailure(Facility::DocHandler, 0x06);
constexpr StatusCode kDocListNameTooLong = MakeFailure(Facility::DocHandler, 0x07);  // > 255
constexpr StatusCode kDocMalformed = MakeFailure(Facility::DocHandler, 0x09);
// Record 0 invalid or written by a newer version.
constexpr StatusCode kDocNewerVersion = MakeFailure(Facility::DocHandler, 0x0A);

// ---------------------------------------------------------------------------
// Records passed across the interface.

constexpr std::int16_t kDocUnboundedWidth = 32000;
constexpr std::uint16_t kDefaultDocCharset = 2252;  // windows-1252
constexpr std::uint32_t kRunToEnd = 0xFFFFFFFFu;    // GetCharStyle: run lasts to the end

// One per instance, inside its body.
struct DocHandlerSettings {
  std::uint32_t flags;           // DocFlag bits; set and cleared by controls 8 and 9
  std::uint16_t charsetId;       // MIBenum of the text; 2252 after a reset
  AnnotStore* annotationSource;  // marks colour the text; null = none (control 34)
};

namespace DocFlag {
constexpr std::uint32_t RightAlign = 1u << 0;    // GetCharStyle answers alignment 2
constexpr std::uint32_t DoubleImages = 1u << 1;  // images drawn at twice their size
}  // namespace DocFlag

// The font part of a character style is the device's font request:
// DeviceFontSpec {faceClass (0xFFFF default), size (points, default 10),
// style (DeviceFontStyle bits plus the two below), text colour, background
// (mark) colour}.
namespace DocFontFlag {
constexpr std::uint16_t SetLow = 1u << 5;   // drawn a third of the shift base lower
constexpr std::uint16_t SetHigh = 1u << 6;  // drawn half the shift base higher
// An annotation mark sets BackWins | PlainInverse with the mark colour.
constexpr std::uint16_t AnnotationMark = DeviceFontStyle::BackWins | DeviceFontStyle::PlainInverse;
}  // namespace DocFontFlag

// The format part of a character style (14 bytes stored, all zero by default).
struct CharFormat {
  std::uint16_t formatFlags;  // DocFormat bits
  std::uint8_t leftIndent;    // points; moves the line start right and narrows the line
  std::uint8_t rightIndent;   // points; narrows the line
  std::uint8_t leftIndent2;
  std::uint8_t rightIndent2;
  std::int8_t shiftIndent;     // points; > 0 moves right and narrows, < 0 moves left and widens
  std::uint8_t minHeightCode;  // minimum line height in points; 0 none
  std::uint16_t markerShape;   // list marker drawn through DrawListMarker; 0 none
  std::uint16_t minWidth;      // minimum width of a one-character line (pixels or percent)
  std::uint16_t breakHeight;   // line height used with DocFormat::NativeBreak
};

namespace DocFormat {
constexpr std::uint16_t AlignMask = 0x0003;  // 0 left, 1 centred, 2 right
constexpr std::uint16_t AlignLeft = 0;
constexpr std::uint16_t AlignCentre = 1;
constexpr std::uint16_t AlignRight = 2;
// The line begins with a marker character; the text is indented by 12 points.
constexpr std::uint16_t MarkerParagraph = 1u << 2;
constexpr std::uint16_t MinWidthPercent = 1u << 3;  // minWidth is a percentage (<= 100)
constexpr std::uint16_t NativeBreak = 1u << 4;      // newline height from breakHeight
constexpr std::uint16_t BlockIndent = 1u << 5;      // indent by 12 points
}  // namespace DocFormat
// markerShape bit 15: draw the marker 12 points left of the text.
constexpr std::uint16_t kMarkerLeftOfText = 0x8000;

struct CharStyle {
  DeviceFontSpec font;
  CharFormat format;
};

// Written by LayoutLine, read by the drawing and hit-testing slots.
struct LineMetrics {
  std::int16_t reserved0;  // not written by the handlers
  std::int16_t reserved1;
  std::int16_t width;   // used by the line's text; the newline probe passes the free width here
  std::int16_t height;  // largest ascent + largest depth, or the minimum height when larger
  std::int16_t indent;  // x of the first character from the left edge (indents, alignment)
  std::int16_t ascent;  // line top to baseline
  std::int16_t top;     // space above the line box (the box starts at y + top)
  std::int16_t extra;   // space below the line box
};

// Controls 13 to 18: the handler walks the links inside the window
// [windowStart, windowEnd) and answers the current one in the last two fields.
struct LinkRange {
  std::uint32_t windowStart;
  std::uint32_t windowEnd;
  std::uint32_t linkStart;
  std::uint32_t linkEnd;
};

// Control 19 record: does part of [rangeStart, rangeEnd) lie on the visible
// part of the line drawn at (x, y)? Answered kYes or kNo (see
// DocHandler_MeasureRun).
struct DocLinkVisibility {
  EngineObject* device;
  DeviceContext ctx;
  std::int16_t x;
  std::int16_t y;
  const LineMetrics* metrics;
  std::uint32_t lineStart;
  std::uint32_t lineEnd;
  std::uint32_t rangeStart;
  std::uint32_t rangeEnd;
  std::int16_t rightLimit;   // exclusive
  std::int16_t bottomLimit;  // exclusive
};

// Controls 0 and 1: a link's target described for the host (control 0,
// value = the target GetLinkAt gave) and resolved to a position in this
// document (control 1, into value). texts are NUL-terminated engine
// allocations the caller frees when their owned bit is set: text[0] the
// target's first text (the document or string to open), text[1] an anchor
// name, text[2] a second name or a kind byte (DocLinkFlag::HasValue).
struct DocLinkTarget {
  char* text[3];
  std::uint32_t value;
  std::uint16_t flags;  // DocLinkFlag
  std::uint16_t length[3];
};
namespace DocLinkFlag {
constexpr std::uint16_t HasText0 = 0x01;
constexpr std::uint16_t HasName = 0x02;
constexpr std::uint16_t HasItem3 = 0x04;
constexpr std::uint16_t HasValue = 0x08;
constexpr std::uint16_t OwnedText0 = 0x10;
constexpr std::uint16_t OwnedName = 0x20;
constexpr std::uint16_t OwnedItem3 = 0x40;
}  // namespace DocLinkFlag

// HitTest's optional hit box.
struct HitBox {
  std::int16_t width;   // of the character hit
  std::int16_t height;  // the line height
  std::int16_t x;       // left of the character (same origin as the hit x)
  std::int16_t ascent;  // the line's ascent
};

// ---------------------------------------------------------------------------
// Command codes. The low 16 bits of the code are used.
namespace DocCommand {
constexpr std::uint32_t Close = 0;             // drop the attachment, held records, caches; 0
constexpr std::uint32_t ProbeNone = 16;        // no data
constexpr std::uint32_t ProbeHeader = 17;      // object = 78-byte header, value = its length
constexpr std::uint32_t ProbeStream = 18;      // object = stream (78 bytes read at 0)
constexpr std::uint32_t ProbeDatabase = 19;    // object = open record database
constexpr std::uint32_t AttachText = 33;       // plain text: object = bytes, value = length
constexpr std::uint32_t AttachStream = 34;     // plain text: object = stream
constexpr std::uint32_t OpenDatabase = 35;     // object = record database
constexpr std::uint32_t SetTextPointer = 49;   // plain text; answers kMalformed
constexpr std::uint32_t SetStream = 50;        // plain text; answers kMalformed
constexpr std::uint32_t ReplaceDatabase = 51;  // swap the database object without re-reading
}  // namespace DocCommand
constexpr std::uint32_t kDocProbeHeaderSize = 78;  // header bytes a probe needs
constexpr std::uint32_t kDocTypeOffset = 60;       // type code in a database header
constexpr std::uint32_t kDocCreatorOffset = 64;    // creator code

// Control codes. The common ones (8, 9, 23-25, 34, 35) are served
// by DocHandler_Control; the others belong to the handler that defines them.
namespace DocControl {
constexpr std::uint16_t FindTarget = 0;     // native: find a target by code ('RaZo': resolve)
constexpr std::uint16_t ResolveTarget = 1;  // native: resolve; 'RaZo': anchor by name
constexpr std::uint16_t IsLinkAt = 4;       // native: kYes / kNo
constexpr std::uint16_t SetInSlice = 5;
constexpr std::uint16_t ClearInSlice = 6;
constexpr std::uint16_t HeaderBytes = 7;
constexpr std::uint16_t SetFlags = 8;    // flags |= value
constexpr std::uint16_t ClearFlags = 9;  // flags &= ~value
constexpr std::uint16_t GetString = 12;
constexpr std::uint16_t LinkWalkFirst = 13;  // 13..18 walk links over a LinkRange
constexpr std::uint16_t LinkWalkLast = 18;
constexpr std::uint16_t RangeVisible = 19;  // record: DocLinkVisibility; kYes / kNo
constexpr std::uint16_t StartPosition = 20;
constexpr std::uint16_t StartSection = 21;
constexpr std::uint16_t DocumentCharset = 22;
constexpr std::uint16_t SetCharset = 23;       // charsetId = low 16 bits of value
constexpr std::uint16_t GetCharset = 24;       // record: out u16
constexpr std::uint16_t Reset = 25;            // flags 0, charset 2252
constexpr std::uint16_t SelectListFirst = 26;  // 26..30 select lists
constexpr std::uint16_t SelectListLast = 30;
constexpr std::uint16_t ExtraString = 31;
constexpr std::uint16_t FreeBuffer = 32;
constexpr std::uint16_t ImageMapHit = 33;
constexpr std::uint16_t SetAnnotations = 34;  // record: the AnnotStore* (null on close)
constexpr std::uint16_t GetAnnotations = 35;  // record: out AnnotStore*
}  // namespace DocControl

// BookmarkOp sub-codes: an operation in steps of 16 plus the list
// number in the low nibble. Anything outside 16..224 or with a list the
// handler does not have answers kNotSupported.
namespace DocBookmark {
constexpr std::uint16_t ListMask = 16;     // out u16: bit n set when list n exists
constexpr std::uint16_t Capability = 32;   // out u32
constexpr std::uint16_t LongestName = 48;  // out u16
constexpr std::uint16_t Count = 64;        // out u16
constexpr std::uint16_t GetValue = 80;     // out u32 position of entry index
constexpr std::uint16_t SetValue = 96;     // in u32 new position of entry index
constexpr std::uint16_t GetNames = 112;    // out const char** array (freed by FreeNames)
constexpr std::uint16_t FreeNames = 128;   // record = the array
constexpr std::uint16_t Insert = 144;      // DocBookmarkInsert; at index (appends past the end)
constexpr std::uint16_t Delete = 160;
constexpr std::uint16_t Rename = 176;  // DocBookmarkRename
constexpr std::uint16_t Move = 192;    // in u16 j
constexpr std::uint16_t Find = 208;    // DocBookmarkFind; kNotFound when absent
constexpr std::uint16_t Sort = 224;
constexpr std::uint16_t OperationMask = 0xFFF0;
constexpr std::uint16_t ListMaskBits = 0x000F;
}  // namespace DocBookmark

// Names are 8-bit, NUL-terminated.
struct DocBookmarkInsert {
  const char* name;
  const std::uint32_t* value;
};
struct DocBookmarkRename {
  const char* name;
};
struct DocBookmarkFind {
  const char* name;
  std::uint16_t index;  // out
};

// GetSectionInfo policy bits.
namespace DocSectionPolicy {
constexpr std::uint16_t MoveOnRequest = 1u << 0;  // a screen move at a section end needs asking
constexpr std::uint16_t NeverOnScreen = 1u << 1;  // screen moves never change section
}  // namespace DocSectionPolicy
// GetSectionFlags bit (native): the section needs pagination before it is shown.
constexpr std::uint32_t kSectionNeedsPagination = 1u << 0;

// ---------------------------------------------------------------------------
// The table. Every slot takes the handler first (the class for 1 and the
// probes) and returns a StatusCode; kNoMore is the generic "nothing more"
// (no such section, past the end).
struct DocHandlerOps {
  CoreEndWord word0;
  // 1: a new instance, body zeroed and settings reset. kOutOfMemory.
  StatusCode (*create)(EngineObject* module, EngineObject** out) noexcept;
  // 2: releases buffers, caches and held records (writing back what the
  // format keeps changed) and frees the object; 0.
  StatusCode (*destroy)(EngineObject* handler) noexcept;
  // 3: DocCommand codes; kMalformed for codes the handler does not know.
  StatusCode (*command)(EngineObject* handler, std::uint32_t code, void* object,
                        std::uint32_t value) noexcept;
  // 4: one unit of background work: 0 more to do, kDocStepDone complete.
  StatusCode (*backgroundStep)(EngineObject* handler) noexcept;
  // 5: DocSectionPolicy bits and the section count (>= 1); each optional.
  StatusCode (*getSectionInfo)(EngineObject* handler, std::uint16_t* policy,
                               std::uint16_t* count) noexcept;
  // 6: lays out one line from start, not past end, within width.
  // *nextStart: where the next line starts (> start whenever 0 is answered).
  // kNoMore when there is nothing to lay out: start at or past end, or the
  // newline probe (end = start + 1, width 0, nextStart null, the free width
  // of the asking line in metrics->width): a plain newline is not a line of
  // its own; a format with special newline lines answers 0 with their
  // metrics (a positive width makes it a block), or kDocBlockLeft/Centre/
  // Right to align the asking line. The marker probe of a marker paragraph
  // has the same shape with metrics->width = -1 on entry: a width still -1
  // on return says the marker is the text after the marker character.
  StatusCode (*layoutLine)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                           std::uint32_t start, std::uint32_t end, std::int16_t width,
                           std::uint32_t* nextStart, LineMetrics* metrics) noexcept;
  // 7: the line holding the character before position; outputs optional.
  // kFailed when position is at or below lowerBound or no text is readable.
  StatusCode (*findLine)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                         std::uint32_t position, std::uint32_t lowerBound, std::int16_t width,
                         std::uint32_t* start, std::uint32_t* end, LineMetrics* metrics) noexcept;
  // 8: start of the line lying *height above position. On return *height is
  // the summed height of the lines walked (0 when position <= lowerBound),
  // *overlap (in: the space kept below the last line; out: the top of the
  // line answered) and *lineCount the lines walked; overlap and lineCount
  // optional.
  StatusCode (*findLineAbove)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                              std::uint32_t position, std::uint32_t lowerBound, std::int16_t width,
                              std::uint32_t reserved, std::uint32_t* start, std::int16_t* height,
                              std::int16_t* overlap, std::int16_t* lineCount) noexcept;
  // 9: fills the line box (x, y + top) to (right, y + top + height).
  StatusCode (*drawLineBackground)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                   std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                                   std::int16_t right, std::uint16_t reserved,
                                   std::uint32_t lineStart, std::uint32_t lineEnd) noexcept;
  // 10: draws a laid-out line at (x, y) (y is the top of the line's slot);
  // kNoMore when start equals end (a format may draw a special newline on
  // the empty range at a LF).
  StatusCode (*drawLine)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                         std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                         std::uint32_t start, std::uint32_t end) noexcept;
  // 11: inverts the rectangle of [rangeStart, rangeEnd) in the line; when x1
  // equals x2 both come from PositionToX. style: 0 plain, 1 selected.
  StatusCode (*invertRange)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                            std::uint16_t style, std::int16_t x, std::int16_t y,
                            const LineMetrics* metrics, std::uint32_t lineStart, std::int16_t x1,
                            std::int16_t x2, std::uint32_t rangeStart,
                            std::uint32_t rangeEnd) noexcept;
  // 12: the text range of a section; kNoMore past the last.
  StatusCode (*getSectionRange)(EngineObject* handler, std::int16_t section, std::uint32_t* start,
                                std::uint32_t* end) noexcept;
  // 13: the section holding position; outputs optional; kNoMore at or past
  // the text length.
  StatusCode (*findSection)(EngineObject* handler, std::uint32_t position, std::int16_t* section,
                            std::uint32_t* start, std::uint32_t* end) noexcept;
  // 14: section flags (kSectionNeedsPagination); kNoMore past the sections.
  StatusCode (*getSectionFlags)(EngineObject* handler, std::int16_t section,
                                std::uint32_t* flags) noexcept;
  // 15: the character under (x, y) of a line drawn at (0, 0): its range in
  // *rangeStart/*rangeEnd; a point left of the indent or above the line
  // answers lineStart twice, one below it lineEnd twice. box optional.
  StatusCode (*hitTest)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                        std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                        std::uint32_t lineStart, std::uint32_t lineEnd, HitBox* box,
                        std::uint32_t* rangeStart, std::uint32_t* rangeEnd) noexcept;
  // 16: x offsets, from the line's indent, of rangeStart and rangeEnd within
  // the line starting at lineStart.
  StatusCode (*positionToX)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                            std::uint32_t lineStart, std::uint32_t rangeStart,
                            std::uint32_t rangeEnd, std::int16_t* x1, std::int16_t* x2) noexcept;
  // 17: copies [from, to) (ends in either order) to the device clipboard;
  // the clipboard is committed in every case.
  StatusCode (*copyRange)(EngineObject* handler, EngineObject* device, std::uint32_t from,
                          std::uint32_t to) noexcept;
  // 18: the text length in bytes.
  StatusCode (*getTextLength)(EngineObject* handler, std::uint32_t* length) noexcept;
  // 19: copies [from, to) into buffer, never more than capacity bytes;
  // *copied (optional) = the bytes written, fewer when the text ends early.
  // from > to: kBadArgument. A failed read: its failure (*copied still says
  // what was written).
  StatusCode (*readRange)(EngineObject* handler, std::uint32_t from, std::uint32_t to,
                          std::uint8_t* buffer, std::uint32_t capacity,
                          std::uint32_t* copied) noexcept;
  // 20: *text = decoded bytes at position, *length (in: wanted) cut to what
  // is contiguous (at most 4096). At or past the end: null, 0 and 0. kFailed
  // when the text cannot be read. The pointer stays valid at least until
  // the next text access of the handler.
  StatusCode (*getText)(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                        std::uint32_t* length) noexcept;
  // 21: as 20 for the *length bytes ending at position; position 0 or past
  // the end: null, 0 and 0.
  StatusCode (*getTextBefore)(EngineObject* handler, std::uint32_t position,
                              const std::uint8_t** text, std::uint32_t* length) noexcept;
  // 22: the style at position and the end of its run (kRunToEnd: to the end
  // of the text); font and format optional. Callers treat a failure as the
  // defaults (DocHandler_InitCharStyle).
  StatusCode (*getCharStyle)(EngineObject* handler, EngineObject* device, std::uint32_t position,
                             DeviceFontSpec* font, CharFormat* format,
                             std::uint32_t* runEnd) noexcept;
  // 23: link range and target at position; the status classifies the
  // target: 0 a position in this document, kDocLinkHostCode, kDocLinkNoTarget,
  // kDocTargetSelectList .. kDocTargetImageMap.
  StatusCode (*getLinkAt)(EngineObject* handler, std::uint32_t position, std::uint32_t* start,
                          std::uint32_t* end, std::uint32_t* target) noexcept;
  // 24: DocBookmark sub-code, entry index, record as the sub-code says.
  StatusCode (*bookmarkOp)(EngineObject* handler, std::uint16_t subCode, std::uint16_t index,
                           void* record) noexcept;
  // 25: DocControl codes; kNotSupported for unknown ones.
  StatusCode (*control)(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                        void* record) noexcept;
  // 26: native table layout pass (sub-codes 0/1 start, 2 continues;
  // kDocTablePassPending while unfinished). Others: 0 at once.
  StatusCode (*layoutPassStep)(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                               std::uint16_t subCode, std::uint16_t section,
                               std::uint32_t* word) noexcept;
  CoreEndWord end;  // 27
};

inline const DocHandlerOps& DocOpsOf(const EngineObject* handler) {
  return OpsOf<DocHandlerOps>(handler);
}

// ---------------------------------------------------------------------------
// Common parts shared by every handler (doc_handler.cpp).

// flags 0, charset 2252; the annotation source is kept.
void DocHandler_ResetSettings(DocHandlerSettings* settings) noexcept;
// The common controls on an instance's settings: 8, 9, 23, 24 (record: out
// u16), 25, 34 (record: the AnnotStore*), 35 (record: out AnnotStore*);
// kNotSupported for any other code; kNullOutPointer for a missing out record.
StatusCode DocHandler_Control(DocHandlerSettings* settings, std::uint16_t code, std::uint32_t value,
                              void* record) noexcept;
// Font {0xFFFF, 10, 0}, colours zero, format all zero. Either part may be null.
void DocHandler_InitCharStyle(DeviceFontSpec* font, CharFormat* format) noexcept;
// The class probes (ProbeHeader, ProbeStream, ProbeDatabase) of a
// record-database format told by its type and creator codes: kDocProbeMine
// when claims accepts them, else kMalformed (also for a missing or short
// header and an unreadable stream or database).
using DocTypeTest = bool (*)(const std::uint8_t* type, const std::uint8_t* creator);
StatusCode DocHandler_ProbeDatabaseType(std::uint32_t code, void* object, std::uint32_t value,
                                        DocTypeTest claims) noexcept;
// BackgroundStep of handlers with no background work: kDocStepDone.
StatusCode DocHandler_StepDone(EngineObject* handler) noexcept;
// BookmarkOp of handlers without lists: ListMask and Count write u16 0,
// Capability u32 0 (each kNullOutPointer without a record); everything else
// kNotSupported.
StatusCode DocHandler_BookmarkOp(EngineObject* handler, std::uint16_t subCode, std::uint16_t index,
                                 void* record) noexcept;
