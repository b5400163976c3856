// Helpers shared by the parts of the settings store (not for other callers).
#pragma once

#include <cstdint>

#include "engine/runtime/db_file.h"
#include "engine/runtime/dict.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/stores/settings_store.h"

// Modules through the module table (the module objects themselves before
// registration).
EngineObject* Settings_FileSys() noexcept;
EngineObject* Settings_DbFile() noexcept;
EngineObject* Settings_Dict() noexcept;
EngineObject* Settings_Date() noexcept;
inline const FileSysOps& Settings_Fs() {
  return OpsOf<FileSysOps>(Settings_FileSys());
}
inline const DbFileOps& Settings_Db() {
  return OpsOf<DbFileOps>(Settings_DbFile());
}
inline const DictOps& Settings_DictOps() {
  return OpsOf<DictOps>(Settings_Dict());
}

inline SettingsStore& Settings_Body(EngineObject* store) {
  return BodyOf<SettingsStore>(store);
}

// A path under construction, always NUL-terminated.
struct SettingsPath {
  char16_t text[kPathBufferSize];
  std::uint32_t length = 0;
  SettingsPath() { text[0] = 0; }
  bool Append(const char16_t* s, std::uint32_t n) noexcept;
  bool Append(const char16_t* s) noexcept;
  bool Assign(const char16_t* s) noexcept;
};

// Folder + "/" + sub-folder ("_Cat_" or "_Reg_") + "/" + name.
bool Settings_SubfolderFile(const SettingsStore& st, const char16_t* subfolder,
                            const char16_t* name, SettingsPath* out) noexcept;
// The "_Cat_" file for a settings-file path (named like its last component).
bool Settings_CategoryListPath(const SettingsStore& st, const char16_t* settingsPath,
                               SettingsPath* out) noexcept;
// Makes sure the folder and its sub-folders exist.
StatusCode Settings_EnsureFolders(SettingsStore& st) noexcept;

// Reads a whole file (at most limit bytes; larger: kMalformed). Missing:
// kFileSysNotFound (or the open failure).
StatusCode Settings_ReadWholeFile(const char16_t* path, std::uint32_t limit,
                                  SettingsImage* out) noexcept;
// Replaces a file with the bytes in one step (FileSys_ReplaceFile).
StatusCode Settings_ReplaceFile(const char16_t* path, const void* data,
                                std::uint32_t size) noexcept;
// Deletes a file; a missing one is success.
StatusCode Settings_DeleteFile(const char16_t* path) noexcept;
// Whether a path names nothing at all.
bool Settings_PathIsFree(const char16_t* path) noexcept;

// The recent list, by settings-file path (its last component is recorded).
StatusCode Settings_AddRecentDocument(SettingsStore& st, const char16_t* settingsPath) noexcept;
StatusCode Settings_RemoveRecentDocument(SettingsStore& st, const char16_t* settingsPath) noexcept;
StatusCode Settings_RenameRecentDocument(SettingsStore& st, const char16_t* oldPath,
                                         const char16_t* newPath) noexcept;
// Recent list, category list and settings file of one settings-file path.
StatusCode Settings_DeleteLocalSettingsFile(SettingsStore& st,
                                            const char16_t* settingsPath) noexcept;
// How Settings_LoadCategories found "cat".
enum class CategoryLoad {
  FromFile,  // read: the dictionary is the file's
  Missing,   // no file: an empty dictionary
  Damaged,   // read but not a dictionary: no dictionary, the file left as it is
};
// The category dictionary from "cat" (an empty one when missing; none when
// damaged), *how telling which. A "cat" that is there but cannot be read
// answers the failure (the store keeps no dictionary then).
StatusCode Settings_LoadCategories(SettingsStore& st, CategoryLoad* how) noexcept;
// Removes from every category list the ids that name no category of the
// dictionary, so that a category made later never inherits them.
StatusCode Settings_DropUnknownCategoryIds(SettingsStore& st) noexcept;

// Reads a category list file: ids (count first) in a new engine block, or
// null when the document has none.
StatusCode Settings_ReadCategoryList(const SettingsStore& st, const char16_t* settingsPath,
                                     std::uint16_t** list) noexcept;
// Writes (count > 0) or deletes (count 0) a category list file.
StatusCode Settings_WriteCategoryList(const SettingsStore& st, const char16_t* settingsPath,
                                      const std::uint16_t* ids, std::uint32_t count) noexcept;

// Builds a returned name list from n (pointer, length) strings.
struct SettingsNameRef {
  const char16_t* text;
  std::uint32_t length;
};
StatusCode Settings_MakeNameList(const SettingsNameRef* names, std::uint32_t count,
                                 SettingsNameList* out) noexcept;

// Stored document path and state of a settings file (path: kPathBufferSize
// units or more as pathCapacity says; *pathLength the stored length).
StatusCode Settings_ReadStoredDocument(const char16_t* settingsPath, char16_t* path,
                                       std::uint32_t pathCapacity, std::uint32_t* pathLength,
                                       DocState* state) noexcept;
// The document record of a settings database (little-endian): header size,
// flags (bit 0 UTF-16 path), path length, the path, padding to 4, the state.
struct SettingsDocRecord {
  std::uint32_t headerSize;
  std::uint32_t flags;
  std::uint32_t pathLength;   // characters
  std::uint32_t stateOffset;  // multiple of 4
  std::uint32_t stateLength;  // the rest of the record (at least 32)
};
// kSettingsBadDocRecord or kSettingsShortState for records that break the rules.
StatusCode Settings_ParseDocRecord(const std::uint8_t* record, std::uint32_t size,
                                   SettingsDocRecord* out) noexcept;
// The path units of a parsed record.
void Settings_GetDocPath(const std::uint8_t* record, const SettingsDocRecord& parsed,
                         char16_t* out) noexcept;
// Seconds since 1970 in local time, now.
std::uint32_t Settings_NowLocalSeconds() noexcept;
