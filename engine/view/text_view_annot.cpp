// The annotation binding: the view's annotation file (its path, the store
// opened on first need and handed to the handler so it can mark annotated
// text), the commands the shell sends about it, and the note box that shows
// a note when its passage is tapped.
#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/view/text_view_internal.h"

namespace {

const DeviceOps& Dev(const TextView& v) {
  return DeviceOf(v.device);
}

// Opens the binding's store in mode (read-only or for writing). Opening for
// writing creates a missing file but never replaces an existing one: a file
// the store refuses (locked, unreadable, damaged) is reported and left as it
// is, never retried with a create over it.
StatusCode OpenStore(TextView& v, std::uint32_t mode) {
  AnnotBinding* b = v.annotBinding;
  if (b == nullptr || b->path == nullptr || b->pathLength == 0) return kViewNoAnnotPath;
  if (b->store != nullptr) return kOk;
  AnnotStore* store = nullptr;
  const StatusCode s = AnnotStore_Open(b->path, b->pathLength, mode, &store);
  if (IsFailure(s)) return s;
  b->store = store;
  if (v.handler != nullptr) {
    // The marks are a convenience of the handler; a handler without them
    // still shows the text.
    (void)DocOpsOf(v.handler).control(v.handler, DocControl::SetAnnotations, 0, store);
  }
  return kOk;
}

void EndEdit(TextView& v) {
  TextView_FreeNoteEdit(v);
  v.flags &= static_cast<std::uint16_t>(~TextViewFlag::Dragging);
  v.mode = TextViewMode::Idle;
}

StatusCode CopyPath(const TextView& v, std::uint32_t units, char16_t* out) {
  if (out == nullptr || units == 0) return kIndexOutOfRange;
  const AnnotBinding* b = v.annotBinding;
  if (b == nullptr || b->path == nullptr) {
    out[0] = 0;
    return kOk;
  }
  if (std::uint32_t{b->pathLength} + 1 > units) return kIndexOutOfRange;
  std::memcpy(out, b->path, (b->pathLength + 1u) * sizeof(char16_t));
  return kOk;
}

StatusCode GoToNote(TextView& v, std::uint32_t index) {
  StatusCode s = OpenStore(v, kAnnotOpenRead);
  if (IsFailure(s)) return s;
  AnnotEntry entry{};
  s = AnnotStore_GetEntry(v.annotBinding->store, static_cast<std::int32_t>(index), 0, &entry);
  if (IsFailure(s)) return s;
  return TextView_JumpTo(v, entry.start);
}

}  // namespace

void TextView_FreeNoteEdit(TextView& v) noexcept {
  AnnotBinding* b = v.annotBinding;
  if (b == nullptr || b->edit == nullptr) return;
  Engine_Free(b->edit);
  b->edit = nullptr;
}

bool TextView_NoteAt(TextView& v, std::uint32_t offset, std::uint32_t* start,
                     std::uint32_t* end) noexcept {
  const AnnotBinding* b = v.annotBinding;
  if (b == nullptr || b->store == nullptr) return false;
  std::uint32_t rangeEnd = offset + 1;
  std::uint8_t attributes[2] = {};
  if (IsFailure(AnnotStore_GetAttributesAt(b->store, offset, &rangeEnd, attributes)) ||
      attributes[1] == 0)
    return false;
  AnnotEntry entry{};
  if (IsFailure(AnnotStore_GetEntry(b->store, -1, offset, &entry))) return false;
  *start = entry.start;
  *end = entry.start + entry.length;
  return true;
}

StatusCode TextView_OpenNoteBox(TextView& v, std::uint32_t offset, std::int16_t x, std::int16_t y,
                                std::int16_t lineTop, std::int16_t lineBottom) noexcept {
  AnnotBinding* b = v.annotBinding;
  if (b == nullptr || b->store == nullptr) return kViewNoAnnotPath;
  if (v.device == nullptr) return kViewNoContent;
  TextView_FreeNoteEdit(v);
  NoteEdit* edit = nullptr;
  StatusCode s = Engine_AllocArray(1, &edit);
  if (s != kOk) return s;
  std::memset(edit, 0, sizeof *edit);
  // One byte more than is shown tells whether the note is longer.
  edit->entry.text2 = edit->text;
  edit->entry.text2Size = kNoteEditTextMax + 1;
  s = AnnotStore_GetEntry(b->store, -1, offset, &edit->entry);
  if (IsFailure(s)) {
    Engine_Free(edit);
    return s;
  }
  edit->entry.text2 = nullptr;  // the text lives in the edit, not in the store's record
  edit->textLength = std::min(edit->entry.text2Size, kNoteEditTextMax);
  NoteBox& box = edit->box;
  if (edit->entry.text2Size > kNoteEditTextMax) box.flags |= NoteBoxFlag::Partial;
  edit->text[edit->textLength] = 0;
  box.text = reinterpret_cast<const std::uint8_t*>(edit->text);
  box.textLength = edit->textLength;
  box.anchorX = x;
  box.tapY = y;
  box.roomAbove = lineTop;
  box.lineTop = lineTop;
  box.lineBottom = lineBottom;
  b->edit = edit;
  s = Dev(v).noteBoxCommand(v.device, NoteBoxCode::Open, &box, nullptr);
  if (IsFailure(s)) {
    TextView_FreeNoteEdit(v);
    return s;
  }
  v.mode = TextViewMode::NoteBox;
  return kOk;
}

StatusCode TextView_NoteAnswer(TextView& v, StatusCode answer) noexcept {
  if (IsFailure(answer)) return answer;
  AnnotBinding* b = v.annotBinding;
  if (answer == kNoteBoxClosedButton) {
    if (b != nullptr && b->edit != nullptr) {
      b->chosenButton = static_cast<std::uint16_t>(b->edit->box.focused);
      b->noteIndex = b->edit->entry.index;
    }
    EndEdit(v);
    return kViewNoteBoxChosen;
  }
  if (answer == kNoteBoxClosedOutside) {
    EndEdit(v);
    return kViewNoteBoxClosed;
  }
  return kViewNoteBoxOpen;
}

StatusCode TextView_NotePointer(TextView& v, std::uint16_t event, std::int16_t x,
                                std::int16_t y) noexcept {
  AnnotBinding* b = v.annotBinding;
  if (b == nullptr || b->edit == nullptr) {
    v.mode = TextViewMode::Idle;
    return kOk;
  }
  DevicePoint point{x, y};
  std::uint16_t command = 0;
  switch (event) {
    case 1:
      command = NoteBoxCode::PenDown;
      break;
    case 2:
      command = NoteBoxCode::Track;
      break;
    case 3:
      command = NoteBoxCode::PenUp;
      break;
    default:
      return kOk;
  }
  return TextView_NoteAnswer(v, Dev(v).noteBoxCommand(v.device, command, &b->edit->box, &point));
}

StatusCode TextView_AnnotCommand(EngineObject* view, std::uint16_t code, std::uint32_t argument,
                                 void* io) noexcept {
  TextView& v = TextViewOf(view);
  AnnotBinding* b = v.annotBinding;
  switch (code) {
    case 0: {
      const StatusCode s = OpenStore(v, kAnnotOpenRead);
      if (IsFailure(s)) return s;
      if (io != nullptr) *static_cast<AnnotStore**>(io) = v.annotBinding->store;
      return kOk;
    }
    case 2:
      // A note shown from the old file goes with it.
      if (v.mode == TextViewMode::NoteBox) TextView_LeaveModes(v);
      return TextView_SetAnnotationPath(v, static_cast<const char16_t*>(io), argument);
    case 3:
      return CopyPath(v, argument, static_cast<char16_t*>(io));
    case 4:
    case 5: {
      if (b == nullptr || b->edit == nullptr || !b->edit->box.open || v.device == nullptr) {
        EndEdit(v);
        return code == 4 ? kOk : kViewNoteBoxClosed;
      }
      const StatusCode s = Dev(v).noteBoxCommand(
          v.device, code == 4 ? NoteBoxCode::Commit : NoteBoxCode::Cancel, &b->edit->box, nullptr);
      if (IsFailure(s)) return s;
      if (code == 5) {
        EndEdit(v);
        return kViewNoteBoxClosed;
      }
      // A commit closes the box whatever is focused: without a button the
      // edit ends as well, so the view never stays in mode 5 with no box.
      if (s == kNoteBoxClosedButton) return TextView_NoteAnswer(v, s);
      EndEdit(v);
      return kOk;
    }
    case 6:
    case 7:
      if (b == nullptr) return kFailed;
      if (io == nullptr) return kNullOutPointer;
      *static_cast<std::uint16_t*>(io) = code == 6 ? b->chosenButton : b->noteIndex;
      return kOk;
    case 8: {
      if (io == nullptr) return kNullOutPointer;
      const StatusCode s = OpenStore(v, kAnnotOpenWrite);
      if (IsFailure(s)) return s;
      return AnnotStore_AddEntry(v.annotBinding->store, static_cast<const AnnotEntry*>(io));
    }
    case 9: {
      if (v.mode == TextViewMode::NoteBox) TextView_LeaveModes(v);
      TextView_FreeNoteEdit(v);
      return TextView_CloseAnnotationStore(v);
    }
    case 10:
      if (b == nullptr || b->store == nullptr) return kOk;
      return AnnotStore_Revalidate(b->store);
    case 11:
      return GoToNote(v, argument);
    case 12: {
      if (io == nullptr) return kNullOutPointer;
      std::uint16_t count = 0;
      if (b != nullptr && b->store != nullptr) {
        const StatusCode s = AnnotStore_GetCount(b->store, &count);
        if (IsFailure(s)) return s;
      }
      *static_cast<std::uint16_t*>(io) = count;
      return kOk;
    }
    default:
      return kNotSupported;
  }
}
