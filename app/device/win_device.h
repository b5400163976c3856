// WinDevice: the output device of the front end, drawn with Qt.
//
// The device paints into an image of the host window's size (its surface);
// the host widget's paint event only shows that image (WinDevice_Surface),
// because Qt cannot paint on a widget outside its paint event. The outermost
// EndDraw and ValidateRect ask the host to show the painted area again, so
// the host runs the engine's painting outside its paint event (on resize,
// scroll, timers) and never from it. The surface has a device-pixel ratio of
// 1; complex-script shaping and right-to-left reading (text-origin flag bit
// 5) are not done: characters are placed one after the other.
// Measuring and drawing agree to the pixel: every character is measured with
// its whole-pixel advance (no kerning, full hinting) and drawn at the
// position measuring gave it.
//
// Who owns what:
// - The host window given to SetProperty is a QWidget*. When it is a
//   QAbstractScrollArea, its vertical scroll bar is the device's vertical
//   bar and the horizontal bars of wide blocks are children of its viewport;
//   otherwise they are children of the widget itself and there is no
//   vertical bar (its values are still kept).
// - The printer context of property 6 is a QPainter* already begun on the
//   printer (the shell scales it so that one unit is one point); the device
//   draws into it and never ends it.
// - The device owns its surfaces, fonts, horizontal scroll bars, the position
//   map and table store (DeviceServices), and the last vObject file, and
//   releases them in Destroy.
#pragma once

#include <cstdint>

#include "engine/device/device.h"
#include "engine/runtime/core.h"

class QImage;

extern EngineObject WinDeviceModule;

// The image the host shows: the window surface (null before the first
// BeginDraw). It stays valid until the next BeginDraw or Destroy.
const QImage* WinDevice_Surface(EngineObject* device) noexcept;

// How notices are given: a hook receives kinds 1-12; null restores the
// default (the system beep for kinds 1-4, silence for the others).
using WinDeviceNoticeHook = void (*)(std::uint16_t kind) noexcept;
void WinDevice_SetNoticeHook(WinDeviceNoticeHook hook) noexcept;

// How a vObject file is handed to the system: the hook gets its path (UTF-8)
// and answers whether it was opened; null restores the default
// (QDesktopServices::openUrl).
using WinDeviceOpenHook = bool (*)(const char* path) noexcept;
void WinDevice_SetOpenHook(WinDeviceOpenHook hook) noexcept;

// The path (UTF-8) of the last vObject file handed to the system, empty for
// none; for tests and diagnostics.
const char* WinDevice_LastVObjectFile(EngineObject* device) noexcept;
