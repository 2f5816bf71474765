// Discovery on a simulated line: requests sent against the least a binary search needs, and the
// line time they take (2.8 ms a discovery request, 3 ms any other), for devices of one maker with
// consecutive numbers (the deepest search) and for scattered UIDs.
#include <cstdio>
#include <random>

#include "discovery.h"
#include "rdm/sim_line.h"
#include "source_uid.h"
#include "support/virtual_time.h"

using namespace luvrin;
using namespace luvrin::rdm;

int main() {
  std::printf("%-10s %5s %-9s %6s %6s %6s %6s %9s\n", "uids", "n", "line", "found", "DUB", "least",
              "mute", "line ms");
  for (const bool scattered : {false, true})
    for (const int n : {1, 8, 32, 100})
      for (const bool reported : {true, false}) {
        ManualClock clock;
        VirtualScheduler scheduler(clock);
        sim::Line line;
        line.reportsCollisions = reported;
        line.devices = sim::consecutive(n);
        std::mt19937_64 random(n);
        if (scattered)
          for (auto& d : line.devices) d.uid = Uid::fromValue(random() % Uid::kMax);
        Controller controller(scheduler, line, {kOwnManufacturer, 1});
        Discovery discovery(controller);
        Discovery::Result result;
        discovery.run(true, {}, [&](const Discovery::Result& r) { result = r; });
        scheduler.advanceBy(std::chrono::seconds(600));
        std::vector<std::uint64_t> uids;
        for (const auto& d : line.devices) uids.push_back(d.uid.value());
        std::printf("%-10s %5d %-9s %6zu %6lld %6lld %6lld %9.1f\n",
                    scattered ? "scattered" : "in a row", n, reported ? "reported" : "merged",
                    result.devices.size(), static_cast<long long>(result.branchRequests),
                    static_cast<long long>(sim::leastBranches(uids, 0, Uid::kMax)),
                    static_cast<long long>(result.muteRequests), line.lineMicros / 1000.0);
      }
}
