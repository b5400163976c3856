#include "engine/runtime/file_sys.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>

#include "engine/runtime/allocator.h"
#include "engine/runtime/url.h"

namespace {

constexpr std::uint32_t kFileStreamTemporary = 0x1;

struct FileStreamBody {
  int fd;
  std::uint32_t flags;
  char16_t* path;  // the characters follow the body in the same allocation
};
using FileStreamInstance = EngineInstance<FileStreamBody>;

// Closes a descriptor on scope exit unless released.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  ~FdGuard() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Opens a regular file (following links). The open itself does not wait: a
// FIFO would otherwise block until a writer appears, and a device or FIFO is
// no document. Anything but a regular file is closed again with errno EISDIR
// (folders) or EINVAL. The descriptor is blocking once returned.
int OpenRegular(const char* path, int flags, mode_t mode = 0) {
  FdGuard fd(open(path, flags | O_NONBLOCK | O_CLOEXEC, mode));
  if (fd.get() < 0) return -1;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  const int status = fcntl(fd.get(), F_GETFL);
  if (status < 0 || fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) return -1;
  return fd.release();
}

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// A NUL-terminated byte string built in a fixed buffer.
struct Bytes {
  std::array<char, NativePath::kCapacity + 64> data{};
  std::uint32_t size = 0;
  bool Append(std::string_view s) {
    if (s.size() >= data.size() - size) return false;
    std::memcpy(data.data() + size, s.data(), s.size());
    size += static_cast<std::uint32_t>(s.size());
    data[size] = '\0';
    return true;
  }
  const char* c_str() const { return data.data(); }
};

// An engine path of at most kPathMax units in its system form.
StatusCode ToSystem(const char16_t* path, NativePath* out) {
  if (path == nullptr) return kBadArgument;
  const std::uint32_t n = Path_Length(path, kPathMax);
  if (n > kPathMax) return kFileSysPathTooLong;
  if (!Path_ToNative(path, n, out)) return kFailed;
  return kOk;
}

std::uint32_t Utf16Length(std::string_view bytes) {
  std::uint32_t n = 0;
  if (Path_Utf8ToUtf16(bytes.data(), static_cast<std::uint32_t>(bytes.size()), nullptr, 0, &n) !=
      kOk) {
    return 0xFFFFFFFFu;
  }
  return n;
}

bool DateFromTime(const timespec& t, DateTime* out) {
  if (t.tv_sec < 0 || t.tv_sec > 0xFFFFFFFFll) return false;
  DateTime d{};
  if (Date_FromUnixTime(&DateModule, static_cast<std::uint32_t>(t.tv_sec), &d) != kOk) {
    return false;
  }
  d.hundredths = static_cast<std::uint8_t>(t.tv_nsec / 10000000);
  *out = d;
  return true;
}

std::uint32_t ClampSize(off_t size) {
  return size >= 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
}

// Creates the folder that holds `to` (everything before its last separator).
StatusCode CreateParentFolder(const char16_t* to) {
  const std::uint32_t n = Path_Length(to, kPathMax);
  std::uint32_t cut = n;
  while (cut > 0 && !IsSeparator(to[cut - 1]))
    --cut;
  if (cut == 0 || cut - 1 > kPathMax) return kFailed;
  std::array<char16_t, kPathBufferSize> folder{};
  std::memcpy(folder.data(), to, (cut - 1) * sizeof(char16_t));
  return FileSys_CreateFolderPath(&FileSysModule, folder.data());
}

// ---------------------------------------------------------------------------
// Temporary files

// The private temporary folder of this user; created when missing.
StatusCode TempFolder(Bytes* folder) {
  const char* root = std::getenv("TMPDIR");
  if (root == nullptr || root[0] != '/') root = "/tmp";
  std::string_view r(root);
  while (r.size() > 1 && r.back() == '/')
    r.remove_suffix(1);
  std::array<char, 32> own{};
  std::snprintf(own.data(), own.size(), "/kelpo-%u", static_cast<unsigned>(getuid()));
  if (!folder->Append(r == "/" ? "" : r) || !folder->Append(own.data())) {
    return kFileSysNoTempFolder;
  }
  // Named with its trailing separator, the folder must stay within 247 units.
  const std::uint32_t units = Utf16Length({folder->c_str(), folder->size});
  if (units == 0xFFFFFFFFu || units + 1 > 247) return kFileSysNoTempFolder;
  if (mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST) return kFileSysNoTempFolder;
  struct stat st {};
  if (lstat(folder->c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    return kFileSysNoTempFolder;
  }
  if ((st.st_mode & 077) != 0 && chmod(folder->c_str(), 0700) != 0) return kFileSysNoTempFolder;
  return kOk;
}

constexpr std::size_t kTagLength = 6;

struct InstanceLock {
  std::mutex mutex;
  Bytes folder;
  int fd = -1;
  pid_t owner = 0;  // a forked child gets an instance of its own
  std::array<char, kTagLength + 1> tag{};
};

InstanceLock& Instance() {
  static InstanceLock lock;
  return lock;
}

bool LockFileName(const Bytes& folder, std::string_view tag, Bytes* out) {
  return out->Append({folder.c_str(), folder.size}) && out->Append("/instance-") &&
         out->Append(tag) && out->Append(".lock");
}

// The tag of this running instance in folder: a lock file, held locked for
// the life of the process, is made under a pending name and renamed into
// place, so that no one ever sees an unlocked lock file of a live instance.
StatusCode InstanceTag(const Bytes& folder, std::array<char, kTagLength + 1>* tag) {
  InstanceLock& lock = Instance();
  std::lock_guard<std::mutex> guard(lock.mutex);
  if (lock.fd >= 0 && lock.owner != getpid()) {
    // Inherited through fork: the lock is the parent's, and so would be the
    // tag; closing our copy of the descriptor leaves the parent's lock held.
    close(lock.fd);
    lock.fd = -1;
  }
  if (lock.fd >= 0 && std::strcmp(lock.folder.c_str(), folder.c_str()) == 0) {
    // Still ours only while the lock file at its name is the one we hold (a
    // cleaner may have removed the whole folder meanwhile).
    Bytes name;
    struct stat held {};
    struct stat named {};
    if (LockFileName(folder, lock.tag.data(), &name) && fstat(lock.fd, &held) == 0 &&
        stat(name.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      *tag = lock.tag;
      return kOk;
    }
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    Bytes pending;
    if (!pending.Append({folder.c_str(), folder.size}) || !pending.Append("/pending-XXXXXX")) {
      return kFileSysNoTempName;
    }
    FdGuard fd(mkostemp(pending.data.data(), O_CLOEXEC));
    if (fd.get() < 0) return kFileSysNoTempName;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      unlink(pending.c_str());
      continue;
    }
    const std::string_view name(pending.c_str() + pending.size - kTagLength, kTagLength);
    Bytes final;
    if (!LockFileName(folder, name, &final)) return kFileSysNoTempName;
    int r = renameat2(AT_FDCWD, pending.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
      r = link(pending.c_str(), final.c_str());
      if (r == 0) unlink(pending.c_str());
    }
    if (r != 0) {
      // Taken, or our pending file was cleaned away before we locked it.
      unlink(pending.c_str());
      continue;
    }
    // A lock in an earlier temporary folder stays held, so its files stay safe.
    lock.fd = fd.release();
    lock.owner = getpid();
    lock.folder = folder;
    std::memcpy(lock.tag.data(), name.data(), kTagLength);
    lock.tag[kTagLength] = '\0';
    *tag = lock.tag;
    return kOk;
  }
  return kFileSysNoTempName;
}

// Whether the instance of tag has ended. When it has, its lock file is held
// in *held (the caller closes it) so that the tag cannot be reused meanwhile.
bool InstanceEnded(const Bytes& folder, std::string_view tag, int* held) {
  Bytes name;
  if (!LockFileName(folder, tag, &name)) return false;
  FdGuard fd(open(name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return errno == ENOENT;
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  struct stat opened {};
  struct stat named {};
  if (fstat(fd.get(), &opened) != 0) return false;
  if (stat(name.c_str(), &named) == 0 &&
      (named.st_ino != opened.st_ino || named.st_dev != opened.st_dev)) {
    return false;  // replaced since we opened it: a new owner
  }
  *held = fd.release();
  return true;
}

// Whether text is an instance tag as InstanceTag makes them.
bool IsTag(std::string_view text) {
  if (text.size() != kTagLength) return false;
  for (char c : text)
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// Whether the instance of tag provably ended: its lock file in this user's
// temporary folder is there and no one holds it. Without the lock file
// nothing proves the tag ours.
bool InstanceOfTagEnded(std::string_view tag) {
  Bytes folder;
  if (TempFolder(&folder) != kOk) return false;
  int held = -1;
  if (!InstanceEnded(folder, tag, &held) || held < 0) return false;
  close(held);
  return true;
}

// ---------------------------------------------------------------------------
// Moving and copying

int RenameNoReplace(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without the flag: a hard link refuses an existing target.
  if (link(from, to) == 0) return unlink(from) == 0 ? 0 : errno;
  if (errno == EEXIST) return EEXIST;
  struct stat st {};
  if (lstat(to, &st) == 0) return EEXIST;
  return rename(from, to) == 0 ? 0 : errno;
}

// ---------------------------------------------------------------------------
// Replacing a file in one step
//
// The new copy is made unnamed (O_TMPFILE) in the target's folder, written,
// flushed, and only then given a name: directly the target's when nothing may
// be replaced (link refuses an existing name), else a temporary name that is
// at once renamed over the target. A writer killed before that leaves nothing
// behind. Where the file system refuses unnamed files the copy is made under
// a temporary name from the start. Every temporary name is kReplacePrefix,
// the writer's instance tag, '-' and kRandomLength random letters and
// digits; the writer holds an exclusive lock on the file while the name
// exists. A sweep removes a file only when all of that proves it a copy of
// ours whose writer is gone: the exact form of the name, our user, no lock
// on the file and the instance of the tag ended. Anything else, whatever its
// name, is someone else's and stays.

constexpr std::string_view kReplacePrefix = ".kelpo-new-";
constexpr std::size_t kRandomLength = 12;
// The tag of copies named while the temporary folder (where instances are
// registered) is unusable: never a tag, so such a copy is never swept.
constexpr std::string_view kNoTag = "------";

std::atomic<std::uint32_t> g_replaceFailStep{0};
std::atomic<bool> g_replaceNamedOnly{false};
std::atomic<std::uint64_t> g_writeBudget{kFileSysWritesUnlimited};

// write(2) under the tests' byte budget (FileSys_FailWritesAfter): past it
// the write fails with ENOSPC, after the part that still fits.
ssize_t WriteSome(int fd, const void* data, std::size_t size) {
  std::uint64_t budget = g_writeBudget.load();
  if (budget != kFileSysWritesUnlimited) {
    if (budget == 0) {
      errno = ENOSPC;
      return -1;
    }
    if (size > budget) size = static_cast<std::size_t>(budget);
  }
  const ssize_t w = write(fd, data, size);
  while (w > 0 && budget != kFileSysWritesUnlimited &&
         !g_writeBudget.compare_exchange_weak(
             budget, budget > static_cast<std::uint64_t>(w) ? budget - w : 0)) {
  }
  return w;
}

// Counts one step of a replacement; false (with errno set) when the injected
// fault says this step fails.
bool ReplaceStepAllowed() {
  const std::uint32_t n = g_replaceFailStep.load();
  if (n == 0) return true;
  g_replaceFailStep = n - 1;
  if (n != 1) return true;
  errno = EIO;
  return false;
}

// Writes the new content into fd; answers an errno value.
using ReplaceFill = int (*)(int fd, const void* context);

struct ReplaceSource {
  const void* data;
  std::uint32_t size;
};

int WriteAll(int fd, const char* data, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t w = WriteSome(fd, data + done, size - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (w == 0) return EIO;
    done += static_cast<std::size_t>(w);
  }
  return 0;
}

// The bytes of a ReplaceSource; an injected fault stops after half of them.
int FillFromMemory(int fd, const void* context) {
  const auto& source = *static_cast<const ReplaceSource*>(context);
  const char* data = static_cast<const char*>(source.data);
  if (!ReplaceStepAllowed()) {
    const int err = WriteAll(fd, data, source.size / 2);
    return err != 0 ? err : EIO;
  }
  return WriteAll(fd, data, source.size);
}

int CopyBytes(int from, int to) {
  std::array<char, 16384> buffer;
  while (true) {
    const ssize_t n = read(from, buffer.data(), buffer.size());
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    const int err = WriteAll(to, buffer.data(), static_cast<std::size_t>(n));
    if (err != 0) return err;
  }
}

// The whole of an engine stream, read in pieces.
int FillFromStream(int fd, const void* context) {
  EngineObject* source = const_cast<EngineObject*>(static_cast<const EngineObject*>(context));
  std::uint32_t size = 0;
  if (IsFailure(StreamOf(source).getSize(source, &size))) return EIO;
  if (!ReplaceStepAllowed()) return EIO;
  std::array<char, 65536> buffer;
  for (std::uint32_t at = 0; at < size;) {
    const std::uint32_t piece =
        size - at < buffer.size() ? size - at : static_cast<std::uint32_t>(buffer.size());
    if (Stream_ReadExact(source, at, buffer.data(), piece) != kOk) return EIO;
    const int err = WriteAll(fd, buffer.data(), piece);
    if (err != 0) return err;
    at += piece;
  }
  return 0;
}

// The bytes of an open file from its start.
int FillFromFile(int fd, const void* context) {
  const int source = *static_cast<const int*>(context);
  if (lseek(source, 0, SEEK_SET) < 0) return errno;
  if (!ReplaceStepAllowed()) return EIO;
  return CopyBytes(source, fd);
}

// Appends "/.kelpo-new-<tag>-" and 12 random letters and digits to the
// folder.
bool TemporaryName(std::string_view folder, Bytes* out) {
  std::array<char, kTagLength + 1> tag{};
  Bytes temp;
  if (TempFolder(&temp) != kOk || InstanceTag(temp, &tag) != kOk)
    std::memcpy(tag.data(), kNoTag.data(), kTagLength);
  static constexpr char kDigits[] =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::array<unsigned char, kRandomLength> random{};
  if (getrandom(random.data(), random.size(), GRND_NONBLOCK) !=
      static_cast<ssize_t>(random.size())) {
    // Without entropy: the clock and the process still make clashes unlikely,
    // and a clash is only retried.
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t v = static_cast<std::uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull ^
                      static_cast<std::uint64_t>(clock()) ^ (++counter << 40);
    for (auto& c : random) {
      c = static_cast<unsigned char>(v);
      v = v * 6364136223846793005ull + 1442695040888963407ull;
    }
  }
  std::array<char, kRandomLength + 1> suffix{};
  for (std::size_t i = 0; i < random.size(); ++i)
    suffix[i] = kDigits[random[i] % (sizeof kDigits - 1)];
  return out->Append(folder) && out->Append("/") && out->Append(kReplacePrefix) &&
         out->Append(tag.data()) && out->Append("-") && out->Append(suffix.data());
}

// Whether the name still refers to the open file (a sweep may have removed
// it between its creation and our lock).
bool NameIsFile(const char* name, int fd) {
  struct stat named {};
  struct stat opened {};
  return lstat(name, &named) == 0 && fstat(fd, &opened) == 0 && named.st_ino == opened.st_ino &&
         named.st_dev == opened.st_dev;
}

// Gives the locked, unnamed file fd the name `name` (not replacing anything).
int LinkUnnamed(int fd, const char* name) {
  std::array<char, 48> proc{};
  std::snprintf(proc.data(), proc.size(), "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, proc.data(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0) return 0;
  const int err = errno;
  if (err == EEXIST || err == ENOSPC || err == EDQUOT || err == EACCES || err == EROFS) return err;
  // Without /proc: the descriptor itself (needs a privilege most lack).
  if (linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0) return 0;
  return errno == EEXIST ? EEXIST : err;
}

// Creates the new copy in folder: unnamed where the system allows (*temp
// left empty), else under a temporary name in *temp. Locked either way.
// Answers the descriptor or -1 with errno set.
int CreateLockedCopy(std::string_view folder, mode_t mode, bool* unnamed, Bytes* temp) {
  *unnamed = false;
  if (!ReplaceStepAllowed()) {
    errno = ENOSPC;
    return -1;
  }
  Bytes dir;
  if (!dir.Append(folder.empty() ? "." : folder)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  // An unnamed file is named through /proc; without it, names from the start.
  static const bool procMounted = access("/proc/self/fd", X_OK) == 0;
  if (procMounted && !g_replaceNamedOnly.load()) {
    const int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd >= 0) {
      if (flock(fd, LOCK_EX) == 0) {
        *unnamed = true;
        return fd;
      }
      close(fd);
      return -1;
    }
    // Refused by this file system or kernel: fall back to a name. Anything
    // else (a missing folder, no permission, a full disk) is the answer.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) return -1;
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp->size = 0;
    temp->data[0] = '\0';
    if (!TemporaryName(folder.empty() ? "." : folder, temp)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    FdGuard fd(open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    if (flock(fd.get(), LOCK_EX) != 0) {
      const int err = errno;
      unlink(temp->c_str());
      errno = err;
      return -1;
    }
    if (NameIsFile(temp->c_str(), fd.get())) return fd.release();
  }
  errno = EEXIST;
  return -1;
}

// The tag in a name of the form TemporaryName makes, or empty.
std::string_view CopyTag(std::string_view name) {
  if (name.size() != kReplacePrefix.size() + kTagLength + 1 + kRandomLength ||
      !name.starts_with(kReplacePrefix)) {
    return {};
  }
  const std::string_view tag = name.substr(kReplacePrefix.size(), kTagLength);
  const std::string_view random = name.substr(kReplacePrefix.size() + kTagLength + 1);
  if (name[kReplacePrefix.size() + kTagLength] != '-' || !IsTag(tag)) return {};
  for (char c : random)
    if (!std::isalnum(static_cast<unsigned char>(c))) return {};
  return tag;
}

// Sweeps the copies of dead writers of ours from an open folder.
void SweepFolder(DIR* dir) {
  while (const dirent* d = readdir(dir)) {
    const std::string_view tag = CopyTag(d->d_name);
    if (tag.empty()) continue;
    FdGuard fd(
        openat(dirfd(dir), d->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) continue;
    struct stat opened {};
    if (fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != getuid() ||
        opened.st_nlink != 1) {
      continue;
    }
    // A writer still at work holds the lock; its instance, the tag's lock.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || !InstanceOfTagEnded(tag)) continue;
    struct stat named {};
    if (fstatat(dirfd(dir), d->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
      continue;  // renamed into place or replaced meanwhile
    }
    unlinkat(dirfd(dir), d->d_name, 0);
  }
}

// Flushes a folder, so that a rename in it reaches the disk.
void SyncFolder(const char* folder) {
  FdGuard dir(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // A folder that cannot be flushed (some file systems refuse) still holds
  // the complete new file: nothing to report.
  if (dir.get() >= 0) (void)fsync(dir.get());
}

// Puts a new file at `to` through fill, whole or not at all. A link at `to`
// is followed: the file it names is replaced. Without replace an existing
// target is left alone (EEXIST). like, when given, supplies the new file's
// permissions and times; otherwise an existing target keeps its permissions
// and a new one gets the default ones. Answers an errno value.
int ReplaceWith(const char* to, bool replace, const struct stat* like, ReplaceFill fill,
                const void* context) {
  Bytes target;
  struct stat existing {};
  bool exists = lstat(to, &existing) == 0;
  if (exists && !replace) return EEXIST;
  if (exists && S_ISLNK(existing.st_mode)) {
    char* real = realpath(to, nullptr);
    if (real == nullptr) return errno;
    const bool fits = target.Append(real);
    std::free(real);
    if (!fits) return ENAMETOOLONG;
    if (stat(target.c_str(), &existing) != 0) return errno;
  }
  if (target.size == 0 && !target.Append(to)) return ENAMETOOLONG;
  if (exists && !S_ISREG(existing.st_mode)) return EISDIR;
  const std::string_view path(target.c_str(), target.size);
  const std::size_t slash = path.rfind('/');
  Bytes folder;
  if (slash != std::string_view::npos && !folder.Append(path.substr(0, slash == 0 ? 1 : slash))) {
    return ENAMETOOLONG;
  }

  mode_t mode = 0666;  // narrowed by the umask when created
  bool setMode = false;
  if (like != nullptr) {
    mode = like->st_mode & 07777;
    setMode = true;
  } else if (exists) {
    mode = existing.st_mode & 07777;
    setMode = true;
  }
  bool unnamed = false;
  Bytes temp;
  FdGuard fd(
      CreateLockedCopy({folder.c_str(), folder.size}, setMode ? 0600 : mode, &unnamed, &temp));
  if (fd.get() < 0) return errno;
  int err = fill(fd.get(), context);
  if (err == 0 && setMode && fchmod(fd.get(), mode) != 0) err = errno;
  if (err == 0 && like != nullptr) {
    const timespec times[2] = {like->st_atim, like->st_mtim};
    if (futimens(fd.get(), times) != 0) err = errno;
  }
  if (err == 0 && (!ReplaceStepAllowed() || fsync(fd.get()) != 0)) err = errno;
  if (err == 0 && unnamed && !replace) {
    // The target's own name, refused when taken: no temporary name at all.
    err = ReplaceStepAllowed() ? LinkUnnamed(fd.get(), target.c_str()) : errno;
  } else if (err == 0) {
    if (unnamed) {
      for (int attempt = 0; attempt < 16; ++attempt) {
        temp.size = 0;
        if (!TemporaryName(folder.size ? std::string_view(folder.c_str(), folder.size) : ".",
                           &temp)) {
          err = ENAMETOOLONG;
          break;
        }
        err = ReplaceStepAllowed() ? LinkUnnamed(fd.get(), temp.c_str()) : errno;
        if (err != EEXIST) break;
      }
      if (err != 0) temp.size = 0;
    }
    if (err == 0) {
      if (!ReplaceStepAllowed()) {
        err = errno;
      } else if (replace) {
        err = rename(temp.c_str(), target.c_str()) == 0 ? 0 : errno;
      } else {
        err = RenameNoReplace(temp.c_str(), target.c_str());
      }
    }
  }
  if (err != 0 && temp.size != 0) unlink(temp.c_str());
  if (err == 0) {
    SyncFolder(folder.size ? folder.c_str() : ".");
    fd.reset();  // the lock goes with the descriptor, the file being in place
    // A writer killed while its copy had a name (from the start where the
    // file system has no unnamed files, else between naming and renaming)
    // left it here: every replacement clears those of dead writers.
    if (DIR* dir = opendir(folder.size ? folder.c_str() : ".")) {
      SweepFolder(dir);
      closedir(dir);
    }
  }
  return err;
}

// ---------------------------------------------------------------------------
// Listing

StatusCode MakeEntry(std::string_view name, const struct stat& st, FileEntry** out) {
  std::uint32_t units = 0;
  if (Path_Utf8ToUtf16(name.data(), static_cast<std::uint32_t>(name.size()), nullptr, 0, &units) !=
          kOk ||
      units > kPathMax) {
    return kFailed;
  }
  void* block = nullptr;
  const StatusCode s = Engine_Alloc(
      static_cast<std::uint32_t>(sizeof(FileEntry) + (units + 1) * sizeof(char16_t)), &block);
  if (s != kOk) return s;
  auto* e = static_cast<FileEntry*>(block);
  e->name = reinterpret_cast<char16_t*>(e + 1);
  if (Path_Utf8ToUtf16(name.data(), static_cast<std::uint32_t>(name.size()), e->name, units + 1,
                       &units) != kOk) {
    Engine_Free(e);
    return kFailed;
  }
  e->flags = 0;
  if (S_ISDIR(st.st_mode)) e->flags |= kFileEntryFolder;
  if (!name.empty() && name.front() == '.') e->flags |= kFileEntryHidden;
  if ((st.st_mode & S_IWUSR) == 0) e->flags |= kFileEntryReadOnly;
  e->lastWrite = DateTime{};
  DateFromTime(st.st_mtim, &e->lastWrite);
  e->size = S_ISDIR(st.st_mode) ? 0 : ClampSize(st.st_size);
  e->firstChild = nullptr;
  e->next = nullptr;
  *out = e;
  return kOk;
}

// Lists the folder whose engine path is path[0, length) (its system form
// native) into *first.
StatusCode ListChildren(const char16_t* path, std::uint32_t length, const NativePath& native,
                        std::uint32_t options, std::uint32_t depth, FileEntry** first) {
  if (length + 2 > kPathMax) return kFileSysListPathTooLong;
  DIR* dir = opendir(native.c_str());
  if (dir == nullptr) return FileSys_MapError(errno);
  FileEntry* head = nullptr;
  FileEntry** tail = &head;
  StatusCode status = kOk;
  while (true) {
    errno = 0;
    const dirent* d = readdir(dir);
    if (d == nullptr) {
      if (errno != 0) status = FileSys_MapError(errno);
      break;
    }
    const std::string_view name(d->d_name);
    if (name == "." || name == "..") continue;
    if ((options & kListSkipDotNames) && name.front() == '.') continue;
    struct stat st {};
    if (fstatat(dirfd(dir), d->d_name, &st, 0) != 0 &&
        fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // gone since the folder was read
    }
    FileEntry* entry = nullptr;
    status = MakeEntry(name, st, &entry);
    if (status == kFailed) {
      status = kOk;  // a name too long for an engine path is left out
      continue;
    }
    if (status != kOk) break;
    *tail = entry;
    tail = &entry->next;
    const std::uint32_t nameUnits = Path_Length(entry->name, kPathMax);
    const std::uint32_t childLength = length + 1 + nameUnits;
    // Child folders are listed only where their own "path/*" still fits.
    if (depth > 1 && (entry->flags & kFileEntryFolder) && nameUnits > 0 &&
        childLength + 2 <= kPathMax) {
      std::array<char16_t, kPathBufferSize> child{};
      std::memcpy(child.data(), path, length * sizeof(char16_t));
      child[length] = u'/';
      std::memcpy(child.data() + length + 1, entry->name, nameUnits * sizeof(char16_t));
      NativePath childNative;
      if (!Path_ToNative(child.data(), childLength, &childNative)) continue;
      status = ListChildren(child.data(), childLength, childNative, options, depth - 1,
                            &entry->firstChild);
      if (status == kFileSysNotFound || status == kFileSysAccessDenied) status = kOk;
      if (status != kOk) break;
    }
  }
  closedir(dir);
  if (status != kOk) {
    (void)FileSys_FreeEntries(&FileSysModule, head);  // only frees; cannot fail
    return status;
  }
  *first = head;
  return kOk;
}

// ---------------------------------------------------------------------------
// File streams

constexpr StreamOps kFileStreamOps = MakeStreamOps({
    .close = FileStream_Close,
    .seek = FileStream_Seek,
    .read = FileStream_Read,
    .write = FileStream_Write,
    .getSize = FileStream_GetSize,
    .setSize = FileStream_SetSize,
    .getProperty = FileStream_GetProperty,
});

FileStreamBody& Body(EngineObject* s) {
  return BodyOf<FileStreamBody>(s);
}

// Wraps fd (owned from here on) and a copy of path in a new stream.
StatusCode MakeStream(int fd, const char16_t* path, std::uint32_t length, std::uint32_t flags,
                      EngineObject** out) {
  void* block = nullptr;
  const std::uint32_t bytes =
      static_cast<std::uint32_t>(sizeof(FileStreamInstance) + (length + 1) * sizeof(char16_t));
  if (Engine_Alloc(bytes, &block) != kOk) {
    close(fd);
    return kOutOfMemory;
  }
  auto* instance = static_cast<FileStreamInstance*>(block);
  auto* chars = reinterpret_cast<char16_t*>(instance + 1);
  std::memcpy(chars, path, length * sizeof(char16_t));
  chars[length] = u'\0';
  instance->body = FileStreamBody{fd, flags, chars};
  instance->header = EngineObject{&instance->body, &kFileStreamOps};
  *out = &instance->header;
  return kOk;
}

StatusCode OpenTemporary(char16_t* nameBuffer, std::uint32_t bufferLength, EngineObject** out) {
  if (nameBuffer != nullptr && bufferLength < kPathMax) return kFileSysNameBufferTooShort;
  Bytes folder;
  StatusCode s = TempFolder(&folder);
  if (s != kOk) return s;
  std::array<char, kTagLength + 1> tag{};
  s = InstanceTag(folder, &tag);
  if (s != kOk) return s;
  Bytes name;
  if (!name.Append({folder.c_str(), folder.size}) || !name.Append("/iii") ||
      !name.Append(tag.data()) || !name.Append("-XXXXXX.tmp")) {
    return kFileSysNoTempName;
  }
  FdGuard fd(mkostemps(name.data.data(), 4, O_CLOEXEC));
  if (fd.get() < 0) return kFileSysNoTempName;
  std::array<char16_t, kPathBufferSize> wide{};
  std::uint32_t units = 0;
  const std::uint32_t room = nameBuffer != nullptr ? bufferLength : kPathBufferSize;
  if (Path_Utf8ToUtf16(name.c_str(), name.size, wide.data(), kPathBufferSize, &units) != kOk ||
      units + 1 > room) {
    unlink(name.c_str());
    return kFileSysNoTempName;
  }
  s = MakeStream(fd.release(), wide.data(), units, nameBuffer == nullptr ? kFileStreamTemporary : 0,
                 out);
  if (s != kOk) {
    unlink(name.c_str());
    return s;
  }
  if (nameBuffer != nullptr) std::memcpy(nameBuffer, wide.data(), (units + 1) * sizeof(char16_t));
  return kOk;
}

constexpr FileSysOps kFileSysOps = {
    Core_NotImplemented,  FileSys_GetFileInfo,     FileSys_Open,     FileSys_Delete,
    FileSys_OpenInFolder, FileSys_DeleteInFolder,  FileSys_Move,     FileSys_CreateFolderPath,
    FileSys_Copy,         FileSys_DeleteTempFiles, FileSys_ListPath, FileSys_FreeEntries,
    Core_NotImplemented,
};

}  // namespace

EngineObject FileSysModule = {nullptr, &kFileSysOps};

StatusCode FileSys_MapError(int error) noexcept {
  switch (error) {
    case 0:
      return kOk;
    case ENOENT:
    case ENOTDIR:
      return kFileSysNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kFileSysAccessDenied;
    case ENOMEM:
      return kOutOfMemory;
    default:
      return kFailed;
  }
}

StatusCode FileSys_GetFileInfo(EngineObject*, const char16_t* path, DateTime* lastWrite,
                               std::uint8_t* cleared, std::uint32_t flag,
                               std::uint32_t* size) noexcept {
  NativePath native;
  if (ToSystem(path, &native) != kOk) return kCannotOpen;
  FdGuard fd(OpenRegular(native.c_str(), O_RDONLY));
  if (fd.get() < 0) return kCannotOpen;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return kFileSysNoFileTime;
  DateTime date{};
  if (lastWrite != nullptr && !DateFromTime(st.st_mtim, &date)) return kFileSysNoFileTime;
  if (lastWrite != nullptr) *lastWrite = date;
  if (size != nullptr) *size = ClampSize(st.st_size);
  if (cleared != nullptr && flag != 0) *cleared = 0;
  return kOk;
}

StatusCode FileSys_Open(EngineObject*, char16_t* path, std::uint32_t bufferLength,
                        std::uint32_t type, EngineObject** stream) noexcept {
  if (stream == nullptr) return kNullOutPointer;
  if (type > kFileOpenTemporary) return kBadArgument;
  if (type == kFileOpenTemporary) return OpenTemporary(path, bufferLength, stream);
  if (path == nullptr) return kBadArgument;
  const std::uint32_t length = Path_Length(path, kPathMax);
  if (length > kPathMax) return kFileSysPathTooLong;
  NativePath native;
  if (!Path_ToNative(path, length, &native)) return kFailed;
  int flags = O_RDONLY;
  if (type == kFileOpenReadWrite) {
    flags = O_RDWR;
  } else if (type != kFileOpenRead) {
    flags = O_RDWR | O_CREAT | O_TRUNC;
  }
  FdGuard fd(OpenRegular(native.c_str(), flags, 0666));
  if (fd.get() < 0) return kFailed;
  return MakeStream(fd.release(), path, length, 0, stream);
}

StatusCode FileSys_Delete(EngineObject*, const char16_t* path) noexcept {
  NativePath native;
  const StatusCode s = ToSystem(path, &native);
  if (s != kOk) return s;
  if (unlink(native.c_str()) == 0) return kOk;
  return (errno == ENOENT || errno == ENOTDIR) ? kFileSysNotFound : kFailed;
}

StatusCode FileSys_OpenInFolder(EngineObject* module, const char16_t* folder, const char16_t* name,
                                std::uint32_t type, EngineObject** stream) noexcept {
  if (type > kFileOpenCreate) return kBadArgument;
  std::array<char16_t, kPathBufferSize> path{};
  const StatusCode s = Url_JoinFolderAndName(&UrlModule, folder, name, path.data(), kPathMax);
  if (s != kOk) return s;
  return FileSys_Open(module, path.data(), 0, type, stream);
}

StatusCode FileSys_DeleteInFolder(EngineObject* module, const char16_t* folder,
                                  const char16_t* name) noexcept {
  std::array<char16_t, kPathBufferSize> path{};
  const StatusCode s = Url_JoinFolderAndName(&UrlModule, folder, name, path.data(), kPathMax);
  if (s != kOk) return s;
  return FileSys_Delete(module, path.data());
}

StatusCode FileSys_Move(EngineObject*, const char16_t* from, const char16_t* to,
                        std::uint32_t replace) noexcept {
  NativePath source;
  NativePath target;
  StatusCode s = ToSystem(from, &source);
  if (s == kOk) s = ToSystem(to, &target);
  if (s != kOk) return s == kFileSysPathTooLong ? kFailed : s;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int err = replace ? (rename(source.c_str(), target.c_str()) == 0 ? 0 : errno)
                            : RenameNoReplace(source.c_str(), target.c_str());
    if (err == 0) return kOk;
    struct stat st {};
    if (err == EEXIST && !replace) return kFileSysTargetExists;
    if (err == ENOENT && attempt == 0 && lstat(source.c_str(), &st) == 0) {
      s = CreateParentFolder(to);
      if (s != kOk) return s;
      continue;
    }
    if (err == EXDEV && lstat(source.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      FdGuard fd(OpenRegular(source.c_str(), O_RDONLY));
      if (fd.get() < 0 || fstat(fd.get(), &st) != 0) return kFailed;
      const int sourceFd = fd.get();
      const int copied = ReplaceWith(target.c_str(), replace != 0, &st, FillFromFile, &sourceFd);
      if (copied == EEXIST && !replace) return kFileSysTargetExists;
      if (copied != 0) return kFailed;
      return unlink(source.c_str()) == 0 ? kOk : kFailed;
    }
    return kFailed;
  }
  return kFailed;
}

StatusCode FileSys_CreateFolderPath(EngineObject*, const char16_t* path) noexcept {
  if (path == nullptr) return kBadArgument;
  const std::uint32_t length = Path_Length(path, kPathMax);
  if (length > kPathMax) return kFileSysPathTooLong;
  if (length == 0) return kOk;
  NativePath native;
  if (!Path_ToNative(path, length, &native)) return kFileSysCannotExamine;
  char* buf = native.bytes;
  std::uint32_t end = native.length;
  std::array<std::uint32_t, kPathBufferSize> cuts{};
  std::uint32_t cutCount = 0;
  bool prefixExists = false;
  // Backward: cut components off until an existing folder (or the root).
  while (true) {
    struct stat st {};
    if (stat(buf, &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return kFileSysNotAFolder;
      prefixExists = true;
      break;
    }
    if (errno != ENOENT && errno != ENOTDIR) return kFileSysCannotExamine;
    std::uint32_t k = end;
    while (k > 0 && buf[k - 1] != '/')
      --k;
    if (k == 0) break;  // no separator left
    const std::uint32_t sep = k - 1;
    if (sep == 0) break;             // "/" is never cut off
    if (buf[sep - 1] == ':') break;  // nor a drive root "X:/"
    buf[sep] = '\0';
    cuts[cutCount++] = sep;
    end = sep;
  }
  auto makeFolder = [&]() {
    if (mkdir(buf, 0777) == 0) return true;
    struct stat st {};
    return errno == EEXIST && stat(buf, &st) == 0 && S_ISDIR(st.st_mode);
  };
  // Forward: make the first missing component, then restore each cut.
  if (!prefixExists && !makeFolder()) return kFileSysCannotCreateFolder;
  while (cutCount > 0) {
    buf[cuts[--cutCount]] = '/';
    if (!makeFolder()) return kFileSysCannotCreateFolder;
  }
  return kOk;
}

StatusCode FileSys_Copy(EngineObject*, const char16_t* from, const char16_t* to,
                        std::uint32_t replace) noexcept {
  NativePath source;
  NativePath target;
  StatusCode s = ToSystem(from, &source);
  if (s == kOk) s = ToSystem(to, &target);
  if (s != kOk) return s == kFileSysPathTooLong ? kFailed : s;
  FdGuard fd(OpenRegular(source.c_str(), O_RDONLY));
  if (fd.get() < 0) return (errno == EACCES || errno == EPERM) ? kFileSysAccessDenied : kFailed;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return kFailed;
  struct stat existing {};
  if (!replace && lstat(target.c_str(), &existing) == 0) return kFileSysTargetExists;
  const int sourceFd = fd.get();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int err = ReplaceWith(target.c_str(), replace != 0, &st, FillFromFile, &sourceFd);
    if (err == 0) return kOk;
    if (err == EEXIST && !replace) return kFileSysTargetExists;
    if (err == ENOENT && attempt == 0) {
      s = CreateParentFolder(to);
      if (s != kOk) return s;
      continue;
    }
    if (err == EACCES || err == EPERM || err == EROFS) return kFileSysAccessDenied;
    return kFailed;
  }
  return kFailed;
}

StatusCode FileSys_DeleteTempFiles(EngineObject*) noexcept {
  Bytes folder;
  const StatusCode s = TempFolder(&folder);
  if (s != kOk) return s;
  const std::uint32_t folderUnits = Utf16Length({folder.c_str(), folder.size});
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return kOk;
  // Temporary files first; lock files of ended instances after them.
  for (int pass = 0; pass < 2; ++pass) {
    rewinddir(dir);
    while (const dirent* d = readdir(dir)) {
      const std::string_view name(d->d_name);
      if (pass == 0 && name.starts_with("iii") && name.ends_with(".tmp") && name.size() >= 7) {
        if (folderUnits + 1 + Utf16Length(name) >= kPathBufferSize) continue;
        // "iii<tag>-XXXXXX.tmp": keep the files of running instances.
        int held = -1;
        if (name.size() > 3 + kTagLength && name[3 + kTagLength] == '-' &&
            !InstanceEnded(folder, name.substr(3, kTagLength), &held)) {
          continue;
        }
        unlinkat(dirfd(dir), d->d_name, 0);
        if (held >= 0) close(held);
      } else if (pass == 1 && name.starts_with("instance-") && name.ends_with(".lock") &&
                 name.size() == 9 + kTagLength + 5) {
        int held = -1;
        if (InstanceEnded(folder, name.substr(9, kTagLength), &held) && held >= 0) {
          unlinkat(dirfd(dir), d->d_name, 0);
          close(held);
        }
      } else if (pass == 1 && name.starts_with("pending-")) {
        FdGuard fd(openat(dirfd(dir), d->d_name, O_RDWR | O_CLOEXEC | O_NOFOLLOW));
        if (fd.get() >= 0 && flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
          unlinkat(dirfd(dir), d->d_name, 0);
        }
      }
    }
  }
  closedir(dir);
  return kOk;
}

StatusCode FileSys_ReplaceFile(EngineObject*, const char16_t* path, const void* data,
                               std::uint32_t size) noexcept {
  if (data == nullptr && size != 0) return kBadArgument;
  NativePath native;
  const StatusCode s = ToSystem(path, &native);
  if (s != kOk) return s;
  const ReplaceSource source{data, size};
  return FileSys_MapError(ReplaceWith(native.c_str(), true, nullptr, FillFromMemory, &source));
}

StatusCode FileSys_ReplaceFileFromStream(EngineObject*, const char16_t* path,
                                         EngineObject* source) noexcept {
  if (source == nullptr) return kBadArgument;
  NativePath native;
  const StatusCode s = ToSystem(path, &native);
  if (s != kOk) return s;
  return FileSys_MapError(ReplaceWith(native.c_str(), true, nullptr, FillFromStream, source));
}

StatusCode FileSys_StreamPath(EngineObject* stream, char16_t** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  *out = nullptr;
  if (stream == nullptr) return kBadArgument;
  const StreamOps& ops = StreamOf(stream);
  std::uint32_t length = 0;
  StatusCode status = ops.getProperty(stream, kStreamPropertyPath, 0, &length, nullptr);
  if (status == kNotSupported || status == kStreamPropertyEmpty || status == kFileSysNoPath ||
      (!IsFailure(status) && length <= 1)) {
    return kOk;
  }
  if (IsFailure(status)) return status;
  if (length > 0x10000) return kFailed;
  char16_t* wide = nullptr;
  status = Engine_AllocArray(length, &wide);
  if (IsFailure(status)) return status;
  status = ops.getProperty(stream, kStreamPropertyPath, length, &length, wide);
  if (IsFailure(status)) {
    Engine_Free(wide);
    return status;
  }
  *out = wide;
  return kOk;
}

StatusCode FileSys_SweepLeftovers(EngineObject*, const char16_t* folder) noexcept {
  NativePath native;
  const StatusCode s = ToSystem(folder, &native);
  if (s != kOk) return s;
  DIR* dir = opendir(native.length ? native.c_str() : ".");
  if (dir == nullptr) return FileSys_MapError(errno);
  SweepFolder(dir);
  closedir(dir);
  return kOk;
}

void FileSys_FailReplaceStep(std::uint32_t nth) noexcept {
  g_replaceFailStep = nth;
}

void FileSys_FailWritesAfter(std::uint64_t bytes) noexcept {
  g_writeBudget = bytes;
}

void FileSys_ReplaceNamedOnly(bool on) noexcept {
  g_replaceNamedOnly = on;
}

StatusCode FileSys_ListPath(EngineObject*, const char16_t* path, std::uint32_t options,
                            std::uint32_t depth, FileEntry** entry) noexcept {
  if (entry == nullptr) return kNullOutPointer;
  if (path == nullptr) return kBadArgument;
  std::uint32_t length = Path_Length(path, kPathMax);
  if (length > kPathMax) return kFileSysPathTooLong;
  if (length == 0) return kFileSysNotFound;
  if (IsSeparator(path[length - 1])) --length;
  if (length == 0) return kFileSysNotFound;
  NativePath native;
  if (!Path_ToNative(path, length, &native)) return kFileSysNotFound;
  struct stat st {};
  if (stat(native.c_str(), &st) != 0 && lstat(native.c_str(), &st) != 0) {
    return FileSys_MapError(errno);
  }
  std::string_view name(native.c_str(), native.length);
  if (const std::size_t slash = name.rfind('/'); slash != std::string_view::npos) {
    name.remove_prefix(slash + 1);
  }
  FileEntry* top = nullptr;
  StatusCode s = MakeEntry(name, st, &top);
  if (s != kOk) return s;
  if (depth > 0 && (top->flags & kFileEntryFolder)) {
    s = ListChildren(path, length, native, options, depth, &top->firstChild);
    if (s != kOk) {
      (void)FileSys_FreeEntries(&FileSysModule, top);  // only frees; cannot fail
      return s;
    }
  }
  *entry = top;
  return kOk;
}

StatusCode FileSys_FreeEntries(EngineObject*, FileEntry* first) noexcept {
  FileEntry* e = first;
  while (e != nullptr) {
    if (e->firstChild != nullptr) {
      // Splice the children in front of the rest, so no recursion is needed.
      FileEntry* last = e->firstChild;
      while (last->next != nullptr)
        last = last->next;
      last->next = e->next;
      e->next = e->firstChild;
      e->firstChild = nullptr;
    }
    FileEntry* next = e->next;
    Engine_Free(e);
    e = next;
  }
  return kOk;
}

StatusCode FileStream_Close(EngineObject* s) noexcept {
  FileStreamBody& body = Body(s);
  bool closed = close(body.fd) == 0;
  if (body.flags & kFileStreamTemporary) {
    // A temporary file that stays behind is reported; it is gone for good
    // only when the cleanup after this instance finds it.
    const StatusCode removed = FileSys_Delete(&FileSysModule, body.path);
    if (removed != kOk && removed != kFileSysNotFound) closed = false;
  }
  Engine_Free(s);
  return closed ? kOk : kFailed;
}

StatusCode FileStream_Seek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                           std::uint32_t* position) noexcept {
  const int fd = Body(s).fd;
  std::int64_t base = 0;
  std::int64_t delta = offset;
  switch (origin) {
    case kSeekSet:
      delta = static_cast<std::uint32_t>(offset);
      break;
    case kSeekCur: {
      const off_t at = lseek(fd, 0, SEEK_CUR);
      if (at < 0) return kFailed;
      base = at;
      break;
    }
    case kSeekEnd: {
      struct stat st {};
      if (fstat(fd, &st) != 0) return kFailed;
      base = st.st_size;
      break;
    }
    default:
      return kBadSeekOrigin;
  }
  const std::int64_t target = base + delta;
  if (target < 0 || target > 0xFFFFFFFFll) return kFailed;
  const off_t at = lseek(fd, static_cast<off_t>(target), SEEK_SET);
  if (at < 0) return kFailed;
  if (position != nullptr) {
    *position = static_cast<std::uint32_t>(at);
  } else if (origin == kSeekSet && at != static_cast<std::uint32_t>(offset)) {
    return kStreamSeekMismatch;
  }
  return kOk;
}

StatusCode FileStream_Read(EngineObject* s, void* buffer, std::uint32_t n,
                           std::uint32_t* count) noexcept {
  if (buffer == nullptr && n != 0) return kBadArgument;
  const int fd = Body(s).fd;
  std::uint32_t done = 0;
  while (done < n) {
    const ssize_t r = read(fd, static_cast<char*>(buffer) + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return kFailed;
    }
    if (r == 0) break;
    done += static_cast<std::uint32_t>(r);
  }
  if (count != nullptr) {
    *count = done;
    return kOk;
  }
  return done < n ? kStreamShortRead : kOk;
}

StatusCode FileStream_Write(EngineObject* s, const void* buffer, std::uint32_t n,
                            std::uint32_t* count) noexcept {
  if (buffer == nullptr && n != 0) return kBadArgument;
  const int fd = Body(s).fd;
  std::uint32_t done = 0;
  while (done < n) {
    const ssize_t w = WriteSome(fd, static_cast<const char*>(buffer) + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      if (done == 0) return kFailed;
      break;  // a full disk after some bytes: a short write
    }
    if (w == 0) break;
    done += static_cast<std::uint32_t>(w);
  }
  if (count != nullptr) {
    *count = done;
    return kOk;
  }
  return done < n ? kStreamShortWrite : kOk;
}

StatusCode FileStream_GetSize(EngineObject* s, std::uint32_t* size) noexcept {
  if (size == nullptr) return kNullOutPointer;
  struct stat st {};
  if (fstat(Body(s).fd, &st) != 0 || st.st_size > 0xFFFFFFFFll) return kFailed;
  *size = static_cast<std::uint32_t>(st.st_size);
  return kOk;
}

StatusCode FileStream_SetSize(EngineObject* s, std::uint32_t size) noexcept {
  const int fd = Body(s).fd;
  struct stat st {};
  if (fstat(fd, &st) != 0) return kFailed;
  if (st.st_size < size && g_writeBudget.load() == kFileSysWritesUnlimited) {
    // The zeros get their room on the disk now (a full disk shows here), in
    // one call rather than a write per piece.
    const off_t from = st.st_size;
    const int r = posix_fallocate(fd, from, static_cast<off_t>(size) - from);
    if (r != 0) {
      (void)ftruncate(fd, from);
      return kFailed;
    }
  } else if (st.st_size < size) {
    // Under the tests' byte budget: zeros are written, as a full disk would
    // see them.
    if (lseek(fd, 0, SEEK_END) < 0) return kFailed;
    static constexpr std::array<char, 512> kZeros{};
    std::uint64_t left = size - static_cast<std::uint64_t>(st.st_size);
    while (left > 0) {
      const std::size_t piece =
          left < kZeros.size() ? static_cast<std::size_t>(left) : kZeros.size();
      const ssize_t w = WriteSome(fd, kZeros.data(), piece);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return kFailed;
      left -= static_cast<std::uint64_t>(w);
    }
  }
  if (lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0) return kFailed;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) return kFailed;
  return kOk;
}

StatusCode FileStream_GetProperty(EngineObject* s, std::uint32_t property, std::uint32_t capacity,
                                  std::uint32_t* length, void* value) noexcept {
  const FileStreamBody& body = Body(s);
  if (property == kFilePropertyHandle) {
    if (value == nullptr) return kFailed;
    if (capacity < sizeof body.fd) return kStreamPropertyTooSmall;
    std::memcpy(value, &body.fd, sizeof body.fd);
    if (length != nullptr) *length = sizeof body.fd;
    return kOk;
  }
  if (property != kFilePropertyPath) return kNotSupported;
  if (body.path == nullptr) return kFileSysNoPath;
  const std::uint32_t units = Path_Length(body.path, 0xFFFFFFFEu);
  if (units == 0) return kStreamPropertyEmpty;
  if (length != nullptr) *length = units + 1;
  if (value != nullptr) {
    if (capacity < units + 1) return kStreamPropertyTooSmall;
    std::memcpy(value, body.path, (units + 1) * sizeof(char16_t));
  }
  return kOk;
}
