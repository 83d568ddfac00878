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

#include "discovery/units.h"
#include "gateway/listener.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sim/config.h"
#include "sim/sides.h"
#include "tests/gateway/harness.h"
#include "tests/support/netns.h"

namespace {

constexpr uint16_t kUnitPort = 8080;

struct Timing {
  double to_first_byte = 0;  // seconds from connect to the first byte
  double transfer = 0;       // seconds from the first byte to the close
};

double since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t)
      .count();
}

// Fetches a path and returns the bytes received (headers included).
size_t fetch(uint16_t port, const std::string& path, Timing* timing = nullptr) {
  auto start = std::chrono::steady_clock::now();
  int s = harness::connect_to(port);
  if (s < 0) return 0;
  std::string req = "GET " + path + " HTTP/1.0\r\n\r\n";
  ::send(s, req.data(), req.size(), MSG_NOSIGNAL);
  static thread_local char buf[1 << 16];
  size_t total = 0;
  std::chrono::steady_clock::time_point first;
  for (ssize_t n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;) {
    if (total == 0) first = std::chrono::steady_clock::now();
    total += static_cast<size_t>(n);
  }
  if (timing != nullptr && total > 0) {
    timing->to_first_byte +=
        std::chrono::duration<double>(first - start).count();
    timing->transfer += since(first);
  }
  ::close(s);
  return total;
}

long peak_rss_kb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

void relay(benchmark::State& state, uint16_t port, const char* path) {
  size_t bytes = 0;
  Timing timing;
  for (auto _ : state) {
    size_t n = fetch(port, path, &timing);
    if (n == 0) state.SkipWithError("fetch failed");
    bytes += n;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  // The gateway answers only after the browser has been quiet for one wait
  // (0.5 s): the relay itself is measured from the first byte on.
  double n = static_cast<double>(state.iterations());
  state.counters["first_byte_ms"] = timing.to_first_byte * 1000 / n;
  state.counters["relay_MB/s"] =
      static_cast<double>(bytes) / 1e6 / timing.transfer;
}

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
  size_t bytes = 0;
  for (auto _ : state) {
    std::vector<std::thread> t;
    std::vector<size_t> got(10);
    for (int i = 0; i < 10; ++i)
      t.emplace_back([&, i] {
        got[i] =
            fetch(34, i % 2 ? "/VEM_1-HTML/big.htm" : "/VEM_1-HTML/big.bin");
      });
    for (auto& x : t) x.join();
    for (size_t g : got) bytes += g;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["peak_rss_MB"] = static_cast<double>(peak_rss_kb()) / 1024.0;
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
  tav_test::enter_private_network();
  if (!tav_test::in_private_network()) {
    std::fprintf(stderr, "no private network namespace: %s\n",
                 tav_test::private_network_problem().c_str());
    return 1;
  }
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
  char dir[] = "/tmp/tav-gw-bench-XXXXXX";
  if (::mkdtemp(dir) == nullptr || ::chdir(dir) != 0) return 1;
  std::thread([] { gateway_listener(); }).detach();
  Sleep(300);
  std::fprintf(stderr, "peak RSS before the benchmarks: %ld kB\n",
               peak_rss_kb());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove("address");
  ::chdir("/");
  ::rmdir(dir);
  return 0;
}
