#include "output_shared.h"

namespace luvrin {

void PacketRate::sent(std::int64_t nowNs) {
  const std::int64_t now = nowNs * kPerSecond;
  if (started_ && now - nextDue_ < kSecondNs)
    nextDue_ += kSecondNs;
  else
    nextDue_ = now + kSecondNs;
  started_ = true;
}

QString universeRange(std::uint64_t first, std::uint64_t last) {
  return first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last);
}

QString cannotOpenRetrying(const QString& name) {
  return name +
         QStringLiteral(": 无法打开, 每秒重试 (cannot be opened; trying again every second)");
}

}  // namespace luvrin
