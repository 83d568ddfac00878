// Fetching pages through the gateway (or straight from a unit) on the
// loopback, for the gateway benchmarks: bytes, time to the first byte and
// relay speed.
#ifndef TAV_BENCH_RELAY_H_
#define TAV_BENCH_RELAY_H_

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "gateway/listener.h"
#include "platform/threads.h"
#include "tests/gateway/harness.h"
#include "tests/support/netns.h"

namespace bench_relay {

struct Timing {
  double to_first_byte = 0;  // seconds from connect to the first byte
  double transfer = 0;       // seconds from the first byte to the close
};

inline double since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t)
      .count();
}

// Fetches a path and returns the bytes received (headers included).
inline size_t fetch(uint16_t port, const std::string& path,
                    Timing* timing = nullptr) {
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

inline long peak_rss_kb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

inline void relay(benchmark::State& state, uint16_t port, const char* path) {
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

// Ten sessions at once, half of them fetching `bin`, half `htm`; reports
// the process's peak memory.
inline void ten_sessions(benchmark::State& state, const char* bin,
                         const char* htm) {
  long before = peak_rss_kb();
  size_t bytes = 0;
  for (auto _ : state) {
    std::vector<std::thread> t;
    std::vector<size_t> got(10);
    for (int i = 0; i < 10; ++i)
      t.emplace_back([&, i] { got[i] = fetch(34, i % 2 ? htm : bin); });
    for (auto& x : t) x.join();
    for (size_t g : got) bytes += g;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["peak_rss_MB"] = static_cast<double>(peak_rss_kb()) / 1024.0;
  state.counters["peak_rss_growth_MB"] =
      static_cast<double>(peak_rss_kb() - before) / 1024.0;
}

// Enters a private network namespace; false (with a message) when none.
inline bool enter_network() {
  tav_test::enter_private_network();
  if (tav_test::in_private_network()) return true;
  std::fprintf(stderr, "no private network namespace: %s\n",
               tav_test::private_network_problem().c_str());
  return false;
}

// Starts the gateway in a scratch folder and runs the benchmarks.
inline int run_with_gateway(int argc, char** argv) {
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
  if (::chdir("/") == 0) ::rmdir(dir);
  return 0;
}

}  // namespace bench_relay

#endif  // TAV_BENCH_RELAY_H_
