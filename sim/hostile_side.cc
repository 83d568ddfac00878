// The hostile unit's sockets: one wildcard UDP server per discovery port
// (SNMP, RIP, SAP, locator) that answers with sim/hostile.h's replies and
// floods every requester it has seen, the WDX description service, and a
// web server for its pages. It sends only to the sources of the requests it
// received and to the broadcast address of its own network.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <utility>

#include "platform/net.h"
#include "platform/threads.h"
#include "sim/hostile.h"
#include "sim/sides.h"
#include "sim/snmp_udp.h"

namespace sim {
namespace {

constexpr size_t kMaxTargets = 64;
constexpr int kRequestWaitMs = 5000;

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The broadcast address of the interface holding ip; 0 when none.
uint32_t broadcast_of(uint32_t ip) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  uint32_t found = 0;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
        !(i->ifa_flags & IFF_BROADCAST) || i->ifa_broadaddr == nullptr)
      continue;
    if (reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr != ip)
      continue;
    found = reinterpret_cast<sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr;
    break;
  }
  freeifaddrs(list);
  return found;
}

class HostileUdp : public UdpServer {
 public:
  HostileUdp(const HostileUnit& unit, uint16_t port)
      : unit_(unit), port_(port), broadcast_(broadcast_of(unit.ip)) {}
  ~HostileUdp() override { stop(); }

  bool start(std::string* error) {
    other_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = unit_.ip;
    if (!other_ ||
        ::bind(other_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      *error = "cannot bind a second UDP socket";
      return false;
    }
    return UdpServer::start(error, port_);
  }

 private:
  void on_datagram(const Datagram& d) override {
    if (d.from_ip == unit_.ip) return;  // our own flood, come back
    auto replies = hostile_replies(unit_, port_, d.data, d.length);
    if (replies.empty()) return;
    for (const HostileDatagram& r : replies) {
      if (!r.other_port) {
        send_from(fd(), unit_.ip, d.from_ip, d.from_port, r.bytes.data(),
                  r.bytes.size());
        continue;
      }
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = d.from_ip;
      to.sin_port = d.from_port;
      ::sendto(other_.get(), r.bytes.data(), r.bytes.size(), 0,
               reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    for (auto it = targets_.begin(); it != targets_.end(); ++it) {
      if (it->ip == d.from_ip && it->port == d.from_port) {
        targets_.erase(it);
        break;
      }
    }
    targets_.push_back({d.from_ip, d.from_port});
    if (targets_.size() > kMaxTargets) targets_.pop_front();
    if (next_flood_ == 0) next_flood_ = now_ms() + unit_.flood_ms;
  }

  int timer_ms() override {
    if (unit_.flood_ms <= 0 || targets_.empty()) return -1;
    int64_t wait = next_flood_ - now_ms();
    return wait < 0 ? 0 : static_cast<int>(wait);
  }

  void on_timer() override {
    if (unit_.flood_ms <= 0 || targets_.empty() || now_ms() < next_flood_)
      return;
    std::vector<uint8_t> junk = hostile_junk(junk_++);
    for (const Target& t : targets_) {
      send_from(fd(), unit_.ip, t.ip, t.port, junk.data(), junk.size());
      if (broadcast_ != 0)
        send_from(fd(), unit_.ip, broadcast_, t.port, junk.data(), junk.size());
    }
    next_flood_ = now_ms() + unit_.flood_ms;
  }

  struct Target {
    uint32_t ip;
    uint16_t port;
  };
  HostileUnit unit_;
  uint16_t port_;
  uint32_t broadcast_;
  net::OwnedSocket other_;      // closed after stop()
  std::deque<Target> targets_;  // most recent last
  int64_t next_flood_ = 0;
  unsigned junk_ = 0;
};

std::atomic<unsigned> g_descriptions{0};

// Reads the description request (any 4 bytes) and answers with the next of
// the hostile description replies.
void serve_description(net::OwnedSocket c) {
  uint8_t request[4];
  int got = 0;
  while (got < 4 && net::wait_readable(c.get(), kRequestWaitMs) == 1) {
    int n = net::recv(c.get(), request + got, 4 - got);
    if (n <= 0) break;
    got += n;
  }
  if (got == 4) {
    std::vector<uint8_t> r = hostile_description(g_descriptions++);
    net::send(c.get(), r.data(), static_cast<int>(r.size()));
  }
}

bool start_description_service(const HostileUnit& unit) {
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_STREAM_, 0));
  if (!s) return false;
  net::setsockopt_int(s.get(), net::SockOpt::kReuseAddr, 1);
  if (net::bind(s.get(), net::make_addr_in(unit.ip, unit.wdx)) != 0 ||
      net::listen(s.get(), 64) != 0) {
    std::fprintf(stderr, "tav-sim: hostile: cannot listen on port %u\n",
                 unit.wdx);
    return false;
  }
  return serve_on_thread(std::move(s), [](net::OwnedSocket listener) {
    for (;;) {
      net::OwnedSocket c(net::accept(listener.get()));
      if (c) {
        serve_on_thread(std::move(c), serve_description);
      } else {
        Sleep(10);
      }
    }
  });
}

}  // namespace

bool start_hostile_side(const Config& config) {
  for (const Entity& e : config.entities) {
    if (e.kind != "hostile") continue;
    HostileUnit unit;
    std::string error;
    if (!hostile_unit_from_entity(e, &unit, &error)) {
      std::fprintf(stderr, "tav-sim: %s\n", error.c_str());
      return false;
    }
    WebUnitOptions web;
    web.name = unit.name;
    web.pages = [unit](const std::string& path) {
      return make_hostile_web_reply(unit, path);
    };
    // One hostile unit per simulator; its servers live as long as the
    // process.
    static std::vector<std::unique_ptr<HostileUdp>> servers;
    for (int port : {161, 520, 0x0452, 0x8449}) {
      servers.push_back(
          std::make_unique<HostileUdp>(unit, static_cast<uint16_t>(port)));
      if (!servers.back()->start(&error)) {
        std::fprintf(stderr, "tav-sim: hostile: %s\n", error.c_str());
        return false;
      }
    }
    return start_description_service(unit) &&
           start_web_server(web, unit.ip, unit.http);
  }
  return true;
}

}  // namespace sim
