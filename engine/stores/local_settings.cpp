// Per-document local settings: the "DSet" database of one document.
#include <sys/file.h>

#include <algorithm>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/swap.h"
#include "engine/stores/settings_internal.h"

namespace {

constexpr std::uint8_t kTypeDSet[4] = {'D', 'S', 'e', 't'};
constexpr std::uint8_t kCreatorKelp[4] = {'K', 'e', 'l', 'p'};
constexpr std::uint8_t kTypeNative[4] = {'K', 'D', 'o', 'c'};
constexpr std::uint32_t kNativeTypeOffset = 60;

// A record lent by a database, given back on scope exit.
class LentRecord {
 public:
  explicit LentRecord(EngineObject* db) : db_(db) {}
  ~LentRecord() {
    // Giving back a buffer the database lent cannot fail.
    if (data_) (void)Settings_Db().freeRecordBuffer(db_, data_);
  }
  StatusCode Read(std::uint16_t index) {
    void* buffer = nullptr;
    const StatusCode s = Settings_Db().readRecord(db_, index, &size_, &buffer);
    if (s == kOk) data_ = static_cast<std::uint8_t*>(buffer);
    return s;
  }
  const std::uint8_t* Data() const { return data_; }
  std::uint32_t Size() const { return size_; }

 private:
  EngineObject* db_;
  std::uint8_t* data_ = nullptr;
  std::uint32_t size_ = 0;
};

// The document-record index named by record 0 (0 when none).
std::uint16_t DocRecordIndex(EngineObject* db) {
  LentRecord header(db);
  if (header.Read(0) != kOk || header.Size() < 16 || header.Data() == nullptr) return 0;
  if (LoadBE16(header.Data()) < 16) return 0;
  return LoadBE16(header.Data() + 2);
}

bool IsSettingsDatabase(EngineObject* db) {
  std::uint8_t type[4], creator[4];
  return Settings_Db().getInfo(db, nullptr, type, creator, nullptr, nullptr, nullptr) == kOk &&
         std::memcmp(type, kTypeDSet, 4) == 0 && std::memcmp(creator, kCreatorKelp, 4) == 0;
}

// Reads the state of an open database (missing parts per the codes).
StatusCode ReadDocState(EngineObject* db, std::uint8_t state[kDocStateSize]) {
  if (db == nullptr) return kSettingsNotOpen;
  const std::uint16_t index = DocRecordIndex(db);
  if (index == 0) return kSettingsNoDocRecord;
  LentRecord rec(db);
  StatusCode s = rec.Read(index);
  if (s != kOk) return s;
  SettingsDocRecord parsed;
  if ((s = Settings_ParseDocRecord(rec.Data(), rec.Size(), &parsed)) != kOk) return s;
  std::memset(state, 0, kDocStateSize);
  std::memcpy(state, rec.Data() + parsed.stateOffset, std::min(parsed.stateLength, kDocStateSize));
  return kOk;
}

// The whole document record for a path and a state.
StatusCode BuildDocRecord(const char16_t* documentPath, const std::uint8_t state[kDocStateSize],
                          SettingsImage* out) {
  const std::uint32_t n = Settings_TextLength(documentPath, 0xFFFF);
  if (n > 0xFFFF) return kBadArgument;
  bool wide = false;
  for (std::uint32_t i = 0; i < n; ++i)
    if (documentPath[i] > 0xFF) wide = true;
  const std::uint32_t pathBytes = wide ? 2 * n : n;
  const std::uint32_t stateOffset = (kDocRecordHeaderSize + pathBytes + 3) & ~3u;
  StatusCode s = out->Resize(stateOffset + kDocStateSize);
  if (s != kOk) return s;
  std::uint8_t* r = out->Data();
  std::memset(r, 0, out->Size());
  StoreLE16(r, kDocRecordHeaderSize);
  StoreLE16(r + 2, wide ? 1 : 0);
  StoreLE16(r + 4, static_cast<std::uint16_t>(n));
  for (std::uint32_t i = 0; i < n; ++i) {
    if (wide) {
      StoreLE16(r + kDocRecordHeaderSize + 2 * i, documentPath[i]);
    } else {
      r[kDocRecordHeaderSize + i] = static_cast<std::uint8_t>(documentPath[i]);
    }
  }
  std::memcpy(r + stateOffset, state, kDocStateSize);
  return kOk;
}

// Writes bytes over a record through a record stream.
StatusCode WriteRecordBytes(EngineObject* db, std::uint16_t index, std::uint32_t at,
                            const void* bytes, std::uint32_t n) {
  EngineObject* rs = nullptr;
  std::uint32_t size = 0;
  StatusCode s = Settings_Db().openRecord(db, index, &size, &rs);
  if (s != kOk) return s;
  s = StreamOf(rs).writeAt(rs, at, bytes, n, nullptr);
  const StatusCode c = StreamOf(rs).close(rs);
  return s != kOk ? s : c;
}

// Writes the whole document record (appending one when record 0 names none).
StatusCode WriteDocRecord(EngineObject* db, const char16_t* documentPath,
                          const std::uint8_t state[kDocStateSize]) {
  SettingsImage rec;
  StatusCode s = BuildDocRecord(documentPath, state, &rec);
  if (s != kOk) return s;
  std::uint16_t index = DocRecordIndex(db);
  if (index == 0) {
    index = 0xFFFF;
    if ((s = Settings_Db().insertRecord(db, &index, rec.Size(), rec.Data())) != kOk) return s;
    std::uint8_t be[2];
    StoreBE16(be, index);
    return WriteRecordBytes(db, 0, 2, be, 2);
  }
  if ((s = Settings_Db().resizeRecord(db, index, rec.Size())) != kOk) return s;
  return WriteRecordBytes(db, index, 0, rec.Data(), rec.Size());
}

// Rewrites only the state inside the document record.
StatusCode WriteDocState(EngineObject* db, const std::uint8_t state[kDocStateSize]) {
  const std::uint16_t index = DocRecordIndex(db);
  SettingsDocRecord parsed;
  {
    LentRecord rec(db);
    StatusCode s = rec.Read(index);
    if (s != kOk) return s;
    if ((s = Settings_ParseDocRecord(rec.Data(), rec.Size(), &parsed)) != kOk) return s;
  }
  if (parsed.stateLength < kDocStateSize) {
    const StatusCode s = Settings_Db().resizeRecord(db, index, parsed.stateOffset + kDocStateSize);
    if (s != kOk) return s;
  }
  return WriteRecordBytes(db, index, parsed.stateOffset, state, kDocStateSize);
}

// Runs edit on a settings database in memory, a new empty one when bytes is
// null, else a copy of bytes, and answers the database's bytes afterwards.
template <class Edit>
StatusCode EditInMemory(const SettingsImage* bytes, Edit&& edit, SettingsImage* out) {
  EngineObject* ms = nullptr;
  StatusCode s = MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &ms);
  if (s != kOk) return s;
  if (bytes != nullptr) {
    s = StreamOf(ms).write(ms, bytes->Data(), bytes->Size(), nullptr);
  } else {
    s = Settings_Db().createNew(Settings_DbFile(), ms, "", kTypeDSet, kCreatorKelp);
  }
  EngineObject* db = nullptr;
  if (s == kOk) s = Settings_Db().open(Settings_DbFile(), ms, kDbOpenWrite, &db);
  if (s == kOk) {
    s = edit(db);
    const StatusCode c = Settings_Db().close(db);
    if (s == kOk) s = c;
  }
  if (s == kOk) {
    void* buffer = nullptr;
    std::uint32_t size = 0;
    s = MemStream_GetBuffer(&MemStreamModule, ms, &buffer, &size, nullptr);
    if (s == kOk) s = out->Assign(buffer, size);
  }
  (void)StreamOf(ms).close(ms);  // a memory stream: only frees
  return s;
}

// A complete new settings database for a document, as bytes.
StatusCode NewDatabaseImage(const char16_t* documentPath, const std::uint8_t state[kDocStateSize],
                            SettingsImage* out) {
  return EditInMemory(
      nullptr,
      [&](EngineObject* db) {
        std::uint8_t header[kLocalHeaderSize] = {};
        StoreBE16(header, kLocalHeaderSize);
        StoreBE32(header + 8, 0xFFFFFFFFu);
        std::uint16_t index = 0;
        StatusCode s = Settings_Db().insertRecord(db, &index, kLocalHeaderSize, header);
        if (s == kOk && index != 0) s = kSettingsHeaderNotFirst;
        return s == kOk ? WriteDocRecord(db, documentPath, state) : s;
      },
      out);
}

// The bytes of a settings file with its document record rewritten for a new
// document path (the state kept).
StatusCode RewrittenImage(const char16_t* settingsPath, const char16_t* documentPath,
                          const std::uint8_t state[kDocStateSize], SettingsImage* out) {
  SettingsImage bytes;
  const StatusCode s = Settings_ReadWholeFile(settingsPath, 0x7FFFFFFF, &bytes);
  if (s != kOk) return s;
  return EditInMemory(
      &bytes, [&](EngineObject* db) { return WriteDocRecord(db, documentPath, state); }, out);
}

StatusCode CopyCategoryList(const SettingsStore& st, const char16_t* from, const char16_t* to,
                            bool removeSource) {
  SettingsPath a, b;
  if (!Settings_CategoryListPath(st, from, &a) || !Settings_CategoryListPath(st, to, &b))
    return kSettingsBadName;
  SettingsImage bytes;
  StatusCode s = Settings_ReadWholeFile(a.text, 0x10000, &bytes);
  if (s == kFileSysNotFound) return kOk;
  if (s != kOk) return s;
  if ((s = Settings_ReplaceFile(b.text, bytes.Data(), bytes.Size())) != kOk) return s;
  return removeSource ? Settings_DeleteFile(a.text) : kOk;
}

void ZeroHandle(LocalSettings* ls) {
  std::memset(ls, 0, sizeof *ls);
}

}  // namespace

StatusCode Settings_ParseDocRecord(const std::uint8_t* r, std::uint32_t size,
                                   SettingsDocRecord* out) noexcept {
  if (r == nullptr || size < 16) return kSettingsBadDocRecord;
  const std::uint32_t h = LoadLE16(r), flags = LoadLE16(r + 2), n = LoadLE16(r + 4);
  if (h < 16 || h > size) return kSettingsBadDocRecord;
  const std::uint32_t p = (h + ((flags & 1) ? 2 * n : n) + 3) & ~3u;
  if (p > size) return kSettingsBadDocRecord;
  if (size - p < 32) return kSettingsShortState;
  *out = {h, flags, n, p, size - p};
  return kOk;
}

void Settings_GetDocPath(const std::uint8_t* r, const SettingsDocRecord& d,
                         char16_t* out) noexcept {
  for (std::uint32_t i = 0; i < d.pathLength; ++i)
    out[i] = (d.flags & 1) ? LoadLE16(r + d.headerSize + 2 * i) : r[d.headerSize + i];
}

DocState Settings_ParseDocState(const std::uint8_t s[kDocStateSize]) noexcept {
  DocState d{};
  d.size = LoadLE16(s);
  d.displayWord1 = LoadLE16(s + 2);
  d.displayWord2 = LoadLE16(s + 4);
  d.displayWord3 = LoadLE16(s + 6);
  d.firstUse = LoadLE32(s + 8);
  d.lastUse = LoadLE32(s + 12);
  std::memcpy(d.reserved16, s + 16, 16);
  d.encoding = LoadLE16(s + 32);
  d.viewWord = LoadLE16(s + 34);
  std::memcpy(d.reserved36, s + 36, 2);
  std::memcpy(d.tail, s + 38, 10);
  return d;
}

void Settings_StoreDocState(const DocState& d, std::uint8_t s[kDocStateSize]) noexcept {
  StoreLE16(s, d.size);
  StoreLE16(s + 2, d.displayWord1);
  StoreLE16(s + 4, d.displayWord2);
  StoreLE16(s + 6, d.displayWord3);
  StoreLE32(s + 8, d.firstUse);
  StoreLE32(s + 12, d.lastUse);
  std::memcpy(s + 16, d.reserved16, 16);
  StoreLE16(s + 32, d.encoding);
  StoreLE16(s + 34, d.viewWord);
  std::memcpy(s + 36, d.reserved36, 2);
  std::memcpy(s + 38, d.tail, 10);
}

StatusCode Settings_ReadStoredDocument(const char16_t* settingsPath, char16_t* path,
                                       std::uint32_t pathCapacity, std::uint32_t* pathLength,
                                       DocState* state) noexcept {
  EngineObject* file = nullptr;
  StatusCode s = Settings_Fs().open(Settings_FileSys(), const_cast<char16_t*>(settingsPath), 0,
                                    kFileOpenRead, &file);
  if (s != kOk) return s;
  EngineObject* db = nullptr;
  s = Settings_Db().open(Settings_DbFile(), file, kDbOpenRead, &db);
  if (s == kOk) {
    if (!IsSettingsDatabase(db)) s = kSettingsNoFile;
    const std::uint16_t index = s == kOk ? DocRecordIndex(db) : 0;
    if (s == kOk && index == 0) s = kSettingsNoDocRecord;
    if (s == kOk) {
      LentRecord rec(db);
      SettingsDocRecord parsed;
      if ((s = rec.Read(index)) == kOk &&
          (s = Settings_ParseDocRecord(rec.Data(), rec.Size(), &parsed)) == kOk) {
        if (path && parsed.pathLength > pathCapacity) {
          s = kSettingsBufferTooSmall;
        } else {
          if (path) Settings_GetDocPath(rec.Data(), parsed, path);
          if (pathLength) *pathLength = parsed.pathLength;
          if (state) {
            std::uint8_t bytes[kDocStateSize] = {};
            std::memcpy(bytes, rec.Data() + parsed.stateOffset,
                        std::min(parsed.stateLength, kDocStateSize));
            *state = Settings_ParseDocState(bytes);
          }
        }
      }
    }
    // Only read: nothing to write back, and the answer is already known.
    (void)Settings_Db().close(db);
  }
  (void)StreamOf(file).close(file);  // only read
  return s;
}

StatusCode Settings_OpenDocument(EngineObject* store, const char16_t* documentPath,
                                 std::uint32_t create, LocalSettings* ls) noexcept {
  if (ls == nullptr || documentPath == nullptr) return kBadArgument;
  char16_t path[kPathBufferSize];
  bool exists = false;
  StatusCode s = Settings_FindSettingsFile(store, documentPath, path, &exists);
  if (s != kOk) return s;
  std::uint32_t created = 0;
  if (!exists) {
    if (!create) return kSettingsNoFile;
    std::uint8_t state[kDocStateSize] = {};
    StoreLE16(state, kDocStateSize);
    SettingsImage image;
    if ((s = NewDatabaseImage(documentPath, state, &image)) != kOk) return s;
    if ((s = Settings_ReplaceFile(path, image.Data(), image.Size())) != kOk) return s;
    created = 1;
  }
  EngineObject* file = nullptr;
  std::uint32_t readOnly = 0;
  if ((s = Settings_Fs().open(Settings_FileSys(), path, 0, kFileOpenReadWrite, &file)) != kOk) {
    // A file we may not write is still read; its changes are refused.
    if (created || Settings_Fs().open(Settings_FileSys(), path, 0, kFileOpenRead, &file) != kOk)
      return s;
    readOnly = 1;
  }
  EngineObject* db = nullptr;
  s = Settings_Db().open(Settings_DbFile(), file, readOnly ? kDbOpenRead : kDbOpenWrite, &db);
  if (s == kOk && !IsSettingsDatabase(db)) {
    (void)Settings_Db().close(db);  // nothing changed yet
    s = kSettingsNoFile;
  }
  if (s != kOk) {
    (void)StreamOf(file).close(file);  // nothing written through it
    return s;
  }
  // A shared lock tells pruning (here or in another running reader) to keep
  // this file while it is open.
  int fd = -1;
  std::uint32_t len = 0;
  if (StreamOf(file).getProperty(file, kFilePropertyHandle, sizeof fd, &len, &fd) == kOk)
    flock(fd, LOCK_SH | LOCK_NB);
  ZeroHandle(ls);
  std::memcpy(ls->path, path, sizeof path);
  ls->file = file;
  ls->db = db;
  ls->createdNow = created;
  ls->readOnly = readOnly;
  return kOk;
}

StatusCode Settings_CloseDocument(EngineObject* store, LocalSettings* ls,
                                  std::uint32_t flags) noexcept {
  if (ls == nullptr) return kBadArgument;
  StatusCode s = kOk;
  if (ls->db) s = Settings_Db().close(ls->db);
  if (ls->file) {
    const StatusCode c = StreamOf(ls->file).close(ls->file);
    if (s == kOk) s = c;
  }
  SettingsStore& st = Settings_Body(store);
  if (ls->path[0] != 0) {
    StatusCode f = kOk;
    if (flags & kSettingsCloseDelete) {
      f = Settings_DeleteLocalSettingsFile(st, ls->path);
    } else if (flags & kSettingsCloseRecent) {
      f = Settings_AddRecentDocument(st, ls->path);
    }
    if (s == kOk) s = f;
  }
  ZeroHandle(ls);
  return s;
}

StatusCode Settings_GetDocumentState(EngineObject*, LocalSettings* ls, std::uint16_t* word1,
                                     std::uint16_t* word2, std::uint16_t* word3,
                                     std::uint32_t* encoding, std::uint16_t* viewWord) noexcept {
  if (ls == nullptr) return kBadArgument;
  std::uint8_t bytes[kDocStateSize];
  const StatusCode s = ReadDocState(ls->db, bytes);
  if (s != kOk) return s;
  const DocState d = Settings_ParseDocState(bytes);
  if (d.firstUse == 0) return kFailed;
  if (word1) *word1 = d.displayWord1;
  if (word2) *word2 = d.displayWord2;
  if (word3) *word3 = d.displayWord3;
  if (encoding) *encoding = d.encoding;
  if (viewWord) *viewWord = d.viewWord;
  return kOk;
}

StatusCode Settings_SaveDocumentState(EngineObject*, LocalSettings* ls,
                                      const char16_t* documentPath, std::uint16_t word1,
                                      std::uint16_t word2, std::uint16_t word3,
                                      std::uint32_t encoding, std::uint16_t viewWord) noexcept {
  if (ls == nullptr || ls->db == nullptr) return kOk;
  if (ls->readOnly) return kFileSysAccessDenied;
  std::uint8_t bytes[kDocStateSize] = {};
  const StatusCode read = ReadDocState(ls->db, bytes);
  DocState d = Settings_ParseDocState(bytes);
  const std::uint32_t now = Settings_NowLocalSeconds();
  if (d.firstUse == 0) d.firstUse = now;
  d.size = kDocStateSize;
  d.displayWord1 = word1;
  d.displayWord2 = word2;
  d.displayWord3 = word3;
  d.lastUse = now;
  d.encoding = static_cast<std::uint16_t>(encoding);
  d.viewWord = viewWord;
  Settings_StoreDocState(d, bytes);
  // The database keeps its changes in memory until the handle is closed, and
  // the store recounts the folder whenever it checks the budget.
  if (read != kOk) {
    if (documentPath == nullptr) return kBadArgument;
    return WriteDocRecord(ls->db, documentPath, bytes);
  }
  return WriteDocState(ls->db, bytes);
}

StatusCode Settings_CopyDocumentSettings(EngineObject* store, const char16_t* from,
                                         const char16_t* to) noexcept {
  LocalSettings src{};
  if (Settings_OpenDocument(store, from, 0, &src) != kOk) return kOk;
  std::uint8_t state[kDocStateSize];
  StatusCode s = ReadDocState(src.db, state);
  char16_t srcPath[kPathBufferSize];
  std::memcpy(srcPath, src.path, sizeof srcPath);
  (void)Settings_CloseDocument(store, &src, 0);  // only read through it
  if (s != kOk) return s;
  char16_t target[kPathBufferSize];
  bool exists = false;
  if ((s = Settings_FindSettingsFile(store, to, target, &exists)) != kOk) return s;
  SettingsImage image;
  if ((s = RewrittenImage(srcPath, to, state, &image)) != kOk) return s;
  if ((s = Settings_ReplaceFile(target, image.Data(), image.Size())) != kOk) return s;
  return CopyCategoryList(Settings_Body(store), srcPath, target, false);
}

StatusCode Settings_RenameDocument(EngineObject* store, const char16_t* from,
                                   const char16_t* to) noexcept {
  const std::uint32_t fromLength = Settings_TextLength(from, 0xFFFF);
  const std::uint32_t toLength = Settings_TextLength(to, 0xFFFF);
  if (fromLength == toLength && std::memcmp(from, to, fromLength * sizeof(char16_t)) == 0)
    return kOk;
  LocalSettings old{};
  if (Settings_OpenDocument(store, from, 0, &old) != kOk) return kOk;
  std::uint8_t state[kDocStateSize];
  StatusCode s = ReadDocState(old.db, state);
  std::uint32_t fs = 0, fl = 0, ts = 0, tl = 0;
  Settings_BaseName(from, &fs, &fl);
  Settings_BaseName(to, &ts, &tl);
  if (s == kOk && fl == tl && std::memcmp(from + fs, to + ts, fl * sizeof(char16_t)) == 0) {
    // Same base name: the file keeps its name and only the stored path changes.
    s = WriteDocRecord(old.db, to, state);
    const StatusCode c = Settings_CloseDocument(store, &old, 0);
    return s != kOk ? s : c;
  }
  char16_t oldPath[kPathBufferSize];
  std::memcpy(oldPath, old.path, sizeof oldPath);
  (void)Settings_CloseDocument(store, &old, 0);  // only read through it
  if (s != kOk) return s;
  char16_t target[kPathBufferSize];
  bool exists = false;
  if ((s = Settings_FindSettingsFile(store, to, target, &exists)) != kOk) return s;
  // The new file is complete before the old one goes: a crash in between
  // leaves both documents findable, never neither.
  SettingsImage image;
  if ((s = RewrittenImage(oldPath, to, state, &image)) != kOk) return s;
  if ((s = Settings_ReplaceFile(target, image.Data(), image.Size())) != kOk) return s;
  SettingsStore& st = Settings_Body(store);
  // Without its category list the move stops here, the old settings kept
  // (both files name a document; neither loses anything).
  if ((s = CopyCategoryList(st, oldPath, target, true)) != kOk) return s;
  const StatusCode recent = Settings_RenameRecentDocument(st, oldPath, target);
  if ((s = Settings_DeleteFile(oldPath)) != kOk) return s;
  return recent;
}

StatusCode Settings_ReadDocumentCategoryTag(EngineObject*, const char16_t* documentPath,
                                            char* buffer, std::uint32_t* size) noexcept {
  if (documentPath == nullptr || size == nullptr) return kBadArgument;
  EngineObject* file = nullptr;
  if (Settings_Fs().open(Settings_FileSys(), const_cast<char16_t*>(documentPath), 0, kFileOpenRead,
                         &file) != kOk)
    return kSettingsNoCategoryTag;
  // The document is only read: closing it has nothing to report.
  std::uint8_t header[kDbHeaderSize];
  StatusCode s = StreamOf(file).readAt(file, 0, header, kDbHeaderSize, nullptr);
  if (s != kOk || std::memcmp(header + kNativeTypeOffset, kTypeNative, 4) != 0) {
    (void)StreamOf(file).close(file);
    return kSettingsNoCategoryTag;
  }
  EngineObject* db = nullptr;
  if ((s = Settings_Db().open(Settings_DbFile(), file, kDbOpenRead, &db)) != kOk) {
    (void)StreamOf(file).close(file);
    return kSettingsNoCategoryTag;
  }
  s = kSettingsNoCategoryTag;
  {
    LentRecord rec(db);
    const StatusCode r = rec.Read(0);
    const std::uint8_t* p = rec.Data();
    const std::uint32_t n = rec.Size();
    std::uint32_t at = 0;
    auto section = [&](std::uint32_t width) {
      if (n - at < 2) return false;
      const std::uint32_t c = LoadBE16(p + at);
      if (n - at - 2 < width * c) return false;
      at += 2 + width * c;
      return true;
    };
    // A record 0 that cannot be read holds no tag that can be trusted.
    if (r == kOk && n >= 2 && p != nullptr) {
      const std::uint32_t lead = LoadBE16(p);
      at = lead;
      if (!(lead & 1) && lead <= n && section(2) && section(4) && n - at >= 4) {
        const std::uint32_t area = LoadBE16(p + at);
        const std::uint32_t flags = LoadBE16(p + at + 2);
        if (area >= 5 && area <= n - at && (flags & 1)) {
          std::uint32_t item = at + 4;
          const std::uint32_t end = at + area;
          while (end - item >= 2) {
            const std::uint32_t tag = p[item], bytes = 2u * p[item + 1];
            if (end - item - 2 < bytes) break;
            if (tag == 1) {
              std::uint32_t copy = std::min(bytes, *size > 0 ? *size - 1 : 0);
              while (copy > 0 && p[item + 2 + copy - 1] == 0)
                --copy;
              if (buffer && *size > 0) {
                std::memcpy(buffer, p + item + 2, copy);
                buffer[copy] = 0;
              }
              *size = copy + 1;
              s = kOk;
              break;
            }
            item += 2 + bytes;
          }
        }
      }
    }
  }
  (void)Settings_Db().close(db);
  (void)StreamOf(file).close(file);
  return s;
}

StatusCode Settings_AssignCategoryFromDocument(EngineObject* store, const char16_t* documentPath,
                                               std::uint16_t* id, std::uint32_t* added) noexcept {
  SettingsStore& st = Settings_Body(store);
  if (st.categories == nullptr) return kFailed;
  char tag[256];
  std::uint32_t size = sizeof tag;
  if (Settings_ReadDocumentCategoryTag(store, documentPath, tag, &size) != kOk || size <= 1)
    return kSettingsNoCategoryTag;
  LocalSettings ls{};
  if (Settings_OpenDocument(store, documentPath, 0, &ls) == kOk) {
    (void)Settings_CloseDocument(store, &ls, 0);  // only looked at
    return kSettingsNoCategoryTag;
  }
  std::uint16_t category = 0;
  const StatusCode a = Settings_DictOps().addPath(st.categories, tag, nullptr, size - 1, 1,
                                                  kDictInsertSorted, &category);
  if (a < 0) return a;
  std::uint32_t wasAdded = 0;
  if (a == 1) {
    const StatusCode w = Settings_SaveCategories(store);
    if (w != kOk) return w;
    wasAdded = 1;
  }
  StatusCode s = Settings_OpenDocument(store, documentPath, 1, &ls);
  if (s != kOk) return s;
  const std::uint16_t list[2] = {1, category};
  s = Settings_WriteCategoryList(st, ls.path, list + 1, 1);
  if (s != kOk) {
    // Already failing: the new settings go again as far as they can, and
    // the list's failure is the answer.
    (void)Settings_CloseDocument(store, &ls, kSettingsCloseDelete);
    return s;
  }
  if ((s = Settings_CloseDocument(store, &ls, 0)) != kOk) return s;
  if (id) *id = category;
  if (added) *added = wasAdded;
  return kOk;
}
