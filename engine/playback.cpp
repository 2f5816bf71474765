#include "playback.h"

#include <algorithm>
#include <limits>

#include "channel_data.h"
#include "numeric.h"
#include "script.h"

namespace luvrin {

namespace {
// The driver lets pending events run after every character it examines; doing so per character
// costs far more than the scan itself, so plain text is scanned in chunks of this many
// characters between yields. Frames and delays still yield at once.
constexpr int kScanChunk = 256;
// A looping pass that carried out no frame and no delay (a script of only "!GT000") would spin a
// core; it steps at this pace instead.
constexpr std::int64_t kIdleLoopMs = 5;
constexpr std::int64_t kTickMs = 100;

// Whether a driver delay of n ticks waits at all: counts of 0 and 1 end at once, and so does a
// count whose milliseconds overflow the 32-bit arithmetic the delay was defined with.
bool driverDelayWaits(std::int32_t n) {
  return n > 1 &&
         static_cast<std::int64_t>(n) * kTickMs <= std::numeric_limits<std::int32_t>::max();
}
}  // namespace

struct PlaybackEngine::RunGuard {
  PlaybackEngine& engine;
  std::uint64_t run;
  ~RunGuard() {
    std::erase_if(engine.runs_, [this](const RunEntry& e) { return e.run == run; });
  }
};

PlaybackEngine::PlaybackEngine(Scheduler& scheduler, Kind kind, Window window)
    : scheduler_(scheduler), kind_(kind), w_(std::move(window)) {}

PlaybackEngine::~PlaybackEngine() { stopAll(); }

bool PlaybackEngine::isCurrent(std::uint64_t run) const {
  return std::any_of(runs_.begin(), runs_.end(), [run](const RunEntry& e) { return e.run == run; });
}

qsizetype PlaybackEngine::frameChannels() const {
  // As many groups as the intake parses and the editor writes for the same length.
  return groupCount(w_.channelCount ? w_.channelCount() : 0.0);
}

bool PlaybackEngine::runFlagZero() const {
  return w_.runButton == nullptr || numericValue(w_.runButton->tag()) == 0.0;
}

void PlaybackEngine::stopAll() {
  const auto runs = runs_;
  runs_.clear();
  for (const RunEntry& e : runs) scheduler_.cancel(e.task);
}

void PlaybackEngine::Command5_Click() {
  const std::uint64_t run = nextRun_++;
  if (kind_ == Kind::Driver) {
    // A new run replaces the one in progress; the old one carries out nothing more, and its
    // delay with it.
    const bool replacing = !runs_.empty();
    stopAll();
    if (replacing) endDriverCountdown();
    runs_.push_back({run, 0});
    runs_.back().task = scheduler_.spawn(driverRun(run));
  } else {
    // Editor runs stack: the new one goes on top, the one below waits until it ends.
    runs_.push_back({run, 0});
    runs_.back().task = scheduler_.spawn(editorRun(run));
  }
}

void PlaybackEngine::Command7_Click() {
  if (w_.runButton) w_.runButton->setTag(QStringLiteral("0"));
}

void PlaybackEngine::timdelay_Timer() {
  if (kind_ == Kind::Driver) {
    w_.timdelay->setEnabled(true);
    w_.timdelay->setInterval(100);
    if (countdown_ > 0) {
      --countdown_;
      if (w_.intake) w_.intake();
    }
  } else {
    if (countdown_ > std::numeric_limits<std::int32_t>::min()) --countdown_;
    if (countdown_ <= 0) w_.timdelay->setEnabled(false);
    if (runFlagZero() && countdown_ > 0) countdown_ = 1;
  }
  if (w_.countdownLabel) w_.countdownLabel->setCaption(countdownText(countdown_));
}

PlaybackEngine::Delay PlaybackEngine::DelayTim(std::int32_t n) {
  return Delay(*this, n, awaitingRun_);
}

bool PlaybackEngine::Delay::await_ready() {
  PlaybackEngine& e = engine_;
  if (e.kind_ == Kind::Driver) {
    e.delayStart_ = e.scheduler_.now();
    e.countdown_ = n_;
    return !driverDelayWaits(n_);
  }
  e.countdown_ = n_;
  e.w_.timdelay->setInterval(100);
  e.w_.timdelay->setEnabled(true);
  return e.countdown_ <= 0;
}

void PlaybackEngine::Delay::await_suspend(std::coroutine_handle<> h) {
  PlaybackEngine* e = &engine_;
  if (e->kind_ == Kind::Driver) {
    const std::int64_t deadline = e->delayStart_ + static_cast<std::int64_t>(n_) * kTickMs + 1;
    e->scheduler_.waitUntil([e] { return e->countdown_ <= 1; }, deadline).await_suspend(h);
  } else {
    const std::uint64_t run = run_;
    e->scheduler_.waitUntil([e, run] { return e->countdown_ <= 0 && e->isTop(run); })
        .await_suspend(h);
  }
}

void PlaybackEngine::Delay::await_resume() {
  PlaybackEngine& e = engine_;
  if (e.kind_ != Kind::Driver) return;
  // The ticks fell behind: the elapsed time ends the wait, with one tick run at once.
  if (e.scheduler_.now() - e.delayStart_ > static_cast<std::int64_t>(n_) * kTickMs)
    e.timdelay_Timer();
}

Task PlaybackEngine::driverRun(std::uint64_t run) {
  RunGuard guard{*this, run};
  const qsizetype n = frameChannels();
  const qsizetype frameLength = channelDataLength(n);
  const qsizetype step = 4 * n;
  TextBox& box = *w_.scriptBox;
  box.setFocus();
  const qsizetype end = box.text().size();
  qsizetype p = 1;
  qsizetype lastStep = 1;
  int sinceYield = 0;
  bool passDidWork = false;
  while (p <= end) {
    lastStep = p;
    const QString& s = box.text();
    if (startsAt(s, p - 1, kFrameMarker)) {
      box.setSelStart(static_cast<int>(p - 1));
      w_.channelDataBox->setText(s.mid(p - 1, frameLength));
      passDidWork = true;
      sinceYield = 0;
      co_await scheduler_.yield();
      if (!isCurrent(run)) co_return;
      p += step;
    }
    if (startsAt(box.text(), p - 1, kDelayMarker)) {
      box.setSelStart(static_cast<int>(p - 1));
      if (auto count = delayCount(box.text(), p - 1)) {
        // A delay that ends at once gives no other event a turn: a loop of only such delays
        // must still step like a loop without work, or it holds the one thread for ever.
        if (driverDelayWaits(*count)) {
          passDidWork = true;
          sinceYield = 0;
        }
        awaitingRun_ = run;
        co_await DelayTim(*count);
        if (!isCurrent(run)) co_return;
      }
      p += kDelaySpan;
    }
    if (startsAt(box.text(), p - 1, kLoopMarker)) {
      if (!passDidWork) {
        co_await scheduler_.waitUntil([] { return false; }, scheduler_.now() + kIdleLoopMs);
        if (!isCurrent(run)) co_return;
      }
      passDidWork = false;
      p = 0;
    }
    if (++sinceYield >= kScanChunk) {
      sinceYield = 0;
      box.setSelStart(static_cast<int>(std::max<qsizetype>(p - 1, 0)));
      co_await scheduler_.yield();
      if (!isCurrent(run)) co_return;
    }
    ++p;
  }
  box.setSelStart(static_cast<int>(lastStep - 1));
  endDriverCountdown();
}

void PlaybackEngine::endDriverCountdown() {
  // A countdown of 1 is the last tick of a delay that has ended (it still runs one intake pass);
  // anything above belongs to a delay nobody waits for any more.
  if (countdown_ <= 1) return;
  countdown_ = 0;
  if (w_.countdownLabel) w_.countdownLabel->setCaption(countdownText(countdown_));
}

void PlaybackEngine::endEditorRun() {
  w_.refresh->setEnabled(false);
  w_.liveOutput->setEnabled(true);
}

Task PlaybackEngine::editorRun(std::uint64_t run) {
  RunGuard guard{*this, run};
  w_.refresh->setEnabled(true);
  w_.liveOutput->setEnabled(false);
  const qsizetype n = frameChannels();
  const qsizetype frameLength = channelDataLength(n);
  const qsizetype step = 4 * n;
  w_.runButton->setTag(QStringLiteral("1"));
  TextBox& box = *w_.scriptBox;
  box.setFocus();
  const qsizetype end = box.text().size();
  auto yieldOnTop = [this, run] {
    return scheduler_.waitUntil([this, run] { return isTop(run); });
  };
  qsizetype p = 1;
  qsizetype lastStep = 1;
  while (p <= end) {
    if (runFlagZero()) {
      endEditorRun();
      co_return;
    }
    lastStep = p;
    const QString& s = box.text();
    if (startsAt(s, p - 1, kFrameMarker)) {
      box.select(static_cast<int>(p - 1), static_cast<int>(frameLength));
      w_.channelDataBox->setText(s.mid(p - 1, frameLength));
      co_await yieldOnTop();
      if (!isCurrent(run)) co_return;
      p += step - 1;
    }
    if (startsAt(box.text(), p - 1, kDelayMarker)) {
      box.select(static_cast<int>(p - 1), 1);
      if (auto count = delayCount(box.text(), p - 1)) {
        awaitingRun_ = run;
        co_await DelayTim(*count);
        if (!isCurrent(run)) co_return;
      }
      p += kDelaySpan;
    }
    ++p;
  }
  endEditorRun();
  box.select(static_cast<int>(lastStep - 1), 0);
}

}  // namespace luvrin
