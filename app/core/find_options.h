// The rules of a find request, without Qt: how the search options kept in
// the preferences become the find engine's flags, how the search text
// becomes the document's bytes, and what the user is told when nothing is
// found.
//
// The preferences keep one byte of options: bit 0 match case, bit 1 entire
// document, bits 2-3 the range (0 down, 1 up, 2 top to bottom; 3 is read as
// down).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/runtime/core.h"

enum class FindRange : std::uint8_t { Down = 0, Up = 1, TopToBottom = 2 };

struct FindRequest {
  bool matchCase = false;
  bool entireDocument = false;
  FindRange range = FindRange::Down;
};

constexpr std::size_t kFindTextMaxChars = 31;       // the dialog's and the preferences' limit
constexpr std::uint32_t kFindPatternMaxBytes = 62;  // the pattern in the document's encoding

FindRequest FindOptions_Unpack(std::uint8_t searchOptions) noexcept;
std::uint8_t FindOptions_Pack(const FindRequest& request) noexcept;

// The find flags of the text view (TextSearchFlag caller bits): match case
// and entire document as they are, up searches backwards, top to bottom
// searches the whole range from its start, and Find Again continues from
// the last hit.
std::uint32_t FindOptions_Flags(std::uint8_t searchOptions, bool again) noexcept;

// The search text in the document's charset (a MIBenum; 0 is taken as
// windows-1252), cut to whole characters within 62 bytes. Empty when the
// text is empty or cannot be converted.
std::string FindOptions_PatternBytes(std::u16string_view text, std::uint32_t charset) noexcept;

// What a search leaves behind: result is the worker's (the last step's
// answer, or 0 when it was cancelled) and finish the text view's
// FindFinish answer.
struct FindOutcome {
  bool againEnabled = false;    // Find Again may continue this search
  std::uint32_t messageId = 0;  // 0, or the "no (more) matches" message to show
};
FindOutcome FindOptions_Outcome(StatusCode result, StatusCode finish, bool again) noexcept;
