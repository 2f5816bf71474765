#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace luvrin {

// What became of a scene the remote asked for.
struct PlayResult {
  enum class Outcome { Played, NoSuchScene, NotHandedOver };
  Outcome outcome = Outcome::NoSuchScene;
  QString scene;  // the catalogue's own spelling of the name played
  QString why;    // for NotHandedOver: why the hand-off value could not be written
};

// An answer about the devices on the output's line: the HTTP status and the JSON object as the
// API gives it (the devices as rdm's toJson writes them, or {"error": why}).
struct DevicesAnswer {
  int status = 200;
  QJsonObject body;
};

// A change asked for a device, its values of the right kinds but not yet checked against it.
struct DeviceChange {
  std::optional<int> address, personality;
  std::optional<QString> label;
  std::optional<bool> identify;
};

// What else a fader move from the remote did.
struct FaderMove {
  // The script the driver was playing, stopped so that the move holds (its scene's name, "" for
  // a script of no scene); nothing when none was playing.
  std::optional<QString> stopped;
};

// A fixture of the show's patch, in the definition's own words; group is the fixed vocabulary's
// key ("pan", "gobo", ...).
struct FixtureInfo {
  struct Range {
    int min = 0;
    int max = 255;
    QString name;
  };
  struct Channel {
    int channel = 0;  // the output's channel, from 1
    QString name;
    QString group;
    bool fine = false;  // the low byte of a 16-bit value
    std::vector<Range> capabilities;
  };
  QString name;
  int start = 0;
  QString manufacturer, model, mode;
  std::vector<Channel> channels;
};

// A device found on the line, patched: the fixture as the patch lists it, or {status, error}.
struct PatchAnswer {
  int status = 200;
  QString error;
  FixtureInfo fixture;
};

// What a channel of the output is at its level; empty fixture and name where nothing is patched.
struct ChannelInfo {
  QString fixture, name, group, capability;
};

// What the remote may see and do of the driver. The driver implements it; the remote knows no
// window. Every call comes from the window's thread and returns at once.
class RemoteHost {
 public:
  virtual ~RemoteHost() = default;

  // The scenes a launcher can be made for, in the catalogue's order.
  virtual QStringList sceneNames() const = 0;
  // Why the catalogue gives no names (as the window's status says it), "" when it is read.
  virtual QString catalogueProblem() const { return {}; }
  // Hands the scene over as its launcher would, the name looked up as the driver looks it up.
  // Nothing changes for a name the catalogue does not hold, nor when the hand-off value cannot
  // be written (a launcher then ends with an error too).
  virtual PlayResult play(const QString& name) = 0;
  // The scene last handed to the driver, "" for none.
  virtual QString playing() const = 0;
  // The output frame: slots 0 to N.
  virtual std::vector<std::uint8_t> levels() const = 0;
  // The rate meter: frames sent in the last second.
  virtual int framesPerSecond() const = 0;
  virtual QString outputStatus() const = 0;
  // The editor's 512 faders, empty while the editor is closed.
  virtual std::vector<int> faders() const = 0;
  // Moves faders as a hand would (channel numbers from 1, levels 0-255, both already checked),
  // on top of the levels on the wire: the faders take them first where they differ (opening the
  // editor when it is not open), and a script the driver plays stops so the move holds.
  virtual FaderMove setChannels(const std::map<int, int>& levels) = 0;

  // The patch's fixtures that loaded, in the patch file's order.
  virtual std::vector<FixtureInfo> fixtures() const { return {}; }
  // Channels 1 to levels().size() - 1, each at its level now (channel c's is levels()[c - 1]).
  virtual std::vector<ChannelInfo> channelNames() const { return {}; }

  // The devices on the output's line. Discovery and changes take the line's time: their answers
  // come later, through done, on the window's thread; done may also be called at once (busy,
  // no RDM, a refused value). Without RDM, every one answers 501.
  virtual void discoverDevices(bool full, std::function<void(DevicesAnswer)> done) {
    (void)full;
    done(noDevices());
  }
  virtual DevicesAnswer devices() const { return noDevices(); }
  // uid as the user writes it ("7a70:00000001"), not yet checked.
  virtual DevicesAnswer device(const QString& uid) const {
    (void)uid;
    return noDevices();
  }
  virtual void changeDevice(const QString& uid, const DeviceChange& change,
                            std::function<void(DevicesAnswer)> done) {
    (void)uid;
    (void)change;
    done(noDevices());
  }
  // Adds a patch line for the device (name empty: one is proposed). The library is read away
  // from the window's thread, so the answer comes later.
  virtual void patchDevice(const QString& uid, const QString& name,
                           std::function<void(PatchAnswer)> done) {
    (void)uid;
    (void)name;
    const DevicesAnswer none = noDevices();
    done({none.status, none.body.value(QStringLiteral("error")).toString(), {}});
  }

 private:
  static DevicesAnswer noDevices() {
    return {501, QJsonObject{{QStringLiteral("error"), QStringLiteral("此接口不支持 RDM")}}};
  }
};

}  // namespace luvrin
