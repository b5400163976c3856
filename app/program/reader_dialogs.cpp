#include "app/program/reader_dialogs.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include "app/dialogs/annotation_dialogs.h"
#include "app/dialogs/bookmark_dialogs.h"
#include "app/dialogs/category_dialogs.h"
#include "app/dialogs/doc_info_dialog.h"
#include "app/dialogs/find_dialog.h"
#include "app/dialogs/goto_dialog.h"
#include "app/dialogs/options_sheet.h"
#include "app/window/kelpo_view.h"

void RunDocInfoDialog(KelpoView* view) {
  if (view != nullptr) RunDocInfoDialog(view, view->document());
}

void RunCategoriesDialog(KelpoView* view) {
  if (view != nullptr) RunCategoriesDialog(view, view->document());
}

void RunCategoriesDialog(MainFrame* frame) {
  QMdiSubWindow* active = frame != nullptr ? frame->area()->currentSubWindow() : nullptr;
  if (active != nullptr) RunCategoriesDialog(dynamic_cast<KelpoView*>(active->widget()));
}

void RunOpenByCategoryDialog(MainFrame* frame) {
  if (frame == nullptr) return;
  const std::u16string path = RunOpenByCategoryDialog(frame, frame->store());
  if (!path.empty())
    (void)frame->OpenDocumentFile(QString::fromStdU16String(path));  // it tells the user
}

void RunAddBookmarkDialog(KelpoView* view) {
  if (view != nullptr) RunAddBookmarkDialog(view, view->document(), view->textView());
}

void RunEditBookmarksDialog(KelpoView* view) {
  if (view != nullptr) RunEditBookmarksDialog(view, view->document(), view->textView());
}

void RunAnnotationsDialog(KelpoView* view) {
  if (view != nullptr)
    RunAnnotationsDialog(view, view->document(), view->textView(), [view] { view->Render(); });
}

void RunAnnotationSettingsDialog(KelpoView* view) {
  if (view != nullptr)
    RunAnnotationSettingsDialog(view, view->document(), view->textView(),
                                [view] { view->Render(); });
}

bool RunFindDialog(KelpoView* view) {
  MainFrame* frame = view != nullptr ? view->mainFrame() : nullptr;
  return frame != nullptr && RunFindDialog(view, frame->preferences());
}

GoToAnswer RunGoToDialog(KelpoView* view, const GoToRequest& request) {
  GoToDialog dialog(request.page, request.pageCount, request.percent, request.showsPercent, view);
  const int result = dialog.exec();
  return {result, result == GoToResult::Percent ? dialog.percent() : dialog.page()};
}

bool RunOptionsSheet(MainFrame* frame, KelpoView* view) {
  if (frame == nullptr) return false;
  if (view == nullptr || view->document() == nullptr)
    return RunOptionsSheet(frame, frame->preferences(), frame->store());
  return RunOptionsSheet(
      frame, frame->preferences(), frame->store(), &view->document()->state(),
      [view](bool faces, bool relayout) { view->ApplyOptions(faces, relayout); });
}

void RunHelp(MainFrame*, std::uint32_t) {}

const CommandDialogs& ReaderDialogs() {
  static const CommandDialogs table = [] {
    CommandDialogs t;
    t.docInfo = [](KelpoView* v) { RunDocInfoDialog(v); };
    t.categories = [](KelpoView* v) { RunCategoriesDialog(v); };
    t.addBookmark = [](KelpoView* v) { RunAddBookmarkDialog(v); };
    t.editBookmarks = [](KelpoView* v) { RunEditBookmarksDialog(v); };
    t.find = [](KelpoView* v) { return RunFindDialog(v); };
    t.goTo = &RunGoToDialog;
    t.viewOptions = [](KelpoView* v) {
      if (v != nullptr) (void)RunOptionsSheet(v->mainFrame(), v);  // Cancel: nothing
    };
    t.annotation = &RunAnnotationDialog;
    t.annotations = [](KelpoView* v) { RunAnnotationsDialog(v); };
    t.annotationSettings = [](KelpoView* v) { RunAnnotationSettingsDialog(v); };
    t.openByCategory = [](MainFrame* f) { RunOpenByCategoryDialog(f); };
    t.systemInfo = &RunSysInfoDialog;
    t.frameOptions = [](MainFrame* f) { (void)RunOptionsSheet(f, nullptr); };  // Cancel: nothing
    t.help = &RunHelp;
    return t;
  }();
  return table;
}
