// An in-memory peer for the gateway's endpoints: the bytes it will deliver
// come as a script of chunks, each of which "arrives" only after the
// endpoint has found the previous one used up and waited; an empty chunk
// stands for one wait that brings nothing. After the script the peer
// closes or stays silent. Everything sent to it is kept. Waits take no
// real time: a quiet wait advances the peer's clock by its time-out.
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
  std::vector<int> wait_timeouts;  // every wait_readable, in order
  int64_t clock_ms = 1000000;

  // Internal position in the script.
  size_t chunk = 0;
  size_t pos = 0;
  bool ready = true;
};

// Installs the fake transport (once) and registers a peer; returns the
// socket number that stands for it. Unregistered sockets are real ones.
net::Socket attach(Peer* peer);
void detach(net::Socket s);

// A claimed-like session record wired to two peers: browser side and a
// unit side that is already connected.
void wire_session(GatewaySession* s, Peer* browser, Peer* unit);
void unwire_session(GatewaySession* s);

// Steps both machines as the session loop does until the session dies or
// max_passes is reached; returns the passes made.
int run_machines(GatewaySession* s, int max_passes = 100000);

// Splits text into chunks: at one offset, or into single bytes.
std::vector<std::string> split_at(const std::string& text, size_t offset);
std::vector<std::string> single_bytes(const std::string& text);

}  // namespace fake

#endif  // TAV_TESTS_GATEWAY_FAKE_TRANSPORT_H_
