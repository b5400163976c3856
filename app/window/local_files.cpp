#include "app/window/local_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/runtime/path.h"
#include "engine/runtime/stream.h"

namespace {

bool IsHigh(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Whether the unit at i is a surrogate without its partner.
bool Lone(const QString& s, qsizetype i) {
  const char16_t c = s[i].unicode();
  if (IsHigh(c)) return i + 1 >= s.size() || !IsLow(s[i + 1].unicode());
  if (IsLow(c)) return i == 0 || !IsHigh(s[i - 1].unicode());
  return false;
}

// The system's answers need NUL-terminated bytes; a name that has none for
// some unit is answered with the toolkit's own conversion.
QByteArray SystemName(const QString& name) {
  QByteArray bytes;
  return LocalFile_ToBytes(name, &bytes) ? bytes : QFile::encodeName(name);
}

}  // namespace

QString LocalFile_FromBytes(const QByteArray& bytes) {
  if (bytes.isEmpty()) return {};
  if (static_cast<std::size_t>(bytes.size()) >= UINT32_MAX / 2) return QString::fromUtf8(bytes);
  const auto length = static_cast<std::uint32_t>(bytes.size());
  // Every byte gives at most one code unit.
  QString out(static_cast<qsizetype>(length) + 1, Qt::Uninitialized);
  std::uint32_t units = 0;
  if (Path_Utf8ToUtf16(bytes.constData(), length, reinterpret_cast<char16_t*>(out.data()),
                       length + 1, &units) != kOk)
    return QString::fromUtf8(bytes);
  out.truncate(static_cast<qsizetype>(units));
  return out;
}

bool LocalFile_ToBytes(const QString& name, QByteArray* bytes) {
  bytes->clear();
  if (name.isEmpty()) return true;
  if (static_cast<std::size_t>(name.size()) >= UINT32_MAX / 4) return false;
  const auto* units = reinterpret_cast<const char16_t*>(name.utf16());
  const auto length = static_cast<std::uint32_t>(name.size());
  std::uint32_t needed = 0;
  if (Path_Utf16ToUtf8(units, length, nullptr, 0, &needed) != kOk) return false;
  QByteArray out(static_cast<qsizetype>(needed) + 1, '\0');
  if (Path_Utf16ToUtf8(units, length, out.data(), needed + 1, &needed) != kOk) return false;
  out.truncate(static_cast<qsizetype>(needed));
  *bytes = std::move(out);
  return true;
}

bool LocalFile_HasUndecodedBytes(const QString& name) {
  for (qsizetype i = 0; i < name.size(); ++i)
    if (Lone(name, i)) return true;
  return false;
}

QString LocalFile_Shown(const QString& name) {
  QString shown = name;
  for (qsizetype i = 0; i < shown.size(); ++i)
    if (Lone(name, i)) shown[i] = QChar(QChar::ReplacementCharacter);
  return QDir::toNativeSeparators(shown);
}

QString LocalFile_ShownFileName(const QString& name) {
  const QString shown = LocalFile_Shown(name);
  return shown.mid(shown.lastIndexOf(QDir::separator()) + 1);
}

QString LocalFile_Canonical(const QString& name) {
  if (name.isEmpty()) return {};
  QByteArray bytes;
  if (!LocalFile_ToBytes(name, &bytes)) {
    const QFileInfo info(name);
    return info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
  }
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(bytes.constData(), nullptr),
                                                         &std::free);
  if (real != nullptr) return LocalFile_FromBytes(QByteArray(real.get()));
  QString absolute = name;
  if (!name.startsWith(u'/')) {
    const std::unique_ptr<char, decltype(&std::free)> here(getcwd(nullptr, 0), &std::free);
    if (here != nullptr) absolute = LocalFile_FromBytes(QByteArray(here.get())) + u'/' + name;
  }
  return QDir::cleanPath(absolute);
}

LocalFileStatus LocalFile_Status(const QString& name) {
  LocalFileStatus status;
  struct stat st {};
  if (stat(SystemName(name).constData(), &st) != 0) {
    status.error = errno;
    return status;
  }
  status.exists = true;
  status.folder = S_ISDIR(st.st_mode);
  status.regular = S_ISREG(st.st_mode);
  return status;
}

int LocalFile_ReadError(const QString& name) {
  const int fd = open(SystemName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  (void)close(fd);  // opened only to learn that it can be
  return 0;
}

QString LocalFile_ErrorText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

QVariant LocalFile_ToSetting(const QString& name) {
  QByteArray bytes;
  if (LocalFile_HasUndecodedBytes(name) && LocalFile_ToBytes(name, &bytes)) return bytes;
  return name;
}

QString LocalFile_FromSetting(const QVariant& value) {
  if (value.typeId() == QMetaType::QByteArray) return LocalFile_FromBytes(value.toByteArray());
  return value.toString();
}

QString LocalFile_FindShown(const QString& shown) {
  if (!shown.contains(QChar(QChar::ReplacementCharacter))) return {};
  const qsizetype cut = shown.lastIndexOf(u'/');
  const QString folder = cut < 0    ? QStringLiteral(".")
                         : cut == 0 ? QStringLiteral("/")
                                    : shown.left(cut);
  const QString wanted = shown.mid(cut + 1);
  const std::unique_ptr<DIR, decltype(&closedir)> dir(opendir(SystemName(folder).constData()),
                                                      &closedir);
  if (dir == nullptr) return {};
  QString found;
  while (const dirent* entry = readdir(dir.get())) {
    const QString name = LocalFile_FromBytes(QByteArray(entry->d_name));
    if (!LocalFile_HasUndecodedBytes(name) || LocalFile_Shown(name) != wanted) continue;
    if (!found.isEmpty()) return {};  // two files look alike: neither is meant more
    found = name;
  }
  if (found.isEmpty()) return {};
  return (cut < 0 ? QString() : shown.left(cut + 1)) + found;
}

QString LocalFile_NewWorkingFile() {
  EngineObject* fileSys = g_FileSysModule != nullptr ? g_FileSysModule : &FileSysModule;
  char16_t name[kPathBufferSize] = {};
  EngineObject* stream = nullptr;
  if (FileSys_Open(fileSys, name, kPathBufferSize, kFileOpenTemporary, &stream) != kOk) return {};
  (void)StreamOf(stream).close(stream);  // nothing written
  return QString::fromUtf16(name);
}
