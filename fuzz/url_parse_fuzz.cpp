// Parses, resolves and converts arbitrary bytes with the URL service: the
// input is split at its first NUL into a base and a reference (or a path).
// Every answer must stay inside the texts and buffers it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/runtime/url.h"
#include "engine/startup/engine_start.h"

namespace {

void CheckParts(const UrlParts& p, std::uint32_t length) {
  for (int i = 0; i < 8; ++i) {
    if (std::uint32_t{p.offset[i]} + p.length[i] > length) std::abort();
  }
}

// Runs a producing slot twice: to measure, then with exactly that room.
template <class Fn>
void Produce(Fn fn) {
  std::uint32_t size = 0;
  StatusCode s = fn(nullptr, &size);
  if (s == kOk && size != 0) std::abort();
  if (s != kUrlBufferTooSmall) return;
  std::vector<char> out(size + 1, '\x5A');
  const std::uint32_t needed = size;
  s = fn(out.data(), &size);
  if (s != kOk || size != needed || out[needed] != '\x5A') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool registered = ((void)Core_RegisterAllModules(), true);
  (void)registered;
  if (size > 32768) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
  const std::uint32_t baseLength =
      nul ? static_cast<std::uint32_t>(nul - data) : static_cast<std::uint32_t>(size);
  const char* ref = nul ? text + baseLength + 1 : text + size;
  const std::uint32_t refLength = static_cast<std::uint32_t>(size) - baseLength - (nul ? 1 : 0);
  EngineObject* m = &UrlModule;

  UrlParts parts{};
  if (Url_Parse(m, text, static_cast<std::uint32_t>(size), &parts) == kOk) {
    CheckParts(parts, static_cast<std::uint32_t>(size));
    std::uint32_t length = 0;
    (void)Url_GetPart(m, &parts, kUrlScheme, kUrlFragment, &length);
  }

  Produce([&](char* out, std::uint32_t* n) {
    UrlParts result{};
    const StatusCode s =
        Url_Resolve(m, text, baseLength, nullptr, ref, refLength, out, n, out ? &result : nullptr);
    if (s == kOk && out) CheckParts(result, *n);
    return s;
  });
  for (UrlCombineFn fn : {Url_CombineWindowsPath, Url_CombineMacPath, Url_CombinePosixPath}) {
    Produce([&](char* out, std::uint32_t* n) {
      return fn(m, text, baseLength, ref, refLength, out, n);
    });
    Produce([&](char* out, std::uint32_t* n) { return fn(m, nullptr, 0, ref, refLength, out, n); });
  }
  for (UrlConvertFn fn : {Url_FromWindowsPath, Url_FromMacPath, Url_FromPosixPath,
                          Url_ToWindowsPath, Url_ToMacPath, Url_ToPosixPath, Url_ToPath}) {
    Produce([&](char* out, std::uint32_t* n) {
      return fn(m, text, static_cast<std::uint32_t>(size), out, n);
    });
  }
  Produce([&](char* out, std::uint32_t* n) {
    if (out == nullptr) {
      // MakeRelative measures against 2048 without a buffer.
      const StatusCode s = Url_MakeRelative(m, text, baseLength, ref, refLength, 3, nullptr, n);
      return s == kOk && *n != 0 ? kUrlBufferTooSmall : s;
    }
    return Url_MakeRelative(m, text, baseLength, ref, refLength, 3, out, n);
  });

  std::uint32_t code = 0;
  (void)Url_GetSchemeCode(m, text, static_cast<std::uint32_t>(size), &code);
  const char* baseStart = nullptr;
  const char* extStart = nullptr;
  std::uint32_t bl = 0, el = 0;
  (void)Url_SplitFileName(m, text, static_cast<std::uint32_t>(size), &baseStart, &bl, &extStart,
                          &el);
  if (baseStart < text || extStart + el != text + size) std::abort();

  char* escaped = nullptr;
  std::uint32_t escapedLength = 0;
  if (size > 0 &&
      Url_Escape(m, data, static_cast<std::uint32_t>(size), &escaped, &escapedLength) == kOk) {
    if (std::strlen(escaped) != escapedLength) std::abort();
    Engine_Free(escaped);
  }

  // UTF-16 views of the same bytes for the wide joins and splits.
  std::u16string wide(size / 2, u'\0');
  std::memcpy(wide.data(), data, wide.size() * 2);
  const std::u16string folder = wide.substr(0, wide.find(u'\0'));
  const std::u16string name = folder.substr(folder.size() / 2);
  std::vector<char16_t> joined(261, u'\0');
  (void)Url_JoinFolderAndName(m, folder.c_str(), name.c_str(), joined.data(), 259);
  if (joined[260] != u'\0') std::abort();
  std::uint32_t needed = 0;
  (void)Url_JoinWidePath(m, joined.data(), 261, folder.c_str(), name.c_str(), nullptr, nullptr,
                         nullptr, &needed);
  const char16_t* wb = nullptr;
  const char16_t* we = nullptr;
  (void)Url_SplitFileNameWide(m, wide.data(), static_cast<std::uint32_t>(wide.size()), &wb, &bl,
                              &we, &el);
  return 0;
}
