#pragma once

#include <QString>
#include <initializer_list>
#include <utility>

#include "editor_window.h"
#include "numeric.h"
#include "scheduler.h"
#include "serial_settings.h"
#include "support/test_support.h"
#include "support/text_history.h"
#include "support/virtual_time.h"

namespace luvrin::testing {

// The driver as the editor reaches it: a send data length box and a channel data box.
struct DriverBoxes final : DriverLink {
  double sendDataLength() const override { return numericValue(Text5.text()); }
  void takeChannelData(const QString& text) override { Text7.setText(text); }
  TextBox Text5;
  TextBox Text7;
};

// An editor on virtual time in a temporary program folder, its driver's boxes holding the
// length the settings give.
class EditorRig {
 public:
  explicit EditorRig(std::initializer_list<std::pair<QString, QString>> settings = {})
      : show(settings), editor_(scheduler, show.programFolder(), driver) {
    driver.Text5.setText(readSerialConfiguration(show.programFolder()).sendDataLength);
  }

  Form3& editor() { return editor_; }
  ScrollBar& fader(int i) { return editor_.VScroll1[static_cast<std::size_t>(i)]; }

  TempShow show;
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  DriverBoxes driver;

 private:
  Form3 editor_;
};

}  // namespace luvrin::testing
