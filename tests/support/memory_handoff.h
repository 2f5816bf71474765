#pragma once

#include <QString>

#include "handoff_store.h"

namespace luvrin::testing {

class MemoryHandoff : public HandoffStore {
 public:
  QString read() override { return value; }
  bool write(const QString& v) override {
    value = v;
    return true;
  }
  QString value;
};

}  // namespace luvrin::testing
