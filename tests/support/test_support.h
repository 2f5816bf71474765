#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "handoff_store.h"
#include "scheduler.h"
#include "serial_port.h"

namespace luvrin::testing {

using Levels = std::vector<std::uint8_t>;

// A temporary program folder with a GBK 串口配置.ini holding the given keys (none: no file).
class TempShow {
 public:
  explicit TempShow(std::initializer_list<std::pair<QString, QString>> settings = {});
  QString programFolder() const { return dir_.path(); }
  QString path(const QString& name) const { return dir_.path() + u'/' + name; }
  // Writes bytes to a file of the folder.
  void writeFile(const QString& name, const QByteArray& bytes) const;
  // Writes a GBK 场景.ini with section [DMX] and the given lines.
  void writeCatalog(std::initializer_list<QString> lines) const;

 private:
  QTemporaryDir dir_;
};

// Records what the driver writes; ready/open/failing behaviour can be set.
class RecordingPort : public SerialPort {
 public:
  bool setSettings(const QString& settings) override;
  bool setPortNumber(int number) override;
  bool setPortDevice(const QString& path) override;
  bool open() override;
  bool isOpen() const override { return open_; }
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

class MemoryHandoff : public HandoffStore {
 public:
  QString read() override { return value; }
  bool write(const QString& v) override {
    value = v;
    return true;
  }
  QString value;
};

// Text with CR LF, written as "\r\n" in tests.
QString crlf(const char* text);

}  // namespace luvrin::testing
