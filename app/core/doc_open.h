// The document side of the reading shell: the engine objects of one open
// document file (file stream, record database, document handler), its local
// settings in the settings store, and its display values and text encoding.
//
// KelpoDoc::OpenDocumentState fills a DocOpenState: the file is opened for
// reading, the handler classes are probed in a fixed order (native, 'RaZo',
// Palm Doc: the first that claims the file as its own; otherwise the plain
// text handler must accept it), the handler opens the file and runs its
// background steps to the end, and the document's local settings are
// opened (created when missing) and read. A failure leaves the state empty
// with every engine object it made released, and tells the user what the
// Prompter shows for it.
//
// A DocOpenState owns what it holds; moving it moves ownership (an adopted
// state is never released by its former holder). Release destroys the
// handler, closes the local settings (deleting them when they were not to be
// saved, else moving the document to the front of the recent list), closes
// the record database and the stream.
#pragma once

#include <cstdint>
#include <string>

#include "app/core/prefs.h"
#include "engine/runtime/core.h"
#include "engine/stores/settings_store.h"

// What the shell shows the user. The front end shows message boxes; tests
// script the answers.
class Prompter {
 public:
  enum class Icon { Exclamation, Question, Error };
  virtual ~Prompter() = default;
  // An OK box with the text of a string.
  virtual void Message(std::uint32_t stringId, Icon icon) = 0;
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(std::uint32_t stringId) = 0;
};

// What every document shares: the live preferences, the settings store (null
// when it could not be opened) and the prompter.
struct ShellContext {
  const Preferences* prefs = nullptr;
  EngineObject* store = nullptr;
  Prompter* prompter = nullptr;
};

struct DocOpenState {
  EngineObject* container = nullptr;  // record database; null for plain text
  EngineObject* stream = nullptr;     // the document file
  EngineObject* reader = nullptr;     // the handler; non-null: a document is open
  LocalSettings localSettings{};      // zero when none is open
  bool settingsNotSaved = false;      // release deletes the local settings
  bool readOnly = true;               // the file cannot be written (or is unknown)
  std::uint16_t locationFlags = 0;
  std::uint16_t displayFlags = 0;
  std::uint16_t displayExtra = 0;
  bool encodingGiven = false;  // the document names its encoding
  std::uint32_t encoding = 0;  // MIBenum of the document's 8-bit text
  std::uint16_t colourTheme = 0;
  std::uint32_t openMode = 0;  // 0 read, 1 read and write
  StatusCode probeResult = kOk;
  EngineObject* handlerClass = nullptr;

  DocOpenState() = default;
  DocOpenState(DocOpenState&& other) noexcept;
  DocOpenState& operator=(DocOpenState&& other) noexcept;
  DocOpenState(const DocOpenState&) = delete;
  DocOpenState& operator=(const DocOpenState&) = delete;
  ~DocOpenState();

  // The store the local settings belong to (set by whoever opened them).
  EngineObject* settingsStore = nullptr;
};

// Why an open failed, for a caller that tells the user itself.
struct DocOpenFailure {
  std::uint32_t message = 0;  // the string the prompter would show; 0 for none
  StatusCode status = kOk;    // the failing answer
};

// One open document: its path and its open state.
class KelpoDoc {
 public:
  explicit KelpoDoc(const ShellContext& context) : context_(context) { InitOpenState(&state_); }
  ~KelpoDoc() { ReleaseOpenState(&state_); }
  KelpoDoc(const KelpoDoc&) = delete;
  KelpoDoc& operator=(const KelpoDoc&) = delete;

  // Opens path into the document's own state (replacing what it held); false
  // leaves the document as it was. With failure given, a failure is handed
  // back there instead of being shown.
  bool OnOpenDocument(const std::u16string& path, DocOpenFailure* failure = nullptr);
  // Fills state from the file at path; false leaves it empty.
  bool OpenDocumentState(DocOpenState* state, const std::u16string& path,
                         DocOpenFailure* failure = nullptr);
  // Releases the document's state, takes source over and names the document.
  void AdoptOpenState(DocOpenState&& source, const std::u16string& path);
  void InitOpenState(DocOpenState* state) const;
  void ReleaseOpenState(DocOpenState* state) const;
  // Reopens the file in mode 0 (read) or 1 (read and write) and gives the
  // handler the new source. False for mode 1 on a read-only file, without a
  // handler, or when the file cannot be opened again. When the handler
  // refuses the new source it is given the file again in its old mode (the
  // document stays as it was); only when that fails too is it released. A
  // failed reopen for writing is told to the user.
  bool ReopenFile(std::uint32_t mode, bool force, bool ignoreErrors);
  bool ReopenForWriting() { return ReopenFile(1, false, false); }

  DocOpenState& state() { return state_; }
  const std::u16string& path() const { return path_; }
  const ShellContext& context() const { return context_; }

 private:
  void LoadLocalSettings(DocOpenState* state, const std::u16string& path) const;
  // The steps of ReopenFile: the file's stream (and record database) in a
  // mode, given to the handler in place of its source.
  bool SwapSource(std::uint32_t mode, bool ignoreErrors);
  bool OpenSource(std::uint32_t mode, EngineObject** stream, EngineObject** container) const;
  static void CloseSource(EngineObject* container, EngineObject* stream);
  bool Attach(EngineObject* stream, EngineObject* container);

  ShellContext context_;
  DocOpenState state_;
  std::u16string path_;
};

// The handler classes in probe order, skipping those not registered: the
// record-database formats first, the plain-text handler last.
int DocOpen_ProbeOrder(EngineObject* out[4]) noexcept;
// Whether the file is claimed by a format the engine knows but whose handler
// is not registered.
bool DocOpen_IsUnregisteredFormat(EngineObject* stream) noexcept;
