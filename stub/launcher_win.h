#pragma once

#include <string>

// The launcher's rules for Windows, on the wide strings of the Windows API: the Windows launcher
// is written without Qt, so that it is one file needing no DLL beside it (see main_win.cpp).
namespace luvrin::win {

// The name a launcher hands over: its program file's name without folder and without ".exe"
// (in any case).
std::wstring launcherName(const std::wstring& programFile);

// The driver a launcher at programFile starts: 驱动\LUVRIN.EXE beside it.
std::wstring driverProgramPath(const std::wstring& programFile);

}  // namespace luvrin::win
