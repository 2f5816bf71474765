#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

namespace luvrin {

// The script file form: one quoted field and CR LF, in GBK.
QByteArray scriptFileBytes(const QString& script);
// The first text field of a file's text: after leading blanks, a quoted field runs to the next
// double quote (line breaks included); otherwise the field runs to the first comma or line end.
QString firstTextField(QStringView text);
// Reads a script file's bytes (GBK, or UTF-8) into its script; nullopt when it holds no field.
std::optional<QString> readScriptFile(const QByteArray& bytes);

// Script files larger than this are refused: no script is that large, and a wrong file must not
// exhaust memory.
inline constexpr qint64 kMaxScriptFileBytes = 16 * 1024 * 1024;

}  // namespace luvrin
