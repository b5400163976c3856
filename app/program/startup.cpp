#include "app/program/startup.h"

#include <QMessageBox>

#include "app/device/win_device.h"
#include "engine/runtime/path_folders.h"
#include "engine/startup/engine_start.h"

namespace {

ProgramFolders& Folders() {
  static ProgramFolders folders;
  return folders;
}

// Joined parts come with '\' between them; the file system here takes '/'.
QString FromComposed(const char16_t* text, std::uint32_t length) {
  QString s = QString::fromUtf16(text, static_cast<qsizetype>(length));
  s.replace(u'\\', u'/');
  return s;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine line;
  bool options = true;
  for (const QString& argument : arguments) {
    if (options && argument == QStringLiteral("--")) {
      options = false;
    } else if (options &&
               (argument == QStringLiteral("-h") || argument == QStringLiteral("--help"))) {
      line.help = true;
    } else if (options && argument.startsWith(u'-')) {
      line.error = QStringLiteral(
                       "unknown option '%1' (a document whose name begins with '-' "
                       "goes after \"--\")")
                       .arg(argument);
      line.documents.clear();
      return line;
    } else {
      line.documents << argument;
    }
  }
  return line;
}

QString CommandLineUsage() {
  return QStringLiteral(
      "Usage: kelpo [option...] [document...]\n"
      "Opens each document (.pdb or .txt) in a window of its own.\n"
      "  -h, --help  show this text and end\n"
      "  --          every argument after it names a document\n");
}

bool StartEngine() {
  Core_SetHostDeviceModule(&WinDeviceModule);
  return !IsFailure(Core_RegisterAllModules());
}

const ProgramFolders& FindProgramFolders(ModuleDirectoryFinder find) {
  if (find == nullptr) find = &Path_GetModuleDirectory;
  ProgramFolders& folders = Folders();
  folders = {};
  char16_t program[kPathBufferSize] = {};
  std::uint32_t length = 0;
  if (!find(program, &length)) {
    QMessageBox::warning(nullptr, QString(), QStringLiteral("Failed to get application path"));
    return folders;
  }
  folders.program = FromComposed(program, length);
  char16_t help[kPathBufferSize];
  std::uint32_t needed = 0;
  // A help folder whose path does not fit stays unset.
  if (Path_Compose(help, kPathBufferSize, program, u"help", nullptr, nullptr, nullptr, &needed))
    folders.help = FromComposed(help, needed - 1);
  return folders;
}

const ProgramFolders& ProgramPaths() {
  return Folders();
}

std::unique_ptr<ReaderWindow> StartReader(QtSettingsStore* settings, Preferences* prefs,
                                          WindowState* windowState, const QStringList& documents,
                                          ModuleDirectoryFinder find) {
  (void)FindProgramFolders(find);
  auto frame = std::make_unique<ReaderWindow>(settings, prefs, windowState);
  frame->CheckSizeBudget();
  frame->show();
  frame->OpenDocumentFiles(documents);
  return frame;
}
