// The tap-region control of the Options sheet: the reading view's four
// stacked tap regions as bands whose heights are the regions' shares of the
// view, with a label "[n] pp%" each. Dragging the line between two bands
// moves it; a drag released outside the control is undone.
#pragma once

#include <QWidget>
#include <array>

#include "app/core/tap_region_control.h"

class RegionCtrl : public QWidget {
 public:
  explicit RegionCtrl(QWidget* parent = nullptr);
  // Sums over 100 become four quarters.
  void SetRegionPercents(const std::array<int, kRegionBands>& percent);
  // Always sums to 100 (the last region takes what the others leave).
  std::array<int, kRegionBands> GetRegionPercents() const;
  const RegionBands& bands() const { return bands_; }
  bool dragging() const { return drag_.active; }

  QSize sizeHint() const override { return {120, 200}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void LayoutIfNeeded();
  QRect BandRect(int band) const;

  RegionBands bands_;
  RegionDrag drag_;
};
