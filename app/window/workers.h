// The reading view's long work on worker threads (see app/core/worker.h for
// the protocol): find, and the print job's pagination and the drawing of
// its pages. A worker's progress dialog belongs to the view that started
// it.
#pragma once

#include <functional>

#include "app/core/worker.h"
#include "app/window/progress_dialog.h"

class KelpoView;
class QWidget;

// Runs body on a worker; when it is slow, the dialog of the given kind
// (parent: owner) shows its progress and offers Cancel. False when no
// worker could be started.
bool Workers_Run(QWidget* owner, WorkerKind kind, ProgressDialog::Kind dialog, WorkerShared& shared,
                 const std::function<void(WorkerShared&)>& body);

// Find (again: Find Again) with the search text and options of the
// preferences: the view's find starts and finishes on this thread, its
// steps run on a worker. A search that ends without a hit tells the user
// so and disables Find Again; a hit, a cancelled or a failed search leaves
// Find Again enabled. Nothing happens without a document.
void KelpoView_DoFind(KelpoView* view, bool again);
