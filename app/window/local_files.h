// Names of local files as the reader holds them. File names on this system
// are bytes, and not every name is valid UTF-8; the toolkit's own conversions
// turn such bytes into U+FFFD and the file can then no longer be reached. The
// reader keeps a name's bytes whole instead, the way the engine does: bytes
// that are not valid UTF-8 become the lone code units U+DC80-U+DCFF, one per
// byte, and go back out as those bytes. Such a name is shown with U+FFFD in
// their place, and is kept in the settings file as its bytes.
//
// Every question about a named file (does it exist, is it a folder, where
// does it really lead) is asked of the system with the name's bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The name of the file whose bytes are given (a command-line argument, a
// listing entry).
QString LocalFile_FromBytes(const QByteArray& bytes);
// The bytes of a name; false when it holds a code unit that stands for no
// byte (a lone surrogate outside U+DC80-U+DCFF).
bool LocalFile_ToBytes(const QString& name, QByteArray* bytes);
// Whether the name holds bytes that are not valid UTF-8.
bool LocalFile_HasUndecodedBytes(const QString& name);
// The name as shown to the user: each undecodable byte as U+FFFD, '/'
// separators as the system writes them.
QString LocalFile_Shown(const QString& name);
// The last part of the name, as shown.
QString LocalFile_ShownFileName(const QString& name);
// Where the name really leads (links and "." and ".." resolved); for a name
// that does not exist, the name made absolute and cleaned.
QString LocalFile_Canonical(const QString& name);

// What the system answers about a named file.
struct LocalFileStatus {
  bool exists = false;
  bool folder = false;
  bool regular = false;
  int error = 0;  // errno of the failed look-up; 0 when it exists
};
LocalFileStatus LocalFile_Status(const QString& name);
// Opens the file for reading and closes it again: 0 when it can be read, else
// the errno. A pipe or a device is never waited on.
int LocalFile_ReadError(const QString& name);
// The system's text for an errno.
QString LocalFile_ErrorText(int error);

// A name as the settings file keeps it: text when it is valid Unicode, its
// bytes otherwise (text would lose them).
QVariant LocalFile_ToSetting(const QString& name);
QString LocalFile_FromSetting(const QVariant& value);

// A name typed or chosen as shown (U+FFFD standing for bytes that are not
// UTF-8, as the toolkit's file dialog and the reader's messages give it) that
// does not exist as such: the one file in its folder whose shown name it is.
// Empty when there is none, or more than one.
QString LocalFile_FindShown(const QString& shown);

// A new empty file in the engine's private temporary folder (swept at the
// next start when this process is killed, unlike a toolkit temporary file);
// empty when none can be made. The caller removes it when done.
QString LocalFile_NewWorkingFile();
