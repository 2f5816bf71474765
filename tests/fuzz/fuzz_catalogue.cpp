// The launcher builder's catalogue load and generation over any 场景.ini, in a temporary
// installation nested a few folders deep, so that a name climbing out of the launcher folder
// would land where the check below sees it.
// Input: the catalogue's bytes. An input starting with "@" names the template launcher (the
// hand-off value, UTF-8) on its first line, and the catalogue follows.
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_check.h"
#include "launcher_builder.h"
#include "launcher_files.h"

namespace {

const QString kTemplate = QStringLiteral("LUVRINpREG");
const QByteArray kTemplateBytes("MZ\x90\0\r\n launcher \xff\xfe", 18);

struct Installation {
  Installation() {
    if (!root.isValid() || !QDir(root.path()).mkpath(QStringLiteral("a/b/show/驱动"))) std::abort();
    launcherFolder = root.path() + QStringLiteral("/a/b/show");
    driverFolder = launcherFolder + QStringLiteral("/驱动");
    QFile t(launcherFolder + u'/' + kTemplate + luvrin::launcherSuffix());
    if (!t.open(QIODevice::WriteOnly) || t.write(kTemplateBytes) != kTemplateBytes.size())
      std::abort();
    t.close();
    t.setPermissions(t.permissions() | QFileDevice::ExeOwner);
    QFile catalogue(driverFolder + QStringLiteral("/场景.ini"));
    if (!catalogue.open(QIODevice::WriteOnly)) std::abort();
    catalogue.close();
    expectedTree = tree();
  }

  // Every path below the root, files and folders.
  QSet<QString> tree() const {
    QSet<QString> all;
    QDirIterator it(root.path(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) all.insert(it.next());
    return all;
  }

  QTemporaryDir root;
  QString launcherFolder;
  QString driverFolder;
  QSet<QString> expectedTree;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Installation show;
  QByteArray catalogue(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  luvrin::TextBox handoff(kTemplate);
  if (catalogue.startsWith('@')) {
    const qsizetype eol = catalogue.indexOf('\n');
    handoff.setText(QString::fromUtf8(catalogue.mid(1, eol < 0 ? -1 : eol - 1)));
    catalogue = eol < 0 ? QByteArray() : catalogue.mid(eol + 1);
  }
  {
    QFile f(show.driverFolder + QStringLiteral("/场景.ini"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(catalogue) != catalogue.size())
      std::abort();
  }

  luvrin::Form2 builder(show.driverFolder, [&] { return handoff.text(); });
  builder.Command2_Click();

  // Every listed name comes from a line with "=", in file order; none holds a line break.
  FUZZ_CHECK(builder.List1.listCount() <= catalogue.count('=') + 1);
  for (const QString& name : builder.List1.items())
    FUZZ_CHECK(!name.contains(u'\r') && !name.contains(u'\n') && !name.contains(u'='));
  FUZZ_CHECK(builder.Text1.text().isEmpty() || builder.Text1.text().startsWith(u"\r\n"));

  // Nothing was written but launchers in the launcher folder, each a copy of the template.
  QSet<QString> listed;
  for (const QString& name : builder.List1.items())
    listed.insert(show.launcherFolder + u'/' + name + luvrin::launcherSuffix());
  const QSet<QString> now = show.tree();
  for (const QString& path : now) {
    if (show.expectedTree.contains(path)) continue;
    FUZZ_CHECK(listed.contains(path));
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly) && f.readAll() == kTemplateBytes);
  }
  FUZZ_CHECK(QFile(show.launcherFolder + u'/' + kTemplate + luvrin::launcherSuffix()).size() ==
             kTemplateBytes.size());

  // Back to the bare installation for the next input.
  for (const QString& path : now) {
    if (!show.expectedTree.contains(path)) QFile::remove(path);
  }
  return 0;
}
