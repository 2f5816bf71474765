#include "driver_remote_host.h"

#include <QFileInfo>
#include <QJsonArray>
#include <algorithm>

#include "log_categories.h"
#include "scene_catalogue.h"

namespace luvrin {

DriverRemoteHost::DriverRemoteHost(Form1& driver, HandoffStore& handoff)
    : driver_(driver), handoff_(handoff) {}

QStringList DriverRemoteHost::sceneNames() const {
  const SceneCatalogue catalogue(driver_.programFolder());
  const QFileInfo file(catalogue.path());
  const QDateTime modified = file.exists() ? file.lastModified() : QDateTime();
  const qint64 size = file.exists() ? file.size() : -1;
  if (modified != namesModified_ || size != namesSize_ || size < 0) {
    const CatalogueEntries entries = catalogue.entries();
    names_ = luvrin::sceneNames(entries);
    namesProblem_ = luvrin::catalogueProblem(entries.failure);
    namesModified_ = modified;
    namesSize_ = size;
  }
  return names_;
}

QString DriverRemoteHost::catalogueProblem() const {
  sceneNames();
  return namesProblem_;
}

PlayResult DriverRemoteHost::play(const QString& name) {
  const QStringList names = sceneNames();
  const auto found = std::find_if(names.begin(), names.end(),
                                  [&](const QString& scene) { return sameSceneName(scene, name); });
  if (found == names.end()) return {};
  // The scene the driver took up last: its hand-off value stays as it is, so the intake would
  // not look it up again. A tap asks for it anew (after the faders stopped it, say).
  const bool again = sameSceneName(driver_.Text1.text(), *found);
  // The launcher's way: the hand-off value, then the driver's own intake and lookup.
  if (!handoff_.write(*found)) {
    const QString why = handoff_.writeError();
    qCWarning(lcRemote).noquote() << QStringLiteral(
                                         "远程: 场景 %1 未能交给驱动程序: %2 (the "
                                         "hand-off value could not be written)")
                                         .arg(*found, why);
    return {PlayResult::Outcome::NotHandedOver, *found, why};
  }
  if (again) {
    const QString script = driver_.Text4.text();
    driver_.Text1_Change();
    // The same script in the box starts no run of itself.
    if (driver_.Text3.text().isEmpty() && !script.isEmpty() && driver_.Text4.text() == script)
      driver_.Command5_Click();
  }
  driver_.requestIntake();
  return {PlayResult::Outcome::Played, *found, {}};
}

// The hand-off value itself: before the driver's first poll its box holds no scene yet.
QString DriverRemoteHost::playing() const { return handoff_.read(); }

std::vector<std::uint8_t> DriverRemoteHost::levels() const { return driver_.outputFrame(); }

int DriverRemoteHost::framesPerSecond() const { return driver_.framesPerSecond(); }

QString DriverRemoteHost::outputStatus() const { return driver_.outputStatus(); }

std::vector<int> DriverRemoteHost::faders() const {
  Form3& editor = driver_.editor();
  std::vector<int> values;
  if (!editor.loaded()) return values;
  values.reserve(editor.VScroll1.size());
  for (const ScrollBar& fader : editor.VScroll1) values.push_back(fader.value());
  return values;
}

FaderMove DriverRemoteHost::setChannels(const std::map<int, int>& levels) {
  FaderMove move;
  // A script left playing would write over the move at its next look.
  if (driver_.engine().running()) {
    driver_.engine().stop();
    move.stopped = driver_.Text1.text();
  }
  Form3& editor = driver_.editor();
  // 调试状态 first, so the faders start from the levels on the wire.
  if (!editor.visible()) driver_.Command3_Click();
  // An editor left open keeps the faders of an earlier look: where the wire has moved on since
  // (a scene, a script's last look), the faders take the wire's levels before the move.
  const std::vector<std::uint8_t>& wire = driver_.outputFrame();
  const std::size_t shared = std::min<std::size_t>(
      {wire.size(), editor.VScroll1.size(),
       static_cast<std::size_t>(groupCount(driver_.OUTBUFCNT, Form3::kFaderCount))});
  std::vector<std::pair<int, int>> values;
  values.reserve(shared + levels.size());
  for (std::size_t k = 0; k < shared; ++k) {
    if (editor.VScroll1[k].value() != wire[k]) values.emplace_back(static_cast<int>(k), wire[k]);
  }
  for (const auto& [channel, level] : levels) values.emplace_back(channel - 1, level);
  editor.setFaders(values);
  // Handed over now, even when the editor's box already holds this text from before the look
  // on the wire; an editor run of the user's own goes on as the desktop has it.
  if (!editor.engine().running()) {
    editor.Timer3_Timer();
    editor.Text7_Change();
  }
  return move;
}

namespace {

FixtureInfo fixtureInfo(const QString& name, int start, const fixtures::FixtureDefinition& def,
                        const fixtures::Mode& mode) {
  FixtureInfo info{name, start, def.manufacturer, def.model, mode.name, {}};
  int c = start;
  for (const fixtures::ModeSlot& slot : mode.channelSlots) {
    const fixtures::ChannelDefinition& channelDef = def.channelOf(slot);
    FixtureInfo::Channel channel{
        c++, channelDef.name, fixtures::groupKey(channelDef.role.group), channelDef.role.fine, {}};
    for (const fixtures::Capability& cap : channelDef.capabilities)
      channel.capabilities.push_back({cap.min, cap.max, cap.name});
    info.channels.push_back(std::move(channel));
  }
  return info;
}

}  // namespace

std::vector<FixtureInfo> DriverRemoteHost::fixtures() const {
  std::vector<FixtureInfo> list;
  const fixtures::Patch* patch = driver_.patch().patch();
  if (!patch) return list;
  for (const fixtures::PatchedFixture& f : patch->fixtures())
    if (f.loaded()) list.push_back(fixtureInfo(f.name, f.start, *f.definition, *f.mode));
  return list;
}

std::vector<ChannelInfo> DriverRemoteHost::channelNames() const {
  const std::vector<std::uint8_t>& levels = driver_.outputFrame();
  std::vector<ChannelInfo> names;
  if (!driver_.patch().patch() || levels.size() < 2) return names;
  names.reserve(levels.size() - 1);
  for (std::size_t c = 1; c < levels.size(); ++c) {
    const auto meaning = driver_.patch().channel(static_cast<int>(c), levels[c - 1]);
    if (!meaning) {
      names.emplace_back();
      continue;
    }
    names.push_back(
        {meaning->fixture, meaning->name, fixtures::groupKey(meaning->group), meaning->capability});
  }
  return names;
}

namespace {

DevicesAnswer refused(int status, const QString& why) {
  return {status, QJsonObject{{QStringLiteral("error"), why}}};
}

}  // namespace

void DriverRemoteHost::discoverDevices(bool full, std::function<void(DevicesAnswer)> done) {
  RdmDevices& rdm = driver_.devices();
  // The answer waits for the line, never the window: it goes out when the devices are read.
  switch (rdm.discover(full, [this, done] {
    if (const QString failed = driver_.devices().failure(); !failed.isEmpty())
      return done(refused(502, failed));
    DevicesAnswer answer = devices();
    answer.body.remove(QStringLiteral("discovering"));
    done(answer);
  })) {
    case RdmDevices::Start::Started:
      return;
    case RdmDevices::Start::Busy:
      return done(refused(409, QStringLiteral("正在搜索设备")));
    case RdmDevices::Start::NoRdm:
      return done(refused(501, rdm.refusal()));
  }
}

DevicesAnswer DriverRemoteHost::devices() const {
  RdmDevices& rdm = driver_.devices();
  if (const QString why = rdm.refusal(); !why.isEmpty()) return refused(501, why);
  QJsonArray list;
  for (const rdm::Device& d : rdm.devices()) {
    QJsonObject o = rdm::toJson(d, false);
    if (rdm.overlaps(d.uid)) o.insert(QStringLiteral("overlaps"), true);
    list.append(o);
  }
  QJsonObject body{{QStringLiteral("discovering"), rdm.discovering()},
                   {QStringLiteral("devices"), list}};
  if (!rdm.interfaceText().isEmpty()) body.insert(QStringLiteral("interface"), rdm.interfaceText());
  return {200, body};
}

DevicesAnswer DriverRemoteHost::device(const QString& text) const {
  RdmDevices& rdm = driver_.devices();
  if (const QString why = rdm.refusal(); !why.isEmpty()) return refused(501, why);
  const auto uid = rdm::Uid::parse(text);
  const rdm::Device* d = uid ? rdm.find(*uid) : nullptr;
  if (!d) return refused(404, QStringLiteral("没有这台设备: ") + text);
  QJsonObject o = rdm::toJson(*d, true);
  if (rdm.overlaps(d->uid)) o.insert(QStringLiteral("overlaps"), true);
  return {200, o};
}

void DriverRemoteHost::changeDevice(const QString& text, const DeviceChange& change,
                                    std::function<void(DevicesAnswer)> done) {
  RdmDevices& rdm = driver_.devices();
  if (const QString why = rdm.refusal(); !why.isEmpty()) return done(refused(501, why));
  const auto uid = rdm::Uid::parse(text);
  if (!uid) return done(refused(404, QStringLiteral("没有这台设备: ") + text));
  rdm::DeviceWriter::Change c{change.address, change.personality, change.label, change.identify};
  rdm.change(*uid, c, [this, text, done](RdmDevices::ChangeResult r) {
    using Kind = RdmDevices::ChangeResult::Kind;
    switch (r.kind) {
      case Kind::Done:
        return done(device(text));
      case Kind::NoRdm:
        return done(refused(501, r.why));
      case Kind::Unknown:
        return done(refused(404, r.why));
      case Kind::Refused:
        return done(refused(400, r.why));
      case Kind::Busy:
        return done(refused(409, r.why));
      case Kind::Failed:
        return done(refused(502, r.why));
    }
  });
}

void DriverRemoteHost::patchDevice(const QString& text, const QString& name,
                                   std::function<void(PatchAnswer)> done) {
  RdmDevices& rdm = driver_.devices();
  if (const QString why = rdm.refusal(); !why.isEmpty()) return done({501, why, {}});
  const auto uid = rdm::Uid::parse(text);
  const rdm::Device* d = uid ? rdm.find(*uid) : nullptr;
  if (!d) return done({404, QStringLiteral("没有这台设备: ") + text, {}});
  DevicesWindow& window = driver_.devicesWindow();
  window.attachPatch(driver_.patch(), driver_.outputFrame());
  std::weak_ptr<bool> alive = alive_;
  window.patcher()->patch(*d, name, [alive, done](const DevicePatchOutcome& o) {
    if (alive.expired()) return;
    using Kind = DevicePatchOutcome::Kind;
    switch (o.kind) {
      case Kind::Done:
        break;
      case Kind::BadName:
        return done({400, o.why, {}});
      case Kind::Taken:
      case Kind::Refused:
        return done({409, o.why, {}});
      case Kind::Unreadable:
      case Kind::WriteFailed:
        return done({500, o.why, {}});
      case Kind::Busy:
        return done({503, o.why, {}});
    }
    const fixtures::Mode* mode = o.line.written ? o.line.written->mode(o.line.mode) : nullptr;
    if (!mode) return done({500, QStringLiteral("配接已写入, 但定义读不回来"), {}});
    done({200, {}, fixtureInfo(o.line.name, o.line.start, *o.line.written, *mode)});
  });
}

}  // namespace luvrin
