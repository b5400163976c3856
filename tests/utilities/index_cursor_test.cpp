#include "engine/utilities/index_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/block_file.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/str.h"
#include "engine/runtime/stream.h"
#include "engine/utilities/record_list.h"
#include "engine/utilities/record_store.h"
#include "tests/support/test_streams.h"

namespace {

const IndexCursorOps& Ops() {
  return OpsOf<IndexCursorOps>(g_IndexCursorModule);
}

std::string Folded(std::string s) {
  for (char& c : s)
    c = static_cast<char>(Str_FoldByte(static_cast<unsigned char>(c)));
  return s;
}

// Byte order of unsigned chars, after folding when asked.
struct KeyLess {
  bool fold;
  bool operator()(const std::string& a, const std::string& b) const {
    const std::string x = fold ? Folded(a) : a;
    const std::string y = fold ? Folded(b) : b;
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
      return static_cast<unsigned char>(p) < static_cast<unsigned char>(q);
    });
  }
};

std::uint32_t Le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8 |
         static_cast<std::uint8_t>(b[at + 2]) << 16 |
         std::uint32_t{static_cast<std::uint8_t>(b[at + 3])} << 24;
}

// Reads the cursor's store from its stream bytes and checks the tree: a
// black root, no red node with a red child, one black height, and the key
// texts in strictly ascending order in an in-order walk.
void CheckTree(const std::string& bytes, EngineObject* list, const KeyLess& less,
               std::size_t expectedCount) {
  ASSERT_GE(bytes.size(), 32u);
  const std::uint32_t e = Le32(bytes, 16);
  const std::uint32_t root = Le32(bytes, 20);
  const std::uint32_t slots = Le32(bytes, 28);
  ASSERT_EQ(bytes.size(), 32 + std::size_t{slots} * e);
  auto text = [&](std::uint32_t node) {
    std::string out(32000, '\0');
    std::uint32_t length = 0;
    EXPECT_EQ(RecordList_Read(list, Le32(bytes, 32 + std::size_t{node} * e + 9), &length,
                              out.data(), 32000),
              kOk);
    out.resize(length);
    return out;
  };
  std::vector<std::string> inOrder;
  int blackHeight = -1;
  struct Frame {
    std::uint32_t node;
    int blacks;
    bool visited;
  };
  std::vector<Frame> stack;
  if (root != 0xFFFFFFFFu) {
    ASSERT_EQ(bytes[32 + std::size_t{root} * e], 1) << "black root";
    stack.push_back({root, 0, false});
  } else {
    blackHeight = 0;
  }
  while (!stack.empty()) {
    Frame f = stack.back();
    stack.pop_back();
    if (f.node == 0xFFFFFFFFu) {
      if (blackHeight < 0) blackHeight = f.blacks;
      ASSERT_EQ(f.blacks, blackHeight);
      continue;
    }
    ASSERT_LT(f.node, slots);
    const std::size_t p = 32 + std::size_t{f.node} * e;
    if (f.visited) {
      inOrder.push_back(text(f.node));
      continue;
    }
    const int red = bytes[p] == 0;
    const int below = f.blacks + (red ? 0 : 1);
    for (std::uint32_t child : {Le32(bytes, p + 1), Le32(bytes, p + 5)}) {
      if (red && child != 0xFFFFFFFFu) {
        ASSERT_EQ(bytes[32 + std::size_t{child} * e], 1);
      }
    }
    stack.push_back({Le32(bytes, p + 5), below, false});
    stack.push_back({f.node, f.blacks, true});
    stack.push_back({Le32(bytes, p + 1), below, false});
  }
  ASSERT_EQ(inOrder.size(), expectedCount);
  for (std::size_t i = 1; i < inOrder.size(); ++i)
    ASSERT_TRUE(less(inOrder[i - 1], inOrder[i])) << "order at " << i;
}

std::string ReadKey(EngineObject* list, std::uint32_t handle) {
  std::string out(32000, '\0');
  std::uint32_t length = 0;
  EXPECT_EQ(RecordList_Read(list, handle, &length, out.data(), 32000), kOk);
  out.resize(length);
  return out;
}

TEST(IndexCursor, AgreesWithAMapUnderLongRandomSequences) {
  for (bool fold : {false, true}) {
    EngineObject* container = nullptr;
    ASSERT_EQ(BlockFile_Open(g_BlockFileModule, test_streams::NewMemStream(), 1024, &container),
              kOk);
    EngineObject* list = nullptr;
    ASSERT_EQ(RecordList_Create(g_RecordListModule, container, &list), kOk);
    EngineObject* cursor = nullptr;
    std::uint32_t streamId = 0;
    ASSERT_EQ(Ops().create(g_IndexCursorModule, fold, container, 4, list, &streamId, &cursor), kOk);
    const KeyLess less{fold};
    std::map<std::string, std::uint32_t, KeyLess> model(less);
    std::map<std::string, std::uint32_t, KeyLess> entries(less);  // key -> entry index
    std::string lastKey;  // the key whose text is the list's last record
    std::mt19937 rng(fold ? 7 : 8);
    const char* alphabet = "abAB\xE9z";
    auto randomKey = [&] {
      std::string k(1 + rng() % 4, 'a');
      for (char& c : k)
        c = alphabet[rng() % 6];
      if (rng() % 8 == 0) k = std::string(600, 'k') + k;  // compared across pieces
      return k;
    };
    for (int step = 0; step < 1500; ++step) {
      const std::uint32_t op = rng() % 10;
      if (op < 6) {
        const std::string key = randomKey();
        const std::uint32_t value = rng();
        std::uint32_t entry = 0;
        const std::uint32_t endBefore = RecordList_End(list);
        const StatusCode s = Ops().insert(cursor, key.data(),
                                          static_cast<std::uint32_t>(key.size()), &value, &entry);
        if (model.count(key)) {
          ASSERT_EQ(s, kIndexCursorDuplicate);
          ASSERT_EQ(entry, entries[key]);
          ASSERT_EQ(RecordList_End(list), endBefore) << "the dropped text is gone";
        } else {
          ASSERT_EQ(s, kOk);
          model[key] = value;
          entries[key] = entry;
          lastKey = key;
        }
      } else if (op < 8 && !model.empty()) {
        // Delete the last text's key when there is one; any other key must be
        // refused and stay.
        auto it = std::next(entries.begin(), rng() % entries.size());
        const bool isLast =
            !lastKey.empty() && !less(it->first, lastKey) && !less(lastKey, it->first);
        const StatusCode s = Ops().remove(cursor, it->second);
        if (isLast) {
          ASSERT_EQ(s, kOk);
          model.erase(it->first);
          entries.erase(it);
          lastKey.clear();
        } else {
          ASSERT_EQ(s, kRecordListNotLast);
        }
      } else {
        const std::string key = randomKey();
        std::uint32_t data = 0;
        std::uint32_t entry = 0;
        const StatusCode s =
            Ops().find(cursor, key.data(), static_cast<std::uint32_t>(key.size()), &data, &entry);
        if (model.count(key)) {
          ASSERT_EQ(s, kOk);
          ASSERT_EQ(data, model[key]);
          ASSERT_EQ(entry, entries[key]);
          std::uint32_t handle = 0;
          ASSERT_EQ(Ops().getEntry(cursor, entry, &handle, &data), kOk);
          ASSERT_FALSE(less(ReadKey(list, handle), key) || less(key, ReadKey(list, handle)));
          ASSERT_EQ(Ops().find(cursor, nullptr, handle, nullptr, &entry), kOk) << "by handle";
          ASSERT_EQ(Ops().setData(cursor, entry, &step), kOk);
          model[key] = static_cast<std::uint32_t>(step);
        } else {
          ASSERT_EQ(s, kNotFound);
        }
      }
      if (step % 100 == 99) {
        ASSERT_EQ(Ops().destroy(cursor), kOk);
        EngineObject* raw = nullptr;
        ASSERT_EQ(BlockFile_OpenStream(container, streamId, &raw), kOk);
        CheckTree(test_streams::Contents(raw), list, less, model.size());
        ASSERT_EQ(StreamOf(raw).close(raw), kOk);
        ASSERT_FALSE(testing::Test::HasFatalFailure()) << "step " << step;
        ASSERT_EQ(Ops().open(g_IndexCursorModule, fold, container, list, streamId, &cursor), kOk);
      }
    }
    if (fold) {
      std::uint32_t entry = 0;
      ASSERT_EQ(Ops().insert(cursor, "MiXeD", 5, &entry, &entry), kOk);
      EXPECT_EQ(Ops().find(cursor, "mixed", 5, nullptr, nullptr), kOk);
    }
    ASSERT_EQ(Ops().destroy(cursor), kOk);
    ASSERT_EQ(RecordList_Destroy(list), kOk);
    ASSERT_EQ(BlockFile_DeleteStream(container, streamId), kOk);
    ASSERT_EQ(BlockFile_Close(container), kOk);
  }
}

TEST(IndexCursor, EntriesAndStreamsThatAreNotTheirs) {
  EngineObject* container = nullptr;
  ASSERT_EQ(BlockFile_Open(g_BlockFileModule, test_streams::NewMemStream(), 512, &container), kOk);
  EngineObject* list = nullptr;
  ASSERT_EQ(RecordList_Create(g_RecordListModule, container, &list), kOk);
  EngineObject* cursor = nullptr;
  std::uint32_t streamId = 0;
  ASSERT_EQ(Ops().create(g_IndexCursorModule, false, container, 4, list, &streamId, &cursor), kOk);
  std::uint32_t handle = 0;
  std::uint32_t data = 0;
  EXPECT_EQ(Ops().getEntry(cursor, 0, &handle, &data), kNotFound) << "no slots yet";
  const std::uint32_t value = 5;
  std::uint32_t entry = 0;
  ASSERT_EQ(Ops().insert(cursor, "k", 1, &value, &entry), kOk);
  EXPECT_EQ(Ops().getEntry(cursor, entry + 1, &handle, &data), kNotFound) << "a free slot";
  EXPECT_EQ(Ops().remove(cursor, entry + 1), kNotFound);
  EXPECT_EQ(Ops().setData(cursor, entry + 1, &value), kNotFound);
  EXPECT_EQ(Ops().find(cursor, nullptr, 0xFFFFFFFFu, nullptr, nullptr), kBadArgument);
  ASSERT_EQ(Ops().destroy(cursor), kOk);
  // The list's own stream is no cursor store.
  std::uint32_t other = 0;
  EngineObject* s = nullptr;
  ASSERT_EQ(BlockFile_CreateStream(container, &other, &s), kOk);
  ASSERT_EQ(Stream_WriteExact(s, 0, "not a store", 11), kOk);
  ASSERT_EQ(StreamOf(s).close(s), kOk);
  EXPECT_TRUE(IsFailure(Ops().open(g_IndexCursorModule, false, container, list, other, &cursor)));
  ASSERT_EQ(RecordList_Destroy(list), kOk);
  ASSERT_EQ(BlockFile_Close(container), kOk);
}

}  // namespace
