#include "app/window/print_job.h"

#include <QFile>
#include <QImage>
#include <QPageRanges>
#include <QPainter>
#include <QPoint>
#include <QPrintDialog>
#include <QPrinter>
#include <QScopeGuard>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/core/doc_open.h"
#include "app/device/win_device.h"
#include "app/window/kelpo_view.h"
#include "app/window/local_files.h"
#include "app/window/main_frame.h"
#include "app/window/print_preview.h"
#include "app/window/workers.h"
#include "engine/device/device.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"
#include "engine/view/text_view.h"

namespace {

constexpr std::uint16_t kPrintOptions = 2;
constexpr std::uint32_t kMaxPages = 1000000;  // a bound on what one document can ask for
constexpr int kMaxPreviewSide = 8192;         // a preview sheet's largest side in pixels
// Control code of the text view: the print range {start, end} its next
// first print page is laid out in (0: the section's own).
constexpr std::uint16_t kSetPrintRange = 42;

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

// One unit is one point, the origin the top-left margin; scale device
// pixels to one printer pixel (1 on the printer itself) and origin where the
// printer's printable area starts (in printer pixels: 0 on the printer).
void ScaleToPoints(QPainter* painter, const PrintArea& a, double scale = 1.0, QPoint origin = {}) {
  auto at = [scale](int pixels) { return static_cast<int>(std::lround(pixels * scale)); };
  painter->setWindow(0, 0, a.widthPt, a.heightPt);
  painter->setViewport(at(origin.x() + a.left), at(origin.y() + a.top), at(a.width), at(a.height));
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
  if (!ok) {
    printPageCount_ = 0;
    pageStarts_.clear();
  }
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
  pageStarts_.clear();
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
      // Where each page starts: a page is laid out again from there alone.
      if (inChunk != 0)
        pageStarts_.push_back(ControlU32(printTextView_, TextViewControl::FirstStart));
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
  if (pageStarts_.size() != pages) return false;
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

bool PrintJob::PreparePrintPage(std::uint32_t page) {
  // Pages are measured on the printer only: without it the lines would differ.
  if (printPageCount_ == 0 || !printing_ || page == 0 || page > pageStarts_.size()) return false;
  if (page == preparedPage_) return true;
  std::uint32_t chunk = 0, firstPage = 1;
  if (!PrintChunks_FindPage(chunkPages_, page, &chunk, &firstPage)) return false;
  std::uint16_t current = 0;
  (void)Tv(printTextView_).getPageNumber(printTextView_, &current, nullptr);  // always 0
  StatusCode s = kOk;
  if (preparedPage_ != 0 && page == preparedPage_ + 1 && page != firstPage &&
      current == chunk + 1) {
    // The next page of the chunk: one step, as the pagination went.
    s = Tv(printTextView_).navigate(printTextView_, TextViewNav::PrintNext, 0);
  } else {
    // Any other page is laid out from where the pagination found it to
    // start, whatever page it is: no stepping through the pages before it.
    if (!LoadPrintChunk(chunk)) return false;
    std::uint32_t range[2] = {pageStarts_[page - 1], 0};
    (void)Tv(printTextView_).control(printTextView_, kSetPrintRange, 0, range);  // cannot fail
    s = Tv(printTextView_).navigate(printTextView_, TextViewNav::PrintFirst, 0);
    range[0] = 0;  // the chunk's own range again
    (void)Tv(printTextView_).control(printTextView_, kSetPrintRange, 0, range);
  }
  preparedPage_ = s == kOk ? page : 0;
  return s == kOk;
}

std::uint32_t PrintJob::PageOfOffset(std::uint32_t offset) const {
  // The last page that starts at or before the offset.
  const auto after = std::upper_bound(pageStarts_.begin(), pageStarts_.end(), offset);
  return printPageCount_ == 0 ? 0 : static_cast<std::uint32_t>(after - pageStarts_.begin());
}

bool PrintJob::DrawPage(QPainter* painter, std::uint32_t page, double scale, QPoint origin) {
  // A page outside the pagination ends the print; the pagination stays for
  // the next job.
  if (!PreparePrintPage(page)) return false;
  painter->save();
  ScaleToPoints(painter, area_, scale, origin);
  const StatusCode s =
      Tv(printTextView_)
          .paint(printTextView_, nullptr, 0, 0, static_cast<std::int16_t>(area_.widthPt),
                 static_cast<std::int16_t>(area_.heightPt));
  painter->restore();
  return !IsFailure(s);
}

std::vector<PrintJob::PageSpan> PrintJob::PagesToPrint(const QPrinter& printer,
                                                       std::uint32_t currentPage) const {
  const std::uint32_t count = printPageCount_;
  std::vector<PageSpan> spans;
  auto add = [&spans, count](int first, int last) {
    if (first < 1) first = 1;
    if (last < 1 || static_cast<std::uint32_t>(last) > count) last = static_cast<int>(count);
    if (first <= last) {
      spans.push_back({static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last)});
    }
  };
  if (count == 0) return spans;
  if (printer.printRange() == QPrinter::CurrentPage && currentPage != 0) {
    add(static_cast<int>(std::min(currentPage, count)), static_cast<int>(currentPage));
  } else if (printer.printRange() == QPrinter::PageRange && !printer.pageRanges().isEmpty()) {
    for (const QPageRanges::Range& r : printer.pageRanges().toRangeList())
      add(r.from, r.to);
  } else if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
    add(printer.fromPage(), printer.toPage());
  } else {
    add(1, static_cast<int>(count));
  }
  return spans;
}

std::uint32_t PrintJob::PrintPages(QPrinter* printer, std::uint32_t currentPage, bool* complete) {
  *complete = false;
  pagesPrinted_ = 0;
  const std::vector<PageSpan> spans = PagesToPrint(*printer, currentPage);
  std::uint64_t total = 0;
  for (const PageSpan& span : spans)
    total += span.last - span.first + 1;
  if (total == 0) return 0;
  std::uint32_t printed = 0;
  bool all = false;
  WorkerShared shared;
  const bool ran = Workers_Run(
      owner_, WorkerKind::Print, ProgressDialog::Kind::Printing, shared,
      [this, printer, &spans, total, &printed, &all](WorkerShared& w) {
        if (Worker_Cancelled(w)) return;
        w.pageTotal.store(static_cast<std::int32_t>(std::min<std::uint64_t>(total, INT32_MAX)),
                          std::memory_order_release);
        QPainter painter;
        if (!painter.begin(printer)) return;
        // The pagination is the one made for this layout: nothing is laid out
        // again here.
        bool failed = BeginPrinting(printer, &painter) == 0;
        for (std::size_t i = 0; i < spans.size() && !failed; ++i) {
          for (std::uint32_t page = spans[i].first; page >= spans[i].first && page <= spans[i].last;
               ++page) {
            if (Worker_Cancelled(w) || (printed != 0 && !printer->newPage())) {
              failed = true;
              break;
            }
            w.pageCount.store(static_cast<std::int32_t>(page), std::memory_order_release);
            if (!DrawPage(&painter, page, 1.0, {})) {
              failed = true;
              break;
            }
            ++printed;
            if (Worker_Publish(w, Worker_Percent(printed, total))) {
              failed = true;
              break;
            }
          }
        }
        EndPrinting();
        // A printer that can withdraw the job does so; the rest is ended.
        if (failed) (void)printer->abort();
        if (painter.isActive()) painter.end();
        if (failed) return;
        Worker_Finish(w);
        all = true;
      });
  *complete = ran && all;
  pagesPrinted_ = printed;
  return printed;
}

QImage PrintJob::PreviewPage(QPrinter* printer, std::uint32_t page, double scale) {
  const PrinterMetrics m = MetricsOf(printer);
  const int width = static_cast<int>(std::lround(m.paperWidth * scale));
  const int height = static_cast<int>(std::lround(m.paperHeight * scale));
  if (width <= 0 || height <= 0 || width > kMaxPreviewSide || height > kMaxPreviewSide) return {};
  QImage sheet(width, height, QImage::Format_RGB32);
  if (sheet.isNull()) return {};
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  // The sheet is the whole paper: the printer's origin is its printable area.
  bool drawn = false;
  if (BeginPrinting(printer, &painter) != 0)
    drawn = DrawPage(&painter, page, scale, QPoint(m.offsetX, m.offsetY));
  EndPrinting();
  painter.end();
  if (!drawn) return {};
  return sheet;
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
  const QString scratch = LocalFile_NewWorkingFile();
  if (scratch.isEmpty()) return false;
  const auto removeScratch = qScopeGuard([&scratch] { QFile::remove(scratch); });
  QPrinter stand(QPrinter::HighResolution);
  stand.setOutputFormat(QPrinter::PdfFormat);
  stand.setOutputFileName(scratch);
  stand.setResolution(printer->resolution());
  stand.setPageLayout(printer->pageLayout());
  QPainter measure;
  if (!measure.begin(&stand)) return false;
  const std::uint32_t count = job->BeginPrinting(&stand, &measure);
  job->EndPrinting();
  measure.end();
  return count != 0;
}

// A print to a PDF file is written to a working file of ours and replaces
// the chosen file in one step once every page is drawn; a cancelled or
// failed print leaves the chosen file as it was (or absent). A printer's
// own output goes to it directly.
class PrintOutput {
 public:
  explicit PrintOutput(QPrinter* printer) : printer_(printer) {
    if (printer->outputFormat() != QPrinter::PdfFormat || printer->outputFileName().isEmpty())
      return;
    target_ = printer->outputFileName();
    work_ = LocalFile_NewWorkingFile();
    if (g_FileSysModule == nullptr || work_.isEmpty()) {
      failed_ = true;
      return;
    }
    printer->setOutputFileName(work_);
  }
  ~PrintOutput() { (void)Finish(false); }
  PrintOutput(const PrintOutput&) = delete;
  PrintOutput& operator=(const PrintOutput&) = delete;

  bool usable() const { return !failed_; }
  // After the printer's painter has ended: complete tells whether the whole
  // print was drawn. Answers whether the output is where the user wanted it.
  bool Finish(bool complete) {
    if (work_.isEmpty()) return complete && !failed_;
    printer_->setOutputFileName(target_);
    const std::u16string work = work_.toStdU16String(), target = target_.toStdU16String();
    work_.clear();
    bool placed = false;
    EngineObject* stream = nullptr;
    if (complete && FileSys_Open(g_FileSysModule, const_cast<char16_t*>(work.c_str()), 0,
                                 kFileOpenRead, &stream) == kOk) {
      placed = FileSys_ReplaceFileFromStream(g_FileSysModule, target.c_str(), stream) == kOk;
      (void)StreamOf(stream).close(stream);
    }
    (void)FileSys_Delete(g_FileSysModule, work.c_str());
    return placed;
  }

 private:
  QPrinter* printer_;
  QString target_, work_;
  bool failed_ = false;
};

// Prints the printer's range (currentPage: the page a Current Page range
// means).
bool PrintRange(KelpoView* view, QPrinter* printer, std::uint32_t currentPage) {
  PrintJob* job = JobOf(view);
  if (job == nullptr) return false;
  if (!PaginateAside(job, printer)) return false;
  PrintOutput output(printer);
  if (!output.usable()) return false;
  bool complete = false;
  const std::uint32_t printed = job->PrintPages(printer, currentPage, &complete);
  view->viewport()->update();
  return output.Finish(complete && printed != 0);
}

}  // namespace

bool KelpoView_PrintTo(KelpoView* view, QPrinter* printer, std::uint32_t currentPage) {
  return PrintRange(view, printer, currentPage);
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

bool KelpoView_PrintWithDialog(KelpoView* view, QPrinter* printer, std::uint32_t currentPage) {
  QPrintDialog dialog(printer, view);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
  dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, currentPage != 0);
  if (dialog.exec() != QDialog::Accepted) return false;
  return KelpoView_PrintTo(view, printer, currentPage);  // a failed print is silent
}

void KelpoView_OnFilePrint(KelpoView* view) {
  if (JobOf(view) == nullptr) return;
  QPrinter printer(QPrinter::HighResolution);
  KelpoView_UsePrintSetup(view, &printer);
  (void)KelpoView_PrintWithDialog(view, &printer, 0);
}

void KelpoView_OnFilePrintPreview(KelpoView* view) {
  PrintJob* job = JobOf(view);
  if (job == nullptr) return;
  QPrinter printer(QPrinter::HighResolution);
  KelpoView_UsePrintSetup(view, &printer);
  // The pagination for the printer's page first (with its progress and
  // Cancel); a cancelled one shows no preview.
  if (!PaginateAside(job, &printer)) return;
  // The preview opens on the page that holds the screen's reading position.
  const std::uint32_t start = std::max<std::uint32_t>(1, job->PageOfOffset(ReadingOffset(view)));
  std::uint32_t printFrom = 0;
  {
    PrintPreview preview(job, &printer, start, view);
    if (preview.exec() == QDialog::Accepted && preview.printRequested())
      printFrom = preview.currentPage();
  }  // every sheet drawn for the preview is freed here
#if defined(__GLIBC__)
  // ... and goes back to the system, not only to the allocator's free lists.
  (void)malloc_trim(0);
#endif
  view->viewport()->update();
  // Print in the preview: the print dialog, its range honoured, the page
  // on show offered as the current page.
  if (printFrom != 0) (void)KelpoView_PrintWithDialog(view, &printer, printFrom);
}
