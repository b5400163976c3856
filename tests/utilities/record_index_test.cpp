#include "engine/utilities/record_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/runtime/module_table.h"

namespace {

const RecordIndexOps& Ops() {
  return OpsOf<RecordIndexOps>(g_RecordIndexModule);
}

struct Index {
  EngineObject* x = nullptr;
  Index() { EXPECT_EQ(Ops().create(g_RecordIndexModule, &x), kOk); }
  ~Index() { EXPECT_EQ(Ops().release(x), kOk); }
  StatusCode Insert(const std::string& name, std::uint32_t value, std::uint32_t* entry = nullptr) {
    return Ops().insert(x, name.data(), static_cast<std::uint32_t>(name.size()), value, entry);
  }
  StatusCode Link(const std::string& name, const char* secondary, std::uint32_t w3,
                  std::uint32_t w5) {
    return Ops().addLink(
        x, name.data(), static_cast<std::uint32_t>(name.size()), secondary,
        secondary != nullptr ? static_cast<std::uint32_t>(std::string(secondary).size()) : 0, w3, 0,
        w5);
  }
  std::vector<std::uint32_t> Data(std::uint32_t n) {
    std::vector<std::uint32_t> w(8);
    EXPECT_EQ(RecordIndex_GetData(x, n, w.data()), kOk);
    return w;
  }
  std::vector<std::uint32_t> LinkRecord(std::uint32_t n) {
    std::vector<std::uint32_t> w(7);
    EXPECT_EQ(RecordIndex_GetLink(x, n, w.data()), kOk);
    return w;
  }
};

constexpr std::uint32_t N = 0xFFFFFFFFu;

TEST(RecordIndex, RecordsInInsertionOrder) {
  Index index;
  std::uint32_t entry = 9;
  ASSERT_EQ(index.Insert("pear", 10), kOk);
  ASSERT_EQ(index.Insert("apple", 20, &entry), kOk);
  EXPECT_EQ(entry, 1u);
  EXPECT_EQ(index.Insert("pear", 30, &entry), kRecordIndexDuplicate);
  EXPECT_EQ(entry, 0u);
  EXPECT_EQ(index.Insert(std::string(32001, 'x'), 1), kFailed);
  ASSERT_EQ(index.Insert(std::string(32000, 'x'), 40), kOk);
  EXPECT_EQ(index.Data(1), (std::vector<std::uint32_t>{0, 0, N, 0, N, 0, 20, N}));

  char buffer[8];
  std::uint32_t length = sizeof buffer;
  std::uint32_t value = 0;
  const char* names[] = {"pear", "apple"};
  for (const char* name : names) {
    length = sizeof buffer;
    ASSERT_EQ(Ops().next(index.x, buffer, &length, &value), kOk);
    EXPECT_EQ(std::string(buffer, length), name);
  }
  EXPECT_EQ(value, 20u);
  length = sizeof buffer;
  ASSERT_EQ(Ops().next(index.x, buffer, &length, &value), kOk);
  EXPECT_EQ(length, 32000u) << "the stored length; the buffer got what fits";
  EXPECT_EQ(Ops().next(index.x, buffer, &length, &value), kNoMore);
  std::uint32_t number = 1;
  length = sizeof buffer;
  ASSERT_EQ(Ops().read(index.x, &number, buffer, &length, nullptr), kOk);
  EXPECT_EQ(number, 2u);
  number = 3;
  EXPECT_EQ(Ops().read(index.x, &number, buffer, &length, nullptr), kNoMore);
}

StatusCode CountCalls(void* user, StatusCode notice, std::uint32_t position,
                      std::uint32_t count) noexcept {
  auto* calls = static_cast<std::vector<std::uint32_t>*>(user);
  if (notice != kRecordIndexLinking || position != calls->size()) return kFailed;
  calls->push_back(count);
  return kOk;
}

StatusCode CancelAtTwo(void*, StatusCode, std::uint32_t position, std::uint32_t) noexcept {
  return position == 2 ? kCancelled : kOk;
}

TEST(RecordIndex, UpdatesLinksAndTheLinkingPass) {
  Index index;
  ASSERT_EQ(index.Insert("chapter", 100), kOk);  // 0
  ASSERT_EQ(index.Insert("notes", 200), kOk);    // 1
  EXPECT_EQ(Ops().endUpdate(index.x), kFailed) << "no update open";
  EXPECT_EQ(index.Link("notes", nullptr, 0, 0), kFailed);
  EXPECT_EQ(Ops().beginUpdate(index.x, 2, 7), kFailed) << "no record 2";

  // Record 1 ("notes") gets secondary keys "a" and "b" and default 77.
  ASSERT_EQ(Ops().beginUpdate(index.x, 1, 77), kOk);
  EXPECT_EQ(Ops().beginUpdate(index.x, 0, 1), kRecordIndexUpdateOpen);
  ASSERT_EQ(Ops().addKey(index.x, "a", 1, 501, nullptr), kOk);
  ASSERT_EQ(Ops().addKey(index.x, "b", 1, 502, nullptr), kOk);
  EXPECT_EQ(Ops().addKey(index.x, "a", 1, 503, nullptr), kRecordIndexDuplicate);
  ASSERT_EQ(Ops().endUpdate(index.x), kOk);
  const auto notes = index.Data(1);
  EXPECT_NE(notes[0], 0u);
  EXPECT_EQ(notes[1], 2u);
  EXPECT_EQ(notes[2], N);
  EXPECT_EQ(notes[3], 0u);
  EXPECT_EQ(notes[7], 77u);

  // Record 0 links to notes#a, notes#zz (absent key), notes (no key) and to
  // a new record "appendix" (value 100 + 1).
  ASSERT_EQ(Ops().beginUpdate(index.x, 0, 5), kOk);
  ASSERT_EQ(index.Link("notes", "a", 0x10, 0x100), kOk);      // link 0
  ASSERT_EQ(index.Link("notes", "zz", 0x11, 0x100), kOk);     // link 1
  ASSERT_EQ(index.Link("notes", nullptr, 0x12, 0x100), kOk);  // link 2
  ASSERT_EQ(index.Link("appendix", "a", 0x13, 0x100), kOk);   // link 3
  ASSERT_EQ(Ops().endUpdate(index.x), kOk);
  const auto chapter = index.Data(0);
  EXPECT_EQ(chapter[2], 0u) << "first link added";
  EXPECT_EQ(chapter[3], 4u) << "links added";
  EXPECT_EQ(index.Data(1)[4], 2u) << "notes' chain starts at its newest link";
  EXPECT_EQ(index.Data(1)[5], 3u);
  const auto appendix = index.Data(2);
  EXPECT_EQ(appendix, (std::vector<std::uint32_t>{0, 0, N, 0, 3, 1, 101, N}));
  EXPECT_EQ(index.LinkRecord(2)[2], 1u) << "chain: 2 -> 1 -> 0";
  EXPECT_EQ(index.LinkRecord(1)[2], 0u);
  EXPECT_EQ(index.LinkRecord(0)[2], N);
  EXPECT_EQ(index.LinkRecord(0)[6], N) << "unresolved before the pass";

  std::vector<std::uint32_t> calls;
  ASSERT_EQ(Ops().link(index.x, CountCalls, &calls), kOk);
  EXPECT_EQ(calls, (std::vector<std::uint32_t>{3, 3, 3}));
  struct {
    std::uint32_t link;
    std::uint32_t word5;
    std::uint32_t target;
  } expected[] = {
      {0, 0x101, 501},  // found among notes' keys
      {1, 0x102, 77},   // absent key: notes' default
      {2, 0x102, 77},   // no key: the default
      {3, 0x102, N},    // appendix has no keys and no default set
  };
  for (const auto& e : expected) {
    const auto w = index.LinkRecord(e.link);
    EXPECT_EQ(w[5], e.word5) << "link " << e.link;
    EXPECT_EQ(w[6], e.target) << "link " << e.link;
    EXPECT_EQ(w[3], 0x10 + e.link);
  }
  EXPECT_EQ(Ops().link(index.x, CancelAtTwo, nullptr), kCancelled);
}

}  // namespace
