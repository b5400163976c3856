// The charset of a document's 8-bit text when neither the user nor the
// document chose one.
//
// The program's default (from the user's locale or the options) stands,
// with two exceptions decided on the text itself:
// - a text that starts with the UTF-8 byte-order mark names its charset:
//   UTF-8, whatever the default;
// - under the UTF-8 default, a text that UTF-8 cannot read without a
//   replacement (a byte that starts no character, a broken or cut-off
//   sequence, a value past U+10FFFF) is read as windows-1252, the charset
//   the documents of these formats were written in. Read as UTF-8, every
//   such byte would show only as U+FFFD.
// The check reads the text through the handler's GetText from position 0,
// at most kDocCharsetCheckBytes of it, and stops at the first byte UTF-8
// cannot read; a text that cannot be read keeps the default.
#pragma once

#include <cstdint>

#include "engine/runtime/core.h"

constexpr std::uint32_t kDocCharsetCheckBytes = 1u << 20;

// `handler` is an open document handler (its background work done);
// `defaultMib` the program's default charset.
std::uint32_t DocText_DefaultCharset(EngineObject* handler, std::uint32_t defaultMib) noexcept;
