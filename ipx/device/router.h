// An IPX router over devices, for tests and the simulator: each of its
// networks is a frame type on a device (one wire may carry several, one
// network per type). It forwards packets sent to its MAC for another of its
// networks (transport control raised by one, dropped at 16), answers RIP
// requests and broadcasts its table every 60 s on each network (split
// horizon), and answers SAP queries with the servers it heard on its other
// networks (their announcements and answers: it asks at the start and every
// 60 s, and when a query finds none, at most once a second), one hop
// further, so it may start before or after the servers. Its routes all
// cost `ticks` per hop, so that two routers to one network can differ. No
// clock or thread inside: the owner calls poll(). Not thread-safe.
#ifndef TAV_IPX_DEVICE_ROUTER_H_
#define TAV_IPX_DEVICE_ROUTER_H_

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "ipx/device/device.h"
#include "ipx/wire/frame.h"
#include "ipx/wire/sap.h"

namespace ipx {

struct RouterPort {
  Device* device = nullptr;
  FrameType type = FrameType::kEthernetII;
  NetworkNumber network{};
};

class Router {
 public:
  static constexpr int64_t kBroadcastEveryMs = 60 * 1000;
  static constexpr int64_t kAskEmptyEveryMs = 1000;

  Router(const Mac& mac, std::vector<RouterPort> ports, uint16_t ticks = 1);

  void poll(int64_t now);
  const Mac& mac() const { return mac_; }
  // Packets passed on between networks so far.
  size_t forwarded() const { return forwarded_; }

 private:
  struct Heard {
    SapEntry entry;  // its address is the server's own
    size_t port = 0;
  };
  void handle(size_t port, const Frame& f);
  void send(size_t port, const Address& to, const Mac& mac, uint8_t type,
            uint16_t socket, std::span<const uint8_t> data);
  void answer_rip(size_t port, const Frame& f);
  void broadcast_rip(size_t port);
  void ask_servers(size_t port);
  void answer_sap(size_t port, const Frame& f);
  void forward(const Frame& f);

  const Mac mac_;
  std::vector<RouterPort> ports_;
  const uint16_t ticks_;
  std::map<std::pair<std::string, uint16_t>, Heard> servers_;  // name, type
  int64_t next_broadcast_ = 0;
  int64_t now_ = 0, next_ask_ = 0;
  size_t forwarded_ = 0;
};

}  // namespace ipx

#endif  // TAV_IPX_DEVICE_ROUTER_H_
