// The receiving half of every datagram exchange of discovery: once the
// caller has sent its requests, the replies are taken one wait at a time
// until a wait finds nothing (the quiet wait), the handler asks to stop, a
// wait fails, or a deadline has passed. The deadline bounds the listening
// however often something arrives, so that one run of discovery always
// ends: a listen ends at the latest one quiet wait after its deadline.
//
// Each call works on its own socket; safe for concurrent use on different
// sockets.
#ifndef TAV_DISCOVERY_EXCHANGE_DATAGRAM_EXCHANGE_H_
#define TAV_DISCOVERY_EXCHANGE_DATAGRAM_EXCHANGE_H_

#include <cstdint>
#include <functional>

#include "platform/net.h"

struct ListenLimits {
  int quiet_ms;         // a wait that finds nothing for this long ends it
  int64_t deadline_ms;  // milliseconds_now() after which no wait begins
  int buffer_size;      // at most kMaxDatagramSize; longer ones are dropped
  // Take every waiting datagram after each wait (non-blocking sockets only)
  // instead of one.
  bool drain = false;
};

inline constexpr int kMaxDatagramSize = 2048;

enum class ListenEnd { kQuiet, kDeadline, kStopped, kWaitFailed };

// Handles one datagram of `length` bytes from `from`; false stops the
// listening (after the datagrams of the current drain).
template <typename Address>
using DatagramHandler =
    std::function<bool(const uint8_t* data, int length, const Address& from)>;

// Failed receives are skipped. Returns why the listening ended.
ListenEnd listen_for_datagrams(net::Socket s, const ListenLimits& limits,
                               const DatagramHandler<net::SockAddrIn>& handle);
ListenEnd listen_for_datagrams(net::Socket s, const ListenLimits& limits,
                               const DatagramHandler<net::SockAddrIpx>& handle);

#endif  // TAV_DISCOVERY_EXCHANGE_DATAGRAM_EXCHANGE_H_
