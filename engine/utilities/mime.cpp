#include "engine/utilities/mime.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace {

using namespace std::string_view_literals;

constexpr std::array<std::string_view, kMimeMajorCount> kMajorNames = {
    "application"sv, "audio"sv,     "image"sv, "message"sv,
    "model"sv,       "multipart"sv, "text"sv,  "video"sv,
};

// Numbered 1..47 in this order. The order is not quite alphabetical, so
// lookups go through kSubtypeOrder below.
constexpr std::array<std::string_view, kMimeSubtypeCount> kSubtypeNames = {
    "avi"sv,
    "base64"sv,
    "basic"sv,
    "bmp"sv,
    "css"sv,
    "gif"sv,
    "html"sv,
    "java"sv,
    "jpeg"sv,
    "macbinhex40"sv,
    "mpeg"sv,
    "msword"sv,
    "octet-stream"sv,
    "pdf"sv,
    "pjpeg"sv,
    "plain"sv,
    "png"sv,
    "postscript"sv,
    "quicktime"sv,
    "rdf+xml"sv,
    "richtext"sv,
    "rss+xml"sv,
    "rtf"sv,
    "sgml"sv,
    "tiff"sv,
    "wav"sv,
    "x-aiff"sv,
    "x-compressed"sv,
    "x-emf"sv,
    "x-gzip-compressed"sv,
    "x-kelpo-document"sv,
    "x-kelpo-document-list"sv,
    "x-jg"sv,
    "x-msdownload"sv,
    "x-pdb"sv,
    "x-png"sv,
    "x-prc"sv,
    "x-vcal"sv,
    "x-vcalendar"sv,
    "x-vcard"sv,
    "x-wmf"sv,
    "x-www-form-urlencoded"sv,
    "x-xbitmap"sv,
    "x-zip-compressed"sv,
    "xhtml+xml"sv,
    "xml"sv,
    "zip"sv,
};

// Indices into kSubtypeNames in ascending order of name, for bisection.
constexpr std::array<std::uint8_t, kMimeSubtypeCount> MakeSubtypeOrder() {
  std::array<std::uint8_t, kMimeSubtypeCount> order{};
  for (std::uint32_t i = 0; i < kMimeSubtypeCount; ++i)
    order[i] = static_cast<std::uint8_t>(i);
  std::sort(order.begin(), order.end(),
            [](std::uint8_t a, std::uint8_t b) { return kSubtypeNames[a] < kSubtypeNames[b]; });
  return order;
}
constexpr auto kSubtypeOrder = MakeSubtypeOrder();

struct ExtensionType {
  std::string_view extension;
  std::string_view type;
};

// Ascending by extension (checked below), as the bisection needs.
constexpr std::array<ExtensionType, 42> kExtensions = {{
    {"asf", "video/x-ms-asf"},
    {"avi", "video/avi"},
    {"bmp", "image/bmp"},
    {"css", "text/css"},
    {"doc", "application/msword"},
    {"dot", "application/msword"},
    {"gif", "image/gif"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"jpe", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpg", "image/jpeg"},
    {"kxl", "application/x-kelpo-document-list"},
    {"mov", "video/quicktime"},
    {"mp2", "video/mpeg"},
    {"mp2v", "video/mpeg"},
    {"mp3", "audio/mpeg"},
    {"mpa", "video/mpeg"},
    {"mpe", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"},
    {"mpv2", "video/mpeg"},
    {"pct", "image/pict"},
    {"pdb", "application/x-pdb"},
    {"pdf", "application/pdf"},
    {"pic", "image/pict"},
    {"pict", "image/pict"},
    {"png", "image/png"},
    {"prc", "application/x-prc"},
    {"rtf", "application/rtf"},
    {"shtm", "text/html"},
    {"shtml", "text/html"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"txt", "text/plain"},
    {"vcf", "text/x-vcard"},
    {"vcs", "text/x-vcal"},
    {"xhtm", "application/xhtml+xml"},
    {"xhtml", "application/xhtml+xml"},
    {"xml", "text/xml"},
    {"xsl", "text/xml"},
    {"zip", "application/zip"},
}};

constexpr bool IsLowerCaseSorted() {
  for (std::size_t i = 1; i < kExtensions.size(); ++i)
    if (!(kExtensions[i - 1].extension < kExtensions[i].extension)) return false;
  for (std::size_t i = 1; i < kMajorNames.size(); ++i)
    if (!(kMajorNames[i - 1] < kMajorNames[i])) return false;
  return true;
}
static_assert(IsLowerCaseSorted());

constexpr char Fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
}

// Three-way comparison of a token, A-Z folded, with a lower-case table name.
int CompareFolded(std::string_view token, std::string_view name) {
  const std::size_t n = std::min(token.size(), name.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(Fold(token[i]));
    const auto b = static_cast<unsigned char>(name[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return token.size() < name.size() ? -1 : token.size() > name.size() ? 1 : 0;
}

// Bisection over `count` names in ascending order; the index or -1.
template <class NameAt>
int Find(std::string_view token, std::size_t count, NameAt nameAt) {
  std::size_t lo = 0, hi = count;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const int c = CompareFolded(token, nameAt(mid));
    if (c == 0) return static_cast<int>(mid);
    if (c < 0) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return -1;
}

bool IsSpace(char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

// Appends as much of text as fits; false once the buffer is full.
bool Append(char* buffer, std::uint32_t capacity, std::uint32_t& used, std::string_view text) {
  const std::uint32_t room = capacity - used;
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(room, text.size()));
  if (n != 0) std::memcpy(buffer + used, text.data(), n);
  used += n;
  return used < capacity;
}

constexpr MimeOps kMimeOps = {
    Core_NotImplemented, Mime_ParseContentType, Mime_FromExtension,
    Mime_MajorTypeName,  Core_NotImplemented,
};

}  // namespace

EngineObject MimeModule = {nullptr, &kMimeOps};

StatusCode Mime_ParseContentType(EngineObject*, const char* text, std::uint32_t length,
                                 MimeContentType* out) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (text == nullptr && length != 0) return kBadArgument;
  std::uint32_t i = 0;
  while (i < length && IsSpace(text[i]))
    ++i;
  const std::uint32_t typeStart = i;
  while (i < length && !IsSpace(text[i]) && text[i] != '/')
    ++i;
  const std::string_view type(text + typeStart, i - typeStart);
  while (i < length && (IsSpace(text[i]) || text[i] == '/'))
    ++i;
  const std::uint32_t subStart = i;
  while (i < length && !IsSpace(text[i]) && text[i] != ';')
    ++i;
  const std::string_view subtype(text + subStart, i - subStart);

  MimeContentType r{};
  const int major = Find(type, kMajorNames.size(), [](std::size_t k) { return kMajorNames[k]; });
  r.major = major < 0 ? 0 : static_cast<std::uint32_t>(major) + 1;
  r.type = text + typeStart;
  r.typeLength = static_cast<std::uint32_t>(type.size());
  const int sorted = Find(subtype, kSubtypeOrder.size(),
                          [](std::size_t k) { return kSubtypeNames[kSubtypeOrder[k]]; });
  if (sorted >= 0) {
    const std::uint8_t index = kSubtypeOrder[static_cast<std::size_t>(sorted)];
    r.subtypeName = kSubtypeNames[index].data();
    r.subtypeNumber = index + 1u;
  }
  r.subtype = text + subStart;
  r.subtypeLength = static_cast<std::uint32_t>(subtype.size());
  *out = r;
  return kOk;
}

StatusCode Mime_FromExtension(EngineObject*, const char* extension, std::uint32_t length,
                              char* buffer, std::uint32_t* bufferLength) noexcept {
  if (bufferLength == nullptr) return kNullOutPointer;
  if ((extension == nullptr && length != 0) || (buffer == nullptr && *bufferLength != 0)) {
    return kBadArgument;
  }
  std::string_view ext(extension, length);
  if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
  const int hit = ext.empty() ? -1 : Find(ext, kExtensions.size(), [](std::size_t k) {
    return kExtensions[k].extension;
  });
  std::uint32_t used = 0;
  if (hit >= 0)
    Append(buffer, *bufferLength, used, kExtensions[static_cast<std::size_t>(hit)].type);
  *bufferLength = used;
  return kOk;
}

StatusCode Mime_MajorTypeName(EngineObject*, std::uint32_t major, std::uint32_t subtype,
                              char* buffer, std::uint32_t* bufferLength) noexcept {
  if (bufferLength == nullptr) return kNullOutPointer;
  if (buffer == nullptr && *bufferLength != 0) return kBadArgument;
  const std::uint32_t capacity = *bufferLength;
  std::uint32_t used = 0;
  bool room = capacity > 0;
  if (room && major >= 1 && major <= kMimeMajorCount) {
    room = Append(buffer, capacity, used, kMajorNames[major - 1]) &&
           Append(buffer, capacity, used, "/");
  }
  if (room && subtype >= 1 && subtype <= kMimeSubtypeCount) {
    Append(buffer, capacity, used, kSubtypeNames[subtype - 1]);
  }
  *bufferLength = used;
  return kOk;
}
