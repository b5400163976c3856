// Opens an annotation file made of arbitrary bytes and reads every entry,
// then, on a writable copy, adds over the first entry (clearing, splitting
// and allocating on the file's own heap), updates and deletes, so every
// accepted file must stay safe to change.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/runtime/allocator.h"
#include "engine/startup/engine_start.h"
#include "engine/stores/annot_store.h"

namespace {

std::u16string Wide(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

// One file per process, on a memory file system when there is one.
const std::string& FilePath() {
  static const std::string path = [] {
    std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return dir + "/annot_store_fuzz_" + std::to_string(getpid()) + ".kpa";
  }();
  return path;
}

void ReadEverything(AnnotStore* store) {
  std::uint16_t count = 0;
  (void)AnnotStore_GetCount(store, &count);
  for (std::uint16_t i = 0; i < count && i < 512; ++i) {
    AnnotEntry whole{};
    whole.text1Size = kAnnotTextAll;
    whole.text2Size = kAnnotTextAll;
    if (AnnotStore_GetEntry(store, i, 0, &whole) == kOk) {
      Engine_Free(whole.text1);
      Engine_Free(whole.text2);
      std::uint32_t end = whole.start + 100;
      std::uint8_t attributes[2];
      (void)AnnotStore_GetAttributesAt(store, whole.start, &end, attributes);
    }
    char small[5];
    AnnotEntry cut{};
    cut.text1 = small;
    cut.text1Size = sizeof small - 1;
    (void)AnnotStore_GetEntry(store, -1, i * 7u, &cut);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)Core_RegisterAllModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  FILE* f = std::fopen(FilePath().c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  const std::u16string path = Wide(FilePath());

  AnnotStore* store = nullptr;
  if (AnnotStore_Open(path.c_str(), 0, kAnnotOpenRead, &store) == kOk) {
    ReadEverything(store);
    (void)AnnotStore_Close(store);
  }
  store = nullptr;
  if (AnnotStore_Open(path.c_str(), 0, kAnnotOpenWrite, &store) == kOk) {
    AnnotEntry first{};
    std::uint16_t count = 0;
    (void)AnnotStore_GetCount(store, &count);
    if (count > 0) (void)AnnotStore_GetEntry(store, 0, 0, &first);
    char text[] = "fuzz text";
    char note[] = "a longer note that needs a block of its own";
    AnnotEntry added{0, first.start + 1, 2, 0, 3, text, sizeof text - 1, note, sizeof note - 1};
    (void)AnnotStore_AddEntry(store, &added);
    AnnotEntry update{0, 0, 0, 0, 5, note, sizeof note - 1, nullptr, 0};
    (void)AnnotStore_UpdateEntry(store, 0, &update);
    (void)AnnotStore_DeleteEntries(store, count > 1 ? 1 : 0);
    ReadEverything(store);
    (void)AnnotStore_Close(store);
  }
  unlink(FilePath().c_str());
  return 0;
}
