// The IPX discovery side of the simulated units (and file servers): the
// locator reply on socket 0x8449, SAP responses on socket 0x0452, and the
// WDX description service over SPX. Under the platform's IPX-over-IPv4
// mapping these are UDP ports 33865 and 1106 and a TCP port per unit.
//
// The two UDP listeners are bound to INADDR_ANY with SO_REUSEADDR, so the
// broadcasts of the program reach them (and several simulators can run on
// one host); each answer is sent from the answering unit's own address
// (IP_PKTINFO), which is what the program reads as the unit's node. Each
// unit's WDX listener is bound to the unit's address. The units of one
// simulator answer a broadcast spread over a few milliseconds, as units on
// a wire would, so that hundreds of answers do not overrun the receiver.
// In Ethernet frames (sim/ipx_units.h) each unit has its own stack and
// node, and its own sockets on it.
// See sim/README.md, section "IPX side", for the keys.
#ifndef TAV_SIM_IPX_SIDE_H_
#define TAV_SIM_IPX_SIDE_H_

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/config.h"

namespace sim {

class IpxSide {
 public:
  explicit IpxSide(const Config& config);
  ~IpxSide();
  IpxSide(const IpxSide&) = delete;
  IpxSide& operator=(const IpxSide&) = delete;

  // Binds the sockets and starts the side's thread; false with a message
  // in *error when a socket cannot be had. Nothing to play: true.
  bool start(std::string* error);
  void stop();
  // Number of entities this side plays.
  int size() const;
  // Description requests answered so far.
  int descriptions_served() const { return served_.load(); }
  // The most WDX connections that were open at once.
  int max_open_connections() const { return max_open_.load(); }

  struct Unit;
  struct Loop;

 private:
  Config config_;
  std::vector<std::shared_ptr<Unit>> units_;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::atomic<int> max_open_{0};
};

}  // namespace sim

#endif  // TAV_SIM_IPX_SIDE_H_
