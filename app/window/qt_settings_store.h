// The settings key on QSettings (organisation and application "Kelpo"; on
// Linux ~/.config/Kelpo/Kelpo.conf). Binary values are byte arrays; numbers
// and texts come back from the file as texts, so a u32 is read from either.
//
// The file is never written by the toolkit in place: the values live in a
// working copy in the engine's private temporary folder, and each save checks
// that copy against the values (a short write, a full disk or a failed flush
// shows there) and then replaces the settings file in one step through the
// engine, whose every write and flush is checked. Whatever fails, the old
// file stays whole and the save answers false.
#pragma once

#include <QSettings>
#include <QString>
#include <memory>

#include "app/core/prefs.h"

class QtSettingsStore : public KeyValueStore {
 public:
  QtSettingsStore();
  ~QtSettingsStore() override;
  QtSettingsStore(const QtSettingsStore&) = delete;
  QtSettingsStore& operator=(const QtSettingsStore&) = delete;
  bool Exists() const override;
  bool ReadBinary(std::string_view subkey, std::string_view name,
                  std::vector<std::uint8_t>* out) const override;
  bool ReadU32(std::string_view subkey, std::string_view name, std::uint32_t* out) const override;
  bool ReadString(std::string_view subkey, std::string_view name, std::string* out) const override;
  // Writes keep the value for the next Save (Commit).
  bool WriteBinary(std::string_view subkey, std::string_view name, const std::uint8_t* data,
                   std::size_t size) override;
  bool WriteU32(std::string_view subkey, std::string_view name, std::uint32_t value) override;
  bool WriteString(std::string_view subkey, std::string_view name, std::string_view value) override;
  bool Commit() override { return Save(); }
  // Puts every value into the settings file in one step; false, with the old
  // file untouched, when any part of that failed.
  bool Save();
  // The values; changes made here reach the file with the next Save.
  QSettings& settings() { return *settings_; }
  // The settings file.
  const QString& fileName() const { return path_; }

 private:
  // Save's work: the working copy checked, then the file replaced.
  bool Check();

  QString path_;
  QString work_;  // the working copy; empty when none could be made
  std::unique_ptr<QSettings> settings_;
};
