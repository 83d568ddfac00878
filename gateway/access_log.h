// The gateway's request log: one line per request on standard output,
//   <time> <client> <unit> <path> <status> <bytes> <milliseconds>
// with the time in UTC as 2026-12-07T22:50:01Z, the client's IPv4 address,
// the unit ("-" for the gateway's own pages and refused clients), the URL
// of the request line (bytes below 0x21 and 0x7F..0xFF written \xHH, so
// that a line is always one word per field), the answer's status ("-" when
// the browser got none) and the bytes it was sent.
//
// access_log_line() and answer_status() are pure. The log is off until
// set_access_log(true); log_request() writes nothing while it is off and
// is safe for concurrent use (a line is written whole).
#ifndef TAV_GATEWAY_ACCESS_LOG_H_
#define TAV_GATEWAY_ACCESS_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

struct RequestRecord {
  int64_t unix_ms;
  uint32_t client;  // network order
  std::string_view unit;
  std::string_view path;
  int status;  // 0 when there was no answer
  int64_t bytes;
  int64_t elapsed_ms;
};

// The log line, ending in a line feed.
std::string access_log_line(const RequestRecord& r);
// The status of an answer that begins with head ("HTTP/1.0 404 ..."); 0
// when head is not the start of a status line.
int answer_status(std::string_view head);

void set_access_log(bool on);
void log_request(const RequestRecord& r);

#endif  // TAV_GATEWAY_ACCESS_LOG_H_
