// Test streams for the runtime tests: a stream that forwards to an inner
// memory stream, logs the size of every write and can be told to fail once a
// budget of written bytes is spent (a full disk or a crash mid-write).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/runtime/allocator.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"

namespace test_streams {

// A fresh writable memory stream holding `bytes` (a string or a byte
// vector), positioned at 0.
template <class Bytes = std::string>
inline EngineObject* NewMemStream(const Bytes& bytes = {}) {
  EngineObject* s = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s) != kOk) {
    return nullptr;
  }
  if (!bytes.empty()) {
    EXPECT_EQ(
        StreamOf(s).writeAt(s, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size()), nullptr),
        kOk);
  }
  EXPECT_EQ(StreamOf(s).seek(s, 0, kSeekSet, nullptr), kOk);
  return s;
}

// The whole content of a stream, as a string or a byte vector (the position
// is left at the end).
template <class Bytes = std::string>
inline Bytes Contents(EngineObject* s) {
  std::uint32_t size = 0;
  EXPECT_EQ(StreamOf(s).getSize(s, &size), kOk);
  Bytes out(size, 0);
  std::uint32_t got = 0;
  if (size != 0) {
    EXPECT_EQ(StreamOf(s).readAt(s, 0, out.data(), size, &got), kOk);
  }
  out.resize(got);
  return out;
}

struct FaultyBody {
  EngineObject* inner;              // a memory stream, owned
  std::vector<std::uint32_t>* log;  // sizes of the writes asked for, optional
  std::uint32_t reads;              // Read calls
  std::uint64_t budget;             // bytes that may still be written
  bool shortCount;                  // out of budget: report a short count (else fail)
  bool closed;
};

inline FaultyBody& Faulty(EngineObject* s) {
  return *static_cast<FaultyBody*>(s->state);
}

inline StatusCode FaultyClose(EngineObject* s) noexcept {
  Faulty(s).closed = true;
  return kOk;
}
inline StatusCode FaultySeek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                             std::uint32_t* position) noexcept {
  EngineObject* in = Faulty(s).inner;
  return StreamOf(in).seek(in, offset, origin, position);
}
inline StatusCode FaultyRead(EngineObject* s, void* buffer, std::uint32_t n,
                             std::uint32_t* count) noexcept {
  ++Faulty(s).reads;
  EngineObject* in = Faulty(s).inner;
  return StreamOf(in).read(in, buffer, n, count);
}
inline StatusCode FaultyWrite(EngineObject* s, const void* buffer, std::uint32_t n,
                              std::uint32_t* count) noexcept {
  FaultyBody& f = Faulty(s);
  if (f.log != nullptr) f.log->push_back(n);
  std::uint32_t allowed = n;
  if (f.budget < n) allowed = static_cast<std::uint32_t>(f.budget);
  std::uint32_t put = 0;
  const StatusCode status = StreamOf(f.inner).write(f.inner, buffer, allowed, &put);
  if (IsFailure(status)) return status;
  f.budget -= put;
  if (put < n) {
    if (f.shortCount && count != nullptr) {
      *count = put;
      return kOk;
    }
    return f.shortCount ? kStreamShortWrite : kFailed;
  }
  if (count != nullptr) *count = put;
  return kOk;
}
inline StatusCode FaultyGetSize(EngineObject* s, std::uint32_t* size) noexcept {
  EngineObject* in = Faulty(s).inner;
  return StreamOf(in).getSize(in, size);
}
// Growing the stream counts against the budget like a write.
inline StatusCode FaultySetSize(EngineObject* s, std::uint32_t size) noexcept {
  FaultyBody& f = Faulty(s);
  std::uint32_t old = 0;
  EXPECT_EQ(StreamOf(f.inner).getSize(f.inner, &old), kOk);
  if (size > old) {
    if (f.budget < size - old) return kFailed;
    f.budget -= size - old;
  }
  return StreamOf(f.inner).setSize(f.inner, size);
}
inline StatusCode FaultyReserve(EngineObject* s, std::uint32_t capacity) noexcept {
  EngineObject* in = Faulty(s).inner;
  return StreamOf(in).reserve(in, capacity);
}

inline constexpr StreamOps kFaultyOps = MakeStreamOps({
    .close = FaultyClose,
    .seek = FaultySeek,
    .read = FaultyRead,
    .write = FaultyWrite,
    .getSize = FaultyGetSize,
    .setSize = FaultySetSize,
    .reserve = FaultyReserve,
});

// Owns the object and its inner memory stream. Close through the ops only
// marks it closed, so a test can inspect the bytes afterwards.
class FaultyStream {
 public:
  explicit FaultyStream(const std::string& bytes = {})
      : body_{NewMemStream(bytes), nullptr, 0, UINT64_MAX, false, false},
        object_{&body_, &kFaultyOps} {}
  ~FaultyStream() { (void)MemStream_Close(body_.inner); }
  FaultyStream(const FaultyStream&) = delete;
  FaultyStream& operator=(const FaultyStream&) = delete;

  EngineObject* get() { return &object_; }
  void LogWritesTo(std::vector<std::uint32_t>* log) { body_.log = log; }
  void SetBudget(std::uint64_t bytes, bool shortCount = false) {
    body_.budget = bytes;
    body_.shortCount = shortCount;
  }
  std::string Bytes() { return Contents(body_.inner); }
  std::uint32_t Reads() const { return body_.reads; }
  bool Closed() const { return body_.closed; }

 private:
  FaultyBody body_;
  EngineObject object_;
};

// A file stream of our own over POSIX calls, for tests that need a stream
// with a path (kStreamPropertyPath answers the UTF-16 path as file streams
// do). Writes can be refused by opening the file read-only; a process can be
// made to die in the middle of a write (crashAfter bytes), as in a crash.
struct PosixBody {
  int fd;
  std::u16string path;
  std::uint64_t crashAfter;  // bytes written before the process exits
  std::uint64_t written;
};

inline PosixBody& Posix(EngineObject* s) {
  return *static_cast<PosixBody*>(s->state);
}

inline StatusCode PosixClose(EngineObject* s) noexcept {
  PosixBody& p = Posix(s);
  if (p.fd >= 0) ::close(p.fd);
  p.fd = -1;
  return kOk;
}
inline StatusCode PosixSeek(EngineObject* s, std::int32_t offset, std::uint32_t origin,
                            std::uint32_t* position) noexcept {
  if (origin > 2) return kBadSeekOrigin;
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  const off_t at = origin == 0 ? off_t{static_cast<std::uint32_t>(offset)} : off_t{offset};
  const off_t r = ::lseek(Posix(s).fd, at, whence);
  if (r < 0) return kFailed;
  if (position != nullptr) *position = static_cast<std::uint32_t>(r);
  return kOk;
}
inline StatusCode PosixRead(EngineObject* s, void* buffer, std::uint32_t n,
                            std::uint32_t* count) noexcept {
  std::uint32_t done = 0;
  while (done < n) {
    const ssize_t r = ::read(Posix(s).fd, static_cast<char*>(buffer) + done, n - done);
    if (r < 0) return kFailed;
    if (r == 0) break;
    done += static_cast<std::uint32_t>(r);
  }
  if (count != nullptr) {
    *count = done;
    return kOk;
  }
  return done == n ? kOk : kStreamShortRead;
}
inline StatusCode PosixWrite(EngineObject* s, const void* buffer, std::uint32_t n,
                             std::uint32_t* count) noexcept {
  PosixBody& p = Posix(s);
  if (p.written + n > p.crashAfter) {
    const auto part = static_cast<std::size_t>(p.crashAfter - p.written);
    if (part > 0 && ::write(p.fd, buffer, part) < 0) _exit(4);
    _exit(3);
  }
  p.written += n;
  std::uint32_t done = 0;
  while (done < n) {
    const ssize_t r = ::write(Posix(s).fd, static_cast<const char*>(buffer) + done, n - done);
    if (r <= 0) return kFailed;
    done += static_cast<std::uint32_t>(r);
  }
  if (count != nullptr) *count = done;
  return kOk;
}
inline StatusCode PosixGetSize(EngineObject* s, std::uint32_t* size) noexcept {
  if (size == nullptr) return kNullOutPointer;
  struct stat st;
  if (::fstat(Posix(s).fd, &st) != 0) return kFailed;
  *size = static_cast<std::uint32_t>(st.st_size);
  return kOk;
}
inline StatusCode PosixSetSize(EngineObject* s, std::uint32_t size) noexcept {
  if (::ftruncate(Posix(s).fd, size) != 0) return kFailed;
  return ::lseek(Posix(s).fd, size, SEEK_SET) < 0 ? kFailed : kOk;
}
inline StatusCode PosixGetProperty(EngineObject* s, std::uint32_t id, std::uint32_t capacity,
                                   std::uint32_t* length, void* buffer) noexcept {
  if (id != kStreamPropertyPath) return kNotSupported;
  const std::u16string& path = Posix(s).path;
  if (path.empty()) return kStreamPropertyEmpty;
  const auto units = static_cast<std::uint32_t>(path.size() + 1);
  if (length != nullptr) *length = units;
  if (buffer == nullptr) return kOk;
  if (capacity < units) return kStreamPropertyTooSmall;
  std::memcpy(buffer, path.c_str(), units * sizeof(char16_t));
  return kOk;
}

inline constexpr StreamOps kPosixOps = MakeStreamOps({
    .close = PosixClose,
    .seek = PosixSeek,
    .read = PosixRead,
    .write = PosixWrite,
    .getSize = PosixGetSize,
    .setSize = PosixSetSize,
    .getProperty = PosixGetProperty,
});

class PosixFileStream {
 public:
  PosixFileStream(const std::string& path, bool writable, std::uint64_t crashAfter = UINT64_MAX)
      : body_{::open(path.c_str(), writable ? O_RDWR : O_RDONLY), {}, crashAfter, 0},
        object_{&body_, &kPosixOps} {
    for (unsigned char c : path)
      body_.path.push_back(c);  // ASCII test paths
  }
  ~PosixFileStream() { (void)PosixClose(&object_); }
  PosixFileStream(const PosixFileStream&) = delete;
  PosixFileStream& operator=(const PosixFileStream&) = delete;
  bool ok() const { return body_.fd >= 0; }
  EngineObject* get() { return &object_; }

 private:
  PosixBody body_;
  EngineObject object_;
};

}  // namespace test_streams
