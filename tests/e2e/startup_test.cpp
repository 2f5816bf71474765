#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "e2e_support.h"

using namespace luvrin::e2e;

namespace {

const Levels kIntro = {10, 20, 30, 40, 0};

// A display name nothing answers on: no X socket or lock file behind it.
QString deadDisplay() {
  for (int n = 901; n < 999; ++n) {
    if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
        !QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
      return QStringLiteral(":%1").arg(n);
  }
  return QStringLiteral(":999");
}

// A driver started by the test with its error output kept in a file; ended by its process id.
class WatchedDriver {
 public:
  WatchedDriver(const Show& show, const QProcessEnvironment& env) : errors_(show.path("stderr")) {
    process_.setProcessEnvironment(env);
    process_.setStandardErrorFile(errors_);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(show.driverProgram(), {});
    process_.waitForStarted(10000);
    pid_ = process_.processId();
  }
  ~WatchedDriver() {
    if (pid_ > 0 && process_.state() != QProcess::NotRunning) {
      ::kill(pid_, SIGTERM);
      if (!process_.waitForFinished(3000)) ::kill(pid_, SIGKILL);
    }
    process_.waitForFinished(5000);
  }
  WatchedDriver(const WatchedDriver&) = delete;
  WatchedDriver& operator=(const WatchedDriver&) = delete;

  bool running() const { return process_.state() == QProcess::Running && processAlive(pid_); }
  QStringList errorLines() const {
    QFile f(errors_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
  }

 private:
  QString errors_;
  QProcess process_;
  pid_t pid_ = 0;
};

// The show of these tests: the pty as its port, one scene "Intro", handed over unless the test
// starts it through a launcher.
void writeIntroShow(const Show& show, const Pty& pty, const QString& status, bool handedOver) {
  writePtySettings(show, pty, status);
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,040,")});
  if (handedOver) show.setHandoffValue(QStringLiteral("Intro"));
}

QProcessEnvironment withDeadDisplay(const Show& show) {
  QProcessEnvironment env = show.environment();
  env.insert(QStringLiteral("DISPLAY"), deadDisplay());
  return env;
}

}  // namespace

TEST(StartupProcess, AnUnreachableDisplayInRunStatusCostsNothing) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writeIntroShow(show, pty, QStringLiteral("运行"), true);
  WatchedDriver driver(show, withDeadDisplay(show));

  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, kIntro) >= 10; }));
  EXPECT_TRUE(driver.running());
  EXPECT_EQ(driver.errorLines(), QStringList());
}

TEST(StartupProcess, AnUnreachableDisplaySaysSoOnceAndFramesGoOn) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writeIntroShow(show, pty, QStringLiteral("正常"), true);
  WatchedDriver driver(show, withDeadDisplay(show));

  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, kIntro) >= 10; }));
  EXPECT_TRUE(driver.running());
  // Qt's own complaints about the display are not passed on: one line says it all.
  const QStringList lines = driver.errorLines();
  ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(lines[0].contains(QStringLiteral("显示"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].contains(QStringLiteral("display"))) << lines[0].toStdString();
}

TEST(StartupProcess, ALinkToALauncherElsewhereStartsTheShowsDriver) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writeIntroShow(show, pty, QStringLiteral("运行"), false);
  // The stub lives outside the show; the show's launcher is a link to it.
  ASSERT_TRUE(QDir().mkpath(show.path(QStringLiteral("tools"))));
  const QString stub = show.path(QStringLiteral("tools/LUVRINpREG"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(LUVRINPREG_EXE), stub));
  const QString intro = show.launcherFolder() + QStringLiteral("/Intro");
  ASSERT_TRUE(QFile::link(stub, intro));

  EXPECT_EQ(show.run(intro, show.environment()), 0);
  EXPECT_EQ(show.handoffValue(), QStringLiteral("Intro"));
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, kIntro) >= 5; }));
  EXPECT_TRUE(processAlive(show.lockOwner()));
  EXPECT_FALSE(QFileInfo::exists(show.path(QStringLiteral("tools/驱动"))));
}

TEST(StartupProcess, ADriverThatIsALinkReadsTheSettingsOfItsShow) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writeIntroShow(show, pty, QStringLiteral("运行"), true);
  // 驱动/LUVRIN is a link to a driver in a folder with no settings at all.
  ASSERT_TRUE(QDir().mkpath(show.path(QStringLiteral("bin"))));
  const QString real = show.path(QStringLiteral("bin/LUVRIN"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(LUVRIN_EXE), real));
  ASSERT_TRUE(QFile::remove(show.driverProgram()));
  ASSERT_TRUE(QFile::link(real, show.driverProgram()));

  // The port and the scene are only known from the show's 驱动 folder.
  WatchedDriver driver(show, show.environment());
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, kIntro) >= 5; }));
  EXPECT_TRUE(driver.running());
}
