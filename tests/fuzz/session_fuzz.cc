// A whole session from any browser and unit byte streams: it ends in the
// request's time bounds, the unit gets an HTTP/1.0 request line and the
// browser an HTTP/1.0 answer, and a raw reply is relayed whole (below).
#include "gateway/refresh.h"
#include "gateway/text.h"
#include "tests/fuzz/fuzz.h"
#include "tests/gateway/fake_transport.h"

// The first line as the endpoint reads it: 1 to kLineLimit bytes, to a LF.
static std::string first_line(const std::string& reply) {
  size_t n = 1;
  while (n < reply.size() && n < kLineLimit && reply[n - 1] != '\n') ++n;
  return reply.substr(0, n);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fake::Outcome o = fake::session_from_bytes(data, size);
  // The bounds are looked at between reads: a stream that brings each
  // chunk without a wait may pass them by the reads of one line or block.
  int64_t browser_ms = o.browser.clock_ms - 1000000;
  fuzz::require(o.unit.streams ||
                browser_ms <= kPhaseLimitMs + kBodyLimitMs + kFirstWaitMs);
  // A name from the URL never breaks the Host line it may go into.
  fuzz::require(std::strpbrk(o.s.unit.unit_name, "\r\n") == nullptr);
  size_t end = o.to_unit.find('\n');
  fuzz::require(o.to_unit.empty() ||
                (end != std::string::npos && end >= 10 &&
                 o.to_unit.compare(end - 10, 11, " HTTP/1.0\r\n") == 0));
  if (equal_nocase_n(o.s.unit.unit_name, kRefreshSegment, 11)) return 0;
  // The answer, after the interim one a browser may have asked for.
  std::string answer = o.to_browser;
  if (answer.starts_with("HTTP/1.1 100 Continue\r\n\r\n")) answer.erase(0, 25);
  fuzz::require(answer.empty() || answer.compare(0, 8, "HTTP/1.0") == 0);
  // A raw reply without status line, ended by the unit closing in time.
  std::string reply;
  for (const std::string& chunk : o.unit.script) reply += chunk;
  std::string line = first_line(reply);
  bool answered = o.s.browser.state == request_state::WAIT_FOR_DISCONNECT;
  bool in_time = o.unit.clock_ms - 1000000 < kReplySilenceMs;
  fuzz::require(!answered || !in_time || !o.unit.close_at_end ||
                reply.empty() || starts_with_nocase(line.c_str(), "HTTP") ||
                starts_with_nocase(line.c_str(), "<html>") ||
                answer == "HTTP/1.0 200\r\nConnection: close\r\n\r\n" + reply);
  return 0;
}
