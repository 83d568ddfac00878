#include "discovery/exchange/datagram_exchange.h"

#include <algorithm>

#include "platform/threads.h"

namespace {

template <typename Address>
ListenEnd listen(net::Socket s, const ListenLimits& limits,
                 const DatagramHandler<Address>& handle) {
  uint8_t buffer[kMaxDatagramSize];
  const int size = std::clamp(limits.buffer_size, 1, kMaxDatagramSize);
  auto past_deadline = [&] { return milliseconds_now() >= limits.deadline_ms; };
  for (;;) {
    int ready = net::wait_readable(s, limits.quiet_ms);
    if (ready == 0) return ListenEnd::kQuiet;
    if (ready != 1) return ListenEnd::kWaitFailed;
    bool go_on = true;
    for (;;) {
      Address from{};
      int n = net::recvfrom(s, buffer, size, &from);
      if (n == net::SOCKET_ERROR) break;
      go_on = handle(buffer, n, from);
      // A sender faster than the drain must not hold it either.
      if (!limits.drain || past_deadline()) break;
    }
    if (!go_on) return ListenEnd::kStopped;
    if (past_deadline()) return ListenEnd::kDeadline;
  }
}

}  // namespace

ListenEnd listen_for_datagrams(net::Socket s, const ListenLimits& limits,
                               const DatagramHandler<net::SockAddrIn>& handle) {
  return listen(s, limits, handle);
}

ListenEnd listen_for_datagrams(
    net::Socket s, const ListenLimits& limits,
    const DatagramHandler<net::SockAddrIpx>& handle) {
  return listen(s, limits, handle);
}
