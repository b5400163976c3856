// 'RaZo' documents for tests: made by tools/razo_writer.py (an independent
// writer of the layout) and opened through the handler on a memory database.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/formats/razo_doc.h"
#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"

namespace razo_fixture {

inline std::string SourceDir() {
  if (const char* env = std::getenv("KELPO_SOURCE_DIR")) return env;
  std::string here = __FILE__;  // <source>/tests/formats/razo_fixture.h
  for (int k = 0; k < 3; ++k)
    here = here.substr(0, here.find_last_of('/'));
  return here;
}

// A JSON string holding bytes: every byte is one code point.
inline std::string Json(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    }
  }
  return out + "\"";
}

// The database file the writer makes from a JSON description.
inline std::string Write(const std::string& spec) {
  int status = -1;
  const std::string out =
      RunPeer("python3 -I -S '" + SourceDir() + "/tools/razo_writer.py' - -", spec, &status);
  EXPECT_EQ(status, 0) << spec.substr(0, 200);
  return out;
}

inline const DocHandlerOps& Ops() {
  return DocOpsOf(&RaZoDocModule);
}

// A handler opened on a memory database holding `bytes`.
class Opened {
 public:
  explicit Opened(const std::string& bytes) : db_(bytes) {
    EXPECT_EQ(Ops().create(&RaZoDocModule, &h_), kOk);
    open_ = Ops().command(h_, DocCommand::OpenDatabase, db_.db(), 0);
  }
  ~Opened() {
    if (h_ != nullptr) (void)Ops().destroy(h_);
  }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;

  EngineObject* h() const { return h_; }
  StatusCode OpenStatus() const { return open_; }
  record_db_fixtures::MemDb& Db() { return db_; }
  // Destroys the handler and answers the database file as committed.
  std::string DestroyAndRead(StatusCode* destroyed = nullptr) {
    const StatusCode s = Ops().destroy(h_);
    if (destroyed) *destroyed = s;
    h_ = nullptr;
    return db_.CloseAndRead();
  }

 private:
  record_db_fixtures::MemDb db_;
  EngineObject* h_ = nullptr;
  StatusCode open_ = kFailed;
};

// The whole text through GetText; kOk unless a read failed.
inline StatusCode ReadAll(EngineObject* h, std::string* out) {
  std::uint32_t length = 0;
  StatusCode s = Ops().getTextLength(h, &length);
  if (s != kOk) return s;
  out->clear();
  for (std::uint32_t p = 0; p < length;) {
    const std::uint8_t* text = nullptr;
    std::uint32_t n = 4096;
    s = Ops().getText(h, p, &text, &n);
    if (s != kOk) return s;
    if (n == 0) return kFailed;
    out->append(reinterpret_cast<const char*>(text), n);
    p += n;
  }
  return kOk;
}

}  // namespace razo_fixture
