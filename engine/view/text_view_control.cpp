// The host's control commands (positions, the reading state, text export,
// the charset, the drop-down list, snapshots, the selection's text, the
// print range) and the position-list commands: the handler's bookmark
// lists, the user's list in the settings database, the saved position and
// a page excerpt for naming a bookmark.
#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/formats/doc_charset.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/runtime/text_conv.h"
#include "engine/view/text_view_internal.h"

namespace {

const DocHandlerOps& Doc(const TextView& v) {
  return DocOpsOf(v.handler);
}

template <class T>
StatusCode Put(void* io, T value) {
  if (io == nullptr) return kNullOutPointer;
  std::memcpy(io, &value, sizeof value);
  return kOk;
}

template <class T>
T Get(const void* io) {
  T value{};
  std::memcpy(&value, io, sizeof value);
  return value;
}

constexpr std::uint32_t kTextWindow = 4096;
constexpr std::uint32_t kWindows1252 = 2252;
constexpr std::uint16_t kUserListLongestName = 31;

// Writes n bytes, a short write being a failure.
StatusCode WriteAll(EngineObject* stream, const void* bytes, std::uint32_t n) {
  if (n == 0) return kOk;
  std::uint32_t written = 0;
  const StatusCode s = StreamOf(stream).write(stream, bytes, n, &written);
  if (IsFailure(s)) return s;
  return written == n ? kOk : kFailed;
}

// Control 12: the whole text, each line feed written as CR LF.
StatusCode ExportText(TextView& v, EngineObject* stream) {
  if (stream == nullptr) return kNullOutPointer;
  if (v.handler == nullptr) return kViewNoContent;
  std::uint32_t end = 0;
  StatusCode s = TextView_DocumentEnd(v, &end);
  if (IsFailure(s)) return s;
  static constexpr std::uint8_t kCrLf[2] = {'\r', '\n'};
  for (std::uint32_t at = 0; at < end;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t length = std::min(kTextWindow, end - at);
    s = Doc(v).getText(v.handler, at, &text, &length);
    if (IsFailure(s)) return s;
    if (text == nullptr || length == 0) return kFailed;  // the text ended early
    length = std::min(length, end - at);
    std::uint32_t run = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
      if (text[i] != '\n') continue;
      if ((s = WriteAll(stream, text + run, i - run)) != kOk) return s;
      if ((s = WriteAll(stream, kCrLf, 2)) != kOk) return s;
      run = i + 1;
    }
    if ((s = WriteAll(stream, text + run, length - run)) != kOk) return s;
    at += length;
  }
  return kOk;
}

// Control 14.
StatusCode SetCharset(TextView& v, std::uint32_t mib) {
  if (mib == 0 && v.handler != nullptr) {
    std::uint32_t documentMib = 0;
    if (!IsFailure(Doc(v).control(v.handler, DocControl::DocumentCharset, 0, &documentMib)))
      mib = documentMib;
  }
  if (mib == 0 && g_TextConvModule != nullptr) {
    std::uint32_t defaultMib = 0;
    if (!IsFailure(
            OpsOf<TextConvOps>(g_TextConvModule).getDefaultCharset(g_TextConvModule, &defaultMib)))
      mib = defaultMib;
    // Only the locale's default: the text may show that it is in another.
    if (mib != 0 && v.handler != nullptr) mib = DocText_DefaultCharset(v.handler, mib);
  }
  if (mib == 0) mib = kWindows1252;
  if (v.handler != nullptr) {
    const StatusCode s = Doc(v).control(v.handler, DocControl::SetCharset, mib, nullptr);
    if (IsFailure(s)) return s;
  }
  if (v.device != nullptr) {
    const StatusCode s = DeviceOf(v.device).setProperty(v.device, &mib, 0, DeviceProp::Charset);
    if (IsFailure(s)) return s;
  }
  v.charsetId = mib;
  return kOk;
}

// Control 28: the selected text into the caller's record.
StatusCode SelectedText(TextView& v, TextViewTextRange* r) {
  if (r == nullptr) return kNullOutPointer;
  const std::uint32_t from = std::min(v.selAnchor, v.selCaret);
  const std::uint32_t to = std::max(v.selAnchor, v.selCaret);
  r->from = from;
  r->to = to;
  if (from == to) {
    if (r->buffer != nullptr) r->buffer[0] = 0;
    r->capacity = 0;
    return kOk;
  }
  if (v.handler == nullptr) return kViewNoContent;
  const std::uint32_t n = std::min(to - from, r->capacity);
  std::uint8_t* buffer = r->buffer;
  bool owned = false;
  if (buffer == nullptr) {
    // A range the allocator cannot hold whole is refused, never cut short.
    if (n == 0xFFFFFFFFu) return kOutOfMemory;
    const StatusCode s = Engine_AllocArray(n + 1, &buffer);
    if (s != kOk) return s;
    owned = true;
  }
  // Only the n bytes that fit are asked for, so the handler never writes
  // past the caller's buffer.
  std::uint32_t copied = 0;
  const StatusCode s = Doc(v).readRange(v.handler, from, from + n, buffer, n, &copied);
  if (IsFailure(s)) {
    if (owned) Engine_Free(buffer);
    return s;
  }
  copied = std::min(copied, n);
  buffer[copied] = 0;
  r->buffer = buffer;
  r->capacity = copied;
  return kOk;
}

StatusCode FreeLinkTexts(TextViewLinkDescription* d) {
  if (d == nullptr) return kNullOutPointer;
  for (int k = 0; k < 3; ++k) {
    const std::uint16_t bit = static_cast<std::uint16_t>(kLinkTextOwned0 << k);
    if (d->flags & bit) Engine_Free(d->text[k]);
    d->flags &= static_cast<std::uint16_t>(~bit);
    d->text[k] = nullptr;
    d->length[k] = 0;
  }
  return kOk;
}

// Control 5: the percentage of the section above the first line.
std::uint16_t PercentAbove(const TextView& v) {
  if (v.hasSection && v.sectionEnd <= v.sectionStart) return 99;
  if (v.table.lines == nullptr || v.table.count == 0) return 0;
  const std::uint64_t done =
      TextView_FirstOffset(v) - std::min(TextView_FirstOffset(v), v.sectionStart);
  return static_cast<std::uint16_t>(done * 100 / (v.sectionEnd - v.sectionStart));
}

// Control 32: the first line's place in 1/1024ths of the section.
std::int16_t FractionAbove(const TextView& v) {
  if (v.flags & TextViewFlag::Paginated) {
    if (v.paginatedHeight == 0) return 0;
    const std::int64_t y = std::int64_t{v.topY} - v.table.extraTop;
    return static_cast<std::int16_t>(
        std::clamp<std::int64_t>(y * 1024 / v.paginatedHeight, 0, 1023));
  }
  if (v.sectionEnd <= v.sectionStart) return 0;
  const std::uint64_t done =
      TextView_FirstOffset(v) - std::min(TextView_FirstOffset(v), v.sectionStart);
  return static_cast<std::int16_t>(
      std::min<std::uint64_t>(done * 1024 / (v.sectionEnd - v.sectionStart), 1023));
}

// Control 6: how far a line down would move (0 at the section end, where the
// next section is entered as Navigate 2 enters it).
StatusCode LineDownAmount(EngineObject* view, TextView& v, std::int16_t* out) {
  if (out == nullptr) return kNullOutPointer;
  const LineTable& t = v.table;
  if (v.handler == nullptr || v.device == nullptr || t.lines == nullptr || t.count == 0) {
    *out = 0;
    return kOk;
  }
  if (TextView_EndOffset(v) >= v.sectionEnd && t.bottom <= v.textHeight) {
    *out = 0;
    return TextView_Navigate(view, TextViewNav::LineDown, 0);
  }
  std::int32_t amount = TextView_GetOverflowHeight(v);
  if (amount <= 0) {
    TextViewDrawScope draw(v.device, nullptr);
    if (IsFailure(draw.status())) return draw.status();
    std::uint16_t n = 0;
    std::uint32_t next = 0;
    const StatusCode s = draw.Finish(
        TextView_MeasureRun(v, draw.ctx(), TextView_EndOffset(v), v.sectionEnd, 1,
                            t.lines[t.count - 1].metrics.extra, &n, &next, &amount, nullptr));
    if (IsFailure(s)) return s;
  }
  *out = static_cast<std::int16_t>(
      std::clamp<std::int32_t>(amount, 1, std::max<std::int16_t>(v.scrollStep, 1)));
  return kOk;
}

StatusCode LeaveAndUnmark(TextView& v, std::uint32_t argument) {
  if (v.mode == TextViewMode::ListOpen) {
    const StatusCode s = TextView_ListControl(v, 16, 0, nullptr);
    if (IsFailure(s)) return s;
  } else if (v.mode == TextViewMode::NoteBox) {
    // A release far outside the box closes it.
    const StatusCode s = TextView_NotePointer(v, 3, INT16_MIN, INT16_MIN);
    if (IsFailure(s)) return s;
  }
  const StatusCode s = TextView_Unmark(v, argument == 1 || v.foundStart == v.foundEnd);
  return IsFailure(s) ? s : kOk;
}

// ---------------------------------------------------------------------------
// Position lists.

constexpr std::uint16_t kUserList = 2;

// The page excerpt (0x1060): from the first laid-out line, blanks skipped,
// whole characters while they fit, tabs as spaces, up to a line break.
StatusCode PageExcerpt(TextView& v, std::uint32_t n, char* out) {
  if (out == nullptr) return kNullOutPointer;
  out[0] = 0;
  if (v.handler == nullptr) return kViewNoContent;
  const std::uint32_t mib = v.charsetId != 0 ? v.charsetId : kWindows1252;
  const TextConvOps* conv =
      g_TextConvModule != nullptr ? &OpsOf<TextConvOps>(g_TextConvModule) : nullptr;
  std::uint32_t used = 0;
  bool leading = true;
  std::uint8_t carry[8];
  std::uint32_t carried = 0;
  std::uint32_t at = TextView_FirstOffset(v);
  std::uint8_t joined[kTextWindow + sizeof carry];
  std::uint8_t lengths[kTextWindow + sizeof carry];
  for (int guard = 0; guard < 1 << 20; ++guard) {
    const std::uint8_t* text = nullptr;
    std::uint32_t length = kTextWindow;
    const StatusCode s = Doc(v).getText(v.handler, at, &text, &length);
    if (IsFailure(s)) return s;
    const bool last = text == nullptr || length == 0;
    length = std::min(length, kTextWindow);
    std::memcpy(joined, carry, carried);
    if (!last) std::memcpy(joined + carried, text, length);
    const std::uint32_t total = carried + (last ? 0 : length);
    if (total == 0) break;
    // Character lengths; an incomplete character at the end waits for the
    // next window (unless the text ends here).
    std::uint32_t walked = total, count = total;
    if (conv == nullptr ||
        IsFailure(conv->measureChars(g_TextConvModule, last ? 0u : 1u, mib, joined, &walked,
                                     lengths, &count)) ||
        count > total) {
      walked = count = total;
      std::memset(lengths, 1, total);
    }
    std::uint32_t p = 0;
    for (std::uint32_t k = 0; k < count && p < walked; ++k) {
      const std::uint32_t len = std::max<std::uint32_t>(1, lengths[k]);
      const std::uint8_t c = joined[p];
      if (len == 1 && (c == '\n' || c == '\r')) {
        if (!leading) {
          out[used] = 0;
          return kOk;
        }
      } else if (!(leading && len == 1 && (c == ' ' || c == '\t' || c == 0xA0))) {
        leading = false;
        if (used + len > n) {
          out[used] = 0;
          return kOk;
        }
        if (len == 1 && c == '\t')
          out[used] = ' ';
        else
          std::memcpy(out + used, joined + p, len);
        used += len;
      }
      p += len;
    }
    if (last) break;
    carried = total - p;
    if (carried > sizeof carry) carried = 0;  // not a character: dropped
    std::memmove(carry, joined + p, carried);
    at += length;
  }
  out[used] = 0;
  return kOk;
}

StatusCode UserList(TextView& v, std::uint16_t op, std::uint32_t argument, void* io) {
  EngineObject* db = v.settingsDb;
  PosListHandle* h = &v.userListHandle;
  const auto index = static_cast<std::uint16_t>(argument);
  switch (op) {
    case DocBookmark::LongestName:
      return Put<std::uint16_t>(io, kUserListLongestName);
    case DocBookmark::Count: {
      std::uint16_t count = 0;
      if (db != nullptr) {
        const StatusCode s = PosList_GetCount(db, h, &count);
        if (IsFailure(s)) return s;
      }
      return Put(io, count);
    }
    case DocBookmark::GetValue: {
      if (db == nullptr) return kDocBadListIndex;
      std::uint32_t value = 0;
      const StatusCode s = PosList_GetEntry(db, h, index, nullptr, nullptr, 0, nullptr, &value);
      if (IsFailure(s)) return s;
      return io != nullptr ? Put(io, value) : kOk;
    }
    case DocBookmark::SetValue:
      if (db == nullptr) return kDocBadListIndex;
      if (io == nullptr) return kNullOutPointer;
      return PosList_SetValue(db, h, index, Get<std::uint32_t>(io));
    case DocBookmark::GetNames:
      if (db == nullptr) return kDocListEmpty;
      if (io == nullptr) return kNullOutPointer;
      return PosList_GetNames(db, h, static_cast<const char***>(io));
    case DocBookmark::FreeNames:
      if (db == nullptr) return kOk;
      return PosList_FreeNames(db, h, static_cast<const char**>(io));
    case DocBookmark::Insert: {
      if (db == nullptr) return kDocBadListIndex;
      const auto* rec = static_cast<const DocBookmarkInsert*>(io);
      if (rec == nullptr || rec->name == nullptr || rec->value == nullptr) return kNullOutPointer;
      return PosList_Insert(db, h, index, rec->name, *rec->value);
    }
    case DocBookmark::Delete:
      if (db == nullptr) return kDocBadListIndex;
      return PosList_Delete(db, h, index);
    case DocBookmark::Rename: {
      if (db == nullptr) return kDocBadListIndex;
      const auto* rec = static_cast<const DocBookmarkRename*>(io);
      if (rec == nullptr || rec->name == nullptr) return kNullOutPointer;
      return PosList_Rename(db, h, index, rec->name);
    }
    case DocBookmark::Move:
      if (db == nullptr) return kDocBadListIndex;
      if (io == nullptr) return kNullOutPointer;
      return PosList_Move(db, h, index, Get<std::uint16_t>(io));
    case DocBookmark::Find: {
      if (db == nullptr) return kNotFound;
      auto* rec = static_cast<DocBookmarkFind*>(io);
      if (rec == nullptr || rec->name == nullptr) return kNullOutPointer;
      return PosList_Find(db, h, rec->name, &rec->index);
    }
    case DocBookmark::Sort:
      if (db == nullptr) return kOk;
      return PosList_Reorder(db, h);
    default:
      return kNotSupported;
  }
}

StatusCode ListOperation(TextView& v, std::uint16_t code, std::uint32_t argument, void* io) {
  const std::uint16_t op = code & DocBookmark::OperationMask;
  const std::uint16_t list = code & DocBookmark::ListMaskBits;
  if (op == DocBookmark::ListMask) {
    std::uint16_t mask = 0;
    if (v.handler == nullptr ||
        IsFailure(Doc(v).bookmarkOp(v.handler, code, static_cast<std::uint16_t>(argument), &mask)))
      mask = 0;
    if (v.settingsDb != nullptr) mask |= 1u << kUserList;
    return Put(io, mask);
  }
  if (op == DocBookmark::Capability) return Put<std::uint32_t>(io, v.settingsDb != nullptr ? 1 : 0);
  if (list == kUserList) return UserList(v, op, argument, io);
  if (v.handler == nullptr) return kViewNoContent;
  return Doc(v).bookmarkOp(v.handler, code, static_cast<std::uint16_t>(argument), io);
}

StatusCode GoToEntry(TextView& v, std::uint16_t list, std::uint32_t argument) {
  std::uint32_t value = 0;
  StatusCode s = kOk;
  if (list == kUserList)
    s = UserList(v, DocBookmark::GetValue, argument, &value);
  else if (list > 1)
    return kNotSupported;
  else if (v.handler == nullptr)
    return kViewNoContent;
  else
    s = Doc(v).bookmarkOp(v.handler, static_cast<std::uint16_t>(DocBookmark::GetValue + list),
                          static_cast<std::uint16_t>(argument), &value);
  if (IsFailure(s)) return s;
  if (value == TextView_FirstOffset(v)) return kOk;
  TextView_HideFocus(v);
  TextView_PushVisited(v, TextView_FirstOffset(v));
  if (v.device != nullptr) (void)DeviceOf(v.device).notify(v.device, DeviceNotice::PosListJump2);
  // An entry holds the start of the first line of the screen it marked: that
  // line goes back to the top. Brought into view with the least movement, a
  // mark just below the screen would only reach its bottom line.
  return TextView_ShowAtTop(v, value);
}

}  // namespace

StatusCode TextView_JumpTo(TextView& v, std::uint32_t offset) noexcept {
  TextView_HideFocus(v);
  TextView_PushVisited(v, TextView_FirstOffset(v));
  return TextView_GoToOffset(v, offset, false);
}

StatusCode TextView_Control(EngineObject* view, std::uint16_t code, std::uint32_t argument,
                            void* io) noexcept {
  TextView& v = TextViewOf(view);
  switch (code) {
    case 0: {
      if (v.handler == nullptr) return kViewNoContent;
      if (io == nullptr) return kNullOutPointer;
      return Doc(v).control(v.handler, DocControl::FindTarget, v.savedLinkTarget, io);
    }
    case 1:
      return Put(io, TextView_FirstOffset(v));
    case 2: {
      if (v.handler == nullptr) return kViewNoContent;
      auto* d = static_cast<TextViewLinkDescription*>(io);
      if (d == nullptr) return kNullOutPointer;
      const StatusCode s = Doc(v).control(v.handler, DocControl::ResolveTarget, d->value, d);
      d->result = static_cast<std::uint32_t>(s);
      return IsFailure(s) ? s : kOk;
    }
    case 3:
      if (io == nullptr) return kNullOutPointer;
      return TextView_GoToOffset(v, Get<std::uint32_t>(io), false);
    case 4:
      return TextView_SaveReadingState(v);
    case 5:
      return Put(io, PercentAbove(v));
    case 6:
      return LineDownAmount(view, v, static_cast<std::int16_t*>(io));
    case 7:
      return Put(io, TextView_EndOffset(v));
    case 8:
      return Put(io, v.sectionStart);
    case 9:
      return Put(io, v.sectionEnd);
    case 10: {
      if (io == nullptr) return kNullOutPointer;
      std::uint32_t end = 0;
      const StatusCode s = TextView_DocumentEnd(v, &end);
      return IsFailure(s) ? s : Put(io, end);
    }
    case 11:
      return Put(io, v.paginationCursor);
    case 12:
      return ExportText(v, static_cast<EngineObject*>(io));
    case 13: {
      if (v.handler == nullptr) return kViewNoContent;
      std::uint16_t section = 0;
      if (IsFailure(Doc(v).control(v.handler, DocControl::StartSection, 0, &section))) section = 0;
      const StatusCode s = TextView_GoToSection(v, section);
      if (s != kOk) return s;
      return TextView_ShowAtTop(v, v.sectionStart);
    }
    case 14:
      return SetCharset(v, argument);
    case 15:
    case 16:
    case 38:
    case 39:
    case 40:
      return TextView_ListControl(v, code, argument, io);
    case 17:
      TextView_LeaveModes(v);
      return kOk;
    case 18:
      return FreeLinkTexts(static_cast<TextViewLinkDescription*>(io));
    case 19:
      return TextView_SnapshotPush(v, static_cast<SnapshotHolder>(io));
    case 20:
      return TextView_SnapshotBack(v, static_cast<SnapshotHolder*>(io));
    case 21:
      return TextView_SnapshotForward(v, static_cast<SnapshotHolder*>(io));
    case 22:
    case 23:
      return TextView_SnapshotLoad(v, static_cast<std::uint32_t*>(io), code == 23);
    case 24:
    case 25: {
      if (io == nullptr) return kNullOutPointer;
      const TextViewSnapshots& st = v.snapshots;
      const int at = code == 24 ? st.top - 1 : st.top;
      if (at < 0 || at >= st.count) return kNoMore;
      *static_cast<SnapshotHolder*>(io) = st.holders[at];
      return kOk;
    }
    case 26:
      return Put<std::uint32_t>(
          io, v.selAnchor > v.selCaret ? v.selAnchor - v.selCaret : v.selCaret - v.selAnchor);
    case 27:
      return Put(io, v.selAnchor);
    case 28:
      return SelectedText(v, static_cast<TextViewTextRange*>(io));
    case 29:
      if (io == nullptr) return kNullOutPointer;
      return TextView_JumpTo(v, Get<std::uint32_t>(io));
    case 30: {
      if (io == nullptr) return kNullOutPointer;
      const std::uint32_t words[3] = {
          (v.flags & TextViewFlag::Paginated) ? 1u : 0u,
          static_cast<std::uint32_t>(std::max<std::int16_t>(0, v.contentWidth)), v.paginatedHeight};
      std::memcpy(io, words, std::min<std::uint32_t>(argument, 3) * sizeof(std::uint32_t));
      return kOk;
    }
    case 31:
      return LeaveAndUnmark(v, argument);
    case 32:
      return Put(io, FractionAbove(v));
    case 33:
      return Put<std::uint32_t>(io, v.foundStart != v.foundEnd ? 1 : 0);
    case 34:
      return TextView_DrawRange(v, 1, v.foundStart, v.foundEnd);
    case 35:
      if (io == nullptr) return kNullOutPointer;
      TextView_PushVisited(v, Get<std::uint32_t>(io));
      return kOk;
    case 36:
    case 37:
      if (io == nullptr) return kNoMore;
      return TextView_HistoryExchange(v, code == 36, static_cast<std::uint32_t*>(io));
    case 41: {
      const std::uint32_t range[2] = {TextView_FirstOffset(v), TextView_EndOffset(v)};
      if (io == nullptr) return kNullOutPointer;
      std::memcpy(io, range, sizeof range);
      return kOk;
    }
    case 42: {
      if (io == nullptr) return kNullOutPointer;
      std::uint32_t range[2];
      std::memcpy(range, io, sizeof range);
      v.printStart = range[0];
      v.printEnd = range[1];
      return kOk;
    }
    default:
      return kNotSupported;
  }
}

StatusCode TextView_PositionListCommand(EngineObject* view, std::uint16_t code,
                                        std::uint32_t argument, void* io) noexcept {
  TextView& v = TextViewOf(view);
  if (code < 0x1000) return ListOperation(v, code, argument, io);
  const std::uint16_t list = code & 0x000F;
  switch (code & 0xFFF0) {
    case 0x1010:
      if (code != 0x1010) return kNotSupported;
      v.savedPosition = io != nullptr ? Get<std::uint32_t>(io) : TextView_FirstOffset(v);
      return kOk;
    case 0x1020: {
      if (code != 0x1020) return kNotSupported;
      if (v.savedPosition == 0xFFFFFFFFu || v.savedPosition == TextView_FirstOffset(v)) return kOk;
      TextView_HideFocus(v);
      TextView_PushVisited(v, TextView_FirstOffset(v));
      if (v.device != nullptr) (void)DeviceOf(v.device).notify(v.device, DeviceNotice::PosListJump);
      return TextView_ShowAtTop(v, v.savedPosition);  // as a list entry (GoToEntry)
    }
    case 0x1030:
      return GoToEntry(v, list, argument);
    case 0x1040: {
      std::uint32_t here = TextView_FirstOffset(v);
      return ListOperation(v, static_cast<std::uint16_t>(DocBookmark::SetValue + list), argument,
                           &here);
    }
    case 0x1050: {
      const std::uint32_t here = TextView_FirstOffset(v);
      DocBookmarkInsert rec{static_cast<const char*>(io), &here};
      return ListOperation(v, static_cast<std::uint16_t>(DocBookmark::Insert + list), argument,
                           &rec);
    }
    case 0x1060:
      if (code != 0x1060) return kNotSupported;
      return PageExcerpt(v, argument, static_cast<char*>(io));
    case 0x1070:
      if (code != 0x1070) return kNotSupported;
      return Put(io, v.savedPosition);
    default:
      return kNotSupported;
  }
}
