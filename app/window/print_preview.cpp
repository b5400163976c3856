#include "app/window/print_preview.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/window/print_job.h"

namespace {

constexpr int kGap = 12;  // pixels round and between the sheets
// The zoom levels as multiples of the scale that fits one whole sheet.
constexpr double kZoom[PrintPreview::kZoomLevels] = {1.0, 1.75, 3.0};
constexpr double kLargestSide = 4096;  // a shown sheet's largest side in pixels

}  // namespace

// The grey desk the sheets lie on.
class PreviewSheets : public QWidget {
 public:
  explicit PreviewSheets(PrintPreview* preview) : preview_(preview) {
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  // A sheet's size on the screen (it is drawn at the screen's pixel ratio).
  static QSize Shown(const QImage& sheet) { return sheet.deviceIndependentSize().toSize(); }

  // The size the sheets on show need.
  QSize Needed() const {
    int width = kGap, height = 0;
    for (const QImage& sheet : preview_->sheets_) {
      if (sheet.isNull()) continue;
      const QSize size = Shown(sheet);
      width += size.width() + kGap;
      height = std::max(height, size.height());
    }
    return {width, height + 2 * kGap};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(128, 128, 128));
    const QSize need = Needed();
    int x = std::max(kGap, (width() - need.width()) / 2 + kGap);
    for (const QImage& sheet : preview_->sheets_) {
      if (sheet.isNull()) continue;
      const QSize size = Shown(sheet);
      const int y = std::max(kGap, (height() - size.height()) / 2);
      p.fillRect(x + 3, y + 3, size.width(), size.height(), QColor(64, 64, 64));  // shadow
      p.drawImage(QPoint(x, y), sheet);
      p.setPen(Qt::black);
      p.drawRect(x - 1, y - 1, size.width() + 1, size.height() + 1);
      x += size.width() + kGap;
    }
  }

 private:
  PrintPreview* preview_;
};

PrintPreview::PrintPreview(PrintJob* job, QPrinter* printer, std::uint32_t startPage,
                           QWidget* parent)
    : QDialog(parent), job_(job), printer_(printer), count_(job->pageCount()) {
  setWindowTitle(QStringLiteral("Print Preview"));
  page_ = std::clamp<std::uint32_t>(startPage, 1, std::max<std::uint32_t>(count_, 1));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  const char* const names[ButtonCount] = {"&Print...", "&Next Page", "Pre&v Page", "&Two Page",
                                          "Zoom &In",  "Zoom &Out",  "&Close"};
  for (int b = 0; b < ButtonCount; ++b) {
    buttons_[b] = new QPushButton(QString::fromUtf8(names[b]), this);
    buttons_[b]->setAutoDefault(false);
    row->addWidget(buttons_[b]);
  }
  pageBox_ = new QSpinBox(this);
  pageBox_->setRange(1, static_cast<int>(std::clamp<std::uint32_t>(count_, 1, INT32_MAX)));
  pageBox_->setKeyboardTracking(false);
  pageLabel_ = new QLabel(this);
  row->addSpacing(kGap);
  row->addWidget(pageBox_);
  row->addWidget(pageLabel_);
  row->addStretch();
  layout->addLayout(row);
  area_ = new QScrollArea(this);
  area_->setAlignment(Qt::AlignCenter);
  area_->setBackgroundRole(QPalette::Dark);
  canvas_ = new PreviewSheets(this);
  area_->setWidget(canvas_);
  area_->setWidgetResizable(true);
  layout->addWidget(area_, 1);

  connect(buttons_[Print], &QPushButton::clicked, this, [this] {
    printRequested_ = true;
    accept();
  });
  connect(buttons_[Close], &QPushButton::clicked, this, &QDialog::reject);
  connect(buttons_[Next], &QPushButton::clicked, this,
          [this] { GoToPage(page_ + (twoPages() ? 2 : 1)); });
  connect(buttons_[Prev], &QPushButton::clicked, this, [this] {
    const std::uint32_t step = twoPages() ? 2 : 1;
    GoToPage(page_ > step ? page_ - step : 1);
  });
  connect(buttons_[TwoPage], &QPushButton::clicked, this, [this] {
    two_ = !two_;
    Schedule();
  });
  connect(buttons_[ZoomIn], &QPushButton::clicked, this, [this] {
    zoom_ = std::min(zoom_ + 1, kZoomLevels - 1);
    Schedule();
  });
  connect(buttons_[ZoomOut], &QPushButton::clicked, this, [this] {
    zoom_ = std::max(zoom_ - 1, 0);
    Schedule();
  });
  connect(pageBox_, &QSpinBox::valueChanged, this,
          [this](int value) { GoToPage(static_cast<std::uint32_t>(std::max(value, 1))); });

  // A sheet and a bit of the desk on most screens.
  const QScreen* screen = parent != nullptr && parent->screen() != nullptr
                              ? parent->screen()
                              : QGuiApplication::primaryScreen();
  const QSize room = screen != nullptr ? screen->availableSize() : QSize(1024, 768);
  resize(std::min(760, room.width() * 9 / 10), std::min(900, room.height() * 9 / 10));
  UpdateControls();
  Schedule();
}

PrintPreview::~PrintPreview() = default;

void PrintPreview::GoToPage(std::uint32_t page) {
  if (count_ == 0) return;
  page = std::clamp<std::uint32_t>(page, 1, count_);
  if (page == page_) return;
  page_ = page;
  UpdateControls();
  Schedule();
}

void PrintPreview::Schedule() {
  UpdateControls();
  if (scheduled_) return;
  scheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    if (scheduled_) Refresh();
  });
}

double PrintPreview::FitScale(int sheets) const {
  const QRectF paper = printer_->paperRect(QPrinter::DevicePixel);
  if (paper.width() <= 0 || paper.height() <= 0) return 0;
  const QSize room = area_->maximumViewportSize();
  const double across = (room.width() - (sheets + 1) * kGap) / (sheets * paper.width());
  const double down = (room.height() - 2 * kGap) / paper.height();
  return std::max(0.0, std::min(across, down));
}

void PrintPreview::Refresh() {
  scheduled_ = false;
  // A sheet whose drawing shows a progress dialog lets events in: what they
  // ask for is drawn once it is done.
  if (refreshing_) {
    Schedule();
    return;
  }
  if (count_ == 0) return;
  refreshing_ = true;
  const QRectF paper = printer_->paperRect(QPrinter::DevicePixel);
  double scale = zoom_ == 0 ? FitScale(two_ ? 2 : 1) : FitScale(1) * kZoom[zoom_];
  // Drawn at the screen's own pixels, however many a point of the window
  // takes.
  const double ratio = std::max(1.0, devicePixelRatioF());
  const double side = std::max(paper.width(), paper.height()) * ratio;
  if (side > 0) scale = std::min(scale, kLargestSide / side);
  const std::array<std::uint32_t, 2> want{page_, twoPages() && page_ < count_ ? page_ + 1 : 0};
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (want[i] == sheetPages_[i] && scale == sheetScale_ && !sheets_[i].isNull()) continue;
    sheets_[i] = QImage();  // given back before the next one is drawn
    sheetPages_[i] = want[i];
    if (want[i] == 0 || scale <= 0) continue;
    sheets_[i] = job_->PreviewPage(printer_, want[i], scale * ratio);
    sheets_[i].setDevicePixelRatio(ratio);
    ++drawn_;
  }
  sheetScale_ = scale;
  area_->setWidgetResizable(zoom_ == 0);
  if (zoom_ != 0) canvas_->resize(canvas_->Needed());
  canvas_->update();
  refreshing_ = false;
}

void PrintPreview::UpdateControls() {
  const std::uint32_t shown = twoPages() && page_ < count_ ? 2 : 1;
  buttons_[Next]->setEnabled(page_ + shown <= count_);
  buttons_[Prev]->setEnabled(page_ > 1);
  buttons_[TwoPage]->setText(two_ ? QStringLiteral("&One Page") : QStringLiteral("&Two Page"));
  buttons_[TwoPage]->setEnabled(zoom_ == 0 && count_ > 1);
  buttons_[ZoomIn]->setEnabled(zoom_ < kZoomLevels - 1);
  buttons_[ZoomOut]->setEnabled(zoom_ > 0);
  buttons_[Print]->setEnabled(count_ != 0);
  {
    const QSignalBlocker quiet(pageBox_);
    pageBox_->setValue(static_cast<int>(page_));
  }
  pageLabel_->setText(shown == 2 ? QStringLiteral("and %1 of %2").arg(page_ + 1).arg(count_)
                                 : QStringLiteral("of %1").arg(count_));
}

void PrintPreview::keyPressEvent(QKeyEvent* event) {
  const std::uint32_t step = twoPages() ? 2 : 1;
  switch (event->key()) {
    case Qt::Key_PageDown:
      GoToPage(page_ + step);
      return;
    case Qt::Key_PageUp:
      GoToPage(page_ > step ? page_ - step : 1);
      return;
    case Qt::Key_Home:
      GoToPage(1);
      return;
    case Qt::Key_End:
      GoToPage(count_);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();  // Enter neither prints nor closes
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void PrintPreview::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (zoom_ == 0) Schedule();
}
