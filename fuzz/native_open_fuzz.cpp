// Opens a native document built from arbitrary bytes and walks its directory
// and record headers. The input is split at each "~~~~" into records; the
// first becomes record 0 of a "KDoc"/"KelX" database made through the record
// database itself. With its first byte odd, the input is instead taken whole
// as the database file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/formats/native_doc.h"
#include "engine/formats/pos_list.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"

namespace {

constexpr std::string_view kSeparator = "~~~~";

EngineObject* BuildDatabase(EngineObject* stream, std::string_view input) {
  if (DbFile_CreateNew(&DbFileModule, stream, "fuzz", kNativeType, kNativeCreator) != kOk) {
    return nullptr;
  }
  EngineObject* db = nullptr;
  if (DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) != kOk) return nullptr;
  for (std::uint32_t k = 0; k < 64; ++k) {
    const std::size_t end = std::min(input.find(kSeparator), input.size());
    std::uint16_t at = 0xFFFF;
    if (DbFile_InsertRecord(db, &at, static_cast<std::uint32_t>(end), input.data()) != kOk) break;
    if (end == input.size()) break;
    input.remove_prefix(end + kSeparator.size());
  }
  return db;
}

// Fetches every record a directory entry names with each type the entry may
// hold, and touches the last byte of what it gets.
void Walk(EngineObject* db, const NativeDocState& s) {
  auto fetch = [db](std::uint8_t type, std::uint16_t index) {
    std::uint32_t size = 0;
    const std::uint8_t* data = nullptr;
    if (NativeStore_FetchRecord(db, type, index, &size, &data) == kOk) {
      volatile std::uint8_t sink = data[size - 1];
      sink = data[data[0] - 1];
      (void)sink;
      (void)NativeStore_ReleaseRecord(db, data);  // the memory database gives records back
    }
  };
  for (std::uint32_t k = 0; k < kNativeRecordListSize; ++k)
    fetch(static_cast<std::uint8_t>(k == 0 ? 6 : k == 3 ? 11 : 3), s.record0.recordList[k]);
  for (std::uint32_t k = 0; k < kNativeRangeCount; ++k) {
    const std::uint32_t n = std::min<std::uint32_t>(s.record0.rangeCount[k], 8);
    for (std::uint32_t r = 0; r < n; ++r) {
      const auto index = static_cast<std::uint16_t>(s.record0.rangeStart[k] + r);
      fetch(static_cast<std::uint8_t>(k), index);
      fetch(NativeRecordType::RunList, index);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20) + 1) return 0;  // a flag byte, then a document of up to 1 MiB
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  EngineObject* db = nullptr;
  if (size > 0 && (data[0] & 1) != 0) {
    if (StreamOf(stream).write(stream, data + 1, static_cast<std::uint32_t>(size - 1), nullptr) !=
            kOk ||
        DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) != kOk) {
      db = nullptr;
    }
  } else {
    db = BuildDatabase(stream, input.substr(std::min<std::size_t>(size, 1)));
  }
  if (db != nullptr) {
    (void)NativeDoc_Command(&NativeDocModule, DocCommand::ProbeDatabase, db, 0);  // any answer
    EngineObject* handler = nullptr;
    if (NativeDoc_Create(&NativeDocModule, &handler) == kOk) {
      if (NativeDoc_Command(handler, DocCommand::OpenDatabase, db, 0) == kOk) {
        auto& s = *static_cast<NativeDocState*>(handler->state);
        Walk(db, s);
        std::uint16_t policy = 0, count = 0;
        (void)NativeDoc_GetSectionInfo(handler, &policy, &count);  // always answers
        // A list added while open makes close write record 0 back.
        if (s.recordCount != 0 && size > 2 && (data[1] & 1) != 0) {
          (void)PosList_Insert(db, &s.posLists[data[2] & 1], 0, "fz", 1);  // may fail on damage
        }
        // Close and open again: failures of a damaged document are expected.
        (void)NativeDoc_Command(handler, DocCommand::Close, nullptr, 0);
        (void)NativeDoc_Command(handler, DocCommand::OpenDatabase, db, 0);
      }
      (void)NativeDoc_Destroy(handler);  // as above
    }
    (void)DbFile_Close(db);
  }
  (void)StreamOf(stream).close(stream);
  return 0;
}
