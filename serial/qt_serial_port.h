#pragma once

#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>
#include <QStringView>
#include <QTimer>
#include <functional>
#include <optional>

#include "serial_port.h"

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
// is written only once the previous one has left, so new levels never wait behind a queue; the
// line idles at most until the next tick of the frame timer.
class LinePacer {
 public:
  void setLine(const SerialSettings& settings);
  // Nanoseconds one byte takes on the line: start bit, data bits, parity, stop bits.
  qint64 byteNs() const { return byteNs_; }
  bool ready(qint64 nowNs) const { return lineFreeAtNs_ <= nowNs; }
  void sent(qint64 nowNs, qint64 bytes);

 private:
  qint64 byteNs_ = 0;
  qint64 lineFreeAtNs_ = 0;
};

enum class PortNaming { Com, Device };
// The system name of port number n: COMn, or /dev/ttyUSB(n-1) where that exists and
// /dev/ttyS(n-1) otherwise. "" for a number below 1.
QString portNameForNumber(int n, PortNaming naming,
                          const std::function<bool(const QString&)>& exists);
PortNaming nativePortNaming();

// The driver's port over QSerialPort. A port that was asked to open and is lost (device pulled,
// writes failing) or could not be opened is tried again about once a second, quietly; frames
// resume as soon as it is back.
class QtSerialPort final : public SerialPort {
 public:
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
  bool writeFrame(QByteArrayView header, std::span<const std::uint8_t> data,
                  QByteArrayView trailer) override;
  QByteArray readAll() override;

  // Releases the port and stops trying to get it back.
  void close();

  const SerialSettings& settings() const { return settings_; }
  // Bytes of written frames that have not left yet, in QSerialPort and in the system's driver.
  qint64 queuedBytes() const;
  // The device the port opens: the path given, or the name of its number.
  QString systemName() const;

 private:
  bool tryOpen();
  void applySettings();
  void lose();

  QSerialPort port_;
  QTimer reopen_;
  QElapsedTimer lineClock_;
  LinePacer pacer_;
  SerialSettings settings_;
  int number_ = 1;
  QString device_;
  bool wanted_ = false;
};

}  // namespace luvrin
