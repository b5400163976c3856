#include "app/window/doc_links.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringDecoder>
#include <cstring>

#include "app/core/doc_links.h"
#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/path_folders.h"
#include "engine/runtime/stream.h"
#include "engine/view/text_view.h"

namespace {

// A history record begins with the text view's holder slot.
constexpr std::size_t kRecordSlot = sizeof(std::uint32_t*);
constexpr std::uint32_t kExportStart = 64 * 1024;

const TextViewOps& Tv(EngineObject* v) {
  return OpsOf<TextViewOps>(v);
}

QString ToQString(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}
std::u16string ToU16(const QString& s) {
  return s.toStdU16String();
}

// A link's 8-bit target as text: UTF-8 when it is that, else byte by byte.
std::u16string Widen(const char* text, std::size_t length) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString out = utf8(QByteArrayView(text, static_cast<qsizetype>(length)));
  if (utf8.hasError()) out = QString::fromLatin1(text, static_cast<qsizetype>(length));
  return ToU16(out);
}

bool SameFile(const std::u16string& a, const std::u16string& b) {
  const QFileInfo fa(ToQString(a)), fb(ToQString(b));
  if (!fa.exists() || !fb.exists()) return false;
  return fa.canonicalFilePath() == fb.canonicalFilePath();
}

// The user's documents folder as the engine names it (the settings store and
// the engine's other lookups see the same one); empty when it has none, and
// then links search only beside the current document.
std::u16string DocumentsFolder() {
  char16_t folder[kPathBufferSize] = {};
  const std::uint32_t length = Path_GetSpecialFolder(folder, kCsidlPersonal, false);
  return std::u16string(folder, length);
}

void MoveToAnchor(KelpoView* view, TextViewLinkDescription* link) {
  EngineObject* tv = view->textView();
  if (link == nullptr || tv == nullptr) return;
  if (Tv(tv).control(tv, TextViewControl::ResolveLink, 0, link) != kOk) return;
  (void)Tv(tv).navigate(tv, TextViewNav::ClearList, 0);  // always 0
  std::uint32_t anchor = link->value;
  // An anchor the document no longer has leaves the view at its start.
  (void)Tv(tv).control(tv, TextViewControl::GoTo, 0, &anchor);
  view->Render();
}

}  // namespace

void* DocLinks_NewPathRecord(const std::u16string& path) {
  const std::size_t pathBytes = 2 * (path.size() + 1);
  if (pathBytes > 0xFFFF) return nullptr;
  void* memory = nullptr;
  if (IsFailure(Engine_Alloc(static_cast<std::uint32_t>(kRecordSlot + 4 + pathBytes), &memory)))
    return nullptr;
  auto* record = static_cast<std::uint8_t*>(memory);
  std::memset(record, 0, kRecordSlot + 4);
  const auto length = static_cast<std::uint16_t>(pathBytes);
  std::memcpy(record + kRecordSlot, &length, 2);
  std::memcpy(record + kRecordSlot + 4, path.c_str(), pathBytes);
  return record;
}

std::u16string DocLinks_RecordPath(const void* record) {
  const auto* bytes = static_cast<const std::uint8_t*>(record);
  std::uint16_t length = 0;
  std::memcpy(&length, bytes + kRecordSlot, 2);
  std::u16string path(length / 2, u'\0');
  std::memcpy(path.data(), bytes + kRecordSlot + 4, length & ~1u);
  while (!path.empty() && path.back() == u'\0')
    path.pop_back();
  return path;
}

bool KelpoView_OpenLinkedDocument(KelpoView* view, const std::u16string& path, bool remember) {
  KelpoDoc* doc = view->document();
  if (doc == nullptr) return false;
  DocOpenState next;
  doc->InitOpenState(&next);
  if (!doc->OpenDocumentState(&next, path)) return false;  // messages shown; the document stays
  if (EngineObject* tv = view->textView(); remember && tv != nullptr) {
    // The document left, with its place and history, goes on the snapshot
    // stack that Back reaches once the new document's history runs out.
    void* record = DocLinks_NewPathRecord(doc->path());
    if (record != nullptr &&
        IsFailure(Tv(tv).control(tv, TextViewControl::SnapshotPush, 0, record)))
      Engine_Free(record);  // not taken: Back stays in the new document
    else
      view->ExchangeHistoryRecord(record, nullptr);
  }
  view->SaveLocalSettings();
  doc->AdoptOpenState(std::move(next), path);
  view->OnInitialUpdate();
  if (MainFrame* frame = view->mainFrame()) frame->DocumentReplaced(view);
  view->Render();
  return true;
}

bool KelpoView_OpenLinkTarget(KelpoView* view, std::u16string_view target,
                              TextViewLinkDescription* link) {
  KelpoDoc* doc = view->document();
  if (doc == nullptr) return false;
  DocLinkFolders where;
  where.documentPath = doc->path();
  where.documentsFolder = DocumentsFolder();
  const std::u16string found = DocLinks_ResolveTarget(target, where);
  if (found.empty()) {
    const QString text = QString::fromUtf8(Resource_String(StringId::ExternalDocumentNotFound))
                             .replace(QStringLiteral("%s"), ToQString(std::u16string(target)));
    QMessageBox::critical(view, QApplication::applicationDisplayName(), text);
    return false;
  }
  // A link to the document on show is a jump inside it: reopening it would
  // hold its local settings twice.
  if (!SameFile(found, doc->path()) && !KelpoView_OpenLinkedDocument(view, found, true))
    return false;
  MoveToAnchor(view, link);
  return true;
}

bool KelpoView_OpenExternalDocument(KelpoView* view) {
  EngineObject* tv = view->textView();
  if (tv == nullptr) return false;
  TextViewLinkDescription link{};
  if (IsFailure(Tv(tv).control(tv, TextViewControl::DescribeLink, 0, &link))) return false;
  bool opened = false;
  if (link.text[0] != nullptr) {
    const std::u16string target = Widen(link.text[0], link.length[0]);
    opened = KelpoView_OpenLinkTarget(view, target, &link);
  }
  // The description belongs to whichever document's view it was read from;
  // its texts are engine memory either way.
  (void)Tv(view->textView()).control(view->textView(), TextViewControl::FreeLink, 0, &link);
  return opened;
}

bool KelpoView_SaveTextTo(KelpoView* view, const std::u16string& path) {
  KelpoDoc* doc = view->document();
  EngineObject* tv = view->textView();
  if (doc == nullptr || tv == nullptr || doc->state().reader == nullptr || path.empty())
    return false;
  // The open document's own file is never replaced by its text.
  if (SameFile(path, doc->path())) return false;
  EngineObject* text = nullptr;
  if (IsFailure(
          MemStream_Create(g_MemStreamModule, nullptr, 0, kExportStart, kMemCreateWritable, &text)))
    return false;
  // The text goes to memory first; the file is replaced only when all of it
  // was read, and then in one step.
  bool ok = Tv(tv).control(tv, TextViewControl::WriteText, 0, text) == kOk;
  if (ok) ok = FileSys_ReplaceFileFromStream(g_FileSysModule, path.c_str(), text) == kOk;
  (void)StreamOf(text).close(text);  // a memory stream closes without failing
  return ok;
}

void KelpoView_OnFileSaveAs(KelpoView* view) {
  KelpoDoc* doc = view->document();
  if (doc == nullptr || doc->state().reader == nullptr) return;
  const QString title = QFileInfo(ToQString(doc->path())).fileName();
  const QString suggested = ToQString(DocLinks_SaveAsName(ToU16(title)));
  const QString filters = QStringLiteral("Text File (*.txt);;%1")
                              .arg(QString::fromUtf8(Resource_String(StringId::AllFilesFilter))
                                       .replace(QStringLiteral("(*.*)"), QStringLiteral("(*)")));
  QFileDialog dialog(view, QString::fromUtf8(Resource_String(StringId::SaveAsTitle)),
                     QFileInfo(ToQString(doc->path())).absolutePath(), filters);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.selectFile(suggested);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool saved = KelpoView_SaveTextTo(view, ToU16(dialog.selectedFiles().front()));
  QApplication::restoreOverrideCursor();
  if (!saved)
    QMessageBox::warning(
        view, QApplication::applicationDisplayName(),
        QStringLiteral("The text could not be saved to %1.").arg(dialog.selectedFiles().front()));
}
