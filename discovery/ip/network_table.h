// The network table of IP discovery: the host's own network first, then the
// networks that routers announce (route_probe.h). Addresses and masks are
// in network byte order.
//
// Runs on the discovery thread only (the caller holds a DiscoveryRun); the
// process-wide table is not guarded otherwise.
#ifndef TAV_DISCOVERY_IP_NETWORK_TABLE_H_
#define TAV_DISCOVERY_IP_NETWORK_TABLE_H_

#include <cstddef>
#include <cstdint>

struct NetworkEntry {
  uint32_t local_address;  // local address through which it is reached
  uint32_t network;        // host bits 0
  uint32_t mask;           // broadcast address = network | ~mask
  uint32_t mask_guessed;   // 1: mask is only the natural one
  uint32_t natural_mask;   // natural mask of the address class
};
static_assert(sizeof(NetworkEntry) == 20);
static_assert(offsetof(NetworkEntry, network) == 4);
static_assert(offsetof(NetworkEntry, natural_mask) == 16);

inline constexpr int kNetworkCapacity = 500;
inline constexpr int kMaxConfiguredInterfaces = 20;

// The process-wide table and the count of its last build.
extern NetworkEntry network_table[kNetworkCapacity];
extern int network_count;

inline uint32_t broadcast_address_of(const NetworkEntry& e) {
  return e.network | ~e.mask;
}

// 255.0.0.0 for class A, 255.255.0.0 for class B, 255.255.255.0 for every
// other address (classes C, D and E).
uint32_t natural_mask_of(uint32_t address);

// Fills entry 0 from the host's own address and the configured interfaces;
// returns 1, or 0 (entry 0 zeroed) when the host's address is unknown.
int find_local_interface(NetworkEntry* table);

// The pure part of find_local_interface: entry 0 from `address` with the
// natural mask, replaced by the mask of the last configured interface
// whose address equals it. Returns 1, or 0 without an address.
int set_local_interface(NetworkEntry* table, bool have_address,
                        uint32_t address, const NetworkEntry* configured,
                        int configured_count);

// Configured interfaces, read from the settings store (the Windows 9x and
// NT key layouts) or, on POSIX, from the interfaces that are up. Each
// keeps only interfaces whose network is not 0 and returns how many it
// stored (at most `max`).
int read_interfaces_9x(NetworkEntry* out, int max);
int read_interfaces_nt(NetworkEntry* out, int max);
int read_interfaces_posix(NetworkEntry* out, int max);

// Platform ids of the version information: 1 Windows 9x, 2 NT; this build
// reports 0 and reads the POSIX interfaces.
inline constexpr int kPlatformWin9x = 1;
inline constexpr int kPlatformWinNt = 2;
inline constexpr int kPlatformPosix = 0;
int read_configured_interfaces(int platform_id, NetworkEntry* out, int max);

#endif  // TAV_DISCOVERY_IP_NETWORK_TABLE_H_
