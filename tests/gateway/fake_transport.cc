#include "tests/gateway/fake_transport.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "gateway/endpoint.h"
#include "gateway/request_machine.h"
#include "gateway/response_machine.h"
#include "platform/threads.h"

namespace fake {
namespace {

std::mutex g_mutex;
std::map<net::Socket, Peer*> g_peers;
net::Socket g_next = 1 << 20;

Peer* find(net::Socket s) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_peers.find(s);
  return it == g_peers.end() ? nullptr : it->second;
}

int would_block() {
  net::WSASetLastError(net::WSAEWOULDBLOCK);
  return net::SOCKET_ERROR;
}

bool at_end(const Peer* p) { return p->chunk >= p->script.size(); }

int fake_recv(net::Socket s, void* data, int len) {
  Peer* p = find(s);
  if (p == nullptr) return net::recv(s, data, len);
  if (at_end(p)) return p->close_at_end ? 0 : would_block();
  if (!p->ready) return would_block();
  const std::string& c = p->script[p->chunk];
  size_t n = std::min(static_cast<size_t>(len), c.size() - p->pos);
  std::memcpy(data, c.data() + p->pos, n);
  if ((p->pos += n) == c.size()) {
    ++p->chunk;
    p->pos = 0;
    p->ready = false;
  }
  return static_cast<int>(n);
}

int fake_wait_readable(net::Socket s, int timeout_ms) {
  Peer* p = find(s);
  if (p == nullptr) return net::wait_readable(s, timeout_ms);
  p->wait_timeouts.push_back(timeout_ms);
  bool quiet = at_end(p) ? !p->close_at_end : p->script[p->chunk].empty();
  p->clock_ms += quiet ? timeout_ms : p->ms_per_chunk;
  if (!quiet) return p->ready = true;
  if (!at_end(p)) ++p->chunk;
  return 0;
}

int fake_send(net::Socket s, const void* data, int len) {
  Peer* p = find(s);
  if (p == nullptr) return net::send(s, data, len);
  size_t n = std::min(p->takes - std::min(p->takes, p->sent.size()),
                      static_cast<size_t>(len));
  if (n == 0) return would_block();
  p->sent.append(static_cast<const char*>(data), n);
  return static_cast<int>(n);
}

int fake_wait_writable(net::Socket s, int timeout_ms) {
  Peer* p = find(s);
  if (p == nullptr) return net::wait_writable(s, timeout_ms);
  if (p->sent.size() < p->takes) return 1;
  p->clock_ms += timeout_ms;
  return 0;
}

int64_t fake_now(net::Socket s) {
  Peer* p = find(s);
  return p == nullptr ? milliseconds_now() : p->clock_ms;
}

const EndpointTransport kFake = {fake_recv, fake_send, fake_wait_readable,
                                 fake_wait_writable, fake_now};

}  // namespace

net::Socket attach(Peer* peer) {
  set_endpoint_transport(&kFake);
  std::lock_guard<std::mutex> lock(g_mutex);
  peer->ready = !peer->script.empty() && !peer->script[0].empty();
  g_peers[g_next] = peer;
  return g_next++;
}

void detach(net::Socket s) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_peers.erase(s);
}

void wire_session(GatewaySession* s, Peer* browser, Peer* unit) {
  std::memset(s, 0, sizeof *s);
  s->in_use = s->running = 1;
  s->browser.sock = attach(browser);
  s->unit.sock = attach(unit);
  s->browser.connected = s->unit.connected = s->unit.is_unit_side = 1;
  s->browser.first_wait = s->unit.first_wait = 1;
  endpoint_mark_active(&s->browser);
  endpoint_mark_active(&s->unit);
}

void unwire_session(GatewaySession* s) {
  detach(s->browser.sock);
  detach(s->unit.sock);
}

int run_machines(GatewaySession* s) {
  int passes = 0;
  for (; s->running == 1; ++passes) {
    ip2ipx_machine(s);
    if (ipx_present.load() == 1) ipx2ip_machine(s);
  }
  return passes;
}

std::vector<std::string> split_at(const std::string& text, size_t offset) {
  return {text.substr(0, offset), text.substr(offset)};
}

std::vector<std::string> single_bytes(const std::string& text) {
  std::vector<std::string> out;
  for (char c : text) out.emplace_back(1, c);
  return out;
}

}  // namespace fake
