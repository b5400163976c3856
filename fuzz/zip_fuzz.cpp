// Reads arbitrary bytes as a ZIP archive: opens it, walks the central
// directory and extracts every entry into a memory stream. When the archive
// opens, an entry is appended and must read back exactly, and the entries
// that extracted before must extract the same afterwards.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/codecs/zip.h"
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

std::vector<std::uint8_t> Contents(EngineObject* s) {
  void* buffer = nullptr;
  std::uint32_t size = 0;
  Must(MemStream_GetBuffer(g_MemStreamModule, s, &buffer, &size, nullptr));
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  return p == nullptr ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>(p, p + size);
}

// Extracts every entry; the outputs of those that succeed, in order (an
// empty slot for a failure). Stops at the first walk failure.
std::vector<std::vector<std::uint8_t>> ReadAll(EngineObject* z, std::size_t limit) {
  const ZipOps& ops = OpsOf<ZipOps>(g_ZipModule);
  std::vector<std::vector<std::uint8_t>> out;
  for (StatusCode s = ops.firstEntry(z); s == kOk && out.size() < 64; s = ops.nextEntry(z)) {
    DateTime date{};
    std::uint32_t crc = 0, packed = 0, size = 0, nameLength = 0, nameOffset = 0;
    if (ops.getEntryInfo(z, &date, &crc, &packed, &size, &nameLength, &nameOffset) != kOk ||
        std::uint64_t{nameOffset} + nameLength > limit) {
      std::abort();
    }
    EngineObject* sink = NewStream();
    const StatusCode x = ops.extractEntry(z, sink, 0, nullptr, nullptr, nullptr);
    // Even a failed entry writes little past its declared size.
    std::uint32_t written = 0;
    Must(StreamOf(sink).getSize(sink, &written));
    if (std::uint64_t{written} > std::uint64_t{size} + 65536 + 32768) std::abort();
    out.push_back(x == kOk ? Contents(sink) : std::vector<std::uint8_t>{});
    if (x == kOk && out.back().size() != size) std::abort();
    Must(StreamOf(sink).close(sink));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = Core_RegisterAllModules() == kOk;
  if (!registered) std::abort();
  if (size > 16384) return 0;
  const ZipOps& ops = OpsOf<ZipOps>(g_ZipModule);
  EngineObject* z = nullptr;
  if (ops.create(g_ZipModule, &z) != kOk) std::abort();
  EngineObject* archive = NewStream();
  Must(StreamOf(archive).write(archive, data, static_cast<std::uint32_t>(size), nullptr));
  if (ops.open(z, archive) == kOk) {
    const auto before = ReadAll(z, size);
    static const char kText[] = "appended entry, appended entry, appended entry";
    EngineObject* source = NewStream();
    Must(StreamOf(source).write(source, kText, sizeof kText, nullptr));
    if (ops.addEntry(z, source, 0, sizeof kText, "added.txt", 9, nullptr, kZipMethodDeflated) ==
        kOk) {
      EngineObject* sink = NewStream();
      if (ops.extractEntry(z, sink, 0, nullptr, nullptr, nullptr) != kOk) std::abort();
      const auto added = Contents(sink);
      if (added.size() != sizeof kText || std::memcmp(added.data(), kText, sizeof kText) != 0) {
        std::abort();
      }
      Must(StreamOf(sink).close(sink));
      std::uint32_t archiveSize = 0;
      Must(StreamOf(archive).getSize(archive, &archiveSize));
      if (ops.open(z, archive) != kOk) std::abort();
      const auto after = ReadAll(z, archiveSize);
      if (after.size() < before.size()) std::abort();
      for (std::size_t k = 0; k < before.size(); ++k)
        if (!before[k].empty() && after[k] != before[k]) std::abort();
    }
    Must(StreamOf(source).close(source));
  }
  Must(ops.destroy(z));
  Must(StreamOf(archive).close(archive));
  return 0;
}
