#include "engine/formats/native_select.h"

#include "engine/formats/native_link.h"
#include "engine/formats/native_table.h"
#include "engine/formats/native_text.h"
#include "engine/runtime/allocator.h"

namespace {

std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// Where list key's option data starts in the extra stream.
std::uint32_t OptionData(const NativeDocState& s, const NativeSelectItem& item) {
  return s.extraBase[0] + item.optionOffset;
}

// The option names at `at`: an array of up to d + 1 pointers into one block
// of L bytes (entry 0 first); *count the options found. No names (L = 0, a
// failed allocation, an area past the stream): null and 0.
void ReadNames(NativeDocState& s, std::uint32_t at, const char* const** names,
               std::uint16_t* count) {
  *names = nullptr;
  *count = 0;
  const std::uint32_t d = NativeStore_ReadExtraU32(&s, at);
  const std::uint32_t l = NativeStore_ReadExtraU32(&s, at + 4);
  if (l == 0) return;
  // Each name takes at least its NUL: no more than L strings fit, whatever
  // the count says.
  const std::uint32_t slots = (d < l ? d : l) + 1;
  std::uint8_t* block = nullptr;
  if (IsFailure(NativeStore_ReadExtraBytes(&s, at + 8, l, false, &block))) return;
  const char** array = nullptr;
  if (IsFailure(Engine_AllocArray(slots, &array))) {
    Engine_Free(block);
    return;
  }
  block[l - 1] = 0;
  std::uint32_t found = 0;
  for (std::uint32_t p = 0; p < l && found < slots;) {
    array[found++] = reinterpret_cast<const char*>(block + p);
    while (block[p] != 0)
      ++p;
    ++p;
  }
  *names = array;
  *count = static_cast<std::uint16_t>(found - 1 > 0xFFFF ? 0xFFFF : found - 1);
}

}  // namespace

StatusCode SelectList_ReadItem(NativeDocState* s, std::uint32_t key,
                               NativeSelectItem* out) noexcept {
  if (s == nullptr || out == nullptr) return kBadArgument;
  NativeItem item{};
  const StatusCode r = NativeStore_ReadSelectItem(s, key, &item);
  if (IsFailure(r)) return r;
  const std::uint8_t* fixed = item.part[0];
  NativeSelectItem x{};
  x.flags = fixed[0];
  x.requestedWidth = static_cast<std::uint16_t>(item.part[1][0] + 256u * item.part[2][0]);
  x.optionOffset = Be16(fixed + 2) + 65536u * Be16(item.part[2] + 2);
  x.chosen = static_cast<std::uint16_t>(fixed[1] + 256u * item.part[1][1]);
  *out = x;
  return kOk;
}

StatusCode SelectList_ReadEntry(NativeDocState* s, std::uint32_t key, bool withNames,
                                SelectCtl* entry) noexcept {
  if (s == nullptr || entry == nullptr) return kBadArgument;
  NativeSelectItem item{};
  const StatusCode r = SelectList_ReadItem(s, key, &item);
  if (IsFailure(r)) return r;
  entry->flags = item.flags & 0x0Fu;
  entry->requestedWidth = static_cast<std::int16_t>(item.requestedWidth);
  entry->chosen = item.chosen;
  if (const NativeSelectEntry* cached = SelectList_Find(s, key)) entry->chosen = cached->chosen;
  entry->cachedWidth = entry->cachedHeight = entry->cachedBaseline = 0;
  entry->items = nullptr;
  entry->itemCount = 0;
  if (withNames || item.requestedWidth == 0)
    ReadNames(*s, OptionData(*s, item), &entry->items, &entry->itemCount);
  return kOk;
}

void SelectList_FreeEntry(SelectCtl* entry) noexcept {
  if (entry == nullptr || entry->items == nullptr) return;
  Engine_Free(const_cast<char*>(entry->items[0]));
  Engine_Free(const_cast<const char**>(entry->items));
  entry->items = nullptr;
  entry->itemCount = 0;
}

NativeSelectEntry* SelectList_Find(NativeDocState* s, std::uint32_t key) noexcept {
  if (s == nullptr) return nullptr;
  for (std::uint32_t i = 0; i < s->selects.count; ++i) {
    if (s->selects.keys[i] == key) return &s->selects.entries[i];
  }
  return nullptr;
}

StatusCode SelectList_Add(NativeDocState* s, std::uint32_t key,
                          const NativeSelectEntry& entry) noexcept {
  if (s == nullptr) return kBadArgument;
  if (NativeSelectEntry* e = SelectList_Find(s, key)) {
    *e = entry;
    return kOk;
  }
  NativeSelectCache& c = s->selects;
  if (c.count >= 0xFFFF) return kOutOfMemory;
  void* keys = c.keys;
  if (IsFailure(Engine_Realloc((c.count + 1) * sizeof(std::uint32_t), &keys))) return kOutOfMemory;
  c.keys = static_cast<std::uint32_t*>(keys);
  void* entries = c.entries;
  if (IsFailure(Engine_Realloc((c.count + 1) * sizeof(NativeSelectEntry), &entries)))
    return kOutOfMemory;  // the keys array is one longer than needed, harmlessly
  c.entries = static_cast<NativeSelectEntry*>(entries);
  c.keys[c.count] = key;
  c.entries[c.count] = entry;
  ++c.count;
  return kOk;
}

void SelectList_FreeCache(NativeDocState* s) noexcept {
  if (s == nullptr) return;
  Engine_Free(s->selects.keys);
  Engine_Free(s->selects.entries);
  s->selects = NativeSelectCache{};
}

StatusCode SelectList_GetOptionTarget(NativeDocState* s, std::uint32_t key, std::uint32_t option,
                                      std::uint32_t* value) noexcept {
  if (s == nullptr || value == nullptr) return kBadArgument;
  NativeSelectItem item{};
  const StatusCode r = SelectList_ReadItem(s, key, &item);
  if (IsFailure(r)) return r;
  const std::uint32_t at = OptionData(*s, item);
  const std::uint32_t names = NativeStore_ReadExtraU32(s, at);
  const std::uint64_t targetsAt = std::uint64_t{at} + 8 + NativeStore_ReadExtraU32(s, at + 4);
  if (targetsAt + 4 + 4u * std::uint64_t{option} > 0xFFFFFFFFu) return kDocLinkNoTarget;
  const std::uint32_t targets = NativeStore_ReadExtraU32(s, static_cast<std::uint32_t>(targetsAt));
  if (option == 0 || option > names || option > targets) return kDocLinkNoTarget;
  const std::uint32_t target =
      NativeStore_ReadExtraU32(s, static_cast<std::uint32_t>(targetsAt + 4u * option));
  return NativeStore_ClassifyLinkTarget(target, value);
}

StatusCode SelectList_Measure(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                              const DeviceFontSpec& font, std::uint32_t key, std::int16_t* width,
                              std::int16_t* height, std::int16_t* baseline) noexcept {
  if (s == nullptr || device == nullptr || width == nullptr || height == nullptr ||
      baseline == nullptr)
    return kBadArgument;
  if (const NativeSelectEntry* cached = SelectList_Find(s, key);
      cached != nullptr && cached->width != 0) {
    *width = static_cast<std::int16_t>(cached->width);
    *height = static_cast<std::int16_t>(cached->height);
    *baseline = static_cast<std::int16_t>(cached->baseline);
    return kOk;
  }
  SelectCtl entry{};
  StatusCode r = SelectList_ReadEntry(s, key, false, &entry);
  if (IsFailure(r)) return r;
  SelectCtlMeasure m{};
  m.ctx = ctx;
  m.font = &font;
  r = DeviceOf(device).selectCtlCommand(device, SelectCtlCode::Measure, &entry, &m);
  SelectList_FreeEntry(&entry);
  if (IsFailure(r)) return r;
  r = SelectList_Add(s, key,
                     {static_cast<std::uint16_t>(m.width), static_cast<std::uint16_t>(m.height),
                      static_cast<std::uint16_t>(m.baseline), entry.chosen});
  if (IsFailure(r)) return r;
  *width = m.width;
  *height = m.height;
  *baseline = m.baseline;
  return kOk;
}

StatusCode SelectList_Draw(NativeDocState* s, EngineObject* device, std::uint32_t key,
                           SelectCtlPlace* place) noexcept {
  if (s == nullptr || device == nullptr || place == nullptr) return kBadArgument;
  SelectCtl entry{};
  StatusCode r = SelectList_ReadEntry(s, key, true, &entry);
  if (IsFailure(r)) return r;
  r = DeviceOf(device).selectCtlCommand(device, SelectCtlCode::DrawClosed, &entry, place);
  SelectList_FreeEntry(&entry);
  return r;
}
