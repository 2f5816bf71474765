#pragma once

#include <QDateTime>
#include <QStringList>
#include <memory>

#include "driver_window.h"
#include "handoff_store.h"
#include "remote_host.h"

namespace luvrin {

// The remote's view of a running driver: a scene is handed over as its launcher hands it, faders
// move as the editor's own do.
class DriverRemoteHost : public RemoteHost {
 public:
  DriverRemoteHost(Form1& driver, HandoffStore& handoff);

  QStringList sceneNames() const override;
  QString catalogueProblem() const override;
  PlayResult play(const QString& name) override;
  QString playing() const override;
  std::vector<std::uint8_t> levels() const override;
  int framesPerSecond() const override;
  QString outputStatus() const override;
  std::vector<int> faders() const override;
  FaderMove setChannels(const std::map<int, int>& levels) override;
  std::vector<FixtureInfo> fixtures() const override;
  std::vector<ChannelInfo> channelNames() const override;
  void discoverDevices(bool full, std::function<void(DevicesAnswer)> done) override;
  DevicesAnswer devices() const override;
  DevicesAnswer device(const QString& uid) const override;
  void changeDevice(const QString& uid, const DeviceChange& change,
                    std::function<void(DevicesAnswer)> done) override;
  void patchDevice(const QString& uid, const QString& name,
                   std::function<void(PatchAnswer)> done) override;

 private:
  Form1& driver_;
  HandoffStore& handoff_;
  // The names, read again only when the catalogue changed: a phone asks for them often.
  mutable QStringList names_;
  mutable QDateTime namesModified_;
  mutable qint64 namesSize_ = -1;
  mutable QString namesProblem_;
  // A patch answered after this is gone reaches nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace luvrin
