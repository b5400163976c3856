// The Options sheet's "Color" page: the list of colour themes (the first
// item standing for none), each drawn in its own colours, with Edit, Delete
// and New. The themes are loaded when the page is made and edited in
// memory; the sheet's OK writes them back (Cancel leaves the file as it
// was) and tells the caller which theme the document now uses.
#pragma once

#include <QListWidget>
#include <QString>
#include <QWidget>

#include "engine/runtime/core.h"
#include "engine/stores/settings_store.h"

class QPushButton;

class ColourPage : public QWidget {
 public:
  // store may be null (no settings store): the list holds only "none".
  ColourPage(QWidget* parent, EngineObject* store, std::uint16_t documentKey);
  ~ColourPage() override;

  void Edit();
  void New();
  void Delete();
  // The OK step: the key chosen and the themes written back. Call once.
  void Accept();

  std::uint16_t chosenKey() const { return chosenKey_; }
  // The document's theme is another one now, or its colours changed.
  bool changed() const { return changed_; }

  QListWidget* list() const { return list_; }
  QPushButton* editButton() const { return edit_; }
  QPushButton* deleteButton() const { return delete_; }
  QPushButton* newButton() const { return new_; }

 private:
  void Fill(int selectRow);
  QString NameOf(std::uint32_t index) const;
  void Message(const QString& text, bool error);

  EngineObject* store_;
  ColourThemeSet* set_ = nullptr;  // null: nothing loaded (or already written back)
  std::uint16_t documentKey_;
  std::uint16_t chosenKey_ = 0;
  bool changed_ = false;
  bool modified_ = false;  // the set differs from the file
  QListWidget* list_;
  QPushButton* edit_;
  QPushButton* delete_;
  QPushButton* new_;
};
