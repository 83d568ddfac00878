#include "gateway/refresh.h"

#include <string>

#include "discovery/driver.h"
#include "gateway/endpoint.h"
#include "gateway/listener.h"
#include "gateway/request_machine.h"
#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/environment.h"
#include "platform/threads.h"

std::atomic<int> refresh_state{kRefreshIdle};

namespace {

void rediscover() {
  int ipx_count = 0;
  int ip_count = 0;
  discover_units(&ipx_count, &ip_count);
  write_discovery_files(ip_count, ipx_count, discovery_page_path,
                        help_page_path, 0);
}

// The page as the gateway serves it: a browser on an http: page follows
// no file link.
std::string served_page_url(const GatewaySession* s) {
  return "http://" + std::string(s->host_address) + ":" +
         std::to_string(kGatewayPort) + "/";
}

void answer(GatewaySession* s, const std::string& text) {
  put(&s->browser, text.data(), static_cast<int>(text.size()));
}

}  // namespace

void refresh_thread() {
  void (*work)() = environment().refresh_work;
  (work != nullptr ? work : rediscover)();
  refresh_state.store(kRefreshDone);
}

int refresh_reply(GatewaySession* s) {
  int done = kRefreshDone;
  if (refresh_state.compare_exchange_strong(done, kRefreshIdle)) {
    answer(s,
           fill_inserts(catalogue_text(kRefreshDoneText), served_page_url(s)));
  } else {
    answer(s, catalogue_text(kRefreshRunningText));
    int idle = kRefreshIdle;
    if (refresh_state.compare_exchange_strong(idle, kRefreshRunning) &&
        !start_detached_thread(refresh_thread)) {
      refresh_state.store(kRefreshIdle);  // nothing runs: the next may start
    }
  }
  flush_buffer(&s->browser);
  return request_state::GATEWAY_DEAD;
}
