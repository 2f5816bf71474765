#include "launcher.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform.h"

using namespace luvrin;

TEST(LauncherName, OnLinuxTheNameItWasStartedUnder) {
  const QString program = QStringLiteral("/show/LUVRINpREG");
  EXPECT_EQ(launcherName(QStringLiteral("/show/Intro"), program, false), QStringLiteral("Intro"));
  EXPECT_EQ(launcherName(QStringLiteral("./开场"), program, false), QStringLiteral("开场"));
  // A symbolic link resolves to LUVRINpREG as a program file; its own name is what counts.
  EXPECT_EQ(launcherName(QStringLiteral("Finale"), program, false), QStringLiteral("Finale"));
  // Nothing but the file name: no folder, and a dot in the name stays.
  EXPECT_EQ(launcherName(QStringLiteral("/a/b/Act 1.exe"), program, false),
            QStringLiteral("Act 1.exe"));
  EXPECT_EQ(launcherName(QString(), program, false), QStringLiteral("LUVRINpREG"));
}

TEST(LauncherName, OnWindowsTheProgramFileWithoutExe) {
  EXPECT_EQ(launcherName(QStringLiteral("whatever"), QStringLiteral("C:/Show/Finale.exe"), true),
            QStringLiteral("Finale"));
  EXPECT_EQ(launcherName(QString(), QStringLiteral("C:/Show/LUVRINpREG.EXE"), true),
            QStringLiteral("LUVRINpREG"));
  EXPECT_EQ(launcherName(QString(), QStringLiteral("C:/Show/Act 1.v2.exe"), true),
            QStringLiteral("Act 1.v2"));
}

TEST(LauncherName, DriverLiesInTheDriverFolderBelow) {
  EXPECT_EQ(driverProgramPath(QStringLiteral("/my show"), false),
            QStringLiteral("/my show/驱动/LUVRIN"));
  EXPECT_EQ(driverProgramPath(QStringLiteral("C:/Show"), true),
            QStringLiteral("C:/Show/驱动/LUVRIN.EXE"));
}

// The folder a program works from is the one it was started from, links not resolved.
class ProgramFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    self_ = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    // Windows asks the system for the module's file instead; links are no concern there.
    if (self_.isEmpty()) GTEST_SKIP() << "no /proc/self/exe";
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("show")));
    link_ = dir_.path() + QStringLiteral("/show/Intro");
    ASSERT_TRUE(QFile::link(self_, link_));
  }
  QTemporaryDir dir_;
  QString self_;
  QString link_;
};

TEST_F(ProgramFolder, ALinkWorksFromTheLinksFolder) {
  const QByteArray path = QFile::encodeName(link_);
  EXPECT_EQ(platform::programFolder(path.constData()), dir_.path() + QStringLiteral("/show"));

  // Relative to the working folder, as a shell passes "./Intro".
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir_.path() + QStringLiteral("/show")));
  const QString relative = platform::programFolder("./Intro");
  QDir::setCurrent(before);
  EXPECT_EQ(relative, dir_.path() + QStringLiteral("/show"));
}

TEST_F(ProgramFolder, ABareNameIsFoundThroughPath) {
  const QByteArray before = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(QStringLiteral("/nonexistent:") + dir_.path() +
                                    QStringLiteral("/show")));
  const QString found = platform::programFolder("Intro");
  qputenv("PATH", before);
  EXPECT_EQ(found, dir_.path() + QStringLiteral("/show"));
}

TEST_F(ProgramFolder, AnArgv0ThatIsNotThisProgramIsNotBelieved) {
  const QString own = QFileInfo(self_).absolutePath();
  EXPECT_EQ(platform::programFolder("/bin/sh"), own);
  EXPECT_EQ(platform::programFolder("NoSuchProgramAnywhere"), own);
  EXPECT_EQ(platform::programFolder(""), own);
  EXPECT_EQ(platform::programFolder(nullptr), own);
}
