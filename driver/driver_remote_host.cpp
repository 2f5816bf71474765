#include "driver_remote_host.h"

#include <QFileInfo>
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
  // The launcher's way: the hand-off value, then the driver's own intake and lookup.
  if (!handoff_.write(*found)) {
    const QString why = handoff_.writeError();
    qCWarning(lcRemote).noquote() << QStringLiteral(
                                         "远程: 场景 %1 未能交给驱动程序: %2 (the "
                                         "hand-off value could not be written)")
                                         .arg(*found, why);
    return {PlayResult::Outcome::NotHandedOver, *found, why};
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

void DriverRemoteHost::setChannels(const std::map<int, int>& levels) {
  // 调试状态 first, so the faders start from the levels on the wire.
  if (!driver_.editor().visible()) driver_.Command3_Click();
  std::vector<std::pair<int, int>> values;
  values.reserve(levels.size());
  for (const auto& [channel, level] : levels) values.emplace_back(channel - 1, level);
  driver_.editor().setFaders(values);
}

}  // namespace luvrin
