// In-memory peers for the gateway's endpoints (under a QuietGateway, per
// thread): each plays a script of chunks (an empty one: a quiet wait), keeps
// what it is sent, and waits on its own clock.
#ifndef TAV_TESTS_GATEWAY_FAKE_TRANSPORT_H_
#define TAV_TESTS_GATEWAY_FAKE_TRANSPORT_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gateway/endpoint.h"
#include "gateway/refresh.h"
#include "gateway/session.h"
#include "platform/environment.h"
#include "platform/threads.h"

namespace fake {

struct Peer {
  std::vector<std::string> script;
  bool close_at_end = true;
  // Bytes it reads until its next wait, and (trickle) the more it reads per
  // 3 s wait; with no trickle it stops reading when the credit is spent.
  size_t credit = SIZE_MAX, trickle = 0;
  std::string sent;
  std::vector<int> wait_timeouts;
  int64_t clock_ms = 1000000, ms_per_chunk = 0;  // per chunk to arrive
  bool streams = false, ready = false;  // streams: no waits between chunks
  size_t chunk = 0, pos = 0;            // position in the script
  bool at_end() const { return chunk >= script.size(); }
};

namespace detail {

inline thread_local std::map<net::Socket, Peer*> t_peers;
inline thread_local net::Socket t_next = 1 << 20;

inline Peer* find(net::Socket s) {
  return t_peers.contains(s) ? t_peers[s] : nullptr;
}

inline int would_block() {
  return net::WSASetLastError(net::WSAEWOULDBLOCK), net::SOCKET_ERROR;
}

inline int recv(net::Socket s, void* data, int len) {
  Peer* p = find(s);
  if (p == nullptr) return net::recv(s, data, len);
  if (p->at_end() || !p->ready)
    return p->at_end() && p->close_at_end ? 0 : would_block();
  const std::string& c = p->script[p->chunk];
  size_t n = std::min(static_cast<size_t>(len), c.size() - p->pos);
  std::memcpy(data, c.data() + p->pos, n);
  if ((p->pos += n) == c.size()) {
    ++p->chunk;
    p->pos = 0;
    p->ready = p->streams && !p->at_end() && !p->script[p->chunk].empty();
    if (p->ready) p->clock_ms += p->ms_per_chunk;
  }
  return static_cast<int>(n);
}

inline int wait_readable(net::Socket s, int timeout_ms) {
  Peer* p = find(s);
  if (p == nullptr) return net::wait_readable(s, timeout_ms);
  p->wait_timeouts.push_back(timeout_ms);
  bool quiet = p->at_end() ? !p->close_at_end : p->script[p->chunk].empty();
  p->clock_ms += quiet ? timeout_ms : p->ms_per_chunk;
  if (quiet && !p->at_end()) ++p->chunk;
  return p->ready = !quiet;
}

// A wait for a that sees at once a peer b that closed after its script.
inline int wait_readable_either(net::Socket a, net::Socket b, int timeout_ms,
                                int* ready) {
  Peer* pb = find(b);
  if (find(a) == nullptr && pb == nullptr)
    return net::wait_readable_either(a, b, timeout_ms, ready);
  if (pb != nullptr && pb->at_end() && pb->close_at_end) {
    *ready = 2;
    return 1;
  }
  int r = wait_readable(a, timeout_ms);
  *ready = r == 1 ? 1 : 0;
  return r;
}

inline int send(net::Socket s, const void* data, int len) {
  Peer* p = find(s);
  if (p == nullptr) return net::send(s, data, len);
  size_t n = std::min(p->credit, static_cast<size_t>(len));
  if (n == 0) return would_block();
  p->credit -= n;
  p->sent.append(static_cast<const char*>(data), n);
  return static_cast<int>(n);
}

inline int wait_writable(net::Socket s, int timeout_ms) {
  Peer* p = find(s);
  if (p == nullptr) return net::wait_writable(s, timeout_ms);
  p->credit += p->trickle;
  p->clock_ms += p->trickle != 0 ? 3000 : p->credit != 0 ? 0 : timeout_ms;
  return p->credit != 0 ? 1 : 0;
}

inline int64_t now(net::Socket s) {
  return find(s) != nullptr ? find(s)->clock_ms : milliseconds_now();
}

inline const net::SocketCalls kSockets = {
    recv, send, wait_readable, wait_writable, wait_readable_either, now};

}  // namespace detail

// Registers a peer and returns the socket that stands for it.
inline net::Socket attach(Peer* peer) {
  peer->ready = !peer->script.empty() && !peer->script[0].empty();
  detail::t_peers[detail::t_next] = peer;
  return detail::t_next++;
}

inline void detach(net::Socket s) { detail::t_peers.erase(s); }

// What a session did with a browser and a unit that play scripts.
struct Outcome {
  Peer browser, unit;
  GatewaySession s;
  std::string to_unit, to_browser;
  int passes = 0;
};

// Steps both machines as the session loop does (unit connected) until the
// session ends; after their scripts the peers close or stay silent.
inline Outcome run_session(std::vector<std::string> request,
                           std::vector<std::string> reply,
                           bool unit_closes = true, int64_t ms_per_chunk = 0,
                           bool streams = false, bool browser_leaves = false) {
  Outcome o;
  GatewaySession& s = o.s;
  std::memset(&s, 0, sizeof s);
  s.in_use = s.running = s.unit.is_unit_side = 1;
  auto connect = [&](Peer& peer, SessionEndpoint& ep,
                     std::vector<std::string>& script, bool closes) {
    peer.ms_per_chunk = ms_per_chunk;
    peer.streams = streams;
    peer.script = std::move(script);
    peer.close_at_end = closes;
    ep.sock = attach(&peer);
    ep.connected = ep.first_wait = 1;
    endpoint_mark_active(&ep);
  };
  connect(o.browser, s.browser, request, browser_leaves);
  connect(o.unit, s.unit, reply, unit_closes);
  for (; s.running == 1; ++o.passes) session_pass(&s);
  flush_buffer(&s.browser);  // as the session end does
  for (auto* ep : {&s.browser, &s.unit}) detach(ep->sock);
  o.to_unit = o.unit.sent;
  o.to_browser = o.browser.sent;
  return o;
}

// For its lifetime: a gateway at 10.0.0.5 with an IPX stack, in-memory
// peers, and refresh requests that start no rediscovery.
struct QuietGateway {
  QuietGateway() {
    refresh_state.store(kRefreshRunning);
    ipx_present.store(1);
  }
  ScopedEnvironment scope{{
      .socket_calls = &detail::kSockets,
      .host_address =
          [](uint32_t* addr) {
            *addr = net::inet_addr("10.0.0.5");
            return true;
          },
      .refresh_work = [] {},
  }};
};

// A session from one byte string, for the fuzz harnesses (under a quiet
// gateway kept for the process): flags (bit 0: the unit closes; bit 1:
// chunks take 400 ms; bit 2: they stream), the browser's bytes, 0xFF, the
// unit's; 0xFE separates chunks.
inline Outcome session_from_bytes(const uint8_t* data, size_t size) {
  static QuietGateway gateway;
  std::vector<std::string> request(size > 0 ? 1 : 0), reply;
  std::vector<std::string>* side = &request;
  for (size_t i = 1; i < size; ++i) {
    bool to_reply = data[i] == 0xFF && side == &request;
    if (to_reply) side = &reply;
    if (to_reply || data[i] == 0xFE)
      side->emplace_back();
    else
      side->back().push_back(static_cast<char>(data[i]));
  }
  int flags = size > 0 ? data[0] : 0;
  return run_session(request, reply, (flags & 1) != 0, (flags & 2) ? 400 : 0,
                     (flags & 4) != 0);
}

inline std::vector<std::string> single_bytes(const std::string& text) {
  std::vector<std::string> out;
  for (char c : text) out.emplace_back(1, c);
  return out;
}

}  // namespace fake

#endif  // TAV_TESTS_GATEWAY_FAKE_TRANSPORT_H_
