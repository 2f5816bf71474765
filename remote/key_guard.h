#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace luvrin {

// Slows down whoever guesses the remote's key: after a few wrong keys from one address, that
// address waits before its next key is checked, twice as long after each further wrong key, up
// to a ceiling. A right key forgives the address. Times are milliseconds on the caller's clock,
// so nothing here waits or reads a clock itself.
class KeyGuard {
 public:
  // Wrong keys forgiven outright: a user who mistypes a few times never notices the guard.
  static constexpr int kFreeTries = 5;
  static constexpr qint64 kFirstWaitMs = 100;
  static constexpr qint64 kLongestWaitMs = 10000;
  // An address not heard from for this long starts afresh.
  static constexpr qint64 kForgetMs = 10 * 60 * 1000;
  // Addresses remembered at once; past that the one that failed longest ago makes room.
  static constexpr int kMaxAddresses = 4096;
  static constexpr qint64 kReportEveryMs = 60000;

  // How long the address still waits before a key from it is checked; 0 when it may try now.
  qint64 waitLeft(const QString& address, qint64 now) const;
  // A key from the address was checked and was wrong.
  void failed(const QString& address, qint64 now);
  void succeeded(const QString& address);

  // The lines to log: one per address with wrong keys not yet told, at most once a minute
  // (the first wrong key after a quiet minute is told at once).
  QStringList report(qint64 now);
  int addresses() const { return static_cast<int>(entries_.size()); }

 private:
  struct Entry {
    int failures = 0;
    qint64 lastFailure = 0;
    qint64 waitUntil = 0;
    int untold = 0;
  };
  void makeRoom(qint64 now);

  QHash<QString, Entry> entries_;
  qint64 lastReport_ = 0;
  bool reported_ = false;
};

}  // namespace luvrin
