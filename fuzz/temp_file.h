// A private temporary folder for fuzz targets that read real files: one file
// in it, rewritten for every input, its path in UTF-8 and as an engine
// (UTF-16) path. The folder is removed when the process exits.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/runtime/path.h"

namespace fuzz_support {

class TempFile {
 public:
  explicit TempFile(const char* name) {
    char pattern[] = "/tmp/kelpo-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    folder_ = pattern;
    path_ = folder_ + "/" + name;
    std::uint32_t n = 0;
    if (Path_Utf8ToUtf16(path_.data(), static_cast<std::uint32_t>(path_.size()), wide_,
                         kPathBufferSize, &n) != kOk) {
      std::abort();
    }
  }
  ~TempFile() {
    std::remove(path_.c_str());
    rmdir(folder_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Replaces the file's content; aborts when the disk refuses.
  void Write(const void* data, std::size_t size) const {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) std::abort();
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) std::abort();
  }
  // The file's content.
  std::string Read() const {
    std::string out;
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) std::abort();
    char piece[4096];
    std::size_t n = 0;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0)
      out.append(piece, n);
    std::fclose(f);
    return out;
  }
  char16_t* Wide() { return wide_; }

 private:
  std::string folder_;
  std::string path_;
  char16_t wide_[kPathBufferSize];
};

}  // namespace fuzz_support
