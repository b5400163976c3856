// Drawing helpers shared by the controls that draw themselves through a
// device (the drop-down list and the note box): device calls that stop at
// the first failure and keep it, and a session that begins drawing only when
// the caller gave no context.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/device/device.h"

// v limited to the i16 range of device coordinates.
inline std::int16_t Device_Clamp16(int v) {
  return static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
}

struct DevicePainter {
  DevicePainter(EngineObject* d, DeviceContext c) : device(d), ops(DeviceOf(d)), ctx(c) {}

  EngineObject* device;
  const DeviceOps& ops;
  DeviceContext ctx;
  StatusCode status = kOk;

  bool Ok() const { return !IsFailure(status); }
  void Take(StatusCode s) {
    if (Ok() && IsFailure(s)) status = s;
  }
  void Invert(int l, int t, int r, int b) {
    if (Ok() && l < r && t < b)
      Take(ops.invertRect(device, ctx, Device_Clamp16(l), Device_Clamp16(t), Device_Clamp16(r),
                          Device_Clamp16(b)));
  }
  void Surface(DeviceRect* a, void* b, std::int16_t kind) {
    if (Ok()) Take(ops.surfaceCommand(device, ctx, a, b, kind));
  }
};

// Brackets one command's drawing with Painter p (a DevicePainter).
template <class Painter>
class DeviceDrawSession {
 public:
  DeviceDrawSession(EngineObject* device, DeviceContext ctx) : p(device, ctx) {}
  ~DeviceDrawSession() { (void)End(kOk); }
  DeviceDrawSession(const DeviceDrawSession&) = delete;
  DeviceDrawSession& operator=(const DeviceDrawSession&) = delete;

  StatusCode Begin() {
    if (p.ctx != nullptr) return kOk;
    const StatusCode s = p.ops.beginDraw(p.device, &p.ctx);
    began_ = !IsFailure(s);
    return s;
  }
  // s, or the failure of EndDraw when s is none.
  StatusCode End(StatusCode s) {
    if (!began_) return s;
    began_ = false;
    const StatusCode e = p.ops.endDraw(p.device, p.ctx);
    return !IsFailure(s) && IsFailure(e) ? e : s;
  }

  Painter p;

 private:
  bool began_ = false;
};
