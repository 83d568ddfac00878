#include "gateway/session.h"

#include "gateway/client_filter.h"
#include "gateway/endpoint.h"
#include "gateway/own_answers.h"
#include "gateway/request_machine.h"
#include "gateway/response_machine.h"
#include "platform/debug_log.h"
#include "platform/service.h"
#include "platform/threads.h"

void serve_session(GatewaySession* s) {
  endpoint_mark_active(&s->browser);
  endpoint_mark_active(&s->unit);
  uint32_t client = 0;
  peer_ipv4(s->browser.sock, &client);
  const int64_t start_ms = milliseconds_now();
  if (!client_allowed(client)) s->running = refuse_client(s);
  while (s->running == 1) {
    ip2ipx_machine(s);
    if (ipx_present.load() == 1) {
      ipx2ip_machine(s);
    } else if (s->browser.state == request_state::WAIT_FOR_DISCONNECT) {
      s->running = -1;  // nothing would ever relay the answer
    }
  }
  DebugLog("gateway_thread():  session %d terminated.\n", s->browser.id);
  flush_buffer(&s->browser);
  log_session(s, client, start_ms);
  release_session(s);
}
