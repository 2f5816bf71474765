#include "rdm_devices.h"

#include <algorithm>
#include <utility>

#include "log_file.h"
#include "output_shared.h"

namespace luvrin {

namespace {

QString seconds(std::int64_t ms) { return QString::number(double(ms) / 1000.0, 'f', 1); }

QString changeText(const rdm::DeviceWriter::Change& c) {
  QStringList parts;
  if (c.address) parts << QStringLiteral("起始地址 %1").arg(*c.address);
  if (c.personality) parts << QStringLiteral("模式 %1").arg(*c.personality);
  if (c.label) parts << QStringLiteral("名称 \"%1\"").arg(*c.label);
  if (c.identify) parts << (*c.identify ? QStringLiteral("识别 开") : QStringLiteral("识别 关"));
  return parts.join(QStringLiteral(", "));
}

}  // namespace

RdmDevices::RdmDevices(Scheduler& scheduler, OutputLink& link, std::function<rdm::Uid()> source)
    : scheduler_(scheduler), link_(link), source_(std::move(source)) {}

RdmDevices::~RdmDevices() {
  *alive_ = false;
  if (asking_) link_.cancel(asking_);
}

void RdmDevices::askInterface() {
  if (asking_) link_.cancel(std::exchange(asking_, 0));
  // An id left over from an answer given inside the call cancels nothing.
  asking_ = link_.askAbout([this, alive = alive_](InterfaceAbout about) {
    if (!*alive) return;
    asking_ = 0;
    const QString text =
        about.refusal.isEmpty() ? QStringLiteral("接口: ") + describeInterface(about) : QString();
    if (text == interface_) return;
    interface_ = text;
    changed_.notify();
  });
}

QString RdmDevices::refusal() const { return link_.rdm() ? QString() : link_.rdmRefusal(); }

const rdm::Device* RdmDevices::find(rdm::Uid uid) const {
  const auto it = std::find_if(devices_.begin(), devices_.end(),
                               [&](const rdm::Device& d) { return d.uid == uid; });
  return it == devices_.end() ? nullptr : &*it;
}

// The controller is made for the output's transport as it is now: an output reopened on another
// interface gets a fresh one once nothing is under way.
bool RdmDevices::ready() {
  rdm::Transport* transport = link_.rdm();
  if (!transport) return false;
  if (transport == transport_ && controller_) return true;
  if (discovering_ || changing_) return transport_ != nullptr;
  writer_.reset();
  reader_.reset();
  discovery_.reset();
  controller_ = std::make_unique<rdm::Controller>(scheduler_, *transport, source_());
  transport_ = transport;
  discovery_ = std::make_unique<rdm::Discovery>(*controller_);
  discovery_->onProgress = [this](int n) {
    setProgress(QStringLiteral("正在搜索设备… 已找到 %1 台").arg(n));
  };
  reader_ = std::make_unique<rdm::DeviceReader>(*controller_);
  writer_ = std::make_unique<rdm::DeviceWriter>(*controller_);
  return true;
}

RdmDevices::Start RdmDevices::discover(bool full, std::function<void()> done) {
  if (discovering_) return Start::Busy;
  if (!ready()) return Start::NoRdm;
  askInterface();
  discovering_ = true;
  full_ = full;
  started_ = scheduler_.now();
  if (done) discovered_.push_back(std::move(done));
  setProgress(QStringLiteral("正在搜索设备…"));
  if (transport_->findsDevices()) {
    std::weak_ptr<bool> alive = alive_;
    transport_->findDevices(full, [this, alive](rdm::Transport::Found f) {
      if (alive.expired()) return;
      if (f.failed) return finish(f.error.isEmpty() ? QStringLiteral("接口没有给出设备") : f.error);
      found(std::set<rdm::Uid>(f.devices.begin(), f.devices.end()));
    });
    return Start::Started;
  }
  std::set<rdm::Uid> known;
  for (const rdm::Device& d : devices_) known.insert(d.uid);
  discovery_->run(full, known, [this](const rdm::Discovery::Result& r) {
    if (r.failed) return finish(r.error.isEmpty() ? QStringLiteral("搜索失败") : r.error);
    found(r.devices);
  });
  return Start::Started;
}

// An incremental run keeps what it read of the devices still there and reads only the new ones.
void RdmDevices::found(const std::set<rdm::Uid>& uids) {
  kept_.clear();
  read_.clear();
  toRead_.clear();
  if (!full_)
    for (const rdm::Device& d : devices_)
      if (uids.contains(d.uid)) kept_.push_back(d);
  for (const rdm::Uid& uid : uids)
    if (std::none_of(kept_.begin(), kept_.end(),
                     [&](const rdm::Device& d) { return d.uid == uid; }))
      toRead_.push_back(uid);
  std::reverse(toRead_.begin(), toRead_.end());
  toReadCount_ = toRead_.size();
  readNext();
}

void RdmDevices::readNext() {
  if (toRead_.empty()) return finish({});
  setProgress(QStringLiteral("正在读取设备 %1/%2…")
                  .arg(toReadCount_ - toRead_.size() + 1)
                  .arg(toReadCount_));
  const rdm::Uid uid = toRead_.back();
  toRead_.pop_back();
  reader_->read(uid, [this](rdm::Device d) {
    read_.push_back(std::move(d));
    readNext();
  });
}

void RdmDevices::finish(const QString& failure) {
  discovering_ = false;
  failure_ = failure;
  const std::int64_t took = scheduler_.now() - started_;
  const QString kind = full_ ? QStringLiteral("搜索") : QStringLiteral("更新");
  if (failure.isEmpty()) {
    devices_ = std::move(kept_);
    for (rdm::Device& d : read_) devices_.push_back(std::move(d));
    std::sort(devices_.begin(), devices_.end(),
              [](const rdm::Device& a, const rdm::Device& b) { return a.uid < b.uid; });
    const auto over = rdm::overlapping(devices_);
    overlapping_ = std::set<rdm::Uid>(over.begin(), over.end());
    progress_ = QStringLiteral("%1完成: 找到 %2 台设备, 用时 %3 秒")
                    .arg(kind)
                    .arg(devices_.size())
                    .arg(seconds(took));
    logLine(QStringLiteral("RDM: ") + progress_ +
            QStringLiteral(" (%1 discovery: %2 devices in %3 ms)")
                .arg(full_ ? QStringLiteral("full") : QStringLiteral("incremental"))
                .arg(devices_.size())
                .arg(took));
  } else {
    progress_ = kind + QStringLiteral("失败: ") + failure;
    logLine(QStringLiteral("RDM: ") + progress_ + QStringLiteral(" (discovery failed)"));
  }
  kept_.clear();
  read_.clear();
  changed_.notify();
  for (auto& done : std::exchange(discovered_, {})) done();
  nextChange();
}

void RdmDevices::change(rdm::Uid uid, const rdm::DeviceWriter::Change& change,
                        std::function<void(ChangeResult)> done) {
  using Kind = ChangeResult::Kind;
  if (!ready()) return done({Kind::NoRdm, link_.rdmRefusal()});
  const rdm::Device* device = find(uid);
  if (!device) return done({Kind::Unknown, QStringLiteral("没有这台设备: ") + uid.toString()});
  if (auto why = rdm::DeviceWriter::refusal(*device, change)) return done({Kind::Refused, *why});
  if (changes_.size() >= kMaxWaitingChanges)
    return done({Kind::Busy, QStringLiteral("设备忙: 等前面的修改做完")});
  changes_.push_back({uid, change, std::move(done)});
  nextChange();
}

void RdmDevices::nextChange() {
  if (changing_ || changes_.empty()) return;
  Waiting w = std::move(changes_.front());
  changes_.pop_front();
  const rdm::Device* device = find(w.uid);
  if (!device) {
    w.done({ChangeResult::Kind::Unknown, QStringLiteral("没有这台设备: ") + w.uid.toString()});
    return nextChange();
  }
  changing_ = true;
  writer_->apply(*device, w.change, [this, w](rdm::Device d, rdm::Outcome o) {
    changing_ = false;
    const auto it = std::find_if(devices_.begin(), devices_.end(),
                                 [&](const rdm::Device& x) { return x.uid == d.uid; });
    if (it != devices_.end()) *it = std::move(d);
    const auto over = rdm::overlapping(devices_);
    overlapping_ = std::set<rdm::Uid>(over.begin(), over.end());
    const QString what = changeText(w.change);
    if (o.ok()) {
      logLine(QStringLiteral("RDM: 设备 %1 已改: %2 (device changed)").arg(w.uid.toString(), what));
      w.done({ChangeResult::Kind::Done, {}});
    } else {
      logLine(QStringLiteral("RDM: 设备 %1 未改好 (%2): %3 (change failed)")
                  .arg(w.uid.toString(), what, o.text()));
      w.done({ChangeResult::Kind::Failed, o.text()});
    }
    changed_.notify();
    nextChange();
  });
}

void RdmDevices::setProgress(const QString& text) {
  if (text == progress_) return;
  progress_ = text;
  changed_.notify();
}

void DevicesWindow::attachPatch(fixtures::ShowPatch& patch,
                                const std::vector<std::uint8_t>& frame) {
  if (patcher_) return;
  patcher_ = std::make_unique<DevicePatcher>(devices_.scheduler(), patch, [&frame] {
    return frame.empty() ? 0 : static_cast<int>(frame.size()) - 1;
  });
}

QString patchLineText(const DevicePatchLine& line) {
  if (line.bySlots) return QStringLiteral("%1, 按槽位名称").arg(line.definition);
  return QStringLiteral("%1, 模式 %2").arg(line.definition, line.mode);
}

void DevicesWindow::proposePatch(rdm::Uid uid) {
  const rdm::Device* device = devices_.find(uid);
  if (!patcher_ || !device || patchState_.working) return;
  patchState_ = {uid, std::nullopt, QStringLiteral("正在读取灯库…"), true};
  patchChanged_.notify();
  patcher_->propose(*device,
                    [this, uid](const DevicePatchOutcome& o) { patchAnswered(uid, false, o); });
}

void DevicesWindow::applyPatch(rdm::Uid uid, const QString& name) {
  const rdm::Device* device = devices_.find(uid);
  if (!patcher_ || !device || patchState_.working) return;
  patchState_.working = true;
  patchState_.status = QStringLiteral("正在配接…");
  patchChanged_.notify();
  patcher_->patch(*device, name,
                  [this, uid](const DevicePatchOutcome& o) { patchAnswered(uid, true, o); });
}

void DevicesWindow::patchAnswered(rdm::Uid uid, bool write, const DevicePatchOutcome& o) {
  patchState_.working = false;
  patchState_.uid = uid;
  if (!o.ok()) {
    patchState_.status = QStringLiteral("未配接: ") + o.why;
  } else if (write) {
    patchState_.proposal.reset();
    patchState_.status = QStringLiteral("已配接: %1 = 起始通道 %2, %3")
                             .arg(o.line.name)
                             .arg(o.line.start)
                             .arg(patchLineText(o.line));
  } else {
    patchState_.proposal = o.line;
    patchState_.status =
        QStringLiteral("建议: 起始通道 %1, %2").arg(o.line.start).arg(patchLineText(o.line));
  }
  patchChanged_.notify();
}

}  // namespace luvrin
