#pragma once

#include <memory>

#include "driver_fixture.h"
#include "rdm/sim_line.h"

namespace luvrin::testing {

// The driver's output as a direct link, with a simulated RDM line behind it (or none).
class RdmLink final : public DirectOutputLink {
 public:
  RdmLink(Scheduler& scheduler, FrameOutput& output, rdm::Transport* line)
      : DirectOutputLink(scheduler, output), line_(line) {}
  rdm::Transport* rdm() override { return line_; }

 private:
  rdm::Transport* line_;
};

// A driver on virtual time whose line has three responders: two whose channels overlap, and one
// with a sensor that will not be told to identify.
struct RdmRig {
  explicit RdmRig(bool withRdm = true)
      : config(show.programFolder()),
        output(serialBoxFor(port, show.programFolder())),
        link(scheduler, *output, withRdm ? &line : nullptr),
        driver(scheduler, show.programFolder(), link, handoff) {
    line.devices = rdm::sim::consecutive(3);
    line.devices[1].address = 10;
    line.devices[2].address = 100;
    line.devices[2].sensors = 1;
    line.devices[2].unknown = {rdm::kIdentifyDevice};
    driver.Form_Load();
  }
  void run(std::chrono::milliseconds d) { scheduler.advanceBy(d); }

  // The program's own UID is kept in the user's folder: here, the show's.
  struct ConfigFolder {
    explicit ConfigFolder(const QString& folder) : was(qgetenv("XDG_CONFIG_HOME")) {
      qputenv("XDG_CONFIG_HOME", folder.toLocal8Bit());
    }
    ~ConfigFolder() {
      if (was.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
      else
        qputenv("XDG_CONFIG_HOME", was);
    }
    QByteArray was;
  };

  TempShow show;
  ConfigFolder config;
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  RecordingPort port;
  MemoryHandoff handoff;
  std::unique_ptr<FrameOutput> output;
  rdm::sim::Line line;
  RdmLink link;
  Form1 driver;
};

}  // namespace luvrin::testing
