#include "tests/support/charset_fixtures.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

std::optional<std::string> IconvBytes(const std::string& bytes, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string in = bytes;
  std::string out(in.size() * 4 + 16, '\0');
  char* source = in.data();
  std::size_t sourceLeft = in.size();
  char* target = out.data();
  std::size_t targetLeft = out.size();
  const std::size_t r = iconv(cd, &source, &sourceLeft, &target, &targetLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1) || sourceLeft != 0) return std::nullopt;
  out.resize(out.size() - targetLeft);
  return out;
}

std::string Windows1252AsUtf8(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const std::optional<std::string> one = IconvBytes(std::string(1, c), "WINDOWS-1252", "UTF-8");
    out += one ? *one : "\xEF\xBF\xBD";
  }
  return out;
}

namespace {

// Whether the locale `name` under `path` loads and says ISO-8859-1.
bool Latin1Loads(const std::string& path) {
  ScopedEnv locpath("LOCPATH", path);
  locale_t locale = newlocale(LC_CTYPE_MASK, kLatin1Locale, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return false;
  const std::string_view codeset = nl_langinfo_l(CODESET, locale);
  const bool latin1 = codeset == "ISO-8859-1";
  freelocale(locale);
  return latin1;
}

}  // namespace

const std::string& Latin1LocalePath() {
  static const std::unique_ptr<TempDir> folder = std::make_unique<TempDir>();
  static const std::string path = [] {
    const std::string command =
        "localedef -i C -f ISO-8859-1 '" + folder->File(kLatin1Locale) + "' >/dev/null 2>&1";
    (void)std::system(command.c_str());  // warnings give a non-zero status too
    return Latin1Loads(folder->Path()) ? folder->Path() : std::string();
  }();
  return path;
}

// glibc's newlocale does not free the search path it builds from LOCPATH
// (argz_add_sep), once per call; only the tests set LOCPATH.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:argz_add_sep\n";
}
