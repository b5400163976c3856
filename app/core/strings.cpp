#include "app/core/strings.h"

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
  std::uint32_t id;
  const char* text;
};

constexpr Entry kStrings[] = {
    {StringId::CopyOutOfMemory, "There is not enough memory to complete the copy."},
    {StringId::NoMatches, "No matches for \"%s\"."},
    {StringId::NoMoreMatches, "No more matches for \"%s\"."},
    {StringId::LinkHasNoTarget, "The hyperlink does not resolve to any location in this document."},
    {StringId::LocalSettingsOverLimit,
     "Your local settings occupy %lu KB which is above the %lu KB limit. Would you like some of "
     "your older local settings deleted now?"},
    {StringId::AskSaveLocalSettings,
     "Do you want to save the local settings for the document (i.e., current view location, "
     "local bookmarks, etc.)?"},
    {StringId::Unknown, "Unknown"},
    {StringId::Unspecified, "unspecified"},
    {StringId::NeedsNewerVersion,
     "To open this document, you will need to upgrade to the latest version."},
    {StringId::CannotOpenCorrupt,
     "The document could not be opened. It may be corrupt or it may have been deleted."},
    {StringId::DocInfoCaption, "Document Information"},
    {StringId::DocInfoTitle, "Title"},
    {StringId::DocInfoAuthor, "Author"},
    {StringId::DocInfoPublisher, "Publisher"},
    {StringId::EncodingByDocument, "Specified by document"},
    {StringId::CategoryExists, "The category \"%s\" already exists."},
    {StringId::CategorySlash, "Category names can not have forward slashes."},
    {StringId::CategoryAskDelete,
     "Are you sure you want to delete the category named \"%s\" and any sub-categories it "
     "contains?"},
    {StringId::CategoryNoSelection, "You must first select a category."},
    {StringId::ColumnName, "Name"},
    {StringId::ColumnDateModified, "Date Modified"},
    {StringId::ColumnSize, "Size"},
    {StringId::DefaultCategories, "Business\nPersonal"},
    {StringId::ExternalDocumentNotFound, "The external document [%s] could not be found."},
    {StringId::NewThemeName, "New Color Theme %lu"},
    {StringId::ThemeSample, "The sky is falling!"},
    {StringId::NoTheme, "No color theme"},
    {StringId::ThemeNameTaken, "A color theme named \"%s\" already exists."},
    {StringId::AskDeleteTheme, "Are you sure you want to delete the \"%s\" color theme?"},
    {StringId::ThemeNotEditable, "That color theme can not be modified."},
    {StringId::AskDeleteAnnotation, "Are you sure you want to delete the selected annotation?"},
    {StringId::SelectAnnotationsFileTitle,
     "Select Existing Annotations File or Enter New File Name"},
    {StringId::NoAnnotationsFileYet,
     "You have not yet associated an annotations file with this document. Select an existing "
     "annotations file or enter a new file name."},
    {StringId::AnnotationsFilter, "Kelpo Annotations (*.kpa)"},
    {StringId::NotAnAnnotationsFile,
     "The file you selected is not an annotations file. Overwrite it?"},
    {StringId::UnsupportedFormat,
     "The document could not be opened. It may have an unsupported file format."},
    {StringId::CannotReopenForWriting,
     "The document could not be opened for writing, so nothing was stored in it. It is shown "
     "as it was."},
    {StringId::FileNotOpened, "This file could not be opened:"},
    {StringId::FilesNotOpened, "These files could not be opened:"},
    {StringId::FileMissing, "%s: there is no such file."},
    {StringId::FileIsFolder, "%s: this is a folder, not a document."},
    {StringId::FileNotReadable, "%s: the file cannot be read (%s)."},
    {StringId::AnnotationsFileIsDocument, "The file you selected is the open document."},
    {StringId::AnnotationsFileNotReplaced, "The file you selected could not be overwritten."},
    {StringId::AnnotationNotStored,
     "The annotation could not be stored in the annotations file. The file may be read-only, "
     "damaged or on a disk that is full."},
    {StringId::FileNotRegular, "%s: this is a device, pipe or socket, not a document."},
    {StringId::FileUnsupported, "%s: the file is not in a document format the reader knows."},
    {StringId::FileDamaged, "%s: the document is damaged and cannot be read."},
    {StringId::FileNeedsNewer, "%s: the document needs a later version of the reader."},
    {StringId::FilePathTooLong,
     "%s: the path is too long (the reader takes paths of at most %s characters)."},
    {StringId::FileNotOpenedOther, "%s: the document could not be opened."},
    {StringId::TextUnreadableHere,
     "The text at this place in the document cannot be read: the document is damaged here. "
     "The text before it can still be read."},
    {StringId::SaveAsTitle, "Save As"},
    {StringId::AllFilesFilter, "All Files (*.*)"},
};

}  // namespace

const char* Resource_String(std::uint32_t id) noexcept {
  const auto it = std::find_if(std::begin(kStrings), std::end(kStrings),
                               [id](const Entry& e) { return e.id == id; });
  return it == std::end(kStrings) ? "" : it->text;
}
