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

#include "line_pacer.h"
#include "line_settings.h"
#include "serial_port.h"
#include "waker.h"

namespace luvrin {

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
  QString systemName() const override;
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
  // Received bytes waiting for readAll(), here and inside QSerialPort.
  qint64 heldInputBytes() const;
  // Received bytes dropped unread to keep the newest within kReadBufferBytes.
  qint64 droppedInputBytes() const { return dropped_; }
  // Where numbered devices are looked for instead of /dev: lets tests plug devices in.
  void setDeviceFolder(const QString& folder) { deviceFolder_ = folder; }
  // What the reopen timer does about once a second: a port that is not open is tried again, and
  // a numbered one that is open moves to what its number names now, and only then.
  void retry();

 private:
  bool tryOpen();
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
