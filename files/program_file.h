#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace luvrin {

// Resolves a file name from a hand-written catalogue against the program folder. "\" separates
// folders (catalogues come from Windows); a name not found as written is looked up without
// regard to letter case. The name is always relative to the folder, as on Windows: a leading
// separator is dropped and ".." climbs from the folder. A name with a drive letter or a stream
// (any ":") gives nullopt.
std::optional<QString> resolveProgramFile(const QString& folder, const QString& name);

// Reads a whole file of at most maxBytes; nullopt when missing, unreadable or larger.
std::optional<QByteArray> readSmallFile(const QString& path, qint64 maxBytes);

}  // namespace luvrin
