#pragma once

#include <QLockFile>

namespace luvrin {

// Takes the lock that keeps one driver per user; false while another driver holds it. The lock
// is taken over only when its owner is gone, never because it is old, since a show runs for days.
bool takeDriverLock(QLockFile& lock);

}  // namespace luvrin
