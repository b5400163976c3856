#include "engine/utilities/base64.h"

#include <array>

#include "engine/runtime/stream.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kSpace = 0xFE;  // skipped by the stream decoder only

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t)
    v = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i)
    t[static_cast<std::uint8_t>(kAlphabet[i])] = i;
  for (const char c : {'\t', '\n', '\r', ' '})
    t[static_cast<std::uint8_t>(c)] = kSpace;
  return t;
}

constexpr auto kDecode = MakeDecodeTable();

// Encoding pieces: 384 bytes give 512 characters, with room for a CR LF after
// every character in the worst case (line length 1).
constexpr std::uint32_t kEncodePiece = 384;
constexpr std::uint32_t kEncodedPiece = kEncodePiece / 3 * 4;
constexpr std::uint32_t kDecodePiece = 512;

void EncodeBytes(const std::uint8_t* p, std::uint32_t n, char* out) {
  for (; n >= 3; p += 3, n -= 3, out += 4) {
    const std::uint32_t v = std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
    out[0] = kAlphabet[v >> 18];
    out[1] = kAlphabet[(v >> 12) & 63u];
    out[2] = kAlphabet[(v >> 6) & 63u];
    out[3] = kAlphabet[v & 63u];
  }
  if (n == 0) return;
  const std::uint32_t v = std::uint32_t{p[0]} << 16 | (n == 2 ? std::uint32_t{p[1]} << 8 : 0u);
  out[0] = kAlphabet[v >> 18];
  out[1] = kAlphabet[(v >> 12) & 63u];
  out[2] = n == 2 ? kAlphabet[(v >> 6) & 63u] : '=';
  out[3] = '=';
}

// Decodes characters in any number of pieces; a group of four may straddle
// pieces. Once a character outside the alphabet is seen it takes nothing more.
class Decoder {
 public:
  explicit Decoder(bool skipSpace) : skipSpace_(skipSpace) {}

  bool stopped() const { return stopped_; }

  // Consumes text up to a stop; out needs room for n / 4 * 3 + 3 bytes.
  std::uint32_t Feed(const std::uint8_t* p, std::uint32_t n, std::uint8_t* out) {
    std::uint8_t* const begin = out;
    for (std::uint32_t i = 0; i < n && !stopped_; ++i) {
      const std::uint8_t v = kDecode[p[i]];
      if (v < 64) {
        acc_ = acc_ << 6 | v;
        if (++have_ == 4) {
          out[0] = static_cast<std::uint8_t>(acc_ >> 16);
          out[1] = static_cast<std::uint8_t>(acc_ >> 8);
          out[2] = static_cast<std::uint8_t>(acc_);
          out += 3;
          have_ = 0;
          acc_ = 0;
        }
      } else if (!(v == kSpace && skipSpace_)) {
        stopped_ = true;
      }
    }
    return static_cast<std::uint32_t>(out - begin);
  }

  // The bytes of a trailing partial group: 2 or 3 characters give 1 or 2.
  std::uint32_t Finish(std::uint8_t* out) {
    const int have = have_;
    have_ = 0;
    stopped_ = true;
    if (have == 2) {
      out[0] = static_cast<std::uint8_t>(acc_ >> 4);
      return 1;
    }
    if (have == 3) {
      out[0] = static_cast<std::uint8_t>(acc_ >> 10);
      out[1] = static_cast<std::uint8_t>(acc_ >> 2);
      return 2;
    }
    return 0;
  }

 private:
  std::uint32_t acc_ = 0;
  int have_ = 0;
  bool stopped_ = false;
  bool skipSpace_;
};

// Clips *length so that [start, start + *length) lies inside the stream (0
// for a start at or past its end).
StatusCode ClipRange(EngineObject* input, std::uint32_t start, std::uint32_t* length) {
  std::uint32_t size = 0;
  const StatusCode s = StreamOf(input).getSize(input, &size);
  if (IsFailure(s)) return s;
  if (start >= size) {
    *length = 0;
  } else if (*length > size - start) {
    *length = size - start;
  }
  return kOk;
}

constexpr Base64Ops kBase64Ops = {
    Core_NotImplemented, Base64_EncodedLength, Base64_Encode,       Base64_DecodedLength,
    Base64_Decode,       Base64_EncodeStream,  Base64_DecodeStream, Core_NotImplemented,
};

}  // namespace

EngineObject Base64Module = {nullptr, &kBase64Ops};

StatusCode Base64_EncodedLength(EngineObject*, std::uint32_t count,
                                std::uint32_t* length) noexcept {
  if (length == nullptr) return kNullOutPointer;
  const std::uint64_t n = (std::uint64_t{count} + 2) / 3 * 4;
  if (n > 0xFFFFFFFFu) return kBadArgument;
  *length = static_cast<std::uint32_t>(n);
  return kOk;
}

StatusCode Base64_Encode(EngineObject*, const void* bytes, std::uint32_t count,
                         char* output) noexcept {
  if (count == 0) return kOk;
  if (bytes == nullptr || output == nullptr || count > 0xBFFFFFFDu) return kBadArgument;
  EncodeBytes(static_cast<const std::uint8_t*>(bytes), count, output);
  return kOk;
}

StatusCode Base64_DecodedLength(EngineObject*, std::uint32_t count,
                                std::uint32_t* length) noexcept {
  if (length == nullptr) return kNullOutPointer;
  *length = static_cast<std::uint32_t>((std::uint64_t{count} + 3) / 4 * 3);
  return kOk;
}

StatusCode Base64_Decode(EngineObject*, const char* text, std::uint32_t count, void* output,
                         std::uint32_t* written) noexcept {
  if (count != 0 && (text == nullptr || output == nullptr)) return kBadArgument;
  Decoder decoder(false);
  auto* out = static_cast<std::uint8_t*>(output);
  std::uint32_t n = 0;
  if (count != 0) {
    n = decoder.Feed(reinterpret_cast<const std::uint8_t*>(text), count, out);
    n += decoder.Finish(out + n);
  }
  if (written != nullptr) *written = n;
  return kOk;
}

StatusCode Base64_EncodeStream(EngineObject*, EngineObject* input, std::uint32_t start,
                               std::uint32_t length, EngineObject* output,
                               std::uint32_t outputOffset, std::uint32_t lineLength,
                               std::uint32_t* written) noexcept {
  if (input == nullptr || output == nullptr) return kBadArgument;
  StatusCode s = ClipRange(input, start, &length);
  if (IsFailure(s)) return s;
  // The whole output must fit below 4 GiB before anything is written.
  const std::uint64_t chars = (std::uint64_t{length} + 2) / 3 * 4;
  const std::uint64_t breaks = lineLength != 0 && chars != 0 ? (chars - 1) / lineLength * 2 : 0;
  if (std::uint64_t{outputOffset} + chars + breaks > 0xFFFFFFFFu) return kBadArgument;

  std::array<std::uint8_t, kEncodePiece> bytes;
  std::array<char, kEncodedPiece> encoded;
  std::array<char, kEncodedPiece * 3> lines;
  std::uint32_t at = outputOffset;
  std::uint32_t column = 0;
  for (std::uint32_t done = 0; done < length;) {
    const std::uint32_t n = length - done < kEncodePiece ? length - done : kEncodePiece;
    s = Stream_ReadExact(input, start + done, bytes.data(), n);
    if (IsFailure(s)) return s;
    done += n;
    const std::uint32_t e = (n + 2) / 3 * 4;
    EncodeBytes(bytes.data(), n, encoded.data());
    const char* piece = encoded.data();
    std::uint32_t pieceLength = e;
    if (lineLength != 0) {
      pieceLength = 0;
      for (std::uint32_t i = 0; i < e; ++i) {
        if (column == lineLength) {
          lines[pieceLength++] = '\r';
          lines[pieceLength++] = '\n';
          column = 0;
        }
        lines[pieceLength++] = encoded[i];
        ++column;
      }
      piece = lines.data();
    }
    s = Stream_WriteExact(output, at, piece, pieceLength);
    if (IsFailure(s)) return s;
    at += pieceLength;
  }
  if (written != nullptr) *written = at - outputOffset;
  return kOk;
}

StatusCode Base64_DecodeStream(EngineObject*, EngineObject* input, std::uint32_t start,
                               std::uint32_t length, EngineObject* output,
                               std::uint32_t outputOffset, std::uint32_t* written) noexcept {
  if (input == nullptr || output == nullptr) return kBadArgument;
  StatusCode s = ClipRange(input, start, &length);
  if (IsFailure(s)) return s;
  // Decoding never grows the data, yet the output may start high.
  if (std::uint64_t{outputOffset} + (std::uint64_t{length} + 3) / 4 * 3 > 0xFFFFFFFFu) {
    return kBadArgument;
  }

  Decoder decoder(true);
  std::array<std::uint8_t, kDecodePiece> text;
  std::array<std::uint8_t, kDecodePiece / 4 * 3 + 3> bytes;
  std::uint32_t at = outputOffset;
  for (std::uint32_t done = 0; done < length && !decoder.stopped();) {
    const std::uint32_t n = length - done < kDecodePiece ? length - done : kDecodePiece;
    s = Stream_ReadExact(input, start + done, text.data(), n);
    if (IsFailure(s)) return s;
    done += n;
    const std::uint32_t m = decoder.Feed(text.data(), n, bytes.data());
    s = Stream_WriteExact(output, at, bytes.data(), m);
    if (IsFailure(s)) return s;
    at += m;
  }
  const std::uint32_t tail = decoder.Finish(bytes.data());
  s = Stream_WriteExact(output, at, bytes.data(), tail);
  if (IsFailure(s)) return s;
  at += tail;
  if (written != nullptr) *written = at - outputOffset;
  return kOk;
}
