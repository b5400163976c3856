#include "engine/runtime/dict.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/swap.h"
#include "tests/support/peer.h"

namespace {

// Owns a dictionary and offers string-based helpers for the tests.
class DictFixture : public testing::Test {
 public:
  void SetUp() override { ASSERT_EQ(Dict_Create(&DictModule, 0, 0, &dict_), kOk); }
  void TearDown() override {
    if (dict_) (void)Dict_Destroy(dict_);
  }

  std::uint16_t Add(const char* path, std::uint32_t flags = 0) {
    std::uint16_t id = 0xEEEE;
    const StatusCode s = Dict_AddPath(dict_, path, nullptr, 0, 1, flags, &id);
    EXPECT_TRUE(s == kOk || s == 1) << path << " " << s;
    return id;
  }
  std::string PathOf(std::uint32_t id) {
    char buf[600];
    std::uint32_t size = sizeof buf;
    const StatusCode s = Dict_GetPath(dict_, id, buf, nullptr, &size);
    return s == kOk ? std::string(buf) : "<" + std::to_string(s) + ">";
  }
  // The names of one level in chain order.
  std::vector<std::string> Level(std::uint32_t parent) {
    std::uint32_t count = 0;
    DictListItem* items = nullptr;
    EXPECT_EQ(Dict_ListChildren(dict_, parent, 0, &count, &items), kOk);
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < count; ++i) {
      char text[kDictNameTextUnits];
      EXPECT_EQ(Dict_NameToText(dict_, items[i].name, text, nullptr), kOk);
      names.emplace_back(text);
    }
    (void)Dict_FreeList(dict_, items);
    return names;
  }
  std::string Image() { return SaveImage(dict_); }

  static std::string SaveImage(EngineObject* dict) {
    EngineObject* s = nullptr;
    EXPECT_EQ(MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s), kOk);
    std::uint32_t written = 0;
    EXPECT_EQ(Dict_Save(dict, s, 0, &written), kOk);
    void* buf = nullptr;
    std::uint32_t size = 0;
    EXPECT_EQ(MemStream_GetBuffer(&MemStreamModule, s, &buf, &size, nullptr), kOk);
    EXPECT_EQ(size, written);
    std::string bytes(static_cast<char*>(buf), size);
    (void)MemStream_Close(s);
    return bytes;
  }
  static StatusCode LoadImage(const std::string& bytes, EngineObject** out,
                              std::uint32_t* size = nullptr) {
    EngineObject* s = nullptr;
    std::string copy = bytes;
    EXPECT_EQ(
        MemStream_Create(&MemStreamModule, copy.data(), static_cast<std::uint32_t>(copy.size()),
                         static_cast<std::uint32_t>(copy.size()), kMemCreateCallerOwns, &s),
        kOk);
    std::uint32_t avail = 0xFFFFFFFFu;
    const StatusCode st = Dict_Load(&DictModule, s, 0, size ? size : &avail, out);
    (void)MemStream_Close(s);
    return st;
  }

  EngineObject* dict_ = nullptr;
};

using DictPaths = DictFixture;

TEST_F(DictPaths, EmptyComponentsAreSkippedAndExistingPathsAnswerZero) {
  std::uint16_t id = 0;
  EXPECT_EQ(Dict_AddPath(dict_, "a//b/", nullptr, 0, 1, 0, &id), 1);
  EXPECT_EQ(PathOf(id), "/a/b");
  std::uint16_t again = 0;
  EXPECT_EQ(Dict_AddPath(dict_, "/a/b", nullptr, 0, 1, 0, &again), kOk);
  EXPECT_EQ(again, id);
  // Without the create flag a missing component answers 1 and leaves the id alone.
  std::uint16_t untouched = 0x1234;
  EXPECT_EQ(Dict_AddPath(dict_, "a/c", nullptr, 0, 0, 0, &untouched), kNotFound);
  EXPECT_EQ(untouched, 0x1234);
  EXPECT_EQ(Level(0xFFFF), std::vector<std::string>{"a"});
  // An explicit length cuts the text.
  EXPECT_EQ(Dict_AddPath(dict_, "a/bXYZ", nullptr, 3, 0, 0, &again), kOk);
  EXPECT_EQ(again, id);
}

TEST_F(DictPaths, BadPathsChangeNothing) {
  const std::string deep17 = "1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17";
  const std::string longName = "x/" + std::string(255, 'n');
  struct Case {
    std::string path;
    StatusCode want;
  } cases[] = {{"", kDictBadPath},
               {"///", kDictBadPath},
               {deep17, kDictBadPath},
               {longName, kDictNameTooLong}};
  for (const auto& c : cases) {
    std::uint16_t id = 0x4321;
    EXPECT_EQ(Dict_AddPath(dict_, c.path.c_str(), nullptr, 0, 1, 0, &id), c.want) << c.path;
    EXPECT_EQ(id, 0x4321);
  }
  EXPECT_TRUE(Level(0xFFFF).empty());
  // 16 levels and 254 characters are the limits.
  Add("1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16");
  const std::string longest = std::string(254, 'n');
  EXPECT_EQ(PathOf(Add(longest.c_str())), "/" + longest);
}

TEST_F(DictPaths, UnicodePathsKeepTheirUnits) {
  const char16_t path[] = u"Bücher/日本";
  std::uint16_t id = 0;
  ASSERT_EQ(Dict_AddPath(dict_, nullptr, path, 0, 1, 0, &id), 1);
  char16_t buf[32];
  std::uint32_t size = 32;
  ASSERT_EQ(Dict_GetPath(dict_, id, nullptr, buf, &size), kOk);
  EXPECT_EQ(std::u16string(buf), u"/Bücher/日本");
  EXPECT_EQ(size, 11u);
  char narrow[32];
  size = 32;
  ASSERT_EQ(Dict_GetPath(dict_, id, narrow, nullptr, &size), kOk);
  EXPECT_EQ(std::string(narrow),
            "/B\xFC"
            "cher/??");
}

using DictOrder = DictFixture;

TEST_F(DictOrder, InsertFlagsPlaceNamesInTheLevel) {
  for (const char* n : {"b", "a", "c"})
    Add(n, 0);
  EXPECT_EQ(Level(0xFFFF), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(Dict_Clear(dict_), kOk);
  for (const char* n : {"b", "a", "c"})
    Add(n, kDictInsertAppend);
  EXPECT_EQ(Level(0xFFFF), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(Dict_Clear(dict_), kOk);
  for (const char* n : {"delta", "Bravo", "alpha", "Charlie"})
    Add(n, kDictInsertSorted);
  EXPECT_EQ(Level(0xFFFF), (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));
}

TEST_F(DictOrder, NamesDifferingInCaseAreDistinctAndSortAfterEachOther) {
  const std::uint16_t lower = Add("abc", kDictInsertSorted);
  Add("zzz", kDictInsertSorted);
  const std::uint16_t upper = Add("ABC", kDictInsertSorted);
  EXPECT_NE(lower, upper);
  EXPECT_EQ(Level(0xFFFF), (std::vector<std::string>{"abc", "ABC", "zzz"}));
  std::uint16_t dup = 0;
  EXPECT_EQ(Dict_AddChild(dict_, "abc", nullptr, lower, 0, &dup), kDictNameExists);
}

DictCollateFn g_defaultCollate = nullptr;

StatusCode Reversed(const char16_t* a, std::uint32_t an, const char16_t* b,
                    std::uint32_t bn) noexcept {
  const StatusCode r = g_defaultCollate(a, an, b, bn);
  return r == kCompareLess ? kCompareGreater : r == kCompareGreater ? kCompareLess : r;
}

TEST_F(DictOrder, TheHostComparatorDecidesSortedInsertion) {
  g_defaultCollate = Dict_SetCollator(Reversed);
  for (const char* n : {"b", "a", "c"})
    Add(n, kDictInsertSorted);
  Dict_SetCollator(nullptr);
  EXPECT_EQ(Level(0xFFFF), (std::vector<std::string>{"c", "b", "a"}));
  const char16_t a[] = u"ÄÖÜ Straße Ωμέγα Ж", b[] = u"äöü STRAßE ωμέγα ж";
  EXPECT_EQ(Dict_CompareNoCase(a, 18, b, 18), kCompareEqual);
  EXPECT_EQ(Dict_CompareNoCase(u"a", 1, u"B", 1), kCompareLess);
  EXPECT_EQ(Dict_CompareNoCase(u"ab", 2, u"A", 1), kCompareGreater);
}

using DictEdit = DictFixture;

TEST_F(DictEdit, ReleasingTheLastReferenceRemovesChildlessUnreferencedParents) {
  const std::uint16_t c = Add("a/b/c");
  const std::uint16_t x = Add("a/x");
  const std::uint16_t a = Add("a");
  ASSERT_EQ(Dict_AdjustRefCount(dict_, c, 2), kOk);
  EXPECT_EQ(Dict_AdjustRefCount(dict_, c, -3), kDictRefCount);
  EXPECT_EQ(Dict_AdjustRefCount(dict_, c, 0xFFFF), kDictRefCount);
  ASSERT_EQ(Dict_AdjustRefCount(dict_, c, -2), kOk);
  // c and b are gone; a keeps its child x.
  EXPECT_EQ(Level(a), std::vector<std::string>{"x"});
  EXPECT_EQ(PathOf(x), "/a/x");
  EXPECT_EQ(Dict_AdjustRefCount(dict_, c, 1), kDictFreeSlot);
  EXPECT_EQ(Dict_AdjustRefCount(dict_, 0x7000, 1), kDictIdOutOfRange);
  EXPECT_EQ(Dict_AdjustRefCount(dict_, 0x8000, 1), kOk);
  // Releasing x takes a with it.
  ASSERT_EQ(Dict_AdjustRefCount(dict_, x, 1), kOk);
  ASSERT_EQ(Dict_AdjustRefCount(dict_, x, -1), kOk);
  EXPECT_TRUE(Level(0xFFFF).empty());
}

TEST_F(DictEdit, RemovingASubtreeListsSortedIdsAndFreesTheirSlots) {
  const std::uint16_t keep = Add("keep");
  const std::uint16_t a = Add("a");
  const std::uint16_t ab = Add("a/b");
  const std::uint16_t abc = Add("a/b/c");
  const std::uint16_t ad = Add("a/d");
  std::uint16_t* list = nullptr;
  ASSERT_EQ(Dict_RemoveSubtree(dict_, a, &list), kOk);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list[0], 4);
  std::vector<std::uint16_t> ids(list + 1, list + 1 + list[0]);
  std::vector<std::uint16_t> want = {a, ab, abc, ad};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(ids, want);
  (void)Dict_FreeList(dict_, list);
  EXPECT_EQ(Level(0xFFFF), std::vector<std::string>{"keep"});
  EXPECT_EQ(PathOf(keep), "/keep");
  // Freed slots are reused, most recently freed first.
  const std::uint16_t reused = Add("new");
  EXPECT_TRUE(reused == a || reused == ab || reused == abc || reused == ad);
  // The image of the edited dictionary is still consistent.
  EngineObject* loaded = nullptr;
  ASSERT_EQ(LoadImage(Image(), &loaded), kOk);
  (void)Dict_Destroy(loaded);
}

TEST_F(DictEdit, RemovingWithoutAListLiftsTheChildrenIntoItsPlace) {
  Add("first", kDictInsertAppend);
  const std::uint16_t mid = Add("mid", kDictInsertAppend);
  Add("last", kDictInsertAppend);
  const std::uint16_t c1 = Add("mid/c1", kDictInsertAppend);
  Add("mid/c2", kDictInsertAppend);
  Add("mid/c2/g", kDictInsertAppend);
  ASSERT_EQ(Dict_RemoveSubtree(dict_, mid, nullptr), kOk);
  EXPECT_EQ(Level(0xFFFF), (std::vector<std::string>{"first", "c1", "c2", "last"}));
  EXPECT_EQ(PathOf(c1), "/c1");
  std::uint16_t g = 0;
  EXPECT_EQ(Dict_AddPath(dict_, "c2/g", nullptr, 0, 0, 0, &g), kOk);
}

TEST_F(DictEdit, RenameMovesThePoolTailAndReportsConflicts) {
  const std::uint16_t a = Add("a", kDictInsertAppend);
  const std::uint16_t b = Add("b", kDictInsertAppend);
  const std::uint16_t c = Add("c/child", kDictInsertAppend);
  std::uint16_t conflict = 0;
  EXPECT_EQ(Dict_Rename(dict_, a, "b", nullptr, 0, &conflict), kDictNameExists);
  EXPECT_EQ(conflict, b);
  EXPECT_EQ(Dict_Rename(dict_, a, "a", nullptr, 0, &conflict), kOk);
  ASSERT_EQ(Dict_Rename(dict_, a, "zebra-with-a-long-name", nullptr, 1, &conflict), kOk);
  EXPECT_EQ(Level(0xFFFF), (std::vector<std::string>{"b", "c", "zebra-with-a-long-name"}));
  EXPECT_EQ(PathOf(c), "/c/child");
  ASSERT_EQ(Dict_Rename(dict_, a, "\xE9", nullptr, 0, &conflict), kOk);
  EXPECT_EQ(PathOf(c), "/c/child");
  EXPECT_EQ(PathOf(a), "/\xE9");
  EngineObject* loaded = nullptr;
  ASSERT_EQ(LoadImage(Image(), &loaded), kOk);
  (void)Dict_Destroy(loaded);
}

using DictQueries = DictFixture;

TEST_F(DictQueries, ListsRelativesAncestorsAndPaths) {
  const std::uint16_t a = Add("a", kDictInsertAppend);
  const std::uint16_t ab = Add("a/b", kDictInsertAppend);
  const std::uint16_t abc = Add("a/b/c", kDictInsertAppend);
  const std::uint16_t ad = Add("a/d", kDictInsertAppend);
  const std::uint16_t e = Add("e", kDictInsertAppend);
  std::uint32_t count = 0;
  DictListItem* items = nullptr;
  ASSERT_EQ(Dict_ListChildren(dict_, 0xFFFF, 99, &count, &items), kOk);
  ASSERT_EQ(count, 5u);
  const std::uint16_t wantIds[] = {a, ab, abc, ad, e};
  const std::uint16_t wantDepth[] = {0, 1, 2, 1, 0};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(items[i].id, wantIds[i]);
    EXPECT_EQ(items[i].depth, wantDepth[i]);
  }
  (void)Dict_FreeList(dict_, items);
  ASSERT_EQ(Dict_ListChildren(dict_, a, 0, &count, &items), kOk);
  EXPECT_EQ(count, 2u);
  (void)Dict_FreeList(dict_, items);
  ASSERT_EQ(Dict_ListChildren(dict_, abc, 5, &count, &items), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(items, nullptr);

  std::uint16_t r = 0;
  EXPECT_EQ(Dict_GetRelative(dict_, abc, kDictParent, &r), kOk);
  EXPECT_EQ(r, ab);
  EXPECT_EQ(Dict_GetRelative(dict_, 0x7777, kDictParent, &r), kOk);
  EXPECT_EQ(r, kDictNone);
  EXPECT_EQ(Dict_GetRelative(dict_, 0x7777, kDictFirstChild, &r), kOk);
  EXPECT_EQ(r, a);
  EXPECT_EQ(Dict_GetRelative(dict_, ad, kDictPrevSibling, &r), kOk);
  EXPECT_EQ(r, ab);
  EXPECT_EQ(Dict_GetRelative(dict_, ab, kDictPrevSibling, &r), kOk);
  EXPECT_EQ(r, kDictNone);
  EXPECT_EQ(Dict_GetRelative(dict_, ab, 3, &r), kNotSupported);

  EXPECT_EQ(Dict_IsAncestor(dict_, a, abc, 0), kOk);
  EXPECT_EQ(Dict_IsAncestor(dict_, a, abc, 1), kNo);
  EXPECT_EQ(Dict_IsAncestor(dict_, ab, abc, 1), kOk);
  EXPECT_EQ(Dict_IsAncestor(dict_, 0xFFFF, abc, 0), kOk);
  EXPECT_EQ(Dict_IsAncestor(dict_, e, abc, 0), kNo);

  std::uint16_t anc[4];
  std::uint32_t n = 1;
  EXPECT_EQ(Dict_GetAncestors(dict_, abc, anc, &n), kDictBufferTooSmall);
  EXPECT_EQ(n, 2u);
  n = 4;
  ASSERT_EQ(Dict_GetAncestors(dict_, abc, anc, &n), kOk);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(anc[0], a);
  EXPECT_EQ(anc[1], ab);

  char small[6];
  std::uint32_t size = sizeof small;
  EXPECT_EQ(Dict_GetPath(dict_, abc, small, nullptr, &size), kDictBufferTooSmall);
  EXPECT_EQ(size, 7u);
  size = 0;
  EXPECT_EQ(Dict_GetPath(dict_, abc, nullptr, nullptr, &size), kOk);
  EXPECT_EQ(size, 7u);

  std::uint16_t list[] = {5, 9, 3, 7, 1, 3};
  ASSERT_EQ(Dict_SortIndexList(dict_, list), kOk);
  EXPECT_EQ(std::vector<std::uint16_t>(list, list + 6),
            (std::vector<std::uint16_t>{5, 1, 3, 3, 7, 9}));
}

// An independent reader of the saved image.
struct ImageView {
  std::uint32_t headerLen, entrySize, slots, used, poolCap, poolUsed, first, freeHead;
  std::string table, pool;
};

ImageView ReadImage(const std::string& bytes) {
  auto u8 = [&](std::size_t at) { return static_cast<std::uint8_t>(bytes.at(at)); };
  auto u16 = [&](std::size_t at) { return std::uint32_t(u8(at) | (u8(at + 1) << 8)); };
  auto u32 = [&](std::size_t at) { return u16(at) | (u16(at + 2) << 16); };
  const std::size_t k = u16(0);
  const std::size_t h = 2 + 4 * k;
  ImageView v;
  const std::uint32_t word1 = u32(2);
  v.headerLen = u8(h);
  v.entrySize = u8(h + 1);
  v.first = u16(h + 4);
  v.freeHead = u16(h + 6);
  v.slots = u16(h + 8);
  v.used = u16(h + 10);
  v.poolCap = u16(h + 12);
  v.poolUsed = u16(h + 14);
  v.table = bytes.substr(h + v.headerLen, v.entrySize * v.slots);
  v.pool = bytes.substr(h + word1, u32(6));
  return v;
}

using DictImage = DictFixture;

TEST_F(DictImage, OneNameHasTheExactBytes) {
  Add("a");
  std::string want;
  auto put16 = [&](std::uint32_t v) {
    want += static_cast<char>(v & 0xFF);
    want += static_cast<char>(v >> 8);
  };
  put16(2);
  put16(176), put16(0);  // word 1 = 16 + 10 x 16
  put16(256), put16(0);  // word 2 = pool capacity
  want += std::string("\x10\x0A\x00\x00", 4);
  for (std::uint32_t v : {0u, 1u, 16u, 1u, 256u, 3u})
    put16(v);
  for (std::uint32_t v : {0u, 0xFFFFu, 0xFFFFu, 0xFFFFu, 0u})
    put16(v);
  for (std::uint32_t i = 1; i < 16; ++i)
    for (std::uint32_t v : {0xFFFFu, 0xFFFFu, i < 15 ? i + 1 : 0xFFFFu, 0xFFFFu, 0u})
      put16(v);
  want += std::string(
              "\x01"
              "a\x00",
              3) +
          std::string(253, '\0');
  EXPECT_EQ(Image(), want);
}

TEST_F(DictImage, NameRecordFormsTakeTheirSizes) {
  Add("ab");
  EXPECT_EQ(ReadImage(Image()).poolUsed, 4u);  // n + 2
  Add("\x80"
      "b");
  EXPECT_EQ(ReadImage(Image()).poolUsed, 4u + 5u);  // n + 3
  std::uint16_t id = 0;
  ASSERT_EQ(Dict_AddPath(dict_, nullptr, u"\u4E2D\u6587x", 0, 1, 0, &id), 1);
  const ImageView v = ReadImage(Image());
  EXPECT_EQ(v.poolUsed, 9u + 8u);  // 2n + 2
  EXPECT_EQ(v.pool.substr(9, 8), std::string("\x03\xC0\x2D\x4E\x87\x65x\x00", 8));
}

TEST_F(DictImage, RoundTripsThroughSaveAndLoadAndSkipsExtraSizeWords) {
  for (const char* p : {"Fiction/Crime", "Fiction/Sci-Fi", "Non-fiction/History/Rome", "\xC4pfel"})
    Add(p, kDictInsertSorted);
  const std::uint16_t rome = Add("Non-fiction/History/Rome");
  ASSERT_EQ(Dict_AdjustRefCount(dict_, rome, 3), kOk);
  const std::string image = Image();

  EngineObject* loaded = nullptr;
  std::uint32_t size = static_cast<std::uint32_t>(image.size()) + 5;
  ASSERT_EQ(LoadImage(image + "tail!", &loaded, &size), kOk);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(SaveImage(loaded), image);
  (void)Dict_Destroy(loaded);

  // Three size words: the third is skipped.
  std::string three =
      image.substr(0, 2) + image.substr(2, 8) + std::string("\x07\0\0\0", 4) + image.substr(10);
  three[0] = 3;
  ASSERT_EQ(LoadImage(three, &loaded), kOk);
  EXPECT_EQ(SaveImage(loaded), image);
  (void)Dict_Destroy(loaded);
}

TEST_F(DictImage, APythonReaderSeesTheSameTree) {
  KELPO_REQUIRE_PEER("python3");
  for (const char* p : {"b/x", "a", "b/y/z"})
    Add(p, kDictInsertSorted);
  const char* script = R"(python3 -c '
import sys, struct
d = sys.stdin.buffer.read()
k = struct.unpack_from("<H", d, 0)[0]
w1, w2 = struct.unpack_from("<II", d, 2)
h = 2 + 4 * k
hl, es = d[h], d[h + 1]
first, free, slots, used, cap, pused = struct.unpack_from("<6H", d, h + 4)
pool = d[h + w1:h + w1 + w2]
def ent(i): return struct.unpack_from("<5H", d, h + hl + es * i)
def name(off):
    n = pool[off]
    if pool[off + 1] == 0xC0: return pool[off + 2:off + 2 + 2 * n].decode("utf-16-le")
    s = off + (2 if pool[off + 1] == 0x80 else 1)
    return pool[s:s + n].decode("latin-1")
def walk(i, prefix):
    while i != 0xFFFF:
        o, p, nx, ch, rc = ent(i)
        print(prefix + "/" + name(o))
        walk(ch, prefix + "/" + name(o))
        i = nx
walk(first, "")
')";
  int status = -1;
  const std::string out = RunPeer(script, Image(), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(out, "/a\n/b\n/b/x\n/b/y\n/b/y/z\n");
}

TEST_F(DictImage, DamagedImagesAreRefused) {
  const std::uint16_t ab = Add("a/b");
  Add("c");
  (void)ab;
  const std::string good = Image();
  const std::size_t h = 10, table = h + 16;
  auto with16 = [&](std::size_t at, std::uint16_t v) {
    std::string s = good;
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
    return s;
  };
  // Entry ids in creation order: a = 0, b = 1, c = 2.
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"one byte", good.substr(0, 1)},
      {"one size word", with16(0, 1)},
      {"truncated pool", good.substr(0, good.size() - 1)},
      {"word 1 below 16", with16(2, 15)},
      {"odd caller entry bytes",
       [&] {
         std::string s = good;
         s[h + 3] = 1;
         s[h + 1] = 11;
         return s;
       }()},
      {"header length below 16",
       [&] {
         std::string s = good;
         s[h] = 15;
         return s;
       }()},
      {"more slots than word 1 holds", with16(h + 8, 17)},
      {"pool capacity above word 2", with16(h + 12, 257)},
      {"pool used above capacity", with16(h + 14, 300)},
      {"used count wrong", with16(h + 10, 2)},
      {"name offset past the pool", with16(table + 0 * 10 + 0, 200)},
      {"two entries share a name", with16(table + 2 * 10 + 0, 0)},
      {"sibling chain loops", with16(table + 0 * 10 + 4, 2)},
      {"child with a wrong parent", with16(table + 1 * 10 + 2, 2)},
      {"child id past the table", with16(table + 0 * 10 + 6, 40)},
      {"first entry is free", with16(h + 4, 5)},
      {"free list loops", with16(table + 5 * 10 + 4, 3)},
      {"bad name length",
       [&] {
         std::string s = good;
         s[10 + 176] = 0;
         return s;
       }()},
  };
  for (const auto& c : cases) {
    EngineObject* out = reinterpret_cast<EngineObject*>(0x1);
    EXPECT_EQ(LoadImage(c.bytes, &out), kDictMalformed) << c.what;
    EXPECT_EQ(out, reinterpret_cast<EngineObject*>(0x1)) << c.what;
  }
}

TEST(DictCreate, RejectsBadCallerSizesAndKeepsCallerBytes) {
  EngineObject* d = nullptr;
  for (auto [h, e] : {std::pair{1u, 0u}, {0u, 3u}, {238u, 0u}, {0u, 244u}})
    EXPECT_EQ(Dict_Create(&DictModule, h, e, &d), kDictBadSizes) << h << "," << e;
  ASSERT_EQ(Dict_Create(&DictModule, 236, 242, &d), kOk);
  std::uint16_t id = 0;
  ASSERT_EQ(Dict_AddPath(d, "x/y", nullptr, 0, 1, 0, &id), 1);
  const std::string image = DictFixture::SaveImage(d);
  EXPECT_EQ(static_cast<std::uint8_t>(image[10]), 252);
  EXPECT_EQ(static_cast<std::uint8_t>(image[11]), 252);
  EngineObject* loaded = nullptr;
  ASSERT_EQ(DictFixture::LoadImage(image, &loaded), kOk);
  EXPECT_EQ(DictFixture::SaveImage(loaded), image);
  (void)Dict_Destroy(loaded);
  (void)Dict_Destroy(d);
}

TEST(DictLimits, TheTableStopsGrowingPastItsLimit) {
  EngineObject* d = nullptr;
  ASSERT_EQ(Dict_Create(&DictModule, 0, 0, &d), kOk);
  StatusCode s = kOk;
  std::uint32_t added = 0;
  for (std::uint32_t i = 0; i < 9000 && s >= 0; ++i) {
    const std::string name = std::to_string(i);
    std::uint16_t id;
    s = Dict_AddChild(d, name.c_str(), nullptr, kDictNone, 0, &id);
    if (s == kOk) ++added;
  }
  // Names of up to 6 bytes: the pool (at most 65535 bytes) runs out first.
  EXPECT_TRUE(s == kDictPoolFull || s == kDictTableFull) << s;
  EXPECT_GT(added, 8000u);
  EngineObject* loaded = nullptr;
  ASSERT_EQ(DictFixture::LoadImage(DictFixture::SaveImage(d), &loaded), kOk);
  (void)Dict_Destroy(loaded);
  (void)Dict_Destroy(d);
}

}  // namespace
