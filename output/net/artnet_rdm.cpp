#include "artnet_rdm.h"

#include <algorithm>
#include <array>
#include <utility>

#include "log_categories.h"

namespace luvrin::artnet {

namespace {

constexpr std::array<std::uint8_t, 8> kId = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr std::uint8_t kProtocolVersion = 14;
constexpr std::uint8_t kRdmVersion = 1;  // the standard's, as against the draft's 0
constexpr std::size_t kTodRequestBytes = 56;
constexpr std::size_t kTodDataHeader = 28;
constexpr std::size_t kRdmHeader = 24;
constexpr std::uint8_t kTodNak = 0xFF;
constexpr std::uint8_t kFlush = 0x01;

// The ID, the op code (the one little-endian field), the version; the port-address's net at
// 21 and its low byte at 23, where every packet here but ArtTodRequest keeps them.
std::vector<std::uint8_t> header(Op op, std::size_t size, std::uint16_t portAddress) {
  std::vector<std::uint8_t> p(size, 0);
  std::copy(kId.begin(), kId.end(), p.begin());
  p[8] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(op) & 0xFF);
  p[9] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(op) >> 8);
  p[11] = kProtocolVersion;
  p[21] = static_cast<std::uint8_t>((portAddress >> 8) & 0x7F);
  p[23] = static_cast<std::uint8_t>(portAddress & 0xFF);
  return p;
}

bool is(std::span<const std::uint8_t> p, Op op, std::size_t least) {
  return p.size() >= least && std::equal(kId.begin(), kId.end(), p.begin()) &&
         (p[8] | p[9] << 8) == static_cast<std::uint16_t>(op) && (p[10] << 8 | p[11]) >= 14;
}

std::uint16_t portAddressOf(std::span<const std::uint8_t> p) {
  return static_cast<std::uint16_t>((p[21] & 0x7F) << 8 | p[23]);
}

}  // namespace

std::vector<std::uint8_t> buildTodRequest(std::uint16_t portAddress) {
  auto p = header(Op::TodRequest, kTodRequestBytes, portAddress);
  p[22] = 0;  // the whole table
  p[23] = 1;  // one address in the list that follows
  p[24] = static_cast<std::uint8_t>(portAddress & 0xFF);
  return p;
}

std::vector<std::uint8_t> buildTodFlush(std::uint16_t portAddress) {
  auto p = header(Op::TodControl, 24, portAddress);
  p[22] = kFlush;
  return p;
}

std::vector<std::uint8_t> buildRdm(std::uint16_t portAddress, QByteArrayView rdmPacket) {
  const auto carried = rdmPacket.sliced(std::min<qsizetype>(1, rdmPacket.size()));
  auto p = header(Op::Rdm, kRdmHeader + static_cast<std::size_t>(carried.size()), portAddress);
  p[12] = kRdmVersion;
  std::copy(carried.begin(), carried.end(), p.begin() + kRdmHeader);
  return p;
}

std::optional<TodData> parseTodData(std::span<const std::uint8_t> p) {
  if (!is(p, Op::TodData, kTodDataHeader)) return std::nullopt;
  const std::size_t count = p[27];
  if (p.size() < kTodDataHeader + 6 * count) return std::nullopt;
  TodData t;
  t.portAddress = portAddressOf(p);
  t.refused = p[22] == kTodNak;
  t.total = static_cast<std::uint16_t>(p[24] << 8 | p[25]);
  t.block = p[26];
  const QByteArrayView uids(p.data() + kTodDataHeader, static_cast<qsizetype>(6 * count));
  for (std::size_t i = 0; i < count; ++i)
    t.devices.push_back(rdm::uidAt(uids, static_cast<qsizetype>(6 * i)));
  return t;
}

std::optional<RdmData> parseRdm(std::span<const std::uint8_t> p) {
  if (!is(p, Op::Rdm, kRdmHeader + 1)) return std::nullopt;
  RdmData r;
  r.portAddress = portAddressOf(p);
  r.packet.reserve(static_cast<qsizetype>(p.size() - kRdmHeader + 1));
  r.packet.append(static_cast<char>(rdm::kStartCode));
  r.packet.append(reinterpret_cast<const char*>(p.data() + kRdmHeader),
                  static_cast<qsizetype>(p.size() - kRdmHeader));
  return r;
}

}  // namespace luvrin::artnet

namespace luvrin {

ArtNetRdm::ArtNetRdm(Scheduler& scheduler, std::uint16_t portAddress, Destination node,
                     std::unique_ptr<DatagramPort> port)
    : scheduler_(scheduler),
      portAddress_(portAddress),
      node_(node),
      port_(std::move(port)),
      answerWait_(scheduler, kAnswerWaitMs, false),
      tableWait_(scheduler, kTableWaitMs, false) {
  answerWait_.onTimer = [this] { endRequest({rdm::LineResult::Kind::Timeout, {}, {}}); };
  tableWait_.onTimer = [this] { endTable(); };
  port_->onReceived = [this](std::span<const std::uint8_t> packet, std::uint32_t from) {
    received(packet, from);
  };
}

ArtNetRdm::~ArtNetRdm() {
  *alive_ = false;
  port_->onReceived = nullptr;
}

bool ArtNetRdm::openPort(QString& why) {
  if (!open_) open_ = port_->open();
  if (!open_)
    why = QStringLiteral("不能打开 Art-Net 的 UDP 端口 %1, 听不到节点的回答").arg(node_.port);
  return open_;
}

void ArtNetRdm::send(const rdm::Request& request, std::function<void(rdm::LineResult)> done) {
  requestDone_ = std::move(done);
  QString why;
  if (request.commandClass == rdm::CommandClass::Discovery)
    why = QStringLiteral("Art-Net 节点自己搜索设备, 不转发搜索命令");
  if (why.isEmpty() && openPort(why) &&
      !port_->send(artnet::buildRdm(portAddress_, rdm::encode(request)), node_))
    why = QStringLiteral("Art-Net 的 RDM 请求没能发出 (网络不通?)");
  if (!why.isEmpty()) {
    // Told later, as every result is.
    scheduler_.post([this, alive = std::weak_ptr<bool>(alive_), why] {
      if (!alive.expired()) endRequest({rdm::LineResult::Kind::Failed, {}, why});
    });
    return;
  }
  asked_ = request;
  answerWait_.setInterval(request.destination.isBroadcast() ? kBroadcastWaitMs : kAnswerWaitMs);
  answerWait_.setEnabled(true);
}

void ArtNetRdm::endRequest(rdm::LineResult result) {
  answerWait_.setEnabled(false);
  asked_.reset();
  if (requestDone_) std::exchange(requestDone_, nullptr)(std::move(result));
}

void ArtNetRdm::findDevices(bool full, std::function<void(Found)> done) {
  tableDone_ = std::move(done);
  tables_.clear();
  QString why;
  if (openPort(why) && !port_->send(full ? artnet::buildTodFlush(portAddress_)
                                         : artnet::buildTodRequest(portAddress_),
                                    node_))
    why = QStringLiteral("Art-Net 的设备表请求没能发出 (网络不通?)");
  if (!why.isEmpty()) {
    scheduler_.post([this, alive = std::weak_ptr<bool>(alive_), why] {
      if (alive.expired() || !tableDone_) return;
      std::exchange(tableDone_, nullptr)({{}, true, why});
    });
    return;
  }
  tableWait_.setInterval(full ? kFlushWaitMs : kTableWaitMs);
  tableWait_.setEnabled(true);
}

void ArtNetRdm::received(std::span<const std::uint8_t> packet, std::uint32_t from) {
  if (asked_) {
    const auto rdm = artnet::parseRdm(packet);
    // Only this request's answer: the port hears other controllers, and this one's own
    // broadcasts, too.
    if (rdm && rdm->portAddress == portAddress_ &&
        rdm::decodeResponse(rdm->packet, *asked_).response)
      return endRequest({rdm::LineResult::Kind::Answer, rdm->packet, {}});
  }
  if (tableDone_) {
    const auto tod = artnet::parseTodData(packet);
    if (tod && tod->portAddress == portAddress_) tableBlock(*tod, from);
  }
}

void ArtNetRdm::tableBlock(const artnet::TodData& block, std::uint32_t from) {
  Table& t = tables_[from];
  t.refused = block.refused;
  // A table sent again after a change starts over.
  if (block.block == 0 && !t.devices.empty() && t.complete()) t.devices.clear();
  t.total = block.total;
  t.devices.insert(block.devices.begin(), block.devices.end());
  const bool all = std::all_of(tables_.begin(), tables_.end(),
                               [](const auto& n) { return n.second.complete(); });
  if (all) {
    tableWait_.setInterval(kTableSettleMs);
    tableWait_.setEnabled(true);
  }
}

void ArtNetRdm::endTable() {
  tableWait_.setEnabled(false);
  if (!tableDone_) return;
  Found found;
  int missing = 0;
  std::set<rdm::Uid> all;
  for (const auto& [node, t] : tables_) {
    if (!t.complete()) missing += static_cast<int>(t.total - t.devices.size());
    all.insert(t.devices.begin(), t.devices.end());
  }
  found.devices.assign(all.begin(), all.end());
  if (tables_.empty()) {
    found.failed = true;
    found.error = QStringLiteral("Art-Net 节点没有发来设备表 (节点不支持 RDM, 或端口地址 %1 不对)")
                      .arg(portAddress_);
  } else if (missing > 0) {
    // A table with blocks missing would drop devices that are there: the run fails instead.
    found.failed = true;
    found.error = QStringLiteral("Art-Net 节点的设备表不完整: 少了 %1 台").arg(missing);
  }
  qCDebug(lcNet) << "Art-Net table:" << found.devices.size() << "devices from" << tables_.size()
                 << "nodes" << (found.failed ? found.error : QString());
  tables_.clear();
  std::exchange(tableDone_, nullptr)(std::move(found));
}

}  // namespace luvrin
