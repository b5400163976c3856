// The drop-down list control through the recording fake device: items, flags
// and sizes from the input, then the list laid out for arbitrary view and
// control geometry, and opened and driven by a sequence of keys and pointer
// events the input chooses. The layout must keep the highlight and the top
// item among the items and the visible rows within the list; every command
// answers a status, and the list is closed at the end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/device/select_ctl.h"
#include "engine/startup/engine_start.h"
#include "tests/support/fake_device.h"

namespace {

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  std::uint8_t U8() { return pos < size ? data[pos++] : 0; }
  std::int16_t S16() { return static_cast<std::int16_t>(U8() | (U8() << 8)); }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

EngineObject* g_device = nullptr;

void CheckLayout(const SelectCtl& c) {
  const SelectCtlList& l = c.list;
  if (c.itemCount == 0) return;
  Check(l.highlighted <= c.itemCount);
  Check(l.topItem >= 1 && l.topItem <= c.itemCount);
  Check(l.visibleRows <= c.itemCount);
  Check(l.topItem + l.visibleRows <= c.itemCount + 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Core_SetHostDeviceModule(&FakeDeviceModule);
  if (Core_RegisterAllModules() != kOk) std::abort();
  g_device = FakeDevice_Open(300, 200, 4);
  if (g_device == nullptr) std::abort();
  FakeDevice_Of(g_device).logging = false;  // the call log would grow over every run
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  Reader in{data, size};
  // Items: up to 120 texts of up to 40 bytes, some empty, some null.
  const std::uint32_t count = in.U8() % 121;
  std::vector<std::string> texts;
  std::vector<const char*> items{nullptr};
  texts.reserve(count);
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t n = in.U8() % 41;
    std::string t;
    for (std::uint32_t j = 0; j < n && in.pos < in.size; ++j)
      t.push_back(static_cast<char>(std::max<std::uint8_t>(in.U8(), 1)));
    texts.push_back(t);
  }
  for (std::uint32_t k = 0; k < count; ++k)
    items.push_back(texts[k].size() == 1 && texts[k][0] == 1 ? nullptr : texts[k].c_str());

  SelectCtl c{};
  c.flags = in.U8() & (SelectCtlFlag::PercentWidth | SelectCtlFlag::Flat);
  c.itemCount = static_cast<std::uint16_t>(count);
  c.items = count == 0 && (in.U8() & 1) ? nullptr : items.data();
  c.chosen = static_cast<std::uint16_t>(in.U8() % (count + 2));
  c.requestedWidth = in.S16();
  c.font = DeviceFontSpec{DeviceFace::Default, static_cast<std::int16_t>(in.U8() % 40), 0, {}, {}};

  // The layout alone, for arbitrary geometry.
  SelectCtlList list{};
  SelectCtl_LayoutList(c, in.S16(), in.S16(), in.S16(), in.S16(), in.S16(), in.S16(), in.S16(),
                       in.S16(), &list);
  SelectCtl laid = c;
  laid.list = list;
  CheckLayout(laid);

  // Through the device.
  const DeviceOps& dev = DeviceOf(g_device);
  SelectCtlPlace place{nullptr, nullptr, in.S16(), in.S16(), in.S16(), in.S16(), 0, 0};
  (void)dev.selectCtlCommand(g_device, SelectCtlCode::DrawClosed, &c, &place);  // any status
  if (dev.selectCtlCommand(g_device, SelectCtlCode::Open, &c, nullptr) == kOk && c.list.open) {
    CheckLayout(c);
    for (int k = 0; k < 64 && in.pos < in.size && c.list.open; ++k) {
      const std::uint16_t code = static_cast<std::uint16_t>(in.U8() % 20);
      DevicePoint point{in.S16(), in.S16()};
      std::int16_t item = in.S16();
      void* out = nullptr;
      if (code >= SelectCtlCode::Track && code <= SelectCtlCode::PenDown) out = &point;
      if (code == SelectCtlCode::SelectAndCommit) out = &item;
      if (code == SelectCtlCode::Open || code == SelectCtlCode::Measure ||
          code == SelectCtlCode::DrawClosed) {
        continue;  // need their own records; opening twice is the caller's error
      }
      (void)dev.selectCtlCommand(g_device, code, &c, out);  // every answer is allowed
      if (c.list.open) CheckLayout(c);
    }
    if (c.list.open) {
      Check(dev.selectCtlCommand(g_device, SelectCtlCode::Cancel, &c, nullptr) ==
            kSelectClosedNoChoice);
    }
  }
  Check(c.list.open == 0);
  return 0;
}
