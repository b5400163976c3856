// Unnamed temporary files in memory, for fuzz targets whose engine code makes
// them. Installed as the module table's file system, it answers an open of a
// temporary file without a name buffer with a writable memory stream and
// hands every other open to the real file system.
//
// A block container formats a whole first group (4 MiB with 4 KiB blocks)
// when it is created. On a temporary file that is a 4 MiB allocation on the
// disk and its release, for every input; here the memory of a closed stream
// is kept for the next one, so the group costs a clear of memory already
// mapped. The container, and everything stored in it, runs as on a file.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "engine/runtime/allocator.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"

namespace fuzz_support {

class MemoryTempFiles {
 public:
  // Call after the modules are registered.
  static void Install() {
    EngineObject* probe = nullptr;
    if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &probe) != kOk)
      std::abort();
    streamOps_ = StreamOf(probe);
    streamOps_.close = &Close;
    (void)StreamOf(probe).close(probe);  // a memory stream's close answers 0
    ops_ = OpsOf<FileSysOps>(&FileSysModule);
    ops_.open = &Open;
    module_ = {nullptr, &ops_};
    g_FileSysModule = &module_;
  }

 private:
  static StatusCode Open(EngineObject*, char16_t* path, std::uint32_t bufferLength,
                         std::uint32_t type, EngineObject** out) noexcept {
    if (type != kFileOpenTemporary || path != nullptr)
      return FileSys_Open(&FileSysModule, path, bufferLength, type, out);
    if (out == nullptr) return kNullOutPointer;
    // The kept memory, when no other temporary file holds it; the stream
    // clears what it uses of it and grows it as a file would grow.
    EngineObject* s = nullptr;
    const StatusCode status = MemStream_Create(&MemStreamModule, spare_, 0, spareCapacity_,
                                               kMemCreateWritable | kMemCreateCallerOwns, &s);
    if (status != kOk) return status;
    spare_ = nullptr;
    spareCapacity_ = 0;
    s->ops = &streamOps_;
    *out = s;
    return kOk;
  }

  static StatusCode Close(EngineObject* s) noexcept {
    const MemStreamBody& m = BodyOf<MemStreamBody>(s);
    if (spare_ == nullptr) {
      spare_ = m.buffer;
      spareCapacity_ = m.capacity;
    } else {
      Engine_Free(m.buffer);
    }
    return MemStream_Close(s);  // the stream only: its memory is ours
  }

  static inline FileSysOps ops_{};
  static inline EngineObject module_{};
  static inline StreamOps streamOps_{};
  static inline void* spare_ = nullptr;
  static inline std::uint32_t spareCapacity_ = 0;
};

}  // namespace fuzz_support
