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
//
// Commands reach the view through OnCommand (the main window routes them);
// keys, the mouse, the wheel, the scroll bar and four timers drive the text
// view: timer 1 scrolls a selection dragged past the edge, timer 2 lays out
// in the background, timer 3 repeats a tap region's action while the button
// stays down, and timer 4 steps auto-scroll. The timers read the time from a
// ViewClock that tests replace, and OnTimer runs one timer's step.
#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <vector>

#include "app/core/commands.h"
#include "app/core/view_input.h"
#include "engine/runtime/core.h"

class KelpoDoc;
class MainFrame;
class PrintJob;
class ProgressDialog;
struct CommandDialogs;
class QScrollBar;

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
  // After the options changed: new font faces go to the device, the display
  // settings and the full-screen bar rule are applied again, and with
  // relayout the text is laid out anew at the current size; then it repaints.
  void ApplyOptions(bool fontsChanged, bool relayout);
  // Runs the engine's drawing into the surface now (laying out first when
  // the size changed); the widget shows the result.
  void Render();

  // The print job (its device, text view and pagination) stays until the
  // document leaves the view, so printing again reuses its pagination.
  PrintJob* printJob() const { return printJob_.get(); }
  void SetPrintJob(std::unique_ptr<PrintJob> job);
  void ReleasePrintView();

  // Runs a command of the reading view (ids in app/core/commands.h).
  void OnCommand(std::uint16_t id);
  // What the update rules read from this view.
  void FillCommandState(CommandState* state);
  // The browser-style back (1) and forward (2) commands of mice and
  // keyboards; false for other commands.
  bool OnAppCommand(int command);
  // Finds the preferences' search text (again: on from the last hit); tells
  // the user when there is no (further) match.
  void DoFind(bool again);
  // A text view answer to a press, release or key (links, lists, notes).
  void OnTextViewResult(StatusCode result);
  void OnAnnotationResult(StatusCode result);

  // Auto-scroll.
  void StartAutoScroll();
  void StopAutoScroll();
  // The view's timers: ids 1 (selection), 2 (layout), 3 (tap repeat) and 4
  // (auto-scroll). OnTimer runs one step as the timer would.
  void OnTimer(int id);
  // The timer's period in ms, or -1 while it is stopped.
  int timerInterval(int id) const;
  void SetClock(ViewClock* clock) { clock_ = clock; }

  // Scrolling steps of keys, the bar, the wheel and the tap regions.
  void LineUp();
  void LineDown();
  // cross: a screen move at a section's end may go on into the next section.
  void PageUp(bool cross);
  void PageDown(bool cross);
  void ScrollHorizontalBy(std::uint16_t code);

  std::uint16_t viewMode() const { return viewMode_; }
  // A synchronous layout or a worker has the engine: the user-interface
  // thread must leave it alone.
  bool busy() const;
  void SetPercentMode(bool on);
  // Shows the location as a percentage or as page numbers, by the
  // document's location setting (automatic: percentages below three pages).
  // True when the choice changed.
  bool UpdateLocationMode();
  MainFrame* mainFrame() const;
  // The dialog table the view's commands call: the one given here, else its
  // main window's (every entry null for a view alone without one).
  const CommandDialogs& dialogs() const;
  void SetDialogs(const CommandDialogs* dialogs) { dialogs_ = dialogs; }

  EngineObject* device() const { return device_; }
  EngineObject* textView() const { return textView_; }
  KelpoDoc* document() const { return doc_; }
  bool layoutValid() const { return layoutValid_; }
  bool attached() const { return attached_; }
  // History records naming other documents (DocLinks_NewPathRecord) belong
  // to the view while its text view's snapshot stack holds them: given goes
  // in, taken (handed back by the text view) comes out; the rest are freed
  // with the view.
  void ExchangeHistoryRecord(void* given, void* taken);
  // The Go To command: the dialog on the view's page, then its move.
  void OnGoTo();
  // A search has run that Find Again may continue.
  bool findAgainEnabled() const { return (viewMode_ & ViewMode::Searched) != 0; }
  void SetFindAgainEnabled(bool on) {
    viewMode_ = on ? viewMode_ | ViewMode::Searched
                   : static_cast<std::uint16_t>(viewMode_ & ~ViewMode::Searched);
  }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  bool viewportEvent(QEvent* event) override;
  // While a list or note box is open: a press anywhere else in the program
  // reaches the text view (which closes them).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Commands.
  void CopyText(std::uint16_t mode);
  void OnSelectMode();
  void OnBookmarks();
  void OnCategories();
  void OnBackForward(bool forward);
  void OnPageStep(bool next);
  void OnAnnotate();
  bool AssociateAnnotationsFile();
  void OnViewAnnotations();
  void OnAnnotationSettings();
  void EditAnnotation(std::uint16_t index);
  void DeleteAnnotation(std::uint16_t index);
  void Message(std::uint32_t stringId);
  // After a move or a drawing that failed: when the text on the screen or
  // right after it cannot be read, the user is told (once per document).
  void TellUnreadableText(StatusCode answer);
  // Input.
  bool HandleKey(int key, Qt::KeyboardModifiers modifiers);
  void SetAutoScrollSpeed(int speed);
  void AutoScrollStep();
  void RunTapAction(std::uint8_t action);
  void Capture(bool on);
  void OnHScroll(QScrollBar* bar, int action);
  QPoint ViewPoint(const QPoint& p) const;
  bool TimersHeld() const;
  StatusCode Pointer(std::uint16_t code, const QPoint& p);

  void EnsureLayout();
  void ApplyDisplaySettings();
  void ApplyFontFaces();
  StatusCode Navigate(std::uint16_t code, std::uint32_t argument = 0);
  void InitInput();
  void BackgroundLayout();
  static StatusCode LayoutProgress(EngineObject* device, void* state, std::uint32_t done,
                                   std::uint32_t total) noexcept;

  KelpoDoc* doc_;
  EngineObject* device_ = nullptr;
  EngineObject* textView_ = nullptr;
  bool attached_ = false;
  bool unreadableTold_ = false;  // the document's unreadable text was told
  bool layoutValid_ = true;
  std::uint32_t nextViewportFlags_ = 0;  // for the next layout only
  int laidOutWidth_ = -1, laidOutHeight_ = -1;
  bool fullScreen_ = false;
  std::uint16_t viewMode_ = 0;
  WheelAccumulator wheel_;
  ViewClock* clock_ = &ViewClock_System();
  QPoint pressPoint_;         // the last left press, in text view points
  QPoint pointer_;            // the pointer while a button is down
  bool captured_ = false;     // the view holds the mouse
  bool noteOpening_ = false;  // the last press opened a note box
  AutoScrollTiming autoScroll_;
  std::uint8_t autoSpeed_ = 10;
  SpeedDrag speedDrag_;
  QTimer selectTimer_;  // 1
  QTimer tapTimer_;     // 3
  QTimer autoTimer_;    // 4
  std::unique_ptr<PrintJob> printJob_;
  QTimer layoutTimer_;  // background pagination
  // The synchronous layout's progress.
  QElapsedTimer progressClock_;
  QPointer<ProgressDialog> progress_;
  const CommandDialogs* dialogs_ = nullptr;
  bool progressRunning_ = false;
  std::vector<void*> historyRecords_;
};
