// Builds a native document in memory for the native fuzz targets: record 0
// is made from a few parameter bytes, the records after it come from the
// input, split at each "~~~~".
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/formats/native_doc.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/swap.h"

namespace native_fuzz {

constexpr std::string_view kSeparator = "~~~~";
constexpr std::uint32_t kMaxRecords = 64;

struct Params {
  std::uint32_t textLength = 0;
  std::uint16_t blocksPerRecord = 1;
  std::uint16_t docFlags = 0;
  std::uint16_t sectionCount = 1;
  std::uint16_t startSection = 0;
  std::uint16_t linkCounts[3] = {};  // name-hash, anchor and target-code records
  std::uint16_t recordList[kNativeRecordListSize] = {};
  std::uint16_t rangeStart[kNativeRangeCount] = {};
  std::uint16_t rangeCount[kNativeRangeCount] = {};
};

inline std::string Record0(const Params& p) {
  std::uint8_t h[66] = {};
  StoreBE16(h, sizeof h);
  h[2] = 3;
  h[4] = 3;
  std::copy(kNativeMagic, kNativeMagic + 6, h + 6);
  StoreBE32(h + 20, p.textLength);
  StoreBE16(h + 24, p.blocksPerRecord);
  StoreBE16(h + 30, p.sectionCount);
  StoreBE16(h + 36, p.docFlags);
  h[44] = 3;
  h[48] = 0xF0;
  StoreBE16(h + 56, p.startSection);
  for (int i = 0; i < 3; ++i)
    StoreBE16(h + 60 + 2 * i, p.linkCounts[i]);
  std::string out(reinterpret_cast<const char*>(h), sizeof h);
  auto put16 = [&out](std::uint16_t v) {
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
  };
  put16(kNativeRecordListSize);
  for (const std::uint16_t v : p.recordList)
    put16(v);
  put16(kNativeRangeCount);
  for (const std::uint16_t v : p.rangeStart)
    put16(v);
  for (const std::uint16_t v : p.rangeCount)
    put16(v);
  return out;
}

// The number of records the input splits into (at most kMaxRecords).
inline std::uint32_t CountRecords(std::string_view input) {
  std::uint32_t n = 1;
  for (std::size_t at = input.find(kSeparator); at != std::string_view::npos && n < kMaxRecords;
       at = input.find(kSeparator, at + kSeparator.size())) {
    ++n;
  }
  return n;
}

// A database holding record 0 and the input's records; null on failure.
inline EngineObject* Build(EngineObject* stream, const Params& p, std::string_view input) {
  if (DbFile_CreateNew(&DbFileModule, stream, "fuzz", kNativeType, kNativeCreator) != kOk) {
    return nullptr;
  }
  EngineObject* db = nullptr;
  if (DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) != kOk) return nullptr;
  const std::string r0 = Record0(p);
  std::uint16_t at = 0xFFFF;
  if (DbFile_InsertRecord(db, &at, static_cast<std::uint32_t>(r0.size()), r0.data()) != kOk) {
    (void)DbFile_Close(db);  // the insert failure is what counts
    return nullptr;
  }
  for (std::uint32_t k = 0; k < kMaxRecords; ++k) {
    const std::size_t end = std::min(input.find(kSeparator), input.size());
    at = 0xFFFF;
    if (DbFile_InsertRecord(db, &at, static_cast<std::uint32_t>(end), input.data()) != kOk) break;
    if (end == input.size()) break;
    input.remove_prefix(end + kSeparator.size());
  }
  return db;
}

}  // namespace native_fuzz
