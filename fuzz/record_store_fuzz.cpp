// Opens a record store on arbitrary bytes and runs a few operations on it; a
// second half of the input drives a fresh store against a std::map. Damaged
// stores may only answer their documented failures, and a fresh store must
// always agree with the map.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/startup/engine_start.h"
#include "engine/utilities/record_store.h"

namespace {

// Compares keys of *user bytes (2 when no size is given): a caller's compare
// must fit the key size of the store it opens, which the store's header
// gives.
StatusCode CompareBytes(void* user, const void* a, const void* b) noexcept {
  const std::uint32_t size = user != nullptr ? *static_cast<const std::uint32_t*>(user) : 2;
  const int c = std::memcmp(a, b, size);
  return c == 0 ? kCompareEqual : c < 0 ? kCompareLess : kCompareGreater;
}

EngineObject* NewStream(const std::uint8_t* data, std::uint32_t size) {
  EngineObject* s = nullptr;
  if (MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &s) != kOk) {
    std::abort();
  }
  if (size != 0 && Stream_WriteExact(s, 0, data, size) != kOk) std::abort();
  return s;
}

bool Allowed(StatusCode s) {
  return s == kOk || s == kNotFound || s == kRecordStoreDuplicate || s == kRecordStoreCorrupt ||
         s == kStreamShortRead || s == kOutOfMemory || s == kBadArgument;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = (Core_RegisterAllModules() == kOk);
  if (!registered) std::abort();
  if (size < 2 || size > 0x10000) return 0;
  const std::size_t split = data[0] * size / 256;
  const auto& ops = OpsOf<RecordStoreOps>(g_RecordStoreModule);

  // A damaged store: every answer is a documented one.
  EngineObject* stream = NewStream(data + 1, static_cast<std::uint32_t>(split));
  EngineObject* store = nullptr;
  std::uint32_t keySize = 2;
  if (split >= 12) std::memcpy(&keySize, data + 1 + 8, 4);  // little-endian, as stored
  if (ops.openStore(g_RecordStoreModule, stream, CompareBytes, &keySize, &store) == kOk) {
    std::uint8_t key[0x10000] = {};
    std::uint8_t buffer[0x10000] = {};
    for (std::size_t i = split + 1; i + 2 <= size; i += 3) {
      std::memcpy(key, data + i, 2);
      StatusCode s = kOk;
      switch (data[i + 1] % 4) {
        case 0:
          s = ops.find(store, key, buffer, nullptr);
          break;
        case 1:
          s = ops.insert(store, key, buffer, nullptr);
          break;
        case 2:
          s = ops.remove(store, key);
          break;
        default:
          s = ops.getEntry(store, data[i], nullptr, nullptr, nullptr, buffer, buffer);
          break;
      }
      if (!Allowed(s)) std::abort();
      if (IsFailure(s)) break;
    }
    (void)ops.close(store);  // a memory stream takes the header
  }
  (void)StreamOf(stream).close(stream);

  // A fresh store against a map: 2-byte keys, 1-byte data.
  stream = NewStream(nullptr, 0);
  if (ops.createStore(g_RecordStoreModule, stream, 2, 1, CompareBytes, nullptr, &store) != kOk) {
    std::abort();
  }
  std::map<std::uint16_t, std::uint8_t> model;
  for (std::size_t i = split + 1; i + 3 <= size; i += 3) {
    const std::uint8_t key[2] = {static_cast<std::uint8_t>(data[i] & 0x3F), data[i + 1]};
    const std::uint16_t k = static_cast<std::uint16_t>(key[0] << 8 | key[1]);
    const std::uint8_t value = data[i + 2];
    if (value & 1) {
      const StatusCode s = ops.insert(store, key, &value, nullptr);
      if (s != (model.count(k) ? kRecordStoreDuplicate : kOk)) std::abort();
      model.emplace(k, value);
    } else {
      if (ops.remove(store, key) != (model.erase(k) ? kOk : kNotFound)) std::abort();
    }
  }
  for (const auto& [k, v] : model) {
    const std::uint8_t key[2] = {static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)};
    std::uint8_t got = 0;
    if (ops.find(store, key, &got, nullptr) != kOk || got != v) std::abort();
  }
  if (ops.close(store) != kOk) std::abort();
  (void)StreamOf(stream).close(stream);
  return 0;
}
