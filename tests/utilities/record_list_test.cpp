#include "engine/utilities/record_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/runtime/block_file.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "tests/support/test_streams.h"

namespace {

const RecordListOps& Ops() {
  return OpsOf<RecordListOps>(g_RecordListModule);
}

struct Fixture {
  EngineObject* container = nullptr;
  EngineObject* list = nullptr;
  Fixture() {
    EXPECT_EQ(BlockFile_Open(g_BlockFileModule, test_streams::NewMemStream(), 512, &container),
              kOk);
    EXPECT_EQ(Ops().create(g_RecordListModule, container, &list), kOk);
  }
  ~Fixture() {
    EXPECT_EQ(Ops().destroy(list), kOk);
    EXPECT_EQ(BlockFile_Close(container), kOk);
  }
  std::uint32_t Append(const std::string& text) {
    std::uint32_t handle = 0;
    EXPECT_EQ(Ops().append(list, text.data(), static_cast<std::uint32_t>(text.size()), &handle),
              kOk);
    return handle;
  }
  std::string Read(std::uint32_t handle, std::uint32_t capacity = 40000) {
    std::string out(capacity, '\0');
    std::uint32_t length = 0;
    EXPECT_EQ(Ops().read(list, handle, &length, out.data(), capacity), kOk);
    out.resize(length < capacity ? length : capacity);
    return out;
  }
};

TEST(RecordList, AppendReadAndTheLengthLimit) {
  Fixture f;
  const std::string big(32000, 'b');
  const std::uint32_t a = f.Append("alpha");
  const std::uint32_t b = f.Append(big);
  const std::uint32_t e = f.Append("");
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(b, 7u);
  EXPECT_EQ(e, 7u + 32002u);
  EXPECT_EQ(f.Read(b), big);
  EXPECT_EQ(f.Read(e), "");
  std::uint32_t length = 0;
  char two[2];
  EXPECT_EQ(Ops().read(f.list, a, &length, two, 2), kOk);
  EXPECT_EQ(length, 5u) << "the full length is reported";
  EXPECT_EQ(std::string(two, 2), "al");
  const std::string tooBig(32001, 'x');
  EXPECT_EQ(Ops().append(f.list, tooBig.data(), 32001, nullptr), kFailed);
  EXPECT_EQ(RecordList_End(f.list), e + 2) << "a refused record leaves the list as it was";
  EXPECT_EQ(Ops().read(f.list, e + 2, &length, two, 2), kFailed) << "past the end";
}

TEST(RecordList, ComparisonsAcrossPiecesAndCase) {
  Fixture f;
  const std::string longA = std::string(700, 'k') + "a";
  const std::string longB = std::string(700, 'k') + "b";
  const std::uint32_t la = f.Append(longA);
  const std::uint32_t lb = f.Append(longB);
  const std::uint32_t prefix = f.Append(std::string(700, 'k'));
  const std::uint32_t upper = f.Append("ABC");
  const std::uint32_t lower = f.Append("abc");
  const std::uint32_t high = f.Append("\xE9");
  struct {
    std::uint32_t a, b;
    bool fold;
    StatusCode expected;
  } cases[] = {
      {la, lb, false, kCompareLess},       {lb, la, false, kCompareGreater},
      {prefix, la, false, kCompareLess},   {la, prefix, false, kCompareGreater},
      {upper, lower, false, kCompareLess}, {upper, lower, true, kCompareEqual},
      {la, la, false, kCompareEqual},      {lower, high, false, kCompareLess},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Ops().compare(f.list, c.fold, c.a, c.b), c.expected) << c.a << " " << c.b;
  EXPECT_EQ(Ops().compareBytes(f.list, true, upper, "abc", 3), kCompareEqual);
  EXPECT_EQ(Ops().compareBytes(f.list, false, upper, "abc", 3), kCompareLess);
  EXPECT_EQ(Ops().compareBytes(f.list, false, lower, "abcd", 4), kCompareLess);
  EXPECT_EQ(Ops().compareBytes(f.list, false, lb, longA.data(), 701), kCompareGreater);
  EXPECT_EQ(Ops().compare(f.list, false, la, 5), kFailed);
}

TEST(RecordList, CuttingFromTheEnd) {
  Fixture f;
  const std::uint32_t a = f.Append("one");
  const std::uint32_t b = f.Append("two");
  const std::uint32_t c = f.Append("three");
  EXPECT_EQ(Ops().removeLast(f.list, b), kRecordListNotLast);
  EXPECT_EQ(RecordList_End(f.list), c + 7);
  EXPECT_EQ(Ops().removeLast(f.list, c), kOk);
  EXPECT_EQ(RecordList_End(f.list), c);
  EXPECT_EQ(Ops().removeLast(f.list, c), kOk) << "at the end: nothing to do";
  // The last appended record is gone: dropping it again must not extend the
  // list back over it.
  EXPECT_EQ(Ops().dropLast(f.list), kOk);
  EXPECT_EQ(RecordList_End(f.list), c);
  EXPECT_EQ(Ops().truncate(f.list, b), kOk);
  EXPECT_EQ(Ops().dropLast(f.list), kOk);
  EXPECT_EQ(RecordList_End(f.list), b);
  EXPECT_EQ(f.Append("again"), b);
  EXPECT_EQ(Ops().dropLast(f.list), kOk);
  EXPECT_EQ(RecordList_End(f.list), b);
  EXPECT_EQ(Ops().truncate(f.list, 1000), kOk);
  EXPECT_EQ(f.Read(a), "one");
  std::uint32_t length = 0;
  char buffer[4];
  EXPECT_EQ(Ops().read(f.list, 1, &length, buffer, 4), kFailed)
      << "inside a record: its bytes read as a length past the end";
}

}  // namespace
