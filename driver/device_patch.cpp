#include "device_patch.h"

#include <QDir>
#include <mutex>

#include "codepage.h"
#include "device_match.h"
#include "ini_text.h"
#include "log_categories.h"
#include "log_file.h"
#include "patch.h"
#include "program_file.h"

namespace luvrin {

namespace {

using Kind = DevicePatchOutcome::Kind;

// The patch file is read, changed and saved as one step: two patches made at once would each
// write over the other's line.
std::mutex& patchFileLock() {
  static std::mutex lock;
  return lock;
}

DevicePatchOutcome refusal(Kind kind, const QString& why) { return {kind, why, {}}; }

// A name a patch line can hold, in characters the file can be written in.
bool holdable(const QString& name) {
  return !name.isEmpty() && !name.contains(u'=') && !name.startsWith(u'[') &&
         !name.startsWith(u';') && !name.contains(u'\r') && !name.contains(u'\n') &&
         representableInGbk(name);
}

// From what the device calls itself: its label, else its model.
QString proposedName(const DeviceFacts& d, const fixtures::Patch& patch) {
  QString base;
  for (const QString& told : {d.label, d.model}) {
    QString name = told.simplified();
    while (name.startsWith(u'[') || name.startsWith(u';')) name.remove(0, 1);
    name.replace(u'=', u'-');
    if (holdable(name)) {
      base = name;
      break;
    }
  }
  if (base.isEmpty()) base = QStringLiteral("设备");
  QString name = base;
  for (int n = 2; patch.fixture(name); ++n) name = QStringLiteral("%1 %2").arg(base).arg(n);
  return name;
}

const fixtures::Mode* modeOfFootprint(const fixtures::FixtureDefinition& def, int footprint) {
  for (const fixtures::Mode& mode : def.modes)
    if (mode.channelSlots.size() == footprint) return &mode;
  return nullptr;
}

}  // namespace

DeviceFacts DeviceFacts::of(const rdm::Device& device) {
  DeviceFacts facts{device.manufacturer, device.model,     device.label,
                    device.address,      device.footprint, {}};
  for (const rdm::Slot& slot : device.slotInfo) {
    if (slot.offset >= device.footprint) continue;
    while (facts.slotNames.size() <= slot.offset) facts.slotNames.push_back(QString());
    facts.slotNames[slot.offset] = slot.name;
  }
  return facts;
}

DevicePatchOutcome patchDevice(const DevicePatchJob& job) {
  const DeviceFacts& d = job.device;
  const int n = job.channelCount;
  if (d.footprint <= 0) return refusal(Kind::Refused, QStringLiteral("这台设备不占 DMX 通道"));
  if (d.address < 1 || d.address > 512)
    return refusal(Kind::Refused, QStringLiteral("这台设备没有起始地址"));
  const int last = d.address + d.footprint - 1;
  if (last > n) {
    return refusal(
        Kind::Refused,
        QStringLiteral("通道 %1 到 %2 超出最后一个通道 %3").arg(d.address).arg(last).arg(n));
  }

  std::unique_lock<std::mutex> hold(patchFileLock(), std::defer_lock);
  if (job.write) hold.lock();
  const QString path = job.folder + u'/' + QString::fromUtf16(fixtures::Patch::kFileName);
  // A file we could not read whole is never written over: the user's lines would be lost.
  const FileRead file = readSmallFile(path, fixtures::Patch::kMaxFileBytes, lcFixtures());
  if (!file && file.failure != FileRead::Failure::Missing) {
    return refusal(Kind::Unreadable,
                   QStringLiteral("配接文件无法读取, 未改动: %1 (%2)")
                       .arg(QDir::toNativeSeparators(path), describeFailureForUser(file.failure)));
  }
  if (decodeFileText(file.bytes).contains(QChar::ReplacementCharacter)) {
    return refusal(
        Kind::Unreadable,
        QStringLiteral("配接文件中有无法解读的字, 未改动: %1").arg(QDir::toNativeSeparators(path)));
  }

  fixtures::FixtureLibrary library = job.libraryOf(job.folder);
  fixtures::Patch patch(library, n);
  patch.readBytes(file.bytes);

  DevicePatchLine line;
  line.start = d.address;
  if (job.name) {
    line.name = job.name->trimmed();
    if (!holdable(line.name))
      return refusal(Kind::BadName, QStringLiteral("名称“%1”不能写进配接文件").arg(line.name));
    if (const fixtures::PatchedFixture* f = patch.fixture(line.name))
      return refusal(Kind::Taken,
                     QStringLiteral("名称“%1”已在配接第 %2 行").arg(line.name).arg(f->line));
  } else {
    line.name = proposedName(d, patch);
  }
  for (int c = d.address; c <= last; ++c) {
    if (const auto owner = patch.channel(c)) {
      return refusal(
          Kind::Taken,
          QStringLiteral("通道 %1 到 %2 与“%3”重叠").arg(d.address).arg(last).arg(owner->fixture));
    }
  }

  const fixtures::DeviceMatch match =
      fixtures::matchDevice(library, d.manufacturer, d.model, d.footprint, d.slotNames);
  // A definition of its model without a mode of its footprint keeps its key for itself: a
  // home-made one of the same key would hide it from the lines that use it.
  QString ownModel = d.model.trimmed();
  if (!match.definitionKey.isEmpty() && match.mode.isEmpty())
    ownModel = (ownModel.isEmpty() ? QStringLiteral("设备") : ownModel) + QStringLiteral(" RDM");
  line.definition = match.definitionKey;
  line.mode = match.mode;
  line.bySlots = match.mode.isEmpty();
  if (line.bySlots) {
    const QString maker =
        d.manufacturer.trimmed().isEmpty() ? QStringLiteral("RDM") : d.manufacturer.trimmed();
    line.definition = maker + u'/' + (ownModel.isEmpty() ? QStringLiteral("设备") : ownModel);
    // Patched this way before: the definition written then serves again.
    if (const fixtures::IndexEntry* entry = library.find(line.definition)) {
      if (const auto def = library.definition(*entry)) {
        if (const fixtures::Mode* mode = modeOfFootprint(*def, d.footprint)) {
          line.bySlots = false;
          line.mode = mode->name;
        }
      }
    }
  }
  if (line.bySlots)
    line.mode = fixtures::definitionFromSlots({}, {}, match.slotNames).modes.front().name;
  if (!job.write) return {Kind::Done, {}, line};

  // The line first: a definition is written only for a line the file can take.
  QString error;
  if (!patch.setFixture(line.name, line.start, line.definition, line.mode) || !patch.bytes(&error))
    return refusal(
        Kind::WriteFailed,
        error.isEmpty() ? QStringLiteral("“%1”不能写进配接文件").arg(line.definition) : error);
  const QString showLibrary =
      job.folder + u'/' + QString::fromUtf16(fixtures::FixtureLibrary::kShowFolder);
  if (line.bySlots) {
    const auto key = fixtures::saveDeviceDefinition(showLibrary, d.manufacturer, ownModel,
                                                    match.slotNames, &error);
    if (!key) return refusal(Kind::WriteFailed, error);
    if (*key != line.definition) {
      line.definition = *key;
      patch.setFixture(line.name, line.start, line.definition, line.mode);
    }
  }
  if (!patch.save(path, &error)) return refusal(Kind::WriteFailed, error);

  // What was patched, read back as the driver will read it.
  if (line.bySlots) {
    fixtures::FixtureLibrary own({{showLibrary, fixtures::Source::Show}});
    if (const fixtures::IndexEntry* entry = own.find(line.definition))
      line.written = own.definition(*entry);
  } else if (const fixtures::IndexEntry* entry = library.find(line.definition)) {
    line.written = library.definition(*entry);
  }
  return {Kind::Done, {}, line};
}

DevicePatcher::DevicePatcher(Scheduler& scheduler, fixtures::ShowPatch& patch,
                             std::function<int()> channelCount,
                             fixtures::ShowPatch::LibraryOf libraryOf)
    : patch_(patch),
      channelCount_(std::move(channelCount)),
      libraryOf_(std::move(libraryOf)),
      poll_(scheduler, 50, false, [this] {
        using namespace std::chrono_literals;
        if (pending_.valid() && pending_.wait_for(0s) == std::future_status::ready) take();
      }) {}

DevicePatcher::~DevicePatcher() {
  if (pending_.valid()) pending_.wait();
}

void DevicePatcher::propose(const rdm::Device& device, Done done) {
  start(
      {patch_.folder(), channelCount_(), DeviceFacts::of(device), std::nullopt, false, libraryOf_},
      std::move(done));
}

void DevicePatcher::patch(const rdm::Device& device, const QString& name, Done done) {
  std::optional<QString> given;
  if (!name.trimmed().isEmpty()) given = name;
  start({patch_.folder(), channelCount_(), DeviceFacts::of(device), given, true, libraryOf_},
        std::move(done));
}

void DevicePatcher::start(DevicePatchJob job, Done done) {
  if (busy()) return done(refusal(Kind::Busy, QStringLiteral("正在配接另一台设备")));
  writing_ = job.write;
  done_ = std::move(done);
  pending_ = std::async(std::launch::async, patchDevice, std::move(job));
  poll_.setEnabled(true);
}

void DevicePatcher::finish() {
  if (pending_.valid()) take();
}

void DevicePatcher::take() {
  poll_.setEnabled(false);
  const DevicePatchOutcome outcome = pending_.get();
  if (writing_ && outcome.ok()) {
    const DevicePatchLine& l = outcome.line;
    logLine(QStringLiteral("配接: %1 = 起始通道 %2, %3, %4%5 (device patched)")
                .arg(l.name)
                .arg(l.start)
                .arg(l.definition, l.mode,
                     l.bySlots ? QStringLiteral(", 按槽位名称写出定义") : QString()));
  }
  // The driver's own poll takes the new file up; asked now, it need not wait its second.
  if (writing_ && outcome.ok()) patch_.poll(channelCount_());
  Done done = std::exchange(done_, {});
  if (done) done(outcome);
}

}  // namespace luvrin
