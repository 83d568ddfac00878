// Helpers shared by the gateway's tests and its benchmark.
#ifndef TAV_TESTS_GATEWAY_HARNESS_H_
#define TAV_TESTS_GATEWAY_HARNESS_H_

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/net.h"
#include "units/units.h"

namespace harness {

// The unit at 127.0.0.1 with HTTP socket `port`: TCP over IPv4, SPX in frames.
inline IpxUnitRecord unit_record(const char* name, uint16_t port) {
  IpxUnitRecord r{};
  std::snprintf(r.name, sizeof r.name, "%s", name);
  r.address.sa_family = net::AF_IPX_;
  net::local_ipx_network(r.address.sa_netnum);
  uint32_t lo = net::inet_addr("127.0.0.1");
  std::memcpy(r.address.sa_nodenum + 2, &lo, 4);
  r.address.sa_socket = net::htons_(port);
  return r;
}

// Connects to 127.0.0.1:port; -1 when it cannot.
inline int connect_to(uint16_t port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
  ::close(s);
  return -1;
}

// `text` with each '@' replaced by the gateway's address for `unit`.
inline std::string via(std::string text,
                       const std::string& unit = "http://10.0.0.5:34/unit7/") {
  for (size_t at; (at = text.find('@')) != std::string::npos;)
    text.replace(at, 1, unit);
  return text;
}

}  // namespace harness

#endif  // TAV_TESTS_GATEWAY_HARNESS_H_
