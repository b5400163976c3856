#include "engine/utilities/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/runtime/module_table.h"
#include "tests/support/failing_allocator.h"

namespace {

const SortOps& Ops() {
  return OpsOf<SortOps>(g_SortModule);
}

// Elements carry a key to sort by and their original place, so stability and
// loss or duplication show.
struct Item {
  std::int32_t key;
  std::uint32_t origin;
  std::uint8_t pad[5];  // an odd element size
};
static_assert(sizeof(Item) == 16);

// Answers 3 / 2 / 0 (or, with `lazy`, 1 in place of 2 and 0) and fails once
// `failAt` comparisons were made.
struct Comparer {
  bool lazy = false;
  std::uint64_t calls = 0;
  std::uint64_t failAt = UINT64_MAX;
  StatusCode failure = kCancelled;

  static StatusCode Compare(void* user, const void* a, const void* b) noexcept {
    auto& self = *static_cast<Comparer*>(user);
    if (++self.calls >= self.failAt) return self.failure;
    Item x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    if (x.key > y.key) return kCompareGreater;
    if (self.lazy) return kNotFound;  // any answer other than 3 counts as "not greater"
    return x.key < y.key ? kCompareLess : kCompareEqual;
  }
};

std::vector<Item> RandomItems(std::mt19937& rng, std::size_t n, std::int32_t keys) {
  std::vector<Item> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = Item{std::uniform_int_distribution<std::int32_t>(-keys, keys)(rng),
                static_cast<std::uint32_t>(i),
                {}};
  return v;
}

StatusCode Sort(std::vector<Item>& v, Comparer& c) {
  return Ops().shell(g_SortModule, v.data(), static_cast<std::uint32_t>(v.size()), sizeof(Item),
                     &Comparer::Compare, &c);
}

// True when v holds each original place exactly once.
bool IsPermutation(const std::vector<Item>& v) {
  std::vector<bool> seen(v.size());
  for (const Item& it : v) {
    if (it.origin >= v.size() || seen[it.origin]) return false;
    seen[it.origin] = true;
  }
  return true;
}

TEST(Sort, AgreesWithTheStandardSortsOnRandomArrays) {
  std::mt19937 rng(3191);
  for (int round = 0; round < 400; ++round) {
    const std::size_t n = round < 40 ? static_cast<std::size_t>(round)
                                     : std::uniform_int_distribution<std::size_t>(0, 3000)(rng);
    // Few keys make many ties; wide keys make nearly none.
    const std::int32_t keys = round % 3 == 0 ? 3 : 1000000;
    std::vector<Item> v = RandomItems(rng, n, keys);
    std::vector<Item> expected = v;
    const auto byKey = [](const Item& a, const Item& b) { return a.key < b.key; };
    std::stable_sort(expected.begin(), expected.end(), byKey);
    Comparer c;
    c.lazy = round % 2 == 1;  // only 3 means "after"
    ASSERT_EQ(Sort(v, c), kOk);
    ASSERT_TRUE(IsPermutation(v));
    for (std::size_t i = 0; i < n; ++i)
      ASSERT_EQ(v[i].key, expected[i].key) << "n " << n << " at " << i;
    // Below 9 elements the single pass is an insertion sort, which is stable.
    if (n < 9) {
      for (std::size_t i = 0; i < n; ++i)
        EXPECT_EQ(v[i].origin, expected[i].origin);
    }
    // Larger arrays: the same multiset of whole elements as std::sort gives.
    auto a = v;
    auto b = expected;
    const auto whole = [](const Item& x, const Item& y) {
      return x.key != y.key ? x.key < y.key : x.origin < y.origin;
    };
    std::sort(a.begin(), a.end(), whole);
    std::sort(b.begin(), b.end(), whole);
    for (std::size_t i = 0; i < n; ++i)
      ASSERT_EQ(a[i].origin, b[i].origin);
  }
}

// Gaps seen through the comparisons of an already sorted array: each element
// is compared once with the one a gap below it.
std::vector<std::uint32_t> GapsUsed(std::uint32_t n) {
  std::vector<Item> v(n);
  for (std::uint32_t i = 0; i < n; ++i)
    v[i] = Item{static_cast<std::int32_t>(i), i, {}};
  struct Log {
    const Item* base;
    std::vector<std::uint32_t> gaps;
    static StatusCode Compare(void* user, const void* a, const void* b) noexcept {
      auto& log = *static_cast<Log*>(user);
      Item held;
      std::memcpy(&held, b, sizeof held);
      const auto index = static_cast<std::uint32_t>(static_cast<const Item*>(a) - log.base);
      const std::uint32_t gap = held.origin - index;
      if (log.gaps.empty() || log.gaps.back() != gap) log.gaps.push_back(gap);
      return kCompareLess;
    }
  } log{v.data(), {}};
  EXPECT_EQ(Sort_Shell(g_SortModule, v.data(), n, sizeof(Item), &Log::Compare, &log), kOk);
  return log.gaps;
}

TEST(Sort, GapSequenceStartsAboveANinthOfTheCount) {
  using Gaps = std::vector<std::uint32_t>;
  EXPECT_EQ(GapsUsed(2), (Gaps{1}));
  EXPECT_EQ(GapsUsed(8), (Gaps{1}));
  EXPECT_EQ(GapsUsed(9), (Gaps{4, 1}));
  EXPECT_EQ(GapsUsed(35), (Gaps{4, 1}));
  EXPECT_EQ(GapsUsed(36), (Gaps{13, 4, 1}));
  EXPECT_EQ(GapsUsed(100), (Gaps{13, 4, 1}));
  EXPECT_EQ(GapsUsed(117), (Gaps{40, 13, 4, 1}));
  EXPECT_EQ(GapsUsed(1000), (Gaps{121, 40, 13, 4, 1}));
}

TEST(Sort, AFailingCompareStopsTheSortAndLosesNoElement) {
  std::mt19937 rng(8350);
  // Reversed input keeps elements held in mid-shift when the failure comes.
  for (const std::size_t n : {2u, 8u, 9u, 100u, 1000u}) {
    std::vector<Item> original(n);
    for (std::size_t i = 0; i < n; ++i)
      original[i] = Item{static_cast<std::int32_t>(n - i), static_cast<std::uint32_t>(i), {}};
    Comparer total;
    std::vector<Item> probe = original;
    ASSERT_EQ(Sort(probe, total), kOk);
    for (int k = 0; k < 40; ++k) {
      const std::uint64_t failAt =
          k == 0 ? 1 : std::uniform_int_distribution<std::uint64_t>(1, total.calls)(rng);
      std::vector<Item> v = original;
      Comparer c;
      c.failAt = failAt;
      c.failure = MakeFailure(0x123, 7);
      ASSERT_EQ(Sort(v, c), MakeFailure(0x123, 7));
      EXPECT_EQ(c.calls, failAt) << "the sort went on after the failure";
      ASSERT_TRUE(IsPermutation(v)) << "n " << n << ", failure at call " << failAt;
      if (failAt == 1) {
        for (std::size_t i = 0; i < n; ++i)
          EXPECT_EQ(v[i].origin, original[i].origin);
      }
    }
  }
}

TEST(Sort, LargeElementsARefusedBufferAndBadArguments) {
  // 1000-byte elements sorted by their first byte, tail bytes moved along.
  constexpr std::uint32_t kSize = 1000;
  std::mt19937 rng(42);
  std::vector<std::uint8_t> data(kSize * 50);
  for (std::uint32_t e = 0; e < 50; ++e) {
    const auto key = static_cast<std::uint8_t>(rng());
    std::fill(data.begin() + e * kSize, data.begin() + (e + 1) * kSize, key);
  }
  const auto byFirst = [](void*, const void* a, const void* b) noexcept -> StatusCode {
    const auto x = *static_cast<const std::uint8_t*>(a);
    const auto y = *static_cast<const std::uint8_t*>(b);
    return x > y ? kCompareGreater : x < y ? kCompareLess : kCompareEqual;
  };
  {
    const std::vector<std::uint8_t> before = data;
    LargeBlocksRefused refuse(kSize);
    EXPECT_EQ(Sort_Shell(g_SortModule, data.data(), 50, kSize, byFirst, nullptr), kOutOfMemory);
    EXPECT_EQ(data, before);
  }
  ASSERT_EQ(Sort_Shell(g_SortModule, data.data(), 50, kSize, byFirst, nullptr), kOk);
  for (std::uint32_t e = 0; e < 50; ++e) {
    const std::uint8_t key = data[e * kSize];
    if (e > 0) {
      EXPECT_LE(data[(e - 1) * kSize], key);
    }
    EXPECT_TRUE(std::all_of(data.begin() + e * kSize, data.begin() + (e + 1) * kSize,
                            [&](std::uint8_t b) { return b == key; }));
  }

  Item one{};
  EXPECT_EQ(Sort_Shell(g_SortModule, nullptr, 0, 16, nullptr, nullptr), kOk);
  EXPECT_EQ(Sort_Shell(g_SortModule, &one, 1, 16, nullptr, nullptr), kOk);
  EXPECT_EQ(Sort_Shell(g_SortModule, nullptr, 2, 16, byFirst, nullptr), kBadArgument);
  EXPECT_EQ(Sort_Shell(g_SortModule, data.data(), 2, 16, nullptr, nullptr), kBadArgument);
  EXPECT_EQ(Sort_Shell(g_SortModule, data.data(), 2, 0, byFirst, nullptr), kBadArgument);
}

}  // namespace
