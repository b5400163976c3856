// The reading view's input: keys, the mouse, the wheel, the tap regions,
// auto-scroll and the timers.
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "app/core/doc_open.h"
#include "app/core/tap_regions.h"
#include "app/core/worker.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "engine/device/device.h"
#include "engine/view/text_view.h"

namespace {

constexpr int kLeftGap = 4;                  // the view's own gap the text view does not see
constexpr int kSelectInterval = 50;          // timer 1
constexpr int kTapInterval = 50;             // timer 3
constexpr int kAutoInterval = 10;            // timer 4
constexpr std::uint16_t kScrollLineBit = 2;  // scrollFlags: auto-scroll a line at a time

const TextViewOps& Tv(EngineObject* v) {
  return OpsOf<TextViewOps>(v);
}

}  // namespace

void KelpoView::InitInput() {
  setMouseTracking(false);
  selectTimer_.setTimerType(Qt::PreciseTimer);
  tapTimer_.setTimerType(Qt::PreciseTimer);
  autoTimer_.setTimerType(Qt::PreciseTimer);
  connect(&selectTimer_, &QTimer::timeout, this, [this] { OnTimer(1); });
  connect(&tapTimer_, &QTimer::timeout, this, [this] { OnTimer(3); });
  connect(&autoTimer_, &QTimer::timeout, this, [this] { OnTimer(4); });
}

bool KelpoView::busy() const {
  return progressRunning_ || Worker_Busy() != WorkerKind::None;
}

bool KelpoView::TimersHeld() const {
  // A synchronous layout or a worker owns the engine until it ends.
  return busy();
}

int KelpoView::timerInterval(int id) const {
  const QTimer* t = id == 1   ? &selectTimer_
                    : id == 2 ? &layoutTimer_
                    : id == 3 ? &tapTimer_
                    : id == 4 ? &autoTimer_
                              : nullptr;
  return t != nullptr && t->isActive() ? t->interval() : -1;
}

void KelpoView::OnTimer(int id) {
  if (TimersHeld() || textView_ == nullptr || !attached_) return;
  switch (id) {
    case 1:
      if (viewMode_ & ViewMode::Select) {
        (void)Tv(textView_).selectionCommand(textView_, TextViewSelection::AutoScroll, 0);
        viewport()->update();
      }
      break;
    case 2:
      BackgroundLayout();
      break;
    case 3:
      if (viewMode_ & ViewMode::TapRepeat) {
        const Preferences* p = doc_->context().prefs;
        if (p == nullptr) break;
        TapPercents percents{};
        for (int i = 0; i < kTapBandCount; ++i)
          percents[static_cast<std::size_t>(i)] = p->regionPercent(i);
        const int band = TapRegion_At(pointer_.y(), viewport()->height(), percents);
        RunTapAction(p->regionAction(band));
      }
      break;
    case 4:
      AutoScrollStep();
      break;
    default:
      break;
  }
}

void KelpoView::LineUp() {
  (void)Navigate(TextViewNav::LineUp);
}
void KelpoView::LineDown() {
  (void)Navigate(TextViewNav::LineDown);
}
void KelpoView::PageUp(bool cross) {
  (void)Navigate(TextViewNav::ScreenUp, cross ? 1 : 0);
}
void KelpoView::PageDown(bool cross) {
  (void)Navigate(TextViewNav::ScreenDown, cross ? 1 : 0);
}
void KelpoView::ScrollHorizontalBy(std::uint16_t code) {
  if (textView_ == nullptr || !attached_) return;
  // A step that cannot be taken leaves the block where it is.
  (void)Tv(textView_).scrollHorizontal(textView_, 0, code, 0);
  viewport()->update();
}

void KelpoView::RunTapAction(std::uint8_t action) {
  switch (TapRegion_Scroll(action)) {
    case TapScroll::ScreenUp:
      PageUp(false);
      break;
    case TapScroll::LineUp:
      LineUp();
      break;
    case TapScroll::LineDown:
      LineDown();
      break;
    case TapScroll::ScreenDown:
      PageDown(false);
      break;
    case TapScroll::Nothing:
      break;
  }
}

// ---------------------------------------------------------------------------
// Auto-scroll.

void KelpoView::SetAutoScrollSpeed(int speed) {
  autoSpeed_ = static_cast<std::uint8_t>(
      std::clamp(speed, int{kAutoScrollSlowest}, int{kAutoScrollFastest}));
  if (MainFrame* frame = mainFrame()) frame->preferences()->setAutoScrollSpeed(autoSpeed_);
  autoScroll_.rate = AutoScroll_Rate(autoSpeed_);
}

void KelpoView::StartAutoScroll() {
  const Preferences* p = doc_->context().prefs;
  const std::uint8_t stored = p != nullptr ? p->autoScrollSpeed() : 0;
  // An unset or out-of-range speed is corrected in the preferences too.
  SetAutoScrollSpeed(AutoScroll_ClampSpeed(stored));
  viewMode_ &= ~ViewMode::SpeedDrag;
  autoScroll_.Start(AutoScroll_Rate(autoSpeed_), clock_->NowMs());
  viewMode_ |= ViewMode::AutoScroll;
  autoTimer_.start(kAutoInterval);
}

void KelpoView::StopAutoScroll() {
  viewMode_ &= ~ViewMode::AutoScroll;
  autoTimer_.stop();
}

void KelpoView::AutoScrollStep() {
  if (!(viewMode_ & ViewMode::AutoScroll)) return;
  const std::uint32_t now = clock_->NowMs();
  const std::uint64_t owed = autoScroll_.Owed(now);
  if (owed < 0x10000) return;
  const Preferences* p = doc_->context().prefs;
  std::int32_t n = 0;
  if (p == nullptr || !(p->scrollFlags() & kScrollLineBit)) {
    n = AutoScrollTiming::WholePixels(owed);
  } else {
    if (autoScroll_.pendingLine == 0) {
      std::int16_t height = 0;
      if (IsFailure(Tv(textView_).control(textView_, TextViewControl::LineHeight, 0, &height)) ||
          height <= 0) {
        StopAutoScroll();
        return;
      }
      autoScroll_.pendingLine = height;
    }
    if (AutoScrollTiming::WholePixels(owed) < autoScroll_.pendingLine) return;
    n = autoScroll_.pendingLine;
    autoScroll_.pendingLine = 0;
  }
  const StatusCode s = Tv(textView_).pointerEvent(textView_, TextViewPointer::DragScroll, 0,
                                                  static_cast<std::int16_t>(n));
  viewport()->update();
  if (s == kViewDragImpossible) {  // the end of the document
    StopAutoScroll();
    return;
  }
  autoScroll_.Scrolled(now, owed, n);
}

// ---------------------------------------------------------------------------
// The device's horizontal bars of wide blocks.

bool KelpoView::viewportEvent(QEvent* event) {
  // The device makes its bars as children of the viewport; each reports its
  // moves here.
  if (event->type() == QEvent::ChildAdded) {
    auto* bar = qobject_cast<QScrollBar*>(static_cast<QChildEvent*>(event)->child());
    if (bar != nullptr)
      connect(bar, &QAbstractSlider::actionTriggered, this,
              [this, bar](int action) { OnHScroll(bar, action); });
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void KelpoView::OnHScroll(QScrollBar* bar, int action) {
  if (textView_ == nullptr || !attached_ || device_ == nullptr) return;
  std::uint32_t key = 0;
  const uint controlId = bar->property("controlId").toUInt();
  if (IsFailure(DeviceOf(device_).hScrollKeyFromWindow(device_, controlId, &key))) return;
  std::uint16_t code = 0;
  std::uint32_t value = 0;
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      code = 1;
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      code = 2;
      break;
    case QAbstractSlider::SliderPageStepSub:
      code = 3;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      code = 4;
      break;
    case QAbstractSlider::SliderToMinimum:
      code = 5;
      break;
    case QAbstractSlider::SliderToMaximum:
      code = 6;
      break;
    case QAbstractSlider::SliderMove:  // the thumb dragged: the block follows live
      code = 7;
      value = static_cast<std::uint32_t>(std::max(bar->sliderPosition(), 0));
      break;
    default:
      return;
  }
  // A step the block cannot take leaves it where it is.
  (void)Tv(textView_).scrollHorizontal(textView_, key, code, value);
  viewport()->update();
}

// ---------------------------------------------------------------------------
// Keys.

bool KelpoView::focusNextPrevChild(bool) {
  return false;  // Tab moves between links, not out of the view
}

void KelpoView::keyPressEvent(QKeyEvent* event) {
  // Keys the view does not use are not turned into scroll-bar steps: every
  // move goes through the text view.
  if (!HandleKey(event->key(), event->modifiers())) event->ignore();
}

bool KelpoView::HandleKey(int key, Qt::KeyboardModifiers modifiers) {
  if (textView_ == nullptr || !attached_) return false;
  // Keys with Alt, and with Ctrl other than Ctrl+Home and Ctrl+End, are the
  // window's accelerators; one whose command is greyed does nothing here.
  if (modifiers & (Qt::AltModifier | Qt::MetaModifier)) return false;
  if ((modifiers & Qt::ControlModifier) && key != Qt::Key_Home && key != Qt::Key_End) return false;
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
  const bool space = key == Qt::Key_Space;
  auto scrollKeys = [&]() {
    switch (key) {
      case Qt::Key_PageUp:
        PageUp(true);
        return true;
      case Qt::Key_PageDown:
        PageDown(true);
        return true;
      case Qt::Key_Home:
        (void)Navigate(TextViewNav::DocumentStart);
        return true;
      case Qt::Key_End:
        (void)Navigate(TextViewNav::DocumentEnd);
        return true;
      case Qt::Key_Left:
      case Qt::Key_Up:
        LineUp();
        return true;
      case Qt::Key_Right:
      case Qt::Key_Down:
        LineDown();
        return true;
      default:
        return false;
    }
  };
  // An open drop-down list takes the keys.
  if (viewMode_ & ViewMode::ListOpen) {
    if (enter || space) {
      const StatusCode s =
          Tv(textView_).control(textView_, TextViewControl::ListFinish, 0, nullptr);
      viewMode_ &= ~ViewMode::ListOpen;
      OnTextViewResult(s);
      Capture(false);
      viewport()->update();
      return true;
    }
    if (key == Qt::Key_Escape) {
      (void)Tv(textView_).control(textView_, TextViewControl::ListCancel, 0,
                                  nullptr);  // closes in any case
      Capture(false);
      viewMode_ &= ~ViewMode::ListOpen;
      viewport()->update();
      return true;
    }
    return scrollKeys();
  }
  // So does an open note box.
  if (viewMode_ & ViewMode::NoteBox) {
    if (enter || space) {
      // A commit closes the box whether or not a button is chosen.
      const StatusCode s = Tv(textView_).annotCommand(textView_, TextViewAnnot::Commit, 0, nullptr);
      viewMode_ &= ~ViewMode::NoteBox;
      Capture(false);
      viewport()->update();
      OnAnnotationResult(s);
      return true;
    }
    if (key == Qt::Key_Escape) {
      const StatusCode s = Tv(textView_).annotCommand(textView_, TextViewAnnot::Cancel, 0, nullptr);
      viewport()->update();
      OnAnnotationResult(s);
      return true;
    }
    return scrollKeys();
  }
  if ((viewMode_ & ViewMode::FullScreen) && (key == Qt::Key_Escape || enter)) {
    if (MainFrame* frame = mainFrame()) frame->SetFullScreen(false);
    return true;
  }
  if (viewMode_ & ViewMode::AutoScroll) {
    switch (key) {
      case Qt::Key_PageUp:
      case Qt::Key_Up:
        SetAutoScrollSpeed(autoSpeed_ - 1);
        return true;
      case Qt::Key_PageDown:
      case Qt::Key_Down:
        SetAutoScrollSpeed(autoSpeed_ + 1);
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        return true;
      case Qt::Key_Shift:
      case Qt::Key_Control:
      case Qt::Key_Alt:
      case Qt::Key_Meta:
        return false;  // a modifier alone is no key of its own
      default:
        StopAutoScroll();  // and the key does what it always does
        break;
    }
  }
  // A link with the focus.
  if (Tv(textView_).focusCommand(textView_, TextViewFocus::IsShown, 0) == kYes) {
    std::uint16_t move = 0;
    switch (key) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Space: {
        const StatusCode s = Tv(textView_).focusCommand(textView_, TextViewFocus::Activate, 0);
        viewport()->update();
        OnTextViewResult(s);
        return true;
      }
      case Qt::Key_Escape:
        (void)Tv(textView_).focusCommand(textView_, TextViewFocus::Hide, 0);
        viewport()->update();
        return true;
      case Qt::Key_Left:
        move = TextViewFocus::Previous;
        break;
      case Qt::Key_Right:
        move = TextViewFocus::Next;
        break;
      case Qt::Key_Up:
        move = TextViewFocus::Above;
        break;
      case Qt::Key_Down:
        move = TextViewFocus::Below;
        break;
      default:
        break;
    }
    if (move != 0) {
      // A walk that finds no link leaves the focus hidden; nothing to report.
      (void)Tv(textView_).focusCommand(textView_, move, 1);
      viewport()->update();
      return true;
    }
  }
  const bool ctrl = modifiers & Qt::ControlModifier;
  const Preferences* p = doc_->context().prefs;
  auto arrow = [&](ArrowKey k, std::uint8_t choice) {
    switch (Arrow_Action(k, choice)) {
      case ArrowAction::LineUp:
        LineUp();
        break;
      case ArrowAction::LineDown:
        LineDown();
        break;
      case ArrowAction::ScreenUp:
        PageUp(true);
        break;
      case ArrowAction::ScreenDown:
        PageDown(true);
        break;
      case ArrowAction::LineLeft:
        ScrollHorizontalBy(1);
        break;
      case ArrowAction::LineRight:
        ScrollHorizontalBy(2);
        break;
      case ArrowAction::PageLeft:
        ScrollHorizontalBy(3);
        break;
      case ArrowAction::PageRight:
        ScrollHorizontalBy(4);
        break;
    }
    return true;
  };
  switch (key) {
    case Qt::Key_Backspace:
      OnCommand(Cmd::Back);
      return true;
    case Qt::Key_Tab:
      (void)Tv(textView_).focusCommand(textView_, TextViewFocus::Next, 0);
      viewport()->update();
      return true;
    case Qt::Key_Backtab:
      (void)Tv(textView_).focusCommand(textView_, TextViewFocus::Previous, 0);
      viewport()->update();
      return true;
    case Qt::Key_Home:
      (void)Navigate(ctrl ? TextViewNav::DocumentStart : TextViewNav::SectionStart);
      return true;
    case Qt::Key_End:
      (void)Navigate(ctrl ? TextViewNav::DocumentEnd : TextViewNav::SectionEnd);
      return true;
    case Qt::Key_PageUp:
      PageUp(true);
      return true;
    case Qt::Key_PageDown:
      PageDown(true);
      return true;
    case Qt::Key_Up:
      return arrow(ArrowKey::Up, p != nullptr ? p->keyUp() : 1);
    case Qt::Key_Down:
      return arrow(ArrowKey::Down, p != nullptr ? p->keyDown() : 2);
    case Qt::Key_Left:
      return arrow(ArrowKey::Left, p != nullptr ? p->keyLeft() : 1);
    case Qt::Key_Right:
      return arrow(ArrowKey::Right, p != nullptr ? p->keyRight() : 2);
    case Qt::Key_Back:
      return OnAppCommand(1);
    case Qt::Key_Forward:
      return OnAppCommand(2);
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// The mouse.

QPoint KelpoView::ViewPoint(const QPoint& p) const {
  return {std::max(p.x() - kLeftGap, 0), p.y()};
}

StatusCode KelpoView::Pointer(std::uint16_t code, const QPoint& p) {
  const StatusCode s = Tv(textView_).pointerEvent(
      textView_, code, static_cast<std::int16_t>(std::clamp(p.x(), -0x8000, 0x7FFF)),
      static_cast<std::int16_t>(std::clamp(p.y(), -0x8000, 0x7FFF)));
  viewport()->update();
  return s;
}

void KelpoView::Capture(bool on) {
  // While a button is down the view has every move already; an open list or
  // note box keeps the mouse until it closes: a press elsewhere in the
  // program comes here too (eventFilter).
  captured_ = on;
  if (on)
    qApp->installEventFilter(this);
  else
    qApp->removeEventFilter(this);
}

bool KelpoView::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (event->type() == QEvent::MouseButtonPress && widget != nullptr && widget != viewport() &&
      !viewport()->isAncestorOf(widget) && (viewMode_ & (ViewMode::ListOpen | ViewMode::NoteBox)) &&
      textView_ != nullptr && attached_ && !busy()) {
    const QPoint global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    const StatusCode s =
        Pointer(TextViewPointer::Press, ViewPoint(viewport()->mapFromGlobal(global)));
    if (viewMode_ & ViewMode::NoteBox) {
      if (s != kViewNoteBoxOpen) {
        viewMode_ &= ~ViewMode::NoteBox;
        Capture(false);
        OnAnnotationResult(s);
      }
    } else if (s != kViewListOpen) {
      viewMode_ &= ~ViewMode::ListOpen;
      Capture(false);
      if (s != kViewListCancelled) OnTextViewResult(s);
    }
  }
  return QAbstractScrollArea::eventFilter(watched, event);
}

void KelpoView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::BackButton || event->button() == Qt::ForwardButton) {
    (void)OnAppCommand(event->button() == Qt::BackButton ? 1 : 2);
    return;
  }
  if (event->button() != Qt::LeftButton || textView_ == nullptr || !attached_) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const QPoint client = event->position().toPoint();
  Capture(true);
  pressPoint_ = ViewPoint(client);
  pointer_ = client;
  noteOpening_ = false;
  if (viewMode_ & ViewMode::AutoScroll) {
    speedDrag_ = SpeedDrag{client.y(), false};
    return;
  }
  if (viewMode_ & ViewMode::Select) {
    (void)Pointer(TextViewPointer::SelectPress, pressPoint_);
    selectTimer_.start(kSelectInterval);
    return;
  }
  const StatusCode s = Pointer(TextViewPointer::Press, pressPoint_);
  if (s == kViewLinkPressed) return;
  if (s == kViewListOpen) {
    viewMode_ |= ViewMode::ListOpen;
    return;
  }
  if (s == kViewListCancelled) {
    viewMode_ &= ~ViewMode::ListOpen;
    Capture(false);
    return;
  }
  if (s == kViewNoteBoxOpen) {
    viewMode_ |= ViewMode::NoteBox;
    noteOpening_ = true;
    return;
  }
  if (s == kViewNoteBoxClosed) {
    viewMode_ &= ~ViewMode::NoteBox;
    return;
  }
  const Preferences* p = doc_->context().prefs;
  if (p == nullptr) return;
  TapPercents percents{};
  for (int i = 0; i < kTapBandCount; ++i)
    percents[static_cast<std::size_t>(i)] = p->regionPercent(i);
  const std::uint8_t action =
      p->regionAction(TapRegion_At(client.y(), viewport()->height(), percents));
  if (TapRegion_IsDrag(action)) return;  // the press stays with the text view
  // The band scrolls instead: the text view lets go of the press first.
  (void)Pointer(TextViewPointer::Release, pressPoint_);
  RunTapAction(action);
  viewMode_ |= ViewMode::TapRepeat;
  tapTimer_.start(kTapInterval);
}

void KelpoView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || textView_ == nullptr || !attached_) return;
  const QPoint client = event->position().toPoint();
  pointer_ = client;
  if (viewMode_ & ViewMode::AutoScroll) {
    const int steps = speedDrag_.Move(client.y(), viewport()->height());
    if (speedDrag_.started) viewMode_ |= ViewMode::SpeedDrag;
    if (steps != 0) SetAutoScrollSpeed(autoSpeed_ + steps);
    return;
  }
  if (viewMode_ & ViewMode::TapRepeat) return;
  (void)Pointer(
      (viewMode_ & ViewMode::Select) ? TextViewPointer::SelectMove : TextViewPointer::Move,
      ViewPoint(client));
}

void KelpoView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !captured_ || textView_ == nullptr || !attached_) {
    QAbstractScrollArea::mouseReleaseEvent(event);
    return;
  }
  const QPoint client = event->position().toPoint();
  const QPoint point = ViewPoint(client);
  if (viewMode_ & ViewMode::AutoScroll) {
    if (viewMode_ & ViewMode::SpeedDrag)
      viewMode_ &= ~ViewMode::SpeedDrag;
    else
      StopAutoScroll();  // a plain click
  } else if (viewMode_ & ViewMode::Select) {
    selectTimer_.stop();
    (void)Pointer(TextViewPointer::SelectRelease, point);
    if (point != pressPoint_) {
      // The selection's context menu: Copy and Annotate.
      auto* menu = new QMenu(this);
      menu->setAttribute(Qt::WA_DeleteOnClose);
      for (std::uint16_t id : Command_SelectionMenu()) {
        QAction* a = menu->addAction(QString::fromUtf8(Command_SelectionMenuText(id)));
        CommandState state;
        FillCommandState(&state);
        a->setEnabled(Command_Update(id, state).enabled);
        connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
      }
      menu->popup(viewport()->mapToGlobal(client));
    }
  } else if (viewMode_ & ViewMode::TapRepeat) {
    tapTimer_.stop();
    viewMode_ &= ~ViewMode::TapRepeat;
  } else if (noteOpening_ && (viewMode_ & ViewMode::NoteBox) &&
             (point - pressPoint_).manhattanLength() < QApplication::startDragDistance()) {
    // The release of the click that opened a note box leaves it open, as a
    // drop-down list ignores its own opening release; a drag from the note
    // onto a button still chooses it.
  } else {
    const StatusCode s = Pointer(TextViewPointer::Release, point);
    if (s != kViewListOpen) viewMode_ &= ~ViewMode::ListOpen;
    if ((viewMode_ & ViewMode::NoteBox) && s != kViewNoteBoxOpen) {
      viewMode_ &= ~ViewMode::NoteBox;
      Capture(false);
      OnAnnotationResult(s);
    } else {
      Capture(false);
      OnTextViewResult(s);
    }
  }
  noteOpening_ = false;
  if (!(viewMode_ & (ViewMode::ListOpen | ViewMode::NoteBox))) Capture(false);
}

void KelpoView::wheelEvent(QWheelEvent* event) {
  event->accept();
  if (textView_ == nullptr || !attached_) return;
  // High-resolution wheels send parts of a notch; each whole notch scrolls.
  const int notches = wheel_.Add(event->angleDelta().y());
  if (notches == 0) return;
  const WheelPlan plan = Wheel_Plan(QApplication::wheelScrollLines());
  for (int i = 0; i < std::abs(notches); ++i) {
    const bool up = notches > 0;
    if (plan.kind == WheelPlan::Screen) {
      up ? PageUp(false) : PageDown(false);
    } else {
      for (std::uint32_t line = 0; line < plan.lines; ++line)
        up ? LineUp() : LineDown();
    }
  }
}
