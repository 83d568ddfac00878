#include "gateway/unit_connection.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "gateway/text.h"
#include "platform/debug_log.h"
#include "platform/files.h"
#include "units/units.h"

namespace {

std::mutex g_address_file_mutex;

// The address as stored: family 6 little-endian, network, node, socket in
// network byte order.
void encode_address(const net::SockAddrIpx& a, unsigned char out[14]) {
  out[0] = static_cast<unsigned char>(a.sa_family & 0xFF);
  out[1] = static_cast<unsigned char>(a.sa_family >> 8);
  std::memcpy(out + 2, a.sa_netnum, 4);
  std::memcpy(out + 6, a.sa_nodenum, 6);
  std::memcpy(out + 12, &a.sa_socket, 2);
}

void write_address_file(const net::SockAddrIpx& a) {
  unsigned char bytes[14];
  encode_address(a, bytes);
  std::lock_guard<std::mutex> lock(g_address_file_mutex);
  File f = open_file("address", "w+b");
  if (!f.is_open() || !f.write(bytes, sizeof bytes) || !f.close())
    DebugLog("connect_to_unit():  could not write the file address.\n");
}

}  // namespace

int connect_to_unit(SessionEndpoint* ep) {
  auto units = published_ipx_units();
  size_t wanted = bounded_length(ep->unit_name, sizeof ep->unit_name);
  const IpxUnitRecord* found = nullptr;
  for (int i = 0; i < units->count && found == nullptr; ++i) {
    const IpxUnitRecord& r = units->units[i];
    size_t n = std::min(bounded_length(r.name, sizeof r.name), wanted);
    if (equal_nocase_n(r.name, ep->unit_name, n)) found = &r;
  }
  if (found == nullptr) {
    DebugLog("connect_to_unit():  Did not find unit %s in list.\n",
             ep->unit_name);
    return 1;
  }
  net::SockAddrIpx address = found->address;
  write_address_file(address);
  if (net::connect(ep->sock, address) != 0) {
    DebugLog("connect_to_unit():  connect() encountered error %d\n",
             net::WSAGetLastError());
    return 1;
  }
  ep->connected = 1;
  net::ioctlsocket_fionbio(ep->sock, 1);
  return 0;
}
