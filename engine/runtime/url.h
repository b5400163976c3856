// The URL service: splits, combines and resolves URLs, escapes bytes as %XX,
// converts between "file:" URLs and paths of three styles (Windows, ':'
// separated, '/' separated), normalises and combines such paths, splits file
// names and joins folders and names. Called on the module object
// (g_UrlModule); every operation works on caller buffers of 8-bit text (URLs
// and the path styles) or UTF-16 (JoinFolderAndName, JoinWidePath and SplitFileNameWide).
//
// Sizes: the operations that produce text (slots 4, 6-17 and 21) take an
// in/out size: in, the capacity of the out buffer; out, the length written
// (no terminator is written). When the capacity is too small they answer
// kUrlBufferTooSmall with the needed length in the size and write nothing.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

// Facility 0x00C.
constexpr StatusCode kUrlTooLong = MakeFailure(Facility::Url, 0x01);  // or buffer too small
constexpr StatusCode kUrlBadBase = MakeFailure(Facility::Url, 0x02);
constexpr StatusCode kUrlBaseTooLong = MakeFailure(Facility::Url, 0x03);
constexpr StatusCode kUrlBadReference = MakeFailure(Facility::Url, 0x04);
constexpr StatusCode kUrlReferenceTooLong = MakeFailure(Facility::Url, 0x05);
constexpr StatusCode kUrlBufferTooSmall = MakeFailure(Facility::Url, 0x06);
constexpr StatusCode kUrlMergeLength = MakeFailure(Facility::Url, 0x07);
constexpr StatusCode kUrlColonPathNoBase = MakeFailure(Facility::Url, 0x0B);
constexpr StatusCode kUrlPosixPathNoBase = MakeFailure(Facility::Url, 0x0C);
constexpr StatusCode kUrlWindowsPathNoBase = MakeFailure(Facility::Url, 0x0D);
constexpr StatusCode kUrlNotFileUrl = MakeFailure(Facility::Url, 0x0E);

// Longest URL text that parses.
constexpr std::uint32_t kUrlMaxLength = 65535;

// Part numbers, in UrlParts order.
enum UrlPart : std::uint32_t {
  kUrlScheme = 0,
  kUrlUser = 1,
  kUrlPassword = 2,
  kUrlHost = 3,
  kUrlPort = 4,
  kUrlPath = 5,
  kUrlQuery = 6,
  kUrlFragment = 7,
};

// Offsets into the parsed text and lengths of the eight parts. Separators
// belong to no part, except that the path keeps its leading '/'. An absent
// part has length 0; a query or fragment that is present but empty ("a?",
// "a#") has length 0 and a non-zero offset (just after its '?' or '#').
struct UrlParts {
  std::uint16_t offset[8];
  std::uint16_t length[8];
};
static_assert(sizeof(UrlParts) == 32);

// Codes of the known schemes (0: none or unknown).
enum UrlScheme : std::uint32_t {
  kSchemeNone = 0,
  kSchemeFile = 5,
  kSchemeFtp = 6,
  kSchemeGopher = 7,
  kSchemeHttp = 8,
  kSchemeHttps = 9,
  kSchemeKelpo = 10,
  kSchemeJavascript = 11,
  kSchemeMailto = 12,
  kSchemeNews = 13,
  kSchemeNntp = 14,
  kSchemeProspero = 15,
  kSchemeTelnet = 16,
  kSchemeWais = 17,
};

// Flags of MakeRelative.
constexpr std::uint32_t kUrlRelativeIgnoreCase = 0x1;  // folders compare with A-Z folded
constexpr std::uint32_t kUrlRelativeKeepQuery = 0x2;   // the target's query is kept

// Shape shared by the path combinations (6-9).
using UrlCombineFn = StatusCode (*)(EngineObject* module, const char* base,
                                    std::uint32_t baseLength, const char* relative,
                                    std::uint32_t relativeLength, char* out,
                                    std::uint32_t* size) noexcept;
// Shape shared by the conversions (10-17).
using UrlConvertFn = StatusCode (*)(EngineObject* module, const char* text, std::uint32_t length,
                                    char* out, std::uint32_t* size) noexcept;

struct UrlOps {
  CoreEndWord word0;
  // 1: splits text into its eight parts. Over kUrlMaxLength bytes: kUrlTooLong.
  // The fragment follows the last '#'. A scheme is a leading run of letters,
  // digits, '+', '-' and '.' ended by ':'. "//" and at least one more byte
  // start an authority that runs to the next '/' or '?': user, password,
  // host and port ("user:password@host:port"; the last '@' ends the user
  // information). The query starts at the first '?' after the authority.
  StatusCode (*parse)(EngineObject* module, const char* text, std::uint32_t length,
                      UrlParts* parts) noexcept;
  // 2: *flag = 1 when all eight lengths are 0, else 0.
  StatusCode (*isEmpty)(EngineObject* module, const UrlParts* parts, std::uint32_t* flag) noexcept;
  // 3: length of the URL text from part first to part last with their
  // separators: scheme + ':', "//" before a host, user + '@' (or ':' before a
  // password and '@' after it), ':' before a port, '?' before a present
  // query, '#' before a present fragment. Part numbers above 7 or first >
  // last: kBadArgument.
  StatusCode (*getPart)(EngineObject* module, const UrlParts* parts, std::uint32_t first,
                        std::uint32_t last, std::uint32_t* length) noexcept;
  // 4: resolves reference against base (either parts pointer may be given to
  // skip parsing; baseParts must then describe base). An empty base or a
  // reference with a scheme: the reference unchanged. An empty reference: the
  // base without its fragment. Otherwise the base's scheme, the reference's
  // authority, path and query when it has an authority, else the base's
  // authority and a path: the reference's when it starts with '/', the
  // base's (and its query when the reference has none) when the reference's
  // is empty, else the base's folder + the reference's path with "." removed
  // and ".." removing the segment before it (a ".." with nothing to remove
  // stays); then the reference's query and fragment. Parse failures: base
  // kUrlBadBase / kUrlBaseTooLong, reference kUrlBadReference /
  // kUrlReferenceTooLong. Too small: kUrlBufferTooSmall and the needed size.
  // outParts (optional) receives the parse of the result.
  StatusCode (*resolve)(EngineObject* module, const char* base, std::uint32_t baseLength,
                        const UrlParts* baseParts, const char* reference,
                        std::uint32_t referenceLength, char* out, std::uint32_t* size,
                        UrlParts* outParts) noexcept;
  // 5: out = folder + '\' + name, NUL-terminated; no separator when the
  // folder is empty or already ends with '\' or '/'. out holds capacity + 1
  // units. A folder or name of capacity units or more, or a total above
  // capacity: kUrlTooLong. A null folder counts as empty.
  StatusCode (*joinFolderAndName)(EngineObject* module, const char16_t* folder,
                                  const char16_t* name, char16_t* out,
                                  std::uint32_t capacity) noexcept;
  // 6: Windows paths ('\' and '/' separate, '\' is written). A relative part
  // of more than 2 bytes starting with two separators or with letter ':'
  // separator is absolute and normalised alone; otherwise base is required
  // (null: kUrlWindowsPathNoBase), normalised, given a '\' and the relative
  // part normalised behind it, its ".." levels removing the base's last
  // segments down to the base's root. Normalising keeps a drive ("C:") or
  // host ("\\host") root, drops "." and one trailing separator, resolves
  // "..", writes levels it cannot resolve as "\..", and writes every kept
  // segment after a '\'.
  StatusCode (*combineWindowsPath)(EngineObject* module, const char* base, std::uint32_t baseLength,
                                   const char* relative, std::uint32_t relativeLength, char* out,
                                   std::uint32_t* size) noexcept;
  // 7: the same for ':'-separated paths: a non-empty relative part that does
  // not start with ':' is absolute; null base: kUrlColonPathNoBase. A path
  // that does not start with ':' starts with its volume; in a run of colons
  // each colon after the first is one level up.
  StatusCode (*combineMacPath)(EngineObject* module, const char* base, std::uint32_t baseLength,
                               const char* relative, std::uint32_t relativeLength, char* out,
                               std::uint32_t* size) noexcept;
  // 8: the same for '/'-separated paths: a relative part starting with '/' is
  // absolute; null base: kUrlPosixPathNoBase. No root; "//" is an empty
  // segment; an empty result is "/".
  StatusCode (*combinePosixPath)(EngineObject* module, const char* base, std::uint32_t baseLength,
                                 const char* relative, std::uint32_t relativeLength, char* out,
                                 std::uint32_t* size) noexcept;
  // 9: the Windows form (CombineWindowsPath).
  StatusCode (*combinePath)(EngineObject* module, const char* base, std::uint32_t baseLength,
                            const char* relative, std::uint32_t relativeLength, char* out,
                            std::uint32_t* size) noexcept;
  // 10: "\\host\share\x" gives "file://host/share/x", any other path
  // "file:///" + path; '\' and '/' become '/', other bytes of the escaped set
  // (':' too) become %XX.
  StatusCode (*fromWindowsPath)(EngineObject* module, const char* path, std::uint32_t length,
                                char* out, std::uint32_t* size) noexcept;
  // 11: "file:///" + path, ':' becoming '/', other escaped bytes as %XX.
  StatusCode (*fromMacPath)(EngineObject* module, const char* path, std::uint32_t length, char* out,
                            std::uint32_t* size) noexcept;
  // 12: "file://" + path when it starts with '/', else "file:///" + path;
  // escaped bytes other than '/' as %XX.
  StatusCode (*fromPosixPath)(EngineObject* module, const char* path, std::uint32_t length,
                              char* out, std::uint32_t* size) noexcept;
  // 13: the Windows form (FromWindowsPath).
  StatusCode (*fromPath)(EngineObject* module, const char* path, std::uint32_t length, char* out,
                         std::uint32_t* size) noexcept;
  // 14-16: the URL must be longer than 6 bytes and start with "file://" (any
  // case), else kUrlNotFileUrl; %XX (either case) is unescaped, a '%' without
  // two hex digits stays. 14: after "file:///" the rest; after "file://host"
  // "\\host" and the rest; '/' becomes '\'. 15: everything after the byte
  // that follows "file://", '/' becoming ':'. 16: from the first '/' after
  // "file://", or from a '~' right after that '/'.
  StatusCode (*toWindowsPath)(EngineObject* module, const char* url, std::uint32_t length,
                              char* out, std::uint32_t* size) noexcept;
  StatusCode (*toMacPath)(EngineObject* module, const char* url, std::uint32_t length, char* out,
                          std::uint32_t* size) noexcept;
  StatusCode (*toPosixPath)(EngineObject* module, const char* url, std::uint32_t length, char* out,
                            std::uint32_t* size) noexcept;
  // 17: ToWindowsPath on the text before the query's '?' (parse failures returned).
  StatusCode (*toPath)(EngineObject* module, const char* url, std::uint32_t length, char* out,
                       std::uint32_t* size) noexcept;
  // 18: the UrlScheme code of the scheme before the first ':' (ASCII case
  // ignored); 0 when there is none or it is unknown.
  StatusCode (*getSchemeCode)(EngineObject* module, const char* text, std::uint32_t length,
                              std::uint32_t* code) noexcept;
  // 19: the last segment starts after the last '/', ':' or '\'; its
  // extension at its last '.', dot included (none: empty, at the end of the
  // text). Starts point into text, lengths in bytes; every out may be null.
  // Always 0.
  StatusCode (*splitFileName)(EngineObject* module, const char* text, std::uint32_t length,
                              const char** baseStart, std::uint32_t* baseLength,
                              const char** extensionStart, std::uint32_t* extensionLength) noexcept;
  // 20: needed = length(folder) + for each non-null name its length + 1, + 1;
  // written to *needed when given, even on failure. Capacity (units,
  // terminator included) below needed: kFailed, out untouched. Otherwise the
  // folder and each non-null name after a '\', NUL-terminated.
  StatusCode (*joinWidePath)(EngineObject* module, char16_t* out, std::uint32_t capacity,
                             const char16_t* folder, const char16_t* name1, const char16_t* name2,
                             const char16_t* name3, const char16_t* name4,
                             std::uint32_t* needed) noexcept;
  // 21: target relative to base. Parse failures are returned. Another scheme
  // or host (ASCII case ignored): the target whole. Otherwise "../" for each
  // folder of the base path from the first that differs from the target's,
  // then the target path from its first differing folder (the query too with
  // kUrlRelativeKeepQuery; never the fragment). A base without folders gives
  // the whole target path. The capacity is *size when out and size are both
  // given, else 2048; a longer result: kUrlBufferTooSmall with its length
  // (nothing written). Otherwise the length goes to *size when given.
  StatusCode (*makeRelative)(EngineObject* module, const char* base, std::uint32_t baseLength,
                             const char* target, std::uint32_t targetLength, std::uint32_t flags,
                             char* out, std::uint32_t* size) noexcept;
  // 22: bytes (length 0: up to a NUL) with the escaped set as %XX (upper
  // case) and a NUL. The escaped set: bytes below 0x20, 0x7F and above, space
  // and " # $ % & + , / : ; < = > ? @ [ \ ] ^ ` { | }. With *buffer null a
  // new engine block is allocated (the caller frees it with Engine_Free) and
  // stored there. A given buffer of *size bytes must be larger than the
  // escaped length, else kUrlTooLong and *size = escaped length + 1. On
  // success *size = escaped length.
  StatusCode (*escape)(EngineObject* module, const std::uint8_t* bytes, std::uint32_t length,
                       char** buffer, std::uint32_t* size) noexcept;
  // 23: SplitFileName on UTF-16 code units.
  StatusCode (*splitFileNameWide)(EngineObject* module, const char16_t* text, std::uint32_t length,
                                  const char16_t** baseStart, std::uint32_t* baseLength,
                                  const char16_t** extensionStart,
                                  std::uint32_t* extensionLength) noexcept;
  CoreEndWord end;
};

extern EngineObject UrlModule;

StatusCode Url_Parse(EngineObject* module, const char* text, std::uint32_t length,
                     UrlParts* parts) noexcept;
StatusCode Url_IsEmpty(EngineObject* module, const UrlParts* parts, std::uint32_t* flag) noexcept;
StatusCode Url_GetPart(EngineObject* module, const UrlParts* parts, std::uint32_t first,
                       std::uint32_t last, std::uint32_t* length) noexcept;
StatusCode Url_Resolve(EngineObject* module, const char* base, std::uint32_t baseLength,
                       const UrlParts* baseParts, const char* reference,
                       std::uint32_t referenceLength, char* out, std::uint32_t* size,
                       UrlParts* outParts) noexcept;
StatusCode Url_JoinFolderAndName(EngineObject* module, const char16_t* folder, const char16_t* name,
                                 char16_t* out, std::uint32_t capacity) noexcept;
StatusCode Url_CombineWindowsPath(EngineObject* module, const char* base, std::uint32_t baseLength,
                                  const char* relative, std::uint32_t relativeLength, char* out,
                                  std::uint32_t* size) noexcept;
StatusCode Url_CombineMacPath(EngineObject* module, const char* base, std::uint32_t baseLength,
                              const char* relative, std::uint32_t relativeLength, char* out,
                              std::uint32_t* size) noexcept;
StatusCode Url_CombinePosixPath(EngineObject* module, const char* base, std::uint32_t baseLength,
                                const char* relative, std::uint32_t relativeLength, char* out,
                                std::uint32_t* size) noexcept;
StatusCode Url_CombinePath(EngineObject* module, const char* base, std::uint32_t baseLength,
                           const char* relative, std::uint32_t relativeLength, char* out,
                           std::uint32_t* size) noexcept;
StatusCode Url_FromWindowsPath(EngineObject* module, const char* path, std::uint32_t length,
                               char* out, std::uint32_t* size) noexcept;
StatusCode Url_FromMacPath(EngineObject* module, const char* path, std::uint32_t length, char* out,
                           std::uint32_t* size) noexcept;
StatusCode Url_FromPosixPath(EngineObject* module, const char* path, std::uint32_t length,
                             char* out, std::uint32_t* size) noexcept;
StatusCode Url_FromPath(EngineObject* module, const char* path, std::uint32_t length, char* out,
                        std::uint32_t* size) noexcept;
StatusCode Url_ToWindowsPath(EngineObject* module, const char* url, std::uint32_t length, char* out,
                             std::uint32_t* size) noexcept;
StatusCode Url_ToMacPath(EngineObject* module, const char* url, std::uint32_t length, char* out,
                         std::uint32_t* size) noexcept;
StatusCode Url_ToPosixPath(EngineObject* module, const char* url, std::uint32_t length, char* out,
                           std::uint32_t* size) noexcept;
StatusCode Url_ToPath(EngineObject* module, const char* url, std::uint32_t length, char* out,
                      std::uint32_t* size) noexcept;
StatusCode Url_GetSchemeCode(EngineObject* module, const char* text, std::uint32_t length,
                             std::uint32_t* code) noexcept;
StatusCode Url_SplitFileName(EngineObject* module, const char* text, std::uint32_t length,
                             const char** baseStart, std::uint32_t* baseLength,
                             const char** extensionStart, std::uint32_t* extensionLength) noexcept;
StatusCode Url_JoinWidePath(EngineObject* module, char16_t* out, std::uint32_t capacity,
                            const char16_t* folder, const char16_t* name1, const char16_t* name2,
                            const char16_t* name3, const char16_t* name4,
                            std::uint32_t* needed) noexcept;
StatusCode Url_MakeRelative(EngineObject* module, const char* base, std::uint32_t baseLength,
                            const char* target, std::uint32_t targetLength, std::uint32_t flags,
                            char* out, std::uint32_t* size) noexcept;
StatusCode Url_Escape(EngineObject* module, const std::uint8_t* bytes, std::uint32_t length,
                      char** buffer, std::uint32_t* size) noexcept;
StatusCode Url_SplitFileNameWide(EngineObject* module, const char16_t* text, std::uint32_t length,
                                 const char16_t** baseStart, std::uint32_t* baseLength,
                                 const char16_t** extensionStart,
                                 std::uint32_t* extensionLength) noexcept;
