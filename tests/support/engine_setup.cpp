#include "tests/support/engine_setup.h"

#include "engine/startup/engine_start.h"
#include "tests/support/fake_device.h"

StatusCode RegisterEngineForTests() {
  Core_SetHostDeviceModule(&FakeDeviceModule);
  return Core_RegisterAllModules();
}
