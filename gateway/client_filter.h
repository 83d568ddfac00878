// Which browsers the gateway answers.
//
// A filter is a list of IPv4 networks; a client is allowed when its address
// lies in one of them. parse_allow_list() reads the TAV_ALLOW form, a comma
// list of networks in CIDR form ("192.168.1.0/24,10.0.0.0/8"; a bare
// address is one host, blanks around items are ignored); it returns false
// and leaves *out alone on any malformed item or an empty list. Address
// bits below the prefix are ignored (10.1.2.3/8 is 10.0.0.0/8).
// own_networks() is the default list: the networks of the given interfaces
// and the loopback network 127.0.0.0/8.
//
// The filter in force is process-wide: none (every client allowed) until
// set_client_filter() installs one. client_allowed() is safe for
// concurrent use with set_client_filter().
#ifndef TAV_GATEWAY_CLIENT_FILTER_H_
#define TAV_GATEWAY_CLIENT_FILTER_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/net.h"

struct AllowedNetwork {
  uint32_t address;  // host order, bits below the prefix clear
  uint32_t mask;     // host order
  bool operator==(const AllowedNetwork&) const = default;
};

bool parse_allow_list(std::string_view text, std::vector<AllowedNetwork>* out);
std::vector<AllowedNetwork> own_networks(
    const std::vector<net::ConfiguredInterface>& interfaces);
// addr in network order.
bool network_list_allows(const std::vector<AllowedNetwork>& list,
                         uint32_t addr);

void set_client_filter(std::vector<AllowedNetwork> list);
// True when no filter is in force or the list allows addr (network order).
bool client_allowed(uint32_t addr);

#endif  // TAV_GATEWAY_CLIENT_FILTER_H_
