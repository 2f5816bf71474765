#include "driver_lock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include "platform.h"

namespace luvrin {

QString driverLockPath() {
  const QString name = QStringLiteral("/LUVRIN.lock");
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (QDir::isAbsolutePath(runtime) && platform::ownPrivateFolder(runtime)) return runtime + name;
  const QString temporary =
      QDir::tempPath() + QStringLiteral("/LUVRIN-%1").arg(platform::userKey());
  if (platform::ownPrivateFolder(temporary)) return temporary + name;
  const QString state = platform::userLogFolder();
  QDir().mkpath(state);
  return state + name;
}

bool takeDriverLock(QLockFile& lock) {
  lock.setStaleLockTime(0);
  if (lock.tryLock(0)) return true;
  if (lock.error() != QLockFile::LockFailedError) return true;  // no lock to be had: run anyway
  // Only a driver of this user keeps this one from running: a lock file someone else left where
  // ours belongs does not.
  if (platform::ownedByAnotherUser(lock.fileName())) {
    qWarning().noquote()
        << QStringLiteral(
               "LUVRIN: 锁文件 %1 属于另一个用户, 已删除 (the lock file belongs to "
               "another user; removed)")
               .arg(lock.fileName());
    // Ignoring it would let every driver of this user run: the lock is taken in its place.
    if (QFile::remove(lock.fileName()) && lock.tryLock(0)) return true;
    return lock.error() != QLockFile::LockFailedError;
  }
  // A driver that was killed leaves its process id in the lock. Windows (and a container) soon
  // hands the same id out again, and then the lock calls its owner alive: it is this process.
  qint64 owner = 0;
  QString host, app;
  return lock.getLockInfo(&owner, &host, &app) && owner == QCoreApplication::applicationPid() &&
         lock.removeStaleLockFile() && lock.tryLock(0);
}

}  // namespace luvrin
