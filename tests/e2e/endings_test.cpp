#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "e2e_support.h"

using namespace luvrin::e2e;

namespace {

// The serial device lock the driver holds for its port: the lock file naming its process id.
QString deviceLockOf(qint64 pid) {
  for (const QString& folder : {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")}) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("LCK..*")}, QDir::Files)) {
      QFile f(dir.filePath(name));
      if (f.open(QIODevice::ReadOnly) && f.readLine().trimmed().toLongLong() == pid)
        return f.fileName();
    }
  }
  return {};
}

}  // namespace

// A service manager or a terminal ends a hidden driver with a signal; it must give its port back
// as when its window closes, or nobody else can open the port while the lock file stays.
TEST(Endings, EndingSignalsGiveThePortAndItsLockBack) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    Show show;
    Pty pty;
    ASSERT_TRUE(pty.ok());
    writePtySettings(show, pty, QStringLiteral("运行"));
    QProcess& driver = show.startDriver();
    ASSERT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, Levels(5, 0)) >= 5; }));
    const QString lock = deviceLockOf(driver.processId());
    ASSERT_FALSE(lock.isEmpty()) << "no device lock for the port";

    ::kill(static_cast<pid_t>(driver.processId()), sig);
    ASSERT_TRUE(driver.waitForFinished(10000)) << sig;
    EXPECT_EQ(driver.exitStatus(), QProcess::NormalExit) << sig;
    EXPECT_EQ(driver.exitCode(), 0) << sig;
    EXPECT_FALSE(QFile::exists(lock)) << sig;
  }
}

// On Windows a launcher has no console: a scene that silently never changes is all its user
// would see. It says why, in its exit code and the user's log.
TEST(Endings, ALauncherThatCannotHandOverItsSceneSaysSo) {
  Show show;
  show.writeSettings({{QStringLiteral("状态"), QStringLiteral("运行")},
                      {QStringLiteral("发送定时器时间"), QStringLiteral("0")}});
  // Nothing can be written where the hand-off file belongs.
  ASSERT_TRUE(QDir().mkpath(show.configHome() + QStringLiteral("/TALVEN/LUVRIN.ini")));
  const QString launcher = show.addLauncher(QStringLiteral("开场"));
  EXPECT_EQ(show.run(launcher, show.environment()), 1);
  EXPECT_TRUE(waitUntil([&] {
    return show.logText().contains(QStringLiteral("LUVRINpREG: 无法把场景 \"开场\" 交给驱动程序"));
  })) << show.logText().toStdString();
}

// A hidden driver shows nothing: why it sends nothing is in the user's log.
TEST(Endings, AHiddenDriverLogsWhyItsOutputWasRefused) {
  Show show;
  show.writeSettings({{QStringLiteral("状态"), QStringLiteral("运行")},
                      {QStringLiteral("端口"), QStringLiteral("sacn:0")}});
  show.startDriver();
  EXPECT_TRUE(waitUntil([&] {
    return show.logText().contains(QStringLiteral("LUVRIN: 输出: 端口 \"sacn:0\""));
  })) << show.logText().toStdString();
}
