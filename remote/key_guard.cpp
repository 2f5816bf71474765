#include "key_guard.h"

#include <algorithm>

namespace luvrin {

qint64 KeyGuard::waitLeft(const QString& address, qint64 now) const {
  const auto it = entries_.constFind(address);
  if (it == entries_.constEnd()) return 0;
  return std::max<qint64>(0, it->waitUntil - now);
}

void KeyGuard::failed(const QString& address, qint64 now) {
  auto it = entries_.find(address);
  if (it != entries_.end() && now - it->lastFailure > kForgetMs) {
    const int untold = it->untold;
    *it = Entry{};
    it->untold = untold;
  }
  if (it == entries_.end()) {
    makeRoom(now);
    it = entries_.insert(address, Entry{});
  }
  Entry& e = *it;
  ++e.failures;
  ++e.untold;
  e.lastFailure = now;
  if (e.failures > kFreeTries) {
    const int doublings = std::min(e.failures - kFreeTries - 1, 16);
    e.waitUntil = now + std::min(kFirstWaitMs << doublings, kLongestWaitMs);
  }
}

void KeyGuard::succeeded(const QString& address) {
  const auto it = entries_.find(address);
  if (it == entries_.end()) return;
  // What it got wrong before is still told.
  if (it->untold > 0) {
    *it = Entry{.untold = it->untold};
  } else {
    entries_.erase(it);
  }
}

void KeyGuard::makeRoom(qint64 now) {
  if (entries_.size() < kMaxAddresses) return;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->lastFailure > kForgetMs && it->untold == 0) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  while (entries_.size() >= kMaxAddresses) {
    const auto oldest = std::min_element(
        entries_.begin(), entries_.end(),
        [](const Entry& a, const Entry& b) { return a.lastFailure < b.lastFailure; });
    entries_.erase(oldest);
  }
}

QStringList KeyGuard::report(qint64 now) {
  QStringList lines;
  if (reported_ && now - lastReport_ < kReportEveryMs) return lines;
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->untold == 0) continue;
    lines.append(QStringLiteral("远程: 来自 %1 的密码错误 %2 次 (wrong remote keys from %1: %2)")
                     .arg(it.key())
                     .arg(it->untold));
    it->untold = 0;
  }
  if (!lines.isEmpty()) {
    reported_ = true;
    lastReport_ = now;
  }
  for (auto it = entries_.begin(); it != entries_.end();)
    it = it->failures == 0 && it->untold == 0 ? entries_.erase(it) : std::next(it);
  return lines;
}

}  // namespace luvrin
