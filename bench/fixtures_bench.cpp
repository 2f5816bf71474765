// The fixture library: what the program pays to know every installed definition by name, and to
// read one in full when a patch line names it.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

#include "library.h"
#include "platform.h"

namespace {

using luvrin::fixtures::FixtureLibrary;
using luvrin::fixtures::Source;

QString installedFolder() { return luvrin::platform::installedFixtureFolder(QString()); }

// The packed library as Windows ships it (scripts/windows: 驱动/内置灯库.rcc), copied beside
// this program.
QString packedFolder() {
  return FixtureLibrary::packedFolder(luvrin::platform::programFolder(nullptr));
}

void BM_IndexPackedLibrary(benchmark::State& state) {
  if (packedFolder().isEmpty()) {
    state.SkipWithError("no 内置灯库.rcc beside the program");
    return;
  }
  qsizetype entries = 0;
  for (auto _ : state) {
    FixtureLibrary lib({{packedFolder(), Source::Installed}});
    entries = lib.entries().size();
    benchmark::DoNotOptimize(entries);
  }
  state.counters["definitions"] = static_cast<double>(entries);
}
BENCHMARK(BM_IndexPackedLibrary)->Unit(benchmark::kMillisecond);

void BM_IndexInstalledLibrary(benchmark::State& state) {
  if (!QFileInfo(installedFolder()).isDir()) {
    state.SkipWithError("no installed library");
    return;
  }
  qsizetype entries = 0;
  for (auto _ : state) {
    FixtureLibrary lib({{installedFolder(), Source::Installed}});
    entries = lib.entries().size();
    benchmark::DoNotOptimize(entries);
  }
  state.counters["definitions"] = static_cast<double>(entries);
}
BENCHMARK(BM_IndexInstalledLibrary)->Unit(benchmark::kMillisecond);

// Every definition read in full once: what the library test does, and the most a show could ask.
void BM_ReadWholeInstalledLibrary(benchmark::State& state) {
  if (!QFileInfo(installedFolder()).isDir()) {
    state.SkipWithError("no installed library");
    return;
  }
  for (auto _ : state) {
    FixtureLibrary lib({{installedFolder(), Source::Installed}});
    int loaded = 0;
    for (const auto& e : lib.entries()) loaded += lib.definition(e) != nullptr;
    benchmark::DoNotOptimize(loaded);
  }
}
BENCHMARK(BM_ReadWholeInstalledLibrary)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // The three refused files of the package would be warned of at every iteration.
  QLoggingCategory::setFilterRules(QStringLiteral("luvrin.fixtures.warning=false"));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
