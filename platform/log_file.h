#pragma once

#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace luvrin {

// The user's log file: what the programs would otherwise say only on stderr, which no Windows
// user ever sees. Lines are written by a thread of the log's own, so a slow disk or a file that
// cannot be opened holds up nobody: not the window, never a frame. The file is bounded: past
// kMaxBytes it becomes LUVRIN.log.1 (replacing the one before) and a new one starts.
class LogFile {
 public:
  static constexpr qint64 kMaxBytes = 1024 * 1024;
  // Lines waiting beyond this are dropped (and counted in the next line written).
  static constexpr std::size_t kMaxQueued = 1000;

  // program: the name each line carries.
  LogFile(QString path, QString program);
  // Writes what is queued, then ends the writer.
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Adds a line, stamped with the local date and time and the program's name.
  void write(const QString& line);
  // Adds a line that says how the program runs (its output, the remote's address): written now,
  // and again at the top of every new file the log turns to, so that a log rotated by a flood
  // of other lines still says it. A later line of the same key takes its place.
  void writeKept(const QString& key, const QString& line);
  const QString& path() const { return path_; }

  // LUVRIN.log in the user's log folder.
  static QString defaultPath();

 private:
  QString stamped(const QString& line) const;
  void run();
  void append(const QByteArray& text, const QByteArray& top);

  QString path_;
  QString program_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<QString> queue_;
  std::vector<std::pair<QString, QString>> kept_;  // key, stamped line
  std::size_t dropped_ = 0;
  bool ending_ = false;
  std::thread writer_;
};

// Sends every message Qt's logging lets through (warnings and above, and the categories turned
// on) to log as well as where it went before. The log must outlive the program's messages:
// removeMessageLog() before it goes.
void installMessageLog(LogFile& log);
void removeMessageLog();
// A line for the installed log, if there is one (the output's status, a refused file).
void logLine(const QString& line);
// A kept line (LogFile::writeKept) for the installed log, if there is one.
void logKeptLine(const QString& key, const QString& line);

}  // namespace luvrin
