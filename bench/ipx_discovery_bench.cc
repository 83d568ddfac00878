// Run time of one IPX discovery run (broadcast path: presence probe,
// locator collection, two SAP passes, probes, final sleep) against 5 and
// 400 simulated units on the loopback of a private network namespace.
#include <benchmark/benchmark.h>

#include <string>

#include "discovery/ipx/ipx_discovery.h"
#include "sim/ipx_side.h"
#include "tests/support/netns.h"
#include "units/units.h"

namespace {

void BM_IpxDiscovery(benchmark::State& state) {
  if (!tav_test::in_private_network()) {
    state.SkipWithError("no private network namespace");
    return;
  }
  int units = static_cast<int>(state.range(0));
  sim::Config config;
  for (int i = 0; i < units; ++i) {
    sim::Entity e;
    e.kind = "unit";
    e.options = {{"name", "VEM_" + std::to_string(100000 + i)},
                 {"ip", "127.0." + std::to_string(2 + i / 200) + "." +
                            std::to_string(1 + i % 200)},
                 {"ipx", "on"},
                 {"desc", "Bench unit " + std::to_string(i)}};
    config.entities.push_back(e);
  }
  sim::IpxSide side(config);
  std::string error;
  if (!side.start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  int found = 0;
  for (auto _ : state) {
    DiscoveryRun run;
    found = discover_units_using_ipx();
  }
  state.counters["units_found"] = found;
  state.counters["described"] = side.descriptions_served();
}
BENCHMARK(BM_IpxDiscovery)
    ->Arg(5)
    ->Arg(400)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  tav_test::enter_private_network();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
