#include "gateway/session_slots.h"

#include <cstring>
#include <mutex>

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
