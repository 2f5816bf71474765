#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <QtGlobal>
#include <optional>

class QFile;

// The one way the programs open a file to read it. The show's files are written by hand and
// may be anything: a FIFO, whose open would wait for a writer for ever, a device that never
// ends (/dev/zero), a sparse file of gigabytes. Only regular files are opened, the open never
// waits, and nothing is read past the caller's limit.
namespace luvrin::platform {

// What tells one version of a file from another: a write changes the size or the times, a
// replacement the identity (device and inode; volume and file index on Windows).
struct FileStamp {
  quint64 volume = 0;
  quint64 index = 0;
  qint64 size = 0;
  qint64 modifiedNs = 0;  // since 1970, UTC
  qint64 changedNs = 0;   // the inode's change time where there is one, else 0
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

enum class FileRefusal {
  None,
  Missing,
  NotRegular,  // a folder, a FIFO, a device, a socket; or a link where links are refused
  Unreadable,
  TooLarge,
};

// Links to a regular file are followed for the show's files; a file that is copied onto
// others (the template launcher) must be the file itself; a file that other names share as
// well (a hard link: the hand-off file) must be its own, or what is read is another file's.
enum class Links { Follow, Refuse, RefuseShared };

struct OpenedFile {
  FileRefusal refusal = FileRefusal::None;
  QString error;  // the system's words, for Missing and Unreadable
  FileStamp stamp;
  QFileDevice::Permissions permissions;
};

// Opens file (a fresh QFile) for reading on path when path is a regular file; the stamp and
// permissions are those of the file that was opened. On any refusal file stays closed.
OpenedFile openRegularFile(const QString& path, QFile& file, Links links = Links::Follow);

// The stamp of the regular file at path now, links followed; nullopt for anything else.
std::optional<FileStamp> regularFileStamp(const QString& path);

struct RegularFileRead {
  QByteArray bytes;  // empty unless the whole file was read
  FileRefusal refusal = FileRefusal::None;
  QString error;
  FileStamp stamp;
  QFileDevice::Permissions permissions;
  explicit operator bool() const { return refusal == FileRefusal::None; }
};

// Reads a whole regular file of at most maxBytes; a larger one is refused unread where its
// size tells, or after maxBytes + 1 bytes where it grows while being read.
RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, Links links = Links::Follow);

// Puts the written file from in the place of to in one step (a reader sees the old file or the
// new one), after its bytes reached the disk. Whatever to is (a symbolic or hard link too) is
// itself replaced; what it pointed at, or shared its contents, is not touched.
bool replaceFile(const QString& from, const QString& to);

// A line for the user's log saying why the file at path was not read, and what was expected
// of it ("" for None and Missing, which are not faults).
QString refusalMessage(const QString& path, FileRefusal refusal, qint64 maxBytes,
                       const QString& error = QString());

}  // namespace luvrin::platform
