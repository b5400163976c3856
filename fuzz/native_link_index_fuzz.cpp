// Looks up target codes, anchor numbers and names in a native link index
// area built from arbitrary bytes. Bytes 0-2 give the counts of name-hash,
// anchor and target-code records (each taken modulo what is left), bytes
// 3-5 the first code and anchor sought; the rest is split at each "~~~~"
// into the area's records. Every lookup must answer a documented status and
// give back every text it allocated (the leak checker watches).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/formats/native_link.h"
#include "engine/runtime/mem_stream.h"
#include "fuzz/native_fuzz_doc.h"

namespace {

bool Allowed(StatusCode s) {
  return s == kOk || s == kDocMalformed || s == kOutOfMemory;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

void Lookups(NativeDocState& s, const std::uint8_t* data) {
  static const char* const kNames[] = {"anchor", "Chapter", "", "x"};
  for (std::uint32_t i = 0; i < 8; ++i) {
    const std::uint32_t code = kNativeLinkCodeFirst + data[3] + i;
    NativeLinkTarget t{};
    const StatusCode r = LinkIndex_FindByCode(&s, code, &t);
    Check(Allowed(r));
    if (r == kOk) {
      std::uint32_t position = 0;
      Check(Allowed(LinkIndex_Resolve(&s, &t, &position)));
      LinkIndex_FreeTarget(&t);
    } else {
      Check(t.flags == 0);
    }
    std::uint32_t position = 0;
    Check(Allowed(LinkIndex_FindAnchor(&s, data[4] + 64u * i, &position)));
    const char* name = kNames[(data[5] + i) % 4];
    const std::uint32_t length = static_cast<std::uint32_t>(std::string_view(name).size());
    Check(Allowed(LinkIndex_FindByName(&s, name, length, (i & 1) ? "one" : nullptr, 3, &position)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6 || size > (1u << 18)) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 6), size - 6);
  const auto records = static_cast<std::uint16_t>(native_fuzz::CountRecords(input));
  native_fuzz::Params p;
  p.rangeStart[NativeRange::LinkIndex] = 1;
  p.rangeCount[NativeRange::LinkIndex] = records;
  std::uint16_t left = records;
  for (int i = 0; i < 3; ++i) {
    p.linkCounts[i] = static_cast<std::uint16_t>(data[i] % (left + 1));
    left = static_cast<std::uint16_t>(left - p.linkCounts[i]);
  }
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  EngineObject* db = native_fuzz::Build(stream, p, input);
  EngineObject* handler = nullptr;
  if (db != nullptr && NativeDoc_Create(&NativeDocModule, &handler) == kOk) {
    if (NativeDoc_Command(handler, DocCommand::OpenDatabase, db, 0) == kOk)
      Lookups(*static_cast<NativeDocState*>(handler->state), data);
    (void)NativeDoc_Destroy(handler);  // failures of a damaged document are expected
  }
  if (db != nullptr) (void)DbFile_Close(db);  // a memory database
  (void)StreamOf(stream).close(stream);
  return 0;
}
