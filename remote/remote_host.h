#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <vector>

namespace luvrin {

// What the remote may see and do of the driver. The driver implements it; the remote knows no
// window. Every call comes from the window's thread and returns at once.
class RemoteHost {
 public:
  virtual ~RemoteHost() = default;

  // The scenes a launcher can be made for, in the catalogue's order.
  virtual QStringList sceneNames() const = 0;
  // Why the catalogue gives no names (as the window's status says it), "" when it is read.
  virtual QString catalogueProblem() const { return {}; }
  // Hands the scene over as its launcher would. False, and nothing changes, for a name the
  // catalogue does not hold.
  virtual bool play(const QString& name) = 0;
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
  // opening the editor with the current levels first when it is not open.
  virtual void setChannels(const std::map<int, int>& levels) = 0;
};

}  // namespace luvrin
