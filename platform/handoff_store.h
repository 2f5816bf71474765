#pragma once

#include <QString>

namespace luvrin {

// The per-user hand-off value: the name of the launcher that last started the driver. Launchers
// write it; the driver reads it fresh at every poll.
class HandoffStore {
 public:
  virtual ~HandoffStore() = default;
  virtual QString read() = 0;
  virtual bool write(const QString& value) = 0;
};

}  // namespace luvrin
