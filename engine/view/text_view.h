// The text view: the engine's view of one open document.
//
// A view shows one section of the document at a time (the sections, their
// ranges and their end-of-section policy come from the attached DocHandler),
// keeps the lines on screen in a line table, draws them through the output
// device, and moves through the document: lines, screens, sections, offsets,
// percentages and fractions, the jump history and the snapshot stack. A
// section is shown in continuous mode (the scroll range is its text offsets)
// until it has been paginated a time slice at a time into the device's
// position map; then it is shown in paged mode (the scroll range is its
// height in pixels). The view reads no clock: every time limit is the
// device's (PosMapCommand 4/5 and the progress protocol 10-14).
//
// Ownership: the view never owns its device, handler or settings database.
// It owns its line arrays, page cache, snapshot blocks and annotation
// binding, and frees them in Destroy. The host calls Create, SetDevice,
// SetOptions, then per document AttachDocument(handler, database),
// SetViewport on the first paint and on every resize, Paint, Navigate and the
// rest; AttachDocument(null, null) detaches; Destroy comes last.
//
// Reading state: record 0 of the per-document settings database from byte 4
// on, plus the history and annotation-path sub-records it names, belongs to
// the view (the settings store owns bytes 0-3 and the document record).
// Attaching restores it; Control 4 and Destroy save it.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/formats/doc_handler.h"
#include "engine/formats/pos_list.h"
#include "engine/runtime/core.h"

struct AnnotStore;

// ---------------------------------------------------------------------------
// Facility 0x722.
constexpr StatusCode kViewFindEnded = MakeInfo(Facility::TextView, 0x01);
constexpr StatusCode kViewLinkPressed = MakeInfo(Facility::TextView, 0x02);
constexpr StatusCode kViewMorePagination = MakeInfo(Facility::TextView, 0x03);
constexpr StatusCode kViewHostActs = MakeInfo(Facility::TextView, 0x04);
constexpr StatusCode kViewNoTarget = MakeInfo(Facility::TextView, 0x05);
constexpr StatusCode kViewDragImpossible = MakeInfo(Facility::TextView, 0x06);
constexpr StatusCode kViewListOpen = MakeInfo(Facility::TextView, 0x08);
constexpr StatusCode kViewListCancelled = MakeInfo(Facility::TextView, 0x09);
constexpr StatusCode kViewNoteBoxOpen = MakeInfo(Facility::TextView, 0x0A);
constexpr StatusCode kViewNoteBoxClosed = MakeInfo(Facility::TextView, 0x0B);
constexpr StatusCode kViewNoteBoxChosen = MakeInfo(Facility::TextView, 0x0C);
constexpr StatusCode kViewStateNotFirst = MakeFailure(Facility::TextView, 0x01);
constexpr StatusCode kViewStateTooShort = MakeFailure(Facility::TextView, 0x02);
constexpr StatusCode kViewSubRecordTooShort = MakeFailure(Facility::TextView, 0x05);
constexpr StatusCode kViewNoContent = MakeFailure(Facility::TextView, 0x07);
constexpr StatusCode kViewNotLaidOut = MakeFailure(Facility::TextView, 0x08);
constexpr StatusCode kViewNoFocus = MakeFailure(Facility::TextView, 0x09);
constexpr StatusCode kViewNoAnnotPath = MakeFailure(Facility::TextView, 0x0A);
constexpr StatusCode kViewNoList = MakeFailure(Facility::TextView, 0x0B);

// ---------------------------------------------------------------------------
// State words.

enum class TextViewMode : std::uint16_t {
  Idle = 0,
  Press = 1,           // press or drag on the text
  Selection = 2,       // selection mode
  LinkRelease = 3,     // a release is pending on a link
  ListOpen = 4,        // keys and pointer go to the drop-down list
  NoteBox = 5,         // keys and pointer go to the note box
  LinkReleaseAlt = 6,  // a release is pending on a link (second kind)
};

namespace TextViewFlag {
constexpr std::uint16_t Dragging = 0x0001;
constexpr std::uint16_t Accepted = 0x0002;  // the handler accepted the section for pagination
constexpr std::uint16_t Paginated = 0x0004;
constexpr std::uint16_t HScrollShown = 0x0008;
constexpr std::uint16_t PaginationFailed = 0x0010;
constexpr std::uint16_t NoSectionLayout = 0x0020;  // Navigate 28: moves by number do not lay out
constexpr std::uint16_t LinksDisabled = 0x0040;
constexpr std::uint16_t LinkWindowOpen = 0x0080;
constexpr std::uint16_t FocusShown = 0x0100;
constexpr std::uint16_t FocusDrawn = 0x0200;
}  // namespace TextViewFlag

namespace TextViewOption {
constexpr std::uint16_t GentleStart = 0x0001;  // animated moves start with 1-pixel steps
constexpr std::uint16_t CopyOnce = 0x0002;     // moves are shown by one area copy
constexpr std::uint16_t NeverPaginate = 0x0004;
constexpr std::uint16_t ScreenUpMask = 0x0030;    // 0/0x10/0x20/0x30: kinds 3/5/7/9
constexpr std::uint16_t ScreenDownMask = 0x00C0;  // 0/0x40/0x80/0xC0: kinds 4/6/8/10
}  // namespace TextViewOption

// SetViewport flags.
namespace TextViewViewport {
constexpr std::uint32_t ResetHScroll = 0x01;
constexpr std::uint32_t Relayout = 0x04;  // only empty the table and re-paginate
constexpr std::uint32_t ForceWidth = 0x08;
}  // namespace TextViewViewport

// Navigate codes.
namespace TextViewNav {
constexpr std::uint16_t LineUp = 1;
constexpr std::uint16_t LineDown = 2;
constexpr std::uint16_t ScreenUpFull = 5;  // 5, 7, 9: kinds; 6, 8, 10 down
constexpr std::uint16_t DocumentStart = 11;
constexpr std::uint16_t DocumentEnd = 12;
constexpr std::uint16_t SectionStart = 13;
constexpr std::uint16_t SectionEnd = 14;
constexpr std::uint16_t PreviousSection = 15;
constexpr std::uint16_t NextSection = 16;
constexpr std::uint16_t SectionByNumber = 17;
constexpr std::uint16_t Back = 18;
constexpr std::uint16_t Forward = 19;
constexpr std::uint16_t CanGoBack = 20;
constexpr std::uint16_t CanGoForward = 21;
constexpr std::uint16_t ClearHistory = 22;
constexpr std::uint16_t ClearList = 23;
constexpr std::uint16_t ScreenUp = 24;
constexpr std::uint16_t ScreenDown = 25;
constexpr std::uint16_t PaginationSlice = 26;
constexpr std::uint16_t Percent = 27;
constexpr std::uint16_t NoSectionLayout = 28;
constexpr std::uint16_t PrintFirst = 29;
constexpr std::uint16_t PrintNext = 30;
constexpr std::uint16_t DisableLinks = 31;
constexpr std::uint16_t Fraction = 32;
constexpr std::uint16_t SliceControl = 33;
}  // namespace TextViewNav

// ---------------------------------------------------------------------------
// Records.

// One line of the line table: the handler's LineMetrics, then what the view
// completes.
struct LineRecord {
  LineMetrics metrics;
  std::uint32_t start;      // offset of the line's first character
  std::int16_t xShift;      // 0
  std::uint16_t lineFlags;  // kLineWiderThanView
};
constexpr std::uint16_t kLineWiderThanView = 0x0001;

// The line table. lines[count].start is the offset just past the last line,
// so a table holds at most capacity - 1 lines. Walking down (the spacing
// rule): the first line's slot starts at extraTop; each line's slot is
// space before + height + space after, and the slot of the next line starts
// min(space after, next space before) above the bottom of the previous one.
struct LineTable {
  std::uint16_t capacity;
  std::uint16_t count;
  LineRecord* lines;    // null until SetViewport
  LineRecord* scratch;  // same capacity, only when viewHeight > 199
  std::int16_t extraTop;
  std::int16_t bottom;  // y just below the last line's space after
};

constexpr std::int16_t kViewMinLineHeight = 5;
constexpr std::uint32_t kViewHistorySize = 16;
constexpr std::uint32_t kViewSnapshotSize = 8;
constexpr std::uint32_t kViewSliceLines = 256;

// The in-document jump history: entries below position lie behind, entries
// from position to count ahead.
struct TextViewHistory {
  std::uint8_t count;
  std::uint8_t position;
  std::uint32_t entries[kViewHistorySize];
};

// The snapshot stack kept across documents. Each entry is a host-supplied
// holder word that points to a block of u32 words the view allocated:
// layout A {n, n entries, first line} or layout B {n, first line, n entries}.
// The view frees the blocks it keeps (and nulls their holders) when entries
// are dropped or the stack is cleared; a holder handed back to the host
// carries its block with it.
using SnapshotHolder = std::uint32_t**;
struct TextViewSnapshots {
  std::uint8_t count;
  std::uint8_t top;
  SnapshotHolder holders[kViewSnapshotSize];
};

// The view's side of the annotation file. This issue keeps only the path
// (restored from and saved to the reading state); the lazily opened store,
// the note edit and the AnnotCommand set are bound here by the annotation
// binding.
struct AnnotBinding {
  std::uint16_t pathLength;  // UTF-16 units
  char16_t* path;            // zero-terminated, owned
  AnnotStore* store;         // null = not open
  void* edit;                // the note being edited, null = none
  std::uint16_t chosenButton;
  std::uint16_t noteIndex;
};

struct PageCache;

struct TextView {
  std::uint16_t flags;    // TextViewFlag
  std::uint16_t options;  // TextViewOption
  TextViewMode mode;
  std::uint32_t charsetId;
  EngineObject* device;
  std::int16_t hScrollBarHeight;
  std::int16_t viewWidth;
  std::int16_t viewHeight;
  std::int16_t textHeight;
  std::int16_t scrollStep;
  std::int16_t minLineHeight;
  std::uint32_t topOffset;  // first line to show when the table is empty
  LineTable table;
  std::uint32_t topY;  // paged mode: section y of the first laid-out line
  PageCache* pageCache;
  EngineObject* handler;
  EngineObject* settingsDb;
  std::uint16_t sectionPolicy;  // DocSectionPolicy
  std::uint16_t sectionCount;
  std::uint16_t currentSection;
  bool hasSection;  // a section is current (an empty one at 0 included)
  std::uint32_t sectionStart;
  std::uint32_t sectionEnd;
  std::int16_t pointerX, pointerY;
  std::uint32_t selAnchor, selCaret;
  std::uint32_t foundStart, foundEnd;
  std::uint32_t pressOffset, pressEnd, pressTarget;
  TextViewHistory history;
  TextViewSnapshots snapshots;
  std::uint32_t savedPosition;  // 0xFFFFFFFF = none
  std::uint32_t savedLinkTarget;
  PosListHandle userListHandle;
  std::uint32_t paginationCursor;
  std::uint32_t paginatedHeight;
  std::int16_t prevSpaceAfter;
  std::uint16_t hScroll;
  std::int16_t contentWidth;
  LinkRange focusLink;
  void* focusControl;  // open drop-down list record, owned
  AnnotBinding* annotBinding;
  std::uint32_t printStart, printEnd;  // 0 = the section's own
};

// ---------------------------------------------------------------------------
// The table. Slot 0 and the end word answer kFailed.
struct TextViewOps {
  CoreEndWord word0;
  // 1 (module): a new, empty view (mode 0, savedPosition none). kOutOfMemory.
  StatusCode (*create)(EngineObject* module, EngineObject** out) noexcept;
  // 2: frees the page cache, clears the history, saves the reading state
  // when a database is attached, closes the annotation binding, frees the
  // line arrays, removes a shown horizontal bar and frees the view. The first
  // failure, else 0; the view is freed in every case.
  StatusCode (*destroy)(EngineObject* view) noexcept;
  // 3: stores the device (not owned); 0.
  StatusCode (*setDevice)(EngineObject* view, EngineObject* device) noexcept;
  // 4: attaches a handler and a settings database (either may be null; both
  // null detaches). Every attach closes interactive modes, clears the
  // pagination flags, frees the page cache, hands the annotation store back
  // (document control 34 with null to the old handler) and resets the line
  // table, history and selection; the arrays are kept. A handler's section
  // info failure is returned (count 0). A database whose reading state
  // cannot be read is forgotten and the attach succeeds.
  StatusCode (*attachDocument)(EngineObject* view, EngineObject* handler,
                               EngineObject* settingsDb) noexcept;
  // 5: stores the option word; 0.
  StatusCode (*setOptions)(EngineObject* view, std::uint16_t options) noexcept;
  // 6: TextViewViewport flags, width, height. Sizes the line table
  // ((height + 4) / 5 + 1 records, a second array above 199) and keeps the
  // reading position; a width change re-paginates. A failed allocation keeps
  // the previous table and answers kOutOfMemory.
  StatusCode (*setViewport)(EngineObject* view, std::uint32_t flags, std::int16_t width,
                            std::int16_t height) noexcept;
  // 7: the host context goes to BeginDraw; the rectangle is not read. Lays
  // out an empty table and draws every line. A failed BeginDraw, layout or
  // drawing is returned (EndDraw's failure when nothing else failed);
  // kViewNotLaidOut before SetViewport, kViewNoContent without a device.
  StatusCode (*paint)(EngineObject* view, DeviceContext ctx, std::int16_t left, std::int16_t top,
                      std::int16_t right, std::int16_t bottom) noexcept;
  // 8: TextViewNav codes; unknown codes answer 0. Moves that cannot happen
  // answer 0 or kNoMore and send the device notice of the case; failures of
  // the handler or the device are returned.
  StatusCode (*navigate)(EngineObject* view, std::uint16_t code, std::uint32_t argument) noexcept;
  // 9: continuous mode: shows sectionStart + value; paged mode: the section
  // y = value at the top.
  StatusCode (*setScrollPosition)(EngineObject* view, std::uint32_t value) noexcept;
  // 10, 11: pointer events and selection commands. 16: position-list
  // commands. 18: control codes. 19: annotation commands. 32: link focus.
  // Each answers kNotSupported until its part of the view is bound.
  StatusCode (*pointerEvent)(EngineObject* view, std::uint16_t event, std::int16_t x,
                             std::int16_t y) noexcept;
  StatusCode (*selectionCommand)(EngineObject* view, std::uint16_t code,
                                 std::uint32_t argument) noexcept;
  // 12-14: find in the view; contracts at TextView_FindStart and the others
  // in text_search.h.
  StatusCode (*findStart)(EngineObject* view, const std::uint8_t* pattern, std::uint32_t length,
                          std::uint32_t flags, EngineObject** search) noexcept;
  StatusCode (*findStep)(EngineObject* view, EngineObject* search, std::int16_t* percent) noexcept;
  StatusCode (*findFinish)(EngineObject* view, EngineObject* search) noexcept;
  // 15: current section + 1 and the section count, either out optional; 0.
  StatusCode (*getPageNumber)(EngineObject* view, std::uint16_t* page,
                              std::uint16_t* count) noexcept;
  StatusCode (*positionListCommand)(EngineObject* view, std::uint16_t code, void* in,
                                    void* out) noexcept;
  // 17: (reserved word, code, value): 1 left, 2 right, 3 page left, 4 page
  // right, 5 home, 6 end, 7 absolute; kNotSupported for others. The step is
  // viewWidth / 16; offsets stay within [0, contentWidth - viewWidth].
  StatusCode (*scrollHorizontal)(EngineObject* view, std::uint32_t reserved, std::uint16_t code,
                                 std::uint32_t value) noexcept;
  StatusCode (*control)(EngineObject* view, std::uint16_t code, std::uint32_t argument,
                        void* io) noexcept;
  StatusCode (*annotCommand)(EngineObject* view, std::uint16_t code, std::uint32_t argument,
                             void* io) noexcept;
  // 20-31: the page cache. A page is pageHeight pixels of the section; the
  // cache keeps up to 32 laid-out pages in LRU order. Edge flags: bit 0 the
  // page begins the section, bit 1 it ends it. Slots 21-31 answer kFailed
  // without a cache (30 also outside paged mode).
  StatusCode (*pageCacheReset)(EngineObject* view, std::int16_t width, std::int16_t height,
                               std::uint16_t* edges) noexcept;
  StatusCode (*pageCacheSetPageNumber)(EngineObject* view, std::int32_t page) noexcept;
  StatusCode (*pageCacheGetPageNumber)(EngineObject* view, std::int32_t* page) noexcept;
  // 23: moves to the page (at most 1000 pages at once, else kFailed) and
  // draws it when a context is given; blank = textHeight - bottom on a last
  // page that does not begin the section.
  StatusCode (*pageCacheGoToPage)(EngineObject* view, DeviceContext ctx, std::int32_t page,
                                  std::int16_t* blank, std::uint16_t* edges) noexcept;
  StatusCode (*pageCacheRelayoutPage)(EngineObject* view, std::int32_t page) noexcept;
  StatusCode (*pageCacheCopyPageLines)(EngineObject* view, std::int32_t page,
                                       std::int16_t y) noexcept;
  StatusCode (*pageCacheRefreshPage)(EngineObject* view, std::int32_t page, std::int16_t y,
                                     std::uint16_t* edges) noexcept;
  StatusCode (*pageCacheClampScroll)(EngineObject* view, std::int32_t page, std::int16_t y,
                                     std::int16_t* amount) noexcept;
  StatusCode (*pageCacheGetLineInfo)(EngineObject* view, std::int32_t page, std::uint16_t y,
                                     std::int16_t* step) noexcept;
  StatusCode (*pageCacheUpdateScrollBar)(EngineObject* view, std::int32_t page,
                                         std::int16_t y) noexcept;
  StatusCode (*pageCacheGetPageOfPosition)(EngineObject* view, std::int32_t* page,
                                           std::uint32_t* y) noexcept;
  StatusCode (*pageCacheGetPageStart)(EngineObject* view, std::int32_t page, std::int16_t y,
                                      std::int16_t* lineTop, std::uint32_t* lineOffset) noexcept;
  StatusCode (*focusCommand)(EngineObject* view, std::uint16_t code) noexcept;
  CoreEndWord end;  // 33
};

extern EngineObject TextViewModule;

inline TextView& TextViewOf(EngineObject* view) {
  return BodyOf<TextView>(view);
}

// The slots.
StatusCode TextView_Create(EngineObject* module, EngineObject** out) noexcept;
StatusCode TextView_Destroy(EngineObject* view) noexcept;
StatusCode TextView_SetDevice(EngineObject* view, EngineObject* device) noexcept;
StatusCode TextView_AttachDocument(EngineObject* view, EngineObject* handler,
                                   EngineObject* settingsDb) noexcept;
StatusCode TextView_SetOptions(EngineObject* view, std::uint16_t options) noexcept;
StatusCode TextView_SetViewport(EngineObject* view, std::uint32_t flags, std::int16_t width,
                                std::int16_t height) noexcept;
StatusCode TextView_Paint(EngineObject* view, DeviceContext ctx, std::int16_t left,
                          std::int16_t top, std::int16_t right, std::int16_t bottom) noexcept;
StatusCode TextView_Navigate(EngineObject* view, std::uint16_t code,
                             std::uint32_t argument) noexcept;
StatusCode TextView_SetScrollPosition(EngineObject* view, std::uint32_t value) noexcept;
StatusCode TextView_GetPageNumber(EngineObject* view, std::uint16_t* page,
                                  std::uint16_t* count) noexcept;
StatusCode TextView_ScrollHorizontal(EngineObject* view, std::uint32_t reserved, std::uint16_t code,
                                     std::uint32_t value) noexcept;
StatusCode PageCache_Reset(EngineObject* view, std::int16_t width, std::int16_t height,
                           std::uint16_t* edges) noexcept;
StatusCode PageCache_SetPageNumber(EngineObject* view, std::int32_t page) noexcept;
StatusCode PageCache_GetPageNumber(EngineObject* view, std::int32_t* page) noexcept;
StatusCode PageCache_GoToPage(EngineObject* view, DeviceContext ctx, std::int32_t page,
                              std::int16_t* blank, std::uint16_t* edges) noexcept;
StatusCode PageCache_RelayoutPage(EngineObject* view, std::int32_t page) noexcept;
StatusCode PageCache_CopyPageLines(EngineObject* view, std::int32_t page, std::int16_t y) noexcept;
StatusCode PageCache_RefreshPage(EngineObject* view, std::int32_t page, std::int16_t y,
                                 std::uint16_t* edges) noexcept;
StatusCode PageCache_ClampScroll(EngineObject* view, std::int32_t page, std::int16_t y,
                                 std::int16_t* amount) noexcept;
StatusCode PageCache_GetLineInfo(EngineObject* view, std::int32_t page, std::uint16_t y,
                                 std::int16_t* step) noexcept;
StatusCode PageCache_UpdateScrollBar(EngineObject* view, std::int32_t page,
                                     std::int16_t y) noexcept;
StatusCode PageCache_GetPageOfPosition(EngineObject* view, std::int32_t* page,
                                       std::uint32_t* y) noexcept;
StatusCode PageCache_GetPageStart(EngineObject* view, std::int32_t page, std::int16_t y,
                                  std::int16_t* lineTop, std::uint32_t* lineOffset) noexcept;

// ---------------------------------------------------------------------------
// Operations shared by the view's parts (and reached by the control,
// pointer, find and annotation commands). They take the body; each needs a
// device and a handler unless it says otherwise.

// The spacing rule: raises the height so that the slot is at least 5 high.
void TextView_ApplyMinHeight(LineRecord* line) noexcept;
// Slot height of a line placed below one whose space after is prevAfter
// (first line: 0).
std::int32_t TextView_SlotHeight(const LineRecord& line, std::int16_t prevAfter) noexcept;
// The line at y (count when past the last line) and its slot top.
std::uint16_t TextView_FindLineAtY(const TextView& v, std::int32_t y, std::int32_t* top) noexcept;
// The line holding offset (count when at or past the end offset) and its top.
std::uint16_t TextView_FindLineAtOffset(const TextView& v, std::uint32_t offset,
                                        std::int32_t* top) noexcept;
// The laid-out height below textHeight (0 when the lines fit).
std::int32_t TextView_GetOverflowHeight(const TextView& v) noexcept;
// Formats lines forward into lines[first...] until limit lines, the offset
// `to` or `fill` pixels are reached (the last line may be cut); the caller
// provides room for limit lines and the end record. *count lines were made,
// *next is the offset after them (also stored in lines[first + count].start)
// and *used their stacked height below a line whose space after was
// prevAfter.
StatusCode TextView_FormatLineRun(TextView& v, DeviceContext ctx, LineRecord* lines,
                                  std::uint16_t first, std::uint16_t limit, std::uint32_t from,
                                  std::uint32_t to, std::int32_t fill, std::int16_t prevAfter,
                                  std::uint16_t* count, std::uint32_t* next,
                                  std::int32_t* used) noexcept;
// The offset where text of `height` pixels ending at offset begins, and the
// extra top that places that start so the offset lands at y = height
// (positive when the section start came first).
StatusCode TextView_StartAbove(TextView& v, DeviceContext ctx, std::uint32_t offset,
                               std::int32_t height, std::uint32_t* start,
                               std::int32_t* extraTop) noexcept;
// Fills the table from offset with the given extra top; at the end of a
// section the screen is filled from above.
StatusCode TextView_Relayout(TextView& v, DeviceContext ctx, std::int32_t extraTop,
                             std::uint32_t offset) noexcept;
// The start of the line ending at offset, with its record when asked.
StatusCode TextView_LineBefore(TextView& v, DeviceContext ctx, std::uint32_t offset,
                               std::uint32_t* start, LineRecord* record) noexcept;
// The start of the line holding offset (clamped into the section).
StatusCode TextView_LineStartOf(TextView& v, DeviceContext ctx, std::uint32_t offset,
                                std::uint32_t* start) noexcept;
// Moves the view by amount pixels: positive shows text above, negative text
// below, at most textHeight; bounded by the section's ends. gentle asks an
// animated move for a soft start. *moved (optional) gets the signed amount
// really moved.
StatusCode TextView_ScrollBy(TextView& v, std::int32_t amount, bool gentle,
                             std::int32_t* moved) noexcept;
// Draws the lines of [first, first + count) that reach into [bandTop,
// bandBottom), the first slot starting at y. Flag 1 clears the band first;
// flag 2 draws the found range (and the selection) over them. A band that is
// the whole text height also gets the background below the last line.
constexpr std::uint16_t kDrawClear = 1;
constexpr std::uint16_t kDrawSelection = 2;
StatusCode TextView_DrawLines(TextView& v, DeviceContext ctx, std::uint16_t drawFlags,
                              std::uint16_t first, std::uint16_t count, std::int32_t y,
                              std::int32_t bandTop, std::int32_t bandBottom) noexcept;
// Inside a drawing: makes a section current when none is (the one holding
// topOffset) and lays out an empty table.
StatusCode TextView_EnsureLayout(TextView& v, DeviceContext ctx) noexcept;
// Formats a run into a scratch buffer only to measure it (see FormatLineRun);
// *lastAfter is the space after its last line.
StatusCode TextView_MeasureRun(TextView& v, DeviceContext ctx, std::uint32_t from, std::uint32_t to,
                               std::int32_t fill, std::int16_t prevAfter, std::uint16_t* count,
                               std::uint32_t* next, std::int32_t* used,
                               std::int16_t* lastAfter) noexcept;
// Clears and draws the whole table (outside Paint) and updates the bar.
StatusCode TextView_Redraw(TextView& v) noexcept;
StatusCode TextView_UpdateScrollBar(TextView& v) noexcept;
StatusCode TextView_SetContentWidth(TextView& v, std::int16_t width) noexcept;
void TextView_RemoveHScrollBar(TextView& v) noexcept;
// Empties the table with its first start at offset (topOffset follows).
void TextView_ResetTable(TextView& v, std::uint32_t offset) noexcept;
// The start of the first laid-out line, or topOffset.
std::uint32_t TextView_FirstOffset(const TextView& v) noexcept;
// True when the whole section is on screen.
bool TextView_ShowsWholeSection(const TextView& v) noexcept;

// Brackets drawing on the view's device: BeginDraw in the constructor,
// EndDraw exactly once (Finish, or the destructor when Finish was not
// called), so every begin has its end.
class TextViewDrawScope {
 public:
  TextViewDrawScope(EngineObject* device, DeviceContext ctx) noexcept;
  ~TextViewDrawScope() { Finish(kOk); }
  TextViewDrawScope(const TextViewDrawScope&) = delete;
  TextViewDrawScope& operator=(const TextViewDrawScope&) = delete;
  StatusCode status() const noexcept { return status_; }
  DeviceContext ctx() const noexcept { return ctx_; }
  // Ends drawing; EndDraw's failure is answered when result is not a failure.
  StatusCode Finish(StatusCode result) noexcept;

 private:
  EngineObject* device_;
  DeviceContext ctx_;
  StatusCode status_;
  bool open_;
};

// Pagination.
StatusCode TextView_BeginPagination(TextView& v, std::uint16_t keep) noexcept;
// 0 (nothing to do, or just finished), kViewMorePagination or a failure.
StatusCode TextView_PaginateSlice(TextView& v) noexcept;
StatusCode TextView_Paginate(TextView& v, std::uint16_t keep) noexcept;
void PageCache_Free(TextView& v) noexcept;
// Looks into the cache (for tests and diagnostics): pages kept, the pool's
// free runs as (index, length) pairs in list order, the pending delta.
std::uint16_t PageCache_CachedPages(const TextView& v) noexcept;
std::uint16_t PageCache_FreeRuns(const TextView& v, std::uint16_t* pairs,
                                 std::uint16_t capacity) noexcept;
std::int32_t PageCache_PendingDelta(const TextView& v) noexcept;

// Navigation.
StatusCode TextView_GoToSection(TextView& v, std::uint16_t section) noexcept;
// Makes the section holding offset current when needed (kNoMore from the
// handler means the last section) and clamps offset into it.
StatusCode TextView_EnsureSectionOf(TextView& v, std::uint32_t* offset) noexcept;
StatusCode TextView_GoToOffset(TextView& v, std::uint32_t offset, bool align) noexcept;
StatusCode TextView_ShowOffset(TextView& v, std::uint32_t offset) noexcept;
// Lays out with the line holding offset at the top and draws.
StatusCode TextView_ShowAtTop(TextView& v, std::uint32_t offset) noexcept;
void TextView_PushVisited(TextView& v, std::uint32_t offset) noexcept;
void TextView_HideFocus(TextView& v) noexcept;
// The snapshot stack (Controls 19-25): push stores a layout A block in the
// holder; back and forward replace the entry and hand its old holder to
// *handed (null when none); load takes a block (null empties the list) in
// layout A or B, frees it and goes to its position. Back and forward take
// the host's new holder in *io and give back the replaced one.
StatusCode TextView_SnapshotPush(TextView& v, SnapshotHolder holder) noexcept;
StatusCode TextView_SnapshotBack(TextView& v, SnapshotHolder* io) noexcept;
StatusCode TextView_SnapshotForward(TextView& v, SnapshotHolder* io) noexcept;
StatusCode TextView_SnapshotLoad(TextView& v, std::uint32_t* block, bool layoutB) noexcept;
void TextView_ClearSnapshots(TextView& v) noexcept;
// Exchanges a host value with the history entry behind (back) or ahead
// without moving the view (Controls 36 and 37); kNoMore when there is none.
StatusCode TextView_HistoryExchange(TextView& v, bool back, std::uint32_t* value) noexcept;

// Reading state.
constexpr std::uint32_t kReadingStateShort = 16;
constexpr std::uint32_t kReadingStateLong = 32;
// Restores from the attached database; start is the handler's start
// position record (control 20) or null.
StatusCode TextView_RestoreReadingState(TextView& v, const std::uint8_t* start) noexcept;
// Saves into the attached database (0 without one).
StatusCode TextView_SaveReadingState(TextView& v) noexcept;
// The annotation binding's path (length 0: measure to the terminator; null
// clears the binding). Closes an open store first.
StatusCode TextView_SetAnnotationPath(TextView& v, const char16_t* path,
                                      std::uint32_t length) noexcept;
// Hands the store back (document control 34 with null) and closes it.
StatusCode TextView_CloseAnnotationStore(TextView& v) noexcept;
void TextView_FreeAnnotationBinding(TextView& v) noexcept;

// ---------------------------------------------------------------------------
// Find in the view (text_view_find.cpp): what TextViewOps slots 12-14 call,
// driving the literal find engine.
// They take the view object; the search travels through the view's slots as
// an opaque handle (the TextSearch the engine made).
// 12: hides the link focus; the search starts where the reader looks: with no
//  found range at the first laid-out line's start (forward) or the end offset
//  of the laid-out lines (backward); with one at its end (forward) or start
//  (backward), so a repeated find goes on past the last hit. Then the old
//  marks go (a selection in selection mode, else the found range: redrawn in
//  style 0 and emptied) and the engine starts with flags & 0x1F over the
//  current section. kViewNoContent without a handler; the engine's failure.
StatusCode TextView_FindStart(EngineObject* view, const std::uint8_t* pattern, std::uint32_t length,
                              std::uint32_t flags, EngineObject** search) noexcept;
// 13: one engine step; kViewFindEnded when the engine says the search ended.
StatusCode TextView_FindStep(EngineObject* view, EngineObject* search,
                             std::int16_t* percent) noexcept;
// 14: finishes (frees) the search. No hit: kNotFound and nothing changes. A
//  hit not wholly on the screen is brought there (the current position goes
//  to the history, the hit's line near the middle); it becomes the found
//  range, drawn in style 1; 0.
StatusCode TextView_FindFinish(EngineObject* view, EngineObject* search) noexcept;

// The pieces, for the view's other parts and for tests.
std::uint32_t TextView_FindStartPosition(const TextView& v, bool backward) noexcept;
// True when [start, end) lies wholly on the screen: within the laid-out
// lines, not in a first line cut at the top, and not reaching into the last
// line unless all the lines fit in textHeight.
bool TextView_HitOnScreen(const TextView& v, std::uint32_t start, std::uint32_t end) noexcept;
// Inverts [from, to) in `style` (0 plain, 1 marked) on the laid-out lines it
// touches, through the handler's InvertRange; inside a drawing, or opening
// one of its own (DrawRange).
StatusCode TextView_DrawRangeOnLines(TextView& v, void* ctx, std::uint16_t style,
                                     std::uint32_t from, std::uint32_t to) noexcept;
StatusCode TextView_DrawRange(TextView& v, std::uint16_t style, std::uint32_t from,
                              std::uint32_t to) noexcept;
// For drawing with kDrawSelection: a found range scrolled off the laid-out
// lines is dropped (its end set to its start); one on them is drawn in
// style 1.
StatusCode TextView_DrawFoundRange(TextView& v, void* ctx) noexcept;
