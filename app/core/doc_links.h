// Links that name other document files, and the Save As name, without Qt.
//
// A link target holds one or more candidates: spaces are skipped, a quoted
// candidate runs to its closing quote (or the end), an unquoted one to the
// end of the text. A candidate is looked up in three folders, in order: the
// current document's folder (moved up by its leading "..\" elements, the
// candidate's other folders below it), then by name alone in the user's
// documents folder and its "Kelpo" sub-folder. Each folder is tried
// with the name as written, then without its ".pdb" (when it has one and
// more) or with ".pdb" added.
//
// Links are written for a file system that ignores case, so each element of
// the path is matched without case when no element of that exact spelling
// exists. A candidate never leaves the folder it is looked up in: after its
// leading "..\" and ".\" elements, any "." or ".." element, an empty name or
// a drive prefix refuses the candidate, and a hit whose real path (symbolic
// links followed) lies outside the search folder is not taken.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The candidates of a link target, in the order they are tried.
std::vector<std::u16string> DocLinks_Candidates(std::u16string_view target);

// Where to look: the current document's path, the documents folder (may be
// empty: then only the document's folder and none of the others).
struct DocLinkFolders {
  std::u16string documentPath;
  std::u16string documentsFolder;
};

// One candidate: the path of a regular file, or empty.
std::u16string DocLinks_FindDocument(std::u16string_view candidate, const DocLinkFolders& where);
// Every candidate of a target in turn: the first hit, or empty.
std::u16string DocLinks_ResolveTarget(std::u16string_view target, const DocLinkFolders& where);
// One folder and name (each element matched without case when needed), then
// the ".pdb" variant; a regular file inside folder, or empty.
std::u16string DocLinks_MakeDocumentPath(std::u16string_view folder, std::u16string_view name);

// The name Save As suggests: the title cut before the first of # % ; / or a
// backslash and before its last '.', then ".txt".
std::u16string DocLinks_SaveAsName(std::u16string_view title);
