#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher_win.h"

// The Windows launcher does what main.cpp does, in the Windows API alone and linked statically:
// every launcher is a copy of this program in the show folder, while the Qt and compiler DLLs live
// beside the driver in 驱动; a launcher needing them too would ship them twice. A launcher hands
// over its own name and its show, starts the driver and ends. Every step is tried whatever
// happened before it. Nothing is shown unless something failed (no driver beside it, the name not
// handed over, the driver not started): then the scene would silently never change, so the
// launcher says so (stderr, the user's log, a message box) and ends with 1.

namespace {

// Where the driver reads the name (platform/file_handoff_store.cpp: RegistryHandoffStore).
constexpr wchar_t kHandoffKey[] = L"Software\\VB and VBA Program Settings\\TALVEN\\LUVRIN";
constexpr wchar_t kHandoffValue[] = L"场景";
constexpr wchar_t kShowValue[] = L"演出";

std::wstring programFile() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return std::wstring(path.data(), n);
    path.resize(path.size() * 2);
  }
}

// Started detached, with no window of its own and the launcher's working folder, as
// QProcess::startDetached does on Linux.
bool startDriver(const std::wstring& driver) {
  std::wstring commandLine = L"\"" + driver + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(driver.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool driverThere(const std::wstring& driver) {
  const DWORD attributes = GetFileAttributesW(driver.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool setValue(HKEY key, const wchar_t* name, const std::wstring& value) {
  const auto bytes = DWORD((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        bytes) == ERROR_SUCCESS;
}

// 演出 first: a driver that sees the new 场景 finds the show written for it already; one that
// reads between the two finds the show of another scene and takes none.
bool handOver(const std::wstring& self, const std::wstring& name) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kHandoffKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const bool written = setValue(key, kShowValue, luvrin::win::showValue(self, name)) &&
                       setValue(key, kHandoffValue, name);
  RegCloseKey(key);
  return written;
}

std::string narrow(const std::wstring& text, UINT codePage) {
  const int n =
      WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(std::max(n, 0)), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// A line in the user's log, as platform/log_file.cpp writes it: %LOCALAPPDATA%\TALVEN\LUVRIN.log,
// UTF-8, stamped with the local time and the program's name.
void logLine(const std::wstring& line) {
  wchar_t local[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, local)))
    return;
  const std::wstring folder = std::wstring(local) + L"\\TALVEN";
  CreateDirectoryW(folder.c_str(), nullptr);
  const HANDLE file = CreateFileW((folder + L"\\LUVRIN.log").c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  const std::string text = stamp + narrow(L"LUVRINpREG: " + line, CP_UTF8) + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Says why the scene will not change, wherever the user may look, and gives the exit code 1.
int tell(const std::wstring& why) {
  std::fprintf(stderr, "LUVRINpREG: %s\n", narrow(why, CP_ACP).c_str());
  logLine(why);
  MessageBoxW(nullptr, why.c_str(), L"LUVRINpREG", MB_OK | MB_ICONERROR);
  return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::wstring self = programFile();
  const std::wstring name = luvrin::win::launcherName(self);
  const std::wstring driver = luvrin::win::driverProgramPath(self);

  // A launcher copied away from its show, or left behind when the show was removed: its scene
  // belongs to no driver, so nothing is handed over and nothing started. A shortcut to a launcher
  // runs the launcher itself, in its show.
  if (!driverThere(driver)) {
    return tell(L"找不到驱动程序 " + driver + L", 场景 \"" + name +
                L"\" 不会播放。请为演出文件夹里的启动器建立快捷方式, 不要单独复制启动器 (no "
                L"driver beside this launcher: make a shortcut to the launcher in the show folder "
                L"instead of copying it alone)");
  }

  // Handed over before the driver starts, so that a new driver finds this scene and its show at
  // its first look; a running one picks it up as soon as the registry says it changed.
  const bool handed = handOver(self, name);
  const bool started = startDriver(driver);
  const DWORD startError = started ? 0 : GetLastError();
  int status = 0;
  if (!handed) {
    status = tell(L"无法把场景 \"" + name +
                  L"\" 交给驱动程序, 场景不会切换 (the scene could not be handed to the driver: "
                  L"the per-user settings could not be written)");
  }
  if (!started) {
    status = tell(L"无法启动驱动程序 " + driver + L" (the driver could not be started, error " +
                  std::to_wstring(startError) + L")");
  }
  return status;
}
