#include "driver_lock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <cstdlib>

#include "platform.h"
#include "regular_file.h"

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

namespace {

const QString kShownWord = QStringLiteral("窗口");
constexpr qint64 kMaxNoteBytes = 64 * 1024;
// A launcher writes within milliseconds of starting the driver; a slow machine may take longer.
constexpr qint64 kHandedOverWithinMs = 3000;

}  // namespace

QString runningDriverNotePath(const QString& lockPath) {
  QString path = lockPath;
  if (path.endsWith(QStringLiteral(".lock"))) path.chop(5);
  return path + QStringLiteral(".show");
}

bool writeRunningDriverNote(const QString& lockPath, const RunningDriver& self) {
  // Whole or not at all: a second driver may read it at any moment.
  QSaveFile file(runningDriverNotePath(lockPath));
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QString text =
      QStringLiteral("%1\n%2\n%3\n")
          .arg(self.processId)
          .arg(self.hiddenBecause.isEmpty() ? kShownWord : self.hiddenBecause, self.show);
  file.write(text.toUtf8());
  return file.commit();
}

RunningDriver readRunningDriver(QLockFile& lock) {
  RunningDriver running;
  QString host, app;
  if (!lock.getLockInfo(&running.processId, &host, &app) || running.processId <= 0) {
    // Held, but by whom it does not say (it is being written): still a driver that runs.
    running.processId = -1;
    return running;
  }
  const platform::RegularFileRead note = platform::readRegularFile(
      runningDriverNotePath(lock.fileName()), kMaxNoteBytes, platform::Links::Refuse);
  if (!note) return running;
  const QStringList lines = QString::fromUtf8(note.bytes).split(u'\n');
  // A note left by a driver that was killed names another process: it says nothing of this one.
  if (lines.size() < 3 || lines[0].toLongLong() != running.processId || lines[2].isEmpty())
    return running;
  running.show = lines[2];
  if (lines[1] != kShownWord) running.hiddenBecause = lines[1];
  return running;
}

bool launcherJustHandedOver(const Handoff& handoff, const QDateTime& writtenAt,
                            const QDateTime& now, const QString& show) {
  if (!writtenAt.isValid() || handoff.scene.isEmpty()) return false;
  if (std::abs(writtenAt.msecsTo(now)) > kHandedOverWithinMs) return false;
  return handoff.show.isEmpty() || platform::sameFolder(handoff.show, show);
}

MeetingPlan meetRunningDriver(const RunningDriver& running, const QString& show, bool launched,
                              const std::function<bool()>& display,
                              const std::function<bool(const QString&)>& ask) {
  MeetingPlan plan;
  const QString ours = QDir::toNativeSeparators(show);
  if (running.processId == 0) {
    plan.then = MeetingPlan::Then::Run;
    return plan;
  }
  const auto tell = [&](const QString& text) {
    plan.message = text;
    plan.boxed = display();
    plan.log = text;
  };
  if (running.show.isEmpty()) {
    // An older driver plays every launcher's scene, as drivers always did.
    if (launched) return plan;
    tell(QStringLiteral("另一个驱动程序正在运行 (进程 %1), 演出 %2 没有开始")
             .arg(running.processId)
             .arg(ours));
    return plan;
  }
  const QString theirs = QDir::toNativeSeparators(running.show);
  if (platform::sameFolder(running.show, show)) {
    // A launcher of this show: the running driver takes the scene up, as it always has.
    if (launched) return plan;
    if (running.hiddenBecause.isEmpty()) {
      plan.raise = true;
      return plan;
    }
    tell(QStringLiteral("演出 %1 的驱动程序已在运行, 没有窗口 (%2)")
             .arg(theirs, running.hiddenBecause));
    return plan;
  }
  if (!display()) {
    plan.message = QStringLiteral("正在运行另一个演出 %1, 演出 %2 没有开始 (没有显示, 无法询问)")
                       .arg(theirs, ours);
    plan.log = plan.message;
    return plan;
  }
  const QString question =
      QStringLiteral("正在运行另一个演出 %1。结束它并开始 %2?").arg(theirs, ours);
  if (ask(question)) {
    plan.then = MeetingPlan::Then::EndRunningThenRun;
    plan.log = question + QStringLiteral(" 是: 结束它");
  } else {
    plan.log = question + QStringLiteral(" 否: 它继续运行");
  }
  return plan;
}

}  // namespace luvrin
