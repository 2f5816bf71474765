#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

#include "rdm_message.h"

namespace luvrin::rdm {

// What an interface did with one request.
struct LineResult {
  enum class Kind {
    Answer,     // bytes came back: a packet, or for DISC_UNIQUE_BRANCH the raw discovery bytes
    Timeout,    // nothing came back in time (for a broadcast, the normal end)
    Collision,  // the interface saw more than one device talk at once
    Failed,     // the interface cannot carry the request (unplugged, no RDM there)
  };
  Kind kind = Kind::Timeout;
  QByteArray bytes;
  QString error;  // for Failed: why, in Chinese, for the user
};

// One RDM interface as the controller sees it: a widget on the DMX line, a network node, a
// daemon. It carries one request at a time and calls done once, later, with what happened;
// the controller sends the next request only after that.
class Transport {
 public:
  virtual ~Transport() = default;
  virtual void send(const Request& request, std::function<void(LineResult)> done) = 0;

  // An interface that keeps its own table of devices (a network node's, a daemon's) finds them
  // itself: discovery then asks it instead of searching the line with DISC_UNIQUE_BRANCH.
  virtual bool findsDevices() const { return false; }
  struct Found {
    std::vector<Uid> devices;
    bool failed = false;
    QString error;  // for failed: why, in Chinese, for the user
  };
  // Only where findsDevices(); done is called once, later, like send's.
  virtual void findDevices(bool full, std::function<void(Found)> done) {
    (void)full;
    (void)done;
  }
};

}  // namespace luvrin::rdm
