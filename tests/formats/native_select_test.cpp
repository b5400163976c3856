#include "engine/formats/native_select.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/formats/native_fixture.h"
#include "tests/support/fake_device.h"

namespace {

using namespace native_fixture;

std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

// Option data: d, L, the names, the target count and the targets.
std::string Options(std::uint32_t d, const std::string& names,
                    const std::vector<std::uint32_t>& targets) {
  std::string out = Be32(d) + Be32(static_cast<std::uint32_t>(names.size())) + names;
  out += Be32(static_cast<std::uint32_t>(targets.size()));
  for (std::uint32_t t : targets)
    out += Be32(t);
  return out;
}

// Three lists: key 0 sized from its names ("Red", "Green", "Blue", option
// 2 chosen), key 1 with a requested width of 300 (part 1 byte 0 = 44, part
// 2 byte 0 = 1) and no names, key 2 whose option data lies past 65535
// (part 2 bytes 2-3) and names entry 0 alone.
struct Fixture {
  std::string file;
  Fixture() {
    const std::string list0 =
        Options(3, std::string("\0Red\0Green\0Blue\0", 16), {0x100, 0x40000002, 0x7FF00001});
    const std::string list1 = Options(0, "", {});
    const std::uint32_t far = 0x10000;
    std::string data = list0 + list1;
    data.resize(far, '\0');
    data += Options(5, std::string("\0", 1), {1, 2});
    const std::string head =
        Be32(16 + static_cast<std::uint32_t>(data.size())) + Be32(1) + Be32(16) + Be32(0);
    const std::uint32_t offset1 = static_cast<std::uint32_t>(list0.size());
    auto hex16 = [](std::uint32_t v) {
      return Hex(std::string{static_cast<char>(v >> 8), static_cast<char>(v)});
    };
    const std::string items = "[{\"fixed_hex\": \"0002" + hex16(0) +
                              "\"},"
                              "{\"fixed_hex\": \"0803" +
                              hex16(offset1) +
                              "\", \"parts_hex\": [\"2c00\", \"01000000\"]},"
                              "{\"fixed_hex\": \"0001" +
                              hex16(far & 0xFFFF) + "\", \"parts_hex\": [null, \"00000001\"]}]";
    const std::string json = "{\"text_hex\": \"41\", \"extra_hex\": \"" + Hex(head + data) +
                             "\", \"tables\": {\"12\": {\"widths\": [4, 2, 4], "
                             "\"items_per_block\": 2, \"items\": " +
                             items + "}}}";
    std::string error;
    file = native_tool::Write(json, {}, &error);
    EXPECT_FALSE(file.empty()) << error;
  }
};

const std::string& Document() {
  static const Fixture f;
  return f.file;
}

TEST(NativeSelectLists, EntriesNamesAndTargets) {
  NativeHandler h;
  ASSERT_EQ(h.Open(Document()), kOk);
  NativeDocState& s = h.State();

  SelectCtl e{};
  ASSERT_EQ(SelectList_ReadEntry(&s, 0, false, &e), kOk);
  EXPECT_EQ(e.itemCount, 3u) << "names are read when no width is asked for";
  ASSERT_NE(e.items, nullptr);
  EXPECT_STREQ(e.items[0], "");
  EXPECT_STREQ(e.items[1], "Red");
  EXPECT_STREQ(e.items[3], "Blue");
  EXPECT_EQ(e.chosen, 2u);
  EXPECT_EQ(e.requestedWidth, 0);
  SelectList_FreeEntry(&e);

  ASSERT_EQ(SelectList_ReadEntry(&s, 1, false, &e), kOk);
  EXPECT_EQ(e.requestedWidth, 300);
  EXPECT_EQ(e.flags, SelectCtlFlag::Flat);
  EXPECT_EQ(e.chosen, 3u + 256u * 0);
  EXPECT_EQ(e.items, nullptr) << "a list with a width is measured without its names";
  ASSERT_EQ(SelectList_ReadEntry(&s, 1, true, &e), kOk);
  EXPECT_EQ(e.items, nullptr) << "an empty names area gives no names";
  EXPECT_EQ(e.itemCount, 0u);

  ASSERT_EQ(SelectList_ReadEntry(&s, 2, true, &e), kOk);
  EXPECT_EQ(e.itemCount, 0u) << "entry 0 alone: no options";
  SelectList_FreeEntry(&e);
  EXPECT_EQ(SelectList_ReadEntry(&s, 3, true, &e), kDocMalformed) << "past the block's last key";

  struct Case {
    std::uint32_t key, option;
    StatusCode kind;
    std::uint32_t value;
  } cases[] = {
      {0, 0, kDocLinkNoTarget, 0},  // option 0 is not an option
      {0, 1, kOk, 0x100},
      {0, 2, kDocLinkHostCode, 0x40000002},
      {0, 3, kDocTargetSelectList, 0x7FF00001},
      {0, 4, kDocLinkNoTarget, 0},
      {1, 1, kDocLinkNoTarget, 0},
      {2, 2, kOk, 2},  // five options by count, two targets
      {2, 3, kDocLinkNoTarget, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t value = 0;
    EXPECT_EQ(SelectList_GetOptionTarget(&s, c.key, c.option, &value), c.kind)
        << c.key << "/" << c.option;
    if (c.kind != kDocLinkNoTarget) {
      EXPECT_EQ(value, c.value);
    }
  }
}

int g_measures = 0;
StatusCode CountingSelectCtl(EngineObject*, std::uint16_t code, void* in, void* out) noexcept {
  if (code != SelectCtlCode::Measure) return kOk;
  ++g_measures;
  const auto* ctl = static_cast<const SelectCtl*>(in);
  auto* m = static_cast<SelectCtlMeasure*>(out);
  m->width = static_cast<std::int16_t>(ctl->requestedWidth != 0 ? ctl->requestedWidth
                                                                : 10 * ctl->itemCount);
  m->height = 14;
  m->baseline = 11;
  return kOk;
}

TEST(NativeSelectLists, ASecondMeasureComesFromTheCache) {
  NativeHandler h;
  ASSERT_EQ(h.Open(Document()), kOk);
  NativeDocState& s = h.State();
  EngineObject* device = FakeDevice_Open();
  FakeDevice_Of(device).selectCtl = CountingSelectCtl;
  g_measures = 0;
  const DeviceFontSpec font{};
  std::int16_t w = 0, ht = 0, b = 0;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(SelectList_Measure(&s, device, nullptr, font, 0, &w, &ht, &b), kOk);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(ht, 14);
    ASSERT_EQ(SelectList_Measure(&s, device, nullptr, font, 1, &w, &ht, &b), kOk);
    EXPECT_EQ(w, 300);
  }
  EXPECT_EQ(g_measures, 2) << "each list measured once";
  ASSERT_NE(SelectList_Find(&s, 0), nullptr);
  EXPECT_EQ(SelectList_Find(&s, 0)->chosen, 2u);

  // A choice the reader made is kept and shown; freeing the cache forgets it.
  NativeSelectEntry chosen = *SelectList_Find(&s, 0);
  chosen.chosen = 3;
  ASSERT_EQ(SelectList_Add(&s, 0, chosen), kOk);
  SelectCtl e{};
  ASSERT_EQ(SelectList_ReadEntry(&s, 0, false, &e), kOk);
  EXPECT_EQ(e.chosen, 3u);
  SelectList_FreeEntry(&e);
  SelectList_FreeCache(&s);
  EXPECT_EQ(SelectList_Find(&s, 0), nullptr);
  ASSERT_EQ(SelectList_Measure(&s, device, nullptr, font, 0, &w, &ht, &b), kOk);
  EXPECT_EQ(g_measures, 3);
  FakeDevice_Close(device);
}

}  // namespace
