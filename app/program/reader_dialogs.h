// What wires the window's commands to the dialogs: each command's runner
// takes the view or the main window apart into what its dialog edits (the
// document, its text view, the preferences, the settings store) and a
// narrow callback where the dialog's answer must reach the view, and
// ReaderWindow is the main window with these runners in its dialog table.
#pragma once

#include <cstdint>

#include "app/window/command_dialogs.h"
#include "app/window/main_frame.h"

class KelpoView;

void RunDocInfoDialog(KelpoView* view);
void RunCategoriesDialog(KelpoView* view);
// The document of the current window (nothing without one).
void RunCategoriesDialog(MainFrame* frame);
// Opens the document chosen.
void RunOpenByCategoryDialog(MainFrame* frame);
void RunAddBookmarkDialog(KelpoView* view);
void RunEditBookmarksDialog(KelpoView* view);
void RunAnnotationsDialog(KelpoView* view);
void RunAnnotationSettingsDialog(KelpoView* view);
// The search text and options live in the program's preferences.
bool RunFindDialog(KelpoView* view);
GoToAnswer RunGoToDialog(KelpoView* view, const GoToRequest& request);
// The view's runner when a view is given, else the main frame's. True when
// the user confirmed the sheet.
bool RunOptionsSheet(MainFrame* frame, KelpoView* activeOrNull);
// Help: the topic of a command or window id (0: the contents). No help file
// ships with the reader: nothing opens.
void RunHelp(MainFrame* frame, std::uint32_t context);

// The program's dialog table.
const CommandDialogs& ReaderDialogs();

// The main window of the program: every command opens its dialog.
class ReaderWindow : public MainFrame {
 public:
  ReaderWindow(QtSettingsStore* settings, Preferences* prefs, WindowState* windowState)
      : MainFrame(settings, prefs, windowState, &ReaderDialogs()) {}
};
