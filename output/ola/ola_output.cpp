#include "ola_output.h"

#include <algorithm>

#include "log_categories.h"
#include "output_shared.h"

namespace luvrin {

namespace {

constexpr std::uint64_t kLastUniverse = 0xFFFFFFFF;

}  // namespace

OlaOutput::OlaOutput(Scheduler& scheduler, std::uint32_t universe, std::unique_ptr<OlaLink> link,
                     std::unique_ptr<OlaRdmClient> rdm)
    : scheduler_(scheduler),
      universe_(universe),
      link_(std::move(link)),
      reconnect_(scheduler, kReconnectMs, false) {
  if (rdm) rdm_ = std::make_unique<OlaRdm>(scheduler, universe, std::move(rdm));
  reconnect_.onTimer = [this] {
    if (tryConnect()) reconnect_.setEnabled(false);
  };
  cover(1);
}

QString OlaOutput::rdmRefusal() const {
  return QStringLiteral("这个版本的 LUVRIN 没有 OLA 的完整客户端, 不能经 olad 使用 RDM");
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
  for (Universe& u : universes_) u.sent = false;
  if (connected_ != was) statusChanged();
  if (connected_ && ready_) scheduler_.post(std::exchange(ready_, nullptr));
  qCDebug(lcOla) << (connected_ ? "connected to olad" : "olad not reached");
  return connected_;
}

void OlaOutput::cover(std::size_t universes) {
  sending_ =
      static_cast<std::size_t>(std::min<std::uint64_t>(universes, kLastUniverse - universe_ + 1));
  if (universes_.size() < sending_) universes_.resize(sending_);
  if (std::exchange(covered_, universes) != universes) statusChanged();
}

OlaOutput::Outcome OlaOutput::sendDue(std::span<const std::uint8_t> frame) {
  Outcome outcome = Outcome::NothingDue;
  for (std::size_t i = 0; i < sending_; ++i) {
    const auto levels = universeLevels(frame, i);
    Universe& u = universes_[i];
    const bool same =
        u.sent && std::equal(levels.begin(), levels.end(), u.levels.begin(), u.levels.end());
    if (same && scheduler_.now() - u.sentAt < kRepeatMs) continue;
    if (!link_->send(static_cast<std::uint32_t>(universe_ + i), levels)) return Outcome::OladGone;
    u.sent = true;
    u.levels.assign(levels.begin(), levels.end());
    u.sentAt = scheduler_.now();
    outcome = Outcome::Sent;
  }
  return outcome;
}

bool OlaOutput::send(std::span<const std::uint8_t> frame) {
  if (!connected_) return false;
  cover(universeCount(frame.size()));
  const Outcome outcome = sendDue(frame);
  if (outcome != Outcome::OladGone) return outcome == Outcome::Sent;
  qCDebug(lcOla) << "olad went away; trying again every" << kReconnectMs << "ms";
  link_->close();
  connected_ = false;
  statusChanged();
  // olad may be back already (a restart): then the levels go out now.
  if (tryConnect() && sendDue(frame) == Outcome::Sent) return true;
  reconnect_.setEnabled(true);
  return false;
}

QString OlaOutput::status() const {
  QString name =
      QStringLiteral("olad 宇宙 %1").arg(universeRange(universe_, universe_ + covered_ - 1));
  if (sending_ < covered_)
    name += QStringLiteral("; 宇宙 %1 超出范围 (最后一个是 %2), 不发送")
                .arg(universeRange(universe_ + sending_, universe_ + covered_ - 1))
                .arg(kLastUniverse);
  if (connected_) return name + QStringLiteral(": 已连接");
  return name + QStringLiteral(": 未连接, 每秒重试 (olad not reached; trying again every second)");
}

}  // namespace luvrin
