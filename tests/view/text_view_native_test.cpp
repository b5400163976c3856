// Native documents shown through the text view on the recording device.
#include <gtest/gtest.h>

#include <string>

#include "engine/formats/native_doc.h"
#include "engine/view/text_view_internal.h"
#include "tests/formats/native_fixture.h"
#include "tests/support/fake_device.h"

namespace {

using native_fixture::NativeHandler;

class TextViewNative : public ::testing::Test {
 protected:
  void SetUp() override { KELPO_REQUIRE_PEER("python3"); }
};

TEST_F(TextViewNative, AnEmptyDocumentIsPaintedAndNavigated) {
  // Text length 0 and one empty section run, as a writer may write it.
  const std::string file = native_tool::Write(
      "{\"section_count\": 1, \"run_lists\": {\"1\": {\"runs\": [[0, 0, 0]]}}}", "");
  ASSERT_FALSE(file.empty());
  NativeHandler doc;
  ASSERT_EQ(doc.Open(file), kOk);
  const DocHandlerOps& ops = DocOpsOf(doc.handler());
  std::uint32_t start = 1, end = 1, flags = 7;
  ASSERT_EQ(ops.getSectionRange(doc.handler(), 0, &start, &end), kOk);
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 0u);
  EXPECT_EQ(ops.getSectionFlags(doc.handler(), 0, &flags), kOk);
  EXPECT_EQ(ops.getSectionRange(doc.handler(), 1, &start, &end), kNoMore);

  EngineObject* device = FakeDevice_Open(200, 150);
  const TextViewOps& view = OpsOf<TextViewOps>(&TextViewModule);
  EngineObject* v = nullptr;
  ASSERT_EQ(view.create(&TextViewModule, &v), kOk);
  EXPECT_EQ(view.setDevice(v, device), kOk);
  EXPECT_EQ(view.attachDocument(v, doc.handler(), nullptr), kOk);
  EXPECT_EQ(view.setViewport(v, 0, 200, 150), kOk);
  EXPECT_EQ(view.paint(v, nullptr, 0, 0, 200, 150), kOk);
  EXPECT_EQ(TextViewOf(v).table.count, 0);
  // The background is painted: nothing of the fresh surface is left.
  const FakeDevice& fake = FakeDevice_Of(device);
  EXPECT_EQ(fake.Pixel(10, 10), fake.Pixel(190, 140));

  for (const std::uint16_t code :
       {TextViewNav::LineDown, TextViewNav::LineUp, TextViewNav::ScreenDown, TextViewNav::ScreenUp,
        std::uint16_t{TextViewNav::ScreenUpFull + 1}, TextViewNav::ScreenUpFull,
        TextViewNav::DocumentEnd, TextViewNav::DocumentStart, TextViewNav::SectionEnd,
        TextViewNav::SectionStart, TextViewNav::NextSection, TextViewNav::PreviousSection,
        TextViewNav::PaginationSlice, TextViewNav::Percent}) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(IsFailure(view.navigate(v, code, 0)));
    EXPECT_EQ(view.paint(v, nullptr, 0, 0, 200, 150), kOk);
  }
  EXPECT_EQ(view.attachDocument(v, nullptr, nullptr), kOk);
  EXPECT_EQ(view.destroy(v), kOk);
  FakeDevice_Close(device);
}

}  // namespace
