#pragma once

#include <string>

// The launcher's rules for Windows, on the wide strings of the Windows API: the Windows launcher
// is written without Qt, so that it is one file needing no DLL beside it (see main_win.cpp).
namespace luvrin::win {

// The name a launcher hands over: its program file's name without folder and without ".exe"
// (in any case).
std::wstring launcherName(const std::wstring& programFile);

// The show a launcher at programFile belongs to, its driver folder 驱动 beside it, and the driver
// it starts: 驱动\LUVRIN.EXE.
std::wstring driverFolder(const std::wstring& programFile);
std::wstring driverProgramPath(const std::wstring& programFile);

// The registry value 演出 a launcher writes before 场景: its show and its scene, so that a driver
// takes the show only together with the scene it was written for.
std::wstring showValue(const std::wstring& programFile, const std::wstring& scene);

}  // namespace luvrin::win
