// The category dialogs: the reader files documents under categories kept as a
// tree of names in the settings store's category dictionary.
//
// CCategoriesDlg shows that tree with check boxes for the categories of one
// document, and makes, renames and deletes categories (with CNewCategoryDlg
// and CRenameCategoryDlg). COpenCategorizedDlg shows the tree beside the
// documents filed under the chosen category and answers the path of the one
// to open. Category edits reach the dictionary at once and its file when the
// dialog closes (OK or Cancel alike); the document's own list is written by
// the caller, and only when it changed.
#pragma once

#include <QDialog>
#include <QValidator>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/core/category_sort.h"
#include "engine/runtime/core.h"
#include "engine/stores/settings_store.h"

class KelpoDoc;
class QCheckBox;
class QShowEvent;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Keeps a category name within its characters: a character typed into a
// full name is refused and pasted text is cut to fit, at a character
// boundary (never inside a surrogate pair).
class CategoryNameValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override;
};

// "New Category": a name, and whether it goes under the selected category.
class CNewCategoryDlg : public QDialog {
 public:
  // depth: levels above the selected category (-1 when nothing is
  // selected); the sub-category check is offered only at depths 0 to 9.
  CNewCategoryDlg(int depth, QWidget* parent);
  QString name() const;
  void setName(const QString& name);
  bool subCategory() const;
  QLineEdit* nameEdit() const { return name_; }
  QCheckBox* subCategoryCheck() const { return sub_; }

 private:
  QLineEdit* name_;
  QCheckBox* sub_;
};

// "Rename Category": the new name of the selected category.
class CRenameCategoryDlg : public QDialog {
 public:
  CRenameCategoryDlg(const QString& name, QWidget* parent);
  QString name() const;
  void setName(const QString& name);
  QLineEdit* nameEdit() const { return name_; }

 private:
  QLineEdit* name_;
};

// "Categories": the tree with the document's categories ticked.
class CCategoriesDlg : public QDialog {
 public:
  // store may be null (no settings store): the tree stays empty and New,
  // Rename and Delete do nothing. documentList is the document's count-first
  // list (null for none).
  CCategoriesDlg(EngineObject* store, const std::uint16_t* documentList, QWidget* parent);

  // After exec() answered Accepted: the new count-first list, ascending.
  const std::optional<std::vector<std::uint16_t>>& result() const { return result_; }

  QTreeWidget* tree() const { return tree_; }
  QPushButton* newButton() const { return new_; }
  QPushButton* renameButton() const { return rename_; }
  QPushButton* deleteButton() const { return delete_; }
  QPushButton* okButton() const { return ok_; }

  void OnNew();
  void OnRename();
  void OnDelete();
  void accept() override;
  void reject() override;

 private:
  void BuildTree(const std::vector<std::uint16_t>& checked);
  QTreeWidgetItem* FindItem(std::uint16_t id) const;
  // Puts item under the item of the entry's parent, after the item of its
  // previous sibling in the dictionary (first when none).
  bool PlaceItem(QTreeWidgetItem* item, std::uint16_t id);
  std::vector<std::uint16_t> CollectChecked() const;
  void SaveDictionary();

  EngineObject* store_;
  EngineObject* dict_ = nullptr;
  std::vector<std::uint16_t> documentIds_;  // ascending
  std::optional<std::vector<std::uint16_t>> result_;
  bool treeIncomplete_ = false;  // the dictionary's listing could not be shown whole
  QTreeWidget* tree_;
  QPushButton* ok_;
  QPushButton* new_;
  QPushButton* rename_;
  QPushButton* delete_;
};

// "Open Categorized": the tree, and the documents of the chosen category.
class COpenCategorizedDlg : public QDialog {
 public:
  COpenCategorizedDlg(EngineObject* store, QWidget* parent);
  ~COpenCategorizedDlg() override;

  // After exec() answered Accepted: the document to open.
  const std::u16string& path() const { return path_; }
  int sortKey() const { return sortKey_; }

  QTreeWidget* tree() const { return tree_; }
  QTreeWidget* list() const { return list_; }
  QPushButton* openButton() const { return open_; }

  void accept() override;
  void reject() override;

  // The category chosen last while the program runs (0xFFFF: none).
  static std::uint16_t lastCategory();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Size 70 and date 120 pixels (wider when the locale's dates need it); the
  // name takes the rest.
  void FitColumns();
  void OnCategoryChanged();
  void OnColumnClicked(int column);
  void SortRows();
  void ReleaseList();
  void RememberCategory();

  EngineObject* store_;
  QTreeWidget* tree_;
  QTreeWidget* list_;
  QPushButton* open_;
  std::uint32_t count_ = 0;
  SettingsNameList names_ = nullptr;
  std::vector<CategoryDocRow> rows_;
  int sortKey_ = kSortNameUp;
  std::u16string path_;
};

// The Categories command: edits the categories of a document and writes its
// list when it changed.
void RunCategoriesDialog(QWidget* parent, KelpoDoc* doc);
// The Open Categorized command: the path of the document chosen (empty when
// none was).
std::u16string RunOpenByCategoryDialog(QWidget* parent, EngineObject* store);
