#pragma once

#include <QObject>
#include <QTimer>

#include "scheduler.h"

namespace luvrin {

// Drives a Scheduler from Qt's event loop in real time: one precise single-shot QTimer armed for
// the next due time (0 ms while tasks are ready, so Qt's own events run between rounds). Nothing
// spins: with nothing due the thread sleeps in the event loop.
class SchedulerPump : public QObject {
  Q_OBJECT
 public:
  explicit SchedulerPump(Scheduler& scheduler, QObject* parent = nullptr);
  ~SchedulerPump() override;

 private:
  void arm();
  void onTimeout();

  Scheduler& scheduler_;
  QTimer timer_;
  bool running_ = false;
};

}  // namespace luvrin
