// The plain-text handler over a memory stream of arbitrary bytes: reads the
// whole text forwards in steps the input chooses and backwards, and copies
// ranges. What it serves must be the stream's bytes with every NUL as '?',
// within the length asked for, and every pointer must stay readable.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/formats/doc_handler.h"
#include "engine/formats/text_doc.h"
#include "engine/runtime/mem_stream.h"
#include "engine/startup/engine_start.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The bytes the handler should serve at [from, from + n).
bool Matches(const std::uint8_t* got, const std::uint8_t* text, std::uint32_t from,
             std::uint32_t n) {
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint8_t want = text[from + k] == 0 ? '?' : text[from + k];
    if (got[k] != want) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = Core_RegisterAllModules() == kOk;
  if (!registered) std::abort();
  if (size < 2 || size > (1u << 20) + 2) return 0;
  // Two bytes choose the step sizes; the rest is the text.
  const std::uint32_t step = 1 + data[0] * 37u;
  const std::uint32_t backStep = 1 + data[1] * 29u;
  const std::uint8_t* text = data + 2;
  const auto length = static_cast<std::uint32_t>(size - 2);

  EngineObject* stream = nullptr;
  if (MemStream_Create(&MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream) != kOk) {
    return 0;
  }
  if (length != 0 && StreamOf(stream).write(stream, text, length, nullptr) != kOk) std::abort();
  const DocHandlerOps& ops = DocOpsOf(&TextDocModule);
  EngineObject* doc = nullptr;
  Check(ops.create(&TextDocModule, &doc) == kOk);
  Check(ops.command(doc, DocCommand::AttachStream, stream, 0) == kOk);
  std::uint32_t reported = 0;
  Check(ops.getTextLength(doc, &reported) == kOk && reported == length);

  for (std::uint32_t at = 0; at < length;) {
    const std::uint8_t* p = nullptr;
    std::uint32_t n = step;
    Check(ops.getText(doc, at, &p, &n) == kOk);
    Check(p != nullptr && n > 0 && n <= std::min(step, length - at) && Matches(p, text, at, n));
    at += n;
  }
  for (std::uint32_t at = length; at > 0;) {
    const std::uint8_t* p = nullptr;
    std::uint32_t n = backStep;
    Check(ops.getTextBefore(doc, at, &p, &n) == kOk);
    Check(p != nullptr && n > 0 && n <= std::min(backStep, at) && Matches(p, text, at - n, n));
    at -= n;
  }
  const std::uint8_t* p = nullptr;
  std::uint32_t n = 10;
  Check(ops.getText(doc, length, &p, &n) == kOk && p == nullptr && n == 0);

  std::vector<std::uint8_t> copy(std::min<std::uint32_t>(length, 9000) + 1);
  const std::uint32_t from = length == 0 ? 0 : (data[0] * 257u) % length;
  std::uint32_t copied = 0;
  Check(ops.readRange(doc, from, length, copy.data(), static_cast<std::uint32_t>(copy.size()),
                      &copied) == kOk);
  Check(copied == std::min<std::uint32_t>(length - from, static_cast<std::uint32_t>(copy.size())));
  Check(Matches(copy.data(), text, from, copied));
  Check(ops.readRange(doc, 1, 0, copy.data(), 1, nullptr) == kBadArgument);

  std::int16_t section = -1;
  const StatusCode f = ops.findSection(doc, from, &section, nullptr, nullptr);
  Check(length == 0 ? f == kNoMore : (f == kOk && section == 0));
  Check(ops.command(doc, 0, nullptr, 0) == kOk);  // close
  Check(ops.destroy(doc) == kOk);
  Check(StreamOf(stream).close(stream) == kOk);
  return 0;
}
