#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "editor_window.h"

namespace luvrin {

// The fixture view: a patched fixture's channels together by what they do. It moves the
// editor's own faders, so recording and the live output go on as with the faders themselves.
class FixtureView {
 public:
  // One control of the view. Channels are the output's, from 1; 0 for none.
  struct Part {
    enum class Kind { Pad, Fader, List };
    Kind kind = Kind::Fader;
    QString title;                      // in the fixed words where the definition's name is generic
    int channel = 0, fine = 0;          // a fader or list; for the pad: pan
    int tiltChannel = 0, tiltFine = 0;  // the pad's tilt
    std::vector<fixtures::Capability> capabilities;  // a list's entries
  };

  explicit FixtureView(Form3& editor) : editor_(editor) {}

  // The patch's loaded fixtures, in the file's order.
  QStringList fixtureNames() const;
  // The patch's lines that were left out, each with its line number, name and why.
  QStringList problems() const;
  // Shows the parts of that fixture; false (nothing shown) for a name the patch does not hold.
  bool select(const QString& name);
  const QString& selected() const { return selected_; }
  const std::vector<Part>& parts() const { return parts_; }

  // A 16-bit value (coarse and fine together) of the channel pair; 0 to 65535.
  int value(int channel, int fine) const;
  // The pad: pan and tilt as 16-bit values.
  void setPad(const Part& pad, int pan, int tilt);
  void setLevel(int channel, int level);
  // Sets the middle of the capability's range.
  void choose(const Part& list, int capability);
  // The capability the list's channel is in now; -1 for none.
  int chosen(const Part& list) const;

 private:
  void setValue(int channel, int fine, int value);

  Form3& editor_;
  QString selected_;
  std::vector<Part> parts_;
};

}  // namespace luvrin
