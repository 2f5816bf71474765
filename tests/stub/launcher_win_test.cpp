#include "launcher_win.h"

#include <gtest/gtest.h>

using namespace luvrin::win;

// The Windows launcher's own rules, as the Qt one has them on Windows (launcher_test.cpp).
TEST(WindowsLauncher, NameIsTheProgramFileWithoutExeAndTheDriverLiesBelow) {
  struct Case {
    const wchar_t* program;
    const wchar_t* name;
    const wchar_t* driver;
  };
  const Case cases[] = {
      {L"C:\\Show\\开场.exe", L"开场", L"C:\\Show\\驱动\\LUVRIN.EXE"},
      {L"C:\\Show\\LUVRINpREG.EXE", L"LUVRINpREG", L"C:\\Show\\驱动\\LUVRIN.EXE"},
      {L"C:\\My Show\\Act 1.v2.Exe", L"Act 1.v2", L"C:\\My Show\\驱动\\LUVRIN.EXE"},
      {L"Z:/tmp/谢幕.exe", L"谢幕", L"Z:/tmp/驱动\\LUVRIN.EXE"},
      {L"C:\\Show\\exe", L"exe", L"C:\\Show\\驱动\\LUVRIN.EXE"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(launcherName(c.program), c.name);
    EXPECT_EQ(driverProgramPath(c.program), c.driver);
  }
}
