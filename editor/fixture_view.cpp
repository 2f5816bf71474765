#include "fixture_view.h"

#include <algorithm>
#include <utility>

namespace luvrin {

namespace {

using fixtures::Group;

}  // namespace

QStringList FixtureView::fixtureNames() const {
  QStringList names;
  const fixtures::ShowPatch* patch = editor_.showPatch();
  if (!patch || !patch->patch()) return names;
  for (const fixtures::PatchedFixture& f : patch->patch()->fixtures())
    if (f.loaded()) names.push_back(f.name);
  return names;
}

QStringList FixtureView::problems() const {
  QStringList lines;
  const fixtures::ShowPatch* patch = editor_.showPatch();
  if (!patch || !patch->patch()) return lines;
  for (const fixtures::PatchedFixture& f : patch->patch()->fixtures())
    if (!f.loaded())
      lines.push_back(QStringLiteral("第 %1 行 %2: %3").arg(f.line).arg(f.name, f.detail));
  return lines;
}

bool FixtureView::select(const QString& name) {
  selected_.clear();
  parts_.clear();
  const fixtures::ShowPatch* patch = editor_.showPatch();
  const fixtures::PatchedFixture* f =
      patch && patch->patch() ? patch->patch()->fixture(name) : nullptr;
  if (!f || !f->loaded()) return false;
  selected_ = f->name;
  const auto& modeSlots = f->mode->channelSlots;
  // A fine channel goes with its coarse one; the pad takes the first pan and tilt.
  const auto fineOf = [&](qsizetype s) {
    const int partner = modeSlots[s].partner;
    return partner >= 0 ? f->start + partner : 0;
  };
  Part pad{Part::Kind::Pad, QStringLiteral("水平 / 垂直"), 0, 0, 0, 0, {}};
  std::vector<Part> others;
  for (qsizetype s = 0; s < modeSlots.size(); ++s) {
    const fixtures::ChannelDefinition& def = f->definition->channelOf(modeSlots[s]);
    if (def.role.fine && modeSlots[s].partner >= 0) continue;
    const int channel = f->start + static_cast<int>(s);
    if (def.role.group == Group::Pan && pad.channel == 0) {
      pad.channel = channel;
      pad.fine = fineOf(s);
      continue;
    }
    if (def.role.group == Group::Tilt && pad.tiltChannel == 0) {
      pad.tiltChannel = channel;
      pad.tiltFine = fineOf(s);
      continue;
    }
    Part part;
    part.channel = channel;
    part.fine = fineOf(s);
    part.title = patch->label(channel)->channel;
    if (def.capabilities.size() > 1) {
      part.kind = Part::Kind::List;
      part.capabilities = {def.capabilities.begin(), def.capabilities.end()};
    }
    // Intensity first after the pad: it is what a test of a light reaches for first.
    if (def.role.group == Group::Intensity)
      others.insert(others.begin(), std::move(part));
    else
      others.push_back(std::move(part));
  }
  if (pad.channel || pad.tiltChannel) parts_.push_back(pad);
  for (Part& p : others) parts_.push_back(std::move(p));
  return true;
}

int FixtureView::value(int channel, int fine) const {
  const auto level = [&](int c) {
    return c >= 1 && c <= Form3::kFaderCount
               ? editor_.VScroll1[static_cast<std::size_t>(c - 1)].value()
               : 0;
  };
  if (channel == 0) return 0;
  return level(channel) * 256 + (fine ? level(fine) : level(channel));
}

void FixtureView::setValue(int channel, int fine, int v) {
  v = std::clamp(v, 0, 65535);
  std::vector<std::pair<int, int>> levels;
  if (channel) levels.emplace_back(channel - 1, v >> 8);
  if (fine) levels.emplace_back(fine - 1, v & 0xff);
  editor_.setFaders(levels);
}

void FixtureView::setPad(const Part& pad, int pan, int tilt) {
  setValue(pad.channel, pad.fine, pan);
  setValue(pad.tiltChannel, pad.tiltFine, tilt);
}

void FixtureView::setLevel(int channel, int level) {
  const std::pair<int, int> one{channel - 1, std::clamp(level, 0, Form3::kFaderMax)};
  editor_.setFaders({&one, 1});
}

void FixtureView::choose(const Part& list, int capability) {
  if (capability < 0 || capability >= static_cast<int>(list.capabilities.size())) return;
  const fixtures::Capability& c = list.capabilities[static_cast<std::size_t>(capability)];
  setLevel(list.channel, (c.min + c.max) / 2);
}

int FixtureView::chosen(const Part& list) const {
  const int level = value(list.channel, 0) >> 8;
  for (std::size_t i = 0; i < list.capabilities.size(); ++i)
    if (level >= list.capabilities[i].min && level <= list.capabilities[i].max)
      return static_cast<int>(i);
  return -1;
}

}  // namespace luvrin
