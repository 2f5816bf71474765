#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include "codepage.h"

namespace luvrin::files_testing {

// A temporary program folder to put show files in.
class ShowFolder {
 public:
  QString path() const { return dir_.path(); }
  QString path(const QString& name) const { return dir_.path() + u'/' + name; }
  void write(const QString& name, const QByteArray& bytes) const {
    QFile f(path(name));
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
  }
  void writeGbk(const QString& name, const QString& text) const { write(name, encodeGbk(text)); }

 private:
  QTemporaryDir dir_;
};

}  // namespace luvrin::files_testing
