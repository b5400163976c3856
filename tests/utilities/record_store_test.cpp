#include "engine/utilities/record_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"

namespace {

const RecordStoreOps& Ops() {
  return OpsOf<RecordStoreOps>(g_RecordStoreModule);
}

// Keys are u32 little-endian, ordered by value; data is u32 as well, plus a
// fill byte so entries are not a multiple of four.
constexpr std::uint32_t kKey = 4;
constexpr std::uint32_t kData = 5;

StatusCode CompareU32(void*, const void* a, const void* b) noexcept {
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x == y ? kCompareEqual : x < y ? kCompareLess : kCompareGreater;
}

StatusCode CompareBroken(void*, const void*, const void*) noexcept {
  return StatusCode{1};
}

struct Stream {
  EngineObject* s = nullptr;
  Stream() {
    EXPECT_EQ(MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s), kOk);
  }
  ~Stream() { (void)StreamOf(s).close(s); }  // test teardown; nothing to report
  std::vector<std::uint8_t> Bytes() const {
    std::uint32_t size = 0;
    EXPECT_EQ(StreamOf(s).getSize(s, &size), kOk);
    std::vector<std::uint8_t> out(size);
    if (size != 0) {
      EXPECT_EQ(Stream_ReadExact(s, 0, out.data(), size), kOk);
    }
    return out;
  }
  void Put(const std::vector<std::uint8_t>& bytes) const {
    EXPECT_EQ(StreamOf(s).setSize(s, 0), kOk);
    EXPECT_EQ(Stream_WriteExact(s, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size())), kOk);
  }
};

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}
void SetLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Reads a closed store's bytes without the store's code and checks every
// invariant of the layout and the tree; returns the records in key order.
std::map<std::uint32_t, std::uint32_t> CheckStore(const std::vector<std::uint8_t>& b) {
  std::map<std::uint32_t, std::uint32_t> records;
  EXPECT_GE(b.size(), 32u);
  if (b.size() < 32) return records;
  EXPECT_EQ(Le32(b, 0), 32u);
  EXPECT_EQ(b[4] | b[5] << 8, 1);
  EXPECT_EQ(Le32(b, 8), kKey);
  EXPECT_EQ(Le32(b, 12), kData);
  const std::uint32_t e = Le32(b, 16);
  EXPECT_EQ(e, kKey + kData + 9);
  const std::uint32_t root = Le32(b, 20);
  const std::uint32_t freeHead = Le32(b, 24);
  const std::uint32_t slots = Le32(b, 28);
  EXPECT_EQ(slots % 32, 0u);
  EXPECT_EQ(b.size(), 32 + std::size_t{slots} * e);
  auto at = [&](std::uint32_t i) { return 32 + std::size_t{i} * e; };
  std::vector<int> seen(slots, 0);

  // The tree: order, no red with a red child, the same black count on every
  // path, a black root.
  struct Walk {
    std::uint32_t node;
    std::int64_t low, high;
  };
  int blackHeight = -1;
  std::vector<std::pair<Walk, int>> stack;  // node, black count above it
  if (root != 0xFFFFFFFFu) {
    EXPECT_LT(root, slots);
    if (root >= slots) return records;
    EXPECT_EQ(b[at(root)], 1) << "root must be black";
    stack.push_back({{root, -1, std::int64_t{1} << 32}, 0});
  }
  while (!stack.empty()) {
    auto [w, blacks] = stack.back();
    stack.pop_back();
    if (w.node == 0xFFFFFFFFu) {
      if (blackHeight < 0) blackHeight = blacks;
      EXPECT_EQ(blacks, blackHeight) << "black height";
      continue;
    }
    EXPECT_LT(w.node, slots);
    if (w.node >= slots) continue;
    EXPECT_EQ(seen[w.node]++, 0) << "entry " << w.node << " reached twice";
    if (seen[w.node] > 1) continue;
    const std::size_t p = at(w.node);
    const std::uint8_t state = b[p];
    EXPECT_TRUE(state == 0 || state == 1) << "state of a node " << int{state};
    const std::uint32_t key = Le32(b, p + 9);
    EXPECT_GT(std::int64_t{key}, w.low);
    EXPECT_LT(std::int64_t{key}, w.high);
    records[key] = Le32(b, p + 13);
    EXPECT_EQ(b[p + 17], static_cast<std::uint8_t>(key));
    const std::uint32_t left = Le32(b, p + 1);
    const std::uint32_t right = Le32(b, p + 5);
    for (std::uint32_t child : {left, right}) {
      if (state == 0 && child != 0xFFFFFFFFu && child < slots) {
        EXPECT_EQ(b[at(child)], 1) << "red node " << w.node << " with a red child";
      }
    }
    const int below = blacks + (state == 1 ? 1 : 0);
    stack.push_back({{left, w.low, key}, below});
    stack.push_back({{right, key, w.high}, below});
  }

  // The free list holds every other slot exactly once, each zeroed.
  std::uint32_t free = 0;
  for (std::uint32_t f = freeHead; f != 0xFFFFFFFFu; f = Le32(b, at(f) + 1)) {
    EXPECT_LT(f, slots);
    if (f >= slots || seen[f]++ != 0) {
      ADD_FAILURE() << "free list broken at " << f;
      break;
    }
    ++free;
    EXPECT_EQ(b[at(f)], 255);
    EXPECT_EQ(Le32(b, at(f) + 5), 0xFFFFFFFFu);
    for (std::uint32_t i = 9; i < e; ++i)
      EXPECT_EQ(b[at(f) + i], 0);
  }
  EXPECT_EQ(records.size() + free, slots) << "every slot in the tree or the free list";
  return records;
}

std::vector<std::uint8_t> Data(std::uint32_t key, std::uint32_t value) {
  std::vector<std::uint8_t> d(kData);
  std::memcpy(d.data(), &value, 4);
  d[4] = static_cast<std::uint8_t>(key);
  return d;
}

TEST(RecordStore, AgreesWithAMapUnderLongRandomSequences) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    Stream stream;
    EngineObject* store = nullptr;
    ASSERT_EQ(
        Ops().createStore(g_RecordStoreModule, stream.s, kKey, kData, CompareU32, nullptr, &store),
        kOk);
    std::map<std::uint32_t, std::uint32_t> model;
    std::mt19937 rng(seed);
    // A small key range so inserts, finds and deletes hit each other often;
    // phases of mostly inserts and mostly deletes move the size up and down.
    const std::uint32_t range = seed == 3 ? 5000 : 300;
    for (int step = 0; step < 4000; ++step) {
      const std::uint32_t key = rng() % range;
      const bool growing = (step / 500) % 2 == 0;
      const std::uint32_t op = rng() % 10;
      std::uint32_t entry = 0;
      if (op < (growing ? 6u : 3u)) {
        const std::uint32_t value = rng();
        const StatusCode s = Ops().insert(store, &key, Data(key, value).data(), &entry);
        if (model.count(key)) {
          ASSERT_EQ(s, kRecordStoreDuplicate);
        } else {
          ASSERT_EQ(s, kOk);
          model[key] = value;
        }
      } else if (op < 8) {
        ASSERT_EQ(Ops().remove(store, &key), model.erase(key) ? kOk : kNotFound);
      } else if (op < 9) {
        std::vector<std::uint8_t> got(kData);
        const StatusCode s = Ops().find(store, &key, got.data(), &entry);
        if (model.count(key)) {
          ASSERT_EQ(s, kOk);
          ASSERT_EQ(got, Data(key, model[key]));
        } else {
          ASSERT_EQ(s, kNotFound);
        }
      } else {
        const std::uint32_t value = rng();
        ASSERT_EQ(Ops().setData(store, &key, 0, Data(key, value).data()),
                  model.count(key) ? kOk : kNotFound);
        if (model.count(key)) model[key] = value;
      }
      // Close, check the bytes independently, reopen.
      if (step % (seed == 3 ? 50 : 1) == 0 || step == 3999) {
        ASSERT_EQ(Ops().close(store), kOk);
        if (!model.empty() || step > 0) {
          const auto records = CheckStore(stream.Bytes());
          ASSERT_FALSE(testing::Test::HasFailure()) << "seed " << seed << " step " << step;
          ASSERT_EQ(records, model);
        }
        ASSERT_EQ(Ops().openStore(g_RecordStoreModule, stream.s, CompareU32, nullptr, &store), kOk);
      }
    }
    ASSERT_EQ(Ops().close(store), kOk);
  }
}

TEST(RecordStore, SlotsGrowByThirtyTwoAndFreedSlotsAreReusedFirst) {
  Stream stream;
  EngineObject* store = nullptr;
  ASSERT_EQ(
      Ops().createStore(g_RecordStoreModule, stream.s, kKey, kData, CompareU32, nullptr, &store),
      kOk);
  EXPECT_TRUE(stream.Bytes().empty());
  std::uint32_t entry = 99;
  const std::uint32_t keys[] = {50, 20, 80};
  for (std::uint32_t k : keys)
    ASSERT_EQ(Ops().insert(store, &k, Data(k, k).data(), &entry), kOk);
  EXPECT_EQ(entry, 2u);
  EXPECT_EQ(stream.Bytes().size(), 32u + 32u * (kKey + kData + 9));
  EXPECT_EQ(Le32(stream.Bytes(), 0), 0u) << "the header waits for close";

  EXPECT_EQ(Ops().insert(store, &keys[1], Data(1, 1).data(), &entry), kRecordStoreDuplicate);
  EXPECT_EQ(entry, 1u);
  ASSERT_EQ(Ops().remove(store, &keys[1]), kOk);
  std::uint8_t state = 0;
  std::uint32_t left = 0;
  std::uint32_t right = 0;
  ASSERT_EQ(Ops().getEntry(store, 1, &state, &left, &right, nullptr, nullptr), kOk);
  EXPECT_EQ(state, kRecordStoreFree);
  EXPECT_EQ(right, kRecordStoreNone);
  EXPECT_EQ(Ops().getEntry(store, 32, &state, nullptr, nullptr, nullptr, nullptr), kNotFound);
  EXPECT_EQ(Ops().setData(store, nullptr, 1, Data(1, 1).data()), kNotFound) << "free slot";
  const std::uint32_t k = 7;
  ASSERT_EQ(Ops().insert(store, &k, Data(k, k).data(), &entry), kOk);
  EXPECT_EQ(entry, 1u);
  ASSERT_EQ(Ops().setData(store, nullptr, 1, Data(k, 70).data()), kOk);
  std::vector<std::uint8_t> got(kData);
  ASSERT_EQ(Ops().find(store, &k, got.data(), nullptr), kOk);
  EXPECT_EQ(got, Data(k, 70));
  ASSERT_EQ(Ops().close(store), kOk);
  EXPECT_EQ((CheckStore(stream.Bytes())),
            (std::map<std::uint32_t, std::uint32_t>{{7, 70}, {50, 50}, {80, 80}}));
}

TEST(RecordStore, ManyDeletionsKeepPathsShort) {
  // Ascending inserts, then deleting all but every 64th: an unbalanced delete
  // would leave long paths; the checker's black-height test catches it.
  Stream stream;
  EngineObject* store = nullptr;
  ASSERT_EQ(
      Ops().createStore(g_RecordStoreModule, stream.s, kKey, kData, CompareU32, nullptr, &store),
      kOk);
  std::map<std::uint32_t, std::uint32_t> model;
  for (std::uint32_t k = 0; k < 20000; ++k) {
    ASSERT_EQ(Ops().insert(store, &k, Data(k, k).data(), nullptr), kOk);
    model[k] = k;
  }
  for (std::uint32_t k = 0; k < 20000; ++k) {
    if (k % 64 == 0) continue;
    ASSERT_EQ(Ops().remove(store, &k), kOk);
    model.erase(k);
  }
  ASSERT_EQ(Ops().close(store), kOk);
  EXPECT_EQ(CheckStore(stream.Bytes()), model);
}

TEST(RecordStore, CompareAnswersOutsideTheThreeAreFailures) {
  Stream stream;
  EngineObject* store = nullptr;
  ASSERT_EQ(
      Ops().createStore(g_RecordStoreModule, stream.s, kKey, kData, CompareBroken, nullptr, &store),
      kOk);
  const std::uint32_t k = 1;
  ASSERT_EQ(Ops().insert(store, &k, Data(k, k).data(), nullptr), kOk);  // empty tree: no compare
  EXPECT_EQ(Ops().find(store, &k, nullptr, nullptr), kRecordStoreBadCompare);
  EXPECT_EQ(Ops().insert(store, &k, Data(k, k).data(), nullptr), kRecordStoreBadCompare);
  EXPECT_EQ(Ops().remove(store, &k), kRecordStoreBadCompare);
  EXPECT_EQ(Ops().close(store), kOk);
}

std::vector<std::uint8_t> SmallStore() {
  Stream stream;
  EngineObject* store = nullptr;
  EXPECT_EQ(
      Ops().createStore(g_RecordStoreModule, stream.s, kKey, kData, CompareU32, nullptr, &store),
      kOk);
  for (std::uint32_t k : {5u, 3u, 8u, 1u, 4u})
    EXPECT_EQ(Ops().insert(store, &k, Data(k, k).data(), nullptr), kOk);
  EXPECT_EQ(Ops().close(store), kOk);
  return stream.Bytes();
}

TEST(RecordStore, DamagedHeadersAreRefusedBeforeAnyAllocation) {
  const std::vector<std::uint8_t> good = SmallStore();
  struct Case {
    const char* what;
    std::size_t offset;  // a u32 field, or SIZE_MAX to cut the stream
    std::uint32_t value;
    StatusCode expected;
  };
  const Case cases[] = {
      {"header size above 0xFFFF", 0, 0x10000, kRecordStoreHeaderSize},
      {"header size below 32", 0, 16, kRecordStoreCorrupt},
      {"version 2", 4, 2, kRecordStoreCorrupt},
      {"key size 0", 8, 0, kRecordStoreCorrupt},
      {"key size that wraps the entry size", 8, 0xFFFFFFF7u, kRecordStoreCorrupt},
      {"entry size not k + d + 9", 16, 19, kRecordStoreCorrupt},
      {"root past the slots", 20, 32, kRecordStoreCorrupt},
      {"free head past the slots", 24, 40, kRecordStoreCorrupt},
      {"slots past the stream", 28, 64, kRecordStoreCorrupt},
      {"huge slot count", 28, 0xFFFFFFFFu, kRecordStoreCorrupt},
      {"stream shorter than a header", SIZE_MAX, 20, kRecordStoreHeaderRead},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = good;
    if (c.offset == SIZE_MAX) {
      bytes.resize(c.value);
    } else {
      SetLe32(bytes, c.offset, c.value);
    }
    Stream stream;
    stream.Put(bytes);
    EngineObject* store = nullptr;
    EXPECT_EQ(Ops().openStore(g_RecordStoreModule, stream.s, CompareU32, nullptr, &store),
              c.expected)
        << c.what;
  }
}

TEST(RecordStore, BrokenLinksAreFailuresNotAbsentRecords) {
  const std::vector<std::uint8_t> good = SmallStore();
  const std::uint32_t e = kKey + kData + 9;
  const std::uint32_t root = Le32(good, 20);
  struct Case {
    const char* what;
    std::uint32_t node;
    std::size_t field;  // 0 state byte, 1 left, 5 right
    std::uint32_t value;
  };
  // Keys 5 3 8 1 4 sit in entries 0..4; the tree is 5(3(1,4),8).
  const Case cases[] = {
      {"left link past the slots", 1, 1, 32},
      {"link to a free slot", 1, 1, 7},
      {"cycle back to the root", 1, 1, root},
      {"self loop", 1, 5, 1},
      {"bad state byte", 1, 0, 9},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = good;
    const std::size_t p = 32 + std::size_t{c.node} * e + c.field;
    if (c.field == 0) {
      bytes[p] = static_cast<std::uint8_t>(c.value);
    } else {
      SetLe32(bytes, p, c.value);
    }
    Stream stream;
    stream.Put(bytes);
    EngineObject* store = nullptr;
    ASSERT_EQ(Ops().openStore(g_RecordStoreModule, stream.s, CompareU32, nullptr, &store), kOk);
    // Every stored key is found or the walk fails; none reads as absent.
    bool failed = false;
    for (std::uint32_t k = 0; k < 10; ++k) {
      const StatusCode s = Ops().find(store, &k, nullptr, nullptr);
      failed = failed || IsFailure(s);
      if (k == 1 || k == 3 || k == 4 || k == 5 || k == 8) {
        EXPECT_NE(s, kNotFound) << c.what << ": key " << k;
      }
    }
    EXPECT_TRUE(failed) << c.what;
    EXPECT_EQ(Ops().close(store), kOk);
  }
  // A path longer than a balanced tree can have: a chain of left links.
  std::vector<std::uint8_t> chain(32 + 96 * std::size_t{e}, 0);
  SetLe32(chain, 0, 32);
  chain[4] = 1;
  SetLe32(chain, 8, kKey);
  SetLe32(chain, 12, kData);
  SetLe32(chain, 16, e);
  SetLe32(chain, 20, 0);
  SetLe32(chain, 24, 0xFFFFFFFFu);
  SetLe32(chain, 28, 96);
  for (std::uint32_t i = 0; i < 96; ++i) {
    const std::size_t p = 32 + std::size_t{i} * e;
    chain[p] = 1;
    SetLe32(chain, p + 1, i + 1 < 96 ? i + 1 : 0xFFFFFFFFu);
    SetLe32(chain, p + 5, 0xFFFFFFFFu);
    SetLe32(chain, p + 9, 1000 - i);
  }
  Stream stream;
  stream.Put(chain);
  EngineObject* store = nullptr;
  ASSERT_EQ(Ops().openStore(g_RecordStoreModule, stream.s, CompareU32, nullptr, &store), kOk);
  const std::uint32_t deep = 1000 - 90;
  EXPECT_EQ(Ops().find(store, &deep, nullptr, nullptr), kRecordStoreCorrupt);
  const std::uint32_t shallow = 1000 - 3;
  EXPECT_EQ(Ops().find(store, &shallow, nullptr, nullptr), kOk);
  EXPECT_EQ(Ops().close(store), kOk);
}

}  // namespace
