#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "driver/serial_port.h"
#include "output_address.h"
#include "runtime/scheduler.h"

namespace luvrin {

// A connection to olad: the streaming client in the program, a stand-in in tests.
class OlaLink {
 public:
  virtual ~OlaLink() = default;
  virtual bool connect() = 0;
  // False once olad has gone away; the link is then closed.
  virtual bool send(std::uint32_t universe, std::span<const std::uint8_t> levels) = 0;
  virtual void close() = 0;
};

// A universe of olad behind the driver's port interface; olad drives the interface itself.
// Every frame the timer makes goes to olad. When olad is not running or goes away, the output
// is closed and tried again about once a second, as the serial port is after a hot-plug.
class OlaOutput final : public SerialPort {
 public:
  static constexpr int kReconnectMs = 1000;

  OlaOutput(Scheduler& scheduler, std::uint32_t universe, std::unique_ptr<OlaLink> link);
  ~OlaOutput() override;

  bool setSettings(const QString&) override { return true; }  // no line to set
  bool setPortNumber(int) override { return false; }
  bool setPortDevice(const QString&) override { return false; }
  bool open() override;
  bool isOpen() const override { return connected_; }
  bool readyForFrame() override { return connected_; }
  bool writeFrame(QByteArrayView header, std::span<const std::uint8_t> data,
                  QByteArrayView trailer) override;
  QByteArray readAll() override { return {}; }

 private:
  bool tryConnect();

  std::uint32_t universe_;
  std::unique_ptr<OlaLink> link_;
  Timer reconnect_;
  bool connected_ = false;
};

// The link over OLA's streaming client to olad's RPC port on this machine; nullptr where this
// build has no OLA client library.
std::unique_ptr<OlaLink> makeStreamingOlaLink(std::uint16_t rpcPort);

}  // namespace luvrin
