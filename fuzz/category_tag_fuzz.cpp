// Reads the category tag of a native document made from arbitrary bytes:
// with the first byte even, the rest becomes record 0 of a "KDoc"/"KelX"
// record database written through the database itself; with it odd, the rest
// is taken whole as the file. The document is a real file, as the settings
// store reads it. The tag must fit the buffer the input chooses, end with a
// NUL there, and leave the bytes past the buffer alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/formats/native_doc.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/startup/engine_start.h"
#include "engine/stores/settings_store.h"
#include "fuzz/temp_file.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

fuzz_support::TempFile* g_file = nullptr;

// The bytes of a one-record native database holding record0.
bool BuildDocument(const std::uint8_t* record0, std::uint32_t size) {
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return false;
  }
  bool ok = DbFile_CreateNew(&DbFileModule, stream, "fuzz", kNativeType, kNativeCreator) == kOk;
  EngineObject* db = nullptr;
  if (ok) ok = DbFile_Open(&DbFileModule, stream, kDbOpenWrite, &db) == kOk;
  if (ok) {
    std::uint16_t at = 0;
    ok = DbFile_InsertRecord(db, &at, size, record0) == kOk;
    ok = DbFile_Close(db) == kOk && ok;
  }
  if (ok) {
    void* bytes = nullptr;
    std::uint32_t length = 0;
    ok = MemStream_GetBuffer(&MemStreamModule, stream, &bytes, &length, nullptr) == kOk;
    if (ok) g_file->Write(bytes, length);
  }
  Check(StreamOf(stream).close(stream) == kOk);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Core_RegisterAllModules() != kOk) std::abort();
  static fuzz_support::TempFile file("fuzz.kdoc");
  g_file = &file;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 65536) return 0;
  if ((data[0] & 1) != 0) {
    g_file->Write(data + 1, size - 1);
  } else if (!BuildDocument(data + 1, static_cast<std::uint32_t>(size - 1))) {
    return 0;
  }
  static constexpr std::uint32_t kCapacities[] = {0, 1, 2, 7, 256};
  const std::uint32_t capacity = kCapacities[(data[0] >> 1) % 5];
  char buffer[256 + 16];
  std::memset(buffer, 0x5A, sizeof buffer);
  std::uint32_t length = capacity;
  // The operation reads only the document; it needs no store.
  const StatusCode s = Settings_ReadDocumentCategoryTag(nullptr, g_file->Wide(),
                                                        capacity == 0 ? nullptr : buffer, &length);
  Check(s == kOk || s == kSettingsNoCategoryTag);
  if (s == kOk) {
    Check(length >= 1 && (capacity == 0 || length <= capacity));
    if (capacity != 0) Check(buffer[length - 1] == 0 && std::strlen(buffer) <= length - 1);
  }
  for (std::size_t k = capacity; k < sizeof buffer; ++k)
    Check(buffer[k] == 0x5A);
  return 0;
}
