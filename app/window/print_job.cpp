#include "app/window/print_job.h"

#include <QApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTemporaryFile>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "app/core/doc_open.h"
#include "app/device/win_device.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "app/window/workers.h"
#include "engine/device/device.h"
#include "engine/runtime/module_table.h"
#include "engine/view/text_view.h"

namespace {

constexpr std::uint16_t kPrintOptions = 2;
constexpr std::uint32_t kMaxPages = 1000000;  // a bound on what one document can ask for

const DeviceOps& Dev(EngineObject* d) {
  return DeviceOf(d);
}
const TextViewOps& Tv(EngineObject* v) {
  return OpsOf<TextViewOps>(v);
}

std::uint32_t ControlU32(EngineObject* view, std::uint16_t code) {
  std::uint32_t value = 0;
  if (IsFailure(Tv(view).control(view, code, 0, &value))) return 0;
  return value;
}

PrinterMetrics MetricsOf(QPrinter* printer) {
  PrinterMetrics m;
  m.dpiX = m.dpiY = printer->resolution();
  const QRectF paper = printer->paperRect(QPrinter::DevicePixel);
  const QRectF page = printer->pageRect(QPrinter::DevicePixel);
  m.paperWidth = static_cast<int>(paper.width());
  m.paperHeight = static_cast<int>(paper.height());
  m.offsetX = static_cast<int>(page.left() - paper.left());
  m.offsetY = static_cast<int>(page.top() - paper.top());
  m.width = static_cast<int>(page.width());
  m.height = static_cast<int>(page.height());
  return m;
}

// The screen's reading position: where the screen text view's first line starts.
std::uint32_t ReadingOffset(KelpoView* view) {
  return view->textView() != nullptr ? ControlU32(view->textView(), TextViewControl::FirstStart)
                                     : 0;
}

// One unit is one point, the origin the top-left margin.
void ScaleToPoints(QPainter* painter, const PrintArea& a) {
  painter->setWindow(0, 0, a.widthPt, a.heightPt);
  painter->setViewport(a.left, a.top, a.width, a.height);
}

}  // namespace

std::unique_ptr<PrintJob> PrintJob::Create(KelpoView* view) {
  KelpoDoc* doc = view->document();
  if (doc == nullptr || doc->state().reader == nullptr || g_WinDeviceModule == nullptr ||
      g_TextViewModule == nullptr)
    return nullptr;
  std::unique_ptr<PrintJob> job(new PrintJob());
  job->owner_ = view;
  if (IsFailure(Dev(g_WinDeviceModule).create(g_WinDeviceModule, &job->printDevice_))) {
    job->printDevice_ = nullptr;
    return nullptr;
  }
  // A hidden host of its own: the screen view's scroll bar is never the
  // print device's.
  job->host_ = std::make_unique<QWidget>();
  if (IsFailure(Device_SetWindow(job->printDevice_, job->host_.get(), 0, 0))) return nullptr;
  if (IsFailure(Tv(g_TextViewModule).create(g_TextViewModule, &job->printTextView_))) {
    job->printTextView_ = nullptr;
    return nullptr;
  }
  EngineObject* tv = job->printTextView_;
  if (IsFailure(Tv(tv).setDevice(tv, job->printDevice_))) return nullptr;
  // Pagination is the job's own, run chunk by chunk: no background slices.
  std::uint32_t interval = 0;
  if (IsFailure(Dev(job->printDevice_)
                    .posMapCommand(job->printDevice_, PosMapCode::SetInterval, &interval, nullptr)))
    return nullptr;
  // Moves to a chunk by number only load it; the job lays out its pages.
  if (IsFailure(Tv(tv).navigate(tv, TextViewNav::NoSectionLayout, 1))) return nullptr;
  (void)Tv(tv).setOptions(tv, kPrintOptions);  // stores a word: 0
  if (IsFailure(Tv(tv).attachDocument(tv, doc->state().reader, nullptr))) return nullptr;
  // A charset it cannot set leaves the default, as on the screen.
  (void)Tv(tv).control(tv, TextViewControl::Charset, doc->state().encoding, nullptr);
  std::uint16_t count = 0;
  (void)Tv(tv).getPageNumber(tv, nullptr, &count);  // always 0
  if (count == 0) return nullptr;
  job->chunkEnds_.assign(count, 0);
  job->chunkPages_.assign(count, 0);
  return job;
}

PrintJob::~PrintJob() {
  if (printTextView_ != nullptr) {
    (void)Tv(printTextView_).attachDocument(printTextView_, nullptr, nullptr);  // cannot fail
    (void)Tv(printTextView_).destroy(printTextView_);  // frees in every case
  }
  if (printDevice_ != nullptr) {
    (void)Dev(printDevice_).setProperty(printDevice_, nullptr, 0, DeviceProp::Printer);
    (void)Dev(printDevice_).destroy(printDevice_);
  }
}

std::uint32_t PrintJob::BeginPrinting(QPrinter* printer, QPainter* painter) {
  const PrinterMetrics m = MetricsOf(printer);
  const PrintArea a = PrintLayout_Compute(m);
  if (a.widthPt <= 0 || a.heightPt <= 0 || a.widthPt > 0x7FFF || a.heightPt > 0x7FFF) return 0;
  if (IsFailure(Dev(printDevice_).setProperty(printDevice_, painter, 0, DeviceProp::Printer)))
    return 0;
  printing_ = true;
  // The same layout reuses a pagination that succeeded; a failed one is
  // tried again.
  if (printPageCount_ != 0 && a == area_ && m.dpiX == dpiX_ && m.dpiY == dpiY_)
    return printPageCount_;
  area_ = a;
  dpiX_ = m.dpiX;
  dpiY_ = m.dpiY;
  preparedPage_ = 0;
  printPageCount_ = 0;
  painter->save();
  ScaleToPoints(painter, a);
  const bool ok =
      !IsFailure(Device_SetWindow(printDevice_, host_.get(), static_cast<std::int16_t>(a.widthPt),
                                  static_cast<std::int16_t>(a.heightPt))) &&
      !IsFailure(Tv(printTextView_)
                     .setViewport(printTextView_, 0, static_cast<std::int16_t>(a.widthPt),
                                  static_cast<std::int16_t>(a.heightPt))) &&
      PaginateForPrint();
  painter->restore();
  // Fonts measured for the pagination are not kept for drawing.
  (void)Dev(printDevice_).setProperty(printDevice_, nullptr, 0, DeviceProp::DropFonts);
  ++paginations_;
  if (!ok) printPageCount_ = 0;
  return printPageCount_;
}

bool PrintJob::PaginateForPrint() {
  // Runs on a worker with the pagination dialog; the screen view leaves the
  // engine alone meanwhile. The total pages counted so far show in the
  // dialog; a cancel ends the pagination as failed.
  const std::uint32_t total = ControlU32(printTextView_, TextViewControl::DocumentEnd);
  bool done = false;
  WorkerShared shared;
  const bool ran =
      Workers_Run(owner_, WorkerKind::Print, ProgressDialog::Kind::Pagination, shared,
                  [this, total, &done](WorkerShared& w) { done = PaginateChunks(w, total); });
  return ran && done;
}

bool PrintJob::PaginateChunks(WorkerShared& w, std::uint32_t total) {
  if (Worker_Cancelled(w)) return false;
  std::uint32_t pages = 0;
  for (std::uint32_t chunk = 0; chunk < chunkEnds_.size(); ++chunk) {
    if (!LoadPrintChunk(chunk)) return false;
    StatusCode s = Tv(printTextView_).navigate(printTextView_, TextViewNav::PrintFirst, 0);
    if (IsFailure(s)) return false;
    // An empty chunk lays out no lines and adds no page.
    std::uint32_t inChunk = ControlU32(printTextView_, TextViewControl::EndOffset) >
                                    ControlU32(printTextView_, TextViewControl::FirstStart)
                                ? 1
                                : 0;
    for (;;) {
      w.pageCount.store(static_cast<std::int32_t>(pages + inChunk), std::memory_order_release);
      if (Worker_Publish(
              w, Worker_Percent(ControlU32(printTextView_, TextViewControl::EndOffset), total)))
        return false;
      if (inChunk == 0 ||
          (s = Tv(printTextView_).navigate(printTextView_, TextViewNav::PrintNext, 0)) != kOk)
        break;
      if (++inChunk > kMaxPages) return false;
    }
    if (IsFailure(s)) return false;
    pages += inChunk;
    if (pages > kMaxPages) return false;
    chunkEnds_[chunk] = ControlU32(printTextView_, TextViewControl::SectionEnd);
    chunkPages_[chunk] = pages;
  }
  printPageCount_ = pages;
  Worker_Finish(w);
  return pages != 0;
}

bool PrintJob::LoadPrintChunk(std::uint32_t chunk) {
  std::uint16_t current = 0;
  (void)Tv(printTextView_).getPageNumber(printTextView_, &current, nullptr);  // always 0
  if (current == chunk + 1) return true;
  return !IsFailure(
      Tv(printTextView_).navigate(printTextView_, TextViewNav::SectionByNumber, chunk + 1));
}

bool PrintJob::SeekPrintPage(std::uint32_t page, std::uint32_t offset, std::uint32_t fromPage) {
  // Steps page by page on a worker; progress is the share of the way gone,
  // in pages or in text.
  std::uint32_t at = fromPage;
  bool done = false;
  WorkerShared shared;
  const bool ran = Workers_Run(
      owner_, WorkerKind::Print, ProgressDialog::Kind::Pagination, shared,
      [this, page, offset, &at, &done](WorkerShared& w) {
        if (Worker_Cancelled(w)) return;
        const std::uint32_t position = ControlU32(printTextView_, TextViewControl::FirstStart);
        const std::uint32_t span =
            page != 0 ? page - std::min(page, at) : offset - std::min(offset, position);
        const std::uint32_t fromAt = at;
        for (;;) {
          const std::uint32_t pageEnd = ControlU32(printTextView_, TextViewControl::EndOffset);
          if (page != 0 ? at >= page : offset < pageEnd || pageEnd == 0) break;
          const std::uint32_t gone =
              page != 0 ? at - fromAt : pageEnd - std::min(pageEnd, position);
          if (Worker_Publish(w, Worker_Percent(gone, span))) return;
          if (Tv(printTextView_).navigate(printTextView_, TextViewNav::PrintNext, 0) != kOk) {
            if (page != 0) return;
            break;  // the offset lies on the chunk's last page
          }
          ++at;
        }
        Worker_Finish(w);
        done = true;
      });
  if (!ran || !done) return false;
  preparedPage_ = at;
  return true;
}

bool PrintJob::PreparePrintPage(std::uint32_t page, std::uint32_t offset) {
  // Pages are measured on the printer only: without it the lines would differ.
  if (printPageCount_ == 0 || !printing_) return false;
  std::uint32_t chunk = 0, firstPage = 1;
  if (page != 0) {
    if (!PrintChunks_FindPage(chunkPages_, page, &chunk, &firstPage)) return false;
  } else {
    if (!PrintChunks_FindOffset(chunkEnds_, offset, &chunk)) return false;
    firstPage = chunk == 0 ? 1 : chunkPages_[chunk - 1] + 1;
  }
  std::uint16_t current = 0;
  (void)Tv(printTextView_).getPageNumber(printTextView_, &current, nullptr);  // always 0
  // A later page of the chunk the text view stands in is reached by stepping
  // on from the prepared page; anything else (and a text offset, which the
  // pages do not record) starts at the chunk's first page.
  std::uint32_t from = firstPage;
  if (page != 0 && current == chunk + 1 && preparedPage_ >= firstPage && preparedPage_ <= page) {
    if (preparedPage_ == page) return true;
    from = preparedPage_;
  } else {
    if (!LoadPrintChunk(chunk)) return false;
    if (Tv(printTextView_).navigate(printTextView_, TextViewNav::PrintFirst, 0) != kOk)
      return false;
  }
  return SeekPrintPage(page, offset, from);
}

std::uint32_t PrintJob::PageOfOffset(std::uint32_t offset) {
  return PreparePrintPage(0, offset) ? preparedPage_ : 0;
}

bool PrintJob::PrintPage(QPainter* painter, std::uint32_t page) {
  // A page outside the pagination ends the print; the pagination stays for
  // the next job.
  if (printPageCount_ == 0 || page == 0 || page > printPageCount_) return false;
  if (!PreparePrintPage(page, 0)) return false;
  painter->save();
  ScaleToPoints(painter, area_);
  const StatusCode s =
      Tv(printTextView_)
          .paint(printTextView_, nullptr, 0, 0, static_cast<std::int16_t>(area_.widthPt),
                 static_cast<std::int16_t>(area_.heightPt));
  painter->restore();
  return !IsFailure(s);
}

void PrintJob::EndPrinting() {
  printing_ = false;
  (void)Dev(printDevice_).setProperty(printDevice_, nullptr, 0, DeviceProp::DropFonts);
  (void)Dev(printDevice_).setProperty(printDevice_, nullptr, 0, DeviceProp::Printer);
}

// ---------------------------------------------------------------------------

namespace {

PrintJob* JobOf(KelpoView* view) {
  if (view->printJob() == nullptr) view->SetPrintJob(PrintJob::Create(view));
  return view->printJob();
}

}  // namespace

namespace {

// Paginates on a stand-in printer of the same page and resolution that writes
// to a temporary file of ours: the real printer's painter begins only once
// the pagination has succeeded, so a cancelled or failed one prints nothing
// (not even a blank page). The job keeps the pagination for the same layout.
bool PaginateAside(PrintJob* job, QPrinter* printer) {
  QTemporaryFile scratch;
  if (!scratch.open()) return false;
  QPrinter stand(QPrinter::HighResolution);
  stand.setOutputFormat(QPrinter::PdfFormat);
  stand.setOutputFileName(scratch.fileName());
  stand.setResolution(printer->resolution());
  stand.setPageLayout(printer->pageLayout());
  QPainter measure;
  if (!measure.begin(&stand)) return false;
  const std::uint32_t count = job->BeginPrinting(&stand, &measure);
  job->EndPrinting();
  measure.end();
  return count != 0;
}

// Prints the printer's range; with readingPage, also finds the page of the
// screen's reading position while the printer's painter is still active
// (pages are measured only on it).
bool PrintRange(KelpoView* view, QPrinter* printer, std::uint32_t* readingPage) {
  PrintJob* job = JobOf(view);
  if (job == nullptr) return false;
  if (!PaginateAside(job, printer)) return false;
  QPainter painter;
  if (!painter.begin(printer)) return false;
  const std::uint32_t count = job->BeginPrinting(printer, &painter);  // the pagination kept
  std::uint32_t first = 1, last = count;
  if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
    first = static_cast<std::uint32_t>(printer->fromPage());
    if (printer->toPage() > 0) last = std::min(last, static_cast<std::uint32_t>(printer->toPage()));
  }
  bool printed = false;
  for (std::uint32_t page = first; count != 0 && page <= last; ++page) {
    if (printed && !printer->newPage()) break;
    if (!job->PrintPage(&painter, page)) break;
    printed = true;
  }
  if (readingPage != nullptr && count != 0) *readingPage = job->PageOfOffset(ReadingOffset(view));
  job->EndPrinting();
  painter.end();
  view->viewport()->update();
  return printed;
}

}  // namespace

bool KelpoView_PrintTo(KelpoView* view, QPrinter* printer) {
  return PrintRange(view, printer, nullptr);
}

std::uint32_t KelpoView_ReadingPage(KelpoView* view, QPrinter* printer) {
  PrintJob* job = JobOf(view);
  if (job == nullptr) return 0;
  QPainter painter;
  if (!painter.begin(printer)) return 0;
  std::uint32_t page = 0;
  if (job->BeginPrinting(printer, &painter) != 0) page = job->PageOfOffset(ReadingOffset(view));
  job->EndPrinting();
  painter.end();
  return page;
}

void KelpoView_UsePrintSetup(KelpoView* view, QPrinter* printer) {
  const auto* frame = dynamic_cast<const MainFrame*>(view->window());
  if (frame == nullptr || frame->printSetup() == nullptr) return;
  printer->setPageLayout(frame->printSetup()->pageLayout());
}

void KelpoView_OnFilePrint(KelpoView* view) {
  if (JobOf(view) == nullptr) return;
  QPrinter printer(QPrinter::HighResolution);
  KelpoView_UsePrintSetup(view, &printer);
  QPrintDialog dialog(&printer, view);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
  if (dialog.exec() != QDialog::Accepted) return;
  (void)KelpoView_PrintTo(view, &printer);  // a failed pagination prints nothing, silently
}

void KelpoView_OnFilePrintPreview(KelpoView* view) {
  if (JobOf(view) == nullptr) return;
  QPrinter printer(QPrinter::HighResolution);
  KelpoView_UsePrintSetup(view, &printer);
  QPrintPreviewDialog dialog(&printer, view);
  std::uint32_t startPage = 0;
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, view,
                   [view, &startPage](QPrinter* target) {
                     // The preview shows every page; its printer has no range.
                     target->setPrintRange(QPrinter::AllPages);
                     (void)PrintRange(view, target, startPage == 0 ? &startPage : nullptr);
                   });
  // The preview opens on the page that holds the screen's reading position.
  if (auto* preview = dialog.findChild<QPrintPreviewWidget*>()) {
    QObject::connect(preview, &QPrintPreviewWidget::previewChanged, view,
                     [preview, &startPage, placed = false]() mutable {
                       if (placed || startPage == 0) return;
                       placed = true;
                       // After the dialog has laid itself out, which moves
                       // the pages under the view. The dialog's page box and
                       // arrows follow the preview's change notice.
                       QTimer::singleShot(0, preview, [preview, page = startPage] {
                         preview->setCurrentPage(static_cast<int>(page));
                         emit preview->previewChanged();
                       });
                     });
  }
  dialog.exec();
  view->viewport()->update();
}
