// The category dialogs' rules without a window: the tree built from the
// dictionary's listing (and where a damaged listing stops it), id lists in
// their stored ascending order, names, and the document list's six sort
// keys with their tie rules.
#include "app/core/category_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/core/category_sort.h"
#include "engine/runtime/module_table.h"
#include "tests/support/wide_text.h"

namespace {

class Dict {
 public:
  Dict() { EXPECT_EQ(Dict_Create(g_DictModule, 0, 0, &dict_), kOk); }
  ~Dict() { (void)Dict_Destroy(dict_); }
  std::uint16_t Add(const std::u16string& path) {
    std::uint16_t id = 0;
    EXPECT_FALSE(IsFailure(Dict_AddPath(dict_, nullptr, path.c_str(),
                                        static_cast<std::uint32_t>(path.size()), 1,
                                        kDictInsertSorted, &id)));
    return id;
  }
  EngineObject* get() const { return dict_; }

 private:
  EngineObject* dict_ = nullptr;
};

// "name (parent's name)" per node, for compact comparisons.
std::vector<std::string> Shape(const std::vector<CategoryNode>& nodes) {
  std::vector<std::string> out;
  for (const CategoryNode& n : nodes)
    out.push_back(U8(n.name) + (n.parent < 0 ? "" : " < " + U8(nodes[n.parent].name)));
  return out;
}

TEST(CategoryTreeTest, BuildsTheWholeDictionaryWithParents) {
  Dict dict;
  dict.Add(u"Fiction/Crime/Classic");
  dict.Add(u"Fiction/Poetry");
  dict.Add(u"Business");
  const std::uint16_t crime = dict.Add(u"Fiction/Crime");
  std::vector<CategoryNode> nodes;
  ASSERT_TRUE(CategoryTree_BuildFromDict(dict.get(), kDictNone, &nodes));
  EXPECT_EQ(Shape(nodes), (std::vector<std::string>{"Business", "Fiction", "Crime < Fiction",
                                                    "Classic < Crime", "Poetry < Fiction"}));
  EXPECT_EQ(nodes[2].id, crime);
  EXPECT_EQ(nodes[3].level, 2);

  // The subtree under one entry (as a renamed item is rebuilt).
  std::vector<CategoryNode> under;
  ASSERT_TRUE(CategoryTree_BuildFromDict(dict.get(), crime, &under));
  EXPECT_EQ(Shape(under), std::vector<std::string>{"Classic"});

  // No dictionary: nothing, and a failure.
  std::vector<CategoryNode> none;
  EXPECT_FALSE(CategoryTree_BuildFromDict(nullptr, kDictNone, &none));
  EXPECT_TRUE(none.empty());
}

TEST(CategoryTreeTest, DamagedListingsStopTheBuildingAtTheFault) {
  Dict dict;  // only for reading name records
  const std::uint8_t name[] = {1, 'n', 0};
  const std::uint8_t badName[] = {0, 0};  // a name of no characters: not a record
  struct Case {
    const char* what;
    std::vector<std::uint16_t> levels;
    int badAt;  // item with an unreadable name, or -1
    bool ok;
    std::size_t built;
    std::vector<int> parents;
  };
  std::vector<std::uint16_t> deepest(32);
  for (std::uint16_t i = 0; i < 32; ++i)
    deepest[i] = i;
  std::vector<std::uint16_t> tooDeep = deepest;
  tooDeep.push_back(32);
  std::vector<int> chain(32);
  for (int i = 0; i < 32; ++i)
    chain[static_cast<std::size_t>(i)] = i - 1;
  const Case cases[] = {
      {"shallower returns to that level's parent",
       {0, 1, 2, 1, 0, 1},
       -1,
       true,
       6,
       {-1, 0, 1, 0, -1, 4}},
      {"a level skipped stops before it", {0, 1, 3, 1}, -1, false, 2, {-1, 0}},
      {"a first item below the top stops at once", {1, 2}, -1, false, 0, {}},
      {"level 31 is the deepest", deepest, -1, true, 32, chain},
      {"level 32 stops", tooDeep, -1, false, 32, chain},
      {"an unreadable name stops", {0, 1, 1}, 2, false, 2, {-1, 0}},
  };
  for (const Case& c : cases) {
    std::vector<DictListItem> items;
    for (std::size_t i = 0; i < c.levels.size(); ++i)
      items.push_back({static_cast<std::uint16_t>(i), c.levels[i],
                       static_cast<int>(i) == c.badAt ? badName : name});
    std::vector<CategoryNode> nodes;
    EXPECT_EQ(CategoryTree_Build(dict.get(), items.data(), static_cast<std::uint32_t>(items.size()),
                                 &nodes),
              c.ok)
        << c.what;
    ASSERT_EQ(nodes.size(), c.built) << c.what;
    std::vector<int> parents;
    for (const CategoryNode& n : nodes)
      parents.push_back(n.parent);
    EXPECT_EQ(parents, c.parents) << c.what;
  }
}

TEST(CategoryIdsTest, CheckedIdsAreStoredAscendingAndComparedAsSets) {
  // Ids collected from a tree come in tree order; the stored list is
  // ascending, which lookups by bisection rely on.
  std::vector<std::uint16_t> collected{9, 2, 14, 5};
  CategoryIds_Normalise(&collected);
  const std::vector<std::uint16_t> list = CategoryIds_ToList(collected);
  EXPECT_EQ(list, (std::vector<std::uint16_t>{4, 2, 5, 9, 14}));
  for (const std::uint16_t id : {2, 5, 9, 14})
    EXPECT_TRUE(CategoryIds_Contains(list.data(), id)) << id;
  for (const std::uint16_t id : {0, 3, 10, 15, 0xFFFF})
    EXPECT_FALSE(CategoryIds_Contains(list.data(), id)) << id;
  EXPECT_FALSE(CategoryIds_Contains(nullptr, 2));
  EXPECT_EQ(CategoryIds_Read(list.data()), collected);
  EXPECT_TRUE(CategoryIds_Read(nullptr).empty());

  // The same set in another order is the same list; a changed set is not.
  EXPECT_TRUE(CategoryIds_Same({14, 2, 9, 5}, CategoryIds_Read(list.data())));
  EXPECT_FALSE(CategoryIds_Same({2, 5, 9}, CategoryIds_Read(list.data())));
  EXPECT_TRUE(CategoryIds_Same({}, {}));
}

TEST(CategoryNameTest, ChecksAndLimitAtCharacterBoundaries) {
  EXPECT_EQ(CategoryName_Check(u""), CategoryNameCheck::Empty);
  EXPECT_EQ(CategoryName_Check(u"Work/Home"), CategoryNameCheck::HasSlash);
  EXPECT_EQ(CategoryName_Check(u"Work\\Home"), CategoryNameCheck::Ok);

  const std::u16string smile = u"\U0001F600";  // two UTF-16 units, one character
  struct Case {
    const char* what;
    std::u16string in;
    std::u16string want;
  };
  const Case cases[] = {
      {"29 fit", std::u16string(29, u'a'), std::u16string(29, u'a')},
      {"the 30th is cut", std::u16string(30, u'a'), std::u16string(29, u'a')},
      {"a pair as the 29th stays whole", std::u16string(28, u'a') + smile + u"b",
       std::u16string(28, u'a') + smile},
      {"a pair as the 30th goes whole", std::u16string(29, u'a') + smile, std::u16string(29, u'a')},
      {"pairs only", std::u16string() + smile + smile, std::u16string() + smile + smile},
  };
  for (const Case& c : cases) {
    const std::u16string cut = CategoryName_Limit(c.in);
    EXPECT_EQ(cut, c.want) << c.what;
    EXPECT_LE(CategoryName_Length(cut), kCategoryNameMax) << c.what;
  }
  EXPECT_EQ(CategoryName_Length(std::u16string(28, u'a') + smile), 29u);

  // Edits: what stands just before the cursor was typed or pasted there.
  struct Edit {
    const char* what;
    std::u16string text;
    std::size_t cursor;
    std::u16string want;
    std::size_t wantCursor;
  };
  const std::u16string full(29, u'a');
  const Edit edits[] = {
      {"a key typed in the middle of a full name is refused",
       full.substr(0, 10) + u"X" + full.substr(10), 11, full, 10},
      {"a paste at the end is cut", full.substr(0, 27) + u"XYZ", 30, full.substr(0, 27) + u"XY",
       29},
      {"a pasted pair that does not fit goes whole", full.substr(0, 28) + u"X" + smile, 31,
       full.substr(0, 28) + u"X", 29},
      {"a cursor between the halves of a pair", full.substr(0, 28) + u"X" + smile, 30,
       full.substr(0, 28) + u"X", 29},
      {"a cursor at 0 cuts the end", std::u16string(31, u'b'), 0, std::u16string(29, u'b'), 0},
      {"a name that fits is left alone", u"short", 3, u"short", 3},
  };
  for (const Edit& e : edits) {
    std::size_t cursor = e.cursor;
    EXPECT_EQ(CategoryName_FitAt(e.text, &cursor), e.want) << e.what;
    EXPECT_EQ(cursor, e.wantCursor) << e.what;
  }
}

DateTime Day(int d) {
  return DateTime{2024, 1, static_cast<std::uint8_t>(d), 10, 0, 0, 0};
}

TEST(CategorySortTest, SixKeysWithTheirTieRules) {
  const std::vector<CategoryDocRow> rows = {
      {u"apple", 2048, Day(2), 0},
      {u"Banana", 1024, Day(1), 1},
      {u"cherry", 1024, Day(2), 2},
      {u"banana", 4096, Day(3), 3},  // the same name ignoring case: the date decides
  };
  struct Case {
    int key;
    std::vector<std::uint32_t> order;  // row indexes
  };
  const Case cases[] = {
      {kSortNameUp, {0, 1, 3, 2}},    // Banana before banana by date
      {kSortSizeUp, {1, 2, 0, 3}},    // equal sizes by name
      {kSortDateUp, {1, 0, 2, 3}},    // equal dates by name
      {kSortNameDown, {2, 3, 1, 0}},  // the name order reversed, ties too
      {kSortSizeDown, {3, 0, 1, 2}},  // equal sizes stay in ascending name order
      {kSortDateDown, {3, 2, 0, 1}},
  };
  for (const Case& c : cases) {
    std::vector<CategoryDocRow> sorted = rows;
    std::sort(sorted.begin(), sorted.end(), [&](const CategoryDocRow& a, const CategoryDocRow& b) {
      return CategorySort_Less(c.key, a, b);
    });
    std::vector<std::uint32_t> order;
    for (const CategoryDocRow& r : sorted)
      order.push_back(r.index);
    EXPECT_EQ(order, c.order) << "key " << c.key;
  }

  // Equal size and name: the date, then the size breaks every tie.
  const CategoryDocRow early{u"x", 1, Day(1), 0}, late{u"X", 1, Day(2), 1};
  EXPECT_TRUE(CategorySort_Less(kSortSizeUp, early, late));
  EXPECT_TRUE(CategorySort_Less(kSortSizeDown, late, early));
  EXPECT_FALSE(CategorySort_Less(kSortNameUp, early, early));  // a strict order
}

TEST(CategorySortTest, ColumnClicksAndTexts) {
  struct Click {
    int current, column, want;
  };
  for (const Click& c : {Click{kSortNameUp, 1, kSortSizeUp}, Click{kSortSizeUp, 1, kSortSizeDown},
                         Click{kSortSizeDown, 1, kSortSizeUp}, Click{kSortSizeDown, 2, kSortDateUp},
                         Click{kSortNameUp, 0, kSortNameDown}, Click{kSortDateUp, 7, kSortDateUp}})
    EXPECT_EQ(CategorySort_KeyAfterClick(c.current, c.column), c.want)
        << c.current << " click " << c.column;

  struct Size {
    std::uint32_t bytes;
    const char16_t* text;
  };
  for (const Size& s : {Size{0, u"0 KB"}, Size{1, u"1 KB"}, Size{1024, u"1 KB"},
                        Size{1025, u"2 KB"}, Size{0xFFFFFFFF, u"4194304 KB"}})
    EXPECT_EQ(CategorySort_SizeText(s.bytes), s.text) << s.bytes;

  EXPECT_EQ(CategorySort_FileName(u"/home/r/books/a.pdb"), u"a.pdb");
  EXPECT_EQ(CategorySort_FileName(u"C:\\books\\b.txt"), u"b.txt");
  EXPECT_EQ(CategorySort_FileName(u"plain"), u"plain");
}

}  // namespace
