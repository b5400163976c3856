#include "app/core/annotation_rules.h"

#include <algorithm>
#include <bit>
#include <cwctype>
#include <filesystem>
#include <system_error>

#include "engine/runtime/charset_name.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"
#include "engine/stores/annot_store.h"

const char* const kAnnotationPaletteText =
    "FFFF00 Yellow\nFF00FF Fuchsia\nFF0000 Red\n800000 Maroon\n800080 Purple\n0000FF Blue\n"
    "000080 Navy\n00FFFF Aqua\n008080 Teal\n00FF00 Lime\n808000 Olive\n008000 Green\n"
    "FFFFFF White\nC0C0C0 Silver\n808080 Gray\n000000 Black";

namespace {

constexpr std::uint32_t kHostUtf16 =
    std::endian::native == std::endian::little ? Mib::kUtf16Le : Mib::kUtf16Be;

EngineObject* Converter() {
  return g_TextConvModule != nullptr ? g_TextConvModule : &TextConvModule;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Stored texts are 8-bit: a UTF-16 document keeps them as UTF-8.
std::uint32_t TextCharset(std::uint32_t documentMib) {
  std::uint32_t classCode = 0, canonical = 0;
  if (documentMib == 0 ||
      IsFailure(TextConv_CanonicalCharset(Converter(), documentMib, &classCode, &canonical))) {
    return Mib::kWindows1252;
  }
  return classCode == CharsetClass::kUtf16 ? Mib::kUtf8 : documentMib;
}

}  // namespace

std::vector<AnnotationColour> Annotation_ParsePalette(std::string_view text) {
  std::vector<AnnotationColour> out;
  while (!text.empty() && out.size() < kAnnotationColourCount) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    AnnotationColour colour;
    std::uint8_t rgb[3] = {0, 0, 0};
    bool hex = line.size() >= 6;
    for (std::size_t i = 0; hex && i < 6; ++i)
      hex = HexDigit(line[i]) >= 0;
    if (hex) {
      for (int i = 0; i < 3; ++i)
        rgb[i] = static_cast<std::uint8_t>(HexDigit(line[2 * i]) * 16 + HexDigit(line[2 * i + 1]));
    }
    colour.red = rgb[0];
    colour.green = rgb[1];
    colour.blue = rgb[2];
    if (line.size() > 7) colour.name = std::string(line.substr(7));
    out.push_back(std::move(colour));
  }
  return out;
}

int Annotation_ShownColour(int colour) noexcept {
  return colour >= 1 && colour <= kAnnotationColourCount ? colour : kAnnotationDefaultColour;
}

std::u16string Annotation_TextForEdit(std::u16string_view text, bool join) {
  if (text.find(u'\n') == std::u16string_view::npos) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size() * 2);
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'\n') {
      out.push_back(text[i++]);
      continue;
    }
    std::size_t run = 0;
    while (i < text.size() && text[i] == u'\n') {
      ++run;
      ++i;
    }
    if (!join) {
      for (std::size_t k = 0; k < run; ++k)
        out += u"\r\n";
    } else if (!out.empty() && i < text.size()) {
      out += u"\r\n";  // a run inside the text; runs at either end are dropped
    }
  }
  return out;
}

std::u16string Annotation_TextFromEdit(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

std::u16string Annotation_DecodeText(std::string_view bytes, std::uint32_t documentMib,
                                     std::uint32_t maxUnits) {
  if (bytes.empty() || maxUnits == 0) return {};
  TextConvRequest request{};
  request.flags = kConvStopBeforeIncomplete;
  request.sourceMib = TextCharset(documentMib);
  request.source = bytes.data();
  request.sourceLength = static_cast<std::uint32_t>(bytes.size());
  request.targetMib = kHostUtf16;
  if (IsFailure(TextConv_Convert(Converter(), &request))) return {};
  std::u16string out(request.targetCapacity / sizeof(char16_t), u'\0');
  const TextConvRequest measured = request;
  request = TextConvRequest{};
  request.flags = measured.flags;
  request.sourceMib = measured.sourceMib;
  request.source = bytes.data();
  request.sourceLength = measured.sourceLength;
  request.targetMib = kHostUtf16;
  request.target = out.data();
  request.targetCapacity = static_cast<std::uint32_t>(out.size() * sizeof(char16_t));
  if (IsFailure(TextConv_Convert(Converter(), &request))) return {};
  out.resize(request.targetCapacity / sizeof(char16_t));
  if (out.size() > maxUnits) {
    std::size_t n = maxUnits;
    if (out[n - 1] >= 0xD800 && out[n - 1] <= 0xDBFF) --n;
    out.resize(n);
  }
  return out;
}

std::string Annotation_EncodeText(std::u16string_view text, std::uint32_t documentMib) {
  if (text.empty()) return {};
  TextConvRequest request{};
  request.sourceMib = kHostUtf16;
  request.source = text.data();
  request.sourceLength = static_cast<std::uint32_t>(text.size() * sizeof(char16_t));
  request.targetMib = TextCharset(documentMib);
  if (IsFailure(TextConv_Convert(Converter(), &request))) return {};
  std::string out(request.targetCapacity, '\0');
  request = TextConvRequest{};
  request.sourceMib = kHostUtf16;
  request.source = text.data();
  request.sourceLength = static_cast<std::uint32_t>(text.size() * sizeof(char16_t));
  request.targetMib = TextCharset(documentMib);
  request.target = out.data();
  request.targetCapacity = static_cast<std::uint32_t>(out.size());
  if (IsFailure(TextConv_Convert(Converter(), &request))) return {};
  out.resize(request.targetCapacity);
  std::replace(out.begin(), out.end(), '\0', '?');
  return out;
}

std::u16string Annotation_SuggestedFileName(std::u16string_view currentPath,
                                            std::u16string_view documentPath) {
  if (!currentPath.empty()) return std::u16string(currentPath);
  std::u16string out(documentPath);
  const std::size_t dot = out.rfind(u'.');
  const std::size_t folder = out.find_last_of(u"/\\");
  if (dot != std::u16string::npos && dot + 5 >= out.size() &&
      (folder == std::u16string::npos || dot > folder)) {
    out.resize(dot);
  }
  return out;
}

bool Annotation_SamePath(std::u16string_view a, std::u16string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
    return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
  });
}

AnnotationFileCheck Annotation_CheckOpenResult(StatusCode status) noexcept {
  if (!IsFailure(status)) return AnnotationFileCheck::kAnnotationsFile;
  if (status == kAnnotStoreCannotOpen) return AnnotationFileCheck::kNewFile;
  return AnnotationFileCheck::kOtherFile;
}

bool Annotation_IsDocumentFile(std::u16string_view chosen, std::u16string_view documentPath) {
  if (chosen.empty() || documentPath.empty()) return false;
  // Either file missing (a new name), unreadable or not a name the system
  // can hold: not the same file.
  try {
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::path(std::u16string(chosen)),
                                       std::filesystem::path(std::u16string(documentPath)),
                                       error) &&
           !error;
  } catch (...) {
    return false;
  }
}

StatusCode Annotation_ReplaceFile(std::u16string_view path) noexcept {
  AnnotStore* created = nullptr;
  const StatusCode s =
      AnnotStore_Create(path.data(), static_cast<std::uint32_t>(path.size()), &created);
  if (IsFailure(s)) return s;
  return AnnotStore_Close(created);  // an empty new file: nothing pending
}
