#include "app/dialogs/find_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/core/prefs.h"

FindDialog::FindDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Find"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout();
  text_ = new QLineEdit(this);
  text_->setMaxLength(static_cast<int>(kFindTextMaxChars));
  auto* textLabel = new QLabel(QStringLiteral("&Find:"), this);
  textLabel->setBuddy(text_);
  form->addRow(textLabel, text_);
  layout->addLayout(form);
  matchCase_ = new QCheckBox(QStringLiteral("&Match case"), this);
  entireDocument_ = new QCheckBox(QStringLiteral("&Entire document"), this);
  layout->addWidget(matchCase_);
  layout->addWidget(entireDocument_);
  auto* rangeForm = new QFormLayout();
  range_ = new QComboBox(this);
  range_->addItems({QStringLiteral("Down"), QStringLiteral("Up"), QStringLiteral("Top to Bottom")});
  range_->setCurrentIndex(-1);  // none until a request is set
  auto* rangeLabel = new QLabel(QStringLiteral("&Range:"), this);
  rangeLabel->setBuddy(range_);
  rangeForm->addRow(rangeLabel, range_);
  layout->addLayout(rangeForm);
  auto* buttons = new QDialogButtonBox(this);
  find_ = buttons->addButton(QStringLiteral("Find"), QDialogButtonBox::AcceptRole);
  find_->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setMinimumWidth(300);
}

void FindDialog::SetRequest(const QString& text, const FindRequest& request) {
  text_->setText(text.left(static_cast<int>(kFindTextMaxChars)));
  text_->selectAll();
  matchCase_->setChecked(request.matchCase);
  entireDocument_->setChecked(request.entireDocument);
  range_->setCurrentIndex(static_cast<int>(request.range));
}

QString FindDialog::text() const {
  return text_->text();
}

FindRequest FindDialog::request() const {
  FindRequest r;
  r.matchCase = matchCase_->isChecked();
  r.entireDocument = entireDocument_->isChecked();
  const int range = range_->currentIndex();
  r.range = range == 1 ? FindRange::Up : range == 2 ? FindRange::TopToBottom : FindRange::Down;
  return r;
}

bool RunFindDialog(QWidget* view, Preferences* prefs) {
  if (prefs == nullptr) return false;
  FindDialog dialog(view);
  const std::u16string last = prefs->searchText();
  dialog.SetRequest(QString::fromStdU16String(last), FindOptions_Unpack(prefs->searchOptions()));
  if (dialog.exec() != QDialog::Accepted) return false;
  prefs->setSearchText(dialog.text().toStdU16String());
  prefs->setSearchOptions(FindOptions_Pack(dialog.request()));
  return true;
}
