// Every show file in the place of something that is no file to read (POSIX: FIFOs, devices,
// files of gigabytes): each reader refuses it at once, says so on its category, and goes on as
// if the file were absent; a good file put there later is read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <functional>

#include "program_file.h"
#include "read_ini_key.h"
#include "scene_catalogue.h"
#include "script_file.h"
#include "serial_settings.h"
#include "show_folder.h"
#include "support/fifo_watchdog.h"

using namespace luvrin;
using luvrin::files_testing::ShowFolder;
using luvrin::testing::returnsWithoutWaitingOnFifo;

namespace {

struct Warning {
  QString category;
  QString text;
};

// Warnings sent while it lives.
class Warnings {
 public:
  Warnings() {
    seen.clear();
    previous_ = qInstallMessageHandler(&Warnings::handle);
  }
  ~Warnings() { qInstallMessageHandler(previous_); }
  static inline QList<Warning> seen;

 private:
  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg) seen.push_back({QString::fromLatin1(context.category), text});
  }
  QtMessageHandler previous_ = nullptr;
};

struct Fault {
  const char* what;
  std::function<void(const QString& path)> put;
};

const Fault kFaults[] = {
    {"FIFO",
     [](const QString& path) {
       ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
     }},
    {"link to /dev/zero",
     [](const QString& path) { ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path)); }},
    {"2 GB sparse file",
     [](const QString& path) {
       QFile f(path);
       ASSERT_TRUE(f.open(QIODevice::WriteOnly));
       f.write("[DMX]\r\nA=DMX001,\r\n[串口配置]\r\n状态=测试\r\n");
       ASSERT_TRUE(f.resize(2LL << 30));
     }},
    {"folder", [](const QString& path) { ASSERT_TRUE(QDir().mkdir(path)); }},
};

struct Reader {
  const char* file;
  const char* category;
  // Reads the file at folder/file; true when what it read is what an absent file gives.
  std::function<bool(const QString& folder)> readsAsAbsent;
};

const Reader kReaders[] = {
    {"串口配置.ini", "luvrin.settings",
     [](const QString& folder) {
       const SerialConfiguration c = readSerialConfiguration(folder);
       return !c.frameInterval && c.status.isEmpty() && c.sendDataLength.isEmpty();
     }},
    {"场景.ini", "luvrin.scene",
     [](const QString& folder) {
       return SceneCatalogue(folder).lookup(QStringLiteral("A")).isEmpty();
     }},
    {"场景.ini", "luvrin.scene",
     [](const QString& folder) { return SceneCatalogue(folder).entries().lines.isEmpty(); }},
    {"s.ini", "luvrin.files",
     [](const QString& folder) {
       return !readSmallFile(folder + QStringLiteral("/s.ini"), kMaxScriptFileBytes);
     }},
    {"x.ini", "luvrin.files",
     [](const QString& folder) {
       return ReadIniKey(folder + QStringLiteral("/x.ini"), QStringLiteral("DMX"),
                         QStringLiteral("A"))
           .isEmpty();
     }},
};

}  // namespace

TEST(HostileShowFiles, EachReaderRefusesAtOnceSaysSoAndReadsAGoodFileLater) {
  for (const Reader& reader : kReaders) {
    for (const Fault& fault : kFaults) {
      const std::string what = std::string(reader.file) + ", " + fault.what;
      ShowFolder show;
      const QString name = QString::fromUtf8(reader.file);
      const QString path = show.path(name);
      fault.put(path);
      Warnings warnings;
      bool absent = false;
      EXPECT_TRUE(returnsWithoutWaitingOnFifo(path, [&] {
        absent = reader.readsAsAbsent(show.path());
      })) << what;
      EXPECT_TRUE(absent) << what;
      ASSERT_EQ(Warnings::seen.size(), 1) << what;
      EXPECT_EQ(Warnings::seen[0].category, QString::fromLatin1(reader.category)) << what;
      EXPECT_TRUE(Warnings::seen[0].text.contains(path)) << what;

      QFile::remove(path);
      QDir().rmdir(path);
      show.writeGbk(name, QStringLiteral("[DMX]\r\nA=DMX001,\r\n[串口配置]\r\n状态=测试\r\n"));
      EXPECT_FALSE(reader.readsAsAbsent(show.path())) << what << ", then a good file";
    }
  }
}
