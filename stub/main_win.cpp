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
// beside the driver in 驱动; a launcher needing them too would ship them twice. A launcher starts
// the driver, hands over its own name and ends. Every step is tried whatever happened before it.
// Nothing is shown unless the name could not be handed over: then the scene would silently never
// change, so the launcher says so (stderr, the user's log, a message box) and ends with 1.

namespace {

// Where the driver reads the name (platform/file_handoff_store.cpp: RegistryHandoffStore).
constexpr wchar_t kHandoffKey[] = L"Software\\VB and VBA Program Settings\\TALVEN\\LUVRIN";
constexpr wchar_t kHandoffValue[] = L"场景";

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
void startDriver(const std::wstring& driver) {
  std::wstring commandLine = L"\"" + driver + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(driver.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                     CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

bool handOver(const std::wstring& name) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kHandoffKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const auto bytes = DWORD((name.size() + 1) * sizeof(wchar_t));
  const bool written =
      RegSetValueExW(key, kHandoffValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                     bytes) == ERROR_SUCCESS;
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

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::wstring self = programFile();
  // Started before the name is written: a driver that is already running picks the name up at
  // its next poll, a new one at its first.
  startDriver(luvrin::win::driverProgramPath(self));

  const std::wstring name = luvrin::win::launcherName(self);
  if (handOver(name)) return 0;

  const std::wstring why = L"无法把场景 \"" + name +
                           L"\" 交给驱动程序, 场景不会切换 (the scene could not be handed to the "
                           L"driver: the per-user settings could not be written)";
  std::fprintf(stderr, "LUVRINpREG: %s\n", narrow(why, CP_ACP).c_str());
  logLine(why);
  MessageBoxW(nullptr, why.c_str(), L"LUVRINpREG", MB_OK | MB_ICONERROR);
  return 1;
}
