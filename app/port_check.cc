#include "app/port_check.h"

#include <cstdint>

#include "platform/net.h"
#include "platform/threads.h"
#include "platform/ui.h"
#include "units/gateway_url.h"

namespace {

constexpr int kNoSocket = 109;
// Tried when port 34 is taken.
constexpr uint16_t kAlternatePort = 80;
constexpr uint32_t kAlternatePortWaitMs = 2000;

}  // namespace

int port_check() {
  if (net::WSAStartup(0x0101) != 0) {
    message_box(kNoSocket);
    return kExitFailure;
  }
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_STREAM_, 0));
  if (!s) {
    message_box(kNoSocket);
    net::WSACleanup();
    return kExitFailure;
  }
  // As the gateway's listener does: connections of an earlier run that are
  // still in TIME_WAIT do not make the port look taken.
  net::setsockopt_int(s.get(), net::SockOpt::kReuseAddr, 1);
  if (net::bind(s.get(), net::make_addr_in(0, kGatewayPort)) ==
      net::SOCKET_ERROR) {
    Sleep(kAlternatePortWaitMs);
    if (net::bind(s.get(), net::make_addr_in(0, kAlternatePort)) ==
        net::SOCKET_ERROR) {
      message_box(kPortCannotBeBound);
      s.reset();
      net::WSACleanup();
      return kExitFailure;
    }
  }
  return kExitSuccess;
}
