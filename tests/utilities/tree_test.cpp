#include "engine/utilities/tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "tests/support/failing_allocator.h"

namespace {

const TreeOps& Ops(EngineObject* object) {
  return OpsOf<TreeOps>(object);
}

// Counts the engine blocks alive while it is installed, so leaks and
// premature frees of nodes and owned data show as wrong counts.
class CountingAllocator {
 public:
  CountingAllocator() : saved_(g_AllocatorModule) {
    live_ = 0;
    g_AllocatorModule = &module_;
  }
  ~CountingAllocator() { g_AllocatorModule = saved_; }
  CountingAllocator(const CountingAllocator&) = delete;
  CountingAllocator& operator=(const CountingAllocator&) = delete;
  static std::int64_t Live() { return live_; }

 private:
  static StatusCode Alloc(EngineObject* m, std::uint32_t size, void** out) noexcept {
    const StatusCode s = Mem_Alloc(m, size, out);
    if (s == kOk) ++live_;
    return s;
  }
  static StatusCode Free(EngineObject* m, void* block) noexcept {
    if (block != nullptr) --live_;
    return Mem_Free(m, block);
  }
  static inline std::int64_t live_ = 0;
  static constexpr AllocatorOps kOps = {Core_NotImplemented, Core_NoOp, Alloc,    Free,
                                        Mem_Realloc,         Mem_Copy,  Mem_Fill, Mem_Compare,
                                        Core_NotImplemented};
  EngineObject module_{nullptr, &kOps};
  EngineObject* saved_;
};

void* NewData() {
  void* p = nullptr;
  EXPECT_EQ(Engine_Alloc(8, &p), kOk);
  return p;
}

class TreeTest : public testing::Test {
 protected:
  void Make(std::uint32_t flags) { ASSERT_EQ(Tree_Create(g_TreeModule, flags, &tree_), kOk); }
  void TearDown() override {
    if (tree_ != nullptr) {
      EXPECT_EQ(Ops(tree_).destroy(tree_), kOk);
    }
  }
  TreeNode* Insert(TreeNode* parent, TreeNode* before, std::uint32_t value, void* data = nullptr) {
    TreeNode* n = nullptr;
    EXPECT_EQ(Ops(tree_).insert(tree_, parent, before, value, data, &n), kOk);
    return n;
  }
  // Values of the children of node, walked forwards.
  std::vector<std::uint32_t> Children(TreeNode* node) {
    std::vector<std::uint32_t> out;
    TreeNode* c = nullptr;
    EXPECT_EQ(Ops(tree_).getFirstChild(tree_, node, &c), kOk);
    while (c != nullptr) {
      std::uint32_t v = 0;
      EXPECT_EQ(Ops(tree_).getValue(tree_, c, &v, nullptr), kOk);
      out.push_back(v);
      if (Ops(tree_).getNext(tree_, c, &c) != kOk) {
        ADD_FAILURE() << "getNext failed";
        break;
      }
    }
    return out;
  }

  CountingAllocator counting_;
  EngineObject* tree_ = nullptr;
};

TEST_F(TreeTest, CreateNeedsAnOutPointer) {
  EXPECT_EQ(OpsOf<TreeOps>(g_TreeModule).create(g_TreeModule, 0, nullptr), kNullOutPointer);
}

TEST_F(TreeTest, InsertPlacesBeforeASiblingOrLast) {
  Make(0);
  TreeNode* a = Insert(nullptr, nullptr, 1);
  TreeNode* b = Insert(nullptr, nullptr, 2);
  TreeNode* first = Insert(nullptr, a, 0);       // before the first child
  Insert(b, nullptr, 20);                        // under b
  TreeNode* mid = Insert(a /*ignored*/, b, 15);  // before b: takes b's parent (the root)
  EXPECT_EQ(Children(nullptr), (std::vector<std::uint32_t>{0, 1, 15, 2}));
  EXPECT_EQ(Children(b), (std::vector<std::uint32_t>{20}));
  EXPECT_TRUE(Children(a).empty());

  TreeNode* n = nullptr;
  EXPECT_EQ(Ops(tree_).getFirstChild(tree_, nullptr, &n), kOk);
  EXPECT_EQ(n, first);
  EXPECT_EQ(Ops(tree_).getPrev(tree_, first, &n), kOk);  // first child: null, still 0
  EXPECT_EQ(n, nullptr);
  EXPECT_EQ(Ops(tree_).getLastChild(tree_, nullptr, &n), kOk);
  EXPECT_EQ(n, b);
  EXPECT_EQ(Ops(tree_).getNext(tree_, b, &n), kOk);
  EXPECT_EQ(n, nullptr);
  EXPECT_EQ(Ops(tree_).getParent(tree_, mid, &n), kOk);  // top level: null
  EXPECT_EQ(n, nullptr);
  TreeNode* child = nullptr;
  EXPECT_EQ(Ops(tree_).getFirstChild(tree_, b, &child), kOk);
  EXPECT_EQ(Ops(tree_).getParent(tree_, child, &n), kOk);
  EXPECT_EQ(n, b);
  // An insert may leave the node unreported.
  EXPECT_EQ(Ops(tree_).insert(tree_, nullptr, nullptr, 9, nullptr, nullptr), kOk);
  EXPECT_EQ(Children(nullptr).back(), 9u);
}

TEST_F(TreeTest, NullNodesWhereANodeIsRequired) {
  Make(0);
  TreeNode* a = Insert(nullptr, nullptr, 1);
  TreeNode* out = a;
  EXPECT_EQ(Ops(tree_).getParent(tree_, nullptr, &out), kTreeNullNode);
  EXPECT_EQ(Ops(tree_).getPrev(tree_, nullptr, &out), kTreeNullSibling);
  EXPECT_EQ(Ops(tree_).getNext(tree_, nullptr, &out), kTreeNullSibling);
  EXPECT_EQ(Ops(tree_).move(tree_, nullptr, nullptr, nullptr), kTreeNullMove);
  EXPECT_EQ(out, a);  // untouched
  EXPECT_EQ(Ops(tree_).getFirstChild(tree_, a, nullptr), kNullOutPointer);
}

TEST_F(TreeTest, RootValueAndDataReadAndSetLikeANode) {
  Make(kTreeOwnsData);
  void* d = NewData();
  const std::uint32_t v = 77;
  void* const dp = d;
  EXPECT_EQ(Ops(tree_).setValue(tree_, nullptr, &v, &dp), kOk);
  std::uint32_t gotV = 0;
  void* gotD = nullptr;
  EXPECT_EQ(Ops(tree_).getValue(tree_, nullptr, &gotV, &gotD), kOk);
  EXPECT_EQ(gotV, 77u);
  EXPECT_EQ(gotD, d);
  EXPECT_EQ(Ops(tree_).getValue(tree_, nullptr, nullptr, nullptr), kOk);
}

TEST_F(TreeTest, OwnedDataIsFreedOnReplaceAndRemoveButNotWhenSetAgain) {
  Make(kTreeOwnsData);
  const std::int64_t base = CountingAllocator::Live();
  void* d1 = NewData();
  TreeNode* n = Insert(nullptr, nullptr, 1, d1);
  EXPECT_EQ(CountingAllocator::Live(), base + 2);

  void* const same = d1;  // the block the node already holds stays alive
  EXPECT_EQ(Ops(tree_).setValue(tree_, n, nullptr, &same), kOk);
  EXPECT_EQ(CountingAllocator::Live(), base + 2);
  void* got = nullptr;
  EXPECT_EQ(Ops(tree_).getValue(tree_, n, nullptr, &got), kOk);
  EXPECT_EQ(got, d1);

  void* const d2 = NewData();
  EXPECT_EQ(Ops(tree_).setValue(tree_, n, nullptr, &d2), kOk);  // d1 freed
  EXPECT_EQ(CountingAllocator::Live(), base + 2);
  const std::uint32_t v = 5;
  EXPECT_EQ(Ops(tree_).setValue(tree_, n, &v, nullptr), kOk);  // value only
  EXPECT_EQ(Ops(tree_).getValue(tree_, n, nullptr, &got), kOk);
  EXPECT_EQ(got, d2);

  Insert(n, nullptr, 2, NewData());
  EXPECT_EQ(CountingAllocator::Live(), base + 4);
  EXPECT_EQ(Ops(tree_).remove(tree_, n), kOk);  // node, child and both blocks
  EXPECT_EQ(CountingAllocator::Live(), base);
}

TEST_F(TreeTest, DataIsLeftAloneWithoutOwnership) {
  Make(0);
  const std::int64_t base = CountingAllocator::Live();
  void* d1 = NewData();
  void* const d2 = NewData();
  TreeNode* n = Insert(nullptr, nullptr, 1, d1);
  EXPECT_EQ(Ops(tree_).setValue(tree_, n, nullptr, &d2), kOk);
  EXPECT_EQ(Ops(tree_).remove(tree_, n), kOk);
  EXPECT_EQ(CountingAllocator::Live(), base + 2);  // both blocks still the caller's
  Engine_Free(d1);
  Engine_Free(d2);
}

TEST_F(TreeTest, RemovingTheRootEmptiesTheTreeAndLeavesItUsable) {
  Make(kTreeOwnsData);
  const std::int64_t base = CountingAllocator::Live();
  TreeNode* a = Insert(nullptr, nullptr, 1, NewData());
  Insert(a, nullptr, 2, NewData());
  Insert(nullptr, nullptr, 3);
  void* const rootData = NewData();
  const std::uint32_t v = 9;
  EXPECT_EQ(Ops(tree_).setValue(tree_, nullptr, &v, &rootData), kOk);
  EXPECT_EQ(Ops(tree_).remove(tree_, nullptr), kOk);
  EXPECT_EQ(CountingAllocator::Live(), base);
  EXPECT_TRUE(Children(nullptr).empty());
  TreeNode* last = a;
  EXPECT_EQ(Ops(tree_).getLastChild(tree_, nullptr, &last), kOk);
  EXPECT_EQ(last, nullptr);
  std::uint32_t gotV = 1;
  void* gotD = a;
  EXPECT_EQ(Ops(tree_).getValue(tree_, nullptr, &gotV, &gotD), kOk);
  EXPECT_EQ(gotV, 0u);
  EXPECT_EQ(gotD, nullptr);

  Insert(nullptr, nullptr, 4);
  EXPECT_EQ(Children(nullptr), (std::vector<std::uint32_t>{4}));
}

// A chain far deeper than any recursion could take is removed whole.
TEST_F(TreeTest, VeryDeepSubtreesAreFreedCompletely) {
  Make(kTreeOwnsData);
  const std::int64_t base = CountingAllocator::Live();
  TreeNode* top = Insert(nullptr, nullptr, 0, NewData());
  TreeNode* p = top;
  for (std::uint32_t i = 1; i < 200000; ++i)
    p = Insert(p, nullptr, i, NewData());
  Insert(nullptr, nullptr, 1);
  EXPECT_EQ(Ops(tree_).remove(tree_, top), kOk);
  EXPECT_EQ(CountingAllocator::Live(), base + 1);
  EXPECT_EQ(Children(nullptr), (std::vector<std::uint32_t>{1}));
  // And through Destroy.
  p = nullptr;
  for (std::uint32_t i = 0; i < 100000; ++i)
    p = Insert(p, nullptr, i);
}

TEST_F(TreeTest, MovingANodeIntoItsOwnSubtreeIsRefused) {
  Make(0);
  TreeNode* a = Insert(nullptr, nullptr, 1);
  TreeNode* b = Insert(a, nullptr, 2);
  TreeNode* c = Insert(b, nullptr, 3);
  TreeNode* d = Insert(nullptr, nullptr, 4);
  EXPECT_EQ(Ops(tree_).move(tree_, a, c, nullptr), kTreeMoveIntoSelf);
  EXPECT_EQ(Ops(tree_).move(tree_, a, a, nullptr), kTreeMoveIntoSelf);
  EXPECT_EQ(Ops(tree_).move(tree_, a, nullptr, c), kTreeMoveIntoSelf);
  EXPECT_EQ(Children(nullptr), (std::vector<std::uint32_t>{1, 4}));
  EXPECT_EQ(Children(b), (std::vector<std::uint32_t>{3}));
  // Before itself: nothing changes.
  EXPECT_EQ(Ops(tree_).move(tree_, d, nullptr, d), kOk);
  EXPECT_EQ(Children(nullptr), (std::vector<std::uint32_t>{1, 4}));
  // A descendant may move up, with its subtree.
  EXPECT_EQ(Ops(tree_).move(tree_, b, nullptr, a), kOk);
  EXPECT_EQ(Children(nullptr), (std::vector<std::uint32_t>{2, 1, 4}));
  EXPECT_EQ(Children(b), (std::vector<std::uint32_t>{3}));
  EXPECT_TRUE(Children(a).empty());
}

TEST_F(TreeTest, InsertWithoutMemoryChangesNothing) {
  Make(0);
  Insert(nullptr, nullptr, 1);
  TreeNode* out = nullptr;
  {
    LargeBlocksRefused refuse(0);
    EXPECT_EQ(Ops(tree_).insert(tree_, nullptr, nullptr, 2, nullptr, &out), kOutOfMemory);
    EngineObject* other = nullptr;
    EXPECT_EQ(Tree_Create(g_TreeModule, 0, &other), kOutOfMemory);
    EXPECT_EQ(other, nullptr);
  }
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Children(nullptr), (std::vector<std::uint32_t>{1}));
}

// The tree against a plain model under random operations.
class TreeModelTest : public TreeTest, public testing::WithParamInterface<std::uint32_t> {
 protected:
  struct Model {
    TreeNode* handle = nullptr;  // null for the root
    int parent = -1;
    std::vector<int> children;
    std::uint32_t value = 0;
    void* data = nullptr;
    bool alive = false;
  };

  std::vector<int> Alive() const {
    std::vector<int> out;
    for (int i = 1; i < static_cast<int>(m_.size()); ++i)
      if (m_[i].alive) out.push_back(i);
    return out;
  }
  bool InSubtree(int node, int top) const {
    for (int up = node; up != -1; up = m_[up].parent)
      if (up == top) return true;
    return false;
  }
  void Detach(int node) {
    auto& siblings = m_[m_[node].parent].children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), node));
  }
  void Kill(int node) {
    for (int c : m_[node].children)
      Kill(c);
    m_[node].children.clear();
    m_[node].alive = false;
    --blocks_;
    if (m_[node].data != nullptr) --blocks_;
  }
  void Place(int node, int parent, int before) {
    auto& siblings = m_[parent].children;
    siblings.insert(
        before < 0 ? siblings.end() : std::find(siblings.begin(), siblings.end(), before), node);
    m_[node].parent = parent;
  }

  void Check(int node) {
    const TreeOps& ops = Ops(tree_);
    TreeNode* h = m_[node].handle;
    std::uint32_t v = 0;
    void* d = nullptr;
    ASSERT_EQ(ops.getValue(tree_, h, &v, &d), kOk);
    ASSERT_EQ(v, m_[node].value);
    ASSERT_EQ(d, m_[node].data);
    TreeNode* c = nullptr;
    ASSERT_EQ(ops.getFirstChild(tree_, h, &c), kOk);
    for (int child : m_[node].children) {
      ASSERT_EQ(c, m_[child].handle);
      TreeNode* parent = nullptr;
      ASSERT_EQ(ops.getParent(tree_, c, &parent), kOk);
      ASSERT_EQ(parent, h);
      Check(child);
      ASSERT_EQ(ops.getNext(tree_, c, &c), kOk);
    }
    ASSERT_EQ(c, nullptr);
    ASSERT_EQ(ops.getLastChild(tree_, h, &c), kOk);
    for (auto it = m_[node].children.rbegin(); it != m_[node].children.rend(); ++it) {
      ASSERT_EQ(c, m_[*it].handle);
      ASSERT_EQ(ops.getPrev(tree_, c, &c), kOk);
    }
    ASSERT_EQ(c, nullptr);
  }

  std::vector<Model> m_;
  std::int64_t blocks_ = 0;
};

TEST_P(TreeModelTest, AgreesWithAModelUnderRandomOperations) {
  Make(kTreeOwnsData);
  std::mt19937 rng(GetParam());
  m_.assign(1, Model{});
  m_[0].alive = true;
  blocks_ = CountingAllocator::Live();
  const auto pick = [&](const std::vector<int>& v) {
    return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng)];
  };
  // A random place: parent (0 the root) and a sibling to go before (-1 none).
  const auto randomPlace = [&](int* parent, int* before) {
    const std::vector<int> alive = Alive();
    *parent = alive.empty() || rng() % 4 == 0 ? 0 : pick(alive);
    const auto& kids = m_[*parent].children;
    *before = kids.empty() || rng() % 2 ? -1 : pick(kids);
  };
  const auto handle = [&](int i) { return i <= 0 ? nullptr : m_[i].handle; };

  for (int step = 0; step < 3000; ++step) {
    const std::vector<int> alive = Alive();
    const std::uint32_t op = rng() % 10;
    if (alive.empty() || op < 5) {
      int parent = 0;
      int before = -1;
      randomPlace(&parent, &before);
      Model n;
      n.value = rng();
      n.data = rng() % 2 ? NewData() : nullptr;
      n.alive = true;
      // With a sibling given the parent argument is ignored: pass a wrong one.
      TreeNode* parentArg = before >= 0 && !alive.empty() ? handle(pick(alive)) : handle(parent);
      ASSERT_EQ(Ops(tree_).insert(tree_, parentArg, handle(before), n.value, n.data, &n.handle),
                kOk);
      m_.push_back(n);
      Place(static_cast<int>(m_.size()) - 1, parent, before);
      blocks_ += n.data ? 2 : 1;
    } else if (op < 6) {
      const int node = rng() % 8 == 0 ? 0 : pick(alive);
      const std::uint32_t v = rng();
      void* const d = rng() % 2 ? NewData() : nullptr;
      const bool setData = rng() % 2 != 0 || d != nullptr;
      ASSERT_EQ(Ops(tree_).setValue(tree_, handle(node), &v, setData ? &d : nullptr), kOk);
      m_[node].value = v;
      if (setData) {
        blocks_ += (d ? 1 : 0) - (m_[node].data ? 1 : 0);
        m_[node].data = d;
      }
    } else if (op < 8) {
      int parent = 0;
      int before = -1;
      randomPlace(&parent, &before);
      const int node = pick(alive);
      const StatusCode s = Ops(tree_).move(tree_, handle(node), handle(parent), handle(before));
      if (before == node) {
        ASSERT_EQ(s, kOk);
      } else if (InSubtree(parent, node)) {
        ASSERT_EQ(s, kTreeMoveIntoSelf);
      } else {
        ASSERT_EQ(s, kOk);
        Detach(node);
        Place(node, parent, before);
      }
    } else if (op < 9 || rng() % 50 != 0) {
      const int node = pick(alive);
      ASSERT_EQ(Ops(tree_).remove(tree_, handle(node)), kOk);
      Detach(node);
      Kill(node);
    } else {
      ASSERT_EQ(Ops(tree_).remove(tree_, nullptr), kOk);
      for (int c : m_[0].children)
        Kill(c);
      m_[0].children.clear();
      if (m_[0].data != nullptr) --blocks_;
      m_[0].value = 0;
      m_[0].data = nullptr;
    }
    ASSERT_NO_FATAL_FAILURE(Check(0)) << "step " << step;
    ASSERT_EQ(CountingAllocator::Live(), blocks_) << "step " << step;
  }
  ASSERT_EQ(Ops(tree_).destroy(tree_), kOk);
  tree_ = nullptr;
  EXPECT_EQ(CountingAllocator::Live(), 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, TreeModelTest, testing::Values(1u, 2u, 3u, 20261210u));

}  // namespace
