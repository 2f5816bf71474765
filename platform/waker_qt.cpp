#include "waker.h"

namespace luvrin {

// Systems without a kernel interval timer we can wait on: Qt's precise timers for every kind.
std::unique_ptr<Waker> makeSystemWaker(WakerKind) { return makeQtWaker(); }

std::unique_ptr<Waker> makeFrameWaker() { return nullptr; }

}  // namespace luvrin
