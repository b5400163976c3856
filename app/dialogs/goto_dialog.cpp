#include "app/dialogs/goto_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>


namespace {

QPushButton* Button(const char* text, QWidget* parent) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setAutoDefault(false);
  return b;
}

QLineEdit* NumberEdit(int maxChars, QWidget* parent) {
  auto* e = new QLineEdit(parent);
  e->setMaxLength(maxChars);
  // Digits only, as typed; what the field holds is checked again on Go To.
  e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
  return e;
}

}  // namespace

GoToDialog::GoToDialog(std::uint32_t page, std::uint32_t pageCount, std::uint32_t percent,
                       bool focusPercent, QWidget* parent)
    : QDialog(parent), focusPercent_(focusPercent) {
  setWindowTitle(QStringLiteral("Go To"));
  auto* layout = new QVBoxLayout(this);

  auto* pageBox = new QGroupBox(QStringLiteral("Page"), this);
  auto* pageGrid = new QGridLayout(pageBox);
  pageEdit_ = NumberEdit(kGoToPageMaxChars, pageBox);
  auto* pageLabel = new QLabel(QStringLiteral("&Page #"), pageBox);
  pageLabel->setBuddy(pageEdit_);
  countLabel_ = new QLabel(pageBox);
  goPage_ = Button("&Go To", pageBox);
  first_ = Button("&First Page", pageBox);
  last_ = Button("&Last Page", pageBox);
  pageGrid->addWidget(pageLabel, 0, 0);
  pageGrid->addWidget(pageEdit_, 0, 1);
  pageGrid->addWidget(new QLabel(QStringLiteral("of"), pageBox), 0, 2);
  pageGrid->addWidget(countLabel_, 0, 3);
  pageGrid->addWidget(goPage_, 0, 4);
  pageGrid->addWidget(first_, 1, 1, 1, 2);
  pageGrid->addWidget(last_, 1, 3, 1, 2);
  layout->addWidget(pageBox);

  auto* percentBox = new QGroupBox(QStringLiteral("Percentage"), this);
  auto* percentGrid = new QGridLayout(percentBox);
  percentEdit_ = NumberEdit(kGoToPercentMaxChars, percentBox);
  auto* percentLabel = new QLabel(QStringLiteral("Per&centage of page:"), percentBox);
  percentLabel->setBuddy(percentEdit_);
  goPercent_ = Button("G&o To", percentBox);
  top_ = Button("&Top of Page", percentBox);
  end_ = Button("&End of Page", percentBox);
  percentGrid->addWidget(percentLabel, 0, 0);
  percentGrid->addWidget(percentEdit_, 0, 1);
  percentGrid->addWidget(goPercent_, 0, 2);
  percentGrid->addWidget(top_, 1, 0);
  percentGrid->addWidget(end_, 1, 1, 1, 2);
  layout->addWidget(percentBox);

  auto* row = new QHBoxLayout();
  row->addStretch();
  cancel_ = Button("Cancel", this);
  row->addWidget(cancel_);
  layout->addLayout(row);

  pageEdit_->setText(QString::number(page));
  countLabel_->setText(QString::number(pageCount));
  percentEdit_->setText(QString::number(percent));

  connect(goPage_, &QPushButton::clicked, this, &GoToDialog::GoToPage);
  connect(pageEdit_, &QLineEdit::returnPressed, this, &GoToDialog::GoToPage);
  connect(goPercent_, &QPushButton::clicked, this, &GoToDialog::GoToPercent);
  connect(percentEdit_, &QLineEdit::returnPressed, this, &GoToDialog::GoToPercent);
  connect(first_, &QPushButton::clicked, this, [this] { done(GoToResult::FirstPage); });
  connect(last_, &QPushButton::clicked, this, [this] { done(GoToResult::LastPage); });
  connect(top_, &QPushButton::clicked, this, [this] { done(GoToResult::TopOfPage); });
  connect(end_, &QPushButton::clicked, this, [this] { done(GoToResult::EndOfPage); });
  connect(cancel_, &QPushButton::clicked, this, [this] { done(GoToResult::Cancel); });
}

QPushButton* GoToDialog::button(int result) const {
  switch (result) {
    case GoToResult::Page:
      return goPage_;
    case GoToResult::FirstPage:
      return first_;
    case GoToResult::LastPage:
      return last_;
    case GoToResult::Percent:
      return goPercent_;
    case GoToResult::TopOfPage:
      return top_;
    case GoToResult::EndOfPage:
      return end_;
    default:
      return cancel_;
  }
}

void GoToDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  QLineEdit* field = focusPercent_ ? percentEdit_ : pageEdit_;
  field->setFocus();
  field->selectAll();
}

void GoToDialog::GoToPage() {
  done(GoTo_PageResult(pageEdit_->text().toStdU16String(), &page_));
}

void GoToDialog::GoToPercent() {
  done(GoTo_PercentResult(percentEdit_->text().toStdU16String(), &percent_));
}
