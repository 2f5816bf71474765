#include "network_output.h"

#include <QList>
#include <algorithm>
#include <utility>

#include "artnet_packet.h"
#include "universe_split.h"

namespace luvrin {

namespace {

std::uint32_t ipv4Number(const QString& dotted) {
  std::uint32_t n = 0;
  for (QStringView part : QStringView(dotted).split(u'.')) n = n << 8 | part.toUInt();
  return n;
}

QString dottedIpv4(std::uint32_t n) {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(n >> 24)
      .arg(n >> 16 & 0xFF)
      .arg(n >> 8 & 0xFF)
      .arg(n & 0xFF);
}

std::uint32_t groupOf(std::uint16_t universe) {
  const auto g = e131::multicastGroup(universe);
  return std::uint32_t{g[0]} << 24 | std::uint32_t{g[1]} << 16 | std::uint32_t{g[2]} << 8 | g[3];
}

}  // namespace

NetworkOutput::NetworkOutput(Scheduler& scheduler, const OutputAddress& address,
                             std::unique_ptr<DatagramSink> sink, e131::Source source)
    : scheduler_(scheduler),
      address_(address),
      baseIpv4_(ipv4Number(address.host)),
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
    if (open_ && hasFrame_) sendAll();
  };
  cover(1);
}

bool NetworkOutput::open() {
  wanted_ = true;
  if (!open_) {
    open_ = sink_->open();
    statusChanged();
  }
  return open_;
}

std::uint32_t NetworkOutput::lastUniverse() const {
  return artnet() ? artnet::kMaxPortAddress : e131::kMaxUniverse;
}

void NetworkOutput::cover(std::size_t universes) {
  const std::uint32_t first = address_.universe;
  const std::size_t allowed = first > lastUniverse() ? 0 : lastUniverse() - first + 1;
  sending_ = std::min(universes, allowed);
  // Universes left out for a shorter frame keep their place, so their sequence numbers run on
  // when a longer frame brings them back.
  for (std::size_t i = universes_.size(); i < sending_; ++i) {
    Universe& u = universes_.emplace_back();
    u.number = static_cast<std::uint16_t>(first + i);
    u.to = {address_.multicast ? groupOf(u.number) : baseIpv4_, address_.port};
  }
  if (std::exchange(covered_, universes) != universes) statusChanged();
}

QString NetworkOutput::rdmRefusal() const {
  if (artnet()) return QStringLiteral("这个版本的 LUVRIN 没有网络支持, 不能经 Art-Net 使用 RDM");
  return QStringLiteral("sACN 不支持 RDM (只传送灯光数据): 管理设备请用 USB Pro、olad 或 Art-Net");
}

QString NetworkOutput::status() const {
  const std::uint64_t first = address_.universe;
  QString where = address_.host;
  if (address_.multicast && sending_ > 1)
    where += u'-' + dottedIpv4(universes_[sending_ - 1].to.ipv4);
  QString s = QStringLiteral("%1 %2 → %3:%4")
                  .arg(artnet() ? QStringLiteral("Art-Net") : QStringLiteral("sACN 宇宙"))
                  .arg(universeRange(first, first + covered_ - 1))
                  .arg(where)
                  .arg(address_.port);
  if (sending_ < covered_)
    s += QStringLiteral("; 宇宙 %1 超出范围 (最后一个是 %2), 不发送")
             .arg(universeRange(first + sending_, first + covered_ - 1))
             .arg(lastUniverse());
  if (wanted_ && !open_) s += QStringLiteral(": 无法发送 (cannot send)");
  if (open_ && refused_) s += QStringLiteral(": 系统拒绝发送, 每帧重试 (datagrams not sent)");
  return s;
}

bool NetworkOutput::readyForFrame() { return open_ && rate_.ready(nowNs()); }

void NetworkOutput::whenReady(std::function<void()> ready) {
  ready_ = std::move(ready);
  readyCheck_.setEnabled(false);
  if (!ready_ || !open_) return;
  const std::int64_t ms = wholeMsAfter(rate_.nsUntilReady(nowNs()));
  readyCheck_.setInterval(static_cast<int>(std::max<std::int64_t>(1, ms)));
  readyCheck_.setEnabled(true);
}

bool NetworkOutput::send(std::span<const std::uint8_t> frame) {
  if (!open_) return false;
  cover(universeCount(frame.size()));
  for (std::size_t i = 0; i < sending_; ++i) fill(universes_[i], universeLevels(frame, i));
  hasFrame_ = true;
  return sendAll();
}

void NetworkOutput::fill(Universe& u, std::span<const std::uint8_t> levels) {
  if (u.packet.empty() || levels.size() != u.levelCount) {
    u.levelCount = levels.size();
    u.packet = artnet() ? artnet::buildDmxPacket(u.number, 0, levels)
                        : e131::buildDataPacket(source_, u.number, 0, levels);
    return;
  }
  const std::size_t header = artnet() ? artnet::kHeaderBytes : e131::kHeaderBytes;
  std::copy(levels.begin(), levels.end(), u.packet.begin() + static_cast<std::ptrdiff_t>(header));
}

bool NetworkOutput::sendAll() {
  bool all = sending_ > 0;
  bool refused = false;
  for (std::size_t i = 0; i < sending_; ++i) {
    Universe& u = universes_[i];
    if (artnet()) {
      u.sequence = artnet::nextSequence(u.sequence);
      u.packet[artnet::kSequenceAt] = u.sequence;
    } else {
      u.packet[e131::kSequenceAt] = u.sequence++;
    }
    // One universe that does not go out leaves the others to go.
    if (sink_->send(u.packet, u.to)) {
      ++packetsSent_;
    } else {
      all = false;
      refused = true;
    }
  }
  if (std::exchange(refused_, refused) != refused) statusChanged();
  // Restarted on every frame, so it fires only after a second without one.
  keepAlive_.setEnabled(false);
  keepAlive_.setEnabled(true);
  rate_.sent(nowNs());
  return all;
}

}  // namespace luvrin
