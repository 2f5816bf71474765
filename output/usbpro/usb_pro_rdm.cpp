#include "usb_pro_rdm.h"

#include <utility>

#include "log_categories.h"
#include "pids.h"

namespace luvrin::usbpro {

using rdm::LineResult;

bool isReceivedDmx(const Message& message) {
  return message.label == kReceived && message.payload.size() >= 2 && message.payload[1] == 0;
}

RdmLine::RdmLine(Scheduler& scheduler, Hooks hooks)
    : scheduler_(scheduler),
      hooks_(std::move(hooks)),
      watchdog_(scheduler, kWatchdogMs, false),
      frameHold_(scheduler, kFrameHoldMs, false) {
  watchdog_.onTimer = [this] { timedOut(); };
  frameHold_.onTimer = [this] {
    frameHold_.setEnabled(false);
    holding_ = false;
    if (hooks_.changed) hooks_.changed();
  };
}

void RdmLine::send(const rdm::Request& request, std::function<void(LineResult)> done) {
  const auto refuse = [&](QString why) {
    scheduler_.post([done = std::move(done), why = std::move(why)] {
      done({LineResult::Kind::Failed, {}, why});
    });
  };
  if (pending_) return refuse(QStringLiteral("接口上一个 RDM 请求还没有结束"));
  const bool branch =
      request.commandClass == rdm::CommandClass::Discovery && request.pid == rdm::kDiscUniqueBranch;
  const QByteArray message = encode(branch ? kRdmDiscovery : kRdmRequest, rdm::encode(request));
  if (!hooks_.write(message)) return refuse(QStringLiteral("接口未连接, 不能发送 RDM 请求"));
  const bool broadcast = !branch && request.destination.isBroadcast();
  pending_ = Pending{request, std::move(done), branch, broadcast, std::nullopt};
  // Also for a request that never leaves: the serial side is given as long as the widget.
  watchdog_.setInterval(kWatchdogMs);
  watchdog_.setEnabled(true);
  holding_ = true;
  frameHold_.setEnabled(false);
  frameHold_.setEnabled(true);
  if (hooks_.changed) hooks_.changed();
}

void RdmLine::written() {
  if (!pending_) return;
  watchdog_.setInterval(pending_->broadcast ? kBroadcastWaitMs : kWatchdogMs);
  watchdog_.setEnabled(false);
  watchdog_.setEnabled(true);
  holding_ = true;
  frameHold_.setEnabled(false);
  frameHold_.setEnabled(true);
}

bool RdmLine::received(const Message& message) {
  if (message.label == kRdmTimeout && std::exchange(owedClose_, false)) return true;
  if (message.label == kReceived && !isReceivedDmx(message)) owedClose_ = false;
  if (!pending_) return false;
  Pending& p = *pending_;
  if (message.label == kRdmTimeout) {
    // Older firmware's close of a discovery answer, or the plain "nothing came back".
    finish(p.held ? *p.held : LineResult{LineResult::Kind::Timeout, {}, {}});
    return true;
  }
  if (message.label != kReceived || message.payload.isEmpty() || p.held) return false;
  // Levels received while a request waits are the line's DMX, not its answer; a discovery answer
  // starts with its preamble, never with start code 0.
  if (!p.branch && isReceivedDmx(message)) return false;
  if (p.broadcast) return false;
  const bool lineErrors = message.payload[0] != 0;
  LineResult result{LineResult::Kind::Answer, message.payload.mid(1), {}};
  // Errors while receiving a discovery answer are what several devices at once look like; in a
  // packet the checksum tells.
  if (p.branch && lineErrors) result = {LineResult::Kind::Collision, {}, {}};
  if (p.branch && lateClose_) {
    p.held = std::move(result);
    watchdog_.setInterval(kLateCloseMs);
    watchdog_.setEnabled(true);
    return true;
  }
  finish(std::move(result));
  return true;
}

void RdmLine::timedOut() {
  if (!pending_) return;
  owedClose_ = true;
  if (pending_->held) return finish(*pending_->held);
  if (pending_->broadcast) return finish({LineResult::Kind::Timeout, {}, {}});
  ++watchdogs_;
  qCDebug(lcUsbPro) << "the widget did not close an RDM request";
  if (++silentInARow_ >= kSilentBeforeFailed)
    return finish({LineResult::Kind::Failed,
                   {},
                   QStringLiteral("接口不结束 RDM 请求 (the widget never closes a request)")});
  // finish() would count this as an answer.
  const int silent = silentInARow_;
  finish({LineResult::Kind::Timeout, {}, {}});
  silentInARow_ = silent;
}

void RdmLine::portClosed() {
  owedClose_ = false;
  if (pending_) finish({LineResult::Kind::Failed, {}, QStringLiteral("接口已断开")});
}

void RdmLine::finish(LineResult result) {
  watchdog_.setEnabled(false);
  frameHold_.setEnabled(false);
  holding_ = false;
  silentInARow_ = 0;
  auto done = std::move(pending_->done);
  pending_.reset();
  scheduler_.post([done = std::move(done), result = std::move(result)] { done(result); });
  if (hooks_.changed) hooks_.changed();
}

}  // namespace luvrin::usbpro
