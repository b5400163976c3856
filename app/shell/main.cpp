// The program: for now an empty main window; the reading shell comes later.
#include <QApplication>
#include <QMainWindow>

#include "app/device/win_device.h"
#include "engine/startup/engine_start.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Core_SetHostDeviceModule(&WinDeviceModule);
  if (IsFailure(Core_RegisterAllModules())) return 1;
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Kelpo"));
  window.resize(800, 600);
  window.show();
  return app.exec();
}
