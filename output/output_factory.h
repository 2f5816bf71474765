#pragma once

#include <QString>
#include <memory>

#include "frame_output.h"
#include "scheduler.h"
#include "serial_port.h"
#include "serial_settings.h"

namespace luvrin {

struct OutputDevices {
  // The serial port a serial box or a USB Pro widget speaks over; nullptr: the system's port,
  // made here.
  SerialPort* serialPort = nullptr;
  // Where the sACN source identifier is kept.
  QString cidFile;
};

struct OutputChoice {
  std::unique_ptr<FrameOutput> output;
  // Why 端口 was refused; the output then never opens and its status says why.
  QString refusal;
};

// The output 串口配置.ini names, set up from it: the serial box on the port 端口 names, with 设置's
// line; a USB Pro widget (usbpro:P) on port P with the same line; or olad, sACN or Art-Net. Built
// on the scheduler of the thread that will use it. A refusal is also reported, once, on the
// luvrin.output category (which prints warnings by default).
OutputChoice makeOutput(const SerialConfiguration& settings, Scheduler& scheduler,
                        const OutputDevices& devices);

}  // namespace luvrin
