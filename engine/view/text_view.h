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
