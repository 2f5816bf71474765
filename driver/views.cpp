#include "views.h"

namespace luvrin {

// Placeholder until the widget views land.
void installViews(Form1&) {}

}  // namespace luvrin
