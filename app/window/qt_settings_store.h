// The settings key on QSettings (organisation and application "Kelpo"; on
// Linux ~/.config/Kelpo/Kelpo.conf). Binary values are byte arrays; numbers
// and texts come back from the file as texts, so a u32 is read from either.
#pragma once

#include <QSettings>

#include "app/core/prefs.h"

class QtSettingsStore : public KeyValueStore {
 public:
  QtSettingsStore();
  bool Exists() const override;
  bool ReadBinary(std::string_view subkey, std::string_view name,
                  std::vector<std::uint8_t>* out) const override;
  bool ReadU32(std::string_view subkey, std::string_view name, std::uint32_t* out) const override;
  bool ReadString(std::string_view subkey, std::string_view name, std::string* out) const override;
  bool WriteBinary(std::string_view subkey, std::string_view name, const std::uint8_t* data,
                   std::size_t size) override;
  bool WriteU32(std::string_view subkey, std::string_view name, std::uint32_t value) override;
  bool WriteString(std::string_view subkey, std::string_view name, std::string_view value) override;
  QSettings& settings() { return settings_; }

 private:
  mutable QSettings settings_;
};
