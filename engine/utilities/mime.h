// Content-type parsing and file-extension to MIME type lookup with built-in
// tables, called on the module object (g_MimeModule). Names are compared with
// A-Z taken as a-z.
//
// Major types are numbered 1..8: application, audio, image, message, model,
// multipart, text, video. Known subtypes are numbered 1..47 (see
// kMimeSubtypeNames in mime.cpp; the numbers are part of the interface).
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

constexpr std::uint32_t kMimeMajorCount = 8;
constexpr std::uint32_t kMimeSubtypeCount = 47;

// A parsed content type; the pointers point into the parsed text, except
// subtypeName, which points at the table's NUL-terminated name.
struct MimeContentType {
  std::uint32_t major;  // 1..8, 0 when unknown
  const char* type;
  std::uint32_t typeLength;
  const char* subtypeName;  // null when the subtype is unknown
  const char* subtype;
  std::uint32_t subtypeLength;
  std::uint32_t subtypeNumber;  // 1..47, 0 when unknown
};

struct MimeOps {
  CoreEndWord word0;
  // 1: skips white space (tab, LF, FF, CR, blank); the type token runs to
  // white space or "/"; then white space and "/" are skipped and the subtype
  // token runs to white space or ";". Parameters are not parsed. 0;
  // kBadArgument for a null text with a non-zero length; kNullOutPointer.
  StatusCode (*parseContentType)(EngineObject* module, const char* text, std::uint32_t length,
                                 MimeContentType* out) noexcept;
  // 2: the MIME type of a file extension (one leading "." is skipped),
  // copied without terminator and cut to *length bytes; *length becomes the
  // bytes written, 0 for an unknown extension. 0; kNullOutPointer without
  // length; kBadArgument without a buffer for a non-zero *length.
  StatusCode (*fromExtension)(EngineObject* module, const char* extension, std::uint32_t length,
                              char* buffer, std::uint32_t* bufferLength) noexcept;
  // 3: writes the major name and "/" (for a major code 1..8), then the
  // subtype name (for a subtype number 1..47), each cut to the room left,
  // without terminator; *length becomes the bytes written. Codes out of range
  // write nothing for their part. 0; errors as FromExtension.
  StatusCode (*majorTypeName)(EngineObject* module, std::uint32_t major, std::uint32_t subtype,
                              char* buffer, std::uint32_t* bufferLength) noexcept;
  CoreEndWord end;
};

extern EngineObject MimeModule;

StatusCode Mime_ParseContentType(EngineObject* module, const char* text, std::uint32_t length,
                                 MimeContentType* out) noexcept;
StatusCode Mime_FromExtension(EngineObject* module, const char* extension, std::uint32_t length,
                              char* buffer, std::uint32_t* bufferLength) noexcept;
StatusCode Mime_MajorTypeName(EngineObject* module, std::uint32_t major, std::uint32_t subtype,
                              char* buffer, std::uint32_t* bufferLength) noexcept;
