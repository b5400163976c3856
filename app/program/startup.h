// The program's start-up: the program folder and the help folder under it,
// the main window with the size budget of the local settings checked as it
// is created, and then the documents named on the command line.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

#include "app/program/reader_dialogs.h"

// What the command line asks for. Every argument names a document, except
// the options: -h or --help for the usage, and "--", after which every
// argument is a document whatever it begins with. An option the reader does
// not know is a command line it cannot process: the program ends before any
// window or setting is touched. A named document that cannot be opened is
// not such a failure: the main window reports it and runs on.
struct CommandLine {
  QStringList documents;
  bool help = false;
  QString error;  // why the command line cannot be processed; empty when it can
};
// arguments: the program's arguments after its name, the toolkit's own
// options already taken out.
CommandLine ParseCommandLine(const QStringList& arguments);
// The usage text --help prints, ending in a line end.
QString CommandLineUsage();
// How main ends a command line it cannot process.
constexpr int kCommandLineFailure = 2;

// Brings the engine up with the window device as its output device: the five
// registration calls fill the module table. False when the engine could not
// start.
bool StartEngine();

struct ProgramFolders {
  QString program;  // empty when it could not be found
  QString help;     // the "help" folder under it; empty with it
};

// How the program's folder is found (the engine's answer; tests hand in a
// failing one).
using ModuleDirectoryFinder = bool (*)(char16_t* buffer, std::uint32_t* length);

// Finds the program folder; when it cannot be found the user is told
// "Failed to get application path" and both folders stay empty (the program
// runs on without help). The answer is also kept for ProgramPaths().
const ProgramFolders& FindProgramFolders(ModuleDirectoryFinder find = nullptr);
// What FindProgramFolders found last.
const ProgramFolders& ProgramPaths();

// Finds the program's folders (with find), creates the main window, offers to prune the local
// settings when they are over their budget (before any document holds its settings open), shows the
// window and opens the documents.
std::unique_ptr<ReaderWindow> StartReader(QtSettingsStore* settings, Preferences* prefs,
                                          WindowState* windowState, const QStringList& documents,
                                          ModuleDirectoryFinder find = nullptr);
