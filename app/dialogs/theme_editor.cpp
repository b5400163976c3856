#include "app/dialogs/theme_editor.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/dialogs/option_previews.h"

namespace {

constexpr int kThemeNameMax = 31;

}  // namespace

ThemeEditor::ThemeEditor(QWidget* parent, const ThemeEditValues& values)
    : QDialog(parent), text_(values.text), background_(values.background) {
  setWindowTitle(QStringLiteral("Edit Color Theme"));
  auto* grid = new QGridLayout(this);
  name_ = new QLineEdit(values.name.left(kThemeNameMax), this);
  name_->setMaxLength(kThemeNameMax);
  auto* nameLabel = new QLabel(QStringLiteral("&Name:"), this);
  nameLabel->setBuddy(name_);
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(name_, 0, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Colors:"), this), 1, 0, Qt::AlignTop);
  preview_ = new ThemePreview(this);
  preview_->setMinimumSize(200, 50);
  grid->addWidget(preview_, 1, 1, 2, 1);
  textButton_ = new QPushButton(QStringLiteral("&Text"), this);
  backgroundButton_ = new QPushButton(QStringLiteral("&Background"), this);
  textButton_->setAutoDefault(false);
  backgroundButton_->setAutoDefault(false);
  grid->addWidget(textButton_, 1, 2);
  grid->addWidget(backgroundButton_, 2, 2);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  grid->addWidget(buttons, 3, 0, 1, 3);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(textButton_, &QPushButton::clicked, this, [this] { ChooseColour(&text_); });
  connect(backgroundButton_, &QPushButton::clicked, this, [this] { ChooseColour(&background_); });
  preview_->SetColors(text_, background_);
}

void ThemeEditor::ChooseColour(QColor* colour) {
  // The chooser's custom colours are process-wide already: every run sees
  // the ones picked before.
  const QColor chosen =
      QColorDialog::getColor(*colour, this, QString(), QColorDialog::DontUseNativeDialog);
  if (!chosen.isValid()) return;  // cancelled
  *colour = chosen;
  preview_->SetColors(text_, background_);
}

ThemeEditValues ThemeEditor::values() const {
  return {name_->text().left(kThemeNameMax), text_, background_};
}

bool RunThemeEditor(QWidget* parent, ThemeEditValues* values) {
  ThemeEditor editor(parent, *values);
  if (editor.exec() != QDialog::Accepted) return false;
  *values = editor.values();
  return true;
}
