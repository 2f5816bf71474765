#pragma once

#include <QString>
#include <memory>

#include "scheduler.h"
#include "serial_port.h"

namespace luvrin {

struct OutputChoice {
  // nullptr: 端口 names a serial port, which the driver opens as before.
  std::unique_ptr<SerialPort> port;
  // Why a value in one of the output forms was refused; its port then never opens.
  QString refusal;
};

// The output 端口 names: olad, sACN or Art-Net. A refusal is also reported, once, on the
// luvrin.serial category (which prints warnings by default).
OutputChoice makeOutput(const QString& portSetting, Scheduler& scheduler, const QString& cidFile);

}  // namespace luvrin
