// The print preview: one or two sheets of a paginated print job at a time,
// each drawn by the job when it comes on show, into an image of the size it
// is shown at. Only the sheets on show are kept, so the preview's memory is
// that of one or two screen-sized images whatever the page count, and all
// of it goes with the dialog.
//
// The buttons: Print... (closes the preview and asks for printing), Next
// Page, Prev Page, Two Page / One Page, Zoom In, Zoom Out and Close; the
// page box goes to a page. Page Down and Page Up (and the arrows) turn the
// pages, Home and End go to the first and the last.
#pragma once

#include <QDialog>
#include <QImage>
#include <array>
#include <cstdint>

class PrintJob;
class QLabel;
class QPrinter;
class QPushButton;
class QScrollArea;
class QSpinBox;
class PreviewSheets;

class PrintPreview : public QDialog {
  Q_OBJECT

 public:
  enum Button { Print, Next, Prev, TwoPage, ZoomIn, ZoomOut, Close, ButtonCount };
  static constexpr int kZoomLevels = 3;  // the whole sheet, then larger twice

  // job: paginated for printer's page; opens on startPage.
  PrintPreview(PrintJob* job, QPrinter* printer, std::uint32_t startPage, QWidget* parent);
  ~PrintPreview() override;

  // The first page on show.
  std::uint32_t currentPage() const { return page_; }
  std::uint32_t pageCount() const { return count_; }
  bool twoPages() const { return two_ && zoom_ == 0; }
  int zoom() const { return zoom_; }
  // Print... was pressed: the dialog closed accepted for it.
  bool printRequested() const { return printRequested_; }
  QPushButton* button(Button b) const { return buttons_[b]; }
  QSpinBox* pageBox() const { return pageBox_; }
  QLabel* pageLabel() const { return pageLabel_; }
  // The sheets drawn since the dialog opened (each time a page comes on
  // show or is shown at another size).
  std::uint32_t sheetsDrawn() const { return drawn_; }
  // The sheets on show (a null image where there is none).
  const QImage& sheet(int i) const { return sheets_[i]; }

  void GoToPage(std::uint32_t page);
  // Draws what is due now (otherwise done from the event loop).
  void Refresh();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class PreviewSheets;
  void Schedule();
  void UpdateControls();
  double FitScale(int sheets) const;

  PrintJob* job_;
  QPrinter* printer_;
  std::uint32_t page_ = 1, count_ = 0;
  bool two_ = false;
  int zoom_ = 0;
  bool printRequested_ = false;
  bool scheduled_ = false, refreshing_ = false;
  std::uint32_t drawn_ = 0;
  // What is on show: the pages and the scale they were drawn at.
  std::array<QImage, 2> sheets_;
  std::array<std::uint32_t, 2> sheetPages_{};
  double sheetScale_ = 0;
  std::array<QPushButton*, ButtonCount> buttons_{};
  QSpinBox* pageBox_ = nullptr;
  QLabel* pageLabel_ = nullptr;
  QScrollArea* area_ = nullptr;
  PreviewSheets* canvas_ = nullptr;
};
