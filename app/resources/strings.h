// The reader's string table: the texts of its messages, keyed by their
// resource numbers, in UTF-8.
#pragma once

#include <cstdint>

namespace StringId {
constexpr std::uint32_t NoMatches = 38008;               // %s: the search text
constexpr std::uint32_t NoMoreMatches = 38009;           // %s: the search text
constexpr std::uint32_t LocalSettingsOverLimit = 38015;  // two %lu: used KB, limit KB
constexpr std::uint32_t AskSaveLocalSettings = 38016;
constexpr std::uint32_t NeedsNewerVersion = 38023;
constexpr std::uint32_t CannotOpenCorrupt = 38024;
constexpr std::uint32_t DefaultCategories = 38042;         // names separated by LF
constexpr std::uint32_t ExternalDocumentNotFound = 38043;  // %s: the link's target
constexpr std::uint32_t UnsupportedFormat = 38060;
constexpr std::uint32_t SaveAsTitle = 61441;
constexpr std::uint32_t AllFilesFilter = 61442;
}  // namespace StringId

// The text of a string, or an empty string for an unknown number.
const char* Resource_String(std::uint32_t id) noexcept;
