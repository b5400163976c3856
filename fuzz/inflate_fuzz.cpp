// Inflates arbitrary bytes with the inflate module in pull mode (from a
// stream) and in push mode (pieces whose sizes come from the input), with a
// window chosen by the input, and checks that both modes agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/spare/inflate.h"

namespace {

struct Outcome {
  StatusCode status;
  std::vector<std::uint8_t> bytes;
  std::uint32_t crc32, adler32, consumed;
};

EngineObject* NewStream() {
  EngineObject* s = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s) != kOk) {
    std::abort();
  }
  return s;
}

std::vector<std::uint8_t> Contents(EngineObject* s) {
  void* buffer = nullptr;
  std::uint32_t size = 0;
  MemStream_GetBuffer(g_MemStreamModule, s, &buffer, &size, nullptr);
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  return p == nullptr ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>(p, p + size);
}

Outcome Run(const std::uint8_t* data, std::size_t size, std::uint32_t window, bool push,
            std::uint8_t pushSeed) {
  const InflateOps& ops = OpsOf<InflateOps>(g_InflateModule);
  EngineObject* d = nullptr;
  if (ops.create(g_InflateModule, window, &d) != kOk) std::abort();
  EngineObject* sink = NewStream();
  InflateBody& b = BodyOf<InflateBody>(d);
  b.output.sink = sink;
  b.output.keepCrc32 = b.output.keepAdler32 = true;
  EngineObject* source = nullptr;
  StatusCode s;
  if (!push) {
    source = NewStream();
    StreamOf(source).write(source, data, static_cast<std::uint32_t>(size), nullptr);
    ops.setInput(d, source, 0);
    s = ops.decodeToSink(d, nullptr, 0);
  } else {
    ops.beginFeed(d);
    s = kOk;
    std::size_t at = 0;
    std::uint32_t step = pushSeed;
    while (s == kOk && at < size) {
      step = step * 1103515245u + 12345u;
      const std::size_t n = std::min<std::size_t>(1 + (step >> 16) % 97, size - at);
      s = ops.feed(d, data + at, static_cast<std::uint32_t>(n), nullptr);
      at += n;
    }
    const StatusCode e = ops.endFeed(d);
    if (s == kOk) s = e == kOk ? kInflateEndOfStream : e;
  }
  Outcome out{s, Contents(sink), b.output.crc32, b.output.adler32, b.consumed};
  if (b.position > b.windowSize || b.delivered > b.position) std::abort();
  ops.destroy(d);
  StreamOf(sink).close(sink);
  if (source != nullptr) StreamOf(source).close(source);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = (Core_RegisterAllModules(), true);
  (void)registered;
  if (size < 2 || size > 8192) return 0;
  static constexpr std::uint32_t kWindows[] = {1, 7, 300, 4096, 32768};
  const std::uint32_t window = kWindows[data[0] % 5];
  const Outcome pull = Run(data + 2, size - 2, window, false, data[1]);
  const Outcome push = Run(data + 2, size - 2, window, true, data[1]);
  const bool pullEnded = pull.status == kInflateEndOfStream;
  if (pullEnded != (push.status == kInflateEndOfStream)) std::abort();
  if (pullEnded &&
      (pull.bytes != push.bytes || pull.crc32 != push.crc32 || pull.adler32 != push.adler32 ||
       pull.consumed != push.consumed || pull.consumed > size - 2)) {
    std::abort();
  }
  return 0;
}
