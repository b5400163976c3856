#include "app/dialogs/tap_region_ctrl.h"

#include <QMouseEvent>
#include <QPainter>

RegionCtrl::RegionCtrl(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(4 * (fontMetrics().height() + 2) + kRegionFrame);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);
}

void RegionCtrl::SetRegionPercents(const std::array<int, kRegionBands>& percent) {
  drag_ = RegionDrag{};
  RegionBands_Set(&bands_, percent);
  update();
}

std::array<int, kRegionBands> RegionCtrl::GetRegionPercents() const {
  return RegionBands_Get(bands_);
}

void RegionCtrl::LayoutIfNeeded() {
  if (bands_.needsLayout) RegionBands_Layout(&bands_, height(), fontMetrics().height());
}

void RegionCtrl::resizeEvent(QResizeEvent*) {
  // A new height keeps the shares, not the pixel heights.
  if (!drag_.active) bands_.needsLayout = true;
}

QRect RegionCtrl::BandRect(int band) const {
  return QRect(1, RegionBands_Top(bands_, band), width() - 2, bands_.height[band]);
}

void RegionCtrl::paintEvent(QPaintEvent*) {
  LayoutIfNeeded();
  QPainter painter(this);
  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  for (int i = 0; i < kRegionBands - 1; ++i) {
    const int y = RegionBands_Divider(bands_, i);
    painter.drawLine(1, y, width() - 2, y);
  }
  const QColor face = palette().color(QPalette::Button);
  for (int i = 0; i < kRegionBands; ++i) {
    const QRect band = BandRect(i);
    if (band.height() <= 0) continue;
    const bool dragged = drag_.active && (i == drag_.divider || i == drag_.divider + 1);
    if (dragged)
      painter.fillRect(band, QBrush(palette().color(QPalette::Highlight), Qt::Dense4Pattern));
    else
      painter.fillRect(band, face);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(band, Qt::AlignCenter | Qt::TextSingleLine,
                     QString::fromStdString(RegionBands_Label(bands_, i)));
  }
}

void RegionCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  LayoutIfNeeded();
  if (RegionBands_Press(bands_, event->position().toPoint().y(), &drag_)) {
    grabMouse();
    update();
  }
}

void RegionCtrl::mouseMoveEvent(QMouseEvent* event) {
  if (drag_.active && RegionBands_Move(&bands_, &drag_, event->position().toPoint().y())) update();
}

void RegionCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (!drag_.active || event->button() != Qt::LeftButton) return;
  releaseMouse();
  RegionBands_Release(&bands_, &drag_, rect().contains(event->position().toPoint()));
  update();
}
