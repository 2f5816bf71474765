#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "library.h"
#include "rdm_device.h"
#include "scheduler.h"
#include "show_patch.h"

namespace luvrin {

// What a device told of itself that its patch line is made from.
struct DeviceFacts {
  QString manufacturer, model, label;
  int address = 0;
  int footprint = 0;
  QStringList slotNames;  // by offset; "" where it told none

  static DeviceFacts of(const rdm::Device& device);
};

// The patch line proposed for a device, or made for it.
struct DevicePatchLine {
  QString name;
  int start = 0;
  QString definition;  // "制造商/型号"
  QString mode;
  // No definition matched: one is written into the show's 灯库 from the device's slot names.
  bool bySlots = false;
  // The definition patched; only once the line is written.
  std::shared_ptr<const fixtures::FixtureDefinition> written;
};

struct DevicePatchOutcome {
  enum class Kind { Done, BadName, Taken, Refused, Unreadable, WriteFailed, Busy };
  Kind kind = Kind::Done;
  QString why;  // Chinese, for the window and the API
  DevicePatchLine line;
  bool ok() const { return kind == Kind::Done; }
};

// What is asked: the show's driver folder (配接.ini and 灯库/ inside), its channel count (N), the
// device, and the name the user gave (none: one is proposed). write false only proposes.
struct DevicePatchJob {
  QString folder;
  int channelCount = 0;
  DeviceFacts device;
  std::optional<QString> name;
  bool write = false;
  fixtures::ShowPatch::LibraryOf libraryOf = &fixtures::FixtureLibrary::forShow;
};

// Proposes, and with write adds, the line of a device to 配接.ini: the definition that matches
// it with the mode of its footprint, else one written from its slot names. Indexes the library:
// run it away from the window's thread. Nothing is written when the answer is a refusal.
DevicePatchOutcome patchDevice(const DevicePatchJob& job);

// Patches devices from the window's thread: the work runs on another thread, the answer comes
// back on the window's thread through a short poll. One at a time.
class DevicePatcher {
 public:
  // channelCount: the output's N as it is now.
  DevicePatcher(Scheduler& scheduler, fixtures::ShowPatch& patch, std::function<int()> channelCount,
                fixtures::ShowPatch::LibraryOf libraryOf = &fixtures::FixtureLibrary::forShow);
  ~DevicePatcher();
  DevicePatcher(const DevicePatcher&) = delete;
  DevicePatcher& operator=(const DevicePatcher&) = delete;

  bool busy() const { return pending_.valid(); }
  using Done = std::function<void(const DevicePatchOutcome&)>;
  void propose(const rdm::Device& device, Done done);
  // name empty: the proposed one.
  void patch(const rdm::Device& device, const QString& name, Done done);
  // Waits for the work under way and answers it.
  void finish();

 private:
  void start(DevicePatchJob job, Done done);
  void take();

  fixtures::ShowPatch& patch_;
  std::function<int()> channelCount_;
  fixtures::ShowPatch::LibraryOf libraryOf_;
  Timer poll_;
  std::future<DevicePatchOutcome> pending_;
  bool writing_ = false;
  Done done_;
};

}  // namespace luvrin
