// Any datagram as a route reply: the table never takes more than its
// capacity, and never a default route, a network twice or a non-IP entry.
#include "discovery/ip/route_probe.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  constexpr int kCapacity = 6;
  NetworkEntry table[kCapacity] = {};
  table[0].local_address = 0x0501A8C0;  // 192.168.1.5
  table[0].natural_mask = table[0].mask = 0x00FFFFFF;
  table[0].network = 0x0001A8C0;
  table[0].mask_guessed = 1;
  const net::SockAddrIn from = net::make_addr_in(0x0101A8C0, kRipPort);
  const uint32_t hop_limit = size > 0 ? data[0] % 4 : 2;
  int count = process_route_reply(table, 0, 1, kCapacity, hop_limit, data,
                                  static_cast<int>(size), from);
  fuzz::require(count >= 1 && count <= kCapacity);
  for (int i = 1; i < count; ++i) {
    fuzz::require(table[i].network != 0);
    for (int j = 0; j < i; ++j)
      fuzz::require(table[i].network != table[j].network);
  }
  refine_guessed_mask(table, 0, 1, count);
  return 0;
}
