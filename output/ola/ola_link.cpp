#include <ola/DmxBuffer.h>
#include <ola/client/StreamingClient.h>

#include "ola_output.h"
#include "platform.h"

namespace luvrin {

namespace {

class StreamingOlaLink final : public OlaLink {
 public:
  explicit StreamingOlaLink(std::uint16_t rpcPort) {
    options_.auto_start = false;  // olad is the user's to start, as a service or by hand
    options_.server_port = rpcPort;
    // A write to a connection olad has just closed must fail, not end the program.
    platform::ignoreBrokenPipes();
  }

  bool connect() override {
    client_ = std::make_unique<ola::client::StreamingClient>(options_);
    if (client_->Setup()) return true;
    client_.reset();
    return false;
  }

  bool send(std::uint32_t universe, std::span<const std::uint8_t> levels) override {
    if (!client_) return false;
    buffer_.Set(levels.data(), static_cast<unsigned int>(levels.size()));
    return client_->SendDmx(universe, buffer_);
  }

  void close() override { client_.reset(); }

 private:
  ola::client::StreamingClient::Options options_;
  std::unique_ptr<ola::client::StreamingClient> client_;
  ola::DmxBuffer buffer_;
};

}  // namespace

std::unique_ptr<OlaLink> makeStreamingOlaLink(std::uint16_t rpcPort) {
  return std::make_unique<StreamingOlaLink>(rpcPort);
}

}  // namespace luvrin
