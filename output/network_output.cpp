#include "network_output.h"

#include <algorithm>

#include "artnet_packet.h"

namespace luvrin {

void PacketRate::sent(std::int64_t nowNs) {
  const std::int64_t now = nowNs * kPerSecond;
  if (started_ && now - nextDue_ < kSecondNs)
    nextDue_ += kSecondNs;
  else
    nextDue_ = now + kSecondNs;
  started_ = true;
}

NetworkOutput::NetworkOutput(Scheduler& scheduler, const OutputAddress& address,
                             std::unique_ptr<DatagramSink> sink, e131::Source source)
    : scheduler_(scheduler),
      address_(address),
      sink_(std::move(sink)),
      source_(std::move(source)),
      keepAlive_(scheduler, kKeepAliveMs, false),
      readyCheck_(scheduler, 1, false) {
  readyCheck_.onTimer = [this] {
    readyCheck_.setEnabled(false);
    if (ready_ && readyForFrame()) {
      std::exchange(ready_, nullptr)();
    } else if (ready_) {
      whenReady(std::exchange(ready_, nullptr));
    }
  };
  keepAlive_.onTimer = [this] {
    if (open_ && !levels_.empty()) sendLevels();
  };
}

bool NetworkOutput::open() {
  if (!open_) {
    open_ = sink_->open();
    statusChanged();
  }
  return open_;
}

QString NetworkOutput::status() const {
  const bool artnet = address_.kind == OutputAddress::Kind::ArtNet;
  QString s = QStringLiteral("%1 %2 → %3:%4")
                  .arg(artnet ? QStringLiteral("Art-Net") : QStringLiteral("sACN 宇宙"))
                  .arg(address_.universe)
                  .arg(address_.host)
                  .arg(address_.port);
  if (!open_) s += QStringLiteral(": 无法发送 (cannot send)");
  return s;
}

bool NetworkOutput::readyForFrame() { return open_ && rate_.ready(nowNs()); }

void NetworkOutput::whenReady(std::function<void()> ready) {
  ready_ = std::move(ready);
  readyCheck_.setEnabled(false);
  if (!ready_ || !open_) return;
  constexpr std::int64_t kNsPerMs = 1'000'000;
  const std::int64_t ms = (rate_.nsUntilReady(nowNs()) + kNsPerMs - 1) / kNsPerMs;
  readyCheck_.setInterval(static_cast<int>(std::max<std::int64_t>(1, ms)));
  readyCheck_.setEnabled(true);
}

bool NetworkOutput::send(std::span<const std::uint8_t> data) {
  if (!open_) return false;
  const std::size_t count = std::min<std::size_t>(data.size(), e131::kMaxSlots);
  levels_.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(count));
  return sendLevels();
}

bool NetworkOutput::sendLevels() {
  std::vector<std::uint8_t> packet;
  if (address_.kind == OutputAddress::Kind::ArtNet) {
    sequence_ = artnet::nextSequence(sequence_);
    packet =
        artnet::buildDmxPacket(static_cast<std::uint16_t>(address_.universe), sequence_, levels_);
  } else {
    packet = e131::buildDataPacket(source_, static_cast<std::uint16_t>(address_.universe),
                                   sequence_, levels_);
    ++sequence_;
  }
  // Restarted on every packet, so it fires only after a second without one.
  keepAlive_.setEnabled(false);
  keepAlive_.setEnabled(true);
  rate_.sent(nowNs());
  if (!sink_->send(packet)) return false;
  ++packetsSent_;
  return true;
}

}  // namespace luvrin
