// Inline select lists of native documents: items of attribute table 12 whose
// option names and option link targets lie in the extra data stream, and the
// handler's cache of what was measured and chosen per list.
//
// The item of a list (NativeStore_ReadSelectItem), with its split numbers:
//   flags            fixed byte 0: bits 0-3 for the control (bit 0 the
//                    requested width is a percentage, bit 3 flat), bits 4-5
//                    parts 1 and 2 present
//   requested width  part 1 byte 0 + 256 * part 2 byte 0 (0: from the names)
//   option offset    fixed bytes 2-3 + 65536 * part 2 bytes 2-3 (big-endian),
//                    from the extra stream's base offset 0
//   chosen option    fixed byte 1 + 256 * part 1 byte 1
//
// Option data (big-endian): u32 option count d, u32 length L of the names,
// L bytes of NUL-terminated names (string 0 is not an option, string k names
// option k), then u32 target count and one u32 link target per option from
// option 1 on.
#pragma once

#include <cstdint>

#include "engine/device/select_ctl.h"
#include "engine/formats/native_doc.h"

struct NativeSelectItem {
  std::uint8_t flags;
  std::uint16_t requestedWidth;
  std::uint32_t optionOffset;
  std::uint16_t chosen;
};

// The item of list key; kDocMalformed (see NativeStore_ReadSelectItem).
StatusCode SelectList_ReadItem(NativeDocState* s, std::uint32_t key,
                               NativeSelectItem* out) noexcept;

// Fills a control record for list key: flags, chosen option (the cached
// choice when the list is in the cache, else the item's), requested width,
// no cached measures, and the option names when the requested width is 0 or
// withNames is set (*items an array of count + 1 names, item 0 not an
// option; no names: itemCount 0 and items null). The names are freed by
// SelectList_FreeEntry. A failure leaves nothing allocated.
StatusCode SelectList_ReadEntry(NativeDocState* s, std::uint32_t key, bool withNames,
                                SelectCtl* entry) noexcept;
void SelectList_FreeEntry(SelectCtl* entry) noexcept;

// The cache entry of key, or null.
NativeSelectEntry* SelectList_Find(NativeDocState* s, std::uint32_t key) noexcept;
// Adds or updates the cache entry of key; kOutOfMemory.
StatusCode SelectList_Add(NativeDocState* s, std::uint32_t key,
                          const NativeSelectEntry& entry) noexcept;
// Frees the cache (the view asks before it paginates again; also at close).
void SelectList_FreeCache(NativeDocState* s) noexcept;

// The link target of option (1-based) of list key, classified as links are
// (NativeStore_ClassifyLinkTarget); kDocLinkNoTarget when option is 0 or
// past the names or the targets.
StatusCode SelectList_GetOptionTarget(NativeDocState* s, std::uint32_t key, std::uint32_t option,
                                      std::uint32_t* value) noexcept;

// Measures list key through the device's drop-down list command in the
// given font: a list already measured answers from the cache without calling
// the device.
StatusCode SelectList_Measure(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                              const DeviceFontSpec& font, std::uint32_t key, std::int16_t* width,
                              std::int16_t* height, std::int16_t* baseline) noexcept;
// Draws list key closed with its chosen option at place (the device's
// command fills place's outputs).
StatusCode SelectList_Draw(NativeDocState* s, EngineObject* device, std::uint32_t key,
                           SelectCtlPlace* place) noexcept;
