// Runs an edit of a file once for every byte at which a write can fail: the
// nth run fails every write to a file after n bytes (as a full disk would),
// until a run finishes with the budget unspent. After each failed run the
// file must hold its old bytes and its folder nothing else.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "engine/runtime/file_sys.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace write_faults {

// edit answers whether it reported success. Returns the file's bytes after
// the first run that succeeded (empty when none did within limit runs).
template <typename Edit>
std::string FailAtEveryByte(const std::string& path, Edit edit, std::uint64_t limit = 1u << 20) {
  if (const char* l = std::getenv("KELPO_FAULT_LIMIT")) limit = std::strtoull(l, nullptr, 10);
  const std::string old = ReadFileBytes(path);
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  for (std::uint64_t n = 0; n < limit; ++n) {
    FileSys_FailWritesAfter(n);
    const bool ok = edit();
    FileSys_FailWritesAfter(kFileSysWritesUnlimited);
    const std::string now = ReadFileBytes(path);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
      ++entries;
    EXPECT_EQ(entries, 1u) << "a copy was left behind after failing at byte " << n;
    if (ok) return now;
    if (now != old) {
      ADD_FAILURE() << "the file changed although the edit failed at byte " << n;
      return {};
    }
  }
  ADD_FAILURE() << "the edit never succeeded";
  return {};
}

// Leaves in folder what a replacement's writer killed after naming its copy
// leaves: a copy named with the tag of a process of ours that has ended.
// Answers the copy's path (empty on failure).
inline std::string LeaveDeadWritersCopy(const std::string& folder, const std::string& bytes,
                                        const std::string& random = "0123456789ab") {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    // The tag of this process's instance, as its temporary files carry it.
    char16_t name[kPathBufferSize] = {};
    EngineObject* temp = nullptr;
    if (FileSys_Open(&FileSysModule, name, kPathBufferSize, kFileOpenTemporary, &temp) != kOk)
      _exit(1);
    const std::string path = U8(name);
    (void)StreamOf(temp).close(temp);
    std::remove(path.c_str());
    const std::size_t at = path.rfind("/iii");
    if (at == std::string::npos) _exit(1);
    const std::string copy = folder + "/.kelpo-new-" + path.substr(at + 4, 6) + "-" + random;
    WriteFileBytes(copy, bytes);
    (void)!write(pipeFds[1], copy.data(), copy.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string copy;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    copy.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? copy : std::string();
}

}  // namespace write_faults
