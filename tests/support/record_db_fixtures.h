// Record-database fixtures for tests: an independent writer and reader of
// the byte layout (written from the layout, not from the engine's code),
// and an in-memory database opened through the engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/runtime/db_file.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/module_table.h"

namespace record_db_fixtures {

inline void PutBE(std::string& out, std::uint32_t v, int bytes) {
  for (int k = bytes - 1; k >= 0; --k)
    out.push_back(static_cast<char>(v >> (8 * k)));
}
inline std::uint32_t GetBE(const std::string& in, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int k = 0; k < bytes; ++k)
    v = (v << 8) | static_cast<unsigned char>(in.at(at + k));
  return v;
}

// A database file holding the records in order.
inline std::string BuildDb(const std::vector<std::string>& records,
                           const std::string& type = "TEXt", const std::string& creator = "REAd") {
  std::string out = "fixture";
  out.resize(32, '\0');
  PutBE(out, 0, 2);  // attributes
  PutBE(out, 0, 2);  // version
  for (int k = 0; k < 6; ++k)
    PutBE(out, 0, 4);  // dates, modification number, app and sort info
  out += type;
  out += creator;
  PutBE(out, 0, 4);  // unique-id seed
  PutBE(out, 0, 4);  // next record list
  PutBE(out, static_cast<std::uint32_t>(records.size()), 2);
  std::uint32_t at = 78 + 8 * static_cast<std::uint32_t>(records.size()) + 2;
  for (std::size_t i = 0; i < records.size(); ++i) {
    PutBE(out, at, 4);
    out.push_back('\0');
    PutBE(out, static_cast<std::uint32_t>(i + 1), 3);
    at += static_cast<std::uint32_t>(records[i].size());
  }
  out += std::string(2, '\0');
  for (const auto& r : records)
    out += r;
  return out;
}

// The records of a database file, read from its entry table.
inline std::vector<std::string> ParseRecords(const std::string& f) {
  const std::uint32_t n = GetBE(f, 76, 2);
  std::vector<std::string> out;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t from = GetBE(f, 78 + 8 * i, 4);
    const std::uint32_t to = i + 1 < n ? GetBE(f, 78 + 8 * (i + 1), 4) : f.size();
    out.push_back(to > from ? f.substr(from, to - from) : std::string());
  }
  return out;
}

// The entries of a named position list: (name, value) in order.
using PosListEntries = std::vector<std::pair<std::string, std::uint32_t>>;

// A position-list record read from its layout (u16 names offset, reserved,
// count, names length; the NUL-terminated names; even padding; u32 values),
// the layout checked exactly.
struct ParsedPosList {
  std::uint16_t reserved = 0;
  std::string prefix, tail;  // bytes between header and names, after the values
  PosListEntries entries;
};
inline ParsedPosList ParsePosList(const std::string& r) {
  ParsedPosList p;
  EXPECT_GE(r.size(), 8u);
  if (r.size() < 8) return p;
  const std::uint32_t namesOffset = GetBE(r, 0, 2);
  p.reserved = static_cast<std::uint16_t>(GetBE(r, 2, 2));
  const std::uint32_t count = GetBE(r, 4, 2);
  const std::uint32_t namesLength = GetBE(r, 6, 2);
  EXPECT_GE(namesOffset, 8u);
  const std::uint32_t valuesAt = namesOffset + ((namesLength + 1) & ~1u);
  EXPECT_LE(valuesAt + 4 * count, r.size());
  if (namesOffset < 8 || valuesAt + 4 * count > r.size()) return p;
  p.prefix = r.substr(8, namesOffset - 8);
  if (namesLength % 2 != 0) {
    EXPECT_EQ(r.at(namesOffset + namesLength), '\0') << "pad byte";
  }
  std::size_t at = namesOffset;
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::size_t nul = r.find('\0', at);
    EXPECT_LT(nul, namesOffset + namesLength);
    if (nul >= namesOffset + namesLength) return p;
    p.entries.emplace_back(r.substr(at, nul - at), GetBE(r, valuesAt + 4 * k, 4));
    at = nul + 1;
  }
  EXPECT_EQ(at, namesOffset + namesLength) << "names fill the names area";
  p.tail = r.substr(valuesAt + 4 * count);
  return p;
}

// A record database opened on a memory stream holding `bytes`.
class MemDb {
 public:
  explicit MemDb(const std::string& bytes) {
    EXPECT_EQ(MemStream_Create(g_MemStreamModule, nullptr, 0, 0, kMemCreateWritable, &stream_),
              kOk);
    if (!bytes.empty()) {
      EXPECT_EQ(StreamOf(stream_).writeAt(stream_, 0, bytes.data(),
                                          static_cast<std::uint32_t>(bytes.size()), nullptr),
                kOk);
    }
    EXPECT_EQ(DbFile_Open(g_DbFileModule, stream_, kDbOpenWrite, &db_), kOk);
  }
  ~MemDb() {
    if (db_ != nullptr) (void)DbFile_Close(db_);
    (void)StreamOf(stream_).close(stream_);
  }
  MemDb(const MemDb&) = delete;
  MemDb& operator=(const MemDb&) = delete;

  EngineObject* db() const { return db_; }

  std::uint16_t Count() const {
    std::uint16_t count = 0;
    EXPECT_EQ(DbFile_GetInfo(db_, nullptr, nullptr, nullptr, nullptr, nullptr, &count), kOk);
    return count;
  }
  std::string Record(std::uint16_t index) const {
    std::uint32_t size = 0;
    void* buffer = nullptr;
    const StatusCode s = DbFile_ReadRecord(db_, index, &size, &buffer);
    EXPECT_EQ(s, kOk) << "record " << index;
    if (s != kOk) return "<fail>";
    std::string out(static_cast<const char*>(buffer), buffer ? size : 0);
    EXPECT_EQ(DbFile_FreeRecordBuffer(db_, buffer), kOk);
    return out;
  }
  // Closes the database (committing it) and answers the stream's bytes.
  std::string CloseAndRead() {
    EXPECT_EQ(DbFile_Close(db_), kOk);
    db_ = nullptr;
    std::uint32_t size = 0;
    EXPECT_EQ(StreamOf(stream_).getSize(stream_, &size), kOk);
    std::string out(size, '\0');
    EXPECT_EQ(StreamOf(stream_).readAt(stream_, 0, out.data(), size, nullptr), kOk);
    return out;
  }

 private:
  EngineObject* stream_ = nullptr;
  EngineObject* db_ = nullptr;
};

}  // namespace record_db_fixtures
