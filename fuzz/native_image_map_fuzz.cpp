// Hit-tests points against native image maps built from arbitrary bytes.
// Bytes 0-3 give the image size and the first image sought; the rest is
// split at each "~~~~" into the image-map records (range 17). Every answer
// must be a documented one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/formats/native_image.h"
#include "engine/runtime/mem_stream.h"
#include "fuzz/native_fuzz_doc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size > (1u << 18)) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 4), size - 4);
  native_fuzz::Params p;
  p.rangeStart[NativeRange::ImageMaps] = 1;
  p.rangeCount[NativeRange::ImageMaps] =
      static_cast<std::uint16_t>(native_fuzz::CountRecords(input));
  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  EngineObject* db = native_fuzz::Build(stream, p, input);
  EngineObject* handler = nullptr;
  if (db != nullptr && NativeDoc_Create(&NativeDocModule, &handler) == kOk) {
    if (NativeDoc_Command(handler, DocCommand::OpenDatabase, db, 0) == kOk) {
      auto& s = *static_cast<NativeDocState*>(handler->state);
      const std::uint32_t width = data[0] * 3u;
      const std::uint32_t height = data[1] * 3u;
      for (std::uint32_t i = 0; i < 16; ++i) {
        std::uint32_t target = 0;
        const StatusCode r = NativeStore_ImageMapHit(
            &s, data[2] + i / 4, static_cast<std::int32_t>(i * 37 % 300),
            static_cast<std::int32_t>(data[3] + i * 11), width, height, &target);
        if (r != kDocImageMapHit && r != kFailed && r != kDocMalformed && r != kOutOfMemory)
          std::abort();
      }
    }
    (void)NativeDoc_Destroy(handler);  // failures of a damaged document are expected
  }
  if (db != nullptr) (void)DbFile_Close(db);  // a memory database
  (void)StreamOf(stream).close(stream);
  return 0;
}
