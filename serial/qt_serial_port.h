#pragma once

#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>
#include <QStringView>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

#include "serial_port.h"
#include "waker.h"

namespace luvrin {

struct SerialSettings {
  qint32 baudRate = 115200;
  QSerialPort::Parity parity = QSerialPort::NoParity;
  QSerialPort::DataBits dataBits = QSerialPort::Data8;
  QSerialPort::StopBits stopBits = QSerialPort::OneStop;
  bool operator==(const SerialSettings&) const = default;
};

// "baud,parity,data,stop": parity N, E, O, M or S in either case; data bits 5 to 8; stop bits 1,
// 1.5 or 2 (1.5 only where the system has it). Blanks around a field are allowed. nullopt for
// anything else, so that a bad string changes nothing.
std::optional<SerialSettings> parseSerialSettings(QStringView text, bool oneAndHalfStopBits);

// Keeps frames from queueing behind the line where the system cannot tell how much is still
// waiting to leave (a pseudo-terminal reports nothing; many USB adapters report their buffer
// empty long before the bytes are on the wire). It times the line from the settings: a frame
// is written only once the previous one has left, so new levels never wait behind a queue.
class LinePacer {
 public:
  void setLine(const SerialSettings& settings);
  // Nanoseconds one byte takes on the line: start bit, data bits, parity, stop bits.
  qint64 byteNs() const { return byteNs_; }
  // Ready for the next frame once the line is down to the last byte of the previous one: a UART
  // takes the next byte while it shifts one out, and waiting for the very instant the line
  // empties would cost each frame the system's wake-up delay, a tenth of a short frame's time.
  bool ready(qint64 nowNs) const { return nsUntilReady(nowNs) == 0; }
  qint64 nsUntilReady(qint64 nowNs) const {
    return std::max<qint64>(0, lineFreeAtNs_ - byteNs_ - nowNs);
  }
  void sent(qint64 nowNs, qint64 bytes);

 private:
  qint64 byteNs_ = 0;
  qint64 lineFreeAtNs_ = 0;
};

enum class PortNaming { Com, Device };
// The system name of port number n: COMn, or /dev/ttyUSB(n-1) where that exists and
// /dev/ttyS(n-1) otherwise (devices in folder instead of /dev, for tests). "" for a number below
// 1.
QString portNameForNumber(int n, PortNaming naming,
                          const std::function<bool(const QString&)>& exists,
                          const QString& folder = QStringLiteral("/dev"));
PortNaming nativePortNaming();

// The driver's port over QSerialPort. A port that was asked to open and is lost (device pulled,
// writes failing) or could not be opened is tried again about once a second, quietly; frames
// resume as soon as it is back. A port opened by number on Linux is checked as often for a
// change of its name, so that a USB interface plugged in after start-up takes over from the
// on-board port.
class QtSerialPort final : public SerialPort {
 public:
  // Received bytes held for the next readAll(); beyond it the oldest are dropped.
  static constexpr qint64 kReadBufferBytes = 4096;
  static constexpr int kReopenIntervalMs = 1000;

  QtSerialPort();
  ~QtSerialPort() override;

  bool setSettings(const QString& settings) override;
  bool setPortNumber(int number) override;
  bool setPortDevice(const QString& path) override;
  bool open() override;
  bool isOpen() const override;
  bool readyForFrame() override;
  void whenReady(std::function<void()> ready) override;
  bool writeFrame(QByteArrayView header, std::span<const std::uint8_t> data,
                  QByteArrayView trailer) override;
  QByteArray readAll() override;

  // Releases the port and stops trying to get it back.
  void close();

  const SerialSettings& settings() const { return settings_; }
  // What the device was set to, as QSerialPort reports it.
  SerialSettings deviceSettings() const;
  // Bytes of written frames that have not left yet, in QSerialPort and in the system's driver.
  qint64 queuedBytes() const;
  // The device the port opens: the path given, or the name of its number.
  QString systemName() const;
  // Received bytes waiting for readAll(), here and inside QSerialPort.
  qint64 heldInputBytes() const;
  // Received bytes dropped unread to keep the newest within kReadBufferBytes.
  qint64 droppedInputBytes() const { return dropped_; }
  // Where numbered devices are looked for instead of /dev: lets tests plug devices in.
  void setDeviceFolder(const QString& folder) { deviceFolder_ = folder; }

 private:
  bool tryOpen();
  void retry();
  bool followsNumber() const;
  void applySettings();
  void lose();
  void holdInput();
  void armReadyCheck();
  void checkReady();

  QSerialPort port_;
  QTimer reopen_;
  QElapsedTimer lineClock_;
  LinePacer pacer_;
  SerialSettings settings_;
  int number_ = 1;
  QString device_;
  QString deviceFolder_ = QStringLiteral("/dev");
  QString openName_;
  bool wanted_ = false;
  QByteArray held_;
  qint64 dropped_ = 0;
  // The kernel's timer where there is one: a frame shorter than a millisecond must not wait for
  // the next millisecond.
  std::unique_ptr<Waker> readyCheck_ = makeSystemWaker(WakerKind::Grid);
  std::function<void()> onReady_;
};

}  // namespace luvrin
