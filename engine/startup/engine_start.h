// Engine start-up: the five registration calls that fill the module table,
// and the host's device hand-over. This is the top floor of the engine: it
// knows every module, so nothing below it has to.
#pragma once

#include "engine/runtime/core.h"

// The output device is the host's: the front end hands in its device module,
// tests hand in the recording fake device. Core_RegisterBuiltinModules stores
// whatever was handed in last (null when nothing was).
void Core_SetHostDeviceModule(EngineObject* device) noexcept;

// Each stores module-object addresses only and returns 0. Call them in this
// order before anything else touches the engine.
StatusCode Core_RegisterBaseModules() noexcept;
StatusCode Core_RegisterCompressionModules() noexcept;
StatusCode Core_RegisterTextModules() noexcept;
StatusCode Core_RegisterBuiltinModules() noexcept;
StatusCode Core_RegisterDbFileModules() noexcept;
// All five, in order.
StatusCode Core_RegisterAllModules() noexcept;
// Teardown counterpart: module objects are static, so it changes nothing.
StatusCode Core_UnregisterModules() noexcept;

// Start-up housekeeping, after registration: removes what writers of ours
// that were killed left behind, of every kind: replacement copies in the
// settings folders, then the temporary files of ended instances (block
// containers, temporary-copy databases, every other temporary file) and
// their instance locks. Files of running instances and of anyone else stay.
// Failures are passed over (a temporary folder that cannot be used:
// kFileSysNoTempFolder, after the settings folders were swept).
StatusCode Core_SweepDeadCopies() noexcept;
