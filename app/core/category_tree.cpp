#include "app/core/category_tree.h"

#include <algorithm>

namespace {

bool IsHighSurrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

bool CategoryTree_Build(EngineObject* dict, const DictListItem* items, std::uint32_t count,
                        std::vector<CategoryNode>* nodes) {
  // parents[level] is the node index of the last item seen at that level.
  std::vector<int> parents;
  int previousLevel = -1;
  for (std::uint32_t i = 0; i < count; ++i) {
    const DictListItem& item = items[i];
    const int level = item.depth;
    if (level > previousLevel + 1 || level > static_cast<int>(kCategoryMaxLevel)) return false;
    char16_t text[kDictNameTextUnits + 1] = {};
    if (item.name == nullptr || IsFailure(Dict_NameToText(dict, item.name, nullptr, text)))
      return false;
    CategoryNode node;
    node.id = item.id;
    node.level = item.depth;
    node.parent = level == 0 ? -1 : parents[static_cast<std::size_t>(level - 1)];
    node.name = text;
    parents.resize(static_cast<std::size_t>(level));
    parents.push_back(static_cast<int>(nodes->size()));
    nodes->push_back(std::move(node));
    previousLevel = level;
  }
  return true;
}

bool CategoryTree_BuildFromDict(EngineObject* dict, std::uint32_t id,
                                std::vector<CategoryNode>* nodes) {
  if (dict == nullptr) return false;
  std::uint32_t count = 0;
  DictListItem* items = nullptr;
  if (IsFailure(Dict_ListChildren(dict, id, kDictNone, &count, &items))) return false;
  const bool built = CategoryTree_Build(dict, items, count, nodes);
  (void)Dict_FreeList(dict, items);  // frees in every case
  return built;
}

bool CategoryIds_Contains(const std::uint16_t* list, std::uint16_t id) noexcept {
  if (list == nullptr) return false;
  const std::uint16_t* first = list + 1;
  const std::uint16_t* last = first + list[0];
  return std::binary_search(first, last, id);
}

std::vector<std::uint16_t> CategoryIds_Read(const std::uint16_t* list) {
  if (list == nullptr) return {};
  return std::vector<std::uint16_t>(list + 1, list + 1 + list[0]);
}

void CategoryIds_Normalise(std::vector<std::uint16_t>* ids) {
  std::sort(ids->begin(), ids->end());
  ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
}

bool CategoryIds_Same(std::vector<std::uint16_t> a, std::vector<std::uint16_t> b) {
  CategoryIds_Normalise(&a);
  CategoryIds_Normalise(&b);
  return a == b;
}

std::vector<std::uint16_t> CategoryIds_ToList(const std::vector<std::uint16_t>& ids) {
  std::vector<std::uint16_t> list;
  list.reserve(ids.size() + 1);
  list.push_back(static_cast<std::uint16_t>(ids.size()));
  list.insert(list.end(), ids.begin(), ids.end());
  return list;
}

CategoryNameCheck CategoryName_Check(const std::u16string& name) noexcept {
  if (name.empty()) return CategoryNameCheck::Empty;
  if (name.find(u'/') != std::u16string::npos) return CategoryNameCheck::HasSlash;
  return CategoryNameCheck::Ok;
}

std::size_t CategoryName_Length(const std::u16string& name) noexcept {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < name.size(); ++i, ++characters) {
    if (IsHighSurrogate(name[i]) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) ++i;
  }
  return characters;
}

std::u16string CategoryName_Limit(const std::u16string& name, std::size_t max) {
  std::size_t i = 0, characters = 0;
  while (i < name.size() && characters < max) {
    const bool pair =
        IsHighSurrogate(name[i]) && i + 1 < name.size() && IsLowSurrogate(name[i + 1]);
    i += pair ? 2 : 1;
    ++characters;
  }
  return name.substr(0, i);
}

std::u16string CategoryName_FitAt(const std::u16string& name, std::size_t* cursor,
                                  std::size_t max) {
  const std::size_t length = CategoryName_Length(name);
  if (length <= max) return name;
  std::size_t excess = length - max;
  std::size_t end = std::min(*cursor, name.size());
  if (end > 0 && end < name.size() && IsHighSurrogate(name[end - 1]) && IsLowSurrogate(name[end]))
    ++end;  // never between the halves of a pair
  std::size_t start = end;
  while (excess > 0 && start > 0) {
    const bool pair =
        start >= 2 && IsLowSurrogate(name[start - 1]) && IsHighSurrogate(name[start - 2]);
    start -= pair ? 2 : 1;
    --excess;
  }
  std::u16string fitted = name.substr(0, start) + name.substr(end);
  *cursor = start;
  // Nothing before the cursor to drop: the end goes.
  if (excess > 0) fitted = CategoryName_Limit(fitted, max);
  return fitted;
}
