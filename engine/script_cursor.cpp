#include "script_cursor.h"

#include "channel_data.h"
#include "numeric.h"

namespace luvrin {

ScriptCursor::ScriptCursor(qsizetype scriptLength, double channelCount) : end_(scriptLength) {
  const qsizetype groups = groupCount(channelCount);
  frameLength_ = channelDataLength(groups);
  frameSpan_ = 4 * groups;
}

}  // namespace luvrin
