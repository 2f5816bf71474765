#pragma once

// POSIX only: for tests that put a FIFO where a program reads a file.
#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace luvrin::testing {

// Runs body and tells whether it came back on its own. An open() of the FIFO at fifo waits for
// a writer for ever; if body has not returned after deadline, a writer comes and goes, so that
// body ends and the test fails instead of hanging.
inline bool returnsWithoutWaitingOnFifo(const QString& fifo, const std::function<void()>& body,
                                        std::chrono::seconds deadline = std::chrono::seconds(10)) {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool rescued = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (done.wait_for(lock, deadline, [&] { return finished; })) return;
    rescued = true;
    const QByteArray name = QFile::encodeName(fifo);
    while (!finished) {
      // Succeeds only while a reader waits in its open.
      const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) ::close(fd);
      done.wait_for(lock, std::chrono::milliseconds(10), [&] { return finished; });
    }
  });
  body();
  {
    const std::lock_guard lock(mutex);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  return !rescued;
}

}  // namespace luvrin::testing
