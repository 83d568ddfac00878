#include "gateway/response_machine.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "gateway/endpoint.h"
#include "gateway/link_rewriter.h"
#include "gateway/request_machine.h"
#include "gateway/text.h"
#include "platform/debug_log.h"
#include "platform/environment.h"
#include "units/gateway_url.h"

namespace {

using namespace response_state;

constexpr int kHeaderLineSize = 1024;

int64_t io_now(const SessionEndpoint* ep) {
  return environment().socket_calls->now_ms(ep->sock);
}

int send_text(GatewaySession* s, const char* text) {
  return put(&s->browser, text, static_cast<int>(std::strlen(text)));
}

void add_body_bytes(SessionEndpoint* u, int n) {
  long long total = static_cast<long long>(u->body_count) + n;
  u->body_count = static_cast<int32_t>(std::min<long long>(total, INT_MAX));
}

bool length_reached(const SessionEndpoint* u) {
  return u->content_length != -1 && u->body_count >= u->content_length;
}

// Bytes of a declared length still due; INT_MAX when none was declared.
int body_due(const SessionEndpoint* u) {
  return u->content_length == -1 ? INT_MAX : u->content_length - u->body_count;
}

// The unit's status line and headers must come within the phase bound. A
// body of declared length may pause up to the quiet bound, one without a
// length up to kReplySilenceMs, which is then taken as its end.
int bounded(GatewaySession* s, int state) {
  bool head = state == PROCESS_STATUS_LINE || state == PROCESS_HEADERS;
  const SessionEndpoint* u = &s->unit;
  bool over = head ? endpoint_phase_too_long(u)
              : u->content_length != -1
                  ? endpoint_quiet_too_long(u)
                  : io_now(u) - u->last_data_ms >= kReplySilenceMs;
  if (!over) return state;
  DebugLog("ipx2ip_machine():  unit too slow, ending session.\n");
  return GATEWAY_DEAD;
}

// "Connection: close", and the unit's length for a body that is not HTML.
// Returns 1 when the length could not be handed on.
int header_additions(GatewaySession* s) {
  send_text(s, "Connection: close\r\n");
  if (s->unit.pass_through == 1 && s->unit.content_length != -1) {
    char text[48];
    std::snprintf(text, sizeof text, "Content-Length: %lu\r\n",
                  static_cast<unsigned long>(s->unit.content_length));
    if (send_text(s, text) != 0) return 1;
  }
  return 0;
}

// The digits after "Content-Length:"; lengths outside 0..INT_MAX are not
// taken, so the length stays unknown.
void note_content_length(SessionEndpoint* u, const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  if (*text < '0' || *text > '9') return;
  long long v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    v = v * 10 + (*text - '0');
    if (v > INT_MAX) return;
  }
  if (!negative) u->content_length = static_cast<int32_t>(v);
}

void note_content_kind(SessionEndpoint* u, const char* line) {
  char lower[kEndpointBufferSize];
  size_t i = 0;
  for (; line[i] != '\0' && i < sizeof lower - 1; ++i) {
    char c = line[i];
    lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  lower[i] = '\0';
  if (std::strstr(lower, "html") == nullptr) u->pass_through = 1;
}

// Puts "<gateway>:34/" in front of the unit's name in the value of a
// Refresh or Location line; a line without the name in its value, or one
// the insertion would not fit, stays as it is. Returns the new length.
int point_at_gateway(GatewaySession* s, char* line, int length) {
  const char* value = std::strchr(line, ':');
  if (s->unit.unit_name[0] == '\0' || value == nullptr) return length;
  const char* at = find_nocase(value + 1, s->unit.unit_name);
  if (at == nullptr) return length;
  char insert[kHostAddressSize + 16];
  int k = std::snprintf(insert, sizeof insert, "%s:%d/", s->host_address,
                        kGatewayPort);
  if (length + k + 1 > kHeaderLineSize) return length;
  size_t pos = static_cast<size_t>(at - line);
  std::memmove(line + pos + k, line + pos,
               static_cast<size_t>(length) - pos + 1);
  std::memcpy(line + pos, insert, static_cast<size_t>(k));
  return length + k;
}

int end_of_headers(GatewaySession* s, const char* line, int length) {
  if (header_additions(s) != 0) return GATEWAY_DEAD;
  if (put(&s->browser, line, length) != 0) return GATEWAY_DEAD;
  s->unit.body_count = 0;
  endpoint_end_phase(&s->unit);
  return s->unit.pass_through == 1 ? PROCESS_OTHER_DATA : PROCESS_HTML_DATA;
}

int wait_for_spx_connect(GatewaySession* s) {
  s->unit.content_length = -1;
  s->unit.pass_through = 0;
  if (s->unit.connected &&
      s->browser.state == request_state::WAIT_FOR_DISCONNECT) {
    endpoint_mark_active(&s->unit);  // the unit's time starts now
    return process_status_line(s);
  }
  return WAIT_FOR_SPX_CONNECT;
}

int process_headers(GatewaySession* s) {
  SessionEndpoint* u = &s->unit;
  char line[kHeaderLineSize];
  for (;;) {
    if (bounded(s, PROCESS_HEADERS) == GATEWAY_DEAD) return GATEWAY_DEAD;
    bool rest = u->line_cut != 0;  // of a line longer than one read
    int n = read_line(u, line);
    if (n < 0) return GATEWAY_DEAD;
    if (n == 0) return PROCESS_HEADERS;
    if (rest) {
      if (u->drop_rest == 0 && put(&s->browser, line, n) != 0)
        return GATEWAY_DEAD;
      continue;
    }
    if (n <= 2) return end_of_headers(s, line, n);
    if (starts_with_nocase(line, "Content-Length:")) {
      note_content_length(u, line + 15);
    } else if (starts_with_nocase(line, "Content-Encoding:") ||
               starts_with_nocase(line, "Content-Type:")) {
      note_content_kind(u, line);
    }
    u->drop_rest = 0;
    if (starts_with_nocase(line, "Refresh") ||
        starts_with_nocase(line, "Location")) {
      n = point_at_gateway(s, line, n);
    } else if (starts_with_nocase(line, "Content-Length:")) {
      u->drop_rest = 1;
      continue;
    }
    if (put(&s->browser, line, n) != 0) return GATEWAY_DEAD;
  }
}

// An empty read in a body: what came is written out, and the reply ends
// when its length is reached or its silence is too long.
int body_quiet(GatewaySession* s, int state) {
  flush_buffer(&s->browser);
  if (length_reached(&s->unit)) return GATEWAY_DEAD;
  return bounded(s, state);
}

int process_other_data(GatewaySession* s) {
  SessionEndpoint* u = &s->unit;
  char block[kBlockSize];
  for (;;) {
    if (length_reached(u)) {
      flush_buffer(&s->browser);
      return GATEWAY_DEAD;
    }
    int n = get_buffer(u, block, std::min(kBlockSize, body_due(u)));
    if (n < 0) return GATEWAY_DEAD;
    if (n == 0) return body_quiet(s, PROCESS_OTHER_DATA);
    add_body_bytes(u, n);
    if (put(&s->browser, block, n) != 0) return GATEWAY_DEAD;
  }
}

// Relays one body line through link rewriting; a line holding a NUL byte is
// relayed as it came. Returns put's result.
int relay_html_line(GatewaySession* s, char* line, int n) {
  add_body_bytes(&s->unit, n);
  int length = n;
  if (std::strlen(line) == static_cast<size_t>(n)) {
    rewrite_links(s, line);
    length = static_cast<int>(std::strlen(line));
  }
  return put(&s->browser, line, length);
}

int process_html_data(GatewaySession* s) {
  SessionEndpoint* u = &s->unit;
  char line[kRewriteLineSize];
  for (;;) {
    if (length_reached(u)) {  // an empty body, or one read to its length
      flush_buffer(&s->browser);
      return GATEWAY_DEAD;
    }
    // A last line without line end ends at the declared length.
    int n = read_line(u, line, body_due(u));
    int next = n < 0 ? GATEWAY_DEAD : PROCESS_HTML_DATA;
    if (n == 0) next = body_quiet(s, PROCESS_HTML_DATA);
    if (next == GATEWAY_DEAD) {
      // The reply ends; a last line without line end still goes out.
      if ((n = take_partial_line(u, line)) > 0) relay_html_line(s, line, n);
      return GATEWAY_DEAD;
    }
    if (n == 0) return next;
    if (n == kLineLimit) {
      add_body_bytes(u, n);
      if (put(&s->browser, line, n) != 0) return GATEWAY_DEAD;
      return process_other_data(s);
    }
    if (relay_html_line(s, line, n) != 0) return GATEWAY_DEAD;
  }
}

using Handler = int (*)(GatewaySession*);
const Handler kHandlers[] = {wait_for_spx_connect, wait_for_spx_connect,
                             process_status_line,  process_headers,
                             process_html_data,    process_other_data};
const char* const kNames[] = {"GATEWAY_DEAD",         "INITIALIZE",
                              "WAIT_FOR_SPX_CONNECT", "PROCESS_STATUS_LINE",
                              "PROCESS_HEADERS",      "PROCESS_HTML_DATA",
                              "PROCESS_OTHER_DATA"};

}  // namespace

int process_status_line(GatewaySession* s) {
  SessionEndpoint* u = &s->unit;
  char line[kHeaderLineSize];
  int n = read_line(u, line);
  if (n == 0 && bounded(s, PROCESS_STATUS_LINE) != GATEWAY_DEAD)
    return PROCESS_STATUS_LINE;
  // A unit that closes, or is given up, after an unfinished first line
  // still has it relayed.
  if (n <= 0 && (n = take_partial_line(u, line)) == 0) {
    DebugLog("process_status_line():  Error receiving status line.\n");
    return GATEWAY_DEAD;
  }
  if (!starts_with_nocase(line, "HTTP")) {
    send_text(s, "HTTP/1.0 200\r\n");
    header_additions(s);
    send_text(s, "\r\n");
    if (put(&s->browser, line, n) != 0) return GATEWAY_DEAD;
    endpoint_end_phase(u);
    if (starts_with_nocase(line, "<html>")) return PROCESS_HTML_DATA;
    u->pass_through = 1;
    return PROCESS_OTHER_DATA;
  }
  const char* gap = std::strpbrk(line, " \t");
  if (gap == nullptr) {
    DebugLog("process_status_line():  Bad status line received.\n");
    return GATEWAY_DEAD;
  }
  char status[kHeaderLineSize + 16];
  std::snprintf(status, sizeof status, "HTTP/1.0%s", gap);
  return send_text(s, status) == 0 ? PROCESS_HEADERS : GATEWAY_DEAD;
}

void ipx2ip_machine(GatewaySession* s) {
  int state = s->unit.state;
  bool known = state >= INITIALIZE && state <= PROCESS_OTHER_DATA;
  DebugLog("ipx2ip_machine(): state = %s\n",
           known ? kNames[state + 1] : "GATEWAY_DEAD");
  state = known ? kHandlers[state](s) : GATEWAY_DEAD;
  if (state < INITIALIZE || state > PROCESS_OTHER_DATA) state = GATEWAY_DEAD;
  s->unit.state = state;
  if (state == GATEWAY_DEAD) s->running = -1;
}
