// Reading every record of a 2,000-record database (record sizes 1-4096
// bytes, seeded; about 4 MB) through ReadRecord and FreeRecordBuffer, from a
// memory stream.
//  - Cold: each pass opens the database afresh, so every read loads its
//    record from the stream (opening, which checks the entry table, is
//    included).
//  - Warm: every timed read is a cache hit. The records are taken in windows
//    of 64 (the cache's size); each window is loaded untimed, then read again
//    and only that second read is timed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/swap.h"
#include "engine/startup/engine_start.h"

namespace {

constexpr std::uint32_t kRecords = 2000;
constexpr std::uint32_t kWindow = kDbCacheEntries;

struct Fixture {
  std::vector<std::uint8_t> bytes;
  std::uint64_t recordBytes = 0;
};

// The database's bytes, laid out as the format stores them.
const Fixture& Database() {
  static const Fixture fixture = [] {
    Fixture f;
    std::mt19937 rng(2000);
    std::vector<std::uint32_t> sizes(kRecords);
    for (auto& s : sizes) {
      s = 1 + rng() % 4096;
      f.recordBytes += s;
    }
    f.bytes.assign(kDbHeaderSize, 0);
    DbFileHeader h{};
    std::memcpy(h.name, "bench", 6);
    std::memcpy(h.type, "DATA", 4);
    std::memcpy(h.creator, "test", 4);
    h.count = static_cast<std::uint16_t>(kRecords);
    DbFile_StoreHeader(h, f.bytes.data());
    std::uint32_t at = kDbEmptySize + kDbEntrySize * kRecords;
    for (std::uint32_t i = 0; i < kRecords; ++i) {
      std::uint8_t entry[kDbEntrySize] = {};
      StoreBE32(entry, at);
      entry[7] = static_cast<std::uint8_t>(i);
      f.bytes.insert(f.bytes.end(), entry, entry + kDbEntrySize);
      at += sizes[i];
    }
    f.bytes.insert(f.bytes.end(), 2, 0);
    for (std::uint32_t s : sizes)
      for (std::uint32_t k = 0; k < s; ++k)
        f.bytes.push_back(static_cast<std::uint8_t>(rng()));
    return f;
  }();
  return fixture;
}

// A read-only memory stream over the fixture (the caller keeps the bytes).
EngineObject* OpenStream(const Fixture& f) {
  EngineObject* stream = nullptr;
  auto* data = const_cast<std::uint8_t*>(f.bytes.data());
  const auto size = static_cast<std::uint32_t>(f.bytes.size());
  if (MemStream_Create(g_MemStreamModule, data, size, size, kMemCreateCallerOwns, &stream) != kOk) {
    return nullptr;
  }
  return stream;
}

// Reads and gives back one record; its size, or 0 on failure.
std::uint32_t ReadOne(EngineObject* db, std::uint32_t index) {
  std::uint32_t size = 0;
  void* buffer = nullptr;
  if (DbFile_ReadRecord(db, static_cast<std::uint16_t>(index), &size, &buffer) != kOk) return 0;
  benchmark::DoNotOptimize(static_cast<std::uint8_t*>(buffer)[size - 1]);
  return DbFile_FreeRecordBuffer(db, buffer) == kOk ? size : 0;
}

void BM_ReadEveryRecordCold(benchmark::State& state) {
  const Fixture& f = Database();
  EngineObject* stream = OpenStream(f);
  for (auto _ : state) {
    EngineObject* db = nullptr;
    if (DbFile_Open(g_DbFileModule, stream, kDbOpenRead, &db) != kOk) {
      state.SkipWithError("open failed");
      break;
    }
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < kRecords; ++i)
      total += ReadOne(db, i);
    if (DbFile_Close(db) != kOk) state.SkipWithError("close failed");
    if (total != f.recordBytes) {
      state.SkipWithError("short read");
      break;
    }
  }
  if (StreamOf(stream).close(stream) != kOk) state.SkipWithError("stream close failed");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kRecords);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.recordBytes));
  state.counters["per_record"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kRecords,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

void BM_ReadEveryRecordWarm(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const Fixture& f = Database();
  EngineObject* stream = OpenStream(f);
  EngineObject* db = nullptr;
  if (DbFile_Open(g_DbFileModule, stream, kDbOpenRead, &db) != kOk) {
    state.SkipWithError("open failed");
    return;
  }
  // A hit lends the very block that was cached: check that once.
  std::uint32_t size = 0;
  void* first = nullptr;
  void* again = nullptr;
  const bool read =
      DbFile_ReadRecord(db, 0, &size, &first) == kOk && DbFile_FreeRecordBuffer(db, first) == kOk &&
      DbFile_ReadRecord(db, 0, &size, &again) == kOk && DbFile_FreeRecordBuffer(db, again) == kOk;
  if (!read || first != again) state.SkipWithError("the second read was not a cache hit");
  for (auto _ : state) {
    double seconds = 0;
    std::uint64_t total = 0;
    for (std::uint32_t start = 0; start < kRecords; start += kWindow) {
      const std::uint32_t end = std::min(start + kWindow, kRecords);
      for (std::uint32_t i = start; i < end; ++i)
        benchmark::DoNotOptimize(ReadOne(db, i));  // loads the window, untimed
      const auto t0 = Clock::now();
      for (std::uint32_t i = start; i < end; ++i)
        total += ReadOne(db, i);
      seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    state.SetIterationTime(seconds);
    if (total != f.recordBytes) {
      state.SkipWithError("short read");
      break;
    }
  }
  if (DbFile_Close(db) != kOk) state.SkipWithError("close failed");
  if (StreamOf(stream).close(stream) != kOk) state.SkipWithError("stream close failed");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kRecords);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.recordBytes));
  state.counters["per_record"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kRecords,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

}  // namespace

BENCHMARK(BM_ReadEveryRecordCold)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadEveryRecordWarm)->UseManualTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  if (IsFailure(Core_RegisterAllModules())) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
