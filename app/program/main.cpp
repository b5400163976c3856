// The program: brings the engine up with the window device, loads the
// preferences, finds the program's folders, shows the main window with the documents named on the
// command line, and on exit saves the preferences and window state.
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "app/program/startup.h"
#include "app/window/local_files.h"
#include "app/window/qt_settings_store.h"
#include "engine/startup/engine_start.h"

namespace {

// Whether a window system can be reached: Qt would abort without one.
bool DisplayAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && platform[0] != '\0') return true;  // chosen by the user
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && v[0] != '\0';
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// The window system the toolkit is about to connect to, for the one line
// that says it cannot be reached.
QByteArray DisplayNamed() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  auto quoted = [](const QByteArray& name) { return '"' + name + '"'; };
  if (platform.isEmpty() || platform.startsWith("xcb"))
    return "the display " + quoted(qgetenv("DISPLAY"));
  if (platform.startsWith("wayland")) {
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    return "the Wayland display " + quoted(wayland.isEmpty() ? "wayland-0" : wayland);
  }
  return "the window system " + quoted(platform);
}

// While the toolkit connects to the window system its messages are held
// back: when it cannot connect it would print several lines and abort; the
// reader says in one line what it could not reach and ends. Once connected,
// what was held goes out as usual.
QStringList& HeldMessages() {
  static QStringList held;
  return held;
}

void WhileConnecting(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtFatalMsg) {
    HeldMessages() << text;
    return;
  }
  std::fprintf(stderr, "kelpo: cannot reach %s; the reader needs a running graphical session.\n",
               DisplayNamed().constData());
  std::fflush(stderr);
  std::_Exit(1);
}

// The program's arguments after its name, the toolkit's options already
// taken out, each kept as the bytes it was given (a file name need not be
// valid UTF-8).
QStringList ProgramArguments(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << LocalFile_FromBytes(QByteArray(argv[i]));
  return arguments;
}

}  // namespace

int main(int argc, char** argv) {
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "kelpo: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); the "
                 "reader needs a graphical session.\n");
    return 1;
  }
  const QtMessageHandler usual = qInstallMessageHandler(&WhileConnecting);
  // The toolkit takes its own options out of argc and argv.
  QApplication app(argc, argv);
  qInstallMessageHandler(usual);
  for (const QString& held : HeldMessages())
    std::fprintf(stderr, "%s\n", held.toLocal8Bit().constData());
  HeldMessages().clear();
  QApplication::setOrganizationName(QStringLiteral("Kelpo"));
  QApplication::setApplicationName(QStringLiteral("Kelpo"));

  // A command line that cannot be processed ends the program before the
  // engine, the settings or a window are touched.
  const CommandLine line = ParseCommandLine(ProgramArguments(argc, argv));
  if (!line.error.isEmpty()) {
    std::fprintf(stderr, "kelpo: %s\n%s", line.error.toLocal8Bit().constData(),
                 CommandLineUsage().toLocal8Bit().constData());
    return kCommandLineFailure;
  }
  if (line.help) {
    std::fputs(CommandLineUsage().toLocal8Bit().constData(), stdout);
    return 0;
  }

  if (!StartEngine()) {
    std::fprintf(stderr, "kelpo: the reading engine could not start.\n");
    return 1;
  }
  // What killed runs of the reader left behind goes before anything is
  // opened (files of running readers and of others stay).
  (void)Core_SweepDeadCopies();
  QtSettingsStore settings;
  Preferences prefs;
  WindowState windowState;
  Prefs_LoadAll(settings, &prefs, &windowState);

  int status = 0;
  {
    const std::unique_ptr<ReaderWindow> frame =
        StartReader(&settings, &prefs, &windowState, line.documents);
    status = app.exec();
  }
  // A settings file that cannot be written keeps its previous values, and
  // the reader says so.
  if (!Prefs_SaveAll(settings, &prefs, windowState)) {
    const QString text = QStringLiteral(
                             "The preferences could not be saved in %1; it keeps its "
                             "previous contents.")
                             .arg(settings.fileName());
    std::fprintf(stderr, "kelpo: %s\n", text.toLocal8Bit().constData());
    QMessageBox::warning(nullptr, QStringLiteral("Kelpo"), text);
  }
  (void)Core_UnregisterModules();
  return status;
}
