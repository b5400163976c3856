#include "app/dialogs/options_sheet.h"

#include <QDialogButtonBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/core/doc_open.h"
#include "app/dialogs/options_colour_page.h"
#include "app/dialogs/options_pages.h"

OptionsSheet::OptionsSheet(QWidget* parent, EngineObject* store, bool withColourPage,
                           std::uint16_t documentThemeKey)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Options"));
  auto* layout = new QVBoxLayout(this);
  tabs = new QTabWidget(this);
  display = new DisplayPage(tabs);
  scroll = new ScrollPage(tabs);
  region = new RegionPage(tabs);
  font = new FontPage(tabs);
  settings = new SettingsPage(tabs);
  tabs->addTab(display, QStringLiteral("Display"));
  tabs->addTab(scroll, QStringLiteral("Scroll"));
  tabs->addTab(region, QStringLiteral("Region"));
  tabs->addTab(font, QStringLiteral("Font"));
  if (withColourPage) {
    colour = new ColourPage(tabs, store, documentThemeKey);
    tabs->addTab(colour, QStringLiteral("Color"));
  }
  tabs->addTab(settings, QStringLiteral("Settings"));
  layout->addWidget(tabs);
  buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &OptionsSheet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &OptionsSheet::reject);
}

void OptionsSheet::Load(const OptionsValues& v) {
  loaded_ = v;
  display->Load(v);
  scroll->Load(v);
  region->Load(v);
  font->Load(v);
  settings->Load(v);
}

OptionsValues OptionsSheet::Values() const {
  OptionsValues v = loaded_;
  display->Store(&v);
  scroll->Store(&v);
  region->Store(&v);
  font->Store(&v);
  settings->Store(&v);
  return v;
}

int OptionsSheet::storedPage() const {
  return Options_StoredPage(tabs->currentIndex(), withColourPage());
}

void OptionsSheet::ShowStoredPage(int stored) {
  tabs->setCurrentIndex(Options_StartPage(stored, withColourPage()));
}

void OptionsSheet::accept() {
  // The colour page writes the themes back and settles the key chosen.
  if (colour != nullptr) colour->Accept();
  QDialog::accept();
}

bool RunOptionsSheet(QWidget* parent, Preferences* prefs, EngineObject* store, DocOpenState* state,
                     const OptionsApply& apply) {
  if (prefs == nullptr) return false;
  OptionsDocument doc = Options_FrameDocument(*prefs);
  if (state != nullptr)
    doc = {state->displayFlags, state->locationFlags, state->encodingGiven, state->encoding,
           state->colourTheme};
  OptionsValues values;
  Options_CopyIn(*prefs, doc, state == nullptr, &values);

  OptionsSheet sheet(parent, store, state != nullptr, doc.themeKey);
  sheet.Load(values);
  // A stored page past the last is kept as the last one.
  const int stored = std::min<int>(prefs->lastOptionsPage(), OptionsPage::kSettingsWithColour);
  prefs->setLastOptionsPage(static_cast<std::uint8_t>(stored));
  sheet.ShowStoredPage(stored);
  if (sheet.exec() != QDialog::Accepted) return false;

  prefs->setLastOptionsPage(static_cast<std::uint8_t>(sheet.storedPage()));
  values = sheet.Values();
  if (state == nullptr) {
    (void)Options_CopyBackToPrefs(values, prefs);  // nothing on show to redo
    return true;
  }
  const OptionsChanges changes = Options_CopyBackToDocument(values, sheet.colour->chosenKey(),
                                                            sheet.colour->changed(), &doc, prefs);
  state->colourTheme = doc.themeKey;
  state->displayFlags = doc.displayFlags;
  state->encoding = doc.encoding;
  state->locationFlags = doc.locationFlags;
  if (apply) apply(changes.faces, changes.display || changes.encoding || changes.faces);
  return true;
}
