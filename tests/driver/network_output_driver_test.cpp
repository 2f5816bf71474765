#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "driver_window.h"
#include "e131_packet.h"
#include "network_output.h"
#include "address_forms.h"
#include "support/recording_sink.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace luvrin {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::RecordingSink;
using testing::Sent;

OutputAddress sacn(std::uint32_t universe) {
  return parseOutputAddress(QStringLiteral("sacn:%1@127.0.0.1").arg(universe)).address.value();
}

// The whole driver: the frame counter and the rate meter count the packets that went out.
TEST(NetworkOutputDriver, RateMeterShowsPacketsSentAndTheWireCarriesTheScene) {
  testing::TempShow show({{QStringLiteral("发送定时器时间"), QStringLiteral("1")},
                          {QStringLiteral("发送数据长度"), QStringLiteral("3")},
                          {QStringLiteral("端口"), QStringLiteral("sacn:1")}});
  ManualClock clock;
  VirtualScheduler scheduler(clock);
  std::vector<Sent> log;
  NetworkOutput port(scheduler, sacn(1), std::make_unique<RecordingSink>(clock, log));
  testing::MemoryHandoff handoff;
  Form1 driver(scheduler, show.programFolder(), port, handoff);
  driver.Form_Load();
  driver.Text7.setText(QStringLiteral("DMX255,000,128,"));
  scheduler.advanceBy(1000ms);
  EXPECT_EQ(driver.Label5.caption(), QStringLiteral("发送频率44次/秒"));
  scheduler.advanceBy(1000ms);
  EXPECT_EQ(driver.Label5.caption(), QStringLiteral("发送频率44次/秒"));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(e131::parseDataPacket(log.back().packet)->levels, (Bytes{255, 0, 128, 0}));
}

}  // namespace
}  // namespace luvrin
