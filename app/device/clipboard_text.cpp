#include "app/device/clipboard_text.h"

#include <algorithm>
#include <cstring>

#include "app/device/device_text.h"
#include "engine/runtime/text_conv.h"

void ClipboardText::Clear() noexcept {
  block_.reset();
  capacity_ = used_ = loneLineFeeds_ = pendingCount_ = 0;
  last_ = 0;
  open_ = false;
}

StatusCode ClipboardText::Begin(std::uint32_t chars) noexcept {
  Clear();
  if (chars == 0) return kOk;
  if (chars > 0x7FFFFFF0u) return kOutOfMemory;
  char16_t* p = nullptr;
  if (Engine_AllocArray(chars + 1, &p) != kOk) return kOutOfMemory;
  block_.reset(p);
  p[0] = 0;
  p[chars] = 0;
  capacity_ = chars;
  open_ = true;
  return kOk;
}

StatusCode ClipboardText::ConvertInto(std::uint32_t mib, const std::uint8_t* bytes,
                                      std::uint32_t count, std::uint32_t* consumed) noexcept {
  TextConvRequest request{};
  request.flags = kConvStopBeforeIncomplete | kConvStopWhenFull;
  request.sourceMib = mib;
  request.source = bytes;
  request.sourceLength = count;
  request.targetMib = kDeviceTextHostUtf16;
  request.target = block_.get() + used_;
  request.targetCapacity = (capacity_ - used_) * 2;
  StatusCode s =
      OpsOf<TextConvOps>(DeviceText_Converter()).convert(DeviceText_Converter(), &request);
  if (s == kNotSupported && mib != kDeviceTextWindows1252) {
    request.sourceMib = kDeviceTextWindows1252;
    request.targetCapacity = (capacity_ - used_) * 2;
    request.consumed = request.characters = request.replaced = 0;
    s = OpsOf<TextConvOps>(DeviceText_Converter()).convert(DeviceText_Converter(), &request);
  }
  if (s != kOk && s != kTextConvTargetTooSmall) return s;
  const std::uint32_t written = request.targetCapacity / 2;
  for (std::uint32_t i = 0; i < written; ++i) {
    const char16_t u = block_.get()[used_ + i];
    if (u == u'\n' && last_ != u'\r') ++loneLineFeeds_;
    last_ = u;
  }
  used_ += written;
  block_.get()[used_] = 0;
  *consumed = request.consumed;
  return s;
}

StatusCode ClipboardText::Append(std::uint32_t charset, const std::uint8_t* text,
                                 std::uint32_t count) noexcept {
  if (!open_) return kOk;
  if (text == nullptr && count != 0) return kBadArgument;
  const std::uint32_t mib = charset ? charset : kDeviceTextWindows1252;
  count = std::min(count, capacity_ - used_);
  if (count == 0) return kOk;  // nothing to add, and nothing completes a waiting character
  std::uint32_t pos = 0;
  if (pendingCount_ > 0) {
    // Complete the waiting character with the first bytes of this text.
    std::uint8_t joined[2 * kClipboardPendingMax];
    const std::uint32_t take = std::min(count, kClipboardPendingMax);
    std::memcpy(joined, pending_, pendingCount_);
    std::memcpy(joined + pendingCount_, text, take);
    std::uint32_t consumed = 0;
    const StatusCode s = ConvertInto(mib, joined, pendingCount_ + take, &consumed);
    if (s == kTextConvTargetTooSmall) {
      pendingCount_ = 0;
      return kOk;  // full: the rest is cut off
    }
    if (s != kOk) return s;
    if (consumed < pendingCount_) {
      // Still not whole: everything given waits.
      if (pendingCount_ + count > kClipboardPendingMax) return kFailed;
      std::memcpy(pending_ + pendingCount_, text, count);
      pendingCount_ += count;
      return kOk;
    }
    pos = consumed - pendingCount_;
    pendingCount_ = 0;
  }
  if (pos >= count) return kOk;
  std::uint32_t consumed = 0;
  const StatusCode s = ConvertInto(mib, text + pos, count - pos, &consumed);
  if (s == kTextConvTargetTooSmall) return kOk;  // full: the rest is cut off
  if (s != kOk) return s;
  const std::uint32_t left = count - pos - consumed;
  if (left > kClipboardPendingMax) return kFailed;
  std::memcpy(pending_, text + pos + consumed, left);
  pendingCount_ = left;
  return kOk;
}

StatusCode ClipboardText::Finish(const char16_t** text, std::uint32_t* units) noexcept {
  if (!open_) return kNoMore;
  if (text == nullptr || units == nullptr) return kNullOutPointer;
  if (loneLineFeeds_ > 0) {
    const std::uint32_t total = used_ + loneLineFeeds_;
    char16_t* p = nullptr;
    if (Engine_AllocArray(total + 1, &p) != kOk) return kOutOfMemory;
    std::uint32_t o = 0;
    char16_t before = 0;
    for (std::uint32_t i = 0; i < used_; ++i) {
      const char16_t u = block_.get()[i];
      if (u == u'\n' && before != u'\r') p[o++] = u'\r';
      p[o++] = u;
      before = u;
    }
    p[o] = 0;
    block_.reset(p);
    used_ = o;
    capacity_ = o;
    loneLineFeeds_ = 0;
  }
  *text = block_.get();
  *units = used_;
  return kOk;
}
