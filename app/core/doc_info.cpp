#include "app/core/doc_info.h"

#include <sys/sysinfo.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/core/strings.h"
#include "engine/formats/doc_handler.h"
#include "engine/formats/native_handler.h"
#include "engine/runtime/charset_name.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"

namespace {

std::u16string Ascii(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::u16string Widen(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (const char c : bytes)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Record 0 of the database, copied; empty when it cannot be read.
std::vector<std::uint8_t> ReadRecord0(EngineObject* db) {
  std::uint32_t size = 0;
  void* buffer = nullptr;
  if (IsFailure(DbFile_ReadRecord(db, 0, &size, &buffer))) return {};
  std::vector<std::uint8_t> out;
  if (buffer != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    out.assign(bytes, bytes + size);
  }
  (void)DbFile_FreeRecordBuffer(db, buffer);  // a buffer it lent; nothing to report
  return out;
}

bool IsCalendarDate(const DateTime& d) {
  std::uint8_t days = 0;
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.hour > 23 || d.minute > 59 || d.second > 59 ||
      d.hundredths > 99)
    return false;
  if (IsFailure(Date_DaysInMonth(g_DateModule, d.year, d.month, &days))) return false;
  return d.day <= days;
}

}  // namespace

const std::array<DocInfoRow, 3>& DocInfo_Rows() {
  static const std::array<DocInfoRow, 3> rows = {{
      {StringId::DocInfoTitle, {0, 1, 2, 3}},
      {StringId::DocInfoAuthor, {4, 5, 6}},
      {StringId::DocInfoPublisher, {7, 8, 9}},
  }};
  return rows;
}

std::u16string DocInfo_Join(const std::vector<std::u16string>& parts) {
  std::u16string out;
  for (const std::u16string& part : parts) {
    if (part.empty()) continue;
    if (!out.empty()) out += u"\n\n";
    for (std::size_t i = 0; i < part.size(); ++i) {
      if (part[i] == u'\r') {
        out.push_back(u'\n');
        if (i + 1 < part.size() && part[i + 1] == u'\n') ++i;
      } else {
        out.push_back(part[i]);
      }
    }
  }
  return out;
}

std::u16string DocInfo_Decode(const std::string& bytes, std::uint32_t mib) {
  if (bytes.empty()) return {};
  TextConvRequest request{};
  request.sourceMib = mib;
  request.source = bytes.data();
  request.sourceLength = static_cast<std::uint32_t>(bytes.size());
  request.targetMib = 1014;  // UTF-16LE, the host's order
  std::u16string out(bytes.size() * 2 + 2, u'\0');
  request.target = out.data();
  request.targetCapacity = static_cast<std::uint32_t>(out.size() * sizeof(char16_t));
  if (mib == 0 || IsFailure(TextConv_Convert(g_TextConvModule, &request))) return Widen(bytes);
  out.resize(request.targetCapacity / sizeof(char16_t));
  // A NUL byte comes out as U+0000, which would end the text early in a
  // text box.
  std::replace(out.begin(), out.end(), u'\0', u'\uFFFD');
  return out;
}

std::vector<DocInfoPage> DocInfo_MessagePages(EngineObject* reader, std::uint32_t mib) {
  std::vector<DocInfoPage> pages;
  if (reader == nullptr) return pages;
  for (const DocInfoRow& row : DocInfo_Rows()) {
    std::vector<std::u16string> parts;
    for (const std::uint32_t n : row.strings) {
      std::uint8_t bytes[kDocStringCapacity];
      NativeStringQuery query{kDocStringCapacity, 0, bytes};
      if (IsFailure(DocOpsOf(reader).control(reader, DocControl::GetString, n, &query))) continue;
      const std::uint16_t length = std::min(query.length, kDocStringCapacity);
      if (length == 0) continue;
      parts.push_back(
          DocInfo_Decode(std::string(reinterpret_cast<const char*>(bytes), length), mib));
    }
    std::u16string text = DocInfo_Join(parts);
    if (!text.empty()) pages.push_back({row.captionId, std::move(text)});
  }
  return pages;
}

std::optional<DateTime> DocInfo_NativeDate(const std::uint8_t* record, std::uint32_t size) {
  if (record == nullptr || size < 20) return std::nullopt;
  DateTime d{};
  d.year = static_cast<std::uint16_t>(record[12] << 8 | record[13]);
  d.month = record[14];
  d.day = record[15];
  d.hour = record[16];
  d.minute = record[17];
  d.second = record[18];
  d.hundredths = record[19];
  if (!IsCalendarDate(d)) return std::nullopt;
  return d;
}

std::optional<DateTime> DocInfo_RaZoDate(const std::uint8_t* record, std::uint32_t size) {
  if (record == nullptr || size < 36) return std::nullopt;
  DateTime d{};
  if (IsFailure(Date_From1904Seconds(g_DateModule, Be32(record + 32), &d))) return std::nullopt;
  return d;
}

DocInfoGeneral DocInfo_General(EngineObject* reader, EngineObject* container,
                               StatusCode probeResult, const std::u16string& path,
                               const std::u16string& fileTitle) {
  DocInfoGeneral info;
  info.path = path;
  if (container != nullptr && probeResult == kDocProbeMine) {
    char name[32] = {};
    std::uint8_t type[4] = {};
    if (!IsFailure(DbFile_GetInfo(container, name, type, nullptr, nullptr, nullptr, nullptr))) {
      name[31] = '\0';
      info.title = Widen(std::string(name, strnlen(name, sizeof name)));
      const std::string typeCode(reinterpret_cast<const char*>(type), 4);
      if (typeCode == "KDoc") {
        const std::vector<std::uint8_t> r0 = ReadRecord0(container);
        info.date = DocInfo_NativeDate(r0.data(), static_cast<std::uint32_t>(r0.size()));
        info.type = u"Kelpo 3.x/4.x";
      } else if (typeCode == "RaZo") {
        const std::vector<std::uint8_t> r0 = ReadRecord0(container);
        info.date = DocInfo_RaZoDate(r0.data(), static_cast<std::uint32_t>(r0.size()));
        info.type = u"Kelpo 1.x/2.x";
      } else if (typeCode == "TEXt") {
        info.type = u"Doc";
      }
    }
  }
  if (info.title.empty()) info.title = fileTitle;

  DateTime lastWrite{};
  std::uint32_t size = 0;
  const StatusCode opened =
      FileSys_GetFileInfo(g_FileSysModule, path.c_str(), &lastWrite, nullptr, 0, &size);
  // A file whose time cannot be shown still opened and has its size.
  if (!IsFailure(opened) || opened == kFileSysNoFileTime) {
    info.size = size;
    if (!info.date && !IsFailure(opened)) {
      info.date = lastWrite;
      info.dateIsUtc = true;
    }
  }

  std::uint16_t charset = 0;
  if (reader != nullptr &&
      !IsFailure(DocOpsOf(reader).control(reader, DocControl::DocumentCharset, 0, &charset))) {
    char name[64] = {};
    std::uint32_t length = sizeof name - 1;
    if (!IsFailure(Charset_MibToName(g_CharsetNameModule, charset, name, &length)))
      info.encoding = Ascii(std::string(name, length));
  }
  return info;
}

std::u16string DocInfo_SizeText(std::uint32_t bytes) {
  return Ascii(std::to_string((std::uint64_t{bytes} + 1023) / 1024) + "KB");
}

bool SysInfo_Memory(SysInfoMemory* memory) {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return false;
  const std::uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
  memory->totalBytes = std::uint64_t{info.totalram} * unit;
  memory->freeBytes = std::uint64_t{info.freeram} * unit;
  // What programs can still have counts the caches the kernel gives back;
  // the bare free figure leaves them out.
  if (FILE* meminfo = std::fopen("/proc/meminfo", "r")) {
    char line[128];
    unsigned long long kb = 0;
    while (std::fgets(line, sizeof line, meminfo) != nullptr) {
      if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
        memory->freeBytes = std::min<std::uint64_t>(kb * 1024, memory->totalBytes);
        break;
      }
    }
    std::fclose(meminfo);
  }
  return true;
}

std::u16string SysInfo_MemoryText(std::uint64_t bytes) {
  return Ascii(std::to_string(bytes >> 10) + "K");
}

std::vector<std::u16string> SysInfo_CharsetTexts() {
  const std::uint32_t* list = nullptr;
  std::uint32_t count = 0;
  if (IsFailure(TextConv_ListCharsets(g_TextConvModule, &list, &count)) || list == nullptr)
    return {};
  std::vector<std::uint32_t> numbers(list, list + count);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  std::vector<std::u16string> texts;
  for (const std::uint32_t n : numbers)
    texts.push_back(Ascii(std::to_string(n)));
  return texts;
}
