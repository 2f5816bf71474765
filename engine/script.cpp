#include "script.h"

#include <algorithm>
#include <cmath>

#include "numeric.h"

namespace luvrin {

bool startsAt(QStringView script, qsizetype pos, QStringView marker) {
  if (pos < 0 || pos + marker.size() > script.size()) return false;
  return script.mid(pos, marker.size()) == marker;
}

Instruction instructionAt(QStringView script, qsizetype pos) {
  if (startsAt(script, pos, kFrameMarker)) return Instruction::Frame;
  if (startsAt(script, pos, kDelayMarker)) return Instruction::Delay;
  if (startsAt(script, pos, kLoopMarker)) return Instruction::Loop;
  return Instruction::None;
}

std::optional<std::int32_t> delayCount(QStringView script, qsizetype pos) {
  const qsizetype start = pos + kDelayMarker.size();
  if (start >= script.size()) return 0;
  return toInt32(numericValue(script.mid(start, 6)));
}

QString delayDigits(double value) {
  // The pattern sets a minimum width: a seven-digit delay keeps its seven digits (and plays from
  // its first six). Beyond the whole numbers a double holds exactly there are no digits to keep.
  constexpr std::int64_t kLargestExact = std::int64_t{1} << 53;
  auto r = roundHalfEven(value);
  std::int64_t v = r ? *r : (value > 0 ? kLargestExact : 0);
  v = std::clamp<std::int64_t>(v, 0, kLargestExact);
  return QString::number(v).rightJustified(6, u'0');
}

QString composeAction(const QString& frameText, const QString& digits) {
  return QStringLiteral("\r\n") + frameText + QStringLiteral("\r\n!T") + digits +
         QStringLiteral("'100mS");
}

}  // namespace luvrin
