#pragma once

#include <QString>
#include <vector>

#include "runtime/controls.h"
#include "runtime/form.h"
#include "runtime/scheduler.h"

namespace luvrin {

// The editor window: 512 faders on 13 pages, live output to the driver's channel data box,
// recording, playback and script files. The object exists from the driver's start-up; it is
// loaded (Form_Load) at first use and unloaded when closed.
class Form3 : public FormState {
 public:
  static constexpr int kFaderCount = 512;
  static constexpr int kPageCount = 13;
  static constexpr int kFadersPerPage = 40;

  // driverText5: the driver's send data length box; driverText7: its channel data box.
  Form3(Scheduler& scheduler, QString programFolder, TextBox& driverText5, TextBox& driverText7);
  ~Form3();

  // The editor channel count; written by the driver, kept while the window is closed.
  double OUTBUFCNT = 0;

  void Load();    // runs Form_Load unless loaded
  void Show();    // loads if needed, then shows, not modal
  void Unload();  // closes: timers stop, runs end, faders and boxes are discarded

  std::vector<ScrollBar> VScroll1;
};

}  // namespace luvrin
