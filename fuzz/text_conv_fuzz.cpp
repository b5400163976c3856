// Every decoder over arbitrary bytes, converted into UTF-8 and UTF-16 with
// random flags and target sizes, back out through every encoder, measured,
// and streamed through memory streams in pieces. Each conversion is also run
// through the portable path, which must give the same status, counters and
// bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/runtime/text_conv.h"
#include "engine/runtime/text_conv_internal.h"
#include "engine/startup/engine_start.h"

namespace {
constexpr std::uint32_t kCharsets[] = {3,    4,    5,    6,    7,    8,    9,    10,   11,
                                       12,   17,   18,   38,   57,   106,  111,  113,  114,
                                       1013, 1014, 1015, 2025, 2026, 2084, 2088, 2101, 2250,
                                       2251, 2252, 2253, 2254, 2255, 2256, 2257, 2258, 8000};
constexpr std::size_t kCount = sizeof kCharsets / sizeof kCharsets[0];

// The request through the portable path into a target of the same size; traps
// on any difference from the request r and its target bytes.
void SamePortable(const TextConvRequest& before, const TextConvRequest& r, StatusCode s) {
  std::vector<std::uint8_t> target(before.targetCapacity + 1);
  TextConvRequest p = before;
  if (p.target != nullptr) p.target = target.data();
  if (TextConv_ConvertWith(TextConvPath::kPortable, &p) != s) __builtin_trap();
  if (p.targetCapacity != r.targetCapacity || p.consumed != r.consumed ||
      p.characters != r.characters || p.replaced != r.replaced) {
    __builtin_trap();
  }
  const std::uint32_t written =
      r.targetCapacity < before.targetCapacity ? r.targetCapacity : before.targetCapacity;
  if (r.target != nullptr && written != 0 && std::memcmp(r.target, p.target, written) != 0) {
    __builtin_trap();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = ((void)Core_RegisterAllModules(), true);
  (void)registered;
  if (size < 4) return 0;
  const std::uint32_t from = kCharsets[data[0] % kCount];
  const std::uint32_t to = kCharsets[data[1] % kCount];
  const std::uint32_t flags = data[2] & 3;
  const std::uint32_t capacity = data[3] * 3u;
  data += 4;
  size -= 4;
  const auto length = static_cast<std::uint32_t>(size);

  std::vector<std::uint8_t> target(capacity + 1);  // never null: a null target only measures
  TextConvRequest r{flags, from, data, length, to, target.data(), capacity, 0, 0, 0};
  const TextConvRequest before = r;
  const StatusCode s = TextConv_Convert(g_TextConvModule, &r);
  SamePortable(before, r, s);
  if (s == kOk && r.targetCapacity > capacity) __builtin_trap();
  if (r.consumed > length) __builtin_trap();

  // To UTF-16 and back out through the target's encoder.
  std::vector<std::uint8_t> wide(std::size_t{length} * 4 + 8);
  TextConvRequest d{
      0, from, data, length, 1014, wide.data(), static_cast<std::uint32_t>(wide.size()), 0, 0, 0};
  const TextConvRequest wideBefore = d;
  const StatusCode ds = TextConv_Convert(g_TextConvModule, &d);
  SamePortable(wideBefore, d, ds);
  if (ds == kOk) {
    if (d.consumed != length) __builtin_trap();
    std::vector<std::uint8_t> back(std::size_t{d.targetCapacity} * 2 + 8);
    TextConvRequest e{flags,
                      1014,
                      wide.data(),
                      d.targetCapacity,
                      to,
                      back.data(),
                      static_cast<std::uint32_t>(back.size()),
                      0,
                      0,
                      0};
    (void)TextConv_Convert(g_TextConvModule, &e);
  }

  std::uint8_t lengths[64];
  std::uint32_t bytes = length;
  std::uint32_t count = 64;
  if (TextConv_MeasureChars(g_TextConvModule, flags, from, data, &bytes, lengths, &count) == kOk &&
      bytes > length) {
    __builtin_trap();
  }

  EngineObject* source = nullptr;
  EngineObject* sink = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, length, kMemCreateWritable, &source) == kOk) {
    std::uint32_t n = 0;
    (void)StreamOf(source).writeAt(source, 0, data, length, &n);
    if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &sink) == kOk) {
      std::uint32_t written = 0;
      (void)TextConv_ConvertStream(g_TextConvModule, from, source, flags, kTextConvToEnd, to, sink,
                                   0, &written);
      std::uint32_t checked = kTextConvToEnd;
      (void)TextConv_ValidateStream(g_TextConvModule, source, 0, &checked, 106);
      (void)StreamOf(sink).close(sink);
    }
    (void)StreamOf(source).close(source);
  }
  return 0;
}
