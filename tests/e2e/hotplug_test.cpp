#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <iostream>

#include "e2e_support.h"

using namespace luvrin::e2e;

namespace {

const Levels kZeros(5, 0);

// The port is tried again about once a second; a user plugging the interface back in should see
// the lights answer within a few seconds, even on a loaded machine.
constexpr auto kResumeBound = 5s;

bool holdsDevice(qint64 pid, const QString& device) {
  const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
  for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
    if (QFileInfo(fds.filePath(fd)).symLinkTarget().startsWith(device)) return true;
  }
  return false;
}

void settingsFor(const Show& show, const QString& port) {
  show.writeSettings({{QStringLiteral("端口"), port},
                      {QStringLiteral("发送数据长度"), QStringLiteral("4")},
                      {QStringLiteral("发送定时器时间"), QStringLiteral("5")},
                      {QStringLiteral("状态"), QStringLiteral("运行")}});
}

}  // namespace

TEST(HotPlug, FramesResumeWhenTheDeviceComesBackBehindTheSameLink) {
  Show show;
  const QString link = show.path(QStringLiteral("dmx-port"));
  auto first = std::make_unique<Pty>();
  ASSERT_TRUE(first->ok());
  ASSERT_TRUE(QFile::link(first->path(), link));
  settingsFor(show, link);
  QProcess& driver = show.startDriver();
  const qint64 pid = driver.processId();
  ASSERT_TRUE(first->waitFor([](const QByteArray& s) { return countFrames(s, kZeros) >= 10; }));

  // Pull the plug: the device and its name go away. The driver lets go of it.
  const QString oldDevice = first->path();
  QFile::remove(link);
  first.reset();
  ASSERT_TRUE(waitUntil([&] { return !holdsDevice(pid, oldDevice); }));
  EXPECT_EQ(driver.state(), QProcess::Running);

  // Plug it back in: a new device behind the same name.
  Pty second;
  ASSERT_TRUE(second.ok());
  QElapsedTimer resumed;
  resumed.start();
  ASSERT_TRUE(QFile::link(second.path(), link));
  ASSERT_TRUE(
      second.waitFor([](const QByteArray& s) { return countFrames(s, kZeros) >= 1; }, kResumeBound))
      << "no frame within " << kResumeBound.count() << " s of the device's return";
  std::cout << "[ hot-plug ] frames resumed " << resumed.elapsed()
            << " ms after the device came back\n";
  RecordProperty("resumed_ms", static_cast<int>(resumed.elapsed()));
  ASSERT_TRUE(second.waitFor([](const QByteArray& s) { return countFrames(s, kZeros) >= 10; }));
  EXPECT_TRUE(scanFrames(second.received(), 5).wellFormed);

  // The same process all along.
  EXPECT_EQ(driver.state(), QProcess::Running);
  EXPECT_EQ(driver.processId(), pid);
  EXPECT_EQ(show.lockOwner(), pid);
}

TEST(HotPlug, ADeviceMissingAtStartIsTakenUpWhenItAppears) {
  Show show;
  const QString link = show.path(QStringLiteral("dmx-port"));
  settingsFor(show, link);
  QProcess& driver = show.startDriver();
  // Started without its device: it runs on (the lock says so) and waits for it.
  ASSERT_TRUE(waitUntil([&] { return show.lockOwner() == driver.processId(); }));

  Pty pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(QFile::link(pty.path(), link));
  EXPECT_TRUE(
      pty.waitFor([](const QByteArray& s) { return countFrames(s, kZeros) >= 1; }, kResumeBound))
      << "no frame within " << kResumeBound.count() << " s of the device's arrival";
  EXPECT_TRUE(pty.waitFor([](const QByteArray& s) { return countFrames(s, kZeros) >= 10; }));
  EXPECT_EQ(driver.state(), QProcess::Running);
}
