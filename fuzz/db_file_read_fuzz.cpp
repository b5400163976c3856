// Writes arbitrary bytes to a real file, opens it as a record database
// read-only through a file stream, and walks every record the header and
// the file can hold, through the cache and through record streams. The
// file must be byte for byte the same afterwards.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"
#include "fuzz/temp_file.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

fuzz_support::TempFile* g_file = nullptr;

// Bytes one walk reads before it stops. Records that do not overlap add up
// to no more than the file (1 MB at most), twice the cache's budget, so
// such tables are read whole and eviction still runs; damaged tables whose
// entries all reach to the end no longer copy the file once per entry.
constexpr std::uint64_t kWalkBytes = 2 * std::uint64_t{kDbCacheBudget};
static_assert(kWalkBytes >= (1u << 20), "a walk reads every record of the largest input");

// Reads a record stream to its end in pieces.
void Drain(EngineObject* record, std::uint32_t size) {
  std::uint8_t piece[512];
  std::uint32_t total = 0;
  for (;;) {
    std::uint32_t got = 0;
    if (IsFailure(StreamOf(record).read(record, piece, sizeof piece, &got)) || got == 0) break;
    total += got;
  }
  Check(total <= size);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Core_RegisterAllModules() != kOk) std::abort();
  static fuzz_support::TempFile file("fuzz.pdb");
  g_file = &file;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  g_file->Write(data, size);
  EngineObject* stream = nullptr;
  if (FileSys_Open(g_FileSysModule, g_file->Wide(), 0, kFileOpenRead, &stream) != kOk) {
    std::abort();
  }
  EngineObject* db = nullptr;
  if (DbFile_Open(&DbFileModule, stream, kDbOpenRead, &db) == kOk) {
    std::uint16_t count = 0;
    char name[32];
    Check(DbFile_GetInfo(db, name, nullptr, nullptr, nullptr, nullptr, &count) == kOk);
    // Every entry lies in the file: more than size / 8 cannot be read.
    const auto walk = static_cast<std::uint32_t>(std::min<std::size_t>(count, size / 8 + 2));
    for (int pass = 0; pass < 2; ++pass) {  // the second from the cache
      std::uint64_t read = 0;
      for (std::uint32_t i = 0; i < walk && read <= kWalkBytes; ++i) {
        const auto index = static_cast<std::uint16_t>(i);
        std::uint32_t recordSize = 0;
        void* buffer = nullptr;
        if (DbFile_ReadRecord(db, index, &recordSize, &buffer) == kOk) {
          Check(recordSize <= size);
          read += recordSize;
          if (buffer != nullptr && recordSize > 0) {
            volatile std::uint8_t last = static_cast<std::uint8_t*>(buffer)[recordSize - 1];
            (void)last;
          }
          Check(DbFile_FreeRecordBuffer(db, buffer) == kOk);
        }
        std::uint32_t offset = 0, extent = 0;
        if (DbFile_GetRecordExtent(db, index, &offset, &extent) == kOk) {
          // An entry offset past the file gives an empty record there.
          Check(extent == 0 || std::uint64_t{offset} + extent <= size);
        }
      }
    }
    std::uint64_t read = 0;
    for (std::uint32_t i = 0; i < walk && read <= kWalkBytes; ++i) {
      std::uint32_t recordSize = 0;
      EngineObject* record = nullptr;
      if (DbFile_OpenRecord(db, static_cast<std::uint16_t>(i), &recordSize, &record) == kOk) {
        read += recordSize;
        Drain(record, recordSize);
        Check(StreamOf(record).close(record) == kOk);  // only read: nothing to write back
      }
    }
    Check(DbFile_Close(db) == kOk);
  }
  Check(StreamOf(stream).close(stream) == kOk);
  const std::string after = g_file->Read();
  Check(after.size() == size && (size == 0 || std::memcmp(after.data(), data, size) == 0));
  return 0;
}
