// The rules of the category dialogs that need no window: the tree built from
// the category dictionary's listing, category id lists, and the names the
// reader may give a category.
//
// A category id list is the stored form of a document's categories: a u16
// count followed by that many u16 ids in ascending order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/runtime/core.h"
#include "engine/runtime/dict.h"

// Deepest level of the tree (0 is the top) and the deepest level under which
// a sub-category may still be made.
constexpr std::uint32_t kCategoryMaxLevel = 31;
constexpr int kCategoryMaxSubDepth = 9;
// Characters of a category name.
constexpr std::size_t kCategoryNameMax = 29;

// One category of the tree in pre-order: parent is the index of its parent
// in the same vector (-1 at the top).
struct CategoryNode {
  std::uint16_t id = kDictNone;
  std::uint16_t level = 0;
  int parent = -1;
  std::u16string name;
};

// Builds the tree from a listing in pre-order. A level deeper than the
// previous item must be exactly one deeper and at most kCategoryMaxLevel; a
// shallower level returns to that level's parent; a name record that cannot
// be read ends the building too. False at the first such fault, with the
// nodes before it kept in *nodes.
bool CategoryTree_Build(EngineObject* dict, const DictListItem* items, std::uint32_t count,
                        std::vector<CategoryNode>* nodes);
// Lists the whole dictionary (or the subtree under id) and builds it. A
// dictionary that cannot be listed builds nothing and answers false.
bool CategoryTree_BuildFromDict(EngineObject* dict, std::uint32_t id,
                                std::vector<CategoryNode>* nodes);

// Whether a count-first list holds the id (bisection; a null list holds
// nothing).
bool CategoryIds_Contains(const std::uint16_t* list, std::uint16_t id) noexcept;
// The ids of a count-first list (empty for null).
std::vector<std::uint16_t> CategoryIds_Read(const std::uint16_t* list);
// Sorts the ids ascending and drops repeats, giving the stored order.
void CategoryIds_Normalise(std::vector<std::uint16_t>* ids);
// Whether two id sets are the same (both compared in stored order).
bool CategoryIds_Same(std::vector<std::uint16_t> a, std::vector<std::uint16_t> b);
// The count-first list of the ids.
std::vector<std::uint16_t> CategoryIds_ToList(const std::vector<std::uint16_t>& ids);

enum class CategoryNameCheck { Ok, Empty, HasSlash };
CategoryNameCheck CategoryName_Check(const std::u16string& name) noexcept;
// The name cut to at most max characters, never inside a character (a
// surrogate pair counts as one character and is kept or dropped whole).
std::u16string CategoryName_Limit(const std::u16string& name, std::size_t max = kCategoryNameMax);
// An edited name brought back within max characters the way a limited
// field takes typing and pasting: the characters just before the cursor
// (what was just typed or pasted there) are dropped, whole, until it fits;
// *cursor follows them.
std::u16string CategoryName_FitAt(const std::u16string& name, std::size_t* cursor,
                                  std::size_t max = kCategoryNameMax);
// Characters (not UTF-16 units) of a name.
std::size_t CategoryName_Length(const std::u16string& name) noexcept;
