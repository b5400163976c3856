#include "app/dialogs/doc_info_dialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "app/dialogs/info_date_text.h"

namespace {

QString Text(std::uint32_t id) {
  return QString::fromUtf8(Resource_String(id));
}
QString Wide(const std::u16string& text) {
  return QString::fromStdU16String(text);
}
QString OrUnknown(const std::u16string& text) {
  return text.empty() ? Text(StringId::Unknown) : Wide(text);
}

QLineEdit* ReadOnlyEdit(const QString& text, QWidget* parent) {
  auto* edit = new QLineEdit(text, parent);
  edit->setReadOnly(true);
  edit->setCursorPosition(0);
  return edit;
}

QLabel* PlainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

CPPDocInfoMessage::CPPDocInfoMessage(const QString& text, QWidget* parent) : QWidget(parent) {
  text_ = PlainLabel(text, this);
  text_->setObjectName(QStringLiteral("text"));
  text_->setWordWrap(true);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_, 1);
}

CPPDocInfoGeneral::CPPDocInfoGeneral(const DocInfoGeneral& info, QWidget* parent)
    : QWidget(parent) {
  title_ = ReadOnlyEdit(Wide(info.title), this);
  path_ = ReadOnlyEdit(Wide(info.path), this);
  date_ = PlainLabel(info.date ? InfoDateText(*info.date, info.dateIsUtc, QStringLiteral("  "))
                               : Text(StringId::Unknown),
                     this);
  type_ = PlainLabel(OrUnknown(info.type), this);
  size_ = PlainLabel(info.size ? Wide(DocInfo_SizeText(*info.size)) : QString(), this);
  encoding_ = PlainLabel(OrUnknown(info.encoding), this);
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("Title:"), title_);
  form->addRow(QStringLiteral("Path:"), path_);
  form->addRow(QStringLiteral("Date:"), date_);
  form->addRow(QStringLiteral("Type:"), type_);
  form->addRow(QStringLiteral("Size:"), size_);
  form->addRow(QStringLiteral("Text encoding:"), encoding_);
}

QString CPPDocInfoGeneral::title() const {
  return title_->text();
}
QString CPPDocInfoGeneral::path() const {
  return path_->text();
}
QString CPPDocInfoGeneral::date() const {
  return date_->text();
}
QString CPPDocInfoGeneral::type() const {
  return type_->text();
}
QString CPPDocInfoGeneral::size() const {
  return size_->text();
}
QString CPPDocInfoGeneral::encoding() const {
  return encoding_->text();
}

CPSDocInfo::CPSDocInfo(const std::vector<DocInfoPage>& pages, const DocInfoGeneral& general,
                       QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(Text(StringId::DocInfoCaption));
  tabs_ = new QTabWidget(this);
  for (const DocInfoPage& page : pages)
    tabs_->addTab(new CPPDocInfoMessage(Wide(page.text), tabs_), Text(page.captionId));
  general_ = new CPPDocInfoGeneral(general, tabs_);
  tabs_->addTab(general_, QStringLiteral("General"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addWidget(buttons);
  resize(420, 320);
}

CSystemInfoDlg::CSystemInfoDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("System Information"));
  SysInfoMemory memory;
  const bool known = SysInfo_Memory(&memory);
  free_ = PlainLabel(known ? Wide(SysInfo_MemoryText(memory.freeBytes)) : QString(), this);
  total_ = PlainLabel(known ? Wide(SysInfo_MemoryText(memory.totalBytes)) : QString(), this);
  free_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  total_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* memoryBox = new QGroupBox(QStringLiteral("Memory:"), this);
  auto* grid = new QGridLayout(memoryBox);
  grid->addWidget(new QLabel(QStringLiteral("Free"), memoryBox), 0, 0);
  grid->addWidget(free_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Total"), memoryBox), 1, 0);
  grid->addWidget(total_, 1, 1);
  codePages_ = new QListWidget(this);
  for (const std::u16string& text : SysInfo_CharsetTexts())
    codePages_->addItem(Wide(text));
  auto* pagesLabel = new QLabel(QStringLiteral("Code Pages:"), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memoryBox);
  layout->addWidget(pagesLabel);
  layout->addWidget(codePages_, 1);
  layout->addWidget(buttons);
  resize(280, 340);
}

QString CSystemInfoDlg::freeMemory() const {
  return free_->text();
}
QString CSystemInfoDlg::totalMemory() const {
  return total_->text();
}

void RunDocInfoDialog(QWidget* view, KelpoDoc* doc) {
  if (doc == nullptr) return;
  DocOpenState& state = doc->state();
  const std::u16string title =
      QFileInfo(QString::fromStdU16String(doc->path())).fileName().toStdU16String();
  CPSDocInfo sheet(
      DocInfo_MessagePages(state.reader, state.encoding),
      DocInfo_General(state.reader, state.container, state.probeResult, doc->path(), title), view);
  sheet.exec();
}

void RunSysInfoDialog(QWidget* parent) {
  CSystemInfoDlg dialog(parent);
  dialog.exec();
}
