// The 'RaZo' handler: compressed, styled documents kept in a record database
// of type "RaZo". Every number is big-endian.
//
// Record 0, the header (the handler keeps its first 64 bytes, or its first 20
// when the header length or the record is shorter than 64; fields past the
// copy read as 0):
//   0  u16 header length (>= 20)      2  u16 version (must be 1)
//   4  u8  at most 1                  5  u8  must be 0
//   6  2 bytes not read               8  "RaZo"
//   12 u32 text length                16 u16 N, text blocks per group (not 0)
//   18 u16 not read                   20 u16, u16 first / count of style-run records
//   24 u16, u16 link records          28 u16, u16 block-line records
//   32 4 bytes not read               36 u16 number of sections
//   38 u16, u16 section-index records 42 u16 record of list 1 (anchors), 0 = none
//   44 u16 record of list 0 (bookmarks), 0 = none
//   46 u16, u16 link-target records   50 u16, u16 image records
//   54 u16 layout flags (bit 0: section policy 0; else bit 1: policy 2; else 1)
//   56 8 bytes not read
// Side record k of a kind is database record first + k. A record 0 that fails
// the checks above opens an empty document. A range that names records the
// database does not hold is cut to the records it holds (a list record past
// the end reads as no list, the text ends with the last block whose record
// exists); such a document reads as far as it can and is never written.
//
// Text: block b holds positions 4096 b .. 4096 b + 4095; group g = b / N has
// its code tables in record g (N + 1) + 1 and block b is record b + g + 2.
//   code-table record: u8 header length (>= 4), u8 type 1, u16 e, then 4 e
//     bytes of stored DEFLATE tables (deflate_data.h) from offset 4.
//   block record: u8 header length (>= 4), u8 type, u16 c, then 4 c bytes
//     from offset 4: type 2 DEFLATE-coded with the group's tables; types 4-7
//     stored, 4 c bytes less (type - 4) pad bytes, exactly 4096 when c > 1024.
//   Every block but the last decodes to 4096 bytes, the last to the rest of
//   the text length; a block that decodes shorter is damage.
//
// Positions in side records are 32-bit: a high word in the record head and a
// low word per entry; the high word grows by one whenever a low word is not
// greater than the one before. A record whose rebuilt positions disagree with
// its head (the end's or the last entry's high word), that does not rise, or
// that is shorter than its entries need is damage.
//   style runs:  0 hi first, 2 hi end, 4 n (<= 4096), 6 (n + 1) low words (run
//     starts, then the record's end), 2n + 8 n style words, 4n + 8 u16 not
//     read, 4n + 10 one paragraph word per run with style bit 7, in order.
//   links:       0 hi first, 2 hi end, 4 n (<= 4096), 6 (n + 1) low words,
//     2n + 8 n u8 lengths, 3n + 8 n bytes not read, 4n + 8 n u32 targets.
//   block lines: 0 hi first, 2 hi last, 4 n (<= 4096), 6 n low words, 2n + 6
//     n u8 kinds (1 rule, 3 image), 3n + 6 n u8 flags, 4n + 6 one extra word
//     per entry with flag bit 7, in order. An image's extra word is the
//     offset in the record of an 8-byte entry {u16 length >= 8, u16 width,
//     u16 height, u16 image k}; image k is image record first + k.
//   sections:    0 hi first, 2 hi last, 4 first section, 6 last section, 8 w,
//     10 w low words of boundaries; a low word equal to the one before is an
//     escape followed by the new high and low words.
//   link targets: u16 at 4 m, from 8 m entries {u8 length, bytes}, numbered
//     across the records from 0.
//   images:      u8 header length r (> 1), u8 kind (1 = Palm bitmap), data
//     from r; more than 2 bytes.
//
// Record 0 is written only to store the record numbers of position lists
// created while the document is open (bytes 42 to 45, and only when the kept
// copy, the header length and the record all cover them); a short header
// refuses to create a list. A damaged document is never written to.
#pragma once

#include <cstdint>

#include "engine/formats/doc_handler.h"

constexpr std::uint8_t kRaZoType[4] = {'R', 'a', 'Z', 'o'};
constexpr std::uint32_t kRaZoBlockSize = 4096;
constexpr std::uint32_t kRaZoHeaderCopy = 64;
constexpr std::uint32_t kRaZoShortHeader = 20;
constexpr std::uint32_t kRaZoMaxEntries = 4096;  // entries of one side record

// Block-line kinds.
namespace RaZoBlockKind {
constexpr std::uint8_t Rule = 1;
constexpr std::uint8_t Image = 3;
}  // namespace RaZoBlockKind

// Control 0 and 1 record: resolving an internal target and finding an anchor.
// The names are NUL-terminated into the caller's buffers; a buffer too small
// for its name is replaced by an engine allocation (flags NewFirst or
// NewSecond; the caller frees it with Engine_Free).
struct RaZoTargetQuery {
  std::uint32_t target;  // in: the 0xFFxxxxxx target; control 1 out: the anchor's position
  char* firstName;
  char* secondName;
  std::uint16_t flags;  // RaZoTargetFlag
  std::uint16_t firstCapacity;
  std::uint16_t secondCapacity;
};

namespace RaZoTargetFlag {
constexpr std::uint16_t FirstFound = 1u << 0;
constexpr std::uint16_t SecondFound = 1u << 2;
constexpr std::uint16_t NewFirst = 0x10;
constexpr std::uint16_t NewSecond = 0x40;
}  // namespace RaZoTargetFlag

extern EngineObject RaZoDocModule;

// Create: on the class; kOutOfMemory.
StatusCode RaZoDoc_Create(EngineObject* module, EngineObject** out) noexcept;
// Destroy: closes as command 0 does (writing record 0 back when a list record
// was created), frees everything; the first failure, else 0.
StatusCode RaZoDoc_Destroy(EngineObject* handler) noexcept;
// Command: probes 17 (header of at least 78 bytes), 18 and 19 answer
// kDocProbeMine for type "RaZo", else kMalformed; 16 kMalformed. 35 opens on
// the database: 0 (an empty database opens empty; a header naming records
// past the end opens what can be read), kDocMalformed for an invalid record 0
// (the document then reads as empty and is never written), or the database's
// or allocator's failure. 0 closes (see Destroy); 51
// replaces the database; anything else kMalformed.
StatusCode RaZoDoc_Command(EngineObject* handler, std::uint32_t code, void* object,
                           std::uint32_t value) noexcept;
// GetSectionInfo: policy from the layout flags; the section count (at least 1).
StatusCode RaZoDoc_GetSectionInfo(EngineObject* handler, std::uint16_t* policy,
                                  std::uint16_t* count) noexcept;
// LayoutLine: the newline probe at a LF holding a rule or an image answers
// its alignment (kDocBlockLeft, kDocBlockCentre, kDocBlockRight) with the
// block's width, height, ascent and its indent inside the offered width; the
// shared layout then makes the block a line of its own. Other kinds answer
// kNoMore with width 0 and height 5. Everything else goes to the shared layout.
StatusCode RaZoDoc_LayoutLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                              std::uint32_t start, std::uint32_t end, std::int16_t width,
                              std::uint32_t* nextStart, LineMetrics* metrics) noexcept;
// DrawLine: the empty range at a block line draws the rule or the image with
// its borders and answers kNoMore; anything else the shared drawing.
StatusCode RaZoDoc_DrawLine(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                            std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                            std::uint32_t start, std::uint32_t end) noexcept;
// GetSectionRange, FindSection: sections from the section-index records (one section [0,
// text length) with fewer than 2); kNoMore past the last section or the text.
StatusCode RaZoDoc_GetSectionRange(EngineObject* handler, std::int16_t section,
                                   std::uint32_t* start, std::uint32_t* end) noexcept;
StatusCode RaZoDoc_FindSection(EngineObject* handler, std::uint32_t position, std::int16_t* section,
                               std::uint32_t* start, std::uint32_t* end) noexcept;
// HitTest, PositionToX: a block line is hit as a whole.
StatusCode RaZoDoc_HitTest(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                           std::int16_t x, std::int16_t y, const LineMetrics* metrics,
                           std::uint32_t lineStart, std::uint32_t lineEnd, HitBox* box,
                           std::uint32_t* rangeStart, std::uint32_t* rangeEnd) noexcept;
StatusCode RaZoDoc_PositionToX(EngineObject* handler, EngineObject* device, DeviceContext ctx,
                               std::uint32_t lineStart, std::uint32_t rangeStart,
                               std::uint32_t rangeEnd, std::int16_t* x1, std::int16_t* x2) noexcept;
// GetTextLength, GetText, GetTextBefore: the text through two 4096-byte decode buffers; a block
// that cannot be decoded answers kFailed (null, 0).
StatusCode RaZoDoc_GetTextLength(EngineObject* handler, std::uint32_t* length) noexcept;
StatusCode RaZoDoc_GetText(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                           std::uint32_t* length) noexcept;
StatusCode RaZoDoc_GetTextBefore(EngineObject* handler, std::uint32_t position,
                                 const std::uint8_t** text, std::uint32_t* length) noexcept;
// GetCharStyle: the run's style; where no run holds the position, font {0, 12, 0},
// the last format and kRunToEnd with 0.
StatusCode RaZoDoc_GetCharStyle(EngineObject* handler, EngineObject* device, std::uint32_t position,
                                DeviceFontSpec* font, CharFormat* format,
                                std::uint32_t* runEnd) noexcept;
// GetLinkAt: kDocLinkHostCode for a 0xFFxxxxxx target (resolved through control
// 0), 0 for others, kFailed where no link covers the position, kDocMalformed
// for a damaged link record.
StatusCode RaZoDoc_GetLinkAt(EngineObject* handler, std::uint32_t position, std::uint32_t* start,
                             std::uint32_t* end, std::uint32_t* target) noexcept;
// BookmarkOp: lists 0 (bookmarks) and 1 (anchors) through pos_list.h; the
// records as in doc_handler.h (Move: const u16 j). kNotSupported for a list
// above 1 or a sub-code outside 16..224; writes on a damaged document
// kDocMalformed; creating a list under a short header kDocListTooShort.
StatusCode RaZoDoc_BookmarkOp(EngineObject* handler, std::uint16_t subCode, std::uint16_t index,
                              void* record) noexcept;
// The names of an internal target (0xFFxxxxxx) into the query's buffers,
// or new ones when they are too small (RaZoTargetFlag::New*); kFailed when
// the target is not internal or names no entry (nothing allocated stays).
StatusCode RaZoDoc_FindTargetNames(EngineObject* handler, RaZoTargetQuery* query) noexcept;
// The position of the anchor named by the query's second name (0 when none)
// into query->target.
StatusCode RaZoDoc_FindAnchorByName(EngineObject* handler, RaZoTargetQuery* query) noexcept;
// Control: 0 describes an internal target (value) in a DocLinkTarget: the
// first name as text[0], the second as text[1]; 1 finds the anchor named by
// text[1] into value; 13..18 walk links over a LinkRange (kNoMore when there
// is no such link in the window); 19 DocHandler_MeasureRun; 8 and 9 also
// align the default paragraph right when the document has no style runs;
// the common controls.
StatusCode RaZoDoc_Control(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                           void* record) noexcept;
