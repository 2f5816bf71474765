#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <optional>

#include "log_categories.h"
#include "regular_file.h"

namespace luvrin {

// Resolves a file name from a hand-written catalogue against the program folder. "\" separates
// folders (catalogues come from Windows); a name not found as written is looked up without
// regard to letter case. The name is always relative to the folder, as on Windows: a leading
// separator is dropped and ".." climbs from the folder. A name with a drive letter or a stream
// (any ":") gives nullopt.
std::optional<QString> resolveProgramFile(const QString& folder, const QString& name);

// A whole file read, or why it could not be.
struct FileRead {
  enum class Failure { None, Missing, Unreadable, TooLarge, NotRegular };

  QByteArray bytes;
  Failure failure = Failure::None;
  // The system's words for an unreadable file; empty otherwise.
  QString error;
  // The version of the file that was read.
  platform::FileStamp stamp;

  explicit operator bool() const { return failure == Failure::None; }
  const QByteArray& operator*() const { return bytes; }
  const QByteArray* operator->() const { return &bytes; }
};

// "missing", "unreadable", "too large", "not a regular file" or "read": for logs.
QString describeFailure(FileRead::Failure failure);
// The same for the user: "不存在", "太大", ...
QString describeFailureForUser(FileRead::Failure failure);

// Reads a whole regular file of at most maxBytes; its open never waits (platform/regular_file.h).
// A file that is there but refused is a fault the user must see: it is warned of on log, which
// reaches the user's log file. A missing file is not: the callers know what its absence means.
FileRead readSmallFile(const QString& path, qint64 maxBytes,
                       const QLoggingCategory& log = lcFiles());

}  // namespace luvrin
