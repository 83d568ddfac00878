// SPX between two stacks over a veth pair: the bytes one connection carries
// per second, and the memory that ten open connections cost. Run as root or
// inside `unshare -rn` (it makes its own veth pair there).
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"

namespace {

long resident_kb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

struct Pair {
  ipx_test::Lan lan;
  std::unique_ptr<ipx::Stack> a, b;
  int listener = -1;
  ipx::Address where;
  bool up() {
    if (!lan.up()) return false;
    a = lan.stack(0, ipx::frame_bit(ipx::FrameType::kEthernetII));
    b = lan.stack(1, ipx::frame_bit(ipx::FrameType::kEthernetII));
    if (!a || !b) return false;
    listener = b->socket(ipx::SocketKind::kStream);
    b->listen(listener, 16);
    return b->getsockname(listener, &where) == 0;
  }
  // A connected pair of descriptors: client on a, server on b.
  bool connect(int* c, int* s) {
    *c = a->socket(ipx::SocketKind::kStream);
    if (a->connect(*c, where) != 0) return false;
    *s = b->accept(listener);
    return *s >= 0;
  }
};

void BM_SpxOneConnection(benchmark::State& state) {
  Pair p;
  int c, s;
  if (!p.up() || !p.connect(&c, &s)) {
    state.SkipWithError("no veth pair or stacks (root or unshare -rn)");
    return;
  }
  const size_t kBytes = 8 << 20;
  std::vector<char> buf(64 * 1024, 'x');
  for (auto _ : state) {
    std::thread reader([&] {
      size_t got = 0;
      std::vector<char> in(64 * 1024);
      while (got < kBytes) {
        ssize_t n = ::recv(s, in.data(), in.size(), 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
      }
    });
    for (size_t sent = 0; sent < kBytes;) {
      ssize_t n = ::send(c, buf.data(), std::min(buf.size(), kBytes - sent),
                         MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    reader.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
  p.a->close(c);
  p.b->close(s);
}
BENCHMARK(BM_SpxOneConnection)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SpxTenConnectionsMemory(benchmark::State& state) {
  Pair p;
  if (!p.up()) {
    state.SkipWithError("no veth pair or stacks (root or unshare -rn)");
    return;
  }
  for (auto _ : state) {
    long before = resident_kb();
    int c[10], s[10];
    std::vector<char> chunk(100 * 1024, 'y');
    for (int i = 0; i < 10; ++i) {
      if (!p.connect(&c[i], &s[i])) {
        state.SkipWithError("connect failed");
        return;
      }
      // Fill each connection's buffers: nobody reads on the far side.
      ::send(c[i], chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    state.counters["extra_kB"] = static_cast<double>(resident_kb() - before);
    for (int i = 0; i < 10; ++i) {
      p.a->close(c[i]);
      p.b->close(s[i]);
    }
  }
}
BENCHMARK(BM_SpxTenConnectionsMemory)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  tav_test::enter_private_network();  // the veth pair stays in there
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
