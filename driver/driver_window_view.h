#pragma once

#include <QWidget>

#include "widget_binding.h"

namespace luvrin {

class Form1;

// The driver window: every control of its layout at its place, bound to the model.
class Form1View : public QWidget {
 public:
  explicit Form1View(Form1& model, QWidget* parent = nullptr);
  ~Form1View() override;

 protected:
  // The window has no closing of its own: closing it ends the program, whatever else is open.
  void closeEvent(QCloseEvent* event) override;

 private:
  Form1& model_;
  BindingSet bindings_;
};

}  // namespace luvrin
