#include "app/window/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <cerrno>
#include <iterator>

#include "app/core/strings.h"
#include "app/core/worker.h"
#include "app/window/kelpo_view.h"
#include "app/window/local_files.h"
#include "app/window/qt_settings_store.h"
#include "engine/runtime/dict.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/path.h"

namespace {

const SettingsOps& Store(EngineObject* s) {
  return OpsOf<SettingsOps>(s);
}

QString Text(std::uint32_t id) {
  return QString::fromUtf8(Resource_String(id));
}

// Message boxes with the string table's texts.
class BoxPrompter : public Prompter {
 public:
  explicit BoxPrompter(QWidget* parent) : parent_(parent) {}
  void Message(std::uint32_t id, Icon icon) override {
    const QMessageBox::Icon shown = icon == Icon::Question ? QMessageBox::Question
                                    : icon == Icon::Error  ? QMessageBox::Critical
                                                           : QMessageBox::Warning;
    QMessageBox box(shown, QStringLiteral("Kelpo"), Text(id), QMessageBox::Ok, parent_);
    box.exec();
  }
  bool AskYesNo(std::uint32_t id) override {
    return QMessageBox::question(parent_, QStringLiteral("Kelpo"), Text(id),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }

 private:
  QWidget* parent_;
};

// A document's child window: it owns the document and its view, and the view
// goes first (it saves the local settings the document still holds).
class ChildFrame : public QMdiSubWindow {
 public:
  ChildFrame(std::unique_ptr<KelpoDoc> doc, const QString& canonical)
      : doc_(std::move(doc)), canonical_(canonical) {
    setAttribute(Qt::WA_DeleteOnClose);
    view_ = new KelpoView(doc_.get(), this);
    setWidget(view_);
    setWindowTitle(LocalFile_ShownFileName(canonical));
  }
  ~ChildFrame() override {
    delete view_;  // before the document it reads
    view_ = nullptr;
  }
  KelpoView* view() const { return view_; }
  const QString& canonical() const { return canonical_; }
  // The document now shows another file (a link opened it in place).
  void SetCanonical(const QString& canonical) {
    canonical_ = canonical;
    setWindowTitle(LocalFile_ShownFileName(canonical));
  }
  // Full screen: the place and size kept on entering come back on leaving;
  // a window opened meanwhile keeps the state it has.
  void SavePlacement() {
    takeAreaOnResize_ = false;
    savedGeometry_ = isMaximized() || isMinimized() ? QRect() : geometry();
    savedState_ = windowState();
    placementSaved_ = true;
  }
  // In full screen a document's text covers the whole area, its frame and
  // title bar lying outside; the window stays normal, so every document
  // does (the area maximises one window at a time). That place is also the
  // largest the window may take, by dragging its edges or otherwise, for as
  // long as full screen lasts.
  void FillArea(const QRect& area) {
    showNormal();
    const QWidget* content = widget();
    const int left = content->x(), top = content->y();
    const int right = width() - content->geometry().right() - 1;
    const int bottom = height() - content->geometry().bottom() - 1;
    const QRect place = area.adjusted(-left, -top, right, bottom);
    setMaximumSize(place.size());
    setGeometry(place);
  }
  // A window without a kept place (opened in full screen) takes the area.
  // Out of full screen a window may grow as large as it likes again.
  void RestorePlacement(const QRect& area) {
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (!placementSaved_) {
      showNormal();
      setGeometry(area);
      takeAreaOnResize_ = true;  // the area may still be settling
      return;
    }
    placementSaved_ = false;
    if (savedState_ & (Qt::WindowMaximized | Qt::WindowMinimized)) {
      setWindowState(savedState_);
      return;
    }
    showNormal();
    if (savedGeometry_.isValid()) setGeometry(savedGeometry_);
  }

 private:
  std::unique_ptr<KelpoDoc> doc_;
  KelpoView* view_ = nullptr;
  QString canonical_;
  QRect savedGeometry_;
  Qt::WindowStates savedState_;
  bool placementSaved_ = false;

 public:
  bool takeAreaOnResize_ = false;
};

}  // namespace

MainFrame::MainFrame(QtSettingsStore* settings, Preferences* prefs, WindowState* windowState,
                     const CommandDialogs* dialogs)
    : settings_(settings), dialogs_(dialogs), prefs_(prefs), windowState_(windowState) {
  static const CommandDialogs kNone;
  if (dialogs_ == nullptr) dialogs_ = &kNone;
  setWindowTitle(QStringLiteral("Kelpo"));
  setAcceptDrops(true);
  prompter_ = std::make_unique<BoxPrompter>(this);
  printSetup_ = std::make_unique<QPrinter>(QPrinter::HighResolution);

  std::uint32_t flags = 0;
  if (g_SettingsModule == nullptr ||
      IsFailure(Store(g_SettingsModule).openStore(g_SettingsModule, &flags, &store_))) {
    store_ = nullptr;
    QMessageBox::warning(this, QString(), QStringLiteral("Failed to initialize settings"));
  } else {
    if (flags & kSettingsFirstRun) CreateDefaultCategories();
    if (flags & kSettingsCategoriesDamaged) {
      // Once, when the window is up: the file stays as it is, and so do the
      // documents' categories.
      QTimer::singleShot(0, this, [this] {
        QMessageBox::warning(this, QStringLiteral("Kelpo"),
                             QStringLiteral("The category file is damaged. It is kept as it is, "
                                            "and the categories cannot be used until it is "
                                            "repaired or removed."));
      });
    }
  }
  context_ = {prefs_, store_, prompter_.get()};

  mdi_ = new QMdiArea(this);
  mdi_->setViewMode(QMdiArea::SubWindowView);
  setCentralWidget(mdi_);
  CreateActions();
  statusBar()->showMessage(QStringLiteral("Ready"));
  // The lock keys' indicators right of the message, greyed while the lock is off.
  for (const char* name : {"CAP", "NUM", "SCRL"}) {
    auto* indicator = new QLabel(QString::fromLatin1(name));
    indicator->setEnabled(false);
    statusBar()->addPermanentWidget(indicator);
    indicators_.push_back(indicator);
  }

  const QRect area = screen() != nullptr ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  if (Prefs_WindowRectUsable(*windowState_, {area.left(), area.top(), area.right(), area.bottom()}))
    setGeometry(windowState_->x, windowState_->y, windowState_->width, windowState_->height);
  else
    resize(900, 700);
}

MainFrame::~MainFrame() {
  // No command state is asked of documents on their way out.
  updateTimer_.stop();
  disconnect(mdi_, nullptr, this, nullptr);
  // Documents go before the store their local settings belong to (closed
  // windows still waiting for deletion included).
  CloseAllDocuments();
  if (store_ != nullptr) (void)Store(store_).closeStore(store_);  // frees in every case
  store_ = nullptr;
}

void MainFrame::CloseAllDocuments() {
  qDeleteAll(mdi_->findChildren<QMdiSubWindow*>());
}

void MainFrame::CreateDefaultCategories() {
  EngineObject* dict = nullptr;
  if (IsFailure(Store(store_).getCategorySet(store_, &dict)) || dict == nullptr) return;
  const QStringList names = Text(StringId::DefaultCategories).split(u'\n', Qt::SkipEmptyParts);
  bool added = false;
  for (const QString& name : names) {
    const std::u16string wide = name.toStdU16String();
    std::uint16_t id = 0;
    if (IsFailure(Dict_AddPath(dict, nullptr, wide.c_str(), static_cast<std::uint32_t>(wide.size()),
                               1, 0, &id)))
      break;
    added = true;
  }
  // Without a saved file the categories come back next start and are added
  // again: nothing is lost.
  if (added) (void)Store(store_).saveCategories(store_);
}

void MainFrame::CheckSizeBudget() {
  if (store_ == nullptr) return;
  std::uint32_t used = 0;
  const std::uint32_t limit = prefs_->localSettingsLimitKB();
  // A limit of 0 would offer to delete every document's settings at each
  // start: it means no limit.
  if (limit == 0) return;
  if (Store(store_).checkSizeBudget(store_, limit, 0, &used) != kSettingsOverBudget) return;
  QString text = Text(StringId::LocalSettingsOverLimit);
  text.replace(text.indexOf(QStringLiteral("%lu")), 3, QString::number(used));
  text.replace(text.indexOf(QStringLiteral("%lu")), 3, QString::number(limit));
  if (QMessageBox::question(this, QStringLiteral("Kelpo"), text,
                            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
    // Pruning answers the over-limit status it started from.
    (void)Store(store_).checkSizeBudget(store_, limit, 1, &used);
  }
}

QAction* MainFrame::MakeAction(const CommandInfo& info) {
  auto* a = new QAction(QString::fromUtf8(info.text), this);
  a->setData(info.id);
  a->setCheckable(info.checkable);
  QList<QKeySequence> keys;
  for (const char* k : info.keys)
    if (k != nullptr) keys.append(QKeySequence(QString::fromUtf8(k), QKeySequence::PortableText));
  a->setShortcuts(keys);
  const std::uint16_t id = info.id;
  // A checkable item must not flip itself: its update rule sets the check.
  connect(a, &QAction::triggered, this, [this, id, a] {
    if (a->isCheckable()) a->setChecked(!a->isChecked());
    RunCommand(id);
  });
  // The window itself holds the action, so the accelerators work while the
  // menu bar is hidden (full screen).
  addAction(a);
  actions_.insert(id, a);
  return a;
}

void MainFrame::CreateActions() {
  for (const CommandInfo& info : Command_Table())
    MakeAction(info);
  for (MenuId m : {MenuId::File, MenuId::Edit, MenuId::View, MenuId::Go, MenuId::Bookmarks,
                   MenuId::Tools, MenuId::Window, MenuId::Help}) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(Command_MenuTitle(m)));
    menus_.insert(static_cast<int>(m), menu);
    for (std::uint16_t id : Command_MenuItems(m)) {
      if (id == 0) {
        menu->addSeparator();
      } else if (id == kMenuRecentFiles) {
        recentMenu_ = menu->addMenu(QStringLiteral("Recent &Files"));
        RefreshRecentMenu();
      } else {
        menu->addAction(action(id));
      }
    }
    // Opening any menu stops auto-scroll in every view, and the items show
    // what they can do now.
    connect(menu, &QMenu::aboutToShow, this, [this] {
      for (KelpoView* view : Views())
        view->StopAutoScroll();
      UpdateCommands();
    });
  }
  // The Window menu lists the open documents below its commands.
  QMenu* window = menu(MenuId::Window);
  connect(window, &QMenu::aboutToShow, this, [this, window] {
    for (QAction* a : window->actions())
      if (a->property("kelpoDocument").toBool()) window->removeAction(a), a->deleteLater();
    const QList<QMdiSubWindow*> children = mdi_->subWindowList();
    if (!children.isEmpty()) {
      QAction* separator = window->addSeparator();
      separator->setProperty("kelpoDocument", true);
    }
    for (int i = 0; i < children.size(); ++i) {
      QMdiSubWindow* child = children[i];
      QAction* a = window->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(child->windowTitle()),
                                     this, [this, child] { mdi_->setActiveSubWindow(child); });
      a->setProperty("kelpoDocument", true);
      a->setCheckable(true);
      a->setChecked(child == mdi_->activeSubWindow());
    }
  });

  QToolBar* main = addToolBar(QStringLiteral("Menu"));
  for (std::uint16_t id : {Cmd::Open, Cmd::SaveAs, Cmd::Print, Cmd::Copy})
    main->addAction(action(id));
  navigationBar_ = addToolBar(QStringLiteral("Navigation"));
  for (std::uint16_t id : {Cmd::SelectMode, Cmd::Find, Cmd::FindAgain, Cmd::Back, Cmd::Forward,
                           Cmd::Bookmarks, Cmd::Home})
    navigationBar_->addAction(action(id));
  navigationBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  // The page bar: "<", the location (Go To) and ">".
  QToolBar* go = addToolBar(QStringLiteral("Go To"));
  auto button = [this, go](std::uint16_t id, const QString& text) {
    auto* a = new QAction(text, this);
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { RunCommand(id); });
    actions_.insert(id, a);
    go->addAction(a);
    return a;
  };
  button(Cmd::PreviousPage, QStringLiteral("<"));
  goToButton_ = action(Cmd::GoToButton);
  go->addAction(goToButton_);
  button(Cmd::NextPage, QStringLiteral(">"));
  toolBars_ = {main, navigationBar_, go};

  connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { UpdateCommands(); });
  updateTimer_.setInterval(250);
  connect(&updateTimer_, &QTimer::timeout, this, [this] {
    UpdateCommands();
    UpdateIndicators();
  });
  updateTimer_.start();
  UpdateCommands();
}

QAction* MainFrame::action(std::uint16_t id) const {
  const QList<QAction*> list = actions_.values(id);
  return list.isEmpty() ? nullptr : list.back();  // values() lists the newest first
}

QMenu* MainFrame::menu(MenuId id) const {
  return menus_.value(static_cast<int>(id), nullptr);
}

KelpoView* MainFrame::ActiveView() const {
  // The document last activated, also while a message box or another
  // window has the focus.
  QMdiSubWindow* active = mdi_->currentSubWindow();
  if (active == nullptr) {
    const QList<QMdiSubWindow*> children = mdi_->subWindowList();
    if (children.size() != 1) return nullptr;
    active = children.front();
  }
  // A document window being destroyed is no longer a document's.
  auto* frame = dynamic_cast<ChildFrame*>(active);
  return frame != nullptr ? frame->view() : nullptr;
}

QPoint MainFrame::BookmarksAnchor() const {
  QAction* back = action(Cmd::Back);
  QWidget* button = navigationBar_ != nullptr ? navigationBar_->widgetForAction(back) : nullptr;
  if (button == nullptr) return mapToGlobal(QPoint(0, 0));
  const QRect item = button->geometry();
  return navigationBar_->mapToGlobal(QPoint(item.right() + 1, item.top()));
}

CommandState MainFrame::CurrentCommandState() const {
  CommandState s;
  s.storeOpen = store_ != nullptr;
  EngineObject* dict = nullptr;
  std::uint16_t first = 0xFFFF;
  s.hasCategory = store_ != nullptr && !IsFailure(Store(store_).getCategorySet(store_, &dict)) &&
                  dict != nullptr &&
                  !IsFailure(Dict_GetRelative(dict, 0xFFFF, kDictFirstChild, &first)) &&
                  first != 0xFFFF;
  s.toolbarShown = toolbarsShown_;
  s.statusBarShown = !statusBar()->isHidden() || (fullScreen_ && statusShownBeforeFullScreen_);
  s.fullScreen = fullScreen_;
  if (KelpoView* view = ActiveView()) view->FillCommandState(&s);
  return s;
}

void MainFrame::UpdateCommands() {
  // While a view lays out or a worker runs with its progress dialog, events
  // still run: the items wait until the engine is free again.
  if (Worker_Busy() != WorkerKind::None) return;
  if (KelpoView* view = ActiveView(); view != nullptr && view->busy()) return;
  const CommandState state = CurrentCommandState();
  for (auto it = actions_.cbegin(); it != actions_.cend(); ++it) {
    const CommandUpdate u = Command_Update(it.key(), state);
    if (u.keep) continue;  // its query failed: left as it was
    it.value()->setEnabled(u.enabled);
    if (it.value()->isCheckable()) it.value()->setChecked(u.checked);
  }
  const std::string text = Command_GoToButtonText(state);
  goToButton_->setText(text.empty() ? QStringLiteral("Go To") : QString::fromStdString(text));
}

void MainFrame::UpdateIndicators() {
  // The keyboard's lock lights as the kernel reports them; none known: all off.
  static const char* const kLeds[] = {"capslock", "numlock", "scrolllock"};
  const QDir leds(QStringLiteral("/sys/class/leds"));
  for (std::size_t i = 0; i < indicators_.size() && i < std::size(kLeds); ++i) {
    bool on = false;
    const QStringList names =
        leds.entryList({QStringLiteral("*::") + QLatin1String(kLeds[i])}, QDir::Dirs);
    for (const QString& name : names) {
      QFile brightness(leds.filePath(name + QStringLiteral("/brightness")));
      if (brightness.open(QIODevice::ReadOnly) && brightness.read(8).trimmed().toInt() > 0)
        on = true;
    }
    indicators_[i]->setEnabled(on);
  }
}

void MainFrame::RunCommand(std::uint16_t id) {
  if (commandHook_ && commandHook_(id)) return;
  if (KelpoView* view = ActiveView(); view != nullptr && view->busy()) return;
  const CommandState state = CurrentCommandState();
  const CommandUpdate u = Command_Update(id, state);
  const CommandInfo* info = Command_Find(id);
  // An accelerator of a greyed command does nothing, as its menu entry.
  if (info == nullptr || (!u.enabled && !u.keep)) return;
  KelpoView* view = ActiveView();
  if (view != nullptr &&
      (info->target == CommandTarget::View || info->target == CommandTarget::ViewOrFrame))
    view->OnCommand(id);
  else if (info->target != CommandTarget::View && info->target != CommandTarget::Nobody)
    RunFrameCommand(id);
  UpdateCommands();
}

void MainFrame::SetToolbarsShown(bool on) {
  toolbarsShown_ = on;
  if (fullScreen_) return;  // shown again when full screen ends
  for (QToolBar* bar : toolBars_)
    bar->setVisible(on);
}

void MainFrame::RunFrameCommand(std::uint16_t id) {
  switch (id) {
    case Cmd::Open:
      OnFileOpen();
      break;
    case Cmd::OpenCategorized:
      if (dialogs_->openByCategory) dialogs_->openByCategory(this);  // opens the chosen document
      break;
    case Cmd::Close:
      if (QMdiSubWindow* active = mdi_->activeSubWindow()) active->close();
      break;
    case Cmd::PrintSetup: {
      QPageSetupDialog dialog(printSetup_.get(), this);
      dialog.exec();  // the dialog writes the choice into the printer when accepted
      break;
    }
    case Cmd::Exit:
      close();
      break;
    case Cmd::Toolbar:
      SetToolbarsShown(!toolbarsShown_);
      break;
    case Cmd::StatusBar:
      if (!fullScreen_) statusBar()->setVisible(statusBar()->isHidden());
      break;
    case Cmd::FullScreen:
      SetFullScreen(!fullScreen_);
      break;
    case Cmd::HelpContents:
    case Cmd::Help:
    case Cmd::ContextHelp:
      if (dialogs_->help) dialogs_->help(this, id);
      break;
    case Cmd::SystemInformation:
      if (dialogs_->systemInfo) dialogs_->systemInfo(this);
      break;
    case Cmd::Options:
      if (dialogs_->frameOptions) dialogs_->frameOptions(this);
      break;
    case Cmd::Cascade:
      CascadeWindows();
      break;
    case Cmd::Tile:
      mdi_->tileSubWindows();
      break;
    case Cmd::ArrangeIcons:
      // Minimised documents are lined up along the bottom of the area.
      {
        int x = 0;
        for (QMdiSubWindow* child : mdi_->subWindowList()) {
          if (!child->isMinimized()) continue;
          child->move(x, mdi_->viewport()->height() - child->height());
          x += child->width();
        }
      }
      break;
    case Cmd::About:
      QMessageBox::about(this, QStringLiteral("About Kelpo"),
                         QStringLiteral("Kelpo version " KELPO_VERSION
                                        "\nA reader for electronic books and documents."));
      break;
    default:
      break;
  }
}

namespace {

// The file dialog of File Open. The toolkit leaves out of its listings every
// file whose name is not valid UTF-8, and refuses such a name typed as it is
// shown (with U+FFFD for the bytes it cannot show): a typed name that leads
// to exactly one such file in its folder is taken as that file.
class OpenDialog : public QFileDialog {
 public:
  explicit OpenDialog(QWidget* parent)
      : QFileDialog(parent, QStringLiteral("Open"), QString(),
                    QStringLiteral("Kelpo Documents (*.pdb);;Palm Doc Documents (*.pdb);;Text "
                                   "Documents (*.txt);;All Files (*)")) {
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
  }
  // The files chosen, each by its true name.
  QStringList Chosen() const { return chosen_.isEmpty() ? TrueNames(selectedFiles()) : chosen_; }
  void accept() override {
    const QStringList typed = selectedFiles();
    const QStringList found = TrueNames(typed);
    if (!typed.isEmpty() && found != typed &&
        std::all_of(found.begin(), found.end(),
                    [](const QString& f) { return LocalFile_Status(f).exists; })) {
      chosen_ = found;
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
  }

 private:
  static QStringList TrueNames(QStringList names) {
    for (QString& name : names) {
      if (LocalFile_Status(name).exists) continue;
      const QString found = LocalFile_FindShown(name);
      if (!found.isEmpty()) name = found;
    }
    return names;
  }
  QStringList chosen_;
};

}  // namespace

void MainFrame::OnFileOpen() {
  OpenDialog dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  OpenDocumentFiles(dialog.Chosen());
}

namespace {

// The string's first "%s" takes value.
QString Fill(QString text, const QString& value) {
  const qsizetype at = text.indexOf(QStringLiteral("%s"));
  return at < 0 ? text : text.replace(at, 2, value);
}

// A named file as the messages show it: absolute, undecodable bytes as
// U+FFFD.
QString ShownPath(const QString& path) {
  QString absolute = path;
  if (!path.startsWith(u'/')) {
    const QString here = LocalFile_Canonical(QStringLiteral("."));
    absolute = QDir::cleanPath(here + u'/' + path);
  }
  return LocalFile_Shown(absolute);
}

// Why a file named to be opened cannot be read as a document; empty when it
// can be.
QString FileProblem(const QString& path) {
  const QString name = ShownPath(path);
  const LocalFileStatus status = LocalFile_Status(path);
  if (!status.exists) {
    if (status.error == ENOENT || status.error == ENOTDIR)
      return Fill(Text(StringId::FileMissing), name);
  } else if (status.folder) {
    return Fill(Text(StringId::FileIsFolder), name);
  } else if (!status.regular) {
    return Fill(Text(StringId::FileNotRegular), name);
  }
  const int error = status.exists ? LocalFile_ReadError(path) : status.error;
  if (error != 0) {
    // The reason goes in first, so a "%s" in the name stays as it is.
    QString text = Text(StringId::FileNotReadable);
    return Fill(text.replace(text.lastIndexOf(QStringLiteral("%s")), 2, LocalFile_ErrorText(error)),
                name);
  }
  return {};
}

// Why a file that could be read did not open as a document; empty when the
// user cancelled the open.
QString OpenProblem(const QString& path, const DocOpenFailure& failure) {
  if (failure.status == kCancelled) return {};
  const QString name = ShownPath(path);
  switch (failure.message) {
    case StringId::UnsupportedFormat:
      return Fill(Text(StringId::FileUnsupported), name);
    case StringId::NeedsNewerVersion:
      return Fill(Text(StringId::FileNeedsNewer), name);
    case StringId::CannotOpenCorrupt:
      return Fill(Text(StringId::FileDamaged), name);
    default:
      break;
  }
  if (failure.status == kFileSysPathTooLong) {
    QString text = Text(StringId::FilePathTooLong);
    return Fill(text.replace(text.lastIndexOf(QStringLiteral("%s")), 2, QString::number(kPathMax)),
                name);
  }
  // A file that went away or changed since it was looked at says so.
  const QString now = FileProblem(path);
  if (!now.isEmpty()) return now;
  if (failure.status == kOutOfMemory) return Fill(Text(StringId::FileNotOpenedOther), name);
  // A record database the probe took as one of its formats whose records
  // cannot be read, or a handler that failed on its way through the text.
  return Fill(Text(StringId::FileDamaged), name);
}

}  // namespace

void MainFrame::OpenDocumentFiles(const QStringList& paths) {
  QStringList problems;
  for (const QString& path : paths) {
    QString problem = FileProblem(path);
    DocOpenFailure failure;
    if (problem.isEmpty() && !OpenDocumentFile(path, &failure))
      problem = OpenProblem(path, failure);
    if (!problem.isEmpty()) problems << problem;
  }
  if (problems.isEmpty()) return;
  const QString heading =
      Text(problems.size() == 1 ? StringId::FileNotOpened : StringId::FilesNotOpened);
  QMessageBox::warning(this, QStringLiteral("Kelpo"), heading + u'\n' + problems.join(u'\n'));
}

void MainFrame::DocumentReplaced(KelpoView* view) {
  if (view == nullptr || view->document() == nullptr) return;
  const QString canonical =
      LocalFile_Canonical(QString::fromStdU16String(view->document()->path()));
  for (QMdiSubWindow* child : mdi_->subWindowList()) {
    auto* frame = dynamic_cast<ChildFrame*>(child);
    if (frame != nullptr && frame->view() == view) frame->SetCanonical(canonical);
  }
  AddRecent(canonical);
}

QMdiSubWindow* MainFrame::FindDocument(const QString& canonical) const {
  for (QMdiSubWindow* child : mdi_->subWindowList()) {
    auto* frame = static_cast<ChildFrame*>(child);
    if (frame->canonical() == canonical) return child;
  }
  return nullptr;
}

bool MainFrame::OpenDocumentFile(const QString& path, DocOpenFailure* failure) {
  if (failure != nullptr) *failure = DocOpenFailure{};
  const QString canonical = LocalFile_Canonical(path);
  // One document, one window: its local settings are open only once.
  if (QMdiSubWindow* existing = FindDocument(canonical)) {
    mdi_->setActiveSubWindow(existing);
    return true;
  }
  auto doc = std::make_unique<KelpoDoc>(context_);
  if (!doc->OnOpenDocument(canonical.toStdU16String(), failure)) {
    RemoveRecent(canonical);
    return false;
  }
  auto* frame = new ChildFrame(std::move(doc), canonical);
  mdi_->addSubWindow(frame);
  frame->view()->OnInitialUpdate();
  if (fullScreen_) {
    frame->view()->SetFullScreen(true);
    frame->FillArea(mdi_->viewport()->rect());
  } else {
    frame->showMaximized();
  }
  AddRecent(canonical);
  return true;
}

QList<KelpoView*> MainFrame::Views() const {
  QList<KelpoView*> views;
  for (QMdiSubWindow* child : mdi_->subWindowList())
    views.append(static_cast<ChildFrame*>(child)->view());
  return views;
}

namespace {

constexpr QLatin1String kRecentKey("Recent File List/Files");

// The recent files as the settings file keeps them: names that are not valid
// UTF-8 as their bytes.
QStringList ReadRecent(const QSettings& s) {
  const QVariant value = s.value(kRecentKey);
  QVariantList items;
  if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
    items = value.toList();
  else if (value.isValid())
    items = {value};
  QStringList list;
  for (const QVariant& item : items) {
    const QString path = LocalFile_FromSetting(item);
    if (!path.isEmpty()) list << path;
  }
  return list;
}

void WriteRecent(QSettings& s, const QStringList& list) {
  QVariantList items;
  for (const QString& path : list)
    items << LocalFile_ToSetting(path);
  s.setValue(kRecentKey, items);
}

}  // namespace

void MainFrame::AddRecent(const QString& path) {
  QSettings& s = settings_->settings();
  QStringList list = ReadRecent(s);
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kRecentFiles)
    list.removeLast();
  WriteRecent(s, list);
  (void)settings_->Save();  // housekeeping: a failure shows when the program ends
  RefreshRecentMenu();
}

void MainFrame::RemoveRecent(const QString& path) {
  QSettings& s = settings_->settings();
  QStringList list = ReadRecent(s);
  if (list.removeAll(path) == 0) return;
  WriteRecent(s, list);
  (void)settings_->Save();  // as above
  RefreshRecentMenu();
}

void MainFrame::RefreshRecentMenu() {
  recentMenu_->clear();
  const QStringList list = ReadRecent(settings_->settings());
  for (int i = 0; i < list.size() && i < kRecentFiles; ++i) {
    const QString path = list[i];
    // A recent file that has gone, or no longer opens, is told like any
    // other named file.
    recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(LocalFile_ShownFileName(path)),
                           this, [this, path] { OpenDocumentFiles({path}); });
  }
  recentMenu_->setEnabled(!list.isEmpty());
}

// The area's own cascade leaves each window at its size hint, a small box in
// a large area. The windows keep their places and take the size that brings
// the last of them to the area's bottom-right corner.
void MainFrame::CascadeWindows() {
  mdi_->cascadeSubWindows();
  QList<QMdiSubWindow*> cascaded;
  QPoint deepest(0, 0);
  for (QMdiSubWindow* child : mdi_->subWindowList()) {
    if (child->isMinimized() || child->isHidden()) continue;
    cascaded.append(child);
    deepest.setX(std::max(deepest.x(), child->x()));
    deepest.setY(std::max(deepest.y(), child->y()));
  }
  const QSize room = mdi_->viewport()->size() - QSize(deepest.x(), deepest.y());
  for (QMdiSubWindow* child : cascaded)
    child->resize(child->size().expandedTo(room));
}

void MainFrame::SetFullScreen(bool on) {
  if (on == fullScreen_) return;
  QMdiSubWindow* active = mdi_->activeSubWindow();
  const QList<QMdiSubWindow*> children = mdi_->subWindowList();
  if (on) {
    // Each window's place is kept before anything moves it: the area grows
    // as the bars go, and tiled windows are tiled again as it grows. The
    // bars come back as they were.
    wasMaximized_ = isMaximized();
    for (QMdiSubWindow* child : children)
      static_cast<ChildFrame*>(child)->SavePlacement();
    statusShownBeforeFullScreen_ = !statusBar()->isHidden();
  }
  fullScreen_ = on;
  menuBar()->setVisible(!on);
  statusBar()->setVisible(!on && statusShownBeforeFullScreen_);
  for (QToolBar* bar : toolBars_)
    bar->setVisible(!on && toolbarsShown_);
  // The area takes the room of the bars now, not when the layout next runs:
  // a window manager that leaves the window's size as it was sends no resize
  // that would fit the documents later.
  layout()->activate();
  if (on) {
    showFullScreen();
    // Every document fills the screen, not only the active one.
    for (QMdiSubWindow* child : children)
      static_cast<ChildFrame*>(child)->FillArea(mdi_->viewport()->rect());
  } else {
    if (wasMaximized_)
      showMaximized();
    else
      showNormal();
    for (QMdiSubWindow* child : children)
      static_cast<ChildFrame*>(child)->RestorePlacement(mdi_->viewport()->rect());
  }
  if (active != nullptr) mdi_->setActiveSubWindow(active);
  for (KelpoView* view : Views())
    view->SetFullScreen(on);
  UpdateCommands();
}

void MainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  const QRect area = mdi_->viewport()->rect();
  for (QMdiSubWindow* child : mdi_->subWindowList()) {
    auto* frame = static_cast<ChildFrame*>(child);
    if (fullScreen_) {
      frame->FillArea(area);
    } else if (frame->takeAreaOnResize_) {
      frame->takeAreaOnResize_ = false;
      frame->setGeometry(area);
    }
  }
}

void MainFrame::closeEvent(QCloseEvent* event) {
  SetFullScreen(false);
  const QRect normal = normalGeometry();
  if (normal.isValid()) {
    windowState_->x = normal.x();
    windowState_->y = normal.y();
    windowState_->width = normal.width();
    windowState_->height = normal.height();
  }
  // Each document closes (its view saves its settings) before the window.
  CloseAllDocuments();
  event->accept();
}

void MainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainFrame::dropEvent(QDropEvent* event) {
  OpenDroppedFiles(event->mimeData()->urls());
  event->acceptProposedAction();
}

void MainFrame::OpenDroppedFiles(const QList<QUrl>& urls) {
  int taken = 0;
  for (const QUrl& url : urls) {
    if (taken == kMaxDroppedFiles) break;
    if (!url.isLocalFile()) continue;
    ++taken;
    // A link is followed to its target; folders are not documents.
    // The name comes percent-encoded; its bytes are kept whole (a name need
    // not be valid UTF-8).
    const QString path = LocalFile_FromBytes(
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    const LocalFileStatus status = LocalFile_Status(path);
    if (!status.exists || status.folder) continue;
    OpenDocumentFile(LocalFile_Canonical(path));
  }
}
