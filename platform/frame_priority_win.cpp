#include <windows.h>

#include "frame_priority.h"

namespace luvrin::platform {

void raiseFramePriority(QObject*, std::function<void(const FramePriority&)> onResult) {
  // Within the normal priority class: the system still boosts a starved thread of another
  // program, so a spinning output thread cannot take the machine.
  if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
    onResult({true, QStringLiteral("THREAD_PRIORITY_TIME_CRITICAL")});
    return;
  }
  onResult({false, QStringLiteral("SetThreadPriority: 错误 %1").arg(GetLastError())});
}

}  // namespace luvrin::platform
