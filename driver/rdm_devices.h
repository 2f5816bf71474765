#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "controls.h"
#include "device_patch.h"
#include "discovery.h"
#include "form.h"
#include "output_link.h"
#include "rdm_controller.h"
#include "rdm_device.h"
#include "scheduler.h"

namespace luvrin {

// The devices on the driver's output line, for the devices window and the remote: discovery, a
// read of each device found, and the changes made from the desk, all on the window's thread and
// never waiting for the line. One discovery at a time; changes wait their turn, a few at most.
class RdmDevices {
 public:
  static constexpr int kMaxWaitingChanges = 16;

  // source gives this program's own UID, asked when the first request is made.
  RdmDevices(Scheduler& scheduler, OutputLink& link, std::function<rdm::Uid()> source);
  ~RdmDevices();
  RdmDevices(const RdmDevices&) = delete;
  RdmDevices& operator=(const RdmDevices&) = delete;

  Scheduler& scheduler() { return scheduler_; }
  // Why the output carries no RDM, "" when it does.
  QString refusal() const;
  bool discovering() const { return discovering_; }
  enum class Start { Started, Busy, NoRdm };
  // done is called when the devices found have been read (not when the start was refused).
  Start discover(bool full, std::function<void()> done = {});

  // In UID order, each with its sub-devices.
  const std::vector<rdm::Device>& devices() const { return devices_; }
  const rdm::Device* find(rdm::Uid uid) const;
  // Its channels overlap another device's.
  bool overlaps(rdm::Uid uid) const { return overlapping_.contains(uid); }
  // The discovery's progress, or how the last one ended, or why it failed.
  const QString& progress() const { return progress_; }
  // Why the last discovery failed, "" when it found what it found.
  const QString& failure() const { return failure_; }

  struct ChangeResult {
    enum class Kind { Done, NoRdm, Unknown, Refused, Busy, Failed };
    Kind kind = Kind::Done;
    QString why;
  };
  // Checks the values against the device first: a refused change sends nothing.
  void change(rdm::Uid uid, const rdm::DeviceWriter::Change& change,
              std::function<void(ChangeResult)> done);

  // What the interface said about itself when last asked ("接口: 固件 2.4, 序列号 00000042"), ""
  // where it tells nothing. Asked anew at every discovery and when the devices window opens, so
  // it names the interface the devices were found on, a replugged one included.
  const QString& interfaceText() const { return interface_; }
  void askInterface();

  // Anything above changed.
  Notifier& changed() { return changed_; }

 private:
  bool ready();
  void found(const std::set<rdm::Uid>& uids);
  void readNext();
  void finish(const QString& failure);
  void nextChange();
  void setProgress(const QString& text);

  Scheduler& scheduler_;
  OutputLink& link_;
  std::function<rdm::Uid()> source_;
  rdm::Transport* transport_ = nullptr;
  std::unique_ptr<rdm::Controller> controller_;
  std::unique_ptr<rdm::Discovery> discovery_;
  std::unique_ptr<rdm::DeviceReader> reader_;
  std::unique_ptr<rdm::DeviceWriter> writer_;

  std::vector<rdm::Device> devices_;
  std::set<rdm::Uid> overlapping_;
  QString progress_;
  QString failure_;

  bool discovering_ = false;
  bool full_ = true;
  std::int64_t started_ = 0;
  std::vector<rdm::Uid> toRead_;
  std::size_t toReadCount_ = 0;
  std::vector<rdm::Device> kept_, read_;
  std::vector<std::function<void()>> discovered_;

  struct Waiting {
    rdm::Uid uid;
    rdm::DeviceWriter::Change change;
    std::function<void(ChangeResult)> done;
  };
  std::deque<Waiting> changes_;
  bool changing_ = false;

  QString interface_;
  OutputLink::RequestId asking_ = 0;

  Notifier changed_;
  // An interface's answer that comes after this is gone reaches nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The devices window's state: shown from the driver window's 设备 button, hidden when closed.
class DevicesWindow : public FormState {
 public:
  explicit DevicesWindow(RdmDevices& devices) : devices_(devices) {
    setCaption(QStringLiteral("设备 (RDM)"));
  }
  void Show() {
    devices_.askInterface();
    setLoaded(true);
    setVisible(true);
  }
  void Hide() { setVisible(false); }
  RdmDevices& devices() { return devices_; }

  // Found devices go into this patch; attached by whoever needs it first (the view, the remote).
  // frame: the output's, slot 0 and channels 1 to N; it outlives this.
  void attachPatch(fixtures::ShowPatch& patch, const std::vector<std::uint8_t>& frame);
  DevicePatcher* patcher() { return patcher_.get(); }

  // 配接: a line proposed for the selected device, then written with the name the user gave.
  struct PatchState {
    std::optional<rdm::Uid> uid;  // the device proposed for
    std::optional<DevicePatchLine> proposal;
    QString status;  // the window's status line for it
    bool working = false;
  };
  const PatchState& patchState() const { return patchState_; }
  void proposePatch(rdm::Uid uid);
  void applyPatch(rdm::Uid uid, const QString& name);
  Notifier& patchChanged() { return patchChanged_; }

 private:
  void patchAnswered(rdm::Uid uid, bool write, const DevicePatchOutcome& outcome);

  RdmDevices& devices_;
  std::unique_ptr<DevicePatcher> patcher_;
  PatchState patchState_;
  Notifier patchChanged_;
};

// What a patch line says, for the window and the log: "Maker/Spot, 模式 9ch" or 按槽位名称.
QString patchLineText(const DevicePatchLine& line);

}  // namespace luvrin
