#include "app/dialogs/annotation_dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>
#include <vector>

#include "app/core/annotation_rules.h"
#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "engine/runtime/allocator.h"
#include "engine/stores/annot_store.h"
#include "engine/view/text_view.h"

namespace AnnotationText {
const char* const kTextColumn = "Text";
const char* const kCommentColumn = "Comment";
const char* const kSelectFirst = "You must select an annotation first.";
const char* const kConfirmDelete = "Are you sure you want to delete the selected annotation?";
const char* const kConfirmDeleteAll = "Are you sure you want to delete all annotations?";
const char* const kFileDialogTitle = "Select Existing Annotations File or Enter New File Name";
const char* const kFileFilter = "Kelpo Annotations (*.kpa)";
const char* const kNotAnnotationsFile =
    "The file you selected is not an annotations file. Overwrite it?";
const char* const kTooLong = "Enter no more than %1 characters.";
}  // namespace AnnotationText

namespace {

// Annotation commands of the text view.
constexpr std::uint32_t kPathUnits = 261;  // a path of 260 units and its NUL

constexpr int kColourRole = Qt::UserRole;
constexpr int kSwatchMargin = 2;
constexpr int kNameGap = 8;

QString Caption() {
  return QStringLiteral("Kelpo");
}

QString ToQt(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQt(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<std::size_t>(text.size()));
}

void Warn(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, Caption(), text, QMessageBox::Ok, parent);
  box.exec();
}

bool Ask(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, Caption(), text, QMessageBox::Yes | QMessageBox::No, parent);
  return box.exec() == QMessageBox::Yes;
}

QPixmap Swatch(const QColor& colour, int height) {
  QPixmap pixmap(2 * height, height);
  pixmap.fill(colour);
  QPainter painter(&pixmap);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, pixmap.width() - 1, pixmap.height() - 1);
  return pixmap;
}

// A row of the list is one line: its line breaks show as blanks.
QString RowText(std::u16string text) {
  for (char16_t& c : text) {
    if (c == u'\n' || c == u'\r') c = u' ';
  }
  return ToQt(text);
}

// A cell's text, with its tip for when the column cuts it short.
void SetCell(QTreeWidgetItem* item, int column, const QString& text) {
  item->setText(column, text);
  item->setToolTip(column, text);
}

TextViewOps const& Tv(EngineObject* v) {
  return OpsOf<TextViewOps>(v);
}

}  // namespace

// ---------------------------------------------------------------------------

void AnnotationColourDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  const QPalette& palette = option.palette;
  const QColor background = palette.color(selected ? QPalette::Highlight : QPalette::Base);
  const QColor foreground = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
  painter->save();
  painter->fillRect(option.rect, background);
  const QRect inner =
      option.rect.adjusted(kSwatchMargin, kSwatchMargin, -kSwatchMargin, -kSwatchMargin);
  const QRect swatch(inner.left(), inner.top(), 2 * inner.height(), inner.height());
  painter->fillRect(swatch, index.data(kColourRole).value<QColor>());
  painter->setPen(foreground);
  painter->drawRect(swatch.adjusted(0, 0, -1, -1));
  const QRect name(swatch.right() + 1 + kNameGap, inner.top(),
                   std::max(0, inner.right() - swatch.right() - kNameGap), inner.height());
  painter->drawText(name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    index.data(Qt::DisplayRole).toString());
  if ((option.state & QStyle::State_HasFocus) != 0) {
    QStyleOptionFocusRect focus;
    focus.initFrom(option.widget);
    focus.rect = option.rect;
    focus.backgroundColor = background;
    QApplication::style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
  }
  painter->restore();
}

QSize AnnotationColourDelegate::sizeHint(const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  const QSize base = QStyledItemDelegate::sizeHint(option, index);
  const int height = std::max(base.height(), option.fontMetrics.height() + 2 * kSwatchMargin);
  const int width = 2 * kSwatchMargin + 2 * (height - 2 * kSwatchMargin) + kNameGap +
                    option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
  return {width, height};
}

// ---------------------------------------------------------------------------

AnnotationDialog::AnnotationDialog(const AnnotationDialogFields& fields, QWidget* parent)
    : QDialog(parent), fields_(fields) {
  setWindowTitle(QStringLiteral("Annotation"));
  text_ = new QPlainTextEdit(this);
  comment_ = new QPlainTextEdit(this);
  colour_ = new QComboBox(this);
  colour_->setItemDelegate(new AnnotationColourDelegate(colour_));
  const int swatchHeight = fontMetrics().height() - 2;
  for (const AnnotationColour& c : Annotation_ParsePalette(kAnnotationPaletteText)) {
    const QColor colour(c.red, c.green, c.blue);
    colour_->addItem(QIcon(Swatch(colour, swatchHeight)), QString::fromStdString(c.name));
    colour_->setItemData(colour_->count() - 1, colour, kColourRole);
  }
  colour_->setIconSize(QSize(2 * swatchHeight, swatchHeight));
  colour_->setCurrentIndex(Annotation_ShownColour(fields_.colour) - 1);

  // The widget shows a CR-LF pair as two breaks: each is one line feed.
  text_->setPlainText(
      ToQt(Annotation_TextFromEdit(Annotation_TextForEdit(fields_.text, fields_.joinLineBreaks))));
  comment_->setPlainText(ToQt(fields_.comment));

  auto* textLabel = new QLabel(QStringLiteral("&Text:"), this);
  textLabel->setBuddy(text_);
  auto* commentLabel = new QLabel(QStringLiteral("&Comment:"), this);
  commentLabel->setBuddy(comment_);
  auto* colourLabel = new QLabel(QStringLiteral("C&olor:"), this);
  colourLabel->setBuddy(colour_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &AnnotationDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* grid = new QGridLayout;
  grid->addWidget(textLabel, 0, 0, Qt::AlignTop);
  grid->addWidget(text_, 0, 1);
  grid->addWidget(commentLabel, 1, 0, Qt::AlignTop);
  grid->addWidget(comment_, 1, 1);
  grid->addWidget(colourLabel, 2, 0);
  auto* colourRow = new QHBoxLayout;
  colourRow->addWidget(colour_);
  colourRow->addStretch(1);
  grid->addLayout(colourRow, 2, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
  resize(380, 320);
}

void AnnotationDialog::accept() {
  for (QPlainTextEdit* edit : {text_, comment_}) {
    if (edit->toPlainText().size() > static_cast<qsizetype>(kAnnotationMaxEditChars)) {
      Warn(this, QString::fromUtf8(AnnotationText::kTooLong).arg(kAnnotationMaxEditChars));
      edit->setFocus();
      return;
    }
  }
  const int item = colour_->currentIndex();
  fields_.colour = item >= 0 && item < kAnnotationColourCount ? item + 1 : 1;
  fields_.text = Annotation_TextFromEdit(FromQt(text_->toPlainText()));
  fields_.comment = Annotation_TextFromEdit(FromQt(comment_->toPlainText()));
  QDialog::accept();
}

bool RunAnnotationDialog(QWidget* parent, AnnotationDialogFields* fields) {
  AnnotationDialog dialog(*fields, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  *fields = dialog.fields();
  return true;
}

// ---------------------------------------------------------------------------

AnnotationsDialog::AnnotationsDialog(KelpoDoc* doc, AnnotStore* store, QWidget* parent)
    : QDialog(parent), doc_(doc), store_(store) {
  setWindowTitle(QStringLiteral("Annotations"));
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSortingEnabled(false);
  list_->setUniformRowHeights(true);
  list_->setHeaderLabels({QString::fromUtf8(AnnotationText::kTextColumn),
                          QString::fromUtf8(AnnotationText::kCommentColumn)});
  list_->header()->setSectionsClickable(false);
  list_->header()->setStretchLastSection(true);

  viewEdit_ = new QPushButton(QStringLiteral("&View/Edit..."), this);
  goTo_ = new QPushButton(QStringLiteral("&Go To"), this);
  delete_ = new QPushButton(QStringLiteral("&Delete"), this);
  deleteAll_ = new QPushButton(QStringLiteral("Delete &All"), this);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  for (QPushButton* b : {viewEdit_, goTo_, delete_, deleteAll_})
    b->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {viewEdit_, goTo_, delete_, deleteAll_})
    buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  resize(520, 320);

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(viewEdit_, &QPushButton::clicked, this, &AnnotationsDialog::OnViewEdit);
  connect(goTo_, &QPushButton::clicked, this, &AnnotationsDialog::OnGoTo);
  connect(delete_, &QPushButton::clicked, this, &AnnotationsDialog::OnDelete);
  connect(deleteAll_, &QPushButton::clicked, this, &AnnotationsDialog::OnDeleteAll);

  Fill();
  // Each column half of the list less a vertical scroll bar.
  layout->activate();
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_);
  list_->setColumnWidth(0, std::max(40, (list_->width() - 2 * list_->frameWidth() - bar) / 2));
}

std::uint32_t AnnotationsDialog::Charset() const {
  return doc_ != nullptr ? doc_->state().encoding : 0;
}

void AnnotationsDialog::Fill() {
  list_->clear();
  std::uint16_t count = 0;
  if (store_ == nullptr || IsFailure(AnnotStore_GetCount(store_, &count))) return;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::array<char, kAnnotationListBytes + 1> text{}, comment{};
    AnnotEntry entry{};
    entry.text1 = text.data();
    entry.text1Size = kAnnotationListBytes;
    entry.text2 = comment.data();
    entry.text2Size = kAnnotationListBytes;
    if (IsFailure(AnnotStore_GetEntry(store_, i, 0, &entry))) break;  // the rows read so far
    auto* item = new QTreeWidgetItem(list_);
    SetCell(item, 0,
            RowText(Annotation_DecodeText(std::string_view(text.data(), entry.text1Size), Charset(),
                                          kAnnotationListChars)));
    SetCell(item, 1,
            RowText(Annotation_DecodeText(std::string_view(comment.data(), entry.text2Size),
                                          Charset(), kAnnotationListChars)));
  }
  if (list_->topLevelItemCount() > 0) {
    list_->setCurrentItem(list_->topLevelItem(0));
    list_->setFocus();
  }
}

int AnnotationsDialog::SelectedEntry() {
  QTreeWidgetItem* item = list_->currentItem();
  const int row = item != nullptr && item->isSelected() ? list_->indexOfTopLevelItem(item) : -1;
  std::uint16_t count = 0;
  if (row < 0) {
    Warn(this, QString::fromUtf8(AnnotationText::kSelectFirst));
    return -1;
  }
  if (store_ == nullptr || IsFailure(AnnotStore_GetCount(store_, &count)) || row >= count)
    return -1;
  return row;
}

void AnnotationsDialog::OnGoTo() {
  const int row = SelectedEntry();
  if (row < 0) return;
  chosen_ = row;
  done(kGoToResult);
}

void AnnotationsDialog::OnDelete() {
  const int row = SelectedEntry();
  if (row < 0) return;
  if (!Ask(this, QString::fromUtf8(AnnotationText::kConfirmDelete), QMessageBox::Question)) return;
  if (IsFailure(AnnotStore_DeleteEntries(store_, row))) {
    Fill();  // the list shows what the file still holds
    return;
  }
  delete list_->takeTopLevelItem(row);
  changed_ = true;
}

void AnnotationsDialog::OnDeleteAll() {
  std::uint16_t count = 0;
  if (store_ == nullptr || IsFailure(AnnotStore_GetCount(store_, &count)) || count == 0) return;
  if (!Ask(this, QString::fromUtf8(AnnotationText::kConfirmDeleteAll), QMessageBox::Question))
    return;
  if (IsFailure(AnnotStore_DeleteEntries(store_, -1))) {
    Fill();
    return;
  }
  list_->clear();
  changed_ = true;
}

void AnnotationsDialog::OnViewEdit() {
  const int row = SelectedEntry();
  if (row < 0) return;
  AnnotEntry entry{};
  entry.text1Size = kAnnotTextAll;  // the store allocates both texts
  entry.text2Size = kAnnotTextAll;
  if (IsFailure(AnnotStore_GetEntry(store_, row, 0, &entry))) return;
  struct Texts {
    AnnotEntry* e;
    ~Texts() {
      Engine_Free(e->text1);
      Engine_Free(e->text2);
    }
  } owned{&entry};
  AnnotationDialogFields fields;
  fields.text = Annotation_DecodeText(
      std::string_view(entry.text1 != nullptr ? entry.text1 : "", entry.text1Size), Charset(),
      kAnnotTextAll);
  fields.comment = Annotation_DecodeText(
      std::string_view(entry.text2 != nullptr ? entry.text2 : "", entry.text2Size), Charset(),
      kAnnotTextAll);
  fields.colour = entry.attribute2;
  fields.joinLineBreaks = false;
  if (!RunAnnotationDialog(this, &fields)) return;

  std::string text = Annotation_EncodeText(fields.text, Charset());
  std::string comment = Annotation_EncodeText(fields.comment, Charset());
  AnnotEntry update = entry;
  update.text1 = text.data();
  update.text1Size = static_cast<std::uint32_t>(text.size());
  update.text2 = comment.data();
  update.text2Size = static_cast<std::uint32_t>(comment.size());
  if (fields.colour != entry.attribute2) {
    update.attribute2 = static_cast<std::uint8_t>(fields.colour);
    changed_ = true;
  }
  if (IsFailure(AnnotStore_UpdateEntry(store_, row, &update))) {
    Fill();  // nothing was changed: show the stored entry again
    return;
  }
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item != nullptr) {
    SetCell(item, 0, RowText(Annotation_DecodeText(text, Charset(), kAnnotationListChars)));
    SetCell(item, 1, RowText(Annotation_DecodeText(comment, Charset(), kAnnotationListChars)));
  }
}

// ---------------------------------------------------------------------------

AnnotationSettingsDialog::AnnotationSettingsDialog(const std::u16string& documentPath,
                                                   const std::u16string& currentPath,
                                                   QWidget* parent)
    : QDialog(parent), documentPath_(documentPath), path_(currentPath) {
  setWindowTitle(QStringLiteral("Annotation Settings"));
  pathEdit_ = new QLineEdit(ToQt(path_), this);
  pathEdit_->setReadOnly(true);
  pathEdit_->setMinimumWidth(320);
  auto* label = new QLabel(QStringLiteral("&Annotations File:"), this);
  label->setBuddy(pathEdit_);
  select_ = new QPushButton(QStringLiteral("&Select File..."), this);
  disassociate_ = new QPushButton(QStringLiteral("&Disassociate File"), this);
  select_->setAutoDefault(false);
  disassociate_->setAutoDefault(false);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(select_, &QPushButton::clicked, this, &AnnotationSettingsDialog::OnSelectFile);
  connect(disassociate_, &QPushButton::clicked, this, &AnnotationSettingsDialog::OnDisassociate);

  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(select_);
  fileRow->addWidget(disassociate_);
  fileRow->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(pathEdit_);
  layout->addLayout(fileRow);
  layout->addWidget(buttons);
}

void AnnotationSettingsDialog::OnSelectFile() {
  QFileDialog dialog(this, QString::fromUtf8(AnnotationText::kFileDialogTitle));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // a new name is allowed
  dialog.setDefaultSuffix(QStringLiteral("kpa"));
  dialog.setNameFilters(
      {QString::fromUtf8(AnnotationText::kFileFilter), QStringLiteral("All Files (*)")});
  dialog.selectNameFilter(QString::fromUtf8(AnnotationText::kFileFilter));
  const QString initial = ToQt(Annotation_SuggestedFileName(path_, documentPath_));
  if (!initial.isEmpty()) {
    const QFileInfo info(initial);
    dialog.setDirectory(info.absolutePath());
    dialog.selectFile(info.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  (void)ChooseFile(FromQt(dialog.selectedFiles().constFirst()));
}

bool AnnotationSettingsDialog::ChooseFile(const std::u16string& chosen) {
  if (chosen.empty()) return false;
  if (Annotation_IsDocumentFile(chosen, documentPath_)) {
    Warn(this, QString::fromUtf8(Resource_String(StringId::AnnotationsFileIsDocument)));
    return false;
  }
  AnnotStore* store = nullptr;
  const StatusCode status = AnnotStore_Open(
      chosen.c_str(), static_cast<std::uint32_t>(chosen.size()), kAnnotOpenRead, &store);
  if (!IsFailure(status)) (void)AnnotStore_Close(store);  // a read-only look: nothing to save
  const AnnotationFileCheck check = Annotation_CheckOpenResult(status);
  if (check == AnnotationFileCheck::kOtherFile &&
      !Ask(this, QString::fromUtf8(AnnotationText::kNotAnnotationsFile), QMessageBox::Warning)) {
    return false;
  }
  if (!Annotation_SamePath(chosen, path_)) {
    path_ = chosen;
    pathEdit_->setText(ToQt(path_));
    changed_ = true;
    replace_ = check == AnnotationFileCheck::kOtherFile;
  }
  return true;
}

void AnnotationSettingsDialog::accept() {
  if (changed_ && replace_) {
    // The other file is replaced in one step; when that fails it stays as
    // it was, and the dialog stays open for another choice.
    if (IsFailure(Annotation_ReplaceFile(path_))) {
      Warn(this, QString::fromUtf8(Resource_String(StringId::AnnotationsFileNotReplaced)));
      return;
    }
    replace_ = false;
  }
  QDialog::accept();
}

void AnnotationSettingsDialog::OnDisassociate() {
  path_.clear();
  pathEdit_->clear();
  changed_ = true;
  replace_ = false;
}

// ---------------------------------------------------------------------------

AnnotationsOutcome ExecAnnotationsDialog(QWidget* parent, KelpoDoc* doc, AnnotStore* store) {
  AnnotationsDialog dialog(doc, store, parent);
  AnnotationsOutcome outcome;
  const int result = dialog.exec();
  outcome.changed = dialog.changed();
  if (result == AnnotationsDialog::kGoToResult) outcome.goToRow = dialog.chosenRow();
  return outcome;
}

bool ExecAnnotationSettingsDialog(QWidget* parent, const std::u16string& documentPath,
                                  std::u16string* path) {
  AnnotationSettingsDialog dialog(documentPath, *path, parent);
  if (dialog.exec() != QDialog::Accepted || !dialog.changed()) return false;
  *path = dialog.path();
  return true;
}

void RunAnnotationsDialog(QWidget* parent, KelpoDoc* doc, EngineObject* tv,
                          const std::function<void()>& redraw) {
  if (tv == nullptr) return;
  AnnotStore* store = nullptr;
  if (IsFailure(Tv(tv).annotCommand(tv, TextViewAnnot::StoreOf, 0, &store))) store = nullptr;
  const AnnotationsOutcome outcome = ExecAnnotationsDialog(parent, doc, store);
  if (outcome.goToRow >= 0) {
    (void)Tv(tv).annotCommand(tv, TextViewAnnot::GoTo, static_cast<std::uint32_t>(outcome.goToRow),
                              nullptr);  // a note that cannot be reached leaves the page
    redraw();
  } else if (outcome.changed) {
    redraw();
  }
}

void RunAnnotationSettingsDialog(QWidget* parent, KelpoDoc* doc, EngineObject* tv,
                                 const std::function<void()>& redraw) {
  if (tv == nullptr || doc == nullptr) return;
  std::array<char16_t, kPathUnits> current{};
  if (IsFailure(Tv(tv).annotCommand(tv, TextViewAnnot::GetPath, kPathUnits, current.data())))
    return;
  std::u16string path(current.data());
  if (!ExecAnnotationSettingsDialog(parent, doc->path(), &path)) return;
  if (path.empty()) {
    (void)Tv(tv).annotCommand(tv, TextViewAnnot::SetPath, 0,
                              nullptr);  // detaching cannot fail usefully
  } else {
    (void)Tv(tv).annotCommand(tv, TextViewAnnot::SetPath, static_cast<std::uint32_t>(path.size()),
                              const_cast<char16_t*>(path.c_str()));
    // Opens the store so the handler marks its annotations; a file not made
    // yet is created by the first annotation.
    (void)Tv(tv).annotCommand(tv, TextViewAnnot::StoreOf, 0, nullptr);
  }
  redraw();
}
