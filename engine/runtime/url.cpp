#include "engine/runtime/url.h"

#include <array>
#include <cstring>
#include <string_view>

#include "engine/runtime/allocator.h"
#include "engine/runtime/str.h"

namespace {

// ---------------------------------------------------------------------------
// Small helpers

constexpr bool IsAsciiLetter(unsigned char c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
constexpr bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
constexpr bool IsSchemeChar(unsigned char c) {
  return IsAsciiLetter(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
}
constexpr int HexValue(unsigned char c) {
  if (IsDigit(c)) return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return -1;
}
constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::array<bool, 256> BuildEscapeSet() {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[c] = c < 0x20 || c >= 0x7F;
  for (char c : " `\"#$%&+,/:;<=>?@[\\]^{|}") {
    if (c != '\0') t[static_cast<unsigned char>(c)] = true;
  }
  return t;
}
constexpr std::array<bool, 256> kEscapeSet = BuildEscapeSet();
bool Escaped(char c) {
  return kEscapeSet[static_cast<unsigned char>(c)];
}

// Writes or only counts: the conversions run once to measure and once to
// write, through the same code.
struct Sink {
  char* out = nullptr;
  std::uint64_t n = 0;
  void Put(char c) {
    if (out != nullptr) out[n] = c;
    ++n;
  }
  void Put(const char* p, std::uint32_t count) {
    if (out != nullptr && count != 0) std::memcpy(out + n, p, count);
    n += count;
  }
  void PutEscaped(char c) {
    Put('%');
    Put(kHexDigits[static_cast<unsigned char>(c) >> 4]);
    Put(kHexDigits[static_cast<unsigned char>(c) & 0xF]);
  }
};

// Runs emit(sink) to measure, then, when the result fits in *size, again to
// write it into out.
template <class Emit>
StatusCode Produce(char* out, std::uint32_t* size, Emit emit) {
  if (size == nullptr) return kNullOutPointer;
  Sink measure;
  emit(measure);
  const std::uint32_t capacity = out != nullptr ? *size : 0;
  if (measure.n > 0xFFFFFFFFu) return kUrlTooLong;
  if (measure.n > capacity) {
    *size = static_cast<std::uint32_t>(measure.n);
    return kUrlBufferTooSmall;
  }
  Sink write;
  write.out = out;
  emit(write);
  *size = static_cast<std::uint32_t>(write.n);
  return kOk;
}

// A text assembled in one engine block whose capacity is fixed up front from a
// bound on the result; exceeding the bound is an internal fault.
class Builder {
 public:
  Builder() = default;
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;
  ~Builder() { Engine_Free(data_); }

  StatusCode Init(std::uint64_t capacity) {
    if (capacity > 0x7FFFFFF0u) return kUrlTooLong;
    void* p = nullptr;
    const StatusCode s = Engine_Alloc(static_cast<std::uint32_t>(capacity) + 1, &p);
    if (s != kOk) return s;
    data_ = static_cast<char*>(p);
    capacity_ = static_cast<std::uint32_t>(capacity);
    return kOk;
  }
  void Put(char c) {
    if (size_ < capacity_) {
      data_[size_++] = c;
    } else {
      overflow_ = true;
    }
  }
  void Put(const char* p, std::uint32_t n) {
    if (n > capacity_ - size_) {
      overflow_ = true;
      return;
    }
    if (n != 0) std::memcpy(data_ + size_, p, n);
    size_ += n;
  }
  // Reserves n bytes and returns where they start (null on overflow).
  char* Grow(std::uint32_t n) {
    if (n > capacity_ - size_) {
      overflow_ = true;
      return nullptr;
    }
    char* p = data_ + size_;
    size_ += n;
    return p;
  }
  void Truncate(std::uint32_t n) {
    if (n < size_) size_ = n;
  }
  char* data() const { return data_; }
  std::uint32_t size() const { return size_; }
  bool overflow() const { return overflow_; }
  char Last() const { return size_ > 0 ? data_[size_ - 1] : '\0'; }

 private:
  char* data_ = nullptr;
  std::uint32_t capacity_ = 0;
  std::uint32_t size_ = 0;
  bool overflow_ = false;
};

// Copies a finished builder out under the size protocol.
StatusCode Deliver(const Builder& b, char* out, std::uint32_t* size) {
  if (b.overflow()) return kUrlMergeLength;
  const std::uint32_t capacity = out != nullptr ? *size : 0;
  if (b.size() > capacity) {
    *size = b.size();
    return kUrlBufferTooSmall;
  }
  if (b.size() != 0) std::memcpy(out, b.data(), b.size());
  *size = b.size();
  return kOk;
}

std::string_view View(const char* p, std::uint32_t n) {
  return {p, n};
}

// ---------------------------------------------------------------------------
// Parsing

bool Present(const UrlParts& p, std::uint32_t part) {
  return p.length[part] != 0 || ((part == kUrlQuery || part == kUrlFragment) && p.offset[part]);
}

std::string_view PartText(const char* text, const UrlParts& p, std::uint32_t part) {
  return {text + p.offset[part], p.length[part]};
}

void SetPart(UrlParts* p, std::uint32_t part, std::uint32_t from, std::uint32_t to) {
  p->offset[part] = static_cast<std::uint16_t>(from);
  p->length[part] = static_cast<std::uint16_t>(to - from);
}

void ParseText(const char* t, std::uint32_t n, UrlParts* out) {
  UrlParts p{};
  if (n == 0) {
    *out = p;
    return;
  }
  std::uint32_t end = n;
  for (std::uint32_t i = n; i > 0; --i) {
    if (t[i - 1] == '#') {
      SetPart(&p, kUrlFragment, i, n);
      end = i - 1;
      break;
    }
  }
  if (end == 0 && Present(p, kUrlFragment)) {
    *out = p;
    return;
  }
  std::uint32_t pos = 0;
  if (t[0] != ':') {
    std::uint32_t i = 0;
    while (i < end && IsSchemeChar(static_cast<unsigned char>(t[i])))
      ++i;
    if (i > 0 && i < end && t[i] == ':') {
      SetPart(&p, kUrlScheme, 0, i);
      pos = i + 1;
    }
  }
  if (end - pos > 2 && t[pos] == '/' && t[pos + 1] == '/') {
    const std::uint32_t a0 = pos + 2;
    std::uint32_t a1 = a0;
    while (a1 < end && t[a1] != '/' && t[a1] != '?')
      ++a1;
    std::uint32_t c1 = 0, c2 = 0, at = 0;
    bool hasC1 = false, hasC2 = false, hasAt = false;
    for (std::uint32_t i = a0; i < a1; ++i) {
      if (t[i] == ':') {
        if (!hasC1) {
          c1 = i, hasC1 = true;
        } else {
          c2 = i, hasC2 = true;
        }
      } else if (t[i] == '@') {
        at = i, hasAt = true;
      }
    }
    if (hasAt) {
      if (hasC1 && c1 < at) {
        SetPart(&p, kUrlUser, a0, c1);
        SetPart(&p, kUrlPassword, c1 + 1, at);
      } else {
        SetPart(&p, kUrlUser, a0, at);
      }
      std::uint32_t hostEnd = a1;
      if (hasC1 && c1 > at) {
        hostEnd = c1;
      } else if (hasC2 && c2 > at) {
        hostEnd = c2;
      }
      SetPart(&p, kUrlHost, at + 1, hostEnd);
      if (hostEnd < a1) SetPart(&p, kUrlPort, hostEnd + 1, a1);
    } else if (hasC1) {
      SetPart(&p, kUrlHost, a0, c1);
      SetPart(&p, kUrlPort, c1 + 1, a1);
    } else {
      SetPart(&p, kUrlHost, a0, a1);
    }
    if (p.length[kUrlHost] == 0) p.offset[kUrlHost] = static_cast<std::uint16_t>(a0);
    pos = a1;
  }
  std::uint32_t pathEnd = end;
  for (std::uint32_t i = pos; i < end; ++i) {
    if (t[i] == '?') {
      pathEnd = i;
      SetPart(&p, kUrlQuery, i + 1, end);
      break;
    }
  }
  SetPart(&p, kUrlPath, pos, pathEnd);
  *out = p;
}

// Whether the parsed text has an authority ("//" after the scheme), even an
// empty one as in "file:///x".
bool HasAuthority(const char* t, std::uint32_t n, const UrlParts& p) {
  if (p.length[kUrlHost] || p.length[kUrlUser] || p.length[kUrlPassword] || p.length[kUrlPort]) {
    return true;
  }
  const std::uint32_t start =
      p.length[kUrlScheme] ? p.offset[kUrlScheme] + p.length[kUrlScheme] + 1 : 0;
  return p.offset[kUrlPath] >= start + 2 && p.offset[kUrlPath] <= n && start + 1 < n &&
         t[start] == '/' && t[start + 1] == '/';
}

bool AllLengthsZero(const UrlParts& p) {
  for (std::uint16_t len : p.length) {
    if (len != 0) return false;
  }
  return true;
}

// A caller's parts must lie inside the text they describe.
bool PartsFit(const UrlParts& p, std::uint32_t n) {
  for (int i = 0; i < 8; ++i) {
    if (std::uint32_t{p.offset[i]} + p.length[i] > n) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Path normalisation

bool IsWinSep(char c) {
  return c == '\\' || c == '/';
}

std::uint32_t WinRootLength(const char* p, std::uint32_t n) {
  if (n >= 2 && IsAsciiLetter(static_cast<unsigned char>(p[0])) && p[1] == ':') return 2;
  if (n >= 2 && IsWinSep(p[0]) && IsWinSep(p[1])) {
    std::uint32_t i = 2;
    while (i < n && !IsWinSep(p[i]))
      ++i;
    return i;
  }
  return 0;
}

enum class Style { kWindows, kPosix };

bool IsSep(Style s, char c) {
  return s == Style::kWindows ? IsWinSep(c) : c == '/';
}

// Walks the segments of p[begin, end) from the end: "." is dropped (except at
// the very start of the part), ".." adds a pending level, any other segment
// uses one up or is handed to keep(). Empty segments are skipped in the
// Windows form; in the '/' form they count, except the one before a leading
// '/'. Returns the levels left pending.
template <class Keep>
std::uint32_t WalkSegments(Style style, const char* p, std::uint32_t begin, std::uint32_t end,
                           Keep keep) {
  std::uint32_t pending = 0;
  std::uint32_t i = end;
  while (i > begin) {
    std::uint32_t j = i;
    while (j > begin && !IsSep(style, p[j - 1]))
      --j;
    const std::string_view seg(p + j, i - j);
    const bool ordinary =
        !(seg.empty() && (style == Style::kWindows || j == 0)) && !(seg == "." && j != 0);
    if (seg == "..") {
      ++pending;
    } else if (ordinary) {
      if (pending > 0) {
        --pending;
      } else {
        keep(seg);
      }
    }
    if (j == begin) break;
    i = j - 1;
  }
  return pending;
}

// Removes up to *levels trailing segments of the text in b after rootLength,
// stopping at a ".." segment, and drops its trailing separator.
void TrimPrefix(Style style, Builder* b, std::uint32_t rootLength, std::uint32_t* levels) {
  std::uint32_t n = b->size();
  const char* d = b->data();
  if (n > rootLength && IsSep(style, d[n - 1])) --n;
  while (*levels > 0 && n > rootLength) {
    std::uint32_t k = n;
    while (k > rootLength && !IsSep(style, d[k - 1]))
      --k;
    if (View(d + k, n - k) == "..") break;
    n = k > rootLength ? k - 1 : k;
    --*levels;
  }
  b->Truncate(n);
}

// Normalises the part behind what b already holds (the prefix).
void NormaliseSlashed(Style style, const char* part, std::uint32_t n, Builder* b) {
  if (n == 0) return;
  const char sep = style == Style::kWindows ? '\\' : '/';
  const std::uint32_t root = style == Style::kWindows ? WinRootLength(part, n) : 0;
  std::uint32_t end = n;
  if (end > root && IsSep(style, part[end - 1])) --end;

  std::uint64_t keptLength = 0;
  std::uint32_t keptCount = 0;
  std::uint32_t levels = WalkSegments(style, part, root, end, [&](std::string_view seg) {
    keptLength += seg.size() + 1;
    ++keptCount;
  });
  if (root > 0) {
    b->Put(part, root);
  } else {
    const std::uint32_t prefixRoot =
        style == Style::kWindows ? WinRootLength(b->data(), b->size()) : 0;
    TrimPrefix(style, b, prefixRoot, &levels);
    if (levels == 0 && keptCount == 0) {
      // A root with nothing after it keeps its separator.
      if (prefixRoot > 0 && b->size() == prefixRoot) b->Put(sep);
      if (style == Style::kPosix && b->size() == 0) b->Put('/');
      return;
    }
  }
  for (std::uint32_t i = 0; i < levels; ++i) {
    b->Put(sep);
    b->Put("..", 2);
  }
  if (root > 0 && levels == 0 && keptCount == 0) {
    b->Put(sep);
    return;
  }
  if (keptLength > 0xFFFFFFFFu) return;
  char* dst = b->Grow(static_cast<std::uint32_t>(keptLength));
  if (dst == nullptr) return;
  std::uint32_t at = static_cast<std::uint32_t>(keptLength);
  WalkSegments(style, part, root, end, [&](std::string_view seg) {
    at -= static_cast<std::uint32_t>(seg.size());
    if (!seg.empty()) std::memcpy(dst + at, seg.data(), seg.size());
    dst[--at] = sep;
  });
  if (style == Style::kPosix && b->size() == 0) b->Put('/');
}

// The ':' form. Segments are separated by one ':'; each further ':' of a run
// is a level up; a path not starting with ':' starts with its volume.
template <class Keep>
std::uint32_t WalkColons(const char* p, std::uint32_t end, std::uint32_t* volumeEnd, Keep keep) {
  std::uint32_t pending = 0;
  std::uint32_t i = end;
  *volumeEnd = 0;
  while (true) {
    std::uint32_t j = i;
    while (j > 0 && p[j - 1] != ':')
      --j;
    const std::string_view seg(p + j, i - j);
    if (j == 0) {
      if (end > 0 && p[0] != ':') *volumeEnd = i;  // the volume: the walk stops
      break;
    }
    if (!seg.empty()) {
      if (pending > 0) {
        --pending;
      } else {
        keep(seg);
      }
    }
    std::uint32_t k = j - 1;  // the segment's own ':'
    while (k > 0 && p[k - 1] == ':') {
      ++pending;
      --k;
    }
    if (k == 0) break;
    i = k;
  }
  return pending;
}

void NormaliseColons(const char* part, std::uint32_t n, Builder* b) {
  if (n == 0) return;
  std::uint32_t end = n;
  if (part[end - 1] == ':') --end;
  std::uint64_t keptLength = 0;
  std::uint32_t keptCount = 0;
  std::uint32_t volumeEnd = 0;
  std::uint32_t levels = WalkColons(part, end, &volumeEnd, [&](std::string_view seg) {
    keptLength += seg.size() + 1;
    ++keptCount;
  });
  if (volumeEnd > 0) {
    b->Put(part, volumeEnd);
  } else if (end == 0 || part[0] == ':') {
    // Levels first remove the prefix's last segments, down to its volume.
    std::uint32_t prefixVolume = 0;
    const char* d = b->data();
    if (b->size() > 0 && d[0] != ':') {
      while (prefixVolume < b->size() && d[prefixVolume] != ':')
        ++prefixVolume;
    }
    std::uint32_t size = b->size();
    if (size > prefixVolume && d[size - 1] == ':') --size;
    while (levels > 0 && size > prefixVolume) {
      std::uint32_t k = size;
      while (k > prefixVolume && d[k - 1] != ':')
        --k;
      if (k == size) break;  // an unresolved level of the prefix
      size = k > prefixVolume ? k - 1 : k;
      --levels;
    }
    b->Truncate(size);
    if (levels == 0 && keptCount == 0) {
      if (prefixVolume > 0 && size == prefixVolume) b->Put(':');
      return;
    }
  }
  // n levels: n colons before the kept segments (which bring their own), or
  // n + 1 when there are none, so that "::" still means one level up.
  const std::uint32_t colons =
      levels == 0 ? (keptCount == 0 ? 1 : 0) : levels + (keptCount == 0 ? 1 : 0);
  for (std::uint32_t i = 0; i < colons; ++i)
    b->Put(':');
  if (keptLength == 0 || keptLength > 0xFFFFFFFFu) return;
  char* dst = b->Grow(static_cast<std::uint32_t>(keptLength));
  if (dst == nullptr) return;
  std::uint32_t at = static_cast<std::uint32_t>(keptLength);
  WalkColons(part, end, &volumeEnd, [&](std::string_view seg) {
    at -= static_cast<std::uint32_t>(seg.size());
    std::memcpy(dst + at, seg.data(), seg.size());
    dst[--at] = ':';
  });
}

enum class PathForm { kWindows, kColon, kPosix };

StatusCode Combine(PathForm form, const char* base, std::uint32_t baseLength, const char* rel,
                   std::uint32_t relLength, char* out, std::uint32_t* size) {
  if (size == nullptr) return kNullOutPointer;
  if (rel == nullptr && relLength != 0) return kBadArgument;
  bool absolute = false;
  switch (form) {
    case PathForm::kWindows:
      absolute = relLength > 2 && ((IsWinSep(rel[0]) && IsWinSep(rel[1])) ||
                                   (IsAsciiLetter(static_cast<unsigned char>(rel[0])) &&
                                    rel[1] == ':' && IsWinSep(rel[2])));
      break;
    case PathForm::kColon:
      absolute = relLength > 0 && rel[0] != ':';
      break;
    case PathForm::kPosix:
      absolute = relLength > 0 && rel[0] == '/';
      break;
  }
  if (!absolute && base == nullptr) {
    return form == PathForm::kWindows ? kUrlWindowsPathNoBase
           : form == PathForm::kColon ? kUrlColonPathNoBase
                                      : kUrlPosixPathNoBase;
  }
  const std::uint32_t usedBase = absolute ? 0 : baseLength;
  Builder b;
  const StatusCode s = b.Init(2 * (std::uint64_t{usedBase} + relLength) + 16);
  if (s != kOk) return s;
  auto normalise = [&](const char* p, std::uint32_t n) {
    switch (form) {
      case PathForm::kWindows:
        NormaliseSlashed(Style::kWindows, p, n, &b);
        break;
      case PathForm::kPosix:
        NormaliseSlashed(Style::kPosix, p, n, &b);
        break;
      case PathForm::kColon:
        NormaliseColons(p, n, &b);
        break;
    }
  };
  if (!absolute) {
    normalise(base, baseLength);
    const char sep = form == PathForm::kWindows ? '\\' : form == PathForm::kColon ? ':' : '/';
    if (b.Last() != sep) b.Put(sep);
  }
  normalise(rel, relLength);
  return Deliver(b, out, size);
}

// ---------------------------------------------------------------------------
// Resolution

// Appends path with "." segments removed and each ".." removing the segment
// before it; a ".." with nothing to remove stays.
void RemoveDots(std::string_view path, Builder* b) {
  const bool absolute = !path.empty() && path.front() == '/';
  if (absolute) path.remove_prefix(1);
  const std::uint32_t start = b->size();
  // Internally every segment is written after a '/'; a relative path loses
  // the first one at the end.
  std::uint32_t count = 0;
  bool trailing = false;
  while (true) {
    const std::size_t slash = path.find('/');
    const std::string_view seg = path.substr(0, slash);
    const bool last = slash == std::string_view::npos;
    trailing = false;
    if (seg == ".") {
      trailing = last;
    } else if (seg == "..") {
      std::uint32_t n = b->size();
      std::uint32_t k = n;
      while (k > start && b->data()[k - 1] != '/')
        --k;
      if (count > 0 && View(b->data() + k, n - k) != "..") {
        b->Truncate(k - 1);
        --count;
      } else {
        b->Put('/');
        b->Put("..", 2);
        ++count;
      }
      trailing = last;
    } else {
      b->Put('/');
      b->Put(seg.data(), static_cast<std::uint32_t>(seg.size()));
      ++count;
    }
    if (last) break;
    path.remove_prefix(slash + 1);
  }
  if (trailing) b->Put('/');
  if (!absolute && b->size() > start) {
    std::memmove(b->data() + start, b->data() + start + 1, b->size() - start - 1);
    b->Truncate(b->size() - 1);
  }
}

void PutAuthority(const char* t, const UrlParts& p, Builder* b) {
  b->Put("//", 2);
  if (p.length[kUrlUser] || p.length[kUrlPassword]) {
    b->Put(t + p.offset[kUrlUser], p.length[kUrlUser]);
    if (p.length[kUrlPassword]) {
      b->Put(':');
      b->Put(t + p.offset[kUrlPassword], p.length[kUrlPassword]);
    }
    b->Put('@');
  }
  b->Put(t + p.offset[kUrlHost], p.length[kUrlHost]);
  if (p.length[kUrlPort]) {
    b->Put(':');
    b->Put(t + p.offset[kUrlPort], p.length[kUrlPort]);
  }
}

void PutQueryOrFragment(const char* t, const UrlParts& p, std::uint32_t part, char mark,
                        Builder* b) {
  if (!Present(p, part)) return;
  b->Put(mark);
  b->Put(t + p.offset[part], p.length[part]);
}

// ---------------------------------------------------------------------------
// File URLs

bool IsFileUrl(const char* url, std::uint32_t length) {
  if (url == nullptr || length <= 6) return false;
  static constexpr char kPrefix[] = "file://";
  for (std::uint32_t i = 0; i < 7; ++i) {
    if ((static_cast<unsigned char>(url[i]) | (IsAsciiLetter(url[i]) ? 0x20 : 0)) != kPrefix[i]) {
      return false;
    }
  }
  return true;
}

// Unescapes url[from, to) into the sink, mapping '/' to slash.
void PutUnescaped(Sink& s, const char* url, std::uint32_t from, std::uint32_t to, char slash) {
  for (std::uint32_t i = from; i < to; ++i) {
    const char c = url[i];
    if (c == '%' && i + 2 < to) {
      const int hi = HexValue(static_cast<unsigned char>(url[i + 1]));
      const int lo = HexValue(static_cast<unsigned char>(url[i + 2]));
      if (hi >= 0 && lo >= 0) {
        s.Put(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    s.Put(c == '/' ? slash : c);
  }
}

template <class Ch>
void SplitName(const Ch* text, std::uint32_t length, const Ch** baseStart,
               std::uint32_t* baseLength, const Ch** extensionStart,
               std::uint32_t* extensionLength) {
  std::uint32_t segment = 0;
  for (std::uint32_t i = length; i > 0; --i) {
    const Ch c = text[i - 1];
    if (c == Ch('/') || c == Ch(':') || c == Ch('\\')) {
      segment = i;
      break;
    }
  }
  std::uint32_t extension = length;
  for (std::uint32_t i = length; i > segment; --i) {
    if (text[i - 1] == Ch('.')) {
      extension = i - 1;
      break;
    }
  }
  if (baseStart != nullptr) *baseStart = text + segment;
  if (baseLength != nullptr) *baseLength = extension - segment;
  if (extensionStart != nullptr) *extensionStart = text + extension;
  if (extensionLength != nullptr) *extensionLength = length - extension;
}

std::uint32_t WideLength(const char16_t* s) {
  std::uint32_t n = 0;
  if (s == nullptr) return 0;
  while (s[n] != u'\0' && n < 0x7FFFFFFFu)
    ++n;
  return n;
}

// Known schemes, sorted with A-Z folded, and their codes.
struct SchemeEntry {
  std::string_view name;
  std::uint32_t code;
};
constexpr SchemeEntry kSchemes[] = {
    {"file", kSchemeFile},   {"ftp", kSchemeFtp},           {"gopher", kSchemeGopher},
    {"http", kSchemeHttp},   {"https", kSchemeHttps},       {"javascript", kSchemeJavascript},
    {"kelpo", kSchemeKelpo}, {"mailto", kSchemeMailto},     {"news", kSchemeNews},
    {"nntp", kSchemeNntp},   {"prospero", kSchemeProspero}, {"telnet", kSchemeTelnet},
    {"wais", kSchemeWais},
};

constexpr UrlOps kUrlOps = {
    Core_NotImplemented,
    Url_Parse,
    Url_IsEmpty,
    Url_GetPart,
    Url_Resolve,
    Url_JoinFolderAndName,
    Url_CombineWindowsPath,
    Url_CombineMacPath,
    Url_CombinePosixPath,
    Url_CombinePath,
    Url_FromWindowsPath,
    Url_FromMacPath,
    Url_FromPosixPath,
    Url_FromPath,
    Url_ToWindowsPath,
    Url_ToMacPath,
    Url_ToPosixPath,
    Url_ToPath,
    Url_GetSchemeCode,
    Url_SplitFileName,
    Url_JoinWidePath,
    Url_MakeRelative,
    Url_Escape,
    Url_SplitFileNameWide,
    Core_NotImplemented,
};

}  // namespace

EngineObject UrlModule = {nullptr, &kUrlOps};

StatusCode Url_Parse(EngineObject*, const char* text, std::uint32_t length,
                     UrlParts* parts) noexcept {
  if (parts == nullptr) return kNullOutPointer;
  if (length > kUrlMaxLength) return kUrlTooLong;
  if (text == nullptr && length != 0) return kBadArgument;
  ParseText(text, length, parts);
  return kOk;
}

StatusCode Url_IsEmpty(EngineObject*, const UrlParts* parts, std::uint32_t* flag) noexcept {
  if (parts == nullptr) return kBadArgument;
  if (flag == nullptr) return kNullOutPointer;
  *flag = AllLengthsZero(*parts) ? 1 : 0;
  return kOk;
}

StatusCode Url_GetPart(EngineObject*, const UrlParts* parts, std::uint32_t first,
                       std::uint32_t last, std::uint32_t* length) noexcept {
  if (parts == nullptr || first > last || last > kUrlFragment) return kBadArgument;
  if (length == nullptr) return kNullOutPointer;
  const UrlParts& p = *parts;
  std::uint32_t total = 0;
  for (std::uint32_t part = first; part <= last; ++part) {
    const std::uint32_t len = p.length[part];
    switch (part) {
      case kUrlScheme:
      case kUrlUser:
      case kUrlPort:
        if (len) total += len + 1;
        break;
      case kUrlPassword:
        if (len) total += len + 1 + (p.length[kUrlUser] == 0 ? 1 : 0);
        break;
      case kUrlHost:
        if (len) total += len + 2;
        break;
      case kUrlPath:
        total += len;
        break;
      default:
        if (Present(p, part)) total += len + 1;
        break;
    }
  }
  *length = total;
  return kOk;
}

StatusCode Url_Resolve(EngineObject*, const char* base, std::uint32_t baseLength,
                       const UrlParts* baseParts, const char* reference,
                       std::uint32_t referenceLength, char* out, std::uint32_t* size,
                       UrlParts* outParts) noexcept {
  if (size == nullptr) return kNullOutPointer;
  UrlParts bp{};
  UrlParts rp{};
  if (base == nullptr && baseLength != 0) return kUrlBadBase;
  if (reference == nullptr && referenceLength != 0) return kUrlBadReference;
  if (baseParts != nullptr) {
    if (!PartsFit(*baseParts, baseLength)) return kUrlBadBase;
    bp = *baseParts;
  } else {
    if (baseLength > kUrlMaxLength) return kUrlBaseTooLong;
    ParseText(base, baseLength, &bp);
  }
  if (referenceLength > kUrlMaxLength) return kUrlReferenceTooLong;
  ParseText(reference, referenceLength, &rp);

  Builder b;
  StatusCode s = b.Init(std::uint64_t{baseLength} + referenceLength + 16);
  if (s != kOk) return s;
  if (AllLengthsZero(bp) || rp.length[kUrlScheme] != 0) {
    b.Put(reference, referenceLength);
  } else if (AllLengthsZero(rp)) {
    std::uint32_t end = baseLength;
    if (Present(bp, kUrlFragment) && bp.offset[kUrlFragment] > 0) {
      end = bp.offset[kUrlFragment] - 1;
    }
    b.Put(base, end);
  } else {
    if (bp.length[kUrlScheme]) {
      b.Put(base + bp.offset[kUrlScheme], bp.length[kUrlScheme]);
      b.Put(':');
    }
    const std::string_view refPath = PartText(reference, rp, kUrlPath);
    if (HasAuthority(reference, referenceLength, rp)) {
      // A reference with its own authority brings its own path and query.
      PutAuthority(reference, rp, &b);
      RemoveDots(refPath, &b);
      PutQueryOrFragment(reference, rp, kUrlQuery, '?', &b);
    } else {
      const bool baseAuthority = HasAuthority(base, baseLength, bp);
      if (baseAuthority) PutAuthority(base, bp, &b);
      const std::string_view basePath = PartText(base, bp, kUrlPath);
      if (refPath.empty()) {
        b.Put(basePath.data(), static_cast<std::uint32_t>(basePath.size()));
        if (Present(rp, kUrlQuery)) {
          PutQueryOrFragment(reference, rp, kUrlQuery, '?', &b);
        } else {
          PutQueryOrFragment(base, bp, kUrlQuery, '?', &b);
        }
      } else {
        if (refPath.front() == '/') {
          b.Put(refPath.data(), static_cast<std::uint32_t>(refPath.size()));
        } else {
          // The base's folder, then the reference path, as one merged path.
          Builder merged;
          s = merged.Init(basePath.size() + refPath.size() + 1);
          if (s != kOk) return s;
          const std::size_t slash = basePath.rfind('/');
          if (slash != std::string_view::npos) {
            merged.Put(basePath.data(), static_cast<std::uint32_t>(slash + 1));
          } else if (baseAuthority) {
            merged.Put('/');
          }
          merged.Put(refPath.data(), static_cast<std::uint32_t>(refPath.size()));
          RemoveDots(View(merged.data(), merged.size()), &b);
        }
        PutQueryOrFragment(reference, rp, kUrlQuery, '?', &b);
      }
    }
    PutQueryOrFragment(reference, rp, kUrlFragment, '#', &b);
  }
  if (b.overflow()) return kUrlMergeLength;
  if (outParts != nullptr && b.size() > kUrlMaxLength) return kUrlTooLong;
  s = Deliver(b, out, size);
  if (s == kOk && outParts != nullptr) ParseText(out, b.size(), outParts);
  return s;
}

StatusCode Url_JoinFolderAndName(EngineObject*, const char16_t* folder, const char16_t* name,
                                 char16_t* out, std::uint32_t capacity) noexcept {
  if (out == nullptr) return kNullOutPointer;
  if (name == nullptr) return kBadArgument;
  std::uint32_t folderLength = 0;
  while (folder != nullptr && folder[folderLength] != u'\0') {
    if (++folderLength >= capacity) return kUrlTooLong;
  }
  std::uint32_t nameLength = 0;
  while (name[nameLength] != u'\0') {
    if (++nameLength >= capacity) return kUrlTooLong;
  }
  const bool separator =
      folderLength > 0 && folder[folderLength - 1] != u'\\' && folder[folderLength - 1] != u'/';
  const std::uint64_t total = std::uint64_t{folderLength} + (separator ? 1 : 0) + nameLength;
  if (total > capacity) return kUrlTooLong;
  if (folderLength) std::memmove(out, folder, folderLength * sizeof(char16_t));
  std::uint32_t at = folderLength;
  if (separator) out[at++] = u'\\';
  std::memmove(out + at, name, nameLength * sizeof(char16_t));
  out[at + nameLength] = u'\0';
  return kOk;
}

StatusCode Url_CombineWindowsPath(EngineObject*, const char* base, std::uint32_t baseLength,
                                  const char* relative, std::uint32_t relativeLength, char* out,
                                  std::uint32_t* size) noexcept {
  return Combine(PathForm::kWindows, base, baseLength, relative, relativeLength, out, size);
}

StatusCode Url_CombineMacPath(EngineObject*, const char* base, std::uint32_t baseLength,
                              const char* relative, std::uint32_t relativeLength, char* out,
                              std::uint32_t* size) noexcept {
  return Combine(PathForm::kColon, base, baseLength, relative, relativeLength, out, size);
}

StatusCode Url_CombinePosixPath(EngineObject*, const char* base, std::uint32_t baseLength,
                                const char* relative, std::uint32_t relativeLength, char* out,
                                std::uint32_t* size) noexcept {
  return Combine(PathForm::kPosix, base, baseLength, relative, relativeLength, out, size);
}

StatusCode Url_CombinePath(EngineObject* module, const char* base, std::uint32_t baseLength,
                           const char* relative, std::uint32_t relativeLength, char* out,
                           std::uint32_t* size) noexcept {
  return Url_CombineWindowsPath(module, base, baseLength, relative, relativeLength, out, size);
}

StatusCode Url_FromWindowsPath(EngineObject*, const char* path, std::uint32_t length, char* out,
                               std::uint32_t* size) noexcept {
  if (path == nullptr && length != 0) return kBadArgument;
  return Produce(out, size, [&](Sink& s) {
    s.Put("file://", 7);
    std::uint32_t i = 0;
    if (length >= 2 && path[0] == '\\' && path[1] == '\\') {
      i = 2;
    } else {
      s.Put('/');
    }
    for (; i < length; ++i) {
      const char c = path[i];
      if (c == '\\' || c == '/') {
        s.Put('/');
      } else if (Escaped(c)) {
        s.PutEscaped(c);
      } else {
        s.Put(c);
      }
    }
  });
}

StatusCode Url_FromMacPath(EngineObject*, const char* path, std::uint32_t length, char* out,
                           std::uint32_t* size) noexcept {
  if (path == nullptr && length != 0) return kBadArgument;
  return Produce(out, size, [&](Sink& s) {
    s.Put("file:///", 8);
    for (std::uint32_t i = 0; i < length; ++i) {
      const char c = path[i];
      if (c == ':') {
        s.Put('/');
      } else if (Escaped(c)) {
        s.PutEscaped(c);
      } else {
        s.Put(c);
      }
    }
  });
}

StatusCode Url_FromPosixPath(EngineObject*, const char* path, std::uint32_t length, char* out,
                             std::uint32_t* size) noexcept {
  if (path == nullptr && length != 0) return kBadArgument;
  return Produce(out, size, [&](Sink& s) {
    s.Put("file://", 7);
    if (length == 0 || path[0] != '/') s.Put('/');
    for (std::uint32_t i = 0; i < length; ++i) {
      const char c = path[i];
      if (c != '/' && Escaped(c)) {
        s.PutEscaped(c);
      } else {
        s.Put(c);
      }
    }
  });
}

StatusCode Url_FromPath(EngineObject* module, const char* path, std::uint32_t length, char* out,
                        std::uint32_t* size) noexcept {
  return Url_FromWindowsPath(module, path, length, out, size);
}

StatusCode Url_ToWindowsPath(EngineObject*, const char* url, std::uint32_t length, char* out,
                             std::uint32_t* size) noexcept {
  if (!IsFileUrl(url, length)) return kUrlNotFileUrl;
  return Produce(out, size, [&](Sink& s) {
    std::uint32_t from = 7;
    if (from < length && url[from] == '/') {
      ++from;
    } else if (from < length) {
      s.Put("\\\\", 2);
    }
    PutUnescaped(s, url, from, length, '\\');
  });
}

StatusCode Url_ToMacPath(EngineObject*, const char* url, std::uint32_t length, char* out,
                         std::uint32_t* size) noexcept {
  if (!IsFileUrl(url, length)) return kUrlNotFileUrl;
  return Produce(out, size, [&](Sink& s) {
    if (length > 8) PutUnescaped(s, url, 8, length, ':');
  });
}

StatusCode Url_ToPosixPath(EngineObject*, const char* url, std::uint32_t length, char* out,
                           std::uint32_t* size) noexcept {
  if (!IsFileUrl(url, length)) return kUrlNotFileUrl;
  return Produce(out, size, [&](Sink& s) {
    std::uint32_t from = 7;
    while (from < length && url[from] != '/')
      ++from;
    if (from + 1 < length && url[from + 1] == '~') ++from;
    PutUnescaped(s, url, from, length, '/');
  });
}

StatusCode Url_ToPath(EngineObject* module, const char* url, std::uint32_t length, char* out,
                      std::uint32_t* size) noexcept {
  UrlParts p{};
  const StatusCode s = Url_Parse(module, url, length, &p);
  if (s != kOk) return s;
  const std::uint32_t end = Present(p, kUrlQuery) ? p.offset[kUrlQuery] - 1u : length;
  return Url_ToWindowsPath(module, url, end, out, size);
}

StatusCode Url_GetSchemeCode(EngineObject*, const char* text, std::uint32_t length,
                             std::uint32_t* code) noexcept {
  if (code == nullptr) return kNullOutPointer;
  if (text == nullptr && length != 0) return kBadArgument;
  std::uint32_t i = 0;
  while (i < length && IsSchemeChar(static_cast<unsigned char>(text[i])))
    ++i;
  std::uint32_t found = kSchemeNone;
  if (i > 0 && i < length && text[i] == ':') {
    std::uint32_t lo = 0;
    std::uint32_t hi = static_cast<std::uint32_t>(std::size(kSchemes));
    while (lo < hi) {
      const std::uint32_t mid = lo + (hi - lo) / 2;
      const std::string_view name = kSchemes[mid].name;
      const StatusCode order = Str_CompareNoCase(&StringModule, text, i, name.data(),
                                                 static_cast<std::uint32_t>(name.size()));
      if (order == kCompareEqual) {
        found = kSchemes[mid].code;
        break;
      }
      if (order == kCompareLess) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
  }
  *code = found;
  return kOk;
}

StatusCode Url_SplitFileName(EngineObject*, const char* text, std::uint32_t length,
                             const char** baseStart, std::uint32_t* baseLength,
                             const char** extensionStart, std::uint32_t* extensionLength) noexcept {
  if (text == nullptr) length = 0;
  SplitName(text, length, baseStart, baseLength, extensionStart, extensionLength);
  return kOk;
}

StatusCode Url_JoinWidePath(EngineObject*, char16_t* out, std::uint32_t capacity,
                            const char16_t* folder, const char16_t* name1, const char16_t* name2,
                            const char16_t* name3, const char16_t* name4,
                            std::uint32_t* needed) noexcept {
  const char16_t* names[] = {name1, name2, name3, name4};
  std::uint64_t total = WideLength(folder) + 1;
  for (const char16_t* n : names) {
    if (n != nullptr) total += WideLength(n) + 1;
  }
  if (total > 0xFFFFFFFFu) return kFailed;
  if (needed != nullptr) *needed = static_cast<std::uint32_t>(total);
  if (out == nullptr || capacity < total) return kFailed;
  std::uint32_t at = WideLength(folder);
  if (at) std::memmove(out, folder, at * sizeof(char16_t));
  for (const char16_t* n : names) {
    if (n == nullptr) continue;
    const std::uint32_t len = WideLength(n);
    out[at++] = u'\\';
    std::memmove(out + at, n, len * sizeof(char16_t));
    at += len;
  }
  out[at] = u'\0';
  return kOk;
}

StatusCode Url_MakeRelative(EngineObject* module, const char* base, std::uint32_t baseLength,
                            const char* target, std::uint32_t targetLength, std::uint32_t flags,
                            char* out, std::uint32_t* size) noexcept {
  UrlParts bp{};
  UrlParts tp{};
  StatusCode s = Url_Parse(module, base, baseLength, &bp);
  if (s != kOk) return s;
  s = Url_Parse(module, target, targetLength, &tp);
  if (s != kOk) return s;
  const std::uint32_t capacity = (out != nullptr && size != nullptr) ? *size : 2048;

  auto differs = [&](std::uint32_t part) {
    return Str_CompareNoCase(&StringModule, base + bp.offset[part], bp.length[part],
                             target + tp.offset[part], tp.length[part]) != kCompareEqual;
  };
  Builder b;
  s = b.Init(std::uint64_t{targetLength} + 3 * std::uint64_t{baseLength} + 8);
  if (s != kOk) return s;
  if (differs(kUrlScheme) || differs(kUrlHost)) {
    b.Put(target, targetLength);
  } else {
    const std::string_view basePath = PartText(base, bp, kUrlPath);
    const std::string_view targetPath = PartText(target, tp, kUrlPath);
    const std::size_t bSlash = basePath.rfind('/');
    const std::size_t tSlash = targetPath.rfind('/');
    const std::string_view baseDir =
        bSlash == std::string_view::npos ? std::string_view() : basePath.substr(0, bSlash + 1);
    const std::string_view targetDir =
        tSlash == std::string_view::npos ? std::string_view() : targetPath.substr(0, tSlash + 1);
    // Where the target text to copy starts (an index into targetPath).
    std::size_t copyFrom = 0;
    std::uint32_t ups = 0;
    if (!baseDir.empty()) {
      std::size_t bi = baseDir.front() == '/' ? 1 : 0;
      std::size_t ti = (!targetDir.empty() && targetDir.front() == '/') ? 1 : 0;
      while (bi < baseDir.size()) {
        const std::size_t bEnd = baseDir.find('/', bi);
        const std::size_t tEnd =
            ti < targetDir.size() ? targetDir.find('/', ti) : std::string_view::npos;
        if (tEnd == std::string_view::npos) break;
        const std::string_view bs = baseDir.substr(bi, bEnd - bi);
        const std::string_view ts = targetDir.substr(ti, tEnd - ti);
        const bool same =
            (flags & kUrlRelativeIgnoreCase)
                ? Str_CompareNoCase(&StringModule, bs.data(), static_cast<std::uint32_t>(bs.size()),
                                    ts.data(),
                                    static_cast<std::uint32_t>(ts.size())) == kCompareEqual
                : Mem_Compare(&AllocatorModule, bs.data(), static_cast<std::uint32_t>(bs.size()),
                              ts.data(), static_cast<std::uint32_t>(ts.size())) == kCompareEqual;
        if (!same) break;
        bi = bEnd + 1;
        ti = tEnd + 1;
      }
      for (std::size_t i = bi; i < baseDir.size(); ++i) {
        if (baseDir[i] == '/') ++ups;
      }
      copyFrom = ti;
    }
    for (std::uint32_t i = 0; i < ups; ++i)
      b.Put("../", 3);
    b.Put(targetPath.data() + copyFrom, static_cast<std::uint32_t>(targetPath.size() - copyFrom));
    if ((flags & kUrlRelativeKeepQuery) && tp.length[kUrlQuery]) {
      b.Put('?');
      b.Put(target + tp.offset[kUrlQuery], tp.length[kUrlQuery]);
    }
  }
  if (b.overflow()) return kUrlMergeLength;
  if (b.size() > capacity) {
    if (size != nullptr) *size = b.size();
    return kUrlBufferTooSmall;
  }
  if (out != nullptr && b.size() != 0) std::memcpy(out, b.data(), b.size());
  if (size != nullptr) *size = b.size();
  return kOk;
}

StatusCode Url_Escape(EngineObject*, const std::uint8_t* bytes, std::uint32_t length, char** buffer,
                      std::uint32_t* size) noexcept {
  if (bytes == nullptr) return kBadArgument;
  if (buffer == nullptr || size == nullptr) return kNullOutPointer;
  if (length == 0) {
    while (bytes[length] != 0 && length < 0x7FFFFFFFu)
      ++length;
  }
  const char* text = reinterpret_cast<const char*>(bytes);
  auto emit = [&](Sink& s) {
    for (std::uint32_t i = 0; i < length; ++i) {
      if (Escaped(text[i])) {
        s.PutEscaped(text[i]);
      } else {
        s.Put(text[i]);
      }
    }
  };
  Sink measure;
  emit(measure);
  if (measure.n >= 0xFFFFFFF0u) return kOutOfMemory;
  const auto escapedLength = static_cast<std::uint32_t>(measure.n);
  char* target = *buffer;
  if (target == nullptr) {
    void* block = nullptr;
    const StatusCode s = Engine_Alloc(escapedLength + 1, &block);
    if (s != kOk) return s;
    target = static_cast<char*>(block);
  } else if (*size <= escapedLength) {
    *size = escapedLength + 1;
    return kUrlTooLong;
  }
  Sink write;
  write.out = target;
  emit(write);
  target[escapedLength] = '\0';
  *buffer = target;
  *size = escapedLength;
  return kOk;
}

StatusCode Url_SplitFileNameWide(EngineObject*, const char16_t* text, std::uint32_t length,
                                 const char16_t** baseStart, std::uint32_t* baseLength,
                                 const char16_t** extensionStart,
                                 std::uint32_t* extensionLength) noexcept {
  if (text == nullptr) length = 0;
  SplitName(text, length, baseStart, baseLength, extensionStart, extensionLength);
  return kOk;
}
