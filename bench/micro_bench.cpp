// Micro-benchmarks of the hot paths: the intake pass, the editor's fader text, the engine's
// scan of a long script and the scene lookup in a large catalogue.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <chrono>

#include "channel_data.h"
#include "driver/driver_fixture.h"
#include "driver_playback.h"
#include "driver_window.h"
#include "editor_window.h"
#include "editor_window_view.h"
#include "numeric.h"
#include "scene_catalogue.h"
#include "support/virtual_time.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {

QString frameText(int n, int level) {
  QString s = QStringLiteral("DMX");
  for (int i = 0; i < n; ++i) appendLevelGroup(s, (level + i) % 256);
  return s;
}

void BM_IntakePass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Driver fixture({{QStringLiteral("发送数据长度"), QString::number(n)}});
  Form1& driver = fixture.load();
  driver.Text7.setText(frameText(n, 7));
  for (auto _ : state) {
    driver.Timer1_Timer();
    benchmark::DoNotOptimize(driver.outputFrame().data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_IntakePass)->Arg(128)->Arg(512);

void BM_FrameTick(benchmark::State& state) {
  Driver fixture({{QStringLiteral("发送数据长度"), QStringLiteral("512")}});
  Form1& driver = fixture.load();
  // One millisecond of virtual time is one tick of the frame loop, with nothing else due.
  for (Timer* t : {&driver.Timer1, &driver.Timer2, &driver.timdelay}) t->setEnabled(false);
  for (auto _ : state) {
    fixture.scheduler.advanceBy(1ms);
    if (fixture.port.frames.size() > 1024) {
      fixture.port.frames.clear();
      fixture.port.written.clear();
    }
  }
}
BENCHMARK(BM_FrameTick);

void BM_BuildChannelDataText(benchmark::State& state) {
  ManualClock clock;
  Scheduler scheduler(clock);
  struct Driver final : DriverLink {
    double sendDataLength() const override { return length; }
    void takeChannelData(const QString&) override {}
    double length = 0;
  } driver;
  driver.length = static_cast<double>(state.range(0));
  QTemporaryDir dir;
  Form3 editor(scheduler, dir.path(), driver);
  editor.Load();
  for (int i = 0; i < Form3::kFaderCount; ++i) editor.VScroll1[i].setValue(i % 256);
  for (auto _ : state) benchmark::DoNotOptimize(editor.BuildChannelDataText());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildChannelDataText)->Arg(128)->Arg(512);

void BM_ReadLevel(benchmark::State& state) {
  const QString text = frameText(512, 3);
  for (auto _ : state) {
    int sum = 0;
    for (int k = 0; k < 512; ++k) sum += readLevel(text, k).value_or(0);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 512);
}
BENCHMARK(BM_ReadLevel);

void BM_NumericValue(benchmark::State& state) {
  const QString text = QStringLiteral(" 1 2.5e1,");
  for (auto _ : state) benchmark::DoNotOptimize(numericValue(text));
}
BENCHMARK(BM_NumericValue);

// One whole pass of the driver's engine over a script of frames and zero delays (no waiting),
// the text scanned character by character as a scene plays it.
void BM_EngineScan(benchmark::State& state) {
  const int actions = static_cast<int>(state.range(0));
  QString script;
  for (int i = 0; i < actions; ++i)
    script += QStringLiteral("\r\n") + frameText(512, i) + QStringLiteral("\r\n!T000000'100mS");
  ManualClock clock;
  Scheduler scheduler(clock);
  TextBox box, data;
  Label label;
  Timer timdelay(scheduler, 100, true);
  DriverPlayback engine(
      scheduler,
      DriverPlayback::Window{
          {&box, &data, &label, &timdelay, [] { return 512.0; }}, [] {}, [] { return 0; }});
  timdelay.onTimer = [&] { engine.timdelay_Timer(); };
  box.setText(script);
  for (auto _ : state) {
    engine.Command5_Click();
    while (engine.running()) scheduler.runOnce();
  }
  state.SetBytesProcessed(state.iterations() * script.size() * 2);
}
BENCHMARK(BM_EngineScan)->Arg(100)->Arg(1000);

// What the user waits for after "调试状态": the editor loaded with the driver's levels on its
// faders, and its window built and shown.
void BM_EditorOpen(benchmark::State& state) {
  Driver fixture({{QStringLiteral("发送数据长度"), QStringLiteral("512")}});
  Form1& driver = fixture.load();
  driver.Text7.setText(frameText(512, 9));
  for (auto _ : state) {
    driver.Command3_Click();
    auto view = std::make_unique<Form3View>(driver.editor());
    view->show();
    QApplication::processEvents();
    state.PauseTiming();
    view.reset();
    driver.editor().Unload();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_EditorOpen)->Unit(benchmark::kMillisecond);

// A catalogue of about range(0) MiB with the scene looked up on its last line, edited a while
// ago (the stamp of a file written the moment before is not trusted).
class LargeCatalogue {
 public:
  explicit LargeCatalogue(qint64 mebibytes) {
    QByteArray text = "[DMX]\r\n";
    const qint64 size = mebibytes * 1024 * 1024 - 64;
    for (int i = 0; text.size() < size; ++i)
      text += "Scene" + QByteArray::number(i) + "=DMX001,002,003,004,\r\n";
    text += "Last=DMX009,008,007,006,\r\n";
    QFile f(path());
    if (f.open(QIODevice::WriteOnly)) f.write(text);
    setTime(QDateTime(QDate(2015, 9, 19), QTime(12, 0)));
  }
  QString folder() const { return dir_.path(); }
  QString path() const { return dir_.path() + QStringLiteral("/场景.ini"); }
  void setTime(const QDateTime& time) const {
    QFile f(path());
    if (f.open(QIODevice::ReadWrite)) f.setFileTime(time, QFileDevice::FileModificationTime);
  }

 private:
  QTemporaryDir dir_;
};

// A scene change with the catalogue unchanged since the last one: the driver asks a new
// SceneCatalogue each time, as Form1::Text1_Change does.
void BM_SceneLookupUnchangedCatalogue(benchmark::State& state) {
  const LargeCatalogue catalogue(state.range(0));
  const QString wanted = QStringLiteral("Last");
  benchmark::DoNotOptimize(SceneCatalogue(catalogue.folder()).lookup(wanted));
  for (auto _ : state) benchmark::DoNotOptimize(SceneCatalogue(catalogue.folder()).lookup(wanted));
}
BENCHMARK(BM_SceneLookupUnchangedCatalogue)->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond);

// The first scene change after the catalogue was edited: read and decoded again.
void BM_SceneLookupChangedCatalogue(benchmark::State& state) {
  const LargeCatalogue catalogue(state.range(0));
  const QString wanted = QStringLiteral("Last");
  QDateTime time(QDate(2015, 9, 19), QTime(12, 0));
  for (auto _ : state) {
    state.PauseTiming();
    time = time.addSecs(60);
    catalogue.setTime(time);
    state.ResumeTiming();
    benchmark::DoNotOptimize(SceneCatalogue(catalogue.folder()).lookup(wanted));
  }
}
BENCHMARK(BM_SceneLookupChangedCatalogue)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
