#include "platform.h"

namespace luvrin::platform {

QString executableSuffix(bool windows) { return windows ? QStringLiteral(".exe") : QString(); }

}  // namespace luvrin::platform
