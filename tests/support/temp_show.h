#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <initializer_list>
#include <utility>

namespace luvrin::testing {

// A temporary program folder with a GBK 串口配置.ini holding the given keys (none: no file).
class TempShow {
 public:
  explicit TempShow(std::initializer_list<std::pair<QString, QString>> settings = {});
  QString programFolder() const { return dir_.path(); }
  QString path(const QString& name) const { return dir_.path() + u'/' + name; }
  // Writes bytes to a file of the folder.
  void writeFile(const QString& name, const QByteArray& bytes) const;
  // Writes a GBK 场景.ini with section [DMX] and the given lines.
  void writeCatalog(std::initializer_list<QString> lines) const;

 private:
  QTemporaryDir dir_;
};

// Text with CR LF, written as "\r\n" in tests.
QString crlf(const char* text);

}  // namespace luvrin::testing
