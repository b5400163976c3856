// The texts of the document information and system information dialogs,
// without a window.
//
// The document information sheet has up to three pages of texts the
// document carries (title, author, publisher: each page joins the document
// strings of its row) and a General page describing the file. The system
// information dialog shows the machine's memory and the charsets the reader
// converts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/runtime/core.h"
#include "engine/runtime/date.h"

// Bytes asked of the reader for one document string.
constexpr std::uint16_t kDocStringCapacity = 511;

// One row of the message pages: its caption string and document strings.
struct DocInfoRow {
  std::uint32_t captionId;
  std::vector<std::uint32_t> strings;
};
const std::array<DocInfoRow, 3>& DocInfo_Rows();

// A message page to show: its caption string and text.
struct DocInfoPage {
  std::uint32_t captionId;
  std::u16string text;
};

// Joins the non-empty parts with one empty line between them; line ends
// (CR LF, CR, LF) become LF, the line end of the front end's text boxes.
std::u16string DocInfo_Join(const std::vector<std::u16string>& parts);
// The bytes of a document string as text in the document's charset;
// charsets the reader does not convert widen each byte to a character.
std::u16string DocInfo_Decode(const std::string& bytes, std::uint32_t mib);
// The message pages of a document: for each row, its strings asked of the
// reader (failures and empty strings skipped), decoded and joined; rows
// with no text give no page.
std::vector<DocInfoPage> DocInfo_MessagePages(EngineObject* reader, std::uint32_t mib);

// What the General page shows, before the date is formatted.
struct DocInfoGeneral {
  std::u16string title;
  std::u16string path;
  std::optional<DateTime> date;       // none: "Unknown"
  bool dateIsUtc = false;             // the file's own time (shown in local time)
  std::u16string type;                // empty: "Unknown"
  std::optional<std::uint32_t> size;  // bytes; none when the file cannot be opened
  std::u16string encoding;            // empty: "Unknown"
};

// The date of a native document's record 0 (bytes 12-19: u16 big-endian
// year, month, day, hour, minute, second, hundredths); none for a record too
// short or a date out of the calendar.
std::optional<DateTime> DocInfo_NativeDate(const std::uint8_t* record, std::uint32_t size);
// The date of a 'RaZo' document's record 0 (big-endian u32 at 32: seconds
// since 1904); none for a record too short.
std::optional<DateTime> DocInfo_RaZoDate(const std::uint8_t* record, std::uint32_t size);

// The General page of an open document. container is its record database
// (null for plain text), probeResult what the format probe answered,
// fileTitle the document's title (its file name).
DocInfoGeneral DocInfo_General(EngineObject* reader, EngineObject* container,
                               StatusCode probeResult, const std::u16string& path,
                               const std::u16string& fileTitle);

// "%luKB" of the size rounded up to whole kilobytes.
std::u16string DocInfo_SizeText(std::uint32_t bytes);

// System information.
struct SysInfoMemory {
  std::uint64_t freeBytes = 0;
  std::uint64_t totalBytes = 0;
};
// The available (free and reclaimable) and total physical memory; false
// when unknown.
bool SysInfo_Memory(SysInfoMemory* memory);
// "%luK" of bytes shifted right by 10.
std::u16string SysInfo_MemoryText(std::uint64_t bytes);
// The numbers of the charsets the reader converts, ascending, as "%u" texts.
std::vector<std::u16string> SysInfo_CharsetTexts();
