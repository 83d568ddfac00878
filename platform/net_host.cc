// Host identity and interfaces: the host's name and own address, the
// interfaces that are up, name look-ups, and the local IPX network number.
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/net.h"
#include "platform/net_internal.h"

namespace net {

using internal::fail;
using internal::fail_with_errno;

namespace {
// The interface holding the default route, from /proc/net/route.
bool default_route_interface(char* name, size_t size) {
  FILE* f = std::fopen("/proc/net/route", "r");
  if (f == nullptr) return false;
  char line[256];
  bool found = false;
  if (std::fgets(line, sizeof line, f) != nullptr) {  // header
    while (std::fgets(line, sizeof line, f) != nullptr) {
      char ifname[64];
      unsigned long dest = 1;
      if (std::sscanf(line, "%63s %lx", ifname, &dest) == 2 && dest == 0) {
        std::snprintf(name, size, "%s", ifname);
        found = true;
        break;
      }
    }
  }
  std::fclose(f);
  return found;
}

struct IfaceMatch {
  uint32_t addr = 0;
  uint32_t mask = 0;
  char name[IFNAMSIZ] = {};
};

bool first_up_non_loopback(IfaceMatch* out) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  char preferred[64] = {};
  bool have_pref = default_route_interface(preferred, sizeof preferred);
  bool found = false;
  for (int pass = have_pref ? 0 : 1; pass < 2 && !found; ++pass) {
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
      if ((i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK))
        continue;
      if (pass == 0 && std::strcmp(i->ifa_name, preferred) != 0) continue;
      out->addr = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
      out->mask =
          i->ifa_netmask
              ? reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr
              : 0;
      std::snprintf(out->name, sizeof out->name, "%s", i->ifa_name);
      found = true;
      break;
    }
  }
  freeifaddrs(list);
  return found;
}

bool find_interface(uint32_t addr, IfaceMatch* out) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  // An exact match first; else the interface whose network holds the
  // address (127.0.1.1 from the resolver lies on the loopback's network).
  bool found = false;
  for (int pass = 0; pass < 2 && !found; ++pass) {
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
      uint32_t a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
      uint32_t m =
          i->ifa_netmask
              ? reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr
              : 0;
      if (pass == 0 ? a != addr : (m == 0 || (a & m) != (addr & m))) continue;
      out->addr = addr;
      out->mask = m;
      std::snprintf(out->name, sizeof out->name, "%s", i->ifa_name);
      found = true;
      break;
    }
  }
  freeifaddrs(list);
  return found;
}

}  // namespace

int gethostname(char* name, int size) {
  if (::gethostname(name, static_cast<size_t>(size)) == 0) {
    name[size - 1] = '\0';
    return 0;
  }
  return fail_with_errno();
}

bool host_own_address(uint32_t* addr) {
  IfaceMatch m;
  if (first_up_non_loopback(&m)) {
    *addr = m.addr;
    return true;
  }
  char name[256];
  if (::gethostname(name, sizeof name) == 0) {
    name[sizeof name - 1] = '\0';
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &res) == 0 && res != nullptr) {
      *addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
      ::freeaddrinfo(res);
      return true;
    }
  }
  *addr = htonl(INADDR_LOOPBACK);
  return true;
}

uint32_t interface_mask_of(uint32_t addr) {
  IfaceMatch m;
  return find_interface(addr, &m) ? m.mask : 0;
}

void interface_name_of(uint32_t addr, char* out, size_t size) {
  IfaceMatch m;
  if (find_interface(addr, &m)) {
    std::snprintf(out, size, "%s", m.name);
  } else if (size > 0) {
    out[0] = '\0';
  }
}

bool resolve_host(const char* name, uint32_t* addr) {
  char own[256];
  if (::gethostname(own, sizeof own) == 0) {
    own[sizeof own - 1] = '\0';
    if (std::strcmp(own, name) == 0) return host_own_address(addr);
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* res = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &res) != 0 || res == nullptr) {
    fail(11001);  // WSAHOST_NOT_FOUND
    return false;
  }
  *addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  return true;
}

bool reverse_lookup(uint32_t addr, char* out, size_t size) {
  sockaddr_in n{};
  n.sin_family = AF_INET;
  n.sin_addr.s_addr = addr;
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&n), sizeof n, host,
                    sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return false;
  std::snprintf(out, size, "%s", host);
  return true;
}

int list_interfaces(ConfiguredInterface* out, int max) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  int n = 0;
  for (ifaddrs* i = list; i != nullptr && n < max; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if ((i->ifa_flags & IFF_UP) == 0) continue;
    out[n].address =
        reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    out[n].mask =
        i->ifa_netmask
            ? reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr
            : 0;
    ++n;
  }
  freeifaddrs(list);
  return n;
}

void local_ipx_network(uint8_t out[4]) {
  if (ipx_mode() == IpxMode::kEthernet) {
    internal::ethernet::local_network(out);
  } else {
    internal::ipv4::local_network(out);
  }
}

}  // namespace net
