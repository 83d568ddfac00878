#include "discovery/driver.h"

#include "discovery/ip/network_table.h"
#include "discovery/ip/route_probe.h"
#include "discovery/ip/snmp_codec.h"
#include "discovery/ip/unit_probe.h"
#include "discovery/ip/unit_queries.h"
#include "discovery/ipx/ipx_discovery.h"
#include "platform/net.h"
#include "platform/settings_store.h"

namespace {

constexpr int kSettingSize = 200;
constexpr uint32_t kDefaultHopLimit = 2;

// IP discovery proper; the caller holds the DiscoveryRun.
int discover_units_using_ip_held(uint32_t hop_limit) {
  set_unit_model_strings("VEM_", "Print Server", "MIO Based Printer", 10001, 3);
  ip_unit_count = run_ip_probes(ip_unit_list, kIpUnitCapacity, hop_limit, 0);
  if (ip_unit_count > 0) {
    describe_units(ip_unit_list, ip_unit_count);
    sort_units(ip_unit_list, ip_unit_count);
  }
  publish_ip_units(ip_unit_list, ip_unit_count);
  return ip_unit_count;
}

}  // namespace

uint32_t hop_limit_from_setting(bool read_ok, const char* text) {
  if (!read_ok) return kDefaultHopLimit;
  return static_cast<uint32_t>(leading_decimal(text, kSettingSize));
}

void discover_units(int* ipx_count, int* ip_count) {
  DiscoveryRun run;
  *ipx_count = 0;
  *ip_count = 0;
  const bool ipx_enabled = search_enabled("Enable IPX Search", kSettingSize);
  const bool ip_enabled = search_enabled("Enable IP Search", kSettingSize);
  if (ipx_enabled) *ipx_count = discover_units_using_ipx();
  if (ip_enabled) {
    char text[kSettingSize];
    bool read_ok = qel_get_registry_string(kTavKeyPath, "Discovery Max Hops",
                                           text, sizeof text) == 0;
    *ip_count =
        discover_units_using_ip_held(hop_limit_from_setting(read_ok, text));
  } else {
    // The published list follows the count reported for this run.
    ip_unit_count = 0;
    publish_ip_units(ip_unit_list, 0);
  }
}

int discover_units_using_ip(uint32_t hop_limit) {
  DiscoveryRun run;
  return discover_units_using_ip_held(hop_limit);
}

int run_ip_probes(UnitRecord* list, int capacity, uint32_t hop_limit,
                  int starting_count) {
  if (hop_limit == 0xFFFFFFFFu) hop_limit = 0xFFFFFFFEu;
  if (net::WSAStartup(0x0101) != 0) return 0;
  network_count =
      build_network_table(network_table, kNetworkCapacity, hop_limit);
  return probe_units_by_broadcast(network_table, network_count, list, capacity,
                                  starting_count);
}
