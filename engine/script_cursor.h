#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

#include "script.h"

namespace luvrin {

// Where a run stands in the script it plays, and what it recognises there. Positions count from
// 1; the end bound is the script's length when the run starts, so text added to the box while it
// plays is not reached. The script is passed to every question because the box is read afresh
// at each step: an edit during a run shifts what the cursor finds, not where it stands.
class ScriptCursor {
 public:
  // channelCount: the send data length; a frame covers as many whole groups as the intake parses.
  ScriptCursor(qsizetype scriptLength, double channelCount);

  qsizetype position() const { return p_; }
  // The position as an index into the script text.
  qsizetype index() const { return p_ - 1; }
  bool inside() const { return p_ <= end_; }

  // Asked at every character of a scan, hence here where they inline.
  bool atFrame(QStringView script) const { return startsAt(script, p_ - 1, kFrameMarker); }
  bool atDelay(QStringView script) const { return startsAt(script, p_ - 1, kDelayMarker); }
  bool atLoop(QStringView script) const { return startsAt(script, p_ - 1, kLoopMarker); }

  // The channel data a frame here hands on; shorter when the script ends first.
  QString frame(const QString& script) const { return script.mid(p_ - 1, frameLength_); }
  qsizetype frameLength() const { return frameLength_; }
  // Characters from a frame's first to where the scan goes on after it (four per group).
  qsizetype frameSpan() const { return frameSpan_; }
  // The count of the delay here; nullopt when it does not fit in 32 bits.
  std::optional<std::int32_t> delay(QStringView script) const { return delayCount(script, p_ - 1); }

  void advance(qsizetype n) { p_ += n; }
  void step() { ++p_; }
  // Past a delay instruction, whatever its count field held.
  void passDelay() { p_ += kDelaySpan; }
  // Back before the first character: the next step lands on it.
  void restart() { p_ = 0; }

 private:
  qsizetype p_ = 1;
  qsizetype end_;
  qsizetype frameLength_;
  qsizetype frameSpan_;
};

}  // namespace luvrin
