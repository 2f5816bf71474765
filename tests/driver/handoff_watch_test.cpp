#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <chrono>

#include "driver_window.h"
#include "file_handoff_store.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

using namespace luvrin;
using namespace std::chrono_literals;

namespace {

// The file watch needs an event loop; the test turns it until the notices come or time is up.
QCoreApplication& app() {
  static int argc = 1;
  static char name[] = "handoff_watch_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* instance =
      QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
  (void)instance;
  return *QCoreApplication::instance();
}

bool eventsUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 10000) return false;
    app().processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

TEST(HandoffWatch, EachLauncherWriteIsNoticedEvenThoughTheFileIsReplaced) {
  app();
  QTemporaryDir home;
  const QString file = home.path() + QStringLiteral("/TALVEN/LUVRIN.ini");
  FileHandoffStore driverSide(file);
  int notices = 0;
  driverSide.watch([&] { ++notices; });  // no file yet: the folder is watched

  FileHandoffStore launcher(file);
  for (const char* scene : {"Intro", "Warm", "Intro"}) {
    const int before = notices;
    ASSERT_TRUE(launcher.write(QString::fromUtf8(scene)));
    ASSERT_TRUE(eventsUntil([&] { return notices > before; })) << scene;
    EXPECT_EQ(driverSide.read(), QString::fromUtf8(scene));
  }

  driverSide.watch({});
  const int stopped = notices;
  ASSERT_TRUE(launcher.write(QStringLiteral("Warm")));
  app().processEvents(QEventLoop::AllEvents, 200);
  EXPECT_EQ(notices, stopped);
}

// A store that tells when it is written, as the file store does through the system.
class NotifyingHandoff : public luvrin::testing::MemoryHandoff {
 public:
  void watch(std::function<void()> onChange) override { onChange_ = std::move(onChange); }
  void launch(const QString& scene) {
    value = scene;
    if (onChange_) onChange_();
  }
  bool watched() const { return static_cast<bool>(onChange_); }

 private:
  std::function<void()> onChange_;
};

TEST(HandoffWatch, DriverTakesUpANewSceneAtOnceNotAtTheNextPoll) {
  luvrin::testing::TempShow show({{QStringLiteral("发送数据长度"), QStringLiteral("3")}});
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,")});
  ManualClock clock;
  VirtualScheduler scheduler(clock);
  luvrin::testing::RecordingPort port;
  NotifyingHandoff handoff;
  {
    const auto output = luvrin::testing::serialBoxFor(port, show.programFolder());
    Form1 driver(scheduler, show.programFolder(), *output, handoff);
    driver.Form_Load();
    ASSERT_TRUE(handoff.watched());
    scheduler.advanceBy(130ms);  // just past a poll: the next is 70 ms away

    handoff.launch(QStringLiteral("Intro"));
    scheduler.advanceBy(2ms);
    EXPECT_EQ(driver.Text1.text(), QStringLiteral("Intro"));
    EXPECT_EQ(port.lastFrameLevels(), (luvrin::testing::Levels{10, 20, 30, 0}));
  }
  EXPECT_FALSE(handoff.watched()) << "a driver that is gone is not called";
}

}  // namespace
