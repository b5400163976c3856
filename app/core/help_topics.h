// Which page of the help set explains a command, window or dialog: each
// identifier that has a topic of its own goes to its anchor on the page of
// its menu or dialog, every other one to the contents page.
#pragma once

#include <cstdint>
#include <string>

// The tool bar and status bar windows, named by their window identifiers.
constexpr std::uint32_t kHelpToolBar = 0xE800;
constexpr std::uint32_t kHelpStatusBar = 0xE801;
// The contents page (also the default topic).
inline constexpr const char* kHelpContentsPage = "index.html";

// "page.html#cNNNNN" for an identifier with a topic, kHelpContentsPage for
// any other.
std::string MapHelpContext(std::uint32_t context);
