// Loads a dictionary image from arbitrary bytes; a loaded dictionary is then
// walked, edited and saved again, so every accepted image must be coherent.
#include <cstddef>
#include <cstdint>

#include "engine/runtime/dict.h"
#include "engine/runtime/mem_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, const_cast<std::uint8_t*>(data),
                       static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(size),
                       kMemCreateCallerOwns, &stream) != kOk)
    return 0;
  std::uint32_t avail = 0xFFFFFFFFu;
  EngineObject* dict = nullptr;
  if (Dict_Load(&DictModule, stream, 0, &avail, &dict) == kOk) {
    std::uint32_t count = 0;
    DictListItem* items = nullptr;
    if (Dict_ListChildren(dict, kDictNone, 64, &count, &items) == kOk) {
      for (std::uint32_t i = 0; i < count; ++i) {
        char16_t text[kDictNameTextUnits];
        (void)Dict_NameToText(dict, items[i].name, nullptr, text);
        char16_t path[64 * 256];
        std::uint32_t pathSize = sizeof path / sizeof path[0];
        (void)Dict_GetPath(dict, items[i].id, nullptr, path, &pathSize);
      }
      if (count > 0) {
        (void)Dict_Rename(dict, items[0].id, "renamed", nullptr, 1, nullptr);
        std::uint16_t* removed = nullptr;
        if (Dict_RemoveSubtree(dict, items[count - 1].id, &removed) == kOk)
          (void)Dict_FreeList(dict, removed);
      }
      (void)Dict_FreeList(dict, items);
    }
    std::uint16_t id = 0;
    (void)Dict_AddPath(dict, "fuzz/added/path", nullptr, 0, 1, kDictInsertSorted, &id);
    EngineObject* out = nullptr;
    if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &out) == kOk) {
      (void)Dict_Save(dict, out, 0, nullptr);
      (void)MemStream_Close(out);
    }
    (void)Dict_Destroy(dict);
  }
  (void)MemStream_Close(stream);
  return 0;
}
