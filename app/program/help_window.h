// The program's help: a window that browses the help set shipped in the
// "help" folder next to the program, opened by Contents and F1 on the topic
// of the window or dialog in front, and by Shift+F1 on the topic of what the
// next click lands on.
#pragma once

#include <QDialog>
#include <cstdint>

class MainFrame;
class QTextBrowser;

class HelpWindow : public QDialog {
 public:
  // The one help window (null before help first opened).
  static HelpWindow* Current();
  QTextBrowser* browser() const { return browser_; }

 private:
  friend void ShowHelpTopic(QWidget* parent, std::uint32_t context);
  explicit HelpWindow(QWidget* parent);
  QTextBrowser* browser_;
};

// Opens the help window on the topic of a command, window or dialog
// identifier (any without a topic of its own: the contents). Without a help
// set the user is told where it was looked for.
void ShowHelpTopic(QWidget* parent, std::uint32_t context);
// The help commands: Contents and F1 open the contents (the main window's
// topic); Shift+F1 waits for the next click and opens the topic of what it
// lands on (a command's button or menu entry, the tool bar, the status bar).
void RunHelpCommand(MainFrame* frame, std::uint16_t command);
// F1 in a dialog opens that dialog's topic; installed once per program.
void InstallDialogHelpKey();
// The topic identifier of a dialog (0: the contents).
std::uint32_t DialogHelpContext(const QWidget* dialog);
