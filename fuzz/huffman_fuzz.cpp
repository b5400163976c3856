// The Huffman coder on arbitrary bytes, two ways. Decoding: the bytes after a
// small header are read as a code-length table (raw or coded) followed by
// coded data, decoded until the input ends and with a symbol count. Round
// trip: the same bytes are taken as symbol records, counted, coded with a
// length limit chosen by the header, written with their table and read back;
// the result must equal the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/codecs/huffman.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"

namespace {

// Aborts when a step that cannot fail on sound state fails.
void Must(StatusCode s) {
  if (IsFailure(s)) std::abort();
}

using Bytes = std::vector<std::uint8_t>;

EngineObject* NewStream(const std::uint8_t* data, std::size_t size) {
  EngineObject* s = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s) != kOk) {
    std::abort();
  }
  if (size != 0 && StreamOf(s).write(s, data, static_cast<std::uint32_t>(size), nullptr) != kOk) {
    std::abort();
  }
  return s;
}

Bytes Contents(EngineObject* s) {
  void* buffer = nullptr;
  std::uint32_t size = 0;
  Must(MemStream_GetBuffer(g_MemStreamModule, s, &buffer, &size, nullptr));
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  return p == nullptr ? Bytes{} : Bytes(p, p + size);
}

std::uint32_t ExtraBySymbol(std::uint32_t symbol) noexcept {
  return symbol % 37 < 33 ? symbol % 37 : 0;
}

void Decode(const std::uint8_t* data, std::size_t size, std::uint32_t n, std::uint32_t form,
            std::uint32_t width, HuffExtraBitsFn extra, std::uint32_t count) {
  const HuffDecoderOps& ops = OpsOf<HuffDecoderOps>(g_HuffDecoderModule);
  EngineObject* d = nullptr;
  if (ops.create(g_HuffDecoderModule, n, &d) != kOk) std::abort();
  EngineObject* in = NewStream(data, size);
  EngineObject* out = NewStream(nullptr, 0);
  std::uint32_t consumed = 0;
  if (ops.readTable(d, form, in, 0, static_cast<std::uint32_t>(size), &consumed) == kOk) {
    if (consumed > size) std::abort();
    std::uint32_t written = 0;
    if (ops.decodeRange(d, count, in, consumed, kHuffToEnd, width, extra, out, 0, &written) ==
            kOk &&
        written != Contents(out).size()) {
      std::abort();
    }
  }
  Must(StreamOf(out).close(out));
  Must(StreamOf(in).close(in));
  Must(ops.destroy(d));
}

void RoundTrip(const std::uint8_t* data, std::size_t size, std::uint32_t width,
               std::uint32_t maxLength, std::uint32_t form, HuffExtraBitsFn extra) {
  const HuffEncoderOps& enc = OpsOf<HuffEncoderOps>(g_HuffEncoderModule);
  const HuffDecoderOps& dec = OpsOf<HuffDecoderOps>(g_HuffDecoderModule);
  // Whole records only: the tail that would be cut short is left out. The
  // alphabet ends at the largest symbol.
  std::uint32_t records = 0, length = 0, n = 1;
  for (std::size_t at = 0;;) {
    if (at + width > size) break;
    std::uint32_t symbol = 0;
    for (std::uint32_t i = width; i-- > 0;)
      symbol = (symbol << 8) | data[at + i];
    const std::uint32_t k = extra != nullptr ? extra(symbol) : 0;
    const std::size_t bytes = width + (k == 0 ? 0 : k <= 8 ? 1 : k <= 16 ? 2 : 4);
    if (at + bytes > size) break;
    at += bytes;
    n = std::max(n, symbol + 1);
    ++records;
    length = static_cast<std::uint32_t>(at);
  }
  EngineObject* e = nullptr;
  if (enc.create(g_HuffEncoderModule, n, &e) != kOk) std::abort();
  EngineObject* source = NewStream(data, size);
  if (enc.countSymbols(e, kHuffCountClear, source, 0, length, width, extra) != kOk) std::abort();
  const StatusCode built = enc.buildCodes(e, maxLength);
  if (built == kOk) {
    EngineObject* coded = NewStream(nullptr, 0);
    std::uint32_t tableBytes = 0, dataBytes = 0, measured = 0;
    if (enc.writeTable(e, form, coded, 0, &tableBytes) != kOk) std::abort();
    if (enc.encodeRange(e, 0, source, 0, length, width, extra, coded, tableBytes, &dataBytes) !=
        kOk) {
      std::abort();
    }
    if (enc.measureRange(e, 0, source, 0, length, width, extra, &measured) != kOk ||
        measured != dataBytes) {
      std::abort();
    }
    EngineObject* d = nullptr;
    if (dec.create(g_HuffDecoderModule, n, &d) != kOk) std::abort();
    std::uint32_t consumed = 0;
    if (dec.readTable(d, form, coded, 0, kHuffToEnd, &consumed) != kOk || consumed != tableBytes) {
      std::abort();
    }
    EngineObject* out = NewStream(nullptr, 0);
    if (dec.decodeRange(d, records, coded, consumed, kHuffToEnd, width, extra, out, 0, nullptr) !=
        kOk) {
      std::abort();
    }
    // Extra values come back masked to their bits: compare record by record.
    const Bytes back = Contents(out);
    if (extra == nullptr && back != Bytes(data, data + length)) std::abort();
    if (extra != nullptr && back.size() != length) std::abort();
    Must(StreamOf(out).close(out));
    Must(dec.destroy(d));
    Must(StreamOf(coded).close(coded));
  } else if (built != kBadArgument) {
    std::abort();
  }
  Must(StreamOf(source).close(source));
  Must(enc.destroy(e));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = Core_RegisterAllModules() == kOk;
  if (!registered) std::abort();
  if (size < 2) return 0;
  const std::uint8_t mode = data[0], limit = data[1];
  data += 2;
  size -= 2;
  static const std::uint32_t kAlphabets[] = {1, 2, 19, 35, 256, 300, 1000, 65536};
  const std::uint32_t n = kAlphabets[mode & 7];
  const std::uint32_t form = (mode & 8) != 0 ? kHuffFormCoded : kHuffFormRaw;
  const std::uint32_t width = (mode & 0x30) == 0 ? 1 : (mode & 0x30) == 0x10 ? 2 : 4;
  HuffExtraBitsFn extra = (mode & 0x40) != 0 ? ExtraBySymbol : nullptr;
  Decode(data, size, n, form, width, extra, (mode & 0x80) != 0 ? limit : 0);
  RoundTrip(data, size, (mode & 0x10) != 0 ? 2 : 1, 1 + limit % 31, form, extra);
  return 0;
}
