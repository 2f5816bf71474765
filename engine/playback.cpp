#include "playback.h"

#include <algorithm>

namespace luvrin {

void RunList::start(Run run, Task task) {
  // Listed before the scheduler learns of it, so that the run counts from its first step.
  runs_.push_back({run, 0});
  runs_.back().task = scheduler_.spawn(std::move(task));
}

void RunList::stopAll() {
  const auto runs = runs_;
  runs_.clear();
  for (const Entry& e : runs) scheduler_.cancel(e.task);
}

bool RunList::contains(Run run) const {
  return std::any_of(runs_.begin(), runs_.end(), [run](const Entry& e) { return e.run == run; });
}

void RunList::remove(Run run) {
  std::erase_if(runs_, [run](const Entry& e) { return e.run == run; });
}

}  // namespace luvrin
