// Decodes arbitrary text with the scrambler and parses it as a MIME content
// type and a file extension. A decoded text (up to its first NUL; an empty one
// cannot be encoded) must encode back to a text that decodes to it again;
// every answer stays inside its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"
#include "engine/utilities/mime.h"
#include "engine/utilities/scrambler.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Core_RegisterAllModules() != kOk) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy

  char* plain = nullptr;
  if (Scrambler_Decode(g_ScramblerModule, text.c_str(), &plain) == kOk && plain[0] != '\0') {
    char* again = nullptr;
    if (Scrambler_Encode(g_ScramblerModule, plain, &again) != kOk) std::abort();
    char* back = nullptr;
    if (Scrambler_Decode(g_ScramblerModule, again, &back) != kOk) std::abort();
    if (std::strcmp(back, plain) != 0) std::abort();
    Engine_Free(back);
    Engine_Free(again);
  }
  Engine_Free(plain);

  // The tokens found lie inside the text.
  MimeContentType type{};
  if (Mime_ParseContentType(g_MimeModule, text.data(), static_cast<std::uint32_t>(size), &type) !=
      kOk) {
    std::abort();
  }
  const auto inside = [&](const char* p, std::uint32_t n) {
    return p == nullptr ? n == 0 : p >= text.data() && p + n <= text.data() + size;
  };
  if (!inside(type.type, type.typeLength) || !inside(type.subtype, type.subtypeLength)) {
    std::abort();
  }
  char buffer[64];
  std::uint32_t length = sizeof buffer;
  if (Mime_FromExtension(g_MimeModule, text.data(), static_cast<std::uint32_t>(size), buffer,
                         &length) == kOk &&
      length > sizeof buffer) {
    std::abort();
  }
  length = 5;
  if (Mime_MajorTypeName(g_MimeModule, size ? data[0] & 15u : 0u, size % 50, buffer, &length) ==
          kOk &&
      length > 5) {
    std::abort();
  }
  return 0;
}
