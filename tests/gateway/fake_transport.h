// An in-memory peer for the gateway's endpoints. It delivers a script of
// chunks, each "arriving" only after the endpoint has used up the previous
// one and waited; an empty chunk stands for one wait that brings nothing.
// After the script it closes or stays silent. What is sent to it is kept.
// Waits take no real time: a quiet wait advances the peer's clock.
#ifndef TAV_TESTS_GATEWAY_FAKE_TRANSPORT_H_
#define TAV_TESTS_GATEWAY_FAKE_TRANSPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gateway/session.h"

namespace fake {

struct Peer {
  std::vector<std::string> script;
  bool close_at_end = true;
  size_t takes = SIZE_MAX;  // bytes it reads before it stops reading
  std::string sent;
  std::vector<int> wait_timeouts;
  int64_t clock_ms = 1000000;
  int64_t ms_per_chunk = 0;   // time each chunk takes to arrive
  size_t chunk = 0, pos = 0;  // position in the script
  bool ready = false;
};

// Registers a peer and returns the socket that stands for it (other
// sockets stay real).
net::Socket attach(Peer* peer);
void detach(net::Socket s);

// A session record wired to two peers, its unit side already connected;
// run_machines() steps both machines as the session loop does.
void wire_session(GatewaySession* s, Peer* browser, Peer* unit);
void unwire_session(GatewaySession* s);
int run_machines(GatewaySession* s);

std::vector<std::string> split_at(const std::string& text, size_t offset);
std::vector<std::string> single_bytes(const std::string& text);

}  // namespace fake

#endif  // TAV_TESTS_GATEWAY_FAKE_TRANSPORT_H_
