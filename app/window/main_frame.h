// The main window: one child window per open document in a multiple-document
// area, the menus, tool bars and status bar, the recent-file list, dropped
// files and full screen. It brings the engine's shared state up (settings
// store, default categories, the size budget of the local settings) and
// takes it down again when it closes.
#pragma once

#include <QMainWindow>
#include <QMultiHash>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <vector>

#include "app/core/commands.h"
#include "app/window/command_dialogs.h"

#include "app/core/doc_open.h"
#include "app/core/prefs.h"

class QMdiArea;
class QMdiSubWindow;
class QToolBar;
class QMenu;
class QAction;
class QPrinter;
class QLabel;
class KelpoView;
class QtSettingsStore;

class MainFrame : public QMainWindow {
 public:
  // dialogs: what the commands that open a dialog call (null: those commands
  // do nothing); the program on top gives its own.
  MainFrame(QtSettingsStore* settings, Preferences* prefs, WindowState* windowState,
            const CommandDialogs* dialogs = nullptr);
  ~MainFrame() override;

  // Opens a document in a child window, or brings the window that already
  // shows it to the front. False when it could not be opened (the user has
  // been told why where there is something to tell). With failure given, a
  // failure is handed back there instead of being told.
  bool OpenDocumentFile(const QString& path, DocOpenFailure* failure = nullptr);
  // Opens each file named (the command line, File Open, the recent files).
  // Every file that does not open (missing, a folder, unreadable, not a
  // document, damaged) is named with the reason, all in one message.
  void OpenDocumentFiles(const QStringList& paths);
  // Opens the first sixteen local files of a drop; folders are skipped.
  void OpenDroppedFiles(const QList<QUrl>& urls);
  // A view's document now shows another file (a link opened it in place):
  // its window takes the file's name, and opening that file again brings
  // the window to the front.
  void DocumentReplaced(KelpoView* view);
  // The views of the open documents, in window order.
  QList<KelpoView*> Views() const;
  bool fullScreen() const { return fullScreen_; }
  void SetFullScreen(bool on);
  EngineObject* store() const { return store_; }
  QMdiArea* area() const { return mdi_; }
  // Offers to prune the local settings when they are over their size budget.
  void CheckSizeBudget();
  Preferences* preferences() const { return prefs_; }
  const CommandDialogs& dialogs() const { return *dialogs_; }
  // The page chosen in Print Set-up (paper, orientation, margins), which
  // every print and preview starts from.
  QPrinter* printSetup() const { return printSetup_.get(); }

  // Commands: every menu entry, accelerator and tool-bar button runs its
  // command here. A view command goes to the active view; a command whose
  // update rule greys it does nothing.
  void RunCommand(std::uint16_t id);
  // Enables, greys and checks every command's actions by its update rule.
  void UpdateCommands();
  CommandState CurrentCommandState() const;
  // The action of a command that carries its menu entry and accelerators
  // (null for an unknown id); tool-bar buttons may have actions of their own.
  QAction* action(std::uint16_t id) const;
  QList<QAction*> actions(std::uint16_t id) const { return actions_.values(id); }
  QMenu* menu(MenuId id) const;
  KelpoView* ActiveView() const;
  // Where the bookmarks pop-up opens: the Back button's top right corner.
  QPoint BookmarksAnchor() const;
  // Tests see each command before it runs; a hook answering true keeps it
  // from running.
  void SetCommandHook(std::function<bool(std::uint16_t)> hook) { commandHook_ = std::move(hook); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Keeps document windows fitted to the area while its size settles.
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateActions();
  QAction* MakeAction(const CommandInfo& info);
  void RunFrameCommand(std::uint16_t id);
  void UpdateIndicators();
  void SetToolbarsShown(bool on);
  void CreateDefaultCategories();
  void CloseAllDocuments();
  void AddRecent(const QString& path);
  void RemoveRecent(const QString& path);
  void RefreshRecentMenu();
  void OnFileOpen();
  void CascadeWindows();
  QMdiSubWindow* FindDocument(const QString& canonical) const;

  QtSettingsStore* settings_;
  const CommandDialogs* dialogs_;
  Preferences* prefs_;
  WindowState* windowState_;
  EngineObject* store_ = nullptr;
  std::unique_ptr<Prompter> prompter_;
  ShellContext context_;
  QMdiArea* mdi_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QList<QToolBar*> toolBars_;
  QToolBar* navigationBar_ = nullptr;
  QMultiHash<std::uint16_t, QAction*> actions_;  // the first made carries the keys
  QHash<int, QMenu*> menus_;
  QAction* goToButton_ = nullptr;
  bool toolbarsShown_ = true;
  bool statusShownBeforeFullScreen_ = true;
  QTimer updateTimer_;  // keeps the tool bars' state current while idle
  std::function<bool(std::uint16_t)> commandHook_;
  std::unique_ptr<QPrinter> printSetup_;
  std::vector<QLabel*> indicators_;  // CAP, NUM, SCRL on the status bar
  bool fullScreen_ = false;
  bool wasMaximized_ = false;
};

// Recent-file list kept by the main window: at most nine, newest first.
constexpr int kRecentFiles = 9;
// Files taken from one drop.
constexpr int kMaxDroppedFiles = 16;
