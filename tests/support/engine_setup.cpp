#include "tests/support/engine_setup.h"

#include "engine/runtime/module_table.h"

void RegisterEngineForTests() { Core_RegisterAllModules(); }
