#include "ola_output.h"

#include <QLoggingCategory>
#include <algorithm>

Q_LOGGING_CATEGORY(lcOlaOutput, "luvrin.serial", QtWarningMsg)

namespace luvrin {

namespace {
constexpr std::size_t kMaxSlots = 512;
}

OlaOutput::OlaOutput(Scheduler& scheduler, std::uint32_t universe, std::unique_ptr<OlaLink> link)
    : scheduler_(scheduler),
      universe_(universe),
      link_(std::move(link)),
      reconnect_(scheduler, kReconnectMs, false) {
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
  const bool was = connected_;
  connected_ = link_->connect();
  sent_.clear();
  if (connected_ != was) statusChanged();
  if (connected_ && ready_) scheduler_.post(std::exchange(ready_, nullptr));
  qCDebug(lcOlaOutput) << (connected_ ? "connected to olad" : "olad not reached");
  return connected_;
}

bool OlaOutput::send(std::span<const std::uint8_t> data) {
  if (!connected_) return false;
  const auto levels = data.first(std::min(data.size(), kMaxSlots));
  const bool same =
      !sent_.empty() && std::equal(levels.begin(), levels.end(), sent_.begin(), sent_.end());
  if (same && scheduler_.now() - sentAt_ < kRepeatMs) return false;
  if (sendToOlad(levels)) return true;
  qCDebug(lcOlaOutput) << "olad went away; trying again every" << kReconnectMs << "ms";
  link_->close();
  connected_ = false;
  statusChanged();
  // olad may be back already (a restart): then the levels go out now.
  if (tryConnect() && sendToOlad(levels)) return true;
  reconnect_.setEnabled(true);
  return false;
}

QString OlaOutput::status() const {
  const QString name = QStringLiteral("olad 宇宙 %1").arg(universe_);
  if (connected_) return name + QStringLiteral(": 已连接");
  return name + QStringLiteral(": 未连接, 每秒重试 (olad not reached; trying again every second)");
}

bool OlaOutput::sendToOlad(std::span<const std::uint8_t> levels) {
  if (!link_->send(universe_, levels)) return false;
  sent_.assign(levels.begin(), levels.end());
  sentAt_ = scheduler_.now();
  return true;
}

}  // namespace luvrin
