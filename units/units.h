// The two unit lists shared by the whole program, their record types, the
// unit model strings, add_unit and the sort.
//
// Discovery fills the working lists (ip_unit_list / ipx_unit_list and their
// counts) on the one thread that runs discovery; discovery runs never
// overlap (DiscoveryRun). When a run has finished a list it publishes a copy
// of it whole: readers on other threads (gateway sessions, the page writer,
// install mode) take the published snapshot, which is never changed after
// publication, so they see either the old list or the new one, never a mix,
// and the count never exceeds what is filled.
#ifndef TAV_UNITS_UNITS_H_
#define TAV_UNITS_UNITS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/net.h"

struct UnitRecord {
  net::SockAddrIn address;  // family 2, port and IPv4 address network order
  char name[41];
  char description[259];
};
static_assert(sizeof(UnitRecord) == 316);
static_assert(offsetof(UnitRecord, address) == 0);
static_assert(offsetof(UnitRecord, name) == 16);
static_assert(offsetof(UnitRecord, description) == 57);

struct IpxUnitRecord {
  char name[48];
  net::SockAddrIpx address;  // socket 0: no HTTP service known
  uint16_t wdx_port;         // network byte order; 0 when none
  char description[256];
};
static_assert(sizeof(IpxUnitRecord) == 320);
static_assert(offsetof(IpxUnitRecord, name) == 0);
static_assert(offsetof(IpxUnitRecord, address) == 48);
static_assert(offsetof(IpxUnitRecord, wdx_port) == 62);
static_assert(offsetof(IpxUnitRecord, description) == 64);

inline constexpr int kIpUnitCapacity = 800;
inline constexpr int kIpxUnitCapacity = 500;

// Working lists: touched only by the thread running discovery.
extern UnitRecord ip_unit_list[kIpUnitCapacity];
extern int ip_unit_count;
extern IpxUnitRecord ipx_unit_list[kIpxUnitCapacity];
extern int ipx_unit_count;

// Published lists, for readers on any thread.
struct IpUnitSnapshot {
  int count = 0;
  UnitRecord units[kIpUnitCapacity];
};
struct IpxUnitSnapshot {
  int count = 0;
  IpxUnitRecord units[kIpxUnitCapacity];
};
// Never null: an empty snapshot before the first publication.
std::shared_ptr<const IpUnitSnapshot> published_ip_units();
std::shared_ptr<const IpxUnitSnapshot> published_ipx_units();
// Publish the first `count` records of a list (count is clamped to
// 0..capacity). Safe for concurrent use.
void publish_ip_units(const UnitRecord* list, int count);
void publish_ipx_units(const IpxUnitRecord* list, int count);

// Held for the whole of one discovery run; a second run waits for the
// first (start-up, install mode and refresh never overlap).
class DiscoveryRun {
 public:
  DiscoveryRun();
  ~DiscoveryRun();
  DiscoveryRun(const DiscoveryRun&) = delete;
  DiscoveryRun& operator=(const DiscoveryRun&) = delete;
};

// The unit model strings.
struct UnitModelStrings {
  char name_prefix[41];
  char builtin_name_prefix[41];
  char generic_description[259];
  char mio_description[259];
  uint16_t default_unit_port;  // host byte order
  int naming_mode;
};
const UnitModelStrings& unit_model_strings();

void set_unit_model_strings(const char* name_prefix,
                            const char* generic_description,
                            const char* mio_description,
                            uint16_t default_unit_port, int naming_mode);

// Adds the unit that answered from `source`, named from its hardware
// address; returns the new count (unchanged for a full list, with "List
// overflow.\n" on standard output, and for an IPv4 address already listed).
int add_unit(const net::SockAddrIn& source, const uint8_t hardware[6],
             UnitRecord* list, int capacity, int count);

// Byte-wise, case-sensitive sort by name (unsigned bytes up to the NUL).
void sort_units(UnitRecord* list, int count);
void sort_ipx_units(IpxUnitRecord* list, int count);
int compare_unit_names(const char* a, const char* b, size_t field_size);

#endif  // TAV_UNITS_UNITS_H_
