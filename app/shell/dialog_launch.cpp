// The reading view's and the main window's dialogs, opened for their
// commands.
#include "app/shell/dialog_launch.h"

#include "app/dialogs/find_dialog.h"
#include "app/dialogs/goto_dialog.h"
#include "app/dialogs/options_sheet.h"
#include "app/shell/kelpo_view.h"
#include "app/shell/main_frame.h"

bool DialogLaunch_Find(KelpoView* view) {
  MainFrame* frame = view->mainFrame();
  // The search text and options live in the program's preferences.
  return frame != nullptr && RunFindDialog(view, frame->preferences());
}

GoToAnswer DialogLaunch_GoTo(KelpoView* view, const GoToRequest& request) {
  GoToDialog dialog(request.page, request.pageCount, request.percent, request.showsPercent, view);
  const int result = dialog.exec();
  return {result, result == GoToResult::Percent ? dialog.percent() : dialog.page()};
}

void DialogLaunch_ViewOptions(KelpoView* view) {
  if (MainFrame* frame = view->mainFrame()) (void)RunOptionsSheet(frame, view);  // Cancel: nothing
}

void DialogLaunch_FrameOptions(MainFrame* frame) {
  (void)RunOptionsSheet(frame, nullptr);  // Cancel: nothing to do
}

void DialogLaunch_Help(MainFrame*, std::uint32_t) {}
