// The reader's string table: the texts of its messages, keyed by their
// resource numbers, in UTF-8.
#pragma once

#include <cstdint>

namespace StringId {
constexpr std::uint32_t CopyOutOfMemory = 38001;
constexpr std::uint32_t NoMatches = 38008;      // %s: the search text
constexpr std::uint32_t NoMoreMatches = 38009;  // %s: the search text
constexpr std::uint32_t LinkHasNoTarget = 38010;
constexpr std::uint32_t LocalSettingsOverLimit = 38015;  // two %lu: used KB, limit KB
constexpr std::uint32_t AskSaveLocalSettings = 38016;
constexpr std::uint32_t Unknown = 38017;
constexpr std::uint32_t Unspecified = 38019;
constexpr std::uint32_t NeedsNewerVersion = 38023;
constexpr std::uint32_t CannotOpenCorrupt = 38024;
constexpr std::uint32_t DocInfoCaption = 38028;
constexpr std::uint32_t DocInfoTitle = 38029;
constexpr std::uint32_t DocInfoAuthor = 38030;
constexpr std::uint32_t DocInfoPublisher = 38031;
constexpr std::uint32_t EncodingByDocument = 38033;
constexpr std::uint32_t CategoryExists = 38035;  // %s: the name
constexpr std::uint32_t CategorySlash = 38036;
constexpr std::uint32_t CategoryAskDelete = 38037;  // %s: the name
constexpr std::uint32_t CategoryNoSelection = 38038;
constexpr std::uint32_t ColumnName = 38039;
constexpr std::uint32_t ColumnDateModified = 38040;
constexpr std::uint32_t ColumnSize = 38041;
constexpr std::uint32_t DefaultCategories = 38042;         // names separated by LF
constexpr std::uint32_t ExternalDocumentNotFound = 38043;  // %s: the link's target
constexpr std::uint32_t NewThemeName = 38044;              // %lu: the first free number
constexpr std::uint32_t ThemeSample = 38045;
constexpr std::uint32_t NoTheme = 38046;
constexpr std::uint32_t ThemeNameTaken = 38047;  // %s: the name
constexpr std::uint32_t AskDeleteTheme = 38048;  // %s: the name
constexpr std::uint32_t ThemeNotEditable = 38049;
constexpr std::uint32_t AskDeleteAnnotation = 38054;
constexpr std::uint32_t SelectAnnotationsFileTitle = 38056;
constexpr std::uint32_t NoAnnotationsFileYet = 38057;
constexpr std::uint32_t AnnotationsFilter = 38058;
constexpr std::uint32_t NotAnAnnotationsFile = 38059;
constexpr std::uint32_t UnsupportedFormat = 38060;
constexpr std::uint32_t CannotReopenForWriting = 38061;
constexpr std::uint32_t FileNotOpened = 38062;    // one file could not be opened
constexpr std::uint32_t FilesNotOpened = 38063;   // several files could not be opened
constexpr std::uint32_t FileMissing = 38064;      // %s: the file
constexpr std::uint32_t FileIsFolder = 38065;     // %s: the file
constexpr std::uint32_t FileNotReadable = 38066;  // two %s: the file, the system's reason
constexpr std::uint32_t AnnotationsFileIsDocument = 38070;
constexpr std::uint32_t AnnotationsFileNotReplaced = 38071;
constexpr std::uint32_t AnnotationNotStored = 38072;
// Why a file named to be opened was not, each with one %s for the file.
constexpr std::uint32_t FileNotRegular = 38080;
constexpr std::uint32_t FileUnsupported = 38081;
constexpr std::uint32_t FileDamaged = 38082;
constexpr std::uint32_t FileNeedsNewer = 38083;
constexpr std::uint32_t FilePathTooLong = 38084;  // and a %s for the longest path taken
constexpr std::uint32_t FileNotOpenedOther = 38085;
// The text where the reader is cannot be read.
constexpr std::uint32_t TextUnreadableHere = 38086;
constexpr std::uint32_t SaveAsTitle = 61441;
constexpr std::uint32_t AllFilesFilter = 61442;
}  // namespace StringId

// The text of a string, or an empty string for an unknown number.
const char* Resource_String(std::uint32_t id) noexcept;
