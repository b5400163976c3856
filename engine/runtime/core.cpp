#include "engine/runtime/core.h"

StatusCode Core_NotImplemented(EngineObject*) noexcept { return kFailed; }

StatusCode Core_QuerySelf(EngineObject* object, EngineObject** out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  *out = object;
  return kOk;
}

StatusCode Core_NotSupported(EngineObject*) noexcept { return kNotSupported; }

StatusCode Core_NoOp(EngineObject*) noexcept { return kOk; }
