#include "driver_remote_host.h"

#include <QFileInfo>

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

bool DriverRemoteHost::play(const QString& name) {
  if (!sceneNames().contains(name)) return false;
  // The launcher's way: the hand-off value, then the driver's own intake and lookup.
  if (!handoff_.write(name)) qCWarning(lcRemote) << "could not write the hand-off value" << name;
  driver_.requestIntake();
  return true;
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
