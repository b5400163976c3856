// Links that open other document files in a view, and Save As text.
//
// A followed link whose target names a file (the text view answers that the
// host acts) is resolved by the search order of app/core/doc_links.h; the
// file found opens in place of the view's document and the view moves to
// the link's anchor. A link to the document already shown is a jump inside
// it: its settings are never opened a second time.
//
// Save As writes the document's text (CR LF line ends, the document's
// charset) through a new copy renamed over the chosen file, so a failed
// write leaves the file as it was; the open document's own file is refused.
#pragma once

#include <string>
#include <string_view>

class KelpoView;
struct TextViewLinkDescription;

// Follows the file link the view's text view reported: false when there is
// none, when it is not found (after the not-found message) or cannot open.
bool KelpoView_OpenExternalDocument(KelpoView* view);
// Resolves target (one or more candidates), opens the file found in the
// view and, with link, moves to the link's anchor. Not found: the message.
bool KelpoView_OpenLinkTarget(KelpoView* view, std::u16string_view target,
                              TextViewLinkDescription* link);
// Opens path in place of the view's document; false leaves the document.
// With remember the document left goes on the view's history first, so Back
// returns to it (the Back and Forward commands themselves exchange history
// entries and do not remember).
bool KelpoView_OpenLinkedDocument(KelpoView* view, const std::u16string& path,
                                  bool remember = false);
// A history record naming a document for the text view's snapshot stack:
// the view's holder slot, the path's byte length with its terminator (u16),
// a reserved u16, then the UTF-16 path. An engine allocation; null when the
// path is too long or memory runs out.
void* DocLinks_NewPathRecord(const std::u16string& path);
// The path a history record names.
std::u16string DocLinks_RecordPath(const void* record);

// Writes the document's text to path in one step; false (and nothing
// changed on disk) when the text cannot be read or the file cannot be
// written, or when path is the open document's own file.
bool KelpoView_SaveTextTo(KelpoView* view, const std::u16string& path);
// Save As: the save dialog with the suggested name, then SaveTextTo; a
// failure is reported.
void KelpoView_OnFileSaveAs(KelpoView* view);
