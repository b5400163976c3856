#include "app/dialogs/options_pages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/core/strings.h"
#include "app/dialogs/option_previews.h"
#include "app/dialogs/tap_region_ctrl.h"
#include "engine/runtime/charset_name.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/text_conv.h"

namespace {

constexpr int kCharsetNameMax = 31;
constexpr int kDefaultFontSizeItem = 5;  // "12"
constexpr int kDefaultPoints = 12;

QComboBox* Combo(QWidget* parent, std::initializer_list<const char*> items) {
  auto* combo = new QComboBox(parent);
  for (const char* item : items)
    combo->addItem(QString::fromUtf8(item));
  return combo;
}

// A group of radio buttons numbered 0.. in a box of their own.
QButtonGroup* Radios(QWidget* parent, QGroupBox* box, std::initializer_list<const char*> labels) {
  auto* group = new QButtonGroup(parent);
  auto* layout = new QVBoxLayout(box);
  int id = 0;
  for (const char* label : labels) {
    auto* button = new QRadioButton(QString::fromUtf8(label), box);
    group->addButton(button, id++);
    layout->addWidget(button);
  }
  return group;
}

void Check(QButtonGroup* group, int id) {
  if (QAbstractButton* b = group->button(id)) b->setChecked(true);
}

int Checked(const QButtonGroup* group) {
  return std::max(group->checkedId(), 0);
}

void Select(QComboBox* combo, int index) {
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : 0);
}

QLabel* Label(QWidget* parent, const char* text, QWidget* buddy) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setBuddy(buddy);
  return label;
}

EngineObject* Converter() {
  return g_TextConvModule != nullptr ? g_TextConvModule : &TextConvModule;
}
EngineObject* CharsetNames() {
  return g_CharsetNameModule != nullptr ? g_CharsetNameModule : &CharsetNameModule;
}

}  // namespace

DisplayPage::DisplayPage(QWidget* parent) : QWidget(parent) {
  auto* grid = new QGridLayout(this);
  auto* text = new QGroupBox(QStringLiteral("Text size"), this);
  auto* textGrid = new QGridLayout(text);
  size = Combo(text, {"Largest", "Large", "Medium", "Small", "Smallest"});
  textGrid->addWidget(size, 0, 0, 1, 2);
  sizeMode = new QButtonGroup(this);
  auto* relative = new QRadioButton(QStringLiteral("&Relative"), text);
  auto* absolute = new QRadioButton(QStringLiteral("&Absolute"), text);
  sizeMode->addButton(relative, 0);
  sizeMode->addButton(absolute, 1);
  textGrid->addWidget(relative, 1, 0);
  textGrid->addWidget(absolute, 1, 1);
  bold = new QCheckBox(QStringLiteral("Display text in &bold"), text);
  textGrid->addWidget(bold, 2, 0, 1, 2);
  grid->addWidget(text, 0, 0);

  auto* locationBox = new QGroupBox(QStringLiteral("Location"), this);
  location = Radios(this, locationBox, {"Au&tomatic", "Page &number", "&Percentage"});
  grid->addWidget(locationBox, 0, 1);
  auto* layoutBox = new QGroupBox(QStringLiteral("Layout"), this);
  layout = Radios(this, layoutBox,
                  {"&Enable table layout", "&Disable table layout", "D&isable all layout"});
  grid->addWidget(layoutBox, 1, 0);
  auto* alignBox = new QGroupBox(QStringLiteral("Alignment"), this);
  alignment = Radios(this, alignBox, {"N&ormal", "A&lign right"});
  grid->addWidget(alignBox, 1, 1);

  encoding = new QComboBox(this);
  auto* encodingRow = new QHBoxLayout;
  encodingRow->addWidget(Label(this, "Text en&coding:", encoding));
  encodingRow->addWidget(encoding, 1);
  grid->addLayout(encodingRow, 2, 0, 1, 2);
  alsoDefaults =
      new QCheckBox(QStringLiteral("Also set as de&faults for newly opened documents"), this);
  grid->addWidget(alsoDefaults, 3, 0, 1, 2);
  grid->setRowStretch(4, 1);
}

void DisplayPage::Load(const OptionsValues& v) {
  Select(size, v.sizeIndex);
  Check(sizeMode, v.sizeMode);
  bold->setChecked(v.bold != 0);
  Check(location, v.location);
  Check(layout, v.layout);
  Check(alignment, v.alignment);
  alsoDefaults->setChecked(v.alsoDefaults);
  alsoDefaults->setVisible(!v.noDocument);
  encodingFixed_ = v.encodingFixed;
  encodingId_ = v.encoding;

  encoding->clear();
  if (v.encodingFixed) {
    encoding->addItem(QString::fromUtf8(Resource_String(StringId::EncodingByDocument)),
                      QVariant::fromValue(v.encoding));
    encoding->setCurrentIndex(0);
    return;
  }
  const std::uint32_t* list = nullptr;
  std::uint32_t count = 0;
  if (IsFailure(TextConv_ListCharsets(Converter(), &list, &count)) || list == nullptr) count = 0;
  int selected = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    char name[kCharsetNameMax + 1] = {};
    std::uint32_t length = kCharsetNameMax;
    if (IsFailure(Charset_MibToName(CharsetNames(), list[i], name, &length))) continue;
    if (list[i] == v.encoding) selected = encoding->count();
    encoding->addItem(QString::fromLatin1(name, static_cast<int>(length)),
                      QVariant::fromValue(list[i]));
  }
  encoding->setCurrentIndex(encoding->count() > 0 ? selected : -1);
}

void DisplayPage::Store(OptionsValues* v) const {
  v->sizeIndex = std::max(size->currentIndex(), 0);
  v->sizeMode = Checked(sizeMode);
  v->bold = bold->isChecked() ? 1 : 0;
  v->location = Checked(location);
  v->layout = Checked(layout);
  v->alignment = Checked(alignment);
  v->alsoDefaults = alsoDefaults->isChecked() && !v->noDocument;
  v->encodingFixed = encodingFixed_;
  // The encoding is the selected item's charset (the one in use when the
  // document names it, or when there is no list to choose from).
  v->encoding = encodingId_;
  if (!encodingFixed_ && encoding->currentIndex() >= 0)
    v->encoding = encoding->currentData().toUInt();
}

ScrollPage::ScrollPage(QWidget* parent) : QWidget(parent) {
  auto* grid = new QGridLayout(this);
  auto* autoBox = new QGroupBox(QStringLiteral("Autoscroll"), this);
  autoscroll = Radios(this, autoBox, {"&Line at a time", "&Smooth"});
  grid->addWidget(autoBox, 0, 0, 1, 2);

  auto* screenBox = new QGroupBox(QStringLiteral("Screen up and down"), this);
  auto* screenGrid = new QGridLayout(screenBox);
  screenUp =
      Combo(screenBox, {"Full with text align", "Full screen", "90% of the screen", "Half screen"});
  screenDown =
      Combo(screenBox, {"Full with text align", "Full screen", "90% of the screen", "Half screen"});
  screenGrid->addWidget(Label(screenBox, "Screen up:", screenUp), 0, 0);
  screenGrid->addWidget(screenUp, 0, 1);
  screenGrid->addWidget(Label(screenBox, "Screen down:", screenDown), 1, 0);
  screenGrid->addWidget(screenDown, 1, 1);
  grid->addWidget(screenBox, 1, 0, 1, 2);

  auto* keyBox = new QGroupBox(QStringLiteral("Cursor keys"), this);
  auto* keyGrid = new QGridLayout(keyBox);
  keyUp = Combo(keyBox, {"Screen up", "Line up", "Line down", "Screen down"});
  keyDown = Combo(keyBox, {"Screen up", "Line up", "Line down", "Screen down"});
  keyLeft = Combo(keyBox, {"Screen left", "Line left", "Line right", "Screen right"});
  keyRight = Combo(keyBox, {"Screen left", "Line left", "Line right", "Screen right"});
  keyGrid->addWidget(Label(keyBox, "Up:", keyUp), 0, 0);
  keyGrid->addWidget(keyUp, 0, 1);
  keyGrid->addWidget(Label(keyBox, "Down:", keyDown), 1, 0);
  keyGrid->addWidget(keyDown, 1, 1);
  keyGrid->addWidget(Label(keyBox, "Left:", keyLeft), 2, 0);
  keyGrid->addWidget(keyLeft, 2, 1);
  keyGrid->addWidget(Label(keyBox, "Right:", keyRight), 3, 0);
  keyGrid->addWidget(keyRight, 3, 1);
  grid->addWidget(keyBox, 2, 0, 1, 2);

  fullScreenBar =
      new QCheckBox(QStringLiteral("Show the scroll bar when in &full screen mode"), this);
  grid->addWidget(fullScreenBar, 3, 0, 1, 2);
  grid->setRowStretch(4, 1);
}

void ScrollPage::Load(const OptionsValues& v) {
  Check(autoscroll, v.autoscrollMode);
  Select(screenUp, v.screenUp);
  Select(screenDown, v.screenDown);
  Select(keyUp, v.keyUp);
  Select(keyDown, v.keyDown);
  Select(keyLeft, v.keyLeft);
  Select(keyRight, v.keyRight);
  fullScreenBar->setChecked(v.fullScreenBar);
}

void ScrollPage::Store(OptionsValues* v) const {
  v->autoscrollMode = Checked(autoscroll);
  v->screenUp = screenUp->currentIndex();
  v->screenDown = screenDown->currentIndex();
  v->keyUp = keyUp->currentIndex();
  v->keyDown = keyDown->currentIndex();
  v->keyLeft = keyLeft->currentIndex();
  v->keyRight = keyRight->currentIndex();
  v->fullScreenBar = fullScreenBar->isChecked();
}

RegionPage::RegionPage(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  control = new RegionCtrl(this);
  control->setMinimumWidth(140);
  row->addWidget(control, 1);
  auto* grid = new QGridLayout;
  for (int i = 0; i < 4; ++i) {
    actions[i] = Combo(this, {"Drag", "Screen up", "Line up", "None", "Line down", "Screen down"});
    const std::string label = "[" + std::to_string(i + 1) + "]";
    grid->addWidget(Label(this, label.c_str(), actions[i]), i, 0);
    grid->addWidget(actions[i], i, 1);
  }
  grid->setRowStretch(4, 1);
  row->addLayout(grid);
}

void RegionPage::Load(const OptionsValues& v) {
  control->SetRegionPercents(v.regionPercent);
  for (int i = 0; i < 4; ++i)
    Select(actions[i], v.regionAction[i]);
}

void RegionPage::Store(OptionsValues* v) const {
  v->regionPercent = control->GetRegionPercents();
  for (int i = 0; i < 4; ++i)
    v->regionAction[i] = actions[i]->currentIndex();
}

FontPage::FontPage(QWidget* parent) : QWidget(parent) {
  auto* grid = new QGridLayout(this);
  family = Combo(this, {"Default", "Serif", "Sans Serif", "Monospace"});
  font = new QComboBox(this);
  size = Combo(this, {"6", "8", "9", "10", "11", "12", "14", "16", "20", "24", "28", "36"});
  bold = new QCheckBox(QStringLiteral("&Bold"), this);
  italic = new QCheckBox(QStringLiteral("&Italic"), this);
  preview = new FontPreview(this);
  preview->setMinimumHeight(80);
  grid->addWidget(Label(this, "Font &family:", family), 0, 0);
  grid->addWidget(family, 0, 1);
  grid->addWidget(Label(this, "F&ont:", font), 1, 0);
  grid->addWidget(font, 1, 1);
  grid->addWidget(Label(this, "&Size:", size), 2, 0);
  grid->addWidget(size, 2, 1);
  auto* checks = new QHBoxLayout;
  checks->addWidget(bold);
  checks->addWidget(italic);
  checks->addStretch(1);
  grid->addLayout(checks, 3, 1);
  grid->addWidget(preview, 4, 0, 1, 2);
  grid->setRowStretch(5, 1);

  // The installed faces, sorted, each once; vertical faces ("@...") left out.
  QStringList faces;
  for (const QString& face : QFontDatabase::families())
    if (!face.startsWith(QLatin1Char('@')) && !faces.contains(face)) faces.append(face);
  faces.sort(Qt::CaseInsensitive);
  font->addItems(faces);
  Select(size, kDefaultFontSizeItem);

  // A list only changes on a choice made (a closed list that was cancelled
  // keeps its item).
  connect(family, &QComboBox::activated, this, [this](int i) { ChooseFamily(i); });
  connect(font, &QComboBox::activated, this, [this](int i) { ChooseFont(i); });
  connect(size, &QComboBox::activated, this, [this](int) { UpdatePreview(); });
  connect(bold, &QCheckBox::toggled, this, [this](bool) { UpdatePreview(); });
  connect(italic, &QCheckBox::toggled, this, [this](bool) { UpdatePreview(); });
}

void FontPage::Load(const OptionsValues& v) {
  for (int i = 0; i < 4; ++i)
    faces_[i] = QString::fromStdU16String(v.faces[i]);
  family->setCurrentIndex(0);
  ChooseFamily(0);
}

void FontPage::ChooseFamily(int which) {
  if (which < 0 || which >= 4) return;
  family->setCurrentIndex(which);
  // Only the face itself: a face that is not installed selects nothing.
  font->setCurrentIndex(font->findText(faces_[which], Qt::MatchExactly));
  UpdatePreview();
}

void FontPage::ChooseFont(int item) {
  const int which = family->currentIndex();
  if (item < 0 || which < 0 || which >= 4) return;
  font->setCurrentIndex(item);
  faces_[which] = font->itemText(item);
  UpdatePreview();
}

void FontPage::UpdatePreview() {
  PreviewFontRequest r;
  r.face = font->currentIndex() >= 0 ? font->currentText() : QString();
  bool ok = false;
  r.points = size->currentText().toInt(&ok);
  if (!ok || r.points <= 0) r.points = kDefaultPoints;
  r.bold = bold->isChecked();
  r.italic = italic->isChecked();
  preview->SetPreviewFont(r);
}

void FontPage::Store(OptionsValues* v) const {
  for (int i = 0; i < 4; ++i)
    v->faces[i] = faces_[i].left(31).toStdU16String();
}

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent) {
  auto* grid = new QGridLayout(this);
  mode = Combo(this, {"Automatically save", "Ask before saving", "Do not save"});
  grid->addWidget(Label(this, "Local settings:", mode), 0, 0);
  grid->addWidget(mode, 0, 1, 1, 2);
  // Four digits at most, 0..9999; up counts up.
  maxKB = new QSpinBox(this);
  maxKB->setRange(0, kOptionsMaxKB);
  grid->addWidget(Label(this, "&Maximum amount of space to use:", maxKB), 1, 0);
  grid->addWidget(maxKB, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("KB"), this), 1, 2);
  grid->setRowStretch(2, 1);
  grid->setColumnStretch(1, 1);
}

void SettingsPage::Load(const OptionsValues& v) {
  Select(mode, v.saveMode);
  maxKB->setValue(v.maxKB);
}

void SettingsPage::Store(OptionsValues* v) const {
  v->saveMode = mode->currentIndex();
  v->maxKB = maxKB->value();
}
