// The settings and library store: everything the reader remembers per user
// outside the registry.
//
// Folder <application data>/Kelpo/Kelpo/Settings holds one record database
// per document that was read ("local settings": type "DSet", creator "Kelp"),
// named after the document; sub-folder "_Cat_" holds each document's category
// list under the same name; sub-folder "_Reg_" holds the category dictionary
// "cat", the recent list "mru", the favourites "fav", the colour themes "clr"
// and the opaque blobs "pf0".."pf9".
//
// SettingsModule's OpenStore creates the one store object; the store answers the
// same table and every later call goes through it with the store first. No
// file stays open between calls except the database a LocalSettings handle
// holds. Every file of the store is replaced whole through
// FileSys_ReplaceFile, so a crash or a full disk leaves the old or the new
// file, never a mixture, and no copy that nothing removes (leftovers of
// killed writers are swept when the store opens and when the budget is
// checked). Damaged files (sizes that do not match their counts) read as
// absent and are never read past their end; a file that is there but cannot
// be read (permission, I/O error, a folder in its place, no memory) is
// reported and never replaced by a change made without it.
//
// Lists returned by ListDocumentsInCategory, GetRecentList, ListDocuments and GetFavourites are
// arrays of pointers to NUL-terminated UTF-16 strings whose strings share one block; FreeList
// (FreeList2) frees them. Paths are UTF-16; '/' and '\' both separate folders.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"
#include "engine/runtime/date.h"
#include "engine/runtime/path.h"
#include "engine/stores/settings_formats.h"

// Facility 0x723.
constexpr StatusCode kSettingsOverBudget = MakeInfo(Facility::Settings, 0x01);
constexpr StatusCode kSettingsNoAppData = MakeFailure(Facility::Settings, 0x01);
constexpr StatusCode kSettingsFolderTooLong = MakeFailure(Facility::Settings, 0x02);
constexpr StatusCode kSettingsNoFolder = MakeFailure(Facility::Settings, 0x03);
constexpr StatusCode kSettingsFolderCreate = MakeFailure(Facility::Settings, 0x04);
constexpr StatusCode kSettingsNoFreeName = MakeFailure(Facility::Settings, 0x05);
constexpr StatusCode kSettingsNotOpen = MakeFailure(Facility::Settings, 0x06);
constexpr StatusCode kSettingsNoDocRecord = MakeFailure(Facility::Settings, 0x07);
constexpr StatusCode kSettingsBadDocRecord = MakeFailure(Facility::Settings, 0x08);
constexpr StatusCode kSettingsShortState = MakeFailure(Facility::Settings, 0x09);
constexpr StatusCode kSettingsNoFile = MakeFailure(Facility::Settings, 0x0a);
constexpr StatusCode kSettingsSubfolderPath = MakeFailure(Facility::Settings, 0x0c);
constexpr StatusCode kSettingsSubfolderCreate = MakeFailure(Facility::Settings, 0x0d);
constexpr StatusCode kSettingsBadName = MakeFailure(Facility::Settings, 0x0e);
constexpr StatusCode kSettingsBufferTooSmall = MakeFailure(Facility::Settings, 0x0f);
constexpr StatusCode kSettingsHeaderNotFirst = MakeFailure(Facility::Settings, 0x10);
constexpr StatusCode kSettingsDeleteFailed = MakeFailure(Facility::Settings, 0x11);
constexpr StatusCode kSettingsFavFile = MakeFailure(Facility::Settings, 0x12);
constexpr StatusCode kSettingsFavExists = MakeFailure(Facility::Settings, 0x13);
constexpr StatusCode kSettingsFavWrite = MakeFailure(Facility::Settings, 0x14);
constexpr StatusCode kSettingsFavIndex = MakeFailure(Facility::Settings, 0x15);
constexpr StatusCode kSettingsFavChange = MakeFailure(Facility::Settings, 0x16);
constexpr StatusCode kSettingsFavFirst = MakeFailure(Facility::Settings, 0x17);
constexpr StatusCode kSettingsFavSecond = MakeFailure(Facility::Settings, 0x18);
constexpr StatusCode kSettingsBlobNumber = MakeFailure(Facility::Settings, 0x19);
constexpr StatusCode kSettingsNoCategoryTag = MakeFailure(Facility::Settings, 0x1a);
constexpr StatusCode kSettingsThemeLimit = MakeFailure(Facility::Settings, 0x1b);

// Fixed sizes.
constexpr std::uint32_t kSettingsFolderMax = 236;     // characters of the folder path
constexpr std::uint32_t kSettingsNameBudget = 252;    // name limit = this - folder length
constexpr std::uint32_t kSettingsNameBytesMax = 255;  // bytes of a name on this system
constexpr std::uint32_t kDocStateSize = 48;
constexpr std::uint32_t kLocalHeaderSize = 32;
constexpr std::uint32_t kDocRecordHeaderSize = 16;

// The per-document state block (stored 48 bytes, little-endian).
struct DocState {
  std::uint16_t size;          // 48
  std::uint16_t displayWord1;  // location flags of the shell
  std::uint16_t displayWord2;  // display flags
  std::uint16_t displayWord3;  // the third display word
  std::uint32_t firstUse;      // seconds since 1970 local time; set once
  std::uint32_t lastUse;       // set at every save
  std::uint8_t reserved16[16];
  std::uint16_t encoding;  // MIBenum, 0 none
  std::uint16_t viewWord;  // colour-theme key of the shell
  std::uint8_t reserved36[2];
  std::uint8_t tail[10];
};
DocState Settings_ParseDocState(const std::uint8_t stored[kDocStateSize]) noexcept;
void Settings_StoreDocState(const DocState& state, std::uint8_t stored[kDocStateSize]) noexcept;

// The caller's handle on one document's open settings; zero when closed.
struct LocalSettings {
  char16_t path[kPathBufferSize];  // the settings file; its last component names it
  EngineObject* file;              // file stream
  EngineObject* db;                // record database on it
  std::uint32_t createdNow;        // 1 when the open call created the file
  std::uint32_t readOnly;          // 1 when the file may only be read
};

// The store object's body.
struct SettingsStore {
  std::uint32_t folderLength;   // UTF-16 units
  std::uint32_t maxNameLength;  // 252 - folderLength
  char16_t folder[kPathBufferSize];
  std::uint32_t totalBytes;  // of the settings files; 0xFFFFFFFF saturated
  EngineObject* categories;  // DictOps instance or null
};

// Flags of OpenStore.
constexpr std::uint32_t kSettingsNoFavourites = 1;
constexpr std::uint32_t kSettingsFirstRun = 2;  // no "cat" yet: the caller adds defaults
// "cat" is there but damaged: kept as it is, no dictionary this session (the
// category set answers kFailed and nothing is saved over the file); the
// caller reports it.
constexpr std::uint32_t kSettingsCategoriesDamaged = 4;
// Flags of CloseDocument.
constexpr std::uint32_t kSettingsCloseDelete = 1;
constexpr std::uint32_t kSettingsCloseRecent = 2;
// Flags of MatchSettingsFolder.
constexpr std::uint32_t kSettingsMatchParent = 1;  // without the final "/Settings"
constexpr std::uint32_t kSettingsMatchLeaf = 2;    // only "Settings"

using SettingsNameList = char16_t**;

struct SettingsOps {
  CoreEndWord word0;
  // 1 (module): creates the store: folder, "_Cat_" and "_Reg_" made when
  // missing, categories loaded (without "cat", category lists lose the ids
  // the empty dictionary does not know; a damaged "cat" and every list stay
  // untouched), total counted. *flags: kSettingsNoFavourites,
  // kSettingsFirstRun, kSettingsCategoriesDamaged. A "cat" that is there but
  // cannot be read: its failure, nothing changed.
  // kSettingsNoAppData, kSettingsFolderTooLong (over 236 characters),
  // kSettingsFolderCreate, kSettingsSubfolderPath/Create.
  StatusCode (*openStore)(EngineObject* module, std::uint32_t* flags,
                          EngineObject** store) noexcept;
  // 2: destroys the category dictionary and frees the store.
  StatusCode (*closeStore)(EngineObject* store) noexcept;
  // 3: finds (or with create makes) the document's settings database and
  // opens it for writing into *ls; a file that may only be read is opened
  // for reading (ls->readOnly 1): SaveDocumentState then answers kFileSysAccessDenied,
  // and CloseDocument reports any other change that cannot be written. A new file gets record 0 and
  // the document record at once. Without create a missing file: kSettingsNoFile; a foreign file:
  // kSettingsNoFile. *ls is written only on success.
  StatusCode (*openDocument)(EngineObject* store, const char16_t* documentPath,
                             std::uint32_t create, LocalSettings* ls) noexcept;
  // 4: closes the database (committing its changes) and the file; then
  // kSettingsCloseDelete deletes the document's settings, else
  // kSettingsCloseRecent puts the name at the front of the recent list; the
  // handle is zeroed. Answers the first failure (a failed commit included).
  StatusCode (*closeDocument)(EngineObject* store, LocalSettings* ls, std::uint32_t flags) noexcept;
  // 5: reserved.
  CoreEndWord reserved5;
  // 6: the stored state; kFailed when never saved (first use 0);
  // kSettingsNotOpen, kSettingsNoDocRecord, kSettingsBadDocRecord,
  // kSettingsShortState.
  StatusCode (*getDocumentState)(EngineObject* store, LocalSettings* ls, std::uint16_t* word1,
                                 std::uint16_t* word2, std::uint16_t* word3,
                                 std::uint32_t* encoding, std::uint16_t* viewWord) noexcept;
  // 7: stores the values with last use = now (first use set once). Nothing
  // happens without an open database. Changes reach the file when the handle
  // is closed.
  StatusCode (*saveDocumentState)(EngineObject* store, LocalSettings* ls,
                                  const char16_t* documentPath, std::uint16_t word1,
                                  std::uint16_t word2, std::uint16_t word3, std::uint32_t encoding,
                                  std::uint16_t viewWord) noexcept;
  // 8: sweeps the leftovers of killed writers, then recounts the files of
  // the settings folder (copies being written included); *usedKb (optional)
  // = ceil(total / 1024). Within limitKb: 0; else kSettingsOverBudget, after
  // pruning when prune is set, however far pruning got (*usedKb keeps the
  // count from before).
  StatusCode (*checkSizeBudget)(EngineObject* store, std::uint32_t limitKb, std::uint32_t prune,
                                std::uint32_t* usedKb) noexcept;
  // 9: copies a document's settings (and category list) to another document.
  // No source settings: 0, nothing done.
  StatusCode (*copyDocumentSettings)(EngineObject* store, const char16_t* from,
                                     const char16_t* to) noexcept;
  // 10: deletes the document's settings, category list and recent entry;
  // kSettingsDeleteFailed when a deletion failed.
  StatusCode (*deleteDocumentSettings)(EngineObject* store, const char16_t* documentPath) noexcept;
  // 11: moves a document's settings to its new path. No settings: 0.
  StatusCode (*renameDocument)(EngineObject* store, const char16_t* from,
                               const char16_t* to) noexcept;
  // 12: writes "cat"; 0 without a dictionary.
  StatusCode (*saveCategories)(EngineObject* store) noexcept;
  // 13: the category dictionary (kFailed when none); owned by the store.
  StatusCode (*getCategorySet)(EngineObject* store, EngineObject** dict) noexcept;
  // 14: adds a NUL-terminated name beside the selected category (or under it
  // with subCategory; -1: at the top); the dictionary's codes pass through.
  StatusCode (*lookupCategory)(EngineObject* store, const char16_t* name, std::uint32_t selected,
                               std::uint32_t subCategory, std::uint16_t* id) noexcept;
  // 15: deletes a category and its descendants from the dictionary and from
  // every category list (the dictionary file is written by SaveCategories).
  StatusCode (*purgeCategoryIds)(EngineObject* store, std::uint32_t id) noexcept;
  // 16: the document's category list (count first). *list may point to a
  // caller buffer whose first u16 holds its capacity in ids, used when the
  // list fits; else a new engine block is returned (Engine_Free). Null when
  // the document has none.
  StatusCode (*getDocumentCategories)(EngineObject* store, const char16_t* settingsPath,
                                      std::uint16_t** list) noexcept;
  // 17: writes the count-first list (null or empty: deletes the file).
  StatusCode (*setDocumentCategories)(EngineObject* store, const char16_t* settingsPath,
                                      const std::uint16_t* list) noexcept;
  // 18: settings-file names of the documents holding the id (0xFFFF: any).
  StatusCode (*listDocumentsInCategory)(EngineObject* store, std::uint32_t id, std::uint32_t* count,
                                        SettingsNameList* list) noexcept;
  // 19: 0 when the document's list holds the id, else kNo.
  StatusCode (*documentHasCategory)(EngineObject* store, const char16_t* documentPath,
                                    std::uint32_t id) noexcept;
  // 20: the category name of a native document ("KDoc"): at most *size - 1
  // bytes and a NUL into buffer; *size = bytes copied + 1.
  // kSettingsNoCategoryTag for every malformed or missing case.
  StatusCode (*readDocumentCategoryTag)(EngineObject* store, const char16_t* documentPath,
                                        char* buffer, std::uint32_t* size) noexcept;
  // 21: on first sight of a native document with a category tag, adds the
  // category (writing "cat" when it was new), creates the document's settings
  // with that one category. Outs optional. kSettingsNoCategoryTag when there
  // is no tag or the document already has settings.
  StatusCode (*assignCategoryFromDocument)(EngineObject* store, const char16_t* documentPath,
                                           std::uint16_t* id, std::uint32_t* added) noexcept;
  // 22: recent names, most recent first; none: count 0, list null.
  StatusCode (*getRecentList)(EngineObject* store, std::uint32_t* count,
                              SettingsNameList* list) noexcept;
  // 23: names of all settings files; with changedOnly only documents
  // modified after their last use.
  StatusCode (*listDocuments)(EngineObject* store, std::uint32_t changedOnly, std::uint32_t* count,
                              SettingsNameList* list) noexcept;
  // 24: frees a returned list (null accepted).
  StatusCode (*freeList)(EngineObject* store, SettingsNameList list) noexcept;
  // 25: the stored document path of a settings file: *size (units) receives
  // its length + 1; the path is copied when a buffer of at least that size
  // and 260 units is given (else kSettingsBufferTooSmall). date and fileSize
  // (optional) describe the document file; lastUse (optional) from its state.
  // kSettingsBadName for a name too long or without a stored path.
  StatusCode (*getDocumentInfo)(EngineObject* store, const char16_t* settingsName, char16_t* path,
                                std::uint32_t* size, DateTime* date, std::uint32_t* fileSize,
                                std::uint32_t* lastUse) noexcept;
  // 26: all favourites as 2n strings (first, second, ...); no file (or a
  // damaged one): count 0, list null, *noFile 1. GetFavourites to UpdateFavourite: a "fav"
  // that is there but cannot be read answers a failure (26: the read
  // failure; the others: kSettingsFavFile) and is left as it is.
  StatusCode (*getFavourites)(EngineObject* store, std::uint32_t* count, SettingsNameList* list,
                              std::uint32_t* noFile) noexcept;
  // 27: as 24.
  StatusCode (*freeList2)(EngineObject* store, SettingsNameList list) noexcept;
  // 28: entry i's strings into buffers of at least 128 units (either null).
  StatusCode (*getFavourite)(EngineObject* store, std::uint32_t index, char16_t* first,
                             char16_t* second) noexcept;
  // 29: 0 and the index of the entry whose first string equals (ignoring
  // case); else 1. Length 0: NUL-terminated.
  StatusCode (*findFavourite)(EngineObject* store, const char16_t* first, std::uint32_t length,
                              std::uint32_t* index) noexcept;
  // 30: 0 and the index of the first entry whose second string is exactly
  // equal; else 1.
  StatusCode (*findFavouriteByTarget)(EngineObject* store, const char16_t* second,
                                      std::uint32_t length, std::uint32_t* index) noexcept;
  // 31: inserts in name order. kSettingsFavFile, kSettingsFavExists,
  // kSettingsFavWrite (also for an empty or over-long string).
  StatusCode (*addFavourite)(EngineObject* store, const char16_t* first, std::uint32_t firstLength,
                             const char16_t* second, std::uint32_t secondLength,
                             std::uint32_t* index) noexcept;
  // 32: kSettingsFavFile, kSettingsFavIndex, kSettingsFavChange.
  StatusCode (*deleteFavourite)(EngineObject* store, std::uint32_t index) noexcept;
  // 33: renames entry i keeping its second string; another entry of that
  // name: kSettingsFavChange.
  StatusCode (*updateFavourite)(EngineObject* store, std::uint32_t index, const char16_t* first,
                                std::uint32_t length, std::uint32_t* newIndex) noexcept;
  // 34: blob 0-9: reads min(file size, *size) bytes when a buffer is given;
  // *size receives the file's size. kSettingsBlobNumber above 9.
  StatusCode (*readBlob)(EngineObject* store, std::uint32_t number, void* buffer,
                         std::uint32_t* size) noexcept;
  // 35: replaces blob 0-9 with the bytes.
  StatusCode (*writeBlob)(EngineObject* store, std::uint32_t number, const void* data,
                          std::uint32_t size) noexcept;
  // 36: 0 when the path equals the folder path (or its parent, or only its
  // last component "Settings", by flags), ASCII case ignored, '/' = '\';
  // else kNo. Length 0: NUL-terminated.
  StatusCode (*matchSettingsFolder)(EngineObject* store, const char16_t* path, std::uint32_t length,
                                    std::uint32_t flags) noexcept;
  // 37: deletes "mru".
  StatusCode (*clearRecentList)(EngineObject* store) noexcept;
  // 38: forgets the categories (an empty dictionary stays), deletes "cat",
  // "mru", "fav", every settings file and every category list. The first
  // failure, else 0.
  StatusCode (*resetAll)(EngineObject* store) noexcept;
  // 39: loads "clr" into a new set (free it with slot 40).
  StatusCode (*getColourThemes)(EngineObject* store, ColourThemeSet** set) noexcept;
  // 40: with write replaces "clr" with the set; in any case frees the set.
  StatusCode (*saveColourThemes)(EngineObject* store, ColourThemeSet* set,
                                 std::uint32_t write) noexcept;
  // 41: 0 and the index of the theme named so (at most 31 characters, case
  // ignored); else 1 and ~insertion index.
  StatusCode (*findColourThemeByName)(EngineObject* store, ColourThemeSet* set,
                                      const char16_t* name, std::int32_t* index) noexcept;
  // 42: 0 and the index of the theme with the key, else 1.
  StatusCode (*findColourThemeByKey)(EngineObject* store, ColourThemeSet* set, std::uint16_t key,
                                     std::int32_t* index) noexcept;
  // 43: clears items[0..*count), copies the theme's items of slot 1 or 2 (up
  // to *count) and returns how many. kSettingsThemeLimit for a bad index.
  StatusCode (*getColourTheme)(EngineObject* store, ColourThemeSet* set, std::int32_t index,
                               ThemeColour* items, std::uint32_t* count) noexcept;
  // 44: adds a theme (key 0: the next free key). kSettingsThemeLimit for
  // 4096 themes, a taken name or key, a file over 32000 bytes, no free key.
  StatusCode (*setColourTheme)(EngineObject* store, ColourThemeSet* set, std::uint16_t key,
                               const char16_t* name, std::uint32_t colourCount,
                               const ThemeColour* items, std::int32_t* index) noexcept;
  // 45: removes a theme; kSettingsThemeLimit out of range.
  StatusCode (*deleteColourTheme)(EngineObject* store, ColourThemeSet* set,
                                  std::int32_t index) noexcept;
  // 46: items[0] text (default black), items[1] background (default white)
  // of the theme with the key; kFailed without a theme file; 1 unknown key.
  StatusCode (*getThemeColoursByKey)(EngineObject* store, std::uint16_t key,
                                     ThemeColour items[2]) noexcept;
  CoreEndWord end;
};

extern EngineObject SettingsModule;

StatusCode Settings_OpenStore(EngineObject* module, std::uint32_t* flags,
                              EngineObject** store) noexcept;
StatusCode Settings_CloseStore(EngineObject* store) noexcept;
StatusCode Settings_OpenDocument(EngineObject* store, const char16_t* documentPath,
                                 std::uint32_t create, LocalSettings* ls) noexcept;
StatusCode Settings_CloseDocument(EngineObject* store, LocalSettings* ls,
                                  std::uint32_t flags) noexcept;
StatusCode Settings_GetDocumentState(EngineObject* store, LocalSettings* ls, std::uint16_t* word1,
                                     std::uint16_t* word2, std::uint16_t* word3,
                                     std::uint32_t* encoding, std::uint16_t* viewWord) noexcept;
StatusCode Settings_SaveDocumentState(EngineObject* store, LocalSettings* ls,
                                      const char16_t* documentPath, std::uint16_t word1,
                                      std::uint16_t word2, std::uint16_t word3,
                                      std::uint32_t encoding, std::uint16_t viewWord) noexcept;
StatusCode Settings_CheckSizeBudget(EngineObject* store, std::uint32_t limitKb, std::uint32_t prune,
                                    std::uint32_t* usedKb) noexcept;
StatusCode Settings_CopyDocumentSettings(EngineObject* store, const char16_t* from,
                                         const char16_t* to) noexcept;
StatusCode Settings_DeleteDocumentSettings(EngineObject* store,
                                           const char16_t* documentPath) noexcept;
StatusCode Settings_RenameDocument(EngineObject* store, const char16_t* from,
                                   const char16_t* to) noexcept;
StatusCode Settings_SaveCategories(EngineObject* store) noexcept;
StatusCode Settings_GetCategorySet(EngineObject* store, EngineObject** dict) noexcept;
StatusCode Settings_LookupCategory(EngineObject* store, const char16_t* name,
                                   std::uint32_t selected, std::uint32_t subCategory,
                                   std::uint16_t* id) noexcept;
StatusCode Settings_PurgeCategoryIds(EngineObject* store, std::uint32_t id) noexcept;
StatusCode Settings_GetDocumentCategories(EngineObject* store, const char16_t* settingsPath,
                                          std::uint16_t** list) noexcept;
StatusCode Settings_SetDocumentCategories(EngineObject* store, const char16_t* settingsPath,
                                          const std::uint16_t* list) noexcept;
StatusCode Settings_ListDocumentsInCategory(EngineObject* store, std::uint32_t id,
                                            std::uint32_t* count, SettingsNameList* list) noexcept;
StatusCode Settings_DocumentHasCategory(EngineObject* store, const char16_t* documentPath,
                                        std::uint32_t id) noexcept;
StatusCode Settings_ReadDocumentCategoryTag(EngineObject* store, const char16_t* documentPath,
                                            char* buffer, std::uint32_t* size) noexcept;
StatusCode Settings_AssignCategoryFromDocument(EngineObject* store, const char16_t* documentPath,
                                               std::uint16_t* id, std::uint32_t* added) noexcept;
StatusCode Settings_GetRecentList(EngineObject* store, std::uint32_t* count,
                                  SettingsNameList* list) noexcept;
StatusCode Settings_ListDocuments(EngineObject* store, std::uint32_t changedOnly,
                                  std::uint32_t* count, SettingsNameList* list) noexcept;
StatusCode Settings_FreeList(EngineObject* store, SettingsNameList list) noexcept;
StatusCode Settings_GetDocumentInfo(EngineObject* store, const char16_t* settingsName,
                                    char16_t* path, std::uint32_t* size, DateTime* date,
                                    std::uint32_t* fileSize, std::uint32_t* lastUse) noexcept;
StatusCode Settings_GetFavourites(EngineObject* store, std::uint32_t* count, SettingsNameList* list,
                                  std::uint32_t* noFile) noexcept;
StatusCode Settings_GetFavourite(EngineObject* store, std::uint32_t index, char16_t* first,
                                 char16_t* second) noexcept;
StatusCode Settings_FindFavourite(EngineObject* store, const char16_t* first, std::uint32_t length,
                                  std::uint32_t* index) noexcept;
StatusCode Settings_FindFavouriteByTarget(EngineObject* store, const char16_t* second,
                                          std::uint32_t length, std::uint32_t* index) noexcept;
StatusCode Settings_AddFavourite(EngineObject* store, const char16_t* first,
                                 std::uint32_t firstLength, const char16_t* second,
                                 std::uint32_t secondLength, std::uint32_t* index) noexcept;
StatusCode Settings_DeleteFavourite(EngineObject* store, std::uint32_t index) noexcept;
StatusCode Settings_UpdateFavourite(EngineObject* store, std::uint32_t index, const char16_t* first,
                                    std::uint32_t length, std::uint32_t* newIndex) noexcept;
StatusCode Settings_ReadBlob(EngineObject* store, std::uint32_t number, void* buffer,
                             std::uint32_t* size) noexcept;
StatusCode Settings_WriteBlob(EngineObject* store, std::uint32_t number, const void* data,
                              std::uint32_t size) noexcept;
StatusCode Settings_MatchSettingsFolder(EngineObject* store, const char16_t* path,
                                        std::uint32_t length, std::uint32_t flags) noexcept;
StatusCode Settings_ClearRecentList(EngineObject* store) noexcept;
StatusCode Settings_ResetAll(EngineObject* store) noexcept;
// Removes the copies that killed writers of ours left in the settings folder
// and its sub-folders (FileSys_SweepLeftovers), without opening the store.
// Housekeeping: folders that cannot be listed are passed over. 0.
StatusCode Settings_SweepLeftoverCopies() noexcept;
StatusCode Settings_GetColourThemes(EngineObject* store, ColourThemeSet** set) noexcept;
StatusCode Settings_SaveColourThemes(EngineObject* store, ColourThemeSet* set,
                                     std::uint32_t write) noexcept;
StatusCode Settings_FindColourThemeByName(EngineObject* store, ColourThemeSet* set,
                                          const char16_t* name, std::int32_t* index) noexcept;
StatusCode Settings_FindColourThemeByKey(EngineObject* store, ColourThemeSet* set,
                                         std::uint16_t key, std::int32_t* index) noexcept;
StatusCode Settings_GetColourTheme(EngineObject* store, ColourThemeSet* set, std::int32_t index,
                                   ThemeColour* items, std::uint32_t* count) noexcept;
StatusCode Settings_SetColourTheme(EngineObject* store, ColourThemeSet* set, std::uint16_t key,
                                   const char16_t* name, std::uint32_t colourCount,
                                   const ThemeColour* items, std::int32_t* index) noexcept;
StatusCode Settings_DeleteColourTheme(EngineObject* store, ColourThemeSet* set,
                                      std::int32_t index) noexcept;
StatusCode Settings_GetThemeColoursByKey(EngineObject* store, std::uint16_t key,
                                         ThemeColour items[2]) noexcept;

// Helpers shared by the store's parts (also used by tests).
// The base name a document's settings file is named after: the file name
// without its extension ('.' as first character keeps the whole name).
void Settings_BaseName(const char16_t* documentPath, std::uint32_t* start,
                       std::uint32_t* length) noexcept;
// The part of a path after its last separator.
const char16_t* Settings_FileNamePart(const char16_t* path) noexcept;
// Finds the document's settings file, or names a free one (not created),
// into path (kPathBufferSize units). *exists tells which.
StatusCode Settings_FindSettingsFile(EngineObject* store, const char16_t* documentPath,
                                     char16_t* path, bool* exists) noexcept;
// Recounts the total of the settings files.
StatusCode Settings_RecomputeTotalSize(EngineObject* store) noexcept;

// Fault injection for tests: the nth write step from now (1 = the next) of
// the store's file replacement fails as a full disk would; 0 disables.
void Settings_FailWriteStep(std::uint32_t nth) noexcept;
