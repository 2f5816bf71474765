#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <vector>

#include "editor_window.h"
#include "widget_binding.h"

class QGroupBox;
class QRadioButton;

namespace luvrin {

class FixtureViewWindow;

// The editor window. Only what is seen is built: a fader page gets its 120 widgets the first
// time it is shown, so the window opens at once although it holds 1,536 fader controls.
class Form3View : public QWidget {
 public:
  // owner: the window the editor opens centred on (the driver window), if any.
  explicit Form3View(Form3& model, QWidget* owner = nullptr);
  ~Form3View() override;

  bool pageBuilt(int page) const;

 protected:
  // The close box unloads the window, as "返回到运行窗口" does.
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildPage(int page);
  // Tab goes from the page buttons through the shown page's faders in channel order.
  void orderTabs(int page);
  void installDialogs();

  Form3& model_;
  TwipScale scale_;
  std::array<QGroupBox*, Form3::kPageCount> pages_{};
  std::array<QRadioButton*, Form3::kPageCount> options_{};
  std::array<bool, Form3::kPageCount> built_{};
  std::vector<Notifier::Id> pageSubs_;
  Notifier::Id formSub_ = 0;
  QPointer<FixtureViewWindow> fixtureView_;
  BindingSet bindings_;
};

}  // namespace luvrin
