#pragma once

#include <chrono>
#include <initializer_list>
#include <memory>
#include <utility>

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

// A whole driver on virtual time with its editor, in a temporary program folder.
class DriverEditorRig {
 public:
  explicit DriverEditorRig(std::initializer_list<std::pair<QString, QString>> settings = {})
      : show(settings),
        output(serialBoxFor(port, show.programFolder())),
        driver(scheduler, show.programFolder(), *output, handoff) {
    driver.Form_Load();
  }

  Form3& editor() { return driver.editor(); }
  ScrollBar& fader(int i) { return editor().VScroll1[static_cast<std::size_t>(i)]; }

  TempShow show;
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  RecordingPort port;
  MemoryHandoff handoff;
  std::unique_ptr<FrameOutput> output;
  Form1 driver;
};

}  // namespace luvrin::testing
