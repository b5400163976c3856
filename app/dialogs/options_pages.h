// The Options sheet's pages other than "Color": plain holders of the sheet's
// values, filled by Load and read back by Store.
#pragma once

#include <QWidget>
#include <array>

#include "app/core/options_values.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QSpinBox;
class FontPreview;
class RegionCtrl;

class DisplayPage : public QWidget {
 public:
  explicit DisplayPage(QWidget* parent);
  // Fills the encoding list too: the single "Specified by document" item
  // when the document names its encoding, else the charsets offered, with
  // the one in use selected (the first when it is none of them).
  void Load(const OptionsValues& values);
  void Store(OptionsValues* values) const;

  QComboBox* size;
  QButtonGroup* sizeMode;
  QCheckBox* bold;
  QButtonGroup* location;
  QButtonGroup* layout;
  QButtonGroup* alignment;
  QCheckBox* alsoDefaults;
  QComboBox* encoding;

 private:
  bool encodingFixed_ = false;
  std::uint32_t encodingId_ = 0;
};

class ScrollPage : public QWidget {
 public:
  explicit ScrollPage(QWidget* parent);
  void Load(const OptionsValues& values);
  void Store(OptionsValues* values) const;

  QButtonGroup* autoscroll;
  QComboBox* screenUp;
  QComboBox* screenDown;
  QComboBox* keyUp;
  QComboBox* keyDown;
  QComboBox* keyLeft;
  QComboBox* keyRight;
  QCheckBox* fullScreenBar;
};

class RegionPage : public QWidget {
 public:
  explicit RegionPage(QWidget* parent);
  void Load(const OptionsValues& values);
  void Store(OptionsValues* values) const;

  RegionCtrl* control;
  std::array<QComboBox*, 4> actions{};
};

class FontPage : public QWidget {
 public:
  explicit FontPage(QWidget* parent);
  void Load(const OptionsValues& values);
  void Store(OptionsValues* values) const;

  // The handlers of the page's lists (also what a choice in them runs).
  void ChooseFamily(int family);
  void ChooseFont(int item);
  void UpdatePreview();

  QComboBox* family;
  QComboBox* font;
  QComboBox* size;
  QCheckBox* bold;
  QCheckBox* italic;
  FontPreview* preview;

 private:
  std::array<QString, 4> faces_;
};

class SettingsPage : public QWidget {
 public:
  explicit SettingsPage(QWidget* parent);
  void Load(const OptionsValues& values);
  void Store(OptionsValues* values) const;

  QComboBox* mode;
  QSpinBox* maxKB;
};
