#include "app/window/workers.h"

#include <QMessageBox>

#include "app/core/doc_open.h"
#include "app/core/find_options.h"
#include "app/core/strings.h"
#include "app/window/kelpo_view.h"
#include "engine/view/text_view.h"

bool Workers_Run(QWidget* owner, WorkerKind kind, ProgressDialog::Kind dialog, WorkerShared& shared,
                 const std::function<void(WorkerShared&)>& body) {
  return Worker_Run(kind, shared, body, [owner, dialog](WorkerShared& s) {
    (void)RunProgressDialog(dialog, s, owner);  // done or cancelled: the runner stops the worker
  });
}

void KelpoView_DoFind(KelpoView* view, bool again) {
  if (view == nullptr || Worker_Busy() != WorkerKind::None) return;
  KelpoDoc* doc = view->document();
  EngineObject* tv = view->textView();
  const Preferences* prefs = doc != nullptr ? doc->context().prefs : nullptr;
  if (doc == nullptr || doc->state().reader == nullptr || tv == nullptr || !view->attached() ||
      prefs == nullptr)
    return;
  const TextViewOps& ops = OpsOf<TextViewOps>(tv);
  const std::u16string text = prefs->searchText();
  const std::string pattern = FindOptions_PatternBytes(text, doc->state().encoding);
  // The search starts from what is on the screen.
  if (!view->layoutValid()) view->Render();
  FindJob job;
  job.textView = tv;
  if (ops.findStart(tv, reinterpret_cast<const std::uint8_t*>(pattern.data()),
                    static_cast<std::uint32_t>(pattern.size()),
                    FindOptions_Flags(prefs->searchOptions(), again), &job.search) != kOk)
    return;  // an empty pattern or a document that cannot be searched
  WorkerShared shared;
  const bool ran = Workers_Run(view, WorkerKind::Find, ProgressDialog::Kind::Find, shared,
                               [&job](WorkerShared& s) { Worker_FindProc(job, s); });
  // The search is finished in every case; without a worker it ran no step.
  const StatusCode finish = ops.findFinish(tv, job.search);
  view->viewport()->update();
  if (!ran) return;
  const FindOutcome outcome = FindOptions_Outcome(job.result, finish, again);
  view->SetFindAgainEnabled(outcome.againEnabled);
  if (outcome.messageId != 0) {
    const QString message = QString::fromUtf8(Resource_String(outcome.messageId))
                                .replace(QStringLiteral("%s"), QString::fromStdU16String(text));
    QMessageBox::information(view, QStringLiteral("Kelpo"), message);
  }
}
