// Fixtures for text in other charsets: the system's iconv makes the bytes of
// a text in a named charset (an oracle only; the engine has its own
// tables), and localedef makes a locale whose charset is ISO-8859-1 for
// tests that run under it.
#pragma once

#include <optional>
#include <string>

// `bytes` converted from charset `from` to charset `to` (iconv names);
// nullopt when iconv cannot convert all of it.
std::optional<std::string> IconvBytes(const std::string& bytes, const char* from, const char* to);

// UTF-8 of `bytes` read as windows-1252, every byte that charset leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) as U+FFFD: what a reader that
// loses nothing shows for a text read in that charset.
std::string Windows1252AsUtf8(const std::string& bytes);

// The name of a locale with the ISO-8859-1 charset, and the folder to give
// as LOCPATH for it. The locale is made once per test program in a
// temporary folder of its own, so nothing of the system is touched. Empty
// when it cannot be made (no localedef or no locale sources): callers skip.
constexpr const char* kLatin1Locale = "C.ISO-8859-1";
const std::string& Latin1LocalePath();
