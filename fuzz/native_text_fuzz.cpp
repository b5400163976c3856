// Reads the text and the extra stream of a native document whose text
// records come from the input. The first 8 bytes choose the text length,
// blocks per record, document flags, whether the records also form the
// extra stream, and the positions read; the rest is split at each "~~~~"
// into records 1, 2, ...
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/formats/native_text.h"
#include "engine/runtime/allocator.h"
#include "fuzz/native_fuzz_doc.h"

namespace {

void Check(const std::uint8_t* p, std::uint32_t n) {
  if (p == nullptr) return;
  volatile std::uint8_t sink = 0;
  for (std::uint32_t k = 0; k < n; ++k)
    sink = sink ^ p[k];
  (void)sink;
}

void ReadText(EngineObject* handler, std::uint32_t total, std::uint32_t step) {
  // Forward through the whole text (bounded), then windows before and at
  // positions around every block end.
  std::uint32_t p = 0;
  for (int k = 0; k < 64 && p < total; ++k) {
    const std::uint8_t* at = nullptr;
    std::uint32_t n = step;
    if (NativeDoc_GetText(handler, p, &at, &n) != kOk || n == 0) break;
    Check(at, n + 1);  // the NUL behind the page is there too
    p += n;
  }
  for (std::uint32_t b = 0; b < 16; ++b) {
    for (const std::uint32_t q :
         {b * kNativeBlockSize - 1, b * kNativeBlockSize, b * kNativeBlockSize + step % 97}) {
      const std::uint8_t* at = nullptr;
      std::uint32_t n = 9000;
      if (NativeDoc_GetText(handler, q, &at, &n) == kOk) Check(at, n);
      n = step;
      if (NativeDoc_GetTextBefore(handler, q, &at, &n) == kOk) Check(at, n);
    }
  }
}

void ReadExtra(NativeDocState& s, std::uint32_t step) {
  for (std::uint32_t k = 0; k < 32; ++k) {
    const std::uint32_t offset = k * step;
    std::uint32_t n = 5000;
    Check(NativeStore_ReadExtra(&s, offset, &n), n);
    (void)NativeStore_ReadExtraU32(&s, offset + 4093);  // only its bounds matter here
    std::uint8_t* text = nullptr;
    std::uint16_t length = 0;
    if (NativeStore_ReadExtraString(&s, offset, &text, &length) == kOk && text != nullptr) {
      Check(text, length + 1u);
      Engine_Free(text);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8 || size > (1u << 18)) return 0;
  native_fuzz::Params p;
  p.textLength = LoadBE16(data) * 7u + data[1];
  p.blocksPerRecord = static_cast<std::uint16_t>(1 + data[2] % 8);
  p.docFlags = data[3];
  const std::string_view input(reinterpret_cast<const char*>(data + 8), size - 8);
  const std::uint32_t records = native_fuzz::CountRecords(input);
  p.rangeStart[NativeRange::Text] = 1;
  p.rangeCount[NativeRange::Text] = static_cast<std::uint16_t>(records);
  if ((data[4] & 1) != 0) {
    p.rangeStart[NativeRange::ExtraStream] = 1;
    p.rangeCount[NativeRange::ExtraStream] = static_cast<std::uint16_t>(records);
  }
  const std::uint32_t step = 1 + LoadBE16(data + 5) % 5000;

  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  EngineObject* db = native_fuzz::Build(stream, p, input);
  EngineObject* handler = nullptr;
  if (db != nullptr && NativeDoc_Create(&NativeDocModule, &handler) == kOk) {
    if (NativeDoc_Command(handler, DocCommand::OpenDatabase, db, 0) == kOk) {
      auto& s = *static_cast<NativeDocState*>(handler->state);
      ReadText(handler, s.record0.header.textLength, step);
      ReadExtra(s, step);
    }
    (void)NativeDoc_Destroy(handler);  // failures of a damaged document are expected
  }
  if (db != nullptr) (void)DbFile_Close(db);
  (void)StreamOf(stream).close(stream);
  return 0;
}
