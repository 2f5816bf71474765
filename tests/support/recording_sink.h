#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "clock.h"
#include "network_output.h"

namespace luvrin::testing {

// What a network output sent, and when on the test's clock.
struct Sent {
  std::int64_t at;
  std::vector<std::uint8_t> packet;
  Destination to;
};

class RecordingSink : public DatagramSink {
 public:
  RecordingSink(const Clock& clock, std::vector<Sent>& log) : clock_(clock), log_(log) {}
  bool open() override { return openable; }
  bool send(std::span<const std::uint8_t> packet, const Destination& to) override {
    if (failing) return false;
    log_.push_back(
        {clock_.tickCount(), std::vector<std::uint8_t>(packet.begin(), packet.end()), to});
    return true;
  }
  bool openable = true;
  bool failing = false;

 private:
  const Clock& clock_;
  std::vector<Sent>& log_;
};

}  // namespace luvrin::testing
