#include "driver/form1.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/test_support.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

TEST(DriverDelay, TenTickDelayResumesWhenCountdownShowsOne) {
  TempShow show({{QStringLiteral("发送数据长度"), QStringLiteral("2")}});
  ManualClock clock;
  Scheduler scheduler(clock);
  RecordingPort port;
  MemoryHandoff handoff;
  Form1 driver(scheduler, show.programFolder(), port, handoff);
  driver.Form_Load();

  driver.Text4.setText(QStringLiteral("DMX001,002,\r\n!T000010'100mS\r\nDMX003,004,"));
  scheduler.advanceBy(750ms);
  EXPECT_EQ(driver.Text7.text().left(11), QStringLiteral("DMX001,002,"));
  scheduler.advanceBy(150ms);
  EXPECT_EQ(driver.Text7.text().left(11), QStringLiteral("DMX003,004,"));
  scheduler.advanceBy(150ms);
  EXPECT_EQ(port.lastFrameLevels(), (Levels{3, 4, 0}));
}
