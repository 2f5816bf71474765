#include "ola_output.h"

#include <QLoggingCategory>
#include <algorithm>

Q_LOGGING_CATEGORY(lcOlaOutput, "luvrin.serial", QtWarningMsg)

namespace luvrin {

namespace {
constexpr std::size_t kMaxSlots = 512;
}

OlaOutput::OlaOutput(Scheduler& scheduler, std::uint32_t universe, std::unique_ptr<OlaLink> link)
    : universe_(universe), link_(std::move(link)), reconnect_(scheduler, kReconnectMs, false) {
  reconnect_.onTimer = [this] {
    if (tryConnect()) reconnect_.setEnabled(false);
  };
}

OlaOutput::~OlaOutput() {
  if (connected_) link_->close();
}

bool OlaOutput::open() {
  if (connected_) return true;
  if (tryConnect()) return true;
  reconnect_.setEnabled(true);
  return false;
}

bool OlaOutput::tryConnect() {
  connected_ = link_->connect();
  qCDebug(lcOlaOutput) << (connected_ ? "connected to olad" : "olad not reached");
  return connected_;
}

bool OlaOutput::writeFrame(QByteArrayView, std::span<const std::uint8_t> data, QByteArrayView) {
  if (!connected_) return false;
  if (link_->send(universe_, data.first(std::min(data.size(), kMaxSlots)))) return true;
  qCDebug(lcOlaOutput) << "olad went away; trying again every" << kReconnectMs << "ms";
  link_->close();
  connected_ = false;
  reconnect_.setEnabled(true);
  return false;
}

}  // namespace luvrin
