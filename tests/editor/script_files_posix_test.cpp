// The editor's 打开 on what is no script file: a FIFO would never open, a device never end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>

#include "editor_rig.h"
#include "editor_window.h"
#include "support/fifo_watchdog.h"

using namespace luvrin;
using namespace luvrin::testing;

TEST(EditorScriptFiles, OpeningAFifoOrADeviceLeavesTheBoxAndSaysSo) {
  EditorRig rig;
  Form3& ed = rig.editor();
  ed.Show();
  const QString fifo = rig.show.path(QStringLiteral("fifo.ini"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QString chosen;
  QStringList messages;
  ed.dialogs.openFileName = [&] { return std::optional<QString>(chosen); };
  ed.dialogs.message = [&](const QString& m) { messages << m; };
  ed.Text5.setText(QStringLiteral("unsaved work"));
  for (const QString& path : {fifo, QStringLiteral("/dev/zero")}) {
    chosen = path;
    messages.clear();
    EXPECT_TRUE(returnsWithoutWaitingOnFifo(fifo, [&] { ed.Command6_Click(); }))
        << path.toStdString();
    EXPECT_EQ(ed.Text5.text(), QStringLiteral("unsaved work"));
    EXPECT_EQ(messages, QStringList{QStringLiteral("无法打开 %1:不是普通文件。").arg(path)});
  }
}
