// The text view's own records and the operations its parts share: the line
// table, history, snapshots, annotation binding and the view body. Only the
// view's sources (and white-box tests) include this; hosts use text_view.h.
#pragma once

#include <cstdint>

#include "engine/device/note_box.h"
#include "engine/device/select_ctl.h"
#include "engine/stores/annot_store.h"
#include "engine/view/text_view.h"

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

// The note shown in the note box while mode 5 lasts: at most 510 bytes of
// its text (NoteBoxFlag::Partial when cut), its entry in the annotation
// store, and the box's state record, which points at the text.
constexpr std::uint32_t kNoteEditTextMax = 510;
struct NoteEdit {
  char text[kNoteEditTextMax + 2];  // room to see that a note is longer
  AnnotEntry entry;
  std::uint32_t textLength;
  NoteBox box;
};

// The view's side of the annotation file: the path, the store (opened on
// first need and handed to the handler with document control 34), the note
// being edited and the two values the last edit left (the button chosen and
// the note's index, read by AnnotCommand 6 and 7).
struct AnnotBinding {
  std::uint16_t pathLength;  // UTF-16 units
  char16_t* path;            // zero-terminated, owned
  AnnotStore* store;         // null = not open
  NoteEdit* edit;            // the note being edited, null = none
  std::uint16_t chosenButton;
  std::uint16_t noteIndex;
};

// The drop-down list open in mode 4 (the view's focusControl): the element
// it belongs to, the list state the device's control runs on, and where the
// element stands on the screen.
struct TextViewList {
  std::uint32_t elementOffset;
  std::uint32_t elementTarget;
  SelectCtl ctl;
  std::int16_t x, y, height, ascent;
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
  bool pressNote;  // the pressed element is a note (its target is its start)
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
  TextViewList* focusControl;  // the open drop-down list, owned
  AnnotBinding* annotBinding;
  std::uint32_t printStart, printEnd;  // 0 = the section's own
};

inline TextView& TextViewOf(EngineObject* view) {
  return BodyOf<TextView>(view);
}

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
  ~TextViewDrawScope() { (void)Finish(kOk); }  // Finish was not called: a failure path
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

// ---------------------------------------------------------------------------
// Pointer events, selection and copy (text_view_pointer.cpp).

// For drawing with kDrawSelection: the selection in style 1 on the laid-out
// lines it touches (it is kept as offsets, so it survives any re-layout).
StatusCode TextView_DrawSelection(TextView& v, DeviceContext ctx) noexcept;
// Moves the selection's caret to the offset under the last pointer position,
// drawing only the difference (or nothing when draw is false).
StatusCode TextView_ExtendSelection(TextView& v, bool draw) noexcept;
// A marked found range is redrawn plainly and emptied (unless selection
// is true); otherwise the selection is redrawn plainly and the caret set to
// the anchor.
StatusCode TextView_Unmark(TextView& v, bool selection) noexcept;
// Copies [from, to) to the clipboard through the handler's CopyRange.
StatusCode TextView_CopyRange(TextView& v, std::uint32_t from, std::uint32_t to) noexcept;
// The offset of the end of the document (the handler's GetSectionRange for the last section).
StatusCode TextView_DocumentEnd(TextView& v, std::uint32_t* end) noexcept;
// The end offset of the laid-out lines (the first offset without lines).
std::uint32_t TextView_EndOffset(const TextView& v) noexcept;

// ---------------------------------------------------------------------------
// Link focus, activation and the drop-down list (text_view_links.cpp).

// Draws the focus off and forgets that it is shown.
void TextView_HideFocus(TextView& v) noexcept;
// The link at offset from the handler's GetLinkAt: its class (0 or a kDocLink/kDocTarget
// status) with its range and target; kNotFound when no link lies there (a
// handler without links answers a failure, which counts as none).
StatusCode TextView_LinkAt(TextView& v, std::uint32_t offset, std::uint32_t* start,
                           std::uint32_t* end, std::uint32_t* target) noexcept;
// Acts on a link of the class (GetLinkAt's answer), links disabled answering
// kViewLinkPressed: 0 remembers the position and goes to the target;
// kDocLinkHostCode keeps the target for Control 0 (kViewHostActs);
// kDocLinkNoTarget answers kViewNoTarget; a select list opens
// (kViewListOpen); calendar and card objects go to the device (OpenVObject);
// image maps first turn the point (relative to the image; null: 0, 0) into a
// target (document control 33); other classes are answered as they are.
StatusCode TextView_Activate(TextView& v, StatusCode linkClass, std::uint32_t start,
                             std::uint32_t target, const DevicePoint* point) noexcept;
// Opens the drop-down list of the element at offset with target; x and y
// place it, height and ascent are those of the element's line.
StatusCode TextView_OpenList(TextView& v, std::uint32_t offset, std::uint32_t target,
                             std::int16_t x, std::int16_t y, std::int16_t height,
                             std::int16_t ascent) noexcept;
// Pointer events while the list is open (mode 4).
StatusCode TextView_ListPointer(TextView& v, std::uint16_t event, std::int16_t x,
                                std::int16_t y) noexcept;
// The list commands of Control 15, 16, 38, 39 and 40.
StatusCode TextView_ListControl(TextView& v, std::uint16_t code, std::uint32_t argument,
                                void* io) noexcept;
// Navigate codes in modes 4 and 5 become keys of the list or the note box;
// kNotSupported when the code is not one of them.
StatusCode TextView_RouteKey(TextView& v, std::uint16_t code) noexcept;
// Ends an open list (cancelled, its items released) and an open note box;
// mode 0, no drag.
void TextView_LeaveModes(TextView& v) noexcept;

// ---------------------------------------------------------------------------
// Annotation binding and note box (text_view_annot.cpp).

// True (with the note's range) when the open store has a note at offset.
bool TextView_NoteAt(TextView& v, std::uint32_t offset, std::uint32_t* start,
                     std::uint32_t* end) noexcept;
// Opens the note box on the note at offset; the anchor is the point and the
// line (its text box from lineTop to lineBottom).
StatusCode TextView_OpenNoteBox(TextView& v, std::uint32_t offset, std::int16_t x, std::int16_t y,
                                std::int16_t lineTop, std::int16_t lineBottom) noexcept;
// Pointer events while the note box is open (mode 5).
StatusCode TextView_NotePointer(TextView& v, std::uint16_t event, std::int16_t x,
                                std::int16_t y) noexcept;
// Answers of the note box turned into the view's (mode 5 ends on a close).
StatusCode TextView_NoteAnswer(TextView& v, StatusCode answer) noexcept;
void TextView_FreeNoteEdit(TextView& v) noexcept;

// ---------------------------------------------------------------------------
// Control and position-list commands (text_view_control.cpp).

// Hides the focus, remembers the position and goes to offset (not aligned).
StatusCode TextView_JumpTo(TextView& v, std::uint32_t offset) noexcept;
