// Shared fixture of the settings-store tests: a store in a fresh data root.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/path.h"
#include "engine/stores/settings_store.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

inline bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A store whose application-data folder is a temporary folder.
class SettingsFixture : public testing::Test {
 public:
  void SetUp() override {
    const char* old = std::getenv("KELPO_DATA_HOME");
    if (old) saved_ = old, hadOld_ = true;
    setenv("KELPO_DATA_HOME", root_.Path().c_str(), 1);
    ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags_, &store_), kOk);
    folder_ = root_.Path() + "/Kelpo/Kelpo/Settings";
  }
  void TearDown() override {
    Settings_FailWriteStep(0);
    if (store_) {
      EXPECT_EQ(Settings_CloseStore(store_), kOk);
    }
    if (hadOld_) {
      setenv("KELPO_DATA_HOME", saved_.c_str(), 1);
    } else {
      unsetenv("KELPO_DATA_HOME");
    }
  }

  std::string Reg(const std::string& name) const { return folder_ + "/_Reg_/" + name; }
  std::string Cat(const std::string& name) const { return folder_ + "/_Cat_/" + name; }
  std::string Doc(const std::string& name) const { return folder_ + "/" + name; }

  // Opens (creating) and closes a document's settings; returns the settings path.
  std::u16string Touch(const std::u16string& document, std::uint32_t closeFlags = 0) {
    LocalSettings ls{};
    EXPECT_EQ(Settings_OpenDocument(store_, document.c_str(), 1, &ls), kOk) << U8(document);
    std::u16string path = ls.path;
    EXPECT_EQ(Settings_CloseDocument(store_, &ls, closeFlags), kOk);
    return path;
  }
  static std::string NameOf(const std::u16string& settingsPath) {
    const auto slash = settingsPath.find_last_of(u'/');
    return U8(settingsPath.substr(slash + 1));
  }

  TempDir root_;
  std::string folder_;
  std::string saved_;
  bool hadOld_ = false;
  std::uint32_t flags_ = 0;
  EngineObject* store_ = nullptr;
};

// Every file below a folder with its bytes, for before/after comparisons,
// in byte order of the paths.
inline std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> out;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) out.emplace_back(it->path().string(), std::string());
  }
  std::sort(out.begin(), out.end());
  for (auto& [path, bytes] : out)
    bytes = ReadFileBytes(path);
  return out;
}
