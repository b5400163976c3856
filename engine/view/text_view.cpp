// The text view object: creation, attach, viewport and teardown.
#include "engine/view/text_view_internal.h"

#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"

namespace {

void FreeArrays(TextView& v) noexcept {
  Engine_Free(v.table.lines);
  Engine_Free(v.table.scratch);
  v.table.lines = nullptr;
  v.table.scratch = nullptr;
  v.table.capacity = 0;
  v.table.count = 0;
}

// Interactive modes end with the document they belong to.
void LeaveModes(TextView& v) noexcept {
  TextView_LeaveModes(v);
  v.flags &= static_cast<std::uint16_t>(~(TextViewFlag::Dragging | TextViewFlag::LinkWindowOpen |
                                          TextViewFlag::FocusShown | TextViewFlag::FocusDrawn));
}

std::int16_t ScrollStepFor(std::int16_t height) noexcept {
  return static_cast<std::int16_t>(height >= 161 && height <= 199 ? height / 8 : height / 10);
}

}  // namespace

StatusCode TextView_Create(EngineObject*, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  void* block = nullptr;
  const StatusCode s = Engine_Alloc(sizeof(EngineInstance<TextView>), &block);
  if (s != kOk) return s;
  std::memset(block, 0, sizeof(EngineInstance<TextView>));
  auto* instance = new (block) EngineInstance<TextView>{};
  instance->header.state = &instance->body;
  instance->header.ops = TextViewModule.ops;
  TextView& v = instance->body;
  v.mode = TextViewMode::Idle;
  v.charsetId = 0;
  v.savedPosition = 0xFFFFFFFFu;
  v.minLineHeight = kViewMinLineHeight;
  *out = &instance->header;
  return kOk;
}

StatusCode TextView_Destroy(EngineObject* view) noexcept {
  if (view == nullptr) return kNullOutPointer;
  TextView& v = TextViewOf(view);
  PageCache_Free(v);
  TextView_ClearSnapshots(v);
  // The position list is saved with the reading state before it goes.
  StatusCode result = TextView_SaveReadingState(v);
  v.history.count = v.history.position = 0;
  const StatusCode closed = TextView_CloseAnnotationStore(v);
  if (result == kOk && IsFailure(closed)) result = closed;
  TextView_FreeAnnotationBinding(v);
  LeaveModes(v);
  FreeArrays(v);
  TextView_RemoveHScrollBar(v);
  Engine_Free(view);
  return IsFailure(result) ? result : kOk;
}

StatusCode TextView_SetDevice(EngineObject* view, EngineObject* device) noexcept {
  TextViewOf(view).device = device;
  return kOk;
}

StatusCode TextView_SetOptions(EngineObject* view, std::uint16_t options) noexcept {
  TextViewOf(view).options = options;
  return kOk;
}

StatusCode TextView_AttachDocument(EngineObject* view, EngineObject* handler,
                                   EngineObject* settingsDb) noexcept {
  TextView& v = TextViewOf(view);
  TextView_RemoveHScrollBar(v);
  // Everything that belongs to the old document goes first: its interactive
  // modes, its annotation store (handed back to its handler), its pagination
  // and its cached pages.
  LeaveModes(v);
  // A store that fails to close (its header not written) is reported once
  // the new document is attached.
  const StatusCode closed = TextView_CloseAnnotationStore(v);
  TextView_FreeAnnotationBinding(v);
  PageCache_Free(v);
  v.flags &= static_cast<std::uint16_t>(
      ~(TextViewFlag::Accepted | TextViewFlag::Paginated | TextViewFlag::PaginationFailed));
  v.handler = handler;
  v.settingsDb = settingsDb;
  if (handler == nullptr && settingsDb == nullptr) return closed;

  v.sectionPolicy = v.sectionCount = v.currentSection = 0;
  v.hasSection = false;
  v.sectionStart = v.sectionEnd = 0;
  v.viewWidth = 0;
  v.hScroll = 0;
  v.contentWidth = 0;
  v.pointerX = v.pointerY = 0;
  v.userListHandle = PosListHandle{};
  v.prevSpaceAfter = 0;
  v.selAnchor = v.selCaret = v.foundStart = v.foundEnd = 0;
  v.history.count = v.history.position = 0;
  v.savedPosition = 0xFFFFFFFFu;
  v.paginationCursor = v.paginatedHeight = 0;
  v.focusLink = LinkRange{};
  v.topY = 0;
  v.printStart = v.printEnd = 0;
  TextView_ResetTable(v, 0);

  if (handler != nullptr) {
    const StatusCode s =
        DocOpsOf(handler).getSectionInfo(handler, &v.sectionPolicy, &v.sectionCount);
    if (IsFailure(s)) {
      v.sectionPolicy = v.sectionCount = 0;
      return s;
    }
  }
  if (settingsDb != nullptr) {
    std::uint8_t start[16] = {};
    bool haveStart = false;
    if (handler != nullptr)
      haveStart = DocOpsOf(handler).control(handler, DocControl::StartPosition, 0, start) == kYes;
    if (IsFailure(TextView_RestoreReadingState(v, haveStart ? start : nullptr)))
      v.settingsDb = nullptr;
  }
  return closed;
}

StatusCode TextView_SetViewport(EngineObject* view, std::uint32_t flags, std::int16_t width,
                                std::int16_t height) noexcept {
  TextView& v = TextViewOf(view);
  if (flags & TextViewViewport::Relayout) {
    if (v.table.lines != nullptr) TextView_ResetTable(v, TextView_FirstOffset(v));
    return TextView_Paginate(v, 1);
  }
  if (height < 0) height = 0;
  if (width < 0) width = 0;
  bool repaginate = false;
  if (width != v.viewWidth ||
      (flags & (TextViewViewport::ResetHScroll | TextViewViewport::ForceWidth))) {
    v.contentWidth = width;
    if (flags & TextViewViewport::ResetHScroll) v.hScroll = 0;
    repaginate = true;
  }
  TextView_RemoveHScrollBar(v);
  if (v.viewWidth >= v.contentWidth) v.contentWidth = width;
  v.viewWidth = width;
  v.viewHeight = v.textHeight = height;
  v.scrollStep = ScrollStepFor(height);
  v.minLineHeight = kViewMinLineHeight;
  StatusCode bar = kOk;  // the horizontal bar of a wide content
  std::int16_t barHeight = 0;
  if (v.device == nullptr ||
      DeviceOf(v.device).getProperty(v.device, DeviceInfo::HScrollHeight, &barHeight) != kOk)
    barHeight = 0;
  v.hScrollBarHeight = barHeight;
  if (width < v.contentWidth) {
    const std::int16_t content = v.contentWidth;
    v.contentWidth = width;
    bar = TextView_SetContentWidth(v, content);
  }
  const std::uint32_t keep = TextView_FirstOffset(v);

  const std::uint16_t capacity = static_cast<std::uint16_t>((height + 4) / 5 + 1);
  StatusCode result = kOk;
  if (capacity != v.table.capacity || v.table.lines == nullptr) {
    // The new array is made before the old one goes, so a refused
    // allocation leaves the previous (smaller or larger) table in use.
    LineRecord* lines = nullptr;
    result = Engine_AllocArray(capacity, &lines);
    if (result == kOk) {
      FreeArrays(v);
      std::memset(lines, 0, sizeof(LineRecord) * capacity);
      v.table.lines = lines;
      v.table.capacity = capacity;
    }
  }
  // The second array follows the height; its failure is tolerated.
  if (height > 199 && v.table.scratch == nullptr && v.table.lines != nullptr) {
    LineRecord* scratch = nullptr;
    if (Engine_AllocArray(v.table.capacity, &scratch) == kOk) v.table.scratch = scratch;
  } else if (height <= 199 && v.table.scratch != nullptr) {
    Engine_Free(v.table.scratch);
    v.table.scratch = nullptr;
  }
  TextView_ResetTable(v, keep);
  if (result == kOk && IsFailure(bar)) result = bar;
  if (repaginate) {
    const StatusCode p = TextView_Paginate(v, 1);
    if (result == kOk && IsFailure(p)) result = p;
  }
  return result;
}

StatusCode TextView_GetPageNumber(EngineObject* view, std::uint16_t* page,
                                  std::uint16_t* count) noexcept {
  const TextView& v = TextViewOf(view);
  if (page != nullptr) *page = static_cast<std::uint16_t>(v.currentSection + 1);
  if (count != nullptr) *count = v.sectionCount;
  return kOk;
}

void TextView_ResetTable(TextView& v, std::uint32_t offset) noexcept {
  v.topOffset = offset;
  v.table.count = 0;
  v.table.extraTop = 0;
  v.table.bottom = 0;
  if (v.table.lines != nullptr) {
    v.table.lines[0] = LineRecord{};
    v.table.lines[0].start = offset;
  }
}

std::uint32_t TextView_FirstOffset(const TextView& v) noexcept {
  return v.table.lines != nullptr ? v.table.lines[0].start : v.topOffset;
}

namespace {

const TextViewOps kTextViewOps = {
    Core_NotImplemented,
    TextView_Create,
    TextView_Destroy,
    TextView_SetDevice,
    TextView_AttachDocument,
    TextView_SetOptions,
    TextView_SetViewport,
    TextView_Paint,
    TextView_Navigate,
    TextView_SetScrollPosition,
    TextView_PointerEvent,
    TextView_SelectionCommand,
    TextView_FindStart,
    TextView_FindStep,
    TextView_FindFinish,
    TextView_GetPageNumber,
    TextView_PositionListCommand,
    TextView_ScrollHorizontal,
    TextView_Control,
    TextView_AnnotCommand,
    PageCache_Reset,
    PageCache_SetPageNumber,
    PageCache_GetPageNumber,
    PageCache_GoToPage,
    PageCache_RelayoutPage,
    PageCache_CopyPageLines,
    PageCache_RefreshPage,
    PageCache_ClampScroll,
    PageCache_GetLineInfo,
    PageCache_UpdateScrollBar,
    PageCache_GetPageOfPosition,
    PageCache_GetPageStart,
    TextView_FocusCommand,
    Core_NotImplemented,
};

}  // namespace

EngineObject TextViewModule = {nullptr, &kTextViewOps};
