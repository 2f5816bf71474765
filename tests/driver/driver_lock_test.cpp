#include "driver_lock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
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
