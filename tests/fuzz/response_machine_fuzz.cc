// A whole session from any browser and unit byte streams, seen from the
// response side: the browser gets an HTTP/1.0 answer, and a unit that
// answers without status line and not with HTML, then closes, has every
// byte it sent relayed unless it fell silent for kReplySilenceMs.
#include "gateway/refresh.h"
#include "gateway/text.h"
#include "tests/fuzz/fuzz.h"
#include "tests/gateway/fake_transport.h"

// The first line as the endpoint reads it: at least one character, up to
// the first line feed or 511 characters.
static std::string first_line(const std::string& reply) {
  size_t n = 1;
  while (n < reply.size() && n < kLineLimit && reply[n - 1] != '\n') ++n;
  return reply.substr(0, n);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fake::use_quiet_gateway();
  fake::Scripts scripts = fake::scripts_from_bytes(data, size);
  fake::Outcome o = fake::run_session(scripts);
  if (equal_nocase_n(o.s.unit.unit_name, kRefreshSegment, 11)) return 0;
  fuzz::require(o.to_browser.empty() ||
                o.to_browser.compare(0, 8, "HTTP/1.0") == 0);
  // A raw reply without status line, ended by the unit closing in time.
  std::string reply;
  for (const std::string& chunk : scripts.reply) reply += chunk;
  std::string line = first_line(reply);
  bool answered = o.s.browser.state == request_state::WAIT_FOR_DISCONNECT;
  bool in_time = o.unit.clock_ms - 1000000 < kReplySilenceMs;
  fuzz::require(!answered || !in_time || !scripts.unit_closes ||
                reply.empty() || starts_with_nocase(line.c_str(), "HTTP") ||
                starts_with_nocase(line.c_str(), "<html>") ||
                o.to_browser ==
                    "HTTP/1.0 200\r\nConnection: close\r\n\r\n" + reply);
  return 0;
}
