#include "launcher_builder.h"

#include <QDir>
#include <QFileInfo>

#include "launcher_files.h"
#include "log_categories.h"
#include "scene_catalogue.h"

namespace luvrin {

namespace {

const QString kDescriptionSuffix = QStringLiteral("说明");

}  // namespace

Form2::Form2(QString driverFolder, const TextBox& driverText1)
    : Command2(QStringLiteral("加载")),
      Command1(QStringLiteral("生成EXE")),
      Text2(QStringLiteral("Text2")),
      Text3(QStringLiteral("Text3")),
      folder_(std::move(driverFolder)),
      driverText1_(driverText1) {
  setCaption(QStringLiteral("Form2"));
  Command2.setGeometry(1080, 0, 975, 375);
  Command1.setGeometry(5400, 0, 1215, 375);
  List1.setGeometry(5400, 360, 1335, 4200);
  Text1.setGeometry(0, 360, 5295, 4215);
  Text2.setGeometry(240, 5040, 6615, 375);
  Text3.setGeometry(240, 5640, 6735, 375);
  Command2.Click = [this] { Command2_Click(); };
  Command1.Click = [this] { Command1_Click(); };
}

void Form2::loadOnce() {
  if (!loaded()) Form_Load();
}

void Form2::Form_Load() {
  setLoaded(true);
  const QString driverFolder = QDir::cleanPath(QFileInfo(folder_).absoluteFilePath());
  Text2.setText(QDir::toNativeSeparators(driverFolder));
  // The launcher folder is the one above the driver's, whatever the driver folder is called;
  // a root stays itself.
  QString launcherFolder = QFileInfo(driverFolder).absolutePath();
  if (!launcherFolder.endsWith(u'/')) launcherFolder += u'/';
  Text3.setText(QDir::toNativeSeparators(launcherFolder));
}

void Form2::Command2_Click() {
  loadOnce();
  Text1.setText(QString());
  List1.clear();

  const SceneCatalogue catalogue(QDir::fromNativeSeparators(Text2.text()));
  const CatalogueEntries entries = catalogue.entries();
  if (entries.failure != FileRead::Failure::None) {
    qCDebug(lcLauncher) << "no catalogue to read at" << catalogue.path() << "("
                        << describeFailure(entries.failure) << ")";
    return;
  }

  // Read whole and at once: no other event can run in between, so two loads never overlap.
  QString shown;
  QString previousKey;
  for (const CatalogueLine& line : entries.lines) {
    shown += QStringLiteral("\r\n") + line.text;
    if (!line.hasName) continue;
    // A description entry directly after its scene gets no launcher.
    if (line.name != previousKey + kDescriptionSuffix) List1.addItem(line.name);
    previousKey = line.name;
  }
  Text1.setText(shown);
  Command1_Click();
}

void Form2::Command1_Click() {
  loadOnce();
  const QString folder = QDir::fromNativeSeparators(Text3.text());
  const QString templateName = driverText1_.text();
  const QString suffix = launcherSuffix();
  // The template name comes from the hand-off value: it must name a file of the launcher folder,
  // or nothing is copied from anywhere.
  const bool templateUsable = isLauncherName(templateName);
  if (!templateUsable) qCDebug(lcLauncher) << "no usable template launcher:" << templateName;
  const QString source = folder + templateName + suffix;

  for (int i = 0; i < List1.listCount(); ++i) {
    List1.setListIndex(i);
    if (!templateUsable) continue;
    const QString name = List1.items().at(i);
    if (!isLauncherName(name)) {
      qCDebug(lcLauncher) << "scene name is no launcher file name:" << name;
      continue;
    }
    if (!replaceWithCopy(source, folder + name + suffix))
      qCDebug(lcLauncher) << "could not write the launcher" << name;
  }
}

}  // namespace luvrin
