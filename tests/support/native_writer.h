// A writer of small native documents from the byte layout, for tests and
// fixtures: record 0 (header and directory), records with a record header,
// and the record database around them (type "KDoc", creator "KelX"). It is
// written apart from the engine's reader and uses none of its code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace native_writer {

// Every field of record 0. The defaults describe a valid version 3.0
// document with a 66-byte header. Bytes the reader keeps without reading
// (5, 26-29, 38-43, 46-47, 49-51, 54-55 and 66 .. L-1) are filled with
// keptSeed + offset (mod 256), or zeros when keptSeed is 0, so a test can see
// that they survive.
struct Header {
  std::uint16_t headerLength = 66;  // L; the bytes are cut or extended to L
  std::uint8_t major = 3;
  std::uint8_t minor = 0;
  std::uint8_t check = 3;
  std::string magic = "isKelp";  // 6 bytes
  std::uint8_t startData[8] = {};
  std::uint32_t textLength = 0;
  std::uint16_t blocksPerRecord = 1;
  std::uint16_t sectionCount = 1;
  std::uint16_t posList1 = 0;
  std::uint16_t posList0 = 0;
  std::uint16_t docFlags = 0;
  std::uint8_t major2 = 3;
  std::uint8_t minor2 = 0;
  std::uint8_t check2 = 0xF0;
  std::uint8_t docBytes[2] = {};
  std::uint16_t startSection = 0;
  std::uint16_t charset = 0;
  std::uint16_t nameHashRecords = 0;
  std::uint16_t anchorRecords = 0;
  std::uint16_t targetCodeRecords = 0;
  std::uint8_t keptSeed = 0x50;
};

// The directory after the header. rangeCounts pairs with rangeStarts (a
// shorter list is padded with zeros).
struct Directory {
  std::vector<std::uint16_t> recordList;
  std::vector<std::uint16_t> rangeStarts;
  std::vector<std::uint16_t> rangeCounts;
};

void PutBE16(std::string& out, std::size_t at, std::uint16_t v);
void PutBE32(std::string& out, std::size_t at, std::uint32_t v);
std::uint16_t GetBE16(const std::string& in, std::size_t at);

// Exactly headerLength bytes.
std::string HeaderBytes(const Header& header);
// u16 n, the record list, u16 m, m starts, m counts.
std::string DirectoryBytes(const Directory& directory);
std::string Record0(const Header& header, const Directory& directory);
// A record: header length byte, type byte, headerLength - 2 zero bytes (at
// least 2 when headerLength is 4 or more), then data.
std::string Record(std::uint8_t type, const std::string& data, std::uint8_t headerLength = 4);
// The record database file holding the records in order (the container
// writer of the Palm Doc fixtures).
std::string Database(const std::vector<std::string>& records, const std::string& type = "KDoc",
                     const std::string& creator = "KelX");

// A whole document: record 0 from header and directory, then `records`
// (records 1, 2, ...).
struct Document {
  Header header;
  Directory directory;
  std::vector<std::string> records;

  std::vector<std::string> AllRecords() const;
  std::string Build() const;
};

// A valid document with `count` records after record 0 (record k has type
// k % 18 and 4 data bytes holding k) and an empty directory.
Document Sample(std::uint16_t count);

}  // namespace native_writer

// The project's independent writer, tools/native_writer.py, driven by a JSON
// description (see the script). `text` is handed over as the text file
// when not empty. Returns the database file; an empty string when the
// script failed (its error output is in *error when given).
namespace native_tool {
std::string Write(const std::string& json, const std::string& text = std::string(),
                  std::string* error = nullptr);
// Several documents in one run of the script (its start-up is the slow
// part): descriptions[i] with texts[i] (empty: none). An empty vector when
// the script failed.
std::vector<std::string> WriteAll(const std::vector<std::string>& descriptions,
                                  const std::vector<std::string>& texts,
                                  std::string* error = nullptr);
// The path of the script.
std::string ScriptPath();
}  // namespace native_tool
