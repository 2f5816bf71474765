#pragma once

#include <string>
#include <string_view>

// The Linux launcher's rules, in the C and C++ libraries alone: a launcher is started for every
// scene change, and Qt's start-up alone would take longer than the rest of the change. What the
// Qt programs compute the same way (the program folder, the user's folders, the log's lines) is
// kept to their rules here; tests compare the two.
namespace luvrin::launcher {

// The name a launcher hands over: the base name of argv[0], so that a symbolic link to a
// launcher writes the link's own name; the program file's name when argv[0] has none.
std::string launcherName(std::string_view argv0, std::string_view programFile);

// The program file this process runs ("" where the system cannot tell).
std::string programFile();

// The folder of the path the program was started by, as platform::programFolder finds it: a
// link works from the link's folder; argv0 is believed only when it names this program.
std::string programFolder(const char* argv0);

// The launcher folder whose driver a launcher starts: the folder it was started from, or, when
// that has no driver, the folder of the program file itself, so that a link to a show's launcher
// put anywhere (the desktop) starts that show's driver.
std::string launcherFolder(const char* argv0);

// The driver folder below a launcher folder (the show the launcher belongs to), and the driver.
std::string driverFolder(const std::string& launcherFolder);
std::string driverProgramPath(const std::string& launcherFolder);

// Why a driver program cannot be started ("" when it can): missing, or not an executable file.
std::string driverProblem(const std::string& driver);

// Starts program detached: a session of its own, default signal handling, no wait for it. An
// orphan once the launcher ends, as every driver a launcher starts is. Returns 0 or the errno.
int startDetached(const std::string& program);

// $XDG_CONFIG_HOME/TALVEN/LUVRIN.ini (~/.config when unset), where the driver reads it.
std::string handoffPath();
// $XDG_STATE_HOME/TALVEN/LUVRIN.log (~/.local/state when unset or not absolute).
std::string logPath();

// Appends "<local time> <program>: <line>" to the log at path as LogFile writes it: a regular
// file only, turned to <path>.1 when it would pass 1 MiB. Returns whether the line was written.
bool appendLogLine(const std::string& path, const std::string& program, const std::string& line);

}  // namespace luvrin::launcher
