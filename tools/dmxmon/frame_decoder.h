#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace dmxmon {

// Splits the driver's byte stream into frames: "::::DMX", the level bytes, ".". Without a known
// length a frame's data runs to the "." just before the next header, so a frame is reported
// when the next one begins; with a length the data is exactly that many bytes.
class FrameDecoder {
 public:
  using FrameHandler = std::function<void(std::span<const std::uint8_t> levels)>;

  // dataBytes: level bytes per frame if known (the send data length plus one).
  explicit FrameDecoder(std::optional<std::size_t> dataBytes = std::nullopt);

  void feed(std::span<const std::uint8_t> bytes, const FrameHandler& onFrame);

  // Frames that did not end in "." where they had to, and bytes that belonged to no frame.
  std::uint64_t malformedFrames() const { return malformed_; }
  std::uint64_t strayBytes() const { return stray_; }

  // Without a length, a frame longer than this is given up (the stream is not what we think).
  static constexpr std::size_t kMaxUnknownFrame = 1 << 20;

 private:
  std::optional<std::size_t> findHeader(std::size_t from) const;
  void drop(std::size_t n);

  std::optional<std::size_t> dataBytes_;
  std::vector<std::uint8_t> buf_;
  std::size_t start_ = 0;     // first byte of buf_ still in use
  std::size_t scanFrom_ = 0;  // where the search for the next header resumes (relative)
  std::uint64_t malformed_ = 0;
  std::uint64_t stray_ = 0;
};

}  // namespace dmxmon
