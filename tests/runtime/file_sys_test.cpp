#include "engine/runtime/file_sys.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/runtime/module_table.h"
#include "engine/runtime/url.h"
#include "tests/support/peer.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

namespace fs = std::filesystem;

const FileSysOps& Ops() {
  return OpsOf<FileSysOps>(g_FileSysModule);
}

struct StreamCloser {
  void operator()(EngineObject* s) const noexcept { EXPECT_EQ(StreamOf(s).close(s), kOk); }
};
using StreamPtr = std::unique_ptr<EngineObject, StreamCloser>;

StreamPtr Open(const std::string& path, std::uint32_t type, StatusCode expect = kOk) {
  std::u16string p = U16(path);
  EngineObject* s = nullptr;
  EXPECT_EQ(Ops().open(g_FileSysModule, p.data(), 0, type, &s), expect) << path;
  return StreamPtr(s);
}

std::u16string StreamPath(EngineObject* s) {
  std::array<char16_t, kPathBufferSize> buf{};
  std::uint32_t length = 0;
  EXPECT_EQ(StreamOf(s).getProperty(s, kFilePropertyPath, kPathBufferSize, &length, buf.data()),
            kOk);
  return std::u16string(buf.data());
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Sets an environment variable for the life of the object.
class FileSysTest : public testing::Test {
 protected:
  TempDir dir_;
  std::string File(const std::string& name) const { return dir_.File(name); }
};

// ---------------------------------------------------------------------------
// Opening and file streams

TEST_F(FileSysTest, OpenTypesAccessAndCreation) {
  WriteFileBytes(File("f"), "hello");
  {
    auto s = Open(File("f"), kFileOpenRead);
    char buf[8] = {};
    std::uint32_t count = 0;
    ASSERT_EQ(StreamOf(s.get()).read(s.get(), buf, 8, &count), kOk);
    EXPECT_EQ(std::string(buf, count), "hello");
    EXPECT_EQ(StreamOf(s.get()).write(s.get(), "x", 1, nullptr), kFailed);  // read only
  }
  {
    auto s = Open(File("f"), kFileOpenReadWrite);
    ASSERT_EQ(StreamOf(s.get()).write(s.get(), "J", 1, nullptr), kOk);
  }
  EXPECT_EQ(ReadFileBytes(File("f")), "Jello");
  { auto s = Open(File("f"), kFileOpenCreate); }
  EXPECT_EQ(ReadFileBytes(File("f")), "");  // truncated
  { auto s = Open(File("new"), kFileOpenCreate); }
  EXPECT_TRUE(Exists(File("new")));

  Open(File("missing"), kFileOpenRead, kFailed);
  Open(File("missing"), kFileOpenReadWrite, kFailed);
  Open(dir_.Path(), kFileOpenRead, kFailed);  // a folder is no file
  Open(File("f"), 4, kBadArgument);
  EngineObject* s = nullptr;
  std::u16string p = U16(File("f"));
  EXPECT_EQ(Ops().open(g_FileSysModule, p.data(), 0, kFileOpenRead, nullptr), kNullOutPointer);
  EXPECT_EQ(Ops().open(g_FileSysModule, nullptr, 0, kFileOpenRead, &s), kBadArgument);
}

// A FIFO is no document: opening it, asking for its details or copying it
// fails at once instead of waiting for a writer that never comes. Run in a
// child under an alarm so a regression fails instead of hanging the suite.
TEST_F(FileSysTest, FifosAreRefusedWithoutWaiting) {
  const std::string fifo = File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::u16string p = U16(fifo);
  const std::u16string copy = U16(File("copy"));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(5);
    std::u16string path = p;
    EngineObject* s = nullptr;
    int bad = 0;
    for (std::uint32_t type : {kFileOpenRead, kFileOpenReadWrite, kFileOpenCreate}) {
      if (Ops().open(g_FileSysModule, path.data(), 0, type, &s) != kFailed) bad |= 1;
    }
    std::uint32_t size = 0;
    if (Ops().getFileInfo(g_FileSysModule, path.data(), nullptr, nullptr, 0, &size) !=
        kCannotOpen) {
      bad |= 2;
    }
    if (Ops().copy(g_FileSysModule, path.data(), copy.data(), 0) != kFailed) bad |= 4;
    _exit(bad);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "blocked on the FIFO (signal " << WTERMSIG(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(Exists(File("copy")));
}

TEST_F(FileSysTest, PathLimitCountsUtf16UnitsNotBytes) {
  // Folders of two-byte characters so that 259 units are far more bytes.
  const std::u16string base = U16(dir_.Path());
  const std::u16string seg(100, u'\u00e9');
  std::u16string folder = base + u"/" + seg + u"/" + seg;
  ASSERT_EQ(Ops().createFolderPath(g_FileSysModule, folder.c_str()), kOk);
  ASSERT_LT(folder.size() + 2, kPathMax);
  const std::u16string exact =
      folder + u"/" + std::u16string(kPathMax - folder.size() - 1, u'\u00e9');
  ASSERT_EQ(exact.size(), kPathMax);
  ASSERT_GT(U8(exact).size(), 400u);
  std::u16string p = exact;
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops().open(g_FileSysModule, p.data(), 0, kFileOpenCreate, &s), kOk);
  EXPECT_EQ(StreamPath(s), exact);
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_TRUE(Exists(U8(exact)));
  std::u16string over = exact + u"x";
  EXPECT_EQ(Ops().open(g_FileSysModule, over.data(), 0, kFileOpenCreate, &s), kFileSysPathTooLong);
  EXPECT_EQ(Ops().open(g_FileSysModule, over.data(), 0, kFileOpenRead, &s), kFileSysPathTooLong);
}

TEST_F(FileSysTest, BackslashesReachTheSystemAsSlashes) {
  ASSERT_TRUE(fs::create_directory(File("sub")));
  WriteFileBytes(File("sub/f.txt"), "data");
  std::u16string p = U16(dir_.Path()) + u"\\sub\\f.txt";
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops().open(g_FileSysModule, p.data(), 0, kFileOpenRead, &s), kOk);
  EXPECT_EQ(StreamPath(s), p);  // the stream keeps the path as given
  EXPECT_EQ(StreamOf(s).close(s), kOk);
}

TEST_F(FileSysTest, ReadWriteSeekAndShortTransfers) {
  auto s = Open(File("f"), kFileOpenCreate);
  const StreamOps& ops = StreamOf(s.get());
  ASSERT_EQ(ops.write(s.get(), "0123456789", 10, nullptr), kOk);
  std::uint32_t pos = 99;
  ASSERT_EQ(ops.seek(s.get(), -4, kSeekEnd, &pos), kOk);
  EXPECT_EQ(pos, 6u);
  ASSERT_EQ(ops.seek(s.get(), -2, kSeekCur, &pos), kOk);
  EXPECT_EQ(pos, 4u);
  char buf[16] = {};
  std::uint32_t count = 0;
  ASSERT_EQ(ops.read(s.get(), buf, 16, &count), kOk);
  EXPECT_EQ(std::string(buf, count), "456789");
  ASSERT_EQ(ops.seek(s.get(), 8, kSeekSet, nullptr), kOk);
  EXPECT_EQ(ops.read(s.get(), buf, 4, nullptr), kStreamShortRead);
  EXPECT_EQ(ops.seek(s.get(), -1, kSeekSet + 3, &pos), kBadSeekOrigin);
  EXPECT_EQ(ops.seek(s.get(), -20, kSeekEnd, &pos), kFailed);
  // Past the end is a valid position; writing there leaves zeros between.
  ASSERT_EQ(ops.seek(s.get(), 20, kSeekSet, &pos), kOk);
  EXPECT_EQ(pos, 20u);
  ASSERT_EQ(ops.write(s.get(), "Z", 1, &count), kOk);
  EXPECT_EQ(count, 1u);
  std::uint32_t size = 0;
  ASSERT_EQ(ops.getSize(s.get(), &size), kOk);
  EXPECT_EQ(size, 21u);
  EXPECT_EQ(ops.getSize(s.get(), nullptr), kNullOutPointer);
  EXPECT_EQ(ReadFileBytes(File("f")), std::string("0123456789") + std::string(10, '\0') + "Z");
}

TEST_F(FileSysTest, SetSizePadsWithZerosAndMovesThePosition) {
  auto s = Open(File("f"), kFileOpenCreate);
  const StreamOps& ops = StreamOf(s.get());
  ASSERT_EQ(ops.write(s.get(), "abc", 3, nullptr), kOk);
  ASSERT_EQ(ops.seek(s.get(), 0, kSeekSet, nullptr), kOk);
  ASSERT_EQ(ops.setSize(s.get(), 1300), kOk);  // more than two 512-byte pieces
  std::uint32_t pos = 0;
  ASSERT_EQ(ops.seek(s.get(), 0, kSeekCur, &pos), kOk);
  EXPECT_EQ(pos, 1300u);  // unlike a memory stream, the position follows the size
  EXPECT_EQ(ReadFileBytes(File("f")), "abc" + std::string(1297, '\0'));
  ASSERT_EQ(ops.setSize(s.get(), 2), kOk);
  ASSERT_EQ(ops.seek(s.get(), 0, kSeekCur, &pos), kOk);
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(ReadFileBytes(File("f")), "ab");
}

TEST_F(FileSysTest, SharedSlotsWorkThroughTheFileStream) {
  auto s = Open(File("f"), kFileOpenCreate);
  const StreamOps& ops = StreamOf(s.get());
  const std::uint32_t values[2] = {0x01020304u, 0xA0B0C0D0u};
  ASSERT_EQ(ops.writeU32sBE(s.get(), values, 2), kOk);
  ASSERT_EQ(ops.fill(s.get(), 3, 0xEE, nullptr), kOk);
  ASSERT_EQ(ops.copyTo(s.get(), 0, 4, s.get(), 11), kOk);
  std::uint16_t half = 0;
  ASSERT_EQ(ops.seek(s.get(), 2, kSeekSet, nullptr), kOk);
  ASSERT_EQ(ops.readU16sBE(s.get(), &half, 1), kOk);
  EXPECT_EQ(half, 0x0304u);
  EXPECT_EQ(ops.reserve(s.get(), 100000), kOk);
  EXPECT_EQ(ops.setGrowthHint(s.get(), 100000), kOk);
  EXPECT_EQ(ReadFileBytes(File("f")),
            std::string("\x01\x02\x03\x04\xA0\xB0\xC0\xD0\xEE\xEE\xEE\x01\x02\x03\x04", 15));
  EXPECT_EQ(ops.word0(s.get()), kFailed);
  EXPECT_EQ(ops.end(s.get()), kFailed);
}

TEST_F(FileSysTest, PropertiesGiveTheHandleAndThePath) {
  auto s = Open(File("f"), kFileOpenCreate);
  const StreamOps& ops = StreamOf(s.get());
  int fd = -1;
  std::uint32_t length = 0;
  ASSERT_EQ(ops.getProperty(s.get(), kFilePropertyHandle, sizeof fd, &length, &fd), kOk);
  EXPECT_EQ(length, sizeof fd);
  EXPECT_EQ(write(fd, "via fd", 6), 6);
  EXPECT_EQ(ReadFileBytes(File("f")), "via fd");
  EXPECT_EQ(ops.getProperty(s.get(), kFilePropertyHandle, 0, nullptr, nullptr), kFailed);
  // A buffer smaller than the descriptor is refused, not overrun.
  std::array<std::uint8_t, 8> small{};
  small.fill(0xA5);
  length = 0;
  EXPECT_EQ(ops.getProperty(s.get(), kFilePropertyHandle, 2, &length, small.data()),
            kStreamPropertyTooSmall);
  EXPECT_EQ(small[0], 0xA5);
  EXPECT_EQ(small[2], 0xA5);
  EXPECT_EQ(length, 0u);

  const std::u16string path = U16(File("f"));
  const auto units = static_cast<std::uint32_t>(path.size());
  std::vector<char16_t> buf(units + 1, u'#');
  ASSERT_EQ(ops.getProperty(s.get(), kFilePropertyPath, 0, &length, nullptr), kOk);
  EXPECT_EQ(length, units + 1);
  EXPECT_EQ(ops.getProperty(s.get(), kFilePropertyPath, units, &length, buf.data()),
            kStreamPropertyTooSmall);
  EXPECT_EQ(buf[0], u'#');
  ASSERT_EQ(ops.getProperty(s.get(), kFilePropertyPath, units + 1, &length, buf.data()), kOk);
  EXPECT_EQ(std::u16string(buf.data()), path);
  EXPECT_EQ(ops.getProperty(s.get(), 3, 0, &length, nullptr), kNotSupported);
}

// ---------------------------------------------------------------------------
// Temporary files

class TempFileTest : public FileSysTest {
 protected:
  ScopedEnv tmp_{"TMPDIR", dir_.Path()};
  std::string Private() const { return File("kelpo-" + std::to_string(getuid())); }
};

TEST_F(TempFileTest, WithoutBufferTheFileGoesOnClose) {
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops().open(g_FileSysModule, nullptr, 0, kFileOpenTemporary, &s), kOk);
  const std::string path = U8(StreamPath(s));
  const std::string name = fs::path(path).filename();
  EXPECT_EQ(fs::path(path).parent_path(), Private());
  EXPECT_TRUE(name.starts_with("iii") && name.ends_with(".tmp")) << name;
  EXPECT_TRUE(Exists(path));
  ASSERT_EQ(StreamOf(s).write(s, "scratch", 7, nullptr), kOk);
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_FALSE(Exists(path));
  struct stat st {};
  ASSERT_EQ(stat(Private().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TempFileTest, WithBufferTheNameIsReturnedAndTheFileStays) {
  std::array<char16_t, kPathBufferSize> name{};
  EngineObject* s = nullptr;
  EXPECT_EQ(Ops().open(g_FileSysModule, name.data(), kPathMax - 1, kFileOpenTemporary, &s),
            kFileSysNameBufferTooShort);
  ASSERT_EQ(Ops().open(g_FileSysModule, name.data(), kPathBufferSize, kFileOpenTemporary, &s), kOk);
  EXPECT_EQ(StreamPath(s), std::u16string(name.data()));
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  const std::string path = U8(name.data());
  EXPECT_TRUE(Exists(path));
  // Two temporary files never share a name.
  std::array<char16_t, kPathBufferSize> other{};
  ASSERT_EQ(Ops().open(g_FileSysModule, other.data(), kPathBufferSize, kFileOpenTemporary, &s),
            kOk);
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_NE(std::u16string(name.data()), std::u16string(other.data()));
}

TEST_F(TempFileTest, CleanupSparesRunningInstances) {
  // One of our own files, made the ordinary way.
  std::array<char16_t, kPathBufferSize> own{};
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops().open(g_FileSysModule, own.data(), kPathBufferSize, kFileOpenTemporary, &s), kOk);
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  const std::string p = Private();
  // Another running instance: its lock file is held (a second open file
  // description conflicts like another process would).
  WriteFileBytes(p + "/instance-LIVE01.lock", "");
  const int held = open((p + "/instance-LIVE01.lock").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  WriteFileBytes(p + "/iiiLIVE01-aaaaaa.tmp", "live");
  // An instance that ended: lock file present but unlocked, or gone.
  WriteFileBytes(p + "/instance-DEAD01.lock", "");
  WriteFileBytes(p + "/iiiDEAD01-bbbbbb.tmp", "dead");
  WriteFileBytes(p + "/iiiGONE01-cccccc.tmp", "gone");
  WriteFileBytes(p + "/iiiold.tmp", "foreign");
  WriteFileBytes(p + "/keep.txt", "not ours");

  ASSERT_EQ(Ops().deleteTempFiles(g_FileSysModule), kOk);
  EXPECT_TRUE(Exists(U8(own.data())));
  EXPECT_TRUE(Exists(p + "/iiiLIVE01-aaaaaa.tmp"));
  EXPECT_TRUE(Exists(p + "/instance-LIVE01.lock"));
  EXPECT_FALSE(Exists(p + "/iiiDEAD01-bbbbbb.tmp"));
  EXPECT_FALSE(Exists(p + "/instance-DEAD01.lock"));
  EXPECT_FALSE(Exists(p + "/iiiGONE01-cccccc.tmp"));
  EXPECT_FALSE(Exists(p + "/iiiold.tmp"));
  EXPECT_TRUE(Exists(p + "/keep.txt"));

  close(held);  // that instance ends
  ASSERT_EQ(Ops().deleteTempFiles(g_FileSysModule), kOk);
  EXPECT_FALSE(Exists(p + "/iiiLIVE01-aaaaaa.tmp"));
  EXPECT_TRUE(Exists(U8(own.data())));
}

TEST_F(TempFileTest, CleanupFromAnotherProcessSparesOurFiles) {
  std::array<char16_t, kPathBufferSize> own{};
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops().open(g_FileSysModule, own.data(), kPathBufferSize, kFileOpenTemporary, &s), kOk);
  // A second process cleans up while this one runs: it finds our lock held.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child opens the lock file anew, as any other program would.
    _exit(Ops().deleteTempFiles(g_FileSysModule) == kOk ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(Exists(U8(own.data())));
  EXPECT_EQ(StreamOf(s).close(s), kOk);
}

TEST_F(TempFileTest, ALockRemovedFromUnderUsIsMadeAgain) {
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops().open(g_FileSysModule, nullptr, 0, kFileOpenTemporary, &s), kOk);
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  fs::remove_all(Private());  // a cleaner takes the whole folder away
  std::array<char16_t, kPathBufferSize> name{};
  ASSERT_EQ(Ops().open(g_FileSysModule, name.data(), kPathBufferSize, kFileOpenTemporary, &s), kOk);
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(Ops().deleteTempFiles(g_FileSysModule) == kOk ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(Exists(U8(name.data())));
}

TEST_F(TempFileTest, UnusableTemporaryFolder) {
  ScopedEnv longTmp("TMPDIR", "/" + std::string(250, 'x'));
  EngineObject* s = nullptr;
  EXPECT_EQ(Ops().open(g_FileSysModule, nullptr, 0, kFileOpenTemporary, &s), kFileSysNoTempFolder);
  EXPECT_EQ(Ops().deleteTempFiles(g_FileSysModule), kFileSysNoTempFolder);
  ScopedEnv missing("TMPDIR", dir_.Path() + "/no/such/folder");
  EXPECT_EQ(Ops().open(g_FileSysModule, nullptr, 0, kFileOpenTemporary, &s), kFileSysNoTempFolder);
}

// ---------------------------------------------------------------------------
// Delete, move, copy

TEST_F(FileSysTest, DeleteFilesButNeverFolders) {
  WriteFileBytes(File("f"), "x");
  const std::u16string f = U16(File("f"));
  EXPECT_EQ(Ops().remove(g_FileSysModule, f.c_str()), kOk);
  EXPECT_FALSE(Exists(File("f")));
  EXPECT_EQ(Ops().remove(g_FileSysModule, f.c_str()), kFileSysNotFound);
  ASSERT_TRUE(fs::create_directory(File("d")));
  WriteFileBytes(File("d/inner"), "precious");
  const std::u16string d = U16(File("d"));
  EXPECT_EQ(Ops().remove(g_FileSysModule, d.c_str()), kFailed);
  EXPECT_EQ(ReadFileBytes(File("d/inner")), "precious");
}

TEST_F(FileSysTest, InFolderOperationsJoinFolderAndName) {
  const std::u16string folder = U16(dir_.Path());
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops().openInFolder(g_FileSysModule, folder.c_str(), u"joined.txt", kFileOpenCreate, &s),
            kOk);
  EXPECT_EQ(StreamPath(s), folder + u"\\joined.txt");
  EXPECT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_TRUE(Exists(File("joined.txt")));
  EXPECT_EQ(
      Ops().openInFolder(g_FileSysModule, folder.c_str(), u"joined.txt", kFileOpenTemporary, &s),
      kBadArgument);
  const std::u16string longName(kPathMax, u'n');
  EXPECT_EQ(
      Ops().openInFolder(g_FileSysModule, folder.c_str(), longName.c_str(), kFileOpenRead, &s),
      kUrlTooLong);
  EXPECT_EQ(Ops().deleteInFolder(g_FileSysModule, folder.c_str(), u"joined.txt"), kOk);
  EXPECT_FALSE(Exists(File("joined.txt")));
  EXPECT_EQ(Ops().deleteInFolder(g_FileSysModule, folder.c_str(), u"joined.txt"), kFileSysNotFound);
}

TEST_F(FileSysTest, MoveRenamesCreatesFoldersAndRefusesToClobber) {
  WriteFileBytes(File("a"), "A");
  WriteFileBytes(File("b"), "B");
  const std::u16string a = U16(File("a"));
  const std::u16string b = U16(File("b"));
  EXPECT_EQ(Ops().move(g_FileSysModule, a.c_str(), b.c_str(), 0), kFileSysTargetExists);
  EXPECT_EQ(ReadFileBytes(File("a")), "A");
  EXPECT_EQ(ReadFileBytes(File("b")), "B");
  ASSERT_EQ(Ops().move(g_FileSysModule, a.c_str(), b.c_str(), 1), kOk);
  EXPECT_FALSE(Exists(File("a")));
  EXPECT_EQ(ReadFileBytes(File("b")), "A");

  const std::u16string deep = U16(File("x/y/z.txt"));
  ASSERT_EQ(Ops().move(g_FileSysModule, b.c_str(), deep.c_str(), 0), kOk);
  EXPECT_EQ(ReadFileBytes(File("x/y/z.txt")), "A");
  EXPECT_EQ(Ops().move(g_FileSysModule, b.c_str(), a.c_str(), 0), kFailed);  // no source
  EXPECT_FALSE(Exists(File("a")));

  // Folders move too.
  const std::u16string x = U16(File("x"));
  const std::u16string w = U16(File("w"));
  ASSERT_EQ(Ops().move(g_FileSysModule, x.c_str(), w.c_str(), 0), kOk);
  EXPECT_EQ(ReadFileBytes(File("w/y/z.txt")), "A");
}

TEST_F(FileSysTest, MoveWithReplaceNeverShowsAMissingTarget) {
  // The target is replaced in one step: a reader that keeps it open sees the
  // old bytes, a new open the new ones, and no moment without a file.
  WriteFileBytes(File("target"), "old");
  WriteFileBytes(File("new"), "new");
  const int reader = open(File("target").c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  const std::u16string from = U16(File("new"));
  const std::u16string to = U16(File("target"));
  ASSERT_EQ(Ops().move(g_FileSysModule, from.c_str(), to.c_str(), 1), kOk);
  char buf[4] = {};
  EXPECT_EQ(read(reader, buf, 3), 3);
  EXPECT_EQ(std::string(buf), "old");
  close(reader);
  EXPECT_EQ(ReadFileBytes(File("target")), "new");
}

TEST_F(FileSysTest, CopyKeepsBytesModeAndTime) {
  WriteFileBytes(File("src"), std::string(100000, 'q') + "end");
  ASSERT_EQ(chmod(File("src").c_str(), 0640), 0);
  const timespec times[2] = {{1600000000, 0}, {1500000000, 250000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, File("src").c_str(), times, 0), 0);
  const std::u16string src = U16(File("src"));
  const std::u16string dst = U16(File("new/dir/dst"));
  ASSERT_EQ(Ops().copy(g_FileSysModule, src.c_str(), dst.c_str(), 0), kOk);
  EXPECT_EQ(ReadFileBytes(File("new/dir/dst")), ReadFileBytes(File("src")));
  struct stat st {};
  ASSERT_EQ(stat(File("new/dir/dst").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
  // Nothing is left beside the target.
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(File("new/dir")))
    names.insert(e.path().filename());
  EXPECT_EQ(names, std::set<std::string>{"dst"});
}

TEST_F(FileSysTest, CopyOntoAnExistingFile) {
  WriteFileBytes(File("src"), "source");
  WriteFileBytes(File("dst"), "target");
  const std::u16string src = U16(File("src"));
  const std::u16string dst = U16(File("dst"));
  EXPECT_EQ(Ops().copy(g_FileSysModule, src.c_str(), dst.c_str(), 0), kFileSysTargetExists);
  EXPECT_EQ(ReadFileBytes(File("src")), "source");
  EXPECT_EQ(ReadFileBytes(File("dst")), "target");
  ASSERT_EQ(Ops().copy(g_FileSysModule, src.c_str(), dst.c_str(), 1), kOk);
  EXPECT_EQ(ReadFileBytes(File("dst")), "source");
  const std::u16string missing = U16(File("missing"));
  EXPECT_EQ(Ops().copy(g_FileSysModule, missing.c_str(), dst.c_str(), 1), kFailed);
  const std::u16string folder = U16(dir_.Path());
  EXPECT_EQ(Ops().copy(g_FileSysModule, folder.c_str(), dst.c_str(), 1), kFailed);
}

TEST_F(FileSysTest, CopyIntoAFolderWithoutWritePermission) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  WriteFileBytes(File("src"), "s");
  ASSERT_TRUE(fs::create_directory(File("ro")));
  ASSERT_EQ(chmod(File("ro").c_str(), 0500), 0);
  const std::u16string src = U16(File("src"));
  const std::u16string dst = U16(File("ro/dst"));
  EXPECT_EQ(Ops().copy(g_FileSysModule, src.c_str(), dst.c_str(), 0), kFileSysAccessDenied);
  chmod(File("ro").c_str(), 0700);
}

// ---------------------------------------------------------------------------
// Folder paths

TEST_F(FileSysTest, CreateFolderPathWalksBackThenForward) {
  ASSERT_TRUE(fs::create_directory(File("one")));
  const std::u16string three = U16(dir_.Path()) + u"\\one\\two\\three";
  ASSERT_EQ(Ops().createFolderPath(g_FileSysModule, three.c_str()), kOk);
  EXPECT_TRUE(fs::is_directory(File("one/two/three")));
  // Existing already, with a trailing separator, or doubled separators.
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, three.c_str()), kOk);
  const std::u16string trailing = U16(File("t1/t2/"));
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, trailing.c_str()), kOk);
  EXPECT_TRUE(fs::is_directory(File("t1/t2")));
  const std::u16string doubled = U16(File("d1//d2"));
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, doubled.c_str()), kOk);
  EXPECT_TRUE(fs::is_directory(File("d1/d2")));

  WriteFileBytes(File("one/file"), "x");
  const std::u16string blocked = U16(File("one/file/below/deeper"));
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, blocked.c_str()), kFileSysNotAFolder);
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, u""), kOk);
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, u"/"), kOk);
  const std::u16string tooLong(kPathMax + 1, u'a');
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, tooLong.c_str()), kFileSysPathTooLong);
}

TEST_F(FileSysTest, CreateFolderPathReportsFoldersItCannotMake) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ASSERT_TRUE(fs::create_directory(File("ro")));
  ASSERT_EQ(chmod(File("ro").c_str(), 0500), 0);
  const std::u16string below = U16(File("ro/a/b"));
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, below.c_str()), kFileSysCannotCreateFolder);
  ASSERT_EQ(chmod(File("ro").c_str(), 0000), 0);
  EXPECT_EQ(Ops().createFolderPath(g_FileSysModule, below.c_str()), kFileSysCannotExamine);
  chmod(File("ro").c_str(), 0700);
}

// ---------------------------------------------------------------------------
// File information and listings

TEST_F(FileSysTest, FileInfoGivesUtcTimeAndSize) {
  WriteFileBytes(File("f"), std::string(1234, 'z'));
  // 2021-03-04 05:06:07.89 UTC
  const timespec times[2] = {{1614834367, 0}, {1614834367, 890000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, File("f").c_str(), times, 0), 0);
  const std::u16string f = U16(File("f"));
  DateTime date{};
  std::uint8_t cleared = 7;
  std::uint32_t size = 0;
  ASSERT_EQ(Ops().getFileInfo(g_FileSysModule, f.c_str(), &date, &cleared, 1, &size), kOk);
  EXPECT_EQ(size, 1234u);
  EXPECT_EQ(cleared, 0u);
  EXPECT_EQ(date.year, 2021);
  EXPECT_EQ(date.month, 3);
  EXPECT_EQ(date.day, 4);
  EXPECT_EQ(date.hour, 5);
  EXPECT_EQ(date.minute, 6);
  EXPECT_EQ(date.second, 7);
  EXPECT_EQ(date.hundredths, 89);
  cleared = 7;
  ASSERT_EQ(Ops().getFileInfo(g_FileSysModule, f.c_str(), nullptr, &cleared, 0, nullptr), kOk);
  EXPECT_EQ(cleared, 7u);
  const std::u16string missing = U16(File("missing"));
  EXPECT_EQ(Ops().getFileInfo(g_FileSysModule, missing.c_str(), &date, nullptr, 0, &size),
            kCannotOpen);
  const std::u16string folder = U16(dir_.Path());
  EXPECT_EQ(Ops().getFileInfo(g_FileSysModule, folder.c_str(), &date, nullptr, 0, &size),
            kCannotOpen);
}

struct EntriesDeleter {
  void operator()(FileEntry* e) const noexcept {
    EXPECT_EQ(FileSys_FreeEntries(g_FileSysModule, e), kOk);
  }
};
using EntriesPtr = std::unique_ptr<FileEntry, EntriesDeleter>;

EntriesPtr List(const std::string& path, std::uint32_t options, std::uint32_t depth,
                StatusCode expect = kOk) {
  const std::u16string p = U16(path);
  FileEntry* e = nullptr;
  EXPECT_EQ(Ops().listPath(g_FileSysModule, p.c_str(), options, depth, &e), expect) << path;
  return EntriesPtr(e);
}

std::map<std::string, const FileEntry*> Children(const FileEntry* e) {
  std::map<std::string, const FileEntry*> m;
  for (const FileEntry* c = e->firstChild; c != nullptr; c = c->next)
    m[U8(c->name)] = c;
  return m;
}

TEST_F(FileSysTest, ListPathWithDepthAndOptions) {
  WriteFileBytes(File("a.txt"), "12345");
  WriteFileBytes(File(".hidden"), "");
  ASSERT_TRUE(fs::create_directories(File("sub/inner")));
  WriteFileBytes(File("sub/x"), "xx");
  ASSERT_EQ(chmod(File("a.txt").c_str(), 0444), 0);

  auto top = List(dir_.Path(), 0, 0);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(U8(top->name), fs::path(dir_.Path()).filename().string());
  EXPECT_EQ(top->flags & kFileEntryFolder, kFileEntryFolder);
  EXPECT_EQ(top->firstChild, nullptr);

  auto one = List(dir_.Path() + "/", 0, 1);  // one trailing separator is dropped
  auto kids = Children(one.get());
  EXPECT_EQ(kids.size(), 3u);  // no "." and ".."
  ASSERT_TRUE(kids.count("a.txt") && kids.count(".hidden") && kids.count("sub"));
  EXPECT_EQ(kids["a.txt"]->size, 5u);
  EXPECT_EQ(kids["a.txt"]->flags, kFileEntryReadOnly);
  EXPECT_EQ(kids[".hidden"]->flags, kFileEntryHidden);
  EXPECT_EQ(kids["sub"]->flags, kFileEntryFolder);
  EXPECT_EQ(kids["sub"]->firstChild, nullptr);  // depth 1 stops here

  auto noDots = List(dir_.Path(), kListSkipDotNames, 1);
  EXPECT_EQ(Children(noDots.get()).count(".hidden"), 0u);

  auto two = List(dir_.Path(), 0, 2);
  auto sub = Children(Children(two.get())["sub"]);
  ASSERT_EQ(sub.size(), 2u);
  EXPECT_EQ(sub["x"]->size, 2u);
  EXPECT_EQ(sub["inner"]->flags, kFileEntryFolder);
  EXPECT_EQ(sub["inner"]->firstChild, nullptr);

  auto file = List(File("a.txt"), 0, 3);  // a file has no children at any depth
  EXPECT_EQ(U8(file->name), "a.txt");
  EXPECT_EQ(file->firstChild, nullptr);
  chmod(File("a.txt").c_str(), 0644);
}

TEST_F(FileSysTest, ListPathFailures) {
  List("", 0, 1, kFileSysNotFound);
  List("/", 0, 1, kFileSysNotFound);
  List(File("missing"), 0, 1, kFileSysNotFound);
  List(std::string(kPathMax + 1, 'a'), 0, 1, kFileSysPathTooLong);
  // A folder whose "path/*" would not fit cannot be listed.
  const std::u16string base = U16(dir_.Path());
  std::u16string deep = base;
  while (deep.size() < kPathMax - 1)
    deep += u"/" + std::u16string(std::min<std::size_t>(100, kPathMax - 2 - deep.size()), u'd');
  ASSERT_EQ(deep.size(), kPathMax - 1);
  ASSERT_EQ(Ops().createFolderPath(g_FileSysModule, deep.c_str()), kOk);
  FileEntry* e = nullptr;
  EXPECT_EQ(Ops().listPath(g_FileSysModule, deep.c_str(), 0, 1, &e), kFileSysListPathTooLong);
  ASSERT_EQ(Ops().listPath(g_FileSysModule, deep.c_str(), 0, 0, &e), kOk);
  EXPECT_EQ(Ops().freeEntries(g_FileSysModule, e), kOk);
}

TEST_F(FileSysTest, ListedNamesOfAnyBytesOpenAgain) {
  const std::string raw = "bad\xff\xfe-name";
  WriteFileBytes(File(raw), "raw bytes");
  auto list = List(dir_.Path(), 0, 1);
  ASSERT_NE(list->firstChild, nullptr);
  const std::u16string name = list->firstChild->name;
  EXPECT_EQ(name, u"bad\xdcff\xdcfe-name");
  const std::u16string folder = U16(dir_.Path());
  EngineObject* s = nullptr;
  ASSERT_EQ(Ops().openInFolder(g_FileSysModule, folder.c_str(), name.c_str(), kFileOpenRead, &s),
            kOk);
  char buf[16] = {};
  std::uint32_t count = 0;
  ASSERT_EQ(StreamOf(s).read(s, buf, sizeof buf, &count), kOk);
  EXPECT_EQ(std::string(buf, count), "raw bytes");
  EXPECT_EQ(StreamOf(s).close(s), kOk);
}

TEST_F(FileSysTest, ListingAgreesWithPythonOs) {
  KELPO_REQUIRE_PEER("python3");
  WriteFileBytes(File("one"), "1");
  WriteFileBytes(File("zwei \xc3\xa9"), std::string(300, 'x'));
  ASSERT_TRUE(fs::create_directory(File("folder")));
  const timespec times[2] = {{0, 0}, {1234567890, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, File("one").c_str(), times, 0), 0);
  int status = -1;
  const std::string out = RunPeer(
      "python3 -c \"import os,sys,time\n"
      "d=sys.argv[1]\n"
      "for n in sorted(os.listdir(d)):\n"
      "  s=os.stat(os.path.join(d,n))\n"
      "  t=time.gmtime(s.st_mtime)\n"
      "  print(n, 0 if os.path.isdir(os.path.join(d,n)) else s.st_size, "
      "time.strftime('%Y%m%d%H%M%S', t))\" '" +
          dir_.Path() + "'",
      "", &status);
  ASSERT_EQ(status, 0);
  std::map<std::string, std::string> peer;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const std::size_t end = line.rfind(' ');
    const std::size_t mid = line.rfind(' ', end - 1);
    peer[line.substr(0, mid)] = line.substr(mid + 1);
  }
  auto list = List(dir_.Path(), 0, 1);
  std::map<std::string, std::string> ours;
  for (const auto& [name, e] : Children(list.get())) {
    char when[16];
    std::snprintf(when, sizeof when, "%04u%02u%02u%02u%02u%02u", e->lastWrite.year,
                  e->lastWrite.month, e->lastWrite.day, e->lastWrite.hour, e->lastWrite.minute,
                  e->lastWrite.second);
    ours[name] = std::to_string(e->size) + " " + when;
  }
  EXPECT_EQ(ours, peer);
}

// ---------------------------------------------------------------------------
// Replacing files in one step

// The names in a folder, hidden ones included.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.insert(e.path().filename());
  return names;
}

// Every case runs twice: with unnamed copies (where the system has them) and
// with copies named from the start, as on file systems without them.
class ReplaceTest : public FileSysTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { FileSys_ReplaceNamedOnly(GetParam()); }
  void TearDown() override {
    FileSys_ReplaceNamedOnly(false);
    FileSys_FailReplaceStep(0);
  }
  static StatusCode Replace(const std::string& path, const std::string& bytes) {
    const std::u16string p = U16(path);
    return FileSys_ReplaceFile(g_FileSysModule, p.c_str(), bytes.data(),
                               static_cast<std::uint32_t>(bytes.size()));
  }
};

INSTANTIATE_TEST_SUITE_P(Copies, ReplaceTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Named" : "Unnamed";
                         });

TEST_P(ReplaceTest, NewExistingLinkedAndRefusedTargets) {
  const mode_t mask = umask(022);
  // A new file gets the default permissions.
  ASSERT_EQ(Replace(File("new"), "fresh"), kOk);
  EXPECT_EQ(ReadFileBytes(File("new")), "fresh");
  struct stat st {};
  ASSERT_EQ(stat(File("new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  // An existing one keeps its permissions; a reader that holds it open keeps
  // the old bytes.
  WriteFileBytes(File("old"), "old bytes");
  ASSERT_EQ(chmod(File("old").c_str(), 0640), 0);
  const int reader = open(File("old").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(Replace(File("old"), ""), kOk);
  EXPECT_EQ(ReadFileBytes(File("old")), "");
  ASSERT_EQ(stat(File("old").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  char buf[16] = {};
  EXPECT_EQ(read(reader, buf, sizeof buf), 9);
  close(reader);
  // A link is followed: the file it names is replaced, the link stays.
  ASSERT_EQ(symlink("old", File("link").c_str()), 0);
  ASSERT_EQ(Replace(File("link"), "through the link"), kOk);
  EXPECT_EQ(ReadFileBytes(File("old")), "through the link");
  ASSERT_EQ(lstat(File("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // What cannot be replaced is left as it is.
  ASSERT_TRUE(fs::create_directory(File("folder")));
  EXPECT_EQ(Replace(File("folder"), "x"), kFailed);
  EXPECT_TRUE(fs::is_directory(File("folder")));
  EXPECT_EQ(Replace(File("missing/x"), "x"), kFileSysNotFound);
  const std::u16string p = U16(File("new"));
  EXPECT_EQ(FileSys_ReplaceFile(g_FileSysModule, p.c_str(), nullptr, 1), kBadArgument);
  EXPECT_EQ(ReadFileBytes(File("new")), "fresh");
  umask(mask);
  EXPECT_EQ(Names(dir_.Path()), (std::set<std::string>{"folder", "link", "new", "old"}));
}

// Each step of a replacement fails once in turn (the write after half of the
// bytes): the target keeps its old bytes and nothing is left beside it. The
// count of failing steps shows that every step was reached.
TEST_P(ReplaceTest, AFailureAtEveryStepLeavesTheOldFileAndNothingElse) {
  WriteFileBytes(File("t"), "old");
  const std::string fresh(100000, 'n');
  std::uint32_t failures = 0;
  for (std::uint32_t step = 1; step < 20; ++step) {
    FileSys_FailReplaceStep(step);
    const StatusCode s = Replace(File("t"), fresh);
    FileSys_FailReplaceStep(0);
    if (s == kOk) break;
    ++failures;
    EXPECT_EQ(ReadFileBytes(File("t")), "old") << "step " << step;
    EXPECT_EQ(Names(dir_.Path()), std::set<std::string>{"t"}) << "step " << step;
  }
  // Create, write, flush, (name,) rename.
  EXPECT_EQ(failures, GetParam() ? 4u : 5u);
  EXPECT_EQ(ReadFileBytes(File("t")), fresh);
  EXPECT_EQ(Names(dir_.Path()), std::set<std::string>{"t"});
}

// Real failing writes: a child replaces the file under a file-size limit at
// every byte of the new file, so the system refuses the write there (as a
// full disk would).
TEST_P(ReplaceTest, AWriteRefusedAtAnyByteLeavesTheOldFileAndNothingElse) {
  const std::string old = "the old file";
  std::string fresh;
  for (int i = 0; i < 8; ++i)
    fresh += "line " + std::to_string(i) + "\n";
  int failed = 0;
  for (std::size_t limit = 0; limit <= fresh.size(); ++limit) {
    WriteFileBytes(File("t"), old);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
      setrlimit(RLIMIT_FSIZE, &size);
      _exit(Replace(File("t"), fresh) == kOk ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const bool replaced = WEXITSTATUS(status) == 0;
    failed += !replaced;
    EXPECT_EQ(ReadFileBytes(File("t")), replaced ? fresh : old) << "limit " << limit;
    EXPECT_EQ(replaced, limit == fresh.size()) << "limit " << limit;
    EXPECT_EQ(Names(dir_.Path()), std::set<std::string>{"t"}) << "limit " << limit;
  }
  EXPECT_EQ(failed, static_cast<int>(fresh.size()));
}

// Writers killed at random moments, many times: the target is always one
// whole version, and whatever a killed writer left is gone after a sweep.
// Unnamed copies leave nothing but in the instant between naming and
// renaming; named ones are left whenever the kill lands in a write.
TEST_P(ReplaceTest, WritersKilledAtRandomLeaveOneWholeVersionAndNoCopyBehind) {
  const std::string a(200 << 10, 'a');
  const std::string b = std::string(300 << 10, 'b') + "end";
  WriteFileBytes(File("t"), a);
  // The delays span about two replacements, so kills land in every step.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Replace(File("t"), b), kOk);
  const auto once = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  std::mt19937 rng(GetParam() ? 1234 : 4321);
  std::uniform_int_distribution<long> delay(0, std::max<long>(2 * once, 1000));
  int leftBehind = 0;
  for (int round = 0; round < 200; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i)
        if (Replace(File("t"), i % 2 ? b : a) != kOk) _exit(2);
    }
    usleep(static_cast<useconds_t>(delay(rng)));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed in round " << round;
    const std::string now = ReadFileBytes(File("t"));
    ASSERT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
    leftBehind += static_cast<int>(Names(dir_.Path()).size()) - 1;
    const std::u16string folder = U16(dir_.Path());
    ASSERT_EQ(FileSys_SweepLeftovers(g_FileSysModule, folder.c_str()), kOk);
    ASSERT_EQ(Names(dir_.Path()), std::set<std::string>{"t"}) << "round " << round;
  }
  if (GetParam()) {
    EXPECT_GT(leftBehind, 0);  // the sweep had work to do
  }
  RecordProperty("copiesLeftByKills", leftBehind);
}

// Files of every name a sweep ever took for a leftover, beside a document
// being saved, belong to someone else and stay: the names earlier versions
// wrote, our prefix without a writer's tag, and a tag of ours whose instance
// was never seen. Only a copy of a killed writer of ours goes; one whose
// writer still holds it stays until the writer is gone.
TEST_F(FileSysTest, SweepsTakeOnlyCopiesOfOurDeadWritersAndNothingOfOthers) {
  const std::vector<std::string> foreign = {".notes.txt.tmp-a1B2c3",
                                            ".kelpo-copy-OLD123",
                                            ".kelpo-new-deadDEADdead",
                                            ".kelpo-new-liveLIVElive",
                                            ".kelpo-new-abcdef-ghijklmnopqr",
                                            ".kelpo-new-abc-def-ghijklmnopqr",
                                            "keep.kelpo-new-x",
                                            ".other"};
  WriteFileBytes(File("notes.txt"), "notes");
  for (const std::string& name : foreign)
    WriteFileBytes(File(name), "theirs");
  ASSERT_TRUE(fs::create_directory(File(".kelpo-new-folder")));
  // A writer of ours with a named copy (always so without unnamed files),
  // caught in the middle: stopped, it still holds the copy, killed it does not.
  FileSys_ReplaceNamedOnly(true);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string big(1 << 20, 'w');
    const std::u16string p = U16(File("written"));
    for (;;)
      (void)FileSys_ReplaceFile(g_FileSysModule, p.c_str(), big.data(),
                                static_cast<std::uint32_t>(big.size()));
  }
  FileSys_ReplaceNamedOnly(false);
  auto copies = [&] {
    std::set<std::string> out;
    for (const std::string& name : Names(dir_.Path()))
      if (name.size() == 30 && name.starts_with(".kelpo-new-") && name[17] == '-' &&
          std::find(foreign.begin(), foreign.end(), name) == foreign.end())
        out.insert(name);
    return out;
  };
  std::set<std::string> caught;
  for (int attempt = 0; attempt < 2000 && caught.empty(); ++attempt) {
    ASSERT_EQ(kill(child, SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    caught = copies();
    if (caught.empty()) {
      ASSERT_EQ(kill(child, SIGCONT), 0);
      usleep(200);
    }
  }
  ASSERT_EQ(caught.size(), 1u);
  // A document saved beside all of them; then a sweep of its own.
  const std::u16string notes = U16(File("notes.txt"));
  const std::u16string folder = U16(dir_.Path());
  auto keptAfterSaving = [&] {
    ASSERT_EQ(FileSys_ReplaceFile(g_FileSysModule, notes.c_str(), "saved", 5), kOk);
    ASSERT_EQ(FileSys_SweepLeftovers(g_FileSysModule, folder.c_str()), kOk);
    for (const std::string& name : foreign)
      EXPECT_EQ(ReadFileBytes(File(name)), "theirs") << name;
    EXPECT_TRUE(fs::is_directory(File(".kelpo-new-folder")));
    EXPECT_EQ(ReadFileBytes(File("notes.txt")), "saved");
  };
  keptAfterSaving();
  EXPECT_EQ(copies(), caught);  // its writer lives
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  keptAfterSaving();
  EXPECT_TRUE(copies().empty());
  const std::u16string missing = U16(File("missing"));
  EXPECT_EQ(FileSys_SweepLeftovers(g_FileSysModule, missing.c_str()), kFileSysNotFound);
}

TEST(FileSysErrors, MapsSystemErrors) {
  EXPECT_EQ(FileSys_MapError(0), kOk);
  EXPECT_EQ(FileSys_MapError(ENOENT), kFileSysNotFound);
  EXPECT_EQ(FileSys_MapError(ENOTDIR), kFileSysNotFound);
  EXPECT_EQ(FileSys_MapError(EACCES), kFileSysAccessDenied);
  EXPECT_EQ(FileSys_MapError(EPERM), kFileSysAccessDenied);
  EXPECT_EQ(FileSys_MapError(ENOMEM), kOutOfMemory);
  EXPECT_EQ(FileSys_MapError(EIO), kFailed);
  EXPECT_EQ(static_cast<std::uint32_t>(kFileSysNoPath), 0x80080010u);
}

}  // namespace
