#include "output_thread.h"

#include <utility>

#include "frame_priority.h"
#include "log_categories.h"

namespace luvrin {

namespace {

PostTo postTo(QObject* context) {
  return [context](std::function<void()> fn) {
    QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
  };
}

}  // namespace

OutputThread::OutputThread(Factory make)
    : thread_(std::make_unique<QThread>()),
      threadContext_(new QObject),
      runner_(std::make_unique<OutputRunner>(
          OutputRunner::Sides{windowScheduler_, postTo(threadContext_), postTo(&windowContext_)})) {
  thread_->setObjectName(QStringLiteral("LUVRIN output"));
  threadContext_->moveToThread(thread_.get());
  // Ordinary until the system grants more, and then for this thread alone.
  thread_->start();
  QMetaObject::invokeMethod(
      threadContext_,
      [this, make = std::move(make)] {
        platform::raiseFramePriority(threadContext_, [](const platform::FramePriority& p) {
          if (p.granted) {
            qCDebug(lcSerial).noquote() << "输出线程: 实时优先级" << p.detail;
          } else {
            qCWarning(lcSerial).noquote() << "输出线程没有得到实时优先级:" << p.detail;
          }
        });
        side_ = std::make_unique<Side>();
        runner_->start(side_->scheduler, make, makeFrameWaker());
      },
      Qt::QueuedConnection);
}

OutputThread::~OutputThread() {
  runner_->detach();
  QMetaObject::invokeMethod(
      threadContext_,
      [this] {
        runner_->stop();
        side_.reset();
        QThread::currentThread()->quit();
      },
      Qt::QueuedConnection);
  if (thread_->wait(kStopWaitMs)) {
    delete threadContext_;
  } else {
    // The output would not close in time (a device stuck in the system): the program is ending,
    // and waiting on would only keep the lights from the next driver. Leave the thread be, with
    // all that it still uses.
    (void)thread_.release();
    (void)side_.release();
    (void)runner_.release();
  }
}

}  // namespace luvrin
