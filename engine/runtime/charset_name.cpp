#include "engine/runtime/charset_name.h"

#include <cstring>
#include <string_view>

#include "engine/runtime/charset_tables/charset_tables.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"

namespace {

struct CanonicalName {
  std::uint32_t mib;
  std::string_view name;
};

// Sorted by MIBenum.
constexpr CanonicalName kCanonicalNames[] = {
    {4, "ISO-8859-1"},      {5, "ISO-8859-2"},      {6, "ISO-8859-3"},      {7, "ISO-8859-4"},
    {8, "ISO-8859-5"},      {9, "ISO-8859-6"},      {10, "ISO-8859-7"},     {11, "ISO-8859-8"},
    {12, "ISO-8859-9"},     {17, "Shift-JIS"},      {18, "EUC-JP"},         {38, "EUC-KR"},
    {106, "UTF-8"},         {111, "ISO-8859-15"},   {114, "GB18030"},       {1013, "UTF-16BE"},
    {1014, "UTF-16LE"},     {1015, "UTF-16"},       {2025, "GB2312"},       {2026, "Big5"},
    {2084, "KOI8-R"},       {2250, "windows-1250"}, {2251, "windows-1251"}, {2252, "windows-1252"},
    {2253, "windows-1253"}, {2254, "windows-1254"}, {2255, "windows-1255"}, {2256, "windows-1256"},
    {2257, "windows-1257"}, {2258, "windows-1258"}, {8000, "windows-874"},
};

}  // namespace

StatusCode Charset_NameToMib(EngineObject*, const char* name, std::uint32_t length,
                             std::uint32_t* mib) noexcept {
  if (mib == nullptr) return kNullOutPointer;
  if (name == nullptr) return kBadArgument;
  if (length == 0) length = static_cast<std::uint32_t>(std::strlen(name));
  if (g_StringModule == nullptr) return kFailed;
  std::uint32_t index = 0;
  const StatusCode s = OpsOf<StringOps>(g_StringModule)
                           .bsearchNoCase(g_StringModule, charset_tables::kCharsetNames,
                                          charset_tables::kCharsetNameCount, name, length, &index);
  if (s != kOk) return s;
  *mib = charset_tables::kCharsetNameMibs[index];
  return kOk;
}

StatusCode Charset_MibToName(EngineObject*, std::uint32_t mib, char* buffer,
                             std::uint32_t* length) noexcept {
  if (length == nullptr) return kNullOutPointer;
  for (const CanonicalName& entry : kCanonicalNames) {
    if (entry.mib != mib) continue;
    const auto size = static_cast<std::uint32_t>(entry.name.size());
    if (*length < size || buffer == nullptr) {
      *length = size;
      return kCharsetNameBufferTooSmall;
    }
    std::memcpy(buffer, entry.name.data(), size);
    *length = size;
    return kOk;
  }
  return kNotFound;
}

namespace {
constexpr CharsetNameOps kCharsetNameOps = {
    Core_NotImplemented,
    Charset_NameToMib,
    Charset_MibToName,
    Core_NotImplemented,
};
}  // namespace

EngineObject CharsetNameModule = {nullptr, &kCharsetNameOps};
