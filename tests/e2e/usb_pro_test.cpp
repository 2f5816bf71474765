// A driver whose 端口 is usbpro:LINK against the stand-in widget of usbpro_widget.py, which
// makes a pseudo-terminal behind LINK, decodes every message and answers the widget's queries.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <functional>
#include <iostream>
#include <set>

#include "discovery.h"
#include "e2e_support.h"
#include "output_link.h"
#include "pids.h"
#include "qt_serial_port.h"
#include "scheduler_pump.h"
#include "source_uid.h"
#include "usb_pro_output.h"

using namespace luvrin::e2e;

namespace {

// The port is tried again about once a second: the levels should be back well within this.
constexpr auto kResumeBound = 5s;

// The widget's process, its report read line by line; killed by its id at the end.
class WidgetProcess : public LineProcess {
 public:
  bool start(const QString& link, const QStringList& options = {}) {
    const QString python =
        QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    if (python.isEmpty()) return false;
    return LineProcess::start(python, QStringList{QStringLiteral(USBPRO_WIDGET), link} + options);
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

// Runs the program's event loop (the output's scheduler with it) until the predicate holds.
bool runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds deadline) {
  QElapsedTimer clock;
  clock.start();
  while (!predicate()) {
    if (clock.elapsed() >= deadline.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

}  // namespace

// The whole driver with 端口=usbpro:LINK and its remote: the devices behind the widget are found
// through the output thread and listed by the API.
TEST(UsbProEndToEnd, TheDriversApiDiscoversTheDevicesBehindTheWidget) {
  Show show;
  const QString link = show.path(QStringLiteral("widget"));
  WidgetProcess widget;
  ASSERT_TRUE(widget.start(link, {QStringLiteral("--rdm"), QStringLiteral("3"),
                                  QStringLiteral("--firmware"), QStringLiteral("4.15")}));
  ASSERT_TRUE(widget.waitForLine([](const QString& l) { return l.startsWith(u"plugged "); }));
  const quint16 port = freePort();
  show.writeSettings({{QStringLiteral("端口"), QStringLiteral("usbpro:") + link},
                      {QStringLiteral("发送数据长度"), QStringLiteral("4")},
                      {QStringLiteral("状态"), QStringLiteral("运行")},
                      {QStringLiteral("远程端口"), QString::number(port)}});
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,040,")});
  show.setHandoffValue(QStringLiteral("Intro"));
  show.startDriver();
  ASSERT_TRUE(
      widget.waitForAll({QStringLiteral("query parameters"), QStringLiteral("dmx 10 20 30 40 0")}))
      << widget.report().toStdString();

  // The widget's answer to the parameter query may still be on its way: 501 until it is in.
  Reply reply;
  QElapsedTimer took;
  took.start();
  ASSERT_TRUE(waitUntil([&] {
    reply = http(port, "POST", "/api/rdm/discover", R"({"full": true})");
    return reply.status == 200;
  })) << reply.body.toStdString();
  std::cout << "[ usbpro ] the driver's API found the devices in " << took.elapsed() << " ms\n";
  std::set<QString> uids;
  for (const QJsonValue& d : reply.json()[QStringLiteral("devices")].toArray())
    uids.insert(d[QStringLiteral("uid")].toString());
  EXPECT_EQ(uids,
            (std::set<QString>{QStringLiteral("7a70:00000001"), QStringLiteral("7a70:00000002"),
                               QStringLiteral("7a70:00000003")}))
      << reply.body.toStdString();
  // What the widget told of itself reaches the devices' list through the output's requests.
  EXPECT_EQ(http(port, "GET", "/api/rdm/devices").json()[QStringLiteral("interface")].toString(),
            QStringLiteral("接口: 固件 4.15, 序列号 12345678"));
  // The levels went on meanwhile.
  widget.command("count");
  ASSERT_TRUE(widget.waitForLine([](const QString& l) { return l.startsWith(u"count "); }));
  for (const QString& line : widget.lines())
    EXPECT_FALSE(line.startsWith(u"bad")) << line.toStdString();
}

// The output as the output thread runs it, on the real serial port and clock, against the
// stand-in widget with responders: discovery finds them all, an address set reads back, and the
// frames go on meanwhile.
TEST(UsbProEndToEnd, RdmThroughTheWidgetFindsItsDevicesAndSetsAnAddress) {
  using namespace luvrin;
  for (const char* firmware : {"2.4", "4.15"}) {
    Show show;
    const QString link = show.path(QStringLiteral("widget"));
    WidgetProcess widget;
    ASSERT_TRUE(widget.start(link, {QStringLiteral("--rdm"), QStringLiteral("5"),
                                    QStringLiteral("--firmware"), QString::fromUtf8(firmware)}));
    ASSERT_TRUE(widget.waitForLine([](const QString& l) { return l.startsWith(u"plugged "); }));

    SteadyClock clock;
    Scheduler scheduler(clock);
    SchedulerPump pump(scheduler);
    auto port = std::make_unique<QtSerialPort>();
    port->setPortDevice(link);
    port->setSettings(QStringLiteral("115200,N,8,1"));
    UsbProOutput output(scheduler, std::move(port));
    FrameSender sender(output);
    int framesSent = 0;
    sender.onCounted = [&] { ++framesSent; };
    sender.setFrame(std::vector<std::uint8_t>{10, 20, 30});
    Timer frames(scheduler, 1, true, [&] { sender.tick(); });
    output.open();
    ASSERT_TRUE(runUntil([&] { return output.rdm() != nullptr; }, kDeadline))
        << firmware << ": " << output.rdmRefusal().toStdString();

    rdm::Controller controller(scheduler, *output.rdm(), {rdm::kOwnManufacturer, 1});
    rdm::Discovery discovery(controller);
    std::optional<rdm::Discovery::Result> found;
    QElapsedTimer took;
    took.start();
    const int framesBefore = framesSent;
    discovery.run(true, {}, [&](const rdm::Discovery::Result& r) { found = r; });
    ASSERT_TRUE(runUntil([&] { return found.has_value(); }, kDeadline)) << firmware;
    // Frames went on all along, at about 44 a second.
    EXPECT_GE(framesSent - framesBefore, took.elapsed() * 44 / 1000 / 2) << firmware;
    std::set<QString> uids;
    for (const rdm::Uid& uid : found->devices) uids.insert(uid.toString());
    EXPECT_EQ(uids,
              (std::set<QString>{QStringLiteral("7a70:00000001"), QStringLiteral("7a70:00000002"),
                                 QStringLiteral("7a70:00000003"), QStringLiteral("7a70:00000004"),
                                 QStringLiteral("7a70:00000005")}))
        << firmware;
    std::cout << "[ usbpro ] firmware " << firmware << ": " << found->devices.size()
              << " devices found in " << took.elapsed() << " ms\n";

    const rdm::Uid last{0x7a70, 5};
    QByteArray address;
    rdm::putBe16(address, 101);
    std::optional<rdm::Outcome> set, readBack;
    controller.set(last, 0, rdm::kDmxStartAddress, address, [&](rdm::Outcome o) {
      set = o;
      controller.get(last, 0, rdm::kDmxStartAddress, {}, [&](rdm::Outcome g) { readBack = g; });
    });
    ASSERT_TRUE(runUntil([&] { return readBack.has_value(); }, kDeadline)) << firmware;
    EXPECT_TRUE(set->ok()) << set->text().toStdString();
    EXPECT_EQ(readBack->data, address) << readBack->text().toStdString();
    EXPECT_TRUE(widget.waitForAll(
        {QStringLiteral("rdm set 7a70:00000005 address 101"), QStringLiteral("dmx 10 20 30")}))
        << widget.report().toStdString();

    // Every byte sent was a message the widget takes.
    widget.command("count");
    ASSERT_TRUE(widget.waitForLine([](const QString& l) { return l.startsWith(u"count "); }));
    for (const QString& line : widget.lines())
      EXPECT_FALSE(line.startsWith(u"bad")) << line.toStdString();
  }
}

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
