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

#include "engine/runtime/file_sys.h"
#include "tests/support/temp_dir.h"

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

}  // namespace write_faults
