#include "engine/formats/doc_handler.h"

#include "engine/runtime/db_file.h"
#include "engine/runtime/stream.h"

void DocHandler_ResetSettings(DocHandlerSettings* settings) noexcept {
  settings->flags = 0;
  settings->charsetId = kDefaultDocCharset;
}

StatusCode DocHandler_Control(DocHandlerSettings* settings, std::uint16_t code, std::uint32_t value,
                              void* record) noexcept {
  switch (code) {
    case DocControl::SetFlags:
      settings->flags |= value;
      return kOk;
    case DocControl::ClearFlags:
      settings->flags &= ~value;
      return kOk;
    case DocControl::SetCharset:
      settings->charsetId = static_cast<std::uint16_t>(value);
      return kOk;
    case DocControl::GetCharset:
      if (record == nullptr) return kNullOutPointer;
      *static_cast<std::uint16_t*>(record) = settings->charsetId;
      return kOk;
    case DocControl::Reset:
      DocHandler_ResetSettings(settings);
      return kOk;
    case DocControl::SetAnnotations:
      settings->annotationSource = static_cast<AnnotStore*>(record);
      return kOk;
    case DocControl::GetAnnotations:
      if (record == nullptr) return kNullOutPointer;
      *static_cast<AnnotStore**>(record) = settings->annotationSource;
      return kOk;
    default:
      return kNotSupported;
  }
}

void DocHandler_InitCharStyle(DeviceFontSpec* font, CharFormat* format) noexcept {
  if (font != nullptr) *font = DeviceFontSpec{DeviceFace::Default, 10, 0, {}, {}};
  if (format != nullptr) *format = CharFormat{};
}

StatusCode DocHandler_StepDone(EngineObject*) noexcept {
  return kDocStepDone;
}

StatusCode DocHandler_BookmarkOp(EngineObject*, std::uint16_t subCode, std::uint16_t,
                                 void* record) noexcept {
  switch (subCode) {
    case DocBookmark::ListMask:
    case DocBookmark::Count:
      if (record == nullptr) return kNullOutPointer;
      *static_cast<std::uint16_t*>(record) = 0;
      return kOk;
    case DocBookmark::Capability:
      if (record == nullptr) return kNullOutPointer;
      *static_cast<std::uint32_t*>(record) = 0;
      return kOk;
    default:
      return kNotSupported;
  }
}

StatusCode DocHandler_ProbeDatabaseType(std::uint32_t code, void* object, std::uint32_t value,
                                        DocTypeTest claims) noexcept {
  std::uint8_t header[kDocProbeHeaderSize];
  const std::uint8_t* type = nullptr;
  const std::uint8_t* creator = nullptr;
  switch (code & 0xFFFF) {
    case DocCommand::ProbeHeader: {
      const auto* given = static_cast<const std::uint8_t*>(object);
      if (given == nullptr || value < kDocProbeHeaderSize) return kMalformed;
      type = given + kDocTypeOffset;
      creator = given + kDocCreatorOffset;
      break;
    }
    case DocCommand::ProbeStream: {
      auto* stream = static_cast<EngineObject*>(object);
      if (stream == nullptr) return kMalformed;
      std::uint32_t got = 0;
      const StatusCode r = StreamOf(stream).readAt(stream, 0, header, sizeof header, &got);
      if (IsFailure(r) || got < sizeof header) return kMalformed;
      type = header + kDocTypeOffset;
      creator = header + kDocCreatorOffset;
      break;
    }
    case DocCommand::ProbeDatabase: {
      auto* db = static_cast<EngineObject*>(object);
      if (db == nullptr || IsFailure(OpsOf<DbFileOps>(db).getInfo(db, nullptr, header, header + 4,
                                                                  nullptr, nullptr, nullptr)))
        return kMalformed;
      type = header;
      creator = header + 4;
      break;
    }
    default:
      return kNotSupported;
  }
  return claims(type, creator) ? kDocProbeMine : kMalformed;
}
