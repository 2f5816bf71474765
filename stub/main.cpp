#include <cstdio>
#include <cstring>
#include <string>

#include "handoff_form.h"
#include "launcher.h"

// A launcher hands over its own name and its show, starts the driver and ends: a running driver
// of the show picks the name up at once, a new one at its first look. It is written against the
// system alone (no Qt), so that the scene changes within a frame or two of the click. Nothing is
// shown unless something failed: then the scene would silently never change, so the launcher says
// so (stderr and the user's log) and ends with 1. Windows has a launcher of its own: main_win.cpp.

namespace {

constexpr char kProgram[] = "LUVRINpREG";

int tell(const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
  luvrin::launcher::appendLogLine(luvrin::launcher::logPath(), kProgram, why);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  namespace launcher = luvrin::launcher;
  const char* argv0 = argc > 0 ? argv[0] : nullptr;
  const std::string name =
      launcher::launcherName(argv0 != nullptr ? argv0 : "", launcher::programFile());
  // The launcher's folder is where it was started from: a link to LUVRINpREG elsewhere still
  // starts the driver of the show the link stands in; a link where no show is, the driver of
  // the launcher it points to.
  const std::string folder = launcher::launcherFolder(argv0);
  const std::string driver = launcher::driverProgramPath(folder);

  // A launcher copied away from its show, or left behind when the show was removed: its scene
  // belongs to no driver, so nothing is handed over and nothing started.
  if (const std::string problem = launcher::driverProblem(driver); !problem.empty()) {
    return tell(problem + ", 场景 \"" + name +
                "\" 不会播放。请在演出文件夹里为启动器建立快捷方式 (链接), 不要单独复制启动器 "
                "(no driver beside this launcher: make a shortcut, a link, to the launcher in "
                "the show folder instead of copying it alone)");
  }

  // Handed over before the driver starts, so that a new driver finds this scene and its show
  // at its first look. Every step is tried whatever happened before it.
  std::string error;
  const bool handed = luvrin::handoff::write(launcher::handoffPath(),
                                             {name, launcher::driverFolder(folder)}, &error);
  const int started = launcher::startDetached(driver);

  int status = 0;
  if (!handed) {
    status = tell("无法把场景 \"" + name + "\" 交给驱动程序, 场景不会切换: " + error +
                  " (the scene could not be handed to the driver: the per-user settings could "
                  "not be written)");
  }
  if (started != 0) {
    status = tell("无法启动驱动程序 " + driver + ": " + std::strerror(started) +
                  " (the driver could not be started)");
  }
  return status;
}
