#include "app/window/progress_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/core/worker.h"

ProgressDialog::ProgressDialog(Kind kind, WorkerShared* shared, QWidget* parent)
    : QDialog(parent), kind_(kind), shared_(shared) {
  setWindowTitle(kind == Kind::Find         ? QStringLiteral("Searching...")
                 : kind == Kind::Pagination ? QStringLiteral("Paginating Document...")
                 : kind == Kind::Printing   ? QStringLiteral("Printing...")
                                            : QStringLiteral("Formatting Page..."));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  layout->addWidget(bar_);
  percent_ = new QLabel(QStringLiteral("0%"), this);
  percent_->setAlignment(Qt::AlignCenter);
  layout->addWidget(percent_);
  if (kind == Kind::Pagination || kind == Kind::Printing) {
    auto* row = new QHBoxLayout();
    countCaption_ = new QLabel(kind == Kind::Pagination ? QStringLiteral("Paginated page count:")
                                                        : QStringLiteral("Printing page:"),
                               this);
    count_ = new QLabel(this);
    row->addWidget(countCaption_);
    row->addWidget(count_);
    row->addStretch();
    layout->addLayout(row);
    // Shown with the first count.
    countCaption_->hide();
  }
  if (kind == Kind::Layout) {
    auto* note = new QLabel(
        QStringLiteral(
            "Click Cancel to view the page now and have formatting continue in the background."),
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Cancel)->setAutoDefault(false);
  connect(buttons, &QDialogButtonBox::rejected, this, &ProgressDialog::reject);
  layout->addWidget(buttons);
  setMinimumWidth(280);

  if (shared_ != nullptr) {
    timer_.setInterval(static_cast<int>(kWorkerDialogTickMs));
    connect(&timer_, &QTimer::timeout, this, &ProgressDialog::Tick);
  }
}

void ProgressDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shared_ == nullptr) return;
  timer_.start();
  // A worker that ended while the dialog was opening closes it at once.
  QTimer::singleShot(0, this, &ProgressDialog::Tick);
}

void ProgressDialog::Tick() {
  if (shared_ == nullptr || !isVisible()) return;
  const WorkerTick t = Worker_Tick(*shared_);
  if (t.over) {
    timer_.stop();
    ShowPercent(100);
    accept();
    return;
  }
  ShowPercent(t.percent);
  if (count_ != nullptr && t.pages != lastPages_) {
    if (lastPages_ <= 0) countCaption_->show();
    count_->setText(t.total > 0 ? QStringLiteral("%1 of %2").arg(t.pages).arg(t.total)
                                : QString::number(t.pages));
    lastPages_ = t.pages;
  }
}

void ProgressDialog::SetProgress(std::uint32_t done, std::uint32_t total) {
  if (!isVisible()) return;
  ShowPercent(Worker_Percent(done, total));
}

void ProgressDialog::ShowPercent(int percent) {
  if (percent == lastPercent_) return;
  percent_->setText(QStringLiteral("%1%").arg(percent));
  bar_->setValue(percent);
  lastPercent_ = percent;
}

void ProgressDialog::keyPressEvent(QKeyEvent* event) {
  // Enter would end the dialog as if it were done; only Cancel stops work.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ProgressDialog::reject() {
  cancelled_ = true;
  timer_.stop();
  QDialog::reject();
}

bool RunProgressDialog(ProgressDialog::Kind kind, WorkerShared& shared, QWidget* parent) {
  ProgressDialog dialog(kind, &shared, parent);
  return dialog.exec() == QDialog::Accepted;
}
