#pragma once

#include <QString>

#include "handoff_store.h"

namespace luvrin::testing {

class MemoryHandoff : public HandoffStore {
 public:
  using HandoffStore::write;
  Handoff readHandoff() override { return {value, show}; }
  bool write(const Handoff& v) override {
    value = v.scene;
    show = v.show;
    return true;
  }
  QString value;
  QString show;
};

}  // namespace luvrin::testing
