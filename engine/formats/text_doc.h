// The plain-text handler: shows any file no other handler claims as
// unstyled, word-wrapped text in one section, through the shared flowing-text
// defaults (flow_text.h).
//
// The text comes either from memory (command 33: the caller keeps the bytes
// alive until close or destroy) or from a byte stream (command 34: the caller
// keeps the stream open). A stream is read through a window of two 4096-byte
// halves, each holding one aligned 4096-byte block of the stream; a miss
// refills the half not used by the last access, so a pointer handed out by
// GetText or GetTextBefore stays valid through the next access. A miss on the
// block next to the other half's (a reader walking the text either way) first
// reads kTextDocReadAhead bytes in that direction into a read-ahead buffer,
// and the halves are then filled from it, so a walk makes one stream read
// per 128 KiB. Every NUL read from a stream is stored as '?', so the text
// never holds NUL.
//
// Ownership: the window and read-ahead buffers belong to the handler and are
// freed by Destroy (a repeated attach reuses them); the caller's text and stream are
// never freed. Close forgets the text or stream and makes the text empty.
// Commands 49 and 50 (replace the text pointer or stream) are refused with
// kMalformed and change nothing.
//
// Probes accept everything: 17 (a header in memory) answers
// kDocProbeTextHeader, 16 and 18-31 kDocProbeText.
#pragma once

#include <cstdint>

#include "engine/formats/doc_handler.h"

constexpr std::uint32_t kTextDocHalf = 4096;
constexpr std::uint32_t kTextDocReadAhead = 32 * kTextDocHalf;

extern EngineObject TextDocModule;

StatusCode TextDoc_Create(EngineObject* module, EngineObject** out) noexcept;
StatusCode TextDoc_Destroy(EngineObject* handler) noexcept;
StatusCode TextDoc_Command(EngineObject* handler, std::uint32_t code, void* object,
                           std::uint32_t value) noexcept;
StatusCode TextDoc_GetSectionRange(EngineObject* handler, std::int16_t section,
                                   std::uint32_t* start, std::uint32_t* end) noexcept;
StatusCode TextDoc_FindSection(EngineObject* handler, std::uint32_t position, std::int16_t* section,
                               std::uint32_t* start, std::uint32_t* end) noexcept;
StatusCode TextDoc_GetTextLength(EngineObject* handler, std::uint32_t* length) noexcept;
StatusCode TextDoc_GetText(EngineObject* handler, std::uint32_t position, const std::uint8_t** text,
                           std::uint32_t* length) noexcept;
StatusCode TextDoc_GetTextBefore(EngineObject* handler, std::uint32_t position,
                                 const std::uint8_t** text, std::uint32_t* length) noexcept;
// The defaults; with DocFlag::RightAlign set, alignment 2. Run end kRunToEnd.
StatusCode TextDoc_GetCharStyle(EngineObject* handler, EngineObject* device, std::uint32_t position,
                                DeviceFontSpec* font, CharFormat* format,
                                std::uint32_t* runEnd) noexcept;
StatusCode TextDoc_Control(EngineObject* handler, std::uint16_t code, std::uint32_t value,
                           void* record) noexcept;
