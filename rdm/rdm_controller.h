#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>

#include "rdm_message.h"
#include "rdm_transport.h"
#include "scheduler.h"

namespace luvrin::rdm {

// The end of one GET or SET, after the timers, overflows and retries it took.
struct Outcome {
  enum class Kind { Ack, Nack, Timeout, Damaged, Failed };
  Outcome() = default;
  Outcome(Kind k, QByteArray d = {}, std::uint16_t reason = 0, QString e = {})
      : kind(k), data(std::move(d)), nackReason(reason), error(std::move(e)) {}
  Kind kind = Kind::Timeout;
  QByteArray data;  // Ack: the parameter data, the parts of an overflow joined
  std::uint16_t nackReason = 0;
  QString error;  // Failed: the interface's words
  bool ok() const { return kind == Kind::Ack; }
  // For the user: "设备不认识这项参数 (NR_UNKNOWN_PID)", "设备没有回答", ...
  QString text() const;
};

// Transactions with the devices behind one interface: transaction numbers, one request on the
// line at a time, ACK_TIMER (ask again with QUEUED_MESSAGE when the time given has passed),
// ACK_OVERFLOW (ask again and join the parts), a lost or damaged answer asked again a few times.
// Every result reaches its caller from a posted event, never from inside the call that asked.
class Controller {
 public:
  Controller(Scheduler& scheduler, Transport& transport, Uid source);
  ~Controller();
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  using Done = std::function<void(Outcome)>;
  void get(Uid device, std::uint16_t subDevice, std::uint16_t pid, QByteArray data, Done done);
  void set(Uid device, std::uint16_t subDevice, std::uint16_t pid, QByteArray data, Done done);
  // A discovery command as it is: the line's result, no retries (discovery decides those).
  using RawDone = std::function<void(const LineResult&, const Request& sent)>;
  void discover(Uid destination, std::uint16_t pid, QByteArray data, RawDone done);

  Uid source() const { return source_; }
  Scheduler& scheduler() { return scheduler_; }
  // Requests put on the line so far, by kind.
  std::int64_t discoveryRequests() const { return discoveryRequests_; }
  std::int64_t otherRequests() const { return otherRequests_; }

  static constexpr int kTries = 3;
  static constexpr int kMaxOverflowParts = 16;
  static constexpr int kMaxQueuedAsks = 8;

 private:
  struct Job {
    Job(Request r, Done d, RawDone w)
        : request(std::move(r)), done(std::move(d)), raw(std::move(w)) {}
    Request request;
    Done done;
    RawDone raw;
    int tries = 0;
    int overflowParts = 0;
    int queuedAsks = 0;
    bool askingQueue = false;
    QByteArray joined;
  };
  void add(Job job);
  void next();
  void transmit();
  void received(LineResult result);
  void answered(const Response& response);
  void finish(Outcome outcome);
  void askQueue();

  Scheduler& scheduler_;
  Transport& transport_;
  Uid source_;
  std::uint8_t transaction_ = 0;
  std::deque<Job> jobs_;
  bool busy_ = false;
  Request onLine_;
  Timer queueTimer_;
  std::int64_t discoveryRequests_ = 0;
  std::int64_t otherRequests_ = 0;
  // Results of this controller's requests that come after it is gone reach nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace luvrin::rdm
