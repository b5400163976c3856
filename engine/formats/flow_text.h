// Flowing text: the shared default slots of DocHandlerOps that lay out, find,
// draw, hit-test, invert, copy and read word-wrapped styled text.
//
// They know nothing of a format: the text comes from the handler's own
// GetText, GetTextBefore and GetCharStyle, and they call the
// handler's own LayoutLine, DrawLine, PositionToX and Control (35, the
// annotation store) through its table, so a handler that
// replaces one of them changes every default that uses it. Everything visual
// goes through the device passed in.
//
// Layout rules in brief. Space and TAB are blanks; LF ends a paragraph; CR
// ends one too and CR LF counts as one break. A line ends at a break, or where
// the next word does not fit: it is wrapped after the last blank before the
// overflowing word (a word longer than the line is cut where it overflows,
// keeping at least one whole character), and blanks at a wrap never begin the
// next line. The device's MeasureText reports the width of the bytes that
// fit, never more than the bound, so a line overflows exactly when fewer bytes
// fit than were offered. Every loop stops when a slot makes no progress.
//
// Argument lists and results are those of the slots (doc_handler.h).
#pragma once

#include <cstdint>

#include "engine/formats/doc_handler.h"

// GetSectionInfo: policy 0, one section.
StatusCode DocHandler_GetSectionInfo(EngineObject* handler, std::uint16_t* policy,
                                     std::uint16_t* count) noexcept;
// LayoutLine.
StatusCode DocHandler_LayoutLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                 std::uint32_t start, std::uint32_t end, std::int16_t width,
                                 std::uint32_t* nextStart, LineMetrics* metrics) noexcept;
// FindLine.
StatusCode DocHandler_FindLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                               std::uint32_t position, std::uint32_t lowerBound, std::int16_t width,
                               std::uint32_t* start, std::uint32_t* end,
                               LineMetrics* metrics) noexcept;
// FindLineAbove. Keeps the last 32 lines of the paragraph; sums heights in 32 bits
// and answers them clamped to 32000. Answers 0 (height 0, start = position)
// when position is at or below lowerBound.
StatusCode DocHandler_FindLineAbove(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                    std::uint32_t position, std::uint32_t lowerBound,
                                    std::int16_t width, std::uint32_t reserved,
                                    std::uint32_t* start, std::int16_t* height,
                                    std::int16_t* overlap, std::int16_t* lineCount) noexcept;
// DrawLineBackground: FillRect(x, y + top, right, y + top + height) with the window colour.
StatusCode DocHandler_DrawLineBackground(EngineObject* handler, EngineObject* device,
                                         DeviceContext ctx, std::int16_t x, std::int16_t y,
                                         const LineMetrics* metrics, std::int16_t right,
                                         std::uint16_t reserved, std::uint32_t lineStart,
                                         std::uint32_t lineEnd) noexcept;
// DrawLine.
StatusCode DocHandler_DrawLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                               std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                               std::uint32_t start, std::uint32_t end) noexcept;
// InvertRange.
StatusCode DocHandler_InvertRange(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                  std::uint16_t style, std::int16_t x, std::int16_t y,
                                  const LineMetrics* metrics, std::uint32_t lineStart,
                                  std::int16_t x1, std::int16_t x2, std::uint32_t rangeStart,
                                  std::uint32_t rangeEnd) noexcept;
// GetSectionFlags: flags 0 for section 0, kNoMore for any other.
StatusCode DocHandler_GetSectionFlags(EngineObject* handler, std::int16_t section,
                                      std::uint32_t* flags) noexcept;
// HitTest.
StatusCode DocHandler_HitTest(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                              std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                              std::uint32_t lineStart, std::uint32_t lineEnd, HitBox* box,
                              std::uint32_t* rangeStart, std::uint32_t* rangeEnd) noexcept;
// PositionToX.
StatusCode DocHandler_PositionToX(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                  std::uint32_t lineStart, std::uint32_t rangeStart,
                                  std::uint32_t rangeEnd, std::int16_t* x1,
                                  std::int16_t* x2) noexcept;
// CopyRange: announces the byte count, appends piece by piece, commits in
// every case; the commit's failure, else the read's or the append's.
StatusCode DocHandler_CopyRange(EngineObject* handler, EngineObject* device, std::uint32_t from,
                                std::uint32_t to) noexcept;
// ReadRange.
StatusCode DocHandler_ReadRange(EngineObject* handler, std::uint32_t from, std::uint32_t to,
                                std::uint8_t* buffer, std::uint32_t capacity,
                                std::uint32_t* copied) noexcept;

// Measures the paragraph from start (not past end) without wrapping:
// *next = the position after its break (or end), *fullWidth its width and
// *widestWord the width of its widest word, both including the format
// part's indents at start. A word wider than 100 pixels counts at most the
// device's usable width less 2 (at least 98). Widths are clamped to 32000.
StatusCode DocHandler_MeasureLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                  std::uint32_t start, std::uint32_t end, std::uint32_t* next,
                                  std::int16_t* fullWidth, std::int16_t* widestWord) noexcept;
// Control 19 on an ordinary line: kYes when part of [rangeStart, rangeEnd)
// lies on the line, the line's box starts above the bottom limit and the
// part starts left of the right limit; else kNo.
StatusCode DocHandler_MeasureRun(EngineObject* handler, const DocLinkVisibility* query) noexcept;
// Colours a run by the annotation mark at position: asks the store for the
// attributes there (lowering *runEnd to the mark's boundary) and, for a
// mark, sets the mark colour and DocFontFlag::AnnotationMark in *font. A
// null store leaves everything as it is.
StatusCode DocHandler_ApplyAnnotationMark(AnnotStore* store, std::uint32_t position,
                                          DeviceFontSpec* font, std::uint32_t* runEnd) noexcept;
// The colour of annotation colour k (1..16; others yellow).
DeviceColour DocHandler_AnnotationColour(std::uint8_t k) noexcept;
// Draws the runs of a line from position to end at (x, y), y the top of the
// line's slot; *x (optional) comes back advanced past the drawn text.
StatusCode DocHandler_DrawLineRuns(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                   std::int16_t* x, std::int16_t y, const LineMetrics* metrics,
                                   std::uint32_t position, std::uint32_t end) noexcept;

// The slots a handler class supplies itself. MakeDocHandlerOps fills in word
// 0, the end word and every shared default above, so a handler's table names
// only what it owns (and any default it replaces).
struct DocHandlerClassSlots {
  decltype(DocHandlerOps::create) create;
  decltype(DocHandlerOps::destroy) destroy;
  decltype(DocHandlerOps::command) command;
  decltype(DocHandlerOps::getSectionRange) getSectionRange;
  decltype(DocHandlerOps::findSection) findSection;
  decltype(DocHandlerOps::getTextLength) getTextLength;
  decltype(DocHandlerOps::getText) getText;
  decltype(DocHandlerOps::getTextBefore) getTextBefore;
  decltype(DocHandlerOps::getCharStyle) getCharStyle;
  decltype(DocHandlerOps::control) control;
  decltype(DocHandlerOps::backgroundStep) backgroundStep = DocHandler_StepDone;
  decltype(DocHandlerOps::getSectionInfo) getSectionInfo = DocHandler_GetSectionInfo;
  decltype(DocHandlerOps::layoutLine) layoutLine = DocHandler_LayoutLine;
  decltype(DocHandlerOps::findLine) findLine = DocHandler_FindLine;
  decltype(DocHandlerOps::findLineAbove) findLineAbove = DocHandler_FindLineAbove;
  decltype(DocHandlerOps::drawLineBackground) drawLineBackground = DocHandler_DrawLineBackground;
  decltype(DocHandlerOps::drawLine) drawLine = DocHandler_DrawLine;
  decltype(DocHandlerOps::invertRange) invertRange = DocHandler_InvertRange;
  decltype(DocHandlerOps::getSectionFlags) getSectionFlags = DocHandler_GetSectionFlags;
  decltype(DocHandlerOps::hitTest) hitTest = DocHandler_HitTest;
  decltype(DocHandlerOps::positionToX) positionToX = DocHandler_PositionToX;
  decltype(DocHandlerOps::copyRange) copyRange = DocHandler_CopyRange;
  decltype(DocHandlerOps::readRange) readRange = DocHandler_ReadRange;
  decltype(DocHandlerOps::getLinkAt) getLinkAt =
      CoreStub<decltype(DocHandlerOps::getLinkAt)>::NotImplemented;
  decltype(DocHandlerOps::bookmarkOp) bookmarkOp = DocHandler_BookmarkOp;
  decltype(DocHandlerOps::layoutPassStep) layoutPassStep =
      CoreStub<decltype(DocHandlerOps::layoutPassStep)>::NoOp;
};

constexpr DocHandlerOps MakeDocHandlerOps(const DocHandlerClassSlots& c) {
  return DocHandlerOps{
      Core_NotImplemented, c.create,
      c.destroy,           c.command,
      c.backgroundStep,    c.getSectionInfo,
      c.layoutLine,        c.findLine,
      c.findLineAbove,     c.drawLineBackground,
      c.drawLine,          c.invertRange,
      c.getSectionRange,   c.findSection,
      c.getSectionFlags,   c.hitTest,
      c.positionToX,       c.copyRange,
      c.getTextLength,     c.readRange,
      c.getText,           c.getTextBefore,
      c.getCharStyle,      c.getLinkAt,
      c.bookmarkOp,        c.control,
      c.layoutPassStep,    Core_NotImplemented,
  };
}
