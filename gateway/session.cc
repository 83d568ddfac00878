#include "gateway/session.h"

#include <cstring>
#include <mutex>

#include "gateway/client_filter.h"
#include "gateway/endpoint.h"
#include "gateway/own_answers.h"
#include "gateway/request_machine.h"
#include "gateway/response_machine.h"
#include "platform/debug_log.h"
#include "platform/service.h"
#include "platform/threads.h"

std::atomic<int> accept_status{kAcceptPending};
std::atomic<int> next_session_id{0};
std::atomic<int> ipx_present{0};

namespace {

std::mutex g_table_mutex;
GatewaySession session_table[kSessionSlots];
// Counts releases, so that a waiter for a free slot can block on it.
std::atomic<unsigned> g_releases{0};

}  // namespace

void set_accept_status(int status) {
  accept_status.store(status);
  accept_status.notify_all();
}

int wait_for_accept() {
  accept_status.wait(kAcceptPending);
  return accept_status.load();
}

void wait_for_free_slot() {
  for (;;) {
    unsigned seen = g_releases.load();
    if (sessions_in_use() < kSessionSlots) return;
    g_releases.wait(seen);  // returns at once if a release came since
  }
}

GatewaySession* find_free_session() {
  std::lock_guard<std::mutex> lock(g_table_mutex);
  for (GatewaySession& s : session_table) {
    if (s.in_use != 0) continue;
    std::memset(&s, 0, sizeof s);
    s.in_use = 1;
    s.browser.sock = net::INVALID_SOCKET;
    s.unit.sock = net::INVALID_SOCKET;
    return &s;
  }
  return nullptr;
}

void release_session(GatewaySession* session) {
  // The slot is the session's alone until it is cleared: its sockets are
  // closed, browser first, before the lock is taken.
  net::OwnedSocket(session->browser.sock).reset();
  net::OwnedSocket(session->unit.sock).reset();
  {
    std::lock_guard<std::mutex> lock(g_table_mutex);
    std::memset(session, 0, sizeof *session);
  }
  g_releases.fetch_add(1);
  g_releases.notify_all();
}

int sessions_in_use() {
  std::lock_guard<std::mutex> lock(g_table_mutex);
  int n = 0;
  for (const GatewaySession& s : session_table) n += s.in_use != 0;
  return n;
}

void serve_session(GatewaySession* s) {
  endpoint_mark_active(&s->browser);
  endpoint_mark_active(&s->unit);
  uint32_t client = 0;
  peer_ipv4(s->browser.sock, &client);
  const int64_t start_ms = milliseconds_now();
  if (!client_allowed(client)) s->running = refuse_client(s);
  while (s->running == 1) {
    ip2ipx_machine(s);
    if (ipx_present.load() == 1) {
      ipx2ip_machine(s);
    } else if (s->browser.state == request_state::WAIT_FOR_DISCONNECT) {
      s->running = -1;  // nothing would ever relay the answer
    }
  }
  DebugLog("gateway_thread():  session %d terminated.\n", s->browser.id);
  flush_buffer(&s->browser);
  log_session(s, client, start_ms);
  release_session(s);
}
