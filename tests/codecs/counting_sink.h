// A stream for output tests that keeps nothing: it counts the bytes written
// through WriteAt, how far they reached, and whether any write landed below
// bytes already written, so gigabytes of output cost no memory. Every other
// transfer fails.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/runtime/stream.h"

namespace codecs_test {

struct CountingSink {
  static StatusCode WriteAt(EngineObject* s, std::uint32_t position, const void*, std::uint32_t n,
                            std::uint32_t* count) noexcept {
    auto& self = *static_cast<CountingSink*>(s->state);
    if (std::uint64_t{position} + n > 0xFFFFFFFFu) return kBadArgument;
    if (position < self.end) self.overwrote = true;
    self.end = std::max<std::uint64_t>(self.end, std::uint64_t{position} + n);
    self.written += n;
    if (count != nullptr) *count = n;
    return kOk;
  }
  static StatusCode Close(EngineObject*) noexcept { return kOk; }
  static StatusCode Seek(EngineObject*, std::int32_t, std::uint32_t, std::uint32_t*) noexcept {
    return kFailed;
  }
  static StatusCode Read(EngineObject*, void*, std::uint32_t, std::uint32_t*) noexcept {
    return kFailed;
  }
  static StatusCode Write(EngineObject*, const void*, std::uint32_t, std::uint32_t*) noexcept {
    return kFailed;
  }
  static StatusCode GetSize(EngineObject* s, std::uint32_t* size) noexcept {
    *size = static_cast<std::uint32_t>(static_cast<CountingSink*>(s->state)->end);
    return kOk;
  }
  static StatusCode SetSize(EngineObject*, std::uint32_t) noexcept { return kFailed; }
  static StreamOps MakeOps() {
    StreamOps ops = MakeStreamOps({.close = Close,
                                   .seek = Seek,
                                   .read = Read,
                                   .write = Write,
                                   .getSize = GetSize,
                                   .setSize = SetSize});
    ops.writeAt = WriteAt;
    return ops;
  }
  std::uint64_t end = 0;
  std::uint64_t written = 0;
  bool overwrote = false;
  StreamOps ops = MakeOps();
  EngineObject object{this, &ops};
};

}  // namespace codecs_test
