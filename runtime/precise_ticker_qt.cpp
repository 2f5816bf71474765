#include <algorithm>

#include "precise_ticker.h"

namespace luvrin {

// Systems without a kernel interval timer we can wait on: Qt's precise timer.
PreciseTicker::PreciseTicker(QObject* parent) : QObject(parent) {
  fallback_.setTimerType(Qt::PreciseTimer);
  connect(&fallback_, &QTimer::timeout, this, &PreciseTicker::timeout);
}

PreciseTicker::~PreciseTicker() = default;

void PreciseTicker::start(std::int64_t, std::int64_t periodNs) {
  active_ = true;
  fallback_.start(static_cast<int>(std::max<std::int64_t>(1, periodNs / 1'000'000)));
}

void PreciseTicker::stop() {
  active_ = false;
  fallback_.stop();
}

}  // namespace luvrin
