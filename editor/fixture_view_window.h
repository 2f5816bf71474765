#pragma once

#include <QWidget>

#include "fixture_view.h"

class QComboBox;
class QLabel;
class QVBoxLayout;

namespace luvrin {

// The fixture view's window: the fixture to show, then its pad, faders and lists. Every part
// is reached with the keyboard: Tab between them, the arrows within (the pad: left and right
// pan, up and down tilt; with Shift in fine steps).
class FixtureViewWindow : public QWidget {
 public:
  FixtureViewWindow(Form3& editor, QWidget* owner = nullptr);
  ~FixtureViewWindow() override;

  FixtureView& model() { return view_; }
  // Builds the parts again from the patch, keeping the fixture shown where it is still there.
  void refresh();

 private:
  void showFixture(const QString& name);
  // The parts follow the faders, however they were moved.
  void follow();

  Form3& editor_;
  FixtureView view_;
  QComboBox* fixtures_ = nullptr;
  QLabel* problems_ = nullptr;
  QWidget* parts_ = nullptr;
  QVBoxLayout* partsLayout_ = nullptr;
  std::vector<std::function<void()>> followers_;
  std::vector<Notifier::Id> faderSubs_;
  Notifier::Id patchSub_ = 0;
};

}  // namespace luvrin
