#pragma once

#include <QString>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "driver_window.h"
#include "scheduler.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace luvrin::testing {

// A whole driver on virtual time with its editor, in a temporary program folder.
class EditorRig {
 public:
  explicit EditorRig(std::initializer_list<std::pair<QString, QString>> settings = {})
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

// Every text a box took, in order, from the moment of subscribing.
class TextHistory {
 public:
  explicit TextHistory(TextBox& box) : box_(box), last_(box.text()) {
    id_ = box_.changed().subscribe([this] {
      if (box_.text() == last_) return;
      last_ = box_.text();
      texts.push_back(last_);
    });
  }
  ~TextHistory() { box_.changed().unsubscribe(id_); }
  TextHistory(const TextHistory&) = delete;
  TextHistory& operator=(const TextHistory&) = delete;

  std::vector<QString> texts;

 private:
  TextBox& box_;
  QString last_;
  Notifier::Id id_ = 0;
};

}  // namespace luvrin::testing
