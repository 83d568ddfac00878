// tav-sim: plays units (and routers, file servers) for tests and the demo.
// It runs until it is killed or, with --lifetime=SECONDS, for that long.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/threads.h"
#include "sim/config.h"
#include "sim/ipx_router.h"
#include "sim/sides.h"
#include "sim/sim.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

void usage() {
  std::printf(
      "usage: tav-sim [--lifetime=SECONDS] [--ready-file=PATH]\n"
      "               [--KIND key=value,key=value ...]...\n"
      "Plays units on the network it runs in. KIND is unit, router,\n"
      "ipxrouter, fileserver or hostile; see sim/README.md for the keys of\n"
      "each.\n");
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      usage();
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s\n", sim::version());
      return 0;
    }
  }
  sim::Config config;
  std::string error;
  if (!sim::parse_command_line(argc, argv, &config, &error)) {
    std::fprintf(stderr, "tav-sim: %s\n", error.c_str());
    usage();
    return 2;
  }
  std::signal(SIGTERM, on_signal);
  std::signal(SIGINT, on_signal);
  std::signal(SIGPIPE, SIG_IGN);
  if (!sim::start_web_side(config) || !sim::start_snmp_side(config) ||
      !sim::start_rip_side(config) || !sim::start_ipx_side(config) ||
      !sim::start_hostile_side(config) || !sim::start_ipx_routers(config)) {
    return 1;
  }
  auto it = config.globals.find("ready-file");
  if (it != config.globals.end() && !it->second.empty()) {
    if (FILE* f = std::fopen(it->second.c_str(), "w")) std::fclose(f);
  }
  long lifetime = -1;
  it = config.globals.find("lifetime");
  if (it != config.globals.end()) lifetime = std::atol(it->second.c_str());
  int64_t end = lifetime >= 0 ? milliseconds_now() + lifetime * 1000 : -1;
  while (!g_stop && (end < 0 || milliseconds_now() < end)) Sleep(50);
  return 0;
}
