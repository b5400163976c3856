// The literal find engine: looks for a byte pattern of up to 63 bytes in a
// document's decoded text, forwards or backwards, within one section or the
// whole document, with or without ASCII case folding. The work is cut into
// steps of at most 4096 bytes so the caller can show progress and cancel
// between them; the shell runs the steps on a worker thread while the text
// view starts and finishes the search on the UI thread.
//
// The engine reads the text only through the document handler (its
// GetSectionInfo, GetSectionRange, FindSection, GetText, GetTextBefore and
// control 24) and the text-conversion service; it
// never touches a view or a device. Matching is Knuth-Morris-Pratt over bytes
// with its state carried from one text window and one step to the next, so a
// hit may straddle both. In a multi-byte charset a hit must start on a
// character boundary, and folding applies only to ASCII letters that are
// characters of their own (never to a trail byte or half a UTF-16 unit).
//
// The module is a service: g_TextSearchModule, table TextSearchOps. A search
// is created by Start, owned by the caller, and freed by Finish, which must be
// called for every successful Start.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x721: the step's "ended" answer (a hit was found or the range is
// exhausted; Finish tells which).
constexpr StatusCode kTextSearchDone = MakeInfo(Facility::TextSearch, 0x01);

constexpr std::uint32_t kTextSearchMaxPattern = 63;
constexpr std::uint32_t kTextSearchStepBytes = 4096;

// Start flags; bits 0-4 come from the caller, bit 15 is set by Start.
namespace TextSearchFlag {
constexpr std::uint16_t CaseSensitive = 1u << 0;
constexpr std::uint16_t WholeDocument = 1u << 1;  // range 0 .. end of the last section
constexpr std::uint16_t Backward = 1u << 2;       // from the position down to the range start
constexpr std::uint16_t WholeRange = 1u << 3;     // forward over the range from its start ...
constexpr std::uint16_t FromPosition = 1u << 4;   // ... or, with bit 3, from the position
constexpr std::uint16_t CallerMask = 0x001F;
constexpr std::uint16_t MultiByte = 1u << 15;  // the document's charset is multi-byte
}  // namespace TextSearchFlag

// Known character boundaries of one section, kept by the boundary test so
// that checking the hits of one search decodes the text about once (forward:
// the last boundary passed; backward: boundaries at doubling distances below
// the last hit checked), never again from the section start.
constexpr std::uint32_t kTextSearchBoundaryMarks = 16;

// One running search. In memory only; allocated by Start from the engine
// allocator and freed by Finish.
struct TextSearch {
  std::uint16_t flags;          // TextSearchFlag bits
  EngineObject* handler;        // the document handler (not owned)
  std::uint32_t charset;        // MIBenum of the document's text
  std::uint32_t charsetClass;   // CharsetClass of text_conv.h (0 when unknown)
  bool bigEndianUnits;          // UTF-16 text in big-endian order
  std::uint32_t patternLength;  // 1 .. 63
  // The pattern as matched: folded unless case-sensitive, reversed for a
  // backward search, NUL after the last byte.
  std::uint8_t pattern[kTextSearchMaxPattern + 1];
  std::uint8_t rawPattern[kTextSearchMaxPattern];  // as given, for checking folded hits
  std::int8_t links[kTextSearchMaxPattern + 1];    // failure links, links[0] = -1
  std::int32_t matchState;                         // pattern bytes matched so far
  std::uint32_t leg;                               // 0 or 1 while running, 2 when done
  std::uint32_t legPosition[2];                    // next text position to examine
  std::uint32_t legEnd[2];
  std::uint32_t rangeStart;
  std::uint32_t rangeEnd;
  std::uint32_t done;  // bytes examined, for the percentage
  std::uint32_t total;
  std::uint32_t hitStart;
  std::uint32_t hitEnd;  // equal to hitStart while there is no hit
  // Boundary test state: the section last looked at and boundaries known in it.
  bool sectionKnown;
  std::uint32_t sectionStart;
  std::uint32_t sectionEnd;
  std::uint32_t markCount;
  std::uint32_t marks[kTextSearchBoundaryMarks];  // ascending
};

struct TextSearchOps {
  CoreEndWord word0;
  // 1: answers the module itself as its instance; 0.
  StatusCode (*create)(EngineObject* module, EngineObject** out) noexcept;
  // 2: does nothing; 0.
  StatusCode (*destroy)(EngineObject* module) noexcept;
  // 3: a new search for patternLength bytes of pattern (cut to 63) with the
  //  TextSearchFlag caller bits, over the handler's text: with WholeDocument
  //  from 0 to the end of the last section, else over `section` (a section
  //  the handler does not have gives the empty range 0..0). The position is
  //  clamped into the range; callers pass the end of the previous hit
  //  (forward) or its start (backward). Forward hits lie in [position, range
  //  end), backward hits in [range start, position). The charset is the
  //  handler's (control 24; 2252 when it has none). kBadArgument for an empty
  //  pattern or a null pattern or handler; kNullOutPointer without out;
  //  kOutOfMemory (nothing allocated); a failure of the handler's section
  //  slots is passed on.
  StatusCode (*start)(EngineObject* module, const void* pattern, std::uint32_t patternLength,
                      std::uint16_t flags, EngineObject* handler, std::uint32_t section,
                      std::uint32_t position, TextSearch** out) noexcept;
  // 4: examines at most 4096 more bytes. 0: more to do. kTextSearchDone: a
  //  hit was found, the range is exhausted, or search is null; once done,
  //  further steps change nothing. The step that exhausts the range answers
  //  0 and the next one kTextSearchDone. A text window the handler cannot
  //  serve (a failure status) ends the step with that failure at once; the
  //  search stays where it was and may be stepped again or finished. An
  //  empty window (the text ends before the range) ends the range. A step
  //  that examined the range (answering 0 or kTextSearchDone) writes
  //  *percent (optional) = bytes examined * 100 / bytes in the range (100
  //  for an empty range) and *position (optional) = the text position
  //  reached; a step on a search already done writes nothing.
  StatusCode (*step)(EngineObject* module, TextSearch* search, std::int16_t* percent,
                     std::uint32_t* position) noexcept;
  // 5: frees the search (null allowed). 0 with [*hitStart, *hitEnd) written
  //  (each optional) when a hit was found; kNotFound when there is no search
  //  or no hit (outputs untouched); the allocator's failure when freeing
  //  fails.
  StatusCode (*finish)(EngineObject* module, TextSearch* search, std::uint32_t* hitStart,
                       std::uint32_t* hitEnd) noexcept;
  CoreEndWord end;  // 6
};

extern EngineObject TextSearchModule;

StatusCode TextSearch_Start(EngineObject* module, const void* pattern, std::uint32_t patternLength,
                            std::uint16_t flags, EngineObject* handler, std::uint32_t section,
                            std::uint32_t position, TextSearch** out) noexcept;
StatusCode TextSearch_Step(EngineObject* module, TextSearch* search, std::int16_t* percent,
                           std::uint32_t* position) noexcept;
StatusCode TextSearch_Finish(EngineObject* module, TextSearch* search, std::uint32_t* hitStart,
                             std::uint32_t* hitEnd) noexcept;
