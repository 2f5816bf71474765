#include "launcher.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

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
