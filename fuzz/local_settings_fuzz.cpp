// Reads a document's settings file ("DSet" database) from arbitrary bytes the
// ways the store does: finding it by its stored document path, reading its
// details and state, saving a state into it and closing it. A file the store
// has written back must read again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/runtime/allocator.h"
#include "engine/stores/settings_internal.h"
#include "engine/stores/settings_store.h"

namespace {

constexpr char16_t kDocument[] = u"/fuzz/doc.txt";

struct Setup {
  EngineObject* store = nullptr;
  std::string file;  // the settings file of kDocument
  std::u16string wideFile;
};

Setup& Once() {
  static Setup setup = [] {
    Setup s;
    char root[] = "/tmp/kelpo-local-settings-fuzz-XXXXXX";
    if (mkdtemp(root) == nullptr) std::abort();
    setenv("KELPO_DATA_HOME", root, 1);
    std::uint32_t flags = 0;
    if (Settings_OpenStore(&SettingsModule, &flags, &s.store) != kOk) std::abort();
    s.file = std::string(root) + "/Kelpo/Kelpo/Settings/doc";
    for (char c : s.file)
      s.wideFile.push_back(static_cast<unsigned char>(c));
    return s;
  }();
  return setup;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 200000) return 0;
  Setup& s = Once();
  SettingsDocRecord parsed;
  if (Settings_ParseDocRecord(data, static_cast<std::uint32_t>(size), &parsed) == kOk &&
      (parsed.stateOffset > size || parsed.stateLength != size - parsed.stateOffset))
    __builtin_trap();
  WriteFile(s.file, data, size);

  char16_t stored[kPathBufferSize];
  std::uint32_t storedLength = 0;
  DocState state{};
  (void)Settings_ReadStoredDocument(s.wideFile.c_str(), stored, kPathBufferSize, &storedLength,
                                    &state);
  std::uint32_t infoSize = kPathBufferSize;
  std::uint32_t lastUse = 0;
  (void)Settings_GetDocumentInfo(s.store, u"doc", stored, &infoSize, nullptr, nullptr, &lastUse);
  std::uint32_t count = 0;
  SettingsNameList names = nullptr;
  if (Settings_ListDocuments(s.store, 1, &count, &names) == kOk)
    (void)Settings_FreeList(s.store, names);

  // Opened by its stored path (only a file that names kDocument is found).
  LocalSettings ls{};
  if (Settings_OpenDocument(s.store, kDocument, 0, &ls) != kOk) return 0;
  std::uint16_t w1 = 0, w2 = 0, w3 = 0, view = 0;
  std::uint32_t encoding = 0;
  (void)Settings_GetDocumentState(s.store, &ls, &w1, &w2, &w3, &encoding, &view);
  const StatusCode saved = Settings_SaveDocumentState(s.store, &ls, kDocument, 1, 2, 3, 106, 4);
  const StatusCode closed = Settings_CloseDocument(s.store, &ls, 0);
  if (saved == kOk && closed == kOk) {
    // What the store wrote it reads again, with the state it saved.
    if (Settings_ReadStoredDocument(s.wideFile.c_str(), stored, kPathBufferSize, &storedLength,
                                    &state) != kOk ||
        state.displayWord1 != 1 || state.displayWord3 != 3 || state.encoding != 106)
      __builtin_trap();
  }
  return 0;
}
