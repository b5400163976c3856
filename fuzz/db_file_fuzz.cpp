// Opens a record database from arbitrary bytes over a memory stream, reads
// every record through the cache and through record streams, then tries each
// kind of change and reads everything again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/runtime/allocator.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"

namespace {

// Bytes one walk reads before it stops. Records that do not overlap add up
// to no more than the input (1 MB at most), twice the cache's budget, so
// such tables are read whole and eviction still runs; damaged tables whose
// entries all reach to the end no longer copy the input once per entry.
constexpr std::uint64_t kWalkBytes = 2 * std::uint64_t{kDbCacheBudget};
static_assert(kWalkBytes >= (1u << 20), "a walk reads every record of the largest input");

// Entries past the bytes given cannot be read; a few of them are tried, not
// all 65,535 a header may claim.
void ReadAll(EngineObject* db, std::uint32_t count, std::size_t inputSize) {
  count = static_cast<std::uint32_t>(std::min<std::size_t>(count, inputSize / 8 + 2));
  std::uint64_t read = 0;
  for (std::uint32_t i = 0; i < count && read <= kWalkBytes; ++i) {
    std::uint32_t size = 0;
    void* buffer = nullptr;
    if (DbFile_ReadRecord(db, static_cast<std::uint16_t>(i), &size, &buffer) == kOk) {
      read += size;
      volatile std::uint8_t sink = 0;
      if (buffer != nullptr && size > 0) sink = static_cast<std::uint8_t*>(buffer)[size - 1];
      (void)sink;
      (void)DbFile_FreeRecordBuffer(db, buffer);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  (void)StreamOf(stream).write(stream, data, static_cast<std::uint32_t>(size), nullptr);
  EngineObject* db = nullptr;
  if (DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) == kOk) {
    std::uint16_t count = 0;
    char name[32];
    (void)DbFile_GetInfo(db, name, nullptr, nullptr, nullptr, nullptr, &count);
    ReadAll(db, count, size);
    ReadAll(db, count, size);  // from the cache
    if (count > 0) {
      std::uint32_t recordSize = 0;
      EngineObject* record = nullptr;
      const auto last = static_cast<std::uint16_t>(count - 1);
      if (DbFile_OpenRecord(db, last, &recordSize, &record) == kOk) {
        std::uint8_t tmp[16];
        std::uint32_t got = 0;
        (void)StreamOf(record).read(record, tmp, sizeof tmp, &got);
        (void)StreamOf(record).write(record, "fz", 2, nullptr);
        (void)StreamOf(record).close(record);
      }
      std::uint16_t at = static_cast<std::uint16_t>(data[0] % (count + 1));
      (void)DbFile_InsertRecord(db, &at, 3, "new");
      (void)DbFile_MoveRecord(db, 0, static_cast<std::uint16_t>(count / 2 + 1));
      (void)DbFile_ResizeRecord(db, 0, 5);
      (void)DbFile_DeleteRecord(db, last);
      (void)DbFile_GetInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count);
      ReadAll(db, count, size);
    }
    (void)DbFile_Close(db);
  }
  (void)StreamOf(stream).close(stream);
  return 0;
}
