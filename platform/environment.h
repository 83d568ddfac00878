// The services the program takes from its surroundings, in one place: the
// command runner, the NetWare client, the socket calls of the gateway's
// endpoints, the host's own address, the host-name look-up and the work a
// page refresh starts. Tests replace what they need here and nowhere else.
//
// environment() is the set in force: the real services unless a
// ScopedEnvironment is alive. It is read by any thread at any time (the
// gateway's sessions, discovery probes, the refresh thread): safe for
// concurrent use, and every member of the result is set except
// refresh_work (null: the gateway's own rediscovery).
//
// ScopedEnvironment installs a replacement for its lifetime; members it
// leaves null keep what was in force, and its destruction puts back what
// was there before. Scopes nest and must end in the reverse order of their
// start. It is for tests and the fuzz harnesses; the program itself always
// runs with the real services. REQUIRES: scopes are started and ended by
// one thread at a time; no other thread still uses a scope's services when
// it ends (tests start a scope before starting threads and end it after
// joining them); the services a scope names outlive it.
#ifndef TAV_PLATFORM_ENVIRONMENT_H_
#define TAV_PLATFORM_ENVIRONMENT_H_

#include <cstdint>

#include "platform/net.h"

class CommandRunner;
namespace nw {
class NetWareClient;
}

namespace net {

// The socket calls a gateway endpoint makes, with the results and
// WSAGetLastError() conventions of platform/net.h; now_ms is the clock the
// endpoint's time bounds are read from, asked per socket.
struct SocketCalls {
  int (*recv)(Socket s, void* data, int len);
  int (*send)(Socket s, const void* data, int len);
  int (*wait_readable)(Socket s, int timeout_ms);
  int (*wait_writable)(Socket s, int timeout_ms);
  int (*wait_readable_either)(Socket a, Socket b, int timeout_ms, int* ready);
  int64_t (*now_ms)(Socket s);
};

}  // namespace net

struct Environment {
  CommandRunner* command_runner = nullptr;
  nw::NetWareClient* netware_client = nullptr;
  const net::SocketCalls* socket_calls = nullptr;
  // The gateway host's own address (network order); false when it has none.
  bool (*host_address)(uint32_t* addr) = nullptr;
  // The address of a host name (network order); false when it has none,
  // the error code then in WSAGetLastError().
  bool (*host_lookup)(const char* name, uint32_t* addr) = nullptr;
  // The rediscovery a refresh request starts, run on its own thread.
  void (*refresh_work)() = nullptr;
};

const Environment& environment();

class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const Environment& replacement);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  Environment in_force_;
  const Environment* previous_;
};

#endif  // TAV_PLATFORM_ENVIRONMENT_H_
