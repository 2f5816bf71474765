#pragma once

#include <QtGlobal>
#include <algorithm>

#include "line_settings.h"

namespace luvrin {

// Keeps frames from queueing behind the line where the system cannot tell how much is still
// waiting to leave (a pseudo-terminal reports nothing; many USB adapters report their buffer
// empty long before the bytes are on the wire). It times the line from the settings: a frame
// is written only once the previous one has left, so new levels never wait behind a queue.
class LinePacer {
 public:
  void setLine(const SerialSettings& settings);
  // How late the wake that checks readiness may come. A system that wakes only on its clock's
  // ticks would otherwise add most of a tick to every frame: the next frame may go that much
  // before the previous has left, so at most a tick's worth of bytes ever waits in the queue.
  void setWakeSlack(qint64 ns) { slackNs_ = std::max<qint64>(0, ns); }
  // Nanoseconds one byte takes on the line: start bit, data bits, parity, stop bits.
  qint64 byteNs() const { return byteNs_; }
  // Ready for the next frame once the line is down to the last byte of the previous one: a UART
  // takes the next byte while it shifts one out, and waiting for the very instant the line
  // empties would cost each frame the system's wake-up delay, a tenth of a short frame's time.
  bool ready(qint64 nowNs) const { return nsUntilReady(nowNs) == 0; }
  qint64 nsUntilReady(qint64 nowNs) const {
    return std::max<qint64>(0, lineFreeAtNs_ - std::max(byteNs_, slackNs_) - nowNs);
  }
  void sent(qint64 nowNs, qint64 bytes);

 private:
  qint64 byteNs_ = 0;
  qint64 lineFreeAtNs_ = 0;
  qint64 slackNs_ = 0;
};

}  // namespace luvrin
