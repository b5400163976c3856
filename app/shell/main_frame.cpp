#include "app/shell/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include "app/resources/strings.h"
#include "app/shell/kelpo_view.h"
#include "app/shell/qt_settings_store.h"
#include "engine/runtime/dict.h"
#include "engine/runtime/module_table.h"

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
    QMessageBox box(icon == Icon::Question ? QMessageBox::Question : QMessageBox::Warning,
                    QStringLiteral("Kelpo"), Text(id), QMessageBox::Ok, parent_);
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
    setWindowTitle(QFileInfo(canonical).fileName());
  }
  ~ChildFrame() override {
    delete view_;  // before the document it reads
    view_ = nullptr;
  }
  KelpoView* view() const { return view_; }
  const QString& canonical() const { return canonical_; }

 private:
  std::unique_ptr<KelpoDoc> doc_;
  KelpoView* view_ = nullptr;
  QString canonical_;
};

}  // namespace

MainFrame::MainFrame(QtSettingsStore* settings, Preferences* prefs, WindowState* windowState)
    : settings_(settings), prefs_(prefs), windowState_(windowState) {
  setWindowTitle(QStringLiteral("Kelpo"));
  setAcceptDrops(true);
  prompter_ = std::make_unique<BoxPrompter>(this);

  std::uint32_t flags = 0;
  if (g_SettingsModule == nullptr ||
      IsFailure(Store(g_SettingsModule).openStore(g_SettingsModule, &flags, &store_))) {
    store_ = nullptr;
    QMessageBox::warning(this, QString(), QStringLiteral("Failed to initialize settings"));
  } else if (flags & kSettingsFirstRun) {
    CreateDefaultCategories();
  }
  context_ = {prefs_, store_, prompter_.get()};

  mdi_ = new QMdiArea(this);
  mdi_->setViewMode(QMdiArea::SubWindowView);
  setCentralWidget(mdi_);
  CreateActions();
  statusBar()->showMessage(QStringLiteral("Ready"));

  const QRect area = screen() != nullptr ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  if (Prefs_WindowRectUsable(*windowState_, {area.left(), area.top(), area.right(), area.bottom()}))
    setGeometry(windowState_->x, windowState_->y, windowState_->width, windowState_->height);
  else
    resize(900, 700);
}

MainFrame::~MainFrame() {
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

void MainFrame::CreateActions() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* open = file->addAction(QStringLiteral("&Open..."), this, [this] { OnFileOpen(); });
  open->setShortcut(QKeySequence::Open);
  QAction* close = file->addAction(QStringLiteral("&Close"), this, [this] {
    if (QMdiSubWindow* active = mdi_->activeSubWindow()) active->close();
  });
  close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
  file->addSeparator();
  recentMenu_ = file->addMenu(QStringLiteral("Recent &Files"));
  RefreshRecentMenu();
  file->addSeparator();
  QAction* exit = file->addAction(QStringLiteral("E&xit"), this, [this] { this->close(); });
  exit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  QAction* toolbar = view->addAction(QStringLiteral("&Toolbar"));
  toolbar->setCheckable(true);
  toolbar->setChecked(true);
  QAction* status = view->addAction(QStringLiteral("&Status Bar"));
  status->setCheckable(true);
  status->setChecked(true);
  connect(status, &QAction::toggled, statusBar(), &QWidget::setVisible);
  QAction* full = view->addAction(QStringLiteral("&Full Screen"));
  full->setShortcut(QKeySequence(Qt::Key_F11));
  full->setCheckable(true);
  connect(full, &QAction::triggered, this, [this, full] {
    SetFullScreen(!fullScreen_);
    full->setChecked(fullScreen_);
  });
  addAction(full);  // works while the menu bar is hidden

  QMenu* window = menuBar()->addMenu(QStringLiteral("&Window"));
  // The open documents are listed below the window commands, rebuilt each
  // time the menu opens.
  connect(window, &QMenu::aboutToShow, this, [this, window] {
    window->clear();
    window->addAction(QStringLiteral("&Cascade"), mdi_, &QMdiArea::cascadeSubWindows);
    window->addAction(QStringLiteral("&Tile"), mdi_, &QMdiArea::tileSubWindows);
    const QList<QMdiSubWindow*> children = mdi_->subWindowList();
    if (!children.isEmpty()) window->addSeparator();
    for (int i = 0; i < children.size(); ++i) {
      QMdiSubWindow* child = children[i];
      QAction* a = window->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(child->windowTitle()),
                                     this, [this, child] { mdi_->setActiveSubWindow(child); });
      a->setCheckable(true);
      a->setChecked(child == mdi_->activeSubWindow());
    }
  });
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(QStringLiteral("&About Kelpo..."), this, [this] {
    QMessageBox::about(this, QStringLiteral("About Kelpo"),
                       QStringLiteral("Kelpo\nA reader for electronic books and documents."));
  });

  QToolBar* main = addToolBar(QStringLiteral("Menu"));
  main->addAction(open);
  QToolBar* navigation = addToolBar(QStringLiteral("Navigation"));
  for (const char* name :
       {"Select Mode", "Find", "Find Again", "Back", "Forward", "Bookmarks", "Home"}) {
    QAction* a = navigation->addAction(QString::fromUtf8(name));
    a->setEnabled(false);  // greyed while nothing handles it
  }
  QToolBar* go = addToolBar(QStringLiteral("Go To"));
  for (const char* name : {"<", "Go To", ">"})
    go->addAction(QString::fromUtf8(name))->setEnabled(false);
  toolBars_ = {main, navigation, go};
  connect(toolbar, &QAction::toggled, this, [this](bool on) {
    for (QToolBar* bar : toolBars_)
      bar->setVisible(on);
  });
}

void MainFrame::OnFileOpen() {
  const QStringList paths = QFileDialog::getOpenFileNames(
      this, QStringLiteral("Open"), QString(),
      QStringLiteral("Kelpo Documents (*.pdb);;Palm Doc Documents (*.pdb);;Text Documents "
                     "(*.txt);;All Files (*)"));
  for (const QString& path : paths)
    OpenDocumentFile(path);
}

QMdiSubWindow* MainFrame::FindDocument(const QString& canonical) const {
  for (QMdiSubWindow* child : mdi_->subWindowList()) {
    auto* frame = static_cast<ChildFrame*>(child);
    if (frame->canonical() == canonical) return child;
  }
  return nullptr;
}

bool MainFrame::OpenDocumentFile(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
  // One document, one window: its local settings are open only once.
  if (QMdiSubWindow* existing = FindDocument(canonical)) {
    mdi_->setActiveSubWindow(existing);
    return true;
  }
  auto doc = std::make_unique<KelpoDoc>(context_);
  if (!doc->OnOpenDocument(canonical.toStdU16String())) {
    RemoveRecent(canonical);
    return false;
  }
  auto* frame = new ChildFrame(std::move(doc), canonical);
  mdi_->addSubWindow(frame);
  frame->view()->OnInitialUpdate();
  if (fullScreen_) frame->view()->SetFullScreen(true);
  frame->showMaximized();
  AddRecent(canonical);
  return true;
}

QList<KelpoView*> MainFrame::Views() const {
  QList<KelpoView*> views;
  for (QMdiSubWindow* child : mdi_->subWindowList())
    views.append(static_cast<ChildFrame*>(child)->view());
  return views;
}

void MainFrame::AddRecent(const QString& path) {
  QSettings& s = settings_->settings();
  QStringList list = s.value(QStringLiteral("Recent File List/Files")).toStringList();
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kRecentFiles)
    list.removeLast();
  s.setValue(QStringLiteral("Recent File List/Files"), list);
  RefreshRecentMenu();
}

void MainFrame::RemoveRecent(const QString& path) {
  QSettings& s = settings_->settings();
  QStringList list = s.value(QStringLiteral("Recent File List/Files")).toStringList();
  if (list.removeAll(path) == 0) return;
  s.setValue(QStringLiteral("Recent File List/Files"), list);
  RefreshRecentMenu();
}

void MainFrame::RefreshRecentMenu() {
  recentMenu_->clear();
  const QStringList list =
      settings_->settings().value(QStringLiteral("Recent File List/Files")).toStringList();
  for (int i = 0; i < list.size() && i < kRecentFiles; ++i) {
    const QString path = list[i];
    recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()),
                           this, [this, path] { OpenDocumentFile(path); });
  }
  recentMenu_->setEnabled(!list.isEmpty());
}

void MainFrame::SetFullScreen(bool on) {
  if (on == fullScreen_) return;
  fullScreen_ = on;
  menuBar()->setVisible(!on);
  statusBar()->setVisible(!on);
  for (QToolBar* bar : toolBars_)
    bar->setVisible(!on);
  if (on) {
    wasMaximized_ = isMaximized();
    showFullScreen();
  } else if (wasMaximized_) {
    showMaximized();
  } else {
    showNormal();
  }
  for (KelpoView* view : Views())
    view->SetFullScreen(on);
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
    const QFileInfo info(url.toLocalFile());
    if (!info.exists() || info.isDir()) continue;
    OpenDocumentFile(info.canonicalFilePath());
  }
}
