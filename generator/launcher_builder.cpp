#include "launcher_builder.h"

#include <QDir>
#include <QFileInfo>
#include <optional>
#include <utility>

#include "launcher_files.h"
#include "log_categories.h"
#include "platform.h"
#include "scene_catalogue.h"

namespace luvrin {

namespace {

const QString kNoneWritten = QStringLiteral("未写入启动器:");

QString templateProblem(const QString& file, platform::FileRefusal refusal) {
  switch (refusal) {
    case platform::FileRefusal::Missing:
      return QStringLiteral("模板启动器 %1 不存在").arg(file);
    case platform::FileRefusal::NotRegular:
      return QStringLiteral("模板启动器 %1 不是普通文件(是链接、文件夹或设备)").arg(file);
    case platform::FileRefusal::TooLarge:
      return QStringLiteral("模板启动器 %1 超过 64 MiB").arg(file);
    case platform::FileRefusal::Unreadable:
      return QStringLiteral("无法读取模板启动器 %1").arg(file);
    case platform::FileRefusal::None:
      break;
  }
  return QString();
}

bool sameFile(const platform::FileStamp& a, const std::optional<platform::FileStamp>& b) {
  return b && a.volume == b->volume && a.index == b->index;
}

bool isStubName(const QString& name) {
  return name.compare(stubName(), platform::windowsConventions() ? Qt::CaseInsensitive
                                                                 : Qt::CaseSensitive) == 0;
}

}  // namespace

Form2::Form2(QString driverFolder, std::function<QString()> launcherName)
    : Command2(QStringLiteral("加载")),
      Command1(QStringLiteral("生成EXE")),
      Text2(QStringLiteral("Text2")),
      Text3(QStringLiteral("Text3")),
      folder_(std::move(driverFolder)),
      launcherName_(std::move(launcherName)) {
  setCaption(QStringLiteral("Form2"));
  Command2.setGeometry(1080, 0, 975, 375);
  Command1.setGeometry(5400, 0, 1215, 375);
  List1.setGeometry(5400, 360, 1335, 4200);
  Text1.setGeometry(0, 360, 5295, 4215);
  Text2.setGeometry(240, 5040, 6615, 375);
  Text3.setGeometry(240, 5640, 6735, 375);
  Label1.setGeometry(240, 4680, 6615, 255);
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

QString catalogueProblem(FileRead::Failure failure) {
  switch (failure) {
    case FileRead::Failure::Missing:
      return QStringLiteral("找不到 场景.ini");
    case FileRead::Failure::NotRegular:
      return QStringLiteral("场景.ini 不是普通文件");
    case FileRead::Failure::TooLarge:
      return QStringLiteral("场景.ini 超过 16 MiB");
    case FileRead::Failure::Unreadable:
      return QStringLiteral("无法读取 场景.ini");
    case FileRead::Failure::None:
      break;
  }
  return QString();
}

void Form2::Command2_Click() {
  loadOnce();
  Text1.setText(QString());
  List1.clear();

  const SceneCatalogue catalogue(QDir::fromNativeSeparators(Text2.text()));
  const CatalogueEntries entries = catalogue.entries();
  if (entries.failure != FileRead::Failure::None) {
    Label1.setCaption(kNoneWritten + catalogueProblem(entries.failure));
    qCWarning(lcLauncher).noquote()
        << Label1.caption() << "(no catalogue at" << catalogue.path() << ")";
    return;
  }

  // Read whole and at once: no other event can run in between, so two loads never overlap.
  QString shown;
  for (const CatalogueLine& line : entries.lines) shown += QStringLiteral("\r\n") + line.text;
  for (const QString& scene : sceneNames(entries)) List1.addItem(scene);
  Text1.setText(shown);
  Command1_Click();
}

QString Form2::templateName() const {
  const QString handedOver = launcherName_ ? launcherName_() : QString();
  return handedOver.isEmpty() ? stubName() : handedOver;
}

void Form2::Command1_Click() {
  loadOnce();
  const QString folder = QDir::fromNativeSeparators(Text3.text());
  const QString suffix = launcherSuffix();
  // The template name comes from the hand-off value: it must name a file of the launcher folder,
  // or nothing is copied from anywhere.
  QString name = templateName();
  platform::RegularFileRead launcher;
  QString problem;
  if (List1.listCount() == 0) {
    problem = QStringLiteral("场景.ini 中没有场景");
  } else if (!isLauncherName(name)) {
    problem = QStringLiteral("模板启动器名 %1 不能作文件名").arg(name);
  } else {
    launcher = readLauncherTemplate(folder + name + suffix);
    // A fresh show: the scene was handed over by the remote, or its launcher was removed; every
    // launcher is a copy of the stub anyway.
    if (launcher.refusal == platform::FileRefusal::Missing && name != stubName()) {
      platform::RegularFileRead stub = readLauncherTemplate(folder + stubName() + suffix);
      if (stub.refusal != platform::FileRefusal::Missing) {
        name = stubName();
        launcher = std::move(stub);
      }
    }
    problem = templateProblem(name + suffix, launcher.refusal);
    if (problem.isEmpty() && !looksLikeProgram(launcher.bytes))
      problem = QStringLiteral("模板启动器 %1 不是程序").arg(name + suffix);
  }
  const auto stub = platform::regularFileStamp(folder + stubName() + suffix);

  int written = 0, badNames = 0, leftAlone = 0, failed = 0;
  QStringList kept;  // files that are no launcher: the user's, never written
  for (int i = 0; i < List1.listCount(); ++i) {
    List1.setListIndex(i);
    if (!problem.isEmpty()) continue;
    const QString scene = List1.items().at(i);
    if (!isLauncherName(scene)) {
      qCDebug(lcLauncher) << "scene name is no launcher file name:" << scene;
      ++badNames;
      continue;
    }
    const QString target = folder + scene + suffix;
    // The stub is what every launcher is a copy of, and the template already is one (also under
    // another letter case where names ignore it, or through a hard link).
    const auto current = platform::regularFileStamp(target);
    if (isStubName(scene) || sameFile(launcher.stamp, current) ||
        (stub && sameFile(*stub, current))) {
      ++leftAlone;
      continue;
    }
    // A script a scene names always ends in ".ini" (the driver plays no other), and neither a
    // script nor anything else the user saved holds a program.
    if (isScriptFileName(scene + suffix) || launcherTarget(target) == LauncherTarget::Other) {
      if (!kept.contains(scene + suffix)) kept.append(scene + suffix);
      continue;
    }
    if (writeLauncher(target, launcher.bytes, launcher.permissions)) {
      ++written;
    } else {
      qCWarning(lcLauncher) << "could not write the launcher" << target;
      ++failed;
    }
  }

  QString outcome;
  if (!problem.isEmpty()) {
    outcome = kNoneWritten + problem;
  } else {
    outcome = QStringLiteral("已写入 %1 个启动器").arg(written);
    if (badNames > 0) outcome += QStringLiteral(",%1 个场景名不能作文件名").arg(badNames);
    if (failed > 0) outcome += QStringLiteral(",%1 个无法写入").arg(failed);
    if (leftAlone > 0)
      outcome += QStringLiteral(",%1 个是模板或 %2 本身,未改动").arg(leftAlone).arg(stubName());
    if (!kept.isEmpty())
      outcome += QStringLiteral(",%1 个不是启动器(脚本或其他文件),未改动:%2")
                     .arg(kept.size())
                     .arg(kept.join(QStringLiteral("、")));
  }
  Label1.setCaption(outcome);
  if (written == 0 || !kept.isEmpty()) {
    qCWarning(lcLauncher).noquote() << outcome;
  } else {
    qCDebug(lcLauncher).noquote() << outcome;
  }
}

}  // namespace luvrin
