#include "launcher_builder.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>

#include "codepage.h"
#include "launcher_files.h"
#include "platform.h"
#include "support/temp_show.h"
#ifndef Q_OS_WIN
#include <sys/stat.h>

#include "support/fifo_watchdog.h"
#endif

namespace luvrin {
namespace {

using testing::crlf;

constexpr QFileDevice::Permissions kExecutable =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
    QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
constexpr QFileDevice::Permissions kPlain = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ReadGroup | QFileDevice::ReadOther;

const QString kTemplate = QStringLiteral("LUVRINpREG");

// Bytes that look like a program: binary, with NULs and CR LF pairs a text copy would spoil.
QByteArray programBytes(qsizetype size, char seed) {
  QByteArray bytes(size, '\0');
  unsigned state = static_cast<unsigned char>(seed) + 1u;
  for (qsizetype i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(state >> 16);
  }
  bytes.replace(0, 4, "MZ\r\n");
  return bytes;
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_EQ(f.write(bytes), bytes.size());
}

void ageFile(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  ASSERT_TRUE(f.setFileTime(QDateTime(QDate(2015, 9, 19), QTime(12, 0)),
                            QFileDevice::FileModificationTime));
}

// A temporary installation: <root>/show/ is the launcher folder with the template launcher,
// <root>/show/驱动/ the driver folder. The root stands for everything outside the installation.
class Installation {
 public:
  Installation() {
    QDir(root_.path()).mkpath(QStringLiteral("show/驱动"));
    templateBytes = programBytes(40 * 1024, 'T');
    writeLauncherFile(kTemplate, templateBytes);
    QFile::setPermissions(launcher(kTemplate), kExecutable);
  }

  QString root() const { return root_.path(); }
  QString launcherFolder() const { return root_.path() + QStringLiteral("/show"); }
  QString driverFolder() const { return launcherFolder() + QStringLiteral("/驱动"); }
  QString launcher(const QString& name) const {
    return launcherFolder() + u'/' + name + launcherSuffix();
  }
  void writeLauncherFile(const QString& name, const QByteArray& bytes) const {
    writeBytes(launcher(name), bytes);
  }

  void writeCatalogueBytes(const QByteArray& bytes) const {
    writeBytes(driverFolder() + QStringLiteral("/场景.ini"), bytes);
  }
  // A GBK catalogue, lines ending in CR LF, as written by hand on Windows.
  void writeCatalogue(const QStringList& lines) const {
    QString text;
    for (const QString& line : lines) text += line + QStringLiteral("\r\n");
    writeCatalogueBytes(encodeGbk(text));
  }

  // Every entry of a folder but "." and "..", sorted.
  static QStringList entries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  }
  QStringList launcherFolderEntries() const { return entries(launcherFolder()); }

  // File names of launchers, in the same order as the given scene names, sorted like entries().
  static QStringList fileNames(QStringList scenes) {
    for (QString& s : scenes) s += launcherSuffix();
    scenes.sort();
    return scenes;
  }
  QStringList expectedEntries(const QStringList& scenes) const {
    QStringList all =
        fileNames(scenes) + QStringList{kTemplate + launcherSuffix(), QStringLiteral("驱动")};
    all.removeDuplicates();
    all.sort();
    return all;
  }

  QByteArray templateBytes;

 private:
  QTemporaryDir root_;
};

// A builder as the driver holds it: the driver's Text1 carries the last launcher's name.
struct Builder {
  explicit Builder(const Installation& show, const QString& handoff = kTemplate)
      : driverText1(handoff), form(show.driverFolder(), [this] { return driverText1.text(); }) {}
  TextBox driverText1;
  Form2 form;
};

// ---------------------------------------------------------------------------------------------
// Loading the window

TEST(LauncherBuilderLoad, FoldersAreTheDriverFolderAndTheOneAboveWithASeparator) {
  Installation show;
  Builder b(show);
  EXPECT_FALSE(b.form.loaded());
  EXPECT_EQ(b.form.Text2.text(), "Text2");
  b.form.Command2_Click();  // the first use loads the window
  EXPECT_TRUE(b.form.loaded());
  EXPECT_EQ(b.form.caption(), "Form2");
  EXPECT_EQ(b.form.Text2.text(), QDir::toNativeSeparators(show.driverFolder()));
  EXPECT_EQ(b.form.Text3.text(), QDir::toNativeSeparators(show.launcherFolder() + u'/'));
}

TEST(LauncherBuilderLoad, DriverFolderNamedOtherwiseStillGivesItsParent) {
  QTemporaryDir root;
  QDir(root.path()).mkpath(QStringLiteral("Lights/bin"));
  TextBox text1(kTemplate);
  Form2 form(root.path() + QStringLiteral("/Lights/bin/"), [&] { return text1.text(); });
  form.Form_Load();
  EXPECT_EQ(form.Text2.text(),
            QDir::toNativeSeparators(root.path() + QStringLiteral("/Lights/bin")));
  EXPECT_EQ(form.Text3.text(), QDir::toNativeSeparators(root.path() + QStringLiteral("/Lights/")));
}

TEST(LauncherBuilderLoad, DriverInARootKeepsTheRootAsLauncherFolder) {
  TextBox text1(kTemplate);
  Form2 form(QDir::rootPath(), [&] { return text1.text(); });
  form.Form_Load();
  EXPECT_EQ(form.Text2.text(), QDir::toNativeSeparators(QDir::rootPath()));
  EXPECT_EQ(form.Text3.text(), QDir::toNativeSeparators(QDir::rootPath()));
}

TEST(LauncherBuilderLoad, FoldersAreWorkedOutOnceAtFirstUse) {
  Installation show;
  Builder b(show);
  b.form.Command2_Click();
  const QString launcherFolder = b.form.Text3.text();
  b.form.Text3.setText(QStringLiteral("elsewhere"));
  b.form.Command2_Click();
  EXPECT_EQ(b.form.Text3.text(), "elsewhere");
  EXPECT_NE(launcherFolder, "elsewhere");
}

// ---------------------------------------------------------------------------------------------
// The catalogue load: which keys are listed

TEST(LauncherBuilderCatalogue, ScenesInFileOrderWithTheirDescriptionSkipped) {
  Installation show;
  const QStringList lines = {QStringLiteral("[DMX]"),
                             QStringLiteral("序幕=DMX255,000,"),
                             QStringLiteral("Finale=finale.ini"),
                             QStringLiteral("Finale说明=全场 = 亮"),
                             QStringLiteral("Blue=DMX"),
                             QString()};
  show.writeCatalogue(lines);
  Builder b(show);
  b.form.Command2_Click();

  EXPECT_EQ(b.form.List1.items(), (QStringList{"序幕", "Finale", "Blue"}));
  // Every line read, each after a CR LF.
  EXPECT_EQ(b.form.Text1.text(), crlf("\r\n[DMX]\r\n序幕=DMX255,000,\r\nFinale=finale.ini\r\n"
                                      "Finale说明=全场 = 亮\r\nBlue=DMX\r\n"));
  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries({"序幕", "Finale", "Blue"}));
  for (const char* scene : {"序幕", "Finale", "Blue"})
    EXPECT_EQ(readAll(show.launcher(QString::fromUtf8(scene))), show.templateBytes) << scene;
  EXPECT_EQ(b.form.List1.listIndex(), 2);  // the generation walked the list to its end
}

TEST(LauncherBuilderCatalogue, DescriptionRuleComparesWithThePreviousKeyOnly) {
  struct Case {
    const char* what;
    QStringList lines;
    QStringList listed;
  };
  const std::vector<Case> cases = {
      {"description not directly after its scene",
       {"[DMX]", "A=DMX1", "B=DMX2", "A说明=text"},
       {"A", "B", "A说明"}},
      {"key 说明 as the first entry", {"[DMX]", "说明=这是目录", "A=DMX1"}, {"A"}},
      {"a skipped description still becomes the previous key",
       {"A=1", "A说明=x", "A说明说明=y"},
       {"A"}},
      {"description differs in letter case", {"Intro=1", "intro说明=x"}, {"Intro", "intro说明"}},
      {"a blank before = stays in the name", {"A =DMX1", "A 说明=x", "A说明=y"}, {"A ", "A说明"}},
      {"value holding = splits at the first one", {"K=a=b", "=c"}, {"K", ""}},
      {"entries of another section are listed too", {"[DMX]", "A=1", "[Other]", "B=2"}, {"A", "B"}},
      {"duplicate name listed twice", {"A=1", "B=2", "A=3"}, {"A", "B", "A"}},
      {"lines without = are left aside", {"; note", "", "[DMX]", "plain text", "C=1"}, {"C"}},
  };
  for (const Case& c : cases) {
    Installation show;
    show.writeCatalogue(c.lines);
    Builder b(show);
    b.form.Command2_Click();
    EXPECT_EQ(b.form.List1.items(), c.listed) << c.what;
  }
}

TEST(LauncherBuilderCatalogue, DescriptionAndOtherSectionAndBlankNameWriteTheirLaunchers) {
  Installation show;
  show.writeCatalogue({"[DMX]", "A=DMX1", "B=DMX2", "A说明=text", "C =DMX3", "[Other]", "D=x"});
  Builder b(show);
  b.form.Command2_Click();
  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries({"A", "B", "A说明", "C ", "D"}));
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("C "))), show.templateBytes);
  EXPECT_FALSE(QFileInfo::exists(show.launcher(QStringLiteral("C"))));
}

TEST(LauncherBuilderCatalogue, NamesWindowsRefusesGetNoLauncherThere) {
  if (launcherSuffix().isEmpty()) GTEST_SKIP() << "Windows file names only";
  Installation show;
  // Device names open the device whatever follows them; these characters are not in file names.
  show.writeCatalogue(
      {"[DMX]", "CON=1", "com1=2", "Lpt9 =3", "a<b=4", "a?=5", "Fine=6", "x.=7", "C =8"});
  Builder b(show);
  b.form.Command2_Click();
  // A trailing dot or blank is inside the file name once ".exe" follows it.
  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries({"Fine", "x.", "C "}));
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("x."))), show.templateBytes);
}

TEST(LauncherBuilderCatalogue, DuplicateNameGivesOneLauncher) {
  Installation show;
  show.writeCatalogue({"[DMX]", "A=1", "A=2"});
  Builder b(show);
  b.form.Command2_Click();
  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries({"A"}));
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), show.templateBytes);
}

TEST(LauncherBuilderCatalogue, EqualsAtLineStartIsListedButWritesNothing) {
  Installation show;
  show.writeCatalogue({"[DMX]", "=DMX001,", "A=1"});
  Builder b(show);
  b.form.Command2_Click();
  EXPECT_EQ(b.form.List1.items(), (QStringList{"", "A"}));
  // An empty name would be the launcher folder itself (or a file of suffix only): no launcher.
  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries({"A"}));
  EXPECT_TRUE(QFileInfo(show.launcherFolder()).isDir());
}

TEST(LauncherBuilderCatalogue, EncodingsAndLineEndsOfOtherEditors) {
  struct Case {
    const char* what;
    QByteArray bytes;
  };
  const QString text =
      QStringLiteral("[DMX]\r\n序幕=DMX1\r\n尾声=DMX2");  // no end on the last line
  QString lf = text;
  lf.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QString cr = text;
  cr.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
  const std::vector<Case> cases = {
      {"GBK, CR LF", encodeGbk(text)},
      {"UTF-8 with a mark", QByteArray("\xEF\xBB\xBF") + text.toUtf8()},
      {"UTF-8, LF", lf.toUtf8()},
      {"GBK, CR", encodeGbk(cr)},
  };
  for (const Case& c : cases) {
    Installation show;
    show.writeCatalogueBytes(c.bytes);
    Builder b(show);
    b.form.Command2_Click();
    EXPECT_EQ(b.form.List1.items(), (QStringList{"序幕", "尾声"})) << c.what;
    EXPECT_EQ(b.form.Text1.text(), crlf("\r\n[DMX]\r\n序幕=DMX1\r\n尾声=DMX2")) << c.what;
    EXPECT_EQ(readAll(show.launcher(QStringLiteral("尾声"))), show.templateBytes) << c.what;
  }
}

TEST(LauncherBuilderCatalogue, GbkNamesThatAreValidUtf8KeepTheirNames) {
  // In GBK, "谢幕" (D0 BB C4 BB) and "摇头" (D2 A1 CD B7) are valid UTF-8 as well; "转", "前",
  // "一" and "十" alone too. The whole catalogue is valid UTF-8.
  Installation show;
  show.writeCatalogue({"[DMX]", "谢幕=谢幕.ini", "摇头=DMX200,201,202,203,", "转=\"DMX001,\"",
                       "前='s1.ini'", "一=1", "十=2"});
  Builder b(show);
  b.form.Command2_Click();
  const QStringList scenes = {"谢幕", "摇头", "转", "前", "一", "十"};
  EXPECT_EQ(b.form.List1.items(), scenes);
  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries(scenes));
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("谢幕"))), show.templateBytes);
}

TEST(LauncherBuilderCatalogue, EmptyOrMissingOrOversizedCatalogueWritesNothing) {
  Installation show;
  Builder b(show);
  show.writeCatalogue({"[DMX]", "Old=1"});
  b.form.Command2_Click();
  ASSERT_EQ(b.form.List1.listCount(), 1);
  QFile::remove(show.launcher(QStringLiteral("Old")));

  show.writeCatalogueBytes(QByteArray());
  b.form.Command2_Click();
  EXPECT_EQ(b.form.List1.listCount(), 0) << "empty catalogue";
  EXPECT_EQ(b.form.Text1.text(), "") << "empty catalogue";

  show.writeCatalogue({"[DMX]", "no entries here"});
  b.form.Command2_Click();
  EXPECT_EQ(b.form.List1.listCount(), 0) << "no =";
  EXPECT_EQ(b.form.Text1.text(), crlf("\r\n[DMX]\r\nno entries here"));

  show.writeCatalogue({"[DMX]", "Old=1"});
  b.form.Command2_Click();
  QFile::remove(show.launcher(QStringLiteral("Old")));
  ASSERT_TRUE(QFile::remove(show.driverFolder() + QStringLiteral("/场景.ini")));
  b.form.Command2_Click();
  EXPECT_EQ(b.form.List1.listCount(), 0) << "missing: the last load's list is gone";
  EXPECT_EQ(b.form.Text1.text(), "") << "missing";

  // Larger than any hand-written catalogue: padded past the limit behind a real entry.
  {
    QFile f(show.driverFolder() + QStringLiteral("/场景.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[DMX]\r\nOld=1\r\n");
    ASSERT_TRUE(f.resize(Form2::kCatalogueLimit + 1));
  }
  b.form.Command2_Click();
  EXPECT_EQ(b.form.List1.listCount(), 0) << "oversized";

  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries({}));
}

// ---------------------------------------------------------------------------------------------
// The generation: what is written where

TEST(LauncherBuilderGeneration, NamesThatLeaveTheFolderOrAreNoFileNamesWriteNothing) {
  Installation show;
  QDir(show.launcherFolder()).mkdir(QStringLiteral("a"));  // so that "a/b" would have a place
  const QStringList outside = Installation::entries(show.root());
  show.writeCatalogue({"[DMX]", "../x=1", "a/b=2", "a\\b=3", "..=4", ".=5", "驱动/x=6",
                       "..\\..\\y=7", QStringLiteral("tab\there=8"), "Fine=9"});
  Builder b(show);
  b.form.Command2_Click();

  EXPECT_EQ(b.form.List1.listCount(), 9);
  EXPECT_EQ(Installation::entries(show.root()), outside);
  EXPECT_EQ(Installation::entries(show.launcherFolder() + QStringLiteral("/a")), QStringList());
  EXPECT_EQ(Installation::entries(show.driverFolder()), QStringList{"场景.ini"});
  EXPECT_EQ(show.launcherFolderEntries(),
            (QStringList{QStringLiteral("Fine") + launcherSuffix(), kTemplate + launcherSuffix(),
                         QStringLiteral("a"), QStringLiteral("驱动")}));
}

TEST(LauncherBuilderGeneration, SceneNamedLikeAFolderLeavesTheFolder) {
  Installation show;
  show.writeCatalogue({"[DMX]", "驱动=1", "A=2"});
  Builder b(show);
  b.form.Command2_Click();
  // Without a suffix the name is the driver folder's own: it stays a folder with its files.
  EXPECT_TRUE(QFileInfo(show.driverFolder()).isDir());
  EXPECT_TRUE(QFileInfo::exists(show.driverFolder() + QStringLiteral("/场景.ini")));
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), show.templateBytes);
}

TEST(LauncherBuilderGeneration, TemplateNamedAsASceneIsLeftUntouched) {
  Installation show;
  ageFile(show.launcher(kTemplate));
  const QDateTime before = QFileInfo(show.launcher(kTemplate)).lastModified();
  show.writeCatalogue({"[DMX]", "A=1", kTemplate + QStringLiteral("=2"), "B=3"});
  Builder b(show);
  b.form.Command2_Click();
  const QFileInfo after(show.launcher(kTemplate));
  EXPECT_EQ(readAll(show.launcher(kTemplate)), show.templateBytes);
  EXPECT_EQ(after.lastModified(), before) << "the template was rewritten";
  EXPECT_EQ(after.permissions() & kExecutable, kExecutable);
  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries({"A", "B"}));
}

TEST(LauncherBuilderGeneration, ExistingLaunchersAreReplacedAndOthersStay) {
  Installation show;
  show.writeLauncherFile(QStringLiteral("A"), programBytes(100, 'a'));
  show.writeLauncherFile(QStringLiteral("Removed"), programBytes(100, 'r'));
  ageFile(show.launcher(QStringLiteral("Removed")));
  const QDateTime removedTime = QFileInfo(show.launcher(QStringLiteral("Removed"))).lastModified();
  show.writeCatalogue({"[DMX]", "A=1"});
  Builder b(show);
  b.form.Command2_Click();
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), show.templateBytes);
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("Removed"))), programBytes(100, 'r'));
  EXPECT_EQ(QFileInfo(show.launcher(QStringLiteral("Removed"))).lastModified(), removedTime);
  // No temporary file is left behind.
  EXPECT_EQ(show.launcherFolderEntries(), show.expectedEntries({"A", "Removed"}));
}

TEST(LauncherBuilderGeneration, LaunchersKeepTheTemplatesExecutablePermission) {
  Installation show;
  show.writeLauncherFile(QStringLiteral("Old"), programBytes(10, 'o'));
  ASSERT_TRUE(QFile::setPermissions(show.launcher(QStringLiteral("Old")), kPlain));
  show.writeCatalogue({"[DMX]", "New=1", "Old=2"});
  Builder b(show);
  b.form.Command2_Click();
  for (const char* name : {"New", "Old"}) {
    const QFileInfo info(show.launcher(QString::fromUtf8(name)));
    EXPECT_EQ(info.permissions() & kExecutable, kExecutable) << name;
  }
}

TEST(LauncherBuilderGeneration, LargeTemplateIsCopiedWhole) {
  Installation show;
  const QByteArray big = programBytes(3 * 1024 * 1024 + 17, 'B');
  show.writeLauncherFile(QStringLiteral("Big"), big);
  show.writeCatalogue({"[DMX]", "A=1"});
  Builder b(show, QStringLiteral("Big"));
  b.form.Command2_Click();
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), big);
}

TEST(LauncherBuilderGeneration, UnusableTemplateWritesNothingAndKeepsOldLaunchers) {
  Installation show;
  QDir(show.launcherFolder()).mkdir(QStringLiteral("Folder") + launcherSuffix());
  writeBytes(show.root() + QStringLiteral("/secret") + launcherSuffix(), "outside the show");
  show.writeLauncherFile(QStringLiteral("A"), programBytes(100, 'a'));
  show.writeCatalogue({"[DMX]", "A=1", "B=2"});
  const QStringList before = show.launcherFolderEntries();
  for (const char* handoff : {"Folder", "../secret", "..\\secret", "驱动/../../secret"}) {
    Builder b(show, QString::fromUtf8(handoff));
    b.form.Command2_Click();
    EXPECT_EQ(b.form.List1.listCount(), 2) << handoff;
    EXPECT_EQ(show.launcherFolderEntries(), before) << handoff;
    EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), programBytes(100, 'a')) << handoff;
  }
}

TEST(LauncherBuilderGeneration, WithNoLauncherRunYetTheStubIsTheTemplate) {
  // No hand-off value, or one the remote handed over before any launcher existed.
  for (const QString& handoff : {QString(), QStringLiteral("演示")}) {
    Installation show;
    show.writeCatalogue({"[DMX]", "A=1", "B=2"});
    Builder b(show, handoff);
    b.form.Command2_Click();
    EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), show.templateBytes);
    EXPECT_EQ(readAll(show.launcher(QStringLiteral("B"))), show.templateBytes);
    EXPECT_EQ(b.form.Label1.caption(), QStringLiteral("已写入 2 个启动器"))
        << handoff.toStdString();
  }
}

// What the user saved beside the launchers (scripts, notes, a link to the stub) and the stub
// itself stay as they are, whatever the scenes are called; the window names what was left.
TEST(LauncherBuilderGeneration, NoFileTheUserSavedIsWrittenOver) {
  struct Case {
    const char* what;
    bool anySystem;  // else only where launchers have no suffix
    QStringList catalogue;
    std::function<void(const Installation&)> prepare;
    QString handoff;
    QStringList untouched;  // launcher names whose file (or absence) must stay
    QString said;
  };
  const QString sfx = launcherSuffix();
  const QByteArray script = "\"\r\nDMX001,002,\r\n!T000005'500mS\r\n!GT000\"\r\n";
  const std::vector<Case> cases = {
      {"scripts beside the launchers",
       true,
       {"[DMX]", "演示=..\\s1.ini", "s1.ini=DMX001,", "备份.ini=DMX002,"},
       [&](const Installation& show) {
         show.writeLauncherFile(QStringLiteral("s1.ini"), script);
         show.writeLauncherFile(QStringLiteral("备份.ini"), "DMX255,255,");
       },
       kTemplate,
       {"s1.ini", "备份.ini"},
       QStringLiteral(
           "已写入 1 个启动器,2 个不是启动器(脚本或其他文件),未改动:s1.ini%1、备份.ini%1")
           .arg(sfx)},
      {"notes named like a scene",
       true,
       {"[DMX]", "Notes=DMX1", "A=DMX2"},
       [](const Installation& show) {
         show.writeLauncherFile(QStringLiteral("Notes"), "bring the ladder\r\n");
       },
       kTemplate,
       {"Notes"},
       QStringLiteral("已写入 1 个启动器,1 个不是启动器(脚本或其他文件),未改动:Notes%1").arg(sfx)},
      {"an empty file",
       true,
       {"[DMX]", "Empty=DMX1"},
       [](const Installation& show) { show.writeLauncherFile(QStringLiteral("Empty"), ""); },
       kTemplate,
       {"Empty"},
       QStringLiteral("已写入 0 个启动器,1 个不是启动器(脚本或其他文件),未改动:Empty%1").arg(sfx)},
      {"a script ending holding a program",
       false,
       {"[DMX]", "old.INI=DMX1"},
       [](const Installation& show) {
         show.writeLauncherFile(QStringLiteral("old.INI"), programBytes(64, 'o'));
       },
       kTemplate,
       {"old.INI"},
       QStringLiteral("已写入 0 个启动器,1 个不是启动器(脚本或其他文件),未改动:old.INI")},
      {"a script ending not there yet",
       false,
       {"[DMX]", "演示=s2.ini", "s2.ini=DMX1"},
       [](const Installation&) {},
       kTemplate,
       {"s2.ini"},
       QStringLiteral("已写入 1 个启动器,1 个不是启动器(脚本或其他文件),未改动:s2.ini")},
      {"a scene named like the stub while the stub is absent",
       true,
       {"[DMX]", "A=1", kTemplate + QStringLiteral("=2")},
       [](const Installation& show) {
         show.writeLauncherFile(QStringLiteral("Other"), programBytes(64, 'x'));
         QFile::remove(show.launcher(kTemplate));
       },
       QStringLiteral("Other"),
       {kTemplate},
       QStringLiteral("已写入 1 个启动器,1 个是模板或 LUVRINpREG 本身,未改动")},
      {"a launcher that is a hard link to the stub",
       true,
       {"[DMX]", "A=1"},
       [](const Installation& show) {
         show.writeLauncherFile(QStringLiteral("Other"), programBytes(64, 'x'));
         std::filesystem::create_hard_link(show.launcher(kTemplate).toStdU16String(),
                                           show.launcher(QStringLiteral("A")).toStdU16String());
       },
       QStringLiteral("Other"),
       {kTemplate, "A"},
       QStringLiteral("已写入 0 个启动器,1 个是模板或 LUVRINpREG 本身,未改动")},
  };
  for (const Case& c : cases) {
    if (!c.anySystem && !sfx.isEmpty()) continue;
    Installation show;
    show.writeCatalogue(c.catalogue);
    c.prepare(show);
    std::vector<std::pair<bool, QByteArray>> before;
    for (const QString& name : c.untouched)
      before.emplace_back(QFileInfo::exists(show.launcher(name)), readAll(show.launcher(name)));
    Builder b(show, c.handoff);
    b.form.Command2_Click();
    for (std::size_t i = 0; i < before.size(); ++i) {
      const QString file = show.launcher(c.untouched[i]);
      EXPECT_EQ(QFileInfo::exists(file), before[i].first) << c.what << ": " << file.toStdString();
      EXPECT_EQ(readAll(file), before[i].second) << c.what << ": " << file.toStdString();
    }
    EXPECT_EQ(b.form.Label1.caption(), c.said) << c.what;
  }
}

TEST(LauncherBuilderGeneration, TheStubIsNeverReplaced) {
  Installation show;
  ageFile(show.launcher(kTemplate));
  const QDateTime before = QFileInfo(show.launcher(kTemplate)).lastModified();
  show.writeLauncherFile(QStringLiteral("Other"), programBytes(64, 'x'));
  show.writeCatalogue({"[DMX]", "A=1", kTemplate + QStringLiteral("=2")});
  Builder b(show, QStringLiteral("Other"));
  b.form.Command2_Click();
  EXPECT_EQ(readAll(show.launcher(kTemplate)), show.templateBytes);
  EXPECT_EQ(QFileInfo(show.launcher(kTemplate)).lastModified(), before);
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), programBytes(64, 'x'));
  EXPECT_EQ(b.form.Label1.caption(),
            QStringLiteral("已写入 1 个启动器,1 个是模板或 LUVRINpREG 本身,未改动"));
}

TEST(LauncherBuilderGeneration, TheWindowSaysHowManyWereWrittenAndWhyNone) {
  struct Case {
    const char* what;
    QString handoff;
    std::function<void(const Installation&)> prepare;
    QString said;
  };
  const QString suffix = launcherSuffix();
  const std::vector<Case> cases = {
      {"written, one name no file name", kTemplate,
       [](const Installation& show) {
         show.writeCatalogue({"[DMX]", "A=1", "a/b=2", "B=3"});
       },
       QStringLiteral("已写入 2 个启动器,1 个场景名不能作文件名")},
      {"no catalogue", kTemplate, [](const Installation&) {},
       QStringLiteral("未写入启动器:找不到 场景.ini")},
      {"catalogue without scenes", kTemplate,
       [](const Installation& show) {
         show.writeCatalogue({"[DMX]", "; none yet"});
       },
       QStringLiteral("未写入启动器:场景.ini 中没有场景")},
      {"catalogue too large", kTemplate,
       [](const Installation& show) {
         QFile f(show.driverFolder() + QStringLiteral("/场景.ini"));
         ASSERT_TRUE(f.open(QIODevice::WriteOnly));
         f.write("[DMX]\r\nA=1\r\n");
         ASSERT_TRUE(f.resize(Form2::kCatalogueLimit + 1));
       },
       QStringLiteral("未写入启动器:场景.ini 超过 16 MiB")},
      {"template and stub missing", QStringLiteral("Missing"),
       [](const Installation& show) {
         show.writeCatalogue({"[DMX]", "A=1"});
         QFile::remove(show.launcher(kTemplate));
       },
       QStringLiteral("未写入启动器:模板启动器 Missing%1 不存在").arg(suffix)},
      {"template no program", QStringLiteral("Text"),
       [](const Installation& show) {
         show.writeCatalogue({"[DMX]", "A=1"});
         show.writeLauncherFile(QStringLiteral("Text"), "DMX001,");
       },
       QStringLiteral("未写入启动器:模板启动器 Text%1 不是程序").arg(suffix)},
      {"template a folder", QStringLiteral("Folder"),
       [&](const Installation& show) {
         show.writeCatalogue({"[DMX]", "A=1"});
         QDir(show.launcherFolder()).mkdir(QStringLiteral("Folder") + suffix);
       },
       QStringLiteral("未写入启动器:模板启动器 Folder%1 不是普通文件(是链接、文件夹或设备)")
           .arg(suffix)},
      {"template outside", QStringLiteral("../secret"),
       [](const Installation& show) {
         show.writeCatalogue({"[DMX]", "A=1"});
       },
       QStringLiteral("未写入启动器:模板启动器名 ../secret 不能作文件名")},
  };
  for (const Case& c : cases) {
    Installation show;
    c.prepare(show);
    Builder b(show, c.handoff);
    b.form.Command2_Click();
    EXPECT_EQ(b.form.Label1.caption(), c.said) << c.what;
  }
}

TEST(LauncherBuilderGeneration, GenerationAloneUsesTheCurrentListAndTemplate) {
  Installation show;
  show.writeLauncherFile(QStringLiteral("Other"), programBytes(64, 'x'));
  show.writeCatalogue({"[DMX]", "A=1"});
  Builder b(show);
  b.form.Command2_Click();
  b.driverText1.setText(QStringLiteral("Other"));
  b.form.List1.addItem(QStringLiteral("B"));
  b.form.Command1.click();
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), programBytes(64, 'x'));
  EXPECT_EQ(readAll(show.launcher(QStringLiteral("B"))), programBytes(64, 'x'));
}

#ifndef Q_OS_WIN
// The hand-off value is whatever a launcher's file is called: a link in the launcher folder
// would have any file the user can read copied over every launcher; a FIFO would never open.
TEST(LauncherBuilderGeneration, ATemplateThatIsNoRegularFileIsNeverCopied) {
  struct Case {
    const char* what;
    std::function<void(const Installation&, const QString& at)> put;
  };
  const std::vector<Case> cases = {
      {"link to a file outside",
       [](const Installation& show, const QString& at) {
         writeBytes(show.root() + QStringLiteral("/secret"), "private");
         QFile::setPermissions(show.root() + QStringLiteral("/secret"), kExecutable);
         ASSERT_TRUE(QFile::link(show.root() + QStringLiteral("/secret"), at));
       }},
      {"link to the stub",
       [](const Installation& show, const QString& at) {
         ASSERT_TRUE(QFile::link(show.launcher(kTemplate), at));
       }},
      {"link to /dev/zero",
       [](const Installation&, const QString& at) {
         ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), at));
       }},
      {"FIFO",
       [](const Installation&, const QString& at) {
         ASSERT_EQ(::mkfifo(QFile::encodeName(at).constData(), 0600), 0);
       }},
  };
  for (const Case& c : cases) {
    Installation show;
    show.writeLauncherFile(QStringLiteral("A"), programBytes(100, 'a'));
    show.writeCatalogue({"[DMX]", "A=1", "B=2", kTemplate + QStringLiteral("=3")});
    const QString at = show.launcher(QStringLiteral("Evil"));
    c.put(show, at);
    Builder b(show, QStringLiteral("Evil"));
    EXPECT_TRUE(testing::returnsWithoutWaitingOnFifo(at, [&] { b.form.Command2_Click(); }))
        << c.what;
    EXPECT_EQ(readAll(show.launcher(QStringLiteral("A"))), programBytes(100, 'a')) << c.what;
    EXPECT_FALSE(QFileInfo::exists(show.launcher(QStringLiteral("B")))) << c.what;
    EXPECT_EQ(readAll(show.launcher(kTemplate)), show.templateBytes) << c.what;
    EXPECT_EQ(b.form.Label1.caption(),
              QStringLiteral("未写入启动器:模板启动器 Evil 不是普通文件(是链接、文件夹或设备)"))
        << c.what;
  }
}

TEST(LauncherBuilderGeneration, LinkNamedAsASceneIsNotWrittenThrough) {
  Installation show;
  const QString victim = show.root() + QStringLiteral("/victim");
  writeBytes(victim, "keep me");
  ASSERT_TRUE(QFile::link(victim, show.launcher(QStringLiteral("A"))));
  show.writeCatalogue({"[DMX]", "A=1"});
  Builder b(show);
  b.form.Command2_Click();
  EXPECT_EQ(readAll(victim), "keep me");
}
#endif

}  // namespace
}  // namespace luvrin

// Both systems' rules hold wherever the builder runs, so the Windows rules are proven on Linux.
TEST(LauncherNames, WindowsAndOtherSystemsRulesWhateverThisSystemIs) {
  for (const char* bad : {"CON", "com1", "Lpt9 ", "nul.txt", "a<b", "a?", "x:y", "a|b"}) {
    EXPECT_FALSE(luvrin::isLauncherName(QString::fromUtf8(bad), true)) << bad;
    EXPECT_TRUE(luvrin::isLauncherName(QString::fromUtf8(bad), false)) << bad;
  }
  // ".exe" follows the name, so a trailing dot or blank stays inside the file name.
  for (const char* fine : {"x.", "C ", "开场", "COM0", "console"})
    EXPECT_TRUE(luvrin::isLauncherName(QString::fromUtf8(fine), true)) << fine;
  for (const bool windows : {true, false}) {
    for (const char* never : {"", ".", "..", "a/b", "a\\b", "tab\there"})
      EXPECT_FALSE(luvrin::isLauncherName(QString::fromUtf8(never), windows)) << never;
    EXPECT_FALSE(luvrin::isLauncherName(QString(256, u'a'), windows));
  }
  EXPECT_EQ(luvrin::platform::executableSuffix(true), QStringLiteral(".exe"));
  EXPECT_TRUE(luvrin::platform::executableSuffix(false).isEmpty());
}
