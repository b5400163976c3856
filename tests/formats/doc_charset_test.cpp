// The charset of a document nobody chose one for: the default stands unless
// the text starts with the UTF-8 mark, or UTF-8 is the default and the
// text is not UTF-8 (then windows-1252). Checked on the plain-text handler
// (read through its stream window) and the Palm Doc handler (read through
// its decoded records), whose windows cut characters in two.
#include "engine/formats/doc_charset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats/doc_handler.h"
#include "engine/formats/palm_doc.h"
#include "engine/formats/text_doc.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"
#include "tests/support/record_db_fixtures.h"

namespace {

using record_db_fixtures::BuildDb;
using record_db_fixtures::MemDb;
using record_db_fixtures::PutBE;

// A document handler over `text`, closed and destroyed with the object.
class Document {
 public:
  virtual ~Document() = default;
  EngineObject* handler() const { return handler_; }

 protected:
  EngineObject* handler_ = nullptr;
};

class PlainText : public Document {
 public:
  explicit PlainText(const std::string& text) : bytes_(text) {
    EXPECT_EQ(MemStream_Create(
                  g_MemStreamModule, bytes_.data(), static_cast<std::uint32_t>(bytes_.size()),
                  static_cast<std::uint32_t>(bytes_.size()), kMemCreateCallerOwns, &stream_),
              kOk);
    EXPECT_EQ(DocOpsOf(&TextDocModule).create(&TextDocModule, &handler_), kOk);
    EXPECT_EQ(DocOpsOf(handler_).command(handler_, DocCommand::AttachStream, stream_, 0), kOk);
  }
  ~PlainText() override {
    EXPECT_EQ(DocOpsOf(handler_).destroy(handler_), kOk);
    EXPECT_EQ(StreamOf(stream_).close(stream_), kOk);
  }

 private:
  std::string bytes_;
  EngineObject* stream_ = nullptr;
};

// Stored (uncompressed) records of 4096 bytes.
std::string PalmDocBytes(const std::string& text) {
  std::vector<std::string> records;
  for (std::size_t at = 0; at < text.size(); at += 4096)
    records.push_back(text.substr(at, 4096));
  std::string r0;
  PutBE(r0, 1, 2);
  PutBE(r0, 0, 2);
  PutBE(r0, static_cast<std::uint32_t>(text.size()), 4);
  PutBE(r0, static_cast<std::uint32_t>(records.size()), 2);
  PutBE(r0, 4096, 2);
  PutBE(r0, 0, 4);
  records.insert(records.begin(), r0);
  return BuildDb(records);
}

class PalmDocText : public Document {
 public:
  explicit PalmDocText(const std::string& text) : db_(PalmDocBytes(text)) {
    EXPECT_EQ(DocOpsOf(&PalmDocModule).create(&PalmDocModule, &handler_), kOk);
    EXPECT_EQ(DocOpsOf(handler_).command(handler_, DocCommand::OpenDatabase, db_.db(), 0), kOk);
    for (int k = 0; k < 100000; ++k) {
      const StatusCode s = DocOpsOf(handler_).backgroundStep(handler_);
      if (s == kDocStepDone) break;
      EXPECT_EQ(s, kOk);
      if (s != kOk) break;
    }
  }
  ~PalmDocText() override { EXPECT_EQ(DocOpsOf(handler_).destroy(handler_), kOk); }

 private:
  MemDb db_;
};

TEST(DocCharset, TheTextDecidesOnlyWhatNobodyChose) {
  const std::string cafeUtf8 = "Caf\xC3\xA9 cr\xC3\xA8me";
  const std::string cafe1252 = "Caf\xE9 cr\xE8me";
  const std::string filler(4095, 'a');
  const std::string past(kDocCharsetCheckBytes, 'a');
  struct Case {
    const char* what;
    std::string text;
    std::uint32_t defaultMib, expected;
  };
  const Case cases[] = {
      {"utf-8 under utf-8", cafeUtf8, 106, 106},
      {"ascii under utf-8", "plain", 106, 106},
      {"empty under utf-8", "", 106, 106},
      {"windows-1252 under utf-8", cafe1252, 106, 2252},
      {"iso-8859-2 under utf-8", "Za\xBF\xF3\xB3\xE6", 106, 2252},
      {"shift_jis under utf-8", "\x93\xFA\x96\x7B\x8C\xEA", 106, 2252},
      {"utf-16le with its mark under utf-8",
       std::string("\xFF\xFE"
                   "C\0\xE9\0",
                   6),
       106, 2252},
      {"utf-16be under utf-8", std::string("\0C\0\xE9", 4), 106, 2252},
      {"a character cut at the window's end stays utf-8", filler + cafeUtf8, 106, 106},
      {"a stray byte in the second window", filler + "ab" + cafe1252, 106, 2252},
      {"a character cut off by the end of the text", "abc\xC3", 106, 2252},
      {"a value past U+10FFFF", "\xF8\x88\x80\x80\x80", 106, 2252},
      {"the last byte checked is bad", past.substr(1) + "\x80" + "more", 106, 2252},
      {"a bad byte past the bytes checked", past + "\xE9", 106, 106},
      {"the utf-8 mark under utf-8", "\xEF\xBB\xBF" + cafeUtf8, 106, 106},
      {"the utf-8 mark under windows-1252", "\xEF\xBB\xBF" + cafeUtf8, 2252, 106},
      {"utf-8 under windows-1252", cafeUtf8, 2252, 2252},
      {"windows-1252 under windows-1252", cafe1252, 2252, 2252},
      {"windows-1252 under shift_jis", cafe1252, 17, 17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      PlainText doc(c.text);
      EXPECT_EQ(DocText_DefaultCharset(doc.handler(), c.defaultMib), c.expected) << "plain text";
    }
    PalmDocText doc(c.text);
    EXPECT_EQ(DocText_DefaultCharset(doc.handler(), c.defaultMib), c.expected) << "Palm Doc";
  }
  EXPECT_EQ(DocText_DefaultCharset(nullptr, 106), 106u);
}

}  // namespace
