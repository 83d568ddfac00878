#include "platform/service.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>

int64_t wall_clock_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch())
      .count();
}

bool peer_ipv4(net::Socket s, uint32_t* addr) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      peer.sin_family != AF_INET)
    return false;
  *addr = peer.sin_addr.s_addr;
  return true;
}

bool environment_value(const char* name, std::string* out) {
  const char* v = std::getenv(name);
  if (v == nullptr) return false;
  *out = v;
  return true;
}

void use_console_ui() { ::setenv("TAV_UI", "console", 1); }
