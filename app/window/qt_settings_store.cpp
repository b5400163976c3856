#include "app/window/qt_settings_store.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <string>

#include "app/window/local_files.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/stream.h"

namespace {

QString Key(std::string_view subkey, std::string_view name) {
  return QString::fromUtf8(subkey.data(), static_cast<qsizetype>(subkey.size())) + u'/' +
         QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

// Whether a value read back from the file is the one stored: the file keeps
// texts, so a list of one text comes back as the text, an empty one as
// nothing.
bool SameValue(const QVariant& stored, const QVariant& read) {
  if (stored == read) return true;
  if (stored.typeId() == QMetaType::QByteArray || read.typeId() == QMetaType::QByteArray)
    return false;
  return stored.toStringList() == read.toStringList();
}

EngineObject* FileSys() {
  return g_FileSysModule != nullptr ? g_FileSysModule : &FileSysModule;
}

}  // namespace

QtSettingsStore::QtSettingsStore() {
  const QSettings file(QStringLiteral("Kelpo"), QStringLiteral("Kelpo"));
  path_ = file.fileName();
  work_ = LocalFile_NewWorkingFile();
  if (work_.isEmpty()) {
    // Without a working copy nothing can be checked before the file is
    // replaced: the values stay in memory and every save fails.
    settings_ = std::make_unique<QSettings>(QString(), QSettings::IniFormat);
  } else {
    settings_ = std::make_unique<QSettings>(work_, QSettings::IniFormat);
  }
  for (const QString& key : file.allKeys())
    settings_->setValue(key, file.value(key));
}

QtSettingsStore::~QtSettingsStore() {
  settings_.reset();
  if (!work_.isEmpty()) QFile::remove(work_);
}

bool QtSettingsStore::Save() {
  if (Check()) return true;
  // The toolkit keeps the first error of a settings object for good: the
  // values go on in a new one over a new working copy.
  auto values = std::make_unique<QSettings>(QString(), QSettings::IniFormat);
  const QString old = work_;
  work_ = LocalFile_NewWorkingFile();
  if (!work_.isEmpty()) values = std::make_unique<QSettings>(work_, QSettings::IniFormat);
  for (const QString& key : settings_->allKeys())
    values->setValue(key, settings_->value(key));
  settings_ = std::move(values);
  if (!old.isEmpty()) QFile::remove(old);
  return false;
}

bool QtSettingsStore::Check() {
  if (work_.isEmpty()) return false;
  settings_->sync();
  if (settings_->status() != QSettings::NoError) return false;
  // The copy as it reached the disk must hold every value. It is read under
  // a name of its own: under the working copy's name the toolkit would answer
  // from what it holds in memory.
  const QString check = LocalFile_NewWorkingFile();
  if (check.isEmpty() || !QFile::remove(check) || !QFile::link(work_, check)) {
    if (!check.isEmpty()) QFile::remove(check);
    return false;
  }
  bool same = false;
  {
    const QSettings written(check, QSettings::IniFormat);
    const QStringList keys = settings_->allKeys();
    same = written.status() == QSettings::NoError && written.allKeys().size() == keys.size();
    for (qsizetype i = 0; same && i < keys.size(); ++i)
      same = SameValue(settings_->value(keys[i]), written.value(keys[i]));
  }
  QFile::remove(check);
  if (!same) return false;
  QFile copy(work_);
  if (!copy.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = copy.readAll();
  if (copy.error() != QFileDevice::NoError || bytes.size() > 0x7FFFFFFF) return false;
  const std::u16string folder = QFileInfo(path_).absolutePath().toStdU16String();
  const std::u16string target = path_.toStdU16String();
  if (IsFailure(FileSys_CreateFolderPath(FileSys(), folder.c_str()))) return false;
  return FileSys_ReplaceFile(FileSys(), target.c_str(), bytes.constData(),
                             static_cast<std::uint32_t>(bytes.size())) == kOk;
}

bool QtSettingsStore::Exists() const {
  return !settings_->allKeys().isEmpty();
}

bool QtSettingsStore::ReadBinary(std::string_view subkey, std::string_view name,
                                 std::vector<std::uint8_t>* out) const {
  const QVariant v = settings_->value(Key(subkey, name));
  if (v.typeId() != QMetaType::QByteArray) return false;
  const QByteArray bytes = v.toByteArray();
  out->assign(bytes.begin(), bytes.end());
  return true;
}

bool QtSettingsStore::ReadU32(std::string_view subkey, std::string_view name,
                              std::uint32_t* out) const {
  const QVariant v = settings_->value(Key(subkey, name));
  if (!v.isValid() || v.typeId() == QMetaType::QByteArray) return false;
  bool ok = false;
  const qulonglong n = v.toString().toULongLong(&ok);
  if (!ok || n > 0xFFFFFFFFull) return false;
  *out = static_cast<std::uint32_t>(n);
  return true;
}

bool QtSettingsStore::ReadString(std::string_view subkey, std::string_view name,
                                 std::string* out) const {
  const QVariant v = settings_->value(Key(subkey, name));
  if (v.typeId() != QMetaType::QString) return false;
  *out = v.toString().toStdString();
  return true;
}

bool QtSettingsStore::WriteBinary(std::string_view subkey, std::string_view name,
                                  const std::uint8_t* data, std::size_t size) {
  settings_->setValue(Key(subkey, name), QByteArray(reinterpret_cast<const char*>(data),
                                                    static_cast<qsizetype>(size)));
  return true;
}

bool QtSettingsStore::WriteU32(std::string_view subkey, std::string_view name,
                               std::uint32_t value) {
  settings_->setValue(Key(subkey, name), QString::number(value));
  return true;
}

bool QtSettingsStore::WriteString(std::string_view subkey, std::string_view name,
                                  std::string_view value) {
  settings_->setValue(Key(subkey, name),
                      QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
  return true;
}
