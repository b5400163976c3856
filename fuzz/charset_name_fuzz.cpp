// Looks arbitrary bytes up as a charset name, both with a length and as a
// NUL-terminated string, and turns numbers back into names with every
// buffer size up to the name's length. A name that is found must name a
// number whose canonical name is found again and maps to the same number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/runtime/charset_name.h"
#include "engine/startup/engine_start.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The canonical name of mib, tried with each too-small capacity first.
void NameOf(std::uint32_t mib) {
  char name[64];
  std::uint32_t length = sizeof name;
  const StatusCode s = Charset_MibToName(&CharsetNameModule, mib, name, &length);
  if (s == kNotFound) return;
  Check(s == kOk && length > 0 && length <= sizeof name);
  for (std::uint32_t capacity = 0; capacity < length; ++capacity) {
    char small[64];
    std::uint32_t n = capacity;
    Check(Charset_MibToName(&CharsetNameModule, mib, small, &n) == kCharsetNameBufferTooSmall);
    Check(n == length);
  }
  std::uint32_t again = 0;
  Check(Charset_NameToMib(&CharsetNameModule, name, length, &again) == kOk && again == mib);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Core_RegisterAllModules() != kOk) std::abort();  // names are searched by the string service
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 512) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  std::uint32_t mib = 0;
  StatusCode s = size == 0 ? kNotFound
                           : Charset_NameToMib(&CharsetNameModule, text,
                                               static_cast<std::uint32_t>(size), &mib);
  Check(s == kOk || s == kNotFound);
  if (s == kOk) NameOf(mib);

  // The same bytes up to their first NUL, as a terminated string.
  const std::string terminated(text, strnlen(text, size));
  std::uint32_t mib0 = 0;
  s = terminated.empty() ? kNotFound
                         : Charset_NameToMib(&CharsetNameModule, terminated.c_str(), 0, &mib0);
  Check(s == kOk || s == kNotFound);
  if (s == kOk) NameOf(mib0);

  // The first four bytes as a number.
  if (size >= 4) {
    std::uint32_t n = 0;
    std::memcpy(&n, data, 4);
    NameOf(n);
    NameOf(n & 0xFFFF);
  }
  return 0;
}
