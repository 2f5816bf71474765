#include <gtest/gtest.h>

#include <chrono>

#include "driver_fixture.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {
QString key(const char* k) { return QString::fromUtf8(k); }
}  // namespace

TEST(DriverStartUp, NoSettingsFileGivesBuiltInsAndOneByteFrames) {
  Driver d;
  Form1& f = d.load();
  EXPECT_EQ(d.port.settings, QStringLiteral("115200,N,8,1"));
  EXPECT_EQ(d.port.portNumber, 1);
  EXPECT_EQ(d.port.openCalls, 1);
  EXPECT_EQ(f.Timer3.interval(), 1);
  EXPECT_TRUE(f.visible());
  EXPECT_EQ(f.Text5.text(), QString());
  EXPECT_EQ(f.OUTBUFCNT, 0);
  EXPECT_EQ(f.outputFrame().size(), 1u);
  d.run(5ms);
  ASSERT_FALSE(d.port.frames.empty());
  EXPECT_EQ(d.port.frames.front(), QByteArray("::::DMX\x00.", 9));
}

TEST(DriverStartUp, EveryKeyReachesItsPlace) {
  Driver d({{key("发送定时器时间"), key("20")},
            {key("设置"), key("57600,E,7,2")},
            {key("端口"), key("3")},
            {key("状态"), key("演出")},
            {key("发送数据长度"), key("16")}});
  Form1& f = d.load();
  EXPECT_EQ(f.Timer3.interval(), 20);
  EXPECT_EQ(d.port.settings, QStringLiteral("57600,E,7,2"));
  EXPECT_EQ(d.port.portNumber, 3);
  EXPECT_EQ(f.Text2.text(), key("演出"));
  EXPECT_EQ(f.OUTBUFCNT, 16);
  EXPECT_EQ(f.editor().OUTBUFCNT(), 16);
  EXPECT_EQ(f.outputFrame().size(), 17u);
  EXPECT_TRUE(f.visible());
  EXPECT_FALSE(f.caption().isEmpty());
  EXPECT_NE(f.caption(), QStringLiteral("LUVRINV3-150919A."));  // the date and time replaced it
}

TEST(DriverStartUp, BadIntervalAndPortKeepPreviousValues) {
  Driver d({{key("发送定时器时间"), key("70000")}, {key("端口"), key("COM3")}});
  Form1& f = d.load();
  EXPECT_EQ(f.Timer3.interval(), 1);
  EXPECT_EQ(d.port.portNumber, 1);
  Driver e({{key("发送定时器时间"), key("abc")}});
  EXPECT_EQ(e.load().Timer3.interval(), 1);
  Driver z({{key("发送定时器时间"), key("0")}});
  z.load();
  z.run(100ms);
  EXPECT_TRUE(z.port.frames.empty());  // interval 0 stops frame output
}

TEST(DriverStartUp, AbsoluteDevicePathNamesThePort) {
  Driver d({{key("端口"), key("/dev/serial/by-id/usb-dmx")}});
  d.load();
  EXPECT_EQ(d.port.device, QStringLiteral("/dev/serial/by-id/usb-dmx"));
}

TEST(DriverStartUp, RunStatusStaysHiddenAndStillSends) {
  Driver d({{key("状态"), key("运行")}, {key("发送数据长度"), key("2")}});
  Form1& f = d.load();
  EXPECT_FALSE(f.visible());
  d.run(10ms);
  EXPECT_FALSE(d.port.frames.empty());
}

TEST(DriverStartUp, DefaultLengthTextStillSizesTheFrame) {
  Driver d({{key("发送数据长度"), key("128")}});
  Form1& f = d.load();
  EXPECT_EQ(f.outputFrame().size(), 129u);
  EXPECT_EQ(f.editor().OUTBUFCNT(), 128);
}

TEST(DriverStartUp, PortThatWillNotOpenLeavesStartUpComplete) {
  Driver d({{key("发送数据长度"), key("4")}});
  d.port.openable = false;
  Form1& f = d.load();
  EXPECT_TRUE(f.visible());
  d.run(50ms);
  EXPECT_TRUE(d.port.frames.empty());
  EXPECT_EQ(f.Label4.caption(), QStringLiteral("0"));
}

TEST(FrameOutput, BytesAreHeaderLevelsAndTerminatorExactly) {
  Driver d({{key("发送数据长度"), key("3")}});
  Form1& f = d.load();
  f.Text7.setText(QStringLiteral("DMX058,046,255,"));  // 0x3A and 0x2E inside the data
  d.run(110ms);
  ASSERT_FALSE(d.port.frames.empty());
  EXPECT_EQ(d.port.frames.back(), QByteArray("::::DMX\x3A\x2E\xFF\x00.", 12));
}

TEST(FrameOutput, FractionalLengthRoundsHalvesToEven) {
  Driver d({{key("发送数据长度"), key("12.5")}});
  Form1& f = d.load();
  EXPECT_EQ(f.outputFrame().size(), 13u);
  d.run(110ms);
  EXPECT_EQ(d.port.frames.back().size(), 7 + 13 + 1);
}

TEST(FrameOutput, TestStatusCountsButSendsNothing) {
  Driver d({{key("状态"), key("测试")}, {key("发送定时器时间"), key("10")}});
  Form1& f = d.load();
  d.port.pendingInput = "hello";
  d.run(1000ms);
  EXPECT_TRUE(d.port.frames.empty());
  EXPECT_EQ(f.Label5.caption(), QStringLiteral("发送频率100次/秒"));
  EXPECT_EQ(d.port.reads, 0);  // nor is the port read
}

TEST(FrameOutput, RateMeterShowsFramesOfTheLastSecond) {
  Driver d({{key("发送定时器时间"), key("4")}});
  Form1& f = d.load();
  d.run(1000ms);
  EXPECT_EQ(f.Label5.caption(), QStringLiteral("发送频率250次/秒"));
  EXPECT_EQ(f.Label4.caption(), QStringLiteral("0"));
  d.run(500ms);
  EXPECT_EQ(f.Label4.caption(), QStringLiteral("125"));
}

TEST(FrameOutput, NoFrameQueuesBehindOneStillOnTheLine) {
  Driver d({{key("发送数据长度"), key("2")}});
  Form1& f = d.load();
  d.run(20ms);
  const auto sent = d.port.frames.size();
  d.port.ready = false;  // the line cannot drain
  d.run(2000ms);
  EXPECT_EQ(d.port.frames.size(), sent);
  EXPECT_EQ(f.Label5.caption(), QStringLiteral("发送频率0次/秒"));  // only what left counts
  d.port.ready = true;
  d.run(10ms);
  EXPECT_GT(d.port.frames.size(), sent);
}

TEST(FrameOutput, FailingWritesAreSkippedAndNotCounted) {
  Driver d;
  Form1& f = d.load();
  d.port.failWrites = true;
  d.run(1000ms);
  EXPECT_EQ(f.Label5.caption(), QStringLiteral("发送频率0次/秒"));
  d.port.failWrites = false;
  d.run(1000ms);
  EXPECT_EQ(f.Label5.caption(), QStringLiteral("发送频率1000次/秒"));
}

TEST(FrameOutput, NegativeLengthSendsNothingAndHugeLengthIsCapped) {
  Driver d({{key("发送数据长度"), key("-5")}});
  Form1& f = d.load();
  EXPECT_TRUE(f.outputFrame().empty());
  d.run(200ms);
  EXPECT_TRUE(d.port.frames.empty());
  f.Text5.setText(QStringLiteral("99999999"));
  d.run(110ms);
  EXPECT_EQ(f.outputFrame().size(), 65536u);
  EXPECT_EQ(f.Text5.text(), QStringLiteral("99999999"));
}

TEST(Intake, ParsesGroupsIntoSlotsAndTheFrame) {
  Driver d({{key("发送数据长度"), key("3")}});
  Form1& f = d.load();
  f.Text7.setText(QStringLiteral("DMX255,000,128,"));
  d.run(100ms);
  EXPECT_EQ(f.channelBuffer()[0], 255);
  EXPECT_EQ(f.channelBuffer()[1], 0);
  EXPECT_EQ(f.channelBuffer()[2], 128);
  EXPECT_EQ(f.outputFrame(), (std::vector<std::uint8_t>{255, 0, 128, 0}));
}

TEST(Intake, ShortEmptyOrBadTextAndOutOfRangeGroups) {
  Driver d({{key("发送数据长度"), key("4")}});
  Form1& f = d.load();
  f.Text7.setText(QStringLiteral("DMX010,020,030,040,"));
  d.run(100ms);
  f.Text7.setText(QStringLiteral("DMX999,2 5,12,"));
  d.run(100ms);
  // 999 keeps the level; "2 5" reads 25; "12," reads 12; the missing group reads 0.
  EXPECT_EQ(f.outputFrame(), (std::vector<std::uint8_t>{10, 25, 12, 0, 0}));
  f.Text7.setText(QString());
  d.run(100ms);
  EXPECT_EQ(f.outputFrame(), (std::vector<std::uint8_t>{0, 0, 0, 0, 0}));
}

TEST(Intake, LengthAboveOneUniverseFillsEverySlot) {
  Driver d({{key("发送数据长度"), key("600")}});
  Form1& f = d.load();
  QString text = QStringLiteral("DMX");
  for (int i = 0; i < 600; ++i) text += QStringLiteral("%1,").arg(i % 200 + 1, 3, 10, QChar(u'0'));
  f.Text7.setText(text);
  d.run(100ms);
  ASSERT_EQ(f.outputFrame().size(), 601u);
  EXPECT_EQ(f.outputFrame()[512], 113);
  EXPECT_EQ(f.outputFrame()[513], 114);
  EXPECT_EQ(f.outputFrame()[599], 200);
  EXPECT_EQ(f.outputFrame()[600], 0);
}

// A text that stands is read once; what is read again is decided by the text and by how many
// groups the length covers, so neither change can be missed.
TEST(Intake, StandingTextIsReadAgainForALongerLengthAndAChangedGroup) {
  struct Step {
    const char* length;
    int group;  // -1: the text stays as it is
    int level;
    std::size_t slot;
    int expected;
  };
  const Step steps[] = {
      {"300", -1, 0, 299, 100}, {"300", -1, 0, 300, 0},  {"600", -1, 0, 300, 101},
      {"600", -1, 0, 599, 200}, {"600", 550, 7, 550, 7}, {"600", 551, 999, 551, 152},
  };
  Driver d({{key("发送数据长度"), key("300")}});
  Form1& f = d.load();
  QString text = QStringLiteral("DMX");
  for (int i = 0; i < 600; ++i) text += QStringLiteral("%1,").arg(i % 200 + 1, 3, 10, QChar(u'0'));
  f.Text7.setText(text);
  for (const Step& step : steps) {
    f.Text5.setText(QString::fromUtf8(step.length));
    if (step.group >= 0)
      f.Text7.setText(QString(f.Text7.text())
                          .replace(3 + 4 * step.group, 3,
                                   QStringLiteral("%1").arg(step.level, 3, 10, QChar(u'0'))));
    d.run(100ms);
    EXPECT_EQ(f.outputFrame()[step.slot], step.expected) << step.length << " " << step.slot;
  }
}

namespace {

// Counts the frames the window hands over; they go on to the port as a direct link sends them.
class HandOverCount final : public OutputLink {
 public:
  HandOverCount(Scheduler& scheduler, FrameOutput& output) : link_(scheduler, output) {}
  void open() override { link_.open(); }
  void setFrameInterval(int ms) override { link_.setFrameInterval(ms); }
  void setCountOnly(bool countOnly) override { link_.setCountOnly(countOnly); }
  void setFrame(std::span<const std::uint8_t> frame) override {
    ++handed;
    link_.setFrame(frame);
  }
  std::int64_t takeFramesCounted() override { return link_.takeFramesCounted(); }
  QByteArray takeInput() override { return link_.takeInput(); }
  QString status() const override { return link_.status(); }
  void watch(std::function<void()> counted, std::function<void()> status) override {
    link_.watch(std::move(counted), std::move(status));
  }
  void detach() override { link_.detach(); }
  int handed = 0;

 private:
  DirectOutputLink link_;
};

}  // namespace

TEST(Intake, OnlyAChangedFrameIsHandedOver) {
  TempShow show({{key("发送数据长度"), key("65535")}});
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  RecordingPort port;
  MemoryHandoff handoff;
  auto output = serialBoxFor(port, show.programFolder());
  HandOverCount link(scheduler, *output);
  Form1 f(scheduler, show.programFolder(), link, handoff);
  f.Form_Load();
  f.Text7.setText(QStringLiteral("DMX001,002,"));
  scheduler.advanceBy(1000ms);
  const int standing = link.handed;
  scheduler.advanceBy(1000ms);
  EXPECT_EQ(link.handed, standing);  // ten passes over a look that stands
  f.Text7.setText(QStringLiteral("DMX001,003,"));
  scheduler.advanceBy(100ms);
  EXPECT_EQ(link.handed, standing + 1);
  EXPECT_EQ(port.lastFrameLevels().size(), 65536u);
  EXPECT_EQ(port.lastFrameLevels()[1], 3);
  f.Text5.setText(QStringLiteral("8192"));
  scheduler.advanceBy(100ms);
  EXPECT_EQ(link.handed, standing + 2);
  EXPECT_EQ(port.lastFrameLevels().size(), 8193u);
}

TEST(Intake, TypedLengthChangesTheFrameAtTheNextPass) {
  Driver d({{key("发送数据长度"), key("2")}});
  Form1& f = d.load();
  d.run(50ms);
  f.Text5.setText(QStringLiteral("5"));
  EXPECT_EQ(f.OUTBUFCNT, 5);
  EXPECT_EQ(f.editor().OUTBUFCNT(), 5);
  EXPECT_EQ(f.outputFrame().size(), 3u);
  d.run(50ms);
  EXPECT_EQ(f.outputFrame().size(), 6u);
}

// The frame takes slots 0 to N, both ends: slot N comes from the channel buffer, which keeps the
// level a longer length once parsed into it, not from what the frame held before.
TEST(Intake, TheLastSlotComesFromTheBufferAfterTheLengthShrinksAndGrows) {
  Driver d({{key("发送数据长度"), key("5")}});
  Form1& f = d.load();
  f.Text7.setText(QStringLiteral("DMX001,002,003,004,007,"));
  d.run(110ms);
  f.Text5.setText(QStringLiteral("3"));
  d.run(100ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{1, 2, 3, 4}));
  f.Text5.setText(QStringLiteral("4"));
  d.run(100ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{1, 2, 3, 4, 7}));
}

TEST(Intake, FollowsTheHandOffValue) {
  Driver d;
  Form1& f = d.load();
  d.handoff.value = QStringLiteral("Intro");
  d.run(100ms);
  EXPECT_EQ(f.Text1.text(), QStringLiteral("Intro"));
}

TEST(SerialLog, InputIsLoggedOnlyWhenShownAndNotBlank) {
  Driver d;
  Form1& f = d.load();
  d.port.pendingInput = "   ";
  d.run(100ms);
  EXPECT_EQ(f.Text6.text(), QString());
  d.port.pendingInput = " ok ";
  d.run(100ms);
  EXPECT_EQ(f.Text6.text(), QStringLiteral(" ok "));
  EXPECT_EQ(f.Text6.selStart(), 4);

  Driver hidden({{key("状态"), key("运行")}});
  hidden.load();
  hidden.run(500ms);
  EXPECT_EQ(hidden.port.reads, 0);
}

TEST(SerialLog, OverTwentyThousandCharactersEmptiesTheLog) {
  Driver d;
  Form1& f = d.load();
  f.Text6.setText(QString(19990, u'x'));
  d.port.pendingInput = QByteArray(20, 'y');
  d.run(100ms);
  EXPECT_EQ(f.Text6.text(), QString());
}

TEST(SerialLog, GbkCharacterSplitAcrossReadsArrivesWhole) {
  Driver d;
  Form1& f = d.load();
  const QByteArray bytes = encodeGbk(QStringLiteral("好"));
  d.port.pendingInput = bytes.left(1);
  d.run(100ms);
  d.port.pendingInput = bytes.mid(1);
  d.run(100ms);
  EXPECT_EQ(f.Text6.text(), QStringLiteral("好"));
}

TEST(DriverDelay, TenTickDelayResumesWhenCountdownShowsOne) {
  Driver d({{key("发送数据长度"), key("2")}});
  Form1& driver = d.load();
  driver.Text4.setText(QStringLiteral("DMX001,002,\r\n!T000010'100mS\r\nDMX003,004,"));
  d.run(750ms);
  EXPECT_EQ(driver.Text7.text().left(11), QStringLiteral("DMX001,002,"));
  d.run(150ms);
  EXPECT_EQ(driver.Text7.text().left(11), QStringLiteral("DMX003,004,"));
  d.run(150ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{3, 4, 0}));
}

// Settings numbers as Windows converts them, lengths beyond every bound, a negative length typed
// during a show, the countdown of a replaced run.

TEST(DriverSettingsNumbers, IntervalAndPortConvertTheWholeTextAsWindowsDoes) {
  struct Case {
    const char* value;
    int interval;  // 1: refused, the built-in stays
    int port;      // 1: refused, the built-in stays
  };
  for (const Case c :
       {Case{"50", 50, 50}, Case{" 50 ", 50, 50}, Case{"50.0", 50, 50}, Case{"5e1", 50, 50},
        Case{"+50", 50, 50}, Case{"2.5", 2, 2}, Case{"3.5", 4, 4}, Case{"", 1, 1},
        Case{"abc", 1, 1}, Case{"50abc", 1, 1}, Case{"5 0", 1, 1}, Case{"1e", 1, 1},
        Case{"40000", 40000, 1}, Case{"65535.5", 1, 1}, Case{"-0.4", 0, 1}}) {
    Driver d({{key("发送定时器时间"), key(c.value)}, {key("端口"), key(c.value)}});
    Form1& f = d.load();
    EXPECT_EQ(f.Timer3.interval(), c.interval) << c.value;
    EXPECT_EQ(d.port.portNumber, c.port) << c.value;
  }
}

TEST(DriverLengthBounds, EveryLengthAboveTheCapSendsCappedFrames) {
  for (const char* length : {"9.2e18", "1e19", "1e300", "1e999"}) {
    Driver d({{key("发送数据长度"), key(length)}});
    Form1& f = d.load();
    EXPECT_EQ(f.outputFrame().size(), 65536u) << length;
    f.Text7.setText(QStringLiteral("DMX007,"));
    d.run(110ms);
    ASSERT_FALSE(d.port.frames.empty()) << length;
    EXPECT_EQ(d.port.frames.back().size(), 7 + 65536 + 1) << length;
    EXPECT_EQ(d.port.frames.back()[7], 7) << length;
  }
}

TEST(DriverLengthBounds, NegativeLengthTypedDuringAShowKeepsSendingTheLastFrame) {
  Driver d({{key("发送数据长度"), key("2")}});
  Form1& f = d.load();
  f.Text7.setText(QStringLiteral("DMX011,022,"));
  d.run(110ms);
  ASSERT_EQ(d.port.lastFrameLevels(), (Levels{11, 22, 0}));
  f.Text5.setText(QStringLiteral("-3"));
  d.run(300ms);
  const auto sent = d.port.frames.size();
  d.run(10ms);
  EXPECT_GT(d.port.frames.size(), sent);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{11, 22, 0}));
  // A valid length takes over again at the next pass.
  f.Text5.setText(QStringLiteral("1"));
  d.run(110ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{11, 22}));
}

TEST(DriverDelay, InlineSceneReplacingALongDelayStopsTheCountdown) {
  Driver d({{key("发送数据长度"), key("1")}});
  d.show.writeCatalog({QStringLiteral("flat=DMX002,")});
  Form1& f = d.load();
  f.Text4.setText(QStringLiteral("DMX001,\r\n!T999999'100mS"));
  d.run(3500ms);
  ASSERT_EQ(f.Label3.caption(), QStringLiteral("乘余时间:999964"));
  d.handoff.value = QStringLiteral("flat");
  d.run(100ms);
  ASSERT_EQ(f.Text7.text(), QStringLiteral("DMX002,"));
  EXPECT_EQ(f.Label3.caption(), QStringLiteral("乘余时间:0"));
  d.run(2000ms);
  EXPECT_EQ(f.Label3.caption(), QStringLiteral("乘余时间:0"));
  EXPECT_EQ(f.countdown(), 0);
}

// Frame pacing: a frame never queues behind one still on the line, and the line never idles
// until the next tick once it is free.

namespace {

// 115200 baud, 8 data bits, no parity, 1 stop bit: ten bits a byte.
constexpr std::int64_t kByteNs115200 = 86'805;

// Frames per second the rate meter shows for the second second of a show on a modelled line.
int pacedRate(const char* length, const char* interval) {
  Driver d({{key("发送数据长度"), QString::fromUtf8(length)},
            {key("发送定时器时间"), QString::fromUtf8(interval)}});
  d.port.modelLine(d.scheduler, kByteNs115200);
  Form1& f = d.load();
  d.run(2000ms);
  EXPECT_EQ(d.port.busyWrites, 0) << length << " at " << interval << " ms";
  const QString caption = f.Label5.caption();
  return caption.mid(4, caption.size() - 4 - 3).toInt();
}

}  // namespace

TEST(FramePacing, ABusyTickSendsTheNewestFrameTheMomentTheLineFrees) {
  Driver d({{key("发送数据长度"), key("2")}, {key("发送定时器时间"), key("10")}});
  Form1& f = d.load();
  f.Text7.setText(QStringLiteral("DMX001,002,"));
  d.run(105ms);
  d.port.ready = false;
  const auto sent = d.port.frames.size();
  const QString counted = f.Label4.caption();

  // Ten busy ticks and an intake pass with new levels: one send waits, nothing queues.
  f.Text7.setText(QStringLiteral("DMX003,004,"));
  d.run(100ms);
  EXPECT_EQ(d.port.frames.size(), sent);
  ASSERT_TRUE(d.port.readyCallback);

  d.port.becomeReady();
  d.scheduler.settle();  // the same millisecond, not the next tick
  ASSERT_EQ(d.port.frames.size(), sent + 1);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{3, 4, 0}));
  EXPECT_EQ(f.Label4.caption(), QString::number(counted.toInt() + 1));
  d.scheduler.settle();
  EXPECT_EQ(d.port.frames.size(), sent + 1);

  // A wait that ends in test status sends nothing.
  d.port.ready = false;
  d.run(10ms);
  ASSERT_TRUE(d.port.readyCallback);
  f.Text2.setText(key("测试"));
  d.port.becomeReady();
  d.scheduler.settle();
  EXPECT_EQ(d.port.frames.size(), sent + 1);
}

TEST(FramePacing, AWaitingRequestIsWithdrawnWithTheWindow) {
  Driver d;
  d.load();
  d.run(5ms);
  d.port.ready = false;
  d.run(5ms);
  ASSERT_TRUE(d.port.readyCallback);
  d.form.reset();
  EXPECT_FALSE(d.port.readyCallback);  // the port cannot call into a window that is gone
}

TEST(FramePacing, TheLineOrTheTimerIsTheLimitNeverBoth) {
  // Line limit at 115200 baud: 11520 / (N + 9) frames a second; on virtual time a waiting frame
  // goes at the start of the millisecond after the line frees.
  const int long512At20 = pacedRate("512", "20");  // 22.1 by the line, 50 by the timer
  EXPECT_GE(long512At20, 21);
  EXPECT_LE(long512At20, 22);
  const int frames128At10 = pacedRate("128", "10");  // 84.1 by the line, 100 by the timer
  EXPECT_GE(frames128At10, 80);
  EXPECT_LE(frames128At10, 84);
  const int frames128At1 = pacedRate("128", "1");
  EXPECT_GE(frames128At1, 80);
  EXPECT_LE(frames128At1, 84);
  EXPECT_EQ(pacedRate("4", "50"), 20);  // the line idles between ticks: no frame in between
}
