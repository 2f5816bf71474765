#include "editor_playback.h"

#include <limits>

#include "numeric.h"
#include "script_cursor.h"

namespace luvrin {

EditorPlayback::EditorPlayback(Scheduler& scheduler, Window window)
    : scheduler_(scheduler), w_(std::move(window)), runs_(scheduler) {}

bool EditorPlayback::runFlagZero() const {
  return w_.runButton == nullptr || numericValue(w_.runButton->tag()) == 0.0;
}

void EditorPlayback::Command5_Click() {
  const RunList::Run run = runs_.next();
  runs_.start(run, play(run));
}

void EditorPlayback::Command7_Click() {
  if (w_.runButton) w_.runButton->setTag(QStringLiteral("0"));
}

void EditorPlayback::timdelay_Timer() {
  if (countdown_ > std::numeric_limits<std::int32_t>::min()) --countdown_;
  if (countdown_ <= 0) w_.timdelay->setEnabled(false);
  if (runFlagZero() && countdown_ > 0) countdown_ = 1;
  if (w_.countdownLabel) w_.countdownLabel->setCaption(countdownText(countdown_));
}

bool EditorPlayback::Delay::await_ready() {
  playback_.countdown_ = n_;
  playback_.w_.timdelay->setInterval(100);
  playback_.w_.timdelay->setEnabled(true);
  return playback_.countdown_ <= 0;
}

void EditorPlayback::Delay::await_suspend(std::coroutine_handle<> h) {
  EditorPlayback* p = &playback_;
  const RunList::Run run = run_;
  p->scheduler_.waitUntil([p, run] { return p->countdown_ <= 0 && p->runs_.isTop(run); })
      .await_suspend(h);
}

void EditorPlayback::endRun() {
  w_.refresh->setEnabled(false);
  w_.liveOutput->setEnabled(true);
}

Task EditorPlayback::play(RunList::Run run) {
  RunList::Guard guard{runs_, run};
  w_.refresh->setEnabled(true);
  w_.liveOutput->setEnabled(false);
  const double channels = w_.channelCount ? w_.channelCount() : 0.0;
  w_.runButton->setTag(QStringLiteral("1"));
  TextBox& box = *w_.scriptBox;
  box.setFocus();
  ScriptCursor c(box.text().size(), channels);
  auto yieldOnTop = [this, run] {
    return scheduler_.waitUntil([this, run] { return runs_.isTop(run); });
  };
  qsizetype lastStep = 1;
  while (c.inside()) {
    if (runFlagZero()) {
      endRun();
      co_return;
    }
    lastStep = c.position();
    const QString& s = box.text();
    if (c.atFrame(s)) {
      box.select(static_cast<int>(c.index()), static_cast<int>(c.frameLength()));
      w_.channelDataBox->setText(c.frame(s));
      co_await yieldOnTop();
      if (!runs_.contains(run)) co_return;
      // With the scan's own step this lands just past the span; the driver goes one further.
      c.advance(c.frameSpan() - 1);
    }
    if (c.atDelay(box.text())) {
      box.select(static_cast<int>(c.index()), 1);
      if (auto count = c.delay(box.text())) {
        co_await Delay(*this, *count, run);
        if (!runs_.contains(run)) co_return;
      }
      c.passDelay();
    }
    c.step();
  }
  endRun();
  box.select(static_cast<int>(lastStep - 1), 0);
}

}  // namespace luvrin
