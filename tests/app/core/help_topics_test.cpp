// Help topics: every identifier with a topic of its own reaches its anchor on
// a page that the help set ships (and that carries the anchor); every other
// identifier reaches the contents page.
#include "app/core/help_topics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::string HelpPage(const std::string& page) {
  const char* source = std::getenv("KELPO_SOURCE_DIR");
  std::ifstream in(std::string(source != nullptr ? source : ".") + "/app/program/help/" + page);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(HelpTopics, EveryListedIdentifierOpensItsOwnTopicOnAShippedPage) {
  std::vector<std::uint32_t> listed = {
      102,   106,   146,   147,   148,   155,   1054,  1055,  32795, 32802,        32803,
      57601, 57602, 57604, 57606, 57607, 57609, 57634, 57664, 57665, kHelpToolBar, kHelpStatusBar};
  for (std::uint32_t id = 32771; id <= 32776; ++id)
    listed.push_back(id);
  for (std::uint32_t id = 32778; id <= 32787; ++id)
    listed.push_back(id);
  for (std::uint32_t id = 32797; id <= 32799; ++id)
    listed.push_back(id);
  for (std::uint32_t id = 57649; id <= 57651; ++id)
    listed.push_back(id);
  for (std::uint32_t id : listed) {
    SCOPED_TRACE(id);
    const std::string topic = MapHelpContext(id);
    const std::size_t hash = topic.find('#');
    ASSERT_NE(hash, std::string::npos) << topic;
    EXPECT_EQ(topic.substr(hash), "#c" + std::to_string(id));
    const std::string page = HelpPage(topic.substr(0, hash));
    ASSERT_FALSE(page.empty()) << topic;
    EXPECT_NE(page.find("id=\"c" + std::to_string(id) + "\""), std::string::npos) << topic;
  }
}

TEST(HelpTopics, AnyOtherIdentifierOpensTheContents) {
  for (std::uint32_t id : {0u, 101u, 141u, 173u, 1056u, 32777u, 32788u, 32800u, 32801u, 57600u,
                           57603u, 57608u, 57666u, 57670u, 0xE802u, 0x10000u + 57601u}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(MapHelpContext(id), kHelpContentsPage);
  }
  EXPECT_NE(HelpPage(kHelpContentsPage).find("<title>"), std::string::npos);
}

}  // namespace
