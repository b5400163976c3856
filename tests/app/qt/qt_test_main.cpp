// Entry point of the window-device tests: a headless application (the
// offscreen platform unless the environment names another), the engine's
// modules registered with the window device as the host device.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/device/win_device.h"
#include "engine/startup/engine_start.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  Core_SetHostDeviceModule(&WinDeviceModule);
  if (IsFailure(Core_RegisterAllModules())) return 1;
  return RUN_ALL_TESTS();
}
