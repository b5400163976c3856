// Drives a sorted record index with an operation sequence read from the
// input against a model: records by name in insertion order, secondary keys
// and defaults set by one update per record, links to existing or new
// records. Every answer must be the model's, and the linking pass must
// resolve each link as the model does. The index's container lives in a
// temporary file in memory (memory_temp_files.h).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"
#include "engine/utilities/record_index.h"
#include "fuzz/memory_temp_files.h"

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

struct Record {
  std::string name;
  std::uint32_t value;
  bool updated = false;
  std::uint32_t defaultTarget = kNone;
  std::map<std::string, std::uint32_t> keys;
};

struct Link {
  std::string name;
  bool hasKey;
  std::string key;
};

void Check(bool ok) {
  if (!ok) std::abort();
}

// A name of one to three letters over a small alphabet, so that names and
// keys repeat.
std::string Name(const std::uint8_t*& p, const std::uint8_t* end) {
  std::string s = "a";
  if (p == end) return s;
  const std::size_t n = *p++ % 3;
  for (std::size_t i = 0; i < n && p != end; ++i)
    s += static_cast<char>('a' + *p++ % 3);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (Core_RegisterAllModules() != kOk) std::abort();
  fuzz_support::MemoryTempFiles::Install();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const auto& ops = OpsOf<RecordIndexOps>(g_RecordIndexModule);
  EngineObject* x = nullptr;
  Check(ops.create(g_RecordIndexModule, &x) == kOk);

  std::vector<Record> records;
  std::map<std::string, std::uint32_t> byName;
  std::vector<Link> links;
  std::int64_t updating = -1;
  std::uint32_t nextValue = 1;
  const std::uint8_t* p = data;
  const std::uint8_t* end = data + size;
  while (p != end) {
    const std::uint8_t op = *p++ % 6;
    if (op == 0) {
      const std::string name = Name(p, end);
      std::uint32_t entry = kNone;
      const StatusCode s =
          ops.insert(x, name.data(), static_cast<std::uint32_t>(name.size()), nextValue, &entry);
      const auto it = byName.find(name);
      if (it != byName.end()) {
        Check(s == kRecordIndexDuplicate && entry == it->second);
      } else {
        Check(s == kOk && entry == records.size());
        byName[name] = entry;
        records.push_back({name, nextValue, false, kNone, {}});
      }
      nextValue += 2;
    } else if (op == 1) {
      const std::uint32_t number = p == end ? 0 : *p++ % (records.size() + 1);
      const std::uint32_t target = p == end ? 0 : *p++;
      const StatusCode s = ops.beginUpdate(x, number, target);
      if (updating >= 0) {
        Check(s == kRecordIndexUpdateOpen);
      } else if (number >= records.size()) {
        Check(s == kFailed);
      } else if (records[number].updated) {
        Check(s == kOk);  // allowed, but the model keeps one update per record
        Check(ops.endUpdate(x) == kOk);
        return (void)ops.release(x), 0;
      } else {
        Check(s == kOk);
        updating = number;
        records[number].updated = true;
        records[number].defaultTarget = target;
      }
    } else if (op == 2) {
      Check(ops.endUpdate(x) == (updating >= 0 ? kOk : kFailed));
      updating = -1;
    } else if (op == 3) {
      const std::string key = Name(p, end);
      const StatusCode s =
          ops.addKey(x, key.data(), static_cast<std::uint32_t>(key.size()), nextValue, nullptr);
      if (updating < 0) {
        Check(s == kFailed);
      } else if (records[updating].keys.count(key) != 0) {
        Check(s == kRecordIndexDuplicate);
      } else {
        Check(s == kOk);
        records[updating].keys[key] = nextValue++;
      }
    } else if (op == 4) {
      const std::string name = Name(p, end);
      const bool hasKey = p != end && (*p++ & 1) != 0;
      const std::string key = hasKey ? Name(p, end) : std::string();
      const StatusCode s = ops.addLink(x, name.data(), static_cast<std::uint32_t>(name.size()),
                                       hasKey ? key.data() : nullptr,
                                       static_cast<std::uint32_t>(key.size()), 0, 0, 0);
      if (updating < 0) {
        Check(s == kFailed);
      } else {
        Check(s == kOk);
        if (byName.count(name) == 0) {
          byName[name] = static_cast<std::uint32_t>(records.size());
          records.push_back({name, records[updating].value + 1, false, kNone, {}});
        }
        links.push_back({name, hasKey, key});
      }
    } else {
      // Every record reads back in insertion order.
      std::uint32_t number = 0;
      for (const Record& r : records) {
        char buffer[8];
        std::uint32_t length = sizeof buffer;
        std::uint32_t value = 0;
        Check(ops.read(x, &number, buffer, &length, &value) == kOk);
        Check(std::string(buffer, length) == r.name && value == r.value);
      }
      std::uint32_t length = 0;
      Check(ops.read(x, &number, nullptr, &length, nullptr) == kNoMore);
    }
  }
  if (updating >= 0) Check(ops.endUpdate(x) == kOk);
  Check(ops.link(x, nullptr, nullptr) == kOk);
  for (std::uint32_t i = 0; i < links.size(); ++i) {
    std::uint32_t w[7];
    Check(RecordIndex_GetLink(x, i, w) == kOk);
    const Record& r = records[byName[links[i].name]];
    const auto key = links[i].hasKey ? r.keys.find(links[i].key) : r.keys.end();
    const bool byKey = key != r.keys.end();
    Check(w[6] == (byKey ? key->second : r.defaultTarget));
    Check(w[5] == (byKey ? 1u : 2u));
  }
  Check(ops.release(x) == kOk);
  return 0;
}
