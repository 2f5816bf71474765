#pragma once

#include <QObject>
#include <QTimer>

#include "precise_ticker.h"
#include "scheduler.h"

namespace luvrin {

// Drives a Scheduler from Qt's event loop in real time. Nothing spins: with nothing due the
// thread sleeps in the event loop.
//  - While something is due every millisecond (the frame timer at its shortest interval) a
//    PreciseTicker wakes it in the middle of every millisecond of its clock: re-arming a Qt
//    timer after every wake loses a fraction of a millisecond each time and so would drop a
//    frame every dozen ticks.
//  - Otherwise tick_, a single shot, wakes it at the next due time.
//  - kick_ runs ready tasks and posted events as soon as Qt's own events have run.
class SchedulerPump : public QObject {
  Q_OBJECT
 public:
  explicit SchedulerPump(Scheduler& scheduler, QObject* parent = nullptr);
  ~SchedulerPump() override;

 private:
  void arm();
  void onTimeout();

  Scheduler& scheduler_;
  PreciseTicker ticker_;
  QTimer tick_;
  QTimer kick_;
  bool running_ = false;
};

}  // namespace luvrin
