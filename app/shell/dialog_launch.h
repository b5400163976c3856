// Where the reading view's and the main window's commands open their dialogs.
//
// One function per dialog. Each is handed the view (or the main window) and
// what the dialog needs, runs the dialog modally and gives back what the
// command goes on with; the command's own steps before and after stay with
// the command (app/shell/kelpo_view_commands.cpp, app/shell/main_frame.cpp).
#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/goto_input.h"
#include "app/dialogs/annotation_dialogs.h"

class KelpoView;
class MainFrame;
class QWidget;
struct AnnotStore;

// Find: edits the preferences' search text and options. True when the user
// asked to search (the view then searches from the preferences).
bool DialogLaunch_Find(KelpoView* view);

// Go To: the dialog's answer (one of GoToResult in app/core/goto_input.h) and
// the page or percentage typed.
struct GoToRequest {
  std::uint16_t page = 0, pageCount = 0;  // 0 and 0 when unknown
  std::uint16_t percent = 0;
  bool showsPercent = false;
};
struct GoToAnswer {
  int result = GoToResult::Cancel;
  std::uint32_t value = 0;
};
GoToAnswer DialogLaunch_GoTo(KelpoView* view, const GoToRequest& request);

// Add Bookmark: the whole flow of the add dialog on the view's text view
// (suggested name from the page excerpt, then replace or insert on the
// chosen list).
void DialogLaunch_AddBookmark(KelpoView* view);
// Edit Bookmarks on the view's document and text view.
void DialogLaunch_EditBookmarks(KelpoView* view);

// One annotation's texts and colour (1..16). True on OK with the fields
// edited in place. The annotation list, the annotation file and the
// categories are whole flows of their dialogs (RunAnnotationsDialog,
// RunAnnotationSettingsDialog, RunCategoriesDialog, RunOpenByCategoryDialog).
using AnnotationFields = AnnotationDialogFields;
bool DialogLaunch_Annotation(KelpoView* view, AnnotationFields* fields);

// Document Information for the view's document.
void DialogLaunch_DocumentInformation(KelpoView* view);
// System Information.
void DialogLaunch_SystemInformation(MainFrame* frame);

// Options with a document (the view's display settings and the preferences;
// the view applies them again afterwards) and without one.
void DialogLaunch_ViewOptions(KelpoView* view);
void DialogLaunch_FrameOptions(MainFrame* frame);
// Help: the topic of a command or window id (0: the contents). No help file
// ships with the reader: nothing opens.
void DialogLaunch_Help(MainFrame* frame, std::uint32_t context);
