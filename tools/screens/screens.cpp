// Shows the driver window (and, with "editor", the editor over it; with "devices", the devices
// window after a search of a simulated RDM line) playing a small demo scene on a port that goes
// nowhere, and writes the shown window's geometry "WxH+X+Y" to a file once it has been drawn, so
// that scripts/screenshots can take the screen and cut the window out.
//   luvrin_screens driver|editor|fixtures|devices <geometry file>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "codepage.h"
#include "devices_view.h"
#include "driver_window.h"
#include "driver_window_view.h"
#include "editor_window_view.h"
#include "fixture_view_window.h"
#include "frame_output.h"
#include "handoff_store.h"
#include "scheduler_pump.h"
#include "script.h"
#include "sim_line.h"
#include "views.h"

namespace {

class NullPort : public luvrin::FrameOutput {
 public:
  bool open() override { return true; }
  bool isOpen() const override { return true; }
  bool readyForFrame() override { return true; }
  void whenReady(std::function<void()>) override {}
  bool send(std::span<const std::uint8_t>) override { return true; }
  QString status() const override { return QStringLiteral("串口 COM1: 已打开"); }
};

class FixedHandoff : public luvrin::HandoffStore {
 public:
  explicit FixedHandoff(QString value) : value_(std::move(value)) {}
  luvrin::Handoff readHandoff() override { return {value_, {}}; }
  bool write(const luvrin::Handoff&) override { return false; }

 private:
  QString value_;
};

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString look(int channels, int start, int step) {
  QString s = QStringLiteral("DMX");
  for (int i = 0; i < channels; ++i)
    s += QString::number((start + step * i) % 256).rightJustified(3, u'0') + u',';
  return s;
}

// The port's frames as a direct link sends them, with a few simulated fixtures on its line.
class RdmDemoLink final : public luvrin::DirectOutputLink {
 public:
  RdmDemoLink(luvrin::Scheduler& scheduler, luvrin::FrameOutput& output)
      : DirectOutputLink(scheduler, output) {
    namespace sim = luvrin::rdm::sim;
    line_.devices = sim::consecutive(5, 0x101);
    const char* labels[] = {"舞台左 1", "舞台左 2", "舞台右 1", "舞台右 2", "面光"};
    for (int i = 0; i < 5; ++i) {
      line_.devices[i].address = 1 + 17 * i;
      line_.devices[i].label = QByteArray(labels[i]);
      line_.devices[i].sensors = i == 4 ? 2 : 1;
    }
    line_.devices[3].address = 60;  // over its neighbour's channels: marked
  }
  luvrin::rdm::Transport* rdm() override { return &line_; }

 private:
  luvrin::rdm::sim::Line line_;
};

template <typename View>
QWidget* shownWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && dynamic_cast<View*>(w) != nullptr) return w;
  return nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: luvrin_screens driver|editor|fixtures|devices <geometry file>\n");
    return 2;
  }
  const bool editor = QByteArray(argv[1]) == "editor";
  const bool devices = QByteArray(argv[1]) == "devices";
  const bool fixtureView = QByteArray(argv[1]) == "fixtures";
  const QString geometryFile = QString::fromLocal8Bit(argv[2]);

  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QTemporaryDir show;
  const QString folder = show.path();
  const int channels = 64;
  writeFile(
      folder + QStringLiteral("/串口配置.ini"),
      luvrin::encodeGbk(QStringLiteral("[串口配置]\r\n发送定时器时间=25\r\n设置=115200,N,8,1\r\n"
                                       "端口=1\r\n状态=调试\r\n发送数据长度=%1\r\n")
                            .arg(channels)));
  writeFile(folder + QStringLiteral("/场景.ini"),
            luvrin::encodeGbk(QStringLiteral("[DMX]\r\n演示=演示.ini\r\n")));
  const QString script = QStringLiteral("\r\n") + look(channels, 0, 5) +
                         QStringLiteral("\r\n!T000008'100mS\r\n") + look(channels, 255, 251) +
                         QStringLiteral("\r\n!T000008'100mS\r\n!GT000");
  writeFile(folder + QStringLiteral("/演示.ini"), luvrin::scriptFileBytes(script));
  // Fixtures of the installed library (Debian's qlcplus-data).
  writeFile(folder + QStringLiteral("/配接.ini"),
            luvrin::encodeGbk(QStringLiteral("; 舞台\r\n[配接]\r\n"
                                             "左1=1,Robe/Robin 600E Spot (v1.1),Mode 3\r\n"
                                             "面光1=24,Showtec/Compact Par 7 Tri,4 Channel\r\n"
                                             "面光2=28,Showtec/Compact Par 7 Tri,4 Channel\r\n"
                                             "右1=41,Robe/Robin 600E Spot (v1.1),Mode 3\r\n")));

  luvrin::SteadyClock clock;
  luvrin::Scheduler scheduler(clock);
  luvrin::SchedulerPump pump(scheduler);
  NullPort port;
  FixedHandoff handoff(QStringLiteral("演示"));
  RdmDemoLink link(scheduler, port);
  luvrin::Form1 driver(scheduler, folder, link, handoff);
  driver.onQuit = [] { QCoreApplication::exit(0); };
  driver.Form_Load();
  driver.patch().finishReading();
  luvrin::installViews(driver);

  if (editor || fixtureView) {
    QTimer::singleShot(700, [&driver] {
      QElapsedTimer opening;
      opening.start();
      driver.Command3_Click();
      QCoreApplication::processEvents();
      std::fprintf(stderr, "editor window opened in %lld ms\n",
                   static_cast<long long>(opening.elapsed()));
      luvrin::Form3& ed = driver.editor();
      ed.Text6.setText(QStringLiteral("10"));
      ed.Command4_Click();
      for (int i = 0; i < 12; ++i)
        ed.VScroll1[static_cast<std::size_t>(i)].setValue((i * 23 + 40) % 256);
      ed.Text6.setText(QStringLiteral("5"));
      ed.Command4_Click();
    });
  }
  if (fixtureView) {
    QTimer::singleShot(1000, [&driver] {
      driver.editor().Command9.click();
      luvrin::Form3& ed = driver.editor();
      ed.setFaders(std::vector<std::pair<int, int>>{{0, 170}, {2, 80}, {12, 200}});
    });
  }
  if (devices) {
    QTimer::singleShot(300, [&driver] {
      driver.DevicesButton.click();
      driver.devices().discover(true, [] {
        if (QWidget* w = shownWindow<luvrin::DevicesView>())
          w->findChild<QTableWidget*>(QStringLiteral("Devices"))->selectRow(4);
      });
    });
  }
  QTimer::singleShot(2000, [&] {
    QWidget* w = fixtureView ? shownWindow<luvrin::FixtureViewWindow>()
                 : editor    ? shownWindow<luvrin::Form3View>()
                 : devices   ? shownWindow<luvrin::DevicesView>()
                             : shownWindow<luvrin::Form1View>();
    if (w == nullptr) QCoreApplication::exit(1);
    const QRect g = w->frameGeometry();
    writeFile(geometryFile, QStringLiteral("%1x%2+%3+%4\n")
                                .arg(g.width())
                                .arg(g.height())
                                .arg(g.x())
                                .arg(g.y())
                                .toLatin1());
  });
  const int code = QApplication::exec();
  luvrin::removeViews(driver);
  return code;
}
