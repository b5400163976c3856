// Opens a 'RaZo' database from arbitrary bytes and drives every reading path:
// the whole text both ways, styles, links, sections, link walking, target
// resolution, anchors, the position lists, and the first lines laid out,
// drawn and hit-tested on the recording device; then a bookmark insert and
// the destroy that writes record 0 back.
#include <cstddef>
#include <cstdint>

#include "engine/formats/razo_doc.h"
#include "engine/runtime/allocator.h"
#include "engine/startup/engine_start.h"
#include "fuzz/doc_handler_walk.h"
#include "tests/support/fake_device.h"

namespace {

using doc_walk::g_sink;

void Sides(EngineObject* h, std::uint32_t length) {
  const DocHandlerOps& ops = DocOpsOf(h);
  // 65 positions from 0 to the length; a counter, so a length near 2^32
  // cannot wrap the walk.
  for (std::uint64_t i = 0; i <= 64; ++i) {
    const auto p = static_cast<std::uint32_t>(std::uint64_t{length} * i / 64);
    DeviceFontSpec font{};
    CharFormat format{};
    std::uint32_t a = 0, b = 0, t = 0;
    std::int16_t k = 0;
    // Every answer is allowed here; only memory safety is checked.
    (void)ops.getCharStyle(h, nullptr, p, &font, &format, &a);
    (void)ops.getLinkAt(h, p, &a, &b, &t);
    (void)ops.findSection(h, p, &k, &a, &b);
    if ((t >> 24) == 0xFF) {
      DocLinkTarget d{};
      if (ops.control(h, DocControl::FindTarget, t, &d) == kOk) {
        (void)ops.control(h, DocControl::ResolveTarget, 0, &d);
        if (d.flags & DocLinkFlag::OwnedText0) Engine_Free(d.text[0]);
        if (d.flags & DocLinkFlag::OwnedName) Engine_Free(d.text[1]);
      }
      char small[4] = {};
      RaZoTargetQuery q{t, small, nullptr, 0, sizeof small, 0};
      if (RaZoDoc_FindTargetNames(h, &q) == kOk) {
        (void)RaZoDoc_FindAnchorByName(h, &q);
        if (q.flags & RaZoTargetFlag::NewFirst) Engine_Free(q.firstName);
        if (q.flags & RaZoTargetFlag::NewSecond) Engine_Free(q.secondName);
      }
    }
  }
  std::uint16_t count = 0;
  (void)ops.getSectionInfo(h, nullptr, &count);
  for (std::int16_t k = 0; k < 8 && k <= count; ++k) {
    std::uint32_t a = 0, b = 0;
    (void)ops.getSectionRange(h, k, &a, &b);
  }
  LinkRange r{0, length, 0, 0};
  if (ops.control(h, DocControl::LinkWalkFirst, 0, &r) == kOk) {
    for (int k = 0; k < 16 && ops.control(h, 16, 0, &r) == kOk; ++k) {
    }
    (void)ops.control(h, 15, 0, &r);
    (void)ops.control(h, 17, 0, &r);
    (void)ops.control(h, 14, 0, &r);
  }
  (void)ops.control(h, DocControl::LinkWalkLast, 0, &r);
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
  doc_walk::WithHandler(&RaZoDocModule, data, size, [&](EngineObject* h, std::uint32_t length) {
    doc_walk::ReadText(h, length);
    Sides(h, length);
    doc_walk::Lines(h, length, dev, ctx);
    doc_walk::Lists(h);
  });
  return 0;
}
