// Opens arbitrary bytes on a real file as a record database worked on
// through a temporary copy, applies inserts, deletes and moves read from the
// input against a model, and closes. A refused file must keep its bytes; an
// accepted one must afterwards open as a record database holding exactly the
// model's records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/runtime/db_copy.h"
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

std::string ReadRecord(EngineObject* db, const DbFileOps& ops, std::uint16_t index) {
  std::uint32_t size = 0;
  void* buffer = nullptr;
  Check(ops.readRecord(db, index, &size, &buffer) == kOk);
  std::string out(static_cast<const char*>(buffer), size);
  Check(ops.freeRecordBuffer(db, buffer) == kOk);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Core_RegisterAllModules() != kOk) std::abort();
  static fuzz_support::TempFile file("fuzz.pdb");
  g_file = &file;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > (1u << 16)) return 0;
  const std::size_t split = 1 + data[0] * (size - 1) / 256;
  const std::string original(reinterpret_cast<const char*>(data) + 1, split - 1);
  g_file->Write(original.data(), original.size());
  EngineObject* stream = nullptr;
  Check(FileSys_Open(g_FileSysModule, g_file->Wide(), 0, kFileOpenReadWrite, &stream) == kOk);
  const auto& ops = OpsOf<DbFileOps>(g_DbCopyModule);
  EngineObject* db = nullptr;
  if (ops.open(g_DbCopyModule, stream, kDbOpenWrite, &db) != kOk) {
    Check(StreamOf(stream).close(stream) == kOk);
    Check(g_file->Read() == original);
    return 0;
  }
  std::uint16_t count = 0;
  Check(ops.getInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count) == kOk);
  std::vector<std::string> model;
  for (std::uint16_t i = 0; i < count; ++i)
    model.push_back(ReadRecord(db, ops, i));

  for (std::size_t i = split; i + 3 <= size; i += 3) {
    const std::uint8_t op = data[i] % 3;
    const std::uint16_t a = data[i + 1] % (model.size() + 2);
    const std::uint16_t b = data[i + 2] % (model.size() + 2);
    if (op == 0) {
      std::uint16_t at = a;
      const std::string bytes(b, static_cast<char>(data[i]));
      const StatusCode s = ops.insertRecord(db, &at, b, bytes.data());
      Check(s == kOk);
      const std::size_t where = at;
      Check(where <= model.size());
      model.insert(model.begin() + static_cast<std::ptrdiff_t>(where), bytes);
    } else if (op == 1) {
      const StatusCode s = ops.deleteRecord(db, a);
      if (a >= model.size()) {
        Check(IsFailure(s));
      } else {
        Check(s == kOk);
        model.erase(model.begin() + a);
      }
    } else {
      // Record a goes in front of record b (b past the end: last).
      const StatusCode s = ops.moveRecord(db, a, b);
      if (a >= model.size()) {
        Check(IsFailure(s));
      } else {
        Check(s == kOk);
        std::size_t target = b < model.size() ? b : model.size();
        const std::string moved = model[a];
        model.erase(model.begin() + a);
        if (a < target) --target;
        model.insert(model.begin() + static_cast<std::ptrdiff_t>(target), moved);
      }
    }
  }
  Check(ops.close(db) == kOk);
  Check(StreamOf(stream).close(stream) == kOk);

  // The file written back opens as a database with the model's records.
  Check(FileSys_Open(g_FileSysModule, g_file->Wide(), 0, kFileOpenRead, &stream) == kOk);
  Check(DbFile_Open(&DbFileModule, stream, kDbOpenRead, &db) == kOk);
  const auto& read = OpsOf<DbFileOps>(db);
  Check(read.getInfo(db, nullptr, nullptr, nullptr, nullptr, nullptr, &count) == kOk);
  Check(count == model.size());
  for (std::uint16_t i = 0; i < count; ++i)
    Check(ReadRecord(db, read, i) == model[i]);
  Check(read.close(db) == kOk);
  Check(StreamOf(stream).close(stream) == kOk);
  return 0;
}
