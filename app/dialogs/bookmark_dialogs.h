// The bookmark dialogs: Add Bookmark, Edit Bookmarks and Rename Bookmark.
//
// They never open a bookmark store themselves: every read and change goes
// through the text view's position-list command, which keeps the Local list
// in the document's settings database and the Document and Global lists in
// the document file (through its handler). A change to a list in the
// document file first reopens the document for writing, once per run of the
// edit dialog. Names travel as UTF-16 here and as at most 31 bytes of the
// document's charset in the engine (see app/core/bookmark_rules.h).
#pragma once

#include <QDialog>
#include <cstdint>

#include "engine/runtime/core.h"

class KelpoDoc;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Message texts of the bookmark dialogs.
namespace BookmarkText {
extern const char* const kReplaceExisting;     // %s: the name; Yes/No
extern const char* const kReadOnlyDocument;    // Document and Global on a read-only file
extern const char* const kNameExists;          // %s: the name
extern const char* const kConfirmAlphabetize;  // Yes/No
extern const char* const kConfirmDeleteAll;    // Yes/No
}  // namespace BookmarkText

// "Add Bookmark": a name and the kind of list it goes to.
class AddBookmarkDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AddBookmarkDialog(QWidget* parent = nullptr);
  void setName(const QString& name);
  QString name() const;
  void setKind(int kind);
  int kind() const;  // -1 until a kind is chosen
  QLineEdit* nameEdit() const { return name_; }
  QComboBox* kindBox() const { return kind_; }

 private:
  QLineEdit* name_;
  QComboBox* kind_;
};

// "Rename Bookmark": one name.
class RenameBookmarkDialog : public QDialog {
  Q_OBJECT

 public:
  explicit RenameBookmarkDialog(QWidget* parent = nullptr);
  void setName(const QString& name);
  QString name() const;
  QLineEdit* nameEdit() const { return name_; }

 private:
  QLineEdit* name_;
};

// "Edit Bookmarks": the bookmarks of one kind, with Up/Down, Rename,
// Alphabetize, Delete and Delete All.
class EditBookmarksDialog : public QDialog {
  Q_OBJECT

 public:
  EditBookmarksDialog(KelpoDoc* doc, EngineObject* textView, int kind, QWidget* parent = nullptr);

  int kind() const { return kind_; }
  // The list as the engine has it now (also after every change).
  void FillList();

  QComboBox* kindBox() const { return kindBox_; }
  QListWidget* list() const { return list_; }
  QPushButton* upButton() const { return up_; }
  QPushButton* downButton() const { return down_; }
  QPushButton* renameButton() const { return rename_; }
  QPushButton* alphabetizeButton() const { return alphabetize_; }
  QPushButton* deleteButton() const { return delete_; }
  QPushButton* deleteAllButton() const { return deleteAll_; }

 private:
  void OnKindChosen(int index);
  void OnMove(bool up);
  void OnRename();
  void OnAlphabetize();
  void OnDelete();
  void OnDeleteAll();
  void UpdateButtons();
  bool ListWritable() const;
  // Reopens the document for writing before the first change to a list in
  // the document file; false abandons the change.
  bool EnsureWritable();
  StatusCode Command(std::uint16_t operation, std::uint32_t argument, void* io) const;

  KelpoDoc* doc_;
  EngineObject* textView_;
  int kind_;
  int list_number_ = -1;
  std::uint16_t maxNameLength_ = 15;
  bool reopened_ = false;  // the document was reopened for writing in this run

  QComboBox* kindBox_;
  QListWidget* list_;
  QLabel* moveLabel_;
  QPushButton* up_;
  QPushButton* down_;
  QPushButton* rename_;
  QPushButton* alphabetize_;
  QPushButton* delete_;
  QPushButton* deleteAll_;
};

// The Add Bookmark command on a document and its text view: the dialog,
// preset with the text at the reading position and the kind last used, then
// the new bookmark (or, for a name that exists and the user's Yes, the old
// one moved to the reading position).
void RunAddBookmarkDialog(QWidget* parent, KelpoDoc* doc, EngineObject* textView);
// The Edit Bookmarks command.
void RunEditBookmarksDialog(QWidget* parent, KelpoDoc* doc, EngineObject* textView);
// Runs Rename Bookmark on name; true with the new name on Rename.
bool RunRenameBookmarkDialog(QWidget* parent, QString* name);
