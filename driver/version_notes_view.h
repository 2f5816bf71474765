#pragma once

#include <QWidget>

#include "widget_binding.h"

namespace luvrin {

class Form4;

// The version notes window. Closing it hides it; the same window comes back on the next request.
class Form4View : public QWidget {
 public:
  explicit Form4View(Form4& model, QWidget* parent = nullptr);
  ~Form4View() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  Form4& model_;
  BindingSet bindings_;
};

}  // namespace luvrin
