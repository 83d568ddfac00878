// Any datagram as a locator reply: a unit is listed only with a name and an
// HTTP socket, and only while the list has room.
#include "discovery/ipx/ipx_discovery.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  IpxUnitRecord list[2] = {};
  int count = 1;
  net::SockAddrIpx source{};
  source.sa_family = net::AF_IPX_;
  for (int capacity : {2, 1}) {
    const int before = count;
    accept_locator_reply(list, &count, capacity, data, static_cast<int>(size),
                         source);
    fuzz::require(count <= capacity || count == before);
    fuzz::require(count <= before || (list[before].name[0] != '\0' &&
                                      list[before].address.sa_socket != 0));
  }
  return 0;
}
