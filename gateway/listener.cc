#include "gateway/listener.h"

#include <atomic>

#include "gateway/session.h"
#include "platform/debug_log.h"
#include "platform/threads.h"
#include "units/gateway_url.h"

namespace {

// When the last browser connection was accepted (seconds_now()).
std::atomic<int64_t> g_last_request{0};

// Connections beyond the free slots wait in the kernel's queue.
constexpr int kBacklog = 64;

enum ListenerState {
  OPEN_LISTENER,
  POLL_LISTENER,
  START_SESSION,
  AWAIT_ACCEPT,
  LISTENER_FAILED,
  BIND_FAILED,
};

// Each action gets the listening socket, which gateway_listener() owns.
int open_listener(net::OwnedSocket& listener) {
  listener.reset(net::socket(net::AF_INET_, net::SOCK_STREAM_, 0));
  if (!listener) {
    report("Error opening socket! Error code = %d\n", net::WSAGetLastError());
    return LISTENER_FAILED;
  }
  if (net::ioctlsocket_fionbio(listener.get(), 1) != 0) return LISTENER_FAILED;
  net::setsockopt_int(listener.get(), net::SockOpt::kReuseAddr, 1);
  if (net::bind(listener.get(), net::make_addr_in(0, kGatewayPort)) != 0)
    return BIND_FAILED;
  net::listen(listener.get(), kBacklog);
  return POLL_LISTENER;
}

// Takes and closes one waiting connection that no session can serve, so
// that it does not keep the listener busy; the others stay queued.
void turn_away(net::Socket listener) {
  net::OwnedSocket(net::accept(listener)).reset();
}

int poll_listener(net::OwnedSocket& listener) {
  // With every slot in use, nothing is accepted until one is free.
  wait_for_free_slot();
  int r = net::wait_readable(listener.get(), 1000);
  if (r < 0) return LISTENER_FAILED;
  return r == 0 ? POLL_LISTENER : START_SESSION;
}

int start_session(net::OwnedSocket& listener) {
  accept_status.store(kAcceptPending);
  net::Socket s = listener.get();
  if (start_detached_thread([s] { gateway_thread(s); })) return AWAIT_ACCEPT;
  turn_away(s);
  return POLL_LISTENER;
}

int await_accept(net::OwnedSocket&) {
  wait_for_accept();
  return POLL_LISTENER;
}

using Action = int (*)(net::OwnedSocket&);
const Action kActions[] = {open_listener, poll_listener, start_session,
                           await_accept};

// One try of session start-up: with budget left it logs, uses one and
// sleeps; false when the budget is spent.
bool retry(int* budget) {
  if (*budget <= 0) return false;
  DebugLog("gateway_thread():  Will retry after sleep.\n");
  --*budget;
  Sleep(200);
  return true;
}

void reject(GatewaySession* s, net::Socket listen) {
  DebugLog("gateway_thread():  Retries exhausted.  Rejecting connect.\n");
  release_session(s);
  turn_away(listen);
  set_accept_status(kRejected);
}

}  // namespace

int isIpxPresent() {
  net::OwnedSocket s(
      net::socket(net::AF_IPX_, net::SOCK_DGRAM_, net::NSPROTO_IPX));
  if (!s) {
    DebugLog("isIpxPresent():  no IPX stack.\n");
    return 0;
  }
  return 1;
}

int gateway_listener() {
  net::OwnedSocket listener;
  int state = OPEN_LISTENER;
  while (state != LISTENER_FAILED && state != BIND_FAILED)
    state = kActions[state](listener);
  listener.reset();  // closed before the end is reported
  if (state == BIND_FAILED) return 7;
  report("ERROR!!\n");
  return 0;
}

int64_t gateway_last_request_seconds() { return g_last_request.load(); }

void gateway_thread(net::Socket listen) {
  GatewaySession* s = find_free_session();
  if (s == nullptr) {
    DebugLog("gateway_thread():  no unused connections available.\n");
    turn_away(listen);
    set_accept_status(kRejected);
    return;
  }
  int id = next_session_id.fetch_add(1);
  s->browser.id = id;
  s->unit.id = id;
  DebugLog("gateway_thread():  session %d starting.\n", id);
  ipx_present.store(isIpxPresent());
  int budget = 30;
  if (ipx_present.load() == 1) {
    for (;;) {
      s->unit.sock =
          net::socket(net::AF_IPX_, net::SOCK_STREAM_, net::NSPROTO_SPX);
      if (s->unit.sock != net::INVALID_SOCKET) break;
      DebugLog(
          "gateway_thread():  socket() for SPX socket encountered error "
          "0x%8.8X\n",
          static_cast<unsigned>(net::WSAGetLastError()));
      if (!retry(&budget)) return reject(s, listen);
    }
    const net::SockAddrIpx any{net::AF_IPX_, {}, {}, 0};
    while (net::bind(s->unit.sock, any) != 0) {
      DebugLog(
          "gateway_thread():  bind() for SPX socket encountered error "
          "0x%8.8X\n",
          static_cast<unsigned>(net::WSAGetLastError()));
      if (!retry(&budget)) return reject(s, listen);
    }
  }
  for (;;) {
    s->browser.sock = net::accept(listen);
    int err = net::WSAGetLastError();
    set_accept_status(kAccepted);
    if (s->browser.sock != net::INVALID_SOCKET) {
      g_last_request.store(seconds_now());
      break;
    }
    DebugLog(
        "gateway_thread():  accept() for IP socket encountered error "
        "0x%8.8X\n",
        static_cast<unsigned>(err));
    if (err != net::WSAENOBUFS || !retry(&budget)) {
      DebugLog(
          "gateway_thread():  Retries exhausted or not out of buffers.  "
          "Rejecting connect.\n");
      release_session(s);
      return;
    }
  }
  s->browser.connected = 1;
  s->browser.state = 0;
  s->unit.state = 0;
  s->unit.connected = 0;
  s->unit.is_unit_side = 1;
  s->browser.first_wait = 1;
  s->unit.first_wait = 1;
  s->running = 1;
  serve_session(s);
}
