#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <functional>
#include <span>

namespace luvrin {

// A serial device as the outputs that speak over one use it (the serial box). The real one wraps
// QSerialPort; tests record.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // "baud,parity,data,stop", parity N/E/O/M/S in either case, stop bits 1, 1.5 or 2. The whole
  // string is checked before anything is applied; a rejected string keeps the previous settings.
  virtual bool setSettings(const QString& settings) = 0;
  // Port number n (COMn on Windows; /dev/ttyUSB(n-1) where it exists, else /dev/ttyS(n-1),
  // followed while the port is open, so that a USB interface plugged in later takes over).
  virtual bool setPortNumber(int number) = 0;
  // An absolute device path used as it stands (/dev/ttyUSB0, /dev/serial/by-id/..., a pty).
  virtual bool setPortDevice(const QString& path) = 0;
  virtual bool open() = 0;
  virtual bool isOpen() const = 0;
  // The device the port opens: the path given, or the system's name of its number.
  virtual QString systemName() const = 0;
  // Called whenever the port opened or was lost, as it happens.
  std::function<void()> onOpenChanged;

  // Whether a new frame may be written without queueing behind the previous one.
  virtual bool readyForFrame() = 0;
  // Asks to be told once, as soon as readyForFrame() would say yes: ready is called later on the
  // program's thread, never from inside this call. A new request replaces the one before, an
  // empty function withdraws it, and a port that closes forgets it.
  virtual void whenReady(std::function<void()> ready) = 0;
  // Writes header, data and trailer one right after the other. False: nothing or not all of it
  // was written (port closed, device gone); the caller skips the frame.
  virtual bool writeFrame(QByteArrayView header, std::span<const std::uint8_t> data,
                          QByteArrayView trailer) = 0;
  // Everything received so far, removed from the port.
  virtual QByteArray readAll() = 0;
};

}  // namespace luvrin
