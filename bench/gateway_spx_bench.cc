// Relay speed of the gateway over SPX in real Ethernet frames beside the
// same over the IPv4 mapping, inside a private network namespace: a 20 MB
// binary and a 5 MB HTML page through the gateway on port 34, and the
// process's peak memory while 10 sessions relay at once. Over the mapping
// the unit is TCP on the loopback; in frames it is a simulated unit with a
// stack of its own on one end of a veth pair, the program's stack on the
// other end (which then holds the host's own address).
// Run: build/release/gateway_spx_bench (as root, or where user namespaces
// work).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"
#include "units/units.h"

namespace {

using bench_relay::relay;

bool start_units(std::vector<std::string> words) {
  words.insert(words.begin(), "tav-sim");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  sim::Config config;
  std::string error;
  return sim::parse_command_line(static_cast<int>(argv.size()), argv.data(),
                                 &config, &error) &&
         sim::start_web_side(config);
}

// Moves the host to IPX in Ethernet frames (once): the veth pair, the
// host's address on its end, the unit on the other.
bool in_frames() {
  static const bool ok = [] {
    ipx_test::Lan* lan = ipx_test::host_lan();
    if (lan == nullptr) return false;
    static auto* ethernet = new ipx_test::ScopedEthernet(lan->name(0));
    if (!ethernet->ok() ||
        !start_units({std::string("--ipx-interface=") + lan->name(1),
                      "--ipx-network=00BEEF01", "--unit",
                      "name=VEM_2,ip=10.79.0.2,ipx=on,http=16385"}))
      return false;
    IpxUnitRecord unit{};
    std::snprintf(unit.name, sizeof unit.name, "VEM_2");
    unit.address.sa_family = net::AF_IPX_;
    const uint8_t address[10] = {0x00, 0xBE, 0xEF, 0x01, 0, 0, 10, 79, 0, 2};
    std::memcpy(unit.address.sa_netnum, address, 10);
    unit.address.sa_socket = net::htons_(16385);
    publish_ipx_units(&unit, 1);
    return true;
  }();
  return ok;
}

// False, with the benchmark skipped, when frames cannot be had.
bool frames_or_skip(benchmark::State& state) {
  if (in_frames()) return true;
  state.SkipWithError("no veth pair or raw frames");
  for (auto _ : state) {
  }
  return false;
}

void BM_Ipv4_Binary20MB(benchmark::State& s) {
  relay(s, 34, "/VEM_1-HTML/big.bin");
}
void BM_Ipv4_Html5MB(benchmark::State& s) {
  relay(s, 34, "/VEM_1-HTML/big.htm");
}
void BM_Spx_Binary20MB(benchmark::State& s) {
  if (frames_or_skip(s)) relay(s, 34, "/VEM_2-HTML/big.bin");
}
void BM_Spx_Html5MB(benchmark::State& s) {
  if (frames_or_skip(s)) relay(s, 34, "/VEM_2-HTML/big.htm");
}
void BM_Spx_TenSessions(benchmark::State& s) {
  if (frames_or_skip(s))
    bench_relay::ten_sessions(s, "/VEM_2-HTML/big.bin", "/VEM_2-HTML/big.htm");
}

void in_ms(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The mapping's runs come first, while the host's own address is still on
// the loopback.
BENCHMARK(BM_Ipv4_Binary20MB)->Apply(in_ms);
BENCHMARK(BM_Ipv4_Html5MB)->Apply(in_ms);
BENCHMARK(BM_Spx_Binary20MB)->Apply(in_ms);
BENCHMARK(BM_Spx_Html5MB)->Apply(in_ms);
BENCHMARK(BM_Spx_TenSessions)->Apply(in_ms)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  if (!bench_relay::enter_network()) return 1;
  ::setenv("TAV_IPX", "ipv4", 1);
  if (!start_units({"--unit", "name=VEM_1,ip=127.0.0.1,http=8080"})) return 1;
  IpxUnitRecord unit = harness::unit_record("VEM_1", 8080);
  publish_ipx_units(&unit, 1);
  return bench_relay::run_with_gateway(argc, argv);
}
