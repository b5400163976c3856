// Until a dialog is built, its launcher answers as if the user had cancelled
// it at once.
#include "app/shell/dialog_launch.h"

#include "app/dialogs/options_sheet.h"
#include "app/shell/kelpo_view.h"

bool DialogLaunch_Find(KelpoView*) {
  return false;
}

GoToAnswer DialogLaunch_GoTo(KelpoView*, const GoToRequest&) {
  return {};
}

void DialogLaunch_AddBookmark(KelpoView*) {}

void DialogLaunch_EditBookmarks(KelpoView*) {}

bool DialogLaunch_Annotation(KelpoView*, AnnotationFields*) {
  return false;
}

AnnotationsAnswer DialogLaunch_Annotations(KelpoView*, AnnotStore*) {
  return {};
}

bool DialogLaunch_AnnotationSettings(KelpoView*, const std::u16string&, std::u16string*) {
  return false;
}

bool DialogLaunch_Categories(KelpoView*, const std::vector<std::uint16_t>*,
                             std::vector<std::uint16_t>*) {
  return false;
}

bool DialogLaunch_OpenCategorized(MainFrame*, QString*) {
  return false;
}

void DialogLaunch_DocumentInformation(KelpoView*) {}

void DialogLaunch_SystemInformation(MainFrame*) {}

void DialogLaunch_ViewOptions(KelpoView* view) {
  if (MainFrame* frame = view->mainFrame()) (void)RunOptionsSheet(frame, view);  // Cancel: nothing
}

void DialogLaunch_FrameOptions(MainFrame* frame) {
  (void)RunOptionsSheet(frame, nullptr);  // Cancel: nothing to do
}

bool DialogLaunch_EditColourTheme(QWidget*, std::uint16_t) {
  return false;
}

void DialogLaunch_Help(MainFrame*, std::uint32_t) {}
