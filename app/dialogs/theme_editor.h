// The colour-theme editor ("Edit Color Theme"): a theme's name and its text
// and background colours, each chosen with the colour chooser. The chooser's
// custom colours are shared by every run while the program runs.
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;
class ThemePreview;

struct ThemeEditValues {
  QString name;
  QColor text = Qt::black;
  QColor background = Qt::white;
};

class ThemeEditor : public QDialog {
 public:
  ThemeEditor(QWidget* parent, const ThemeEditValues& values);
  ThemeEditValues values() const;

  QLineEdit* nameEdit() const { return name_; }
  QPushButton* textButton() const { return textButton_; }
  QPushButton* backgroundButton() const { return backgroundButton_; }
  ThemePreview* preview() const { return preview_; }

 private:
  void ChooseColour(QColor* colour);

  QLineEdit* name_;
  ThemePreview* preview_;
  QPushButton* textButton_;
  QPushButton* backgroundButton_;
  QColor text_;
  QColor background_;
};

// Runs the editor on *values; true and the edited values after OK.
bool RunThemeEditor(QWidget* parent, ThemeEditValues* values);
