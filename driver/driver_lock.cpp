#include "driver_lock.h"

#include <QCoreApplication>
#include <QString>

#include "platform.h"

namespace luvrin {

bool takeDriverLock(QLockFile& lock) {
  lock.setStaleLockTime(0);
  if (lock.tryLock(0)) return true;
  if (lock.error() != QLockFile::LockFailedError) return true;  // no lock to be had: run anyway
  // Only a driver of this user keeps this one from running: a lock file someone else left where
  // ours belongs does not.
  if (platform::ownedByAnotherUser(lock.fileName())) {
    qWarning().noquote() << QStringLiteral(
                                "LUVRIN: 锁文件 %1 属于另一个用户, 忽略 (the lock file belongs to "
                                "another user; ignored)")
                                .arg(lock.fileName());
    return true;
  }
  // A driver that was killed leaves its process id in the lock. Windows (and a container) soon
  // hands the same id out again, and then the lock calls its owner alive: it is this process.
  qint64 owner = 0;
  QString host, app;
  return lock.getLockInfo(&owner, &host, &app) && owner == QCoreApplication::applicationPid() &&
         lock.removeStaleLockFile() && lock.tryLock(0);
}

}  // namespace luvrin
