// The guard against guessing, on plain numbers for time.
#include "key_guard.h"

#include <gtest/gtest.h>

using namespace luvrin;

TEST(KeyGuard, AddressWaitsLongerAfterEachWrongKeyPastTheFirstFew) {
  struct Step {
    qint64 at;
    bool wrong;        // a wrong key checked at `at` (else a right one)
    qint64 waitAfter;  // what the address then waits
  };
  const Step steps[] = {
      {0, true, 0},         {1, true, 0},         {2, true, 0},       {3, true, 0},
      {4, true, 0},         {5, true, 100},       {105, true, 200},   {305, true, 400},
      {705, true, 800},     {1505, true, 1600},   {3105, true, 3200}, {6305, true, 6400},
      {12705, true, 10000}, {22705, true, 10000}, {32705, false, 0},  {32706, true, 0},
  };
  KeyGuard guard;
  const QString peer = QStringLiteral("10.0.0.7");
  for (const Step& s : steps) {
    SCOPED_TRACE(s.at);
    s.wrong ? guard.failed(peer, s.at) : guard.succeeded(peer);
    EXPECT_EQ(guard.waitLeft(peer, s.at), s.waitAfter);
    EXPECT_EQ(guard.waitLeft(QStringLiteral("10.0.0.8"), s.at), 0);  // others are not held
  }
  // Quiet for long enough, an address starts afresh.
  for (int i = 0; i < 10; ++i) guard.failed(peer, 40000);
  guard.failed(peer, 40000 + KeyGuard::kForgetMs + 1);
  EXPECT_EQ(guard.waitLeft(peer, 40000 + KeyGuard::kForgetMs + 1), 0);
}

TEST(KeyGuard, WrongKeysAreToldOnceAMinuteWithTheirCountAndTheTableIsBounded) {
  KeyGuard guard;
  const QString peer = QStringLiteral("10.0.0.7");
  guard.failed(peer, 1000);
  EXPECT_EQ(guard.report(1000),
            QStringList{QStringLiteral("远程: 来自 10.0.0.7 的密码错误 1 次 (wrong remote keys "
                                       "from 10.0.0.7: 1)")});
  for (int i = 0; i < 300; ++i) guard.failed(peer, 2000 + i);
  EXPECT_TRUE(guard.report(30000).isEmpty());
  const QStringList later = guard.report(61000);
  ASSERT_EQ(later.size(), 1);
  EXPECT_TRUE(later[0].contains(QStringLiteral("10.0.0.7 的密码错误 300 次")));
  EXPECT_TRUE(guard.report(200000).isEmpty());

  for (int i = 0; i < KeyGuard::kMaxAddresses + 50; ++i)
    guard.failed(QStringLiteral("10.1.%1.%2").arg(i / 256).arg(i % 256), 300000 + i);
  EXPECT_LE(guard.addresses(), KeyGuard::kMaxAddresses);
}
