// Start-up housekeeping: writers of every kind killed at random moments leave
// their working copies behind; the next start removes them all, and nothing
// of anyone else.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/block_file.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"
#include "engine/stores/settings_store.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

namespace fs = std::filesystem;

// Every file below folder, by path relative to it.
std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), folder).string());
  std::sort(out.begin(), out.end());
  return out;
}

// A block container on a file: streams added and the container closed, over
// and over.
void BlockContainerWriter(const std::string& file) {
  std::u16string path = U16(file);
  for (;;) {
    EngineObject* c = nullptr;
    if (BlockFile_OpenPath(&BlockFileModule, path.data(), 0, kFileOpenReadWrite, 512, &c) != kOk)
      _exit(2);
    EngineObject* s = nullptr;
    std::uint32_t number = 0;
    if (BlockFile_CreateStream(c, &number, &s) != kOk) _exit(3);
    const std::string bytes(3000, 'b');
    (void)StreamOf(s).write(s, bytes.data(), static_cast<std::uint32_t>(bytes.size()), nullptr);
    (void)StreamOf(s).close(s);
    if (BlockFile_Close(c) != kOk) _exit(4);
  }
}

// A record database edited through its temporary copy, over and over.
void TemporaryCopyDatabaseWriter(const std::string& file) {
  std::u16string path = U16(file);
  for (int i = 0;; ++i) {
    EngineObject* stream = nullptr;
    if (FileSys_Open(g_FileSysModule, path.data(), 0, kFileOpenReadWrite, &stream) != kOk) _exit(2);
    EngineObject* db = nullptr;
    const auto& ops = *static_cast<const DbFileOps*>(g_DbCopyModule->ops);
    if (ops.open(g_DbCopyModule, stream, kDbOpenWrite, &db) != kOk) _exit(3);
    const auto& dbOps = *static_cast<const DbFileOps*>(db->ops);
    std::uint16_t at = 0xFFFF;
    const std::string record(2000, static_cast<char>('a' + i % 26));
    (void)dbOps.insertRecord(db, &at, static_cast<std::uint32_t>(record.size()), record.data());
    if (i % 3 == 2) (void)dbOps.deleteRecord(db, 0);
    (void)dbOps.close(db);
    (void)StreamOf(stream).close(stream);
  }
}

// The settings store's category lists, written by replacement with copies
// named from the start (as on file systems without unnamed files).
void SettingsWriter(const std::string&) {
  FileSys_ReplaceNamedOnly(true);
  EngineObject* store = nullptr;
  std::uint32_t flags = 0;
  if (Settings_OpenStore(&SettingsModule, &flags, &store) != kOk) _exit(2);
  const std::u16string doc = u"/docs/book.txt";
  for (std::uint16_t i = 1;; ++i) {
    std::vector<std::uint16_t> ids(1 + 2000);
    ids[0] = 2000;
    for (std::uint16_t k = 0; k < 2000; ++k)
      ids[1 + k] = static_cast<std::uint16_t>(i + k);
    if (Settings_SetDocumentCategories(store, doc.c_str(), ids.data()) != kOk) _exit(3);
  }
}

struct Kind {
  const char* name;
  void (*writer)(const std::string& file);
};

class StartUpSweep : public testing::TestWithParam<Kind> {
 protected:
  TempDir dir_;
  ScopedEnv tmp_{"TMPDIR", dir_.File("tmp")};
  ScopedEnv data_{"KELPO_DATA_HOME", dir_.File("data")};
};

TEST_P(StartUpSweep, TwoHundredKilledWritersLeaveNoWorkingCopyAfterAStart) {
  fs::create_directories(dir_.File("tmp"));
  fs::create_directories(dir_.File("data"));
  fs::create_directories(dir_.File("docs"));
  const std::string file = dir_.File("docs/notes.pdb");
  WriteFileBytes(file, record_db_fixtures::BuildDb({"alpha", "beta"}));
  if (std::string(GetParam().name) == "BlockContainer") WriteFileBytes(file, "");
  // Files of others in every folder the writers and the sweep touch.
  const std::string tempFolder = dir_.File("tmp/kelpo-" + std::to_string(getuid()));
  fs::create_directories(tempFolder);
  const std::vector<std::string> foreign = {
      "tmp/kelpo-" + std::to_string(getuid()) + "/other.tmp", "tmp/iiiother.tmp",
      "docs/.notes.pdb.tmp-a1B2c3", "docs/.kelpo-new-deadDEADdead", "docs/.kelpo-copy-OLD123"};
  for (const std::string& f : foreign)
    WriteFileBytes(dir_.File(f), "theirs");

  std::mt19937 rng(20261211);
  std::uniform_int_distribution<int> delay(0, 20000);
  int left = 0;
  for (int round = 0; round < 200; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      GetParam().writer(file);
      _exit(0);
    }
    usleep(static_cast<useconds_t>(delay(rng)));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status))
        << "the writer failed in round " << round << ": " << WEXITSTATUS(status);
  }
  const auto before = FilesBelow(dir_.Path());
  for (const std::string& f : before)
    left += f.find("iii") != std::string::npos || f.find(".kelpo-new-") != std::string::npos;
  RecordProperty("copiesLeftByKills", left);
  EXPECT_GT(left, 0) << "the kills left nothing to sweep";

  // A start, in a process of its own.
  const pid_t start = fork();
  ASSERT_GE(start, 0);
  if (start == 0) _exit(Core_SweepDeadCopies() == kOk ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(start, &status, 0), start);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::vector<std::string> expected = foreign;
  expected.push_back("docs/notes.pdb");
  for (const std::string& f : FilesBelow(dir_.Path())) {
    if (f.starts_with("data/")) continue;  // the settings themselves
    EXPECT_NE(std::find(expected.begin(), expected.end(), f), expected.end()) << f << " stayed";
  }
  for (const std::string& f : FilesBelow(dir_.File("data")))
    EXPECT_EQ(f.find(".kelpo-new-"), std::string::npos) << f << " stayed";
  for (const std::string& f : foreign)
    EXPECT_EQ(ReadFileBytes(dir_.File(f)), "theirs") << f;
}

INSTANTIATE_TEST_SUITE_P(Writers, StartUpSweep,
                         testing::Values(Kind{"BlockContainer", BlockContainerWriter},
                                         Kind{"TemporaryCopyDatabase", TemporaryCopyDatabaseWriter},
                                         Kind{"SettingsReplacement", SettingsWriter}),
                         [](const testing::TestParamInfo<Kind>& info) { return info.param.name; });

}  // namespace
