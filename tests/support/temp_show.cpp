#include "temp_show.h"

#include <QFile>

#include "codepage.h"

namespace luvrin::testing {

TempShow::TempShow(std::initializer_list<std::pair<QString, QString>> settings) {
  if (settings.size() == 0) return;
  QString text = QStringLiteral("[串口配置]\r\n");
  for (const auto& [key, value] : settings) text += key + u'=' + value + QStringLiteral("\r\n");
  writeFile(QStringLiteral("串口配置.ini"), encodeGbk(text));
}

void TempShow::writeFile(const QString& name, const QByteArray& bytes) const {
  QFile f(path(name));
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

void TempShow::writeCatalog(std::initializer_list<QString> lines) const {
  QString text = QStringLiteral("[DMX]\r\n");
  for (const QString& line : lines) text += line + QStringLiteral("\r\n");
  writeFile(QStringLiteral("场景.ini"), encodeGbk(text));
}

QString crlf(const char* text) { return QString::fromUtf8(text); }

}  // namespace luvrin::testing
