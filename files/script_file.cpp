#include "script_file.h"

#include "codepage.h"

namespace luvrin {

QByteArray scriptFileBytes(const QString& script) {
  return encodeGbk(QStringLiteral("\"") + script + QStringLiteral("\"\r\n"));
}

QString firstTextField(QStringView text) {
  qsizetype i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  if (i < text.size() && text[i] == u'"') {
    const qsizetype close = text.indexOf(u'"', i + 1);
    return (close < 0 ? text.mid(i + 1) : text.mid(i + 1, close - i - 1)).toString();
  }
  qsizetype end = i;
  while (end < text.size() && text[end] != u',' && text[end] != u'\r' && text[end] != u'\n') ++end;
  return text.mid(i, end - i).toString();
}

std::optional<QString> readScriptFile(const QByteArray& bytes) {
  const QString text = decodeFileText(bytes);
  qsizetype i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  if (i == text.size()) return std::nullopt;
  return firstTextField(text);
}

}  // namespace luvrin
