#include "app/window/kelpo_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "app/core/worker.h"
#include "app/device/win_device.h"
#include "app/window/print_job.h"
#include "app/window/progress_dialog.h"
#include "engine/device/device.h"
#include "engine/formats/doc_handler.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "engine/view/text_view.h"

namespace {

constexpr std::uint16_t kViewMargin = 4;  // the device's margin on each side
constexpr int kLeftGap = 4;               // the view's own gap the text view does not see
constexpr std::uint16_t kViewDefaultOptions = 2;
constexpr std::uint32_t kSynchronousLayout = 0x7FFFFFFF;
constexpr int kBackgroundInterval = 500;  // ms between background layout slices
constexpr int kProgressDelay = 500;       // ms before the layout dialog shows

const DeviceOps& Dev(EngineObject* d) {
  return DeviceOf(d);
}
const TextViewOps& Tv(EngineObject* v) {
  return OpsOf<TextViewOps>(v);
}
std::int16_t Clamp16(int v) {
  return static_cast<std::int16_t>(std::clamp(v, 0, 0x7FFF));
}

}  // namespace

KelpoView::KelpoView(KelpoDoc* doc, QWidget* parent) : QAbstractScrollArea(parent), doc_(doc) {
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);

  EngineObject* module = g_WinDeviceModule;
  if (module != nullptr && !IsFailure(Dev(module).create(module, &device_))) {
    std::uint16_t margin = kViewMargin;
    if (IsFailure(Dev(device_).setProperty(device_, &margin, 0, DeviceProp::Margin)) ||
        IsFailure(Device_SetWindow(device_, this, 0, 0))) {
      (void)Dev(device_).destroy(device_);
      device_ = nullptr;
    }
  } else {
    device_ = nullptr;
  }
  if (device_ != nullptr) {
    // Without the callback a long layout still runs, only without its dialog.
    (void)Dev(device_).posMapCommand(device_, PosMapCode::SetCallback,
                                     reinterpret_cast<void*>(&KelpoView::LayoutProgress), this);
    if (g_TextViewModule != nullptr &&
        !IsFailure(Tv(g_TextViewModule).create(g_TextViewModule, &textView_))) {
      if (IsFailure(Tv(textView_).setDevice(textView_, device_))) {
        (void)Tv(textView_).destroy(textView_);
        textView_ = nullptr;
      } else {
        (void)Tv(textView_).setOptions(textView_, kViewDefaultOptions);  // stores a word: 0
      }
    } else {
      textView_ = nullptr;
    }
  }
  // The device keeps the bar's values; a move by the user goes to the view:
  // steps as lines and screens (a screen from the bar stays in its section),
  // the thumb as a position, the ends as the section's start and end.
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int action) {
    if (textView_ == nullptr || !attached_) return;
    switch (action) {
      case QAbstractSlider::SliderSingleStepSub:
        LineUp();
        break;
      case QAbstractSlider::SliderSingleStepAdd:
        LineDown();
        break;
      case QAbstractSlider::SliderPageStepSub:
        PageUp(false);
        break;
      case QAbstractSlider::SliderPageStepAdd:
        PageDown(false);
        break;
      case QAbstractSlider::SliderToMinimum:
        (void)Navigate(TextViewNav::SectionStart);
        break;
      case QAbstractSlider::SliderToMaximum:
        (void)Navigate(TextViewNav::SectionEnd);
        break;
      case QAbstractSlider::SliderMove: {
        const int position = verticalScrollBar()->sliderPosition();
        if (!IsFailure(
                Tv(textView_).setScrollPosition(textView_, static_cast<std::uint32_t>(position))))
          Render();
        break;
      }
      default:
        break;
    }
  });
  layoutTimer_.setInterval(kBackgroundInterval);
  connect(&layoutTimer_, &QTimer::timeout, this, [this] { OnTimer(2); });
  InitInput();
}

KelpoView::~KelpoView() {
  layoutTimer_.stop();
  selectTimer_.stop();
  tapTimer_.stop();
  autoTimer_.stop();
  // An open drop-down list or note box ends before its document goes.
  if (textView_ != nullptr && attached_)
    (void)Tv(textView_).control(textView_, TextViewControl::EndInteraction, 0,
                                nullptr);  // always 0
  SaveLocalSettings();
  if (textView_ != nullptr) (void)Tv(textView_).destroy(textView_);  // frees in every case
  if (device_ != nullptr) (void)Dev(device_).destroy(device_);
  // The history records the text view held (it freed their blocks).
  for (void* record : historyRecords_)
    Engine_Free(record);
}

void KelpoView::ExchangeHistoryRecord(void* given, void* taken) {
  if (taken != nullptr) std::erase(historyRecords_, taken);
  if (given != nullptr) historyRecords_.push_back(given);
}

void KelpoView::OnInitialUpdate() {
  DocOpenState& s = doc_->state();
  if (s.reader == nullptr || textView_ == nullptr) return;
  unreadableTold_ = false;
  // A handler that cannot give its sections shows nothing; the view stays,
  // and says why it is empty.
  attached_ = !IsFailure(Tv(textView_).attachDocument(textView_, s.reader, s.localSettings.db));
  if (!attached_) {
    Message(StringId::CannotOpenCorrupt);
    return;
  }
  // Opens the document's annotation file when one is associated; a document
  // without one reads on.
  (void)Tv(textView_).annotCommand(textView_, 0, 0, nullptr);
  layoutTimer_.start();
  ApplyFontFaces();
  ApplyDisplaySettings();
  (void)UpdateLocationMode();  // the page bar reads it
  layoutValid_ = false;
  update();
}

bool KelpoView::UpdateLocationMode() {
  const std::uint16_t before = viewMode_;
  switch (doc_->state().locationFlags & 0x30) {
    case 0x20:
      viewMode_ |= ViewMode::Percent;
      break;
    case 0x10:
      viewMode_ &= ~ViewMode::Percent;
      break;
    default: {
      std::uint16_t page = 0, count = 0;
      const bool few = textView_ == nullptr ||
                       IsFailure(Tv(textView_).getPageNumber(textView_, &page, &count)) ||
                       count < 3;
      viewMode_ = few ? (viewMode_ | ViewMode::Percent) : (viewMode_ & ~ViewMode::Percent);
      break;
    }
  }
  return viewMode_ != before;
}

void KelpoView::SetPrintJob(std::unique_ptr<PrintJob> job) {
  printJob_ = std::move(job);
}

void KelpoView::ReleasePrintView() {
  printJob_.reset();
}

void KelpoView::SaveLocalSettings() {
  // The print job's text view reads the same handler: it goes first.
  ReleasePrintView();
  if (textView_ == nullptr || !attached_) return;
  DocOpenState& s = doc_->state();
  const ShellContext& c = doc_->context();
  bool save = false;
  if (c.store != nullptr && s.reader != nullptr && c.prefs != nullptr) {
    switch (static_cast<SaveMode>(c.prefs->saveMode())) {
      case SaveMode::Ask:
        save = c.prompter != nullptr && c.prompter->AskYesNo(StringId::AskSaveLocalSettings);
        break;
      case SaveMode::Never:
        save = false;
        break;
      default:
        save = true;
    }
  }
  if (save) {
    // The view writes its reading state into the local settings; a state it
    // cannot write leaves the one stored before.
    (void)Tv(textView_).control(textView_, TextViewControl::SaveState, 0, nullptr);
    (void)OpsOf<SettingsOps>(c.store).saveDocumentState(
        c.store, &s.localSettings, doc_->path().c_str(), s.locationFlags, s.displayFlags,
        s.displayExtra, s.encoding, s.colourTheme);
    s.settingsNotSaved = false;
  } else {
    s.settingsNotSaved = true;
  }
  (void)Tv(textView_).attachDocument(textView_, nullptr, nullptr);  // a detach cannot fail
  attached_ = false;
}

void KelpoView::ApplyFontFaces() {
  const Preferences* p = doc_->context().prefs;
  if (p == nullptr || device_ == nullptr) return;
  struct Face {
    std::uint16_t kind;
    int face;
  };
  const Face faces[] = {{1, 2}, {2, 3}, {3, 1}, {4, 1}, {5, 4}, {0xFFFF, 1}};
  for (const Face& f : faces) {
    const std::u16string name = p->fontFace(f.face);
    DeviceFaceName request{f.kind, name.c_str()};
    (void)Dev(device_).setProperty(device_, &request, 0, DeviceProp::FaceName);  // stores: 0
  }
}

void KelpoView::ApplyDisplaySettings() {
  const Preferences* p = doc_->context().prefs;
  DocOpenState& s = doc_->state();
  if (p == nullptr || textView_ == nullptr || device_ == nullptr) return;
  const bool layoutOff = (s.displayFlags & 0x20) != 0 || (s.displayFlags & 0x80) != 0;
  std::uint16_t options = (p->scrollFlags() & 1) ? (layoutOff ? 5 : 1) : (layoutOff ? 6 : 2);
  options |= static_cast<std::uint16_t>((p->screenUpBehaviour() & 3) << 4);
  options |= static_cast<std::uint16_t>((p->screenDownBehaviour() & 3) << 6);
  (void)Tv(textView_).setOptions(textView_, options);
  // The view hands the charset to the handler and the device; one it cannot
  // set leaves the default (windows-1252) in force.
  (void)Tv(textView_).control(textView_, TextViewControl::Charset, s.encoding, nullptr);
  std::uint16_t font = static_cast<std::uint16_t>(
      (s.displayFlags & 7) | ((s.displayFlags & 8) ? DeviceDisplay::FixedSizes : 0) |
      ((s.displayFlags & 0x10) ? DeviceDisplay::AllBold : 0));
  (void)Dev(device_).setProperty(device_, &font, 0, DeviceProp::DisplayWord);
  const std::uint16_t align =
      (s.displayFlags & 0x40) ? DocControl::SetFlags : DocControl::ClearFlags;
  (void)OpsOf<DocHandlerOps>(s.reader).control(s.reader, align, 1, nullptr);
  EngineObject* store = doc_->context().store;
  ThemeColour colours[2]{};
  if (s.colourTheme > 0 && store != nullptr &&
      OpsOf<SettingsOps>(store).getThemeColoursByKey(store, s.colourTheme, colours) == kOk) {
    DeviceThemeEntry theme[2];
    for (int i = 0; i < 2; ++i)
      theme[i] = {colours[i].slot, {colours[i].red, colours[i].green, colours[i].blue}};
    (void)Dev(device_).setProperty(device_, theme, 0, DeviceProp::Theme);
  } else {
    (void)Dev(device_).setProperty(device_, nullptr, 0, DeviceProp::Theme);
  }
  layoutValid_ = false;
}

void KelpoView::ApplyOptions(bool fontsChanged, bool relayout) {
  if (fontsChanged) ApplyFontFaces();
  ApplyDisplaySettings();
  SetFullScreen(fullScreen_);
  // The same size lays out again only when asked to.
  if (relayout) nextViewportFlags_ = TextViewViewport::ResetHScroll;
  layoutValid_ = false;
  Render();
}

void KelpoView::EnsureLayout() {
  if (textView_ == nullptr || !attached_) return;
  const QSize size = viewport()->size();
  if (IsFailure(Device_SetWindow(device_, this, Clamp16(size.width()), Clamp16(size.height()))))
    return;
  std::uint32_t interval = kSynchronousLayout;
  (void)Dev(device_).posMapCommand(device_, PosMapCode::SetInterval, &interval, nullptr);
  // A failed viewport keeps the previous table; the next paint tries again.
  const StatusCode laidOut = Tv(textView_).setViewport(
      textView_, nextViewportFlags_, Clamp16(size.width() - 2 * kLeftGap), Clamp16(size.height()));
  if (IsFailure(laidOut)) {
    TellUnreadableText(laidOut);
    return;
  }
  nextViewportFlags_ = 0;
  layoutValid_ = true;
  laidOutWidth_ = size.width();
  laidOutHeight_ = size.height();
}

void KelpoView::Render() {
  // While a worker runs, the engine is the worker's.
  if (textView_ == nullptr || !attached_ || progressRunning_ || Worker_Busy() != WorkerKind::None)
    return;
  if (!layoutValid_) EnsureLayout();
  if (!layoutValid_) return;
  const QSize size = viewport()->size();
  // What failed to draw stays as it was; the next event draws again.
  const StatusCode painted = Tv(textView_).paint(
      textView_, nullptr, 0, 0, Clamp16(size.width() - kLeftGap), Clamp16(size.height()));
  viewport()->update();
  TellUnreadableText(painted);
}

void KelpoView::TellUnreadableText(StatusCode answer) {
  if (!IsFailure(answer) || unreadableTold_ || textView_ == nullptr || !attached_) return;
  EngineObject* reader = doc_->state().reader;
  if (reader == nullptr) return;
  const DocHandlerOps& handler = OpsOf<DocHandlerOps>(reader);
  std::uint32_t length = 0, first = 0, end = 0;
  if (IsFailure(handler.getTextLength(reader, &length)) ||
      IsFailure(Tv(textView_).control(textView_, TextViewControl::FirstStart, 0, &first)) ||
      IsFailure(Tv(textView_).control(textView_, TextViewControl::EndOffset, 0, &end)))
    return;
  // Other failures (a move past the end, a device that could not draw) are
  // not the text's. The screen's text is read from its start, and from its
  // end on into the next stretch the handler gives (the next line may run
  // into it).
  auto readable = [&](std::uint32_t at, std::uint32_t* got) {
    const std::uint8_t* text = nullptr;
    *got = UINT32_MAX;  // as much as the handler gives at once
    return at >= length ||
           (!IsFailure(handler.getText(reader, at, &text, got)) && text != nullptr && *got > 0);
  };
  std::uint32_t got = 0;
  bool unreadable = !readable(first, &got);
  if (!unreadable && end < length) unreadable = !readable(end, &got) || !readable(end + got, &got);
  if (!unreadable) return;
  unreadableTold_ = true;
  Message(StringId::TextUnreadableHere);
}

void KelpoView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QImage* surface = device_ != nullptr ? WinDevice_Surface(device_) : nullptr;
  if (surface != nullptr && !surface->isNull()) {
    painter.fillRect(viewport()->rect(), surface->pixelColor(0, 0));
    painter.drawImage(0, 0, *surface);
  } else {
    painter.fillRect(viewport()->rect(), palette().base());
  }
  // Engine drawing never runs inside a paint event: a stale layout is laid
  // out and drawn right after it.
  if (!layoutValid_ && attached_) QTimer::singleShot(0, this, [this] { Render(); });
}

void KelpoView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  const QSize size = viewport()->size();
  layoutValid_ = size.width() == laidOutWidth_ && size.height() == laidOutHeight_;
  if (!layoutValid_) QTimer::singleShot(0, this, [this] { Render(); });
}

void KelpoView::scrollContentsBy(int, int) {
  // The device moves the bar to where the text view is; nothing to scroll.
}

StatusCode KelpoView::Navigate(std::uint16_t code, std::uint32_t argument) {
  if (textView_ == nullptr || !attached_) return kFailed;
  if (!layoutValid_) Render();
  // A move that cannot happen gives the device's notice; the callers do not
  // test the answer unless they say so.
  const StatusCode s = Tv(textView_).navigate(textView_, code, argument);
  viewport()->update();
  TellUnreadableText(s);
  return s;
}

void KelpoView::BackgroundLayout() {
  if (textView_ == nullptr || !attached_ || TimersHeld() || !layoutValid_ ||
      Worker_Busy() != WorkerKind::None)
    return;
  // With all layout off there is nothing to lay out in the background.
  if (doc_->state().displayFlags & 0x80) return;
  const StatusCode s = Tv(textView_).navigate(textView_, TextViewNav::PaginationSlice, 0);
  // More to do: the next slice soon; done or failed: back to the slow beat.
  layoutTimer_.setInterval(s == kViewMorePagination ? 1 : kBackgroundInterval);
}

void KelpoView::SetFullScreen(bool on) {
  fullScreen_ = on;
  viewMode_ = on ? (viewMode_ | ViewMode::FullScreen) : (viewMode_ & ~ViewMode::FullScreen);
  if (device_ == nullptr) return;
  const std::uint16_t location = doc_->state().locationFlags;
  std::uint32_t shown = (!on || (location & 3) == 3) ? 1 : 0;
  (void)Dev(device_).setProperty(device_, &shown, 0, DeviceProp::VScrollShown);
  setVerticalScrollBarPolicy(shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  layoutValid_ = false;
  viewport()->update();
}

StatusCode KelpoView::LayoutProgress(EngineObject*, void* state, std::uint32_t done,
                                     std::uint32_t total) noexcept {
  auto* view = static_cast<KelpoView*>(state);
  if (done == 0 && total == 0) {  // begins
    view->progressClock_.start();
    view->progressRunning_ = true;
    view->progress_ = new ProgressDialog(ProgressDialog::Kind::Layout, nullptr, view);
    view->progress_->setWindowModality(Qt::ApplicationModal);
    view->progress_->hide();
    return kOk;
  }
  if (total != 0) {  // a step
    ProgressDialog* dialog = view->progress_;
    if (dialog == nullptr) return kOk;
    if (dialog->cancelled()) return kCancelled;
    const int percent = Worker_Percent(done, total);
    if (!dialog->isVisible() && view->progressClock_.elapsed() > kProgressDelay && percent <= 25)
      dialog->show();
    dialog->SetProgress(done, total);
    // Paint and let the dialog's Cancel through, but no other input reaches
    // a view whose layout is half done.
    QApplication::processEvents(dialog->isVisible() ? QEventLoop::AllEvents
                                                    : QEventLoop::ExcludeUserInputEvents);
    return kOk;
  }
  // Ends.
  if (view->progress_ != nullptr) view->progress_->deleteLater();
  view->progress_ = nullptr;
  view->progressRunning_ = false;
  return kOk;
}
