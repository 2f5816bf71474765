#pragma once

#include <chrono>
#include <memory>

#include "codepage.h"
#include "driver_window.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace luvrin::testing {

// A whole driver on virtual time with a recording port and an in-memory hand-off value.
struct Driver {
  explicit Driver(std::initializer_list<std::pair<QString, QString>> settings = {})
      : show(settings) {}
  Form1& load() {
    output = serialBoxFor(port, show.programFolder());
    form = std::make_unique<Form1>(scheduler, show.programFolder(), *output, handoff);
    form->Form_Load();
    return *form;
  }
  void run(std::chrono::milliseconds d) { scheduler.advanceBy(d); }

  TempShow show;
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  RecordingPort port;
  MemoryHandoff handoff;
  std::unique_ptr<FrameOutput> output;
  std::unique_ptr<Form1> form;
};

}  // namespace luvrin::testing
