#include "engine/utilities/tree.h"

#include <new>

#include "engine/runtime/allocator.h"

// Internally a top-level node's parent is the root pseudo-node, so linking
// needs no special cases; the interface shows it as null.
struct TreeNode {
  TreeNode* parent;
  TreeNode* prev;
  TreeNode* next;
  TreeNode* firstChild;
  TreeNode* lastChild;
  std::uint32_t value;
  void* data;
};

namespace {

struct TreeBody {
  std::uint32_t flags;
  TreeNode root;
};

using TreeInstance = EngineInstance<TreeBody>;

const TreeOps kTreeOps = {
    Core_NotImplemented, Tree_Create,       Tree_Destroy, Tree_Insert,         Tree_GetParent,
    Tree_GetFirstChild,  Tree_GetLastChild, Tree_GetPrev, Tree_GetNext,        Tree_GetValue,
    Tree_SetValue,       Tree_Remove,       Tree_Move,    Core_NotImplemented,
};

TreeBody& Body(EngineObject* tree) {
  return BodyOf<TreeBody>(tree);
}

TreeNode* NodeOrRoot(EngineObject* tree, TreeNode* node) {
  return node != nullptr ? node : &Body(tree).root;
}

bool OwnsData(EngineObject* tree) {
  return (Body(tree).flags & kTreeOwnsData) != 0;
}

void Unlink(TreeNode* node) {
  TreeNode* parent = node->parent;
  (node->prev ? node->prev->next : parent->firstChild) = node->next;
  (node->next ? node->next->prev : parent->lastChild) = node->prev;
  node->parent = node->prev = node->next = nullptr;
}

// Links a detached node before `before` (under its parent) or last under parent.
void Link(TreeNode* node, TreeNode* parent, TreeNode* before) {
  if (before != nullptr) {
    parent = before->parent;
    node->prev = before->prev;
    node->next = before;
    (before->prev ? before->prev->next : parent->firstChild) = node;
    before->prev = node;
  } else {
    node->prev = parent->lastChild;
    node->next = nullptr;
    (parent->lastChild ? parent->lastChild->next : parent->firstChild) = node;
    parent->lastChild = node;
  }
  node->parent = parent;
}

// Frees the children of top, and their subtrees, in post-order without
// recursion, so no depth is too deep. top itself stays.
void FreeChildren(TreeNode* top, bool ownsData) {
  TreeNode* cur = top->firstChild;
  while (cur != nullptr) {
    while (cur->firstChild != nullptr)
      cur = cur->firstChild;
    TreeNode* parent = cur->parent;
    TreeNode* next = cur->next;
    if (ownsData) Engine_Free(cur->data);
    Engine_Free(cur);
    parent->firstChild = next;
    if (next != nullptr) {
      next->prev = nullptr;
      cur = next;
    } else {
      parent->lastChild = nullptr;
      cur = parent == top ? nullptr : parent;
    }
  }
}

}  // namespace

EngineObject TreeModule = {nullptr, &kTreeOps};

StatusCode Tree_Create(EngineObject*, std::uint32_t flags, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  void* block = nullptr;
  if (Engine_Alloc(sizeof(TreeInstance), &block) != kOk) return kOutOfMemory;
  auto* inst = new (block) TreeInstance{};
  inst->header = {&inst->body, &kTreeOps};
  inst->body.flags = flags;
  *out = &inst->header;
  return kOk;
}

StatusCode Tree_Destroy(EngineObject* tree) noexcept {
  if (tree == nullptr) return kBadArgument;
  const StatusCode s = Tree_Remove(tree, nullptr);  // every node and, when owned, its data
  Engine_Free(tree);
  return s;
}

StatusCode Tree_Insert(EngineObject* tree, TreeNode* parent, TreeNode* before, std::uint32_t value,
                       void* data, TreeNode** out) noexcept {
  void* block = nullptr;
  if (Engine_Alloc(sizeof(TreeNode), &block) != kOk) return kOutOfMemory;
  auto* node = new (block) TreeNode{};
  node->value = value;
  node->data = data;
  Link(node, NodeOrRoot(tree, parent), before);
  if (out != nullptr) *out = node;
  return kOk;
}

StatusCode Tree_GetParent(EngineObject* tree, TreeNode* node, TreeNode** parent) noexcept {
  if (node == nullptr) return kTreeNullNode;
  if (parent == nullptr) return kNullOutPointer;
  *parent = node->parent == &Body(tree).root ? nullptr : node->parent;
  return kOk;
}

StatusCode Tree_GetFirstChild(EngineObject* tree, TreeNode* node, TreeNode** child) noexcept {
  if (child == nullptr) return kNullOutPointer;
  *child = NodeOrRoot(tree, node)->firstChild;
  return kOk;
}

StatusCode Tree_GetLastChild(EngineObject* tree, TreeNode* node, TreeNode** child) noexcept {
  if (child == nullptr) return kNullOutPointer;
  *child = NodeOrRoot(tree, node)->lastChild;
  return kOk;
}

StatusCode Tree_GetPrev(EngineObject*, TreeNode* node, TreeNode** sibling) noexcept {
  if (node == nullptr) return kTreeNullSibling;
  if (sibling == nullptr) return kNullOutPointer;
  *sibling = node->prev;
  return kOk;
}

StatusCode Tree_GetNext(EngineObject*, TreeNode* node, TreeNode** sibling) noexcept {
  if (node == nullptr) return kTreeNullSibling;
  if (sibling == nullptr) return kNullOutPointer;
  *sibling = node->next;
  return kOk;
}

StatusCode Tree_GetValue(EngineObject* tree, TreeNode* node, std::uint32_t* value,
                         void** data) noexcept {
  const TreeNode* n = NodeOrRoot(tree, node);
  if (value != nullptr) *value = n->value;
  if (data != nullptr) *data = n->data;
  return kOk;
}

StatusCode Tree_SetValue(EngineObject* tree, TreeNode* node, const std::uint32_t* value,
                         void* const* data) noexcept {
  TreeNode* n = NodeOrRoot(tree, node);
  if (value != nullptr) n->value = *value;
  if (data != nullptr) {
    // Setting the block a node already holds must not free it under the caller.
    if (OwnsData(tree) && n->data != *data) Engine_Free(n->data);
    n->data = *data;
  }
  return kOk;
}

StatusCode Tree_Remove(EngineObject* tree, TreeNode* node) noexcept {
  const bool owns = OwnsData(tree);
  if (node == nullptr) {
    TreeNode& root = Body(tree).root;
    FreeChildren(&root, owns);
    if (owns) Engine_Free(root.data);
    root.value = 0;
    root.data = nullptr;
    return kOk;
  }
  Unlink(node);
  FreeChildren(node, owns);
  if (owns) Engine_Free(node->data);
  Engine_Free(node);
  return kOk;
}

StatusCode Tree_Move(EngineObject* tree, TreeNode* node, TreeNode* newParent,
                     TreeNode* before) noexcept {
  if (node == nullptr) return kTreeNullMove;
  if (before == node) return kOk;
  TreeNode* target = before != nullptr ? before->parent : NodeOrRoot(tree, newParent);
  // A node placed under itself would cut its subtree off into a cycle.
  for (const TreeNode* up = target; up != nullptr; up = up->parent)
    if (up == node) return kTreeMoveIntoSelf;
  Unlink(node);
  Link(node, target, before);
  return kOk;
}
