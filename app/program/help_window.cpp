#include "app/program/help_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/core/commands.h"
#include "app/core/help_topics.h"
#include "app/dialogs/bookmark_dialogs.h"
#include "app/dialogs/category_dialogs.h"
#include "app/dialogs/doc_info_dialog.h"
#include "app/dialogs/find_dialog.h"
#include "app/dialogs/goto_dialog.h"
#include "app/dialogs/options_sheet.h"
#include "app/program/startup.h"
#include "app/window/main_frame.h"

namespace {

QPointer<HelpWindow>& TheWindow() {
  static QPointer<HelpWindow> window;
  return window;
}

// The identifiers of the Options pages, in the order of the sheet with its
// colour page.
constexpr std::uint32_t kOptionsPages[] = {106, 102, 146, 147, 173, 148};

// The topic of what a click lands on.
std::uint32_t ClickContext(QWidget* w) {
  if (auto* button = qobject_cast<QToolButton*>(w)) {
    if (button->defaultAction() != nullptr && button->defaultAction()->data().isValid())
      return button->defaultAction()->data().toUInt();
  }
  if (auto* menu = qobject_cast<QMenu*>(w)) {
    if (menu->activeAction() != nullptr) return menu->activeAction()->data().toUInt();
  }
  for (QWidget* p = w; p != nullptr; p = p->parentWidget()) {
    if (qobject_cast<QToolBar*>(p) != nullptr) return kHelpToolBar;
    if (qobject_cast<QStatusBar*>(p) != nullptr) return kHelpStatusBar;
  }
  return 0;
}

// Shift+F1: the next click is taken (it does not reach the widget) and
// names the topic; Esc gives up.
class ContextHelpMode : public QObject {
 public:
  explicit ContextHelpMode(QWidget* parent) : parent_(parent) {
    QApplication::setOverrideCursor(Qt::WhatsThisCursor);
    qApp->installEventFilter(this);
  }
  ~ContextHelpMode() override { QApplication::restoreOverrideCursor(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (done_) return false;
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      Finish();
      return true;
    }
    if (event->type() == QEvent::MouseButtonPress) {
      // The widget the click goes to (window handles pass it on first).
      auto* target = qobject_cast<QWidget*>(watched);
      if (target == nullptr || target->isWindow()) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (QWidget* at = QApplication::widgetAt(mouse->globalPosition().toPoint())) target = at;
      }
      Finish();
      ShowHelpTopic(parent_, ClickContext(target));
      return true;
    }
    // The release and the double click of the same click are taken too.
    return event->type() == QEvent::MouseButtonRelease ||
           event->type() == QEvent::MouseButtonDblClick;
  }

 private:
  void Finish() {
    done_ = true;
    qApp->removeEventFilter(this);
    deleteLater();
  }
  QPointer<QWidget> parent_;
  bool done_ = false;
};

// F1 while a dialog is in front opens the dialog's topic.
class DialogHelpKey : public QObject {
 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr || dialog == HelpWindow::Current()) return false;
    ShowHelpTopic(dialog, DialogHelpContext(dialog));
    return true;
  }
};

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Kelpo Help"));
  setAttribute(Qt::WA_DeleteOnClose);
  browser_ = new QTextBrowser(this);
  browser_->setOpenExternalLinks(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  auto* contents = buttons->addButton(QStringLiteral("&Contents"), QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  connect(contents, &QAbstractButton::clicked, this,
          [this] { browser_->setSource(QUrl(QString::fromUtf8(kHelpContentsPage))); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_);
  layout->addWidget(buttons);
  resize(640, 520);
}

HelpWindow* HelpWindow::Current() {
  return TheWindow().data();
}

void ShowHelpTopic(QWidget* parent, std::uint32_t context) {
  const QString folder = ProgramPaths().help;
  if (folder.isEmpty() || !QFileInfo::exists(folder + "/" + kHelpContentsPage)) {
    QMessageBox::warning(parent, QStringLiteral("Kelpo"),
                         folder.isEmpty()
                             ? QStringLiteral("The help could not be found: the program's folder "
                                              "is unknown.")
                             : QStringLiteral("The help could not be found in %1.").arg(folder));
    return;
  }
  QPointer<HelpWindow>& window = TheWindow();
  QWidget* modal = QApplication::activeModalWidget();
  // Over a modal dialog the help must be modal too, or it could not be used
  // until the dialog closes; it is made again for that.
  if (window != nullptr && (modal != nullptr) != window->isModal()) {
    delete window.data();
    window = nullptr;
  }
  if (window == nullptr) {
    window = new HelpWindow(modal != nullptr ? modal : parent);
    window->setWindowFlag(Qt::Window);
    window->setModal(modal != nullptr);
    window->browser()->setSearchPaths({folder});
  }
  const QString topic = QString::fromStdString(MapHelpContext(context));
  const qsizetype hash = topic.indexOf(u'#');
  QUrl url = QUrl::fromLocalFile(folder + "/" + topic.left(hash));
  if (hash >= 0) url.setFragment(topic.mid(hash + 1));
  window->browser()->setSource(url);
  window->show();
  window->raise();
  window->activateWindow();
}

void RunHelpCommand(MainFrame* frame, std::uint16_t command) {
  if (command == Cmd::ContextHelp) {
    new ContextHelpMode(frame);
    return;
  }
  // Contents, and F1 on the main window: the main window's topic is the
  // contents.
  ShowHelpTopic(frame, 0);
}

void InstallDialogHelpKey() {
  static DialogHelpKey* key = [] {
    auto* k = new DialogHelpKey;
    k->setParent(qApp);
    qApp->installEventFilter(k);
    return k;
  }();
  (void)key;
}

std::uint32_t DialogHelpContext(const QWidget* dialog) {
  if (const auto* sheet = dynamic_cast<const OptionsSheet*>(dialog)) {
    const int page = sheet->storedPage();
    return page >= 0 && page < 6 ? kOptionsPages[page] : Cmd::Options;
  }
  // Dialogs of a command that has a topic: that command's.
  if (dynamic_cast<const FindDialog*>(dialog)) return Cmd::Find;
  if (dynamic_cast<const GoToDialog*>(dialog)) return Cmd::GoTo;
  if (dynamic_cast<const AddBookmarkDialog*>(dialog)) return Cmd::AddBookmark;
  if (dynamic_cast<const EditBookmarksDialog*>(dialog) ||
      dynamic_cast<const RenameBookmarkDialog*>(dialog))
    return Cmd::EditBookmarks;
  if (dynamic_cast<const COpenCategorizedDlg*>(dialog)) return Cmd::OpenCategorized;
  if (dynamic_cast<const CCategoriesDlg*>(dialog) || dynamic_cast<const CNewCategoryDlg*>(dialog) ||
      dynamic_cast<const CRenameCategoryDlg*>(dialog))
    return Cmd::Categories;
  if (dynamic_cast<const CPSDocInfo*>(dialog)) return Cmd::DocumentInformation;
  return 0;
}
