#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>

#include "driver_lock.h"

using namespace luvrin;

// A lock file left where ours belongs by another user, naming one of their live processes, never
// ends our driver.
TEST(DriverLock, AnotherUsersLockLetsTheDriverRun) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  QTemporaryDir dir;
  // A lock naming a live process that is not this one.
  QProcess sleeper;
  sleeper.start(QStringLiteral("sleep"), {QStringLiteral("60")});
  ASSERT_TRUE(sleeper.waitForStarted());
  QByteArrayList info;
  {
    QLockFile held(dir.filePath(QStringLiteral("held.lock")));
    ASSERT_TRUE(held.tryLock(0));
    QFile f(held.fileName());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    info = f.readAll().split('\n');
  }
  ASSERT_GE(info.size(), 3);
  info[0] = QByteArray::number(sleeper.processId());
  info[1] = "sleep";
  const QString path = dir.filePath(QStringLiteral("LUVRIN.lock"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(info.join('\n'));
  }
  QLockFile ours(path);
  EXPECT_FALSE(takeDriverLock(ours)) << "the planted lock does not stand for a live driver";

  ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
  QLockFile theirs(path);
  EXPECT_TRUE(takeDriverLock(theirs));
  sleeper.kill();
  sleeper.waitForFinished();
}
