#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <optional>

#include "e2e_support.h"
#include "qt_serial_port.h"

using namespace luvrin;
using namespace luvrin::e2e;

namespace {

bool spinUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds deadline = kDeadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

const std::vector<std::uint8_t> kLevels = {0x3A, 0x2E, 0, 255, 17};

bool writeOne(QtSerialPort& port) { return port.writeFrame("::::DMX", kLevels, "."); }

// A device that talks: the test writes into the master end without blocking, so it can go on
// running the port's events while the line is full.
class TalkingPty {
 public:
  TalkingPty() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = QString::fromLocal8Bit(name);
  }
  ~TalkingPty() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  TalkingPty(const TalkingPty&) = delete;
  TalkingPty& operator=(const TalkingPty&) = delete;
  bool ok() const { return !path_.isEmpty(); }
  const QString& path() const { return path_; }
  // Bytes of data the line took, 0 when it is full.
  qsizetype say(QByteArrayView data) {
    const ssize_t n = ::write(master_, data.data(), static_cast<size_t>(data.size()));
    return n > 0 ? n : 0;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  QString path_;
};

// The line settings of a terminal device as the system holds them. A pseudo-terminal always
// keeps 8 data bits and no parity check, but it does keep which parity was asked for: the odd
// and the stick (mark or space) bits.
struct Line {
  long baud = 0;
  int stopBits = 0;
  bool oddParity = false;
  bool stickParity = false;
  bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Line& l) {
  return os << l.baud << " baud, " << l.stopBits << " stop bits" << (l.oddParity ? ", odd" : "")
            << (l.stickParity ? ", stick" : "");
}

// The kernel's termios2 (its c_cc is shorter than the C library's), for speeds that no B
// constant names.
struct KernelTermios2 {
  tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed, c_ospeed;
};

std::optional<long> standardBaud(speed_t code) {
  static const std::pair<speed_t, long> table[] = {
      {B1200, 1200},       {B2400, 2400},       {B4800, 4800},       {B9600, 9600},
      {B19200, 19200},     {B38400, 38400},     {B57600, 57600},     {B115200, 115200},
      {B230400, 230400},   {B460800, 460800},   {B500000, 500000},   {B921600, 921600},
      {B1000000, 1000000}, {B2000000, 2000000}, {B3000000, 3000000}, {B4000000, 4000000}};
  for (const auto& [c, baud] : table)
    if (c == code) return baud;
  return std::nullopt;
}

std::optional<Line> lineOf(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  termios t{};
  std::optional<Line> line;
  if (tcgetattr(fd, &t) == 0) {
    line.emplace();
    if (auto baud = standardBaud(cfgetospeed(&t))) {
      line->baud = *baud;
    } else {
      KernelTermios2 t2{};
      constexpr unsigned long kTcgets2 = _IOR('T', 0x2A, KernelTermios2);
      if (::ioctl(fd, kTcgets2, &t2) == 0) line->baud = static_cast<long>(t2.c_ospeed);
    }
    line->stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    line->oddParity = (t.c_cflag & PARODD) != 0;
    line->stickParity = (t.c_cflag & CMSPAR) != 0;
  }
  ::close(fd);
  return line;
}

}  // namespace

TEST(SerialPortOnPty, AFrameLeavesWholeAndInOrder) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(pty.path()));
  ASSERT_TRUE(port.open());
  EXPECT_TRUE(port.readyForFrame());

  ASSERT_TRUE(writeOne(port));
  ASSERT_TRUE(writeOne(port));
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return s.size() >= 26;
  }));
  EXPECT_EQ(pty.received(),
            QByteArray("::::DMX\x3A\x2E\x00\xFF\x11.::::DMX\x3A\x2E\x00\xFF\x11.", 26));
  EXPECT_TRUE(spinUntil([&] { return port.readyForFrame(); }));
}

TEST(SerialPortOnPty, AFullLineHoldsFramesBackInsteadOfQueueingThem) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(pty.path()));
  ASSERT_TRUE(port.open());

  // Nobody reads the line: write whenever the port says so, until it has said no for a while.
  const std::size_t frameBytes = 7 + kLevels.size() + 1;
  std::size_t written = 0;
  qint64 mostQueued = 0;
  int refusalsInARow = 0;
  ASSERT_TRUE(spinUntil([&] {
    mostQueued = std::max(mostQueued, port.queuedBytes());
    if (port.readyForFrame()) {
      refusalsInARow = 0;
      if (writeOne(port)) ++written;
    } else {
      ++refusalsInARow;
    }
    return refusalsInARow > 300;
  }));
  EXPECT_GT(written, 0u);
  // Never more than the one frame that could not leave is held in memory.
  EXPECT_LE(mostQueued, static_cast<qint64>(frameBytes));

  // Every frame that was accepted arrives whole once the line drains, and sending goes on.
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return s.size() >= static_cast<qsizetype>(written * frameBytes);
  }));
  const FrameScan scan = scanFrames(pty.received(), kLevels.size());
  EXPECT_TRUE(scan.wellFormed);
  EXPECT_EQ(scan.frames.size(), written);
  EXPECT_TRUE(spinUntil([&] { return port.readyForFrame(); }));
}

TEST(SerialPortOnPty, InputIsHeldInABoundedBuffer) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(pty.path()));
  ASSERT_TRUE(port.open());

  QByteArray sent;
  for (int i = 0; i < 3000; ++i) sent += QByteArray::number(i % 10);
  pty.send(sent);

  QByteArray got;
  ASSERT_TRUE(spinUntil([&] {
    const QByteArray chunk = port.readAll();
    EXPECT_LE(chunk.size(), QtSerialPort::kReadBufferBytes);
    got += chunk;
    return got.size() >= sent.size();
  }));
  // Below the bound nothing is lost.
  EXPECT_EQ(got, sent);
}

TEST(SerialPortOnPty, UnreadInputKeepsOnlyTheNewestBytes) {
  TalkingPty device;
  ASSERT_TRUE(device.ok());
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(device.path()));
  ASSERT_TRUE(port.open());

  // Far more than is held, never read (a hidden driver): the device is never held up and the
  // port keeps the newest bytes only.
  QByteArray said;
  for (int i = 0; said.size() < 256 * 1024; ++i) said += QByteArray::number(i) + ',';
  qsizetype taken = 0;
  qint64 mostHeld = 0;
  ASSERT_TRUE(spinUntil([&] {
    if (taken < said.size())
      taken += device.say(
          QByteArrayView(said).sliced(taken, std::min<qsizetype>(4096, said.size() - taken)));
    mostHeld = std::max(mostHeld, port.heldInputBytes());
    return port.heldInputBytes() + port.droppedInputBytes() >= said.size();
  })) << taken
      << " of " << said.size() << " bytes taken by the line";
  EXPECT_LE(mostHeld, QtSerialPort::kReadBufferBytes);
  EXPECT_EQ(port.readAll(), said.right(QtSerialPort::kReadBufferBytes));
  EXPECT_EQ(port.heldInputBytes(), 0);

  // What comes after a read is there whole.
  ASSERT_EQ(device.say("after"), 5);
  QByteArray got;
  ASSERT_TRUE(spinUntil([&] {
    got += port.readAll();
    return got.size() >= 5;
  }));
  EXPECT_EQ(got, "after");
}

TEST(SerialPortOnPty, TheDeviceGetsTheConfiguredLineSettings) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  struct Case {
    const char* text;
    Line line;
    SerialSettings settings;
  };
  const Case cases[] = {
      {"9600,N,8,1",
       {9600, 1, false, false},
       {9600, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop}},
      {"19200,e,7,2",
       {19200, 2, false, false},
       {19200, QSerialPort::EvenParity, QSerialPort::Data7, QSerialPort::TwoStop}},
      {"57600,O,8,1",
       {57600, 1, true, false},
       {57600, QSerialPort::OddParity, QSerialPort::Data8, QSerialPort::OneStop}},
      {"250000,N,8,2",
       {250000, 2, false, false},
       {250000, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::TwoStop}},
      {"4800,M,6,1",
       {4800, 1, true, true},
       {4800, QSerialPort::MarkParity, QSerialPort::Data6, QSerialPort::OneStop}},
      {"38400,s,5,1",
       {38400, 1, false, true},
       {38400, QSerialPort::SpaceParity, QSerialPort::Data5, QSerialPort::OneStop}},
      {"115200,N,8,1",
       {115200, 1, false, false},
       {115200, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop}},
  };
  for (const Case& c : cases) {
    QtSerialPort port;
    ASSERT_TRUE(port.setSettings(QString::fromLatin1(c.text))) << c.text;
    ASSERT_TRUE(port.setPortDevice(pty.path()));
    ASSERT_TRUE(port.open()) << c.text;
    EXPECT_EQ(lineOf(pty.path()), c.line) << c.text;
    // Data bits and parity checking, which the pseudo-terminal does not keep, as the port set them.
    EXPECT_EQ(port.deviceSettings(), c.settings) << c.text;
  }

  // The built-in settings, then settings changed while the port is open.
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(pty.path()));
  ASSERT_TRUE(port.setSettings(QStringLiteral("9600,O,7,2")));
  ASSERT_TRUE(port.setSettings(QStringLiteral("115200,N,8,1")));
  ASSERT_TRUE(port.open());
  EXPECT_EQ(lineOf(pty.path()), (Line{115200, 1, false, false}));
  // (8 data bits: an open pseudo-terminal refuses any other number.)
  ASSERT_TRUE(port.setSettings(QStringLiteral("250000,O,8,2")));
  EXPECT_EQ(lineOf(pty.path()), (Line{250000, 2, true, false}));
  EXPECT_EQ(port.deviceSettings(), (SerialSettings{250000, QSerialPort::OddParity,
                                                   QSerialPort::Data8, QSerialPort::TwoStop}));
}

TEST(SerialPortOnPty, ANumberedPortMovesToAUsbInterfacePluggedInLater) {
  QTemporaryDir dev;
  ASSERT_TRUE(dev.isValid());
  Pty onboard;
  ASSERT_TRUE(onboard.ok());
  ASSERT_TRUE(QFile::link(onboard.path(), dev.filePath(QStringLiteral("ttyS0"))));
  QtSerialPort port;
  port.setDeviceFolder(dev.path());
  ASSERT_TRUE(port.setPortNumber(1));
  ASSERT_TRUE(port.open());
  ASSERT_TRUE(writeOne(port));
  ASSERT_TRUE(onboard.waitFor([](const QByteArray& s) { return countFrames(s, kLevels) == 1; }));

  // Plugged in after the show started: frames move to it, and only to it.
  auto usb = std::make_unique<Pty>();
  ASSERT_TRUE(usb->ok());
  ASSERT_TRUE(QFile::link(usb->path(), dev.filePath(QStringLiteral("ttyUSB0"))));
  ASSERT_TRUE(spinUntil([&] {
    if (port.readyForFrame()) writeOne(port);
    return countFrames(usb->received(), kLevels) > 0;
  }));
  EXPECT_EQ(port.systemName(), dev.filePath(QStringLiteral("ttyUSB0")));
  const std::size_t onboardFrames = countFrames(onboard.received(), kLevels);
  const std::size_t usbFrames = countFrames(usb->received(), kLevels);
  ASSERT_TRUE(spinUntil([&] { return port.readyForFrame(); }));
  ASSERT_TRUE(writeOne(port));
  EXPECT_TRUE(usb->waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return countFrames(s, kLevels) == usbFrames + 1;
  }));
  EXPECT_EQ(countFrames(onboard.received(), kLevels), onboardFrames);

  // Pulled again: back to the on-board port.
  QFile::remove(dev.filePath(QStringLiteral("ttyUSB0")));
  usb.reset();
  ASSERT_TRUE(spinUntil([&] {
    if (port.readyForFrame()) writeOne(port);
    return countFrames(onboard.received(), kLevels) > onboardFrames;
  }));
}

TEST(SerialPortOnPty, AMissingDeviceIsOpenedOnceItAppears) {
  QTemporaryDir dir;
  const QString link = dir.path() + QStringLiteral("/port");
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(link));
  EXPECT_FALSE(port.open());
  EXPECT_FALSE(port.isOpen());
  EXPECT_FALSE(port.readyForFrame());
  EXPECT_FALSE(writeOne(port));
  EXPECT_TRUE(port.readAll().isEmpty());

  Pty pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(QFile::link(pty.path(), link));
  ASSERT_TRUE(spinUntil([&] { return port.isOpen(); }));
  ASSERT_TRUE(writeOne(port));
  EXPECT_TRUE(pty.waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return countFrames(s, kLevels) == 1;
  }));
}

TEST(SerialPortOnPty, AGoneDeviceIsClosedAndTakenUpAgain) {
  QTemporaryDir dir;
  const QString link = dir.path() + QStringLiteral("/port");
  auto first = std::make_unique<Pty>();
  ASSERT_TRUE(first->ok());
  ASSERT_TRUE(QFile::link(first->path(), link));
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(link));
  ASSERT_TRUE(port.open());

  QFile::remove(link);
  first.reset();
  // Frames keep being offered, as the frame timer would; the failure closes the port.
  ASSERT_TRUE(spinUntil([&] {
    if (port.readyForFrame()) writeOne(port);
    return !port.isOpen();
  }));
  EXPECT_FALSE(writeOne(port));

  Pty second;
  ASSERT_TRUE(second.ok());
  ASSERT_TRUE(QFile::link(second.path(), link));
  ASSERT_TRUE(spinUntil([&] { return port.isOpen(); }));
  ASSERT_TRUE(writeOne(port));
  EXPECT_TRUE(second.waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return countFrames(s, kLevels) == 1;
  }));
}
