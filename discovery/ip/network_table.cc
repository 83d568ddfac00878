#include "discovery/ip/network_table.h"

#include <cstdio>
#include <cstring>

#include "platform/net.h"
#include "platform/settings_store.h"

NetworkEntry network_table[kNetworkCapacity];
int network_count = 0;

namespace {

constexpr int kAddressBufferSize = 60;

// Keeps an interface whose network is not 0; returns the new count.
int keep_interface(NetworkEntry* out, int count, const char* address_text,
                   const char* mask_text) {
  uint32_t address = net::inet_addr(address_text);
  uint32_t mask = net::inet_addr(mask_text);
  NetworkEntry e{};
  e.local_address = address;
  e.mask = mask;
  e.network = address & mask;
  e.mask_guessed = 0;
  e.natural_mask = natural_mask_of(address);
  if (e.network == 0) return count;
  out[count] = e;
  return count + 1;
}

// Reads the address value and `mask_value` of one key; keeps the interface
// when both read. Returns the new count.
int read_address_pair(const char* const* path, const char* mask_value,
                      NetworkEntry* out, int count) {
  char address[kAddressBufferSize];
  char mask[kAddressBufferSize];
  if (qel_get_registry_string(path, "IPAddress", address, sizeof address) !=
          0 ||
      qel_get_registry_string(path, mask_value, mask, sizeof mask) != 0)
    return count;
  return keep_interface(out, count, address, mask);
}

}  // namespace

uint32_t natural_mask_of(uint32_t address) {
  uint8_t first = static_cast<uint8_t>(net::ntohl_(address) >> 24);
  if ((first & 0x80) == 0) return net::htonl_(0xFF000000u);
  if ((first & 0xC0) == 0x80) return net::htonl_(0xFFFF0000u);
  return net::htonl_(0xFFFFFF00u);
}

int set_local_interface(NetworkEntry* table, bool have_address,
                        uint32_t address, const NetworkEntry* configured,
                        int configured_count) {
  if (!have_address) {
    table[0] = NetworkEntry{};
    return 0;
  }
  NetworkEntry& e = table[0];
  e.local_address = address;
  e.natural_mask = natural_mask_of(address);
  e.mask = e.natural_mask;
  e.network = address & e.natural_mask;
  e.mask_guessed = 1;
  for (int i = 0; i < configured_count; ++i) {
    if (configured[i].local_address != address) continue;
    e.mask = configured[i].mask;
    e.network = configured[i].network;
    e.mask_guessed = 0;
  }
  return 1;
}

int find_local_interface(NetworkEntry* table) {
  uint32_t address = 0;
  bool have_address = net::host_own_address(&address);
  NetworkEntry configured[kMaxConfiguredInterfaces];
  int n = have_address ? read_configured_interfaces(kPlatformPosix, configured,
                                                    kMaxConfiguredInterfaces)
                       : 0;
  return set_local_interface(table, have_address, address, configured, n);
}

int read_configured_interfaces(int platform_id, NetworkEntry* out, int max) {
  switch (platform_id) {
    case kPlatformWinNt:
      return read_interfaces_nt(out, max);
    case kPlatformWin9x:
      return read_interfaces_9x(out, max);
    default:
      return read_interfaces_posix(out, max);
  }
}

int read_interfaces_9x(NetworkEntry* out, int max) {
  int count = 0;
  for (int j = 0; j < 16 && count < max; ++j) {
    char index[16];
    std::snprintf(index, sizeof index, "%4.4d", j);
    const char* path[] = {"System", "CurrentControlSet", "Services",
                          "Class",  "NetTrans",          index,
                          nullptr};
    count = read_address_pair(path, "IPMask", out, count);
  }
  return count;
}

int read_interfaces_nt(NetworkEntry* out, int max) {
  constexpr int kMaxServices = 40;
  char services[kMaxServices][40];
  int named = 0;
  for (int i = 0; i < 16 && named < kMaxServices; ++i) {
    char index[16];
    std::snprintf(index, sizeof index, "%d", i);
    const char* path[] = {"SOFTWARE",       "Microsoft",    "Windows NT",
                          "CurrentVersion", "NetworkCards", index,
                          nullptr};
    if (qel_get_registry_string(path, "ServiceName", services[named],
                                sizeof services[named]) == 0)
      ++named;
  }
  if (named > max) named = max;
  int count = 0;
  for (int i = 0; i < named; ++i) {
    const char* path[] = {"System",    "CurrentControlSet", "Services",
                          services[i], "Parameters",        "Tcpip",
                          nullptr};
    count = read_address_pair(path, "SubnetMask", out, count);
  }
  return count;
}

int read_interfaces_posix(NetworkEntry* out, int max) {
  net::ConfiguredInterface found[kMaxConfiguredInterfaces];
  int n = net::list_interfaces(
      found, max < kMaxConfiguredInterfaces ? max : kMaxConfiguredInterfaces);
  int count = 0;
  for (int i = 0; i < n; ++i) {
    NetworkEntry e{};
    e.local_address = found[i].address;
    e.mask = found[i].mask;
    e.network = found[i].address & found[i].mask;
    e.natural_mask = natural_mask_of(found[i].address);
    if (e.network != 0) out[count++] = e;
  }
  return count;
}
