#include "tests/support/native_writer.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/temp_dir.h"

namespace native_writer {

void PutBE16(std::string& out, std::size_t at, std::uint16_t v) {
  out.at(at) = static_cast<char>(v >> 8);
  out.at(at + 1) = static_cast<char>(v);
}

void PutBE32(std::string& out, std::size_t at, std::uint32_t v) {
  PutBE16(out, at, static_cast<std::uint16_t>(v >> 16));
  PutBE16(out, at + 2, static_cast<std::uint16_t>(v));
}

std::uint16_t GetBE16(const std::string& in, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(in.at(at)) << 8) |
                                    static_cast<unsigned char>(in.at(at + 1)));
}

namespace {

void AppendBE16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

}  // namespace

std::string HeaderBytes(const Header& h) {
  const std::size_t length = std::max<std::size_t>(h.headerLength, 66);
  std::string out(length, '\0');
  if (h.keptSeed != 0) {
    for (std::size_t o = 0; o < length; ++o)
      out[o] = static_cast<char>(h.keptSeed + o);
  }
  PutBE16(out, 0, h.headerLength);
  out[2] = static_cast<char>(h.major);
  out[3] = static_cast<char>(h.minor);
  out[4] = static_cast<char>(h.check);
  out.replace(6, 6, (h.magic + std::string(6, '\0')).substr(0, 6));
  for (int k = 0; k < 8; ++k)
    out[12 + k] = static_cast<char>(h.startData[k]);
  PutBE32(out, 20, h.textLength);
  PutBE16(out, 24, h.blocksPerRecord);
  PutBE16(out, 30, h.sectionCount);
  PutBE16(out, 32, h.posList1);
  PutBE16(out, 34, h.posList0);
  PutBE16(out, 36, h.docFlags);
  out[44] = static_cast<char>(h.major2);
  out[45] = static_cast<char>(h.minor2);
  out[48] = static_cast<char>(h.check2);
  out[52] = static_cast<char>(h.docBytes[0]);
  out[53] = static_cast<char>(h.docBytes[1]);
  PutBE16(out, 56, h.startSection);
  PutBE16(out, 58, h.charset);
  PutBE16(out, 60, h.nameHashRecords);
  PutBE16(out, 62, h.anchorRecords);
  PutBE16(out, 64, h.targetCodeRecords);
  out.resize(h.headerLength);
  return out;
}

std::string DirectoryBytes(const Directory& d) {
  std::string out;
  AppendBE16(out, static_cast<std::uint16_t>(d.recordList.size()));
  for (const std::uint16_t v : d.recordList)
    AppendBE16(out, v);
  const std::size_t m = d.rangeStarts.size();
  AppendBE16(out, static_cast<std::uint16_t>(m));
  for (const std::uint16_t v : d.rangeStarts)
    AppendBE16(out, v);
  for (std::size_t k = 0; k < m; ++k)
    AppendBE16(out, k < d.rangeCounts.size() ? d.rangeCounts[k] : 0);
  return out;
}

std::string Record0(const Header& header, const Directory& directory) {
  return HeaderBytes(header) + DirectoryBytes(directory);
}

std::string Record(std::uint8_t type, const std::string& data, std::uint8_t headerLength) {
  std::string out(std::max<std::size_t>(headerLength, 2), '\0');
  out[0] = static_cast<char>(headerLength);
  out[1] = static_cast<char>(type);
  return out + data;
}

std::string Database(const std::vector<std::string>& records, const std::string& type,
                     const std::string& creator) {
  return record_db_fixtures::BuildDb(records, type, creator);
}

std::vector<std::string> Document::AllRecords() const {
  std::vector<std::string> all{Record0(header, directory)};
  all.insert(all.end(), records.begin(), records.end());
  return all;
}

std::string Document::Build() const {
  return Database(AllRecords());
}

Document Sample(std::uint16_t count) {
  Document d;
  for (std::uint16_t k = 1; k <= count; ++k) {
    std::string data(4, '\0');
    PutBE32(data, 0, k);
    d.records.push_back(Record(static_cast<std::uint8_t>(k % 18), data));
  }
  return d;
}

}  // namespace native_writer

namespace native_tool {

std::string ScriptPath() {
  const char* root = std::getenv("KELPO_SOURCE_DIR");
  const std::filesystem::path base =
      root != nullptr ? std::filesystem::path(root)
                      : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
  return (base / "tools" / "native_writer.py").string();
}

namespace {

// The description with the text file named in it.
std::string WithText(const std::string& json, const std::string& textPath) {
  std::string description = json;
  const std::size_t brace = description.find('{');
  const std::string key = "\"text_file\": \"" + textPath + "\"";
  const bool empty =
      description.find_first_not_of(" \n\t", brace + 1) == description.find('}', brace);
  description.insert(brace + 1, empty ? key : key + ", ");
  return description;
}

}  // namespace

std::vector<std::string> WriteAll(const std::vector<std::string>& descriptions,
                                  const std::vector<std::string>& texts, std::string* error) {
  TempDir dir;
  std::string jobs = "[";
  for (std::size_t i = 0; i < descriptions.size(); ++i) {
    const std::string n = std::to_string(i);
    std::string description = descriptions[i];
    if (i < texts.size() && !texts[i].empty()) {
      WriteFileBytes(dir.File("text" + n + ".bin"), texts[i]);
      description = WithText(description, dir.File("text" + n + ".bin"));
    }
    jobs += (i != 0 ? ", " : "") + std::string("{\"description\": ") + description +
            ", \"out\": \"" + dir.File("doc" + n + ".pdb") + "\"}";
  }
  WriteFileBytes(dir.File("jobs.json"), jobs + "]");
  int status = -1;
  const std::string err = RunPeer(
      "python3 '" + ScriptPath() + "' --batch '" + dir.File("jobs.json") + "' 2>&1", "", &status);
  if (status != 0) {
    if (error != nullptr) *error = err;
    return {};
  }
  std::vector<std::string> out;
  for (std::size_t i = 0; i < descriptions.size(); ++i)
    out.push_back(ReadFileBytes(dir.File("doc" + std::to_string(i) + ".pdb")));
  return out;
}

std::string Write(const std::string& json, const std::string& text, std::string* error) {
  const std::vector<std::string> out = WriteAll({json}, {text}, error);
  return out.empty() ? std::string() : out[0];
}

}  // namespace native_tool
