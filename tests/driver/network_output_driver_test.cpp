#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <vector>

#include "address_forms.h"
#include "driver_window.h"
#include "e131_packet.h"
#include "log_file.h"
#include "network_output.h"
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

// Starting passes through statuses that last no time (before the socket opens, before the first
// frame names its universes): the user's log gets only the one that stays.
TEST(NetworkOutputDriver, LogsOnlyTheStatusThatLasts) {
  testing::TempShow show({{QStringLiteral("发送数据长度"), QStringLiteral("600")}});
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("LUVRIN.log"));
  {
    LogFile logFile(path, QStringLiteral("LUVRIN"));
    installMessageLog(logFile);
    ManualClock clock;
    VirtualScheduler scheduler(clock);
    std::vector<Sent> log;
    NetworkOutput port(scheduler, sacn(1), std::make_unique<RecordingSink>(clock, log));
    testing::MemoryHandoff handoff;
    {
      Form1 driver(scheduler, show.programFolder(), port, handoff);
      driver.Form_Load();
      scheduler.advanceBy(1000ms);
    }
    removeMessageLog();
  }
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n').filter(u"输出: ");
  ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
  EXPECT_TRUE(lines[0].contains(u"sACN 宇宙 1-2 → 127.0.0.1")) << lines[0].toStdString();
}

}  // namespace
}  // namespace luvrin
