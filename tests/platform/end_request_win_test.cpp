#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <memory>
#include <string>

#include "platform.h"

using namespace luvrin;

namespace {

// What the installer does to a running driver: opens the event named after its process id and
// sets it. False when there is no such event.
bool askToEnd(quint32 processId) {
  const std::wstring name = platform::endRequestEventName(processId).toStdWString();
  const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (event == nullptr) return false;
  const bool set = SetEvent(event) != 0;
  CloseHandle(event);
  return set;
}

bool heardWithin(const int& heard, int want) {
  QDeadlineTimer deadline(5000);
  while (heard < want && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return heard >= want;
}

}  // namespace

// Each request is heard once, a later one again; once the listener is gone nobody can ask.
TEST(EndRequest, EveryRequestIsHeardWhileTheListenerLives) {
  std::unique_ptr<QCoreApplication> app;
  static int argc = 1;
  static char name[] = "platform_tests";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) app = std::make_unique<QCoreApplication>(argc, argv);

  int heard = 0;
  auto listener = platform::onTerminationRequest([&] { ++heard; });
  ASSERT_NE(listener, nullptr);
  EXPECT_FALSE(askToEnd(GetCurrentProcessId() + 4)) << "another process's name";
  ASSERT_TRUE(askToEnd(GetCurrentProcessId()));
  EXPECT_TRUE(heardWithin(heard, 1));
  ASSERT_TRUE(askToEnd(GetCurrentProcessId()));
  EXPECT_TRUE(heardWithin(heard, 2)) << "only the first request was heard";

  listener.reset();
  EXPECT_FALSE(askToEnd(GetCurrentProcessId())) << "the event outlives its listener";
}
