#include "form3.h"

namespace luvrin {

Form3::Form3(Scheduler&, QString, TextBox&, TextBox&) : VScroll1(kFaderCount) {
  for (auto& v : VScroll1) v.setRange(0, 255);
}
Form3::~Form3() = default;
void Form3::Load() { setLoaded(true); }
void Form3::Show() {
  Load();
  setVisible(true);
}
void Form3::Unload() {
  setVisible(false);
  setLoaded(false);
}

}  // namespace luvrin
