#include "app/window/qt_settings_store.h"

#include <QByteArray>
#include <QString>

namespace {

QString Key(std::string_view subkey, std::string_view name) {
  return QString::fromUtf8(subkey.data(), static_cast<qsizetype>(subkey.size())) + u'/' +
         QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

QtSettingsStore::QtSettingsStore() : settings_(QStringLiteral("Kelpo"), QStringLiteral("Kelpo")) {}

bool QtSettingsStore::Exists() const {
  return !settings_.allKeys().isEmpty();
}

bool QtSettingsStore::ReadBinary(std::string_view subkey, std::string_view name,
                                 std::vector<std::uint8_t>* out) const {
  const QVariant v = settings_.value(Key(subkey, name));
  if (v.typeId() != QMetaType::QByteArray) return false;
  const QByteArray bytes = v.toByteArray();
  out->assign(bytes.begin(), bytes.end());
  return true;
}

bool QtSettingsStore::ReadU32(std::string_view subkey, std::string_view name,
                              std::uint32_t* out) const {
  const QVariant v = settings_.value(Key(subkey, name));
  if (!v.isValid() || v.typeId() == QMetaType::QByteArray) return false;
  bool ok = false;
  const qulonglong n = v.toString().toULongLong(&ok);
  if (!ok || n > 0xFFFFFFFFull) return false;
  *out = static_cast<std::uint32_t>(n);
  return true;
}

bool QtSettingsStore::ReadString(std::string_view subkey, std::string_view name,
                                 std::string* out) const {
  const QVariant v = settings_.value(Key(subkey, name));
  if (v.typeId() != QMetaType::QString) return false;
  *out = v.toString().toStdString();
  return true;
}

bool QtSettingsStore::WriteBinary(std::string_view subkey, std::string_view name,
                                  const std::uint8_t* data, std::size_t size) {
  settings_.setValue(Key(subkey, name),
                     QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  settings_.sync();
  return settings_.status() == QSettings::NoError;
}

bool QtSettingsStore::WriteU32(std::string_view subkey, std::string_view name,
                               std::uint32_t value) {
  settings_.setValue(Key(subkey, name), QString::number(value));
  settings_.sync();
  return settings_.status() == QSettings::NoError;
}

bool QtSettingsStore::WriteString(std::string_view subkey, std::string_view name,
                                  std::string_view value) {
  settings_.setValue(Key(subkey, name),
                     QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
  settings_.sync();
  return settings_.status() == QSettings::NoError;
}
