#include "engine/runtime/path_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/runtime/file_sys.h"
#include "engine/runtime/url.h"

namespace {

// Writes text (UTF-8 bytes) as a UTF-16 path into buffer[kPathBufferSize];
// false when it does not fit in kPathMax units.
bool StoreWide(std::string_view text, char16_t* buffer, std::uint32_t* length) {
  std::uint32_t n = 0;
  if (text.size() > NativePath::kCapacity ||
      Path_Utf8ToUtf16(text.data(), static_cast<std::uint32_t>(text.size()), buffer,
                       kPathBufferSize, &n) != kOk) {
    return false;
  }
  *length = n;
  return true;
}

// A small fixed text builder for the special-folder paths.
struct PathText {
  std::array<char, NativePath::kCapacity> bytes{};
  std::uint32_t size = 0;
  bool overflow = false;
  void Append(std::string_view s) {
    if (s.size() > bytes.size() - size) {
      overflow = true;
      return;
    }
    std::memcpy(bytes.data() + size, s.data(), s.size());
    size += static_cast<std::uint32_t>(s.size());
  }
  std::string_view View() const { return {bytes.data(), size}; }
  // Appends a sub-folder ("/name") with no doubled separator.
  bool Sub(std::string_view name) {
    while (size > 1 && bytes[size - 1] == '/')
      --size;
    Append(name);
    return !overflow;
  }
};

const char* NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return (v != nullptr && v[0] != '\0') ? v : nullptr;
}

// XDG base directories must be absolute; a relative value is ignored.
const char* AbsoluteEnv(const char* name) {
  const char* v = NonEmptyEnv(name);
  return (v != nullptr && v[0] == '/') ? v : nullptr;
}

bool HomeFolder(PathText* out) {
  const char* home = NonEmptyEnv("HOME");
  if (home != nullptr) {
    out->Append(home);
    return !out->overflow;
  }
  std::array<char, 4096> scratch{};
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, scratch.data(), scratch.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
    return false;
  }
  out->Append(found->pw_dir);
  return !out->overflow;
}

// A base directory: the variable when it is set and absolute, else home + the
// default below it.
bool XdgBase(const char* variable, std::string_view homeDefault, PathText* out) {
  if (const char* v = AbsoluteEnv(variable)) {
    out->Append(v);
    return !out->overflow;
  }
  if (!HomeFolder(out)) return false;
  out->Append(homeDefault);
  return !out->overflow;
}

// Looks up key (e.g. "XDG_DOCUMENTS_DIR") in the XDG user-dirs file. Lines
// have the form KEY="$HOME/rel" or KEY="/abs", with backslash escapes inside
// the quotes; other forms are ignored and the last valid line wins.
bool XdgUserDir(std::string_view key, PathText* out) {
  PathText file;
  if (!XdgBase("XDG_CONFIG_HOME", "/.config", &file)) return false;
  file.Append("/user-dirs.dirs");
  if (file.overflow) return false;
  if (file.size >= file.bytes.size()) return false;
  file.bytes[file.size] = '\0';
  std::FILE* f = std::fopen(file.bytes.data(), "re");
  if (f == nullptr) return false;
  bool found = false;
  std::array<char, 2048> line{};
  while (std::fgets(line.data(), static_cast<int>(line.size()), f) != nullptr) {
    std::string_view s(line.data());
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
      s.remove_prefix(1);
    if (!s.starts_with(key)) continue;
    s.remove_prefix(key.size());
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
      s.remove_prefix(1);
    if (s.empty() || s.front() != '=') continue;
    s.remove_prefix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
      s.remove_prefix(1);
    if (s.empty() || s.front() != '"') continue;
    s.remove_prefix(1);
    PathText value;
    bool relative = false;
    if (s.starts_with("$HOME")) {
      s.remove_prefix(5);
      if (!s.empty() && s.front() != '/' && s.front() != '"') continue;
      relative = true;
    } else if (s.empty() || s.front() != '/') {
      continue;
    }
    if (relative && !HomeFolder(&value)) continue;
    bool closed = false;
    while (!s.empty()) {
      char c = s.front();
      s.remove_prefix(1);
      if (c == '"') {
        closed = true;
        break;
      }
      if (c == '\\' && !s.empty()) {
        c = s.front();
        s.remove_prefix(1);
      }
      value.Append(std::string_view(&c, 1));
    }
    if (!closed || value.overflow) continue;
    *out = value;
    found = true;
  }
  std::fclose(f);
  return found;
}

bool SpecialFolderText(std::uint32_t csidl, PathText* out) {
  switch (csidl) {
    case kCsidlAppData:
      if (const char* v = AbsoluteEnv("KELPO_DATA_HOME")) {
        out->Append(v);
        return !out->overflow;
      }
      return XdgBase("XDG_DATA_HOME", "/.local/share", out);
    case kCsidlPersonal:
      if (const char* v = AbsoluteEnv("KELPO_DOCUMENTS_DIR")) {
        out->Append(v);
        return !out->overflow;
      }
      if (XdgUserDir("XDG_DOCUMENTS_DIR", out)) return true;
      return HomeFolder(out) && (out->Append("/Documents"), !out->overflow);
    case kCsidlDesktopDirectory:
      if (XdgUserDir("XDG_DESKTOP_DIR", out)) return true;
      return HomeFolder(out) && (out->Append("/Desktop"), !out->overflow);
    case kCsidlTemplates:
      if (XdgUserDir("XDG_TEMPLATES_DIR", out)) return true;
      return HomeFolder(out) && (out->Append("/Templates"), !out->overflow);
    case kCsidlInternetCache:
      return XdgBase("XDG_CACHE_HOME", "/.cache", out);
    case kCsidlPrograms:
    case kCsidlStartMenu:
      return XdgBase("XDG_DATA_HOME", "/.local/share", out) && out->Sub("/applications");
    case kCsidlFonts:
      return XdgBase("XDG_DATA_HOME", "/.local/share", out) && out->Sub("/fonts");
    case kCsidlStartup:
      return XdgBase("XDG_CONFIG_HOME", "/.config", out) && out->Sub("/autostart");
    case kCsidlCommonPrograms:
    case kCsidlCommonStartMenu:
      out->Append("/usr/share/applications");
      return true;
    case kCsidlCommonStartup:
      out->Append("/etc/xdg/autostart");
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Path_GetModuleDirectory(char16_t buffer[kPathBufferSize], std::uint32_t* length) noexcept {
  if (buffer == nullptr || length == nullptr) return false;
  std::array<char, NativePath::kCapacity> target{};
  const ssize_t n = readlink("/proc/self/exe", target.data(), target.size());
  std::uint32_t units = 0;
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size() ||
      !StoreWide(std::string_view(target.data(), static_cast<std::size_t>(n)), buffer, &units)) {
    buffer[0] = u'\0';
    return false;
  }
  std::uint32_t cut = 0;
  for (std::uint32_t i = units; i > 0; --i) {
    if (buffer[i - 1] == u'/' || buffer[i - 1] == u'\\') {
      cut = i - 1;
      break;
    }
  }
  buffer[cut] = u'\0';
  *length = cut;
  return true;
}

bool Path_Compose(char16_t* buffer, std::uint32_t capacity, const char16_t* folder,
                  const char16_t* part1, const char16_t* part2, const char16_t* part3,
                  const char16_t* part4, std::uint32_t* needed) noexcept {
  return Url_JoinWidePath(&UrlModule, buffer, capacity, folder, part1, part2, part3, part4,
                          needed) == kOk;
}

bool Path_CreateDirectoryTree(const char16_t* path, std::int32_t length) noexcept {
  if (length == 0) return true;
  if (path == nullptr) return false;
  const std::uint32_t n =
      length < 0 ? Path_Length(path, kPathMax) : static_cast<std::uint32_t>(length);
  if (n > kPathMax) return false;
  std::array<char16_t, kPathBufferSize + 2> work{};
  for (std::uint32_t i = 0; i < n; ++i) {
    if (path[i] == u'\0') break;
    work[i] = path[i];
  }
  return FileSys_CreateFolderPath(&FileSysModule, work.data()) == kOk;
}

std::uint32_t Path_GetSpecialFolder(char16_t buffer[kPathBufferSize], std::uint32_t csidl,
                                    bool create) noexcept {
  if (buffer == nullptr) return 0;
  PathText text;
  std::uint32_t units = 0;
  if (!SpecialFolderText(csidl, &text) || !StoreWide(text.View(), buffer, &units)) {
    buffer[0] = u'\0';
    return 0;
  }
  // A trailing separator goes, but the root stays "/".
  if (units > 1 && (buffer[units - 1] == u'/' || buffer[units - 1] == u'\\')) {
    buffer[--units] = u'\0';
  }
  if (units == 0) return 0;
  if (create) Path_CreateDirectoryTree(buffer, static_cast<std::int32_t>(units));
  return units;
}
