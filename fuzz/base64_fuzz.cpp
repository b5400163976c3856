// Decodes arbitrary bytes as Base64 from a buffer and from a memory stream
// (first byte: output offset and range), and checks that both agree, that the
// bound holds and that the decoded bytes encode and decode back to themselves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"
#include "engine/utilities/base64.h"

namespace {

// Aborts when a step that cannot fail on sound state fails.
void Must(StatusCode s) {
  if (IsFailure(s)) std::abort();
}

EngineObject* NewStream(const std::uint8_t* data, std::uint32_t size) {
  EngineObject* s = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s) != kOk) {
    std::abort();
  }
  if (size != 0 && StreamOf(s).writeAt(s, 0, data, size, nullptr) != kOk) std::abort();
  return s;
}

std::vector<std::uint8_t> ReadAll(EngineObject* s, std::uint32_t from) {
  std::uint32_t size = 0;
  Must(StreamOf(s).getSize(s, &size));
  std::vector<std::uint8_t> out(size > from ? size - from : 0);
  std::uint32_t got = 0;
  if (!out.empty())
    Must(StreamOf(s).readAt(s, from, out.data(), static_cast<std::uint32_t>(out.size()), &got));
  out.resize(got);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = Core_RegisterAllModules() == kOk;
  if (!registered) std::abort();
  if (size < 1 || size > 0x20000) return 0;
  const std::uint32_t offset = data[0] & 15u;
  const bool clip = (data[0] & 16u) != 0;
  ++data;
  --size;
  const auto n = static_cast<std::uint32_t>(size);
  const char* text = reinterpret_cast<const char*>(data);

  // Buffer decoding: within the bound; white space is a stop there.
  std::uint32_t bound = 0;
  Must(Base64_DecodedLength(g_Base64Module, n, &bound));
  std::vector<std::uint8_t> plain(bound + 1);
  std::uint32_t written = 0;
  if (Base64_Decode(g_Base64Module, text, n, plain.data(), &written) != kOk) std::abort();
  if (written > bound) std::abort();
  plain.resize(written);

  // Stream decoding of the same text without white space gives the same bytes.
  std::vector<std::uint8_t> dense;
  for (std::size_t i = 0; i < size; ++i)
    if (data[i] != '\t' && data[i] != '\n' && data[i] != '\r' && data[i] != ' ')
      dense.push_back(data[i]);
  EngineObject* in = NewStream(data, n);
  EngineObject* out = NewStream(nullptr, 0);
  std::uint32_t streamed = 0;
  const std::uint32_t length = clip ? 0xFFFFFFFFu : n;
  if (Base64_DecodeStream(g_Base64Module, in, 0, length, out, offset, &streamed) != kOk) {
    std::abort();
  }
  const std::vector<std::uint8_t> fromStream = ReadAll(out, offset);
  if (fromStream.size() != streamed) std::abort();
  std::vector<std::uint8_t> denseDecoded((dense.size() + 3) / 4 * 3 + 1);
  std::uint32_t denseCount = 0;
  Must(Base64_Decode(g_Base64Module, reinterpret_cast<const char*>(dense.data()),
                     static_cast<std::uint32_t>(dense.size()), denseDecoded.data(), &denseCount));
  denseDecoded.resize(denseCount);
  if (fromStream != denseDecoded) std::abort();

  // Whatever was decoded encodes and decodes back to itself.
  std::uint32_t encodedLength = 0;
  Must(Base64_EncodedLength(g_Base64Module, written, &encodedLength));
  std::vector<char> encoded(encodedLength);
  Must(Base64_Encode(g_Base64Module, plain.data(), written, encoded.data()));
  std::vector<std::uint8_t> again(written + 3);
  std::uint32_t againCount = 0;
  Must(Base64_Decode(g_Base64Module, encoded.data(), encodedLength, again.data(), &againCount));
  if (againCount != written || std::memcmp(again.data(), plain.data(), written) != 0) std::abort();

  Must(StreamOf(in).close(in));
  Must(StreamOf(out).close(out));
  return 0;
}
