#include "driver_lock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace luvrin;

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

// A driver killed without unlocking leaves its lock file behind. When the next driver gets the
// same process id (Windows hands ids out again soon), the lock names a live process of the same
// name: Qt itself would keep refusing, and no driver would ever start again.
TEST(DriverLock, LeftoverLockNamingThisVeryProcessIsTakenOver) {
  QTemporaryDir dir;
  const QString leftover = dir.filePath(QStringLiteral("LUVRIN.lock"));
  {
    QLockFile held(dir.filePath(QStringLiteral("held.lock")));
    ASSERT_TRUE(held.tryLock(0));
    QFile copy(leftover);
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(readAll(held.fileName()));
  }

  QLockFile plain(leftover);
  plain.setStaleLockTime(0);
  ASSERT_FALSE(plain.tryLock(0)) << "Qt took the leftover over by itself";
  ASSERT_EQ(plain.error(), QLockFile::LockFailedError);

  QLockFile lock(leftover);
  EXPECT_TRUE(takeDriverLock(lock));
  EXPECT_TRUE(lock.isLocked());
  qint64 owner = 0;
  QString host, app;
  ASSERT_TRUE(lock.getLockInfo(&owner, &host, &app));
  EXPECT_EQ(owner, QCoreApplication::applicationPid());
}

TEST(DriverLock, AFreeLockIsTakenAndHeld) {
  QTemporaryDir dir;
  QLockFile lock(dir.filePath(QStringLiteral("LUVRIN.lock")));
  EXPECT_TRUE(takeDriverLock(lock));
  EXPECT_TRUE(lock.isLocked());
  EXPECT_TRUE(QFile::exists(lock.fileName()));
}

// One driver is better than none: a lock that cannot be had at all never ends the driver.
TEST(DriverLock, NoLockToBeHadLetsTheDriverRun) {
  QTemporaryDir dir;
  QFile notAFolder(dir.filePath(QStringLiteral("file")));
  ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
  notAFolder.close();
  QLockFile nowhere(dir.filePath(QStringLiteral("file/LUVRIN.lock")));
  EXPECT_TRUE(takeDriverLock(nowhere));
}

// A driver that starts while another runs: what it does, for each show the running one names,
// whether a launcher of this show just handed a scene over, and whether a display is there.
TEST(DriverLock, ASecondDriverMeetsTheRunningOne) {
  QTemporaryDir dir;
  const QString ours = dir.filePath(QStringLiteral("一/驱动"));
  const QString other = dir.filePath(QStringLiteral("二/驱动"));
  ASSERT_TRUE(QDir().mkpath(ours) && QDir().mkpath(other));
  // The same folder by another way there, as a launcher's link may name it.
  const QString ourLink = ours + QStringLiteral("/../驱动/.");
  const QString hidden = QStringLiteral("状态 \"运行\"");
  using Then = MeetingPlan::Then;
  enum Show { None, Ours, OursLinked, Other, Unnamed };
  struct Case {
    Show running;
    bool hidden, launched, display, answer;
    Then then;
    bool asked, raise, boxed;
    const char* says;  // part of the message; nullptr: none
  };
  const Case cases[] = {
      {None, false, false, true, true, Then::Run, false, false, false, nullptr},
      // Scenes of the same show, as always: the running driver takes the scene up.
      {Ours, false, true, true, true, Then::End, false, false, false, nullptr},
      {Ours, true, true, true, true, Then::End, false, false, false, nullptr},
      // Started by hand: its window comes forward, or the user learns that it has none.
      {Ours, false, false, true, true, Then::End, false, true, false, nullptr},
      {OursLinked, false, false, false, true, Then::End, false, true, false, nullptr},
      {Ours, true, false, true, true, Then::End, false, false, true, "没有窗口 (状态 \"运行\")"},
      {Ours, true, false, false, true, Then::End, false, false, false, "没有窗口"},
      // Another show: the user chooses; with no one to ask, the running show plays on.
      {Other, false, false, true, true, Then::EndRunningThenRun, true, false, false, nullptr},
      {Other, true, true, true, true, Then::EndRunningThenRun, true, false, false, nullptr},
      {Other, false, true, true, false, Then::End, true, false, false, nullptr},
      {Other, true, false, false, true, Then::End, false, false, false, "没有显示, 无法询问"},
      // A driver that names no show plays every launcher's scene; by hand the user is told.
      {Unnamed, false, true, true, true, Then::End, false, false, false, nullptr},
      {Unnamed, false, false, false, true, Then::End, false, false, false, "另一个驱动程序"},
  };
  for (const Case& c : cases) {
    const int row = static_cast<int>(&c - cases);
    RunningDriver running;
    if (c.running != None) running.processId = 42;
    running.show = c.running == Ours         ? ours
                   : c.running == OursLinked ? ourLink
                   : c.running == Other      ? other
                                             : QString();
    if (c.hidden) running.hiddenBecause = hidden;
    QString asked;
    const MeetingPlan plan = meetRunningDriver(
        running, ours, c.launched, [&] { return c.display; },
        [&](const QString& question) {
          asked = question;
          return c.answer;
        });
    EXPECT_EQ(plan.then, c.then) << row;
    EXPECT_EQ(!asked.isEmpty(), c.asked) << row;
    EXPECT_EQ(plan.raise, c.raise) << row;
    EXPECT_EQ(plan.boxed, c.boxed) << row;
    if (c.says) {
      EXPECT_TRUE(plan.message.contains(QString::fromUtf8(c.says)))
          << row << ' ' << plan.message.toStdString();
      EXPECT_EQ(plan.log, plan.message) << row;
    } else {
      EXPECT_EQ(plan.message, QString()) << row;
    }
    if (c.asked) {
      EXPECT_EQ(asked, QStringLiteral("正在运行另一个演出 %1。结束它并开始 %2?")
                           .arg(QDir::toNativeSeparators(other), QDir::toNativeSeparators(ours)))
          << row;
    }
  }
}

// The running driver's note says its show only while it is that driver's: one left by a driver
// that was killed names nothing.
TEST(DriverLock, TheNoteBesideTheLockNamesTheRunningShow) {
  QTemporaryDir dir;
  QLockFile held(dir.filePath(QStringLiteral("LUVRIN.lock")));
  ASSERT_TRUE(takeDriverLock(held));
  const qint64 self = QCoreApplication::applicationPid();
  const struct {
    qint64 writer;
    const char* hiddenBecause;
    const char* show;  // what the second driver reads
  } cases[] = {{self, "", "/演出/驱动"}, {self, "状态 \"运行\"", "/演出/驱动"}, {self + 1, "", ""}};
  for (const auto& c : cases) {
    ASSERT_TRUE(writeRunningDriverNote(held.fileName(), {c.writer, QStringLiteral("/演出/驱动"),
                                                         QString::fromUtf8(c.hiddenBecause)}));
    QLockFile second(held.fileName());
    const RunningDriver running = readRunningDriver(second);
    EXPECT_EQ(running.processId, self);
    EXPECT_EQ(running.show, QString::fromUtf8(c.show));
    EXPECT_EQ(running.hiddenBecause, *c.show ? QString::fromUtf8(c.hiddenBecause) : QString());
  }
  QFile::remove(runningDriverNotePath(held.fileName()));
  QLockFile second(held.fileName());
  EXPECT_EQ(readRunningDriver(second).show, QString());
}

TEST(DriverLock, ALauncherJustHandedOverWhenItsSceneIsFreshAndOfThisShow) {
  QTemporaryDir dir;
  const QString show = dir.filePath(QStringLiteral("驱动"));
  ASSERT_TRUE(QDir().mkpath(show));
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const struct {
    Handoff handoff;
    qint64 agoMs;  // < 0: the store cannot tell
    bool launched;
  } cases[] = {
      {{QStringLiteral("Intro"), show}, 200, true},
      {{QStringLiteral("Intro"), show + QStringLiteral("/.")}, 200, true},
      {{QStringLiteral("Intro"), {}}, 200, true},
      {{QStringLiteral("Intro"), dir.filePath(QStringLiteral("别的/驱动"))}, 200, false},
      {{QStringLiteral("Intro"), show}, 10000, false},
      {{QStringLiteral("Intro"), show}, -1, false},
      {{QString(), show}, 200, false},
  };
  for (const auto& c : cases) {
    const QDateTime written = c.agoMs < 0 ? QDateTime() : now.addMSecs(-c.agoMs);
    EXPECT_EQ(launcherJustHandedOver(c.handoff, written, now, show), c.launched)
        << c.handoff.show.toStdString() << ' ' << c.agoMs;
  }
}
