// The main window: one child window per open document in a multiple-document
// area, the menus, tool bars and status bar, the recent-file list, dropped
// files and full screen. It brings the engine's shared state up (settings
// store, default categories, the size budget of the local settings) and
// takes it down again when it closes.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QUrl>
#include <memory>

#include "app/shell/doc_open.h"
#include "app/shell/prefs.h"

class QMdiArea;
class QMdiSubWindow;
class QToolBar;
class QMenu;
class KelpoView;
class QtSettingsStore;

class MainFrame : public QMainWindow {
 public:
  MainFrame(QtSettingsStore* settings, Preferences* prefs, WindowState* windowState);
  ~MainFrame() override;

  // Opens a document in a child window, or brings the window that already
  // shows it to the front. False when it could not be opened (the user has
  // been told why where there is something to tell).
  bool OpenDocumentFile(const QString& path);
  // Opens the first sixteen local files of a drop; folders are skipped.
  void OpenDroppedFiles(const QList<QUrl>& urls);
  // The views of the open documents, in window order.
  QList<KelpoView*> Views() const;
  bool fullScreen() const { return fullScreen_; }
  void SetFullScreen(bool on);
  EngineObject* store() const { return store_; }
  Preferences* prefs() const { return prefs_; }
  QMdiArea* area() const { return mdi_; }
  // Offers to prune the local settings when they are over their size budget.
  void CheckSizeBudget();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateActions();
  void CreateDefaultCategories();
  void CloseAllDocuments();
  void AddRecent(const QString& path);
  void RemoveRecent(const QString& path);
  void RefreshRecentMenu();
  void OnFileOpen();
  QMdiSubWindow* FindDocument(const QString& canonical) const;

  QtSettingsStore* settings_;
  Preferences* prefs_;
  WindowState* windowState_;
  EngineObject* store_ = nullptr;
  std::unique_ptr<Prompter> prompter_;
  ShellContext context_;
  QMdiArea* mdi_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QList<QToolBar*> toolBars_;
  bool fullScreen_ = false;
  bool wasMaximized_ = false;
};

// Recent-file list kept by the main window: at most nine, newest first.
constexpr int kRecentFiles = 9;
// Files taken from one drop.
constexpr int kMaxDroppedFiles = 16;
