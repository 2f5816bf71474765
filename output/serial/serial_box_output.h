#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

#include "frame_output.h"
#include "serial_port.h"
#include "serial_settings.h"

namespace luvrin {

// Sets the port to 设置's line and to the number or device 端口 names.
void setUpSerialPort(SerialPort& port, const SerialConfiguration& settings);

// The serial box: each frame goes out as "::::DMX", the level bytes and ".", with no checksum
// and no escaping, on a serial port already set to the settings' line and port.
class SerialBoxOutput final : public FrameOutput {
 public:
  explicit SerialBoxOutput(SerialPort& port);
  explicit SerialBoxOutput(std::unique_ptr<SerialPort> port);
  ~SerialBoxOutput() override;

  bool open() override;
  bool isOpen() const override { return port_.isOpen(); }
  bool readyForFrame() override { return port_.readyForFrame(); }
  void whenReady(std::function<void()> ready) override { port_.whenReady(std::move(ready)); }
  bool send(std::span<const std::uint8_t> levels) override;
  QString status() const override;
  QByteArray takeInput() override { return port_.readAll(); }
  QString rdmRefusal() const override {
    return QStringLiteral(
        "串口盒不支持 RDM (只发送灯光数据): 管理设备请用 USB Pro、olad 或 Art-Net");
  }

  SerialPort& port() { return port_; }

 private:
  std::unique_ptr<SerialPort> owned_;
  SerialPort& port_;
  bool wanted_ = false;
};

}  // namespace luvrin
