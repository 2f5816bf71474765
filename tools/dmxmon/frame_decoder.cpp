#include "frame_decoder.h"

#include <algorithm>
#include <array>

namespace dmxmon {

namespace {

constexpr std::array<std::uint8_t, 7> kHeader = {':', ':', ':', ':', 'D', 'M', 'X'};
constexpr std::uint8_t kTrailer = '.';

}  // namespace

FrameDecoder::FrameDecoder(std::optional<std::size_t> dataBytes) : dataBytes_(dataBytes) {}

std::optional<std::size_t> FrameDecoder::findHeader(std::size_t from) const {
  const auto begin = buf_.begin() + static_cast<std::ptrdiff_t>(start_ + from);
  const auto it = std::search(begin, buf_.end(), kHeader.begin(), kHeader.end());
  if (it == buf_.end()) return std::nullopt;
  return static_cast<std::size_t>(it - buf_.begin()) - start_;
}

void FrameDecoder::drop(std::size_t n) {
  start_ += n;
  scanFrom_ = scanFrom_ > n ? scanFrom_ - n : 0;
  // Compact now and then rather than on every frame.
  if (start_ > 65536 && start_ * 2 > buf_.size()) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
}

void FrameDecoder::feed(std::span<const std::uint8_t> bytes, const FrameHandler& onFrame) {
  buf_.insert(buf_.end(), bytes.begin(), bytes.end());
  for (;;) {
    const std::size_t size = buf_.size() - start_;
    const std::uint8_t* data = buf_.data() + start_;

    // Line up on a header.
    if (size < kHeader.size() || !std::equal(kHeader.begin(), kHeader.end(), data)) {
      const auto h = findHeader(0);
      if (!h) {
        // Keep what may be the start of a header.
        const std::size_t keep = std::min(size, kHeader.size() - 1);
        stray_ += size - keep;
        drop(size - keep);
        return;
      }
      stray_ += *h;
      drop(*h);
      scanFrom_ = 0;
      continue;
    }

    if (dataBytes_) {
      const std::size_t total = kHeader.size() + *dataBytes_ + 1;
      if (size < total) return;
      if (data[total - 1] == kTrailer) {
        onFrame(std::span<const std::uint8_t>(data + kHeader.size(), *dataBytes_));
        drop(total);
      } else {
        ++malformed_;
        drop(1);  // look for the next header from here
      }
      continue;
    }

    // Unknown length: the next header ends this frame. At least one level byte and the ".".
    const std::size_t searchFrom = std::max(scanFrom_, kHeader.size() + 2);
    const auto next = size > searchFrom ? findHeader(searchFrom) : std::nullopt;
    if (!next) {
      if (size > kMaxUnknownFrame) {
        ++malformed_;
        drop(1);
        continue;
      }
      // Resume the search where a header could still begin.
      scanFrom_ = size > kHeader.size() ? size - (kHeader.size() - 1) : 0;
      return;
    }
    if (data[*next - 1] == kTrailer) {
      onFrame(std::span<const std::uint8_t>(data + kHeader.size(), *next - 1 - kHeader.size()));
    } else {
      ++malformed_;
    }
    drop(*next);
    scanFrom_ = 0;
  }
}

}  // namespace dmxmon
