// The Go To dialog: a page number (with First and Last Page) or a
// percentage of the current page (with Top and End of Page). It ends with
// the control number of its choice (GoToResult); an unusable number ends it
// with Cancel.
#pragma once

#include <QDialog>
#include <cstdint>

#include "app/core/goto_input.h"

class KelpoView;
class QLabel;
class QLineEdit;
class QPushButton;

class GoToDialog : public QDialog {
  Q_OBJECT

 public:
  // The opener's values, shown in the fields; focusPercent puts the focus
  // (and a selection) in the percentage field instead of the page field.
  GoToDialog(std::uint32_t page, std::uint32_t pageCount, std::uint32_t percent, bool focusPercent,
             QWidget* parent);

  // After exec: the page or percentage chosen with Go To.
  std::uint32_t page() const { return page_; }
  std::uint32_t percent() const { return percent_; }

  QLineEdit* pageEdit() const { return pageEdit_; }
  QLineEdit* percentEdit() const { return percentEdit_; }
  QLabel* pageCountLabel() const { return countLabel_; }
  QPushButton* button(int result) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void GoToPage();
  void GoToPercent();

  QLineEdit* pageEdit_;
  QLineEdit* percentEdit_;
  QLabel* countLabel_;
  QPushButton* goPage_;
  QPushButton* first_;
  QPushButton* last_;
  QPushButton* goPercent_;
  QPushButton* top_;
  QPushButton* end_;
  QPushButton* cancel_;
  bool focusPercent_;
  std::uint32_t page_ = 0;
  std::uint32_t percent_ = 0;
};
