// Reads arbitrary bytes as the XDG user-dirs file (XDG_CONFIG_HOME points
// at a private temporary folder) and asks for the folders it may name. Each
// answer must be a terminated path of at most kPathMax units whose length
// is the one returned.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/runtime/path_folders.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string g_folder;
std::string g_file;

void RemoveFiles() {
  std::remove(g_file.c_str());
  rmdir(g_folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/kelpo-user-dirs-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  g_folder = pattern;
  g_file = g_folder + "/user-dirs.dirs";
  std::atexit(RemoveFiles);
  setenv("XDG_CONFIG_HOME", g_folder.c_str(), 1);
  setenv("HOME", "/home/fuzz", 1);
  unsetenv("KELPO_DOCUMENTS_DIR");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  std::FILE* f = std::fopen(g_file.c_str(), "wb");
  if (f == nullptr) std::abort();
  const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) std::abort();
  for (const std::uint32_t csidl : {kCsidlPersonal, kCsidlDesktopDirectory, kCsidlTemplates}) {
    char16_t buffer[kPathBufferSize];
    const std::uint32_t length = Path_GetSpecialFolder(buffer, csidl, false);
    Check(length <= kPathMax && buffer[length] == 0 && Path_Length(buffer, kPathMax) == length);
  }
  return 0;
}
