#pragma once

#include <QDateTime>
#include <QLockFile>
#include <QString>
#include <functional>

#include "handoff_store.h"

namespace luvrin {

// Where the lock lives: the user's runtime folder; without one, a folder of the user's own in
// the temporary folder; when another user holds that name, the user's state folder. Never a
// place where another user's file could stand in for the lock.
QString driverLockPath();

// Takes the lock that keeps one driver per user; false while another driver holds it. The lock
// is taken over only when its owner is gone, never because it is old, since a show runs for days.
bool takeDriverLock(QLockFile& lock);

// What the driver holding the lock tells another one that starts: its show (its driver folder)
// and whether it has a window to bring forward. Written beside the lock once the driver listens
// for requests, so a driver that named itself can be asked to come forward or to end.
struct RunningDriver {
  qint64 processId = 0;  // 0: no driver holds the lock; -1: one does, which it does not say
  QString show;          // empty: it named no show (an older driver, or one just starting)
  // Why it shows no window ("" when it shows one): its 运行 status, or no display.
  QString hiddenBecause;
};

// The note beside the lock at lockPath.
QString runningDriverNotePath(const QString& lockPath);
bool writeRunningDriverNote(const QString& lockPath, const RunningDriver& self);
// The driver that holds lock (which this process failed to take): its process id from the lock,
// the rest from the note when the note is that process's.
RunningDriver readRunningDriver(QLockFile& lock);

// Whether a launcher of show has just handed a scene over (written within a few seconds of now):
// then it started this driver, and the running one plays that scene as it always has.
bool launcherJustHandedOver(const Handoff& handoff, const QDateTime& writtenAt,
                            const QDateTime& now, const QString& show);

// What a driver of show does on finding running holding the lock.
struct MeetingPlan {
  enum class Then {
    Run,                // no driver was running
    End,                // this one ends; the running one goes on
    EndRunningThenRun,  // the user chose this show: the running driver is ended first
  };
  Then then = Then::End;
  bool raise = false;  // the running driver is asked to bring its window forward
  QString message;     // for the user: a message box where a display is, else stderr
  bool boxed = false;  // message goes in a message box
  QString log;         // for the log ("" for nothing)
};
// display: whether a display can be opened (asked only when something must be shown).
// ask: a yes/no question to the user, asked only where a display is.
MeetingPlan meetRunningDriver(const RunningDriver& running, const QString& show, bool launched,
                              const std::function<bool()>& display,
                              const std::function<bool(const QString&)>& ask);

}  // namespace luvrin
