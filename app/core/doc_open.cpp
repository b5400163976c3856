#include "app/core/doc_open.h"

#include <unistd.h>

#include <utility>

#include "app/core/strings.h"
#include "engine/formats/doc_charset.h"
#include "engine/formats/doc_handler.h"
#include "engine/formats/native_doc.h"
#include "engine/formats/palm_doc.h"
#include "engine/formats/razo_doc.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/path.h"
#include "engine/runtime/stream.h"

namespace {

const DocHandlerOps& Handler(const EngineObject* o) {
  return OpsOf<DocHandlerOps>(o);
}
const SettingsOps& Store(const EngineObject* o) {
  return OpsOf<SettingsOps>(o);
}

// Releases everything the state holds, in the order the objects depend on
// each other, and leaves the pointers null. Nothing of it can be reported:
// the state is being dropped.
void Release(DocOpenState* s) {
  if (s->reader != nullptr) (void)Handler(s->reader).destroy(s->reader);
  s->reader = nullptr;
  if (s->settingsStore != nullptr && s->localSettings.db != nullptr) {
    const std::uint32_t mode = s->settingsNotSaved ? kSettingsCloseDelete : kSettingsCloseRecent;
    (void)Store(s->settingsStore).closeDocument(s->settingsStore, &s->localSettings, mode);
  }
  s->localSettings = LocalSettings{};
  if (s->container != nullptr) (void)OpsOf<DbFileOps>(s->container).close(s->container);
  s->container = nullptr;
  if (s->stream != nullptr) (void)StreamOf(s->stream).close(s->stream);
  s->stream = nullptr;
}

bool Writable(const std::u16string& path) {
  NativePath native;
  return Path_ToNative(path.c_str(), static_cast<std::uint32_t>(path.size()), &native) &&
         access(native.c_str(), W_OK) == 0;
}

StatusCode OpenFile(const std::u16string& path, std::uint32_t type, EngineObject** stream) {
  std::u16string buffer = path;
  buffer.resize(std::max<std::size_t>(buffer.size() + 1, kPathBufferSize), u'\0');
  return OpsOf<FileSysOps>(g_FileSysModule)
      .open(g_FileSysModule, buffer.data(), static_cast<std::uint32_t>(buffer.size()), type,
            stream);
}

}  // namespace

DocOpenState::DocOpenState(DocOpenState&& other) noexcept {
  *this = std::move(other);
}

DocOpenState& DocOpenState::operator=(DocOpenState&& other) noexcept {
  if (this == &other) return *this;
  Release(this);
  container = std::exchange(other.container, nullptr);
  stream = std::exchange(other.stream, nullptr);
  reader = std::exchange(other.reader, nullptr);
  localSettings = std::exchange(other.localSettings, LocalSettings{});
  settingsNotSaved = other.settingsNotSaved;
  readOnly = other.readOnly;
  locationFlags = other.locationFlags;
  displayFlags = other.displayFlags;
  displayExtra = other.displayExtra;
  encodingGiven = other.encodingGiven;
  encoding = other.encoding;
  colourTheme = other.colourTheme;
  openMode = other.openMode;
  probeResult = other.probeResult;
  handlerClass = other.handlerClass;
  settingsStore = other.settingsStore;
  return *this;
}

DocOpenState::~DocOpenState() {
  Release(this);
}

namespace {

// The record-database formats in probe order: the module-table entry and the
// class the engine has built in for it.
struct DatabaseFormat {
  EngineObject** entry;
  EngineObject* builtIn;
};
const DatabaseFormat kDatabaseFormats[] = {
    {&g_NativeDocModule, &NativeDocModule},
    {&g_RaZoDocModule, &RaZoDocModule},
    {&g_PalmDocModule, &PalmDocModule},
};

}  // namespace

int DocOpen_ProbeOrder(EngineObject* out[4]) noexcept {
  int n = 0;
  for (const DatabaseFormat& f : kDatabaseFormats)
    if (*f.entry != nullptr) out[n++] = *f.entry;
  if (g_TextDocModule != nullptr) out[n++] = g_TextDocModule;
  return n;
}

bool DocOpen_IsUnregisteredFormat(EngineObject* stream) noexcept {
  for (const DatabaseFormat& f : kDatabaseFormats) {
    if (*f.entry != nullptr) continue;
    const StatusCode s =
        OpsOf<DocHandlerOps>(f.builtIn).command(f.builtIn, DocCommand::ProbeStream, stream, 0);
    if (s == kDocProbeMine) return true;
  }
  return false;
}

void KelpoDoc::InitOpenState(DocOpenState* s) const {
  *s = DocOpenState{};
  s->settingsStore = context_.store;
  if (context_.prefs != nullptr) {
    s->locationFlags = context_.prefs->defaultLocationFlags();
    s->displayFlags = context_.prefs->defaultDisplayFlags();
    s->displayExtra = context_.prefs->defaultDisplayExtra();
  }
}

void KelpoDoc::ReleaseOpenState(DocOpenState* s) const {
  Release(s);
  InitOpenState(s);
}

bool KelpoDoc::OnOpenDocument(const std::u16string& path, DocOpenFailure* failure) {
  DocOpenState opened;
  if (!OpenDocumentState(&opened, path, failure)) return false;
  AdoptOpenState(std::move(opened), path);
  return true;
}

void KelpoDoc::AdoptOpenState(DocOpenState&& source, const std::u16string& path) {
  ReleaseOpenState(&state_);
  state_ = std::move(source);
  path_ = path;
}

bool KelpoDoc::OpenDocumentState(DocOpenState* s, const std::u16string& path,
                                 DocOpenFailure* failure) {
  InitOpenState(s);
  s->readOnly = !Writable(path);
  s->openMode = 0;
  if (failure != nullptr) *failure = DocOpenFailure{};
  const StatusCode streamOpened = OpenFile(path, kFileOpenRead, &s->stream);
  if (IsFailure(streamOpened)) {
    s->stream = nullptr;
    if (failure != nullptr) failure->status = streamOpened;
    return false;
  }
  auto fail = [&](std::uint32_t message, StatusCode status = kFailed) {
    if (failure != nullptr) {
      failure->message = message;
      failure->status = status;
    } else if (message != 0 && context_.prompter != nullptr) {
      context_.prompter->Message(message, Prompter::Icon::Exclamation);
    }
    ReleaseOpenState(s);
    return false;
  };

  // The first class that claims the file as its own wins; the plain-text
  // handler, last, only has to accept it as text.
  EngineObject* classes[4];
  const int count = DocOpen_ProbeOrder(classes);
  EngineObject* chosen = nullptr;
  StatusCode answer = kOk;
  for (int i = 0; i < count && chosen == nullptr; ++i) {
    const bool text = classes[i] == g_TextDocModule;
    // A document of a format whose handler is not registered is refused,
    // never shown as if it were text.
    if (text && DocOpen_IsUnregisteredFormat(s->stream)) break;
    const StatusCode want = text ? kDocProbeText : kDocProbeMine;
    const StatusCode got =
        Handler(classes[i]).command(classes[i], DocCommand::ProbeStream, s->stream, 0);
    if (got == want) {
      chosen = classes[i];
      answer = got;
    }
  }
  if (chosen == nullptr) return fail(StringId::UnsupportedFormat);

  const bool database = chosen != g_TextDocModule;
  const StatusCode created = Handler(chosen).create(chosen, &s->reader);
  if (IsFailure(created)) {
    s->reader = nullptr;
    return fail(0, created);
  }
  EngineObject* source = s->stream;
  if (database) {
    const StatusCode read =
        OpsOf<DbFileOps>(g_DbFileModule).open(g_DbFileModule, s->stream, 0, &s->container);
    if (IsFailure(read)) {
      s->container = nullptr;
      return fail(0, read);
    }
    source = s->container;
  }
  s->handlerClass = chosen;
  s->probeResult = answer;
  const StatusCode opened = Handler(s->reader).command(
      s->reader, database ? DocCommand::OpenDatabase : DocCommand::AttachStream, source, 0);
  if (IsFailure(opened)) {
    if (opened == kDocNewerVersion) return fail(StringId::NeedsNewerVersion, opened);
    if (opened == kCancelled) return fail(0, opened);
    return fail(StringId::CannotOpenCorrupt, opened);
  }

  // The handler's background work runs to its end before the document shows.
  for (;;) {
    const StatusCode step = Handler(s->reader).backgroundStep(s->reader);
    if (step == kDocStepDone) break;
    if (IsFailure(step)) return fail(0, step);
  }
  // Text that cannot be read from its start would show as an empty page with
  // nothing said: such a document is damaged.
  std::uint32_t textLength = 0;
  if (!IsFailure(Handler(s->reader).getTextLength(s->reader, &textLength)) && textLength > 0) {
    const std::uint8_t* text = nullptr;
    std::uint32_t got = 1;
    const StatusCode read = Handler(s->reader).getText(s->reader, 0, &text, &got);
    if (IsFailure(read) || text == nullptr || got == 0)
      return fail(StringId::CannotOpenCorrupt, IsFailure(read) ? read : kDocMalformed);
  }

  LoadLocalSettings(s, path);

  std::uint16_t charset = 0;
  if (Handler(s->reader).control(s->reader, DocControl::DocumentCharset, 0, &charset) == kOk &&
      charset != 0) {
    s->encoding = charset;
    s->encodingGiven = true;
  } else {
    s->encodingGiven = false;
    // Nothing chosen for this document: the program's default, unless the
    // text itself shows that it is in another charset.
    if (s->encoding == 0 && context_.prefs != nullptr)
      s->encoding = DocText_DefaultCharset(s->reader, context_.prefs->defaultEncoding());
  }
  return true;
}

// Never fails the open: without settings the document keeps the defaults.
void KelpoDoc::LoadLocalSettings(DocOpenState* s, const std::u16string& path) const {
  EngineObject* store = context_.store;
  if (store == nullptr) return;
  // A first sight of a document with a category tag puts it in that
  // category; most documents have none, which is no failure.
  (void)Store(store).assignCategoryFromDocument(store, path.c_str(), nullptr, nullptr);
  if (IsFailure(Store(store).openDocument(store, path.c_str(), 1, &s->localSettings))) {
    s->localSettings = LocalSettings{};
    s->colourTheme = 0;
    return;
  }
  std::uint16_t location = 0, display = 0, extra = 0, theme = 0;
  std::uint32_t encoding = 0;
  if (IsFailure(Store(store).getDocumentState(store, &s->localSettings, &location, &display, &extra,
                                              &encoding, &theme))) {
    s->encoding = 0;
    s->colourTheme = 0;  // never saved: the preferences' display words stay
    return;
  }
  s->locationFlags = location;
  s->displayFlags = display;
  s->displayExtra = extra;
  s->encoding = encoding;
  s->colourTheme = theme;
}

bool KelpoDoc::ReopenFile(std::uint32_t mode, bool force, bool ignoreErrors) {
  DocOpenState& s = state_;
  if ((mode == 1 && s.readOnly) || s.reader == nullptr) return false;
  if (mode == s.openMode && !force) return true;
  const bool reopened = SwapSource(mode, ignoreErrors);
  if (!reopened && mode == 1 && context_.prompter != nullptr)
    context_.prompter->Message(StringId::CannotReopenForWriting, Prompter::Icon::Exclamation);
  return reopened;
}

bool KelpoDoc::SwapSource(std::uint32_t mode, bool ignoreErrors) {
  DocOpenState& s = state_;
  // The new source is opened before the handler lets go of the old one: a
  // file that cannot be opened again leaves the document as it was (the view
  // still draws from its handler).
  EngineObject* stream = nullptr;
  EngineObject* container = nullptr;
  if (!OpenSource(mode, &stream, &container)) return false;
  auto dropNew = [&] {
    CloseSource(container, stream);
    return false;
  };
  if (IsFailure(Handler(s.reader).command(s.reader, DocCommand::Close, nullptr, 0)) &&
      !ignoreErrors)
    return dropNew();
  if (s.container != nullptr) {
    if (IsFailure(OpsOf<DbFileOps>(s.container).close(s.container)) && !ignoreErrors)
      return dropNew();
    s.container = nullptr;
  }
  if (s.stream != nullptr) {
    if (IsFailure(StreamOf(s.stream).close(s.stream)) && !ignoreErrors) return dropNew();
    s.stream = nullptr;
  }
  if (Attach(stream, container)) {
    s.openMode = mode;
    return true;
  }
  // The handler refused the new source: it reads the file again in the mode
  // it had, so the document stays as it was.
  CloseSource(container, stream);
  if (OpenSource(s.openMode, &stream, &container)) {
    if (Attach(stream, container)) return false;
    CloseSource(container, stream);
  }
  // Neither source can be read: the document is closed.
  (void)Handler(s.reader).destroy(s.reader);
  s.reader = nullptr;
  return false;
}

bool KelpoDoc::OpenSource(std::uint32_t mode, EngineObject** stream,
                          EngineObject** container) const {
  *stream = *container = nullptr;
  if (IsFailure(OpenFile(path_, mode, stream))) {
    *stream = nullptr;
    return false;
  }
  if (state_.handlerClass != g_TextDocModule &&
      IsFailure(OpsOf<DbFileOps>(g_DbFileModule).open(g_DbFileModule, *stream, mode, container))) {
    *container = nullptr;
    (void)StreamOf(*stream).close(*stream);  // opened for nothing: nothing to save
    *stream = nullptr;
    return false;
  }
  return true;
}

void KelpoDoc::CloseSource(EngineObject* container, EngineObject* stream) {
  if (container != nullptr) (void)OpsOf<DbFileOps>(container).close(container);
  if (stream != nullptr) (void)StreamOf(stream).close(stream);
}

bool KelpoDoc::Attach(EngineObject* stream, EngineObject* container) {
  DocOpenState& s = state_;
  const StatusCode attached =
      container != nullptr
          ? Handler(s.reader).command(s.reader, DocCommand::ReplaceDatabase, container, 0)
          : Handler(s.reader).command(s.reader, DocCommand::SetStream, stream, 0);
  if (IsFailure(attached)) {
    // Whatever the handler kept of the refused source is let go with it.
    (void)Handler(s.reader).command(s.reader, DocCommand::Close, nullptr, 0);
    return false;
  }
  s.stream = stream;
  s.container = container;
  return true;
}
