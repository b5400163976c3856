// Printing and print preview of a reading view's document.
//
// A print job has its own window device and text view on the view's
// document handler, so the screen's text view and reading position are not
// disturbed. It paginates the whole document once per printer layout, one
// chunk (one section of its text view) at a time, and keeps per chunk the
// text end and the cumulative page count, and per page the text offset it
// starts at (four bytes a page); a page is then printed by loading its chunk
// and laying that page out from its start, so any page costs the same
// whatever its number. Printing again with the same layout reuses the
// pagination. The job lives with the view until the view releases it
// (when the document leaves the view).
//
// The device draws into the painter begun on the printer; the painter is
// scaled so that one unit is one point and the origin is the top-left
// margin, each edge kept an inch from the paper's edge.
//
// Drawing the pages of a print runs on a worker as the pagination does (the
// window keeps painting, a slow print shows its progress with Cancel, and
// Cancel stops after the page being drawn). The preview asks for one page
// at a time, drawn into an image of the size it shows.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QPoint>

#include "app/core/print_layout.h"
#include "engine/runtime/core.h"

class KelpoView;
class QImage;
class QPainter;
class QPrinter;
class QWidget;
struct WorkerShared;

class PrintJob {
 public:
  // The print device and text view on the view's document; null when one
  // cannot be made (the print job is then cancelled without a message).
  static std::unique_ptr<PrintJob> Create(KelpoView* view);
  ~PrintJob();
  PrintJob(const PrintJob&) = delete;
  PrintJob& operator=(const PrintJob&) = delete;

  // Paginates for the printer unless its layout is the one paginated
  // before; painter is active on printer. Answers the page count (0: the
  // pagination failed or was cancelled: nothing is printed).
  std::uint32_t BeginPrinting(QPrinter* printer, QPainter* painter);
  // Prints on printer the pages its range asks for (currentPage: the page
  // a Current Page range means), on a worker that begins the printer's
  // painter, draws every page, a new sheet before each but the first, and
  // ends it: the text drawn into the printer keeps the fonts of the one
  // thread that ends it. The pagination for printer's layout must exist.
  // Answers the pages drawn; *complete tells whether every one was (false
  // after a Cancel or a failure, the printer then asked to abort).
  std::uint32_t PrintPages(QPrinter* printer, std::uint32_t currentPage, bool* complete);
  // The sheet of page as the printer would print it, scale image pixels to
  // one printer pixel: white paper with the page's text inside the margins.
  // Uses the pagination for printer's layout (made when there is none).
  // Null when the page cannot be drawn.
  QImage PreviewPage(QPrinter* printer, std::uint32_t page, double scale);
  // The device lets go of the painter.
  void EndPrinting();

  // Between BeginPrinting and EndPrinting: stands the print text view on a
  // page (1-based), laid out from where the pagination found it to start.
  bool PreparePrintPage(std::uint32_t page);
  // The page holding a text offset in the pagination (0 when there is none).
  std::uint32_t PageOfOffset(std::uint32_t offset) const;

  std::uint32_t pageCount() const { return printPageCount_; }
  std::uint32_t chunkCount() const { return static_cast<std::uint32_t>(chunkEnds_.size()); }
  std::uint32_t paginations() const { return paginations_; }
  // The pages the last PrintPages drew.
  std::uint32_t pagesPrinted() const { return pagesPrinted_; }
  const PrintArea& area() const { return area_; }

 private:
  PrintJob() = default;
  // The one place pagination runs: every chunk laid out into printer pages,
  // on a worker thread (PaginateChunks is the worker's part).
  bool PaginateForPrint();
  bool PaginateChunks(WorkerShared& shared, std::uint32_t total);
  bool LoadPrintChunk(std::uint32_t chunk);
  // Pages first..last, both within the pagination.
  struct PageSpan {
    std::uint32_t first = 0, last = 0;
  };
  // The pages printer's range asks for, within the pagination.
  std::vector<PageSpan> PagesToPrint(const QPrinter& printer, std::uint32_t currentPage) const;
  // Prepares page and paints it into painter, scale device pixels to one
  // printer pixel, the printable area starting at origin (printer pixels).
  bool DrawPage(QPainter* painter, std::uint32_t page, double scale, QPoint origin);

  std::unique_ptr<QWidget> host_;  // the print device's window, never shown
  QWidget* owner_ = nullptr;       // the view: the progress dialogs' parent
  EngineObject* printDevice_ = nullptr;
  EngineObject* printTextView_ = nullptr;
  std::vector<std::uint32_t> chunkEnds_, chunkPages_;
  std::vector<std::uint32_t> pageStarts_;  // the text offset each page starts at
  PrintArea area_{};
  int dpiX_ = 0, dpiY_ = 0;
  std::uint32_t printPageCount_ = 0;
  std::uint32_t preparedPage_ = 0;
  std::uint32_t paginations_ = 0;
  std::uint32_t pagesPrinted_ = 0;
  bool printing_ = false;  // the device draws into a printer's painter
};

// Entry points of the File menu's print commands for a view.
// Prints to printer without a dialog; its range is honoured (all pages, the
// page ranges, or currentPage for the current page). A PDF file is written
// to a working file first and replaces the chosen file in one step only once
// every page is drawn: a cancelled or failed print leaves the file as it was
// (or absent). False
// when the print did not complete.
bool KelpoView_PrintTo(KelpoView* view, QPrinter* printer, std::uint32_t currentPage = 0);
// Gives printer the page chosen in Print Set-up of the view's main window
// (nothing when the view has none).
void KelpoView_UsePrintSetup(KelpoView* view, QPrinter* printer);
// Print: the print dialog (which also prints to a PDF file), then printing.
void KelpoView_OnFilePrint(KelpoView* view);
// The print dialog on printer, then printing what it chose; currentPage
// (not 0) is offered as the current page. False when nothing was printed.
bool KelpoView_PrintWithDialog(KelpoView* view, QPrinter* printer, std::uint32_t currentPage);
// Print Preview: the preview dialog (PrintPreview), opened on the page that
// holds the screen's reading position; its Print closes it and prints with
// the print dialog on the preview's printer, offering the page on show.
void KelpoView_OnFilePrintPreview(KelpoView* view);
// The page holding the screen's reading position in a fresh or reused
// pagination for printer (0 when the document cannot be paginated).
std::uint32_t KelpoView_ReadingPage(KelpoView* view, QPrinter* printer);
