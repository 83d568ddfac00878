#include "sim/ipx_router.h"

#include <poll.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "ipx/device/packet_device.h"
#include "ipx/device/router.h"
#include "sim/ipx_units.h"

namespace sim {
namespace {

struct Played {
  std::map<std::string, std::unique_ptr<ipx::PacketDevice>> devices;
  std::unique_ptr<ipx::Router> router;
};

bool make_router(const Entity& e, Played* p, std::string* error) {
  ipx::Mac mac = {0x02, 0xEE, 0, 0, 0, 0x01};
  if (e.has("ipx-node") && !parse_hex(e.get("ipx-node"), mac.data(), 6)) {
    *error = "bad ipx-node";
    return false;
  }
  std::vector<ipx::RouterPort> ports;
  std::istringstream list(e.get("ports"));
  for (std::string port; std::getline(list, port, ';');) {
    size_t colon = port.find(':'), at = port.find('@');
    ipx::RouterPort r;
    ipx::FrameTypes type =
        colon == std::string::npos
            ? 0
            : ipx::parse_frame_types(port.substr(0, colon).c_str());
    if (at == std::string::npos || at < colon || std::popcount(type) != 1 ||
        !parse_hex(port.substr(colon + 1, at - colon - 1), r.network.data(),
                   4)) {
      *error = "bad port " + port;
      return false;
    }
    r.type = static_cast<ipx::FrameType>(std::countr_zero(type));
    std::string name = port.substr(at + 1);
    auto& device = p->devices[name];
    if (!device) {
      int code = 0;
      device = ipx::PacketDevice::open(name, true, &code);
      if (!device) {
        *error =
            "cannot open " + name + " (error " + std::to_string(code) + ")";
        return false;
      }
    }
    r.device = device.get();
    ports.push_back(r);
  }
  if (ports.empty()) {
    *error = "no ports";
    return false;
  }
  p->router = std::make_unique<ipx::Router>(
      mac, std::move(ports), static_cast<uint16_t>(e.get_number("ticks", 1)));
  return true;
}

void run(Played* p) {
  std::vector<pollfd> fds;
  for (auto& [name, d] : p->devices)
    for (int fd : d->descriptors()) fds.push_back({fd, POLLIN, 0});
  auto t0 = std::chrono::steady_clock::now();
  for (;;) {
    auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    p->router->poll(now.count());
    ::poll(fds.data(), fds.size(), 50);
  }
}

}  // namespace

bool start_ipx_routers(const Config& config) {
  for (const Entity& e : config.entities) {
    if (e.kind != "ipxrouter") continue;
    std::string error;
    auto* played = new Played();  // lives as long as the process
    if (!ipx_in_frames()) error = "IPX routers need TAV_IPX=ethernet";
    if (error.empty() && make_router(e, played, &error)) {
      std::thread(run, played).detach();
      continue;
    }
    std::fprintf(stderr, "tav-sim: IPX router %s: %s\n",
                 e.get("name", "").c_str(), error.c_str());
    return false;
  }
  return true;
}

}  // namespace sim
