// Reads arbitrary bytes as a gzip range: walks the members (every other one
// without extracting it) and extracts the rest into a memory stream under an
// output limit the input chooses; an extraction that succeeds must have
// produced exactly the size it reports, and none may write past the limit.
// Then writes the same bytes as a member (through the DEFLATE encoder, with
// a block size the input chooses) and requires them back exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <cstring>
#include <vector>

#include "engine/codecs/deflate.h"
#include "engine/codecs/gzip.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"

namespace {

// Aborts when a step that cannot fail on sound state fails.
void Must(StatusCode s) {
  if (IsFailure(s)) std::abort();
}

EngineObject* NewStream() {
  EngineObject* s = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s) != kOk) {
    std::abort();
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = Core_RegisterAllModules() == kOk;
  if (!registered) std::abort();
  if (size < 1 || size > 16384) return 0;
  const GzipOps& ops = OpsOf<GzipOps>(g_GzipModule);
  EngineObject* g = nullptr;
  if (ops.create(g_GzipModule, &g) != kOk) std::abort();
  EngineObject* in = NewStream();
  Must(StreamOf(in).write(in, data + 1, static_cast<std::uint32_t>(size - 1), nullptr));
  // The first byte chooses where the range starts and the output limit.
  Must(ops.openRead(g, in, data[0] % 4, 0xFFFFFFFFu));
  const std::uint32_t limit = (data[0] & 0x80) != 0 ? kGzipNoOutputLimit : data[0] * 1031u;
  Must(GzipMod_SetOutputLimit(g, limit));
  StatusCode s = ops.firstMember(g);
  for (int member = 0; s == kOk && member < 32; ++member) {
    std::uint32_t nameOffset = 0, nameLength = 0, commentOffset = 0, commentLength = 0;
    DateTime date{};
    if (ops.getMemberInfo(g, &date, &nameOffset, &nameLength, &commentOffset, &commentLength) !=
            kOk ||
        std::uint64_t{nameOffset} + nameLength > size ||
        std::uint64_t{commentOffset} + commentLength > size) {
      std::abort();
    }
    if ((member & 1) == 0) {
      EngineObject* sink = NewStream();
      std::uint32_t crc = 0, produced = 0, sinkSize = 0;
      const StatusCode x = ops.extractMember(g, sink, 0, nullptr, &crc, &produced);
      Must(StreamOf(sink).getSize(sink, &sinkSize));
      if (x == kOk && sinkSize != produced) std::abort();
      if (sinkSize > limit || (x == kGzipOutputLimit && sinkSize != limit)) std::abort();
      Must(StreamOf(sink).close(sink));
    }
    s = ops.nextMember(g);
  }

  // Round trip of the whole input through a written member.
  Must(GzipMod_SetOutputLimit(g, kGzipNoOutputLimit));
  static constexpr std::uint32_t kBlockSizes[] = {300, 1000, 4096, 32768, 65535};
  EngineObject* encoder = g_DeflateModule;
  const DeflateOps& dops = OpsOf<DeflateOps>(encoder);
  EngineObject* e = nullptr;
  if (dops.create(encoder, kBlockSizes[data[0] % 5], &e) != kOk) std::abort();
  GzipBody& body = BodyOf<GzipBody>(g);
  Must(dops.destroy(body.codecs.encoder));
  body.codecs.encoder = e;  // the instance releases it
  EngineObject* packed = NewStream();
  std::uint32_t written = 0;
  if (ops.openWrite(g, packed, 0) != kOk ||
      ops.writeMember(g, in, 0, static_cast<std::uint32_t>(size - 1), "f", 1, nullptr, &written) !=
          kOk ||
      ops.openRead(g, packed, 0, written) != kOk || ops.firstMember(g) != kOk) {
    std::abort();
  }
  EngineObject* sink = NewStream();
  std::uint32_t produced = 0;
  if (ops.extractMember(g, sink, 0, nullptr, nullptr, &produced) != kOk || produced != size - 1 ||
      ops.nextMember(g) != kNoMore) {
    std::abort();
  }
  void* bytes = nullptr;
  Must(MemStream_GetBuffer(g_MemStreamModule, sink, &bytes, nullptr, nullptr));
  if (produced != 0 && std::memcmp(bytes, data + 1, produced) != 0) std::abort();
  Must(StreamOf(sink).close(sink));
  Must(StreamOf(packed).close(packed));
  Must(ops.destroy(g));
  Must(StreamOf(in).close(in));
  return 0;
}
