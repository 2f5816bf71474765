#include "recording_port.h"

#include <QStringList>
#include <algorithm>
#include <utility>

namespace luvrin::testing {

bool RecordingPort::setSettings(const QString& s) {
  const QStringList parts = s.split(u',');
  if (parts.size() != 4) return false;
  settings = s;
  return true;
}

bool RecordingPort::setPortNumber(int number) {
  if (number < 1) return false;
  portNumber = number;
  device.clear();
  return true;
}

bool RecordingPort::setPortDevice(const QString& path) {
  device = path;
  return true;
}

bool RecordingPort::open() {
  ++openCalls;
  open_ = openable;
  return open_;
}

bool RecordingPort::readyForFrame() {
  if (!ready) return false;
  return lineScheduler_ == nullptr || lineScheduler_->clock().tickCountNs() >= lineFreeAtNs_;
}

void RecordingPort::whenReady(std::function<void()> callback) {
  readyCallback = std::move(callback);
  if (lineScheduler_ != nullptr) armLine();
}

void RecordingPort::becomeReady() {
  ready = true;
  if (auto callback = std::exchange(readyCallback, {})) callback();
}

void RecordingPort::modelLine(Scheduler& scheduler, std::int64_t byteNs) {
  lineScheduler_ = &scheduler;
  byteNs_ = byteNs;
  lineTimer_ = std::make_unique<Timer>(scheduler, 1, false, [this] {
    lineTimer_->setEnabled(false);
    if (readyCallback && readyForFrame()) std::exchange(readyCallback, {})();
  });
}

void RecordingPort::setOpenAndTell(bool open) {
  open_ = open;
  if (!open_) readyCallback = nullptr;
  if (onOpenChanged) onOpenChanged();
}

void RecordingPort::armLine() {
  lineTimer_->setEnabled(false);
  if (!readyCallback) return;
  constexpr std::int64_t kMs = 1'000'000;
  const std::int64_t waitNs = lineFreeAtNs_ - lineScheduler_->clock().tickCountNs();
  lineTimer_->setInterval(static_cast<int>(std::max<std::int64_t>(1, (waitNs + kMs - 1) / kMs)));
  lineTimer_->setEnabled(true);
}

bool RecordingPort::writeFrame(QByteArrayView header, std::span<const std::uint8_t> data,
                               QByteArrayView trailer) {
  if (!open_ || failWrites) return false;
  if (!readyForFrame()) ++busyWrites;
  QByteArray frame(header.data(), header.size());
  frame.append(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
  frame.append(trailer.data(), trailer.size());
  written += frame;
  frames.push_back(frame);
  if (lineScheduler_ != nullptr)
    lineFreeAtNs_ =
        std::max(lineFreeAtNs_, lineScheduler_->clock().tickCountNs()) + frame.size() * byteNs_;
  return true;
}

QByteArray RecordingPort::readAll() {
  ++reads;
  return std::exchange(pendingInput, QByteArray());
}

Levels RecordingPort::lastFrameLevels() const {
  if (frames.empty()) return {};
  const QByteArray& f = frames.back();
  return Levels(f.begin() + 7, f.end() - 1);
}

std::unique_ptr<SerialBoxOutput> serialBoxFor(RecordingPort& port, const QString& programFolder) {
  setUpSerialPort(port, readSerialConfiguration(programFolder));
  return std::make_unique<SerialBoxOutput>(port);
}

}  // namespace luvrin::testing
