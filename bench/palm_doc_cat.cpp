// palm_doc_cat FILE.pdb: decodes a Palm Doc document to standard output the
// way the reader does (a file stream, the record database, the handler's
// background steps, then the text in windows), for whole-process timing
// against other decoders and for comparing their output byte for byte.
// Exit status 0 on success, 1 on a usage error, 2 when the document cannot
// be read.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/formats/palm_doc.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/path.h"
#include "engine/startup/engine_start.h"

namespace {

int Fail(const char* what, StatusCode s) {
  std::fprintf(stderr, "palm_doc_cat: %s (status 0x%08X)\n", what, static_cast<unsigned>(s));
  return 2;
}

// Decodes the document in stream to out.
int Decode(EngineObject* stream, std::FILE* out) {
  EngineObject* db = nullptr;
  StatusCode s = DbFile_Open(g_DbFileModule, stream, kDbOpenRead, &db);
  if (IsFailure(s)) return Fail("not a record database", s);
  const DocHandlerOps& ops = DocOpsOf(&PalmDocModule);
  EngineObject* h = nullptr;
  int result = 0;
  s = ops.create(&PalmDocModule, &h);
  if (IsFailure(s)) {
    result = Fail("no memory", s);
  } else {
    s = ops.command(h, DocCommand::OpenDatabase, db, 0);
    while (s == kOk)
      s = ops.backgroundStep(h);
    if (s != kDocStepDone) result = Fail("cannot open the document", s);
    std::uint32_t length = 0;
    if (result == 0 && IsFailure(s = ops.getTextLength(h, &length))) {
      result = Fail("no text length", s);
    }
    for (std::uint32_t p = 0; result == 0 && p < length;) {
      const std::uint8_t* text = nullptr;
      std::uint32_t n = kPalmDocTextRecordSize;
      s = ops.getText(h, p, &text, &n);
      if (IsFailure(s) || n == 0) {
        result = Fail("cannot read the text", s);
      } else if (std::fwrite(text, 1, n, out) != n) {
        result = Fail("cannot write the output", kFailed);
      }
      p += n;
    }
    (void)ops.destroy(h);  // frees memory only; its status says nothing more
  }
  s = DbFile_Close(db);
  if (result == 0 && IsFailure(s)) result = Fail("cannot close the database", s);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: palm_doc_cat FILE.pdb > FILE.txt\n");
    return 1;
  }
  if (IsFailure(Core_RegisterAllModules())) return Fail("cannot start the engine", kFailed);
  const auto utf8 = static_cast<std::uint32_t>(std::strlen(argv[1]));
  std::u16string path(utf8 + 1, u'\0');
  std::uint32_t units = 0;
  StatusCode s =
      Path_Utf8ToUtf16(argv[1], utf8, path.data(), static_cast<std::uint32_t>(path.size()), &units);
  if (IsFailure(s)) return Fail("bad path", s);
  EngineObject* stream = nullptr;
  s = FileSys_Open(g_FileSysModule, path.data(), 0, kFileOpenRead, &stream);
  if (IsFailure(s)) return Fail("cannot open the file", s);
  // Small enough to stay in the processor's cache, so the copies into it and
  // out of it to the kernel stay cheap, and to cost few page faults when it
  // is first touched (a 256 KiB buffer made a 1 MiB document's run a tenth
  // slower); large enough for few writes.
  static char outBuffer[1 << 16];
  std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
  int result = Decode(stream, stdout);
  if (IsFailure(StreamOf(stream).close(stream)) && result == 0) result = 2;
  if (std::fflush(stdout) != 0 && result == 0) result = Fail("cannot write the output", kFailed);
  return result;
}
