#include "engine/runtime/core.h"

#include <gtest/gtest.h>

#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"

namespace {

TEST(StatusCode, LayoutOfFailuresAndInformation) {
  EXPECT_EQ(static_cast<std::uint32_t>(MakeFailure(Facility::Stream, 0x0A)), 0x8007000Au);
  EXPECT_EQ(MakeInfo(Facility::DocHandler, 4), 0x07110004);
  EXPECT_TRUE(IsFailure(kNotSupported));
  EXPECT_FALSE(IsFailure(MakeInfo(Facility::Inflate, 1)));
  EXPECT_EQ(FacilityOf(MakeFailure(Facility::TextConv, 2)), 0xA02u);
  EXPECT_EQ(static_cast<std::uint32_t>(kBadArgument), 0x80000014u);
  EXPECT_EQ(static_cast<std::uint32_t>(kNullOutPointer), 0x80000012u);
}

TEST(ModuleTable, RegisteredModulesHaveNoStateAndAnswerTheirEndWords) {
  // Entries whose modules exist must be filled; every filled module is a
  // stateless object whose table starts with the not-implemented word.
  ASSERT_NE(g_AllocatorModule, nullptr);
  for (int i = 0; i < kModuleTableSize; ++i) {
    EngineObject* module = *Core_ModuleTableEntry(i);
    if (module == nullptr) continue;
    EXPECT_EQ(module->state, nullptr) << "entry " << i;
    const auto word0 = *static_cast<const CoreEndWord*>(module->ops);
    EXPECT_EQ(word0(module), kFailed) << "entry " << i;
  }
  EXPECT_EQ(Core_ModuleTableEntry(-1), nullptr);
  EXPECT_EQ(Core_ModuleTableEntry(kModuleTableSize), nullptr);
}

TEST(ModuleTable, TeardownChangesNothing) {
  EngineObject* before = g_AllocatorModule;
  EXPECT_EQ(Core_UnregisterModules(), kOk);
  EXPECT_EQ(g_AllocatorModule, before);
  void* p = nullptr;
  EXPECT_EQ(Engine_Alloc(8, &p), kOk);
  Engine_Free(p);
}

TEST(CoreStubs, SharedStubsAnswerTheirCodes) {
  EngineObject* self = nullptr;
  EXPECT_EQ(Core_QuerySelf(g_AllocatorModule, &self), kOk);
  EXPECT_EQ(self, g_AllocatorModule);
  EXPECT_EQ(Core_QuerySelf(g_AllocatorModule, nullptr), kNullOutPointer);
  EXPECT_EQ(Core_NotSupported(nullptr), kNotSupported);
  EXPECT_EQ(Core_NoOp(nullptr), kOk);
  using Slot = StatusCode (*)(EngineObject*, std::uint32_t, void**) noexcept;
  void* untouched = &self;
  EXPECT_EQ(CoreStub<Slot>::NotSupported(nullptr, 4, &untouched), kNotSupported);
  EXPECT_EQ(untouched, &self);
}

}  // namespace
