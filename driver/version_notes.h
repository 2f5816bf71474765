#pragma once

#include "controls.h"
#include "form.h"

namespace luvrin {

// The version notes window: static text only. Created once, shown again on every request.
class Form4 : public FormState {
 public:
  Form4();
  void Show();
  void Hide();

  TextBox Text1;  // the version notes, three lines
};

}  // namespace luvrin
