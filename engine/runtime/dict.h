// The string dictionary: a tree of names addressed by '/'-separated paths,
// with 16-bit entry ids that stay stable while entries come and go.
//
// The settings store keeps the user's categories in one (file "cat") and the
// category dialogs walk and edit it. The whole tree lives in two engine
// blocks, an entry table and a name pool, and is saved and loaded as one
// little-endian byte image:
//   u16 k (number of size words, 2 when written), k u32 size words
//   (word 1 = header length + entry size x slots, word 2 = pool capacity),
//   the header, every entry slot (free ones included), the pool.
// Header (16 bytes + caller bytes): u8 header length, u8 entry size, u8
// caller header bytes, u8 caller entry bytes, u16 first top-level entry, u16
// first free slot, u16 slots, u16 entries in use, u16 pool capacity, u16 pool
// bytes used. Entry (10 bytes + caller bytes): u16 name offset (0xFFFF free),
// u16 parent, u16 next sibling (next free slot in a free one), u16 first
// child, u16 reference count. 0xFFFF stands for "none" throughout.
// A name record is u8 n (1..254) then: n bytes + NUL when every character is
// below 256 and the first is below 0x80; 0x80, n bytes + NUL when every
// character is below 256 and the first is 0x80 or above; 0xC0 and n UTF-16
// units (no NUL) otherwise. The pool is tiled by the names of the entries in
// use, in order of creation.
//
// Names are unique within a level by exact comparison; sorted insertion
// orders a level by a case-insensitive comparison that the host may replace
// (Dict_SetCollator). Create and Load are called on DictModule and create an
// instance; the others on the instance. Every id argument is a 32-bit value
// of which 0xFFFF and 0xFFFFFFFF both mean "none" (the top level).
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x01A.
// A path walk that added at least one entry.
constexpr StatusCode kDictAdded = StatusCode{1};
constexpr StatusCode kDictBadSizes = MakeFailure(Facility::Dict, 0x01);
constexpr StatusCode kDictMalformed = MakeFailure(Facility::Dict, 0x02);  // image or chains
constexpr StatusCode kDictTableFull = MakeFailure(Facility::Dict, 0x03);
constexpr StatusCode kDictPoolFull = MakeFailure(Facility::Dict, 0x04);
constexpr StatusCode kDictListOverflow = MakeFailure(Facility::Dict, 0x05);
constexpr StatusCode kDictBadPath = MakeFailure(Facility::Dict, 0x06);  // empty, deep, free entry
constexpr StatusCode kDictNameTooLong = MakeFailure(Facility::Dict, 0x07);
constexpr StatusCode kDictIdOutOfRange = MakeFailure(Facility::Dict, 0x08);
constexpr StatusCode kDictFreeSlot = MakeFailure(Facility::Dict, 0x09);
constexpr StatusCode kDictRefCount = MakeFailure(Facility::Dict, 0x0A);
constexpr StatusCode kDictNameExists = MakeFailure(Facility::Dict, 0x0B);
constexpr StatusCode kDictBufferTooSmall = MakeFailure(Facility::Dict, 0x0C);

constexpr std::uint16_t kDictNone = 0xFFFF;
constexpr std::uint32_t kDictMaxName = 254;        // characters of one name
constexpr std::uint32_t kDictMaxPathAdd = 16;      // components one path may add
constexpr std::uint32_t kDictMaxPathRead = 32;     // levels of a path read back
constexpr std::uint32_t kDictNameTextUnits = 255;  // buffer of Dict_NameToText
constexpr std::uint32_t kDictMaxSlots = 8191;      // the table grows no further past this
constexpr std::uint32_t kDictMaxPool = 64999;      // nor the pool past this capacity

// Insert flags of AddPath and AddChild. None of bits 1-2: front of the level.
enum DictInsertFlags : std::uint32_t {
  kDictInsertUnder = 1,   // AddChild: under the given entry instead of beside it
  kDictInsertAppend = 2,  // at the end of the level
  kDictInsertSorted = 4,  // after the last name that does not sort after the new one
};

// Kinds of Dict_GetRelative.
enum DictRelative : std::uint32_t { kDictParent = 0, kDictFirstChild = 1, kDictPrevSibling = 2 };

// One item of Dict_ListChildren. name points into the pool and is valid only
// until the dictionary next changes.
struct DictListItem {
  std::uint16_t id;
  std::uint16_t depth;
  const std::uint8_t* name;
};

struct DictOps {
  CoreEndWord word0;
  // 1 (module): an empty dictionary with the given caller bytes per header and
  // per entry; odd sizes, more than 236 header or 242 entry bytes give
  // kDictBadSizes.
  StatusCode (*create)(EngineObject* module, std::uint32_t headerBytes, std::uint32_t entryBytes,
                       EngineObject** out) noexcept;
  // 2: frees pool, table and object.
  StatusCode (*destroy)(EngineObject* dict) noexcept;
  // 3 (module): reads an image at position of stream. *size gives the bytes
  // available (0xFFFFFFFF: to the stream's end) and is lowered by what was
  // read. Every size, chain and name record is checked: kDictMalformed.
  StatusCode (*load)(EngineObject* module, EngineObject* stream, std::uint32_t position,
                     std::uint32_t* size, EngineObject** out) noexcept;
  // 4: writes the image at position; *written (optional) gets its length.
  StatusCode (*save)(EngineObject* dict, EngineObject* stream, std::uint32_t position,
                     std::uint32_t* written) noexcept;
  // 5: looks up (and with create non-zero adds) a '/'-separated path given as
  // 8-bit text or, when path8 is null, UTF-16; length 0 means NUL-terminated.
  // Empty components are skipped. Empty path or more than 16 components:
  // kDictBadPath; a component over 254 characters: kDictNameTooLong (both
  // checked before anything changes). Missing components without create: 1
  // (not found, no id). Else 1 when anything was added, 0 when all existed;
  // *id receives the last component's id. Added names use insertFlags.
  StatusCode (*addPath)(EngineObject* dict, const char* path8, const char16_t* path16,
                        std::uint32_t length, std::uint32_t create, std::uint32_t insertFlags,
                        std::uint16_t* id) noexcept;
  // 6: adds delta to the entry's reference count. Ids of 0x8000 and above are
  // ignored (0); kDictIdOutOfRange, kDictFreeSlot, kDictRefCount (would pass
  // 0xFFFF or go below 0). A count reaching 0 on an entry without children
  // removes it, and each parent in turn that is then childless at count 0.
  StatusCode (*adjustRefCount)(EngineObject* dict, std::uint32_t id, std::int32_t delta) noexcept;
  // 7: adds one NUL-terminated name (8-bit, or UTF-16 when name8 is null):
  // with kDictInsertUnder under id, else beside it (top level for "none").
  // An exactly equal name in that level: kDictNameExists.
  StatusCode (*addChild)(EngineObject* dict, const char* name8, const char16_t* name16,
                         std::uint32_t id, std::uint32_t insertFlags,
                         std::uint16_t* newId) noexcept;
  // 8: renames an entry. Another entry of that name in its level:
  // kDictNameExists and its id in *conflict (the entry's own name: 0, nothing
  // changes). With resort the entry moves to its sorted place.
  StatusCode (*rename)(EngineObject* dict, std::uint32_t id, const char* name8,
                       const char16_t* name16, std::uint32_t resort,
                       std::uint16_t* conflict) noexcept;
  // 9: with list: deletes the entry and all its descendants and returns their
  // ids as a count-first u16 list sorted ascending (free with FreeList).
  // Without: deletes the entry and puts its children in its place.
  StatusCode (*removeSubtree)(EngineObject* dict, std::uint32_t id, std::uint16_t** list) noexcept;
  // 10: removes everything and frees table and pool.
  StatusCode (*clear)(EngineObject* dict) noexcept;
  // 11: pre-order list of the level under id (out of range: the top level)
  // and its descendants of depth at most depthLimit (0 = that level only).
  // No entries: *count 0 and *items null. Free with FreeList.
  StatusCode (*listChildren)(EngineObject* dict, std::uint32_t id, std::uint32_t depthLimit,
                             std::uint32_t* count, DictListItem** items) noexcept;
  // 12: frees a list of RemoveSubtree or ListChildren; null accepted.
  StatusCode (*freeList)(EngineObject* dict, void* list) noexcept;
  // 13: kDictParent (none for the top level or an id out of range),
  // kDictFirstChild (the first top-level entry for an id out of range),
  // kDictPrevSibling (none for the first; kDictMalformed when the entry is not
  // in its chain); other kinds kNotSupported.
  StatusCode (*getRelative)(EngineObject* dict, std::uint32_t id, std::uint32_t kind,
                            std::uint16_t* out) noexcept;
  // 14: 0 when candidate is the entry's parent (parentOnly) or any ancestor
  // ("none" is the ancestor of everything), else kNo.
  StatusCode (*isAncestor)(EngineObject* dict, std::uint32_t candidate, std::uint32_t id,
                           std::uint32_t parentOnly) noexcept;
  // 15: the path "/a/b" of an entry with its NUL, into an 8-bit or UTF-16
  // buffer (at most one given) of *size characters. *size receives the
  // needed size; a buffer too small gives kDictBufferTooSmall (nothing
  // written). More than 32 levels: kDictMalformed; a free slot: kDictBadPath.
  StatusCode (*getPath)(EngineObject* dict, std::uint32_t id, char* path8, char16_t* path16,
                        std::uint32_t* size) noexcept;
  // 16: the entry's ancestors, root first, into ids (null: count only);
  // *count too small: kDictBufferTooSmall with the needed count.
  StatusCode (*getAncestors)(EngineObject* dict, std::uint32_t id, std::uint16_t* ids,
                             std::uint32_t* count) noexcept;
  // 17: a name record as NUL-terminated text into a buffer of at least 255
  // units: 8-bit (characters above 255 become '?') or UTF-16 when text8 is
  // null. kBadArgument for a malformed record.
  StatusCode (*nameToText)(EngineObject* dict, const std::uint8_t* name, char* text8,
                           char16_t* text16) noexcept;
  // 18: sorts a count-first u16 list ascending in place.
  StatusCode (*sortIndexList)(EngineObject* dict, std::uint16_t* list) noexcept;
  CoreEndWord end;
};

extern EngineObject DictModule;

StatusCode Dict_Create(EngineObject* module, std::uint32_t headerBytes, std::uint32_t entryBytes,
                       EngineObject** out) noexcept;
StatusCode Dict_Destroy(EngineObject* dict) noexcept;
StatusCode Dict_Load(EngineObject* module, EngineObject* stream, std::uint32_t position,
                     std::uint32_t* size, EngineObject** out) noexcept;
StatusCode Dict_Save(EngineObject* dict, EngineObject* stream, std::uint32_t position,
                     std::uint32_t* written) noexcept;
StatusCode Dict_AddPath(EngineObject* dict, const char* path8, const char16_t* path16,
                        std::uint32_t length, std::uint32_t create, std::uint32_t insertFlags,
                        std::uint16_t* id) noexcept;
StatusCode Dict_AdjustRefCount(EngineObject* dict, std::uint32_t id, std::int32_t delta) noexcept;
StatusCode Dict_AddChild(EngineObject* dict, const char* name8, const char16_t* name16,
                         std::uint32_t id, std::uint32_t insertFlags,
                         std::uint16_t* newId) noexcept;
StatusCode Dict_Rename(EngineObject* dict, std::uint32_t id, const char* name8,
                       const char16_t* name16, std::uint32_t resort,
                       std::uint16_t* conflict) noexcept;
StatusCode Dict_RemoveSubtree(EngineObject* dict, std::uint32_t id, std::uint16_t** list) noexcept;
StatusCode Dict_Clear(EngineObject* dict) noexcept;
StatusCode Dict_ListChildren(EngineObject* dict, std::uint32_t id, std::uint32_t depthLimit,
                             std::uint32_t* count, DictListItem** items) noexcept;
StatusCode Dict_FreeList(EngineObject* dict, void* list) noexcept;
StatusCode Dict_GetRelative(EngineObject* dict, std::uint32_t id, std::uint32_t kind,
                            std::uint16_t* out) noexcept;
StatusCode Dict_IsAncestor(EngineObject* dict, std::uint32_t candidate, std::uint32_t id,
                           std::uint32_t parentOnly) noexcept;
StatusCode Dict_GetPath(EngineObject* dict, std::uint32_t id, char* path8, char16_t* path16,
                        std::uint32_t* size) noexcept;
StatusCode Dict_GetAncestors(EngineObject* dict, std::uint32_t id, std::uint16_t* ids,
                             std::uint32_t* count) noexcept;
StatusCode Dict_NameToText(EngineObject* dict, const std::uint8_t* name, char* text8,
                           char16_t* text16) noexcept;
StatusCode Dict_SortIndexList(EngineObject* dict, std::uint16_t* list) noexcept;

// The case-insensitive ordering of names (sorted insertion here, favourites
// and colour themes in the settings store). Answers kCompareEqual,
// kCompareLess or kCompareGreater. The default folds letter case of Latin,
// Greek and Cyrillic letters and compares code units; a host with a locale
// collator installs its own. Passing null restores the default; the previous
// comparator is returned.
using DictCollateFn = StatusCode (*)(const char16_t* a, std::uint32_t aLength, const char16_t* b,
                                     std::uint32_t bLength) noexcept;
DictCollateFn Dict_SetCollator(DictCollateFn collate) noexcept;
StatusCode Dict_CompareNoCase(const char16_t* a, std::uint32_t aLength, const char16_t* b,
                              std::uint32_t bLength) noexcept;
// The default fold of one UTF-16 unit.
char16_t Dict_FoldCase(char16_t unit) noexcept;
