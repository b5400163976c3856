// The reading view's commands: copy, select mode, find, go to, bookmarks,
// history, pages, annotations, printing and Save As. Dialogs are opened
// through the main window's dialog table.
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPrinter>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/annotation_rules.h"
#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "app/window/command_dialogs.h"
#include "app/window/doc_links.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "app/window/print_job.h"
#include "app/window/workers.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"
#include "engine/stores/annot_store.h"
#include "engine/stores/settings_store.h"
#include "engine/view/text_view.h"

namespace {

constexpr std::uint32_t kSelectedTextLimit = 15000;
constexpr std::uint32_t kUtf16Le = 1014;
constexpr int kBookmarkNameLimit = 63;

const TextViewOps& Tv(EngineObject* v) {
  return OpsOf<TextViewOps>(v);
}

// Where the reader stands as a percentage of the section. The text view
// answers 99 for an empty section; the reader of an empty document stands at
// its start, so the page bar and Go To show 0 there.
bool SectionPercent(EngineObject* tv, std::uint16_t* percent) {
  std::uint16_t value = 0;
  if (IsFailure(Tv(tv).control(tv, TextViewControl::Percent, 0, &value))) return false;
  std::uint32_t start = 0, end = 0;
  if (!IsFailure(Tv(tv).control(tv, TextViewControl::SectionStart, 0, &start)) &&
      !IsFailure(Tv(tv).control(tv, TextViewControl::SectionEnd, 0, &end)) && start == end)
    value = 0;
  *percent = value;
  return true;
}

// Text of the document's 8-bit charset and UTF-16, both ways, through the
// engine's converter; text it cannot convert comes out empty.
std::u16string DocTextToWide(std::uint32_t charset, const char* text, std::size_t length) {
  if (text == nullptr || length == 0 || g_TextConvModule == nullptr) return {};
  std::vector<char16_t> out(length + 1);
  TextConvRequest r{};
  r.sourceMib = charset;
  r.source = text;
  r.sourceLength = static_cast<std::uint32_t>(length);
  r.targetMib = kUtf16Le;
  r.target = out.data();
  r.targetCapacity = static_cast<std::uint32_t>(length * 2);
  const StatusCode s = OpsOf<TextConvOps>(g_TextConvModule).convert(g_TextConvModule, &r);
  if (IsFailure(s) && s != kTextConvTargetTooSmall) return {};
  const std::uint32_t produced = std::min<std::uint32_t>(r.targetCapacity, length * 2);
  return std::u16string(out.data(), produced / 2);
}

std::string WideToDocText(std::uint32_t charset, const std::u16string& text, std::uint32_t limit) {
  if (text.empty() || g_TextConvModule == nullptr) return {};
  std::string out(limit, '\0');
  TextConvRequest r{};
  r.flags = kConvStopWhenFull;
  r.sourceMib = kUtf16Le;
  r.source = text.data();
  r.sourceLength = static_cast<std::uint32_t>(text.size() * 2);
  r.targetMib = charset;
  r.target = out.data();
  r.targetCapacity = limit;
  const StatusCode s = OpsOf<TextConvOps>(g_TextConvModule).convert(g_TextConvModule, &r);
  if (IsFailure(s) && s != kTextConvTargetTooSmall) return {};
  out.resize(std::min(r.targetCapacity, limit));
  return out;
}

QString Text(std::uint32_t id) {
  return QString::fromUtf8(Resource_String(id));
}

}  // namespace

MainFrame* KelpoView::mainFrame() const {
  return dynamic_cast<MainFrame*>(window());
}

const CommandDialogs& KelpoView::dialogs() const {
  static const CommandDialogs kNone;
  if (dialogs_ != nullptr) return *dialogs_;
  const MainFrame* frame = mainFrame();
  return frame != nullptr ? frame->dialogs() : kNone;
}

void KelpoView::Message(std::uint32_t stringId) {
  if (Prompter* p = doc_->context().prompter) p->Message(stringId, Prompter::Icon::Exclamation);
}

void KelpoView::FillCommandState(CommandState* state) {
  state->hasView = true;
  state->hasTextView = textView_ != nullptr;
  state->hasHandler = doc_->state().reader != nullptr && attached_;
  state->viewMode = viewMode_;
  if (textView_ == nullptr || !attached_) return;
  EngineObject* tv = textView_;
  std::uint32_t saved = 0;
  if (!IsFailure(Tv(tv).positionListCommand(tv, TextViewPosList::MarkGet, 0, &saved)))
    state->savedPosition = saved;
  state->backEmpty = Tv(tv).navigate(tv, TextViewNav::CanGoBack, 0) == kNoMore;
  state->forwardEmpty = Tv(tv).navigate(tv, TextViewNav::CanGoForward, 0) == kNoMore;
  for (std::uint16_t list = 0; list < 3 && !state->anyBookmarks; ++list) {
    std::uint16_t count = 0;
    state->anyBookmarks =
        !IsFailure(Tv(tv).positionListCommand(tv, TextViewPosList::Count + list, 0, &count)) &&
        count != 0;
  }
  std::uint16_t page = 0, count = 0;
  if (!IsFailure(Tv(tv).getPageNumber(tv, &page, &count))) {
    state->page = page;
    state->pageCount = count;
  }
  std::uint16_t percent = 0;
  if (SectionPercent(tv, &percent)) state->percent = percent;
  AnnotStore* store = nullptr;
  std::uint16_t notes = 0;
  state->anyAnnotations = !IsFailure(Tv(tv).annotCommand(tv, TextViewAnnot::StoreOf, 0, &store)) &&
                          store != nullptr && !IsFailure(AnnotStore_GetCount(store, &notes)) &&
                          notes != 0;
}

void KelpoView::SetPercentMode(bool on) {
  viewMode_ = on ? (viewMode_ | ViewMode::Percent) : (viewMode_ & ~ViewMode::Percent);
}

void KelpoView::OnCommand(std::uint16_t id) {
  const bool handler = doc_->state().reader != nullptr && attached_;
  const bool ready = textView_ != nullptr && attached_;
  // A command that hands the engine to a worker stops auto-scroll first.
  if (id == Cmd::Find || id == Cmd::FindAgain || id == Cmd::Print || id == Cmd::PrintDirect ||
      id == Cmd::PrintPreview)
    StopAutoScroll();
  switch (id) {
    case Cmd::Copy:
      if (viewMode_ & ViewMode::Select) CopyText(TextViewSelection::CopySelection);
      break;
    case Cmd::CopyEntireScreen:
      CopyText(TextViewSelection::CopyScreen);
      break;
    case Cmd::CopyEntirePage:
      CopyText(TextViewSelection::CopySection);
      break;
    case Cmd::CopyEntireDocument:
      CopyText(TextViewSelection::CopyDocument);
      break;
    case Cmd::DocumentInformation:
      if (handler && dialogs().docInfo) dialogs().docInfo(this);
      break;
    case Cmd::Categories:
      OnCategories();
      break;
    case Cmd::MarkLocation:
      // The first laid-out line's start becomes the saved position.
      if (ready)
        (void)Tv(textView_).positionListCommand(textView_, TextViewPosList::MarkSet, 0, nullptr);
      break;
    case Cmd::JumpToMark:
      if (ready)
        (void)Tv(textView_).positionListCommand(textView_, TextViewPosList::MarkGo, 0, nullptr);
      break;
    case Cmd::AddBookmark:
      if (ready && dialogs().addBookmark) dialogs().addBookmark(this);
      break;
    case Cmd::EditBookmarks:
      if (ready && dialogs().editBookmarks) dialogs().editBookmarks(this);
      break;
    case Cmd::ClearHistory:
      (void)Navigate(TextViewNav::ClearHistory);
      break;
    case Cmd::Autoscroll:
      if (ready) StartAutoScroll();
      break;
    case Cmd::Options:
      if (dialogs().viewOptions) dialogs().viewOptions(this);
      ApplyFontFaces();
      ApplyDisplaySettings();
      (void)UpdateLocationMode();  // the page bar shows the new choice
      break;
    case Cmd::GoTo:
    case Cmd::GoToButton:
      OnGoTo();
      break;
    case Cmd::SelectMode:
      OnSelectMode();
      break;
    case Cmd::Find:
      if (dialogs().find && dialogs().find(this)) DoFind(false);
      break;
    case Cmd::FindAgain:
      DoFind(true);
      break;
    case Cmd::Home:
      if (ready) (void)Tv(textView_).control(textView_, TextViewControl::StartSection, 0, nullptr);
      break;
    case Cmd::Bookmarks:
      OnBookmarks();
      break;
    case Cmd::Back:
    case Cmd::Forward:
      if (handler) OnBackForward(id == Cmd::Forward);
      break;
    case Cmd::PreviousPage:
    case Cmd::NextPage:
      OnPageStep(id == Cmd::NextPage);
      break;
    case Cmd::SaveAs:
      KelpoView_OnFileSaveAs(this);
      break;
    case Cmd::Annotate:
      if (viewMode_ & ViewMode::Select) OnAnnotate();
      break;
    case Cmd::ViewAnnotations:
      OnViewAnnotations();
      break;
    case Cmd::AnnotationSettings:
      OnAnnotationSettings();
      break;
    case Cmd::Print:
      KelpoView_OnFilePrint(this);
      break;
    case Cmd::PrintDirect: {
      QPrinter printer(QPrinter::HighResolution);
      KelpoView_UsePrintSetup(this, &printer);
      (void)KelpoView_PrintTo(this, &printer);  // nothing printed is nothing to report
      break;
    }
    case Cmd::PrintPreview:
      KelpoView_OnFilePrintPreview(this);
      break;
    default:
      return;
  }
  viewport()->update();
}

bool KelpoView::OnAppCommand(int command) {
  if (command != 1 && command != 2) return false;
  OnCommand(command == 1 ? Cmd::Back : Cmd::Forward);
  return true;
}

void KelpoView::CopyText(std::uint16_t mode) {
  if (textView_ == nullptr || !attached_) return;
  if (Tv(textView_).selectionCommand(textView_, mode, 0) == kOutOfMemory)
    if (Prompter* p = doc_->context().prompter)
      p->Message(StringId::CopyOutOfMemory, Prompter::Icon::Error);
}

void KelpoView::OnSelectMode() {
  if (textView_ == nullptr || !attached_) return;
  if (viewMode_ & ViewMode::Select) {
    (void)Tv(textView_).selectionCommand(textView_, TextViewSelection::Leave, 0);
    viewMode_ &= ~ViewMode::Select;
  } else {
    (void)Tv(textView_).selectionCommand(textView_, TextViewSelection::Enter, 0);
    viewMode_ |= ViewMode::Select;
  }
}

void KelpoView::OnGoTo() {
  if (textView_ == nullptr || !attached_) return;
  GoToRequest request;
  if (IsFailure(Tv(textView_).getPageNumber(textView_, &request.page, &request.pageCount)))
    request.page = request.pageCount = 0;
  if (!SectionPercent(textView_, &request.percent)) request.percent = 0;
  request.showsPercent = (viewMode_ & ViewMode::Percent) != 0;
  if (!dialogs().goTo) return;
  const GoToAnswer answer = dialogs().goTo(this, request);
  if (const auto move = Command_GoToMove(answer.result, answer.value, request.pageCount))
    (void)Navigate(move->code, move->argument);
}

void KelpoView::DoFind(bool again) {
  KelpoView_DoFind(this, again);  // on a worker, with its progress dialog and messages
}

void KelpoView::OnBookmarks() {
  if (textView_ == nullptr || !attached_ || doc_->state().reader == nullptr) return;
  MainFrame* frame = mainFrame();
  if (frame == nullptr) return;
  QMenu menu(this);
  struct Choice {
    std::uint16_t list;
    std::uint32_t index;
  };
  std::vector<Choice> choices;
  const char* const* names[3] = {};
  for (std::uint16_t list = 0; list < 3; ++list) {
    std::uint16_t count = 0;
    if (IsFailure(Tv(textView_).positionListCommand(textView_, TextViewPosList::Count + list, 0,
                                                    &count)) ||
        count == 0)
      continue;
    if (IsFailure(Tv(textView_).positionListCommand(textView_, TextViewPosList::Names + list, 0,
                                                    &names[list])) ||
        names[list] == nullptr)
      continue;
    if (!choices.empty()) menu.addSeparator();
    for (std::uint32_t i = 0; i < count; ++i) {
      const char* name = names[list][i];
      const std::u16string wide =
          DocTextToWide(doc_->state().encoding, name, name != nullptr ? std::strlen(name) : 0);
      QAction* a = menu.addAction(QString::fromStdU16String(wide.substr(0, kBookmarkNameLimit)));
      a->setData(static_cast<int>(choices.size()));
      choices.push_back({list, i});
    }
  }
  QAction* chosen = nullptr;
  if (!choices.empty()) chosen = menu.exec(frame->BookmarksAnchor());
  if (chosen != nullptr) {
    const Choice c = choices[static_cast<std::size_t>(chosen->data().toInt())];
    (void)Tv(textView_).positionListCommand(textView_, TextViewPosList::GoTo + c.list, c.index,
                                            nullptr);
  }
  for (std::uint16_t list = 0; list < 3; ++list)
    if (names[list] != nullptr)
      (void)Tv(textView_).positionListCommand(textView_, TextViewPosList::FreeNames + list, 0,
                                              const_cast<char**>(names[list]));
}

void KelpoView::OnCategories() {
  // Categories live in the settings store: without one there is nothing to edit.
  if (doc_->context().store == nullptr) return;
  if (dialogs().categories) dialogs().categories(this);
}

void KelpoView::OnBackForward(bool forward) {
  const StatusCode s = Navigate(forward ? TextViewNav::Forward : TextViewNav::Back);
  if (s != kViewHostActs) return;  // the move stayed inside the document
  // The entry lies in another document. This document's path record goes
  // into the history in exchange for the other's (DocLinks_NewPathRecord).
  void* record = DocLinks_NewPathRecord(doc_->path());
  if (record == nullptr) return;
  void* exchanged = record;
  const std::uint16_t code =
      forward ? TextViewControl::SnapshotBack + 1 : TextViewControl::SnapshotBack;
  if (IsFailure(Tv(textView_).control(textView_, code, 0, &exchanged)) || exchanged == nullptr ||
      exchanged == record) {
    Engine_Free(record);  // not taken
    return;
  }
  ExchangeHistoryRecord(record, exchanged);
  auto* other = static_cast<std::uint8_t*>(exchanged);
  std::uint32_t* block = nullptr;
  std::memcpy(&block, other, sizeof block);
  const std::u16string otherPath = DocLinks_RecordPath(other);
  if (!KelpoView_OpenLinkedDocument(this, otherPath)) {
    // The other document could not be opened: its snapshot is not applied to
    // the document on show, which keeps its position.
    Engine_Free(block);
    Engine_Free(other);
    return;
  }
  // The text view takes the snapshot block (and frees it); the record is ours.
  (void)Tv(textView_).control(
      textView_, forward ? TextViewControl::SnapshotLoad + 1 : TextViewControl::SnapshotLoad, 0,
      block);
  Engine_Free(other);
}

void KelpoView::OnPageStep(bool next) {
  if (doc_->state().reader != nullptr && attached_)
    (void)Navigate(next ? TextViewNav::NextSection : TextViewNav::PreviousSection, 0);
  // A press on the tool bar's button leaves the keyboard with the view.
  setFocus();
}

// ---------------------------------------------------------------------------
// Annotations.

bool KelpoView::AssociateAnnotationsFile() {
  char16_t path[260] = {};
  if (!IsFailure(Tv(textView_).annotCommand(textView_, TextViewAnnot::GetPath, 260, path)) &&
      path[0] != 0)
    return true;
  if (QMessageBox::information(this, QApplication::applicationDisplayName(),
                               Text(StringId::NoAnnotationsFileYet),
                               QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
    return false;
  QString suggested = QString::fromStdU16String(doc_->path());
  const QFileInfo info(suggested);
  if (!info.suffix().isEmpty() && info.suffix().size() + 1 <= 5)
    suggested.chop(info.suffix().size() + 1);
  QFileDialog dialog(this, Text(StringId::SelectAnnotationsFileTitle), suggested);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("kpa"));
  dialog.setNameFilters({Text(StringId::AnnotationsFilter), Text(StringId::AllFilesFilter)});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  const std::u16string chosen = dialog.selectedFiles().front().toStdU16String();
  if (Annotation_IsDocumentFile(chosen, doc_->path())) {
    Message(StringId::AnnotationsFileIsDocument);
    return false;
  }
  AnnotStore* probe = nullptr;
  const StatusCode s =
      AnnotStore_Open(chosen.c_str(), static_cast<std::uint32_t>(chosen.size()), 0, &probe);
  if (!IsFailure(s)) (void)AnnotStore_Close(probe);  // only a test of the file
  const AnnotationFileCheck check = Annotation_CheckOpenResult(s);
  if (check == AnnotationFileCheck::kAnnotationsFile) {
    viewport()->update();
  } else if (check == AnnotationFileCheck::kOtherFile) {
    if (QMessageBox::warning(this, QApplication::applicationDisplayName(),
                             Text(StringId::NotAnAnnotationsFile),
                             QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
      return false;
    // Agreed: the file becomes an empty annotations file now, so the note
    // about to be written has somewhere to go. A file that cannot be
    // replaced stays as it was and is not taken.
    if (IsFailure(Annotation_ReplaceFile(chosen))) {
      Message(StringId::AnnotationsFileNotReplaced);
      return false;
    }
  }
  if (IsFailure(Tv(textView_).annotCommand(textView_, TextViewAnnot::SetPath,
                                           static_cast<std::uint32_t>(chosen.size()),
                                           const_cast<char16_t*>(chosen.c_str()))))
    return false;
  AnnotStore* store = nullptr;
  (void)Tv(textView_).annotCommand(textView_, TextViewAnnot::StoreOf, 0,
                                   &store);  // opened on first use
  return true;
}

void KelpoView::OnAnnotate() {
  if (textView_ == nullptr || !attached_ || !AssociateAnnotationsFile()) return;
  std::uint32_t length = 0;
  if (IsFailure(Tv(textView_).control(textView_, TextViewControl::SelectionLength, 0, &length)) ||
      length == 0)
    return;
  TextViewTextRange range{0, 0, nullptr, kSelectedTextLimit};
  if (IsFailure(Tv(textView_).control(textView_, TextViewControl::SelectedText, 0, &range)) ||
      range.buffer == nullptr)
    return;
  std::uint16_t page = 1;
  if (IsFailure(Tv(textView_).getPageNumber(textView_, &page, nullptr))) page = 1;
  const std::u16string excerpt = DocTextToWide(
      doc_->state().encoding, reinterpret_cast<const char*>(range.buffer), range.capacity);
  Engine_Free(range.buffer);
  AnnotationDialogFields fields;
  fields.text = u"p. " + QString::number(page).toStdU16String() + u": " + excerpt;
  const Preferences* p = doc_->context().prefs;
  fields.colour = p != nullptr ? p->lastAnnotationColour() : 1;
  if (dialogs().annotation && dialogs().annotation(this, &fields)) {
    if (MainFrame* frame = mainFrame())
      frame->preferences()->setLastAnnotationColour(fields.colour);
    const std::uint32_t charset = doc_->state().encoding;
    const std::string text = WideToDocText(charset, fields.text, 4 * kSelectedTextLimit);
    const std::string note = WideToDocText(charset, fields.comment, 4 * kSelectedTextLimit);
    AnnotEntry entry{};
    entry.start = range.from;
    // An annotation spans at most 65535 bytes: a longer selection is not
    // wrapped round to a short one.
    entry.length =
        static_cast<std::uint16_t>(std::min<std::uint32_t>(range.to - range.from, 0xFFFF));
    entry.attribute1 = 0;
    entry.attribute2 = fields.colour;
    entry.text1 = text.empty() ? nullptr : const_cast<char*>(text.data());
    entry.text1Size = static_cast<std::uint32_t>(text.size());
    entry.text2 = note.empty() ? nullptr : const_cast<char*>(note.data());
    entry.text2Size = static_cast<std::uint32_t>(note.size());
    // A store that refuses the annotation leaves the file as it was, and
    // the reader is told so.
    if (IsFailure(Tv(textView_).annotCommand(textView_, TextViewAnnot::Add, 0, &entry)))
      Message(StringId::AnnotationNotStored);
  }
  // Also draws the new note's passage in its colour.
  (void)Tv(textView_).selectionCommand(textView_, TextViewSelection::ClearPlain, 0);
}

void KelpoView::OnViewAnnotations() {
  if (textView_ == nullptr || !attached_) return;
  if (dialogs().annotations) dialogs().annotations(this);
}

void KelpoView::OnAnnotationSettings() {
  if (textView_ == nullptr || !attached_) return;
  if (dialogs().annotationSettings) dialogs().annotationSettings(this);
}

void KelpoView::OnAnnotationResult(StatusCode result) {
  if (result == kViewNoteBoxOpen) {
    viewMode_ |= ViewMode::NoteBox;
    Capture(true);
  } else if (result == kViewNoteBoxClosed) {
    viewMode_ &= ~ViewMode::NoteBox;
    Capture(false);
  } else if (result == kViewNoteBoxChosen) {
    viewMode_ &= ~ViewMode::NoteBox;
    Capture(false);
    std::uint16_t button = 0, index = 0;
    if (IsFailure(Tv(textView_).annotCommand(textView_, TextViewAnnot::Button, 0, &button)) ||
        IsFailure(Tv(textView_).annotCommand(textView_, TextViewAnnot::Index, 0, &index)))
      return;
    if (button == 0) EditAnnotation(index);
    if (button == 1) DeleteAnnotation(index);
  }
}

void KelpoView::EditAnnotation(std::uint16_t index) {
  AnnotStore* store = nullptr;
  if (IsFailure(Tv(textView_).annotCommand(textView_, TextViewAnnot::StoreOf, 0, &store)) ||
      store == nullptr)
    return;
  AnnotEntry entry{};
  entry.text1Size = kAnnotTextAll;
  entry.text2Size = kAnnotTextAll;
  if (IsFailure(AnnotStore_GetEntry(store, index, 0, &entry))) return;
  const std::uint32_t charset = doc_->state().encoding;
  AnnotationDialogFields fields;
  fields.text = DocTextToWide(charset, entry.text1, entry.text1Size);
  fields.comment = DocTextToWide(charset, entry.text2, entry.text2Size);
  Engine_Free(entry.text1);
  Engine_Free(entry.text2);
  entry.text1 = entry.text2 = nullptr;
  fields.colour = entry.attribute2;
  if (!dialogs().annotation || !dialogs().annotation(this, &fields)) return;
  const std::string text = WideToDocText(charset, fields.text, 4 * kSelectedTextLimit);
  const std::string note = WideToDocText(charset, fields.comment, 4 * kSelectedTextLimit);
  entry.text1 = text.empty() ? nullptr : const_cast<char*>(text.data());
  entry.text1Size = static_cast<std::uint32_t>(text.size());
  entry.text2 = note.empty() ? nullptr : const_cast<char*>(note.data());
  entry.text2Size = static_cast<std::uint32_t>(note.size());
  if (fields.colour != entry.attribute2) {
    entry.attribute2 = fields.colour;
    layoutValid_ = false;
  }
  // A store that cannot write keeps the annotation as it was.
  (void)AnnotStore_UpdateEntry(store, index, &entry);
  Render();
}

void KelpoView::DeleteAnnotation(std::uint16_t index) {
  if (QMessageBox::question(this, QApplication::applicationDisplayName(),
                            Text(StringId::AskDeleteAnnotation),
                            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  AnnotStore* store = nullptr;
  if (IsFailure(Tv(textView_).annotCommand(textView_, TextViewAnnot::StoreOf, 0, &store)) ||
      store == nullptr)
    return;
  (void)AnnotStore_DeleteEntries(store, index);  // a refused delete keeps the annotation
  layoutValid_ = false;
  Render();
}

void KelpoView::OnTextViewResult(StatusCode result) {
  if (result == kViewHostActs) {
    (void)KelpoView_OpenExternalDocument(this);  // messages shown there
  } else if (result == kViewNoTarget) {
    Message(StringId::LinkHasNoTarget);
  } else if (result == kViewListOpen) {
    viewMode_ |= ViewMode::ListOpen;
    Capture(true);
  } else if (result == kViewListCancelled) {
    viewMode_ &= ~ViewMode::ListOpen;
  } else if (result == kViewNoteBoxOpen) {
    viewMode_ |= ViewMode::NoteBox;
    Capture(true);
  } else if (result == kViewNoteBoxClosed) {
    viewMode_ &= ~ViewMode::NoteBox;
  }
}
