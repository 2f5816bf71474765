#include "output_shared.h"

#include <QStringList>

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

QString describeInterface(const InterfaceAbout& about) {
  if (!about.refusal.isEmpty()) return about.refusal;
  if (about.firmwareUnanswered && about.serialUnanswered)
    return QStringLiteral("已打开, 无应答 (the widget does not answer; sending anyway)");
  QStringList said;
  if (about.firmware) said << QStringLiteral("固件 %1").arg(*about.firmware);
  if (about.serialNumber) said << QStringLiteral("序列号 %1").arg(*about.serialNumber);
  if (about.firmwareUnanswered) said << QStringLiteral("参数查询无应答");
  if (about.serialUnanswered) said << QStringLiteral("序列号查询无应答");
  if (said.isEmpty()) return QStringLiteral("已打开");
  return said.join(QStringLiteral(", "));
}

}  // namespace luvrin
