// Converts arbitrary bytes between the engine's UTF-16 paths and UTF-8:
// measuring agrees with converting, a buffer one unit short is refused
// without a write past it, and UTF-8 -> UTF-16 -> UTF-8 gives back the same
// bytes (invalid bytes travel as U+DC80-U+DCFF). The bytes taken as UTF-16
// units go to UTF-8 and to the system form as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/runtime/path.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const char* bytes = reinterpret_cast<const char*>(data);
  const auto n = static_cast<std::uint32_t>(size);

  // UTF-8 to UTF-16 and back.
  std::uint32_t units = 0;
  Check(Path_Utf8ToUtf16(bytes, n, nullptr, 0, &units) == kOk);
  Check(units <= n);
  std::vector<char16_t> wide(units + 1, u'\xFFFF');
  if (units > 0) {
    std::uint32_t got = 0;
    Check(Path_Utf8ToUtf16(bytes, n, wide.data(), units, &got) == kIndexOutOfRange);
    Check(wide[0] == u'\xFFFF');  // nothing written on refusal
  }
  std::uint32_t got = 0;
  Check(Path_Utf8ToUtf16(bytes, n, wide.data(), units + 1, &got) == kOk);
  Check(got == units && wide[units] == 0);
  std::uint32_t back = 0;
  Check(Path_Utf16ToUtf8(wide.data(), units, nullptr, 0, &back) == kOk);
  Check(back == n);
  std::vector<char> narrow(back + 1);
  Check(Path_Utf16ToUtf8(wide.data(), units, narrow.data(), back + 1, &got) == kOk);
  Check(got == n && narrow[n] == 0 && std::memcmp(narrow.data(), bytes, n) == 0);

  // The bytes as UTF-16 units: lone surrogates other than U+DC80-U+DCFF are
  // refused; what converts is measured right.
  const std::uint32_t count = n / 2;
  std::vector<char16_t> text(count + 1, 0);
  if (count > 0) std::memcpy(text.data(), data, count * 2);
  std::uint32_t length = 0;
  const StatusCode s = Path_Utf16ToUtf8(text.data(), count, nullptr, 0, &length);
  Check(s == kOk || s == kMalformed);
  if (s == kOk) {
    std::vector<char> out(length + 1);
    Check(Path_Utf16ToUtf8(text.data(), count, out.data(), length + 1, &got) == kOk);
    Check(got == length && out[length] == 0);
  }
  NativePath native;
  const bool converted = Path_ToNative(text.data(), count, &native);
  Check(!converted || (native.length < NativePath::kCapacity && native.bytes[native.length] == 0));
  const std::uint32_t limit = size > 0 ? data[0] % (count + 2) : 0;
  Check(Path_Length(text.data(), limit) <= limit + 1);
  return 0;
}
