// The Find dialog: the search text (at most 31 characters), match case,
// entire document and the range (down, up, top to bottom). It only collects
// the request; the view searches.
#pragma once

#include <QDialog>

#include "app/core/find_options.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
struct Preferences;

class FindDialog : public QDialog {
  Q_OBJECT

 public:
  explicit FindDialog(QWidget* parent);

  void SetRequest(const QString& text, const FindRequest& request);
  QString text() const;
  FindRequest request() const;

  QLineEdit* textEdit() const { return text_; }
  QCheckBox* matchCaseBox() const { return matchCase_; }
  QCheckBox* entireDocumentBox() const { return entireDocument_; }
  QComboBox* rangeBox() const { return range_; }
  QPushButton* findButton() const { return find_; }

 private:
  QLineEdit* text_;
  QCheckBox* matchCase_;
  QCheckBox* entireDocument_;
  QComboBox* range_;
  QPushButton* find_;
};

// The Find dialog of a view, filled from the preferences (the live ones,
// which the view's document context also reads); on Find the request goes
// back into them and true is answered (the command then searches from where
// the view is). False when the dialog was cancelled or there is no view.
bool RunFindDialog(QWidget* parent, Preferences* prefs);
