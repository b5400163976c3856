#include "tests/support/engine_setup.h"

#include "engine/runtime/module_table.h"
#include "tests/support/fake_device.h"

void RegisterEngineForTests() {
  Core_SetHostDeviceModule(&FakeDeviceModule);
  Core_RegisterAllModules();
}
