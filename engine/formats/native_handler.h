// The native handler's slots: what the native format adds on top of the
// shared flowing-text layout (flow_text.h).
//
// Inline objects: a position inside a run of the inline-object run list
// (range 4) with a non-zero value holds an object, one character long (two
// bytes in UTF-16 text). An object is a line of its own, except a bullet,
// which begins the line of the text after it; text lines end where the next
// object begins. The run's value is the object code:
//   1, 2               special objects: width -1 and -2, nothing drawn
//   3, 4, 5            bullet shapes 0x8001-0x8003 drawn through the
//                      device's list marker, 3/8 of the line's ascent wide,
//                      and as much again before the text
//   0x10000-0x1FFFF    image item (low 16 bits) of table 9
//   0x20000-0x2FFFF    select list, key in the low 16 bits
//   others             width 1, nothing drawn
// Value 0 is the default item: no object.
//
// Paragraphs: the paragraph formats of run list 0 (table 6 items, one value
// column per nesting level) give the alignment, the flags and the indents
// of GetCharStyle and the space, borders and padding around paragraphs
// (NativeDoc_AddParagraphSpace); the paragraph attributes of table 10 say
// whether a paragraph wraps (bit 0: no wrapping) and whether it lies in a
// table (bit 1).
#pragma once

#include <cstdint>

#include "engine/formats/native_doc.h"

// Object codes of the inline-object run list.
namespace NativeObject {
constexpr std::uint32_t SpecialA = 1;
constexpr std::uint32_t SpecialB = 2;
constexpr std::uint32_t BulletFirst = 3;
constexpr std::uint32_t BulletLast = 5;
constexpr std::uint32_t ImageFirst = 0x10000;
constexpr std::uint32_t ImageLast = 0x1FFFF;
constexpr std::uint32_t SelectFirst = 0x20000;
constexpr std::uint32_t SelectLast = 0x2FFFF;
}  // namespace NativeObject

// Table-10 attribute bits (byte 0 of the item).
namespace NativeParaAttr {
constexpr std::uint8_t NoWrap = 0x01;
constexpr std::uint8_t InTable = 0x02;
}  // namespace NativeParaAttr

// Control 31: counted strings of the extra stream for calendar (selector 0,
// base offset 2) and contact-card (selector 1, base offset 3) objects. The
// data is a NUL-terminated copy freed by control 32.
struct NativeObjectData {
  std::uint32_t offset;  // from the selector's base offset
  std::uint16_t selector;
  const void* data;    // out
  std::uint32_t size;  // out
};

// Control 33: the image object at `start`, a point relative to the image as
// shown. The point and the image's size are halved with DocFlag::DoubleImages
// and taken by 256 / s when the image item's map scale s is not 0, so the map
// is hit where it is drawn. On a hit the answer is kDocImageMapHit; kFailed
// when the object is no image, the image has no map or no area holds the point.
struct NativeImageMapQuery {
  std::uint32_t start;
  std::uint32_t target;  // out: the area's target, as GetLinkAt passes targets on
  std::int16_t x, y;
  StatusCode linkClass;  // out: the target's class
};

// Control 12.
struct NativeStringQuery {
  std::uint16_t capacity;
  std::uint16_t length;  // out
  std::uint8_t* buffer;
};

// The object at position p: its code and the run's end; kNotFound when p
// holds none.
StatusCode NativeDoc_ObjectAt(NativeDocState* s, std::uint32_t p, std::uint32_t* code,
                              std::uint32_t* runEnd) noexcept;

// Adds the space above and below, the borders and the padding of the
// paragraph formats covering the line [p, e) to its metrics (rangeFrom and
// rangeTo: a range the paragraph runs must also cover, or both 0 for none).
StatusCode NativeDoc_AddParagraphSpace(NativeDocState* s, EngineObject* device, DeviceContext ctx,
                                       std::uint32_t p, std::uint32_t e, std::uint32_t rangeFrom,
                                       std::uint32_t rangeTo, LineMetrics* metrics) noexcept;

StatusCode NativeDoc_LayoutLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                std::uint32_t start, std::uint32_t end, std::int16_t width,
                                std::uint32_t* nextStart, LineMetrics* metrics) noexcept;
StatusCode NativeDoc_DrawLineBackground(EngineObject* handler, EngineObject* device,
                                        DeviceContext ctx, std::int16_t x, std::int16_t y,
                                        const LineMetrics* metrics, std::int16_t right,
                                        std::uint16_t reserved, std::uint32_t lineStart,
                                        std::uint32_t lineEnd) noexcept;
StatusCode NativeDoc_DrawLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                              std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                              std::uint32_t start, std::uint32_t end) noexcept;
StatusCode NativeDoc_InvertRange(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                 std::uint16_t style, std::int16_t x, std::int16_t y,
                                 const LineMetrics* metrics, std::uint32_t lineStart,
                                 std::int16_t x1, std::int16_t x2, std::uint32_t rangeStart,
                                 std::uint32_t rangeEnd) noexcept;
StatusCode NativeDoc_GetSectionRange(EngineObject* handler, std::int16_t section,
                                     std::uint32_t* start, std::uint32_t* end) noexcept;
StatusCode NativeDoc_FindSection(EngineObject* handler, std::uint32_t position,
                                 std::int16_t* section, std::uint32_t* start,
                                 std::uint32_t* end) noexcept;
StatusCode NativeDoc_GetSectionFlags(EngineObject* handler, std::int16_t section,
                                     std::uint32_t* flags) noexcept;
StatusCode NativeDoc_HitTest(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                             std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                             std::uint32_t lineStart, std::uint32_t lineEnd, HitBox* box,
                             std::uint32_t* rangeStart, std::uint32_t* rangeEnd) noexcept;
StatusCode NativeDoc_PositionToX(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                 std::uint32_t lineStart, std::uint32_t rangeStart,
                                 std::uint32_t rangeEnd, std::int16_t* x1,
                                 std::int16_t* x2) noexcept;
StatusCode NativeDoc_GetCharStyle(EngineObject* handler, EngineObject* device,
                                  std::uint32_t position, DeviceFontSpec* font, CharFormat* format,
                                  std::uint32_t* runEnd) noexcept;
StatusCode NativeDoc_GetLinkAt(EngineObject* handler, std::uint32_t position, std::uint32_t* start,
                               std::uint32_t* end, std::uint32_t* target) noexcept;
// Position lists 0 and 1; names at most 31 bytes.
StatusCode NativeDoc_BookmarkOp(EngineObject* handler, std::uint16_t subCode, std::uint16_t index,
                                void* record) noexcept;
// Every native control code (links, strings, select lists, extra strings,
// image maps, link visibility) and, through NativeDoc_Control, the header
// codes and the common ones.
StatusCode NativeDoc_HandlerControl(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                                    void* record) noexcept;
StatusCode NativeDoc_LayoutPassStep(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                                    std::uint16_t subCode, std::uint16_t section,
                                    std::uint32_t* word) noexcept;
