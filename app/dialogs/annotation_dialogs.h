// The annotation dialogs: Annotation (one annotation's excerpt, comment and
// highlight colour), Annotations (every annotation of the open document,
// with View/Edit, Go To, Delete and Delete All) and Annotation Settings (the
// annotations file bound to the document).
//
// The entries live in the annotation store (engine/stores/annot_store.h),
// which the text view's annotation binding opens; its texts are bytes in the
// document's charset, shown here as UTF-16 (app/core/annotation_rules.h).
// Every change the store makes replaces its file in one step.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QStyledItemDelegate>
#include <cstdint>
#include <functional>
#include <string>

#include "app/core/annotation_rules.h"

struct AnnotStore;
struct EngineObject;
class KelpoDoc;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

// Message texts of the annotation dialogs.
namespace AnnotationText {
extern const char* const kTextColumn;
extern const char* const kCommentColumn;
extern const char* const kSelectFirst;
extern const char* const kConfirmDelete;     // Yes/No
extern const char* const kConfirmDeleteAll;  // Yes/No
extern const char* const kFileDialogTitle;
extern const char* const kFileFilter;
extern const char* const kNotAnnotationsFile;  // Yes/No
extern const char* const kTooLong;             // %1: the most characters
}  // namespace AnnotationText

// Draws a palette item: a swatch twice as wide as it is high, framed in the
// text colour, and the colour's name beside it.
class AnnotationColourDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// "Annotation".
class AnnotationDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AnnotationDialog(const AnnotationDialogFields& fields, QWidget* parent = nullptr);
  // The fields as accepted (line breaks back to single line feeds).
  const AnnotationDialogFields& fields() const { return fields_; }
  void accept() override;

  QPlainTextEdit* textEdit() const { return text_; }
  QPlainTextEdit* commentEdit() const { return comment_; }
  QComboBox* colourBox() const { return colour_; }

 private:
  AnnotationDialogFields fields_;
  QPlainTextEdit* text_;
  QPlainTextEdit* comment_;
  QComboBox* colour_;
};

// Runs the Annotation dialog on fields; true (fields updated) on OK.
bool RunAnnotationDialog(QWidget* parent, AnnotationDialogFields* fields);

// "Annotations". store may be null (the document has no annotations file).
class AnnotationsDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kGoToResult = 1133;
  AnnotationsDialog(KelpoDoc* doc, AnnotStore* store, QWidget* parent = nullptr);

  bool changed() const { return changed_; }
  int chosenRow() const { return chosen_; }  // Go To's row, -1 before

  QTreeWidget* list() const { return list_; }
  QPushButton* viewEditButton() const { return viewEdit_; }
  QPushButton* goToButton() const { return goTo_; }
  QPushButton* deleteButton() const { return delete_; }
  QPushButton* deleteAllButton() const { return deleteAll_; }

 private:
  void Fill();
  // The selected row when it names an entry; else says so and answers -1.
  int SelectedEntry();
  void OnViewEdit();
  void OnGoTo();
  void OnDelete();
  void OnDeleteAll();
  std::uint32_t Charset() const;

  KelpoDoc* doc_;
  AnnotStore* store_;
  bool changed_ = false;
  int chosen_ = -1;
  QTreeWidget* list_;
  QPushButton* viewEdit_;
  QPushButton* goTo_;
  QPushButton* delete_;
  QPushButton* deleteAll_;
};

// "Annotation Settings".
class AnnotationSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  AnnotationSettingsDialog(const std::u16string& documentPath, const std::u16string& currentPath,
                           QWidget* parent = nullptr);

  bool changed() const { return changed_; }
  const std::u16string& path() const { return path_; }
  // The chosen file is something other than an annotations file and the
  // user agreed to overwrite it: OK makes it a new, empty annotations file
  // (in one step) before the dialog closes.
  bool replaceFile() const { return replace_; }
  void accept() override;
  // What the file dialog's OK does with the chosen path: an annotations file
  // or a file not there yet is taken; any other file only after the user
  // agrees to overwrite it. True when the path was taken.
  bool ChooseFile(const std::u16string& chosen);

  QLineEdit* pathEdit() const { return pathEdit_; }
  QPushButton* selectButton() const { return select_; }
  QPushButton* disassociateButton() const { return disassociate_; }

 private:
  void OnSelectFile();
  void OnDisassociate();

  std::u16string documentPath_;
  std::u16string path_;
  bool changed_ = false;
  bool replace_ = false;
  QLineEdit* pathEdit_;
  QPushButton* select_;
  QPushButton* disassociate_;
};

// Runs the Annotations dialog on store (null: the document has none).
struct AnnotationsOutcome {
  bool changed = false;  // an annotation was edited or deleted: repaint
  int goToRow = -1;      // Go To was chosen on this entry
};
AnnotationsOutcome ExecAnnotationsDialog(QWidget* parent, KelpoDoc* doc, AnnotStore* store);
// Runs Annotation Settings for the document at documentPath on the current
// annotations file *path. True on OK with a change, *path then being the new
// file (empty: detach the file).
bool ExecAnnotationSettingsDialog(QWidget* parent, const std::u16string& documentPath,
                                  std::u16string* path);

// The View/Edit Annotations command on a document and its text view: the
// list, Go To's jump and redraw() after a change or a jump.
void RunAnnotationsDialog(QWidget* parent, KelpoDoc* doc, EngineObject* textView,
                          const std::function<void()>& redraw);
// The Annotation Settings command: the dialog, then the new file bound to
// the text view (an empty path detaches the file) and redraw().
void RunAnnotationSettingsDialog(QWidget* parent, KelpoDoc* doc, EngineObject* textView,
                                 const std::function<void()>& redraw);
