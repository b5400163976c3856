#include "app/core/prefs.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "engine/runtime/checksum.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/swap.h"
#include "engine/runtime/text_conv.h"

namespace {

constexpr std::string_view kSettings = "Settings";
constexpr std::string_view kWindowState = "WindowState";
constexpr std::size_t kTextUnits = 32;  // 31 characters and the terminator
constexpr std::size_t kNarrowSearchText = 18;
constexpr std::uint32_t kWindows1252 = 2252;
constexpr std::uint32_t kHostUtf16 = std::endian::native == std::endian::little ? 1014 : 1013;

EngineObject* Converter() {
  return g_TextConvModule != nullptr ? g_TextConvModule : &TextConvModule;
}

// Parses an optionally signed decimal integer that fills [text, end) but for
// leading blanks; false on anything else or overflow.
bool ParseInt(std::string_view text, std::int32_t* out) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return false;
  *out = value;
  return true;
}

// The version-1 search text: bytes 18..48, read as windows-1252.
void MigrateNarrowSearchText(Preferences* p) {
  const std::uint8_t* narrow = p->bytes.data() + kNarrowSearchText;
  const std::size_t n = strnlen(reinterpret_cast<const char*>(narrow), kTextUnits - 1);
  std::array<char16_t, kTextUnits> wide{};
  TextConvRequest request{};
  request.sourceMib = kWindows1252;
  request.source = narrow;
  request.sourceLength = static_cast<std::uint32_t>(n);
  request.targetMib = kHostUtf16;
  request.target = wide.data();
  request.targetCapacity = static_cast<std::uint32_t>((kTextUnits - 1) * sizeof(char16_t));
  std::u16string text;
  if (!IsFailure(TextConv_Convert(Converter(), &request))) {
    text.assign(wide.data(), request.targetCapacity / sizeof(char16_t));
  } else {
    for (std::size_t i = 0; i < n; ++i)
      text.push_back(narrow[i]);  // no converter: the bytes as Latin-1
  }
  p->setSearchText(text);
}

}  // namespace

std::uint16_t Preferences::U16(std::size_t at) const {
  return LoadLE16(bytes.data() + at);
}
std::uint32_t Preferences::U32(std::size_t at) const {
  return LoadLE32(bytes.data() + at);
}
void Preferences::SetU16(std::size_t at, std::uint16_t v) {
  StoreLE16(bytes.data() + at, v);
}
void Preferences::SetU32(std::size_t at, std::uint32_t v) {
  StoreLE32(bytes.data() + at, v);
}

std::u16string Preferences::Text(std::size_t at) const {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < kTextUnits; ++i) {
    const char16_t c = U16(at + 2 * i);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

void Preferences::SetText(std::size_t at, std::u16string_view text) {
  const std::size_t n = std::min(text.size(), kTextUnits - 1);
  for (std::size_t i = 0; i < kTextUnits; ++i)
    SetU16(at + 2 * i, i < n ? text[i] : u'\0');
}

void Prefs_SetDefaults(Preferences* p) noexcept {
  p->bytes.fill(0);
  p->setVersion(kPrefsVersion);
  p->setFlags(2);
  p->setLocalSettingsLimitKB(1000);
  p->setDefaultLocationFlags(2);
  p->setDefaultDisplayFlags(2);
  for (int band = 0; band < 4; ++band)
    p->setRegion(band, 25, 0);
  p->setKeys(1, 2, 1, 2);
  p->setFontFace(1, u"Verdana");
  p->setFontFace(2, u"Times New Roman");
  p->setFontFace(3, u"Verdana");
  p->setFontFace(4, u"Courier New");
  p->setLastCategory(0xFFFF);
}

std::uint32_t Prefs_Checksum(const Preferences& p) noexcept {
  std::uint32_t crc = kPrefsChecksumSeed;
  // The built-in module cannot fail on a whole in-memory buffer.
  (void)Checksum_Crc32(&ChecksumModule, p.bytes.data() + 4, kPrefsSize - 4, &crc);
  return crc;
}

void Prefs_Load(const KeyValueStore& store, Preferences* p) noexcept {
  std::vector<std::uint8_t> stored;
  // A value longer than the record is not ours either (the registry's query
  // of 772 bytes would fail on it).
  if (!store.ReadBinary(kSettings, "Preferences", &stored) || stored.size() < kPrefsMinimumSize ||
      stored.size() > kPrefsSize) {
    Prefs_SetDefaults(p);
    return;
  }
  Preferences read;
  std::memcpy(read.bytes.data(), stored.data(), stored.size());
  if (read.version() == 0 ||
      (stored.size() == kPrefsSize && Prefs_Checksum(read) != read.checksum())) {
    Prefs_SetDefaults(p);
    return;
  }
  if (stored.size() < kPrefsSize && read.version() == 1) MigrateNarrowSearchText(&read);
  *p = read;
}

bool Prefs_Save(KeyValueStore& store, Preferences* p) noexcept {
  p->setVersion(kPrefsVersion);
  p->SetU32(0, Prefs_Checksum(*p));
  return store.WriteBinary(kSettings, "Preferences", p->bytes.data(), kPrefsSize);
}

void Prefs_InitWindowState(WindowState* state) noexcept {
  *state = WindowState{};
}

void Prefs_LoadWindowState(const KeyValueStore& store, WindowState* state) noexcept {
  std::uint32_t flags = 0;
  if (store.ReadU32(kWindowState, "Flags", &flags)) state->flags = flags;
  std::string text;
  if (store.ReadString(kWindowState, "Main", &text) && text.size() > 1) {
    std::int32_t v[4];
    std::string_view rest = text;
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
      const std::size_t comma = i < 3 ? rest.find(',') : rest.size();
      ok = comma != std::string_view::npos && ParseInt(rest.substr(0, comma), &v[i]);
      if (ok && i < 3) rest.remove_prefix(comma + 1);
    }
    if (ok) {
      state->x = v[0];
      state->y = v[1];
      state->width = v[2];
      state->height = v[3];
    }
  }
  std::int32_t filter = 0;
  if (store.ReadString(kWindowState, "BrowseFilter", &text) && ParseInt(text, &filter))
    state->browseFilter = filter;
}

bool Prefs_SaveWindowState(KeyValueStore& store, const WindowState& s) noexcept {
  const std::string main = std::to_string(s.x) + "," + std::to_string(s.y) + "," +
                           std::to_string(s.width) + "," + std::to_string(s.height);
  const bool flags = store.WriteU32(kWindowState, "Flags", s.flags);
  const bool rect = store.WriteString(kWindowState, "Main", main);
  const bool filter =
      store.WriteString(kWindowState, "BrowseFilter", std::to_string(s.browseFilter));
  return flags && rect && filter;
}

void Prefs_SelectDefaultEncoding(Preferences* p) noexcept {
  const std::uint32_t current = p->defaultEncoding();
  if (current != 0) {
    const std::uint32_t* list = nullptr;
    std::uint32_t count = 0;
    if (!IsFailure(TextConv_ListCharsets(Converter(), &list, &count)) && list != nullptr &&
        std::find(list, list + count, current) != list + count) {
      return;
    }
  }
  std::uint32_t mib = 0;
  if (IsFailure(TextConv_GetDefaultCharset(Converter(), &mib)) || mib == 0 || mib > 0xFFFF)
    mib = kWindows1252;
  p->setDefaultEncoding(static_cast<std::uint16_t>(mib));
}

void Prefs_LoadAll(const KeyValueStore& store, Preferences* prefs, WindowState* state) noexcept {
  Prefs_InitWindowState(state);
  if (!store.Exists()) {
    Prefs_SetDefaults(prefs);
  } else {
    Prefs_Load(store, prefs);
    Prefs_LoadWindowState(store, state);
  }
  Prefs_SelectDefaultEncoding(prefs);
}

bool Prefs_SaveAll(KeyValueStore& store, Preferences* prefs, const WindowState& state) noexcept {
  const bool a = Prefs_Save(store, prefs);
  const bool b = Prefs_SaveWindowState(store, state);
  return a && b && store.Commit();
}

bool Prefs_WindowRectUsable(const WindowState& s, const ScreenRect& workArea) noexcept {
  return s.x >= 0 && s.y >= 0 && s.width >= 100 && s.height >= 100 &&
         std::int64_t{s.x} <= std::int64_t{workArea.right} - 20 &&
         std::int64_t{s.y} <= std::int64_t{workArea.bottom} - 20;
}
