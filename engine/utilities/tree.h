// An in-memory ordered tree of nodes, each carrying a 32-bit value and a data
// pointer. Create is called on TreeModule and creates a tree; the others are
// called on the tree.
//
// Nodes are engine allocations owned by their tree; callers hold TreeNode
// pointers only as handles, valid until the node (or an ancestor) is removed.
// Wherever a node argument may be null, null stands for the tree's root: a
// pseudo-node whose children are the top-level nodes and whose value and data
// are read and set like a node's. A top-level node's parent is null.
//
// With kTreeOwnsData the tree owns every data pointer it holds: they must be
// engine allocations (or null), and the tree frees them when their node is
// removed or their data is replaced. A failed call changes nothing and frees
// nothing; in particular a failed insert leaves the data with the caller.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x01B.
constexpr StatusCode kTreeNullNode = MakeFailure(Facility::Tree, 0x01);     // get parent
constexpr StatusCode kTreeNullSibling = MakeFailure(Facility::Tree, 0x02);  // previous / next
// Kept for the numbering: removal frees subtrees of any depth and never
// answers it.
constexpr StatusCode kTreeTooDeep = MakeFailure(Facility::Tree, 0x03);
constexpr StatusCode kTreeNullMove = MakeFailure(Facility::Tree, 0x04);      // node to move
constexpr StatusCode kTreeMoveIntoSelf = MakeFailure(Facility::Tree, 0x05);  // under own subtree

// Flags of Tree_Create.
enum TreeFlags : std::uint32_t {
  kTreeOwnsData = 1,  // data pointers are freed with the allocator
};

struct TreeNode;  // opaque

struct TreeOps {
  CoreEndWord word0;
  // 1 (module): an empty tree; flag bits other than kTreeOwnsData are
  // ignored. 0; kOutOfMemory; kNullOutPointer.
  StatusCode (*create)(EngineObject* module, std::uint32_t flags, EngineObject** out) noexcept;
  // 2: removes every node (as Remove with null) and frees the tree. 0.
  StatusCode (*destroy)(EngineObject* tree) noexcept;
  // 3: a new node with value and data. With `before` given it becomes that
  // node's previous sibling under the same parent (parent is then ignored);
  // otherwise the last child of parent (of the root for null). *out, when
  // out is given, receives the node. 0; kOutOfMemory.
  StatusCode (*insert)(EngineObject* tree, TreeNode* parent, TreeNode* before, std::uint32_t value,
                       void* data, TreeNode** out) noexcept;
  // 4: *parent = the node's parent (null for a top-level node). kTreeNullNode
  // for a null node; kNullOutPointer.
  StatusCode (*getParent)(EngineObject* tree, TreeNode* node, TreeNode** parent) noexcept;
  // 5, 6: *child = first / last child of the node or root; null when it has
  // none. 0; kNullOutPointer.
  StatusCode (*getFirstChild)(EngineObject* tree, TreeNode* node, TreeNode** child) noexcept;
  StatusCode (*getLastChild)(EngineObject* tree, TreeNode* node, TreeNode** child) noexcept;
  // 7, 8: *sibling = previous / next sibling, null at either end (still 0).
  // kTreeNullSibling for a null node; kNullOutPointer.
  StatusCode (*getPrev)(EngineObject* tree, TreeNode* node, TreeNode** sibling) noexcept;
  StatusCode (*getNext)(EngineObject* tree, TreeNode* node, TreeNode** sibling) noexcept;
  // 9: the value and data of the node or root, into whichever outs are given.
  // 0.
  StatusCode (*getValue)(EngineObject* tree, TreeNode* node, std::uint32_t* value,
                         void** data) noexcept;
  // 10: sets whatever is given: *value replaces the value, *data the data
  // (an owned old block is freed first, unless it is the new pointer itself).
  // 0.
  StatusCode (*setValue)(EngineObject* tree, TreeNode* node, const std::uint32_t* value,
                         void* const* data) noexcept;
  // 11: unlinks the node and frees it with its whole subtree, children in
  // order before their parent (owned data with each node). Null removes every
  // node and clears the root's value and data (freeing owned data); the tree
  // stays usable. 0.
  StatusCode (*remove)(EngineObject* tree, TreeNode* node) noexcept;
  // 12: moves the node with its subtree: before `before` (taking its parent)
  // when given, else as the last child of newParent (of the root for null).
  // Placing a node before itself changes nothing. 0; kTreeNullMove for a null
  // node; kTreeMoveIntoSelf when the new place lies inside the node's own
  // subtree (nothing moves).
  StatusCode (*move)(EngineObject* tree, TreeNode* node, TreeNode* newParent,
                     TreeNode* before) noexcept;
  CoreEndWord end;
};

extern EngineObject TreeModule;

StatusCode Tree_Create(EngineObject* module, std::uint32_t flags, EngineObject** out) noexcept;
StatusCode Tree_Destroy(EngineObject* tree) noexcept;
StatusCode Tree_Insert(EngineObject* tree, TreeNode* parent, TreeNode* before, std::uint32_t value,
                       void* data, TreeNode** out) noexcept;
StatusCode Tree_GetParent(EngineObject* tree, TreeNode* node, TreeNode** parent) noexcept;
StatusCode Tree_GetFirstChild(EngineObject* tree, TreeNode* node, TreeNode** child) noexcept;
StatusCode Tree_GetLastChild(EngineObject* tree, TreeNode* node, TreeNode** child) noexcept;
StatusCode Tree_GetPrev(EngineObject* tree, TreeNode* node, TreeNode** sibling) noexcept;
StatusCode Tree_GetNext(EngineObject* tree, TreeNode* node, TreeNode** sibling) noexcept;
StatusCode Tree_GetValue(EngineObject* tree, TreeNode* node, std::uint32_t* value,
                         void** data) noexcept;
StatusCode Tree_SetValue(EngineObject* tree, TreeNode* node, const std::uint32_t* value,
                         void* const* data) noexcept;
StatusCode Tree_Remove(EngineObject* tree, TreeNode* node) noexcept;
StatusCode Tree_Move(EngineObject* tree, TreeNode* node, TreeNode* newParent,
                     TreeNode* before) noexcept;
