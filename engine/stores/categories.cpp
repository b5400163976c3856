// Categories, per-document category lists, the recent list and favourites.
#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/swap.h"
#include "engine/stores/settings_internal.h"

namespace {

constexpr char16_t kRegFolder[] = u"_Reg_";
constexpr char16_t kCatFolder[] = u"_Cat_";
constexpr std::uint32_t kRecentLimit = kRecentEntries + kRecentEntries * 254;
constexpr std::uint32_t kFavLimit = 2 + 2 * kFavouritesMax + 2 * kFavouritesMax * 254;
constexpr std::uint32_t kCategoryFileLimit = 2 + 2 * kCategoryListMax;
// The largest dictionary image: size words, header, 65535 slots of 252 bytes, pool.
constexpr std::uint32_t kDictImageLimit = 10 + 255 + 65535u * 252 + 65535;
constexpr std::uint32_t kFavBuffer = 128;

bool RegPath(const SettingsStore& st, const char16_t* name, SettingsPath* p) {
  return Settings_SubfolderFile(st, kRegFolder, name, p);
}

// Loads the recent list; missing or damaged: 100 zero codes (valid false).
StatusCode LoadRecent(const SettingsStore& st, SettingsImage* mru, SettingsPath* path,
                      bool* valid) {
  if (!RegPath(st, u"mru", path)) return kSettingsNoFolder;
  const StatusCode s = Settings_ReadWholeFile(path->text, kRecentLimit, mru);
  *valid = s == kOk && Settings_RecentValid(mru->Data(), mru->Size());
  if (*valid) return kOk;
  if (s != kOk && s != kFileSysNotFound && s != kMalformed) return s;
  const StatusCode r = mru->Resize(0);
  return r != kOk ? r : mru->Resize(kRecentEntries);
}

// Loads the favourites: kOk when valid, kNotFound when missing or damaged
// (then an empty image with count 0). A file that is there but cannot be read
// answers the read failure, as the recent list does, so that no change
// replaces favourites it could not see.
StatusCode LoadFav(const SettingsStore& st, SettingsImage* fav, SettingsPath* path) {
  if (!RegPath(st, u"fav", path)) return kSettingsFavFile;
  const StatusCode s = Settings_ReadWholeFile(path->text, kFavLimit, fav);
  if (s == kOk && Settings_FavValid(fav->Data(), fav->Size())) return kOk;
  if (s != kOk && s != kFileSysNotFound && s != kMalformed) return s;
  if (fav->Resize(0) != kOk || fav->Resize(2) != kOk) return kOutOfMemory;
  return kNotFound;
}

// The name used in the recent list and the category lists.
void NameOf(const char16_t* settingsPath, const char16_t** name, std::uint32_t* length) {
  *name = Settings_FileNamePart(settingsPath);
  *length = Settings_TextLength(*name, 0xFFFF);
}

bool ListHas(const std::uint16_t* ids, std::uint32_t n, std::uint32_t id) {
  if (id == kDictNone) return n > 0;
  return std::binary_search(ids, ids + n, static_cast<std::uint16_t>(id));
}

// Calls fn(name, ids, count) for every category list file.
template <class Fn>
StatusCode ForEachCategoryList(const SettingsStore& st, Fn&& fn) {
  SettingsPath folder;
  if (!Settings_SubfolderFile(st, kCatFolder, nullptr, &folder)) return kSettingsNoFolder;
  FileEntry* root = nullptr;
  StatusCode s =
      Settings_Fs().listPath(Settings_FileSys(), folder.text, kListSkipDotNames, 1, &root);
  if (s != kOk) return s;
  for (FileEntry* e = root->firstChild; e && s == kOk; e = e->next) {
    if (e->flags & kFileEntryFolder) continue;
    SettingsPath p;
    if (!p.Assign(folder.text) || !p.Append(u"/") || !p.Append(e->name)) continue;
    std::uint16_t* list = nullptr;
    if (Settings_ReadCategoryList(st, p.text, &list) != kOk || list == nullptr) continue;
    s = fn(e->name, p, list + 1, static_cast<std::uint32_t>(list[0]));
    Engine_Free(list);
  }
  (void)Settings_Fs().freeEntries(Settings_FileSys(), root);  // only frees
  return s;
}

}  // namespace

// Category dictionary.

StatusCode Settings_LoadCategories(SettingsStore& st, CategoryLoad* how) noexcept {
  *how = CategoryLoad::Missing;
  if (st.categories) {
    (void)Settings_DictOps().destroy(st.categories);  // only frees
    st.categories = nullptr;
  }
  SettingsPath p;
  if (!RegPath(st, u"cat", &p)) return kSettingsNoFolder;
  SettingsImage bytes;
  const StatusCode read = Settings_ReadWholeFile(p.text, kDictImageLimit, &bytes);
  // Only a missing file means "no categories yet". One that is there but
  // cannot be read (no permission, an I/O error, a folder in its place, no
  // memory) is reported, so that nothing is started afresh over it.
  if (read != kOk && read != kFileSysNotFound && read != kMalformed) return read;
  if (read == kOk) {
    EngineObject* ms = nullptr;
    StatusCode s = MemStream_Create(&MemStreamModule, bytes.Data(), bytes.Size(), bytes.Size(),
                                    kMemCreateCallerOwns, &ms);
    if (s != kOk) return s;
    std::uint32_t size = 0xFFFFFFFFu;
    EngineObject* dict = nullptr;
    s = Settings_DictOps().load(Settings_Dict(), ms, 0, &size, &dict);
    (void)StreamOf(ms).close(ms);  // a memory stream over our bytes: only frees
    if (s == kOk) {
      st.categories = dict;
      *how = CategoryLoad::FromFile;
      return kOk;
    }
    if (s == kOutOfMemory) return s;
  }
  if (read != kFileSysNotFound) {
    // Damaged: the file stays as it is and the store keeps no dictionary, so
    // nothing is ever saved over it; the category lists stay untouched too.
    *how = CategoryLoad::Damaged;
    return kOk;
  }
  return Settings_DictOps().create(Settings_Dict(), 0, 0, &st.categories);
}

StatusCode Settings_DropUnknownCategoryIds(SettingsStore& st) noexcept {
  if (st.categories == nullptr) return kOk;
  return ForEachCategoryList(
      st, [&](const char16_t*, const SettingsPath& path, std::uint16_t* ids, std::uint32_t n) {
        std::uint32_t out = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
          std::uint32_t size = 0;
          if (Settings_DictOps().getPath(st.categories, ids[i], nullptr, nullptr, &size) == kOk)
            ids[out++] = ids[i];
        }
        return out == n ? kOk : Settings_WriteCategoryList(st, path.text, ids, out);
      });
}

StatusCode Settings_SaveCategories(EngineObject* store) noexcept {
  SettingsStore& st = Settings_Body(store);
  if (st.categories == nullptr) return kOk;
  EngineObject* ms = nullptr;
  StatusCode s = MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &ms);
  if (s != kOk) return s;
  std::uint32_t written = 0;
  s = Settings_DictOps().save(st.categories, ms, 0, &written);
  SettingsPath p;
  if (s == kOk && !RegPath(st, u"cat", &p)) s = kSettingsNoFolder;
  if (s == kOk) {
    void* buffer = nullptr;
    s = MemStream_GetBuffer(&MemStreamModule, ms, &buffer, nullptr, nullptr);
    if (s == kOk) s = Settings_ReplaceFile(p.text, buffer, written);
  }
  (void)StreamOf(ms).close(ms);  // a memory stream: only frees
  return s;
}

StatusCode Settings_GetCategorySet(EngineObject* store, EngineObject** dict) noexcept {
  if (dict == nullptr) return kNullOutPointer;
  EngineObject* d = Settings_Body(store).categories;
  if (d == nullptr) return kFailed;
  *dict = d;
  return kOk;
}

StatusCode Settings_LookupCategory(EngineObject* store, const char16_t* name,
                                   std::uint32_t selected, std::uint32_t subCategory,
                                   std::uint16_t* id) noexcept {
  EngineObject* d = Settings_Body(store).categories;
  if (d == nullptr) return kFailed;
  const std::uint32_t flags =
      kDictInsertSorted | (subCategory ? static_cast<std::uint32_t>(kDictInsertUnder) : 0u);
  return Settings_DictOps().addChild(d, nullptr, name, selected, flags, id);
}

// Category lists.

StatusCode Settings_ReadCategoryList(const SettingsStore& st, const char16_t* settingsPath,
                                     std::uint16_t** list) noexcept {
  SettingsPath p;
  if (!Settings_CategoryListPath(st, settingsPath, &p)) return kSettingsBadName;
  SettingsImage bytes;
  const StatusCode s = Settings_ReadWholeFile(p.text, kCategoryFileLimit, &bytes);
  *list = nullptr;
  if (s == kFileSysNotFound || s == kMalformed) return kOk;
  if (s != kOk) return s;
  std::uint32_t count = 0;
  if (Settings_ParseCategoryList(bytes.Data(), bytes.Size(), nullptr, 0, &count) != kOk)
    return kOk;  // a damaged list reads as absent
  std::uint16_t* ids = nullptr;
  if (Engine_AllocArray<std::uint16_t>(count + 1, &ids) != kOk) return kOutOfMemory;
  if (Settings_ParseCategoryList(bytes.Data(), bytes.Size(), ids + 1, count, &count) != kOk) {
    Engine_Free(ids);
    return kOk;
  }
  ids[0] = static_cast<std::uint16_t>(count);
  *list = ids;
  return kOk;
}

StatusCode Settings_WriteCategoryList(const SettingsStore& st, const char16_t* settingsPath,
                                      const std::uint16_t* ids, std::uint32_t count) noexcept {
  SettingsPath p;
  if (!Settings_CategoryListPath(st, settingsPath, &p)) return kSettingsBadName;
  if (count == 0) return Settings_DeleteFile(p.text);
  if (count > kCategoryListMax) return kBadArgument;
  SettingsImage bytes;
  if (bytes.Resize(2 + 2 * count) != kOk) return kOutOfMemory;
  StoreLE16(bytes.Data(), static_cast<std::uint16_t>(count));
  for (std::uint32_t i = 0; i < count; ++i)
    StoreLE16(bytes.Data() + 2 + 2 * i, ids[i]);
  return Settings_ReplaceFile(p.text, bytes.Data(), bytes.Size());
}

StatusCode Settings_GetDocumentCategories(EngineObject* store, const char16_t* settingsPath,
                                          std::uint16_t** list) noexcept {
  if (list == nullptr || settingsPath == nullptr) return kNullOutPointer;
  std::uint16_t* ids = nullptr;
  const StatusCode s = Settings_ReadCategoryList(Settings_Body(store), settingsPath, &ids);
  if (s != kOk) return s;
  if (ids == nullptr) {
    *list = nullptr;
    return kOk;
  }
  std::uint16_t* caller = *list;
  if (caller != nullptr && caller[0] >= ids[0]) {
    std::memcpy(caller, ids, (ids[0] + 1u) * sizeof(std::uint16_t));
    Engine_Free(ids);
    return kOk;
  }
  *list = ids;
  return kOk;
}

StatusCode Settings_SetDocumentCategories(EngineObject* store, const char16_t* settingsPath,
                                          const std::uint16_t* list) noexcept {
  if (settingsPath == nullptr) return kBadArgument;
  const std::uint32_t count = list ? list[0] : 0;
  // Stored sorted and without repeats, as readers bisect.
  std::uint16_t* ids = nullptr;
  if (Engine_AllocArray<std::uint16_t>(count + 1, &ids) != kOk) return kOutOfMemory;
  EngineBuffer<std::uint16_t> guard(ids);
  if (count) std::memcpy(ids, list + 1, count * sizeof(std::uint16_t));
  std::sort(ids, ids + count);
  const auto n = static_cast<std::uint32_t>(std::unique(ids, ids + count) - ids);
  return Settings_WriteCategoryList(Settings_Body(store), settingsPath, ids, n);
}

StatusCode Settings_PurgeCategoryIds(EngineObject* store, std::uint32_t id) noexcept {
  SettingsStore& st = Settings_Body(store);
  if (st.categories == nullptr) return kFailed;
  std::uint16_t* removed = nullptr;
  StatusCode s = Settings_DictOps().removeSubtree(st.categories, id, &removed);
  if (s != kOk) return s;
  const std::uint16_t* gone = removed + 1;
  const std::uint32_t goneCount = removed[0];
  s = ForEachCategoryList(
      st, [&](const char16_t*, const SettingsPath& path, std::uint16_t* ids, std::uint32_t n) {
        // Both lists are sorted: one walk compacts the document's list.
        std::uint32_t out = 0, g = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
          while (g < goneCount && gone[g] < ids[i])
            ++g;
          if (g < goneCount && gone[g] == ids[i]) continue;
          ids[out++] = ids[i];
        }
        if (out == n) return kOk;
        return Settings_WriteCategoryList(st, path.text, ids, out);
      });
  (void)Settings_DictOps().freeList(st.categories, removed);  // only frees
  return s;
}

StatusCode Settings_ListDocumentsInCategory(EngineObject* store, std::uint32_t id,
                                            std::uint32_t* count, SettingsNameList* list) noexcept {
  if (count == nullptr || list == nullptr) return kNullOutPointer;
  const SettingsStore& st = Settings_Body(store);
  // Names are collected into one growing block of (offset, length) pairs.
  SettingsImage names;
  SettingsImage refs;
  StatusCode s = ForEachCategoryList(
      st, [&](const char16_t* name, const SettingsPath&, std::uint16_t* ids, std::uint32_t n) {
        if (!ListHas(ids, n, id)) return kOk;
        const std::uint32_t length = Settings_TextLength(name, kPathMax);
        const std::uint32_t at = names.Size();
        if (names.Resize(at + length * 2) != kOk || refs.Resize(refs.Size() + 8) != kOk)
          return kOutOfMemory;
        std::memcpy(names.Data() + at, name, length * 2);
        StoreLE32(refs.Data() + refs.Size() - 8, at);
        StoreLE32(refs.Data() + refs.Size() - 4, length);
        return kOk;
      });
  if (s != kOk) return s;
  const std::uint32_t n = refs.Size() / 8;
  if (n == 0) {
    *count = 0;
    *list = nullptr;
    return kOk;
  }
  SettingsNameRef* r = nullptr;
  if (Engine_AllocArray<SettingsNameRef>(n, &r) != kOk) return kOutOfMemory;
  EngineBuffer<SettingsNameRef> guard(r);
  for (std::uint32_t i = 0; i < n; ++i)
    r[i] = {reinterpret_cast<const char16_t*>(names.Data() + LoadLE32(refs.Data() + 8 * i)),
            LoadLE32(refs.Data() + 8 * i + 4)};
  if ((s = Settings_MakeNameList(r, n, list)) != kOk) return s;
  *count = n;
  return kOk;
}

StatusCode Settings_DocumentHasCategory(EngineObject* store, const char16_t* documentPath,
                                        std::uint32_t id) noexcept {
  char16_t path[kPathBufferSize];
  bool exists = false;
  if (Settings_FindSettingsFile(store, documentPath, path, &exists) != kOk || !exists) return kNo;
  std::uint16_t* ids = nullptr;
  if (Settings_ReadCategoryList(Settings_Body(store), path, &ids) != kOk || ids == nullptr)
    return kNo;
  const bool has = ListHas(ids + 1, ids[0], id);
  Engine_Free(ids);
  return has ? kOk : kNo;
}

// Recent list.

StatusCode Settings_AddRecentDocument(SettingsStore& st, const char16_t* settingsPath) noexcept {
  const char16_t* name = nullptr;
  std::uint32_t length = 0;
  NameOf(settingsPath, &name, &length);
  if (Settings_LengthCode(name, length) == 0) return kOk;
  SettingsImage mru;
  SettingsPath p;
  bool valid = false;
  StatusCode s = LoadRecent(st, &mru, &p, &valid);
  if (s != kOk) return s;
  if (valid && Settings_RecentFind(mru, name, length, nullptr) == 0) return kOk;
  if ((s = Settings_RecentAdd(mru, name, length)) != kOk) return s;
  return Settings_ReplaceFile(p.text, mru.Data(), mru.Size());
}

StatusCode Settings_RemoveRecentDocument(SettingsStore& st, const char16_t* settingsPath) noexcept {
  const char16_t* name = nullptr;
  std::uint32_t length = 0;
  NameOf(settingsPath, &name, &length);
  SettingsImage mru;
  SettingsPath p;
  bool valid = false;
  const StatusCode s = LoadRecent(st, &mru, &p, &valid);
  if (s != kOk || !valid) return s;
  std::uint32_t offset = 0;
  const std::int32_t index = Settings_RecentFind(mru, name, length, &offset);
  if (index < 0) return kOk;
  Settings_RecentRemoveAt(mru, static_cast<std::uint32_t>(index), offset);
  return Settings_ReplaceFile(p.text, mru.Data(), mru.Size());
}

StatusCode Settings_RenameRecentDocument(SettingsStore& st, const char16_t* oldPath,
                                         const char16_t* newPath) noexcept {
  const char16_t *a = nullptr, *b = nullptr;
  std::uint32_t al = 0, bl = 0;
  NameOf(oldPath, &a, &al);
  NameOf(newPath, &b, &bl);
  SettingsImage mru;
  SettingsPath p;
  bool valid = false;
  const StatusCode s = LoadRecent(st, &mru, &p, &valid);
  if (s != kOk || !valid) return s;
  const StatusCode r = Settings_RecentRename(mru, a, al, b, bl);
  if (r < 0) return r;
  if (r == kNo) return kOk;
  return Settings_ReplaceFile(p.text, mru.Data(), mru.Size());
}

StatusCode Settings_GetRecentList(EngineObject* store, std::uint32_t* count,
                                  SettingsNameList* list) noexcept {
  if (count == nullptr || list == nullptr) return kNullOutPointer;
  SettingsImage mru;
  SettingsPath p;
  bool valid = false;
  StatusCode s = LoadRecent(Settings_Body(store), &mru, &p, &valid);
  if (s != kOk) return s;
  const std::uint32_t n = valid ? Settings_RecentCount(mru) : 0;
  if (n == 0) {
    *count = 0;
    *list = nullptr;
    return kOk;
  }
  // Widened names, then the list over them.
  SettingsImage wide;
  SettingsNameRef refs[kRecentEntries];
  std::uint32_t offsets[kRecentEntries];
  std::uint32_t at = kRecentEntries, units = 0;
  for (std::uint32_t i = 0; i < n; ++i)
    units += mru.Data()[i] & 0x7F;
  if (wide.Resize(units * 2 + 2) != kOk) return kOutOfMemory;
  auto* text = reinterpret_cast<char16_t*>(wide.Data());
  units = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint8_t code = mru.Data()[i];
    Settings_GetName(mru.Data() + at, code, text + units);
    offsets[i] = units;
    refs[i].length = code & 0x7F;
    units += code & 0x7F;
    at += Settings_CodeBytes(code);
  }
  for (std::uint32_t i = 0; i < n; ++i)
    refs[i].text = text + offsets[i];
  if ((s = Settings_MakeNameList(refs, n, list)) != kOk) return s;
  *count = n;
  return kOk;
}

StatusCode Settings_ListDocuments(EngineObject* store, std::uint32_t changedOnly,
                                  std::uint32_t* count, SettingsNameList* list) noexcept {
  if (count == nullptr || list == nullptr) return kNullOutPointer;
  const SettingsStore& st = Settings_Body(store);
  FileEntry* root = nullptr;
  StatusCode s = Settings_Fs().listPath(Settings_FileSys(), st.folder, kListSkipDotNames, 1, &root);
  if (s != kOk) return s;
  std::uint32_t total = 0;
  for (FileEntry* e = root->firstChild; e; e = e->next)
    ++total;
  SettingsNameRef* refs = nullptr;
  if (Engine_AllocArray<SettingsNameRef>(total + 1, &refs) != kOk) {
    (void)Settings_Fs().freeEntries(Settings_FileSys(), root);  // only frees
    return kOutOfMemory;
  }
  std::uint32_t n = 0;
  for (FileEntry* e = root->firstChild; e; e = e->next) {
    if (e->flags & kFileEntryFolder) continue;
    const std::uint32_t length = Settings_TextLength(e->name, kPathMax);
    if (length > st.maxNameLength) continue;
    if (changedOnly) {
      SettingsPath p;
      char16_t doc[kPathBufferSize];
      std::uint32_t docLength = 0;
      DocState state{};
      if (!p.Append(st.folder, st.folderLength) || !p.Append(u"/") || !p.Append(e->name) ||
          Settings_ReadStoredDocument(p.text, doc, kPathMax, &docLength, &state) != kOk)
        continue;
      doc[docLength] = 0;
      // File times are UTC; the stored last use is local time.
      DateTime written{}, local{};
      std::uint32_t seconds = 0;
      if (Settings_Fs().getFileInfo(Settings_FileSys(), doc, &written, nullptr, 0, nullptr) !=
              kOk ||
          Date_UtcToLocal(Settings_Date(), &written, &local) != kOk ||
          Date_ToUnixTime(Settings_Date(), &local, &seconds) != kOk || seconds <= state.lastUse)
        continue;
    }
    refs[n++] = {e->name, length};
  }
  s = kOk;
  if (n == 0) {
    *list = nullptr;
  } else {
    s = Settings_MakeNameList(refs, n, list);
  }
  if (s == kOk) *count = n;
  Engine_Free(refs);
  (void)Settings_Fs().freeEntries(Settings_FileSys(), root);  // only frees
  return s;
}

StatusCode Settings_GetDocumentInfo(EngineObject* store, const char16_t* settingsName,
                                    char16_t* path, std::uint32_t* size, DateTime* date,
                                    std::uint32_t* fileSize, std::uint32_t* lastUse) noexcept {
  if (settingsName == nullptr || size == nullptr) return kBadArgument;
  const SettingsStore& st = Settings_Body(store);
  const std::uint32_t nameLength = Settings_TextLength(settingsName, kPathMax);
  SettingsPath p;
  if (nameLength == 0 || nameLength > st.maxNameLength || !p.Append(st.folder, st.folderLength) ||
      !p.Append(u"/") || !p.Append(settingsName, nameLength))
    return kSettingsBadName;
  char16_t doc[kPathBufferSize];
  std::uint32_t docLength = 0;
  DocState state{};
  if (Settings_ReadStoredDocument(p.text, doc, kPathMax, &docLength, &state) != kOk)
    return kSettingsBadName;
  doc[docLength] = 0;
  const std::uint32_t needed = docLength + 1;
  if (path != nullptr && (*size < kPathBufferSize || *size < needed)) {
    *size = needed;
    return kSettingsBufferTooSmall;
  }
  if (date || fileSize) {
    const StatusCode s =
        Settings_Fs().getFileInfo(Settings_FileSys(), doc, date, nullptr, 0, fileSize);
    if (s != kOk) return s;
  }
  if (path) std::memcpy(path, doc, needed * sizeof(char16_t));
  *size = needed;
  if (lastUse) *lastUse = state.lastUse;
  return kOk;
}

// Favourites.

StatusCode Settings_GetFavourites(EngineObject* store, std::uint32_t* count, SettingsNameList* list,
                                  std::uint32_t* noFile) noexcept {
  if (count == nullptr || list == nullptr) return kNullOutPointer;
  SettingsImage fav;
  SettingsPath p;
  const StatusCode s = LoadFav(Settings_Body(store), &fav, &p);
  if (s != kOk && s != kNotFound) return s;
  const std::uint32_t n = Settings_FavCount(fav);
  if (noFile) *noFile = s == kNotFound ? 1 : 0;
  if (n == 0) {
    *count = 0;
    *list = nullptr;
    return kOk;
  }
  char16_t* text = nullptr;
  if (Engine_AllocArray<char16_t>(2 * n * kFavBuffer, &text) != kOk) return kOutOfMemory;
  EngineBuffer<char16_t> textGuard(text);
  SettingsNameRef* refs = nullptr;
  if (Engine_AllocArray<SettingsNameRef>(2 * n, &refs) != kOk) return kOutOfMemory;
  EngineBuffer<SettingsNameRef> refsGuard(refs);
  for (std::uint32_t i = 0; i < n; ++i) {
    char16_t* a = text + 2 * i * kFavBuffer;
    char16_t* b = a + kFavBuffer;
    Settings_FavGet(fav, i, a, b);
    refs[2 * i] = {a, Settings_TextLength(a, 127)};
    refs[2 * i + 1] = {b, Settings_TextLength(b, 127)};
  }
  const StatusCode m = Settings_MakeNameList(refs, 2 * n, list);
  if (m != kOk) return m;
  *count = 2 * n;
  return kOk;
}

StatusCode Settings_GetFavourite(EngineObject* store, std::uint32_t index, char16_t* first,
                                 char16_t* second) noexcept {
  SettingsImage fav;
  SettingsPath p;
  const StatusCode s = LoadFav(Settings_Body(store), &fav, &p);
  if (s != kOk && s != kNotFound) return kSettingsFavFile;
  if (index >= Settings_FavCount(fav)) return kSettingsFavIndex;
  Settings_FavGet(fav, index, first, second);
  return kOk;
}

namespace {

// A lookup in the favourites: the index search finds, kNotFound without a
// match or without favourites, kSettingsFavFile when they cannot be read.
template <class Search>
StatusCode FindFavourite(EngineObject* store, Search&& search, std::uint32_t* index) {
  SettingsImage fav;
  SettingsPath p;
  const StatusCode s = LoadFav(Settings_Body(store), &fav, &p);
  if (s != kOk && s != kNotFound) return kSettingsFavFile;
  std::uint32_t at = 0;
  if (s != kOk || search(fav, &at) != kOk) return kNotFound;
  *index = at;
  return kOk;
}

}  // namespace

StatusCode Settings_FindFavourite(EngineObject* store, const char16_t* first, std::uint32_t length,
                                  std::uint32_t* index) noexcept {
  if (first == nullptr || index == nullptr) return kBadArgument;
  if (length == 0) length = Settings_TextLength(first, 0xFFFF);
  return FindFavourite(
      store,
      [&](const SettingsImage& fav, std::uint32_t* at) {
        return Settings_FavSearch(fav, first, length, at);
      },
      index);
}

StatusCode Settings_FindFavouriteByTarget(EngineObject* store, const char16_t* second,
                                          std::uint32_t length, std::uint32_t* index) noexcept {
  if (second == nullptr || index == nullptr) return kBadArgument;
  if (length == 0) length = Settings_TextLength(second, 0xFFFF);
  return FindFavourite(
      store,
      [&](const SettingsImage& fav, std::uint32_t* at) {
        return Settings_FavSearchTarget(fav, second, length, at);
      },
      index);
}

StatusCode Settings_AddFavourite(EngineObject* store, const char16_t* first,
                                 std::uint32_t firstLength, const char16_t* second,
                                 std::uint32_t secondLength, std::uint32_t* index) noexcept {
  if (first == nullptr || second == nullptr) return kSettingsFavWrite;
  if (firstLength == 0) firstLength = Settings_TextLength(first, 0xFFFF);
  if (secondLength == 0) secondLength = Settings_TextLength(second, 0xFFFF);
  SettingsImage fav;
  SettingsPath p;
  const StatusCode s = LoadFav(Settings_Body(store), &fav, &p);
  if (s != kOk && s != kNotFound) return kSettingsFavFile;
  if (Settings_FavCount(fav) >= kFavouritesMax) return kSettingsFavWrite;
  std::uint32_t at = 0;
  if (Settings_FavSearch(fav, first, firstLength, &at) == kOk) return kSettingsFavExists;
  if (Settings_FavInsert(fav, at, first, firstLength, second, secondLength) != kOk)
    return kSettingsFavWrite;
  if (Settings_ReplaceFile(p.text, fav.Data(), fav.Size()) != kOk) return kSettingsFavWrite;
  if (index) *index = at;
  return kOk;
}

StatusCode Settings_DeleteFavourite(EngineObject* store, std::uint32_t index) noexcept {
  SettingsImage fav;
  SettingsPath p;
  const StatusCode s = LoadFav(Settings_Body(store), &fav, &p);
  if (s != kOk && s != kNotFound) return kSettingsFavFile;
  if (index >= Settings_FavCount(fav)) return kSettingsFavIndex;
  Settings_FavErase(fav, index);
  return Settings_ReplaceFile(p.text, fav.Data(), fav.Size()) == kOk ? kOk : kSettingsFavChange;
}

StatusCode Settings_UpdateFavourite(EngineObject* store, std::uint32_t index, const char16_t* first,
                                    std::uint32_t length, std::uint32_t* newIndex) noexcept {
  if (first == nullptr) return kSettingsFavChange;
  if (length == 0) length = Settings_TextLength(first, 0xFFFF);
  SettingsImage fav;
  SettingsPath p;
  const StatusCode s = LoadFav(Settings_Body(store), &fav, &p);
  if (s != kOk && s != kNotFound) return kSettingsFavFile;
  if (index >= Settings_FavCount(fav)) return kSettingsFavIndex;
  std::uint32_t found = 0;
  if (Settings_FavSearch(fav, first, length, &found) == kOk && found != index)
    return kSettingsFavChange;
  char16_t second[kFavBuffer];
  Settings_FavGet(fav, index, nullptr, second);
  Settings_FavErase(fav, index);
  std::uint32_t at = 0;
  // Not found after the erase (answer 1): at is where the name goes.
  (void)Settings_FavSearch(fav, first, length, &at);
  if (Settings_FavInsert(fav, at, first, length, second, Settings_TextLength(second, 127)) != kOk)
    return kSettingsFavChange;
  if (Settings_ReplaceFile(p.text, fav.Data(), fav.Size()) != kOk) return kSettingsFavChange;
  if (newIndex) *newIndex = at;
  return kOk;
}
