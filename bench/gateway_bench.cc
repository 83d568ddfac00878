// Relay speed of the gateway on loopback, inside a private network
// namespace: a 20 MB binary and a 5 MB HTML page (six links per line)
// fetched through the gateway on port 34 and directly from the simulated
// unit, and the process's peak memory while 10 sessions relay at once.
// Run: build/release/gateway_bench (as root, or where user namespaces work).
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/relay.h"
#include "gateway/listener.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sim/config.h"
#include "sim/sides.h"
#include "tests/gateway/harness.h"
#include "tests/support/netns.h"
#include "units/units.h"

namespace {

using bench_relay::relay;

constexpr uint16_t kUnitPort = 8080;

void BM_Direct_Binary20MB(benchmark::State& s) {
  relay(s, kUnitPort, "/big.bin");
}
void BM_Gateway_Binary20MB(benchmark::State& s) {
  relay(s, 34, "/VEM_1-HTML/big.bin");
}
void BM_Direct_Html5MB(benchmark::State& s) { relay(s, kUnitPort, "/big.htm"); }
void BM_Gateway_Html5MB(benchmark::State& s) {
  relay(s, 34, "/VEM_1-HTML/big.htm");
}

void BM_Gateway_TenSessions(benchmark::State& state) {
  bench_relay::ten_sessions(state, "/VEM_1-HTML/big.bin",
                            "/VEM_1-HTML/big.htm");
}

BENCHMARK(BM_Direct_Binary20MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Gateway_Binary20MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Direct_Html5MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Gateway_Html5MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Gateway_TenSessions)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  if (!bench_relay::enter_network()) return 1;
  const char* sim_argv[] = {"tav-sim", "--unit",
                            "name=VEM_1,ip=127.0.0.1,http=8080"};
  sim::Config config;
  std::string error;
  if (!sim::parse_command_line(3, const_cast<char**>(sim_argv), &config,
                               &error) ||
      !sim::start_web_side(config))
    return 1;
  IpxUnitRecord unit = harness::unit_record("VEM_1", kUnitPort);
  publish_ipx_units(&unit, 1);
  return bench_relay::run_with_gateway(argc, argv);
}
