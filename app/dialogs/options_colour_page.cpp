#include "app/dialogs/options_colour_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "app/core/options_values.h"
#include "app/core/strings.h"
#include "app/dialogs/theme_editor.h"
#include "engine/runtime/swap.h"

namespace {

constexpr int kTextRole = Qt::UserRole + 1;
constexpr int kBackgroundRole = Qt::UserRole + 2;
constexpr int kKeyRole = Qt::UserRole + 3;
constexpr int kSelectedBar = 8;  // pixels of the selected item's side bars

const SettingsOps& Store(EngineObject* s) {
  return OpsOf<SettingsOps>(s);
}

QString Text(std::uint32_t id) {
  return QString::fromUtf8(Resource_String(id));
}

QColor ToColor(const ThemeColour& c) {
  return QColor(c.red, c.green, c.blue);
}

ThemeColour ToTheme(std::uint8_t slot, const QColor& c) {
  return {slot, static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
          static_cast<std::uint8_t>(c.blue())};
}

// Item 0 in the list's own colours; a theme in its text colour on its
// background, with a frame and side bars in the text colour when selected.
class ThemeItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    if (index.row() == 0) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    const QColor text = index.data(kTextRole).value<QColor>();
    const QColor background = index.data(kBackgroundRole).value<QColor>();
    const QRect r = option.rect;
    painter->save();
    painter->fillRect(r, background);
    QRect textRect = r.adjusted(2, 2, -2, -2);
    if (option.state & QStyle::State_Selected) {
      painter->setPen(text);
      painter->setBrush(Qt::NoBrush);
      painter->drawRect(r.adjusted(0, 0, -1, -1));
      painter->fillRect(QRect(r.left(), r.top(), kSelectedBar, r.height()), text);
      painter->fillRect(QRect(r.right() - kSelectedBar + 1, r.top(), kSelectedBar, r.height()),
                        text);
      textRect.setLeft(textRect.left() + kSelectedBar);
    }
    painter->setPen(text);
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(s.height() + 4);
    return s;
  }
};

}  // namespace

ColourPage::ColourPage(QWidget* parent, EngineObject* store, std::uint16_t documentKey)
    : QWidget(parent), store_(store), documentKey_(documentKey) {
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("&Color theme:"), this);
  list_ = new QListWidget(this);
  list_->setItemDelegate(new ThemeItemDelegate(list_));
  label->setBuddy(list_);
  layout->addWidget(label);
  layout->addWidget(list_, 1);
  auto* row = new QHBoxLayout;
  edit_ = new QPushButton(QStringLiteral("&Edit"), this);
  delete_ = new QPushButton(QStringLiteral("&Delete"), this);
  new_ = new QPushButton(QStringLiteral("&New"), this);
  for (QPushButton* b : {edit_, delete_, new_}) {
    b->setAutoDefault(false);
    row->addWidget(b);
  }
  row->addStretch(1);
  layout->addLayout(row);
  connect(edit_, &QPushButton::clicked, this, [this] { Edit(); });
  connect(delete_, &QPushButton::clicked, this, [this] { Delete(); });
  connect(new_, &QPushButton::clicked, this, [this] { New(); });

  // A theme file that cannot be read leaves only "none" (and is never
  // written over).
  if (store_ != nullptr && IsFailure(Store(store_).getColourThemes(store_, &set_))) set_ = nullptr;
  int select = 0;
  if (documentKey_ & 0x8000) {
    select = documentKey_ & 0x7FFF;
  } else if (documentKey_ != 0 && set_ != nullptr) {
    std::int32_t index = 0;
    if (Store(store_).findColourThemeByKey(store_, set_, documentKey_, &index) == kOk)
      select = index + 1;
  }
  Fill(select);
}

ColourPage::~ColourPage() {
  if (set_ != nullptr) (void)Store(store_).saveColourThemes(store_, set_, 0);  // frees only
}

QString ColourPage::NameOf(std::uint32_t index) const {
  // A theme: u16 key, u8 colour count, u8 name length, the name in UTF-16LE.
  const std::uint8_t* image = set_->image.Data();
  const std::uint32_t at = set_->offsets[index];
  if (at + 4 > set_->image.Size()) return QString();
  const std::uint32_t n = std::min<std::uint32_t>(image[at + 3], kThemeNameMax);
  if (at + 4 + 2 * n > set_->image.Size()) return QString();
  QString name;
  for (std::uint32_t i = 0; i < n; ++i)
    name.append(QChar(LoadLE16(image + at + 4 + 2 * i)));
  return name;
}

void ColourPage::Fill(int selectRow) {
  list_->clear();
  list_->addItem(Text(StringId::NoTheme));
  const std::uint32_t count = set_ != nullptr ? set_->count : 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    ThemeColour colours[2] = {{1, 0, 0, 0}, {2, 255, 255, 255}};
    ThemeColour items[8]{};
    std::uint32_t n = 8;
    if (Store(store_).getColourTheme(store_, set_, static_cast<std::int32_t>(i), items, &n) == kOk)
      for (std::uint32_t k = 0; k < n; ++k)
        colours[items[k].slot - 1] = items[k];
    auto* item = new QListWidgetItem(NameOf(i), list_);
    item->setData(kTextRole, ToColor(colours[0]));
    item->setData(kBackgroundRole, ToColor(colours[1]));
    item->setData(kKeyRole, Settings_ThemeKey(*set_, i));
  }
  list_->setCurrentRow(std::clamp(selectRow, 0, list_->count() - 1));
}

void ColourPage::Message(const QString& text, bool error) {
  QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information, QStringLiteral("Kelpo"),
                  text, QMessageBox::Ok, window());
  box.exec();
}

void ColourPage::Edit() {
  const int row = list_->currentRow();
  if (row < 1 || set_ == nullptr) {
    Message(Text(StringId::ThemeNotEditable), false);
    return;
  }
  const auto index = static_cast<std::int32_t>(row - 1);
  const std::uint16_t key = Settings_ThemeKey(*set_, static_cast<std::uint32_t>(index));
  const QListWidgetItem* item = list_->item(row);
  const ThemeEditValues old{item->text(), item->data(kTextRole).value<QColor>(),
                            item->data(kBackgroundRole).value<QColor>()};
  ThemeEditValues values = old;
  while (RunThemeEditor(window(), &values) && !values.name.isEmpty()) {
    const std::u16string name = values.name.toStdU16String();
    std::int32_t other = 0;
    if (Store(store_).findColourThemeByName(store_, set_, name.c_str(), &other) == kOk &&
        other != index) {
      Message(Text(StringId::ThemeNameTaken).replace(QStringLiteral("%s"), values.name), true);
      continue;
    }
    // The theme goes and comes back under its own key with the new name and
    // colours, on a copy of the set: when the store refuses the new one (a
    // full theme file) the themes stay as they were.
    const ThemeColour colours[2] = {ToTheme(1, values.text), ToTheme(2, values.background)};
    ColourThemeSet* copy = nullptr;
    if (IsFailure(Settings_ThemesFromBytes(set_->image.Data(), set_->image.Size(), &copy))) return;
    std::int32_t at = 0;
    if (IsFailure(Store(store_).deleteColourTheme(store_, copy, index)) ||
        IsFailure(Store(store_).setColourTheme(store_, copy, key, name.c_str(), 2, colours, &at))) {
      Settings_ThemesFree(copy);
      Message(QStringLiteral("The color theme could not be changed."), true);
      return;
    }
    Settings_ThemesFree(set_);
    set_ = copy;
    modified_ = true;
    Fill(at + 1);
    if (key == documentKey_) changed_ = true;
    return;
  }
}

void ColourPage::New() {
  if (set_ == nullptr) return;  // no theme file to add to
  const QString pattern = Text(StringId::NewThemeName);
  const unsigned long number = Options_NewThemeNumber([&](unsigned long n) {
    const std::u16string name =
        QString(pattern).replace(QStringLiteral("%lu"), QString::number(n)).toStdU16String();
    std::int32_t index = 0;
    return Store(store_).findColourThemeByName(store_, set_, name.c_str(), &index) == kOk;
  });
  ThemeEditValues values{QString(pattern).replace(QStringLiteral("%lu"), QString::number(number)),
                         Qt::black, Qt::white};
  while (RunThemeEditor(window(), &values) && !values.name.isEmpty()) {
    const std::u16string name = values.name.toStdU16String();
    const ThemeColour colours[2] = {ToTheme(1, values.text), ToTheme(2, values.background)};
    std::int32_t at = 0;
    const StatusCode s =
        Store(store_).setColourTheme(store_, set_, 0, name.c_str(), 2, colours, &at);
    if (s == kOk) {
      modified_ = true;
      Fill(at + 1);
      return;
    }
    // The store refuses a taken name and a full theme file alike: only the
    // first is worth another try.
    std::int32_t other = 0;
    if (s == kSettingsThemeLimit &&
        Store(store_).findColourThemeByName(store_, set_, name.c_str(), &other) == kOk) {
      Message(Text(StringId::ThemeNameTaken).replace(QStringLiteral("%s"), values.name), true);
      continue;
    }
    Message(QStringLiteral("The color theme could not be added."), true);
    return;
  }
}

void ColourPage::Delete() {
  const int row = list_->currentRow();
  if (row < 1 || set_ == nullptr) {
    Message(Text(StringId::ThemeNotEditable), false);
    return;
  }
  const QString name = list_->item(row)->text();
  if (QMessageBox::question(window(), QStringLiteral("Kelpo"),
                            Text(StringId::AskDeleteTheme).replace(QStringLiteral("%s"), name),
                            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  const auto index = static_cast<std::uint32_t>(row - 1);
  const std::uint16_t key = Settings_ThemeKey(*set_, index);
  if (IsFailure(Store(store_).deleteColourTheme(store_, set_, static_cast<std::int32_t>(index))))
    return;
  modified_ = true;
  if (key == documentKey_) changed_ = true;
  Fill(row < list_->count() - 1 ? row : row - 1);
}

void ColourPage::Accept() {
  const int row = list_->currentRow();
  chosenKey_ = row >= 1 && set_ != nullptr
                   ? Settings_ThemeKey(*set_, static_cast<std::uint32_t>(row - 1))
                   : 0;
  if (chosenKey_ != documentKey_) changed_ = true;
  if (set_ == nullptr) return;
  // Writes only what was edited; the set is freed either way.
  ColourThemeSet* set = set_;
  set_ = nullptr;
  if (IsFailure(Store(store_).saveColourThemes(store_, set, modified_ ? 1 : 0)))
    Message(QStringLiteral("The color themes could not be saved."), true);
}
