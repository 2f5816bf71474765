#pragma once

#include <QString>
#include <functional>

namespace luvrin {

// The per-user hand-off value: the name of the launcher that last started the driver. Launchers
// write it; the driver reads it fresh at every poll.
class HandoffStore {
 public:
  virtual ~HandoffStore() = default;
  virtual QString read() = 0;
  virtual bool write(const QString& value) = 0;
  // Why the last write() failed, as the user is told it.
  virtual QString writeError() const { return QStringLiteral("无法写入交接值"); }
  // Calls onChange soon after the value may have changed, where the system can tell (an empty
  // function stops it). Reading stays the caller's: a notice missed costs only the poll's delay.
  virtual void watch(std::function<void()> onChange) { (void)onChange; }
};

}  // namespace luvrin
