#pragma once

#include <QByteArray>
#include <QString>
#include <limits>
#include <optional>

namespace luvrin {

// Resolves a file name from a hand-written catalogue against the program folder. "\" separates
// folders (catalogues come from Windows); a name not found as written is looked up without
// regard to letter case. The name is always relative to the folder, as on Windows: a leading
// separator is dropped and ".." climbs from the folder. A name with a drive letter or a stream
// (any ":") gives nullopt.
std::optional<QString> resolveProgramFile(const QString& folder, const QString& name);

// A whole file read, or why it could not be.
struct FileRead {
  enum class Failure { None, Missing, Unreadable, TooLarge };

  QByteArray bytes;
  Failure failure = Failure::None;
  // The system's words for an unreadable file; empty otherwise.
  QString error;

  explicit operator bool() const { return failure == Failure::None; }
  const QByteArray& operator*() const { return bytes; }
  const QByteArray* operator->() const { return &bytes; }
};

// "missing", "unreadable", "too large" or "read": for logs.
QString describeFailure(FileRead::Failure failure);

// No limit but what memory allows.
inline constexpr qint64 kAnyFileSize = std::numeric_limits<qint64>::max() - 1;

// Reads a whole file of at most maxBytes.
FileRead readSmallFile(const QString& path, qint64 maxBytes);

}  // namespace luvrin
