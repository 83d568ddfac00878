// How long one IP discovery takes on the test network (host, a subnet of
// units, a router to a second subnet of units, a RIP responder), with 5 and
// with 200 simulated units split over the two subnets. Needs root for the
// network namespaces; run: build/release/ip_discovery_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/test_network.h"
#include "discovery/driver.h"
#include "tests/support/netns.h"

namespace {

using tav_test::TwoSubnetNetwork;

// One network per unit count, kept for all iterations.
TwoSubnetNetwork* network_with(int units) {
  static std::map<int, std::unique_ptr<TwoSubnetNetwork>> networks;
  auto& slot = networks[units];
  if (slot) return slot.get();
  networks.clear();  // one network at a time: they share addresses
  auto& fresh = networks[units];
  fresh = std::make_unique<TwoSubnetNetwork>();
  TwoSubnetNetwork& n = *fresh;
  const std::string subnets[2] = {TwoSubnetNetwork::kSubnetA,
                                  TwoSubnetNetwork::kSubnetB};
  const std::string hosts[2] = {n.units_a, n.units_b};
  for (int s = 0; s < 2; ++s) {
    int here = s == 0 ? (units + 1) / 2 : units / 2;
    n.add_addresses(hosts[s], "eth0", subnets[s], 20, here);
    std::vector<std::string> args;
    for (int i = 0; i < here; ++i) {
      char hw[32];
      int number = (s * 1000 + i + 1) * 8;
      std::snprintf(hw, sizeof hw, "00-40-AF-%02X-%02X-%02X",
                    (number >> 16) & 0xFF, (number >> 8) & 0xFF, number & 0xFF);
      args.push_back("--unit");
      args.push_back("name=U" + std::to_string(s) + "_" + std::to_string(i) +
                     ",ip=" + subnets[s] + "." + std::to_string(20 + i) +
                     ",hw=" + hw);
    }
    n.start_sim(hosts[s], args);
  }
  n.start_sim(n.rip,
              {"--router",
               std::string("ip=") + TwoSubnetNetwork::kRipAddress +
                   ",version=1,routes=" + TwoSubnetNetwork::kSubnetB + ".0/1"});
  return fresh.get();
}

void BM_IpDiscovery(benchmark::State& state) {
  const int units = static_cast<int>(state.range(0));
  TwoSubnetNetwork* network = network_with(units);
  if (!network->ok()) {
    state.SkipWithError(network->problem().c_str());
    return;
  }
  int found = 0;
  for (auto _ : state) found = discover_units_using_ip(2);
  state.counters["units_found"] = found;
  if (found != units) state.SkipWithError("not every unit was found");
}
BENCHMARK(BM_IpDiscovery)
    ->Arg(5)
    ->Arg(200)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  tav_test::enter_private_network();
  if (!tav_test::can_make_test_hosts()) {
    std::fprintf(stderr, "ip_discovery_bench: needs root (ip netns)\n");
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
