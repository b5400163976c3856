#include "app/core/help_topics.h"

namespace {

struct TopicRange {
  std::uint32_t first;
  std::uint32_t last;
  const char* page;
};

// Identifiers with a topic, with the page that explains them.
constexpr TopicRange kTopics[] = {
    {102, 102, "options.html"},      // Scroll page
    {106, 106, "options.html"},      // Display page
    {146, 146, "tap_regions.html"},  // Regions page
    {147, 148, "options.html"},      // Fonts and Settings pages
    {155, 155, "options.html"},
    {1054, 1055, "go.html"},  // previous and next page buttons
    {32771, 32771, "edit.html"},
    {32772, 32775, "go.html"},  // Find, Find Again, Back, Forward
    {32776, 32776, "bookmarks.html"},
    {32778, 32780, "edit.html"},  // copy the screen, page, document
    {32781, 32781, "file.html"},  // document information
    {32782, 32783, "go.html"},    // mark and jump to the mark
    {32784, 32785, "bookmarks.html"},
    {32786, 32787, "go.html"},  // clear history, auto-scroll
    {32795, 32795, "go.html"},
    {32797, 32797, "options.html"},
    {32798, 32798, "view.html"},  // full screen
    {32799, 32799, "help.html"},
    {32802, 32803, "categories.html"},
    {57601, 57602, "file.html"},
    {57604, 57604, "file.html"},
    {57606, 57607, "file.html"},
    {57609, 57609, "file.html"},
    {57634, 57634, "edit.html"},
    {57649, 57651, "window.html"},
    {57664, 57664, "help.html"},
    {57665, 57665, "file.html"},
    {kHelpToolBar, kHelpStatusBar, "view.html"},
};

}  // namespace

std::string MapHelpContext(std::uint32_t context) {
  for (const TopicRange& t : kTopics)
    if (context >= t.first && context <= t.last)
      return std::string(t.page) + "#c" + std::to_string(context);
  return kHelpContentsPage;
}
