#include "engine/stores/settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <new>

#include "engine/runtime/allocator.h"
#include "engine/runtime/path_folders.h"
#include "engine/runtime/swap.h"
#include "engine/stores/settings_internal.h"

namespace {

constexpr char16_t kSettingsSubPath[] = u"/Kelpo/Kelpo/Settings";
constexpr char16_t kCatFolder[] = u"_Cat_";
constexpr char16_t kRegFolder[] = u"_Reg_";

bool IsSeparator(char16_t c) {
  return c == u'/' || c == u'\\';
}

}  // namespace

extern const SettingsOps kSettingsOps;

EngineObject* Settings_FileSys() noexcept {
  return g_FileSysModule ? g_FileSysModule : &FileSysModule;
}
EngineObject* Settings_DbFile() noexcept {
  return g_DbFileModule ? g_DbFileModule : &DbFileModule;
}
EngineObject* Settings_Dict() noexcept {
  return g_DictModule ? g_DictModule : &DictModule;
}
EngineObject* Settings_Date() noexcept {
  return g_DateModule ? g_DateModule : &DateModule;
}

void Settings_FailWriteStep(std::uint32_t nth) noexcept {
  FileSys_FailReplaceStep(nth);
}

bool SettingsPath::Append(const char16_t* s, std::uint32_t n) noexcept {
  if (length + n > kPathMax) return false;
  std::memcpy(text + length, s, n * sizeof(char16_t));
  length += n;
  text[length] = 0;
  return true;
}

bool SettingsPath::Append(const char16_t* s) noexcept {
  return Append(s, Settings_TextLength(s, kPathMax));
}

namespace {

bool AppendDecimal(SettingsPath* p, std::uint32_t v) {
  char16_t digits[10];
  std::uint32_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v);
  char16_t text[10];
  for (std::uint32_t i = 0; i < n; ++i)
    text[i] = digits[n - 1 - i];
  return p->Append(text, n);
}

}  // namespace

bool SettingsPath::Assign(const char16_t* s) noexcept {
  length = 0;
  text[0] = 0;
  return Append(s);
}

bool Settings_SubfolderFile(const SettingsStore& st, const char16_t* subfolder,
                            const char16_t* name, SettingsPath* out) noexcept {
  if (st.folderLength == 0) return false;
  if (!out->Append(st.folder, st.folderLength) || !out->Append(u"/") || !out->Append(subfolder))
    return false;
  return name == nullptr || (out->Append(u"/") && out->Append(name));
}

const char16_t* Settings_FileNamePart(const char16_t* path) noexcept {
  const char16_t* name = path;
  for (const char16_t* p = path; *p; ++p)
    if (IsSeparator(*p)) name = p + 1;
  return name;
}

bool Settings_CategoryListPath(const SettingsStore& st, const char16_t* settingsPath,
                               SettingsPath* out) noexcept {
  const char16_t* name = Settings_FileNamePart(settingsPath);
  return *name != 0 && Settings_SubfolderFile(st, kCatFolder, name, out);
}

StatusCode Settings_EnsureFolders(SettingsStore& st) noexcept {
  if (st.folderLength == 0) return kSettingsNoFolder;
  if (Settings_Fs().createFolderPath(Settings_FileSys(), st.folder) != kOk)
    return kSettingsFolderCreate;
  for (const char16_t* sub : {kCatFolder, kRegFolder}) {
    SettingsPath p;
    if (!Settings_SubfolderFile(st, sub, nullptr, &p)) return kSettingsSubfolderPath;
    if (Settings_Fs().createFolderPath(Settings_FileSys(), p.text) != kOk)
      return kSettingsSubfolderCreate;
  }
  return kOk;
}

// Files.

StatusCode Settings_ReadWholeFile(const char16_t* path, std::uint32_t limit,
                                  SettingsImage* out) noexcept {
  if (Settings_PathIsFree(path)) return kFileSysNotFound;
  EngineObject* s = nullptr;
  StatusCode st =
      Settings_Fs().open(Settings_FileSys(), const_cast<char16_t*>(path), 0, kFileOpenRead, &s);
  if (st != kOk) return st;
  std::uint32_t size = 0;
  st = StreamOf(s).getSize(s, &size);
  if (st == kOk && size > limit) st = kMalformed;
  if (st == kOk) st = out->Resize(size);
  if (st == kOk && size) st = StreamOf(s).readAt(s, 0, out->Data(), size, nullptr);
  (void)StreamOf(s).close(s);  // only read
  return st;
}

StatusCode Settings_ReplaceFile(const char16_t* path, const void* data,
                                std::uint32_t size) noexcept {
  return FileSys_ReplaceFile(Settings_FileSys(), path, data, size);
}

StatusCode Settings_DeleteFile(const char16_t* path) noexcept {
  const StatusCode s = Settings_Fs().remove(Settings_FileSys(), path);
  return s == kFileSysNotFound ? kOk : s;
}

bool Settings_PathIsFree(const char16_t* path) noexcept {
  FileEntry* e = nullptr;
  const StatusCode s = Settings_Fs().listPath(Settings_FileSys(), path, 0, 0, &e);
  if (s == kOk) (void)Settings_Fs().freeEntries(Settings_FileSys(), e);  // only frees
  return s == kFileSysNotFound;
}

std::uint32_t Settings_NowLocalSeconds() noexcept {
  DateTime now{};
  std::uint32_t seconds = 0;
  if (Date_NowLocal(Settings_Date(), &now) != kOk ||
      Date_ToUnixTime(Settings_Date(), &now, &seconds) != kOk)
    return 0;
  return seconds;
}

// Name lists: an array of count + 1 pointers (the last null) followed by the
// strings, all in one block; the first pointer points at the strings.
StatusCode Settings_MakeNameList(const SettingsNameRef* names, std::uint32_t count,
                                 SettingsNameList* out) noexcept {
  std::uint64_t bytes = (std::uint64_t{count} + 1) * sizeof(char16_t*);
  for (std::uint32_t i = 0; i < count; ++i)
    bytes += (names[i].length + 1) * sizeof(char16_t);
  if (bytes > 0x7FFFFFFF) return kOutOfMemory;
  void* block = nullptr;
  if (Engine_Alloc(static_cast<std::uint32_t>(bytes), &block) != kOk) return kOutOfMemory;
  auto** list = static_cast<char16_t**>(block);
  auto* text = reinterpret_cast<char16_t*>(list + count + 1);
  for (std::uint32_t i = 0; i < count; ++i) {
    list[i] = text;
    std::memcpy(text, names[i].text, names[i].length * sizeof(char16_t));
    text[names[i].length] = 0;
    text += names[i].length + 1;
  }
  list[count] = nullptr;
  *out = list;
  return kOk;
}

StatusCode Settings_FreeList(EngineObject*, SettingsNameList list) noexcept {
  Engine_Free(list);
  return kOk;
}

// The store object.

namespace {

using StoreInstance = EngineInstance<SettingsStore>;

// UTF-8 bytes of one unit as the path layer writes it.
std::uint32_t Utf8Bytes(const char16_t* s, std::uint32_t i, std::uint32_t n, std::uint32_t* units) {
  const char16_t c = s[i];
  *units = 1;
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
    *units = 2;
    return 4;
  }
  if (c >= 0xDC80 && c <= 0xDCFF) return 1;
  return 3;
}

// The longest prefix of s (length n) within maxUnits units and maxBytes
// bytes of UTF-8 that does not split a surrogate pair.
std::uint32_t CutToFit(const char16_t* s, std::uint32_t n, std::uint32_t maxUnits,
                       std::uint32_t maxBytes) {
  std::uint32_t i = 0, bytes = 0;
  while (i < n) {
    std::uint32_t units = 0;
    const std::uint32_t b = Utf8Bytes(s, i, n, &units);
    if (i + units > maxUnits || bytes + b > maxBytes) break;
    i += units;
    bytes += b;
  }
  return i;
}

// Compares a stored document path with a document path. Paths on this system
// are case-sensitive, so the comparison is exact; '/' and '\' are one.
bool SamePath(const char16_t* a, std::uint32_t an, const char16_t* b, std::uint32_t bn) {
  if (an != bn) return false;
  for (std::uint32_t i = 0; i < an; ++i) {
    if (a[i] == b[i] || (IsSeparator(a[i]) && IsSeparator(b[i]))) continue;
    return false;
  }
  return true;
}

// The copies of file replacements whose writers were killed, in the
// settings folder and its sub-folders. Housekeeping only: a folder that
// cannot be listed shows its fault in the reads that follow.
void SweepLeftovers(const SettingsStore& st) {
  (void)FileSys_SweepLeftovers(Settings_FileSys(), st.folder);
  for (const char16_t* sub : {kCatFolder, kRegFolder}) {
    SettingsPath p;
    if (Settings_SubfolderFile(st, sub, nullptr, &p))
      (void)FileSys_SweepLeftovers(Settings_FileSys(), p.text);
  }
}

// Names the settings folder in st (the application-data folder made when
// missing and create is set).
StatusCode NameSettingsFolder(SettingsStore* st, bool create) {
  char16_t appData[kPathBufferSize];
  const std::uint32_t n = Path_GetSpecialFolder(appData, kCsidlAppData, create);
  if (n < 1) return kSettingsNoAppData;
  const std::uint32_t subLength = Settings_TextLength(kSettingsSubPath, 64);
  if (n + subLength > kSettingsFolderMax) return kSettingsFolderTooLong;
  std::memcpy(st->folder, appData, n * sizeof(char16_t));
  std::memcpy(st->folder + n, kSettingsSubPath, (subLength + 1) * sizeof(char16_t));
  st->folderLength = n + subLength;
  st->maxNameLength = kSettingsNameBudget - st->folderLength;
  return kOk;
}

StatusCode ListFolder(const SettingsStore& st, std::uint32_t options, FileEntry** root) {
  return Settings_Fs().listPath(Settings_FileSys(), st.folder, options, 1, root);
}

// Files (not folders) directly in the settings folder, whose names fit; with
// hidden true also those whose names start with '.' (copies being written).
template <class Fn>
StatusCode ForEachSettingsFile(const SettingsStore& st, Fn&& fn, bool hidden = false) {
  FileEntry* root = nullptr;
  const StatusCode s = ListFolder(st, hidden ? 0 : kListSkipDotNames, &root);
  if (s != kOk) return s;
  for (FileEntry* e = root->firstChild; e != nullptr; e = e->next) {
    if (e->flags & kFileEntryFolder) continue;
    if (!fn(*e)) break;
  }
  (void)Settings_Fs().freeEntries(Settings_FileSys(), root);  // only frees
  return kOk;
}

bool SettingsFilePath(const SettingsStore& st, const char16_t* name, SettingsPath* out) {
  return out->Append(st.folder, st.folderLength) && out->Append(u"/") && out->Append(name);
}

std::uint32_t SaturatingAdd(std::uint32_t a, std::uint32_t b) {
  const std::uint64_t s = std::uint64_t{a} + b;
  return s >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(s);
}

}  // namespace

StatusCode Settings_OpenStore(EngineObject*, std::uint32_t* flags, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  void* block = nullptr;
  if (Engine_Alloc(sizeof(StoreInstance), &block) != kOk) return kOutOfMemory;
  std::memset(block, 0, sizeof(StoreInstance));
  auto* inst = new (block) StoreInstance{};
  inst->header = {&inst->body, &kSettingsOps};
  EngineObject* store = &inst->header;
  SettingsStore& st = inst->body;
  auto fail = [&](StatusCode s) {
    (void)Settings_CloseStore(store);  // only frees
    return s;
  };
  StatusCode s = NameSettingsFolder(&st, true);
  if (s != kOk) return fail(s);
  s = Settings_EnsureFolders(st);
  if (s != kOk) return fail(s);
  SweepLeftovers(st);
  std::uint32_t f = 0;
  for (auto [name, bit] : {std::pair{u"fav", kSettingsNoFavourites}, {u"cat", kSettingsFirstRun}}) {
    SettingsPath p;
    if (!Settings_SubfolderFile(st, kRegFolder, name, &p)) return fail(kSettingsSubfolderPath);
    if (Settings_PathIsFree(p.text)) f |= bit;
  }
  CategoryLoad how = CategoryLoad::Missing;
  if ((s = Settings_LoadCategories(st, &how)) != kOk) return fail(s);
  if (how == CategoryLoad::Missing) {
    // Without "cat" the caller starts the categories afresh, and lists left
    // from a lost dictionary must not name the new categories.
    if ((s = Settings_DropUnknownCategoryIds(st)) != kOk) return fail(s);
  } else if (how == CategoryLoad::Damaged) {
    f |= kSettingsCategoriesDamaged;
  }
  if ((s = Settings_RecomputeTotalSize(store)) != kOk) return fail(s);
  if (flags) *flags = f;
  *out = store;
  return kOk;
}

StatusCode Settings_SweepLeftoverCopies() noexcept {
  SettingsStore st{};
  if (NameSettingsFolder(&st, false) == kOk) SweepLeftovers(st);
  return kOk;
}

StatusCode Settings_CloseStore(EngineObject* store) noexcept {
  if (store == nullptr) return kBadArgument;
  SettingsStore& st = Settings_Body(store);
  if (st.categories) (void)Settings_DictOps().destroy(st.categories);  // only frees
  Engine_Free(store);
  return kOk;
}

// Naming.

void Settings_BaseName(const char16_t* documentPath, std::uint32_t* start,
                       std::uint32_t* length) noexcept {
  const char16_t* name = Settings_FileNamePart(documentPath);
  const std::uint32_t n = Settings_TextLength(name, kPathMax);
  std::uint32_t base = n;
  for (std::uint32_t i = n; i-- > 1;) {
    if (name[i] == u'.') {
      base = i;
      break;
    }
  }
  *start = static_cast<std::uint32_t>(name - documentPath);
  *length = base;
}

StatusCode Settings_FindSettingsFile(EngineObject* store, const char16_t* documentPath,
                                     char16_t* path, bool* exists) noexcept {
  SettingsStore& st = Settings_Body(store);
  StatusCode s = Settings_EnsureFolders(st);
  if (s != kOk) return s;
  std::uint32_t start = 0, baseLength = 0;
  Settings_BaseName(documentPath, &start, &baseLength);
  const char16_t* base = documentPath + start;
  const std::uint32_t docLength = Settings_TextLength(documentPath, 0xFFFF);
  const std::uint32_t maxUnits = st.maxNameLength;
  baseLength = CutToFit(base, baseLength, maxUnits, kSettingsNameBytesMax);
  if (baseLength == 0) return kSettingsBadName;

  // Every name this base can have been given starts with the base cut for the
  // longest suffix, so one prefix finds plain and numbered files alike.
  const std::uint32_t prefix = CutToFit(base, baseLength, maxUnits - 4, kSettingsNameBytesMax - 4);
  bool found = false;
  s = ForEachSettingsFile(st, [&](const FileEntry& e) {
    const std::uint32_t n = Settings_TextLength(e.name, kPathMax);
    if (n > maxUnits || n < prefix || std::memcmp(e.name, base, prefix * sizeof(char16_t)) != 0)
      return true;
    SettingsPath candidate;
    if (!SettingsFilePath(st, e.name, &candidate)) return true;
    char16_t stored[kPathBufferSize];
    std::uint32_t storedLength = 0;
    if (Settings_ReadStoredDocument(candidate.text, stored, kPathBufferSize, &storedLength,
                                    nullptr) != kOk)
      return true;
    if (!SamePath(stored, storedLength, documentPath, docLength)) return true;
    std::memcpy(path, candidate.text, (candidate.length + 1) * sizeof(char16_t));
    found = true;
    return false;
  });
  if (s != kOk) return s;
  if (found) {
    *exists = true;
    return kOk;
  }
  for (std::uint32_t number = 0; number <= 999; ++number) {
    SettingsPath suffix;
    if (number > 0) {
      suffix.Append(u"~");
      AppendDecimal(&suffix, number);
    }
    const std::uint32_t sl = suffix.length;
    const std::uint32_t cut = CutToFit(base, baseLength, maxUnits - sl, kSettingsNameBytesMax - sl);
    SettingsPath candidate;
    if (!candidate.Append(st.folder, st.folderLength) || !candidate.Append(u"/") ||
        !candidate.Append(base, cut) || !candidate.Append(suffix.text, sl))
      return kSettingsBadName;
    if (Settings_PathIsFree(candidate.text)) {
      std::memcpy(path, candidate.text, (candidate.length + 1) * sizeof(char16_t));
      *exists = false;
      return kOk;
    }
  }
  return kSettingsNoFreeName;
}

// Size budget.

StatusCode Settings_RecomputeTotalSize(EngineObject* store) noexcept {
  SettingsStore& st = Settings_Body(store);
  std::uint32_t total = 0;
  // Copies being written count too: they take the space until renamed.
  const StatusCode s = ForEachSettingsFile(
      st,
      [&](const FileEntry& e) {
        total = SaturatingAdd(total, e.size);
        return total != 0xFFFFFFFFu;
      },
      true);
  if (s != kOk) return s;
  st.totalBytes = total;
  return kOk;
}

namespace {

struct TimeBucket {
  DateTime time;
  std::uint32_t bytes;
};

StatusCode CompareTimes(const DateTime& a, const DateTime& b) {
  return Date_Compare(Settings_Date(), &a, &b);
}

// Deletes one settings file unless a running reader holds it open (its
// handle keeps a shared lock on the file).
StatusCode DeleteUnlessInUse(SettingsStore& st, const char16_t* path, bool* skipped) {
  *skipped = false;
  EngineObject* s = nullptr;
  if (Settings_Fs().open(Settings_FileSys(), const_cast<char16_t*>(path), 0, kFileOpenRead, &s) ==
      kOk) {
    int fd = -1;
    std::uint32_t len = 0;
    if (StreamOf(s).getProperty(s, kFilePropertyHandle, sizeof fd, &len, &fd) == kOk &&
        flock(fd, LOCK_EX | LOCK_NB) != 0) {
      (void)StreamOf(s).close(s);  // opened only to test the lock
      *skipped = true;
      return kOk;
    }
    const StatusCode d = Settings_DeleteLocalSettingsFile(st, path);
    (void)StreamOf(s).close(s);  // opened only to hold the lock
    return d;
  }
  return Settings_DeleteLocalSettingsFile(st, path);
}

StatusCode PruneOldest(EngineObject* store, std::uint32_t limitKb) {
  SettingsStore& st = Settings_Body(store);
  const std::uint64_t keep = std::uint64_t{limitKb} * 922;
  const std::uint64_t target = st.totalBytes > keep ? st.totalBytes - keep : 0;
  std::array<TimeBucket, 16> table{};
  std::uint32_t used = 0;
  std::uint32_t latest = 0;  // index of the latest time in the table
  StatusCode s = ForEachSettingsFile(st, [&](const FileEntry& e) {
    for (std::uint32_t i = 0; i < used; ++i) {
      if (CompareTimes(table[i].time, e.lastWrite) == kCompareEqual) {
        table[i].bytes = SaturatingAdd(table[i].bytes, e.size);
        return true;
      }
    }
    if (used < table.size()) {
      table[used] = {e.lastWrite, e.size};
      if (used == 0 || CompareTimes(e.lastWrite, table[latest].time) == kCompareGreater)
        latest = used;
      ++used;
      return true;
    }
    if (CompareTimes(e.lastWrite, table[latest].time) == kCompareGreater) return true;
    table[latest] = {e.lastWrite, e.size};
    for (std::uint32_t i = 0; i < used; ++i)
      if (CompareTimes(table[i].time, table[latest].time) == kCompareGreater) latest = i;
    return true;
  });
  if (s != kOk || used == 0) return s;
  for (std::uint32_t i = 0; i + 1 < used; ++i) {
    std::uint32_t min = i;
    for (std::uint32_t j = i + 1; j < used; ++j)
      if (CompareTimes(table[j].time, table[min].time) == kCompareLess) min = j;
    std::swap(table[i], table[min]);
  }
  DateTime cutoff = table[0].time;
  std::uint64_t sum = 0;
  for (std::uint32_t i = 0; i < used && sum < target; ++i) {
    if (sum + table[i].bytes > 0xFFFFFFFFu) break;
    sum += table[i].bytes;
    cutoff = table[i].time;
  }
  // Collect the names first: deleting while listing would disturb the listing.
  SettingsPath* victims = nullptr;
  std::uint32_t count = 0, capacity = 0;
  s = ForEachSettingsFile(st, [&](const FileEntry& e) {
    if (CompareTimes(e.lastWrite, cutoff) == kCompareGreater) return true;
    if (count == capacity) {
      capacity = capacity ? capacity * 2 : 16;
      void* block = victims;
      if (Engine_Realloc(capacity * sizeof(SettingsPath), &block) != kOk) return false;
      victims = static_cast<SettingsPath*>(block);
    }
    new (&victims[count]) SettingsPath();
    if (SettingsFilePath(st, e.name, &victims[count])) ++count;
    return true;
  });
  StatusCode first = s;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t size = 0;
    // A size that cannot be read subtracts nothing; the total is recounted below.
    if (Settings_Fs().getFileInfo(Settings_FileSys(), victims[i].text, nullptr, nullptr, 0,
                                  &size) != kOk)
      size = 0;
    bool skipped = false;
    const StatusCode d = DeleteUnlessInUse(st, victims[i].text, &skipped);
    if (d != kOk && first == kOk) first = d;
    if (d == kOk && !skipped)
      st.totalBytes = size == 0xFFFFFFFFu ? 0 : (st.totalBytes > size ? st.totalBytes - size : 0);
  }
  Engine_Free(victims);
  const StatusCode r = Settings_RecomputeTotalSize(store);
  return first != kOk ? first : r;
}

}  // namespace

StatusCode Settings_CheckSizeBudget(EngineObject* store, std::uint32_t limitKb, std::uint32_t prune,
                                    std::uint32_t* usedKb) noexcept {
  // Copies left by killed writers are removed first, so they neither count
  // nor stay.
  SweepLeftovers(Settings_Body(store));
  const StatusCode s = Settings_RecomputeTotalSize(store);
  if (s != kOk) return s;
  const SettingsStore& st = Settings_Body(store);
  const std::uint32_t used =
      static_cast<std::uint32_t>((std::uint64_t{st.totalBytes} + 1023) / 1024);
  if (usedKb) *usedKb = used;
  if (limitKb >= used) return kOk;
  // Over the limit the answer is the same whether pruning freed everything,
  // some or nothing: the caller asks again next time and still sees the
  // files that stayed.
  if (prune) (void)PruneOldest(store, limitKb);
  return kSettingsOverBudget;
}

// Deleting.

StatusCode Settings_DeleteLocalSettingsFile(SettingsStore& st,
                                            const char16_t* settingsPath) noexcept {
  const StatusCode recent = Settings_RemoveRecentDocument(st, settingsPath);
  SettingsPath cat;
  StatusCode list = kSettingsBadName;
  if (Settings_CategoryListPath(st, settingsPath, &cat)) list = Settings_DeleteFile(cat.text);
  const StatusCode file = Settings_DeleteFile(settingsPath);
  if (recent != kOk) return recent;
  if (list != kOk) return list;
  return file;
}

StatusCode Settings_DeleteDocumentSettings(EngineObject* store,
                                           const char16_t* documentPath) noexcept {
  char16_t path[kPathBufferSize];
  bool exists = false;
  const StatusCode s = Settings_FindSettingsFile(store, documentPath, path, &exists);
  if (s != kOk) return s;
  if (!exists) return kOk;
  return Settings_DeleteLocalSettingsFile(Settings_Body(store), path) == kOk
             ? kOk
             : kSettingsDeleteFailed;
}

StatusCode Settings_MatchSettingsFolder(EngineObject* store, const char16_t* path,
                                        std::uint32_t length, std::uint32_t flags) noexcept {
  const SettingsStore& st = Settings_Body(store);
  if (path == nullptr) return kBadArgument;
  if (length == 0) length = Settings_TextLength(path, 0xFFFF);
  const char16_t* folder = st.folder;
  std::uint32_t n = st.folderLength;
  if (flags & kSettingsMatchLeaf) {
    folder += n - 8;
    n = 8;
  } else if (flags & kSettingsMatchParent) {
    n -= 9;
  }
  if (length != n) return kNo;
  for (std::uint32_t i = 0; i < n; ++i) {
    char16_t a = folder[i], b = path[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a + 32);
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b + 32);
    if (a == b || (IsSeparator(a) && IsSeparator(b))) continue;
    return kNo;
  }
  return kOk;
}

StatusCode Settings_ClearRecentList(EngineObject* store) noexcept {
  SettingsPath p;
  if (!Settings_SubfolderFile(Settings_Body(store), kRegFolder, u"mru", &p))
    return kSettingsNoFolder;
  return Settings_DeleteFile(p.text);
}

StatusCode Settings_ResetAll(EngineObject* store) noexcept {
  SettingsStore& st = Settings_Body(store);
  StatusCode dict = kOk;
  if (st.categories) {
    dict = Settings_DictOps().destroy(st.categories);
    st.categories = nullptr;
  }
  StatusCode reg[3] = {kOk, kOk, kOk};
  const char16_t* regNames[3] = {u"cat", u"mru", u"fav"};
  for (int i = 0; i < 3; ++i) {
    SettingsPath p;
    reg[i] = Settings_SubfolderFile(st, kRegFolder, regNames[i], &p) ? Settings_DeleteFile(p.text)
                                                                     : kSettingsNoFolder;
  }
  auto clearFolder = [&](const char16_t* folder) {
    FileEntry* root = nullptr;
    StatusCode first = Settings_Fs().listPath(Settings_FileSys(), folder, 0, 1, &root);
    if (first != kOk) return first;
    for (FileEntry* e = root->firstChild; e; e = e->next) {
      if (e->flags & kFileEntryFolder) continue;
      SettingsPath p;
      StatusCode d = kSettingsBadName;
      if (p.Assign(folder) && p.Append(u"/") && p.Append(e->name)) d = Settings_DeleteFile(p.text);
      if (d != kOk && first == kOk) first = d;
    }
    (void)Settings_Fs().freeEntries(Settings_FileSys(), root);  // only frees
    return first;
  };
  const StatusCode folderFiles = clearFolder(st.folder);
  SettingsPath cat;
  Settings_SubfolderFile(st, kCatFolder, nullptr, &cat);
  const StatusCode catFiles = clearFolder(cat.text);
  // The store keeps working after a reset: an empty dictionary and a fresh total.
  CategoryLoad how = CategoryLoad::Missing;
  const StatusCode loaded = Settings_LoadCategories(st, &how);
  const StatusCode total = Settings_RecomputeTotalSize(store);
  for (StatusCode s : {catFiles, folderFiles, reg[2], reg[1], reg[0], dict, loaded, total})
    if (s != kOk) return s;
  return kOk;
}

// Blobs.

namespace {

bool BlobPath(const SettingsStore& st, std::uint32_t number, SettingsPath* p) {
  const char16_t name[4] = {u'p', u'f', static_cast<char16_t>(u'0' + number), 0};
  return Settings_SubfolderFile(st, kRegFolder, name, p);
}

}  // namespace

StatusCode Settings_ReadBlob(EngineObject* store, std::uint32_t number, void* buffer,
                             std::uint32_t* size) noexcept {
  if (number > 9) return kSettingsBlobNumber;
  if (size == nullptr) return kNullOutPointer;
  SettingsPath p;
  if (!BlobPath(Settings_Body(store), number, &p)) return kSettingsNoFolder;
  EngineObject* s = nullptr;
  StatusCode st = Settings_Fs().open(Settings_FileSys(), p.text, 0, kFileOpenRead, &s);
  if (st != kOk) return st;
  std::uint32_t fileSize = 0;
  st = StreamOf(s).getSize(s, &fileSize);
  if (st == kOk && buffer)
    st = StreamOf(s).readAt(s, 0, buffer, std::min(fileSize, *size), nullptr);
  (void)StreamOf(s).close(s);  // only read
  if (st == kOk) *size = fileSize;
  return st;
}

StatusCode Settings_WriteBlob(EngineObject* store, std::uint32_t number, const void* data,
                              std::uint32_t size) noexcept {
  if (number > 9) return kSettingsBlobNumber;
  SettingsPath p;
  if (!BlobPath(Settings_Body(store), number, &p)) return kSettingsNoFolder;
  return Settings_ReplaceFile(p.text, data, size);
}

// The table.

const SettingsOps kSettingsOps = {
    Core_NotImplemented,
    Settings_OpenStore,
    Settings_CloseStore,
    Settings_OpenDocument,
    Settings_CloseDocument,
    Core_NotSupported,
    Settings_GetDocumentState,
    Settings_SaveDocumentState,
    Settings_CheckSizeBudget,
    Settings_CopyDocumentSettings,
    Settings_DeleteDocumentSettings,
    Settings_RenameDocument,
    Settings_SaveCategories,
    Settings_GetCategorySet,
    Settings_LookupCategory,
    Settings_PurgeCategoryIds,
    Settings_GetDocumentCategories,
    Settings_SetDocumentCategories,
    Settings_ListDocumentsInCategory,
    Settings_DocumentHasCategory,
    Settings_ReadDocumentCategoryTag,
    Settings_AssignCategoryFromDocument,
    Settings_GetRecentList,
    Settings_ListDocuments,
    Settings_FreeList,
    Settings_GetDocumentInfo,
    Settings_GetFavourites,
    Settings_FreeList,
    Settings_GetFavourite,
    Settings_FindFavourite,
    Settings_FindFavouriteByTarget,
    Settings_AddFavourite,
    Settings_DeleteFavourite,
    Settings_UpdateFavourite,
    Settings_ReadBlob,
    Settings_WriteBlob,
    Settings_MatchSettingsFolder,
    Settings_ClearRecentList,
    Settings_ResetAll,
    Settings_GetColourThemes,
    Settings_SaveColourThemes,
    Settings_FindColourThemeByName,
    Settings_FindColourThemeByKey,
    Settings_GetColourTheme,
    Settings_SetColourTheme,
    Settings_DeleteColourTheme,
    Settings_GetThemeColoursByKey,
    Core_NotImplemented,
};

EngineObject SettingsModule = {nullptr, &kSettingsOps};
