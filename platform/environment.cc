#include "platform/environment.h"

#include <atomic>

#include "platform/netware.h"
#include "platform/process.h"
#include "platform/threads.h"

namespace {

int64_t clock_ms(net::Socket) { return milliseconds_now(); }

const net::SocketCalls kSockets = {net::recv,
                                   net::send,
                                   net::wait_readable,
                                   net::wait_writable,
                                   net::wait_readable_either,
                                   clock_ms};

const Environment& real_environment() {
  static const Environment real = {&platform_command_runner(),
                                   &nw::platform_netware_client(),
                                   &kSockets,
                                   net::host_own_address,
                                   net::resolve_host,
                                   nullptr};
  return real;
}

// Null while no scope is alive. Release on install, acquire on read: a
// reader that sees a scope sees its members.
std::atomic<const Environment*> g_in_force{nullptr};

}  // namespace

const Environment& environment() {
  const Environment* e = g_in_force.load(std::memory_order_acquire);
  return e != nullptr ? *e : real_environment();
}

// The runner and the client in force, declared beside their interfaces.
CommandRunner& command_runner() { return *environment().command_runner; }

nw::NetWareClient& nw::netware_client() {
  return *environment().netware_client;
}

ScopedEnvironment::ScopedEnvironment(const Environment& replacement)
    : previous_(g_in_force.load(std::memory_order_acquire)) {
  in_force_ = previous_ != nullptr ? *previous_ : real_environment();
  const Environment& r = replacement;
  if (r.command_runner) in_force_.command_runner = r.command_runner;
  if (r.netware_client) in_force_.netware_client = r.netware_client;
  if (r.socket_calls) in_force_.socket_calls = r.socket_calls;
  if (r.host_address) in_force_.host_address = r.host_address;
  if (r.host_lookup) in_force_.host_lookup = r.host_lookup;
  if (r.refresh_work) in_force_.refresh_work = r.refresh_work;
  g_in_force.store(&in_force_, std::memory_order_release);
}

ScopedEnvironment::~ScopedEnvironment() {
  g_in_force.store(previous_, std::memory_order_release);
}
