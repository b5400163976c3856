// Inflates arbitrary bytes with the inflate module in pull mode (from a
// stream) and in push mode (pieces whose sizes come from the input), with a
// window chosen by the input, and through caller buffers, and checks that the
// modes agree; pull mode runs once more with the careful loop alone and must
// give the same answer, bytes, checksums and bytes consumed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/codecs/deflate_common.h"
#include "engine/codecs/inflate.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"

namespace {

// Aborts when a step that cannot fail on sound state fails.
void Must(StatusCode s) {
  if (IsFailure(s)) std::abort();
}

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
  Must(MemStream_GetBuffer(g_MemStreamModule, s, &buffer, &size, nullptr));
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
    Must(StreamOf(source).write(source, data, static_cast<std::uint32_t>(size), nullptr));
    Must(ops.setInput(d, source, 0));
    s = ops.decodeToSink(d, nullptr, 0);
  } else {
    Must(ops.beginFeed(d));
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
  if (b.position > b.capacity || b.delivered > b.position ||
      b.position - b.delivered > b.windowSize) {
    std::abort();
  }
  Must(ops.destroy(d));
  Must(StreamOf(sink).close(sink));
  if (source != nullptr) Must(StreamOf(source).close(source));
  return out;
}

// Pull mode through caller buffers of varied sizes, some calls without a
// buffer (the bytes then wait in the window for the next buffer); no sink.
Outcome RunBuffers(const std::uint8_t* data, std::size_t size, std::uint32_t window,
                   std::uint8_t seed) {
  const InflateOps& ops = OpsOf<InflateOps>(g_InflateModule);
  EngineObject* d = nullptr;
  if (ops.create(g_InflateModule, window, &d) != kOk) std::abort();
  InflateBody& b = BodyOf<InflateBody>(d);
  b.output.keepCrc32 = b.output.keepAdler32 = true;
  EngineObject* source = NewStream();
  Must(StreamOf(source).write(source, data, static_cast<std::uint32_t>(size), nullptr));
  Must(ops.setInput(d, source, 0));
  Outcome out{kOk, {}, 0, 0, 0};
  std::uint32_t step = seed;
  bool ended = false;
  for (int round = 0; round < 100000; ++round) {
    step = step * 1103515245u + 12345u;
    const std::uint32_t n = 1 + (step >> 16) % 3000;
    // Once ended, only buffers: they take what the window still holds.
    const bool withBuffer = ended || ((step >> 8) & 3) != 0;
    std::vector<std::uint8_t> piece(n + 8, 0xA5);
    std::uint32_t got = 0;
    const StatusCode s = ops.decodeToBuffer(d, withBuffer ? piece.data() : nullptr, n, &got);
    if (s == kInflateWindowFull && !withBuffer) continue;
    if (IsFailure(s)) {
      out.status = s;
      break;
    }
    if (got > n || (withBuffer && std::any_of(piece.begin() + n, piece.end(),
                                              [](std::uint8_t c) { return c != 0xA5; }))) {
      std::abort();
    }
    if (withBuffer) out.bytes.insert(out.bytes.end(), piece.begin(), piece.begin() + got);
    if (s == kInflateEndOfStream) {
      ended = true;
      if (b.position == b.delivered) {
        out.status = s;
        break;
      }
    }
  }
  out.crc32 = b.output.crc32;
  out.adler32 = b.output.adler32;
  out.consumed = b.consumed;
  Must(ops.destroy(d));
  Must(StreamOf(source).close(source));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = Core_RegisterAllModules() == kOk;
  if (!registered) std::abort();
  if (size < 2 || size > 8192) return 0;
  static constexpr std::uint32_t kWindows[] = {1, 7, 300, 4096, 32768};
  const std::uint32_t window = kWindows[data[0] % 5];
  const Outcome pull = Run(data + 2, size - 2, window, false, data[1]);
  DeflateFast_SetEnabled(false);
  const Outcome careful = Run(data + 2, size - 2, window, false, data[1]);
  DeflateFast_SetEnabled(true);
  if (careful.status != pull.status || careful.bytes != pull.bytes || careful.crc32 != pull.crc32 ||
      careful.adler32 != pull.adler32 || careful.consumed != pull.consumed) {
    std::abort();
  }
  const Outcome push = Run(data + 2, size - 2, window, true, data[1]);
  const bool pullEnded = pull.status == kInflateEndOfStream;
  if (pullEnded != (push.status == kInflateEndOfStream)) std::abort();
  if (pullEnded &&
      (pull.bytes != push.bytes || pull.crc32 != push.crc32 || pull.adler32 != push.adler32 ||
       pull.consumed != push.consumed || pull.consumed > size - 2)) {
    std::abort();
  }
  const Outcome buffers = RunBuffers(data + 2, size - 2, window, data[1]);
  if (pullEnded != (buffers.status == kInflateEndOfStream)) std::abort();
  if (pullEnded && (pull.bytes != buffers.bytes || pull.crc32 != buffers.crc32 ||
                    pull.adler32 != buffers.adler32 || pull.consumed != buffers.consumed)) {
    std::abort();
  }
  return 0;
}
