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

// PointerEvent codes.
namespace TextViewPointer {
constexpr std::uint16_t Press = 1;
constexpr std::uint16_t Move = 2;
constexpr std::uint16_t Release = 3;
constexpr std::uint16_t SelectPress = 4;  // select the character under the point
constexpr std::uint16_t SelectMove = 5;   // extend the selection to the point
constexpr std::uint16_t SelectRelease = 7;
constexpr std::uint16_t DragScroll = 8;  // by (x, y): x to the right, y > 0 shows text below
constexpr std::uint16_t Probe = 9;
constexpr std::uint16_t Hover = 10;
constexpr std::uint16_t FullRelease = 11;
constexpr std::uint16_t EndTap = 12;
constexpr std::uint16_t SelectUnitDrag = 13;
constexpr std::uint16_t SelectUnit = 14;
constexpr std::uint16_t MoveCaret = 15;
constexpr std::uint16_t Unmark = 16;
}  // namespace TextViewPointer

// SelectionCommand codes.
namespace TextViewSelection {
constexpr std::uint16_t Enter = 1;
constexpr std::uint16_t Leave = 2;
constexpr std::uint16_t AutoScroll = 3;  // one step of the host's timer while dragging
constexpr std::uint16_t CopySelection = 4;
constexpr std::uint16_t CopyScreen = 5;  // the laid-out lines
constexpr std::uint16_t CopySection = 6;
constexpr std::uint16_t CopyDocument = 7;
constexpr std::uint16_t Erase = 8;
constexpr std::uint16_t ClearPlain = 9;
constexpr std::uint16_t DrawPlain = 10;
constexpr std::uint16_t DrawMarked = 11;
constexpr std::uint16_t AutoScrollQuiet = 12;  // without drawing the caret's move
constexpr std::uint16_t HasSelection = 13;
}  // namespace TextViewSelection

// FocusCommand codes.
namespace TextViewFocus {
constexpr std::uint16_t First = 0;
constexpr std::uint16_t Last = 1;
constexpr std::uint16_t Previous = 2;
constexpr std::uint16_t Next = 3;
constexpr std::uint16_t Above = 4;
constexpr std::uint16_t Below = 5;
constexpr std::uint16_t Activate = 6;
constexpr std::uint16_t IsShown = 7;
constexpr std::uint16_t Hide = 8;
}  // namespace TextViewFocus

// ---------------------------------------------------------------------------
// Records the host and the handler exchange through the view.

// Control 0, 2 and 18: a link description the handler fills (document
// controls 0 and 1); texts whose owned bit (0x10, 0x20, 0x40 for texts 0, 1,
// 2) is set were allocated from the engine allocator and are freed by
// Control 18.
struct TextViewLinkDescription {
  char* text[3];
  std::uint32_t value;
  std::uint16_t flags;
  std::uint16_t length[3];
  std::uint32_t result;  // Control 2: the first word of the handler's answer
};
constexpr std::uint16_t kLinkTextOwned0 = 0x10;

// Control 28: the selected text. buffer null: the view allocates length + 1
// bytes (the caller frees them with Engine_Free); else the buffer holds
// capacity + 1 bytes. On return capacity is the length copied and a zero
// byte follows the text.
struct TextViewTextRange {
  std::uint32_t from;
  std::uint32_t to;
  std::uint8_t* buffer;
  std::uint32_t capacity;  // in: bytes wanted at most; out: the length
};

// Control 38: the open list's items.
struct TextViewListInfo {
  std::uint16_t itemCount;
  const char* const* items;
};

// Document control 33 (image maps): the point on the element's image turns
// into the target it names; the handler answers its link class and writes
// the target back.
// Answered kDocImageMapHit when an area holds the point: target then holds
// the area's target and linkClass its class (as GetLinkAt classifies).
struct TextViewImageMapHit {
  std::uint32_t start;
  std::uint32_t target;  // in: the element's target; out: the point's
  std::int16_t x, y;     // relative to the image
  StatusCode linkClass;  // out
};

// Document controls 31 and 32 for calendar and contact-card objects: 31
// (value = the target) fills data and size; 32 releases them.
struct TextViewObjectData {
  std::uint32_t target;
  std::uint16_t kind;  // kVObjectCalendar or kVObjectCard
  const void* data;
  std::uint32_t size;
};

// The drop-down list of a select-list element talks to the handler through
// document controls 26-29, value = the element's target: 26 fills the
// SelectCtl record (items, count, choice, flags), 27 releases its items, 28
// records the choice of the SelectCtl given (items null), and 29, with a u32
// record holding the chosen option, answers that option's link class and
// writes its target into the record. Flag bit 1 of the list means the
// choice only records a value (nothing is followed).

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
  // 10: pointer events (TextViewPointer codes), in view pixels. The link
  // focus is hidden first; in mode 4 the event goes to the open list, in
  // mode 5 to the note box. A press on a link answers kViewLinkPressed (mode
  // 3, the link drawn marked), on a drop-down list element kViewListOpen, on
  // a note kViewNoteBoxOpen; the probe answers kYes on an element or a note,
  // kNo on plain text; a drag that cannot move answers kViewDragImpossible.
  // Releases answer the activation's answer (TextView_Activate). Handler and
  // device failures are returned; every BeginDraw has its EndDraw.
  StatusCode (*pointerEvent)(EngineObject* view, std::uint16_t event, std::int16_t x,
                             std::int16_t y) noexcept;
  // 11: TextViewSelection codes. The selection is [min(anchor, caret),
  // max(anchor, caret)), kept as offsets (it survives re-layout and
  // re-pagination) and drawn by inverting what changes. Copies answer the
  // handler's copy (kOutOfMemory when the device cannot hold the text: the
  // clipboard then keeps what it had). Code 13 answers kNo when there is a
  // selection and kYes when there is none.
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
  // 16: position lists (bookmarks), see TextView_PositionListCommand.
  StatusCode (*positionListCommand)(EngineObject* view, std::uint16_t code, std::uint32_t argument,
                                    void* io) noexcept;
  // 17: (reserved word, code, value): 1 left, 2 right, 3 page left, 4 page
  // right, 5 home, 6 end, 7 absolute; kNotSupported for others. The step is
  // viewWidth / 16; offsets stay within [0, contentWidth - viewWidth].
  StatusCode (*scrollHorizontal)(EngineObject* view, std::uint32_t reserved, std::uint16_t code,
                                 std::uint32_t value) noexcept;
  // 18: control codes 0-42, see TextView_Control.
  StatusCode (*control)(EngineObject* view, std::uint16_t code, std::uint32_t argument,
                        void* io) noexcept;
  // 19: annotation commands, see TextView_AnnotCommand.
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
  // 32: link focus (TextViewFocus codes; argument bit 0 wraps the moves
  // 2-5). Moves answer 0 with a visible link focused and drawn, else the
  // handler's walk answer (kNoMore when the walk ended without one) and no
  // focus shown. Activate: kViewNoFocus without a shown, visible focus, else
  // TextView_Activate's answer. Shown?: kYes, or kNo (and the focus is
  // forgotten). kNotSupported for other codes.
  StatusCode (*focusCommand)(EngineObject* view, std::uint16_t code,
                             std::uint32_t argument) noexcept;
  CoreEndWord end;  // 33
};

extern EngineObject TextViewModule;

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

// PointerEvent, SelectionCommand, FocusCommand.
StatusCode TextView_PointerEvent(EngineObject* view, std::uint16_t event, std::int16_t x,
                                 std::int16_t y) noexcept;
StatusCode TextView_SelectionCommand(EngineObject* view, std::uint16_t code,
                                     std::uint32_t argument) noexcept;
StatusCode TextView_FocusCommand(EngineObject* view, std::uint16_t code,
                                 std::uint32_t argument) noexcept;

// Control (codes 0-42). Outputs go through io as each code says:
//  0 describe savedLinkTarget (TextViewLinkDescription, document control 0)
//  1 u32 first laid-out line's start; 7 u32 end offset; 8 u32 sectionStart;
//  9 u32 sectionEnd; 10 u32 end of the document; 11 u32 paginationCursor;
//  41 u32[2] {first start, end offset}
//  2 resolve (TextViewLinkDescription, document control 1)
//  3 go to offset *(u32*)io; 29 the same after hiding the focus and
//    remembering the position
//  4 save the reading state
//  5 u16 percentage of the section above the first line (99 when empty)
//  6 i16 how far a line down would move (0 at the section end)
//  12 write the whole text to the stream io, line feeds as CR LF, in the
//    document's charset; kFailed when the handler gives no text before the
//    end; a short write is kFailed
//  13 go to the document's start section
//  14 set the charset (argument = MIBenum, 0 = the handler's, else the
//    default, else windows-1252) on the handler, the device and the view
//  15, 16, 38, 39, 40 the open drop-down list (kViewNoList without one)
//  17 close the list and the note box before the document closes
//  18 free a TextViewLinkDescription's owned texts
//  19-25 the snapshot stack; 35-37 the visited-position list (35 remembers
//    *(u32*)io; 36/37 exchange it with the entry behind / ahead)
//  26 u32 selection length; 27 u32 anchor; 28 TextViewTextRange
//  30 up to argument u32 words: paginated, contentWidth, paginatedHeight
//  31 leave the list or note box, then unmark (argument 1: the selection)
//  32 i16 first line's place in 1/1024ths; 33 u32 found range marked;
//  34 draw the found range marked
//  42 set the print range {u32 start, u32 end} (0: the section's own)
// Unknown codes: kNotSupported.
StatusCode TextView_Control(EngineObject* view, std::uint16_t code, std::uint32_t argument,
                            void* io) noexcept;

// The codes of Control that hosts send (the list above says what each does).
namespace TextViewControl {
constexpr std::uint16_t DescribeLink = 0;
constexpr std::uint16_t FirstStart = 1;
constexpr std::uint16_t ResolveLink = 2;
constexpr std::uint16_t GoTo = 3;
constexpr std::uint16_t SaveState = 4;
constexpr std::uint16_t Percent = 5;
constexpr std::uint16_t LineHeight = 6;
constexpr std::uint16_t EndOffset = 7;
constexpr std::uint16_t SectionStart = 8;
constexpr std::uint16_t SectionEnd = 9;
constexpr std::uint16_t DocumentEnd = 10;
constexpr std::uint16_t WriteText = 12;
constexpr std::uint16_t StartSection = 13;
constexpr std::uint16_t Charset = 14;
constexpr std::uint16_t ListFinish = 15;
constexpr std::uint16_t ListCancel = 16;
constexpr std::uint16_t EndInteraction = 17;
constexpr std::uint16_t FreeLink = 18;
constexpr std::uint16_t SnapshotPush = 19;
constexpr std::uint16_t SnapshotBack = 20;  // 21 forward
constexpr std::uint16_t SnapshotLoad = 22;  // 23 forward
constexpr std::uint16_t SelectionLength = 26;
constexpr std::uint16_t SelectedText = 28;
}  // namespace TextViewControl

// PositionListCommand. code = operation (0x10-0xE0) + list; list 2 is the user's list in
// the settings database, the others the handler's (BookmarkOp). For list 2:
// 0x40 u16 count; 0x50 u32 value of entry argument; 0x60 sets it from
// *(u32*)io; 0x70 names (const char***); 0x80 frees them; 0x90 inserts a
// DocBookmarkInsert at argument; 0xA0 deletes; 0xB0 renames
// (DocBookmarkRename); 0xC0 moves to *(u16*)io; 0xD0 finds
// (DocBookmarkFind; kNotFound); 0xE0 sorts. Without a database list 2
// answers kDocBadListIndex (0x90-0xC0, 0x50, 0x60), kDocListEmpty (0x70),
// kNotFound (0xD0) or 0. 0x10 + list u16 list mask (bit 2 with a database),
// 0x20 + list u32 database attached, 0x30 + 2 u16 31. View codes: 0x1010 set
// the saved position (*(u32*)io, null: the first line); 0x1020 go to it;
// 0x1030 + list go to entry argument; 0x1040 + list set entry argument to
// the first line; 0x1050 + list insert (name io) at argument with the first
// line; 0x1060 page excerpt of at most argument bytes into io (argument + 1
// bytes); 0x1070 u32 saved position. Others kNotSupported.
StatusCode TextView_PositionListCommand(EngineObject* view, std::uint16_t code,
                                        std::uint32_t argument, void* io) noexcept;

// The codes of PositionListCommand that hosts send: operations take the list
// number added (0, 1, 2), view codes stand alone or take the list added
// where the list above says so.
namespace TextViewPosList {
constexpr std::uint16_t Count = 0x40;
constexpr std::uint16_t Names = 0x70;
constexpr std::uint16_t FreeNames = 0x80;
constexpr std::uint16_t MarkSet = 0x1010;
constexpr std::uint16_t MarkGo = 0x1020;
constexpr std::uint16_t GoTo = 0x1030;
constexpr std::uint16_t ReplacePosition = 0x1040;
constexpr std::uint16_t InsertHere = 0x1050;
constexpr std::uint16_t PageExcerpt = 0x1060;
constexpr std::uint16_t MarkGet = 0x1070;
constexpr std::uint32_t Append = 0xFFFF;  // InsertHere's argument: after the last entry
}  // namespace TextViewPosList

// AnnotCommand: 0 the store (AnnotStore** io), opened read-only
// when not open; 2 set the path (io = UTF-16, argument = units, 0: to the
// NUL; null io closes the binding); 3 copy the path into io of argument
// units (kIndexOutOfRange when it does not fit with its NUL); 4 commit the
// note box (kViewNoteBoxChosen when a button was chosen); 5 cancel it
// (kViewNoteBoxClosed); 6 / 7 the button chosen and the note's index of the
// last edit (u16 io; kFailed without a binding); 8 add the AnnotEntry io
// (the store opened for writing: a missing file is created, an existing one
// is never replaced); 9 close the store; 10 revalidate it; 11 go to note
// argument; 12 u16 number of notes. kViewNoAnnotPath without a path;
// kNotSupported for 1 and unknown codes.
namespace TextViewAnnot {
constexpr std::uint16_t StoreOf = 0;
constexpr std::uint16_t SetPath = 2;
constexpr std::uint16_t GetPath = 3;
constexpr std::uint16_t Commit = 4;
constexpr std::uint16_t Cancel = 5;
constexpr std::uint16_t Button = 6;
constexpr std::uint16_t Index = 7;
constexpr std::uint16_t Add = 8;
constexpr std::uint16_t GoTo = 11;
}  // namespace TextViewAnnot
StatusCode TextView_AnnotCommand(EngineObject* view, std::uint16_t code, std::uint32_t argument,
                                 void* io) noexcept;
