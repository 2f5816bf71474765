#include "driver_lock.h"

#include <QCoreApplication>
#include <QString>

namespace luvrin {

bool takeDriverLock(QLockFile& lock) {
  lock.setStaleLockTime(0);
  if (lock.tryLock(0)) return true;
  if (lock.error() != QLockFile::LockFailedError) return true;  // no lock to be had: run anyway
  // A driver that was killed leaves its process id in the lock. Windows (and a container) soon
  // hands the same id out again, and then the lock calls its owner alive: it is this process.
  qint64 owner = 0;
  QString host, app;
  return lock.getLockInfo(&owner, &host, &app) && owner == QCoreApplication::applicationPid() &&
         lock.removeStaleLockFile() && lock.tryLock(0);
}

}  // namespace luvrin
