#include "script_cursor.h"

#include "channel_data.h"
#include "numeric.h"
#include "script.h"

namespace luvrin {

ScriptCursor::ScriptCursor(qsizetype scriptLength, double channelCount) : end_(scriptLength) {
  const qsizetype groups = groupCount(channelCount);
  frameLength_ = channelDataLength(groups);
  frameSpan_ = 4 * groups;
}

bool ScriptCursor::atFrame(QStringView script) const {
  return startsAt(script, p_ - 1, kFrameMarker);
}

bool ScriptCursor::atDelay(QStringView script) const {
  return startsAt(script, p_ - 1, kDelayMarker);
}

bool ScriptCursor::atLoop(QStringView script) const {
  return startsAt(script, p_ - 1, kLoopMarker);
}

std::optional<std::int32_t> ScriptCursor::delay(QStringView script) const {
  return delayCount(script, p_ - 1);
}

void ScriptCursor::passDelay() { p_ += kDelaySpan; }

}  // namespace luvrin
