// The engine's object model.
//
// Every engine object is an EngineObject: a pointer to its state and a pointer
// to its table of operations. An operation is called as ops->slot(object, ...)
// and returns a StatusCode; out-parameters come last and are written only on
// success; a create operation returns the new object through its last argument.
// No operation throws.
//
// A table of operations is a struct of typed function pointers in slot order.
// Word 0 and the word after the last slot are always Core_NotImplemented, so
// slot numbers count from 1 as the interfaces number them. Slots a class does
// not offer hold CoreStub<...>::NotSupported (or ::NoOp where doing nothing is
// the right answer).
//
// Module objects are static EngineObjects with a null state. An instance lives
// in one allocation: the EngineObject header, then its body, with state
// pointing at the body (see EngineInstance).
#pragma once

#include <cstdint>

#include "engine/runtime/status.h"

struct EngineObject {
  void* state;
  const void* ops;
};

// The type of word 0 and of the end word of every table.
using CoreEndWord = StatusCode (*)(EngineObject*) noexcept;

// Returns kFailed. Word 0 and the terminating word of every table.
StatusCode Core_NotImplemented(EngineObject* object) noexcept;
// Writes the object itself to *out and returns 0.
StatusCode Core_QuerySelf(EngineObject* object, EngineObject** out) noexcept;

// Typed forms of the shared stubs, one per slot signature, so tables stay
// typed: CoreStub<decltype(XxxOps::slot)>::NotSupported.
template <class Fn>
struct CoreStub;
template <class... Args>
struct CoreStub<StatusCode (*)(EngineObject*, Args...) noexcept> {
  static StatusCode NotSupported(EngineObject*, Args...) noexcept { return kNotSupported; }
  static StatusCode NoOp(EngineObject*, Args...) noexcept { return kOk; }
  static StatusCode NotImplemented(EngineObject*, Args...) noexcept { return kFailed; }
};

// Untyped forms for the common (object) signature.
StatusCode Core_NotSupported(EngineObject* object) noexcept;
StatusCode Core_NoOp(EngineObject* object) noexcept;

// The table of an object, typed by the caller who knows its interface.
template <class Ops>
inline const Ops& OpsOf(const EngineObject* object) {
  return *static_cast<const Ops*>(object->ops);
}

// The body of an instance created by its class module. Instances are laid out
// as { EngineObject header; Body body; } in one engine allocation.
template <class Body>
struct EngineInstance {
  EngineObject header;
  Body body;
};

template <class Body>
inline Body& BodyOf(EngineObject* object) {
  return *static_cast<Body*>(object->state);
}
