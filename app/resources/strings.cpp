#include "app/resources/strings.h"

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
  std::uint32_t id;
  const char* text;
};

constexpr Entry kStrings[] = {
    {StringId::NoMatches, "No matches for \"%s\"."},
    {StringId::NoMoreMatches, "No more matches for \"%s\"."},
    {StringId::LocalSettingsOverLimit,
     "Your local settings occupy %lu KB which is above the %lu KB limit. Would you like some of "
     "your older local settings deleted now?"},
    {StringId::AskSaveLocalSettings,
     "Do you want to save the local settings for the document (i.e., current view location, "
     "local bookmarks, etc.)?"},
    {StringId::NeedsNewerVersion,
     "To open this document, you will need to upgrade to the latest version."},
    {StringId::CannotOpenCorrupt,
     "The document could not be opened. It may be corrupt or it may have been deleted."},
    {StringId::DefaultCategories, "Business\nPersonal"},
    {StringId::ExternalDocumentNotFound, "The external document [%s] could not be found."},
    {StringId::UnsupportedFormat,
     "The document could not be opened. It may have an unsupported file format."},
    {StringId::SaveAsTitle, "Save As"},
    {StringId::AllFilesFilter, "All Files (*.*)"},
};

}  // namespace

const char* Resource_String(std::uint32_t id) noexcept {
  const auto it = std::find_if(std::begin(kStrings), std::end(kStrings),
                               [id](const Entry& e) { return e.id == id; });
  return it == std::end(kStrings) ? "" : it->text;
}
