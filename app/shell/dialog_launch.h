// The dialogs whose commands need more than the dialog's own flow: the
// preferences found for Find, the Go To answer handed back to the command's
// move, the options sheet with or without a view, and Help. The other
// dialogs' commands call their dialog's Run function directly.
#pragma once

#include <cstdint>

#include "app/core/goto_input.h"

class KelpoView;
class MainFrame;

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

// Options with a document (the view's display settings and the preferences;
// the view applies them again afterwards) and without one.
void DialogLaunch_ViewOptions(KelpoView* view);
void DialogLaunch_FrameOptions(MainFrame* frame);
// Help: the topic of a command or window id (0: the contents). No help file
// ships with the reader: nothing opens.
void DialogLaunch_Help(MainFrame* frame, std::uint32_t context);
