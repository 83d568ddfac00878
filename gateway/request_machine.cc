#include "gateway/request_machine.h"

#include <algorithm>
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
int get_body(GatewaySession* s);

constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr char kUriTooLong[] =
    "HTTP/1.0 414 URI Too Long\r\nConnection: close\r\n\r\n";

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
         c == '\f';
}

// The next whitespace-separated word of *text into out (size bytes).
// False when there is none or it does not fit.
bool next_word(const char** text, char* out, size_t size, bool* too_long) {
  const char* p = *text;
  while (is_space(*p)) ++p;
  const char* start = p;
  while (*p != '\0' && !is_space(*p)) ++p;
  size_t n = static_cast<size_t>(p - start);
  *text = p;
  if (n == 0) return false;
  if (n > size - 1) {
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

// CR LF, or LF alone.
bool is_empty_line(const char* line, int n) {
  return (n == 1 && line[0] == '\n') ||
         (n == 2 && line[0] == '\r' && line[1] == '\n');
}

bool asks_unit(const GatewaySession* s) {
  return s->browser.local_answer == local_answer::kAskUnit;
}

int get_request_header(GatewaySession* s) {
  if (request_too_slow(s)) return GATEWAY_DEAD;
  SessionEndpoint* b = &s->browser;
  char line[kEndpointBufferSize];
  int n = read_line(b, line);
  if (n == 0) {
    if (b->idle_waits > 0) {
      --b->idle_waits;
      return GET_REQUEST_HEADER;
    }
    return GATEWAY_DEAD;
  }
  if (n < 0 || n <= 2) return GATEWAY_DEAD;
  b->drop_rest = 1;  // an overlong request line's rest is dropped

  char method[kRequestFieldSize];
  char url[kEndpointBufferSize];
  const char* p = line;
  bool too_long = false;
  if (!next_word(&p, method, sizeof method, &too_long) ||
      !next_word(&p, url, sizeof url, &too_long)) {
    if (too_long)
      DebugLog("ip2ipx_machine():  method too long, ending session.\n");
    return GATEWAY_DEAD;
  }
  const size_t logged = std::min(std::strlen(url), sizeof s->request_url - 1);
  std::memcpy(s->request_url, url, logged);  // for the request log
  s->request_url[logged] = '\0';
  if (b->line_cut && *p == '\0') {
    // The URL runs on beyond the line limit: refused once the request is in.
    b->local_answer = local_answer::kUriTooLong;
    return get_header(s);
  }
  if (OwnPage page = own_page_for(method, url); page != OwnPage::kNone) {
    s->own_page = static_cast<int32_t>(page);
    s->head_only = std::strcmp(method, "HEAD") == 0;
    b->local_answer = local_answer::kOwnPage;
    return get_header(s);
  }
  const char* path = take_unit_name(url, s->unit.unit_name);
  if (equal_nocase_n(s->unit.unit_name, kRefreshSegment,
                     std::strlen(kRefreshSegment) + 1)) {
    b->local_answer = local_answer::kRefresh;
    return get_header(s);
  }
  if (ipx_present.load() == 0) {
    DebugLog("ip2ipx_machine(): Received URL %s, but no IPX stack.",
             s->unit.unit_name);
    return GATEWAY_DEAD;
  }
  char request[kRequestFieldSize + kEndpointBufferSize + 16];
  int len = std::snprintf(request, sizeof request, "%s %s HTTP/1.0\r\n", method,
                          *path != '\0' ? path : "/");
  if (put(&s->unit, request, len) != 0) return GATEWAY_DEAD;
  return get_header(s);
}

enum class Verdict { kDropped, kKept, kReplaced };

// The value of a header line that begins with name (ignoring case), or
// nullptr.
const char* header_value(const char* line, const char* name) {
  return starts_with_nocase(line, name) ? line + std::strlen(name) : nullptr;
}

// The digits of a Content-Length value; -1 when there are none or they
// pass kBodyLengthLimit.
int64_t read_length(const char* v) {
  while (*v == ' ' || *v == '\t') ++v;
  if (*v < '0' || *v > '9') return -1;
  int64_t length = 0;
  for (; *v >= '0' && *v <= '9'; ++v)
    if ((length = length * 10 + (*v - '0')) > kBodyLengthLimit) return -1;
  return length;
}

// Notes how the body is framed; false for a length that cannot be read.
bool note_body(SessionEndpoint* b, const char* line) {
  const char* chunked = header_value(line, "transfer-encoding:");
  const char* length = header_value(line, "content-length:");
  const char* expect = header_value(line, "expect:");
  if (chunked != nullptr && find_nocase(chunked, "chunked") != nullptr) {
    b->body_kind = request_body::kChunked;
    b->chunk_state = 0;
    b->body_left = 0;
  } else if (length != nullptr) {
    int64_t n = read_length(length);
    if (n < 0) return false;
    if (b->body_kind != request_body::kChunked) {  // chunked framing wins
      b->body_kind = n > 0 ? request_body::kLength : request_body::kNone;
      b->body_left = n;
    }
  } else if (expect != nullptr) {
    b->expect_continue = find_nocase(expect, "100-continue") != nullptr;
  }
  return true;
}

// The header filter; a Host line that names the gateway's address is
// replaced in line. Expect is the gateway's to answer.
Verdict filter_header(GatewaySession* s, char* line, int* length) {
  static const char* const kDropped[] = {
      "keep-alive", "connection",   "referer",         "accept:",
      "user-agent", "content-type", "accept-encoding", "expect:"};
  for (const char* kw : kDropped)
    if (starts_with_nocase(line, kw)) return Verdict::kDropped;
  if (starts_with_nocase(line, "host") && s->host_address[0] != '\0' &&
      std::strstr(line, s->host_address) != nullptr) {
    *length = std::snprintf(line, kEndpointBufferSize, "Host: %s\r\n",
                            s->unit.unit_name);
    return Verdict::kReplaced;
  }
  return Verdict::kKept;
}

// The request is in: the unit has it all, or the gateway answers itself.
int finish_request(GatewaySession* s) {
  endpoint_end_phase(&s->browser);
  switch (s->browser.local_answer) {
    case local_answer::kRefresh:
      return refresh_reply(s);
    case local_answer::kOwnPage:
      return own_page_reply(s);
    case local_answer::kUriTooLong:
      put(&s->browser, kUriTooLong, sizeof kUriTooLong - 1);
      return GATEWAY_DEAD;
    default:
      return flush_buffer(&s->unit) == 0 ? WAIT_FOR_DISCONNECT : GATEWAY_DEAD;
  }
}

// The header block ends: a request without body is complete; a body gets
// a phase of its own, and the browser that waits for it is told to send.
int end_of_header(GatewaySession* s, const char* line, int n) {
  SessionEndpoint* b = &s->browser;
  if (asks_unit(s) && put(&s->unit, line, n) != 0) return GATEWAY_DEAD;
  if (b->body_kind == request_body::kNone) return finish_request(s);
  if (b->expect_continue &&
      (put(b, kContinue, sizeof kContinue - 1) != 0 || flush_buffer(b) != 0))
    return GATEWAY_DEAD;
  endpoint_mark_active(b, kBodyLimitMs);
  return get_body(s);
}

int get_header(GatewaySession* s) {
  SessionEndpoint* b = &s->browser;
  char line[kEndpointBufferSize];
  for (;;) {
    if (request_too_slow(s)) return GATEWAY_DEAD;
    bool rest = b->line_cut != 0;  // of a line longer than one read
    int n = read_line(b, line);
    if (n < 0) return GATEWAY_DEAD;
    if (n == 0) return GET_HEADER;
    bool forward = asks_unit(s);
    if (rest) {
      if (forward && b->drop_rest == 0 && put(&s->unit, line, n) != 0)
        return GATEWAY_DEAD;
      continue;
    }
    if (is_empty_line(line, n)) return end_of_header(s, line, n);
    if (!note_body(b, line)) {
      DebugLog("ip2ipx_machine():  bad Content-Length, ending session.\n");
      return GATEWAY_DEAD;
    }
    Verdict verdict = filter_header(s, line, &n);
    b->drop_rest = verdict != Verdict::kKept;
    if (forward && verdict != Verdict::kDropped && put(&s->unit, line, n) != 0)
      return GATEWAY_DEAD;
  }
}

// Where a chunked body stands, in chunk_state; body_left holds the size
// being read or the bytes of the chunk still due.
enum ChunkState {
  kSizeFirst,  // a size line begins
  kSize,       // in its hex digits
  kSizeRest,   // extensions, up to the line end
  kData,
  kDataEnd,      // the line end after a chunk's data
  kTrailerLine,  // a trailer line or the final empty line begins
  kTrailerRest,  // in a trailer line
  kLastLf,       // CR of the final empty line seen
  kChunksDone,
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// How many of the n bytes belong to the chunked body (all, unless it ends
// inside them); -1 when they do not make a chunked body.
int scan_chunked(SessionEndpoint* b, const char* data, int n) {
  int i = 0;
  while (i < n && b->chunk_state != kChunksDone) {
    char c = data[i];
    switch (b->chunk_state) {
      case kSizeFirst:
      case kSize:
        if (int v = hex_value(c); v >= 0) {
          b->body_left = b->body_left * 16 + v;
          if (b->body_left > kBodyLengthLimit) return -1;
          b->chunk_state = kSize;
        } else if (b->chunk_state == kSizeFirst) {
          return -1;
        } else {
          b->chunk_state = kSizeRest;
          continue;  // the same byte may end the line
        }
        break;
      case kSizeRest:
        if (c == '\n') b->chunk_state = b->body_left > 0 ? kData : kTrailerLine;
        break;
      case kData: {
        int64_t k = std::min<int64_t>(b->body_left, n - i);
        b->body_left -= k;
        i += static_cast<int>(k);
        if (b->body_left == 0) b->chunk_state = kDataEnd;
        continue;
      }
      case kDataEnd:
        if (c == '\n') b->chunk_state = kSizeFirst;
        break;
      case kTrailerLine:
        b->chunk_state = c == '\n'   ? kChunksDone
                         : c == '\r' ? kLastLf
                                     : kTrailerRest;
        break;
      case kLastLf:
        b->chunk_state = c == '\n' ? kChunksDone : kTrailerRest;
        break;
      case kTrailerRest:
        if (c == '\n') b->chunk_state = kTrailerLine;
        break;
    }
    ++i;
  }
  return i;
}

bool body_complete(const SessionEndpoint* b) {
  return b->body_kind == request_body::kChunked ? b->chunk_state == kChunksDone
                                                : b->body_left == 0;
}

// The body by its framing, however the browser paces it, within the
// request's bounds; it goes to the unit byte for byte.
int get_body(GatewaySession* s) {
  SessionEndpoint* b = &s->browser;
  char block[kBlockSize];
  while (!body_complete(b)) {
    if (request_too_slow(s)) return GATEWAY_DEAD;
    int wanted = kBlockSize;
    if (b->body_kind == request_body::kLength)
      wanted = static_cast<int>(std::min<int64_t>(wanted, b->body_left));
    int n = get_buffer(b, block, wanted);
    if (n < 0) return GATEWAY_DEAD;
    if (n == 0) {
      if (asks_unit(s) && flush_buffer(&s->unit) != 0) return GATEWAY_DEAD;
      if (!endpoint_quiet_too_long(b)) return GET_BODY;
      DebugLog("ip2ipx_machine():  request body stopped, ending session.\n");
      return GATEWAY_DEAD;
    }
    if (b->body_kind == request_body::kChunked) {
      if ((n = scan_chunked(b, block, n)) < 0) {
        DebugLog("ip2ipx_machine():  bad chunked body, ending session.\n");
        return GATEWAY_DEAD;
      }
    } else {
      b->body_left -= n;
    }
    if (asks_unit(s) && put(&s->unit, block, n) != 0) return GATEWAY_DEAD;
  }
  return finish_request(s);
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
