#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

namespace luvrin {

// What a launcher hands over: its scene, and the show it belongs to.
struct Handoff {
  QString scene;
  // The launcher's driver folder, as the launcher names it (not resolved through links). Empty
  // from a launcher that names none (an older one, the remote): any show plays it.
  QString show;
  bool operator==(const Handoff&) const = default;
};

// The per-user hand-off value: the name of the launcher that last started the driver, and its
// show. Launchers write it; the driver reads it fresh at every poll.
class HandoffStore {
 public:
  virtual ~HandoffStore() = default;
  virtual Handoff readHandoff() = 0;
  virtual bool write(const Handoff& value) = 0;
  // The scene alone, and a scene that names no show.
  QString read() { return readHandoff().scene; }
  bool write(const QString& scene) { return write(Handoff{scene, {}}); }
  // Why the last write() failed, as the user is told it.
  virtual QString writeError() const { return QStringLiteral("无法写入交接值"); }
  // Calls onChange soon after the value may have changed, where the system can tell (an empty
  // function stops it). Reading stays the caller's: a notice missed costs only the poll's delay.
  virtual void watch(std::function<void()> onChange) { (void)onChange; }
  // When the value was last written, where the system can tell (null else).
  virtual QDateTime writtenAt() { return {}; }
};

}  // namespace luvrin
