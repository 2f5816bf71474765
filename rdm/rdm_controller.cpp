#include "rdm_controller.h"

#include "pids.h"

namespace luvrin::rdm {

QString Outcome::text() const {
  switch (kind) {
    case Kind::Ack:
      return QStringLiteral("成功");
    case Kind::Nack:
      return nackText(nackReason);
    case Kind::Timeout:
      return QStringLiteral("设备没有回答 (no response)");
    case Kind::Damaged:
      return QStringLiteral("回答已损坏 (damaged response)");
    case Kind::Failed:
      return error.isEmpty() ? QStringLiteral("接口不能传送 RDM") : error;
  }
  return {};
}

Controller::Controller(Scheduler& scheduler, Transport& transport, Uid source)
    : scheduler_(scheduler),
      transport_(transport),
      source_(source),
      queueTimer_(scheduler, 0, false) {
  queueTimer_.onTimer = [this] {
    queueTimer_.setEnabled(false);
    askQueue();
  };
}

Controller::~Controller() { *alive_ = false; }

void Controller::get(Uid device, std::uint16_t subDevice, std::uint16_t pid, QByteArray data,
                     Done done) {
  add({Request{device, source_, 0, 1, subDevice, CommandClass::Get, pid, std::move(data)},
       std::move(done),
       {}});
}

void Controller::set(Uid device, std::uint16_t subDevice, std::uint16_t pid, QByteArray data,
                     Done done) {
  add({Request{device, source_, 0, 1, subDevice, CommandClass::Set, pid, std::move(data)},
       std::move(done),
       {}});
}

void Controller::discover(Uid destination, std::uint16_t pid, QByteArray data, RawDone done) {
  add({Request{destination, source_, 0, 1, kRootDevice, CommandClass::Discovery, pid,
               std::move(data)},
       {},
       std::move(done)});
}

void Controller::add(Job job) {
  jobs_.push_back(std::move(job));
  if (!busy_) next();
}

void Controller::next() {
  if (jobs_.empty()) {
    busy_ = false;
    return;
  }
  busy_ = true;
  onLine_ = jobs_.front().request;
  transmit();
}

void Controller::transmit() {
  onLine_.transaction = transaction_++;
  if (onLine_.commandClass == CommandClass::Discovery)
    ++discoveryRequests_;
  else
    ++otherRequests_;
  transport_.send(onLine_, [this, alive = alive_](LineResult result) {
    // Posted, so that a transport that answers at once does not nest one request in another.
    scheduler_.post([this, alive, result = std::move(result)]() mutable {
      if (*alive) received(std::move(result));
    });
  });
}

void Controller::received(LineResult result) {
  Job& job = jobs_.front();
  if (job.raw) {
    auto raw = std::move(job.raw);
    jobs_.pop_front();
    raw(result, onLine_);
    next();
    return;
  }
  if (result.kind == LineResult::Kind::Failed) {
    finish({Outcome::Kind::Failed, {}, 0, result.error});
    return;
  }
  if (result.kind == LineResult::Kind::Answer) {
    const Decoded decoded = decodeResponse(result.bytes, onLine_);
    if (decoded.response) {
      answered(*decoded.response);
      return;
    }
  }
  // Lost or damaged: the same request again, a few times.
  if (++job.tries < kTries) {
    transmit();
    return;
  }
  finish(
      {result.kind == LineResult::Kind::Timeout ? Outcome::Kind::Timeout : Outcome::Kind::Damaged});
}

void Controller::answered(const Response& response) {
  Job& job = jobs_.front();
  // The device has nothing queued yet: its STATUS_MESSAGES answer stands for "not yet".
  if (job.askingQueue && response.pid != job.request.pid) {
    if (response.type == ResponseType::AckTimer || ++job.queuedAsks < kMaxQueuedAsks) {
      const int wait = response.type == ResponseType::AckTimer ? be16(response.data, 0) * 100 : 100;
      queueTimer_.setInterval(std::max(wait, 10));
      queueTimer_.setEnabled(true);
      return;
    }
    finish({Outcome::Kind::Timeout});
    return;
  }
  switch (response.type) {
    case ResponseType::Ack:
      job.joined += response.data;
      finish({Outcome::Kind::Ack, job.joined});
      return;
    case ResponseType::NackReason:
      finish({Outcome::Kind::Nack, {}, be16(response.data, 0)});
      return;
    case ResponseType::AckOverflow:
      job.joined += response.data;
      if (++job.overflowParts >= kMaxOverflowParts) {
        finish({Outcome::Kind::Damaged});
        return;
      }
      transmit();
      return;
    case ResponseType::AckTimer: {
      if (++job.queuedAsks > kMaxQueuedAsks) {
        finish({Outcome::Kind::Timeout});
        return;
      }
      // The time is in tenths of a second; the line is held for this device meanwhile.
      queueTimer_.setInterval(std::max(be16(response.data, 0) * 100, 10));
      queueTimer_.setEnabled(true);
      return;
    }
  }
}

void Controller::askQueue() {
  Job& job = jobs_.front();
  job.askingQueue = true;
  job.tries = 0;
  onLine_ = Request{job.request.destination,
                    source_,
                    0,
                    1,
                    job.request.subDevice,
                    CommandClass::Get,
                    kQueuedMessage,
                    QByteArray(1, char(kStatusAdvisory))};
  transmit();
}

void Controller::finish(Outcome outcome) {
  Done done = std::move(jobs_.front().done);
  jobs_.pop_front();
  if (done) done(std::move(outcome));
  next();
}

}  // namespace luvrin::rdm
