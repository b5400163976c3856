// The position map against a sorted-vector model, its runs at the 64 KiB
// boundaries of keys and values, its slices and its memory guard.
#include "engine/device/pos_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "engine/device/table_store.h"
#include "tests/support/fake_device.h"

namespace {

using Pair = std::pair<std::uint32_t, std::uint32_t>;

// The model: every pair added, plus the end given at finish.
struct Model {
  std::vector<Pair> pairs;
  bool finished = false;
  Pair end{0, 0};

  // Expected (status, key, value) of a lookup by key (byValue false) or y.
  std::pair<StatusCode, Pair> Find(const PositionMap& map, std::uint32_t target,
                                   bool byValue) const {
    auto field = [byValue](const Pair& p) { return byValue ? p.second : p.first; };
    const bool inRange = !pairs.empty() && field(pairs.front()) <= target &&
                         (finished ? target < field(end) : target <= field(pairs.back()));
    if (!inRange) {
      const Pair last = map.runCount ? Pair{map.runs[map.runCount - 1].endKey,
                                            map.runs[map.runCount - 1].endValue}
                                     : Pair{0, 0};
      return {kNoMore, last};
    }
    auto it = std::upper_bound(pairs.begin(), pairs.end(), target,
                               [&](std::uint32_t t, const Pair& p) { return t < field(p); });
    return {kOk, *(it - 1)};
  }
};

class PosMapTest : public testing::Test {
 protected:
  void SetUp() override {
    clock.tick = [](void* user) noexcept { return *static_cast<std::uint32_t*>(user); };
    clock.user = &now;
    ASSERT_EQ(PosMap_Create(&clock, nullptr, &map), kOk);
  }
  void TearDown() override { PosMap_Free(map); }

  void Check(const Model& model, std::uint32_t target, bool byValue) {
    const auto [want, pair] = model.Find(*map, target, byValue);
    std::uint32_t key = byValue ? 0xDEAD : target, value = byValue ? target : 0xBEEF;
    const StatusCode got =
        byValue ? PosMap_FindByValue(map, &key, &value) : PosMap_FindByKey(map, &key, &value);
    ASSERT_EQ(got, want) << (byValue ? "value " : "key ") << std::hex << target;
    EXPECT_EQ(key, pair.first) << (byValue ? "value " : "key ") << std::hex << target;
    EXPECT_EQ(value, pair.second) << (byValue ? "value " : "key ") << std::hex << target;
  }

  // Lookups at and around every stored pair near a 64 KiB boundary, plus
  // random ones.
  void CheckAround(const Model& model, std::mt19937& rng) {
    if (model.pairs.empty()) return;
    const std::uint32_t maxKey = model.pairs.back().first + 300;
    const std::uint32_t maxValue = model.pairs.back().second + 300;
    for (int i = 0; i < 40; ++i) {
      Check(model, std::uniform_int_distribution<std::uint32_t>(0, maxKey)(rng), false);
      Check(model, std::uniform_int_distribution<std::uint32_t>(0, maxValue)(rng), true);
    }
    for (std::uint32_t b = 0x10000; b <= maxKey + 0x10000; b += 0x10000)
      for (std::uint32_t d : {0u, 1u, 2u, 0xFFFFFFFFu, 0xFFFFFFFEu}) {
        Check(model, b + d, false);
        Check(model, b + d, true);
      }
  }

  std::uint32_t now = 0;
  DeviceClock clock{};
  PositionMap* map = nullptr;
};

TEST_F(PosMapTest, MatchesSortedModelAcrossSixtyFourKiBBoundaries) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 6; ++round) {
    PosMap_Reset(map);
    Model model;
    // Start just below a boundary so keys and values cross several of them;
    // some rounds use small steps so blocks fill up before a high half changes.
    std::uint32_t key = 0x10000 * static_cast<std::uint32_t>(round) + 0xFF00;
    std::uint32_t value = 0xFFF0 - static_cast<std::uint32_t>(round) * 7;
    const std::uint32_t maxKeyStep = round % 2 ? 4 : 900;
    const std::uint32_t maxValueStep = round % 3 ? 3 : 400;
    const int lines = round % 2 ? 30000 : 2000;
    for (int i = 0; i < lines; ++i) {
      ASSERT_EQ(PosMap_Add(map, key, value), kOk);
      model.pairs.push_back({key, value});
      if (i % 997 == 0 || i % 16 == 7) CheckAround(model, rng);  // batch and open run included
      key += std::uniform_int_distribution<std::uint32_t>(1, maxKeyStep)(rng);
      value += std::uniform_int_distribution<std::uint32_t>(0, maxValueStep)(rng);
    }
    CheckAround(model, rng);
    ASSERT_EQ(PosMap_Finish(map, key, value), kOk);
    EXPECT_TRUE(map->flags & kPosMapComplete);
    EXPECT_EQ(map->spare, nullptr) << "a finished map keeps no block for a next run";
    model.finished = true;
    model.end = {key, value};
    CheckAround(model, rng);
    for (const Pair& p : model.pairs) {
      Check(model, p.first, false);
      Check(model, p.second, true);
    }
    // Runs tile the section without gaps, each within one high half.
    for (std::uint32_t r = 0; r < map->runCount; ++r) {
      const PosMapRun& run = map->runs[r];
      ASSERT_GT(run.count, 0);
      ASSERT_LE(run.count, kPosMapBlockEntries);
      if (r + 1 < map->runCount) {
        EXPECT_EQ(run.endKey, map->runs[r + 1].firstKey);
      }
    }
  }
}

TEST_F(PosMapTest, LineStraddlingABoundaryIsFound) {
  // One line starts at 0xFFF0 (y 0xFFF8) and the next at 0x10010 (y 0x10008):
  // an offset inside the first line, past the 64 KiB mark, is still its line.
  ASSERT_EQ(PosMap_Add(map, 0, 0), kOk);
  ASSERT_EQ(PosMap_Add(map, 0xFFF0, 0xFFF8), kOk);
  ASSERT_EQ(PosMap_Add(map, 0x10010, 0x10008), kOk);
  ASSERT_EQ(PosMap_Finish(map, 0x20000, 0x20000), kOk);
  ASSERT_EQ(map->runCount, 2u);
  std::uint32_t key = 0x10005, value = 0;
  ASSERT_EQ(PosMap_FindByKey(map, &key, &value), kOk);
  EXPECT_EQ(key, 0xFFF0u);
  EXPECT_EQ(value, 0xFFF8u);
  key = 0, value = 0x10002;
  ASSERT_EQ(PosMap_FindByValue(map, &key, &value), kOk);
  EXPECT_EQ(key, 0xFFF0u);
  EXPECT_EQ(value, 0xFFF8u);
}

TEST_F(PosMapTest, NewRunExactlyWhereTheValueHighHalfChanges) {
  const Pair lines[] = {{0, 65500}, {100, 65520}, {200, 65535}, {300, 65536}, {400, 65600}};
  for (const Pair& p : lines)
    ASSERT_EQ(PosMap_Add(map, p.first, p.second), kOk);
  ASSERT_EQ(PosMap_Finish(map, 500, 65700), kOk);
  ASSERT_EQ(map->runCount, 2u);
  EXPECT_EQ(map->runs[0].count, 3);
  EXPECT_EQ(map->runs[0].endKey, 300u);
  EXPECT_EQ(map->runs[0].endValue, 65536u);
  EXPECT_EQ(map->runs[1].firstKey, 300u);
  EXPECT_EQ(map->runs[1].endValue, 65700u);
  // Below the first run, and past the end: 5 with the last run's end.
  std::uint32_t key = 0, value = 10;
  EXPECT_EQ(PosMap_FindByValue(map, &key, &value), kNoMore);
  EXPECT_EQ(key, 500u);
  EXPECT_EQ(value, 65700u);
  key = 500;
  EXPECT_EQ(PosMap_FindByKey(map, &key, &value), kNoMore);
}

TEST_F(PosMapTest, EmptyMapAndEmptyFinish) {
  std::uint32_t key = 7, value = 9;
  EXPECT_EQ(PosMap_FindByKey(map, &key, &value), kNoMore);
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(value, 0u);
  ASSERT_EQ(PosMap_Finish(map, 100, 100), kOk);
  EXPECT_EQ(map->runCount, 0u);
  EXPECT_TRUE(map->flags & kPosMapComplete);
  PosMap_Reset(map);
  EXPECT_FALSE(map->flags & kPosMapComplete);
  EXPECT_EQ(map->runCapacity, kPosMapRunGrowth);
}

TEST_F(PosMapTest, SixteenthAddFlushesBeforeTheTimeTest) {
  now = 1000;
  PosMap_StartSlice(map);
  for (std::uint32_t i = 0; i < 15; ++i) {
    now = 1000 + 4 * i;  // 15 adds within 62 ms of the slice start
    ASSERT_EQ(PosMap_Add(map, i * 10, i * 12), kOk);
  }
  EXPECT_EQ(map->batchCount, 15);
  EXPECT_EQ(map->open, nullptr);
  now = 1062;
  EXPECT_EQ(PosMap_Add(map, 150, 180), kPosMapSliceElapsed);  // the 16th add reads the clock
  EXPECT_EQ(map->batchCount, 0);                              // flushed all the same
  ASSERT_NE(map->open, nullptr);
  EXPECT_EQ(map->openUsed, 16);
}

// The clock is read on every eighth add of a slice: the end of a slice is
// seen at most seven adds late, counted from the slice start (not from the
// previous add), and once seen it holds for the rest of the slice without
// further reads. A new slice starts the count and the test afresh.
TEST_F(PosMapTest, SliceEndIsSeenWithinEightAddsAndHolds) {
  struct CountingClock {
    std::uint32_t now = 0;
    int reads = 0;
  } counting;
  clock.tick = [](void* user) noexcept {
    auto* c = static_cast<CountingClock*>(user);
    ++c->reads;
    return c->now;
  };
  clock.user = &counting;
  std::uint32_t key = 0;
  auto add = [&] {
    key += 10;
    return PosMap_Add(map, key, key * 2);
  };

  // Each row: the add (1-based) after which the time is up, and the add that
  // must first answer elapsed.
  const struct {
    int upAfter, firstElapsed;
  } rows[] = {{0, 8}, {1, 8}, {7, 8}, {8, 16}, {9, 16}, {15, 16}, {100, 104}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "time up after add " << row.upAfter);
    counting.now = 5000;
    counting.reads = 0;
    PosMap_StartSlice(map);
    EXPECT_EQ(counting.reads, 1);
    if (row.upAfter == 0) counting.now = 5000 + kPosMapSliceMs;
    int n = 0;
    for (;;) {
      const StatusCode s = add();
      ASSERT_TRUE(s == kOk || s == kPosMapSliceElapsed);
      ++n;
      if (s == kPosMapSliceElapsed) break;
      ASSERT_LT(n, 1000);
      // 61 ms is not yet the end; 62 is.
      counting.now = n >= row.upAfter ? 5000 + kPosMapSliceMs : 5000 + kPosMapSliceMs - 1;
    }
    EXPECT_EQ(n, row.firstElapsed);
    EXPECT_EQ(counting.reads, 1 + n / kPosMapClockEvery);
    counting.now = 5000;  // even a clock that went back changes nothing now
    for (int k = 0; k < 20; ++k)
      EXPECT_EQ(add(), kPosMapSliceElapsed);
    EXPECT_EQ(counting.reads, 1 + n / kPosMapClockEvery) << "no reads once elapsed";
  }
  // Wrapping ticks compare as unsigned differences.
  counting.now = 0xFFFFFFF0u;
  PosMap_StartSlice(map);
  counting.now = 0xFFFFFFF0u + kPosMapSliceMs - 1;
  for (std::uint32_t k = 0; k < 2 * kPosMapClockEvery; ++k)
    EXPECT_EQ(add(), kOk);
  counting.now += 1;
  for (std::uint32_t k = 1; k < kPosMapClockEvery; ++k)
    EXPECT_EQ(add(), kOk);
  EXPECT_EQ(add(), kPosMapSliceElapsed);
}

TEST_F(PosMapTest, RunTableGrowsAndShortMemoryIsRefused) {
  // 20 runs: each pair in its own value high half.
  for (std::uint32_t i = 0; i < 20; ++i)
    ASSERT_EQ(PosMap_Add(map, i, i << 16), kOk);
  ASSERT_EQ(PosMap_Finish(map, 20, 20u << 16), kOk);
  EXPECT_EQ(map->runCount, 20u);
  EXPECT_EQ(map->runCapacity, 32u);
  // Trimmed blocks: each run keeps only what it uses.
  EXPECT_EQ(map->runs[3].count, 1);

  PosMap_Free(map);
  static bool shortOfMemory = false;
  ASSERT_EQ(
      PosMap_Create(
          &clock, []() noexcept -> std::uint64_t { return shortOfMemory ? 1000 : 1u << 30; }, &map),
      kOk);
  shortOfMemory = true;
  // The first block (32 KB) is allowed; the next asks for memory and is refused.
  StatusCode s = kOk;
  std::uint32_t added = 0;
  for (; added < 64 && s == kOk; ++added)
    s = PosMap_Add(map, added, added << 16);
  EXPECT_EQ(s, kOutOfMemory);
  // What was placed before the refusal is still found.
  std::uint32_t key = 0, value = 0;
  ASSERT_EQ(PosMap_FindByKey(map, &key, &value), kOk);
  EXPECT_EQ(value, 0u);
  shortOfMemory = false;
}

TEST(PosMapCommandTest, DeviceCommandsAndTheTableStore) {
  EngineObject* dev = FakeDevice_Open();
  ASSERT_NE(dev, nullptr);
  const DeviceOps& ops = DeviceOf(dev);
  FakeDevice& fake = FakeDevice_Of(dev);
  ASSERT_NE(fake.services.map, nullptr);  // made by Create
  std::uint32_t key = 0x1FFFF, value = 0x2FFFF;
  EXPECT_EQ(ops.posMapCommand(dev, PosMapCode::StartSlice, nullptr, nullptr), kOk);
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Add, &key, &value), kOk);
  key = 0x20005, value = 0x30001;
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Add, &key, &value), kOk);
  // Found before finish (still in the batch).
  key = 0x20000;
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::FindByKey, &key, &value), kOk);
  EXPECT_EQ(key, 0x1FFFFu);
  EXPECT_EQ(value, 0x2FFFFu);
  key = 0x30000, value = 0x40000;
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Finish, &key, &value), kOk);
  std::uint32_t info[4] = {};
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Info, nullptr, info), kOk);
  EXPECT_EQ(info[0], 2u);
  EXPECT_EQ(info[1], 16u);
  EXPECT_EQ(info[2], 0x20005u);  // where the last open run began
  EXPECT_EQ(info[3], 0x30001u);
  value = 0x3FFFF;
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::FindByValue, &key, &value), kOk);
  EXPECT_EQ(key, 0x20005u);

  // Reset also empties the table store: the same table id can begin again.
  TableDescription desc{1, 1, 1, {}, 0, 0, 0};
  TableNode* node = nullptr;
  ASSERT_EQ(ops.tableStoreCommand(dev, TableStoreCode::BeginTable, &desc, &node), kOk);
  EXPECT_EQ(ops.tableStoreCommand(dev, TableStoreCode::BeginTable, &desc, &node), kFailed);
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Reset, nullptr, nullptr), kOk);
  ASSERT_EQ(ops.tableStoreCommand(dev, TableStoreCode::BeginTable, &desc, &node), kOk);
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Info, nullptr, info), kOk);
  EXPECT_EQ(info[0], 0u);

  EXPECT_EQ(ops.posMapCommand(dev, PosMapCode::Add, nullptr, &value), kNullOutPointer);
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Free, nullptr, nullptr), kOk);
  EXPECT_EQ(fake.services.map, nullptr);
  EXPECT_EQ(ops.posMapCommand(dev, PosMapCode::FindByKey, &key, &value), kFailed);
  EXPECT_EQ(ops.tableStoreCommand(dev, TableStoreCode::StartSlice, nullptr, nullptr), kFailed);
  EXPECT_EQ(ops.posMapCommand(dev, PosMapCode::Free, nullptr, nullptr), kOk);
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Init, nullptr, nullptr), kOk);
  ASSERT_EQ(ops.posMapCommand(dev, PosMapCode::Init, nullptr, nullptr), kOk);  // no leak
  FakeDevice_Close(dev);
}

}  // namespace
