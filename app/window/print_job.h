// Printing and print preview of a reading view's document.
//
// A print job has its own window device and text view on the view's
// document handler, so the screen's text view and reading position are not
// disturbed. It paginates the whole document once per printer layout, one
// chunk (one section of its text view) at a time, and keeps per chunk the
// text end and the cumulative page count; a page is then printed by loading
// its chunk and stepping to it. Printing again with the same layout reuses
// the pagination. The job lives with the view until the view releases it
// (when the document leaves the view).
//
// The device draws into the painter begun on the printer; the painter is
// scaled so that one unit is one point and the origin is the top-left
// margin, each edge kept an inch from the paper's edge.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "app/core/print_layout.h"
#include "engine/runtime/core.h"

class KelpoView;
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
  // Draws page (1-based) into the painter of BeginPrinting; false when the
  // page cannot be prepared.
  bool PrintPage(QPainter* painter, std::uint32_t page);
  // The device lets go of the painter.
  void EndPrinting();

  // Between BeginPrinting and EndPrinting: stands the print text view on a
  // page, or (page 0) on the page holding a text offset.
  bool PreparePrintPage(std::uint32_t page, std::uint32_t offset);
  // The page holding a text offset (0 when none).
  std::uint32_t PageOfOffset(std::uint32_t offset);

  std::uint32_t pageCount() const { return printPageCount_; }
  std::uint32_t chunkCount() const { return static_cast<std::uint32_t>(chunkEnds_.size()); }
  std::uint32_t paginations() const { return paginations_; }
  const PrintArea& area() const { return area_; }

 private:
  PrintJob() = default;
  // The one place pagination runs: every chunk laid out into printer pages,
  // on a worker thread (PaginateChunks is the worker's part).
  bool PaginateForPrint();
  bool PaginateChunks(WorkerShared& shared, std::uint32_t total);
  bool LoadPrintChunk(std::uint32_t chunk);
  bool SeekPrintPage(std::uint32_t page, std::uint32_t offset, std::uint32_t fromPage);

  std::unique_ptr<QWidget> host_;  // the print device's window, never shown
  QWidget* owner_ = nullptr;       // the view: the progress dialogs' parent
  EngineObject* printDevice_ = nullptr;
  EngineObject* printTextView_ = nullptr;
  std::vector<std::uint32_t> chunkEnds_, chunkPages_;
  PrintArea area_{};
  int dpiX_ = 0, dpiY_ = 0;
  std::uint32_t printPageCount_ = 0;
  std::uint32_t preparedPage_ = 0;
  std::uint32_t paginations_ = 0;
  bool printing_ = false;  // the device draws into a printer's painter
};

// Entry points of the File menu's print commands for a view.
// Prints to printer without a dialog (its page range is honoured: 0 and 0
// print everything); false when nothing was printed.
bool KelpoView_PrintTo(KelpoView* view, QPrinter* printer);
// Gives printer the page chosen in Print Set-up of the view's main window
// (nothing when the view has none).
void KelpoView_UsePrintSetup(KelpoView* view, QPrinter* printer);
// Print: the print dialog (which also prints to a PDF file), then printing.
void KelpoView_OnFilePrint(KelpoView* view);
// Print Preview: the preview dialog, opened on the page that holds the
// screen's reading position.
void KelpoView_OnFilePrintPreview(KelpoView* view);
// The page holding the screen's reading position in a fresh or reused
// pagination for printer (0 when the document cannot be paginated).
std::uint32_t KelpoView_ReadingPage(KelpoView* view, QPrinter* printer);
