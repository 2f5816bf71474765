#include "log_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <utility>

#include "platform.h"

namespace luvrin {

LogFile::LogFile(QString path, QString program)
    : path_(std::move(path)), program_(std::move(program)) {
  writer_ = std::thread([this] { run(); });
}

LogFile::~LogFile() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_one();
  writer_.join();
}

QString LogFile::defaultPath() { return platform::userLogFolder() + QStringLiteral("/LUVRIN.log"); }

void LogFile::write(const QString& line) {
  const QString stamped =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) +
      (program_.isEmpty() ? QString() : program_ + QStringLiteral(": ")) + line;
  {
    const std::lock_guard lock(mutex_);
    if (queue_.size() >= kMaxQueued) {
      ++dropped_;
      return;
    }
    queue_.push_back(stamped);
  }
  wake_.notify_one();
}

void LogFile::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return ending_ || !queue_.empty(); });
    if (queue_.empty() && ending_) return;
    QByteArray text;
    if (dropped_ > 0) {
      text += QStringLiteral("(%1 lines dropped)\n").arg(dropped_).toUtf8();
      dropped_ = 0;
    }
    while (!queue_.empty()) {
      text += queue_.front().toUtf8() + '\n';
      queue_.pop_front();
    }
    lock.unlock();
    append(text);
    lock.lock();
  }
}

void LogFile::append(const QByteArray& text) {
  // Only a regular file (or none yet): a FIFO or a device put there would block or swallow it.
  const QFileInfo info(path_);
  if (info.isSymLink() || (info.exists() && !info.isFile())) return;
  QDir().mkpath(info.absolutePath());
  if (info.exists() && info.size() + text.size() > kMaxBytes) {
    const QString old = path_ + QStringLiteral(".1");
    QFile::remove(old);
    QFile::rename(path_, old);
  }
  QFile file(path_);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
  // A single line larger than the bound keeps only its end.
  file.write(text.size() > kMaxBytes ? text.right(kMaxBytes) : text);
}

namespace {

std::atomic<LogFile*> installed{nullptr};
QtMessageHandler previous = nullptr;

// Qt's HTTP server says this of every WebSocket upgrade it is told to refuse. The remote refuses
// them on purpose (a wrong key, a wrong path), so a peer could push everything else out of the
// log with it, and it tells the user nothing.
bool qtChatter(const QMessageLogContext& context, const QString& message) {
  return context.category != nullptr && qstrcmp(context.category, "qt.httpserver") == 0 &&
         message.startsWith(QLatin1String("WebSocket received but no slots connected"));
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (qtChatter(context, message)) return;
  if (LogFile* log = installed.load()) log->write(qFormatLogMessage(type, context, message));
  if (previous != nullptr) previous(type, context, message);
}

}  // namespace

void installMessageLog(LogFile& log) {
  installed.store(&log);
  QtMessageHandler before = qInstallMessageHandler(handler);
  if (before != handler) previous = before;
}

void removeMessageLog() {
  installed.store(nullptr);
  qInstallMessageHandler(previous);
}

void logLine(const QString& line) {
  if (LogFile* log = installed.load()) log->write(line);
}

}  // namespace luvrin
