// The document list of the categorised open, without a window: the rows
// (file name, size, date), their six sort keys and the texts of the size
// column.
#pragma once

#include <cstdint>
#include <string>

#include "engine/runtime/date.h"

// One document filed under the chosen category.
struct CategoryDocRow {
  std::u16string name;      // the file name (the path after its last '/' or '\')
  std::uint32_t size = 0;   // bytes
  DateTime date{};          // the file's last write
  std::uint32_t index = 0;  // the settings file's place in the store's list
};

// Sort keys: name, size, date ascending; the same three descending.
enum CategorySortKey : int {
  kSortNameUp = 0,
  kSortSizeUp = 1,
  kSortDateUp = 2,
  kSortNameDown = 3,
  kSortSizeDown = 4,
  kSortDateDown = 5,
};

// Three-way comparison of names: negative, zero or positive. The reader's
// locale ignoring case in the front end; the dictionary's case-insensitive
// order by default.
using CategoryNameCompare = int (*)(const std::u16string& a, const std::u16string& b);
int CategorySort_DefaultNameCompare(const std::u16string& a, const std::u16string& b);

// Whether row a goes before row b under the key. Ties: by name, then date,
// then size; by size, then name (ascending), then date; by date, then name,
// then size. The descending keys reverse the order, except that rows of
// equal size stay in ascending name order.
bool CategorySort_Less(int key, const CategoryDocRow& a, const CategoryDocRow& b,
                       CategoryNameCompare compare = CategorySort_DefaultNameCompare);

// The key after a click on column 0-2: the column's ascending key, or its
// descending key when the ascending one was in force.
int CategorySort_KeyAfterClick(int current, int column) noexcept;

// The size column: kilobytes rounded up, "%lu KB".
std::u16string CategorySort_SizeText(std::uint32_t bytes);
// The file name part of a path (after its last '/' or '\').
std::u16string CategorySort_FileName(const std::u16string& path);
