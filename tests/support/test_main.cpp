// Entry point of every test program: fills the module table the way the
// application does, then runs the tests.
#include <gtest/gtest.h>

#include "engine/runtime/module_table.h"
#include "tests/support/engine_setup.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (IsFailure(RegisterEngineForTests())) return 1;
  return RUN_ALL_TESTS();
}
