#include "app/serve_mode.h"

#include <algorithm>
#include <atomic>

#include "app/app.h"
#include "discovery/driver.h"
#include "gateway/access_log.h"
#include "gateway/listener.h"
#include "gateway/refresh.h"
#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/net.h"
#include "platform/service.h"
#include "platform/threads.h"
#include "platform/ui.h"

namespace {

constexpr int kNoUnitFound = 110;
constexpr int kPortCannotBeBound = 108;
constexpr int kBadAllowList = 135;
constexpr int kServing = 137;
constexpr int kMaxInterfaces = 64;

// Set once the first search is over: a rediscovery before that would run
// beside it on the same lists.
std::atomic<bool> g_serving{false};

void rediscover_periodically() {
  for (;;) {
    Sleep(kRediscoveryIntervalMs);
    start_rediscovery();
  }
}

}  // namespace

bool serve_client_networks(std::vector<AllowedNetwork>* out) {
  std::string allow;
  if (environment_value("TAV_ALLOW", &allow)) {
    if (parse_allow_list(allow, out)) return true;
    message_box_text(fill_inserts(catalogue_text(kBadAllowList), allow));
    return false;
  }
  std::vector<net::ConfiguredInterface> interfaces(kMaxInterfaces);
  interfaces.resize(static_cast<size_t>(
      std::max(0, net::list_interfaces(interfaces.data(), kMaxInterfaces))));
  *out = own_networks(interfaces);
  return true;
}

void start_rediscovery() {
  if (!g_serving.load()) return;
  int state = refresh_state.load();
  while (state != kRefreshRunning) {
    if (refresh_state.compare_exchange_weak(state, kRefreshRunning)) {
      if (!start_detached_thread(refresh_thread))
        refresh_state.store(kRefreshIdle);
      return;
    }
  }
}

int run_serve_mode() {
  std::vector<AllowedNetwork> allowed;
  if (!serve_client_networks(&allowed)) return kExitFailure;
  int rc = port_check();
  if (rc != kExitSuccess) return rc;
  int ipx_count = 0;
  int ip_count = 0;
  discover_units(&ipx_count, &ip_count);
  ipx_count = std::max(ipx_count, 0);  // a failed search found none
  ip_count = std::max(ip_count, 0);
  if (ipx_count == 0 && ip_count == 0) message_box(kNoUnitFound);
  write_discovery_files(ip_count, ipx_count, discovery_page_path,
                        help_page_path, 1);
  set_client_filter(std::move(allowed));
  set_access_log(true);
  g_serving.store(true);
  uint32_t own = 0;
  char address[16] = "0.0.0.0";
  if (net::host_own_address(&own)) net::inet_ntoa(own, address, sizeof address);
  message_box_text(fill_inserts(catalogue_text(kServing), address,
                                std::to_string(ip_count + ipx_count)));
  start_detached_thread(rediscover_periodically);
  if (gateway_listener() == 7) message_box(kPortCannotBeBound);
  return kExitFailure;
}
