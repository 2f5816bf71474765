// Discovery through the USB Pro output to responders behind the stand-in widget of the unit
// tests, on virtual time with a line's timing (2.8 ms a discovery request, 3 ms any other, the
// answer read on the next millisecond): the time a full discovery takes, its DUB requests against
// the least a binary search needs, and the longest gap between the DMX frames sent to the widget
// meanwhile (frames of 512 levels offered every millisecond, 44 a second on the line's grid; the
// USB side at about a megabyte a second).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "discovery.h"
#include "output_link.h"
#include "pids.h"
#include "source_uid.h"
#include "support/scripted_widget.h"
#include "support/virtual_time.h"
#include "usb_pro_output.h"

using namespace luvrin;
using namespace std::chrono_literals;

int main() {
  std::printf(
      "| responders | found | time (s) | DUB | least DUB | mutes | longest frame gap (ms) | "
      "address set and read back (ms) |\n|---|---|---|---|---|---|---|---|\n");
  for (const int n : {1, 8, 32, 100}) {
    ManualClock clock;
    VirtualScheduler scheduler(clock);
    testing::ScriptedWidget widget(scheduler);
    widget.line.devices = rdm::sim::consecutive(n);
    widget.modelLine(scheduler, 1'000);  // the USB side: about a megabyte a second
    UsbProOutput output(scheduler, widget);
    FrameSender sender(output);
    sender.setFrame(std::vector<std::uint8_t>(512, 7));
    output.open();
    Timer frames(scheduler, 1, true, [&] { sender.tick(); });
    scheduler.advanceBy(100ms);
    rdm::Controller controller(scheduler, *output.rdm(), {rdm::kOwnManufacturer, 1});
    rdm::Discovery discovery(controller);
    std::optional<rdm::Discovery::Result> result;
    const std::size_t first = widget.dmxAtNs.size();
    discovery.run(true, {}, [&](const rdm::Discovery::Result& r) { result = r; });
    while (!result) scheduler.advanceTo(clock.tickCount() + 1);
    // No gap to measure when the discovery ends within one frame interval.
    std::int64_t longest = -1;
    for (std::size_t i = first + 1; i < widget.dmxAtNs.size(); ++i)
      longest = std::max(longest, widget.dmxAtNs[i] - widget.dmxAtNs[i - 1]);
    std::vector<std::uint64_t> uids;
    for (const auto& d : widget.line.devices) uids.push_back(d.uid.value());

    // A start address set on the last device and read back, as the devices window does.
    const rdm::Uid last = widget.line.devices.back().uid;
    const std::int64_t setAt = clock.tickCount();
    QByteArray address;
    rdm::putBe16(address, 101);
    std::optional<rdm::Outcome> readBack;
    controller.set(last, 0, rdm::kDmxStartAddress, address, [&](rdm::Outcome) {
      controller.get(last, 0, rdm::kDmxStartAddress, {},
                     [&](rdm::Outcome o) { readBack = std::move(o); });
    });
    while (!readBack) scheduler.advanceTo(clock.tickCount() + 1);
    const bool set = readBack->ok() && readBack->data == address;

    const QByteArray gap =
        longest < 0 ? QByteArray("no frame between") : QByteArray::number(longest / 1e6, 'f', 1);
    std::printf("| %d | %zu | %.2f | %lld | %lld | %lld | %s | %lld%s |\n", n,
                result->devices.size(), result->elapsedMs / 1000.0,
                static_cast<long long>(result->branchRequests),
                static_cast<long long>(rdm::sim::leastBranches(uids, 0, rdm::Uid::kMax)),
                static_cast<long long>(result->muteRequests), gap.constData(),
                static_cast<long long>(clock.tickCount() - setAt), set ? "" : " (not set)");
  }
}
