#include "gateway/own_answers.h"

#include <cstdio>
#include <string>

#include "gateway/access_log.h"
#include "gateway/endpoint.h"
#include "gateway/request_machine.h"
#include "platform/catalogue.h"
#include "platform/service.h"
#include "platform/threads.h"

namespace {

// Reads header lines up to the blank line that ends the block (a cut
// line's last piece is not mistaken for it).
void read_rest_of_header(SessionEndpoint* b) {
  char line[kEndpointBufferSize];
  while (!endpoint_phase_too_long(b)) {
    bool rest = b->line_cut != 0;
    int n = read_line(b, line);
    if (n < 0 || (n == 2 && !rest)) return;
  }
}

int answer(GatewaySession* s, const std::string& text) {
  put(&s->browser, text.data(), static_cast<int>(text.size()));
  flush_buffer(&s->browser);
  return request_state::GATEWAY_DEAD;
}

}  // namespace

int own_page_reply(GatewaySession* s) {
  return answer(s, own_page_answer(static_cast<OwnPage>(s->own_page),
                                   s->head_only != 0, s->host_address));
}

int refuse_client(GatewaySession* s) {
  // The request line's URL, for the log line.
  char line[kEndpointBufferSize];
  while (!endpoint_phase_too_long(&s->browser)) {
    int n = read_line(&s->browser, line);
    if (n < 0) return request_state::GATEWAY_DEAD;
    if (n > 0) {
      std::sscanf(line, " %*s %99s", s->request_url);
      break;
    }
  }
  read_rest_of_header(&s->browser);
  return answer(
      s, http_answer(403, "text/html", catalogue_text(kRefusedText), false));
}

void log_session(const GatewaySession* s, uint32_t client, int64_t start_ms) {
  // A connection that never sent a byte (a browser's preconnect) made no
  // request.
  if (s->browser.got_data == 0) return;
  log_request({wall_clock_ms(), client, s->unit.unit_name, s->request_url,
               s->browser.answer_status, s->browser.sent_total,
               milliseconds_now() - start_ms});
}
