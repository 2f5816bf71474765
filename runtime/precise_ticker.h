#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>

namespace luvrin {

// A periodic wake-up on the system's own timer, kept on its grid by the kernel. Qt's repeating
// timers re-arm from the moment they fired, so a 1 ms timer runs about 7% slow; the frame timer
// at its shortest interval needs the real grid. Where the system has no such timer this falls
// back to a precise QTimer.
class PreciseTicker : public QObject {
  Q_OBJECT
 public:
  explicit PreciseTicker(QObject* parent = nullptr);
  ~PreciseTicker() override;

  // First tick after firstNs, then every periodNs.
  void start(std::int64_t firstNs, std::int64_t periodNs);
  void stop();
  bool active() const { return active_; }

 signals:
  void timeout();

 private:
  bool active_ = false;
  int fd_ = -1;
  QObject* notifier_ = nullptr;
  QTimer fallback_;
};

}  // namespace luvrin
