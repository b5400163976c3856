// The progress dialogs of long work.
//
// "Searching...", "Paginating Document..." and "Printing..." follow a
// worker thread: they
// never touch the worker, only read the values it shares (WorkerShared),
// once when they show and then every 100 ms, and close by themselves once
// the worker is over (finished, failed or stopped). "Formatting Page..." is
// driven by its owner, a layout that runs on the user-interface thread and
// hands it (done, total) between slices. In every kind only Cancel (or
// Escape) closes the dialog early; Enter does nothing.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>

struct WorkerShared;
class QLabel;
class QProgressBar;

class ProgressDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Kind { Find, Pagination, Layout, Printing };

  // shared: the worker's values (Find, Pagination and Printing; null for
  // Layout).
  ProgressDialog(Kind kind, WorkerShared* shared, QWidget* parent);

  // Layout: the owner's progress, ignored until the dialog is shown.
  void SetProgress(std::uint32_t done, std::uint32_t total);
  // Layout: whether Cancel was pressed.
  bool cancelled() const { return cancelled_; }

  Kind kind() const { return kind_; }
  // What is on show: -1 before the first value.
  int shownPercent() const { return lastPercent_; }
  int shownPages() const { return lastPages_; }
  QProgressBar* bar() const { return bar_; }
  QLabel* percentLabel() const { return percent_; }
  // Pagination: the pages counted; Printing: the page being drawn.
  QLabel* countCaption() const { return countCaption_; }
  QLabel* countLabel() const { return count_; }

  // Reads the worker's values once (the timer's tick).
  void Tick();
  // Cancel.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowPercent(int percent);

  Kind kind_;
  WorkerShared* shared_;
  QTimer timer_;
  QProgressBar* bar_ = nullptr;
  QLabel* percent_ = nullptr;
  QLabel* countCaption_ = nullptr;
  QLabel* count_ = nullptr;
  int lastPercent_ = -1;
  int lastPages_ = -1;
  bool cancelled_ = false;
};

// Runs the dialog of a worker modally until the worker is over (true) or
// the user cancels (false).
bool RunProgressDialog(ProgressDialog::Kind kind, WorkerShared& shared, QWidget* parent);
