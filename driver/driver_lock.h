#pragma once

#include <QLockFile>
#include <QString>

namespace luvrin {

// Where the lock lives: the user's runtime folder; without one, a folder of the user's own in
// the temporary folder; when another user holds that name, the user's state folder. Never a
// place where another user's file could stand in for the lock.
QString driverLockPath();

// Takes the lock that keeps one driver per user; false while another driver holds it. The lock
// is taken over only when its owner is gone, never because it is old, since a show runs for days.
bool takeDriverLock(QLockFile& lock);

}  // namespace luvrin
