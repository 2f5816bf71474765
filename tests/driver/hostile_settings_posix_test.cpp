// A serial settings file that is no file to read (a FIFO, a device that never ends): the
// driver starts as without one, sends, and plays scenes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <chrono>
#include <functional>

#include "driver_fixture.h"
#include "support/fifo_watchdog.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

TEST(DriverStartup, ASettingsFileThatIsNoFileStartsTheDriverAsWithoutOne) {
  const std::function<void(const QString&)> faults[] = {
      [](const QString& at) { ASSERT_EQ(::mkfifo(QFile::encodeName(at).constData(), 0600), 0); },
      [](const QString& at) { ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), at)); },
  };
  for (const auto& fault : faults) {
    Driver d;
    const QString settings = d.show.path(QStringLiteral("串口配置.ini"));
    fault(settings);
    d.show.writeCatalog({QStringLiteral("A=DMX007,")});
    EXPECT_TRUE(returnsWithoutWaitingOnFifo(settings, [&] { d.load(); }));
    ASSERT_TRUE(d.form);
    EXPECT_EQ(d.form->Text5.text(), QString());  // no send data length: frames of one level
    d.port.frames.clear();
    d.handoff.value = QStringLiteral("A");
    d.run(300ms);
    EXPECT_EQ(d.form->Text7.text(), QStringLiteral("DMX007,"));
    EXPECT_EQ(d.port.lastFrameLevels(), (Levels{0}));
    EXPECT_GT(d.port.frames.size(), 100u);
  }
}
