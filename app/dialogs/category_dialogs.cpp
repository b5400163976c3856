#include "app/dialogs/category_dialogs.h"

#include <QCheckBox>
#include <QCollator>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>

#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <algorithm>

#include "app/core/category_tree.h"
#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "app/dialogs/info_date_text.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/dict.h"

namespace {

constexpr int kIdRole = Qt::UserRole;

QString Text(std::uint32_t id) {
  return QString::fromUtf8(Resource_String(id));
}
QString TextWithName(std::uint32_t id, const QString& name) {
  QString text = Text(id);
  text.replace(QStringLiteral("%s"), name);
  return text;
}

void Exclaim(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Kelpo"), text, QMessageBox::Ok, parent);
  box.exec();
}
void Error(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Kelpo"), text, QMessageBox::Ok, parent);
  box.exec();
}
bool AskYesNo(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Kelpo"), text,
                  QMessageBox::Yes | QMessageBox::No, parent);
  return box.exec() == QMessageBox::Yes;
}

const SettingsOps& Store(EngineObject* s) {
  return OpsOf<SettingsOps>(s);
}

EngineObject* CategoryDictionary(EngineObject* store) {
  EngineObject* dict = nullptr;
  if (store == nullptr || IsFailure(Store(store).getCategorySet(store, &dict))) return nullptr;
  return dict;
}

std::uint16_t ItemId(const QTreeWidgetItem* item) {
  return static_cast<std::uint16_t>(item->data(0, kIdRole).toUInt());
}

int Depth(const QTreeWidgetItem* item) {
  int depth = 0;
  for (const QTreeWidgetItem* p = item->parent(); p != nullptr; p = p->parent())
    ++depth;
  return depth;
}

// The ticked ids of an item and its subtree (the item may be out of its tree).
void AddCheckedIds(const QTreeWidgetItem* item, std::vector<std::uint16_t>* ids) {
  if (item->checkState(0) == Qt::Checked) ids->push_back(ItemId(item));
  for (int i = 0; i < item->childCount(); ++i)
    AddCheckedIds(item->child(i), ids);
}

void ExpandAll(QTreeWidgetItem* item) {
  item->setExpanded(true);
  for (int i = 0; i < item->childCount(); ++i)
    ExpandAll(item->child(i));
}

// Fills a tree widget from the dictionary, every item expanded. False when
// the building stopped at a fault (the items before it stay).
bool FillTree(QTreeWidget* tree, EngineObject* dict, const std::vector<std::uint16_t>* checked) {
  std::vector<CategoryNode> nodes;
  const bool built = CategoryTree_BuildFromDict(dict, kDictNone, &nodes);
  std::vector<QTreeWidgetItem*> items;
  items.reserve(nodes.size());
  for (const CategoryNode& node : nodes) {
    auto* item = node.parent < 0
                     ? new QTreeWidgetItem(tree)
                     : new QTreeWidgetItem(items[static_cast<std::size_t>(node.parent)]);
    item->setText(0, QString::fromStdU16String(node.name));
    item->setData(0, kIdRole, node.id);
    if (checked != nullptr) {
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      const bool on = std::binary_search(checked->begin(), checked->end(), node.id);
      item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    }
    items.push_back(item);
  }
  for (QTreeWidgetItem* item : items)
    item->setExpanded(true);
  return built;
}

int CompareNamesInLocale(const std::u16string& a, const std::u16string& b) {
  static const QCollator collator = [] {
    QCollator c{QLocale::system()};
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
  }();
  const int order = collator.compare(QString::fromStdU16String(a), QString::fromStdU16String(b));
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// A tree of names without a header: its one column is as wide as its
// widest item, so a long name brings up the horizontal scroll bar instead of
// being cut off.
void ShowWholeNames(QTreeWidget* tree) {
  tree->setHeaderHidden(true);
  tree->header()->setStretchLastSection(false);
  tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

std::uint16_t g_lastCategory = kDictNone;

}  // namespace

QValidator::State CategoryNameValidator::validate(QString& input, int& pos) const {
  const std::u16string text = input.toStdU16String();
  if (CategoryName_Length(text) > kCategoryNameMax) {
    std::size_t cursor = static_cast<std::size_t>(std::max(pos, 0));
    input = QString::fromStdU16String(CategoryName_FitAt(text, &cursor));
    pos = static_cast<int>(cursor);
  }
  return Acceptable;
}

CNewCategoryDlg::CNewCategoryDlg(int depth, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("New Category"));
  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("name"));
  name_->setValidator(new CategoryNameValidator(name_));
  sub_ = new QCheckBox(QStringLiteral("&Sub-category"), this);
  sub_->setEnabled(depth >= 0 && depth <= kCategoryMaxSubDepth);
  auto* label = new QLabel(QStringLiteral("&Name:"), this);
  label->setBuddy(name_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(name_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(sub_);
  layout->addWidget(buttons);
  name_->setMinimumWidth(220);
}

QString CNewCategoryDlg::name() const {
  return name_->text();
}
void CNewCategoryDlg::setName(const QString& name) {
  name_->setText(name);
}
bool CNewCategoryDlg::subCategory() const {
  return sub_->isEnabled() && sub_->isChecked();
}

CRenameCategoryDlg::CRenameCategoryDlg(const QString& name, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Rename Category"));
  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("name"));
  name_->setValidator(new CategoryNameValidator(name_));
  name_->setText(name);
  name_->selectAll();
  auto* label = new QLabel(QStringLiteral("&Name:"), this);
  label->setBuddy(name_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("Rename"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(name_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  name_->setMinimumWidth(220);
}

QString CRenameCategoryDlg::name() const {
  return name_->text();
}
void CRenameCategoryDlg::setName(const QString& name) {
  name_->setText(name);
}

CCategoriesDlg::CCategoriesDlg(EngineObject* store, const std::uint16_t* documentList,
                               QWidget* parent)
    : QDialog(parent), store_(store), documentIds_(CategoryIds_Read(documentList)) {
  CategoryIds_Normalise(&documentIds_);
  setWindowTitle(QStringLiteral("Categories"));
  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("tree"));
  ShowWholeNames(tree_);
  tree_->setRootIsDecorated(true);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  new_ = new QPushButton(QStringLiteral("&New"), this);
  rename_ = new QPushButton(QStringLiteral("&Rename"), this);
  delete_ = new QPushButton(QStringLiteral("&Delete"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(ok_, &QPushButton::clicked, this, &CCategoriesDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CCategoriesDlg::reject);
  connect(new_, &QPushButton::clicked, this, &CCategoriesDlg::OnNew);
  connect(rename_, &QPushButton::clicked, this, &CCategoriesDlg::OnRename);
  connect(delete_, &QPushButton::clicked, this, &CCategoriesDlg::OnDelete);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {ok_, new_, rename_, delete_, cancel})
    buttons->addWidget(b);
  buttons->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addLayout(buttons);
  resize(360, 300);

  dict_ = CategoryDictionary(store_);
  BuildTree(documentIds_);
}

void CCategoriesDlg::BuildTree(const std::vector<std::uint16_t>& checked) {
  tree_->clear();
  if (dict_ == nullptr) return;
  // A tree that could not be built whole is not shown at all, and the
  // document's list is then left as it is: ticks read from part of the tree
  // would drop its other categories.
  if (!FillTree(tree_, dict_, &checked)) {
    tree_->clear();
    treeIncomplete_ = true;
  }
}

QTreeWidgetItem* CCategoriesDlg::FindItem(std::uint16_t id) const {
  for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it)
    if (ItemId(*it) == id) return *it;
  return nullptr;
}

bool CCategoriesDlg::PlaceItem(QTreeWidgetItem* item, std::uint16_t id) {
  std::uint16_t parentId = kDictNone, previousId = kDictNone;
  if (IsFailure(Dict_GetRelative(dict_, id, kDictParent, &parentId)) ||
      IsFailure(Dict_GetRelative(dict_, id, kDictPrevSibling, &previousId)))
    return false;
  QTreeWidgetItem* parent = parentId == kDictNone ? nullptr : FindItem(parentId);
  if (parentId != kDictNone && parent == nullptr) return false;
  QTreeWidgetItem* previous = previousId == kDictNone ? nullptr : FindItem(previousId);
  if (parent != nullptr) {
    parent->insertChild(previous ? parent->indexOfChild(previous) + 1 : 0, item);
    parent->setExpanded(true);
  } else {
    tree_->insertTopLevelItem(previous ? tree_->indexOfTopLevelItem(previous) + 1 : 0, item);
  }
  return true;
}

void CCategoriesDlg::OnNew() {
  if (dict_ == nullptr) return;
  QTreeWidgetItem* selected = tree_->currentItem();
  const std::uint32_t selectedId = selected ? ItemId(selected) : 0xFFFFFFFFu;
  CNewCategoryDlg dialog(selected ? Depth(selected) : -1, this);
  QString name;
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return;
    name = dialog.name();
    const CategoryNameCheck check = CategoryName_Check(name.toStdU16String());
    if (check == CategoryNameCheck::Empty) return;
    if (check == CategoryNameCheck::Ok) break;
    Error(this, Text(StringId::CategorySlash));
  }
  const std::u16string wide = name.toStdU16String();
  std::uint16_t id = kDictNone;
  const StatusCode added =
      Store(store_).lookupCategory(store_, wide.c_str(), selectedId, dialog.subCategory(), &id);
  if (added == kDictNameExists) {
    Exclaim(this, TextWithName(StringId::CategoryExists, name));
    return;
  }
  if (IsFailure(added)) {
    Error(this, QStringLiteral("NewCat"));
    return;
  }
  auto* item = new QTreeWidgetItem;
  item->setText(0, name);
  item->setData(0, kIdRole, id);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(0, Qt::Unchecked);
  if (!PlaceItem(item, id)) {
    // The category is in the dictionary; showing the tree afresh shows it.
    delete item;
    BuildTree(CollectChecked());
    item = FindItem(id);
    if (item == nullptr) return;
  }
  tree_->setCurrentItem(item);
  tree_->scrollToItem(item);
}

void CCategoriesDlg::OnRename() {
  if (dict_ == nullptr) return;
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr) {
    Exclaim(this, Text(StringId::CategoryNoSelection));
    return;
  }
  const std::uint16_t id = ItemId(item);
  CRenameCategoryDlg dialog(item->text(0), this);
  QString name;
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return;
    name = dialog.name();
    const CategoryNameCheck check = CategoryName_Check(name.toStdU16String());
    if (check == CategoryNameCheck::Empty) return;
    if (check == CategoryNameCheck::Ok) break;
    Error(this, Text(StringId::CategorySlash));
  }
  std::uint16_t previousBefore = kDictNone, previousAfter = kDictNone, conflict = kDictNone;
  if (IsFailure(Dict_GetRelative(dict_, id, kDictPrevSibling, &previousBefore))) {
    Error(this, QStringLiteral("RenCat"));
    return;
  }
  const std::u16string wide = name.toStdU16String();
  const StatusCode renamed = Dict_Rename(dict_, id, nullptr, wide.c_str(), 1, &conflict);
  if (renamed == kDictNameExists) {
    Exclaim(this, TextWithName(StringId::CategoryExists, name));
    return;
  }
  if (IsFailure(renamed) ||
      IsFailure(Dict_GetRelative(dict_, id, kDictPrevSibling, &previousAfter))) {
    Error(this, QStringLiteral("RenCat"));
    return;
  }
  item->setText(0, name);
  if (previousAfter != previousBefore) {
    // Siblings are kept in name order: the item moves with its sub-categories
    // and every tick made in this dialog.
    QTreeWidgetItem* parent = item->parent();
    if (parent != nullptr)
      parent->takeChild(parent->indexOfChild(item));
    else
      tree_->takeTopLevelItem(tree_->indexOfTopLevelItem(item));
    if (!PlaceItem(item, id)) {
      // The ticks of the item's subtree count too.
      std::vector<std::uint16_t> checked = CollectChecked();
      AddCheckedIds(item, &checked);
      CategoryIds_Normalise(&checked);
      delete item;
      BuildTree(checked);
      item = FindItem(id);
      if (item == nullptr) return;
    }
    ExpandAll(item);
  }
  tree_->setCurrentItem(item);
  tree_->scrollToItem(item);
}

void CCategoriesDlg::OnDelete() {
  if (dict_ == nullptr) return;
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr) {
    Exclaim(this, Text(StringId::CategoryNoSelection));
    return;
  }
  if (!AskYesNo(this, TextWithName(StringId::CategoryAskDelete, item->text(0)))) return;
  std::vector<std::uint16_t> removed;
  for (QTreeWidgetItemIterator it(item); *it != nullptr; ++it) {
    if (*it != item && Depth(*it) <= Depth(item)) break;
    removed.push_back(ItemId(*it));
  }
  if (IsFailure(Store(store_).purgeCategoryIds(store_, ItemId(item)))) {
    Error(this, QStringLiteral("DelCat"));
    return;
  }
  delete item;
  // The store took the ids out of every document's stored list, this one's
  // included; a later category may reuse them.
  std::erase_if(documentIds_, [&](std::uint16_t id) {
    return std::find(removed.begin(), removed.end(), id) != removed.end();
  });
}

std::vector<std::uint16_t> CCategoriesDlg::CollectChecked() const {
  std::vector<std::uint16_t> ids;
  for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it)
    if ((*it)->checkState(0) == Qt::Checked) ids.push_back(ItemId(*it));
  // Collected in tree order; stored lists are ascending (they are searched
  // by bisection).
  CategoryIds_Normalise(&ids);
  return ids;
}

void CCategoriesDlg::SaveDictionary() {
  // A dictionary that cannot be written keeps its edits in memory and is
  // written again with the next change; nothing stored is lost.
  if (store_ != nullptr && dict_ != nullptr) (void)Store(store_).saveCategories(store_);
}

void CCategoriesDlg::accept() {
  SaveDictionary();
  const std::vector<std::uint16_t> checked = CollectChecked();
  if (treeIncomplete_ || CategoryIds_Same(checked, documentIds_)) {
    result_.reset();
    QDialog::reject();  // nothing to write
    return;
  }
  result_ = CategoryIds_ToList(checked);
  QDialog::accept();
}

void CCategoriesDlg::reject() {
  SaveDictionary();
  result_.reset();
  QDialog::reject();
}

COpenCategorizedDlg::COpenCategorizedDlg(EngineObject* store, QWidget* parent)
    : QDialog(parent), store_(store) {
  setWindowTitle(QStringLiteral("Open Categorized"));
  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("tree"));
  ShowWholeNames(tree_);
  auto* treeLabel = new QLabel(QStringLiteral("&Categories:"), this);
  treeLabel->setBuddy(tree_);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("list"));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setAllColumnsShowFocus(true);
  list_->setHeaderLabels(
      {Text(StringId::ColumnName), Text(StringId::ColumnSize), Text(StringId::ColumnDateModified)});
  list_->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  list_->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  list_->header()->setSectionsClickable(true);
  list_->header()->setStretchLastSection(false);
  open_ = new QPushButton(QStringLiteral("&Open"), this);
  open_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(open_, &QPushButton::clicked, this, &COpenCategorizedDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &COpenCategorizedDlg::reject);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
  connect(list_->header(), &QHeaderView::sectionClicked, this,
          &COpenCategorizedDlg::OnColumnClicked);

  auto* left = new QVBoxLayout;
  left->addWidget(treeLabel);
  left->addWidget(tree_, 1);
  auto* top = new QHBoxLayout;
  top->addLayout(left, 2);
  top->addWidget(list_, 5);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(open_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(buttons);
  resize(640, 360);
  list_->setColumnWidth(1, 70);
  list_->setColumnWidth(2, 120);
  FitColumns();

  if (EngineObject* dict = CategoryDictionary(store_)) (void)FillTree(tree_, dict, nullptr);
  connect(tree_, &QTreeWidget::currentItemChanged, this, &COpenCategorizedDlg::OnCategoryChanged);
  for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
    if (ItemId(*it) == g_lastCategory) {
      tree_->setCurrentItem(*it);
      break;
    }
  }
}

COpenCategorizedDlg::~COpenCategorizedDlg() {
  ReleaseList();
}

std::uint16_t COpenCategorizedDlg::lastCategory() {
  return g_lastCategory;
}

void COpenCategorizedDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FitColumns();
}

void COpenCategorizedDlg::FitColumns() {
  list_->resizeColumnToContents(2);
  list_->setColumnWidth(2, std::max(120, list_->columnWidth(2)));
  list_->setColumnWidth(
      0, std::max(60, list_->viewport()->width() - list_->columnWidth(1) - list_->columnWidth(2)));
}

void COpenCategorizedDlg::ReleaseList() {
  if (store_ != nullptr && names_ != nullptr) (void)Store(store_).freeList(store_, names_);
  names_ = nullptr;
  count_ = 0;
  rows_.clear();
}

void COpenCategorizedDlg::OnCategoryChanged() {
  ReleaseList();
  list_->clear();
  if (store_ == nullptr) return;
  QTreeWidgetItem* item = tree_->currentItem();
  const std::uint32_t id = item ? ItemId(item) : kDictNone;
  if (IsFailure(Store(store_).listDocumentsInCategory(store_, id, &count_, &names_))) {
    names_ = nullptr;
    count_ = 0;
    return;
  }
  for (std::uint32_t i = 0; i < count_; ++i) {
    char16_t path[kPathBufferSize] = {};
    std::uint32_t size = kPathBufferSize;
    DateTime date{};
    std::uint32_t fileSize = 0;
    if (IsFailure(Store(store_).getDocumentInfo(store_, names_[i], path, &size, &date, &fileSize,
                                                nullptr)))
      continue;
    rows_.push_back({CategorySort_FileName(path), fileSize, date, i});
  }
  SortRows();
}

void COpenCategorizedDlg::OnColumnClicked(int column) {
  sortKey_ = CategorySort_KeyAfterClick(sortKey_, column);
  SortRows();
}

void COpenCategorizedDlg::SortRows() {
  std::stable_sort(rows_.begin(), rows_.end(),
                   [this](const CategoryDocRow& a, const CategoryDocRow& b) {
                     return CategorySort_Less(sortKey_, a, b, CompareNamesInLocale);
                   });
  list_->clear();
  for (const CategoryDocRow& row : rows_) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, QString::fromStdU16String(row.name));
    item->setText(1, QString::fromStdU16String(CategorySort_SizeText(row.size)));
    item->setText(2, InfoDateText(row.date, true, QStringLiteral(" ")));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(0, kIdRole, row.index);
  }
  FitColumns();
}

void COpenCategorizedDlg::RememberCategory() {
  QTreeWidgetItem* item = tree_->currentItem();
  g_lastCategory = item ? ItemId(item) : kDictNone;
}

void COpenCategorizedDlg::accept() {
  QTreeWidgetItem* row = list_->currentItem();
  if (row == nullptr || !row->isSelected() || store_ == nullptr) return;
  const std::uint32_t index = row->data(0, kIdRole).toUInt();
  if (index >= count_) return;
  char16_t path[kPathBufferSize] = {};
  std::uint32_t size = kPathBufferSize;
  if (IsFailure(Store(store_).getDocumentInfo(store_, names_[index], path, &size, nullptr, nullptr,
                                              nullptr)))
    return;
  path_ = path;
  ReleaseList();
  RememberCategory();
  QDialog::accept();
}

void COpenCategorizedDlg::reject() {
  ReleaseList();
  RememberCategory();
  QDialog::reject();
}

void RunCategoriesDialog(QWidget* view, KelpoDoc* doc) {
  if (doc == nullptr) return;
  EngineObject* store = doc->context().store;
  const char16_t* settingsPath = doc->state().localSettings.path;
  const bool hasSettings = store != nullptr && settingsPath[0] != u'\0';

  // The store fills this buffer when the list fits, else it hands back a
  // block of its own.
  std::uint16_t buffer[129] = {128};
  std::uint16_t* list = buffer;
  if (hasSettings && IsFailure(Store(store).getDocumentCategories(store, settingsPath, &list))) {
    // A list that is there but cannot be read is not replaced by one made
    // without it.
    Error(view, QStringLiteral("The categories of this document could not be read."));
    return;
  }
  if (!hasSettings) list = nullptr;
  CCategoriesDlg dialog(store, list, view);
  if (list != buffer) Engine_Free(list);
  if (dialog.exec() != QDialog::Accepted || !dialog.result() || store == nullptr) return;
  StatusCode saved = kOk;
  if (hasSettings) {
    saved = Store(store).setDocumentCategories(store, settingsPath, dialog.result()->data());
  } else {
    // The document's settings could not be opened when it was: the ticks
    // are kept under the settings file made for it now, where its next
    // opening finds them.
    LocalSettings made{};
    saved = Store(store).openDocument(store, doc->path().c_str(), 1, &made);
    if (!IsFailure(saved)) {
      saved = Store(store).setDocumentCategories(store, made.path, dialog.result()->data());
      (void)Store(store).closeDocument(store, &made, 0);  // nothing written through it
    }
  }
  if (IsFailure(saved))
    Error(view, QStringLiteral("The categories of this document could not be saved."));
}

std::u16string RunOpenByCategoryDialog(QWidget* parent, EngineObject* store) {
  COpenCategorizedDlg dialog(store, parent);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.path();
}
