#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "scheduler.h"
#include "serial_box_output.h"
#include "serial_port.h"

namespace luvrin::testing {

using Levels = std::vector<std::uint8_t>;

// Records what the driver writes; ready/open/failing behaviour can be set.
class RecordingPort : public SerialPort {
 public:
  bool setSettings(const QString& settings) override;
  bool setPortNumber(int number) override;
  bool setPortDevice(const QString& path) override;
  bool open() override;
  bool isOpen() const override { return open_; }
  QString systemName() const override {
    return device.isEmpty() ? QStringLiteral("COM%1").arg(portNumber) : device;
  }
  bool readyForFrame() override;
  void whenReady(std::function<void()> callback) override;
  bool writeFrame(QByteArrayView header, std::span<const std::uint8_t> data,
                  QByteArrayView trailer) override;
  QByteArray readAll() override;

  // The data bytes of the last frame written.
  Levels lastFrameLevels() const;
  // The line has drained: ready again, and a driver waiting for it is told.
  void becomeReady();
  // From now on the port behaves as a serial line on the scheduler's clock: after each frame it
  // is busy for the frame's bytes times byteNs, and a driver waiting for it is told the moment
  // (the millisecond, on virtual time) it frees.
  void modelLine(Scheduler& scheduler, std::int64_t byteNs);
  // The device went away (false) or was opened again (true), told as the real port tells it.
  void setOpenAndTell(bool open);

  QString settings = QStringLiteral("115200,N,8,1");
  int portNumber = 1;
  QString device;
  bool openable = true;
  bool ready = true;
  bool failWrites = false;
  int openCalls = 0;
  QByteArray written;
  std::vector<QByteArray> frames;
  QByteArray pendingInput;
  int reads = 0;
  std::function<void()> readyCallback;  // the driver's request, if any
  int busyWrites = 0;                   // frames written while the port said it was not ready

 private:
  void armLine();

  bool open_ = false;
  Scheduler* lineScheduler_ = nullptr;
  std::int64_t byteNs_ = 0;
  std::int64_t lineFreeAtNs_ = 0;
  std::unique_ptr<Timer> lineTimer_;
};

// The serial box over a recording port, set up from the program folder's settings as the
// program sets up its port.
std::unique_ptr<SerialBoxOutput> serialBoxFor(RecordingPort& port, const QString& programFolder);

}  // namespace luvrin::testing
