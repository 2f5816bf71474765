#include "launcher_win.h"

#include <cwctype>

namespace luvrin::win {

namespace {

// Windows takes either slash between names.
std::size_t afterFolder(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? 0 : slash + 1;
}

}  // namespace

std::wstring launcherName(const std::wstring& programFile) {
  std::wstring name = programFile.substr(afterFolder(programFile));
  const std::wstring suffix = L".exe";
  if (name.size() >= suffix.size()) {
    bool same = true;
    for (std::size_t i = 0; i < suffix.size(); ++i)
      same = same && std::towlower(name[name.size() - suffix.size() + i]) == suffix[i];
    if (same) name.resize(name.size() - suffix.size());
  }
  return name;
}

std::wstring driverFolder(const std::wstring& programFile) {
  return programFile.substr(0, afterFolder(programFile)) + L"驱动";
}

std::wstring driverProgramPath(const std::wstring& programFile) {
  return driverFolder(programFile) + L"\\LUVRIN.EXE";
}

std::wstring showValue(const std::wstring& programFile, const std::wstring& scene) {
  return driverFolder(programFile) + L"|" + scene;
}

}  // namespace luvrin::win
