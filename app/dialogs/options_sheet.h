// The Options sheet: the pages Display, Scroll, Region, Font, Color (only
// when a reading view runs it) and Settings, with OK and Cancel. The runners
// copy the program's preferences (and the document's display settings) in
// before the sheet shows and copy the values back after OK.
#pragma once

#include <QDialog>
#include <functional>

#include "app/core/options_values.h"
#include "engine/runtime/core.h"

class QTabWidget;
class QDialogButtonBox;
struct DocOpenState;
class DisplayPage;
class ScrollPage;
class RegionPage;
class FontPage;
class ColourPage;
class SettingsPage;

class OptionsSheet : public QDialog {
 public:
  // With a document key the sheet has the colour page (store may be null:
  // the page then offers no themes).
  OptionsSheet(QWidget* parent, EngineObject* store, bool withColourPage,
               std::uint16_t documentThemeKey);
  void Load(const OptionsValues& values);
  OptionsValues Values() const;
  bool withColourPage() const { return colour != nullptr; }
  // The page shown, counted as in the sheet with the colour page.
  int storedPage() const;
  void ShowStoredPage(int storedPage);
  // OK: the colour page writes its themes back, then the sheet closes.
  void accept() override;

  QTabWidget* tabs;
  QDialogButtonBox* buttons;
  DisplayPage* display;
  ScrollPage* scroll;
  RegionPage* region;
  FontPage* font;
  ColourPage* colour = nullptr;
  SettingsPage* settings;

 private:
  OptionsValues loaded_;
};

// Options on the live preferences, the settings store (may be null) and,
// with a document on show, its settings (state); apply(faces, relayout) then
// shows the changed ones. Without a document the sheet edits the
// preferences' defaults. True when the user confirmed the sheet (the values
// are then stored).
using OptionsApply = std::function<void(bool faces, bool relayout)>;
bool RunOptionsSheet(QWidget* parent, Preferences* prefs, EngineObject* store,
                     DocOpenState* state = nullptr, const OptionsApply& apply = {});
