// A driver whose 端口 is usbpro:LINK against the stand-in widget of usbpro_widget.py, which
// makes a pseudo-terminal behind LINK, decodes every message and answers the widget's queries.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <functional>
#include <iostream>
#include <set>

#include "e2e_support.h"

using namespace luvrin::e2e;

namespace {

// The port is tried again about once a second: the levels should be back well within this.
constexpr auto kResumeBound = 5s;

// The widget's process, its report read line by line; killed by its id at the end.
class WidgetProcess : public LineProcess {
 public:
  bool start(const QString& link) {
    const QString python =
        QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    if (python.isEmpty()) return false;
    return LineProcess::start(python, {QStringLiteral(USBPRO_WIDGET), link});
  }
  void command(const char* line) {
    process().write(QByteArray(line) + '\n');
    process().waitForBytesWritten(5000);
  }
  bool waitForAll(std::set<QString> wanted, std::chrono::milliseconds deadline = kDeadline) {
    return waitForLine(
        [&](const QString& l) {
          wanted.erase(l);
          return wanted.empty();
        },
        deadline);
  }
  QString report() const { return QStringList(lines().begin(), lines().end()).join(u'\n'); }
};

}  // namespace

TEST(UsbProEndToEnd, ScenesReachTheWidgetWhichIsAskedAgainAfterItIsPluggedBackIn) {
  Show show;
  const QString link = show.path(QStringLiteral("widget"));
  WidgetProcess widget;
  ASSERT_TRUE(widget.start(link)) << "python3 is needed for the stand-in widget";
  ASSERT_TRUE(widget.waitForLine([](const QString& l) { return l.startsWith(u"plugged "); }));
  show.writeSettings({{QStringLiteral("端口"), QStringLiteral("usbpro:") + link},
                      {QStringLiteral("发送数据长度"), QStringLiteral("4")},
                      {QStringLiteral("状态"), QStringLiteral("运行")}});
  show.writeCatalog(
      {QStringLiteral("Intro=DMX010,020,030,040,"), QStringLiteral("Warm=DMX200,100,050,025,")});
  show.setHandoffValue(QStringLiteral("Intro"));
  QProcess& driver = show.startDriver();
  const qint64 pid = driver.processId();

  ASSERT_TRUE(widget.waitForAll({QStringLiteral("query parameters"), QStringLiteral("query serial"),
                                 QStringLiteral("dmx 10 20 30 40 0")}))
      << widget.report().toStdString();
  show.setHandoffValue(QStringLiteral("Warm"));
  ASSERT_TRUE(widget.waitForAll({QStringLiteral("dmx 200 100 50 25 0")}));

  // Pulled out and plugged back in: another device behind the same name.
  widget.command("unplug");
  ASSERT_TRUE(widget.waitForAll({QStringLiteral("unplugged")}));
  waitUntil([] { return false; }, 300ms);
  EXPECT_EQ(driver.state(), QProcess::Running);
  widget.command("plug");
  QElapsedTimer resumed;
  resumed.start();
  ASSERT_TRUE(widget.waitForAll({QStringLiteral("query parameters"), QStringLiteral("query serial"),
                                 QStringLiteral("dmx 200 100 50 25 0")},
                                kResumeBound))
      << "no levels within " << kResumeBound.count() << " s of the widget's return";
  std::cout << "[ usbpro ] levels resumed " << resumed.elapsed()
            << " ms after the widget came back\n";

  // Every byte the driver sent was part of a well-formed message the widget takes.
  widget.command("count");
  ASSERT_TRUE(widget.waitForLine([](const QString& l) { return l.startsWith(u"count "); }));
  for (const QString& line : widget.lines())
    EXPECT_FALSE(line.startsWith(u"bad")) << line.toStdString();
  EXPECT_EQ(driver.state(), QProcess::Running);
  EXPECT_EQ(driver.processId(), pid);
}
