#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform.h"

using namespace luvrin;

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
