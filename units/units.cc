#include "units/units.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/debug_log.h"

UnitRecord ip_unit_list[kIpUnitCapacity];
int ip_unit_count = 0;
IpxUnitRecord ipx_unit_list[kIpxUnitCapacity];
int ipx_unit_count = 0;

namespace {

std::mutex g_publish_mutex;
std::shared_ptr<const IpUnitSnapshot> g_ip_snapshot =
    std::make_shared<IpUnitSnapshot>();
std::shared_ptr<const IpxUnitSnapshot> g_ipx_snapshot =
    std::make_shared<IpxUnitSnapshot>();

std::mutex g_run_mutex;

UnitModelStrings g_model = {"VEM_",         "VEM_",
                            "Print Server", "Ethernet Interface for HP Printer",
                            10000,          0};

// Copies a text, cut to fit the destination field.
void copy_text(char* dst, size_t size, const char* src) {
  size_t n = src ? strnlen(src, size - 1) : 0;
  if (n > 0) std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

std::shared_ptr<const IpUnitSnapshot> published_ip_units() {
  std::lock_guard<std::mutex> lock(g_publish_mutex);
  return g_ip_snapshot;
}

std::shared_ptr<const IpxUnitSnapshot> published_ipx_units() {
  std::lock_guard<std::mutex> lock(g_publish_mutex);
  return g_ipx_snapshot;
}

void publish_ip_units(const UnitRecord* list, int count) {
  auto snap = std::make_shared<IpUnitSnapshot>();
  snap->count = std::clamp(count, 0, kIpUnitCapacity);
  std::copy(list, list + snap->count, snap->units);
  std::lock_guard<std::mutex> lock(g_publish_mutex);
  g_ip_snapshot = std::move(snap);
}

void publish_ipx_units(const IpxUnitRecord* list, int count) {
  auto snap = std::make_shared<IpxUnitSnapshot>();
  snap->count = std::clamp(count, 0, kIpxUnitCapacity);
  std::copy(list, list + snap->count, snap->units);
  std::lock_guard<std::mutex> lock(g_publish_mutex);
  g_ipx_snapshot = std::move(snap);
}

DiscoveryRun::DiscoveryRun() { g_run_mutex.lock(); }
DiscoveryRun::~DiscoveryRun() { g_run_mutex.unlock(); }

const UnitModelStrings& unit_model_strings() { return g_model; }

void set_unit_model_strings(const char* name_prefix,
                            const char* generic_description,
                            const char* mio_description,
                            uint16_t default_unit_port, int naming_mode) {
  copy_text(g_model.name_prefix, sizeof g_model.name_prefix, name_prefix);
  copy_text(g_model.generic_description, sizeof g_model.generic_description,
            generic_description);
  copy_text(g_model.mio_description, sizeof g_model.mio_description,
            mio_description);
  g_model.default_unit_port = default_unit_port;
  if (naming_mode >= 0 && naming_mode <= 3) g_model.naming_mode = naming_mode;
}

int add_unit(const net::SockAddrIn& source, const uint8_t hardware[6],
             UnitRecord* list, int capacity, int count) {
  if (count >= capacity) {
    report("List overflow.\n");
    return count;
  }
  for (int i = 0; i < count; ++i) {
    if (list[i].address.sin_addr == source.sin_addr) return count;
  }
  UnitRecord& r = list[count];
  std::memset(&r, 0, sizeof r);
  r.address.sin_family = net::AF_INET_;
  r.address.sin_addr = source.sin_addr;
  r.address.sin_port = net::htons_(g_model.default_unit_port);
  unsigned n = (unsigned{hardware[3]} << 13) | (unsigned{hardware[4]} << 5) |
               (unsigned{hardware[5]} >> 3);
  switch (g_model.naming_mode) {
    case 0:
    case 3: {
      // A prefix of up to 40 characters and 7 digits: cut to the field.
      char text[64];
      std::snprintf(text, sizeof text, "%s%6.6d",
                    g_model.naming_mode == 0 ? g_model.name_prefix
                                             : g_model.builtin_name_prefix,
                    static_cast<int>(n));
      copy_text(r.name, sizeof r.name, text);
      break;
    }
    default:
      net::inet_ntoa(source.sin_addr, r.name, sizeof r.name);
      break;
  }
  return count + 1;
}

int compare_unit_names(const char* a, const char* b, size_t field_size) {
  // strncmp compares as unsigned char and stops at a field without NUL.
  return std::strncmp(a, b, field_size);
}

void sort_units(UnitRecord* list, int count) {
  std::sort(list, list + count, [](const UnitRecord& a, const UnitRecord& b) {
    return compare_unit_names(a.name, b.name, sizeof a.name) < 0;
  });
}

void sort_ipx_units(IpxUnitRecord* list, int count) {
  std::sort(list, list + count,
            [](const IpxUnitRecord& a, const IpxUnitRecord& b) {
              return compare_unit_names(a.name, b.name, sizeof a.name) < 0;
            });
}
