#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace luvrin::platform {

// What the system granted the output thread, or why nothing.
struct FramePriority {
  bool granted = false;
  // Granted: how ("SCHED_FIFO 15"); refused: why, and how the user allows it.
  QString detail;
};

// Asks the system to run the calling thread, the output thread, before ordinary programs, so a
// busy machine cannot hold a frame back: SCHED_FIFO at a modest priority where the user may have
// it, else the desktop's real-time broker (RealtimeKit) where there is one on Linux;
// THREAD_PRIORITY_TIME_CRITICAL on Windows. The priority is the calling thread's alone: threads it
// starts, and the program's other threads, stay ordinary. A thread that kept the processor without
// sleeping for a tenth of a second is put back to ordinary priority by the system, so a loop that
// spins can slow the frames but never take the machine.
// onResult runs once on the calling thread, possibly later (the broker answers over D-Bus), never
// after context is destroyed.
void raiseFramePriority(QObject* context, std::function<void(const FramePriority&)> onResult);

}  // namespace luvrin::platform
