#pragma once

#include "engine/runtime/status.h"

// Registers every engine module (with the test device as the host device).
// Idempotent; test_main calls it before any test runs.
StatusCode RegisterEngineForTests();
