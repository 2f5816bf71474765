#include "ola_rdm.h"

#include <utility>

#include "log_categories.h"

namespace luvrin {

OlaRdm::OlaRdm(Scheduler& scheduler, std::uint32_t universe, std::unique_ptr<OlaRdmClient> client)
    : scheduler_(scheduler),
      universe_(universe),
      client_(std::move(client)),
      deadline_(scheduler, kDeadlineMs, false),
      discoveryDeadline_(scheduler, kDiscoveryDeadlineMs, false) {
  deadline_.onTimer = [this] {
    qCWarning(lcOla) << "olad did not answer an RDM request in time";
    finishSend({rdm::LineResult::Kind::Timeout, {}, {}});
  };
  discoveryDeadline_.onTimer = [this] {
    discoveryDeadline_.setEnabled(false);
    ++searched_;
    Found failed{{}, true, QStringLiteral("olad 没有在时限内完成设备搜索")};
    if (findDone_) std::exchange(findDone_, nullptr)(failed);
  };
}

OlaRdm::~OlaRdm() { *alive_ = false; }

void OlaRdm::send(const rdm::Request& request, std::function<void(rdm::LineResult)> done) {
  const std::uint64_t id = ++sent_;
  sendDone_ = std::move(done);
  if (request.commandClass == rdm::CommandClass::Discovery) {
    // olad searches its own lines; its table is asked for with findDevices instead.
    rdm::LineResult refused{
        rdm::LineResult::Kind::Failed, {}, QStringLiteral("olad 自己搜索设备, 不转发搜索命令")};
    scheduler_.post([this, id, alive = std::weak_ptr<bool>(alive_), refused] {
      if (!alive.expired() && id == sent_) finishSend(refused);
    });
    return;
  }
  if (rest_ && request.commandClass == rdm::CommandClass::Get &&
      rest_->device == request.destination && rest_->subDevice == request.subDevice &&
      rest_->pid == request.pid) {
    // The next part of an answer olad has already given whole.
    rdm::Response rest{request.source,
                       request.destination,
                       request.transaction,
                       rdm::ResponseType::Ack,
                       0,
                       request.subDevice,
                       rdm::CommandClass::GetResponse,
                       request.pid,
                       std::exchange(rest_, {})->data};
    scheduler_.post([this, id, alive = std::weak_ptr<bool>(alive_), request, rest] {
      if (!alive.expired() && id == sent_) finishSend(packet(request, rest));
    });
    return;
  }
  rest_.reset();
  deadline_.setEnabled(true);
  client_->request(
      universe_, request,
      [this, id, alive = std::weak_ptr<bool>(alive_), request](OlaRdmClient::Answer answer) {
        // A late answer of a request given up on belongs to nothing now.
        if (alive.expired() || id != sent_) return;
        answered(request, std::move(answer));
      });
}

void OlaRdm::answered(const rdm::Request& sent, OlaRdmClient::Answer answer) {
  using Kind = rdm::LineResult::Kind;
  switch (answer.kind) {
    case OlaRdmClient::Answer::Kind::Response:
      return finishSend(packet(sent, std::move(answer.response)));
    case OlaRdmClient::Answer::Kind::Timeout:
      return finishSend({Kind::Timeout, {}, {}});
    case OlaRdmClient::Answer::Kind::Damaged:
      return finishSend({Kind::Collision, {}, {}});
    case OlaRdmClient::Answer::Kind::Failed:
      return finishSend({Kind::Failed, {}, QStringLiteral("olad: ") + answer.error});
  }
}

// olad answers with its own UID and transaction number; the packet is made out to this
// controller's request, the device's own parts (who answered, what, how) kept as they came.
rdm::LineResult OlaRdm::packet(const rdm::Request& sent, rdm::Response response) {
  response.destination = sent.source;
  response.transaction = sent.transaction;
  if (response.data.size() > rdm::kMaxParameterData && response.type == rdm::ResponseType::Ack) {
    rest_ =
        Rest{sent.destination, sent.subDevice, sent.pid, response.data.mid(rdm::kMaxParameterData)};
    response.data.truncate(rdm::kMaxParameterData);
    response.type = rdm::ResponseType::AckOverflow;
  }
  return {rdm::LineResult::Kind::Answer, rdm::encode(response), {}};
}

void OlaRdm::finishSend(rdm::LineResult result) {
  deadline_.setEnabled(false);
  ++sent_;
  if (sendDone_) std::exchange(sendDone_, nullptr)(std::move(result));
}

void OlaRdm::findDevices(bool full, std::function<void(Found)> done) {
  const std::uint64_t id = ++searched_;
  findDone_ = std::move(done);
  discoveryDeadline_.setEnabled(true);
  client_->discover(universe_, full, [this, id, alive = std::weak_ptr<bool>(alive_)](Found found) {
    if (alive.expired() || id != searched_) return;
    discoveryDeadline_.setEnabled(false);
    ++searched_;
    qCDebug(lcOla) << "olad's discovery:" << found.devices.size() << "devices"
                   << (found.failed ? found.error : QString());
    if (findDone_) std::exchange(findDone_, nullptr)(std::move(found));
  });
}

}  // namespace luvrin
