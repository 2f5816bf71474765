#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace luvrin {

namespace rdm {
class Transport;
}

// Levels an interface received from the line (a widget's DMX input, later network input).
struct ReceivedLevels {
  std::uint32_t universe = 0;  // the interface's own universe number; 0 for a widget's one input
  std::uint8_t startCode = 0;
  std::vector<std::uint8_t> levels;  // slot 1 first
};

// What an interface says about itself, asked for at each opening of its port.
struct InterfaceAbout {
  // Not empty: the interface cannot tell, and why; nothing else is set then.
  QString refusal;
  std::optional<QString> firmware;  // "1.44"
  std::optional<QString> serialNumber;
  // Asked, and no answer came before its deadline.
  bool firmwareUnanswered = false;
  bool serialUnanswered = false;

  static InterfaceAbout refused(QString why) {
    InterfaceAbout about;
    about.refusal = std::move(why);
    return about;
  }
};

// Where the driver's levels go: the serial box, a USB Pro widget, olad, sACN or Art-Net. The
// driver hands over levels only; how an interface frames, paces and addresses them is its own.
// An output lives on one thread (the output thread in the program) and is used only there.
class FrameOutput {
 public:
  virtual ~FrameOutput() = default;

  // Opens the interface. One that cannot be opened now keeps trying on its own where that can
  // help (a port plugged in later, olad started later). False: not open now.
  virtual bool open() = 0;
  virtual bool isOpen() const = 0;

  // Whether new levels may go out now without queueing behind earlier ones.
  virtual bool readyForFrame() = 0;
  // Asks to be told once, as soon as readyForFrame() would say yes: ready is called later on the
  // output's thread, never from inside this call. A new request replaces the one before, an
  // empty function withdraws it, and an output that closes forgets it.
  virtual void whenReady(std::function<void()> ready) = 0;

  // Sends the frame: the driver's level bytes, byte 0 first (the first channel's slot). False:
  // nothing or not all of it went out (closed, device gone); the caller skips the frame.
  virtual bool send(std::span<const std::uint8_t> levels) = 0;

  // One line for the window and the log: which interface, and whether it is working.
  virtual QString status() const = 0;
  // Called on the output's thread whenever status() changed.
  std::function<void()> onStatusChanged;

  // What the interface sent back since the last call, for the window's log; most send nothing.
  virtual QByteArray takeInput() { return {}; }

  // Called on the output's thread for every packet of levels received.
  std::function<void(const ReceivedLevels&)> onLevelsReceived;

  // RDM with the devices on this interface, used on the output's thread only, its results
  // called there too. nullptr: this interface carries none, and rdmRefusal() says why.
  virtual rdm::Transport* rdm() { return nullptr; }
  virtual QString rdmRefusal() const { return QStringLiteral("此接口不支持 RDM"); }

  // Tells what the interface says about itself, on the output's thread, once: now, or when what
  // it asked at the port's opening was answered or its time was up.
  virtual void about(std::function<void(InterfaceAbout)> answer) {
    answer(InterfaceAbout::refused(
        QStringLiteral("此接口不提供设备信息 (this interface tells nothing about "
                       "itself)")));
  }

 protected:
  void statusChanged() {
    if (onStatusChanged) onStatusChanged();
  }
};

}  // namespace luvrin
