// Rules of the annotation dialogs that need no window: the highlight-colour
// palette, the line breaks of an annotation's text in the edit dialog, the
// list's short excerpts, texts between UTF-16 and the document's charset,
// the name suggested for a new annotations file and what a chosen file's
// open result means.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/runtime/core.h"

// The palette: one line per colour, "RRGGBB Name", lines separated by LF.
// An annotation's colour is the 1-based line number.
extern const char* const kAnnotationPaletteText;
constexpr int kAnnotationColourCount = 16;
constexpr int kAnnotationDefaultColour = 1;  // Yellow
// The most characters the edit dialog takes for the text and the comment.
constexpr std::uint32_t kAnnotationMaxEditChars = 15000;
// The list shows at most this many characters of each text, read from at
// most this many bytes.
constexpr std::uint32_t kAnnotationListChars = 99;
constexpr std::uint32_t kAnnotationListBytes = 98;

// What the Annotation dialog edits.
struct AnnotationDialogFields {
  std::u16string text;     // the excerpt, line feeds as stored
  std::u16string comment;  // the reader's note
  int colour = 1;          // 1..16 (others show as 1)
  // A new annotation's excerpt: each run of line breaks shows as one, none
  // at either end. A stored annotation is shown as it is.
  bool joinLineBreaks = true;
};

struct AnnotationColour {
  std::uint8_t red = 0, green = 0, blue = 0;
  std::string name;
  bool operator==(const AnnotationColour&) const = default;
};

// The palette's lines in order (at most 16): six hex digits, a blank, the
// name. A line whose first six characters are not hex digits gives black.
std::vector<AnnotationColour> Annotation_ParsePalette(std::string_view text);
// A stored colour as shown: 1..16 as it is, anything else 1.
int Annotation_ShownColour(int colour) noexcept;

// The text as the edit dialog shows it, every line break a CR-LF pair. With
// join set (a new annotation's excerpt) each run of line feeds is one break
// and runs at the start and the end are dropped; without it (a stored
// annotation) every line feed is its own break. Text without a line feed is
// returned as it is.
std::u16string Annotation_TextForEdit(std::u16string_view text, bool join);
// The edited text as stored: every CR-LF pair a single line feed.
std::u16string Annotation_TextFromEdit(std::u16string_view text);

// Stored bytes in the document's charset as UTF-16, at most maxUnits units
// (never half a surrogate pair); an incomplete character at the end of the
// bytes (a cut excerpt) is left out.
std::u16string Annotation_DecodeText(std::string_view bytes, std::uint32_t documentMib,
                                     std::uint32_t maxUnits);
// UTF-16 text as bytes in the document's charset; a character the charset
// cannot hold is written as '?'.
std::string Annotation_EncodeText(std::u16string_view text, std::uint32_t documentMib);

// The file name first offered for a new annotations file: the current path,
// or when that is empty the document's path without its extension (a last
// '.' within the last five characters, and after the last folder separator).
std::u16string Annotation_SuggestedFileName(std::u16string_view currentPath,
                                            std::u16string_view documentPath);
// Two paths name the same annotations file (compared without case, as the
// dialog compares a new choice with the current one).
bool Annotation_SamePath(std::u16string_view a, std::u16string_view b);

// What a chosen file's trial open means.
enum class AnnotationFileCheck {
  kAnnotationsFile,  // opened: an annotations file
  kNewFile,          // it cannot be opened (not there yet): taken as a new file
  kOtherFile,        // something else: ask before it is overwritten
};
AnnotationFileCheck Annotation_CheckOpenResult(StatusCode status) noexcept;
// The chosen file is the document itself, by whatever name; such a file is
// never made into an annotations file.
bool Annotation_IsDocumentFile(std::u16string_view chosen, std::u16string_view documentPath);
// Makes the file at path (another kind of file the user agreed to overwrite)
// an empty annotations file, in one step: when that fails the file stays as
// it was. The store's failure.
StatusCode Annotation_ReplaceFile(std::u16string_view path) noexcept;
