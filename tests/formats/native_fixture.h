// Shared pieces of the native-document tests: a handler opened on a
// database in memory, documents written by tools/native_writer.py, and
// small JSON builders for its descriptions.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/native_doc.h"
#include "tests/support/native_writer.h"
#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"

namespace native_fixture {

using record_db_fixtures::MemDb;

// A run: [start, end) and its value.
struct RunSpec {
  std::uint32_t start;
  std::uint32_t end;
  std::uint32_t value;
};

inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

inline std::string RunsJson(const std::vector<RunSpec>& runs) {
  std::string out = "[";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (i != 0) out += ",";
    out += "[" + std::to_string(runs[i].start) + "," + std::to_string(runs[i].end) + "," +
           std::to_string(runs[i].value) + "]";
  }
  return out + "]";
}

// A run list description of value runs.
inline std::string RunListJson(const std::vector<RunSpec>& runs, int deltaCode, int valueCode,
                               std::uint32_t perRecord) {
  return "{\"runs\": " + RunsJson(runs) + ", \"delta_encoding\": " + std::to_string(deltaCode) +
         ", \"value_encoding\": " + std::to_string(valueCode) +
         ", \"runs_per_record\": " + std::to_string(perRecord) + "}";
}

// The records of a database file and the file rebuilt from them.
inline std::vector<std::string> Records(const std::string& file) {
  return record_db_fixtures::ParseRecords(file);
}
inline std::string Rebuild(const std::vector<std::string>& records) {
  return record_db_fixtures::BuildDb(records, "KDoc", "KelX");
}

// The range-table entry `entry` (first record, count) of a written file.
inline std::pair<std::uint16_t, std::uint16_t> Range(const std::string& file, std::uint32_t entry) {
  const std::string r0 = Records(file).at(0);
  const std::uint32_t L = native_writer::GetBE16(r0, 0);
  const std::uint32_t n = native_writer::GetBE16(r0, L);
  const std::uint32_t mAt = L + 2 + 2 * n;
  const std::uint32_t m = native_writer::GetBE16(r0, mAt);
  return {native_writer::GetBE16(r0, mAt + 2 + 2 * entry),
          native_writer::GetBE16(r0, mAt + 2 + 2 * m + 2 * entry)};
}
// Record-list entry k of a written file.
inline std::uint16_t RecordList(const std::string& file, std::uint32_t k) {
  const std::string r0 = Records(file).at(0);
  const std::uint32_t L = native_writer::GetBE16(r0, 0);
  return native_writer::GetBE16(r0, L + 2 + 2 * k);
}

// A handler opened on a database in memory; destroyed before the database.
class NativeHandler {
 public:
  NativeHandler() { EXPECT_EQ(NativeDoc_Create(&NativeDocModule, &handler_), kOk); }
  ~NativeHandler() {
    if (handler_ != nullptr) {
      EXPECT_EQ(NativeDoc_Destroy(handler_), kOk);
    }
  }
  NativeHandler(const NativeHandler&) = delete;
  NativeHandler& operator=(const NativeHandler&) = delete;

  StatusCode Open(const std::string& file) {
    if (mem_ != nullptr) {
      EXPECT_EQ(NativeDoc_Command(handler_, DocCommand::Close, nullptr, 0), kOk);
    }
    mem_ = std::make_unique<MemDb>(file);
    return NativeDoc_Command(handler_, DocCommand::OpenDatabase, mem_->db(), 0);
  }
  StatusCode Destroy() {
    const StatusCode s = NativeDoc_Destroy(handler_);
    handler_ = nullptr;
    return s;
  }
  EngineObject* handler() const { return handler_; }
  NativeDocState& State() { return BodyOf<NativeDocState>(handler_); }
  MemDb& Db() { return *mem_; }

 private:
  std::unique_ptr<MemDb> mem_;
  EngineObject* handler_ = nullptr;
};

}  // namespace native_fixture
