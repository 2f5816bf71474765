#include "qt_serial_port.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "log_categories.h"
#include "platform.h"

namespace luvrin {

QString portNameForNumber(int n, PortNaming naming,
                          const std::function<bool(const QString&)>& exists,
                          const QString& folder) {
  if (n < 1) return {};
  if (naming == PortNaming::Com) return QStringLiteral("COM%1").arg(n);
  // A USB interface is what people plug in today; the on-board port is the fallback.
  const QString usb = folder + QStringLiteral("/ttyUSB%1").arg(n - 1);
  if (exists(usb)) return usb;
  return folder + QStringLiteral("/ttyS%1").arg(n - 1);
}

PortNaming nativePortNaming() {
  return platform::windowsConventions() ? PortNaming::Com : PortNaming::Device;
}

QtSerialPort::QtSerialPort() {
  lineClock_.start();
  pacer_.setLine(settings_);
  pacer_.setWakeSlack(platform::timerWakeSlackNs());
  reopen_.setInterval(kReopenIntervalMs);
  QObject::connect(&reopen_, &QTimer::timeout, &port_, [this] { retry(); });
  QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] { holdInput(); });
  readyCheck_->onWake = [this](std::uint64_t) { checkReady(); };
  QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                   [this](QSerialPort::SerialPortError error) {
                     switch (error) {
                       case QSerialPort::ResourceError:
                       case QSerialPort::WriteError:
                       case QSerialPort::ReadError:
                         // Closing inside QSerialPort's own notifier call is not safe.
                         QMetaObject::invokeMethod(
                             &port_, [this] { lose(); }, Qt::QueuedConnection);
                         break;
                       default:
                         break;
                     }
                   });
}

QtSerialPort::~QtSerialPort() { close(); }

void QtSerialPort::close() {
  wanted_ = false;
  reopen_.stop();
  readyCheck_->disarm();
  onReady_ = nullptr;
  port_.close();
}

bool QtSerialPort::setSettings(const QString& text) {
  const auto parsed = parseSerialSettings(text, platform::windowsConventions());
  if (!parsed) return false;
  settings_ = *parsed;
  pacer_.setLine(settings_);
  if (port_.isOpen()) applySettings();
  return true;
}

bool QtSerialPort::setPortNumber(int number) {
  if (number < 1 || port_.isOpen()) return false;
  number_ = number;
  device_.clear();
  return true;
}

bool QtSerialPort::setPortDevice(const QString& path) {
  if (port_.isOpen() || path.isEmpty()) return false;
  device_ = path;
  return true;
}

QString QtSerialPort::systemName() const {
  if (!device_.isEmpty()) return device_;
  return portNameForNumber(
      number_, nativePortNaming(), [](const QString& p) { return QFileInfo::exists(p); },
      deviceFolder_);
}

bool QtSerialPort::followsNumber() const {
  return device_.isEmpty() && nativePortNaming() == PortNaming::Device;
}

void QtSerialPort::applySettings() {
  // Set one by one and explicitly: QSerialPort starts at 9600 baud, not at our 115200.
  port_.setBaudRate(settings_.baudRate);
  port_.setParity(settings_.parity);
  port_.setDataBits(settings_.dataBits);
  port_.setStopBits(settings_.stopBits);
  port_.setFlowControl(QSerialPort::NoFlowControl);
}

SerialSettings QtSerialPort::deviceSettings() const {
  return SerialSettings{port_.baudRate(), port_.parity(), port_.dataBits(), port_.stopBits()};
}

bool QtSerialPort::open() {
  wanted_ = true;
  const bool opened = tryOpen();
  if (!opened || followsNumber()) reopen_.start();
  return opened;
}

void QtSerialPort::retry() {
  if (port_.isOpen()) {
    if (!followsNumber()) {
      reopen_.stop();
      return;
    }
    const QString name = systemName();
    if (name == openName_) return;
    qCDebug(lcSerial) << "switching from" << openName_ << "to" << name;
    holdInput();
    port_.close();
    port_.clearError();
  }
  if (tryOpen() && !followsNumber()) reopen_.stop();
}

bool QtSerialPort::tryOpen() {
  if (port_.isOpen()) return true;
  const QString name = systemName();
  if (name.isEmpty()) return false;
  port_.setPortName(name);
  applySettings();
  if (!port_.open(QIODevice::ReadWrite)) {
    qCDebug(lcSerial) << "cannot open" << name << port_.errorString();
    port_.clearError();
    return false;
  }
  // holdInput() takes every byte out as it comes; this only caps what one read takes in.
  port_.setReadBufferSize(kReadBufferBytes);
  openName_ = name;
  qCDebug(lcSerial) << "opened" << name;
  if (onOpenChanged) onOpenChanged();
  return true;
}

void QtSerialPort::lose() {
  if (!port_.isOpen()) return;
  qCDebug(lcSerial) << "lost" << port_.portName() << port_.errorString();
  port_.close();
  port_.clearError();
  if (wanted_) reopen_.start();
  if (onOpenChanged) onOpenChanged();
}

bool QtSerialPort::isOpen() const { return port_.isOpen(); }

bool QtSerialPort::readyForFrame() {
  if (!port_.isOpen()) return false;
  if (port_.bytesToWrite() > 0) return false;
  if (!pacer_.ready(lineClock_.nsecsElapsed())) return false;
  return platform::pendingOutputBytes(qintptr(port_.handle())) == 0;
}

qint64 QtSerialPort::queuedBytes() const {
  if (!port_.isOpen()) return 0;
  return port_.bytesToWrite() + platform::pendingOutputBytes(qintptr(port_.handle()));
}

bool QtSerialPort::writeFrame(QByteArrayView header, std::span<const std::uint8_t> data,
                              QByteArrayView trailer) {
  if (!port_.isOpen()) return false;
  // QSerialPort only queues here; the three parts leave together from its buffer.
  const bool ok =
      port_.write(header.data(), header.size()) == header.size() &&
      port_.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size())) ==
          static_cast<qint64>(data.size()) &&
      port_.write(trailer.data(), trailer.size()) == trailer.size();
  if (ok) {
    // Hand the frame to the system now rather than at the next turn of the event loop, so the
    // line starts on it at once and the next tick finds the queue empty.
    port_.flush();
    pacer_.sent(lineClock_.nsecsElapsed(), header.size() + data.size() + trailer.size());
  } else {
    QMetaObject::invokeMethod(
        &port_, [this] { lose(); }, Qt::QueuedConnection);
  }
  return ok;
}

void QtSerialPort::whenReady(std::function<void()> ready) {
  onReady_ = std::move(ready);
  if (!onReady_) {
    readyCheck_->disarm();
    return;
  }
  if (!readyCheck_->armed()) armReadyCheck();
}

void QtSerialPort::armReadyCheck() {
  // Timed to the nanosecond: a frame shorter than a millisecond must not wait for the next one.
  constexpr qint64 kShortestWaitNs = 50'000;
  qint64 wait = pacer_.nsUntilReady(lineClock_.nsecsElapsed());
  wait = std::max(wait, queuedBytes() * pacer_.byteNs());
  wait = std::max(wait, kShortestWaitNs);
  readyCheck_->arm(wait, wait);
}

void QtSerialPort::checkReady() {
  readyCheck_->disarm();
  if (!onReady_) return;
  if (!port_.isOpen()) {
    onReady_ = nullptr;
    return;
  }
  if (!readyForFrame()) {
    armReadyCheck();
    return;
  }
  std::exchange(onReady_, {})();
}

void QtSerialPort::holdInput() {
  held_ += port_.readAll();
  // Input is read only while the window is shown. A device that keeps talking to a hidden driver
  // must not fill the memory, nor stall behind a full buffer; what it said last is what matters.
  if (const qint64 excess = held_.size() - kReadBufferBytes; excess > 0) {
    held_.remove(0, excess);
    dropped_ += excess;
  }
}

qint64 QtSerialPort::heldInputBytes() const {
  return held_.size() + (port_.isOpen() ? port_.bytesAvailable() : 0);
}

QByteArray QtSerialPort::readAll() {
  if (port_.isOpen()) holdInput();
  return std::exchange(held_, {});
}

}  // namespace luvrin
