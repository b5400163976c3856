// The dialogs the window's commands open, as a table that the program fills
// in: the window and its views call these entries and never include a
// dialog, and the dialogs are given what they edit, never the window. An
// entry left null makes its command do nothing.
#pragma once

#include <cstdint>

#include "app/core/goto_input.h"

class KelpoView;
class MainFrame;
class QWidget;
struct AnnotationDialogFields;

struct CommandDialogs {
  // The active document's views.
  void (*docInfo)(KelpoView* view) = nullptr;
  void (*categories)(KelpoView* view) = nullptr;
  void (*addBookmark)(KelpoView* view) = nullptr;
  void (*editBookmarks)(KelpoView* view) = nullptr;
  // Edits the preferences' search text and options; true when the user
  // asked to search.
  bool (*find)(KelpoView* view) = nullptr;
  GoToAnswer (*goTo)(KelpoView* view, const GoToRequest& request) = nullptr;
  // The view's display settings and the preferences; the view applies them
  // again afterwards.
  void (*viewOptions)(KelpoView* view) = nullptr;
  // One annotation's fields; true (fields updated) on OK.
  bool (*annotation)(QWidget* parent, AnnotationDialogFields* fields) = nullptr;
  void (*annotations)(KelpoView* view) = nullptr;
  void (*annotationSettings)(KelpoView* view) = nullptr;
  // The main window's.
  void (*openByCategory)(MainFrame* frame) = nullptr;
  void (*systemInfo)(QWidget* parent) = nullptr;
  void (*frameOptions)(MainFrame* frame) = nullptr;
  // The topic of a command or window id (0: the contents).
  void (*help)(MainFrame* frame, std::uint32_t context) = nullptr;
};
