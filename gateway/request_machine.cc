#include "gateway/request_machine.h"

#include <cstdio>
#include <cstring>

#include "gateway/endpoint.h"
#include "gateway/own_answers.h"
#include "gateway/refresh.h"
#include "gateway/text.h"
#include "platform/debug_log.h"
#include "platform/environment.h"

namespace {

using namespace request_state;

int get_request_header(GatewaySession* s);
int get_header(GatewaySession* s);

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
         c == '\f';
}

// The next whitespace-separated word of *text into out (kRequestFieldSize
// bytes). False when there is none or it does not fit.
bool next_word(const char** text, char* out, bool* too_long) {
  const char* p = *text;
  while (is_space(*p)) ++p;
  const char* start = p;
  while (*p != '\0' && !is_space(*p)) ++p;
  size_t n = static_cast<size_t>(p - start);
  *text = p;
  if (n == 0) return false;
  if (n > kRequestFieldSize - 1) {
    *too_long = true;
    return false;
  }
  std::memcpy(out, start, n);
  out[n] = '\0';
  return true;
}

// Splits the URL into the unit name (into the unit side) and the path.
const char* take_unit_name(const char* url, char* unit_name) {
  while (*url == '/' || *url == '\\') ++url;
  int n = 0;
  while (*url != '\0' && *url != '/' && *url != '\\' && n < kUnitNameSize - 1) {
    unit_name[n++] = *url++;
  }
  unit_name[n] = '\0';
  if (char* dash = std::strchr(unit_name, '-')) *dash = '\0';
  percent_decode(unit_name);
  return url;
}

int initialize(GatewaySession* s) {
  uint32_t own = 0;
  if (!environment().host_address(&own)) {
    DebugLog("ip2ipx_machine():  host address unknown, ending session.\n");
    return GATEWAY_DEAD;
  }
  net::inet_ntoa(own, s->host_address, sizeof s->host_address);
  s->browser.connected = 1;
  s->browser.idle_waits = 4;
  return get_request_header(s);
}

// The whole request must come within the phase bound.
bool request_too_slow(GatewaySession* s) {
  if (!endpoint_phase_too_long(&s->browser)) return false;
  DebugLog("ip2ipx_machine():  request not complete in time, ending.\n");
  return true;
}

int get_request_header(GatewaySession* s) {
  if (request_too_slow(s)) return GATEWAY_DEAD;
  char line[2048];
  int n = read_line(&s->browser, line);
  if (n == 0) {
    if (s->browser.idle_waits > 0) {
      --s->browser.idle_waits;
      return GET_REQUEST_HEADER;
    }
    return GATEWAY_DEAD;
  }
  if (n < 0 || n <= 2) return GATEWAY_DEAD;
  s->browser.drop_rest = 1;  // an overlong request line's rest is dropped

  char method[kRequestFieldSize];
  char url[kRequestFieldSize];
  const char* p = line;
  bool too_long = false;
  if (!next_word(&p, method, &too_long) || !next_word(&p, url, &too_long)) {
    if (too_long)
      DebugLog("ip2ipx_machine():  method or URL too long, ending session.\n");
    return GATEWAY_DEAD;
  }
  std::memcpy(s->request_url, url, sizeof url);
  if (OwnPage page = own_page_for(method, url); page != OwnPage::kNone)
    return own_page_reply(s, page, std::strcmp(method, "HEAD") == 0);
  const char* path = take_unit_name(url, s->unit.unit_name);
  if (equal_nocase_n(s->unit.unit_name, kRefreshSegment,
                     std::strlen(kRefreshSegment) + 1))
    return refresh_reply(s);
  if (ipx_present.load() == 0) {
    DebugLog("ip2ipx_machine(): Received URL %s, but no IPX stack.",
             s->unit.unit_name);
    return GATEWAY_DEAD;
  }
  char request[2 * kRequestFieldSize + 32];
  int len = *path != '\0' ? std::snprintf(request, sizeof request,
                                          "%s %s HTTP/1.0\r\n", method, path)
                          : std::snprintf(request, sizeof request,
                                          "%s / HTTP/1.0\r\n", method);
  if (put(&s->unit, request, len) != 0) return GATEWAY_DEAD;
  return get_header(s);
}

enum class Verdict { kDropped, kKept, kReplaced };

// The header filter; a Host line that names the gateway's address is
// replaced in line.
Verdict filter_header(GatewaySession* s, char* line, int* length) {
  static const char* const kDropped[] = {
      "keep-alive", "connection",   "referer",        "accept:",
      "user-agent", "content-type", "accept-encoding"};
  for (const char* kw : kDropped)
    if (starts_with_nocase(line, kw)) return Verdict::kDropped;
  if (starts_with_nocase(line, "host") && s->host_address[0] != '\0' &&
      std::strstr(line, s->host_address) != nullptr) {
    *length = std::snprintf(line, 2048, "Host: %s\r\n", s->unit.unit_name);
    return Verdict::kReplaced;
  }
  return Verdict::kKept;
}

// The header block ends; the body gets a phase of its own.
int end_of_header(GatewaySession* s, const char* line) {
  if (put(&s->unit, line, 2) != 0) return GATEWAY_DEAD;
  endpoint_mark_active(&s->browser, kBodyLimitMs);
  return GET_BODY;
}

int get_header(GatewaySession* s) {
  SessionEndpoint* b = &s->browser;
  char line[2048];
  for (;;) {
    if (request_too_slow(s)) return GATEWAY_DEAD;
    bool rest = b->line_cut != 0;  // of a line longer than one read
    int n = read_line(b, line);
    if (n < 0) return GATEWAY_DEAD;
    if (n == 0) return GET_HEADER;
    if (rest) {
      if (b->drop_rest == 0 && put(&s->unit, line, n) != 0) return GATEWAY_DEAD;
      continue;
    }
    if (n == 2) return end_of_header(s, line);
    Verdict verdict = filter_header(s, line, &n);
    b->drop_rest = verdict != Verdict::kKept;
    if (verdict != Verdict::kDropped && put(&s->unit, line, n) != 0)
      return GATEWAY_DEAD;
  }
}

int get_body(GatewaySession* s) {
  char block[2048];
  for (;;) {
    if (request_too_slow(s)) return GATEWAY_DEAD;
    int n = get_buffer(&s->browser, block, sizeof block);
    if (n == 0) break;
    if (n < 0) return GATEWAY_DEAD;
    if (put(&s->unit, block, n) != 0 || flush_buffer(&s->unit) != 0)
      return GATEWAY_DEAD;
  }
  if (flush_buffer(&s->unit) != 0) return GATEWAY_DEAD;
  endpoint_end_phase(&s->browser);
  return WAIT_FOR_DISCONNECT;
}

int wait_for_disconnect(GatewaySession*) { return WAIT_FOR_DISCONNECT; }

using Handler = int (*)(GatewaySession*);
const Handler kHandlers[] = {initialize, initialize, get_request_header,
                             get_header, get_body,   wait_for_disconnect};
const char* const kNames[] = {"GATEWAY_DEAD",       "INITIALIZE", "NEW_REQUEST",
                              "GET_REQUEST_HEADER", "GET_HEADER", "GET_BODY",
                              "WAIT_FOR_DISCONNECT"};

}  // namespace

void ip2ipx_machine(GatewaySession* s) {
  int state = s->browser.state;
  bool known = state >= INITIALIZE && state <= WAIT_FOR_DISCONNECT;
  DebugLog("ip2ipx_machine(): state = %s\n",
           known ? kNames[state + 1] : "GATEWAY_DEAD");
  if (known) s->browser.state = state = kHandlers[state](s);
  if (state < INITIALIZE || state > WAIT_FOR_DISCONNECT) s->running = -1;
}
