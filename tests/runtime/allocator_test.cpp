#include "engine/runtime/allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/runtime/module_table.h"

namespace {

const AllocatorOps& Ops() {
  return OpsOf<AllocatorOps>(g_AllocatorModule);
}

TEST(Allocator, BlockHeaderHoldsTheSizeFourTimes) {
  void* p = nullptr;
  ASSERT_EQ(Ops().alloc(g_AllocatorModule, 1234, &p), kOk);
  std::uint32_t header[4];
  std::memcpy(header, static_cast<char*>(p) - 16, 16);
  for (auto word : header)
    EXPECT_EQ(word, 1234u);
  ASSERT_EQ(Ops().realloc(g_AllocatorModule, 7, &p), kOk);
  std::memcpy(header, static_cast<char*>(p) - 16, 16);
  for (auto word : header)
    EXPECT_EQ(word, 7u);
  EXPECT_EQ(Ops().free(g_AllocatorModule, p), kOk);
}

TEST(Allocator, ZeroSizedBlocksAreDistinct) {
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(Ops().alloc(g_AllocatorModule, 0, &a), kOk);
  ASSERT_EQ(Ops().alloc(g_AllocatorModule, 0, &b), kOk);
  EXPECT_NE(a, b);
  Engine_Free(a);
  Engine_Free(b);
}

TEST(Allocator, SizesNearFourGibibytesAreRefusedWithoutWrapping) {
  for (std::uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFF0u + 1}) {
    void* p = &p;
    EXPECT_EQ(Ops().alloc(g_AllocatorModule, size, &p), kOutOfMemory) << size;
    EXPECT_EQ(p, &p) << "out-pointer written on failure";
  }
  void* block = nullptr;
  ASSERT_EQ(Engine_Alloc(16, &block), kOk);
  void* same = block;
  EXPECT_EQ(Ops().realloc(g_AllocatorModule, 0xFFFFFFFFu, &block), kOutOfMemory);
  EXPECT_EQ(block, same);
  Engine_Free(block);
}

TEST(Allocator, ReallocKeepsTheLeadingBytes) {
  void* p = nullptr;
  ASSERT_EQ(Engine_Alloc(4, &p), kOk);
  std::memcpy(p, "abcd", 4);
  ASSERT_EQ(Engine_Realloc(100000, &p), kOk);
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
  ASSERT_EQ(Engine_Realloc(2, &p), kOk);
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  Engine_Free(p);
}

TEST(Allocator, CompareAnswersThreeWay) {
  struct Case {
    const char* a;
    std::uint32_t aLength;
    const char* b;
    std::uint32_t bLength;
    StatusCode expected;
  };
  const Case cases[] = {
      {"abc", 3, "abcd", 4, kCompareLess},     // equal prefix, a shorter
      {"abd", 3, "abcd", 4, kCompareGreater},  // a's byte larger whatever the lengths
      {"abcd", 4, "abc", 3, kCompareGreater},  {"", 0, "", 0, kCompareEqual},
      {"\x80", 1, "\x7f", 1, kCompareGreater},  // bytes compare unsigned
      {"same", 4, "same", 4, kCompareEqual},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ops().compare(g_AllocatorModule, c.a, c.aLength, c.b, c.bLength), c.expected)
        << c.a << " vs " << c.b;
  }
}

TEST(Allocator, OverlappingCopyBehavesAsThroughATemporary) {
  for (int shift : {-5, 5}) {
    std::vector<unsigned char> buf(64), expected;
    for (int i = 0; i < 64; ++i)
      buf[i] = static_cast<unsigned char>(i);
    expected = buf;
    std::vector<unsigned char> tmp(expected.begin() + 10, expected.begin() + 40);
    std::copy(tmp.begin(), tmp.end(), expected.begin() + 10 + shift);
    EXPECT_EQ(Ops().copy(g_AllocatorModule, buf.data() + 10 + shift, buf.data() + 10, 30), kOk);
    EXPECT_EQ(buf, expected) << shift;
  }
  unsigned char fill[5] = {};
  EXPECT_EQ(Ops().fill(g_AllocatorModule, fill, 0x1AB, 4), kOk);
  EXPECT_EQ(fill[0], 0xAB);
  EXPECT_EQ(fill[3], 0xAB);
  EXPECT_EQ(fill[4], 0);
}

}  // namespace
