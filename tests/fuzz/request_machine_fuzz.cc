// A whole session from any browser and unit byte streams, seen from the
// request side: it ends, within the request's time bounds, what reaches the
// unit starts with an HTTP/1.0 request line, and the unit's name holds no
// line break.
#include "tests/fuzz/fuzz.h"
#include "tests/gateway/fake_transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fake::use_quiet_gateway();
  fake::Scripts scripts = fake::scripts_from_bytes(data, size);
  fake::Outcome o = fake::run_session(scripts);
  // The bounds are looked at between reads: a stream that brings each
  // chunk without a wait may pass them by the reads of one line or block.
  int64_t browser_ms = o.browser.clock_ms - 1000000;
  fuzz::require(scripts.streams ||
                browser_ms <= kPhaseLimitMs + kBodyLimitMs + kFirstWaitMs);
  // A name from the URL never breaks the Host line it may go into.
  fuzz::require(std::strpbrk(o.s.unit.unit_name, "\r\n") == nullptr);
  size_t end = o.to_unit.find('\n');
  fuzz::require(o.to_unit.empty() ||
                (end != std::string::npos && end >= 10 &&
                 o.to_unit.compare(end - 10, 11, " HTTP/1.0\r\n") == 0));
  return 0;
}
