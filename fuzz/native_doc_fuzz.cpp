// Opens a whole native document (a record database) from arbitrary bytes
// and drives every path of the native handler: the text both ways, styles,
// links and the link walk, target codes and their resolution, sections,
// strings, select lists, extra strings, image maps, the table layout pass,
// and the first lines laid out, drawn and hit-tested on the recording
// device; then the position lists and the destroy that writes record 0 back.
// The corpus holds documents of tools/native_writer.py.
#include <cstddef>
#include <cstdint>

#include "engine/device/select_ctl.h"
#include "engine/formats/native_handler.h"
#include "engine/formats/native_link.h"
#include "engine/runtime/allocator.h"
#include "engine/startup/engine_start.h"
#include "fuzz/doc_handler_walk.h"
#include "tests/support/fake_device.h"

namespace {

void Targets(EngineObject* h, std::uint32_t target) {
  const DocHandlerOps& ops = DocOpsOf(h);
  NativeLinkTarget t{};
  if (ops.control(h, DocControl::FindTarget, target, &t) == kOk) {
    (void)ops.control(h, DocControl::ResolveTarget, 0, &t);
    LinkIndex_FreeTarget(&t);
  }
  SelectCtl ctl{};
  if (ops.control(h, DocControl::SelectListFirst, target, &ctl) == kOk) {
    ctl.cachedWidth = 10;
    ctl.cachedHeight = 10;
    (void)ops.control(h, DocControl::SelectListFirst + 1, target, &ctl);
    (void)ops.control(h, DocControl::SelectListFirst + 2, target, &ctl);
    std::uint32_t option = 1;
    (void)ops.control(h, DocControl::SelectListFirst + 3, target, &option);
  }
  NativeObjectData data{target & 0xFFFFFF, static_cast<std::uint16_t>(target >> 31), nullptr, 0};
  if (ops.control(h, DocControl::ExtraString, 0, &data) == kOk)
    (void)ops.control(h, DocControl::FreeBuffer, 0, &data);
}

void Sides(EngineObject* h, std::uint32_t length, EngineObject* dev) {
  const DocHandlerOps& ops = DocOpsOf(h);
  // 65 positions from 0 to the length; a counter, so a length near 2^32
  // cannot wrap the walk.
  for (std::uint64_t i = 0; i <= 64; ++i) {
    const auto p = static_cast<std::uint32_t>(std::uint64_t{length} * i / 64);
    DeviceFontSpec font{};
    CharFormat format{};
    std::uint32_t a = 0, b = 0, t = 0;
    std::int16_t k = 0;
    (void)ops.getCharStyle(h, dev, p, &font, &format, &a);
    (void)ops.findSection(h, p, &k, &a, &b);
    (void)ops.control(h, DocControl::IsLinkAt, p, nullptr);
    if (!IsFailure(ops.getLinkAt(h, p, &a, &b, &t))) Targets(h, t);
    NativeImageMapQuery q{p, 0, 3, 3, kOk};
    (void)ops.control(h, DocControl::ImageMapHit, 0, &q);
  }
  std::uint16_t count = 0;
  (void)ops.getSectionInfo(h, nullptr, &count);
  for (std::int16_t k = 0; k < 8 && k <= count; ++k) {
    std::uint32_t a = 0, b = 0, flags = 0;
    (void)ops.getSectionRange(h, k, &a, &b);
    (void)ops.getSectionFlags(h, k, &flags);
  }
  for (std::uint32_t n = 0; n < 4; ++n) {
    std::uint8_t buffer[64];
    NativeStringQuery q{sizeof buffer, 0, buffer};
    (void)ops.control(h, DocControl::GetString, n, &q);
  }
  LinkRange r{0, length, 0, 0};
  if (ops.control(h, DocControl::LinkWalkFirst, 0, &r) == kOk) {
    for (int k = 0; k < 16 && ops.control(h, DocControl::LinkWalkFirst + 3, 0, &r) == kOk; ++k) {
    }
    (void)ops.control(h, DocControl::LinkWalkFirst + 2, 0, &r);
    (void)ops.control(h, DocControl::LinkWalkFirst + 4, 0, &r);
    (void)ops.control(h, DocControl::LinkWalkFirst + 1, 0, &r);
  }
  (void)ops.control(h, DocControl::LinkWalkLast, 0, &r);
  (void)ops.control(h, DocControl::SelectListLast, 0, nullptr);
}

void TablePass(EngineObject* h, EngineObject* dev, DeviceContext ctx) {
  const DocHandlerOps& ops = DocOpsOf(h);
  (void)ops.control(h, DocControl::SetInSlice, 0, nullptr);
  std::uint32_t word = 0;
  StatusCode r = ops.layoutPassStep(h, dev, ctx, 0, 0, &word);
  for (int k = 0; k < 64 && r == kDocTablePassPending; ++k)
    r = ops.layoutPassStep(h, dev, ctx, 2, 0, &word);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static EngineObject* dev = nullptr;
  static DeviceContext ctx{};
  if (dev == nullptr) {
    if (IsFailure(Core_RegisterAllModules())) return 0;
    dev = FakeDevice_Open(400, 300);
    if (IsFailure(DeviceOf(dev).beginDraw(dev, &ctx))) return 0;
    // The call log would grow without end; BeginDraw needs it on.
    FakeDevice_Of(dev).logging = false;
  }
  doc_walk::WithHandler(&NativeDocModule, data, size, [&](EngineObject* h, std::uint32_t length) {
    doc_walk::ReadText(h, length);
    Sides(h, length, dev);
    TablePass(h, dev, ctx);
    doc_walk::Lines(h, length, dev, ctx);
    doc_walk::Lists(h);
  });
  return 0;
}
