#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include "e2e_support.h"
#include "handoff_form.h"

using namespace luvrin;
using namespace luvrin::e2e;

namespace {

// 发送数据长度 4: frames carry five level bytes; the fifth (channel 5) was cleared at start-up.
const Levels kLook = {0x3A, 0x2E, 255, 1, 0};
const QString kLookEntry = QStringLiteral("Look=DMX058,046,255,001,");

}  // namespace

TEST(DriverProcess, SendsByteExactFramesOfTheSceneItWasHanded) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("正常"));
  show.writeCatalog({kLookEntry});
  show.setHandoffValue(QStringLiteral("Look"));
  auto env = show.environment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  show.startDriver(env);

  ASSERT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, kLook) >= 20; }))
      << pty.received().left(200).toHex(' ').toStdString();
  const FrameScan scan = scanFrames(pty.received(), kLook.size());
  EXPECT_TRUE(scan.wellFormed) << pty.received().left(200).toHex(' ').toStdString();
  // Zeros until the first intake pass has read the scene, then the scene's levels only.
  const auto firstLook = std::find(scan.frames.begin(), scan.frames.end(), kLook);
  ASSERT_NE(firstLook, scan.frames.end());
  for (auto it = scan.frames.begin(); it != firstLook; ++it) EXPECT_EQ(*it, Levels(5, 0));
  for (auto it = firstLook; it != scan.frames.end(); ++it) EXPECT_EQ(*it, kLook);
}

TEST(DriverProcess, ASecondDriverEndsAtOnceAndTheFirstKeepsSending) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  QProcess& first = show.startDriver();
  ASSERT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, Levels(5, 0)) >= 5; }));
  EXPECT_EQ(show.lockOwner(), first.processId());

  EXPECT_EQ(show.run(show.driverProgram(), show.environment()), 0);

  pty.clear();
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, Levels(5, 0)) >= 20; }));
  EXPECT_TRUE(scanFrames(pty.received(), 5).wellFormed);
  EXPECT_EQ(first.state(), QProcess::Running);
  EXPECT_EQ(show.lockOwner(), first.processId());
}

TEST(DriverProcess, ALockLeftByADeadDriverIsTakenOver) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  QProcess& crashed = show.startDriver();
  ASSERT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, Levels(5, 0)) >= 1; }));
  crashed.kill();  // no chance to remove its lock file
  ASSERT_TRUE(crashed.waitForFinished(10000));
  ASSERT_NE(show.lockOwner(), 0);

  QProcess& next = show.startDriver();
  pty.clear();
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, Levels(5, 0)) >= 5; }));
  EXPECT_EQ(show.lockOwner(), next.processId());
}

TEST(DriverProcess, RunStatusNeedsNoDisplay) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  show.writeCatalog({kLookEntry});
  show.setHandoffValue(QStringLiteral("Look"));
  // environment(): no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM.
  QProcess& driver = show.startDriver();
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, kLook) >= 10; }));
  EXPECT_EQ(driver.state(), QProcess::Running);
}

TEST(DriverProcess, AShownDriverWithoutADisplayStillSends) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("正常"));
  QProcess& driver = show.startDriver();
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, Levels(5, 0)) >= 10; }));
  EXPECT_EQ(driver.state(), QProcess::Running);
}

TEST(LauncherProcess, ACopyNamedIntroHandsOverItsNameAndStartsTheDriver) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  show.writeCatalog(
      {QStringLiteral("Intro=DMX010,020,030,040,"), QStringLiteral("Finale=DMX200,000,100,000,")});
  const QString intro = show.addLauncher(QStringLiteral("Intro"));

  EXPECT_EQ(show.run(intro, show.environment()), 0);
  EXPECT_EQ(show.handoffValue(), QStringLiteral("Intro"));
  // The hand-off names the show it is for: the launcher's driver folder.
  QFile file(show.configHome() + QStringLiteral("/TALVEN/LUVRIN.ini"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(handoff::decode(file.readAll().toStdString()).show,
            QFile::encodeName(show.driverFolder()).toStdString());
  // The driver it started plays Intro.
  ASSERT_TRUE(pty.waitFor([](const QByteArray& s) {
    return countFrames(s, {10, 20, 30, 40, 0}) >= 5;
  }));
  const qint64 driver = show.lockOwner();
  EXPECT_TRUE(processAlive(driver));

  // A symbolic link is a launcher too, under its own name; the running driver takes it up and
  // the driver it started ends at once.
  const QString finale = show.addLauncher(QStringLiteral("Finale"), true);
  EXPECT_EQ(show.run(finale, show.environment()), 0);
  EXPECT_EQ(show.handoffValue(), QStringLiteral("Finale"));
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) {
    return countFrames(s, {200, 0, 100, 0, 0}) >= 5;
  }));
  EXPECT_EQ(show.lockOwner(), driver);
  EXPECT_TRUE(waitUntil([&] { return driverProcesses(show) == std::vector<qint64>{driver}; }));
}

// A link on the desktop to a show's launcher is a launcher of that show.
TEST(LauncherProcess, ALinkWhereNoShowIsStartsTheDriverOfItsTarget) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,040,")});
  ASSERT_TRUE(QDir().mkpath(show.path(QStringLiteral("desktop"))));
  const QString link = show.path(QStringLiteral("desktop/Intro"));
  ASSERT_TRUE(QFile::link(show.addLauncher(QStringLiteral("Intro")), link));
  EXPECT_EQ(show.run(link, show.environment()), 0);
  QFile file(show.configHome() + QStringLiteral("/TALVEN/LUVRIN.ini"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(handoff::decode(file.readAll().toStdString()).show,
            QFile::encodeName(show.driverFolder()).toStdString());
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) {
    return countFrames(s, {10, 20, 30, 40, 0}) >= 5;
  }));
}

// A launcher copied away from its show plays nothing: it says why, in its exit code, on stderr
// and in the user's log, and leaves the hand-off as it was.
TEST(LauncherProcess, WithoutADriverBesideItSaysSoAndEndsWith1) {
  Show show;
  show.setHandoffValue(QStringLiteral("Before"));
  const QString lone = show.path(QStringLiteral("Lone"));
  ASSERT_TRUE(QFile::copy(show.launcherFolder() + QStringLiteral("/LUVRINpREG"), lone));
  QProcess launcher;
  launcher.setProcessEnvironment(show.environment());
  launcher.start(lone, {});
  ASSERT_TRUE(launcher.waitForFinished(int(kDeadline.count())));
  EXPECT_EQ(launcher.exitCode(), 1);
  const QString said = QString::fromUtf8(launcher.readAllStandardError());
  const QString why =
      QStringLiteral("LUVRINpREG: 找不到驱动程序 %1").arg(show.path(QStringLiteral("驱动/LUVRIN")));
  EXPECT_TRUE(said.startsWith(why) && said.contains(QStringLiteral("快捷方式")))
      << said.toStdString();
  EXPECT_TRUE(show.logText().contains(why)) << show.logText().toStdString();
  EXPECT_EQ(show.handoffValue(), QStringLiteral("Before"));
  EXPECT_EQ(show.lockOwner(), 0);
}

// A show that ends while launchers are still starting drivers must leave nothing running: a
// stray driver would hold ctest's output pipe, another test's pseudo-terminal, or the user's own
// lock once its temporary folders are gone.
TEST(ShowTeardown, EndsDriversThatLaunchersAreStillStarting) {
  QString root;
  {
    Show show;
    root = show.path(QString());
    show.writeSettings({{QStringLiteral("状态"), QStringLiteral("运行")},
                        {QStringLiteral("端口"), show.path(QStringLiteral("no-such-port"))}});
    const QString launcher = show.addLauncher(QStringLiteral("Late"));
    QProcess starter;  // not the show's: what it starts is nobody's child but an orphan's
    starter.setProcessEnvironment(show.environment());
    starter.setProgram(launcher);
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(starter.startDetached());
  }
  const auto showProcesses = [&] {
    std::vector<qint64> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
      bool number = false;
      const qint64 pid = entry.toLongLong(&number);
      if (!number || !processAlive(pid)) continue;
      QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
      if (environ.open(QIODevice::ReadOnly) && environ.readAll().contains(root.toUtf8()))
        found.push_back(pid);
    }
    return found;
  };
  EXPECT_TRUE(showProcesses().empty());
  // Nothing still on its way either.
  QThread::msleep(1500);
  EXPECT_TRUE(showProcesses().empty()) << showProcesses().size() << " processes left";
  for (const qint64 pid : showProcesses()) ::kill(static_cast<pid_t>(pid), SIGKILL);
  // Drivers asked to end while starting gave their port's device lock back.
  QString portLock = root + QStringLiteral("no-such-port");
  portLock.replace(u'/', u'_');
  EXPECT_FALSE(QFile::exists(QStringLiteral("/run/lock/LCK..") + portLock))
      << portLock.toStdString();
}

// Two shows side by side for one user: while show 1 plays, show 2's launcher of a scene both
// shows have changes nothing on show 1's wire; show 1's driver logs that it did not play it, and
// the driver show 2's launcher started finds no display to ask on, says so and ends.
TEST(LauncherProcess, AnotherShowsLauncherLeavesTheRunningShowAlone) {
  Show first;
  Show second;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(first, pty, QStringLiteral("运行"));
  writePtySettings(second, pty, QStringLiteral("运行"));
  first.writeCatalog(
      {QStringLiteral("Look=DMX001,002,003,004,"), QStringLiteral("Dark=DMX000,000,000,000,")});
  second.writeCatalog({QStringLiteral("Dark=DMX009,009,009,009,")});
  const QProcessEnvironment user = first.environment();  // one user: one hand-off, one lock
  ASSERT_EQ(first.run(first.addLauncher(QStringLiteral("Look")), user), 0);
  const Levels look = {1, 2, 3, 4, 0};
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) { return countFrames(s, look) >= 5; }));
  const qint64 playing = first.lockOwner();

  pty.clear();
  EXPECT_EQ(second.run(second.addLauncher(QStringLiteral("Dark")), user), 0);
  EXPECT_TRUE(waitUntil([&] {
    const QString log = first.logText();
    return log.contains(QStringLiteral("这里运行的是演出")) &&
           log.contains(QStringLiteral("正在运行另一个演出 %1, 演出 %2 没有开始")
                            .arg(first.driverFolder(), second.driverFolder()));
  })) << first.logText().toStdString();
  EXPECT_TRUE(waitUntil([&] { return driverProcesses(second).empty(); }));
  const std::size_t seen = scanFrames(pty.received(), kLook.size()).frames.size();
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) { return countFrames(s, look) >= seen + 20; }));
  const FrameScan scan = scanFrames(pty.received(), kLook.size());
  EXPECT_TRUE(scan.wellFormed);
  EXPECT_EQ(countFrames(pty.received(), look), scan.frames.size());
  EXPECT_EQ(first.lockOwner(), playing);
}
