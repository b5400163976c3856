// Rules of the bookmark dialogs that need no window: the kinds shown to the
// user and the engine lists behind them, where a document keeps the kind
// last used, the list's name-length answer, the moves of the edit list, and
// bookmark names between the dialogs' UTF-16 and the document's 8-bit text.
//
// Kinds, in the order the dialogs show them, and the engine's list numbers:
//   kind 0 "Document" -> list 0 (in the document file)
//   kind 1 "Local"    -> list 2 (in the per-document settings database)
//   kind 2 "Global"   -> list 1 (in the document file)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/runtime/core.h"

namespace BookmarkKind {
constexpr int kDocument = 0;
constexpr int kLocal = 1;
constexpr int kGlobal = 2;
constexpr int kCount = 3;
}  // namespace BookmarkKind

// Names handed to the engine: at most this many bytes in the document's
// charset, before the NUL; names shown: at most this many UTF-16 units.
constexpr std::uint32_t kBookmarkNameBytes = 31;
constexpr std::uint32_t kBookmarkNameUnits = 31;
// The list's longest name when the engine cannot say.
constexpr std::uint16_t kBookmarkFallbackNameLength = 15;

// The engine list number of a kind, -1 for a value outside 0..2.
int Bookmark_ListOfKind(int kind) noexcept;
// The kind a document remembers in the low two bits of its flags word; the
// unused value 3 reads as Document.
int Bookmark_KindOfFlags(std::uint16_t flags) noexcept;
// The flags word with its two low bits replaced by kind (0..2).
std::uint16_t Bookmark_FlagsWithKind(std::uint16_t flags, int kind) noexcept;
// The most bytes a name of the list may take, from the list's answer to the
// longest-name query: a failed query gives 15, an answer of 32 or more (or 0,
// no limit named) gives 31. Names are cut to it at a character boundary
// before the list sees them.
std::uint16_t Bookmark_UsableNameLength(StatusCode status, std::uint16_t answer) noexcept;
// The row a selected row moves to, or -1 when it cannot move (Up on the
// first row, Down on the last, no row selected).
int Bookmark_MoveTarget(int row, int count, bool up) noexcept;
// The list's move for a one-place step of row: always the lower of the two
// entries moved up by one (from, to = from - 1). Lists differ in what a move
// to a later index means (to that index, or in front of that entry); a move
// to the place just before the other entry means the same in both.
struct BookmarkMove {
  int from = -1, to = -1;
};
BookmarkMove Bookmark_MoveOperation(int row, int count, bool up) noexcept;

// The charset bookmark names are stored in: the document's own, UTF-8 for a
// UTF-16 document (names are NUL-terminated bytes), windows-1252 when the
// document's charset is unknown.
std::uint32_t Bookmark_NameCharset(std::uint32_t documentMib) noexcept;
// A name in the document's charset, cut at a character boundary so that it
// takes at most maxBytes bytes; a character the charset cannot hold is
// written as '?', so no name ever ends early at an embedded NUL.
std::string Bookmark_EncodeName(std::u16string_view name, std::uint32_t documentMib,
                                std::uint32_t maxBytes = kBookmarkNameBytes);
// A stored name (NUL-terminated or the whole view) as UTF-16, at most
// maxUnits units and never half of a surrogate pair.
std::u16string Bookmark_DecodeName(std::string_view bytes, std::uint32_t documentMib,
                                   std::uint32_t maxUnits = kBookmarkNameUnits);
