// The reading view: one document shown through one window device and one
// text view, both made with the view and kept for its whole life.
//
// The engine draws into the device's surface outside Qt's paint event (after
// a resize, a scroll or a timer); the paint event only shows that surface.
// A size change marks the layout stale and the next drawing lays out again
// at the new size; a pagination that runs to its end at once shows a
// progress dialog when it takes longer than half a second. The view leaves
// its document in SaveLocalSettings (on destruction), which stores the
// reading state and display values unless the preferences say not to.
#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "engine/runtime/core.h"

class KelpoDoc;
class PrintJob;
class ProgressDialog;

class KelpoView : public QAbstractScrollArea {
 public:
  KelpoView(KelpoDoc* doc, QWidget* parent);
  ~KelpoView() override;

  // Attaches the document (restoring its reading position), applies the
  // display settings and starts the background layout.
  void OnInitialUpdate();
  // Stores what the view knows of its document and detaches it.
  void SaveLocalSettings();
  void SetFullScreen(bool on);
  // Runs the engine's drawing into the surface now (laying out first when
  // the size changed); the widget shows the result.
  void Render();

  // The print job (its device, text view and pagination) stays until the
  // document leaves the view, so printing again reuses its pagination.
  PrintJob* printJob() const { return printJob_.get(); }
  void SetPrintJob(std::unique_ptr<PrintJob> job);
  void ReleasePrintView();

  EngineObject* device() const { return device_; }
  EngineObject* textView() const { return textView_; }
  KelpoDoc* document() const { return doc_; }
  bool layoutValid() const { return layoutValid_; }
  bool attached() const { return attached_; }
  // A search has run that Find Again may continue.
  bool findAgainEnabled() const { return findAgainEnabled_; }
  void SetFindAgainEnabled(bool on) { findAgainEnabled_ = on; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void EnsureLayout();
  void ApplyDisplaySettings();
  void ApplyFontFaces();
  void Navigate(std::uint16_t code);
  void BackgroundLayout();
  static StatusCode LayoutProgress(EngineObject* device, void* state, std::uint32_t done,
                                   std::uint32_t total) noexcept;

  KelpoDoc* doc_;
  EngineObject* device_ = nullptr;
  EngineObject* textView_ = nullptr;
  bool attached_ = false;
  bool layoutValid_ = true;
  int laidOutWidth_ = -1, laidOutHeight_ = -1;
  bool fullScreen_ = false;
  bool findAgainEnabled_ = false;
  int wheelRemainder_ = 0;
  std::unique_ptr<PrintJob> printJob_;
  QTimer layoutTimer_;  // background pagination
  // The synchronous layout's progress.
  QElapsedTimer progressClock_;
  QPointer<ProgressDialog> progress_;
  bool progressRunning_ = false;
};
