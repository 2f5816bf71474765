#include "driver_playback.h"

#include <algorithm>
#include <limits>

#include "script_cursor.h"

namespace luvrin {

namespace {
// Pending events get a turn after every character examined; giving it per character costs far
// more than the scan itself, so plain text is scanned in chunks of this many characters between
// yields. Frames and delays still yield at once.
constexpr int kScanChunk = 256;
// A looping pass that carried out no frame and no delay (a script of only "!GT000") would spin a
// core; it steps at this pace instead.
constexpr std::int64_t kIdleLoopMs = 5;
constexpr std::int64_t kTickMs = 100;

// Whether a delay of n ticks waits at all: counts of 0 and 1 end at once, and so does a count
// whose milliseconds overflow the 32-bit arithmetic the delay was defined with.
bool delayWaits(std::int32_t n) {
  return n > 1 &&
         static_cast<std::int64_t>(n) * kTickMs <= std::numeric_limits<std::int32_t>::max();
}
}  // namespace

DriverPlayback::DriverPlayback(Scheduler& scheduler, Window window)
    : scheduler_(scheduler), w_(std::move(window)), runs_(scheduler) {}

void DriverPlayback::showCountdown() {
  if (w_.countdownLabel) w_.countdownLabel->setCaption(countdownText(countdown_));
}

void DriverPlayback::Command5_Click() {
  // The old run carries out nothing more, and its delay with it.
  const bool replacing = !runs_.empty();
  runs_.stopAll();
  if (replacing) endCountdown();
  const RunList::Run run = runs_.next();
  runs_.start(run, play(run));
}

void DriverPlayback::timdelay_Timer() {
  w_.timdelay->setEnabled(true);
  w_.timdelay->setInterval(100);
  if (countdown_ > 0) {
    --countdown_;
    if (w_.intake) w_.intake();
  }
  showCountdown();
}

void DriverPlayback::stop() {
  runs_.stopAll();
  countdown_ = 0;
  showCountdown();
}

void DriverPlayback::endCountdown() {
  // A countdown of 1 is the last tick of a delay that has ended (it still runs one intake pass);
  // anything above belongs to a delay nobody waits for any more.
  if (countdown_ <= 1) return;
  countdown_ = 0;
  showCountdown();
}

bool DriverPlayback::Delay::await_ready() {
  playback_.delayStart_ = playback_.scheduler_.now();
  playback_.countdown_ = n_;
  return !delayWaits(n_);
}

void DriverPlayback::Delay::await_suspend(std::coroutine_handle<> h) {
  DriverPlayback* p = &playback_;
  const std::int64_t deadline = p->delayStart_ + static_cast<std::int64_t>(n_) * kTickMs + 1;
  p->scheduler_.waitUntil([p] { return p->countdown_ <= 1; }, deadline).await_suspend(h);
}

void DriverPlayback::Delay::await_resume() {
  // The ticks fell behind: the elapsed time ends the wait, with one tick run at once.
  if (playback_.scheduler_.now() - playback_.delayStart_ > static_cast<std::int64_t>(n_) * kTickMs)
    playback_.timdelay_Timer();
}

Task DriverPlayback::play(RunList::Run run) {
  RunList::Guard guard{runs_, run};
  const double channels = w_.channelCount ? w_.channelCount() : 0.0;
  TextBox& box = *w_.scriptBox;
  box.setFocus();
  ScriptCursor c(box.text().size(), channels);
  qsizetype lastStep = 1;
  int sinceYield = 0;
  bool passDidWork = false;
  bool passWaited = false;
  std::int64_t passStart = scheduler_.now();
  while (c.inside()) {
    lastStep = c.position();
    const QString& s = box.text();
    if (c.atFrame(s)) {
      box.setSelStart(static_cast<int>(c.index()));
      w_.channelDataBox->setText(c.frame(s));
      passDidWork = true;
      sinceYield = 0;
      co_await scheduler_.yield();
      if (!runs_.contains(run)) co_return;
      c.advance(c.frameSpan());
    }
    if (c.atDelay(box.text())) {
      box.setSelStart(static_cast<int>(c.index()));
      if (auto count = c.delay(box.text())) {
        // A delay that ends at once gives no other event a turn: a loop of only such delays
        // must still step like a loop without work, or it holds the one thread for ever.
        if (delayWaits(*count)) {
          passDidWork = true;
          passWaited = true;
          sinceYield = 0;
        }
        co_await DelayTim(*count);
        if (!runs_.contains(run)) co_return;
      }
      c.passDelay();
    }
    if (c.atLoop(box.text())) {
      if (!passDidWork) {
        co_await scheduler_.waitUntil([] { return false; }, scheduler_.now() + kIdleLoopMs);
        if (!runs_.contains(run)) co_return;
      } else if (!passWaited) {
        const std::int64_t frame = w_.frameInterval ? w_.frameInterval() : 0;
        const std::int64_t next = passStart + (frame > 0 ? frame : kTickMs);
        if (next > scheduler_.now()) {
          co_await scheduler_.waitUntil([] { return false; }, next);
          if (!runs_.contains(run)) co_return;
        }
      }
      passDidWork = false;
      passWaited = false;
      passStart = scheduler_.now();
      c.restart();
    }
    if (++sinceYield >= kScanChunk) {
      sinceYield = 0;
      box.setSelStart(static_cast<int>(std::max<qsizetype>(c.index(), 0)));
      co_await scheduler_.yield();
      if (!runs_.contains(run)) co_return;
    }
    c.step();
  }
  box.setSelStart(static_cast<int>(lastStep - 1));
  endCountdown();
}

}  // namespace luvrin
