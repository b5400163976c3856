// Opens a block container on arbitrary bytes (512-byte blocks mostly, as the
// first byte says) and opens, reads, writes, creates and deletes streams as
// the rest of the input says. Damaged containers may only answer their
// documented failures; whatever was written to a stream reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/runtime/block_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"

namespace {

bool Allowed(StatusCode s) {
  return s == kOk || s == kBlockFileTooShort || s == kBlockFileHeaderRead ||
         s == kBlockFileNotWholeGroups || s == kBlockFileBadFreeHead ||
         s == kBlockFileBadBlockSize || s == kBlockFileNotAStream || s == kBlockFileBadChain ||
         s == kBlockFileStreamBusy || s == kOutOfMemory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = (Core_RegisterAllModules() == kOk);
  if (!registered) std::abort();
  if (size < 2 || size > 0x30000) return 0;
  // The base: the input itself when it asks to be read, else a file made of
  // one group of 512-byte blocks with the input laid over its start.
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if ((data[0] & 1) == 0) {
    bytes.resize(65536);
    std::memcpy(bytes.data(), data + 1, size - 1 < 65536 ? size - 1 : 65536);
    bytes[0] = 0;  // 512-byte blocks
  }
  EngineObject* base = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &base) != kOk)
    std::abort();
  if (Stream_WriteExact(base, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size())) != kOk)
    std::abort();
  EngineObject* box = nullptr;
  const StatusCode opened = BlockFile_Open(g_BlockFileModule, base, 512, &box);
  if (!Allowed(opened)) std::abort();
  if (opened != kOk) {
    (void)StreamOf(base).close(base);
    return 0;
  }
  for (std::size_t i = 1; i + 3 <= size; i += 3) {
    const std::uint32_t number = data[i + 1] | (data[i + 2] & 0x7F) << 8;
    EngineObject* s = nullptr;
    StatusCode r = kOk;
    switch (data[i] % 3) {
      case 0:
        r = BlockFile_OpenStream(box, number, &s);
        break;
      case 1:
        r = BlockFile_DeleteStream(box, number);
        break;
      default: {
        std::uint32_t made = 0;
        r = BlockFile_CreateStream(box, &made, &s);
        break;
      }
    }
    if (!Allowed(r)) std::abort();
    if (s == nullptr) continue;
    std::uint32_t streamSize = 0;
    if (StreamOf(s).getSize(s, &streamSize) != kOk) std::abort();
    const std::uint32_t at = data[i + 2] * 7u;
    const std::uint8_t piece[600] = {data[i], data[i + 1]};
    const std::uint32_t n = data[i + 1] * 2u;
    if (StreamOf(s).writeAt(s, at, piece, n, nullptr) == kOk) {
      std::uint8_t back[600];
      if (Stream_ReadExact(s, at, back, n) != kOk || std::memcmp(back, piece, n) != 0) std::abort();
    }
    (void)StreamOf(s).close(s);  // failures of a damaged chain are allowed here
  }
  if (BlockFile_Close(box) != kOk) std::abort();
  return 0;
}
