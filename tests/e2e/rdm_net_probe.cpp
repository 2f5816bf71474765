// RDM through an output named as 端口 names it, for the end-to-end tests against olad:
//   rdm_net_probe PORT discover|update              one line of JSON per device found (update:
//                                                   the interface's incremental search)
//   rdm_net_probe PORT set UID address|personality|identify N   the device after the change
// Exits 1 when a step fails, with the reason on stderr.
#include <QCoreApplication>
#include <QJsonDocument>
#include <cstdio>

#include "clock.h"
#include "output_factory.h"
#include "rdm_controller.h"
#include "rdm_device.h"
#include "scheduler.h"
#include "scheduler_pump.h"

using namespace luvrin;

namespace {

void fail(const QString& why) {
  std::fprintf(stderr, "%s\n", qPrintable(why));
  QCoreApplication::exit(1);
}

void print(const rdm::Device& d) {
  std::printf("%s\n", QJsonDocument(rdm::toJson(d, true)).toJson(QJsonDocument::Compact).data());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 3) return 2;
  SteadyClock clock;
  Scheduler scheduler(clock);
  SchedulerPump pump(scheduler);
  SerialConfiguration settings;
  settings.port = args[1];
  OutputChoice choice = makeOutput(settings, scheduler, {});
  rdm::Transport* transport = choice.output->rdm();
  if (!transport) {
    std::fprintf(stderr, "%s\n", qPrintable(choice.output->rdmRefusal()));
    return 1;
  }
  rdm::Controller controller(scheduler, *transport, {0x7ff0, 0x00000077});
  rdm::DeviceReader reader(controller);
  rdm::DeviceWriter writer(controller);
  std::vector<rdm::Uid> toRead;
  std::function<void()> readNext = [&] {
    if (toRead.empty()) return QCoreApplication::exit(0);
    const rdm::Uid uid = toRead.back();
    toRead.pop_back();
    reader.read(uid, [&](rdm::Device d) {
      print(d);
      readNext();
    });
  };
  if (args[2] == QStringLiteral("discover") || args[2] == QStringLiteral("update")) {
    const bool full = args[2] == QStringLiteral("discover");
    transport->findDevices(full, [&](rdm::Transport::Found found) {
      if (found.failed) return fail(found.error);
      toRead.assign(found.devices.rbegin(), found.devices.rend());
      readNext();
    });
  } else if (args[2] == QStringLiteral("set") && args.size() == 6) {
    const auto uid = rdm::Uid::parse(args[3]);
    if (!uid) return 2;
    rdm::DeviceWriter::Change change;
    const int value = args[5].toInt();
    if (args[4] == QStringLiteral("address")) change.address = value;
    if (args[4] == QStringLiteral("personality")) change.personality = value;
    if (args[4] == QStringLiteral("identify")) change.identify = value != 0;
    reader.read(*uid, [&, change](rdm::Device d) {
      if (const auto why = rdm::DeviceWriter::refusal(d, change)) return fail(*why);
      writer.apply(d, change, [](rdm::Device after, rdm::Outcome o) {
        if (!o.ok()) return fail(o.text());
        print(after);
        QCoreApplication::exit(0);
      });
    });
  } else {
    return 2;
  }
  return app.exec();
}
