// A small document handler for tests of the flowing-text defaults: its text
// is a string, its styles a list of runs, and its GetText can be made to
// serve short windows, stop early or fail, so the defaults meet every answer
// a real handler may give. Every other slot is the shared default; tests
// replace single slots in their own copy of the table.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/formats/doc_handler.h"
#include "engine/formats/flow_text.h"

struct StyledRun {
  std::uint32_t start, end;
  DeviceFontSpec font;
  CharFormat format;
};

struct StyledDoc {
  std::string text;
  std::vector<StyledRun> runs;              // positions outside every run take the defaults
  std::uint32_t window = 4096;              // most bytes one GetText or GetTextBefore serves
  std::uint32_t readableEnd = 0xFFFFFFFFu;  // GetText yields nothing from here on
  int failTextAfter = -1;                   // GetText calls that succeed before failing
  int textCalls = 0;
  bool failStyle = false;
  bool stallRuns = false;  // GetCharStyle answers runEnd = position
  DocHandlerSettings settings{0, kDefaultDocCharset, nullptr};
  int drawLineCalls = 0;  // calls of an overriding DrawLine (see tests)
};

inline StyledDoc& Styled(EngineObject* h) {
  return *static_cast<StyledDoc*>(h->state);
}

inline StatusCode StyledGetText(EngineObject* h, std::uint32_t p, const std::uint8_t** text,
                                std::uint32_t* length) noexcept {
  StyledDoc& d = Styled(h);
  ++d.textCalls;
  if (d.failTextAfter >= 0 && d.textCalls > d.failTextAfter) return kFailed;
  const std::uint32_t end = std::min<std::uint32_t>(d.text.size(), d.readableEnd);
  if (p >= end) {
    *text = nullptr;
    *length = 0;
    return kOk;
  }
  // Windows are aligned, as a handler's decode buffers are.
  const std::uint32_t windowEnd = (p / d.window + 1) * d.window;
  *length = std::min({*length, end - p, windowEnd - p});
  *text = reinterpret_cast<const std::uint8_t*>(d.text.data()) + p;
  return kOk;
}

inline StatusCode StyledGetTextBefore(EngineObject* h, std::uint32_t p, const std::uint8_t** text,
                                      std::uint32_t* length) noexcept {
  StyledDoc& d = Styled(h);
  if (p == 0 || p > d.text.size()) {
    *text = nullptr;
    *length = 0;
    return kOk;
  }
  const std::uint32_t windowStart = (p - 1) / d.window * d.window;
  *length = std::min({*length, p, p - windowStart});
  *text = reinterpret_cast<const std::uint8_t*>(d.text.data()) + p - *length;
  return kOk;
}

inline StatusCode StyledGetTextLength(EngineObject* h, std::uint32_t* length) noexcept {
  *length = static_cast<std::uint32_t>(Styled(h).text.size());
  return kOk;
}

inline StatusCode StyledGetCharStyle(EngineObject* h, EngineObject*, std::uint32_t p,
                                     DeviceFontSpec* font, CharFormat* format,
                                     std::uint32_t* runEnd) noexcept {
  StyledDoc& d = Styled(h);
  if (d.failStyle) return kFailed;
  DocHandler_InitCharStyle(font, format);
  std::uint32_t end = kRunToEnd;
  for (const StyledRun& r : d.runs) {
    if (p >= r.start && p < r.end) {
      if (font) *font = r.font;
      if (format) *format = r.format;
      end = r.end;
      break;
    }
    if (r.start > p) end = std::min(end, r.start);
  }
  if (format && (d.settings.flags & DocFlag::RightAlign))
    format->formatFlags = (format->formatFlags & ~DocFormat::AlignMask) | DocFormat::AlignRight;
  if (runEnd) *runEnd = d.stallRuns ? p : end;
  return kOk;
}

inline StatusCode StyledControl(EngineObject* h, std::uint16_t code, std::uint32_t value,
                                void* record) noexcept {
  return DocHandler_Control(&Styled(h).settings, code, value, record);
}

inline DocHandlerOps StyledOps() {
  return DocHandlerOps{
      Core_NotImplemented,
      CoreStub<decltype(DocHandlerOps::create)>::NotSupported,
      CoreStub<decltype(DocHandlerOps::destroy)>::NoOp,
      CoreStub<decltype(DocHandlerOps::command)>::NotSupported,
      DocHandler_StepDone,
      DocHandler_GetSectionInfo,
      DocHandler_LayoutLine,
      DocHandler_FindLine,
      DocHandler_FindLineAbove,
      DocHandler_DrawLineBackground,
      DocHandler_DrawLine,
      DocHandler_InvertRange,
      CoreStub<decltype(DocHandlerOps::getSectionRange)>::NotSupported,
      CoreStub<decltype(DocHandlerOps::findSection)>::NotSupported,
      DocHandler_GetSectionFlags,
      DocHandler_HitTest,
      DocHandler_PositionToX,
      DocHandler_CopyRange,
      StyledGetTextLength,
      DocHandler_ReadRange,
      StyledGetText,
      StyledGetTextBefore,
      StyledGetCharStyle,
      CoreStub<decltype(DocHandlerOps::getLinkAt)>::NotImplemented,
      DocHandler_BookmarkOp,
      StyledControl,
      CoreStub<decltype(DocHandlerOps::layoutPassStep)>::NoOp,
      Core_NotImplemented,
  };
}

inline DeviceFontSpec Font(std::int16_t size, std::uint16_t style = 0) {
  return DeviceFontSpec{DeviceFace::Default, size, style, {}, {}};
}
