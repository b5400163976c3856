// The clipboard text the window device collects between ClipboardBegin and
// ClipboardCommit: engine text converted to UTF-16 into a block of a fixed
// number of characters, the bytes of a character cut by the end of one
// append kept for the next, and lone line feeds expanded to carriage return
// plus line feed when the text is finished.
#pragma once

#include <cstdint>

#include "engine/runtime/allocator.h"
#include "engine/runtime/core.h"

constexpr std::uint32_t kClipboardPendingMax = 8;

class ClipboardText {
 public:
  // Starts a text of at most chars UTF-16 units (an earlier one is dropped);
  // a zero count collects nothing. kOutOfMemory.
  StatusCode Begin(std::uint32_t chars) noexcept;
  // Converts count bytes of charset (0 = windows-1252) and appends them; the
  // byte count is limited to the room left, a character that does not fit
  // whole is dropped. kFailed when more than 8 bytes of an unfinished
  // character would have to wait.
  StatusCode Append(std::uint32_t charset, const std::uint8_t* text, std::uint32_t count) noexcept;
  // The finished text with every lone line feed preceded by a carriage
  // return; *units gets its length. kOutOfMemory (the text is kept).
  // Without an open text: kNoMore.
  StatusCode Finish(const char16_t** text, std::uint32_t* units) noexcept;
  // Drops everything.
  void Clear() noexcept;

  bool Open() const noexcept { return open_; }
  std::uint32_t Used() const noexcept { return used_; }
  std::uint32_t LoneLineFeeds() const noexcept { return loneLineFeeds_; }

 private:
  StatusCode ConvertInto(std::uint32_t mib, const std::uint8_t* bytes, std::uint32_t count,
                         std::uint32_t* consumed) noexcept;

  EngineBuffer<char16_t> block_;
  std::uint32_t capacity_ = 0;  // units, without the terminator
  std::uint32_t used_ = 0;
  std::uint32_t loneLineFeeds_ = 0;
  char16_t last_ = 0;
  std::uint8_t pending_[kClipboardPendingMax] = {};
  std::uint32_t pendingCount_ = 0;
  bool open_ = false;
};
