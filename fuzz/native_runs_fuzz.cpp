// Walks the run lists, item indexes and attribute tables of a native
// document whose records come from the input. The first 8 bytes choose the
// text length, the section count, which records the table directory and
// the descriptors are, and the walk; the rest is split at each "~~~~" into
// records 1, 2, ... that every run list and item index covers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/formats/native_index.h"
#include "engine/formats/native_table.h"
#include "fuzz/native_fuzz_doc.h"

namespace {

void Walk(NativeDocState& s, const std::uint8_t* params) {
  const std::uint32_t step = 1 + params[6] * 37u;
  NativeRunCursor* cursors[] = {&s.sections,
                                &s.runLists[0].column[0],
                                &s.runLists[1].column[0],
                                &s.runLists[0].column[1],
                                &s.objects,
                                &s.links,
                                &s.openList,
                                &s.paraAttributes};
  for (NativeRunCursor* c : cursors) {
    for (std::uint32_t k = 0; k < 8; ++k) {
      const StatusCode r = NativeRun_SeekPosition(s.db, c, k * step, k * step + step);
      if (r != kOk) continue;
      (void)NativeRun_Value(*c);
      std::uint16_t length = 0;
      std::uint32_t target = 0;
      NativeRun_Link(*c, &length, &target);
      std::uint8_t item[6];
      NativeRun_ParaItem(*c, item);
      for (std::uint32_t m = 0; m < (params[7] & 15u); ++m) {
        if ((params[7] & 16) != 0 ? NativeRun_Previous(s.db, c) != kOk
                                  : NativeRun_Next(s.db, c) != kOk)
          break;
        (void)NativeRun_Value(*c);
      }
    }
    (void)NativeRun_SeekRun(s.db, c, params[5] * 3u);  // bounds only
  }
  for (std::uint32_t n = 0; n < 8; ++n) {
    (void)NativeStore_LocateSection(&s, (n & 1) != 0, n * step, nullptr, nullptr, nullptr);
    for (std::uint32_t x = 0; x < 3; ++x) {
      const std::uint8_t* item = nullptr;
      std::uint32_t length = 0;
      if (NativeStore_GetIndexedItem(&s, x, n * 3 + x, &item, &length) == kOk && length != 0) {
        volatile std::uint8_t sink = item[length - 1];
        (void)sink;
      }
    }
    for (std::uint32_t table = 0; table < kNativeTableCount; ++table) {
      if (table == 10) continue;
      NativeItem item{};
      (void)NativeStore_ReadItem(&s, table, n, &item);
    }
    for (std::uint32_t column = 0; column < 4; ++column)
      (void)NativeStore_SeekColumn(&s, n & 1, column, n * step, 0, nullptr, nullptr, nullptr);
    NativeCharFormat f{};
    (void)NativeStore_GetCharFormat(&s, n * step, &f, nullptr);
    std::uint8_t attributes[6];
    (void)NativeStore_GetParagraphAttributes(&s, n * step, attributes, nullptr, nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8 || size > (1u << 18)) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 8), size - 8);
  const auto records = static_cast<std::uint16_t>(native_fuzz::CountRecords(input));
  native_fuzz::Params p;
  p.textLength = LoadBE16(data) * 31u;
  p.sectionCount = static_cast<std::uint16_t>(1 + data[2] * 9u);
  p.docFlags = 4;
  p.startSection = data[3];
  // Record-list entries 0 to 2 pick records of the input (0 = none).
  p.recordList[0] = static_cast<std::uint16_t>(data[4] % (records + 1));
  p.recordList[1] = static_cast<std::uint16_t>((data[4] >> 4) % (records + 1));
  p.recordList[2] = static_cast<std::uint16_t>(data[5] % (records + 1));
  for (const std::uint32_t entry : {1u, 2u, 3u, 4u, 5u, 6u, 11u, 12u, 13u}) {
    p.rangeStart[entry] = 1;
    p.rangeCount[entry] = records;
  }
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  EngineObject* db = native_fuzz::Build(stream, p, input);
  EngineObject* handler = nullptr;
  if (db != nullptr && NativeDoc_Create(&NativeDocModule, &handler) == kOk) {
    if (NativeDoc_Command(handler, DocCommand::OpenDatabase, db, 0) == kOk) {
      Walk(*static_cast<NativeDocState*>(handler->state), data);
      std::uint8_t record[16];
      (void)NativeDoc_Control(handler, DocControl::StartPosition, 0, record);
    }
    (void)NativeDoc_Destroy(handler);  // failures of a damaged document are expected
  }
  if (db != nullptr) (void)DbFile_Close(db);
  (void)StreamOf(stream).close(stream);
  return 0;
}
