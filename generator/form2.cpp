#include "form2.h"

namespace luvrin {

Form2::Form2(QString, const TextBox&) {}
void Form2::Form_Load() {}
void Form2::Command2_Click() {}
void Form2::Command1_Click() {}

}  // namespace luvrin
