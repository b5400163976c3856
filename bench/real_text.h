// Real input for the decoding benchmarks: text that Debian ships, and tar
// archives made from it. Files are taken in name order, so every run of a
// machine sees the same bytes.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace bench_real {

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Regular files directly in `folder` whose names end with `suffix`, sorted.
inline std::vector<std::string> FilesIn(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = e.path().string();
    if (e.is_regular_file(ec) && name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      files.push_back(name);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The Vim help folders present (/usr/share/vim/vim*/doc), sorted.
inline std::vector<std::string> VimHelpFolders() {
  std::vector<std::string> folders;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/usr/share/vim", ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("vim", 0) == 0 && std::filesystem::is_directory(e.path() / "doc", ec)) {
      folders.push_back((e.path() / "doc").string());
    }
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

// `size` bytes of real text: the Vim help files, the licences in
// /usr/share/common-licenses and the copyright files of /usr/share/doc, in
// that order, repeated when they are fewer. Empty when none are found.
inline std::string Text(std::size_t size) {
  std::string base;
  for (const std::string& folder : VimHelpFolders()) {
    for (const std::string& f : FilesIn(folder, ".txt"))
      base += ReadWhole(f);
  }
  for (const std::string& f : FilesIn("/usr/share/common-licenses", ""))
    base += ReadWhole(f);
  std::error_code ec;
  std::vector<std::string> copyrights;
  for (const auto& e : std::filesystem::directory_iterator("/usr/share/doc", ec)) {
    const auto path = e.path() / "copyright";
    if (std::filesystem::is_regular_file(path, ec)) copyrights.push_back(path.string());
  }
  std::sort(copyrights.begin(), copyrights.end());
  for (const std::string& f : copyrights) {
    if (base.size() >= size) break;
    base += ReadWhole(f);
  }
  if (base.empty()) return base;
  std::string text;
  while (text.size() < size)
    text += base;
  text.resize(size);
  return text;
}

// A tar archive of `folder` (under its parent, names sorted) made by the
// system's tar; empty when that fails.
inline std::string Tar(const std::string& folder) {
  char tmpl[] = "/tmp/kelpo_bench_tar_XXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd < 0) return {};
  close(fd);
  const std::filesystem::path p(folder);
  const std::string command = "tar --sort=name -cf '" + std::string(tmpl) + "' -C '" +
                              p.parent_path().string() + "' '" + p.filename().string() +
                              "' 2>/dev/null";
  std::string bytes;
  const int r = std::system(command.c_str());
  if (r != -1 && WIFEXITED(r) && WEXITSTATUS(r) <= 1) bytes = ReadWhole(tmpl);  // 1: a file changed
  std::remove(tmpl);
  return bytes;
}

}  // namespace bench_real
