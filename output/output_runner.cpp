#include "output_runner.h"

#include <type_traits>
#include <utility>

namespace luvrin {

namespace {

rdm::LineResult lineFailure(const QString& why) { return {rdm::LineResult::Kind::Failed, {}, why}; }

rdm::Transport::Found findFailure(const QString& why) { return {{}, true, why}; }

const QString kNoAnswerInTime =
    QStringLiteral("接口没有及时回答 (the interface did not answer in time)");
const QString kInterfaceGone =
    QStringLiteral("接口已关闭或已更换 (the interface closed or changed)");

}  // namespace

// The output's side: built, used and ended there.
struct OutputRunner::Worker {
  Worker(OutputRunner& link, Scheduler& s, const Factory& make, std::unique_ptr<Waker> frameWaker)
      : scheduler(s), output(make(scheduler)), loop(scheduler, *output, std::move(frameWaker)) {
    loop.beforeTick = [this, &link] { link.takeNewestFrame(*this); };
    loop.onCounted = [this, &link] {
      link.counted_.fetch_add(1);
      const std::int64_t now = scheduler.now();
      if (now - lastCountNotice < kCountNoticeMs) return;
      lastCountNotice = now;
      link.toWindow(link.countedPosted_, &OutputRunner::onCounted_);
    };
    loop.onStatusChanged = [this, &link] {
      {
        const std::lock_guard lock(link.mutex_);
        link.status_ = output->status();
      }
      link.publishRdm(*this);
      link.toWindow(link.statusPosted_, &OutputRunner::onStatus_);
    };
    loop.onLevelsReceived = [&link](const ReceivedLevels& in) {
      {
        const std::lock_guard lock(link.mutex_);
        link.received_.add(in);
      }
      link.toWindow(link.receivedPosted_, &OutputRunner::onReceived_);
    };
    loop.onStatusChanged();
    // The shortest interval until the window tells its own.
    loop.setInterval(1);
  }

  // The requests being served: each is answered once, by the output or with its failure.
  struct Serving {
    Kind kind;
    std::any failed;
  };
  Scheduler& scheduler;
  std::unique_ptr<FrameOutput> output;
  FrameLoop loop;
  std::int64_t lastCountNotice = -kCountNoticeMs;
  std::map<RequestId, Serving> serving;
  rdm::Transport* rdmSeen = nullptr;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

// The window's stand-in for the output's RDM: each transaction goes to the output's side, and
// its result comes back on the window's thread, once.
class OutputRunner::RdmProxy final : public rdm::Transport {
 public:
  explicit RdmProxy(OutputRunner& link) : link_(link) {}

  void send(const rdm::Request& request, std::function<void(rdm::LineResult)> done) override {
    call<rdm::LineResult>(kRdmSendDeadlineMs, lineFailure(kNoAnswerInTime),
                          lineFailure(kInterfaceGone), std::move(done),
                          [request](rdm::Transport& t, const AnyAnswer& answer) {
                            t.send(request, [answer](rdm::LineResult r) { answer(std::move(r)); });
                          });
  }
  bool findsDevices() const override {
    const std::lock_guard lock(link_.mutex_);
    return link_.rdmState_.findsDevices;
  }
  void findDevices(bool full, std::function<void(Found)> done) override {
    call<Found>(kRdmFindDeadlineMs, findFailure(kNoAnswerInTime), findFailure(kInterfaceGone),
                std::move(done), [full](rdm::Transport& t, const AnyAnswer& answer) {
                  t.findDevices(full, [answer](Found f) { answer(std::move(f)); });
                });
  }

 private:
  template <typename Reply>
  void call(int deadlineMs, Reply late, Reply gone, std::function<void(Reply)> done,
            std::function<void(rdm::Transport&, const AnyAnswer&)> work) {
    auto shared = std::make_shared<std::function<void(Reply)>>(std::move(done));
    const RequestId id =
        link_.requests_.add(deadlineMs, std::any(std::move(late)),
                            [shared](std::any& reply) { (*shared)(std::any_cast<Reply&>(reply)); });
    link_.serve(id, Kind::Rdm, std::any(gone),
                [work = std::move(work)](FrameOutput& output, const AnyAnswer& answer) {
                  rdm::Transport* t = output.rdm();
                  if (!t) {
                    Reply refused;
                    if constexpr (std::is_same_v<Reply, rdm::LineResult>) {
                      refused = lineFailure(output.rdmRefusal());
                    } else {
                      refused = findFailure(output.rdmRefusal());
                    }
                    return answer(std::move(refused));
                  }
                  work(*t, answer);
                });
  }

  OutputRunner& link_;
};

OutputRunner::OutputRunner(Sides sides)
    : sides_(std::move(sides)), rdm_(std::make_unique<RdmProxy>(*this)), requests_(sides_.window) {
  rdmState_.refusal = QStringLiteral("接口尚未就绪 (the interface is not ready yet)");
}

OutputRunner::~OutputRunner() { *alive_ = false; }

void OutputRunner::start(Scheduler& scheduler, const Factory& make,
                         std::unique_ptr<Waker> frameWaker) {
  worker_ = std::make_unique<Worker>(*this, scheduler, make, std::move(frameWaker));
}

void OutputRunner::stop() {
  if (!worker_) return;
  // Answered first, while the output is still whole; what it answers while it closes is late.
  auto serving = std::exchange(worker_->serving, {});
  *worker_->alive = false;
  for (auto& [id, s] : serving) {
    sides_.toWindow([this, alive = std::weak_ptr<bool>(alive_), id, reply = std::move(s.failed)] {
      if (alive.expired()) return;
      std::any r = reply;
      answered(id, r);
    });
  }
  worker_.reset();
}

OutputRunner::RequestId OutputRunner::askAny(AnyWork work, int deadlineMs, std::any failed,
                                             std::function<void(std::any&)> answered) {
  const RequestId id = requests_.add(deadlineMs, failed, std::move(answered));
  serve(id, Kind::Plain, std::move(failed), std::move(work));
  return id;
}

void OutputRunner::answered(RequestId id, std::any& reply) { requests_.answer(id, reply); }

void OutputRunner::serve(RequestId id, Kind kind, std::any failed, AnyWork work) {
  post([this, id, kind, failed = std::move(failed), work = std::move(work)](Worker& w) {
    w.serving.emplace(id, Worker::Serving{kind, failed});
    AnyAnswer answer = [this, id, on = &w, alive = std::weak_ptr<bool>(w.alive),
                        windowAlive = std::weak_ptr<bool>(alive_)](std::any reply) {
      if (alive.expired() || !on->serving.erase(id)) return;  // answered already
      sides_.toWindow([this, id, windowAlive, reply = std::move(reply)]() mutable {
        if (!windowAlive.expired()) answered(id, reply);
      });
    };
    work(*w.output, answer);
    if (kind == Kind::Rdm) publishRdm(w);
  });
}

void OutputRunner::publishRdm(Worker& w) {
  rdm::Transport* t = w.output->rdm();
  {
    const std::lock_guard lock(mutex_);
    rdmState_.carried = t != nullptr;
    rdmState_.findsDevices = t != nullptr && t->findsDevices();
    rdmState_.refusal = t ? QString() : w.output->rdmRefusal();
  }
  if (t == w.rdmSeen) return;
  w.rdmSeen = t;
  // What went to the interface before is not coming back from this one.
  std::vector<RequestId> gone;
  for (const auto& [id, s] : w.serving)
    if (s.kind == Kind::Rdm) gone.push_back(id);
  for (RequestId id : gone) {
    const auto it = w.serving.find(id);
    std::any reply = std::move(it->second.failed);
    w.serving.erase(it);
    sides_.toWindow([this, id, windowAlive = std::weak_ptr<bool>(alive_), reply]() mutable {
      if (!windowAlive.expired()) answered(id, reply);
    });
  }
}

void OutputRunner::post(std::function<void(Worker&)> fn) {
  sides_.toOutput([this, fn = std::move(fn)] {
    if (worker_) fn(*worker_);
  });
}

void OutputRunner::toWindow(std::atomic<bool>& posted,
                            std::function<void()> OutputRunner::*handler) {
  // One notice on its way is enough: the window reads whatever has gathered when it runs.
  if (posted.exchange(true)) return;
  sides_.toWindow([this, alive = std::weak_ptr<bool>(alive_), &posted, handler] {
    if (alive.expired()) return;
    posted.store(false);
    if (this->*handler) (this->*handler)();
  });
}

void OutputRunner::takeNewestFrame(Worker& w) {
  const std::lock_guard lock(mutex_);
  if (!std::exchange(frameNew_, false)) return;
  w.loop.setFrame(frame_);
}

void OutputRunner::open() {
  post([](Worker& w) { w.output->open(); });
}

void OutputRunner::setFrameInterval(int ms) {
  post([ms](Worker& w) { w.loop.setInterval(ms); });
}

void OutputRunner::setCountOnly(bool countOnly) {
  post([countOnly](Worker& w) { w.loop.setCountOnly(countOnly); });
}

void OutputRunner::setFrame(std::span<const std::uint8_t> frame) {
  const std::lock_guard lock(mutex_);
  frame_.assign(frame.begin(), frame.end());
  frameNew_ = true;
}

QByteArray OutputRunner::takeInput() {
  // What the output's side gathered since the last call; it gathers the next part now, so the
  // window's log trails the wire by one call and the window never waits for the port.
  post([this](Worker& w) {
    const QByteArray more = w.output->takeInput();
    if (more.isEmpty()) return;
    const std::lock_guard lock(mutex_);
    input_ += more;
    if (input_.size() > kInputBytes) input_.remove(0, input_.size() - kInputBytes);
  });
  const std::lock_guard lock(mutex_);
  return std::exchange(input_, QByteArray());
}

std::vector<ReceivedLevels> OutputRunner::takeReceivedLevels() {
  const std::lock_guard lock(mutex_);
  return received_.take();
}

QString OutputRunner::status() const {
  const std::lock_guard lock(mutex_);
  return status_;
}

void OutputRunner::watch(std::function<void()> counted, std::function<void()> statusChanged) {
  onCounted_ = std::move(counted);
  onStatus_ = std::move(statusChanged);
}

void OutputRunner::detach() {
  watch({}, {});
  onReceived_ = nullptr;
}

rdm::Transport* OutputRunner::rdm() {
  const std::lock_guard lock(mutex_);
  return rdmState_.carried ? rdm_.get() : nullptr;
}

QString OutputRunner::rdmRefusal() const {
  const std::lock_guard lock(mutex_);
  return rdmState_.refusal;
}

}  // namespace luvrin
